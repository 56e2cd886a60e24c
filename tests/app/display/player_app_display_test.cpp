// The player on a real X display (scripts/test runs these under Xvfb): they skip without
// one, unless ORBELLE_REQUIRE_DISPLAY says a display was promised.

#include "app/headless_display.h"
#include "app/player_app.h"
#include "app/player_dialogs.h"
#include "platform/input_state.h"
#include "platform/window_events.h"
#include "platform/x_layered_display.h"
#include "x_display_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string DemoGizmo = ORBELLE_TEST_DATA_DIR "/../../../gizmos/demo.kvp";

using PlayerAppDisplay = XDisplayTest;

// What the window's events told the player.
class RecordingEvents final : public WindowEventSink {
public:
    void OnKeyDown(std::int32_t virtualKey) override { keys.push_back(virtualKey); }
    void OnLeftButtonDown(ScreenPoint, std::int32_t modifiers) override {
        presses.push_back(modifiers);
    }
    void OnLeftButtonUp() override { ++releases; }
    void OnContextMenu(ScreenPoint) override { ++menus; }

    std::vector<std::int32_t> keys;
    std::vector<std::int32_t> presses;
    int releases = 0;
    int menus = 0;
};

// The demo's frames on the window and on the headless display, as each shows them after
// the same ticks of the virtual clock.
std::vector<std::uint32_t> PlayOn(LayeredDisplay& display, std::int32_t ticks) {
    ConsoleDialogs dialogs;
    PlayerApp app(display, dialogs, true);
    PlayerOptions options;
    options.gizmoPath = DemoGizmo;
    options.isGizmoNamed = true;
    app.InitInstance(options);
    EXPECT_EQ(app.Scene().active, 1);
    app.Run(ticks, {{0, 0}});
    if (auto* x = dynamic_cast<XLayeredDisplay*>(&display)) {
        x->Sync();
        return x->ReadWindowPixels();
    }
    return static_cast<HeadlessDisplay&>(display).LastFrame();
}

TEST_F(PlayerAppDisplay, TheWindowShowsTheHeadlessFramesPremultiplied) {
    EXPECT_EQ(display->VisualDepth(), 32);
    ASSERT_FALSE(display->Monitors().empty());
    const ScreenRect area = display->Monitors()[0].workArea;
    // The headless monitor matches the screen, so the gizmo's window is fitted alike.
    HeadlessDisplay headless("", area.right - area.left, area.bottom - area.top);
    for (const std::int32_t ticks : {0, 20}) {
        SCOPED_TRACE(ticks);
        const std::vector<std::uint32_t> shown = PlayOn(*display, ticks);
        const std::vector<std::uint32_t> expected = PlayOn(headless, ticks);
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown, expected);
    }
}

TEST_F(PlayerAppDisplay, KeysAndButtonsReachTheWindowEventSink) {
    RecordingEvents events;
    SetWindowEventSink(&events);
    for (const char* key : {"1", "KP_9", "Escape", "space"}) {
        ASSERT_TRUE(display->SendKeyForTesting(key, true, true));
        ASSERT_TRUE(display->SendKeyForTesting(key, false, true));
    }
    display->SendButtonForTesting(1, true);
    display->SendButtonForTesting(1, false);
    display->SendButtonForTesting(3, true);
    display->SendButtonForTesting(3, false);
    display->Sync();
    display->ProcessEvents();
    SetWindowEventSink(nullptr);
    InputStateClear();
    // Key releases tell the sink nothing; the right button asks for the menu once.
    EXPECT_EQ(events.keys, (std::vector<std::int32_t>{0x31, 0x69, 0x1B, 0x20}));
    EXPECT_EQ(events.presses, std::vector<std::int32_t>{0});
    EXPECT_EQ(events.releases, 1);
    EXPECT_EQ(events.menus, 1);
}

}  // namespace
