#pragma once

// Mass, centre of mass and inertia of a solid made of parts, by sampling: the parts' common
// grid box is crossed by 100 x 100 vertical lines, the stretches of each line inside the
// solid are found exactly from the parts' surfaces, and their lengths and moments are summed.
// Density is 1, so the mass is the sampled volume.

#include "core/matrix3.h"
#include "core/vec3.h"
#include "gizmo/physics_part.h"

#include <span>

// Lines per side of the sampling grid.
inline constexpr int MassSampleLines = 100;

struct MassProperties {
    double mass = 0.0;  // the sampled volume; 0 when the parts hold no volume
    Vec3 centre;        // centre of mass; the box centre when the mass is 0
    // Second moments about the centre of mass: the integrals of x x^T over the solid, with x
    // measured from the centre. The inertia tensor is trace(S) I - S.
    Matrix3 secondMoments;
};

// Samples the union of the parts' solids. A part is the set where all its surfaces are
// negative, within its grid box (a part without surfaces fills its box). Parts with an empty
// box and an empty list give a mass of 0.
MassProperties SampleMassProperties(std::span<const PhysicsPart> parts);

// The second moments moved from the centre of mass to another point: S + m d d^T with d the
// centre of mass minus the point.
Matrix3 SecondMomentsAbout(const MassProperties& properties, const Vec3& point);

// The inertia tensor trace(S) I - S of second moments S.
Matrix3 InertiaFromSecondMoments(const Matrix3& secondMoments);
