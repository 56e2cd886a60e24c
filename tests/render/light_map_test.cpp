// Shadow light maps: the frustum slopes, the shadow test on hand-made maps, and whole frames
// of a sphere over a plane checked against the analytic shadow and a shadow-ray caster.

#include "render/light_map.h"

#include "render/shadow_pass.h"
#include "support/shadow_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using shadow_scene::BoxOverCells;
using shadow_scene::Light;
using shadow_scene::ShadowFrame;
using shadow_scene::Solid;

constexpr std::int32_t Width = 160;
constexpr std::int32_t Height = 120;

TEST(LightMap, FrustumSlopesTouchTheSphere) {
    struct Case {
        double a, b, r;
        bool isNarrow;
    };
    const Case cases[] = {{10, 0, 1, true},
                          {10, 3, 2, true},
                          {5, -4, 1.5, true},
                          {1, 0, 2, false},
                          {1, 0.5, 0.9, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " " + std::to_string(c.b) + " " + std::to_string(c.r));
        double upper = 0, lower = 0;
        ASSERT_EQ(LightFrustumSlopes(c.a, c.b, c.r, upper, lower), c.isNarrow);
        if (!c.isNarrow) {
            EXPECT_DOUBLE_EQ(upper, (c.r - c.b) / c.a);
            EXPECT_DOUBLE_EQ(lower, -(c.b + c.r) / c.a);
            continue;
        }
        // Each slope's line through the light (the origin) lies at distance r from the centre
        // (a, -b) in the plane of the axis: |slope a + b| / sqrt(1 + slope^2) = r.
        for (const double slope : {upper, lower}) {
            EXPECT_NEAR(std::fabs(slope * c.a + c.b) / std::sqrt(1 + slope * slope), c.r, 1e-12);
        }
        EXPECT_GT(upper, lower);
    }
}

// A renderer with one shadow light whose map is written by hand: the light at the origin
// looking along +z (axis code 0), cell centres at 10 u + 4 = column + 1/2 on a side of 8.
struct HandMap {
    HandMap() : pixels(64 * 64) {
        render.options.shadows = true;
        render.lightMapScale = 0.125;
        render.SetLightCounts(1, 1);
        EXPECT_EQ(render.SetSize(pixels.data(), 64, 64, 64, false), RenderSizeOk);
        EXPECT_EQ(render.LightMapSide(), 8);
        RenderLightSlot& slot = render.LightSlot(0);
        slot.hasMapView = true;
        slot.axisCode = 0;
        slot.lightFromView = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        slot.mapScale = 10.0;
        slot.mapU = 4.0;
        slot.mapV = 4.0;
        // Part 0 is a sphere of radius 1 at depth 10 seen from the light.
        slot.lightParts.AddPart(1);
        const Matrix4W sphere = quadric_parts::SphereForm(Vec3{0, 0, 10}, 1.0);
        slot.lightParts.SetViewForms(0, std::span<const Matrix4W>(&sphere, 1), sphere);
    }
    LightMapCell& Cell(std::int32_t column, std::int32_t row) {
        return render.LightSlot(0).map.get()[row * 8 + column];
    }
    std::vector<std::uint32_t> pixels;
    QRender render;
};

TEST(LightMap, ShadowTestReadsFlatCellsAndProbesTheOthers) {
    const std::uint32_t sphereId = PixelIdOf(0, 0);
    const std::uint32_t wallId = PixelIdOf(7, 2);  // a part the light has no record of
    struct Case {
        const char* what;
        Vec3 point;
        std::uint32_t id;
        std::uint32_t cellId;  // written into every cell
        bool isLit;
        bool isCellRead;
    };
    const Case cases[] = {
        {"flat cell with the point's id",
         {0.01, 0.01, 20},
         wallId,
         wallId | LightMapFlat,
         true,
         true},
        {"flat cell with another id, no probe",
         {0.01, 0.01, 20},
         wallId,
         sphereId | LightMapFlat,
         false,
         true},
        {"boundary cell, the probe meets the sphere nearer",
         {0.01, 0.01, 20},
         wallId,
         sphereId,
         false,
         true},
        {"boundary cell, the point before the sphere",
         {0.01, 0.01, 5},
         wallId,
         sphereId,
         true,
         true},
        {"boundary cell, the probe hits the point's own surface",
         {0.0, 0.0, 9.0},
         sphereId,
         sphereId,
         true,
         true},
        {"last column", {7.0, 0.01, 20}, wallId, sphereId | LightMapFlat, true, false},
        {"last row", {0.01, 7.0, 20}, wallId, sphereId | LightMapFlat, true, false},
        {"left of the map", {-9.0, 0.01, 20}, wallId, sphereId | LightMapFlat, true, false},
        {"behind the light", {0.01, 0.01, -20}, wallId, sphereId | LightMapFlat, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HandMap hand;
        for (std::int32_t row = 0; row < 8; ++row) {
            for (std::int32_t column = 0; column < 8; ++column) {
                hand.Cell(column, row) = LightMapCell{c.cellId, 1};
            }
        }
        std::int32_t cell = -2;
        EXPECT_EQ(IsLitByLight(hand.render, c.id, 0, false, c.point, cell), c.isLit);
        EXPECT_EQ(cell >= 0, c.isCellRead);
    }
}

TEST(LightMap, PartsNearTheLightAreOrderedByDepthAfterTheScaleHalves) {
    // Seen from a light 10 above the centre of a shadow sphere of radius 1, the depth scale
    // holds depths down to 4.5 in 31 bits. Both spheres lie nearer: the small one at depth
    // about 1.7 shadows the top of the larger one, at about 2.9, which comes first in the
    // part order.
    const std::vector<Solid> solids{
        {false, {0, -4.5, 8}, {0.6, 0, 0}, 0xC04040},
        {false, {0, -6, 8}, {0.3, 0, 0}, 0x4040C0},
    };
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, solids);
    const Vec3 light{0, -8, 8};
    ShadowFrame frame(geometry, Width, Height, {{light}}, Vec3{0, 2, 8}, 1.0);
    ASSERT_TRUE(frame.ok);
    RenderLightMaps(frame.render);
    EXPECT_LT(frame.render.LightSlot(0).mapDepthScale, std::ldexp(9.0, 30) * 0.5 + 1.0);
    // The top of the larger sphere, facing the light, lies in the small one's shadow.
    const Vec3 top{0, -5.1, 8};
    const Vec3 fromLight{top.x - light.x, top.y - light.y, top.z - light.z};
    std::int32_t cell = -1;
    EXPECT_TRUE(shadow_scene::IsBlocked(solids, top, light));
    EXPECT_FALSE(IsLitByLight(frame.render, PixelIdOf(0, 0), 0, false, fromLight, cell));
    EXPECT_GE(cell, 0);
}

TEST(LightMap, FlatMarksNeedTheWholeBlock) {
    HandMap hand;
    for (std::int32_t row = 0; row < 8; ++row) {
        for (std::int32_t column = 0; column < 8; ++column) {
            hand.Cell(column, row) = LightMapCell{column < 5 ? 33u : 34u, 1};
        }
    }
    SpanRegion region;
    RegionSetRect(region, 0, 0, 8, 8);
    MarkFlatLightCells(8, region, hand.render.LightSlot(0).map.get());
    for (std::int32_t row = 0; row < 8; ++row) {
        for (std::int32_t column = 0; column < 8; ++column) {
            const bool isFlat = (hand.Cell(column, row).id & LightMapFlat) != 0;
            // Column 4's block reaches column 5; the last row and column are never flat.
            EXPECT_EQ(isFlat, column != 4 && column < 7 && row < 7) << column << ", " << row;
        }
    }
    ClearFlatMarks(8, region, hand.render.LightSlot(0).map.get());
    for (std::int32_t column = 0; column < 8; ++column) {
        EXPECT_EQ(hand.Cell(column, 0).id & LightMapFlat, 0u);
    }
}

TEST(LightMap, WithTwoSamplesFlatCellsKeepTheirSurfaceInFrontOfTheSecond) {
    // One surface first everywhere; the second plane holds another one behind it, and the
    // first plane's depth falls by 10 a cell (a slope of 11 with the one added).
    struct Case {
        const char* what;
        std::int32_t secondDepth;
        std::uint32_t secondId;
        bool isFlat;
    };
    const Case cases[] = {
        {"far behind", 200, 34, true},
        {"nothing behind", 0, 0, true},
        {"closer than the slopes", 960, 34, false},
        {"just far enough", 1000 - 70 - 12, 34, true},
        {"the gap one short", 1000 - 70 - 11, 34, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HandMap hand;
        QRender& render = hand.render;
        ASSERT_EQ(render.SetSamplesPerPixel(2), RenderSizeOk);
        RenderLightSlot& slot = render.LightSlot(0);
        ASSERT_TRUE(IsTwoSampleMap(render, slot));
        LightMapCell* second = slot.map.get() + 64;
        for (std::int32_t row = 0; row < 8; ++row) {
            for (std::int32_t column = 0; column < 8; ++column) {
                hand.Cell(column, row) = LightMapCell{33, 1000 - 10 * column};
                second[row * 8 + column] = LightMapCell{c.secondId, c.secondDepth};
            }
        }
        FillTileSlopes(8, RegionRect{0, 0, 8, 8}, slot.map.get(), slot.idPlane.get());
        EXPECT_EQ(slot.idPlane.get()[9], 11u);
        EXPECT_EQ(slot.idPlane.get()[64 + 9], c.secondId == 0 ? 0u : 1u);
        SpanRegion region;
        RegionSetRect(region, 0, 0, 8, 8);
        MarkLightMapFlat(render, slot, slot.map.get(), slot.idPlane.get(), region);
        // The block at column 6 reaches depth 1000 - 70.
        EXPECT_EQ((hand.Cell(6, 3).id & LightMapFlat) != 0, c.isFlat);
        EXPECT_EQ(hand.Cell(7, 3).id & LightMapFlat, 0u);
    }
    // A slope too large to add up keeps the tile's cells from being flat.
    HandMap hand;
    ASSERT_EQ(hand.render.SetSamplesPerPixel(2), RenderSizeOk);
    RenderLightSlot& slot = hand.render.LightSlot(0);
    for (std::int32_t i = 0; i < 64; ++i) {
        slot.map.get()[i] = LightMapCell{33, i % 2 == 0 ? 0x7FFFFFFF : 1};
    }
    FillTileSlopes(8, RegionRect{2, 2, 3, 3}, slot.map.get(), slot.idPlane.get());
    EXPECT_EQ(slot.idPlane.get()[0], LightSlopeUnusable);
    SpanRegion region;
    RegionSetRect(region, 0, 0, 8, 8);
    MarkFlatLightCellsByDepth(8, region, slot.map.get(), slot.idPlane.get());
    for (std::int32_t i = 0; i < 64; ++i) EXPECT_EQ(slot.map.get()[i].id & LightMapFlat, 0u);
}

TEST(LightMap, WithTwoSamplesTheShadowTestProbesThePartsBehind) {
    // The block shows a part the light has no record of first; the sphere behind it, in the
    // second plane, stands before the point: shadowed only when the second hits are probed.
    HandMap hand;
    ASSERT_EQ(hand.render.SetSamplesPerPixel(2), RenderSizeOk);
    LightMapCell* map = hand.render.LightSlot(0).map.get();
    for (std::int32_t i = 0; i < 64; ++i) {
        map[i] = LightMapCell{PixelIdOf(7, 2), 1000};
        map[64 + i] = LightMapCell{PixelIdOf(0, 0), 100};
    }
    std::int32_t cell = -1;
    EXPECT_FALSE(IsLitByLight(hand.render, PixelIdOf(7, 3), 0, false, Vec3{0.01, 0.01, 20}, cell));
    EXPECT_GE(cell, 0);
}

// A sphere over a receiving box face, lit by one light, with the face the test expects.
struct SphereOverPlane {
    const char* what;
    Solid receiver;  // a box; its face towards the light receives the shadow
    Solid sphere;
    Vec3 light;
    std::int32_t axisCode;
};

const SphereOverPlane Scenes[] = {
    {"z-: wall behind",
     {true, {0, 0, 16}, {20, 20, 0.5}},
     {false, {0.5, 0.3, 11}, {1, 0, 0}},
     {1.5, -0.5, 4},
     0},
    {"z+: light behind the sphere",
     {true, {0, 2.5, 10}, {20, 0.5, 20}},
     {false, {0, 1.2, 10}, {0.5, 0, 0}},
     {0.5, -0.5, 18},
     1},
    {"x-: wall at the right",
     {true, {3.5, 0, 12}, {0.5, 20, 20}},
     {false, {1.7, 0, 12}, {1.0, 0, 0}},
     {-4, 0.5, 11},
     2},
    {"x+: wall at the left",
     {true, {-3.5, 0, 12}, {0.5, 20, 20}},
     {false, {-1.7, 0, 12}, {1.0, 0, 0}},
     {4, 0.5, 11},
     3},
    {"y-: floor",
     {true, {0, 3.5, 7}, {20, 0.5, 20}},
     {false, {0.3, 2, 7}, {0.8, 0, 0}},
     {0.8, -3, 6.5},
     4},
    {"y+: ceiling",
     {true, {0, -3.5, 7}, {20, 0.5, 20}},
     {false, {0.3, -2, 7}, {0.8, 0, 0}},
     {0.8, 3, 6.5},
     5},
    {"off-axis over the floor",
     {true, {0, 3.5, 7}, {20, 0.5, 20}},
     {false, {0.3, 2, 7}, {0.8, 0, 0}},
     {-3, -2, 2.5},
     0},
};

// Every scene with one and with two samples per pixel.
std::vector<std::pair<SphereOverPlane, std::int32_t>> ScenesAndSamples() {
    std::vector<std::pair<SphereOverPlane, std::int32_t>> all;
    for (const std::int32_t samples : {1, 2}) {
        for (const SphereOverPlane& s : Scenes) all.emplace_back(s, samples);
    }
    return all;
}

// The scene's geometry, built first so that the frame can load its parts.
struct SceneParts {
    explicit SceneParts(const SphereOverPlane& s) : solids{s.receiver, s.sphere} {
        shadow_scene::MakeGeometry(geometry, solids);
    }
    std::vector<Solid> solids;
    SceneGeometry geometry;
};

// Renders the scene whole, with the given samples per pixel, and hands back the frame.
struct RenderedScene : SceneParts {
    RenderedScene(const SphereOverPlane& s, std::int32_t samples)
        : SceneParts(s), frame(geometry, Width, Height, {Light{s.light}}, s.sphere.centre, 6.0) {
        frame.ok = frame.ok && frame.render.SetSamplesPerPixel(samples) == RenderSizeOk;
        frame.render.RenderFrame(nullptr, false, nullptr, 0);
    }
    ShadowFrame frame;
};

// For each pixel: 1 lit, 0 shadowed, -1 not a receiver pixel (or facing away).
using StateMap = std::vector<int>;

// Pixels whose 3x3 neighbourhood (everything within 1.5 px) holds another state.
std::vector<bool> Band(const StateMap& states) {
    std::vector<bool> band(states.size(), false);
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const int s = states[static_cast<std::size_t>(y * Width + x)];
            for (std::int32_t dy = -1; dy <= 1; ++dy) {
                for (std::int32_t dx = -1; dx <= 1; ++dx) {
                    const std::int32_t nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= Width || ny >= Height) continue;
                    if (states[static_cast<std::size_t>(ny * Width + nx)] != s) {
                        band[static_cast<std::size_t>(y * Width + x)] = true;
                    }
                }
            }
        }
    }
    return band;
}

TEST(LightMap, SphereOverPlaneCastsTheAnalyticShadowOnEveryFace) {
    for (const auto& [scene, samples] : ScenesAndSamples()) {
        SCOPED_TRACE(std::string(scene.what) + ", samples " + std::to_string(samples));
        RenderedScene rendered(scene, samples);
        QRender& render = rendered.frame.render;
        ASSERT_TRUE(rendered.frame.ok);
        EXPECT_EQ(render.LightSlot(0).axisCode, scene.axisCode);

        // The analytic shadow: where the camera ray meets the receiving face, the segment to
        // the light passes within the sphere's radius of its centre.
        const Solid& box = scene.receiver;
        const Solid& ball = scene.sphere;
        StateMap analytic(static_cast<std::size_t>(Width * Height), -1);
        StateMap rendered01(static_cast<std::size_t>(Width * Height), -1);
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const Vec3 ray = rendered.frame.Ray(x, y);
                if (shadow_scene::SegmentEntry(ball, Vec3{},
                                               Vec3{ray.x * 100, ray.y * 100, ray.z * 100}) < 1.0) {
                    continue;  // the sphere hides the receiver
                }
                const double t = shadow_scene::SegmentEntry(
                    box, Vec3{}, Vec3{ray.x * 100, ray.y * 100, ray.z * 100});
                if (t >= 1.0) continue;
                const Vec3 p{ray.x * 100 * t, ray.y * 100 * t, ray.z * 100 * t};
                const std::size_t at = static_cast<std::size_t>(y * Width + x);
                analytic[at] = shadow_scene::SegmentEntry(ball, p, scene.light) < 1.0 ? 0 : 1;
                std::uint32_t mask = 0;
                const std::uint32_t word = render.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
                if (PixelPartIndex(word) != 0 || (mask & 0x8000u) == 0) {
                    analytic[at] = -1;  // not the receiver, or its face turns from the light
                    continue;
                }
                rendered01[at] = (mask & 0x80000000u) != 0 ? 1 : 0;
            }
        }
        const std::vector<bool> band = Band(analytic);
        std::int32_t shadowed = 0, lit = 0;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const std::size_t at = static_cast<std::size_t>(y * Width + x);
                if (band[at] || analytic[at] < 0) continue;
                ASSERT_EQ(rendered01[at], analytic[at]) << "at (" << x << ", " << y << ")";
                ++(analytic[at] == 0 ? shadowed : lit);
            }
        }
        EXPECT_GT(shadowed, 30);
        EXPECT_GT(lit, 1000);
    }
}

TEST(LightMap, SteppedCellsAreTheProjectedOnes) {
    // Each covered pixel's stepped block against the point's projection in doubles, along
    // whole rows (the chunks of the shadow pass), on every face.
    for (const SphereOverPlane& scene : Scenes) {
        SCOPED_TRACE(scene.what);
        RenderedScene rendered(scene, 1);
        const QRender& render = rendered.frame.render;
        const RenderLightSlot& slot = render.LightSlot(0);
        const RenderLevel& level = render.Level();
        ShadowStepping stepping = SetupShadowStepping(render, 0);
        ASSERT_TRUE(stepping.isStepped);
        std::int32_t compared = 0;
        for (std::int32_t y = 0; y < Height; ++y) {
            StartShadowChunk(stepping, 0.5 - level.centreX, y + 0.5 - level.centreY);
            for (std::int32_t x = 0; x < Width; ++x) {
                const SampleCell& cell =
                    render.SampleBuffer(0)[static_cast<std::size_t>((y + 1) * (Width + 2) + x + 1)];
                std::int32_t column = -1, row = -1;
                const bool isOnMap = StepShadowCell(stepping, cell.depth, column, row);
                if (cell.depth <= 0) continue;
                const double z = level.focal * render.depthScale / cell.depth;
                const Vec3 p{(x - level.centreX + 0.5) / level.focal * z - slot.position.x,
                             (y - level.centreY + 0.5) / level.focal * z - slot.position.y,
                             z - slot.position.z};
                const auto& r = slot.lightFromView;
                const double lx = r[0] * p.x + r[1] * p.y + r[2] * p.z;
                const double ly = r[3] * p.x + r[4] * p.y + r[5] * p.z;
                const double lz = r[6] * p.x + r[7] * p.y + r[8] * p.z;
                if (!(lz > 0.0)) {  // behind the face: lit without a cell
                    ASSERT_FALSE(isOnMap) << x << ", " << y;
                    continue;
                }
                const double u = slot.mapScale * lx / lz + slot.mapU - 0.5;
                const double v = slot.mapScale * ly / lz + slot.mapV - 0.5;
                // Points within a thousandth of a cell of a cell border may go either way.
                const auto isNearBorder = [](double c) {
                    return std::fabs(c - std::round(c)) < 1e-3;
                };
                if (isNearBorder(u) || isNearBorder(v)) continue;
                const double last = render.LightMapSide() - 1;
                ASSERT_EQ(isOnMap, u >= 0 && v >= 0 && u < last && v < last) << x << ", " << y;
                if (!isOnMap) continue;
                ASSERT_EQ(column, static_cast<std::int32_t>(std::floor(u))) << x << ", " << y;
                ASSERT_EQ(row, static_cast<std::int32_t>(std::floor(v))) << x << ", " << y;
                ++compared;
            }
        }
        EXPECT_GT(compared, 3000);
    }
}

// For each pixel whose surface (of part, or any part when part is negative) faces light i:
// rays gets 0 or 1 as the shadow rays find it blocked or not, test the light bit the frame
// gave it; every other pixel gets -2 - its id in rays (edges between surfaces count as a
// state of their own) and -1 in test.
void ShadowStates(const ShadowFrame& frame, const std::vector<Solid>& solids, const Vec3& light,
                  std::int32_t i, std::int32_t part, StateMap& rays, StateMap& test) {
    rays.assign(static_cast<std::size_t>(Width * Height), -1);
    test.assign(static_cast<std::size_t>(Width * Height), -1);
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            std::uint32_t mask = 0;
            double depth = 0;
            const std::uint32_t word = frame.render.QueryPixel(x, y, &mask, &depth, 0, nullptr);
            const std::size_t at = static_cast<std::size_t>(y * Width + x);
            rays[at] = -2 - static_cast<int>(word & PixelIdMask);
            if ((word & PixelIdMask) == 0 || (mask & (0x8000u >> i)) == 0) continue;
            if (part >= 0 && PixelPartIndex(word) != part) continue;
            const Vec3 ray = frame.Ray(x, y);
            const Vec3 p{ray.x * depth, ray.y * depth, depth};
            rays[at] = shadow_scene::IsBlocked(solids, p, light) ? 0 : 1;
            test[at] = (mask & (0x80000000u >> i)) != 0 ? 1 : 0;
        }
    }
}

TEST(LightMap, ARodThinnerThanTheMapCellsCastsItsWholeShadow) {
    // A light map of 10 cells a side over a wall and a rod 0.2 thick, under half a cell as
    // the light sees it: cell centres pass beside it, yet its shadow, about seven pixels
    // wide, agrees with the shadow rays away from its edges wherever the rod lies.
    for (const double offset : {0.0, 0.1, 0.2}) {
        SCOPED_TRACE(offset);
        const std::vector<Solid> solids = shadow_scene::WallAndRod(0.1 + offset);
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, solids);
        // The radius a little over the rod's half diagonal.
        shadow_scene::SetRodSkeleton(geometry, 1, solids[1], 0.15);
        const Vec3 light{0.3, -0.2, 4};
        ShadowFrame frame(geometry, Width, Height, {{light}}, Vec3{0, 0, 12}, 3.0, true, 0.0625);
        ASSERT_TRUE(frame.ok);
        frame.render.focalScale = 0.3;
        ASSERT_EQ(frame.render.SetSamplesPerPixel(2), RenderSizeOk);
        frame.render.edges.isRefined = true;
        frame.render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_EQ(frame.render.LightMapSide(), 10);
        ASSERT_FALSE(frame.render.LightSlot(0).smallParts.markedCells.empty());
        StateMap rays, test;
        ShadowStates(frame, solids, light, 0, 0, rays, test);
        const std::vector<bool> band = Band(rays);
        std::int32_t shadowed = 0;
        for (std::size_t at = 0; at < rays.size(); ++at) {
            if (band[at] || rays[at] < 0) continue;
            ASSERT_EQ(test[at], rays[at]) << "at (" << at % Width << ", " << at / Width << ")";
            if (rays[at] == 0) ++shadowed;
        }
        EXPECT_GT(shadowed, 60);
    }
}

// Compares test with rays on the pixels away from the rays' state changes: the number of
// shadowed pixels compared, or -1 at the first difference, which fails the test.
std::int32_t ShadowedAwayFromEdges(const StateMap& rays, const StateMap& test) {
    const std::vector<bool> band = Band(rays);
    std::int32_t shadowed = 0;
    for (std::size_t at = 0; at < rays.size(); ++at) {
        if (band[at] || rays[at] < 0) continue;
        if (test[at] != rays[at]) {
            ADD_FAILURE() << "shadow test " << test[at] << " against rays " << rays[at] << " at ("
                          << at % Width << ", " << at / Width << ")";
            return -1;
        }
        if (rays[at] == 0) ++shadowed;
    }
    return shadowed;
}

// The thin-rod scenes' frame: two samples with the pixel pass, rendered whole without part
// hidden and kept as the background.
testing::AssertionResult KeepThinPartBackground(SceneGeometry& geometry, ShadowFrame& frame,
                                                std::int32_t hidden) {
    QRender& render = frame.render;
    render.focalScale = 0.3;
    if (render.SetSamplesPerPixel(2) != RenderSizeOk) {
        return testing::AssertionFailure() << "no two samples";
    }
    render.edges.isRefined = true;
    geometry.Part(hidden)->visible = 0;
    render.RenderFrame(nullptr, false, nullptr, 0);
    const bool isKept = render.AllocAuxBuffers() == 0;
    geometry.Part(hidden)->visible = 1;
    if (!isKept) return testing::AssertionFailure() << "no backups";
    return testing::AssertionSuccess();
}

TEST(LightMap, AComplementRenderProbesTheThinPartsOfTheBackground) {
    // The thin rod stands in the background; a sphere between the light and the rod joins it
    // with a complement render, which tests the backup's pixels around the sphere's shadow
    // again against backup A: the rod's shadow there stays as the shadow rays say.
    const std::vector<Solid> solids = shadow_scene::WallRodAndBall();
    SceneGeometry geometry;
    const Vec3& light = shadow_scene::RodLight;
    auto rodFrame = shadow_scene::MakeRodFrame(geometry, solids, Width, Height);
    ShadowFrame& frame = *rodFrame;
    ASSERT_TRUE(frame.ok);
    QRender& render = frame.render;
    ASSERT_TRUE(shadow_scene::RenderThenJoinPart2(frame, geometry));
    StateMap rays(static_cast<std::size_t>(Width * Height), -1), test = rays;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            std::uint32_t mask = 0;
            double depth = 0;
            const std::uint32_t word = render.QueryPixel(x, y, &mask, &depth, 1, nullptr);
            const std::size_t at = static_cast<std::size_t>(y * Width + x);
            rays[at] = -2 - static_cast<int>(word & PixelIdMask);
            if (PixelPartIndex(word) != 0 || (mask & 0x8000u) == 0) continue;
            const Vec3 ray = frame.Ray(x, y);
            rays[at] =
                shadow_scene::IsBlocked(solids, Vec3{ray.x * depth, ray.y * depth, depth}, light)
                    ? 0
                    : 1;
            test[at] = (mask & 0x80000000u) != 0 ? 1 : 0;
        }
    }
    EXPECT_GT(ShadowedAwayFromEdges(rays, test), 100);
}

// The cells whose chains list part.
std::int32_t CellsListing(const SmallPartChains& chains, std::int32_t part) {
    std::int32_t count = 0;
    for (const std::int32_t head : chains.heads) {
        std::int32_t at = head;
        for (std::size_t k = 0; at >= 0 && static_cast<std::size_t>(at) < chains.entries.size() &&
                                k < chains.entries.size();
             ++k) {
            const SmallPartChainEntry& entry = chains.entries[static_cast<std::size_t>(at)];
            if (entry.partPlusOne == part + 1) {
                ++count;
                break;
            }
            at = entry.next;
        }
    }
    return count;
}

TEST(LightMap, TheFirstSetTakesTheSecondSetsThinPartsOnlyWhereItTakesItsCells) {
    // Two thin rods before a wall, the lower one in the scene's list: the first backup set is
    // drawn without it, the second keeps it. A sphere by the upper rod joins the background
    // through the second set; the first set takes the second's map cells around the sphere
    // with their thin parts, and still lists the lower rod, far from there, nowhere.
    std::vector<Solid> solids = shadow_scene::WallAndRod(0.1);
    solids.push_back(Solid{true, {0, 2.0, 10}, {1.5, 0.1, 0.1}});
    solids.push_back(Solid{false, {0.72, -0.02, 7.6}, {0.3, 0, 0}});
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, solids);
    shadow_scene::SetRodSkeleton(geometry, 1, solids[1], 0.15);
    shadow_scene::SetRodSkeleton(geometry, 2, solids[2], 0.15);
    geometry.renderList = PrivateAllocBlock<std::int32_t>(2);
    geometry.renderList.get()[0] = 1;
    geometry.renderList.get()[1] = 2;
    const Vec3 light{0.3, -0.2, 4};
    ShadowFrame frame(geometry, Width, Height, {{light}}, Vec3{0, 0, 12}, 3.0, true, 0.1);
    ASSERT_TRUE(frame.ok);
    QRender& render = frame.render;
    ASSERT_TRUE(KeepThinPartBackground(geometry, frame, 3));
    const RenderLightSlot& slot = render.LightSlot(0);
    ASSERT_EQ(CellsListing(slot.smallPartsBackupA, 2), 0);
    ASSERT_GT(CellsListing(slot.smallPartsBackupB, 2), 3);
    const std::int32_t upperRod = CellsListing(slot.smallPartsBackupA, 1);
    ASSERT_GT(upperRod, 3);
    const std::vector<std::int32_t> none{0}, sphere{1, 3};
    render.RenderFrame(none.data(), true, sphere.data(), 0);
    EXPECT_EQ(CellsListing(slot.smallPartsBackupA, 2), 0);
    EXPECT_EQ(CellsListing(slot.smallPartsBackupA, 1), upperRod);
    EXPECT_EQ(CellsListing(slot.smallPartsBackupB, 1), upperRod);
    EXPECT_GT(CellsListing(slot.smallPartsBackupB, 2), 3);
}

TEST(LightMap, PartsSeenBehindTheTwoSamplesShadowTheGapsBetweenThem) {
    // A wall, a plate before it, and over the plate two grids of rods, each rod half a cell
    // wide: at every cell centre of the grids the light meets a rod of each grid first, the
    // plate third and the wall fourth, while between the centres it passes the rods and meets
    // the plate alone. The wall behind those gaps lies in the plate's shadow, as the shadow
    // rays say, only when the shadow test probes the ids behind the cells' two samples.
    std::vector<Solid> solids{{true, {0, 0, 16}, {20, 20, 0.5}},
                              {true, {0, 0, 8}, {1.3, 1.3, 0.03}}};
    const std::int32_t rodCount = 8;
    for (std::int32_t i = 0; i < rodCount; ++i) {
        solids.push_back(Solid{true, {30.0 + i, 0, 30}, {0.1, 0.1, 0.1}});
    }
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, solids);
    const Vec3 light{3, 0, 2};
    ShadowFrame frame(geometry, Width, Height, {{light}}, solids[1].centre, 1.9, true, 0.1125);
    ASSERT_TRUE(frame.ok);
    ASSERT_EQ(frame.render.SetSamplesPerPixel(2), RenderSizeOk);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    const RenderLightSlot& slot = frame.render.LightSlot(0);
    ASSERT_EQ(slot.axisCode, 0);
    // The plate's cells, and the grids laid over its middle: rods over rows (k, k + 1) for
    // k = k0 and k0 + 3 leave gaps at rows k0 + 1 and k0 + 4, likewise the columns.
    const double plateDepth = solids[1].centre.z - light.z;
    const double plateLow =
        (solids[1].centre.x - 1.3 - light.x) / plateDepth * slot.mapScale + slot.mapU;
    const double plateHigh =
        (solids[1].centre.x + 1.3 - light.x) / plateDepth * slot.mapScale + slot.mapU;
    const double plateTop =
        (solids[1].centre.y - 1.3 - light.y) / plateDepth * slot.mapScale + slot.mapV;
    const auto j0 = static_cast<std::int32_t>(std::floor((plateLow + plateHigh) / 2)) - 3;
    const auto k0 =
        static_cast<std::int32_t>(std::floor(plateTop + (plateHigh - plateLow) / 2)) - 3;
    ASSERT_GT(plateHigh - plateLow, 8.0);
    ASSERT_GE(j0, 1);
    ASSERT_GE(k0, 1);
    std::int32_t rod = 2;
    for (const std::int32_t step : {0, 3}) {
        for (const double first : {0.2, 1.3}) {
            solids[static_cast<std::size_t>(rod++)] = BoxOverCells(
                slot, j0, j0 + 6, k0 + step + first, k0 + step + first + 0.5, 5.0, 0.02);
            solids[static_cast<std::size_t>(rod++)] = BoxOverCells(
                slot, j0 + step + first, j0 + step + first + 0.5, k0, k0 + 6, 5.4, 0.02);
        }
    }
    for (std::int32_t i = 2; i < rod; ++i) {
        shadow_scene::PlaceSolid(geometry, i, solids[static_cast<std::size_t>(i)]);
    }
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(slot.axisCode, 0);
    StateMap rays, test;
    ShadowStates(frame, solids, light, 0, 0, rays, test);
    const std::vector<bool> band = Band(rays);
    // Wall pixels in the gaps' shadow: blocked by the plate and by no rod.
    const std::vector<Solid> rods(solids.begin() + 2, solids.end());
    std::int32_t gaps = 0;
    for (std::size_t at = 0; at < rays.size(); ++at) {
        if (band[at] || rays[at] < 0) continue;
        ASSERT_EQ(test[at], rays[at]) << "at (" << at % Width << ", " << at / Width << ")";
        if (rays[at] != 0) continue;
        std::uint32_t mask = 0;
        double depth = 0;
        const auto x = static_cast<std::int32_t>(at % Width);
        const auto y = static_cast<std::int32_t>(at / Width);
        frame.render.QueryPixel(x, y, &mask, &depth, 0, nullptr);
        const Vec3 ray = frame.Ray(x, y);
        if (!shadow_scene::IsBlocked(rods, Vec3{ray.x * depth, ray.y * depth, depth}, light)) {
            ++gaps;
        }
    }
    EXPECT_GT(gaps, 12);
}

TEST(LightMap, ShadowRaysAgreeWithTheShadowTestAwayFromEdges) {
    // Every scene, and one with a second sphere and two lights.
    std::vector<std::pair<std::vector<Solid>, std::vector<Light>>> scenes;
    for (const SphereOverPlane& s : Scenes) scenes.push_back({{s.receiver, s.sphere}, {{s.light}}});
    scenes.push_back({{{true, {0, 3.5, 7}, {20, 0.5, 20}},
                       {false, {0.3, 2, 7}, {0.8, 0, 0}},
                       {true, {-1.5, 2.2, 6}, {0.4, 0.4, 0.4}}},
                      {{{0.8, -3, 6.5}}, {{-3, -2, 2.5}}}});
    for (std::size_t n = 0; n < 2 * scenes.size(); ++n) {
        const std::int32_t samples = n < scenes.size() ? 1 : 2;
        SCOPED_TRACE(std::to_string(n % scenes.size()) + ", samples " + std::to_string(samples));
        const auto& [solids, lights] = scenes[n % scenes.size()];
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, solids);
        ShadowFrame frame(geometry, Width, Height, lights, solids[1].centre, 6.0);
        ASSERT_TRUE(frame.ok);
        ASSERT_EQ(frame.render.SetSamplesPerPixel(samples), RenderSizeOk);
        frame.render.RenderFrame(nullptr, false, nullptr, 0);
        for (std::size_t i = 0; i < lights.size(); ++i) {
            SCOPED_TRACE(i);
            StateMap rays, test;
            ShadowStates(frame, solids, lights[i].position, static_cast<std::int32_t>(i), -1, rays,
                         test);
            const std::vector<bool> band = Band(rays);
            std::int32_t compared = 0, shadowed = 0;
            for (std::size_t at = 0; at < rays.size(); ++at) {
                if (band[at] || rays[at] < 0) continue;
                ASSERT_EQ(test[at], rays[at]) << "at (" << at % Width << ", " << at / Width << ")";
                ++compared;
                if (rays[at] == 0) ++shadowed;
            }
            EXPECT_GT(compared, 1000);
            EXPECT_GT(shadowed, 30);
        }
    }
}

}  // namespace
