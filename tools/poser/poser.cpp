#include "tools/poser/poser.h"

#include "face/amplification.h"
#include "io/expression_names.h"
#include "io/import_record.h"
#include "io/messages.h"
#include "io/obj_file.h"
#include "io/pose_file.h"
#include "tools/common/binding_colour.h"
#include "tools/common/pose_mix.h"
#include "tools/common/prop_rig.h"
#include "tools/common/region.h"
#include "tools/inspect/scene_export.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

constexpr int wheelUp = 3, wheelDown = 4; // freeglut's buttons of a turn of the wheel
// GLUT's codes of the arrow keys (GLUT_KEY_LEFT, _UP, _RIGHT, _DOWN).
constexpr int arrowLeft = 100, arrowUp = 101, arrowRight = 102, arrowDown = 103;
constexpr unsigned char escapeKey = 27;
constexpr unsigned char backspaceKey = 8, deleteKey = 127;

const char* const poseFileName = "pose.txt";
const char* const posedObjFileName = "posed.obj";
const char* const shapesFileName = "shapes"; // the scene with the library as shape keys

} // namespace

const char* const poserKeyLines[poserKeyLineCount] = {
    "\t's' save the pose to pose.txt in the folder",
    "\t'l' load the pose from pose.txt",
    "\t'o' write the posed render mesh to posed.obj",
    "\t'u' undo the last edit (a drag, reset, load, mirroring or weight)",
    "\t'y' redo",
    "\t'r' reset the pose to rest",
    "\t'v' reset the view (turn, distance, offset)",
    "\t'p' save the window as shot-NNN.png",
    "\t'w' colour by amplification",
    "\t'n' name the pose and save it in the pose library (Enter saves, Esc cancels)",
    "\t']' '[' load the next / previous pose of the library",
    "\t'x' delete the library's pose last saved or loaded",
    "\t'k' export the scene (or the face alone) with every library pose a shape key",
    "\t'm' mirrored dragging on / off: the partner moves by the mirrored move",
    "\t'M' mirror the pose: its left becomes its right",
    "\t'H' name the pose's halves and save them as NAME-left and NAME-right",
    "\t',' '.' (or the wheel) smaller / larger region dragged with the point",
    "\t'b' show the mix: the library's poses with their weights",
    "\t'{' '}' choose the previous / next pose of the mix",
    "\t'9' '0' lower / raise its weight by 0.1 (from -1 to 2)",
    "\t'T' play a take: type its file (Enter loads it); with one loaded, close it",
    "\t'g' play / pause the take; 'L' loop it on / off; 'R' its head turn on / off",
    "\t<Left> <Right> the take a frame back / forward, <Up> <Down> a second",
    "\t(a click or a drag on the bar at the bottom puts the take at that time)",
    "\t'E' export the take as an animation (take.glb, or the scene as 'k' writes it)",
    "\t'F' place the face's landmarks: a right press on the head puts the one asked for",
    "\t(Enter keeps its guess, Backspace goes back one, 'F' leaves; saved when all are placed)",
    "\t'?' show the keys in the window",
    "\t'q' <Esc> quit",
};

namespace {

void printLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void printError(const std::string& line) { refuse(poserProgram, line); }

std::string plural(int32_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

float regionRadius(const Poser& poser) { return float(poser.regionSteps) * poser.regionStep; }

// Whether a drag moves more than the picked point.
bool dragsMore(const Poser& poser) { return poser.mirrorDrag || poser.regionSteps > 0; }

// Whether the point dragged is on the plane with mirroring on: it then moves along the plane,
// not under the cursor.
bool pickedOnPlane(const Poser& poser) {
    return poser.mirrorDrag && poser.pairs.partners[poser.dragIndex] == poser.dragIndex;
}

// The region's weights around the point dragged, or else shown, over the pose as committed
// (the drag in progress left out), or none.
void updateRegion(Poser& poser) {
    const Pose& pose = poser.pose;
    const int32_t centre = poser.dragIndex >= 0 ? poser.dragIndex : poser.shownPoint;
    poser.regionCentre = centre;
    if (centre < 0)
        return;
    std::vector<Vector3> committed(size_t(pose.count));
    for (int32_t i = 0; i < pose.count; ++i)
        committed[size_t(i)] = pose.rest[i] + pose.offsets[i];
    regionWeights(poser.regionWeights.get(), committed.data(), pose.count, poser.edges,
                  poser.edgeCount, centre, regionRadius(poser));
}

// The points of the drag in progress after the dragged one moved: each other point, and the
// dragged one where mirroring keeps it on the plane, at rest + (offset + its move).
void followDrag(Poser& poser) {
    Pose& pose = poser.pose;
    const int32_t picked = poser.dragIndex;
    if (picked < 0)
        return;
    const Vector3 delta = pose.points[picked] - (pose.rest[picked] + pose.offsets[picked]);
    if (dragsMore(poser))
        regionMoves(poser.dragMoves.get(), poser.regionWeights.get(),
                    poser.mirrorDrag ? poser.pairs.partners.get() : nullptr, pose.count, picked,
                    delta);
    else // today's drag: the others back where they were (a region taken back by the wheel)
        std::fill(poser.dragMoves.get(), poser.dragMoves.get() + pose.count,
                  Vector3{0.0f, 0.0f, 0.0f});
    const bool pickedFollows = pickedOnPlane(poser);
    for (int32_t i = 0; i < pose.count; ++i)
        if (i != picked || pickedFollows)
            pose.points[i] = pose.rest[i] + (pose.offsets[i] + poser.dragMoves[i]);
}

// Commits the drag whose point is no longer selected (with what moved along, as one edit),
// and starts following a new one.
void syncDrag(Poser& poser, const ViewerState& state) {
    Pose& pose = poser.pose;
    if (poser.dragIndex >= 0 && state.selectedPoint != poser.dragIndex) {
        const int32_t picked = poser.dragIndex;
        if (dragsMore(poser)) {
            std::vector<Vector3> target(size_t(pose.count));
            for (int32_t i = 0; i < pose.count; ++i)
                target[size_t(i)] = pose.offsets[i] + poser.dragMoves[i];
            if (!pickedOnPlane(poser)) // where the dragger left it, as commitDrag takes it
                target[size_t(picked)] = pose.points[picked] - pose.rest[picked];
            editPose(pose, target.data(), nullptr);
        } else {
            commitDrag(pose, picked);
        }
        poser.dragIndex = -1;
        updateRegion(poser);
    }
    if (state.selectedPoint >= 0 && poser.dragIndex < 0) {
        poser.dragIndex = state.selectedPoint;
        std::fill(poser.dragMoves.get(), poser.dragMoves.get() + pose.count,
                  Vector3{0.0f, 0.0f, 0.0f});
        updateRegion(poser);
    }
}

// The region a step larger or smaller; a drag in progress takes it at once.
void stepRegion(Poser& poser, int32_t step) {
    const int32_t steps = std::min(largestRegionSteps, std::max(0, poser.regionSteps + step));
    if (steps == poser.regionSteps)
        return;
    poser.regionSteps = steps;
    updateRegion(poser);
    followDrag(poser);
    char line[96];
    std::snprintf(line, sizeof line, "region radius: %.1f control edges (%.3g model units)",
                  double(steps) / regionStepsPerEdge, double(regionRadius(poser)));
    printLine(line);
}

void savePoseKey(const Poser& poser) {
    const std::string file = sceneFilePath(poser.folder, poseFileName);
    std::string error;
    if (!savePose(poser.pose, file.c_str(), error))
        return printError(error);
    printLine("saved the pose (" + plural(movedPointCount(poser.pose), "moved control point") +
              ") to " + file);
}

void loadPoseKey(Poser& poser) {
    const std::string file = sceneFilePath(poser.folder, poseFileName);
    std::string error;
    bool changed = false;
    if (!loadPose(poser.pose, changed, file.c_str(), error))
        return printError(error);
    printLine("loaded the pose (" + plural(movedPointCount(poser.pose), "moved control point") +
              ") from " + file);
}

// The render mesh after one update from the current control points, written as
// `face-inspect --export-obj` writes it (the same comment line too), so that face-inspect
// given the saved pose writes the same bytes.
void exportKey(const Poser& poser, Scene& scene) {
    FaceModel& face = *scene.faceModel;
    face.update(face.renderPositions.get(), face.renderNormals.get(), scene.controlPoints.get());
    const std::string file = sceneFilePath(poser.folder, posedObjFileName);
    const std::string counts = std::to_string(face.renderVertexCount) + " vertices, " +
                               std::to_string(face.renderTriangleCount) + " triangles";
    const std::string comment = "face-inspect: render mesh, " + counts;
    std::string error;
    if (!writeObjFile(file.c_str(), comment.c_str(), face.renderPositions.get(),
                      face.renderTexCoords.get(), face.renderNormals.get(), face.renderVertexCount,
                      face.renderTriangles.get(), face.renderTriangleCount, error))
        return printError(error);
    printLine("wrote the posed render mesh (" + counts + ") to " + file);

    // A folder that face-import made: the user's own scene too, in its format, place, size
    // and vertex order, as face-inspect --export-scene writes it.
    const std::string recordFile = sceneFilePath(poser.folder, importRecordFile);
    struct stat info;
    if (stat(recordFile.c_str(), &info) != 0)
        return;
    ImportRecord record;
    if (!readImportRecord(record, recordFile.c_str(), error))
        return printError(error);
    std::string why;
    // An OBJ scene would take the posed render mesh's name: it is posed-scene.obj.
    const std::string extension = sceneExtensionFor(record.source, why);
    const std::string posedScene = sceneFilePath(
        poser.folder, ((extension == ".obj" ? "posed-scene" : "posed") + extension).c_str());
    // The moves measured from one update at rest (as face-inspect measures them), so that a
    // vertex the pose does not reach keeps its position exactly.
    face.update(face.renderPositions.get(), face.renderNormals.get(), poser.pose.rest.get());
    const std::vector<Vector3> restPositions(face.renderPositions.get(),
                                             face.renderPositions.get() + face.renderVertexCount),
        restNormals(face.renderNormals.get(), face.renderNormals.get() + face.renderVertexCount);
    face.update(face.renderPositions.get(), face.renderNormals.get(), scene.controlPoints.get());
    if (!exportScene(posedScene.c_str(), record, restPositions.data(), restNormals.data(),
                     face.renderPositions.get(), face.renderNormals.get(), face.renderVertexCount,
                     nullptr, 0, error))
        return printError(error);
    printLine("wrote " + record.source + "'s scene with the posed mesh to " + posedScene +
              (why.empty() ? "" : " (" + why + ")"));
}

std::string libraryFolder(const Poser& poser) {
    return sceneFilePath(poser.folder, poseLibraryFolder);
}

// Reads the library's names again, each refused pose file a line on standard error; the
// current pose stays current when it is still there.
void readLibrary(Poser& poser, std::vector<NamedPose>& poses) {
    const std::string current =
        poser.libraryIndex >= 0 ? poser.library[size_t(poser.libraryIndex)] : std::string();
    std::vector<std::string> refusals;
    std::string error;
    if (!readPoseLibrary(poses, refusals, libraryFolder(poser), poser.pose.count, error))
        refusals.push_back(error);
    for (const std::string& line : refusals)
        printError(line);
    poser.library.clear();
    poser.libraryIndex = -1;
    for (const NamedPose& pose : poses) {
        if (pose.name == current)
            poser.libraryIndex = int32_t(poser.library.size());
        poser.library.push_back(pose.name);
    }
}

void saveNamedPose(Poser& poser) {
    poser.naming = false;
    if (!validPoseName(poser.typedName))
        return printError("\"" + poser.typedName +
                          "\" is not a pose name (1 to 64 letters, digits, '-' or '_')");
    const std::string file = libraryPoseFile(libraryFolder(poser), poser.typedName);
    const bool known = std::find(poser.library.begin(), poser.library.end(), poser.typedName) !=
                       poser.library.end();
    std::string error;
    if (!savePose(poser.pose, file.c_str(), error))
        return printError(error);
    std::vector<NamedPose> poses;
    poser.libraryIndex = -1;
    readLibrary(poser, poses);
    for (size_t k = 0; k < poser.library.size(); ++k)
        if (poser.library[k] == poser.typedName)
            poser.libraryIndex = int32_t(k);
    printLine(std::string(known ? "replaced" : "saved") + " the pose \"" + poser.typedName +
              "\" (" + plural(movedPointCount(poser.pose), "moved control point") + ") in " + file);
}

const char* const halfSuffixes[2] = {"-left", "-right"};

// "H", then Enter: the pose's left and right halves saved as NAME-left and NAME-right.
void saveHalves(Poser& poser) {
    poser.naming = false;
    const std::string left = poser.typedName + halfSuffixes[0];
    const std::string right = poser.typedName + halfSuffixes[1];
    if (poser.typedName.empty() || !validPoseName(right))
        return printError("\"" + poser.typedName +
                          "\" is not a name for two halves (1 to 58 letters, digits, '-' or '_')");
    const Pose& pose = poser.pose;
    std::vector<Vector3> halves[2] = {std::vector<Vector3>(size_t(pose.count)),
                                      std::vector<Vector3>(size_t(pose.count))};
    splitOffsets(halves[0].data(), halves[1].data(), pose.offsets.get(), pose.rest.get(),
                 poser.pairs);
    std::string files[2], error;
    int32_t moved[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        files[k] = libraryPoseFile(libraryFolder(poser), k == 0 ? left : right);
        if (!savePoseOffsets(halves[k].data(), pose.count, files[k].c_str(), error))
            return printError(error);
        for (const Vector3& d : halves[k])
            moved[k] += d == Vector3{0.0f, 0.0f, 0.0f} ? 0 : 1;
    }
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    printLine("saved the pose's halves \"" + left + "\" (" +
              plural(moved[0], "moved control point") + ") in " + files[0] + " and \"" + right +
              "\" (" + plural(moved[1], "moved control point") + ") in " + files[1]);
}

// The scene's control points as the take's frame shows them (rest + the frame's mix), or,
// without a take, as the pose has them.
void showFaceOf(Poser& poser, Scene& scene) {
    const Pose& pose = poser.pose;
    const bool take = !poser.player.file.empty();
    for (int32_t i = 0; i < pose.count; ++i)
        scene.controlPoints[i] = pose.rest[i] + (take ? poser.player.offsets[i] : pose.offsets[i]);
}

// A key while a take's file name is typed: any printable character, Backspace, Enter loads
// it, Escape gives up.
void takeFileKey(Poser& poser, Scene& scene, unsigned char key) {
    if (key == '\r' || key == '\n') {
        poser.naming = false;
        std::string error;
        if (!loadPoserTake(poser, scene, poser.typedName.c_str(), error))
            printError(error);
        return;
    }
    if (key == escapeKey) {
        poser.naming = false;
        return printLine("no take was loaded");
    }
    if (key == backspaceKey || key == deleteKey) {
        if (!poser.typedName.empty())
            poser.typedName.pop_back();
        return;
    }
    if (key >= ' ' && key < deleteKey && poser.typedName.size() < 4096)
        poser.typedName += char(key);
}

// "E": the take as an animation: the render mesh (the default face) as FOLDER/take.glb, or
// the user's scene as "k" writes it, with every library pose a shape key.
void exportTakeKey(Poser& poser, Scene& scene) {
    const TakePlayer& player = poser.player;
    FaceModel& model = *scene.faceModel;
    const Vector3* rest = poser.pose.rest.get();
    const Vector3 pivot = poser.takePivot;
    const std::string name = std::filesystem::path(player.file).filename().string();
    const std::string recordFile = sceneFilePath(poser.folder, importRecordFile);
    std::string error;
    SceneAnimation animation;
    struct stat info;
    if (stat(recordFile.c_str(), &info) != 0) {
        const std::string file = sceneFilePath(poser.folder, "take.glb");
        takeAnimation(animation, name, player.take, player.poses.data(), player.poses.size(),
                      nullptr, pivot, player.headTurn);
        if (!exportRenderShapes(file.c_str(), model, rest, player.poses.data(), player.poses.size(),
                                poser.folder.c_str(), error, &animation))
            return printError(error);
        return printLine("wrote the face with the take " + name + " as an animation (" +
                         plural(int32_t(animation.times.size()), "key") + ") to " + file);
    }
    ImportRecord record;
    if (!readImportRecord(record, recordFile.c_str(), error))
        return printError(error);
    takeAnimation(animation, name, player.take, player.poses.data(), player.poses.size(), &record,
                  pivot, player.headTurn);
    const std::string file = sceneFilePath(poser.folder, "take.glb");
    if (!exportShapeScene(file.c_str(), record, model, rest, player.poses.data(),
                          player.poses.size(), error, &animation))
        return printError(error);
    printLine("wrote " + record.source + "'s scene with the take " + name + " as an animation (" +
              plural(int32_t(animation.times.size()), "key") + ") to " + file);
}

// The keys of a take: 'T' (close), 'g', 'L', 'R', 'E'.
void takeKey(Poser& poser, Scene& scene, unsigned char key) {
    TakePlayer& player = poser.player;
    if (player.file.empty())
        return printLine("no take is loaded: 'T' loads one");
    switch (key) {
    case 'T':
        printLine("closed the take " + player.file);
        closeTake(player);
        showFaceOf(poser, scene);
        break;
    case 'g':
        if (!player.playing && !player.loop && player.frame == player.take.frameCount - 1)
            seekTake(player, 0.0); // played to its end: again from the start
        player.playing = !player.playing;
        showFaceOf(poser, scene);
        break;
    case 'L':
        player.loop = !player.loop;
        break;
    case 'R':
        player.headTurn = !player.headTurn;
        if (player.take.rotations.empty())
            printLine("the take " + player.file + " gives no head rotation");
        break;
    case 'E':
        exportTakeKey(poser, scene);
        break;
    }
}

// A key while a name is typed: the name grows, shrinks, is saved or given up.
void nameKey(Poser& poser, Scene& scene, unsigned char key) {
    if (poser.namingFor == Naming::take)
        return takeFileKey(poser, scene, key);
    const bool halves = poser.namingFor == Naming::halves;
    if (key == '\r' || key == '\n')
        return halves ? saveHalves(poser) : saveNamedPose(poser);
    if (key == escapeKey) {
        poser.naming = false;
        return printLine("the pose was not saved");
    }
    if (key == backspaceKey || key == deleteKey) {
        if (!poser.typedName.empty())
            poser.typedName.pop_back();
        return;
    }
    const std::string grown = poser.typedName + char(key);
    if (validPoseName(halves ? grown + halfSuffixes[1] : grown))
        poser.typedName = grown;
}

// "]" and "[": the next or previous library pose (from the first or the last when none is
// current), loaded as one edit.
void stepLibrary(Poser& poser, int32_t step) {
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    const int32_t count = int32_t(poses.size());
    if (count == 0)
        return printLine("the pose library " + libraryFolder(poser) + " holds no poses");
    const int32_t k = poser.libraryIndex < 0 ? (step > 0 ? 0 : count - 1)
                                             : (poser.libraryIndex + step + count) % count;
    poser.libraryIndex = k;
    const NamedPose& pose = poses[size_t(k)];
    const ArrayHolder<Vector3> target(new Vector3[poser.pose.count]());
    applyMoves(target.get(), pose.moves.data(), pose.moves.size());
    // The pose whole is the mix of it alone at weight 1.
    const std::vector<MixWeight> mix = {{pose.name, 1.0f}};
    editPose(poser.pose, target.get(), &mix);
    printLine("loaded the pose \"" + pose.name + "\" (" + std::to_string(k + 1) + " of " +
              std::to_string(count) + ", " +
              plural(movedPointCount(poser.pose), "moved control point") + ")");
}

void deleteLibraryPose(Poser& poser) {
    if (poser.libraryIndex < 0)
        return printLine("no library pose to delete: save one with 'n' or load one with ']'");
    const std::string name = poser.library[size_t(poser.libraryIndex)];
    const std::string file = libraryPoseFile(libraryFolder(poser), name);
    if (std::remove(file.c_str()) != 0)
        return printError(file + ": cannot be removed (" + std::strerror(errno) + ")");
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    printLine("deleted the pose \"" + name + "\" (" + file + "); " +
              plural(int32_t(poses.size()), "pose") + " left in the library");
}

// "k": the user's scene at rest with every library pose a shape key, named after its file.
void exportShapesKey(Poser& poser, Scene& scene) {
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    if (poses.empty())
        return printLine("the pose library " + libraryFolder(poser) +
                         " holds no poses to export as shape keys");
    const std::string recordFile = sceneFilePath(poser.folder, importRecordFile);
    ImportRecord record;
    std::string error;
    struct stat info;
    if (stat(recordFile.c_str(), &info) != 0) {
        // No scene of the user's (the default face): the render mesh itself, as glTF.
        const std::string file =
            sceneFilePath(poser.folder, (shapesFileName + std::string(".glb")).c_str());
        if (!exportRenderShapes(file.c_str(), *scene.faceModel, poser.pose.rest.get(), poses.data(),
                                poses.size(), poser.folder.c_str(), error))
            return printError(error);
        return printLine("wrote the render mesh at rest with " +
                         plural(int32_t(poses.size()), "shape key") + " to " + file);
    }
    if (!readImportRecord(record, recordFile.c_str(), error))
        return printError(error);
    std::string why;
    const std::string extension = shapeExtensionFor(record.source, why);
    const std::string file = sceneFilePath(poser.folder, (shapesFileName + extension).c_str());
    if (!exportShapeScene(file.c_str(), record, *scene.faceModel, poser.pose.rest.get(),
                          poses.data(), poses.size(), error))
        return printError(error);
    printLine("wrote " + record.source + "'s scene at rest with " +
              plural(int32_t(poses.size()), "shape key") + " to " + file +
              (why.empty() ? "" : " (" + why + ")"));
}

// "m": mirrored dragging on or off, with the pairs it moves by.
void switchMirroring(Poser& poser) {
    poser.mirrorDrag = !poser.mirrorDrag;
    updateRegion(poser);
    const MirrorPairs& pairs = poser.pairs;
    char plane[64];
    std::snprintf(plane, sizeof plane, "%.4g", double(pairs.planeX));
    printLine(std::string("mirrored dragging ") + (poser.mirrorDrag ? "on" : "off") + " (" +
              std::to_string(pairs.paired) + " of " + std::to_string(pairs.count) +
              " control points paired, " + std::to_string(pairs.onPlane) +
              " on the plane x = " + plane + ")");
}

// "M": the pose mirrored, left becoming right, as one edit.
void mirrorPoseKey(Poser& poser) {
    Pose& pose = poser.pose;
    std::vector<Vector3> mirrored(size_t(pose.count));
    const int32_t leftOut =
        mirrorOffsets(mirrored.data(), pose.offsets.get(), poser.pairs.partners.get(), pose.count);
    setOffsets(pose, mirrored.data());
    printLine("mirrored the pose (" + plural(movedPointCount(pose), "moved control point") +
              (leftOut > 0
                   ? "; " + plural(leftOut, "moved point") + " without a partner left at rest"
                   : std::string()) +
              ")");
}

// The mix of the library's poses at the given weights (names not in the library left out).
void mixOf(Vector3* offsets, const std::vector<NamedPose>& poses,
           const std::vector<MixWeight>& weights, int32_t K) {
    std::vector<MixTerm> terms;
    for (const MixWeight& w : weights)
        for (const NamedPose& p : poses)
            if (p.name == w.name)
                terms.push_back({p.name, w.weight, p.moves.data(), p.moves.size()});
    mixOffsets(offsets, K, terms.data(), terms.size());
}

// The mix a pose file says it is ("# mix: NAME=W,..."), into mix when every pose it names is
// in the library (poses); mix stays empty otherwise.
void declaredMix(std::vector<MixWeight>& mix, const char* poseFile,
                 const std::vector<NamedPose>& poses) {
    std::ifstream in(poseFile);
    const std::string prefix = poseMixComment;
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::vector<MixFile> terms;
        std::string problem;
        if (!parseMixArgument(terms, line.substr(prefix.size()), problem))
            return;
        for (const MixFile& term : terms) {
            if (std::none_of(poses.begin(), poses.end(),
                             [&](const NamedPose& p) { return p.name == term.file; })) {
                mix.clear();
                return;
            }
            mix.push_back({term.file, term.weight});
        }
        return;
    }
}

// The mix's line: every weight not zero, in the library's order.
std::string mixLine(const Poser& poser) {
    std::string line;
    for (const std::string& name : poser.library) {
        const float w = mixWeight(poser.pose, name);
        if (w == 0.0f)
            continue;
        char weight[32];
        std::snprintf(weight, sizeof weight, " %.1f", double(w));
        line += (line.empty() ? "" : ", ") + name + weight;
    }
    return line.empty() ? "nothing" : line;
}

// "{" and "}": the previous or next library pose of the mix panel.
void chooseMixPose(Poser& poser, int32_t step) {
    poser.showMix = true;
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    const int32_t count = int32_t(poses.size());
    poser.mixIndex = count == 0 ? 0 : ((poser.mixIndex + step) % count + count) % count;
}

// "9" and "0": the chosen pose's weight a step down or up, the offsets less the mix at the
// old weights plus the mix at the new ones, as one edit.
void stepMixWeight(Poser& poser, int32_t step) {
    poser.showMix = true;
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    if (poses.empty())
        return printLine("the pose library " + libraryFolder(poser) + " holds no poses to mix");
    poser.mixIndex = std::min(poser.mixIndex, int32_t(poses.size()) - 1);
    const std::string& name = poses[size_t(poser.mixIndex)].name;
    Pose& pose = poser.pose;
    const float before = mixWeight(pose, name), after = steppedMixWeight(before, step);
    if (after == before)
        return;
    std::vector<MixWeight> weights;
    for (const MixWeight& w : pose.mix)
        if (w.name != name)
            weights.push_back(w);
    weights.push_back({name, after});
    std::vector<Vector3> old(size_t(pose.count)), mixed(size_t(pose.count));
    mixOf(old.data(), poses, pose.mix, pose.count);
    mixOf(mixed.data(), poses, weights, pose.count);
    for (int32_t i = 0; i < pose.count; ++i)
        mixed[size_t(i)] = (pose.offsets[i] - old[size_t(i)]) + mixed[size_t(i)];
    editPose(pose, mixed.data(), &weights);
    printLine("mix: " + mixLine(poser) + " (" +
              plural(movedPointCount(pose), "moved control point") + ")");
}

void resetView(ViewerState& state) {
    state.viewYaw = state.viewPitch = 0.0f;
    state.cameraDistance = initialCameraDistance;
    state.viewOffset = {0.0f, 0.0f, 0.0f};
}

// The props' transforms from the rig: dragged points (K: the control points less the mix of
// ARKit's expressions), the jaw poses' mix (K), and the weights whose gaze turns the eyes.
void placeRig(Poser& poser, Scene& scene, const Vector3* dragged, const Vector3* jawMix,
              const std::vector<MixWeight>& weights) {
    const Pose& pose = poser.pose;
    float pitch[2] = {0.0f, 0.0f}, yaw[2] = {0.0f, 0.0f};
    for (const MixWeight& w : weights)
        for (int32_t eye = 0; eye < 2; ++eye)
            addGaze(pitch[eye], yaw[eye], w.name, w.weight, eye == 0);
    PropRig rig;
    for (int32_t s = 0; s < propSlotCount; ++s) {
        rig.frames[s] = scene.propSlots[s].frame.get();
        rig.centres[s] = poser.propCentres[s];
    }
    Matrix4 transforms[propSlotCount];
    bool usable[propSlotCount];
    rigPropTransforms(transforms, usable, rig, pose.rest.get(), dragged, jawMix, pitch, yaw);
    for (int32_t s = 0; s < propSlotCount; ++s) {
        scene.propSlots[s].transformGiven = usable[s];
        scene.propSlots[s].givenTransform = transforms[s];
    }
}

} // namespace

void placeProps(Poser& poser, Scene& scene) {
    const Pose& pose = poser.pose;
    const int32_t K = pose.count;
    const TakePlayer& player = poser.player;
    if (!player.file.empty()) { // the take's frame: only ARKit's expressions, no drag
        placeRig(poser, scene, pose.rest.get(), player.jawOffsets.get(), player.weights);
        return;
    }
    bool same = poser.propMixWeights.size() == pose.mix.size();
    for (size_t k = 0; same && k < pose.mix.size(); ++k)
        same = poser.propMixWeights[k].name == pose.mix[k].name &&
               poser.propMixWeights[k].weight == pose.mix[k].weight;
    if (!same) {
        std::vector<MixWeight> rig, jaw;
        for (const MixWeight& w : pose.mix) {
            if (!isArkitExpression(w.name))
                continue;
            rig.push_back(w);
            if (isJawPose(w.name))
                jaw.push_back(w);
        }
        std::vector<NamedPose> poses;
        if (!rig.empty())
            readLibrary(poser, poses);
        mixOf(poser.rigMix.get(), poses, rig, K);
        mixOf(poser.jawMix.get(), poses, jaw, K);
        poser.propMixWeights = pose.mix;
    }
    // The points as the drags and other poses left them, and the mix's gaze.
    std::vector<Vector3> dragged(static_cast<size_t>(K));
    for (int32_t i = 0; i < K; ++i)
        dragged[size_t(i)] = pose.points[i] - poser.rigMix[i];
    placeRig(poser, scene, dragged.data(), poser.jawMix.get(), pose.mix);
}

bool loadPoserTake(Poser& poser, Scene& scene, const char* fileName, std::string& error) {
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    std::vector<std::string> warnings;
    if (!loadTake(poser.player, fileName, poses, poser.pose.count, warnings, error))
        return false;
    for (const std::string& line : warnings)
        printError(line);
    poser.scrubbing = false;
    showFaceOf(poser, scene);
    // The head turns about the middle of the render mesh's box at rest.
    FaceModel& model = *scene.faceModel;
    std::vector<Vector3> positions(static_cast<size_t>(model.renderVertexCount)),
        normals(static_cast<size_t>(model.renderVertexCount));
    model.update(positions.data(), normals.data(), poser.pose.rest.get());
    poser.takePivot = headPivot(positions.data(), model.renderVertexCount);
    const Take& take = poser.player.take;
    char figures[128];
    std::snprintf(figures, sizeof figures, "%.2f s, %.1f frames a second", takeDuration(take),
                  takeRate(take));
    printLine("loaded the take " + std::string(fileName) + ": " + plural(take.frameCount, "frame") +
              ", " + figures + ", " +
              plural(drivenPoseCount(take, poser.player.poseOf), "library pose") + " driven" +
              (take.rotations.empty() ? "" : ", the head turning") + " ('g' plays it)");
    const std::string missing = undrivenExpressions(take, poser.player.poseOf);
    if (!missing.empty())
        printLine("the library has no pose of " + missing + ", which the take names: left at rest");
    return true;
}

namespace {

// Every landmark placed: FOLDER/landmarks.txt written, the command to import again printed.
void finishLandmarks(Poser& poser) {
    LandmarkPlacing& placing = poser.landmarks;
    const std::string file = sceneFilePath(poser.folder, "landmarks.txt");
    std::string error;
    if (!saveLandmarks(placing, file.c_str(), error))
        return printError(error);
    placing.on = false;
    printLine("saved the 18 landmarks to " + file +
              "; import the head again with them: " + reimportCommand(placing, poser.folder, file));
}

} // namespace

bool landmarkPressed(Poser& poser, const Scene& scene, const Vector3& point) {
    // On the head's surface, not a line of the reference cube behind it.
    const FaceModel& model = *scene.faceModel;
    float distance = 0.0f;
    nearestSurfacePoint(distance, point, model.renderPositions.get(), model.renderTriangles.get(),
                        model.renderTriangleCount);
    if (!(distance <= landmarkPressTolerance)) {
        printLine("no surface of the head under the cursor");
        return false;
    }
    if (placeLandmark(poser.landmarks, point))
        finishLandmarks(poser);
    return true;
}

void switchLandmarkPlacing(Poser& poser) {
    LandmarkPlacing& placing = poser.landmarks;
    if (placing.on) {
        placing.on = false;
        return printLine("left the landmarks unsaved");
    }
    if (!poser.player.file.empty())
        return printLine("the take " + poser.player.file + " is on the face: 'T' closes it first");
    if (movedPointCount(poser.pose) > 0)
        return printLine("landmarks are placed on the head at rest: 'r' resets the pose first");
    std::string warning, error;
    if (!startLandmarkPlacing(placing, poser.folder, warning, error))
        return printError(error);
    if (!warning.empty())
        printError(warning + " (no guesses shown)");
    int32_t guesses = 0;
    for (bool g : placing.guessed)
        guesses += g ? 1 : 0;
    printLine("placing the face's 18 landmarks on " + placing.record.source + " (" +
              std::to_string(guesses) + (guesses == 1 ? " guess" : " guesses") + " from " +
              sceneFilePath(poser.folder, "landmarks.txt") +
              "): a right press on the head places each");
}

bool poserTick(Poser& poser, Scene& scene, double seconds) {
    if (poser.player.file.empty() || !advanceTake(poser.player, seconds))
        return false;
    showFaceOf(poser, scene);
    return true;
}

void poserSpecialKey(Poser& poser, ViewerState& state, Scene& scene, int key) {
    TakePlayer& player = poser.player;
    if (player.file.empty() || key < arrowLeft || key > arrowDown)
        return specialKeyViewer(state, key);
    if (key == arrowLeft || key == arrowRight)
        stepTake(player, key == arrowRight ? 1 : -1);
    else {
        player.playing = false;
        seekTake(player, player.time + (key == arrowUp ? 1.0 : -1.0));
    }
    showFaceOf(poser, scene);
}

namespace {

// Puts the take's time where x lies along the bar (window width).
void scrubTo(Poser& poser, Scene& scene, const ViewerState& state, int32_t x) {
    TakePlayer& player = poser.player;
    const double share = state.windowWidth > 1 ? double(x) / double(state.windowWidth - 1) : 0.0;
    player.playing = false;
    const bool loop = player.loop;
    player.loop = false; // the bar's ends are the take's
    seekTake(player, std::min(std::max(share, 0.0), 1.0) * takeDuration(player.take));
    player.loop = loop;
    showFaceOf(poser, scene);
}

} // namespace

bool checkPoserStart(std::string& error, const std::string& folder, const char* poseFile) {
    struct stat info;
    if (!folder.empty() && stat(folder.c_str(), &info) != 0)
        return fileError(error, folder,
                         errno == ENOENT
                             ? std::string("no such folder")
                             : std::string("cannot be read (") + std::strerror(errno) + ")");
    if (!folder.empty() && !S_ISDIR(info.st_mode))
        return fileError(error, folder, "not a folder");
    std::vector<const char*> files = {sceneModelFile, sceneSkinTextureFile};
    for (const PropSlotSource& source : propSlotSources) {
        files.push_back(source.propFile);
        files.push_back(source.textureFile);
    }
    for (const char* file : files) {
        const std::string path = sceneFilePath(folder, file);
        if (stat(path.c_str(), &info) != 0)
            return fileError(error, path,
                             "missing (the folder's data/ must hold the model, the four props "
                             "and the five textures, as face-import writes them)");
    }
    std::vector<ControlPointMove> moves;
    return !poseFile || readPoseFile(moves, poseFile, INT32_MAX, error);
}

bool startPoser(Poser& poser, Scene& scene, const std::string& folder, const char* poseFile,
                std::string& error) {
    poser.folder = folder;
    scene.program = poserProgram;
    if (!loadSceneFrom(scene, folder, error))
        return false;
    const int32_t K = scene.controlPointCount;
    startPose(poser.pose, scene.controlPoints.get(), K);
    poser.facing.reset(new uint8_t[K]());
    poser.visible.reset(new uint8_t[K]());
    const FaceModel& face = *scene.faceModel;
    // Symmetry and regions from the control mesh at rest.
    poser.edges = face.edges.get();
    poser.edgeCount = face.edgeCount;
    findMirrorPairs(poser.pairs, scene.controlPoints.get(), K, poser.edges, poser.edgeCount);
    double edgeSum = 0.0;
    for (int32_t e = 0; e < face.edgeCount; ++e)
        edgeSum += double(
            length(scene.controlPoints[face.edges[e].a] - scene.controlPoints[face.edges[e].b]));
    poser.regionStep =
        face.edgeCount > 0 ? float(edgeSum / face.edgeCount / regionStepsPerEdge) : 0.0f;
    poser.regionWeights.reset(new float[K]());
    poser.dragMoves.reset(new Vector3[K]());
    poser.rigMix.reset(new Vector3[K]());
    poser.jawMix.reset(new Vector3[K]());
    poser.propMixWeights.clear();
    for (int32_t s = 0; s < propSlotCount; ++s) // face-import's props are empty
        poser.propCentres[s] = propCentre(scene.propSlots[s].prop->positions.get(),
                                          scene.propSlots[s].prop->vertexCount);
    poser.bindingRgb.reset(new float[3 * size_t(face.renderVertexCount)]);
    // The binding's quality at rest: how far each vertex moves per unit move of one control
    // point (face/amplification.h).
    std::vector<float> amplification(size_t(face.renderVertexCount));
    computeAmplification(amplification.data(), nullptr, face, scene.controlPoints.get(),
                         smallAmplificationStep);
    bindingColours(poser.bindingRgb.get(), face.attachments.get(), face.renderVertexCount,
                   amplification.data());
    bool changed = false;
    if (poseFile && !loadPose(poser.pose, changed, poseFile, error))
        return false;

    const char* lines[viewerKeyLineCount + poserKeyLineCount];
    std::copy(viewerKeyLines, viewerKeyLines + viewerKeyLineCount, lines);
    std::copy(poserKeyLines, poserKeyLines + poserKeyLineCount, lines + viewerKeyLineCount);
    printKeyBindings(lines, viewerKeyLineCount + poserKeyLineCount);
    char plane[64];
    std::snprintf(plane, sizeof plane, "%.4g", double(poser.pairs.planeX));
    printLine("mirror pairs: " + std::to_string(poser.pairs.paired) + " of " + std::to_string(K) +
              " control points paired, " + std::to_string(poser.pairs.onPlane) +
              " on the plane x = " + plane);
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    if (!poses.empty()) {
        std::string names;
        for (const NamedPose& pose : poses)
            names += (names.empty() ? "" : ", ") + pose.name;
        printLine("the pose library " + libraryFolder(poser) + ": " +
                  plural(int32_t(poses.size()), "pose") + " (" + names + ")");
        // A library of ARKit's expressions says which of them it lacks (the default face's
        // has no tongue to put out).
        std::string missing;
        int32_t known = 0;
        for (const char* name : arkitExpressionNames) {
            const bool there = std::any_of(poses.begin(), poses.end(),
                                           [&](const NamedPose& p) { return p.name == name; });
            known += there ? 1 : 0;
            if (!there)
                missing += (missing.empty() ? "" : ", ") + std::string(name);
        }
        if (known > 0 && !missing.empty())
            printLine("of ARKit's " + std::to_string(arkitExpressionCount) +
                      " expressions the library lacks " + missing);
    }
    // A start from one of the library's own files is that pose loaded, as "]" loads it: the
    // mix of it alone at weight 1; from a file that says it is a mix of library poses, that
    // mix. Either way the load becomes one edit with its weights.
    if (poseFile) {
        std::vector<MixWeight> mix;
        std::error_code failure;
        const std::string name = poseName(poseFile);
        if (std::filesystem::equivalent(poseFile, libraryPoseFile(libraryFolder(poser), name),
                                        failure)) {
            mix.push_back({name, 1.0f});
            poser.libraryIndex =
                int32_t(std::find(poser.library.begin(), poser.library.end(), name) -
                        poser.library.begin());
        } else
            declaredMix(mix, poseFile, poses);
        if (!mix.empty()) {
            const ArrayHolder<Vector3> target(new Vector3[K]());
            mixOf(target.get(), poses, mix, K);
            int32_t unused;
            undoEdit(poser.pose, unused);
            editPose(poser.pose, target.get(), &mix);
        }
    }
    return true;
}

void poserMouseButton(Poser& poser, ViewerState& state, Scene& scene, int button, bool pressed,
                      int32_t x, int32_t y) {
    if (poser.landmarks.on && button == rightButton) {
        // Placed where the next frame's depth buffer says the surface is.
        if (pressed) {
            poser.landmarks.pressPending = true;
            poser.landmarks.pressX = x;
            poser.landmarks.pressY = y;
        }
        return;
    }
    if (!poser.player.file.empty()) {
        // The time bar takes a press on it, and the button's release after.
        if (poser.scrubbing && !pressed)
            return void(poser.scrubbing = false);
        if (pressed && button != wheelUp && button != wheelDown &&
            y >= state.windowHeight - takeBarHeight) {
            poser.scrubbing = true;
            return scrubTo(poser, scene, state, x);
        }
        if (pressed && button == rightButton && state.deformMode)
            return printLine("the take " + poser.player.file +
                             " is on the face: 'T' closes it to pose the face");
    }
    const bool picks =
        button == rightButton && pressed && state.deformMode && state.selectedPoint == -1;
    // The nearest point on the near side under the cursor, taken only where the face does
    // not hide it: a dot drawn over another part of the head is not grabbed through it.
    mouseButtonViewer(state, scene.dragger.get(), button, pressed, x, y, poser.facing.get());
    if (picks && state.selectedPoint >= 0 && !poser.visible[state.selectedPoint]) {
        printLine("control point " + std::to_string(state.selectedPoint) +
                  " under the cursor is hidden by the surface: turn the view to reach it");
        state.selectedPoint = -1;
    }
    if (picks)
        poser.shownPoint = state.selectedPoint;
    syncDrag(poser, state);
    if (picks)
        updateRegion(poser);
    if (pressed && (button == wheelUp || button == wheelDown))
        stepRegion(poser, button == wheelUp ? 1 : -1);
}

void poserMotion(Poser& poser, ViewerState& state, Scene& scene, int32_t x, int32_t y) {
    if (poser.scrubbing)
        return scrubTo(poser, scene, state, x);
    motionViewer(state, scene.dragger.get(), x, y);
    syncDrag(poser, state);
    followDrag(poser);
}

PoserKey poserKey(Poser& poser, ViewerState& state, Scene& scene, unsigned char key) {
    if (poser.naming) {
        nameKey(poser, scene, key);
        return PoserKey::redraw;
    }
    LandmarkPlacing& placing = poser.landmarks;
    if (placing.on && (key == '\r' || key == '\n') && placing.guessed[placing.current]) {
        if (placeLandmark(placing, placing.points[placing.current]))
            finishLandmarks(poser);
        return PoserKey::redraw;
    }
    if (placing.on && (key == backspaceKey || key == deleteKey)) {
        placing.current = (placing.current + landmarkCount - 1) % landmarkCount;
        placing.placed[placing.current] = false;
        return PoserKey::redraw;
    }
    if (placing.on && key == escapeKey) {
        switchLandmarkPlacing(poser);
        return PoserKey::redraw;
    }
    if (!poser.player.file.empty() && key != '\0' && std::strchr("slouyrn[]xmMH{}90", key)) {
        printLine("the take " + poser.player.file +
                  " is on the face: 'T' closes it to pose "
                  "the face");
        return PoserKey::redraw;
    }
    if (key != '\0' && std::strchr("slouyrn[]kmMHb{}90", key)) {
        // The pose keys act on a committed pose: a drag in progress ends here.
        state.selectedPoint = -1;
        syncDrag(poser, state);
    }
    int32_t changed = -1;
    switch (key) {
    case 's':
        savePoseKey(poser);
        break;
    case 'l':
        loadPoseKey(poser);
        break;
    case 'o':
        exportKey(poser, scene);
        break;
    case 'u':
        if (undoEdit(poser.pose, changed) && changed >= 0)
            poser.shownPoint = changed;
        break;
    case 'y':
        if (redoEdit(poser.pose, changed) && changed >= 0)
            poser.shownPoint = changed;
        break;
    case 'r':
        resetPose(poser.pose);
        break;
    case 'v':
        resetView(state);
        break;
    case 'p':
        poser.shotPending = true;
        break;
    case 'w':
        poser.showBinding = !poser.showBinding;
        break;
    case 'n':
    case 'H':
        poser.naming = true;
        poser.namingFor = key == 'n' ? Naming::pose : Naming::halves;
        // The halves are named after the library pose last saved or loaded, which the user
        // may change.
        poser.typedName = key == 'H' && poser.libraryIndex >= 0
                              ? poser.library[size_t(poser.libraryIndex)]
                              : std::string();
        break;
    case 'm':
        switchMirroring(poser);
        break;
    case 'M':
        mirrorPoseKey(poser);
        break;
    case ',':
    case '.':
        stepRegion(poser, key == '.' ? 1 : -1);
        break;
    case 'b':
        poser.showMix = !poser.showMix;
        break;
    case '{':
    case '}':
        chooseMixPose(poser, key == '}' ? 1 : -1);
        break;
    case '9':
    case '0':
        stepMixWeight(poser, key == '0' ? 1 : -1);
        break;
    case ']':
    case '[':
        stepLibrary(poser, key == ']' ? 1 : -1);
        break;
    case 'x':
        deleteLibraryPose(poser);
        break;
    case 'k':
        exportShapesKey(poser, scene);
        break;
    case 'F':
        switchLandmarkPlacing(poser);
        break;
    case 'T':
        if (placing.on)
            printLine("placing landmarks: 'F' leaves it first");
        else if (poser.player.file.empty()) {
            poser.naming = true;
            poser.namingFor = Naming::take;
            poser.typedName.clear();
        } else
            takeKey(poser, scene, key);
        break;
    case 'g':
    case 'L':
    case 'R':
    case 'E':
        takeKey(poser, scene, key);
        break;
    case '?':
        poser.showKeys = !poser.showKeys;
        break;
    case 'q':
    case escapeKey:
        return PoserKey::quit;
    default:
        keyboardViewer(state, key);
        syncDrag(poser, state);
        break;
    }
    if (poser.dragIndex < 0)
        updateRegion(poser); // the pose or the point shown may have changed
    return PoserKey::redraw;
}
