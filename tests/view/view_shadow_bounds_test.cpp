// The view's shadows: the settings' switch turns them on, the shadow bounds come from the
// scene's depths, and the picture's shadows agree with an independent shadow-ray caster.

#include "core/matrix3.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "render/cast_frame_pass.h"
#include "support/shadow_scene.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using shadow_scene::Solid;

constexpr std::int32_t Width = 160;
constexpr std::int32_t Height = 120;

// A floor with a sphere over it; the eye at the origin looks along +z (y down).
const std::vector<Solid> Scene{
    {true, {0, 3.5, 12}, {20, 0.5, 20}, 0xA0A0A0},
    {false, {0.5, 1.8, 9}, {0.9, 0, 0}, 0xC04040},
};

// The light's direction from the scene; the view places such a light far along it.
const Vec3 LightDirection{0.35, -1.0, -0.25};

// A view of the scene whose camera is the identity (world space is view space), focal
// length 120 pixels, one light that keeps its distance.
struct ShadowView {
    ShadowView() : view(&document), pixels(static_cast<std::size_t>(Width) * Height) {
        QCamera& camera = view.viewSettings.camera;
        camera.transform = MakeIdentity();
        camera.orientation = Matrix3SetDiagonal(1.0);
        camera.position = Vec3{};
        camera.fov = 0.12;
        camera.m = 1.0;
        view.viewSettings.lights.RemoveAll();
        auto light = std::make_unique<QLight>(&view);
        light->position = Vec3Scale(LightDirection, 40.0);
        light->brightness = 1.0;
        light->isOn = true;
        view.viewSettings.lights.AddLight(std::move(light));
    }

    void AddScene() { shadow_scene::MakeGeometry(*document.Geometry(), Scene); }

    bool Size() { return view.InitViewBuffers(Width * 4, pixels.data(), Width, Height, true); }

    QDocumentBase document;
    QRenderView view;
    std::vector<std::uint32_t> pixels;
};

// The nearest solid the ray from the eye through pixel (x, y)'s centre meets, and the point;
// false when it meets none.
bool NearestHit(std::int32_t x, std::int32_t y, Vec3& point) {
    const double f = 120.0;
    const Vec3 far{(x - Width / 2 + 0.5) / f * 100.0, (y - Height / 2 + 0.5) / f * 100.0, 100.0};
    double best = 2.0;
    for (const Solid& solid : Scene)
        best = std::min(best, shadow_scene::SegmentEntry(solid, {}, far));
    if (best >= 1.0) return false;
    point = Vec3Scale(far, best);
    return true;
}

TEST(ViewShadowBounds, ASceneWithShadowsOnRendersTheShadowsAShadowRayCasterFinds) {
    ShadowView scene;
    scene.AddScene();
    ASSERT_EQ(scene.view.viewSettings.shadowsOn, 1);  // the default
    ASSERT_TRUE(scene.Size());
    ASSERT_TRUE(scene.view.CreateSecondaryView(true, 0.0));
    QRenderView& view = scene.view;
    EXPECT_TRUE(view.options.shadows);
    EXPECT_EQ(view.ShadowLightCount(), 1);

    // The bounds: the centre on the view axis between the floor's nearest and farthest
    // visible points, the radius the view's half-width there.
    EXPECT_EQ(view.shadowCentre.x, 0.0);
    EXPECT_EQ(view.shadowCentre.y, 0.0);
    EXPECT_GT(view.shadowCentre.z, 6.0);
    EXPECT_LT(view.shadowCentre.z, 32.0);
    const double half = Width / 2.0;
    EXPECT_NEAR(view.shadowRadius,
                view.shadowCentre.z * half / std::sqrt(120.0 * 120.0 + half * half), 1e-9);

    view.Refresh();
    EXPECT_TRUE(view.isFrameValid);
    // The light stands so far off that its rays are parallel over the scene: a point's
    // shadow ray runs 100 units along its direction.
    const Vec3 towardsLight = Vec3Scale(LightDirection, 100.0 / Vec3Length(LightDirection));
    const auto blockedAt = [&](const Vec3& p) {
        return shadow_scene::IsBlocked(Scene, p, Vec3Add(p, towardsLight));
    };
    std::int32_t compared = 0, shadowed = 0, disagreeing = 0;
    std::int64_t litSum = 0, shadowSum = 0;
    std::int32_t litCount = 0;
    for (std::int32_t y = 1; y + 1 < Height; ++y) {
        for (std::int32_t x = 1; x + 1 < Width; ++x) {
            Vec3 point;
            if (!NearestHit(x, y, point)) continue;
            // Away from shadow edges: the caster agrees with itself on the pixel's
            // neighbours, and the point lies inside the shadow sphere.
            const bool blocked = blockedAt(point);
            bool isEdge = false;
            for (std::int32_t dy = -1; dy <= 1 && !isEdge; ++dy) {
                for (std::int32_t dx = -1; dx <= 1 && !isEdge; ++dx) {
                    Vec3 q;
                    isEdge = !NearestHit(x + dx, y + dy, q) || blockedAt(q) != blocked;
                }
            }
            const Vec3 d = Vec3Sub(point, view.shadowCentre);
            if (isEdge || Vec3Length(d) > view.shadowRadius * 0.95) continue;
            std::uint32_t mask = 0;
            view.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            if ((mask & 0x8000u) == 0) continue;  // facing away: no light, no shadow
            const bool isLit = (mask & 0x80000000u) != 0;
            ++compared;
            if (isLit == blocked) ++disagreeing;
            // The floor's pixels: lit ones brighter than shadowed ones.
            if (point.y > 2.99) {
                const std::uint32_t pixel = scene.pixels[static_cast<std::size_t>(y * Width + x)];
                if (blocked) {
                    shadowSum += pixel & 0xFF;
                    ++shadowed;
                } else {
                    litSum += pixel & 0xFF;
                    ++litCount;
                }
            }
        }
    }
    EXPECT_GT(compared, 2000);
    EXPECT_GT(shadowed, 50);
    EXPECT_EQ(disagreeing, 0);
    ASSERT_GT(litCount, 0);
    ASSERT_GT(shadowed, 0);
    EXPECT_LT(shadowSum / shadowed + 20, litSum / litCount);
}

// A view sized with shadows on keeps the light layers of its frames, and an incremental frame
// that moves the sphere (its shadow moving over the floor) shows what a whole render shows.
TEST(ViewShadowBounds, AViewSizedWithShadowsKeepsItsLightLayers) {
    ShadowView scene;
    scene.AddScene();
    ASSERT_TRUE(scene.Size());
    ASSERT_TRUE(scene.view.CreateSecondaryView(true, 0.0));
    QRenderView& view = scene.view;
    view.Refresh();
    ASSERT_NE(view.LayerPlanes(), nullptr);
    EXPECT_TRUE(view.areLayersOfWorking);
    // The background without the sphere, as the view keeps it for a drag of the selection.
    const std::int32_t moving[] = {1, 1};
    view.ResetAuxBuffers();
    view.RenderFrame(moving, true, moving, 0);
    EXPECT_TRUE(view.areLayersOfBackups);

    for (std::int32_t tick = 1; tick <= 4; ++tick) {
        SCOPED_TRACE(tick);
        Solid ball = Scene[1];
        ball.centre.x += 0.4 * tick;
        shadow_scene::PlaceSolid(*scene.document.Geometry(), 1, ball);
        view.RenderFrame(moving, false, nullptr, 0);

        ShadowView whole;
        shadow_scene::MakeGeometry(*whole.document.Geometry(), Scene);
        shadow_scene::PlaceSolid(*whole.document.Geometry(), 1, ball);
        ASSERT_TRUE(whole.Size());
        whole.view.shadowCentre = view.shadowCentre;
        whole.view.shadowRadius = view.shadowRadius;
        whole.view.Refresh();
        std::int32_t differing = 0;
        for (std::size_t i = 0; i < scene.pixels.size(); ++i) {
            const std::uint32_t a = scene.pixels[i], b = whole.pixels[i];
            for (int shift = 0; shift < 32; shift += 8) {
                if (std::abs(static_cast<int>((a >> shift) & 0xFF) -
                             static_cast<int>((b >> shift) & 0xFF)) > 1) {
                    ++differing;
                    break;
                }
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

TEST(ViewShadowBounds, WithShadowsOffTheBoundsStayAndNothingIsShadowed) {
    ShadowView scene;
    scene.AddScene();
    scene.view.viewSettings.shadowsOn = 0;
    ASSERT_TRUE(scene.Size());
    QRenderView& view = scene.view;
    view.shadowCentre = Vec3{1.0, 2.0, 3.0};
    view.shadowRadius = 4.0;
    EXPECT_FALSE(view.CreateSecondaryView(true, 0.0));
    EXPECT_EQ(Vec3Compare(view.shadowCentre, Vec3{1.0, 2.0, 3.0}), 0);
    EXPECT_EQ(view.shadowRadius, 4.0);
    view.Refresh();
    EXPECT_FALSE(view.options.shadows);
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            std::uint32_t mask = 0;
            view.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            // Every light a surface faces lights it.
            ASSERT_EQ(mask >> 16, mask & 0xFFFFu);
        }
    }

    // A flat line style has no shadows either, whatever the switch says.
    view.viewSettings.shadowsOn = 1;
    view.SetDrawMode(4);
    EXPECT_FALSE(view.CreateSecondaryView(true, 0.0));
    EXPECT_EQ(view.shadowRadius, 4.0);
}

TEST(ViewShadowBounds, AFrameWithoutObjectsIsNotValidAndTheNextRequestRunsThePrePass) {
    ShadowView scene;
    ASSERT_TRUE(scene.Size());
    QRenderView& view = scene.view;
    view.Refresh();
    EXPECT_FALSE(view.isFrameValid);
    // Nothing covered: the centre keeps its depth.
    view.shadowCentre = Vec3{0.0, 0.0, 50.0};
    view.UpdateCentrePoint(Vec3{});
    EXPECT_EQ(view.shadowCentre.z, 50.0);

    // However large the tolerance, a frame that is not valid does not measure the centre:
    // the pre-pass does.
    scene.AddScene();
    EXPECT_TRUE(view.CreateSecondaryView(false, 1e9));
    const double measured = view.shadowCentre.z;
    EXPECT_GT(measured, 6.0);
    EXPECT_LT(measured, 32.0);

    // A valid frame measures it instead; a move within the tolerance keeps the old bounds.
    view.Refresh();
    ASSERT_TRUE(view.isFrameValid);
    view.shadowCentre = Vec3{0.0, 0.0, 50.0};
    const double radius = view.shadowRadius;
    EXPECT_FALSE(view.CreateSecondaryView(false, 1e9));
    EXPECT_EQ(view.shadowCentre.z, 50.0);
    EXPECT_EQ(view.shadowRadius, radius);
    EXPECT_TRUE(view.CreateSecondaryView(false, 0.0));
    // The full-size frame measures about what the half-size pre-pass did.
    EXPECT_NEAR(view.shadowCentre.z, measured, 0.1 * measured);
}

TEST(ViewShadowBounds, RadiusModesAndTheAutoSwitch) {
    ShadowView scene;
    ASSERT_TRUE(scene.Size());
    QRenderView& view = scene.view;
    view.shadowCentre = Vec3{3.0, 0.0, 4.0};
    view.shadowRadiusWeight = 2.0;
    view.shadowRadiusMode = 0;
    view.isShadowRadiusReady = false;
    view.UpdateProjection();
    EXPECT_DOUBLE_EQ(view.shadowRadius, 5.0 * 2.0 / 0.12);
    EXPECT_TRUE(view.isShadowRadiusReady);
    // Without the auto switch the radius stays as set.
    view.isShadowAuto = false;
    view.shadowRadius = 7.0;
    view.UpdateProjection();
    EXPECT_EQ(view.shadowRadius, 7.0);
    // Never below 0.1.
    view.isShadowAuto = true;
    view.shadowRadiusMode = 1;
    view.shadowCentre = Vec3{};
    view.UpdateProjection();
    EXPECT_EQ(view.shadowRadius, 0.1);
}

}  // namespace
