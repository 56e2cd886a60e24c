#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(Clock, MillisecondsWrapAt32Bits) {
    SetClockOffsetForTesting(0);
    SetClockOffsetForTesting(0xFFFFFFF0u - GetTickCount());  // 16 ms before the wrap
    const std::uint32_t start = timeGetTime();
    std::uint32_t now = start;
    for (int i = 0; i < 1000 && now >= start; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        now = timeGetTime();
    }
    SetClockOffsetForTesting(0);
    EXPECT_LT(now, start) << "the clock did not wrap";
    EXPECT_LT(static_cast<std::uint32_t>(now - start), 1000u);  // unsigned difference stays small
    EXPECT_LE(static_cast<std::uint32_t>(GetTickCount() - timeGetTime()) + 1, 2u);
}

}  // namespace
