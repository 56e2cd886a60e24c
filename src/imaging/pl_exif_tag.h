#pragma once

// One entry of an Exif directory: its key, its value as raw text, display text and
// numbers. The value bytes are held only while the reader still needs them (maker-note
// detection, Canon's setting arrays); the texts and numbers stay.

#include "imaging/pl_exif_tag_table.h"
#include "imaging/pl_object.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Raised for an Exif entry the reader cannot take; the text names the fault.
class PLExifException : public PLObject {
public:
    explicit PLExifException(std::string errorText) : text(std::move(errorText)) {}
    const std::string& GetText() const { return text; }

private:
    std::string text;
};

// The TIFF format codes of Exif entries.
enum PLExifFormat : std::uint16_t {
    PLExifByte = 1,
    PLExifAscii = 2,
    PLExifShort = 3,
    PLExifLong = 4,
    PLExifRational = 5,
    PLExifSByte = 6,
    PLExifUndefined = 7,
    PLExifSShort = 8,
    PLExifSLong = 9,
    PLExifSRational = 10,
    PLExifFloat = 11,
    PLExifDouble = 12,
};

class PLExifTag {
public:
    // Exif caps a value at this many bytes and elements.
    static constexpr std::uint32_t MaxValueSize = 65536;

    // A tag of count elements of format. Throws PLExifException: "EXIF Tag format field not
    // understood" for a format outside 1..12, "EXIF NoComp field not understood" for more
    // than 65,536 elements or bytes.
    PLExifTag(std::uint16_t tagId, std::uint16_t format, std::uint32_t count);

    // Takes the value from GetByteSize() bytes at value in the file's byte order and forms
    // the texts and numbers; info is the tag's table entry (null when the table has none)
    // and key the full key. valueOffset is where the value lies from the TIFF header.
    void ReadValue(const std::uint8_t* value, bool bigEndian, const PLExifTagInfo* info,
                   std::string key, std::uint32_t valueOffset);

    // Replaces both texts.
    void SetTexts(const std::string& text);

    // Drops the value bytes; texts and numbers stay.
    void ReleaseValue();

    const std::string& GetKey() const { return key; }
    // The table's description; empty for a tag the table lacks.
    std::string_view GetDescription() const;
    std::uint16_t GetTagId() const { return tagId; }
    std::uint16_t GetFormat() const { return format; }
    std::uint32_t GetCount() const { return count; }
    std::uint32_t GetByteSize() const { return byteSize; }
    std::uint32_t GetValueOffset() const { return valueOffset; }
    // The value bytes with every element in little-endian order; empty once released.
    std::span<const std::uint8_t> GetValueBytes() const { return valueBytes; }
    const std::string& GetRawText() const { return rawText; }
    const std::string& GetDisplayText() const { return displayText; }
    // The last element as a fraction (denominator 1 for integer formats).
    std::int64_t GetNumerator() const { return numerator; }
    std::int64_t GetDenominator() const { return denominator; }
    // The last element rounded to the nearest integer; 0 when its denominator is 0.
    std::int32_t GetSignedValue() const { return static_cast<std::int32_t>(integerValue); }
    std::uint32_t GetUnsignedValue() const { return static_cast<std::uint32_t>(integerValue); }
    double GetDoubleValue() const { return doubleValue; }

private:
    std::int64_t ElementNumerator(std::uint32_t index) const;
    std::int64_t ElementDenominator(std::uint32_t index) const;
    std::string ElementText(std::uint32_t index) const;
    std::string MakeRawText() const;
    std::string FormatDisplay(PLExifFormatter formatter) const;

    const PLExifTagInfo* info = nullptr;
    std::string key;
    std::uint16_t tagId = 0;
    std::uint16_t format = 0;
    std::uint32_t count = 0;
    std::uint32_t byteSize = 0;
    std::uint32_t valueOffset = 0;
    std::vector<std::uint8_t> valueBytes;
    std::string rawText;
    std::string displayText;
    std::int64_t numerator = 0;
    std::int64_t denominator = 1;
    std::int64_t integerValue = 0;
    double doubleValue = 0.0;
};
