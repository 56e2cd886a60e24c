#include "render/star_sky.h"

#include "core/private_heap.h"
#include "geometry/star_field.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"
#include "render/span_shade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t Width = 64;
constexpr std::int32_t Height = 48;
constexpr double Focal = 60.0;

struct SkyFrame {
    QRender render;
    StarField field;
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(Width * Height, 0u);

    explicit SkyFrame(bool sky = true) {
        render.options.sky = sky;
        EXPECT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.focalScale = Focal / 1000.0;
        render.BuildLevelTable();
        render.starSky.field = &field;
    }

    // Stars whose centres project to (px, py) pixels from the projection centre; z below 0
    // puts a star behind the eye.
    struct Placed {
        double px, py, size, random, z;
    };
    void SetStars(const std::vector<Placed>& placed) {
        field.stars = PrivateAllocBlock<Star>(static_cast<std::uint32_t>(placed.size()));
        field.count = static_cast<std::int32_t>(placed.size());
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const Placed& p = placed[i];
            Star& s = field.stars.get()[i];
            // A direction scaled into the ball; a float direction projects within 1e-4 px.
            const double k = 0.5 / std::sqrt(p.px * p.px + p.py * p.py + Focal * Focal);
            s.x = static_cast<float>(p.px * k * (p.z < 0 ? -1 : 1));
            s.y = static_cast<float>(p.py * k * (p.z < 0 ? -1 : 1));
            s.z = static_cast<float>(Focal * k * (p.z < 0 ? -1 : 1));
            s.size = static_cast<float>(p.size);
            s.random = static_cast<float>(p.random);
            s.colour = 0xFFFFFF;
        }
    }

    // The star indices filed under pixel (x, y), chain order.
    std::vector<std::int32_t> Chain(std::int32_t x, std::int32_t y) const {
        std::vector<std::int32_t> out;
        const StarSky& sky = render.starSky;
        std::int32_t link = render.SkyBuffer()[y * sky.gridWidth + x];
        while (link >= 0) {
            EXPECT_LT(link, sky.entryCount);
            if (link >= sky.entryCount) break;
            out.push_back(sky.entries.get()[2 * link]);
            link = sky.entries.get()[2 * link + 1];
        }
        return out;
    }
};

std::int32_t RoundHalfAway(double v) { return static_cast<std::int32_t>(v < 0 ? v - 0.5 : v + 0.5); }

TEST(StarSky, EdgeStarsAreFiledOnlyInsideTheLevel) {
    // Squares that reach past the right edge, the bottom edge and the bottom-right corner.
    SkyFrame f;
    const double cx = Width / 2.0;
    const double cy = Height / 2.0;
    f.SetStars({{Width - 0.4 - cx, 10.0 - cy, 1.5, 0.5, 1},
                {20.2 - cx, Height - 0.3 - cy, 1.5, 0.5, 1},
                {Width - 0.2 - cx, Height - 0.2 - cy, 1.6, 0.5, 1}});
    PrepareStarBuffer(f.render);

    std::int32_t expectedEntries = 0;
    for (std::int32_t i = 0; i < f.field.count; ++i) {
        SCOPED_TRACE(i);
        const ProjectedStar& p = f.render.starSky.projected.get()[i];
        const std::int32_t c0 = std::max(RoundHalfAway(p.x - p.radius + cx), 0);
        const std::int32_t c1 = std::min(RoundHalfAway(p.x + p.radius + cx), Width - 1);
        const std::int32_t r0 = std::max(RoundHalfAway(p.y - p.radius + cy), 0);
        const std::int32_t r1 = std::min(RoundHalfAway(p.y + p.radius + cy), Height - 1);
        ASSERT_LE(c0, c1);
        ASSERT_LE(r0, r1);
        expectedEntries += (c1 - c0 + 1) * (r1 - r0 + 1);
        for (std::int32_t y = r0; y <= r1; ++y) {
            for (std::int32_t x = c0; x <= c1; ++x) {
                const auto chain = f.Chain(x, y);
                EXPECT_NE(std::find(chain.begin(), chain.end(), i), chain.end()) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(f.render.starSky.entryCount, expectedEntries);
    // A column one past the right edge would land at the start of the next row.
    for (std::int32_t y = 8; y <= 12; ++y) EXPECT_TRUE(f.Chain(0, y).empty()) << y;
}

TEST(StarSky, ProjectionSkipsStarsBehindAndCapsLargeOnes) {
    SkyFrame f;
    f.SetStars({{0.0, 0.0, 1.0, 0.25, -1},  // behind the eye
                {5.0, -3.0, 2.0, 0.5, 1},   // large: radius 1.7, brighter
                {5.0, -3.0, 1.0, 0.75, 1}});  // same pixel, later in the field
    PrepareStarBuffer(f.render);
    const ProjectedStar& big = f.render.starSky.projected.get()[1];
    EXPECT_FLOAT_EQ(big.radius, 1.7f);
    EXPECT_FLOAT_EQ(big.intensity, static_cast<float>(0.5 * 4.0 / 2.89));
    EXPECT_NEAR(big.x, 5.0, 1e-3);
    EXPECT_NEAR(big.y, -3.0, 1e-3);

    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            for (std::int32_t i : f.Chain(x, y)) EXPECT_NE(i, 0) << x << "," << y;
        }
    }
    const std::int32_t x = static_cast<std::int32_t>(5.0 + Width / 2.0);
    const std::int32_t y = static_cast<std::int32_t>(-3.0 + Height / 2.0);
    EXPECT_EQ(f.Chain(x, y), (std::vector<std::int32_t>{2, 1}));
}

TEST(StarSky, WithoutASkyBufferNothingIsProjected) {
    SkyFrame f(false);
    f.SetStars({{0.0, 0.0, 1.0, 0.5, 1}});
    PrepareStarBuffer(f.render);
    EXPECT_EQ(f.render.SkyBuffer(), nullptr);
    EXPECT_EQ(f.render.starSky.projected, nullptr);
    EXPECT_EQ(f.render.starSky.entryCount, 0);
}

TEST(StarSky, EntriesGrowAndARefusedGrowthKeepsTheChainsMadeSoFar) {
    // A hundred large stars over the frame file about 900 entries, past the first 300.
    std::vector<SkyFrame::Placed> placed;
    for (int i = 0; i < 100; ++i) {
        placed.push_back({(i % 10) * 6.0 - 28.0, (i / 10) * 4.5 - 21.0, 1.7, 0.5, 1});
    }
    SkyFrame f;
    f.SetStars(placed);
    PrepareStarBuffer(f.render);
    EXPECT_GT(f.render.starSky.entryCount, StarEntriesInitial);
    const std::int32_t full = f.render.starSky.entryCount;

    SkyFrame g;
    g.SetStars(placed);
    g.render.starSky.entries = PrivateAllocBlock<std::int32_t>(2 * StarEntriesInitial);
    g.render.starSky.entryCapacity = StarEntriesInitial;
    g.render.starSky.projected = PrivateAllocBlock<ProjectedStar>(100);
    g.render.starSky.projectedCount = 100;
    PrivateHeapRefuseNext(1);
    EXPECT_THROW(PrepareStarBuffer(g.render), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(g.render.starSky.entryCount, StarEntriesInitial);
    EXPECT_LT(g.render.starSky.entryCount, full);
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            for (std::int32_t i : g.Chain(x, y)) EXPECT_LT(i, 100);
        }
    }
}

TEST(StarSky, StarsBlendOverTheBackgroundOfAShadedFrame) {
    SkyFrame f;
    f.render.shade.isStars = true;
    f.render.shade.backgroundColour = 0x102030;
    f.SetStars({{4.5, 2.5, 1.5, 0.8, 1}, {Width / 2.0 - 0.5, Height / 2.0 - 0.5, 1.2, 1.0, 1}});
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);

    // The star's own pixel: d = 1 - (dx^2 + dy^2) / r^2 at the pixel's ray, a = round(i d^4
    // 16384), every channel (star a + background (16384 - a)) >> 14, then the dither.
    const std::int32_t x = 4 + Width / 2;
    const std::int32_t y = 2 + Height / 2;
    const ProjectedStar& p = f.render.starSky.projected.get()[0];
    const double dx = (x - Width / 2.0 + 0.5) - p.x;
    const double dy = (y - Height / 2.0 + 0.5) - p.y;
    const double d = 1.0 - (dx * dx + dy * dy) / (p.radius * p.radius);
    const std::int32_t a = RoundHalfAway(p.intensity * d * d * d * d * 16384.0);
    const std::uint32_t pixel = f.pixels[y * Width + x];
    const std::uint32_t background[3] = {0x10, 0x20, 0x30};
    for (int c = 0; c < 3; ++c) {
        const std::int64_t expected = (255 * 256 * a + background[c] * 256 * (16384 - a)) >> 14;
        const std::int64_t got = (pixel >> (16 - 8 * c)) & 0xFF;
        EXPECT_NEAR(got, expected >> 8, 1) << c;
    }
    EXPECT_GT((pixel >> 16) & 0xFF, 0x10u);
    // Far from both stars the background stays.
    EXPECT_EQ(f.pixels[5 * Width + 5] & 0xFFFFFF, 0x102030u);
    // The corner star's pixel is drawn over the last row and column without harm.
    EXPECT_NE(f.pixels[(Height - 1) * Width + Width - 1] & 0xFFFFFF, 0u);
}

}  // namespace
