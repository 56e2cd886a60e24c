#include "model/q_morvan_object.h"

#include "core/rotation.h"
#include "geometry/primitive_record.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_toad_obj.h"
#include "scene_object_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using scene_test::SceneFixture;
using scene_test::TestTexture;

// A type-10 segment from a to b with a third vector c.
QMorvanObject* AddSegment(QMorvanObjects& objects, const Vec3& a, const Vec3& b, const Vec3& c) {
    std::vector<std::uint8_t> record(80 + 4 * 11, 0);
    StoreI32LE(record.data() + 28, 10);
    StoreI32LE(record.data() + 36, 11);
    PartRecordSetParamVec3(record.data(), 0, a);
    PartRecordSetParamVec3(record.data(), 3, b);
    PartRecordSetParamVec3(record.data(), 6, c);
    return objects.InsertPartRecord(record.data(), true, false, false, nullptr);
}

void ExpectVec3Near(const Vec3& v, const Vec3& expected) {
    EXPECT_NEAR(v.x, expected.x, 1e-5);
    EXPECT_NEAR(v.y, expected.y, 1e-5);
    EXPECT_NEAR(v.z, expected.z, 1e-5);
}

TEST(QMorvanObject, ZeroRotationGivesTheIdentity) {
    SceneFixture scene;
    QMorvanObject* object = scene.objects().AddDefaultShape(3);
    const Matrix3 m = object->GetRotationMatrix();
    EXPECT_EQ(m.m, Matrix3SetDiagonal(1.0).m);
    EXPECT_EQ(object->GetRadius(), 0.5);

    object->SetRotation(Matrix3FromAxisAngle(Vec3{0, 0, 1}, 0.5));
    ExpectVec3Near(PartRecordRotation(object->GetPartRecord()), Vec3{0, 0, 0.5});
    const Matrix4 t = object->GetTransform();
    EXPECT_NEAR(t.m[1], -std::sin(0.5), 1e-6);
    object->PlaceAt(Vec3{1, 2, 3});
    ExpectVec3Near(object->GetCentre(), Vec3{1, 2, 3});
}

TEST(QMorvanObject, PointingASegmentTurnsItAboutItsMiddle) {
    SceneFixture scene;
    QMorvanObject* segment =
        AddSegment(scene.objects(), Vec3{0, 0, 0}, Vec3{2, 0, 0}, Vec3{0, 1, 0});
    const std::uint8_t* record = segment->GetPartRecord();
    segment->PointAlong(Vec3{5, 0, 0});
    ExpectVec3Near(PartRecordParamVec3(record, 0), Vec3{0, 0, 0});
    ExpectVec3Near(PartRecordParamVec3(record, 3), Vec3{2, 0, 0});
    ExpectVec3Near(segment->GetAxis(2), Vec3{1, 0, 0});

    segment->PointAlong(Vec3{-1, 0, 0});
    ExpectVec3Near(PartRecordParamVec3(record, 0), Vec3{2, 0, 0});
    ExpectVec3Near(PartRecordParamVec3(record, 3), Vec3{0, 0, 0});

    segment->PointAlong(Vec3{0, 0, 1});
    ExpectVec3Near(PartRecordParamVec3(record, 0), Vec3{1, 0, -1});
    ExpectVec3Near(PartRecordParamVec3(record, 3), Vec3{1, 0, 1});

    // Other shapes take the turn from +y onto the direction as their rotation.
    QMorvanObject* cylinder = scene.objects().AddDefaultShape(2);
    cylinder->PointAlong(Vec3{0, 0, 3});
    ExpectVec3Near(PartRecordRotation(cylinder->GetPartRecord()), Vec3{std::acos(-1.0) / 2, 0, 0});
}

TEST(QMorvanObject, HidingAndShowingTouchesOnlyTheHiddenBit) {
    SceneFixture scene;
    QMorvanObject* object = scene.objects().AddDefaultShape(1);
    std::uint8_t* record = object->GetPartRecord();
    record[24] = 0x55;
    object->SetVisible(false);
    EXPECT_EQ(record[24], 0xD5);
    EXPECT_FALSE(object->IsVisible());
    EXPECT_EQ(scene.geometry().Part(0)->visible, 0);
    object->SetVisible(true);
    EXPECT_EQ(record[24], 0x55);
    EXPECT_EQ(scene.geometry().Part(0)->visible, 1);
}

TEST(QMorvanObject, TextureHandleGoesIntoTheRecord) {
    SceneFixture scene;
    QMorvanObject* object = scene.objects().AddDefaultShape(1);
    auto texture = std::make_unique<TestTexture>();
    object->SetTexture(texture.get(), true);
    const std::uint8_t* record = object->GetPartRecord();
    EXPECT_EQ(LoadU32LE(record + PartRecordTextureRefOffset), texture->handle);
    EXPECT_EQ(scene.geometry().Part(0)->texParams, &texture->params);

    // A texture that goes away leaves no handle behind, and a stale handle means none.
    const std::uint32_t stale = texture->handle;
    texture.reset();
    EXPECT_EQ(object->Texture(), nullptr);
    EXPECT_EQ(LoadU32LE(record + PartRecordTextureRefOffset), 0u);
    EXPECT_EQ(ResolveTextureRef(stale), nullptr);
    EXPECT_EQ(scene.geometry().Part(0)->texParams, &scene.geometry().defaultTexture);
}

TEST(QMorvanObject, TextureLookChangeRebuildsByMappingBit) {
    SceneFixture scene;
    TestTexture texture;
    QMorvanObject* plain = scene.objects().AddDefaultShape(1);
    QMorvanObject* custom = scene.objects().AddDefaultShape(1);
    custom->GetPartRecord()[24] |= PartFlagCustomMapping;
    for (QMorvanObject* object : {plain, custom}) object->SetTexture(&texture, false);

    struct Case {
        std::int32_t argument;
        bool plainRebuilt;
        bool customRebuilt;
    };
    for (const Case& c : {Case{0, true, false}, Case{1, false, true}, Case{2, true, true}}) {
        SCOPED_TRACE(c.argument);
        plain->changed = custom->changed = 0;
        QReferenceObject::Broadcast(&texture, MessageChanged, c.argument);
        EXPECT_EQ(plain->changed != 0, c.plainRebuilt);
        EXPECT_EQ(custom->changed != 0, c.customRebuilt);
    }
    for (QMorvanObject* object : {plain, custom}) object->ClearTexture();
}

TEST(QMorvanObject, TintAndColourReachThePartEntry) {
    SceneFixture scene;
    QMorvanObject* object = scene.objects().AddDefaultShape(1);
    object->SetColor(200, 100, 50);
    EXPECT_EQ(object->GetColour().r, 200 / 255.0);
    object->SetTint(7, false);
    EXPECT_EQ(object->GetPartRecord()[25], 7);
    EXPECT_EQ(scene.geometry().Part(0)->tint, 0);
    object->SetTint(9, true);
    EXPECT_EQ(scene.geometry().Part(0)->tint, 9);
}

TEST(QMorvanObject, RadiusByShapeType) {
    SceneFixture scene;
    struct Case {
        std::int32_t kind;
        double radius;
    };
    for (const Case& c : {Case{1, 0.5}, Case{2, 0.5}, Case{3, 0.5}, Case{5, 0.125},
                          Case{6, 0.5}, Case{7, 0.25}, Case{9, 0.25}}) {
        SCOPED_TRACE(c.kind);
        EXPECT_NEAR(scene.objects().AddDefaultShape(c.kind)->GetRadius(), c.radius, 1e-7);
    }
}

TEST(QMorvanObject, GroupDeletionMovesObjectsToTheDefaultGroup) {
    SceneFixture scene;
    auto owned = std::make_unique<QGroup>("Flip");
    QGroup* group = owned.get();
    scene.document->Groups()->AddGroup(std::move(owned), true);
    QMorvanObject* object = scene.objects().AddDefaultShape(1);
    object->SetGroup(group);
    group->MarkDeleted();
    EXPECT_EQ(object->Group(), scene.document->Groups()->GetGroup(0));
    group->MarkCreated();
    QReferenceObject::Broadcast(group, MessageRestored, 0);
    EXPECT_EQ(object->Group(), group);
}

TEST(QMorvanObject, ObjectsMadeWithABotGoWithIt) {
    SceneFixture scene;
    auto bot = std::make_unique<QToadObj>(scene.document.document.get());
    QMorvanObject* kept = scene.objects().AddDefaultShape(1);
    QMorvanObject* generated = scene.objects().AddDefaultShape(2);
    kept->SetOwnerBot(bot.get());
    generated->SetOwnerBot(bot.get());
    generated->deleteWithBot = 1;
    bot.reset();
    EXPECT_EQ(scene.objects().Count(), 1);
    EXPECT_EQ(kept->OwnerBot(), nullptr);
    scene_test::ExpectBlockMatchesObjects(scene.objects());
}

}  // namespace
