#include "modeller/q_kv_action.h"

#include "core/matrix4.h"
#include "model/model_test_objects.h"
#include "model/q_document_base.h"
#include "modeller/drag_redraw_cache.h"
#include "modeller/kv_event.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

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

}  // namespace
