#include "core/vec3.h"

#include "core/scalar_maths.h"

#include <cmath>
#include <cstring>
#include <limits>

Vec3 Vec3Set(double x, double y, double z) { return Vec3{x, y, z}; }

Vec3 Vec3Copy(const Vec3& v) { return v; }

Vec3 Vec3SetFromFloats(float x, float y, float z) { return Vec3{x, y, z}; }

Vec3f Vec3fSet(double x, double y, double z) {
    return Vec3f{static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

Vec3 Vec3SetScaled(double s, double x, double y, double z) { return Vec3{s * x, s * y, s * z}; }

Vec3 Vec3Add(const Vec3& a, const Vec3& b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }

Vec3 Vec3Sub(const Vec3& a, const Vec3& b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }

Vec3& Vec3AddTo(Vec3& a, const Vec3& b) {
    a.x += b.x;
    a.y += b.y;
    a.z += b.z;
    return a;
}

Vec3 Vec3Scale(const Vec3& v, double s) { return Vec3{s * v.x, s * v.y, s * v.z}; }

Vec3 Vec3Divide(const Vec3& v, double s) {
    if (s == 0.0) return Vec3{DBL_MAX, DBL_MAX, DBL_MAX};
    const double inverse = 1.0 / s;
    return Vec3{v.x * inverse, v.y * inverse, v.z * inverse};
}

double Vec3Length(const Vec3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

double Vec3Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

double Vec3DotXYZ(const Vec3& v, double x, double y, double z) {
    return v.x * x + v.y * y + v.z * z;
}

Vec3 Vec3Cross(const Vec3& a, const Vec3& b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 Vec3CrossXYZ(const Vec3& v, double x, double y, double z) {
    return Vec3Cross(v, Vec3{x, y, z});
}

double Vec3Normalize(Vec3& v) {
    const double length = Vec3Length(v);
    if (!(length > 1e-8)) {
        v = ZERO_VEC3;
        return 0.0;
    }
    const double inverse = 1.0 / length;
    v.x *= inverse;
    v.y *= inverse;
    v.z *= inverse;
    return length;
}

Vec3 Vec3UnitCross(const Vec3& a, const Vec3& b) {
    Vec3 result = Vec3Cross(b, a);
    Vec3Normalize(result);
    return result;
}

int Vec3Compare(const Vec3& a, const Vec3& b) {
    const int order = std::memcmp(&a, &b, sizeof(Vec3));
    return (order > 0) - (order < 0);
}

Vec2 Vec2Set(double x, double y) { return Vec2{x, y}; }

Vec2 Vec2Divide(const Vec2& v, double s) {
    if (s == 0.0) return Vec2{DBL_MAX, DBL_MAX};
    const double inverse = 1.0 / s;
    return Vec2{v.x * inverse, v.y * inverse};
}

Vec4 Vec4SetOrigin() { return Vec4{1.0, 0.0, 0.0, 0.0}; }

Vec3f InverseStereographic(float u, float v) {
    const float k = 2.0f / (u * u + v * v + 1.0f);
    if (k == 0.0f) return Vec3f{0.0f, 0.0f, -1.0f};
    return Vec3f{u * k, v * k, k - 1.0f};
}

Vec2 Stereographic(const Vec3f& p) {
    const float d = SqrtFloat(p.x * p.x + p.y * p.y + p.z * p.z) + p.z;
    if (d == 0.0f) return Vec2{std::numeric_limits<double>::infinity(), 0.0};
    return Vec2{p.x / d, p.y / d};
}
