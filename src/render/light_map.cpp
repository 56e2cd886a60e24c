#include "render/light_map.h"

#include "core/check.h"
#include "render/cast_frame_pass.h"
#include "render/part_order.h"
#include "render/ray_probe.h"
#include "render/render_interrupt.h"
#include "render/small_parts.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr std::int32_t MaxCrossings = 2 * RenderPartMaxSurfaces;

// The rows of lightFromView for each axis code: the face looks along +z of the light's space.
constexpr double FaceRows[6][9] = {
    {1, 0, 0, 0, 1, 0, 0, 0, 1},    // 0: z-
    {-1, 0, 0, 0, 1, 0, 0, 0, -1},  // 1: z+
    {0, 0, -1, 0, 1, 0, 1, 0, 0},   // 2: x-
    {0, 0, 1, 0, 1, 0, -1, 0, 0},   // 3: x+
    {1, 0, 0, 0, 0, -1, 0, 1, 0},   // 4: y-
    {1, 0, 0, 0, 0, 1, 0, -1, 0},   // 5: y+
};

std::int32_t AxisCodeOf(const Vec3& d) {
    const double x2 = d.x * d.x, y2 = d.y * d.y, z2 = d.z * d.z;
    if (x2 >= y2 && x2 >= z2) return d.x < 0.0 ? 2 : 3;
    if (y2 >= x2 && y2 >= z2) return d.y < 0.0 ? 4 : 5;
    return d.z < 0.0 ? 0 : 1;
}

Vec3 ApplyRows(const std::array<double, 9>& r, const Vec3& p) {
    return Vec3{r[0] * p.x + r[1] * p.y + r[2] * p.z, r[3] * p.x + r[4] * p.y + r[5] * p.z,
                r[6] * p.x + r[7] * p.y + r[8] * p.z};
}

// The light's space seen from view space: p = position + lightFromView^T p', as a w-first
// affine matrix over (1, p').
Matrix4W ViewFromLight(const RenderLightSlot& slot) {
    Matrix4W a;
    a.m[0] = 1.0;
    const double l[3] = {slot.position.x, slot.position.y, slot.position.z};
    for (std::size_t i = 0; i < 3; ++i) {
        a.m[4 * (i + 1)] = l[i];
        for (std::size_t k = 0; k < 3; ++k)
            a.m[4 * (i + 1) + k + 1] = slot.lightFromView[3 * k + i];
    }
    return a;
}

void TransformPart(const RenderParts& parts, RenderParts& lightParts, std::int32_t index,
                   const Matrix4W& viewFromLight) {
    const RenderPart& part = parts.Part(index);
    RenderPart& lightPart = lightParts.Part(index);
    lightPart.visible = part.visible;
    const auto surfaces = parts.Surfaces(index);
    std::array<Matrix4W, RenderPartMaxSurfaces> forms;
    for (std::size_t s = 0; s < surfaces.size(); ++s) {
        Matrix4W form = surfaces[s];
        // The plane marker is no quadratic term; the light's form is conditioned again.
        if (IsPlaneForm(form)) form.m[15] = 0.0;
        forms[s] = QuadricTransform(form, viewFromLight);
    }
    lightParts.SetViewForms(index, std::span<const Matrix4W>(forms.data(), surfaces.size()),
                            QuadricTransform(part.bound, viewFromLight));
}

std::uint16_t GroupOf(const std::uint16_t* groups, std::size_t count, std::uint32_t id) {
    const std::uint32_t index = id & PixelIdMask;
    return groups != nullptr && index < count ? groups[index] : 0;
}

// True when the 2x2 block at cell at shows one surface in the first sample plane.
bool IsOneIdBlock(const LightMapCell* map, std::size_t at, std::size_t stride) {
    const std::uint32_t id = map[at].id & PixelIdMask;
    return (map[at + 1].id & PixelIdMask) == id && (map[at + stride].id & PixelIdMask) == id &&
           (map[at + stride + 1].id & PixelIdMask) == id;
}

// Calls visit(y, x0, x1) for every run of region inside the rectangle.
template <typename Visit>
void ForEachRun(const SpanRegion& region, std::int32_t x0Limit, std::int32_t y0Limit,
                std::int32_t x1Limit, std::int32_t y1Limit, Visit visit) {
    if (region.HasNoRows()) return;
    const std::int32_t top = std::max(region.Top(), y0Limit);
    const std::int32_t bottom = std::min(region.Bottom(), y1Limit);
    for (std::int32_t y = top; y < bottom; ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], x0Limit);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], x1Limit);
            if (x0 < x1) visit(y, x0, x1);
        }
    }
}

// The depth word of light-space depth t, held to 31 bits.
std::int32_t MapDepthWord(double scale, double t) {
    const double w = scale / t;
    return w >= 2147483647.0 ? INT32_MAX : static_cast<std::int32_t>(w);
}

// Halvings of a light's depth scale one cast may ask for; a hit nearer still is held to 31
// bits (a light that close to a surface sees nothing else there anyway).
constexpr std::int32_t LightMapMaxReruns = 32;

// Halves the light's depth scale and every depth word of its maps, working and backups.
void HalveLightDepthScale(QRender& render, RenderLightSlot& slot) {
    slot.mapDepthScale *= 0.5;
    const std::size_t cells = static_cast<std::size_t>(render.LightMapSide()) *
                              static_cast<std::size_t>(render.LightMapSide()) *
                              static_cast<std::size_t>(render.SamplesPerPixel());
    for (LightMapCell* map : {slot.map.get(), slot.mapBackupA.get(), slot.mapBackupB.get()}) {
        if (map == nullptr) continue;
        for (std::size_t i = 0; i < cells; ++i) map[i].depth >>= 1;
    }
}

}  // namespace

bool LightFrustumSlopes(double a, double b, double r, double& upper, double& lower) {
    const double k = a * a + b * b - r * r;
    if (k > 0.0) {
        const double s = -b / a;
        const double t = r / std::sqrt(k);
        if (std::fabs(s) + t < (1.0 - std::fabs(s) * t) * 3.73) {
            upper = (t + s) / (1.0 - s * t);
            lower = (s - t) / (1.0 + s * t);
            return true;
        }
    }
    upper = (r - b) / a;
    lower = -(b + r) / a;
    return false;
}

void SetupLightView(QRender& render, std::int32_t light) {
    RenderLightSlot& slot = render.LightSlot(light);
    const Vec3& l = slot.position;
    const Vec3& c = render.shadowCentre;
    const Vec3 d{l.x - c.x, l.y - c.y, l.z - c.z};
    slot.axisCode = AxisCodeOf(d);
    std::copy(std::begin(FaceRows[slot.axisCode]), std::end(FaceRows[slot.axisCode]),
              slot.lightFromView.begin());
    // The centre in the light's space lies on +z at a = |d| along the depth axis.
    const Vec3 centre = ApplyRows(slot.lightFromView, Vec3{-d.x, -d.y, -d.z});
    const double r = render.shadowRadius;
    double upperU = 0.0, lowerU = 0.0, upperV = 0.0, lowerV = 0.0;
    LightFrustumSlopes(centre.z, -centre.y, r, upperV, lowerV);
    LightFrustumSlopes(centre.z, -centre.x, r, upperU, lowerU);
    const double last = render.LightMapSide() - 1;
    const double range = std::max(upperV - lowerV, upperU - lowerU);
    slot.mapScale = last / range;
    slot.mapU = last / 2.0 - slot.mapScale * (lowerU + upperU) / 2.0;
    slot.mapV = last / 2.0 - slot.mapScale * (lowerV + upperV) / 2.0;
    slot.hasMapView = std::isfinite(slot.mapScale) && slot.mapScale > 0.0 &&
                      std::isfinite(slot.mapU) && std::isfinite(slot.mapV);
    // Depth words reach 2^30 at the sphere's near side; a nearer hit that would pass 31 bits
    // halves the scale (CastLightMapPass).
    const double distance = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    const double nearest = distance > 2.0 * r ? distance - r : std::max(r, 1e-9) * 1e-3;
    slot.mapDepthScale = std::ldexp(nearest, 30);

    RenderParts& lightParts = slot.lightParts;
    const RenderParts& parts = render.parts;
    bool isSameLayout = lightParts.Count() == parts.Count();
    for (std::int32_t i = 0; isSameLayout && i < parts.Count(); ++i) {
        isSameLayout = lightParts.Part(i).surfaceRoom == parts.Part(i).surfaceRoom;
    }
    if (!isSameLayout) {
        lightParts.Clear();
        for (std::int32_t i = 0; i < parts.Count(); ++i)
            lightParts.AddPart(parts.Part(i).surfaceRoom);
    }
    TransformPartsToLight(render, light, nullptr);
}

void TransformPartsToLight(QRender& render, std::int32_t light, const std::int32_t* partList) {
    RenderLightSlot& slot = render.LightSlot(light);
    const Matrix4W viewFromLight = ViewFromLight(slot);
    const RenderParts& parts = render.parts;
    ORBELLE_CHECK(slot.lightParts.Count() == parts.Count());
    if (partList == nullptr) {
        for (std::int32_t i = 0; i < parts.Count(); ++i) {
            TransformPart(parts, slot.lightParts, i, viewFromLight);
        }
        return;
    }
    for (const std::int32_t i : ListEntries(partList)) {
        if (i >= 0 && i < parts.Count()) TransformPart(parts, slot.lightParts, i, viewFromLight);
    }
}

void LightProbeRay(std::span<const Matrix4W> surfaces, std::int32_t partIndex, double u, double v,
                   LightProbeHit& nearest, const std::uint16_t* groups, std::size_t groupCount) {
    struct Crossing {
        double t;
        std::int32_t surface;
    };
    Crossing crossings[MaxCrossings];
    std::int32_t count = 0;
    std::uint32_t outside = 0;
    const auto add = [&](double t, std::int32_t s) {
        if (!(t > 0.0)) return;
        std::int32_t j = count++;
        while (j > 0 && crossings[j - 1].t > t) {
            crossings[j] = crossings[j - 1];
            --j;
        }
        crossings[j] = Crossing{t, s};
    };
    for (std::int32_t s = 0; s < static_cast<std::int32_t>(surfaces.size()); ++s) {
        const auto& e = surfaces[static_cast<std::size_t>(s)].m;
        if (e[0] >= 0.0) outside |= 1u << s;
        // Along p = t (u, v, 1) the form is a t^2 + 2 b t + c.
        const double b = e[1] * u + e[2] * v + e[3];
        const double c = e[0];
        if (IsPlaneForm(surfaces[static_cast<std::size_t>(s)])) {
            if (b != 0.0) add(-0.5 * c / b, s);
            continue;
        }
        const double a = e[5] * u * u + 2.0 * e[6] * u * v + 2.0 * e[7] * u + e[10] * v * v +
                         2.0 * e[11] * v + e[15];
        if (a == 0.0) {
            if (b != 0.0) add(-0.5 * c / b, s);
            continue;
        }
        const double disc = b * b - a * c;
        if (!(disc >= 0.0)) continue;
        const double root = std::sqrt(disc);
        const double q = -(b + (b >= 0.0 ? root : -root));
        if (q == 0.0) continue;
        add(q / a, s);
        add(c / q, s);
    }
    for (std::int32_t i = 0; i < count; ++i) {
        outside ^= 1u << crossings[i].surface;
        if (outside != 0) continue;
        const std::uint32_t id = PixelIdOf(partIndex, crossings[i].surface);
        const double t = crossings[i].t;
        if (nearest.id == 0) {
            nearest = LightProbeHit{t, id};
        } else {
            const std::uint16_t group = GroupOf(groups, groupCount, id);
            if (group != 0 && GroupOf(groups, groupCount, nearest.id) == group) {
                if (id < nearest.id) nearest = LightProbeHit{t, id};
            } else if (t < nearest.depth) {
                nearest = LightProbeHit{t, id};
            }
        }
        return;
    }
}

namespace {

// True when a hit offered to a cell beats what the cell holds: strictly nearer, or, between
// coincident surfaces of one surface group, of a lower id. An empty cell takes any hit.
bool HitWins(const QRender& render, const LightMapCell& offered, const LightMapCell& cell) {
    const std::uint32_t stored = cell.id & PixelIdMask;
    if (stored == 0) return true;
    const std::uint16_t group = GroupOf(render.slotTable, render.slotTableEntries, offered.id);
    if (group != 0 && GroupOf(render.slotTable, render.slotTableEntries, stored) == group) {
        return offered.id < stored;
    }
    return cell.depth < offered.depth;
}

// One cast of CastLightMapPass; with isHeld a hit too near for the depth scale is held to 31
// bits, without it ends the cast with CastDepthOverflow.
std::int32_t CastLightMapOnce(QRender& render, std::int32_t light, const SpanRegion& region,
                              const std::int32_t* partList, bool complement, bool isHeld) {
    RenderLightSlot& slot = render.LightSlot(light);
    LightMapCell* map = slot.map.get();
    ORBELLE_CHECK(map != nullptr);
    const std::int32_t side = render.LightMapSide();
    const std::size_t stride = static_cast<std::size_t>(side);
    const bool isEveryPart = partList == nullptr || complement;
    // With two samples the second nearest hit of a cell lies one map further on.
    const bool isTwoSample = IsTwoSampleMap(render, slot);
    const std::size_t planeCells = stride * stride;
    LightMapCell* second = isTwoSample ? map + planeCells : nullptr;
    if (isEveryPart) {
        ForEachRun(region, 0, 0, side, side, [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
            const std::size_t at =
                static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x0);
            const std::size_t count = static_cast<std::size_t>(x1 - x0);
            std::memset(static_cast<void*>(map + at), 0, count * sizeof(LightMapCell));
            if (!isTwoSample) return;
            std::memset(static_cast<void*>(second + at), 0, count * sizeof(LightMapCell));
            std::fill_n(slot.idPlane.get() + at, count, 0u);
            std::fill_n(slot.idPlane.get() + planeCells + at, count, 0u);
            if (slot.extraIds.heads.empty()) return;
            for (std::size_t c = at; c < at + count; ++c) ClearExtraIds(slot.extraIds, c);
        });
    }
    if (!slot.hasMapView || region.HasNoRows()) return CastDone;
    const RegionRect bounds = RegionGetBounds(region);
    const std::int32_t clipX0 = std::max(bounds.x0, 0), clipX1 = std::min(bounds.x1, side);
    const std::int32_t clipY0 = std::max(bounds.y0, 0), clipY1 = std::min(bounds.y1, side);
    if (clipX0 >= clipX1 || clipY0 >= clipY1) return CastDone;

    RenderParts& parts = slot.lightParts;
    const auto listed = ListEntries(partList);
    if (complement) {
        for (std::int32_t i = 0; i < parts.Count(); ++i) parts.Part(i).mark = 0;
        for (const std::int32_t i : listed) {
            if (i >= 0 && i < parts.Count()) parts.Part(i).mark = 1;
        }
    }
    const std::int32_t selectedCount =
        isEveryPart ? parts.Count() : static_cast<std::int32_t>(listed.size());
    const double s = slot.mapScale;
    for (std::int32_t n = 0; n < selectedCount; ++n) {
        const std::int32_t index = isEveryPart ? n : listed[static_cast<std::size_t>(n)];
        if (index < 0 || index >= parts.Count()) continue;
        const RenderPart& part = parts.Part(index);
        if (complement && part.mark != 0) continue;
        if (part.visible == 0 || part.surfaceCount == 0) continue;
        const auto surfaces = parts.Surfaces(index);
        bool isLightInside = true;
        for (const Matrix4W& form : surfaces) isLightInside = isLightInside && form.m[0] < 0.0;
        if (isLightInside) return CastEyeInside;

        const SilhouetteConic conic = SilhouetteOf(part.bound, s);
        const SilhouetteKind kind = SilhouetteKindOf(conic, part.bound);
        if (kind == SilhouetteKind::Hidden) continue;
        std::int32_t rowLow = clipY0, rowHigh = clipY1;
        std::int32_t columnLow = clipX0, columnHigh = clipX1;
        if (kind == SilhouetteKind::Ellipse) {
            ClipSpanToConic(rowLow, rowHigh, conic, true, slot.mapV);
            ClipSpanToConic(columnLow, columnHigh, conic, false, slot.mapU);
            if (rowLow >= rowHigh || columnLow >= columnHigh) continue;
        }
        for (std::int32_t y = rowLow; y < rowHigh; ++y) {
            const double rowY = y - slot.mapV + 0.5;
            std::int32_t spanLow = columnLow, spanHigh = columnHigh;
            if (kind == SilhouetteKind::Ellipse) {
                ClipRowToConic(spanLow, spanHigh, conic, rowY, slot.mapU);
            }
            for (const std::int16_t* t = region.Row(y); spanLow < spanHigh && t[0] != SpanRowEnd;
                 t += 2) {
                const std::int32_t x0 = std::max<std::int32_t>(t[0], spanLow);
                const std::int32_t x1 = std::min<std::int32_t>(t[1], spanHigh);
                for (std::int32_t x = x0; x < x1; ++x) {
                    LightProbeHit hit;
                    LightProbeRay(surfaces, index, (x - slot.mapU + 0.5) / s, rowY / s, hit,
                                  render.slotTable, render.slotTableEntries);
                    if (hit.id == 0) continue;
                    LightMapCell& cell =
                        map[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)];
                    if (!isHeld && slot.mapDepthScale / hit.depth >= 2147483647.0) {
                        return CastDepthOverflow;
                    }
                    const std::int32_t word = MapDepthWord(slot.mapDepthScale, hit.depth);
                    const LightMapCell offered{hit.id, word};
                    if (!isTwoSample) {
                        if (HitWins(render, offered, cell)) cell = offered;
                        continue;
                    }
                    // The two nearest hits: one that beats the second sample is compared
                    // with the first and takes its place or the second's. The id left
                    // behind them joins the cell's further ids.
                    const auto at = static_cast<std::size_t>(&cell - map);
                    LightMapCell& behind = second[at];
                    std::uint32_t further = offered.id;
                    if (HitWins(render, offered, behind)) {
                        further = behind.id & PixelIdMask;
                        const std::uint32_t more = cell.id & LightMapMoreIds;
                        if (HitWins(render, offered, cell)) {
                            behind = LightMapCell{cell.id & PixelIdMask, cell.depth};
                            cell = LightMapCell{offered.id | more, offered.depth};
                        } else {
                            behind = offered;
                        }
                    }
                    if (further != 0 && AddExtraId(slot.extraIds, planeCells, at, further)) {
                        cell.id |= LightMapMoreIds;
                    }
                }
            }
            RenderPollAfterRow(render.poll, y);
        }
    }
    return CastDone;
}

}  // namespace

std::int32_t CastLightMapPass(QRender& render, std::int32_t light, const SpanRegion& region,
                              const std::int32_t* partList, bool complement) {
    for (std::int32_t rerun = 0;; ++rerun) {
        const std::int32_t result = CastLightMapOnce(render, light, region, partList, complement,
                                                     rerun == LightMapMaxReruns);
        if (result != CastDepthOverflow) return result;
        HalveLightDepthScale(render, render.LightSlot(light));
    }
}

void ClearFlatMarks(std::int32_t side, const SpanRegion& region, LightMapCell* map) {
    const std::size_t stride = static_cast<std::size_t>(side);
    ForEachRun(region, 0, 0, side, side, [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
        LightMapCell* row = map + static_cast<std::size_t>(y) * stride;
        for (std::int32_t x = x0; x < x1; ++x) row[x].id &= ~LightMapFlat;
    });
}

void MarkFlatLightCells(std::int32_t side, const SpanRegion& region, LightMapCell* map) {
    const std::size_t stride = static_cast<std::size_t>(side);
    ForEachRun(region, 0, 0, side - 1, side - 1,
               [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
                   const std::size_t row = static_cast<std::size_t>(y) * stride;
                   for (std::int32_t x = x0; x < x1; ++x) {
                       const std::size_t at = row + static_cast<std::size_t>(x);
                       if (IsOneIdBlock(map, at, stride)) map[at].id |= LightMapFlat;
                   }
               });
}

bool IsTwoSampleMap(const QRender& render, const RenderLightSlot& slot) {
    return render.SamplesPerPixel() >= 2 && slot.map != nullptr && slot.idPlane != nullptr;
}

std::uint32_t TileSlope(const LightMapCell* plane, std::int32_t side, std::int32_t tileX,
                        std::int32_t tileY) {
    const std::size_t stride = static_cast<std::size_t>(side);
    const std::int32_t x0 = tileX * LightTileSide, y0 = tileY * LightTileSide;
    const std::int32_t x1 = std::min(x0 + LightTileSide, side);
    const std::int32_t y1 = std::min(y0 + LightTileSide, side);
    std::int64_t slope = 0;
    const auto step = [&](const LightMapCell& a, const LightMapCell& b) {
        const std::uint32_t id = a.id & PixelIdMask;
        if (id == 0 || (b.id & PixelIdMask) != id) return;
        slope = std::max(slope, std::abs(static_cast<std::int64_t>(a.depth) - b.depth));
    };
    for (std::int32_t y = y0; y < y1; ++y) {
        const LightMapCell* row = plane + static_cast<std::size_t>(y) * stride;
        for (std::int32_t x = x0; x < x1; ++x) {
            if (x + 1 < side) step(row[x], row[x + 1]);
            if (y + 1 < side) step(row[x], row[x + static_cast<std::int32_t>(stride)]);
        }
    }
    return static_cast<std::uint32_t>(std::min<std::int64_t>(slope, 0xFFFFFFFFll));
}

void FillTileSlopes(std::int32_t side, const RegionRect& cells, const LightMapCell* map,
                    std::uint32_t* planes) {
    const std::size_t stride = static_cast<std::size_t>(side);
    const std::size_t planeCells = stride * stride;
    const std::int32_t tileX0 = std::max(cells.x0, 0) / LightTileSide;
    const std::int32_t tileY0 = std::max(cells.y0, 0) / LightTileSide;
    const std::int32_t tileX1 = (std::min(cells.x1, side) + LightTileSide - 1) / LightTileSide;
    const std::int32_t tileY1 = (std::min(cells.y1, side) + LightTileSide - 1) / LightTileSide;
    for (std::size_t sample = 0; sample < 2; ++sample) {
        const LightMapCell* plane = map + sample * planeCells;
        std::uint32_t* values = planes + sample * planeCells;
        for (std::int32_t ty = tileY0; ty < tileY1; ++ty) {
            for (std::int32_t tx = tileX0; tx < tileX1; ++tx) {
                const std::uint32_t slope = TileSlope(plane, side, tx, ty);
                // Two slopes must add up within 31 bits.
                const std::uint32_t value = slope >= 0x40000000u ? LightSlopeUnusable : slope + 1;
                const std::int32_t x0 = tx * LightTileSide;
                const std::int32_t x1 = std::min(x0 + LightTileSide, side);
                const std::int32_t y1 = std::min((ty + 1) * LightTileSide, side);
                for (std::int32_t y = ty * LightTileSide; y < y1; ++y) {
                    for (std::int32_t x = x0; x < x1; ++x) {
                        const std::size_t at =
                            static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x);
                        values[at] = (plane[at].id & PixelIdMask) == 0 ? 0 : value;
                    }
                }
            }
        }
    }
}

void MarkFlatLightCellsByDepth(std::int32_t side, const SpanRegion& region, LightMapCell* map,
                               const std::uint32_t* planes) {
    const std::size_t stride = static_cast<std::size_t>(side);
    const std::size_t planeCells = stride * stride;
    const LightMapCell* second = map + planeCells;
    ForEachRun(
        region, 0, 0, side - 1, side - 1, [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
            for (std::int32_t x = x0; x < x1; ++x) {
                const std::size_t at =
                    static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x);
                if (!IsOneIdBlock(map, at, stride)) continue;
                const std::size_t block[4] = {at, at + 1, at + stride, at + stride + 1};
                std::int64_t firstSlope = 0, secondSlope = 0;
                bool isUsable = true;
                for (const std::size_t c : block) {
                    const std::uint32_t a = planes[c], b = planes[planeCells + c];
                    isUsable =
                        isUsable && (a & LightSlopeUnusable) == 0 && (b & LightSlopeUnusable) == 0;
                    firstSlope = std::max<std::int64_t>(firstSlope, a);
                    secondSlope = std::max<std::int64_t>(secondSlope, b);
                }
                if (!isUsable) continue;
                // Several cells with further ids behind: the block is probed.
                std::int32_t withMore = 0;
                for (const std::size_t c : block) {
                    if ((map[c].id & LightMapMoreIds) != 0) ++withMore;
                }
                if (withMore > 2) continue;
                // The first surface stays in front of the second across the whole block.
                bool isSeparate = true;
                for (const std::size_t c : block) {
                    isSeparate =
                        isSeparate && static_cast<std::int64_t>(map[c].depth) - second[c].depth >=
                                          firstSlope + secondSlope;
                }
                if (isSeparate) map[at].id |= LightMapFlat;
            }
        });
}

void MarkLightMapFlat(const QRender& render, const RenderLightSlot& slot, LightMapCell* map,
                      std::uint32_t* planes, const SpanRegion& region) {
    const std::int32_t side = render.LightMapSide();
    if (!IsTwoSampleMap(render, slot) || planes == nullptr) {
        MarkFlatLightCells(side, region, map);
    } else {
        MarkFlatLightCellsByDepth(side, region, map, planes);
    }
    ClearFlatAroundSmallParts(render, slot, map);
}

void ClearFlatAroundSmallParts(const QRender& render, const RenderLightSlot& slot,
                               LightMapCell* map) {
    const std::size_t side = static_cast<std::size_t>(render.LightMapSide());
    const SmallPartChains& chains = slot.smallParts;
    if (chains.heads.size() != side * side) return;
    for (const std::int32_t marked : chains.markedCells) {
        const auto at = static_cast<std::size_t>(marked);
        if (at >= chains.heads.size() || chains.heads[at] < 0) continue;
        const std::size_t x = at % side, y = at / side;
        // The blocks that hold the cell: at it and up and left of it.
        for (std::size_t yy = y > 0 ? y - 1 : 0; yy <= y; ++yy) {
            for (std::size_t xx = x > 0 ? x - 1 : 0; xx <= x; ++xx) {
                map[yy * side + xx].id &= ~LightMapFlat;
            }
        }
    }
}

bool IsMarkingSmallPartsInLightMaps(const QRender& render, const RenderLightSlot& slot) {
    return IsTwoSampleMap(render, slot) && render.edges.isRefined;
}

std::int32_t ShadowTestCell(const QRender& render, std::int32_t light, const Vec3& pointMinusLight,
                            double& u, double& v, double& depth) {
    const RenderLightSlot& slot = render.LightSlot(light);
    if (!slot.hasMapView) return -1;
    const Vec3 p = ApplyRows(slot.lightFromView, pointMinusLight);
    if (!(p.z > 0.0)) return -1;
    u = p.x / p.z;
    v = p.y / p.z;
    depth = p.z;
    // Cells are cast through their centres, so the block whose four centres surround the
    // point starts half a cell up and left of the cell the point falls in.
    const double column = slot.mapScale * u + slot.mapU - 0.5;
    const double row = slot.mapScale * v + slot.mapV - 0.5;
    const double last = render.LightMapSide() - 1;
    // The 2x2 block must lie on the map, so the last row and column count as outside.
    if (!(column >= 0.0 && column < last && row >= 0.0 && row < last)) return -1;
    const std::size_t stride = static_cast<std::size_t>(render.LightMapSide());
    return static_cast<std::int32_t>(static_cast<std::size_t>(row) * stride +
                                     static_cast<std::size_t>(column));
}

bool IsLitByLight(const QRender& render, std::uint32_t id, std::int32_t light, bool useBackup,
                  const Vec3& pointMinusLight, std::int32_t& cellIndex) {
    cellIndex = -1;
    const RenderLightSlot& slot = render.LightSlot(light);
    const LightMapCell* map = useBackup ? slot.mapBackupA.get() : slot.map.get();
    if (map == nullptr) return true;
    double u = 0.0, v = 0.0, depth = 0.0;
    const std::int32_t cellAt = ShadowTestCell(render, light, pointMinusLight, u, v, depth);
    if (cellAt < 0) return true;
    const Vec3 p{0.0, 0.0, depth};
    const std::size_t stride = static_cast<std::size_t>(render.LightMapSide());
    const auto at = static_cast<std::size_t>(cellAt);
    cellIndex = cellAt;
    const std::uint32_t ownId = id & PixelIdMask;
    const LightMapCell& cell = map[at];
    if ((cell.id & LightMapFlat) != 0) return (cell.id & PixelIdMask) == ownId;

    // Near an id boundary: probe the parts the block shows, exactly.
    // With two samples the block's second hits are candidates too: a part behind the first
    // ones at the cell centres may stand in front of the point between them.
    const std::size_t planes = IsTwoSampleMap(render, slot) ? 2 : 1;
    // The thin parts marked at the block's cells of the working map as well, which may pass
    // between the cell centres.
    // And the further ids behind the two hits of each cell.
    constexpr std::int32_t MaxCandidates = 8 + 4 * LightChainedParts + 4 * LightExtraIdsPerCell;
    std::int32_t candidates[MaxCandidates];
    std::int32_t candidateCount = 0;
    const auto addCandidate = [&](std::int32_t part) {
        if (candidateCount < MaxCandidates && std::find(candidates, candidates + candidateCount,
                                                        part) == candidates + candidateCount) {
            candidates[candidateCount++] = part;
        }
    };
    const std::size_t block[4] = {at, at + 1, at + stride, at + stride + 1};
    for (std::size_t sample = 0; sample < planes; ++sample) {
        const LightMapCell* plane = map + sample * stride * stride;
        for (const std::size_t c : block) {
            const std::uint32_t blockId = plane[c].id & PixelIdMask;
            if (blockId != 0) addCandidate(PixelPartIndex(blockId));
        }
    }
    const LightExtraIds& further = useBackup ? slot.extraIdsBackupA : slot.extraIds;
    if (planes == 2 && !further.heads.empty()) {
        for (const std::size_t c : block) {
            if ((map[c].id & LightMapMoreIds) == 0) continue;
            ForEachExtraId(further, c,
                           [&](std::uint32_t extra) { addCandidate(PixelPartIndex(extra)); });
        }
    }
    const SmallPartChains& chains = useBackup ? slot.smallPartsBackupA : slot.smallParts;
    if (!chains.markedCells.empty() && chains.heads.size() == stride * stride) {
        for (const std::size_t c : block) {
            std::int32_t entry = chains.heads[c];
            for (std::int32_t k = 0; k < LightChainedParts && entry >= 0 &&
                                     static_cast<std::size_t>(entry) < chains.entries.size();
                 ++k) {
                addCandidate(chains.entries[static_cast<std::size_t>(entry)].partPlusOne - 1);
                entry = chains.entries[static_cast<std::size_t>(entry)].next;
            }
        }
    }
    LightProbeHit nearest;
    for (std::int32_t k = 0; k < candidateCount; ++k) {
        const std::int32_t part = candidates[k];
        if (part < 0 || part >= slot.lightParts.Count()) continue;
        LightProbeRay(slot.lightParts.Surfaces(part), part, u, v, nearest, render.slotTable,
                      render.slotTableEntries);
    }
    return nearest.id == 0 || nearest.id == ownId || nearest.depth > p.z;
}

bool ShadowsActive(const QRender& render) {
    return render.options.shadows && !render.options.flatPreview && render.ShadowLightCount() > 0 &&
           render.LightSlot(0).map != nullptr;
}

void RenderLightMaps(QRender& render) {
    if (!ShadowsActive(render)) return;
    const std::int32_t side = render.LightMapSide();
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        RenderLightSlot& slot = render.LightSlot(i);
        if (!slot.map || !slot.region) continue;
        SetupLightView(render, i);
        SpanRegion& region = *slot.region;
        RegionSetRect(region, 0, 0, side, side);
        ResetExtraIds(slot.extraIds);
        if (CastLightMapPass(render, i, region, nullptr, false) == CastEyeInside) {
            // The light is shut inside a part: it reaches nothing.
            std::memset(static_cast<void*>(slot.map.get()), 0,
                        static_cast<std::size_t>(side) * static_cast<std::size_t>(side) *
                            sizeof(LightMapCell));
            ResetExtraIds(slot.extraIds);
        }
        if (IsTwoSampleMap(render, slot)) {
            FillTileSlopes(side, RegionRect{0, 0, side, side}, slot.map.get(), slot.idPlane.get());
        }
        ResetChains(slot.smallParts);
        if (IsMarkingSmallPartsInLightMaps(render, slot)) {
            MarkSmallPartsInLightMap(render, i, nullptr, false);
        }
        MarkLightMapFlat(render, slot, slot.map.get(), slot.idPlane.get(), region);
    }
}
