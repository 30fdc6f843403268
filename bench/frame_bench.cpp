// The viewer's whole frame (camera, reference cube, face update and drawing, props, dots)
// for the committed face at 640 by 640, in an offscreen context with Mesa's software
// renderer, and face-poser's frame beside it. Run from the repository root, where data/ is.
#include "app/scene.h"
#include "app/viewer.h"
#include "tools/poser/poser.h"

#include <GL/osmesa.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int windowSize = 640;

struct OffscreenScene {
    OSMesaContext context = nullptr;
    std::vector<unsigned char> pixels;
    ViewerState viewer;
    Scene scene;
    Scene poserScene; // face-poser's own, loaded the same way
    Poser poser;
    std::string error;
    bool ready = false;

    OffscreenScene() : pixels(static_cast<size_t>(windowSize) * windowSize * 4) {
        context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
        if (!context ||
            !OSMesaMakeCurrent(context, pixels.data(), GL_UNSIGNED_BYTE, windowSize, windowSize)) {
            error = "no OSMesa context";
            return;
        }
        initGLState();
        reshapeViewer(viewer, windowSize, windowSize);
        // The start-up lines go to /dev/null; the benchmark's report keeps standard output.
        std::fflush(stdout);
        const int savedOutput = dup(1);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        ready = loadScene(scene, error) && startPoser(poser, poserScene, "", nullptr, error);
        std::fflush(stdout);
        dup2(savedOutput, 1);
        close(devNull);
        close(savedOutput);
    }
};

OffscreenScene& offscreenScene() {
    static OffscreenScene scene;
    return scene;
}

// One frame with the given overlay flags, eyes and dots.
void frame(benchmark::State& state, uint32_t flags, bool eyes, bool dots) {
    OffscreenScene& s = offscreenScene();
    if (!s.ready) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    s.viewer.drawFlags = flags;
    s.viewer.showEyes = eyes;
    s.viewer.deformMode = dots;
    for (auto _ : state) {
        beginFrame(s.viewer);
        drawReferenceFrame();
        drawScene(s.scene, s.viewer);
        glFinish();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// GLUT's text drawing needs a GLUT window: each glyph here is what glutBitmapCharacter sends
// for one character of its 8 by 13 font (the pixel store saved and set, one glBitmap).
void drawGlyphs(const char* text) {
    static const GLubyte glyph[13] = {0x00, 0x3c, 0x42, 0x42, 0x7e, 0x42, 0x42,
                                      0x24, 0x18, 0x00, 0x00, 0x00, 0x00};
    for (; *text; ++text) {
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glBitmap(8, 13, 0.0f, 2.0f, 8.0f, 0.0f, glyph);
        glPopClientAttrib();
    }
}

// The shared scene made ready for face-poser's frame, its text drawn as above: the viewer
// state with eyes and dots or without, and in deformation mode the lower lip's control point
// shown as picked, with its line of text. Null (the benchmark skipped) when there is no scene.
OffscreenScene* poserReady(benchmark::State& state, ViewerState& viewer, bool eyesAndDots,
                           bool binding) {
    OffscreenScene& s = offscreenScene();
    if (!s.ready) {
        state.SkipWithError(s.error.c_str());
        return nullptr;
    }
    viewer = s.viewer;
    viewer.showEyes = viewer.deformMode = eyesAndDots;
    s.poser.shownPoint = eyesAndDots ? 87 : -1;
    s.poser.showBinding = binding;
    s.poser.drawText = drawGlyphs;
    return &s;
}

// face-poser's frame.
void poserFrame(benchmark::State& state, bool eyesAndDots, bool binding) {
    ViewerState viewer;
    OffscreenScene* ready = poserReady(state, viewer, eyesAndDots, binding);
    if (!ready)
        return;
    OffscreenScene& s = *ready;
    for (auto _ : state) {
        drawPoserFrame(s.poser, s.poserScene, viewer);
        glFinish();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// face-poser's frame against face-viewer's on the same scene, one frame of each in turn (the
// order switching every iteration), so that both meet the same load on a shared machine; the
// counter "poser/viewer" is the ratio of their total times.
void poserAgainstViewer(benchmark::State& state, bool eyesAndDots) {
    ViewerState viewer;
    OffscreenScene* ready = poserReady(state, viewer, eyesAndDots, false);
    if (!ready)
        return;
    OffscreenScene& s = *ready;
    ViewerState poserViewer = viewer;
    using Clock = std::chrono::steady_clock;
    Clock::duration viewerTime{}, poserTime{};
    bool poserFirst = false;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool poserTurn = (turn == 0) == poserFirst;
            const Clock::time_point start = Clock::now();
            if (poserTurn) {
                drawPoserFrame(s.poser, s.poserScene, poserViewer);
            } else {
                beginFrame(viewer);
                drawReferenceFrame();
                drawScene(s.poserScene, viewer);
            }
            glFinish();
            (poserTurn ? poserTime : viewerTime) += Clock::now() - start;
        }
        poserFirst = !poserFirst;
    }
    state.counters["poser/viewer"] =
        std::chrono::duration<double>(poserTime) / std::chrono::duration<double>(viewerTime);
}

void frameNoOverlays(benchmark::State& state) { frame(state, 0, false, false); }
void poserFrameNoOverlays(benchmark::State& state) { poserFrame(state, false, false); }
void poserFrameEyesDotsPicked(benchmark::State& state) { poserFrame(state, true, false); }
void poserFrameWeights(benchmark::State& state) { poserFrame(state, false, true); }
void poserAgainstViewerNoOverlays(benchmark::State& state) { poserAgainstViewer(state, false); }
void poserAgainstViewerEyesDotsPicked(benchmark::State& state) { poserAgainstViewer(state, true); }
void frameEyesAndDots(benchmark::State& state) { frame(state, 0, true, true); }
void frameControlMesh(benchmark::State& state) { frame(state, 1, false, false); }
void frameAttachments(benchmark::State& state) { frame(state, 2, false, false); }
void frameHintingSamples(benchmark::State& state) { frame(state, 4, false, false); }
void frameAllOverlays(benchmark::State& state) { frame(state, 7, true, true); }

// For comparison: the hinting samples' points and normals alone, first as the overlay sends
// them (one glBegin/glEnd pair per point and per line), then the same primitives batched into
// two pairs. The difference is the cost of immediate mode per primitive in Mesa.
void samplesOnePairEach(benchmark::State& state) {
    OffscreenScene& s = offscreenScene();
    const FaceModel& face = *s.scene.faceModel;
    for (auto _ : state) {
        for (int32_t i = 0; i < face.sampleCount; ++i) {
            const Vector3& p = face.samplePositions[i];
            const Vector3 q = p + face.sampleNormals[i];
            glColor3f(0.0f, 0.0f, 1.0f);
            glBegin(GL_POINTS);
            glVertex3fv(&p.x);
            glEnd();
            glColor3f(0.0f, 0.0f, 0.8f);
            glBegin(GL_LINES);
            glVertex3fv(&p.x);
            glVertex3fv(&q.x);
            glEnd();
        }
        glFinish();
    }
}

void samplesBatched(benchmark::State& state) {
    OffscreenScene& s = offscreenScene();
    const FaceModel& face = *s.scene.faceModel;
    for (auto _ : state) {
        glColor3f(0.0f, 0.0f, 1.0f);
        glBegin(GL_POINTS);
        for (int32_t i = 0; i < face.sampleCount; ++i)
            glVertex3fv(&face.samplePositions[i].x);
        glEnd();
        glColor3f(0.0f, 0.0f, 0.8f);
        glBegin(GL_LINES);
        for (int32_t i = 0; i < face.sampleCount; ++i) {
            const Vector3& p = face.samplePositions[i];
            const Vector3 q = p + face.sampleNormals[i];
            glVertex3fv(&p.x);
            glVertex3fv(&q.x);
        }
        glEnd();
        glFinish();
    }
}

// Every frame benchmark, in the order they run, timed in milliseconds of real time.
void registerFrameBenchmarks() {
    const std::pair<const char*, void (*)(benchmark::State&)> benchmarks[] = {
        {"frameNoOverlays", frameNoOverlays},
        {"frameEyesAndDots", frameEyesAndDots},
        {"poserFrameNoOverlays", poserFrameNoOverlays},
        {"poserFrameEyesDotsPicked", poserFrameEyesDotsPicked},
        {"poserFrameWeights", poserFrameWeights},
        {"poserAgainstViewerNoOverlays", poserAgainstViewerNoOverlays},
        {"poserAgainstViewerEyesDotsPicked", poserAgainstViewerEyesDotsPicked},
        {"frameControlMesh", frameControlMesh},
        {"frameAttachments", frameAttachments},
        {"frameHintingSamples", frameHintingSamples},
        {"frameAllOverlays", frameAllOverlays},
        {"samplesOnePairEach", samplesOnePairEach},
        {"samplesBatched", samplesBatched}};
    for (const auto& [name, function] : benchmarks)
        benchmark::RegisterBenchmark(name, function)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Registered before main runs, as BENCHMARK() registers.
const bool frameBenchmarksRegistered = (registerFrameBenchmarks(), true);

} // namespace

BENCHMARK_MAIN();
