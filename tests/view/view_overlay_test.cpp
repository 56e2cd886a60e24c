#include "model/q_document_base.h"
#include "model/q_light.h"
#include "view/q_off_bits.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr std::int32_t Width = 160;
constexpr std::int32_t Height = 120;

struct Scene {
    Scene() : view(&document), pixels(static_cast<std::size_t>(Width * Height), 0u) {
        view.viewSettings.camera.Assign(QCamera());
        view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
        view.viewSettings.lights.RemoveAll();
        EXPECT_TRUE(view.InitViewBuffers(Width * 4, pixels.data(), Width, Height, true));
        auto made = std::make_unique<QLight>(&view);
        made->isOn = true;
        light = made.get();
        view.viewSettings.lights.AddLight(std::move(made));
        view.CreateSecondaryScene(true);
    }
    // The overlay's covered pixels along row y, and whether all show ball part.
    std::int32_t CoveredInRow(std::int32_t y, std::int32_t part) const {
        std::int32_t count = 0;
        for (std::int32_t x = 0; x < Width; ++x) {
            std::int32_t index = -1;
            Vec3 point{}, normal{};
            if (view.OverlayView()->PickAtPixel(0, x, y, index, point, normal)) {
                EXPECT_EQ(index, part) << x;
                ++count;
            }
        }
        return count;
    }

    QDocumentBase document;
    QRenderView view;
    std::vector<std::uint32_t> pixels;
    QLight* light = nullptr;
};

// The light's ball keeps a radius of 10 pixels, 20 across, whatever its depth. Each light
// is placed where the camera sees it at pixel (100, 69.5): its row 69 passes half a pixel
// from the centre, a chord of 2 sqrt(100 - 0.25) = 19.97 pixels.
TEST(ViewOverlay, LightBallKeepsItsSizeOnTheScreen) {
    Scene scene;
    ASSERT_NE(scene.view.OverlayView(), nullptr);
    for (const double depth : {2.0, 5.0, 10.0, 30.0, 80.0}) {
        SCOPED_TRACE(depth);
        scene.light->position = Vec3{0.02 * depth, 0.01 * depth, depth - 10.0};
        scene.view.SyncObjectsWithView(true);
        EXPECT_NEAR(scene.CoveredInRow(69, 0), 20, 1);
        EXPECT_NEAR(scene.CoveredInRow(70, 0), 20, 1);
        EXPECT_EQ(scene.CoveredInRow(69 - 12, 0), 0);
    }
}

// A refresh of the overlay sizes the balls for the camera as it stands.
TEST(ViewOverlay, OverlayRefreshFollowsTheCamera) {
    Scene scene;
    scene.light->position = Vec3{0.2, 0.1, 0.0};  // at depth 10: pixel (100, 69.5)
    scene.view.SyncObjectsWithView(true);
    ASSERT_NEAR(scene.CoveredInRow(69, 0), 20, 1);
    // The camera steps back to twice the distance: the light is seen at (90, 64.5), and a
    // refresh keeps its ball 20 pixels across.
    scene.view.viewSettings.camera.position = Vec3{0.0, 0.0, -20.0};
    scene.view.OverlayView()->Refresh();
    EXPECT_NEAR(scene.CoveredInRow(64, 0), 20, 1);
}

TEST(ViewOverlay, BallsWithoutALightAreHiddenAndTheOverlayGoes) {
    Scene scene;
    scene.light->position = Vec3{0.0, 0.0, 0.0};
    scene.view.SyncObjectsWithView(true);
    EXPECT_GT(scene.CoveredInRow(59, 0), 0);
    scene.view.viewSettings.lights.RemoveAll();
    scene.view.SyncObjectsWithView(true);
    EXPECT_EQ(scene.CoveredInRow(59, 0), 0);

    scene.view.CreateSecondaryScene(false);
    EXPECT_EQ(scene.view.OverlayView(), nullptr);
    EXPECT_EQ(scene.view.secondaryView, nullptr);
    scene.view.SyncObjectsWithView(true);  // no overlay: nothing to do
}

// A frame bitmap that counts its presentations.
class CountingBits final : public QOffBits {
public:
    void Update(bool) override { ++updates; }
    std::int32_t updates = 0;
};

TEST(ViewOverlay, RedrawComposesTheHandlesOverACopyOfThePicture) {
    QDocumentBase document;
    QRenderView view(&document);
    view.viewSettings.camera.Assign(QCamera());
    view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
    view.viewSettings.lights.RemoveAll();
    CountingBits frame;
    CountingBits composed;
    frame.Create(Width, Height);
    composed.Create(Width, Height);
    ASSERT_TRUE(view.InitViewBuffers(frame, true));
    view.overlayFrameBitmap = &composed;
    auto made = std::make_unique<QLight>(&view);
    made->isOn = true;
    made->position = Vec3{0.2, 0.1, 0.0};  // seen at pixel (100, 69.5)
    view.viewSettings.lights.AddLight(std::move(made));
    view.CreateSecondaryScene(true);
    view.SyncObjectsWithView(true);
    view.Refresh();
    ASSERT_TRUE(view.AnyObjectActive());

    view.Redraw(true);
    EXPECT_EQ(frame.updates, 0);
    EXPECT_EQ(composed.updates, 1);
    const std::uint32_t* picture = frame.GetBits();
    const std::uint32_t* shown = composed.GetBits();
    const std::size_t ball = 69 * Width + 100;
    const std::size_t corner = 5 * Width + 5;
    EXPECT_NE(shown[ball] & 0xFFFFFFu, picture[ball] & 0xFFFFFFu);
    EXPECT_EQ(shown[ball] >> 24, 0xFFu);
    EXPECT_EQ(shown[corner], picture[corner] | 0xFF000000u);
    EXPECT_EQ(picture[ball] >> 24, 0u);  // the picture itself keeps no handle

    // Without a shown handle the picture is presented as it is.
    view.viewSettings.lights.RemoveAll();
    view.SyncObjectsWithView(true);
    EXPECT_FALSE(view.AnyObjectActive());
    view.Redraw(true);
    EXPECT_EQ(frame.updates, 1);
    EXPECT_EQ(composed.updates, 1);
}

}  // namespace
