// The player on a real X display (scripts/test runs these under Xvfb): they skip without
// one, unless ORBELLE_REQUIRE_DISPLAY says a display was promised.

#include "app/headless_display.h"
#include "app/player_app.h"
#include "app/player_dialogs.h"
#include "platform/x_layered_display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string DemoGizmo = ORBELLE_TEST_DATA_DIR "/../../../gizmos/demo.kvp";

std::unique_ptr<XLayeredDisplay> OpenDisplay(std::string& whyNot) {
    return XLayeredDisplay::Open(whyNot);
}

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

TEST(PlayerAppDisplay, TheWindowShowsTheHeadlessFramesPremultiplied) {
    std::string whyNot;
    std::unique_ptr<XLayeredDisplay> x = OpenDisplay(whyNot);
    if (!x) {
        if (std::getenv("ORBELLE_REQUIRE_DISPLAY") != nullptr) {
            FAIL() << "a display was promised but: " << whyNot;
        }
        GTEST_SKIP() << "no display for the window: " << whyNot;
    }
    EXPECT_EQ(x->VisualDepth(), 32);
    ASSERT_FALSE(x->Monitors().empty());
    const ScreenRect area = x->Monitors()[0].workArea;
    // The headless monitor matches the screen, so the gizmo's window is fitted alike.
    HeadlessDisplay headless("", area.right - area.left, area.bottom - area.top);
    for (const std::int32_t ticks : {0, 20}) {
        SCOPED_TRACE(ticks);
        const std::vector<std::uint32_t> shown = PlayOn(*x, ticks);
        const std::vector<std::uint32_t> expected = PlayOn(headless, ticks);
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown, expected);
    }
}

}  // namespace
