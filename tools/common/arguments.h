// Number arguments of the command-line tools.
#pragma once

#include "face/workers.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

// A whole decimal integer argument, at least minimum and at most INT32_MAX.
inline bool parseInteger(int32_t& value, const char* text, long minimum) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    value = static_cast<int32_t>(parsed);
    return end != text && *end == '\0' && parsed >= minimum && parsed <= INT32_MAX;
}

// A whole real argument that is a finite float.
inline bool parseFinite(float& value, const char* text) {
    char* end = nullptr;
    value = std::strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// What a bad --threads argument (or a missing one) is told.
inline std::string threadCountProblem() {
    return "--threads takes a whole number from 1 to " + std::to_string(maxThreadCount);
}

// The argument of --threads: a whole number from 1 to maxThreadCount. Otherwise false, with
// threadCountProblem() in problem.
inline bool parseThreadCount(int32_t& threads, const char* text, std::string& problem) {
    if (parseInteger(threads, text, 1) && threads <= maxThreadCount)
        return true;
    problem = threadCountProblem();
    return false;
}
