#include "geometry/part_block.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/matrix4.h"
#include "core/private_heap.h"
#include "geometry/composite_extension.h"
#include "geometry/part_placement.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"
#include "geometry/surface_table.h"
#include "geometry/working_part_record.h"

#include <bit>
#include <cstddef>
#include <optional>
#include <vector>

namespace {

// A record must leave room for its fixed fields and one parameter word.
constexpr std::uint32_t PartRecordMinimumBytes = PartRecordFixedBytes + 4;

// Reads the words of a block (or of a composite extension, which carries its own marker) in
// the order they were written in.
struct WordReader {
    bool foreign = false;

    std::uint16_t U16(const std::uint8_t* p) const { return foreign ? LoadU16BE(p) : LoadU16LE(p); }
    std::uint32_t U32(const std::uint8_t* p) const { return foreign ? LoadU32BE(p) : LoadU32LE(p); }
    std::int32_t I32(const std::uint8_t* p) const { return static_cast<std::int32_t>(U32(p)); }
    float F32(const std::uint8_t* p) const { return std::bit_cast<float>(U32(p)); }
};

WordReader ReaderOf(const std::uint8_t* marked, std::uint32_t markerOffset) {
    return WordReader{LoadU16LE(marked + markerOffset) != PartBlockNativeMarker};
}

// A foreign word rewritten in our order.
void SwapU16(std::uint8_t* p) { StoreU16LE(p, LoadU16BE(p)); }
void SwapU32(std::uint8_t* p) { StoreU32LE(p, LoadU32BE(p)); }

// A record that passed every check, as the conversion and the build need it.
struct CheckedRecord {
    std::uint32_t offset = 0;  // from the block's start
    std::uint32_t paramCount = 0;
    std::int32_t surfaces = 0;
    bool isComposite = false;
};

// Checks the record at offset (the block's words read by reader) and returns what it needs,
// or nothing when it runs past end (an offset from the block's start) or breaks a limit: a
// parameter count outside 0..19, or a composite whose extension is not of kind 1 with 2..33
// elements inside it.
std::optional<CheckedRecord> CheckRecord(const std::uint8_t* block, std::uint64_t end,
                                         std::uint64_t offset, const WordReader& reader) {
    if (offset > end || end - offset < PartRecordFixedBytes) return std::nullopt;
    const std::uint64_t remaining = end - offset;
    const std::uint8_t* record = block + offset;
    const std::int32_t paramCount = reader.I32(record + PartRecordParamCountOffset);
    if (paramCount < 0 || paramCount > PartRecordMaxParams) return std::nullopt;
    const std::uint64_t paramEnd =
        PartRecordFixedBytes + 4 * std::uint64_t{static_cast<std::uint32_t>(paramCount)};
    const std::uint64_t extensionBytes = reader.U32(record + PartRecordExtensionBytesOffset);
    if (remaining < paramEnd + extensionBytes) return std::nullopt;

    CheckedRecord checked;
    checked.offset = static_cast<std::uint32_t>(offset);
    checked.paramCount = static_cast<std::uint32_t>(paramCount);
    const auto shapeType = static_cast<ShapeType>(reader.I32(record + PartRecordShapeTypeOffset));
    const auto param = [&](std::int32_t i) -> double {
        return i < paramCount ? reader.F32(record + PartRecordParamsOffset + 4 * i) : 0.0;
    };
    std::uint32_t elementCount = 0;
    if (shapeType == ShapeType::Composite) {
        if (extensionBytes < CompositeExtensionHeaderBytes) return std::nullopt;
        const std::uint8_t* extension = record + paramEnd;
        const WordReader extensionReader = ReaderOf(extension, 2);
        elementCount = extensionReader.U32(extension + CompositeCountOffset);
        if (extensionReader.U16(extension) != CompositeExtensionKind ||
            elementCount < CompositeMinElements || elementCount > CompositeMaxElements ||
            extensionBytes < CompositeExtensionHeaderBytes +
                                 std::uint64_t{elementCount} * CompositeElementBytes) {
            return std::nullopt;
        }
        checked.isComposite = true;
    }
    const double countParam = shapeType == ShapeType::FacetedCylinder ? param(3)
                              : shapeType == ShapeType::HoledSolid    ? param(5)
                                                                      : 0.0;
    checked.surfaces = ShapeSurfaceCount(shapeType, countParam, elementCount);
    return checked;
}

// Rewrites a foreign composite extension in our order: its kind, its four header words and the
// ten float words of each element; its marker then reads native.
void ConvertCompositeExtension(std::uint8_t* extension) {
    if (LoadU16LE(extension + 2) == PartBlockNativeMarker) return;
    SwapU16(extension);
    StoreU16LE(extension + 2, PartBlockNativeMarker);
    for (std::uint32_t offset = 4; offset < CompositeExtensionHeaderBytes; offset += 4) {
        SwapU32(extension + offset);
    }
    const std::uint32_t count = LoadU32LE(extension + CompositeCountOffset);
    for (std::uint32_t k = 0; k < count; ++k) {
        std::uint8_t* element =
            extension + CompositeExtensionHeaderBytes + k * CompositeElementBytes;
        for (std::uint32_t w = 0; w < CompositeElementSwappedWords; ++w) SwapU32(element + 4 * w);
    }
}

// The placement that turns a legacy block's parts into scene units and axes: a block without
// flag 0x40 is scaled by 20, one without 0x80 turned half a turn about x (y and z negated).
std::optional<Matrix4W> LegacyPlacement(std::uint8_t flags) {
    const bool scaled = (flags & PartBlockFlagScaled) != 0;
    const bool oriented = (flags & PartBlockFlagOriented) != 0;
    if (scaled && oriented) return std::nullopt;
    const double s = scaled ? 1.0 : 20.0;
    const double t = oriented ? s : -s;
    Matrix4W placement;
    placement.m[0] = 1.0;
    placement.m[5] = s;
    placement.m[10] = t;
    placement.m[15] = t;
    return placement;
}

}  // namespace

void PartBlockWriteHeader(std::uint8_t* block) {
    StoreU16LE(block + PartBlockVersionOffset, PartBlockVersion);
    StoreU16LE(block + PartBlockMarkerOffset, PartBlockNativeMarker);
    StoreU32LE(block + PartBlockPartCountOffset, 0);
    StoreU32LE(block + PartBlockRecordBytesOffset, 0);
    StoreU32LE(block + PartBlockIdSpanOffset, 0);
    block[PartBlockFlagsOffset] = PartBlockFlagScaled | PartBlockFlagOriented;
    block[17] = block[18] = block[19] = 0;
}

std::int32_t LoadPartBlock(SceneGeometry& geometry, std::uint8_t* block, std::uint32_t length,
                           bool rebuildOctree, std::uint8_t* appendFrom, bool keepIds) {
    // Check the whole block, reading it in its own byte order, before anything changes: a
    // refused block leaves both the block and the container as they were.
    if (block == nullptr || length < PartBlockHeaderBytes) return PartBlockRejected;
    const WordReader reader = ReaderOf(block, PartBlockMarkerOffset);
    if (reader.U16(block + PartBlockVersionOffset) != PartBlockVersion) return PartBlockRejected;
    const std::uint32_t newCount = reader.U32(block + PartBlockPartCountOffset);
    const std::uint32_t idSpan = reader.U32(block + PartBlockIdSpanOffset);
    const auto oldCount = static_cast<std::uint32_t>(geometry.PartCount());
    const bool appending = appendFrom != nullptr && oldCount != 0 && newCount != 0;
    if (appending) {
        ORBELLE_CHECK(appendFrom >= block + PartBlockHeaderBytes && appendFrom <= block + length);
    }

    // Every length is checked against the bytes that remain before it is used, so a huge
    // part count ends at the block's end instead of reading past it.
    std::vector<CheckedRecord> records;
    std::vector<std::int32_t> surfaceRooms;
    auto offset = static_cast<std::uint32_t>(appending ? appendFrom - block
                                                       : std::ptrdiff_t{PartBlockHeaderBytes});
    for (std::uint32_t index = appending ? oldCount : 0; index < newCount; ++index) {
        // A record needs room for one parameter word at least, even when it has none.
        if (length - offset < PartRecordMinimumBytes) return PartBlockRejected;
        const std::optional<CheckedRecord> checked = CheckRecord(block, length, offset, reader);
        if (!checked) return PartBlockRejected;
        TranslateBadAlloc([&] {
            records.push_back(*checked);
            surfaceRooms.push_back(checked->surfaces);
        });
        const std::uint8_t* record = block + offset;
        offset += PartRecordFixedBytes + 4 * checked->paramCount +
                  reader.U32(record + PartRecordExtensionBytesOffset);
    }

    // Room for the new parts; an exhausted heap throws here, still changing nothing.
    geometry.AddParts(surfaceRooms, appending);

    // The block is accepted: bring it into our order, offset its ids and convert legacy units
    // and axes. A foreign record has every 32-bit word swapped; the four flag bytes stay. Any
    // marker but 0xFFFF means foreign, so the converted block is marked 0xFFFF outright (the
    // complement of a foreign marker other than 0 would still read foreign, and a second load
    // would swap the block back).
    const std::int32_t idOffset = appending ? geometry.idBase : 0;
    std::uint8_t& flags = block[PartBlockFlagsOffset];
    const std::optional<Matrix4W> legacy = LegacyPlacement(flags);
    if (reader.foreign) {
        SwapU16(block + PartBlockVersionOffset);
        StoreU16LE(block + PartBlockMarkerOffset, PartBlockNativeMarker);
        SwapU32(block + PartBlockPartCountOffset);
        SwapU32(block + PartBlockRecordBytesOffset);
        SwapU32(block + PartBlockIdSpanOffset);
    }
    for (const CheckedRecord& checked : records) {
        std::uint8_t* record = block + checked.offset;
        if (reader.foreign) {
            for (std::uint32_t at = 0; at < PartRecordParamsOffset + 4 * checked.paramCount;
                 at += 4) {
                if (at != PartRecordFlagsOffset) SwapU32(record + at);
            }
        }
        if (checked.isComposite) {
            ConvertCompositeExtension(record + PartRecordBaseBytes(record));
        }
        if (!keepIds) {
            const std::uint32_t partId = LoadU32LE(record + PartRecordPartIdOffset);
            StoreU32LE(record + PartRecordPartIdOffset,
                       partId + static_cast<std::uint32_t>(idOffset));
        }
        if (legacy) SetPartPlacement(record, *legacy);
    }
    if (legacy) flags |= PartBlockFlagScaled | PartBlockFlagOriented;
    if (!keepIds) {
        geometry.idBase = static_cast<std::int32_t>(static_cast<std::uint32_t>(idOffset) +
                                                    (idSpan == 0 ? 1 : idSpan));
    }

    // Build every new part; a part that fails to build does not stop the others.
    std::int32_t result = 0;
    const auto first = static_cast<std::int32_t>(appending ? oldCount : 0);
    for (std::size_t k = 0; k < records.size(); ++k) {
        const std::int32_t built =
            BuildPartShape(geometry, block + records[k].offset,
                           first + static_cast<std::int32_t>(k), false, true, false);
        if (result == 0) result = built;
    }
    UpdateSurfaceTable(geometry, rebuildOctree, {},
                       appending ? static_cast<std::int32_t>(records.size()) : 0);
    return result;
}

bool PartBlockIsWellFormed(const std::uint8_t* block, std::uint64_t length) {
    if (block == nullptr || length < PartBlockHeaderBytes) return false;
    if (LoadU16LE(block + PartBlockVersionOffset) != PartBlockVersion ||
        LoadU16LE(block + PartBlockMarkerOffset) != PartBlockNativeMarker) {
        return false;
    }
    const std::uint64_t recordBytes = LoadU32LE(block + PartBlockRecordBytesOffset);
    if (recordBytes > length - PartBlockHeaderBytes) return false;
    const std::uint64_t end = PartBlockHeaderBytes + recordBytes;
    const std::uint32_t count = LoadU32LE(block + PartBlockPartCountOffset);
    std::uint64_t offset = PartBlockHeaderBytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!CheckRecord(block, end, offset, WordReader{})) return false;
        offset += PartRecordBytes(block + offset);
    }
    return offset == end;
}
