#pragma once

// The second generator of the system, with state kept by its user rather than by the process:
// state = state * 1664525 + 1013904223 (mod 2^32). The texture tile layouts and the star field
// draw on it, each from its own seed, so their draws never disturb the process-wide sequence
// that scene files and bots depend on (crt_random.h).

#include <cstdint>

// The state after one step.
inline constexpr std::uint32_t LcgNext(std::uint32_t state) {
    return state * 1664525u + 1013904223u;
}
