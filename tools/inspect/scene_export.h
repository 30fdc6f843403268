// face-inspect's way back to the user's modelling tool: the posed render mesh written into
// the user's own scene, in its own format, place, size and vertex order, with every named
// pose a shape key where the format holds them.
//
// glTF goes through assimp's exporter, which keeps the source's vertices (it joins identical
// ones, as the glTF the user's tool wrote has them) and writes each shape as a morph target;
// their names go into each mesh's extras.targetNames, where Blender and three.js read them.
// Collada and OBJ are written from the user's own file, with only the positions and normals
// of the imported meshes replaced (own_scene_file.h): assimp's exporters write those formats
// one vertex per triangle corner, which no tool can join back onto the user's object.
#pragma once

#include "face/face_model.h"
#include "geometry/vector.h"
#include "io/import_record.h"
#include "io/pose_file.h"
#include "tools/inspect/scene_animation.h"

#include <cstddef>
#include <string>

// One shape key: the render mesh in a pose, N positions and N normals, named.
struct ShapePose {
    std::string name;
    const Vector3* positions;
    const Vector3* normals;
};

// The formats written here, by file extension, as "a, b and c".
std::string sceneFormatList();

// The extension to write a scene read from sourceFile in: its own where it is written here,
// ".dae" for zipped Collada (".zae"), else ".glb". why is empty, or says in a few words why
// the source's own format is not written (an FBX file that no reader opens).
std::string sceneExtensionFor(const std::string& sourceFile, std::string& why);

// The same for a scene with shape keys: the source's own format where it holds shape keys
// (glTF, Collada), else ".glb", with why saying so.
std::string shapeExtensionFor(const std::string& sourceFile, std::string& why);

// Reads the source scene again (record.absolute; refused when it is not a regular file or
// its size or modification time differ from the record's) exactly as face-import read it
// (triangulation alone) and poses the meshes the record names: each source vertex moves by
// its render vertex's move (positions − restPositions, N each, model units) taken back
// through the placement and the mesh's node transform, and its normal turns by the turn that
// takes its render vertex's rest normal to its posed one (restNormals, normals), so that the
// source's own normals (hard edges, split corners) are kept. A vertex whose render vertex did
// not move keeps its position, and one whose normal did not turn its normal, bit for bit.
// Vertices of no render vertex, and every other mesh, material, texture reference and node,
// stay as read. Each of the shapeCount shapes (may be 0) is posed the same way from its own
// positions and normals and written as a shape key of every imported mesh, named after it.
// Writes the scene to outFile (its folder made when missing; whole or not at all) in the
// format its extension names (sceneFormatList): a Collada or OBJ file from a source of the
// same format is the source's own file with the positions and normals replaced. In glTF
// every mesh carries the shapes (those no pose moves, at rest), so that the primitives of
// one glTF mesh have equal morph targets, and every texture is embedded (found beside the
// source as face-import finds a skin; one not found is the data folder's skin beside the
// record on the imported meshes, and left out elsewhere). Returns false with one line in
// error when the extension names no format written here (".fbx": why not), an animation
// (scene_animation.h; may be null) is asked of another format than .glb, shapes are asked
// of a format without shape keys or of Collada from a source that is not Collada, the
// source cannot be read or no longer matches the record, a render vertex of the record is
// not below N, or the file cannot be written.
bool exportScene(const char* outFile, const ImportRecord& record, const Vector3* restPositions,
                 const Vector3* restNormals, const Vector3* positions, const Vector3* normals,
                 int32_t N, const ShapePose* shapes, size_t shapeCount, std::string& error,
                 const SceneAnimation* animation = nullptr);

// The scene at rest with one shape key per pose (count, at least 1): each pose's moves
// applied to restPoints (the model's K control points at rest) and one update of model, its
// move measured from one update at rest (so that a vertex the pose does not reach does not
// move at all). Writes as exportScene (with its animation); model's render arrays are left at
// rest.
bool exportShapeScene(const char* outFile, const ImportRecord& record, FaceModel& model,
                      const Vector3* restPoints, const NamedPose* poses, size_t count,
                      std::string& error, const SceneAnimation* animation = nullptr);

// For a model face-import did not make (the default face), which has no scene of the user's
// to write into: the render mesh at rest (one update of model from restPoints, K) with its
// texture coordinates, and one shape key per pose (count, may be 0) posed as
// exportShapeScene poses them, named after it, as glTF (outFile .glb or .gltf, its folder
// made when missing; each shape a morph target, the names in the mesh's
// extras.targetNames). When folder's data/ holds the skin and the four props (folder may be
// null: no props; empty: the working directory), they come too: the skin's picture on the face, and
// the eyes and teeth as primitives of the same mesh with their own pictures, each shape key moving
// them as the rig of tools/common/prop_rig.h moves them for that pose at weight 1 (a gaze key turns
// its eye, a jaw key carries the lower teeth, other ARKit keys leave them). model's render
// arrays are left at rest. With an animation (may be null), a .glb that plays it. Returns
// false with one line in error for another extension (or not .glb with an animation) or a
// file that cannot be written.
bool exportRenderShapes(const char* outFile, FaceModel& model, const Vector3* restPoints,
                        const NamedPose* poses, size_t count, const char* folder,
                        std::string& error, const SceneAnimation* animation = nullptr);
