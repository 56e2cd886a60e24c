#include "gizmo/world_step.h"

#include "core/matrix3.h"
#include "core/vec3.h"
#include "geometry/part_record.h"
#include "geometry/part_render_record.h"
#include "geometry/primitive_record.h"
#include "geometry/scene_geometry.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/physics_part.h"
#include "gizmo/physics_test_support.h"
#include "gizmo/slider_guide.h"
#include "gizmo/world_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using world_test::FrameTime;
using world_test::TestWorld;

Vec3 BoundCentre(const SceneGeometry& geometry, std::int32_t part) {
    return geometry.Part(part)->boundCentre;
}

// Moving a part by its object: the built shape, the live record and the octree follow.
TEST(UpdateObjectParts, PlacesTheBuiltPartTheRecordAndTheOctree) {
    TestWorld t;
    GizmoObject& ball = t.AddBall(Vec3{0, 0, 0}, 0.5);
    t.Start();
    const std::int32_t part = ball.partIds[0];
    ball.position = Vec3{3.25, -1.5, 7.0};
    UpdateObjectParts(t.world, ball);

    const Vec3 centre = BoundCentre(t.geometry, part);
    EXPECT_NEAR(centre.x, 3.25, 1e-12);
    EXPECT_NEAR(centre.y, -1.5, 1e-12);
    EXPECT_NEAR(centre.z, 7.0, 1e-12);
    const Vec3 stored = PartRecordPosition(ball.partPairs[0].live.get());
    EXPECT_EQ(stored.x, 3.25);
    EXPECT_EQ(stored.y, -1.5);
    EXPECT_EQ(stored.z, 7.0);
    // The rest copy stays where it was made.
    EXPECT_EQ(PartRecordPosition(ball.partPairs[0].rest.get()).x, 0.0);

    const std::span<const std::int32_t> found =
        t.geometry.QueryOctree(GridBox{3200, 3400, -1600, -1400, 7100, 7300});
    EXPECT_NE(std::find(found.begin(), found.end(), part), found.end());
    const std::span<const std::int32_t> old =
        t.geometry.QueryOctree(GridBox{-100, 100, -100, 100, -100, 100});
    EXPECT_EQ(std::find(old.begin(), old.end(), part), old.end());
}

// Balls falling through free space: each is a cluster of its own, and a frame without a
// contact costs one test per cluster and commits every ball at the frame's end, where the
// closed form puts it. A world with no flyer still runs its one cluster, for the flippers.
TEST(StepWorld, AFrameWithoutContactsRunsOneTestPerCluster) {
    for (const int balls : {0, 1, 3}) {
        SCOPED_TRACE(balls);
        TestWorld t;
        std::vector<GizmoObject*> flyers;
        for (int i = 0; i < balls; ++i) {
            flyers.push_back(&t.AddBall(Vec3{4.0 * i, 10.0, 0}, 0.5));
            flyers.back()->flyer.committedVelocity = Vec3{1.0, 2.0, -0.5};
        }
        t.Start();
        const WorldStepCounts counts = t.Step();
        EXPECT_EQ(counts.contactTests, std::max(balls, 1));
        EXPECT_EQ(counts.outerPasses, 1);
        EXPECT_EQ(t.world.frameNumber, 1);
        for (int i = 0; i < balls; ++i) {
            const FlyerTail& f = flyers[static_cast<std::size_t>(i)]->flyer;
            EXPECT_NEAR(f.committedPosition.x, 4.0 * i + FrameTime, 1e-12);
            EXPECT_NEAR(f.committedPosition.y, 10.0 + 2.0 * FrameTime - 5.0 * FrameTime * FrameTime,
                        1e-12);
            EXPECT_NEAR(f.committedVelocity.y, 2.0 - 10.0 * FrameTime, 1e-12);
            EXPECT_EQ(f.cluster, i);
        }
    }
}

// A ball dropped onto a floor with no loss and no friction bounces back to the height it fell
// from, bounce after bounce: each contact is resolved at the last free sub-step and the flight
// between is in closed form.
TEST(StepWorld, ElasticBallKeepsItsApexOverAHundredBounces) {
    TestWorld t;
    t.AddBox(Vec3{0, -0.5, 0}, Vec3{20, 1, 20});
    const double start = 3.0;
    GizmoObject& ball = t.AddBall(Vec3{0, start, 0}, 0.5);
    t.Start();

    int bounces = 0;
    double apex = start;
    double previousVy = 0.0;
    double lowest = start;
    for (int frame = 0; frame < 6000 && bounces < 100; ++frame) {
        t.Step();
        const FlyerTail& f = ball.flyer;
        apex = std::max(apex, f.committedPosition.y);
        lowest = std::min(lowest, f.committedPosition.y);
        if (previousVy > 0.0 && f.committedVelocity.y <= 0.0) {
            // Past the top: the apex of the flight that just ended, within what one frame's
            // sampling of the parabola misses (g dt^2 / 8 at most).
            SCOPED_TRACE(bounces);
            EXPECT_NEAR(apex, start, 10.0 * FrameTime * FrameTime / 8.0 + 1e-6);
            ++bounces;
            apex = f.committedPosition.y;
        }
        previousVy = f.committedVelocity.y;
    }
    EXPECT_EQ(bounces, 100);
    // The ball never sinks into the floor by more than one sub-step's fall.
    EXPECT_GT(lowest, 0.5 - 8.0 * FrameTime / 256.0);
    EXPECT_NEAR(ball.flyer.committedPosition.x, 0.0, 1e-9);
    EXPECT_NEAR(ball.flyer.committedPosition.z, 0.0, 1e-9);
}

// A flyer that leaves the stage, below the floor or too fast, is back at its start after the
// frame, at its start velocity and without spin; so is one whose state is not a number, which
// would otherwise never come back.
TEST(StepWorld, FlyerLeavingTheStageReturnsToItsStart) {
    const struct Case {
        const char* name;
        Vec3 position;
        Vec3 velocity;
    } cases[] = {
        {"below the floor", Vec3{1.0, -4.99, 2.0}, Vec3{0, -3.0, 0}},
        {"too fast", Vec3{0, 10, 0}, Vec3{600.0, 0, 0}},
        {"not a number", Vec3{0, 10, 0}, Vec3{std::nan(""), 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestWorld t;
        GizmoObject& ball = t.AddBall(Vec3{2.0, 4.0, -1.0}, 0.5);
        ball.flyer.startVelocity = Vec3{0.5, 0, 0};
        t.Start();
        ball.flyer.committedPosition = c.position;
        ball.flyer.committedVelocity = c.velocity;
        ball.flyer.angularMomentum = 3.0;
        t.Step();
        const FlyerTail& f = ball.flyer;
        EXPECT_EQ(f.angularMomentum, 0.0);
        // Reset at the frame's end, or earlier and then moved on through the rest of it.
        EXPECT_NEAR(f.committedPosition.x, 2.0, 0.5 * FrameTime + 1e-12);
        EXPECT_NEAR(f.committedPosition.y, 4.0, 5.0 * FrameTime * FrameTime + 1e-12);
        EXPECT_NEAR(f.committedPosition.z, -1.0, 1e-12);
        EXPECT_NEAR(f.committedVelocity.x, 0.5, 1e-12);
    }
}

// Two balls rolling at each other without gravity start in clusters of their own, in which
// neither sees the other; the frame in which they meet merges them, steps them again from the
// frame's start together, and the elastic contact swaps their velocities.
TEST(StepWorld, FlyersThatMeetAreSteppedAgainAsOneCluster) {
    TestWorld t;
    t.world.gravity = 0.0;
    GizmoObject& a = t.AddBall(Vec3{-1.0, 5.0, 0}, 0.5);
    GizmoObject& b = t.AddBall(Vec3{1.03, 5.0, 0}, 0.5);
    a.flyer.committedVelocity = Vec3{3.0, 0, 0};
    b.flyer.committedVelocity = Vec3{-3.0, 0, 0};
    t.Start();
    bool merged = false;
    for (int frame = 0; frame < 20; ++frame) {
        const WorldStepCounts counts = t.Step();
        if (counts.outerPasses > 1) {
            merged = true;
            EXPECT_EQ(a.flyer.cluster, b.flyer.cluster);
        }
        const double gap = b.flyer.committedPosition.x - a.flyer.committedPosition.x;
        EXPECT_GT(gap, 1.0 - 6.0 * FrameTime / 256.0) << "frame " << frame;
    }
    EXPECT_TRUE(merged);
    EXPECT_NEAR(a.flyer.committedVelocity.x, -3.0, 1e-6);
    EXPECT_NEAR(b.flyer.committedVelocity.x, 3.0, 1e-6);
    EXPECT_NEAR(a.flyer.committedVelocity.x + b.flyer.committedVelocity.x, 0.0, 1e-9);
}

// The poses of a few balls that bounce off a floor and each other, frame by frame, as the
// bits of their doubles.
std::string PoseDump(int frames) {
    TestWorld t;
    t.AddBox(Vec3{0, -0.5, 0}, Vec3{20, 1, 20}, 0.2, 0.3);
    std::vector<GizmoObject*> balls;
    for (int i = 0; i < 4; ++i) {
        balls.push_back(&t.AddBall(Vec3{0.3 * i, 1.0 + 1.1 * i, 0.2 * i}, 0.5, 0.1, 0.2));
        balls.back()->flyer.committedVelocity = Vec3{0.5 - 0.3 * i, 0.0, 0.1 * i};
    }
    t.Start();
    std::string dump;
    const auto put = [&dump](double v) {
        char text[24];
        const auto end =
            std::to_chars(text, text + sizeof text, std::bit_cast<std::uint64_t>(v), 16).ptr;
        dump.append(text, end);
        dump.push_back(' ');
    };
    for (int frame = 0; frame < frames; ++frame) {
        t.Step();
        for (const GizmoObject* ball : balls) {
            const FlyerTail& f = ball->flyer;
            for (const Vec3& v : {f.committedPosition, f.committedVelocity, f.committedAngles}) {
                put(v.x);
                put(v.y);
                put(v.z);
            }
            put(f.angularMomentum);
        }
        dump.push_back('\n');
    }
    return dump;
}

TEST(StepWorld, TwoRunsGiveTheSamePoses) {
    const std::string first = PoseDump(150);
    const std::string second = PoseDump(150);
    EXPECT_EQ(first, second);
    EXPECT_GT(first.size(), 150u * 4u * 10u);
}

// A flyer that touches a part whose collision bits it resets on is back at its start when the
// frame ends, rather than bouncing off the part.
TEST(StepWorld, CollisionResetBitsSendTheFlyerBack) {
    TestWorld t;
    t.AddBox(Vec3{0, -0.5, 0}, Vec3{20, 1, 20}, 0.0, 0.0, 0x6);
    GizmoObject& ball = t.AddBall(Vec3{0, 1.0, 0}, 0.5);
    ball.flyer.collisResetBits = 0x2;
    t.Start();
    int resets = 0;
    for (int frame = 0; frame < 30; ++frame) {
        t.Step();
        EXPECT_LE(ball.flyer.committedVelocity.y, 0.0) << "frame " << frame;
        EXPECT_GT(ball.flyer.committedPosition.y, 0.5 - 1e-3) << "frame " << frame;
        if (ball.flyer.committedPosition.y == 1.0 && ball.flyer.committedVelocity.y == 0.0) {
            ++resets;
        }
    }
    // It falls 0.5 in about 0.32 s, nine or ten frames, and is sent back each time.
    EXPECT_GE(resets, 2);
}

// A reset flyer whose start place is taken re-enters above the stage centre at dropY and rises
// by 0.1 until nothing touches it.
TEST(ResetObject, FlyerWhoseStartIsTakenRisesFromTheDropHeight) {
    TestWorld t;
    t.world.stageCentre = Vec3{2.0, 0.0, -3.0};
    GizmoObject& ball = t.AddBall(Vec3{8.0, 1.0, 0}, 0.5);
    t.AddBox(Vec3{8.0, 1.0, 0}, Vec3{1, 1, 1});            // over its start
    t.AddBox(Vec3{2.0, 20.0, -3.0}, Vec3{0.5, 0.5, 0.5});  // top at dropY + 0.25
    t.Start();
    ball.flyer.committedVelocity = Vec3{1, 1, 1};
    ResetObject(ball, t.world);
    EXPECT_EQ(ball.flyer.committedPosition.x, 2.0);
    EXPECT_EQ(ball.flyer.committedPosition.z, -3.0);
    EXPECT_NEAR(ball.flyer.committedPosition.y, 20.8, 1e-9);
    EXPECT_EQ(ball.flyer.committedVelocity.y, 0.0);
    EXPECT_FALSE(ObjectOverlaps(t.world, ball));
}

// A flyer stuck inside a solid that also covers its start and its drop place stalls on every
// search and every reset puts it back inside; the frame still ends, and so do the next ones.
// The drop gives up 100 above dropY, where the flyer then stands.
TEST(StepWorld, AFlyerInsideASolidStillLetsTheFrameEnd) {
    TestWorld t;
    t.AddBox(Vec3{0, 50.0, 0}, Vec3{10, 200, 10});
    GizmoObject& ball = t.AddBall(Vec3{0, 1.0, 0}, 0.5);
    t.Start();
    for (int frame = 0; frame < 3; ++frame) {
        const WorldStepCounts counts = t.Step();
        // A few hundred stalls of at most nine tests each.
        EXPECT_GT(counts.contactTests, 100);
        EXPECT_LT(counts.contactTests, 3000);
        EXPECT_NEAR(ball.flyer.committedPosition.y, 120.0, 1e-9);
        EXPECT_NEAR(BoundCentre(t.geometry, ball.partIds[0]).y, 120.0, 1e-9);
    }
    EXPECT_EQ(t.world.frameNumber, 3);
}

// A flipper whose motion runs without a trigger moves through every frame, the committed clock
// following the frames; a reset puts it back at its first pose.
TEST(StepWorld, FreeRunningFlipperFollowsTheFrames) {
    TestWorld t;
    GizmoObject& flipper = t.AddFlipper(Vec3{1, 0.2, 1}, Vec3{0, 2, 0}, Vec3{3, 2, 0});
    flipper.flipper.goTime = 1.0;
    flipper.flipper.returnTime = 1.0;
    flipper.flipper.forAndBack = 1;
    t.Start();
    const std::int32_t part = flipper.partIds[0];
    for (int frame = 1; frame <= 15; ++frame) {
        t.Step();
        EXPECT_NEAR(flipper.flipper.motionClock, frame * FrameTime, 1e-12);
        EXPECT_NEAR(BoundCentre(t.geometry, part).x, 3.0 * frame * FrameTime, 1e-9);
    }
    ResetObject(flipper, t.world);
    EXPECT_EQ(flipper.flipper.motionClock, 0.0);
    EXPECT_NEAR(BoundCentre(t.geometry, part).x, 0.0, 1e-12);
    EXPECT_EQ(flipper.inMotion, 1);  // it has no trigger, so it keeps running
}

// A ball falling onto a resting, collision-triggered flipper starts it within the frame of the
// hit, at the hit's time: its clock after that frame is what is left of the frame.
TEST(StepWorld, AHitStartsATriggeredFlipperAtTheHitsTime) {
    TestWorld t;
    GizmoObject& flipper = t.AddFlipper(Vec3{4, 0.5, 4}, Vec3{0, 0, 0}, Vec3{0, -2, 0});
    flipper.flipper.collisionActivated = 1;
    flipper.flipper.activated = 1;
    flipper.flipper.goTime = 10.0;
    GizmoObject& ball = t.AddBall(Vec3{0, 2.0, 0}, 0.5);
    t.Start(false);
    ASSERT_EQ(flipper.inMotion, 0);

    int frame = 0;
    for (; frame < 60 && flipper.inMotion == 0; ++frame) t.Step();
    ASSERT_EQ(flipper.inMotion, 1);
    const double clock = flipper.flipper.motionClock;
    EXPECT_GT(clock, 0.0);
    EXPECT_LE(clock, FrameTime);
    // The ball met the flipper's top (y = 0.25) at 0.5 above it: the closed-form time of the
    // fall from 2.0 to 0.75 lies in the hit frame, at the frame's end less the clock.
    const double fallTime = std::sqrt(2.0 * 1.25 / 10.0);
    EXPECT_NEAR(frame * FrameTime - clock, fallTime, 2.0 * FrameTime / 256.0);
    EXPECT_GE(ball.flyer.lastContactStamp, (frame - 1) * SubStepsPerFrame);
}

}  // namespace

// A dragged slider is moved to the frame's end target by every test of the frame; a reset
// returns it to its start guide point and stops it.
TEST(StepWorld, SliderFollowsItsTargetsAndResetsToItsStart) {
    TestWorld t;
    const physics_test::TestSolid guide =
        physics_test::Cylinder(Vec3{}, 2.0, 0.5, Matrix3SetDiagonal(1.0));
    const Vec3 above{1.0, 1.0, 0.5};
    t.fixedRecords.push_back(NewPrimitive3(false, 0.2, 0.1, 0.3, 0, 0, above, {}));
    GizmoObject& slider = t.Adopt(NewSliderObject());
    AddObjectPart(slider, t.NewPart(t.fixedRecords.back().get()), t.fixedRecords.back().get());
    PhysicsPart control;
    control.localFromWorld = physics_test::FrameFromWorld(Matrix3SetDiagonal(1.0), above);
    control.position = above;
    ASSERT_EQ(SetUpSlider(slider, control, physics_test::PartOf(guide), false, 1, 0),
              SliderSetUpDone);
    t.Start();
    const std::int32_t part = slider.partIds[0];

    const GuideCoordinates start = GuideCoordinatesOf(slider);
    slider.slider.startTarget = start;
    slider.slider.endTarget = GuideCoordinates{start.u1 + 0.3, start.u2 - 0.2};
    t.Step();
    SetGuideCoordinates(slider, start.u1 + 0.3, start.u2 - 0.2, 0.0, 0.0);
    PlaceSlider(slider);
    const Vec3 end = slider.position;
    EXPECT_GT(Vec3Length(Vec3Sub(end, above)), 0.1);
    EXPECT_NEAR(Vec3Length(Vec3Sub(BoundCentre(t.geometry, part), end)), 0.0, 1e-9);

    ResetObject(slider, t.world);
    EXPECT_EQ(slider.inMotion, 0);
    EXPECT_NEAR(Vec3Length(Vec3Sub(slider.position, above)), 0.0, 1e-9);
    EXPECT_NEAR(Vec3Length(Vec3Sub(BoundCentre(t.geometry, part), above)), 0.0, 1e-9);
    EXPECT_TRUE(t.movingParts.empty());
}

// A triggered one-way flipper resting at its second pose goes back to its first on a reset,
// and stays there at rest.
TEST(ResetObject, FlipperRestingAtItsEndReturnsToItsFirstPose) {
    TestWorld t;
    GizmoObject& flipper = t.AddFlipper(Vec3{1, 0.2, 1}, Vec3{0, 2, 0}, Vec3{3, 2, 0});
    flipper.flipper.activated = 1;
    flipper.flipper.keyBits = 1;
    t.Start(false);
    const std::int32_t part = flipper.partIds[0];
    flipper.flipper.motionClock = RestingAtEndClock;
    flipper.position = Vec3{3, 2, 0};
    UpdateObjectParts(t.world, flipper);
    ASSERT_NEAR(BoundCentre(t.geometry, part).x, 3.0, 1e-12);

    ResetObject(flipper, t.world);
    EXPECT_EQ(flipper.inMotion, 0);
    EXPECT_EQ(flipper.flipper.motionClock, 0.0);
    EXPECT_NEAR(BoundCentre(t.geometry, part).x, 0.0, 1e-12);
    EXPECT_TRUE(t.movingParts.empty());
    // At rest at its first pose a reset changes nothing.
    ResetObject(flipper, t.world);
    EXPECT_EQ(flipper.inMotion, 0);
    EXPECT_NEAR(BoundCentre(t.geometry, part).x, 0.0, 1e-12);
}

// The hit events a frame leaves for the shell are those of its own hits: the bounce's sound,
// stamped within the frame, and none in a frame without a hit.
TEST(StepWorld, HitEventsBelongToTheFrameOfTheirHit) {
    TestWorld t;
    t.AddBox(Vec3{0, -0.5, 0}, Vec3{20, 1, 20});
    GizmoObject& ball = t.AddBall(Vec3{0, 3.0, 0}, 0.5);
    ball.sound = 2;
    t.Start();
    int hits = 0;
    double previousVy = 0.0;
    // Hits about 0.71 s in and every 1.41 s after.
    for (int frame = 0; frame < 80; ++frame) {
        SCOPED_TRACE(frame);
        t.Step();
        const GizmoWorld& w = t.world;
        const bool hit = previousVy < 0.0 && ball.flyer.committedVelocity.y > 0.0;
        previousVy = ball.flyer.committedVelocity.y;
        if (!hit) {
            EXPECT_EQ(w.eventLast, -1);
            EXPECT_EQ(w.eventCount, 0);
            continue;
        }
        ++hits;
        ASSERT_GE(w.eventLast, 0);
        const HitEvent& event = w.events[static_cast<std::size_t>(w.eventLast)];
        EXPECT_EQ(event.sound, 2);
        EXPECT_GE(event.stamp, frame * SubStepsPerFrame);
        EXPECT_LT(event.stamp, (frame + 1) * SubStepsPerFrame);
        EXPECT_GT(event.gain, 0.0);
    }
    EXPECT_GE(hits, 2);
}

// A lossy ball dropped on the floor settles there and stays: its small hops at the end never
// count as a stall long enough to send it back to its start.
TEST(StepWorld, LossyBallSettlesOnTheFloor) {
    TestWorld t;
    t.AddBox(Vec3{0, -0.5, 0}, Vec3{20, 1, 20}, 0.5, 0.3);
    GizmoObject& ball = t.AddBall(Vec3{0, 1.0, 0}, 0.5, 0.5, 0.3);
    t.Start();
    for (int frame = 0; frame < 300; ++frame) t.Step();
    const double settled = ball.flyer.committedPosition.y;
    EXPECT_NEAR(settled, 0.5, 0.01);
    for (int frame = 0; frame < 300; ++frame) {
        t.Step();
        SCOPED_TRACE(frame);
        ASSERT_NEAR(ball.flyer.committedPosition.y, 0.5, 0.01);
    }
}
