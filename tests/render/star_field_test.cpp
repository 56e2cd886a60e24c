#include "render/star_field.h"

#include "core/private_heap.h"
#include "geometry/scene_geometry.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// The generator and the cluster rules written out again, apart from the code under test.
struct Recomputed {
    std::vector<std::array<float, 5>> stars;  // x, y, z, random, size
    std::uint32_t state = 0;
};

Recomputed Recompute(std::uint32_t seed, int count, double firstSize, double factor) {
    Recomputed out;
    std::uint32_t s = seed;
    const auto step = [&s] {
        s = s * 1664525u + 1013904223u;
        return s;
    };
    const auto ball = [&](double p[3]) {
        do {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<double>(step()) / 2147483648.0 - 1.0;
        } while (p[0] * p[0] + p[1] * p[1] + p[2] * p[2] > 1.0 ||
                 p[0] * p[0] + p[1] * p[1] + p[2] * p[2] == 0.0);
    };
    double centre[3] = {};
    double size = 0.0;
    double spread = 0.0;
    for (int i = 0; i < count; ++i) {
        double at[3];
        if (i % 32 == 0) {
            ball(centre);
            for (int c = 0; c < 3; ++c) at[c] = centre[c];
            size = firstSize;
            spread = 0.5;
        } else {
            if (i % 4 == 0) spread *= factor;
            double p[3];
            ball(p);
            for (int c = 0; c < 3; ++c) at[c] = centre[c] + p[c] * spread;
            size *= 0.95;
        }
        const double random = step() / 4294967295.0;
        out.stars.push_back({static_cast<float>(at[0]), static_cast<float>(at[1]),
                             static_cast<float>(at[2]), static_cast<float>(random),
                             static_cast<float>(size)});
    }
    out.state = s;
    return out;
}

TEST(StarField, EqualsAnIndependentRecomputationOfTheGenerator) {
    struct Case {
        std::int32_t seed;
        std::int32_t count;
        double firstSize;
        double factor;
    };
    const Case cases[] = {{1, 70, 2.5, 0.7}, {12345, 100, 1.2, 0.9}, {-7, 33, 3.0, 1.3},
                          {0, 1, 1.0, 0.5}};
    SceneGeometry geometry;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seed);
        const std::int32_t state =
            BuildStarField(geometry, c.seed, c.count, c.firstSize, c.factor);
        const Recomputed expected =
            Recompute(std::bit_cast<std::uint32_t>(c.seed), c.count, c.firstSize, c.factor);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(state), expected.state);
        ASSERT_EQ(geometry.starField.count, c.count);
        ASSERT_NE(geometry.starField.stars, nullptr);
        for (int i = 0; i < c.count; ++i) {
            SCOPED_TRACE(i);
            const Star& star = geometry.starField.stars.get()[i];
            const auto& e = expected.stars[static_cast<std::size_t>(i)];
            EXPECT_EQ(std::bit_cast<std::uint32_t>(star.x), std::bit_cast<std::uint32_t>(e[0]));
            EXPECT_EQ(std::bit_cast<std::uint32_t>(star.y), std::bit_cast<std::uint32_t>(e[1]));
            EXPECT_EQ(std::bit_cast<std::uint32_t>(star.z), std::bit_cast<std::uint32_t>(e[2]));
            EXPECT_EQ(std::bit_cast<std::uint32_t>(star.random), std::bit_cast<std::uint32_t>(e[3]));
            EXPECT_EQ(std::bit_cast<std::uint32_t>(star.size), std::bit_cast<std::uint32_t>(e[4]));
            EXPECT_EQ(star.colour, 0xFFFFFFu);
        }
    }
}

TEST(StarField, ClustersOf32ShrinkAndSpreadByTheirFactors) {
    SceneGeometry geometry;
    const double first = 2.0;

    // Factor 0: stars 4 to 31 sit on their cluster's centre; star 32 opens a new cluster.
    BuildStarField(geometry, 99, 33, first, 0.0);
    const Star* s = geometry.starField.stars.get();
    for (int i = 4; i < 32; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s[i].x, s[0].x);
        EXPECT_EQ(s[i].y, s[0].y);
        EXPECT_EQ(s[i].z, s[0].z);
    }
    EXPECT_EQ(s[1].size, static_cast<float>(first * 0.95));
    EXPECT_NEAR(s[31].size, first * std::pow(0.95, 31), 1e-6);
    EXPECT_EQ(s[32].size, static_cast<float>(first));
    EXPECT_NE(s[32].x, s[0].x);
    EXPECT_LE(s[32].x * s[32].x + s[32].y * s[32].y + s[32].z * s[32].z, 1.0f + 1e-6f);

    // Factor 1: every star of a cluster lies within 0.5 of its centre; brightness in 0..1.
    BuildStarField(geometry, 4242, 64, first, 1.0);
    s = geometry.starField.stars.get();
    for (int i = 0; i < 64; ++i) {
        SCOPED_TRACE(i);
        const Star& centre = s[i - i % 32];
        const double dx = s[i].x - centre.x;
        const double dy = s[i].y - centre.y;
        const double dz = s[i].z - centre.z;
        EXPECT_LE(std::sqrt(dx * dx + dy * dy + dz * dz), 0.5 + 1e-6);
        EXPECT_GE(s[i].random, 0.0f);
        EXPECT_LE(s[i].random, 1.0f);
    }
}

TEST(StarField, NoCountOrNoMemoryLeavesNoStarsAndACountOfZero) {
    SceneGeometry geometry;
    BuildStarField(geometry, 5, 40, 1.0, 0.5);
    ASSERT_NE(geometry.starField.stars, nullptr);

    EXPECT_EQ(BuildStarField(geometry, 77, 0, 1.0, 0.5), 77);
    EXPECT_EQ(geometry.starField.stars, nullptr);
    EXPECT_EQ(geometry.starField.count, 0);
    EXPECT_EQ(BuildStarField(geometry, 78, -3, 1.0, 0.5), 78);
    EXPECT_EQ(geometry.starField.count, 0);

    BuildStarField(geometry, 5, 40, 1.0, 0.5);
    const std::size_t blocks = PrivateHeapBlockCount();
    PrivateHeapRefuseNext(1);
    EXPECT_THROW(BuildStarField(geometry, 6, 40, 1.0, 0.5), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(geometry.starField.stars, nullptr);
    EXPECT_EQ(geometry.starField.count, 0);
    EXPECT_EQ(PrivateHeapBlockCount(), blocks - 1);
}

TEST(StarField, BallPointsAreInsideTheBallAndNeverItsCentre) {
    std::uint32_t state = 1;
    for (int i = 0; i < 1000; ++i) {
        std::array<double, 3> p{};
        const std::uint32_t before = state;
        state = RandomPointInUnitBall(state, p);
        SCOPED_TRACE(before);
        const double r2 = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
        EXPECT_LE(r2, 1.0);
        EXPECT_GT(r2, 0.0);
        // The point is the last three steps' coordinates.
        EXPECT_EQ(p[2], state * 4.656612873077393e-10 - 1.0);
    }
}

}  // namespace
