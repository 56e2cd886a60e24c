#include "gizmo/world_contacts.h"

#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "gizmo/collision_drivers.h"
#include "gizmo/collision_pair.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_world.h"

std::int32_t FirstTouchingPart(GizmoWorld& world, std::int32_t part,
                               std::span<const std::int32_t> own) {
    if (world.geometry == nullptr) return -1;
    return FindCollidingParts(part, *world.geometry, own, true, &world, false);
}

std::span<const std::int32_t> PartsOfOtherClusters(GizmoWorld& world, std::int32_t part,
                                                   std::span<const std::int32_t> own) {
    if (world.geometry == nullptr) return {};
    FindCollidingParts(part, *world.geometry, own, false, &world, true);
    return world.geometry->CandidateList();
}

bool PartContact(GizmoWorld& world, std::int32_t hitPart, std::int32_t ownPart, Contact& contact) {
    const PartRenderRecord* hit =
        world.geometry != nullptr ? world.geometry->Part(hitPart) : nullptr;
    const PartRenderRecord* own =
        world.geometry != nullptr ? world.geometry->Part(ownPart) : nullptr;
    if (hit == nullptr || own == nullptr) {
        contact = Contact{Vec3{}, Vec3{0.0, 0.0, 1.0}};
        return false;
    }
    return CollidePair(&contact, *hit, *own, false);
}

bool PartOverlapsAny(GizmoWorld& world, std::int32_t part, std::span<const std::int32_t> own) {
    if (world.geometry == nullptr) return false;
    return FindCollidingParts(part, *world.geometry, own, true, nullptr, false) >= 0;
}
