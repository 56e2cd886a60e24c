#include "render/shading_maths.h"

#include "core/scalar_maths.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Matrix4W BlockForm(double s11, double s12, double s13, double s22, double s23, double s33) {
    Matrix4W q;
    q.m[5] = s11;
    q.m[6] = q.m[9] = s12;
    q.m[7] = q.m[13] = s13;
    q.m[10] = s22;
    q.m[11] = q.m[14] = s23;
    q.m[15] = s33;
    return q;
}

TEST(ShadingMaths, FastAtanFollowsAtan) {
    EXPECT_EQ(FastAtan(1.0), 0.7853981633974483);
    EXPECT_EQ(FastAtan(0.0), 0.0);
    EXPECT_EQ(FastAtan(-2.0), -(PI / 2.0 - FastAtan(0.5)));
    for (double x = -20.0; x <= 20.0; x += 0.125) {
        SCOPED_TRACE(x);
        EXPECT_NEAR(FastAtan(x), std::atan(x), 0.005);
        EXPECT_EQ(FastAtan(-x), -FastAtan(x));
    }
    EXPECT_EQ(AtanF(1.0f), static_cast<float>(std::atan(1.0)));
}

TEST(ShadingMaths, SymEigenMax3) {
    struct Case {
        Matrix4W form;
        double expected;
    };
    const Case cases[] = {
        {BlockForm(1.0, 0.0, 0.0, -3.0, 0.0, 2.0), 3.0},
        {BlockForm(0.0, 0.0, 0.0, 0.0, 0.0, 0.0), 0.0},
        {BlockForm(1.0, 1.0, 0.0, 1.0, 0.0, 0.0), 2.0},
        // A sphere of radius 4 (x^2 + y^2 + z^2 - 16): all eigenvalues 1.
        {BlockForm(1.0, 0.0, 0.0, 1.0, 0.0, 1.0), 1.0},
        // [[2, 1, 1], [1, 2, 1], [1, 1, 2]] has the eigenvalues 1, 1 and 4.
        {BlockForm(2.0, 1.0, 1.0, 2.0, 1.0, 2.0), 4.0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(SymEigenMax3(cases[i].form), cases[i].expected, 1e-9);
    }
}

TEST(ShadingMaths, FilteredLobeExponent) {
    const Matrix4W form = BlockForm(1.0, 0.2, 0.0, 2.0, 0.0, 3.0);
    double amplitude = 0.0;
    EXPECT_EQ(FilteredLobeExponent(form, amplitude, 0.0, 1.0, 0.5, Vec3{1, 2, 3}, Vec3{0, 0, 1},
                                   Vec3{0.1, 0, 0}),
              0.0);
    EXPECT_EQ(amplitude, 1.0);

    // With b = c = 0: G = H_2x2^T H_2x2 (u1, u2 the x and y axes) and t = (H a)_xy, so a
    // positive sigma gives sigma t^T (I + sigma G)^-1 t written out by hand.
    const Vec3 a{0.5, -0.25, 0.0};
    const double exponent = FilteredLobeExponent(form, amplitude, 2.0, 1.0, 0.0, a, Vec3{},
                                                 Vec3{});
    const Vec3 h1{1.0, 0.2, 0.0};
    const Vec3 h2{0.2, 2.0, 0.0};
    const double g11 = Vec3Dot(h1, h1), g12 = Vec3Dot(h1, h2), g22 = Vec3Dot(h2, h2);
    const double t1 = Vec3Dot(h1, a), t2 = Vec3Dot(h2, a);
    const double det = (1 + 2 * g11) * (1 + 2 * g22) - 4 * g12 * g12;
    EXPECT_NEAR(exponent, 2.0 * ((1 + 2 * g22) * t1 * t1 - 4 * g12 * t1 * t2 + (1 + 2 * g11) * t2 * t2) / det,
                1e-12);
    EXPECT_NEAR(amplitude, 1.0 / std::sqrt(det), 1e-12);
}

TEST(ShadingMaths, RotateByQuarterTurnAngle) {
    struct Case {
        std::int32_t angle;
        double x, y;
        bool isBack;
    };
    const Case cases[] = {
        {16384, 0.0, 1.0, false}, {32768, -1.0, 0.0, true}, {-16384, 0.0, -1.0, false},
        {65536, 1.0, 0.0, false}, {0, 1.0, 0.0, false},     {-32768, -1.0, 0.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        double x = 1.0, y = 0.0;
        EXPECT_EQ(RotateByQuarterTurnAngle(x, y, c.angle), c.isBack);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
    }
    // Between the quarter turns the cubics stay within 0.012 of the true rotation.
    for (std::int32_t angle = -60000; angle <= 60000; angle += 1000) {
        SCOPED_TRACE(angle);
        double x = 1.0, y = 0.0;
        RotateByQuarterTurnAngle(x, y, angle);
        const double radians = angle * (PI / 32768.0);
        EXPECT_NEAR(x, std::cos(radians), 0.012);
        EXPECT_NEAR(y, std::sin(radians), 0.012);
    }
}

TEST(ShadingMaths, RoundScaledByPow2RoundsHalfAwayFromZero) {
    EXPECT_EQ(RoundScaledByPow2(0.5, 0), 1);
    EXPECT_EQ(RoundScaledByPow2(-0.5, 0), -1);
    EXPECT_EQ(RoundScaledByPow2(0.5, 14), 8192);
    EXPECT_EQ(RoundScaledByPow2(2.5 / 16384.0, 14), 3);
}

}  // namespace
