// Lane types for the surface arithmetic of geometry/patches.h and face/attachments.h:
// Lanes4, x, y and z of one point in three lanes of an SSE register (lane 3 is padding);
// Points4, four points at once, their x, y and z in one register each, with four weights in
// a Float4. Every operation rounds each lane exactly as the Vector3 operation of the same
// name rounds that component, in the same order, so code written once over a lane type
// gives the same bits with any.
#pragma once

#include "geometry/vector.h"

#include <cmath>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// Four floats in one SSE register (GCC and clang vector extension). May alias the plain
// float arrays it is loaded from.
typedef float Float4 __attribute__((vector_size(16), __may_alias__));

struct Lanes4 {
    Float4 v;
};

// The square root, correctly rounded in each lane as std::sqrt rounds a float.
inline float squareRoot(float x) { return std::sqrt(x); }
inline Float4 squareRoot(Float4 x) {
#if defined(__SSE__)
    return _mm_sqrt_ps(x);
#else
    return Float4{std::sqrt(x[0]), std::sqrt(x[1]), std::sqrt(x[2]), std::sqrt(x[3])};
#endif
}

inline Lanes4 operator+(Lanes4 a, Lanes4 b) { return {a.v + b.v}; }
inline Lanes4 operator-(Lanes4 a, Lanes4 b) { return {a.v - b.v}; }
inline Lanes4 operator*(Lanes4 a, float s) { return {a.v * s}; }
inline Lanes4 operator*(float s, Lanes4 a) { return {s * a.v}; }
inline Lanes4 operator/(Lanes4 a, float s) { return {a.v / s}; }

// (x·x' + y·y') + z·z', as dot.
inline float dot(Lanes4 a, Lanes4 b) {
    const Float4 m = a.v * b.v;
    return (m[0] + m[1]) + m[2];
}

// The lanes of cross: (a.y·b.z − a.z·b.y, a.z·b.x − a.x·b.z, a.x·b.y − a.y·b.x).
inline Lanes4 cross(Lanes4 a, Lanes4 b) {
    const Float4 a1 = __builtin_shufflevector(a.v, a.v, 1, 2, 0, 3);
    const Float4 b1 = __builtin_shufflevector(b.v, b.v, 1, 2, 0, 3);
    const Float4 c = a.v * b1 - a1 * b.v; // (a.x·b.y − a.y·b.x, a.y·b.z − a.z·b.y, ...)
    return {__builtin_shufflevector(c, c, 1, 2, 0, 3)};
}

// Conversions, output first; the Vector3 ones copy, so that code over either type loads
// and stores alike.
inline void load(Vector3& to, const Vector3& from) { to = from; }
inline void load(Lanes4& to, const Vector3& from) { to.v = Float4{from.x, from.y, from.z, 0.0f}; }
inline void store(Vector3& to, const Vector3& from) { to = from; }
inline void store(Vector3& to, Lanes4 from) { to = {from.v[0], from.v[1], from.v[2]}; }

// Four points, lane i of x, y and z being point i; the weights they are scaled by are a
// Float4, one per point.
struct Points4 {
    Float4 x, y, z;
};

inline Points4 operator+(const Points4& a, const Points4& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Points4 operator-(const Points4& a, const Points4& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Points4 operator*(const Points4& a, Float4 s) { return {a.x * s, a.y * s, a.z * s}; }
inline Points4 operator*(Float4 s, const Points4& a) { return {s * a.x, s * a.y, s * a.z}; }
inline Points4 operator/(const Points4& a, Float4 s) { return {a.x / s, a.y / s, a.z / s}; }

// (x·x' + y·y') + z·z' in each lane, as dot.
inline Float4 dot(const Points4& a, const Points4& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

// As cross: (a.y·b.z − a.z·b.y, a.z·b.x − a.x·b.z, a.x·b.y − a.y·b.x) in each lane.
inline Points4 cross(const Points4& a, const Points4& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// One point in every lane.
inline void load(Points4& to, Lanes4 from) {
    to.x = Float4{from.v[0], from.v[0], from.v[0], from.v[0]};
    to.y = Float4{from.v[1], from.v[1], from.v[1], from.v[1]};
    to.z = Float4{from.v[2], from.v[2], from.v[2], from.v[2]};
}
