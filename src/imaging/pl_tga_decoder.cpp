#include "imaging/pl_tga_decoder.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"

#include <cstring>

namespace {

constexpr std::int32_t TgaHeaderBytes = 18;
constexpr std::uint8_t TopRowFirstBit = 0x20;
constexpr std::uint8_t RunPacketBit = 0x80;
constexpr int PaletteEntries = 256;

// Image types: 1 colour-mapped, 2 true colour, 3 greyscale; 8 more when run-length encoded.
constexpr std::uint8_t RunLengthTypeBit = 8;

bool IsKnownImageType(std::uint8_t type) {
    return (type >= 1 && type <= 3) || (type >= 9 && type <= 11);
}

bool IsGreyscale(std::uint8_t type) { return type == 3 || type == 11; }

bool IsColourDepth(std::uint8_t depth) {
    return depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

// Bytes one stored pixel takes: 15 bits are stored in 2.
std::int32_t StoredBytes(std::uint8_t depth) { return (depth + 7) / 8; }

[[noreturn]] void ThrowUnknownDepth() {
    PLPicDecoder::RaiseError(PLErrFormatUnknown, "TGA decoder: Unknown bits per pixel in file.");
}

// One stored pixel of a colour depth as blue, green, red, alpha. 16-bit pixels carry their
// attribute bit as alpha 128 (set) or 0 (clear).
void ConvertPixel(const std::uint8_t* in, std::uint8_t depth, std::uint8_t* out) {
    switch (depth) {
        case 15:
        case 16: {
            const unsigned v = LoadU16LE(in);
            out[0] = static_cast<std::uint8_t>((v & 0x1F) << 3);
            out[1] = static_cast<std::uint8_t>((v >> 2) & 0xF8);
            out[2] = static_cast<std::uint8_t>((v >> 7) & 0xF8);
            out[3] = depth == 15 ? 255 : ((v & 0x8000) != 0 ? 128 : 0);
            break;
        }
        case 24:
            std::memcpy(out, in, 3);
            out[3] = 255;
            break;
        case 32:
            std::memcpy(out, in, 4);
            break;
        default:
            ORBELLE_CHECK(IsColourDepth(depth));
    }
}

// Stores a stored pixel as pixel x of a bitmap row: a byte at 8 bits (palette index or grey
// level), else a 32-bit word.
void StorePixel(const std::uint8_t* in, std::uint8_t depth, std::uint8_t* row, std::int32_t x) {
    if (depth == 8) {
        row[x] = in[0];
    } else {
        ConvertPixel(in, depth, row + 4 * x);
    }
}

}  // namespace

void PLTGADecoder::Open(PLDataSource* source) {
    PLTrace(2, "Decoding TGA.\n");
    const std::uint8_t* h = source->ReadBytes(TgaHeaderBytes);
    header.idLength = h[0];
    header.colourMapType = h[1];
    header.imageType = h[2];
    header.firstEntry = LoadU16LE(h + 3);
    header.colourMapLength = LoadU16LE(h + 5);
    header.colourMapDepth = h[7];
    header.xOrigin = LoadU16LE(h + 8);
    header.yOrigin = LoadU16LE(h + 10);
    header.width = LoadU16LE(h + 12);
    header.height = LoadU16LE(h + 14);
    header.pixelDepth = h[16];
    header.descriptor = h[17];
    source->ReadBytes(header.idLength);

    PLPixelFormat format;
    switch (header.pixelDepth) {
        case 8:
            format = IsGreyscale(header.imageType) ? PLPixelFormat::L8 : PLPixelFormat::I8;
            break;
        case 15:
        case 24:
            format = PLPixelFormat::X8R8G8B8;
            break;
        case 16:
        case 32:
            format = PLPixelFormat::A8R8G8B8;
            break;
        default:
            ThrowUnknownDepth();
    }
    // The image type is checked before the bitmap is made, so a bad type is reported as such
    // rather than as the size of a bitmap that would never be filled.
    if (!IsKnownImageType(header.imageType)) {
        RaiseError(PLErrFormatUnknown, "Unknown TGA image type.");
    }
    const bool hasColourMap = header.colourMapType != 0 && header.colourMapLength > 0;
    if (hasColourMap && !IsColourDepth(header.colourMapDepth)) ThrowUnknownDepth();
    if (hasColourMap && format.GetPaletteSize() != 0 && header.firstEntry >= PaletteEntries) {
        RaiseError(PLErrWrongSignature, "TGA decoder: Colour map starts beyond the palette.");
    }

    // The least data the image can take: every pixel stored, or one packet of a header byte
    // and a pixel for every 128 pixels. A short file fails before its bitmap is allocated.
    const std::int64_t mapBytes = header.colourMapType != 0 ? std::int64_t{header.colourMapLength} *
                                                                  StoredBytes(header.colourMapDepth)
                                                            : 0;
    const std::int64_t pixelCount = std::int64_t{header.width} * header.height;
    const std::int64_t pixelBytes = StoredBytes(header.pixelDepth);
    const std::int64_t leastImageBytes = (header.imageType & RunLengthTypeBit) != 0
                                             ? (pixelCount + 127) / 128 * (1 + pixelBytes)
                                             : pixelCount * pixelBytes;
    if (mapBytes + leastImageBytes > source->GetBytesLeft()) PLDataSource::ThrowEndOfFile();

    SetInfo({header.width, header.height}, {0, 0}, format);
}

void PLTGADecoder::GetImage(PLBmp& bmp) {
    ORBELLE_CHECK(GetDataSource() != nullptr);
    ORBELLE_CHECK(bmp.GetWidth() == GetWidth() && bmp.GetHeight() == GetHeight());
    PLDataSource& source = *GetDataSource();
    ReadColourMap(source, bmp);
    if (IsGreyscale(header.imageType)) bmp.SetGreyRamp();
    if ((header.imageType & RunLengthTypeBit) != 0) {
        ReadRunLength(source, bmp);
    } else {
        ReadUncompressed(source, bmp);
    }
}

std::int32_t PLTGADecoder::BitmapRow(std::int32_t storedRow) const {
    return (header.descriptor & TopRowFirstBit) != 0 ? storedRow : GetHeight() - 1 - storedRow;
}

void PLTGADecoder::ReadColourMap(PLDataSource& source, PLBmp& bmp) const {
    if (header.colourMapType == 0) return;
    const std::int32_t entryBytes = StoredBytes(header.colourMapDepth);
    const std::uint8_t* map = source.ReadBytes(header.colourMapLength * entryBytes);
    // A true-colour image's map is read over; it has no palette to go to.
    std::uint8_t* palette = bmp.GetPalette();
    if (palette == nullptr) return;
    // Entries the map does not give are black, so no index reaches a colour the file did not
    // define.
    std::memset(palette, 0, static_cast<std::size_t>(4 * bmp.GetPixelFormat().GetPaletteSize()));
    for (std::int32_t i = 0; i < header.colourMapLength; ++i) {
        const std::int32_t entry = (header.firstEntry + i) % PaletteEntries;
        ConvertPixel(map + i * entryBytes, header.colourMapDepth, palette + 4 * entry);
    }
}

void PLTGADecoder::ReadUncompressed(PLDataSource& source, PLBmp& bmp) const {
    const std::int32_t width = GetWidth();
    const std::int32_t pixelBytes = StoredBytes(header.pixelDepth);
    // The depth is looked at once a row: 8 bits are copied, 24 and 32 converted a row at a
    // time, 15 and 16 a pixel at a time.
    const std::uint8_t depth = header.pixelDepth;
    for (std::int32_t s = 0; s < GetHeight(); ++s) {
        const std::uint8_t* in = source.ReadBytes(width * pixelBytes);
        std::uint8_t* row = bmp.GetLineArray()[BitmapRow(s)];
        if (depth == 8) {
            std::memcpy(row, in, static_cast<std::size_t>(width));
        } else if (depth == 24 || depth == 32) {
            PLReadRowBgra(in, depth, nullptr, width, row);
        } else {
            for (std::int32_t x = 0; x < width; ++x) StorePixel(in + x * pixelBytes, depth, row, x);
        }
    }
}

void PLTGADecoder::ReadRunLength(PLDataSource& source, PLBmp& bmp) const {
    // Packets may go on from one row to the next, as the format allows; only a packet that
    // passes the last pixel of the image is refused.
    const std::int32_t width = GetWidth();
    const std::int64_t pixelCount = std::int64_t{width} * GetHeight();
    const std::int32_t pixelBytes = StoredBytes(header.pixelDepth);
    std::int64_t done = 0;
    std::int32_t storedRow = 0;
    std::int32_t x = 0;
    while (done < pixelCount) {
        const std::uint8_t packet = source.ReadByte();
        const std::int32_t count = (packet & 0x7F) + 1;
        if (count > pixelCount - done) {
            RaiseError(PLErrWrongSignature, "Run-length data passes the image.");
        }
        const bool isRun = (packet & RunPacketBit) != 0;
        const std::uint8_t* in = source.ReadBytes(isRun ? pixelBytes : count * pixelBytes);
        for (std::int32_t i = 0; i < count; ++i) {
            std::uint8_t* row = bmp.GetLineArray()[BitmapRow(storedRow)];
            StorePixel(isRun ? in : in + i * pixelBytes, header.pixelDepth, row, x);
            if (++x == width) {
                x = 0;
                ++storedRow;
            }
        }
        done += count;
    }
}
