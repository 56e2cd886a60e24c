#include "geometry/surface_table.h"

#include "core/crt_random.h"
#include "core/private_heap.h"
#include "geometry/scene_geometry.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numbers>
#include <numeric>
#include <utility>
#include <vector>

namespace {

using quadric_parts::PlaneForm;
using quadric_parts::Scaled;
using quadric_parts::SphereForm;
using quadric_parts::Uniform;

// One part as the tests describe it: its surfaces, where its bound lies, whether it shows.
struct PartDesc {
    std::vector<Matrix4W> surfaces;
    Vec3 centre;
    double radius = 1;
    bool visible = true;
};

PartDesc Part(std::vector<Matrix4W> surfaces, const Vec3& centre = {}, double radius = 1,
              bool visible = true) {
    return PartDesc{std::move(surfaces), centre, radius, visible};
}

void Apply(SceneGeometry& geometry, std::int32_t index, const PartDesc& desc) {
    PartRenderRecord& part = *geometry.Part(index);
    quadric_parts::SetSurfaces(part, desc.surfaces);
    quadric_parts::SetBound(part, desc.centre, Vec3{desc.radius, desc.radius, desc.radius});
    part.visible = desc.visible ? 1 : 0;
}

// Adds the parts (after the existing ones when append), each with room for its surfaces.
void AddParts(SceneGeometry& geometry, const std::vector<PartDesc>& parts, bool append) {
    std::vector<std::int32_t> rooms;
    for (const PartDesc& p : parts) rooms.push_back(static_cast<std::int32_t>(p.surfaces.size()));
    const std::int32_t first = append ? geometry.PartCount() : 0;
    geometry.AddParts(rooms, append);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Apply(geometry, first + static_cast<std::int32_t>(i), parts[i]);
    }
}

// ---- the brute force ----

// The form's coefficients (constant, x, y, z, xx, xy, xz, yy, yz, zz) over their norm.
std::array<double, 10> Normalised(const Matrix4W& q, bool& curved) {
    const auto& m = q.m;
    std::array<double, 10> d{m[0], m[1], m[2], m[3], m[5], m[6], m[7], m[10], m[11], m[15]};
    curved = std::any_of(d.begin() + 4, d.end(), [](double v) { return v != 0; });
    double norm = 0;
    if (curved) {
        norm = std::sqrt(d[4] * d[4] + d[7] * d[7] + d[9] * d[9] +
                         2 * (d[5] * d[5] + d[6] * d[6] + d[8] * d[8]));
    } else {
        norm = std::sqrt(d[1] * d[1] + d[2] * d[2] + d[3] * d[3]);
    }
    for (double& v : d) v /= norm;
    return d;
}

// Whether two surfaces coincide by the table's tolerances (sizes: the parts' proxy radii).
bool Coincide(const Matrix4W& qa, double sizeA, const Matrix4W& qb, double sizeB) {
    bool curvedA = false;
    bool curvedB = false;
    const auto a = Normalised(qa, curvedA);
    const auto b = Normalised(qb, curvedB);
    if (curvedA != curvedB) return false;
    for (double sign : {-1.0, 1.0}) {
        std::array<double, 10> d{};
        for (std::size_t i = 0; i < 10; ++i) d[i] = b[i] + sign * a[i];
        const double linear = d[1] * d[1] + d[2] * d[2] + d[3] * d[3];
        if (!curvedA) {
            if (linear < 9e-6 && std::abs(d[0]) < 0.001) return true;
            continue;
        }
        const double quadratic =
            d[4] * d[4] + d[7] * d[7] + d[9] * d[9] + 2 * (d[5] * d[5] + d[6] * d[6] + d[8] * d[8]);
        if (quadratic < 9e-6 && linear < 1e-6 &&
            std::abs(d[0]) < 0.001 * std::max({0.01, sizeA, sizeB})) {
            return true;
        }
    }
    return false;
}

// Every surface of the scene sharing with others: the groups of surfaces of visible parts
// joined by coincidences. Checks that the slot table holds exactly
// those groups: one slot per group of two or more held by all of it and counted so, slot 0
// for the others.
void ExpectSharingMatchesBruteForce(SceneGeometry& geometry, const std::vector<PartDesc>& parts) {
    struct Surface {
        std::int32_t part;
        std::int32_t index;
    };
    std::vector<Surface> all;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        for (std::size_t s = 0; s < parts[p].surfaces.size(); ++s) {
            all.push_back({static_cast<std::int32_t>(p), static_cast<std::int32_t>(s)});
        }
    }
    std::vector<std::size_t> group(all.size());
    std::iota(group.begin(), group.end(), 0);
    const auto find = [&](std::size_t i) {
        while (group[i] != i) i = group[i] = group[group[i]];
        return i;
    };
    for (std::size_t i = 0; i < all.size(); ++i) {
        const PartDesc& a = parts[static_cast<std::size_t>(all[i].part)];
        for (std::size_t j = 0; j < i; ++j) {
            const PartDesc& b = parts[static_cast<std::size_t>(all[j].part)];
            if (!a.visible || !b.visible) continue;
            if (Coincide(a.surfaces[static_cast<std::size_t>(all[i].index)],
                         a.radius * std::sqrt(3.0),
                         b.surfaces[static_cast<std::size_t>(all[j].index)],
                         b.radius * std::sqrt(3.0))) {
                group[find(i)] = find(j);
            }
        }
    }
    std::map<std::size_t, std::int32_t> groupSize;
    for (std::size_t i = 0; i < all.size(); ++i) ++groupSize[find(i)];
    std::map<std::size_t, std::uint16_t> slotOfGroup;
    std::map<std::uint16_t, std::size_t> groupOfSlot;
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "part " << all[i].part << " surface " << all[i].index);
        const std::uint16_t slot =
            geometry.SlotRow(all[i].part)[static_cast<std::size_t>(all[i].index)] & SurfaceSlotMask;
        const std::size_t g = find(i);
        if (groupSize[g] < 2) {
            EXPECT_EQ(slot, 0);
            continue;
        }
        ASSERT_NE(slot, 0);
        EXPECT_EQ(geometry.slotRefCounts.get()[slot], static_cast<std::uint32_t>(groupSize[g]));
        const auto [s, newGroup] = slotOfGroup.emplace(g, slot);
        EXPECT_EQ(s->second, slot);
        const auto [o, newSlot] = groupOfSlot.emplace(slot, g);
        EXPECT_EQ(o->second, g);
    }
}

// ---- scenes ----

// Prototype surfaces far apart from each other: spheres, ellipsoids, cylinders and planes.
std::vector<Matrix4W> Prototypes(std::int32_t count) {
    std::vector<Matrix4W> pool;
    while (static_cast<std::int32_t>(pool.size()) < count) {
        const Vec3 c{Uniform(-5, 5), Uniform(-5, 5), Uniform(-5, 5)};
        Matrix4W q;
        switch (pool.size() % 4) {
            case 0:
                q = SphereForm(c, Uniform(0.5, 3));
                break;
            case 1:
                q = quadric_parts::EllipsoidForm(
                    c, Vec3{Uniform(0.5, 3), Uniform(0.5, 3), Uniform(0.5, 3)});
                break;
            case 2: {  // a cylinder along y
                const double r = Uniform(0.5, 3);
                q = SphereForm(c, r);
                q.m[10] = 0;
                q.m[2] = q.m[8] = 0;
                q.m[0] -= c.y * c.y / (r * r);
                break;
            }
            default: {
                const Vec3 n{Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)};
                q = PlaneForm(n, Uniform(-5, 5));
                break;
            }
        }
        // Far from every other, with room to spare, so that coincidence groups are cliques.
        const bool near = std::any_of(pool.begin(), pool.end(), [&](const Matrix4W& other) {
            bool ca = false;
            bool cb = false;
            const auto a = Normalised(q, ca);
            const auto b = Normalised(other, cb);
            double close = std::numeric_limits<double>::max();
            for (double sign : {-1.0, 1.0}) {
                double sum = 0;
                for (std::size_t i = 0; i < 10; ++i) sum += std::pow(b[i] + sign * a[i], 2);
                close = std::min(close, sum);
            }
            return ca == cb && close < 0.01;
        });
        if (!near) pool.push_back(q);
    }
    return pool;
}

// A surface drawn from the pool: the prototype with either orientation, some scale, and noise
// far below the tolerances; now and then one moved well beyond them (by one of three steps,
// so that moved copies coincide with each other or lie far apart).
Matrix4W DrawSurface(const std::vector<Matrix4W>& pool) {
    Matrix4W q = pool[static_cast<std::size_t>(CrtRand()) % pool.size()];
    const double scale = Uniform(0.2, 5) * (CrtRand() % 2 == 0 ? 1 : -1);
    q = Scaled(q, scale);
    for (double& v : q.m) v *= 1 + Uniform(-1e-10, 1e-10);
    if (CrtRand() % 8 == 0) q.m[0] += std::abs(scale) * 0.1 * (1 + CrtRand() % 3);
    return q;
}

PartDesc DrawPart(const std::vector<Matrix4W>& pool) {
    PartDesc part;
    const std::int32_t count = 1 + CrtRand() % 6;
    for (std::int32_t s = 0; s < count; ++s) part.surfaces.push_back(DrawSurface(pool));
    part.centre = Vec3{Uniform(-5, 5), Uniform(-5, 5), Uniform(-5, 5)};
    part.radius = Uniform(0.05, 3);
    part.visible = CrtRand() % 5 != 0;
    return part;
}

// Surfaces grouped by slot: for each part and surface, the first (part, surface) holding the
// same slot, or itself when it holds none. Equal for two tables that share alike.
std::vector<std::int32_t> SharingPartition(SceneGeometry& geometry) {
    std::map<std::uint16_t, std::int32_t> first;
    std::vector<std::int32_t> partition;
    for (std::int32_t p = 0; p < geometry.PartCount(); ++p) {
        for (std::int32_t s = 0; s < geometry.Part(p)->surfaceCount; ++s) {
            const std::int32_t here = p * 32 + s;
            const std::uint16_t slot =
                geometry.SlotRow(p)[static_cast<std::size_t>(s)] & SurfaceSlotMask;
            partition.push_back(slot == 0 ? here : first.emplace(slot, here).first->second);
        }
    }
    return partition;
}

// Three parts whose first surfaces share slot 1 (one of them the other way round) and whose
// second surfaces of parts 0 and 1 share slot 2 (part 1's reversed).
void ShareSlots(SceneGeometry& geometry) {
    const Matrix4W plane = PlaneForm(Vec3{0, 1, 0}, 1);
    const Matrix4W ball = SphereForm(Vec3{1, 2, 3}, 2);
    AddParts(geometry,
             {Part({plane, ball}), Part({plane, Scaled(ball, -3)}),
              Part({Scaled(plane, -1), SphereForm(Vec3{-1, 2, 3}, 2)})},
             false);
    UpdateSurfaceTable(geometry, true, {}, 0);
    ASSERT_EQ(geometry.nextSlot, 3);
    ASSERT_EQ(geometry.SlotRow(1)[1], 2 | SurfaceSlotReversed);
    ASSERT_EQ(geometry.slotRefCounts.get()[1], 3u);
}

TEST(SurfaceTable, FullUpdateHandsOutEverySlotAnew) {
    SceneGeometry geometry;
    ShareSlots(geometry);
    geometry.freeSlotCount = 4;
    const std::int32_t generation = geometry.surfaceGeneration;
    UpdateSurfaceTable(geometry, false, {}, 0);
    EXPECT_EQ(geometry.surfaceGeneration, generation + 1);
    EXPECT_EQ(geometry.nextSlot, 1);
    EXPECT_EQ(geometry.freeSlotCount, 0);
    for (std::int32_t i = 0; i < 3; ++i) {
        for (std::uint16_t entry : geometry.SlotRow(i)) EXPECT_EQ(entry, 0);
    }
}

// Changed parts give their slots back; a slot left with one holder is given back too.
TEST(SurfaceTable, ChangedPartsGiveBackTheirSlots) {
    SceneGeometry geometry;
    ShareSlots(geometry);
    const std::vector<std::int32_t> changed{1};
    UpdateSurfaceTable(geometry, false, changed, 0);
    EXPECT_EQ(geometry.SlotRow(1)[0], 0);
    EXPECT_EQ(geometry.SlotRow(1)[1], 0);
    EXPECT_EQ(geometry.SlotRow(0)[0], 1);  // still shared with part 2
    EXPECT_EQ(geometry.slotRefCounts.get()[1], 2u);
    EXPECT_EQ(geometry.SlotRow(0)[1], 0);  // slot 2 had part 0 alone left
    EXPECT_EQ(geometry.slotRefCounts.get()[2], 0u);
    ASSERT_EQ(geometry.freeSlotCount, 1);
    EXPECT_EQ(geometry.freeSlots.get()[0], 2);

    // Appended parts start without slots; the others keep theirs.
    geometry.AddParts(std::vector<std::int32_t>{2}, true);
    geometry.SlotRow(3)[0] = 7;
    UpdateSurfaceTable(geometry, false, {}, 1);
    EXPECT_EQ(geometry.SlotRow(3)[0], 0);
    EXPECT_EQ(geometry.SlotRow(2)[0], 1);
}

// Two parts, each with a surface of its own first and the surface in question second.
TEST(SurfaceTable, CoincidentSurfacesOfVisiblePartsShare) {
    const Matrix4W plane = PlaneForm(Vec3{1, 2, 2}, 3);
    const Matrix4W ball = SphereForm(Vec3{1, 0, 0}, 2);
    const Matrix4W bigBall = SphereForm(Vec3{100, 0, 0}, 50);
    Matrix4W bigBallOff = bigBall;
    bigBallOff.m[0] += 0.2 * std::sqrt(3.0) / (50 * 50);
    struct Case {
        const char* what;
        Matrix4W a;
        Matrix4W b;
        double radiusB;  // the proxy radius is this times sqrt(3)
        bool visibleB;
        std::uint16_t entryB;  // 0: neither shares; else B's entry (A's is always slot 1)
    };
    const Case cases[] = {
        {"the same plane", plane, Scaled(plane, 4), 1, true, 1},
        {"a plane facing the other way", plane, Scaled(plane, -0.5), 1, true, 1},
        {"the same sphere", ball, Scaled(ball, 2), 1, true, 1},
        {"a sphere turned inside out", ball, Scaled(ball, -1), 1, true, 1 | SurfaceSlotReversed},
        {"a hidden part", plane, plane, 1, false, 0},
        {"a plane moved beyond the tolerance", plane, PlaneForm(Vec3{1, 2, 2}, 3.01), 1, true, 0},
        {"a plane moved within it", plane, PlaneForm(Vec3{1, 2, 2}, 3.0005), 1, true, 1},
        {"a plane tilted beyond it", plane, PlaneForm(Vec3{1, 2, 2.05}, std::sqrt(9.2025)), 1, true,
         0},
        {"a sphere moved a little", ball, SphereForm(Vec3{1.0001, 0, 0}, 2), 1, true, 1},
        {"a sphere moved beyond", ball, SphereForm(Vec3{1.01, 0, 0}, 2), 1, true, 0},
        {"a sphere grown beyond", ball, SphereForm(Vec3{1, 0, 0}, 2.01), 1, true, 0},
        // The constant's tolerance grows with the parts (0.001 x 0.01 for small ones): here
        // the constants differ by 0.2 after normalisation.
        {"a large sphere's constant, small parts", bigBall, bigBallOff, 0.001, true, 0},
        {"a large sphere's constant, large parts", bigBall, bigBallOff, 200, true, 1},
        {"a plane against a sphere", plane, ball, 1, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SceneGeometry geometry;
        const Matrix4W own = SphereForm(Vec3{-7, 7, 7}, 0.5);
        AddParts(geometry,
                 {Part({SphereForm(Vec3{7, -7, 7}, 0.5), c.a}, Vec3{}, c.radiusB),
                  Part({own, c.b}, Vec3{}, c.radiusB, c.visibleB)},
                 false);
        UpdateSurfaceTable(geometry, true, {}, 0);
        EXPECT_EQ(geometry.SlotRow(0)[0], 0);
        EXPECT_EQ(geometry.SlotRow(1)[0], 0);
        EXPECT_EQ(geometry.SlotRow(0)[1], c.entryB != 0 ? 1 : 0);
        EXPECT_EQ(geometry.SlotRow(1)[1], c.entryB);
        EXPECT_EQ(geometry.slotRefCounts.get()[1], c.entryB != 0 ? 2u : 0u);
    }
}

// Hiding a part and updating with it listed gives its slot back; showing it again shares anew
// and takes the slot given back.
TEST(SurfaceTable, HidingAPartGivesBackItsSlot) {
    SceneGeometry geometry;
    const Matrix4W plane = PlaneForm(Vec3{0, 0, 1}, 2);
    const Matrix4W other = PlaneForm(Vec3{0, 1, 0}, 2);
    AddParts(geometry, {Part({plane}), Part({other}), Part({plane}), Part({other})}, false);
    UpdateSurfaceTable(geometry, true, {}, 0);
    ASSERT_EQ(geometry.SlotRow(2)[0], 1);
    ASSERT_EQ(geometry.SlotRow(3)[0], 2);

    const std::vector<std::int32_t> changed{2};
    geometry.Part(2)->visible = 0;
    UpdateSurfaceTable(geometry, true, changed, 0);
    EXPECT_EQ(geometry.SlotRow(0)[0], 0);
    EXPECT_EQ(geometry.SlotRow(2)[0], 0);
    EXPECT_EQ(geometry.slotRefCounts.get()[1], 0u);
    ASSERT_EQ(geometry.freeSlotCount, 1);
    EXPECT_EQ(geometry.SlotRow(3)[0], 2);

    geometry.Part(2)->visible = 1;
    UpdateSurfaceTable(geometry, true, changed, 0);
    EXPECT_EQ(geometry.SlotRow(0)[0], 1);
    EXPECT_EQ(geometry.SlotRow(2)[0], 1);
    EXPECT_EQ(geometry.freeSlotCount, 0);
    EXPECT_EQ(geometry.nextSlot, 3);
}

// Forms that cannot be normalised (no linear or quadratic part, infinite or not a number)
// take part in nothing, and the others still share.
TEST(SurfaceTable, SurfacesThatCannotBeComparedStayUnshared) {
    SceneGeometry geometry;
    const Matrix4W plane = PlaneForm(Vec3{0, 0, 1}, 2);
    Matrix4W constant;
    constant.m[0] = -1;
    Matrix4W notANumber = plane;
    notANumber.m[3] = std::numeric_limits<double>::quiet_NaN();
    Matrix4W infinite = SphereForm(Vec3{}, 1);
    infinite.m[0] = std::numeric_limits<double>::infinity();
    Matrix4W huge = plane;
    huge.m[0] = 1e300;
    huge.m[3] = 1e-300;
    AddParts(geometry,
             {Part({constant, notANumber, infinite, huge, plane}),
              Part({constant, notANumber, infinite, huge, plane})},
             false);
    UpdateSurfaceTable(geometry, true, {}, 0);
    for (std::size_t s = 0; s < 4; ++s) {
        EXPECT_EQ(geometry.SlotRow(0)[s], 0) << s;
        EXPECT_EQ(geometry.SlotRow(1)[s], 0) << s;
    }
    EXPECT_EQ(geometry.SlotRow(0)[4], 1);
    EXPECT_EQ(geometry.SlotRow(1)[4], 1);
    EXPECT_EQ(geometry.surfaceTable.LinkedCount(), 2);
}

TEST(SurfaceTable, FullUpdateSharesAsBruteForceMatching) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        CrtSrand(seed);
        const std::vector<Matrix4W> pool = Prototypes(12 + 4 * static_cast<std::int32_t>(seed));
        std::vector<PartDesc> parts;
        for (std::int32_t i = 0; i < 80; ++i) parts.push_back(DrawPart(pool));
        SceneGeometry geometry;
        AddParts(geometry, parts, false);
        UpdateSurfaceTable(geometry, true, {}, 0);
        ExpectSharingMatchesBruteForce(geometry, parts);
    }
}

// Parts change, show, hide, arrive at the end and leave it; after each update the sharing is
// what brute-force matching finds, and at the end what a fresh full load of the same parts
// gives.
TEST(SurfaceTable, IncrementalUpdatesEqualAFreshLoad) {
    for (std::uint32_t seed = 11; seed <= 14; ++seed) {
        SCOPED_TRACE(seed);
        CrtSrand(seed);
        const std::vector<Matrix4W> pool = Prototypes(16);
        std::vector<PartDesc> parts;
        for (std::int32_t i = 0; i < 60; ++i) parts.push_back(DrawPart(pool));
        SceneGeometry geometry;
        AddParts(geometry, parts, false);
        UpdateSurfaceTable(geometry, true, {}, 0);
        for (std::int32_t round = 0; round < 12; ++round) {
            SCOPED_TRACE(round);
            std::vector<std::int32_t> changed;
            for (std::int32_t k = CrtRand() % 6; k >= 0; --k) {
                const std::int32_t p = CrtRand() % static_cast<std::int32_t>(parts.size());
                PartDesc& desc = parts[static_cast<std::size_t>(p)];
                if (CrtRand() % 3 == 0) {
                    desc.visible = !desc.visible;
                } else {
                    for (Matrix4W& q : desc.surfaces) {
                        if (CrtRand() % 2 == 0) q = DrawSurface(pool);
                    }
                }
                Apply(geometry, p, desc);
                changed.push_back(p);
            }
            std::int32_t appended = 0;
            if (round % 4 == 1) {
                appended = 1 + CrtRand() % 3;
                std::vector<PartDesc> more;
                for (std::int32_t k = 0; k < appended; ++k) more.push_back(DrawPart(pool));
                AddParts(geometry, more, true);
                parts.insert(parts.end(), more.begin(), more.end());
            }
            if (round % 4 == 3) {
                geometry.RemoveLastPart();
                parts.pop_back();
                std::erase(changed, static_cast<std::int32_t>(parts.size()));
            }
            UpdateSurfaceTable(geometry, true, changed, appended);
            ExpectSharingMatchesBruteForce(geometry, parts);
        }
        SceneGeometry fresh;
        AddParts(fresh, parts, false);
        UpdateSurfaceTable(fresh, true, {}, 0);
        EXPECT_EQ(SharingPartition(geometry), SharingPartition(fresh));
    }
}

// Every slot live: a coincidence that needs one more leaves its two surfaces unshared rather
// than hand out a number that runs into the reversed mark. Slots given back are used again.
TEST(SurfaceTable, SurfacesStayUnsharedWhenTheSlotsRunOut) {
    // 1,024 pairs of parts with 32 identical planes per pair, every plane of its own: 32,768
    // coincidences for 32,767 slots. The planes' normals spread over the sphere.
    constexpr std::int32_t Pairs = 1024;
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>(2 * Pairs, 32), false);
    const double golden = std::numbers::pi * (3 - std::sqrt(5.0));
    for (std::int32_t pair = 0; pair < Pairs; ++pair) {
        std::array<Matrix4W, 32> planes;
        for (std::int32_t s = 0; s < 32; ++s) {
            const std::int32_t j = pair * 32 + s;
            const double y = 1 - 2 * (j + 0.5) / (Pairs * 32);
            const double r = std::sqrt(1 - y * y);
            planes[static_cast<std::size_t>(s)] =
                PlaneForm(Vec3{r * std::cos(golden * j), y, r * std::sin(golden * j)}, 1 + j % 5);
        }
        for (std::int32_t k = 0; k < 2; ++k) {
            quadric_parts::SetSurfaces(*geometry.Part(2 * pair + k), planes);
        }
    }
    UpdateSurfaceTable(geometry, true, {}, 0);
    EXPECT_EQ(geometry.nextSlot, 0x8000);
    std::int32_t unshared = 0;
    for (std::int32_t p = 0; p < 2 * Pairs; ++p) {
        for (std::uint16_t entry : geometry.SlotRow(p)) {
            EXPECT_EQ(entry & SurfaceSlotReversed, 0);
            if (entry == 0) {
                ++unshared;
                EXPECT_GE(p, 2 * Pairs - 2);
            }
        }
    }
    EXPECT_EQ(unshared, 2);
    EXPECT_EQ(geometry.SlotRow(2 * Pairs - 1)[31], 0);

    // Part 0 leaves: its 32 slots come back, and the last pair can share again.
    geometry.Part(0)->visible = 0;
    const std::vector<std::int32_t> hidden{0};
    UpdateSurfaceTable(geometry, true, hidden, 0);
    EXPECT_EQ(geometry.freeSlotCount, 32);
    const std::vector<std::int32_t> last{2 * Pairs - 2, 2 * Pairs - 1};
    UpdateSurfaceTable(geometry, true, last, 0);
    for (std::int32_t p : last) {
        for (std::uint16_t entry : geometry.SlotRow(p)) EXPECT_NE(entry, 0);
    }
    // The last pair gave back 31 slots and took 32.
    EXPECT_EQ(geometry.freeSlotCount, 32 + 31 - 32);
}

// A part removed from the end takes its surfaces out of the table: nothing later matches them.
TEST(SurfaceTable, RemovedPartsLeaveTheTable) {
    SceneGeometry geometry;
    const Matrix4W plane = PlaneForm(Vec3{0, 0, 1}, 2);
    const Matrix4W ball = SphereForm(Vec3{0, 0, 1}, 2);
    AddParts(geometry, {Part({plane, ball}), Part({plane, ball})}, false);
    UpdateSurfaceTable(geometry, true, {}, 0);
    EXPECT_EQ(geometry.surfaceTable.LinkedCount(), 4);
    geometry.RemoveLastPart();
    EXPECT_EQ(geometry.surfaceTable.LinkedCount(), 2);
    EXPECT_EQ(geometry.SlotRow(0)[0], 0);

    // Room the removed part held comes back with other surfaces; its plane is shared by two.
    AddParts(geometry, {Part({SphereForm(Vec3{5, 5, 5}, 1), plane})}, true);
    UpdateSurfaceTable(geometry, true, {}, 1);
    const std::uint16_t slot = geometry.SlotRow(0)[0];
    EXPECT_NE(slot, 0);
    EXPECT_EQ(geometry.SlotRow(1)[1], slot);
    EXPECT_EQ(geometry.slotRefCounts.get()[slot], 2u);
    EXPECT_EQ(geometry.SlotRow(0)[1], 0);
    EXPECT_EQ(geometry.SlotRow(1)[0], 0);
    EXPECT_EQ(geometry.surfaceTable.LinkedCount(), 4);
}

// An exhausted heap part way through an update leaves the table consistent, with the parts
// being entered unshared; the same update goes through later.
TEST(SurfaceTable, RefusedGrowthLeavesTheTableConsistent) {
    bool done = false;
    for (std::size_t room = 0; !done; room += 256) {
        SCOPED_TRACE(room);
        SceneGeometry geometry;
        const Matrix4W plane = PlaneForm(Vec3{0, 0, 1}, 2);
        AddParts(geometry, {Part({plane}), Part({plane}), Part({plane})}, false);
        UpdateSurfaceTable(geometry, true, {}, 0);
        const Matrix4W far = SphereForm(Vec3{30, -40, 50}, 1);
        AddParts(geometry, {Part({far, plane}, Vec3{9000, 0, 0}, 0.001), Part({far})}, true);
        PrivateHeapSetCeiling(PrivateHeapBytesInUse() + room);
        try {
            UpdateSurfaceTable(geometry, true, {}, 2);
            done = true;
        } catch (const KVOutOfMemoryException&) {
            PrivateHeapSetCeiling(0);
            EXPECT_EQ(geometry.SlotRow(3)[0], 0);
            EXPECT_EQ(geometry.SlotRow(3)[1], 0);
            EXPECT_EQ(geometry.SlotRow(0)[0], 1);
            UpdateSurfaceTable(geometry, true, {}, 2);
        }
        PrivateHeapSetCeiling(0);
        EXPECT_EQ(geometry.SlotRow(3)[0], 2);
        EXPECT_EQ(geometry.SlotRow(4)[0], 2);
        EXPECT_EQ(geometry.SlotRow(3)[1], 1);
        EXPECT_EQ(geometry.slotRefCounts.get()[1], 4u);
        EXPECT_EQ(geometry.surfaceTable.LinkedCount(), 6);
        ASSERT_LT(room, 1u << 24);
    }
}

}  // namespace
