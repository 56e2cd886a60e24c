#include "gizmo/flyer_bounce.h"

#include "core/maths_test_support.h"
#include "core/rotation.h"
#include "gizmo/flyer_physics.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/physics_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using physics_test::FlyerInverseInertia;
using physics_test::FlyerMomentum;

constexpr double G = -10.0;
constexpr double G60 = 10.0 / 60.0;

// A flyer of the given mass properties whose committed state is at `position` with
// `velocity`, no spin, and its contact at `point` with a normal into the hit part.
GizmoObject Flyer(double mass, double transverse, double axial, const Vec3& position,
                  const Vec3& velocity, const Vec3& point, const Vec3& normal) {
    GizmoObject flyer = NewFlyerObject();
    flyer.inMotion = 1;
    FlyerTail& f = flyer.flyer;
    f.mass = mass;
    f.inertiaTransverse = transverse;
    f.inertiaAxial = axial;
    f.committedPosition = position;
    f.committedVelocity = velocity;
    flyer.position = position;
    flyer.previousPosition = position;
    f.contact = Contact{point, normal};
    f.hitPart = 5;
    return flyer;
}

// Gives the flyer an orientation and an angular momentum through impulses about its centre.
void Spin(GizmoObject& flyer, const Matrix3& orientation, const Vec3& momentum) {
    flyer.orientation = orientation;
    ApplyImpulse(flyer, Vec3{}, Vec3{});
    // r x j = momentum with r perpendicular to it and j = momentum x r / |r|^2, and the
    // opposite linear impulse at the centre.
    Vec3 r = Vec3Cross(momentum, X_AXIS);
    if (Vec3Length(r) < 1e-6) r = Vec3Cross(momentum, Y_AXIS);
    const Vec3 j = Vec3Scale(Vec3Cross(momentum, r), 1.0 / Vec3Dot(r, r));
    ApplyImpulse(flyer, r, j);
    ApplyImpulse(flyer, Vec3{}, Vec3Scale(j, -1.0));
}

// The velocity of the flyer's contact point, from its committed state, worked out here.
Vec3 PointVelocity(const GizmoObject& flyer) {
    const Vec3 omega = Matrix3TransformVec3(FlyerInverseInertia(flyer), FlyerMomentum(flyer));
    const Vec3 r = Vec3Sub(flyer.flyer.contact.point, flyer.previousPosition);
    return Vec3Add(flyer.flyer.committedVelocity, Vec3Cross(omega, r));
}

double KineticEnergy(const GizmoObject& flyer) {
    const Vec3 l = FlyerMomentum(flyer);
    const Vec3& v = flyer.flyer.committedVelocity;
    return 0.5 * flyer.flyer.mass * Vec3Dot(v, v) +
           0.5 * Vec3Dot(l, Matrix3TransformVec3(FlyerInverseInertia(flyer), l));
}

TEST(FlyerBounce, LosslessFrictionlessBounceOffAFixedPartKeepsTheNormalSpeed) {
    // Off-centre contacts with spin, against a fixed part: the relative normal speed comes
    // back as it arrived.
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        CrtSrand(static_cast<std::uint32_t>(i + 1));
        const Vec3 normal = Vec3Scale(RandomUnitVec3(), 0.5 + std::fabs(RandomSigned()));
        const Vec3 point = Vec3Scale(RandomVec3(), 0.8);
        GizmoObject flyer = Flyer(1.0 + std::fabs(RandomSigned()), 0.3, 0.2, Vec3{},
                                  Vec3Scale(RandomVec3(), 3.0), point, normal);
        Spin(flyer, RandomRotation(), Vec3Scale(RandomVec3(), 0.5));
        const Vec3 n = Vec3Scale(normal, 1.0 / Vec3Length(normal));
        double before = Vec3Dot(PointVelocity(flyer), n);
        if (before <= G60) {  // make it approach
            flyer.flyer.committedVelocity =
                Vec3Add(flyer.flyer.committedVelocity, Vec3Scale(n, 2.0 - before));
            before = Vec3Dot(PointVelocity(flyer), n);
        }
        const double energy = KineticEnergy(flyer);
        Bounce(flyer, nullptr, {}, {}, 1000, G, false);
        EXPECT_NEAR(Vec3Dot(PointVelocity(flyer), n), -before, 1e-9);
        EXPECT_NEAR(flyer.flyer.impactSpeed, before, 1e-9);
        EXPECT_NEAR(KineticEnergy(flyer), energy, 1e-9 * energy);
        EXPECT_EQ(flyer.flyer.contactSound, before > 2.0 * G60 ? 1 : 0);
    }
}

TEST(FlyerBounce, LossTakesItsShareOfTheCompressionWork) {
    // A head-on contact (no slip, no coupling) approaching at v separates at
    // sqrt(v^2 - e (v - g/60)^2); a result below g/60 gains 0.1 g/60.
    struct Case {
        double v;
        double loss;
    };
    const Case cases[] = {{3.0, 0.0},  {3.0, 0.25}, {3.0, 0.5}, {3.0, 1.0},
                          {1.0, 0.75}, {0.2, 1.0},  {0.5, 0.9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.loss);
        GizmoObject flyer = Flyer(2.0, 0.5, 0.5, Vec3{0.0, 1.0, 0.0}, Vec3{0.0, -c.v, 0.0},
                                  Vec3{0.0, 0.5, 0.0}, Vec3{0.0, -2.0, 0.0});
        Bounce(flyer, nullptr, {c.loss, 0.0}, {c.loss, 0.0}, 1000, G, false);
        double expected = std::sqrt(c.v * c.v - c.loss * (c.v - G60) * (c.v - G60));
        if (expected < G60) expected += 0.1 * G60;
        EXPECT_NEAR(flyer.flyer.committedVelocity.y, expected, 1e-12);
        EXPECT_NEAR(flyer.flyer.committedVelocity.x, 0.0, 1e-15);
    }
}

TEST(FlyerBounce, LossAboveOneBringsTheContactToRest) {
    GizmoObject flyer = Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{0.0, -3.0, 0.0}, Vec3{0.0, -0.5, 0.0},
                              Vec3{0.0, -1.0, 0.0});
    Bounce(flyer, nullptr, {4.0, 0.0}, {4.0, 0.0}, 1000, G, false);
    EXPECT_NEAR(flyer.flyer.committedVelocity.y, 0.1 * G60, 1e-12);
}

TEST(FlyerBounce, TheSmallerLossAndFrictionOfTheTwoPartsApply) {
    auto falling = [] {
        return Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{0.0, -3.0, 0.0}, Vec3{0.0, -0.5, 0.0},
                     Vec3{0.0, -1.0, 0.0});
    };
    GizmoObject a = falling();
    GizmoObject b = falling();
    Bounce(a, nullptr, {0.3, 0.0}, {0.9, 0.0}, 1000, G, false);
    Bounce(b, nullptr, {0.3, 0.0}, {0.3, 0.0}, 1000, G, false);
    EXPECT_EQ(a.flyer.committedVelocity.y, b.flyer.committedVelocity.y);
    GizmoObject c = falling();
    Bounce(c, nullptr, {0.3, 0.0}, {0.9, 0.0}, 1000, G, true);
    EXPECT_NEAR(c.flyer.committedVelocity.y, 3.0, 1e-12);
}

TEST(FlyerBounce, RepeatedContactsFadeInTheirLoss) {
    // 40 sub-steps after the last contact of the same part: a quarter of the loss; 64 or
    // more: all of it; 32 or fewer: none.
    struct Case {
        std::int32_t since;
        double share;
    };
    const Case cases[] = {{40, 0.25}, {64, 1.0}, {200, 1.0}, {32, 0.0}, {10, 0.0}, {48, 0.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.since);
        GizmoObject flyer = Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{0.0, -3.0, 0.0}, Vec3{0.0, -0.5, 0.0},
                                  Vec3{0.0, -1.0, 0.0});
        flyer.flyer.lastHitPart = flyer.flyer.hitPart;
        Bounce(flyer, nullptr, {0.8, 0.0}, {0.8, 0.0}, c.since, G, false);
        const double e = 0.8 * c.share;
        EXPECT_NEAR(flyer.flyer.committedVelocity.y, std::sqrt(9.0 - e * (3.0 - G60) * (3.0 - G60)),
                    1e-12);
    }
}

TEST(FlyerBounce, GrippingContactEndsWithoutTangentialSlip) {
    // A spinning ball thrown obliquely at the floor with high friction: the slip stops, so
    // the contact point leaves with no tangential velocity.
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        CrtSrand(static_cast<std::uint32_t>(50 + i));
        const double radius = 0.5;
        const Vec3 velocity{RandomSigned() * 2.0, -2.0 - std::fabs(RandomSigned()), RandomSigned()};
        GizmoObject flyer =
            Flyer(1.0, 0.1, 0.1, Vec3{}, velocity, Vec3{0.0, -radius, 0.0}, Vec3{0.0, -1.0, 0.0});
        Spin(flyer, RandomRotation(), Vec3Scale(RandomVec3(), 0.2));
        Bounce(flyer, nullptr, {0.2, 2.0}, {0.2, 2.0}, 1000, G, false);
        const Vec3 after = PointVelocity(flyer);
        EXPECT_NEAR(after.x, 0.0, 1e-9);
        EXPECT_NEAR(after.z, 0.0, 1e-9);
        EXPECT_GT(after.y, 0.0);
    }
}

TEST(FlyerBounce, SlidingContactTakesFrictionInProportionToTheNormalImpulse) {
    // A fast slide with little friction: the tangential impulse is friction times the normal
    // impulse and opposes the slip.
    const double mu = 0.1;
    GizmoObject flyer = Flyer(1.0, 0.1, 0.1, Vec3{}, Vec3{5.0, -2.0, 0.0}, Vec3{0.0, -0.5, 0.0},
                              Vec3{0.0, -1.0, 0.0});
    Bounce(flyer, nullptr, {0.0, mu}, {0.0, mu}, 1000, G, false);
    const Vec3 impulse = Vec3Sub(flyer.flyer.committedVelocity, Vec3{5.0, -2.0, 0.0});
    EXPECT_NEAR(impulse.x, -mu * impulse.y, 1e-9);
    EXPECT_NEAR(impulse.z, 0.0, 1e-12);
    EXPECT_NEAR(flyer.flyer.committedVelocity.y, 2.0, 1e-9);
}

TEST(FlyerBounce, SeparatingContactIsPushedApartAtEightTimesItsSpeed) {
    GizmoObject flyer = Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{1.0, 0.5, 0.0}, Vec3{0.0, -0.5, 0.0},
                              Vec3{0.0, -3.0, 0.0});
    flyer.flyer.impactSpeed = 1.25;
    Bounce(flyer, nullptr, {0.5, 1.0}, {0.5, 1.0}, 1000, G, false);
    EXPECT_NEAR(flyer.flyer.committedVelocity.y, 4.0, 1e-12);
    EXPECT_NEAR(flyer.flyer.committedVelocity.x, 1.0, 1e-15);  // no friction
    EXPECT_EQ(flyer.flyer.impactSpeed, 1.25);
    EXPECT_EQ(flyer.flyer.contactSound, 0);
    // Sliding along the part: no impulse at all.
    GizmoObject sliding = Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{1.0, 0.0, 0.0}, Vec3{0.0, -0.5, 0.0},
                                Vec3{0.0, -3.0, 0.0});
    Bounce(sliding, nullptr, {0.5, 1.0}, {0.5, 1.0}, 1000, G, false);
    EXPECT_EQ(sliding.flyer.committedVelocity.x, 1.0);
    EXPECT_EQ(sliding.flyer.committedVelocity.y, 0.0);
}

TEST(FlyerBounce, RestingContactMakesNoSound) {
    // Approaching below 2 g/60 per contact.
    GizmoObject flyer = Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{0.0, -0.3, 0.0}, Vec3{0.0, -0.5, 0.0},
                              Vec3{0.0, -1.0, 0.0});
    Bounce(flyer, nullptr, {}, {}, 1000, G, false);
    EXPECT_EQ(flyer.flyer.contactSound, 0);
    EXPECT_NEAR(flyer.flyer.impactSpeed, 0.3, 1e-15);
}

TEST(FlyerBounce, FlyersHittingEachOtherConserveMomentumAndElasticEnergy) {
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        CrtSrand(static_cast<std::uint32_t>(900 + i));
        const bool elastic = i % 2 == 0;
        const Vec3 pa{0.0, 0.0, 0.0};
        const Vec3 pb = Vec3Add(pa, Vec3Scale(RandomUnitVec3(), 1.0));
        const Vec3 point = Vec3Add(Vec3Scale(Vec3Add(pa, pb), 0.5), Vec3Scale(RandomVec3(), 0.2));
        const Vec3 normal = Vec3Add(Vec3Sub(pb, pa), Vec3Scale(RandomVec3(), 0.3));
        GizmoObject a = Flyer(1.0 + std::fabs(RandomSigned()), 0.2, 0.1, pa,
                              Vec3Scale(RandomVec3(), 2.0), point, normal);
        GizmoObject b = Flyer(0.5 + std::fabs(RandomSigned()), 0.15, 0.3, pb,
                              Vec3Scale(RandomVec3(), 2.0), point, Vec3Scale(normal, -1.0));
        Spin(a, RandomRotation(), Vec3Scale(RandomVec3(), 0.3));
        Spin(b, RandomRotation(), Vec3Scale(RandomVec3(), 0.3));
        // Make them approach at the contact.
        const Vec3 n = Vec3Scale(normal, 1.0 / Vec3Length(normal));
        const double closing = Vec3Dot(Vec3Sub(PointVelocity(a), PointVelocity(b)), n);
        if (closing < 1.0) {
            a.flyer.committedVelocity =
                Vec3Add(a.flyer.committedVelocity, Vec3Scale(n, 1.0 - closing));
        }
        const double ma = a.flyer.mass;
        const double mb = b.flyer.mass;
        const Vec3 momentum = Vec3Add(Vec3Scale(a.flyer.committedVelocity, ma),
                                      Vec3Scale(b.flyer.committedVelocity, mb));
        // Angular momentum about the origin: r x p plus the spins.
        auto angular = [&] {
            return Vec3Add(Vec3Add(FlyerMomentum(a), FlyerMomentum(b)),
                           Vec3Add(Vec3Cross(pa, Vec3Scale(a.flyer.committedVelocity, ma)),
                                   Vec3Cross(pb, Vec3Scale(b.flyer.committedVelocity, mb))));
        };
        const Vec3 angularBefore = angular();
        const double energy = KineticEnergy(a) + KineticEnergy(b);
        const ContactMaterial material =
            elastic ? ContactMaterial{0.0, 0.0} : ContactMaterial{0.4, 0.6};
        Bounce(a, &b, material, material, 1000, G, false);
        const Vec3 after = Vec3Add(Vec3Scale(a.flyer.committedVelocity, ma),
                                   Vec3Scale(b.flyer.committedVelocity, mb));
        EXPECT_NEAR(Vec3Length(Vec3Sub(after, momentum)), 0.0, 1e-12);
        EXPECT_NEAR(Vec3Length(Vec3Sub(angular(), angularBefore)), 0.0, 1e-12);
        const double energyAfter = KineticEnergy(a) + KineticEnergy(b);
        if (elastic) {
            EXPECT_NEAR(energyAfter, energy, 1e-9 * energy);
        } else {
            EXPECT_LE(energyAfter, energy * (1.0 + 1e-12));
        }
        EXPECT_EQ(b.flyer.hitPart, -1);
    }
}

TEST(FlyerBounce, MovingPartLendsItsVelocity) {
    // A flipper face moving up at 2 meets a flyer falling at 3: the flyer leaves at 2 + 5.
    GizmoObject flipper = NewFlipperObject();
    flipper.inMotion = 1;
    flipper.velocity = Vec3{0.0, 2.0, 0.0};
    flipper.previousPosition = Vec3{0.0, -1.0, 0.0};
    GizmoObject flyer = Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{0.0, -3.0, 0.0}, Vec3{0.0, -0.5, 0.0},
                              Vec3{0.0, -1.0, 0.0});
    Bounce(flyer, &flipper, {}, {}, 1000, G, false);
    EXPECT_NEAR(flyer.flyer.committedVelocity.y, 7.0, 1e-12);
    // At rest the same part is fixed.
    flipper.inMotion = 0;
    GizmoObject again = Flyer(1.0, 0.5, 0.5, Vec3{}, Vec3{0.0, -3.0, 0.0}, Vec3{0.0, -0.5, 0.0},
                              Vec3{0.0, -1.0, 0.0});
    Bounce(again, &flipper, {}, {}, 1000, G, false);
    EXPECT_NEAR(again.flyer.committedVelocity.y, 3.0, 1e-12);
}

}  // namespace
