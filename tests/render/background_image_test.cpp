// A picture laid over a background image: a part's straight edge at a sub-pixel offset, whose
// coverage follows from the kernel analytically, composited over a known image pixel by
// pixel; and the background-mode byte keeping fog off the background.

#include "render/background_shade.h"
#include "render/q_render.h"
#include "render/span_region.h"
#include "render/span_shade.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using quadric_parts::EllipsoidForm;
using quadric_parts::PlaneForm;

constexpr std::int32_t Width = 40;
constexpr std::int32_t Height = 24;
constexpr double Focal = 400.0;
constexpr std::uint32_t BackgroundColour = 0x406080;
constexpr std::uint32_t PartColour = 0xFFFFFF;

// A renderer with the pixel pass on, no lights and full ambient light, so that a part facing
// the eye shows its own colour; a box whose right edge is seen at column edgeColumn.
struct EdgeOverImage {
    explicit EdgeOverImage(double edgeColumn) : pixels(Width * Height, 0u) {
        EXPECT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.focalScale = Focal / 1000.0;
        render.SetLightCounts(0, 0);
        render.shade.backgroundColour = BackgroundColour;
        render.shade.ambient = {1020, 1020, 1020};
        render.edges.isRefined = true;
        const double near = 10.0;
        const double right = (edgeColumn - render.centreX) * near / Focal;
        const std::array<Matrix4W, 6> planes{
            PlaneForm({0, 0, -1}, -near), PlaneForm({0, 0, 1}, near + 10.0),
            PlaneForm({1, 0, 0}, right),  PlaneForm({-1, 0, 0}, 50),
            PlaneForm({0, 1, 0}, 50),     PlaneForm({0, -1, 0}, 50)};
        const std::int32_t index = render.parts.AddPart(6);
        render.parts.SetViewForms(index, planes, EllipsoidForm({0, 0, near + 5}, {200, 200, 200}));
        render.parts.Part(index).colour = PartColour;
    }

    std::uint32_t Pixel(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y * Width + x)];
    }

    std::vector<std::uint32_t> pixels;
    QRender render;
};

// An image whose channels vary from pixel to pixel, some far enough from 128 to clamp.
std::uint32_t ImageWord(std::int32_t x, std::int32_t y) {
    const auto r = static_cast<std::uint32_t>((x * 37 + y * 11) % 256);
    const auto g = static_cast<std::uint32_t>((x * 5 + y * 53 + 90) % 256);
    const auto b = static_cast<std::uint32_t>(128 + ((x + y) % 7) - 3);
    return r << 16 | g << 8 | b;
}

double Channel(std::uint32_t word, int shift) {
    return static_cast<double>((word >> shift) & 0xFF);
}

TEST(BackgroundImage, StraightEdgeIsLaidOverTheImageByItsCoverage) {
    // The part's coverage of a pixel whose centre lies s inside its edge is
    // 0.5 + W(s / 0.9), W(u) = 0.75 u - 0.25 u^3 (0 and 1 beyond the filter radius).
    const auto coverage = [](double s) {
        const double u = std::clamp(s / 0.9, -1.0, 1.0);
        return 0.5 + 0.75 * u - 0.25 * u * u * u;
    };
    std::vector<std::uint32_t> image(static_cast<std::size_t>(Width * Height));
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x)
            image[static_cast<std::size_t>(y * Width + x)] = ImageWord(x, y);
    }
    for (const double offset : {0.0, 0.2, 0.45, 0.7}) {
        SCOPED_TRACE("offset " + std::to_string(offset));
        const double edge = 20.5 + offset;
        EdgeOverImage frame(edge);
        frame.render.shade.backgroundMode = 1;
        frame.render.shade.backgroundImage = image.data();
        frame.render.shade.backgroundImageStride = Width;
        RenderShadedFrame(frame.render);
        // The part's own colour, from a pixel it covers whole.
        const std::uint32_t part = frame.Pixel(10, 12);
        EXPECT_EQ(part >> 24, 255u);
        for (std::int32_t y = 4; y < 20; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const double c = coverage(edge - (x + 0.5));
                const std::uint32_t got = frame.Pixel(x, y);
                EXPECT_EQ(got >> 24, static_cast<std::uint32_t>(std::lround(255 * c)))
                    << x << ", " << y;
                for (const int shift : {0, 8, 16}) {
                    const double under = std::clamp(
                        Channel(BackgroundColour, shift) + Channel(ImageWord(x, y), shift) - 128.0,
                        0.0, 255.0);
                    // Where the background shows whole the image channel is clamped first;
                    // a boundary pixel mixes the unclamped background with the part.
                    const double mixed =
                        c == 0.0
                            ? under
                            : std::clamp(c * Channel(part, shift) +
                                             (1.0 - c) * (Channel(BackgroundColour, shift) +
                                                          Channel(ImageWord(x, y), shift) - 128.0),
                                         0.0, 255.0);
                    EXPECT_NEAR(Channel(got, shift), mixed, 1.0)
                        << x << ", " << y << " shift " << shift;
                }
            }
        }
    }
}

TEST(BackgroundImage, NeutralImageOrNoModeLeavesThePictureAsItWas) {
    EdgeOverImage plain(20.8);
    RenderShadedFrame(plain.render);
    const std::vector<std::uint32_t> grey(static_cast<std::size_t>(Width * Height), 0x808080u);
    std::vector<std::uint32_t> bright(static_cast<std::size_t>(Width * Height), 0xFFFFFFu);

    EdgeOverImage neutral(20.8);
    neutral.render.shade.backgroundMode = 1;
    neutral.render.shade.backgroundImage = grey.data();
    neutral.render.shade.backgroundImageStride = Width;
    RenderShadedFrame(neutral.render);
    EXPECT_EQ(neutral.pixels, plain.pixels);

    // An image given while the background-mode byte is clear is not read.
    EdgeOverImage unused(20.8);
    unused.render.shade.backgroundImage = bright.data();
    unused.render.shade.backgroundImageStride = Width;
    RenderShadedFrame(unused.render);
    EXPECT_EQ(unused.pixels, plain.pixels);
}

TEST(BackgroundImage, ReducedLevelsReadTheImageWhereTheirPixelsLie) {
    // Level 1's pixel x stands for full-size pixel 2 (x - 2), level 2's for 4 (x - 3).
    ShadeSettings settings;
    std::vector<std::uint32_t> image(static_cast<std::size_t>(Width * Height));
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint32_t>(i);
    settings.backgroundImage = image.data();
    settings.backgroundImageStride = Width;
    EXPECT_EQ(BackgroundImageWord(settings, 0, 3, 4, Width, Height), nullptr);
    settings.backgroundMode = 1;
    const auto at = [&](std::int32_t level, std::int32_t x, std::int32_t y) {
        return *BackgroundImageWord(settings, level, x, y, Width, Height);
    };
    EXPECT_EQ(at(0, 3, 4), static_cast<std::uint32_t>(4 * Width + 3));
    EXPECT_EQ(at(1, 5, 7), static_cast<std::uint32_t>(10 * Width + 6));
    EXPECT_EQ(at(2, 7, 5), static_cast<std::uint32_t>(8 * Width + 16));
    // The margin and beyond the frame hold to its edge.
    EXPECT_EQ(at(1, 0, 0), 0u);
    EXPECT_EQ(at(1, 30, 20), static_cast<std::uint32_t>(Height * Width - 1));
}

TEST(BackgroundImage, BackgroundModeKeepsFogOffTheBackground) {
    for (const std::uint8_t mode : {0, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        EdgeOverImage frame(20.5);
        frame.render.shade.isFogOn = true;
        frame.render.shade.isFogOnBackground = true;
        frame.render.shade.fogColour = 0xFF0000;
        frame.render.shade.nearDepth = 1.0;
        frame.render.shade.farDepth = 2.0;
        frame.render.shade.backgroundMode = mode;
        RenderShadedFrame(frame.render);
        const std::uint32_t background = frame.Pixel(35, 12);
        if (mode == 0) {
            // The background lies beyond the far depth: all fog, opaque.
            EXPECT_EQ(background, 0xFFFF0000u);
        } else {
            EXPECT_EQ(background, BackgroundColour);
        }
    }
}

}  // namespace

namespace {

// With the alternate-buffer flag span shading reads the first backup's cells and writes the
// backup's frame, leaving the output alone; here with the background image over it.
TEST(BackgroundImage, AlternateBuffersShadeTheBackupFrame) {
    EdgeOverImage frame(20.5);
    RenderShadedFrame(frame.render);
    ASSERT_EQ(frame.render.AllocAuxBuffers(), 0);
    const std::vector<std::uint32_t> shown = frame.pixels;
    const PassBuffers backup = frame.render.PassBuffersFor(true);
    ASSERT_NE(backup.cells, nullptr);
    ASSERT_NE(backup.out, nullptr);
    EXPECT_EQ(backup.cells, frame.render.SampleBuffer(1));
    EXPECT_EQ(frame.render.PassBuffersFor(false).out, frame.pixels.data());

    const std::vector<std::uint32_t> image(static_cast<std::size_t>(Width * Height), 0x90A0B0u);
    frame.render.shade.backgroundMode = 1;
    frame.render.shade.backgroundImage = image.data();
    frame.render.shade.backgroundImageStride = Width;
    SpanRegion all;
    RegionSetRect(all, 0, 0, Width, Height);
    ShadeObjectSpans(frame.render, all, true);
    EXPECT_EQ(frame.pixels, shown);
    // The background pixels of the backup now lie over the image; the part's stay.
    const std::uint32_t expected = OverBackgroundImage(BackgroundColour, 0x90A0B0u);
    EXPECT_EQ(expected, 0x5080B0u);
    EXPECT_EQ(backup.out[12 * backup.stride + 35], expected);
    EXPECT_EQ(backup.out[12 * backup.stride + 5] >> 24, 255u);
    EXPECT_NEAR(Channel(backup.out[12 * backup.stride + 5], 8), Channel(shown[12 * Width + 5], 8),
                1.0);
}

}  // namespace
