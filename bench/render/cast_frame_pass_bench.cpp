// Cast-only time of a full frame: the part order, every part's rows and spans, and the hits
// written into the sample cells, with no shading.

#include "fifty_parts_scene.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

void BM_CastFrame50Parts(benchmark::State& state) {
    const std::int32_t width = 800, height = 600;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width * height));
    QRender render;
    if (render.SetSize(pixels.data(), width, height, width, false) != RenderSizeOk) {
        state.SkipWithError("SetSize failed");
        return;
    }
    render.centreX = width / 2.0;
    render.centreY = height / 2.0;
    render.focalScale = 1.1;
    fifty_parts::AddParts(render, fifty_parts::Shapes());
    for (auto _ : state) {
        benchmark::DoNotOptimize(RenderCastFrame(render));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(BM_CastFrame50Parts)->Unit(benchmark::kMillisecond);

}  // namespace
