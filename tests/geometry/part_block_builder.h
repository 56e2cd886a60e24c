#pragma once

// Part blocks for the geometry tests: native blocks written from a list of record values,
// their byte-swapped twins as a machine of the other byte order writes them, and composite
// extensions.

#include "core/byte_order.h"
#include "core/vec3.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "geometry/shape_type.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace part_block_test {

struct RecordValues {
    ShapeType type = ShapeType::Sphere;
    std::vector<float> params;
    Vec3 position;
    Vec3 rotation;
    std::uint8_t flags = 0;
    std::uint8_t tint = 0;
    std::int32_t partId = 0;
    std::uint32_t aux44 = 0;
    std::uint32_t glowColour = 0;
    std::uint32_t derivedColour = 0;
    std::uint32_t colour = 0;
    std::array<float, 2> aux64{};
    float glowIntensity = 0;
    float fraction = 0;
    std::vector<std::uint8_t> extension;
};

inline RecordValues Record(ShapeType type, std::vector<float> params = {},
                           std::int32_t partId = 0) {
    RecordValues r;
    r.type = type;
    r.params = std::move(params);
    r.partId = partId;
    return r;
}

// Appends one record to block (header count and length follow).
inline void AppendRecord(std::vector<std::uint8_t>& block, const RecordValues& v) {
    const std::size_t at = block.size();
    block.resize(at + PartRecordFixedBytes + 4 * v.params.size() + v.extension.size(), 0);
    std::uint8_t* r = block.data() + at;
    PartRecordSetPosition(r, v.position);
    PartRecordSetRotation(r, v.rotation);
    r[PartRecordFlagsOffset] = v.flags;
    r[PartRecordTintOffset] = v.tint;
    PartRecordSetShapeType(r, v.type);
    StoreU32LE(r + PartRecordExtensionBytesOffset, static_cast<std::uint32_t>(v.extension.size()));
    StoreI32LE(r + PartRecordParamCountOffset, static_cast<std::int32_t>(v.params.size()));
    StoreI32LE(r + PartRecordPartIdOffset, v.partId);
    StoreU32LE(r + PartRecordAux44Offset, v.aux44);
    StoreU32LE(r + PartRecordGlowColourOffset, v.glowColour);
    StoreU32LE(r + PartRecordDerivedColourOffset, v.derivedColour);
    StoreU32LE(r + PartRecordColourOffset, v.colour);
    StoreF32LE(r + PartRecordAux64Offset, v.aux64[0]);
    StoreF32LE(r + PartRecordAux64Offset + 4, v.aux64[1]);
    StoreF32LE(r + PartRecordGlowIntensityOffset, v.glowIntensity);
    StoreF32LE(r + PartRecordFractionOffset, v.fraction);
    for (std::size_t i = 0; i < v.params.size(); ++i) {
        StoreF32LE(r + PartRecordParamsOffset + 4 * i, v.params[i]);
    }
    std::copy(v.extension.begin(), v.extension.end(),
              r + PartRecordParamsOffset + 4 * v.params.size());
    StoreU32LE(block.data() + PartBlockPartCountOffset,
               LoadU32LE(block.data() + PartBlockPartCountOffset) + 1);
    StoreU32LE(block.data() + PartBlockRecordBytesOffset,
               static_cast<std::uint32_t>(block.size() - PartBlockHeaderBytes));
}

// A native block of the records, with the id span and flags given.
inline std::vector<std::uint8_t> MakeBlock(const std::vector<RecordValues>& records,
                                           std::uint32_t idSpan = 0,
                                           std::uint8_t flags = PartBlockFlagScaled |
                                                                PartBlockFlagOriented) {
    std::vector<std::uint8_t> block(PartBlockHeaderBytes);
    PartBlockWriteHeader(block.data());
    StoreU32LE(block.data() + PartBlockIdSpanOffset, idSpan);
    block[PartBlockFlagsOffset] = flags;
    for (const RecordValues& record : records) AppendRecord(block, record);
    return block;
}

// A composite extension: kind 1, the element count, then per element its ten floats and its
// flip byte.
struct CompositeElement {
    std::array<float, 10> values{};
    std::uint8_t flip = 0;
};

inline std::vector<std::uint8_t> CompositeExtension(const std::vector<CompositeElement>& elements,
                                                    std::uint32_t extraBytes = 0) {
    std::vector<std::uint8_t> e(20 + 44 * elements.size() + extraBytes, 0);
    StoreU16LE(e.data(), 1);
    StoreU16LE(e.data() + 2, 0xFFFF);
    StoreU32LE(e.data() + 4, 0x01020304);
    StoreU32LE(e.data() + 8, static_cast<std::uint32_t>(elements.size()));
    StoreU32LE(e.data() + 12, 0x0A0B0C0D);
    StoreU32LE(e.data() + 16, 0x11121314);
    for (std::size_t k = 0; k < elements.size(); ++k) {
        std::uint8_t* element = e.data() + 20 + 44 * k;
        for (std::size_t w = 0; w < 10; ++w) StoreF32LE(element + 4 * w, elements[k].values[w]);
        element[40] = elements[k].flip;
        element[41] = 0x5A;  // pad bytes are carried, never swapped
    }
    return e;
}

inline void Swap16(std::uint8_t* p) { StoreU16BE(p, LoadU16LE(p)); }
inline void Swap32(std::uint8_t* p) { StoreU32BE(p, LoadU32LE(p)); }

// The block as a machine of the other byte order writes it: marker 0, every 32-bit word of the
// header and of each record swapped (the flag bytes stay), composite extensions too. Records
// that do not fit the block (the tests' malformed blocks) are swapped as far as they reach.
inline std::vector<std::uint8_t> ForeignTwin(const std::vector<std::uint8_t>& native) {
    std::vector<std::uint8_t> block = native;
    std::uint8_t* b = block.data();
    const std::uint32_t count = LoadU32LE(b + PartBlockPartCountOffset);
    std::size_t offset = PartBlockHeaderBytes;
    for (std::uint32_t i = 0; i < count && offset + 80 <= block.size(); ++i) {
        std::uint8_t* r = b + offset;
        const std::size_t room = block.size() - offset;
        const std::int32_t n = LoadI32LE(r + PartRecordParamCountOffset);
        const std::size_t words = n < 0 ? 20 : std::min<std::size_t>(20 + std::size_t(n), room / 4);
        const std::size_t base = 80 + 4 * std::size_t(n < 0 ? 0 : n);
        const std::uint32_t e = LoadU32LE(r + PartRecordExtensionBytesOffset);
        if (PartRecordShapeType(r) == ShapeType::Composite && n >= 0 && base + 20 <= room &&
            e >= 20) {
            std::uint8_t* x = r + base;
            const std::size_t elements = std::min<std::size_t>(
                LoadU32LE(x + 8), (std::min<std::size_t>(e, room - base) - 20) / 44);
            Swap16(x);
            StoreU16LE(x + 2, 0);
            for (std::uint32_t at = 4; at < 20; at += 4) Swap32(x + at);
            for (std::size_t k = 0; k < elements; ++k) {
                for (std::size_t w = 0; w < 10; ++w) Swap32(x + 20 + 44 * k + 4 * w);
            }
        }
        for (std::size_t w = 0; w < words; ++w) {
            if (4 * w != PartRecordFlagsOffset) Swap32(r + 4 * w);
        }
        offset += base + e;
    }
    Swap16(b + PartBlockVersionOffset);
    StoreU16LE(b + PartBlockMarkerOffset, 0);
    for (std::uint32_t at :
         {PartBlockPartCountOffset, PartBlockRecordBytesOffset, PartBlockIdSpanOffset}) {
        Swap32(b + at);
    }
    return block;
}

}  // namespace part_block_test
