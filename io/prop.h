// Rigid textured meshes that ride on the face (eyes and the like), read from prop files.
// A prop file is the first five sections of a model file, with the same token rules:
//   1. vertex count N   2. N positions x y z   3. N texture coordinates u v
//   4. triangle count M 5. M triangles a b c, indices below N, stored as a c b
// Nothing after section 5 is read. Normals are computed at load.
#pragma once

#include "geometry/vector.h"
#include "io/memory_budget.h"
#include "io/model_file.h"

#include <cstddef>
#include <memory>
#include <string>

// The six values of a prop file.
struct PropData {
    ArrayHolder<Vector3> positions;  // N
    ArrayHolder<Vector3> normals;    // N, computed from the stored triangles
    ArrayHolder<TexCoord> texCoords; // N
    int32_t vertexCount = 0;         // N
    ArrayHolder<Triangle> triangles; // M, indices below N, file's a b c stored as a c b
    int32_t triangleCount = 0;       // M
};

// A prop mesh that owns copies of its arrays and draws itself with client-side arrays.
class Prop {
  public:
    // Copies positions[0..N−1], normals[0..N−1], texCoords[0..N−1] and triangles[0..M−1];
    // the caller keeps its arrays.
    Prop(const Vector3* positions, const Vector3* normals, const TexCoord* texCoords, int32_t N,
         const Triangle* triangles, int32_t M);

    // Draws the M triangles with the current texture, matrices and material: enables the
    // vertex, normal and texture-coordinate client arrays, draws the indexed triangles, and
    // disables the three arrays again (they end disabled whatever they were before). Defined
    // with the drawing code (draw/mesh_draw.cpp); needs a current GL context.
    void draw() const;

    int32_t vertexCount;
    ArrayHolder<Vector3> positions;  // vertexCount, as in the file
    ArrayHolder<Vector3> normals;    // vertexCount, unit (zero where no triangle uses a vertex)
    ArrayHolder<TexCoord> texCoords; // vertexCount
    int32_t triangleCount;
    ArrayHolder<Triangle> triangles; // triangleCount, stored order (drawn as stored)
};

// Reads a prop file. On success fills prop and returns true; on a bad file returns false,
// leaves prop untouched and sets error to one line
//   "<file>, line <L>: <section>, item <i> (<component>): <what>"
// with the sections "vertex count", "positions", "texture coordinates", "triangle count" and
// "triangles", refused as the model reader refuses (see io/model_file.h); the memory budget
// (availableMemoryBytes) covers the reader's arrays and the copies a Prop makes of them.
// Never prints.
bool readPropFile(PropData& prop, const char* fileName, std::string& error);

// The same on a file's contents in memory; fileName only names it in messages, and the
// arrays may take at most availableBytes.
bool readPropBuffer(PropData& prop, const char* data, size_t size, const char* fileName,
                    std::string& error, uint64_t availableBytes = unlimitedMemory);

// Writes a prop file that readPropFile reads back: appendMeshSections of the mesh. The folder
// is made when missing. Returns false with one line in error ("<file>: cannot be written
// (<reason>)") when the file cannot be written.
bool writePropFile(const char* fileName, const Vector3* positions, const TexCoord* texCoords,
                   int32_t N, const Triangle* triangles, int32_t M, std::string& error,
                   RealFormat format = RealFormat::nineDigits);

// Reads the prop file and, on success, replaces the Prop that prop holds (destroying the
// old one) with a new one made from it, and returns true. On failure returns false with the
// reader's message in error and leaves prop as it was.
bool loadProp(std::unique_ptr<Prop>& prop, const char* fileName, std::string& error);
