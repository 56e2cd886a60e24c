#include "core/colour.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "modeller/q_kv_action.h"
#include "object/q_reference_object.h"
#include "platform/input_state.h"
#include "platform/scripted_input_state.h"
#include "render/render_interrupt.h"
#include "view/q_off_bits.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace {

// A frame bitmap that records what it is asked to present.
class RecordingBits final : public QOffBits {
public:
    struct Call {
        bool full;
        FrameRect rect;
    };
    void Update(bool full) override { calls.push_back({full, updateRect}); }
    std::vector<Call> calls;
};

struct Scene {
    Scene() : view(&document) {
        view.viewSettings.camera.Assign(QCamera());
        view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
        bits.Create(64, 48);
        EXPECT_TRUE(view.InitViewBuffers(bits, true));
    }
    QDocumentBase document;
    QRenderView view;
    RecordingBits bits;
};

TEST(ViewRefresh, RefreshDrawsIntoTheFrameBitmapAndRedrawPresentsWhatChanged) {
    Scene scene;
    scene.view.Refresh();
    EXPECT_FALSE(scene.view.isFrameValid);  // nothing to show yet
    EXPECT_EQ(scene.bits.GetBits()[0] >> 24, 0u);

    scene.document.Objects()->AddShapeType1(0.05, ColourFromBytes(255, 255, 255), Vec3{});
    scene.document.Objects()->AddShapeType1(0.05, ColourFromBytes(255, 255, 255),
                                            Vec3{0.2, 0.0, 0.0});
    scene.view.RedrawAll(false);
    EXPECT_TRUE(scene.view.isFrameValid);
    EXPECT_EQ(scene.bits.GetBits()[24 * 64 + 32] >> 24, 0xFFu);  // the ball at the centre
    scene.view.Redraw(false);
    ASSERT_EQ(scene.bits.calls.size(), 1u);
    EXPECT_FALSE(scene.bits.calls[0].full);
    EXPECT_EQ(scene.bits.calls[0].rect, (FrameRect{0, 0, 64, 48}));

    // A selection change presents only about the selected ball (at pixel 52, 24).
    scene.view.dirtyRect = FrameRect{};
    scene.view.UpdateSelection(1, false, 0, false);
    scene.view.Redraw(false);
    const FrameRect rect = scene.bits.calls.back().rect;
    EXPECT_FALSE(rect.IsEmpty());
    EXPECT_LE(rect.left, 52);
    EXPECT_GT(rect.right, 52);
    EXPECT_GT(rect.left, 36);  // not the ball at the centre
    EXPECT_LE(rect.top, 24);
    EXPECT_GT(rect.bottom, 24);

    // Draw mode 2 and deferral present the whole bitmap.
    scene.view.SetDrawMode(2);
    scene.view.Redraw(false);
    EXPECT_TRUE(scene.bits.calls.back().full);
    scene.view.SetDrawMode(0);
    scene.view.isDeferred = true;
    scene.view.Redraw(false);
    EXPECT_TRUE(scene.bits.calls.back().full);

    // A deferred refresh renders nothing and the frame no longer holds.
    scene.view.Refresh();
    EXPECT_FALSE(scene.view.isFrameValid);
}

TEST(ViewRefresh, RedrawNeedsAMainViewWithAFrameBitmap) {
    Scene scene;
    scene.view.isDelegate = true;
    scene.view.Redraw(true);
    EXPECT_TRUE(scene.bits.calls.empty());

    QDocumentBase document;
    QRenderView bare(&document);
    std::vector<std::uint32_t> pixels(64 * 48);
    ASSERT_TRUE(bare.InitViewBuffers(64 * 4, pixels.data(), 64, 48, true));
    bare.Redraw(true);  // no bitmap: nothing to present, nothing fails
    EXPECT_EQ(bare.frameBitmap, nullptr);
}

// Records the document's change messages, with its progress at each.
class ChangeListener final : public QReferenceObject {
public:
    struct Heard {
        std::int32_t change;
        std::int32_t stage;
        std::int32_t percent;
    };
    explicit ChangeListener(QDocumentBase& watched) : document(watched) {
        AddReference(&document, this, 0);
    }
    ~ChangeListener() override { RemoveReference(&document, this, 0); }
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject*,
                       QReferenceObject*) override {
        if (message == MessageChanged) {
            heard.push_back({a, document.progressStage, document.progressPercent});
        }
    }
    std::vector<Heard> heard;

private:
    QDocumentBase& document;
};

TEST(ViewRefresh, RefreshLeavesTheDraggedObjectOutAndShowsItAgainAfterAnAbandonedRender) {
    Scene scene;
    const Colour white = ColourFromBytes(255, 255, 255);
    scene.document.Objects()->AddShapeType1(0.05, white, Vec3{});
    QMorvanObject* dragged =
        scene.document.Objects()->AddShapeType1(0.05, white, Vec3{0.2, 0.0, 0.0});
    QKVAction* action = MouseActionOf(scene.document);
    ASSERT_NE(action, nullptr);
    QReferenceObject::AddReference(dragged, action, 0);
    action->pending = dragged;
    dragged->changed = 0;

    ChangeListener listener(scene.document);
    scene.view.Refresh();
    const std::uint32_t* bits = scene.bits.GetBits();
    EXPECT_EQ(bits[24 * 64 + 32] >> 24, 0xFFu);  // the ball at the centre is drawn
    EXPECT_EQ(bits[24 * 64 + 52] >> 24, 0u);     // the dragged one is not
    EXPECT_TRUE(dragged->IsVisible());
    EXPECT_EQ(dragged->changed, 0);
    // The refresh announced its start and its end, and its progress is over.
    ASSERT_EQ(listener.heard.size(), 2u);
    EXPECT_EQ(listener.heard[0].change, DocumentChangeProgress);
    EXPECT_EQ(listener.heard[0].stage, 1);
    EXPECT_EQ(listener.heard[0].percent, 0);
    EXPECT_EQ(listener.heard[1].percent, 100);
    EXPECT_EQ(scene.document.progressStage, 0);

    // A click waiting for the window abandons the render: the dragged object is shown
    // again all the same and the progress ends.
    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    script.QueueLeftButtonDownAfterPeeks(0);
    scene.view.poll.mode = -1;
    scene.view.poll.rowMask = 0;
    EXPECT_THROW(scene.view.Refresh(), UserAbortRender);
    EXPECT_TRUE(dragged->IsVisible());
    EXPECT_EQ(dragged->changed, 0);
    EXPECT_EQ(scene.document.progressStage, 0);
    scene.view.poll.mode = 0;
    scene.view.poll.rowMask = 0xFFFFFFFFu;
    action->pending = nullptr;
    QReferenceObject::RemoveReference(dragged, action, 0);
    scene.view.Refresh();
    EXPECT_EQ(scene.bits.GetBits()[24 * 64 + 52] >> 24, 0xFFu);
}

TEST(ViewRefresh, ApplyViewStateTakesTheSavedViewAndTellsTheDocument) {
    Scene scene;
    SavedViewState state;
    state.settings.CopyFrom(scene.view.viewSettings);
    state.settings.camera.position = Vec3{1.0, 2.0, -30.0};
    state.settings.camera.fov = 0.5;
    state.settings.camera.m = 7.0;  // the magnification stays the view's
    state.settings.nearDepth = 3.0;
    state.settings.farDepth = 40.0;
    state.settings.colours[1] = ColourFromBytes(10, 20, 30);
    state.settings.colours[4] = ColourFromBytes(1, 2, 3);
    state.settings.colours[5] = ColourFromBytes(4, 5, 6);  // not taken
    state.settings.tailFlags[0] = 1;
    state.settings.viewScale1 = 1.75f;
    state.settings.viewScale2 = 0.5f;
    state.settings.fogLayers.layers.resize(3);
    state.settings.fogLayers.layers[2].values[1] = 0.125;
    state.settings.lights.RemoveAll();
    auto light = std::make_unique<QLight>(&scene.view);
    light->isOn = true;
    light->position = Vec3{5.0, 6.0, 7.0};
    state.settings.lights.AddLight(std::move(light));
    state.shadowRadius = 2.5f;
    state.shadowCentre = Vec3{0.0, 0.0, 12.0};
    scene.view.pendingZoom = 3.0;
    const Colour colour5 = scene.view.viewSettings.colours[5];

    // With shadows off the saved shadow bounds are taken as they are.
    scene.view.viewSettings.shadowsOn = 0;
    ChangeListener listener(scene.document);
    scene.view.ApplyViewState(state);
    const QCamera& camera = scene.view.viewSettings.camera;
    EXPECT_EQ(Vec3Compare(camera.position, Vec3{1.0, 2.0, -30.0}), 0);
    EXPECT_EQ(camera.fov, 0.5);
    EXPECT_EQ(camera.m, 3.0);
    EXPECT_EQ(scene.view.pendingZoom, -1.0);
    EXPECT_EQ(scene.view.focalScale, 1.5);
    EXPECT_EQ(scene.view.viewSettings.nearDepth, 3.0);
    EXPECT_EQ(scene.view.viewSettings.farDepth, 40.0);
    EXPECT_EQ(ColourToRgb24(scene.view.viewSettings.colours[1]) & 0xFFFFFFu, 0x0A141Eu);
    EXPECT_EQ(ColourToRgb24(scene.view.viewSettings.colours[4]) & 0xFFFFFFu, 0x010203u);
    EXPECT_EQ(ColourToRgb24(scene.view.viewSettings.colours[5]), ColourToRgb24(colour5));
    EXPECT_EQ(scene.view.viewSettings.tailFlags[0], 1);
    EXPECT_EQ(scene.view.viewSettings.viewScale1, 1.75f);
    EXPECT_EQ(scene.view.viewSettings.viewScale2, 0.5f);
    ASSERT_EQ(scene.view.viewSettings.fogLayers.layers.size(), 3u);
    EXPECT_EQ(scene.view.viewSettings.fogLayers.layers[2].values[1], 0.125);
    // The line colour reaches the renderer (the shaded styles take colour 4).
    EXPECT_EQ(scene.view.edges.outlineColour & 0xFFFFFFu, 0x010203u);
    ASSERT_EQ(scene.view.viewSettings.lights.Count(), 1);
    EXPECT_EQ(
        Vec3Compare(scene.view.viewSettings.lights.Lights()[0]->position, Vec3{5.0, 6.0, 7.0}), 0);
    EXPECT_EQ(scene.view.renderLights.size(), 1u);
    EXPECT_EQ(scene.view.shadowRadius, 2.5);
    EXPECT_EQ(scene.view.shadowCentre.z, 12.0);
    std::vector<std::int32_t> changes;
    for (const ChangeListener::Heard& heard : listener.heard) changes.push_back(heard.change);
    const std::vector<std::int32_t> expected{12, 4, 7, 11};
    EXPECT_EQ(changes, expected);

    // With shadows on the bounds are measured again for the new view: the saved radius gives
    // way to the one the view's projection asks for.
    scene.view.viewSettings.shadowsOn = 1;
    scene.view.ApplyViewState(state);
    EXPECT_NE(scene.view.shadowRadius, 2.5);
    EXPECT_GT(scene.view.shadowRadius, 0.0);
    EXPECT_TRUE(scene.view.isShadowRadiusReady);
}

}  // namespace
