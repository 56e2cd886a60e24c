#include "render/span_shade.h"

#include "render/cast_frame_pass.h"
#include "render/q_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t Width = 64;
constexpr std::int32_t Height = 48;
constexpr double Focal = 60.0;

// The sphere |p - centre| <= r as a view-space form over (1, x, y, z).
Matrix4W SphereForm(Vec3 centre, double r) {
    Matrix4W q;
    q.m[0] = centre.x * centre.x + centre.y * centre.y + centre.z * centre.z - r * r;
    q.m[1] = q.m[4] = -centre.x;
    q.m[2] = q.m[8] = -centre.y;
    q.m[3] = q.m[12] = -centre.z;
    q.m[5] = q.m[10] = q.m[15] = 1.0;
    return q;
}

struct Frame {
    QRender render;
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(Width * Height, 0xDEADBEEFu);

    Frame() {
        EXPECT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.focalScale = Focal / 1000.0;
        render.SetLightCounts(1, 0);
    }

    void AddSphere(Vec3 centre, double r, std::uint32_t colour) {
        const std::int32_t index = render.parts.AddPart(1);
        const Matrix4W form = SphereForm(centre, r);
        render.parts.SetViewForms(index, {&form, 1}, form);
        render.parts.Part(index).colour = colour;
    }

    void SetLight(std::int32_t i, Vec3 position, double intensity) {
        RenderLightSlot& slot = render.LightSlot(i);
        slot.enabled = 1;
        slot.position = position;
        RenderLightSlotSetColours(slot, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, intensity);
    }

    std::uint32_t At(std::int32_t x, std::int32_t y) const { return pixels[y * Width + x]; }
};

// The ray through pixel (x, y)'s centre meets the sphere at its nearer root; empty when it
// misses.
bool SphereHit(Vec3 centre, double r, std::int32_t x, std::int32_t y, Vec3& point) {
    const Vec3 d{(x - Width / 2.0 + 0.5) / Focal, (y - Height / 2.0 + 0.5) / Focal, 1.0};
    const double a = d.x * d.x + d.y * d.y + d.z * d.z;
    const double b = -(d.x * centre.x + d.y * centre.y + d.z * centre.z);
    const double c = centre.x * centre.x + centre.y * centre.y + centre.z * centre.z - r * r;
    const double disc = b * b - a * c;
    if (disc < 0.0) return false;
    const double t = (-b - std::sqrt(disc)) / a;
    point = Vec3{d.x * t, d.y * t, d.z * t};
    return true;
}

TEST(SpanShade, DiffuseWhiteSphereFollowsNDotL) {
    Frame f;
    const Vec3 centre{0.0, 0.0, 10.0};
    const double r = 3.0;
    f.AddSphere(centre, r, 0xFFFFFF);
    const Vec3 light{-20.0, -30.0, -10.0};
    f.SetLight(0, light, 1.0);
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);

    std::int32_t interior = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            SCOPED_TRACE(testing::Message() << x << ", " << y);
            Vec3 p;
            const std::uint32_t pixel = f.At(x, y);
            if (!SphereHit(centre, r, x, y, p)) {
                EXPECT_EQ(pixel >> 24, 0u);
                continue;
            }
            // Pixels whose ray grazes the rim may be cast either way; judge the interior.
            Vec3 n{(p.x - centre.x) / r, (p.y - centre.y) / r, (p.z - centre.z) / r};
            Vec3 l{light.x - p.x, light.y - p.y, light.z - p.z};
            const double length = std::sqrt(l.x * l.x + l.y * l.y + l.z * l.z);
            const double nl = std::max(0.0, (n.x * l.x + n.y * l.y + n.z * l.z) / length);
            const double toEye = -(n.x * p.x + n.y * p.y + n.z * p.z) /
                                 std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
            if (toEye < 0.2) continue;
            ++interior;
            const int expected = static_cast<int>(std::lround(255.0 * nl));
            EXPECT_EQ(pixel >> 24, 0xFFu);
            for (int shift : {16, 8, 0}) {
                EXPECT_NEAR(static_cast<int>((pixel >> shift) & 0xFF), expected, 1) << shift;
            }
        }
    }
    EXPECT_GT(interior, 300);
}

TEST(SpanShade, HeadOnWhiteIsExactlyWhiteAndAmbientAlone) {
    Frame f;
    f.AddSphere(Vec3{0.0, 0.0, 10.0}, 3.0, 0xFFFFFF);
    // A light far behind the eye on the axis: the centre pixel is lit at n = 1 (nearly).
    f.SetLight(0, Vec3{0.0, 0.0, -1e7}, 1.0);
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);
    EXPECT_EQ(f.At(Width / 2, Height / 2), 0xFFFFFFFFu);

    // With the light off and a grey ambient of 0.25 along the view axis: at the centre
    // N . U = +-1, so the factor is 2048 and the channel 255 x 0.25 x 2.
    Frame g;
    g.AddSphere(Vec3{0.0, 0.0, 10.0}, 3.0, 0xFFFFFF);
    g.render.SetLightCounts(0, 0);
    g.render.shade.ambient = {255, 255, 255};
    g.render.shade.ambientDirection = Vec3{0.0, 0.0, 1.0};
    ASSERT_EQ(RenderShadedFrame(g.render), CastDone);
    const std::uint32_t centre = g.At(Width / 2, Height / 2);
    EXPECT_NEAR(static_cast<int>(centre & 0xFF), 127, 1);
}

TEST(SpanShade, LightRangeAndFalloff) {
    // A light 57 from the sphere's front point, on the axis: head-on there.
    struct Case {
        double range;
        int expected;  // 255 x (1 - 57 / range), the falloff k (1 - x) x^-e with k 1, e 0
    };
    const Case cases[] = {{57.0, 0}, {50.0, 0}, {100.0, 110}, {1000.0, 240}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        Frame f;
        f.AddSphere(Vec3{0.0, 0.0, 10.0}, 3.0, 0xFFFFFF);
        f.SetLight(0, Vec3{0.0, 0.0, -50.0}, 1.0);
        RenderLightSlot& light = f.render.LightSlot(0);
        light.hasRange = true;
        light.range = c.range;
        light.falloffExponent = 0.0;
        light.falloffFactor = 1.0;
        ASSERT_EQ(RenderShadedFrame(f.render), CastDone);
        const std::uint32_t centre = f.At(Width / 2, Height / 2);
        EXPECT_EQ(centre >> 24, 0xFFu);
        EXPECT_NEAR(static_cast<int>(centre & 0xFF), c.expected, 2);
    }
}

TEST(SpanShade, BackgroundFlatFoggedOrStored) {
    Frame f;
    f.render.shade.backgroundColour = 0x336699;
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);
    for (const std::uint32_t pixel : f.pixels) ASSERT_EQ(pixel, 0x00336699u);

    // Fog reaching the background: a far depth cue gives the fog colour, opaque.
    f.render.shade.isFogOn = true;
    f.render.shade.isFogOnBackground = true;
    f.render.shade.fogColour = 0xC08040;
    f.render.shade.nearDepth = 1.0;
    f.render.shade.farDepth = 2.0;
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);
    for (const std::uint32_t pixel : f.pixels) ASSERT_EQ(pixel, 0xFFC08040u);

    // The sky: the horizon colour across the middle of the frame, rows further up and down
    // towards the zenith colour alike.
    f.render.shade.isFogOn = false;
    f.render.shade.isSky = true;
    f.render.shade.isSkyGradient = true;
    f.render.shade.horizonColour = 0x102030;
    f.render.shade.zenithColour = 0xF0E0D0;
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);
    const std::uint32_t middle = f.At(Width / 2, Height / 2 - 1);
    EXPECT_EQ(middle >> 24, 0u);
    EXPECT_NEAR(static_cast<int>((middle >> 16) & 0xFF), 0x10, 1);
    EXPECT_NEAR(static_cast<int>((middle >> 8) & 0xFF), 0x20, 1);
    EXPECT_NEAR(static_cast<int>(middle & 0xFF), 0x30, 1);
    EXPECT_GT(f.At(Width / 2, 0) & 0xFF, 0x30u);
    EXPECT_NEAR(static_cast<int>(f.At(Width / 2, 0) & 0xFF),
                static_cast<int>(f.At(Width / 2, Height - 1) & 0xFF), 1);

    // An unshaded background writes the stored word.
    f.render.shade.isShadedBackground = false;
    f.render.shade.backgroundWord = 0x80102030;
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);
    for (const std::uint32_t pixel : f.pixels) ASSERT_EQ(pixel, 0x80102030u);
}

TEST(SpanShade, DitherCarriesTheRemainder) {
    // A flat style with fog at the halfway weight gives every pixel the same 8.8 value; a
    // value with the fraction 0.5 alternates between two neighbours, keeping the mean.
    Frame f;
    f.AddSphere(Vec3{0.0, 0.0, 10.0}, 30.0, 0x000000);
    f.render.shade.drawStyle = 2;
    f.render.shade.isFogOn = true;
    f.render.shade.fogColour = 0x010101;
    // Every pixel sees the inside of the sphere: the eye is inside, the frame black.
    EXPECT_EQ(RenderShadedFrame(f.render), CastEyeInside);
    for (const std::uint32_t pixel : f.pixels) ASSERT_EQ(pixel, 0xFF000000u);

    Frame g;
    const Vec3 centre{0.0, 0.0, 10.0};
    g.AddSphere(centre, 3.0, 0x000000);
    g.render.shade.drawStyle = 2;
    g.render.shade.isFogOn = true;
    g.render.shade.fogColour = 0x030303;
    // A depth cue that is 1/2 everywhere on the sphere: the channel is 1.5 (8.8: 384).
    g.render.shade.nearDepth = -1e9;
    g.render.shade.farDepth = 1e9;
    ASSERT_EQ(RenderShadedFrame(g.render), CastDone);
    std::int64_t sum = 0;
    std::int32_t count = 0;
    for (const std::uint32_t pixel : g.pixels) {
        if ((pixel >> 24) != 0xFF) continue;
        const int v = static_cast<int>(pixel & 0xFF);
        ASSERT_TRUE(v == 1 || v == 2) << v;
        sum += v;
        ++count;
    }
    ASSERT_GT(count, 100);
    EXPECT_NEAR(static_cast<double>(sum) / count, 1.5, 1.0 / count + 1e-9);
}

TEST(SpanShade, TwoRunsGiveTheSameFrame) {
    std::vector<std::uint32_t> first;
    for (int run = 0; run < 2; ++run) {
        Frame f;
        f.AddSphere(Vec3{-1.0, 0.5, 10.0}, 3.0, 0xFF8040);
        f.AddSphere(Vec3{2.0, -1.0, 12.0}, 3.0, 0x40FF80);
        f.SetLight(0, Vec3{-20.0, -30.0, -10.0}, 0.8);
        f.render.LightSlot(0).hasRange = false;
        ASSERT_EQ(RenderShadedFrame(f.render), CastDone);
        if (run == 0) {
            first = f.pixels;
        } else {
            EXPECT_EQ(f.pixels, first);
        }
    }
}

}  // namespace
