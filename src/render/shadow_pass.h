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

// The head bit of a map cell whose list was released for an incremental frame that records
// its dependents again: a pass recording with this tag (QRender::shadowRecordingTag) records
// only at such cells. An empty head is INT32_MIN, a released empty one INT32_MIN | this bit.
inline constexpr std::int32_t ShadowCellReleased = 0x40000000;

// Fixed-point stepping. A pixel at view-plane coordinates (X, Y) (the pixel centre minus the
// frame centre) with depth word w shows the point (S / w) (X, Y, f), S the depth scale and f
// the focal length. Multiplied through by w, the column and the row of the block its shadow
// test reads are the quotients Nu / Nd and Nv / Nd of three forms linear in X, Y and w, each
// S a - w b, which only the depth term keeps from stepping along a row by constant amounts.
// They are held in 32-bit integers scaled by one common factor: the numerators by 2^-K / m
// so that they stay below 2^31 over the whole frame (m the mantissa of the light's coordinate
// along the face's depth axis, Ld = m 2^eL), the denominator likewise with the depth word
// shifted right by B and the sum by A = K - B - eL. The depth term of a numerator is
// (k w) >> 31 with k = b 2^(31 - K) / m, formed from the halves of k and w.
struct ShadowStepping {
    bool isStepped = false;  // false: the light has no map view; its tests are lit
    std::int32_t side = 0;
    // At the chunk's current pixel: the numerators without their depth terms, and the
    // denominator's depth-free part before the shift A; and their steps from pixel to pixel.
    std::int64_t u = 0, v = 0, denominator = 0;
    std::int32_t uStep = 0, vStep = 0, denominatorStep = 0;
    std::int32_t columnDepth = 0, rowDepth = 0;  // depth coefficients, units of 2^-31
    std::int32_t shiftA = 0, shiftB = 0;
    std::int32_t frontSign = 1;  // the sign of the denominator for a point before the face
    // u, v and the denominator at X = 0 and Y = 0, and their changes per unit of X and of Y,
    // from which a chunk's first pixel is set (StartShadowChunk).
    double start[3]{}, perX[3]{}, perY[3]{};
};

// The stepping of shadow light light for the current level, its depth scale and the light's
// map view (SetupLightView).
ShadowStepping SetupShadowStepping(const QRender& render, std::int32_t light);

// Sets the stepping to the pixel at view-plane coordinates (X, Y).
void StartShadowChunk(ShadowStepping& stepping, double x, double y);

// The map cell (column, row) whose 2x2 block the shadow test of the current pixel, of depth
// word w, reads, then advances to the next pixel of the row. False when the point lies behind
// the face or the block leaves the map (the point is lit).
bool StepShadowCell(ShadowStepping& stepping, std::int32_t w, std::int32_t& column,
                    std::int32_t& row);

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

// The shadow stages of a whole frame whose casting pass found the eye inside a part (the frame
// is black): the light maps still, since they depend on the parts and lights alone and backups
// taken of the frame keep them for the frames after it; no pixel is tested, and the dependency
// lists, left untouched, are marked as not describing the working picture. Throws
// KVOutOfMemoryException.
void RenderEyeInsideShadowStages(QRender& render);

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
// backup A (only in backup A without withWorkingMap), and the flat marks made again around it.
// dependents becomes the pixels of the background recorded at the cells around that
// footprint, or the whole level when the lists cannot tell or do not describe backup A's
// picture (with the sets exchanged, the second set's lists and picture). Throws
// KVOutOfMemoryException.
void UpdateBackgroundLightMaps(QRender& render, const std::int32_t* moving,
                               const std::int32_t* changed, SpanRegion& dependents,
                               bool withWorkingMap);

// changed becomes the pixels of region whose lit bits (upper half of the light mask) in sample
// buffer current differ from sample buffer compare's. Throws KVOutOfMemoryException.
void CollectShadowChanges(QRender& render, const SpanRegion& region, SpanRegion& changed,
                          std::int32_t current = 0, std::int32_t compare = 1);

// target becomes the screen pixels (current level, clipped to the level with its one-pixel
// border) on which the shadows that the listed parts (count-prefixed part indices) cast from a
// light at lightPosition (view space) can fall (shadow_footprint.cpp): for each part the pixels
// whose centre ray meets its bound or the hull the bound sweeps away from the light, as the
// silhouettes of the bound and of the bound moved by -lightPosition and the band of the two
// planes through the eye and the light that touch the bound (a thin band when the line from
// the eye to the light grazes the bound). A light at the eye gives the
// silhouette of the bound grown by 3 %. A bound that holds the eye or the light (or, grown,
// reaches them), whose shadow reaches the eye, or that is no ellipsoid makes the target the
// whole level with its border. Throws KVOutOfMemoryException.
void ProjectShadowFootprint(QRender& render, const std::int32_t* partList, SpanRegion& target,
                            const Vec3& lightPosition);

// For the pixels of footprint whose id or depth in sample buffer currentBuffer differs from the
// one in compareBuffer, adds to each shadow light's second region the map cells their shadow
// tests read, for the surface shown now and the one shown before (with the cells around each,
// which the stepped test may read instead). Throws KVOutOfMemoryException.
void CollectChangedLightCells(QRender& render, const SpanRegion& footprint,
                              std::int32_t compareBuffer, std::int32_t currentBuffer = 0);

// Over each shadow light's second region: with release, gives the cells' lists back to the
// light's free list and marks the heads ShadowCellReleased; without, clears the marks.
void ReleaseShadowDependents(QRender& render, bool release);

// The dependency lists of an incremental frame that records them again (a changed list or
// force given), when the lists describe the backups and are complete: each light's second
// region becomes the cells of its region (of its second region with fromSecondRegion: the
// cells a background set cast again) grown one cell left and up, and the cells that the
// pixels of footprint whose surface differs between sample buffers currentBuffer and
// compareBuffer read (CollectChangedLightCells); dependents becomes the pixels recorded at
// them, whose lists are then released for the shadow pass to record again with the tag
// ShadowCellReleased. False (nothing done) when the lists cannot serve. Throws
// KVOutOfMemoryException.
bool PrepareShadowRefresh(QRender& render, const SpanRegion& footprint, SpanRegion& dependents,
                          bool fromSecondRegion = false, std::int32_t currentBuffer = 0,
                          std::int32_t compareBuffer = 1);

// Makes cells the map cells whose 2x2 test blocks hold a cell of region, held to the side x
// side map.
void CollectBlockCells(const SpanRegion& region, std::int32_t side, SpanRegion& cells);
