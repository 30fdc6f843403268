// Value types shared by every part of the viewer: the 3-vector, texture coordinates,
// index triangles, and the single-owner holder for heap arrays.
//
// Every stored geometric value is a 32-bit float; every operation below rounds each
// result to 32 bits in the order written (the build turns floating-point contraction
// off), so results are reproducible bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

// A point, normal or direction: three packed floats (stride 12 bytes in arrays).
struct Vector3 {
    float x, y, z;
};
static_assert(sizeof(Vector3) == 12, "Vector3 arrays are handed to OpenGL packed");

// Texture coordinates of one vertex; v = 0 is the top row of the picture.
struct TexCoord {
    float u, v;
};

// Three 0-based vertex indices into the vertex array of the same mesh, in stored order.
struct Triangle {
    int32_t index[3];
};
static_assert(sizeof(Triangle) == 12, "Triangle arrays are handed to OpenGL packed");

// Single owner of a plain heap array; storing a new array frees the old one.
template <class T> using ArrayHolder = std::unique_ptr<T[]>;

// A new array holding a copy of from[0..count−1] (from may be null when count is 0).
template <class T> ArrayHolder<T> copyArray(const T* from, int32_t count) {
    ArrayHolder<T> copy(new T[count]);
    std::copy(from, from + count, copy.get());
    return copy;
}

inline Vector3 operator+(const Vector3& a, const Vector3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vector3 operator-(const Vector3& a, const Vector3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vector3 operator*(const Vector3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vector3 operator*(float s, const Vector3& a) { return {s * a.x, s * a.y, s * a.z}; }
inline Vector3 operator/(const Vector3& a, float s) { return {a.x / s, a.y / s, a.z / s}; }

inline float dot(const Vector3& a, const Vector3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// a × b = (a.y·b.z − a.z·b.y, a.z·b.x − a.x·b.z, a.x·b.y − a.y·b.x).
inline Vector3 cross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float length(const Vector3& a) { return std::sqrt(dot(a, a)); }

// a scaled by one reciprocal of its length sqrt(dot(a, a)) (no guard: a zero vector gives
// non-finite values). V is Vector3 or a lane type with the same dot and scaling.
template <class V> V normalize(const V& a) { return a * (1.0f / std::sqrt(dot(a, a))); }

// a divided by its length, or the zero vector where a has no length (a direction that may
// be missing: the caller tests for zero rather than for non-finite values).
inline Vector3 unitOrZero(const Vector3& a) {
    const float len = length(a);
    return len > 0.0f ? a / len : Vector3{0.0f, 0.0f, 0.0f};
}

// All three components finite (degenerate geometry gives infinities and NaNs).
inline bool isFinite(const Vector3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

inline bool operator==(const Vector3& a, const Vector3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
