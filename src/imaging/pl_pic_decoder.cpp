#include "imaging/pl_pic_decoder.h"

#include "imaging/pl_any_bmp.h"
#include "imaging/pl_file_source.h"
#include "imaging/pl_mem_source.h"
#include "imaging/pl_resource_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"
#include "platform/wide_path.h"

#include <charconv>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t MaxShownNameBytes = 900;

// An address as the trace shows it: "0x" and lower-case hex digits.
std::string AddressText(const void* address) {
    char digits[2 * sizeof(std::uintptr_t)] = {};
    const auto result = std::to_chars(std::begin(digits), std::end(digits),
                                      reinterpret_cast<std::uintptr_t>(address), 16);
    return "0x" + std::string(digits, result.ptr);
}

}  // namespace

std::string PLWideNameForMessages(std::u16string_view fileName) {
    std::string name = WidePathForDisplay(fileName);
    return name.size() >= MaxShownNameBytes ? "{{Filename too long}}" : name;
}

PLPicDecoder::PLPicDecoder() = default;

PLPicDecoder::~PLPicDecoder() = default;

void PLPicDecoder::MakeBmpFromFile(std::string_view fileName, PLBmp& bmp,
                                   const PLPixelFormat& pixelFormat, PLProgressReceiver* progress) {
    auto source = std::make_unique<PLFileSource>(progress);
    const std::int32_t code = source->Open(fileName);
    DecodeFile(std::move(source), code, fileName, bmp, pixelFormat);
}

void PLPicDecoder::MakeBmpFromFileW(std::u16string_view fileName, PLBmp& bmp,
                                    const PLPixelFormat& pixelFormat,
                                    PLProgressReceiver* progress) {
    auto source = std::make_unique<PLFileSource>(progress);
    const std::int32_t code = source->OpenWide(fileName);
    DecodeFile(std::move(source), code, PLWideNameForMessages(fileName), bmp, pixelFormat);
}

void PLPicDecoder::MakeBmpFromMemory(const std::uint8_t* data, std::int32_t size, PLBmp& bmp,
                                     const PLPixelFormat& pixelFormat) {
    if (PLTraceWants(1)) {
        PLTrace(1, "--- Decoding from memory at " + AddressText(data) + ". ---\n");
    }
    auto source = std::make_unique<PLMemSource>();
    const std::int32_t code = source->Open(data, size);
    if (code != 0) RaiseError(code, "Reading from memory at " + AddressText(data) + " failed");
    DecodeSource(std::move(source), bmp, pixelFormat);
}

void PLPicDecoder::MakeBmpFromResource(const void* module, std::int32_t id, PLBmp& bmp,
                                       const PLPixelFormat& pixelFormat, const char* type) {
    if (PLTraceWants(1)) {
        PLTrace(1, "--- Decoding resource ID " + std::to_string(id) + ". ---\n");
    }
    auto source = std::make_unique<PLResourceSource>();
    const std::int32_t code = source->Open(module, id, type);
    if (code != 0) RaiseError(code, "Opening resource " + std::to_string(id) + " failed");
    DecodeSource(std::move(source), bmp, pixelFormat);
}

void PLPicDecoder::MakeBmpFromURL(std::string_view /*url*/, PLBmp& /*bmp*/,
                                  const PLPixelFormat& /*pixelFormat*/) {
    RaiseError(PLErrFormatNotCompiled, "URL support not compiled into library.");
}

void PLPicDecoder::MakeBmp(PLBmp& bmp, const PLPixelFormat& pixelFormat) {
    // A header that claims no columns (or no rows) is corrupt. Refused here, before the
    // decoder walks millions of empty rows that a few bytes of header can claim.
    if (GetWidth() == 0 || GetHeight() == 0) {
        RaiseError(PLErrWrongSignature, "Image has no pixels.");
    }
    if (pixelFormat == PLPixelFormat::DontCare || pixelFormat == GetPixelFormat()) {
        bmp.CreateFromInfo(*this);
        GetImage(bmp);
        return;
    }
    if (pixelFormat.GetBitsPerPixel() <= GetBitsPerPixel()) {
        RaiseError(PLErrFormatNotSupported, "Image bit depth doesn't match request.");
    }
    PLAnyBmp image;
    image.CreateFromInfo(*this);
    GetImage(image);
    bmp.CreateCopy(image, pixelFormat);
}

std::optional<bool> PLPicDecoder::HasColourUnderClearAlpha() const { return std::nullopt; }

void PLPicDecoder::Close() {
    dataSource = nullptr;
    ownedSource.reset();
}

void PLPicDecoder::RaiseError(std::int32_t code, std::string_view text) {
    std::string message = "Decoder error: ";
    message += text;
    message += '\n';
    PLTrace(0, message);
    throw PLTextException(code, std::move(message));
}

void PLPicDecoder::DecodeFile(std::unique_ptr<PLFileSource> source, std::int32_t openCode,
                              std::string_view shownName, PLBmp& bmp,
                              const PLPixelFormat& pixelFormat) {
    if (PLTraceWants(1)) PLTrace(1, "--- Decoding file " + std::string(shownName) + ". ---\n");
    if (openCode != 0) RaiseError(openCode, "Opening " + std::string(shownName) + " failed");
    DecodeSource(std::move(source), bmp, pixelFormat);
}

void PLPicDecoder::DecodeSource(std::unique_ptr<PLDataSource> source, PLBmp& bmp,
                                const PLPixelFormat& pixelFormat) {
    Close();
    ownedSource = std::move(source);
    dataSource = ownedSource.get();
    try {
        Open(dataSource);
        MakeBmp(bmp, pixelFormat);
        // Only a decode that succeeded reports that it is done.
        dataSource->ReportProgress(1.0);
    } catch (...) {
        // The source is released on every path; the exception goes on unchanged.
        Close();
        throw;
    }
    Close();
}

const std::uint8_t* UnpackPackBits(std::uint8_t* dest, PLDataSource& source,
                                   std::int32_t unpackedSize, std::int32_t packedSize) {
    if (unpackedSize < 8) return source.ReadBytes(unpackedSize);
    const std::uint8_t* packed = source.ReadBytes(packedSize);
    ExpandPackBits(dest, unpackedSize, packed, packedSize);
    return dest;
}

void ExpandPackBits(std::uint8_t* dest, std::int32_t unpackedSize, const std::uint8_t* packed,
                    std::int32_t packedSize) {
    std::int32_t in = 0;
    std::int32_t out = 0;
    while (in < packedSize && out < unpackedSize) {
        const int control = packed[in++];
        if (control == 128) continue;
        const std::int32_t count = control < 128 ? control + 1 : 257 - control;
        const std::int32_t needed = control < 128 ? count : 1;
        if (needed > packedSize - in) {
            PLDataSource::ThrowEndOfFile();
        }
        if (count > unpackedSize - out) {
            PLPicDecoder::RaiseError(PLErrWrongSignature, "Run-length data passes the row.");
        }
        if (control < 128) {
            std::memcpy(dest + out, packed + in, static_cast<std::size_t>(count));
        } else {
            std::memset(dest + out, packed[in], static_cast<std::size_t>(count));
        }
        in += needed;
        out += count;
    }
    if (out < unpackedSize) {
        std::memset(dest + out, 0, static_cast<std::size_t>(unpackedSize - out));
    }
}
