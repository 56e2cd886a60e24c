#include "geometry/placed_ellipsoid_builders.h"

#include "geometry/shape_forms.h"
#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace shape_build_test;

// Samples the part's own box of half-sides half, carried into the world by the part's
// placement, and checks every point inside the surfaces against the bound.
BoundSamples SamplePlacedBound(const PartRenderRecord& part, const Vec3& half) {
    std::mt19937_64 random(2927);
    BoundSamples seen;
    for (int i = 0; i < SampleCount; ++i) {
        const Vec3 world = PointCarried(part.worldFromLocal, SampleInBox(random, half));
        if (!InsideSurfaces(part, world)) continue;
        ++seen.inside;
        if (FormAt(part.boundQuadric, world) > 1e-9) ++seen.outsideBound;
    }
    return seen;
}

// Point (1, 2, 3), up along (0, 2, 0) tipped towards x, across leaning on up.
const std::vector<double> Frame{1, 2, 3, 0.5, 2, 0, 1, 1, 1};

std::vector<double> WithFrame(const std::vector<double>& rest) {
    std::vector<double> params = Frame;
    params.insert(params.end(), rest.begin(), rest.end());
    return params;
}

// The ellipsoid stands at the point with its b axis along up and its a axis along the part of
// across square to up.
TEST(PlacedEllipsoidBuilders, PlacedEllipsoidFollowsItsPointAndDirections) {
    OnePart placed;
    ASSERT_EQ(placed.Build(Working(ShapeType::PlacedEllipsoid, WithFrame({2, 0.5, 1}))), 0);
    const PartRenderRecord& part = placed.Part();
    Vec3 up{0.5, 2, 0};
    Vec3Normalize(up);
    Vec3 across = Vec3Sub(Vec3{1, 1, 1}, Vec3Scale(up, Vec3Dot(Vec3{1, 1, 1}, up)));
    Vec3Normalize(across);
    const Vec3 origin{1, 2, 3};
    const Vec3 third = Vec3Cross(across, up);
    const Matrix4W& surface = part.Surfaces()[0];
    EXPECT_NEAR(FormAt(surface, Vec3Add(origin, Vec3Scale(up, 2))), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(surface, Vec3Add(origin, Vec3Scale(across, -1))), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(surface, Vec3Add(origin, Vec3Scale(third, 0.5))), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(surface, origin), -1.0, 1e-12);
    EXPECT_EQ(part.proxyKind, ProxyKind::Capsule);
    EXPECT_NEAR(Vec3Length(Vec3Sub(ReadProxy(part.proxy).b, Vec3Add(origin, Vec3Scale(up, 2)))),
                0.0, 1e-12);
    EXPECT_EQ(SamplePlacedBound(part, {1.1, 2.1, 0.6}).outsideBound, 0);
}

TEST(PlacedEllipsoidBuilders, DirectionsWithoutAFrameMakeThePartUnbuildable) {
    OnePart parallel;
    EXPECT_EQ(parallel.Build(Working(ShapeType::PlacedEllipsoid,
                                     {0, 0, 0, 0, 1, 0, 0, 3, 0, 1, 1, 1})),
              PartBuildUnbuildable);
    EXPECT_EQ(parallel.Part().surfaceCount, 0);
    OnePart zero;
    EXPECT_EQ(zero.Build(Working(ShapeType::PlacedSolid, WithFrame({1, 1, 1, 0.5, 0.3}))), 0);
    EXPECT_EQ(zero.Build(Working(ShapeType::PlacedSolid,
                                 {0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 1, 1, 0.5, 0.3})),
              PartBuildUnbuildable);
}

// Surface 0 passes through x = a and x = -(2 - f) a / f; surface 1 is surface 0 turned about x
// by phi, tan(phi / 2) = t.
TEST(PlacedEllipsoidBuilders, PlacedSolidPairIsTurnedAboutX) {
    OnePart pair;
    const double a = 1.5, b = 1, c = 0.7, f = 0.5, t = 0.4;
    ASSERT_EQ(pair.Build(Working(ShapeType::PlacedSolid,
                                 {0, 0, 0, 0, 1, 0, 1, 0, 0, b, c, a, f, t})),
              0);
    const PartRenderRecord& part = pair.Part();
    const auto surfaces = part.Surfaces();
    EXPECT_NEAR(FormAt(surfaces[0], {a, 0, 0}), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(surfaces[0], {-(2 - f) * a / f, 0, 0}), 0.0, 1e-12);
    EXPECT_NEAR(FormAt(surfaces[0], {0, b, 0}), 0.0, 1e-12);
    const double phi = 2 * std::atan(t);
    EXPECT_NEAR(part.halfAngleCos, std::cos(phi), 1e-15);
    EXPECT_NEAR(part.halfAngleSin, std::sin(phi), 1e-15);
    // Surface 0's point (0, b cos phi - 0, ...) turned: Q1(p) = Q0(x, y cos + z sin, z cos - y sin).
    const Vec3 p{0.3, 0.4, -0.2};
    const Vec3 turned{p.x, p.y * std::cos(phi) + p.z * std::sin(phi),
                      p.z * std::cos(phi) - p.y * std::sin(phi)};
    EXPECT_NEAR(FormAt(surfaces[1], p), FormAt(surfaces[0], turned), 1e-12);
    EXPECT_EQ(SamplePlacedBound(part, {1.6, 1.1, 1.1}).outsideBound, 0);
    EXPECT_GT(SamplePlacedBound(part, {1.6, 1.1, 1.1}).inside, SampleCount / 50);
}

// The cut passes through the two points of the xy ellipse at its half-angle tangents.
TEST(PlacedEllipsoidBuilders, CutPassesThroughItsEllipsePoints) {
    const double p0 = 2, p1 = 1.5, p6 = 1;
    const double t1 = -0.4, t2 = 0.7;
    OnePart cut;
    ASSERT_EQ(cut.Build(Working(ShapeType::CutEllipsoid, {p0, p1, t1, t2, 0.3, 0.5, p6, 0.2})), 0);
    const auto surfaces = cut.Part().Surfaces();
    for (double t : {t1, t2}) {
        const Vec3 point{p0 * (1 - t * t) / (1 + t * t), 2 * p1 * t / (1 + t * t), 0};
        EXPECT_NEAR(FormAt(surfaces[0], point), 0.0, 1e-12);
        EXPECT_NEAR(FormAt(surfaces[1], point), 0.0, 1e-12);
    }
    ExpectBoundHolds({"cut ellipsoid", ShapeType::CutEllipsoid, {p0, p1, t1, t2, 0.3, 0.5, p6, 0.2},
                      {2.1, 1.6, 1.1}},
                     {1, -1, 2}, {0.3, 0.3, -0.3});
}

}  // namespace
