#include "model/q_texture_list.h"

#include "model/q_document_base.h"
#include "model_test_objects.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using model_test::CurrentDocumentScope;
using model_test::HeardLog;
using model_test::Recorder;

// A new texture that list owns.
Recorder* AddNewTexture(QTextureList& list, bool* destroyed = nullptr) {
    auto texture = std::make_unique<Recorder>("texture", nullptr, TypeIdTexture, destroyed);
    Recorder* added = texture.get();
    list.AddTexture(std::move(texture));
    return added;
}

TEST(QTextureList, AddingKeepsOneEntryAndBroadcastsOnce) {
    QTextureList list;
    HeardLog log;
    Recorder listener("listener", &log, TypeIdPlain);
    QReferenceObject::AddReference(&list, &listener, 0);
    Recorder* texture = AddNewTexture(list);
    EXPECT_EQ(list.Textures(), (std::vector<QReferenceObject*>{texture}));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].a, TextureListAdded);
    EXPECT_NE(log[0].payload, nullptr);
}

TEST(QTextureList, UnusedTextures) {
    CurrentDocumentScope document;
    QTextureList& list = *document->TextureList();
    Recorder* usedByDeleted = AddNewTexture(list);
    Recorder* current = AddNewTexture(list);
    Recorder* used = AddNewTexture(list);
    Recorder liveObject("live", nullptr, TypeIdObject);
    Recorder deletedObject("deleted", nullptr, TypeIdObject);
    QReferenceObject::AddReference(used, &liveObject, 0);
    QReferenceObject::AddReference(usedByDeleted, &deletedObject, 0);
    document->SetCurrentTexture(current);
    document->BeginOperation("delete");
    deletedObject.MarkDeleted();

    EXPECT_TRUE(list.HasUnusedTextures());
    list.DeleteUnusedTextures();

    EXPECT_FALSE(usedByDeleted->IsAlive());
    EXPECT_TRUE(current->IsAlive());
    EXPECT_TRUE(used->IsAlive());
    EXPECT_EQ(list.Textures(), (std::vector<QReferenceObject*>{current, used}));
    EXPECT_FALSE(list.HasUnusedTextures());
    deletedObject.MarkCreated();
}

TEST(QTextureList, SharedImages) {
    QTextureList list;
    Recorder image("image", nullptr, TypeIdTextureImage);
    Recorder other("other", nullptr, TypeIdTextureImage);
    Recorder* a = AddNewTexture(list);
    Recorder* b = AddNewTexture(list);
    QReferenceObject::AddReference(&image, a, 0);
    QReferenceObject::AddReference(&other, b, 0);
    EXPECT_FALSE(list.IsImageShared(&image));
    QReferenceObject::AddReference(&image, b, 0);
    EXPECT_TRUE(list.IsImageShared(&image));
}

TEST(QTextureList, FollowsDeletionRestorationAndDestruction) {
    CurrentDocumentScope document;
    QTextureList& list = *document->TextureList();
    HeardLog log;
    Recorder listener("listener", &log, TypeIdPlain);
    QReferenceObject::AddReference(&list, &listener, 0);
    Recorder* a = AddNewTexture(list);
    Recorder* b = AddNewTexture(list);
    log.clear();

    document->BeginOperation("delete");
    a->MarkDeleted();
    EXPECT_EQ(list.Textures(), (std::vector<QReferenceObject*>{b}));
    a->MarkCreated();
    QReferenceObject::Broadcast(a, MessageRestored, 0);
    EXPECT_EQ(list.Textures(), (std::vector<QReferenceObject*>{b, a}));
    delete b;
    EXPECT_EQ(list.Textures(), (std::vector<QReferenceObject*>{a}));
    ASSERT_EQ(log.size(), 3u);
    for (const auto& heard : log) EXPECT_EQ(heard.a, TextureListRemoved);
}

TEST(QTextureList, RemovingAndDestroyingTheList) {
    bool removedDestroyed = false, keptDestroyed = false;
    auto list = std::make_unique<QTextureList>();
    Recorder* removed = AddNewTexture(*list, &removedDestroyed);
    AddNewTexture(*list, &keptDestroyed);
    std::unique_ptr<QReferenceObject> taken = list->RemoveTexture(removed);
    EXPECT_EQ(taken.get(), removed);
    EXPECT_EQ(list->RemoveTexture(removed), nullptr);
    EXPECT_FALSE(removed->IsRegisteredOn(list.get(), 0));
    list.reset();
    EXPECT_TRUE(keptDestroyed);
    EXPECT_FALSE(removedDestroyed);
    taken.reset();
    EXPECT_TRUE(removedDestroyed);
}

}  // namespace
