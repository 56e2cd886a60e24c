#include "geometry/part_octree.h"

#include "core/crt_random.h"
#include "core/private_heap.h"
#include "geometry/scene_geometry.h"
#include "geometry/surface_table.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace {

using quadric_parts::EllipsoidForm;
using quadric_parts::SphereForm;
using quadric_parts::Uniform;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(PartOctree, GridFloorTakesNegativeWholeNumbersOneLower) {
    const struct {
        double v;
        std::int32_t floor;
    } cases[] = {{0.0, 0},        {-0.0, 0},  {0.75, 0},  {3.0, 3},
                 {-0.25, -1},     {-2.0, -3}, {-2.5, -3}, {2147418113.0, 2147418113},
                 {NaN, INT32_MIN}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v);
        EXPECT_EQ(GridFloor(c.v), c.floor);
    }
}

// A bounding form straight from its parts: block A (symmetric), column b, constant c.
Matrix4W Form(const std::array<double, 6>& a, const std::array<double, 3>& b, double c) {
    Matrix4W q;
    q.m[0] = c;
    q.m[1] = q.m[4] = b[0];
    q.m[2] = q.m[8] = b[1];
    q.m[3] = q.m[12] = b[2];
    q.m[5] = a[0];
    q.m[6] = q.m[9] = a[1];
    q.m[7] = q.m[13] = a[2];
    q.m[10] = a[3];
    q.m[11] = q.m[14] = a[4];
    q.m[15] = a[5];
    return q;
}

// Each part is entered at the level of its largest span, in every cell of that level its box
// touches (links: one per cell); a bound that is no ellipsoid, or one reaching beyond
// 2,097,088 units, is not entered.
TEST(PartOctree, PartsEnterTheCellsOfTheirLevel) {
    const std::array<double, 6> identity{1, 0, 0, 1, 0, 1};
    struct Case {
        const char* what;
        Matrix4W bound;
        std::optional<GridBox> box;
        std::int32_t level;
        std::int32_t links;
        std::int32_t rootLevel;
    };
    const Case cases[] = {
        {"a unit ball", Form(identity, {0, 0, 0}, -1),
         GridBox{-1025, 1025, -1025, 1025, -1025, 1025}, 11, 8, 12},
        {"a ball in one grid unit",
         SphereForm(Vec3{0.5 / 1024, 0.5 / 1024, 0.5 / 1024}, 0.1 / 1024),
         GridBox{0, 1, 0, 1, 0, 1}, 0, 1, 1},
        // x from -2 exactly: GridFloor(-2048.0) = -2049, so x spans three cells of 2048.
        {"a ball whose box starts at a whole negative number", Form(identity, {1, 0, 0}, 0),
         GridBox{-2049, 1, -1025, 1025, -1025, 1025}, 11, 12, 13},
        {"an ellipsoid", Form({1.0 / 16, 0, 0, 1, 0, 16}, {0, 0, 0}, -1),
         GridBox{-4097, 4097, -1025, 1025, -257, 257}, 13, 8, 14},
        // The spans pass 2^31 grid units: level 31 and a root of 32.
        {"a ball of radius 2,000,000", Form(identity, {0, 0, 0}, -4e12),
         GridBox{-2048000001, 2048000001, -2048000001, 2048000001, -2048000001, 2048000001}, 31, 8,
         32},
        {"a ball touching the limit", Form(identity, {-2097087, 0, 0}, 2097087.0 * 2097087 - 1),
         GridBox{2147416064, 2147418113, -1025, 1025, -1025, 1025}, 11, 8, 32},
        {"a ball beyond the limit", SphereForm(Vec3{-2097087.5, 0, 0}, 1), std::nullopt, 0, 0, -1},
        {"a plane", Form({0, 0, 0, 0, 0, 0}, {0, 1, 0}, -1), std::nullopt, 0, 0, -1},
        {"a hyperboloid", Form({1, 0, 0, 1, 0, -1}, {0, 0, 0}, -1), std::nullopt, 0, 0, -1},
        // det A = 5 > 0 and every k (A^-1)_ii > 0, yet A is indefinite: no ellipsoid.
        {"an indefinite form of positive determinant", Form({1, 2, 2, 1, 2, 1}, {0, 0, 0}, 1),
         std::nullopt, 0, 0, -1},
        {"a ball inside out", Form({-1, 0, 0, -1, 0, -1}, {0, 0, 0}, 1), std::nullopt, 0, 0, -1},
        {"an empty ball", Form(identity, {0, 0, 0}, 1), std::nullopt, 0, 0, -1},
        {"a form that is not a number", Form(identity, {NaN, 0, 0}, -1), std::nullopt, 0, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(GridBoxOfBound(c.bound), c.box);
        SceneGeometry geometry;
        geometry.AddParts(std::vector<std::int32_t>{1}, false);
        PartRenderRecord& part = *geometry.Part(0);
        part.boundQuadric = c.bound;
        geometry.BuildOctree({}, 0);
        EXPECT_EQ(geometry.Octree().LinkCount(), c.links);
        EXPECT_EQ(geometry.Octree().RootLevel(), c.rootLevel);
        if (!c.box) {
            EXPECT_EQ(part.octreeLevel, NotInOctree);
            continue;
        }
        EXPECT_EQ(part.octreeLevel, c.level);
        EXPECT_EQ(part.octreeBounds, *c.box);
        const GridBox& b = *c.box;
        EXPECT_EQ(
            geometry.QueryOctree(GridBox{b[1] - 1, b[1], b[3] - 1, b[3], b[5] - 1, b[5]}).size(),
            1u);
        EXPECT_TRUE(geometry.QueryOctree(GridBox{b[1], b[1] + 1, b[2], b[3], b[4], b[5]}).empty());
    }
}

// ---- random scenes ----

// A log-uniform length between low and high.
double Length(double low, double high) { return low * std::pow(high / low, Uniform(0, 1)); }

// A bounding ellipsoid: mostly near the origin, some far out, one in ten no ellipsoid at all.
// Parts far out are not tiny, so that the form keeps the precision its box needs.
Matrix4W DrawBound() {
    if (CrtRand() % 10 == 0) return Form({0, 0, 0, 0, 0, 0}, {1, 0, 0}, 0);
    const double spread = CrtRand() % 4 == 0 ? 1e5 : 20;
    const Vec3 centre{Uniform(-spread, spread), Uniform(-spread, spread), Uniform(-spread, spread)};
    const double size = Length(std::max(1e-4, spread * 1e-5), 1e3);
    return EllipsoidForm(
        centre, Vec3{size * Uniform(0.2, 1), size * Uniform(0.2, 1), size * Uniform(0.2, 1)});
}

// A query box in grid units: around a part's box or anywhere, small to the whole grid.
GridBox DrawBox(SceneGeometry& geometry) {
    if (CrtRand() % 50 == 0)
        return GridBox{INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX};
    std::array<double, 3> centre{};
    const PartRenderRecord* near = geometry.Part(CrtRand() % geometry.PartCount());
    for (std::size_t a = 0; a < 3; ++a) {
        centre[a] = near->octreeLevel != NotInOctree && CrtRand() % 2 == 0
                        ? near->octreeBounds[2 * a] + Uniform(-2000, 2000)
                        : Uniform(-3e7, 3e7);
    }
    GridBox box{};
    for (std::size_t a = 0; a < 3; ++a) {
        const double half = Length(0.5, 1e8);
        box[2 * a] = static_cast<std::int32_t>(std::clamp(centre[a] - half, -2e9, 2e9));
        box[2 * a + 1] = static_cast<std::int32_t>(std::clamp(centre[a] + half, -2e9, 2e9)) + 1;
    }
    return box;
}

// The grid box of an axis-aligned ellipsoid form, from its centre and semi-axes.
std::optional<GridBox> ExpectedBox(const Matrix4W& q) {
    GridBox box{};
    for (std::size_t a = 0; a < 3; ++a) {
        const double inverse = q.m[5 * (a + 1)];
        if (!(inverse > 0)) return std::nullopt;
        const double centre = -q.m[a + 1] / inverse;
        const double k = q.m[1] * q.m[1] / q.m[5] + q.m[2] * q.m[2] / q.m[10] +
                         q.m[3] * q.m[3] / q.m[15] - q.m[0];
        const double half = std::sqrt(k / inverse);
        box[2 * a] = GridFloor(1024 * (centre - half));
        box[2 * a + 1] = GridFloor(1024 * (centre + half)) + 1;
    }
    return box;
}

std::int32_t ExpectedLevel(const GridBox& box) {
    std::int64_t span = 0;
    for (std::size_t a = 0; a < 3; ++a)
        span = std::max(span, std::int64_t{box[2 * a + 1]} - box[2 * a]);
    std::int32_t level = 0;
    while (level < 31 && (std::int64_t{2} << level) <= span) ++level;
    return level;
}

std::vector<std::int32_t> BruteForce(SceneGeometry& geometry, const GridBox& box) {
    std::vector<std::int32_t> parts;
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        const PartRenderRecord& part = *geometry.Part(i);
        if (part.octreeLevel == NotInOctree) continue;
        const GridBox& b = part.octreeBounds;
        bool overlap = true;
        for (std::size_t a = 0; a < 3; ++a) {
            overlap = overlap && b[2 * a] < box[2 * a + 1] && box[2 * a] < b[2 * a + 1];
        }
        if (overlap) parts.push_back(i);
    }
    return parts;
}

std::vector<std::int32_t> Sorted(std::span<const std::int32_t> parts) {
    std::vector<std::int32_t> sorted(parts.begin(), parts.end());
    std::ranges::sort(sorted);
    return sorted;
}

// Every part entered with the box its bound gives (to a grid unit: the forms are solved
// another way here) and the level of that box; every query lists each overlapping part once,
// and no mark stays set.
void ExpectQueriesMatchBruteForce(SceneGeometry& geometry, std::int32_t queries) {
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        SCOPED_TRACE(i);
        const PartRenderRecord& part = *geometry.Part(i);
        const std::optional<GridBox> box = ExpectedBox(part.boundQuadric);
        ASSERT_EQ(part.octreeLevel != NotInOctree, box.has_value());
        if (!box) continue;
        for (std::size_t b = 0; b < 6; ++b) EXPECT_NEAR(part.octreeBounds[b], (*box)[b], 1) << b;
        EXPECT_EQ(part.octreeLevel, ExpectedLevel(part.octreeBounds));
    }
    for (std::int32_t q = 0; q < queries; ++q) {
        const GridBox box = DrawBox(geometry);
        SCOPED_TRACE(testing::Message()
                     << "query " << q << ": " << box[0] << " " << box[1] << " " << box[2] << " "
                     << box[3] << " " << box[4] << " " << box[5]);
        const std::vector<std::int32_t> found = Sorted(geometry.QueryOctree(box));
        EXPECT_EQ(found, BruteForce(geometry, box));
        EXPECT_TRUE(std::ranges::adjacent_find(found) == found.end());
    }
    for (std::uint8_t mark : geometry.PartFlags()) ASSERT_EQ(mark, 0);
}

// Random scenes; parts move (entered again through the surface table update), arrive and
// leave; every query equals a brute-force overlap test, and in the end a fresh load of the
// same parts gives the same boxes, levels and answers.
TEST(PartOctree, QueriesEqualABruteForceOverlapTest) {
    for (std::uint32_t seed = 1; seed <= 5; ++seed) {
        SCOPED_TRACE(seed);
        CrtSrand(seed);
        SceneGeometry geometry;
        geometry.AddParts(std::vector<std::int32_t>(400, 0), false);
        for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
            geometry.Part(i)->boundQuadric = DrawBound();
        }
        UpdateSurfaceTable(geometry, true, {}, 0);
        ExpectQueriesMatchBruteForce(geometry, 300);

        for (std::int32_t round = 0; round < 4; ++round) {
            SCOPED_TRACE(round);
            std::vector<std::int32_t> moved;
            for (std::int32_t k = 0; k < 40; ++k) {
                const std::int32_t p = CrtRand() % geometry.PartCount();
                PartRenderRecord& part = *geometry.Part(p);
                if (CrtRand() % 2 == 0) {
                    part.boundQuadric = DrawBound();
                } else {  // a small step, which often keeps the cells
                    const double step = 0.01 * Uniform(-1, 1);
                    part.boundQuadric.m[0] -= 2 * part.boundQuadric.m[1] * step;
                    part.boundQuadric.m[1] = part.boundQuadric.m[4] -=
                        part.boundQuadric.m[5] * step;
                }
                moved.push_back(p);
            }
            geometry.AddParts(std::vector<std::int32_t>(5, 0), true);
            for (std::int32_t i = geometry.PartCount() - 5; i < geometry.PartCount(); ++i) {
                geometry.Part(i)->boundQuadric = DrawBound();
            }
            UpdateSurfaceTable(geometry, true, moved, 5);
            for (std::int32_t k = 0; k < 8; ++k) geometry.RemoveLastPart();
            ExpectQueriesMatchBruteForce(geometry, 200);
        }

        SceneGeometry fresh;
        fresh.AddParts(std::vector<std::int32_t>(static_cast<std::size_t>(geometry.PartCount()), 0),
                       false);
        for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
            fresh.Part(i)->boundQuadric = geometry.Part(i)->boundQuadric;
        }
        UpdateSurfaceTable(fresh, true, {}, 0);
        EXPECT_EQ(fresh.Octree().LinkCount(), geometry.Octree().LinkCount());
        for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
            EXPECT_EQ(fresh.Part(i)->octreeLevel, geometry.Part(i)->octreeLevel) << i;
            if (fresh.Part(i)->octreeLevel == NotInOctree) continue;
            EXPECT_EQ(fresh.Part(i)->octreeBounds, geometry.Part(i)->octreeBounds) << i;
        }
        for (std::int32_t q = 0; q < 100; ++q) {
            const GridBox box = DrawBox(geometry);
            EXPECT_EQ(Sorted(fresh.QueryOctree(box)), Sorted(geometry.QueryOctree(box))) << q;
        }
    }
}

// A scene of balls spread over a few thousand units, some tiny, some large.
void FillBalls(SceneGeometry& geometry, std::int32_t count) {
    geometry.AddParts(std::vector<std::int32_t>(static_cast<std::size_t>(count), 0), false);
    for (std::int32_t i = 0; i < count; ++i) {
        geometry.Part(i)->boundQuadric =
            SphereForm(Vec3{Uniform(-3000, 3000), Uniform(-3000, 3000), Uniform(-3000, 3000)},
                       Length(1e-3, 300));
    }
}

// Entering parts whose cells have not changed keeps them where they are; a full rebuild
// enters every part again although the records already name the same cells.
TEST(PartOctree, RebuildingWithoutChangesKeepsEveryPart) {
    CrtSrand(3);
    SceneGeometry geometry;
    FillBalls(geometry, 200);
    geometry.BuildOctree({}, 0);
    const std::int32_t nodes = geometry.Octree().NodeCount();
    const std::int32_t links = geometry.Octree().LinkCount();
    ASSERT_GE(links, 200);
    const GridBox all{INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX};
    ASSERT_EQ(geometry.QueryOctree(all).size(), 200u);

    std::vector<std::int32_t> every(200);
    for (std::int32_t i = 0; i < 200; ++i) every[static_cast<std::size_t>(i)] = i;
    geometry.BuildOctree(every, 0);
    EXPECT_EQ(geometry.Octree().NodeCount(), nodes);
    EXPECT_EQ(geometry.Octree().LinkCount(), links);

    geometry.BuildOctree({}, 0);
    EXPECT_EQ(geometry.Octree().NodeCount(), nodes);
    EXPECT_EQ(geometry.Octree().LinkCount(), links);
    EXPECT_EQ(geometry.QueryOctree(all).size(), 200u);
}

// Removing parts frees their links and every cell left empty, up to the root, which the last
// part leaves at level -1; the tree then takes parts again.
TEST(PartOctree, RemovingEveryPartEmptiesTheTree) {
    CrtSrand(4);
    SceneGeometry geometry;
    FillBalls(geometry, 100);
    geometry.BuildOctree({}, 0);
    while (geometry.PartCount() > 0) geometry.RemoveLastPart();
    EXPECT_EQ(geometry.Octree().NodeCount(), 1);
    EXPECT_EQ(geometry.Octree().LinkCount(), 0);
    EXPECT_EQ(geometry.Octree().RootLevel(), -1);

    geometry.AddParts(std::vector<std::int32_t>{0}, true);
    geometry.Part(0)->boundQuadric = SphereForm(Vec3{5, 5, 5}, 1);
    geometry.BuildOctree({}, 1);
    EXPECT_EQ(Sorted(geometry.QueryOctree(GridBox{5000, 5001, 5000, 5001, 5000, 5001})),
              std::vector<std::int32_t>{0});
}

// The smallest cell holding a query box may not exist while larger cells above it hold parts
// that overlap the box: the search starts at the deepest node on the way. A box that
// straddles the root's middle starts at the root.
TEST(PartOctree, QueriesBelowTheDeepestCellFindTheCellsAbove) {
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{0, 0, 0}, false);
    geometry.Part(0)->boundQuadric = SphereForm(Vec3{10, 10, 10}, 1);         // level 11
    geometry.Part(1)->boundQuadric = SphereForm(Vec3{-50, -50, -50}, 0.001);  // level 1
    geometry.Part(2)->boundQuadric = SphereForm(Vec3{-10, 10, 10}, 1);
    geometry.BuildOctree({}, 0);
    const GridBox inside{10340, 10341, 10240, 10241, 10240, 10250};
    EXPECT_EQ(Sorted(geometry.QueryOctree(inside)), std::vector<std::int32_t>{0});
    const GridBox across{-10000, 10000, 10000, 10001, 10000, 10001};
    EXPECT_EQ(Sorted(geometry.QueryOctree(across)), (std::vector<std::int32_t>{0, 2}));
    const GridBox beyond{1 << 30, (1 << 30) + 5, 0, 5, 0, 5};
    EXPECT_TRUE(geometry.QueryOctree(beyond).empty());
}

// An exhausted heap while a part enters leaves the tree and the part as they were; the part
// enters later. Parts arrive and move far away one at a time, each first with the heap
// refusing, so that every growth of the arrays is refused once.
TEST(PartOctree, RefusedGrowthChangesNothing) {
    CrtSrand(5);
    SceneGeometry geometry;
    std::int32_t refusals = 0;
    for (std::int32_t i = 0; i < 150; ++i) {
        SCOPED_TRACE(i);
        geometry.AddParts(std::vector<std::int32_t>{0}, true);
        geometry.Part(i)->boundQuadric =
            SphereForm(Vec3{Uniform(-3000, 3000), Uniform(-3000, 3000), Uniform(-3000, 3000)},
                       Length(1e-3, 300));
        std::int32_t links = geometry.Octree().LinkCount();
        PrivateHeapRefuseNext(1);
        try {
            geometry.BuildOctree({}, 1);
        } catch (const KVOutOfMemoryException&) {
            ++refusals;
            EXPECT_EQ(geometry.Part(i)->octreeLevel, NotInOctree);
            EXPECT_EQ(geometry.Octree().LinkCount(), links);
        }
        PrivateHeapRefuseNext(0);
        geometry.BuildOctree({}, 1);

        const std::int32_t p = CrtRand() % geometry.PartCount();
        PartRenderRecord& part = *geometry.Part(p);
        const std::int32_t level = part.octreeLevel;
        const GridBox bounds = part.octreeBounds;
        part.boundQuadric = SphereForm(Vec3{Uniform(-2e6, 2e6), 1e6, 0}, Length(1, 1e4));
        const std::vector<std::int32_t> moved{p};
        links = geometry.Octree().LinkCount();
        PrivateHeapRefuseNext(1);
        try {
            geometry.BuildOctree(moved, 0);
        } catch (const KVOutOfMemoryException&) {
            ++refusals;
            EXPECT_EQ(part.octreeLevel, level);
            EXPECT_EQ(part.octreeBounds, bounds);
            EXPECT_EQ(geometry.Octree().LinkCount(), links);
            const auto found = geometry.QueryOctree(bounds);
            EXPECT_NE(std::ranges::find(found, p), found.end());
        }
        PrivateHeapRefuseNext(0);
        geometry.BuildOctree(moved, 0);
    }
    EXPECT_GT(refusals, 0);
    ExpectQueriesMatchBruteForce(geometry, 200);
}

// A query whose list cannot grow leaves no mark behind.
TEST(PartOctree, RefusedQueryLeavesNoMarks) {
    CrtSrand(6);
    SceneGeometry geometry;
    FillBalls(geometry, 30);
    geometry.BuildOctree({}, 0);
    const GridBox all{INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX};
    PrivateHeapRefuseNext(1);
    EXPECT_THROW(geometry.QueryOctree(all), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    for (std::uint8_t mark : geometry.PartFlags()) EXPECT_EQ(mark, 0);
    EXPECT_EQ(geometry.QueryOctree(all).size(), 30u);
}

}  // namespace
