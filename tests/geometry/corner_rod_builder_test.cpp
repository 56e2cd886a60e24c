#include "geometry/corner_rod_builder.h"

#include "geometry/feature_table.h"
#include "geometry/shape_forms.h"
#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace shape_build_test;

std::vector<double> CornerRod(double bendSine, double wall, const Vec3& ea = {0, 1, 0},
                              const Vec3& eb = {0, 1, 0}) {
    return {0, 0, 0, 10, 0, 0, 1, 1, 0, ea.x, ea.y, ea.z, eb.x, eb.y, eb.z, bendSine, 2, 1.5, wall};
}

TEST(CornerRodBuilder, CircleOffsetMeasuresFromTheCircle) {
    EXPECT_EQ(CircleOffset(0, 0.7, 3), 0.7);
    EXPECT_EQ(CircleOffset(1, 0, 0), 0.0);
    // Radius 2 about (-2, 0): (1, 0) is 1 outside; inside, the depth runs on through the
    // centre, so (-5, 0), 3 beyond it, is 5 deep.
    EXPECT_NEAR(CircleOffset(0.5, 1, 0), 1.0, 1e-15);
    EXPECT_NEAR(CircleOffset(0.5, -2, 0), -2.0, 1e-15);
    EXPECT_NEAR(CircleOffset(0.5, -5, 0), -5.0, 1e-15);
}

// The worked rod: sigma 0.5, K 0.1, sag 1.33975; its seam corners and planes.
TEST(CornerRodBuilder, CornersSagAndSeamsOfTheWorkedRod) {
    OnePart rod;
    ASSERT_EQ(rod.Build(Working(ShapeType::CornerRod, CornerRod(0.5, 0.3))), 0);
    const PartRenderRecord& part = rod.Part();
    const double sag = 5 * 0.5 / (1 + std::sqrt(0.75));
    EXPECT_NEAR(sag, 1.33975, 1e-5);
    EXPECT_DOUBLE_EQ(part.halfChord, 5);
    EXPECT_DOUBLE_EQ(part.bendSine, 0.5);
    // The corners are carried to scene coordinates with the part; bring them back.
    const auto corners = FeatureTableCorners(*part.features);
    ASSERT_EQ(corners.size(), 4u);
    const std::vector<Vec3> expected{{-sag, -5, -2}, {-sag, -5, 2}, {-sag, 5, -1.5}, {-sag, 5, 1.5}};
    for (std::size_t i = 0; i < 4; ++i) {
        const Vec3 local = PointCarried(part.localFromWorld, corners[i]);
        EXPECT_NEAR(local.x, expected[i].x, 1e-9) << i;
        EXPECT_NEAR(local.y, expected[i].y, 1e-9) << i;
        EXPECT_NEAR(local.z, expected[i].z, 1e-9) << i;
    }
    const std::array<double, 6> seams{-17.5, 0.5, -10, 17.5, -0.5, -10};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(part.seamPlanes[i], seams[i], 1e-9) << i;
    // A and B lie on the end planes.
    EXPECT_NEAR(FormAt(part.Surfaces()[2], {0, 0, 0}), 0.0, 1e-9);
    EXPECT_NEAR(FormAt(part.Surfaces()[3], {10, 0, 0}), 0.0, 1e-9);
}

// A bend too deep for the wall is lessened to 0.75 (either way) and reported.
TEST(CornerRodBuilder, DeepBendIsLessenedAndReported) {
    for (double sign : {1.0, -1.0}) {
        OnePart rod;
        EXPECT_EQ(rod.Build(Working(ShapeType::CornerRod, CornerRod(0.99 * sign, 6))), 1);
        EXPECT_NEAR(rod.Part().bendSine, 0.75 * sign, 1e-12);
    }
    // A section direction tilted past 45 degrees is held there.
    OnePart tilted;
    EXPECT_EQ(tilted.Build(Working(ShapeType::CornerRod, CornerRod(0.5, 0.3, {0, 1, 3}))), 1);
    const Vec3 dir = tilted.Part().sectionDirA;
    const double planar = std::sqrt(dir.x * dir.x + dir.y * dir.y);
    EXPECT_NEAR(std::abs(dir.z), planar, 1e-9);
}

TEST(CornerRodBuilder, BoundHoldsEveryInteriorSample) {
    for (const auto& params : {CornerRod(0.5, 0.3), CornerRod(0.5, 0.3, {0, 1, 0.3}, {0, 1, 0.2}),
                               CornerRod(-0.8, 0.5, {0.2, 1, -0.5}, {0, 1, 0.6}), CornerRod(0, 0.4)}) {
        OnePart rod;
        ASSERT_GE(rod.Build(Working(ShapeType::CornerRod, params)), 0);
        std::mt19937_64 random(2626);
        int inside = 0;
        for (int i = 0; i < SampleCount; ++i) {
            const Vec3 point = Vec3Add(Vec3{5, 0, 0}, SampleInBox(random, {8, 8, 8}));
            if (!InsideSurfaces(rod.Part(), point)) continue;
            ++inside;
            ASSERT_LE(FormAt(rod.Part().boundQuadric, point), 1e-9);
        }
        EXPECT_GT(inside, 0);
    }
}

}  // namespace
