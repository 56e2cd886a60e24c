#include "render/pixel_pass.h"

#include "core/private_heap.h"
#include "render/edge_lines.h"
#include "render/footprint_region.h"
#include "render/light_map.h"
#include "render/render_interrupt.h"
#include "render/small_parts.h"
#include "render/span_shade.h"

#include <algorithm>
#include <cmath>

namespace {

// Outline widths up to this share lines with the four axis neighbours, wider ones with all
// eight: a band of this width about a line through a diagonal neighbour's footprint edge
// cannot reach the pixel's footprint.
const double FourNeighbourWidth = 2.0 * (std::sqrt(2.0) - 0.9);

// Visits the region's pixels within the frame row by row, polling for the user after each
// row when a poll state is given.
template <typename Visit>
void ForEachPixel(const SpanRegion& region, std::int32_t width, std::int32_t height,
                  RenderPollState* poll, Visit visit) {
    if (region.HasNoRows()) return;
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), height);
    for (std::int32_t y = top; y < bottom; ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], width);
            for (std::int32_t x = x0; x < x1; ++x) visit(x, y);
        }
        if (poll != nullptr) RenderPollAfterRow(*poll, y);
    }
}

// Adds the part of id to the list unless it is none, unknown or listed already.
void AddCandidate(std::vector<std::int32_t>& list, std::uint32_t id, std::int32_t partCount) {
    const std::int32_t part = PixelPartIndex(id);
    if (part < 0 || part >= partCount) return;
    if (std::find(list.begin(), list.end(), part) != list.end()) return;
    list.push_back(part);
}

// Restores the edge index map when the pass ends, also when it is abandoned.
class EdgeIndexMapRestore {
public:
    explicit EdgeIndexMapRestore(QRender& r) : render(r) {}
    ~EdgeIndexMapRestore() { ClearEdgeIndexMap(render); }
    EdgeIndexMapRestore(const EdgeIndexMapRestore&) = delete;
    EdgeIndexMapRestore& operator=(const EdgeIndexMapRestore&) = delete;

private:
    QRender& render;
};

// The working region: the pass region, grown by a pixel for outlines (by its four neighbours,
// or all eight for wide ones), clipped to the frame.
void MakeWorkingRegion(QRender& render, const SpanRegion& region, bool isGrown, bool isWide) {
    EdgeScratch& scratch = render.edgeScratch;
    if (!scratch.workingRegion) scratch.workingRegion.emplace();
    if (!scratch.growRegion) scratch.growRegion.emplace();
    SpanRegion& working = *scratch.workingRegion;
    SpanRegion& grow = *scratch.growRegion;
    RegionCopy(working, region);
    if (isGrown && !region.HasNoRows()) {
        RegionCopy(grow, region);
        RegionOffset(grow, 0, -1);
        RegionCombine(grow, working, 1);
        RegionOffset(grow, 0, 2);
        RegionCombine(grow, working, 1);
        if (isWide) {
            // A three-pixel row band, then moved up and down a row.
            RegionCopy(grow, working);
            RegionOffset(grow, 1, 0);
            RegionCombine(grow, working, 1);
            RegionOffset(grow, -2, 0);
            RegionCombine(grow, working, 1);
        } else {
            RegionCopy(grow, region);
            RegionOffset(grow, 1, 0);
            RegionCombine(grow, working, 1);
            RegionOffset(grow, -2, 0);
            RegionCombine(grow, working, 1);
        }
    }
    const RenderLevel& level = render.Level();
    RegionClip(working, 0, 0, level.width, level.height);
}

// True when two lines of one pixel are the same boundary: same kind and surface pair, and
// nearly the same line (opposite orientations compared by their sum).
bool IsDuplicate(const EdgeLine& p, const EdgeLine& q) {
    if (p.kind != q.kind) return false;
    const bool samePair = (p.surfaceA == q.surfaceA && p.surfaceB == q.surfaceB) ||
                          (p.surfaceA == q.surfaceB && p.surfaceB == q.surfaceA);
    if (!samePair) return false;
    const double k = p.a * q.a + p.b * q.b <= 0.0 ? 1.0 : -1.0;
    const double da = p.a + k * q.a, db = p.b + k * q.b, dd = p.d + k * q.d;
    return da * da + db * db + dd * dd < 0.0009;
}

}  // namespace

void GrowForPixelPass(QRender& render, SpanRegion& region) {
    EdgeScratch& scratch = render.edgeScratch;
    if (!scratch.growRegion) scratch.growRegion.emplace();
    const std::int32_t steps = render.shade.drawStyle != 0 ? 3 : 1;
    for (std::int32_t k = 0; k < steps; ++k) {
        BuildOutlineRegion(region, *scratch.growRegion);
        RegionCopy(region, *scratch.growRegion);
    }
    const RenderLevel& level = render.Level();
    RegionClip(region, -1, -1, level.width + 1, level.height + 1);
}

void GrowForShadowEdges(QRender& render, SpanRegion& region) {
    EdgeScratch& scratch = render.edgeScratch;
    if (!scratch.growRegion) scratch.growRegion.emplace();
    for (std::int32_t k = 0; k < 2; ++k) {
        BuildOutlineRegion(region, *scratch.growRegion);
        RegionCopy(region, *scratch.growRegion);
    }
    const RenderLevel& level = render.Level();
    RegionClip(region, 0, 0, level.width, level.height);
}

void CollectShadowEdgePixels(QRender& render, const SpanRegion& region, SampleCell* cells,
                             SpanRegion& boundaries) {
    const RenderLevel& level = render.Level();
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), level.height);
    if (cells == nullptr || region.HasNoRows() || top >= bottom) {
        RegionSetEmpty(boundaries, 0, 0);
        return;
    }
    RegionSetEmpty(boundaries, top, bottom);
    const std::ptrdiff_t w = level.cellStride;
    ForEachPixel(region, level.width, level.height, nullptr, [&](std::int32_t x, std::int32_t y) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y + 1) * w + x + 1;
        cells[at].pixel &= ~PixelFinished;
        const std::uint32_t mask = cells[at].lightMask;
        const std::uint32_t change =
            (cells[at - 1].lightMask ^ mask) | (cells[at + 1].lightMask ^ mask) |
            (cells[at - w].lightMask ^ mask) | (cells[at + w].lightMask ^ mask);
        if ((change & 0xFFFF0000u) != 0) RegionSetSpan(1, boundaries, y, x, x + 1);
    });
    if (render.shade.drawStyle != 0) {
        EdgeScratch& scratch = render.edgeScratch;
        if (!scratch.growRegion) scratch.growRegion.emplace();
        for (std::int32_t k = 0; k < 2; ++k) {
            BuildOutlineRegion(boundaries, *scratch.growRegion);
            RegionCopy(boundaries, *scratch.growRegion);
        }
    }
    RegionClip(boundaries, 0, 0, level.width, level.height);
}

void ReshadeRegion(QRender& render, SpanRegion& region) {
    if (render.edges.isRefined && render.BuffersReady()) {
        GrowForPixelPass(render, region);
        const RenderLevel& level = render.Level();
        RegionClip(region, 0, 0, level.width, level.height);
        const bool isFull = render.reductionLevel == 0;
        std::uint32_t* out = isFull ? render.Target() : render.ReducedFrame(render.reductionLevel);
        const std::size_t stride = isFull ? static_cast<std::size_t>(render.TargetStride())
                                          : static_cast<std::size_t>(level.width);
        RenderPixelPass(render, region, render.SampleBuffer(0), out, stride);
    }
    ShadeObjectSpans(render, region);
}

void ClearEdgeIndexMap(QRender& render) {
    std::int32_t* map = render.EdgeIndexMap();
    const EdgeScratch& scratch = render.edgeScratch;
    if (map == nullptr || !scratch.workingRegion) return;
    const SpanRegion& working = *scratch.workingRegion;
    if (working.HasNoRows()) return;
    const RenderLevel& level = render.Level();
    const std::size_t stride = static_cast<std::size_t>(level.cellStride);
    for (std::int32_t y = std::max(working.Top(), 0); y < std::min(working.Bottom(), level.height);
         ++y) {
        for (const std::int16_t* t = working.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], level.width);
            if (x0 >= x1) continue;
            std::fill_n(
                map + static_cast<std::size_t>(y + 1) * stride + static_cast<std::size_t>(x0 + 1),
                x1 - x0, -1);
        }
    }
}

void RenderPixelPass(QRender& render, const SpanRegion& region, SampleCell* cells,
                     std::uint32_t* out, std::size_t stride, std::uint32_t* layers,
                     std::size_t layerPlaneWords) {
    if (!render.BuffersReady() || cells == nullptr || out == nullptr) return;
    const RenderLevel& level = render.Level();
    const std::ptrdiff_t w = level.cellStride;
    const auto cellAt = [w](std::int32_t x, std::int32_t y) {
        return static_cast<std::ptrdiff_t>(y + 1) * w + x + 1;
    };
    if (!render.edges.isRefined) {
        // Only the marks are cleared, which takes no time worth polling for.
        ForEachPixel(
            region, level.width, level.height, nullptr,
            [&](std::int32_t x, std::int32_t y) { cells[cellAt(x, y)].pixel &= ~PixelFinished; });
        return;
    }

    EdgeScratch& scratch = render.edgeScratch;
    const bool isOutlined = render.shade.drawStyle != 0;
    std::int32_t* map = isOutlined ? render.EdgeIndexMap() : nullptr;
    const bool isWide = render.edges.outlineWidth > FourNeighbourWidth;
    MakeWorkingRegion(render, region, map != nullptr, isWide);
    const EdgeIndexMapRestore restore(render);
    scratch.sharedLines.clear();
    // A pass over a backup's cells tests its shadows against the backup's maps.
    scratch.useBackupMaps = cells != render.SampleBuffer(0);
    scratch.layerPlaneWords = layerPlaneWords;
    const bool hasShadows = ShadowsActive(render);
    const auto layerAt = [&](std::int32_t x, std::int32_t y) -> std::uint32_t* {
        if (layers == nullptr) return nullptr;
        return layers + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x);
    };

    const std::int32_t partCount = render.parts.Count();
    const std::int32_t samples = render.SamplesPerPixel();
    const std::ptrdiff_t plane = static_cast<std::ptrdiff_t>(render.PlaneCells()) * (samples - 1);
    const std::ptrdiff_t gatherOffsets[9] = {1,         -1,        w,         -w,       plane,
                                             plane + 1, plane - 1, plane + w, plane - w};
    const std::int32_t gatherCount = samples > 1 ? 9 : 4;
    const double focal = level.focal;
    auto& candidates = scratch.candidateParts;

    // Gathers the candidate parts around a cell: its own, its neighbours' (when they differ
    // from it in more than the chain mark) and the second layer's.
    const auto gather = [&](std::ptrdiff_t at, std::uint32_t difference) {
        AddCandidate(candidates, cells[at].pixel, partCount);
        if ((difference & ~PixelSmallPartChain) != 0) {
            for (std::int32_t k = 0; k < gatherCount; ++k) {
                AddCandidate(candidates, cells[at + gatherOffsets[k]].pixel, partCount);
            }
        }
        if ((cells[at].pixel & PixelSmallPartChain) != 0) {
            AddChainedParts(render, static_cast<std::size_t>(at), candidates);
        }
    };

    // The shadow change towards a neighbour: the lit bits that differ, each kept only where
    // both cells evaluate the light (its evaluate bit, 16 places lower, unchanged).
    const auto shadowChange = [](std::uint32_t own, std::uint32_t other) {
        const std::uint32_t m = own ^ other;
        return m & ~(m << 16) & 0xFFFF0000u;
    };
    static constexpr std::int32_t Directions[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};

    // The lights whose shadow edge may cross the pixel: those whose lit bit changes towards a
    // neighbour on the same surface, and, towards a neighbour on another surface that meets
    // this one smoothly in depth (a crease, not an occluding edge), those that change there.
    const auto shadowSet = [&](std::ptrdiff_t at, double nx, double ny) {
        const SampleCell& cell = cells[at];
        const std::uint32_t own = cell.pixel & PixelIdMask;
        std::uint32_t set = 0;
        std::uint32_t all = 0;
        for (const auto& dir : Directions) {
            const SampleCell& other = cells[at + dir[0] + dir[1] * w];
            const std::uint32_t change = shadowChange(cell.lightMask, other.lightMask);
            all |= change;
            if ((other.pixel & PixelIdMask) == own) set |= change;
        }
        if (own == 0 || (all & ~set) == 0) return set;
        std::int32_t slopeX = 0, slopeY = 0;
        bool hasSlopes = false;
        for (const auto& dir : Directions) {
            const SampleCell& other = cells[at + dir[0] + dir[1] * w];
            const std::uint32_t id = other.pixel & PixelIdMask;
            if (id == own || id == 0) continue;
            const std::uint32_t m = (cell.lightMask ^ other.lightMask) & 0xFFFF0000u;
            if (m == 0) continue;
            if (!hasSlopes) {
                SurfaceDepthSlopes(render, cell, nx, ny, slopeX, slopeY);
                hasSlopes = true;
            }
            const bool isX = dir[0] != 0;
            std::int32_t otherX = 0, otherY = 0;
            SurfaceDepthSlopes(render, other, nx + dir[0] / focal, ny + dir[1] / focal, otherX,
                               otherY);
            const double s1 = isX ? slopeX : slopeY;
            const double s2 = isX ? otherX : otherY;
            // The step in depth word from the lower to the higher x or y.
            const double step = (dir[0] + dir[1]) > 0
                                    ? static_cast<double>(other.depth) - cell.depth
                                    : static_cast<double>(cell.depth) - other.depth;
            const double spread = std::fabs(s1 - s2) / 2.0;
            if (!(step > std::min(s1, s2) - spread && step < std::max(s1, s2) + spread)) continue;
            const bool isGrowing = (dir[0] + dir[1]) > 0 ? s2 > s1 : s2 < s1;
            set |= isGrowing ? m : shadowChange(cell.lightMask, other.lightMask);
        }
        return set;
    };

    ForEachPixel(*scratch.workingRegion, level.width, level.height, &render.poll,
                 [&](std::int32_t x, std::int32_t y) {
                     const std::ptrdiff_t at = cellAt(x, y);
                     SampleCell& cell = cells[at];
                     cell.pixel &= ~PixelFinished;
                     const std::uint32_t own = cell.pixel;
                     std::uint32_t difference =
                         ((cells[at - w].pixel ^ own) | (cells[at + w].pixel ^ own) |
                          (cells[at - 1].pixel ^ own) | (cells[at + 1].pixel ^ own)) &
                         PixelIdMask;
                     if (samples > 1) difference |= own & PixelSmallPartChain;
                     std::uint32_t shadowDifference = 0;
                     if (hasShadows) {
                         const std::uint32_t mask = cell.lightMask;
                         shadowDifference = shadowChange(mask, cells[at - w].lightMask) |
                                            shadowChange(mask, cells[at + w].lightMask) |
                                            shadowChange(mask, cells[at - 1].lightMask) |
                                            shadowChange(mask, cells[at + 1].lightMask);
                     }
                     if (difference == 0 && shadowDifference == 0) return;
                     const double nx = (x - level.centreX + 0.5) / focal;
                     const double ny = (y - level.centreY + 0.5) / focal;
                     TranslateBadAlloc([&] { scratch.lines.clear(); });
                     if (hasShadows && (own & PixelIdMask) != 0) {
                         const std::uint32_t set = shadowSet(at, nx, ny);
                         if (set != 0) BuildShadowEdgeCurves(render, scratch, set, cell, nx, ny);
                     }
                     // A shadow edge on a neighbour's surface may run into this pixel's
                     // boundary with it, the centre seeing another surface or none.
                     for (std::size_t k = 0; hasShadows && difference != 0 && k < 4; ++k) {
                         const auto& dir = Directions[k];
                         const std::ptrdiff_t next = at + dir[0] + dir[1] * w;
                         const std::uint32_t id = cells[next].pixel & PixelIdMask;
                         bool isSeen = id == 0 || id == (own & PixelIdMask);
                         for (std::size_t j = 0; j < k && !isSeen; ++j) {
                             isSeen = (cells[at + Directions[j][0] + Directions[j][1] * w].pixel &
                                       PixelIdMask) == id;
                         }
                         if (isSeen) continue;
                         const std::uint32_t set =
                             shadowSet(next, nx + dir[0] / focal, ny + dir[1] / focal);
                         if (set != 0) {
                             BuildShadowEdgeCurves(render, scratch, set, cells[next], nx, ny);
                         }
                     }
                     if (difference == 0 && scratch.lines.empty()) return;
                     TranslateBadAlloc([&] {
                         candidates.clear();
                         gather(at, difference);
                     });
                     if (difference != 0) BuildEdgeCurves(render, scratch, candidates, nx, ny);
                     if (map == nullptr) {
                         if (IntegrateEdgePixel(render, scratch, candidates, cells,
                                                out + static_cast<std::size_t>(y) * stride +
                                                    static_cast<std::size_t>(x),
                                                nx, ny, x, y, layerAt(x, y))) {
                             cell.pixel |= PixelFinished;
                         }
                         return;
                     }
                     if (scratch.lines.empty()) return;
                     const auto first = static_cast<std::int32_t>(scratch.sharedLines.size());
                     TranslateBadAlloc([&] {
                         scratch.sharedLines.insert(scratch.sharedLines.end(),
                                                    scratch.lines.begin(), scratch.lines.end());
                     });
                     scratch.sharedLines[static_cast<std::size_t>(first)].count =
                         static_cast<std::int32_t>(scratch.lines.size());
                     map[at] = first;
                 });
    if (map == nullptr) return;

    // Outlines: every pixel of the pass region near a stored line is integrated with its own
    // lines and those of its neighbours moved into its frame.
    static constexpr std::int32_t Steps[8][2] = {{1, 0}, {-1, 0}, {0, 1},  {0, -1},
                                                 {1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
    const std::int32_t neighbourCount = isWide ? 8 : 4;
    const double outlineRadius = EdgeFilterRadius + 0.5 * render.edges.outlineWidth;
    RegionCopy(*scratch.growRegion, region);
    RegionClip(*scratch.growRegion, 0, 0, level.width, level.height);
    ForEachPixel(
        *scratch.growRegion, level.width, level.height, &render.poll,
        [&](std::int32_t x, std::int32_t y) {
            const std::ptrdiff_t at = cellAt(x, y);
            SampleCell& cell = cells[at];
            if ((cell.pixel & PixelFinished) != 0) return;
            bool isNear = map[at] >= 0;
            for (std::int32_t k = 0; k < neighbourCount && !isNear; ++k) {
                isNear = map[at + Steps[k][0] + Steps[k][1] * w] >= 0;
            }
            if (!isNear) return;
            TranslateBadAlloc([&] {
                scratch.lines.clear();
                candidates.clear();
                AddCandidate(candidates, cell.pixel, partCount);
                if (map[at] >= 0) {
                    const EdgeLine* own = &scratch.sharedLines[static_cast<std::size_t>(map[at])];
                    for (std::int32_t i = 0; i < own->count; ++i) {
                        EdgeLine line = own[i];
                        line.distance = std::fabs(line.d);
                        scratch.lines.push_back(line);
                    }
                    gather(at, PixelIdMask);
                }
                for (std::int32_t k = 0; k < neighbourCount; ++k) {
                    const std::int32_t dx = Steps[k][0], dy = Steps[k][1];
                    const std::ptrdiff_t there = at + dx + dy * w;
                    if (map[there] < 0) continue;
                    const EdgeLine* theirs =
                        &scratch.sharedLines[static_cast<std::size_t>(map[there])];
                    bool isContributing = false;
                    for (std::int32_t i = 0; i < theirs->count; ++i) {
                        EdgeLine line = theirs[i];
                        line.d += line.a * dx + line.b * dy;
                        const double r = line.kind == 0 ? outlineRadius : EdgeFilterRadius;
                        if (!(line.d > -r && line.d < r)) continue;
                        line.distance = std::fabs(line.d);
                        line.count = 0;
                        isContributing = true;
                        auto listed =
                            std::find_if(scratch.lines.begin(), scratch.lines.end(),
                                         [&](const EdgeLine& l) { return IsDuplicate(l, line); });
                        if (listed == scratch.lines.end()) {
                            scratch.lines.push_back(line);
                        } else if (line.distance < listed->distance) {
                            *listed = line;
                        }
                    }
                    if (isContributing) gather(there, PixelIdMask);
                }
            });
            const double nx = (x - level.centreX + 0.5) / focal;
            const double ny = (y - level.centreY + 0.5) / focal;
            if (IntegrateEdgePixel(
                    render, scratch, candidates, cells,
                    out + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x), nx,
                    ny, x, y, layerAt(x, y))) {
                cell.pixel |= PixelFinished;
            }
        });
}
