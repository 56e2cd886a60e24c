#include "imaging/pl_bmp_encoder.h"

#include "core/byte_order.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_data_sink.h"
#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t FileHeaderSize = 14;
constexpr std::int32_t InfoHeaderSize = 40;

// Pixels per metre for a resolution in dots per inch, from the single-precision 39.37
// (72 dpi gives 2835).
std::int32_t PixelsPerMetre(std::int32_t dotsPerInch) {
    return static_cast<std::int32_t>(
        static_cast<double>(dotsPerInch) * static_cast<double>(39.37f) + 0.5);
}

}  // namespace

void PLBmpEncoder::DoEncode(const PLBmp& bmp, PLDataSink& sink) {
    const std::uint32_t bpp = bmp.GetBitsPerPixel();
    const std::int32_t width = bmp.GetWidth();
    const std::int32_t height = bmp.GetHeight();
    const bool isTrueColour = bpp > 8;
    if (isTrueColour && !PLCanReadRowBgra(bpp)) {
        PLPicDecoder::RaiseError(PLErrFormatNotSupported, "Bit depth not supported for BMP.");
    }
    const std::int64_t rowBytes = isTrueColour ? 3 * std::int64_t{width} : PLRowBytes(width, bpp);
    const std::int64_t paddedRow = (rowBytes + 3) / 4 * 4;
    const std::int32_t paletteBytes = isTrueColour ? 0 : 4 << bpp;
    const std::int64_t fileSize =
        FileHeaderSize + InfoHeaderSize + paletteBytes + paddedRow * height;

    std::array<std::uint8_t, FileHeaderSize + InfoHeaderSize> header{};
    StoreU16LE(&header[0], 0x4D42);  // "BM"
    StoreU32LE(&header[2], static_cast<std::uint32_t>(fileSize));
    StoreU32LE(&header[10],
               static_cast<std::uint32_t>(FileHeaderSize + InfoHeaderSize + paletteBytes));
    std::uint8_t* info = &header[FileHeaderSize];
    StoreU32LE(info, InfoHeaderSize);
    StoreI32LE(info + 4, width);
    StoreI32LE(info + 8, height);  // positive: rows run bottom-up
    StoreU16LE(info + 12, 1);
    StoreU16LE(info + 14, static_cast<std::uint16_t>(isTrueColour ? 24 : bpp));
    StoreI32LE(info + 24, PixelsPerMetre(bmp.GetResolution().x));
    StoreI32LE(info + 28, PixelsPerMetre(bmp.GetResolution().y));
    sink.WriteBytes(header.data(), static_cast<std::int32_t>(header.size()));
    if (paletteBytes > 0) sink.WriteBytes(bmp.GetPalette(), paletteBytes);

    // One padded row is assembled at a time; its filler bytes stay zero.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(paddedRow), 0);
    std::vector<std::uint8_t> bgra(isTrueColour ? 4 * static_cast<std::size_t>(width) : 0);
    const std::uint8_t* const* lines = bmp.GetLineArray();
    for (std::int32_t y = height - 1; y >= 0; --y) {
        if (isTrueColour) {
            PLReadRowBgra(lines[y], bpp, nullptr, width, bgra.data());
            for (std::int32_t x = 0; x < width; ++x) {
                std::memcpy(&row[3 * static_cast<std::size_t>(x)],
                            &bgra[4 * static_cast<std::size_t>(x)], 3);
            }
        } else {
            std::memcpy(row.data(), lines[y], static_cast<std::size_t>(rowBytes));
        }
        sink.WriteBytes(row.data(), static_cast<std::int32_t>(paddedRow));
    }
}
