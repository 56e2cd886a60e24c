// The fifty-part shaded frame of span_shade_bench.cpp with every other part textured (a
// 256 x 256 tiling image laid flat on the part, 40 texels a unit, so that parts near and far
// read different pyramid levels), beside the same frame untextured. The pyramid levels are
// built by a first render outside the timing, as a view's second frame finds them. The third
// case gives the image a height map and the textured parts a bump amount, so that their
// normals are tilted as well.

#include "fifty_parts_scene.h"
#include "render/q_render.h"
#include "render/span_shade.h"
#include "texture/tex_pyramid.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t Width = fifty_parts::FrameWidth;
constexpr std::int32_t Height = fifty_parts::FrameHeight;
constexpr std::int32_t ImageSide = 256;
constexpr double TexelsPerUnit = 40.0;

std::vector<std::uint32_t> Image() {
    std::vector<std::uint32_t> image(ImageSide * ImageSide);
    for (std::int32_t y = 0; y < ImageSide; ++y) {
        for (std::int32_t x = 0; x < ImageSide; ++x) {
            const std::uint32_t check = ((x / 16 + y / 16) % 2) != 0 ? 0xC0u : 0x40u;
            image[static_cast<std::size_t>(y * ImageSide + x)] =
                0xFF000000u | check << 16 | static_cast<std::uint32_t>(x) << 8 |
                static_cast<std::uint32_t>(y);
        }
    }
    return image;
}

void BM_ShadedFrame50PartsHalfTextured(benchmark::State& state) {
    const bool isTextured = state.range(0) != 0;
    const bool isBumped = state.range(0) == 2;
    const std::vector<fifty_parts::Shape> shapes = fifty_parts::Shapes();
    std::vector<std::uint32_t> pixels;
    QRender render;
    fifty_parts::SetUpFrame(render, pixels, shapes);
    if (!render.BuffersReady()) {
        state.SkipWithError("SetSize failed");
        return;
    }

    const std::vector<std::uint32_t> image = Image();
    TexPyramid pyramid;
    if (TexPyramidSetImage(pyramid, image.data(), ImageSide, ImageSide, ImageSide, false) != 0) {
        state.SkipWithError("TexPyramidSetImage failed");
        return;
    }
    std::vector<std::uint8_t> heights(image.size());
    for (std::size_t i = 0; i < heights.size(); ++i) {
        heights[i] = static_cast<std::uint8_t>((image[i] >> 16) ^ image[i]);
    }
    if (isBumped && TexPyramidSetMap(pyramid, heights.data(), ImageSide) != 0) {
        state.SkipWithError("TexPyramidSetMap failed");
        return;
    }
    RenderShadedFrame(render);
    const std::vector<std::uint32_t> untextured = pixels;
    if (isTextured) {
        render.partTextures.parts.assign(shapes.size(), PartTexture{});
        for (std::size_t i = 0; i < shapes.size(); i += 2) {
            PartTexture& texture = render.partTextures.parts[i];
            texture.pyramid = &pyramid;
            texture.partFromView = fifty_parts::LocalFromView(shapes[i]);
            for (std::size_t k = 4; k < 16; ++k) texture.partFromView.m[k] *= TexelsPerUnit;
            texture.baseColour = shapes[i].colour;
            texture.bumpAmount = isBumped ? 100 : 0;
        }
    }
    RenderShadedFrame(render);
    // The pixels the textures changed, to show how much of the frame they reach.
    std::int64_t changed = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) changed += pixels[i] != untextured[i] ? 1 : 0;
    state.counters["changedPixels"] = static_cast<double>(changed);
    for (auto _ : state) {
        benchmark::DoNotOptimize(RenderShadedFrame(render));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Width * Height);
}
BENCHMARK(BM_ShadedFrame50PartsHalfTextured)
    ->ArgName("textured")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace
