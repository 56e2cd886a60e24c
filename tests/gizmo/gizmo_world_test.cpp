#include "gizmo/gizmo_world.h"

#include "core/colour.h"
#include "core/private_heap.h"
#include "geometry/part_record.h"
#include "geometry/primitive_record.h"
#include "gizmo/gizmo_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records what the simulation tells the renderer.
class RecordingRender : public SimulationRender {
public:
    bool ready = true;
    std::vector<std::string> calls;

    bool IsReady() const override { return ready; }
    void PartsStarted(std::span<const std::int32_t> movingParts,
                      std::span<const std::int32_t> objectParts) override {
        calls.push_back("start " + Ids(objectParts) + " of " + Ids(movingParts));
    }
    void PartsStopped(std::span<const std::int32_t> objectParts) override {
        calls.push_back("stop " + Ids(objectParts));
    }

private:
    static std::string Ids(std::span<const std::int32_t> ids) {
        std::string text;
        for (const std::int32_t id : ids) {
            if (!text.empty()) text += ',';
            text += std::to_string(id);
        }
        return text;
    }
};

struct World {
    std::vector<std::int32_t> movingParts;
    std::vector<std::uint8_t*> partTable;
    GizmoWorld world{&movingParts, &partTable};
    RecordingRender render;
    PartRecordPtr record = NewPrimitive1(1.0, 0, 0, Vec3{}, Colour{});

    World() { world.render = &render; }

    GizmoObject& Add(GizmoObject object, std::vector<std::int32_t> parts) {
        for (const std::int32_t part : parts) AddObjectPart(object, part, record.get());
        return *world.objects.emplace_back(std::make_unique<GizmoObject>(std::move(object)));
    }
};

TEST(GizmoWorld, StartsEmpty) {
    World w;
    EXPECT_EQ(w.world.objectById.size(), 1u);
    EXPECT_EQ(w.world.objectById[0], nullptr);
    EXPECT_EQ(w.world.events.size(), 16u);
    EXPECT_EQ(w.world.eventLast, -1);
    EXPECT_EQ(w.world.eventFreeHead, -1);
    EXPECT_EQ(w.world.stagePart, -1);
    EXPECT_EQ(w.world.gravity, -3.0);
    EXPECT_TRUE(w.world.moving.empty());
}

TEST(GizmoWorld, ObjectKinds) {
    const GizmoObject flipper = NewFlipperObject();
    const GizmoObject slider = NewSliderObject();
    const GizmoObject flyer = NewFlyerObject();
    EXPECT_TRUE(flipper.IsFlipper());
    EXPECT_FALSE(slider.IsFlipper());
    EXPECT_EQ(slider.isSlider, 1);
    EXPECT_EQ(flyer.isFlyer, 1);
    EXPECT_FALSE(flyer.IsFlipper());
    EXPECT_EQ(flipper.flipper.goTime, 1.0);
    EXPECT_EQ(flipper.flipper.returnTime, 1.0);
    EXPECT_EQ(flipper.flipper.triggerStamp, 0x7FFFFFFF);
    EXPECT_EQ(flipper.sound, -1);
    EXPECT_EQ(flipper.scoreSound, -1);
    EXPECT_EQ(flipper.eventHead, -1);
    EXPECT_EQ(flyer.flyer.size, 1.0);
    EXPECT_EQ(flyer.flyer.inertiaAxial, 1.0);
    EXPECT_EQ(flyer.flyer.inertiaTransverse, 1.0);
    EXPECT_EQ(flyer.flyer.hitPart, -1);
    EXPECT_EQ(flyer.orientation.m[0] + flyer.orientation.m[4] + flyer.orientation.m[8], 3.0);
}

TEST(GizmoWorld, ObjectPartsAreCopiesOfTheirRecords) {
    World w;
    PartRecordPtr record = NewPrimitive1(2.0, 9, 0, Vec3{1.0, 2.0, 3.0}, Colour{});
    GizmoObject object = NewFlipperObject();
    AddObjectPart(object, 5, record.get());
    ASSERT_EQ(object.partPairs.size(), 1u);
    EXPECT_EQ(object.partIds, (std::vector<std::int32_t>{5}));
    const std::uint64_t bytes = PartRecordBytes(record.get());
    EXPECT_EQ(std::memcmp(object.partPairs[0].rest.get(), record.get(), bytes), 0);
    EXPECT_EQ(std::memcmp(object.partPairs[0].live.get(), record.get(), bytes), 0);
    EXPECT_NE(object.partPairs[0].rest.get(), object.partPairs[0].live.get());

    // A refused copy (refused again after the heap compacts) leaves the object as it was and
    // holds nothing.
    const std::size_t blocks = PrivateHeapBlockCount();
    PrivateHeapRefuseNext(2);
    EXPECT_THROW(AddObjectPart(object, 6, record.get()), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(object.partIds.size(), 1u);
    EXPECT_EQ(object.partPairs.size(), 1u);
    EXPECT_EQ(PrivateHeapBlockCount(), blocks);
}

TEST(GizmoWorld, RegisteringPartsGrowsTheMap) {
    World w;
    GizmoObject& a = w.Add(NewFlipperObject(), {10, 2});
    RegisterObjectParts(w.world, a);
    ASSERT_EQ(w.world.objectById.size(), 13u);
    for (std::size_t id = 0; id < 13; ++id) {
        SCOPED_TRACE(id);
        EXPECT_EQ(w.world.objectById[id], id == 10 || id == 2 ? &a : nullptr);
    }
    GizmoObject& b = w.Add(NewFlyerObject(), {12, 13});
    RegisterObjectParts(w.world, b);
    EXPECT_EQ(w.world.objectById.size(), 16u);  // floor(14 * 1.2)
    EXPECT_EQ(w.world.objectById[12], &b);
    EXPECT_EQ(w.world.objectById[13], &b);
    EXPECT_EQ(CollectSimulatedParts(w.world), (std::vector<std::int32_t>{10, 2, 12, 13}));
}

TEST(GizmoWorld, StartAndStopMoving) {
    World w;
    GizmoObject& a = w.Add(NewFlipperObject(), {4, 5});
    GizmoObject& b = w.Add(NewFlipperObject(), {7});
    StartMoving(w.world, a);
    StartMoving(w.world, b);
    EXPECT_EQ(w.movingParts, (std::vector<std::int32_t>{4, 5, 7}));
    EXPECT_EQ(w.world.moving, (std::vector<GizmoObject*>{&a, &b}));
    EXPECT_EQ(a.inMotion, 1);

    a.motionDone = 1;
    StopMoving(w.world, a);
    EXPECT_EQ(w.movingParts, (std::vector<std::int32_t>{7}));
    EXPECT_EQ(w.world.moving, (std::vector<GizmoObject*>{&b}));
    EXPECT_EQ(a.inMotion, 0);
    EXPECT_EQ(a.motionDone, 0);

    // Stopping an object that is not moving only clears its flags.
    a.motionDone = 1;
    StopMoving(w.world, a);
    EXPECT_EQ(a.motionDone, 0);
    EXPECT_EQ(w.movingParts, (std::vector<std::int32_t>{7}));
    EXPECT_EQ(w.world.moving.size(), 1u);

    StopMoving(w.world, b);
    EXPECT_TRUE(w.movingParts.empty());
    EXPECT_TRUE(w.world.moving.empty());
    EXPECT_EQ(w.render.calls, (std::vector<std::string>{"start 4,5 of 4,5", "start 7 of 4,5,7",
                                                        "stop 4,5", "stop 4,5", "stop 7"}));
}

TEST(GizmoWorld, RendererHearsOnlyWhenReady) {
    World w;
    w.render.ready = false;
    GizmoObject& a = w.Add(NewFlipperObject(), {1});
    StartMoving(w.world, a);
    StopMoving(w.world, a);
    EXPECT_TRUE(w.render.calls.empty());
    w.world.render = nullptr;
    StartMoving(w.world, a);
    EXPECT_EQ(w.movingParts, (std::vector<std::int32_t>{1}));
}

TEST(GizmoWorld, StopRemovesARunOnlyWhenItFits) {
    World w;
    GizmoObject& a = w.Add(NewFlipperObject(), {3, 4, 5});
    w.movingParts = {9, 3, 4};
    w.world.moving.push_back(&a);
    StopMoving(w.world, a);
    EXPECT_EQ(w.movingParts, (std::vector<std::int32_t>{9, 3, 4}));
    EXPECT_TRUE(w.world.moving.empty());
}

// The world's event list from the newest back, as the shell plays it.
std::vector<std::int32_t> NewestFirst(const GizmoWorld& world) {
    std::vector<std::int32_t> order;
    for (std::int32_t e = world.eventLast; e >= 0; e = world.events[e].previous) {
        order.push_back(e);
        if (order.size() > world.events.size()) break;  // a loop would never end
    }
    return order;
}

std::vector<std::int32_t> OldestFirst(const GizmoWorld& world) {
    std::vector<std::int32_t> order = NewestFirst(world);
    if (order.empty()) return order;
    order.clear();
    std::int32_t e = NewestFirst(world).back();
    for (; e >= 0; e = world.events[e].next) order.push_back(e);
    return order;
}

TEST(GizmoWorld, EventsLinkPerWorldAndPerObject) {
    World w;
    GizmoObject& a = w.Add(NewFlyerObject(), {1});
    GizmoObject& b = w.Add(NewFlyerObject(), {2});
    for (int i = 0; i < 20; ++i) AllocateEvent(w.world, i % 2 == 0 ? a : b);
    EXPECT_EQ(w.world.events.size(), 32u);
    EXPECT_EQ(w.world.eventCount, 20);
    EXPECT_EQ(w.world.eventLast, 19);
    const std::vector<std::int32_t> newest = NewestFirst(w.world);
    ASSERT_EQ(newest.size(), 20u);
    EXPECT_EQ(newest.front(), 19);
    EXPECT_EQ(newest.back(), 0);
    EXPECT_EQ(OldestFirst(w.world).size(), 20u);
    std::vector<std::int32_t> ofB;
    for (std::int32_t e = b.eventHead; e >= 0; e = w.world.events[e].nextOfObject) ofB.push_back(e);
    EXPECT_EQ(ofB, (std::vector<std::int32_t>{19, 17, 15, 13, 11, 9, 7, 5, 3, 1}));
}

TEST(GizmoWorld, RollBackFreesTheFlyersEventsOfTheFrame) {
    World w;
    GizmoObject& a = w.Add(NewFlyerObject(), {1});
    GizmoObject& b = w.Add(NewFlyerObject(), {2});
    AllocateEvent(w.world, a);  // 0
    AllocateEvent(w.world, b);  // 1
    AllocateEvent(w.world, a);  // 2
    AllocateEvent(w.world, b);  // 3
    AllocateEvent(w.world, a);  // 4, the newest
    RollBack(w.world, a);
    EXPECT_EQ(a.eventHead, -1);
    EXPECT_EQ(NewestFirst(w.world), (std::vector<std::int32_t>{3, 1}));
    EXPECT_EQ(OldestFirst(w.world), (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(b.eventHead, 3);

    // The three freed events are handed out again before any new one.
    std::vector<std::int32_t> reused;
    for (int i = 0; i < 4; ++i) reused.push_back(AllocateEvent(w.world, b));
    std::sort(reused.begin(), reused.begin() + 3);
    EXPECT_EQ(reused, (std::vector<std::int32_t>{0, 2, 4, 5}));
    EXPECT_EQ(NewestFirst(w.world).size(), 6u);
    EXPECT_EQ(OldestFirst(w.world).size(), 6u);
}

TEST(GizmoWorld, FlyerStateCopies) {
    World w;
    GizmoObject& f = w.Add(NewFlyerObject(), {1});
    f.position = Vec3{1.0, 2.0, 3.0};
    f.velocity = Vec3{0.5, 0.0, 0.0};
    f.flyer.angles = Vec3{0.1, 0.2, 0.3};
    CommitState(f);
    f.flyer.angularMomentum = 4.0;
    f.flyer.momentumFrame.m[1] = 0.25;
    f.flyer.lastHitPart = 7;
    f.flyer.lastContactStamp = 300;
    f.flyer.lastScoreStamp = 200;
    f.flyer.score = 12;
    TakeSnapshot(f);

    // The frame goes on: the flyer moves, hits and scores, and the frame is searched again.
    f.position = Vec3{9.0, 9.0, 9.0};
    f.flyer.angles = Vec3{};
    CommitState(f);
    f.flyer.angularMomentum = 1.0;
    f.flyer.momentumFrame = Matrix3SetDiagonal(1.0);
    f.flyer.lastHitPart = 3;
    f.flyer.lastContactStamp = 400;
    f.flyer.lastScoreStamp = 400;
    f.flyer.score = 20;
    f.flyer.hasTriggered = 1;
    RollBack(w.world, f);
    RestoreState(f);
    EXPECT_EQ(f.position.x, 1.0);
    EXPECT_EQ(f.velocity.x, 0.5);
    EXPECT_EQ(f.flyer.angles.z, 0.3);
    EXPECT_EQ(f.flyer.angularMomentum, 4.0);
    EXPECT_EQ(f.flyer.momentumFrame.m[1], 0.25);
    EXPECT_EQ(f.flyer.lastHitPart, 7);
    EXPECT_EQ(f.flyer.lastContactStamp, 300);
    EXPECT_EQ(f.flyer.lastScoreStamp, 200);
    EXPECT_EQ(f.flyer.score, 12);
    EXPECT_EQ(f.flyer.hasTriggered, 0);
}

TEST(GizmoWorld, FreeWorldLetsGoOfEverything) {
    World w;
    const std::size_t blocks = PrivateHeapBlockCount();
    GizmoObject& a = w.Add(NewFlipperObject(), {0, 1});
    RegisterObjectParts(w.world, a);
    StartMoving(w.world, a);
    AllocateEvent(w.world, a);
    EXPECT_EQ(PrivateHeapBlockCount(), blocks + 4);
    FreeWorld(w.world);
    EXPECT_EQ(PrivateHeapBlockCount(), blocks);
    EXPECT_TRUE(w.world.objects.empty());
    EXPECT_TRUE(w.world.moving.empty());
    EXPECT_TRUE(w.world.objectById.empty());
    EXPECT_EQ(w.world.eventLast, -1);
}

}  // namespace
