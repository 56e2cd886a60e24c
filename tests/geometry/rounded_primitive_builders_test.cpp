#include "geometry/rounded_primitive_builders.h"

#include "geometry/feature_table.h"
#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace shape_build_test;

constexpr double Pi = std::numbers::pi;

// A rounded solid and the plain solid it rounds, with the same dimensions and placement, and a
// box about the origin that holds both.
struct RoundedCase {
    std::string name;
    ShapeType rounded;
    ShapeType plain;
    std::vector<double> params;
    std::vector<double> plainParams;
    Vec3 half;
};

const Vec3 Position{1, -2, 0.5};
const Vec3 Rotation{0.4, 0.2, -0.6};

std::vector<RoundedCase> RoundedCases() {
    return {
        {"cylinder", ShapeType::RoundedCylinder, ShapeType::Cylinder, {3, 1}, {3, 1}, {1.1, 1.6, 1.1}},
        {"flat cylinder", ShapeType::RoundedCylinder, ShapeType::Cylinder, {0.5, 2}, {0.5, 2}, {2.1, 0.3, 2.1}},
        {"box", ShapeType::RoundedBox, ShapeType::Box, {2, 3, 1.5}, {2, 3, 1.5}, {1.1, 1.6, 0.8}},
        {"deep box", ShapeType::RoundedBox, ShapeType::Box, {1, 0.5, 2}, {1, 0.5, 2}, {0.6, 0.3, 1.1}},
        {"frustum", ShapeType::RoundedFrustum, ShapeType::Frustum, {3, 1.5, 0.5}, {3, 1.5, 0.5}, {1.6, 1.6, 1.6}},
        {"squat frustum", ShapeType::RoundedFrustum, ShapeType::Frustum, {0.4, 1, 2}, {0.4, 1, 2}, {2.1, 0.3, 2.1}},
        {"octagon", ShapeType::RoundedOctagon, ShapeType::FlatSidedCylinder, {4, 1.5}, {4, 1.5}, {1.6, 2.1, 1.6}},
    };
}

// Every point inside the rounded solid is inside the plain one and inside its own bound, and
// some points of the plain solid's edges are cut away.
TEST(RoundedPrimitiveBuilders, EachRoundedSolidLiesInsideItsPlainOneAndItsBound) {
    for (const RoundedCase& c : RoundedCases()) {
        SCOPED_TRACE(c.name);
        OnePart rounded;
        OnePart plain;
        ASSERT_EQ(rounded.Build(Working(c.rounded, c.params, Position, Rotation)), 0);
        ASSERT_EQ(plain.Build(Working(c.plain, c.plainParams, Position, Rotation)), 0);
        std::mt19937_64 random(21);
        int inside = 0;
        int cutAway = 0;
        for (int i = 0; i < SampleCount; ++i) {
            const Vec3 world = PlacedPoint(SampleInBox(random, c.half), Position, Rotation);
            const bool inPlain = InsideSurfaces(plain.Part(), world);
            if (!InsideSurfaces(rounded.Part(), world)) {
                cutAway += inPlain ? 1 : 0;
                continue;
            }
            ++inside;
            ASSERT_TRUE(inPlain);
            ASSERT_LE(FormAt(rounded.Part().boundQuadric, world), 1e-9);
        }
        EXPECT_GT(inside, SampleCount / 20);
        EXPECT_GT(cutAway, 0);
    }
}

TEST(RoundedPrimitiveBuilders, SmoothPlateLiesInsideItsBound) {
    const std::vector<std::vector<double>> plates{{0.5, 1, 2, 3}, {1, 2, 0.5, 2}, {0.2, 0.3, 0.3, 4}};
    for (const auto& params : plates) {
        OnePart plate;
        ASSERT_EQ(plate.Build(Working(ShapeType::SmoothPlate, params, Position, Rotation)), 0);
        const Vec3 half{params[0] * 0.6, params[3] * 0.6, std::max(params[1], params[2]) * 1.1};
        const BoundSamples seen = SampleBound(plate.Part(), half, Position, Rotation);
        EXPECT_GT(seen.inside, SampleCount / 20);
        EXPECT_EQ(seen.outsideBound, 0);
    }
}

// A cube of side 1 with f = 0.2: A = 4/1.8 and B = 4/1.44. The middle of a vertical edge is cut
// away (value 0.25) and the cube's corner lies on the chamfer.
TEST(RoundedPrimitiveBuilders, RoundedBoxChamferHasItsWorkedValues) {
    OnePart box;
    ASSERT_EQ(box.Build(Working(ShapeType::RoundedBox, {1, 1, 1})), 0);
    const Matrix4W& chamfer = box.Part().Surfaces()[6];
    EXPECT_DOUBLE_EQ(chamfer.m[5], 4 / 1.8);
    EXPECT_DOUBLE_EQ(chamfer.m[15], 4 / 1.44);
    EXPECT_DOUBLE_EQ(chamfer.m[10], -1.0);
    EXPECT_NEAR(FormAt(chamfer, {0.5, 0, 0.5}), 0.25, 1e-12);
    EXPECT_NEAR(FormAt(chamfer, {0.5, 0.5, 0.5}), 0.0, 1e-12);
    EXPECT_EQ(box.Part().shapeClass, 0x40);

    // The chamfer widens with |y|: at the ends of a box 0.5 long it cuts the vertical edges,
    // and every corner of the end sections lies on the chamfer and on an x or z face.
    OnePart longer;
    ASSERT_EQ(longer.Build(Working(ShapeType::RoundedBox, {2, 0.5, 1.5})), 0);
    const FeatureTable& table = *longer.Part().features;
    ASSERT_EQ(table.cornerCount, 16);
    EXPECT_EQ(table.edgeCount, 14);
    EXPECT_EQ(table.groupCount, 5);
    for (const Vec3& corner : FeatureTableCorners(table)) {
        EXPECT_NEAR(FormAt(longer.Part().Surfaces()[6], corner), 0.0, 1e-12);
        EXPECT_NEAR(std::abs(corner.y), 0.25, 1e-12);
        EXPECT_TRUE(std::abs(std::abs(corner.x) - 1) < 1e-12 ||
                    std::abs(std::abs(corner.z) - 0.75) < 1e-12);
    }
}

TEST(RoundedPrimitiveBuilders, ShortOctagonalBarIsLengthenedToFitItsRounding) {
    const double k = 0.9 * std::cos(Pi / 8);
    const double shortest = 2.02 * (1 / k - k) / 1.7;
    EXPECT_DOUBLE_EQ(RoundedOctagonMinLength(1.0), shortest);
    OnePart bar;
    ASSERT_EQ(bar.Build(Working(ShapeType::RoundedOctagon, {0.05, 1})), 0);
    const auto surfaces = bar.Part().Surfaces();
    EXPECT_EQ(bar.Part().surfaceCount, 8);
    EXPECT_EQ(bar.Part().shapeClass, 0x81);
    EXPECT_NEAR(FormAt(surfaces[6], {0, shortest / 2, 0}), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(surfaces[5], {0, -shortest / 2, 0}), 0.0, 1e-12);

    // The corners are where flats, side and rounding ellipsoid meet.
    OnePart longer;
    ASSERT_EQ(longer.Build(Working(ShapeType::RoundedOctagon, {4, 1.5})), 0);
    const FeatureTable& table = *longer.Part().features;
    ASSERT_EQ(table.cornerCount, 16);
    for (const Vec3& corner : FeatureTableCorners(table)) {
        EXPECT_NEAR(FormAt(longer.Part().Surfaces()[0], corner), 0.0, 1e-12);
        EXPECT_NEAR(FormAt(longer.Part().Surfaces()[7], corner), 0.0, 1e-12);
    }
}

// The circles where the rounding meets the side lie in the planes the feature table gives.
TEST(RoundedPrimitiveBuilders, RoundingCirclesLieInTheirEdgePlanes) {
    OnePart cylinder;
    ASSERT_EQ(cylinder.Build(Working(ShapeType::RoundedCylinder, {3, 1})), 0);
    const auto edges = FeatureTableEdges(*cylinder.Part().features);
    ASSERT_EQ(edges.size(), 4u);
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(edges[i].curve, FeatureCurve::TwoCurved);
        const double h = -edges[i].plane[0] / edges[i].plane[2];
        const Vec3 rim{std::cos(0.3 + i), h, std::sin(0.3 + i)};
        EXPECT_NEAR(FormAt(cylinder.Part().Surfaces()[3], rim), 0.0, 1e-12);
        EXPECT_NEAR(FormAt(cylinder.Part().Surfaces()[0], rim), 0.0, 1e-12);
    }

    OnePart frustum;
    ASSERT_EQ(frustum.Build(Working(ShapeType::RoundedFrustum, {3, 1.5, 0.5})), 0);
    const auto frustumEdges = FeatureTableEdges(*frustum.Part().features);
    ASSERT_EQ(frustumEdges.size(), 3u);
    EXPECT_EQ(frustumEdges[0].curve, FeatureCurve::FrustumTopRim);
    const double h = -frustumEdges[1].plane[0] / frustumEdges[1].plane[2];
    const double radius = 1.5 + (0.5 - 1.5) * (h + 1.5) / 3;
    const Vec3 rim{radius, h, 0};
    EXPECT_NEAR(FormAt(frustum.Part().Surfaces()[0], rim), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(frustum.Part().Surfaces()[3], rim), 0.0, 1e-12);
}

TEST(RoundedPrimitiveBuilders, ProxiesFollowTheProportions) {
    OnePart tall;
    ASSERT_EQ(tall.Build(Working(ShapeType::RoundedCylinder, {2, 1})), 0);
    EXPECT_EQ(tall.Part().proxyKind, ProxyKind::Capsule);
    OnePart squat;
    ASSERT_EQ(squat.Build(Working(ShapeType::RoundedCylinder, {1.9, 1})), 0);
    EXPECT_EQ(squat.Part().proxyKind, ProxyKind::Disc);
    EXPECT_DOUBLE_EQ(ReadProxy(squat.Part().proxy).radius, 0.95);

    // A frustum closing to a point keeps 0.001 of the other radius.
    OnePart point;
    ASSERT_EQ(point.Build(Working(ShapeType::RoundedFrustum, {3, 0, 2})), 0);
    EXPECT_DOUBLE_EQ(point.Part().Surfaces()[0].m[0], -(0.002 + 2) * (0.002 + 2) / 4);
}

// The plate sets its proxy kind itself: a rebuild never keeps the kind of the shape before.
TEST(RoundedPrimitiveBuilders, SmoothPlateProxyIsASphereAfterAnyEarlierShape) {
    OnePart part;
    ASSERT_EQ(part.Build(Working(ShapeType::RoundedCylinder, {3, 1})), 0);
    ASSERT_EQ(part.Part().proxyKind, ProxyKind::Capsule);
    ASSERT_EQ(part.Build(Working(ShapeType::SmoothPlate, {0.5, 1, 2, 3})), 0);
    EXPECT_EQ(part.Part().proxyKind, ProxyKind::Sphere);
    EXPECT_DOUBLE_EQ(ReadProxy(part.Part().proxy).radius, 0.25);
    EXPECT_EQ(part.Part().features->groupCount, 0);
}

}  // namespace
