#include "app/player_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

std::optional<PlayerOptions> Parse(std::vector<std::string_view> words, std::string& whyNot) {
    return ParsePlayerCommandLine(words, whyNot);
}

TEST(PlayerCommandLine, GizmoPathQuotedOrNot) {
    const struct {
        std::string_view word;
        std::string_view path;
    } cases[] = {
        {"\"/home/me/My Gizmos/demo.kvp\"", "/home/me/My Gizmos/demo.kvp"},
        {"/home/me/demo.kvp", "/home/me/demo.kvp"},
        {"\"", ""},  // a lone quote names nothing, which loads nothing
        {"\"\"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(GizmoPathFromCommandLine(c.word), c.path);
    }
}

TEST(PlayerCommandLine, ReadsTheHeadlessRun) {
    std::string whyNot;
    const auto options = Parse({"demo.kvp", "--headless", "--frames", "300", "--out", "frames",
                                "--keys", "60:1,10:2", "--mute"},
                               whyNot);
    ASSERT_TRUE(options) << whyNot;
    EXPECT_EQ(options->gizmoPath, "demo.kvp");
    EXPECT_TRUE(options->isGizmoNamed);
    EXPECT_TRUE(options->isHeadless);
    EXPECT_TRUE(options->isMuted);
    EXPECT_EQ(options->frameCount, 300);
    EXPECT_EQ(options->frameFolder, "frames");
    ASSERT_EQ(options->keys.size(), 2u);
    EXPECT_EQ(options->keys[0].frame, 10);
    EXPECT_EQ(options->keys[0].keyIndex, 1);

    const auto none = Parse({}, whyNot);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->isGizmoNamed);
    EXPECT_EQ(none->frameFolder, DefaultFrameFolder);
    EXPECT_FALSE(none->isHeadless);
    EXPECT_EQ(none->frameCount, -1);
}

TEST(PlayerCommandLine, RefusesWhatItCannotRead) {
    const std::vector<std::vector<std::string_view>> cases = {
        {"a.kvp", "b.kvp"}, {"--frames"},    {"--frames", "-1"},  {"--frames", "12x"},
        {"--keys", "1:0"},  {"--keys", "5"}, {"--window", "yes"},
    };
    for (const auto& words : cases) {
        SCOPED_TRACE(words.front());
        std::string whyNot;
        EXPECT_FALSE(Parse(words, whyNot));
        EXPECT_FALSE(whyNot.empty());
    }
}

}  // namespace
