#include "core/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(Colour, ChannelBytesRoundAndClamp) {
    const struct {
        double c;
        int byte;
    } cases[] = {{0.5, 128}, {1.0, 255}, {1.2, 255}, {0.0, 0}, {-0.3, 0},
                 {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.c);
        Colour c;
        c.r = c.g = c.b = tc.c;
        EXPECT_EQ(ColourRedByte(c), tc.byte);
        EXPECT_EQ(ColourGreenByte(c), tc.byte);
        EXPECT_EQ(ColourBlueByte(c), tc.byte);
    }
}

TEST(Colour, PackedRoundTripAndUnmaskedRed) {
    const Colour c = ColourFromRgb24(0x123456);
    EXPECT_DOUBLE_EQ(c.r, 18 / 255.0);
    EXPECT_DOUBLE_EQ(c.g, 52 / 255.0);
    EXPECT_DOUBLE_EQ(c.b, 86 / 255.0);
    EXPECT_DOUBLE_EQ(ColourFromRgb24(0x01FFFFFF).r, 511 / 255.0);

    for (std::uint32_t v = 0; v <= 0xFFFFFF; v += 0x010203) {
        ASSERT_EQ(ColourToRgb24(ColourFromRgb24(v)), v) << std::hex << v;
    }
    EXPECT_EQ(ColourToRgb24(ColourFromRgb24(0xFFFFFF)), 0xFFFFFFu);
}

TEST(Colour, SettersKeepHsvInStep) {
    const Colour c = ColourFromBytes(0, 0, 255);
    EXPECT_DOUBLE_EQ(c.h, 240.0);
    EXPECT_DOUBLE_EQ(c.s, 1.0);
    EXPECT_DOUBLE_EQ(c.v, 1.0);
    const Colour z = ColourZero();
    EXPECT_EQ(z.r + z.g + z.b + z.h + z.s + z.v, 0.0);
    EXPECT_TRUE(ColourBytesEqual(ColourFromRgb24(0x102030), ColourFromBytes(16, 32, 48)));
    EXPECT_FALSE(ColourBytesEqual(ColourFromRgb24(0x102030), ColourFromBytes(16, 32, 49)));
}

TEST(Colour, HalfContrastPacking) {
    EXPECT_EQ(PackRgbHalfContrast(ColourFromRgb24(0x000000)), 0x414141u);
    EXPECT_EQ(PackRgbHalfContrast(ColourFromRgb24(0xFFFFFF)), 0xC0C0C0u);
    Colour grey;
    ColourSetRgb(grey, 0.5, 0.5, 0.5);
    EXPECT_EQ(PackRgbHalfContrast(grey), 0x808080u);

    // Far outside 0..1 the byte still wraps modulo 256: 16843009 scales to 2147483584,
    // whose sum with 128 no longer fits a signed 32-bit value.
    Colour bright;
    ColourSetRgb(bright, 16843009.0, 0.0, 1.0);
    EXPECT_EQ(PackRgbHalfContrast(bright), 0x4041C0u);
}

TEST(Colour, RgbToHsvCases) {
    const struct {
        double r, g, b, h, s, v;
    } cases[] = {
        {1, 0, 0, 0, 1, 1},       {0, 0, 1, 240, 1, 1},      {1, 0, 1, 300, 1, 1},
        {0.5, 0.5, 0.5, 0, 0, 0.5}, {1e-7, 0, 0, 0, 0, 1e-7}, {0, 1, 0, 120, 1, 1},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.r << "," << tc.g << "," << tc.b);
        double h, s, v;
        RgbToHsv(tc.r, tc.g, tc.b, h, s, v);
        EXPECT_DOUBLE_EQ(h, tc.h);
        EXPECT_DOUBLE_EQ(s, tc.s);
        EXPECT_DOUBLE_EQ(v, tc.v);
    }
}

TEST(Colour, HsvToRgbAlwaysWritesOutputs) {
    const struct {
        double h, s, v, r, g, b;
    } cases[] = {
        {360, 1, 1, 1, 0, 0},    {120, 0, 0.3, 0.3, 0.3, 0.3}, {0, 1, 1, 1, 0, 0},
        {240, 1, 1, 0, 0, 1},    {720, 1, 1, 1, 0, 0},         {-120, 1, 1, 0, 0, 1},
        {std::numeric_limits<double>::quiet_NaN(), 1, 1, 1, 0, 0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.h);
        double r = -1, g = -1, b = -1;
        HsvToRgb(tc.h, tc.s, tc.v, r, g, b);
        EXPECT_NEAR(r, tc.r, 1e-12);
        EXPECT_NEAR(g, tc.g, 1e-12);
        EXPECT_NEAR(b, tc.b, 1e-12);
    }
}

TEST(Colour, BlendColourHsvLimits) {
    double out[3];
    BlendColourHsv(out, 0.8, 0.4, 0.2, 1.0, 0, 0, 0);
    EXPECT_NEAR(out[0], 0.8, 1e-12);
    EXPECT_NEAR(out[1], 0.4, 1e-12);
    EXPECT_NEAR(out[2], 0.2, 1e-12);

    BlendColourHsv(out, 0.8, 0.4, 0.2, 0.5, 1, 1, 1);
    EXPECT_NEAR(out[0], 0.4, 1e-12);
    EXPECT_NEAR(out[1], 0.2, 1e-12);
    EXPECT_NEAR(out[2], 0.1, 1e-12);
}

}  // namespace
