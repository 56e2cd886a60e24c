#include "platform/layered_display.h"

#include <algorithm>

namespace {

// Squared distance from a point to the nearest point of a rectangle (0 inside).
std::int64_t DistanceSquared(const ScreenRect& r, ScreenPoint p) {
    const std::int64_t dx = p.x < r.left     ? std::int64_t{r.left} - p.x
                            : p.x >= r.right ? std::int64_t{p.x} - (std::int64_t{r.right} - 1)
                                             : 0;
    const std::int64_t dy = p.y < r.top       ? std::int64_t{r.top} - p.y
                            : p.y >= r.bottom ? std::int64_t{p.y} - (std::int64_t{r.bottom} - 1)
                                              : 0;
    return dx * dx + dy * dy;
}

// Squared gap between two rectangles along both axes (0 when they touch or overlap).
std::int64_t GapSquared(const ScreenRect& a, const ScreenRect& b) {
    const std::int64_t gx =
        std::max<std::int64_t>({0, std::int64_t{b.left} - a.right, std::int64_t{a.left} - b.right});
    const std::int64_t gy =
        std::max<std::int64_t>({0, std::int64_t{b.top} - a.bottom, std::int64_t{a.top} - b.bottom});
    return gx * gx + gy * gy;
}

std::int64_t OverlapArea(const ScreenRect& a, const ScreenRect& b) {
    const std::int64_t w = std::int64_t{std::min(a.right, b.right)} - std::max(a.left, b.left);
    const std::int64_t h = std::int64_t{std::min(a.bottom, b.bottom)} - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace

std::optional<MonitorInfo> MonitorFromPoint(std::span<const MonitorInfo> monitors,
                                            ScreenPoint point) {
    std::optional<MonitorInfo> best;
    std::int64_t bestDistance = 0;
    for (const MonitorInfo& m : monitors) {
        const std::int64_t d = DistanceSquared(m.area, point);
        if (!best || d < bestDistance) {
            best = m;
            bestDistance = d;
        }
    }
    return best;
}

std::optional<MonitorInfo> MonitorFromRect(std::span<const MonitorInfo> monitors,
                                           const ScreenRect& rect, bool nearest) {
    if (monitors.empty()) return std::nullopt;
    const MonitorInfo* best = nullptr;
    std::int64_t bestArea = 0;
    for (const MonitorInfo& m : monitors) {
        const std::int64_t area = OverlapArea(m.area, rect);
        if (area > bestArea) {
            best = &m;
            bestArea = area;
        }
    }
    if (best != nullptr) return *best;
    if (nearest) {
        std::int64_t bestGap = 0;
        for (const MonitorInfo& m : monitors) {
            const std::int64_t gap = GapSquared(m.area, rect);
            if (best == nullptr || gap < bestGap) {
                best = &m;
                bestGap = gap;
            }
        }
        return *best;
    }
    const auto primary = std::find_if(monitors.begin(), monitors.end(),
                                      [](const MonitorInfo& m) { return m.isPrimary; });
    return primary != monitors.end() ? *primary : monitors.front();
}
