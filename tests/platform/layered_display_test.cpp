#include "platform/layered_display.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace {

// Two monitors side by side, the right one primary, each with a panel taken off its work
// area.
const std::vector<MonitorInfo> Monitors = {
    {{0, 0, 1280, 1024}, {0, 30, 1280, 1024}, false},
    {{1280, 0, 3200, 1080}, {1280, 0, 3200, 1040}, true},
};

std::int32_t LeftOf(const std::optional<MonitorInfo>& m) { return m ? m->area.left : -1; }

TEST(LayeredDisplay, MonitorFromPointTakesTheOneItIsOnElseTheNearest) {
    struct Case {
        ScreenPoint point;
        std::int32_t left;
    };
    const Case cases[] = {
        {{10, 10}, 0},       {{1279, 500}, 0},     {{1280, 500}, 1280}, {{-500, 2000}, 0},
        {{5000, -20}, 1280}, {{1270, 1060}, 1280}, {{1200, 1100}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.point.x << "," << c.point.y);
        EXPECT_EQ(LeftOf(MonitorFromPoint(Monitors, c.point)), c.left);
    }
    EXPECT_FALSE(MonitorFromPoint({}, {0, 0}).has_value());
}

TEST(LayeredDisplay, MonitorFromRectTakesLargestShareElseNearestOrPrimary) {
    struct Case {
        ScreenRect rect;
        bool nearest;
        std::int32_t left;
    };
    const Case cases[] = {
        {{1000, 0, 1400, 100}, false, 0},         // more of it on the left monitor
        {{1200, 0, 1600, 100}, false, 1280},      // more on the right one
        {{-900, -900, -800, -800}, true, 0},      // on none: the nearest
        {{-900, -900, -800, -800}, false, 1280},  // on none: the primary
        {{0, 0, 1024, 768}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.rect.left << "," << c.rect.top << " nearest " << c.nearest);
        EXPECT_EQ(LeftOf(MonitorFromRect(Monitors, c.rect, c.nearest)), c.left);
    }
    // Without a primary one marked, the first stands in for it.
    std::vector<MonitorInfo> unmarked = Monitors;
    unmarked[1].isPrimary = false;
    EXPECT_EQ(LeftOf(MonitorFromRect(unmarked, {9000, 9000, 9001, 9001}, false)), 0);
    EXPECT_FALSE(MonitorFromRect({}, {0, 0, 1, 1}, true).has_value());
}

}  // namespace
