#pragma once

// A clock that tests set by hand: it stands still until it is moved. Installing it
// (ScopedClockSource) makes GetTickCount and timeGetTime answer from it.

#include "platform/clock.h"

#include <cstdint>

class ScriptedClock final : public ClockSource {
public:
    explicit ScriptedClock(std::uint32_t startMilliseconds = 0) : now(startMilliseconds) {}
    std::uint32_t Milliseconds() override { return now; }

    void Set(std::uint32_t milliseconds) { now = milliseconds; }
    // Moves the clock on (wrapping at 2^32 as the real one does).
    void Advance(std::uint32_t milliseconds) { now += milliseconds; }

private:
    std::uint32_t now = 0;
};

// Installs a clock source for its lifetime, then goes back to the monotonic clock.
class ScopedClockSource {
public:
    explicit ScopedClockSource(ClockSource& source) { SetClockSource(&source); }
    ~ScopedClockSource() { SetClockSource(nullptr); }
    ScopedClockSource(const ScopedClockSource&) = delete;
    ScopedClockSource& operator=(const ScopedClockSource&) = delete;
};
