#pragma once

// The player's text drawer: a small fixed-width bitmap font of the printable ASCII
// characters, drawn straight into 32-bit pixel memory, so the overlay's text needs neither a
// display nor a font file. Each glyph is 5 x 8 pixels (7 above the baseline and a descender
// row) in a cell of BitmapFontCellWidth x BitmapFontLineHeight. Lines break at CR, LF and
// CR LF, as the window system's text drawing breaks them; a character outside the
// printable range draws as '?'.

#include "platform/layered_display.h"

#include <cstdint>
#include <string_view>

inline constexpr std::int32_t BitmapFontCellWidth = 6;
inline constexpr std::int32_t BitmapFontLineHeight = 10;

// The rectangle the text takes with its top-left corner at the rectangle's: right and bottom
// are moved to fit the longest line and the number of lines (an empty text is one empty
// line).
ScreenRect BitmapFontMeasure(const ScreenRect& rect, std::string_view text);

// Draws the text into width x height pixels (rows strideWords apart) from the rectangle's
// top-left corner, clipped to the rectangle and to the pixels: ink pixels of the glyphs get
// ink, the rest of every character cell background (an opaque background).
void BitmapFontDraw(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                    std::int32_t strideWords, const ScreenRect& rect, std::string_view text,
                    std::uint32_t ink, std::uint32_t background);

// The glyph's eight rows, top first; bit 4 of a row is its leftmost pixel.
const std::uint8_t* BitmapFontGlyph(char c);
