// The file sets face-assets writes: the viewer's default data, and denser variants of the
// same face model for benchmarks.
#pragma once

#include <cstdio>
#include <string>

// Writes the ten files of the default data set into folder (made when missing): the face
// model, the four props and the five textures. Prints one summary line per file group to
// log unless it is null. Returns false, with one line in error, at the first file that
// cannot be written.
bool writeDefaultAssets(const std::string& folder, FILE* log, std::string& error);

// Writes retarget_100k.model and retarget_1m.model (about 100,000 and 1,000,000 render
// vertices, the same control mesh) into folder. Log and result as for writeDefaultAssets.
bool writeDenseModels(const std::string& folder, FILE* log, std::string& error);
