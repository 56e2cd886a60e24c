#include "platform/work_area.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

namespace {

// A display that only tells its monitors: two side by side, the right one primary.
class TwoMonitors final : public LayeredDisplay {
public:
    std::span<std::uint32_t> FrameStore(std::int32_t, std::int32_t) override { return {}; }
    bool UpdateLayeredWindow(std::int32_t, std::int32_t) override { return false; }
    void MoveWindow(const ScreenRect&) override {}
    void ShowWindow(bool) override {}
    bool IsWindowShown() const override { return false; }
    ScreenRect WindowRect() const override { return {}; }
    std::span<const MonitorInfo> Monitors() const override { return monitors; }
    ScreenPoint CursorScreenPos() override { return {}; }
    void ProcessEvents() override {}

    std::vector<MonitorInfo> monitors = {
        {{0, 0, 1280, 1024}, {0, 30, 1280, 1024}, false},
        {{1280, 0, 3200, 1080}, {1280, 0, 3200, 1040}, true},
    };
};

TEST(WorkArea, ADraggedWindowOffEveryMonitorTakesTheNearestOnesWorkArea) {
    TwoMonitors display;
    const DisplayWorkAreas areas(display);
    const ScopedWorkAreaSource installed(areas);
    struct Case {
        ScreenRect rect;
        std::int32_t nearestTop;  // 30: the left monitor's work area, 0: the right one's
        std::int32_t primaryTop;
    };
    const Case cases[] = {
        {{100, 100, 300, 300}, 30, 30},    // on the left monitor
        {{-900, 200, -700, 400}, 30, 0},   // off to the left: nearest left, else primary
        {{2000, 1500, 2200, 1700}, 0, 0},  // below the right monitor
        {{1200, 100, 1500, 300}, 0, 0},    // mostly on the right one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rect.left);
        EXPECT_EQ(GetNearestWorkArea(c.rect).top, c.nearestTop);
        EXPECT_EQ(GetWorkArea(c.rect).top, c.primaryTop);
    }
    // A fixed work area answers both alike, and none installed gives the default one.
    const FixedWorkArea fixed(ScreenRect{5, 6, 700, 800});
    {
        const ScopedWorkAreaSource fixedInstalled(fixed);
        EXPECT_EQ(GetNearestWorkArea(ScreenRect{-900, 200, -700, 400}).bottom, 800);
    }
    SetWorkAreaSource(nullptr);
    EXPECT_EQ(GetNearestWorkArea(ScreenRect{}).right, DefaultWorkArea.right);
}

}  // namespace
