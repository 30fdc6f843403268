#include "tools/inspect/scene_animation.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <cstring>

void takeAnimation(SceneAnimation& animation, const std::string& name, const Take& take,
                   const NamedPose* poses, size_t count, const ImportRecord* record,
                   const Vector3& pivot, bool headTurn) {
    animation = SceneAnimation();
    animation.name = name;
    std::vector<int32_t> expression(count, -1);
    for (size_t k = 0; k < count; ++k)
        for (int32_t e = 0; e < arkitExpressionCount; ++e)
            if (poses[k].name == arkitExpressionNames[e])
                expression[k] = e;
    // The placement's rotation R (rows) and its determinant: a turn Q about axis a in model
    // units is Rᵀ·Q·R in the scene's, the turn about det(R)·Rᵀ·a by the same angle.
    float R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    if (record)
        std::memcpy(R, record->rotation, sizeof R);
    const float det = R[0][0] * (R[1][1] * R[2][2] - R[1][2] * R[2][1]) -
                      R[0][1] * (R[1][0] * R[2][2] - R[1][2] * R[2][0]) +
                      R[0][2] * (R[1][0] * R[2][1] - R[1][1] * R[2][0]);
    const bool turning = headTurn && !take.rotations.empty();
    animation.pivot = record ? sourcePosition(*record, pivot) : pivot;
    for (int32_t f = 0; f < take.frameCount; ++f) {
        const float time = float(take.times[size_t(f)]);
        if (!animation.times.empty() && !(time > animation.times.back()))
            continue;
        animation.times.push_back(time);
        animation.frames.push_back(f);
        const float* weights = &take.weights[size_t(f) * arkitExpressionCount];
        for (size_t k = 0; k < count; ++k)
            animation.weights.push_back(expression[k] < 0 ? 0.0f : weights[expression[k]]);
        if (!turning)
            continue;
        const Quaternion q = takeHeadTurn(take, f);
        const Vector3 v = {q.x, q.y, q.z};
        const Vector3 a = {R[0][0] * v.x + R[1][0] * v.y + R[2][0] * v.z,
                           R[0][1] * v.x + R[1][1] * v.y + R[2][1] * v.z,
                           R[0][2] * v.x + R[1][2] * v.y + R[2][2] * v.z};
        const float s = det < 0.0f ? -1.0f : 1.0f;
        animation.turns.push_back({s * a.x, s * a.y, s * a.z, q.w});
    }
}

namespace {

using Json = nlohmann::json;

// Appends count floats to bin (4-byte aligned) as a buffer view and an accessor of type
// ("SCALAR", "VEC4"); returns the accessor's index.
size_t appendAccessor(Json& gltf, std::string& bin, const float* values, size_t count,
                      size_t components, const char* type, bool bounds) {
    bin.resize((bin.size() + 3) / 4 * 4, '\0');
    const size_t offset = bin.size(), bytes = count * components * sizeof(float);
    bin.append(reinterpret_cast<const char*>(values), bytes);
    gltf["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}});
    Json accessor = {{"bufferView", gltf["bufferViews"].size() - 1},
                     {"componentType", 5126}, // FLOAT
                     {"count", count * (std::strcmp(type, "SCALAR") == 0 ? components : 1)},
                     {"type", type}};
    if (bounds) { // key times: their first and last
        accessor["min"] = {values[0]};
        accessor["max"] = {values[count - 1]};
    }
    gltf["accessors"].push_back(accessor);
    return gltf["accessors"].size() - 1;
}

uint32_t word(const std::string& bytes, size_t at) {
    uint32_t w;
    std::memcpy(&w, bytes.data() + at, 4);
    return w;
}

} // namespace

bool animateGlb(std::string& glb, const SceneAnimation& animation, size_t shapeCount,
                std::string& problem) {
    // Header (magic, version, length), the JSON chunk, the binary chunk (length, type, data).
    if (glb.size() < 20 || word(glb, 0) != 0x46546C67u)
        return problem = "not a binary glTF file", false;
    const size_t jsonLength = word(glb, 12);
    if (word(glb, 16) != 0x4E4F534Au || jsonLength > glb.size() - 20)
        return problem = "its JSON chunk is not where a glb has it", false;
    const size_t binStart = 20 + jsonLength;
    if (glb.size() - binStart < 8 || word(glb, binStart + 4) != 0x004E4942u ||
        word(glb, binStart) > glb.size() - binStart - 8)
        return problem = "it has no binary chunk after its JSON", false;
    Json gltf = Json::parse(glb.begin() + 20, glb.begin() + long(binStart), nullptr, false);
    if (gltf.is_discarded() || !gltf.contains("buffers") || gltf["buffers"].empty())
        return problem = "its JSON does not parse or names no buffer", false;
    const size_t F = animation.times.size();
    if (F == 0)
        return problem = "the animation has no key", false;
    size_t binLength = gltf["buffers"][0].value("byteLength", size_t(0));
    if (binLength > word(glb, binStart))
        return problem = "its buffer is longer than its binary chunk", false;
    std::string bin = glb.substr(binStart + 8, binLength);

    Json samplers = Json::array(), channels = Json::array();
    const size_t times = appendAccessor(gltf, bin, animation.times.data(), F, 1, "SCALAR", true);
    if (shapeCount > 0) {
        const size_t weights =
            appendAccessor(gltf, bin, animation.weights.data(), F, shapeCount, "SCALAR", false);
        Json& nodes = gltf["nodes"];
        for (size_t n = 0; n < nodes.size(); ++n) {
            if (!nodes[n].contains("mesh"))
                continue;
            const Json& primitives = gltf["meshes"][nodes[n]["mesh"].get<size_t>()]["primitives"];
            if (primitives.empty() || !primitives[0].contains("targets") ||
                primitives[0]["targets"].size() != shapeCount)
                continue;
            channels.push_back(
                {{"sampler", samplers.size()}, {"target", {{"node", n}, {"path", "weights"}}}});
            samplers.push_back(
                {{"input", times}, {"output", weights}, {"interpolation", "LINEAR"}});
        }
    }
    if (!animation.turns.empty()) {
        if (!gltf.contains("scenes") || gltf["scenes"].empty())
            return problem = "it has no scene to turn", false;
        const size_t turns = appendAccessor(gltf, bin, &animation.turns[0].x, F, 4, "VEC4", false);
        const Vector3& p = animation.pivot;
        Json& scene = gltf["scenes"][gltf.value("scene", size_t(0))];
        Json& nodes = gltf["nodes"];
        const size_t turn = nodes.size();
        nodes.push_back(
            {{"name", "head turn"}, {"translation", {p.x, p.y, p.z}}, {"children", {turn + 1}}});
        nodes.push_back({{"name", "head turn pivot"},
                         {"translation", {-p.x, -p.y, -p.z}},
                         {"children", scene["nodes"]}});
        scene["nodes"] = {turn};
        channels.push_back(
            {{"sampler", samplers.size()}, {"target", {{"node", turn}, {"path", "rotation"}}}});
        samplers.push_back({{"input", times}, {"output", turns}, {"interpolation", "LINEAR"}});
    }
    gltf["animations"].push_back(
        {{"name", animation.name}, {"samplers", samplers}, {"channels", channels}});
    gltf["buffers"][0]["byteLength"] = bin.size();

    std::string json = gltf.dump();
    json.resize((json.size() + 3) / 4 * 4, ' ');
    bin.resize((bin.size() + 3) / 4 * 4, '\0');
    std::string out(20, '\0');
    const uint32_t header[5] = {0x46546C67u, 2u, uint32_t(20 + json.size() + 8 + bin.size()),
                                uint32_t(json.size()), 0x4E4F534Au};
    std::memcpy(&out[0], header, 20);
    out += json;
    const uint32_t binHeader[2] = {uint32_t(bin.size()), 0x004E4942u};
    out.append(reinterpret_cast<const char*>(binHeader), 8);
    out += bin;
    glb.swap(out);
    return true;
}
