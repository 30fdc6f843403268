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

// Writes a model file that readModelFile reads back to the same values: the nine sections,
// reals with nine significant digits (every float reads back unchanged), render triangles
// (stored order, N indices) written with their last two corners swapped back to the file's
// order, control triangles as stored. Returns false with "<file>: cannot be written" in
// error when the file cannot be made or written.
bool writeModelFile(const char* fileName, const Vector3* renderPositions,
                    const TexCoord* renderTexCoords, int32_t N, const Triangle* renderTriangles,
                    int32_t M, const Vector3* controlPoints, int32_t K,
                    const Triangle* controlTriangles, int32_t L, std::string& error);
