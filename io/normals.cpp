#include "io/normals.h"

#include <vector>

void computeFaceNormals(Vector3* faceNormals, const Vector3* positions, const Triangle* triangles,
                        int32_t M) {
    for (int32_t t = 0; t < M; ++t) {
        const int32_t* i = triangles[t].index;
        const Vector3 e1 = positions[i[1]] - positions[i[0]];
        const Vector3 e2 = positions[i[2]] - positions[i[0]];
        faceNormals[t] = cross(e1, e2);
    }
}

void computeVertexNormals(Vector3* normals, int32_t N, const Vector3* faceNormals,
                          const Triangle* triangles, int32_t M) {
    sumFaceNormals(normals, N, faceNormals, M,
                   [triangles](int32_t t, int32_t j) { return triangles[t].index[j]; });
}

void computeMeshNormals(Vector3* normals, const Vector3* positions, int32_t N,
                        const Triangle* triangles, int32_t M) {
    std::vector<Vector3> faceNormals(static_cast<size_t>(M));
    computeFaceNormals(faceNormals.data(), positions, triangles, M);
    computeVertexNormals(normals, N, faceNormals.data(), triangles, M);
}
