#include "view/q_off_bits.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(QOffBits, CreateSizesTheBitmap) {
    QOffBits bitmap;
    EXPECT_EQ(bitmap.GetBits(), nullptr);
    EXPECT_EQ(bitmap.GetStride(), 0);

    bitmap.Create(3, 2);
    EXPECT_EQ(bitmap.GetStride(), 12);
    EXPECT_EQ(bitmap.ImageSize(), 24);
    EXPECT_EQ(bitmap.updateRect, (FrameRect{0, 0, 3, 2}));
    ASSERT_NE(bitmap.GetBits(), nullptr);
    for (std::int32_t i = 0; i < 6; ++i) EXPECT_EQ(bitmap.GetBits()[i], 0u);

    // Made again at another size, with the update rectangle reset.
    bitmap.updateRect = FrameRect{1, 1, 2, 2};
    bitmap.Create(5, 4);
    EXPECT_EQ(bitmap.GetStride(), 20);
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.Height(), 4);
    EXPECT_EQ(bitmap.updateRect, (FrameRect{0, 0, 5, 4}));
}

TEST(QOffBits, ASizeThatCannotBeMadeKeepsTheOldBitmap) {
    QOffBits bitmap;
    bitmap.Create(3, 2);
    std::uint32_t* bits = bitmap.GetBits();
    const struct { std::int32_t width, height; } bad[] = {{0, 2}, {3, -1}, {100000, 100000}};
    for (const auto& size : bad) {
        SCOPED_TRACE(testing::Message() << size.width << " x " << size.height);
        EXPECT_THROW(bitmap.Create(size.width, size.height), KVOutOfMemoryException);
        EXPECT_EQ(bitmap.GetBits(), bits);
        EXPECT_EQ(bitmap.GetStride(), 12);
        EXPECT_EQ(bitmap.Width(), 3);
    }
}

}  // namespace
