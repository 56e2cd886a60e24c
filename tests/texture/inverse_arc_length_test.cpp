#include "texture/inverse_arc_length.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

double ReciprocalArcLength(double s) { return 2 / (s * std::sqrt(s * s + 1) + std::asinh(s)); }

// The integral of 1 / L from a to b by Simpson's rule in log s, where the integrand is smooth.
double ReferenceIntegral(double a, double b) {
    const int steps = 20000;
    const double la = std::log(a);
    const double h = (std::log(b) - la) / steps;
    double sum = 0;
    for (int i = 0; i <= steps; ++i) {
        const double s = std::exp(la + i * h);
        const double w = (i == 0 || i == steps) ? 1 : (i % 2 == 1 ? 4 : 2);
        sum += w * s * ReciprocalArcLength(s);
    }
    return sum * h / 3;
}

StripArcRecord Strip(double p0, double p1) {
    StripArcRecord strip;
    strip.p0 = p0;
    strip.p1 = p1;
    strip.p2 = 0.5;
    InverseArcLengthReference(strip);
    return strip;
}

TEST(InverseArcLength, TableHoldsTheIntegralOfTheReciprocalArcLength) {
    const auto table = InverseArcLengthTable();
    ASSERT_EQ(table.size(), 164u);
    const double from = std::ldexp(1.0, -20);
    // The shared table has no uniform steps: piece i starts at 2^-20 * 2^(i / 4), so the general
    // evaluator reads it with the base code shifted by four pieces. Quarter-octave
    // cubics with the trapezoid end correction leave about 1e-4 relative error per piece
    // (h^4 g'''' / 720 g with h = s / 4); summed, the table stays within 1e-4 of the integral.
    for (double s : {1e-5, 1e-3, 0.1, 0.5, 1.0, 3.0, 40.0, 1e3, 1e5, 1e6}) {
        SCOPED_TRACE(s);
        const double tableValue =
            EvalPiecewiseCubic(InverseArcLengthBaseCode + 4, table, static_cast<float>(s));
        const double reference = ReferenceIntegral(from, s);
        EXPECT_NEAR(tableValue, reference, 1e-4 * reference);
    }
}

TEST(InverseArcLength, MeasuresFromTheStripsReference) {
    // p0 = 1, p1 = 5, p2 = 0.5: s runs 1..5 as u runs -1..1.
    const StripArcRecord strip = Strip(1.0, 5.0);
    EXPECT_DOUBLE_EQ(InverseArcLength(-1.0, strip), 0.0);
    for (double u : {-0.999, -0.9, -0.5, 0.0, 0.4, 1.0}) {
        SCOPED_TRACE(u);
        const double s = ((1 - u) * 1.0 + (1 + u) * 5.0) * 0.5;
        const double reference = ReferenceIntegral(1.0, s);
        EXPECT_NEAR(InverseArcLength(u, strip), reference, 1e-3 * reference + 1e-9);
    }
    // Monotonic along the strip, and negative before its reference.
    double last = -1;
    for (int i = 0; i <= 100; ++i) {
        const double v = InverseArcLength(-1.0 + i * 0.02, strip);
        EXPECT_GT(v, last);
        last = v;
    }
    EXPECT_LT(InverseArcLength(-1.2, strip), 0.0);
}

TEST(InverseArcLength, ScalesAndClampsItsArgument) {
    StripArcRecord strip = Strip(1.0, 5.0);
    const double plain = InverseArcLength(0.3, strip);
    strip.scale = 6.0;
    strip.norm = 2.0;
    EXPECT_NEAR(InverseArcLength(0.3, strip), 3 * plain, 1e-12);

    // Parameters beyond 2^20 or below 2^-20 give the values at those limits, never a read
    // outside the table; NaN and a reference index from bad data are held to the table.
    const StripArcRecord wide = Strip(1e-30, 1e30);
    const double top = InverseArcLength(1.0, wide);
    EXPECT_TRUE(std::isfinite(top));
    EXPECT_DOUBLE_EQ(InverseArcLength(0.99999, wide), top);
    EXPECT_DOUBLE_EQ(InverseArcLength(-1.0, wide), 0.0);
    EXPECT_TRUE(std::isfinite(InverseArcLength(std::nan(""), wide)));
    StripArcRecord bad = strip;
    bad.refIndex = 100000;
    EXPECT_TRUE(std::isfinite(InverseArcLength(0.0, bad)));
    bad.refIndex = -5;
    EXPECT_TRUE(std::isfinite(InverseArcLength(0.0, bad)));
}

}  // namespace
