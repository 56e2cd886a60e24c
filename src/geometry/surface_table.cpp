#include "geometry/surface_table.h"

#include "core/check.h"
#include "core/private_heap.h"
#include "geometry/part_octree.h"
#include "geometry/scene_geometry.h"
#include "geometry/scene_geometry_internal.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Keys: 40 v / (|v| + c), c per kind; keys lie in [KeyLow, KeyHigh).
constexpr double KeyRange = 40.0;
constexpr double CurvedKeySoftness = 2.5;
constexpr double PlaneKeySoftness = 5.0;
constexpr std::int32_t KeyLow = -41;
constexpr std::int32_t KeyHigh = 41;

// Matching tolerances on the normalised coefficients.
constexpr double QuadraticTolerance = 9e-6;     // curved: the quadratic block, squared
constexpr double CurvedLinearTolerance = 1e-6;  // curved: the linear part, squared
constexpr double PlaneLinearTolerance = 9e-6;   // planes: the normal, squared
constexpr double ConstantTolerance = 0.001;     // the constant (curved: times the size)
constexpr double SizeFloor = 0.01;

enum class Coincidence { None, Same, Reversed };

// The unrounded key of normalised coefficients d on axis (0..2).
double KeyValue(const std::array<double, 10>& d, bool curved, std::size_t axis) {
    const double v = (curved ? d[4] + d[7] + d[9] : d[0]) * d[1 + axis];
    if (std::isinf(v)) return std::copysign(KeyRange, v);
    return KeyRange * v / (std::abs(v) + (curved ? CurvedKeySoftness : PlaneKeySoftness));
}

}  // namespace

// ---- bookkeeping ----

void SurfaceTable::Reset() {
    records.reset();
    entries.reset();
    recordCapacity = 0;
    firstRecord.reset();
    firstCapacity = 0;
    knownParts = 0;
    for (KeyGrid& grid : grids) grid = KeyGrid{};
    linkedCount = 0;
}

// Sets the first record of every part the table does not know yet and makes room for the
// records of all parts; throws KVOutOfMemoryException before anything changes.
void SurfaceTable::Sync(SceneGeometry& geometry) {
    const std::int32_t count = geometry.PartCount();
    knownParts = std::min(knownParts, count);
    std::int64_t total = 0;
    if (knownParts > 0) {
        total = firstRecord.get()[knownParts - 1] + geometry.Part(knownParts - 1)->surfaceRoom;
    }
    const std::int64_t known = total;
    for (std::int32_t i = knownParts; i < count; ++i) total += geometry.Part(i)->surfaceRoom;
    ORBELLE_CHECK(total <= INT32_MAX);

    const auto grow = [](auto& block, std::int32_t& capacity, std::int64_t needed) {
        if (needed <= capacity) return;
        const std::int64_t next = std::max(needed, std::int64_t{capacity} + capacity / 5);
        GrowArray(block, static_cast<std::size_t>(capacity), static_cast<std::size_t>(next));
        capacity = static_cast<std::int32_t>(next);
    };
    std::int32_t entryCapacity = recordCapacity;
    grow(entries, entryCapacity, total);
    grow(records, recordCapacity, total);
    grow(firstRecord, firstCapacity, count);

    total = known;
    for (std::int32_t i = knownParts; i < count; ++i) {
        firstRecord.get()[i] = static_cast<std::int32_t>(total);
        total += geometry.Part(i)->surfaceRoom;
    }
    knownParts = count;
}

std::int32_t SurfaceTable::SurfacesInUse(const SceneGeometry& geometry, std::int32_t part) const {
    const PartRenderRecord& record = *geometry.Part(part);
    return std::clamp(record.surfaceCount, 0, std::min(record.surfaceRoom, SlotRowEntries));
}

void SurfaceTable::WriteRecord(std::int32_t index, const SceneGeometry& geometry, std::int32_t part,
                               std::int32_t surface, std::int32_t generation) {
    Record& record = records.get()[index];
    ORBELLE_DCHECK(record.linked == 0);
    const PartRenderRecord& source = *geometry.Part(part);
    const std::array<double, 16>& m = source.Surfaces()[static_cast<std::size_t>(surface)].m;
    entries.get()[index] = CellEntry{.part = part, .surface = surface, .generation = generation};
    record = Record{};
    const std::array<double, 10> coefficients{m[0], m[1], m[2],  m[3],  m[5],
                                              m[6], m[7], m[10], m[11], m[15]};
    record.curved = coefficients[4] != 0 || coefficients[5] != 0 || coefficients[6] != 0 ||
                    coefficients[7] != 0 || coefficients[8] != 0 || coefficients[9] != 0;
    const double norm = record.curved ? std::sqrt(m[5] * m[5] + m[10] * m[10] + m[15] * m[15] +
                                                  2 * (m[6] * m[6] + m[7] * m[7] + m[11] * m[11]))
                                      : std::sqrt(m[1] * m[1] + m[2] * m[2] + m[3] * m[3]);
    bool finite = norm > 0 && std::isfinite(norm);
    for (std::size_t i = 0; i < 10; ++i) {
        record.d[i] = coefficients[i] / norm;
        finite = finite && std::isfinite(record.d[i]);
    }
    const std::array<double, 16>& proxy = source.proxy.m;
    record.size = std::sqrt(proxy[7] * proxy[7] + proxy[11] * proxy[11] + proxy[15] * proxy[15]);
    record.usable = finite;
    if (!finite) return;
    for (std::size_t a = 0; a < 3; ++a) {
        record.keys[a] =
            std::clamp(GridFloor(KeyValue(record.d, record.curved, a)), KeyLow, KeyHigh - 1);
    }
}

// ---- key grids ----

std::size_t SurfaceTable::CellOf(const KeyGrid& grid,
                                 const std::array<std::int32_t, 3>& keys) const {
    const auto at = [&](std::size_t a) {
        const std::int32_t offset = keys[a] - grid.origin[a];
        ORBELLE_DCHECK(offset >= 0 && offset < grid.dims[a]);
        return static_cast<std::size_t>(offset);
    };
    return (at(0) * static_cast<std::size_t>(grid.dims[1]) + at(1)) *
               static_cast<std::size_t>(grid.dims[2]) +
           at(2);
}

// Makes grid cover bounds (key minimum and exclusive maximum per axis; empty when a minimum
// is not below its maximum): exactly, or by growing the grid a quarter beyond on each side
// that falls short, keeping every cell.
void SurfaceTable::ResizeGrid(KeyGrid& grid, const std::array<std::int32_t, 6>& bounds,
                              bool exact) {
    if (bounds[0] >= bounds[1]) {
        if (exact) grid = KeyGrid{};
        return;
    }
    KeyGrid next;
    for (std::size_t a = 0; a < 3; ++a) {
        std::int32_t low = bounds[2 * a];
        std::int32_t high = bounds[2 * a + 1];
        if (!exact && grid.dims[0] != 0) {
            const std::int32_t oldLow = grid.origin[a];
            const std::int32_t oldHigh = grid.origin[a] + grid.dims[a];
            const std::int32_t quarter = grid.dims[a] / 4;
            low = low < oldLow ? std::max(low - quarter, KeyLow) : oldLow;
            high = high > oldHigh ? std::min(high + quarter, KeyHigh) : oldHigh;
        }
        next.origin[a] = low;
        next.dims[a] = high - low;
    }
    // A grid of the same extent is kept (a full update has emptied its cells already).
    if (next.origin == grid.origin && next.dims == grid.dims) return;
    const std::size_t cells = static_cast<std::size_t>(next.dims[0]) *
                              static_cast<std::size_t>(next.dims[1]) *
                              static_cast<std::size_t>(next.dims[2]);
    next.heads = NewArray<std::int32_t>(cells);
    std::fill_n(next.heads.get(), cells, -1);
    if (!exact && grid.dims[0] != 0) {
        std::array<std::int32_t, 3> keys{};
        for (keys[0] = grid.origin[0]; keys[0] < grid.origin[0] + grid.dims[0]; ++keys[0]) {
            for (keys[1] = grid.origin[1]; keys[1] < grid.origin[1] + grid.dims[1]; ++keys[1]) {
                for (keys[2] = grid.origin[2]; keys[2] < grid.origin[2] + grid.dims[2]; ++keys[2]) {
                    next.heads.get()[CellOf(next, keys)] = grid.heads.get()[CellOf(grid, keys)];
                }
            }
        }
    }
    grid = std::move(next);
}

void SurfaceTable::Link(std::int32_t index) {
    Record& record = records.get()[index];
    if (!record.usable || record.linked != 0) return;
    KeyGrid& grid = grids[record.curved];
    std::int32_t& head = grid.heads.get()[CellOf(grid, record.keys)];
    record.prev = -1;
    entries.get()[index].next = head;
    if (head >= 0) records.get()[head].prev = index;
    head = index;
    record.linked = 1;
    ++linkedCount;
}

void SurfaceTable::Unlink(std::int32_t index) {
    Record& record = records.get()[index];
    if (record.linked == 0) return;
    KeyGrid& grid = grids[record.curved];
    const std::int32_t next = entries.get()[index].next;
    if (record.prev >= 0) {
        entries.get()[record.prev].next = next;
    } else {
        grid.heads.get()[CellOf(grid, record.keys)] = next;
    }
    if (next >= 0) records.get()[next].prev = record.prev;
    record.linked = 0;
    --linkedCount;
}

void SurfaceTable::UnlinkPart(std::int32_t part, std::int32_t surfaceRoom) {
    if (part >= knownParts) return;
    const std::int32_t first = firstRecord.get()[part];
    for (std::int32_t s = 0; s < std::min(surfaceRoom, SlotRowEntries); ++s) Unlink(first + s);
}

void SurfaceTable::ForgetPart(std::int32_t part, std::int32_t surfaceRoom) {
    UnlinkPart(part, surfaceRoom);
    knownParts = std::min(knownParts, part);
}

// ---- matching ----

namespace {

// How b lies to a: D = B - A, then D = B + A, against the tolerances of a's kind.
template <typename R>
Coincidence Compare(const R& a, const R& b) {
    const auto close = [&](double sign) {
        std::array<double, 10> d{};
        for (std::size_t i = 0; i < 10; ++i) d[i] = b.d[i] + sign * a.d[i];
        const double linear = d[1] * d[1] + d[2] * d[2] + d[3] * d[3];
        if (a.curved == 0)
            return linear < PlaneLinearTolerance && std::abs(d[0]) < ConstantTolerance;
        const double quadratic =
            d[4] * d[4] + d[7] * d[7] + d[9] * d[9] + 2 * (d[5] * d[5] + d[6] * d[6] + d[8] * d[8]);
        const double constant = ConstantTolerance * std::fmax(SizeFloor, std::fmax(a.size, b.size));
        return quadratic < QuadraticTolerance && linear < CurvedLinearTolerance &&
               std::abs(d[0]) < constant;
    };
    if (close(-1.0)) return Coincidence::Same;
    if (close(1.0)) return a.curved != 0 ? Coincidence::Reversed : Coincidence::Same;
    return Coincidence::None;
}

}  // namespace

// Compares record index (a surface of a visible part) with the records of visible parts in
// the cells around its key values. Pass 0 takes the records before it in (part, surface)
// order, pass 1 those of an earlier update, pass 2 those of this update before it.
void SurfaceTable::Match(SceneGeometry& geometry, std::int32_t index, std::int32_t pass) {
    const Record& a = records.get()[index];
    const CellEntry& at = entries.get()[index];
    if (a.linked == 0) return;
    const KeyGrid& grid = grids[a.curved];
    std::array<std::array<std::int32_t, 2>, 3> around{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const auto r = static_cast<std::int32_t>(std::round(KeyValue(a.d, a.curved, axis))) -
                       grid.origin[axis];
        around[axis] = {std::clamp(r - 1, 0, grid.dims[axis] - 1),
                        std::clamp(r, 0, grid.dims[axis] - 1)};
    }
    const auto slotOf = [&](const CellEntry& r) {
        return static_cast<std::uint16_t>(
            geometry.SlotRow(r.part)[static_cast<std::size_t>(r.surface)] & SurfaceSlotMask);
    };
    for (std::size_t i = 0; i < 2; ++i) {
        if (i == 1 && around[0][1] == around[0][0]) break;
        for (std::size_t j = 0; j < 2; ++j) {
            if (j == 1 && around[1][1] == around[1][0]) break;
            for (std::size_t k = 0; k < 2; ++k) {
                if (k == 1 && around[2][1] == around[2][0]) break;
                const std::size_t cell = (static_cast<std::size_t>(around[0][i]) *
                                              static_cast<std::size_t>(grid.dims[1]) +
                                          static_cast<std::size_t>(around[1][j])) *
                                             static_cast<std::size_t>(grid.dims[2]) +
                                         static_cast<std::size_t>(around[2][k]);
                for (std::int32_t b = grid.heads.get()[cell]; b >= 0; b = entries.get()[b].next) {
                    const CellEntry& other = entries.get()[b];
                    const bool earlier = other.generation < at.generation;
                    const bool before = other.part < at.part ||
                                        (other.part == at.part && other.surface < at.surface);
                    if ((pass == 1 && !earlier) || (pass == 2 && earlier) ||
                        (pass != 1 && !before)) {
                        continue;
                    }
                    // Two surfaces that both hold slots change nothing whether they match or
                    // not; in a large group of coplanar surfaces that is nearly every pair.
                    const std::uint16_t slotA = slotOf(at);
                    const std::uint16_t slotB = slotOf(other);
                    if (slotA != 0 && slotB != 0) continue;
                    if (geometry.Part(other.part)->visible == 0) continue;
                    const Coincidence how = Compare(a, records.get()[b]);
                    if (how == Coincidence::None) continue;
                    const bool reversed = how == Coincidence::Reversed;
                    if (slotA == 0 && slotB == 0) {
                        geometry.OpenSurfaceSlot(other.part, other.surface, at.part, at.surface,
                                                 reversed);
                    } else if (slotA == 0) {
                        geometry.JoinSurfaceSlot(at.part, at.surface, slotB, reversed);
                    } else if (slotB == 0) {
                        geometry.JoinSurfaceSlot(other.part, other.surface, slotA, reversed);
                    }
                }
            }
        }
    }
}

void SurfaceTable::Enter(SceneGeometry& geometry, std::span<const std::int32_t> parts, bool full) {
    Sync(geometry);
    const std::int32_t generation = geometry.surfaceGeneration;
    const auto forEachPart = [&](auto&& fn) {
        if (full) {
            for (std::int32_t p = 0; p < geometry.PartCount(); ++p) fn(p);
        } else {
            for (std::int32_t p : parts) fn(p);
        }
    };

    // Out of the grids first, so that an exhausted heap below leaves these parts unlinked.
    if (full) {
        for (std::int32_t r = 0; r < recordCapacity; ++r) records.get()[r].linked = 0;
        for (KeyGrid& grid : grids) {
            const std::size_t cells = static_cast<std::size_t>(grid.dims[0]) *
                                      static_cast<std::size_t>(grid.dims[1]) *
                                      static_cast<std::size_t>(grid.dims[2]);
            std::fill_n(grid.heads.get(), cells, -1);
        }
        linkedCount = 0;
    } else {
        for (std::int32_t p : parts) UnlinkPart(p, geometry.Part(p)->surfaceRoom);
    }

    // New records, and the keys each kind's grid must cover.
    std::array<std::array<std::int32_t, 6>, 2> bounds{};
    for (auto& b : bounds) b = {KeyHigh, KeyLow, KeyHigh, KeyLow, KeyHigh, KeyLow};
    forEachPart([&](std::int32_t p) {
        for (std::int32_t s = 0; s < SurfacesInUse(geometry, p); ++s) {
            const std::int32_t index = firstRecord.get()[p] + s;
            WriteRecord(index, geometry, p, s, generation);
            const Record& record = records.get()[index];
            if (record.usable == 0) continue;
            std::array<std::int32_t, 6>& b = bounds[record.curved];
            for (std::size_t a = 0; a < 3; ++a) {
                b[2 * a] = std::min(b[2 * a], record.keys[a]);
                b[2 * a + 1] = std::max(b[2 * a + 1], record.keys[a] + 1);
            }
        }
    });
    ResizeGrid(grids[0], bounds[0], full);
    ResizeGrid(grids[1], bounds[1], full);

    forEachPart([&](std::int32_t p) {
        for (std::int32_t s = 0; s < SurfacesInUse(geometry, p); ++s) {
            Link(firstRecord.get()[p] + s);
        }
    });

    const auto matchAll = [&](std::int32_t pass) {
        forEachPart([&](std::int32_t p) {
            if (geometry.Part(p)->visible == 0) return;
            for (std::int32_t s = 0; s < SurfacesInUse(geometry, p); ++s) {
                Match(geometry, firstRecord.get()[p] + s, pass);
            }
        });
    };
    if (full) {
        matchAll(0);
    } else {
        matchAll(1);
        matchAll(2);
    }
}

// ---- the update ----

void UpdateSurfaceTable(SceneGeometry& geometry, bool rebuild,
                        std::span<const std::int32_t> changed, std::int32_t appended) {
    ORBELLE_CHECK(appended >= 0 && appended <= geometry.PartCount());
    for (std::int32_t index : changed) ORBELLE_CHECK(index >= 0 && index < geometry.PartCount());
    if (rebuild) geometry.BuildOctree(changed, appended);
    ++geometry.surfaceGeneration;

    if (changed.empty() && appended == 0) {
        geometry.ClearSurfaceSlots();
        if (rebuild) geometry.surfaceTable.Enter(geometry, {}, true);
        return;
    }
    // The listed parts, then the appended ones (the list alone in a frame, with nothing to
    // allocate).
    std::vector<std::int32_t> both;
    std::span<const std::int32_t> parts = changed;
    if (appended > 0) {
        TranslateBadAlloc([&] {
            both.assign(changed.begin(), changed.end());
            for (std::int32_t i = geometry.PartCount() - appended; i < geometry.PartCount(); ++i) {
                both.push_back(i);
            }
        });
        parts = both;
    }
    geometry.ReleaseSurfaceSlots(parts);
    if (rebuild) geometry.surfaceTable.Enter(geometry, parts, false);
}
