#include "imaging/pl_filter_crop.h"

#include "imaging/pl_any_bmp.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(PLFilterCrop, KeepsTheRegionFromItsCorner) {
    PLAnyBmp source;
    source.CreateFromData(200, 100, PLPixelFormat::X8R8G8B8, nullptr, 0, {96, 96});
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            std::uint8_t* p = source.GetLineArray()[y] + 4 * x;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
        }
    }
    PLAnyBmp dest;
    PLFilterCrop(10, 20, 110, 70).Apply(source, dest);
    EXPECT_EQ(dest.GetSize(), (PLPoint{100, 50}));
    EXPECT_EQ(dest.GetResolution(), (PLPoint{96, 96}));
    EXPECT_EQ(dest.GetLineArray()[0][0], 10);
    EXPECT_EQ(dest.GetLineArray()[0][1], 20);
    EXPECT_EQ(dest.GetLineArray()[49][4 * 99], 109);
    EXPECT_EQ(dest.GetLineArray()[49][4 * 99 + 1], 69);

    source.ApplyFilter(PLFilterCrop(10, 20, 110, 70));
    EXPECT_EQ(source.GetSize(), (PLPoint{100, 50}));
    EXPECT_EQ(0, std::memcmp(source.GetBits(), dest.GetBits(), 100 * 50 * 4));
}

TEST(PLFilterCrop, PalettedImagesKeepTheirPalette) {
    PLAnyBmp source;
    const std::uint8_t bits[] = {0xF0, 0x0F};  // one row of 16 pixels
    source.CreateFromData(16, 1, PLPixelFormat::L1, bits, 0, {0, 0});
    source.GetPalette()[0] = 77;
    PLAnyBmp dest;
    PLFilterCrop(3, 0, 13, 1).Apply(source, dest);
    EXPECT_EQ(dest.GetWidth(), 10);
    EXPECT_EQ(dest.GetPalette()[0], 77);
    // Source bits 3..12 are 1 0 0 0 0 0 0 0 0 1.
    EXPECT_EQ(dest.GetLineArray()[0][0], 0x80);
    EXPECT_EQ(dest.GetLineArray()[0][1], 0x40);
}

TEST(PLFilterCrop, RegionsOutsideTheImageAreRefused) {
    PLAnyBmp source;
    source.CreateFromData(20, 10, PLPixelFormat::R8G8B8, nullptr, 0, {0, 0});
    const PLFilterCrop bad[] = {{-1, 0, 5, 5}, {0, 0, 21, 5}, {0, 0, 5, 11}, {6, 0, 5, 5}};
    for (const PLFilterCrop& crop : bad) {
        PLAnyBmp dest;
        EXPECT_THROW(crop.Apply(source, dest), PLTextException);
    }
}

}  // namespace
