#include "scenefile/object_records.h"

#include "core/byte_order.h"
#include "core/crt_random.h"
#include "core/xml_document.h"
#include "geometry/part_block.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"
#include "model/kv_obj_tex_container.h"
#include "model/q_document_base.h"
#include "platform/file_bytes.h"
#include "scenefile/scene_values.h"

#include <algorithm>
#include <cstring>
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

void ReadSectionPart(const XmlDocument& xml, std::int32_t qsp, std::uint8_t* at) {
    StoreF32LE(at, SceneFloatAt(xml, qsp, "xs"));
    StoreF32LE(at + 4, SceneFloatAt(xml, qsp, "ys"));
    StoreF32LE(at + 8, SceneFloatAt(xml, qsp, "zs"));
    StoreF32LE(at + 12, SceneFloatAt(xml, qsp, "rsq"));
    StoreVector(at + 16, SceneVectorAt(xml, qsp, "rot"));
    StoreVector(at + 28, SceneVectorAt(xml, qsp, "trans"));
    at[40] = static_cast<std::uint8_t>(SceneIntAt(xml, qsp, "negate"));
}

}  // namespace

PrivateBlockPtr<std::uint8_t> ReadObjRecord(const XmlDocument& xml, std::int32_t obj,
                                            ObjKeys keys, double scale) {
    const std::int32_t paramCount = SceneIntAt(xml, obj, "n");
    if (paramCount < 0 || paramCount > ObjParamLimit) return {};
    const std::int32_t qsect = SceneFindChild(xml, obj, 0, "QSect");
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
    std::int32_t p = SceneFindChild(xml, obj, 0, "P");
    for (std::int32_t i = 0; i < paramCount && p != 0; ++i, p = SceneNextNamed(xml, p, "P")) {
        StoreF32LE(r + PartRecordParamsOffset + 4 * static_cast<std::uint32_t>(i),
                   SceneFloatDataAt(xml, p));
    }

    if (qsect != 0) {
        std::uint8_t* section = r + baseBytes;
        StoreU16LE(section, static_cast<std::uint16_t>(SceneIntAt(xml, qsect, "version")));
        StoreU16LE(section + 2, SectionMarker);
        StoreU32LE(section + 4, extensionBytes);
        StoreU32LE(section + 8, static_cast<std::uint32_t>(sectionParts));
        std::int32_t qsp = SceneFindChild(xml, qsect, 0, "QSP");
        for (std::int32_t i = 0; i < sectionParts && qsp != 0;
             ++i, qsp = SceneNextNamed(xml, qsp, "QSP")) {
            ReadSectionPart(xml, qsp,
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
    if (!xml.FindElement("KVR")) return QSectNoRecords;
    const std::int32_t kvr = xml.CurrentPosition();
    const std::uint64_t limit = ObjRecordBytesLimit(xml.Text().size());
    std::uint64_t bytes = 0;
    PartRecordList read;
    for (std::int32_t obj = SceneFindChild(xml, kvr, 0, "Obj"); obj != 0;
         obj = SceneNextNamed(xml, obj, "Obj")) {
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

void ScenefileInitProcess() { SetObjectFileReader(&LoadQSectFile); }
