#include "imaging/pl_bmp.h"

#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using decoder_test::CodeOf;

using Pixel = std::array<std::uint8_t, 4>;  // blue, green, red, alpha

Pixel PixelAt(const PLBmp& bmp, int x, int y) {
    Pixel p;
    std::memcpy(p.data(), bmp.GetLineArray()[y] + 4 * x, 4);
    return p;
}

// An exact quantiser for tests: the palette is the distinct colours in order of appearance.
void ExactQuantize(int /*paletteType*/, int /*ditherType*/, const PLBmp& source, PLBmp& dest) {
    dest.CreateFromData(source.GetWidth(), source.GetHeight(), PLPixelFormat::I8, nullptr, 0,
                        source.GetResolution());
    std::vector<Pixel> colours;
    for (int y = 0; y < source.GetHeight(); ++y) {
        for (int x = 0; x < source.GetWidth(); ++x) {
            Pixel p = PixelAt(source, x, y);
            p[3] = 0;
            auto at = std::find(colours.begin(), colours.end(), p);
            if (at == colours.end()) at = colours.insert(colours.end(), p);
            dest.GetLineArray()[y][x] = static_cast<std::uint8_t>(at - colours.begin());
        }
    }
    for (std::size_t i = 0; i < colours.size(); ++i) {
        std::memcpy(dest.GetPalette() + 4 * i, colours[i].data(), 4);
    }
}

// Registers a quantiser for the life of the object.
class QuantizerScope {
public:
    explicit QuantizerScope(PLQuantizeFunction quantize) : old(PLRegisterQuantizer(quantize)) {}
    ~QuantizerScope() { PLRegisterQuantizer(old); }

private:
    PLQuantizeFunction old;
};

// Fills a bitmap with a fixed pattern of bytes that is a valid image in any format.
void FillPattern(PLBmp& bmp, std::uint8_t seed) {
    for (int y = 0; y < bmp.GetHeight(); ++y) {
        for (int i = 0; i < bmp.GetBytesPerLine(); ++i) {
            bmp.GetLineArray()[y][i] = static_cast<std::uint8_t>(seed + 37 * y + 11 * i);
        }
    }
}

TEST(PLBmp, EveryFormatConvertsToA8R8G8B8AndBack) {
    QuantizerScope quantizer(&ExactQuantize);
    for (const PLPixelFormat* format : PLPixelFormatRegistry()) {
        const std::uint32_t bpp = format->GetBitsPerPixel();
        if (bpp == 0 || bpp == 48) continue;  // no format, or a depth that does not convert
        SCOPED_TRACE(format->GetName());
        PLAnyBmp source;
        source.CreateFromData(13, 5, *format, nullptr, 0, {300, 200});
        FillPattern(source, 5);

        PLAnyBmp wide;
        wide.CreateCopy(source, PLPixelFormat::A8R8G8B8);
        ASSERT_EQ(wide.GetPixelFormat(), PLPixelFormat::A8R8G8B8);
        EXPECT_EQ(wide.GetResolution(), (PLPoint{300, 200}));

        PLAnyBmp back;
        back.CreateCopy(wide, *format);
        ASSERT_EQ(back.GetPixelFormat(), *format);
        if (bpp >= 16) {
            // Same-depth copies, R5G6B5 packing and alpha drop all undo the widening exactly.
            for (int y = 0; y < 5; ++y) {
                EXPECT_EQ(0, std::memcmp(back.GetLineArray()[y], source.GetLineArray()[y],
                                         static_cast<std::size_t>(source.GetBytesPerLine())));
            }
            continue;
        }
        // Paletted formats may renumber their entries; the colours must survive.
        PLAnyBmp again;
        again.CreateCopy(back, PLPixelFormat::A8R8G8B8);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 13; ++x) {
                Pixel expected = PixelAt(wide, x, y);
                Pixel actual = PixelAt(again, x, y);
                expected[3] = actual[3] = 0;
                EXPECT_EQ(actual, expected) << x << ", " << y;
            }
        }
    }
}

TEST(PLBmp, WideningGivesTheStatedPixels) {
    struct Case {
        PLPixelFormat format;
        std::vector<std::uint8_t> bytes;  // one pixel
        Pixel expected;
    };
    const Case cases[] = {
        {PLPixelFormat::R8G8B8, {1, 2, 3}, {1, 2, 3, 255}},
        {PLPixelFormat::R5G6B5, {0x00, 0xF8}, {0, 0, 0xF8, 255}},
        {PLPixelFormat::R5G6B5, {0xFF, 0xFF}, {0xF8, 0xFC, 0xF8, 255}},
        {PLPixelFormat::R5G6B5, {0xE0, 0x07}, {0, 0xFC, 0, 255}},
        {PLPixelFormat::I8, {100}, {100, 100, 100, 255}},
        {PLPixelFormat::L1, {0x80}, {255, 255, 255, 255}},
        {PLPixelFormat::X8R8G8B8, {9, 8, 7, 6}, {9, 8, 7, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.GetName());
        PLAnyBmp source;
        source.CreateFromData(1, 1, c.format, c.bytes.data(), 0, {0, 0});
        PLAnyBmp wide;
        wide.CreateCopy(source, PLPixelFormat::A8R8G8B8);
        EXPECT_EQ(PixelAt(wide, 0, 0), c.expected);
    }
}

TEST(PLBmp, ThirtyTwoToOneBitSetsDarkPixels) {
    // (127, 127, 127) is dark, (128, 0, 0) is not: red must be below 128 too.
    const std::uint8_t pixels[] = {127, 127, 127, 255, 0, 0, 128, 255, 0, 0, 0, 0,
                                   255, 255, 255, 0,   0, 128, 0, 255, 0, 0, 0, 0,
                                   0,   0,   0,   0,   0, 0,   0, 0,   0, 0, 0, 0};
    PLAnyBmp source;
    source.CreateFromData(9, 1, PLPixelFormat::A8R8G8B8, pixels, 0, {0, 0});
    PLAnyBmp bits;
    bits.CreateCopy(source, PLPixelFormat::L1);
    // Pixels 0, 2, 5, 6, 7, 8 are dark.
    EXPECT_EQ(bits.GetLineArray()[0][0], 0xA7);
    EXPECT_EQ(bits.GetLineArray()[0][1], 0x80);
    const std::uint8_t* palette = bits.GetPalette();
    EXPECT_EQ(std::vector<std::uint8_t>(palette, palette + 8),
              (std::vector<std::uint8_t>{255, 255, 255, 255, 0, 0, 0, 255}));
}

TEST(PLBmp, OneBitToEightBitKeepsIndicesAndColours) {
    PLAnyBmp source;
    const std::uint8_t row[] = {0x5A};
    source.CreateFromData(8, 1, PLPixelFormat::L1, row, 0, {0, 0});
    const std::uint8_t twoColours[] = {10, 20, 30, 0, 40, 50, 60, 7};
    source.CopyPalette(twoColours);
    PLAnyBmp indexed;
    indexed.CreateCopy(source, PLPixelFormat::I8);
    EXPECT_EQ(std::vector<std::uint8_t>(indexed.GetBits(), indexed.GetBits() + 8),
              (std::vector<std::uint8_t>{0, 1, 0, 1, 1, 0, 1, 0}));
    EXPECT_EQ(std::vector<std::uint8_t>(indexed.GetPalette(), indexed.GetPalette() + 8),
              (std::vector<std::uint8_t>{10, 20, 30, 255, 40, 50, 60, 255}));
}

TEST(PLBmp, CopyKeepsFormatPaletteAndPixels) {
    PLAnyBmp source;
    source.CreateFromData(5, 3, PLPixelFormat::I8, nullptr, 0, {72, 72});
    FillPattern(source, 1);
    source.GetPalette()[4 * 7] = 0x42;
    for (const PLPixelFormat& request : {PLPixelFormat::DontCare, PLPixelFormat::I8}) {
        PLAnyBmp copy;
        copy.CreateCopy(source, request);
        EXPECT_EQ(copy.GetPixelFormat(), PLPixelFormat::I8);
        EXPECT_EQ(copy.GetResolution(), (PLPoint{72, 72}));
        EXPECT_EQ(0, std::memcmp(copy.GetPalette(), source.GetPalette(), 1024));
        EXPECT_EQ(0, std::memcmp(copy.GetBits(), source.GetBits(), 15));
    }
    const std::vector<std::uint8_t> before(source.GetBits(), source.GetBits() + 15);
    source.CreateCopy(source);
    EXPECT_EQ(std::vector<std::uint8_t>(source.GetBits(), source.GetBits() + 15), before);
}

TEST(PLBmp, ConvertingInPlaceReadsTheOldPixels) {
    const std::uint8_t rgb[] = {1, 2, 3, 4, 5, 6};
    PLAnyBmp bmp;
    bmp.CreateFromData(2, 1, PLPixelFormat::R8G8B8, rgb, 0, {0, 0});
    bmp.CreateCopy(bmp, PLPixelFormat::X8R8G8B8);
    EXPECT_EQ(PixelAt(bmp, 1, 0), (Pixel{4, 5, 6, 255}));
}

TEST(PLBmp, ReductionToEightBitsNeedsAQuantiser) {
    QuantizerScope none(nullptr);
    PLAnyBmp source;
    source.CreateFromData(2, 2, PLPixelFormat::A8R8G8B8, nullptr, 0, {0, 0});
    PLAnyBmp target;
    EXPECT_EQ(CodeOf([&] { target.CreateCopy(source, PLPixelFormat::I8); }),
              PLErrFormatNotCompiled);
}

TEST(PLBmp, QuantiserGetsTheBitmapsSettings) {
    static int seenPaletteType = -1;
    static int seenDitherType = -1;
    QuantizerScope scope([](int paletteType, int ditherType, const PLBmp& source, PLBmp& dest) {
        seenPaletteType = paletteType;
        seenDitherType = ditherType;
        ExactQuantize(paletteType, ditherType, source, dest);
    });
    PLAnyBmp source;
    source.CreateFromData(2, 2, PLPixelFormat::R8G8B8, nullptr, 0, {0, 0});
    PLAnyBmp target;
    target.CreateCopy(source, PLPixelFormat::L8);
    EXPECT_EQ(seenPaletteType, 0);
    EXPECT_EQ(seenDitherType, 1);
    target.SetQuantizationMode(2, 1);
    target.CreateCopy(source, PLPixelFormat::I8);
    EXPECT_EQ(seenPaletteType, 1);
    EXPECT_EQ(seenDitherType, 2);
}

TEST(PLBmp, FortyEightBitImagesDoNotConvert) {
    PLAnyBmp source;
    source.CreateFromData(2, 2, PLPixelFormat::R16G16B16, nullptr, 0, {0, 0});
    PLAnyBmp target;
    EXPECT_THROW(target.CreateCopy(source, PLPixelFormat::A8R8G8B8), PLTextException);
}

TEST(PLBmp, SetAlphaChannelFillsTheFourthByteAndSwitchesFormat) {
    const std::uint8_t colour[] = {1, 2, 3, 0, 4, 5, 6, 0};
    const std::uint8_t alphaBytes[] = {200, 100};
    PLAnyBmp bmp;
    bmp.CreateFromData(2, 1, PLPixelFormat::X8R8G8B8, colour, 0, {0, 0});
    PLAnyBmp alpha;
    alpha.CreateFromData(2, 1, PLPixelFormat::L8, alphaBytes, 0, {0, 0});
    bmp.SetAlphaChannel(alpha);
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::A8R8G8B8);
    EXPECT_EQ(PixelAt(bmp, 0, 0), (Pixel{1, 2, 3, 200}));
    EXPECT_EQ(PixelAt(bmp, 1, 0), (Pixel{4, 5, 6, 100}));
}

}  // namespace
