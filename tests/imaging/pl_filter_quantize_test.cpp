#include "imaging/pl_filter_quantize.h"

#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace {

using decoder_test::CodeOf;

using Colour = std::array<std::uint8_t, 3>;  // red, green, blue

// A 32-bit bitmap of width x height filled by colourAt (x, y).
template <class ColourAt>
void MakeImage(PLAnyBmp& bmp, int width, int height, ColourAt colourAt) {
    bmp.CreateFromData(width, height, PLPixelFormat::X8R8G8B8, nullptr, 0, {0, 0});
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour c = colourAt(x, y);
            std::uint8_t* p = bmp.GetLineArray()[y] + 4 * x;
            p[0] = c[2], p[1] = c[1], p[2] = c[0], p[3] = 255;
        }
    }
}

void MakeFlat(PLAnyBmp& bmp, int width, int height, Colour colour) {
    MakeImage(bmp, width, height, [&](int, int) { return colour; });
}

Colour EntryOf(const PLBmp& bmp, int index) {
    const std::uint8_t* p = bmp.GetPalette() + 4 * index;
    return {p[2], p[1], p[0]};
}

std::set<int> IndicesOf(const PLBmp& bmp) {
    std::set<int> indices;
    for (int y = 0; y < bmp.GetHeight(); ++y) {
        for (int x = 0; x < bmp.GetWidth(); ++x) indices.insert(bmp.GetLineArray()[y][x]);
    }
    return indices;
}

TEST(PLFilterQuantize, OneColourMedianCutGivesTheCornersAndOneIndex) {
    PLAnyBmp image;
    MakeFlat(image, 5, 3, {200, 100, 50});
    PLAnyBmp indexed;
    PLFilterQuantize(PLFilterQuantize::MedianCutPalette, PLFilterQuantize::NoDither)
        .Apply(image, indexed);
    EXPECT_EQ(indexed.GetPixelFormat(), PLPixelFormat::I8);
    EXPECT_EQ(indexed.GetSize(), (PLPoint{5, 3}));
    // Entry 8 is the box of the one occupied cell (25, 12, 6): (2 x cell) x 255 / 62.
    EXPECT_EQ(EntryOf(indexed, 8), (Colour{205, 98, 49}));
    EXPECT_EQ(EntryOf(indexed, 0), (Colour{0, 0, 0}));
    EXPECT_EQ(EntryOf(indexed, 7), (Colour{255, 255, 255}));
    EXPECT_EQ(IndicesOf(indexed), (std::set<int>{8}));
}

TEST(PLFilterQuantize, FixedPaletteWhateverTheImage) {
    const std::array<std::uint8_t, 1024>& fixed = PLFilterQuantize::GetFixedPalette();
    const auto entry = [&fixed](int i) {
        return Colour{fixed[4 * i + 2], fixed[4 * i + 1], fixed[4 * i]};
    };
    EXPECT_EQ(entry(0), (Colour{0, 0, 0}));
    EXPECT_EQ(entry(7), (Colour{192, 192, 192}));
    EXPECT_EQ(entry(255), (Colour{255, 255, 255}));
    EXPECT_EQ(entry(16 + 1 + 2 * 6 + 3 * 36), (Colour{177, 133, 81}));
    EXPECT_EQ(entry(232), (Colour{196, 196, 196}));

    for (const int paletteType : {PLFilterQuantize::FixedPalette, PLFilterQuantize::UserPalette}) {
        SCOPED_TRACE(paletteType);
        PLAnyBmp image;
        MakeImage(image, 16, 16, [](int x, int y) {
            return Colour{static_cast<std::uint8_t>(16 * x), static_cast<std::uint8_t>(16 * y), 7};
        });
        PLAnyBmp indexed;
        PLFilterQuantize(paletteType, PLFilterQuantize::NoDither).Apply(image, indexed);
        EXPECT_EQ(std::memcmp(indexed.GetPalette(), fixed.data(), fixed.size()), 0);
    }
}

TEST(PLFilterQuantize, ColoursOfOneCellShareTheFirstIndexFound) {
    // Grey 128 is entry 248 of the fixed palette; grey 135, in the same cell, alone goes to
    // the nearer cube grey 133.
    const Colour first = {128, 128, 128};
    const Colour second = {135, 135, 135};
    PLAnyBmp alone;
    MakeFlat(alone, 1, 1, second);
    PLAnyBmp indexed;
    const PLFilterQuantize fixed(PLFilterQuantize::FixedPalette, PLFilterQuantize::NoDither);
    fixed.Apply(alone, indexed);
    const int nearest = indexed.GetLineArray()[0][0];
    EXPECT_EQ(EntryOf(indexed, nearest), (Colour{133, 133, 133}));

    PLAnyBmp both;
    MakeImage(both, 2, 1, [&](int x, int) { return x == 0 ? first : second; });
    fixed.Apply(both, indexed);
    EXPECT_EQ(indexed.GetLineArray()[0][0], 248);
    EXPECT_EQ(indexed.GetLineArray()[0][1], 248);
}

TEST(PLFilterQuantize, PopularityLeavesTheUpperFacesToTheCorners) {
    PLAnyBmp image;
    // Mostly pure red (cell red 31), some grey 100 (cell 12).
    MakeImage(image, 10, 10, [](int x, int) {
        return x < 8 ? Colour{255, 0, 0} : Colour{100, 100, 100};
    });
    PLAnyBmp indexed;
    PLFilterQuantize(PLFilterQuantize::PopularityPalette, PLFilterQuantize::NoDither)
        .Apply(image, indexed);
    EXPECT_EQ(EntryOf(indexed, 8), (Colour{98, 98, 98}));
    for (int i = 9; i < 256; ++i) EXPECT_EQ(EntryOf(indexed, i), (Colour{0, 0, 0})) << i;
    EXPECT_EQ(EntryOf(indexed, indexed.GetLineArray()[0][0]), (Colour{255, 0, 0}));
    EXPECT_EQ(indexed.GetLineArray()[0][9], 8);
}

TEST(PLFilterQuantize, MedianCutSeparatesDistinctColours) {
    const Colour a = {40, 80, 120};
    const Colour b = {200, 160, 100};
    PLAnyBmp image;
    MakeImage(image, 8, 8, [&](int x, int y) { return (x + y) % 3 == 0 ? a : b; });
    PLAnyBmp indexed;
    PLFilterQuantize(PLFilterQuantize::MedianCutPalette, PLFilterQuantize::NoDither)
        .Apply(image, indexed);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const Colour wanted = (x + y) % 3 == 0 ? a : b;
            const Colour got = EntryOf(indexed, indexed.GetLineArray()[y][x]);
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], wanted[k], 8) << x << "," << y;
        }
    }
    EXPECT_EQ(IndicesOf(indexed).size(), 2u);
}

TEST(PLFilterQuantize, OrderedDitherRepeatsEveryFourPixels) {
    PLAnyBmp image;
    MakeFlat(image, 11, 9, {128, 128, 128});
    PLAnyBmp indexed;
    PLFilterQuantize(PLFilterQuantize::FixedPalette, PLFilterQuantize::OrderedDither)
        .Apply(image, indexed);
    // The pattern is anchored at each row's last pixel.
    const auto at = [&](int x, int y) { return indexed.GetLineArray()[y][x]; };
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 11; ++x) {
            EXPECT_EQ(at(x, y), at(10 - (10 - x) % 4, y % 4)) << x << "," << y;
        }
    }
    EXPECT_GT(IndicesOf(indexed).size(), 1u);
}

TEST(PLFilterQuantize, FloydSteinbergKeepsTheAverageColour) {
    PLAnyBmp image;
    MakeFlat(image, 32, 32, {100, 100, 100});
    PLAnyBmp indexed;
    PLFilterQuantize(PLFilterQuantize::FixedPalette, PLFilterQuantize::FloydSteinbergDither)
        .Apply(image, indexed);
    double sum = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) sum += EntryOf(indexed, indexed.GetLineArray()[y][x])[1];
    }
    EXPECT_NEAR(sum / (32 * 32), 100.0, 2.0);
    EXPECT_GT(IndicesOf(indexed).size(), 1u);
}

TEST(PLFilterQuantize, BitmapsConvertTo8BitsThroughTheQuantiser) {
    PLAnyBmp image;
    MakeFlat(image, 4, 4, {10, 200, 30});
    PLAnyBmp indexed;
    indexed.SetQuantizationMode(PLFilterQuantize::NoDither, PLFilterQuantize::MedianCutPalette);
    indexed.CreateCopy(image, PLPixelFormat::I8);
    EXPECT_EQ(indexed.GetPixelFormat(), PLPixelFormat::I8);
    EXPECT_EQ(IndicesOf(indexed).size(), 1u);
}

TEST(PLFilterQuantize, OnlyTrueColourSourcesAreRead) {
    PLAnyBmp grey;
    grey.CreateFromData(2, 2, PLPixelFormat::L8, nullptr, 0, {0, 0});
    PLAnyBmp indexed;
    EXPECT_EQ(CodeOf([&] { PLFilterQuantize(0, 0).Apply(grey, indexed); }),
              PLErrFormatNotSupported);
}

}  // namespace
