#include "imaging/pl_any_pic_decoder.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "imaging/imaging_init.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The member decoders, in the order they are created.
constexpr std::array<PLFileType, 5> MemberTypes = {PLFileTypeBmp, PLFileTypeTga, PLFileTypeTiff,
                                                   PLFileTypeJpeg, PLFileTypePsd};

constexpr std::int32_t DetectionBytes = 1024;

int MemberIndex(PLFileType type) {
    const auto at = std::find(MemberTypes.begin(), MemberTypes.end(), type);
    return at == MemberTypes.end() ? -1 : static_cast<int>(at - MemberTypes.begin());
}

std::array<PLDecoderFactory, MemberTypes.size()>& Factories() {
    static std::array<PLDecoderFactory, MemberTypes.size()> factories{};
    return factories;
}

std::vector<PLPicDecoderFactory*>& DecoderFactories() {
    static std::vector<PLPicDecoderFactory*> factories;
    return factories;
}

// The trace line of each type a member decoder reads.
const char* RecognisedText(PLFileType type) {
    switch (type) {
        case PLFileTypeBmp:
            return "Windows bitmap recognized.\n";
        case PLFileTypeTga:
            return "TGA file recognized.\n";
        case PLFileTypeTiff:
            return "TIFF file recognized.\n";
        case PLFileTypeJpeg:
            return "JPEG file recognized.\n";
        case PLFileTypePsd:
            return "PSD file recognized.\n";
        case PLFileTypeEpsTiff:
            return "TIFF preview in EPS file recognized.\n";
        default:
            return "";
    }
}

bool StartsWith(const std::uint8_t* data, std::int32_t size, const char* text) {
    const auto length = static_cast<std::int32_t>(std::strlen(text));
    return size >= length && std::memcmp(data, text, static_cast<std::size_t>(length)) == 0;
}

bool IsTga(const std::uint8_t* data, std::int32_t size) {
    if (size < 17) return false;
    const auto oneOf = [](std::uint8_t value, std::initializer_list<int> values) {
        return std::find(values.begin(), values.end(), value) != values.end();
    };
    return data[1] < 2 && data[2] < 12 && !(data[2] >= 4 && data[2] <= 8) &&
           oneOf(data[7], {0, 8, 15, 16, 24, 32}) && oneOf(data[16], {8, 15, 16, 24, 32});
}

bool IsPict(const std::uint8_t* data, std::int32_t size) {
    if (size <= 540) return false;
    const std::uint8_t* p = data + 522;
    return (p[0] == 0x00 && p[1] == 0x11 && p[2] == 0x02 && p[3] == 0xFF) ||
           (p[0] == 0x00 && p[1] == 0x11 && p[2] == 0x01) ||
           (p[0] == 0x11 && p[1] == 0x01 && p[2] == 0x01 && p[3] == 0x00);
}

bool IsEpsWithTiff(const std::uint8_t* data, std::int32_t size) {
    if (size < 28) return false;
    const std::uint32_t magic = LoadU32LE(data);
    return (magic == 0xC6D3D0C5 || magic == 0xC5D0D3C6) && LoadU32LE(data + 20) != 0 &&
           LoadU32LE(data + 24) != 0;
}

}  // namespace

void PLAddDecoderFactory(PLPicDecoderFactory& factory) {
    std::vector<PLPicDecoderFactory*>& factories = DecoderFactories();
    if (std::find(factories.begin(), factories.end(), &factory) == factories.end()) {
        factories.push_back(&factory);
    }
}

void PLRemoveDecoderFactory(PLPicDecoderFactory& factory) {
    std::vector<PLPicDecoderFactory*>& factories = DecoderFactories();
    factories.erase(std::remove(factories.begin(), factories.end(), &factory), factories.end());
}

std::size_t PLDecoderFactoryCount() { return DecoderFactories().size(); }

PLDecoderFactory PLRegisterFormatDecoder(PLFileType type, PLDecoderFactory factory) {
    const int index = MemberIndex(type);
    ORBELLE_CHECK(index >= 0);
    return std::exchange(Factories()[static_cast<std::size_t>(index)], factory);
}

PLDecoderFactory PLFormatDecoderFactory(PLFileType type) {
    const int index = MemberIndex(type);
    return index < 0 ? nullptr : Factories()[static_cast<std::size_t>(index)];
}

PLAnyPicDecoder::PLAnyPicDecoder() {
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (const PLDecoderFactory factory = Factories()[i]) members[i] = factory();
    }
}

PLAnyPicDecoder::~PLAnyPicDecoder() { PLAnyPicDecoder::Close(); }

PLFileType PLAnyPicDecoder::DetermineFileType(const std::uint8_t* data, std::int32_t size) {
    if (StartsWith(data, size, "BA") || StartsWith(data, size, "BM") ||
        StartsWith(data, size, "IC") || StartsWith(data, size, "CI") ||
        StartsWith(data, size, "CP")) {
        return PLFileTypeBmp;
    }
    if (IsTga(data, size)) return PLFileTypeTga;
    if (StartsWith(data, size, "GIF8")) return PLFileTypeGif;
    if ((size >= 4 && std::memcmp(data, "II*\0", 4) == 0) ||
        (size >= 4 && std::memcmp(data, "MM\0*", 4) == 0)) {
        return PLFileTypeTiff;
    }
    if (IsPict(data, size)) return PLFileTypePict;
    if (StartsWith(data, size, "\xFF\xD8\xFF")) return PLFileTypeJpeg;
    if (StartsWith(data, size, "\x89PNG")) return PLFileTypePng;
    if (IsEpsWithTiff(data, size)) return PLFileTypeEpsTiff;
    if (size >= 3 && data[0] == 10 && data[2] == 1) return PLFileTypePcx;
    if (StartsWith(data, size, "P2") || StartsWith(data, size, "P5")) return PLFileTypePgm;
    if (StartsWith(data, size, "P3") || StartsWith(data, size, "P6")) return PLFileTypePpm;
    if (StartsWith(data, size, "8BPS")) return PLFileTypePsd;
    if (StartsWith(data, size, "\x01\xDA")) return PLFileTypeSgi;
    if (StartsWith(data, size, "FORM")) return PLFileTypeIff;
    return PLFileTypeUnknown;
}

void PLAnyPicDecoder::Open(PLDataSource* source) {
    // Without the start-up no decoder is registered, and every file would be reported as a
    // format that is not built in.
    ImagingRequireInitialised();
    // Only the member of a previous image is closed: the source may be this decoder's own.
    if (current != nullptr) current->Close();
    current = nullptr;
    factoryDecoder.reset();
    fileType = PLFileTypeUnknown;
    AttachDataSource(*this, source);
    const std::int32_t peekCount = std::min(source->GetBytesLeft(), DetectionBytes);
    const std::uint8_t* peeked = source->PeekBytes(peekCount);
    fileType = DetermineFileType(peeked, peekCount);
    if (const char* text = RecognisedText(fileType); *text != '\0') PLTrace(2, text);

    if (fileType == PLFileTypeUnknown) {
        for (const PLPicDecoderFactory* factory : DecoderFactories()) {
            if (!factory->CanDecode(peeked, peekCount)) continue;
            factoryDecoder = factory->CreateDecoder();
            current = factoryDecoder.get();
            AttachDataSource(*current, source);
            current->Open(source);
            AssignInfo(*current);
            return;
        }
        RaiseError(PLErrUnknownFileType, "Unknown file type.");
    }

    PLFileType memberType = fileType;
    switch (fileType) {
        case PLFileTypeBmp:
        case PLFileTypeTga:
        case PLFileTypeTiff:
        case PLFileTypeJpeg:
        case PLFileTypePsd:
            break;
        case PLFileTypeEpsTiff: {
            // The preview is a whole TIFF file at the offset the EPS header gives.
            const std::uint32_t offset = LoadU32LE(source->PeekBytes(30) + 20);
            if (offset > static_cast<std::uint32_t>(source->GetBytesLeft())) {
                PLDataSource::ThrowEndOfFile();
            }
            source->ReadBytes(static_cast<std::int32_t>(offset));
            memberType = PLFileTypeTiff;
            break;
        }
        default:
            RaiseError(PLErrFormatNotCompiled, "Library not compiled for this file type.");
    }
    PLPicDecoder* member = members[static_cast<std::size_t>(MemberIndex(memberType))].get();
    if (member == nullptr) {
        RaiseError(PLErrFormatNotCompiled, "Library not compiled for this file type.");
    }
    current = member;
    AttachDataSource(*current, source);
    current->Open(source);
    AssignInfo(*current);
}

void PLAnyPicDecoder::GetImage(PLBmp& bmp) {
    ORBELLE_CHECK(current != nullptr);
    current->GetImage(bmp);
    AssignInfo(*current);
}

std::optional<bool> PLAnyPicDecoder::HasColourUnderClearAlpha() const {
    return current != nullptr ? current->HasColourUnderClearAlpha() : std::nullopt;
}

void PLAnyPicDecoder::Close() {
    if (current != nullptr) current->Close();
    current = nullptr;
    factoryDecoder.reset();
    PLPicDecoder::Close();
}
