#include "platform/bitmap_font.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::int32_t GlyphWidth = 5;
constexpr std::int32_t GlyphRows = 8;
constexpr std::int32_t GlyphTop = 1;  // blank row above the glyph in its cell
constexpr char FirstGlyph = ' ';
constexpr char LastGlyph = '~';
constexpr std::size_t GlyphCount = LastGlyph - FirstGlyph + 1;

// The glyphs as drawn, eight rows of five pixels each, '#' ink and '.' blank, from ' ' to
// '~'. Capitals and digits stand seven rows tall; the eighth row is for descenders.
constexpr const char* GlyphArt[GlyphCount] = {
    "..... ..... ..... ..... ..... ..... ..... .....",  // ' '
    "..#.. ..#.. ..#.. ..#.. ..#.. ..... ..#.. .....",  // !
    ".#.#. .#.#. ..... ..... ..... ..... ..... .....",  // "
    ".#.#. .#.#. ##### .#.#. ##### .#.#. .#.#. .....",  // #
    "..#.. .#### #.#.. .###. ..#.# ####. ..#.. .....",  // $
    "##... ##..# ...#. ..#.. .#... #..## ...## .....",  // %
    ".##.. #..#. #.#.. .#... #.#.# #..#. .##.# .....",  // &
    "..#.. ..#.. ..... ..... ..... ..... ..... .....",  // '
    "...#. ..#.. .#... .#... .#... ..#.. ...#. .....",  // (
    ".#... ..#.. ...#. ...#. ...#. ..#.. .#... .....",  // )
    "..... ..#.. #.#.# .###. #.#.# ..#.. ..... .....",  // *
    "..... ..#.. ..#.. ##### ..#.. ..#.. ..... .....",  // +
    "..... ..... ..... ..... ..... .##.. ..#.. .#...",  // ,
    "..... ..... ..... ##### ..... ..... ..... .....",  // -
    "..... ..... ..... ..... ..... .##.. .##.. .....",  // .
    "..... ....# ...#. ..#.. .#... #.... ..... .....",  // /
    ".###. #...# #..## #.#.# ##..# #...# .###. .....",  // 0
    "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###. .....",  // 1
    ".###. #...# ....# ...#. ..#.. .#... ##### .....",  // 2
    "##### ...#. ..#.. ...#. ....# #...# .###. .....",  // 3
    "...#. ..##. .#.#. #..#. ##### ...#. ...#. .....",  // 4
    "##### #.... ####. ....# ....# #...# .###. .....",  // 5
    "..##. .#... #.... ####. #...# #...# .###. .....",  // 6
    "##### ....# ...#. ..#.. .#... .#... .#... .....",  // 7
    ".###. #...# #...# .###. #...# #...# .###. .....",  // 8
    ".###. #...# #...# .#### ....# ...#. .##.. .....",  // 9
    "..... .##.. .##.. ..... .##.. .##.. ..... .....",  // :
    "..... .##.. .##.. ..... .##.. .##.. ..#.. .#...",  // ;
    "...#. ..#.. .#... #.... .#... ..#.. ...#. .....",  // <
    "..... ..... ##### ..... ##### ..... ..... .....",  // =
    ".#... ..#.. ...#. ....# ...#. ..#.. .#... .....",  // >
    ".###. #...# ....# ...#. ..#.. ..... ..#.. .....",  // ?
    ".###. #...# ....# .##.# #.#.# #.#.# .###. .....",  // @
    ".###. #...# #...# ##### #...# #...# #...# .....",  // A
    "####. #...# #...# ####. #...# #...# ####. .....",  // B
    ".###. #...# #.... #.... #.... #...# .###. .....",  // C
    "###.. #..#. #...# #...# #...# #..#. ###.. .....",  // D
    "##### #.... #.... ####. #.... #.... ##### .....",  // E
    "##### #.... #.... ####. #.... #.... #.... .....",  // F
    ".###. #...# #.... #.### #...# #...# .#### .....",  // G
    "#...# #...# #...# ##### #...# #...# #...# .....",  // H
    ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###. .....",  // I
    "..### ...#. ...#. ...#. ...#. #..#. .##.. .....",  // J
    "#...# #..#. #.#.. ##... #.#.. #..#. #...# .....",  // K
    "#.... #.... #.... #.... #.... #.... ##### .....",  // L
    "#...# ##.## #.#.# #.#.# #...# #...# #...# .....",  // M
    "#...# #...# ##..# #.#.# #..## #...# #...# .....",  // N
    ".###. #...# #...# #...# #...# #...# .###. .....",  // O
    "####. #...# #...# ####. #.... #.... #.... .....",  // P
    ".###. #...# #...# #...# #.#.# #..#. .##.# .....",  // Q
    "####. #...# #...# ####. #.#.. #..#. #...# .....",  // R
    ".#### #.... #.... .###. ....# ....# ####. .....",  // S
    "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#.. .....",  // T
    "#...# #...# #...# #...# #...# #...# .###. .....",  // U
    "#...# #...# #...# #...# #...# .#.#. ..#.. .....",  // V
    "#...# #...# #...# #.#.# #.#.# #.#.# .#.#. .....",  // W
    "#...# #...# .#.#. ..#.. .#.#. #...# #...# .....",  // X
    "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#.. .....",  // Y
    "##### ....# ...#. ..#.. .#... #.... ##### .....",  // Z
    ".###. .#... .#... .#... .#... .#... .###. .....",  // [
    "..... #.... .#... ..#.. ...#. ....# ..... .....",  // backslash
    ".###. ...#. ...#. ...#. ...#. ...#. .###. .....",  // ]
    "..#.. .#.#. #...# ..... ..... ..... ..... .....",  // ^
    "..... ..... ..... ..... ..... ..... ..... #####",  // _
    ".#... ..#.. ..... ..... ..... ..... ..... .....",  // `
    "..... ..... .###. ....# .#### #...# .#### .....",  // a
    "#.... #.... #.##. ##..# #...# #...# ####. .....",  // b
    "..... ..... .###. #.... #.... #...# .###. .....",  // c
    "....# ....# .##.# #..## #...# #...# .#### .....",  // d
    "..... ..... .###. #...# ##### #.... .###. .....",  // e
    "..##. .#..# .#... ###.. .#... .#... .#... .....",  // f
    "..... ..... .#### #...# #...# .#### ....# .###.",  // g
    "#.... #.... #.##. ##..# #...# #...# #...# .....",  // h
    "..#.. ..... .##.. ..#.. ..#.. ..#.. .###. .....",  // i
    "...#. ..... ..##. ...#. ...#. ...#. #..#. .##..",  // j
    "#.... #.... #..#. #.#.. ##... #.#.. #..#. .....",  // k
    ".##.. ..#.. ..#.. ..#.. ..#.. ..#.. .###. .....",  // l
    "..... ..... ##.#. #.#.# #.#.# #...# #...# .....",  // m
    "..... ..... #.##. ##..# #...# #...# #...# .....",  // n
    "..... ..... .###. #...# #...# #...# .###. .....",  // o
    "..... ..... ####. #...# #...# ####. #.... #....",  // p
    "..... ..... .#### #...# #...# .#### ....# ....#",  // q
    "..... ..... #.##. ##..# #.... #.... #.... .....",  // r
    "..... ..... .###. #.... .###. ....# ####. .....",  // s
    ".#... .#... ###.. .#... .#... .#..# ..##. .....",  // t
    "..... ..... #...# #...# #...# #..## .##.# .....",  // u
    "..... ..... #...# #...# #...# .#.#. ..#.. .....",  // v
    "..... ..... #...# #...# #.#.# #.#.# .#.#. .....",  // w
    "..... ..... #...# .#.#. ..#.. .#.#. #...# .....",  // x
    "..... ..... #...# #...# #...# .#### ....# .###.",  // y
    "..... ..... ##### ...#. ..#.. .#... ##### .....",  // z
    "...#. ..#.. ..#.. .#... ..#.. ..#.. ...#. .....",  // {
    "..#.. ..#.. ..#.. ..#.. ..#.. ..#.. ..#.. .....",  // |
    ".#... ..#.. ..#.. ...#. ..#.. ..#.. .#... .....",  // }
    "..... ..... .#... #.#.# ...#. ..... ..... .....",  // ~
};

using GlyphTable = std::array<std::array<std::uint8_t, GlyphRows>, GlyphCount>;

// Turns the art into row bits at compile time; a malformed entry fails the build.
constexpr GlyphTable BuildGlyphs() {
    GlyphTable table{};
    for (std::size_t g = 0; g < GlyphCount; ++g) {
        const char* art = GlyphArt[g];
        std::size_t at = 0;
        for (std::int32_t row = 0; row < GlyphRows; ++row) {
            std::uint8_t bits = 0;
            for (std::int32_t col = 0; col < GlyphWidth; ++col, ++at) {
                if (art[at] != '#' && art[at] != '.') throw "glyph art: bad pixel";
                bits = static_cast<std::uint8_t>((bits << 1) | (art[at] == '#' ? 1 : 0));
            }
            table[g][static_cast<std::size_t>(row)] = bits;
            if (art[at] != (row + 1 < GlyphRows ? ' ' : '\0')) throw "glyph art: bad row";
            ++at;
        }
    }
    return table;
}

constexpr GlyphTable Glyphs = BuildGlyphs();

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

// Calls line(index, text) for every line; CR LF counts as one break.
template <typename LineFn>
void ForEachLine(std::string_view text, LineFn line) {
    std::int32_t index = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsBreak(text[i])) continue;
        line(index++, text.substr(start, i - start));
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
}

}  // namespace

const std::uint8_t* BitmapFontGlyph(char c) {
    const char shown = c >= FirstGlyph && c <= LastGlyph ? c : '?';
    return Glyphs[static_cast<std::size_t>(shown - FirstGlyph)].data();
}

ScreenRect BitmapFontMeasure(const ScreenRect& rect, std::string_view text) {
    std::int32_t lineCount = 0;
    std::size_t longest = 0;
    ForEachLine(text, [&](std::int32_t, std::string_view line) {
        ++lineCount;
        longest = std::max(longest, line.size());
    });
    ScreenRect out = rect;
    out.right = rect.left + static_cast<std::int32_t>(longest) * BitmapFontCellWidth;
    out.bottom = rect.top + lineCount * BitmapFontLineHeight;
    return out;
}

void BitmapFontDraw(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                    std::int32_t strideWords, const ScreenRect& rect, std::string_view text,
                    std::uint32_t ink, std::uint32_t background) {
    const std::int32_t clipLeft = std::max(rect.left, 0);
    const std::int32_t clipTop = std::max(rect.top, 0);
    const std::int32_t clipRight = std::min(rect.right, width);
    const std::int32_t clipBottom = std::min(rect.bottom, height);
    if (clipLeft >= clipRight || clipTop >= clipBottom) return;
    ForEachLine(text, [&](std::int32_t lineIndex, std::string_view line) {
        const std::int32_t cellTop = rect.top + lineIndex * BitmapFontLineHeight;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::int32_t cellLeft =
                rect.left + static_cast<std::int32_t>(c) * BitmapFontCellWidth;
            if (cellLeft >= clipRight) break;
            const std::uint8_t* glyph = BitmapFontGlyph(line[c]);
            for (std::int32_t dy = 0; dy < BitmapFontLineHeight; ++dy) {
                const std::int32_t y = cellTop + dy;
                if (y < clipTop || y >= clipBottom) continue;
                const std::int32_t glyphRow = dy - GlyphTop;
                const std::uint8_t bits =
                    glyphRow >= 0 && glyphRow < GlyphRows ? glyph[glyphRow] : 0;
                std::uint32_t* row = pixels + static_cast<std::ptrdiff_t>(y) * strideWords;
                for (std::int32_t dx = 0; dx < BitmapFontCellWidth; ++dx) {
                    const std::int32_t x = cellLeft + dx;
                    if (x < clipLeft || x >= clipRight) continue;
                    const bool isInk = dx < GlyphWidth && ((bits >> (GlyphWidth - 1 - dx)) & 1);
                    row[x] = isInk ? ink : background;
                }
            }
        }
    });
}
