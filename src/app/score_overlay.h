#pragma once

// The score and time overlay: a translucent plate with the score and the game time in the
// view's bottom-left corner, drawn into the view bitmap after each frame render so that it
// is presented with the frame.
//
// The view bitmap holds straight alpha, so the plate is written as white at alpha 160
// (0xA0FFFFFF), which presentation turns into the grey 0xA0A0A0A0 a compositor receives;
// the text is opaque black.

#include "platform/layered_display.h"

#include <cstdint>
#include <string>

// Where the overlay goes: the text rectangle and the box around it (left and top 0), as
// start-up measures them.
struct ScoreOverlayLayout {
    ScreenRect textRect{6, 0, 100, 40};
    ScreenRect box{0, 0, 100, 40};
};

inline constexpr std::uint32_t ScoreOverlayPlate = 0xA0FFFFFFu;
inline constexpr std::uint32_t ScoreOverlayInk = 0xFF000000u;

// The layout for the widest text the overlay shows: the text rectangle measured with
// "  time :  00 : 00  " and then with a score line above it, the box two rows lower than the
// text.
ScoreOverlayLayout MeasureScoreOverlay();

// The overlay's text: "score :  <score>\r\n  time :  <minutes> : <seconds>", the seconds
// always with two digits.
std::string ScoreOverlayText(std::int32_t score, std::uint32_t elapsedSeconds);

// Draws the overlay into the view's width x height pixels (rows packed) when isShown (game
// mode and the score display both on) and there are pixels: the box at the bottom-left
// corner, clipped to the view, filled with the plate, and the text (score, and the game time
// elapsedMilliseconds / 1000 in seconds) in opaque black. Does nothing otherwise.
void DrawScoreOverlay(std::uint32_t* viewBits, std::int32_t width, std::int32_t height,
                      const ScoreOverlayLayout& layout, bool isShown, std::int32_t score,
                      std::uint32_t elapsedMilliseconds);

// Makes the overlay's box (as DrawScoreOverlay places it) fully transparent (0) when there
// are pixels.
void ClearScoreOverlay(std::uint32_t* viewBits, std::int32_t width, std::int32_t height,
                       const ScoreOverlayLayout& layout);
