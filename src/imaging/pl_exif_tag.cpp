#include "imaging/pl_exif_tag.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/float_convert.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Element size in bytes by format code (index 0 unused), and the size of the unit that
// is swapped for big-endian files (1: bytes and the IEEE formats stay as they are).
constexpr std::array<std::uint32_t, 13> ElementSize = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr std::array<std::uint32_t, 13> SwapUnit = {0, 1, 1, 2, 4, 4, 1, 1, 2, 4, 4, 1, 1};

constexpr std::uint32_t MaxElementsInText = 16;

bool IsPrintable(std::uint8_t c) { return c >= 0x20 && c < 0x7F; }

void AppendHexByte(std::string& text, std::uint8_t value) {
    constexpr char Digits[] = "0123456789abcdef";
    text += Digits[value >> 4];
    text += Digits[value & 0xF];
}

// The bytes up to the first zero as text; control bytes as escapes.
std::string AsciiText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t c : bytes) {
        if (c == 0) break;
        if (IsPrintable(c)) {
            text += static_cast<char>(c);
        } else if (c == '\b') {
            text += "\\b";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else {
            text += "\\0x";
            AppendHexByte(text, c);
        }
    }
    return text;
}

bool LooksLikeText(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t c) {
        return IsPrintable(c) || c == 0 || c == '\t' || c == '\n' || c == '\r' || c == '\b';
    });
}

std::string HexText(std::span<const std::uint8_t> bytes) {
    std::string text = "{ ";
    const std::size_t shown = std::min<std::size_t>(bytes.size(), MaxElementsInText);
    for (std::size_t i = 0; i < shown; ++i) {
        AppendHexByte(text, bytes[i]);
        text += ' ';
    }
    if (bytes.size() > MaxElementsInText) text += "... ";
    text += '}';
    return text;
}

// A double in the shortest general notation with six significant digits.
std::string DecimalText(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 6);
    return std::string(buffer.data(), result.ptr);
}

std::string IntegerText(std::int64_t value, int minDigits = 1, int base = 10) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, base);
    std::string text(buffer.data(), result.ptr);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (static_cast<int>(text.size()) < minDigits) {
        text.insert(0, static_cast<std::size_t>(minDigits) - text.size(), '0');
    }
    return text;
}

// floor(value) as an integer; NaN and values beyond the 64-bit range give 0.
std::int64_t FloorToInt64(double value) {
    if (!(value > -9.0e18 && value < 9.0e18)) return 0;
    return static_cast<std::int64_t>(std::floor(value));
}

void TrimTrailingBlanks(std::string& text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
}

void Capitalise(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
}

}  // namespace

PLExifTag::PLExifTag(std::uint16_t tagNumber, std::uint16_t formatCode, std::uint32_t elementCount)
    : tagId(tagNumber), format(formatCode), count(elementCount) {
    if (formatCode < PLExifByte || formatCode > PLExifDouble) {
        throw PLExifException("EXIF Tag format field not understood");
    }
    const std::uint64_t size = std::uint64_t{ElementSize[formatCode]} * elementCount;
    if (elementCount > MaxValueSize || size > MaxValueSize) {
        throw PLExifException("EXIF NoComp field not understood");
    }
    byteSize = static_cast<std::uint32_t>(size);
}

void PLExifTag::ReadValue(const std::uint8_t* value, bool bigEndian, const PLExifTagInfo* entry,
                          std::string fullKey, std::uint32_t offset) {
    info = entry;
    key = std::move(fullKey);
    valueOffset = offset;
    valueBytes.assign(value, value + byteSize);

    // Elements are kept little-endian, so every later read is independent of the file.
    const std::uint32_t unit = SwapUnit[format];
    if (bigEndian && unit > 1) {
        for (std::uint32_t i = 0; i + unit <= byteSize; i += unit) {
            std::reverse(valueBytes.begin() + i, valueBytes.begin() + i + unit);
        }
    }

    // The numbers are those of the last element.
    if (count > 0) {
        const std::uint32_t last = count - 1;
        if (format == PLExifFloat || format == PLExifDouble) {
            const std::uint8_t* p = valueBytes.data() + std::size_t{last} * ElementSize[format];
            doubleValue = format == PLExifFloat ? LoadF32LE(p) : LoadF64LE(p);
            numerator = 0;
            denominator = 1;
        } else {
            numerator = ElementNumerator(last);
            denominator = ElementDenominator(last);
            if (denominator != 0) {
                doubleValue = static_cast<double>(numerator) / static_cast<double>(denominator);
            }
        }
        // Rounded half up, so negative values such as an EV shift of -1 stay -1.
        if (denominator != 0) integerValue = FloorToInt64(doubleValue + 0.5);
    }

    rawText = MakeRawText();
    displayText = info != nullptr && info->formatter != PLExifFormatter::None
                      ? FormatDisplay(info->formatter)
                      : rawText;
    if (info != nullptr) {
        if (info->unit != nullptr) {
            rawText += ' ';
            rawText += info->unit;
            displayText += ' ';
            displayText += info->unit;
        }
        if (info->capitalise) {
            Capitalise(rawText);
            Capitalise(displayText);
        }
        for (const PLExifValueName& name : info->names) {
            if (name.value == integerValue) {
                rawText = name.text;
                displayText = name.text;
                break;
            }
        }
    }
    TrimTrailingBlanks(rawText);
    TrimTrailingBlanks(displayText);
}

void PLExifTag::SetTexts(const std::string& text) {
    rawText = text;
    displayText = text;
}

void PLExifTag::ReleaseValue() {
    valueBytes.clear();
    valueBytes.shrink_to_fit();
}

std::string_view PLExifTag::GetDescription() const {
    return info != nullptr ? std::string_view(info->description) : std::string_view();
}

std::int64_t PLExifTag::ElementNumerator(std::uint32_t index) const {
    const std::uint8_t* p = valueBytes.data() + std::size_t{index} * ElementSize[format];
    switch (format) {
        case PLExifSByte:
            return static_cast<std::int8_t>(*p);
        case PLExifShort:
            return LoadU16LE(p);
        case PLExifSShort:
            return LoadI16LE(p);
        case PLExifLong:
        case PLExifRational:
            return LoadU32LE(p);
        case PLExifSLong:
        case PLExifSRational:
            return LoadI32LE(p);
        default:
            return *p;
    }
}

std::int64_t PLExifTag::ElementDenominator(std::uint32_t index) const {
    const std::uint8_t* p = valueBytes.data() + std::size_t{index} * ElementSize[format] + 4;
    if (format == PLExifRational) return LoadU32LE(p);
    if (format == PLExifSRational) return LoadI32LE(p);
    return 1;
}

std::string PLExifTag::ElementText(std::uint32_t index) const {
    std::string text = IntegerText(ElementNumerator(index));
    if (format == PLExifRational || format == PLExifSRational) {
        text += '/';
        text += IntegerText(ElementDenominator(index));
    }
    return text;
}

std::string PLExifTag::MakeRawText() const {
    if (format == PLExifAscii) return AsciiText(valueBytes);
    if (format == PLExifUndefined || format == PLExifFloat || format == PLExifDouble) {
        return LooksLikeText(valueBytes) ? AsciiText(valueBytes) : HexText(valueBytes);
    }
    std::string text;
    const std::uint32_t shown = std::min(count, MaxElementsInText);
    for (std::uint32_t i = 0; i < shown; ++i) {
        if (i > 0) text += ' ';
        text += ElementText(i);
    }
    if (count > MaxElementsInText) text += " ...";
    return text;
}

std::string PLExifTag::FormatDisplay(PLExifFormatter formatter) const {
    const auto bits = static_cast<std::uint32_t>(integerValue);
    switch (formatter) {
        case PLExifFormatter::None:
            return rawText;
        case PLExifFormatter::ExposureTime:
            if (numerator < denominator || denominator == 0) {
                if (numerator == 0 || numerator == 1) return rawText;
                return "1/" + IntegerText(denominator / numerator);
            }
            return DecimalText(doubleValue);
        case PLExifFormatter::FNumber:
            if (denominator == 0) return rawText;
            return std::string("f").append(DecimalText(std::floor(doubleValue * 10.0 + 0.5) / 10.0));
        case PLExifFormatter::ApexShutter:
            return "1/" + IntegerText(FloorToInt64(std::pow(2.0, doubleValue) + 0.5)) + " s";
        case PLExifFormatter::ApexAperture:
            if (denominator == 0) return rawText;
            return std::string("f").append(
                DecimalText(std::floor(std::pow(1.4142, doubleValue) * 10.0 + 0.5) / 10.0));
        case PLExifFormatter::Decimal:
            if (denominator == 0) return rawText;
            return DecimalText(doubleValue);
        case PLExifFormatter::Components: {
            constexpr const char* Names[] = {"", "Y", "Cb", "Cr", "R", "G", "B"};
            std::string text;
            for (const std::uint8_t b : valueBytes) {
                if (b < std::size(Names)) {
                    text += Names[b];
                } else {
                    text += ' ';
                    text += IntegerText(b);
                }
            }
            return text;
        }
        case PLExifFormatter::FlashDetails: {
            std::string text;
            if ((bits & 0x4000) != 0) text += "External E-TTL ";
            if ((bits & 0x2000) != 0) text += "Internal Flash ";
            if ((bits & 0x0800) != 0) text += "FP sync used ";
            if ((bits & 0x0010) != 0) text += "FP sync enabled ";
            return text;
        }
        case PLExifFormatter::FocusPoint:
            if ((bits & 0xF000) == 0) return "";
            switch (bits & 0x0FFF) {
                case 0:
                    return "Right";
                case 1:
                    return "Centre";
                case 2:
                    return "Left";
                default:
                    return rawText;
            }
        case PLExifFormatter::ImageNumber:
            return IntegerText(bits / 10000) + "-" + IntegerText(bits % 10000, 4);
        case PLExifFormatter::SerialNumber:
            return IntegerText(bits >> 16, 4, 16) + IntegerText(bits & 0xFFFF, 5);
    }
    ORBELLE_CHECK(false);
    return rawText;
}
