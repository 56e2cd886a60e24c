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

// The surface of a hyperbolic profile between parameters tau1 and tau2: kind 3 (waist of
// radius a at height 0) takes them signed; kind 4 (vertex on the axis at height b) from 0 up.
Rtp Hyperbolic(ProfileKind kind, double a, double b, double tau1, double tau2) {
    Rtp p;
    p.type = static_cast<std::int16_t>(kind);
    p.a = a;
    p.b = b;
    const bool meetsAxis = kind == ProfileKind::Hyperbolic;
    auto radius = [&](double t) { return meetsAxis ? a * std::sinh(t) : a * std::cosh(t); };
    auto height = [&](double t) { return meetsAxis ? b * std::cosh(t) : b * std::sinh(t); };
    p.r1 = radius(tau1);
    p.r2 = radius(tau2);
    p.y1 = height(tau1);
    p.y2 = height(tau2);
    p.maxr = std::max(p.r1, p.r2);
    return p;
}

TEST(UniRevTex, HyperbolicSurfacesMeasureDsOverRadius) {
    UniRevTex uni;
    const std::vector<Rtp> profiles = {
        Hyperbolic(ProfileKind::HyperbolicPolar, 1.5, 0.7, -1.2, 0.0),
        Hyperbolic(ProfileKind::HyperbolicPolar, 1.5, 0.7, 0.0, 0.9),
    };
    uni.Build(profiles);
    ASSERT_TRUE(uni.IsUsable());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const RevTex& r = *uni.records[i];
        const Rtp& p = r.profile;
        const double expected = ProfileCurveMeasureHyperbolicNumeric(p.r2, p.y2, r) -
                                ProfileCurveMeasureHyperbolicNumeric(p.r1, p.y1, r);
        EXPECT_NEAR(r.length, expected, 1e-9 * expected);
    }
    EXPECT_NEAR(uni.records[1]->start, uni.records[0]->length, 1e-12);
    EXPECT_EQ(uni.poleLength, 0.0);

    // A dome meets the axis at its vertex: the pole lies where that surface begins. A piece of
    // the same hyperbola away from the vertex does not meet the axis.
    const std::vector<Rtp> domes[] = {
        {Straight(-1, 0, 1, 1), Hyperbolic(ProfileKind::Hyperbolic, 1.0, 2.0, 0.0, 1.0)},
        {Straight(-1, 0, 1, 1), Hyperbolic(ProfileKind::Hyperbolic, 1.0, 2.0, 0.2, 1.0)},
    };
    uni.Build(domes[0]);
    ASSERT_TRUE(uni.IsUsable());
    EXPECT_NEAR(uni.poleLength, uni.records[1]->start, 1e-9);
    uni.Build(domes[1]);
    ASSERT_TRUE(uni.IsUsable());
    EXPECT_EQ(uni.poleLength, 0.0);
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

namespace {

// Every surface of a built mapping: tables laid out in the stored size, length along the
// profile as the direct evaluation measures it, radius pinned at both ends and following the
// curve between them.
void ExpectHyperbolicSurfacesMatchTheCurve(const CustomRevTex& custom) {
    for (int i = 0; i < custom.numSurfs; ++i) {
        SCOPED_TRACE(i);
        const RevTex& r = *custom.records[i];
        const Rtp& p = r.profile;
        EXPECT_GT(r.tablePieceCount, 0);
        EXPECT_EQ(r.size, static_cast<std::int32_t>(RevTexTableOffset) + 16 * r.tablePieceCount);
        const double expected = std::fabs(ProfileCurveMeasureHyperbolicNumeric(p.r2, p.y2, r) -
                                          ProfileCurveMeasureHyperbolicNumeric(p.r1, p.y1, r));
        EXPECT_NEAR(r.length, expected, 3e-6 * expected);
        EXPECT_NEAR(ProfileRadiusAt(r.start, r, -1), p.r1, 1e-9);
        EXPECT_NEAR(ProfileRadiusAt(r.start + r.length, r, -1), p.r2, 1e-9);
        for (double f : {0.1, 0.37, 0.5, 0.81}) {
            const double at = r.start + f * r.length;
            EXPECT_NEAR(ProfileRadiusAt(at, r, -1), ProfileRadiusHyperbolicNumeric(at - r.lOffset, r),
                        1e-5 * p.maxr)
                << f;
        }
    }
}

}  // namespace

TEST_F(CustomRevTexTest, WaistedHyperboloidGetsTwoBandsFromHyperbolicTables) {
    CustomRevTex custom;
    custom.material = &params;
    custom.poleless = 1;
    std::vector<Rtp> profiles = {
        Hyperbolic(ProfileKind::HyperbolicPolar, 1.5, 0.7, -1.2, 0.0),
        Hyperbolic(ProfileKind::HyperbolicPolar, 1.5, 0.7, 0.0, 0.9),
    };
    profiles[1].map = 1;
    custom.Build(profiles);
    ASSERT_TRUE(custom.IsUsable());
    ExpectHyperbolicSurfacesMatchTheCurve(custom);
    EXPECT_NEAR(custom.inLen, custom.records[0]->length, 1e-12);
    ASSERT_TRUE(custom.band0 && custom.band1);
    EXPECT_GT(custom.band0->tileCount, 0);
    EXPECT_GT(custom.band1->tileCount, 0);
}

TEST_F(CustomRevTexTest, HyperbolicDomeBandStartsWhereTheProfileTurnsSteep) {
    CustomRevTex custom;
    custom.material = &params;
    const Rtp dome = Hyperbolic(ProfileKind::Hyperbolic, 1.0, 2.0, 0.0, 2.0);
    custom.Build(std::span<const Rtp>(&dome, 1));
    ASSERT_TRUE(custom.IsUsable());
    ExpectHyperbolicSurfacesMatchTheCurve(custom);
    // dy/dx = (b / a) tanh tau reaches 1 at tanh tau = 1/2, sinh tau = 1 / sqrt(3).
    const RevTex& r = *custom.records[0];
    const double sigma = 1 / std::sqrt(3.0);
    const double steep =
        ProfileCurveMeasureHyperbolicNumeric(sigma, 2.0 * std::sqrt(1 + sigma * sigma), r) + r.lOffset;
    ASSERT_TRUE(custom.band0 && custom.cap0 && custom.cap1);
    EXPECT_NEAR(custom.band0->lStart, steep, 1e-5);
    EXPECT_NEAR(custom.band0->lEnd, 0.999 * custom.length, 1e-9);
    EXPECT_NEAR(custom.cap0->lInner, steep, 1e-5);
    EXPECT_GT(custom.cap0->tileCount, 0);

    // A waisted profile that flares past 45 degrees is steep only around its waist.
    CustomRevTex flared;
    flared.material = &params;
    const Rtp flare = Hyperbolic(ProfileKind::HyperbolicPolar, 2.0, 1.0, -1.5, 1.5);
    flared.Build(std::span<const Rtp>(&flare, 1));
    ASSERT_TRUE(flared.IsUsable());
    const RevTex& f = *flared.records[0];
    const double waistSigma = 1 / std::sqrt(3.0);  // tanh tau = b / a
    const double reach = ProfileCurveMeasureHyperbolicNumeric(
        2.0 * std::sqrt(1 + waistSigma * waistSigma), waistSigma, f);
    // That part is shorter than a third of the length, so the band's ends move outward.
    const double length = flared.length;
    const double lo = f.lOffset - reach;
    const double hi = f.lOffset + reach;
    ASSERT_LT(hi - lo, 0.3333 * length);
    const double k = 0.6667 * length / (length - hi + lo);
    EXPECT_NEAR(flared.band0->lStart, lo * k, 1e-5);
    EXPECT_NEAR(flared.band0->lEnd, length - (length - hi) * k, 1e-5);
}

TEST_F(CustomRevTexTest, UnusableHyperbolicAxesGiveNoMapping) {
    for (double b : {0.0, -2.0, 1e-9}) {
        CustomRevTex custom;
        custom.material = &params;
        Rtp p = Hyperbolic(ProfileKind::Hyperbolic, 1.0, 2.0, 0.0, 1.0);
        p.b = b;
        custom.Build(std::span<const Rtp>(&p, 1));
        EXPECT_FALSE(custom.IsUsable()) << b;
    }
}
