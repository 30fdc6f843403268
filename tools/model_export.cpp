#include "tools/model_export.h"

#include "app/viewer.h"
#include "face/face_model.h"

#include <GL/osmesa.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr int pictureSide = 640; // the viewer's window
constexpr float background[3] = {0.12f, 0.12f, 0.12f};
// Shading: ambient part plus the part lit from the camera's direction (+z at start-up).
constexpr float ambientShade = 0.35f;

bool lineError(std::string& error, const char* fileName, int line, const std::string& what) {
    error = std::string(fileName) + ", line " + std::to_string(line) + ": " + what;
    return false;
}

} // namespace

const float unattachedColour[3] = {0.9f, 0.05f, 0.05f};

bool readPoseFile(std::vector<ControlPointMove>& moves, const char* fileName,
                  int32_t controlPointCount, std::string& error) {
    std::ifstream file(fileName);
    if (!file) {
        error = std::string(fileName) + ": cannot open (" + std::strerror(errno) + ")";
        return false;
    }
    std::vector<ControlPointMove> read;
    std::string text;
    for (int line = 1; std::getline(file, text); ++line) {
        std::istringstream fields(text);
        std::vector<std::string> field;
        for (std::string f; fields >> f;)
            field.push_back(f);
        if (field.empty() || field[0][0] == '#')
            continue;
        if (field.size() != 4)
            return lineError(error, fileName, line,
                             "expected \"I DX DY DZ\", found " + std::to_string(field.size()) +
                                 " fields");
        char* end = nullptr;
        const long index = std::strtol(field[0].c_str(), &end, 10);
        if (*end != '\0' || index < 0 || index >= controlPointCount)
            return lineError(error, fileName, line,
                             "index \"" + field[0] + "\" is not a control point (the model has " +
                                 std::to_string(controlPointCount) + ")");
        float delta[3];
        for (int c = 0; c < 3; ++c) {
            delta[c] = std::strtof(field[1 + c].c_str(), &end);
            if (*end != '\0' || end == field[1 + c].c_str() || !std::isfinite(delta[c]))
                return lineError(error, fileName, line,
                                 "\"" + field[1 + c] + "\" is not a finite number");
        }
        read.push_back({static_cast<int32_t>(index), {delta[0], delta[1], delta[2]}});
    }
    if (file.bad()) {
        error = std::string(fileName) + ": cannot be read";
        return false;
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
