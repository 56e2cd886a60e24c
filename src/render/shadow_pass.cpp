#include "render/shadow_pass.h"

#include "core/private_heap.h"
#include "render/cast_frame_pass.h"
#include "render/footprint_region.h"
#include "render/light_map.h"
#include "render/part_order.h"
#include "render/render_interrupt.h"
#include "render/small_parts.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace {

constexpr std::int32_t EmptyHead = std::numeric_limits<std::int32_t>::min();

// The first entry of a list head, -1 for an empty one.
std::int32_t HeadEntry(std::int32_t head) { return head < 0 ? -1 : head & ~ShadowCellReleased; }

// Prepends the pixel (x, y) to the list of map cell cell, when the cell's head holds every bit
// of tag (always for tag 0), reusing a given-back entry first; a full pool leaves the lists
// incomplete, which later frames see.
void RecordDependent(RenderLightSlot& slot, std::int32_t cell, std::int32_t x, std::int32_t y,
                     std::int32_t tag) {
    std::int32_t* heads = slot.dependents.get();
    std::int32_t* pool = slot.dependentPool.get();
    if (heads == nullptr || pool == nullptr) return;
    const std::int32_t head = heads[cell];
    if ((head & tag) != tag) return;
    std::int32_t entry = slot.dependentFree;
    if (entry >= 0 && entry < slot.dependentNext) {
        slot.dependentFree = pool[3 * static_cast<std::size_t>(entry) + 2];
    } else if (slot.dependentNext < slot.dependentCapacity) {
        entry = slot.dependentNext++;
    } else {
        slot.isDependentsComplete = false;
        return;
    }
    std::int32_t* record = pool + 3 * static_cast<std::size_t>(entry);
    record[0] = x;
    record[1] = y;
    record[2] = HeadEntry(head);
    heads[cell] = entry | tag;
}

// Marks the pixels recorded at map cell cell.
void MarkDependents(const RenderLightSlot& slot, std::size_t cell, std::vector<std::uint8_t>& marks,
                    std::int32_t width, std::int32_t height, std::int32_t& top,
                    std::int32_t& bottom) {
    const std::int32_t* pool = slot.dependentPool.get();
    std::int32_t entry = HeadEntry(slot.dependents.get()[cell]);
    for (std::int32_t k = 0; entry >= 0 && entry < slot.dependentNext && k < slot.dependentNext;
         ++k) {
        const std::int32_t* record = pool + 3 * static_cast<std::size_t>(entry);
        const std::int32_t x = record[0], y = record[1];
        if (x >= 0 && x < width && y >= 0 && y < height) {
            marks[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)] = 1;
            top = std::min(top, y);
            bottom = std::max(bottom, y + 1);
        }
        entry = record[2];
    }
}

// footprint becomes the map footprint of the listed parts in light's map: the silhouettes of
// their light-space bounds, or the whole map for a bound the light sees from inside or beside.
void AddLightFootprint(QRender& render, std::int32_t light, const std::int32_t* list,
                       SpanRegion& footprint, SpanRegion& scratch) {
    const RenderLightSlot& slot = render.LightSlot(light);
    const std::int32_t side = render.LightMapSide();
    const RegionRect clip{0, 0, side, side};
    for (const std::int32_t index : ListEntries(list)) {
        if (index < 0 || index >= slot.lightParts.Count()) continue;
        const RenderPart& part = slot.lightParts.Part(index);
        if (part.visible == 0 || part.surfaceCount == 0) continue;
        const SilhouetteConic conic = SilhouetteOf(part.bound, slot.mapScale);
        const SilhouetteKind kind = SilhouetteKindOf(conic, part.bound);
        if (kind == SilhouetteKind::Hidden) continue;
        if (kind == SilhouetteKind::Unbounded) {
            RegionSetRect(scratch, 0, 0, side, side);
            RegionCombine(scratch, footprint, 1);
            continue;
        }
        if (ProjectQuadricOutline(render.outlineList, part.bound, slot.mapScale, slot.mapU,
                                  slot.mapV, clip)) {
            RegionAddSpanList(render.outlineList, footprint);
        }
    }
}

// Pixels of a row set up from the chunk's first pixel; the steps' rounding errors stay far
// below a cell within one chunk.
constexpr std::int32_t ShadowChunkPixels = 520;

// Rounds half away from zero.
std::int64_t RoundAway(double v) { return static_cast<std::int64_t>(std::llround(v)); }

// The depth term (k w) >> 31 from the halves of k and w, without the product of the low halves.
std::int64_t DepthTerm(std::int32_t k, std::int32_t w) {
    const std::int64_t kh = k >> 16, kl = k & 0xFFFF;
    const std::int64_t wh = w >> 15, wl = w & 0x7FFF;
    return ((kl * wh) >> 16) + ((kh * wl) >> 15) + kh * wh;
}

}  // namespace

ShadowStepping SetupShadowStepping(const QRender& render, std::int32_t light) {
    ShadowStepping stepping;
    const RenderLightSlot& slot = render.LightSlot(light);
    const RenderLevel& level = render.Level();
    const double f = level.focal;
    const double depthScale = render.depthScale;
    if (!slot.hasMapView || !(f > 0.0) || !(depthScale > 0.0)) return stepping;
    // Light-space rows: a view-space point p lies at r (p - L); the block's column is
    // s x' / z' + ou with the cell centres' half cell taken into ou, likewise the row.
    const auto& r = slot.lightFromView;
    const double s = slot.mapScale;
    const double ou = slot.mapU - 0.5, ov = slot.mapV - 0.5;
    const Vec3& l = slot.position;
    // The three forms S a - w b with a = (X, Y, f) . row: column, row and denominator rows.
    double rows[3][3];
    for (std::size_t k = 0; k < 3; ++k) {
        rows[0][k] = s * r[k] + ou * r[6 + k];
        rows[1][k] = s * r[3 + k] + ov * r[6 + k];
        rows[2][k] = r[6 + k];
    }
    double b[3];
    for (std::size_t n = 0; n < 3; ++n)
        b[n] = rows[n][0] * l.x + rows[n][1] * l.y + rows[n][2] * l.z;
    // The light's coordinate along the face's depth axis, with its mantissa and exponent.
    const double ld = b[2];
    double m = 1.0;
    std::int32_t el = -32;
    if (ld != 0.0 && std::isfinite(ld)) {
        el = std::ilogb(ld);
        m = std::ldexp(ld, -el);
    }
    const double lde = std::ldexp(m, el);
    // The largest |a| of each form over the frame (with its border): a is linear, so at a corner.
    double largest[3] = {0.0, 0.0, 0.0};
    for (const double x : {-level.centreX - 0.5, level.width - level.centreX + 1.5}) {
        for (const double y : {-level.centreY - 0.5, level.height - level.centreY + 1.5}) {
            for (std::size_t n = 0; n < 3; ++n) {
                largest[n] = std::max(largest[n],
                                      std::fabs(rows[n][0] * x + rows[n][1] * y + rows[n][2] * f));
            }
        }
    }
    const double numeratorBound = (std::max(largest[0], largest[1]) * depthScale +
                                   std::max(std::fabs(b[0]), std::fabs(b[1])) * 2147483648.0) /
                                  std::fabs(m);
    if (!(numeratorBound > 0.0) || !std::isfinite(numeratorBound)) return stepping;
    const std::int32_t shiftK = std::ilogb(numeratorBound) - 30;
    const double denominatorLargest = largest[2] * depthScale / std::fabs(lde);
    const std::int32_t shiftB =
        denominatorLargest > 0.0 ? std::max(0, std::ilogb(denominatorLargest) - 28) : 0;
    const std::int32_t shiftA = shiftK - shiftB - el;
    if (shiftA < 0 || shiftA > 62 || shiftB > 62) return stepping;
    const double p = std::ldexp(depthScale / m, -shiftK);
    const double d = std::ldexp(depthScale / lde, -shiftB);
    const double scales[3] = {p, p, d};
    for (std::size_t n = 0; n < 3; ++n) {
        stepping.perX[n] = scales[n] * rows[n][0];
        stepping.perY[n] = scales[n] * rows[n][1];
        stepping.start[n] = scales[n] * rows[n][2] * f;
    }
    const double columnDepth = std::ldexp(b[0] / m, 31 - shiftK);
    const double rowDepth = std::ldexp(b[1] / m, 31 - shiftK);
    if (!(std::fabs(columnDepth) < 2147483647.0 && std::fabs(rowDepth) < 2147483647.0)) {
        return stepping;
    }
    stepping.columnDepth = static_cast<std::int32_t>(RoundAway(columnDepth));
    stepping.rowDepth = static_cast<std::int32_t>(RoundAway(rowDepth));
    stepping.uStep = static_cast<std::int32_t>(RoundAway(stepping.perX[0]));
    stepping.vStep = static_cast<std::int32_t>(RoundAway(stepping.perX[1]));
    stepping.denominatorStep = static_cast<std::int32_t>(RoundAway(stepping.perX[2]));
    stepping.shiftA = shiftA;
    stepping.shiftB = shiftB;
    // In front of the face z' > 0; the denominator was divided by Ld 2^(A + B).
    stepping.frontSign = lde > 0.0 ? 1 : -1;
    stepping.side = render.LightMapSide();
    stepping.isStepped = true;
    return stepping;
}

void StartShadowChunk(ShadowStepping& stepping, double x, double y) {
    std::int64_t* fields[3] = {&stepping.u, &stepping.v, &stepping.denominator};
    for (std::size_t n = 0; n < 3; ++n) {
        *fields[n] = RoundAway(stepping.start[n] + stepping.perX[n] * x + stepping.perY[n] * y);
    }
}

bool StepShadowCell(ShadowStepping& stepping, std::int32_t w, std::int32_t& column,
                    std::int32_t& row) {
    const std::int32_t a = stepping.shiftA, b = stepping.shiftB;
    const std::int64_t shifted =
        b == 0 ? w : (static_cast<std::int64_t>(w) + (1ll << (b - 1))) >> b;
    std::int64_t q = stepping.denominator - shifted;
    if (a > 0) q = (q + (1ll << (a - 1))) >> a;
    const std::int64_t u = stepping.u - DepthTerm(stepping.columnDepth, w);
    const std::int64_t v = stepping.v - DepthTerm(stepping.rowDepth, w);
    stepping.u += stepping.uStep;
    stepping.v += stepping.vStep;
    stepping.denominator += stepping.denominatorStep;
    if (q == 0 || (q > 0) != (stepping.frontSign > 0)) return false;
    // Truncating (n + q) / q - 1 is the floor of n / q for quotients above -1.
    const std::int64_t c = (u + q) / q - 1;
    const std::int64_t r = (v + q) / q - 1;
    if (c < 0 || r < 0 || c > stepping.side - 2 || r > stepping.side - 2) return false;
    column = static_cast<std::int32_t>(c);
    row = static_cast<std::int32_t>(r);
    return true;
}

void ApplyShadowPass(QRender& render, const SpanRegion& region, std::int32_t buffer,
                     bool useBackupMaps, bool isRecording) {
    if (!ShadowsActive(render) || region.HasNoRows()) return;
    const RenderLevel& level = render.Level();
    SampleCell* cells = render.SampleBuffer(buffer);
    if (cells == nullptr) return;
    const std::int32_t shadowLights = render.ShadowLightCount();
    // Lights without a map are lit wherever they face.
    std::uint32_t unshadowed = 0;
    for (std::int32_t i = shadowLights; i < render.LightCount(); ++i)
        unshadowed |= 0x80000000u >> i;
    const std::size_t stride = static_cast<std::size_t>(level.cellStride);
    const double focal = level.focal;
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), level.height);
    std::array<ShadowStepping, RenderLightSlotCount> steppings;
    for (std::int32_t i = 0; i < shadowLights; ++i) {
        steppings[static_cast<std::size_t>(i)] = SetupShadowStepping(render, i);
    }
    const std::size_t side = static_cast<std::size_t>(render.LightMapSide());
    for (std::int32_t y = top; y < bottom; ++y) {
        const double rowY = y - level.centreY + 0.5;
        SampleCell* row = cells + static_cast<std::size_t>(y + 1) * stride + 1;
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], level.width);
            for (std::int32_t x = x0; x < x1; ++x) {
                if ((x - x0) % ShadowChunkPixels == 0) {
                    for (std::int32_t i = 0; i < shadowLights; ++i) {
                        StartShadowChunk(steppings[static_cast<std::size_t>(i)],
                                         x - level.centreX + 0.5, rowY);
                    }
                }
                SampleCell& cell = row[x];
                const std::uint32_t id = cell.pixel & PixelIdMask;
                const bool isCovered = id != 0 && cell.depth > 0;
                std::uint32_t mask = unshadowed;
                for (std::int32_t i = 0; i < shadowLights; ++i) {
                    ShadowStepping& stepping = steppings[static_cast<std::size_t>(i)];
                    std::int32_t column = 0, mapRow = 0;
                    const bool isOnMap =
                        stepping.isStepped && StepShadowCell(stepping, cell.depth, column, mapRow);
                    if (!isCovered || (cell.lightMask & (0x8000u >> i)) == 0) continue;
                    RenderLightSlot& slot = render.LightSlot(i);
                    const LightMapCell* map =
                        useBackupMaps ? slot.mapBackupA.get() : slot.map.get();
                    // A light whose numbers do not fit the stepping is tested in doubles.
                    const bool isStepped = stepping.isStepped || !slot.hasMapView;
                    if (isStepped && (!isOnMap || map == nullptr)) {
                        mask |= 0x80000000u >> i;
                        continue;
                    }
                    std::int32_t mapCell =
                        isStepped
                            ? static_cast<std::int32_t>(static_cast<std::size_t>(mapRow) * side +
                                                        static_cast<std::size_t>(column))
                            : -1;
                    bool isLit = false;
                    if (isStepped && (map[mapCell].id & LightMapFlat) != 0) {
                        isLit = (map[mapCell].id & PixelIdMask) == id;
                    } else {
                        // Near an id boundary: the exact test at the point the cell shows,
                        // depth z = focal x depth scale / word.
                        const double z = focal * render.depthScale / cell.depth;
                        const Vec3& l = slot.position;
                        const Vec3 p{(x - level.centreX + 0.5) / focal * z, rowY / focal * z, z};
                        isLit = IsLitByLight(render, id, i, useBackupMaps,
                                             Vec3{p.x - l.x, p.y - l.y, p.z - l.z}, mapCell);
                    }
                    if (isLit) mask |= 0x80000000u >> i;
                    if (isRecording && mapCell >= 0) {
                        RecordDependent(slot, mapCell, x, y, render.shadowRecordingTag);
                    }
                }
                if (!isCovered) continue;
                const std::uint32_t facing = cell.lightMask & 0xFFFFu;
                cell.lightMask = facing | ((facing << 16) & mask);
            }
        }
        RenderPollAfterRow(render.poll, y);
    }
}

std::uint32_t ProbeLightMask(const QRender& render, const std::int32_t* partList, double u,
                             double v) {
    const RenderParts& parts = render.parts;
    LightProbeHit hit;
    const auto probe = [&](std::int32_t index) {
        if (index < 0 || index >= parts.Count()) return;
        const RenderPart& part = parts.Part(index);
        if (part.visible == 0 || part.surfaceCount == 0) return;
        LightProbeRay(parts.Surfaces(index), index, u, v, hit, render.slotTable,
                      render.slotTableEntries);
    };
    if (partList == nullptr) {
        for (std::int32_t i = 0; i < parts.Count(); ++i) probe(i);
    } else {
        for (const std::int32_t i : ListEntries(partList)) probe(i);
    }
    if (hit.id == 0) return 0;
    // The ray has z = 1, so the hit's parameter is its view depth.
    const Vec3 p{u * hit.depth, v * hit.depth, hit.depth};
    const Matrix4W& form =
        parts.Surfaces(PixelPartIndex(hit.id))[static_cast<std::size_t>(PixelSurface(hit.id))];
    const auto& e = form.m;
    Vec3 g{e[1], e[2], e[3]};
    if ((std::bit_cast<std::uint64_t>(e[15]) >> 32) != 0x7FFFFFFF) {
        g.x += e[5] * p.x + e[6] * p.y + e[7] * p.z;
        g.y += e[9] * p.x + e[10] * p.y + e[11] * p.z;
        g.z += e[13] * p.x + e[14] * p.y + e[15] * p.z;
    }
    const bool hasShadows = ShadowsActive(render);
    std::uint32_t mask = 0;
    for (std::int32_t i = 0; i < render.LightCount(); ++i) {
        const Vec3& l = render.LightSlot(i).position;
        const Vec3 d{p.x - l.x, p.y - l.y, p.z - l.z};
        if (d.x * g.x + d.y * g.y + d.z * g.z > 0.0) continue;
        mask |= 0x8000u >> i;
        std::int32_t cell = -1;
        if (!hasShadows || i >= render.ShadowLightCount() ||
            IsLitByLight(render, hit.id, i, false, d, cell)) {
            mask |= 0x80000000u >> i;
        }
    }
    return mask;
}

void ResetShadowDependents(QRender& render) {
    const std::int32_t side = render.LightMapSide();
    const std::size_t cells = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        RenderLightSlot& slot = render.LightSlot(i);
        slot.dependentNext = 0;
        slot.dependentFree = -1;
        slot.isDependentsComplete = slot.dependents != nullptr;
        if (!slot.dependents) continue;
        std::fill_n(slot.dependents.get(), cells, EmptyHead);
        slot.dependentCapacity = static_cast<std::int32_t>(
            std::min<std::size_t>(cells + cells / 4, std::numeric_limits<std::int32_t>::max()));
    }
}

namespace {

// Every shadow light's whole map, over the sphere that the view sets or that is as wide, at the
// shadow centre's depth, as the field of view.
void RenderWholeLightMaps(QRender& render) {
    if (!render.isShadowRadiusReady) {
        const double halfWidth = render.renderWidth / 2.0;
        const double focal = render.focalScale * 1000.0 / render.viewDistance;
        render.shadowRadius =
            std::max(0.1, render.shadowCentre.z * render.shadowRadiusWeight * halfWidth /
                              std::sqrt(focal * focal + halfWidth * halfWidth));
    }
    RenderLightMaps(render);
}

}  // namespace

void RenderShadowStages(QRender& render) {
    if (!ShadowsActive(render)) return;
    RenderWholeLightMaps(render);
    const bool isRecording = render.options.perLightDependents;
    if (isRecording) ResetShadowDependents(render);
    render.areShadowListsOfBackups = false;
    ApplyShadowPass(render, render.changeRegion, 0, false, isRecording);
    render.areShadowListsOfWorking = isRecording;
}

void RenderEyeInsideShadowStages(QRender& render) {
    // The lists name the lit pixels of a picture; this one has none, and its cells hold
    // whatever the casting pass left when it stopped. They are left as they are, so backups
    // they described still have them.
    render.areShadowListsOfWorking = false;
    if (!ShadowsActive(render)) return;
    RenderWholeLightMaps(render);
}

namespace {

// The pixels the dependency lists name, gathered into a byte map of the current level and
// turned into a region at the end.
class DependentPixels {
public:
    explicit DependentPixels(QRender& r) : render(r), level(r.Level()) {
        const std::size_t pixels =
            static_cast<std::size_t>(level.width) * static_cast<std::size_t>(level.height);
        if (render.shadowPixelMarks.size() < pixels) {
            TranslateBadAlloc([&] { render.shadowPixelMarks.assign(pixels, 0); });
        }
        top = level.height;
    }

    // Every pixel counts from now on.
    void TakeWholeFrame() { isWholeFrame = true; }
    bool IsWholeFrame() const { return isWholeFrame; }

    void Mark(const RenderLightSlot& slot, std::size_t cell) {
        if (!isWholeFrame) {
            MarkDependents(slot, cell, render.shadowPixelMarks, level.width, level.height, top,
                           bottom);
        }
    }

    // target becomes the marked pixels (the whole level after TakeWholeFrame); the marks are
    // cleared for the next frame.
    void Collect(SpanRegion& target) {
        if (isWholeFrame) {
            RegionSetRect(target, 0, 0, level.width, level.height);
        } else if (top >= bottom) {
            RegionSetEmpty(target, 0, 0);
        } else {
            RegionSetEmpty(target, top, bottom);
        }
        const std::size_t width = static_cast<std::size_t>(level.width);
        for (std::int32_t y = top; y < bottom; ++y) {
            std::uint8_t* row =
                render.shadowPixelMarks.data() + static_cast<std::size_t>(y) * width;
            std::int32_t x = 0;
            while (x < level.width) {
                while (x < level.width && row[x] == 0) ++x;
                const std::int32_t start = x;
                while (x < level.width && row[x] != 0) row[x++] = 0;
                if (start < x && !isWholeFrame) RegionSetSpan(1, target, y, start, x);
            }
        }
    }

private:
    QRender& render;
    const RenderLevel& level;
    std::int32_t top = 0;
    std::int32_t bottom = 0;
    bool isWholeFrame = false;
};

// Two samples: the slopes of the tiles whose values read a cell of region (a tile's slope
// reaches one cell past it) are filled again, and the cells whose block reads those tiles
// marked flat again; with pixels, the pixels recorded at those cells are marked.
void RemarkTwoSampleMap(const QRender& render, const RenderLightSlot& slot, LightMapCell* map,
                        std::uint32_t* planes, const SpanRegion& region, DependentPixels* pixels) {
    const std::int32_t side = render.LightMapSide();
    const std::size_t stride = static_cast<std::size_t>(side);
    if (region.HasNoRows()) return;
    const RegionRect bounds = RegionGetBounds(region);
    if (bounds.x0 >= bounds.x1 || bounds.y0 >= bounds.y1) return;
    const auto tileStart = [](std::int32_t v) {
        return std::max(v - 1, 0) / LightTileSide * LightTileSide;
    };
    const auto tileEnd = [&](std::int32_t v) {
        return std::min((v + LightTileSide - 1) / LightTileSide * LightTileSide, side);
    };
    const RegionRect tiles{tileStart(bounds.x0), tileStart(bounds.y0), tileEnd(bounds.x1),
                           tileEnd(bounds.y1)};
    if (tiles.x0 >= tiles.x1 || tiles.y0 >= tiles.y1) return;
    FillTileSlopes(side, tiles, map, planes);
    const RegionRect cells{std::max(tiles.x0 - 1, 0), std::max(tiles.y0 - 1, 0), tiles.x1,
                           tiles.y1};
    for (std::int32_t y = cells.y0; y < cells.y1; ++y) {
        for (std::int32_t x = cells.x0; x < cells.x1; ++x) {
            const std::size_t at =
                static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x);
            map[at].id &= ~LightMapFlat;
            if (pixels != nullptr) pixels->Mark(slot, at);
        }
    }
    SpanRegion box;
    RegionSetRect(box, cells.x0, cells.y0, cells.x1, cells.y1);
    MarkFlatLightCellsByDepth(side, box, map, planes);
    ClearFlatAroundSmallParts(render, slot, map);
}

// Marks flat again, in map, the cells whose 2x2 block holds a cell of region (the region grown
// one cell left and up), and, with pixels, marks the pixels recorded at those cells.
void RemarkAroundRegion(const QRender& render, const RenderLightSlot& slot, LightMapCell* map,
                        std::uint32_t* planes, const SpanRegion& region, DependentPixels* pixels) {
    if (IsTwoSampleMap(render, slot) && planes != nullptr) {
        RemarkTwoSampleMap(render, slot, map, planes, region, pixels);
        return;
    }
    const std::int32_t side = render.LightMapSide();
    const std::size_t stride = static_cast<std::size_t>(side);
    for (std::int32_t y = std::max(region.Top(), 0); y < std::min(region.Bottom(), side); ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0] - 1, 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], side);
            for (std::int32_t yy = std::max(y - 1, 0); yy <= y; ++yy) {
                for (std::int32_t x = x0; x < x1; ++x) {
                    const std::size_t at =
                        static_cast<std::size_t>(yy) * stride + static_cast<std::size_t>(x);
                    LightMapCell& cell = map[at];
                    cell.id &= ~LightMapFlat;
                    if (x < side - 1 && yy < side - 1) {
                        const std::uint32_t id = cell.id & PixelIdMask;
                        if ((map[at + 1].id & PixelIdMask) == id &&
                            (map[at + stride].id & PixelIdMask) == id &&
                            (map[at + stride + 1].id & PixelIdMask) == id) {
                            cell.id |= LightMapFlat;
                        }
                    }
                    if (pixels != nullptr) pixels->Mark(slot, at);
                }
            }
        }
    }
    ClearFlatAroundSmallParts(render, slot, map);
}

// The parts chained at a cell, in chain order.
std::vector<std::int32_t> ChainAt(const SmallPartChains& chains, std::size_t cell) {
    std::vector<std::int32_t> parts;
    std::int32_t entry = cell < chains.heads.size() ? chains.heads[cell] : -1;
    while (entry >= 0 && static_cast<std::size_t>(entry) < chains.entries.size() &&
           parts.size() < chains.entries.size()) {
        parts.push_back(chains.entries[static_cast<std::size_t>(entry)].partPlusOne);
        entry = chains.entries[static_cast<std::size_t>(entry)].next;
    }
    return parts;
}

// Marks the thin parts in light's working map again, where they are now, and makes changed the
// cells whose chains changed.
void RemarkLightSmallParts(QRender& render, std::int32_t light, SpanRegion& changed) {
    RenderLightSlot& slot = render.LightSlot(light);
    RegionSetEmpty(changed, 0, 0);
    if (slot.smallParts.markedCells.empty() && !IsMarkingSmallPartsInLightMaps(render, slot)) {
        return;
    }
    TranslateBadAlloc([&] {
        const SmallPartChains before = slot.smallParts;
        ResetChains(slot.smallParts);
        if (IsMarkingSmallPartsInLightMaps(render, slot)) {
            MarkSmallPartsInLightMap(render, light, nullptr, false);
        }
        const SmallPartChains& after = slot.smallParts;
        const std::size_t side = static_cast<std::size_t>(render.LightMapSide());
        SpanRegion cell;
        for (const SmallPartChains* chains : {&before, &after}) {
            for (const std::int32_t marked : chains->markedCells) {
                const auto at = static_cast<std::size_t>(marked);
                if (ChainAt(before, at) == ChainAt(after, at)) continue;
                const auto x = static_cast<std::int32_t>(at % side);
                const auto y = static_cast<std::int32_t>(at / side);
                RegionSetRect(cell, x, y, x + 1, y + 1);
                RegionCombine(cell, changed, 1);
            }
        }
    });
}

}  // namespace

void UpdateLightMapsIncremental(QRender& render, const std::int32_t* drawn,
                                const std::int32_t* changed, SpanRegion& dependents) {
    const std::int32_t side = render.LightMapSide();
    const std::size_t stride = static_cast<std::size_t>(side);
    DependentPixels pixels(render);
    if (!render.areShadowListsOfBackups) pixels.TakeWholeFrame();
    render.areShadowListsOfWorking = false;
    SpanRegion& scratch = *render.shadowScratchRegion;
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        RenderLightSlot& slot = render.LightSlot(i);
        if (!slot.map || !slot.region || !slot.secondRegion) continue;
        if (!slot.dependents || !slot.isDependentsComplete) pixels.TakeWholeFrame();
        TransformPartsToLight(render, i, drawn);
        TransformPartsToLight(render, i, changed);
        SpanRegion& footprint = *slot.secondRegion;
        SpanRegion& region = *slot.region;
        RegionSetEmpty(footprint, 0, 0);
        if (slot.hasMapView) {
            AddLightFootprint(render, i, drawn, footprint, scratch);
            AddLightFootprint(render, i, changed, footprint, scratch);
        }
        RegionCombine(footprint, region, 1);
        render.CopyLightBuffersInRegion(i, region, 0);
        if (CastLightMapPass(render, i, region, drawn, false) == CastEyeInside) {
            // The light is shut inside a moving part: the whole map is dark until it leaves.
            std::memset(static_cast<void*>(slot.map.get()), 0,
                        stride * stride * sizeof(LightMapCell));
            ResetExtraIds(slot.extraIds);
            RegionSetRect(region, 0, 0, side, side);
            RegionSetRect(footprint, 0, 0, side, side);
        }
        RemarkAroundRegion(render, slot, slot.map.get(), slot.idPlane.get(), region, &pixels);
        // Where the thin parts' marks changed, the cells' flat marks and pixels change too.
        SpanRegion marksChanged;
        RemarkLightSmallParts(render, i, marksChanged);
        if (!marksChanged.HasNoRows()) {
            RemarkAroundRegion(render, slot, slot.map.get(), slot.idPlane.get(), marksChanged,
                               &pixels);
        }
        // Next frame restores where the parts are now.
        RegionCopy(region, footprint);
    }
    pixels.Collect(dependents);
}

namespace {

// Makes light's backup A its working map (with their slope planes) for the life of the object,
// also when an exception passes.
class BackupAsWorkingMap {
public:
    explicit BackupAsWorkingMap(RenderLightSlot& s) : slot(s) { Swap(); }
    ~BackupAsWorkingMap() { Swap(); }
    BackupAsWorkingMap(const BackupAsWorkingMap&) = delete;
    BackupAsWorkingMap& operator=(const BackupAsWorkingMap&) = delete;

private:
    void Swap() {
        std::swap(slot.map, slot.mapBackupA);
        std::swap(slot.idPlane, slot.idPlaneBackupA);
        std::swap(slot.extraIds, slot.extraIdsBackupA);
        std::swap(slot.smallParts, slot.smallPartsBackupA);
    }
    RenderLightSlot& slot;
};

// Marks again, in the chains of the map that stands as light's working one, the thin parts of
// the background: every part but the moving ones.
void RemarkBackgroundSmallParts(QRender& render, std::int32_t light, const std::int32_t* moving) {
    RenderLightSlot& slot = render.LightSlot(light);
    if (!IsMarkingSmallPartsInLightMaps(render, slot)) return;
    TranslateBadAlloc([&] { ResetChains(slot.smallParts); });
    MarkSmallPartsInLightMap(render, light, moving, true);
}

}  // namespace

void UpdateBackgroundLightMaps(QRender& render, const std::int32_t* moving,
                               const std::int32_t* changed, SpanRegion& dependents,
                               bool withWorkingMap) {
    const std::int32_t side = render.LightMapSide();
    const std::size_t stride = static_cast<std::size_t>(side);
    DependentPixels pixels(render);
    if (!render.areShadowListsOfBackups) pixels.TakeWholeFrame();
    SpanRegion& scratch = *render.shadowScratchRegion;
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        RenderLightSlot& slot = render.LightSlot(i);
        if (!slot.map || !slot.mapBackupA || !slot.secondRegion) continue;
        if (!slot.dependents || !slot.isDependentsComplete) pixels.TakeWholeFrame();
        TransformPartsToLight(render, i, changed);
        SpanRegion& footprint = *slot.secondRegion;
        RegionSetEmpty(footprint, 0, 0);
        if (slot.hasMapView) AddLightFootprint(render, i, changed, footprint, scratch);
        std::optional<BackupAsWorkingMap> backupOnly;
        if (!withWorkingMap) backupOnly.emplace(slot);
        // The background's cells there, cast in the working map and kept in backup A (or
        // cast in backup A alone); the moving parts come back into the working map with the
        // next tick, which casts them over their whole footprint.
        if (CastLightMapPass(render, i, footprint, moving, true) == CastEyeInside) {
            std::memset(static_cast<void*>(slot.map.get()), 0,
                        stride * stride * sizeof(LightMapCell));
            ResetExtraIds(slot.extraIds);
            RegionSetRect(footprint, 0, 0, side, side);
        }
        if (!withWorkingMap) {
            RemarkBackgroundSmallParts(render, i, moving);
            RemarkAroundRegion(render, slot, slot.map.get(), slot.idPlane.get(), footprint,
                               &pixels);
            continue;
        }
        render.CopyLightBuffersInRegion(i, footprint, 1);
        RemarkAroundRegion(render, slot, slot.map.get(), slot.idPlane.get(), footprint, nullptr);
        // Backup A with the background's own thin parts, which its tests probe.
        BackupAsWorkingMap backup(slot);
        RemarkBackgroundSmallParts(render, i, moving);
        RemarkAroundRegion(render, slot, slot.map.get(), slot.idPlane.get(), footprint, &pixels);
    }
    pixels.Collect(dependents);
}

void CollectShadowChanges(QRender& render, const SpanRegion& region, SpanRegion& changed,
                          std::int32_t current, std::int32_t compare) {
    const RenderLevel& level = render.Level();
    const SampleCell* now = render.SampleBuffer(current);
    const SampleCell* was = render.SampleBuffer(compare);
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), level.height);
    if (now == nullptr || was == nullptr || region.HasNoRows() || top >= bottom) {
        RegionSetEmpty(changed, 0, 0);
        return;
    }
    RegionSetEmpty(changed, top, bottom);
    const std::size_t stride = static_cast<std::size_t>(level.cellStride);
    for (std::int32_t y = top; y < bottom; ++y) {
        const std::size_t rowStart = static_cast<std::size_t>(y + 1) * stride + 1;
        const SampleCell* a = now + rowStart;
        const SampleCell* b = was + rowStart;
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            std::int32_t x = std::max<std::int32_t>(t[0], 0);
            const std::int32_t end = std::min<std::int32_t>(t[1], level.width);
            while (x < end) {
                while (x < end && ((a[x].lightMask ^ b[x].lightMask) & 0xFFFF0000u) == 0) ++x;
                const std::int32_t start = x;
                while (x < end && ((a[x].lightMask ^ b[x].lightMask) & 0xFFFF0000u) != 0) ++x;
                if (start < x) RegionSetSpan(1, changed, y, start, x);
            }
        }
    }
}

namespace {

// Calls visit(cell) for every map cell of region, held to the side x side map.
template <typename Visit>
void ForEachMapCell(const SpanRegion& region, std::int32_t side, Visit visit) {
    if (region.HasNoRows()) return;
    const std::size_t stride = static_cast<std::size_t>(side);
    for (std::int32_t y = std::max(region.Top(), 0); y < std::min(region.Bottom(), side); ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x1 = std::min<std::int32_t>(t[1], side);
            for (std::int32_t x = std::max<std::int32_t>(t[0], 0); x < x1; ++x) {
                visit(static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x));
            }
        }
    }
}

// Adds the marked cells of marks (side x side bytes) to target.
void AddMarkedCells(const std::uint8_t* marks, std::int32_t side, SpanRegion& target,
                    SpanRegion& scratch) {
    const std::size_t stride = static_cast<std::size_t>(side);
    std::int32_t top = side, bottom = 0;
    for (std::int32_t y = 0; y < side; ++y) {
        const std::uint8_t* row = marks + static_cast<std::size_t>(y) * stride;
        if (std::find(row, row + side, std::uint8_t{1}) == row + side) continue;
        top = std::min(top, y);
        bottom = y + 1;
    }
    if (top >= bottom) return;
    RegionSetEmpty(scratch, top, bottom);
    for (std::int32_t y = top; y < bottom; ++y) {
        const std::uint8_t* row = marks + static_cast<std::size_t>(y) * stride;
        std::int32_t x = 0;
        while (x < side) {
            while (x < side && row[x] == 0) ++x;
            const std::int32_t start = x;
            while (x < side && row[x] != 0) ++x;
            if (start < x) RegionSetSpan(1, scratch, y, start, x);
        }
    }
    RegionCombine(scratch, target, 1);
}

}  // namespace

void CollectChangedLightCells(QRender& render, const SpanRegion& footprint,
                              std::int32_t compareBuffer, std::int32_t currentBuffer) {
    const RenderLevel& level = render.Level();
    const SampleCell* now = render.SampleBuffer(currentBuffer);
    const SampleCell* was = render.SampleBuffer(compareBuffer);
    const std::int32_t lights = render.ShadowLightCount();
    if (now == nullptr || was == nullptr || footprint.HasNoRows() || lights <= 0) return;
    const std::int32_t side = render.LightMapSide();
    const std::size_t mapCells = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    const std::size_t stride = static_cast<std::size_t>(level.cellStride);
    const double focal = level.focal;
    TranslateBadAlloc([&] {
        std::vector<std::uint8_t> marks(mapCells * static_cast<std::size_t>(lights), 0);
        const auto markAround = [&](std::int32_t light, const SampleCell& cell, std::int32_t x,
                                    std::int32_t y) {
            if ((cell.pixel & PixelIdMask) == 0 || cell.depth <= 0) return;
            const double z = focal * render.depthScale / cell.depth;
            const Vec3& l = render.LightSlot(light).position;
            const Vec3 d{(x - level.centreX + 0.5) / focal * z - l.x,
                         (y - level.centreY + 0.5) / focal * z - l.y, z - l.z};
            double u = 0.0, v = 0.0, depth = 0.0;
            const std::int32_t at = ShadowTestCell(render, light, d, u, v, depth);
            if (at < 0) return;
            // The stepped pass may read a neighbour of the cell found in doubles.
            const std::int32_t column = at % side, row = at / side;
            std::uint8_t* lightMarks = marks.data() + mapCells * static_cast<std::size_t>(light);
            for (std::int32_t r = std::max(row - 1, 0); r <= std::min(row + 1, side - 1); ++r) {
                for (std::int32_t c = std::max(column - 1, 0); c <= std::min(column + 1, side - 1);
                     ++c) {
                    lightMarks[static_cast<std::size_t>(r) * static_cast<std::size_t>(side) +
                               static_cast<std::size_t>(c)] = 1;
                }
            }
        };
        const std::int32_t top = std::max(footprint.Top(), 0);
        const std::int32_t bottom = std::min(footprint.Bottom(), level.height);
        for (std::int32_t y = top; y < bottom; ++y) {
            const std::size_t rowStart = static_cast<std::size_t>(y + 1) * stride + 1;
            for (const std::int16_t* t = footprint.Row(y); t[0] != SpanRowEnd; t += 2) {
                const std::int32_t x1 = std::min<std::int32_t>(t[1], level.width);
                for (std::int32_t x = std::max<std::int32_t>(t[0], 0); x < x1; ++x) {
                    const SampleCell& a = now[rowStart + static_cast<std::size_t>(x)];
                    const SampleCell& b = was[rowStart + static_cast<std::size_t>(x)];
                    if (((a.pixel ^ b.pixel) & PixelIdMask) == 0 && a.depth == b.depth) continue;
                    for (std::int32_t i = 0; i < lights; ++i) {
                        markAround(i, a, x, y);
                        markAround(i, b, x, y);
                    }
                }
            }
        }
        SpanRegion scratch;
        for (std::int32_t i = 0; i < lights; ++i) {
            RenderLightSlot& slot = render.LightSlot(i);
            if (!slot.secondRegion) continue;
            AddMarkedCells(marks.data() + mapCells * static_cast<std::size_t>(i), side,
                           *slot.secondRegion, scratch);
        }
    });
}

void ReleaseShadowDependents(QRender& render, bool release) {
    const std::int32_t side = render.LightMapSide();
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        RenderLightSlot& slot = render.LightSlot(i);
        std::int32_t* heads = slot.dependents.get();
        std::int32_t* pool = slot.dependentPool.get();
        if (heads == nullptr || pool == nullptr || !slot.secondRegion) continue;
        ForEachMapCell(*slot.secondRegion, side, [&](std::size_t cell) {
            if (!release) {
                heads[cell] &= ~ShadowCellReleased;
                return;
            }
            const std::int32_t first = HeadEntry(heads[cell]);
            heads[cell] = EmptyHead | ShadowCellReleased;
            if (first < 0 || first >= slot.dependentNext) return;
            // The list goes onto the free list whole.
            std::int32_t last = first;
            for (std::int32_t k = 0; k < slot.dependentNext; ++k) {
                const std::int32_t next = pool[3 * static_cast<std::size_t>(last) + 2];
                if (next < 0 || next >= slot.dependentNext) break;
                last = next;
            }
            pool[3 * static_cast<std::size_t>(last) + 2] = slot.dependentFree;
            slot.dependentFree = first;
        });
    }
}

void CollectBlockCells(const SpanRegion& region, std::int32_t side, SpanRegion& cells) {
    SpanRegion moved;
    RegionCopy(cells, region);
    for (const auto& [dy, dx] : {std::pair{0, -1}, std::pair{-1, 0}, std::pair{-1, -1}}) {
        RegionCopy(moved, region);
        RegionOffset(moved, dy, dx);
        RegionCombine(moved, cells, 1);
    }
    RegionClip(cells, 0, 0, side, side);
}

bool PrepareShadowRefresh(QRender& render, const SpanRegion& footprint, SpanRegion& dependents,
                          bool fromSecondRegion, std::int32_t currentBuffer,
                          std::int32_t compareBuffer) {
    if (!render.options.perLightDependents || !render.areShadowListsOfBackups) return false;
    const std::int32_t side = render.LightMapSide();
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        const RenderLightSlot& slot = render.LightSlot(i);
        if (!slot.dependents || !slot.dependentPool || !slot.isDependentsComplete || !slot.region ||
            !slot.secondRegion) {
            return false;
        }
    }
    // The cells whose blocks hold a cell of the light's region (or of the cells cast again,
    // its second region), and those the pixels whose surface changed read now and read before.
    SpanRegion cast;
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        RenderLightSlot& slot = render.LightSlot(i);
        RegionCopy(cast, fromSecondRegion ? *slot.secondRegion : *slot.region);
        CollectBlockCells(cast, side, *slot.secondRegion);
    }
    CollectChangedLightCells(render, footprint, compareBuffer, currentBuffer);
    // Every pixel recorded at those cells is tested again, and recorded again where it reads.
    DependentPixels pixels(render);
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        const RenderLightSlot& slot = render.LightSlot(i);
        ForEachMapCell(*slot.secondRegion, side,
                       [&](std::size_t cell) { pixels.Mark(slot, cell); });
    }
    pixels.Collect(dependents);
    ReleaseShadowDependents(render, true);
    return true;
}
