#include "imaging/pl_exif.h"

#include "core/byte_order.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <utility>

namespace {

constexpr std::uint8_t ExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint8_t NikonSignature[] = {'N', 'i', 'k', 'o', 'n', 0};
constexpr std::size_t TiffHeaderOffset = 6;
constexpr std::size_t FirstIfdOffset = 8;
constexpr std::size_t IfdEntrySize = 12;
constexpr std::size_t InlineValueSize = 4;

std::string ToLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The tag id as four lower-case hexadecimal digits, the key of a tag the table lacks.
std::string HexKey(std::uint16_t tag) {
    constexpr char Digits[] = "0123456789abcdef";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = Digits[tag & 0xF];
        tag = static_cast<std::uint16_t>(tag >> 4);
    }
    return text;
}

std::string TagKey(std::string_view prefix, const PLExifTagInfo* info, std::uint16_t tag) {
    std::string key(prefix);
    key += info != nullptr ? std::string(info->key) : HexKey(tag);
    return key;
}

[[noreturn]] void ThrowOutside(const char* what, std::size_t position) {
    throw PLExifException(std::string("EXIF ") + what + " outside the data at byte " +
                          std::to_string(position));
}

}  // namespace

void PLExif::Clear() {
    data.clear();
    baseOffset = 0;
    bigEndian = false;
    allTags.clear();
    mainTags.clear();
    subTags.clear();
    makerNoteTags.clear();
    tagsByKey.clear();
    tags.clear();
    readError.clear();
}

void PLExif::ReadData(std::span<const std::uint8_t> app1) {
    Clear();
    data.assign(app1.begin(), app1.end());
    // A fault ends the reading at the entry that has it; the tags before it stay, and the
    // reason is kept so that callers can tell a partial block from a whole one.
    try {
        ReadBlock();
    } catch (const PLExifException& e) {
        readError = e.GetText();
    }
    for (PLExifTag& tag : tags) tag.ReleaseValue();
}

const PLExifTag* PLExif::GetTag(std::string_view key) const {
    const auto found = tagsByKey.find(ToLower(key));
    return found == tagsByKey.end() ? nullptr : found->second;
}

void PLExif::ReadBlock() {
    if (data.size() < sizeof(ExifSignature) ||
        std::memcmp(data.data(), ExifSignature, sizeof(ExifSignature)) != 0) {
        Clear();
        return;
    }
    if (data.size() < TiffHeaderOffset + FirstIfdOffset) {
        throw PLExifException("EXIF block ends inside its header");
    }
    if (data[6] == 'I' && data[7] == 'I') {
        bigEndian = false;
    } else if (data[6] == 'M' && data[7] == 'M') {
        bigEndian = true;
    } else {
        throw PLExifException("EXIF byte order not understood");
    }
    // The first directory is taken to follow the TIFF header directly; its offset field is
    // not consulted.
    baseOffset = TiffHeaderOffset;
    ReadIfd(FirstIfdOffset, PLExifTableId::Main, "Main.", mainTags);
    if (const PLExifTag* exifOffset = FindTag("Main.ExifOffset")) {
        ReadIfd(exifOffset->GetUnsignedValue(), PLExifTableId::Sub, "Sub.", subTags);
    }
    ReadMakerNote();
}

void PLExif::ReadMakerNote() {
    const PLExifTag* maker = FindTag("Sub.Maker");
    if (maker == nullptr) return;
    const PLExifTag* make = FindTag("Main.Make");
    const std::string makeText = make != nullptr ? ToLower(make->GetDisplayText()) : "";
    const std::size_t note = maker->GetValueOffset();

    if (makeText.find("nikon") != std::string::npos) {
        const auto bytes = maker->GetValueBytes();
        if (bytes.size() >= sizeof(NikonSignature) &&
            std::memcmp(bytes.data(), NikonSignature, sizeof(NikonSignature)) == 0) {
            ReadIfd(note + 8, PLExifTableId::Nikon2, "Nikon2.", makerNoteTags);
        } else {
            ReadIfd(note, PLExifTableId::Nikon, "Nikon.", makerNoteTags);
        }
    } else if (makeText.find("olympus") != std::string::npos) {
        ReadIfd(note + 8, PLExifTableId::Olympus, "Oly.", makerNoteTags);
    } else if (makeText.find("canon") != std::string::npos) {
        ReadIfd(note, PLExifTableId::Canon, "Canon.", makerNoteTags);
        ExpandCanonArray("Canon.CnSet1", PLExifTableId::CanonSettings1, "Canon.", false);
        ExpandCanonArray("Canon.CnSet2", PLExifTableId::CanonSettings2, "Canon.", false);
        ExpandCanonArray("Canon.CustomFnc", PLExifTableId::CanonCustomFunctions, "CanonCFn.", true);
    } else if (makeText.find("fujifilm") != std::string::npos) {
        // Fujifilm notes are little-endian with offsets from the note's own start.
        bigEndian = false;
        baseOffset += note;
        ReadIfd(12, PLExifTableId::Fujifilm, "Fuji.", makerNoteTags);
    } else if (makeText.find("casio") != std::string::npos) {
        ReadIfd(note, PLExifTableId::Casio, "Casio.", makerNoteTags);
        const PLExifTag* model = FindTag("Main.Model");
        PLExifTag* flash = FindTag("Casio.FlashMode");
        if (model != nullptr && model->GetDisplayText() == "QV-2000UX" && flash != nullptr &&
            flash->GetSignedValue() == 4) {
            flash->SetTexts("Red Eye Reduction");
        }
    }
}

void PLExif::ReadIfd(std::size_t offset, PLExifTableId tableId, std::string_view prefix,
                     std::vector<const PLExifTag*>& list) {
    const PLExifTagTable table = PLExifGetTable(tableId);
    const std::size_t start = baseOffset + offset;
    if (start > data.size() || data.size() - start < 2) ThrowOutside("directory", start);
    const std::uint16_t entryCount = LoadU16(start);
    for (std::size_t i = 0; i < entryCount; ++i) {
        const std::size_t entry = start + 2 + i * IfdEntrySize;
        if (entry > data.size() || data.size() - entry < IfdEntrySize) {
            ThrowOutside("directory entry", entry);
        }
        const std::uint16_t tagId = LoadU16(entry);
        const std::uint16_t format = LoadU16(entry + 2);
        const std::uint32_t count = LoadU32(entry + 4);
        if (count == 0) continue;
        PLExifTag tag(tagId, format, count);
        const std::size_t value =
            tag.GetByteSize() > InlineValueSize ? baseOffset + LoadU32(entry + 8) : entry + 8;
        if (value > data.size() || data.size() - value < tag.GetByteSize()) {
            ThrowOutside("value", value);
        }
        const PLExifTagInfo* info = PLExifFindTag(table, tagId);
        tag.ReadValue(data.data() + value, bigEndian, info, TagKey(prefix, info, tagId),
                      static_cast<std::uint32_t>(value - baseOffset));
        AddTag(std::move(tag), list);
    }
}

void PLExif::ExpandCanonArray(std::string_view arrayKey, PLExifTableId tableId,
                              std::string_view prefix, bool customFunctions) {
    const PLExifTag* array = FindTag(arrayKey);
    if (array == nullptr || array->GetFormat() != PLExifShort) return;
    const PLExifTagTable table = PLExifGetTable(tableId);
    const auto bytes = array->GetValueBytes();
    for (std::uint32_t i = 0; i < array->GetCount(); ++i) {
        const std::uint16_t element = LoadU16LE(bytes.data() + 2 * std::size_t{i});
        // Settings arrays are indexed by position; a custom function holds its number in
        // the high byte and its setting in the low byte.
        const auto id = static_cast<std::uint16_t>(customFunctions ? element >> 8 : i);
        const auto setting = static_cast<std::uint16_t>(customFunctions ? element & 0xFF : element);
        // Only the elements the table names become tags: the others would take the
        // hexadecimal keys that the note's own unknown entries already use.
        const PLExifTagInfo* info = PLExifFindTag(table, id);
        if (info == nullptr) continue;
        std::array<std::uint8_t, 2> value{};
        StoreU16LE(value.data(), setting);
        PLExifTag tag(id, PLExifShort, 1);
        tag.ReadValue(value.data(), false, info, TagKey(prefix, info, id),
                      array->GetValueOffset() + 2 * i);
        AddTag(std::move(tag), makerNoteTags);
    }
}

PLExifTag& PLExif::AddTag(PLExifTag tag, std::vector<const PLExifTag*>& list) {
    PLExifTag& stored = tags.emplace_back(std::move(tag));
    allTags.push_back(&stored);
    list.push_back(&stored);
    tagsByKey[ToLower(stored.GetKey())] = &stored;
    return stored;
}

PLExifTag* PLExif::FindTag(std::string_view key) {
    const auto found = tagsByKey.find(ToLower(key));
    return found == tagsByKey.end() ? nullptr : found->second;
}

std::uint16_t PLExif::LoadU16(std::size_t position) const {
    return bigEndian ? LoadU16BE(data.data() + position) : LoadU16LE(data.data() + position);
}

std::uint32_t PLExif::LoadU32(std::size_t position) const {
    return bigEndian ? LoadU32BE(data.data() + position) : LoadU32LE(data.data() + position);
}
