#pragma once

// A part of the scene geometry as the gizmo's physics reads it: plain values taken from the
// part's working entry by whoever holds the geometry (the gizmo loader). The physics needs
// the part's solid (its bounding surfaces), its frame and its bounds, and nothing of how the
// container keeps them, so the mass sampling and the slider guide set-up can be run and
// tested on parts described directly.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/shape_type.h"

#include <array>
#include <cstdint>
#include <span>

// Integer box bounds in grid units of 1/1024 scene unit, high bounds exclusive:
// low x, high x, low y, high y, low z, high z.
using PartGridBox = std::array<std::int32_t, 6>;

// Grid units per scene unit of a PartGridBox.
inline constexpr double PartGridUnitsPerUnit = 1024.0;

struct PhysicsPart {
    std::int32_t partIndex = -1;
    ShapeType shapeType{};
    Matrix4W localFromWorld;  // the part's frame: world coordinates into the part's own
    Vec3 position;            // the position triple of the part's record
    // The bounding surfaces in world coordinates, w-first symmetric forms, negative inside;
    // the part's solid is where every one is negative. Borrowed: the caller keeps them alive.
    std::span<const Matrix4W> surfaces;
    std::uint32_t curvedMask = 0;  // bit i set: surface i is curved; clear: a plane
    PartGridBox box{};
    std::int32_t octreeLevel = 0;  // floor(log2) of the box's largest extent
    Vec3 sphereCentre;             // bounding sphere
    double sphereRadius = 0.0;
};
