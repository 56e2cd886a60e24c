#include "imaging/pl_exif_tag.h"

#include "imaging/pl_exif_tag_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes U16LE(std::initializer_list<int> values) {
    Bytes bytes;
    for (const int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return bytes;
}

Bytes U32LE(std::initializer_list<std::int64_t> values) {
    Bytes bytes;
    for (const std::int64_t v : values) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(PLExifTag, ConstructionRefusesBadFormatsAndSizes) {
    struct Case {
        std::uint16_t format;
        std::uint32_t count;
        const char* error;  // null: accepted
    };
    const Case cases[] = {
        {0, 1, "EXIF Tag format field not understood"},
        {13, 1, "EXIF Tag format field not understood"},
        {PLExifByte, 65536, nullptr},
        {PLExifByte, 65537, "EXIF NoComp field not understood"},
        {PLExifShort, 32768, nullptr},
        {PLExifShort, 32769, "EXIF NoComp field not understood"},
        {PLExifRational, 0x20000000, "EXIF NoComp field not understood"},  // 2^32 bytes
        {PLExifDouble, 8192, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + " x " + std::to_string(c.count));
        std::optional<std::string> error;
        try {
            const PLExifTag tag(0x0100, c.format, c.count);
            EXPECT_LE(tag.GetByteSize(), PLExifTag::MaxValueSize);
        } catch (const PLExifException& e) {
            error = e.GetText();
        }
        if (c.error == nullptr) {
            EXPECT_FALSE(error.has_value()) << *error;
        } else {
            EXPECT_EQ(error.value_or("(none)"), c.error);
        }
    }
}

TEST(PLExifTag, DisplayTextsFollowTheTables) {
    struct Case {
        PLExifTableId table;
        std::uint16_t tag;
        std::uint16_t format;
        std::uint32_t count;
        Bytes value;  // little-endian
        const char* display;
        const char* raw;
    };
    using T = PLExifTableId;
    const Case cases[] = {
        {T::Sub, 0x829A, PLExifRational, 1, U32LE({1, 250}), "1/250 s", "1/250 s"},
        {T::Sub, 0x829A, PLExifRational, 1, U32LE({10, 2500}), "1/250 s", "10/2500 s"},
        {T::Sub, 0x829A, PLExifRational, 1, U32LE({2, 1}), "2 s", "2/1 s"},
        {T::Sub, 0x829A, PLExifRational, 1, U32LE({0, 0}), "0/0 s", "0/0 s"},
        {T::Sub, 0x829D, PLExifRational, 1, U32LE({28, 10}), "f2.8", "28/10"},
        {T::Sub, 0x829D, PLExifRational, 1, U32LE({28, 0}), "28/0", "28/0"},
        {T::Sub, 0x9201, PLExifSRational, 1, U32LE({8, 1}), "1/256 s", "8/1"},
        {T::Sub, 0x9202, PLExifRational, 1, U32LE({4, 1}), "f4", "4/1"},
        {T::Sub, 0x9203, PLExifSRational, 1, U32LE({-1, 3}), "-0.333333", "-1/3"},
        {T::Sub, 0x9206, PLExifRational, 1, U32LE({0, 0}), "0/0 m", "0/0 m"},
        {T::Sub, 0x920A, PLExifRational, 1, U32LE({50, 1}), "50 mm", "50/1 mm"},
        {T::Sub, 0x9101, PLExifUndefined, 4, {1, 2, 3, 0}, "YCbCr", "{ 01 02 03 00 }"},
        {T::Sub, 0x9101, PLExifUndefined, 4, {4, 5, 6, 9}, "RGB 9", "{ 04 05 06 09 }"},
        {T::Sub, 0x9000, PLExifUndefined, 4, Text("0220"), "0220", "0220"},
        {T::Sub, 0xA001, PLExifShort, 1, U16LE({65535}), "Uncalibrated", "Uncalibrated"},
        {T::Sub, 0x9209, PLExifShort, 1, U16LE({3}), "3", "3"},  // no name for 3
        {T::Main, 0x0128, PLExifShort, 1, U16LE({2}), "inch", "inch"},
        {T::Main, 0x010F, PLExifAscii, 6, Text(std::string("NIKON\0", 6)), "NIKON", "NIKON"},
        {T::Main, 0x010E, PLExifAscii, 6,
         Text("a\x01"
              "b\tc\xff"),
         "a\\0x01b\\tc\\0xff", "a\\0x01b\\tc\\0xff"},
        {T::Nikon, 0x0004, PLExifAscii, 5, Text("FINE "), "Fine", "Fine"},
        {T::Canon, 0x0008, PLExifLong, 1, U32LE({1000012}), "100-0012", "1000012"},
        {T::Canon, 0x000C, PLExifLong, 1, U32LE({0x00AB0123}), "00AB00291", "11206947"},
        {T::CanonSettings1, 0x001D, PLExifShort, 1, U16LE({0x6810}),
         "External E-TTL Internal Flash FP sync used FP sync enabled", "26640"},
        {T::CanonSettings2, 0x000E, PLExifShort, 1, U16LE({0x3001}), "Centre", "12289"},
        {T::CanonSettings2, 0x000E, PLExifShort, 1, U16LE({0x0001}), "", "1"},
        {T::CanonSettings2, 0x000F, PLExifShort, 1, U16LE({65504}), "-1 EV", "-1 EV"},
        {T::Casio, 0x000A, PLExifLong, 1, U32LE({65536}), "Off", "Off"},
        // Negative values round to themselves, so the EV shifts below 0 are named.
        {T::Casio, 0x0101, PLExifSShort, 1, U16LE({-3}), "-1.0 EV", "-1.0 EV"},
        {T::Casio, 0x0101, PLExifSShort, 1, U16LE({-1}), "-0.33 EV", "-0.33 EV"},
        {T::Olympus, 0x1004, PLExifShort, 1, U16LE({2}), "Fill", "Fill"},
        {T::Main, 0x1234, PLExifShort, 20,
         U16LE({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}),
         "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 ...", "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 ..."},
        {T::Main, 0x1234, PLExifFloat, 1, U32LE({0x3F800000}), "{ 00 00 80 3f }",
         "{ 00 00 80 3f }"},
        {T::Main, 0x1234, PLExifSByte, 2, {0x7F, 0x80}, "127 -128", "127 -128"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++));
        const PLExifTagInfo* info = PLExifFindTag(PLExifGetTable(c.table), c.tag);
        PLExifTag tag(c.tag, c.format, c.count);
        ASSERT_EQ(tag.GetByteSize(), c.value.size());
        tag.ReadValue(c.value.data(), false, info, "K", 0);
        EXPECT_EQ(tag.GetDisplayText(), c.display);
        EXPECT_EQ(tag.GetRawText(), c.raw);
    }
}

TEST(PLExifTag, NumbersOfTheLastElementInEitherByteOrder) {
    PLExifTag shorts(0x0100, PLExifShort, 2);
    const Bytes bigShorts = {0x00, 0x05, 0x01, 0x02};
    shorts.ReadValue(bigShorts.data(), true, nullptr, "Main.0100", 40);
    EXPECT_EQ(shorts.GetRawText(), "5 258");
    EXPECT_EQ(shorts.GetSignedValue(), 258);
    EXPECT_EQ(shorts.GetValueOffset(), 40u);
    EXPECT_EQ(shorts.GetValueBytes()[2], 0x02);  // kept little-endian

    PLExifTag rational(0x0100, PLExifSRational, 1);
    const Bytes bigRational = {0xFF, 0xFF, 0xFF, 0xFB, 0x00, 0x00, 0x00, 0x02};
    rational.ReadValue(bigRational.data(), true, nullptr, "K", 0);
    EXPECT_EQ(rational.GetNumerator(), -5);
    EXPECT_EQ(rational.GetDenominator(), 2);
    EXPECT_DOUBLE_EQ(rational.GetDoubleValue(), -2.5);
    EXPECT_EQ(rational.GetSignedValue(), -2);  // half rounds up

    PLExifTag unsignedLong(0x0100, PLExifLong, 1);
    const Bytes allOnes = {0xFF, 0xFF, 0xFF, 0xFF};
    unsignedLong.ReadValue(allOnes.data(), false, nullptr, "K", 0);
    EXPECT_EQ(unsignedLong.GetUnsignedValue(), 0xFFFFFFFFu);
    EXPECT_EQ(unsignedLong.GetSignedValue(), -1);
    unsignedLong.ReleaseValue();
    EXPECT_TRUE(unsignedLong.GetValueBytes().empty());
    EXPECT_EQ(unsignedLong.GetRawText(), "4294967295");
}

}  // namespace
