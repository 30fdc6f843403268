// The generator's meshes written as the viewer's files, through the model and prop writers
// (io/). The generator works in doubles; every value is written with four decimals, and is
// first rounded to the float nearest that decimal, so the bytes written do not depend on the
// last bits of a computation.
#pragma once

#include "tools/assets/mesh.h"
#include "tools/assets/props.h"

#include <string>

// The model file: render mesh (positions, texture coordinates from its domain points,
// triangles), then the control mesh (points, triangles as they are). Returns false with
// one line in error when the file cannot be written.
bool writeFaceModel(const char* path, const FaceMesh& render, const FaceMesh& control,
                    std::string& error);

// The bytes writeFaceModel writes, into text (replaced): what the viewer reads, for tools
// that build the face model in memory.
void formatFaceModel(std::string& text, const FaceMesh& render, const FaceMesh& control);

// A prop file: positions, texture coordinates, triangles. Result as for writeFaceModel.
bool writePropMesh(const char* path, const PropMesh& prop, std::string& error);
