#pragma once

// Solids for the physics tests, described the way the gizmo's physics reads a part: surfaces
// as w-first symmetric forms (negative inside) in world coordinates, a frame, a grid box and
// a bounding sphere.

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/vec3.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/physics_part.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace physics_test {

inline constexpr double Pi = 3.14159265358979323846;

// x -> r^T (x - origin): the frame whose axes are the columns of r, at origin.
inline Matrix4W FrameFromWorld(const Matrix3& r, const Vec3& origin) {
    const Matrix3 rt = Matrix3Transpose(r);
    const Vec3 t = Matrix3TransformVec3(rt, origin);
    Matrix4W w = EmbedMatrix3(rt, 0);
    w.m[4] = -t.x;
    w.m[8] = -t.y;
    w.m[12] = -t.z;
    return w;
}

// A surface given in a frame, seen in world coordinates: P^T Q P.
inline Matrix4W ToWorld(const Matrix4W& local, const Matrix4W& localFromWorld) {
    return Matrix4Product(Matrix4Transpose(localFromWorld), Matrix4Product(local, localFromWorld));
}

// a x^2 + b y^2 + c z^2 + 2 (p x + q y + r z) + k in the w-first layout.
inline Matrix4W Quadric(double a, double b, double c, double p, double q, double r, double k) {
    Matrix4W w;
    w.m[0] = k;
    w.m[1] = w.m[4] = p;
    w.m[2] = w.m[8] = q;
    w.m[3] = w.m[12] = r;
    w.m[5] = a;
    w.m[10] = b;
    w.m[15] = c;
    return w;
}

inline double Value(const Matrix4W& q, const Vec3& p) {
    const Vec4 v = Matrix4TransformVec4(q, Vec4{1.0, p.x, p.y, p.z});
    return v.w + v.x * p.x + v.y * p.y + v.z * p.z;
}

inline Vec3 HalfGradient(const Matrix4W& q, const Vec3& p) {
    const Vec4 v = Matrix4TransformVec4(q, Vec4{1.0, p.x, p.y, p.z});
    return Vec3{v.x, v.y, v.z};
}

// A part whose local surfaces are given about its frame; the box and bounding sphere come
// from the local half-extents (the sphere encloses the box of those extents).
struct TestSolid {
    std::vector<Matrix4W> surfaces;  // world
    PhysicsPart part;
};

inline TestSolid MakeSolid(ShapeType type, const std::vector<Matrix4W>& local,
                           std::uint32_t curvedMask, const Matrix3& orientation, const Vec3& centre,
                           const Vec3& halfExtents) {
    TestSolid solid;
    const Matrix4W frame = FrameFromWorld(orientation, centre);
    for (const Matrix4W& q : local) solid.surfaces.push_back(ToWorld(q, frame));
    PhysicsPart& p = solid.part;
    p.shapeType = type;
    p.localFromWorld = frame;
    p.position = centre;
    p.curvedMask = curvedMask;
    // The world box of the turned local box.
    double reach[3] = {0.0, 0.0, 0.0};
    const double half[3] = {halfExtents.x, halfExtents.y, halfExtents.z};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            reach[row] +=
                std::fabs(orientation.m[static_cast<std::size_t>(3 * row + col)]) * half[col];
        }
    }
    const double c[3] = {centre.x, centre.y, centre.z};
    double largest = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double low = std::floor((c[axis] - reach[axis]) * PartGridUnitsPerUnit);
        const double high = std::floor((c[axis] + reach[axis]) * PartGridUnitsPerUnit) + 1.0;
        p.box[static_cast<std::size_t>(2 * axis)] = static_cast<std::int32_t>(low);
        p.box[static_cast<std::size_t>(2 * axis + 1)] = static_cast<std::int32_t>(high);
        largest = std::max(largest, high - low);
    }
    p.octreeLevel = static_cast<std::int32_t>(std::floor(std::log2(largest)));
    p.sphereCentre = centre;
    p.sphereRadius = Vec3Length(halfExtents);
    return solid;
}

// Refreshes the span after the solid has moved in memory.
inline PhysicsPart PartOf(const TestSolid& solid) {
    PhysicsPart p = solid.part;
    p.surfaces = solid.surfaces;
    return p;
}

inline TestSolid Sphere(const Vec3& centre, double radius,
                        const Matrix3& orientation = Matrix3SetDiagonal(1.0)) {
    TestSolid s =
        MakeSolid(ShapeType::Sphere, {Quadric(1.0, 1.0, 1.0, 0.0, 0.0, 0.0, -radius * radius)}, 1u,
                  orientation, centre, Vec3{radius, radius, radius});
    s.part.sphereRadius = radius;
    return s;
}

// A box of half extents a, b, c along its frame's axes.
inline TestSolid Box(const Vec3& centre, const Vec3& half, const Matrix3& orientation) {
    const std::vector<Matrix4W> planes{
        Quadric(0, 0, 0, 0.5, 0, 0, -half.x), Quadric(0, 0, 0, -0.5, 0, 0, -half.x),
        Quadric(0, 0, 0, 0, 0.5, 0, -half.y), Quadric(0, 0, 0, 0, -0.5, 0, -half.y),
        Quadric(0, 0, 0, 0, 0, 0.5, -half.z), Quadric(0, 0, 0, 0, 0, -0.5, -half.z)};
    return MakeSolid(ShapeType::Box, planes, 0u, orientation, centre, half);
}

// A cylinder of radius r about its frame's y axis, from -h to h: the side, the top, the
// bottom.
inline TestSolid Cylinder(const Vec3& centre, double r, double h, const Matrix3& orientation) {
    return MakeSolid(ShapeType::Cylinder,
                     {Quadric(1, 0, 1, 0, 0, 0, -r * r), Quadric(0, 0, 0, 0, 0.5, 0, -h),
                      Quadric(0, 0, 0, 0, -0.5, 0, -h)},
                     1u, orientation, centre, Vec3{r, h, r});
}

// A flyer's inverse inertia in world coordinates, from its orientation: R diag(1/It, 1/Ia,
// 1/It) R^T.
inline Matrix3 FlyerInverseInertia(const GizmoObject& flyer) {
    const FlyerTail& f = flyer.flyer;
    const Matrix3 d{{1.0 / f.inertiaTransverse, 0, 0, 0, 1.0 / f.inertiaAxial, 0, 0, 0,
                     1.0 / f.inertiaTransverse}};
    return Matrix3Product(Matrix3Product(flyer.orientation, d),
                          Matrix3Transpose(flyer.orientation));
}

// A flyer's angular momentum vector: its magnitude along its momentum frame's y axis.
inline Vec3 FlyerMomentum(const GizmoObject& flyer) {
    const Matrix3& m = flyer.flyer.momentumFrame;
    return Vec3Scale(Vec3{m.m[1], m.m[4], m.m[7]}, flyer.flyer.angularMomentum);
}

}  // namespace physics_test
