#pragma once

// The flipper table loaded for the game's tests, with the clock, the keys, the cursor and the
// player's window scripted: a ball (object 0) over a round stage and a paddle (object 1) that
// key "1" swings from its first pose (part 3) to its second (part 4) in 0.25 s.

#include "geometry/part_record.h"
#include "gizmo/frame_step.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/gizmo_window.h"
#include "gizmo/gizmo_world.h"
#include "platform/cursor_position.h"
#include "platform/scripted_clock.h"
#include "platform/scripted_input_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const std::string FixturePath = std::string(ORBELLE_TEST_DATA_DIR) + "/flipper_table.kvr";

// Milliseconds between frames at the default step time.
constexpr std::uint32_t FramePeriod = 33;

// What the frame step hands the player's window.
class RecordingWindow final : public GizmoWindow {
public:
    std::vector<ScreenRect> moves;
    std::int32_t overlays = 0;
    std::int32_t presents = 0;
    ScreenPoint presentedAt;

    void MoveWindow(const ScreenRect& rect) override { moves.push_back(rect); }
    void DrawScoreOverlay(std::uint32_t*, std::int32_t, std::int32_t, std::int32_t) override {
        ++overlays;
    }
    void PresentLayeredWindow(const std::uint32_t*, std::int32_t, std::int32_t, std::int32_t left,
                              std::int32_t top) override {
        ++presents;
        presentedAt = ScreenPoint{left, top};
    }
    void MoveAndPresent(const std::uint32_t*, const ScreenRect& rect, std::int32_t,
                        std::int32_t) override {
        ++presents;
        presentedAt = ScreenPoint{rect.left, rect.top};
    }
};

// The flipper table loaded with the clock, the keys, the cursor and the window scripted.
class ScriptedGizmoTest : public ::testing::Test {
protected:
    ScriptedGizmoTest() : clockInstalled(clock), inputInstalled(input), cursorInstalled(cursor) {
        SetGizmoWindow(&window);
    }
    ~ScriptedGizmoTest() override { SetGizmoWindow(nullptr); }

    void SetUp() override { ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText; }

    GizmoObject& Ball() { return *scene.world->objects[0]; }
    GizmoObject& Paddle() { return *scene.world->objects[1]; }

    void Frames(std::int32_t count) {
        for (std::int32_t i = 0; i < count; ++i) {
            clock.Advance(FramePeriod);
            FrameStep(scene);
        }
    }

    ScriptedClock clock{100'000};
    ScopedClockSource clockInstalled;
    ScriptedInputState input;
    ScopedInputStateSource inputInstalled;
    ScriptedCursor cursor;
    ScopedCursorSource cursorInstalled;
    RecordingWindow window;
    GizmoScene scene;
};

// The paddle's placed record against one of its two state records.
inline void ExpectPose(const GizmoObject& paddle, const std::uint8_t* state) {
    const std::uint8_t* live = paddle.partPairs[0].live.get();
    const Vec3 rotation = PartRecordRotation(live);
    const Vec3 expected = PartRecordRotation(state);
    EXPECT_NEAR(rotation.x, expected.x, 1e-6);
    EXPECT_NEAR(rotation.y, expected.y, 1e-6);
    EXPECT_NEAR(rotation.z, expected.z, 1e-6);
    const Vec3 position = PartRecordPosition(live);
    const Vec3 expectedPosition = PartRecordPosition(state);
    EXPECT_NEAR(position.x, expectedPosition.x, 1e-6);
    EXPECT_NEAR(position.y, expectedPosition.y, 1e-6);
    EXPECT_NEAR(position.z, expectedPosition.z, 1e-6);
}

}  // namespace
