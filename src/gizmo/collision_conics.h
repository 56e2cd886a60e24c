#pragma once

// The conic algebra of the collision stages. A curved edge (a plane cutting a curved
// surface) and the intersection curve of two curved surfaces are handled as conics of a
// plane, in homogeneous coordinates (w, x, y). A conic is brought to the canonical form
// diag(d0, d1, d2) with d0 < 0 < d1, d2 >= 0, and its points are numbered by the half-angle
// tangent t = tan(theta / 2): the point at t is (sqrt(d2 cos^2 + d1 sin^2), sigma sin,
// -sigma cos), sigma = sqrt(-d0). The parameters +-1e75 stand for the conic's point at
// infinity (theta = pi). Interval lists keep the parts of a conic, or of a straight edge,
// that lie inside other surfaces.
//
// Every division and root here is guarded: degenerate input gives no interval or no
// candidate, never a value that is not a number.

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/vec3.h"
#include "gizmo/gizmo_object.h"

#include <array>
#include <cstdint>
#include <span>

// Room of an interval list. A straight edge clipped by 33 surfaces stays within 34
// intervals; a conic could in principle need more, and a clip that finds no room reports it.
inline constexpr std::int32_t IntervalRoom = 64;

// The bound of a straight edge's whole line, and the parameter of a conic's point at
// infinity.
inline constexpr double LineParameterBound = 1e100;
inline constexpr double ConicParameterBound = 1e75;

// Ascending, disjoint parameter intervals (ends[2i], ends[2i + 1]).
struct IntervalList {
    std::array<double, 2 * IntervalRoom> ends{};
    std::int32_t count = 0;
};

// One interval, (-bound, bound).
IntervalList IntervalListWhole(double bound);

// Clips the list with the roots r1 = p1 / q1 and r2 = p2 / q2 (q1, q2 >= 0; a zero
// denominator is the infinity of the numerator's sign), compared as products so that no
// division decides. With r1 <= r2 only the parts inside [r1, r2] stay; with r1 > r2 the
// parts strictly between r2 and r1 go (an interval may split). Intervals left with no length
// are dropped. Returns the intervals left, or -1 (the list unchanged) when a split finds no
// room.
std::int32_t ClipIntervalList(IntervalList& list, double p1, double q1, double p2, double q2);

// Clips the list of parameters of the canonical conic a (only its diagonal is read) to the
// points strictly inside the conic c (value below 0), given in the same coordinates. v is
// a's reference point (its point at t = 1, (1, sqrt(-a0 / a1), 0)), size the largest
// coefficient of the surface c comes from, sigma = sqrt(-a0). noCrossing (or null) is set
// to 1 when the answer was decided without crossings of the two conics, else 0. Returns the
// intervals left, or -1 when the list ran out of room.
std::int32_t CurvedEdgeIntervals(const Matrix3& a, const Matrix3& c, IntervalList& list,
                                 const Vec3& v, std::uint8_t* noCrossing, double size,
                                 double sigma);

// The point of the canonical conic a at the half angle whose cosine and sine are given.
Vec3 ConicPoint(const Matrix3& a, double sigma, double cosine, double sine);

// The cosine and sine of the middle angle of the arc from t0 to t1 (as fractions n / d).
void ConicMiddleAngle(double n0, double d0, double n1, double d1, double& cosine, double& sine);

// The intersection curve of two curved surfaces q1 and q2 (w-first forms relative to the
// reference centre), as the arcs of the canonical conic d of a cone through the curve whose
// lines cross the second surface: k takes the cone's coordinates (w, x, y, lambda) to
// homogeneous points in units of scale (the reference part's length scale), and n is q2 in
// those coordinates. Returns the number of arcs in list, 0 when the surfaces give none (or
// no usable member of their pencil). d, k and n are written when the result is above 0.
std::int32_t QuadricPairCandidates(const Matrix4W& q1, const Matrix4W& q2, Matrix3& d,
                                   Matrix4W& k, Matrix4W& n, IntervalList& list,
                                   std::uint8_t* noCrossing, double scale);

// At most two candidate points (homogeneous, w first, relative to the reference centre) on
// the intersection curve of the curved surfaces q1 and q2, one per arc of it, and when
// contacts is not empty a contact for each: a point between the surfaces on the same line
// and q1's half-gradient there. Returns the number of candidates, 0 to 2.
std::int32_t CurvedPairContact(const Matrix4W& q1, const Matrix4W& q2, std::span<Vec4, 2> points,
                               std::span<Contact> contacts, double scale);
