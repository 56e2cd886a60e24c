#include "platform/bitmap_font.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(BitmapFont, MeasuresLongestLineAndLineCount) {
    struct Case {
        const char* text;
        std::int32_t columns;
        std::int32_t lines;
    };
    const Case cases[] = {
        {"", 0, 1},         {"a", 1, 1},     {"abc\r\nde", 3, 2},
        {"ab\ncdef", 4, 2}, {"ab\rc", 2, 2}, {"x\r\n", 1, 2},
        {"\r\n\r\n", 0, 3}, {"\n\r", 0, 3},  {"score :  99000\r\n  time :  00 : 00  ", 19, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ScreenRect r = BitmapFontMeasure({6, 3, 100, 40}, c.text);
        EXPECT_EQ(r.left, 6);
        EXPECT_EQ(r.top, 3);
        EXPECT_EQ(r.right, 6 + c.columns * BitmapFontCellWidth);
        EXPECT_EQ(r.bottom, 3 + c.lines * BitmapFontLineHeight);
    }
}

// Every printable character has a glyph of its own; only the space is blank, and only the
// characters that hang below the line use the descender row.
TEST(BitmapFont, GlyphsAreDistinctAndSitOnTheBaseline) {
    const std::string descenders = ",;_gjpqy";
    std::set<std::vector<std::uint8_t>> seen;
    for (char c = ' '; c <= '~'; ++c) {
        SCOPED_TRACE(std::string(1, c));
        const std::uint8_t* g = BitmapFontGlyph(c);
        std::vector<std::uint8_t> rows(g, g + 8);
        EXPECT_TRUE(seen.insert(rows).second) << "same glyph as another character";
        std::uint32_t ink = 0;
        for (std::uint8_t r : rows) ink |= r;
        EXPECT_EQ(ink == 0, c == ' ');
        EXPECT_EQ(rows[7] != 0, descenders.find(c) != std::string::npos);
        EXPECT_EQ(ink & ~0x1Fu, 0u);
    }
    // Characters without a glyph draw as '?'.
    EXPECT_EQ(BitmapFontGlyph('\t'), BitmapFontGlyph('?'));
    EXPECT_EQ(BitmapFontGlyph('\x7F'), BitmapFontGlyph('?'));
    EXPECT_EQ(BitmapFontGlyph('\xE9'), BitmapFontGlyph('?'));
}

// Draws into a buffer with a sentinel frame so that any write outside the clip shows.
TEST(BitmapFont, DrawsCellsAndClipsToRectangleAndPixels) {
    constexpr std::uint32_t Sentinel = 0x12345678;
    constexpr std::uint32_t Ink = 0xFF000000;
    constexpr std::uint32_t Paper = 0x00FFFFFF;
    constexpr std::int32_t W = 20;
    constexpr std::int32_t H = 14;
    std::vector<std::uint32_t> pixels(W * H, Sentinel);

    // "A" then "7" on a second line, the rectangle cutting the second line's last rows.
    BitmapFontDraw(pixels.data(), W, H, W, {2, 1, 14, 18}, "A\r\n7", Ink, Paper);
    const std::uint8_t* a = BitmapFontGlyph('A');
    for (std::int32_t y = 0; y < H; ++y) {
        for (std::int32_t x = 0; x < W; ++x) {
            SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
            const std::uint32_t p = pixels[static_cast<std::size_t>(y * W + x)];
            const bool inFirstCell = x >= 2 && x < 8 && y >= 1 && y < 11;
            const bool inSecondCell = x >= 2 && x < 8 && y >= 11 && y < H;
            if (!inFirstCell && !inSecondCell) {
                EXPECT_EQ(p, Sentinel);
                continue;
            }
            if (inFirstCell) {
                const std::int32_t row = y - 1 - 1;  // cell top, then the blank row
                const std::int32_t col = x - 2;
                const bool ink = row >= 0 && row < 8 && col < 5 && ((a[row] >> (4 - col)) & 1);
                EXPECT_EQ(p, ink ? Ink : Paper);
            } else {
                EXPECT_TRUE(p == Ink || p == Paper);
            }
        }
    }

    // A rectangle wholly off the pixels writes nothing.
    std::vector<std::uint32_t> untouched(W * H, Sentinel);
    BitmapFontDraw(untouched.data(), W, H, W, {-40, -40, -1, -1}, "xyz", Ink, Paper);
    BitmapFontDraw(untouched.data(), W, H, W, {W, 0, W + 30, H}, "xyz", Ink, Paper);
    EXPECT_EQ(untouched, std::vector<std::uint32_t>(W * H, Sentinel));
}

}  // namespace
