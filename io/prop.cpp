#include "io/prop.h"

#include "io/file_contents.h"
#include "io/memory_budget.h"
#include "io/normals.h"
#include "io/text_scanner.h"

#include <cstring>
#include <utility>

namespace {

// Bytes per item while a prop loads: the reader's arrays and the Prop's copies of them (a
// position, a normal and a texture coordinate pair per vertex), and a face normal per
// triangle while the normals are made.
constexpr uint64_t vertexBytes = 2 * (sizeof(Vector3) * 2 + sizeof(TexCoord));
constexpr uint64_t triangleBytes = 2 * sizeof(Triangle) + sizeof(Vector3);

} // namespace

Prop::Prop(const Vector3* positions_, const Vector3* normals_, const TexCoord* texCoords_,
           int32_t N, const Triangle* triangles_, int32_t M)
    : vertexCount(N), positions(copyArray(positions_, N)), normals(copyArray(normals_, N)),
      texCoords(copyArray(texCoords_, N)), triangleCount(M), triangles(copyArray(triangles_, M)) {}

bool readPropBuffer(PropData& prop, const char* data, size_t size, const char* fileName,
                    std::string& error, uint64_t availableBytes) {
    TextScanner scanner = makeScanner(data, size, fileName, error, availableBytes);
    if (!checkTextStart(scanner))
        return false;

    PropData read;
    int32_t& N = read.vertexCount;
    int32_t& M = read.triangleCount;
    // Each vertex has five real tokens: a position and a texture coordinate pair.
    if (!readCount(N, scanner, "vertex count", {"vertex", "vertices"}, 5, vertexBytes))
        return false;
    read.positions.reset(new Vector3[N]);
    if (!readPoints(read.positions.get(), N, scanner, "positions"))
        return false;
    read.texCoords.reset(new TexCoord[N]);
    if (!readTexCoords(read.texCoords.get(), N, scanner, "texture coordinates"))
        return false;
    if (!readCount(M, scanner, "triangle count", {"triangle", "triangles"}, 3, triangleBytes))
        return false;
    read.triangles.reset(new Triangle[M]);
    if (!readTriangles(read.triangles.get(), M, N, true, scanner, "triangles", "prop"))
        return false;

    read.normals.reset(new Vector3[N]);
    computeMeshNormals(read.normals.get(), read.positions.get(), N, read.triangles.get(), M);
    prop = std::move(read);
    return true;
}

bool readPropFile(PropData& prop, const char* fileName, std::string& error) {
    FileContents contents;
    if (!openFileContents(contents, fileName, error))
        return false;
    return readPropBuffer(prop, contents.data, contents.size, fileName, error,
                          availableMemoryBytes());
}

bool loadProp(std::unique_ptr<Prop>& prop, const char* fileName, std::string& error) {
    PropData read;
    if (!readPropFile(read, fileName, error))
        return false;
    prop.reset(new Prop(read.positions.get(), read.normals.get(), read.texCoords.get(),
                        read.vertexCount, read.triangles.get(), read.triangleCount));
    return true;
}

bool writePropFile(const char* fileName, const Vector3* positions, const TexCoord* texCoords,
                   int32_t N, const Triangle* triangles, int32_t M, std::string& error,
                   RealFormat format) {
    std::string out;
    appendMeshSections(out, positions, texCoords, N, triangles, M, format);
    return writeFileContents(fileName, out.data(), out.size(), error);
}
