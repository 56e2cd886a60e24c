#include "core/scalar_maths.h"

#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(ScalarMaths, AngleConstantsHaveTheBitsOfTheirRuntimeFormulas) {
    volatile double one = 1.0;  // keeps the compiler from folding the reference values
    const double pi = std::atan(one) * 4.0;
    EXPECT_EQ(Bits(PI), Bits(pi));
    EXPECT_EQ(Bits(HALF_PI), Bits(pi * 0.5));
    EXPECT_EQ(Bits(DEG_TO_RAD), Bits(pi / 180.0));
}

TEST(ScalarMaths, RoundToIntClampedRoundsHalvesAwayAndClamps) {
    const struct {
        double x;
        std::int32_t expected;
    } cases[] = {
        {2.5, 3},
        {-2.5, -3},
        {0.4, 0},
        {-0.4, 0},
        {1879048192.0, 1879048192},
        {1879048192.5, 0x70000000},
        {1e300, 0x70000000},
        {-1879048192.0, -1879048192},
        {-1879048192.5, -0x70000000},  // 0x90000000
        {-1e300, -0x70000000},
        {std::numeric_limits<double>::quiet_NaN(), INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(RoundToIntClamped(c.x), c.expected);
    }
}

TEST(ScalarMaths, FloatHelpers) {
    EXPECT_EQ(SqrtFloat(2.0f), static_cast<float>(std::sqrt(2.0)));
    EXPECT_EQ(AbsFloat(-1.5f), 1.5f);
    EXPECT_FALSE(std::signbit(AbsFloat(-0.0f)));
}

TEST(ScalarMaths, AngleOfVector2SpecialPoints) {
    const struct {
        double x, y, expected;
    } cases[] = {
        {0.0, 0.0, 0.0},       {1.0, 0.0, 0.0},        {-1.0, 0.0, PI},    {0.0, 1.0, HALF_PI},
        {0.0, -1.0, -HALF_PI}, {-1.0, 1.0, 0.75 * PI}, {1e-320, 0.0, 0.0}, {-2.0, -2.0, -0.75 * PI},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        EXPECT_DOUBLE_EQ(AngleOfVector2(c.x, c.y), c.expected);
    }
}

TEST(ScalarMaths, AngleOfVector2MatchesAtan2) {
    CrtSrand(101);
    for (int i = 0; i < 4000; ++i) {
        const double x = RandomWideValue(3.0);
        const double y = RandomWideValue(3.0);
        const double expected = std::atan2(y, x);
        ASSERT_NEAR(AngleOfVector2(x, y), expected, 4e-16 * std::fmax(1.0, std::fabs(expected)))
            << "case " << i << ": " << x << ", " << y;
    }
}
