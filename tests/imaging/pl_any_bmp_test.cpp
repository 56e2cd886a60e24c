#include "imaging/pl_any_bmp.h"

#include "core/private_heap.h"
#include "imaging/decoder_test_util.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using decoder_test::CodeOf;

TEST(PLAnyBmp, NewBitmapIsSixteenSquareI8WithGreyPalette) {
    PLAnyBmp bmp;
    EXPECT_EQ(bmp.GetWidth(), 16);
    EXPECT_EQ(bmp.GetHeight(), 16);
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::I8);
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{0, 0}));
    ASSERT_NE(bmp.GetPalette(), nullptr);
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t* entry = bmp.GetPalette() + 4 * i;
        EXPECT_EQ(entry[0], i);
        EXPECT_EQ(entry[1], i);
        EXPECT_EQ(entry[2], i);
        EXPECT_EQ(entry[3], 255);
    }
}

TEST(PLAnyBmp, RowsArePackedWithoutPadding) {
    struct Case {
        PLPixelFormat format;
        std::int32_t width;
        std::int32_t bytesPerLine;
    };
    const Case cases[] = {
        {PLPixelFormat::L1, 9, 2},        {PLPixelFormat::L1, 8, 1},
        {PLPixelFormat::R8G8B8, 3, 9},    {PLPixelFormat::R5G6B5, 3, 6},
        {PLPixelFormat::A8R8G8B8, 5, 20}, {PLPixelFormat::R16G16B16, 1, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.GetName() + " width " + std::to_string(c.width));
        PLAnyBmp bmp;
        bmp.CreateFromData(c.width, 3, c.format, nullptr, 0, {0, 0});
        EXPECT_EQ(bmp.GetBytesPerLine(), c.bytesPerLine);
        EXPECT_EQ(bmp.GetLineArray()[2] - bmp.GetLineArray()[0], 2 * c.bytesPerLine);
        EXPECT_EQ(bmp.GetPalette() != nullptr, c.format.GetBitsPerPixel() <= 8);
    }
    EXPECT_EQ(PLAnyBmp::EstimateMemory(9, 3, 1), 2 * 3 + 192 + 8);
    EXPECT_EQ(PLAnyBmp::EstimateMemory(5, 2, 32), 40 + 192);
}

TEST(PLAnyBmp, L1StartsBlackAndWhite) {
    PLAnyBmp bmp;
    bmp.CreateFromData(4, 4, PLPixelFormat::L1, nullptr, 0, {0, 0});
    const std::uint8_t* palette = bmp.GetPalette();
    EXPECT_EQ(std::vector<std::uint8_t>(palette, palette + 8),
              (std::vector<std::uint8_t>{0, 0, 0, 255, 255, 255, 255, 255}));
}

TEST(PLAnyBmp, CreateFromDataCopiesRowsByStride) {
    // Two rows of 2 RGB pixels, 8 bytes apart in the caller's buffer.
    const std::uint8_t data[16] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12, 0xEE, 0xEE};
    PLAnyBmp bmp;
    bmp.CreateFromData(2, 2, PLPixelFormat::R8G8B8, data, 8, {72, 96});
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{72, 96}));
    EXPECT_EQ(std::vector<std::uint8_t>(bmp.GetBits(), bmp.GetBits() + 12),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(PLAnyBmp, ImpossibleSizesFailAndKeepTheBitmap) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
        PLPixelFormat format;
        std::int32_t code;
    };
    const Case cases[] = {
        // 65536 x 65536 x 4 bytes wraps to 0 in 32 bits.
        {65536, 65536, PLPixelFormat::A8R8G8B8, PLErrNoMemory},
        {0x7FFFFFFF, 0x7FFFFFFF, PLPixelFormat::R16G16B16, PLErrNoMemory},
        {-1, 10, PLPixelFormat::L8, PLErrWrongSignature},
        {10, -5, PLPixelFormat::L8, PLErrWrongSignature},
        {10, 10, PLPixelFormat::DontCare, PLErrFormatNotSupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        PLAnyBmp bmp;
        bmp.CreateFromData(3, 2, PLPixelFormat::R8G8B8, nullptr, 0, {0, 0});
        bmp.GetBits()[5] = 99;
        EXPECT_EQ(CodeOf([&] {
                      bmp.CreateFromData(c.width, c.height, c.format, nullptr, 0, {0, 0});
                  }),
                  c.code);
        EXPECT_EQ(bmp.GetWidth(), 3);
        EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::R8G8B8);
        EXPECT_EQ(bmp.GetLineArray()[0][5], 99);
    }
}

// The storage a header sizes is bounded by the private heap's ceiling like every other buffer
// a file sizes, and a refused bitmap keeps what it held.
TEST(PLAnyBmp, StorageCountsAgainstThePrivateHeap) {
    const std::size_t before = PrivateHeapBytesInUse();
    {
        PLAnyBmp big;
        big.CreateFromData(100, 50, PLPixelFormat::A8R8G8B8, nullptr, 0, {0, 0});
        // Pixels and one row pointer a row.
        EXPECT_GE(PrivateHeapBytesInUse() - before, 100 * 50 * 4 + 50 * sizeof(void*));
    }
    EXPECT_EQ(PrivateHeapBytesInUse(), before);

    PLAnyBmp bmp;
    bmp.CreateFromData(3, 2, PLPixelFormat::R8G8B8, nullptr, 0, {0, 0});
    bmp.GetBits()[5] = 99;
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + 4096);
    EXPECT_THROW(bmp.CreateFromData(1000, 1000, PLPixelFormat::L8, nullptr, 0, {0, 0}),
                 KVOutOfMemoryException);
    // A tall image of one-byte rows is mostly row table, which counts too.
    EXPECT_THROW(bmp.CreateFromData(1, 1000, PLPixelFormat::L8, nullptr, 0, {0, 0}),
                 KVOutOfMemoryException);
    PrivateHeapSetCeiling(0);
    EXPECT_EQ(bmp.GetWidth(), 3);
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::R8G8B8);
    EXPECT_EQ(bmp.GetLineArray()[0][5], 99);
}

TEST(PLAnyBmp, EmptyImageHasRowsButNoPixels) {
    PLAnyBmp bmp;
    bmp.CreateFromData(0, 3, PLPixelFormat::A8R8G8B8, nullptr, 0, {0, 0});
    EXPECT_EQ(bmp.GetWidth(), 0);
    EXPECT_EQ(bmp.GetBytesPerLine(), 0);
    PLAnyBmp copy;
    copy.CreateCopy(bmp, PLPixelFormat::R8G8B8);
    EXPECT_EQ(copy.GetHeight(), 3);
}

}  // namespace
