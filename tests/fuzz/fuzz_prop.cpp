// Fuzzes the prop reader on arbitrary bytes: no sanitizer report, and a read prop has its
// indices inside the mesh; a refusal is one line naming the file.
#include "io/prop.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PropData prop;
    std::string error;
    if (readPropBuffer(prop, reinterpret_cast<const char*>(data), size, "fuzz.prop", error)) {
        for (int32_t t = 0; t < prop.triangleCount; ++t)
            for (int k = 0; k < 3; ++k)
                if (prop.triangles[t].index[k] < 0 ||
                    prop.triangles[t].index[k] >= prop.vertexCount)
                    __builtin_trap();
    } else if (error.rfind("fuzz.prop", 0) != 0 || error.find('\n') != std::string::npos ||
               prop.positions) {
        __builtin_trap();
    }
    return 0;
}
