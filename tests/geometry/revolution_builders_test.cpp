#include "geometry/revolution_builders.h"

#include "geometry/feature_table.h"
#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace shape_build_test;

const Vec3 Position{-1, 0.5, 2};
const Vec3 Rotation{-0.3, 0.8, 0.1};

// Every point inside a valid part lies inside its bound, whichever surface or rim ellipsoid the
// builder took as the bound.
TEST(RevolutionBuilders, BoundsHoldEveryInteriorSample) {
    const std::vector<BoundCase> cases{
        {"torus stand-in", ShapeType::Torus, {3, 1}, {4.2, 1.6, 4.2}},
        {"torus stand-in with a small hole", ShapeType::Torus, {1, 1.5}, {2.6, 2.0, 2.6}},
        {"deep cap and waist", ShapeType::RevolvedPair, {1, 1, 1.5, -2, 0.9}, {1.6, 2.1, 1.6}},
        {"shallow cap and waist", ShapeType::RevolvedPair, {1, 1.2, 0.8, -0.5, 0.7}, {1.6, 1.6, 1.6}},
        {"cap and bulge", ShapeType::RevolvedPair, {1, 1, 1, -0.5, 1.5}, {1.6, 2.1, 1.6}},
        {"bowl cut by its plane", ShapeType::Bowl, {2, 2, 1, 1, 0.5, 1}, {2.1, 2.1, 2.1}},
        {"bowl ended by its cutout", ShapeType::Bowl, {2, 2, 1, 2.5, 1.5, 1.9}, {2.1, 2.1, 2.1}},
        {"tube", ShapeType::CoredSolid, {1, 0.5, 1, 0.5, 1, 0.3, 0.9}, {1.1, 1.1, 1.1}},
        {"dimpled solid", ShapeType::CoredSolid, {1, 0.5, 1, 0.7, 1.3, -0.5, 0.9}, {1.4, 1.1, 1.4}},
    };
    for (const BoundCase& c : cases) ExpectBoundHolds(c, Position, Rotation);
}

// Small radius 1, big radius 3: rims of radius 3 at y = -+1; the surfaces pass through radius
// 2 and 4 half-way, and both turn their inside towards the axis.
TEST(RevolutionBuilders, TorusStandInPassesThroughItsRimsAndWaists) {
    OnePart torus;
    ASSERT_EQ(torus.Build(Working(ShapeType::Torus, {3, 1})), 0);
    const auto surfaces = torus.Part().Surfaces();
    ASSERT_EQ(torus.Part().surfaceCount, 2);
    for (std::size_t s = 0; s < 2; ++s) {
        for (double y : {-1.0, 1.0}) EXPECT_NEAR(FormAt(surfaces[s], {0, y, 3}), 0.0, 1e-9);
        EXPECT_LT(FormAt(surfaces[s], {}), 0.0);
    }
    EXPECT_NEAR(FormAt(surfaces[0], {2, 0, 0}), 0.0, 1e-9);
    EXPECT_NEAR(FormAt(surfaces[1], {4, 0, 0}), 0.0, 1e-9);
    EXPECT_EQ(torus.Part().surfaceTerms[0], surfaces[0].m[5]);
    EXPECT_EQ(torus.Part().surfaceTerms[7], surfaces[1].m[0]);
}

// Unequal rims: both surfaces pass through both rim circles. With equal rims a cap reaches
// the axis at its depth.
TEST(RevolutionBuilders, RevolvedPairSurfacesPassThroughTheRims) {
    OnePart pair;
    ASSERT_EQ(pair.Build(Working(ShapeType::RevolvedPair, {1.5, 1, 2, -2.5, 1.2})), 0);
    const auto surfaces = pair.Part().Surfaces();
    for (std::size_t s = 0; s < 2; ++s) {
        EXPECT_NEAR(FormAt(surfaces[s], {1, -1.5, 0}), 0.0, 1e-9);
        EXPECT_NEAR(FormAt(surfaces[s], {0, 1.5, 2}), 0.0, 1e-9);
    }

    OnePart equal;
    ASSERT_EQ(equal.Build(Working(ShapeType::RevolvedPair, {1.5, 2, 2, -2.5, 1.2})), 0);
    const Matrix4W& cap = equal.Part().Surfaces()[0];
    EXPECT_NEAR(FormAt(cap, {0, 2.5, 0}), 0.0, 1e-9);
    EXPECT_NEAR(FormAt(cap, {0, -2.5, 0}), 0.0, 1e-9);
    EXPECT_NEAR(FormAt(equal.Part().Surfaces()[1], {1.2, 0, 0}), 0.0, 1e-9);
}

struct InvalidCase {
    std::string name;
    ShapeType type;
    std::vector<double> params;
};

// With rims of 1 at y = -+1 the deep-cap test reads 1 < (d1^2 - 1)(d0^2 - 1).
TEST(RevolutionBuilders, ParametersWithoutASolidReturnMinusOne) {
    const std::vector<InvalidCase> invalid{
        {"neck below a thousandth of the rim", ShapeType::RevolvedPair, {1, 1, 2, -0.5, 0.0009}},
        {"deep cap with a wide neck", ShapeType::RevolvedPair, {1, 1, 1, -3, 1.5}},
        {"bowl plane above its cutout", ShapeType::Bowl, {2, 2, 1, 1, 0.5, 2}},
        {"bowl plane below its cutout", ShapeType::Bowl, {2, 2, 1, 2.5, 1.5, 0.3}},
        {"core below its limit", ShapeType::CoredSolid, {1, 0.5, 1, 0.5, 1, -2, 0.9}},
        {"neck too narrow", ShapeType::CoredSolid, {1, 0.5, 1, 0.5, 1, 0.3, 0.0005}},
        {"core through the wall", ShapeType::CoredSolid, {1, 0.5, 1, 0.5, 1, 0.8, 0.6}},
    };
    for (const InvalidCase& c : invalid) {
        SCOPED_TRACE(c.name);
        OnePart one;
        EXPECT_EQ(one.Build(Working(c.type, c.params)), -1);
        EXPECT_EQ(one.Part().buildResult, -1);
        EXPECT_GT(one.Part().surfaceCount, 0);
    }
    // Just inside the deep-cap limit the pair builds.
    OnePart valid;
    EXPECT_EQ(valid.Build(Working(ShapeType::RevolvedPair, {1, 1, 1, -1.2, 1.1})), 0);
}

// A bowl without an accepted cut has an empty feature table; a valid rebuild lays it out again.
TEST(RevolutionBuilders, BowlFeatureTableFollowsItsKindOfCut) {
    OnePart bowl;
    ASSERT_EQ(bowl.Build(Working(ShapeType::Bowl, {2, 2, 1, 2.5, 1.5, 1.9})), 0);
    auto edges = FeatureTableEdges(*bowl.Part().features);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].curve, FeatureCurve::TwoCurved);
    // The cutout meets the sphere of radius 2 where 0.84 y^2 - 3 y + 1.89 = 0.
    const double meet = (3 - std::sqrt(9 - 4 * 0.84 * 1.89)) / (2 * 0.84);
    EXPECT_NEAR(-edges[0].plane[0] / edges[0].plane[2], meet, 1e-9);

    ASSERT_EQ(bowl.Build(Working(ShapeType::Bowl, {2, 2, 1, 2.5, 1.5, 0.3})), -1);
    EXPECT_EQ(bowl.Part().features->byteSize, sizeof(FeatureTable));
    EXPECT_EQ(bowl.Part().features->groupCount, 0);

    ASSERT_EQ(bowl.Build(Working(ShapeType::Bowl, {2, 2, 1, 1, 0.5, 1})), 0);
    edges = FeatureTableEdges(*bowl.Part().features);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].surface, 2);
    EXPECT_EQ(edges[1].otherSurface, 1);
}

// A core below -0.99 of the half-length is built at that limit, reaching the axis there.
TEST(RevolutionBuilders, CoredSolidCoreIsHeldAtItsLimit) {
    OnePart cored;
    ASSERT_EQ(cored.Build(Working(ShapeType::CoredSolid, {1, 0.5, 1, 0.5, 1, -2, 0.9})), -1);
    EXPECT_NEAR(FormAt(cored.Part().Surfaces()[0], {0, 0.99, 0}), 0.0, 1e-9);
    EXPECT_NEAR(FormAt(cored.Part().Surfaces()[0], {0.5, 1, 0}), 0.0, 1e-9);
    EXPECT_NEAR(FormAt(cored.Part().Surfaces()[1], {1, -1, 0}), 0.0, 1e-9);
}

}  // namespace
