#pragma once

// The working part record: a part record widened to doubles, as the shape build reads it. The
// scene geometry keeps one and fills it from each part's compact record before the part's
// builder runs; the gizmo's motion steps place parts through one without touching the stored
// record.

#include "core/vec3.h"
#include "geometry/shape_type.h"

#include <array>
#include <cstdint>

// Parameters a part record may carry; the loader refuses a block with more.
inline constexpr std::int32_t PartRecordMaxParams = 19;

struct WorkingPartRecord {
    Vec3 position;
    Vec3 rotation;  // rotation vector: unit axis times angle
    std::array<std::uint8_t, 4>
        flagBytes{};  // byte 0 the render and mapping flags, byte 1 the tint
    ShapeType shapeType{};
    std::uint32_t extensionBytes = 0;
    std::int32_t paramCount = 0;  // 0..19: the parameters taken from the record
    std::int32_t partId = 0;
    std::uint32_t aux44 = 0;          // carried unchanged
    std::uint32_t glowColour = 0;     // 0xRRGGBB, replaces the material's colour with flag 0x02
    std::uint32_t derivedColour = 0;  // carried into the part's render record
    std::uint32_t colour = 0;         // 0xRRGGBB
    std::uint32_t textureRef = 0;     // material handle; 0 = the container's default
    std::array<double, 2> aux64{};    // carried unchanged
    double glowIntensity = 0;         // multiplies glowColour
    double fraction = 0;
    std::array<double, PartRecordMaxParams> params{};  // beyond paramCount: 0
};

// Widens the record (its fixed 80 bytes and its parameters) into working. At most 19
// parameters are taken: a record that claims more (or a negative count) gives 19 (or 0), so a
// malformed record never writes past the working record.
void ExpandPartRecord(const std::uint8_t* record, WorkingPartRecord& working);
