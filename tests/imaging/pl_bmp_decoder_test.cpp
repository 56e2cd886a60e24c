#include "imaging/pl_bmp_decoder.h"

#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using decoder_test::Bytes;
using decoder_test::CodeOf;
using decoder_test::Concat;
using decoder_test::Pixels;

void Append16(Bytes& bytes, std::uint32_t v) { decoder_test::AppendLE(bytes, v, 2); }
void Append32(Bytes& bytes, std::uint32_t v) { decoder_test::AppendLE(bytes, v, 4); }

// A Windows bitmap file: file header, a 40-byte (or longer) information header, the bytes
// between header and palette (masks), the palette as stored and the stored rows. The pixel
// data offset points right after the palette unless given.
struct BmpFile {
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::int32_t pelsPerMeter = 2835;
    std::uint32_t headerSize = 40;
    Bytes afterHeader;
    Bytes palette;
    Bytes rows;
    std::int64_t pixelOffset = -1;

    Bytes Build() const {
        Bytes info;
        Append32(info, headerSize);
        Append32(info, static_cast<std::uint32_t>(width));
        Append32(info, static_cast<std::uint32_t>(height));
        Append16(info, 1);
        Append16(info, bitCount);
        Append32(info, compression);
        Append32(info, 0);
        Append32(info, static_cast<std::uint32_t>(pelsPerMeter));
        Append32(info, static_cast<std::uint32_t>(pelsPerMeter));
        Append32(info, colorsUsed);
        Append32(info, 0);
        info.resize(headerSize >= 40 ? headerSize : 40, 0);
        const std::size_t offset = 14 + info.size() + afterHeader.size() + palette.size();
        Bytes file = {'B', 'M'};
        Append32(file, static_cast<std::uint32_t>(offset + rows.size()));
        Append32(file, 0);
        Append32(file, static_cast<std::uint32_t>(pixelOffset >= 0 ? pixelOffset : offset));
        return Concat({file, info, afterHeader, palette, rows});
    }
};

// Palette bytes of n 4-byte entries: entry i is (i, 2i, 3i) in blue, green, red.
Bytes Palette4(int n) {
    Bytes bytes;
    for (int i = 0; i < n; ++i) {
        const Bytes entry = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(2 * i),
                             static_cast<std::uint8_t>(3 * i), 0};
        bytes.insert(bytes.end(), entry.begin(), entry.end());
    }
    return bytes;
}

// One fixture of each variant the decoder reads, with the bitmap it must give.
struct BmpVariant {
    const char* what;
    Bytes file;
    PLPixelFormat format;
    std::int32_t width;
    std::int32_t height;
    Bytes pixels;   // the bitmap's rows, top first
    Bytes palette;  // the first palette bytes to compare (empty: none)
};

std::vector<BmpVariant> BmpVariants() {
    std::vector<BmpVariant> variants;

    BmpFile oneBit;
    oneBit.width = 10, oneBit.height = 2, oneBit.bitCount = 1;
    oneBit.palette = {10, 20, 30, 0, 40, 50, 60, 0};
    oneBit.rows = {0xA5, 0x40, 0xEE, 0xEE, 0x00, 0xC0, 0xEE, 0xEE};  // bottom row first
    variants.push_back({"1 bit, width 10",
                        oneBit.Build(),
                        PLPixelFormat::I8,
                        10,
                        2,
                        {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1},
                        {10, 20, 30, 255, 40, 50, 60, 255}});

    BmpFile fourBit;
    fourBit.width = 3, fourBit.height = 1, fourBit.bitCount = 4, fourBit.colorsUsed = 3;
    fourBit.palette = Palette4(16);
    fourBit.rows = {0x1F, 0x70, 0, 0};
    variants.push_back({"4 bits, colours used 3 reads 16 entries",
                        fourBit.Build(),
                        PLPixelFormat::I8,
                        3,
                        1,
                        {1, 15, 7},
                        {0, 0, 0, 255, 1, 2, 3, 255}});

    BmpFile eightBit;
    eightBit.width = 2, eightBit.height = 2, eightBit.bitCount = 8, eightBit.colorsUsed = 16;
    eightBit.palette = Palette4(16);
    eightBit.rows = {3, 4, 0, 0, 15, 16, 0, 0};
    Bytes eightPalette = Palette4(16);
    for (int i = 0; i < 16; ++i) eightPalette[4 * i + 3] = 255;
    eightPalette.resize(4 * 17, 0);  // entry 16 is not in the file: zero
    variants.push_back({"8 bits, colours used 16",
                        eightBit.Build(),
                        PLPixelFormat::I8,
                        2,
                        2,
                        {15, 16, 3, 4},
                        eightPalette});

    BmpFile rle8;
    rle8.width = 5, rle8.height = 3, rle8.bitCount = 8, rle8.compression = 1;
    rle8.palette = Palette4(256);
    // Bottom row: a run of 2 and an odd literal of 3 with its pad byte; middle row: a run of
    // 5; then end of bitmap, so the top row keeps its zeros.
    rle8.rows = {2, 9, 0, 3, 7, 8, 6, 0xEE, 0, 0, 5, 4, 0, 0, 0, 1};
    variants.push_back({"RLE8 ending early",
                        rle8.Build(),
                        PLPixelFormat::I8,
                        5,
                        3,
                        {0, 0, 0, 0, 0, 4, 4, 4, 4, 4, 9, 9, 7, 8, 6},
                        {}});

    // Runs may cover the row's padding up to its stored width (8 pixels); those are dropped.
    BmpFile padded = rle8;
    padded.height = 1;
    padded.rows = {3, 1, 0, 5, 2, 3, 4, 5, 6, 0, 0, 1};
    variants.push_back({"RLE8 run over the row padding",
                        padded.Build(),
                        PLPixelFormat::I8,
                        5,
                        1,
                        {1, 1, 1, 2, 3},
                        {}});

    BmpFile rle4;
    rle4.width = 6, rle4.height = 1, rle4.bitCount = 4, rle4.compression = 2;
    rle4.palette = Palette4(16);
    // A run of 3 alternating nibbles, then a literal of 3 (two bytes, even: no pad).
    rle4.rows = {3, 0x12, 0, 3, 0xAB, 0xC0, 0, 1};
    variants.push_back(
        {"RLE4", rle4.Build(), PLPixelFormat::I8, 6, 1, {1, 2, 1, 0xA, 0xB, 0xC}, {}});

    BmpFile rgb555;
    rgb555.width = 1, rgb555.height = 1, rgb555.bitCount = 16;
    rgb555.rows = {0x00, 0x7C, 0, 0};
    variants.push_back(
        {"16 bits 5-5-5", rgb555.Build(), PLPixelFormat::X8R8G8B8, 1, 1, {0, 0, 248, 255}, {}});

    BmpFile rgb565;
    rgb565.width = 2, rgb565.height = 1, rgb565.bitCount = 16, rgb565.compression = 3;
    Append32(rgb565.afterHeader, 0xF800);
    Append32(rgb565.afterHeader, 0x07E0);
    Append32(rgb565.afterHeader, 0x001F);
    rgb565.rows = {0x00, 0xF8, 0xE0, 0x07};
    variants.push_back({"16 bits 5-6-5 bit fields",
                        rgb565.Build(),
                        PLPixelFormat::X8R8G8B8,
                        2,
                        1,
                        {0, 0, 248, 255, 0, 248, 0, 255},
                        {}});

    BmpFile rgb24;
    rgb24.width = 1, rgb24.height = -2, rgb24.bitCount = 24;  // top-down
    rgb24.rows = {1, 2, 3, 0, 4, 5, 6, 0};
    variants.push_back({"24 bits top-down",
                        rgb24.Build(),
                        PLPixelFormat::X8R8G8B8,
                        1,
                        2,
                        {1, 2, 3, 255, 4, 5, 6, 255},
                        {}});

    BmpFile rgb32;
    rgb32.width = 2, rgb32.height = 1, rgb32.bitCount = 32;
    rgb32.rows = {1, 2, 3, 4, 5, 6, 7, 0};
    variants.push_back({"32 bits keep alpha",
                        rgb32.Build(),
                        PLPixelFormat::A8R8G8B8,
                        2,
                        1,
                        {1, 2, 3, 4, 5, 6, 7, 0},
                        {}});

    BmpFile fields32 = rgb32;
    fields32.compression = 3;
    Append32(fields32.afterHeader, 0xFF0000);
    Append32(fields32.afterHeader, 0xFF00);
    Append32(fields32.afterHeader, 0xFF);
    variants.push_back({"32 bits with masks after a 40-byte header",
                        fields32.Build(),
                        PLPixelFormat::A8R8G8B8,
                        2,
                        1,
                        {1, 2, 3, 4, 5, 6, 7, 0},
                        {}});

    BmpFile v5 = eightBit;
    v5.headerSize = 124;
    variants.push_back({"124-byte header, 4-byte palette",
                        v5.Build(),
                        PLPixelFormat::I8,
                        2,
                        2,
                        {15, 16, 3, 4},
                        eightPalette});

    BmpFile gap = rgb24;
    gap.afterHeader = {0xEE, 0xEE, 0xEE, 0xEE};  // rows start at the offset, after a gap
    variants.push_back({"rows at the pixel data offset",
                        gap.Build(),
                        PLPixelFormat::X8R8G8B8,
                        1,
                        2,
                        {1, 2, 3, 255, 4, 5, 6, 255},
                        {}});

    // An OS/2 bitmap array: a "BA" header, then a core-header bitmap whose pixel offset
    // counts the 14 array bytes.
    Bytes array = {'B', 'A'};
    Append32(array, 0);
    Append32(array, 0);
    Append32(array, 0);
    Bytes core = {'B', 'M'};
    Append32(core, 0);
    Append32(core, 0);
    Append32(core, 14 + 14 + 12 + 6 + 2);  // headers, 2 entries of 3 bytes, 2 skipped bytes
    Append32(core, 12);
    Append16(core, 3);
    Append16(core, 1);
    Append16(core, 1);
    Append16(core, 1);
    const Bytes corePalette = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE};
    const Bytes coreRow = {0x60, 0, 0, 0};
    variants.push_back({"bitmap array with a core header",
                        Concat({array, core, corePalette, coreRow}),
                        PLPixelFormat::I8,
                        3,
                        1,
                        {0, 1, 1},
                        {1, 2, 3, 255, 4, 5, 6, 255}});
    return variants;
}

TEST(PLBmpDecoder, DecodesEachVariant) {
    for (const BmpVariant& v : BmpVariants()) {
        SCOPED_TRACE(v.what);
        PLAnyBmp bmp;
        decoder_test::ExpectImage<PLBmpDecoder>(v.file, v.format, v.pixels, v.palette, bmp);
        EXPECT_EQ(bmp.GetSize(), (PLPoint{v.width, v.height}));
    }
}

TEST(PLBmpDecoder, AnyFormatDecoderReadsBitmaps) {
    const BmpVariant v = BmpVariants().front();
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(v.file.data(), static_cast<std::int32_t>(v.file.size()), bmp);
    EXPECT_EQ(decoder.GetFileType(), PLFileTypeBmp);
    EXPECT_EQ(Pixels(bmp), v.pixels);
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{72, 72}));
}

TEST(PLBmpDecoder, PixelsPerMetreBecomeDotsPerInch) {
    const struct {
        std::int32_t pixelsPerMetre;
        std::int32_t dpi;
    } cases[] = {{2835, 72}, {3780, 96}, {39, 0}, {79, 2}, {0, 0}, {-2835, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pixelsPerMetre);
        EXPECT_EQ(PLBmpDecoder::DotsPerInch(c.pixelsPerMetre), c.dpi);
    }
}

TEST(PLBmpDecoder, CorruptFilesFailWithTheirCodes) {
    BmpFile rle8;
    rle8.width = 4, rle8.height = 1, rle8.bitCount = 8, rle8.compression = 1;
    rle8.palette = Palette4(256);
    BmpFile rle4 = rle8;
    rle4.bitCount = 4, rle4.compression = 2, rle4.palette = Palette4(16);
    // Each depth has its one run-length code; the other depth's code, bit fields and
    // embedded JPEG or PNG data are not read.
    BmpFile rle8Coded4 = rle8;
    rle8Coded4.compression = 2;
    BmpFile rle4Coded8 = rle4;
    rle4Coded8.compression = 1;
    BmpFile jpegCoded = rle8;
    jpegCoded.compression = 4;
    BmpFile bitFields8 = rle8;
    bitFields8.compression = 3;
    BmpFile hugeRows;
    hugeRows.width = 30000, hugeRows.height = 30000, hugeRows.bitCount = 32;
    BmpFile hugePalette;
    hugePalette.bitCount = 8, hugePalette.colorsUsed = 0xFFFFFFFF;
    Bytes hugeHeader = BmpFile().Build();
    hugeHeader[14] = 0xF0, hugeHeader[15] = 0xFF, hugeHeader[16] = 0xFF, hugeHeader[17] = 0xFF;
    BmpFile badBits;
    badBits.bitCount = 2;
    BmpFile shortHeader;
    shortHeader.headerSize = 20;
    BmpFile negativeWidth;
    negativeWidth.width = -1;

    const auto with = [](BmpFile file, Bytes rows) {
        file.rows = std::move(rows);
        return file.Build();
    };
    Bytes notABitmap = rle8.Build();
    notABitmap[0] = 'X';
    // A core header whose pixel offset lies inside its headers would need a negative skip.
    Bytes coreBackwards = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0,  10, 0, 0, 0, 12,
                           0,   0,   0, 1, 0, 1, 0, 1, 0, 24, 0,  1, 2, 3, 0};

    decoder_test::ExpectFailures<PLBmpDecoder>({
        {"signature", notABitmap, PLErrWrongSignature,
         "Decoder error: Bitmap decoder: This isn't a bitmap.\n"},
        {"header size 20", shortHeader.Build(), PLErrWrongSignature, nullptr},
        {"negative width", negativeWidth.Build(), PLErrWrongSignature, nullptr},
        {"core offset inside the headers", coreBackwards, PLErrWrongSignature, nullptr},
        {"2 bits", badBits.Build(), PLErrFormatUnknown,
         "Decoder error: Decoding bmp: Illegal bpp value.\n"},
        {"delta escape", with(rle8, {0, 2, 1, 1}), PLErrFormatNotSupported,
         "Decoder error: Encountered delta escape.\n"},
        {"RLE8 run past the row", with(rle8, {3, 1, 2, 1, 0, 0}), PLErrWrongSignature,
         "Decoder error: Run-length data passes the row.\n"},
        {"RLE8 literal past the row", with(rle8, {0, 5, 1, 2, 3, 4, 5, 0}), PLErrWrongSignature,
         nullptr},
        {"RLE4 run past the stored row", with(rle4, {9, 0x11, 0, 0}), PLErrWrongSignature, nullptr},
        {"RLE8 without end", with(rle8, {2, 1}), PLErrEndOfFile, nullptr},
        {"8 bits with the RLE4 code", with(rle8Coded4, {0, 1}), PLErrFormatUnknown,
         "Decoder error: Decoding bmp: Unknown compression.\n"},
        {"4 bits with the RLE8 code", with(rle4Coded8, {0, 1}), PLErrFormatUnknown, nullptr},
        {"8 bits with JPEG data", with(jpegCoded, {0, 1}), PLErrFormatUnknown, nullptr},
        {"8 bits with bit fields", with(bitFields8, {0, 1}), PLErrFormatUnknown, nullptr},
        {"rows beyond the data", hugeRows.Build(), PLErrEndOfFile, nullptr},
        {"colours used beyond the data", hugePalette.Build(), PLErrEndOfFile, nullptr},
        {"header size beyond the data", hugeHeader, PLErrEndOfFile, nullptr},
    });
}

// A few hundred bytes of header claiming millions of rows are refused from the header, before
// any storage is asked for: every stored row takes at least its padded bytes uncompressed and
// a two-byte escape run-length coded.
TEST(PLBmpDecoder, RowsTheDataCannotHoldAreRefusedBeforeAllocation) {
    BmpFile rle4;
    rle4.width = 67, rle4.height = 13303853, rle4.bitCount = 4, rle4.compression = 2;
    rle4.palette = Palette4(16);
    for (int i = 0; i < 54; ++i) rle4.rows.insert(rle4.rows.end(), {2, 0x12});
    rle4.rows.push_back(0), rle4.rows.push_back(1);
    const Bytes tiny = rle4.Build();
    ASSERT_LT(tiny.size(), 256u);

    BmpFile rle8;
    rle8.width = 4000, rle8.height = -4000, rle8.bitCount = 8, rle8.compression = 1;
    rle8.palette = Palette4(256);
    rle8.rows = {0, 0, 0, 0, 0, 1};
    BmpFile uncompressed;
    uncompressed.width = 5000, uncompressed.height = 5000, uncompressed.bitCount = 1;
    uncompressed.palette = Palette4(2);
    uncompressed.rows.assign(5000, 0);

    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"RLE4, 13 million rows", tiny},
        {"RLE8 top-down, 4000 rows", rle8.Build()},
        {"1 bit, 5000 rows of 628 bytes", uncompressed.Build()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decoder_test::CodeWithoutStorage<PLBmpDecoder>(c.file), PLErrEndOfFile);
    }

    // Two bytes a row is enough to be decoded: rows after the end of the bitmap stay 0.
    rle8.height = -3;
    PLAnyBmp bmp;
    decoder_test::Decode<PLBmpDecoder>(rle8.Build(), bmp);
    EXPECT_EQ(bmp.GetHeight(), 3);
}

TEST(PLBmpDecoder, EveryCutOfAFixtureFailsCleanly) {
    for (const BmpVariant& v : BmpVariants()) {
        SCOPED_TRACE(v.what);
        decoder_test::ExpectEveryCutFails<PLBmpDecoder>(v.file,
                                                        {PLErrEndOfFile, PLErrWrongSignature});
    }
}

TEST(PLBmpDecoder, KeptCorruptFilesFailCleanly) {
    decoder_test::ExpectDataFilesFail({{"bmp_rle8_run_past_row.bmp", PLErrWrongSignature},
                                       {"bmp_core_offset_inside_headers.bmp", PLErrWrongSignature},
                                       {"bmp_huge_rows_short_data.bmp", PLErrEndOfFile},
                                       {"bmp_zero_width_many_rows.bmp", PLErrWrongSignature},
                                       {"bmp_rle4_millions_of_rows.bmp", PLErrEndOfFile},
                                       {"bmp_row_bytes_overflow.bmp", PLErrEndOfFile}});
}

}  // namespace
