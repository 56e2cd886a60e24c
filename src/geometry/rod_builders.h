#pragma once

// Builders of the bent rods of circular section: the plain rod and the rod with flared end
// surfaces. Their parameters are points and a direction in scene coordinates, so they write
// every form in scene coordinates and leave the part's placement the identity. Conventions
// otherwise as for the solid primitive builders (solid_primitive_builders.h).
//
// The rod runs from A to B along the circular arc that leaves A in direction C (a straight rod
// when C lies along the chord). Its frame has the origin at the arc's midpoint, y along the
// chord, x in the bend plane away from the arc's centre of curvature and z normal to the bend
// plane; the chord lies at x = -sag. The radius changes linearly from rA at A to rB at B.

#include "core/vec3.h"
#include "geometry/part_render_record.h"

// Plain rod (type 10): outer wall, inner wall, end plane at A, end plane at B; an arc proxy
// from A to B leaving A along C of radius min(rA, rB) - |rA - rB| / 6 (at least 0).
void BuildRodShape(PartRenderRecord& part, const Vec3& a, const Vec3& b, const Vec3& c,
                   double radiusA, double radiusB);

// Rod with flared ends (type 11): the plain rod's four surfaces, then about the tangent line at
// A the hyperboloid of waist waistA and least slope slopeA, and about the tangent line at B
// that of waistB and slopeB.
void BuildCutRodShape(PartRenderRecord& part, const Vec3& a, const Vec3& b, const Vec3& c,
                      double radiusA, double radiusB, double waistA, double slopeA,
                      double waistB, double slopeB);
