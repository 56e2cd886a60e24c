#include "gizmo/gizmo_scene.h"

#include "core/private_heap.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/process_settings.h"
#include "gizmo/scene_document.h"
#include "gizmo/sound_sink.h"
#include "model/q_document_base.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const std::string FixturePath = std::string(ORBELLE_TEST_DATA_DIR) + "/flipper_table.kvr";

class RecordingSink final : public SoundSink {
public:
    std::vector<std::string> played;
    void PlaySoundByName(std::string_view name, float gain, float pitch,
                         float listenerGain) override {
        played.push_back(std::string(name) + " " + std::to_string(gain) + " " +
                         std::to_string(pitch) + " " + std::to_string(listenerGain));
    }
};

class ScopedSoundSink {
public:
    explicit ScopedSoundSink(SoundSink& sink) { SetSoundSink(&sink); }
    ~ScopedSoundSink() { SetSoundSink(nullptr); }
};

// A scene whose world holds one object with three events: sounds 1, none, 0, oldest first.
void QueueThreeEvents(GizmoScene& scene) {
    scene.world = std::make_unique<GizmoWorld>(&scene.movingPartList, &scene.partTable);
    scene.world->objects.push_back(std::make_unique<GizmoObject>(NewFlyerObject()));
    GizmoObject& object = *scene.world->objects.back();
    const std::int32_t sounds[] = {1, -1, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        HitEvent& event =
            scene.world->events[static_cast<std::size_t>(AllocateEvent(*scene.world, object))];
        event.sound = sounds[i];
        event.gain = 0.5 * static_cast<double>(i + 1);
        event.pitch = 2.0;
    }
    scene.soundNames = {"Sounds/a.wav", "Sounds/b.wav"};
}

TEST(GizmoScene, PlaysTheFramesSoundsNewestFirstUnlessMuted) {
    RecordingSink sink;
    const ScopedSoundSink installed(sink);
    GizmoScene scene;
    QueueThreeEvents(scene);
    PlayQueuedSounds(scene);
    EXPECT_EQ(sink.played, (std::vector<std::string>{"Sounds/a.wav 1.500000 2.000000 1.000000",
                                                     "Sounds/b.wav 0.500000 2.000000 1.000000"}));
    sink.played.clear();
    scene.muted = 1;
    PlayQueuedSounds(scene);
    EXPECT_TRUE(sink.played.empty());
}

TEST(GizmoScene, NoSinkAndNoWorldAreSilent) {
    GizmoScene scene;
    PlayQueuedSounds(scene);  // no world
    QueueThreeEvents(scene);
    PlayQueuedSounds(scene);  // no sink
    RecordingSink sink;
    const ScopedSoundSink installed(sink);
    scene.soundNames.clear();  // indices that name no sound play nothing
    PlayQueuedSounds(scene);
    EXPECT_TRUE(sink.played.empty());
}

TEST(GizmoScene, UnloadingANeverLoadedSceneOnlyResetsTheDefaults) {
    GizmoScene scene;
    scene.paused = 1;
    scene.overrideTimeVal = 30;
    scene.errorText = "kept";
    scene.fileID = "kept too";
    UnloadGizmo(scene);
    EXPECT_EQ(scene.paused, 0);
    EXPECT_EQ(scene.overrideTimeVal, -1);
    EXPECT_EQ(scene.errorText, "kept");
    EXPECT_EQ(scene.fileID, "kept too");
    EXPECT_EQ(scene.stepTime, DefaultStepTime);
    EXPECT_EQ(scene.lightPositions[15][0], 1.0);
}

TEST(GizmoScene, UnloadReturnsALoadedGizmoToItsDefaults) {
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    UnloadGizmo(scene);
    EXPECT_EQ(scene.active, 0);
    EXPECT_EQ(scene.world, nullptr);
    EXPECT_EQ(scene.view, nullptr);
    EXPECT_EQ(scene.geometry, nullptr);
    EXPECT_TRUE(scene.partTable.empty());
    EXPECT_TRUE(scene.movingPartList.empty());
    EXPECT_EQ(CurrentDocument(), nullptr);
    EXPECT_EQ(CurrentProcessSettings(), nullptr);
}

TEST(SceneDocument, TheViewDrawsIntoAPlaceholderItsDocumentKeeps) {
    std::unique_ptr<SceneDocument> opened = OpenSceneDocument(FixturePath);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(CurrentDocument(), opened->document.get());
    EXPECT_NE(CurrentProcessSettings(), nullptr);
    QRenderView& view = *opened->view;
    ASSERT_NE(opened->placeholderFrame, nullptr);
    EXPECT_EQ(view.Target(), opened->placeholderFrame.get());
    EXPECT_EQ(view.renderWidth, PlaceholderFrameSide);
    EXPECT_EQ(view.centreX, PlaceholderFrameSide * 0.5);
    // Drawing into it is safe for as long as the document is open.
    view.RenderDocument();
    EXPECT_TRUE(view.isFrameValid);
    CloseSceneDocument(opened);
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(CurrentDocument(), nullptr);
    EXPECT_EQ(CurrentProcessSettings(), nullptr);
}

TEST(SceneDocument, ARefusedPlaceholderOpensNothing) {
    const std::size_t bytes = PrivateHeapBytesInUse();
    PrivateHeapRefuseNext(1);
    EXPECT_EQ(OpenSceneDocument(FixturePath), nullptr);
    EXPECT_EQ(CurrentDocument(), nullptr);
    EXPECT_EQ(PrivateHeapBytesInUse(), bytes);
}

TEST(SceneDocument, CollectsObjectAndGroupTextsWithTheirParts) {
    std::unique_ptr<SceneDocument> opened = OpenSceneDocument(FixturePath);
    ASSERT_NE(opened, nullptr);
    const std::vector<NamedId> objects = CollectObjectNames(*opened->document);
    ASSERT_EQ(objects.size(), 5u);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        EXPECT_EQ(objects[i].id, static_cast<std::int32_t>(i));
    }
    EXPECT_EQ(objects[0].name, "<G><Stage gravity=\"10\" fileID=\"flipper-table\"/></G>");
    EXPECT_EQ(objects[1].name, "");

    const std::vector<NamedGroup> groups = CollectGroupNames(*opened->document);
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0].name, "[Default]");
    EXPECT_EQ(groups[0].members.size(), 2u);  // the stage and the target
    EXPECT_EQ(groups[2].name, "Paddle");
    ASSERT_EQ(groups[2].members.size(), 1u);
    EXPECT_EQ(groups[2].members[0].id, 3);
    EXPECT_EQ(groups[3].parms, "<G><Flip id=\"paddle\" state=\"1\"/></G>");
    CloseSceneDocument(opened);
}

}  // namespace
