#include "imaging/pl_tiff_decoder.h"

#include "core/check.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_tiff_check.h"
#include "imaging/pl_trace.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

// Raster words and pixels are read and written as native words: blue in the low byte is the
// pixel's first byte.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr const char* OutOfMemoryText = "Out of memory allocating TIFF buffer.";

// Ends the RGBA reader on every path out of the RGBA decode.
struct RGBAImageGuard {
    TIFFRGBAImage* image;
    ~RGBAImageGuard() { TIFFRGBAImageEnd(image); }
};

// Red and blue swap places: of a word read little-endian from RGBA samples, bytes 0 and 2.
constexpr std::uint32_t SwapRedBlue(std::uint32_t word) {
    return (word & 0xFF00FF00u) | ((word & 0xFFu) << 16) | ((word >> 16) & 0xFFu);
}

// Turns a row of RGB samples into opaque pixels.
void PackRgbRow(const std::uint8_t* samples, std::uint8_t* row, std::uint32_t width) {
    std::uint32_t x = 0;
    // Four bytes are read a pixel, so the row's last pixel is left to the loop below.
    for (; x + 1 < width; ++x) {
        std::uint32_t word = 0;
        std::memcpy(&word, samples + 3 * static_cast<std::size_t>(x), sizeof(word));
        word = SwapRedBlue(word) | 0xFF000000u;
        std::memcpy(row + 4 * static_cast<std::size_t>(x), &word, sizeof(word));
    }
    for (; x < width; ++x) {
        const std::uint8_t* s = samples + 3 * static_cast<std::size_t>(x);
        std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
        p[0] = s[2];
        p[1] = s[1];
        p[2] = s[0];
        p[3] = 0xFF;
    }
}

// Contiguous put routines for 8-bit RGB samples that write pixels as bitmaps hold them (blue,
// green, red, alpha in memory) instead of libtiff's raster words (red in the low byte), so the
// image needs no pass of its own afterwards. With alpha the four samples are packed as they
// stand: associated alpha as libtiff packs it, unassociated alpha unchanged where libtiff would
// multiply the colours by alpha (its routine that packs unchanged is private to it). Without,
// three samples are packed with alpha 255, as libtiff does.
template <bool HasAlpha>
void PutBgra(TIFFRGBAImage* image, std::uint32_t* raster, std::uint32_t /*x*/, std::uint32_t /*y*/,
             std::uint32_t width, std::uint32_t height, std::int32_t fromSkew, std::int32_t toSkew,
             unsigned char* samples) {
    const int samplesPerPixel = image->samplesperpixel;
    const std::ptrdiff_t sampleSkew = static_cast<std::ptrdiff_t>(fromSkew) * samplesPerPixel;
    for (; height > 0; --height) {
        std::uint32_t i = 0;
        if (HasAlpha && samplesPerPixel == 4) {
            // Whole words at a fixed step, which the compiler takes several at a time.
            for (; i < width; ++i) {
                std::uint32_t word = 0;
                std::memcpy(&word, samples + 4 * static_cast<std::size_t>(i), sizeof(word));
                raster[i] = SwapRedBlue(word);
            }
            samples += 4 * static_cast<std::size_t>(width);
        } else if (!HasAlpha && samplesPerPixel == 3) {
            PackRgbRow(samples, reinterpret_cast<std::uint8_t*>(raster), width);
            samples += 3 * static_cast<std::size_t>(width);
            i = width;
        }
        for (; i < width; ++i) {
            const std::uint32_t alpha = HasAlpha ? samples[3] : 0xFFu;
            raster[i] = static_cast<std::uint32_t>(samples[2]) |
                        (static_cast<std::uint32_t>(samples[1]) << 8) |
                        (static_cast<std::uint32_t>(samples[0]) << 16) | (alpha << 24);
            samples += samplesPerPixel;
        }
        raster += width + static_cast<std::ptrdiff_t>(toSkew);
        samples += sampleSkew;
    }
}

// How rows of 8-bit RGB samples that libtiff decodes straight into the bitmap become pixels.
enum class RowPacking {
    None,           // not read as rows: the RGBA reader fills the bitmap
    RgbaWithAlpha,  // four samples, the fourth alpha taken as it stands
    RgbaOpaque,     // four samples, the fourth no alpha: alpha 255
    Rgb,            // three samples, alpha 255
};

// The codecs whose rows libtiff decodes one at a time as it decodes whole strips, so that a
// strip read row by row gives the strip's bytes.
bool DecodesRowByRow(std::uint16_t compression) {
    return compression == COMPRESSION_NONE || compression == COMPRESSION_LZW ||
           compression == COMPRESSION_PACKBITS || compression == COMPRESSION_ADOBE_DEFLATE ||
           compression == COMPRESSION_DEFLATE;
}

// The packing of the RGBA reader's image when its rows may be decoded in place of its strip
// reader: strips (not tiles) of contiguous 8-bit RGB with three or four samples, rows top
// down, a codec that decodes row by row, and a vertical subsampling the strip reader takes.
// The alpha choice is the RGBA reader's: a fourth sample is alpha when the image says it is
// associated or unassociated (libtiff presumes associated for four samples without extra
// samples). None for anything else.
RowPacking RowPackingOf(TIFF* tif, const TIFFRGBAImage& image) {
    if (TIFFIsTiled(tif) || !image.isContig || image.bitspersample != 8 ||
        image.photometric != PHOTOMETRIC_RGB) {
        return RowPacking::None;
    }
    if (image.orientation != ORIENTATION_TOPLEFT && image.orientation != ORIENTATION_LEFTTOP) {
        return RowPacking::None;
    }
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t subsamplingHorizontal = 0;
    std::uint16_t subsamplingVertical = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &subsamplingHorizontal,
                          &subsamplingVertical);
    // The strip reader refuses a vertical subsampling of 0 with its own report.
    if (!DecodesRowByRow(compression) || subsamplingVertical == 0) return RowPacking::None;
    const bool hasAlpha =
        image.alpha == EXTRASAMPLE_ASSOCALPHA || image.alpha == EXTRASAMPLE_UNASSALPHA;
    const std::int64_t samples = image.samplesperpixel;
    if (TIFFScanlineSize64(tif) != static_cast<std::uint64_t>(samples * image.width)) {
        return RowPacking::None;
    }
    if (samples == 4) return hasAlpha ? RowPacking::RgbaWithAlpha : RowPacking::RgbaOpaque;
    if (samples == 3 && !hasAlpha) return RowPacking::Rgb;
    return RowPacking::None;
}

// Turns a row of RGBA samples into pixels where they lie. Returns the pixels of alpha 0 or'ed
// together: not 0 when one of them has colour.
template <bool KeepsAlpha>
std::uint32_t PackRgbaRowInPlace(std::uint8_t* row, std::uint32_t width) {
    std::uint32_t colourOfClear = 0;
    for (std::uint32_t x = 0; x < width; ++x) {
        std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
        std::uint32_t word = 0;
        std::memcpy(&word, p, sizeof(word));
        word = KeepsAlpha ? SwapRedBlue(word) : SwapRedBlue(word) | 0xFF000000u;
        colourOfClear |= (word >> 24) == 0 ? word : 0u;
        std::memcpy(p, &word, sizeof(word));
    }
    return colourOfClear;
}

template <class T>
std::vector<T> AllocateBuffer(std::size_t count) {
    try {
        return std::vector<T>(count);
    } catch (const std::bad_alloc&) {
        PLPicDecoder::RaiseError(PLErrNoMemory, OutOfMemoryText);
    } catch (const std::length_error&) {
        PLPicDecoder::RaiseError(PLErrNoMemory, OutOfMemoryText);
    }
}

// Decodes the image row by row into the bitmap's rows and turns each into pixels as it comes.
// Returns the pixels of alpha 0 or'ed together (not 0 when one has colour). Throws
// PLTextException: code 2 with libtiff's report, 1 when a row fails without one.
std::uint32_t ReadRowsAsPixels(TIFF* tif, PLBmp& bmp, RowPacking packing) {
    const auto width = static_cast<std::uint32_t>(bmp.GetWidth());
    const auto height = static_cast<std::uint32_t>(bmp.GetHeight());
    std::uint8_t* const* lines = bmp.GetLineArray();
    // Three samples a pixel are decoded beside the row, which holds four bytes a pixel.
    std::vector<std::uint8_t> samples;
    if (packing == RowPacking::Rgb) samples = AllocateBuffer<std::uint8_t>(3 * std::size_t{width});
    std::uint32_t colourOfClear = 0;
    PLTIFFClearError();
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = lines[y];
        void* target = packing == RowPacking::Rgb ? samples.data() : row;
        // Any failure fails the image, rather than hand on rows that were never decoded.
        if (TIFFReadScanline(tif, target, y, 0) < 0) {
            PLTIFFRaiseIfError();
            PLPicDecoder::RaiseError(PLErrWrongSignature, "TIFF image data could not be read.");
        }
        switch (packing) {
            case RowPacking::RgbaWithAlpha:
                colourOfClear |= PackRgbaRowInPlace<true>(row, width);
                break;
            case RowPacking::RgbaOpaque:
                PackRgbaRowInPlace<false>(row, width);
                break;
            case RowPacking::Rgb:
                PackRgbRow(samples.data(), row, width);
                break;
            case RowPacking::None:
                break;
        }
    }
    PLTIFFRaiseIfError();
    return colourOfClear;
}

// Sample 0 of pixel x of a scanline of bitsPerSample-bit samples, samplesPerPixel a pixel,
// packed from the most significant bit; 0 for a pixel the scanline does not hold.
std::uint8_t ReadSample(const std::vector<std::uint8_t>& line, std::int64_t x, int samplesPerPixel,
                        int bitsPerSample) {
    const std::int64_t bit = x * samplesPerPixel * bitsPerSample;
    if (bit + bitsPerSample > static_cast<std::int64_t>(line.size()) * 8) return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < bitsPerSample; ++i) {
        const std::int64_t at = bit + i;
        value = (value << 1) | ((line[static_cast<std::size_t>(at >> 3)] >> (7 - (at & 7))) & 1u);
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

PLTIFFDecoder::PLTIFFDecoder() = default;

PLTIFFDecoder::~PLTIFFDecoder() = default;

void PLTIFFDecoder::Open(PLDataSource* source) {
    handle.reset();
    hasColourUnderClearAlpha.reset();
    PLTIFFClearError();
    // A read stream never writes, so the source's bytes stay as they are.
    handle.reset(TIFFOpenMem(const_cast<std::uint8_t*>(source->GetCurrentPtr()),
                             source->GetBytesLeft(), nullptr));
    PLTIFFRaiseIfError();
    if (!handle) RaiseError(PLErrWrongSignature, "TIFF stream could not be opened.");

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t samplesPerPixel = 0;
    std::uint16_t photometric = 0;
    GetFieldDefaulted(TIFFTAG_IMAGEWIDTH, &width);
    GetFieldDefaulted(TIFFTAG_IMAGELENGTH, &height);
    GetFieldDefaulted(TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    GetFieldDefaulted(TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    GetFieldDefaulted(TIFFTAG_PHOTOMETRIC, &photometric);
    PLTIFFRaiseIfError();
    constexpr auto MaxSide = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    if (width > MaxSide || height > MaxSide) {
        RaiseError(PLErrNoMemory, "Image too large.");
    }
    // Checked before the bitmap is made: a damaged directory that libtiff would decode as
    // something else, and a claim far beyond the data, never cost an allocation.
    if (const auto damage =
            PLTIFFDamagedDirectory(handle.get(), source->GetCurrentPtr(), source->GetBytesLeft())) {
        RaiseError(PLErrFormatUnknown, *damage);
    }
    if (!PLTIFFBytesCanHoldImage(handle.get(), source->GetBytesLeft())) {
        PLDataSource::ThrowEndOfFile();
    }

    // Grey of 9 to 16 bits is announced as 32-bit colour: the RGBA reader decodes it so.
    PLPixelFormat format = PLPixelFormat::X8R8G8B8;
    if (!TIFFIsTiled(handle.get())) {
        if (samplesPerPixel == 1 && bitsPerSample == 1) {
            format = PLPixelFormat::L1;
        } else if (samplesPerPixel <= 2 && bitsPerSample <= 8) {
            format = photometric <= PHOTOMETRIC_MINISBLACK ? PLPixelFormat::L8 : PLPixelFormat::I8;
        }
    }
    if (samplesPerPixel == 4 && photometric <= PHOTOMETRIC_PALETTE) {
        format = PLPixelFormat::A8R8G8B8;
    }

    float xResolution = 0.0f;
    float yResolution = 0.0f;
    std::uint16_t resolutionUnit = RESUNIT_INCH;
    if (GetField(TIFFTAG_XRESOLUTION, &xResolution) == 0 || !(xResolution > 1.0f)) {
        xResolution = 0.0f;
    }
    if (GetField(TIFFTAG_YRESOLUTION, &yResolution) == 0 || !(yResolution > 1.0f)) {
        yResolution = 0.0f;
    }
    double xDpi = xResolution;
    double yDpi = yResolution;
    if (GetField(TIFFTAG_RESOLUTIONUNIT, &resolutionUnit) != 0 && resolutionUnit != RESUNIT_INCH) {
        xDpi *= 2.54;
        yDpi *= 2.54;
    }
    PLTIFFRaiseIfError();
    // Resolutions far beyond any device are clamped rather than wrapped.
    const auto toDpi = [](double dpi) {
        return static_cast<std::int32_t>(std::min(dpi + 0.5, 2147483647.0));
    };
    SetInfo({static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)},
            {toDpi(xDpi), toDpi(yDpi)}, format);
}

void PLTIFFDecoder::GetImage(PLBmp& bmp) {
    ORBELLE_CHECK(handle != nullptr);
    hasColourUnderClearAlpha.reset();
    std::uint16_t bitsPerSample = 0;
    std::uint16_t samplesPerPixel = 0;
    GetFieldDefaulted(TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    GetFieldDefaulted(TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    if (samplesPerPixel <= 2 && bitsPerSample <= 8 && !TIFFIsTiled(handle.get())) {
        DoLoColor(bmp);
    } else {
        DoRGBA(bmp);
    }
}

std::optional<bool> PLTIFFDecoder::HasColourUnderClearAlpha() const {
    return hasColourUnderClearAlpha;
}

void PLTIFFDecoder::Close() {
    handle.reset();
    PLPicDecoder::Close();
}

int PLTIFFDecoder::GetField(std::uint32_t tag, ...) {
    if (!handle) return 0;
    va_list args;
    va_start(args, tag);
    const int result = TIFFVGetField(handle.get(), tag, args);
    va_end(args);
    return result;
}

int PLTIFFDecoder::GetFieldDefaulted(std::uint32_t tag, ...) {
    if (!handle) return 0;
    va_list args;
    va_start(args, tag);
    const int result = TIFFVGetFieldDefaulted(handle.get(), tag, args);
    va_end(args);
    return result;
}

void PLTIFFDecoder::DoRGBA(PLBmp& bmp) {
    ORBELLE_CHECK(bmp.GetBitsPerPixel() == 32);
    TIFF* tif = handle.get();
    std::array<char, 1024> message{};
    TIFFRGBAImage image{};
    PLTIFFClearError();
    if (TIFFRGBAImageBegin(&image, tif, 0, message.data()) == 0) {
        PLTIFFClearError();
        RaiseError(PLErrWrongSignature, "TIFF subformat not supported.");
    }
    RGBAImageGuard guard{&image};

    const auto width = static_cast<std::uint32_t>(bmp.GetWidth());
    const auto height = static_cast<std::uint32_t>(bmp.GetHeight());
    // The raster is the bitmap's own block (rows packed top-down, as every bitmap keeps
    // them), so the image is read in place, top row first.
    std::uint8_t* const* lines = bmp.GetLineArray();
    ORBELLE_CHECK(height < 2 || lines[1] - lines[0] == 4 * static_cast<std::ptrdiff_t>(width));
    image.req_orientation = ORIENTATION_TOPLEFT;

    // Strips of 8-bit RGB are decoded row by row into the bitmap's own rows and turned into
    // pixels while each row is still in the cache; that spares the strip reader's buffer of a
    // whole strip (the whole image, for a file of one strip) and a pass over it.
    if (const RowPacking packing = RowPackingOf(tif, image); packing != RowPacking::None) {
        hasColourUnderClearAlpha = ReadRowsAsPixels(tif, bmp, packing) != 0;
        return;
    }

    // The layouts libtiff packs from 8-bit RGB samples get the put routines that write pixels;
    // every other layout is read as raster words and turned into pixels where they lie.
    bool isWrittenAsPixels = false;
    if (image.isContig && image.bitspersample == 8 && image.photometric == PHOTOMETRIC_RGB) {
        // As libtiff chooses: alpha from a fourth sample marked associated or unassociated.
        const int samples = image.samplesperpixel;
        const bool isAssociated = image.alpha == EXTRASAMPLE_ASSOCALPHA;
        const bool hasAlpha =
            samples >= 4 && (isAssociated || image.alpha == EXTRASAMPLE_UNASSALPHA);
        if (hasAlpha && (isAssociated || samples == 4)) {
            image.put.contig = PutBgra<true>;
            isWrittenAsPixels = true;
        } else if (!hasAlpha && samples >= 3) {
            image.put.contig = PutBgra<false>;
            isWrittenAsPixels = true;
        }
    }
    const int isRead =
        TIFFRGBAImageGet(&image, reinterpret_cast<std::uint32_t*>(lines[0]), width, height);
    PLTIFFRaiseIfError();
    if (isRead == 0) RaiseError(PLErrWrongSignature, "TIFF image data could not be read.");
    if (isWrittenAsPixels) return;

    // Raster words hold red in the low byte; pixels are blue, green, red, alpha.
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = lines[y];
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
            std::uint32_t word = 0;
            std::memcpy(&word, p, sizeof(word));
            word = (word & 0xFF00FF00u) | ((word & 0xFFu) << 16) | ((word >> 16) & 0xFFu);
            std::memcpy(p, &word, sizeof(word));
        }
    }
}

void PLTIFFDecoder::DoLoColor(PLBmp& bmp) {
    const std::uint32_t targetBits = bmp.GetBitsPerPixel();
    ORBELLE_CHECK(targetBits == 1 || targetBits == 8);
    TIFF* tif = handle.get();
    std::uint16_t bitsPerSample = 0;
    std::uint16_t samplesPerPixel = 0;
    std::uint16_t photometric = 0;
    GetFieldDefaulted(TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    GetFieldDefaulted(TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    GetFieldDefaulted(TIFFTAG_PHOTOMETRIC, &photometric);
    if (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK &&
        photometric != PHOTOMETRIC_PALETTE) {
        PLTrace(2, "unexpected PhotometricInterpretation, default to PHOTOMETRIC_MINISWHITE\n");
        photometric = PHOTOMETRIC_MINISWHITE;
    }
    if (bitsPerSample == 0 || bitsPerSample > 8 || samplesPerPixel == 0) {
        RaiseError(PLErrFormatUnknown, "Unsupported TIFF bit depth.");
    }

    PLTIFFClearError();
    const tmsize_t scanlineSize = TIFFScanlineSize(tif);
    PLTIFFRaiseIfError();
    if (scanlineSize <= 0) RaiseError(PLErrFormatUnknown, "TIFF scanline size is invalid.");
    std::vector<std::uint8_t> line =
        AllocateBuffer<std::uint8_t>(static_cast<std::size_t>(scanlineSize));

    // The palette: 256 entries of blue, green, red, alpha.
    std::array<std::uint8_t, 256 * 4> palette{};
    const int entryCount = 1 << bitsPerSample;
    const auto setEntry = [&palette](int index, int red, int green, int blue) {
        std::uint8_t* entry = palette.data() + 4 * index;
        entry[0] = static_cast<std::uint8_t>(blue);
        entry[1] = static_cast<std::uint8_t>(green);
        entry[2] = static_cast<std::uint8_t>(red);
        entry[3] = 255;
    };
    if (photometric == PHOTOMETRIC_PALETTE) {
        std::uint16_t* red = nullptr;
        std::uint16_t* green = nullptr;
        std::uint16_t* blue = nullptr;
        if (GetField(TIFFTAG_COLORMAP, &red, &green, &blue) == 0) {
            PLTIFFClearError();
            RaiseError(PLErrFormatUnknown, "TIFF palette image without a colour map.");
        }
        // Writers disagree on the range: any value above 255 marks a map of 16-bit values.
        bool isWide = false;
        for (int i = 0; i < entryCount; ++i) {
            isWide = isWide || red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
        }
        const auto scale = [isWide](std::uint16_t value) {
            return isWide ? static_cast<int>(value * 255 / 65535) : static_cast<int>(value);
        };
        for (int i = 0; i < entryCount; ++i) {
            setEntry(i, scale(red[i]), scale(green[i]), scale(blue[i]));
        }
    } else {
        const int step = entryCount > 1 ? 255 / (entryCount - 1) : 0;
        for (int i = 0; i < entryCount; ++i) {
            const int grey = i * step;
            const int index = photometric == PHOTOMETRIC_MINISBLACK ? i : entryCount - 1 - i;
            setEntry(index, grey, grey, grey);
        }
    }

    // Rows of the first third must read; later failures keep what the buffer holds, so a
    // file cut short near its end still shows.
    const std::int32_t width = bmp.GetWidth();
    const std::int32_t height = bmp.GetHeight();
    const std::int32_t bytesPerLine = bmp.GetBytesPerLine();
    std::uint8_t* const* lines = bmp.GetLineArray();
    for (std::int32_t row = 0; row < height; ++row) {
        PLTIFFClearError();
        const int result = TIFFReadScanline(tif, line.data(), static_cast<std::uint32_t>(row), 0);
        if (result < 0 || PLTIFFHasError()) {
            PLTIFFClearError();
            if (row < height / 3) RaiseError(PLErrInternal, PLTIFFLastError());
        }
        std::uint8_t* out = lines[row];
        if (targetBits == 1 || (bitsPerSample == 8 && samplesPerPixel == 1)) {
            const std::size_t count = std::min(line.size(), static_cast<std::size_t>(bytesPerLine));
            std::memcpy(out, line.data(), count);
        } else {
            for (std::int32_t x = 0; x < width; ++x) {
                out[x] = ReadSample(line, x, samplesPerPixel, bitsPerSample);
            }
        }
    }
    bmp.CopyPalette(palette.data());
}
