// The user's own Collada or OBJ file written again with only the positions and normals of
// the imported meshes replaced: materials, texture coordinates, skins, animation and the
// file's own vertex sharing stay as they were, so the user's tool reads the same vertices
// in the same order. Collada is read and written through pugixml (a zipped .zae through
// minizip), and each shape becomes a morph controller on the mesh's geometry, which
// Blender imports as a shape key named after the shape.
#pragma once

#include "io/file_contents.h"

#include <assimp/scene.h>

#include <cstdint>
#include <string>
#include <vector>

// One imported mesh posed: its vertices as assimp reads the source (triangulation alone),
// in the base pose and in each shape's, in the mesh's own coordinates.
struct PosedMesh {
    int32_t meshIndex = 0;             // in the assimp scene
    unsigned vertexCount = 0;          // V
    std::vector<aiVector3D> positions; // (1 + shapes) × V: the base pose, then each shape
    std::vector<aiVector3D> normals;   // the same, or empty when the mesh has none
};

// The diagonal of the mesh's bounding box (the scale of its tolerances).
float meshSize(const aiMesh& mesh);

// Writes outFile (.dae) from the Collada source (a .dae, or the .dae inside a .zae, whose
// other entries, its textures, go beside outFile where no file of that name is yet): the
// posed meshes' positions and normals replaced by the base pose's, and per shape name a
// copy of each posed mesh's geometry named after it with the shape's positions and normals,
// joined to the geometry by one morph controller. scene is the source as assimp read it (at
// rest), whose meshes' corners are matched to the file's. Returns false with one line in
// error when the file cannot be read or parsed, a mesh's corners do not match the file's
// (the format's reading is not the one assumed here), or outFile cannot be written.
bool writeOwnCollada(const char* outFile, const std::string& sourceFile, const aiScene& scene,
                     const std::vector<PosedMesh>& posed, const std::vector<std::string>& shapes,
                     std::string& error);

// Writes outFile (.obj) from the OBJ source's bytes: each "v" and "vn" line that a corner of
// a posed mesh uses gets the base pose's values (matched by rest position and normal, within
// a millionth of the mesh's size); every other line is copied. Returns false with one line
// in error when a face line cannot be read or outFile cannot be written.
bool writeOwnObj(const char* outFile, const std::string& sourceFile, const FileContents& source,
                 const aiScene& scene, const std::vector<PosedMesh>& posed, std::string& error);
