#include "imaging/pl_tiff_check.h"

#include "core/byte_order.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

// The tags an image cannot be decoded as meant without, with the names libtiff gives them.
struct RequiredTag {
    std::uint16_t tag;
    const char* name;
};
constexpr std::array<RequiredTag, 16> RequiredTags = {{
    {TIFFTAG_IMAGEWIDTH, "ImageWidth"},
    {TIFFTAG_IMAGELENGTH, "ImageLength"},
    {TIFFTAG_BITSPERSAMPLE, "BitsPerSample"},
    {TIFFTAG_COMPRESSION, "Compression"},
    {TIFFTAG_PHOTOMETRIC, "PhotometricInterpretation"},
    {TIFFTAG_STRIPOFFSETS, "StripOffsets"},
    {TIFFTAG_SAMPLESPERPIXEL, "SamplesPerPixel"},
    {TIFFTAG_ROWSPERSTRIP, "RowsPerStrip"},
    {TIFFTAG_STRIPBYTECOUNTS, "StripByteCounts"},
    {TIFFTAG_PLANARCONFIG, "PlanarConfiguration"},
    {TIFFTAG_COLORMAP, "ColorMap"},
    {TIFFTAG_TILEWIDTH, "TileWidth"},
    {TIFFTAG_TILELENGTH, "TileLength"},
    {TIFFTAG_TILEOFFSETS, "TileOffsets"},
    {TIFFTAG_TILEBYTECOUNTS, "TileByteCounts"},
    {TIFFTAG_EXTRASAMPLES, "ExtraSamples"},
}};

// Bytes of one value of a field type; 0 for a type libtiff does not read.
std::uint64_t TypeBytes(std::uint16_t type) {
    switch (type) {
        case TIFF_BYTE:
        case TIFF_ASCII:
        case TIFF_SBYTE:
        case TIFF_UNDEFINED:
            return 1;
        case TIFF_SHORT:
        case TIFF_SSHORT:
            return 2;
        case TIFF_LONG:
        case TIFF_SLONG:
        case TIFF_FLOAT:
        case TIFF_IFD:
            return 4;
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
        case TIFF_DOUBLE:
        case TIFF_LONG8:
        case TIFF_SLONG8:
        case TIFF_IFD8:
            return 8;
        default:
            return 0;
    }
}

// Reads the fields of a TIFF in its byte order; every offset is checked by the caller.
struct FileReader {
    const std::uint8_t* data = nullptr;
    bool isBigEndian = false;

    std::uint16_t U16(std::uint64_t at) const {
        return isBigEndian ? LoadU16BE(data + at) : LoadU16LE(data + at);
    }
    std::uint32_t U32(std::uint64_t at) const {
        return isBigEndian ? LoadU32BE(data + at) : LoadU32LE(data + at);
    }
    std::uint64_t U64(std::uint64_t at) const {
        return isBigEndian ? std::uint64_t{LoadU32BE(data + at)} << 32 | LoadU32BE(data + at + 4)
                           : LoadU64LE(data + at);
    }
};

// The most bytes one coded byte may expand to under a coding the bounds below do not know.
constexpr std::uint64_t UnknownCodingExpansion = 65536;

// The most bytes one coded byte can expand to under a compression. The bounds are loose
// (an image near one is a bomb, not a picture), so no real file is refused by them.
std::uint64_t MaxExpansion(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return 1;
        case COMPRESSION_PACKBITS:
            return 64;  // two bytes code a run of 128
        case COMPRESSION_DEFLATE:
        case COMPRESSION_ADOBE_DEFLATE:
            return 1100;  // deflate's limit is about 1,032
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG:
            return 2048;  // a bit at the least for each 8 x 8 block of samples
        case COMPRESSION_LZW:
            return 4096;  // a code of 9 to 12 bits gives at most one table entry
        default:
            return UnknownCodingExpansion;
    }
}

bool IsFaxCompression(std::uint16_t compression) {
    return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
           compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
}

// The least bits a fax coding takes for one row of width pixels. Two-dimensional coding can
// give a row the same changes as the one above in a single bit; one-dimensional (modified
// Huffman) coding spends a code of 9 bits or more on at most 2,560 pixels, so at the least a
// bit for every 256.
std::uint64_t LeastFaxRowBits(std::uint16_t compression, std::uint32_t width) {
    const bool isOneDimensional =
        compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW;
    return isOneDimensional ? std::max<std::uint64_t>(1, width / 256) : 1;
}

// True when every strip (or tile) claims no more bytes than the whole data: libtiff reads a
// strip into a buffer of its claimed size, so a larger claim would cost memory the data can
// never fill. More strips than bytes cannot all hold data either.
bool StripsFitTheData(tiff* handle, std::uint64_t size) {
    const std::uint32_t stripCount = TIFFNumberOfStrips(handle);
    if (stripCount > size) return false;
    for (std::uint32_t i = 0; i < stripCount; ++i) {
        if (TIFFGetStrileByteCount(handle, i) > size) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> PLTIFFDamagedDirectory(tiff* handle, const std::uint8_t* data,
                                                  std::int64_t size) {
    if (data == nullptr || size < 8) return std::nullopt;
    const auto fileBytes = static_cast<std::uint64_t>(size);
    FileReader file{data, std::memcmp(data, "MM", 2) == 0};
    const bool isBigTiff = file.U16(2) == 43;
    if (isBigTiff && fileBytes < 16) return std::nullopt;
    // Classic: a 2-byte entry count and 12-byte entries with 4 bytes of value in place.
    // BigTIFF: an 8-byte count and 20-byte entries with 8 bytes in place.
    const std::uint64_t directory = isBigTiff ? file.U64(8) : file.U32(4);
    const std::uint64_t countBytes = isBigTiff ? 8 : 2;
    const std::uint64_t entryBytes = isBigTiff ? 20 : 12;
    const std::uint64_t inPlaceBytes = isBigTiff ? 8 : 4;
    // A directory that is not all there is libtiff's own error.
    if (directory > fileBytes || countBytes > fileBytes - directory) return std::nullopt;
    const std::uint64_t entriesAt = directory + countBytes;
    const std::uint64_t entryCount =
        std::min(isBigTiff ? file.U64(directory) : file.U16(directory),
                 (fileBytes - entriesAt) / entryBytes);

    bool isPalette = false;
    for (std::uint64_t i = 0; i < entryCount; ++i) {
        const std::uint64_t at = entriesAt + i * entryBytes;
        const std::uint16_t tag = file.U16(at);
        const std::uint16_t type = file.U16(at + 2);
        const std::uint64_t count = isBigTiff ? file.U64(at + 4) : file.U32(at + 4);
        const std::uint64_t valueAt = at + (isBigTiff ? 12 : 8);
        if (tag == TIFFTAG_PHOTOMETRIC && type == TIFF_SHORT && count >= 1) {
            isPalette = file.U16(valueAt) == PHOTOMETRIC_PALETTE;
        }
        const auto required =
            std::find_if(RequiredTags.begin(), RequiredTags.end(),
                         [tag](const RequiredTag& r) { return r.tag == tag; });
        const std::uint64_t valueBytes = TypeBytes(type);
        if (required == RequiredTags.end() || valueBytes == 0) continue;
        const bool isCut = [&] {
            if (count > std::numeric_limits<std::uint64_t>::max() / valueBytes) return true;
            const std::uint64_t bytes = count * valueBytes;
            if (bytes <= inPlaceBytes) return false;
            const std::uint64_t offset = isBigTiff ? file.U64(valueAt) : file.U32(valueAt);
            return offset > fileBytes || bytes > fileBytes - offset;
        }();
        if (isCut) return std::string("TIFF tag ") + required->name + " is cut short.";
    }

    if (isPalette) {
        // libtiff turns a palette image whose map it set aside into grey.
        std::uint16_t photometric = 0;
        std::uint16_t* red = nullptr;
        std::uint16_t* green = nullptr;
        std::uint16_t* blue = nullptr;
        if (TIFFGetFieldDefaulted(handle, TIFFTAG_PHOTOMETRIC, &photometric) == 0 ||
            photometric != PHOTOMETRIC_PALETTE ||
            TIFFGetField(handle, TIFFTAG_COLORMAP, &red, &green, &blue) == 0) {
            return std::string("TIFF palette image without a usable colour map.");
        }
    }
    return std::nullopt;
}

bool PLTIFFBytesCanHoldImage(tiff* handle, std::int64_t size) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(handle, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetFieldDefaulted(handle, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(handle, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetFieldDefaulted(handle, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetFieldDefaulted(handle, TIFFTAG_COMPRESSION, &compression);
    if (width == 0 || height == 0 || size < 0) return true;
    const auto dataBytes = static_cast<std::uint64_t>(size);
    if (!StripsFitTheData(handle, dataBytes)) return false;
    const std::uint64_t rows = std::max<std::uint64_t>(height / 3, 1);
    // Fax codes one bit a sample; any other depth is bounded as an unknown coding.
    if (IsFaxCompression(compression) && bitsPerSample == 1 && samplesPerPixel == 1) {
        const std::uint64_t rowBits = LeastFaxRowBits(compression, width);
        return rows <= dataBytes * 8 / rowBits;
    }
    // Width (32 bits) times samples and bits (16 bits each) fits 64 bits; times the rows it
    // need not, and an image past 64 bits can be held by nothing.
    const std::uint64_t rowBytes =
        (std::uint64_t{width} * samplesPerPixel * bitsPerSample + 7) / 8;
    if (rowBytes > std::numeric_limits<std::uint64_t>::max() / rows) return false;
    const std::uint64_t total = rowBytes * rows;
    const std::uint64_t expansion =
        IsFaxCompression(compression) ? UnknownCodingExpansion : MaxExpansion(compression);
    const std::uint64_t leastBytes = total / expansion + (total % expansion != 0 ? 1 : 0);
    return leastBytes <= dataBytes;
}
