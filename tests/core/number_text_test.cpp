#include "core/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(NumberText, IntegersReadAsAtoiReadsThem) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"", 0},
        {"12", 12},
        {"  -7x", -7},
        {"+3", 3},
        {"\t\n 42 1", 42},
        {"abc", 0},
        {"4294967295", -1},
        {"-2147483648", INT32_MIN},
        {"- 5", 0},
        {"1e3", 1},
        {"99999999999999999999999", -1},
        {"-99999999999999999999999", 0},
        {"18446744073709551617", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TextToInt32(c.text), c.value);
    }
}

TEST(NumberText, RealsReadAsAtofReadsThem) {
    constexpr double Inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"", 0.0},      {"2.5", 2.5},     {" -0.25s", -0.25}, {"+1e2", 100.0}, {".5", 0.5},
        {"5.", 5.0},    {"1e", 1.0},      {"1.5e-1x", 0.15},  {"x1", 0.0},     {"-", 0.0},
        {"0x10", 16.0}, {"0x1p-2", 0.25}, {"0x", 0.0},        {"INF", Inf},    {"-infinity", -Inf},
        {"1e999", Inf}, {"-1e999", -Inf}, {"1e-999", 0.0},    {"12,5", 12.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TextToDouble(c.text), c.value);
    }
    EXPECT_TRUE(std::isnan(TextToDouble("nan")));
    EXPECT_TRUE(std::signbit(TextToDouble("-1e-999")));
}

}  // namespace
