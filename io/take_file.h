// Takes: recorded performances, the weights of ARKit's 52 expressions frame by frame, as
// face capture apps write them. Three layouts are read, told apart by their first bytes:
//
//  - Live Link Face's CSV: a header "Timecode,BlendShapeCount,<name>,...", then one row a
//    frame, "HH:MM:SS:FF.fff,<count>,<value>,...". The timecode is a time of day with
//    frames counted at 60 a second (FF.fff a frame and its fraction); the take starts at
//    its first row. A row of a timecode and a count of 0 is a frame where tracking was lost:
//    it holds the last weights. Names are PascalCase (EyeBlinkLeft); the head's and eyes'
//    rotations (HeadYaw, HeadPitch, HeadRoll, LeftEyeYaw, ..., RightEyeRoll) follow the 52.
//  - A plain CSV: a header "time,<name>,..." (time in seconds), one row a frame.
//  - The JSON a web face tracker's recorder writes: a list of frames, each
//    {"timestamp": MILLISECONDS, "blendshapes": [{"categoryName": NAME, "score": W}, ...]}.
//
// In every layout the names are matched to ARKit's without regard to case, the columns in
// any order; an expression the take does not name stays at 0.
#pragma once

#include "io/expression_names.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The rotations a take may carry, in the order of takeRotationNames, in radians: the head's
// yaw (about the face's up axis), pitch (about its left-right axis) and roll (about its
// front axis), then each eye's.
enum TakeRotation : int32_t {
    takeHeadYaw,
    takeHeadPitch,
    takeHeadRoll,
    takeLeftEyeYaw,
    takeLeftEyePitch,
    takeLeftEyeRoll,
    takeRightEyeYaw,
    takeRightEyePitch,
    takeRightEyeRoll,
    takeRotationCount
};
// "HeadYaw", ..., "RightEyeRoll", as Live Link Face names its columns.
extern const char* const takeRotationNames[takeRotationCount];

// The weights a take may give: a value outside is clamped to the nearest end (the range of a
// mix's weights).
constexpr float lowestTakeWeight = -1.0f, highestTakeWeight = 2.0f;

struct Take {
    int32_t frameCount = 0;
    // frameCount times in seconds from the first frame (0), never decreasing.
    std::vector<double> times;
    // frameCount × arkitExpressionCount: frame f's weight of expression e (ARKit's order,
    // arkitExpressionNames) at [f × arkitExpressionCount + e].
    std::vector<float> weights;
    // arkitExpressionCount: 1 for each expression the take names.
    std::vector<uint8_t> named;
    // frameCount × takeRotationCount when the take gives the head's rotation, else empty:
    // frame f's rotation r at [f × takeRotationCount + r] (an eye's rotation the take does
    // not give is 0).
    std::vector<float> rotations;
};

// Reads a take. On success fills take (replaced) and returns true; warnings receives (appended)
// one line each for what was read but changed or passed over: columns or names that are not
// ARKit's (named once), rows where tracking was lost (counted once), weights clamped (said
// once). Refused, with one line in error naming the file and the row (or the frame of a JSON
// take) and take left untouched: a file openFileContents refuses, no header, a row of another
// length that is not a lost-tracking row, a value that is not a number, time going backwards,
// a take with no frame.
bool readTakeFile(Take& take, const char* fileName, std::vector<std::string>& warnings,
                  std::string& error);

// The same on size bytes in memory (data may be null when size is 0), named fileName in the
// messages.
bool readTakeBuffer(Take& take, const char* data, size_t size, const char* fileName,
                    std::vector<std::string>& warnings, std::string& error);

// The frame shown at time seconds from the take's start: the last whose time is not after it
// (the first before the take starts, the last after it ends).
int32_t takeFrameAt(const Take& take, double seconds);

// The take's length in seconds (its last frame's time) and its mean rate in frames a second
// (0 for a take of one frame).
double takeDuration(const Take& take);
double takeRate(const Take& take);
