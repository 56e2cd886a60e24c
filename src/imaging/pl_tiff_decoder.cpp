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
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

constexpr const char* OutOfMemoryText = "Out of memory allocating TIFF buffer.";

// Ends the RGBA reader on every path out of the RGBA decode.
struct RGBAImageGuard {
    TIFFRGBAImage* image;
    ~RGBAImageGuard() { TIFFRGBAImageEnd(image); }
};

// The contiguous put routine for 8-bit samples with unassociated alpha: packs red, green,
// blue and alpha as they stand in the file. libtiff's own routine would multiply the colours
// by alpha, and the one that packs unchanged is private to libtiff.
void PutRGBAUnchanged(TIFFRGBAImage* image, std::uint32_t* raster, std::uint32_t /*x*/,
                      std::uint32_t /*y*/, std::uint32_t width, std::uint32_t height,
                      std::int32_t fromSkew, std::int32_t toSkew, unsigned char* samples) {
    const int samplesPerPixel = image->samplesperpixel;
    const std::ptrdiff_t sampleSkew = static_cast<std::ptrdiff_t>(fromSkew) * samplesPerPixel;
    for (; height > 0; --height) {
        for (std::uint32_t i = 0; i < width; ++i) {
            *raster++ = static_cast<std::uint32_t>(samples[0]) |
                        (static_cast<std::uint32_t>(samples[1]) << 8) |
                        (static_cast<std::uint32_t>(samples[2]) << 16) |
                        (static_cast<std::uint32_t>(samples[3]) << 24);
            samples += samplesPerPixel;
        }
        raster += toSkew;
        samples += sampleSkew;
    }
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
    // As large as the bitmap, so bounded as the bitmap is.
    PLPrivateVector<std::uint32_t> raster(static_cast<std::size_t>(width) * height);

    if (image.isContig && image.alpha == EXTRASAMPLE_UNASSALPHA && image.bitspersample == 8 &&
        image.samplesperpixel == 4 && image.photometric == PHOTOMETRIC_RGB) {
        image.put.contig = PutRGBAUnchanged;
    }
    const int isRead = TIFFRGBAImageGet(&image, raster.data(), width, height);
    PLTIFFRaiseIfError();
    if (isRead == 0) RaiseError(PLErrWrongSignature, "TIFF image data could not be read.");

    // The raster is bottom-up, red in the low byte of each word.
    std::uint8_t* const* lines = bmp.GetLineArray();
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint32_t* in = raster.data() + static_cast<std::size_t>(height - 1 - y) * width;
        std::uint8_t* out = lines[y];
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t word = in[x];
            out[4 * x] = static_cast<std::uint8_t>(word >> 16);
            out[4 * x + 1] = static_cast<std::uint8_t>(word >> 8);
            out[4 * x + 2] = static_cast<std::uint8_t>(word);
            out[4 * x + 3] = static_cast<std::uint8_t>(word >> 24);
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
