#pragma once

// The one random generator of the system. Scene files and bots were made with the classic
// C runtime generator, so bots regenerate to the same parts only when its sequence is
// reproduced exactly: state = state * 214013 + 2531011 (mod 2^32), result
// (state >> 16) & 0x7FFF. One state for the process; seeding with 1 gives 41, 18467, 6334,
// 26500. Nothing in the system calls the platform's own generator.

#include <cstdint>

inline constexpr int CrtRandMax = 32767;

// Reseeds the process-wide state.
void CrtSrand(std::uint32_t seed);

// The next value, 0..CrtRandMax.
int CrtRand();
