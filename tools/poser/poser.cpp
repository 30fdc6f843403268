#include "tools/poser/poser.h"

#include "face/amplification.h"
#include "io/import_record.h"
#include "io/messages.h"
#include "io/obj_file.h"
#include "io/pose_file.h"
#include "tools/common/binding_colour.h"
#include "tools/inspect/scene_export.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int rightButton = 2; // GLUT_RIGHT_BUTTON
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
    "\t'u' undo the last drag (or reset, or load)",
    "\t'y' redo",
    "\t'r' reset the pose to rest",
    "\t'v' reset the view (turn, distance, offset)",
    "\t'p' save the window as shot-NNN.png",
    "\t'w' colour by amplification",
    "\t'n' name the pose and save it in the pose library (Enter saves, Esc cancels)",
    "\t']' '[' load the next / previous pose of the library",
    "\t'x' delete the library's pose last saved or loaded",
    "\t'k' export the scene with every library pose a shape key",
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

// Commits the drag whose point is no longer selected, and starts following a new one.
void syncDrag(Poser& poser, const ViewerState& state) {
    if (poser.dragIndex >= 0 && state.selectedPoint != poser.dragIndex) {
        commitDrag(poser.pose, poser.dragIndex);
        poser.dragIndex = -1;
    }
    if (state.selectedPoint >= 0 && poser.dragIndex < 0)
        poser.dragIndex = state.selectedPoint;
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
    const std::string posedScene =
        sceneFilePath(poser.folder, ("posed" + sceneExtensionFor(record.source, why)).c_str());
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

// A key while a name is typed: the name grows, shrinks, is saved or given up.
void nameKey(Poser& poser, unsigned char key) {
    if (key == '\r' || key == '\n')
        return saveNamedPose(poser);
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
    if (validPoseName(grown))
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
    setOffsets(poser.pose, target.get());
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
    if (!readImportRecord(record, recordFile.c_str(), error))
        return printError(error + " (shape keys go into the scene of a folder face-import made)");
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

void resetView(ViewerState& state) {
    state.viewYaw = state.viewPitch = 0.0f;
    state.cameraDistance = initialCameraDistance;
    state.viewOffset = {0.0f, 0.0f, 0.0f};
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
    const FaceModel& face = *scene.faceModel;
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
    std::vector<NamedPose> poses;
    readLibrary(poser, poses);
    if (!poses.empty()) {
        std::string names;
        for (const NamedPose& pose : poses)
            names += (names.empty() ? "" : ", ") + pose.name;
        printLine("the pose library " + libraryFolder(poser) + ": " +
                  plural(int32_t(poses.size()), "pose") + " (" + names + ")");
    }
    return true;
}

void poserMouseButton(Poser& poser, ViewerState& state, Scene& scene, int button, bool pressed,
                      int32_t x, int32_t y) {
    const bool picks =
        button == rightButton && pressed && state.deformMode && state.selectedPoint == -1;
    mouseButtonViewer(state, scene.dragger.get(), button, pressed, x, y, poser.facing.get());
    if (picks)
        poser.shownPoint = state.selectedPoint;
    syncDrag(poser, state);
}

void poserMotion(Poser& poser, ViewerState& state, Scene& scene, int32_t x, int32_t y) {
    motionViewer(state, scene.dragger.get(), x, y);
    syncDrag(poser, state);
}

PoserKey poserKey(Poser& poser, ViewerState& state, Scene& scene, unsigned char key) {
    if (poser.naming) {
        nameKey(poser, key);
        return PoserKey::redraw;
    }
    if (key != '\0' && std::strchr("slouyrn[]k", key)) {
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
        if (undoEdit(poser.pose, changed))
            poser.shownPoint = changed;
        break;
    case 'y':
        if (redoEdit(poser.pose, changed))
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
        poser.naming = true;
        poser.typedName.clear();
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
    return PoserKey::redraw;
}
