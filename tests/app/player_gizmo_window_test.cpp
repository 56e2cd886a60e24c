#include "app/player_gizmo_window.h"

#include "app/headless_display.h"
#include "platform/scripted_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(PlayerGizmoWindow, PresentsTheGizmosFramePremultipliedAndHidesOnlyForACornerMove) {
    HeadlessDisplay display("");
    PlayerGizmoWindow window(display);
    const std::vector<std::uint32_t> frame = {0xFF102030, 0x80FF8000, 0x00FFFFFF,
                                              0xA0FFFFFF, 0x40FF00FF, 0x01FFFFFF};
    window.PresentLayeredWindow(frame.data(), 3, 2, 40, 50);
    EXPECT_EQ(display.LastFrame(),
              (std::vector<std::uint32_t>{0xFF102030, 0x80804000, 0, 0xA0A0A0A0, 0x40400040,
                                          0x01010101}));
    EXPECT_EQ(display.WindowRect().left, 40);
    EXPECT_EQ(frame[1], 0x80FF8000u);  // the gizmo's frame stays straight

    display.ShowWindow(true);
    window.MoveAndPresent(frame.data(), ScreenRect{40, 50, 43, 52}, 40, 50);
    EXPECT_EQ(display.HideCount(), 0);
    window.MoveAndPresent(frame.data(), ScreenRect{0, 0, 3, 2}, 40, 50);
    EXPECT_EQ(display.HideCount(), 1);
    EXPECT_EQ(display.ShowCount(), 2);
    EXPECT_TRUE(display.IsWindowShown());
    EXPECT_EQ(display.FrameCount(), 3);

    window.PresentLayeredWindow(nullptr, 3, 2, 0, 0);  // no frame: nothing shown
    window.MoveWindow(ScreenRect{5, 6, 9, 16});
    EXPECT_EQ(display.FrameCount(), 3);
    EXPECT_EQ(display.WindowRect().bottom, 16);
}

TEST(PlayerGizmoWindow, DrawsTheOverlayOnlyWhenTheGameShowsIt) {
    HeadlessDisplay display("");
    PlayerGizmoWindow window(display);
    std::vector<std::uint32_t> frame(200 * 100, 0);
    window.DrawScoreOverlay(frame.data(), 200, 100, 7);
    EXPECT_EQ(frame[99 * 200], 0u);
    ScriptedClock clock(5'000);
    const ScopedClockSource installed(clock);
    window.isScoreShown = true;
    window.gameClockStart = 4'000;
    window.DrawScoreOverlay(frame.data(), 200, 100, 7);
    // The plate at the bottom-left corner, as DrawScoreOverlay draws it with the same time.
    std::vector<std::uint32_t> expected(200 * 100, 0);
    DrawScoreOverlay(expected.data(), 200, 100, window.layout, true, 7, 1'000);
    EXPECT_EQ(frame, expected);
    EXPECT_NE(frame[99 * 200], 0u);
}

}  // namespace
