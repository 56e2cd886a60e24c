#include "imaging/pl_any_pic_decoder.h"

#include "imaging/pl_any_bmp.h"
#include "imaging/pl_text_exception.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& bytes, std::initializer_list<std::uint8_t> values) {
    for (const std::uint8_t value : values) bytes.push_back(value);
}

// A field of byteCount bytes, little-endian or big-endian.
void AppendField(Bytes& bytes, std::uint32_t v, int byteCount, bool isBigEndian = false) {
    for (int i = 0; i < byteCount; ++i) {
        const int shift = 8 * (isBigEndian ? byteCount - 1 - i : i);
        bytes.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void AppendU16LE(Bytes& bytes, std::uint32_t v) { AppendField(bytes, v, 2); }
void AppendU32LE(Bytes& bytes, std::uint32_t v) { AppendField(bytes, v, 4); }
void AppendU16BE(Bytes& bytes, std::uint32_t v) { AppendField(bytes, v, 2, true); }
void AppendU32BE(Bytes& bytes, std::uint32_t v) { AppendField(bytes, v, 4, true); }

// 228 bytes: a 4-bit run-length bitmap claiming 67 x 13,303,853 pixels.
Bytes RunLengthBitmapOfMillionsOfRows() {
    Bytes file = {'B', 'M'};
    AppendU32LE(file, 227);
    AppendU32LE(file, 0);
    AppendU32LE(file, 14 + 40 + 64);
    for (const std::uint32_t field : {40u, 67u, 13303853u}) AppendU32LE(file, field);
    AppendU16LE(file, 1);
    AppendU16LE(file, 4);
    for (const std::uint32_t field : {2u, 0u, 2835u, 2835u, 0u, 0u}) AppendU32LE(file, field);
    file.resize(file.size() + 64, 0x40);  // the palette
    while (file.size() < 225) Append(file, {2, 0x12});
    Append(file, {0, 1});
    return file;
}

// 73 bytes: a greyscale PSD claiming 12,124,227 x 32 pixels and no channels.
Bytes PsdWithoutChannels() {
    Bytes file = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    AppendU16BE(file, 0);
    AppendU32BE(file, 32);
    AppendU32BE(file, 12124227);
    AppendU16BE(file, 8);
    AppendU16BE(file, 1);
    for (int section = 0; section < 3; ++section) AppendU32BE(file, 0);
    file.resize(73, 0);
    return file;
}

// 132 bytes: an LZW TIFF claiming 16,000 x 16,000 grey pixels in one 10-byte strip.
Bytes TiffRasterBeyondItsStrip() {
    Bytes file = {'I', 'I', 42, 0};
    AppendU32LE(file, 8);
    const std::uint32_t entries[][4] = {{256, 4, 1, 16000}, {257, 4, 1, 16000}, {258, 3, 1, 8},
                                        {259, 3, 1, 5},     {262, 3, 1, 1},     {273, 4, 1, 122},
                                        {277, 3, 1, 1},     {278, 4, 1, 16000}, {279, 4, 1, 10}};
    AppendU16LE(file, 9);
    for (const auto& e : entries) {
        AppendU16LE(file, e[0]);
        AppendU16LE(file, e[1]);
        AppendU32LE(file, e[2]);
        AppendU32LE(file, e[3]);  // a short value stands in the low bytes
    }
    AppendU32LE(file, 0);
    Append(file, {0x80, 0, 0x20, 0x10, 0x08, 0, 0, 0, 0, 0});
    return file;
}

// How long the any-format decoder takes to refuse a small file whose header claims an image
// far beyond its data. The refusal comes from the header, before any pixel storage.
void BM_RefuseClaimBeyondData(benchmark::State& state, Bytes (*make)()) {
    const Bytes file = make();
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    for (auto _ : state) {
        try {
            decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
            state.SkipWithError("the file decoded");
        } catch (const PLTextException& e) {
            benchmark::DoNotOptimize(e.GetCode());
        }
    }
}

BENCHMARK_CAPTURE(BM_RefuseClaimBeyondData, bmp_rle4_13_million_rows,
                  &RunLengthBitmapOfMillionsOfRows)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RefuseClaimBeyondData, psd_no_channels, &PsdWithoutChannels)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RefuseClaimBeyondData, tiff_16000_square_in_10_bytes,
                  &TiffRasterBeyondItsStrip)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
