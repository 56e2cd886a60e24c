#include "geometry/revolved_solid_builders.h"

#include "geometry/shape_surface_count.h"
#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace shape_build_test;

const Vec3 Position{0.5, 1, -1.5};
const Vec3 Rotation{0.2, -0.7, 0.4};

TEST(RevolvedSolidBuilders, BoundsHoldEveryInteriorSample) {
    const std::vector<BoundCase> cases{
        {"flared outwards", ShapeType::FlaredSolid, {0.5, 1, 1, 0.5, 1}, {1.1, 1.1, 1.1}},
        {"flared inwards", ShapeType::FlaredSolid, {-0.5, 1.5, 1, 0.4, 1}, {1.1, 0.8, 1.1}},
        {"ring", ShapeType::Ring, {2, 0.5, 0.7, 0.3, 0.4}, {2.1, 0.8, 2.1}},
        {"holed solid", ShapeType::HoledSolid, {3, 1, 0.2, 0.3, 0.5, 3}, {1.1, 1.6, 1.1}},
    };
    for (const BoundCase& c : cases) ExpectBoundHolds(c, Position, Rotation);
}

// Points along a hole's axis are taken out; points beside it, beyond its half-width, stay.
TEST(RevolvedSolidBuilders, HolesRunThroughTheAxisAtEvenAngles) {
    OnePart holed;
    ASSERT_EQ(holed.Build(Working(ShapeType::HoledSolid, {3, 1, 0.2, 0.3, 0.5, 2.5})), 0);
    const PartRenderRecord& part = holed.Part();
    ASSERT_EQ(part.surfaceCount, 7);
    EXPECT_EQ(part.shapeClass, 9 | 0x70);
    for (int i = 0; i < 3; ++i) {
        const double theta = i * std::numbers::pi / 3;
        const Vec3 along{std::sin(theta), 0, std::cos(theta)};
        const Vec3 beside{std::cos(theta), 0, -std::sin(theta)};
        EXPECT_FALSE(InsideSurfaces(part, Vec3Scale(along, 0.6)));
        EXPECT_GT(FormAt(part.Surfaces()[static_cast<std::size_t>(4 + i)], Vec3Scale(along, 0.6)), 0);
        EXPECT_LE(FormAt(part.Surfaces()[static_cast<std::size_t>(4 + i)], Vec3Scale(beside, 0.31)), 0);
        EXPECT_NEAR(FormAt(part.Surfaces()[static_cast<std::size_t>(4 + i)], Vec3{0, 0.5, 0}), 0.0,
                    1e-12);
    }
}

// The hole count is held to what the loader reserves room for.
TEST(RevolvedSolidBuilders, HoleCountIsHeldToTheLoadersLimits) {
    const std::vector<std::pair<double, std::int32_t>> counts{
        {-0.4, 0}, {0.5, 1}, {1e9, HoledSolidMaxHoles}, {std::nan(""), 0}};
    for (const auto& [p5, holes] : counts) {
        SCOPED_TRACE(p5);
        OnePart holed;
        ASSERT_EQ(holed.Build(Working(ShapeType::HoledSolid, {3, 1, 0.2, 0.3, 0.5, p5})), 0);
        EXPECT_EQ(holed.Part().surfaceCount, 4 + holes);
    }
}

TEST(RevolvedSolidBuilders, RingHoleIsOffsetAndFlares) {
    OnePart ring;
    ASSERT_EQ(ring.Build(Working(ShapeType::Ring, {2, 0.5, 0.7, 0.3, 0.4})), 0);
    const Matrix4W& hole = ring.Part().Surfaces()[1];
    EXPECT_NEAR(FormAt(hole, {0.5, 0, 0.4}), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(hole, {0, 0.5, 0.4 + std::sqrt(0.25 + 0.09 * 0.25)}), 0.0, 1e-12);
    EXPECT_FALSE(InsideSurfaces(ring.Part(), {0, 0, 0.4}));
    EXPECT_TRUE(InsideSurfaces(ring.Part(), {0, 0, -1}));
}

}  // namespace
