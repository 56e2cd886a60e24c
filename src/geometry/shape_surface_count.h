#pragma once

// How many surface forms a part of each shape type needs. The part block loader reserves this
// many surfaces per part before anything is built, and the shape builders write no more than
// that; both take the counts of the types whose count is a parameter (the faceted cylinder's
// facets, the holed solid's holes) and of the composite (its extension's elements) from here,
// so that the two always agree.

#include "geometry/shape_type.h"

#include <cstdint>

// A part has at most this many surfaces.
inline constexpr std::int32_t PartSurfaceLimit = 32;

// The faceted cylinder has its 3 plain surfaces and 2 per facet; the holed solid 4 and 1 per
// hole; the composite one fewer surfaces than extension elements.
inline constexpr std::int32_t FacetedCylinderMaxFacets = (PartSurfaceLimit - 3) / 2;  // 14
inline constexpr std::int32_t HoledSolidMaxHoles = PartSurfaceLimit - 4;              // 28
inline constexpr std::uint32_t CompositeMinElements = 2;
inline constexpr std::uint32_t CompositeMaxElements = PartSurfaceLimit + 1;  // 33

// The faceted cylinder's facets per rim from its parameter p3: p3 rounded half away from
// zero, held to 0..14 (NaN gives 0). More facets would need more than 32 surfaces, and a
// count below 0 leaves the plain closed cylinder.
std::int32_t FacetedCylinderFacetCount(double p3);

// The holed solid's holes from its parameter p5: rounded half away from zero, held to 0..28
// (NaN gives 0).
std::int32_t HoledSolidHoleCount(double p5);

// Surfaces of a part of shape type type: 1 to 8 by type; 2 x facets + 3 for the faceted
// cylinder and holes + 4 for the holed solid, countParam being its p3 or p5 (0 when the
// record has no such parameter); elementCount - 1 for the composite (its extension holds
// 2..33 elements, which the loader has checked). Any other number gets 1, as it is built as a
// sphere.
std::int32_t ShapeSurfaceCount(ShapeType type, double countParam, std::uint32_t elementCount);
