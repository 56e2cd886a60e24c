#include "imaging/pl_jpeg_decoder.h"

#include "imaging/pl_any_bmp.h"
#include "imaging/pl_jpeg_encoder.h"
#include "imaging/pl_mem_sink.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// A 4000 x 3000 photo-like image (gradients with texture) encoded at quality 90.
std::vector<std::uint8_t> TwelveMegapixelJpeg() {
    constexpr std::int32_t Width = 4000;
    constexpr std::int32_t Height = 3000;
    PLAnyBmp bmp;
    bmp.CreateFromData(Width, Height, PLPixelFormat::X8R8G8B8, nullptr, 0, {72, 72});
    for (std::int32_t y = 0; y < Height; ++y) {
        std::uint8_t* row = bmp.GetLineArray()[y];
        for (std::int32_t x = 0; x < Width; ++x) {
            row[4 * x] = static_cast<std::uint8_t>(x * 255 / Width);
            row[4 * x + 1] = static_cast<std::uint8_t>(y * 255 / Height);
            row[4 * x + 2] = static_cast<std::uint8_t>(((x ^ y) & 0x3F) + 96);
            row[4 * x + 3] = 255;
        }
    }
    std::vector<std::uint8_t> buffer(Width * Height * 4);
    PLMemSink sink;
    sink.Open(buffer.data(), static_cast<std::int32_t>(buffer.size()));
    PLJPEGEncoder encoder;
    encoder.SetQuality(90);
    encoder.SaveBmp(bmp, sink);
    buffer.resize(static_cast<std::size_t>(sink.GetDataSize()));
    return buffer;
}

void BM_JpegDecode12Megapixel(benchmark::State& state) {
    const std::vector<std::uint8_t> file = TwelveMegapixelJpeg();
    PLJPEGDecoder decoder;
    PLAnyBmp bmp;
    for (auto _ : state) {
        decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
        benchmark::DoNotOptimize(bmp.GetLineArray()[0]);
    }
    state.counters["megapixels/s"] = benchmark::Counter(
        12.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_JpegDecode12Megapixel)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace
