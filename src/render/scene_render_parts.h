#pragma once

// Turns the scene geometry's part records into the renderer's view-space parts. Each part's
// surface forms and bounding quadric, which the build carries into world coordinates, are
// seen through worldFromView; its visibility, colour and selected byte are copied. The renderer
// also takes the geometry's surface slot table, which orders hits on coincident surfaces, and the
// parts' textures (scene_part_textures.h).

#include "core/matrix4.h"

#include <cstdint>
#include <span>

class QRender;
class SceneGeometry;

// Replaces the renderer's parts with one part per part of geometry, in part order, seen from
// viewFromWorld (an affine w-first transform), points it at the geometry's slot table and
// binds the geometry and the view to it (QRender::sceneGeometry, partsViewFromWorld), so that its
// frame renders take the parts from there again. The geometry must outlive the renders.
// A record's surface count is held to its room and to 32. Throws KVOutOfMemoryException.
void LoadRenderParts(QRender& render, SceneGeometry& geometry, const Matrix4W& viewFromWorld);

// Sets the listed parts (part indices; those not below both part counts are skipped) again
// from the geometry bound to the renderer, seen from its partsViewFromWorld: the parts a frame
// moved. Nothing when no geometry is bound.
void ReloadRenderParts(QRender& render, std::span<const std::int32_t> partIndices);

// Takes the attributes of the listed parts' records (those not below both part counts are
// skipped), or of every part, into the renderer's parts again: colour, visible and selected
// bytes and the placement seen from partsViewFromWorld; their flat-preview colours become
// pending. For a re-shade after an edit of colours or selection, without a cast. Nothing
// when no geometry is bound.
void SyncRenderPartAttributes(QRender& render, std::span<const std::int32_t> partIndices);
void SyncRenderPartAttributes(QRender& render);
