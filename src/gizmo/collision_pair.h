#pragma once

// The narrow phase of the gizmo's collision detection: whether the solids of two parts
// overlap, and where. The test runs from cheap to dear: the bounding spheres, the bounding
// ellipsoids (which settle the question for two smooth parts, whose ellipsoids are the parts
// themselves), then a cascade of stages (collision_stages.h) that look for a corner, an edge,
// a point of two surfaces or a centre of one part inside the other.
//
// The contact's normal is a half-gradient, not of unit length, and always points out of the
// second part toward the first; callers that need a direction normalise it.

#include "geometry/part_render_record.h"
#include "gizmo/collision_shape.h"
#include "gizmo/gizmo_object.h"

// True when the parts collide. contact (or null) is first set to the point (0, 0, 0) with
// the normal (0, 0, 1), then filled by the test that decided, if that test gives one.
// skipBounds runs the cascade alone, without the sphere and ellipsoid tests.
bool CollidePair(Contact* contact, const CollisionShape& first, const CollisionShape& second,
                 bool skipBounds);
bool CollidePair(Contact* contact, const PartRenderRecord& first, const PartRenderRecord& second,
                 bool skipBounds);
