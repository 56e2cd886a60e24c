#include "texture/piecewise_cubic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// A table with threshold 1.0 reaching 2.0 whose piece i is the constant i + t.
std::vector<CubicPiece> NumberedTable() {
    std::vector<CubicPiece> table(CubicTablePieceCount(0, 1));
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = {static_cast<float>(i), 1.0f, 0.0f, 0.0f};
    }
    return table;
}

TEST(EvalPiecewiseCubic, FindsPiecesFromTheArgumentsBits) {
    const auto table = NumberedTable();
    const std::int32_t base = CubicTableBaseCode(0);
    ASSERT_EQ(base, 508);
    ASSERT_EQ(table.size(), 8u);
    struct Case {
        float x;
        double expected;  // piece index + offset into the piece
    };
    const Case cases[] = {
        {0.0f, 0.0},   {0.3f, 1.05},        {0.75f, 3.0},  {std::nextafter(1.0f, 0.0f), 3.0 + 0.25},
        {1.0f, 4.0},   {1.3f, 5.05},        {1.75f, 7.0},  {1.99f, 7.24},
        // Outside the table: clamped, never read beyond it.
        {-1.0f, 0.0},  {std::numeric_limits<float>::quiet_NaN(), 0.0},
        {2.0f, 7.25},  {1e30f, 7.25},       {std::numeric_limits<float>::infinity(), 7.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_NEAR(EvalPiecewiseCubic(base, table, c.x), c.expected, 1e-6);
    }
}

TEST(EvalPiecewiseCubic, IntegratedAndInterpolatedTablesFollowTheirFunctions) {
    // Threshold 2^-6, reaching 2: the integral of cos is sin, the interpolant of cos is cos.
    const int n = 6;
    std::vector<CubicPiece> integral(CubicTablePieceCount(n, 1));
    std::vector<CubicPiece> values(CubicTablePieceCount(n, 1));
    const double threshold = std::ldexp(1.0, -n);
    CubicTableIntegrate(std::span<CubicPiece>(integral), threshold, 0.0, [](double s) {
        return CubicTableSample{std::cos(s), -std::sin(s)};
    });
    CubicTableInterpolate(std::span<CubicPiece>(values), threshold, [](double s) {
        return CubicTableSample{std::cos(s), -std::sin(s)};
    });
    for (int i = 0; i <= 400; ++i) {
        const float x = static_cast<float>(i * 0.0049);
        SCOPED_TRACE(x);
        EXPECT_NEAR(EvalPiecewiseCubic(CubicTableBaseCode(n), integral, x), std::sin(x), 2e-5);
        EXPECT_NEAR(EvalPiecewiseCubic(CubicTableBaseCode(n), values, x), std::cos(x), 2e-5);
    }
}

}  // namespace
