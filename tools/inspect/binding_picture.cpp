#include "tools/inspect/binding_picture.h"

#include "app/viewer.h"
#include "face/face_model.h"
#include "io/image_file.h"

#include <GL/osmesa.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int pictureSide = 640; // the viewer's window
constexpr float background[3] = {0.12f, 0.12f, 0.12f};
// Shading: ambient part plus the part lit from the camera's direction (+z at start-up).
constexpr float ambientShade = 0.35f;

} // namespace

const float unattachedColour[3] = {0.9f, 0.05f, 0.05f};

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
    DecodedImage picture;
    allocateImage(picture, pictureSide, pictureSide, 4);
    if (!context || !OSMesaMakeCurrent(context, picture.pixels.get(), GL_UNSIGNED_BYTE,
                                       pictureSide, pictureSide)) {
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

    OSMesaDestroyContext(context);
    return writePngFile(fileName, picture, error);
}
