#pragma once

// Which parameters of each shape type are sizes. A placement that carries a uniform scale
// multiplies exactly these, and the shape build keeps the ones without the NoMinimum mark
// from collapsing against the largest of them.

#include "geometry/shape_type.h"

#include <array>
#include <cstdint>

// Marks an entry that scales with the part but is left out of the minimum-size rule
// (offsets and depths that may be zero or negative).
inline constexpr std::int32_t ShapeParamNoMinimum = 0x100;

// One row: count (0..7), then count entries; an entry's low 8 bits are a parameter index.
struct ShapeTypeRow {
    std::int32_t count = 0;
    std::array<std::int32_t, 7> entries{};
};

// The row of a shape type 1..29; null for any other number.
const ShapeTypeRow* ShapeTypeTableRow(ShapeType shapeType);

// The parameter index of an entry.
inline std::int32_t ShapeParamIndex(std::int32_t entry) { return entry & 0xFF; }
