#include "gizmo/mass_properties.h"

#include "core/rotation.h"
#include "gizmo/physics_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace physics_test;

// The inertia tensor about the centre of mass.
Matrix3 InertiaOf(const MassProperties& p) { return InertiaFromSecondMoments(p.secondMoments); }

void ExpectWithin(double actual, double expected, double fraction) {
    EXPECT_NEAR(actual, expected, fraction * std::fabs(expected));
}

TEST(MassProperties, SphereMatchesAnalyticValues) {
    struct Case {
        Vec3 centre;
        double radius;
    };
    const Case cases[] = {
        {{0.0, 0.0, 0.0}, 1.0}, {{3.25, -1.5, 7.0}, 0.4}, {{-20.0, 5.0, 0.1}, 2.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.radius);
        const TestSolid sphere = Sphere(c.centre, c.radius);
        const PhysicsPart parts[] = {PartOf(sphere)};
        const MassProperties p = SampleMassProperties(parts);
        const double mass = 4.0 / 3.0 * Pi * c.radius * c.radius * c.radius;
        ExpectWithin(p.mass, mass, 0.01);
        EXPECT_NEAR(Vec3Length(Vec3Sub(p.centre, c.centre)), 0.0, 0.01 * c.radius);
        const Matrix3 inertia = InertiaOf(p);
        const double moment = 0.4 * mass * c.radius * c.radius;
        for (int i = 0; i < 3; ++i)
            ExpectWithin(inertia.m[static_cast<std::size_t>(4 * i)], moment, 0.01);
        for (int i : {1, 2, 5})
            EXPECT_NEAR(inertia.m[static_cast<std::size_t>(i)], 0.0, 0.01 * moment);
    }
}

TEST(MassProperties, BoxMatchesAnalyticValues) {
    // Axis-aligned boxes fill their grid box, so the whole grid samples them; a turned box
    // checks that the products of inertia come out and turn with it.
    const Vec3 half{1.0, 0.5, 0.25};
    const double mass = 8.0 * half.x * half.y * half.z;
    const double ix = mass * (4.0 * half.y * half.y + 4.0 * half.z * half.z) / 12.0;
    const double iy = mass * (4.0 * half.x * half.x + 4.0 * half.z * half.z) / 12.0;
    const double iz = mass * (4.0 * half.x * half.x + 4.0 * half.y * half.y) / 12.0;
    const Vec3 centre{0.3, 2.0, -1.7};
    {
        const TestSolid box = Box(centre, half, Matrix3SetDiagonal(1.0));
        const PhysicsPart parts[] = {PartOf(box)};
        const MassProperties p = SampleMassProperties(parts);
        ExpectWithin(p.mass, mass, 0.01);
        EXPECT_NEAR(Vec3Length(Vec3Sub(p.centre, centre)), 0.0, 0.005);
        const Matrix3 inertia = InertiaOf(p);
        ExpectWithin(inertia.m[0], ix, 0.01);
        ExpectWithin(inertia.m[4], iy, 0.01);
        ExpectWithin(inertia.m[8], iz, 0.01);
    }
    {
        // Turned 30 degrees about y: J = R diag(ix, iy, iz) R^T. The grid now cuts the box's
        // slanted sides, so the tolerance follows the cell size.
        const Matrix3 r = Matrix3FromAxisAngle(Y_AXIS, Pi / 6.0);
        const TestSolid box = Box(centre, half, r);
        const PhysicsPart parts[] = {PartOf(box)};
        const MassProperties p = SampleMassProperties(parts);
        ExpectWithin(p.mass, mass, 0.01);
        const Matrix3 expected = Matrix3Product(
            Matrix3Product(r, Matrix3{{ix, 0, 0, 0, iy, 0, 0, 0, iz}}), Matrix3Transpose(r));
        const Matrix3 inertia = InertiaOf(p);
        for (int i = 0; i < 9; ++i) {
            EXPECT_NEAR(inertia.m[static_cast<std::size_t>(i)],
                        expected.m[static_cast<std::size_t>(i)], 0.02 * iz)
                << "element " << i;
        }
    }
}

TEST(MassProperties, OverlappingPartsCountTheirCommonVolumeOnce) {
    // Two unit spheres 1.2 apart: their union is two spheres less the lens they share,
    // pi (4r + d)(2r - d)^2 / 12.
    const double r = 1.0;
    const double d = 1.2;
    const TestSolid a = Sphere(Vec3{0.0, 0.0, 0.0}, r);
    const TestSolid b = Sphere(Vec3{d, 0.0, 0.0}, r);
    const PhysicsPart parts[] = {PartOf(a), PartOf(b)};
    const MassProperties p = SampleMassProperties(parts);
    const double lens = Pi * (4.0 * r + d) * (2.0 * r - d) * (2.0 * r - d) / 12.0;
    ExpectWithin(p.mass, 2.0 * 4.0 / 3.0 * Pi - lens, 0.01);
    EXPECT_NEAR(p.centre.x, 0.5 * d, 0.01);
}

TEST(MassProperties, PartsWithoutVolumeGiveNoMass) {
    EXPECT_EQ(SampleMassProperties({}).mass, 0.0);
    // A sphere whose surface lies outside its own grid box.
    TestSolid far = Sphere(Vec3{0.0, 0.0, 0.0}, 1.0);
    far.part.box = {5000, 6000, 5000, 6000, 5000, 6000};
    const PhysicsPart parts[] = {PartOf(far)};
    EXPECT_EQ(SampleMassProperties(parts).mass, 0.0);
}

TEST(MassProperties, SecondMomentsMoveByTheParallelAxisTheorem) {
    const TestSolid sphere = Sphere(Vec3{1.0, 2.0, 3.0}, 1.0);
    const PhysicsPart parts[] = {PartOf(sphere)};
    const MassProperties p = SampleMassProperties(parts);
    const Vec3 point{0.0, 2.0, 3.0};
    const Matrix3 about = SecondMomentsAbout(p, point);
    const Vec3 d = Vec3Sub(p.centre, point);
    EXPECT_NEAR(about.m[0] - p.secondMoments.m[0], p.mass * d.x * d.x, 1e-12);
    EXPECT_NEAR(about.m[1] - p.secondMoments.m[1], p.mass * d.x * d.y, 1e-12);
}

}  // namespace
