// Number arguments of the command-line tools.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>

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
