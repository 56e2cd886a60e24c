#pragma once

// Double-precision vectors: the 3-vector of every geometric part of the system, its float
// twin used by the bot generator, the 2-vector and the w-first homogeneous 4-vector.
//
// Plain values and free functions: nothing allocates, nothing throws, and comparisons and
// copies work element by element on the doubles.

#include <cfloat>

struct Vec3 {  // 24 bytes
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};
static_assert(sizeof(Vec3) == 24);

struct Vec3f {  // 12 bytes
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};
static_assert(sizeof(Vec3f) == 12);

struct Vec2 {  // 16 bytes
    double x = 0.0;
    double y = 0.0;
};

// A homogeneous point or direction with w first, the column the w-first 4x4 matrices act
// on. 32 bytes.
struct Vec4 {
    double w = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};
static_assert(sizeof(Vec4) == 32);

inline constexpr Vec3 ZERO_VEC3{0.0, 0.0, 0.0};
inline constexpr Vec3 X_AXIS{1.0, 0.0, 0.0};
inline constexpr Vec3 Y_AXIS{0.0, 1.0, 0.0};
inline constexpr Vec3 Z_AXIS{0.0, 0.0, 1.0};

Vec3 Vec3Set(double x, double y, double z);
Vec3 Vec3Copy(const Vec3& v);
Vec3 Vec3SetFromFloats(float x, float y, float z);
// Each component rounded to float.
Vec3f Vec3fSet(double x, double y, double z);
// (s*x, s*y, s*z).
Vec3 Vec3SetScaled(double s, double x, double y, double z);
Vec3 Vec3Add(const Vec3& a, const Vec3& b);
Vec3 Vec3Sub(const Vec3& a, const Vec3& b);
// a += b; returns a.
Vec3& Vec3AddTo(Vec3& a, const Vec3& b);
Vec3 Vec3Scale(const Vec3& v, double s);
// v * (1/s). Dividing by exactly 0 gives DBL_MAX in every component, whatever the signs.
Vec3 Vec3Divide(const Vec3& v, double s);
double Vec3Length(const Vec3& v);
double Vec3Dot(const Vec3& a, const Vec3& b);
double Vec3DotXYZ(const Vec3& v, double x, double y, double z);
// a x b.
Vec3 Vec3Cross(const Vec3& a, const Vec3& b);
Vec3 Vec3CrossXYZ(const Vec3& v, double x, double y, double z);
// Scales v to unit length in place and returns its old length. A vector not longer than
// 1e-8 (or with a NaN length) becomes (0, 0, 0) and 0 is returned.
double Vec3Normalize(Vec3& v);
// normalise(b x a): note the second operand comes first in the cross product.
Vec3 Vec3UnitCross(const Vec3& a, const Vec3& b);
// Three-way comparison of the 24 bytes as memcmp orders them: -1, 0 or 1. -0.0 and 0.0
// differ here.
int Vec3Compare(const Vec3& a, const Vec3& b);

Vec2 Vec2Set(double x, double y);
// v * (1/s); dividing by exactly 0 gives (DBL_MAX, DBL_MAX).
Vec2 Vec2Divide(const Vec2& v, double s);

// (1, 0, 0, 0): the origin as a homogeneous point.
Vec4 Vec4SetOrigin();

// The unit vector whose stereographic image is (u, v): k = 2/(u*u + v*v + 1),
// (u*k, v*k, k - 1). Where k underflows to 0 the result is the pole (0, 0, -1).
Vec3f InverseStereographic(float u, float v);
// Projects p from the pole (0, 0, -1): d = |p| + z, (x/d, y/d). The pole itself (d = 0)
// gives (+infinity, 0), which InverseStereographic takes back to the pole.
Vec2 Stereographic(const Vec3f& p);
