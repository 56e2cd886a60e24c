#include "gizmo/process_settings.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessSettings, CreatedOnceWithItsDefaults) {
    EXPECT_EQ(CurrentProcessSettings(), nullptr);
    ProcessSettings& settings = CreateProcessSettings();
    EXPECT_EQ(settings.displayListSwitch, 1);
    EXPECT_EQ(settings.loggingSwitch, 0);
    EXPECT_EQ(settings.windowWidth, 1024);
    EXPECT_EQ(settings.windowHeight, 768);
    settings.loggingSwitch = 1;
    EXPECT_EQ(&CreateProcessSettings(), &settings);
    EXPECT_EQ(CreateProcessSettings().loggingSwitch, 1);
    DeleteProcessSettings();
    EXPECT_EQ(CurrentProcessSettings(), nullptr);
}

}  // namespace
