// Reader of the face model file: a whitespace-separated token stream of nine sections,
//   1. render vertex count N        2. N positions x y z     3. N texture coordinates u v
//   4. render triangle count M      5. M triangles a b c (stored as a c b)
//   6. control point count K        7. K control points x y z
//   8. control triangle count L     9. L triangles a b c (stored as given)
// Integers follow the C %i rules (decimal, octal after 0, hexadecimal after 0x); reals
// are converted as atof does from tokens of at most 255 characters and rounded to float.
// Render normals are computed at load. Text after section 9 is ignored.
#pragma once

#include "geometry/vector.h"
#include "io/memory_budget.h"

#include <cstddef>
#include <string>

// The ten values of a model file, in the order the face model's constructor takes them.
struct ModelData {
    ArrayHolder<Vector3> controlPoints;     // K
    int32_t controlPointCount = 0;          // K
    ArrayHolder<Triangle> controlTriangles; // L, indices below K, as listed
    int32_t controlTriangleCount = 0;       // L
    ArrayHolder<Vector3> renderPositions;   // N
    ArrayHolder<Vector3> renderNormals;     // N, computed from the stored triangles
    ArrayHolder<TexCoord> renderTexCoords;  // N
    int32_t renderVertexCount = 0;          // N
    ArrayHolder<Triangle> renderTriangles;  // M, indices below N, file's a b c stored as a c b
    int32_t renderTriangleCount = 0;        // M
};

// Messages have the form "<file>, line <L>: <section>, item <i> (<component>): <what>",
// for instance
//   data/retarget.model, line 7: render triangles, item 2 (c): index 9 is outside the render
//   mesh (9 vertices)
// (one line), with the section named "render vertex count", "render positions", "render
// texture coordinates", "render triangle count", "render triangles", "control point count",
// "control points", "control triangle count" or "control triangles"; items count from 0 and
// count sections have no item. A file that cannot be read gives one line from
// openFileContents (io/file_contents.h): not found, not a regular file, too large. Refused
// with "<file>: <what>": a file that holds no token ("the file is empty"), that starts with a
// UTF-8 byte-order mark or looks like UTF-16. Refused with a line and section: a file that
// ends before its last section; a negative count, one larger than the rest of the file could
// hold, or one whose arrays need more memory than the budget (all checked before anything is
// allocated); an index outside its mesh; an integer token that is not wholly a 32-bit %i
// integer ("12abc", "1.5"; "08" says that a leading 0 makes it octal); a real token with no
// numeric prefix ("abc"), one whose value is not a finite float (nan, inf, 1e39), or one
// longer than 255 characters. Line numbers count "\n", "\r\n" and a lone "\r" as line ends.
//
// Reads the model file, with the memory available to the process (availableMemoryBytes) as
// the budget of the arrays. On success fills model and returns true. On a bad file returns
// false, leaves model untouched and sets error to one line naming the file, the section,
// the item and what is wrong. Never prints.
bool readModelFile(ModelData& model, const char* fileName, std::string& error);

// The same on a file's contents in memory; fileName only names it in messages, and the
// arrays may take at most availableBytes.
bool readModelBuffer(ModelData& model, const char* data, size_t size, const char* fileName,
                     std::string& error, uint64_t availableBytes = unlimitedMemory);

// How the writers print reals: with nine significant digits, so that every float reads
// back unchanged, or with four decimals (a value that prints as "-0.0000" is written
// "0.0000"), for files that people read and that must come out the same byte for byte
// whatever the last bits of a value.
enum class RealFormat { nineDigits, fourDecimals };

// Appends a mesh as the first five sections of a model file, which are the whole of a prop
// file: N, positions[0..N−1], texCoords[0..N−1], M, then triangles[0..M−1] (stored order,
// indices below N) with their last two corners swapped back to the file's order. One value
// group a line.
void appendMeshSections(std::string& out, const Vector3* positions, const TexCoord* texCoords,
                        int32_t N, const Triangle* triangles, int32_t M, RealFormat format);

// Writes a model file that readModelFile reads back to the same values (to the printed
// precision): the render mesh (appendMeshSections), then K, the control points, L and the
// control triangles as stored. The folder is made when missing. Returns false with one line
// in error ("<file>: cannot be written (<reason>)") when the file cannot be written.
bool writeModelFile(const char* fileName, const Vector3* renderPositions,
                    const TexCoord* renderTexCoords, int32_t N, const Triangle* renderTriangles,
                    int32_t M, const Vector3* controlPoints, int32_t K,
                    const Triangle* controlTriangles, int32_t L, std::string& error,
                    RealFormat format = RealFormat::nineDigits);

// Appends the last four sections of a model file: K, the control points, L and the control
// triangles as stored (so that meshSections + these is a whole model file's text).
void appendControlSections(std::string& out, const Vector3* controlPoints, int32_t K,
                           const Triangle* controlTriangles, int32_t L, RealFormat format);

// The same with the render mesh already formatted: meshSections holds appendMeshSections'
// text (formatted ahead, while the control mesh is made); the rest is appended to it.
bool writeModelFile(const char* fileName, std::string& meshSections, const Vector3* controlPoints,
                    int32_t K, const Triangle* controlTriangles, int32_t L, std::string& error,
                    RealFormat format = RealFormat::nineDigits);

// The same for the ten values of a model read or made in memory (normals are not written).
inline bool writeModelFile(const char* fileName, const ModelData& model, std::string& error,
                           RealFormat format = RealFormat::nineDigits) {
    return writeModelFile(fileName, model.renderPositions.get(), model.renderTexCoords.get(),
                          model.renderVertexCount, model.renderTriangles.get(),
                          model.renderTriangleCount, model.controlPoints.get(),
                          model.controlPointCount, model.controlTriangles.get(),
                          model.controlTriangleCount, error, format);
}
