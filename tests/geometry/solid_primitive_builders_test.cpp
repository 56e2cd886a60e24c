#include "geometry/solid_primitive_builders.h"

#include "geometry/feature_table.h"
#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace shape_build_test;

constexpr double Pi = std::numbers::pi;

// One solid: its parameters, where it is, an independent description of its inside in part
// coordinates, a box about the part's origin that holds it, and its volume (0: not checked).
struct SolidCase {
    std::string name;
    ShapeType type;
    std::vector<double> params;
    std::function<bool(const Vec3&)> inside;
    Vec3 half;
    double volume = 0;
    Vec3 position{3, -2, 5};
    Vec3 rotation{0.3, -0.5, 0.7};
};

bool InSlab(double v, double extent) { return std::abs(v) <= extent / 2; }
double Radial(const Vec3& p) { return std::sqrt(p.x * p.x + p.z * p.z); }

// Volume of the sphere of radius r about height d between the heights lo and hi.
double SphereSliceVolume(double r, double d, double lo, double hi) {
    lo = std::max(lo, d - r);
    hi = std::min(hi, d + r);
    if (hi <= lo) return 0.0;
    const auto f = [&](double y) { return r * r * y - (y - d) * (y - d) * (y - d) / 3; };
    return Pi * (f(hi) - f(lo));
}

std::vector<SolidCase> SolidCases() {
    std::vector<SolidCase> cases;
    cases.push_back({"sphere",
                     ShapeType::Sphere,
                     {1.5},
                     [](const Vec3& p) { return Vec3Length(p) <= 1.5; },
                     {1.6, 1.6, 1.6},
                     4.0 / 3 * Pi * 1.5 * 1.5 * 1.5});
    cases.push_back({"cylinder",
                     ShapeType::Cylinder,
                     {3, 1},
                     [](const Vec3& p) { return Radial(p) <= 1 && InSlab(p.y, 3); },
                     {1.1, 1.6, 1.1},
                     Pi * 3});
    cases.push_back(
        {"box",
         ShapeType::Box,
         {2, 3, 1.5},
         [](const Vec3& p) { return InSlab(p.x, 2) && InSlab(p.y, 3) && InSlab(p.z, 1.5); },
         {1.1, 1.6, 0.85},
         2 * 3 * 1.5});
    cases.push_back({"frustum",
                     ShapeType::Frustum,
                     {3, 1.5, 0.5},
                     [](const Vec3& p) {
                         return InSlab(p.y, 3) && Radial(p) <= 1.5 + (0.5 - 1.5) * (p.y + 1.5) / 3;
                     },
                     {1.6, 1.6, 1.6},
                     Pi * 3 * (1.5 * 1.5 + 1.5 * 0.5 + 0.5 * 0.5) / 3});
    // Width 2, depth 1 at the bottom and 2.5 at the top, length 3.
    cases.push_back({"tapered prism",
                     ShapeType::TaperedPrism,
                     {2, 1, 2.5, 3},
                     [](const Vec3& p) {
                         const double depth = 1 + (2.5 - 1) * (p.y + 1.5) / 3;
                         return InSlab(p.x, 2) && InSlab(p.y, 3) && InSlab(p.z, depth);
                     },
                     {1.1, 1.6, 1.3},
                     2 * 3 * (1 + 2.5) / 2});
    cases.push_back({"sphere zone cut twice",
                     ShapeType::SphereZone,
                     {2, 2, 0.5},
                     [](const Vec3& p) {
                         return InSlab(p.y, 2) && Vec3Length(Vec3Sub(p, {0, 0.5, 0})) <= 2;
                     },
                     {2.1, 1.1, 2.1},
                     SphereSliceVolume(2, 0.5, -1, 1)});
    cases.push_back({"sphere zone cut once",
                     ShapeType::SphereZone,
                     {1, 3, 1},
                     [](const Vec3& p) {
                         return InSlab(p.y, 3) && Vec3Length(Vec3Sub(p, {0, 1, 0})) <= 1;
                     },
                     {1.1, 1.6, 1.1},
                     SphereSliceVolume(1, 1, -1.5, 1.5)});
    // The section is the circle less four segments of 45 degrees.
    const double flat = 1.5 * std::cos(Pi / 8);
    const double section = Pi * 1.5 * 1.5 - 4 * 0.5 * 1.5 * 1.5 * (Pi / 4 - std::sin(Pi / 4));
    cases.push_back({"flat-sided cylinder",
                     ShapeType::FlatSidedCylinder,
                     {2, 1.5},
                     [flat](const Vec3& p) {
                         return Radial(p) <= 1.5 && std::abs(p.x) <= flat &&
                                std::abs(p.z) <= flat && InSlab(p.y, 2);
                     },
                     {1.6, 1.1, 1.6},
                     section * 2});
    cases.push_back(
        {"ellipsoid",
         ShapeType::Ellipsoid,
         {1, 2, 1.5},
         [](const Vec3& p) { return p.x * p.x + p.y * p.y / 4 + p.z * p.z / 2.25 <= 1; },
         {1.1, 2.1, 1.6},
         4.0 / 3 * Pi * 1 * 2 * 1.5});
    // Spheroids are placed by their own centre and axis; the sampling box is about the centre.
    const auto spheroid = [](const Vec3& centre, const Vec3& axis, double l, double r) {
        const Vec3 u = Vec3Scale(axis, 1.0 / Vec3Length(axis));
        return [=](const Vec3& q) {
            const Vec3 p = Vec3Sub(q, centre);
            const double along = Vec3Dot(p, u);
            const double acrossSquare = Vec3Dot(p, p) - along * along;
            return along * along / (l * l) + acrossSquare / (r * r) <= 1;
        };
    };
    cases.push_back({"prolate spheroid on a slant",
                     ShapeType::Spheroid,
                     {1, 2, -1, 1, 1, 0.5, 3, 1},
                     spheroid({1, 2, -1}, {1, 1, 0.5}, 3, 1),
                     {3.1, 3.1, 3.1},
                     4.0 / 3 * Pi * 3 * 1 * 1,
                     {1, 2, -1},
                     {}});
    cases.push_back({"oblate spheroid on a slant",
                     ShapeType::Spheroid,
                     {0, 0, 0, 0, 1, 2, 0.8, 2},
                     spheroid({}, {0, 1, 2}, 0.8, 2),
                     {2.1, 2.1, 2.1},
                     4.0 / 3 * Pi * 0.8 * 2 * 2,
                     {},
                     {}});
    // Facet i of each rim is the plane through the rim points at 2 pi i / n -+ T/2 that leans
    // out at 45 degrees; p3 = 2.5 gives three facets per rim.
    const auto faceted = [](const Vec3& p) {
        const double r = 1.5, h = 2, t = 0.8;
        if (Radial(p) > r || !InSlab(p.y, h)) return false;
        for (int i = 0; i < 3; ++i) {
            const double a = 2 * Pi * i / 3;
            for (double side : {1.0, -1.0}) {
                const Vec3 rim{r * std::cos(a + t / 2), side * h / 2, r * std::sin(a + t / 2)};
                const Vec3 normal{std::cos(a), side, std::sin(a)};
                if (Vec3Dot(normal, Vec3Sub(p, rim)) > 0) return false;
            }
        }
        return true;
    };
    cases.push_back({"faceted cylinder",
                     ShapeType::FacetedCylinder,
                     {2, 1.5, 0.8, 2.5},
                     faceted,
                     {1.6, 1.1, 1.6},
                     0});
    return cases;
}

// Grid points at the centres of n^3 cells of the case's box, in part coordinates. The box is
// stretched a little so that no grid plane falls on a face of the solid, where rounding alone
// decides.
template <typename Fn>
void ForEachSample(const SolidCase& c, int n, Fn fn) {
    const Vec3 centre = c.type == ShapeType::Spheroid ? c.position : Vec3{};
    const Vec3 half = Vec3Scale(c.half, 1.0123);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) {
                const auto at = [n](int index, double extent) {
                    return -extent + (2 * index + 1) * extent / n;
                };
                fn(Vec3Add(centre, Vec3{at(i, half.x), at(j, half.y), at(k, half.z)}));
            }
        }
    }
}

// The part's world point of a sampled point (spheroids are built in world coordinates).
Vec3 WorldOf(const SolidCase& c, const Vec3& local) {
    if (c.type == ShapeType::Spheroid) return local;
    return PlacedPoint(local, c.position, c.rotation);
}

std::int32_t BuildCase(OnePart& one, const SolidCase& c) {
    WorkingPartRecord w = Working(c.type, c.params, c.position, c.rotation);
    if (c.type == ShapeType::Spheroid) w.position = w.rotation = Vec3{};
    return one.Build(w);
}

TEST(SolidPrimitiveBuilders, BuiltSurfacesFillTheAnalyticVolume) {
    constexpr int n = 64;
    for (const SolidCase& c : SolidCases()) {
        SCOPED_TRACE(c.name);
        OnePart one;
        ASSERT_EQ(BuildCase(one, c), 0);
        const PartRenderRecord& part = one.Part();
        std::int64_t inside = 0;
        std::int64_t disagree = 0;
        ForEachSample(c, n, [&](const Vec3& local) {
            const bool built = InsideSurfaces(part, WorldOf(c, local));
            inside += built;
            disagree += built != c.inside(local);
        });
        // The forms are exact: only points within rounding of the boundary may disagree.
        EXPECT_LE(disagree, 2);
        EXPECT_GT(inside, n * n * n / 20);
        if (c.volume > 0) {
            const double cell =
                8 * std::pow(1.0123, 3) * c.half.x * c.half.y * c.half.z / (n * n * n);
            EXPECT_NEAR(static_cast<double>(inside) * cell, c.volume, 0.03 * c.volume);
        }
    }
}

// Every point inside the part satisfies the bounding quadric and lies within the bounding
// sphere, whatever the part's rotation (the slanted spheroids are where a radius taken from
// the bound's smallest diagonal element falls short).
TEST(SolidPrimitiveBuilders, InsidePointsLieInTheBoundAndTheBoundingSphere) {
    for (const SolidCase& c : SolidCases()) {
        SCOPED_TRACE(c.name);
        OnePart one;
        ASSERT_EQ(BuildCase(one, c), 0);
        const PartRenderRecord& part = one.Part();
        double worstBound = -1e300;
        double worstDistance = 0;
        ForEachSample(c, 32, [&](const Vec3& local) {
            const Vec3 world = WorldOf(c, local);
            if (!InsideSurfaces(part, world)) return;
            worstBound = std::max(worstBound, FormAt(part.boundQuadric, world));
            worstDistance = std::max(worstDistance, Vec3Length(Vec3Sub(world, part.boundCentre)));
        });
        EXPECT_LE(worstBound, 1e-9);
        EXPECT_LE(worstDistance, part.boundRadius * (1 + 1e-12));
        // The sphere is not needlessly large: the part reaches out to within half of it.
        EXPECT_GE(worstDistance, 0.5 * part.boundRadius);
    }
}

// The collision proxies, in world coordinates: the kind follows the shape's proportions, and
// the points turn with the part while the radius stays.
TEST(SolidPrimitiveBuilders, ProxiesFollowTheShapeAndThePlacement) {
    struct Case {
        const char* name;
        ShapeType type;
        std::vector<double> params;
        ProxyKind kind;
        Vec3 a, b, c;
        double radius;
    };
    const std::vector<Case> cases{
        {"sphere", ShapeType::Sphere, {2}, ProxyKind::Sphere, {}, {}, {}, 2},
        {"cylinder 2r = h",
         ShapeType::Cylinder,
         {2, 1},
         ProxyKind::Capsule,
         {0, -1, 0},
         {0, 1, 0},
         {},
         1},
        {"flatter cylinder",
         ShapeType::Cylinder,
         {1.99, 1},
         ProxyKind::Disc,
         {1, 0, 0},
         {-1, 0, 0},
         {0, 0, 1},
         0.995},
        {"cube", ShapeType::Box, {2, 2, 2}, ProxyKind::Capsule, {-1, 0, 0}, {1, 0, 0}, {}, 1},
        {"box tallest in y",
         ShapeType::Box,
         {2, 4, 1},
         ProxyKind::Capsule,
         {0, -2, 0},
         {0, 2, 0},
         {},
         0.5},
        {"box longest in z",
         ShapeType::Box,
         {2, 3, 4},
         ProxyKind::Capsule,
         {0, 0, -2},
         {0, 0, 2},
         {},
         1},
        {"tall frustum",
         ShapeType::Frustum,
         {4, 2, 1},
         ProxyKind::Capsule,
         {0, -2, 0},
         {0, 2, 0},
         {},
         1},
        {"flat frustum",
         ShapeType::Frustum,
         {1, 2, 1},
         ProxyKind::Disc,
         {2, 0, 0},
         {-2, 0, 0},
         {0, 0, 1},
         0.5},
        {"tapered prism",
         ShapeType::TaperedPrism,
         {2, 1, 3, 4},
         ProxyKind::Sphere,
         {},
         {},
         {},
         0.5},
        {"sphere zone", ShapeType::SphereZone, {2, 1, 0.5}, ProxyKind::Sphere, {}, {}, {}, 0.5},
        {"flat-sided cylinder",
         ShapeType::FlatSidedCylinder,
         {3, 1},
         ProxyKind::Capsule,
         {0, -1.5, 0},
         {0, 1.5, 0},
         {},
         1},
        {"ellipsoid",
         ShapeType::Ellipsoid,
         {1, 2, 1.5},
         ProxyKind::Capsule,
         {0, -2, 0},
         {0, 2, 0},
         {},
         0},
        {"faceted cylinder",
         ShapeType::FacetedCylinder,
         {2, 1, 0.5, 3},
         ProxyKind::Capsule,
         {0, -1, 0},
         {0, 1, 0},
         {},
         1},
    };
    const Vec3 position{1, 2, 3};
    const Vec3 rotation{0.4, 0.9, -0.2};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnePart one;
        ASSERT_EQ(one.Build(Working(c.type, c.params, position, rotation)), 0);
        const PartRenderRecord& part = one.Part();
        EXPECT_EQ(part.proxyKind, c.kind);
        const ProxyParts proxy = ReadProxy(part.proxy);
        const auto expectNear = [](const Vec3& got, const Vec3& want) {
            EXPECT_NEAR(got.x, want.x, 1e-12);
            EXPECT_NEAR(got.y, want.y, 1e-12);
            EXPECT_NEAR(got.z, want.z, 1e-12);
        };
        expectNear(proxy.a, PlacedPoint(c.a, position, rotation));
        EXPECT_EQ(part.proxy.m[0], 1.0);
        if (c.kind != ProxyKind::Sphere) {
            expectNear(proxy.b, PlacedPoint(c.b, position, rotation));
            EXPECT_EQ(part.proxy.m[1], 1.0);
        }
        expectNear(proxy.c, PlacedPoint(c.c, {}, rotation));
        EXPECT_EQ(part.proxy.m[2], 0.0);
        EXPECT_NEAR(proxy.radius, c.radius, 1e-15);
    }
}

// The box's corners lie on three of its planes and inside the others; each edge joins two
// corners that lie on both its planes. The flat-sided cylinder's corners, where flats and arcs
// meet, lie on the side, a flat and an end plane.
TEST(SolidPrimitiveBuilders, CornersLieWhereTheirSurfacesMeet) {
    struct Case {
        const char* name;
        ShapeType type;
        std::vector<double> params;
        std::int32_t corners;
        std::int32_t edges;
        std::int32_t groups;
    };
    const std::vector<Case> cases{
        {"box", ShapeType::Box, {2, 3, 1.5}, 8, 12, 4},
        {"flat-sided cylinder", ShapeType::FlatSidedCylinder, {2, 1.5}, 16, 14, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnePart one;
        ASSERT_EQ(one.Build(Working(c.type, c.params, {3, -2, 5}, {0.3, -0.5, 0.7})), 0);
        const PartRenderRecord& part = one.Part();
        const FeatureTable& table = *part.features;
        ASSERT_EQ(table.cornerCount, c.corners);
        EXPECT_EQ(table.edgeCount, c.edges);
        EXPECT_EQ(table.groupCount, c.groups);
        const auto onSurface = [&](const Vec3& p, std::int32_t s) {
            return std::abs(FormAt(part.Surfaces()[static_cast<std::size_t>(s)], p)) < 1e-12;
        };
        for (const Vec3& corner : FeatureTableCorners(table)) {
            std::int32_t on = 0;
            for (std::int32_t s = 0; s < part.surfaceCount; ++s) {
                on += onSurface(corner, s);
                EXPECT_LE(FormAt(part.Surfaces()[static_cast<std::size_t>(s)], corner), 1e-12);
            }
            EXPECT_EQ(on, 3);
        }
        for (const FeatureEdge& edge : FeatureTableEdges(table)) {
            EXPECT_LT(edge.otherSurface, edge.surface);
            if (edge.curve != FeatureCurve::TwoPlanes) continue;
            std::int32_t ends = 0;
            for (const Vec3& corner : FeatureTableCorners(table)) {
                ends += onSurface(corner, edge.surface) && onSurface(corner, edge.otherSurface);
            }
            EXPECT_EQ(ends, 2) << edge.surface << " " << edge.otherSurface;
        }
    }
}

// Rounding of the facet count (halves away from zero) and the plain cylinder below one facet.
TEST(SolidPrimitiveBuilders, FacetCountsRoundToTheNearestWhole) {
    const std::vector<std::pair<double, std::int32_t>> cases{
        {2.5, 9}, {2.49, 7}, {-0.4, 3}, {0.5, 5}, {14, 31}};
    for (const auto& [p3, surfaces] : cases) {
        SCOPED_TRACE(p3);
        OnePart one;
        ASSERT_EQ(one.Build(Working(ShapeType::FacetedCylinder, {2, 1, 0.5, p3})), 0);
        EXPECT_EQ(one.Part().surfaceCount, surfaces);
        EXPECT_EQ(one.Part().shapeClass, 1);
    }
}

// A sphere zone lists a rim edge for each plane that cuts its sphere.
TEST(SolidPrimitiveBuilders, SphereZoneEdgesFollowTheCuttingPlanes) {
    struct Case {
        std::vector<double> params;
        std::vector<std::int32_t> cutting;
    };
    const std::vector<Case> cases{
        {{2, 2, 0.5}, {1, 2}},  // both planes cut
        {{1, 3, 1}, {2}},       // the sphere reaches only the upper plane
        {{1, 4, 0.5}, {}},      // the slab holds the whole sphere
    };
    for (const Case& c : cases) {
        OnePart one;
        ASSERT_EQ(one.Build(Working(ShapeType::SphereZone, c.params)), 0);
        std::vector<std::int32_t> surfaces;
        for (const FeatureEdge& edge : FeatureTableEdges(*one.Part().features)) {
            EXPECT_EQ(edge.otherSurface, 0);
            EXPECT_EQ(edge.curve, FeatureCurve::PlaneCurved);
            surfaces.push_back(edge.surface);
        }
        EXPECT_EQ(surfaces, c.cutting);
    }
}

// A frustum closing to a point at one end is built with that end at 0.001 of the other.
TEST(SolidPrimitiveBuilders, FrustumEndsNeverCloseToAPoint) {
    OnePart one;
    ASSERT_EQ(one.Build(Working(ShapeType::Frustum, {2, 1, 0})), 0);
    const Matrix4W& cone = one.Part().Surfaces()[0];
    EXPECT_NEAR(FormAt(cone, {0.001, 1, 0}), 0.0, 1e-15);
    EXPECT_NEAR(FormAt(cone, {1, -1, 0}), 0.0, 1e-15);
}

// The planes of the box and the prism are planes: element 15 is 0 until they are conditioned
// for rendering, and shapeClass is 0.
TEST(SolidPrimitiveBuilders, PlanesCarryNoQuadraticTerms) {
    for (const auto& [type, params] : std::vector<std::pair<ShapeType, std::vector<double>>>{
             {ShapeType::Box, {1, 2, 3}}, {ShapeType::TaperedPrism, {1, 2, 3, 4}}}) {
        OnePart one;
        ASSERT_EQ(one.Build(Working(type, params, {1, 1, 1}, {0.2, 0.3, 0.4})), 0);
        EXPECT_EQ(one.Part().shapeClass, 0);
        for (std::int32_t s = 0; s < one.Part().surfaceCount; ++s) {
            const Matrix4W& form = one.Part().Surfaces()[static_cast<std::size_t>(s)];
            for (std::size_t k : {5, 6, 7, 9, 10, 11, 13, 14, 15}) EXPECT_EQ(form.m[k], 0.0);
        }
    }
}

}  // namespace
