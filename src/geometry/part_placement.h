#pragma once

// Placing a part by a 4x4 transform: move, rotate and uniformly scale. The compact record is
// placed by the object layer, the readers and the loader; the working record by the gizmo's
// motion steps, which rebuild the part from it without touching the stored record.

#include "core/matrix4.h"

#include <cstdint>

struct WorkingPartRecord;

// Applies placement (w-first: translation t in elements 4, 8, 12, linear part L in 5-7,
// 9-11, 13-15) to the part in its current placement, in place. The uniform scale
// k = sqrt(trace(L L^T) / 3) multiplies the size parameters of the shape type; types 1-9,
// 13-25 and 29 move their position and turn their rotation vector by L / k; type 26 moves
// its two end points and carries its three vectors through L; types 27 and 28 move their
// point and turn their two directions by L / k. Parameters the record does not have are
// left alone.
void SetPartPlacement(std::uint8_t* record, Matrix4W placement);

// The same rules on a working record's doubles (its first paramCount parameters), which keep
// their full precision: a part moved on every motion frame does not drift through floats.
void SetPartPlacementSim(WorkingPartRecord& working, Matrix4W placement);
