#include "tools/inspect/binding_picture.h"

#include "app/viewer.h"
#include "face/face_model.h"
#include "io/image_file.h"
#include "tools/common/binding_colour.h"

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
// A framed camera's planes: the near one at this share of the nearest position's depth, the
// far one this much beyond the farthest; the near plane at least this share of the distance
// (a position on the axis in front of every other could otherwise set it at 0).
constexpr float nearShare = 0.5f;
constexpr float farShare = 1.5f;
constexpr float minNearShare = 1e-3f;

// The world-to-camera transform of view v turned about centre with the camera at centre
// itself (distance 0): camera coordinates relative to the point it turns about.
Matrix4 viewAbout(const Vector3& centre, int v) {
    ViewerState viewer;
    viewer.viewYaw = float(v) * quarterTurn;
    viewer.viewOffset = centre;
    viewer.cameraDistance = 0.0f;
    return Matrix4::inverse(computeCameraPose(viewer));
}

Vector3 transformPoint(const Matrix4& m, const Vector3& p) {
    const Vector4 q = m * Vector4{p.x, p.y, p.z, 1.0f};
    return {q.x, q.y, q.z};
}

// Whether the viewer's start-up camera frames the positions (see choosePictureFrame).
bool startUpFrames(const Vector3* positions, int32_t count, int viewCount) {
    const float spread = std::tan(0.5f * cameraFieldOfView) * (1.0f - pictureMargin);
    const float distance = ViewerState().cameraDistance;
    float low[2] = {1.0f, 1.0f}, high[2] = {-1.0f, -1.0f}; // the front view's extent
    for (int v = 0; v < viewCount; ++v) {
        const Matrix4 view = viewAbout(ViewerState().viewOffset, v);
        for (int32_t i = 0; i < count; ++i) {
            const Vector3 e = transformPoint(view, positions[i]);
            const float depth = distance - e.z;
            if (!(depth >= cameraNear && depth <= cameraFar && std::fabs(e.x) <= spread * depth &&
                  std::fabs(e.y) <= spread * depth))
                return false;
            if (v == 0) {
                const float x = e.x / depth, y = e.y / depth;
                low[0] = std::min(low[0], x), high[0] = std::max(high[0], x);
                low[1] = std::min(low[1], y), high[1] = std::max(high[1], y);
            }
        }
    }
    const float side = 2.0f * std::tan(0.5f * cameraFieldOfView);
    return std::max(high[0] - low[0], high[1] - low[1]) >= minStartUpSpan * side;
}

} // namespace

void choosePictureFrame(PictureFrame& frame, const Vector3* positions, int32_t count,
                        int viewCount) {
    if (startUpFrames(positions, count, viewCount)) {
        const ViewerState startUp;
        frame = {startUp.viewOffset, startUp.cameraDistance, cameraNear, cameraFar, true};
        return;
    }
    Vector3 low = positions[0], high = positions[0];
    for (int32_t i = 1; i < count; ++i) {
        const Vector3& p = positions[i];
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const Vector3 centre = (low + high) * 0.5f;
    // A position at (x, y, z) about the centre fits at distance d when max(|x|, |y|) is at
    // most spread · (d − z): d is the largest z + max(|x|, |y|) / spread over the views.
    const float spread = std::tan(0.5f * cameraFieldOfView) * (1.0f - pictureMargin);
    float distance = 0.0f, towards = -INFINITY, away = INFINITY;
    for (int v = 0; v < viewCount; ++v) {
        const Matrix4 view = viewAbout(centre, v);
        for (int32_t i = 0; i < count; ++i) {
            const Vector3 e = transformPoint(view, positions[i]);
            distance = std::max(distance, e.z + std::max(std::fabs(e.x), std::fabs(e.y)) / spread);
            towards = std::max(towards, e.z);
            away = std::min(away, e.z);
        }
    }
    if (!(distance > 0.0f)) // every position at the centre
        distance = ViewerState().cameraDistance;
    const float zNear = std::max(nearShare * (distance - towards), minNearShare * distance);
    frame = {centre, distance, zNear, farShare * (distance - away) + zNear, false};
}

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
    PictureFrame frame;
    choosePictureFrame(frame, model.renderPositions.get(), N, viewCount);
    DecodedImage picture;
    allocateImage(picture, pictureSide * viewCount, pictureSide, 4);
    for (int v = 0; v < viewCount; ++v) {
        ViewerState viewer;
        viewer.viewYaw = float(v) * quarterTurn;
        viewer.viewOffset = frame.centre;
        viewer.cameraDistance = frame.distance;
        // The camera looks from (−sin yaw, 0, cos yaw); a normal facing it is lit fully.
        const Vector3 towardsCamera = {-std::sin(viewer.viewYaw), 0.0f, std::cos(viewer.viewYaw)};
        for (int32_t i = 0; i < N; ++i) {
            const float lit = std::max(0.0f, dot(model.renderNormals[i], towardsCamera));
            for (int c = 0; c < 3; ++c)
                colours[3 * size_t(i) + c] =
                    base[3 * size_t(i) + c] * (ambientShade + (1.0f - ambientShade) * lit);
        }
        reshapeViewer(viewer, pictureSide, pictureSide);
        // The viewer's frame camera (beginFrame) with the frame's planes.
        viewer.cameraPose = computeCameraPose(viewer);
        viewer.camera.setPerspective(viewer.cameraPose, cameraFieldOfView, 1.0f, frame.zNear,
                                     frame.zFar);
        viewer.camera.loadMatrices();
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
