#include "core/crt_random.h"

namespace {

// The runtime starts as if seeded with 1.
constinit std::uint32_t gState = 1;

}  // namespace

void CrtSrand(std::uint32_t seed) { gState = seed; }

int CrtRand() {
    gState = gState * 214013u + 2531011u;
    return static_cast<int>((gState >> 16) & 0x7FFFu);
}
