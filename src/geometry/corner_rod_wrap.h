#pragma once

// How a texture wraps a corner rod: the rod's wrap map (kind CornerRod) and the function from
// a point of the rod, in the rod's own frame, to surface coordinates.
//
// The coordinates follow the rod as a tube: an angle around its axis and a length along it.
//
// Along. The axis is the arc of curvature K from A = (-sag, -L/2, 0) to B = (-sag, L/2, 0)
// about the centre (-1/K, 0, 0) (the y axis itself when K = 0). A point lies across the axis
// point at the arc angle theta = atan2(K y, 1 + K x) from the arc's midpoint, that is at the
// arc length s = theta / K + w / 2 from A, w = L asin(sigma) / sigma the axis' whole length
// (sigma the bend's sine; K = 2 sigma / L). Straight runs (K = 0) measure s = y + L / 2.
//
// Around. At the axis point the rod's section lies in the plane of the outward radius
// rho = (cos theta, sin theta, 0) and the bend plane's normal z. The section direction E, the
// direction the lens is thin along, makes the angle alpha with rho there: at A the angle of
// the builder's section direction (atan of its slope out of the bend plane, plus pi when it
// points towards the centre), at B the same of the section direction there, and between them
// alpha turns evenly with s (the shorter way). The lens is 2 c wide across E, c growing evenly
// from p16 at A to p17 at B, and 2 X thick along E (X the wall offset p18). Each of its walls
// is taken as a circular arc of that chord and sagitta, of radius R = (c^2 + X^2) / (2 X), so
// one side's arc from the middle of the wall to a seam is R asin(c / R) and the perimeter is
// P = 4 R asin(c / R). A point with the offset (d, l) from the axis point along E and along
// the lateral direction -T x E (T the axis tangent) lies on the E side at the arc position
// R asin(l / R) from its middle, on the other side at 2 R asin(c / R) - R asin(l / R) (l held
// to -c..c); the angle is 2 pi times that position over P, in [0, 2 pi).
//
// Both measures depend only on the axis tangent, E, c and X at a point, never on the rod's own
// frame, so two rods that meet with the same tangent, section direction and section there give
// the same angle at the joint. The length coordinate counts in units of P / (2 pi), like the
// angle: v = (integral of 2 pi / P along the axis from A to s) plus the measure the rod starts
// at, and the renderer starts each rod at the measure of the rod that ends where it begins, so
// a chain of rods reads one continuous texture through its straight runs and bends.

#include "core/vec3.h"
#include "geometry/wrap_map_record.h"

#include <array>
#include <cstdint>

// The wrap map's corner-rod terms in the order the builder writes them into values.
enum CornerRodWrapValue : int {
    CornerRodNegOmega = 0,      // -Omega of the outer wall
    CornerRodNegOmegaPhi = 1,   // -Omega phi of the inner wall
    CornerRodSlopeA = 2,        // the section slope out of the bend plane at A
    CornerRodSlopeB = 3,        // the same at B
    CornerRodOffsetA = 4,       // -(h + sigma a cA)
    CornerRodOffsetB = 5,       // -(h + sigma b cB)
    CornerRodSectionA = 6,      // cA
    CornerRodTheta = 7,         // Theta
    CornerRodMeanSlope = 8,     // m
    CornerRodSlopeStep = 9,     // j
    CornerRodSizeA = 10,        // p16
    CornerRodSizeB = 11,        // p17
    CornerRodWallRatio = 12,    // g = 4 p18 / (p16 + p17)^2
    CornerRodQuarterSpan = 13,  // (pi / 2) sqrt((p16 - p17)^2 + w^2)
    CornerRodAxisLength = 14,   // w, the axis' arc length
    CornerRodSizeSpread = 15,   // |p16 - p17|
    CornerRodCurvature = 16,    // K
};

// The flag word's bits: the section direction points towards the centre of curvature.
inline constexpr std::uint32_t CornerRodInwardA = 1;
inline constexpr std::uint32_t CornerRodInwardB = 2;

// What the coordinate function reads of a corner rod's wrap map (56 bytes).
struct CornerRodWrapFrame {
    double curvature = 0;   // K
    double axisLength = 0;  // w
    double sizeA = 0;       // c at A and at B
    double sizeB = 0;
    double wall = 0;    // X
    double angleA = 0;  // alpha at A
    double twist = 0;   // alpha at B less alpha at A, in (-pi, pi]
};

// The frame of a corner rod's wrap map; a frame with axisLength 0 when the map is of another
// kind or its terms are not usable, which CornerRodWrapIsUsable tells.
CornerRodWrapFrame CornerRodWrapFrameOf(const WrapMapRecord& wrap);

bool CornerRodWrapIsUsable(const CornerRodWrapFrame& frame);

// The ends A and B of the rod's axis in its own frame.
Vec3 CornerRodWrapStart(const CornerRodWrapFrame& frame);
Vec3 CornerRodWrapEnd(const CornerRodWrapFrame& frame);

// The surface coordinates of a rod point (in the rod's frame): the angle around in [0, 2 pi),
// the length measure from A (without a start), the angle per unit distance at the point, and
// the direction of growing angle (unit, in the rod's frame).
struct CornerRodWrapPoint {
    double angle = 0;
    double length = 0;
    double perDistance = 0;
    Vec3 tangent;
};
CornerRodWrapPoint CornerRodWrapCoords(const CornerRodWrapFrame& frame, const Vec3& point);

// The length measure of the whole rod, from A to B.
double CornerRodWrapMeasure(const CornerRodWrapFrame& frame);

// Fills wrap as the corner rod's map from the builder's terms (the values in the order above);
// the level index, fraction and scaled width follow from 2 p16 g.
void CornerRodWrapFill(WrapMapRecord& wrap, const std::array<double, 17>& values,
                       std::uint32_t flags);
