// The scene document's members: construction and destruction, view rectangle, the
// message handler and the legacy bot reader.

#include "bots/sproutling_engine.h"
#include "core/byte_order.h"
#include "core/private_heap.h"
#include "geometry/scene_geometry.h"
#include "model/model_test_objects.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_object_list.h"
#include "model/q_morvan_objects.h"
#include "model/q_texture_list.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "modeller/q_kv_action.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using model_test::CurrentDocumentScope;
using model_test::HeardLog;
using model_test::Recorder;

TEST(QDocumentBaseMembers, NewDocumentHoldsAnEmptyScene) {
    QDocumentBase document;
    EXPECT_EQ(document.TypeId(), TypeIdDocument);
    EXPECT_EQ(document.fileVersion, 210);
    EXPECT_EQ(document.partIndex, -1);
    EXPECT_EQ(document.AnimationSettings().TypeId(), TypeIdAnimationSettings);
    EXPECT_EQ(document.AnimationSettings().stepRate, 30.0f);
    EXPECT_EQ(document.AnimationSettings().document, &document);
    ASSERT_NE(MouseActionOf(document), nullptr);
    EXPECT_EQ(MouseActionOf(document)->document, &document);
    ASSERT_NE(document.Engine(), nullptr);
    EXPECT_EQ(document.Engine()->sceneScale, 100.0f);
    EXPECT_EQ(document.Engine()->partBlockRef[0], document.PartBlock());
    EXPECT_EQ(document.Engine()->docList, &document.EngineBuffers());
    EXPECT_EQ(document.Geometry()->PartCount(), 0);

    const std::array<std::uint8_t, 20> emptyBlock{3, 0, 0xFF, 0xFF, 0, 0, 0,    0, 0, 0,
                                                  0, 0, 0,    0,    0, 0, 0xC0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(document.PartBlock(), emptyBlock.data(), emptyBlock.size()), 0);

    ASSERT_EQ(document.Groups()->Count(), 1);
    EXPECT_EQ(document.CurrentGroup(), document.Groups()->GetGroup(0));
    EXPECT_EQ(document.CurrentGroup()->GetName(), "[Default]");
    EXPECT_TRUE(document.TextureList()->Textures().empty());
    EXPECT_TRUE(document.BotList()->Bots().empty());
    EXPECT_TRUE(document.IsRegisteredOn(document.TextureList(), 0));

    ASSERT_EQ(document.ShapeTypes().size(), 20u);
    EXPECT_EQ(document.ShapeTypes().at(5), (std::array<std::int32_t, 4>{12, 6, 6, 6}));
    EXPECT_EQ(document.ShapeTypes().at(26), (std::array<std::int32_t, 4>{6, 12, 12, 12}));
    EXPECT_EQ(document.ShapeTypes().count(6), 0u);
}

TEST(QDocumentBaseMembers, ViewRectangles) {
    QDocumentBase document;
    const ViewRectInt rect = document.GetViewRect();
    EXPECT_EQ(rect.left, -200);
    EXPECT_EQ(rect.top, -200);
    EXPECT_EQ(rect.right, 200);
    EXPECT_EQ(rect.bottom, 200);
    const ViewRectInt centred = document.GetCenteredViewRect(1000, 600);
    EXPECT_EQ(centred.left, 300);
    EXPECT_EQ(centred.top, 100);
    EXPECT_EQ(centred.right, 700);
    EXPECT_EQ(centred.bottom, 500);

    document.viewRect = {-10.5, -0.5, 10.5, 2.5};  // halves round away from zero
    const ViewRectInt rounded = document.GetViewRect();
    EXPECT_EQ(rounded.left, -11);
    EXPECT_EQ(rounded.top, -1);
    EXPECT_EQ(rounded.right, 11);
    EXPECT_EQ(rounded.bottom, 3);
}

TEST(QDocumentBaseMembers, AThousandDocumentsLeaveNothingBehind) {
    const std::size_t bytes = PrivateHeapBytesInUse();
    const std::size_t blocks = PrivateHeapBlockCount();
    for (int i = 0; i < 1000; ++i) {
        CurrentDocumentScope document;
        auto bot = std::make_unique<QToadObj>(document.document.get());
        QToadObj* current = bot.get();
        document->BotList()->AddBot(std::move(bot), true);
        document->SetCurrentBot(current);
        document->BeginOperation("delete");
        auto group = std::make_unique<QGroup>("Flip");
        QGroup* flip = group.get();
        document->Groups()->AddGroup(std::move(group), true);
        QGroups::DeleteGroup(flip, false);  // only the undo history holds it now
    }
    EXPECT_EQ(PrivateHeapBytesInUse(), bytes);
    EXPECT_EQ(PrivateHeapBlockCount(), blocks);
}

TEST(QDocumentBaseMembers, ConstructionRefusedByTheHeapLeavesNothingBehind) {
    // Ceilings that stop construction at the part block, the morph tables, the parameter
    // tables and the legacy record buffer of the engine.
    const std::size_t bytes = PrivateHeapBytesInUse();
    const std::size_t blocks = PrivateHeapBlockCount();
    for (const std::size_t room : {1u, 19u, 200u, 3000u, 9500u, 14000u}) {
        SCOPED_TRACE(room);
        PrivateHeapSetCeiling(bytes + room);
        std::unique_ptr<QDocumentBase> document;
        bool refused = false;
        try {
            document = std::make_unique<QDocumentBase>();
        } catch (const KVOutOfMemoryException&) {
            refused = true;
        }
        PrivateHeapSetCeiling(0);
        EXPECT_TRUE(refused);
        EXPECT_EQ(PrivateHeapBytesInUse(), bytes);
        EXPECT_EQ(PrivateHeapBlockCount(), blocks);
    }
}

TEST(QDocumentBaseMembers, RenderViewAndDocumentForgetEachOther) {
    {
        QDocumentBase document;
        QRenderView view(&document);
        EXPECT_EQ(document.RenderView(), &view);
    }
    auto document = std::make_unique<QDocumentBase>();
    auto view = std::make_unique<QRenderView>(document.get());
    view.reset();
    EXPECT_EQ(document->RenderView(), nullptr);
    view = std::make_unique<QRenderView>(document.get());
    document.reset();
    EXPECT_EQ(view->Document(), nullptr);
}

TEST(QDocumentBaseMembers, TextureRestoredWhileAnotherIsCurrentIsNotFollowed) {
    CurrentDocumentScope document;
    HeardLog log;
    Recorder listener("listener", &log);
    QReferenceObject::AddReference(document.document.get(), &listener, 0);
    Recorder first("first", nullptr, TypeIdTexture);
    Recorder second("second", nullptr, TypeIdTexture);

    document->SetCurrentTexture(&first);
    first.MarkDeleted();
    EXPECT_EQ(document->CurrentTexture(), nullptr);
    document->SetCurrentTexture(&second);
    first.MarkCreated();
    QReferenceObject::Broadcast(&first, MessageRestored, 0);

    EXPECT_EQ(document->CurrentTexture(), &second);
    EXPECT_FALSE(document->IsRegisteredOn(&first, 0));
    ASSERT_EQ(log.size(), 1u);  // (7, 1) when the current texture was deleted
    EXPECT_EQ(log[0].message, MessageChanged);
    EXPECT_EQ(log[0].a, DocumentChangeTexture);
}

TEST(QDocumentBaseMembers, DeletedTextureComesBackAsCurrent) {
    CurrentDocumentScope document;
    HeardLog textureLog;
    Recorder texture("texture", nullptr, TypeIdTexture);
    Recorder textureListener("texture listener", &textureLog);
    QReferenceObject::AddReference(&texture, &textureListener, 0);
    document->SetCurrentTexture(&texture);
    texture.MarkDeleted();
    texture.MarkCreated();
    QReferenceObject::Broadcast(&texture, MessageRestored, 0);
    EXPECT_EQ(document->CurrentTexture(), &texture);
    ASSERT_FALSE(textureLog.empty());
    EXPECT_EQ(textureLog.back().message, MessageBecameCurrent);
}

TEST(QDocumentBaseMembers, DeletingTheCurrentGroupMakesDefaultCurrent) {
    CurrentDocumentScope document;
    HeardLog log;
    Recorder listener("listener", &log);
    QReferenceObject::AddReference(document.document.get(), &listener, 0);
    auto owned = std::make_unique<QGroup>("Slide");
    QGroup* group = owned.get();
    document->Groups()->AddGroup(std::move(owned), true);
    document->SetCurrentGroup(group);

    document->BeginOperation("delete group");
    log.clear();
    QGroups::DeleteGroup(group, false);

    EXPECT_EQ(document->CurrentGroup(), document->Groups()->GetGroup(0));
    EXPECT_TRUE(document->IsRegisteredOn(document->Groups()->GetGroup(0), 0));
    EXPECT_EQ(document->Groups()->Count(), 1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].a, DocumentChangeGroups);

    // Restoring it makes it current again and puts it back in the list.
    group->MarkCreated();
    QReferenceObject::Broadcast(group, MessageRestored, 0);
    EXPECT_EQ(document->CurrentGroup(), group);
    EXPECT_EQ(document->Groups()->Count(), 2);
}

TEST(QDocumentBaseMembers, CurrentBotDeletedStopsBeingCurrent) {
    CurrentDocumentScope document;
    HeardLog log;
    Recorder listener("listener", &log);
    QReferenceObject::AddReference(document.document.get(), &listener, 0);
    auto owned = std::make_unique<QToadObj>(document.document.get());
    QToadObj* bot = owned.get();
    HeardLog botLog;
    Recorder botListener("bot listener", &botLog, TypeIdPlain);
    QReferenceObject::AddReference(bot, &botListener, 0);
    document->BotList()->AddBot(std::move(owned), true);
    document->SetCurrentBot(bot);
    document->SetSecondBot(bot);

    document->BeginOperation("delete bot");
    log.clear();
    bot->MarkDeleted();

    EXPECT_EQ(document->CurrentBot(), nullptr);
    EXPECT_EQ(document->SecondBot(), nullptr);
    std::vector<std::int32_t> documentChanges;
    for (const auto& heard : log) {
        if (heard.sender == document.document.get()) documentChanges.push_back(heard.a);
    }
    EXPECT_EQ(documentChanges,
              (std::vector<std::int32_t>{DocumentChangeBot, DocumentChangeSecondBot}));
    bool stoppedCurrent = false;
    for (const auto& heard : botLog) stoppedCurrent |= heard.message == MessageStoppedCurrent;
    EXPECT_TRUE(stoppedCurrent);
}

TEST(QDocumentBaseMembers, TextureListChangeIsPassedOn) {
    CurrentDocumentScope document;
    HeardLog log;
    Recorder listener("listener", &log);
    QReferenceObject::AddReference(document.document.get(), &listener, 0);
    document->TextureList()->AddTexture(std::make_unique<Recorder>("texture", nullptr, TypeIdTexture));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].a, DocumentChangeTextureList);
}

TEST(QDocumentBaseMembers, ClearUndoHistoryRestartsBotHistories) {
    CurrentDocumentScope document;
    auto owned = std::make_unique<QToadObj>(document.document.get());
    QToadObj* bot = owned.get();
    document->BotList()->AddBot(std::move(owned), false);
    bot->PushSnapshot(BotChangeMask);
    ASSERT_EQ(bot->History().size(), 2u);
    document->ClearUndoHistory();
    EXPECT_EQ(bot->History().size(), 1u);
}

TEST(QDocumentBaseMembers, CurrentBotParameter) {
    QDocumentBase document;
    document.Engine()->recordPickMode = 7;
    EXPECT_EQ(document.GetCurrentBotParameter(), 7);
    auto owned = std::make_unique<QToadObj>(&document);
    QToadObj* bot = owned.get();
    document.BotList()->AddBot(std::move(owned), true);
    bot->settingC = 3;
    document.SetCurrentBot(bot);
    EXPECT_EQ(document.GetCurrentBotParameter(), 3);
}

// Legacy bot records.

constexpr std::uint32_t PartsOffset = 272;

// A binary "A" part of 3204 bytes whose bt value (column 0) is mode.
std::vector<std::uint8_t> BinaryPart(float mode) {
    std::vector<std::uint8_t> part(3204, 0);
    part[0] = 'A';
    StoreF32LE(part.data() + 12, mode);
    return part;
}

// A multi-part record: form, count, six header words, five tables, then the parts.
std::vector<std::uint8_t> MultiPartRecord(std::int32_t form, std::int32_t count,
                                          const std::vector<std::vector<std::uint8_t>>& parts) {
    std::vector<std::uint8_t> record(PartsOffset, 0);
    StoreI32LE(record.data(), form);
    StoreI32LE(record.data() + 4, count);
    for (std::uint32_t i = 0; i < 60; ++i) {
        StoreI32LE(record.data() + 32 + 4 * i, static_cast<std::int32_t>(100 + i));
    }
    for (const auto& part : parts) {
        std::uint8_t size[4];
        StoreU32LE(size, static_cast<std::uint32_t>(part.size()));
        record.insert(record.end(), size, size + 4);
        record.insert(record.end(), part.begin(), part.end());
    }
    return record;
}

TEST(QDocumentBaseMembers, ReadsASinglePartLegacyBot) {
    QDocumentBase document;
    const auto record = BinaryPart(4.0f);
    EXPECT_EQ(document.ReadLegacyBotData(record.data(), static_cast<std::uint32_t>(record.size())),
              3204);
    EXPECT_EQ(document.partIndex, 4);
    EXPECT_EQ(document.Engine()->Param(0, 0, 0), 4.0f);
}

TEST(QDocumentBaseMembers, ReadsAMultiPartLegacyBot) {
    QDocumentBase document;
    document.Engine()->Param(0, 0, 0) = 8.0f;  // the working row's mode word
    const auto record = MultiPartRecord(2, 2, {BinaryPart(1.0f), BinaryPart(2.0f)});
    EXPECT_EQ(document.ReadLegacyBotData(record.data(), static_cast<std::uint32_t>(record.size())),
              3204);
    EXPECT_EQ(document.partIndex, 8);
    EXPECT_EQ(document.Engine()->Param(0, 1, 0), 1.0f);
    EXPECT_EQ(document.Engine()->Param(0, 2, 0), 2.0f);
    EXPECT_EQ(document.Engine()->morphRows.get()[0], 100);
    EXPECT_EQ(document.Engine()->morphLengths.get()[11], 159);
    EXPECT_EQ(document.Engine()->morphLengths.get()[12], 0);  // entries past 12 untouched
}

TEST(QDocumentBaseMembers, RefusesCraftedLegacyRecords) {
    const auto good = BinaryPart(1.0f);
    auto truncated = MultiPartRecord(2, 2, {good, good});
    truncated.resize(truncated.size() - 1);
    auto oversized = MultiPartRecord(2, 2, {good, good});
    StoreU32LE(oversized.data() + PartsOffset + 4 + good.size(), 0x7FFFFFFF);
    auto unknownForm = good;
    unknownForm[0] = 'B';

    struct Case {
        const char* name;
        std::vector<std::uint8_t> record;
        std::int32_t result;
        std::uint32_t clearedRow;  // 13: none
    };
    const Case cases[] = {
        {"form 3", MultiPartRecord(3, 2, {good, good}), -2, 13},
        {"one part", MultiPartRecord(2, 1, {good, good}), -2, 13},
        {"13 parts", MultiPartRecord(2, 13, {good, good}), -2, 13},
        {"negative count", MultiPartRecord(2, -5, {good, good}), -2, 13},
        {"last part cut short", truncated, -1, 2},
        {"part length past the end", oversized, -1, 2},
        {"fewer parts than counted", MultiPartRecord(2, 3, {good, good}), -1, 3},
        {"empty part", MultiPartRecord(2, 2, {good, {}, good}), -1, 2},
        {"part the engine refuses", MultiPartRecord(2, 2, {good, unknownForm}), -1, 2},
        {"single part refused", unknownForm, -1, 0},
        {"no record", {}, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDocumentBase document;
        for (std::uint32_t row = 0; row < 13; ++row) document.Engine()->Param(0, row, 0) = 8.0f;
        const std::int32_t result =
            document.ReadLegacyBotData(c.record.empty() ? nullptr : c.record.data(),
                                       static_cast<std::uint32_t>(c.record.size()));
        EXPECT_EQ(result, c.result);
        for (std::uint32_t row = 1; row < 13; ++row) {
            if (row == c.clearedRow) {
                EXPECT_EQ(document.Engine()->Param(0, row, 0), -1.0f);
                EXPECT_EQ(document.partIndex, -1);
            } else if (row > c.clearedRow || c.clearedRow == 13) {
                EXPECT_EQ(document.Engine()->Param(0, row, 0), 8.0f) << row;
            }
        }
    }
}

TEST(QDocumentBaseMembers, UserBotObjectsReachTheEngine) {
    CurrentDocumentScope document;
    QMorvanObjects& objects = *document->Objects();
    QMorvanObject* sphere = objects.AddDefaultShape(1);
    QMorvanObject* box = objects.AddDefaultShape(3);
    SproutlingEngine& engine = *document->Engine();
    engine.Param(0, 0, 0) = 0.0f;  // a mode word without bit 7: the records are stored

    // No chosen object: nothing reaches the engine.
    document->SetUserBotObjects();
    EXPECT_EQ(engine.stateStored, 0);
    EXPECT_TRUE(engine.userPartRecords.empty());

    document->UserObjects().Add(sphere);
    document->userBotObjects = 0;
    document->SetUserBotObjects();
    EXPECT_EQ(engine.stateStored, 0);

    document->userBotObjects = 1;
    document->UserObjects().Add(box);
    document->SetUserBotObjects();
    EXPECT_EQ(engine.stateStored, 1);
    EXPECT_EQ(LoadI32LE(engine.stateRecordA.get() + 28), 1);
    EXPECT_EQ(LoadF32LE(engine.stateRecordA.get() + 80), 50.0f);  // 0.5 x the scene scale
    EXPECT_EQ(LoadI32LE(engine.stateRecordB.get() + 28), 3);
    ASSERT_EQ(engine.userPartRecords.size(), 2u);
    EXPECT_EQ(LoadF32LE(engine.userPartRecords[1].get() + 80), 100.0f);

    // A deleted user object leaves the list; with one entry left both slots take it.
    box->MarkDeleted();
    EXPECT_EQ(document->UserObjects().Members().size(), 1u);
    document->SetUserBotObjects();
    EXPECT_EQ(LoadI32LE(engine.stateRecordB.get() + 28), 1);
    EXPECT_EQ(engine.userPartRecords.size(), 1u);
}

}  // namespace
