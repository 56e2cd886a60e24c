#include "imaging/pl_pixel_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using Channel = PLPixelFormat::Channel;

struct MaskCase {
    Channel channel;
    std::uint64_t mask;
};

struct FormatCase {
    const char* name;
    std::uint32_t bpp;
    std::vector<MaskCase> masks;
};

// The registered formats in registration order with every non-zero mask.
const std::vector<FormatCase>& RegisteredFormats() {
    static const std::vector<FormatCase> formats = {
        {"", 0, {}},
        {"L1", 1, {{Channel::L, 0x1}}},
        {"I8", 8, {{Channel::I, 0xFF}}},
        {"L8", 8, {{Channel::L, 0xFF}}},
        {"L16", 16, {{Channel::L, 0xFFFF}}},
        {"X1R5G5B5", 16, {{Channel::X, 0x8000}, {Channel::R, 0x7C00}, {Channel::G, 0x3E0}, {Channel::B, 0x1F}}},
        {"A1R5G5B5", 16, {{Channel::A, 0x8000}, {Channel::R, 0x7C00}, {Channel::G, 0x3E0}, {Channel::B, 0x1F}}},
        {"R5G6B5", 16, {{Channel::R, 0xF800}, {Channel::G, 0x7E0}, {Channel::B, 0x1F}}},
        {"R8G8B8", 24, {{Channel::R, 0xFF0000}, {Channel::G, 0xFF00}, {Channel::B, 0xFF}}},
        {"A8R8G8B8", 32, {{Channel::A, 0xFF000000}, {Channel::R, 0xFF0000}, {Channel::G, 0xFF00}, {Channel::B, 0xFF}}},
        {"X8R8G8B8", 32, {{Channel::X, 0xFF000000}, {Channel::R, 0xFF0000}, {Channel::G, 0xFF00}, {Channel::B, 0xFF}}},
        {"R16G16B16", 48, {{Channel::R, 0xFFFF00000000}, {Channel::G, 0xFFFF0000}, {Channel::B, 0xFFFF}}},
        {"B5G5R5X1", 16, {{Channel::B, 0xF800}, {Channel::G, 0x7C0}, {Channel::R, 0x3E}, {Channel::X, 0x1}}},
        {"B5G5R5A1", 16, {{Channel::B, 0xF800}, {Channel::G, 0x7C0}, {Channel::R, 0x3E}, {Channel::A, 0x1}}},
        {"B5G6R5", 16, {{Channel::B, 0xF800}, {Channel::G, 0x7E0}, {Channel::R, 0x1F}}},
        {"B8G8R8", 24, {{Channel::B, 0xFF0000}, {Channel::G, 0xFF00}, {Channel::R, 0xFF}}},
        {"B8G8R8A8", 32, {{Channel::B, 0xFF000000}, {Channel::G, 0xFF0000}, {Channel::R, 0xFF00}, {Channel::A, 0xFF}}},
        {"B8G8R8X8", 32, {{Channel::B, 0xFF000000}, {Channel::G, 0xFF0000}, {Channel::R, 0xFF00}, {Channel::X, 0xFF}}},
        {"A8B8G8R8", 32, {{Channel::A, 0xFF000000}, {Channel::B, 0xFF0000}, {Channel::G, 0xFF00}, {Channel::R, 0xFF}}},
        {"X8B8G8R8", 32, {{Channel::X, 0xFF000000}, {Channel::B, 0xFF0000}, {Channel::G, 0xFF00}, {Channel::R, 0xFF}}},
        {"B16G16R16", 48, {{Channel::B, 0xFFFF00000000}, {Channel::G, 0xFFFF0000}, {Channel::R, 0xFFFF}}},
        {"L8Cbr8", 16, {{Channel::L, 0xFF00}, {Channel::Cbr, 0xFF}}},
        {"L8Cb8Cr8", 24, {{Channel::L, 0xFF0000}, {Channel::Cb, 0xFF00}, {Channel::Cr, 0xFF}}},
    };
    return formats;
}

TEST(PLPixelFormat, RegistryHoldsTheTwentyThreeFormatsInOrderWithTheirMasks) {
    const auto registry = PLPixelFormatRegistry();
    const auto& expected = RegisteredFormats();
    ASSERT_EQ(registry.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        const PLPixelFormat& format = *registry[i];
        EXPECT_EQ(format.GetName(), expected[i].name);
        EXPECT_EQ(format.GetBitsPerPixel(), expected[i].bpp);
        std::uint64_t masks[PLPixelFormat::ChannelCount] = {};
        for (const MaskCase& m : expected[i].masks) masks[static_cast<int>(m.channel)] = m.mask;
        for (int c = 0; c < PLPixelFormat::ChannelCount; ++c) {
            EXPECT_EQ(format.GetMask(static_cast<Channel>(c)), masks[c]) << "channel " << c;
        }
        EXPECT_EQ(PLPixelFormat::FindByName(expected[i].name), format);
    }
}

TEST(PLPixelFormat, UseAlphaSwitchesBetweenVariants) {
    struct Case {
        const char* from;
        bool useAlpha;
        const char* to;
    };
    const Case cases[] = {
        {"A8R8G8B8", false, "X8R8G8B8"}, {"X8R8G8B8", true, "A8R8G8B8"},
        {"B8G8R8X8", true, "B8G8R8A8"},  {"A1R5G5B5", false, "X1R5G5B5"},
        {"R8G8B8", true, "R8G8B8"},      {"A8R8G8B8", true, "A8R8G8B8"},
        {"X8B8G8R8", false, "X8B8G8R8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + (c.useAlpha ? " +alpha" : " -alpha"));
        EXPECT_EQ(PLPixelFormat::FindByName(c.from).UseAlpha(c.useAlpha).GetName(), c.to);
    }
}

TEST(PLPixelFormat, FormatsCompareByNameOnly) {
    EXPECT_EQ(PLPixelFormat("R8G8B8"), PLPixelFormat::R8G8B8);
    EXPECT_NE(PLPixelFormat::R8G8B8, PLPixelFormat::B8G8R8);
    EXPECT_NE(PLPixelFormat::DontCare, PLPixelFormat::L1);
    // "C8" and "L8" have the same bits per pixel and width but different names.
    EXPECT_NE(PLPixelFormat("C8"), PLPixelFormat::L8);
    static_assert(PLPixelFormat::A8R8G8B8.GetMask(Channel::A) == 0xFF000000);
}

TEST(PLPixelFormat, UnknownAndMalformedNamesThrowWithTheName) {
    try {
        PLPixelFormat::FindByName("P8");
        FAIL() << "no exception";
    } catch (const PLPixelFormat::UnsupportedPixelFormat& e) {
        EXPECT_EQ(e.GetName(), "P8");
    }
    // An unregistered variant fails as well.
    EXPECT_THROW(PLPixelFormat("A4L4").UseAlpha(false), PLPixelFormat::UnsupportedPixelFormat);
    for (const char* bad : {"P8", "8R8", "R", "R8G", "R0", "Q8R8", "R65", "R40G40",
                            "R8G8B8A8R8G8B8A8X8X8X8"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(PLPixelFormat{bad}, PLPixelFormat::UnsupportedPixelFormat);
    }
}

TEST(PLPixelFormat, PaletteSizeAndLuminance) {
    EXPECT_EQ(PLPixelFormat::L1.GetPaletteSize(), 2);
    EXPECT_EQ(PLPixelFormat::I8.GetPaletteSize(), 256);
    EXPECT_EQ(PLPixelFormat::R5G6B5.GetPaletteSize(), 0);
    EXPECT_EQ(PLPixelFormat::DontCare.GetPaletteSize(), 0);
    EXPECT_TRUE(PLPixelFormat::L16.IsPureLuminance());
    EXPECT_FALSE(PLPixelFormat::L8Cbr8.IsPureLuminance());
    EXPECT_FALSE(PLPixelFormat::I8.IsPureLuminance());
}

}  // namespace
