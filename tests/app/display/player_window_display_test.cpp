// The player's window on a real X display. These tests need one (scripts/test runs them
// under Xvfb) and skip when none can be opened, unless ORBELLE_REQUIRE_DISPLAY is set.

#include "app/headless_display.h"
#include "app/player_window.h"
#include "app/score_overlay.h"
#include "platform/input_state.h"
#include "platform/x_layered_display.h"
#include "x_display_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using PlayerWindowDisplayTest = XDisplayTest;

// A frame with every kind of pixel: opaque, translucent, transparent with colour bits (as
// the renderer leaves the background), and the overlay.
void FillFrame(std::uint32_t* bits, std::int32_t width, std::int32_t height) {
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const auto alpha = static_cast<std::uint32_t>((x * 7 + y * 3) % 256);
            bits[y * width + x] =
                (alpha << 24) |
                static_cast<std::uint32_t>(x * 0x010203 + y * 0x030201) % 0x1000000u;
        }
    }
    DrawScoreOverlay(bits, width, height, MeasureScoreOverlay(), true, 420, 75000);
}

TEST_F(PlayerWindowDisplayTest, OpensOnA32BitArgbVisualWithAMonitor) {
    EXPECT_EQ(display->VisualDepth(), 32);
    ASSERT_EQ(display->Monitors().size(), 1u);
    const MonitorInfo& monitor = display->Monitors()[0];
    EXPECT_TRUE(monitor.isPrimary);
    EXPECT_GT(monitor.area.right, 0);
    EXPECT_GE(monitor.workArea.left, monitor.area.left);
    EXPECT_LE(monitor.workArea.right, monitor.area.right);
    const ScreenPoint cursor = display->CursorScreenPos();
    EXPECT_GE(cursor.x, monitor.area.left);
    EXPECT_LT(cursor.x, monitor.area.right);
}

TEST_F(PlayerWindowDisplayTest, FirstFrameShowsTheHeadlessFramePremultiplied) {
    constexpr std::int32_t W = 160;
    constexpr std::int32_t H = 90;
    PlayerWindow window(*display);
    FillFrame(window.CreateViewBitmap(W, H), W, H);
    ASSERT_TRUE(window.MoveAndPresent(30, 40, 30 + W, 40 + H, 0, 0));
    display->Sync();

    HeadlessDisplay headless("");
    PlayerWindow reference(headless);
    FillFrame(reference.CreateViewBitmap(W, H), W, H);
    ASSERT_TRUE(reference.PresentLayeredWindow(30, 40, W, H));

    const std::vector<std::uint32_t> shown = display->ReadWindowPixels();
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(W * H));
    EXPECT_EQ(shown, headless.LastFrame());
    EXPECT_TRUE(display->IsWindowShown());
    EXPECT_EQ(display->WindowRect().left, 30);
    EXPECT_EQ(display->WindowRect().bottom, 40 + H);

    // The score drawn over the next frame reaches the window.
    DrawScoreOverlay(window.ViewBits(), W, H, MeasureScoreOverlay(), true, 99000, 3000);
    DrawScoreOverlay(reference.ViewBits(), W, H, MeasureScoreOverlay(), true, 99000, 3000);
    ASSERT_TRUE(window.PresentLayeredWindow(30, 40, W, H));
    ASSERT_TRUE(reference.PresentLayeredWindow(30, 40, W, H));
    display->Sync();
    const std::vector<std::uint32_t> scored = display->ReadWindowPixels();
    EXPECT_EQ(scored, headless.LastFrame());
    EXPECT_NE(scored, shown);
}

TEST_F(PlayerWindowDisplayTest, ExposedWindowRepaintsFromItsLastFrame) {
    PlayerWindow window(*display);
    std::uint32_t* bits = window.CreateViewBitmap(32, 32);
    std::fill(bits, bits + 32 * 32, 0xFF336699u);
    ASSERT_TRUE(window.PresentLayeredWindow(10, 10, 32, 32));
    display->ShowWindow(true);  // mapped after the frame: the store is put on mapping
    display->ProcessEvents();
    display->Sync();
    const std::vector<std::uint32_t> shown = display->ReadWindowPixels();
    EXPECT_EQ(shown, std::vector<std::uint32_t>(32 * 32, 0xFF336699u));

    display->ShowWindow(false);
    display->Sync();
    EXPECT_TRUE(display->ReadWindowPixels().empty());
}

// What the user presses on the window reaches the input state the renderer's interruption
// and the trigger keys read.
TEST_F(PlayerWindowDisplayTest, KeysAndButtonsReachTheInputState) {
    InputStateClear();
    struct Case {
        const char* key;
        bool numLock;
        std::int32_t virtualKey;
        bool triggers;
    };
    const Case cases[] = {
        {"2", false, 0x32, true},      {"KP_1", true, 0x61, true},
        {"KP_End", false, -1, false},  {"4", false, 0x34, false},
        {"z", false, 0x5A, false},     {"Return", false, 0x0D, false},
        {"space", false, 0x20, false}, {"Escape", false, 0x1B, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_TRUE(display->SendKeyForTesting(c.key, true, c.numLock));
        display->ProcessEvents();
        if (c.virtualKey >= 0) {
            EXPECT_LT(GetAsyncKeyState(c.virtualKey), 0);
        }
        EXPECT_EQ(AnyTriggerKeyDown(), c.triggers);
        ASSERT_TRUE(display->SendKeyForTesting(c.key, false, c.numLock));
        display->ProcessEvents();
        if (c.virtualKey >= 0) {
            EXPECT_EQ(GetAsyncKeyState(c.virtualKey), 0);
        }
        EXPECT_FALSE(AnyTriggerKeyDown());
    }
    EXPECT_FALSE(display->SendKeyForTesting("NoSuchKeyName", true, false));

    display->SendButtonForTesting(1, true);
    display->ProcessEvents();
    EXPECT_TRUE(IsLeftButtonDown());
    EXPECT_TRUE(PeekLeftButtonDownMessage());
    display->SendButtonForTesting(1, false);
    display->ProcessEvents();
    EXPECT_FALSE(IsLeftButtonDown());
    // The press stays queued for the window until it is taken.
    EXPECT_TRUE(InputStateTakeLeftButtonDown());
    EXPECT_FALSE(PeekLeftButtonDownMessage());
    InputStateClear();
}

}  // namespace
