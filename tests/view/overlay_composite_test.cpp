#include "view/overlay_composite.h"

#include "render/q_render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t Side = 8;

// A sized renderer over its own 8 x 8 pixels; cells set by hand.
struct Frame {
    Frame() : pixels(Side * Side, 0u) {
        EXPECT_EQ(render.SetSize(pixels.data(), Side, Side, Side, false), RenderSizeOk);
        render.BuildLevelTable();
    }
    void SetCell(std::int32_t x, std::int32_t y, std::int32_t part, std::int32_t depth) {
        SampleCell& cell = render.SampleBuffer(
            0)[static_cast<std::size_t>((y + 1) * render.Level().cellStride + x + 1)];
        cell.pixel = PixelIdOf(part, 0);
        cell.depth = depth;
    }
    std::uint32_t& Pixel(std::int32_t x, std::int32_t y) {
        return pixels[static_cast<std::size_t>(y * Side + x)];
    }
    std::vector<std::uint32_t> pixels;
    QRender render;
};

TEST(OverlayComposite, WeightsByAlphaAndDepth) {
    Frame back;
    Frame layer;
    std::vector<std::uint32_t> out(Side * Side, 0x12345678u);
    for (std::int32_t x = 0; x < Side; ++x) back.Pixel(x, 0) = 0x00102030u;

    struct Case {
        const char* name;
        std::uint32_t layerPixel;
        std::int32_t layerPart;  // -1: no layer surface
        std::int32_t layerDepth;
        std::int32_t backDepth;  // 0: no background surface
        std::uint32_t expected;
    };
    // t = alpha x factor; channel = ((65025 - t) back + t layer) >> 16.
    const auto blend = [](std::uint32_t t, std::uint32_t b, std::uint32_t l) {
        return ((65025u - t) * b + t * l) >> 16;
    };
    const auto expect = [&](std::uint32_t t, std::uint32_t layerPixel) {
        return 0xFF000000u | blend(t, 0x10, (layerPixel >> 16) & 0xFF) << 16 |
               blend(t, 0x20, (layerPixel >> 8) & 0xFF) << 8 | blend(t, 0x30, layerPixel & 0xFF);
    };
    const Case cases[] = {
        {"transparent layer pixel", 0x00FFFFFFu, 5, 100, 50, 0xFF102030u},
        {"no layer surface", 0xFFFFFFFFu, -1, 0, 50, 0xFF102030u},
        {"opaque in front", 0xFFFFFFFFu, 5, 100, 50, expect(255 * 255, 0xFFFFFFFFu)},
        {"opaque, no background surface", 0xFFFFFFFFu, 5, 100, 0, expect(255 * 255, 0xFFFFFFFFu)},
        {"light handle behind", 0xFFFFFFFFu, 5, 40, 50, expect(255 * 100, 0xFFFFFFFFu)},
        {"axis arrow behind", 0xFFFFFFFFu, 48, 40, 50, expect(255 * 128, 0xFFFFFFFFu)},
        {"half alpha in front", 0x80C08040u, 5, 100, 50, expect(128 * 255, 0x80C08040u)},
    };
    std::int32_t x = 0;
    for (const Case& c : cases) {
        layer.Pixel(x, 0) = c.layerPixel;
        if (c.layerPart >= 0) layer.SetCell(x, 0, c.layerPart, c.layerDepth);
        if (c.backDepth != 0) back.SetCell(x, 0, 1, c.backDepth);
        ++x;
    }
    const FrameRect rect = CompositeOverlayRect(out.data(), Side, back.render, Side, layer.render,
                                                false, FrameRect{0, 0, x, 1}, FrameRect{}, Side);
    EXPECT_EQ(rect, (FrameRect{0, 0, x, 1}));
    for (std::int32_t i = 0; i < x; ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(out[static_cast<std::size_t>(i)], cases[i].expected);
    }
    // An opaque white layer pixel in front gives 253, not 255.
    EXPECT_EQ(out[2], 0xFFFDFDFDu);
    // Nothing outside the rectangle was written.
    EXPECT_EQ(out[static_cast<std::size_t>(x)], 0x12345678u);
    EXPECT_EQ(out[Side], 0x12345678u);
}

TEST(OverlayComposite, RectanglesAreUnitedAndHeldToTheFrames) {
    Frame back;
    Frame layer;
    std::vector<std::uint32_t> out(Side * Side, 0x12345678u);
    // Both empty: nothing written, A returned.
    const FrameRect emptyA{3, 3, 3, 5};
    EXPECT_EQ(CompositeOverlayRect(out.data(), Side, back.render, Side, layer.render, false, emptyA,
                                   FrameRect{}, Side),
              emptyA);
    for (const std::uint32_t pixel : out) ASSERT_EQ(pixel, 0x12345678u);

    EXPECT_EQ(FrameRectUnion(FrameRect{1, 2, 3, 4}, FrameRect{2, 0, 6, 3}),
              (FrameRect{1, 0, 6, 4}));
    EXPECT_EQ(FrameRectUnion(FrameRect{}, FrameRect{2, 0, 6, 3}), (FrameRect{2, 0, 6, 3}));

    // A rectangle reaching past the frame composes only the frame's pixels.
    const FrameRect wide{-4, -4, 100, 100};
    EXPECT_EQ(CompositeOverlayRect(out.data(), Side, back.render, Side, layer.render, false, wide,
                                   FrameRect{}, Side),
              wide);
    for (const std::uint32_t pixel : out) ASSERT_EQ(pixel, 0xFF000000u);
}

}  // namespace
