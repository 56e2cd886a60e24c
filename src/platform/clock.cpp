#include "platform/clock.h"

#include <time.h>

namespace {

constinit std::uint32_t gOffsetMilliseconds = 0;
constinit ClockSource* gSource = nullptr;

std::uint32_t MonotonicMilliseconds() {
    if (gSource != nullptr) return gSource->Milliseconds() + gOffsetMilliseconds;
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

void SetClockSource(ClockSource* source) { gSource = source; }
