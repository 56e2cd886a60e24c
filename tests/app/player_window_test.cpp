#include "app/player_window.h"

#include "app/headless_display.h"
#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

TEST(PlayerWindow, PremultiplyRoundsEveryColourByItsAlpha) {
    // Every colour byte against every alpha, in all three colour positions at once.
    std::vector<std::uint32_t> src;
    for (std::uint32_t a = 0; a < 256; ++a) {
        for (std::uint32_t c = 0; c < 256; ++c) {
            src.push_back((a << 24) | (c << 16) | ((255 - c) << 8) | (c ^ 0x5A));
        }
    }
    std::vector<std::uint32_t> dst(src.size());
    PremultiplyPixels(src.data(), dst.data(), src.size());
    for (std::size_t i = 0; i < src.size(); ++i) {
        const std::uint32_t a = src[i] >> 24;
        std::uint32_t expected = a << 24;
        for (int shift : {16, 8, 0}) {
            const double c = static_cast<double>((src[i] >> shift) & 0xFF);
            expected |= static_cast<std::uint32_t>(std::floor(c * a / 255.0 + 0.5)) << shift;
        }
        if (a == 0) expected = 0;
        ASSERT_EQ(dst[i], expected) << "pixel " << std::hex << src[i];
    }
}

class PlayerWindowTest : public testing::Test {
protected:
    HeadlessDisplay display{""};
    PlayerWindow window{display};
};

TEST_F(PlayerWindowTest, PresentsThePremultipliedViewAndKeepsTheViewStraight) {
    std::uint32_t* bits = window.CreateViewBitmap(3, 2);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(window.ViewBits(), bits);
    const std::vector<std::uint32_t> view = {0xFF102030, 0x80FF8000, 0x00FFFFFF,
                                             0xA0FFFFFF, 0x40FF00FF, 0x01FFFFFF};
    std::copy(view.begin(), view.end(), bits);

    ASSERT_TRUE(window.PresentLayeredWindow(40, 50, 3, 2));
    const std::vector<std::uint32_t> expected = {0xFF102030, 0x80804000, 0x00000000,
                                                 0xA0A0A0A0, 0x40400040, 0x01010101};
    EXPECT_EQ(display.LastFrame(), expected);
    EXPECT_EQ(display.WindowRect().left, 40);
    EXPECT_EQ(display.WindowRect().bottom, 52);
    // The view keeps straight alpha: an incremental frame reuses the pixels it does not redraw.
    EXPECT_EQ(std::vector<std::uint32_t>(bits, bits + 6), view);
}

TEST_F(PlayerWindowTest, PresentingBeyondTheViewIsTransparentAndWithinItCrops) {
    std::uint32_t* bits = window.CreateViewBitmap(2, 2);
    std::fill(bits, bits + 4, 0xFF0000FFu);
    ASSERT_TRUE(window.PresentLayeredWindow(0, 0, 3, 3));
    EXPECT_EQ(display.LastFrame(),
              (std::vector<std::uint32_t>{0xFF0000FF, 0xFF0000FF, 0, 0xFF0000FF, 0xFF0000FF, 0, 0,
                                          0, 0}));
    ASSERT_TRUE(window.PresentLayeredWindow(0, 0, 1, 2));
    EXPECT_EQ(display.LastFrame(), (std::vector<std::uint32_t>{0xFF0000FF, 0xFF0000FF}));
}

TEST_F(PlayerWindowTest, NothingIsPresentedWithoutAViewBitmap) {
    EXPECT_FALSE(window.PresentLayeredWindow(0, 0, 10, 10));
    EXPECT_EQ(window.CreateViewBitmap(0, 10), nullptr);
    EXPECT_EQ(window.ViewBits(), nullptr);
    EXPECT_FALSE(window.PresentLayeredWindow(0, 0, 10, 10));
    window.CreateViewBitmap(4, 4);
    EXPECT_FALSE(window.PresentLayeredWindow(0, 0, 0, 4));
    EXPECT_EQ(display.FrameCount(), 0);
}

TEST_F(PlayerWindowTest, ARefusedViewBitmapThrowsAndLeavesNone) {
    window.CreateViewBitmap(8, 8);
    PrivateHeapRefuseNext(2);
    EXPECT_THROW(window.CreateViewBitmap(64, 64), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(window.ViewBits(), nullptr);
    EXPECT_EQ(window.ViewWidth(), 0);
    // Sizes beyond the heap's 32-bit block sizes are refused the same way.
    EXPECT_THROW(window.CreateViewBitmap(65536, 65536), KVOutOfMemoryException);
}

TEST_F(PlayerWindowTest, MoveAndPresentHidesOnlyWhenTheCornerMoves) {
    window.CreateViewBitmap(10, 10);
    display.ShowWindow(true);
    ASSERT_TRUE(window.MoveAndPresent(5, 5, 15, 15, 5, 5));  // same corner, new size
    EXPECT_EQ(display.HideCount(), 0);
    EXPECT_EQ(display.ShowCount(), 1);
    ASSERT_TRUE(window.MoveAndPresent(20, 5, 30, 15, 5, 5));
    EXPECT_EQ(display.HideCount(), 1);
    EXPECT_EQ(display.ShowCount(), 2);
    EXPECT_TRUE(display.IsWindowShown());
    EXPECT_EQ(display.WindowRect().left, 20);
    EXPECT_EQ(display.WindowRect().right, 30);
    EXPECT_EQ(display.FrameCount(), 2);
}

TEST_F(PlayerWindowTest, WorkAreaAndCursorComeFromTheDisplay) {
    ScreenRect rect{5000, 5000, 5100, 5100};
    window.GetWorkArea(nullptr, rect, false);
    EXPECT_EQ(rect.right, 1024);
    EXPECT_EQ(rect.bottom, 768);
    rect = {};
    const ScreenPoint point{-30, 40};
    window.GetWorkArea(&point, rect, true);
    EXPECT_EQ(rect.right, 1024);

    display.SetCursorScreenPos({17, 23});
    EXPECT_EQ(window.GetCursorScreenPos().x, 17);
    EXPECT_EQ(window.GetCursorScreenPos().y, 23);
}

}  // namespace
