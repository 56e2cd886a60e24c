#include "core/base64.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> CountingBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

}  // namespace

TEST(Base64, EncodesAndDecodesKnownVectors) {
    const struct {
        std::string_view bytes;
        std::string_view text;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string_view("\x00\x00\x80\x3F", 4), "AACAPw=="},
        {"\xFF\xFE\xFD", "//79"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(Base64Encode(Bytes(c.bytes)), c.text);
        EXPECT_EQ(Base64Decode(c.text), Bytes(c.bytes));
    }
}

TEST(Base64, BreaksLinesAfterEvery76Characters) {
    const struct {
        std::size_t byteCount;
        std::size_t textLength;
        std::vector<std::size_t> breakOffsets;
    } cases[] = {
        {54, 72, {}}, {56, 78, {76}}, {57, 78, {76}}, {58, 82, {76}}, {114, 156, {76, 154}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.byteCount);
        const std::string text = Base64Encode(CountingBytes(c.byteCount));
        EXPECT_EQ(text.size(), c.textLength);
        std::vector<std::size_t> breaks;
        for (std::size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at + 2)) {
            breaks.push_back(at);
        }
        EXPECT_EQ(breaks, c.breakOffsets);
        EXPECT_EQ(text.find('\n'),
                  c.breakOffsets.empty() ? std::string::npos : c.breakOffsets[0] + 1);
    }
}

TEST(Base64, LineBreaksDecodeLikeUnbrokenText) {
    const std::vector<std::uint8_t> bytes = CountingBytes(1000);
    const std::string broken = Base64Encode(bytes);
    std::string unbroken;
    for (const char c : broken) {
        if (c != '\r' && c != '\n') unbroken.push_back(c);
    }
    ASSERT_NE(broken, unbroken);
    EXPECT_EQ(Base64Decode(broken), bytes);
    EXPECT_EQ(Base64Decode(unbroken), bytes);
    // Single breaks inside a group, as other writers put them, are skipped too.
    EXPECT_EQ(Base64Decode("Zm\n9v\r\nYm\rFy"), Bytes("foobar"));
}

TEST(Base64, TolerantDecoderStopsBeforeMissingCharacters) {
    const struct {
        std::string_view text;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        // A lone trailing character cannot make a byte: nothing is invented past the text.
        {"Zm9vY", Bytes("foo")},
        {"Z", {}},
        {"Zg", Bytes("f")},
        {"Zm8", Bytes("fo")},
        // Decoding stops at padding wherever it stands.
        {"Zg==Zm9v", Bytes("f")},
        // Bytes outside the alphabet decode through the table's all-ones entries.
        {"Z!==", {0x67}},
        {"!!!!", {0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(Base64Decode(c.text), c.bytes);
    }
}

TEST(Base64, ToBytesNeverWritesPastCapacity) {
    const std::string text = Base64Encode(CountingBytes(12));
    std::array<std::uint8_t, 12> buffer{};
    buffer.fill(0xAA);
    // Twelve bytes into eight: two whole floats, the guard bytes untouched.
    EXPECT_EQ(Base64ToBytes(text, buffer.data(), 8, 4), 8u);
    EXPECT_EQ(buffer[7], CountingBytes(12)[7]);
    EXPECT_EQ(buffer[8], 0xAA);
    // Capacity not a multiple of the element size: whole elements only.
    buffer.fill(0xAA);
    EXPECT_EQ(Base64ToBytes(text, buffer.data(), 7, 2), 6u);
    EXPECT_EQ(buffer[6], 0xAA);
    // A text with a partial last element copies whole elements only.
    buffer.fill(0xAA);
    EXPECT_EQ(Base64ToBytes(Base64Encode(CountingBytes(6)), buffer.data(), 12, 4), 4u);
    EXPECT_EQ(buffer[4], 0xAA);
    EXPECT_EQ(Base64ToBytes("", buffer.data(), 12, 4), 0u);
    EXPECT_EQ(Base64ToBytes(text, buffer.data(), 12, 1), 12u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.end()), CountingBytes(12));
}

TEST(Base64, BytesToBase64MatchesEncode) {
    const std::vector<std::uint8_t> bytes = CountingBytes(100);
    EXPECT_EQ(BytesToBase64(bytes.data(), bytes.size()), Base64Encode(bytes));
    EXPECT_EQ(BytesToBase64(nullptr, 5), "");
}

TEST(Base64, SeededRoundTrips) {
    std::uint32_t state = 12345;
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        state = state * 214013u + 2531011u;
        std::vector<std::uint8_t> bytes((state >> 16) % 400);
        for (std::uint8_t& b : bytes) {
            state = state * 214013u + 2531011u;
            b = static_cast<std::uint8_t>(state >> 16);
        }
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
    }
}
