#include "imaging/image_file.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/crc32.h"
#include "core/file_names.h"
#include "core/private_heap.h"
#include "imaging/image_mem_stream.h"
#include "imaging/imaging_init.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_bmp_encoder.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_file_sink.h"
#include "imaging/pl_file_source.h"
#include "imaging/pl_filter_crop.h"
#include "imaging/pl_filter_grayscale.h"
#include "imaging/pl_filter_resize_bilinear.h"
#include "imaging/pl_filter_resize_gaussian.h"
#include "imaging/pl_jpeg_encoder.h"
#include "imaging/pl_mem_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_tiff_check.h"
#include "imaging/pl_tiff_decoder.h"
#include "imaging/pl_tiff_encoder_ex.h"
#include "imaging/pl_tiff_mem_stream.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <vector>

// Pixel words and libtiff's raster words are handled as their little-endian bytes.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr std::array<const char*, 9> LoadMessages = {
    "",
    "File Signature unrecognized or file possibly corrupt.",
    "Unrecognized file format or compression setting.",
    "File not found or file access denied.",
    "This image file format is not supported.",
    "Image file type not recognized.",
    "Not enough memory to load image file",
    "End of file reached before end of image. File possibly corrupt.",
    "",
};

constexpr std::array<const char*, 9> SaveMessages = {
    "",
    "File Signature unrecognized or file possibly corrupt.",
    "Unrecognized file format or compression setting.",
    "File not found or file access denied.",
    "This image file format is not supported.",
    "Image file type not recognized.",
    "Not enough memory to save image file",
    "End of file reached before end of image. File possibly corrupt.",
    "Unknown error saving file.",
};

constexpr const char* TooManyChannelsText =
    "This TIFF file has more than 4 channels. Morvane cannot load TIFF files with more than 4 "
    "channels (r,g,b & alpha)";
constexpr const char* UnsupportedCompressionText =
    "Morvane does not support this TIF compression format.";
constexpr const char* NoMemoryToSaveText = "Not enough memory to save file";
constexpr const char* LoadErrorText = "Error loading image file.";
constexpr const char* NotInitialisedText =
    "The image library was not initialised (the process start-up did not run).";

// The largest pixel buffer handed across, as for bitmaps: sizes come from file headers.
constexpr std::uint64_t MaxBufferBytes = std::uint64_t{1} << 30;

// The result code for a library code, 0 where the table has none.
std::int32_t TableCode(std::int32_t libraryCode) {
    switch (libraryCode) {
        case PLErrWrongSignature:
            return ImageFileBadSignature;
        case PLErrFormatUnknown:
            return ImageFileBadFormat;
        case PLErrPathNotFound:
        case PLErrFileNotFound:
        case PLErrAccessDenied:
            return ImageFileNotFound;
        case PLErrFormatNotSupported:
            return ImageFileNotSupported;
        case PLErrUnknownFileType:
            return ImageFileUnknownType;
        case PLErrNoMemory:
            return ImageFileNoMemory;
        case PLErrEndOfFile:
            return ImageFileEndOfFile;
        default:
            return 0;
    }
}

// Loads fail for every library code: a TIFF row that cannot be read is a file cut short, a
// format without its decoder is not supported, anything else a corrupt file.
std::int32_t LoadCode(std::int32_t libraryCode) {
    if (const std::int32_t code = TableCode(libraryCode)) return code;
    if (libraryCode == PLErrInternal) return ImageFileEndOfFile;
    if (libraryCode == PLErrFormatNotCompiled) return ImageFileNotSupported;
    return ImageFileBadSignature;
}

std::int32_t SaveCode(std::int32_t libraryCode) {
    const std::int32_t code = TableCode(libraryCode);
    return code != 0 ? code : ImageFileUnknownError;
}

std::int32_t Fail(std::int32_t code, bool isSave, std::string& errorText) {
    errorText = ImageFileMessage(code, isSave);
    return code;
}

// The result for an image-library failure. A library that was never started says so, rather
// than have every file reported as corrupt or unsupported.
std::int32_t FailFromLibrary(std::int32_t libraryCode, bool isSave, std::string& errorText) {
    if (libraryCode == PLErrNotInitialised) {
        errorText = NotInitialisedText;
        return ImageFileUnknownError;
    }
    return Fail(isSave ? SaveCode(libraryCode) : LoadCode(libraryCode), isSave, errorText);
}

// Runs a load, turning the image library's failures into result codes and messages.
template <class Load>
std::int32_t RunLoad(std::string& errorText, Load&& load) {
    try {
        return load();
    } catch (const PLTextException& e) {
        return FailFromLibrary(e.GetCode(), false, errorText);
    } catch (const std::bad_alloc&) {
        return Fail(ImageFileNoMemory, false, errorText);
    }
}

// A private-heap block that is freed unless released to the caller.
class PrivateBlock {
public:
    explicit PrivateBlock(std::uint8_t* owned) : block(owned) {}
    PrivateBlock(const PrivateBlock&) = delete;
    PrivateBlock& operator=(const PrivateBlock&) = delete;
    ~PrivateBlock() { PrivateFree(block); }
    std::uint8_t* Get() const { return block; }
    std::uint8_t* Release() { return std::exchange(block, nullptr); }

private:
    std::uint8_t* block = nullptr;
};

// Closes a memory stream slot on every path.
class SlotGuard {
public:
    explicit SlotGuard(int openSlot) : slot(openSlot) {}
    SlotGuard(const SlotGuard&) = delete;
    SlotGuard& operator=(const SlotGuard&) = delete;
    ~SlotGuard() { MemStreamClose(slot); }

private:
    int slot;
};

// A bitmap whose pixel block is a private-heap block, so that a decoder fills the buffer the
// caller receives. The block is not zero-filled: it is only decoded into by decoders that
// write every pixel (DecodesEveryPixel) or filled by a conversion that writes every row.
// Throws as PLAnyBmp for sizes beyond the library's limit, KVOutOfMemoryException when the
// private heap refuses the block.
class PrivateHeapBmp : public PLBmp {
public:
    PrivateHeapBmp() = default;
    PrivateHeapBmp(const PrivateHeapBmp&) = delete;
    PrivateHeapBmp& operator=(const PrivateHeapBmp&) = delete;
    ~PrivateHeapBmp() override { FreeMembers(); }

    std::int64_t GetMemoryUsed() const override {
        return PLAnyBmp::EstimateMemory(GetWidth(), GetHeight(), GetBitsPerPixel()) + 192;
    }
    std::int32_t GetBytesPerLine() const override {
        return static_cast<std::int32_t>(PLRowBytes(GetWidth(), GetBitsPerPixel()));
    }

    // Hands the pixel block to the caller (PrivateFree); the bitmap keeps its header but
    // must not be read afterwards.
    std::uint8_t* Release() {
        lineArray.clear();
        return std::exchange(bits, nullptr);
    }

protected:
    void AllocateBits(std::int32_t width, std::int32_t height,
                      const PLPixelFormat& pixelFormat) override {
        const std::uint32_t bitsPerPixel = pixelFormat.GetBitsPerPixel();
        if (bitsPerPixel == 0) {
            throw PLTextException(PLErrFormatNotSupported, "No pixel format given for bitmap.");
        }
        if (width < 0 || height < 0) {
            throw PLTextException(PLErrWrongSignature, "Invalid bitmap size.");
        }
        // The same limit as every bitmap's, row table included.
        const std::int64_t rowBytes = PLRowBytes(width, bitsPerPixel);
        const std::int64_t rowCost = rowBytes + static_cast<std::int64_t>(sizeof(std::uint8_t*));
        constexpr auto Limit = static_cast<std::int64_t>(MaxBufferBytes);
        if (rowCost > Limit || (height > 0 && rowCost > Limit / height)) {
            throw PLTextException(PLErrNoMemory, "Out of memory allocating bitmap.");
        }
        const std::int64_t bytes = rowBytes * height;
        // Palette and row table come from the private heap too, so its ceiling bounds them.
        PLPrivateVector<std::uint8_t> newPalette(
            static_cast<std::size_t>(4 * pixelFormat.GetPaletteSize()), 0);
        PLPrivateVector<std::uint8_t*> newLines;
        newLines.reserve(static_cast<std::size_t>(height));
        // One byte at least, so an empty image still has a block for its rows to point at.
        auto* newBits = static_cast<std::uint8_t*>(
            PrivateAlloc(static_cast<std::uint32_t>(std::max<std::int64_t>(bytes, 1))));
        PrivateFree(bits);
        bits = newBits;
        palette = std::move(newPalette);
        lineArray = std::move(newLines);
        InitHeader(width, height, pixelFormat);
    }

    void BuildLineArray() override {
        const auto rowBytes = static_cast<std::size_t>(GetBytesPerLine());
        lineArray.clear();
        for (std::int32_t y = 0; y < GetHeight(); ++y) {
            lineArray.push_back(bits + static_cast<std::size_t>(y) * rowBytes);
        }
    }

    void FreeMembers() override {
        PrivateFree(std::exchange(bits, nullptr));
        PLPrivateVector<std::uint8_t>().swap(palette);
        PLPrivateVector<std::uint8_t*>().swap(lineArray);
    }

private:
    std::uint8_t* bits = nullptr;
};

// The bytes of an image: the caller's block, or the file read once, so that every decoder
// that looks at the image reads the same bytes.
class ImageInput {
public:
    // Returns 0, or the library code for a file that cannot be read.
    std::int32_t Open(std::string_view fileName, const std::uint8_t* data, std::int32_t size) {
        if (data != nullptr) {
            if (size < 0) return PLErrFileNotFound;
            bytes = data;
            count = size;
            return 0;
        }
        const std::int32_t code = file.Open(fileName);
        if (code != 0) return code;
        bytes = file.GetCurrentPtr();
        count = file.GetFileSize();
        return 0;
    }

    const std::uint8_t* Bytes() const { return bytes; }
    std::int32_t Count() const { return count; }

private:
    PLFileSource file;
    const std::uint8_t* bytes = nullptr;
    std::int32_t count = 0;
};

PLFileType DetectType(const ImageInput& input) {
    PLMemSource source;
    source.Open(input.Bytes(), input.Count());
    PLAnyPicDecoder decoder;
    decoder.Open(&source);
    const PLFileType type = decoder.GetFileType();
    decoder.Close();
    return type;
}

struct TiffAlphaInfo {
    std::uint16_t samplesPerPixel = 0;
    bool isAssociated = false;  // extra samples is exactly one value, 1
    std::uint16_t compression = COMPRESSION_NONE;
};

TiffAlphaInfo ReadTiffAlphaInfo(const ImageInput& input) {
    PLMemSource source;
    source.Open(input.Bytes(), input.Count());
    PLTIFFDecoder decoder;
    decoder.Open(&source);
    TiffAlphaInfo info;
    decoder.GetFieldDefaulted(TIFFTAG_SAMPLESPERPIXEL, &info.samplesPerPixel);
    decoder.GetFieldDefaulted(TIFFTAG_COMPRESSION, &info.compression);
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (decoder.GetField(TIFFTAG_EXTRASAMPLES, &extraCount, &extra) != 0) {
        info.isAssociated = extraCount == 1 && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    decoder.Close();
    return info;
}

// A TGA 2.0 file says whether its alpha is premultiplied (attributes type 4) in its extension
// area, which the 26-byte footer locates; a file without footer or extension area says
// nothing (empty), and the caller keeps its own presumption. The footer is read from the
// bytes being decoded, which for a memory block need not be those of the named file.
std::optional<bool> TgaSaysPremultiplied(const std::uint8_t* bytes, std::int32_t count) {
    constexpr std::int32_t FooterSize = 26;
    constexpr std::uint64_t AttributesTypeOffset = 494;
    if (count < FooterSize) return std::nullopt;
    const std::uint8_t* footer = bytes + count - FooterSize;
    if (std::memcmp(footer + 8, "TRUEVISION-XFILE", 16) != 0) return std::nullopt;
    const std::uint32_t offset = LoadU32LE(footer);
    if (offset == 0) return std::nullopt;
    // An extension area cut off by the end of the file cannot confirm premultiplied alpha.
    if (offset + AttributesTypeOffset >= static_cast<std::uint64_t>(count)) return false;
    return bytes[offset + AttributesTypeOffset] == 4;
}

void DecodeBitmap(const ImageInput& input, PLAnyBmp& bmp) {
    PLAnyPicDecoder decoder;
    decoder.MakeBmpFromMemory(input.Bytes(), input.Count(), bmp);
}

// True when a 32-bit pixel has alpha 0 but some colour: such a pixel cannot be premultiplied.
// Rows are searched whole, without a branch a pixel, so the compiler takes several a step.
bool ContradictsPremultiplied(const PLBmp& bmp) {
    const std::int32_t width = bmp.GetWidth();
    for (std::int32_t y = 0; y < bmp.GetHeight(); ++y) {
        const std::uint8_t* row = bmp.GetLineArray()[y];
        std::uint32_t colourOfClear = 0;
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint32_t word = 0;
            std::memcpy(&word, row + 4 * static_cast<std::size_t>(x), sizeof(word));
            colourOfClear |= (word >> 24) == 0 ? word : 0u;
        }
        if (colourOfClear != 0) return true;
    }
    return false;
}

// The file types whose decoders write every byte of a 32-bit image they decode, so that it
// may be decoded into memory that was not cleared: JPEG (libjpeg writes every row), TIFF (the
// RGBA reader puts every pixel or fails), Windows bitmaps (16 to 32 bits are never run-length
// coded) and TGA (every stored or run-length pixel is written, or decoding fails). A PSD
// document with fewer colour channels than its format leaves bytes of every pixel alone.
bool DecodesEveryPixel(PLFileType type) {
    return type == PLFileTypeJpeg || type == PLFileTypeTiff || type == PLFileTypeBmp ||
           type == PLFileTypeTga;
}

// A new private-heap buffer for the pixels of a decoded bitmap (which holds at most 1 GB).
// Throws KVOutOfMemoryException when refused.
std::uint8_t* AllocatePixels(std::int32_t width, std::int32_t height, std::int32_t bytesPerPixel) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(width) *
                                static_cast<std::uint64_t>(height) *
                                static_cast<std::uint64_t>(bytesPerPixel);
    ORBELLE_CHECK(bytes <= MaxBufferBytes);
    return static_cast<std::uint8_t*>(PrivateAlloc(static_cast<std::uint32_t>(bytes)));
}

// Byte positions (0 lowest) of alpha, red, green and blue in a word of a 4-letter order;
// -1 for a letter the order lacks.
std::array<int, 4> BytePositions(std::string_view order) {
    std::array<int, 4> positions{};
    constexpr std::string_view Letters = "argb";
    for (std::size_t c = 0; c < 4; ++c) {
        const std::size_t at = order.find(Letters[c]);
        positions[c] = at == std::string_view::npos ? -1 : 3 - static_cast<int>(at);
    }
    return positions;
}

void PremultiplyRow(std::uint8_t* row, std::int32_t width, const std::array<int, 4>& positions) {
    if (positions[0] < 0) return;
    for (std::int32_t x = 0; x < width; ++x) {
        std::uint8_t* p = row + 4 * x;
        const int alpha = p[positions[0]];
        for (std::size_t c = 1; c < 4; ++c) {
            if (positions[c] >= 0) {
                p[positions[c]] = static_cast<std::uint8_t>(p[positions[c]] * alpha / 255);
            }
        }
    }
}

// Tints count pixels (blue, green, red, alpha) in place by the pixel's green byte.
void TintPixels(std::uint8_t* pixels, std::int64_t count, std::int32_t mode,
                std::int32_t strength) {
    if (mode < 1 || mode > 4) return;
    // Strengths outside 0 to 100 would make the divisor 0 or turn the curve over.
    const int s = std::clamp(strength, 0, 100);
    if (mode == 4) {
        const double k = s / 100.0;
        for (std::int64_t i = 0; i < count; ++i) {
            std::uint8_t* p = pixels + 4 * i;
            const int green = p[1];
            const double spread = std::abs(green - 128) / 128.0;
            const double u = 1.0 - spread;
            const double cube = u * u * u;
            const double blend =
                green <= 128 ? 0.5 * u * (1.0 - k) + 0.5 * cube * k
                             : (0.5 * spread + 0.5) * (1.0 - k) + (0.5 * (1.0 - cube) + 0.5) * k;
            const int v = static_cast<std::uint8_t>(static_cast<int>(255.0 - blend * 255.0));
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<std::uint8_t>(std::min(255 - (255 - p[c]) * v / 255, 255));
            }
        }
        return;
    }
    constexpr std::array<std::array<double, 3>, 3> Factors = {{
        {1.0, 1.0, 1.0},
        {1.05, 1.0, 0.95},
        {0.975, 0.975, 1.05},
    }};
    const std::array<double, 3>& factors = Factors[static_cast<std::size_t>(mode - 1)];
    const int divisor = 256 + ((100 - s) * 256) / 20;
    for (std::int64_t i = 0; i < count; ++i) {
        std::uint8_t* p = pixels + 4 * i;
        const int t = (((p[1] - 128) * 256) / divisor + 128) & 0xFF;
        for (int c = 0; c < 3; ++c) {
            const int v =
                static_cast<int>(std::min(t * factors[static_cast<std::size_t>(c)], 255.0));
            const int colour = p[c];
            const int blended =
                v < 128 ? std::min(2 * colour * v / 255, 255)
                        : std::clamp(255 - 2 * (255 - colour) * (255 - v) / 255, 0, 255);
            p[c] = static_cast<std::uint8_t>(blended);
        }
    }
}

void SaveTiff(const PLBmp& bmp, std::string_view fileName, bool lzw, bool alpha,
              bool premultiplied) {
    const std::int64_t maxSize = PLPicEncoder::MaxEncodedSize(bmp);
    if (maxSize > std::numeric_limits<std::int32_t>::max()) {
        throw PLTextException(PLErrNoMemory, "Image too large to encode.");
    }
    PLFileSink sink;
    const std::int32_t code = sink.Open(fileName, static_cast<std::int32_t>(maxSize));
    if (code != 0) throw PLTextException(code, "Opening the file failed.");
    PLTIFFEncoderEx encoder;
    if (!encoder.Associate(sink)) throw PLTextException(PLErrInternal, "TIFF stream not opened.");
    encoder.SetCompression(lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    encoder.SetBaseTags(bmp);
    if (alpha) {
        const std::uint16_t extra = premultiplied ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        encoder.SetField(TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    encoder.SetField(TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    encoder.SetField(TIFFTAG_XRESOLUTION, 72.0);
    encoder.SetField(TIFFTAG_YRESOLUTION, 72.0);
    encoder.SaveBmp(bmp, sink);
    encoder.Dissociate();
    sink.Close();
}

}  // namespace

const char* ImageFileMessage(std::int32_t code, bool isSave) {
    if (code < 0 || code >= static_cast<std::int32_t>(LoadMessages.size())) return "";
    return (isSave ? SaveMessages : LoadMessages)[static_cast<std::size_t>(code)];
}

void ConvertChannelOrder(std::string_view from, std::string_view to, const std::uint8_t* src,
                         std::uint8_t* dst, std::int32_t width, std::int32_t rows,
                         std::int32_t srcStride) {
    ORBELLE_CHECK((from.size() == 3 || from.size() == 4) && (to.size() == 3 || to.size() == 4));
    if (width <= 0 || rows <= 0) return;
    const std::size_t outBytes = to.size();
    const std::size_t rowOut = outBytes * static_cast<std::size_t>(width);
    if (from == to) {
        for (std::int32_t r = 0; r < rows; ++r) {
            std::memcpy(dst + rowOut * static_cast<std::size_t>(r),
                        src + static_cast<std::ptrdiff_t>(srcStride) * r, rowOut);
        }
        return;
    }
    // Letter i of an order occupies bits 24 - 8i to 31 - 8i of the word.
    std::array<int, 4> shifts{};
    for (std::size_t j = 0; j < outBytes; ++j) {
        const std::size_t at = from.find(to[j]);
        shifts[j] = at == std::string_view::npos ? 0 : 24 - 8 * static_cast<int>(at);
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        const std::uint8_t* in = src + static_cast<std::ptrdiff_t>(srcStride) * r;
        std::uint8_t* out = dst + rowOut * static_cast<std::size_t>(r);
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t word = LoadU32LE(in + 4 * x);
            if (outBytes == 4) {
                StoreU32LE(out + 4 * x,
                           ((word >> shifts[0]) & 0xFF) << 24 | ((word >> shifts[1]) & 0xFF) << 16 |
                               ((word >> shifts[2]) & 0xFF) << 8 | ((word >> shifts[3]) & 0xFF));
            } else {
                std::uint8_t* o = out + 3 * x;
                o[0] = static_cast<std::uint8_t>(word >> shifts[0]);
                o[1] = static_cast<std::uint8_t>(word >> shifts[1]);
                o[2] = static_cast<std::uint8_t>(word >> shifts[2]);
            }
        }
    }
}

std::uint8_t* EncodeTiffToMemory(std::string_view order, const std::uint8_t* pixels,
                                 std::int32_t width, std::int32_t height, std::int32_t stride,
                                 bool alpha, std::int16_t premultiplied, std::uint32_t& outSize) {
    ORBELLE_CHECK(order.size() == 4);
    outSize = 0;
    const std::int64_t rowBytes = 4 * std::int64_t{width};
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < rowBytes) return nullptr;
    // libtiff's errors are seen only through the handlers the start-up installs.
    if (!ImagingIsInitialised()) return nullptr;
    const int slot = MemStreamOpen(nullptr, 0, 'w');
    if (slot < 0) return nullptr;
    SlotGuard slotGuard(slot);

    bool isWritten = true;
    try {
        PLTIFFClearError();
        PLTIFFHandle tif(MemStreamOpenTIFF(slot, "w"));
        if (!tif) isWritten = false;
        if (tif) {
            TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
            TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
            TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, alpha ? 4 : 3);
            if (alpha) {
                const std::uint16_t extra =
                    premultiplied < 1 ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_ASSOCALPHA;
                TIFFSetField(tif.get(), TIFFTAG_EXTRASAMPLES, 1, &extra);
            }
            TIFFSetField(tif.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
            TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_LZW);

            // Only the row's own pixels are read, whatever the stride.
            const std::array<int, 4> positions = BytePositions(order);
            std::vector<std::uint8_t> work(static_cast<std::size_t>(rowBytes));
            std::vector<std::uint8_t> scanline(static_cast<std::size_t>(rowBytes));
            for (std::int32_t y = 0; y < height && isWritten; ++y) {
                std::memcpy(work.data(), pixels + static_cast<std::ptrdiff_t>(stride) * y,
                            work.size());
                if (alpha && premultiplied == 2) PremultiplyRow(work.data(), width, positions);
                ConvertChannelOrder(order, alpha ? "abgr" : "rgb", work.data(), scanline.data(),
                                    width, 1, static_cast<std::int32_t>(rowBytes));
                isWritten = TIFFWriteScanline(tif.get(), scanline.data(),
                                              static_cast<std::uint32_t>(y), 0) >= 0;
            }
        }
    } catch (const std::bad_alloc&) {
        isWritten = false;
    }
    // The TIFF is closed (its directory written) by now.
    if (MemStreamOutOfMemory(slot)) {
        PLTIFFClearError();
        ThrowOutOfMemory();
    }
    if (!isWritten || PLTIFFHasError()) {
        PLTIFFClearError();
        return nullptr;
    }
    return MemStreamTakeBlock(slot, outSize);
}

std::uint8_t* DecodeTiffFromMemory(const std::uint8_t* data, std::int32_t size,
                                   std::string_view order, std::int32_t& width,
                                   std::int32_t& height, std::int32_t& samplesPerPixel) {
    ORBELLE_CHECK(order.size() == 3 || order.size() == 4);
    if (data == nullptr || size < 0 || !ImagingIsInitialised()) return nullptr;
    // A read stream never writes the bytes it lies over.
    const int slot = MemStreamOpen(const_cast<std::uint8_t*>(data), size, 'r');
    if (slot < 0) return nullptr;
    SlotGuard slotGuard(slot);
    PLTIFFClearError();
    PLTIFFHandle tif(MemStreamOpenTIFF(slot, "r"));
    if (!tif) {
        PLTIFFClearError();
        return nullptr;
    }
    std::uint32_t imageWidth = 0;
    std::uint32_t imageHeight = 0;
    std::uint16_t samples = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_IMAGEWIDTH, &imageWidth);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_IMAGELENGTH, &imageHeight);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    const std::uint64_t bytes = std::uint64_t{imageWidth} * imageHeight * 4;
    if (bytes == 0 || bytes > MaxBufferBytes || PLTIFFDamagedDirectory(tif.get(), data, size) ||
        !PLTIFFBytesCanHoldImage(tif.get(), size)) {
        PLTIFFClearError();
        return nullptr;
    }
    width = static_cast<std::int32_t>(imageWidth);
    height = static_cast<std::int32_t>(imageHeight);
    samplesPerPixel = samples;

    // Not cleared: a read that succeeds puts every pixel, and one that fails frees the block.
    std::uint8_t* block = nullptr;
    try {
        block = static_cast<std::uint8_t*>(PrivateAlloc(static_cast<std::uint32_t>(bytes)));
    } catch (const KVOutOfMemoryException&) {
        PLTIFFClearError();
        return nullptr;
    }
    PrivateBlock buffer(block);
    // Top-left orientation gives the rows top-down, so no flip is needed.
    const int isRead =
        TIFFReadRGBAImageOriented(tif.get(), imageWidth, imageHeight,
                                  reinterpret_cast<std::uint32_t*>(block), ORIENTATION_TOPLEFT, 0);
    const bool hasError = PLTIFFHasError();
    PLTIFFClearError();
    // An image that reads only in part is refused rather than handed on half black.
    if (isRead == 0 || hasError) return nullptr;

    // Each pixel is rewritten where it lies; a three-byte order packs the front of its row.
    if (order != "abgr") {
        const std::size_t rowBytes = 4 * static_cast<std::size_t>(imageWidth);
        for (std::uint32_t y = 0; y < imageHeight; ++y) {
            std::uint8_t* at = block + rowBytes * y;
            ConvertChannelOrder("abgr", order, at, at, width, 1,
                                static_cast<std::int32_t>(rowBytes));
        }
    }
    return buffer.Release();
}

std::int32_t LoadImageFile(std::string_view order, std::int32_t& width, std::uint8_t*& pixels,
                           std::string_view fileName, const std::uint8_t* data,
                           std::int32_t dataSize, bool& premultiplied, std::int32_t& height,
                           std::int32_t& stride, std::string& errorText) {
    ORBELLE_CHECK(order.size() == 3 || order.size() == 4);
    return RunLoad(errorText, [&]() -> std::int32_t {
        ImageInput input;
        if (const std::int32_t code = input.Open(fileName, data, dataSize)) {
            return Fail(LoadCode(code), false, errorText);
        }
        PLMemSource source;
        source.Open(input.Bytes(), input.Count());
        PLAnyPicDecoder decoder;
        decoder.Open(&source);
        const PLFileType type = decoder.GetFileType();
        bool isPremultiplied = false;
        if (type == PLFileTypeTiff) {
            const TiffAlphaInfo info = ReadTiffAlphaInfo(input);
            if (info.samplesPerPixel > 4) {
                errorText = TooManyChannelsText;
                return ImageFileNotSupported;
            }
            isPremultiplied = info.samplesPerPixel == 4 && info.isAssociated;
        } else if (type == PLFileTypeTga) {
            isPremultiplied =
                TgaSaysPremultiplied(input.Bytes(), input.Count()).value_or(isPremultiplied);
        }

        // 32-bit images are decoded straight into the caller's buffer; others are decoded as
        // they are and converted into it, the one intermediate image.
        PrivateHeapBmp out;
        if (decoder.GetBitsPerPixel() == 32 && DecodesEveryPixel(type)) {
            decoder.MakeBmp(out, PLPixelFormat::DontCare);
        } else {
            PLAnyBmp image;
            decoder.MakeBmp(image, PLPixelFormat::DontCare);
            out.CreateCopy(image, PLPixelFormat::A8R8G8B8);
        }
        // A decoder that looked at every pixel as it wrote it spares the pass over the image.
        if (isPremultiplied) {
            const std::optional<bool> hasColour = decoder.HasColourUnderClearAlpha();
            isPremultiplied = hasColour ? !*hasColour : !ContradictsPremultiplied(out);
        }
        decoder.Close();

        const std::int32_t imageWidth = out.GetWidth();
        const std::int32_t imageHeight = out.GetHeight();
        const std::size_t outStride = 4 * static_cast<std::size_t>(imageWidth);
        if (order != "argb") {
            // Each pixel is rewritten where it lies; a three-byte order packs the front of
            // its row.
            for (std::int32_t y = 0; y < imageHeight; ++y) {
                std::uint8_t* row = out.GetLineArray()[y];
                ConvertChannelOrder("argb", order, row, row, imageWidth, 1,
                                    static_cast<std::int32_t>(outStride));
            }
        }
        width = imageWidth;
        height = imageHeight;
        stride = static_cast<std::int32_t>(outStride);
        premultiplied = isPremultiplied;
        pixels = out.Release();
        return ImageFileOk;
    });
}

std::int32_t LoadGrayscaleImage(std::int32_t& height, std::string& errorText, std::uint8_t*& pixels,
                                std::int32_t& width, std::string_view fileName) {
    return RunLoad(errorText, [&]() -> std::int32_t {
        ImageInput input;
        if (const std::int32_t code = input.Open(fileName, nullptr, 0)) {
            return Fail(LoadCode(code), false, errorText);
        }
        PLAnyBmp image;
        DecodeBitmap(input, image);
        // Only 8-bit grey is taken as it is; one-byte rows are copied below.
        if (image.GetPixelFormat() != PLPixelFormat::L8) {
            PLAnyBmp colour;
            colour.CreateCopy(image, PLPixelFormat::R8G8B8);
            PLFilterGrayscale().Apply(colour, image);
        }
        const std::int32_t imageWidth = image.GetWidth();
        const std::int32_t imageHeight = image.GetHeight();
        std::uint8_t* out = AllocatePixels(imageWidth, imageHeight, 1);
        for (std::int32_t y = 0; y < imageHeight; ++y) {
            std::memcpy(out + static_cast<std::size_t>(imageWidth) * y, image.GetLineArray()[y],
                        static_cast<std::size_t>(imageWidth));
        }
        width = imageWidth;
        height = imageHeight;
        pixels = out;
        return ImageFileOk;
    });
}

std::int32_t SaveImageFile(std::uint8_t*& pixels, std::int32_t width, std::int32_t height,
                           std::string_view fileName, bool lzw, std::int32_t jpegQuality,
                           bool alpha, std::int32_t tintMode, std::int32_t tintStrength,
                           std::string& errorText, bool releasePixels, bool premultiplied,
                           std::int32_t srcStride) {
    PLAnyBmp bmp;
    try {
        bmp.CreateFromData(width, height, alpha ? PLPixelFormat::A8R8G8B8 : PLPixelFormat::X8R8G8B8,
                           nullptr, 0, {0, 0});
    } catch (const PLTextException& e) {
        if (e.GetCode() != PLErrNoMemory) return Fail(ImageFileUnknownError, true, errorText);
        errorText = NoMemoryToSaveText;
        return ImageFileNoMemory;
    } catch (const std::bad_alloc&) {
        errorText = NoMemoryToSaveText;
        return ImageFileNoMemory;
    }
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
    const std::ptrdiff_t stride =
        srcStride != 0 ? srcStride : static_cast<std::ptrdiff_t>(rowBytes);
    if (pixels == nullptr && rowBytes * static_cast<std::size_t>(height) != 0) {
        return Fail(ImageFileUnknownError, true, errorText);
    }
    if (tintMode > 0) {
        // The tinted copy is packed, so a wide source stride cannot pass its end.
        PrivateBlock tinted(AllocatePixels(width, height, 4));
        for (std::int32_t y = 0; y < height; ++y) {
            std::memcpy(tinted.Get() + rowBytes * static_cast<std::size_t>(y), pixels + stride * y,
                        rowBytes);
        }
        TintPixels(tinted.Get(), std::int64_t{width} * height, tintMode, tintStrength);
        for (std::int32_t y = 0; y < height; ++y) {
            std::memcpy(bmp.GetLineArray()[y],
                        tinted.Get() + rowBytes * static_cast<std::size_t>(y), rowBytes);
        }
    } else {
        for (std::int32_t y = 0; y < height; ++y) {
            std::memcpy(bmp.GetLineArray()[y], pixels + stride * y, rowBytes);
        }
    }
    if (releasePixels) {
        PrivateFree(pixels);
        pixels = nullptr;
    }

    const std::string extension = GetFileExtension(fileName);
    try {
        // The target is probed without being touched: the sink only creates its temporary.
        {
            PLFileSink probe;
            if (probe.Open(fileName, 0) != 0) return Fail(ImageFileNotFound, true, errorText);
        }
        if (extension == "tif" || extension == "tiff") {
            SaveTiff(bmp, fileName, lzw, alpha, premultiplied);
        } else if (extension == "jpg") {
            PLJPEGEncoder encoder;
            encoder.SetSmoothingFactor(0);
            encoder.SetQuality(std::clamp(jpegQuality, 1, 100));
            encoder.MakeFileFromBmp(fileName, bmp);
        } else if (extension == "bmp") {
            PLBmpEncoder().MakeFileFromBmp(fileName, bmp);
        } else {
            return Fail(ImageFileNotSupported, true, errorText);
        }
    } catch (const PLTextException& e) {
        return FailFromLibrary(e.GetCode(), true, errorText);
    } catch (const std::bad_alloc&) {
        return Fail(ImageFileNoMemory, true, errorText);
    }
    return ImageFileOk;
}

bool ImageAlphaIsPremultiplied(std::int32_t& resultCode, std::string_view fileName,
                               std::string& errorText) {
    resultCode = 0;
    bool isPremultiplied = true;
    try {
        ImageInput input;
        if (const std::int32_t code = input.Open(fileName, nullptr, 0)) {
            throw PLTextException(code, "");
        }
        const PLFileType type = DetectType(input);
        bool isTiffWithoutAlpha = false;
        if (type == PLFileTypeTiff) {
            const TiffAlphaInfo info = ReadTiffAlphaInfo(input);
            if (info.samplesPerPixel == 4) isPremultiplied = info.isAssociated;
            isTiffWithoutAlpha = info.samplesPerPixel < 4;
            constexpr std::array<std::uint16_t, 5> Supported = {
                COMPRESSION_NONE, COMPRESSION_CCITTRLE, COMPRESSION_LZW, COMPRESSION_PACKBITS,
                COMPRESSION_THUNDERSCAN};
            if (std::find(Supported.begin(), Supported.end(), info.compression) ==
                Supported.end()) {
                resultCode = 1;
                errorText = UnsupportedCompressionText;
                return false;
            }
        } else if (type == PLFileTypeTga) {
            isPremultiplied =
                TgaSaysPremultiplied(input.Bytes(), input.Count()).value_or(isPremultiplied);
        }
        PLAnyBmp image;
        DecodeBitmap(input, image);
        if (isPremultiplied && image.GetBitsPerPixel() == 32 && !isTiffWithoutAlpha &&
            type != PLFileTypeJpeg && ContradictsPremultiplied(image)) {
            isPremultiplied = false;
        }
        return isPremultiplied;
    } catch (const PLTextException& e) {
        resultCode = 1;
        const std::int32_t code = TableCode(e.GetCode());
        errorText = e.GetCode() == PLErrNotInitialised ? NotInitialisedText
                    : code != 0                        ? ImageFileMessage(code, false)
                                                       : LoadErrorText;
    } catch (const std::bad_alloc&) {
        resultCode = 1;
        errorText = ImageFileMessage(ImageFileNoMemory, false);
    }
    return false;
}

std::uint32_t ImageFileChecksum(std::string_view fileName) {
    try {
        ImageInput input;
        if (input.Open(fileName, nullptr, 0) != 0) return 0;
        PLAnyBmp image;
        DecodeBitmap(input, image);
        const auto rowBytes =
            static_cast<std::size_t>(std::int64_t{image.GetWidth()} * image.GetBitsPerPixel() / 8);
        std::uint32_t crc = 0xFFFFFFFF;
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            Crc32Update(crc, image.GetLineArray()[y], rowBytes);
        }
        return ~crc;
    } catch (const PLTextException&) {
        return 0;  // an image that does not decode has no checksum
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

namespace {

// The rows of a 32-bit bitmap as words that own their storage.
ResampledImage WordsOfBitmap(const PLBmp& bitmap, std::int32_t width, std::int32_t height) {
    ResampledImage result;
    result.words.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
    for (std::int32_t y = 0; y < height; ++y) {
        std::memcpy(result.words.data() + static_cast<std::size_t>(y) * width,
                    bitmap.GetLineArray()[y], rowBytes);
    }
    result.width = width;
    result.height = height;
    return result;
}

}  // namespace

std::int32_t ResampleImage(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                           std::int32_t stride, std::int32_t newWidth, std::int32_t newHeight,
                           ResampledImage& out, std::string& errorText) {
    try {
        PLAnyBmp source;
        source.CreateFromData(width, height, PLPixelFormat::A8R8G8B8, pixels, stride, PLPoint{});
        PLAnyBmp resized;
        PLFilterResizeGaussian(newWidth, newHeight, 0.5).Apply(source, resized);
        out = WordsOfBitmap(resized, newWidth, newHeight);
        return ImageFileOk;
    } catch (const PLTextException& e) {
        errorText = e.GetText();
        return LoadCode(e.GetCode());
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
}

std::int32_t ScaleToThumbnail(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                              std::int32_t stride, ResampledImage& out, std::string& errorText) {
    if (pixels == nullptr || width < 1 || height < 1) {
        errorText = ImageFileMessage(ImageFileBadSignature, false);
        return ImageFileBadSignature;
    }
    try {
        PLAnyBmp frame;
        frame.CreateFromData(width, height, PLPixelFormat::X8R8G8B8, pixels, stride, PLPoint{});
        const std::int32_t side = std::min(width, height);
        const std::int32_t longSide = std::max(width, height);
        const std::int32_t start = std::max(0, (longSide - side) / 2);
        const std::int32_t end = std::min(longSide, (longSide + side) / 2);
        PLAnyBmp square;
        if (width >= height) {
            PLFilterCrop(start, 0, end, height).Apply(frame, square);
        } else {
            PLFilterCrop(0, start, width, end).Apply(frame, square);
        }
        PLAnyBmp scaled;
        PLFilterResizeBilinear(ThumbnailSide, ThumbnailSide).Apply(square, scaled);
        ResampledImage result = WordsOfBitmap(scaled, ThumbnailSide, ThumbnailSide);
        for (std::uint32_t& word : result.words) word |= 0xFF000000u;
        out = std::move(result);
        return ImageFileOk;
    } catch (const PLTextException& e) {
        errorText = e.GetText();
        return LoadCode(e.GetCode());
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
}

void PremultiplyAlpha(std::uint8_t* pixels, std::int32_t width, std::int32_t height) {
    if (pixels == nullptr || width <= 0 || height <= 0) return;
    const std::int64_t count = std::int64_t{width} * height;
    for (std::int64_t i = 0; i < count; ++i) {
        std::uint8_t* p = pixels + 4 * i;
        for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(p[c] * p[3] / 255);
    }
}
