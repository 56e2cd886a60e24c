#include "core/vec3.h"

#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

TEST(Vec3, NormalizeReturnsLengthOrZeroesShortVectors) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        Vec3 v;
        double length;
        Vec3 unit;
    } cases[] = {
        {{3.0, 4.0, 0.0}, 5.0, {0.6, 0.8, 0.0}},
        {{0.0, 0.0, -2.0}, 2.0, {0.0, 0.0, -1.0}},
        {{1e-9, 0.0, 0.0}, 0.0, {0.0, 0.0, 0.0}},
        {{1e-8, 0.0, 0.0}, 0.0, {0.0, 0.0, 0.0}},  // not above the limit
        {{nan, 1.0, 0.0}, 0.0, {0.0, 0.0, 0.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.v.x << ", " << c.v.y << ", " << c.v.z);
        Vec3 v = c.v;
        EXPECT_EQ(Vec3Normalize(v), c.length);
        EXPECT_DOUBLE_EQ(v.x, c.unit.x);
        EXPECT_DOUBLE_EQ(v.y, c.unit.y);
        EXPECT_DOUBLE_EQ(v.z, c.unit.z);
    }
}

TEST(Vec3, DividingByZeroGivesDblMaxWhateverTheSigns) {
    for (const double zero : {0.0, -0.0}) {
        const Vec3 v = Vec3Divide(Vec3{-1.0, 2.0, -3.0}, zero);
        EXPECT_EQ(v.x, DBL_MAX);
        EXPECT_EQ(v.y, DBL_MAX);
        EXPECT_EQ(v.z, DBL_MAX);
        const Vec2 w = Vec2Divide(Vec2{-1.0, -2.0}, zero);
        EXPECT_EQ(w.x, DBL_MAX);
        EXPECT_EQ(w.y, DBL_MAX);
    }
    const Vec3 halved = Vec3Divide(Vec3{1.0, -2.0, 4.0}, 2.0);
    EXPECT_EQ(halved.x, 0.5);
    EXPECT_EQ(halved.y, -1.0);
    EXPECT_EQ(halved.z, 2.0);
}

TEST(Vec3, CompareOrdersBytesAsMemcmp) {
    const struct {
        Vec3 a, b;
        int expected;
    } cases[] = {
        {{1.0, 2.0, 3.0}, {1.0, 2.0, 3.0}, 0},
        {{-0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, 1},  // the sign byte differs
        {{0.0, 0.0, 0.0}, {-0.0, 0.0, 0.0}, -1},
        // Little-endian bytes: 1.0 ends F0 3F and 2.0 ends 00 40, so 1.0 sorts after 2.0.
        {{1.0, 0.0, 0.0}, {2.0, 0.0, 0.0}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a.x << " vs " << c.b.x);
        EXPECT_EQ(Vec3Compare(c.a, c.b), c.expected);
        const int order = std::memcmp(&c.a, &c.b, sizeof(Vec3));
        EXPECT_EQ(Vec3Compare(c.a, c.b), (order > 0) - (order < 0));
    }
}

TEST(Vec3, CrossProductsAndTheirOperandOrder) {
    const Vec3 z = Vec3Cross(X_AXIS, Y_AXIS);
    EXPECT_EQ(Vec3Compare(z, Z_AXIS), 0);
    const Vec3 viaXYZ = Vec3CrossXYZ(Y_AXIS, 0.0, 0.0, 1.0);
    EXPECT_EQ(Vec3Compare(viaXYZ, X_AXIS), 0);
    // The unit cross takes its second operand first.
    const Vec3 unit = Vec3UnitCross(Vec3{2.0, 0.0, 0.0}, Vec3{0.0, 3.0, 0.0});
    EXPECT_EQ(unit.x, 0.0);
    EXPECT_EQ(unit.y, 0.0);
    EXPECT_EQ(unit.z, -1.0);
    EXPECT_EQ(Vec3DotXYZ(Vec3{1.0, 2.0, 3.0}, 4.0, 5.0, 6.0), 32.0);
}

TEST(Vec3, FloatConversionsRoundEachComponent) {
    const Vec3f f = Vec3fSet(0.1, -1e300, 1e-50);
    EXPECT_EQ(f.x, 0.1f);
    EXPECT_EQ(f.y, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(f.z, 0.0f);
    const Vec3 d = Vec3SetFromFloats(0.1f, 2.0f, -3.0f);
    EXPECT_EQ(d.x, static_cast<double>(0.1f));
    const Vec3 s = Vec3SetScaled(2.0, 1.0, -2.0, 3.0);
    EXPECT_EQ(s.y, -4.0);
    const Vec4 origin = Vec4SetOrigin();
    EXPECT_EQ(origin.w, 1.0);
    EXPECT_EQ(origin.x + origin.y + origin.z, 0.0);
}

TEST(Vec3, StereographicPoles) {
    const Vec2 south = Stereographic(Vec3f{0.0f, 0.0f, -1.0f});
    EXPECT_EQ(south.x, std::numeric_limits<double>::infinity());
    EXPECT_EQ(south.y, 0.0);
    const Vec3f north = InverseStereographic(0.0f, 0.0f);
    EXPECT_EQ(north.x, 0.0f);
    EXPECT_EQ(north.y, 0.0f);
    EXPECT_EQ(north.z, 1.0f);
    // Where k underflows the pole comes back instead of NaN.
    for (const float u : {std::numeric_limits<float>::infinity(), 1e30f}) {
        const Vec3f pole = InverseStereographic(u, 0.0f);
        EXPECT_EQ(pole.x, 0.0f);
        EXPECT_EQ(pole.y, 0.0f);
        EXPECT_EQ(pole.z, -1.0f);
    }
}

TEST(Vec3, StereographicRoundTripsUnitVectors) {
    CrtSrand(102);
    for (int i = 0; i < 3000; ++i) {
        const Vec3 d = RandomUnitVec3();
        if (d.z < -0.9) continue;  // the projection grows without bound near the pole
        const Vec3f p = Vec3fSet(d.x, d.y, d.z);
        const Vec2 uv = Stereographic(p);
        const Vec3f back = InverseStereographic(static_cast<float>(uv.x), static_cast<float>(uv.y));
        ASSERT_NEAR(back.x, p.x, 1e-5f) << "case " << i;
        ASSERT_NEAR(back.y, p.y, 1e-5f) << "case " << i;
        ASSERT_NEAR(back.z, p.z, 1e-5f) << "case " << i;
    }
}
