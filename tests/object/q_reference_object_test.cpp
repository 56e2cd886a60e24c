#include "object/q_reference_object.h"

#include "model/model_test_objects.h"
#include "model/q_document_base.h"
#include "object/q_reference_trans_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using model_test::CurrentDocumentScope;
using model_test::HeardLog;
using model_test::Recorder;

std::vector<std::string> Names(const HeardLog& log) {
    std::vector<std::string> names;
    for (const auto& heard : log) names.push_back(heard.who);
    return names;
}

// The referrers that heard something, without the senders' before and after calls.
std::vector<std::string> Receivers(const HeardLog& log) {
    std::vector<std::string> names;
    for (const auto& heard : log) {
        if (heard.who.find(':') == std::string::npos) names.push_back(heard.who);
    }
    return names;
}

TEST(QReferenceObject, BroadcastReachesEveryReferrerOnceSetZeroFirstInRegistrationOrder) {
    HeardLog log;
    Recorder sender("sender", &log);
    Recorder c("c", &log), a("a", &log), b("b", &log), x("x", &log), y("y", &log);
    QReferenceObject::AddReference(&sender, &y, 1);
    QReferenceObject::AddReference(&sender, &c, 0);
    QReferenceObject::AddReference(&sender, &a, 0);
    QReferenceObject::AddReference(&sender, &x, 1);
    QReferenceObject::AddReference(&sender, &b, 0);
    QReferenceObject::AddReference(&sender, &a, 0);  // a second registration keeps one entry
    QReferenceObject::AddReference(&sender, nullptr, 0);

    QReferenceObject::Broadcast(&sender, MessageChanged, 42);

    EXPECT_EQ(Names(log), (std::vector<std::string>{"sender:before", "c", "a", "b", "y", "x",
                                                     "sender:after"}));
    for (const auto& heard : log) {
        EXPECT_EQ(heard.message, MessageChanged);
        if (heard.who.find(':') == std::string::npos) {
            EXPECT_EQ(heard.a, 42);
            EXPECT_EQ(heard.sender, &sender);
        }
    }
}

TEST(QReferenceObject, ReferrersUnregisteredDuringBroadcastHearNothingMore) {
    HeardLog log;
    Recorder sender("sender", nullptr);
    Recorder first("first", &log), self("self", &log), victim("victim", &log),
        late("late", &log), other("other", &log);
    for (Recorder* r : {&first, &self, &victim, &other}) {
        QReferenceObject::AddReference(&sender, r, 0);
    }
    first.onMessage = [&](std::int32_t, QReferenceObject*) {
        QReferenceObject::RemoveReference(&sender, &victim, 0);
        QReferenceObject::AddReference(&sender, &late, 0);
    };
    self.onMessage = [&](std::int32_t, QReferenceObject*) {
        QReferenceObject::RemoveReference(&sender, &self, 0);
    };

    QReferenceObject::Broadcast(&sender, MessageChanged, 0);
    EXPECT_EQ(Receivers(log), (std::vector<std::string>{"first", "self", "other"}));

    log.clear();
    first.onMessage = nullptr;
    QReferenceObject::Broadcast(&sender, MessageChanged, 0);
    EXPECT_EQ(Receivers(log), (std::vector<std::string>{"first", "other", "late"}));
}

TEST(QReferenceObject, HandlersMayDeleteReferrersDuringBroadcast) {
    HeardLog log;
    Recorder sender("sender", nullptr);
    Recorder killer("killer", &log);
    auto victim = std::make_unique<Recorder>("victim", &log);
    auto suicidal = new Recorder("suicidal", &log);
    Recorder last("last", &log);
    QReferenceObject::AddReference(&sender, &killer, 0);
    QReferenceObject::AddReference(&sender, suicidal, 0);
    QReferenceObject::AddReference(&sender, victim.get(), 0);
    QReferenceObject::AddReference(&sender, &last, 1);
    std::unique_ptr<Recorder> replacement;

    suicidal->onMessage = [&](std::int32_t, QReferenceObject*) { delete suicidal; };
    killer.onMessage = [&](std::int32_t, QReferenceObject*) {
        // The victim dies without unregistering itself; a new referrer may take its memory.
        victim.reset();
        replacement = std::make_unique<Recorder>("replacement", &log);
        QReferenceObject::AddReference(&sender, replacement.get(), 0);
    };

    QReferenceObject::Broadcast(&sender, MessageChanged, 0);
    EXPECT_EQ(Receivers(log), (std::vector<std::string>{"killer", "suicidal", "last"}));

    log.clear();
    killer.onMessage = nullptr;
    QReferenceObject::Broadcast(&sender, MessageChanged, 0);
    EXPECT_EQ(Receivers(log), (std::vector<std::string>{"killer", "replacement", "last"}));
}

TEST(QReferenceObjectDeathTest, DeletingTheSenderInsideItsBroadcastStops) {
    EXPECT_DEATH(
        {
            auto* sender = new Recorder("sender", nullptr);
            Recorder referrer("referrer", nullptr);
            QReferenceObject::AddReference(sender, &referrer, 0);
            referrer.onMessage = [&](std::int32_t message, QReferenceObject*) {
                if (message == MessageChanged) delete sender;
            };
            QReferenceObject::Broadcast(sender, MessageChanged, 0);
        },
        "broadcastDepth == 0");
}

TEST(QReferenceObject, AutoDeleteTargetGoesWithItsLastReferrer) {
    struct Case {
        const char* name;
        bool secondInSetOne;
        bool expectDeleted;
    };
    for (const Case& c : {Case{"only referrer leaves", false, true},
                          Case{"second referrer in set 1 stays", true, false}}) {
        SCOPED_TRACE(c.name);
        bool destroyed = false;
        auto* target = new Recorder("target", nullptr, TypeIdTextureImage, &destroyed);
        target->SetAutoDelete(true);
        QReferenceObject first, second;
        QReferenceObject::AddReference(target, &first, 0);
        if (c.secondInSetOne) QReferenceObject::AddReference(target, &second, 1);

        QReferenceObject::RemoveReference(target, &first, 0);
        EXPECT_EQ(destroyed, c.expectDeleted);
        if (!destroyed) QReferenceObject::RemoveReference(target, &second, 1);
        EXPECT_TRUE(destroyed);
    }
}

TEST(QReferenceObject, AutoDeleteWaitsForTheTargetsRunningBroadcast) {
    HeardLog log;
    bool destroyed = false;
    auto* target = new Recorder("target", &log, TypeIdTextureImage, &destroyed);
    target->SetAutoDelete(true);
    Recorder referrer("referrer", &log);
    QReferenceObject::AddReference(target, &referrer, 0);
    referrer.onMessage = [&](std::int32_t message, QReferenceObject* sender) {
        if (message == MessageChanged) QReferenceObject::RemoveReference(sender, &referrer, 0);
        EXPECT_FALSE(destroyed);
    };

    QReferenceObject::Broadcast(target, MessageChanged, 0);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(Names(log), (std::vector<std::string>{"target:before", "referrer", "target:after",
                                                     "target:before", "target:after"}));
}

TEST(QReferenceObject, AutoDeleteTargetEmptiedByItsOwnMessageZeroIsDeletedOnce) {
    bool destroyed = false;
    auto target = std::make_unique<Recorder>("target", nullptr, TypeIdTextureImage, &destroyed);
    target->SetAutoDelete(true);
    Recorder first("first", nullptr), second("second", nullptr);
    // Each referrer lets go of the target when it announces its end; the last one leaves the
    // auto-delete target without referrers while its destructor is running.
    for (Recorder* r : {&first, &second}) {
        QReferenceObject::AddReference(target.get(), r, 0);
        r->onMessage = [r](std::int32_t message, QReferenceObject* sender) {
            if (message == MessageDestroyed) QReferenceObject::RemoveReference(sender, r, 0);
        };
    }
    target.reset();
    EXPECT_TRUE(destroyed);
}

TEST(QReferenceObject, MarkDeletedRecordsOnceAndDetachesReferrers) {
    CurrentDocumentScope document;
    HeardLog log;
    Recorder target("target", nullptr);
    Recorder referrer("referrer", &log);
    QReferenceObject::AddReference(&target, &referrer, 0);

    target.MarkDeleted();
    target.MarkDeleted();

    EXPECT_FALSE(target.IsAlive());
    EXPECT_EQ(target.StateHistory(), (std::deque<std::uint16_t>{HistoryDeleted}));
    EXPECT_EQ(target.UndoStepHistory(), (std::deque<std::int32_t>{0}));
    EXPECT_EQ(document->ChangeList(), (std::vector<QReferenceObject*>{&target}));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, MessageDeleted);
    EXPECT_TRUE(referrer.IsDetachedFrom(&target));

    QReferenceObject::Broadcast(&target, MessageRestored, 0);
    EXPECT_FALSE(referrer.IsDetachedFrom(&target));

    target.MarkCreated();
    target.MarkCreated();
    EXPECT_TRUE(target.IsAlive());
    EXPECT_EQ(target.StateHistory(),
              (std::deque<std::uint16_t>{HistoryDeleted, HistoryExists, HistoryExists}));
    EXPECT_EQ(document->ChangeList().size(), 3u);
    EXPECT_EQ(log.size(), 2u);  // creation broadcasts nothing
}

TEST(QReferenceObject, RecordingWithoutCurrentDocumentDoesNothing) {
    ASSERT_EQ(CurrentDocument(), nullptr);
    HeardLog log;
    Recorder target("target", nullptr);
    Recorder referrer("referrer", &log);
    QReferenceObject::AddReference(&target, &referrer, 0);

    target.MarkDeleted();
    target.MarkCreated();

    EXPECT_TRUE(target.IsAlive());
    EXPECT_TRUE(target.StateHistory().empty());
    EXPECT_TRUE(target.UndoStepHistory().empty());
    EXPECT_TRUE(log.empty());
}

TEST(QReferenceObject, DestroyingADeletedObjectSendsNoMessageZeroButReleasesReferrers) {
    CurrentDocumentScope document;
    HeardLog log;
    auto* target = new Recorder("target", nullptr);
    Recorder referrer("referrer", &log);
    QReferenceObject::AddReference(target, &referrer, 0);
    QReferenceTransPort port(target);
    target->MarkDeleted();
    ASSERT_EQ(port.Target(), target);
    log.clear();

    document->ClearUndoHistory();  // destroys the deleted target for good

    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(referrer.IsDetachedFrom(target));
    EXPECT_EQ(port.Target(), nullptr);
}

TEST(QReferenceObject, DestroyingALiveObjectTellsItsReferrers) {
    HeardLog log;
    auto target = std::make_unique<Recorder>("target", nullptr);
    Recorder referrer("referrer", &log);
    QReferenceObject::AddReference(target.get(), &referrer, 1);
    const QReferenceObject* address = target.get();

    target.reset();

    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, MessageDestroyed);
    EXPECT_EQ(log[0].sender, address);
}

TEST(QReferenceObject, DestroyedReferrerReleasesItsDeletedAutoDeleteTarget) {
    CurrentDocumentScope document;
    bool destroyed = false;
    auto* target = new Recorder("target", nullptr, TypeIdTextureImage, &destroyed);
    target->SetAutoDelete(true);
    auto referrer = std::make_unique<QReferenceObject>();
    QReferenceObject::AddReference(target, referrer.get(), 0);
    target->MarkDeleted();
    ASSERT_TRUE(referrer->IsDetachedFrom(target));

    referrer.reset();

    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(document->ChangeList().empty());
}

TEST(QReferenceObject, ReferrerDestroyedWithoutUnregisteringLeavesNoDanglingEntry) {
    HeardLog log;
    Recorder target("target", nullptr);
    Recorder stays("stays", &log);
    auto careless = std::make_unique<QReferenceObject>();
    QReferenceObject::AddReference(&target, careless.get(), 0);
    QReferenceObject::AddReference(&target, careless.get(), 1);
    QReferenceObject::AddReference(&target, &stays, 0);

    careless.reset();

    QReferenceObject::Broadcast(&target, MessageChanged, 0);
    EXPECT_EQ(Receivers(log), (std::vector<std::string>{"stays"}));
}

TEST(QReferenceObject, TypedLookupsSeeOnlyAliveReferrersOfSetZero) {
    CurrentDocumentScope document;
    QReferenceObject group;
    Recorder one("one", nullptr), two("two", nullptr), dead("dead", nullptr),
        three("three", nullptr), light("light", nullptr, TypeIdLight),
        inSetOne("inSetOne", nullptr);
    for (Recorder* r : {&one, &two, &dead, &light, &three}) {
        QReferenceObject::AddReference(&group, r, 0);
    }
    QReferenceObject::AddReference(&group, &inSetOne, 1);
    dead.MarkDeleted();

    EXPECT_EQ(group.CollectReferrersByType(TypeIdObject),
              (std::vector<QReferenceObject*>{&one, &two, &three}));

    struct Case {
        std::int32_t typeId;
        std::int32_t k;
        QReferenceObject* expected;
    };
    const Case cases[] = {
        {TypeIdObject, 1, &one},    {TypeIdObject, 2, &two},     {TypeIdObject, 3, &three},
        {TypeIdObject, 4, nullptr}, {TypeIdObject, 0, &three},   {TypeIdObject, -5, &three},
        {TypeIdLight, 1, &light},   {TypeIdGroup, 0, nullptr},   {TypeIdGroup, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.typeId << " k " << c.k);
        EXPECT_EQ(group.FindReferrerByType(c.typeId, c.k), c.expected);
    }
}

TEST(QReferenceObject, IsPresentWantsAliveAndNewestEntryExists) {
    CurrentDocumentScope document;
    QReferenceObject object;
    EXPECT_FALSE(object.IsPresent());  // never recorded
    object.MarkCreated();
    EXPECT_TRUE(object.IsPresent());
    object.MarkDeleted();
    EXPECT_FALSE(object.IsPresent());
    object.MarkCreated();
    EXPECT_TRUE(object.IsPresent());
    object.ClearHistory();
    EXPECT_FALSE(object.IsPresent());
    EXPECT_TRUE(object.UndoStepHistory().empty());
}

TEST(QReferenceObject, CloneIsAFreshPlainObjectOfTheSameType) {
    CurrentDocumentScope document;
    Recorder original("original", nullptr, TypeIdTexture);
    original.SetAutoDelete(true);
    QReferenceObject referrer;
    QReferenceObject::AddReference(&original, &referrer, 0);
    original.MarkDeleted();

    std::unique_ptr<QReferenceObject> copy = original.Clone();

    EXPECT_EQ(typeid(*copy), typeid(QReferenceObject));
    EXPECT_EQ(copy->TypeId(), TypeIdTexture);
    EXPECT_TRUE(copy->IsAutoDelete());
    EXPECT_TRUE(copy->IsAlive());
    EXPECT_TRUE(copy->StateHistory().empty());
    EXPECT_EQ(copy->FindReferrerByType(TypeIdPlain, 0), nullptr);
    EXPECT_TRUE(copy->Accepts(nullptr));

    // The original lives on the stack; it must not delete itself when the referrer goes.
    original.SetAutoDelete(false);
}

}  // namespace
