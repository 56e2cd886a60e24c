#pragma once

// The even-odd test of a point against a closed polygon, independent of the renderer's
// scan conversion: the point is inside when a ray from it towards +x crosses an odd number
// of edges.

#include "render/polygon_fill.h"

#include <cstddef>
#include <vector>

inline bool InsideEvenOdd(const std::vector<PolygonPoint>& polygon, double x, double y) {
    bool inside = false;
    const std::size_t n = polygon.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const PolygonPoint& a = polygon[i];
        const PolygonPoint& b = polygon[j];
        if ((a.y > y) != (b.y > y) && x < a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y)) {
            inside = !inside;
        }
    }
    return inside;
}
