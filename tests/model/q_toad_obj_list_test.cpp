#include "model/q_toad_obj_list.h"

#include "core/operation_log.h"
#include "model/q_document_base.h"
#include "model/q_toad_obj.h"
#include "model_test_objects.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using model_test::CurrentDocumentScope;
using model_test::HeardLog;
using model_test::Recorder;

QToadObj* AddBot(QDocumentBase& document, const char* name, bool makeUnique = true) {
    auto owned = std::make_unique<QToadObj>(&document);
    QToadObj* bot = owned.get();
    bot->name = name;
    document.BotList()->AddBot(std::move(owned), makeUnique);
    return bot;
}

std::vector<std::string> Names(const QToadObjList& list) {
    std::vector<std::string> names;
    for (const QToadObj* bot : list.Bots()) names.push_back(bot->name);
    return names;
}

TEST(QToadObjList, NamingSequences) {
    QDocumentBase document;
    AddBot(document, "Bot", false);
    AddBot(document, "Bot", false);
    EXPECT_EQ(AddBot(document, "")->name, "Bot-001");
    EXPECT_EQ(AddBot(document, "")->name, "Bot-002");
    AddBot(document, "Bot-005");
    EXPECT_EQ(AddBot(document, "bot-005")->name, "bot-001");
    EXPECT_FALSE(document.BotList()->IsBotNameFree("BOT-005"));
    EXPECT_EQ(document.BotList()->CountBotsNamed("Bot"), 2);
    EXPECT_EQ(document.BotList()->MakeUniqueBotName(nullptr, "Spinner"), "Spinner");
}

TEST(QToadObjList, ABotKeepsItsOwnNameWhenItIsTheOnlyHolder) {
    QDocumentBase document;
    QToadObj* spinner = AddBot(document, "Spinner-004");
    AddBot(document, "Spinner-001");
    EXPECT_EQ(document.BotList()->MakeUniqueBotName(spinner, "Spinner-004"), "Spinner-002");
    QToadObj* plain = AddBot(document, "Plain");
    EXPECT_EQ(document.BotList()->MakeUniqueBotName(plain, "Plain"), "Plain");
}

TEST(QToadObjList, BotsAreSortedByNameWithoutCase) {
    QDocumentBase document;
    for (const char* name : {"cherry", "apple", "Banana"}) AddBot(document, name);
    EXPECT_EQ(Names(*document.BotList()), (std::vector<std::string>{"apple", "Banana", "cherry"}));
    EXPECT_EQ(document.BotList()->FindBotByName("Banana"), document.BotList()->Bots()[1]);
    EXPECT_EQ(document.BotList()->FindBotByName("banana"), nullptr);
}

TEST(QToadObjList, DestroyingAListOfFiveBotsDestroysAllFive) {
    QDocumentBase document;
    HeardLog log;
    std::vector<std::unique_ptr<Recorder>> listeners;
    for (int i = 0; i < 5; ++i) {
        QToadObj* bot = AddBot(document, "Bot");
        listeners.push_back(std::make_unique<Recorder>("listener", &log, TypeIdPlain));
        QReferenceObject::AddReference(bot, listeners.back().get(), 0);
    }
    document.BotList()->RemoveAll();
    EXPECT_TRUE(document.BotList()->Bots().empty());
    std::size_t destroyed = 0;
    for (const auto& heard : log) destroyed += heard.message == MessageDestroyed ? 1 : 0;
    EXPECT_EQ(destroyed, 5u);
}

TEST(QToadObjList, ListOwnsBotsOfNoDocument) {
    // Such a bot's destructor never reaches the list; the list must not loop on it.
    auto list = std::make_unique<QToadObjList>();
    for (int i = 0; i < 3; ++i) list->AddBot(std::make_unique<QToadObj>(nullptr), true);
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"Bot", "Bot-001", "Bot-002"}));
    list.reset();
}

TEST(QToadObjList, DeletedBotLeavesItsMorphChainAndTheList) {
    CurrentDocumentScope document;
    QToadObj* a = AddBot(*document, "a");
    QToadObj* b = AddBot(*document, "b");
    QToadObj* c = AddBot(*document, "c");
    a->morphHead = 1;
    a->morphNext = b;
    b->morphPrev = a;
    b->morphNext = c;
    c->morphPrev = b;
    document->BeginOperation("delete");
    b->MarkDeleted();
    EXPECT_EQ(Names(*document->BotList()), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(a->morphNext, c);
    EXPECT_EQ(c->morphPrev, a);
    EXPECT_EQ(b->morphPrev, nullptr);
}

TEST(QToadObjList, RestoredBotComesBackUniqueAndIsSelectedInTheModeller) {
    const std::filesystem::path path =
        std::filesystem::path(testing::TempDir()) / "orbelle_bot_select.log";
    std::filesystem::remove(path);
    const std::uint8_t loggingOn = 1;
    OperationLogSetPath(path.string());
    OperationLogSetSwitch(&loggingOn);
    {
        CurrentDocumentScope document;
        QToadObj* bot = AddBot(*document, "Spinner");
        document->BeginOperation("delete");
        bot->MarkDeleted();
        AddBot(*document, "Spinner");

        bot->MarkCreated();
        QReferenceObject::Broadcast(bot, MessageRestored, 0);

        EXPECT_EQ(Names(*document->BotList()),
                  (std::vector<std::string>{"Spinner", "Spinner-001"}));
        EXPECT_EQ(bot->name, "Spinner-001");
        EXPECT_EQ(bot->regenLevel, 2);
    }
    OperationLogSetSwitch(nullptr);
    OperationLogSetPath("");
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("CommandEvent: theEvent.type=102\n"), std::string::npos);
    std::filesystem::remove(path);
}

TEST(QToadObjList, FirstSelectedBot) {
    QDocumentBase document;
    EXPECT_EQ(document.BotList()->GetFirstSelectedBot(), nullptr);
    AddBot(document, "a");
    QToadObj* b = AddBot(document, "b");
    QToadObj* c = AddBot(document, "c");
    c->selected = 1;
    b->selected = 1;
    EXPECT_EQ(document.BotList()->GetFirstSelectedBot(), b);
}

}  // namespace
