#include "app/score_overlay.h"

#include "platform/bitmap_font.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

// The box in view pixels: the layout's box against the bottom-left corner, its right edge
// held to the view's width and its top to row 0.
ScreenRect PlacedBox(const ScoreOverlayLayout& layout, std::int32_t width, std::int32_t height) {
    ScreenRect placed;
    placed.left = layout.box.left;
    placed.right = std::min(layout.box.right, width);
    placed.top = std::max(height - (layout.box.bottom - layout.box.top), 0);
    placed.bottom = height;
    return placed;
}

// Formats the overlay's text into buffer without allocating: the overlay is drawn every frame.
std::string_view FormatText(char (&buffer)[64], std::int32_t score, std::uint32_t elapsedSeconds) {
    const std::uint32_t minutes = elapsedSeconds / 60;
    const int length = std::snprintf(buffer, sizeof buffer, "score :  %d\r\n  time :  %u : %02u",
                                     score, minutes, elapsedSeconds - minutes * 60);
    return {buffer, static_cast<std::size_t>(std::clamp(length, 0, 63))};
}

void FillBox(std::uint32_t* viewBits, std::int32_t width, const ScreenRect& box,
             std::uint32_t value) {
    const std::int32_t left = std::max(box.left, 0);
    if (left >= box.right) return;
    for (std::int32_t y = box.top; y < box.bottom; ++y) {
        std::uint32_t* row = viewBits + static_cast<std::ptrdiff_t>(y) * width;
        std::fill(row + left, row + box.right, value);
    }
}

}  // namespace

ScoreOverlayLayout MeasureScoreOverlay() {
    ScoreOverlayLayout layout;
    layout.textRect = BitmapFontMeasure(layout.textRect, "  time :  00 : 00  ");
    layout.textRect = BitmapFontMeasure(layout.textRect, "score :  99000\r\n  time :  00 : 00  ");
    layout.box.right = layout.textRect.right;
    layout.box.bottom = layout.textRect.bottom + 2;
    return layout;
}

std::string ScoreOverlayText(std::int32_t score, std::uint32_t elapsedSeconds) {
    char buffer[64];
    return std::string(FormatText(buffer, score, elapsedSeconds));
}

void DrawScoreOverlay(std::uint32_t* viewBits, std::int32_t width, std::int32_t height,
                      const ScoreOverlayLayout& layout, bool isShown, std::int32_t score,
                      std::uint32_t elapsedMilliseconds) {
    if (!isShown || viewBits == nullptr || width <= 0 || height <= 0) return;
    const ScreenRect box = PlacedBox(layout, width, height);
    const ScreenRect text{layout.textRect.left - layout.box.left + box.left,
                          layout.textRect.top - layout.box.top + box.top,
                          layout.textRect.right - layout.box.right + box.right,
                          layout.textRect.bottom - layout.box.bottom + box.bottom};
    FillBox(viewBits, width, box, ScoreOverlayPlate);
    // Text outside the box would land on the scene; the box clips it.
    const ScreenRect clip{std::max(text.left, box.left), std::max(text.top, box.top),
                          std::min(text.right, box.right), std::min(text.bottom, box.bottom)};
    const ScreenRect origin{text.left, text.top, clip.right, clip.bottom};
    if (clip.left < clip.right && clip.top < clip.bottom) {
        char buffer[64];
        BitmapFontDraw(viewBits, width, height, width, origin,
                       FormatText(buffer, score, elapsedMilliseconds / 1000), ScoreOverlayInk,
                       ScoreOverlayPlate);
    }
}

void ClearScoreOverlay(std::uint32_t* viewBits, std::int32_t width, std::int32_t height,
                       const ScoreOverlayLayout& layout) {
    if (viewBits == nullptr || width <= 0 || height <= 0) return;
    FillBox(viewBits, width, PlacedBox(layout, width, height), 0);
}
