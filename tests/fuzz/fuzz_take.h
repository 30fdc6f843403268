// The body of the take reader's fuzz targets: each puts the start of its layout's header
// before the fuzzer's bytes (so that every input is read as that layout, its columns and rows
// fuzzed), then checks what was read. A take read: frames from time 0, never decreasing,
// finite; weights finite within the clamp's range; rotations finite; the arrays' sizes
// agree; each warning one line naming the file. A refusal: one line naming the file, the
// take and the warnings untouched.
#pragma once

#include "io/take_file.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

inline void fuzzTake(const char* layoutStart, const uint8_t* data, size_t size) {
    std::string text = layoutStart;
    text.append(reinterpret_cast<const char*>(data), size);
    Take take;
    take.frameCount = 1;
    take.times = {5.0};
    std::vector<std::string> warnings = {"earlier"};
    std::string error;
    const auto oneLineNamingTheFile = [](const std::string& line) {
        return line.rfind("fuzz.take", 0) == 0 && line.find('\n') == std::string::npos &&
               line.find('\r') == std::string::npos;
    };
    if (!readTakeBuffer(take, text.data(), text.size(), "fuzz.take", warnings, error)) {
        if (!oneLineNamingTheFile(error) || take.frameCount != 1 || take.times.size() != 1 ||
            take.times[0] != 5.0 || !take.weights.empty() || warnings.size() != 1)
            __builtin_trap();
        return;
    }
    const size_t frames = size_t(take.frameCount);
    if (take.frameCount < 1 || take.times.size() != frames ||
        take.weights.size() != frames * arkitExpressionCount ||
        take.named.size() != size_t(arkitExpressionCount) ||
        !(take.rotations.empty() || take.rotations.size() == frames * takeRotationCount) ||
        take.times[0] != 0.0 || warnings.empty() || warnings[0] != "earlier")
        __builtin_trap();
    for (size_t f = 1; f < frames; ++f)
        if (!(take.times[f] >= take.times[f - 1]) || !std::isfinite(take.times[f]))
            __builtin_trap();
    for (float w : take.weights)
        if (!(w >= lowestTakeWeight && w <= highestTakeWeight))
            __builtin_trap();
    for (float r : take.rotations)
        if (!std::isfinite(r))
            __builtin_trap();
    for (size_t i = 1; i < warnings.size(); ++i)
        if (!oneLineNamingTheFile(warnings[i]))
            __builtin_trap();
    const int32_t last = take.frameCount - 1;
    if (takeFrameAt(take, -1.0) != 0 || takeFrameAt(take, take.times[frames - 1]) != last ||
        !(takeRate(take) >= 0.0))
        __builtin_trap();
}
