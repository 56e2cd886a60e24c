#include "app/headless_display.h"

#include "app/player_display.h"
#include "core/private_block.h"
#include "imaging/image_file.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(HeadlessDisplay, WritesEachFrameAsAPremultipliedImage) {
    TempFolder folder;
    HeadlessDisplay display(folder.Str());
    const std::vector<std::uint32_t> frames[2] = {
        {0xFF112233, 0x80400000, 0x00000000, 0x40102030},
        {0xA0A0A0A0, 0xFF000000, 0x01010101, 0xFFFFFFFF},
    };
    for (int f = 0; f < 2; ++f) {
        SCOPED_TRACE(f);
        auto store = display.FrameStore(2, 2);
        ASSERT_EQ(store.size(), 4u);
        std::copy(frames[f].begin(), frames[f].end(), store.begin());
        ASSERT_TRUE(display.UpdateLayeredWindow(7, 9)) << display.LastError();
        EXPECT_EQ(display.FrameCount(), f + 1);
        const std::string expectedPath =
            folder.Str() + (f == 0 ? "/frame_000001.tif" : "/frame_000002.tif");
        EXPECT_EQ(display.LastFramePath(), expectedPath);

        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t stride = 0;
        std::uint8_t* pixels = nullptr;
        bool premultiplied = false;
        std::string error;
        ASSERT_EQ(LoadImageFile("argb", width, pixels, expectedPath, nullptr, 0, premultiplied,
                                height, stride, error),
                  ImageFileOk)
            << error;
        PrivateBlockPtr<std::uint8_t> owner(pixels);
        EXPECT_TRUE(premultiplied);
        ASSERT_EQ(width, 2);
        ASSERT_EQ(height, 2);
        const auto* words = reinterpret_cast<const std::uint32_t*>(pixels);
        EXPECT_EQ(std::vector<std::uint32_t>(words, words + 4), frames[f]);
    }
    EXPECT_EQ(display.WindowRect().left, 7);
    EXPECT_EQ(display.WindowRect().bottom, 11);
}

TEST(HeadlessDisplay, AFrameThatCannotBeWrittenIsReported) {
    TempFolder folder;
    HeadlessDisplay display(folder.Str() + "/missing");
    EXPECT_FALSE(display.UpdateLayeredWindow(0, 0));  // no frame store yet
    display.FrameStore(1, 1)[0] = 0xFF000000;
    EXPECT_FALSE(display.UpdateLayeredWindow(0, 0));
    EXPECT_NE(display.LastError().find("frame_000001.tif"), std::string::npos);
    EXPECT_EQ(display.FrameCount(), 1);
    EXPECT_EQ(display.LastFrame(), std::vector<std::uint32_t>{0xFF000000});
}

TEST(HeadlessDisplay, ChosenWhenAskedForOrWhenNoDisplayOpens) {
    const PlayerDisplay asked = OpenPlayerDisplay({true, ""});
    ASSERT_NE(asked.display, nullptr);
    EXPECT_TRUE(asked.isHeadless);
    EXPECT_FALSE(asked.reason.empty());

    const char* saved = std::getenv("DISPLAY");
    const std::string savedDisplay = saved != nullptr ? saved : "";
    setenv("DISPLAY", ":9876", 1);
    const PlayerDisplay fallback = OpenPlayerDisplay({false, ""});
    if (saved != nullptr) {
        setenv("DISPLAY", savedDisplay.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    ASSERT_NE(fallback.display, nullptr);
    EXPECT_TRUE(fallback.isHeadless);
    EXPECT_NE(fallback.reason.find("display"), std::string::npos);
    EXPECT_EQ(fallback.display->Monitors().size(), 1u);
}

}  // namespace
