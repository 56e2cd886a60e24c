#include "app/score_overlay.h"

#include "app/headless_display.h"
#include "app/player_window.h"
#include "platform/bitmap_font.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint32_t Scene = 0x80336699;

TEST(ScoreOverlay, LayoutFitsTheWidestText) {
    const ScoreOverlayLayout layout = MeasureScoreOverlay();
    // 19 characters on the longer line, two lines, from the text rectangle's (6, 0).
    EXPECT_EQ(layout.textRect.left, 6);
    EXPECT_EQ(layout.textRect.top, 0);
    EXPECT_EQ(layout.textRect.right, 6 + 19 * BitmapFontCellWidth);
    EXPECT_EQ(layout.textRect.bottom, 2 * BitmapFontLineHeight);
    EXPECT_EQ(layout.box.left, 0);
    EXPECT_EQ(layout.box.top, 0);
    EXPECT_EQ(layout.box.right, layout.textRect.right);
    EXPECT_EQ(layout.box.bottom, layout.textRect.bottom + 2);
}

TEST(ScoreOverlay, TextShowsScoreMinutesAndTwoDigitSeconds) {
    struct Case {
        std::int32_t score;
        std::uint32_t seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "score :  0\r\n  time :  0 : 00"},
        {120, 9, "score :  120\r\n  time :  0 : 09"},
        {5, 59, "score :  5\r\n  time :  0 : 59"},
        {99000, 61, "score :  99000\r\n  time :  1 : 01"},
        {-40, 600, "score :  -40\r\n  time :  10 : 00"},
        {7, 4294967, "score :  7\r\n  time :  71582 : 47"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ScoreOverlayText(c.score, c.seconds), c.text);
    }
}

struct View {
    std::int32_t width;
    std::int32_t height;
    std::vector<std::uint32_t> pixels;
    View(std::int32_t w, std::int32_t h)
        : width(w), height(h), pixels(static_cast<std::size_t>(w * h), Scene) {}
    std::uint32_t At(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }
};

// Checks that exactly the box (columns [0, right), rows [top, height)) holds the overlay
// (plate or ink, some of each) and everything else is still the scene.
void ExpectBox(const View& v, std::int32_t right, std::int32_t top) {
    std::int32_t inkCount = 0;
    std::int32_t plateCount = 0;
    for (std::int32_t y = 0; y < v.height; ++y) {
        for (std::int32_t x = 0; x < v.width; ++x) {
            const std::uint32_t p = v.At(x, y);
            if (x < right && y >= top) {
                ASSERT_TRUE(p == ScoreOverlayPlate || p == ScoreOverlayInk)
                    << "x " << x << " y " << y;
                ++(p == ScoreOverlayInk ? inkCount : plateCount);
            } else {
                ASSERT_EQ(p, Scene) << "x " << x << " y " << y;
            }
        }
    }
    EXPECT_GT(inkCount, 0);
    EXPECT_GT(plateCount, inkCount);
}

TEST(ScoreOverlay, DrawsAPlateWithTextAtTheBottomLeft) {
    const ScoreOverlayLayout layout = MeasureScoreOverlay();
    View v(200, 100);
    DrawScoreOverlay(v.pixels.data(), v.width, v.height, layout, true, 0, 0);
    const std::int32_t top = 100 - layout.box.bottom;
    ExpectBox(v, layout.box.right, top);

    // The first line begins with "s" in its cell at the text rectangle's corner (after the
    // cell's blank top row).
    const std::uint8_t* s = BitmapFontGlyph('s');
    for (std::int32_t row = 0; row < 8; ++row) {
        for (std::int32_t col = 0; col < 5; ++col) {
            const bool ink = (s[row] >> (4 - col)) & 1;
            EXPECT_EQ(v.At(layout.textRect.left + col, top + 1 + row),
                      ink ? ScoreOverlayInk : ScoreOverlayPlate)
                << "row " << row << " col " << col;
        }
    }

    // Another score draws other ink in the same box.
    View other(200, 100);
    DrawScoreOverlay(other.pixels.data(), 200, 100, layout, true, 4321, 61000);
    ExpectBox(other, layout.box.right, top);
    EXPECT_NE(other.pixels, v.pixels);
}

TEST(ScoreOverlay, SmallViewsClipTheBox) {
    const ScoreOverlayLayout layout = MeasureScoreOverlay();
    struct Case {
        std::int32_t width;
        std::int32_t height;
    };
    const Case cases[] = {{40, 100}, {300, 12}, {30, 8}, {1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        View v(c.width, c.height);
        DrawScoreOverlay(v.pixels.data(), c.width, c.height, layout, true, 99000, 3599000);
        const std::int32_t right = std::min(layout.box.right, c.width);
        const std::int32_t top = std::max(c.height - layout.box.bottom, 0);
        for (std::int32_t y = 0; y < c.height; ++y) {
            for (std::int32_t x = 0; x < c.width; ++x) {
                const std::uint32_t p = v.At(x, y);
                if (x < right && y >= top) {
                    ASSERT_TRUE(p == ScoreOverlayPlate || p == ScoreOverlayInk);
                } else {
                    ASSERT_EQ(p, Scene);
                }
            }
        }
    }
}

TEST(ScoreOverlay, HiddenDrawsNothingAndClearMakesTheBoxTransparent) {
    const ScoreOverlayLayout layout = MeasureScoreOverlay();
    View v(200, 100);
    DrawScoreOverlay(v.pixels.data(), v.width, v.height, layout, false, 10, 10000);
    EXPECT_EQ(v.pixels, View(200, 100).pixels);
    DrawScoreOverlay(nullptr, 200, 100, layout, true, 10, 10000);  // no view yet

    DrawScoreOverlay(v.pixels.data(), v.width, v.height, layout, true, 10, 10000);
    ClearScoreOverlay(v.pixels.data(), v.width, v.height, layout);
    const std::int32_t top = 100 - layout.box.bottom;
    for (std::int32_t y = 0; y < v.height; ++y) {
        for (std::int32_t x = 0; x < v.width; ++x) {
            ASSERT_EQ(v.At(x, y), x < layout.box.right && y >= top ? 0u : Scene);
        }
    }
    ClearScoreOverlay(nullptr, 200, 100, layout);
}

// What the compositor receives: the plate as grey 0xA0A0A0A0 and the text opaque black.
TEST(ScoreOverlay, PresentsAsTranslucentGreyWithOpaqueBlackText) {
    HeadlessDisplay display("");
    PlayerWindow window(display);
    const ScoreOverlayLayout layout = MeasureScoreOverlay();
    std::uint32_t* bits = window.CreateViewBitmap(160, 40);
    DrawScoreOverlay(bits, 160, 40, layout, true, 12, 5000);
    ASSERT_TRUE(window.PresentLayeredWindow(0, 0, 160, 40));
    const std::vector<std::uint32_t>& frame = display.LastFrame();
    const std::int32_t top = 40 - layout.box.bottom;
    std::int32_t ink = 0;
    for (std::int32_t y = top; y < 40; ++y) {
        for (std::int32_t x = 0; x < layout.box.right; ++x) {
            const std::uint32_t p = frame[static_cast<std::size_t>(y * 160 + x)];
            ASSERT_TRUE(p == 0xA0A0A0A0u || p == 0xFF000000u) << std::hex << p;
            ink += p == 0xFF000000u;
        }
    }
    EXPECT_GT(ink, 0);
    EXPECT_EQ(frame[0], 0u);  // above the box the empty view stays transparent
}

}  // namespace
