#pragma once

// The stages of the pair test (collision_pair.h). Each looks for a point of one part inside
// the other in its own way, and fills the contact (when one is given) with that point and a
// normal: PointInPart and VertexInPart test points, EdgeInPart runs the part's edges through
// the other solid, and CurvedSurfaceContact looks, for each pair of surfaces of which one at
// least is curved, for a point on both that lies inside every other surface.
//
// The conic stages measure everything from a reference centre, the bounding-sphere centre of
// the part with the smaller octree level (the stage's first argument on a tie), so that the
// algebra works with numbers near the parts' own size.

#include "core/vec3.h"
#include "gizmo/collision_shape.h"
#include "gizmo/gizmo_object.h"

#include <optional>

// True when p is inside every surface of the part (a value of exactly 0 counts as inside);
// a part with no surfaces contains every point.
bool PointInPart(const Vec3& p, const CollisionShape& shape);

// True when a corner of from lies strictly inside into (its surfaces, or its bounding
// quadric alone when into has no edges; a value that is not a number counts as inside). The
// contact gets the first such corner and the half-gradient of the surface of into it is
// nearest to, which points out of into.
bool VertexInPart(const CollisionShape& from, const CollisionShape& into, Contact* contact);

// True when an edge of from runs through the solid of into: a point of the edge, in the
// middle of a stretch of it inside into, lies strictly inside from's other surfaces. The
// contact gets that point and a normal out of into, from the surfaces of into nearest the
// stretch's ends. Edges marked skipped are never tested, and a curved edge cut into more
// stretches than an interval list holds is passed over.
bool EdgeInPart(const CollisionShape& from, const CollisionShape& into, Contact* contact);

// The candidate of a plane (p0 + n.x <= 0, relative to the reference centre) cutting a
// curved surface q in a real ellipse: the ellipse's point farthest along the plane frame's
// second axis, with a contact at the ellipse's centre and the plane's unit normal. Empty
// when the section is no real ellipse (the plane misses or only touches the surface).
struct PlaneSection {
    Vec3 candidate;
    Contact contact;
};
std::optional<PlaneSection> PlaneSectionContact(double p0, const Vec3& n, const Matrix4W& q);

// True when some pair of surfaces, one of first and one of second, at least one curved, has a
// candidate point on both that lies strictly inside every other surface of both parts. A
// part without edges stands for itself by its bounding quadric (first only when both have
// none). The contact's normal points out of first.
bool CurvedSurfaceContact(const CollisionShape& first, const CollisionShape& second,
                          Contact* contact);
