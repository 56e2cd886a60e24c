#include "texture/tex_maps.h"

#include "core/private_heap.h"
#include "texture/object_tex.h"
#include "texture/texture_params.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

TexMapProgressFn TexMapProgressHook = nullptr;

namespace {

constexpr double TwoPi = 2 * std::numbers::pi;
constexpr std::int64_t MaxCellCount = 1 << 22;
constexpr std::int64_t MaxCoverageSteps = 1 << 25;
constexpr int RefineSteps = 5;

template <typename T>
void FreeAndClear(T*& block) {
    PrivateFree(block);
    block = nullptr;
}

// Grows a private-heap array by `step` elements when full; throws KVOutOfMemoryException.
template <typename T>
void Reserve(T*& array, std::int32_t& capacity, std::int32_t count, std::int32_t step) {
    if (count < capacity) return;
    const std::uint32_t bytes = static_cast<std::uint32_t>(sizeof(T)) * static_cast<std::uint32_t>(capacity + step);
    array = static_cast<T*>(PrivateReallocPtr(array, bytes));
    capacity += step;
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

// The coverage raster of a build: cols x rows steps, 1 when covered. Columns wrap around in a
// band; nothing wraps in a cap.
struct Coverage {
    std::uint8_t* bits = nullptr;
    int cols = 0;
    int rows = 0;
    bool wrap = false;

    bool Inside(int x, int y) const { return y >= 0 && y < rows && (wrap || (x >= 0 && x < cols)); }
    std::uint8_t& At(int x, int y) {
        const int wx = wrap ? ((x % cols) + cols) % cols : x;
        return bits[static_cast<std::ptrdiff_t>(y) * cols + wx];
    }

    // Uncovered steps of the ellipse (hx, hy) around (cx, cy) in each of eight octants.
    void CountOctants(int cx, int cy, int hx, int hy, int counts[8]) {
        std::fill(counts, counts + 8, 0);
        for (int dy = -hy; dy <= hy; ++dy) {
            for (int dx = -hx; dx <= hx; ++dx) {
                if ((dx == 0 && dy == 0) || !Inside(cx + dx, cy + dy)) continue;
                const double ex = static_cast<double>(dx) / hx;
                const double ey = static_cast<double>(dy) / hy;
                if (ex * ex + ey * ey > 1 || At(cx + dx, cy + dy) != 0) continue;
                double angle = std::atan2(dy, dx);
                if (angle < 0) angle += TwoPi;
                counts[std::min(7, static_cast<int>(angle / (TwoPi / 8)))]++;
            }
        }
    }

    void Mark(int cx, int cy, int hx, int hy) {
        for (int dy = -hy; dy <= hy; ++dy) {
            for (int dx = -hx; dx <= hx; ++dx) {
                const double ex = static_cast<double>(dx) / hx;
                const double ey = static_cast<double>(dy) / hy;
                if (ex * ex + ey * ey <= 1 && Inside(cx + dx, cy + dy)) At(cx + dx, cy + dy) = 1;
            }
        }
    }

    // Moves the candidate toward the uncovered side: one step at a time in the direction whose
    // two adjacent octants hold the most uncovered steps, at most five times.
    void Refine(int& cx, int& cy, int hx, int hy) {
        static constexpr int Dx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
        static constexpr int Dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
        for (int step = 0; step < RefineSteps; ++step) {
            int counts[8];
            CountOctants(cx, cy, hx, hy, counts);
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
};

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
    FreeAndClear(tiles);
    FreeAndClear(heaps);
    tileCount = heapCount = 0;
    tileCapacity = heapCapacity = 0;
    Reserve(heaps, heapCapacity, 0, 64);
    Reserve(tiles, tileCapacity, 0, 8);
}

template <typename Map>
void FreeMapBuffers(Map& map) {
    FreeAndClear(map.cells);
    FreeAndClear(map.heaps);
    FreeAndClear(map.tiles);
    FreeAndClear(map.coverage);
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
    const double stepAround = TwoPi / coverage.cols;          // angle per column
    const double stepAlong = bandLength / coverage.rows;      // length per row
    const double cellAngle = TwoPi / map.hcells;

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
    std::int64_t covered = 0;
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
        int cx = static_cast<int>(candidate % coverage.cols);
        int cy = static_cast<int>(candidate / coverage.cols);
        const int startX = cx;
        const int startY = cy;

        const std::uint32_t state = owner->buildMarker;
        const double theta = (state / 2147483648.0 - 1) * params.taR + params.ta;
        const double along = map.lStart + (cy + 0.5) * stepAlong;
        double radius = RadiusAt(*owner, along);
        if (!(radius > 1e-9) || !std::isfinite(radius)) radius = 1e-9;
        const double scale = std::max(owner->tRad / (std::numbers::pi * radius), map.mScale);
        // Covered is what the image covers whatever its rotation: its inscribed disc.
        const double inner = 0.5 * std::min(image.w, image.h) / scale;
        const int hx = std::min(HalfExtent(inner / (radius * stepAround)), coverage.cols / 2 + 1);
        const int hy = std::min(HalfExtent(inner / stepAlong), coverage.rows + 1);
        coverage.Refine(cx, cy, hx, hy);
        double shiftX = cx - startX;
        const double shiftY = cy - startY;
        if (std::fabs(shiftX) <= tolerance && std::fabs(shiftY) <= tolerance) {
            shiftX += std::min(state / (step * 8 * 2147483648.0), static_cast<double>(hx));
        }
        const double tileX = startX + 0.9 * shiftX;
        const double tileY = startY + 0.9 * shiftY;
        coverage.Mark(static_cast<int>(std::lround(tileX)), static_cast<int>(std::lround(tileY)), hx, hy);
        coverage.At(startX, startY) = 1;  // every tile covers its candidate, so the loop ends

        const double ca = std::fmod((tileX + 0.5) * stepAround, TwoPi);
        const double cd = map.lStart + (tileY + 0.5) * stepAlong;
        layout.PushTile(MakeTile(theta, radius, scale, ca < 0 ? ca + TwoPi : ca, cd));
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

        covered = 0;
        if (TexMapProgressHook != nullptr && versa != nullptr && attempts % 16 == 1) {
            for (std::int64_t i = 0; i < total; ++i) covered += map.coverage[i];
            const double part = static_cast<double>(covered) / static_cast<double>(total);
            double fraction = 0.4 * part + (versa->buildStage == 1 ? 0.4 : 0.0);
            if (versa->buildStage >= 3) {
                fraction = 0.9 + 0.1 * static_cast<double>(versa->VTTMaps.size() - 1) /
                                     std::max(1, versa->edgeBandsToBuild);
            }
            ReportProgress(attempts, fraction);
        }
    }
    FreeAndClear(map.coverage);
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
    std::vector<std::int32_t> order;
    order.reserve(bits.size());
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            if (std::hypot(planeAt(x), planeAt(y)) > map.lOuter) {
                bits[static_cast<std::size_t>(y) * n + x] = 1;
            } else {
                order.push_back(y * n + x);
            }
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        return std::hypot(planeAt(a % n), planeAt(a / n)) > std::hypot(planeAt(b % n), planeAt(b / n));
    });
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
        int cx = candidate % n;
        int cy = candidate / n;
        const int startX = cx;
        const int startY = cy;
        const std::uint32_t state = owner->buildMarker;
        const double quarter = planeAt(cx) >= 0 ? std::numbers::pi / 2 : -std::numbers::pi / 2;
        const double theta = (state / 2147483648.0 - 1) * params.taR + params.ta + quarter;
        coverage.Refine(cx, cy, half, half);
        double shiftX = cx - startX;
        const double shiftY = cy - startY;
        if (std::fabs(shiftX) <= tolerance && std::fabs(shiftY) <= tolerance) {
            shiftX += std::min(state / (step * 8 * 2147483648.0), static_cast<double>(half));
        }
        const double tileX = startX + 0.9 * shiftX;
        const double tileY = startY + 0.9 * shiftY;
        coverage.Mark(static_cast<int>(std::lround(tileX)), static_cast<int>(std::lround(tileY)), half, half);
        coverage.At(startX, startY) = 1;
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
