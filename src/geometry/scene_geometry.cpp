#include "geometry/scene_geometry.h"

void SceneGeometry::RemoveLastPart() {
    if (parts.empty()) return;
    // Counts wrap in 32 bits as the loader adds them, so taking one off wraps too.
    surfaceTotal = static_cast<std::int32_t>(static_cast<std::uint32_t>(surfaceTotal) -
                                             static_cast<std::uint32_t>(parts.back().surfaceCount));
    parts.pop_back();
    partCount = static_cast<std::int32_t>(parts.size());
}

PartEntry* SceneGeometry::Part(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= parts.size()) return nullptr;
    return &parts[static_cast<std::size_t>(index)];
}
