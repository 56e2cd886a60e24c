#pragma once

// Parts thinner than the pixel grid. Point sampling misses a rod, a wire ring or a bead that
// falls between pixel centres. Where the renderer keeps two samples per pixel, the frame
// render marks, after casting, the cells such a part passes through (a band two cells wide
// along its projected skeleton, found walking along x and again along y so that steep and
// shallow stretches both stay unbroken): the cell's PixelWord gets PixelSmallPartChain and
// its chain lists the parts (at most three are read). The pixel pass treats a marked cell
// as a boundary pixel and adds the chained parts to its candidates, so the thin part is
// integrated into the pixel with the coverage it has.
//
// A part is marked when its thickness projects below 0.55 pixel at its farthest point (0.75
// for a bead); thicker ones are cast like any other. Only parts with a skeleton
// (RenderPart::skeleton) are marked.
//
// The chains live beside the cells, not in them: a chain head per cell, valid while the cell
// carries the mark. Marks reach the backups with the cells; the chains are kept until the next
// whole frame marks again, and every head is checked against the chain table before use. A part
// cast over a marked cell leaves the mark on its first sample (CastFramePass), so the thin parts
// behind a moving part stay chained in the cells it covers. A
// second backup set has chains of its own (QRender::smallPartsBackupB), exchanged with the
// first set's as the sets exchange roles, so a set drawn again leaves the other's heads alone.

#include "render/span_region.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class QRender;

struct SmallPartChainEntry {
    std::int32_t partPlusOne = 0;
    std::int32_t next = -1;
};

struct SmallPartChains {
    std::vector<SmallPartChainEntry> entries;
    std::vector<std::int32_t> heads;        // per cell of the sample plane, -1 none
    std::vector<std::int32_t> markedCells;  // cells given a head, for the next reset
    std::vector<std::int32_t> formerHeads;  // the head each of them had before
    // What the whole frame marked (KeepSmallPartChains): entries and marked cells below
    // these counts; incremental frames add theirs after them.
    std::size_t keptEntries = 0;
    std::size_t keptCells = 0;
};

// Marks the cells of sample buffer 0 (current level) that the thin parts pass through within
// the clip rectangle (pixels, x1 and y1 exclusive). partList: null for every part; else a
// count-prefixed list of part indices, the listed ones in list order, or with complement every
// other part. Invisible parts are skipped. Throws KVOutOfMemoryException.
// With within, only the cells of that region are marked (a background drawn again there,
// in sample buffer buffer, whose other cells keep their marks).
void MarkSmallPartsInFrame(QRender& render, const std::int32_t* partList, bool complement,
                           const RegionRect& clip, std::int32_t buffer = 0,
                           const SpanRegion* within = nullptr);

// Adds to target the cells that MarkSmallPartsInFrame would mark for the listed parts (a
// count-prefixed list of part indices) within clip, without marking them: a thin part's
// footprint may miss the band it is marked along. scratch is overwritten. Throws
// KVOutOfMemoryException.
void AddSmallPartBands(QRender& render, const std::int32_t* partList, const RegionRect& clip,
                       SpanRegion& target, SpanRegion& scratch);

// Empties the chains (the cells keep whatever marks they carry; a cast clears them).
void ResetSmallPartChains(QRender& render);
void ResetChains(SmallPartChains& chains);

// The same for shadow light light's map, as the light sees the parts (its map view): the
// marked cells are those whose head in the light's chains (RenderLightSlot::smallParts, one
// head per map cell) is set; the map's cells themselves are left alone. The shadow test probes
// the chained parts of a block's cells too, and such blocks are never flat. Throws
// KVOutOfMemoryException.
void MarkSmallPartsInLightMap(QRender& render, std::int32_t light, const std::int32_t* partList,
                              bool complement);

// Keeps the chains as they stand, those of the whole frame that incremental frames restore
// their cells from.
void KeepSmallPartChains(QRender& render);

// Takes back what incremental frames marked since KeepSmallPartChains: their entries, the
// links the kept chains gained to them and the heads they set, so that the chains do not grow
// from tick to tick and the cells restored from the backups find the whole frame's chains.
void RollBackSmallPartChains(QRender& render);

// How many parts of a cell's chain the pixel pass reads.
inline constexpr std::int32_t ChainedPartsRead = 3;

// Appends to parts the chained part indices of the cell (at most ChainedPartsRead), unless
// listed already or not a part of the renderer.
void AddChainedParts(const QRender& render, std::size_t cell, std::vector<std::int32_t>& parts);

// The same for any chains (a light's, by map cell), parts below partCount, at most limit.
void AddChainedParts(const SmallPartChains& chains, std::size_t cell, std::int32_t partCount,
                     std::vector<std::int32_t>& parts, std::int32_t limit = ChainedPartsRead);
