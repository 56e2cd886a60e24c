#include "render/span_shade.h"

#include "render/cast_frame_pass.h"
#include "render/q_render.h"
#include "texture/tex_pyramid.h"

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

// The specular term (0..1, before the highlight strength) span shading gives pixel (x, y) of
// a frame cast with one black part of highlight strength 1, one white light and no ambient:
// its 8.8 channel is 65536 x the term.
double SpecularAt(QRender& render, std::int32_t x, std::int32_t y) {
    const RenderLevel& level = render.Level();
    const SampleCell cell = render.SampleBuffer(
        0)[static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(level.cellStride) +
           static_cast<std::size_t>(x + 1)];
    const double nx = (x - level.centreX + 0.5) / level.focal;
    const double ny = (y - level.centreY + 0.5) / level.focal;
    return ShadeSamplePoint(render, cell, nx, ny, x, y).value[0] / 65536.0;
}

// The lobe (s^2 / (s^2 + 1 - L . R))^2 of the sphere seen through the screen point (px, py)
// (pixels, not pixel centres), lit from light; 0 where the ray misses.
double ExactLobe(Vec3 centre, double r, Vec3 light, double s, double px, double py) {
    const Vec3 d{(px - Width / 2.0) / Focal, (py - Height / 2.0) / Focal, 1.0};
    const double a = d.x * d.x + d.y * d.y + d.z * d.z;
    const double b = -(d.x * centre.x + d.y * centre.y + d.z * centre.z);
    const double c = centre.x * centre.x + centre.y * centre.y + centre.z * centre.z - r * r;
    const double disc = b * b - a * c;
    if (disc < 0.0) return 0.0;
    const double t = (-b - std::sqrt(disc)) / a;
    const Vec3 p{d.x * t, d.y * t, d.z * t};
    const Vec3 n{(p.x - centre.x) / r, (p.y - centre.y) / r, (p.z - centre.z) / r};
    const double pl = std::sqrt(Vec3Dot(p, p));
    const Vec3 v{-p.x / pl, -p.y / pl, -p.z / pl};
    Vec3 l{light.x - p.x, light.y - p.y, light.z - p.z};
    const double ll = std::sqrt(Vec3Dot(l, l));
    l = Vec3{l.x / ll, l.y / ll, l.z / ll};
    const double vn = Vec3Dot(v, n);
    const Vec3 reflected{2.0 * vn * n.x - v.x, 2.0 * vn * n.y - v.y, 2.0 * vn * n.z - v.z};
    const double lobe = s * s / (s * s + 1.0 - Vec3Dot(l, reflected));
    return lobe * lobe;
}

// The weight b of the broadening bands for q.
double Bands(double q) { return q <= 0.4 ? 0.0 : q < 0.6 ? (q - 0.4) / 0.4 : 0.5; }

// What a Gaussian footprint of b pixels^2 about pixel (x, y)'s centre sees of the exact lobe,
// by brute force: the sphere's curvature 1 / r at the centre's hit gives q and b; b = 0 is
// the lobe at the centre.
double FootprintLobe(Vec3 centre, double r, Vec3 light, double s, std::int32_t x, std::int32_t y,
                     double& bandWeight) {
    Vec3 p;
    if (!SphereHit(centre, r, x, y, p)) return 0.0;
    const double pl = std::sqrt(Vec3Dot(p, p));
    const double vn =
        -((p.x - centre.x) * p.x + (p.y - centre.y) * p.y + (p.z - centre.z) * p.z) / (r * pl);
    bandWeight = Bands(p.z / (r * Focal * s * vn));
    const double cx = x + 0.5, cy = y + 0.5;
    if (bandWeight == 0.0) return ExactLobe(centre, r, light, s, cx, cy);
    const double sd = std::sqrt(bandWeight);
    double sum = 0.0, weights = 0.0;
    for (double i = -4.0; i <= 4.0; i += 0.05) {
        for (double j = -4.0; j <= 4.0; j += 0.05) {
            const double w = std::exp(-(i * i + j * j) / 2.0);
            sum += w * ExactLobe(centre, r, light, s, cx + i * sd, cy + j * sd);
            weights += w;
        }
    }
    return sum / weights;
}

TEST(SpanShade, CurvatureBroadensHighlightsTowardsTheFootprintAverage) {
    // A black sphere of radius 4, 20 before the eye, lit by a far light. With the switch the
    // pixels near its highlight show the lobe averaged over a Gaussian footprint whose variance
    // (in pixels^2) follows the bands of q = (1 / r) z / (focal s |V . N|), against a
    // brute-force average of the exact lobe over that footprint: the small highlights (b = 0.5
    // there) and the middle band come much nearer to it than the pixel centres alone, the
    // highlight keeps most of its energy, and a large highlight (q below 0.4) is unchanged.
    const Vec3 centre{0.0, 0.0, 20.0};
    const double r = 4.0;
    const Vec3 light{-3e5, -4e5, -6e5};
    for (const double size : {0.04, 0.08, 0.15, 0.4}) {
        SCOPED_TRACE(size);
        Frame plain;
        Frame broad;
        broad.render.shade.isCurvatureHighlights = true;
        for (Frame* f : {&plain, &broad}) {
            f->AddSphere(centre, r, 0x000000);
            f->render.parts.Part(0).highlightSize = size;
            f->render.parts.Part(0).highlightStrength = 1.0;
            f->SetLight(0, light, 1.0);
            ASSERT_EQ(RenderCastFrame(f->render), CastDone);
        }
        // The highlight's pixel: N halfway between the eye and the light.
        std::int32_t peakX = 0, peakY = 0;
        double peak = -1.0;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const double lobe = ExactLobe(centre, r, light, 0.4, x + 0.5, y + 0.5);
                if (lobe > peak) peak = lobe, peakX = x, peakY = y;
            }
        }
        double broadSum = 0.0, exactSum = 0.0, broadError = 0.0, plainError = 0.0;
        bool isBroadened = false;
        for (std::int32_t y = peakY - 4; y <= peakY + 4; ++y) {
            for (std::int32_t x = peakX - 4; x <= peakX + 4; ++x) {
                SCOPED_TRACE(testing::Message() << x << ", " << y);
                double b = 0.0;
                const double expected = FootprintLobe(centre, r, light, size, x, y, b);
                const double seen = SpecularAt(broad.render, x, y);
                const double centred = SpecularAt(plain.render, x, y);
                EXPECT_NEAR(seen, expected, 0.5 * expected + 0.01) << "b " << b;
                if (b == 0.0) {
                    EXPECT_NEAR(seen, centred, 1e-3);
                } else if (x == peakX && y == peakY) {
                    isBroadened = true;
                }
                broadError = std::max(broadError, std::fabs(seen - expected));
                plainError = std::max(plainError, std::fabs(centred - expected));
                broadSum += seen;
                exactSum += expected;
            }
        }
        EXPECT_NEAR(broadSum, exactSum, 0.2 * exactSum);
        EXPECT_EQ(isBroadened, size < 0.2);
        if (isBroadened) {
            EXPECT_LT(broadError, 0.5 * plainError);
        }
    }
}

TEST(SpanShade, BumpMappedPartsKeepThePlainHighlight) {
    // A textured sphere whose image has a flat height map: with a bump amount it is
    // bump-mapped (its normals untilted) and its small highlight stays as the pixel centres
    // see it; without one the same highlight is broadened.
    std::vector<std::uint32_t> image(64, 0xFFFFFFFFu);
    std::vector<std::uint8_t> heights(64, 128);
    TexPyramid pyramid;
    ASSERT_EQ(TexPyramidSetImage(pyramid, image.data(), 8, 8, 8, false), 0);
    ASSERT_EQ(TexPyramidSetMap(pyramid, heights.data(), 8), 0);
    const Vec3 centre{0.0, 0.0, 20.0};
    for (const std::int32_t amount : {100, 0}) {
        SCOPED_TRACE(amount);
        Frame plain;
        Frame broad;
        broad.render.shade.isCurvatureHighlights = true;
        for (Frame* f : {&plain, &broad}) {
            f->AddSphere(centre, 4.0, 0x000000);
            f->render.parts.Part(0).highlightSize = 0.04;
            f->render.parts.Part(0).highlightStrength = 1.0;
            f->SetLight(0, Vec3{-3e5, -4e5, -6e5}, 1.0);
            f->render.partTextures.parts.assign(1, PartTexture{});
            PartTexture& t = f->render.partTextures.parts[0];
            t.pyramid = &pyramid;
            t.partFromView = ToWFirstMatrix(MakeIdentity());
            t.bumpAmount = amount;
            ASSERT_EQ(RenderShadedFrame(f->render), CastDone);
        }
        std::int32_t differing = 0;
        for (std::size_t i = 0; i < plain.pixels.size(); ++i) {
            if (plain.pixels[i] != broad.pixels[i]) ++differing;
        }
        if (amount != 0) {
            EXPECT_EQ(differing, 0);
        } else {
            EXPECT_GT(differing, 4);
        }
    }
}

}  // namespace
