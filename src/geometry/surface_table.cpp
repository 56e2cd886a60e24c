#include "geometry/surface_table.h"

#include "core/check.h"
#include "geometry/scene_geometry.h"

#include <algorithm>

void UpdateSurfaceTable(SceneGeometry& geometry, bool rebuild,
                        std::span<const std::int32_t> changed, std::int32_t appended) {
    ORBELLE_CHECK(appended >= 0 && appended <= geometry.PartCount());
    for (std::int32_t index : changed) ORBELLE_CHECK(index >= 0 && index < geometry.PartCount());
    if (rebuild) geometry.BuildOctree(changed, appended);
    ++geometry.surfaceGeneration;
    if (!changed.empty()) {
        geometry.ReleaseSurfaceSlots(changed);
    } else if (appended == 0) {
        geometry.ClearSurfaceSlots();
    }
    for (std::int32_t i = geometry.PartCount() - appended; i < geometry.PartCount(); ++i) {
        std::ranges::fill(geometry.SlotRow(i), std::uint16_t{0});
    }
}
