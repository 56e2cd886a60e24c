#include "geometry/default_placement.h"

#include <gtest/gtest.h>

namespace {

TEST(DefaultPlacement, StartUpValuesAndChanges) {
    EXPECT_EQ(DefaultOrigin().x, 0.0);
    EXPECT_EQ(DefaultOrigin().z, 0.0);
    const Matrix3 identity = Matrix3SetDiagonal(1.0);
    for (std::size_t k = 0; k < 9; ++k) EXPECT_EQ(DefaultOrientation().m[k], identity.m[k]);
    EXPECT_EQ(DefaultLength(), 25.0);

    SetDefaultOrigin(Vec3{1, 2, 3});
    SetDefaultLength(40.0);
    EXPECT_EQ(DefaultOrigin().y, 2.0);
    EXPECT_EQ(DefaultLength(), 40.0);
    SetDefaultOrigin(Vec3{});
    SetDefaultLength(25.0);
}

}  // namespace
