#include "tools/inspect/binding_picture.h"

#include "app/binding_colour.h"
#include "app/viewer.h"
#include "face/face_model.h"
#include "io/image_file.h"

#include <GL/osmesa.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int pictureSide = 640; // the viewer's window
constexpr float background[3] = {0.12f, 0.12f, 0.12f};
// Shading: ambient part plus the part lit from the camera's direction (+z at start-up).
constexpr float ambientShade = 0.35f;
// The turn between the three views: a quarter, about the vertical axis.
constexpr float quarterTurn = 1.5707964f;

} // namespace

bool writeBindingPicture(const char* fileName, const FaceModel& model, const float* amplification,
                         bool threeViews, std::string& error) {
    OSMesaContext context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    DecodedImage view;
    allocateImage(view, pictureSide, pictureSide, 4);
    if (!context || !OSMesaMakeCurrent(context, view.pixels.get(), GL_UNSIGNED_BYTE, pictureSide,
                                       pictureSide)) {
        if (context)
            OSMesaDestroyContext(context);
        error = "no offscreen OpenGL context (OSMesa)";
        return false;
    }
    OSMesaPixelStore(OSMESA_Y_UP, 0); // rows top first, as in the PNG

    const int32_t N = model.renderVertexCount;
    std::vector<float> base(size_t(N) * 3), colours(size_t(N) * 3);
    bindingColours(base.data(), model.attachments.get(), N, amplification);

    const int viewCount = threeViews ? 3 : 1;
    DecodedImage picture;
    allocateImage(picture, pictureSide * viewCount, pictureSide, 4);
    for (int v = 0; v < viewCount; ++v) {
        ViewerState viewer;
        viewer.viewYaw = float(v) * quarterTurn;
        // The camera looks from (−sin yaw, 0, cos yaw); a normal facing it is lit fully.
        const Vector3 towardsCamera = {-std::sin(viewer.viewYaw), 0.0f, std::cos(viewer.viewYaw)};
        for (int32_t i = 0; i < N; ++i) {
            const float lit = std::max(0.0f, dot(model.renderNormals[i], towardsCamera));
            for (int c = 0; c < 3; ++c)
                colours[3 * size_t(i) + c] =
                    base[3 * size_t(i) + c] * (ambientShade + (1.0f - ambientShade) * lit);
        }
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
        // The view's rows into its third of the picture's rows.
        for (int y = 0; y < pictureSide; ++y)
            std::copy(&view.pixels[size_t(y) * pictureSide * 4],
                      &view.pixels[size_t(y + 1) * pictureSide * 4],
                      &picture.pixels[(size_t(y) * viewCount + v) * pictureSide * 4]);
    }
    OSMesaDestroyContext(context);
    return writePngFile(fileName, picture, error);
}
