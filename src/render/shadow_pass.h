#pragma once

// The shadow pass: after the casting pass has filled the sample cells, it decides for every
// covered pixel of a region which shadow lights reach it and keeps the answer in the upper
// half of the cell's light mask (bit 31 - i: light i faces the point and lights it). The lower
// half (bit 15 - i, the point faces light i) comes from the casting pass and stays; lights
// without a map keep their facing bit in both halves. The test is IsLitByLight (light_map.h)
// at the point the cell's depth word gives.
//
// Dependency lists. With the renderer's per-light dependency option, a whole frame records
// for every map cell the pixels whose test read it (lit or not; a point's test reads the 2x2
// block at its cell). An incremental frame recasts a light's map only inside its region (the
// map footprints of the moving parts, old and new); the pixels whose test can change are then
// those recorded at the region's cells grown by one cell left and up, besides the pixels the
// moving parts cover. Pixels of the background keep their cells as long as the view, the lights
// and the backups stay, so the lists of the whole frame serve every later incremental frame;
// the pixels of moving parts are tested without recording. When a list pool runs out, the
// option is off, or the lists were not recorded for the picture the backups hold (a whole
// frame drawn after AllocAuxBuffers, or ticks before it), an incremental frame tests the
// whole frame instead.

#include "render/q_render.h"
#include "render/span_region.h"

#include <cstdint>

// Tests the covered pixels of region (current level pixels, held to the level) in sample
// buffer buffer (0..3; nothing when it is missing) against every shadow light's working map
// (backup A with useBackupMaps) and sets the upper half of their light masks; with
// isRecording, adds each tested pixel to the dependency list of the map cell it read. Pixels
// with no surface keep their cells. Polls for the user after every row (UserAbortRender
// passes, the rows done so far tested).
void ApplyShadowPass(QRender& render, const SpanRegion& region, std::int32_t buffer,
                     bool useBackupMaps, bool isRecording);

// The light mask of a sub-pixel sample, for the pixel pass: the listed parts (count-prefixed
// part indices; null for every part) are probed along the view ray (u, v, 1), and at the
// nearest hit p with the surface's gradient g, each light i with (p - light) . g <= 0 sets
// bit 15 - i, and bit 31 - i too when it has no map or its shadow test finds p lit. Returns
// 0 when the ray meets no listed part.
std::uint32_t ProbeLightMask(const QRender& render, const std::int32_t* partList, double u,
                             double v);

// Empties every shadow light's dependency lists (all heads empty, the pool unused).
void ResetShadowDependents(QRender& render);

// The shadow stages of a whole frame, after its casting pass: the light maps, the dependency
// lists emptied (with the per-light option) and the shadow pass over the change region,
// recording. Nothing without shadows. Throws KVOutOfMemoryException.
void RenderShadowStages(QRender& render);

// The light-map stage of an incremental frame. For each shadow light: the listed parts (drawn)
// and the changed parts (their footprint only; both count-prefixed, either null) carried into
// its space; the light's region becomes its old region united with their map footprint; there
// the map is restored from backup A, the drawn parts cast over it, and the flat marks made
// again around it. Then dependents becomes the pixels whose shadow test may have changed
// outside the parts' own footprint: those recorded at the region's cells (grown one cell left
// and up), or the whole level when a list is incomplete. The light's region is left holding
// the parts' new map footprint. Throws KVOutOfMemoryException.
void UpdateLightMapsIncremental(QRender& render, const std::int32_t* drawn,
                                const std::int32_t* changed, SpanRegion& dependents);

// The light-map stage of a complement render, when the changed parts (count-prefixed) join
// or leave the background: for each shadow light, the map footprint of the changed parts is
// cast again with every part except the moving ones (count-prefixed), in the working map and
// backup A, and the flat marks made again around it in both. dependents becomes the pixels of
// the background recorded at the cells around that footprint, or the whole level when the
// lists cannot tell. Throws KVOutOfMemoryException.
void UpdateBackgroundLightMaps(QRender& render, const std::int32_t* moving,
                               const std::int32_t* changed, SpanRegion& dependents);

// changed becomes the pixels of region whose lit bits (upper half of the light mask) in sample
// buffer 0 differ from sample buffer 1's. Throws KVOutOfMemoryException.
void CollectShadowChanges(QRender& render, const SpanRegion& region, SpanRegion& changed);
