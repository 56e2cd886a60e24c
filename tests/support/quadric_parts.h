#pragma once

// Parts written straight into render records, for the tests and benchmarks of the octree and
// the surface table: surface forms, a bounding ellipsoid and a sphere proxy, without a shape
// builder. Forms are w-first (element 0 the constant, 1-3 and 4, 8, 12 half the linear terms,
// the quadratic block in 5-7, 9-11, 13-15) and negative inside.

#include "core/crt_random.h"
#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/part_render_record.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>

namespace quadric_parts {

// n.x <= offset.
inline Matrix4W PlaneForm(const Vec3& n, double offset) {
    Matrix4W q;
    q.m[0] = -offset;
    q.m[1] = q.m[4] = n.x / 2;
    q.m[2] = q.m[8] = n.y / 2;
    q.m[3] = q.m[12] = n.z / 2;
    return q;
}

// sum ((x_i - c_i) / h_i)^2 <= 1.
inline Matrix4W EllipsoidForm(const Vec3& centre, const Vec3& semiAxes) {
    const std::array<double, 3> c{centre.x, centre.y, centre.z};
    const std::array<double, 3> h{semiAxes.x, semiAxes.y, semiAxes.z};
    Matrix4W q;
    q.m[0] = -1;
    for (std::size_t i = 0; i < 3; ++i) {
        const double a = 1 / (h[i] * h[i]);
        q.m[5 * (i + 1)] = a;
        q.m[i + 1] = q.m[4 * (i + 1)] = -a * c[i];
        q.m[0] += a * c[i] * c[i];
    }
    return q;
}

inline Matrix4W SphereForm(const Vec3& centre, double radius) {
    return EllipsoidForm(centre, Vec3{radius, radius, radius});
}

inline Matrix4W Scaled(const Matrix4W& q, double s) { return Matrix4Scale(s, q); }

// The part's surfaces (at most its room) and its curved-surface bits.
inline void SetSurfaces(PartRenderRecord& part, std::span<const Matrix4W> surfaces) {
    const auto count = std::min(surfaces.size(), part.Surfaces().size());
    part.surfaceCount = static_cast<std::int32_t>(count);
    part.shapeClass = 0;
    for (std::size_t i = 0; i < count; ++i) {
        part.Surfaces()[i] = surfaces[i];
        const auto& m = surfaces[i].m;
        if (m[5] != 0 || m[6] != 0 || m[7] != 0 || m[10] != 0 || m[11] != 0 || m[15] != 0) {
            part.shapeClass |= std::int32_t{1} << i;
        }
    }
}

// The bounding ellipsoid of the given semi-axes, and a sphere proxy of radius |semiAxes|.
inline void SetBound(PartRenderRecord& part, const Vec3& centre, const Vec3& semiAxes) {
    part.boundQuadric = EllipsoidForm(centre, semiAxes);
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = Matrix4W{};
    part.proxy.m[0] = 1;
    part.proxy.m[4] = centre.x;
    part.proxy.m[8] = centre.y;
    part.proxy.m[12] = centre.z;
    part.proxy.m[15] =
        std::sqrt(semiAxes.x * semiAxes.x + semiAxes.y * semiAxes.y + semiAxes.z * semiAxes.z);
}

// An axis-aligned box: six planes (-x, +x, -y, +y, -z, +z), bounded by the ellipsoid through
// its corners (semi-axes sqrt(3) times the half sizes). The part needs room for 6 surfaces.
inline void SetBox(PartRenderRecord& part, const Vec3& centre, const Vec3& half) {
    const std::array<Matrix4W, 6> planes{PlaneForm(Vec3{-1, 0, 0}, -(centre.x - half.x)),
                                         PlaneForm(Vec3{1, 0, 0}, centre.x + half.x),
                                         PlaneForm(Vec3{0, -1, 0}, -(centre.y - half.y)),
                                         PlaneForm(Vec3{0, 1, 0}, centre.y + half.y),
                                         PlaneForm(Vec3{0, 0, -1}, -(centre.z - half.z)),
                                         PlaneForm(Vec3{0, 0, 1}, centre.z + half.z)};
    SetSurfaces(part, planes);
    const double root3 = std::sqrt(3.0);
    SetBound(part, centre, Vec3{root3 * half.x, root3 * half.y, root3 * half.z});
}

// A uniform double in [low, high) from two draws of the system's generator.
inline double Uniform(double low, double high) {
    const double high15 = CrtRand();
    const double low15 = CrtRand();
    return low + (high - low) * (high15 * 32768.0 + low15) / (32768.0 * 32768.0);
}

}  // namespace quadric_parts
