#pragma once

// Small vector and frame helpers shared by the gizmo's physics units (flyers, bounce,
// sliders). Only src/gizmo includes this.

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/vec3.h"

#include <cmath>
#include <cstddef>

namespace gizmo_physics {

// True for a positive value whose exponent is not zero: big enough to divide by.
inline bool IsNormalPositive(double v) { return std::fpclassify(v) == FP_NORMAL && v > 0.0; }

inline bool IsZeroOrSubnormal(double v) {
    const int kind = std::fpclassify(v);
    return kind == FP_ZERO || kind == FP_SUBNORMAL;
}

inline Vec3 Column(const Matrix3& m, int c) {
    const auto i = static_cast<std::size_t>(c);
    return Vec3{m.m[i], m.m[3 + i], m.m[6 + i]};
}

inline Matrix3 FromColumns(const Vec3& a, const Vec3& b, const Vec3& c) {
    return Matrix3{{a.x, b.x, c.x, a.y, b.y, c.y, a.z, b.z, c.z}};
}

// The 3x3 part of a w-first transform.
inline Matrix3 LinearPart(const Matrix4W& w) {
    return Matrix3{{w.m[5], w.m[6], w.m[7], w.m[9], w.m[10], w.m[11], w.m[13], w.m[14], w.m[15]}};
}

// The w-first transform x -> r x + t.
inline Matrix4W Placement(const Matrix3& r, const Vec3& t) {
    Matrix4W w = EmbedMatrix3(r, 0);
    w.m[4] = t.x;
    w.m[8] = t.y;
    w.m[12] = t.z;
    return w;
}

inline Vec3 TransformPoint(const Matrix4W& w, const Vec3& p) {
    const Vec4 v = Matrix4TransformVec4(w, Vec4{1.0, p.x, p.y, p.z});
    return Vec3{v.x, v.y, v.z};
}

inline Vec3 TransformDirection(const Matrix4W& w, const Vec3& d) {
    const Vec4 v = Matrix4TransformVec4(w, Vec4{0.0, d.x, d.y, d.z});
    return Vec3{v.x, v.y, v.z};
}

// The half-gradient of a surface at a point: elements 1 to 3 of Q (1, p).
inline Vec3 HalfGradient(const Matrix4W& q, const Vec3& p) { return TransformPoint(q, p); }

}  // namespace gizmo_physics
