#pragma once

// The joint measures of the Sproutling generator over corner rods: the frame where one corner
// rod ends, or where two meet, and the sizes of the joint, from the rods' parameters and their
// built render records (their walls in scene coordinates, section directions and bend sines).

#include "geometry/part_render_record.h"

#include <array>

// The joint measures, 14 doubles: 0-2 the joint point, 3-5 the unit tangent there, 6-8 the
// section direction, 9 the joint bound (the caller's value, only ever lowered), 10 the reach,
// 11 the depth, 12 the fill ratio, 13 the tilt (tangent of half the angle).
using SproutlingMetrics = std::array<double, 14>;

// Measures the joint at the end B of the first rod, or at the start A of the second rod when
// that takes part: it does when given and neither record reports a changed build
// (buildResult 0). A second rod given alone always takes part. firstParams and secondParams
// are each rod's doubles p0..p18 (null for a rod not given). Does nothing when no rod is given.
void SproutlingShapeMetrics(SproutlingMetrics& out, const double* firstParams,
                            const double* secondParams, const PartRenderRecord* first,
                            const PartRenderRecord* second);
