#pragma once

// Quadric arithmetic shared by the collision units. Only src/gizmo includes this.

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/vec3.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace collision_maths {

// v^T Q v with v = (1, p).
inline double Value(const Matrix4W& q, const Vec3& p) {
    const auto& m = q.m;
    return m[0] + 2.0 * (m[1] * p.x + m[2] * p.y + m[3] * p.z) +
           p.x * (m[5] * p.x + 2.0 * (m[6] * p.y + m[7] * p.z)) +
           p.y * (m[10] * p.y + 2.0 * m[11] * p.z) + m[15] * p.z * p.z;
}

// v^T Q v for a homogeneous v (w first); its sign does not depend on v's scale.
inline double ValueH(const Matrix4W& q, const Vec4& v) {
    const Vec4 qv = Matrix4TransformVec4(q, v);
    return qv.w * v.w + qv.x * v.x + qv.y * v.y + qv.z * v.z;
}

// Elements 1 to 3 of Q (1, p): half the gradient of the form at p.
inline Vec3 HalfGradient(const Matrix4W& q, const Vec3& p) {
    const auto& m = q.m;
    return Vec3{m[4] + m[5] * p.x + m[6] * p.y + m[7] * p.z,
                m[8] + m[9] * p.x + m[10] * p.y + m[11] * p.z,
                m[12] + m[13] * p.x + m[14] * p.y + m[15] * p.z};
}

// The 3x3 block of second-order terms.
inline Matrix3 Block(const Matrix4W& q) {
    const auto& m = q.m;
    return Matrix3{{m[5], m[6], m[7], m[9], m[10], m[11], m[13], m[14], m[15]}};
}

// The linear half-term column (elements 4, 8, 12).
inline Vec3 Linear(const Matrix4W& q) { return Vec3{q.m[4], q.m[8], q.m[12]}; }

// The form seen from an origin moved to c: T^T Q T with T the translation by c, written out
// (k + 2 b.c + c^T C c, b + C c, C).
inline Matrix4W Translated(const Matrix4W& q, const Vec3& c) {
    Matrix4W r = q;
    const Vec3 g = HalfGradient(q, c);
    r.m[0] = Value(q, c);
    r.m[1] = r.m[4] = g.x;
    r.m[2] = r.m[8] = g.y;
    r.m[3] = r.m[12] = g.z;
    return r;
}

inline double Det3(const Matrix3& a) {
    const auto& m = a.m;
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

inline Vec3 Column(const Matrix3& m, std::size_t c) { return Vec3{m.m[c], m.m[3 + c], m.m[6 + c]}; }

inline Matrix3 FromColumns(const Vec3& a, const Vec3& b, const Vec3& c) {
    return Matrix3{{a.x, b.x, c.x, a.y, b.y, c.y, a.z, b.z, c.z}};
}

// x^T M y.
inline double Form3(const Matrix3& m, const Vec3& x, const Vec3& y) {
    return Vec3Dot(x, Matrix3TransformVec3(m, y));
}

// A^T M A for 3x3 matrices.
inline Matrix3 Congruent3(const Matrix3& m, const Matrix3& a) {
    return Matrix3Product(Matrix3Transpose(a), Matrix3Product(m, a));
}

// True when an order (i, j, k) of 0, 1, 2 given by its first two entries is an odd
// permutation: j - i is 2 or -1.
inline bool IsOddOrder(int first, int second) {
    const int step = second - first;
    return step == 2 || step == -1;
}

// The projective point (w, x, y, z) as a point of space; false (and p untouched) when w is 0
// or the result is not finite.
inline bool SpacePoint(const Vec4& v, Vec3& p) {
    if (v.w == 0.0) return false;
    const Vec3 q{v.x / v.w, v.y / v.w, v.z / v.w};
    if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) return false;
    p = q;
    return true;
}

// -1 for a negative v, else 1.
inline double Sign(double v) { return v < 0.0 ? -1.0 : 1.0; }

}  // namespace collision_maths
