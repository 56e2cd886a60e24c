#pragma once

// The benchmark scenes of the geometry folder: native part blocks of everyday shapes.

#include "core/byte_order.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"

#include <array>
#include <cstdint>
#include <vector>

namespace geometry_bench {

// A native block of count parts cycling through five everyday shapes (1 to 9 surfaces each),
// spread over a grid; the offset of each record is written to offsets.
inline std::vector<std::uint8_t> SceneBlock(std::int32_t count,
                                            std::vector<std::uint32_t>* offsets) {
    struct Shape {
        ShapeType type;
        std::array<float, 4> params;
        std::int32_t paramCount;
    };
    constexpr std::array<Shape, 5> shapes{{{ShapeType::Sphere, {1, 0, 0, 0}, 1},
                                           {ShapeType::Box, {1, 2, 3, 0}, 3},
                                           {ShapeType::Cylinder, {2, 1, 0, 0}, 2},
                                           {ShapeType::Frustum, {2, 1, 0.5f, 0}, 3},
                                           {ShapeType::FacetedCylinder, {2, 1, 0.5f, 3}, 4}}};
    std::vector<std::uint8_t> block(PartBlockHeaderBytes);
    PartBlockWriteHeader(block.data());
    for (std::int32_t i = 0; i < count; ++i) {
        const Shape& shape = shapes[static_cast<std::size_t>(i) % shapes.size()];
        if (offsets != nullptr) offsets->push_back(static_cast<std::uint32_t>(block.size()));
        const std::size_t at = block.size();
        block.resize(at + PartRecordFixedBytes + 4 * static_cast<std::size_t>(shape.paramCount), 0);
        std::uint8_t* r = block.data() + at;
        PartRecordSetPosition(r,
                              Vec3{static_cast<double>(i % 100), static_cast<double>(i / 100), 0});
        PartRecordSetRotation(r, Vec3{0, 0.1 * (i % 7), 0});
        PartRecordSetShapeType(r, shape.type);
        StoreI32LE(r + PartRecordParamCountOffset, shape.paramCount);
        StoreI32LE(r + PartRecordPartIdOffset, i);
        StoreU32LE(r + PartRecordColourOffset, 0x808080);
        for (std::int32_t p = 0; p < shape.paramCount; ++p) {
            PartRecordSetParam(r, p, shape.params[static_cast<std::size_t>(p)]);
        }
    }
    StoreU32LE(block.data() + PartBlockPartCountOffset, static_cast<std::uint32_t>(count));
    StoreU32LE(block.data() + PartBlockRecordBytesOffset,
               static_cast<std::uint32_t>(block.size() - PartBlockHeaderBytes));
    return block;
}

}  // namespace geometry_bench
