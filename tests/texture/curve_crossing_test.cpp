#include "texture/curve_crossing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The conic c0 + 2 c2 y + c5 x^2 + c10 y^2 = 0 in the w-first quadric layout.
Matrix4W Conic(double c0, double c2, double c5, double c10) {
    Matrix4W m;
    m.m[0] = c0;
    m.m[2] = m.m[8] = c2;
    m.m[5] = c5;
    m.m[10] = c10;
    return m;
}

double ConicAt(const Matrix4W& m, double x, double y) {
    return m.m[0] + 2 * m.m[2] * y + m.m[5] * x * x + m.m[10] * y * y;
}

TEST(SolveCurveCrossing, CasesByCount) {
    const Matrix4W sphere = Conic(-1, 0, 1, 1);          // x^2 + y^2 = 1
    const Matrix4W cylinder = Conic(-0.25, 0, 1, 0);     // x = 0.5
    const Matrix4W unitCylinder = Conic(-1, 0, 1, 0);    // x = 1, touching the sphere
    const Matrix4W paraboloid = Conic(-1, -0.5, 1, 0);   // x^2 = y + 1
    const Matrix4W hyperbola = Conic(3, 0, 1, -1);       // x^2 = y^2 - 3
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        Matrix4W p;
        Matrix4W q;
        double range;
        int count;
    };
    const Case cases[] = {
        {"two circles", sphere, cylinder, 2.0, 2},
        {"beyond range", sphere, cylinder, 0.5, 0},
        {"tangent", sphere, unitCylinder, 2.0, 0},
        {"second root only, moved first", paraboloid, cylinder, 2.0, 1},
        {"no real radius", sphere, hyperbola, 2.0, 0},
        {"same conic", sphere, sphere, 2.0, 0},
        {"not a number", Conic(nan, 0, 1, 1), cylinder, 2.0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<double, 4> out{};
        const int count = SolveCurveCrossing(out, c.p, c.q, c.range);
        ASSERT_EQ(count, c.count);
        for (int k = 0; k < count; ++k) {
            const double x = out[static_cast<std::size_t>(2 * k)];
            const double y = out[static_cast<std::size_t>(2 * k + 1)];
            EXPECT_GE(x, 0);
            EXPECT_LT(std::fabs(y), c.range);
            EXPECT_NEAR(ConicAt(c.p, x, y), 0, 1e-12);
            EXPECT_NEAR(ConicAt(c.q, x, y), 0, 1e-12);
        }
        if (count < 2) {
            EXPECT_EQ(out[2], -1.0);
        }
        if (count == 0) {
            EXPECT_EQ(out[0], -1.0);
        }
    }
    std::array<double, 4> out{};
    ASSERT_EQ(SolveCurveCrossing(out, paraboloid, cylinder, 2.0), 1);
    EXPECT_DOUBLE_EQ(out[0], 0.5);
    EXPECT_DOUBLE_EQ(out[1], -0.75);
}

TEST(SolveCurveCrossing, EitherOrderGivesTheSameCrossings) {
    // An ellipse and a hyperbola of one sheet, both ways round.
    const Matrix4W ellipse = Conic(-4, 0.3, 1, 0.5);
    const Matrix4W hyperbola = Conic(-1, -0.2, 1, -2);
    std::array<double, 4> a{};
    std::array<double, 4> b{};
    ASSERT_EQ(SolveCurveCrossing(a, ellipse, hyperbola, 10.0), 2);
    ASSERT_EQ(SolveCurveCrossing(b, hyperbola, ellipse, 10.0), 2);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], 1e-12);
}

}  // namespace
