#pragma once

// The flat preview: pixels coloured straight from the ids in their sample cells, without
// lighting, in one fill colour per part and an edge colour where the part meets the
// background or a part of smaller id. It needs no casting and no shading stage, so it is the
// fastest way to show what a frame's cells hold.
//
// A pixel takes its part's fill colour when none of its four neighbours (right, left, below,
// above; beyond the frame, the cells of the one-cell border, which frames cast as well) has a
// smaller id (PixelWord & 0x7FFFFFF), else its edge colour; a pixel of id 0 takes the background
// word, laid over the background image when the background-mode byte is set and an image given
// (each channel image + word - 128, alpha 0; background_shade.h). A part's colours are the
// renderer's fill word (the selected-fill word for a selected part) and edge word, blended towards
// the fog colour by the depth-cue weight of the centre of the part's bound when the depth cue is
// on, and are computed once per part and kept in the caller's table.

#include "render/q_render.h"
#include "render/span_region.h"

#include <cstdint>
#include <vector>

// Colours the pixels of region (current level pixels, held to the level) from sample buffer 1
// into the first extra plane when useBackup, else from buffer 0 into the current level's
// output. colours grows to the part count with pending entries; entries already computed are
// kept. Nothing without sized buffers, the sample buffer or the output. Throws
// KVOutOfMemoryException when colours cannot grow.
void QuickShadeRegion(QRender& render, const SpanRegion& region, bool useBackup,
                      std::vector<FlatPartColours>& colours);

// The same from the cells of a sample buffer of the renderer (current level layout) into out
// (stride words a row, the current level's size); nothing when either is null. The
// incremental frames colour a backup this way.
void QuickShadeCells(QRender& render, const SpanRegion& region, const SampleCell* cells,
                     std::uint32_t* out, std::size_t stride, std::vector<FlatPartColours>& colours);
