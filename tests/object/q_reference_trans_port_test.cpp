#include "object/q_reference_trans_port.h"

#include "model/model_test_objects.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using model_test::HeardLog;
using model_test::Recorder;

TEST(QReferenceTransPort, ForgetsATargetThatAnnouncesItsDestruction) {
    auto target = std::make_unique<Recorder>("target", nullptr);
    QReferenceTransPort port(target.get());
    EXPECT_EQ(port.Target(), target.get());
    EXPECT_TRUE(port.IsRegisteredOn(target.get(), 0));

    target.reset();

    EXPECT_EQ(port.Target(), nullptr);
}

TEST(QReferenceTransPort, ForgetsAPlainTargetThatDiesSilently) {
    auto target = std::make_unique<QReferenceObject>();
    auto port = std::make_unique<QReferenceTransPort>(target.get());
    target.reset();
    EXPECT_EQ(port->Target(), nullptr);
    port.reset();  // must not touch the freed target
}

TEST(QReferenceTransPort, DestructionUnregistersAndAnnouncesMessageZero) {
    HeardLog log;
    Recorder target("target", nullptr);
    Recorder watcher("watcher", &log);
    auto port = std::make_unique<QReferenceTransPort>(&target);
    QReferenceObject::AddReference(port.get(), &watcher, 0);
    const QReferenceObject* address = port.get();

    port.reset();

    EXPECT_EQ(target.FindReferrerByType(TypeIdPlain, 0), nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, MessageDestroyed);
    EXPECT_EQ(log[0].sender, address);
}

TEST(QReferenceTransPort, PayloadOfABroadcastIsDeletedAfterDeliveryAndReleasesItsTarget) {
    HeardLog log;
    Recorder list("list", nullptr, TypeIdTextureList);
    Recorder referrer("referrer", &log);
    QReferenceObject::AddReference(&list, &referrer, 0);
    bool memberDestroyed = false;
    auto* member = new Recorder("member", nullptr, TypeIdTexture, &memberDestroyed);
    member->SetAutoDelete(true);
    const QReferenceObject* seenTarget = nullptr;
    referrer.onMessage = [&](std::int32_t, QReferenceObject*) {
        const auto* port = dynamic_cast<const QReferenceTransPort*>(log.back().payload);
        ASSERT_NE(port, nullptr);
        seenTarget = port->Target();
        EXPECT_FALSE(memberDestroyed);
    };

    QReferenceObject::Broadcast(&list, MessageChanged, 1,
                                std::make_unique<QReferenceTransPort>(member));

    EXPECT_EQ(seenTarget, member);
    // The port was the member's only referrer: deleting the payload released the member.
    EXPECT_TRUE(memberDestroyed);
}

}  // namespace
