// Measures of a posed face at its features (expression_measures.h).
#include "tools/common/expression_measures.h"

#include "app/prop_frame.h"
#include "io/data_folder.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

const char* const faceFeatureNames[faceFeatureCount] = {
    "eye_left_outer",  "eye_left_inner",   "eye_right_outer",
    "eye_right_inner", "lid_left_upper",   "lid_left_lower",
    "lid_right_upper", "lid_right_lower",  "brow_left_inner",
    "brow_left_outer", "brow_right_inner", "brow_right_outer",
    "mouth_left",      "mouth_right",      "lip_upper",
    "lip_lower",       "nose_tip",         "chin",
    "lip_left_upper",  "lip_left_lower",   "lip_right_upper",
    "lip_right_lower", "cheek_left",       "cheek_right",
    "under_eye_left",  "under_eye_right",  "nose_wing_left",
    "nose_wing_right"};

namespace {

// The slots of the props in PropPart order: the eye at +x (the face's left) is white_eye1.
constexpr int32_t partSlot[propPartCount] = {0, 1, 3, 2};

Vector3 carry(const Matrix4& m, const Vector3& p) {
    const Vector4 q = m * Vector4{p.x, p.y, p.z, 1.0f};
    return {q.x, q.y, q.z};
}

} // namespace

void poseFace(PosedFace& face, FaceModel& model, const Vector3* rest, const Vector3* offsets) {
    const int32_t K = model.controlPointCount, N = model.renderVertexCount;
    std::vector<Vector3> points(rest, rest + K);
    for (int32_t i = 0; i < K; ++i)
        points[i] = rest[i] + offsets[i];
    if (face.vertexCount != N) {
        face.positions.reset(new Vector3[N]);
        face.normals.reset(new Vector3[N]);
        face.vertexCount = N;
    }
    model.update(face.positions.get(), face.normals.get(), points.data());
    face.finite = true;
    for (int32_t i = 0; i < N; ++i)
        face.finite = face.finite && isFinite(face.positions[i]);
    for (int32_t part = 0; part < propPartCount; ++part) {
        const PropSlotSource& source = propSlotSources[partSlot[part]];
        Vector3 A, B, C, a, b, c;
        propFramePoints(A, B, C, source, rest);
        propFramePoints(a, b, c, source, points.data());
        const PropFrame frame(A, B, C);
        face.propUsable[part] = frame.currentTransform(face.prop[part], a, b, c);
        face.finite = face.finite && face.propUsable[part];
    }
}

float lidGap(const PosedFace& face, const FaceFeatures& features, int32_t eye) {
    const FaceFeature upper = eye == 0 ? lidLeftUpper : lidRightUpper;
    const FaceFeature lower = eye == 0 ? lidLeftLower : lidRightLower;
    return face.positions[features.vertex[upper]].y - face.positions[features.vertex[lower]].y;
}

float lipGap(const PosedFace& face, const FaceFeatures& features) {
    return face.positions[features.vertex[lipUpper]].y -
           face.positions[features.vertex[lipLower]].y;
}

Vector3 featureMove(const PosedFace& face, const PosedFace& rest, const FaceFeatures& features,
                    FaceFeature feature) {
    const int32_t v = features.vertex[feature];
    return face.positions[v] - rest.positions[v];
}

void eyeTurn(float& pitchDegrees, float& yawDegrees, const PosedFace& face, int32_t eye) {
    const float* m = face.prop[eye == 0 ? leftEye : rightEye].m;
    const Vector3 look = unitOrZero({m[8], m[9], m[10]}); // the image of +z
    constexpr double degrees = 180.0 / 3.14159265358979323846;
    pitchDegrees = static_cast<float>(std::asin(std::max(-1.0f, std::min(1.0f, look.y))) * degrees);
    yawDegrees = static_cast<float>(std::atan2(look.x, look.z) * degrees);
}

float propMove(const PosedFace& face, PropPart part, const Vector3& point) {
    return length(carry(face.prop[part], point) - point);
}

float largestMove(const PosedFace& face, const PosedFace& rest) {
    float largest = 0.0f;
    for (int32_t v = 0; v < face.vertexCount; ++v)
        largest = std::max(largest, length(face.positions[v] - rest.positions[v]));
    return largest;
}

void mirrorRenderVertices(int32_t* partners, const Vector3* restPositions, int32_t N) {
    using Key = std::tuple<float, float, float>;
    std::map<Key, std::vector<int32_t>> at;
    for (int32_t v = 0; v < N; ++v)
        at[Key(restPositions[v].x, restPositions[v].y, restPositions[v].z)].push_back(v);
    for (const auto& entry : at) {
        const Key mirrored(-std::get<0>(entry.first), std::get<1>(entry.first),
                           std::get<2>(entry.first));
        const auto found = at.find(mirrored);
        const std::vector<int32_t>& own = entry.second;
        for (size_t k = 0; k < own.size(); ++k)
            partners[own[k]] =
                found != at.end() && k < found->second.size() ? found->second[k] : -1;
    }
}

float mirrorDeparture(const PosedFace& posed, const PosedFace& mirrored, const PosedFace& rest,
                      const int32_t* partners, int32_t N) {
    float departure = 0.0f, largest = 0.0f;
    for (int32_t v = 0; v < N; ++v) {
        const Vector3 move = posed.positions[v] - rest.positions[v];
        largest = std::max(largest, length(move));
        const int32_t p = partners[v];
        if (p < 0)
            continue;
        const Vector3 other = mirrored.positions[p] - rest.positions[p];
        departure = std::max(departure, length(move - Vector3{-other.x, other.y, other.z}));
    }
    return largest > 0.0f ? departure / largest : 0.0f;
}

float poseThrow(const PosedFace& face, const PosedFace& rest, const FaceModel& model,
                const Vector3* controlMoves) {
    const int32_t K = model.controlPointCount;
    // The largest move at each point and its neighbours.
    std::vector<float> around(K);
    for (int32_t i = 0; i < K; ++i)
        around[i] = length(controlMoves[i]);
    std::vector<float> reached(around);
    for (int32_t e = 0; e < model.edgeCount; ++e) {
        const Edge& edge = model.edges[e];
        reached[edge.a] = std::max(reached[edge.a], around[edge.b]);
        reached[edge.b] = std::max(reached[edge.b], around[edge.a]);
    }
    float largest = 0.0f;
    for (int32_t v = 0; v < model.renderVertexCount; ++v) {
        const int32_t s = model.attachments[v].subPatch;
        if (s < 0)
            continue;
        const Triangle& t = model.controlTriangles[s / 3];
        const float carried =
            std::max({reached[t.index[0]], reached[t.index[1]], reached[t.index[2]]});
        const float moved = length(face.positions[v] - rest.positions[v]);
        if (moved > 0.0f)
            largest = std::max(largest, carried > 0.0f ? moved / carried : INFINITY);
    }
    return largest;
}

FaceFeature mirrorFeature(FaceFeature f) {
    switch (f) {
    case lipUpper:
    case lipLower:
    case noseTip:
    case chin:
        return f;
    case mouthLeft:
        return mouthRight;
    case mouthRight:
        return mouthLeft;
    default:
        break;
    }
    // The pairs of the rest: left and right two apart from eyeLeftOuter to lipRightLower, one
    // apart from cheekLeft on.
    if (f >= cheekLeft)
        return static_cast<FaceFeature>((f - cheekLeft) % 2 == 0 ? f + 1 : f - 1);
    const int32_t base = f < mouthLeft ? eyeLeftOuter : lipLeftUpper;
    return static_cast<FaceFeature>((f - base) % 4 < 2 ? f + 2 : f - 2);
}

float featureMirrorDeparture(const PosedFace& posed, const PosedFace& mirrored,
                             const PosedFace& rest, const FaceFeatures& features) {
    float departure = 0.0f;
    const float largest = largestMove(posed, rest);
    for (int32_t f = 0; f < faceFeatureCount; ++f) {
        const FaceFeature feature = static_cast<FaceFeature>(f);
        if (mirrorFeature(feature) == feature)
            continue; // on the middle line: the binding's own symmetry, not the pose's
        const Vector3 move = featureMove(posed, rest, features, feature);
        const Vector3 other = featureMove(mirrored, rest, features, mirrorFeature(feature));
        departure = std::max(departure, length(move - Vector3{-other.x, other.y, other.z}));
    }
    return largest > 0.0f ? departure / largest : 0.0f;
}
