#include "platform/scripted_clock.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

namespace {

TEST(ScriptedClock, BothClocksStandStillUntilMovedAndWrapLikeTheRealOne) {
    ScriptedClock clock(0xFFFFFFF0u);
    {
        const ScopedClockSource installed(clock);
        EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
        EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
        clock.Advance(0x20);
        EXPECT_EQ(timeGetTime(), 0x10u);
        SetClockOffsetForTesting(5);
        EXPECT_EQ(GetTickCount(), 0x15u);
        SetClockOffsetForTesting(0);
    }
    // Back on the monotonic clock, which moves on its own.
    EXPECT_NE(timeGetTime(), 0x10u);
}

}  // namespace
