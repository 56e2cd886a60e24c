#include "imaging/pl_any_bmp.h"
#include "imaging/pl_filter_resize_bilinear.h"
#include "imaging/pl_filter_resize_gaussian.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

// A 32-bit image with a smooth gradient and some texture, like an imported photo.
void FillImage(PLAnyBmp& bmp, std::int32_t size) {
    bmp.CreateFromData(size, size, PLPixelFormat::A8R8G8B8, nullptr, 0, {72, 72});
    for (std::int32_t y = 0; y < size; ++y) {
        std::uint8_t* row = bmp.GetLineArray()[y];
        for (std::int32_t x = 0; x < size; ++x) {
            row[4 * x] = static_cast<std::uint8_t>(x * 255 / size);
            row[4 * x + 1] = static_cast<std::uint8_t>(y * 255 / size);
            row[4 * x + 2] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            row[4 * x + 3] = 255;
        }
    }
}

template <class Filter, class... Args>
void ResizeBench(benchmark::State& state, Args... args) {
    PLAnyBmp source;
    FillImage(source, static_cast<std::int32_t>(state.range(0)));
    const auto target = static_cast<std::int32_t>(state.range(1));
    const Filter filter(target, target, args...);
    PLAnyBmp dest;
    for (auto _ : state) {
        filter.Apply(source, dest);
        benchmark::DoNotOptimize(dest.GetBits());
    }
}

void BM_ResizeBilinear(benchmark::State& state) { ResizeBench<PLFilterResizeBilinear>(state); }
void BM_ResizeGaussian(benchmark::State& state) {
    ResizeBench<PLFilterResizeGaussian>(state, 0.5);
}

BENCHMARK(BM_ResizeBilinear)->Args({2048, 128})->Args({512, 1024})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeGaussian)->Args({2048, 128})->Args({512, 1024})->Unit(benchmark::kMillisecond);

}  // namespace
