#include "core/crc32.h"

#include <gtest/gtest.h>

#include <string_view>

TEST(Crc32, KnownValues) {
    const struct {
        std::string_view input;
        std::uint32_t crc;
    } cases[] = {
        {"abc", 0x352441C2u},
        {"123456789", 0xCBF43926u},
        {"a", 0xE8B7BE43u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(Crc32(c.input.data(), c.input.size()), c.crc);
    }
}

TEST(Crc32, NullOrEmptyIsZero) {
    EXPECT_EQ(Crc32(nullptr, 10), 0u);
    EXPECT_EQ(Crc32("abc", 0), 0u);
}

TEST(Crc32, TableMatchesReflectedPolynomial) {
    EXPECT_EQ(Crc32Table[0], 0u);
    EXPECT_EQ(Crc32Table[1], 0x77073096u);
    EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
    EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, UpdateInPiecesEqualsWhole) {
    const std::string_view text = "The quick brown fox jumps over the lazy dog";
    std::uint32_t crc = 0xFFFFFFFFu;
    Crc32Update(crc, text.data(), 10);
    Crc32Update(crc, text.data() + 10, text.size() - 10);
    EXPECT_EQ(~crc, Crc32(text.data(), text.size()));
}
