#include "geometry/corner_rod_wrap.h"

#include "geometry/texture_params_table.h"
#include "shape_build_support.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

using namespace shape_build_test;

constexpr double Pi = std::numbers::pi;

std::vector<double> RodParams(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& ea,
                              const Vec3& eb, double bendSine, double sizeA, double sizeB,
                              double wall) {
    return {a.x,  a.y,  a.z,  b.x,  b.y,  b.z,      c.x,   c.y,   c.z, ea.x,
            ea.y, ea.z, eb.x, eb.y, eb.z, bendSine, sizeA, sizeB, wall};
}

Vec3 Carried(const Matrix4W& m, const Vec3& p) {
    const Vec4 q = Matrix4TransformVec4(m, Vec4{1.0, p.x, p.y, p.z});
    return Vec3{q.x, q.y, q.z};
}

// The lens walls as circular arcs of chord 2 c and sagitta x: the arc from a wall's middle to
// a seam and its radius.
struct LensArc {
    double quarter = 0;
    double radius = 0;
};

LensArc Lens(double c, double x) {
    const double radius = (c * c + x * x) / (2 * x);
    return LensArc{radius * std::asin(c / radius), radius};
}

// The angle of a point d along the section direction and l across it, for the lens.
double ExpectedAngle(double d, double l, const LensArc& lens) {
    const double position = lens.radius * std::asin(l / lens.radius);
    double around = d >= 0 ? position : 2 * lens.quarter - position;
    if (around < 0) around += 4 * lens.quarter;
    return 2 * Pi * around / (4 * lens.quarter);
}

// Corner rods wearing a material with an image, each in its own slot of one container.
class TexturedRods : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::uint32_t> pixels(16 * 16, 0xFF808080);
        ASSERT_EQ(TexPyramidSetImage(pyramid, pixels.data(), 16, 16, 16, false), 0);
        params.image = &pyramid;
        handle = RegisterTextureParams(&params, &params);
        const std::array<std::int32_t, 2> rooms{8, 8};
        geometry.AddParts(rooms, false);
    }
    void TearDown() override { UnregisterTextureParams(handle); }

    // Builds the rod into slot index; returns its wrap frame.
    CornerRodWrapFrame Build(std::int32_t index, const std::vector<double>& rod) {
        WorkingPartRecord w = Working(ShapeType::CornerRod, rod);
        w.textureRef = handle;
        EXPECT_EQ(BuildPartShape(geometry, nullptr, index, false, true, false, &w), 0);
        const PartRenderRecord& part = *geometry.Part(index);
        EXPECT_NE(part.wrapMap, nullptr);
        if (part.wrapMap == nullptr) return {};
        EXPECT_EQ(part.wrapMap->kind, WrapMapKind::CornerRod);
        EXPECT_EQ(part.wrapMap->texParams, &params);
        return CornerRodWrapFrameOf(*part.wrapMap);
    }

    CornerRodWrapPoint At(std::int32_t index, const CornerRodWrapFrame& frame, const Vec3& world) {
        return CornerRodWrapCoords(frame, Carried(geometry.Part(index)->localFromWorld, world));
    }

    TexPyramid pyramid;
    TextureParams params;
    std::uint32_t handle = 0;
    SceneGeometry geometry;
};

// The worked rod bends from A = (0, 0, 0) to B = (10, 0, 0) with sine 0.5 towards +y: its axis
// is the arc of radius 10 about (5, 8.660254, 0) from the angle -120 to -60 degrees.
const Vec3 ArcCentre{5.0, 5.0 * std::sqrt(3.0), 0.0};
constexpr double ArcRadius = 10.0;

Vec3 Outward(double phi) { return Vec3{std::cos(phi), std::sin(phi), 0.0}; }

TEST_F(TexturedRods, CoordinatesFollowTheArcLengthAndTheLensAroundTheAxis) {
    // Sections 2 wide each side and 0.3 thick, their direction (0, 1, 0) squared to the axis:
    // towards the centre all along, so the lateral direction -T x E is -z.
    const CornerRodWrapFrame frame =
        Build(0, RodParams({0, 0, 0}, {10, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 0}, 0.5, 2, 2, 0.3));
    ASSERT_TRUE(CornerRodWrapIsUsable(frame));
    EXPECT_NEAR(frame.axisLength, ArcRadius * Pi / 3, 1e-12);
    const LensArc lens = Lens(2.0, 0.3);
    const double perDistance = 2 * Pi / (4 * lens.quarter);

    struct Case {
        double fraction;  // of the way along the arc
        double d, l;      // along the section direction and across it
    };
    const Case cases[] = {{0.0, 0.1, 0.5},   {0.25, 0.2, -1.2}, {0.5, -0.1, 0.7},
                          {0.8, -0.2, -1.9}, {1.0, 0.05, 1.0},  {0.6, 0.1, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fraction);
        const double phi = -2 * Pi / 3 + c.fraction * Pi / 3;
        const Vec3 axis = Vec3Add(ArcCentre, Vec3Scale(Outward(phi), ArcRadius));
        const Vec3 world =
            Vec3Add(Vec3Add(axis, Vec3Scale(Outward(phi), -c.d)), Vec3{0.0, 0.0, -c.l});
        const CornerRodWrapPoint point = At(0, frame, world);
        EXPECT_NEAR(point.length, perDistance * ArcRadius * c.fraction * Pi / 3, 1e-9);
        EXPECT_NEAR(point.angle, ExpectedAngle(c.d, c.l, lens), 1e-9);
        EXPECT_NEAR(point.perDistance, perDistance, 1e-12);
    }
    EXPECT_NEAR(CornerRodWrapMeasure(frame), perDistance * ArcRadius * Pi / 3, 1e-9);
}

TEST_F(TexturedRods, TaperedRodMeasuresItsLengthInTheLocalPerimeter) {
    // The straight rod from (0, 0, 0) to (8, 0, 0), its sections shrinking from 2 to 1.
    const CornerRodWrapFrame frame =
        Build(0, RodParams({0, 0, 0}, {8, 0, 0}, {0, 1, 0}, {0, 1, 0}, {0, 1, 0}, 0.0, 2, 1, 0.3));
    ASSERT_TRUE(CornerRodWrapIsUsable(frame));
    for (const double x : {1.0, 4.0, 8.0}) {
        SCOPED_TRACE(x);
        // The integral of 2 pi / perimeter by the midpoint rule on 4000 steps.
        double expected = 0;
        constexpr int steps = 4000;
        for (int i = 0; i < steps; ++i) {
            const double s = (i + 0.5) * x / steps;
            expected += 2 * Pi / (4 * Lens(2.0 - s / 8.0, 0.3).quarter) * x / steps;
        }
        EXPECT_NEAR(At(0, frame, Vec3{x, 0.05, 0.3}).length, expected, 1e-4 * expected);
    }
}

TEST_F(TexturedRods, TextureRunsOnAcrossTheJointOfTwoRods) {
    // The worked rod ends at B = (10, 0, 0) heading along T; the second rod starts there along
    // T and bends out of the first rod's plane, towards N; it starts with the section the first
    // rod ends with.
    const CornerRodWrapFrame first = Build(
        0, RodParams({0, 0, 0}, {10, 0, 0}, {1, 1, 0}, {0, 1, 0.2}, {0, 1, 0.1}, 0.5, 2, 1.5, 0.3));
    const PartRenderRecord& firstPart = *geometry.Part(0);
    const Vec3 joint{10, 0, 0};
    const Vec3 tangent{std::sqrt(0.75), 0.5, 0.0};
    Vec3 section = firstPart.sectionDirB;
    section = Vec3Sub(section, Vec3Scale(tangent, Vec3Dot(section, tangent)));
    Vec3Normalize(section);
    // N leans from E towards the lateral direction -T x E, out of the first rod's plane.
    const Vec3 lateral = Vec3Scale(Vec3Cross(tangent, section), -1.0);
    const double gamma = 0.4;
    const Vec3 toward =
        Vec3Add(Vec3Scale(section, std::cos(gamma)), Vec3Scale(lateral, std::sin(gamma)));
    const double sigma = 0.3;
    const double kappa = std::sqrt(1 - sigma * sigma);
    const Vec3 chord = Vec3Add(Vec3Scale(tangent, kappa), Vec3Scale(toward, sigma));
    const Vec3 bend = Vec3Sub(Vec3Scale(toward, kappa), Vec3Scale(tangent, sigma));
    const Vec3 end = Vec3Add(joint, Vec3Scale(chord, 6.0));
    const CornerRodWrapFrame second =
        Build(1, RodParams(joint, end, bend, section, section, sigma, 1.5, 1.2, 0.3));
    ASSERT_TRUE(CornerRodWrapIsUsable(first));
    ASSERT_TRUE(CornerRodWrapIsUsable(second));
    // The second rod's axis leaves the joint along the first one's.
    const Vec3 startA = Carried(geometry.Part(1)->worldFromLocal, CornerRodWrapStart(second));
    EXPECT_NEAR(Vec3Length(Vec3Sub(startA, joint)), 0.0, 1e-9);

    const double start = CornerRodWrapMeasure(first);
    for (const auto& [d, l] : {std::pair{0.1, 0.4}, std::pair{-0.15, -1.1}, std::pair{0.02, 1.4},
                               std::pair{-0.05, 0.2}}) {
        SCOPED_TRACE(l);
        const Vec3 world = Vec3Add(Vec3Add(joint, Vec3Scale(section, d)), Vec3Scale(lateral, l));
        const CornerRodWrapPoint before = At(0, first, world);
        const CornerRodWrapPoint after = At(1, second, world);
        EXPECT_NEAR(before.length, start, 1e-9);
        EXPECT_NEAR(after.length, 0.0, 1e-9);
        EXPECT_NEAR(std::remainder(before.angle - after.angle, 2 * Pi), 0.0, 1e-9);
        EXPECT_NEAR(before.perDistance, after.perDistance, 1e-12);
        EXPECT_NEAR(before.angle, ExpectedAngle(d, l, Lens(1.5, 0.3)), 1e-9);
    }
}

TEST_F(TexturedRods, AnUntexturedRodGetsNoWrapMap) {
    WorkingPartRecord w =
        Working(ShapeType::CornerRod,
                RodParams({0, 0, 0}, {10, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 0}, 0.5, 2, 2, 0.3));
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &w), 0);
    EXPECT_EQ(geometry.Part(0)->wrapMap, nullptr);
    EXPECT_FALSE(CornerRodWrapIsUsable(CornerRodWrapFrameOf(WrapMapRecord{})));
}

}  // namespace
