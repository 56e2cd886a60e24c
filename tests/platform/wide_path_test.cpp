#include "platform/wide_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(WidePath, ConvertsToUtf8AndRefusesUnpairedSurrogates) {
    const struct {
        const char* what;
        std::u16string wide;
        std::optional<std::string> path;
        std::string shown;
    } cases[] = {
        {"ASCII with backslashes", u"Gizmos\\A.tif", "Gizmos\\A.tif", "Gizmos\\A.tif"},
        {"two- and three-byte characters", u"\u00E9t\u00E9/\u5730\u56FE.bmp",
         "\xC3\xA9t\xC3\xA9/\xE5\x9C\xB0\xE5\x9B\xBE.bmp",
         "\xC3\xA9t\xC3\xA9/\xE5\x9C\xB0\xE5\x9B\xBE.bmp"},
        {"surrogate pair", u"\U0001F600.jpg", "\xF0\x9F\x98\x80.jpg", "\xF0\x9F\x98\x80.jpg"},
        {"high surrogate alone", std::u16string(u"a") + char16_t(0xD800) + u"b", std::nullopt,
         "a\xEF\xBF\xBD"
         "b"},
        {"low surrogate first", std::u16string(1, char16_t(0xDC00)) + u"\U0001F600", std::nullopt,
         "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {"high surrogate last", std::u16string(u"x") + char16_t(0xDBFF), std::nullopt,
         "x\xEF\xBF\xBD"},
        {"empty", u"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WidePathToUtf8(c.wide), c.path);
        EXPECT_EQ(WidePathForDisplay(c.wide), c.shown);
    }
}

}  // namespace
