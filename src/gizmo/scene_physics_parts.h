#pragma once

// The gizmo's physics reads parts as plain PhysicsPart values; this unit takes them from the
// scene geometry. A PhysicsPart borrows the part's surfaces from the geometry's record, so it
// is valid only until the geometry's records move (parts added, arrays resized): take it
// again after any change to the container.

#include "gizmo/physics_part.h"

#include <cstdint>

class SceneGeometry;

// The part at partIndex: its shape type, frame, surfaces in use and which of them are
// curved, grid box and octree level, bounding sphere, and the position triple of its
// compact record (record, which the caller keeps). A part index the geometry does not hold
// gives a part with no surfaces, an empty box and partIndex -1.
PhysicsPart PhysicsPartOf(const SceneGeometry& geometry, std::int32_t partIndex,
                          const std::uint8_t* record);
