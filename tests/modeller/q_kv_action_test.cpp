#include "modeller/q_kv_action.h"

#include "core/colour.h"
#include "core/matrix4.h"
#include "core/private_block.h"
#include "model/model_test_objects.h"
#include "model/q_document_base.h"
#include "model/q_morvan_objects.h"
#include "modeller/drag_redraw_cache.h"
#include "modeller/kv_event.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using model_test::Recorder;

TEST(QKVAction, Defaults) {
    QDocumentBase document;
    const QKVAction& action = *MouseActionOf(document);
    EXPECT_EQ(action.TypeId(), TypeIdMouseAction);
    EXPECT_EQ(action.document, &document);
    EXPECT_EQ(action.flag, 1);
    EXPECT_EQ(action.trackMode, 1);
    EXPECT_TRUE(IsIdentity(action.referenceTransform));
    EXPECT_TRUE(IsIdentity(action.accumulated));
    for (const ToolOptions* options : {&action.options, &action.secondOptions}) {
        EXPECT_EQ(options->axisModes, (std::array<std::int32_t, 2>{3, 3}));
        EXPECT_EQ(options->words[6], 1);
        EXPECT_EQ(options->flag, 1);
        EXPECT_EQ(options->snap, 10.0f);
    }
    EXPECT_EQ(action.ids.Count(), 0);
    EXPECT_EQ(action.ids.Capacity(), 100);
    ASSERT_NE(action.RedrawCache(), nullptr);
    EXPECT_EQ(action.RedrawCache()->document, &document);
    EXPECT_EQ(action.RedrawCache()->active, 0);
}

TEST(QKVAction, ForgetsThePendingObjectWhenItGoes) {
    QDocumentBase document;
    QKVAction& action = *MouseActionOf(document);
    auto* pending = new Recorder("pending", nullptr);
    action.pending = pending;
    QReferenceObject::AddReference(pending, &action, 0);
    QReferenceObject::Broadcast(pending, MessageDeleted, 0);
    EXPECT_EQ(action.pending, nullptr);
    action.pending = pending;
    delete pending;
    EXPECT_EQ(action.pending, nullptr);
}

// A render of the view into another buffer re-sizes the view under the cache: an active cache
// is thrown away (inactive, not ready, the edit's sets emptied); an inactive one is left alone.
TEST(DragRedrawCache, ARenderIntoAnotherBufferThrowsTheKeptPictureAway) {
    QDocumentBase document;
    QRenderView view(&document);
    std::vector<std::uint32_t> pixels(40 * 30, 0u);
    ASSERT_TRUE(view.InitViewBuffers(40 * 4, pixels.data(), 40, 30, true));
    document.Objects()->AddShapeType1(0.5, ColourFromBytes(200, 80, 40), Vec3{0.0, 0.0, 0.0});
    DragRedrawCache& cache = *MouseActionOf(document)->RedrawCache();

    cache.ready = 1;
    cache.editedIds.Insert(7);
    EXPECT_NE(view.RenderToBuffer(20, 15, 0).get(), nullptr);
    EXPECT_EQ(cache.ready, 1);
    EXPECT_EQ(cache.editedIds.Count(), 1);

    cache.active = 1;
    cache.currentIds.Insert(3);
    cache.savedIds.Insert(3);
    cache.savedEditedIds.Insert(7);
    cache.changedIds.Insert(9);
    EXPECT_NE(view.RenderToBuffer(20, 15, 0).get(), nullptr);
    EXPECT_EQ(cache.active, 0);
    EXPECT_EQ(cache.ready, 0);
    for (const IdSet* set : {&cache.editedIds, &cache.currentIds, &cache.savedIds,
                             &cache.savedEditedIds, &cache.changedIds}) {
        EXPECT_EQ(set->Count(), 0);
    }
}

TEST(KVEvent, DefaultsAndToolChange) {
    QDocumentBase document;
    QRenderView view(&document);
    view.viewSettings.shadowsOn = 5;
    KVEvent event;
    EXPECT_EQ(event.type, 0);
    EXPECT_EQ(event.finalFlag, 1);
    EXPECT_EQ(event.historyFlag, 0);
    EXPECT_TRUE(IsIdentity(event.transform));
    EXPECT_EQ(event.ids.Capacity(), 100);
    ASSERT_EQ(event.viewSettings.fogLayers.layers.size(), 2u);
    EXPECT_EQ(event.viewSettings.fogLayers.layers[0].flag, 1);

    event.InitToolChange(&view);
    EXPECT_EQ(event.type, EventToolChange);
    EXPECT_EQ(event.view, &view);
    EXPECT_EQ(event.viewSettings.shadowsOn, 5);

    KVEvent noView;
    noView.InitToolChange(nullptr);
    EXPECT_EQ(noView.type, EventToolChange);
    EXPECT_EQ(noView.viewSettings.shadowsOn, 0);
}

TEST(KVEvent, HandleEventIgnoresTypesOutsideItsRanges) {
    QDocumentBase document;
    QRenderView view(&document);
    QKVAction& action = *MouseActionOf(document);
    for (const std::int32_t type : {0, -1, 251, 1000}) {
        SCOPED_TRACE(type);
        KVEvent event;
        event.type = type;
        event.view = &view;
        EXPECT_EQ(action.HandleEvent(&event), 0);
        EXPECT_EQ(action.view, nullptr);
    }
    KVEvent command;
    command.type = 102;
    command.view = &view;
    EXPECT_EQ(action.HandleEvent(&command), 0);
    EXPECT_EQ(action.view, &view);
    EXPECT_EQ(action.RedrawCache()->view, &view);
}

// A key going down chooses the rotate tool's axis and the move tool's mask by the first
// modifier bit held (0x1, then 0x4, then 0x8); without one, or while a drag runs, the axes
// stay. The document hears message 7 with argument 14 but for the transform tools without
// a modifier. A key coming up keeps the axes and clears the modifier code.
TEST(QKVAction, KeysChooseTheTransformToolsAxes) {
    struct Case {
        std::int32_t tool;
        std::int32_t modifiers;
        bool isDragging;
        std::int32_t code;
        std::int32_t rotateAxis;
        std::int32_t moveMask;
        bool isHeard;
    };
    const Case cases[] = {
        {102, 0x1, false, 1, 1, 0, true},  {102, 0x4, false, 2, 2, 0, true},
        {102, 0x8, false, 3, 3, 0, true},  {102, 0xC, false, 2, 2, 0, true},
        {102, 0x0, false, 0, 0, 0, false}, {103, 0x1, false, 1, 0, 1, true},
        {103, 0x4, false, 2, 0, 2, true},  {103, 0x9, false, 1, 0, 1, true},
        {103, 0x8, false, 3, 0, 4, true},  {103, 0x2, false, 0, 0, 0, false},
        {105, 0x4, false, 2, 0, 0, true},  {102, 0x4, true, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tool << " " << c.modifiers << " " << c.isDragging);
        QDocumentBase document;
        QRenderView view(&document);
        QKVAction& action = *MouseActionOf(document);
        action.tools.SelectTool(c.tool);
        action.isDragActive = c.isDragging ? 1 : 0;
        action.keyState[3] = 9;
        model_test::HeardLog heard;
        Recorder listener("listener", &heard);
        QReferenceObject::AddReference(&document, &listener, 0);

        KVEvent down;
        down.type = EventKeyDown;
        down.view = &view;
        down.modifiers = c.modifiers;
        EXPECT_EQ(action.HandleEvent(&down), 0);
        EXPECT_EQ(action.modifierCode, c.code);
        EXPECT_EQ(action.axisTools.tool102AxisChoice, c.rotateAxis);
        EXPECT_EQ(action.axisTools.tool103AxisMask, c.moveMask);
        EXPECT_EQ(action.savedKeyState[3], 9);
        const bool isHeard =
            !heard.empty() && heard.back().message == MessageChanged && heard.back().a == 14;
        EXPECT_EQ(isHeard, c.isHeard);
        EXPECT_EQ(action.AxisTools().tool102AxisChoice, c.rotateAxis);

        action.keyState[3] = 4;
        KVEvent up;
        up.type = EventKeyUp;
        up.view = &view;
        EXPECT_EQ(action.HandleEvent(&up), 0);
        const bool isTransformTool = c.tool >= 102 && c.tool <= 104;
        EXPECT_EQ(action.keyState[3], isTransformTool ? 9 : 4);
        EXPECT_EQ(action.modifierCode, isTransformTool ? 0 : c.code);
        EXPECT_EQ(action.axisTools.tool102AxisChoice, c.rotateAxis);
        EXPECT_EQ(action.axisTools.tool103AxisMask, c.moveMask);
        QReferenceObject::RemoveReference(&document, &listener, 0);
    }
}

}  // namespace
