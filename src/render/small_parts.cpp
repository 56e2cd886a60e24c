#include "render/small_parts.h"

#include "core/float_convert.h"
#include "core/private_heap.h"
#include "render/q_render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <span>

namespace {

bool IsInRegion(const SpanRegion& region, std::int32_t x, std::int32_t y) {
    if (region.HasNoRows() || y < region.Top() || y >= region.Bottom()) return false;
    for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
        if (x >= t[0] && x < t[1]) return true;
    }
    return false;
}

struct Marker {
    SmallPartChains& chains;
    SampleCell* cells = nullptr;  // null: only the chains mark the cells (a light map)
    std::size_t cellStride = 0;
    RegionRect clip;
    double focal = 0.0;
    double centreX = 0.0;
    double centreY = 0.0;
    std::int32_t part = 0;
    // When given, the cells are listed here (cell indices) instead of marked.
    std::vector<std::size_t>* listed = nullptr;
    // The cells' border (1 for the frame's sample cells, 0 for a light map).
    std::int32_t border = 1;
    // When given, skeletons are carried from view space into this space: rows (p - origin).
    const std::array<double, 9>* rows = nullptr;
    Vec3 origin{};

    // When given, only cells of this region are marked.
    const SpanRegion* within = nullptr;

    void MarkCell(std::int32_t x, std::int32_t y) {
        if (within != nullptr && !IsInRegion(*within, x, y)) return;
        const std::size_t at = static_cast<std::size_t>(y + border) * cellStride +
                               static_cast<std::size_t>(x + border);
        if (listed != nullptr) {
            listed->push_back(at);
            return;
        }
        std::int32_t& head = chains.heads[at];
        if ((cells != nullptr && (cells[at].pixel & PixelSmallPartChain) == 0) || head < 0) {
            // Recorded before anything changes, so that a refused allocation leaves the
            // cell as a reset or roll-back finds it.
            chains.formerHeads.push_back(head);
            chains.markedCells.push_back(static_cast<std::int32_t>(at));
            const auto first = static_cast<std::int32_t>(chains.entries.size());
            Append();
            if (cells != nullptr) cells[at].pixel |= PixelSmallPartChain;
            head = first;
            return;
        }
        std::int32_t last = head;
        while (chains.entries[static_cast<std::size_t>(last)].next >= 0) {
            last = chains.entries[static_cast<std::size_t>(last)].next;
        }
        // Parts are marked one after the other, so a repeat can only be the last entry.
        if (chains.entries[static_cast<std::size_t>(last)].partPlusOne == part + 1) return;
        chains.entries[static_cast<std::size_t>(last)].next =
            static_cast<std::int32_t>(chains.entries.size());
        Append();
    }

    void Append() {
        if (chains.entries.size() == chains.entries.capacity()) {
            chains.entries.reserve(chains.entries.size() + 256);
        }
        chains.entries.push_back(SmallPartChainEntry{part + 1, -1});
    }

    bool Project(const Vec3& p, double& x, double& y) const {
        if (!(p.z > 0.0)) return false;
        x = p.x * focal / p.z + centreX;
        y = p.y * focal / p.z + centreY;
        return std::isfinite(x) && std::isfinite(y);
    }

    // Marks a two-cell band across the walking axis along the projected segment, walking
    // along x (alongX) or along y.
    void MarkSegment(double ax, double ay, double bx, double by, bool alongX) {
        double a0 = alongX ? ax : ay, a1 = alongX ? bx : by;  // major
        double m0 = alongX ? ay : ax, m1 = alongX ? by : bx;  // minor
        if (a0 > a1) {
            std::swap(a0, a1);
            std::swap(m0, m1);
        }
        if (!(a1 - a0 > 1e-12)) return;
        const double slope = (m1 - m0) / (a1 - a0);
        const std::int32_t majorLow = alongX ? clip.x0 : clip.y0;
        const std::int32_t majorHigh = alongX ? clip.x1 : clip.y1;
        const std::int32_t minorLow = alongX ? clip.y0 : clip.x0;
        const std::int32_t minorHigh = alongX ? clip.y1 : clip.x1;
        if (a1 < majorLow - 2.0 || a0 > majorHigh + 2.0) return;
        std::int32_t first = static_cast<std::int32_t>(std::floor(std::max(a0, majorLow - 2.0)));
        std::int32_t last = static_cast<std::int32_t>(std::floor(std::min(a1, majorHigh + 2.0)));
        if (slope * slope <= 1.2) {
            --first;
            ++last;
        }
        first = std::max(first, majorLow);
        last = std::min(last, majorHigh - 1);
        for (std::int32_t m = first; m <= last; ++m) {
            const double centre = std::clamp(m + 0.5, a0, a1);
            const double minor = m0 + (centre - a0) * slope;
            if (!(minor > minorLow - 10.0 && minor < minorHigh + 10.0)) continue;
            const std::int32_t k = RoundToInt(minor);
            for (std::int32_t c = k - 1; c <= k; ++c) {
                if (c < minorLow || c >= minorHigh) continue;
                if (alongX) {
                    MarkCell(m, c);
                } else {
                    MarkCell(c, m);
                }
            }
        }
    }

    void MarkSegmentBothWays(const Vec3& a, const Vec3& b) {
        double ax = 0, ay = 0, bx = 0, by = 0;
        if (!Project(a, ax, ay) || !Project(b, bx, by)) return;
        MarkSegment(ax, ay, bx, by, true);
        MarkSegment(ax, ay, bx, by, false);
    }

    // The points a + (1 - cos t) u + sin t v of a circle through a (u from a to the centre,
    // v the tangent at a, both of the radius's length), from t = 0 to sweep, as chords short
    // enough on screen to stay within a tenth of a pixel of the curve.
    void MarkCircle(const Vec3& a, const Vec3& u, const Vec3& v, double sweep) {
        const double radius = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
        const Vec3 centre{a.x + u.x, a.y + u.y, a.z + u.z};
        const double nearest = std::max(centre.z - radius, 1e-9);
        const double screenRadius = radius * focal / nearest;
        const double step = std::clamp(std::sqrt(0.8 / std::max(screenRadius, 1e-9)), 1e-3, 0.5);
        const std::int32_t pieces =
            std::clamp(static_cast<std::int32_t>(std::ceil(sweep / step)), 4, 100000);
        const auto at = [&](double t) {
            const double c = 1.0 - std::cos(t), s = std::sin(t);
            return Vec3{a.x + c * u.x + s * v.x, a.y + c * u.y + s * v.y, a.z + c * u.z + s * v.z};
        };
        Vec3 previous = a;
        for (std::int32_t k = 1; k <= pieces; ++k) {
            const Vec3 next = at(sweep * k / pieces);
            MarkSegmentBothWays(previous, next);
            previous = next;
        }
    }
};

Vec3 Sub(const Vec3& p, const Vec3& q) { return Vec3{p.x - q.x, p.y - q.y, p.z - q.z}; }
double Dot(const Vec3& p, const Vec3& q) { return p.x * q.x + p.y * q.y + p.z * q.z; }
Vec3 Cross(const Vec3& p, const Vec3& q) {
    return Vec3{p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
}
Vec3 Scale(const Vec3& p, double k) { return Vec3{p.x * k, p.y * k, p.z * k}; }

// The circle of a kind-2 or kind-3 skeleton through a: u from a to the centre and v the
// tangent at a (radius length each), and the sweep from a.
bool CircleOf(const PartSkeleton& s, Vec3& u, Vec3& v, double& sweep) {
    const Vec3 chord = Sub(s.b, s.a);
    const double chordLength = std::sqrt(Dot(chord, chord));
    const double dLength = std::sqrt(Dot(s.d, s.d));
    if (!(chordLength > 0.0) || !(dLength > 0.0)) return false;
    if (s.kind == 3) {
        // The circle with diameter a-b: the tangent at a lies in the plane of the chord and d,
        // across the chord.
        const Vec3 normal = Cross(chord, s.d);
        const Vec3 across = Cross(normal, chord);
        const double acrossLength = std::sqrt(Dot(across, across));
        if (!(acrossLength > 0.0)) return false;
        u = Scale(chord, 0.5);
        v = Scale(across, 0.5 * chordLength / acrossLength);
        sweep = 2.0 * std::numbers::pi;
        return true;
    }
    // The arc leaving a along d: radius |chord| / (2 sin phi), phi between the chord and d.
    const Vec3 dUnit = Scale(s.d, 1.0 / dLength);
    const double cosPhi = std::clamp(Dot(chord, dUnit) / chordLength, -1.0, 1.0);
    const double phi = std::acos(cosPhi);
    const double radius = chordLength / (2.0 * std::sin(phi));
    // Towards the centre: the part of the chord across d.
    Vec3 inward = Sub(chord, Scale(dUnit, Dot(chord, dUnit)));
    const double inwardLength = std::sqrt(Dot(inward, inward));
    if (!(inwardLength > 0.0) || !std::isfinite(radius)) return false;
    u = Scale(inward, radius / inwardLength);
    v = Scale(dUnit, radius);
    sweep = 2.0 * phi;
    return true;
}

// The depth of the figure's farthest point, where it projects thinnest.
double FarthestDepth(const PartSkeleton& s) {
    if (s.kind == 0) return s.a.z;
    double far = std::max(s.a.z, s.b.z);
    Vec3 u, v;
    double sweep = 0.0;
    if (s.kind >= 2 && CircleOf(s, u, v, sweep)) {
        // z(t) = a.z + (1 - cos t) u.z + sin t v.z is largest where tan t = -v.z / u.z.
        const double t = std::atan2(v.z, -u.z);
        const double tt = t < 0.0 ? t + 2.0 * std::numbers::pi : t;
        if (tt <= sweep) {
            far = std::max(far, s.a.z + (1.0 - std::cos(tt)) * u.z + std::sin(tt) * v.z);
        }
    }
    return far;
}

}  // namespace

void ResetSmallPartChains(QRender& render) { ResetChains(render.smallParts); }

void ResetChains(SmallPartChains& chains) {
    for (const std::int32_t cell : chains.markedCells) {
        if (static_cast<std::size_t>(cell) < chains.heads.size()) {
            chains.heads[static_cast<std::size_t>(cell)] = -1;
        }
    }
    chains.markedCells.clear();
    chains.formerHeads.clear();
    chains.entries.clear();
    chains.keptEntries = 0;
    chains.keptCells = 0;
}

void KeepSmallPartChains(QRender& render) {
    SmallPartChains& chains = render.smallParts;
    chains.keptEntries = chains.entries.size();
    chains.keptCells = chains.markedCells.size();
}

void RollBackSmallPartChains(QRender& render) {
    SmallPartChains& chains = render.smallParts;
    if (chains.entries.size() <= chains.keptEntries &&
        chains.markedCells.size() <= chains.keptCells) {
        return;
    }
    // Later heads were set over earlier ones, so they are undone last to first.
    const std::size_t marked = std::min(chains.markedCells.size(), chains.formerHeads.size());
    for (std::size_t k = marked; k-- > chains.keptCells;) {
        const auto cell = static_cast<std::size_t>(chains.markedCells[k]);
        if (cell < chains.heads.size()) chains.heads[cell] = chains.formerHeads[k];
    }
    chains.markedCells.resize(chains.keptCells);
    chains.formerHeads.resize(chains.keptCells);
    const auto kept = static_cast<std::int32_t>(chains.keptEntries);
    chains.entries.resize(std::min(chains.entries.size(), chains.keptEntries));
    for (SmallPartChainEntry& entry : chains.entries) {
        if (entry.next >= kept) entry.next = -1;
    }
}

namespace {

// Marks (or lists) the cells of the selected thin parts: with no list every part, with a list
// and complement every part not in it, else the listed parts in list order; invisible parts,
// parts without a skeleton and parts too thick for marking are skipped.
void MarkThinParts(QRender& render, Marker& marker, const std::int32_t* partList, bool complement) {
    RenderParts& parts = render.parts;
    const std::int32_t partCount = parts.Count();
    const auto listed = ListEntries(partList);
    const bool isListed = partList != nullptr && !complement;
    if (partList != nullptr && complement) {
        for (std::int32_t i = 0; i < partCount; ++i) parts.Part(i).mark = 0;
        for (const std::int32_t i : listed) {
            if (i >= 0 && i < partCount) parts.Part(i).mark = 1;
        }
    }
    const std::int32_t selected = isListed ? static_cast<std::int32_t>(listed.size()) : partCount;
    TranslateBadAlloc([&] {
        for (std::int32_t n = 0; n < selected; ++n) {
            const std::int32_t index = isListed ? listed[static_cast<std::size_t>(n)] : n;
            if (index < 0 || index >= partCount) continue;
            const RenderPart& part = parts.Part(index);
            if (partList != nullptr && complement && part.mark != 0) continue;
            if (part.visible == 0 || part.skeleton.kind < 0 || part.skeleton.kind > 3) continue;
            PartSkeleton s = part.skeleton;
            if (marker.rows != nullptr) {
                const auto& r = *marker.rows;
                const auto turn = [&](const Vec3& p) {
                    return Vec3{r[0] * p.x + r[1] * p.y + r[2] * p.z,
                                r[3] * p.x + r[4] * p.y + r[5] * p.z,
                                r[6] * p.x + r[7] * p.y + r[8] * p.z};
                };
                s.a = turn(Sub(s.a, marker.origin));
                s.b = turn(Sub(s.b, marker.origin));
                s.d = turn(s.d);
                s.r = turn(s.r);
            }
            // An arc whose chord runs along its direction is a segment.
            const Vec3 chord = Sub(s.b, s.a);
            const Vec3 turn = Cross(chord, s.d);
            if (s.kind == 2 && Dot(turn, turn) < Dot(chord, chord) * Dot(s.d, s.d) * 1e-16) {
                s.kind = 1;
            }
            const double thickness = std::sqrt(Dot(s.r, s.r));
            const double far = FarthestDepth(s);
            if (!(thickness * marker.focal < far * (s.kind == 0 ? 0.75 : 0.55))) continue;
            marker.part = index;
            if (s.kind == 0) {
                double x = 0, y = 0;
                if (!marker.Project(s.a, x, y)) continue;
                if (!(x > marker.clip.x0 - 10.0 && x < marker.clip.x1 + 10.0 &&
                      y > marker.clip.y0 - 10.0 && y < marker.clip.y1 + 10.0)) {
                    continue;
                }
                const std::int32_t cx = RoundToInt(x), cy = RoundToInt(y);
                for (std::int32_t row = std::max(cy - 2, marker.clip.y0);
                     row <= std::min(cy + 1, marker.clip.y1 - 1); ++row) {
                    for (std::int32_t column = std::max(cx - 2, marker.clip.x0);
                         column <= std::min(cx + 1, marker.clip.x1 - 1); ++column) {
                        marker.MarkCell(column, row);
                    }
                }
            } else if (s.kind == 1) {
                marker.MarkSegmentBothWays(s.a, s.b);
            } else {
                Vec3 u, v;
                double sweep = 0.0;
                if (CircleOf(s, u, v, sweep)) marker.MarkCircle(s.a, u, v, sweep);
            }
        }
    });
}

// A marker over the current level, its clip rectangle held to the level.
Marker LevelMarker(QRender& render, SampleCell* cells, const RegionRect& clip) {
    const RenderLevel& level = render.Level();
    return Marker{render.smallParts,
                  cells,
                  static_cast<std::size_t>(level.cellStride),
                  RegionRect{std::max(clip.x0, 0), std::max(clip.y0, 0),
                             std::min(clip.x1, level.width), std::min(clip.y1, level.height)},
                  level.focal,
                  level.centreX,
                  level.centreY,
                  0,
                  nullptr};
}

}  // namespace

void MarkSmallPartsInFrame(QRender& render, const std::int32_t* partList, bool complement,
                           const RegionRect& clip, std::int32_t buffer, const SpanRegion* within) {
    SampleCell* cells = render.SampleBuffer(buffer);
    if (!render.BuffersReady() || cells == nullptr) return;
    SmallPartChains& chains = render.smallParts;
    if (chains.heads.size() != render.PlaneCells()) {
        TranslateBadAlloc([&] {
            chains.heads.assign(render.PlaneCells(), -1);
            chains.markedCells.clear();
            chains.formerHeads.clear();
            chains.entries.clear();
            chains.keptEntries = 0;
            chains.keptCells = 0;
        });
    }
    Marker marker = LevelMarker(render, cells, clip);
    marker.within = within;
    MarkThinParts(render, marker, partList, complement);
}

void MarkSmallPartsInLightMap(QRender& render, std::int32_t light, const std::int32_t* partList,
                              bool complement) {
    RenderLightSlot& slot = render.LightSlot(light);
    const std::int32_t side = render.LightMapSide();
    const std::size_t cells = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    SmallPartChains& chains = slot.smallParts;
    if (chains.heads.size() != cells) {
        TranslateBadAlloc([&] { chains.heads.assign(cells, -1); });
        chains.markedCells.clear();
        chains.formerHeads.clear();
        chains.entries.clear();
    }
    if (!slot.hasMapView) return;
    Marker marker{chains,
                  nullptr,
                  static_cast<std::size_t>(side),
                  RegionRect{0, 0, side, side},
                  slot.mapScale,
                  slot.mapU,
                  slot.mapV,
                  0,
                  nullptr};
    marker.border = 0;
    marker.rows = &slot.lightFromView;
    marker.origin = slot.position;
    MarkThinParts(render, marker, partList, complement);
}

void AddSmallPartBands(QRender& render, const std::int32_t* partList, const RegionRect& clip,
                       SpanRegion& target, SpanRegion& scratch) {
    if (!render.BuffersReady()) return;
    std::vector<std::size_t> cells;
    Marker marker = LevelMarker(render, nullptr, clip);
    marker.listed = &cells;
    MarkThinParts(render, marker, partList, false);
    if (cells.empty()) return;
    std::sort(cells.begin(), cells.end());
    // The cells in row order, joined into runs.
    const std::size_t stride = marker.cellStride;
    for (std::size_t k = 0; k < cells.size();) {
        const std::size_t first = cells[k];
        std::size_t last = first;
        while (++k < cells.size() && cells[k] <= last + 1 && cells[k] / stride == first / stride) {
            last = cells[k];
        }
        const auto y = static_cast<std::int32_t>(first / stride) - 1;
        const auto x0 = static_cast<std::int32_t>(first % stride) - 1;
        const auto x1 = static_cast<std::int32_t>(last % stride);
        RegionSetRect(scratch, x0, y, x1, y + 1);
        RegionCombine(scratch, target, 1);
    }
}

void AddChainedParts(const QRender& render, std::size_t cell, std::vector<std::int32_t>& parts) {
    AddChainedParts(render.smallParts, cell, render.parts.Count(), parts);
}

void AddChainedParts(const SmallPartChains& chains, std::size_t cell, std::int32_t partCount,
                     std::vector<std::int32_t>& parts, std::int32_t limit) {
    if (cell >= chains.heads.size()) return;
    std::int32_t at = chains.heads[cell];
    for (std::int32_t k = 0;
         k < limit && at >= 0 && static_cast<std::size_t>(at) < chains.entries.size(); ++k) {
        const SmallPartChainEntry& entry = chains.entries[static_cast<std::size_t>(at)];
        const std::int32_t part = entry.partPlusOne - 1;
        if (part >= 0 && part < partCount &&
            std::find(parts.begin(), parts.end(), part) == parts.end()) {
            parts.push_back(part);
        }
        at = entry.next;
    }
}
