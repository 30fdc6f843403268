// The expression library carried to a fitted head, its closing poses corrected and every
// promise checked there (pose_transfer.h).
#include "tools/fit/pose_transfer.h"

#include "tools/assets/expressions.h"
#include "tools/common/symmetry.h"
#include "tools/fit/face_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// The aims of checkCarriedPoses (pose_transfer.h).
constexpr float blinkLargestGap = 0.10f, blinkLargestPass = 0.05f, otherEyeTolerance = 0.05f;
constexpr float jawLeastDrop = 0.04f;
constexpr float closeLargestGap = 0.10f;
constexpr float otherSideLargest = 0.10f;

// Secant steps of a closing pose's scale (the measure is nearly linear in it), and the
// largest scale taken: a head whose lids or lips W leaves nearly still (a mouth the jaw
// hardly opens) is not closed by a pose thrown many times its size.
constexpr int secantSteps = 8;
constexpr double largestClosingScale = 3.0;

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
    char text[200];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

bool endsWith(const std::string& text, const char* end) {
    const std::string e(end);
    return text.size() >= e.size() && text.compare(text.size() - e.size(), e.size(), e) == 0;
}

bool startsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

const NamedPose* findPose(const std::vector<NamedPose>& poses, const std::string& name) {
    for (const NamedPose& p : poses)
        if (p.name == name)
            return &p;
    return nullptr;
}

// The offsets (K) of moves scaled by scale, plus those of other (when not null).
void offsetsOf(std::vector<Vector3>& offsets, int32_t K, const NamedPose& pose, float scale,
               const NamedPose* other = nullptr) {
    offsets.assign(size_t(K), Vector3{0.0f, 0.0f, 0.0f});
    for (const ControlPointMove& m : pose.moves)
        offsets[size_t(m.index)] = offsets[size_t(m.index)] + m.delta * scale;
    if (other)
        for (const ControlPointMove& m : other->moves)
            offsets[size_t(m.index)] = offsets[size_t(m.index)] + m.delta;
}

// The height of feature a above feature b along up.
float heightAbove(const PosedFace& face, const FaceFeatures& f, FaceFeature a, FaceFeature b,
                  const Vector3& up) {
    return dot(face.positions[f.vertex[a]] - face.positions[f.vertex[b]], up);
}

float eyeGap(const PosedFace& face, const FaceFeatures& f, int eye, const Vector3& up) {
    return eye == 0 ? heightAbove(face, f, lidLeftUpper, lidLeftLower, up)
                    : heightAbove(face, f, lidRightUpper, lidRightLower, up);
}

// The secant root of g(k) = 0 from k = 1 (the pose as W carries it).
template <class G> float secantScale(G g, float tolerance) {
    double k0 = 1.0, g0 = g(k0), k1 = 1.1, g1 = g(k1);
    for (int step = 0; step < secantSteps && g1 != g0 && std::fabs(g1) > tolerance; ++step) {
        const double k2 = k1 - g1 * (k1 - k0) / (g1 - g0);
        k0 = k1;
        g0 = g1;
        k1 = std::min(largestClosingScale, std::max(0.0, k2));
        g1 = g(k1);
    }
    return float(k1);
}

// The render vertices of the head behind the face: behind the rearmost point of the fitted
// render mesh along its front by more than behindMargin of the face's height. A head's jaw
// reaches back past the default face's edge (by 2.7 % of the face's height on gpreg_male),
// and its vertices there hang on the jaw's edge and move with it.
constexpr float behindMargin = 0.05f;
void findVerticesBehind(std::vector<int32_t>& behind, const FaceModel& head, const FaceFit& fit) {
    behind.clear();
    for (int32_t v = 0; v < head.renderVertexCount; ++v)
        if (dot(head.attachments[v].restPosition, fit.front) <
            fit.back - behindMargin * fit.faceHeight)
            behind.push_back(v);
}

// The mirror partner of each control point of the default face (its rest points are
// symmetric about x = 0, so every pair is exact).
void findFaceMirrorPartners(std::vector<int32_t>& partners, const FaceFit& fit,
                            const DefaultFace& face) {
    const FaceModel& model = *face.model;
    MirrorPairs pairs;
    findMirrorPairs(pairs, face.rest.get(), model.controlPointCount, model.edges.get(),
                    model.edgeCount);
    partners.assign(pairs.partners.get(), pairs.partners.get() + pairs.count);
    (void)fit;
}

// A move mirrored across the fitted face's middle plane (side: its unit left-right axis).
Vector3 mirrored(const Vector3& m, const Vector3& side) { return m - side * (2.0f * dot(m, side)); }

} // namespace

void expressionPoses(std::vector<NamedPose>& poses, const std::vector<Expression>& expressions) {
    poses.clear();
    for (const Expression& e : expressions) {
        NamedPose pose;
        pose.name = e.name;
        for (size_t i = 0; i < e.offsets.size(); ++i) {
            const Vector3& d = e.offsets[i];
            if (d.x != 0.0f || d.y != 0.0f || d.z != 0.0f)
                pose.moves.push_back({int32_t(i), d});
        }
        poses.push_back(std::move(pose));
    }
}

void carryPoses(std::vector<NamedPose>& carried, const std::vector<NamedPose>& library,
                const FaceFit& fit, WorkerPool& workers) {
    // Every moved point of every pose at once, through W.
    std::vector<Vector3> moved;
    for (const NamedPose& pose : library)
        for (const ControlPointMove& m : pose.moves)
            moved.push_back(fit.placed[size_t(m.index)] + turnMove(fit.similarity, m.delta));
    std::vector<Vector3> warped(moved.size());
    warpPoints(warped.data(), fit.warp, moved.data(), int32_t(moved.size()), workers);
    carried.clear();
    size_t k = 0;
    for (const NamedPose& pose : library) {
        NamedPose c;
        c.name = pose.name;
        for (const ControlPointMove& m : pose.moves)
            c.moves.push_back({m.index, warped[k++] - fit.warped[size_t(m.index)]});
        carried.push_back(std::move(c));
    }
}

void findHeadFeatures(FaceFeatures& features, const FaceModel& headModel, const FaceFit& fit,
                      const DefaultFace& face) {
    const FaceModel& faceModel = *face.model;
    const int32_t N = headModel.renderVertexCount, L = headModel.controlTriangleCount;
    features.height = fit.faceHeight;
    for (int32_t f = 0; f < faceFeatureCount; ++f) {
        const int32_t own = faceModel.attachments[face.features.vertex[f]].subPatch / 3;
        // The feature's own triangle and those across its sides: the triangles around a
        // point of a cut (a lid's edge, the lip line) lie on both sides of it, while a side
        // on the cut belongs to one triangle only.
        std::vector<uint8_t> around(size_t(L), 0);
        if (own >= 0) {
            const Triangle& t = fit.controlTriangles[size_t(own)];
            for (int32_t u = 0; u < L; ++u) {
                int32_t shared = 0;
                for (int32_t j = 0; j < 3; ++j)
                    for (int32_t i = 0; i < 3; ++i)
                        shared += fit.controlTriangles[size_t(u)].index[j] == t.index[i];
                around[size_t(u)] = shared >= 2;
            }
        }
        // The nearest attached vertex near the feature's own control triangle, else the
        // nearest attached vertex.
        int32_t best[2] = {-1, -1};
        float distance[2] = {std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::infinity()};
        for (int32_t v = 0; v < N; ++v) {
            const int32_t s = headModel.attachments[v].subPatch;
            if (s < 0)
                continue;
            const float d = length(headModel.attachments[v].restPosition - fit.featurePoints[f]);
            for (int32_t r = around[size_t(s / 3)] ? 0 : 1; r < 2; ++r)
                if (d < distance[r]) {
                    distance[r] = d;
                    best[r] = v;
                }
        }
        features.vertex[f] = best[0] >= 0 ? best[0] : best[1];
        if (features.vertex[f] < 0)
            features.vertex[f] = 0;
    }
}

namespace {

// The scale found applied to the pose where it meets the aim; else the pose is kept as it is
// (a scale that does not close lids or lips painted on, not modelled, would only shrink or
// swell the move), with the measure the scale reached.
void settleCorrection(ClosingCorrection& c, NamedPose& pose, float scale, float after, bool meets) {
    c.untried = after;
    c.kept = !meets;
    if (!meets)
        return;
    c.scale = scale;
    c.after = after;
    for (ControlPointMove& m : pose.moves)
        m.delta = m.delta * scale;
}

} // namespace

void correctClosingPoses(std::vector<NamedPose>& carried,
                         std::vector<ClosingCorrection>& corrections, FaceModel& headModel,
                         const FaceFeatures& headFeatures, const FaceFit& fit, DefaultFace& face,
                         const std::vector<NamedPose>& library) {
    corrections.clear();
    const int32_t K = headModel.controlPointCount;
    std::vector<Vector3> offsets;
    PosedFace rest, posed;
    offsetsOf(offsets, K, NamedPose(), 0.0f);
    poseFace(rest, headModel, fit.controlPoints.data(), offsets.data());

    // The share of the rest gap the blink leaves on the default face.
    float faceShare[2] = {0.0f, 0.0f};
    {
        FaceModel& model = *face.model;
        PosedFace faceRest, facePosed;
        std::vector<Vector3> zero(size_t(model.controlPointCount), Vector3{0.0f, 0.0f, 0.0f});
        poseFace(faceRest, model, face.rest.get(), zero.data());
        for (int eye = 0; eye < 2; ++eye) {
            const NamedPose* blink = findPose(library, eye == 0 ? "eyeBlinkLeft" : "eyeBlinkRight");
            if (!blink)
                continue;
            offsetsOf(offsets, model.controlPointCount, *blink, 1.0f);
            poseFace(facePosed, model, face.rest.get(), offsets.data());
            faceShare[eye] =
                lidGap(facePosed, face.features, eye) / lidGap(faceRest, face.features, eye);
        }
    }

    for (int eye = 0; eye < 2; ++eye) {
        NamedPose* blink = nullptr;
        for (NamedPose& p : carried)
            if (p.name == (eye == 0 ? "eyeBlinkLeft" : "eyeBlinkRight"))
                blink = &p;
        if (!blink)
            continue;
        const float restGap = eyeGap(rest, headFeatures, eye, fit.up);
        const bool closed = restGap < closedEyeShare * fit.faceHeight;
        // The gap the blink aims at, and what the check measures against.
        const float reference = closed ? closedEyeShare * fit.faceHeight : restGap;
        const float target = closed ? std::min(restGap, 0.0f) : faceShare[eye] * restGap;
        auto gapAt = [&](double k) {
            offsetsOf(offsets, K, *blink, float(k));
            poseFace(posed, headModel, fit.controlPoints.data(), offsets.data());
            return eyeGap(posed, headFeatures, eye, fit.up);
        };
        ClosingCorrection c;
        c.name = blink->name;
        const float gap = gapAt(1.0);
        c.before = c.after = (gap - (closed ? std::min(restGap, 0.0f) : 0.0f)) / reference;
        const auto meets = [closed](float share) {
            return share >= -blinkLargestPass && (closed || share <= blinkLargestGap);
        };
        if (!meets(c.before)) {
            const float scale =
                secantScale([&](double k) { return (gapAt(k) - target) / reference; }, 1e-3f);
            const float after =
                (gapAt(scale) - (closed ? std::min(restGap, 0.0f) : 0.0f)) / reference;
            settleCorrection(c, *blink, scale, after, meets(after));
        }
        corrections.push_back(c);
    }

    // mouthClose against jawOpen: the lips' middles sealed.
    NamedPose* close = nullptr;
    for (NamedPose& p : carried)
        if (p.name == "mouthClose")
            close = &p;
    const NamedPose* jaw = findPose(carried, "jawOpen");
    if (close && jaw) {
        offsetsOf(offsets, K, *jaw, 1.0f);
        poseFace(posed, headModel, fit.controlPoints.data(), offsets.data());
        const float restGap = heightAbove(rest, headFeatures, lipUpper, lipLower, fit.up);
        const float jawGap = heightAbove(posed, headFeatures, lipUpper, lipLower, fit.up) - restGap;
        auto gapAt = [&](double k) {
            offsetsOf(offsets, K, *close, float(k), jaw);
            poseFace(posed, headModel, fit.controlPoints.data(), offsets.data());
            return (heightAbove(posed, headFeatures, lipUpper, lipLower, fit.up) - restGap) /
                   jawGap;
        };
        ClosingCorrection c;
        c.name = close->name;
        c.before = c.after = jawGap > 0.0f ? gapAt(1.0) : 0.0f;
        if (jawGap > 0.0f && std::fabs(c.before) > closeLargestGap) {
            const float scale = secantScale(gapAt, 1e-3f);
            const float after = gapAt(scale);
            settleCorrection(c, *close, scale, after, std::fabs(after) <= closeLargestGap);
        }
        corrections.push_back(c);
    }
}

int32_t checkCarriedPoses(std::vector<CarriedPoseCheck>& checks, FaceModel& headModel,
                          const FaceFeatures& f, const FaceFit& fit, const DefaultFace& face,
                          const std::vector<NamedPose>& carried) {
    checks.clear();
    const int32_t K = headModel.controlPointCount;
    const Vector3 side = unitOrZero(cross(fit.up, fit.front));
    std::vector<Vector3> offsets;
    PosedFace rest, posed;
    offsetsOf(offsets, K, NamedPose(), 0.0f);
    poseFace(rest, headModel, fit.controlPoints.data(), offsets.data());
    const float restGap[2] = {eyeGap(rest, f, 0, fit.up), eyeGap(rest, f, 1, fit.up)};
    const float restLips = heightAbove(rest, f, lipUpper, lipLower, fit.up);
    std::vector<int32_t> behind;
    findVerticesBehind(behind, headModel, fit);
    std::vector<int32_t> mirrorPartners;
    findFaceMirrorPartners(mirrorPartners, fit, face);
    const NamedPose* jaw = findPose(carried, "jawOpen");

    int32_t missed = 0;
    for (const NamedPose& pose : carried) {
        CarriedPoseCheck c;
        c.name = pose.name;
        offsetsOf(offsets, K, pose, 1.0f);
        poseFace(posed, headModel, fit.controlPoints.data(), offsets.data());
        const std::string& n = pose.name;
        const int sided = endsWith(n, "Left") ? 1 : endsWith(n, "Right") ? -1 : 0;
        auto move = [&](FaceFeature feature) { return featureMove(posed, rest, f, feature); };
        if (startsWith(n, "eyeBlink")) {
            const int eye = sided < 0 ? 1 : 0;
            const bool closed = restGap[eye] < closedEyeShare * fit.faceHeight;
            const float own = closed
                                  ? (eyeGap(posed, f, eye, fit.up) - std::min(restGap[eye], 0.0f)) /
                                        (closedEyeShare * fit.faceHeight)
                                  : eyeGap(posed, f, eye, fit.up) / restGap[eye];
            const bool otherClosed = restGap[1 - eye] < closedEyeShare * fit.faceHeight;
            const float other =
                otherClosed ? 1.0f : eyeGap(posed, f, 1 - eye, fit.up) / restGap[1 - eye];
            if (closed) {
                c.measured = format("the eye is closed at rest (gap %.2f %% of the face's height); "
                                    "the lids pass each other by %.1f %% of %.0f %% of it",
                                    100.0 * restGap[eye] / fit.faceHeight,
                                    -100.0 * std::min(own, 0.0f), 100.0 * closedEyeShare);
                c.aim = "the lids pass by at most 5 %";
                c.promised = own >= -blinkLargestPass;
            } else {
                c.measured = format("lid gap %.1f %% of rest; the other eye's %.1f %%", 100.0 * own,
                                    100.0 * other);
                c.aim = "gap at most 10 %, passing at most 5 %, the other eye within 5 %";
                c.promised = own <= blinkLargestGap && own >= -blinkLargestPass &&
                             std::fabs(other - 1.0f) <= otherEyeTolerance;
            }
        } else if (n == "jawOpen") {
            const float drop = -dot(move(lipLower), fit.up) / fit.faceHeight;
            const float opened =
                (heightAbove(posed, f, lipUpper, lipLower, fit.up) - restLips) / fit.faceHeight;
            c.measured = format("the lower lip's middle drops %.1f %% of the face's height, the "
                                "lips part %.1f %%",
                                100.0 * drop, 100.0 * opened);
            c.aim = "a drop of at least 4 %";
            c.promised = drop >= jawLeastDrop && opened > 0.0f;
        } else if (n == "mouthClose" && jaw) {
            PosedFace jawOnly;
            std::vector<Vector3> other;
            offsetsOf(other, K, *jaw, 1.0f);
            poseFace(jawOnly, headModel, fit.controlPoints.data(), other.data());
            const float jawGap = heightAbove(jawOnly, f, lipUpper, lipLower, fit.up) - restLips;
            offsetsOf(other, K, pose, 1.0f, jaw);
            PosedFace both;
            poseFace(both, headModel, fit.controlPoints.data(), other.data());
            c.aim = "at most 10 %";
            if (jawGap > 0.0f) {
                const float share =
                    (heightAbove(both, f, lipUpper, lipLower, fit.up) - restLips) / jawGap;
                c.measured = format("with jawOpen at 1, the lip gap is %.1f %% of jawOpen's alone",
                                    100.0 * share);
                c.promised = std::fabs(share) <= closeLargestGap;
            } else {
                c.measured = "jawOpen does not part the lips at their middle";
                c.promised = false;
            }
        } else if (sided != 0 && (startsWith(n, "mouthSmile") || startsWith(n, "mouthFrown") ||
                                  startsWith(n, "mouthDimple") || startsWith(n, "mouthStretch"))) {
            const Vector3 own = move(sided > 0 ? mouthLeft : mouthRight);
            const Vector3 other = move(sided > 0 ? mouthRight : mouthLeft);
            const float share = length(own) > 0.0f ? length(other) / length(own) : 1.0f;
            c.measured = format("its corner moves %.3f (up %.3f); the other %.1f %% of it",
                                length(own), dot(own, fit.up), 100.0 * share);
            c.aim = "the other corner at most 10 %";
            c.promised = length(own) > 0.0f && share <= otherSideLargest;
        }
        c.thrown = poseThrow(posed, rest, headModel, offsets.data());
        const float largest = largestMove(posed, rest);
        float behindMove = 0.0f;
        for (int32_t v : behind)
            behindMove = std::max(behindMove, length(posed.positions[v] - rest.positions[v]));
        c.behind = largest > 0.0f ? behindMove / largest : 0.0f;
        c.behindCount = int32_t(behind.size());
        if (sided < 0) {
            const NamedPose* leftPose = findPose(carried, n.substr(0, n.size() - 5) + "Left");
            if (leftPose) {
                // The moves of the control points, each against its mirror partner's in the
                // …Left pose mirrored across the fitted face's middle plane.
                std::vector<Vector3> leftOffsets;
                offsetsOf(leftOffsets, K, *leftPose, 1.0f);
                float departure = 0.0f, leftLargest = 0.0f;
                for (int32_t i = 0; i < K; ++i) {
                    leftLargest = std::max(leftLargest, length(leftOffsets[size_t(i)]));
                    const int32_t partner = mirrorPartners[size_t(i)];
                    if (partner >= 0)
                        departure = std::max(departure,
                                             length(offsets[size_t(i)] -
                                                    mirrored(leftOffsets[size_t(partner)], side)));
                }
                c.mirror = leftLargest > 0.0f ? departure / leftLargest : 0.0f;
            }
        }
        const bool met = c.promised && c.thrown <= maxPoseThrow && c.behind <= maxBehindMove &&
                         (c.mirror < 0.0f || c.mirror <= maxMirrorDeparture) && posed.finite;
        c.met = met;
        missed += !met;
        checks.push_back(std::move(c));
    }
    return missed;
}

void mirrorPairedPoses(std::vector<NamedPose>& carried, const FaceFit& fit,
                       const DefaultFace& face) {
    std::vector<int32_t> partners;
    findFaceMirrorPartners(partners, fit, face);
    const int32_t K = int32_t(partners.size());
    const Vector3 side = unitOrZero(cross(fit.up, fit.front));
    std::vector<Vector3> left, right;
    for (NamedPose& leftPose : carried) {
        if (!endsWith(leftPose.name, "Left"))
            continue;
        const std::string rightName = leftPose.name.substr(0, leftPose.name.size() - 4) + "Right";
        NamedPose* rightPose = nullptr;
        for (NamedPose& p : carried)
            if (p.name == rightName)
                rightPose = &p;
        if (!rightPose)
            continue;
        offsetsOf(left, K, leftPose, 1.0f);
        offsetsOf(right, K, *rightPose, 1.0f);
        std::vector<Vector3> pairedRight = right;
        for (int32_t i = 0; i < K; ++i) {
            const int32_t partner = partners[size_t(i)];
            if (partner >= 0)
                pairedRight[size_t(i)] =
                    (right[size_t(i)] + mirrored(left[size_t(partner)], side)) * 0.5f;
        }
        std::vector<Vector3> pairedLeft = left;
        for (int32_t i = 0; i < K; ++i) {
            const int32_t partner = partners[size_t(i)];
            if (partner >= 0)
                pairedLeft[size_t(i)] = mirrored(pairedRight[size_t(partner)], side);
        }
        // The moves again, of the points that move, in increasing index.
        const auto movesOf = [K](NamedPose& pose, const std::vector<Vector3>& offsets) {
            pose.moves.clear();
            for (int32_t i = 0; i < K; ++i) {
                const Vector3& d = offsets[size_t(i)];
                if (d.x != 0.0f || d.y != 0.0f || d.z != 0.0f)
                    pose.moves.push_back({i, d});
            }
        };
        movesOf(leftPose, pairedLeft);
        movesOf(*rightPose, pairedRight);
    }
}

void transferLibrary(LibraryTransfer& t, FaceModel& headModel, const FaceFit& fit,
                     DefaultFace& face, const std::vector<NamedPose>& library,
                     WorkerPool& workers) {
    carryPoses(t.poses, library, fit, workers);
    mirrorPairedPoses(t.poses, fit, face);
    findHeadFeatures(t.headFeatures, headModel, fit, face);
    correctClosingPoses(t.poses, t.corrections, headModel, t.headFeatures, fit, face, library);
    t.missed = checkCarriedPoses(t.checks, headModel, t.headFeatures, fit, face, t.poses);
}

void describeTransfer(std::string& text, const LibraryTransfer& t) {
    text = format("expressions: %.0f carried to the fitted control mesh, %.0f keep every aim\n",
                  double(t.poses.size()), double(int32_t(t.checks.size()) - t.missed));
    for (const ClosingCorrection& c : t.corrections) {
        if (c.kept)
            text += c.name +
                    format(" kept as the library's: no scale closes it on the head's own "
                           "geometry (%.1f %% as carried, %.1f %% at the nearest)",
                           100.0 * c.before, 100.0 * c.untried) +
                    (startsWith(c.name, "eyeBlink") ? " (lid gap against rest)\n"
                                                    : " (lip gap against jawOpen's)\n");
        if (c.scale != 1.0f)
            text += c.name +
                    format(" scaled by %.3f to close on the head's own geometry: %.1f %% before, "
                           "%.1f %% after",
                           c.scale, 100.0 * c.before, 100.0 * c.after) +
                    (startsWith(c.name, "eyeBlink") ? " (lid gap against rest)\n"
                                                    : " (lip gap against jawOpen's)\n");
    }
    for (const CarriedPoseCheck& c : t.checks) {
        if (c.met)
            continue;
        std::string why = c.promised ? "" : c.measured + " (aim: " + c.aim + ")";
        auto add = [&why](const std::string& part) { why += (why.empty() ? "" : "; ") + part; };
        if (c.thrown > maxPoseThrow)
            add(format("thrown %.3f (aim 1.5)", c.thrown));
        if (c.behind > maxBehindMove)
            add(format("a vertex behind the face moves %.1f %% of the largest move",
                       100.0 * c.behind));
        if (c.mirror > maxMirrorDeparture)
            add(format("mirror %.1f %% of its Left pose's largest move (aim %.0f %%)",
                       100.0 * c.mirror, 100.0 * maxMirrorDeparture));
        if (why.empty())
            why = "a position not finite";
        text += c.name + " misses an aim: " + why + "\n";
    }
}
