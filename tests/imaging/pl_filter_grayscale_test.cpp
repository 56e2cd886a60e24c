#include "imaging/pl_filter_grayscale.h"

#include "imaging/pl_any_bmp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

TEST(PLFilterGrayscale, WeighsRedGreenAndBlue) {
    struct Case {
        PLPixelFormat format;
        std::vector<std::uint8_t> pixel;
        std::uint8_t grey;
    };
    const Case cases[] = {
        {PLPixelFormat::R8G8B8, {0, 255, 0}, 182},
        {PLPixelFormat::R8G8B8, {0, 0, 255}, 54},
        {PLPixelFormat::R8G8B8, {255, 0, 0}, 18},
        {PLPixelFormat::A8R8G8B8, {255, 255, 255, 0}, 255},
        {PLPixelFormat::X8R8G8B8, {0, 255, 0, 9}, 182},
        {PLPixelFormat::R5G6B5, {0xE0, 0x07}, 180},  // green 0xFC
        {PLPixelFormat::I8, {200}, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.GetName());
        PLAnyBmp source;
        source.CreateFromData(1, 1, c.format, c.pixel.data(), 0, {50, 60});
        PLAnyBmp dest;
        PLFilterGrayscale().Apply(source, dest);
        EXPECT_EQ(dest.GetPixelFormat(), PLPixelFormat::L8);
        EXPECT_EQ(dest.GetResolution(), (PLPoint{50, 60}));
        EXPECT_EQ(dest.GetLineArray()[0][0], c.grey);
    }
}

TEST(PLFilterGrayscale, LuminanceImagesAreCopiedExactly) {
    PLAnyBmp source;
    const std::uint8_t pixels[] = {3, 1, 4, 1, 5, 9};
    source.CreateFromData(3, 2, PLPixelFormat::L8, pixels, 0, {0, 0});
    source.GetPalette()[5] = 42;
    PLAnyBmp dest;
    PLFilterGrayscale().Apply(source, dest);
    EXPECT_EQ(dest.GetPixelFormat(), PLPixelFormat::L8);
    EXPECT_EQ(0, std::memcmp(dest.GetBits(), pixels, 6));
    EXPECT_EQ(dest.GetPalette()[5], 42);

    source.ApplyFilter(PLFilterGrayscale());
    EXPECT_EQ(0, std::memcmp(source.GetBits(), pixels, 6));
}

}  // namespace
