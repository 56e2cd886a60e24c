#include "render/background_shade.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

ShadeSettings GradientSky(double k) {
    ShadeSettings s;
    s.isSkyGradient = true;
    s.skyUp = Vec3{0.0, -1.0, 0.0};
    s.horizonColour = 0x204080;
    s.zenithColour = 0xF0C010;
    s.gradientTan = k;
    return s;
}

TEST(BackgroundShade, FlatColourOnTheEightPointEightScale) {
    ShadeSettings s;
    s.backgroundColour = 0x12AB7F;
    const auto c = ShadeBackground(s, 0.3, -0.7);
    EXPECT_EQ(c[0], 0x12 << 8);
    EXPECT_EQ(c[1], 0xAB << 8);
    EXPECT_EQ(c[2], 0x7F << 8);
}

TEST(BackgroundShade, GradientEndsAndItsShape) {
    const ShadeSettings s = GradientSky(1.0);
    // The ray (0, -1e9, 1) runs (almost) along the up direction: the zenith colour; the ray
    // along the view axis is perpendicular to it: the horizon colour.
    const auto zenith = ShadeBackground(s, 0.0, -1e9);
    EXPECT_EQ(zenith[0], 0xF0 << 8);
    EXPECT_EQ(zenith[1], 0xC0 << 8);
    EXPECT_EQ(zenith[2], 0x10 << 8);
    const auto horizon = ShadeBackground(s, 0.0, 0.0);
    EXPECT_EQ(horizon[0], 0x20 << 8);
    EXPECT_EQ(horizon[1], 0x40 << 8);
    EXPECT_EQ(horizon[2], 0x80 << 8);
    // Below the horizon the same as above it.
    const auto below = ShadeBackground(s, 0.2, 0.5);
    const auto above = ShadeBackground(s, 0.2, -0.5);
    EXPECT_EQ(below, above);

    // In between: with k = 1 the zenith's share is the squared cosine t, for k = 2 it is
    // t / (4 (1 - t) + t); checked against the blend of the end colours.
    for (const double k : {1.0, 2.0}) {
        SCOPED_TRACE(k);
        const ShadeSettings sk = GradientSky(k);
        const double y = -0.6;
        const double t = y * y / (y * y + 1.0);
        const double share = t / (k * k * (1.0 - t) + t);
        const auto c = ShadeBackground(sk, 0.0, y);
        EXPECT_NEAR(c[0], (0x20 * (1.0 - share) + 0xF0 * share) * 256.0, 1.0);
        EXPECT_NEAR(c[1], (0x40 * (1.0 - share) + 0xC0 * share) * 256.0, 1.0);
        EXPECT_NEAR(c[2], (0x80 * (1.0 - share) + 0x10 * share) * 256.0, 1.0);
    }
}

TEST(BackgroundShade, DepthCueWeights) {
    ShadeSettings s;
    s.nearDepth = 6.0;
    s.farDepth = 14.0;
    struct Case {
        double distance;
        std::int32_t weight;
    };
    const Case cases[] = {{0.0, 16384}, {5.99, 16384}, {6.0, 16384}, {10.0, 8192},
                          {14.0, 0},    {100.0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.distance);
        EXPECT_EQ(DepthCueWeight(s, c.distance, 0.1, 0.2), c.weight);
    }
    // In between: 16384 times the smoothstep 3e^2 - 2e^3, e = (far - d) / (far - near).
    for (double d = 6.0; d < 14.0; d += 0.37) {
        SCOPED_TRACE(d);
        const double e = (14.0 - d) / 8.0;
        EXPECT_NEAR(DepthCueWeight(s, d, 0.0, 0.0), 16384.0 * (3 * e * e - 2 * e * e * e), 2.0);
    }
}

TEST(BackgroundShade, FogVolumes) {
    ShadeSettings s;
    s.isFogVolumes = true;
    EXPECT_EQ(DepthCueWeight(s, 10.0, 0.0, 0.0), 16384);  // no enabled volume

    // An unbounded volume with the form 0 and constant C has the density d / (C + p0^2 +
    // p3^2) everywhere but A = 0 is degenerate, so take a tiny curvature: the density is
    // then d / (C + eps z^2 + ...) ~ d / C along a short ray.
    FogVolume& fog = s.fogVolumes[0];
    fog.isEnabled = true;
    fog.form = {1e-9, 0, 0, 0, 1e-9, 0, 0, 0, 1e-9};
    fog.constant = 1.0;
    fog.p = {0.0, 0.1, 0.0, 0.0, 0.0};
    // Along the axis (L = 1) to depth 5: tau = 0.1 x 5, weight 16384 exp(-0.5).
    EXPECT_NEAR(DepthCueWeight(s, 5.0, 0.0, 0.0), 16384.0 * std::exp(-0.5), 16.0);
    // A very dense volume leaves nothing of the surface.
    fog.p[1] = 1e6;
    EXPECT_EQ(DepthCueWeight(s, 5.0, 0.0, 0.0), 0);

    // A bounded volume: the unit sphere about (0, 0, 4), Q = x^2 + y^2 + (z - 4)^2 - 1; a
    // point before the sphere sees no fog, one behind it some.
    ShadeSettings b;
    b.isFogVolumes = true;
    b.isBoundedFog = true;
    FogVolume& ball = b.fogVolumes[0];
    ball.isEnabled = true;
    ball.form = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    ball.linear = Vec3{0.0, 0.0, -4.0};
    ball.constant = 15.0;
    ball.p = {0.0, 1.0, 1.0, 0.0, 2.0};
    EXPECT_EQ(DepthCueWeight(b, 2.5, 0.0, 0.0), 16384);
    const std::int32_t behind = DepthCueWeight(b, 8.0, 0.0, 0.0);
    EXPECT_LT(behind, 16384);
    EXPECT_GT(behind, 0);
    // Beyond the exit the weight no longer changes; a ray that misses the ball sees no fog.
    EXPECT_EQ(DepthCueWeight(b, 20.0, 0.0, 0.0), behind);
    EXPECT_EQ(DepthCueWeight(b, 8.0, 1.0, 0.0), 16384);
}

}  // namespace
