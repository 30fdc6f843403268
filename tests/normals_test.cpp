// Smooth vertex normals from positions and triangles.
#include "io/normals.h"

#include <gtest/gtest.h>

TEST(MeshNormals, UnitSumsFollowTheWindingAndUnusedOrCancellingVerticesGetZero) {
    // Vertex 3 is used by no triangle; the triangle listed in the other winding flips the
    // normals, and listed in both the sums cancel to exactly zero.
    const Vector3 positions[4] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}};
    const Triangle triangles[2] = {{{0, 1, 2}}, {{0, 2, 1}}};
    const struct {
        int32_t first, count;
        float z;
    } cases[] = {{0, 1, 1.0f}, {1, 1, -1.0f}, {0, 2, 0.0f}};
    for (const auto& c : cases) {
        Vector3 normals[4] = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}, {9, 9, 9}}; // overwritten entirely
        computeMeshNormals(normals, positions, 4, triangles + c.first, c.count);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(normals[i], (Vector3{0, 0, c.z})) << c.first << c.count;
        EXPECT_EQ(normals[3], (Vector3{0, 0, 0}));
    }
}

TEST(MeshNormals, LargerTrianglesWeighMoreAndTinySumsStayAsTheyAre) {
    // Vertex 0 is shared by a large triangle facing +z and a small one facing +x.
    const Vector3 positions[5] = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {0, 1, 0}, {0, 0, 1}};
    const Triangle triangles[2] = {{{0, 1, 2}}, {{0, 3, 4}}};
    Vector3 normals[5];
    computeMeshNormals(normals, positions, 5, triangles, 2);
    EXPECT_GT(normals[0].z, normals[0].x);
    EXPECT_NEAR(length(normals[0]), 1.0f, 1e-6f);
    // A sliver whose cross product is below the float epsilon keeps its tiny normal.
    const Vector3 sliver[3] = {{0, 0, 0}, {1e-4f, 0, 0}, {0, 1e-4f, 0}};
    computeMeshNormals(normals, sliver, 3, triangles, 1);
    EXPECT_GT(normals[0].z, 0.0f);
    EXPECT_LE(length(normals[0]), normalLengthEpsilon);
}
