#pragma once

// Footprint regions: which screen pixels a set of parts can cover, without casting them. Each
// part's bounding quadric projects to a conic; its scan-line runs form a SpanList that is
// merged into a SpanRegion. The runs are narrowed exactly as the frame casting pass narrows a
// part's rows and spans (ClipSpanToConic, ClipRowToConic), so the pass never writes a pixel of
// a part outside the part's footprint. A bound that gives no ellipse in front of the eye (the
// eye inside or beside it) has no bounded silhouette; the pass then walks its whole clip
// rectangle, and so does the footprint.
//
// The incremental frames also derive from a footprint the pixels that must be shaded again
// (DeriveSpanRegion): those whose visible surface differs from the background, grown to their
// four neighbours.

#include "core/matrix4.h"
#include "render/q_render.h"
#include "render/span_region.h"

#include <cstdint>

// Fills list with the runs of the silhouette of the view-space bound, for focal length focal
// and centre (centreX, centreY), clipped to clip. False when the silhouette is empty within clip
// or not bounded (no ellipse in front of the eye); the list is then not to be read. Throws
// KVOutOfMemoryException.
bool ProjectQuadricOutline(SpanList& list, const Matrix4W& bound, double focal, double centreX,
                           double centreY, const RegionRect& clip);

// Empties target, then adds the footprint of each listed part (a count-prefixed list of part
// indices; null for every part) in the current level's pixels, clipped to clip. Parts that
// are not visible, have no surfaces or lie outside the parts are skipped; a part without a
// bounded silhouette adds the whole clip rectangle. Throws KVOutOfMemoryException.
void ProjectPartOutlines(QRender& render, SpanRegion& target, const std::int32_t* partList,
                         const RegionRect& clip);

// The footprint of the listed parts into the renderer's selection region, clipped to the
// frame with its one-pixel border, and its outline ring into the outline region. Throws
// KVOutOfMemoryException.
void BuildSelectionRegion(QRender& render, const std::int32_t* partList);

// target becomes source grown by one pixel towards its four neighbours (the plus shape).
// source and target must be different regions. Throws KVOutOfMemoryException.
void BuildOutlineRegion(const SpanRegion& source, SpanRegion& target);

// Narrows candidate (pixels of the current level; rows and columns held to the level) to the
// pixels whose id in sample buffer 0 differs from the id in the reference buffer (0..3),
// grown to their four neighbours and kept inside candidate and the level. change and scratch
// are work regions. Throws KVOutOfMemoryException.
void DeriveSpanRegion(QRender& render, SpanRegion& candidate, std::int32_t referenceBuffer,
                      SpanRegion& change, SpanRegion& scratch);
