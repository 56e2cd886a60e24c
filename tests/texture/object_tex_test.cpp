#include "texture/object_tex.h"

#include "core/private_heap.h"
#include "texture/texture_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

Rtp Straight(double y1, double y2, double r1, double r2) {
    Rtp p;
    p.type = static_cast<std::int16_t>(ProfileKind::Straight);
    p.y1 = y1;
    p.y2 = y2;
    p.r1 = r1;
    p.r2 = r2;
    p.maxr = std::max(r1, r2);
    p.a = std::hypot(y2 - y1, r2 - r1) > 0 ? (r2 - r1) / std::hypot(y2 - y1, r2 - r1) : 0;
    return p;
}

TEST(UniRevTex, StraightSurfacesUseTheLogOrTheCylinderFormula) {
    UniRevTex uni;
    EXPECT_EQ(uni.type, 1);
    EXPECT_EQ(uni.recordCapacity, 1);
    EXPECT_EQ(uni.records[0]->size, RevTexPlainSize);
    const std::vector<Rtp> profiles = {
        Straight(0, 1, 2.0, 2.0),  // cylinder: q (1 - a q / 2) with q = 1 / 2
        Straight(1, 2, 2.0, 1.0),  // cone: (ln r2 - ln r1) / a
        Straight(2, 3, 1.0, 0.0),  // cone to the axis: ln 0 counts as -30
    };
    uni.Build(profiles);
    ASSERT_TRUE(uni.IsUsable());
    EXPECT_EQ(uni.numSurfs, 3);
    EXPECT_EQ(uni.records[0]->lType, 1);
    EXPECT_NEAR(uni.records[0]->length, 0.5, 1e-12);
    const double a1 = profiles[1].a;
    EXPECT_NEAR(uni.records[1]->length, (std::log(1.0) - std::log(2.0)) / a1, 1e-12);
    EXPECT_NEAR(uni.records[2]->length, (-30.0 - 0.0) / profiles[2].a, 1e-9);
    EXPECT_NEAR(uni.records[1]->start, 0.5, 1e-12);
    EXPECT_NEAR(uni.length, uni.records[0]->length + uni.records[1]->length + uni.records[2]->length,
                1e-9);
    // The first surface that reaches the axis begins the pole.
    EXPECT_NEAR(uni.poleLength, uni.records[2]->start, 1e-12);
}

TEST(UniRevTex, SphereMeasuresLatitudeConformally) {
    UniRevTex uni;
    Rtp p;
    p.type = static_cast<std::int16_t>(ProfileKind::Elliptic);
    p.a = p.b = 1.0;
    p.y1 = -std::sin(1.0);
    p.y2 = std::sin(1.0);
    p.r1 = p.r2 = std::cos(1.0);
    p.maxr = 1.0;
    uni.Build(std::span<const Rtp>(&p, 1));
    ASSERT_TRUE(uni.IsUsable());
    EXPECT_GE(uni.records[0]->size, RevTexOffsetSize);
    EXPECT_NEAR(uni.records[0]->length, 2 * std::atanh(std::sin(1.0)), 1e-9);
    EXPECT_NEAR(uni.records[0]->lOffset, std::atanh(std::sin(1.0)), 1e-9);
}

class CustomRevTexTest : public testing::Test {
protected:
    void SetUp() override {
        std::vector<std::uint32_t> pixels(40 * 30, 0xFF00FF00u);
        ASSERT_EQ(TexPyramidSetImage(pyramid, pixels.data(), 40, 40, 30, true), 0);
        params.image = &pyramid;
        params.scale = 8.0;
    }
    TexPyramid pyramid;
    TextureParams params;
};

TEST_F(CustomRevTexTest, SphereGetsABandAndTwoCapsFromEllipticTables) {
    CustomRevTex custom;
    custom.material = &params;
    Rtp p;
    p.type = static_cast<std::int16_t>(ProfileKind::Elliptic);
    p.a = 2.0;
    p.b = 1.5;
    p.y1 = -1.5;
    p.y2 = 1.5;
    p.r1 = p.r2 = 0.0;
    p.maxr = 2.0;
    custom.Build(std::span<const Rtp>(&p, 1));
    ASSERT_TRUE(custom.IsUsable());
    EXPECT_EQ(custom.buildMarker != TexBuildMarker, true) << "tiles advanced the random state";
    // Half the ellipse's perimeter, pole to pole.
    const double quarter = [] {
        double sum = 0;
        const int n = 20000;
        for (int i = 0; i < n; ++i) {
            const double t = (i + 0.5) * (std::numbers::pi / 2) / n;
            sum += std::hypot(2.0 * std::sin(t), 1.5 * std::cos(t));
        }
        return sum * (std::numbers::pi / 2) / n;
    }();
    EXPECT_NEAR(custom.length, 2 * quarter, 2e-3);
    EXPECT_NEAR(custom.maxCirc1, 2 * std::numbers::pi * 2.0, 1e-12);
    // The radius function is pinned to the profile's radii at both ends.
    const RevTex& r = *custom.records[0];
    EXPECT_NEAR(ProfileRadiusAt(r.start, r, -1), 0.0, 1e-9);
    EXPECT_NEAR(ProfileRadiusAt(r.start + r.length, r, -1), 0.0, 1e-9);
    EXPECT_NEAR(ProfileRadiusAt(r.start + r.length / 2, r, -1), 2.0, 1e-2);
    ASSERT_TRUE(custom.band0 && custom.cap0 && custom.cap1);
    EXPECT_EQ(custom.band1, nullptr);
    const TileMap& band = *custom.band0;
    EXPECT_LT(band.lStart, band.lEnd);
    EXPECT_GE(band.lEnd - band.lStart, 0.3333 * custom.length - 1e-9);
    EXPECT_GT(band.tileCount, 0);
    EXPECT_EQ(band.coverage, nullptr);
    EXPECT_NEAR(custom.cap0->lInner, band.lStart, 1e-12);
    EXPECT_NEAR(custom.cap1->lInner, custom.length - band.lEnd, 1e-12);
    EXPECT_GT(custom.cap0->tileCount, 0);
    EXPECT_NEAR(custom.cap0->logr, std::log(custom.cap0->lOuter / custom.cap0->lInner), 1e-12);
}

TEST_F(CustomRevTexTest, UnusableProfilesGiveNoMapping) {
    Rtp bad = Straight(0, 1, 1, 1);
    for (double v : {std::nan(""), static_cast<double>(INFINITY)}) {
        CustomRevTex custom;
        custom.material = &params;
        bad.y2 = v;
        custom.Build(std::span<const Rtp>(&bad, 1));
        EXPECT_FALSE(custom.IsUsable());
    }
    CustomRevTex custom;
    custom.material = &params;
    Rtp unknown = Straight(0, 1, 1, 1);
    unknown.type = 11;
    custom.Build(std::span<const Rtp>(&unknown, 1));
    EXPECT_FALSE(custom.IsUsable());
    custom.Build(std::span<const Rtp>());
    EXPECT_FALSE(custom.IsUsable());
}

}  // namespace
