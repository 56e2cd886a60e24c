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
