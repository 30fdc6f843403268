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
//
// A JSON take starts with '[' or '{' (after white space); anything else is read as a CSV,
// whose first line that is not blank is its header: Live Link Face's when it has a column
// named Timecode, a plain one when it has a column named time (either anywhere in the
// header), refused otherwise. As apps and spreadsheets write CSVs:
//  - a UTF-8 byte-order mark at the start is passed over (a UTF-16 file is refused);
//  - lines end in "\n", "\r\n" or a lone "\r"; blank lines (a trailing empty line among
//    them) are passed over anywhere, and counted in the line numbers of messages;
//  - a field is read without the spaces and tabs around it and without a pair of double
//    quotes around it (a comma inside quotes is not supported: no app writes one);
//  - a trailing comma is read as none: the header's empty last field is dropped, and a row
//    may have one empty field more than the header has columns;
//  - a value is a whole decimal number (an optional sign, a point, an exponent): "0.5x",
//    "nan", "inf" and an empty field are refused.
// A column whose name is not ARKit's, a rotation's, the time's (or Live Link Face's count),
// or that repeats a name an earlier column has, is passed over (its values not read) and
// named in the warning.
//
// Live Link Face's time: each timecode becomes seconds from the first row. A timecode more
// than 12 hours before the previous row's is a roll-over past midnight (a day is added), one
// less before it is time going backwards. The count column is read as a number and
// otherwise not used; a lost-tracking row has a timecode and a count of 0 and no other field
// that is not empty, and is a frame (with its time) holding the last frame's weights and
// rotations. A plain CSV's time column is in seconds, from the first row's.
//
// A JSON frame's "timestamp" (milliseconds) and "blendshapes" are needed, its other keys and
// each blend shape's keys other than "categoryName" and "score" are passed over; a
// "_neutral" blend shape is passed over without a warning. An expression a frame does not
// name holds its weight from the frame before (0 before any); a frame whose blend shapes name
// no expression holds them all, and is counted in a warning like a lost-tracking row. The
// JSON is read as it is parsed (no document is built), frames counted from 0 in messages.
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
// one line each, "<file>: ...", for what was read but changed or passed over, in this order:
//   "3 columns that are not ARKit's expressions are ignored: "Confidence", ..." (a JSON
//       take's "names"; the first 8 named, the rest counted)
//   "2 rows where tracking was lost hold the last weights (the first at line 40)" (a JSON
//       take's "frames without blend shapes")
//   "4 weights outside -1 to 2 are clamped (the first: jawOpen 2.5 at line 7)"
// Refused, with one line in error and take and warnings left untouched: a file
// openFileContents refuses (with its message); "<file>, line L: <what>" for a CSV and
// "<file>, frame F: <what>" for a JSON take (or "<file>: <what>" for a JSON that is not a
// list, or that is not JSON after its list) when the file is empty or UTF-16, has no header,
// a row of another length that is not a lost-tracking row, a value or a timecode that is not
// a number (or not finite), time going backwards, a JSON frame without its timestamp or
// blend shapes or with a value of the wrong type, no frame, or more frames than the memory
// available can hold.
bool readTakeFile(Take& take, const char* fileName, std::vector<std::string>& warnings,
                  std::string& error);

// The same on size bytes in memory (data may be null when size is 0), named fileName in the
// messages.
bool readTakeBuffer(Take& take, const char* data, size_t size, const char* fileName,
                    std::vector<std::string>& warnings, std::string& error);

// The frame shown at time seconds from the take's start: the last whose time is not after it
// (the first before the take starts, the last after it ends), by binary search; −1 for a
// take of no frame (one not read).
int32_t takeFrameAt(const Take& take, double seconds);

// The take's length in seconds (its last frame's time, 0 for a take of no frame) and its mean
// rate in frames a second, (frameCount − 1) / duration (0 for a take of one frame, or of
// frames all at one time).
double takeDuration(const Take& take);
double takeRate(const Take& take);
