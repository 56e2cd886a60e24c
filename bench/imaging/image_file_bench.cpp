#include "imaging/image_file.h"

#include "core/private_heap.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t Side = 1024;

// An "argb" texture with smooth gradients, some texture and varying alpha, like a painted
// texture with a cut-out.
std::vector<std::uint8_t> MakePixels() {
    std::vector<std::uint8_t> pixels(4 * static_cast<std::size_t>(Side) * Side);
    for (std::int32_t y = 0; y < Side; ++y) {
        for (std::int32_t x = 0; x < Side; ++x) {
            std::uint8_t* p = pixels.data() + 4 * (static_cast<std::size_t>(y) * Side + x);
            p[0] = static_cast<std::uint8_t>(x * 255 / Side);
            p[1] = static_cast<std::uint8_t>(y * 255 / Side);
            p[2] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            p[3] = static_cast<std::uint8_t>(((x / 64 + y / 64) & 1) != 0 ? 255 : 128);
        }
    }
    return pixels;
}

void BM_EncodeTiffToMemory(benchmark::State& state) {
    const std::vector<std::uint8_t> pixels = MakePixels();
    for (auto _ : state) {
        std::uint32_t size = 0;
        std::uint8_t* tiff =
            EncodeTiffToMemory("argb", pixels.data(), Side, Side, 4 * Side, true, 1, size);
        benchmark::DoNotOptimize(tiff);
        PrivateFree(tiff);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_EncodeTiffToMemory)->Unit(benchmark::kMillisecond);

void BM_DecodeTiffFromMemory(benchmark::State& state) {
    const std::vector<std::uint8_t> pixels = MakePixels();
    std::uint32_t size = 0;
    std::uint8_t* tiff =
        EncodeTiffToMemory("argb", pixels.data(), Side, Side, 4 * Side, true, 1, size);
    for (auto _ : state) {
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t samples = 0;
        std::uint8_t* decoded = DecodeTiffFromMemory(tiff, static_cast<std::int32_t>(size), "argb",
                                                     width, height, samples);
        benchmark::DoNotOptimize(decoded);
        PrivateFree(decoded);
    }
    PrivateFree(tiff);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_DecodeTiffFromMemory)->Unit(benchmark::kMillisecond);

}  // namespace
