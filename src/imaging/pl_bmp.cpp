#include "imaging/pl_bmp.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_filter.h"
#include "imaging/pl_text_exception.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "pixel rows are read as bytes in blue, green, red, alpha order");

namespace {

PLQuantizeFunction& Quantizer() {
    static PLQuantizeFunction quantize = nullptr;
    return quantize;
}

[[noreturn]] void ThrowCannotConvert(const PLPixelFormat& from, const PLPixelFormat& to) {
    throw PLTextException(PLErrFormatNotSupported, "Conversion from " + from.GetName() +
                                                       " to " + to.GetName() +
                                                       " not supported.");
}

std::uint16_t PackR5G6B5(const std::uint8_t* bgra) {
    return static_cast<std::uint16_t>(((bgra[2] >> 3) << 11) | ((bgra[1] & 0xFC) << 3) |
                                      (bgra[0] >> 3));
}

}  // namespace

bool PLCanReadRowBgra(std::uint32_t bitsPerPixel) {
    return bitsPerPixel == 1 || bitsPerPixel == 8 || bitsPerPixel == 16 || bitsPerPixel == 24 ||
           bitsPerPixel == 32;
}

std::int64_t PLRowBytes(std::int64_t width, std::uint32_t bitsPerPixel) {
    return (width * bitsPerPixel + 7) / 8;
}

void PLReadRowBgra(const std::uint8_t* row, std::uint32_t bitsPerPixel,
                   const std::uint8_t* palette, std::int32_t count, std::uint8_t* bgra) {
    if (count <= 0) return;
    switch (bitsPerPixel) {
        case 1:
            for (std::int32_t x = 0; x < count; ++x) {
                const int bit = (row[x / 8] >> (7 - x % 8)) & 1;
                std::memcpy(bgra + 4 * x, palette + 4 * bit, 4);
            }
            break;
        case 8:
            for (std::int32_t x = 0; x < count; ++x) {
                std::memcpy(bgra + 4 * x, palette + 4 * row[x], 4);
            }
            break;
        case 16:
            for (std::int32_t x = 0; x < count; ++x) {
                const unsigned value = static_cast<unsigned>(row[2 * x] | (row[2 * x + 1] << 8));
                std::uint8_t* out = bgra + 4 * x;
                out[0] = static_cast<std::uint8_t>(value << 3);
                out[1] = static_cast<std::uint8_t>((value >> 3) & 0xFC);
                out[2] = static_cast<std::uint8_t>((value >> 8) & 0xF8);
                out[3] = 255;
            }
            break;
        case 24: {
            // Four bytes are loaded a pixel, so the last pixel is read alone, never past the row.
            std::int32_t x = 0;
            for (; x + 1 < count; ++x) {
                StoreU32LE(bgra + 4 * x, LoadU32LE(row + 3 * x) | 0xFF000000u);
            }
            std::uint8_t* out = bgra + 4 * x;
            out[0] = row[3 * x];
            out[1] = row[3 * x + 1];
            out[2] = row[3 * x + 2];
            out[3] = 255;
            break;
        }
        case 32:
            std::memcpy(bgra, row, static_cast<std::size_t>(count) * 4);
            break;
        default:
            ORBELLE_CHECK(PLCanReadRowBgra(bitsPerPixel));
    }
}

void PLWriteRowFromBgra(const std::uint8_t* bgra, std::uint32_t bitsPerPixel,
                        std::int32_t count, std::uint8_t* row) {
    if (count <= 0) return;
    switch (bitsPerPixel) {
        case 16:
            for (std::int32_t x = 0; x < count; ++x) {
                const std::uint16_t value = PackR5G6B5(bgra + 4 * x);
                row[2 * x] = static_cast<std::uint8_t>(value);
                row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
            }
            break;
        case 24:
            for (std::int32_t x = 0; x < count; ++x) {
                std::memcpy(row + 3 * x, bgra + 4 * x, 3);
            }
            break;
        case 32:
            std::memcpy(row, bgra, static_cast<std::size_t>(count) * 4);
            break;
        default:
            ORBELLE_CHECK(bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32);
    }
}

PLQuantizeFunction PLRegisterQuantizer(PLQuantizeFunction quantize) {
    return std::exchange(Quantizer(), quantize);
}

void PLBmp::CreateFromInfo(const PLBmpInfo& info) {
    CreateFromData(info.GetWidth(), info.GetHeight(), info.GetPixelFormat(), nullptr, 0,
                   info.GetResolution());
}

void PLBmp::CreateFromData(std::int32_t width, std::int32_t height,
                           const PLPixelFormat& pixelFormat, const std::uint8_t* data,
                           std::int32_t stride, PLPoint resolution) {
    // The new storage is built before the old is released, so a refused size leaves this
    // bitmap as it was.
    AllocateBits(width, height, pixelFormat);
    SetResolution(resolution);
    if (data == nullptr) return;
    const auto rowBytes = static_cast<std::size_t>(PLRowBytes(width, pixelFormat.GetBitsPerPixel()));
    const std::size_t step = stride != 0 ? static_cast<std::size_t>(stride) : rowBytes;
    std::uint8_t* const* lines = GetLineArray();
    for (std::int32_t y = 0; y < height; ++y) {
        std::memcpy(lines[y], data + static_cast<std::size_t>(y) * step, rowBytes);
    }
}

void PLBmp::CreateCopy(const PLBmp& source, const PLPixelFormat& pixelFormat) {
    if (pixelFormat != PLPixelFormat::DontCare && pixelFormat != source.GetPixelFormat()) {
        if (&source == this) {
            // Converting in place: convert from a copy of the old pixels.
            PLAnyBmp old;
            old.CreateCopy(source);
            CreateCopy(old, pixelFormat);
            return;
        }
        CreateFromData(source.GetWidth(), source.GetHeight(), pixelFormat, nullptr, 0, {0, 0});
        CopyPixels(source);
        SetResolution(source.GetResolution());
        return;
    }
    if (&source == this) return;
    AllocateBits(source.GetWidth(), source.GetHeight(), source.GetPixelFormat());
    if (source.GetPalette() != nullptr) CopyPalette(source.GetPalette());
    CopyPixels(source);
    SetResolution(source.GetResolution());
}

void PLBmp::CopyPixels(const PLBmp& source) {
    if (&source == this) return;
    const std::int32_t width = std::min(GetWidth(), source.GetWidth());
    const std::int32_t height = std::min(GetHeight(), source.GetHeight());
    const std::uint32_t sourceBpp = source.GetBitsPerPixel();
    const std::uint32_t targetBpp = GetBitsPerPixel();
    const std::uint8_t* const* sourceLines = source.GetLineArray();
    std::uint8_t* const* lines = GetLineArray();

    // Formats of one depth are copied byte for byte whatever their channel order; 8-bit
    // indices only when the names match, since two 8-bit formats read their bytes apart.
    if (GetPixelFormat() == source.GetPixelFormat() ||
        (sourceBpp == targetBpp && targetBpp >= 16)) {
        const auto rowBytes = static_cast<std::size_t>(PLRowBytes(width, targetBpp));
        for (std::int32_t y = 0; y < height; ++y) {
            std::memcpy(lines[y], sourceLines[y], rowBytes);
        }
        return;
    }
    if (targetBpp == 8) {
        ConvertTo8Bpp(source);
        return;
    }
    if (!PLCanReadRowBgra(sourceBpp) ||
        !(targetBpp == 1 || targetBpp == 16 || targetBpp == 24 || targetBpp == 32)) {
        ThrowCannotConvert(source.GetPixelFormat(), GetPixelFormat());
    }

    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * 4);
    if (targetBpp == 1) {
        // Dark pixels (red, green and blue all below 128) set their bit; entry 1 is black.
        static constexpr std::uint8_t BlackAndWhite[8] = {255, 255, 255, 255, 0, 0, 0, 255};
        CopyPalette(BlackAndWhite);
        for (std::int32_t y = 0; y < height; ++y) {
            PLReadRowBgra(sourceLines[y], sourceBpp, source.GetPalette(), width, bgra.data());
            std::uint8_t* row = lines[y];
            std::memset(row, 0, static_cast<std::size_t>(PLRowBytes(width, 1)));
            for (std::int32_t x = 0; x < width; ++x) {
                const std::uint8_t* p = bgra.data() + 4 * x;
                if (p[0] < 128 && p[1] < 128 && p[2] < 128) {
                    row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
                }
            }
        }
        return;
    }
    for (std::int32_t y = 0; y < height; ++y) {
        PLReadRowBgra(sourceLines[y], sourceBpp, source.GetPalette(), width, bgra.data());
        PLWriteRowFromBgra(bgra.data(), targetBpp, width, lines[y]);
    }
}

void PLBmp::ConvertTo8Bpp(const PLBmp& source) {
    const std::uint32_t sourceBpp = source.GetBitsPerPixel();
    if (sourceBpp == 1) {
        // Indices 0 and 1 keep their meaning: the two source colours become entries 0 and 1.
        std::uint8_t* target = GetPalette();
        const std::uint8_t* sourcePalette = source.GetPalette();
        for (int i = 0; i < 2; ++i) {
            std::memcpy(target + 4 * i, sourcePalette + 4 * i, 3);
            target[4 * i + 3] = 255;
        }
        const std::int32_t width = std::min(GetWidth(), source.GetWidth());
        const std::int32_t height = std::min(GetHeight(), source.GetHeight());
        for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t* in = source.GetLineArray()[y];
            std::uint8_t* out = GetLineArray()[y];
            for (std::int32_t x = 0; x < width; ++x) {
                out[x] = static_cast<std::uint8_t>((in[x / 8] >> (7 - x % 8)) & 1);
            }
        }
        return;
    }
    if (sourceBpp == 32) {
        QuantizeFrom32(source);
        return;
    }
    if (!PLCanReadRowBgra(sourceBpp)) ThrowCannotConvert(source.GetPixelFormat(), GetPixelFormat());
    PLAnyBmp trueColour;
    trueColour.CreateCopy(source, PLPixelFormat::X8R8G8B8);
    QuantizeFrom32(trueColour);
}

void PLBmp::QuantizeFrom32(const PLBmp& source) {
    const PLQuantizeFunction quantize = Quantizer();
    if (quantize == nullptr) {
        throw PLTextException(PLErrFormatNotCompiled,
                              "Colour quantisation not compiled into library.");
    }
    PLAnyBmp indexed;
    quantize(GetDitherPaletteType(), GetDitherType(), source, indexed);
    ORBELLE_CHECK(indexed.GetBitsPerPixel() == 8);
    CopyPalette(indexed.GetPalette());
    const std::int32_t width = std::min(GetWidth(), indexed.GetWidth());
    const std::int32_t height = std::min(GetHeight(), indexed.GetHeight());
    for (std::int32_t y = 0; y < height; ++y) {
        std::memcpy(GetLineArray()[y], indexed.GetLineArray()[y], static_cast<std::size_t>(width));
    }
}

void PLBmp::ApplyFilter(const PLFilter& filter) { filter.ApplyInPlace(*this); }

void PLBmp::SetAlphaChannel(const PLBmp& alpha) {
    ORBELLE_CHECK(GetBitsPerPixel() == 32 && alpha.GetBitsPerPixel() == 8);
    ORBELLE_CHECK(GetWidth() == alpha.GetWidth() && GetHeight() == alpha.GetHeight());
    for (std::int32_t y = 0; y < GetHeight(); ++y) {
        const std::uint8_t* in = alpha.GetLineArray()[y];
        std::uint8_t* out = GetLineArray()[y];
        for (std::int32_t x = 0; x < GetWidth(); ++x) out[4 * x + 3] = in[x];
    }
    SetInfo(GetSize(), GetResolution(), GetPixelFormat().UseAlpha(true));
}

void PLBmp::InitHeader(std::int32_t width, std::int32_t height,
                       const PLPixelFormat& pixelFormat) {
    PLBmpBase::InitHeader(width, height, pixelFormat);
    BuildLineArray();
}
