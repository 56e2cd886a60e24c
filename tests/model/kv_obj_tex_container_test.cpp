#include "model/kv_obj_tex_container.h"

#include "geometry/primitive_record.h"
#include "object/undo_history.h"
#include "scene_object_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

using scene_test::SceneFixture;
using scene_test::TestTexture;

PartRecordPtr Sphere(double x) {
    return NewPrimitive1(1.0, 0, 0, Vec3{x, 0, 0}, ColourFromBytes(1, 2, 3));
}

TEST(KVObjTexContainerList, AssignedListsHoldIndependentCopies) {
    KVObjTexContainerList list;
    PartRecordPtr record = Sphere(1.0);
    StoreU32LE(record.get() + PartRecordTextureRefOffset, 77);
    list.AddContainer(record.get(), nullptr);
    EXPECT_EQ(LoadU32LE(list.GetAt(0)->Record() + PartRecordTextureRefOffset), 0u);

    KVObjTexContainerList copy(list);
    KVObjTexContainerList assigned;
    assigned = list;
    list.TransformRecords(MakeTranslation(10, 0, 0));
    EXPECT_EQ(PartRecordPosition(list.GetAt(0)->Record()).x, 11.0);
    EXPECT_EQ(PartRecordPosition(copy.GetAt(0)->Record()).x, 1.0);
    EXPECT_EQ(PartRecordPosition(assigned.GetAt(0)->Record()).x, 1.0);
    EXPECT_EQ(list.GetAt(list.Count()), nullptr);
}

TEST(KVObjTexContainerList, ContainersForgetADeletedTexture) {
    SceneFixture scene;
    KVObjTexContainerList list;
    auto texture = std::make_unique<TestTexture>();
    QMorvanObject* object = scene.objects().AddDefaultShape(2);
    object->SetTexture(texture.get(), false);
    list.BuildFromObjects(scene.objects());
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.GetAt(0)->Texture(), texture.get());
    object->ClearTexture();
    texture.reset();
    EXPECT_EQ(list.GetAt(0)->Texture(), nullptr);
}

TEST(KVObjTexContainerList, TypeThirteenContainersKeepTheirExtension) {
    KVObjTexContainerList list;
    std::vector<std::uint8_t> record(80 + 4 + 64, 0);
    StoreI32LE(record.data() + 28, 13);
    StoreU32LE(record.data() + 32, 64);
    StoreI32LE(record.data() + 36, 1);
    for (std::size_t i = 84; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i);
    const KVObjTexContainer* container = list.AddContainer(record.data(), nullptr);
    EXPECT_EQ(std::memcmp(container->Record(), record.data(), record.size()), 0);
}

TEST(KVObjTexContainerList, DeletedContainersReturnToTheirPlace) {
    SceneFixture scene;
    KVObjTexContainerList list;
    for (double x : {0.0, 1.0, 2.0}) list.AddContainer(Sphere(x).get(), nullptr);
    KVObjTexContainer* middle = list.GetAt(1);
    middle->MarkDeleted();
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(middle->listIndex, 1u);
    middle->MarkCreated();
    QReferenceObject::Broadcast(middle, MessageRestored, 0);
    EXPECT_EQ(list.GetAt(1), middle);

    // A container destroyed from outside leaves the list without being deleted twice.
    delete list.GetAt(2);
    EXPECT_EQ(list.Count(), 2u);
    list.RemoveContainer(list.GetAt(0));
    EXPECT_EQ(list.Count(), 1u);
}

TEST(KVObjTexContainerList, ContainerDeletedWhenItsListGoesIsTheUndoHistorys) {
    // A bot's list may go before the document's history forgets a deleted container.
    SceneFixture scene;
    model_test::DestructionWitness witness;
    auto list = std::make_unique<KVObjTexContainerList>();
    list->AddContainer(Sphere(0.0).get(), nullptr);
    KVObjTexContainer* deleted = list->AddContainer(Sphere(1.0).get(), nullptr);
    QReferenceObject::AddReference(deleted, &witness, 0);
    scene.document->BeginOperation("delete");
    deleted->MarkDeleted();

    list.reset();
    EXPECT_EQ(witness.destroyedCount, 0);
    for (std::int32_t i = 0; i < UndoStepLimit; ++i) scene.document->BeginOperation("later");
    EXPECT_EQ(witness.destroyedCount, 1);
}

TEST(KVObjTexContainerList, NoRecordsGiveNoContainer) {
    KVObjTexContainerList list;
    EXPECT_EQ(list.AddContainerFromRecords({}), nullptr);
    std::vector<PrivateBlockPtr<std::uint8_t>> records;
    records.push_back(Sphere(4.0));
    records.push_back(Sphere(5.0));
    KVObjTexContainer* first = list.AddContainerFromRecords(records);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(PartRecordPosition(first->Record()).x, 4.0);
}

}  // namespace
