#include "core/vec3_geometry.h"

#include "core/rotation.h"
#include "core/scalar_maths.h"
#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Vec3Geometry, IntersectRaySphereCases) {
    const struct {
        const char* name;
        Vec3 direction, origin;
        bool isHit;
        Vec3 point;
    } cases[] = {
        {"from outside", {1, 0, 0}, {-5, 0, 0}, true, {-1, 0, 0}},
        {"from inside", {1, 0, 0}, {0, 0, 0}, true, {1, 0, 0}},
        {"on the surface going out", {1, 0, 0}, {1, 0, 0}, true, {1, 0, 0}},
        {"sphere behind", {1, 0, 0}, {5, 0, 0}, false, {}},
        {"miss", {1, 0, 0}, {-5, 2, 0}, false, {}},
        {"zero direction", {0, 0, 0}, {-5, 0, 0}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Vec3 hit{7, 7, 7};
        ASSERT_EQ(IntersectRaySphere(c.direction, c.origin, 1.0, ZERO_VEC3, hit), c.isHit);
        if (c.isHit) {
            EXPECT_LT(Vec3Length(Vec3Sub(hit, c.point)), 1e-15);
        }
    }
    CrtSrand(701);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 centre = RandomVec3();
        const Vec3 origin = Vec3Scale(RandomVec3(), 4.0);
        const Vec3 direction = RandomUnitVec3();
        Vec3 hit;
        if (!IntersectRaySphere(direction, origin, 2.0, centre, hit)) continue;
        ASSERT_NEAR(Vec3Length(Vec3Sub(hit, centre)), 2.0, 1e-13) << "case " << i;
        ASSERT_GE(Vec3Dot(Vec3Sub(hit, origin), direction), -1e-13) << "case " << i;
    }
}

TEST(Vec3Geometry, RotationBetweenTurnsAOntoB) {
    const AxisAngle opposite = RotationBetween(X_AXIS, Vec3{-1, 0, 0});
    EXPECT_EQ(opposite.angle, PI);
    EXPECT_EQ(opposite.axis.x, 0.0);
    EXPECT_EQ(opposite.axis.y, 0.0);
    EXPECT_EQ(std::fabs(opposite.axis.z), 1.0);  // y x a, normalised
    const AxisAngle same = RotationBetween(Y_AXIS, Y_AXIS);
    EXPECT_EQ(same.angle, 0.0);
    EXPECT_EQ(Vec3Compare(same.axis, ZERO_VEC3), 0);
    CrtSrand(702);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 a = RandomUnitVec3();
        const Vec3 b = i % 10 == 0 ? Vec3Scale(a, -1.0) : RandomUnitVec3();
        const AxisAngle turn = RotationBetween(a, b);
        const Vec3 turned = Matrix3TransformVec3(Matrix3FromAxisAngle(turn.axis, turn.angle), a);
        ASSERT_LT(Vec3Length(Vec3Sub(turned, b)), 1e-7) << "case " << i;
    }
}

TEST(Vec3Geometry, SnapDirection) {
    for (const double step : {1.0, 15.0, 45.0, 90.0}) {
        const Vec3 up = SnapDirection(Z_AXIS, step);
        EXPECT_EQ(up.x, 0.0);
        EXPECT_EQ(up.y, 0.0);
        EXPECT_EQ(up.z, 1.0);
    }
    const Vec3 fifty{std::cos(50 * DEG_TO_RAD), std::sin(50 * DEG_TO_RAD), 0.0};
    const Vec3 snapped = SnapDirection(Vec3Scale(fifty, 3.0), 90.0);
    EXPECT_NEAR(snapped.x, 0.0, 1e-15);
    EXPECT_NEAR(snapped.y, 1.0, 1e-15);
    EXPECT_NEAR(snapped.z, 0.0, 1e-15);
    const Vec3 below = SnapDirection(Vec3{1.0, -1.2, 0.1}, 45.0);  // azimuth about 310 -> 315
    EXPECT_NEAR(below.x, std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(below.y, -std::sqrt(0.5), 1e-15);
    // A step that is not positive leaves the direction as it is, normalised.
    const Vec3 unsnapped = SnapDirection(Vec3{0.0, 3.0, 4.0}, 0.0);
    EXPECT_DOUBLE_EQ(unsnapped.y, 0.6);
    CrtSrand(703);
    for (int i = 0; i < 1000; ++i) {
        const Vec3 v = SnapDirection(RandomUnitVec3(), 10.0);
        ASSERT_NEAR(Vec3Length(v), 1.0, 1e-15) << "case " << i;
        const double polarDegrees = std::acos(std::fmin(1.0, std::fmax(-1.0, v.z))) / DEG_TO_RAD;
        ASSERT_NEAR(polarDegrees, std::round(polarDegrees / 10.0) * 10.0, 1e-6) << "case " << i;
    }
}
