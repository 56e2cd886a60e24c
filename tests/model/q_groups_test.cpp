#include "model/q_groups.h"

#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "model_test_objects.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace {

using model_test::CurrentDocumentScope;
using model_test::HeardLog;
using model_test::Recorder;

std::vector<std::string> Names(const QGroups& groups) {
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < groups.Count(); ++i)
        names.push_back(groups.GetGroup(i)->GetName());
    return names;
}

QGroup* Add(QGroups& groups, const char* name) {
    auto group = std::make_unique<QGroup>(name);
    QGroup* added = group.get();
    groups.AddGroup(std::move(group), true);
    return added;
}

TEST(QGroups, AddingMakesNamesUniqueAndKeepsNameOrder) {
    QGroups groups(nullptr);
    for (const char* name : {"Group", "Group", "Group", "group", "", "cherry", "apple", "Banana",
                             "Tree-0007", "Tree-0007"}) {
        Add(groups, name);
    }
    EXPECT_EQ(Names(groups),
              (std::vector<std::string>{"[Default]", "apple", "Banana", "cherry", "Group",
                                        "Group-0001", "group-0001", "Group-0002", "Group-0003",
                                        "Tree-0001", "Tree-0007"}));
}

TEST(QGroups, RenamingKeepsOrTakesTheFirstFreeSuffix) {
    struct Case {
        const char* from;
        const char* to;
        const char* result;
    };
    const Case cases[] = {
        {"Tree", "Tree", "Tree"},
        {"Tree-0003", "Tree-0003", "Tree-0001"},
        {"Oak", "Tree", "Tree-0001"},
        {"Oak", "tree", "tree-0001"},
        {"Oak", "", "Group"},
        {"Oak", "Pine-", "Pine-"},
        {"Oak", "[Default]", "[Default]-0001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        QGroups groups(nullptr);
        if (std::string(c.from) != "Tree") Add(groups, "Tree");
        QGroup* group = Add(groups, c.from);
        EXPECT_EQ(QGroups::RenameGroup(group, c.to), c.result);
        EXPECT_EQ(group->GetName(), c.result);
    }
}

TEST(QGroups, RenamingAGroupOutsideAListTakesTheName) {
    QGroup group("Loose");
    EXPECT_EQ(QGroups::RenameGroup(&group, ""), "");
}

TEST(QGroups, EmptyNameTakenGivesGroupSuffix) {
    QGroups groups(nullptr);
    Add(groups, "Group");
    EXPECT_EQ(Add(groups, "")->GetName(), "Group-0001");
}

TEST(QGroups, CollectGroupsByPrefix) {
    QGroups groups(nullptr);
    QGroup* flip = Add(groups, "Flip1");
    QGroup* other = Add(groups, "aFlip");
    QGroup* slide = Add(groups, "Slide");
    EXPECT_EQ(groups.CollectGroups("Fl"), (std::vector<QGroup*>{flip}));
    EXPECT_EQ(groups.CollectGroups(""), (std::vector<QGroup*>{other, flip, slide}));
    EXPECT_TRUE(groups.CollectGroups("fl").empty());
}

TEST(QGroups, RemoveAllLeavesDefault) {
    QGroups groups(nullptr);
    Add(groups, "A");
    Add(groups, "B");
    QGroup* first = groups.GetGroup(0);
    groups.RemoveAll();
    EXPECT_EQ(Names(groups), (std::vector<std::string>{"[Default]"}));
    EXPECT_EQ(groups.GetGroup(0), first);
}

TEST(QGroups, DeletingDefaultWithObjectsDeletesOnlyTheObjects) {
    CurrentDocumentScope document;
    QGroups* groups = document->Groups();
    QGroup* defaultGroup = groups->GetGroup(0);
    Recorder object("object", nullptr, TypeIdObject);
    QReferenceObject::AddReference(defaultGroup, &object, 0);
    document->BeginOperation("delete");

    QGroups::DeleteGroup(defaultGroup, true);

    EXPECT_FALSE(object.IsAlive());
    EXPECT_TRUE(defaultGroup->IsAlive());
    EXPECT_EQ(groups->Count(), 1);
    object.MarkCreated();  // take it back from the undo history before it goes
}

TEST(QGroups, DeletingAGroupKeepsObjectsOfDrawingBots) {
    CurrentDocumentScope document;
    QGroups* groups = document->Groups();
    QGroup* group = Add(*groups, "Flip");
    auto owned = std::make_unique<QToadObj>(document.document.get());
    QToadObj* bot = owned.get();
    bot->bt[0] = 1.0f;  // mode bit 0: a drawing bot
    document->BotList()->AddBot(std::move(owned), true);
    Recorder plain("plain", nullptr, TypeIdObject);
    Recorder botPart("bot part", nullptr, TypeIdObject);
    for (Recorder* object : {&plain, &botPart}) QReferenceObject::AddReference(group, object, 0);
    QReferenceObject::AddReference(bot, &botPart, 0);
    document->BeginOperation("delete");

    QGroups::DeleteGroup(group, true);

    EXPECT_FALSE(plain.IsAlive());
    EXPECT_TRUE(botPart.IsAlive());
    EXPECT_FALSE(group->IsAlive());
    EXPECT_EQ(groups->Count(), 1);
    plain.MarkCreated();
}

TEST(QGroups, RestoredGroupReturnsUnderAUniqueName) {
    CurrentDocumentScope document;
    QGroups* groups = document->Groups();
    HeardLog log;
    Recorder listener("listener", &log, TypeIdPlain);
    QReferenceObject::AddReference(document.document.get(), &listener, 0);
    QGroup* group = Add(*groups, "Slide");
    document->BeginOperation("delete");
    QGroups::DeleteGroup(group, false);
    Add(*groups, "Slide");

    group->MarkCreated();
    QReferenceObject::Broadcast(group, MessageRestored, 0);

    EXPECT_EQ(Names(*groups), (std::vector<std::string>{"[Default]", "Slide", "Slide-0001"}));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().a, DocumentChangeGroups);
}

TEST(QGroups, AddingBroadcastsTheGroup) {
    QGroups groups(nullptr);
    HeardLog log;
    Recorder listener("listener", &log, TypeIdPlain);
    QReferenceObject::AddReference(&groups, &listener, 0);
    Add(groups, "Flip");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, MessageChanged);
    EXPECT_EQ(log[0].a, 0);
    EXPECT_NE(log[0].payload, nullptr);
}

TEST(QGroups, GroupDestroyedElsewhereLeavesTheList) {
    QGroups groups(nullptr);
    QGroup* group = Add(groups, "Flip");
    delete group;
    EXPECT_EQ(Names(groups), (std::vector<std::string>{"[Default]"}));
}

// A group's kind decides by its two low bits: truncated for whole selection, rounded for a
// frame of its own. A new group is loose, with the identity orientation.
TEST(QGroup, KindAndOrientation) {
    QGroup fresh("Fresh");
    EXPECT_EQ(fresh.GetKind(), GroupKindLoose);
    EXPECT_FALSE(fresh.IsSelectedWhole());
    EXPECT_FALSE(fresh.HasOwnFrame());
    const Matrix3 identity = fresh.GetOrientation();
    EXPECT_EQ(identity.m, Matrix3SetDiagonal(1.0).m);

    struct Case {
        float kind;
        bool isWhole;
        bool hasFrame;
    };
    const Case cases[] = {
        {0.0f, true, true}, {1.0f, false, false}, {2.0f, false, false}, {3.0f, false, false},
        {4.0f, true, true}, {-4.0f, true, true},  {3.6f, false, true},  {0.6f, true, false},
        {4.4f, true, true}, {-0.6f, true, false}, {8.5f, true, true},   {-1.0f, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        QGroup group("G");
        group.SetKind(c.kind);
        EXPECT_EQ(group.IsSelectedWhole(), c.isWhole);
        EXPECT_EQ(group.HasOwnFrame(), c.hasFrame);
    }

    Matrix4 placed;
    placed.m = {0.0, -1.0, 0.0, 5.0, 1.0, 0.0, 0.0, 6.0, 0.0, 0.0, 1.0, 7.0, 0.0, 0.0, 0.0, 1.0};
    fresh.SetTransform(placed);
    EXPECT_EQ(fresh.GetOrientation().m,
              (std::array<double, 9>{0.0, -1.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0}));
}

}  // namespace
