#include "imaging/pl_filter_grayscale.h"

#include "core/float_convert.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_text_exception.h"

#include <vector>

void PLFilterGrayscale::Apply(const PLBmp& source, PLBmp& dest) const {
    if (&source == &dest) {
        if (!source.GetPixelFormat().IsPureLuminance()) ApplyInPlace(dest);
        return;
    }
    if (source.GetPixelFormat().IsPureLuminance()) {
        dest.CreateCopy(source);
        return;
    }
    const std::uint32_t bpp = source.GetBitsPerPixel();
    if (!PLCanReadRowBgra(bpp)) {
        throw PLTextException(PLErrFormatNotSupported,
                              "Grey conversion of " + source.GetPixelFormat().GetName() +
                                  " not supported.");
    }
    const std::int32_t width = source.GetWidth();
    dest.CreateFromData(width, source.GetHeight(), PLPixelFormat::L8, nullptr, 0,
                        source.GetResolution());
    // Every depth is read as 32-bit pixels, so palette and 16-bit images are read by their
    // colours rather than as raw bytes.
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * 4);
    for (std::int32_t y = 0; y < source.GetHeight(); ++y) {
        PLReadRowBgra(source.GetLineArray()[y], bpp, source.GetPalette(), width, bgra.data());
        std::uint8_t* out = dest.GetLineArray()[y];
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = bgra.data() + 4 * x;
            out[x] = static_cast<std::uint8_t>(
                TruncToInt32(0.212671 * p[2] + 0.71516 * p[1] + 0.072169 * p[0]));
        }
    }
}
