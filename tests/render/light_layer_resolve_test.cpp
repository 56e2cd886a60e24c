// The light layer resolve against colours summed channel by channel.

#include "render/light_layer_resolve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
                            W, H);
        return frame[At];
    }

    static constexpr std::size_t At = W + 1;
    std::vector<SampleCell> cells;
    std::vector<std::uint32_t> frame;
    std::vector<std::uint32_t> layers;
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

}  // namespace
