#include "render/body_warp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

namespace {

using Complex = std::complex<double>;
constexpr double Pi = std::numbers::pi;

// The integral of 1 / (1 - m sin^2 z) along the segment from 0 to zeta, by composite
// Gauss-Legendre quadrature of five points on 200 pieces.
Complex IntegralAlongSegment(Complex zeta, double m) {
    constexpr double nodes[] = {0.0, -0.5384693101056831, 0.5384693101056831, -0.9061798459386640,
                                0.9061798459386640};
    constexpr double weights[] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665,
                                  0.2369268850561891, 0.2369268850561891};
    constexpr int pieces = 200;
    Complex sum{};
    for (int i = 0; i < pieces; ++i) {
        for (int j = 0; j < 5; ++j) {
            const double t = (i + 0.5 + 0.5 * nodes[j]) / pieces;
            const Complex s = std::sin(t * zeta);
            sum += weights[j] * 0.5 / pieces / (1.0 - m * s * s);
        }
    }
    return sum * zeta;
}

}  // namespace

TEST(BodyWarp, FollowsTheEllipticIntegralAboutTheNearestQuarterTurn) {
    struct Case {
        double scale, modulus, u, v;
    };
    const Case cases[] = {
        {0.8, 1.6, 0.3, 0.2},    // d > 0, about the first quarter 0
        {1.1, 0.4, 1.9, -0.35},  // d < 0, about pi / 2
        {0.9, 0.2, 3.5, 0.5},    // about pi
        {1.0, 2.5, 6.1, 0.1},    // about a full turn, which counts as 0
        {0.7, -0.5, 4.9, -0.6},  // a negative modulus, about 3 pi / 2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.u);
        const double quarter = std::round(c.u / (Pi / 2));
        const Complex w = IntegralAlongSegment(Complex{c.u - quarter * Pi / 2, c.v}, c.modulus);
        double expectedU = (quarter == 4 ? 0.0 : quarter) * Pi / 2 + c.scale * w.real();
        if (expectedU < 0) expectedU += 2 * Pi;
        const Complex z = std::sin(Complex{c.u - quarter * Pi / 2, c.v});
        const double expectedStretch = c.scale / std::abs(1.0 - c.modulus * z * z);

        double u = c.u;
        double v = c.v;
        const double stretch = WarpByEllipticIntegral(c.scale, c.modulus, u, v);
        EXPECT_NEAR(u, expectedU, 1e-9);
        EXPECT_NEAR(v, c.scale * w.imag(), 1e-9);
        EXPECT_NEAR(stretch, expectedStretch, 1e-12);
        EXPECT_GE(u, 0.0);
        EXPECT_LE(u, 2 * Pi);
    }
}

TEST(BodyWarp, ModulusNearOneTakesTheTangentTermAlone) {
    // Within 0.001 of 1 the warp is sin / sqrt(1 - M sin^2) itself.
    const double modulus = 1.0004;
    double u = 0.4;
    double v = 0.25;
    WarpByEllipticIntegral(2.0, modulus, u, v);
    const Complex z = std::sin(Complex{0.4, 0.25});
    const Complex t0 = z / std::sqrt(1.0 - modulus * z * z);
    EXPECT_NEAR(u, 2.0 * t0.real(), 1e-12);
    EXPECT_NEAR(v, 2.0 * t0.imag(), 1e-12);
}
