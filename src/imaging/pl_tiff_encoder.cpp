#include "imaging/pl_tiff_encoder.h"

#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_data_sink.h"
#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <tiffio.h>

#include <array>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace {

// Checks one libtiff call: a report raises code 2 with it, a failure without one code 2 with
// the encoder's own text.
void CheckTIFFCall(bool isDone) {
    PLTIFFRaiseIfError();
    if (!isDone) PLPicDecoder::RaiseError(PLErrFormatUnknown, "TIFF encoding failed.");
}

}  // namespace

void PLTIFFEncoder::SetBaseTags(tiff* handle, const PLBmp& bmp) {
    const std::uint32_t bpp = bmp.GetBitsPerPixel();
    const bool hasAlpha = bmp.HasAlpha();
    PLTIFFClearError();
    bool isDone = SetField(handle, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(bmp.GetWidth()));
    isDone = SetField(handle, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(bmp.GetHeight())) &&
             isDone;
    isDone = SetField(handle, TIFFTAG_BITSPERSAMPLE, static_cast<int>(bpp < 8 ? bpp : 8)) && isDone;
    const int samplesPerPixel = bpp <= 8 ? 1 : (hasAlpha ? 4 : 3);
    isDone = SetField(handle, TIFFTAG_SAMPLESPERPIXEL, samplesPerPixel) && isDone;
    if (hasAlpha) {
        const std::uint16_t extra = EXTRASAMPLE_ASSOCALPHA;
        isDone = SetField(handle, TIFFTAG_EXTRASAMPLES, 1, &extra) && isDone;
    }
    isDone = SetField(handle, TIFFTAG_COMPRESSION, static_cast<int>(compression)) && isDone;
    isDone = SetField(handle, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) && isDone;
    isDone =
        SetField(handle, TIFFTAG_XRESOLUTION, static_cast<double>(bmp.GetResolution().x)) && isDone;
    isDone =
        SetField(handle, TIFFTAG_YRESOLUTION, static_cast<double>(bmp.GetResolution().y)) && isDone;
    isDone = SetField(handle, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) && isDone;
    if (bpp == 1) {
        // Black is zero when entry 0 is darker than entry 1 in all three colours.
        const std::uint8_t* palette = bmp.GetPalette();
        const bool isBlackZero =
            palette[0] < palette[4] && palette[1] < palette[5] && palette[2] < palette[6];
        isDone = SetField(handle, TIFFTAG_PHOTOMETRIC,
                          isBlackZero ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE) &&
                 isDone;
    } else if (bpp == 8) {
        isDone = SetField(handle, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) && isDone;
    } else if (bpp > 8) {
        // 16- and 24-bit pixels are written as RGB like 32-bit ones.
        isDone = SetField(handle, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) && isDone;
    }
    CheckTIFFCall(isDone);
}

int PLTIFFEncoder::SetField(tiff* handle, std::uint32_t tag, ...) {
    va_list args;
    va_start(args, tag);
    const int result = TIFFVSetField(handle, tag, args);
    va_end(args);
    return result;
}

void PLTIFFEncoder::DoEncode(const PLBmp& bmp, PLDataSink& sink) {
    std::int32_t usedSize = 0;
    PLTIFFClearError();
    PLTIFFHandle handle(TIFFOpenMem(sink.GetBufferStart() + sink.GetDataSize(),
                                    sink.GetMaxDataSize() - sink.GetDataSize(), &usedSize));
    CheckTIFFCall(handle != nullptr);
    SetBaseTags(handle.get(), bmp);
    WriteImage(bmp, handle.get());
    handle.reset();  // writes the directory
    CheckTIFFCall(true);
    sink.Skip(usedSize);
}

void PLTIFFEncoder::WriteImage(const PLBmp& bmp, tiff* handle) {
    const std::uint32_t bpp = bmp.GetBitsPerPixel();
    const std::int32_t width = bmp.GetWidth();
    const std::int32_t height = bmp.GetHeight();
    if (bpp > 8 && !PLCanReadRowBgra(bpp)) {
        PLPicDecoder::RaiseError(PLErrFormatNotSupported, "Bit depth not supported for TIFF.");
    }
    if (bpp != 1 && bpp < 8) return;
    PLTIFFClearError();
    if (bpp == 8) {
        // The colour map holds 16-bit components: 255 becomes 65535.
        std::array<std::uint16_t, 3 * 256> map{};
        const std::uint8_t* palette = bmp.GetPalette();
        for (int i = 0; i < 256; ++i) {
            map[i] = static_cast<std::uint16_t>(palette[4 * i + 2] * 257);
            map[256 + i] = static_cast<std::uint16_t>(palette[4 * i + 1] * 257);
            map[512 + i] = static_cast<std::uint16_t>(palette[4 * i] * 257);
        }
        CheckTIFFCall(SetField(handle, TIFFTAG_COLORMAP, map.data(), map.data() + 256,
                               map.data() + 512) != 0);
    }

    // Rows pass through a scratch row: libtiff's codecs may change the buffer they are given.
    const bool hasAlpha = bmp.HasAlpha();
    const std::size_t samples = hasAlpha ? 4 : 3;
    std::vector<std::uint8_t> bgra(bpp > 8 ? 4 * static_cast<std::size_t>(width) : 0);
    std::vector<std::uint8_t> row(bpp > 8 ? samples * static_cast<std::size_t>(width)
                                          : static_cast<std::size_t>(bmp.GetBytesPerLine()));
    const std::uint8_t* const* lines = bmp.GetLineArray();
    for (std::int32_t y = 0; y < height; ++y) {
        if (bpp > 8) {
            PLReadRowBgra(lines[y], bpp, nullptr, width, bgra.data());
            for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
                row[samples * x] = bgra[4 * x + 2];
                row[samples * x + 1] = bgra[4 * x + 1];
                row[samples * x + 2] = bgra[4 * x];
                if (hasAlpha) row[samples * x + 3] = bgra[4 * x + 3];
            }
        } else {
            std::memcpy(row.data(), lines[y], row.size());
        }
        CheckTIFFCall(TIFFWriteScanline(handle, row.data(), static_cast<std::uint32_t>(y), 0) >= 0);
    }
}
