#include "imaging/pl_pic_encoder.h"

#include "imaging/imaging_init.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_file_sink.h"
#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr std::size_t MaxShownNameBytes = 900;

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

void PLPicEncoder::MakeFileFromBmp(std::string_view fileName, const PLBmp& bmp) {
    EncodeToFile(fileName, fileName, bmp);
}

void PLPicEncoder::MakeFileFromBmpW(std::u16string_view fileName, const PLBmp& bmp) {
    const std::string name = Utf16ToUtf8(fileName);
    EncodeToFile(name, name.size() >= MaxShownNameBytes ? "{{Filename too long}}" : name, bmp);
}

void PLPicEncoder::SaveBmp(const PLBmp& bmp, PLDataSink& sink) {
    ImagingRequireInitialised();
    DoEncode(bmp, sink);
}

std::int64_t PLPicEncoder::MaxEncodedSize(const PLBmp& bmp) {
    const std::int64_t rowBytes = PLRowBytes(bmp.GetWidth(), bmp.GetBitsPerPixel());
    const std::int64_t paddedRow = (rowBytes + 3) / 4 * 4;
    return 2 * paddedRow * bmp.GetHeight() + 4 * bmp.GetPixelFormat().GetPaletteSize() + 65536;
}

void PLPicEncoder::EncodeToFile(std::string_view fileName, std::string_view shownName,
                                const PLBmp& bmp) {
    // Refused before the file is touched.
    ImagingRequireInitialised();
    const std::int64_t maxSize = MaxEncodedSize(bmp);
    if (maxSize > std::numeric_limits<std::int32_t>::max()) {
        PLPicDecoder::RaiseError(PLErrNoMemory, "Image too large to encode.");
    }
    PLFileSink sink;
    const std::int32_t code = sink.Open(fileName, static_cast<std::int32_t>(maxSize));
    if (code != 0) {
        const std::string errorText = std::strerror(errno);
        PLPicDecoder::RaiseError(code,
                                 "Opening " + std::string(shownName) + " failed: " + errorText);
    }
    SaveBmp(bmp, sink);
    sink.Close();
}
