#include "texture/tex_pyramid.h"

#include "texture/texture_params.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<std::uint32_t> TestImage(int side) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side);
    std::uint32_t state = 12345;
    for (auto& p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = state | 0xFF000000u;
    }
    return pixels;
}

// Level k of a 1024 x 1024 bordered image, its lower levels already present.
void BM_TexPyramidBuildLevel(benchmark::State& state) {
    const auto pixels = TestImage(1024);
    TexPyramid pyramid;
    TexPyramidSetImage(pyramid, pixels.data(), 1024, 1024, 1024, true);
    const int k = static_cast<int>(state.range(0));
    TexPyramidBuildLevel(pyramid, k);
    for (auto _ : state) benchmark::DoNotOptimize(TexPyramidBuildLevel(pyramid, k));
}
BENCHMARK(BM_TexPyramidBuildLevel)->Arg(0)->Arg(1)->Arg(6)->Arg(12)->Unit(benchmark::kMillisecond);

void BM_TexPyramidBuildMagnified(benchmark::State& state) {
    const auto pixels = TestImage(1024);
    TexPyramid pyramid;
    TexPyramidSetImage(pyramid, pixels.data(), 1024, 1024, 1024, true);
    for (auto _ : state) benchmark::DoNotOptimize(TexPyramidBuildMagnified(pyramid, 3));
}
BENCHMARK(BM_TexPyramidBuildMagnified)->Unit(benchmark::kMillisecond);

void BM_BuildDefaultVersaTex(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const auto pixels = TestImage(side);
    TexPyramid pyramid;
    TexPyramidSetImage(pyramid, pixels.data(), side, side, side, false);
    TextureParams params;
    params.cTiles = 2.0;
    params.image = &pyramid;
    for (auto _ : state) {
        BuildDefaultVersaTex(params);
        benchmark::DoNotOptimize(params.mapping.get());
    }
}
BENCHMARK(BM_BuildDefaultVersaTex)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

}  // namespace
