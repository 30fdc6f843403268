// 4×4 matrices in OpenGL's column-major storage with column vectors: the element of
// row r and column c is at index 4c + r, and a point p maps to M·p. An affine transform
// keeps its translation in indices 12, 13, 14. Matrices go to glLoadMatrixf and
// glMultMatrixf exactly as stored.
#pragma once

#include "geometry/vector.h"

// A homogeneous point (x, y, z, w).
struct Vector4 {
    float x, y, z, w;
};

struct Matrix4 {
    float m[16];

    // The shared, read-only identity; copy it where a matrix of one's own is needed.
    static const Matrix4& identity();

    // General inverse by cofactors: each element is the cofactor of the transposed
    // position times 1/det, with det expanded along row 0 (elements 0, 4, 8, 12).
    // No test for a singular matrix: det = 0 gives non-finite elements.
    static Matrix4 inverse(const Matrix4& a);
};

// The product a·b: element (r, c) = sum over k of a(r, k)·b(k, c), summed in order k = 0..3.
Matrix4 operator*(const Matrix4& a, const Matrix4& b);

// a·p for a homogeneous point, each component summed in column order.
Vector4 operator*(const Matrix4& a, const Vector4& p);
