#include "gizmo/scene_physics_parts.h"

#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"

#include <algorithm>

PhysicsPart PhysicsPartOf(const SceneGeometry& geometry, std::int32_t partIndex,
                          const std::uint8_t* record) {
    PhysicsPart part;
    const PartRenderRecord* entry = geometry.Part(partIndex);
    if (entry == nullptr || partIndex < 0) return part;
    part.partIndex = partIndex;
    part.shapeType = entry->shapeType;
    part.localFromWorld = entry->localFromWorld;
    if (record != nullptr) part.position = PartRecordPosition(record);
    const std::int32_t used = std::clamp(entry->surfaceCount, 0, entry->surfaceRoom);
    part.surfaces = entry->Surfaces().first(static_cast<std::size_t>(used));
    part.curvedMask = static_cast<std::uint32_t>(entry->shapeClass);
    part.box = entry->octreeBounds;
    part.octreeLevel = entry->octreeLevel;
    part.sphereCentre = entry->boundCentre;
    part.sphereRadius = entry->boundRadius;
    return part;
}
