#include "model/q_morvan_objects_state.h"

#include "model/q_group.h"
#include "scene_object_test_support.h"

#include <gtest/gtest.h>

namespace {

using scene_test::SceneFixture;

TEST(QMorvanObjectsState, SteppingBackAndForthRestoresTheRecords) {
    SceneFixture scene;
    QMorvanObject* object = scene.objects().AddDefaultShape(3);
    object->SetSelected(true);
    object->SetColor(1, 2, 3);
    scene.objects().RecordUndoForSelected();  // snapshot A: origin, colour 0x010203
    object->SetPosition(Vec3{5, 0, 0});
    object->SetColor(4, 5, 6);
    scene.objects().RecordUndoForSelected();  // snapshot B: x 5, colour 0x040506

    auto* state = new QMorvanObjectsState();
    scene.document->AppendToChangeList(state);
    state->AddObject(object);
    state->AddObject(object);
    EXPECT_EQ(state->Objects().size(), 1u);

    state->Step(true);
    EXPECT_EQ(object->Cursor(), 1);
    EXPECT_EQ(PartRecordPosition(object->GetPartRecord()).x, 0.0);
    EXPECT_EQ(LoadU32LE(object->GetPartRecord() + PartRecordColourOffset), 0x010203u);
    state->Step(false);
    EXPECT_EQ(object->Cursor(), 0);
    EXPECT_EQ(PartRecordPosition(object->GetPartRecord()).x, 5.0);
    EXPECT_EQ(LoadU32LE(object->GetPartRecord() + PartRecordColourOffset), 0x040506u);

    // Cursors moved past either end restore nothing and index nothing.
    state->Step(false);
    EXPECT_EQ(object->Cursor(), -1);
    EXPECT_EQ(object->GetCurrentUndoChunk(), nullptr);
    EXPECT_EQ(PartRecordPosition(object->GetPartRecord()).x, 5.0);
    for (int i = 0; i < 10; ++i) state->Step(true);
    EXPECT_EQ(object->GetCurrentUndoChunk(), nullptr);
    EXPECT_EQ(scene.document->modified, 1);
}

TEST(QMorvanObjectsState, AChangedShapeKeepsItsParameters) {
    SceneFixture scene;
    QMorvanObject* object = scene.objects().AddDefaultShape(1);
    object->SetPosition(Vec3{0, 3, 0});
    object->RecordUndo();
    object->SetPosition(Vec3{0, 9, 0});
    StoreI32LE(object->GetPartRecord() + PartRecordParamCountOffset, 0);  // now no parameters
    StoreU32LE(object->GetPartRecord() + 56, 0);

    auto* state = new QMorvanObjectsState();
    scene.document->AppendToChangeList(state);
    state->AddObject(object);
    state->Step(true);
    state->Step(false);
    EXPECT_EQ(PartRecordPosition(object->GetPartRecord()).y, 3.0);
    EXPECT_EQ(PartRecordParamCount(object->GetPartRecord()), 0);
    StoreI32LE(object->GetPartRecord() + PartRecordParamCountOffset, 1);
}

TEST(QMorvanObjectsState, FollowsOnlySceneObjects) {
    SceneFixture scene;
    QGroup group("Other");
    auto* state = new QMorvanObjectsState();
    scene.document->AppendToChangeList(state);
    state->AddObject(&group);
    EXPECT_TRUE(state->Objects().empty());

    QMorvanObject* object = scene.objects().AddDefaultShape(1);
    state->AddObject(object);
    object->MarkDeleted();
    EXPECT_TRUE(state->Objects().empty());
    object->MarkCreated();
    QReferenceObject::Broadcast(object, MessageRestored, 0);
    EXPECT_EQ(state->Objects().size(), 1u);
    delete object;
    EXPECT_TRUE(state->Objects().empty());
}

}  // namespace
