// Boundary lines, the kernel's weights and the ray probe, against values worked out by hand.

#include "render/edge_lines.h"

#include "render/q_render.h"
#include "render/ray_probe.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using quadric_parts::PlaneForm;
using quadric_parts::SphereForm;

TEST(EdgeKernel, WeightsOfStraightEdgesAtKnownOffsets) {
    // The kernel 0.75 (1 - t^2) over t = x / 0.9: the far side of an edge at offset s weighs
    // the kernel's mass beyond s, 0.5 - (0.75 u - 0.25 u^3) with u = s / 0.9.
    struct Case {
        double offset;
        double farSide;
    };
    const Case cases[] = {{0.0, 0.5},
                          {0.45, 0.15625},
                          {-0.45, 0.84375},
                          {0.9, 0.0},
                          {-0.9, 1.0},
                          {1.5, 0.0},
                          {0.225, 0.5 - (0.1875 - 0.25 / 64.0)}};
    for (const Case& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset));
        EXPECT_NEAR(EdgeKernelWeight(c.offset, EdgeFilterRadius), c.farSide, 1e-12);
        EXPECT_NEAR(EdgeKernelWeight(-EdgeFilterRadius, c.offset) +
                        EdgeKernelWeight(c.offset, EdgeFilterRadius),
                    1.0, 1e-12);
    }
}

TEST(EdgeConic, ReducesToTheLinesNearThePixel) {
    EdgeLineFit fits[2];
    // A conic with no quadratic part is the line 2 D x + 2 E y + G = 0: d = -G / (2 n).
    ASSERT_EQ(ReduceConicToLines(0, 0, 0, 3, 4, 2, 0.9, fits), 1);
    EXPECT_NEAR(fits[0].a, 0.6, 1e-12);
    EXPECT_NEAR(fits[0].b, 0.8, 1e-12);
    EXPECT_NEAR(fits[0].d, -0.2, 1e-12);
    // The same line 0.9 pixel or more from the centre is not kept.
    EXPECT_EQ(ReduceConicToLines(0, 0, 0, 3, 4, -9, 0.9, fits), 0);
    // A circle of radius 10 about (10.3, 0): x^2 + y^2 + 20.6 x + 6.09 = 0 crosses the x axis
    // at -0.3, and its tangent there is the line x = -0.3.
    ASSERT_EQ(ReduceConicToLines(1, 0, 1, 10.3, 0, 10.3 * 10.3 - 100, 0.9, fits), 1);
    EXPECT_NEAR(fits[0].a * fits[0].d, -0.3, 1e-9);
    EXPECT_NEAR(std::fabs(fits[0].a), 1.0, 1e-12);
    // A circle far from the pixel yields nothing.
    EXPECT_EQ(ReduceConicToLines(1, 0, 1, 20, 0, 300, 0.9, fits), 0);
    // The ellipse x^2 + y^2 / 2 = 1/4 about the centre bends too much for one line: two,
    // across its longer axis's crossings x = +-0.5.
    ASSERT_EQ(ReduceConicToLines(1, 0, 0.5, 0, 0, -0.25, 0.9, fits), 2);
    EXPECT_NEAR(std::fabs(fits[0].a), 1.0, 1e-12);
    EXPECT_NEAR(std::fabs(fits[0].d), 0.5, 1e-12);
    EXPECT_NEAR(std::fabs(fits[1].d), 0.5, 1e-12);
    EXPECT_NEAR(fits[0].a * fits[1].a + fits[0].b * fits[1].b, 1.0, 1e-12);
    EXPECT_LT(fits[0].d * fits[1].d, 0.0);
}

TEST(RayProbe, FindsWhereTheRayEntersThePart) {
    // A box 2 <= z <= 4, 1 <= x <= 3, |y| <= 1 beside the axis, and a sphere of radius 1
    // about (2, 0, 6) behind it.
    const std::array<Matrix4W, 6> box{PlaneForm({0, 0, -1}, -2), PlaneForm({0, 0, 1}, 4),
                                      PlaneForm({1, 0, 0}, 3),   PlaneForm({-1, 0, 0}, -1),
                                      PlaneForm({0, 1, 0}, 1),   PlaneForm({0, -1, 0}, 1)};
    RenderParts parts;
    parts.AddPart(6);
    parts.SetViewForms(0, box, SphereForm({2, 0, 3}, 3));
    parts.AddPart(1);
    const Matrix4W sphere = SphereForm({2, 0, 6}, 1);
    parts.SetViewForms(1, std::span<const Matrix4W>(&sphere, 1), sphere);
    const SurfaceGroups none;
    struct Case {
        double u, v;
        std::int32_t part;
        std::uint32_t id;
        double depth;
    };
    // The box through its front face at depth 2 and through its side x = 1 (at u = 0.4,
    // depth 2.5); the sphere on its centre's ray, (10 / 9) t^2 - (40 / 3) t + 39 = 0; rays
    // that miss.
    const Case cases[] = {{1.0, 0.0, 0, PixelIdOf(0, 0), 2.0},
                          {0.4, 0.1, 0, PixelIdOf(0, 3), 2.5},
                          {0.0, 0.0, 0, 0, 1e100},
                          {1.0 / 3.0, 0.0, 1, PixelIdOf(1, 0), 6.0 - std::sqrt(0.9)},
                          {0.0, 0.0, 1, 0, 1e100}};
    for (const Case& c : cases) {
        SCOPED_TRACE("part " + std::to_string(c.part) + " ray (" + std::to_string(c.u) + ", " +
                     std::to_string(c.v) + ")");
        RayHit hit;
        EXPECT_EQ(ProbeRay(parts.Surfaces(c.part), c.part, c.u, c.v, none, hit), c.id != 0);
        EXPECT_EQ(hit.id, c.id);
        EXPECT_NEAR(hit.depth, c.depth, 1e-9 * c.depth);
    }
    // On the sphere's ray the box, at depth 3, is nearer: it is kept whichever comes first.
    for (const std::int32_t first : {0, 1}) {
        RayHit hit;
        ProbeRay(parts.Surfaces(first), first, 1.0 / 3.0, 0.0, none, hit);
        ProbeRay(parts.Surfaces(1 - first), 1 - first, 1.0 / 3.0, 0.0, none, hit);
        EXPECT_EQ(hit.id, PixelIdOf(0, 3)) << "first " << first;
        EXPECT_NEAR(hit.depth, 3.0, 1e-12);
    }
}

TEST(EdgeCurves, CoincidentSurfacesOfOneGroupMakeNoLine) {
    // Two boxes whose front faces meet on the ray through the pixel centre, one of them turned
    // by a rounding's worth: their faces cross there unless they share a surface group.
    QRender render;
    render.renderWidth = render.renderHeight = 64;
    render.centreX = render.centreY = 32.0;
    render.focalScale = 0.4;
    render.BuildLevelTable();
    for (const double tilt : {1e-6, 0.0}) {
        const std::array<Matrix4W, 5> box{PlaneForm({-tilt, 0, -1}, -10), PlaneForm({1, 0, 0}, 5),
                                          PlaneForm({-1, 0, 0}, 5), PlaneForm({0, 1, 0}, 5),
                                          PlaneForm({0, -1, 0}, 5)};
        const std::int32_t index = render.parts.AddPart(5);
        render.parts.SetViewForms(index, box, SphereForm({0, 0, 10}, 20));
    }
    const std::array<std::int32_t, 2> parts{0, 1};
    const std::uint32_t faceA = PixelIdOf(0, 0), faceB = PixelIdOf(1, 0);
    std::vector<std::uint16_t> groups(faceB + 1, 0);
    const auto facesMeet = [&] {
        EdgeScratch scratch;
        BuildEdgeCurves(render, scratch, parts, 0.5 / 400.0, 0.5 / 400.0);
        return std::any_of(scratch.lines.begin(), scratch.lines.end(), [&](const EdgeLine& l) {
            return (l.surfaceA == faceA && l.surfaceB == faceB) ||
                   (l.surfaceA == faceB && l.surfaceB == faceA);
        });
    };
    EXPECT_TRUE(facesMeet());
    groups[faceA] = groups[faceB] = 7;
    render.slotTable = groups.data();
    render.slotTableEntries = groups.size();
    EXPECT_FALSE(facesMeet());
}

}  // namespace
