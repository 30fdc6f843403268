// Face model construction: the edge table, edge normals, the wiring of the sub-patch
// arrays and of their tessellation, the empty control mesh, and loading from a file.
#include "face/face_model.h"
#include "geometry/patches.h"
#include "tests/support/synthetic_model.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// A fold along the edge (1, 2): one face in the plane z = 0, one tilted up. Edges are
// numbered by first appearance; a side running against its edge is stored as ~e.
TEST(FaceModelEdges, FoldNumbersEdgesByFirstAppearanceAndSumsFaceNormals) {
    const Vector3 points[4] = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {2, 2, 2}};
    const Triangle triangles[2] = {{{0, 1, 2}}, {{2, 1, 3}}};
    ModelData data;
    setModel(data, points, 4, triangles, 2, nullptr, nullptr, 0, nullptr, 0);
    const auto model = makeFaceModel(data);
    ASSERT_EQ(model->edgeCount, 5);
    const Edge edges[5] = {{0, 1}, {1, 2}, {0, 2}, {1, 3}, {2, 3}};
    const int32_t refs[2][3] = {{0, 1, ~2}, {~1, 3, ~4}};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(model->triangleEdges[i / 3].edge[i % 3], refs[i / 3][i % 3]) << i;
    EXPECT_EQ(edgeIndex(~4), 4);
    EXPECT_EQ(edgeIndex(3), 3);
    // Face normals (0, 0, 4) and (−4, −4, 4); border edges take their one face's unit normal.
    const float a = 0.4082483f, b = 0.5773503f;
    const Vector3 normals[5] = {{0, 0, 1}, {-a, -a, 2 * a}, {0, 0, 1}, {-b, -b, b}, {-b, -b, b}};
    for (int e = 0; e < 5; ++e) {
        EXPECT_TRUE(model->edges[e].a == edges[e].a && model->edges[e].b == edges[e].b) << e;
        EXPECT_NEAR(model->edgeNormals[e].x, normals[e].x, 1e-6f) << e;
        EXPECT_NEAR(model->edgeNormals[e].y, normals[e].y, 1e-6f) << e;
        EXPECT_NEAR(model->edgeNormals[e].z, normals[e].z, 1e-6f) << e;
    }
}

TEST(FaceModelConstruction, SingleTriangleWiresItsThreeSubPatches) {
    const Vector3 points[3] = {{0, 0, 0}, {3, 0, 0.5f}, {0, 3, 1}};
    const Triangle triangles[1] = {{{0, 1, 2}}};
    ModelData data;
    setModel(data, points, 3, triangles, 1, nullptr, nullptr, 0, nullptr, 0);
    const auto model = makeFaceModel(data);

    ASSERT_EQ(model->edgeCount, 3);
    EXPECT_EQ(model->surfaceVertexCount, 63);
    EXPECT_EQ(model->surfaceTriangleCount, 75);
    EXPECT_EQ(model->sampleCount, 198);

    TrianglePatchPoints q;
    const Vector3* N = model->controlNormals.get();
    const Vector3* M = model->edgeNormals.get();
    buildTrianglePatches(q, points[0], N[0], points[1], N[1], points[2], N[2], M[0], M[1], M[2]);
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        EXPECT_TRUE(model->b300[k] == points[k]);
        EXPECT_TRUE(model->b030[k] == points[next]);
        EXPECT_TRUE(model->b210[k] == q.E1[k]);
        EXPECT_TRUE(model->b120[k] == q.E2[k]);
        EXPECT_TRUE(model->b201[k] == q.I[k]);
        EXPECT_TRUE(model->b021[k] == q.I[next]);
        EXPECT_TRUE(model->b111[k] == q.F[k]);
        EXPECT_TRUE(model->b102[k] == q.G[k]);
        EXPECT_TRUE(model->b012[k] == q.G[next]);
        EXPECT_TRUE(model->b003[k] == q.C);
    }
    // The net order puts b030 seventh.
    Vector3 p[10];
    model->subPatchNet(p, 1);
    EXPECT_TRUE(p[4] == model->b111[1]);
    EXPECT_TRUE(p[6] == model->b030[1]);
    EXPECT_TRUE(p[9] == model->b003[1]);
    // Sub-patch s has the 25 triangles from 25·s on over its 21 grid vertices from
    // 21·s on; grid vertex 0 (u = v = 0) is the split point, 5 (u = 1) the sub-patch's first
    // corner, 20 (v = 1) its second.
    model->tessellateSurface(5);
    const Triangle& t = model->surfaceTriangles[25];
    EXPECT_TRUE(t.index[0] == 21 && t.index[1] == 22 && t.index[2] == 27);
    EXPECT_TRUE(model->surfacePositions[21] == q.C);
    EXPECT_TRUE(model->surfacePositions[26] == points[1]);
    EXPECT_TRUE(model->surfacePositions[41] == points[2]);
    EXPECT_NEAR(length(model->surfaceNormals[28]), 1.0f, 1e-6f);
}

TEST(FaceModelConstruction, NoControlTrianglesLeavesEveryVertexUnattached) {
    const Vector3 points[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const Vector3 positions[3] = {{0, 0, 0}, {0.1f, 0, 0}, {0, 0.1f, 0}};
    const Vector3 normals[3] = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    const Triangle render[1] = {{{0, 1, 2}}};
    ModelData data;
    setModel(data, points, 3, nullptr, 0, positions, normals, 3, render, 1);
    const auto model = makeFaceModel(data);
    EXPECT_TRUE(model->edgeCount == 0 && model->sampleCount == 0 &&
                model->surfaceVertexCount == 0 && model->surfaceTriangleCount == 0);
    model->update(model->renderPositions.get(), model->renderNormals.get(), points);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(model->attachments[i].subPatch == -1 && model->attachments[i].weight == 0 &&
                    model->renderPositions[i] == positions[i])
            << i;
    EXPECT_NEAR(model->renderNormals[0].z, 1.0f, 1e-6f);
}

TEST(LoadFaceModel, ReplacesTheModelAndControlPointsOnlyOnSuccess) {
    ModelData data;
    makeSyntheticModel(data, {3, 3, 10, 10}); // control cells, render cells
    TempDir folder;
    const std::string good = folder.path + "/good.model";
    std::string written;
    ASSERT_TRUE(writeModelFile(good.c_str(), data, written)) << written;
    // Index 7 of 2 vertices.
    const std::string bad =
        folder.write("bad.model", std::string("2\n0 0 0\n1 1 1\n0 0\n1 1\n1\n0 1 7\n"));

    std::unique_ptr<FaceModel> model;
    ArrayHolder<Vector3> points;
    int32_t K = -1;
    std::string error;
    ASSERT_TRUE(loadFaceModel(model, points, K, good.c_str(), error)) << error;
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(K, 16);
    for (int32_t i = 0; i < K; ++i)
        EXPECT_TRUE(points[i] == data.controlPoints[i]);
    // The model is the one the constructor builds from the same arrays.
    const auto direct = makeFaceModel(data);
    ASSERT_EQ(model->renderVertexCount, direct->renderVertexCount);
    EXPECT_EQ(std::memcmp(model->attachments.get(), direct->attachments.get(),
                          sizeof(Attachment) * static_cast<size_t>(direct->renderVertexCount)),
              0);

    const FaceModel* kept = model.get();
    const Vector3* keptPoints = points.get();
    EXPECT_FALSE(loadFaceModel(model, points, K, bad.c_str(), error));
    EXPECT_NE(error.find(bad), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(model.get(), kept);
    EXPECT_EQ(points.get(), keptPoints);
    EXPECT_EQ(K, 16);
}
