#include "render/quick_shade.h"

#include "core/lcg_random.h"
#include "render/q_render.h"
#include "render/render_parts.h"
#include "render/span_region.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t Width = 16;
constexpr std::int32_t Height = 12;

struct Frame {
    Frame()
        : pixels(static_cast<std::size_t>(Width * Height), 0x12345678u),
          ids(static_cast<std::size_t>(Width * Height), 0u) {
        EXPECT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.focalScale = 0.02;
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.BuildLevelTable();
        for (std::int32_t i = 0; i < 4; ++i) {
            render.parts.AddPart(1);
            const Matrix4W form = quadric_parts::SphereForm(Vec3{0.0, 0.0, 10.0 + i}, 1.0);
            render.parts.SetViewForms(i, {&form, 1}, form);
        }
    }
    void SetId(std::int32_t x, std::int32_t y, std::uint32_t word) {
        ids[static_cast<std::size_t>(y * Width + x)] = word;
        render
            .SampleBuffer(0)[static_cast<std::size_t>((y + 1) * render.Level().cellStride + x + 1)]
            .pixel = word;
    }
    std::uint32_t Id(std::int32_t x, std::int32_t y) const {
        if (x < 0 || y < 0 || x >= Width || y >= Height) return 0;
        return ids[static_cast<std::size_t>(y * Width + x)] & PixelIdMask;
    }
    void ShadeAll(std::vector<FlatPartColours>& colours) {
        RegionSetRect(region, 0, 0, Width, Height);
        QuickShadeRegion(render, region, false, colours);
    }
    std::vector<std::uint32_t> pixels;
    std::vector<std::uint32_t> ids;
    QRender render;
    SpanRegion region;
};

// Random ids (parts 0..3, surfaces 0..1, some with mark bits; a quarter background): every
// pixel follows the rule, checked against the test's own copy of the ids.
TEST(QuickShade, IdImageFollowsTheNeighbourRule) {
    Frame frame;
    frame.render.parts.Part(2).isSelected = 1;
    std::uint32_t state = 99;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            state = LcgNext(state);
            const std::int32_t part = static_cast<std::int32_t>((state >> 20) % 5) - 1;
            const std::uint32_t marks = (state >> 8) & 1 ? PixelSelected : 0u;
            frame.SetId(x, y, part < 0 ? 0u : PixelIdOf(part, (state >> 12) & 1) | marks);
        }
    }
    std::vector<FlatPartColours> colours;
    frame.ShadeAll(colours);
    const std::uint32_t fill = frame.render.colourWords[0] | 0xFF000000u;
    const std::uint32_t selectedFill = frame.render.colourWords[3] | 0xFF000000u;
    const std::uint32_t edge = frame.render.colourWords[2] | 0xFF000000u;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            SCOPED_TRACE(testing::Message() << x << ", " << y);
            const std::uint32_t id = frame.Id(x, y);
            std::uint32_t expected = frame.render.colourWords[1];
            if (id != 0) {
                const bool isEdge = frame.Id(x + 1, y) < id || frame.Id(x - 1, y) < id ||
                                    frame.Id(x, y + 1) < id || frame.Id(x, y - 1) < id;
                expected = isEdge ? edge : (PixelPartIndex(id) == 2 ? selectedFill : fill);
            }
            EXPECT_EQ(frame.pixels[static_cast<std::size_t>(y * Width + x)], expected);
        }
    }
    // The background is transparent.
    EXPECT_EQ(frame.render.colourWords[1] >> 24, 0u);
}

TEST(QuickShade, ThinPartBetweenLargerIdsIsEdgeAndColoursAreKept) {
    Frame frame;
    // Part 3 everywhere, a one-pixel column of part 0 at x = 5.
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) frame.SetId(x, y, PixelIdOf(x == 5 ? 0 : 3, 0));
    }
    std::vector<FlatPartColours> colours;
    frame.ShadeAll(colours);
    const std::uint32_t edge = frame.render.colourWords[2] | 0xFF000000u;
    const std::uint32_t fill = frame.render.colourWords[0] | 0xFF000000u;
    EXPECT_EQ(frame.pixels[static_cast<std::size_t>(4 * Width + 5)], fill);  // smaller id
    EXPECT_EQ(frame.pixels[static_cast<std::size_t>(4 * Width + 4)], edge);  // beside it
    EXPECT_EQ(frame.pixels[static_cast<std::size_t>(4 * Width + 6)], edge);
    EXPECT_EQ(frame.pixels[static_cast<std::size_t>(4 * Width + 8)], fill);
    EXPECT_EQ(frame.pixels[0], edge);  // the frame's border counts as background
    ASSERT_EQ(colours.size(), 4u);
    EXPECT_EQ(colours[3].fill, fill);
    EXPECT_EQ(colours[1].fill, FlatColoursPending);  // never seen

    // A second pass keeps the computed colours: a changed fill word does not reach part 3.
    frame.render.colourWords[0] = 0xFF010203u;
    frame.ShadeAll(colours);
    EXPECT_EQ(frame.pixels[static_cast<std::size_t>(4 * Width + 8)], fill);
}

TEST(QuickShade, DepthCueBlendsTowardsTheFog) {
    Frame frame;
    frame.render.shade.isFogOn = true;
    frame.render.shade.fogColour = 0x00204060u;
    frame.render.shade.nearDepth = 1.0;
    frame.render.shade.farDepth = 5.0;  // every part lies beyond: all fog
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) frame.SetId(x, y, PixelIdOf(1, 0));
    }
    std::vector<FlatPartColours> colours;
    frame.ShadeAll(colours);
    EXPECT_EQ(frame.pixels[static_cast<std::size_t>(5 * Width + 5)], 0xFF204060u);
    EXPECT_EQ(frame.pixels[0], 0xFF204060u);
}

TEST(QuickShade, TheBackgroundLiesOverTheBackgroundImage) {
    // A part in the middle columns, background either side; an image whose channels run
    // from far below to far above 128.
    std::vector<std::uint32_t> image(static_cast<std::size_t>(Width * Height));
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            image[static_cast<std::size_t>(y * Width + x)] =
                static_cast<std::uint32_t>(x * 16) << 16 | static_cast<std::uint32_t>(y * 20) << 8 |
                static_cast<std::uint32_t>(255 - x * 16);
        }
    }
    for (const std::uint8_t mode : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "mode " << int{mode});
        Frame frame;
        frame.render.colourWords[1] = 0x00406080u;
        frame.render.shade.backgroundMode = mode;
        frame.render.shade.backgroundImage = image.data();
        frame.render.shade.backgroundImageStride = Width;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                frame.SetId(x, y, x >= 6 && x < 10 ? PixelIdOf(1, 0) : 0u);
            }
        }
        std::vector<FlatPartColours> colours;
        frame.ShadeAll(colours);
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                SCOPED_TRACE(testing::Message() << x << ", " << y);
                const std::uint32_t got = frame.pixels[static_cast<std::size_t>(y * Width + x)];
                if (frame.Id(x, y) != 0) {
                    EXPECT_EQ(got >> 24, 255u);
                    continue;
                }
                std::uint32_t expected = frame.render.colourWords[1];
                if (mode != 0) {
                    expected = 0;
                    const std::uint32_t under = image[static_cast<std::size_t>(y * Width + x)];
                    for (const int shift : {0, 8, 16}) {
                        const int c = static_cast<int>((0x00406080u >> shift) & 0xFF) +
                                      static_cast<int>((under >> shift) & 0xFF) - 128;
                        expected |= static_cast<std::uint32_t>(std::clamp(c, 0, 255)) << shift;
                    }
                }
                EXPECT_EQ(got, expected);
            }
        }
    }
}

}  // namespace
