#include "texture/tex_maps.h"

#include "core/private_block.h"
#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "texture/object_tex.h"
#include "texture/texture_params.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>

TexMapProgressFn TexMapProgressHook = nullptr;

namespace {

constexpr std::int64_t MaxCellCount = 1 << 22;
constexpr std::int64_t MaxCoverageSteps = 1 << 25;
constexpr int RefineSteps = 5;

// Grows a private-heap array when full, by half its size and at least `step` elements: a map
// of a small image at a large scale links millions of tiles, and growing by a fixed step
// would copy the array once per step. Throws KVOutOfMemoryException, also when the size
// does not fit one block.
template <typename T>
void Reserve(T*& array, std::int32_t& capacity, std::int32_t count, std::int32_t step) {
    if (count < capacity) return;
    const std::int64_t grown = capacity + std::max<std::int64_t>(step, capacity / 2);
    const std::uint64_t bytes = sizeof(T) * static_cast<std::uint64_t>(grown);
    if (grown > INT32_MAX || bytes > UINT32_MAX) ThrowOutOfMemory();
    array = static_cast<T*>(PrivateReallocPtr(array, static_cast<std::uint32_t>(bytes)));
    capacity = static_cast<std::int32_t>(grown);
}

// What both builders share: the tile and link arrays, the cell heads and the coverage raster
// with its candidate order.
struct Layout {
    TexTile*& tiles;
    std::int32_t& tileCapacity;
    std::int32_t& tileCount;
    IndLink*& heaps;
    std::int32_t& heapCapacity;
    std::int32_t& heapCount;
    std::int32_t* cells;

    void PushTile(const TexTile& tile) {
        Reserve(tiles, tileCapacity, tileCount, 8);
        tiles[tileCount++] = tile;
    }
    void Link(int cell, std::int32_t tileIndex) {
        Reserve(heaps, heapCapacity, heapCount, 64);
        heaps[heapCount] = {tileIndex, cells[cell]};
        cells[cell] = heapCount++;
    }
};

// The steps of a tile's footprint: the ellipse of half-extents (hx, hy) in coverage steps,
// each step with the octant (0..7, counted from +x toward +y) it lies in as seen from the
// centre, which itself belongs to none. Along one row the octant changes only a few times, so
// the footprint is kept as runs of steps of one row and one octant, in row order. Builders
// place thousands of tiles of one or a few sizes, so a footprint is worked out once per size.
// The octant (0..7, counted from +x toward +y) of the direction (dx, dy) as the angle's
// floating-point value places it. Off the axes and the diagonals the integers decide alone:
// there the angle lies at least about 1e-12 from an octant boundary, far beyond rounding.
int Octant(int dx, int dy) {
    const int ax = dx < 0 ? -dx : dx;
    const int ay = dy < 0 ? -dy : dy;
    if (dx == 0 || dy == 0 || ax == ay) {
        double angle = std::atan2(dy, dx);
        if (angle < 0) angle += TWO_PI;
        return std::min(7, static_cast<int>(angle / (TWO_PI / 8)));
    }
    if (dy > 0) {
        if (dx > 0) return ax > ay ? 0 : 1;
        return ax < ay ? 2 : 3;
    }
    if (dx < 0) return ax > ay ? 4 : 5;
    return ax < ay ? 6 : 7;
}

struct Footprint {
    struct Run {
        int dy = 0;
        int dx0 = 0;  // first and last step of the run
        int dx1 = 0;
        int octant = 0;
    };
    int hx = -1;
    int hy = -1;
    std::vector<Run> runs;

    void Prepare(int halfX, int halfY) {
        if (halfX == hx && halfY == hy) return;
        hx = halfX;
        hy = halfY;
        runs.clear();
        for (int dy = -hy; dy <= hy; ++dy) {
            bool open = false;
            for (int dx = -hx; dx <= hx; ++dx) {
                const double ex = static_cast<double>(dx) / hx;
                const double ey = static_cast<double>(dy) / hy;
                if (ex * ex + ey * ey > 1 || (dx == 0 && dy == 0)) {
                    open = false;
                    continue;
                }
                const int octant = Octant(dx, dy);
                if (open && runs.back().octant == octant) {
                    runs.back().dx1 = dx;
                } else {
                    runs.push_back({dy, dx, dx, octant});
                    open = true;
                }
            }
        }
    }
};

// The coverage raster of a build: cols x rows steps, 1 when covered. Columns wrap around in a
// band; nothing wraps in a cap.
struct Coverage {
    std::uint8_t* bits = nullptr;
    int cols = 0;
    int rows = 0;
    bool wrap = false;
    Footprint footprint;
    // Steps marked covered by Mark and PlaceTile, each counted once: the share of the raster
    // a build reports as progress, kept as it grows rather than counted over the whole raster
    // again, which made a large build quadratic in its tiles.
    std::int64_t markedCount = 0;

    std::uint8_t& At(int x, int y) {
        int wx = x;
        if (wrap && (wx < 0 || wx >= cols)) {
            wx %= cols;
            if (wx < 0) wx += cols;
        }
        return bits[static_cast<std::ptrdiff_t>(y) * cols + wx];
    }
    bool Inside(int x, int y) const { return y >= 0 && y < rows && (wrap || (x >= 0 && x < cols)); }

    // Calls visit(row pointer, count) for the raster steps of x0..x1 in row y, in order, each
    // step once (a run longer than a wrapped row visits some columns twice).
    template <typename Visit>
    void ForSpan(int y, int x0, int x1, Visit&& visit) {
        if (y < 0 || y >= rows) return;
        std::uint8_t* row = bits + static_cast<std::ptrdiff_t>(y) * cols;
        if (!wrap) {
            x0 = std::max(x0, 0);
            x1 = std::min(x1, cols - 1);
            if (x0 <= x1) visit(row + x0, x1 - x0 + 1);
            return;
        }
        while (x0 <= x1) {
            int wx = x0 % cols;
            if (wx < 0) wx += cols;
            const int count = std::min(x1 - x0 + 1, cols - wx);
            visit(row + wx, count);
            x0 += count;
        }
    }

    // Uncovered steps of the footprint around (cx, cy) in each of eight octants.
    void CountOctants(int cx, int cy, int counts[8]) {
        std::fill(counts, counts + 8, 0);
        for (const Footprint::Run& r : footprint.runs) {
            int uncovered = 0;
            ForSpan(cy + r.dy, cx + r.dx0, cx + r.dx1, [&](const std::uint8_t* p, int n) {
                for (int i = 0; i < n; ++i) uncovered += p[i] == 0 ? 1 : 0;
            });
            counts[r.octant] += uncovered;
        }
    }

    void Mark(int cx, int cy, int hx, int hy) {
        footprint.Prepare(hx, hy);
        for (const Footprint::Run& r : footprint.runs) {
            ForSpan(cy + r.dy, cx + r.dx0, cx + r.dx1, [this](std::uint8_t* p, int n) {
                for (int i = 0; i < n; ++i) markedCount += p[i] == 0 ? 1 : 0;
                std::memset(p, 1, static_cast<std::size_t>(n));
            });
        }
        // The centre belongs to no run.
        if (Inside(cx, cy)) MarkStep(At(cx, cy));
    }

    void MarkStep(std::uint8_t& step) {
        markedCount += step == 0 ? 1 : 0;
        step = 1;
    }

    // Moves the candidate toward the uncovered side: one step at a time in the direction whose
    // two adjacent octants hold the most uncovered steps, at most five times.
    void Refine(int& cx, int& cy, int hx, int hy) {
        static constexpr int Dx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
        static constexpr int Dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
        footprint.Prepare(hx, hy);
        for (int step = 0; step < RefineSteps; ++step) {
            int counts[8];
            CountOctants(cx, cy, counts);
            int best = -1;
            int bestCount = 0;
            for (int d = 0; d < 8; ++d) {
                const int c = counts[(d + 7) % 8] + counts[d];
                if (c > bestCount) {
                    bestCount = c;
                    best = d;
                }
            }
            if (best < 0 || !Inside(cx + Dx[best], cy + Dy[best])) return;
            cx += Dx[best];
            cy += Dy[best];
        }
    }

    // Places the tile of the candidate (x, y) whose footprint has half extents hx, hy: refines
    // toward the uncovered side and goes nine tenths of the way there. A candidate that moves
    // no more than tolerance steps is pushed along x by the build state (at most hx) so that
    // tiles do not line up. Marks the footprint there, and the candidate itself so that every
    // tile covers its candidate and the search ends. Returns the tile's position in steps.
    std::pair<double, double> PlaceTile(int x, int y, int hx, int hy, int tolerance,
                                        std::uint32_t state, double step) {
        int cx = x;
        int cy = y;
        Refine(cx, cy, hx, hy);
        double shiftX = cx - x;
        const double shiftY = cy - y;
        if (std::fabs(shiftX) <= tolerance && std::fabs(shiftY) <= tolerance) {
            shiftX += std::min(state / (step * 8 * 2147483648.0), static_cast<double>(hx));
        }
        const double tileX = x + 0.9 * shiftX;
        const double tileY = y + 0.9 * shiftY;
        Mark(static_cast<int>(std::lround(tileX)), static_cast<int>(std::lround(tileY)), hx, hy);
        MarkStep(At(x, y));
        return {tileX, tileY};
    }
};

// Sorts values by keys, ascending, keeping the order of equal keys: a radix sort by 16-bit
// digits, which for the million candidates of a large cap is several times faster than a
// comparison sort. Digits that every key shares are skipped.
void StableSortByKey(std::vector<std::uint64_t>& keys, std::vector<std::int32_t>& values) {
    const std::size_t count = keys.size();
    std::vector<std::uint64_t> keysOut(count);
    std::vector<std::int32_t> valuesOut(count);
    std::vector<std::size_t> starts(65536);
    for (int shift = 0; shift < 64; shift += 16) {
        std::fill(starts.begin(), starts.end(), 0);
        for (std::uint64_t k : keys) starts[(k >> shift) & 0xFFFF]++;
        if (count == 0 || starts[(keys[0] >> shift) & 0xFFFF] == count) continue;
        std::size_t sum = 0;
        for (std::size_t& start : starts) {
            const std::size_t bucket = start;
            start = sum;
            sum += bucket;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t to = starts[(keys[i] >> shift) & 0xFFFF]++;
            keysOut[to] = keys[i];
            valuesOut[to] = values[i];
        }
        keys.swap(keysOut);
        values.swap(valuesOut);
    }
}

int HalfExtent(double extent) {
    const double v = std::nearbyint(extent);
    if (!(v >= 1)) return 1;
    return v > 1e6 ? 1000000 : static_cast<int>(v);
}

void ReportProgress(int attempts, double fraction) {
    if (TexMapProgressHook != nullptr && attempts % 16 == 1) {
        TexMapProgressHook(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 10000), 10000);
    }
}

// The radius of the owner's surfaces at a length coordinate: the first surface whose range
// reaches it.
double RadiusAt(const CustomRevTex& owner, double lengthCoord) {
    double radius = 0;
    for (int i = 0; i < owner.numSurfs; ++i) {
        const RevTex& r = *owner.records[i];
        if (r.start + r.length >= lengthCoord || i == owner.numSurfs - 1) {
            return ProfileRadiusAt(lengthCoord, r, radius);
        }
    }
    return radius;
}

struct ImageSize {
    double w = 0;
    double h = 0;
};

bool OwnerImage(const CustomRevTex* owner, ImageSize& size) {
    if (owner == nullptr || owner->material == nullptr || owner->material->image == nullptr) return false;
    const TexPyramid& p = *owner->material->image;
    if (!TexPyramidHasImage(p)) return false;
    size = {static_cast<double>(p.levelWidths[0]), static_cast<double>(p.levelHeights[0])};
    return true;
}

const VersaTex* VersaOwner(const CustomRevTex* owner) {
    return owner->mapSet != nullptr ? static_cast<const VersaTex*>(owner->mapSet) : nullptr;
}

TexTile MakeTile(double theta, double radius, double scale, double ca, double cd) {
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    return {static_cast<float>(scale),  static_cast<float>(c * radius * scale),
            static_cast<float>(s * scale), static_cast<float>(-s * radius * scale),
            static_cast<float>(c * scale), static_cast<float>(ca), static_cast<float>(cd)};
}

void ResetArrays(TexTile*& tiles, std::int32_t& tileCapacity, std::int32_t& tileCount,
                 IndLink*& heaps, std::int32_t& heapCapacity, std::int32_t& heapCount) {
    PrivateFreeAndClear(tiles);
    PrivateFreeAndClear(heaps);
    tileCount = heapCount = 0;
    tileCapacity = heapCapacity = 0;
    Reserve(heaps, heapCapacity, 0, 64);
    Reserve(tiles, tileCapacity, 0, 8);
}

template <typename Map>
void FreeMapBuffers(Map& map) {
    PrivateFreeAndClear(map.cells);
    PrivateFreeAndClear(map.heaps);
    PrivateFreeAndClear(map.tiles);
    PrivateFreeAndClear(map.coverage);
    map.tileCount = map.tileCapacity = map.heapCount = map.heapCapacity = 0;
}

}  // namespace

TileMap::~TileMap() { FreeTileMap(*this); }

PolarMap::~PolarMap() { FreePolarMap(*this); }

void FreeTileMap(TileMap& map) { FreeMapBuffers(map); }

void FreePolarMap(PolarMap& map) { FreeMapBuffers(map); }

bool BuildTileMap(TileMap& map) {
    FreeTileMap(map);
    CustomRevTex* owner = map.owner;
    ImageSize image;
    if (!OwnerImage(owner, image)) return false;
    const TextureParams& params = *owner->material;
    const double maxCirc = map.ind == 0 ? owner->maxCirc1 : owner->maxCirc2;
    const double bandLength = map.lEnd - map.lStart;
    // Sizes come from files and user input: anything not finite and positive gives no map.
    if (!(maxCirc > 0) || !std::isfinite(maxCirc) || !(bandLength >= 0) || !std::isfinite(bandLength) ||
        !std::isfinite(owner->tRad) || !(owner->tRad > 0)) {
        return false;
    }
    map.mScale = std::max(map.mScale, owner->tRad / (maxCirc / 2));
    if (!(map.mScale > 0) || !std::isfinite(map.mScale)) return false;
    ResetArrays(map.tiles, map.tileCapacity, map.tileCount, map.heaps, map.heapCapacity, map.heapCount);

    const double cell = 0.3 * std::min(image.w, image.h) / map.mScale;
    const double hcells = std::floor(maxCirc / cell) + 1;
    const double vcr = std::floor(bandLength / cell) + 1;
    const double step = 4 / map.mScale;
    const double stepsAround = std::floor(maxCirc / step) + 1;
    const double stepsAlong = std::floor(bandLength / step) + 1;
    if (hcells * vcr > MaxCellCount || stepsAround * stepsAlong > MaxCoverageSteps) return false;
    map.hcells = static_cast<std::int32_t>(hcells);
    map.vcr = map.vcells = static_cast<std::int32_t>(vcr);
    const int mh = std::max(1, (static_cast<int>(stepsAround) + map.hcells / 2) / map.hcells);
    const int mv = std::max(1, (static_cast<int>(stepsAlong) + map.vcells / 2) / map.vcells);
    const int tolerance = static_cast<int>(0.03 / step);
    map.overCell1 = map.overCell2 = 0;
    if (map.ind != 0) {
        map.overCell1 = static_cast<std::int32_t>(std::ceil(std::clamp(map.OverLen1 / cell, 0.0, 4096.0)));
        map.overCell2 = static_cast<std::int32_t>(std::ceil(std::clamp(map.OverLen2 / cell, 0.0, 4096.0)));
        map.vcells += map.overCell1 + map.overCell2;
    }
    const std::int64_t cellCount = static_cast<std::int64_t>(map.hcells) * map.vcells;
    if (cellCount > MaxCellCount) return false;
    map.cells = static_cast<std::int32_t*>(PrivateAlloc(static_cast<std::uint32_t>(cellCount * 4)));
    std::fill(map.cells, map.cells + cellCount, -1);

    Coverage coverage;
    coverage.cols = map.hcells * mh;
    coverage.rows = map.vcr * mv;
    coverage.wrap = true;
    map.coverage = static_cast<std::uint8_t*>(
        PrivateAllocZeroed(static_cast<std::uint32_t>(coverage.rows + 2) * static_cast<std::uint32_t>(coverage.cols)));
    coverage.bits = map.coverage;
    const double stepAround = TWO_PI / coverage.cols;         // angle per column
    const double stepAlong = bandLength / coverage.rows;      // length per row
    const double cellAngle = TWO_PI / map.hcells;

    // Hand the ends' radii to the neighbouring maps: caps get their scale, band 1 its overlaps.
    const double r0 = RadiusAt(*owner, map.lStart);
    const double r1 = RadiusAt(*owner, map.lEnd);
    if (map.ind == 0 && owner->poleless && owner->band1) {
        owner->band1->OverLen2 = std::min(owner->tRad / map.mScale, std::numbers::pi * r0);
        owner->band1->OverLen1 = std::min(owner->tRad / map.mScale, std::numbers::pi * r1);
    } else if (map.ind == 0 && !owner->poleless && owner->cap0 && owner->cap1) {
        owner->cap0->scale = std::max(owner->tRad / (std::numbers::pi * r0), map.mScale);
        owner->cap1->scale = std::max(owner->tRad / (std::numbers::pi * r1), map.mScale);
    }

    Layout layout{map.tiles, map.tileCapacity, map.tileCount, map.heaps, map.heapCapacity,
                  map.heapCount, map.cells};
    const VersaTex* versa = VersaOwner(owner);
    const std::int64_t total = static_cast<std::int64_t>(coverage.cols) * coverage.rows;
    std::int64_t front = 0;
    std::int64_t back = total - 1;
    int attempts = 0;
    auto isCovered = [&](std::int64_t i) { return map.coverage[i] != 0; };
    while (true) {
        // Candidates come alternately from the front and the back of the raster.
        const bool fromBack = attempts % 2 == 1;
        while (front <= back && isCovered(front)) ++front;
        while (back >= front && isCovered(back)) --back;
        if (front > back) break;
        const std::int64_t candidate = fromBack ? back : front;
        const int cx = static_cast<int>(candidate % coverage.cols);
        const int cy = static_cast<int>(candidate / coverage.cols);

        const std::uint32_t state = owner->buildMarker;
        const double theta = (state / 2147483648.0 - 1) * params.taR + params.ta;
        const double along = map.lStart + (cy + 0.5) * stepAlong;
        double radius = RadiusAt(*owner, along);
        if (!(radius > 1e-9) || !std::isfinite(radius)) radius = 1e-9;
        // No lowering toward the band's start (a cap of 0.3 tRad times the share of the band
        // passed): on a default mapping it shrinks the first tile's scale a thousandfold, that
        // one tile covers the whole band and the band ends with three or four stretched tiles.
        const double scale = std::max(owner->tRad / (std::numbers::pi * radius), map.mScale);
        // Covered is what the image covers whatever its rotation: its inscribed disc.
        const double inner = 0.5 * std::min(image.w, image.h) / scale;
        const int hx = std::min(HalfExtent(inner / (radius * stepAround)), coverage.cols / 2 + 1);
        const int hy = std::min(HalfExtent(inner / stepAlong), coverage.rows + 1);
        const auto [tileX, tileY] = coverage.PlaceTile(cx, cy, hx, hy, tolerance, state, step);

        const double ca = std::fmod((tileX + 0.5) * stepAround, TWO_PI);
        const double cd = map.lStart + (tileY + 0.5) * stepAlong;
        layout.PushTile(MakeTile(theta, radius, scale, ca < 0 ? ca + TWO_PI : ca, cd));
        // Link the tile into every cell its whole image can reach.
        const double outer = owner->tRad / scale;
        const double angleReach = std::min(outer / radius, std::numbers::pi);
        const int c0 = static_cast<int>(std::floor((ca - angleReach) / cellAngle));
        const int c1 = angleReach >= std::numbers::pi ? c0 + map.hcells - 1
                                                      : static_cast<int>(std::floor((ca + angleReach) / cellAngle));
        const int v0 = std::max(0, static_cast<int>(std::floor((cd - outer - map.lStart) / cell)) + map.overCell1);
        const int v1 = std::min(map.vcells - 1,
                                static_cast<int>(std::floor((cd + outer - map.lStart) / cell)) + map.overCell1);
        for (int v = v0; v <= v1; ++v) {
            for (int c = c0; c <= c1; ++c) {
                const int wrapped = ((c % map.hcells) + map.hcells) % map.hcells;
                layout.Link(v * map.hcells + wrapped, map.tileCount - 1);
            }
        }
        owner->NextRandom();
        ++attempts;

        if (TexMapProgressHook != nullptr && versa != nullptr && attempts % 16 == 1) {
            // The raster starts uncovered, so the marked steps are the covered ones.
            const std::int64_t covered = coverage.markedCount;
            const double part = static_cast<double>(covered) / static_cast<double>(total);
            double fraction = 0.4 * part + (versa->buildStage == 1 ? 0.4 : 0.0);
            if (versa->buildStage >= 3) {
                fraction = 0.9 + 0.1 * static_cast<double>(versa->VTTMaps.size() - 1) /
                                     std::max(1, versa->edgeBandsToBuild);
            }
            ReportProgress(attempts, fraction);
        }
    }
    PrivateFreeAndClear(map.coverage);
    map.len = map.lEnd - map.lStart;
    return true;
}

bool BuildPolarMap(PolarMap& map) {
    FreePolarMap(map);
    CustomRevTex* owner = map.owner;
    ImageSize image;
    if (!OwnerImage(owner, image)) return false;
    const TextureParams& params = *owner->material;
    if (!(map.scale > 0) || !std::isfinite(map.scale) || !(map.lInner > 0) || !std::isfinite(map.lInner) ||
        !(owner->tRad > 0) || !std::isfinite(owner->tRad)) {
        return false;
    }
    map.lOuter = map.lInner + owner->tRad / map.scale;
    map.logr = std::log(map.lOuter / map.lInner);
    const double cell = 0.3 * std::min(image.w, image.h) / map.scale;
    const double cellsPerSide = std::floor(map.lOuter / cell) + 1;
    const double step = 4 / map.scale;
    const double stepsAcross = std::floor(map.lOuter / step) + 1;
    if (4 * cellsPerSide * cellsPerSide > MaxCellCount || 4 * stepsAcross * stepsAcross > MaxCoverageSteps) {
        return false;
    }
    ResetArrays(map.tiles, map.tileCapacity, map.tileCount, map.heaps, map.heapCapacity, map.heapCount);
    map.cellsPerSide = static_cast<std::int32_t>(cellsPerSide);
    const int side = 2 * map.cellsPerSide;
    map.cells = static_cast<std::int32_t*>(PrivateAlloc(static_cast<std::uint32_t>(side * side * 4)));
    std::fill(map.cells, map.cells + side * side, -1);
    const int n = map.cellsPerSide *
                  std::max(1, (static_cast<int>(stepsAcross) + map.cellsPerSide / 2) / map.cellsPerSide);
    const int tolerance = static_cast<int>(0.03 / step);

    // The raster spans the disc of radius lOuter on an n x n grid; steps outside the disc start
    // covered, and candidates run ring by ring from the outside in.
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(n) * n, 0);
    const double gridStep = 2 * map.lOuter / n;
    auto planeAt = [&](double i) { return (i + 0.5) * gridStep - map.lOuter; };
    // Outermost first, equal distances in raster order.
    std::vector<std::uint64_t> keys;
    std::vector<std::int32_t> order;
    keys.reserve(bits.size());
    order.reserve(bits.size());
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const double distance = std::hypot(planeAt(x), planeAt(y));
            if (distance > map.lOuter) {
                bits[static_cast<std::size_t>(y) * n + x] = 1;
            } else {
                // Distances are not negative, so their bit patterns order as the numbers do;
                // complemented, the farthest comes first.
                keys.push_back(~std::bit_cast<std::uint64_t>(distance));
                order.push_back(y * n + x);
            }
        }
    }
    StableSortByKey(keys, order);
    Coverage coverage;
    coverage.bits = bits.data();
    coverage.cols = coverage.rows = n;
    coverage.wrap = false;
    const double inner = 0.5 * std::min(image.w, image.h) / map.scale;
    const int half = std::min(HalfExtent(inner / gridStep), n);
    const double outer = owner->tRad / map.scale;

    Layout layout{map.tiles, map.tileCapacity, map.tileCount, map.heaps, map.heapCapacity,
                  map.heapCount, map.cells};
    const VersaTex* versa = VersaOwner(owner);
    int attempts = 0;
    for (std::int32_t candidate : order) {
        if (bits[static_cast<std::size_t>(candidate)] != 0) continue;
        const int cx = candidate % n;
        const int cy = candidate / n;
        const std::uint32_t state = owner->buildMarker;
        const double quarter = planeAt(cx) >= 0 ? std::numbers::pi / 2 : -std::numbers::pi / 2;
        const double theta = (state / 2147483648.0 - 1) * params.taR + params.ta + quarter;
        const auto [tileX, tileY] = coverage.PlaceTile(cx, cy, half, half, tolerance, state, step);
        const double px = planeAt(tileX);
        const double py = planeAt(tileY);
        layout.PushTile(MakeTile(theta, 1.0, map.scale, px, py));
        const int c0 = std::max(0, static_cast<int>(std::floor((px - outer) / cell)) + map.cellsPerSide);
        const int c1 = std::min(side - 1, static_cast<int>(std::floor((px + outer) / cell)) + map.cellsPerSide);
        const int v0 = std::max(0, static_cast<int>(std::floor((py - outer) / cell)) + map.cellsPerSide);
        const int v1 = std::min(side - 1, static_cast<int>(std::floor((py + outer) / cell)) + map.cellsPerSide);
        for (int v = v0; v <= v1; ++v) {
            for (int c = c0; c <= c1; ++c) layout.Link(v * side + c, map.tileCount - 1);
        }
        owner->NextRandom();
        ++attempts;
        if (versa != nullptr) {
            ReportProgress(attempts, 0.8 + 0.1 * static_cast<double>(versa->VTPMaps.size() - 1) /
                                               std::max(1, versa->edgeCapsToBuild));
        }
    }
    return true;
}
