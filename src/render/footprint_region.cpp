#include "render/footprint_region.h"

#include "render/part_order.h"

#include <algorithm>
#include <span>

namespace {

// Adds the rectangle to target.
void AddRect(SpanRegion& target, const RegionRect& rect, SpanRegion& scratch) {
    RegionSetRect(scratch, rect.x0, rect.y0, rect.x1, rect.y1);
    RegionCombine(scratch, target, 1);
}

void AddPartFootprint(QRender& render, SpanRegion& target, std::int32_t index,
                      const RegionRect& clip, SpanRegion& scratch) {
    const RenderParts& parts = render.parts;
    if (index < 0 || index >= parts.Count()) return;
    const RenderPart& part = parts.Part(index);
    if (part.visible == 0 || part.surfaceCount == 0) return;
    const RenderLevel& level = render.Level();
    const SilhouetteConic conic = SilhouetteOf(part.bound, level.focal);
    const SilhouetteKind kind = SilhouetteKindOf(conic, part.bound);
    if (kind == SilhouetteKind::Hidden) return;
    if (kind == SilhouetteKind::Unbounded) {
        AddRect(target, clip, scratch);
        return;
    }
    if (ProjectQuadricOutline(render.outlineList, part.bound, level.focal, level.centreX,
                              level.centreY, clip)) {
        RegionAddSpanList(render.outlineList, target);
    }
}

}  // namespace

bool ProjectQuadricOutline(SpanList& list, const Matrix4W& bound, double focal, double centreX,
                           double centreY, const RegionRect& clip) {
    const SilhouetteConic conic = SilhouetteOf(bound, focal);
    if (SilhouetteKindOf(conic, bound) != SilhouetteKind::Ellipse) return false;
    std::int32_t rowLow = clip.y0, rowHigh = clip.y1;
    std::int32_t columnLow = clip.x0, columnHigh = clip.x1;
    ClipSpanToConic(rowLow, rowHigh, conic, true, centreY);
    ClipSpanToConic(columnLow, columnHigh, conic, false, centreX);
    if (rowLow >= rowHigh || columnLow >= columnHigh) return false;
    list.SetRows(rowLow, rowHigh);
    bool isEmpty = true;
    for (std::int32_t y = rowLow; y < rowHigh; ++y) {
        std::int32_t spanLow = columnLow, spanHigh = columnHigh;
        ClipRowToConic(spanLow, spanHigh, conic, y - centreY + 0.5, centreX);
        list.SetRun(y, spanLow, spanHigh);
        if (spanLow < spanHigh) isEmpty = false;
    }
    return !isEmpty;
}

void ProjectPartOutlines(QRender& render, SpanRegion& target, const std::int32_t* partList,
                         const RegionRect& clip) {
    RegionSetEmpty(target, 0, 0);
    if (clip.x0 >= clip.x1 || clip.y0 >= clip.y1) return;
    SpanRegion& scratch = render.scratchRegion;
    if (partList == nullptr) {
        for (std::int32_t i = 0; i < render.parts.Count(); ++i) {
            AddPartFootprint(render, target, i, clip, scratch);
        }
        return;
    }
    for (const std::int32_t index : ListEntries(partList)) {
        AddPartFootprint(render, target, index, clip, scratch);
    }
}

void BuildSelectionRegion(QRender& render, const std::int32_t* partList) {
    const RenderLevel& level = render.Level();
    ProjectPartOutlines(render, render.selectionRegion, partList,
                        RegionRect{-1, -1, level.width + 1, level.height + 1});
    BuildOutlineRegion(render.selectionRegion, render.outlineRegion);
}

void BuildOutlineRegion(const SpanRegion& source, SpanRegion& target) {
    // The plus shape in place: the copy moved by (+2, 0), (-1, +1), (0, -2) and (0, +1), each
    // time united with the source, has held every offset with |dx| + |dy| <= 1.
    static constexpr std::int32_t Moves[4][2] = {{0, 2}, {1, -1}, {-2, 0}, {1, 0}};  // dy, dx
    if (source.HasNoRows()) {
        RegionSetEmpty(target, 0, 0);
        return;
    }
    RegionCopy(target, source);
    for (const auto& move : Moves) {
        RegionOffset(target, move[0], move[1]);
        RegionCombine(source, target, 1);
    }
}

void DeriveSpanRegion(QRender& render, SpanRegion& candidate, std::int32_t referenceBuffer,
                      SpanRegion& change, SpanRegion& scratch) {
    const RenderLevel& level = render.Level();
    RegionClip(candidate, 0, 0, level.width, level.height);
    const SampleCell* cells = render.SampleBuffer(0);
    const SampleCell* reference = render.SampleBuffer(referenceBuffer);
    if (candidate.HasNoRows() || cells == nullptr || reference == nullptr) {
        RegionSetEmpty(candidate, 0, 0);
        return;
    }
    // The changed pixels, as runs of each row.
    RegionSetEmpty(change, candidate.Top(), candidate.Bottom());
    const std::size_t stride = static_cast<std::size_t>(level.cellStride);
    for (std::int32_t y = candidate.Top(); y < candidate.Bottom(); ++y) {
        const std::size_t rowStart = static_cast<std::size_t>(y + 1) * stride + 1;
        const SampleCell* now = cells + rowStart;
        const SampleCell* was = reference + rowStart;
        for (const std::int16_t* t = candidate.Row(y); t[0] != SpanRowEnd; t += 2) {
            std::int32_t x = t[0];
            const std::int32_t end = t[1];
            while (x < end) {
                while (x < end && ((now[x].pixel ^ was[x].pixel) & PixelIdMask) == 0) ++x;
                const std::int32_t runStart = x;
                while (x < end && ((now[x].pixel ^ was[x].pixel) & PixelIdMask) != 0) ++x;
                if (runStart < x) RegionSetSpan(1, change, y, runStart, x);
            }
        }
    }
    // Grown by a pixel and kept inside the candidate: candidate minus (candidate minus grown).
    BuildOutlineRegion(change, scratch);
    RegionCopy(change, candidate);
    RegionCombine(scratch, change, 0);
    RegionCombine(change, candidate, 0);
}
