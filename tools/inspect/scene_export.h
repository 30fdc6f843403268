// face-inspect's way back to the user's modelling tool: the posed render mesh written into
// the user's own scene, in its own format, place, size and vertex order, through assimp's
// exporter.
#pragma once

#include "geometry/vector.h"
#include "io/import_record.h"

#include <string>

// The formats assimp writes here, by file extension, as "a, b and c".
std::string sceneFormatList();

// The extension to write a scene read from sourceFile in: its own where assimp writes it,
// ".dae" for zipped Collada (".zae"), else ".glb".
std::string sceneExtensionFor(const std::string& sourceFile);

// Reads the source scene again (record.absolute; refused when it is not a regular file or
// its size or modification time differ from the record's) exactly as face-import read it
// (triangulation alone) and poses the meshes the record names: each source vertex moves by
// its render vertex's move (positions − restPositions, N each, model units) taken back
// through the placement and the mesh's node transform, and its normal turns by the turn that
// takes its render vertex's rest normal to its posed one (restNormals, normals), so that the
// source's own normals (hard edges, split corners) are kept. A vertex whose render vertex did
// not move keeps its position, and one whose normal did not turn its normal, bit for bit.
// Vertices of no render vertex, and every other mesh, material, texture reference and node,
// stay as read. Writes the scene to outFile (its folder made when missing) in the
// format its extension names (sceneFormatList). Returns false with one line in error when
// the extension names no format, the source cannot be read or no longer matches the record,
// a render vertex of the record is not below N, or the file cannot be written.
bool exportScene(const char* outFile, const ImportRecord& record, const Vector3* restPositions,
                 const Vector3* restNormals, const Vector3* positions, const Vector3* normals,
                 int32_t N, std::string& error);
