// Fuzzes the landmark reader on arbitrary bytes: no sanitizer report; landmarks read are
// finite, keep their sides and place the face, each with the line that gave it; a refusal
// is one line naming the file and leaves the landmarks as they were.
#include "tools/fit/landmarks.h"

#include <cmath>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Landmarks landmarks;
    landmarks.points[noseTip] = {1.0f, 2.0f, 3.0f}; // a sentinel a refusal must leave
    const Landmarks before = landmarks;
    std::string error;
    if (readLandmarkBuffer(landmarks, reinterpret_cast<const char*>(data), size, "fuzz.txt",
                           error)) {
        std::string problem;
        int32_t culprit = 0;
        if (!landmarksPlaceFace(landmarks, problem) ||
            !checkLandmarkSides(landmarks, problem, culprit))
            __builtin_trap();
        for (int32_t i = 0; i < landmarkCount; ++i)
            if (landmarks.given[i] != (landmarks.line[i] > 0) ||
                (landmarks.given[i] && !isFinite(landmarks.points[i])))
                __builtin_trap();
    } else if (error.rfind("fuzz.txt", 0) != 0 || error.find('\n') != std::string::npos ||
               std::memcmp(&before, &landmarks, sizeof landmarks) != 0) {
        __builtin_trap();
    }
    return 0;
}
