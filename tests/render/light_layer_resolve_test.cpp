// The light layer resolve against colours summed channel by channel.

#include "render/light_layer_resolve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// One pixel (x = 1 of a 4 x 3 frame, row 1) with a base and two shadow lights.
struct LayerPixel {
    static constexpr std::int32_t W = 4;
    static constexpr std::int32_t H = 3;
    static constexpr std::size_t Plane = W * H;

    LayerPixel() : cells((W + 2) * (H + 2)), frame(Plane, 0x5A010203u), layers(3 * Plane) {}

    std::uint32_t Resolve(std::uint32_t pixelWord, std::uint32_t lightMask,
                          std::array<std::int32_t, 3> base, std::array<std::int32_t, 3> light0,
                          std::array<std::int32_t, 3> light1) {
        SampleCell& cell = cells[2 * (W + 2) + 2];
        cell.pixel = pixelWord;
        cell.lightMask = lightMask;
        layers[At] = LayerWordOf(base[0], base[1], base[2]);
        layers[Plane + At] = LayerWordOf(light0[0], light0[1], light0[2]);
        layers[2 * Plane + At] = LayerWordOf(light1[0], light1[1], light1[2]);
        SpanRegion region;
        RegionSetRect(region, 0, 0, W, H);
        CombineLayerBuffers(region, cells.data(), W + 2, frame.data(), W, layers.data(), Plane, 2,
                            W, H, background);
        return frame[At];
    }

    static constexpr std::size_t At = W + 1;
    std::vector<SampleCell> cells;
    std::vector<std::uint32_t> frame;
    std::vector<std::uint32_t> layers;
    ResolveBackground background;
};

TEST(LightLayerResolve, AddsTheLitLightsToTheBaseAndClamps) {
    constexpr std::uint32_t Both = 0xC000C000u;
    struct Case {
        const char* what;
        std::uint32_t lightMask;
        std::array<std::int32_t, 3> base, light0, light1;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"no lit light: the base", 0x0000C000u, {10, 20, 30}, {50, 50, 50}, {9, 9, 9},
         0x5A0A141Eu},
        {"both lit, in range", Both, {10, 20, 30}, {50, 60, 70}, {1, 2, 3}, 0x5A3D5267u},
        {"only light 1 lit", 0x4000C000u, {10, 20, 30}, {50, 60, 70}, {1, 2, 3}, 0x5A0B1621u},
        {"base 200 plus 100 red clamps to 255", 0x8000C000u, {200, 20, 30}, {100, 5, 6},
         {0, 0, 0}, 0x5AFF1924u},
        {"a light after the overflow still adds", Both, {200, 20, 30}, {100, 5, 6}, {-10, 7, 8},
         0x5AFF202Cu},
        {"shadowed brighter than lit clamps to 0", 0x8000C000u, {0, 40, 40}, {-50, 10, 10},
         {0, 0, 0}, 0x5A003232u},
        {"a base out of range goes the slow way", Both, {-20, 300, 30}, {30, 0, 0}, {0, -100, 0},
         0x5A0AC81Eu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LayerPixel pixel;
        EXPECT_EQ(pixel.Resolve(0x40, c.lightMask, c.base, c.light0, c.light1), c.expected);
    }
}

TEST(LightLayerResolve, FinishedPixelsAndPixelsOutsideTheRegionKeepTheirColour) {
    LayerPixel pixel;
    EXPECT_EQ(pixel.Resolve(0x40 | PixelFinished, 0xC000C000u, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}),
              0x5A010203u);
    // Every other pixel of the frame has a zero cell and zero layers, resolved to black with
    // its alpha; a region without rows touches nothing.
    EXPECT_EQ(pixel.frame[0], 0x5A000000u);
    std::fill(pixel.frame.begin(), pixel.frame.end(), 0x11223344u);
    SpanRegion empty;
    CombineLayerBuffers(empty, pixel.cells.data(), LayerPixel::W + 2, pixel.frame.data(),
                        LayerPixel::W, pixel.layers.data(), LayerPixel::Plane, 2, LayerPixel::W,
                        LayerPixel::H);
    EXPECT_TRUE(std::all_of(pixel.frame.begin(), pixel.frame.end(),
                            [](std::uint32_t p) { return p == 0x11223344u; }));
}

TEST(LightLayerResolve, PixelsLieOverTheBackgroundImageByWhatTheyDoNotCover) {
    // Each channel: the lit sum held to 0..255, plus (image - 128) x (1 - coverage), held to
    // 0..255 again; the coverage is alpha / 255, or with the alpha following the fog 0 on
    // the background and 1 on surfaces.
    const std::vector<std::uint32_t> image(LayerPixel::Plane, 0xA0608Cu);  // +32, -32, +12
    constexpr std::uint32_t Background = 0x00u;
    constexpr std::uint32_t Surface = 0x40u;
    struct Case {
        const char* what;
        std::uint8_t mode;
        bool isAlphaFromFog;
        std::uint32_t pixelWord;
        std::uint32_t alpha;
    };
    const Case cases[] = {
        {"background, uncovered", 1, false, Background, 0},
        {"surface, covered", 1, false, Surface, 255},
        {"boundary pixel, half covered", 1, false, Surface, 128},
        {"boundary pixel over a background cell", 1, false, Background, 51},
        {"fog alpha on a surface", 1, true, Surface, 64},
        {"fog alpha on the background", 1, true, Background, 0},
        {"mode byte clear", 0, false, Background, 0},
    };
    const std::array<std::int32_t, 3> base{200, 60, 10};
    const std::array<std::int32_t, 3> light0{30, 5, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ShadeSettings shade;
        shade.backgroundMode = c.mode;
        shade.isAlphaFromFog = c.isAlphaFromFog;
        shade.backgroundImage = image.data();
        shade.backgroundImageStride = LayerPixel::W;
        LayerPixel pixel;
        pixel.background = ResolveBackground{&shade, 0, LayerPixel::W, LayerPixel::H};
        pixel.frame[LayerPixel::At] = c.alpha << 24;
        const std::uint32_t got = pixel.Resolve(c.pixelWord, 0x80008000u, base, light0, {0, 0, 0});
        double uncovered = 1.0 - c.alpha / 255.0;
        if (c.isAlphaFromFog) uncovered = c.pixelWord == Background ? 1.0 : 0.0;
        if (c.mode == 0) uncovered = 0.0;
        EXPECT_EQ(got >> 24, c.alpha);
        for (std::size_t k = 0; k < 3; ++k) {
            const int shift = 16 - 8 * static_cast<int>(k);
            const double offset = static_cast<double>((image[0] >> shift) & 0xFF) - 128.0;
            const double lit = std::clamp(base[k] + light0[k], 0, 255);
            const double expected = std::clamp(std::round(lit + offset * uncovered), 0.0, 255.0);
            EXPECT_EQ(static_cast<double>((got >> shift) & 0xFF), expected) << "shift " << shift;
        }
    }
}

}  // namespace
