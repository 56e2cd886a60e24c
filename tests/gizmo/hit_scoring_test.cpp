#include "gizmo/hit_scoring.h"

#include "geometry/primitive_record.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_part_fields.h"
#include "gizmo/gizmo_world.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class FixedBounds : public PartBounds {
public:
    double BoundingRadius(std::int32_t partIndex) const override {
        return partIndex >= 0 && partIndex < 10 ? radii[static_cast<std::size_t>(partIndex)] : 0.0;
    }
    double radii[10] = {0.5, 1.0, 1.0, 2.0, 0.25, 1.0, 1.0, 1.0, 8.0, 3.0};
};

// A world of ten parts: part 0 is the flyer's, parts 1 and 2 two targets, part 3 a
// collision-triggered flipper, part 9 a part of no object.
struct HitWorld {
    std::vector<std::int32_t> movingParts;
    std::vector<PartRecordPtr> records;
    std::vector<std::uint8_t*> table;
    GizmoWorld world{&movingParts, &table};
    FixedBounds bounds;
    GizmoObject* flyer = nullptr;
    GizmoObject* target1 = nullptr;
    GizmoObject* target2 = nullptr;
    GizmoObject* flipper = nullptr;

    HitWorld() {
        for (std::int32_t i = 0; i < 10; ++i) {
            records.push_back(NewPrimitive1(0.5, i, 0, Vec3{}, Colour{}));
            table.push_back(records.back().get());
        }
        PartRecordSetCollisionBits(records[9].get(), 0x14);
        world.gravity = -10.0;
        world.stageRadius = 5.0;
        world.fullVolumeSpeed = 6.0;
        flyer = Add(NewFlyerObject(), 0);
        flyer->flyer.mass = 1.0;
        flyer->flyer.size = 0.5;
        flyer->sound = 3;
        flyer->scoreSound = 4;
        flyer->scoreMult = 1;
        target1 = Add(NewFlipperObject(), 1);
        target1->scoreVal = 10;
        target1->scoreSound = 7;
        target2 = Add(NewFlipperObject(), 2);
        target2->scoreVal = 5;
        target2->scoreSound = 7;
        flipper = Add(NewFlipperObject(), 3);
        flipper->sound = 8;
        flipper->flipper.activated = 1;
        flipper->flipper.collisionActivated = 1;
        StartMoving(world, *flyer);
    }

    GizmoObject* Add(GizmoObject object, std::int32_t part) {
        world.objects.push_back(std::make_unique<GizmoObject>(std::move(object)));
        GizmoObject* added = world.objects.back().get();
        added->partIds.push_back(part);
        RegisterObjectParts(world, *added);
        return added;
    }

    // The flyer falls onto the part at 3 units/s.
    void Hit(GizmoObject& who, std::int32_t part, std::int32_t now) {
        FlyerTail& f = who.flyer;
        f.hitPart = part;
        f.contactOwnPart = who.partIds.empty() ? 0 : who.partIds[0];
        f.committedVelocity = Vec3{0.0, -3.0, 0.0};
        f.contact = Contact{Vec3{0.0, -0.5, 0.0}, Vec3{0.0, -1.0, 0.0}};
        who.previousPosition = Vec3{};
        ResolveHits(world, now, bounds);
    }

    // The frame's events, oldest first.
    std::vector<HitEvent> Events() const {
        std::vector<HitEvent> out;
        for (std::int32_t i = world.eventLast; i >= 0;
             i = world.events[static_cast<std::size_t>(i)].previous) {
            out.insert(out.begin(), world.events[static_cast<std::size_t>(i)]);
        }
        return out;
    }
};

TEST(HitScoring, ScoresOncePerFiveFramesOnOneTargetAndOncePerFrameOnAlternatingTargets) {
    {
        HitWorld w;
        int scores = 0;
        for (std::int32_t frame = 10; frame < 30; ++frame) {
            const std::int32_t before = w.flyer->flyer.score;
            w.Hit(*w.flyer, 1, frame * 256);
            if (w.flyer->flyer.score != before) ++scores;
        }
        EXPECT_EQ(scores, 4);
        EXPECT_EQ(w.flyer->flyer.score, 40);
    }
    {
        HitWorld w;
        int scores = 0;
        for (std::int32_t frame = 10; frame < 30; ++frame) {
            const std::int32_t before = w.flyer->flyer.score;
            w.Hit(*w.flyer, frame % 2 == 0 ? 1 : 2, frame * 256);
            if (w.flyer->flyer.score != before) ++scores;
        }
        EXPECT_EQ(scores, 20);
        // Within one frame a second target does not score.
        const std::int32_t before = w.flyer->flyer.score;
        w.Hit(*w.flyer, 1, 30 * 256);
        w.Hit(*w.flyer, 2, 30 * 256 + 100);
        EXPECT_EQ(w.flyer->flyer.score, before + 10);
    }
}

TEST(HitScoring, ScoreSoundReplacesTheBounceSound) {
    HitWorld w;
    w.Hit(*w.flyer, 1, 2560);
    std::vector<HitEvent> events = w.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sound, 7);  // the target's, its product 10 * 1 beating 0 * 0
    EXPECT_EQ(events[0].stamp, 2560);
    EXPECT_EQ(events[0].pitch, 1.0);
    EXPECT_EQ(events[0].gain, 1.0);

    // A silent score sound leaves the bounce sound to play.
    HitWorld quiet;
    quiet.target1->scoreSound = -1;
    quiet.Hit(*quiet.flyer, 1, 2560);
    events = quiet.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].sound, -1);
    EXPECT_EQ(events[1].sound, 3);
}

TEST(HitScoring, EqualProductsTakeTheHitObjectsScoreSound) {
    HitWorld w;
    w.flyer->scoreVal = 10;  // 10 * 1 both ways
    w.target1->scoreMult = 1;
    w.Hit(*w.flyer, 1, 2560);
    ASSERT_FALSE(w.Events().empty());
    EXPECT_EQ(w.Events()[0].sound, 7);
    EXPECT_EQ(w.flyer->flyer.score, 20);

    HitWorld own;
    own.flyer->scoreVal = 20;
    own.target1->scoreMult = 1;
    own.Hit(*own.flyer, 1, 2560);
    EXPECT_EQ(own.Events()[0].sound, 4);  // 20 * 1 beats 10 * 1: the flyer's own
}

TEST(HitScoring, ZeroPointsQueueNoScoreAndAllowTheBounceSound) {
    HitWorld w;
    w.target1->scoreVal = 0;
    w.Hit(*w.flyer, 1, 2560);
    const std::vector<HitEvent> events = w.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sound, 3);
    EXPECT_EQ(w.flyer->flyer.lastScoreStamp, 0);
}

TEST(HitScoring, APartOfNoObjectNeverScoresOrTriggers) {
    HitWorld w;
    w.flyer->flyer.touchedBits = 0x1;
    w.Hit(*w.flyer, 9, 2560);
    EXPECT_EQ(w.flyer->flyer.score, 0);
    EXPECT_EQ(w.world.triggeredHead, nullptr);
    EXPECT_EQ(w.flyer->flyer.touchedBits, 0x15u);
    EXPECT_EQ(w.flyer->flyer.lastHitPart, 9);
    EXPECT_EQ(w.flyer->flyer.lastContactStamp, 2560);
    EXPECT_EQ(w.flyer->flyer.hitPart, -1);
    // Its bounce sound is pitched by the part's size: 0.5 < 3, so
    // max(0.5, 1.5 - (3 - 0.5) / (5 - 0.5)); gain 3 / 6.
    const std::vector<HitEvent> events = w.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_DOUBLE_EQ(events[0].pitch, 1.5 - 2.5 / 4.5);
    EXPECT_DOUBLE_EQ(events[0].gain, 0.5);
}

TEST(HitScoring, BounceSoundPitchFollowsTheSizes) {
    struct Case {
        double flyerSize;
        std::int32_t part;  // radii: part 1 is 1.0, part 4 0.25, part 8 8.0, part 9 3.0
        double pitch;
    };
    // At least as big: 1.5; as big as the stage: 0.5; else by the size difference, at
    // least 0.5.
    const Case cases[] = {{0.5, 4, 1.5}, {1.0, 1, 1.5}, {6.0, 9, 1.5}, {0.5, 9, 1.5 - 2.5 / 4.5},
                          {5.5, 8, 0.5}, {0.1, 8, 0.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        HitWorld w;
        w.target1->scoreVal = 0;
        w.flyer->flyer.size = c.flyerSize;
        w.Hit(*w.flyer, c.part, 2560);
        ASSERT_EQ(w.Events().size(), 1u);
        EXPECT_DOUBLE_EQ(w.Events()[0].pitch, c.pitch);
    }
    // A bigger flyer hit: its sound at pitch 1.5.
    HitWorld w;
    GizmoObject* big = w.Add(NewFlyerObject(), 5);
    big->flyer.mass = 1.0;
    big->flyer.size = 2.0;
    big->sound = 11;
    w.Hit(*w.flyer, 5, 2560);
    ASSERT_EQ(w.Events().size(), 1u);
    EXPECT_EQ(w.Events()[0].sound, 11);
    EXPECT_EQ(w.Events()[0].pitch, 1.5);
}

TEST(HitScoring, CollisionActivatedFlipperIsTriggeredOnce) {
    HitWorld w;
    GizmoObject* second = w.Add(NewFlyerObject(), 6);
    second->flyer.mass = 1.0;
    StartMoving(w.world, *second);
    w.Hit(*w.flyer, 3, 3000);
    EXPECT_EQ(w.world.triggeredHead, w.flipper);
    EXPECT_EQ(w.flipper->flipper.triggerStamp, 3000);
    EXPECT_EQ(w.flyer->flyer.hasTriggered, 1);
    w.Hit(*second, 3, 2900);
    EXPECT_EQ(w.world.triggeredHead, w.flipper);
    EXPECT_EQ(w.flipper->flipper.nextTriggered, nullptr);
    EXPECT_EQ(w.flipper->flipper.triggerStamp, 2900);

    // Met again while it moves, at the stamp it was started by: its sound plays once.
    StartMoving(w.world, *w.flipper);
    const std::size_t before = w.Events().size();
    w.Hit(*w.flyer, 3, 2900);
    const std::vector<HitEvent> events = w.Events();
    ASSERT_EQ(events.size(), before + 1);
    EXPECT_EQ(events.back().sound, 8);
    EXPECT_EQ(w.flipper->eventHead, static_cast<std::int32_t>(w.world.eventLast));
    EXPECT_EQ(w.flipper->flipper.triggerStamp, NoTriggerStamp);
}

TEST(HitScoring, ScoreQueriesAndReset) {
    HitWorld w;
    EXPECT_EQ(SceneScoreOrTargetFlags(w.world, 1), 1);
    w.flyer->scoreMult = 0;
    EXPECT_EQ(SceneScoreOrTargetFlags(w.world, 1), 0);
    w.target2->scoreMult = 3;  // one object may carry both kinds
    EXPECT_EQ(SceneScoreOrTargetFlags(w.world, 1), 1);
    w.target1->scoreVal = 0;
    w.target2->scoreVal = 0;
    EXPECT_EQ(SceneScoreOrTargetFlags(w.world, 1), 0);

    GizmoObject* second = w.Add(NewFlyerObject(), 6);
    StartMoving(w.world, *second);
    w.flyer->flyer.score = 30;
    second->flyer.score = 12;
    EXPECT_EQ(SceneScoreOrTargetFlags(w.world, 0), 42);
    ResetScores(w.world);
    EXPECT_EQ(SceneScoreOrTargetFlags(w.world, 0), 0);
}

TEST(HitScoring, OnlyTheCurrentClustersFlyersAreResolved) {
    HitWorld w;
    w.flyer->flyer.cluster = 1;
    w.world.currentCluster = 0;
    w.Hit(*w.flyer, 1, 2560);
    EXPECT_EQ(w.flyer->flyer.hitPart, 1);
    EXPECT_TRUE(w.Events().empty());
}

}  // namespace
