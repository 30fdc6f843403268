#include "tools/inspect/binding_picture.h"

#include "app/viewer.h"
#include "face/face_model.h"
#include "io/file_contents.h"
#include "io/text_scanner.h"

#include <GL/osmesa.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int pictureSide = 640; // the viewer's window
constexpr float background[3] = {0.12f, 0.12f, 0.12f};
// Shading: ambient part plus the part lit from the camera's direction (+z at start-up).
constexpr float ambientShade = 0.35f;

bool lineError(std::string& error, const char* fileName, long line, const std::string& what) {
    error = std::string(fileName) + ", line " + std::to_string(line) + ": " + what;
    return false;
}

} // namespace

const float unattachedColour[3] = {0.9f, 0.05f, 0.05f};

bool readPoseFile(std::vector<ControlPointMove>& moves, const char* fileName,
                  int32_t controlPointCount, std::string& error) {
    FileContents contents;
    if (!openFileContents(contents, fileName, error))
        return false;
    // The scanner spans the file, so that its messages count lines from the file's start;
    // its end is moved to the end of each line read.
    TextScanner scanner = makeScanner(contents.data, contents.size, fileName, error);
    const char* const end = contents.data + contents.size;
    std::vector<ControlPointMove> read;
    long line = 1;
    for (const char* start = contents.data; start < end; ++line) {
        // Lines end in "\n", "\r\n" or a lone "\r", as the scanner counts them.
        const char* stop = start;
        while (stop < end && *stop != '\n' && *stop != '\r')
            ++stop;
        const char* next = stop;
        if (next < end)
            next += *next == '\r' && next + 1 < end && next[1] == '\n' ? 2 : 1;
        const char* token[4] = {};
        size_t length[4] = {}, fields = 0;
        for (const char* p = start; p < stop;) {
            if (isTokenSpace(*p)) {
                ++p;
                continue;
            }
            const char* q = p;
            while (q < stop && !isTokenSpace(*q))
                ++q;
            if (fields < 4) {
                token[fields] = p;
                length[fields] = size_t(q - p);
            }
            ++fields;
            p = q;
        }
        start = next;
        if (fields == 0 || *token[0] == '#')
            continue;
        if (fields != 4)
            return lineError(error, fileName, line,
                             "expected \"I DX DY DZ\", found " + std::to_string(fields) +
                                 " fields");
        ControlPointMove move;
        if (!parseIntegerToken(move.index, token[0], length[0]) || move.index < 0 ||
            move.index >= controlPointCount)
            return lineError(error, fileName, line,
                             "index \"" + std::string(token[0], std::min<size_t>(length[0], 40)) +
                                 "\" is not a control point (the model has " +
                                 std::to_string(controlPointCount) + ")");
        scanner.cursor = token[0] + length[0];
        scanner.end = stop;
        if (!readPoints(&move.delta, 1, scanner, "move"))
            return false;
        read.push_back(move);
    }
    moves.insert(moves.end(), read.begin(), read.end());
    return true;
}

bool writeObjFile(const char* fileName, const FaceModel& model, std::string& error) {
    std::FILE* file = std::fopen(fileName, "w");
    if (!file) {
        error = std::string(fileName) + ": cannot be written";
        return false;
    }
    std::fprintf(file, "# face-inspect: render mesh, %d vertices, %d triangles\n",
                 model.renderVertexCount, model.renderTriangleCount);
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        const Vector3& p = model.renderPositions[i];
        std::fprintf(file, "v %.9g %.9g %.9g\n", p.x, p.y, p.z);
    }
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        const TexCoord& t = model.renderTexCoords[i];
        std::fprintf(file, "vt %.9g %.9g\n", t.u, 1.0 - double(t.v));
    }
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        const Vector3& n = model.renderNormals[i];
        std::fprintf(file, "vn %.9g %.9g %.9g\n", n.x, n.y, n.z);
    }
    for (int32_t t = 0; t < model.renderTriangleCount; ++t) {
        const int32_t* c = model.renderTriangles[t].index;
        std::fprintf(file, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", c[0] + 1, c[0] + 1, c[0] + 1, c[1] + 1,
                     c[1] + 1, c[1] + 1, c[2] + 1, c[2] + 1, c[2] + 1);
    }
    const bool written = !std::ferror(file);
    if (std::fclose(file) != 0 || !written) {
        error = std::string(fileName) + ": cannot be written";
        return false;
    }
    return true;
}

void weightColour(float rgb[3], float weight) {
    static const float stops[3][3] = {
        {0.27f, 0.0f, 0.33f}, {0.13f, 0.57f, 0.55f}, {0.99f, 0.91f, 0.15f}};
    const float w = std::min(1.0f, std::max(0.0f, weight)) * 2.0f;
    const int low = w >= 1.0f ? 1 : 0;
    const float f = w - float(low);
    for (int c = 0; c < 3; ++c)
        rgb[c] = stops[low][c] + (stops[low + 1][c] - stops[low][c]) * f;
}

bool writeBindingPicture(const char* fileName, const FaceModel& model, std::string& error) {
    OSMesaContext context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    std::vector<uint8_t> buffer(size_t(pictureSide) * pictureSide * 4);
    if (!context ||
        !OSMesaMakeCurrent(context, buffer.data(), GL_UNSIGNED_BYTE, pictureSide, pictureSide)) {
        if (context)
            OSMesaDestroyContext(context);
        error = "no offscreen OpenGL context (OSMesa)";
        return false;
    }
    OSMesaPixelStore(OSMESA_Y_UP, 0); // rows top first, as in the PNG

    std::vector<float> colours(size_t(model.renderVertexCount) * 3);
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        const Attachment& a = model.attachments[i];
        float* rgb = &colours[3 * size_t(i)];
        if (a.subPatch >= 0)
            weightColour(rgb, a.weight);
        else
            std::copy(unattachedColour, unattachedColour + 3, rgb);
        const float lit = std::max(0.0f, model.renderNormals[i].z);
        for (int c = 0; c < 3; ++c)
            rgb[c] *= ambientShade + (1.0f - ambientShade) * lit;
    }

    ViewerState viewer;
    reshapeViewer(viewer, pictureSide, pictureSide);
    beginFrame(viewer);
    glClearColor(background[0], background[1], background[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, model.renderPositions.get());
    glColorPointer(3, GL_FLOAT, 0, colours.data());
    glDrawElements(GL_TRIANGLES, 3 * model.renderTriangleCount, GL_UNSIGNED_INT,
                   model.renderTriangles.get());
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glFinish();

    const bool written =
        stbi_write_png(fileName, pictureSide, pictureSide, 4, buffer.data(), pictureSide * 4) != 0;
    OSMesaDestroyContext(context);
    if (!written)
        error = std::string(fileName) + ": cannot be written";
    return written;
}
