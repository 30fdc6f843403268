// The file sets face-assets writes: the viewer's default data, and denser variants of the
// same face model for benchmarks.
#pragma once

#include <cstdio>
#include <string>

// Writes the ten files of the default data set into folder (which must exist): the face
// model, the four props and the five textures. Prints one summary line per file group to
// log unless it is null. Returns false (after a line on standard error) when a file
// cannot be written.
bool writeDefaultAssets(const std::string& folder, FILE* log);

// Writes retarget_100k.model and retarget_1m.model (about 100,000 and 1,000,000 render
// vertices, the same control mesh) into folder. Log and result as for writeDefaultAssets.
bool writeDenseModels(const std::string& folder, FILE* log);
