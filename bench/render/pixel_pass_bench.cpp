// The pixel pass over the fifty-part scene at 800 x 600: the pass alone over a cast frame
// (it clears its marks first, so it runs again on the same cells), and the time it takes per
// 1,000 boundary pixels. Arg 0: shaded; 2: part colours with outlines 1.5 pixels wide.

#include "render/pixel_pass.h"

#include "fifty_parts_scene.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

void BM_PixelPass50Parts(benchmark::State& state) {
    const std::vector<fifty_parts::Shape> shapes = fifty_parts::Shapes();
    std::vector<std::uint32_t> pixels;
    QRender render;
    render.options.edgeLines = true;
    fifty_parts::SetUpFrame(render, pixels, shapes);
    if (!render.BuffersReady() || RenderCastFrame(render) != CastDone) {
        state.SkipWithError("the frame could not be cast");
        return;
    }
    render.edges.isRefined = true;
    render.shade.drawStyle = static_cast<std::int32_t>(state.range(0));
    render.edges.outlineWidth = 1.5;
    SpanRegion region;
    RegionSetRect(region, 0, 0, fifty_parts::FrameWidth, fifty_parts::FrameHeight);
    for (auto _ : state) {
        RenderPixelPass(render, region, render.SampleBuffer(0), pixels.data(),
                        fifty_parts::FrameWidth);
        benchmark::DoNotOptimize(pixels.data());
    }
    std::int64_t finished = 0;
    for (std::int32_t y = 0; y < fifty_parts::FrameHeight; ++y) {
        for (std::int32_t x = 0; x < fifty_parts::FrameWidth; ++x) {
            if ((render.QueryPixel(x, y, nullptr, nullptr, 0, nullptr) & PixelFinished) != 0) {
                ++finished;
            }
        }
    }
    state.counters["boundaryPixels"] = static_cast<double>(finished);
    state.counters["timePer1000"] = benchmark::Counter(
        static_cast<double>(finished) * static_cast<double>(state.iterations()) / 1000.0,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PixelPass50Parts)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
