#include "core/float_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

TEST(FloatConvert, RoundToIntRoundsHalvesAwayFromZero) {
    struct Case {
        double x;
        std::int32_t expected;
    };
    const Case cases[] = {
        {0.0, 0},
        {0.4, 0},
        {0.5, 1},
        // The sum is rounded to 1.0 before it is truncated, as the definition has it.
        {0.49999999999999994, 1},
        {1.5, 2},
        {2.5, 3},
        {-0.5, -1},
        {-1.5, -2},
        {-2.4, -2},
        {33.333, 33},
        {1000.0 / 30.0, 33},
        {2147483647.0, 2147483647},
        {-2147483648.0, INT32_MIN},
        // Rounding that leaves the int32 range, and NaN, give INT32_MIN.
        {2147483647.5, INT32_MIN},
        {1e12, INT32_MIN},
        {-1e12, INT32_MIN},
        {std::numeric_limits<double>::quiet_NaN(), INT32_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(RoundToInt(c.x), c.expected);
    }
}

}  // namespace
