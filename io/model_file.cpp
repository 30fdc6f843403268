#include "io/model_file.h"

#include "io/file_contents.h"
#include "io/memory_budget.h"
#include "io/normals.h"
#include "io/text_scanner.h"

#include <charconv>
#include <string_view>
#include <utility>

namespace {

// Bytes of the reader's arrays per item: a render vertex has a position, a texture coordinate
// pair and a normal; a render triangle also needs a face normal while the normals are made.
constexpr uint64_t renderVertexBytes = sizeof(Vector3) * 2 + sizeof(TexCoord);
constexpr uint64_t renderTriangleBytes = sizeof(Triangle) + sizeof(Vector3);

} // namespace

bool readModelBuffer(ModelData& model, const char* data, size_t size, const char* fileName,
                     std::string& error, uint64_t availableBytes) {
    TextScanner scanner = makeScanner(data, size, fileName, error, availableBytes);
    if (!checkTextStart(scanner))
        return false;

    // Everything is built here and handed over only when the whole file has been read.
    ModelData read;
    int32_t& N = read.renderVertexCount;
    int32_t& M = read.renderTriangleCount;
    int32_t& K = read.controlPointCount;
    int32_t& L = read.controlTriangleCount;

    // Each render vertex has five real tokens: a position and a texture coordinate pair.
    if (!readCount(N, scanner, "render vertex count", {"render vertex", "render vertices"}, 5,
                   renderVertexBytes))
        return false;
    read.renderPositions.reset(new Vector3[N]);
    if (!readPoints(read.renderPositions.get(), N, scanner, "render positions"))
        return false;
    read.renderTexCoords.reset(new TexCoord[N]);
    if (!readTexCoords(read.renderTexCoords.get(), N, scanner, "render texture coordinates"))
        return false;

    if (!readCount(M, scanner, "render triangle count", {"render triangle", "render triangles"}, 3,
                   renderTriangleBytes))
        return false;
    read.renderTriangles.reset(new Triangle[M]);
    if (!readTriangles(read.renderTriangles.get(), M, N, true, scanner, "render triangles",
                       "render mesh"))
        return false;

    if (!readCount(K, scanner, "control point count", {"control point", "control points"}, 3,
                   sizeof(Vector3)))
        return false;
    read.controlPoints.reset(new Vector3[K]);
    if (!readPoints(read.controlPoints.get(), K, scanner, "control points"))
        return false;

    if (!readCount(L, scanner, "control triangle count", {"control triangle", "control triangles"},
                   3, sizeof(Triangle)))
        return false;
    read.controlTriangles.reset(new Triangle[L]);
    if (!readTriangles(read.controlTriangles.get(), L, K, false, scanner, "control triangles",
                       "control mesh"))
        return false;
    // Anything after the last control triangle is ignored.

    read.renderNormals.reset(new Vector3[N]);
    computeMeshNormals(read.renderNormals.get(), read.renderPositions.get(), N,
                       read.renderTriangles.get(), M);
    model = std::move(read);
    return true;
}

bool readModelFile(ModelData& model, const char* fileName, std::string& error) {
    FileContents contents;
    if (!openFileContents(contents, fileName, error))
        return false;
    return readModelBuffer(model, contents.data, contents.size, fileName, error,
                           availableMemoryBytes());
}

namespace {

// std::to_chars writes what printf's "%.9g" and "%.4f" write, several times faster: a 1M
// vertex model's text is formatted in well under a second.
void appendReal(std::string& out, float x, RealFormat format) {
    char text[48];
    const std::to_chars_result end =
        format == RealFormat::nineDigits
            ? std::to_chars(text, text + sizeof text, x, std::chars_format::general, 9)
            : std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, 4);
    const std::string_view written(text, size_t(end.ptr - text));
    out += written == "-0.0000" ? std::string_view("0.0000") : written;
}

void appendInteger(std::string& out, int32_t i) {
    char text[16];
    out.append(text, std::to_chars(text, text + sizeof text, i).ptr);
}

void appendPoints(std::string& out, const Vector3* points, int32_t count, RealFormat format) {
    out += std::to_string(count) + '\n';
    for (int32_t i = 0; i < count; ++i) {
        appendReal(out, points[i].x, format);
        out += ' ';
        appendReal(out, points[i].y, format);
        out += ' ';
        appendReal(out, points[i].z, format);
        out += '\n';
    }
}

void appendTriangles(std::string& out, const Triangle* triangles, int32_t count, bool swapped) {
    out += std::to_string(count) + '\n';
    for (int32_t t = 0; t < count; ++t) {
        const int32_t* i = triangles[t].index;
        appendInteger(out, i[0]);
        out += ' ';
        appendInteger(out, i[swapped ? 2 : 1]);
        out += ' ';
        appendInteger(out, i[swapped ? 1 : 2]);
        out += '\n';
    }
}

} // namespace

void appendMeshSections(std::string& out, const Vector3* positions, const TexCoord* texCoords,
                        int32_t N, const Triangle* triangles, int32_t M, RealFormat format) {
    appendPoints(out, positions, N, format);
    for (int32_t i = 0; i < N; ++i) {
        appendReal(out, texCoords[i].u, format);
        out += ' ';
        appendReal(out, texCoords[i].v, format);
        out += '\n';
    }
    appendTriangles(out, triangles, M, true);
}

void appendControlSections(std::string& out, const Vector3* controlPoints, int32_t K,
                           const Triangle* controlTriangles, int32_t L, RealFormat format) {
    appendPoints(out, controlPoints, K, format);
    appendTriangles(out, controlTriangles, L, false);
}

bool writeModelFile(const char* fileName, const Vector3* renderPositions,
                    const TexCoord* renderTexCoords, int32_t N, const Triangle* renderTriangles,
                    int32_t M, const Vector3* controlPoints, int32_t K,
                    const Triangle* controlTriangles, int32_t L, std::string& error,
                    RealFormat format) {
    std::string out;
    appendMeshSections(out, renderPositions, renderTexCoords, N, renderTriangles, M, format);
    return writeModelFile(fileName, out, controlPoints, K, controlTriangles, L, error, format);
}

bool writeModelFile(const char* fileName, std::string& meshSections, const Vector3* controlPoints,
                    int32_t K, const Triangle* controlTriangles, int32_t L, std::string& error,
                    RealFormat format) {
    appendControlSections(meshSections, controlPoints, K, controlTriangles, L, format);
    return writeFileContents(fileName, meshSections.data(), meshSections.size(), error);
}
