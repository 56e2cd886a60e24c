#pragma once

// The pixel pass: between the casting pass and span shading, finds the pixels of a region
// that lie on a boundary (a neighbour shows another surface, the cell is marked by a small
// part, or with shadows a neighbour differs in a light's lit bit) and integrates each over its
// footprint (edge_lines.h), with the shadow edges that cross it as boundaries too. An integrated
// pixel is final: its PixelWord gets bit 31 (PixelFinished) and span shading leaves it alone.
//
// With an outline draw style (shade.drawStyle non-zero) and the edge index map allocated
// (options.edgeLines), the lines found at each boundary pixel are kept and shared with its
// neighbours (four, or eight for outlines wider than 2 (sqrt 2 - 0.9) pixels), so that bands
// wider than a pixel are drawn whole; the search then runs over the region grown by a pixel.
// The map is -1 outside a pass, also when a pass is abandoned.
//
// With the pixel pass off (edges.isRefined false) only bit 31 is cleared over the region.

#include "render/q_render.h"
#include "render/span_region.h"

#include <cstddef>
#include <cstdint>

// Runs the pass over region (current level pixels) on the sample buffer cells (current level
// layout, with its border and planes) writing integrated pixels into out (stride words a
// row). With layers (laid out as out), each integrated pixel's light layers are written too:
// its base word at its place in layers and shadow light i's layerPlaneWords x (i + 1)
// further, so the layer resolve rebuilds it like any other pixel. A pass over another buffer
// than sample buffer 0 (a backup) tests shadows against the lights' backup A maps. Polls for
// the user after every row (UserAbortRender passes through, the pixels written so far kept
// and the edge index map restored). Throws KVOutOfMemoryException.
void RenderPixelPass(QRender& render, const SpanRegion& region, SampleCell* cells,
                     std::uint32_t* out, std::size_t stride, std::uint32_t* layers = nullptr,
                     std::size_t layerPlaneWords = 0);

// Grows region by the pixels whose integration may depend on what lies in it: a pixel's
// neighbours, and with outlines two pixels further (the lines the neighbours share). The
// incremental frames draw the grown footprint, so the boundary pixels beside a moving part
// are integrated again. Kept within the bordered frame. Throws KVOutOfMemoryException.
void GrowForPixelPass(QRender& render, SpanRegion& region);

// Grows region (pixels whose lit bits changed in an incremental frame) by the pixels around
// them whose footprint a moved shadow edge may now cross or have left: every pixel within two
// steps, the diagonal neighbours included, held to the level. Throws KVOutOfMemoryException.
void GrowForShadowEdges(QRender& render, SpanRegion& region);

// Incremental frames with light layers: clears the finished mark over region (pixels whose
// surface stayed but near whose light a change happened, rebuilt from their layers unless
// refined again) and sets boundaries to its pixels on a shadow edge, those whose lit bits
// differ from an axis neighbour's; with outlines, grown by the two steps over which the
// pass shares its lines. Throws KVOutOfMemoryException.
void CollectShadowEdgePixels(QRender& render, const SpanRegion& region, SampleCell* cells,
                             SpanRegion& boundaries);

// Sets the edge index map to -1 over the pass's working region.
void ClearEdgeIndexMap(QRender& render);

// Shades the region of the current level again from the cells of the last cast, as when the
// parts' colours, textures or selection changed but not their shapes. With the pixel pass on,
// the region is first grown by the pixels whose integration reads it (GrowForPixelPass, held
// to the frame) and refined again, since span shading leaves the refined pixels alone. Polls
// as the passes do; throws KVOutOfMemoryException.
void ReshadeRegion(QRender& render, SpanRegion& region);
