// Shadow light maps: the frustum slopes, the shadow test on hand-made maps, and whole frames
// of a sphere over a plane checked against the analytic shadow and a shadow-ray caster.

#include "render/light_map.h"

#include "render/shadow_pass.h"
#include "support/shadow_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

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
    const Case cases[] = {{10, 0, 1, true}, {10, 3, 2, true}, {5, -4, 1.5, true},
                          {1, 0, 2, false}, {1, 0.5, 0.9, false}};
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
        {"flat cell with the point's id", {0.01, 0.01, 20}, wallId, wallId | LightMapFlat, true,
         true},
        {"flat cell with another id, no probe", {0.01, 0.01, 20}, wallId,
         sphereId | LightMapFlat, false, true},
        {"boundary cell, the probe meets the sphere nearer", {0.01, 0.01, 20}, wallId, sphereId,
         false, true},
        {"boundary cell, the point before the sphere", {0.01, 0.01, 5}, wallId, sphereId, true,
         true},
        {"boundary cell, the probe hits the point's own surface", {0.0, 0.0, 9.0}, sphereId,
         sphereId, true, true},
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

// A sphere over a receiving box face, lit by one light, with the face the test expects.
struct SphereOverPlane {
    const char* what;
    Solid receiver;   // a box; its face towards the light receives the shadow
    Solid sphere;
    Vec3 light;
    std::int32_t axisCode;
};

const SphereOverPlane Scenes[] = {
    {"z-: wall behind", {true, {0, 0, 16}, {20, 20, 0.5}}, {false, {0.5, 0.3, 11}, {1, 0, 0}},
     {1.5, -0.5, 4}, 0},
    {"z+: light behind the sphere", {true, {0, 2.5, 10}, {20, 0.5, 20}},
     {false, {0, 1.2, 10}, {0.5, 0, 0}}, {0.5, -0.5, 18}, 1},
    {"x-: wall at the right", {true, {3.5, 0, 12}, {0.5, 20, 20}},
     {false, {1.7, 0, 12}, {1.0, 0, 0}}, {-4, 0.5, 11}, 2},
    {"x+: wall at the left", {true, {-3.5, 0, 12}, {0.5, 20, 20}},
     {false, {-1.7, 0, 12}, {1.0, 0, 0}}, {4, 0.5, 11}, 3},
    {"y-: floor", {true, {0, 3.5, 7}, {20, 0.5, 20}}, {false, {0.3, 2, 7}, {0.8, 0, 0}},
     {0.8, -3, 6.5}, 4},
    {"y+: ceiling", {true, {0, -3.5, 7}, {20, 0.5, 20}}, {false, {0.3, -2, 7}, {0.8, 0, 0}},
     {0.8, 3, 6.5}, 5},
    {"off-axis over the floor", {true, {0, 3.5, 7}, {20, 0.5, 20}},
     {false, {0.3, 2, 7}, {0.8, 0, 0}}, {-3, -2, 2.5}, 0},
};

// The scene's geometry, built first so that the frame can load its parts.
struct SceneParts {
    explicit SceneParts(const SphereOverPlane& s) : solids{s.receiver, s.sphere} {
        shadow_scene::MakeGeometry(geometry, solids);
    }
    std::vector<Solid> solids;
    SceneGeometry geometry;
};

// Renders the scene whole and hands back the frame.
struct RenderedScene : SceneParts {
    explicit RenderedScene(const SphereOverPlane& s)
        : SceneParts(s), frame(geometry, Width, Height, {Light{s.light}}, s.sphere.centre, 6.0) {
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
    for (const SphereOverPlane& scene : Scenes) {
        SCOPED_TRACE(scene.what);
        RenderedScene rendered(scene);
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
                if (shadow_scene::SegmentEntry(ball, Vec3{}, Vec3{ray.x * 100, ray.y * 100,
                                                                  ray.z * 100}) < 1.0) {
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

TEST(LightMap, ShadowRaysAgreeWithTheShadowTestAwayFromEdges) {
    // Every scene, and one with a second sphere and two lights.
    std::vector<std::pair<std::vector<Solid>, std::vector<Light>>> scenes;
    for (const SphereOverPlane& s : Scenes) scenes.push_back({{s.receiver, s.sphere}, {{s.light}}});
    scenes.push_back({{{true, {0, 3.5, 7}, {20, 0.5, 20}},
                       {false, {0.3, 2, 7}, {0.8, 0, 0}},
                       {true, {-1.5, 2.2, 6}, {0.4, 0.4, 0.4}}},
                      {{{0.8, -3, 6.5}}, {{-3, -2, 2.5}}}});
    for (std::size_t n = 0; n < scenes.size(); ++n) {
        SCOPED_TRACE(n);
        const auto& [solids, lights] = scenes[n];
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, solids);
        ShadowFrame frame(geometry, Width, Height, lights, solids[1].centre, 6.0);
        ASSERT_TRUE(frame.ok);
        frame.render.RenderFrame(nullptr, false, nullptr, 0);
        for (std::size_t i = 0; i < lights.size(); ++i) {
            SCOPED_TRACE(i);
            const std::uint32_t litBit = 0x80000000u >> i;
            const std::uint32_t facingBit = 0x8000u >> i;
            StateMap rays(static_cast<std::size_t>(Width * Height), -1);
            StateMap test(static_cast<std::size_t>(Width * Height), -1);
            for (std::int32_t y = 0; y < Height; ++y) {
                for (std::int32_t x = 0; x < Width; ++x) {
                    std::uint32_t mask = 0;
                    double depth = 0;
                    const std::uint32_t word = frame.render.QueryPixel(x, y, &mask, &depth, 0, nullptr);
                    const std::size_t at = static_cast<std::size_t>(y * Width + x);
                    // Edges between surfaces count as a state of their own.
                    rays[at] = -2 - static_cast<int>(word & PixelIdMask);
                    if ((word & PixelIdMask) == 0 || (mask & facingBit) == 0) continue;
                    const Vec3 ray = frame.Ray(x, y);
                    const Vec3 p{ray.x * depth, ray.y * depth, depth};
                    rays[at] = shadow_scene::IsBlocked(solids, p, lights[i].position) ? 0 : 1;
                    test[at] = (mask & litBit) != 0 ? 1 : 0;
                }
            }
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
