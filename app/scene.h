// The scene of the viewer: the face model with its control points and skin texture, the
// four rigid props on their frames, and the control-point dragger; its start-up (with the
// progress lines and key bindings on standard output) and its drawing in every frame.
#pragma once

#include "app/dragger.h"
#include "app/prop_frame.h"
#include "app/viewer.h"
#include "face/face_model.h"
#include "io/prop.h"

#include <memory>
#include <string>

// Where a prop comes from and which control points carry it.
struct PropSlotSource {
    const char* name; // in messages: "black_th0"
    const char* propFile;
    const char* textureFile;
    int32_t first, second; // control points of the frame's first and second points
    int32_t third[3];      // the third point: control point third[0], or the centroid of all
    int32_t thirdCount;    // three (1 or 3)
    bool alwaysDrawn;      // blended in every frame; otherwise an eye, only while showEyes
};

constexpr int32_t propSlotCount = 4;
// In start-up and drawing order: the two rows of teeth, then the two eyes.
extern const PropSlotSource propSlotSources[propSlotCount];

// The control points that the props' frames read reach up to index 87.
constexpr int32_t minControlPointCount = 88;

// The face's files, relative to the working directory.
extern const char* const sceneModelFile;       // "data/retarget.model"
extern const char* const sceneSkinTextureFile; // "data/white_skin.tga"

// The path of one of the scene's files (sceneModelFile, a prop's files, ...) under folder:
// the file itself when folder is empty, otherwise folder + "/" + file (one slash).
std::string sceneFilePath(const std::string& folder, const char* file);

// face-viewer's key bindings, as loadScene prints them after "key bindings:".
constexpr int32_t viewerKeyLineCount = 6;
extern const char* const viewerKeyLines[viewerKeyLineCount];

// Prints an empty line, "key bindings:", the given lines, and an empty line, each flushed.
void printKeyBindings(const char* const* lines, int32_t count);

// The slot's name and the control points of its frame, for messages:
// "black_th0 (control points 70, 74, 24)", or for an eye
// "white_eye0 (control points 66, 67 and the centroid of 33, 34, 35)".
std::string propFrameText(const PropSlotSource& source);

struct PropSlot {
    std::unique_ptr<Prop> prop;
    uint32_t texture = 0;
    std::unique_ptr<PropFrame> frame;
    bool degenerate = false; // the frame was degenerate when the prop was last to be drawn
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

// The three frame points of a slot from the control points (at least minControlPointCount).
void propFramePoints(Vector3& A, Vector3& B, Vector3& C, const PropSlotSource& source,
                     const Vector3* controlPoints);

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
