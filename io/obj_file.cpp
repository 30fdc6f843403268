#include "io/obj_file.h"

#include "io/file_contents.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Appends one formatted line (every line of the file is far shorter than the buffer).
__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    out.append(line, size_t(length));
}

} // namespace

bool writeObjFile(const char* fileName, const char* comment, const Vector3* positions,
                  const TexCoord* texCoords, const Vector3* normals, int32_t N,
                  const Triangle* triangles, int32_t M, std::string& error) {
    std::string out;
    out = out + "# " + comment + "\n";
    for (int32_t i = 0; i < N; ++i)
        appendf(out, "v %.9g %.9g %.9g\n", positions[i].x, positions[i].y, positions[i].z);
    for (int32_t i = 0; i < N; ++i)
        appendf(out, "vt %.9g %.9g\n", texCoords[i].u, 1.0 - double(texCoords[i].v));
    for (int32_t i = 0; i < N; ++i)
        appendf(out, "vn %.9g %.9g %.9g\n", normals[i].x, normals[i].y, normals[i].z);
    for (int32_t t = 0; t < M; ++t) {
        const int32_t* c = triangles[t].index;
        appendf(out, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", c[0] + 1, c[0] + 1, c[0] + 1, c[1] + 1,
                c[1] + 1, c[1] + 1, c[2] + 1, c[2] + 1, c[2] + 1);
    }
    return writeFileContents(fileName, out.data(), out.size(), error);
}
