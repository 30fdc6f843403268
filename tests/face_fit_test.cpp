// The default face fitted to a head by its landmarks, and its expression library carried
// over: the pieces on hand-solved cases, the default face fitted to a moved copy of itself
// (which must give back its own control mesh and poses, moved), a symmetric head that every
// carried pose keeps its promises on, and heads nobody here made, with hand-placed landmarks
// (tests/landmarks/).
#include "face/workers.h"
#include "io/normals.h"
#include "tools/assets/expressions.h"
#include "tools/fit/face_fit.h"
#include "tools/fit/face_warp.h"
#include "tools/fit/head_library.h"
#include "tools/fit/pose_transfer.h"
#include "tools/fit/surface_query.h"
#include "tools/import/import_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The default face and its library, built once for the tests here.
DefaultFace& defaultFace() {
    static DefaultFace face;
    if (face.model == nullptr)
        buildDefaultFace(face);
    return face;
}

const std::vector<NamedPose>& library() {
    static std::vector<NamedPose> poses;
    if (poses.empty()) {
        std::vector<Expression> expressions;
        buildExpressions(expressions, defaultFace());
        expressionPoses(poses, expressions);
    }
    return poses;
}

// A similarity in double: p ↦ scale · R · p + shift, R turning by angle about axis.
struct Motion {
    double scale;
    double R[3][3];
    double shift[3];
};

Motion makeMotion(double scale, Vector3 axis, double angle, Vector3 shift) {
    Motion m;
    m.scale = scale;
    const double len =
        std::sqrt(double(axis.x) * axis.x + double(axis.y) * axis.y + double(axis.z) * axis.z);
    const double k[3] = {axis.x / len, axis.y / len, axis.z / len};
    const double c = std::cos(angle), s = std::sin(angle);
    for (int r = 0; r < 3; ++r)
        for (int q = 0; q < 3; ++q)
            m.R[r][q] = (r == q ? c : 0.0) + (1.0 - c) * k[r] * k[q];
    m.R[0][1] -= s * k[2];
    m.R[0][2] += s * k[1];
    m.R[1][0] += s * k[2];
    m.R[1][2] -= s * k[0];
    m.R[2][0] -= s * k[1];
    m.R[2][1] += s * k[0];
    m.shift[0] = shift.x;
    m.shift[1] = shift.y;
    m.shift[2] = shift.z;
    return m;
}

Vector3 moved(const Motion& m, const Vector3& p, bool point = true) {
    double out[3];
    for (int r = 0; r < 3; ++r)
        out[r] = m.scale * (m.R[r][0] * p.x + m.R[r][1] * p.y + m.R[r][2] * p.z) +
                 (point ? m.shift[r] : 0.0);
    return {float(out[0]), float(out[1]), float(out[2])};
}

// A head: a triangle mesh and its landmarks, in one frame.
struct Head {
    std::vector<Vector3> positions;
    std::vector<TexCoord> texCoords;
    std::vector<Triangle> triangles;
    Vector3 landmarks[fitLandmarkCount];
};

// The default face's render mesh moved by m; triangles shuffled (each turned to start at
// another corner, the winding kept) and the vertices of triangles above y = 0.7 split from
// those below where both use them (a texture seam as glTF splits it) when reorder is set.
// landmarks: the moved feature vertices.
void copyDefaultFace(Head& head, const Motion& m, bool reorder) {
    const FaceModel& model = *defaultFace().model;
    const int32_t N = model.renderVertexCount, M = model.renderTriangleCount;
    head.positions.resize(size_t(N));
    head.texCoords.assign(size_t(N), TexCoord{0.0f, 0.0f});
    for (int32_t v = 0; v < N; ++v)
        head.positions[size_t(v)] = moved(m, model.attachments[v].restPosition);
    head.triangles.assign(model.renderTriangles.get(), model.renderTriangles.get() + M);
    for (int32_t k = 0; k < fitLandmarkCount; ++k)
        head.landmarks[k] = head.positions[size_t(defaultFace().features.vertex[k])];
    if (!reorder)
        return;
    std::vector<int32_t> copyOf(size_t(N), -1);
    std::vector<uint8_t> below(size_t(N), 0);
    auto above = [&](const Triangle& t) {
        float y = 0.0f;
        for (int j = 0; j < 3; ++j)
            y += model.attachments[t.index[j]].restPosition.y;
        return y > 3.0f * 0.7f;
    };
    for (const Triangle& t : head.triangles)
        if (!above(t))
            for (int j = 0; j < 3; ++j)
                below[size_t(t.index[j])] = 1;
    for (Triangle& t : head.triangles)
        if (above(t))
            for (int j = 0; j < 3; ++j) {
                const int32_t v = t.index[j];
                if (!below[size_t(v)])
                    continue;
                if (copyOf[size_t(v)] < 0) {
                    copyOf[size_t(v)] = int32_t(head.positions.size());
                    head.positions.push_back(head.positions[size_t(v)]);
                    head.texCoords.push_back(TexCoord{0.5f, 0.5f});
                }
                t.index[j] = copyOf[size_t(v)];
            }
    std::mt19937 random(20261209);
    std::shuffle(head.triangles.begin(), head.triangles.end(), random);
    for (size_t i = 0; i < head.triangles.size(); ++i) {
        Triangle& t = head.triangles[i];
        const int turn = int(i % 3);
        const Triangle o = t;
        for (int j = 0; j < 3; ++j)
            t.index[j] = o.index[(j + turn) % 3];
    }
}

bool fitHead(FaceFit& fit, const Head& head, WorkerPool& workers = sharedWorkers()) {
    std::string error;
    const bool fitted = fitDefaultFace(
        fit, error, head.positions.data(), int32_t(head.positions.size()), head.triangles.data(),
        int32_t(head.triangles.size()), head.landmarks, defaultFace(), FitSettings(), workers);
    EXPECT_TRUE(fitted) << error;
    return fitted;
}

// The head's render mesh bound to the fitted control mesh, as face-import binds it.
std::unique_ptr<FaceModel> bindHead(const Head& head, const FaceFit& fit) {
    const int32_t N = int32_t(head.positions.size()), M = int32_t(head.triangles.size());
    std::vector<Vector3> normals(static_cast<size_t>(N));
    computeMeshNormals(normals.data(), head.positions.data(), N, head.triangles.data(), M);
    return std::unique_ptr<FaceModel>(new FaceModel(
        fit.controlPoints.data(), int32_t(fit.controlPoints.size()), fit.controlTriangles.data(),
        int32_t(fit.controlTriangles.size()), head.positions.data(), normals.data(),
        head.texCoords.data(), N, head.triangles.data(), M));
}

int32_t attachedCount(const FaceModel& model) {
    int32_t attached = 0;
    for (int32_t v = 0; v < model.renderVertexCount; ++v)
        attached += model.attachments[v].subPatch >= 0;
    return attached;
}

bool noFaults(const CageFaults& faults) {
    for (const std::vector<int32_t>& list : faults.triangles)
        if (!list.empty())
            return false;
    return true;
}

const CarriedPoseCheck* checkOf(const LibraryTransfer& t, const std::string& name) {
    for (const CarriedPoseCheck& c : t.checks)
        if (c.name == name)
            return &c;
    return nullptr;
}

} // namespace

// ---- The pieces ------------------------------------------------------------------------

// Seeded random similarities are recovered from their images of 18 points; points on one
// line, or images all on one point, decide none.
TEST(FaceFit, SimilarityIsRecoveredFromLandmarks) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> u(-5.0f, 5.0f);
    for (int trial = 0; trial < 20; ++trial) {
        const Motion m = makeMotion(0.1 + 0.2 * trial, {u(random), u(random), u(random)},
                                    0.3 * trial, {u(random), u(random), u(random)});
        Vector3 from[fitLandmarkCount], to[fitLandmarkCount];
        for (int k = 0; k < fitLandmarkCount; ++k) {
            from[k] = {u(random), u(random), u(random)};
            to[k] = moved(m, from[k]);
        }
        Similarity s;
        ASSERT_TRUE(fitSimilarity(s, from, to, fitLandmarkCount));
        EXPECT_NEAR(s.scale, m.scale, 1e-5 * m.scale) << trial;
        for (int r = 0; r < 3; ++r) {
            for (int q = 0; q < 3; ++q)
                EXPECT_NEAR(s.rotation[r][q], m.R[r][q], 1e-5) << trial;
            EXPECT_NEAR(s.translation[r], m.shift[r], 1e-4) << trial;
        }
    }
    struct Case {
        const char* what;
        Vector3 from[4], to[4];
        int count;
    };
    const Case refused[] = {
        {"points on one line",
         {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {-3, -3, -3}},
         {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
         4},
        {"images on one point",
         {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
         {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}, {2, 2, 2}},
         4},
        {"two points", {{0, 0, 0}, {1, 0, 0}}, {{0, 0, 0}, {1, 0, 0}}, 2},
    };
    for (const Case& c : refused) {
        Similarity s;
        EXPECT_FALSE(fitSimilarity(s, c.from, c.to, c.count)) << c.what;
    }
}

// The nearest point of a triangle, worked by hand for each of its regions.
TEST(FaceFit, ClosestPointOnTriangleByRegion) {
    const Vector3 a = {0, 0, 0}, b = {4, 0, 0}, c = {0, 4, 0};
    struct Case {
        Vector3 query, expected;
        int32_t feature;
    };
    const Case cases[] = {
        {{1, 1, 3}, {1, 1, 0}, 0},   // above the inside
        {{2, -2, 1}, {2, 0, 0}, 1},  // beyond side a-b
        {{3, 3, -1}, {2, 2, 0}, 2},  // beyond the long side b-c
        {{-1, 2, 0}, {0, 2, 0}, 3},  // beyond side c-a
        {{-1, -1, 5}, {0, 0, 0}, 4}, // beyond corner a
        {{6, -1, 0}, {4, 0, 0}, 5},  // beyond corner b
        {{-1, 7, 2}, {0, 4, 0}, 6},  // beyond corner c
    };
    for (const Case& k : cases) {
        double w[3];
        int32_t feature = -1;
        const Vector3 p = closestPointOnTriangle(w, feature, k.query, a, b, c);
        EXPECT_EQ(feature, k.feature);
        EXPECT_NEAR(p.x, k.expected.x, 1e-6f);
        EXPECT_NEAR(p.y, k.expected.y, 1e-6f);
        EXPECT_NEAR(p.z, k.expected.z, 1e-6f);
        EXPECT_NEAR(w[0] + w[1] + w[2], 1.0, 1e-12);
    }
    // A triangle with two corners on one point is a segment.
    double w[3];
    int32_t feature = -1;
    const Vector3 p = closestPointOnTriangle(w, feature, {1, 2, 0}, a, b, b);
    EXPECT_NEAR(p.x, 1.0f, 1e-6f);
    EXPECT_NEAR(p.y, 0.0f, 1e-6f);
}

// The border of a mesh, welded by position: an open square of two triangles (its vertices
// split along the diagonal, as a texture seam splits them) has four border sides and a
// closed tetrahedron none; a query beyond the square's edge lands on its border.
TEST(FaceFit, SurfaceBorderIsFoundAcrossSplitVertices) {
    const Vector3 square[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}};
    const Triangle squareTriangles[] = {{{0, 1, 2}}, {{5, 3, 4}}};
    const Vector3 tetrahedron[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const Triangle tetrahedronTriangles[] = {{{0, 2, 1}}, {{0, 1, 3}}, {{1, 2, 3}}, {{0, 3, 2}}};
    struct Case {
        const Vector3* positions;
        int32_t N;
        const Triangle* triangles;
        int32_t M;
        int32_t points, borderSides;
    };
    const Case cases[] = {{square, 6, squareTriangles, 2, 4, 4},
                          {tetrahedron, 4, tetrahedronTriangles, 4, 4, 0}};
    for (const Case& c : cases) {
        QuerySurface s;
        buildQuerySurface(s, c.positions, c.N, c.triangles, c.M);
        EXPECT_EQ(int32_t(s.positions.size()), c.points);
        int32_t sides = 0;
        for (uint8_t bits : s.borderSides)
            sides += (bits & 1) + ((bits >> 1) & 1) + ((bits >> 2) & 1);
        EXPECT_EQ(sides, c.borderSides);
    }
    QuerySurface s;
    buildQuerySurface(s, square, 6, squareTriangles, 2);
    SurfacePoint inside, beyond;
    closestSurfacePoint(inside, s, {0.3f, 0.6f, 2.0f});
    closestSurfacePoint(beyond, s, {0.5f, -1.0f, 0.5f});
    EXPECT_FALSE(inside.onBorder);
    EXPECT_NEAR(inside.distance, 2.0f, 1e-6f);
    EXPECT_NEAR(inside.normal.z, 1.0f, 1e-6f);
    EXPECT_TRUE(beyond.onBorder);
    EXPECT_NEAR(beyond.point.y, 0.0f, 1e-6f);
}

// Every node carrying the same affine map A p + t carries every point near the face, on it or
// off it, by that map; the identity carries every point to itself, bit for bit.
TEST(FaceFit, WarpCarriesAGlobalAffineMapEverywhere) {
    const FaceModel& model = *defaultFace().model;
    std::vector<Vector3> rest(size_t(model.renderVertexCount));
    for (int32_t v = 0; v < model.renderVertexCount; ++v)
        rest[size_t(v)] = model.attachments[v].restPosition;
    FaceWarp warp;
    spreadWarpNodes(warp, rest.data(), model.renderVertexCount, 0.5f);
    ASSERT_GT(warp.nodes.size(), size_t(100));
    std::mt19937 random(11);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<Vector3> points;
    for (int32_t v = 0; v < model.renderVertexCount; v += 37)
        points.push_back(rest[size_t(v)] + Vector3{u(random), u(random), u(random)});
    std::vector<Vector3> out(points.size());
    warpPoints(out.data(), warp, points.data(), int32_t(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_TRUE(out[i] == points[i]) << i;

    const double A[3][3] = {{1.1, 0.2, -0.1}, {-0.05, 0.9, 0.3}, {0.0, 0.1, 1.2}};
    const double t[3] = {0.5, -2.0, 1.0};
    for (size_t j = 0; j < warp.nodes.size(); ++j) {
        // T_j(p) = g_j + t_j + A (p − g_j) = A p + t when t_j = t + A g_j − g_j.
        const double g[3] = {warp.nodes[j].x, warp.nodes[j].y, warp.nodes[j].z};
        for (int r = 0; r < 3; ++r) {
            for (int q = 0; q < 3; ++q)
                warp.transforms[12 * j + 3 * size_t(r) + size_t(q)] = A[r][q];
            warp.transforms[12 * j + 9 + size_t(r)] =
                t[r] + A[r][0] * g[0] + A[r][1] * g[1] + A[r][2] * g[2] - g[r];
        }
    }
    warpPoints(out.data(), warp, points.data(), int32_t(points.size()));
    for (size_t i = 0; i < points.size(); ++i) {
        const Vector3& p = points[i];
        for (int r = 0; r < 3; ++r) {
            const double expected = A[r][0] * p.x + A[r][1] * p.y + A[r][2] * p.z + t[r];
            EXPECT_NEAR((&out[i].x)[r], expected, 1e-5) << i;
        }
    }
}

// ---- The default face fitted to copies of itself -----------------------------------------

// The default face fitted to a copy of itself, moved, turned and scaled, its triangles
// reordered and a seam split, gives back its own control mesh and poses, moved, turned and
// scaled. The tolerance is 2e-6 of the copy's face height (8.5e-5 units here, some 20 units
// in the last place of its largest coordinates, about 60): the copy's coordinates are
// rounded to floats, and the similarity from 18 landmarks, the closest points and each solve
// of the fit carry that rounding (3.7e-5 at worst on this machine). A fault of the fit (a
// node's map, a wrong closest point, a point put on the surface at the wrong height) moves
// points by a thousandth of a unit or more.
TEST(FaceFit, CopyOfTheDefaultFaceGivesBackItsOwnControlMeshAndPoses) {
    const Motion m = makeMotion(2.5, {1.0f, 2.0f, 0.5f}, 0.6, {3.0f, -7.0f, 12.0f});
    Head head;
    copyDefaultFace(head, m, true);
    FaceFit fit;
    ASSERT_TRUE(fitHead(fit, head));
    const DefaultFace& face = defaultFace();
    const int32_t K = face.model->controlPointCount;
    const float tolerance = 2e-6f * fit.faceHeight;
    EXPECT_NEAR(fit.faceHeight, 2.5f * face.features.height, 1e-4f);
    ASSERT_EQ(int32_t(fit.controlPoints.size()), K);
    float worst = 0.0f;
    for (int32_t i = 0; i < K; ++i)
        worst = std::max(worst, length(fit.controlPoints[size_t(i)] - moved(m, face.rest[i])));
    EXPECT_LT(worst, tolerance);
    for (int32_t t = 0; t < face.model->controlTriangleCount; ++t)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(fit.controlTriangles[size_t(t)].index[j],
                      face.model->controlTriangles[t].index[j]);
    EXPECT_TRUE(noFaults(fit.faults));
    EXPECT_EQ(fit.figures.heldBack + fit.figures.drawnBack, 0);
    EXPECT_LT(fit.figures.distance95, 1e-5f);
    for (int k = 0; k < fitLandmarkCount; ++k)
        EXPECT_LT(fit.figures.landmarkResidual[k], 1e-5f) << faceFeatureNames[k];

    std::vector<NamedPose> carried;
    carryPoses(carried, library(), fit);
    ASSERT_EQ(carried.size(), library().size());
    float worstMove = 0.0f;
    for (size_t p = 0; p < carried.size(); ++p) {
        ASSERT_EQ(carried[p].moves.size(), library()[p].moves.size());
        for (size_t i = 0; i < carried[p].moves.size(); ++i) {
            const ControlPointMove& c = carried[p].moves[i];
            const ControlPointMove& l = library()[p].moves[i];
            EXPECT_EQ(c.index, l.index);
            worstMove = std::max(worstMove, length(c.delta - moved(m, l.delta, false)));
        }
    }
    EXPECT_LT(worstMove, tolerance);
}

// face-import's placement of a head that wears the library lays the landmarks of a copy of the
// default face (a quarter or half turn, in metres or at 25 times, moved anywhere) back over
// the default face's features: its face as large and where the default face's is.
TEST(FaceFit, PlacementLaysTheFaceOverTheDefaultFace) {
    const DefaultFace& face = defaultFace();
    const Motion motions[] = {
        makeMotion(1.0, {0.0f, 1.0f, 0.0f}, 0.0, {0.0f, 0.0f, 0.0f}),
        makeMotion(0.01, {1.0f, 0.0f, 0.0f}, 0.5 * M_PI, {3.0f, 4.0f, 5.0f}),
        makeMotion(25.0, {0.0f, 0.0f, 1.0f}, M_PI, {-100.0f, 0.0f, 40.0f}),
        makeMotion(3.7, {0.0f, 1.0f, 0.0f}, -0.5 * M_PI, {0.0f, -2.0f, 1.0f}),
    };
    for (const Motion& m : motions) {
        SCOPED_TRACE(m.scale);
        Landmarks landmarks;
        std::vector<Vector3> points;
        for (int32_t i = 0; i < landmarkCount; ++i) {
            const Point3& d = face.render.positions[size_t(face.features.vertex[i])];
            landmarks.points[i] = moved(m, {float(d.x), float(d.y), float(d.z)});
            landmarks.given[i] = true;
            points.push_back(landmarks.points[i]);
        }
        Vector3 up, front;
        faceAxes(up, front, landmarks);
        Placement placement;
        std::string error;
        ASSERT_TRUE(computePlacement(placement, points, up, front, 16.0f, error)) << error;
        facePlacement(placement.scale, placement.centre, landmarks, up, front, face);
        applyPlacement(points, placement);
        for (int32_t i = 0; i < landmarkCount; ++i) {
            const Point3& d = face.render.positions[size_t(face.features.vertex[i])];
            EXPECT_LT(length(points[size_t(i)] - Vector3{float(d.x), float(d.y), float(d.z)}),
                      1e-5f * face.features.height)
                << faceFeatureNames[i];
        }
    }
}

// On the copy the head's features are the default face's own feature vertices: the upper
// lip's vertex and the lower lip's lie on one point and are told apart by the control
// triangles they hang on.
TEST(FaceFit, HeadFeaturesAreTheFeatureVerticesOfACopy) {
    Head head;
    copyDefaultFace(head, makeMotion(0.7, {0.0f, 1.0f, 0.0f}, -0.4, {1.0f, 2.0f, 3.0f}), false);
    FaceFit fit;
    ASSERT_TRUE(fitHead(fit, head));
    std::unique_ptr<FaceModel> bound = bindHead(head, fit);
    FaceFeatures features;
    findHeadFeatures(features, *bound, fit, defaultFace());
    for (int32_t f = 0; f < faceFeatureCount; ++f)
        EXPECT_EQ(features.vertex[f], defaultFace().features.vertex[f]) << faceFeatureNames[f];
}

// A symmetric head the default face does not already fit (wider, shorter, the middle bowed
// forward): the carried library keeps every promise there (mouthClose with the correction's
// help: shorter lips leave a tenth of the gap), a Right pose mirrors its Left within 1 % of
// its largest move, and W alone closes the eyes.
TEST(FaceFit, SymmetricHeadKeepsEveryPromise) {
    Head head;
    copyDefaultFace(head, makeMotion(1.0, {0.0f, 1.0f, 0.0f}, 0.0, {0.0f, 0.0f, 0.0f}), false);
    auto stretch = [](Vector3 p) {
        return Vector3{1.3f * p.x, 0.9f * p.y, p.z - 0.003f * p.y * p.y};
    };
    for (Vector3& p : head.positions)
        p = stretch(p);
    for (Vector3& p : head.landmarks)
        p = stretch(p);
    FaceFit fit;
    ASSERT_TRUE(fitHead(fit, head));
    EXPECT_TRUE(noFaults(fit.faults));
    EXPECT_LT(fit.figures.distanceMedian, 0.005f);
    std::unique_ptr<FaceModel> bound = bindHead(head, fit);
    LibraryTransfer transfer;
    transferLibrary(transfer, *bound, fit, defaultFace(), library());
    for (const ClosingCorrection& c : transfer.corrections)
        if (c.name != "mouthClose") {
            EXPECT_EQ(c.scale, 1.0f) << c.name;
        }
    for (const CarriedPoseCheck& c : transfer.checks) {
        EXPECT_TRUE(c.met) << c.name << ": " << c.measured;
        EXPECT_LE(c.thrown, maxPoseThrow) << c.name;
        if (c.mirror >= 0.0f) {
            EXPECT_LT(c.mirror, 0.01f) << c.name;
        }
    }
}

// On a head whose left side is taller than its right, W carries each …Left pose and its
// …Right partner through different shapes; mirrorPairedPoses makes them mirror images again.
TEST(FaceFit, PairsAreMirrorImagesOnALopsidedHead) {
    Head head;
    copyDefaultFace(head, makeMotion(1.0, {0.0f, 1.0f, 0.0f}, 0.0, {0.0f, 0.0f, 0.0f}), false);
    auto lopsided = [](Vector3 p) {
        return Vector3{p.x, p.y * (1.0f + 0.015f * std::max(p.x, 0.0f)), p.z};
    };
    for (Vector3& p : head.positions)
        p = lopsided(p);
    for (Vector3& p : head.landmarks)
        p = lopsided(p);
    FaceFit fit;
    ASSERT_TRUE(fitHead(fit, head));
    std::unique_ptr<FaceModel> bound = bindHead(head, fit);
    std::vector<NamedPose> carried;
    carryPoses(carried, library(), fit);
    FaceFeatures features;
    findHeadFeatures(features, *bound, fit, defaultFace());
    const auto worstMirror = [&](const std::vector<NamedPose>& poses) {
        std::vector<CarriedPoseCheck> checks;
        checkCarriedPoses(checks, *bound, features, fit, defaultFace(), poses);
        float worst = 0.0f;
        for (const CarriedPoseCheck& c : checks)
            worst = std::max(worst, c.mirror);
        return worst;
    };
    EXPECT_GT(worstMirror(carried), 0.05f); // as W carries them, the sides differ
    mirrorPairedPoses(carried, fit, defaultFace());
    EXPECT_LT(worstMirror(carried), 1e-4f);
    ASSERT_EQ(carried.size(), library().size());
    for (size_t p = 0; p < carried.size(); ++p)
        EXPECT_EQ(carried[p].name, library()[p].name);
}

// A closing pose that W leaves short is scaled until it closes on the head: the blinks and
// mouthClose of the symmetric copy halved, the correction doubles them back.
TEST(FaceFit, ClosingPosesShortOfClosingAreCorrected) {
    Head head;
    copyDefaultFace(head, makeMotion(1.2, {1.0f, 0.0f, 0.0f}, 0.2, {0.0f, 1.0f, 0.0f}), false);
    FaceFit fit;
    ASSERT_TRUE(fitHead(fit, head));
    std::unique_ptr<FaceModel> bound = bindHead(head, fit);
    std::vector<NamedPose> carried;
    carryPoses(carried, library(), fit);
    for (NamedPose& p : carried)
        if (p.name == "eyeBlinkLeft" || p.name == "eyeBlinkRight" || p.name == "mouthClose")
            for (ControlPointMove& m : p.moves)
                m.delta = m.delta * 0.5f;
    FaceFeatures features;
    findHeadFeatures(features, *bound, fit, defaultFace());
    std::vector<ClosingCorrection> corrections;
    correctClosingPoses(carried, corrections, *bound, features, fit, defaultFace(), library());
    ASSERT_EQ(corrections.size(), size_t(3));
    for (const ClosingCorrection& c : corrections) {
        EXPECT_NEAR(c.scale, 2.0f, 0.1f) << c.name;
        EXPECT_GT(c.before, 0.3f) << c.name; // halved, a third of the gap or more is left
        EXPECT_NEAR(c.after, c.name == "mouthClose" ? 0.0f : -0.04f, 0.01f) << c.name;
    }
    std::vector<CarriedPoseCheck> checks;
    checkCarriedPoses(checks, *bound, features, fit, defaultFace(), carried);
    for (const CarriedPoseCheck& c : checks)
        EXPECT_TRUE(c.met) << c.name << ": " << c.measured;
}

// A blink that no scale closes (here the brows' move under the blink's name, as on a head
// whose lids are painted on) is kept as carried, not shrunk or swelled, and said so.
TEST(FaceFit, ABlinkNoScaleClosesIsKeptAsCarried) {
    Head head;
    copyDefaultFace(head, makeMotion(1.0, {0.0f, 1.0f, 0.0f}, 0.0, {0.0f, 0.0f, 0.0f}), false);
    FaceFit fit;
    ASSERT_TRUE(fitHead(fit, head));
    std::unique_ptr<FaceModel> bound = bindHead(head, fit);
    std::vector<NamedPose> carried;
    carryPoses(carried, library(), fit);
    const NamedPose* brows = nullptr;
    for (const NamedPose& p : carried)
        if (p.name == "browInnerUp")
            brows = &p;
    ASSERT_NE(brows, nullptr);
    const std::vector<ControlPointMove> browMoves = brows->moves;
    for (NamedPose& p : carried)
        if (p.name == "eyeBlinkLeft")
            p.moves = browMoves;
    FaceFeatures features;
    findHeadFeatures(features, *bound, fit, defaultFace());
    LibraryTransfer transfer;
    std::vector<ClosingCorrection> corrections;
    correctClosingPoses(carried, corrections, *bound, features, fit, defaultFace(), library());
    const ClosingCorrection* blink = nullptr;
    for (const ClosingCorrection& c : corrections)
        if (c.name == "eyeBlinkLeft")
            blink = &c;
    ASSERT_NE(blink, nullptr);
    EXPECT_TRUE(blink->kept);
    EXPECT_EQ(blink->scale, 1.0f);
    EXPECT_GT(blink->before, 0.9f); // the lids hardly move
    for (const NamedPose& p : carried)
        if (p.name == "eyeBlinkLeft") {
            ASSERT_EQ(p.moves.size(), browMoves.size());
            for (size_t i = 0; i < browMoves.size(); ++i)
                EXPECT_TRUE(p.moves[i].delta == browMoves[i].delta);
        }
    transfer.corrections = corrections;
    std::string text;
    describeTransfer(text, transfer);
    EXPECT_NE(text.find("eyeBlinkLeft kept as the library's: no scale closes it"),
              std::string::npos)
        << text;
}

// The fit and the carried poses are the same, bit for bit, on one thread and on three.
TEST(FaceFit, ThreadCountChangesNothing) {
    Head head;
    copyDefaultFace(head, makeMotion(1.0, {0.0f, 1.0f, 0.0f}, 0.0, {0.0f, 0.0f, 0.0f}), false);
    for (Vector3& p : head.positions)
        p = {p.x * 1.1f, p.y, p.z + 0.02f * p.x * p.x};
    for (Vector3& p : head.landmarks)
        p = {p.x * 1.1f, p.y, p.z + 0.02f * p.x * p.x};
    FaceFit fits[2];
    std::vector<NamedPose> carried[2];
    for (int run = 0; run < 2; ++run) {
        WorkerPool pool;
        startWorkers(pool, run == 0 ? 1 : 3);
        ASSERT_TRUE(fitHead(fits[run], head, pool));
        carryPoses(carried[run], library(), fits[run], pool);
    }
    ASSERT_EQ(fits[0].controlPoints.size(), fits[1].controlPoints.size());
    EXPECT_EQ(std::memcmp(fits[0].controlPoints.data(), fits[1].controlPoints.data(),
                          fits[0].controlPoints.size() * sizeof(Vector3)),
              0);
    EXPECT_EQ(fits[0].warp.transforms, fits[1].warp.transforms);
    for (size_t p = 0; p < carried[0].size(); ++p)
        for (size_t i = 0; i < carried[0][p].moves.size(); ++i)
            EXPECT_TRUE(carried[0][p].moves[i].delta == carried[1][p].moves[i].delta);
}

// ---- Heads nobody here made ---------------------------------------------------------------

namespace {

// A head of the table: its file, how face-import places it, its landmark file
// (tests/landmarks/), and what it has: eyes that open (a blink closes them), and a mouth
// that opens (the jaw parts the lips).
struct HeadFile {
    const char* name;
    const char* file;
    int32_t mesh; // −1: face-import's default (the largest)
    const char* up;
    const char* front;
    float height;
    bool eyes, mouth;
};

// Reads NAME X Y Z lines (comments start with '#') into the landmarks, by name.
bool readLandmarks(Vector3 landmarks[fitLandmarkCount], const std::string& file) {
    std::ifstream in(file);
    std::string line;
    bool given[fitLandmarkCount] = {};
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name;
        Vector3 p;
        fields >> name >> p.x >> p.y >> p.z;
        for (int k = 0; k < fitLandmarkCount; ++k)
            if (name == faceFeatureNames[k]) {
                landmarks[k] = p;
                given[k] = true;
            }
    }
    return std::all_of(given, given + fitLandmarkCount, [](bool g) { return g; });
}

// The head's mesh and landmarks as face-import places them.
bool loadHead(Head& head, const HeadFile& h) {
    ImportedMesh mesh;
    MeshFileListing listing;
    EmbeddedPicture embedded;
    MeshSelection selection;
    if (h.mesh >= 0)
        selection.indices.push_back(h.mesh);
    std::string error;
    if (!readImportedMesh(mesh, listing, embedded, h.file, selection, defaultCreaseDegrees,
                          error)) {
        ADD_FAILURE() << error;
        return false;
    }
    Vector3 up = mesh.axes.up, front = mesh.axes.front;
    if (h.up)
        parseAxis(up, h.up);
    if (h.front)
        parseAxis(front, h.front);
    Placement placement;
    if (!computePlacement(placement, mesh.positions, up, front, h.height, error)) {
        ADD_FAILURE() << error;
        return false;
    }
    applyPlacement(mesh.positions, placement);
    std::vector<Vector3> landmarks(fitLandmarkCount);
    if (!readLandmarks(landmarks.data(),
                       std::string(FACE_SOURCE_DIR "/tests/landmarks/") + h.name + ".txt")) {
        ADD_FAILURE() << h.name << ": a landmark file naming all 18 landmarks";
        return false;
    }
    applyPlacement(landmarks, placement);
    std::copy(landmarks.begin(), landmarks.end(), head.landmarks);
    head.positions = mesh.positions;
    head.texCoords = mesh.texCoords;
    head.triangles = mesh.triangles;
    return true;
}

} // namespace

// Each head: the fit lies on the head's surface (median within 0.5 % of the head's height,
// the 95th percentile within 2 %), through its landmarks (each within 3 %: they are placed by
// hand), its control mesh keeps every rule; the carried library moves nothing behind the face,
// throws nothing beyond 1.5, each smile moves its own corner (the other at most a tenth as
// far), a blink closes an eye that opens and jawOpen opens a mouth that opens. A file that is
// not on this machine is skipped (the scans live beside the repository, the game heads in
// Debian's assimp-testmodels). The figures of each head are printed.
TEST(FaceFit, HeadsNobodyHereMade) {
    const HeadFile heads[] = {
        {"gpreg_male", "/work/shared/heads/gpreg_male.obj", -1, nullptr, nullptr, 16.0f, true,
         true},
        {"gpreg_female", "/work/shared/heads/gpreg_female.obj", -1, nullptr, nullptr, 16.0f, true,
         true},
        {"gpp_face", "/work/shared/heads/gpp_face.obj", -1, nullptr, nullptr, 16.0f, true, true},
        // The goggles do not close and no mouth is modelled.
        {"mrfixit", "/usr/share/assimp/models/IQM/mrfixit.iqm", 1, nullptr, "x", 16.0f, false,
         false},
        // A bull: its lips lie flat along the muzzle, which the jaw hardly parts.
        {"WusonOBJ", "/usr/share/assimp/models/OBJ/WusonOBJ.obj", -1, nullptr, nullptr, 32.0f, true,
         false},
        // A whole figure, placed so that its face is as tall as a head's.
        {"dwarf", "/usr/share/assimp/models/COB/dwarf.cob", -1, nullptr, nullptr, 100.0f, true,
         true},
    };
    int tried = 0;
    for (const HeadFile& h : heads) {
        if (!std::filesystem::exists(h.file))
            continue;
        ++tried;
        SCOPED_TRACE(h.name);
        Head head;
        if (!loadHead(head, h))
            continue;
        FaceFit fit;
        if (!fitHead(fit, head))
            continue;
        const FitFigures& f = fit.figures;
        EXPECT_LT(f.distanceMedian, 0.005f);
        EXPECT_LT(f.distance95, 0.02f);
        float landmarks = 0.0f;
        for (float r : f.landmarkResidual)
            landmarks = std::max(landmarks, r);
        EXPECT_LT(landmarks, 0.03f);
        EXPECT_TRUE(noFaults(fit.faults));

        std::unique_ptr<FaceModel> bound = bindHead(head, fit);
        LibraryTransfer transfer;
        transferLibrary(transfer, *bound, fit, defaultFace(), library());
        float thrown = 0.0f, mirror = 0.0f;
        for (const CarriedPoseCheck& c : transfer.checks) {
            EXPECT_LE(c.behind, maxBehindMove) << c.name;
            EXPECT_LE(c.thrown, maxPoseThrow) << c.name;
            thrown = std::max(thrown, c.thrown);
            mirror = std::max(mirror, c.mirror);
        }
        for (const char* smile : {"mouthSmileLeft", "mouthSmileRight"}) {
            const CarriedPoseCheck* c = checkOf(transfer, smile);
            ASSERT_NE(c, nullptr);
            EXPECT_TRUE(c->promised) << smile << ": " << c->measured;
        }
        if (h.eyes)
            for (const char* blink : {"eyeBlinkLeft", "eyeBlinkRight"}) {
                const CarriedPoseCheck* c = checkOf(transfer, blink);
                ASSERT_NE(c, nullptr);
                EXPECT_TRUE(c->promised) << blink << ": " << c->measured;
            }
        if (h.mouth) {
            EXPECT_TRUE(checkOf(transfer, "jawOpen")->promised)
                << checkOf(transfer, "jawOpen")->measured;
        }

        // The report names every pose that misses an aim.
        std::string fitText, transferText;
        describeFit(fitText, fit);
        describeTransfer(transferText, transfer);
        for (const CarriedPoseCheck& c : transfer.checks)
            EXPECT_EQ(transferText.find(c.name + " misses an aim") != std::string::npos, !c.met)
                << c.name;
        std::printf("[ figures  ] %s: %zu vertices, %d attached; thrown at most %.3f, mirror at "
                    "most %.1f %%\n%s%s",
                    h.name, head.positions.size(), attachedCount(*bound), thrown, 100.0 * mirror,
                    fitText.c_str(), transferText.c_str());
    }
    if (tried == 0)
        GTEST_SKIP() << "none of the heads is on this machine";
}
