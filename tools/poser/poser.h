// face-poser: face-viewer's scene, navigation and dragging on a data folder of the user's,
// with a pose that can be seen, undone, saved and exported. This is the program's state and
// the plain operations behind its GLUT callbacks (tools/poser/face_poser.cpp only forwards
// events here), so tests drive all of it without a window.
//
// Picking: a right press picks among the control points that faced the camera in the last
// frame (control normal towards the eye), the nearest on screen within face-viewer's radius.
// The face is an open surface drawn with back faces culled, so a point on its far side is
// exactly one whose normal points away.
//
// A drag moves the picked point and, with a region (a radius above 0), its neighbours along
// the control mesh, by their weights; with mirrored dragging on, the partners of the moved
// points by the mirrored moves (tools/common/region.h, symmetry.h). Every moved point sits
// at rest + (offset + its move) while the drag lasts, and the whole drag is one edit. The
// mix sets the offsets to what they were less the mix at its old weights, plus the mix at
// its new ones (tools/common/pose_mix.h): a face mixed from rest is the mix exactly, and a
// drag made on top of a mix stays when a weight changes.
#pragma once

#include "app/scene.h"
#include "app/viewer.h"
#include "tools/common/symmetry.h"
#include "tools/poser/landmark_placing.h"
#include "tools/poser/pose.h"
#include "tools/poser/take_player.h"

#include <cstdint>
#include <string>
#include <vector>

// Names face-poser in its messages and warnings.
constexpr const char* poserProgram = "face-poser";

// Draws text in a bitmap font at the current raster position (GLUT's 8 by 13 font in
// face-poser; tests and benchmarks pass their own).
using DrawText = void (*)(const char* text);

// Glyph size of the text (GLUT_BITMAP_8_BY_13), for laying out lines.
constexpr int32_t textGlyphWidth = 8;
constexpr int32_t textLineHeight = 15;
// The picked control point's dot, larger than the others (app/dragger.h) and cyan.
constexpr float pickedPointSize = 9.0f;
// A control point counts as hidden where the drawn face lies in front of it along its line of
// sight by more than this (model units): the surface passes through every control point and
// the render mesh hangs within maxAttachDistance (0.5) of the surface, so a point just under
// its own skin stays visible, while one behind another part of the head (10 units and more
// on a head 16 units tall) is hidden.
constexpr float hiddenDepthTolerance = 1.0f;
// The dots of the points in the region around it, coloured by their weight.
constexpr float regionPointSize = 6.0f;
// The region's radius goes in steps of half the control mesh's mean edge length at rest, up
// to twenty edges.
constexpr int32_t regionStepsPerEdge = 2;
constexpr int32_t largestRegionSteps = 40;

// What a name typed after "n", "H" or "T" is for: a pose, its halves, or the file of a take.
enum class Naming { none, pose, halves, take };

// The take's time bar along the bottom of the window, in pixels: a press on it (or a drag
// along it) puts the take at that time.
constexpr int32_t takeBarHeight = 12;

struct Poser {
    std::string folder; // as the user gave it; empty for the working directory
    Pose pose;
    int32_t dragIndex = -1;        // the control point of the drag in progress, −1 for none
    int32_t shownPoint = -1;       // the point last picked (or changed by undo, redo), −1 none
    bool showBinding = false;      // "w": the face coloured by amplification, a legend
    bool showKeys = false;         // "?": the key list in the window
    bool shotPending = false;      // "p": the next frame is saved as a picture
    ArrayHolder<uint8_t> facing;   // K: 1 for the control points that faced the camera in the
                                   // last frame (the others are on the far side)
    ArrayHolder<uint8_t> visible;  // K: 1 for those of them that the face did not hide
    ArrayHolder<float> bindingRgb; // 3N: the render vertices' amplification colours
    // The pose library, FOLDER/poses/: the names of the poses it held when last read, in
    // order, and the one last saved, loaded or stepped to (−1 none).
    std::vector<std::string> library;
    int32_t libraryIndex = -1;
    bool naming = false;             // "n", "H": the keys type a name, Enter saves
    Naming namingFor = Naming::none; // the pose itself, or its two halves NAME-left, NAME-right
    std::string typedName;           // the name typed so far
    DrawText drawText = nullptr;     // null: no text is drawn
    // Symmetry: the pairs of the control mesh at rest; "m" mirrors every drag.
    MirrorPairs pairs;
    bool mirrorDrag = false;
    const Edge* edges = nullptr; // E: the control mesh's edges (the scene's face model's)
    int32_t edgeCount = 0;
    // Regions: the radius in steps (0: the picked point alone) of regionStep model units, and
    // the weights of the region around regionCentre (the point dragged, or else shown).
    int32_t regionSteps = 0;
    float regionStep = 0.0f;
    int32_t regionCentre = -1;
    ArrayHolder<float> regionWeights; // K
    ArrayHolder<Vector3> dragMoves;   // K: each point's move in the drag in progress
    // The mix panel ("b"): the library pose whose weight "9" and "0" change.
    bool showMix = false;
    int32_t mixIndex = 0;
    // The props as face-poser shows them (placeProps): the mixes of the weights
    // propMixWeights, of ARKit's expressions and of the jaw poses among them; and each prop's
    // centre at rest (the middle of its box), which an eye turns about.
    std::vector<MixWeight> propMixWeights;
    ArrayHolder<Vector3> rigMix, jawMix; // K each
    Vector3 propCentres[propSlotCount];
    // A take played on the face ("T", --take): while one is loaded the face shows its frame
    // and the pose waits, unchanged, until the take is closed.
    TakePlayer player;
    bool scrubbing = false;                 // a button went down on the time bar and is held
    Vector3 takePivot = {0.0f, 0.0f, 0.0f}; // the point the head turns about (headPivot)
    // Placing the face's landmarks ("F"): while on, a right press places the one asked for.
    LandmarkPlacing landmarks;
};

// Gives the scene's props face-poser's transforms for the current pose, as the rig of
// tools/common/prop_rig.h moves them: the control points less the mix of ARKit's expressions
// move them by their frames (drags and other poses, as in face-viewer, an eye about its own
// centre), the gaze poses in the mix turn the eyes, the jaw poses carry the lower teeth. Reads
// the pose library again only when the mix's weights have changed since the last call. A
// degenerate frame leaves the prop to face-viewer's drawing.
void placeProps(Poser& poser, Scene& scene);

// face-poser's own key bindings, printed after face-viewer's (viewerKeyLines).
constexpr int32_t poserKeyLineCount = 29;
extern const char* const poserKeyLines[poserKeyLineCount];

// What a key asks of the GLUT layer.
enum class PoserKey { redraw, quit };

// The checks that need no window: folder (empty for the working directory) is a folder, its
// data/ holds the ten files face-viewer reads, and poseFile (may be null) reads as a pose file
// (its indices are checked against the model later). False with one line in error.
bool checkPoserStart(std::string& error, const std::string& folder, const char* poseFile);

// Start-up with a current GL context: the scene from folder/data/ (loadSceneFrom, warnings
// named "face-poser"), the pose at rest or read from poseFile (may be null), then face-poser's
// key bindings on standard output, then the pose library's line (when folder/poses/ holds
// poses; each pose file refused there gives its line on standard error and is left out). False with
// one line in error (a file's message).
bool startPoser(Poser& poser, Scene& scene, const std::string& folder, const char* poseFile,
                std::string& error);

// Loads fileName as the take played on the face (from the library FOLDER/poses/ as it is
// now), paused at its first frame, and prints a line saying what it holds; the reader's
// warnings go to standard error. False with one line in error, nothing changed.
bool loadPoserTake(Poser& poser, Scene& scene, const char* fileName, std::string& error);

// "F": starts placing the landmarks on the folder (landmark_placing.h), or leaves it unsaved.
// Prints one line; one that cannot start gives its line on standard error.
void switchLandmarkPlacing(Poser& poser);

// A right press of the landmark mode met the drawn surface at point (model units): the
// landmark asked for is placed there when point lies on the head's render mesh (within
// landmarkPressTolerance), and when it is the last, the landmarks are saved to
// FOLDER/landmarks.txt and the command to import again printed. Else one line says no head
// is there. Returns whether it was placed.
bool landmarkPressed(Poser& poser, const Scene& scene, const Vector3& point);
// The depth buffer holds the surface to its precision; a press on the reference cube's line
// or on the background lies far from the render mesh.
constexpr float landmarkPressTolerance = 0.1f;

// Real time gone by (seconds) for a playing take. Returns whether the face changed.
bool poserTick(Poser& poser, Scene& scene, double seconds);

// Arrow and page keys (GLUT's codes): with a take loaded, Left and Right step a frame back and
// forward, Up and Down a second; otherwise face-viewer's (specialKeyViewer).
void poserSpecialKey(Poser& poser, ViewerState& state, Scene& scene, int key);

// A mouse button event: face-viewer's (mouseButtonViewer), picking only among the points that
// faced the camera; a right press in deformation mode shows what it picked (or clears what was
// shown). A drag ends, as one edit of the pose, when its point is no longer selected. The
// wheel (GLUT's buttons 3 and 4) makes the region larger or smaller, a drag's too.
void poserMouseButton(Poser& poser, ViewerState& state, Scene& scene, int button, bool pressed,
                      int32_t x, int32_t y);

// Mouse motion with a button held: face-viewer's (motionViewer), then the region and the
// mirrored points follow the dragged point.
void poserMotion(Poser& poser, ViewerState& state, Scene& scene, int32_t x, int32_t y);

// A key: face-poser's own ("s" save, "l" load, "o" export, "u" undo, "y" redo, "r" reset,
// "v" view reset, "p" picture, "w" amplification colours, "?" key list, "q" and Escape quit;
// the pose library's "n" name and save, "]" / "[" next / previous pose loaded, "x" delete
// it, "k" export with every library pose a shape key (the user's scene in a folder
// face-import made, else the render mesh as FOLDER/shapes.glb); symmetry's "m" mirrored dragging on
// and off, "M" the pose mirrored, "H" name its halves and save them; "," and "." the region smaller
// and larger; the mix's "b" panel, "{" / "}" previous / next library pose in it, "9" / "0" its
// weight down / up a step; the pose keys end a drag in progress first; a take's "T" load (a file
// name typed) or close, "g" play / pause, "L" loop, "R" head turn, "E" export as an animation,
// while a take is loaded the pose keys say that "T" closes it first; "F" landmark placing on or
// off, in which Enter keeps the guess, Backspace goes back one and Escape leaves), any other as
// face-viewer's (keyboardViewer). While a name is typed ("n", "H", "T"), every key goes to it:
// letters, digits, '-' and '_' (any printable character for a take's file) are added, Backspace
// takes one back, Enter saves the pose as FOLDER/poses/NAME.txt (or its halves as NAME-left.txt
// and NAME-right.txt, or loads the take) and Escape cancels. A file written or removed, a
// pose loaded, mirrored or mixed and mirrored dragging switched print one line on standard output;
// one that cannot be read or written, one line on standard error ("face-poser: <message>"), and the
// program goes on.
PoserKey poserKey(Poser& poser, ViewerState& state, Scene& scene, unsigned char key);

// The frame up to the buffer swap: face-viewer's (camera, reference cube, scene), the face
// coloured by amplification under "w", the points facing away dimmed and the shown point (and
// its partner while dragging is mirrored) enlarged in deformation mode, the region's points
// coloured by weight, the text (the shown point's index and displacement, mirroring and the
// region in deformation mode, the key list, the mix panel, the legend), a take's line and
// time bar at the bottom with the face turned as the take turns the head, and the picture that
// "p" asked for. GL state is left as face-viewer's frame leaves it.
void drawPoserFrame(Poser& poser, Scene& scene, ViewerState& state);
