#include "render/cast_frame_pass.h"

#include "core/check.h"
#include "core/private_heap.h"
#include "render/part_order.h"
#include "render/render_interrupt.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <span>
#include <cstring>

namespace {

constexpr std::int32_t MaxEvents = 2 * RenderPartMaxSurfaces;

// One quadric surface set up for a row: a = (a2 X + a1) X + a0, b = b1 X + b0.
struct QuadricRow {
    double a0 = 0.0, a1 = 0.0, a2 = 0.0;
    double b0 = 0.0, b1 = 0.0;
    double c = 0.0;
    double scaleOverC = 0.0;  // depthScale / c: the word of the far root is q x this
    std::int32_t surface = 0;
};

// One plane set up for a row: b = b1 X + b0, crossed where 1/t = -2 b / c.
struct PlaneRow {
    double b0 = 0.0, b1 = 0.0;
    double scaleOverC = 0.0;
    std::int32_t surface = 0;
};

struct Event {
    std::int32_t word = 0;
    std::int32_t surface = 0;
};

// A part's surfaces sorted by kind once per part, and set up again for each row.
struct PartSetup {
    std::int32_t quadricCount = 0;
    std::int32_t planeCount = 0;
    std::uint32_t outsideMask = 0;  // bit s: the eye lies outside surface s
    QuadricRow quadrics[RenderPartMaxSurfaces];
    PlaneRow planes[RenderPartMaxSurfaces];
    const Matrix4W* forms = nullptr;
};

bool IsPlane(const Matrix4W& form) {
    return (std::bit_cast<std::uint64_t>(form.m[15]) >> 32) == 0x7FFFFFFF;
}

void SetUpPart(PartSetup& setup, std::span<const Matrix4W> surfaces, double depthScale) {
    setup.quadricCount = 0;
    setup.planeCount = 0;
    setup.outsideMask = 0;
    setup.forms = surfaces.data();
    for (std::int32_t s = 0; s < static_cast<std::int32_t>(surfaces.size()); ++s) {
        const auto& e = surfaces[static_cast<std::size_t>(s)].m;
        if (e[0] >= 0.0) setup.outsideMask |= 1u << s;
        if (IsPlane(surfaces[static_cast<std::size_t>(s)])) {
            PlaneRow& p = setup.planes[setup.planeCount++];
            p.surface = s;
            p.b1 = e[1];
            p.scaleOverC = depthScale / e[0];
        } else {
            QuadricRow& q = setup.quadrics[setup.quadricCount++];
            q.surface = s;
            q.a2 = e[5];
            q.b1 = e[1];
            q.c = e[0];
            q.scaleOverC = depthScale / e[0];
        }
    }
}

void SetUpRow(PartSetup& setup, double y, double focal) {
    for (std::int32_t i = 0; i < setup.quadricCount; ++i) {
        QuadricRow& q = setup.quadrics[i];
        const auto& e = setup.forms[q.surface].m;
        q.b0 = e[2] * y + e[3] * focal;
        q.a1 = 2.0 * (e[6] * y + e[7] * focal);
        q.a0 = e[10] * y * y + 2.0 * e[11] * focal * y + e[15] * focal * focal;
    }
    for (std::int32_t i = 0; i < setup.planeCount; ++i) {
        PlaneRow& p = setup.planes[i];
        const auto& e = setup.forms[p.surface].m;
        p.b0 = e[2] * y + e[3] * focal;
    }
}

// The depth word of w. A crossing too near the eye for 31 bits gets the largest word and
// sets tooNear.
inline std::int32_t ToWord(double w, bool& tooNear) {
    if (w >= 2147483647.0) {
        tooNear = true;
        return INT32_MAX;
    }
    return w >= -2147483648.0 ? static_cast<std::int32_t>(w) : INT32_MIN;  // also a NaN
}

enum class PixelResult { Miss, Hit, Overflow };

// Finds where the ray through X (on the row the setup is for) enters the part.
//
// A crossing too near the eye to have a word (a surface through or almost through the eye,
// which conditioning keeps just off it) is an overflow only when the ray enters the part
// there; otherwise it is walked as the nearest crossing, so a far part whose plane passes
// the eye costs the frame nothing.
PixelResult CastPixel(const PartSetup& setup, double x, double depthScale, Event& hit) {
    Event events[MaxEvents];
    std::int32_t count = 0;
    bool tooNear = false;
    for (std::int32_t i = 0; i < setup.quadricCount; ++i) {
        const QuadricRow& q = setup.quadrics[i];
        const double b = q.b1 * x + q.b0;
        const double a = (q.a2 * x + q.a1) * x + q.a0;
        const double d = b * b - a * q.c;
        if (!(d >= 0.0)) continue;  // the ray misses the surface
        const double root = std::sqrt(d);
        const double qq = -(b + (b >= 0.0 ? root : -root));
        if (qq == 0.0) continue;
        events[count++] = {ToWord(depthScale * a / qq, tooNear), q.surface};
        events[count++] = {ToWord(qq * q.scaleOverC, tooNear), q.surface};
    }
    for (std::int32_t i = 0; i < setup.planeCount; ++i) {
        const PlaneRow& p = setup.planes[i];
        const double b = p.b1 * x + p.b0;
        if (b == 0.0) continue;  // parallel to the plane
        events[count++] = {ToWord(-2.0 * b * p.scaleOverC, tooNear), p.surface};
    }
    // Nearest first (largest word); equal words keep their order.
    for (std::int32_t i = 1; i < count; ++i) {
        const Event e = events[i];
        std::int32_t j = i - 1;
        while (j >= 0 && events[j].word < e.word) {
            events[j + 1] = events[j];
            --j;
        }
        events[j + 1] = e;
    }
    std::uint32_t outside = setup.outsideMask;
    for (std::int32_t i = 0; i < count; ++i) {
        if (events[i].word < 0) break;  // behind the eye
        outside ^= 1u << events[i].surface;
        if (outside == 0) {
            if (tooNear && events[i].word == INT32_MAX) return PixelResult::Overflow;
            hit = events[i];
            return PixelResult::Hit;
        }
    }
    return PixelResult::Miss;
}

// What a pass writes into and with.
struct PassTarget {
    SampleCell* plane0 = nullptr;
    SampleCell* lastPlane = nullptr;
    std::int32_t samples = 1;
    std::size_t cellStride = 0;
    const std::uint16_t* groups = nullptr;
    std::size_t groupCount = 0;
    double focal = 0.0;
    double depthScale = 0.0;
    std::int32_t lightCount = 0;
    std::uint32_t lightMask = 0;  // bits of the lights the pass evaluates
    const Vec3* lightPositions[RenderLightSlotCount] = {};
};

std::uint16_t GroupOf(const PassTarget& target, std::uint32_t id) {
    const std::uint32_t index = id & PixelIdMask;
    return index < target.groupCount ? target.groups[index] : 0;
}

// True when hit (id n, word d) beats the stored (id m, word e).
bool Wins(const PassTarget& target, std::uint32_t n, std::int32_t d, const SampleCell& stored) {
    const std::uint16_t group = GroupOf(target, n);
    if (group != 0 && GroupOf(target, stored.pixel) == group) return n < (stored.pixel & PixelIdMask);
    return stored.depth < d;
}

std::uint32_t LightBits(const PassTarget& target, const Matrix4W& form, double x, double y,
                        std::int32_t word) {
    if (target.lightCount == 0 || word <= 0) return 0;
    const double t = target.depthScale / word;
    const Vec3 p{x * t, y * t, target.focal * t};
    const auto& e = form.m;
    Vec3 g{e[1], e[2], e[3]};
    if (!IsPlane(form)) {
        g.x += e[5] * p.x + e[6] * p.y + e[7] * p.z;
        g.y += e[6] * p.x + e[10] * p.y + e[11] * p.z;
        g.z += e[7] * p.x + e[11] * p.y + e[15] * p.z;
    }
    std::uint32_t bits = 0;
    for (std::int32_t i = 0; i < target.lightCount; ++i) {
        const Vec3& l = *target.lightPositions[i];
        if ((p.x - l.x) * g.x + (p.y - l.y) * g.y + (p.z - l.z) * g.z <= 0.0) {
            bits |= 0x80008000u >> i;
        }
    }
    return bits & target.lightMask;
}

void Offer(const PassTarget& target, std::size_t cellIndex, std::uint32_t id, std::int32_t word,
           const Matrix4W& form, double x, double y) {
    SampleCell& last = target.lastPlane[cellIndex];
    if (!Wins(target, id, word, last)) return;
    SampleCell hit{id, LightBits(target, form, x, y, word), word};
    // The thin-part mark belongs to the cell, whatever surface it shows first: a part drawn
    // over a marked cell (an incremental frame over the background's cells) keeps the mark and
    // with it the chain of the thin parts behind.
    SampleCell& first = target.plane0[cellIndex];
    const std::uint32_t mark = first.pixel & PixelSmallPartChain;
    if (target.samples == 1) {
        hit.pixel |= mark;
        last = hit;
        return;
    }
    if (Wins(target, id, word, first)) {
        last = first;
        last.pixel &= ~PixelSmallPartChain;
        hit.pixel |= mark;
        first = hit;
    } else {
        last = hit;
    }
}

}  // namespace

std::int32_t CastFramePass(QRender& render, const SpanRegion& region,
                           const std::int32_t* partList, bool complement, std::int32_t buffer,
                           double centreX, double centreY) {
    ORBELLE_CHECK(render.BuffersReady());
    ORBELLE_CHECK(buffer >= 0 && buffer < RenderSampleBufferCount);
    SampleCell* cells = render.SampleBuffer(buffer);
    ORBELLE_CHECK(cells != nullptr);
    const RenderLevel& level = render.Level();
    ORBELLE_CHECK(level.width <= render.AllocatedWidth() && level.height <= render.AllocatedHeight());

    PassTarget target;
    target.plane0 = cells;
    target.samples = render.SamplesPerPixel();
    target.lastPlane = cells + render.PlaneCells() * static_cast<std::size_t>(target.samples - 1);
    target.cellStride = static_cast<std::size_t>(level.cellStride);
    target.groups = render.slotTable;
    target.groupCount = render.slotTable != nullptr ? render.slotTableEntries : 0;
    target.focal = level.focal;
    target.depthScale = render.depthScale;
    target.lightCount = render.LightCount();
    for (std::int32_t i = 0; i < target.lightCount; ++i) {
        target.lightMask |= 0x80008000u >> i;
        target.lightPositions[i] = &render.LightSlot(i).position;
    }

    RenderParts& parts = render.parts;
    const std::int32_t partCount = parts.Count();
    const auto listed = ListEntries(partList);
    const bool useOrder = partList == nullptr;
    if (useOrder) {
        if (render.partOrder.size() < static_cast<std::size_t>(partCount)) {
            TranslateBadAlloc([&] {
                render.partOrder.resize(static_cast<std::size_t>(partCount));
                render.partSortScratch.resize(static_cast<std::size_t>(partCount));
            });
        }
        ComputePartKeys(parts, render.depthScale, level.focal);
        SortPartsByKey(parts, render.partOrder, render.partSortScratch);
    } else if (complement) {
        for (std::int32_t i = 0; i < partCount; ++i) parts.Part(i).mark = 0;
        for (const std::int32_t i : listed) {
            if (i >= 0 && i < partCount) parts.Part(i).mark = 1;
        }
    }

    // The pass's rectangle: the region's bounds within the bordered frame.
    const RegionRect bounds = RegionGetBounds(region);
    const std::int32_t clipX0 = std::max(bounds.x0, -1);
    const std::int32_t clipX1 = std::min(bounds.x1, level.width + 1);
    const std::int32_t clipY0 = std::max(bounds.y0, -1);
    const std::int32_t clipY1 = std::min(bounds.y1, level.height + 1);
    if (clipX0 >= clipX1 || clipY0 >= clipY1) return CastDone;
    const auto cellIndex = [&target](std::int32_t x, std::int32_t y) {
        return static_cast<std::size_t>(y + 1) * target.cellStride + static_cast<std::size_t>(x + 1);
    };

    if (useOrder || complement) {
        for (std::int32_t y = clipY0; y < clipY1; ++y) {
            for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
                const std::int32_t x0 = std::max<std::int32_t>(t[0], clipX0);
                const std::int32_t x1 = std::min<std::int32_t>(t[1], clipX1);
                if (x0 >= x1) continue;
                for (std::int32_t s = 0; s < target.samples; ++s) {
                    SampleCell* row = cells + render.PlaneCells() * static_cast<std::size_t>(s);
                    std::memset(static_cast<void*>(row + cellIndex(x0, y)), 0,
                                static_cast<std::size_t>(x1 - x0) * sizeof(SampleCell));
                }
            }
        }
    }

    PartSetup setup;
    const std::int32_t selectedCount =
        useOrder || complement ? partCount : static_cast<std::int32_t>(listed.size());
    for (std::int32_t n = 0; n < selectedCount; ++n) {
        std::int32_t index = 0;
        if (useOrder) {
            index = render.partOrder[static_cast<std::size_t>(n)];
        } else if (complement) {
            index = n;
            if (parts.Part(index).mark != 0) continue;
        } else {
            index = listed[static_cast<std::size_t>(n)];
            if (index < 0 || index >= partCount) continue;
        }
        const RenderPart& part = parts.Part(index);
        if (part.visible == 0 || part.surfaceCount == 0) continue;
        SetUpPart(setup, parts.Surfaces(index), target.depthScale);
        if (setup.outsideMask == 0) return CastEyeInside;

        const SilhouetteConic conic = SilhouetteOf(part.bound, level.focal);
        const SilhouetteKind kind = SilhouetteKindOf(conic, part.bound);
        if (kind == SilhouetteKind::Hidden) continue;
        std::int32_t rowLow = clipY0, rowHigh = clipY1;
        std::int32_t columnLow = clipX0, columnHigh = clipX1;
        if (kind == SilhouetteKind::Ellipse) {
            ClipSpanToConic(rowLow, rowHigh, conic, true, centreY);
            ClipSpanToConic(columnLow, columnHigh, conic, false, centreX);
            if (rowLow >= rowHigh || columnLow >= columnHigh) continue;
        }
        const bool clipRows = kind != SilhouetteKind::Unbounded;
        const std::uint32_t partId = PixelIdOf(index, 0);

        for (std::int32_t y = rowLow; y < rowHigh; ++y) {
            const double rowY = y - centreY + 0.5;
            std::int32_t spanLow = columnLow, spanHigh = columnHigh;
            if (clipRows) ClipRowToConic(spanLow, spanHigh, conic, rowY, centreX);
            bool isRowSetUp = false;
            for (const std::int16_t* t = region.Row(y); spanLow < spanHigh && t[0] != SpanRowEnd;
                 t += 2) {
                std::int32_t x0 = std::max<std::int32_t>(t[0], spanLow);
                std::int32_t x1 = std::min<std::int32_t>(t[1], spanHigh);
                if (useOrder) {
                    // Where a hit at least as near as the whole part is stored, skip.
                    while (x0 < x1 && target.lastPlane[cellIndex(x0, y)].depth >= part.key) ++x0;
                    while (x1 > x0 && target.lastPlane[cellIndex(x1 - 1, y)].depth >= part.key) --x1;
                }
                if (x0 >= x1) continue;
                if (!isRowSetUp) {
                    SetUpRow(setup, rowY, level.focal);
                    isRowSetUp = true;
                }
                for (std::int32_t x = x0; x < x1; ++x) {
                    const double rowX = x - centreX + 0.5;
                    Event hit;
                    const PixelResult result = CastPixel(setup, rowX, target.depthScale, hit);
                    if (result == PixelResult::Miss) continue;
                    if (result == PixelResult::Overflow) return CastDepthOverflow;
                    Offer(target, cellIndex(x, y), partId + static_cast<std::uint32_t>(hit.surface),
                          hit.word, setup.forms[hit.surface], rowX, rowY);
                }
            }
            RenderPollAfterRow(render.poll, y);
        }
    }
    return CastDone;
}

std::int32_t RenderCastFrame(QRender& render) {
    if (!render.BuffersReady()) return CastNotSized;
    if (render.renderWidth < RenderMinSide || render.renderHeight < RenderMinSide ||
        render.renderWidth > render.AllocatedWidth() ||
        render.renderHeight > render.AllocatedHeight()) {
        return CastNotSized;
    }
    render.BuildLevelTable();
    const RenderLevel& level = render.Level();
    render.SetDepthScale(render.depthConstant, level.focal);
    RegionSetRect(render.selectionRegion, -1, -1, level.width + 1, level.height + 1);
    RegionSetRect(render.changeRegion, 0, 0, level.width, level.height);
    std::int32_t result = CastDone;
    for (std::int32_t rerun = 0;; ++rerun) {
        result = CastFramePass(render, render.selectionRegion, nullptr, false, 0, level.centreX,
                               level.centreY);
        if (result != CastDepthOverflow || rerun == CastMaxReruns) break;
        render.HalveDepthScale();
    }
    if (result == CastEyeInside) {
        std::uint32_t* out = render.reductionLevel == 0 ? render.Target()
                                                        : render.ReducedFrame(render.reductionLevel);
        const std::size_t stride = render.reductionLevel == 0
                                       ? static_cast<std::size_t>(render.TargetStride())
                                       : static_cast<std::size_t>(level.width);
        if (out != nullptr) {
            for (std::int32_t y = 0; y < level.height; ++y) {
                std::fill_n(out + static_cast<std::size_t>(y) * stride, level.width, 0xFF000000u);
            }
        }
    }
    return result;
}
