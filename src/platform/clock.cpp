#include "platform/clock.h"

#include <time.h>

namespace {

constinit std::uint32_t gOffsetMilliseconds = 0;

std::uint32_t MonotonicMilliseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms) + gOffsetMilliseconds;
}

}  // namespace

std::uint32_t GetTickCount() { return MonotonicMilliseconds(); }

std::uint32_t timeGetTime() { return MonotonicMilliseconds(); }

void SetClockOffsetForTesting(std::uint32_t offsetMilliseconds) {
    gOffsetMilliseconds = offsetMilliseconds;
}
