#include "gizmo/frame_step.h"

#include "geometry/part_record.h"
#include "gizmo/game_input.h"
#include "gizmo/game_test_support.h"
#include "render/q_render.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

class FramePlay : public ScriptedGizmoTest {};

TEST(FrameStep, DoesNothingWithoutAGizmo) {
    GizmoScene scene;
    FrameStep(scene);
    EXPECT_EQ(scene.frameStamp, 0u);
}

TEST_F(FramePlay, KeyOneBringsTheFlipperToItsSecondPoseAfterItsGoTime) {
    const std::uint8_t* firstPose = scene.partTable[3];
    const std::uint8_t* secondPose = scene.partTable[4];
    ASSERT_EQ(scene.paused, 1);
    ExpectPose(Paddle(), firstPose);
    OnGameKey(scene, VirtualKeyDigit1);
    EXPECT_EQ(scene.paused, 0);  // a trigger resumes the game
    // 0.25 s of going: seven frames of 1/30 s are not enough, the eighth arrives.
    Frames(7);
    EXPECT_GT(std::fabs(PartRecordRotation(Paddle().partPairs[0].live.get()).z -
                        PartRecordRotation(secondPose).z),
              1e-3);
    Frames(1);
    ExpectPose(Paddle(), secondPose);
    EXPECT_EQ(Paddle().inMotion, 0);  // one way: it rests there
    EXPECT_EQ(window.presents, 8);
    EXPECT_EQ(window.overlays, 8);
    EXPECT_EQ(window.presentedAt.x, scene.windowRect.left);
}

TEST_F(FramePlay, PlayedFramesShowEveryDrawnPart) {
    // The stage, the ball, the target and the paddle, each where its part stands.
    const auto shown = [&] {
        std::vector<std::int32_t> pixels(5, 0);
        const QRenderView& view = *scene.view;
        const SampleCell* cells = view.SampleBuffer(0);
        const RenderLevel& level = view.Level();
        for (std::int32_t y = 0; y < level.height; ++y) {
            for (std::int32_t x = 0; x < level.width; ++x) {
                const std::int32_t part =
                    PixelPartIndex(cells[static_cast<std::size_t>(y + 1) *
                                             static_cast<std::size_t>(level.cellStride) +
                                         static_cast<std::size_t>(x + 1)]
                                       .pixel);
                if (part >= 0 && part < 5) ++pixels[static_cast<std::size_t>(part)];
            }
        }
        return pixels;
    };
    std::vector<std::int32_t> pixels = shown();
    for (std::size_t part = 0; part < 4; ++part) EXPECT_GT(pixels[part], 100) << part;
    EXPECT_EQ(pixels[4], 0);  // the paddle's second pose is not drawn
    OnGameKey(scene, VirtualKeyDigit1);
    Frames(8);
    pixels = shown();
    for (std::size_t part = 0; part < 4; ++part) EXPECT_GT(pixels[part], 100) << part;
}

TEST_F(FramePlay, EnterResetsEveryObject) {
    const Vec3 ballStart = Ball().position;
    OnGameKey(scene, VirtualKeyDigit1);
    Frames(10);
    EXPECT_NE(Ball().position.y, ballStart.y);  // it fell
    OnGameKey(scene, VirtualKeyEnter);
    ExpectPose(Paddle(), scene.partTable[3]);
    EXPECT_EQ(Ball().position.y, ballStart.y);
    EXPECT_EQ(scene.paused, 0);
}

TEST_F(FramePlay, EnterWhilePausedShowsTheResetOnceWithoutResuming) {
    OnGameKey(scene, VirtualKeyDigit1);
    Frames(10);
    OnGameKey(scene, VirtualKeySpace);
    const std::int32_t presents = window.presents;
    OnGameKey(scene, VirtualKeyEnter);
    ExpectPose(Paddle(), scene.partTable[3]);
    Frames(3);
    EXPECT_EQ(window.presents, presents + 1);
    EXPECT_EQ(scene.paused, 1);
}

TEST_F(FramePlay, SpaceFreezesThePosesAndResumesThem) {
    OnGameKey(scene, VirtualKeyDigit1);
    Frames(3);
    OnGameKey(scene, VirtualKeySpace);
    const Vec3 ball = Ball().position;
    const double paddle = PartRecordRotation(Paddle().partPairs[0].live.get()).z;
    const std::int32_t frame = scene.world->frameNumber;
    const std::int32_t presents = window.presents;
    const std::uint32_t stamp = scene.frameStamp;
    Frames(5);
    EXPECT_EQ(Ball().position.y, ball.y);
    EXPECT_EQ(PartRecordRotation(Paddle().partPairs[0].live.get()).z, paddle);
    EXPECT_EQ(scene.world->frameNumber, frame);
    EXPECT_EQ(window.presents, presents);
    EXPECT_EQ(scene.frameStamp, stamp);  // stamps advance only with the simulation
    OnGameKey(scene, VirtualKeySpace);
    Frames(1);
    EXPECT_EQ(scene.world->frameNumber, frame + 1);
    EXPECT_NE(Ball().position.y, ball.y);
}

TEST_F(FramePlay, AHeldPressLetsGoOfTheShortPressAfter300Milliseconds) {
    struct Case {
        std::uint32_t pressStamp;
        std::uint32_t held;
        bool buttonDown;
        std::uint8_t stillHeld;
    };
    const Case cases[] = {
        {100'000, 300, true, 1},     {100'000, 301, true, 0},
        {100'000, 5'000, false, 1},   // released early: the slider keeps following the cursor
        {0xFFFFFF00u, 301, true, 0},  // across the clock's wrap
        {0xFFFFFF00u, 300, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.held);
        scene.mouseHold = 1;
        scene.pressStamp = c.pressStamp;
        clock.Set(c.pressStamp + c.held);
        if (c.buttonDown) {
            input.HoldKey(VirtualKeyLeftButton);
        } else {
            input.ReleaseKey(VirtualKeyLeftButton);
        }
        FrameStep(scene);
        EXPECT_EQ(scene.mouseHold, c.stillHeld);
    }
}

TEST_F(FramePlay, AWindowDragMovesTheWindowByTheCursorsOffsetWithoutRendering) {
    OnGameKey(scene, VirtualKeySpace);  // playing: a frame would otherwise step and render
    const ScreenRect start = scene.windowRect;
    const std::vector<std::uint32_t> frame = scene.viewBits;
    const std::int32_t worldFrame = scene.world->frameNumber;
    const ScreenPoint press{start.left + 1, start.top + 1};
    cursor.MoveTo(press.x, press.y);
    input.HoldKey(VirtualKeyLeftButton);
    OnGizmoPress(scene, press);
    ASSERT_EQ(scene.windowDrag, 1);
    EXPECT_EQ(scene.manipulation, 0);

    cursor.MoveTo(press.x + 37, press.y - 12);
    Frames(1);
    const ScreenRect moved{start.left + 37, start.top - 12, start.right + 37, start.bottom - 12};
    EXPECT_EQ(scene.windowRect.left, moved.left);
    EXPECT_EQ(scene.windowRect.top, moved.top);
    EXPECT_EQ(scene.windowRect.right, moved.right);
    EXPECT_EQ(scene.windowRect.bottom, moved.bottom);
    ASSERT_EQ(window.moves.size(), 1u);
    EXPECT_EQ(window.moves[0].left, moved.left);
    EXPECT_EQ(window.moves[0].bottom, moved.bottom);
    EXPECT_EQ(scene.windowOrigin[0], moved.left + scene.view->centreX);
    EXPECT_EQ(window.presents, 0);
    EXPECT_EQ(scene.world->frameNumber, worldFrame);
    EXPECT_EQ(scene.viewBits, frame);

    Frames(2);  // an unchanged cursor does nothing at all
    EXPECT_EQ(window.moves.size(), 1u);

    input.ReleaseKey(VirtualKeyLeftButton);
    OnGizmoRelease(scene);
    Frames(1);
    EXPECT_EQ(scene.world->frameNumber, worldFrame + 1);
    EXPECT_EQ(window.presentedAt.x, moved.left);
}

}  // namespace
