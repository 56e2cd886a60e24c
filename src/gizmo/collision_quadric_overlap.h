#pragma once

// Whether two ellipsoids (the bounding quadrics of two parts) overlap. The test works in a
// frame in which the second ellipsoid is a ball and the first is axis-aligned, and searches
// the one-parameter curve between the two centres on which the level surfaces of the two
// forms touch: both forms negative at one point of it means overlap.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "gizmo/gizmo_object.h"

// True when the ellipsoids first and second (w-first forms, negative inside) overlap, and
// also when the search ends undecided. A second form that is no ellipsoid, or a first one
// that is none in the second one's frame, gives false. centre (or null) is a point near both
// from which the algebra is measured. When the search decides on its curve and contact is
// given, the contact gets that point of the curve and the second form's half-gradient there
// (also for a false answer); early answers (one centre inside the other ellipsoid) leave it.
bool BoundingQuadricsOverlap(const Matrix4W& first, const Matrix4W& second, const Vec3* centre,
                             Contact* contact);
