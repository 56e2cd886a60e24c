#pragma once

// Builders of the rounded and smoothed primitives: the counterparts of the closed cylinder,
// box, cone frustum, tapered prism and flat-sided cylinder whose edges an extra quadric rounds
// or chamfers. They share the conventions of the solid primitive builders
// (solid_primitive_builders.h): part coordinates centred on the origin with the long axis
// along y, every field the builder owns rewritten on each build, no checks of their own (the
// shape build raises the sizes first and refuses forms that are not finite), and
// KVOutOfMemoryException when the feature table or wrap map cannot be allocated.

#include "geometry/part_render_record.h"
#include "texture/rev_tex.h"

#include <span>

// Rounded cylinder of radius r and length l (type 14): the side, the end planes y >= -l/2 and
// y <= l/2, then the rounding ellipsoid -1 + (d/r)(x^2 + z^2) + (2d/l) y^2 <= 0 with
// d = min(1 / ((1 - a)^2 r + l/2), 1 / ((1 - b)^2 l/2 + r)), which meets the side at
// y = +-sqrt((1/d - r) l/2). A capsule proxy when 2r <= l, else a disc.
void BuildRoundedCylinderShape(PartRenderRecord& part, double r, double l, double a, double b,
                               std::span<Rtp> segments);

// Box of sides w (x), l (y), d (z) whose four edges along y are chamfered by the quadric
// -1 + A x^2 - y^2 + B z^2 <= 0 (type 15), f the chamfer's share of the smaller of w and d:
// six planes, then the quadric; sixteen corners where the chamfer meets the x and z faces at
// both ends. With a texture image it gets a box wrap map.
void BuildRoundedBoxShape(PartRenderRecord& part, double w, double l, double d, double f);

// Cone frustum of length l from radius r1 at y = -l/2 to r2 at y = l/2 (type 16), its lower
// rim chamfered by a second cone: the cone, the end planes, the chamfer cone. Neither radius
// may fall below 0.001 of the other.
void BuildRoundedFrustumShape(PartRenderRecord& part, double l, double r1, double r2, double a,
                              double b, std::span<Rtp> segments);

// Plate of thickness t (x) and length l (y), wb wide at the bottom and wt at the top, bounded
// by five quadrics only (type 17); a sphere proxy at the origin and no corners or edges.
void BuildSmoothPlateShape(PartRenderRecord& part, double t, double l, double wb, double wt);

// The shortest octagonal bar of radius r that its rounding ellipsoid fits (type 18, a = 0.1).
double RoundedOctagonMinLength(double r);

// Octagonal bar of circumradius r and length l (raised to RoundedOctagonMinLength) with a
// rounding ellipsoid (type 18): the side, the four flats at r cos(pi/8), the end planes, the
// ellipsoid; sixteen corners where flats and side meet the ellipsoid. With a texture image it
// gets a flat-sided cylinder wrap map.
void BuildRoundedOctagonShape(PartRenderRecord& part, double r, double l);
