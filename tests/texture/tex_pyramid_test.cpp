#include "texture/tex_pyramid.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// Restores the heap controls and checks that every pyramid buffer went back to the heap.
class TexPyramidTest : public testing::Test {
protected:
    void SetUp() override { blocksBefore = PrivateHeapBlockCount(); }
    void TearDown() override {
        PrivateHeapRefuseNext(0);
        PrivateHeapSetCeiling(0);
        TexPyramidFree(pyramid);
        EXPECT_EQ(PrivateHeapBlockCount(), blocksBefore) << "blocks leaked";
    }

    int SetImage(const std::vector<std::uint32_t>& pixels, int w, int h, bool bordered) {
        return TexPyramidSetImage(pyramid, pixels.data(), w, w, h, bordered);
    }

    std::size_t blocksBefore = 0;
    TexPyramid pyramid;
};

std::uint32_t LevelPixel(const TexPyramid& p, int k, int x, int y) {
    return p.colourLevels[k][y * p.levelWidths[k] + x];
}

TEST(TexPyramidWeights, SevenRowsSumTo64) {
    const std::int32_t expected[7][4] = {{-5, 55, 17, -3}, {-2, 50, 18, -2}, {1, 45, 19, -1},
                                         {4, 40, 20, 0},   {7, 35, 21, 1},   {9, 32, 21, 2},
                                         {11, 29, 21, 3}};
    for (int m = 0; m < 7; ++m) {
        SCOPED_TRACE(m);
        const auto w = TexPyramidMagnifyWeights(m);
        EXPECT_EQ(w[0], expected[m][0]);
        EXPECT_EQ(w[1], expected[m][1]);
        EXPECT_EQ(w[2], expected[m][2]);
        EXPECT_EQ(w[3], expected[m][3]);
        EXPECT_EQ(w[0] + w[1] + w[2] + w[3], 64);
    }
}

TEST_F(TexPyramidTest, LevelSizesCarryTheMarginsWhenBordered) {
    std::vector<std::uint32_t> pixels(30 * 20, 0xFF808080u);
    ASSERT_EQ(SetImage(pixels, 30, 20, true), 0);
    EXPECT_EQ(pyramid.paddedWidth, 34);
    EXPECT_EQ(pyramid.paddedHeight, 24);
    EXPECT_EQ(pyramid.magnifiedWidth, 68);
    EXPECT_EQ(pyramid.magnifiedHeight, 48);
    for (int k = 0; k < TexPyramidLevelCount; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(pyramid.levelWidths[k], 30 + 2 * TexPyramidLevelMargins[k]);
        EXPECT_EQ(pyramid.levelHeights[k], 20 + 2 * TexPyramidLevelMargins[k]);
    }
    EXPECT_EQ(pyramid.levelWidths[12], 30 + 118);

    ASSERT_EQ(SetImage(pixels, 30, 20, false), 0);
    EXPECT_EQ(pyramid.paddedWidth, 30);
    EXPECT_EQ(pyramid.magnifiedHeight, 40);
    for (int k = 0; k < TexPyramidLevelCount; ++k) {
        EXPECT_EQ(pyramid.levelWidths[k], 30);
        EXPECT_EQ(pyramid.levelHeights[k], 20);
    }
}

TEST_F(TexPyramidTest, ConstantTilingImageStaysConstantEverywhere) {
    const std::uint32_t colour = 0xFF7F30C4u;
    std::vector<std::uint32_t> pixels(9 * 7, colour);
    ASSERT_EQ(SetImage(pixels, 9, 7, false), 0);
    const std::uint32_t level0 = LevelPixel(pyramid, 0, 0, 0);
    EXPECT_EQ(level0, 0xC07F58A2u);  // (c >> 1) + 0x40 per colour, ((a + 1) >> 1) + 0x40 alpha
    ASSERT_EQ(TexPyramidBuildLevel(pyramid, 12), 0);
    for (int k = 0; k < TexPyramidLevelCount; ++k) {
        for (int i = 0; i < 9 * 7; ++i) ASSERT_EQ(pyramid.colourLevels[k][i], level0) << k;
    }
    // The magnification rounds every channel like alpha: (c + 1) / 2 + 0x40.
    for (int m = 0; m < TexPyramidMagnifiedCount; ++m) {
        ASSERT_EQ(TexPyramidBuildMagnified(pyramid, m), 0);
        for (int i = 0; i < 18 * 14; ++i) ASSERT_EQ(pyramid.colourMagnified[m][i], 0xC08058A2u) << m;
    }
}

TEST_F(TexPyramidTest, BorderedLevelZeroConvertsAlphaAndKeepsZeroFormMargins) {
    std::vector<std::uint32_t> pixels = {0xFFFFFFFFu, 0x00000000u, 0xFFFFFFFFu, 0xFFFFFFFFu};
    ASSERT_EQ(SetImage(pixels, 2, 2, true), 0);
    // Three pixels of transparent margin lie beyond the blur's reach at the level's corner.
    EXPECT_EQ(LevelPixel(pyramid, 0, 0, 0), 0x40404040u);
    // Blurred, opaque pixels stay within the half range: above zero form, at most 0xC0 alpha.
    const std::uint32_t centre = LevelPixel(pyramid, 0, 4, 4);
    EXPECT_GT(centre >> 24, 0x40u);
    EXPECT_LE(centre >> 24, 0xC0u);

    // Unblurred, via an image big enough that the centre sees only opaque pixels.
    std::vector<std::uint32_t> opaque(16 * 16, 0xFFFFFFFFu);
    ASSERT_EQ(SetImage(opaque, 16, 16, true), 0);
    EXPECT_EQ(LevelPixel(pyramid, 0, 11, 11), 0xC0BFBFBFu);
}

TEST_F(TexPyramidTest, NewBorderedLevelStartsAsZeroForm) {
    std::vector<std::uint32_t> pixels(4 * 4, 0xFF000000u);
    ASSERT_EQ(SetImage(pixels, 4, 4, true), 0);
    ASSERT_EQ(TexPyramidBuildLevel(pyramid, 1), 0);
    // Level 1 adds two pixels of margin to level 0's three; its blur reaches 2 pixels.
    EXPECT_EQ(LevelPixel(pyramid, 1, 0, 0), 0x40404040u);
    EXPECT_EQ(LevelPixel(pyramid, 1, 1, 1), 0x40404040u);
}

TEST_F(TexPyramidTest, TilingBlurWrapsAroundNarrowImages) {
    // One bright column at x = 0: the tiling blur carries it to the last column as well.
    std::vector<std::uint32_t> pixels(8 * 3, 0xFF000000u);
    for (int y = 0; y < 3; ++y) pixels[y * 8] = 0xFFFFFFFFu;
    ASSERT_EQ(SetImage(pixels, 8, 3, false), 0);
    EXPECT_EQ(LevelPixel(pyramid, 0, 7, 1), LevelPixel(pyramid, 0, 1, 1));
    EXPECT_GT(LevelPixel(pyramid, 0, 7, 1) & 0xFF, 0x40u);
    EXPECT_EQ(LevelPixel(pyramid, 0, 4, 1) & 0xFF, 0x40u);

    // Images narrower than the widest tap (8 pixels at level 12) wrap by modulo.
    for (int side : {1, 2, 3}) {
        SCOPED_TRACE(side);
        std::vector<std::uint32_t> small(static_cast<std::size_t>(side) * side, 0xFF204060u);
        ASSERT_EQ(SetImage(small, side, side, false), 0);
        ASSERT_EQ(TexPyramidBuildLevel(pyramid, 12), 0);
        EXPECT_EQ(LevelPixel(pyramid, 12, 0, 0), LevelPixel(pyramid, 0, 0, 0));
    }
}

// One channel of a level chain worked out plainly: each level centred in the next (zero form
// around it when bordered), then blurred by passes of (a + 2b + c + 2) >> 2 with wrapping taps
// d apart, rows before columns.
std::vector<std::vector<int>> ReferenceLevels(const TexPyramid& p, const std::vector<int>& padded) {
    std::vector<std::vector<int>> levels;
    for (int k = 0; k < TexPyramidLevelCount; ++k) {
        const int w = p.levelWidths[k];
        const int h = p.levelHeights[k];
        const int bw = k == 0 ? p.paddedWidth : p.levelWidths[k - 1];
        const int bh = k == 0 ? p.paddedHeight : p.levelHeights[k - 1];
        const std::vector<int>& below = k == 0 ? padded : levels.back();
        std::vector<int> level(static_cast<std::size_t>(w) * h, 0x40);
        for (int y = 0; y < bh; ++y) {
            for (int x = 0; x < bw; ++x) {
                const int v = below[static_cast<std::size_t>(y) * bw + x];
                level[static_cast<std::size_t>(y + (h - bh) / 2) * w + x + (w - bw) / 2] =
                    k == 0 ? (v >> 1) + 0x40 : v;
            }
        }
        const int j = std::max(k - 1, 0);
        const int d = 1 << (j / 3);
        auto blurLine = [&](int count, auto at) {
            std::vector<int> line(static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i) line[static_cast<std::size_t>(i)] = at(i);
            auto tap = [&](int i) { return line[static_cast<std::size_t>(((i % count) + count) % count)]; };
            for (int i = 0; i < count; ++i) at(i) = (tap(i - d) + 2 * tap(i) + tap(i + d) + 2) >> 2;
        };
        for (int pass = 0; pass < (j % 3 == 0 ? 2 : 3); ++pass) {
            for (int y = 0; y < h; ++y) {
                blurLine(w, [&](int x) -> int& { return level[static_cast<std::size_t>(y) * w + x]; });
            }
            for (int x = 0; x < w; ++x) {
                blurLine(h, [&](int y) -> int& { return level[static_cast<std::size_t>(y) * w + x]; });
            }
        }
        levels.push_back(std::move(level));
    }
    return levels;
}

TEST_F(TexPyramidTest, EveryLevelMatchesThePlainBlurChain) {
    // A few bright pixels, one at an edge so the tiling blur wraps it; and noise in every
    // channel at sizes that put the level taller than the widest taps (41 rows), narrower
    // than them (3 columns), or neither (13 x 9).
    struct Case {
        int w, h;
        bool isNoise;
    };
    const Case cases[] = {{13, 9, false}, {37, 41, true}, {3, 50, true}};
    for (const Case& c : cases) {
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(c.w) * c.h, 0xFF000000u);
        if (c.isNoise) {
            std::uint32_t state = 7;
            for (std::uint32_t& p : pixels) {
                state = state * 1664525u + 1013904223u;
                p = state;
            }
        } else {
            pixels[4 * c.w + 6] = 0xFF0000FFu;
            pixels[0 * c.w + 12] = 0xFF0000C8u;
            pixels[8 * c.w + 1] = 0xFF000064u;
        }
        for (bool bordered : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " bordered " << bordered);
            ASSERT_EQ(SetImage(pixels, c.w, c.h, bordered), 0);
            ASSERT_EQ(TexPyramidBuildLevel(pyramid, TexPyramidLevelCount - 1), 0);
            const int inset = bordered ? 2 : 0;
            for (int channel = 0; channel < 4; ++channel) {
                SCOPED_TRACE(channel);
                const int shift = 8 * channel;
                std::vector<int> padded(
                    static_cast<std::size_t>(pyramid.paddedWidth) * pyramid.paddedHeight, 0);
                for (int y = 0; y < c.h; ++y) {
                    for (int x = 0; x < c.w; ++x) {
                        const std::uint32_t v = pixels[static_cast<std::size_t>(y) * c.w + x];
                        // Alpha rounds up on its way into the channel form: (a + 1) >> 1.
                        const int value = static_cast<int>((v >> shift) & 0xFF);
                        padded[static_cast<std::size_t>(y + inset) * pyramid.paddedWidth + x +
                               inset] = channel == 3 ? value + 1 : value;
                    }
                }
                const auto expected = ReferenceLevels(pyramid, padded);
                for (int k = 0; k < TexPyramidLevelCount; ++k) {
                    SCOPED_TRACE(k);
                    const std::size_t count =
                        static_cast<std::size_t>(pyramid.levelWidths[k]) * pyramid.levelHeights[k];
                    for (std::size_t i = 0; i < count; ++i) {
                        ASSERT_EQ(static_cast<int>((pyramid.colourLevels[k][i] >> shift) & 0xFF),
                                  expected[k][i])
                            << i;
                    }
                }
            }
        }
    }
}

TEST_F(TexPyramidTest, BuildingALevelBuildsTheMissingLevelsBelow) {
    std::vector<std::uint32_t> pixels(5 * 5, 0xFF102030u);
    ASSERT_EQ(SetImage(pixels, 5, 5, true), 0);
    for (int k = 1; k < TexPyramidLevelCount; ++k) EXPECT_EQ(pyramid.colourLevels[k], nullptr);
    ASSERT_EQ(TexPyramidBuildLevel(pyramid, 5), 0);
    for (int k = 0; k <= 5; ++k) EXPECT_NE(pyramid.colourLevels[k], nullptr) << k;
    for (int k = 6; k < TexPyramidLevelCount; ++k) EXPECT_EQ(pyramid.colourLevels[k], nullptr);
}

TEST_F(TexPyramidTest, MagnificationInterpolatesWithItsKernel) {
    // Rows of one grey value each, constant along x: the horizontal pass keeps the vertical sums.
    const int values[4] = {0, 100, 200, 40};
    std::vector<std::uint32_t> pixels;
    for (int v : values) {
        for (int x = 0; x < 4; ++x) pixels.push_back(0xFF000000u | static_cast<std::uint32_t>(v));
    }
    ASSERT_EQ(SetImage(pixels, 4, 4, false), 0);
    ASSERT_EQ(TexPyramidBuildMagnified(pyramid, 3), 0);
    EXPECT_EQ(pyramid.kernelWeights, (std::array<std::int32_t, 4>{4, 40, 20, 0}));
    auto scaled = [](int sum64) {  // the final pass on a row that is constant along x
        int v = sum64 * 64 / 2 + 0x40800;
        v = v < 0 ? 0 : (v > 0xFF000 ? 0xFF000 : v);
        return static_cast<std::uint32_t>(v >> 12);
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const int before = values[(i + 3) % 4];
        const int after = values[(i + 1) % 4];
        const std::uint32_t odd = pyramid.colourMagnified[3][(2 * i + 1) * 8 + 3] & 0xFF;
        const std::uint32_t even = pyramid.colourMagnified[3][(2 * i) * 8 + 5] & 0xFF;
        EXPECT_EQ(odd, scaled(4 * before + 40 * values[i] + 20 * after));
        EXPECT_EQ(even, scaled(20 * before + 40 * values[i] + 4 * after));
    }
    // Opaque stays opaque: alpha lands on 0xC0.
    EXPECT_EQ(pyramid.colourMagnified[3][0] >> 24, 0xC0u);
}

TEST_F(TexPyramidTest, EveryMagnificationMatchesTheTwoPassKernel) {
    const int w = 5;
    const int h = 4;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = 0xFF000000u | static_cast<std::uint32_t>((i * 97 + 13) % 256);
    }
    ASSERT_EQ(SetImage(pixels, w, h, true), 0);
    const int pw = pyramid.paddedWidth;
    const int ph = pyramid.paddedHeight;
    auto source = [&](int x, int y) {
        return static_cast<int>(pyramid.paddedSource[((y + ph) % ph) * pw + (x + pw) % pw] & 0xFF);
    };
    for (int m = 0; m < TexPyramidMagnifiedCount; ++m) {
        SCOPED_TRACE(m);
        ASSERT_EQ(TexPyramidBuildMagnified(pyramid, m), 0);
        const auto [w1, w2, w3, w4] = TexPyramidMagnifyWeights(m);
        // Output 2i leans on i - 2 .. i + 1, output 2i + 1 on i - 1 .. i + 2.
        auto taps = [&](int out, auto value) {
            const int i = out / 2;
            return out % 2 == 0
                       ? w4 * value(i - 2) + w3 * value(i - 1) + w2 * value(i) + w1 * value(i + 1)
                       : w1 * value(i - 1) + w2 * value(i) + w3 * value(i + 1) + w4 * value(i + 2);
        };
        for (int y = 0; y < 2 * ph; ++y) {
            for (int x = 0; x < 2 * pw; ++x) {
                const int sum = taps(x, [&](int sx) {
                    return taps(y, [&](int sy) { return source(sx, sy); });
                });
                const int expected = std::clamp(sum / 2 + 0x40800, 0, 0xFF000) >> 12;
                ASSERT_EQ(static_cast<int>(pyramid.colourMagnified[m][y * 2 * pw + x] & 0xFF), expected)
                    << x << ", " << y;
            }
        }
    }
}

TEST_F(TexPyramidTest, NegativeLobesClampInTheFinalPass) {
    // A hard black-white edge makes the sharpest kernel undershoot and overshoot; the stored
    // form keeps the excursion (below 0x40, above 0xC0) instead of wrapping.
    std::vector<std::uint32_t> pixels(8 * 8, 0xFF000000u);
    for (int y = 0; y < 8; ++y) {
        for (int x = 4; x < 8; ++x) pixels[y * 8 + x] = 0xFFFFFFFFu;
    }
    ASSERT_EQ(SetImage(pixels, 8, 8, false), 0);
    ASSERT_EQ(TexPyramidBuildMagnified(pyramid, 0), 0);
    std::uint32_t lowest = 0xFF;
    std::uint32_t highest = 0;
    for (int x = 0; x < 16; ++x) {
        const std::uint32_t v = pyramid.colourMagnified[0][5 * 16 + x] & 0xFF;
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    EXPECT_LT(lowest, 0x40u);
    EXPECT_GT(highest, 0xC0u);
}

TEST_F(TexPyramidTest, CornerMapMarksTransparentMixedAndOpaqueCorners) {
    // 3 x 1: opaque, half, transparent.
    std::vector<std::uint32_t> pixels = {0xFF000000u, 0x80000000u, 0x00000000u};
    ASSERT_EQ(SetImage(pixels, 3, 1, true), 0);
    ASSERT_NE(pyramid.cornerMap, nullptr);
    // Corners lie between pixels and include the border ring, so no corner of a one-row image
    // is opaque; the last column sees only the transparent pixel and the border.
    const std::uint8_t expected[2][4] = {{2, 2, 2, 0}, {2, 2, 2, 0}};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(pyramid.cornerMap[y * 4 + x], expected[y][x]);
    }
    std::vector<std::uint32_t> block(3 * 3, 0xFF000000u);
    block[8] = 0;
    ASSERT_EQ(SetImage(block, 3, 3, true), 0);
    EXPECT_EQ(pyramid.cornerMap[1 * 4 + 1], TexCornerOpaque);
    EXPECT_EQ(pyramid.cornerMap[2 * 4 + 2], TexCornerMixed);
    EXPECT_EQ(pyramid.cornerMap[0], TexCornerMixed);

    std::vector<std::uint32_t> clear(3 * 3, 0x00FFFFFFu);
    ASSERT_EQ(SetImage(clear, 3, 3, true), 0);
    EXPECT_EQ(pyramid.cornerMap[1 * 4 + 1], TexCornerTransparent);

    ASSERT_EQ(SetImage(clear, 3, 3, false), 0);
    EXPECT_EQ(pyramid.cornerMap, nullptr);
}

TEST_F(TexPyramidTest, MapLevelsFollowTheColourLevels) {
    std::vector<std::uint32_t> pixels(6 * 4, 0xFF000000u);
    std::vector<std::uint8_t> map(6 * 4, 255);
    EXPECT_EQ(TexPyramidSetMap(pyramid, map.data(), 6), -1) << "no image yet";
    ASSERT_EQ(SetImage(pixels, 6, 4, false), 0);
    EXPECT_EQ(TexPyramidSetMap(pyramid, map.data(), 5), -1) << "pitch below the width";
    ASSERT_EQ(TexPyramidSetMap(pyramid, map.data(), 6), 0);
    EXPECT_EQ(pyramid.mapLevels[0][0], 0xC0);
    ASSERT_EQ(TexPyramidBuildLevel(pyramid, 3), 0);
    ASSERT_EQ(TexPyramidBuildMagnified(pyramid, 2), 0);
    for (int k = 0; k <= 3; ++k) ASSERT_NE(pyramid.mapLevels[k], nullptr);
    EXPECT_EQ(pyramid.mapLevels[3][5], 0xC0);
    EXPECT_EQ(pyramid.mapMagnified[2][7], 0xC0);

    // Setting a map again drops the colour levels above 0 so both rebuild together.
    ASSERT_EQ(TexPyramidSetMap(pyramid, map.data(), 6), 0);
    EXPECT_EQ(pyramid.colourLevels[3], nullptr);
    EXPECT_EQ(pyramid.mapLevels[3], nullptr);
    EXPECT_NE(pyramid.colourLevels[0], nullptr);

    // Same size keeps the map; a new size drops it.
    ASSERT_EQ(SetImage(pixels, 6, 4, false), 0);
    EXPECT_TRUE(TexPyramidHasMap(pyramid));
    ASSERT_EQ(SetImage(pixels, 4, 6, false), 0);
    EXPECT_FALSE(TexPyramidHasMap(pyramid));
}

TEST_F(TexPyramidTest, UnusableSizesAreRefusedAndLeaveThePyramidAsItWas) {
    std::vector<std::uint32_t> pixels(4, 0xFFFFFFFFu);
    ASSERT_EQ(SetImage(pixels, 2, 2, true), 0);
    struct Case {
        int pitch, width, height;
    };
    const Case cases[] = {{2, 0, 2}, {2, 2, 0}, {-1, -1, 2}, {1, 2, 2},
                          {0x7FFFFFFF, 0x7FFFFFFF, 2}, {1 << 20, 1 << 20, 1 << 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pitch << " " << c.width << "x" << c.height);
        EXPECT_EQ(TexPyramidSetImage(pyramid, pixels.data(), c.pitch, c.width, c.height, false), -1);
        EXPECT_EQ(pyramid.width, 2);
        EXPECT_TRUE(TexPyramidHasImage(pyramid));
    }
    EXPECT_EQ(TexPyramidSetImage(pyramid, nullptr, 2, 2, 2, false), -1);
    EXPECT_EQ(TexPyramidBuildLevel(pyramid, 13), -1);
    EXPECT_EQ(TexPyramidBuildLevel(pyramid, -1), -1);
    EXPECT_EQ(TexPyramidBuildMagnified(pyramid, 7), -1);

    TexPyramid empty;
    EXPECT_EQ(TexPyramidBuildLevel(empty, 0), -1);
    EXPECT_EQ(TexPyramidBuildMagnified(empty, 0), -1);
}

TEST_F(TexPyramidTest, RefusedAllocationsGiveMinusOneAndARetrySucceeds) {
    std::vector<std::uint32_t> pixels(6 * 6, 0xFF336699u);
    std::vector<std::uint8_t> map(6 * 6, 9);
    // A refused request is retried once, so two refusals make one allocation fail. Refuse the
    // scratch, then the scratch and the padded source, then (through a ceiling) level 0.
    for (int refused : {2, 4}) {
        SCOPED_TRACE(refused);
        PrivateHeapRefuseNext(refused);
        EXPECT_EQ(SetImage(pixels, 6, 6, true), -1);
        EXPECT_FALSE(TexPyramidHasImage(pyramid));
        PrivateHeapRefuseNext(0);
    }
    // The scratch holds a wrapped row and 17 kept rows of the widest level (6 + 2 * 59).
    const std::size_t scratchAndSource = (18 * (6 + 2 * 59) + 16) * 4 + 10 * 10 * 4 + 7 * 7;
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + scratchAndSource + 100);
    EXPECT_EQ(SetImage(pixels, 6, 6, true), -1);
    EXPECT_FALSE(TexPyramidHasImage(pyramid));
    PrivateHeapSetCeiling(0);

    ASSERT_EQ(SetImage(pixels, 6, 6, true), 0);
    ASSERT_EQ(TexPyramidSetMap(pyramid, map.data(), 6), 0);

    PrivateHeapRefuseNext(2);
    EXPECT_EQ(TexPyramidBuildLevel(pyramid, 1), -1);
    EXPECT_EQ(pyramid.colourLevels[1], nullptr);
    PrivateHeapRefuseNext(0);
    ASSERT_EQ(TexPyramidBuildLevel(pyramid, 1), 0);

    // Room for colour level 2 (18 x 18 words) but not its map level: neither is kept.
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + 18 * 18 * 4 + 100);
    EXPECT_EQ(TexPyramidBuildLevel(pyramid, 2), -1);
    EXPECT_EQ(pyramid.colourLevels[2], nullptr);
    EXPECT_EQ(pyramid.mapLevels[2], nullptr);
    PrivateHeapSetCeiling(0);
    EXPECT_EQ(TexPyramidBuildLevel(pyramid, 2), 0);

    PrivateHeapRefuseNext(2);
    EXPECT_EQ(TexPyramidBuildMagnified(pyramid, 4), -1);
    EXPECT_EQ(pyramid.colourMagnified[4], nullptr);
    EXPECT_EQ(pyramid.mapMagnified[4], nullptr);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(TexPyramidBuildMagnified(pyramid, 4), 0);

    PrivateHeapRefuseNext(2);
    EXPECT_EQ(TexPyramidSetMap(pyramid, map.data(), 6), -1);
    EXPECT_FALSE(TexPyramidHasMap(pyramid));
    EXPECT_TRUE(TexPyramidHasImage(pyramid));
}

}  // namespace
