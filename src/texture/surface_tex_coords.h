#pragma once

// Per-pixel texture coordinates of the ellipsoids, hyperboloids, elliptic cylinders and
// parabolic strips of a part. Each function turns a point of the surface (in the surface's
// own frame) into an angle coordinate around the surface's polar axis, in [0, 2 pi), and a
// length coordinate along it, both in units where one radian of angle and one unit of length
// are the same distance on the surface, so tiles keep their shape.
//
// The angle grows in proportion to a measure F along the cross-section ellipse, read from the
// record's table 0: F(t) at the half-angle tangent t of the point's parametric angle, measured
// from the end of the cross-section's larger semi-axis B. Scaled by pi / (2 Q), with Q = F(1)
// the record's quarter measure, a full turn is exactly 2 pi.
//
// The length coordinate of the hyperboloid has the form
//     (m asinh(s) - G(s / (n + 1))) pi / (2 Q),   n = sqrt(s^2 + 1),
// with s the point's parameter along the polar axis (sinh of the hyperbolic parameter). For a
// surface of revolution of cross radius R the conformal length is the integral of
// sqrt(m^2 s^2 + c^2) / (R (1 + s^2)) ds (c the polar semi-axis); m asinh(s) is its
// logarithmic part and G, the record's table 1 in the half-angle variable s / (n + 1), the
// bounded rest; m is the record's axisTerm.
//
// On an ellipsoid s is the tangent of the parametric latitude and the length is that integral
// in closed form (an inverse sine plus an arc or area tangent), with R = 2 Q / pi, the radius
// of the circle whose quarter is the cross-section's measure: exact for a cross-section that
// is a circle. An ellipsoid's table 1 holds the measure of its second principal section for
// the conformal correction of unequal cross axes, which these functions do not read.
//
// These functions allocate nothing, keep no state and never fail: an entry without usable
// tables gives zero coordinates.

#include "core/vec3.h"
#include "texture/inverse_arc_length.h"
#include "texture/surface_mapping_entry.h"

#include <cstdint>

struct SurfaceTexCoords {
    double angle = 0;       // [0, 2 pi)
    double length = 0;      // along the polar axis; negative below the waist or equator
    double angleScale = 0;  // d angle / d distance across the polar axis at the point
    double axisRatio = 0;   // EllipsoidTexCoords: the cross semi-axes, larger over smaller
};

// Mode 2 (elliptic cylinder, and the angle part of the others): the angle of the point whose
// coordinates across the polar axis are (p, q) on the ellipse of semi-axes a and b (the
// entry's, exchanged by its swap flag as described there).
double SurfaceAngleCoord(double p, double q, const SurfaceMappingEntry& entry);

// Mode 1: hyperboloid of one sheet about z (semi-axes a, b at the waist, axial scale c).
// With tangent non-null also writes the unit tangent of the angle direction.
SurfaceTexCoords SpheroidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                   Vec3* tangent);

// Mode 0: ellipsoid of semi-axes a, b, c about its largest axis (the entry's axisCode).
// With tangent non-null also writes the unit tangent of the angle direction.
SurfaceTexCoords EllipsoidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                    Vec3* tangent);

// What the angle-keeping map of an ellipsoid with three unequal axes p < q < r needs of the
// whole surface (surface_tex_coords.cpp): eta from the equator to the umbilic arc, and xi over
// a quarter turn (infinite when q = r). They depend on the semi-axes alone; EllipsoidTexCoords
// keeps the last few it worked out, keyed by the semi-axes, so an entry's pixels work them out
// once and a rebuilt entry with other axes gets its own. Zero for a cross-section that is a
// circle.
struct EllipsoidQuarterMeasures {
    double latitude = 0;
    double longitude = 0;
};

EllipsoidQuarterMeasures EllipsoidQuarterMeasuresOf(const SurfaceMappingEntry& entry);

// EllipsoidTexCoords with the quarter measures given rather than looked up.
SurfaceTexCoords EllipsoidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                    const EllipsoidQuarterMeasures& quarters, Vec3* tangent);

// A parabolic strip: a surface whose cross-section at position t along it is the parabola
// y = g x^2 out to the half width ((1 - u) p0 + (1 + u) p1) / 2, u = 2 t / width, with
// g = arc.p2. Its coordinates: the angle pi times the arc length across from the edge at
// negative x, over the whole cross arc (plus pi on the side `backFace` marks), the length
// InverseArcLength(u), and the angle per unit length across, pi over the cross arc.
struct StripTexRecord {
    StripArcRecord arc;
    double width = 0;          // extent along the strip
    std::uint8_t backFace = 0; // 1: angles in [pi, 2 pi)
};

// Coordinates of the strip point (x across, y depth, z along); positions beyond the strip's
// ends count as its ends.
SurfaceTexCoords ParabolicStripTexCoords(const Vec3& point, const StripTexRecord& strip);
