#include "core/polynomial_roots.h"

#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

double CubicScale(double a, double b, double c, double x) {
    const double ax = std::fabs(x);
    return ax * ax * ax + std::fabs(a) * ax * ax + std::fabs(b) * ax + std::fabs(c);
}

double CubicValue(double a, double b, double c, double x) { return ((x + a) * x + b) * x + c; }

double QuarticValue(double a, double b, double c, double d, double x) {
    return (((x + a) * x + b) * x + c) * x + d;
}

double QuarticScale(double a, double b, double c, double d, double x) {
    const double ax = std::fabs(x);
    return ax * ax * ax * ax + std::fabs(a) * ax * ax * ax + std::fabs(b) * ax * ax +
           std::fabs(c) * ax + std::fabs(d);
}

}  // namespace

TEST(PolynomialRoots, CubicRealRootsSpecialCases) {
    const struct {
        double a, b, c;
        int flag;
        std::array<double, 3> roots;
    } cases[] = {
        {-6.0, 11.0, -6.0, 0, {1.0, 2.0, 3.0}},  // q = 0 is not negative
        {-3.0, 3.0, -1.0, 0, {1.0, 1.0, 1.0}},   // (x - 1)^3: P = 0
        {0.0, 1.0, 0.0, 0, {0.0, 0.0, 0.0}},     // x^3 + x: P clamped to 0
        {0.0, -1.0, 0.0, 0, {-1.0, 0.0, 1.0}},
        {6.0, 11.0, 6.0, 0, {-3.0, -2.0, -1.0}},
        {0.0, -7.0, 6.0, 1, {1.0, 2.0, -3.0}},  // q < 0: the smallest comes last
        // One real root: it comes last, after the complex pair's real part twice, whether
        // the cubic is monotone (p > 0), flat (p = 0) or has r above 2.
        {0.0, 1.0, -10.0, 0, {-1.0, -1.0, 2.0}},
        {0.0, 0.0, -8.0, 0, {-1.0, -1.0, 2.0}},
        {0.0, -3.0, -18.0, 0, {-1.5, -1.5, 3.0}},  // (x - 3)(x^2 + 3x + 6)
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << ", " << c.b << ", " << c.c);
        std::array<double, 3> roots{};
        EXPECT_EQ(CubicRealRoots(c.a, c.b, c.c, roots), c.flag);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(roots[k], c.roots[k], 1e-14);
    }
}

TEST(PolynomialRoots, CubicRealRootsOfRandomCubics) {
    CrtSrand(501);
    for (int i = 0; i < 4000; ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        std::array<double, 3> expected{};
        double a;
        double b;
        double c;
        double pairImaginary = 0.0;
        const bool isAllReal = i % 2 == 0;
        if (isAllReal) {
            for (double& r : expected) r = RandomSigned() * 10.0;
            std::sort(expected.begin(), expected.end());
            a = -(expected[0] + expected[1] + expected[2]);
            b = expected[0] * expected[1] + expected[0] * expected[2] + expected[1] * expected[2];
            c = -expected[0] * expected[1] * expected[2];
        } else {
            // (x - r)(x^2 - 2 u x + u^2 + v^2) with a complex pair u +- iv.
            const double r = RandomSigned() * 10.0;
            const double u = RandomSigned() * 10.0;
            const double v = 0.5 + std::fabs(RandomSigned()) * 10.0;
            pairImaginary = v;
            const double s = u * u + v * v;
            a = -(r + 2.0 * u);
            b = s + 2.0 * u * r;
            c = -r * s;
            expected = {u, u, r};
        }
        std::array<double, 3> roots{};
        const int flag = CubicRealRoots(a, b, c, roots);
        const double scale = 1.0 + std::fabs(a) + std::sqrt(std::fabs(b)) + std::cbrt(std::fabs(c));
        if (isAllReal) {
            // Well separated roots: they come back in the documented order.
            const double gap = std::min(expected[1] - expected[0], expected[2] - expected[1]);
            if (gap < 0.1) continue;
            const std::array<double, 3> ordered =
                flag == 0 ? expected : std::array<double, 3>{expected[1], expected[2], expected[0]};
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(roots[k], ordered[k], 1e-12 * scale);
        } else {
            if (pairImaginary < 1.0) continue;  // a near-double real root is indistinguishable
            EXPECT_NEAR(roots[2], expected[2], 1e-12 * scale);
            EXPECT_EQ(roots[0], roots[1]);
            EXPECT_NEAR(roots[0], expected[0], 1e-11 * scale);
        }
        if (HasFailure()) return;
    }
}

TEST(PolynomialRoots, CubicRealRootSpecialCases) {
    EXPECT_EQ(CubicRealRoot(0.0, 0.0, -8.0), 2.0);
    EXPECT_EQ(CubicRealRoot(0.0, 0.0, 8.0), -2.0);
    EXPECT_EQ(CubicRealRoot(-3.0, 3.0, -1.0), 1.0);  // triple root: p = q = 0
    EXPECT_EQ(CubicRealRoot(0.0, 0.0, 0.0), 0.0);
    EXPECT_EQ(CubicRealRoot(0.0, 1.0, 0.0), 0.0);  // x^3 + x
    EXPECT_NEAR(CubicRealRoot(0.0, 1e-300, 0.0), 0.0, 1e-300);
    EXPECT_NEAR(CubicRealRoot(0.0, -1.0, 0.0), 1.0, 1e-15);  // +-1 tie: the positive one
    EXPECT_NEAR(CubicRealRoot(0.0, 0.0, -1e-300), 1e-100, 1e-114);
    EXPECT_NEAR(CubicRealRoot(0.0, 0.0, -1e300), 1e100, 1e86);
}

TEST(PolynomialRoots, CubicRealRootIsAccurateAndOfLargestDepressedMagnitude) {
    CrtSrand(502);
    for (int i = 0; i < 5000; ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        double a;
        double b;
        double c;
        if (i % 3 == 0) {
            // Known real roots over a wide range of scales, including a dominant quadratic
            // term where the shift by -a/3 cancels.
            const double r[3] = {RandomWideValue(4.0), RandomWideValue(4.0), RandomWideValue(4.0)};
            a = -(r[0] + r[1] + r[2]);
            b = r[0] * r[1] + r[0] * r[2] + r[1] * r[2];
            c = -r[0] * r[1] * r[2];
        } else {
            a = RandomWideValue(4.0);
            b = RandomWideValue(4.0);
            c = RandomWideValue(4.0);
        }
        const double x = CubicRealRoot(a, b, c);
        ASSERT_TRUE(std::isfinite(x));
        EXPECT_LE(std::fabs(CubicValue(a, b, c, x)), 1e-14 * CubicScale(a, b, c, x));
        // It is the root of the depressed cubic farthest from -a/3.
        std::array<double, 3> all{};
        CubicRealRoots(a, b, c, all);
        const double shift = a / 3.0;
        const double largest = std::max(
            {std::fabs(all[0] + shift), std::fabs(all[1] + shift), std::fabs(all[2] + shift)});
        EXPECT_NEAR(std::fabs(x + shift), largest, 1e-6 * (largest + std::fabs(shift)));
        if (HasFailure()) return;
    }
}

TEST(PolynomialRoots, QuarticSpecialCases) {
    std::uint8_t found = 7;
    EXPECT_EQ(QuarticRealRoot(0.0, 0.0, 0.0, 1.0, &found), 0.0);  // x^4 + 1: f = 1 at 0
    EXPECT_EQ(found, 0);
    EXPECT_EQ(QuarticRealRoot(0.0, 0.0, 0.0, -1.0, &found), 1.0);  // x^4 - 1
    EXPECT_EQ(found, 1);
    EXPECT_EQ(QuarticRealRoot(0.0, 0.0, 0.0, -16.0), 2.0);  // the flag is optional
    // (x^2 + 1)(x^2 + 4): no real root; the stationary point 0 comes back.
    EXPECT_EQ(QuarticRealRoot(0.0, 5.0, 0.0, 4.0, &found), 0.0);
    EXPECT_EQ(found, 0);
    // (x - 1)^2 (x + 2)^2 touches zero: f = 0 at the stationary point counts as not below.
    const double touch = QuarticRealRoot(2.0, -3.0, -4.0, 4.0, &found);
    EXPECT_EQ(found, 0);
    EXPECT_TRUE(std::fabs(touch - 1.0) < 1e-12 || std::fabs(touch + 2.0) < 1e-12) << touch;
}

TEST(PolynomialRoots, QuarticRootOfRandomQuartics) {
    CrtSrand(503);
    for (int i = 0; i < 5000; ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        double a;
        double b;
        double c;
        double d;
        const int kind = i % 3;
        if (kind == 0) {
            // Four real roots.
            const double r[4] = {RandomWideValue(2.0), RandomWideValue(2.0), RandomWideValue(2.0),
                                 RandomWideValue(2.0)};
            a = -(r[0] + r[1] + r[2] + r[3]);
            b = r[0] * r[1] + r[0] * r[2] + r[0] * r[3] + r[1] * r[2] + r[1] * r[3] + r[2] * r[3];
            c = -(r[0] * r[1] * r[2] + r[0] * r[1] * r[3] + r[0] * r[2] * r[3] +
                  r[1] * r[2] * r[3]);
            d = r[0] * r[1] * r[2] * r[3];
        } else if (kind == 1) {
            // No real root: (x^2 + p1 x + q1)(x^2 + p2 x + q2) with negative discriminants.
            const double p1 = RandomSigned() * 4.0;
            const double p2 = RandomSigned() * 4.0;
            const double q1 = p1 * p1 / 4.0 + 0.1 + std::fabs(RandomSigned()) * 3.0;
            const double q2 = p2 * p2 / 4.0 + 0.1 + std::fabs(RandomSigned()) * 3.0;
            a = p1 + p2;
            b = q1 + q2 + p1 * p2;
            c = p1 * q2 + p2 * q1;
            d = q1 * q2;
        } else {
            a = RandomWideValue(3.0);
            b = RandomWideValue(3.0);
            c = RandomWideValue(3.0);
            d = RandomWideValue(3.0);
        }
        std::uint8_t found = 7;
        const double x = QuarticRealRoot(a, b, c, d, &found);
        ASSERT_TRUE(std::isfinite(x));
        if (kind == 0) {
            EXPECT_EQ(found, 1);
        } else if (kind == 1) {
            EXPECT_EQ(found, 0);
        }
        if (found == 1) {
            EXPECT_LE(std::fabs(QuarticValue(a, b, c, d, x)), 1e-13 * QuarticScale(a, b, c, d, x));
        } else {
            ASSERT_EQ(found, 0);
            // Not found: a stationary point where the quartic stays non-negative.
            const double slope = ((4.0 * x + 3.0 * a) * x + 2.0 * b) * x + c;
            EXPECT_LE(std::fabs(slope), 1e-11 * QuarticScale(a, b, c, d, x));
            EXPECT_GE(QuarticValue(a, b, c, d, x), -1e-12 * QuarticScale(a, b, c, d, x));
        }
        if (HasFailure()) return;
    }
}
