#pragma once

// The corner rod (shape type 26): a rod from A to B along a circular arc, bent by a signed sine
// in the plane of the chord and C, with a lens-shaped section bounded by two curved walls that
// meet along two seams. The walls are written in the rod's own frame (origin at the arc's
// midpoint, y along the chord, x in the bend plane away from the centre of curvature) and the
// builder stores that frame as the part's placement.

#include "core/vec3.h"
#include "geometry/part_render_record.h"

#include <array>
#include <cstdint>

// The corner rod's parameters as the working record holds them.
struct CornerRodParams {
    Vec3 a, b, c;           // end points and bend direction
    Vec3 sectionA;          // section directions at A and B
    Vec3 sectionB;
    double bendSine = 0;    // signed sine of the bend
    double sizeA = 0;       // section sizes at A and B
    double sizeB = 0;
    double wall = 0;        // wall offset and proxy radius
};

// The corner rod's parameters from the doubles p0..p18.
CornerRodParams CornerRodParamsFrom(const std::array<double, 19>& p);

// Signed distance from (a, b) to the circle of curvature k through the origin tangent to the
// b axis with its centre at (-1/k, 0), without dividing by k (a itself for k = 0).
double CircleOffset(double k, double a, double b);

// The axis-aligned ellipsoid through the eight corners of the box: 0 at each corner, -3/4 at
// the centre.
Matrix4W BoxCornerQuadric(double x0, double x1, double y0, double y1, double z0, double z1);

// Builds the corner rod: walls, end planes, a bound box about the rod, four seam corners and
// the seam planes, the section directions, bend sine and half chord. Returns 1 when a section
// direction was tilted back to 45 degrees out of the bend plane or the bend was lessened so
// that the inner wall stays clear of the centre of curvature, 0 otherwise.
std::int32_t BuildCornerRodShape(PartRenderRecord& part, const CornerRodParams& rod);
