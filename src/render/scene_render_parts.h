#pragma once

// Turns the scene geometry's parts into the renderer's view-space parts. Each part's
// part-space surfaces and bound are seen through localFromView = localFromWorld x
// worldFromView; its visibility and colour are copied.
//
// The part records of the scene geometry carry no surface forms yet (the shape builders fill
// them), so every part is loaded with the surfaces its record holds: none for now, which the
// casting passes skip. The bound is the record's bounding quadric, held in world coordinates.

#include "core/matrix4.h"
#include "render/render_parts.h"

class SceneGeometry;

// Replaces parts with one part per part of geometry, in part order, seen from viewFromWorld
// (an affine w-first transform). Throws KVOutOfMemoryException.
void LoadRenderParts(RenderParts& parts, SceneGeometry& geometry, const Matrix4W& viewFromWorld);
