#include "imaging/pl_filter_crop.h"

#include "imaging/pl_bmp.h"
#include "imaging/pl_text_exception.h"

#include <cstring>

PLFilterCrop::PLFilterCrop(std::int32_t left, std::int32_t top, std::int32_t right,
                           std::int32_t bottom)
    : x1(left), x2(right), y1(top), y2(bottom) {}

void PLFilterCrop::Apply(const PLBmp& source, PLBmp& dest) const {
    if (&source == &dest) {
        ApplyInPlace(dest);
        return;
    }
    // A region outside the source would copy from memory the bitmap does not own.
    if (x1 < 0 || y1 < 0 || x1 > x2 || y1 > y2 || x2 > source.GetWidth() ||
        y2 > source.GetHeight()) {
        throw PLTextException(PLErrFormatNotSupported, "Crop rectangle outside the image.");
    }
    const std::uint32_t bpp = source.GetBitsPerPixel();
    const std::int32_t width = x2 - x1;
    dest.CreateFromData(width, y2 - y1, source.GetPixelFormat(), nullptr, 0,
                        source.GetResolution());
    if (source.GetPalette() != nullptr) dest.CopyPalette(source.GetPalette());
    for (std::int32_t y = y1; y < y2; ++y) {
        const std::uint8_t* in = source.GetLineArray()[y];
        std::uint8_t* out = dest.GetLineArray()[y - y1];
        if (bpp % 8 == 0) {
            std::memcpy(out, in + static_cast<std::size_t>(x1) * (bpp / 8),
                        static_cast<std::size_t>(width) * (bpp / 8));
            continue;
        }
        // 1-bit rows: columns need not start on a byte, so bits move one by one.
        for (std::int32_t x = 0; x < width; ++x) {
            const std::int32_t from = x1 + x;
            if ((in[from / 8] >> (7 - from % 8)) & 1) {
                out[x / 8] = static_cast<std::uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
            }
        }
    }
}
