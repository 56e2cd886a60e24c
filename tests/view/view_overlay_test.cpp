#include "core/colour.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "modeller/q_kv_action.h"
#include "object/q_reference_object.h"
#include "view/q_off_bits.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <array>
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
        // A light at an object shows its ball alone.
        made->isAtObject = true;
        made->SetVisibleInView(true);
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

// SyncSecondaryView draws the overlay through the main view's camera as it stands and keeps
// the picture as the overlay's background; a deferring view leaves the overlay as it was.
TEST(ViewOverlay, SyncSecondaryViewDrawsTheOverlayForTheCamera) {
    Scene scene;
    scene.light->position = Vec3{0.2, 0.1, 0.0};  // at depth 10: pixel (100, 69.5)
    scene.view.SyncObjectsWithView(true);
    QRenderView& overlay = *scene.view.OverlayView();
    ASSERT_NEAR(scene.CoveredInRow(69, 0), 20, 1);

    // Twice the distance: the ball, 0.5 in radius, is seen at (90, 64.5), 5 pixels in radius.
    scene.view.viewSettings.camera.position = Vec3{0.0, 0.0, -20.0};
    scene.view.isDeferred = true;
    scene.view.SyncSecondaryView(true);
    EXPECT_NEAR(scene.CoveredInRow(69, 0), 20, 1);  // deferred: nothing drawn
    scene.view.isDeferred = false;
    scene.view.SyncSecondaryView(true);
    EXPECT_NEAR(scene.CoveredInRow(64, 0), 10, 1);
    EXPECT_EQ(scene.CoveredInRow(69 + 6, 0), 0);
    EXPECT_TRUE(overlay.AuxBuffersReady());
    const Matrix4W camera = scene.view.GetCameraMatrix();
    EXPECT_EQ(overlay.storedCameraMatrix.m, camera.m);

    scene.view.CreateSecondaryScene(false);
    scene.view.SyncSecondaryView(true);  // no overlay: nothing to do
}

// Each placement of a light's handles starts their undo history again: one snapshot, of where
// they were placed, so an undo after a drag returns them there.
TEST(ViewOverlay, PlacedHandlesKeepOneUndoSnapshotOfTheirPlace) {
    Scene scene;
    scene.light->isAtObject = false;
    QMorvanObjects& handles = *scene.view.OverlayDocument()->Objects();
    for (const double x : {0.6, -0.4}) {
        SCOPED_TRACE(x);
        scene.light->position = Vec3{x, 0.0, 0.0};
        scene.view.SyncObjectsWithView(false);
        for (const std::int32_t index : {0, 16, 32}) {
            SCOPED_TRACE(index);
            QMorvanObject& handle = *handles.At(index);
            EXPECT_EQ(handle.HistorySize(), 1);
            const Vec3 placed = handle.GetCentre();
            handle.SetPosition(Vec3{5.0, 5.0, 5.0});
            ASSERT_TRUE(handle.RestoreFromSnapshot(true, false));
            EXPECT_NEAR(handle.GetCentre().x, placed.x, 1e-6);
            EXPECT_NEAR(handle.GetCentre().y, placed.y, 1e-6);
        }
        EXPECT_NEAR(handles.At(0)->GetCentre().x, x, 1e-6);
    }
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
    made->isAtObject = true;
    made->SetVisibleInView(true);
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

// A light that does not sit at an object points at its view target (here the origin, seen
// at the centre pixel (80, 60) of an empty view, 10 deep): its arrowhead runs 25 pixels from
// the target, 1 pixel in radius there and 10 at its base, then its shaft, 3 pixels in
// radius, reaches the ball. The three handles are linked with the light, picked together,
// and leave the overlay when the light is no longer shown.
TEST(ViewOverlay, LightShaftAndArrowheadPointAtTheTarget) {
    Scene scene;
    scene.light->isAtObject = false;
    scene.light->position = Vec3{0.6, 0.0, 0.0};  // seen at pixel (140, 60)
    scene.view.SyncObjectsWithView(true);
    QMorvanObjects& handles = *scene.view.OverlayDocument()->Objects();
    EXPECT_EQ(scene.light->Link(LightLinkFollowed), handles.At(0));
    EXPECT_EQ(scene.light->Link(LightLinkSecond), handles.At(16));
    EXPECT_EQ(scene.light->Link(LightLinkThird), handles.At(32));

    // Covered pixels down column x, all of part.
    const auto coveredInColumn = [&](std::int32_t x, std::int32_t part) {
        std::int32_t count = 0;
        for (std::int32_t y = 0; y < Height; ++y) {
            std::int32_t index = -1;
            Vec3 point{}, normal{};
            if (scene.view.OverlayView()->PickAtPixel(0, x, y, index, point, normal)) {
                EXPECT_EQ(index, part) << x << ", " << y;
                ++count;
            }
        }
        return count;
    };
    // The head's radius grows from 1 to 10 pixels over its 25: 1 + 9 (x + 0.5 - 80) / 25.
    for (const std::int32_t x : {84, 92, 100}) {
        SCOPED_TRACE(x);
        const double radius = 1.0 + 9.0 * (x + 0.5 - 80.0) / 25.0;
        EXPECT_NEAR(coveredInColumn(x, 32), 2.0 * radius, 1.5);
    }
    for (const std::int32_t x : {110, 120}) {
        SCOPED_TRACE(x);
        EXPECT_NEAR(coveredInColumn(x, 16), 6, 1);
    }
    EXPECT_NEAR(coveredInColumn(140, 0), 20, 1);
    EXPECT_EQ(coveredInColumn(70, -2), 0);  // nothing beyond the target

    // A click on the shaft selects the light's three handles.
    scene.view.OverlayView()->UpdateSelection(16, false, 0, false);
    EXPECT_EQ(handles.SelectionIds().Count(), 3);
    EXPECT_TRUE(handles.At(0)->IsSelected());
    EXPECT_TRUE(handles.At(32)->IsSelected());

    // Dragging the ball moves the light.
    handles.At(0)->SetPosition(Vec3{0.6, 0.3, 0.0});
    QReferenceObject::Broadcast(handles.At(0), MessageChanged, 0);
    EXPECT_NE(scene.light->position.y, 0.0);

    // A light no longer shown hides its handles and leaves the selection.
    scene.light->SetVisibleInView(false);
    EXPECT_EQ(handles.SelectionIds().Count(), 0);
    EXPECT_FALSE(handles.At(0)->IsVisible());
    EXPECT_FALSE(handles.At(16)->IsVisible());

    // The overlay goes without taking the light with it.
    scene.view.CreateSecondaryScene(false);
    ASSERT_EQ(scene.view.viewSettings.lights.Count(), 1);
    EXPECT_EQ(scene.light->Link(LightLinkFollowed), nullptr);
}

// The world-axis arrows stand at the origin when shown: each shaft spans half the shorter
// side of the view (at least one unit of length), a line 1.5 pixels across, and its head 8
// pixels beyond. The camera stands 30 from the origin: half of 120 pixels spans 1.8.
TEST(ViewOverlay, WorldAxesFollowTheirSwitch) {
    Scene scene;
    scene.view.viewSettings.camera.position = Vec3{0.0, 0.0, -30.0};
    scene.light->position = Vec3{0.0, 5.0, 0.0};  // out of the picture
    scene.document.worldAxesShown = 1;
    scene.view.SyncObjectsWithView(true);
    QMorvanObjects& handles = *scene.view.OverlayDocument()->Objects();
    for (std::int32_t i = 48; i < 54; ++i) EXPECT_TRUE(handles.At(i)->IsVisible()) << i;
    // The x shaft (object 50) from pixel 80 - 30 to 80 + 30 on row 60, its head beyond.
    std::int32_t shaft = 0;
    std::int32_t head = 0;
    for (std::int32_t x = 0; x < Width; ++x) {
        std::int32_t index = -1;
        Vec3 point{}, normal{};
        if (!scene.view.OverlayView()->PickAtPixel(0, x, 60, index, point, normal)) continue;
        if (index == 48 || index == 50 || index == 52) ++shaft;  // the y and z shafts cross
        if (index == 51) ++head;
    }
    EXPECT_NEAR(shaft, 60, 2);
    EXPECT_NEAR(head, 8, 1.5);
    scene.document.worldAxesShown = 0;
    scene.view.SyncObjectsWithView(true);
    for (std::int32_t i = 48; i < 54; ++i) EXPECT_FALSE(handles.At(i)->IsVisible()) << i;
}

// The object-axis arrows stand at the selected object and follow the modeller's tool.
TEST(ViewOverlay, ObjectAxisArrowsFollowTheSelectionAndTheTool) {
    Scene scene;
    scene.light->position = Vec3{0.0, 5.0, 0.0};  // out of the picture
    const Colour white = ColourFromBytes(255, 255, 255);
    scene.document.Objects()->AddShapeType1(0.05, white, Vec3{});
    scene.document.Objects()->AddShapeType1(0.05, white, Vec3{0.4, 0.0, 0.0});  // pixel 120
    scene.document.objectAxesShown = 1;
    QKVAction* action = MouseActionOf(scene.document);
    ASSERT_NE(action, nullptr);
    QMorvanObjects& handles = *scene.view.OverlayDocument()->Objects();
    const SceneGeometry& arrows = *scene.view.OverlayDocument()->Geometry();
    const auto shown = [&] {
        std::vector<std::int32_t> ids;
        for (std::int32_t i = 54; i < 60; ++i) {
            if (handles.At(i)->IsVisible()) ids.push_back(i);
        }
        return ids;
    };
    const auto covered = [&](std::int32_t x0, std::int32_t y0, std::int32_t dx, std::int32_t dy,
                             std::int32_t part) {
        std::int32_t count = 0;
        for (std::int32_t x = x0, y = y0; x < Width && y < Height; x += dx, y += dy) {
            std::int32_t index = -1;
            Vec3 point{}, normal{};
            if (scene.view.OverlayView()->PickAtPixel(0, x, y, index, point, normal) &&
                index == part) {
                ++count;
            }
        }
        return count;
    };

    // Nothing selected: no arrows.
    scene.view.SyncObjectsWithView(true);
    EXPECT_TRUE(shown().empty());

    // Tool 102 acting on axis 1 alone, in the world's frame: the y shaft is yellow, drawn
    // highlighted and 3 pixels across; the x shaft keeps its red and 2 pixels.
    scene.view.UpdateSelection(1, false, 0, false);
    action->tools.SelectTool(102);
    action->axisTools.tool102AxisChoice = 2;
    action->axisTools.tool102FrameMode = 1;
    scene.view.SyncObjectsWithView(true);
    EXPECT_EQ(shown(), (std::vector<std::int32_t>{54, 55, 56, 57, 58, 59}));
    EXPECT_EQ(arrows.Part(56)->colour & 0xFFFFFFu, 0xFFFF00u);
    EXPECT_EQ(arrows.Part(56)->selected, 1);
    EXPECT_EQ(arrows.Part(54)->colour & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(arrows.Part(54)->selected, 0);
    EXPECT_NEAR(covered(100, 45, 1, 0, 56), 3, 1);  // across the y shaft, 15 pixels up
    EXPECT_NEAR(covered(135, 0, 0, 1, 54), 2, 1);   // across the x shaft, 15 pixels right
    // The shafts reach one unit of length (2.5 times the ball's extent is less): 100 pixels,
    // beyond the frame.
    EXPECT_GT(covered(0, 60, 1, 0, 54), 30);
    std::array<Vec3, 3> axes{};
    std::array<bool, 3> flags{};
    Vec3 anchor{};
    double length = 0.0;
    bool isLocalLight = true;
    ASSERT_TRUE(scene.view.DragAlongObjectAxes(anchor, axes, flags, length, isLocalLight));
    EXPECT_NEAR(anchor.x, 0.4, 1e-6);
    EXPECT_NEAR(length, 0.05, 1e-6);
    EXPECT_FALSE(isLocalLight);

    // Tool 105 marks no axis; tool 103 marks its mask's axes; another tool shows nothing.
    action->tools.SelectTool(105);
    ASSERT_TRUE(scene.view.DragAlongObjectAxes(anchor, axes, flags, length, isLocalLight));
    EXPECT_EQ(flags, (std::array<bool, 3>{false, false, false}));
    EXPECT_EQ(Vec3Compare(axes[0], Vec3{1.0, 0.0, 0.0}), 0);
    action->tools.SelectTool(103);
    action->axisTools.tool103AxisMask = 5;
    ASSERT_TRUE(scene.view.DragAlongObjectAxes(anchor, axes, flags, length, isLocalLight));
    EXPECT_EQ(flags, (std::array<bool, 3>{true, false, true}));
    action->tools.SelectTool(107);
    EXPECT_FALSE(scene.view.DragAlongObjectAxes(anchor, axes, flags, length, isLocalLight));
    scene.view.SyncObjectsWithView(true);
    EXPECT_TRUE(shown().empty());

    // Switched off: nothing.
    action->tools.SelectTool(102);
    scene.document.objectAxesShown = 0;
    EXPECT_FALSE(scene.view.DragAlongObjectAxes(anchor, axes, flags, length, isLocalLight));
}

}  // namespace
