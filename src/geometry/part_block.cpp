#include "geometry/part_block.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/float_convert.h"
#include "core/matrix4.h"
#include "geometry/part_placement.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <vector>

namespace {

constexpr std::uint32_t PartRecordMinimumBytes = PartRecordFixedBytes + 4;
constexpr std::uint16_t CompositeExtensionKind = 1;
constexpr std::uint32_t CompositeExtensionHeaderBytes = 20;
constexpr std::uint32_t CompositeElementBytes = 44;
constexpr std::uint32_t CompositeElementSwappedWords = 10;

// A foreign block holds its words in the other byte order; converting rewrites them in ours.
void SwapU16(std::uint8_t* p) { StoreU16LE(p, LoadU16BE(p)); }
void SwapU32(std::uint8_t* p) { StoreU32LE(p, LoadU32BE(p)); }

// round() of a float parameter, halves away from zero, with the defined result for NaN.
std::int32_t RoundParameter(const std::uint8_t* record, std::uint32_t index) {
    const double value = LoadF32LE(record + PartRecordFixedBytes + 4 * index);
    return TruncToInt32(std::round(value));
}

// n + k in 32 bits, wrapping as the stored counts always have: a huge or NaN parameter gives
// a defined count instead of an overflow.
std::int32_t WrappedCount(std::int64_t n, std::int64_t k) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(n + k));
}

// Surfaces that a part of the record's shape type needs. The caller counts a composite.
std::int32_t SurfaceCount(const std::uint8_t* record, std::int32_t paramCount) {
    switch (PartRecordShapeType(record)) {
        case ShapeType::Torus:
        case ShapeType::RevolvedPair:
        case ShapeType::Ring:
        case ShapeType::PlacedSolid:
        case ShapeType::CutEllipsoid:
            return 2;
        case ShapeType::Cylinder:
        case ShapeType::Frustum:
        case ShapeType::SphereZone:
        case ShapeType::Bowl:
        case ShapeType::FlaredSolid:
            return 3;
        case ShapeType::Rod:
        case ShapeType::RoundedCylinder:
        case ShapeType::RoundedFrustum:
        case ShapeType::CoredSolid:
        case ShapeType::CornerRod:
            return 4;
        case ShapeType::SmoothPlate:
            return 5;
        case ShapeType::Box:
        case ShapeType::TaperedPrism:
        case ShapeType::CutRod:
            return 6;
        case ShapeType::FlatSidedCylinder:
        case ShapeType::RoundedBox:
            return 7;
        case ShapeType::RoundedOctagon:
            return 8;
        case ShapeType::FacetedCylinder:
            return paramCount > 3 ? WrappedCount(2 * std::int64_t{RoundParameter(record, 3)}, 3)
                                  : 3;
        case ShapeType::HoledSolid:
            return paramCount > 5 ? WrappedCount(RoundParameter(record, 5), 4) : 4;
        default:
            return 1;
    }
}

// Converts a foreign composite extension of e bytes; false when it cannot hold what it states.
bool ConvertCompositeExtension(std::uint8_t* extension, std::uint32_t extensionBytes) {
    if (extensionBytes < CompositeExtensionHeaderBytes) return false;
    if (LoadU16LE(extension + 2) == PartBlockNativeMarker) return true;
    SwapU16(extension);
    StoreU16LE(extension + 2, static_cast<std::uint16_t>(~LoadU16LE(extension + 2)));
    for (std::uint32_t offset = 4; offset < CompositeExtensionHeaderBytes; offset += 4) {
        SwapU32(extension + offset);
    }
    const std::uint64_t count = LoadU32LE(extension + 8);
    if (CompositeExtensionHeaderBytes + count * CompositeElementBytes > extensionBytes) {
        return false;
    }
    for (std::uint64_t k = 0; k < count; ++k) {
        std::uint8_t* element =
            extension + CompositeExtensionHeaderBytes + k * CompositeElementBytes;
        for (std::uint32_t w = 0; w < CompositeElementSwappedWords; ++w) SwapU32(element + 4 * w);
    }
    return true;
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
                           bool /*rebuildOctree*/, std::uint8_t* appendFrom, bool keepIds) {
    // Header: bring a foreign header into our order; the complemented marker makes a second
    // load see a native block.
    if (block == nullptr || length < PartBlockHeaderBytes) return PartBlockRejected;
    const bool foreign = LoadU16LE(block + PartBlockMarkerOffset) != PartBlockNativeMarker;
    if (foreign) {
        SwapU16(block + PartBlockVersionOffset);
        StoreU16LE(block + PartBlockMarkerOffset,
                   static_cast<std::uint16_t>(~LoadU16LE(block + PartBlockMarkerOffset)));
        SwapU32(block + PartBlockPartCountOffset);
        SwapU32(block + PartBlockRecordBytesOffset);
        SwapU32(block + PartBlockIdSpanOffset);
    }
    if (LoadU16LE(block + PartBlockVersionOffset) != PartBlockVersion) return PartBlockRejected;

    const std::uint32_t newCount = LoadU32LE(block + PartBlockPartCountOffset);
    const auto oldCount = static_cast<std::uint32_t>(geometry.partCount);
    const bool appending = appendFrom != nullptr && oldCount != 0 && newCount != 0;
    if (appending) {
        ORBELLE_CHECK(appendFrom >= block + PartBlockHeaderBytes && appendFrom <= block + length);
    }
    const std::int32_t idOffset = appending ? geometry.idBase : 0;
    std::int64_t surfaceTotal = appending ? geometry.surfaceTotal : 0;
    const std::uint32_t idSpan = LoadU32LE(block + PartBlockIdSpanOffset);

    // Legacy units and axes: a block without 0x40 is scaled by 20, one without 0x80 turned
    // half a turn about x (y and z negated).
    std::uint8_t& flags = block[PartBlockFlagsOffset];
    const bool legacy = (flags & PartBlockFlagScaled) == 0 || (flags & PartBlockFlagOriented) == 0;
    Matrix4W legacyPlacement;
    if (legacy) {
        const double s = (flags & PartBlockFlagScaled) != 0 ? 1.0 : 20.0;
        const double t = (flags & PartBlockFlagOriented) != 0 ? s : -s;
        legacyPlacement.m[0] = 1.0;
        legacyPlacement.m[5] = s;
        legacyPlacement.m[10] = t;
        legacyPlacement.m[15] = t;
    }

    // Records: every length is checked against the bytes that remain before it is used, so a
    // huge part count ends at the block's end instead of reading past it.
    struct CheckedRecord {
        std::uint8_t* record;
        std::int32_t surfaces;
    };
    std::vector<CheckedRecord> checked;
    std::uint8_t* const end = block + length;
    std::uint8_t* record = appending ? appendFrom : block + PartBlockHeaderBytes;
    for (std::uint32_t index = appending ? oldCount : 0; index < newCount; ++index) {
        const auto remaining = static_cast<std::uint64_t>(end - record);
        if (remaining < PartRecordMinimumBytes) return PartBlockRejected;
        if (foreign) {
            for (std::uint32_t offset : {0u, 4u, 8u, 12u, 16u, 20u, 28u, 32u, 36u, 40u, 56u}) {
                SwapU32(record + offset);
            }
        }
        const std::int32_t paramCount = LoadI32LE(record + PartRecordParamCountOffset);
        if (paramCount < 0) return PartBlockRejected;
        const std::uint64_t paramEnd =
            PartRecordFixedBytes + 4 * static_cast<std::uint64_t>(paramCount);
        if (remaining < paramEnd) return PartBlockRejected;
        if (foreign) {
            for (std::int32_t p = 0; p < paramCount; ++p) {
                SwapU32(record + PartRecordFixedBytes + 4 * static_cast<std::size_t>(p));
            }
        }
        const std::uint32_t extensionBytes = LoadU32LE(record + PartRecordExtensionBytesOffset);
        if (remaining < paramEnd + extensionBytes) return PartBlockRejected;
        std::uint8_t* extension = record + paramEnd;
        const ShapeType shapeType = PartRecordShapeType(record);

        if (!keepIds) {
            const std::int32_t partId = LoadI32LE(record + PartRecordPartIdOffset);
            StoreI32LE(record + PartRecordPartIdOffset,
                       static_cast<std::int32_t>(static_cast<std::uint32_t>(partId) +
                                                 static_cast<std::uint32_t>(idOffset)));
        }
        if (legacy) SetPartPlacement(record, legacyPlacement);
        std::int32_t surfaces = 0;
        if (shapeType == ShapeType::Composite) {
            if (extensionBytes == 0 || !ConvertCompositeExtension(extension, extensionBytes) ||
                LoadU16LE(extension) != CompositeExtensionKind) {
                return PartBlockRejected;
            }
            // The elements must lie inside the extension, which also bounds the count.
            const std::uint64_t count = LoadU32LE(extension + 8);
            if (CompositeExtensionHeaderBytes + count * CompositeElementBytes > extensionBytes) {
                return PartBlockRejected;
            }
            surfaces = static_cast<std::int32_t>(count) - 1;
        } else {
            surfaces = SurfaceCount(record, paramCount);
        }
        surfaceTotal += surfaces;
        checked.push_back(CheckedRecord{record, surfaces});
        record += paramEnd + extensionBytes;
    }
    if (legacy) flags |= PartBlockFlagScaled | PartBlockFlagOriented;

    // The block is accepted: only now is the part table touched.
    if (!keepIds) geometry.idBase = idOffset + static_cast<std::int32_t>(idSpan == 0 ? 1 : idSpan);
    if (!appending) geometry.parts.clear();
    Matrix4W identity;
    Matrix4SetDiagonal(identity, 1.0);
    std::int32_t result = 0;
    for (const CheckedRecord& part : checked) {
        PartEntry entry;
        entry.localFromWorld = identity;
        entry.surfaceCount = part.surfaces;
        geometry.parts.push_back(entry);
        const std::int32_t built = BuildPartShape(
            geometry, part.record, static_cast<std::int32_t>(geometry.parts.size()) - 1, false,
            true, false);
        if (result == 0) result = built;
    }
    geometry.partCount = static_cast<std::int32_t>(geometry.parts.size());
    geometry.surfaceTotal = static_cast<std::int32_t>(surfaceTotal);
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
    const std::uint32_t count = LoadU32LE(block + PartBlockPartCountOffset);
    std::uint64_t offset = 0;
    const std::uint8_t* records = block + PartBlockHeaderBytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (recordBytes - offset < PartRecordFixedBytes) return false;
        const std::uint8_t* record = records + offset;
        const std::int32_t paramCount = LoadI32LE(record + PartRecordParamCountOffset);
        if (paramCount < 0) return false;
        const std::uint64_t size = PartRecordFixedBytes +
                                   4 * static_cast<std::uint64_t>(paramCount) +
                                   LoadU32LE(record + PartRecordExtensionBytesOffset);
        if (size > recordBytes - offset) return false;
        offset += size;
    }
    return offset == recordBytes;
}
