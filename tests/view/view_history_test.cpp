#include "view/view_history.h"

#include "model/view_settings.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

namespace {

TEST(ViewHistory, KeepsTheFiveNewestSettings) {
    QRenderView view(nullptr);
    // Empty: the current settings, copied.
    view.viewSettings.nearDepth = 42.0;
    EXPECT_EQ(view.GetLastViewSettings().nearDepth, 42.0);
    view.PopViewHistory();  // nothing to drop
    EXPECT_EQ(view.viewHistory.Count(), 0u);

    for (std::int32_t i = 1; i <= 6; ++i) {
        view.viewSettings.nearDepth = i;
        view.PushViewHistory();
    }
    view.viewSettings.nearDepth = 99.0;
    EXPECT_EQ(view.viewHistory.Count(), 5u);
    // Newest first on the way back; the first push is gone.
    for (std::int32_t i = 6; i >= 2; --i) {
        EXPECT_EQ(view.GetLastViewSettings().nearDepth, i);
        view.PopViewHistory();
    }
    EXPECT_EQ(view.viewHistory.Count(), 0u);
    EXPECT_EQ(view.GetLastViewSettings().nearDepth, 99.0);
}

TEST(ViewHistory, EntriesAreCopiesOfTheSettings) {
    QRenderView view(nullptr);
    view.viewSettings.camera.position = Vec3{1.0, 2.0, 3.0};
    view.PushViewHistory();
    view.viewSettings.camera.position = Vec3{7.0, 7.0, 7.0};
    const ViewSettings last = view.GetLastViewSettings();
    EXPECT_EQ(Vec3Compare(last.camera.position, Vec3{1.0, 2.0, 3.0}), 0);
    EXPECT_EQ(last.lights.Count(), view.viewSettings.lights.Count());
}

}  // namespace
