// The viewer's whole frame (camera, reference cube, face update and drawing, props, dots)
// for the committed face at 640 by 640, in an offscreen context with Mesa's software
// renderer, and face-poser's frame beside it. Run from the repository root, where data/ is.
#include "app/scene.h"
#include "app/viewer.h"
#include "tools/common/pose_mix.h"
#include "tools/common/region.h"
#include "tools/common/take_pose.h"
#include "tools/poser/poser.h"

#include <GL/osmesa.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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

// face-poser's posing on the lower lip's point (shown, or held in a drag): mirrored dragging,
// a region of two control edges coloured by weight, and the mix panel over a face mixed from
// two poses (a smile at 0.5, raised brows at 1); or all of it off, as before them.
constexpr int32_t benchPoint = 87, benchRegionSteps = 4;

void switchPosing(Poser& poser, bool on) {
    poser.mirrorDrag = poser.showMix = on;
    poser.regionSteps = on ? benchRegionSteps : 0;
    poser.regionCentre = benchPoint;
    const Pose& pose = poser.pose;
    std::vector<Vector3> committed(static_cast<size_t>(pose.count));
    for (int32_t i = 0; i < pose.count; ++i)
        committed[size_t(i)] = pose.rest[i] + pose.offsets[i];
    regionWeights(poser.regionWeights.get(), committed.data(), pose.count, poser.edges,
                  poser.edgeCount, benchPoint, float(poser.regionSteps) * poser.regionStep);
}

// The mix of the two poses on face-poser's pose, as its weight keys leave it.
void mixTwoPoses(Poser& poser) {
    const std::vector<ControlPointMove> smile = {{70, {-0.8f, 0.8f, 0.0f}},
                                                 {74, {0.8f, 0.8f, 0.0f}}};
    const std::vector<ControlPointMove> brows = {{41, {0.0f, 0.7f, 0.0f}},
                                                 {42, {0.0f, 0.5f, 0.0f}},
                                                 {44, {0.0f, 0.5f, 0.0f}},
                                                 {45, {0.0f, 0.7f, 0.0f}}};
    const MixTerm terms[2] = {{"brows", 1.0f, brows.data(), brows.size()},
                              {"smile", 0.5f, smile.data(), smile.size()}};
    std::vector<Vector3> mixed(static_cast<size_t>(poser.pose.count));
    mixOffsets(mixed.data(), poser.pose.count, terms, 2);
    const std::vector<MixWeight> weights = {{"brows", 1.0f}, {"smile", 0.5f}};
    editPose(poser.pose, mixed.data(), &weights);
    poser.library = {"brows", "smile"};
}

// face-poser's frame with its posing on against the same frame with it off, one of each in
// turn (the order switching every iteration) on the mixed face, eyes and dots on; while
// dragging, each frame follows one motion event of a held drag of the lip's point (a pixel
// up or down). The counter "posing/without" is the ratio of their total times, "posing_ms"
// and "without_ms" their mean frame times.
void posingAgainstWithout(benchmark::State& state, bool dragging) {
    ViewerState viewer;
    OffscreenScene* ready = poserReady(state, viewer, true, false);
    if (!ready)
        return;
    OffscreenScene& s = *ready;
    Poser& poser = s.poser;
    mixTwoPoses(poser);
    int32_t x = 0, y = 0;
    if (dragging) {
        drawPoserFrame(poser, s.poserScene, viewer); // the points facing the camera
        const Vector3& p = s.poserScene.controlPoints[benchPoint];
        const Vector4 o = viewer.camera.project({p.x, p.y, p.z, 1.0f});
        x = int32_t((o.x + 1.0f) * 0.5f * float(viewer.windowWidth));
        y = int32_t((1.0f - o.y) * 0.5f * float(viewer.windowHeight));
        poserMouseButton(poser, viewer, s.poserScene, 2, true, x, y);
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration withTime{}, withoutTime{};
    bool posingFirst = false;
    int32_t step = 1;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool posing = (turn == 0) == posingFirst;
            switchPosing(poser, posing);
            const Clock::time_point start = Clock::now();
            if (dragging) {
                step = -step;
                poserMotion(poser, viewer, s.poserScene, x, y + step);
            }
            drawPoserFrame(poser, s.poserScene, viewer);
            glFinish();
            (posing ? withTime : withoutTime) += Clock::now() - start;
        }
        posingFirst = !posingFirst;
    }
    if (dragging)
        poserMouseButton(poser, viewer, s.poserScene, 2, false, x, y);
    switchPosing(poser, false);
    resetPose(poser.pose);
    const double frames = double(std::max<int64_t>(1, int64_t(state.iterations())));
    state.counters["posing/without"] =
        std::chrono::duration<double>(withTime) / std::chrono::duration<double>(withoutTime);
    state.counters["posing_ms"] =
        std::chrono::duration<double, std::milli>(withTime).count() / frames;
    state.counters["without_ms"] =
        std::chrono::duration<double, std::milli>(withoutTime).count() / frames;
}

// A take played in face-poser against a mix held still, one frame of each in turn (the order
// switching every iteration) on two posers of the default face with its library: the take's
// frame moves on by a 60th of a second (its mix of the library at the frame's weights, made
// anew) and is drawn with its time bar and head turn; the mix's frame is drawn with the same
// weights (the take's first frame) mixed once, with its panel as "b" shows it while a user
// mixes. Eyes on, no dots. The counter "take/mix" is the ratio of their total times, "take_ms"
// and "mix_ms" their mean frame times, "tick_ms" the take's mean time to move on a frame (its
// mix made anew) before drawing.
void takeAgainstMix(benchmark::State& state) {
    ViewerState viewer;
    OffscreenScene* ready = poserReady(state, viewer, false, false);
    if (!ready)
        return;
    OffscreenScene& s = *ready;
    viewer.showEyes = true;
    static Scene takeScene;
    static Poser takePoser;
    static bool takeReady = false;
    std::string error;
    if (!takeReady) {
        std::fflush(stdout);
        const int savedOutput = dup(1), devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        takeReady = startPoser(takePoser, takeScene, "", nullptr, error) &&
                    loadPoserTake(takePoser, takeScene, "takes/hello.csv", error);
        std::fflush(stdout);
        dup2(savedOutput, 1);
        close(devNull);
        close(savedOutput);
        takePoser.drawText = drawGlyphs;
        takePoser.player.playing = true;
    }
    if (!takeReady)
        return state.SkipWithError(error.c_str());
    // The mix: the take's weights of its first frame, on face-poser's own pose.
    const std::vector<MixWeight> weights = takePoser.player.weights;
    std::vector<MixTerm> terms;
    takeFrameTerms(terms, takePoser.player.take, 0, takePoser.player.poses.data(),
                   takePoser.player.poseOf);
    std::vector<Vector3> mixed(static_cast<size_t>(s.poser.pose.count));
    mixOffsets(mixed.data(), s.poser.pose.count, terms.data(), terms.size());
    editPose(s.poser.pose, mixed.data(), &weights);
    s.poser.showMix = true;
    using Clock = std::chrono::steady_clock;
    Clock::duration takeTime{}, mixTime{}, tickTime{};
    bool takeFirst = false;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool takeTurn = (turn == 0) == takeFirst;
            const Clock::time_point start = Clock::now();
            if (takeTurn) {
                poserTick(takePoser, takeScene, 1.0 / 60.0);
                tickTime += Clock::now() - start;
                drawPoserFrame(takePoser, takeScene, viewer);
            } else {
                drawPoserFrame(s.poser, s.poserScene, viewer);
            }
            glFinish();
            (takeTurn ? takeTime : mixTime) += Clock::now() - start;
        }
        takeFirst = !takeFirst;
    }
    resetPose(s.poser.pose);
    s.poser.showMix = false;
    const double frames = double(std::max<int64_t>(1, int64_t(state.iterations())));
    state.counters["take/mix"] =
        std::chrono::duration<double>(takeTime) / std::chrono::duration<double>(mixTime);
    state.counters["take_ms"] =
        std::chrono::duration<double, std::milli>(takeTime).count() / frames;
    state.counters["mix_ms"] = std::chrono::duration<double, std::milli>(mixTime).count() / frames;
    state.counters["tick_ms"] =
        std::chrono::duration<double, std::milli>(tickTime).count() / frames;
}

void frameNoOverlays(benchmark::State& state) { frame(state, 0, false, false); }
void poserFrameNoOverlays(benchmark::State& state) { poserFrame(state, false, false); }
void poserFrameEyesDotsPicked(benchmark::State& state) { poserFrame(state, true, false); }
void poserFrameWeights(benchmark::State& state) { poserFrame(state, false, true); }
void poserAgainstViewerNoOverlays(benchmark::State& state) { poserAgainstViewer(state, false); }
void poserAgainstViewerEyesDotsPicked(benchmark::State& state) { poserAgainstViewer(state, true); }
void poserPosingAgainstWithout(benchmark::State& state) { posingAgainstWithout(state, false); }
void poserPosingDragAgainstWithout(benchmark::State& state) { posingAgainstWithout(state, true); }
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
        {"poserPosingAgainstWithout", poserPosingAgainstWithout},
        {"poserPosingDragAgainstWithout", poserPosingDragAgainstWithout},
        {"takeAgainstMix", takeAgainstMix},
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
