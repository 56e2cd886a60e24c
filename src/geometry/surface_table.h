#pragma once

// The shared surface table: surfaces of different visible parts that are the same quadric
// (or the same with inside and outside swapped) share one slot of the scene geometry's slot
// table, so that the casting passes order their hits by part id instead of depth.
//
// The table keeps its slot bookkeeping in the scene geometry (slot rows, reference counts,
// free slots). Matching surfaces and handing out slots are still to come; until then an update
// enters the parts in the octree and keeps the bookkeeping consistent with the parts it is told
// about.

#include <cstdint>
#include <span>

class SceneGeometry;

// Brings the surface table up to date after parts were built. With changed non-empty the
// listed parts (part indices) give back their slots and are entered again, with the appended
// parts; with no list and appended > 0 the last appended parts are entered; with neither,
// everything is rebuilt. rebuild enters the same parts in the octree first
// (SceneGeometry::BuildOctree).
void UpdateSurfaceTable(SceneGeometry& geometry, bool rebuild,
                        std::span<const std::int32_t> changed, std::int32_t appended);
