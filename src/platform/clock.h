#pragma once

// Millisecond clocks for frame timing, eased motion and render-abort polling. Both count
// from an arbitrary start on a monotonic clock and wrap at 2^32, so callers compare stamps
// by unsigned subtraction.

#include <cstdint>

// Milliseconds of the monotonic clock, wrapping at 2^32.
std::uint32_t GetTickCount();

// The same millisecond clock as GetTickCount.
std::uint32_t timeGetTime();

// Adds a fixed offset to both clocks, so tests can place the wrap where they want it.
void SetClockOffsetForTesting(std::uint32_t offsetMilliseconds);

// Where both clocks read their milliseconds. Tests install their own (ScriptedClock,
// platform/scripted_clock.h) so that timed input can be placed to the millisecond.
class ClockSource {
public:
    virtual ~ClockSource() = default;
    // Milliseconds from an arbitrary start, wrapping at 2^32.
    virtual std::uint32_t Milliseconds() = 0;
};

// Installs source for both clocks (not owned; it must outlive its installation); null goes
// back to the monotonic clock. The testing offset applies to either.
void SetClockSource(ClockSource* source);
