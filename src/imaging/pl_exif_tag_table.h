#pragma once

// The fixed tables through which the Exif reader names tags and turns their values into
// display texts: one table per directory kind (main, Exif sub-directory, five makers' notes
// and Canon's setting arrays). An entry gives the short key (the tag's key is the table's
// prefix and this key), a description, and what shapes the display text: a formatter, a
// unit suffix, capitalisation, or a list of value names.

#include <cstdint>
#include <span>

// How a tag's value becomes its display text before units and value names apply.
enum class PLExifFormatter : std::uint8_t {
    None,          // the raw text
    ExposureTime,  // "1/n" below one second, the decimal value from one second on
    FNumber,       // "f" and the value to one decimal
    ApexShutter,   // "1/" and 2 to the power of the value, " s"
    ApexAperture,  // "f" and 1.4142 to the power of the value, to one decimal
    Decimal,       // the value as a decimal number
    Components,    // the value bytes named Y, Cb, Cr, R, G, B
    FlashDetails,  // Canon flash bits named
    FocusPoint,    // Canon focus point named
    ImageNumber,   // folder and file number, "100-1234"
    SerialNumber,  // upper 16 bits in hexadecimal, lower 16 bits in decimal
};

// One value of a value-name list and the text that replaces it.
struct PLExifValueName {
    std::int32_t value = 0;
    const char* text = nullptr;
};

// One entry of a tag table.
struct PLExifTagInfo {
    std::uint16_t tag = 0;
    const char* key = nullptr;
    const char* description = nullptr;
    PLExifFormatter formatter = PLExifFormatter::None;
    // Appended after a blank to both texts; null for none.
    const char* unit = nullptr;
    // Both texts lower-cased with a capital first letter.
    bool capitalise = false;
    // The first entry whose value equals the tag's integer value replaces both texts.
    std::span<const PLExifValueName> names{};
};

using PLExifTagTable = std::span<const PLExifTagInfo>;

// The tables, one per kind of directory or array.
enum class PLExifTableId : std::uint8_t {
    Main,
    Sub,
    Nikon,
    Nikon2,
    Olympus,
    Canon,
    CanonSettings1,
    CanonSettings2,
    CanonCustomFunctions,
    Fujifilm,
    Casio,
};

// The table of that kind.
PLExifTagTable PLExifGetTable(PLExifTableId id);

// The entry for tag in table; null when the table has none.
const PLExifTagInfo* PLExifFindTag(PLExifTagTable table, std::uint16_t tag);
