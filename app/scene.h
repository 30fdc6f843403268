// The scene of the viewer: the face model with its control points and skin texture, the
// four rigid props on their frames, and the control-point dragger; its start-up (with the
// progress lines and key bindings on standard output) and its drawing in every frame.
#pragma once

#include "app/dragger.h"
#include "app/prop_frame.h"
#include "app/viewer.h"
#include "face/face_model.h"
#include "io/data_folder.h"
#include "io/prop.h"

#include <memory>
#include <string>

// face-viewer's key bindings, as loadScene prints them after "key bindings:".
constexpr int32_t viewerKeyLineCount = 6;
extern const char* const viewerKeyLines[viewerKeyLineCount];

// Prints an empty line, "key bindings:", the given lines, and an empty line, each flushed.
void printKeyBindings(const char* const* lines, int32_t count);

struct PropSlot {
    std::unique_ptr<Prop> prop;
    uint32_t texture = 0;
    std::unique_ptr<PropFrame> frame;
    bool degenerate = false; // the frame was degenerate when the prop was last to be drawn
    // A transform a tool gives the prop instead of its frame's (face-poser's eyes turn about
    // their own centres); face-viewer never gives one.
    bool transformGiven = false;
    Matrix4 givenTransform;
};

struct Scene {
    std::unique_ptr<FaceModel> faceModel;
    ArrayHolder<Vector3> controlPoints; // controlPointCount, moved in place by dragging
    int32_t controlPointCount = 0;
    uint32_t skinTexture = 0;
    PropSlot propSlots[propSlotCount];
    std::unique_ptr<ControlPointDragger> dragger;
    const char* program = "face-viewer"; // names the warnings on standard error
};

// Loads the scene from the files under data/, printing "computing attachments...",
// "loading props..." and face-viewer's key bindings to standard output (each line
// flushed): loadSceneFrom the working directory, then printKeyBindings. Returns
// false with one line in error when the model or a prop file is refused, the model has
// fewer than minControlPointCount control points, or memory runs out while loading the
// model or a prop ("out of memory while loading data/retarget.model"). A texture that fails
// to load, for want of memory too, is not an error: it gets one warning line on standard
// error, and its surface shows untextured. Needs a current GL context.
bool loadScene(Scene& scene, std::string& error);

// loadScene from folder/data/ (sceneFilePath: the working directory when folder is empty),
// without the key bindings. Messages name the files by those paths.
bool loadSceneFrom(Scene& scene, const std::string& folder, std::string& error);

// The scene's part of a frame: the face (updated from the current control points) with the
// overlays that drawFlags chooses, the teeth blended, the eyes while showEyes, and the
// control-point dots in deformation mode. A prop whose frame is degenerate is not drawn;
// the first frame in which it is (again) gets one warning line on standard error.
void drawScene(Scene& scene, const ViewerState& state);
