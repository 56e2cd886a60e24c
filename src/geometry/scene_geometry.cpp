#include "geometry/scene_geometry.h"

void SceneGeometry::RemoveLastPart() {
    if (parts.empty()) return;
    surfaceTotal -= parts.back().surfaceCount;
    parts.pop_back();
    partCount = static_cast<std::int32_t>(parts.size());
}

PartEntry* SceneGeometry::Part(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= parts.size()) return nullptr;
    return &parts[static_cast<std::size_t>(index)];
}
