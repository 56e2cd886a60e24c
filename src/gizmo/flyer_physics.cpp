#include "gizmo/flyer_physics.h"

#include "core/matrix4.h"
#include "core/rotation.h"
#include "core/scalar_maths.h"
#include "core/sym_eigen3.h"
#include "geometry/part_placement.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/mass_properties.h"
#include "gizmo/physics_maths_internal.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using namespace gizmo_physics;

// Reflections off the wall within one move; a path that grazes the wall could otherwise
// bounce on the spot without using up its time.
constexpr int MaxWallBounces = 64;

// [r]x, the matrix of r x.
Matrix3 CrossMatrix(const Vec3& r) {
    return Matrix3{{0.0, -r.z, r.y, r.z, 0.0, -r.x, -r.y, r.x, 0.0}};
}

// J^-1 in world coordinates: R diag(1/It, 1/Ia, 1/It) R^T.
Matrix3 InverseInertia(const GizmoObject& flyer) {
    const FlyerTail& f = flyer.flyer;
    const Matrix3 diagonal{{1.0 / f.inertiaTransverse, 0.0, 0.0, 0.0, 1.0 / f.inertiaAxial, 0.0,
                            0.0, 0.0, 1.0 / f.inertiaTransverse}};
    return Matrix3Product(Matrix3Product(flyer.orientation, diagonal),
                          Matrix3Transpose(flyer.orientation));
}

Vec3 AngularMomentumVector(const GizmoObject& flyer) {
    return Vec3Scale(Column(flyer.flyer.momentumFrame, 1), flyer.flyer.angularMomentum);
}

// Moves (x, z), relative to the wall's centre, by (vx, vz) for t seconds inside the circle
// of radius R, reflecting the velocity in the circle's normal wherever the path meets it.
void MoveInsideWall(Vec3& position, Vec3& velocity, double t, double radius, const Vec3& centre) {
    double x = position.x - centre.x;
    double z = position.z - centre.z;
    const double r2 = radius * radius;
    double remaining = t;
    for (int bounce = 0; remaining > 0.0; ++bounce) {
        const double nx = x + velocity.x * remaining;
        const double nz = z + velocity.z * remaining;
        const double speed2 = velocity.x * velocity.x + velocity.z * velocity.z;
        const double d = x * velocity.x + z * velocity.z;
        const double inside = r2 - (x * x + z * z);
        const double discriminant = d * d + speed2 * inside;
        if (nx * nx + nz * nz < r2 || bounce == MaxWallBounces || !(speed2 > 0.0) ||
            !(discriminant >= 0.0)) {
            // Inside at the end, or a path that never meets the circle.
            x = nx;
            z = nz;
            break;
        }
        // Time s to the circle along the path: d <= 0 heads inwards (the far crossing),
        // d > 0 outwards (the near one, written without cancellation).
        const double root = std::sqrt(discriminant);
        double s = d <= 0.0 ? (root - d) / speed2 : inside / (root + d);
        if (!(s < remaining)) {
            x = nx;
            z = nz;
            break;
        }
        double nr2 = r2;
        if (s < 0.0) {
            // Already outside the wall and moving away: the formula would move the flyer
            // back in time to the wall. It is turned back where it stands instead, about
            // its own radial direction, so the reflection keeps its speed.
            s = 0.0;
            nr2 = x * x + z * z;
        }
        x += velocity.x * s;
        z += velocity.z * s;
        const double k = 2.0 * (velocity.x * x + velocity.z * z);
        velocity.x -= k * x / nr2;
        velocity.z -= k * z / nr2;
        remaining -= s;
    }
    position.x = centre.x + x;
    position.z = centre.z + z;
}

}  // namespace

void SetUpFlyer(GizmoObject& flyer, std::span<const PhysicsPart> parts,
                const PhysicsPart* control) {
    FlyerTail& f = flyer.flyer;
    f.wallDamping = -1.0;
    f.topDamping = -1.0;
    f.hitPart = -1;
    f.lastHitPart = -1;
    f.lastContactStamp = 0;
    f.lastScoreStamp = 0;
    f.mass = 0.0;
    f.live = 0;
    const MassProperties sampled = SampleMassProperties(parts);
    if (!(sampled.mass > 0.0)) return;
    f.live = 1;
    f.mass = sampled.mass;

    // A centre that nearly lies on the control part's axis, or at its level, is put there
    // exactly, so a flyer meant to be balanced does not wobble by the sampling's error.
    Vec3 centre = sampled.centre;
    if (control != nullptr) {
        Vec3 local = TransformPoint(control->localFromWorld, centre);
        const double limit = 0.03 * control->sphereRadius;
        if (std::sqrt(local.x * local.x + local.z * local.z) < limit) {
            local.x = 0.0;
            local.z = 0.0;
        }
        if (std::fabs(local.y) < limit) local.y = 0.0;
        centre = TransformPoint(InvertAffineWFirst(control->localFromWorld), local);
    }

    // Principal moments; the pair that agree within 3 % of the tensor's largest entry are
    // the transverse moments and the third moment's axis becomes the body's y axis.
    const Matrix3 inertia = InertiaFromSecondMoments(SecondMomentsAbout(sampled, centre));
    std::array<double, 3> moments{};
    Matrix3 axes;
    SymEigen3(inertia, true, moments, axes);
    double largest = 0.0;
    for (double e : inertia.m) largest = std::max(largest, std::fabs(e));
    const double tolerance = 0.03 * largest;
    constexpr int Pairs[3][3] = {{0, 1, 2}, {1, 2, 0}, {0, 2, 1}};
    int axial = 2;
    for (const auto& pair : Pairs) {
        if (std::fabs(moments[static_cast<std::size_t>(pair[0])] -
                      moments[static_cast<std::size_t>(pair[1])]) < tolerance) {
            axial = pair[2];
            break;
        }
    }
    const int first = (axial + 2) % 3;  // a cyclic order keeps the frame right-handed
    const int third = (axial + 1) % 3;
    f.inertiaAxial = moments[static_cast<std::size_t>(axial)];
    f.inertiaTransverse =
        0.5 * (moments[static_cast<std::size_t>(first)] + moments[static_cast<std::size_t>(third)]);
    const Matrix3 bodyFrame =
        FromColumns(Column(axes, first), Column(axes, axial), Column(axes, third));

    flyer.basePosition = centre;
    flyer.position = centre;
    flyer.velocity = Vec3{};
    f.committedPosition = centre;
    f.committedVelocity = Vec3{};
    f.startVelocity = Vec3{};
    const Matrix3 bodyFromWorld = Matrix3Transpose(bodyFrame);
    const Matrix4W toBody =
        Placement(bodyFromWorld, Vec3Scale(Matrix3TransformVec3(bodyFromWorld, centre), -1.0));
    for (ObjectPartPair& pair : flyer.partPairs) SetPartPlacement(pair.rest.get(), toBody);
    const std::array<double, 3> angles = EulerYZYFromRotation(bodyFrame);
    f.committedAngles = Vec3{angles[0], angles[1], angles[2]};
    f.startAngles = f.committedAngles;
    f.angles = f.committedAngles;
    f.angularMomentum = 0.0;
    f.momentumFrame = Matrix3SetDiagonal(1.0);
    flyer.orientation = FlyerOrientationOf(flyer, f.angles);
    double size = 0.0;
    for (const PhysicsPart& part : parts) {
        size = std::max(size, Vec3Length(Vec3Sub(part.sphereCentre, centre)) + part.sphereRadius);
    }
    f.size = size;
}

void AdvanceFlyer(GizmoObject& flyer, double t, double gravity, double topY, double stageRadius,
                  const Vec3& stageCentre) {
    Vec3& p = flyer.position;
    Vec3& v = flyer.velocity;
    // The top: a flyer that would rise through it within t reaches it after tc, where
    // topY - y = vy tc + g tc^2 / 2, and comes back down with the speed it had there.
    double fall = t;
    if (v.y > 0.0 && p.y < topY) {
        const double rise = topY - p.y;
        const double reach = v.y * v.y + 2.0 * gravity * rise;
        if (reach > 0.0) {
            const double tc = 2.0 * rise / (std::sqrt(reach) + v.y);
            if (tc < t) {
                v.y = -(gravity * tc + v.y);
                p.y = topY;
                fall = t - tc;
            }
        }
    }
    p.y += v.y * fall + 0.5 * gravity * fall * fall;
    v.y += gravity * fall;
    MoveInsideWall(p, v, t, stageRadius, stageCentre);

    FlyerTail& f = flyer.flyer;
    const double l = f.angularMomentum;
    f.angles.x += std::cos(f.angles.y) * (1.0 / f.inertiaAxial - 1.0 / f.inertiaTransverse) * l * t;
    f.angles.z += l * t / f.inertiaTransverse;
    flyer.orientation = FlyerOrientationOf(flyer, f.angles);
}

Matrix3 FlyerOrientationOf(const GizmoObject& flyer, const Vec3& angles) {
    return Matrix3Product(flyer.flyer.momentumFrame,
                          RotationFromEulerYZY({angles.x, angles.y, angles.z}));
}

Vec3 FlyerAngularVelocity(const GizmoObject& flyer) {
    return Matrix3TransformVec3(InverseInertia(flyer), AngularMomentumVector(flyer));
}

Matrix3 ContactMatrix(const GizmoObject& flyer, const Vec3& r) {
    // An impulse p at r changes the velocity by p / m and the angular velocity by
    // J^-1 (r x p), so the point's velocity by p / m + (J^-1 (r x p)) x r
    // = (I / m - [r]x J^-1 [r]x) p.
    const Matrix3 rx = CrossMatrix(r);
    const Matrix3 turn = Matrix3Product(Matrix3Product(rx, InverseInertia(flyer)), rx);
    return Matrix3Sub(Matrix3SetDiagonal(1.0 / flyer.flyer.mass), turn);
}

void ApplyImpulse(GizmoObject& flyer, const Vec3& r, const Vec3& impulse) {
    FlyerTail& f = flyer.flyer;
    f.committedVelocity = Vec3Add(f.committedVelocity, Vec3Scale(impulse, 1.0 / f.mass));
    const Vec3 momentum = Vec3Add(AngularMomentumVector(flyer), Vec3Cross(r, impulse));
    const double length = Vec3Length(momentum);
    Matrix3 frame = Matrix3SetDiagonal(1.0);
    double magnitude = 0.0;
    if (IsNormalPositive(length)) {
        // The new frame's y axis is the momentum's direction; its x axis is chosen against
        // the body's symmetry axis, which then lies in the frame's x-y plane at the
        // nutation angle from y, so the precession starts from 0.
        const Vec3 y = Vec3Scale(momentum, 1.0 / length);
        const Vec3 body = Column(flyer.orientation, 1);
        Vec3 across = Vec3Sub(body, Vec3Scale(y, Vec3Dot(body, y)));
        Vec3 x;
        if (Vec3Normalize(across) > 0.0) {
            x = Vec3Scale(across, -1.0);
        } else {
            x = Column(BasisFromAxis(y.x, y.y, y.z), 0);
        }
        frame = FromColumns(x, y, Vec3Cross(x, y));
        magnitude = length;
    }
    f.momentumFrame = frame;
    f.angularMomentum = magnitude;
    // The orientation stays: its angles are taken anew in the new frame.
    const std::array<double, 3> angles =
        EulerYZYFromRotation(Matrix3TransposeProduct(frame, flyer.orientation));
    f.committedAngles = Vec3{angles[0], angles[1], angles[2]};
}

void DampFlyer(const GizmoWorld& world, GizmoObject& flyer, double dt) {
    if (!(world.wallMargin > 0.0) || !(dt > 0.0)) return;
    FlyerTail& f = flyer.flyer;
    Vec3& velocity = f.committedVelocity;

    // The wall zone. A flyer rolling round the inside of the wall is pushed out by its
    // centripetal need and kept in by the reflections; the damping rate takes off the
    // horizontal speed it picks up there. It is solved once, from the step between the
    // position one frame back and now lifted onto a sphere of the wall's radius.
    const double dx = f.committedPosition.x - world.stageCentre.x;
    const double dz = f.committedPosition.z - world.stageCentre.z;
    const double rho2 = dx * dx + dz * dz;
    const double r = world.stageRadius;
    const double inner = r - world.wallMargin;
    if (rho2 <= inner * inner) {
        f.wallDamping = -1.0;
    } else {
        if (f.wallDamping < 0.0) {
            f.wallDamping = 0.0;
            const double bx = dx - dt * velocity.x;
            const double bz = dz - dt * velocity.z;
            const double b2 = bx * bx + bz * bz;
            const double k = 1.0 - b2 / rho2;
            const double db = dx * bx + dz * bz;
            const double c = db / rho2;
            const double lifted = std::max(0.0, (1.0 - rho2 / (r * r)) * (1.0 - b2 / (r * r)));
            const double y = std::sqrt(lifted) + db / (r * r);
            if (k > 0.0 && 1.0 - y * y > 0.0) {
                const double zc = std::sqrt(1.0 - y * y);
                if (4.0 * y * (y - c) > k) {
                    const double alpha = AngleOfVector2(y, zc);
                    const double turns =
                        (HALF_PI - std::atan((k / (2.0 * (y - c)) - y) / zc)) / alpha;
                    // At least one, and small enough to stay an exact integer.
                    const double m = std::clamp(std::trunc(turns), 1.0, 1e6);
                    double theta = alpha;
                    for (int step = 0; step < 4; ++step) {
                        const double sinT = std::sin(theta);
                        const double cosT = std::cos(theta);
                        const double sinM = std::sin(m * theta);
                        const double cosM = std::cos(m * theta);
                        const double gap = cosT - c;
                        const double value = cosT + sinT * cosM / sinM - 0.5 * k / gap;
                        const double slope = (cosT * cosM - m * sinT / sinM) / sinM -
                                             sinT * (1.0 + 0.5 * k / (gap * gap));
                        const double next = theta - value / slope;
                        if (!std::isfinite(next)) break;
                        theta = next;
                    }
                    f.wallDamping = 2.0 * (1.0 - std::cos(theta)) / dt;
                }
            }
        }
        velocity.x -= f.wallDamping * dx;
        velocity.z -= f.wallDamping * dz;
    }

    // The top zone: a flyer bouncing in small hops under the top loses part of its rising
    // speed, so that the hops die out in about N of them.
    const double height = f.committedPosition.y;
    if (height >= world.topY || height <= world.topY - world.wallMargin) {
        f.topDamping = -1.0;
        return;
    }
    if (f.topDamping < 0.0) {
        f.topDamping = 0.0;
        const double g = world.gravity;
        if (velocity.y > 0.0 && g < 0.0) {
            const double h = world.topY - height;
            const double reach = velocity.y - 0.5 * g * dt;
            if (reach * dt / 8.0 < h) {
                const double q = h / (reach * dt);
                const double hops =
                    std::clamp(std::trunc(2.0 * (q + std::sqrt(q * q + q))), 1.0, 1e9);
                const double damping = (2.0 * velocity.y + hops * g * dt) / (hops + 1.0);
                if (damping > 0.0) f.topDamping = damping;
            }
        }
    }
    velocity.y -= f.topDamping;
}
