#include "scenefile/object_records.h"

#include "core/byte_order.h"
#include "core/crt_random.h"
#include "core/xml_document.h"
#include "core/xml_values.h"
#include "geometry/part_block.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"
#include "geometry/shape_library.h"
#include "model/kv_obj_tex_container.h"
#include "model/q_document_base.h"
#include "model/q_morvan_objects.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "platform/file_bytes.h"
#include "scenefile/list_folder_files.h"
#include "scenefile/scene_file_writer.h"
#include "scenefile/scene_names.h"
#include "scenefile/scene_values.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace {

constexpr std::uint32_t DefaultGlowColour = 0xFFFFFF;

void StoreVector(std::uint8_t* at, const Vec3& v) {
    StoreF32LE(at, static_cast<float>(v.x));
    StoreF32LE(at + 4, static_cast<float>(v.y));
    StoreF32LE(at + 8, static_cast<float>(v.z));
}

float RandomFraction() {
    return static_cast<float>(CrtRand() / static_cast<double>(CrtRandMax));
}

// Places the record at a uniform scale: the w-first matrix diag(1, k, k, k).
void PlaceAtScale(std::uint8_t* record, double k) {
    Matrix4W placement;
    placement.m[0] = 1.0;
    placement.m[5] = k;
    placement.m[10] = k;
    placement.m[15] = k;
    SetPartPlacement(record, placement);
}

Vec3 LoadVector(const std::uint8_t* at) {
    return Vec3{LoadF32LE(at), LoadF32LE(at + 4), LoadF32LE(at + 8)};
}

// One attribute of a fixed-layout record: its key, its offset and how it is stored. Words
// are written as signed decimals of their width, bytes as 0 to 255, so every value reads back
// to the same bits.
enum class FieldKind { U8, U16, U32, F32, Vector };
struct FieldKey {
    std::string_view key;
    std::size_t offset = 0;
    FieldKind kind = FieldKind::U8;
};

// A section part (44 bytes): f32 xs, ys, zs, rsq; f32 x 3 rot; f32 x 3 trans; u8 negate;
// 3 bytes zero.
constexpr std::array<FieldKey, 7> SectionPartKeys{{
    {"xs", 0, FieldKind::F32},
    {"ys", 4, FieldKind::F32},
    {"zs", 8, FieldKind::F32},
    {"rsq", 12, FieldKind::F32},
    {"rot", 16, FieldKind::Vector},
    {"trans", 28, FieldKind::Vector},
    {"negate", 40, FieldKind::U8},
}};

// A seed point (56 bytes): f32 x 3 position (the record's, never in the element), u16
// partParamCount, u16 variantCode, f32 x 6 state, u32 linkIndex, u32 spanIndex, u16
// variantLevel, u16 shapeCode, u8 registerTenCode, u8 flags, 2 bytes zero.
constexpr std::size_t SeedVariantCodeOffset = 14;
constexpr std::size_t SeedVariantLevelOffset = 48;
constexpr std::size_t SeedShapeCodeOffset = 50;
constexpr std::array<FieldKey, 14> SeedPointKeys{{
    {"sc", 12, FieldKind::U16},
    {"c", SeedVariantCodeOffset, FieldKind::U16},
    {"fs", 16, FieldKind::F32},
    {"fa", 20, FieldKind::F32},
    {"ft", 24, FieldKind::F32},
    {"rs", 28, FieldKind::F32},
    {"ra", 32, FieldKind::F32},
    {"rt", 36, FieldKind::F32},
    {"k", 40, FieldKind::U32},
    {"m", 44, FieldKind::U32},
    {"s", SeedVariantLevelOffset, FieldKind::U16},
    {"sp", SeedShapeCodeOffset, FieldKind::U16},
    {"co", 52, FieldKind::U8},
    {"mo", 53, FieldKind::U8},
}};

void ReadFields(const XmlDocument& xml, std::int32_t element, std::span<const FieldKey> keys,
                std::uint8_t* record) {
    for (const FieldKey& field : keys) {
        std::uint8_t* at = record + field.offset;
        switch (field.kind) {
            case FieldKind::U8:
                *at = static_cast<std::uint8_t>(SceneIntAt(xml, element, field.key));
                break;
            case FieldKind::U16:
                StoreU16LE(at, static_cast<std::uint16_t>(SceneIntAt(xml, element, field.key)));
                break;
            case FieldKind::U32:
                StoreU32LE(at, static_cast<std::uint32_t>(SceneIntAt(xml, element, field.key)));
                break;
            case FieldKind::F32:
                StoreF32LE(at, SceneFloatAt(xml, element, field.key));
                break;
            case FieldKind::Vector:
                StoreVector(at, SceneVectorAt(xml, element, field.key));
                break;
        }
    }
}

// Sets the fields as attributes of the document's current element.
void WriteFields(XmlDocument& xml, std::span<const FieldKey> keys, const std::uint8_t* record) {
    for (const FieldKey& field : keys) {
        const std::uint8_t* at = record + field.offset;
        switch (field.kind) {
            case FieldKind::U8:
                SceneSetInt(xml, field.key, *at);
                break;
            case FieldKind::U16:
                SceneSetInt(xml, field.key, static_cast<std::int16_t>(LoadU16LE(at)));
                break;
            case FieldKind::U32:
                SceneSetInt(xml, field.key, LoadI32LE(at));
                break;
            case FieldKind::F32:
                SetFloatAttribute(xml, field.key, LoadF32LE(at));
                break;
            case FieldKind::Vector:
                SceneSetVector(xml, field.key, LoadVector(at));
                break;
        }
    }
}

}  // namespace

PrivateBlockPtr<std::uint8_t> ReadObjRecord(const XmlDocument& xml, std::int32_t obj,
                                            ObjKeys keys, double scale) {
    const std::int32_t paramCount = SceneIntAt(xml, obj, "n");
    if (paramCount < 0 || paramCount > ObjParamLimit) return {};
    const std::int32_t qsect = SceneFindChild(xml, obj, 0, SectionElement);
    std::int32_t sectionParts = 0;
    if (qsect != 0) {
        sectionParts = SceneIntAt(xml, qsect, "np");
        if (sectionParts < 0 || sectionParts > SectionPartLimit) return {};
    }
    const std::uint32_t baseBytes =
        PartRecordFixedBytes + 4 * static_cast<std::uint32_t>(paramCount);
    const std::uint32_t extensionBytes =
        qsect != 0 ? SectionHeaderBytes + SectionPartBytes * static_cast<std::uint32_t>(sectionParts)
                   : 0;
    auto record = PrivateAllocBlock<std::uint8_t>(baseBytes + extensionBytes);
    std::uint8_t* r = record.get();

    // The fixed 80 bytes. The words at 44, 60, 64 and 68 and flag bytes 2 and 3 are no key's
    // and stay zero.
    StoreVector(r + PartRecordPositionOffset, SceneVectorAt(xml, obj, "p"));
    StoreVector(r + PartRecordRotationOffset, SceneVectorAt(xml, obj, "r"));
    r[PartRecordFlagsOffset] = static_cast<std::uint8_t>(SceneIntAt(xml, obj, "f"));
    StoreI32LE(r + PartRecordShapeTypeOffset, SceneIntAt(xml, obj, "o"));
    StoreU32LE(r + PartRecordExtensionBytesOffset, extensionBytes);
    StoreI32LE(r + PartRecordParamCountOffset, paramCount);
    StoreI32LE(r + PartRecordPartIdOffset, SceneIntAt(xml, obj, "g"));
    StoreU32LE(r + PartRecordColourOffset, static_cast<std::uint32_t>(SceneIntAt(xml, obj, "c")));
    StoreU32LE(r + PartRecordDerivedColourOffset,
               static_cast<std::uint32_t>(SceneIntAt(xml, obj, "tc")));
    r[PartRecordTintOffset] = static_cast<std::uint8_t>(SceneIntAt(xml, obj, "tn"));

    const bool scene = keys == ObjKeys::Scene;
    const std::optional<std::int32_t> glowColour =
        scene ? SceneOptionalIntAt(xml, obj, "glc") : std::nullopt;
    StoreU32LE(r + PartRecordGlowColourOffset,
               glowColour ? static_cast<std::uint32_t>(*glowColour) : DefaultGlowColour);
    StoreF32LE(r + PartRecordGlowIntensityOffset,
               scene && SceneHasValue(xml, obj, "glv") ? SceneFloatAt(xml, obj, "glv") : 1.0f);
    StoreF32LE(r + PartRecordFractionOffset, scene && SceneHasValue(xml, obj, "ct")
                                                 ? SceneFloatAt(xml, obj, "ct")
                                                 : RandomFraction());

    // Parameters: one "P" each, in order; a missing one ends them.
    std::int32_t p = SceneFindChild(xml, obj, 0, ParamElement);
    for (std::int32_t i = 0; i < paramCount && p != 0; ++i, p = SceneNextNamed(xml, p, ParamElement)) {
        StoreF32LE(r + PartRecordParamsOffset + 4 * static_cast<std::uint32_t>(i),
                   SceneFloatDataAt(xml, p));
    }

    if (qsect != 0) {
        std::uint8_t* section = r + baseBytes;
        StoreU16LE(section, static_cast<std::uint16_t>(SceneIntAt(xml, qsect, "version")));
        StoreU16LE(section + 2, SectionMarker);
        StoreU32LE(section + 4, extensionBytes);
        StoreU32LE(section + 8, static_cast<std::uint32_t>(sectionParts));
        std::int32_t qsp = SceneFindChild(xml, qsect, 0, SectionPartElement);
        for (std::int32_t i = 0; i < sectionParts && qsp != 0;
             ++i, qsp = SceneNextNamed(xml, qsp, SectionPartElement)) {
            ReadFields(xml, qsp, SectionPartKeys,
                       section + SectionHeaderBytes +
                           SectionPartBytes * static_cast<std::uint32_t>(i));
        }
    }

    PlaceAtScale(r, 1.0 / scale);
    return record;
}

std::uint64_t ObjRecordBytesLimit(std::size_t textBytes) {
    constexpr std::uint64_t BytesPerTextByte = 16;
    constexpr std::uint64_t Allowance = std::uint64_t{1} << 20;
    return std::min<std::uint64_t>(BytesPerTextByte * textBytes + Allowance,
                                   UINT32_MAX - PartBlockHeaderBytes);
}

std::int32_t ReadQSect(PartRecordList& records, XmlDocument& xml) {
    records.clear();
    if (!xml.FindElement(KvrElement)) return QSectNoRecords;
    const std::int32_t kvr = xml.CurrentPosition();
    const std::uint64_t limit = ObjRecordBytesLimit(xml.Text().size());
    std::uint64_t bytes = 0;
    PartRecordList read;
    for (std::int32_t obj = SceneFindChild(xml, kvr, 0, ObjElement); obj != 0;
         obj = SceneNextNamed(xml, obj, ObjElement)) {
        PrivateBlockPtr<std::uint8_t> record = ReadObjRecord(xml, obj, ObjKeys::ObjectFile, SceneScale);
        if (!record) return QSectUnreadable;
        bytes += PartRecordBytes(record.get());
        if (bytes > limit) return QSectUnreadable;
        read.push_back(std::move(record));
    }
    records = std::move(read);
    return QSectLoaded;
}

namespace {

// The records of a binary part block in our byte order, each checked against the bytes that
// remain before it is copied.
std::int32_t ReadBinaryRecords(PartRecordList& records, std::span<const std::uint8_t> bytes) {
    if (bytes.size() < PartBlockHeaderBytes) return QSectUnreadable;
    if (LoadU16LE(bytes.data() + PartBlockMarkerOffset) != PartBlockNativeMarker) {
        return QSectUnreadable;
    }
    const std::uint32_t count = LoadU32LE(bytes.data() + PartBlockPartCountOffset);
    PartRecordList read;
    std::size_t offset = PartBlockHeaderBytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t remaining = bytes.size() - offset;
        if (remaining < PartRecordFixedBytes) return QSectUnreadable;
        const std::uint8_t* at = bytes.data() + offset;
        const std::int32_t paramCount = LoadI32LE(at + PartRecordParamCountOffset);
        if (paramCount < 0) return QSectUnreadable;
        const std::uint64_t size = PartRecordFixedBytes + 4 * static_cast<std::uint64_t>(paramCount) +
                                   LoadU32LE(at + PartRecordExtensionBytesOffset);
        if (size > remaining) return QSectUnreadable;
        auto record = PrivateAllocBlock<std::uint8_t>(static_cast<std::uint32_t>(size));
        std::memcpy(record.get(), at, static_cast<std::size_t>(size));
        PlaceAtScale(record.get(), 1.0 / SceneScale);
        read.push_back(std::move(record));
        offset += static_cast<std::size_t>(size);
    }
    records = std::move(read);
    return QSectLoaded;
}

}  // namespace

std::int32_t LoadQSectFile(PartRecordList& records, std::string_view path) {
    records.clear();
    if (path.empty()) return QSectUnreadable;
    XmlDocument xml;
    if (xml.Load(path)) {
        const std::int32_t root = xml.Element(0)->firstChild;
        if (!xml.FindElement(xml.GetElementName(root)) || !xml.EnterElement()) {
            return QSectNoRecords;
        }
        return ReadQSect(records, xml);
    }
    FileBytes file;
    if (file.Read(path) != FileOpenError::None || file.Bytes().empty()) return QSectUnreadable;
    return ReadBinaryRecords(records, file.Bytes());
}

std::array<std::uint8_t, SeedPointBytes> SeedPointFromRecord(const std::uint8_t* record) {
    std::array<std::uint8_t, SeedPointBytes> seed{};
    std::memcpy(seed.data(), record + PartRecordPositionOffset, 12);
    StoreU16LE(seed.data() + SeedVariantCodeOffset, 11);
    StoreU16LE(seed.data() + SeedVariantLevelOffset, 11000);
    StoreU16LE(seed.data() + SeedShapeCodeOffset, 13);
    return seed;
}

std::array<std::uint8_t, SeedPointBytes> SeedPointFromElement(const XmlDocument& xml,
                                                              std::int32_t op,
                                                              const std::uint8_t* record) {
    std::array<std::uint8_t, SeedPointBytes> seed{};
    std::memcpy(seed.data(), record + PartRecordPositionOffset, 12);
    ReadFields(xml, op, SeedPointKeys, seed.data());
    return seed;
}

namespace {

// What an "Obj" says beside its record.
struct ObjIndices {
    std::optional<std::int32_t> texture;
    std::optional<std::int32_t> group;
    std::int32_t bot = -1;
};

// The section block of a record's extension, as far as the extension holds it: a block
// shorter than its header is no section, and a part count beyond the extension is cut to
// the parts that fit, so nothing past the record is read.
void WriteSection(XmlDocument& xml, const std::uint8_t* section, std::uint32_t extensionBytes) {
    if (extensionBytes < SectionHeaderBytes) return;
    const std::uint32_t fitting = (extensionBytes - SectionHeaderBytes) / SectionPartBytes;
    const std::uint32_t partCount = std::min(LoadU32LE(section + 8), fitting);
    xml.AddElement(SectionElement);
    SceneSetInt(xml, "version", static_cast<std::int16_t>(LoadU16LE(section)));
    SceneSetInt(xml, "np", static_cast<std::int32_t>(partCount));
    xml.EnterElement();
    for (std::uint32_t i = 0; i < partCount; ++i) {
        xml.AddElement(SectionPartElement);
        WriteFields(xml, SectionPartKeys, section + SectionHeaderBytes + SectionPartBytes * i);
    }
    xml.LeaveElement();
}

// One "Obj" for the placed record r of object, keys in the order the format lists them.
void WriteObj(XmlDocument& xml, const QMorvanObject& object, const std::uint8_t* r,
              const ObjIndices& indices) {
    const std::int32_t paramCount = PartRecordParamCount(r);
    const std::uint32_t extensionBytes = LoadU32LE(r + PartRecordExtensionBytesOffset);
    xml.AddElement(ObjElement);
    SceneSetInt(xml, "o", LoadI32LE(r + PartRecordShapeTypeOffset));
    SceneSetInt(xml, "f", r[PartRecordFlagsOffset]);
    SceneSetInt(xml, "g", LoadI32LE(r + PartRecordPartIdOffset));
    SceneSetInt(xml, "c", LoadI32LE(r + PartRecordColourOffset));
    SceneSetInt(xml, "n", paramCount);
    SceneSetInt(xml, "e", static_cast<std::int32_t>(extensionBytes));
    SceneSetVector(xml, "p", LoadVector(r + PartRecordPositionOffset));
    SceneSetVector(xml, "r", LoadVector(r + PartRecordRotationOffset));
    if (indices.texture) SceneSetInt(xml, "ti", *indices.texture);
    if (indices.group) SceneSetInt(xml, "gi", *indices.group);
    SetFloatAttribute(xml, "ct", LoadF32LE(r + PartRecordFractionOffset));
    SceneSetInt(xml, "tn", r[PartRecordTintOffset]);
    SceneSetInt(xml, "tc", LoadI32LE(r + PartRecordDerivedColourOffset));
    // The object keeps no byte "an" and no vector "mo" of its own: no reader takes them.
    SceneSetInt(xml, "an", 0);
    SceneSetVector(xml, "mo", Vec3{});
    SetFloatAttribute(xml, "glv", LoadF32LE(r + PartRecordGlowIntensityOffset));
    SceneSetInt(xml, "glc", LoadI32LE(r + PartRecordGlowColourOffset));
    SceneSetInt(xml, "tb", indices.bot);
    xml.SetAttribute(xml.CurrentPosition(), "t", object.name);

    xml.EnterElement();
    for (std::int32_t i = 0; i < paramCount; ++i) {
        xml.AddElement(ParamElement, FloatToBase64(PartRecordParam(r, i)));
    }
    if (extensionBytes > 0) {
        WriteSection(xml, r + PartRecordBaseBytes(r), extensionBytes);
    }
    xml.AddElement(SeedPointElement);
    WriteFields(xml, SeedPointKeys, object.seedPoint.data());
    xml.LeaveElement();
}

std::optional<std::int32_t> EntryAt(std::span<const std::int32_t> table, std::size_t i) {
    if (i >= table.size()) return std::nullopt;
    return table[i];
}

}  // namespace

void WriteQSect(QDocumentBase& document, XmlDocument& xml,
                std::span<const std::int32_t> textureIndices,
                std::span<const std::int32_t> groupIndices, SceneSaveMode mode, double scale) {
    const std::int32_t startPercent = document.progressPercent;
    const std::uint8_t* block = document.PartBlock();
    xml.AddElement(KvrElement);
    SceneSetInt(xml, "version", static_cast<std::int16_t>(LoadU16LE(block + PartBlockVersionOffset)));
    SceneSetInt(xml, "numGroups", LoadI32LE(block + PartBlockIdSpanOffset));
    SceneSetInt(xml, "flags", block[PartBlockFlagsOffset]);
    if (mode == SceneSaveMode::ViewOnly) return;

    // Bots are numbered by their place in the bot list.
    std::map<const QToadObj*, std::int32_t> botNumbers;
    if (mode == SceneSaveMode::Everything) {
        const std::vector<QToadObj*>& bots = document.BotList()->Bots();
        for (std::size_t i = 0; i < bots.size(); ++i) {
            botNumbers.emplace(bots[i], static_cast<std::int32_t>(i));
        }
    }
    const bool isCurrent = CurrentDocument() == &document;
    const std::vector<QMorvanObject*>& objects = document.Objects()->Objects();
    const auto objectCount = static_cast<double>(objects.size());
    std::vector<std::uint8_t> placed;
    xml.EnterElement();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const QMorvanObject& object = *objects[i];
        const std::uint8_t* record = object.GetPartRecord();
        if (record == nullptr) continue;
        placed.assign(record, record + PartRecordBytes(record));
        PlaceAtScale(placed.data(), scale);
        ObjIndices indices;
        if (const auto texture = EntryAt(textureIndices, i); texture && *texture >= 0) {
            indices.texture = texture;
        }
        indices.group = EntryAt(groupIndices, i);
        if (const auto bot = botNumbers.find(object.OwnerBot()); bot != botNumbers.end()) {
            indices.bot = bot->second;
        }
        WriteObj(xml, object, placed.data(), indices);
        if (isCurrent) {
            const double percent =
                startPercent + static_cast<double>(i) * (100 - 2 * startPercent) / objectCount;
            document.AnnounceProgress(document.progressStage, static_cast<std::int32_t>(percent));
        }
    }
    xml.LeaveElement();
}

void ScenefileInitProcess() {
    SetObjectFileReader(&LoadQSectFile);
    SetPresetFileSource(&ListFolderFiles, &LoadQSectFile);
}
