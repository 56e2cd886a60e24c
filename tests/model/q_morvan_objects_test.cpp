#include "model/q_morvan_objects.h"

#include "core/crt_random.h"
#include "core/private_heap.h"
#include "geometry/primitive_record.h"
#include "model/q_groups.h"
#include "model_test_objects.h"
#include "scene_object_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using scene_test::ExpectBlockMatchesObjects;
using scene_test::SceneFixture;

// A free-standing record of shape type 13 with one 44-byte extension element whose bytes
// count up, so that a garbled extension shows.
std::vector<std::uint8_t> Type13Record() {
    constexpr std::uint32_t extensionBytes = 20 + 2 * 44;
    std::vector<std::uint8_t> record(80 + 4 + extensionBytes, 0);
    StoreI32LE(record.data() + 28, 13);
    StoreU32LE(record.data() + 32, extensionBytes);
    StoreI32LE(record.data() + 36, 1);
    StoreF32LE(record.data() + 80, 1.0f);
    std::uint8_t* extension = record.data() + 84;
    StoreU16LE(extension, 1);
    StoreU16LE(extension + 2, 0xFFFF);
    StoreU32LE(extension + 8, 2);
    for (std::uint32_t i = 0; i < 88; ++i) extension[20 + i] = static_cast<std::uint8_t>(i + 1);
    return record;
}

Vec3 PositionOf(const QMorvanObject* object) { return PartRecordPosition(object->GetPartRecord()); }

TEST(QMorvanObjects, NewDocumentHoldsTheEmptyBlock) {
    SceneFixture scene;
    EXPECT_EQ(scene.objects().Count(), 0);
    EXPECT_EQ(scene.objects().ReservedBytes(), 20u);
    ExpectBlockMatchesObjects(scene.objects());
}

TEST(QMorvanObjects, DefaultShapesFollowTheTable) {
    struct Case {
        std::int32_t kind;
        std::int32_t type;
        std::vector<float> params;
    };
    const std::vector<Case> cases{
        {1, 1, {0.5f}},
        {2, 2, {1.0f, 0.5f}},
        {14, 14, {1.0f, 0.5f}},
        {3, 3, {1.0f, 1.0f, 1.0f}},
        {16, 16, {1.0f, 0.5f, 0.1f}},
        {5, 5, {0.5f, 0.125f}},
        {17, 17, {0.25f, 1.0f, 0.25f, 1.0f}},
        {7, 7, {1.0f, 0.5f, 1.0f}},
        {18, 18, {1.0f, 0.5f}},
        {9, 9, {0.25f, 0.25f, 1.0f}},
    };
    SceneFixture scene;
    CrtSrand(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        QMorvanObject* object = scene.objects().AddDefaultShape(c.kind);
        ASSERT_NE(object, nullptr);
        const std::uint8_t* record = object->GetPartRecord();
        EXPECT_EQ(PartRecordShapeType(record), ShapeType{c.type});
        ASSERT_EQ(PartRecordParamCount(record), static_cast<std::int32_t>(c.params.size()));
        for (std::size_t i = 0; i < c.params.size(); ++i) {
            EXPECT_EQ(PartRecordParam(record, static_cast<std::int32_t>(i)), c.params[i]);
        }
        EXPECT_EQ(LoadU32LE(record + PartRecordColourOffset), 0xFFFFFFu);
        EXPECT_EQ(record[PartRecordFlagsOffset] & PartFlagInserted, PartFlagInserted);
        const float fraction = LoadF32LE(record + PartRecordFractionOffset);
        EXPECT_GE(fraction, 0.0f);
        EXPECT_LE(fraction, 1.0f);
        EXPECT_EQ(object->Group(), scene.document->Groups()->GetGroup(0));
    }
    // The first fraction is the generator's first value after seeding with 1.
    EXPECT_EQ(LoadF32LE(scene.objects().At(0)->GetPartRecord() + PartRecordFractionOffset),
              static_cast<float>(41 / 32767.0));
    EXPECT_EQ(scene.objects().AddDefaultShape(10), nullptr);
    EXPECT_EQ(scene.objects().AddDefaultShape(19), nullptr);
    EXPECT_EQ(scene.geometry().PartCount(), static_cast<std::int32_t>(cases.size()));
    ExpectBlockMatchesObjects(scene.objects());
}

TEST(QMorvanObjects, InsertedPositionsArePulledBackToTwoHundredUnits) {
    SceneFixture scene;
    const Colour white = ColourFromBytes(255, 255, 255);
    QMorvanObject* far = scene.objects().AddShapeType1(1.0, white, Vec3{150.0, 200.0, 0.0});
    QMorvanObject* edge = scene.objects().AddShapeType1(1.0, white, Vec3{0.0, 0.0, 200.0});
    QMorvanObject* near = scene.objects().AddShapeType1(1.0, white, Vec3{3.0, 4.0, 5.0});
    const Vec3 p = PositionOf(far);
    EXPECT_NEAR(p.x, 120.0, 1e-4);
    EXPECT_NEAR(p.y, 160.0, 1e-4);
    EXPECT_EQ(p.z, 0.0);
    EXPECT_EQ(PositionOf(edge).z, 200.0);
    EXPECT_EQ(PositionOf(near).x, 3.0);
    ExpectBlockMatchesObjects(scene.objects());
}

TEST(QMorvanObjects, NewObjectsGoInFrontOfTrailingObjects) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    QMorvanObject* a = objects.AddDefaultShape(1);
    a->trailing = 1;
    QMorvanObject* b = objects.AddDefaultShape(3);
    EXPECT_EQ(b->Index(), 0);
    EXPECT_EQ(a->Index(), 1);
    QMorvanObject* c = objects.AddDefaultShape(2);
    EXPECT_EQ(c->Index(), 1);
    EXPECT_EQ(objects.At(2), a);
    EXPECT_EQ(PartRecordShapeType(a->GetPartRecord()), ShapeType::Sphere);
    ExpectBlockMatchesObjects(objects);
    // The geometry follows the block order.
    EXPECT_EQ(scene.geometry().Part(0)->shapeType, ShapeType::Box);
    EXPECT_EQ(scene.geometry().Part(2)->shapeType, ShapeType::Sphere);
}

TEST(QMorvanObjects, SelectionFollowsInsertsAndRemovals) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    for (std::int32_t kind : {1, 2, 3, 4}) objects.AddDefaultShape(kind);
    objects.At(3)->trailing = 1;
    objects.At(2)->SetSelected(true);
    objects.At(3)->SetSelected(true);
    objects.AddDefaultShape(5);  // lands at index 3, in front of the trailing object
    EXPECT_TRUE(objects.At(2)->IsSelected());
    EXPECT_TRUE(objects.At(4)->IsSelected());
    ExpectBlockMatchesObjects(objects);

    delete objects.At(0);
    EXPECT_EQ(objects.Count(), 4);
    EXPECT_TRUE(objects.At(1)->IsSelected());
    EXPECT_TRUE(objects.At(3)->IsSelected());
    ExpectBlockMatchesObjects(objects);

    objects.SelectAll(true);
    EXPECT_EQ(objects.SelectionIds().Count(), 4);
    objects.ClearSelection();
    EXPECT_EQ(objects.SelectionIds().Count(), 0);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, ToggleAndCollectLikeShapes) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    for (std::int32_t kind : {2, 14, 3, 2}) objects.AddDefaultShape(kind);

    IdSet similar;
    objects.CollectSimilar(similar, 0, SelectLikeShape);
    EXPECT_EQ(std::vector<std::int32_t>(similar.Ids().begin(), similar.Ids().end()),
              (std::vector<std::int32_t>{1, 3}));
    IdSet none;
    objects.CollectSimilar(none, 0, 0);
    EXPECT_EQ(none.Count(), 0);

    objects.ToggleSelection(0, SelectLikeShape, false);
    EXPECT_EQ(std::vector<std::int32_t>(objects.SelectionIds().Ids().begin(),
                                        objects.SelectionIds().Ids().end()),
              (std::vector<std::int32_t>{0, 1, 3}));
    objects.ToggleSelection(0, 0, false);
    EXPECT_EQ(objects.SelectionIds().Count(), 2);
    EXPECT_FALSE(objects.At(0)->IsSelected());

    // Setting the value an object already has leaves the set alone.
    objects.At(1)->SetSelected(true);
    EXPECT_EQ(objects.SelectionIds().Count(), 2);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, DragEditsStartFromTheSnapshot) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    QMorvanObject* box = objects.AddDefaultShape(3);
    QMorvanObject* sphere = objects.AddDefaultShape(1);
    box->SetSelected(true);
    objects.RecordUndoForSelected();

    // A drag re-applies its total offset to the state recorded when it began.
    objects.MoveSelected(Vec3{1.0, 0.0, 0.0});
    objects.MoveSelected(Vec3{2.0, 0.0, 0.0});
    EXPECT_EQ(PositionOf(box).x, 2.0);
    EXPECT_EQ(PositionOf(sphere).x, 0.0);
    EXPECT_EQ(box->changed, 1);

    const Matrix4 twice = MakeUniformScale(2.0);
    objects.TransformSelected(twice);
    EXPECT_EQ(PositionOf(box).x, 0.0);
    EXPECT_EQ(PartRecordParam(box->GetPartRecord(), 0), 2.0f);

    objects.TransformSelectedBy({1, 0, 0, 5, 0, 1, 0, 0, 0, 0, 1, 0});
    EXPECT_EQ(PositionOf(box).x, 5.0);
    EXPECT_EQ(PartRecordParam(box->GetPartRecord(), 0), 1.0f);

    // A quarter turn about z through (1, 0, 0): the rotation is taken back to the snapshot
    // first, the position stays as it is.
    const Matrix4 turn = objects.RotateSelected(Vec3{0, 1, 0}, Vec3{1, 0, 0}, Vec3{1, 0, 0});
    EXPECT_NEAR(turn.m[3], 1.0, 1e-12);
    EXPECT_NEAR(turn.m[7], -1.0, 1e-12);
    const Vec3 p = PositionOf(box);
    EXPECT_NEAR(p.x, 1.0, 1e-5);
    EXPECT_NEAR(p.y, 4.0, 1e-5);
    EXPECT_NEAR(PartRecordRotation(box->GetPartRecord()).z, std::acos(-1.0) / 2, 1e-6);

    // Reshaping: the box's "Width" row adds to p0 from the snapshot's value.
    objects.ReshapeSelected(0.5f, 1);
    objects.ReshapeSelected(0.25f, 1);
    EXPECT_EQ(PartRecordParam(box->GetPartRecord(), 0), 1.25f);
    EXPECT_EQ(PositionOf(box).x, 0.0);

    IdSet ids;
    ids.Insert(sphere->Index());
    sphere->RecordUndo();
    objects.MoveIdsFromSnapshot(Vec3{0, 0, 3}, ids);
    objects.MoveIdsFromSnapshot(Vec3{0, 0, 4}, ids);
    EXPECT_EQ(PositionOf(sphere).z, 4.0);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, LocalScaleDragsAboutThePartOrTheCommonCentre) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    QMorvanObject* sphere = objects.AddDefaultShape(1);
    sphere->SetPosition(Vec3{2.0, 0.0, 0.0});
    const float radius = PartRecordParam(sphere->GetPartRecord(), 0);
    sphere->SetSelected(true);
    objects.RecordUndoForSelected();

    // Each drag step starts again from the snapshot: the factor is 1 + the total amount.
    objects.ReshapeSelected(0.25f, 0);
    objects.ReshapeSelected(0.5f, 0);
    EXPECT_FLOAT_EQ(PartRecordParam(sphere->GetPartRecord(), 0), radius * 1.5f);
    EXPECT_NEAR(PositionOf(sphere).x, 2.0, 1e-6);

    objects.commonScaleCentre = Vec3{0.0, 0.0, 0.0};
    objects.ReshapeSelected(1.0f, 0);
    EXPECT_FLOAT_EQ(PartRecordParam(sphere->GetPartRecord(), 0), radius * 2.0f);
    EXPECT_NEAR(PositionOf(sphere).x, 4.0, 1e-6);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, ReshapeRebuildsTheRestoredPartWhenNoRowActs) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    QMorvanObject* box = objects.AddDefaultShape(3);
    box->SetSelected(true);
    objects.RecordUndoForSelected();
    box->SetPosition(Vec3{3.0, 0.0, 0.0});
    ASSERT_EQ(scene.geometry().Part(box->Index())->localFromWorld.m[4], -3.0);
    box->changed = 0;

    // No row of the box has this key: the record still goes back to the snapshot, and the
    // part must follow it.
    objects.ReshapeSelected(0.5f, 99);
    EXPECT_EQ(PositionOf(box).x, 0.0);
    EXPECT_EQ(scene.geometry().Part(box->Index())->localFromWorld.m[4], 0.0);
    EXPECT_EQ(box->changed, 1);
}

TEST(QMorvanObjects, HistoryKeepsAtMostSixSnapshots) {
    SceneFixture scene;
    QMorvanObject* object = scene.objects().AddDefaultShape(1);
    EXPECT_EQ(object->HistorySize(), 1);
    object->SetSelected(true);
    for (int i = 0; i < 8; ++i) {
        object->SetPosition(Vec3{static_cast<double>(i), 0, 0});
        scene.objects().RecordUndoForSelected();
    }
    EXPECT_EQ(object->HistorySize(), 6);
    EXPECT_EQ(object->Cursor(), 0);
    EXPECT_EQ(object->GetCurrentUndoChunk()->position.x, 7.0);
}

TEST(QMorvanObjects, ColourEditsReportChanges) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    objects.AddDefaultShape(1);
    objects.AddDefaultShape(2);
    IdSet both;
    both.Insert(0);
    both.Insert(1);

    EXPECT_FALSE(objects.SetColor(255, 255, 255, both));
    EXPECT_TRUE(objects.SetColor(0x12, 0x34, 0x56, both));
    const std::uint8_t* record = objects.At(1)->GetPartRecord();
    EXPECT_EQ(LoadU32LE(record + PartRecordColourOffset), 0x123456u);
    const std::uint32_t derived = LoadU32LE(record + PartRecordDerivedColourOffset);
    EXPECT_EQ(derived, PackRgbHalfContrast(ColourFromRgb24(0x123456)));
    EXPECT_EQ(scene.geometry().Part(1)->colour, 0x123456u);
    EXPECT_EQ(scene.geometry().Part(1)->derivedColour, derived);

    EXPECT_TRUE(objects.SetGlowColor(1, 2, 3, both));
    EXPECT_EQ(LoadU32LE(record + PartRecordGlowColourOffset), 0x010203u);
    EXPECT_FALSE(objects.SetGlowColor(1, 2, 3, both));

    EXPECT_TRUE(objects.SetGlowIntensity(0.5f, both));
    EXPECT_EQ(LoadF32LE(record + PartRecordGlowIntensityOffset), 0.5f);
    EXPECT_FALSE(objects.SetGlowIntensity(0.5f, both));

    objects.RandomizeColors(0.0, both);
    EXPECT_EQ(LoadU32LE(record + PartRecordColourOffset), 0x123456u);
    CrtSrand(1);
    objects.RandomizeColors(1.0, both);
    // Channels stay within 0..255 and the colour moved.
    EXPECT_NE(LoadU32LE(objects.At(0)->GetPartRecord() + PartRecordColourOffset), 0x123456u);
    EXPECT_LE(LoadU32LE(objects.At(0)->GetPartRecord() + PartRecordColourOffset), 0xFFFFFFu);
}

TEST(QMorvanObjects, DeleteAndRestoreBringBackTheSameRecord) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    objects.AddDefaultShape(1);
    QMorvanObject* middle = objects.AddDefaultShape(4);
    objects.AddDefaultShape(2);
    middle->SetColor(9, 8, 7);
    const std::vector<std::uint8_t> before(middle->GetPartRecord(),
                                           middle->GetPartRecord() + 92);

    middle->MarkDeleted();
    EXPECT_FALSE(middle->IsPresentInBlock());
    EXPECT_EQ(middle->GetPartRecord(), nullptr);
    EXPECT_EQ(objects.Count(), 2);
    EXPECT_EQ(scene.document->modified, 1);
    ExpectBlockMatchesObjects(objects);

    middle->MarkCreated();
    QReferenceObject::Broadcast(middle, MessageRestored, 0);
    ASSERT_TRUE(middle->IsPresentInBlock());
    EXPECT_EQ(middle->Index(), 2);
    const std::vector<std::uint8_t> after(middle->GetPartRecord(),
                                          middle->GetPartRecord() + 92);
    EXPECT_EQ(before, after);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, PurgeKeepsWholeRecordsAndSelection) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    const std::vector<std::uint8_t> type13 = Type13Record();
    objects.AddDefaultShape(1);
    QMorvanObject* shape13 = objects.InsertPartRecord(type13.data(), true, false, false, nullptr);
    objects.AddDefaultShape(3);
    objects.AddDefaultShape(2);
    objects.At(0)->purge = 1;
    objects.At(2)->purge = 1;
    objects.At(3)->SetSelected(true);

    objects.PurgeDeleted(true);
    ASSERT_EQ(objects.Count(), 2);
    EXPECT_EQ(objects.At(0), shape13);
    const std::uint8_t* record = shape13->GetPartRecord();
    // Extension bytes survive exactly; only the insertion flag differs from the source.
    EXPECT_EQ(std::memcmp(record + 80, type13.data() + 80, type13.size() - 80), 0);
    EXPECT_EQ(record[24], PartFlagInserted);
    EXPECT_TRUE(objects.At(1)->IsSelected());
    EXPECT_EQ(objects.SelectionIds().Count(), 1);
    EXPECT_EQ(scene.geometry().PartCount(), 2);
    ExpectBlockMatchesObjects(objects);

    // Without a purge mark nothing changes.
    const std::uint32_t reserved = objects.ReservedBytes();
    objects.PurgeDeleted(true);
    EXPECT_EQ(objects.Count(), 2);
    EXPECT_EQ(objects.ReservedBytes(), reserved);
}

TEST(QMorvanObjects, PurgedObjectsAreOutOfTheListWhileTheyDie) {
    // Whoever hears a purged object go must find neither it nor an object purged before it.
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    for (std::int32_t kind : {1, 2, 3, 4}) objects.AddDefaultShape(kind);
    const std::vector<QMorvanObject*> purged{objects.At(0), objects.At(2)};
    model_test::Recorder listener("listener", nullptr, TypeIdPlain);
    std::vector<QMorvanObject*> listedWhileDying;
    listener.onMessage = [&](std::int32_t message, QReferenceObject*) {
        if (message != MessageDestroyed) return;
        for (QMorvanObject* object : objects.Objects()) listedWhileDying.push_back(object);
    };
    for (QMorvanObject* object : purged) {
        object->purge = 1;
        QReferenceObject::AddReference(object, &listener, 0);
    }

    objects.PurgeDeleted(true);
    EXPECT_EQ(listedWhileDying.size(), 4u);  // the two kept objects, once per purged one
    for (QMorvanObject* object : purged) {
        EXPECT_EQ(std::count(listedWhileDying.begin(), listedWhileDying.end(), object), 0);
    }
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, TruncateReserveAndClear) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    for (std::int32_t kind : {1, 2, 3, 4}) objects.AddDefaultShape(kind);
    objects.At(3)->SetSelected(true);
    objects.TruncateTo(2);
    EXPECT_EQ(objects.Count(), 2);
    EXPECT_EQ(objects.ReservedBytes(), 20u + 84u + 88u);
    EXPECT_EQ(scene.geometry().PartCount(), 2);
    ExpectBlockMatchesObjects(objects);

    // A record written into reserved room at the end of the records joins in place.
    objects.ReserveRecord();
    EXPECT_GE(objects.ReservedBytes(), 20u + 172u + 164u);
    std::uint8_t* end = objects.GetRecordsEnd();
    PartRecordPtr sphere = NewPrimitive1(0.75, 0, 0, Vec3{1, 2, 3}, ColourFromBytes(1, 2, 3));
    std::memcpy(end, sphere.get(), 84);
    QMorvanObject* added = objects.InsertPartRecord(end, true, true, false, nullptr);
    EXPECT_EQ(added->Index(), 2);
    EXPECT_EQ(PartRecordParam(added->GetPartRecord(), 0), 0.75f);
    objects.ShrinkBlock();
    ExpectBlockMatchesObjects(objects);

    objects.ClearAll();
    EXPECT_EQ(objects.Count(), 0);
    EXPECT_EQ(objects.ReservedBytes(), 20u);
    EXPECT_EQ(scene.geometry().PartCount(), 0);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, BatchingGrowsInStepsAndKeepsRoom) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    objects.batching = true;
    objects.reserveStep = 1000;
    objects.AddDefaultShape(1);
    EXPECT_EQ(objects.ReservedBytes(), 1020u);
    for (int i = 0; i < 12; ++i) objects.AddDefaultShape(1);
    EXPECT_EQ(objects.ReservedBytes(), 2020u);
    delete objects.At(0);
    EXPECT_EQ(objects.ReservedBytes(), 2020u);
    objects.batching = false;
    objects.ShrinkBlock();
    EXPECT_EQ(objects.ReservedBytes(), 20u + 12u * 84u);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, RemovingTheLastRecordDropsOnlyTheLastPart) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    for (std::int32_t kind : {1, 2, 3, 4}) objects.AddDefaultShape(kind);
    // A mark on part 0 shows whether the whole geometry was rebuilt.
    scene.geometry().Part(0)->colour = 0xABCDEF;
    delete objects.At(3);
    EXPECT_EQ(scene.geometry().PartCount(), 3);
    EXPECT_EQ(scene.geometry().Part(0)->colour, 0xABCDEFu);
    delete objects.At(1);
    EXPECT_EQ(scene.geometry().PartCount(), 2);
    EXPECT_EQ(scene.geometry().Part(0)->colour, 0xFFFFFFu);
    EXPECT_EQ(scene.geometry().Part(1)->shapeType, ShapeType::Box);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, MalformedBlocksAreRejectedWithoutReadingPastThem) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> block;
    };
    const auto header = [](std::uint32_t count, std::uint32_t length) {
        std::vector<std::uint8_t> block(20, 0);
        PartBlockWriteHeader(block.data());
        StoreU32LE(block.data() + PartBlockPartCountOffset, count);
        StoreU32LE(block.data() + PartBlockRecordBytesOffset, length);
        return block;
    };
    const auto withRecord = [&](std::uint32_t count, std::uint32_t length, std::int32_t params,
                                std::uint32_t extension, std::size_t bytes) {
        std::vector<std::uint8_t> block = header(count, length);
        block.resize(20 + bytes, 0);
        StoreI32LE(block.data() + 20 + 28, 1);
        StoreU32LE(block.data() + 20 + 32, extension);
        StoreI32LE(block.data() + 20 + 36, params);
        return block;
    };
    std::vector<Case> cases{
        {"count without records", header(3, 0)},
        {"length past the block", header(0, 400)},
        {"record shorter than 80 bytes", withRecord(1, 40, 0, 0, 40)},
        {"negative parameter count", withRecord(1, 84, -1, 0, 84)},
        {"huge parameter count", withRecord(1, 84, 0x7FFFFFF0, 0, 84)},
        {"extension past the block", withRecord(1, 84, 1, 0xFFFFFFF0u, 84)},
        {"length larger than the records", withRecord(1, 168, 1, 0, 168)},
        {"foreign marker", withRecord(1, 84, 1, 0, 84)},
    };
    StoreU16LE(cases.back().block.data() + 2, 0);

    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        SceneFixture scene;
        QMorvanObjects& objects = scene.objects();
        objects.AddDefaultShape(1);
        // Hand the document a block of exactly the case's bytes.
        const auto size = static_cast<std::uint32_t>(c.block.size());
        void* block = PrivateAlloc(size);
        std::memcpy(block, c.block.data(), size);
        PrivateFree(*scene.document->PartBlockSlot());
        *scene.document->PartBlockSlot() = static_cast<std::uint8_t*>(block);
        *scene.document->PartBlockBytesSlot() = size;

        EXPECT_FALSE(objects.RebuildObjectList());
        EXPECT_EQ(objects.Count(), 0);
        objects.ClearAll();
        EXPECT_TRUE(objects.RebuildObjectList());
        ExpectBlockMatchesObjects(objects);
    }
}

TEST(QMorvanObjects, RebuildObjectListBindsEveryRecord) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    const std::vector<std::uint8_t> type13 = Type13Record();
    objects.AddDefaultShape(3);
    objects.InsertPartRecord(type13.data(), true, false, false, nullptr);
    objects.AddDefaultShape(2);
    ASSERT_TRUE(objects.RebuildObjectList());
    EXPECT_EQ(objects.Count(), 3);
    EXPECT_EQ(objects.At(2)->DimensionRowCount(), 3);
    ExpectBlockMatchesObjects(objects);
}

TEST(QMorvanObjects, DimensionListsFollowTheSelection) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    objects.AddDefaultShape(2);
    objects.AddDefaultShape(2);
    objects.AddDefaultShape(8);
    EXPECT_TRUE(objects.BuildDimensionList(0).empty());

    objects.At(0)->SetSelected(true);
    objects.At(1)->SetSelected(true);
    using List = std::vector<std::pair<std::string, std::int32_t>>;
    EXPECT_EQ(objects.BuildDimensionList(0),
              (List{{"[Scale Local]", 0}, {"Radius", 1}, {"Length", 2}}));
    EXPECT_EQ(objects.BuildDimensionList(2), (List{{"Length", 2}}));

    // Types 2 and 8 share a run but are not one shape type.
    objects.At(2)->SetSelected(true);
    EXPECT_EQ(objects.BuildDimensionList(0), (List{{"[Scale Local]", 0}}));
}

TEST(QMorvanObjects, CentreOfTheVisibleSelection) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    const Colour white = ColourFromBytes(255, 255, 255);
    objects.AddShapeType1(1.0, white, Vec3{-2, 0, 0});
    objects.AddShapeType1(1.0, white, Vec3{4, 2, 0});
    objects.AddShapeType1(1.0, white, Vec3{50, 50, 50});
    objects.At(2)->SetVisible(false);
    const Vec3 centre = objects.GetCentre(false, false);
    EXPECT_EQ(centre.x, 1.0);
    EXPECT_EQ(centre.y, 1.0);

    objects.At(1)->SetSelected(true);
    const Vec3 one = objects.GetCentre(true, false);
    EXPECT_EQ(one.x, 4.0);

    // Bounding spheres: a unit sphere quadric x^2 + y^2 + z^2 - 1 about each centre.
    for (std::int32_t i = 0; i < 2; ++i) {
        const Vec3 c = objects.At(i)->GetCentre();
        Matrix4W& q = scene.geometry().Part(i)->boundQuadric;
        q = Matrix4W{};
        q.m[5] = q.m[10] = q.m[15] = 1.0;
        q.m[4] = -c.x;
        q.m[8] = -c.y;
        q.m[12] = -c.z;
        q.m[0] = c.x * c.x + c.y * c.y + c.z * c.z - 1.0;
    }
    Vec3 sphereCentre;
    double radius = 0.0;
    objects.GetBoundingSphere(sphereCentre, radius, false, true);
    EXPECT_NEAR(sphereCentre.x, 1.0, 1e-9);
    EXPECT_NEAR(radius, std::sqrt(9.0 + 1.0) + 1.0, 1e-9);
}

TEST(QMorvanObjects, RefusedGrowthLeavesTheBlockAsItWas) {
    SceneFixture scene;
    QMorvanObjects& objects = scene.objects();
    objects.AddDefaultShape(1);
    const PartRecordPtr box = NewPrimitive3(false, 1, 2, 3, 0, 0, Vec3{}, ColourFromBytes(0, 0, 0));
    const std::vector<std::uint8_t> before(objects.Block(), objects.Block() + 104);

    PrivateHeapRefuseNext(1);
    EXPECT_THROW(objects.InsertPartRecord(box.get(), true, false, false, nullptr),
                 KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(objects.Count(), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(objects.Block(), objects.Block() + 104), before);
    ExpectBlockMatchesObjects(objects);

    // Duplicating an object's own record copies it before the block moves.
    QMorvanObject* copy =
        objects.InsertPartRecord(objects.At(0)->GetPartRecord(), true, false, false, nullptr);
    EXPECT_EQ(std::memcmp(copy->GetPartRecord(), objects.At(0)->GetPartRecord(), 84), 0);
    ExpectBlockMatchesObjects(objects);
}

}  // namespace
