// Fuzzes the model reader on arbitrary bytes. Beyond the sanitizers, it checks what a read
// model promises (indices inside their meshes, finite values) and that the real-token
// conversion agrees bit for bit with strtod rounded to float on every token of the input.
#include "io/model_file.h"
#include "io/text_scanner.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void checkTriangles(const Triangle* triangles, int32_t count, int32_t vertexCount) {
    for (int32_t i = 0; i < 3 * count; ++i)
        check(triangles[i / 3].index[i % 3] >= 0 && triangles[i / 3].index[i % 3] < vertexCount);
}

void checkFinite(const Vector3* points, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        check(std::isfinite(points[i].x) && std::isfinite(points[i].y) &&
              std::isfinite(points[i].z));
}

// parseRealToken against atof's conversion: same float, or refused exactly when atof finds
// no number or a value that is not finite as a float.
void checkRealToken(const char* token, size_t length) {
    if (length > maxRealTokenLength || std::memchr(token, '\0', length))
        return;
    char buffer[maxRealTokenLength + 1];
    std::memcpy(buffer, token, length);
    buffer[length] = '\0';
    char* stop = nullptr;
    const float expected = static_cast<float>(std::strtod(buffer, &stop));
    float value = 0.0f;
    const RealTokenStatus status = parseRealToken(value, token, length);
    if (stop == buffer)
        check(status == RealTokenStatus::noNumber);
    else if (!std::isfinite(expected))
        check(status == RealTokenStatus::notFinite);
    else
        check(status == RealTokenStatus::ok && std::memcmp(&value, &expected, sizeof value) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    ModelData model;
    std::string error;
    if (readModelBuffer(model, text, size, "fuzz.model", error)) {
        checkTriangles(model.renderTriangles.get(), model.renderTriangleCount,
                       model.renderVertexCount);
        checkTriangles(model.controlTriangles.get(), model.controlTriangleCount,
                       model.controlPointCount);
        checkFinite(model.renderPositions.get(), model.renderVertexCount);
        checkFinite(model.controlPoints.get(), model.controlPointCount);
    } else {
        check(!error.empty() && error.find('\n') == std::string::npos);
        check(error.rfind("fuzz.model", 0) == 0);
        check(model.renderVertexCount == 0 && !model.renderPositions);
    }
    for (size_t i = 0; i < size;) {
        while (i < size && isTokenSpace(text[i]))
            ++i;
        const size_t start = i;
        while (i < size && !isTokenSpace(text[i]))
            ++i;
        if (i > start)
            checkRealToken(text + start, i - start);
    }
    return 0;
}
