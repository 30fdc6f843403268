// A mix of poses: each pose's offsets (its moves added from zero, as loading it gives them)
// times its weight, summed point by point. face-poser mixes its library's poses this way and
// face-inspect --mix the files it is given, in the same order, so a script gives the face
// the window shows bit for bit.
#pragma once

#include "geometry/vector.h"
#include "io/pose_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The weights a pose takes in a mix, and face-poser's step between them: below 0 reverses
// a pose, above 1 amplifies it.
constexpr float lowestMixWeight = -1.0f, highestMixWeight = 2.0f;
constexpr int32_t mixStepsPerUnit = 10; // steps of 0.1

// One pose of a mix: its name (which orders the sum) and weight, and its moves (count).
struct MixTerm {
    std::string name;
    float weight;
    const ControlPointMove* moves;
    size_t moveCount;
};

// offsets[i] (K) = the sum over the terms of weight × the pose's offset of point i, from
// zero, the terms taken in the pose library's order (their files NAME.txt by bytes, as
// readPoseLibrary lists them) whatever their order here, and those of weight 0 left out.
// A mix of one pose at weight 1 is that pose's offsets exactly.
void mixOffsets(Vector3* offsets, int32_t K, const MixTerm* terms, size_t count);

// The weight steps from weight (rounded to the nearest step first), kept within
// [lowestMixWeight, highestMixWeight]: k / 10 for a whole k, the float nearest to it, as
// the decimal "0.k" reads.
float steppedMixWeight(float weight, int32_t steps);

// A pose file may say in a comment that it is a mix of library poses, "# mix: NAME=W,...":
// face-poser loads such a file as that mix of its library (the VRM presets are written so).
constexpr const char poseMixComment[] = "# mix: ";

// One file of a --mix argument and its weight.
struct MixFile {
    std::string file;
    float weight;
};

// Reads "FILE=W[,FILE=W]..." (W a number from lowestMixWeight to highestMixWeight, FILE
// the text before the last '=') into files (appended). False with the problem when a part
// is empty, has no '=' or a weight that is not such a number.
bool parseMixArgument(std::vector<MixFile>& files, const std::string& text, std::string& problem);
