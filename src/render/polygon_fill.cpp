#include "render/polygon_fill.h"

#include "core/private_heap.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// ceil and floor of a value already held to the int32 range.
std::int32_t CeilToInt(double v) { return static_cast<std::int32_t>(std::ceil(v)); }
std::int32_t FloorToInt(double v) { return static_cast<std::int32_t>(std::floor(v)); }

// v held to lo..hi before any conversion, so that far-off vertices never overflow an int.
double HoldTo(double v, std::int32_t lo, std::int32_t hi) {
    return std::clamp(v, static_cast<double>(lo), static_cast<double>(hi));
}

void RemoveEdge(std::vector<PolygonActiveEdge>& active, std::int32_t edge) {
    const auto it = std::find_if(active.begin(), active.end(),
                                 [edge](const PolygonActiveEdge& e) { return e.edge == edge; });
    if (it != active.end()) active.erase(it);
}

// Adds edge k (from vertex k to the next) with its x at the centre of row y.
void AddEdge(std::vector<PolygonActiveEdge>& active, std::span<const PolygonPoint> polygon,
             std::int32_t k, std::int32_t y) {
    const std::size_t count = polygon.size();
    const PolygonPoint& a = polygon[static_cast<std::size_t>(k)];
    const PolygonPoint& b = polygon[(static_cast<std::size_t>(k) + 1) % count];
    const PolygonPoint& lower = a.y < b.y ? a : b;
    const PolygonPoint& upper = a.y < b.y ? b : a;
    PolygonActiveEdge entry;
    entry.slope = (upper.x - lower.x) / (upper.y - lower.y);
    entry.x = lower.x + entry.slope * (y + 0.5 - lower.y);
    entry.edge = k;
    active.push_back(entry);
}

// Adds or removes edge k, from vertex from to vertex to, at row y as vertex from is reached:
// an edge whose far end lies at or above the row's centre band ends, one that reaches below
// it starts.
void UpdateEdge(std::vector<PolygonActiveEdge>& active, std::span<const PolygonPoint> polygon,
                std::int32_t k, double farY, std::int32_t y) {
    if (farY <= y - 0.5) {
        RemoveEdge(active, k);
    } else if (farY > y + 0.5) {
        AddEdge(active, polygon, k, y);
    }
}

}  // namespace

void FillPolygon(std::span<const PolygonPoint> polygon, const PolygonClip& clip,
                 PolygonFillScratch& scratch, PolygonRunSink& sink) {
    const std::int32_t count = static_cast<std::int32_t>(polygon.size());
    if (count == 0 || clip.minX > clip.maxX || clip.minY > clip.maxY) return;
    double lowest = polygon[0].y;
    double highest = polygon[0].y;
    for (const PolygonPoint& p : polygon) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
        lowest = std::min(lowest, p.y);
        highest = std::max(highest, p.y);
    }

    std::vector<std::int32_t>& order = scratch.order;
    std::vector<PolygonActiveEdge>& active = scratch.active;
    TranslateBadAlloc([&] {
        order.resize(polygon.size());
        active.clear();
        active.reserve(polygon.size());
    });
    for (std::int32_t i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = i;
    const auto yOf = [&](std::int32_t v) { return polygon[static_cast<std::size_t>(v)].y; };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::int32_t a, std::int32_t b) { return yOf(a) < yOf(b); });

    // Rows whose centre lies within the polygon's height, held to the rectangle.
    const double firstRowValue = std::ceil(lowest - 0.5);
    const double lastRowValue = std::floor(highest - 0.5);
    if (firstRowValue > clip.maxY || lastRowValue < clip.minY) return;
    const std::int32_t firstRow =
        std::max(CeilToInt(HoldTo(firstRowValue, clip.minY, clip.maxY)), clip.minY);
    const std::int32_t lastRow =
        std::min(FloorToInt(HoldTo(lastRowValue, clip.minY, clip.maxY)), clip.maxY);
    if (firstRow > lastRow) return;

    std::size_t next = 0;
    for (std::int32_t y = firstRow; y <= lastRow; ++y) {
        // Vertices reached by this row's centre open and close their two edges.
        while (next < order.size() && yOf(order[next]) <= y + 0.5) {
            const std::int32_t v = order[next++];
            const std::int32_t previous = v == 0 ? count - 1 : v - 1;
            const std::int32_t following = v == count - 1 ? 0 : v + 1;
            UpdateEdge(active, polygon, previous, yOf(previous), y);
            UpdateEdge(active, polygon, v, yOf(following), y);
        }
        std::stable_sort(
            active.begin(), active.end(),
            [](const PolygonActiveEdge& a, const PolygonActiveEdge& b) { return a.x < b.x; });
        for (std::size_t i = 0; i + 1 < active.size(); i += 2) {
            const double left = std::ceil(active[i].x - 0.5);
            const double right = std::floor(active[i + 1].x - 0.5);
            if (left <= clip.maxX && right >= clip.minX && left <= right) {
                const std::int32_t firstX = CeilToInt(HoldTo(left, clip.minX, clip.maxX));
                const std::int32_t lastX = FloorToInt(HoldTo(right, clip.minX, clip.maxX));
                if (firstX <= lastX) sink.AddRun(y, firstX, lastX);
            }
        }
        for (PolygonActiveEdge& edge : active) edge.x += edge.slope;
    }
}
