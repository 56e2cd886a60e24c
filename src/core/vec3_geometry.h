#pragma once

// Small geometric routines on directions: a ray against a sphere, snapping a direction to
// an angular grid, and the rotation between two directions.

#include "core/vec3.h"

// An axis with its angle in radians.
struct AxisAngle {
    Vec3 axis;
    double angle = 0.0;
};

// The nearest point where the ray from origin along the unit direction meets the sphere
// (centre, radius) at or ahead of the origin (from inside, the exit point); false when the
// ray misses, the sphere lies behind, or the direction is zero.
bool IntersectRaySphere(const Vec3& direction, const Vec3& origin, double radius,
                        const Vec3& centre, Vec3& hit);

// The unit vector whose azimuth and polar angle are v's rounded to multiples of stepDegrees.
// Within 5e-15 of the z axis the azimuth counts as 0. A step that is not positive leaves
// the direction unsnapped (normalised only).
Vec3 SnapDirection(Vec3 v, double stepDegrees);

// The unit axis and angle that turn unit a onto unit b. Equal directions give the zero
// axis with angle 0; opposite ones a half turn about an axis perpendicular to a (x x a, or
// y x a or z x a when the earlier one is shorter than 5e-15).
AxisAngle RotationBetween(Vec3 a, Vec3 b);
