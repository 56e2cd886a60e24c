#include "gizmo/collision_pair.h"

#include "gizmo/collision_quadric_overlap.h"
#include "gizmo/collision_stages.h"

#include <cmath>

namespace {

const Contact NoContact{Vec3{0.0, 0.0, 0.0}, Vec3{0.0, 0.0, 1.0}};

bool IsFinite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// A stage that decided on degenerate forms (zero, not a number, singular) may have no
// sensible contact to give; the collision stands, and the contact stays as it was set first
// rather than carrying values that are not numbers into the bounce.
bool Found(Contact* contact) {
    if (contact != nullptr && !(IsFinite(contact->point) && IsFinite(contact->normal))) {
        *contact = NoContact;
    }
    return true;
}

void Negate(Contact* contact) {
    if (contact != nullptr) contact->normal = Vec3Scale(contact->normal, -1.0);
}

}  // namespace

bool CollidePair(Contact* contact, const CollisionShape& first, const CollisionShape& second,
                 bool skipBounds) {
    if (contact != nullptr) *contact = NoContact;
    const bool firstHasEdges = CollisionShapeHasEdges(first);
    const bool secondHasEdges = CollisionShapeHasEdges(second);
    if (!skipBounds) {
        // Spheres that just touch go on to the finer tests, also when the radii's last bits
        // were rounded down.
        const Vec3 d = Vec3Sub(first.centre, second.centre);
        const double r = first.radius + second.radius;
        if (r * r * (1.0 + 1e-12) < Vec3Dot(d, d)) return false;
        const Vec3& centre = first.level < second.level ? first.centre : second.centre;
        if (!BoundingQuadricsOverlap(first.boundQuadric, second.boundQuadric, &centre, contact)) {
            return false;
        }
        if (!firstHasEdges && !secondHasEdges) return Found(contact);
    }

    // Each stage reports the normal out of the part it entered; those entering the first part
    // are turned to point out of the second.
    if (CollisionShapeHasCorners(second) && VertexInPart(second, first, contact)) {
        Negate(contact);
        return Found(contact);
    }
    if (CollisionShapeHasCorners(first) && VertexInPart(first, second, contact)) {
        return Found(contact);
    }
    if (secondHasEdges && EdgeInPart(second, first, contact)) {
        Negate(contact);
        return Found(contact);
    }
    if (firstHasEdges && EdgeInPart(first, second, contact)) return Found(contact);
    if (CurvedSurfaceContact(second, first, contact)) return Found(contact);
    if (!secondHasEdges && PointInPart(second.centre, first)) return true;
    if (!firstHasEdges && PointInPart(first.centre, second)) return true;
    return false;
}

bool CollidePair(Contact* contact, const PartRenderRecord& first, const PartRenderRecord& second,
                 bool skipBounds) {
    return CollidePair(contact, CollisionShapeOf(first), CollisionShapeOf(second), skipBounds);
}
