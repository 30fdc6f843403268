// The take reader: Live Link Face's CSV, a plain CSV and a web tracker's JSON read into
// ARKit's order, frames where tracking was lost held, out-of-range weights clamped, and every
// refusal one line naming the file and the row, the take untouched.
#include "io/take_file.h"
#include "tests/support/io_test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// Live Link Face's header, as it writes it: the 52 in ARKit's order, then the rotations.
const char liveLinkFaceHeader[] =
    "Timecode,BlendShapeCount,EyeBlinkLeft,EyeLookDownLeft,EyeLookInLeft,EyeLookOutLeft"
    ",EyeLookUpLeft,EyeSquintLeft,EyeWideLeft,EyeBlinkRight,EyeLookDownRight,EyeLookInRight"
    ",EyeLookOutRight,EyeLookUpRight,EyeSquintRight,EyeWideRight,JawForward,JawLeft,JawRight"
    ",JawOpen,MouthClose,MouthFunnel,MouthPucker,MouthLeft,MouthRight,MouthSmileLeft"
    ",MouthSmileRight,MouthFrownLeft,MouthFrownRight,MouthDimpleLeft,MouthDimpleRight"
    ",MouthStretchLeft,MouthStretchRight,MouthRollLower,MouthRollUpper,MouthShrugLower"
    ",MouthShrugUpper,MouthPressLeft,MouthPressRight,MouthLowerDownLeft,MouthLowerDownRight"
    ",MouthUpperUpLeft,MouthUpperUpRight,BrowDownLeft,BrowDownRight,BrowInnerUp"
    ",BrowOuterUpLeft,BrowOuterUpRight,CheekPuff,CheekSquintLeft,CheekSquintRight"
    ",NoseSneerLeft,NoseSneerRight,TongueOut,HeadYaw,HeadPitch,HeadRoll,LeftEyeYaw"
    ",LeftEyePitch,LeftEyeRoll,RightEyeYaw,RightEyePitch,RightEyeRoll";
constexpr int liveLinkFaceValues = 61;

int32_t expression(const char* name) {
    for (int32_t e = 0; e < arkitExpressionCount; ++e)
        if (std::string(arkitExpressionNames[e]) == name)
            return e;
    ADD_FAILURE() << name << " is not an ARKit name";
    return 0;
}

float weightAt(const Take& take, int32_t frame, const char* name) {
    return take.weights[size_t(frame) * arkitExpressionCount + size_t(expression(name))];
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return all;
}

// Every column of Live Link Face's layout, in its order or reversed: weight e of row r is
// (e + 1) / 64 + r / 4, rotation k is −(k + 1) / 16 − r; times from the timecodes.
TEST(TakeFile, LiveLinkFaceColumnsLandOnArkitIndicesInEitherOrder) {
    const char* timecodes[] = {"14:03:27:10.000", "14:03:27:11.500", "14:03:28:10.250"};
    const double times[] = {0.0, 0.025, 1.0 + 0.25 / 60};
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "in order");
        std::vector<std::string> header(1);
        for (const char* c = liveLinkFaceHeader; *c; ++c)
            if (*c == ',')
                header.emplace_back();
            else
                header.back() += *c;
        ASSERT_EQ(header.size(), 2u + liveLinkFaceValues);
        std::vector<std::vector<std::string>> rows;
        for (int r = 0; r < 3; ++r) {
            std::vector<std::string> row = {timecodes[r], "61"};
            for (int k = 0; k < liveLinkFaceValues; ++k) {
                char value[32];
                std::snprintf(value, sizeof value, "%.9g",
                              k < 52 ? (k + 1) / 64.0 + r / 4.0 : -(k - 51) / 16.0 - r);
                row.push_back(value);
            }
            rows.push_back(row);
        }
        std::string text;
        for (std::vector<std::string>* line : {&header, &rows[0], &rows[1], &rows[2]}) {
            if (reversed)
                std::reverse(line->begin(), line->end());
            for (size_t i = 0; i < line->size(); ++i)
                text += (i ? "," : "") + (*line)[i];
            text += "\n";
        }
        Take take;
        std::vector<std::string> warnings;
        std::string error;
        ASSERT_TRUE(readTakeBuffer(take, text.data(), text.size(), "llf.csv", warnings, error))
            << error;
        EXPECT_TRUE(warnings.empty()) << joined(warnings);
        ASSERT_EQ(take.frameCount, 3);
        ASSERT_EQ(take.weights.size(), 3u * arkitExpressionCount);
        ASSERT_EQ(take.rotations.size(), 3u * takeRotationCount);
        for (int r = 0; r < 3; ++r) {
            EXPECT_NEAR(take.times[r], times[r], 1e-9) << "row " << r;
            for (int e = 0; e < arkitExpressionCount; ++e)
                EXPECT_EQ(take.weights[size_t(r * arkitExpressionCount + e)],
                          float((e + 1) / 64.0 + r / 4.0))
                    << arkitExpressionNames[e] << " row " << r;
            for (int k = 0; k < takeRotationCount; ++k)
                EXPECT_EQ(take.rotations[size_t(r * takeRotationCount + k)],
                          float(-(k + 1) / 16.0 - r))
                    << takeRotationNames[k] << " row " << r;
        }
        EXPECT_EQ(take.named, std::vector<uint8_t>(arkitExpressionCount, 1));
        // A few by hand, against the table's order.
        EXPECT_EQ(weightAt(take, 0, "eyeBlinkLeft"), 1 / 64.0f);
        EXPECT_EQ(weightAt(take, 0, "jawOpen"), 18 / 64.0f);
        EXPECT_EQ(weightAt(take, 0, "tongueOut"), 52 / 64.0f);
        EXPECT_EQ(take.rotations[takeHeadRoll], -3 / 16.0f);
    }
}

struct Weight {
    int32_t frame;
    const char* name;
    float value;
};

// Small takes of every layout and the liberties apps take: the frames' times, the weights
// given (every other weight of every frame is 0), how many expressions are named, whether
// rotations are kept, and the warnings (a piece of each, in order).
TEST(TakeFile, ReadsEachLayout) {
    const struct {
        const char* name;
        std::string text;
        std::vector<double> times;
        std::vector<Weight> weights;
        int named;
        bool rotations;
        std::vector<std::string> warnings;
    } cases[] = {
        {"timecodes with a fraction of a frame",
         "Timecode,BlendShapeCount,EyeBlinkLeft,JawOpen\n"
         "10:00:00:00.000,2,0.5,0.25\n10:00:00:01.500,2,0.5,0.75\n10:00:01:00.000,2,0,1\n",
         {0, 0.025, 1},
         {{0, "eyeBlinkLeft", 0.5f},
          {0, "jawOpen", 0.25f},
          {1, "eyeBlinkLeft", 0.5f},
          {1, "jawOpen", 0.75f},
          {2, "jawOpen", 1}},
         2,
         false,
         {}},
        {"past midnight",
         "Timecode,BlendShapeCount,JawOpen\n23:59:59:58.000,1,0.1\n23:59:59:59.000,1,0.2\n"
         "00:00:00:00.000,1,0.3\n00:00:00:01.000,1,0.4\n",
         {0, 1 / 60.0, 2 / 60.0, 3 / 60.0},
         {{0, "jawOpen", 0.1f}, {1, "jawOpen", 0.2f}, {2, "jawOpen", 0.3f}, {3, "jawOpen", 0.4f}},
         1,
         false,
         {}},
        {"BlendshapeCount, names in other cases, columns in another order",
         "JAWOPEN,blendshapecount,timecode,eyeblinkleft,headyaw\n0.25,3,01:02:03:04.000,0.5,0.1\n",
         {0},
         {{0, "jawOpen", 0.25f}, {0, "eyeBlinkLeft", 0.5f}},
         2,
         true,
         {}},
        {"missing and extra columns: the extra ones named once",
         "Timecode,BlendShapeCount,EyeBlinkLeft,Confidence,JawOpen,Confidence,JawOpen,Time\n"
         "10:00:00:00.000,9,0.5,0.9,0.25,0.8,0.7,3\n10:00:00:01.000,9,0.5,x,0.25,y,z,4\n",
         {0, 1 / 60.0},
         {{0, "eyeBlinkLeft", 0.5f},
          {0, "jawOpen", 0.25f},
          {1, "eyeBlinkLeft", 0.5f},
          {1, "jawOpen", 0.25f}},
         2,
         false,
         {"take: 3 columns that are not ARKit's expressions are ignored: \"Confidence\", "
          "\"JawOpen\" (repeated), \"Time\""}},
        {"tracking lost: the last weights held, zeros before any frame",
         "Timecode,BlendShapeCount,EyeBlinkLeft,JawOpen\n10:00:00:00.000,0\n"
         "10:00:00:01.000,2,0.5,0.25\n10:00:00:02.000,0\n10:00:00:03.000,0,,\n"
         "10:00:00:04.000,2,1,0\n",
         {0, 1 / 60.0, 2 / 60.0, 3 / 60.0, 4 / 60.0},
         {{1, "eyeBlinkLeft", 0.5f},
          {1, "jawOpen", 0.25f},
          {2, "eyeBlinkLeft", 0.5f},
          {2, "jawOpen", 0.25f},
          {3, "eyeBlinkLeft", 0.5f},
          {3, "jawOpen", 0.25f},
          {4, "eyeBlinkLeft", 1}},
         2,
         false,
         {"take: 3 rows where tracking was lost hold the last weights (the first at line 2)"}},
        {"BOM, CRLF, trailing commas, empty lines",
         "\xEF\xBB\xBFTimecode,BlendShapeCount,EyeBlinkLeft,\r\n\r\n10:00:00:00.000,1,0.5,\r\n"
         "10:00:00:01.000,1,0.75\r\n\r\n",
         {0, 1 / 60.0},
         {{0, "eyeBlinkLeft", 0.5f}, {1, "eyeBlinkLeft", 0.75f}},
         1,
         false,
         {}},
        {"lone CR line ends, blanks and quotes around fields",
         "\"Timecode\", BlendShapeCount ,\tMouthClose\r10:00:00:00.000 , 1, \"0.5\"\r",
         {0},
         {{0, "mouthClose", 0.5f}},
         1,
         false,
         {}},
        {"plain CSV, the time column anywhere, starting late",
         "jawOpen,TIME,MOUTHCLOSE,browInnerUp\n0.5,12.5,0.25,1e-1\n1,12.75,0,-0.5\n+1,13,0,0\n",
         {0, 0.25, 0.5},
         {{0, "jawOpen", 0.5f},
          {0, "mouthClose", 0.25f},
          {0, "browInnerUp", 0.1f},
          {1, "jawOpen", 1},
          {1, "browInnerUp", -0.5f},
          {2, "jawOpen", 1}},
         3,
         false,
         {}},
        {"weights outside -1 to 2 clamped, said once",
         "time,eyeBlinkLeft,jawOpen\n0,2.5,1.5\n1,-3,2\n2,-1,1e9\n",
         {0, 1, 2},
         {{0, "eyeBlinkLeft", 2},
          {0, "jawOpen", 1.5f},
          {1, "eyeBlinkLeft", -1},
          {1, "jawOpen", 2},
          {2, "eyeBlinkLeft", -1},
          {2, "jawOpen", 2}},
         2,
         false,
         {"take: 3 weights outside -1 to 2 are clamped (the first: eyeBlinkLeft 2.5 at line 2)"}},
        {"JSON: _neutral silent, other keys and unknown names passed over, irregular times",
         R"([{"timestamp": 1000, "faceLandmarks": [[1, 2], {"x": [3]}],
              "blendshapes": [{"categoryName": "_neutral", "score": 0.9},
                              {"index": 9, "categoryName": "eyeBlinkLeft", "score": 0.5},
                              {"categoryName": "jawOpen", "score": 0.25, "displayName": ""},
                              {"categoryName": "eyeTwitch", "score": 1}]},
             {"blendshapes": [{"score": 3, "categoryName": "JawOpen"},
                              {"categoryName": "eyeTwitch", "score": 1}], "timestamp": 1033.5},
             {"timestamp": 1100, "blendshapes": []},
             {"timestamp": 1250, "blendshapes": [{"categoryName": "eyeBlinkLeft", "score": 0}]}]
)",
         {0, 0.0335, 0.1, 0.25},
         {{0, "eyeBlinkLeft", 0.5f},
          {0, "jawOpen", 0.25f},
          {1, "eyeBlinkLeft", 0.5f},
          {1, "jawOpen", 2},
          {2, "eyeBlinkLeft", 0.5f},
          {2, "jawOpen", 2},
          {3, "jawOpen", 2}},
         2,
         false,
         {"take: 1 name that is not ARKit's expressions is ignored: \"eyeTwitch\"",
          "take: 1 frame without blend shapes holds the last weights (the first at frame 2)",
          "take: 1 weight outside -1 to 2 is clamped (the first: jawOpen 3 at frame 1)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Take take;
        std::vector<std::string> warnings = {"earlier"};
        std::string error;
        ASSERT_TRUE(readTakeBuffer(take, c.text.data(), c.text.size(), "take", warnings, error))
            << error;
        ASSERT_EQ(warnings.size(), c.warnings.size() + 1) << joined(warnings);
        EXPECT_EQ(warnings[0], "earlier");
        for (size_t i = 0; i < c.warnings.size(); ++i)
            EXPECT_EQ(warnings[i + 1], c.warnings[i]);
        ASSERT_EQ(take.frameCount, int32_t(c.times.size()));
        ASSERT_EQ(take.times.size(), c.times.size());
        for (size_t f = 0; f < c.times.size(); ++f)
            EXPECT_NEAR(take.times[f], c.times[f], 1e-9) << "frame " << f;
        std::vector<float> expected(c.times.size() * arkitExpressionCount, 0.0f);
        for (const Weight& w : c.weights)
            expected[size_t(w.frame) * arkitExpressionCount + size_t(expression(w.name))] = w.value;
        EXPECT_EQ(take.weights, expected);
        int named = 0;
        for (uint8_t n : take.named)
            named += n;
        EXPECT_EQ(named, c.named);
        EXPECT_EQ(take.rotations.size(), c.rotations ? c.times.size() * takeRotationCount : 0u);
    }
}

// Every refusal: one line that names the file and the row, the take and the warnings as they
// were.
TEST(TakeFile, RefusalsNameTheFileAndTheRow) {
    const std::string llf = "Timecode,BlendShapeCount,EyeBlinkLeft,HeadYaw\n";
    const std::string frame = "10:00:00:00.000,2,0.5,0\n";
    const std::string json = R"([{"timestamp": 0, "blendshapes": []}, )";
    const struct {
        std::string text;
        const char* refusal;
    } cases[] = {
        {"", "t, line 1: the file is empty (no header and no frame)"},
        {"0.5,0.25\n1,0.5\n", "t, line 1: no header: the first line holds numbers"},
        {"10:00:00:00.000,1,0.5\n", "t, line 1: no header: the first line holds numbers"},
        {"\n\nframe,jawOpen\n0,1\n", "t, line 3: no header: the first line names no Timecode"},
        {"\xFF\xFEt\0i\0", "t, line 1: the file looks like UTF-16 text"},
        {llf, "t, line 2: no frame after the header"},
        {llf + frame + "10:00:00:01.000,2,0.5\n",
         "t, line 3: 3 fields where the header has 4 columns"},
        {llf + frame + "10:00:00:01.000,2,0.5,0,0,0\n",
         "t, line 3: 6 fields where the header has 4 columns"},
        {llf + "10:00:00:01.000,1\n", "t, line 2: 2 fields where the header has 4 columns"},
        {llf + "10:00:00:01.000,0,0.5\n", "t, line 2: 3 fields where the header has 4 columns"},
        {llf + "10:00:00:01.000,2,abc,0\n",
         "t, line 2: EyeBlinkLeft (column 3): \"abc\" is not a number"},
        {llf + "10:00:00:01.000,2,0.5x,0\n", "t, line 2: EyeBlinkLeft (column 3): \"0.5x\" is not"},
        {llf + "10:00:00:01.000,2,,0\n",
         "t, line 2: EyeBlinkLeft (column 3): \"\" is not a number"},
        {llf + "10:00:00:01.000,2,nan,0\n",
         "t, line 2: EyeBlinkLeft (column 3): \"nan\" is not a finite number"},
        {llf + "10:00:00:01.000,2,0,1e39\n",
         "t, line 2: HeadYaw (column 4): \"1e39\" is not a finite number"},
        {llf + "10:00:00:01.000,two,0,0\n", "t, line 2: BlendShapeCount (column 2)"},
        {llf + "10:00:00,2,0.5,0\n",
         "t, line 2: Timecode (column 1): \"10:00:00\" is not a timecode"},
        {llf + "24:00:00:00.000,2,0.5,0\n", "t, line 2: Timecode (column 1): \"24:00:00:00.000\""},
        {llf + "10:00:00:60.000,2,0.5,0\n", "t, line 2: Timecode (column 1): \"10:00:00:60.000\""},
        {llf + "10:00:00:02.000,2,0,0\n\n10:00:00:01.000,2,0,0\n",
         "t, line 4: time goes backwards, 0.0166667 s before the previous frame"},
        {llf + "10:00:00:00.000,2,0,0\n01:00:00:00.000,0\n",
         "t, line 3: time goes backwards, 32400 s before"},
        {"time,jawOpen\n1,0\n0.5,0\n", "t, line 3: time goes backwards, 0.5 s before"},
        {"time,jawOpen\n1,0\ninf,0\n", "t, line 3: time (column 1): \"inf\" is not a finite"},
        {"time,jawOpen\n1,0\n2,0\n,0\n", "t, line 4: time (column 1): \"\" is not a number"},
        {"time,jawOpen\n-1e308,0\n1e308,0\n", "t, line 3: the time 1e+308 s is too far"},
        {"{\"frames\": []}", "t: not a list of frames [{\"timestamp\": MS"},
        {"[]", "t: no frame (the list of frames is empty)"},
        {"[] x", "t: not JSON: parse error at line 1, column 4"},
        {"[1]", "t, frame 0: a frame is not an object"},
        {json + "[]]", "t, frame 1: a frame is not an object"},
        {json + "{\"blendshapes\": []}]", "t, frame 1: no timestamp"},
        {json + "{\"timestamp\": 5}]", "t, frame 1: no blendshapes"},
        {json + "{\"timestamp\": \"5\", \"blendshapes\": []}]",
         "t, frame 1: the timestamp is not a number"},
        {json + "{\"timestamp\": 5, \"blendshapes\": {}}]",
         "t, frame 1: blendshapes is not a list"},
        {json + "{\"timestamp\": 5, \"blendshapes\": [0.5]}]",
         "t, frame 1: blendshapes[0] is not an object"},
        {json + "{\"timestamp\": 5, \"blendshapes\": [{\"categoryName\": \"jawOpen\"}]}]",
         "t, frame 1: blendshapes[0] has no score"},
        {json + "{\"timestamp\": 5, \"blendshapes\": [{\"score\": 1}]}]",
         "t, frame 1: blendshapes[0] has no categoryName"},
        {json + "{\"timestamp\": 5, \"blendshapes\": [{\"categoryName\": 1, \"score\": 1}]}]",
         "t, frame 1: blendshapes[0]: the categoryName is not a string"},
        {json + "{\"timestamp\": 5, \"blendshapes\": [{\"categoryName\": \"x\", \"score\": []}]}]",
         "t, frame 1: blendshapes[0]: the score is not a number"},
        {json + "{\"timestamp\": -5, \"blendshapes\": []}]",
         "t, frame 1: time goes backwards, 0.005 s before"},
        {json + "{\"timestamp\": 5, \"blendshapes\": [\n", "t, frame 1: not JSON: "},
        {json + "{\"timestamp\": 5, \"blendshapes\": [{\"categoryName\": \"\xFF\"}]}]",
         "t, frame 1: not JSON: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        Take take;
        take.frameCount = 1;
        take.times = {7.0};
        take.weights.assign(arkitExpressionCount, 0.5f);
        take.named.assign(arkitExpressionCount, 1);
        const Take before = take;
        std::vector<std::string> warnings = {"earlier"};
        std::string error;
        expectRefusal(readTakeBuffer(take, c.text.data(), c.text.size(), "t", warnings, error),
                      error, c.refusal);
        EXPECT_EQ(take.frameCount, before.frameCount);
        EXPECT_EQ(take.times, before.times);
        EXPECT_EQ(take.weights, before.weights);
        EXPECT_EQ(take.named, before.named);
        EXPECT_TRUE(take.rotations.empty());
        EXPECT_EQ(warnings, std::vector<std::string>{"earlier"});
    }
}

// Every prefix of a good take of each layout is read or refused in one line naming the
// file; a take read has times from 0, never decreasing, and its arrays' sizes agree.
TEST(TakeFile, EveryTruncationIsReadOrRefusedInOneLine) {
    const std::string takes[] = {
        "Timecode,BlendShapeCount,EyeBlinkLeft,HeadYaw\r\n23:59:59:59.500,2,0.5,0.1\r\n"
        "00:00:00:00.000,0\r\n00:00:00:01.000,2,2.5,-0.1\r\n",
        "time,jawOpen,foo\n0.25,0.5,1\n0.5,-2,1\n",
        R"([{"timestamp": 10, "blendshapes": [{"categoryName": "jawOpen", "score": 0.5}]},
            {"timestamp": 20.5, "blendshapes": [{"categoryName": "_neutral", "score": 1}]}])"};
    for (const std::string& text : takes)
        for (size_t size = 0; size <= text.size(); ++size) {
            SCOPED_TRACE(text.substr(0, size));
            Take take;
            std::vector<std::string> warnings;
            std::string error;
            if (readTakeBuffer(take, text.data(), size, "cut", warnings, error)) {
                ASSERT_GE(take.frameCount, 1);
                ASSERT_EQ(take.times.size(), size_t(take.frameCount));
                ASSERT_EQ(take.weights.size(), size_t(take.frameCount) * arkitExpressionCount);
                EXPECT_EQ(take.times[0], 0.0);
                for (int32_t f = 1; f < take.frameCount; ++f)
                    EXPECT_LE(take.times[size_t(f) - 1], take.times[size_t(f)]);
            } else {
                expectRefusal(false, error, "cut");
                EXPECT_EQ(take.frameCount, 0);
            }
        }
}

// Seeded random takes written as a plain CSV with nine significant digits read back bit for
// bit: every weight within range exactly, the times as written less the first.
TEST(TakeFile, RandomPlainTakesReadBackExactly) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<float> weight(lowestTakeWeight, highestTakeWeight);
    std::uniform_real_distribution<double> step(0.0, 0.1);
    for (int trial = 0; trial < 20; ++trial) {
        const int frames = 1 + int(random() % 40), columns = 1 + int(random() % 52);
        std::string text = "time";
        for (int e = 0; e < columns; ++e)
            text += std::string(",") + arkitExpressionNames[e];
        std::vector<double> times;
        std::vector<float> weights;
        double time = 100.0 * trial;
        for (int f = 0; f < frames; ++f) {
            char value[32];
            std::snprintf(value, sizeof value, "\n%.17g", time);
            text += value;
            times.push_back(time);
            for (int e = 0; e < arkitExpressionCount; ++e) {
                const float w = e < columns ? weight(random) : 0.0f;
                if (e < columns) {
                    std::snprintf(value, sizeof value, ",%.9g", double(w));
                    text += value;
                }
                weights.push_back(w);
            }
            time += step(random);
        }
        Take take;
        std::vector<std::string> warnings;
        std::string error;
        ASSERT_TRUE(readTakeBuffer(take, text.data(), text.size(), "random", warnings, error))
            << error;
        EXPECT_TRUE(warnings.empty());
        ASSERT_EQ(take.frameCount, frames);
        EXPECT_EQ(take.weights, weights);
        for (int f = 0; f < frames; ++f)
            EXPECT_EQ(take.times[size_t(f)], times[size_t(f)] - times[0]);
    }
}

// A take read from a file; a file that cannot be opened refused with the system's reason.
TEST(TakeFile, ReadsAFile) {
    TempDir temp;
    const std::string file =
        temp.write("hello.csv", std::string("time,jawOpen\n0,0.25\n0.5,0.75\n"));
    Take take;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(readTakeFile(take, file.c_str(), warnings, error)) << error;
    ASSERT_EQ(take.frameCount, 2);
    EXPECT_EQ(weightAt(take, 1, "jawOpen"), 0.75f);
    const std::string missing = temp.path + "/missing.csv";
    expectRefusal(readTakeFile(take, missing.c_str(), warnings, error), error,
                  missing + ": cannot open (No such file or directory)");
    EXPECT_EQ(take.frameCount, 2);
}

// The frame shown at a time: the last not after it, the first before the start, the last
// after the end; the duration and the mean rate, 60 for a minute of frames at 60.
TEST(TakeFile, FrameAtATimeDurationAndRate) {
    const std::string text = "time,jawOpen\n5,0\n5.5,0\n5.5,0\n7,0\n";
    Take take;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(readTakeBuffer(take, text.data(), text.size(), "t", warnings, error)) << error;
    const struct {
        double seconds;
        int32_t frame;
    } at[] = {{-1, 0}, {0, 0}, {0.49, 0}, {0.5, 2}, {1.99, 2}, {2, 3}, {100, 3}};
    for (const auto& a : at)
        EXPECT_EQ(takeFrameAt(take, a.seconds), a.frame) << a.seconds;
    EXPECT_EQ(takeDuration(take), 2.0);
    EXPECT_EQ(takeRate(take), 1.5);

    // A minute of Live Link Face's frames from 23:59:30 (across midnight), one every 1/60 s.
    std::string minute = "Timecode,BlendShapeCount,JawOpen\n";
    for (int f = 0; f <= 3600; ++f) {
        const int frameOfDay = ((23 * 60 + 59) * 60 + 30) * 60 + f, day = 24 * 60 * 60 * 60;
        const int n = frameOfDay % day;
        char row[64];
        std::snprintf(row, sizeof row, "%02d:%02d:%02d:%02d.000,1,0\n", n / 216000, n / 3600 % 60,
                      n / 60 % 60, n % 60);
        minute += row;
    }
    Take sixty;
    ASSERT_TRUE(readTakeBuffer(sixty, minute.data(), minute.size(), "t", warnings, error)) << error;
    ASSERT_EQ(sixty.frameCount, 3601);
    EXPECT_NEAR(takeDuration(sixty), 60.0, 1e-9);
    EXPECT_NEAR(takeRate(sixty), 60.0, 1e-9);
    EXPECT_EQ(takeFrameAt(sixty, 30.0 + 0.5 / 60), 1800); // midnight, and half a frame

    Take single;
    ASSERT_TRUE(readTakeBuffer(single, "time\n3\n", 7, "t", warnings, error)) << error;
    EXPECT_EQ(takeFrameAt(single, 10), 0);
    EXPECT_EQ(takeDuration(single), 0.0);
    EXPECT_EQ(takeRate(single), 0.0);
    const Take none;
    EXPECT_EQ(takeFrameAt(none, 0), -1);
    EXPECT_EQ(takeRate(none), 0.0);
}

// The sample take users are given (takes/hello.csv, scripts/make-take.py): ten seconds of
// Live Link Face's frames at 60 a second, every expression and rotation named, its four
// lost-tracking rows said once, nothing clamped; the face blinks, smiles and talks.
TEST(TakeFile, TheSampleTakeReads) {
    const std::string file = std::string(FACE_SOURCE_DIR) + "/takes/hello.csv";
    Take take;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(readTakeFile(take, file.c_str(), warnings, error)) << error;
    ASSERT_EQ(warnings.size(), 1u) << joined(warnings);
    EXPECT_NE(warnings[0].find(": 4 rows where tracking was lost hold the last weights"),
              std::string::npos)
        << warnings[0];
    ASSERT_EQ(take.frameCount, 600);
    EXPECT_NEAR(takeRate(take), 60.0, 0.01);
    EXPECT_EQ(take.named, std::vector<uint8_t>(arkitExpressionCount, 1));
    ASSERT_EQ(take.rotations.size(), 600u * takeRotationCount);
    float most[arkitExpressionCount] = {};
    float headYaw = 0;
    for (int32_t f = 0; f < take.frameCount; ++f) {
        for (int32_t e = 0; e < arkitExpressionCount; ++e)
            most[e] = std::max(most[e], take.weights[size_t(f) * arkitExpressionCount + size_t(e)]);
        headYaw = std::max(headYaw, std::fabs(take.rotations[size_t(f) * takeRotationCount]));
    }
    for (const char* name :
         {"eyeBlinkLeft", "mouthSmileLeft", "jawOpen", "mouthClose", "browInnerUp"})
        EXPECT_GT(most[expression(name)], 0.3f) << name;
    EXPECT_GT(headYaw, 0.05f);
    EXPECT_LT(headYaw, 0.5f); // a little, in radians
}

} // namespace
