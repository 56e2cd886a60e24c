#include "imaging/pl_bmp_decoder.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/float_convert.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Record sizes of the file format.
constexpr std::int32_t ArrayHeaderRestBytes = 12;  // "BA" header after its signature
constexpr std::int32_t FileHeaderRestBytes = 12;   // file header after its signature
constexpr std::uint32_t CoreHeaderBytes = 12;
constexpr std::uint32_t InfoHeaderBytes = 40;
constexpr std::int32_t MaskBytes = 12;

// Offsets inside the information header, after its size field.
constexpr int InfoWidth = 0;
constexpr int InfoHeight = 4;
constexpr int InfoPlanes = 8;
constexpr int InfoBitCount = 10;
constexpr int InfoCompression = 12;
constexpr int InfoImageSize = 16;
constexpr int InfoXPelsPerMeter = 20;
constexpr int InfoYPelsPerMeter = 24;
constexpr int InfoColorsUsed = 28;
constexpr int InfoColorsImportant = 32;

constexpr std::uint32_t NoCompression = 0;
constexpr std::uint32_t Rle8Compression = 1;
constexpr std::uint32_t Rle4Compression = 2;
constexpr std::uint32_t BitFieldsCompression = 3;

// Every run-length row ends with a two-byte escape (end of row, or end of bitmap).
constexpr std::int64_t LeastRunLengthRowBytes = 2;

bool IsSignature(const std::uint8_t* signature) {
    static constexpr const char* Signatures[] = {"BA", "BM", "IC", "CP", "CI"};
    return std::any_of(std::begin(Signatures), std::end(Signatures),
                       [&](const char* s) { return std::memcmp(signature, s, 2) == 0; });
}

bool IsReadableBitCount(std::uint16_t bitCount) {
    return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
           bitCount == 32;
}

[[noreturn]] void ThrowNotABitmap() {
    PLPicDecoder::RaiseError(PLErrWrongSignature, "Bitmap decoder: This isn't a bitmap.");
}

[[noreturn]] void ThrowRunPassesRow() {
    PLPicDecoder::RaiseError(PLErrWrongSignature, "Run-length data passes the row.");
}

// Reads count bytes whose count comes from the file; counts beyond the data are end of data.
const std::uint8_t* ReadCounted(PLDataSource& source, std::int64_t count) {
    if (count < 0 || count > source.GetBytesLeft()) PLDataSource::ThrowEndOfFile();
    return source.ReadBytes(static_cast<std::int32_t>(count));
}

// Stored rows are padded to a multiple of 4 bytes.
std::int64_t StoredRowBytes(std::int32_t width, std::uint16_t bitCount) {
    return (static_cast<std::int64_t>(width) * bitCount + 31) / 32 * 4;
}

}  // namespace

std::int32_t PLBmpDecoder::DotsPerInch(std::int32_t pixelsPerMetre) {
    if (pixelsPerMetre <= 0) return 0;
    const float dots = static_cast<float>(pixelsPerMetre) / 39.37f + 0.5f;
    const std::int32_t truncated = TruncToInt32(dots);
    return truncated < 2 ? 0 : truncated;
}

void PLBmpDecoder::Open(PLDataSource* source) {
    info = {};
    masks = {};
    isTopDown = false;
    palette.fill(0);
    const std::int32_t start = source->GetBytesRead();

    // A bitmap array holds several images; the first one is read.
    const std::uint8_t* signature = source->ReadBytes(2);
    while (std::memcmp(signature, "BA", 2) == 0) {
        source->ReadBytes(ArrayHeaderRestBytes);
        signature = source->ReadBytes(2);
    }
    const std::uint32_t pixelOffset = LoadU32LE(source->ReadBytes(FileHeaderRestBytes) + 8);
    if (!IsSignature(signature)) ThrowNotABitmap();
    PLTrace(2, "Bitmap file signature found\n");

    ReadInfoHeader(*source);
    const std::int32_t headersEnd = source->GetBytesRead() - start;
    if (!IsReadableBitCount(info.bitCount)) {
        RaiseError(PLErrFormatUnknown, "Decoding bmp: Illegal bpp value.");
    }
    // Palette images are run-length coded only by the one code of their depth; any other
    // value (the other depth's code, bit fields, an embedded JPEG or PNG) is a coding the
    // decoder does not read, which as run-length data would decode as garbage.
    if ((info.bitCount == 4 || info.bitCount == 8) && info.compression != NoCompression &&
        !IsRunLength()) {
        RaiseError(PLErrFormatUnknown, "Decoding bmp: Unknown compression.");
    }
    const bool isCore = info.headerSize == CoreHeaderBytes;
    if (info.bitCount <= 8) ReadPalette(*source, isCore ? 3 : 4);
    PLTrace(2, "Bitmap header is ok.\n");

    // The rows start at the file header's pixel data offset. Headers that extend the 40-byte
    // one, bit-field masks and palettes shorter than their bit count leave the rows elsewhere
    // than right after the palette, so a usable offset is followed; a Windows header with an
    // unusable one falls back to the rows following the palette.
    const std::int64_t dataSize = source->GetFileSize() - start;
    if (pixelOffset >= static_cast<std::uint32_t>(headersEnd) && pixelOffset <= dataSize) {
        source->Seek(start + static_cast<std::int32_t>(pixelOffset));
    } else if (isCore) {
        // The core header's rows are only found through the offset.
        if (pixelOffset < static_cast<std::uint32_t>(headersEnd)) ThrowNotABitmap();
        PLDataSource::ThrowEndOfFile();
    }

    if (info.width < 0 || info.height == INT_MIN) ThrowNotABitmap();
    isTopDown = info.height < 0;
    const std::int32_t height = isTopDown ? -info.height : info.height;
    // The least data the rows can take, checked before the bitmap is made, so that a few
    // bytes of header claiming millions of rows never cost a large allocation.
    const std::int64_t leastRowBytes =
        IsRunLength() ? LeastRunLengthRowBytes : StoredRowBytes(info.width, info.bitCount);
    if (height > 0 && leastRowBytes > source->GetBytesLeft() / height) {
        PLDataSource::ThrowEndOfFile();
    }

    PLPixelFormat format = PLPixelFormat::I8;
    if (info.bitCount == 32) {
        format = PLPixelFormat::A8R8G8B8;
    } else if (info.bitCount > 8) {
        format = PLPixelFormat::X8R8G8B8;
    }
    SetInfo({info.width, height},
            {DotsPerInch(info.xPelsPerMeter), DotsPerInch(info.yPelsPerMeter)}, format);
}

void PLBmpDecoder::ReadInfoHeader(PLDataSource& source) {
    info.headerSize = LoadU32LE(source.ReadBytes(4));
    if (info.headerSize == CoreHeaderBytes) {
        const std::uint8_t* core = source.ReadBytes(8);
        info.width = LoadU16LE(core);
        info.height = LoadU16LE(core + 2);
        info.planes = LoadU16LE(core + 4);
        info.bitCount = LoadU16LE(core + 6);
        return;
    }
    // Sizes between the two known headers would read the palette as header fields.
    if (info.headerSize < InfoHeaderBytes) ThrowNotABitmap();
    const std::uint8_t* fields = source.ReadBytes(static_cast<std::int32_t>(InfoHeaderBytes) - 4);
    info.width = LoadI32LE(fields + InfoWidth);
    info.height = LoadI32LE(fields + InfoHeight);
    info.planes = LoadU16LE(fields + InfoPlanes);
    info.bitCount = LoadU16LE(fields + InfoBitCount);
    info.compression = LoadU32LE(fields + InfoCompression);
    info.imageSize = LoadU32LE(fields + InfoImageSize);
    info.xPelsPerMeter = LoadI32LE(fields + InfoXPelsPerMeter);
    info.yPelsPerMeter = LoadI32LE(fields + InfoYPelsPerMeter);
    info.colorsUsed = LoadU32LE(fields + InfoColorsUsed);
    info.colorsImportant = LoadU32LE(fields + InfoColorsImportant);

    const std::int64_t extraBytes = static_cast<std::int64_t>(info.headerSize) - InfoHeaderBytes;
    const std::uint8_t* extra = ReadCounted(source, extraBytes);
    const bool hasMasks = info.bitCount == 16
                              ? info.compression != 0
                              : info.bitCount == 32 && info.compression == BitFieldsCompression;
    if (hasMasks) {
        // Longer headers hold the masks as their next fields; after a 40-byte header they
        // follow it.
        const std::uint8_t* maskBytes =
            extraBytes >= MaskBytes ? extra : source.ReadBytes(MaskBytes);
        for (std::size_t i = 0; i < masks.size(); ++i) masks[i] = LoadU32LE(maskBytes + 4 * i);
    }
}

void PLBmpDecoder::ReadPalette(PLDataSource& source, std::int32_t entryBytes) {
    PLTrace(3, "Reading palette.\n");
    const std::int64_t entryCount = info.colorsUsed != 0 && info.bitCount >= 8
                                        ? static_cast<std::int64_t>(info.colorsUsed)
                                        : std::int64_t{1} << info.bitCount;
    const std::uint8_t* entries = ReadCounted(source, entryCount * entryBytes);
    // Entries past the 256 an 8-bit bitmap can index are read over and not kept.
    const std::int64_t keptCount = std::min<std::int64_t>(entryCount, 256);
    for (std::int64_t i = 0; i < keptCount; ++i) {
        std::memcpy(palette.data() + 4 * i, entries + entryBytes * i, 3);
        palette[static_cast<std::size_t>(4 * i + 3)] = 255;
    }
}

bool PLBmpDecoder::IsRunLength() const {
    return (info.bitCount == 8 && info.compression == Rle8Compression) ||
           (info.bitCount == 4 && info.compression == Rle4Compression);
}

const char* PLBmpDecoder::DecodingText() const {
    switch (info.bitCount) {
        case 1:
            return "Decoding 1 bit per pixel bitmap.\n";
        case 4:
            return IsRunLength() ? "Decoding RLE4-compressed bitmap.\n"
                                 : "Decoding uncompressed 4 bit per pixel bitmap.\n";
        case 8:
            return IsRunLength() ? "Decoding RLE8-compressed bitmap.\n"
                                 : "Decoding uncompressed 8 bit per pixel bitmap.\n";
        default:
            return "Decoding true-color bitmap.\n";
    }
}

std::int32_t PLBmpDecoder::BitmapRow(std::int32_t storedRow) const {
    return isTopDown ? storedRow : GetHeight() - 1 - storedRow;
}

void PLBmpDecoder::GetImage(PLBmp& bmp) {
    ORBELLE_CHECK(GetDataSource() != nullptr);
    ORBELLE_CHECK(bmp.GetWidth() == GetWidth() && bmp.GetHeight() == GetHeight());
    PLDataSource& source = *GetDataSource();
    if (bmp.GetBitsPerPixel() == 8) bmp.CopyPalette(palette.data());
    PLTrace(2, DecodingText());
    if (IsRunLength()) {
        DecodeRunLength(source, bmp, info.bitCount == 4);
    } else {
        DecodeUncompressed(source, bmp);
    }
}

void PLBmpDecoder::DecodeUncompressed(PLDataSource& source, PLBmp& bmp) const {
    const std::int32_t width = GetWidth();
    const auto rowBytes = static_cast<std::int32_t>(StoredRowBytes(width, info.bitCount));
    const bool is555 =
        info.compression == 0 || (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F);
    for (std::int32_t s = 0; s < GetHeight(); ++s) {
        const std::uint8_t* in = source.ReadBytes(rowBytes);
        std::uint8_t* out = bmp.GetLineArray()[BitmapRow(s)];
        switch (info.bitCount) {
            case 1:
                for (std::int32_t x = 0; x < width; ++x) {
                    out[x] = static_cast<std::uint8_t>((in[x / 8] >> (7 - x % 8)) & 1);
                }
                break;
            case 4:
                for (std::int32_t x = 0; x < width; ++x) {
                    const std::uint8_t byte = in[x / 2];
                    out[x] = static_cast<std::uint8_t>(x % 2 == 0 ? byte >> 4 : byte & 0x0F);
                }
                break;
            case 8:
                std::memcpy(out, in, static_cast<std::size_t>(width));
                break;
            case 16:
                for (std::int32_t x = 0; x < width; ++x) {
                    const unsigned v = LoadU16LE(in + 2 * x);
                    std::uint8_t* p = out + 4 * x;
                    p[0] = static_cast<std::uint8_t>((v & 0x1F) << 3);
                    if (is555) {
                        p[1] = static_cast<std::uint8_t>(((v >> 5) & 0x1F) << 3);
                        p[2] = static_cast<std::uint8_t>(((v >> 10) & 0x1F) << 3);
                    } else {
                        // The upper five of the six green bits.
                        p[1] = static_cast<std::uint8_t>(((v >> 6) & 0x1F) << 3);
                        p[2] = static_cast<std::uint8_t>(((v >> 11) & 0x1F) << 3);
                    }
                    p[3] = 255;
                }
                break;
            case 24:
                PLReadRowBgra(in, 24, nullptr, width, out);
                break;
            case 32:
                std::memcpy(out, in, static_cast<std::size_t>(width) * 4);
                break;
            default:
                ORBELLE_CHECK(IsReadableBitCount(info.bitCount));
        }
    }
}

void PLBmpDecoder::DecodeRunLength(PLDataSource& source, PLBmp& bmp, bool fourBits) const {
    const std::int32_t width = GetWidth();
    // Some writers code a row's padding too, so runs may reach the end of the stored row;
    // those pixels are dropped. Data past the stored row is refused, so the file can never
    // write outside the bitmap.
    const auto storedWidth =
        static_cast<std::int32_t>(StoredRowBytes(width, info.bitCount) * 8 / info.bitCount);
    // Pixel i of a run or literal: with four bits the high nibble comes first.
    const auto pixel = [fourBits](const std::uint8_t* bytes, std::int32_t i) {
        if (!fourBits) return bytes[i];
        const std::uint8_t byte = bytes[i / 2];
        return static_cast<std::uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F);
    };
    for (std::int32_t s = 0; s < GetHeight(); ++s) {
        std::uint8_t* out = bmp.GetLineArray()[BitmapRow(s)];
        std::int32_t x = 0;
        for (;;) {
            const std::uint8_t* pair = source.ReadBytes(2);
            const std::int32_t count = pair[0];
            const std::uint8_t value = pair[1];
            if (count != 0) {
                if (count > storedWidth - x) ThrowRunPassesRow();
                const std::uint8_t repeated[1] = {value};
                for (std::int32_t i = 0; i < count; ++i, ++x) {
                    if (x < width) out[x] = fourBits ? pixel(repeated, i % 2) : value;
                }
                continue;
            }
            if (value == 0) break;   // end of row
            if (value == 1) return;  // end of bitmap: the rows above keep what they hold
            if (value == 2) RaiseError(PLErrFormatNotSupported, "Encountered delta escape.");
            if (value > storedWidth - x) ThrowRunPassesRow();
            const std::int32_t literalBytes = fourBits ? (value + 1) / 2 : value;
            // Literals are padded to an even byte count.
            const std::uint8_t* literal = source.ReadBytes(literalBytes + literalBytes % 2);
            for (std::int32_t i = 0; i < value; ++i, ++x) {
                if (x < width) out[x] = pixel(literal, i);
            }
        }
    }
}
