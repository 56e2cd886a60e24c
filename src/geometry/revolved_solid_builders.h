#pragma once

// Builders of the flared solid, the ring and the holed solid: solids about the y axis whose
// second surfaces are not themselves of revolution (the flared necks, an offset hole, holes
// across the axis). Conventions as for the solid primitive builders
// (solid_primitive_builders.h); KVOutOfMemoryException when the feature table cannot be
// allocated.

#include "geometry/part_render_record.h"
#include "texture/rev_tex.h"
#include "texture/surface_mapping_entry.h"

#include <cstdint>
#include <span>

// Bevelled body -1 + (x^2 + z^2)/r^2 + k^2 y^2/h^2 <= 0 cut by two flared necks of radius rn,
// turned 45 degrees about y either way from the x axis, widening by the flare (type 23).
// The body holds the part and is its bound. With heads (the container's head scratch, empty
// when the part has no surface mapping list) the two necks are mapped as surfaces 1 and 2.
void BuildFlaredSolidShape(PartRenderRecord& part, double flare, double k, double r, double rn,
                           double h, std::span<SurfaceMappingEntry> heads);

// Ellipsoidal body of radius outerR and half-height outerH with a hole of radius innerR
// offset by offset along z, widening by flare with height (type 24).
void BuildRingShape(PartRenderRecord& part, double outerR, double innerR, double outerH,
                    double flare, double offset);

// Rounded cylinder of radius r and length l (as type 14) with holeCount elliptic holes of
// half-width holeR and half-height holeH through its axis, at angles i pi / holeCount about y,
// widening by flare / r^2 along their axes (type 25). With heads, which must hold holeCount
// entries, the holes are mapped as surfaces 4 on.
void BuildHoledSolidShape(PartRenderRecord& part, double r, double l, double flare, double holeR,
                          double holeH, std::int32_t holeCount, std::span<Rtp> segments,
                          std::span<SurfaceMappingEntry> heads);
