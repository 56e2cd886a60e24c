#include "render/polygon_fill.h"

#include "core/lcg_random.h"
#include "support/even_odd.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using FillRun = std::tuple<std::int32_t, std::int32_t, std::int32_t>;

class RunCollector final : public PolygonRunSink {
public:
    void AddRun(std::int32_t y, std::int32_t firstX, std::int32_t lastX) override {
        runs.emplace_back(y, firstX, lastX);
    }
    std::vector<FillRun> runs;
};

std::vector<FillRun> Fill(const std::vector<PolygonPoint>& polygon, const PolygonClip& clip) {
    PolygonFillScratch scratch;
    RunCollector collector;
    FillPolygon(polygon, clip, scratch, collector);
    return collector.runs;
}

constexpr PolygonClip Large{-1000, -1000, 1000, 1000};

TEST(PolygonFill, RunsOfSmallShapes) {
    struct Case {
        const char* name;
        std::vector<PolygonPoint> polygon;
        PolygonClip clip;
        std::vector<FillRun> runs;
    };
    const std::vector<Case> cases = {
        {"square",
         {{0, 0}, {4, 0}, {4, 4}, {0, 4}},
         Large,
         {{0, 0, 3}, {1, 0, 3}, {2, 0, 3}, {3, 0, 3}}},
        {"flatter than a row, between centres",
         {{0, 0.6}, {5, 0.7}, {5, 1.4}, {0, 1.45}},
         Large,
         {}},
        {"wholly outside the rectangle",
         {{20, 20}, {30, 20}, {30, 30}},
         PolygonClip{0, 0, 10, 10},
         {}},
        // The triangle's edges cross row 2 at its centre (y = 2.5) at x = 2.5 and 7.5.
        {"crossing the rectangle's top",
         {{5, 0}, {10, 5}, {0, 5}},
         PolygonClip{0, 2, 100, 100},
         {{2, 2, 7}, {3, 1, 8}, {4, 0, 9}}},
        {"sliver narrower than a pixel", {{1.6, 0}, {1.9, 0}, {1.9, 3}, {1.6, 3}}, Large, {}},
        {"U shape",
         {{0, 0}, {2, 0}, {2, 3}, {4, 3}, {4, 0}, {6, 0}, {6, 5}, {0, 5}},
         Large,
         {{0, 0, 1}, {0, 4, 5}, {1, 0, 1}, {1, 4, 5}, {2, 0, 1}, {2, 4, 5}, {3, 0, 5}, {4, 0, 5}}},
        // A bow tie whose halves meet at (2, 2): each row takes its crossings in pairs.
        {"self-intersecting",
         {{0, 0}, {4, 4}, {4, 0}, {0, 4}},
         Large,
         {{0, 0, 0}, {0, 3, 3}, {1, 0, 1}, {1, 2, 3}, {2, 0, 1}, {2, 2, 3}, {3, 0, 0}, {3, 3, 3}}},
        {"clipped at the sides",
         {{-5, 0}, {50, 0}, {50, 1}, {-5, 1}},
         PolygonClip{2, 0, 9, 9},
         {{0, 2, 9}}},
        {"not a number",
         {{0, 0}, {4, std::numeric_limits<double>::quiet_NaN()}, {0, 4}},
         Large,
         {}},
        {"far off, clipped",
         {{-1e300, -1e300}, {1e300, -1e300}, {1e300, 1e300}, {-1e300, 1e300}},
         PolygonClip{0, 0, 2, 1},
         {{0, 0, 2}, {1, 0, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Fill(c.polygon, c.clip), c.runs);
    }
}

// Random polygons, many of them self-intersecting: the filled pixels are exactly those whose
// centre the even-odd test puts inside, and no pixel is passed twice.
TEST(PolygonFill, MatchesEvenOddTestOnRandomPolygons) {
    std::uint32_t state = 12345;
    const auto draw = [&state](double range) {
        state = LcgNext(state);
        return (state >> 8) * (range / 16777216.0);
    };
    const PolygonClip clip{3, 2, 36, 28};
    PolygonFillScratch scratch;  // one scratch for every fill
    for (std::int32_t round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        std::vector<PolygonPoint> polygon(3 + static_cast<std::size_t>(round % 9));
        for (PolygonPoint& p : polygon) p = {draw(44.0) - 2.0, draw(36.0) - 2.0};

        RunCollector collector;
        FillPolygon(polygon, clip, scratch, collector);
        std::set<std::pair<std::int32_t, std::int32_t>> filled;
        for (const auto& [y, first, last] : collector.runs) {
            for (std::int32_t x = first; x <= last; ++x) {
                EXPECT_TRUE(filled.emplace(x, y).second) << x << ", " << y;
            }
        }
        for (std::int32_t y = -4; y < 40; ++y) {
            for (std::int32_t x = -4; x < 46; ++x) {
                const bool inClip =
                    x >= clip.minX && x <= clip.maxX && y >= clip.minY && y <= clip.maxY;
                const bool expected = inClip && InsideEvenOdd(polygon, x + 0.5, y + 0.5);
                EXPECT_EQ(filled.count({x, y}) == 1, expected) << x << ", " << y;
            }
        }
    }
}

}  // namespace
