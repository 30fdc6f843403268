// Fuzzes the pose reader on arbitrary bytes: no sanitizer report; a read pose has its
// indices below the model's control points and finite offsets within the bound; a refusal
// is one line naming the file and adds no move.
#include "io/pose_file.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr int32_t controlPoints = 240;
    std::vector<ControlPointMove> moves;
    std::string error;
    if (readPoseBuffer(moves, reinterpret_cast<const char*>(data), size, "fuzz.txt", controlPoints,
                       error)) {
        for (const ControlPointMove& m : moves)
            if (m.index < 0 || m.index >= controlPoints ||
                !(std::fabs(m.delta.x) <= largestPoseOffset) ||
                !(std::fabs(m.delta.y) <= largestPoseOffset) ||
                !(std::fabs(m.delta.z) <= largestPoseOffset))
                __builtin_trap();
    } else if (error.rfind("fuzz.txt", 0) != 0 || error.find('\n') != std::string::npos ||
               !moves.empty()) {
        __builtin_trap();
    }
    return 0;
}
