#include "gizmo/flyer_physics.h"

#include "core/maths_test_support.h"
#include "core/rotation.h"
#include "geometry/part_record.h"
#include "geometry/primitive_record.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/physics_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace physics_test;

// A flyer of the given mass and inertias at rest at position, its body frame the world's.
GizmoObject RestingFlyer(const Vec3& position, double mass, double transverse, double axial) {
    GizmoObject flyer = NewFlyerObject();
    flyer.flyer.mass = mass;
    flyer.flyer.inertiaTransverse = transverse;
    flyer.flyer.inertiaAxial = axial;
    flyer.position = position;
    flyer.flyer.committedPosition = position;
    return flyer;
}

double Distance(const Vec3& a, const Vec3& b) { return Vec3Length(Vec3Sub(a, b)); }

TEST(FlyerPhysics, SetUpFindsMassCentreAndPrincipalAxes) {
    // A cylinder lying along world x: its symmetry axis becomes the body's y axis, with the
    // axial moment m r^2 / 2 and the transverse m (3 r^2 + L^2) / 12.
    const double r = 0.5;
    const double h = 1.0;  // half length
    const Matrix3 lying = Matrix3FromAxisAngle(Z_AXIS, Pi / 2.0);
    const Vec3 centre{1.0, 3.0, -2.0};
    const TestSolid cylinder = Cylinder(centre, r, h, lying);
    const PhysicsPart parts[] = {PartOf(cylinder)};
    GizmoObject flyer = NewFlyerObject();
    PartRecordPtr record = NewPrimitive1(0.5, 7, 0, Vec3Add(centre, Vec3{0.5, 0.0, 0.0}), Colour{});
    AddObjectPart(flyer, 7, record.get());
    SetUpFlyer(flyer, parts, nullptr);

    const FlyerTail& f = flyer.flyer;
    const double mass = Pi * r * r * 2.0 * h;
    EXPECT_EQ(f.live, 1);
    EXPECT_NEAR(f.mass, mass, 0.01 * mass);
    EXPECT_NEAR(Distance(flyer.basePosition, centre), 0.0, 0.005);
    EXPECT_NEAR(f.inertiaAxial, 0.5 * mass * r * r, 0.01 * f.inertiaAxial);
    EXPECT_NEAR(f.inertiaTransverse, mass * (3.0 * r * r + 4.0 * h * h) / 12.0,
                0.01 * f.inertiaTransverse);
    // The body's y axis lies along world x; the committed angles give the same frame.
    EXPECT_NEAR(std::fabs(flyer.orientation.m[1]), 1.0, 1e-6);
    const Matrix3 fromAngles = FlyerOrientationOf(flyer, f.committedAngles);
    EXPECT_LT(MaxAbsDifference(fromAngles, flyer.orientation), 1e-12);
    // The rest copy sits in the body frame about the centre.
    const Vec3 rest = PartRecordPosition(flyer.partPairs[0].rest.get());
    const Vec3 expected =
        Matrix3TransformVec3(Matrix3Transpose(flyer.orientation),
                             Vec3Sub(Vec3Add(centre, Vec3{0.5, 0.0, 0.0}), flyer.basePosition));
    EXPECT_NEAR(Distance(rest, expected), 0.0, 1e-5);
    EXPECT_NEAR(f.size, cylinder.part.sphereRadius + Distance(centre, flyer.basePosition), 1e-12);
    EXPECT_EQ(f.wallDamping, -1.0);
    EXPECT_EQ(f.hitPart, -1);
}

TEST(FlyerPhysics, SetUpSnapsTheCentreOntoTheControlAxis) {
    // A sphere 1 % of the control's radius off its axis and level is put on both.
    const TestSolid control = Sphere(Vec3{0.0, 1.0, 0.0}, 1.0);
    const TestSolid body = Sphere(Vec3{0.01, 1.01, 0.0}, 0.5);
    const PhysicsPart parts[] = {PartOf(body)};
    const PhysicsPart controlPart = PartOf(control);
    GizmoObject flyer = NewFlyerObject();
    SetUpFlyer(flyer, parts, &controlPart);
    EXPECT_NEAR(Distance(flyer.basePosition, Vec3{0.0, 1.0, 0.0}), 0.0, 1e-12);
}

TEST(FlyerPhysics, SetUpOfAFlyerWithoutVolumeLeavesItDead) {
    GizmoObject flyer = NewFlyerObject();
    SetUpFlyer(flyer, {}, nullptr);
    EXPECT_EQ(flyer.flyer.live, 0);
    EXPECT_EQ(flyer.flyer.mass, 0.0);
}

TEST(FlyerPhysics, FreeFlightFollowsTheParabola) {
    struct Case {
        Vec3 position;
        Vec3 velocity;
        double g;
        double t;
    };
    const Case cases[] = {{{0.0, 1.0, 0.0}, {0.5, 2.0, -0.25}, -10.0, 0.3},
                          {{1.0, 5.0, -1.0}, {-1.0, -3.0, 0.5}, -3.0, 0.05},
                          {{-2.0, 0.0, 2.0}, {0.0, 0.0, 0.0}, -9.81, 1.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.t);
        GizmoObject flyer = RestingFlyer(c.position, 1.0, 1.0, 1.0);
        flyer.velocity = c.velocity;
        AdvanceFlyer(flyer, c.t, c.g, 1000.0, 100.0, Vec3{});
        EXPECT_NEAR(flyer.position.y, c.position.y + c.velocity.y * c.t + 0.5 * c.g * c.t * c.t,
                    1e-12);
        EXPECT_NEAR(flyer.velocity.y, c.velocity.y + c.g * c.t, 1e-12);
        EXPECT_NEAR(flyer.position.x, c.position.x + c.velocity.x * c.t, 1e-12);
        EXPECT_NEAR(flyer.position.z, c.position.z + c.velocity.z * c.t, 1e-12);
    }
}

TEST(FlyerPhysics, TopReflectsTheRisingFlyerAtTheSameSpeed) {
    const double g = -10.0;
    const double top = 2.0;
    const double y0 = 0.5;
    const double v0 = 8.0;
    const double t = 0.6;
    GizmoObject flyer = RestingFlyer(Vec3{0.0, y0, 0.0}, 1.0, 1.0, 1.0);
    flyer.velocity = Vec3{0.0, v0, 0.0};
    AdvanceFlyer(flyer, t, g, top, 100.0, Vec3{});
    // Reaches the top at tc with speed vc and falls from there with -vc.
    const double vc = std::sqrt(v0 * v0 + 2.0 * g * (top - y0));
    const double tc = (vc - v0) / g;
    const double after = t - tc;
    EXPECT_NEAR(flyer.velocity.y, -vc + g * after, 1e-9);
    EXPECT_NEAR(flyer.position.y, top - vc * after + 0.5 * g * after * after, 1e-9);
}

TEST(FlyerPhysics, WallReversesTheRadialVelocityAndKeepsTheTangential) {
    const Vec3 centre{1.0, 0.0, -2.0};
    const double radius = 3.0;
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        CrtSrand(static_cast<std::uint32_t>(i + 1));
        const Vec3 offset{RandomSigned() * 1.5, 0.0, RandomSigned() * 1.5};
        const Vec3 v{RandomSigned() * 4.0, 0.0, RandomSigned() * 4.0};
        GizmoObject flyer = RestingFlyer(Vec3Add(centre, offset), 1.0, 1.0, 1.0);
        flyer.velocity = v;
        // Where the straight path leaves the circle: |offset + v s| = radius.
        const double a = Vec3Dot(v, v);
        const double b = Vec3Dot(offset, v);
        const double c = Vec3Dot(offset, offset) - radius * radius;
        const double s = (-b + std::sqrt(b * b - a * c)) / a;
        const double t = s + 0.1 / std::sqrt(a);  // shortly after the wall
        AdvanceFlyer(flyer, t, 0.0, 1000.0, radius, centre);
        const Vec3 hit = Vec3Add(offset, Vec3Scale(v, s));
        const Vec3 n = Vec3Scale(hit, 1.0 / radius);
        const Vec3 after = flyer.velocity;
        EXPECT_NEAR(Vec3Dot(after, n), -Vec3Dot(v, n), 1e-9);
        const Vec3 tangentBefore = Vec3Sub(v, Vec3Scale(n, Vec3Dot(v, n)));
        const Vec3 tangentAfter = Vec3Sub(after, Vec3Scale(n, Vec3Dot(after, n)));
        EXPECT_NEAR(Distance(tangentBefore, tangentAfter), 0.0, 1e-9);
        const Vec3 expected = Vec3Add(centre, Vec3Add(hit, Vec3Scale(after, t - s)));
        EXPECT_NEAR(Distance(flyer.position, expected), 0.0, 1e-9);
    }
}

TEST(FlyerPhysics, WallTurnsBackAFlyerOutsideItWithoutChangingItsSpeed) {
    GizmoObject flyer = RestingFlyer(Vec3{4.0, 0.0, 0.0}, 1.0, 1.0, 1.0);
    flyer.velocity = Vec3{1.0, 0.0, 1.0};
    AdvanceFlyer(flyer, 0.1, 0.0, 1000.0, 3.0, Vec3{});
    EXPECT_NEAR(flyer.velocity.x, -1.0, 1e-12);
    EXPECT_NEAR(flyer.velocity.z, 1.0, 1e-12);
    EXPECT_TRUE(std::isfinite(flyer.position.x));
}

TEST(FlyerPhysics, ImpulseChangesVelocityAndMomentumButNotOrientation) {
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        CrtSrand(static_cast<std::uint32_t>(100 + i));
        GizmoObject flyer = RestingFlyer(Vec3{}, 2.0, 0.7, 0.3);
        flyer.flyer.committedAngles =
            Vec3{RandomSigned() * 3.0, std::fabs(RandomSigned()) * 3.0, RandomSigned() * 3.0};
        flyer.orientation = FlyerOrientationOf(flyer, flyer.flyer.committedAngles);
        const Matrix3 before = flyer.orientation;
        Vec3 momentum;
        Vec3 velocity;
        for (int k = 0; k < 3; ++k) {
            const Vec3 r = RandomVec3();
            const Vec3 j = Vec3Scale(RandomVec3(), 3.0);
            ApplyImpulse(flyer, r, j);
            momentum = Vec3Add(momentum, Vec3Cross(r, j));
            velocity = Vec3Add(velocity, Vec3Scale(j, 0.5));
            const Matrix3 now = FlyerOrientationOf(flyer, flyer.flyer.committedAngles);
            EXPECT_LT(MaxAbsDifference(now, before), 1e-9);
            EXPECT_NEAR(Distance(FlyerMomentum(flyer), momentum), 0.0, 1e-12);
            EXPECT_NEAR(Distance(flyer.flyer.committedVelocity, velocity), 0.0, 1e-12);
            EXPECT_LT(OrthonormalityError(flyer.flyer.momentumFrame), 1e-12);
        }
    }
}

TEST(FlyerPhysics, ContactMatrixGivesThePointVelocityChangeOfAnImpulse) {
    CrtSrand(7);
    GizmoObject flyer = RestingFlyer(Vec3{}, 1.5, 0.4, 0.9);
    flyer.orientation = RandomRotation();
    const Vec3 r = RandomVec3();
    const Vec3 j = RandomVec3();
    const Matrix3 k = ContactMatrix(flyer, r);
    // dv = j / m, dw = J^-1 (r x j): the point moves by dv + dw x r.
    const Vec3 dw = Matrix3TransformVec3(FlyerInverseInertia(flyer), Vec3Cross(r, j));
    const Vec3 expected = Vec3Add(Vec3Scale(j, 1.0 / 1.5), Vec3Cross(dw, r));
    EXPECT_NEAR(Distance(Matrix3TransformVec3(k, j), expected), 0.0, 1e-12);
}

TEST(FlyerPhysics, SpinsAsAFreeSymmetricTop) {
    // The closed form: R(t) = Rot(L, |L| t / It) R0 Rot(body y, (1/Ia - 1/It) (L . b) t).
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        CrtSrand(static_cast<std::uint32_t>(300 + i));
        GizmoObject flyer = RestingFlyer(Vec3{}, 1.0, 0.8, 0.3);
        flyer.flyer.committedAngles = Vec3{RandomSigned(), 1.0 + RandomSigned(), RandomSigned()};
        flyer.orientation = FlyerOrientationOf(flyer, flyer.flyer.committedAngles);
        const Matrix3 r0 = flyer.orientation;
        ApplyImpulse(flyer, RandomVec3(), Vec3Scale(RandomVec3(), 2.0));
        const Vec3 l = FlyerMomentum(flyer);
        RestoreState(flyer);
        const double t = 0.7;
        AdvanceFlyer(flyer, t, 0.0, 1000.0, 100.0, Vec3{});
        const double length = Vec3Length(l);
        const Vec3 bodyAxis{r0.m[1], r0.m[4], r0.m[7]};
        const Matrix3 precession =
            Matrix3FromAxisAngle(Vec3Scale(l, 1.0 / length), length * t / 0.8);
        const Matrix3 spin =
            Matrix3FromAxisAngle(Y_AXIS, (1.0 / 0.3 - 1.0 / 0.8) * Vec3Dot(l, bodyAxis) * t);
        const Matrix3 expected = Matrix3Product(Matrix3Product(precession, r0), spin);
        EXPECT_LT(MaxAbsDifference(flyer.orientation, expected), 1e-9);
        // Its angular velocity is J^-1 L.
        EXPECT_NEAR(Distance(FlyerAngularVelocity(flyer),
                             Matrix3TransformVec3(FlyerInverseInertia(flyer), l)),
                    0.0, 1e-12);
    }
}

struct DampWorld {
    std::vector<std::int32_t> movingParts;
    GizmoWorld world{&movingParts, nullptr};
    DampWorld() {
        world.stageRadius = 5.0;
        world.wallMargin = 0.5;
        world.topY = 4.0;
        world.gravity = -10.0;
    }
};

TEST(FlyerPhysics, DampingActsOnlyInsideTheWallAndTopZones) {
    DampWorld w;
    const double dt = 1.0 / 30.0;
    // At rest in the wall zone: k = 0, so no damping is found.
    GizmoObject resting = RestingFlyer(Vec3{4.8, 1.0, 0.0}, 1.0, 1.0, 1.0);
    DampFlyer(w.world, resting, dt);
    EXPECT_EQ(resting.flyer.wallDamping, 0.0);
    // Well inside: undecided, velocity untouched.
    GizmoObject inside = RestingFlyer(Vec3{1.0, 1.0, 0.0}, 1.0, 1.0, 1.0);
    inside.flyer.committedVelocity = Vec3{1.0, 1.0, 0.0};
    DampFlyer(w.world, inside, dt);
    EXPECT_EQ(inside.flyer.wallDamping, -1.0);
    EXPECT_EQ(inside.flyer.topDamping, -1.0);
    EXPECT_EQ(inside.flyer.committedVelocity.x, 1.0);
    // Driving outwards into the wall: pulled back towards the centre, by a rate kept while
    // the flyer stays in the zone.
    GizmoObject driving = RestingFlyer(Vec3{4.9, 1.0, 0.0}, 1.0, 1.0, 1.0);
    driving.flyer.committedVelocity = Vec3{3.0, 0.0, 2.0};
    DampFlyer(w.world, driving, dt);
    const double rate = driving.flyer.wallDamping;
    EXPECT_GT(rate, 0.0);
    EXPECT_NEAR(driving.flyer.committedVelocity.x, 3.0 - rate * 4.9, 1e-12);
    DampFlyer(w.world, driving, dt);
    EXPECT_EQ(driving.flyer.wallDamping, rate);
    // Rising fast just under the top: its rising speed drops.
    GizmoObject rising = RestingFlyer(Vec3{0.0, 3.8, 0.0}, 1.0, 1.0, 1.0);
    rising.flyer.committedVelocity = Vec3{0.0, 5.0, 0.0};
    DampFlyer(w.world, rising, dt);
    EXPECT_GT(rising.flyer.topDamping, 0.0);
    EXPECT_NEAR(rising.flyer.committedVelocity.y, 5.0 - rising.flyer.topDamping, 1e-12);
    // No zone without a margin.
    w.world.wallMargin = -1.0;
    GizmoObject unzoned = RestingFlyer(Vec3{4.9, 1.0, 0.0}, 1.0, 1.0, 1.0);
    DampFlyer(w.world, unzoned, dt);
    EXPECT_EQ(unzoned.flyer.wallDamping, -1.0);
}

}  // namespace
