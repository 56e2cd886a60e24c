#include "core/crt_random.h"

#include <gtest/gtest.h>

namespace {

TEST(CrtRandom, ReproducesTheRuntimeSequence) {
    CrtSrand(1);
    EXPECT_EQ(CrtRand(), 41);
    EXPECT_EQ(CrtRand(), 18467);
    EXPECT_EQ(CrtRand(), 6334);
    EXPECT_EQ(CrtRand(), 26500);

    CrtSrand(1);
    EXPECT_EQ(CrtRand(), 41);
}

TEST(CrtRandom, StaysInRange) {
    CrtSrand(12345);
    for (int i = 0; i < 100000; ++i) {
        const int v = CrtRand();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, CrtRandMax);
    }
}

}  // namespace
