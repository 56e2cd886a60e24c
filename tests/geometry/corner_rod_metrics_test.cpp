#include "geometry/corner_rod_metrics.h"

#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace shape_build_test;

const std::vector<double> WorkedRod{0, 0, 0, 10, 0, 0, 1, 1, 0, 0, 1, 0.3, 0, 1, 0.2, 0.5, 2, 1.5, 0.3};

SproutlingMetrics Preset() {
    SproutlingMetrics out{};
    out[9] = 100;
    return out;
}

// One rod: the joint at its end B, measured with its p17.
TEST(CornerRodMetrics, OneRodGivesTheWorkedMeasures) {
    OnePart rod;
    ASSERT_EQ(rod.Build(Working(ShapeType::CornerRod, WorkedRod)), 0);
    SproutlingMetrics out = Preset();
    SproutlingShapeMetrics(out, WorkedRod.data(), nullptr, &rod.Part(), nullptr);
    const SproutlingMetrics expected{10,        0,        0,        0.866025, 0.5,
                                     0,         -0.487177, 0.843816, 0.225018, 1.05,
                                     1.614426,  0.241703, 0.000568, 0.017458};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(out[i], expected[i], 5e-7) << i;
}

// A second rod given alone is measured at its start A with its p16, whatever its record
// reports.
TEST(CornerRodMetrics, LoneSecondRodIsMeasuredAtItsStart) {
    OnePart rod;
    std::vector<double> params = WorkedRod;
    params[15] = 0.99;
    params[18] = 6;
    ASSERT_EQ(rod.Build(Working(ShapeType::CornerRod, params)), 1);
    SproutlingMetrics out = Preset();
    SproutlingShapeMetrics(out, nullptr, params.data(), nullptr, &rod.Part());
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_LE(out[9], 0.7 * 2);
    EXPECT_GT(out[10], 0.0);
    EXPECT_NEAR(out[3] * out[3] + out[4] * out[4] + out[5] * out[5], 1.0, 1e-12);
}

// A second rod whose build was changed is ignored: the joint stays at the first rod's end.
TEST(CornerRodMetrics, ChangedSecondRodIsIgnored) {
    OnePart firstRod;
    ASSERT_EQ(firstRod.Build(Working(ShapeType::CornerRod, WorkedRod)), 0);
    std::vector<double> secondParams{10, 0, 0, 20, 5, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0.5, 1.5, 1, 0.3};
    OnePart secondRod;
    ASSERT_EQ(secondRod.Build(Working(ShapeType::CornerRod, secondParams)), 0);
    secondRod.Part().buildResult = 1;
    SproutlingMetrics alone = Preset();
    SproutlingShapeMetrics(alone, WorkedRod.data(), nullptr, &firstRod.Part(), nullptr);
    SproutlingMetrics both = Preset();
    SproutlingShapeMetrics(both, WorkedRod.data(), secondParams.data(), &firstRod.Part(),
                           &secondRod.Part());
    EXPECT_EQ(both, alone);

    // Taken part, the second rod moves the joint to its own start and bends e.
    secondRod.Part().buildResult = 0;
    SproutlingMetrics joined = Preset();
    SproutlingShapeMetrics(joined, WorkedRod.data(), secondParams.data(), &firstRod.Part(),
                           &secondRod.Part());
    EXPECT_EQ(joined[0], 10.0);
    EXPECT_LE(joined[9], 0.7 * 1.5);
}

}  // namespace
