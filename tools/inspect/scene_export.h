// face-inspect's way back to the user's modelling tool: the posed render mesh written into
// the user's own scene, in its own format, place, size and vertex order, through assimp's
// exporter.
#pragma once

#include "geometry/vector.h"
#include "io/import_record.h"

#include <string>

// The formats assimp writes here, by file extension, as "a, b and c".
std::string sceneFormatList();

// Reads the source scene again (record.absolute; refused when it is not a regular file or
// its size or modification time differ from the record's) exactly as face-import read it
// (triangulation alone), replaces the vertex positions and normals of the meshes the record
// names from the render mesh's positions and normals (N each, model units): each source
// vertex takes its render vertex's, moved back through the placement and the mesh's node
// transform; vertices of no render vertex, and every other mesh, material, texture reference
// and node, stay as read. Writes the scene to outFile (its folder made when missing) in the
// format its extension names (sceneFormatList). Returns false with one line in error when
// the extension names no format, the source cannot be read or no longer matches the record,
// a render vertex of the record is not below N, or the file cannot be written.
bool exportScene(const char* outFile, const ImportRecord& record, const Vector3* positions,
                 const Vector3* normals, int32_t N, std::string& error);
