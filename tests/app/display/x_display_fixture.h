#pragma once

// The fixture of the tests that need an X display: it opens one for each test and skips the
// test when none can be opened, unless ORBELLE_REQUIRE_DISPLAY is set.

#include "platform/x_layered_display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

class XDisplayTest : public testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        display = XLayeredDisplay::Open(whyNot);
        if (display) return;
        // scripts/test sets this when it has started Xvfb: there a missing display is a fault
        // of the set-up, not a machine without one.
        if (std::getenv("ORBELLE_REQUIRE_DISPLAY") != nullptr) {
            FAIL() << "a display was promised but: " << whyNot;
        }
        GTEST_SKIP() << "no display for the window: " << whyNot;
    }

    std::unique_ptr<XLayeredDisplay> display;
};
