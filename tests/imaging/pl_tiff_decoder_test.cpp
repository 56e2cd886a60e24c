#include "imaging/pl_tiff_decoder.h"

#include "core/byte_order.h"
#include "core/private_heap.h"
#include "imaging/decoder_test_util.h"
#include "imaging/image_file.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_tiff_mem_stream.h"
#include "imaging/tiff_test_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tiff_test::Bytes;
using tiff_test::Layout;
using tiff_test::WriteTiff;

// Decodes bytes with the TIFF decoder; returns the exception's code (0 on success).
std::int32_t Decode(const Bytes& file, PLAnyBmp& bmp, std::string* text = nullptr) {
    PLTIFFDecoder decoder;
    try {
        decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
    } catch (const PLTextException& e) {
        if (text != nullptr) *text = e.GetText();
        return e.GetCode();
    }
    return 0;
}

// Blue, green, red, alpha of pixel x of row y of a 32-bit bitmap.
std::uint32_t PixelAt(const PLAnyBmp& bmp, int x, int y) {
    return LoadU32LE(bmp.GetLineArray()[y] + 4 * x);
}

// An RGB test pattern of 5 x 4 pixels, rows of red, green, blue bytes.
std::vector<Bytes> RgbRows(int samples = 3) {
    std::vector<Bytes> rows;
    for (int y = 0; y < 4; ++y) {
        Bytes row;
        for (int x = 0; x < 5; ++x) {
            row.push_back(static_cast<std::uint8_t>(x * 50));
            row.push_back(static_cast<std::uint8_t>(y * 60 + 10));
            row.push_back(static_cast<std::uint8_t>((x + y) * 20));
            if (samples == 4) row.push_back(static_cast<std::uint8_t>(255 - x * 40));
        }
        rows.push_back(row);
    }
    return rows;
}

// The test pattern as an LZW-coded RGB file.
Bytes LzwRgbFile() {
    return WriteTiff({.width = 5,
                      .height = 4,
                      .samplesPerPixel = 3,
                      .photometric = PHOTOMETRIC_RGB,
                      .compression = COMPRESSION_LZW},
                     RgbRows());
}

std::uint32_t RgbPattern(int x, int y) {
    return 0xFF000000u | static_cast<std::uint32_t>(x * 50) << 16 |
           static_cast<std::uint32_t>(y * 60 + 10) << 8 | static_cast<std::uint32_t>((x + y) * 20);
}

TEST(PLTIFFDecoder, ColourCodecsDecodeToTheWrittenPixels) {
    struct Case {
        std::uint16_t compression;
        int tolerance;  // lossy codecs
    };
    const Case cases[] = {
        {COMPRESSION_NONE, 0},    {COMPRESSION_LZW, 0},           {COMPRESSION_PACKBITS, 0},
        {COMPRESSION_DEFLATE, 0}, {COMPRESSION_ADOBE_DEFLATE, 0}, {COMPRESSION_LZMA, 0},
        {COMPRESSION_ZSTD, 0},    {COMPRESSION_JPEG, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.compression);
        if (!TIFFIsCODECConfigured(c.compression)) continue;
        Layout layout{.width = 5,
                      .height = 4,
                      .samplesPerPixel = 3,
                      .photometric = PHOTOMETRIC_RGB,
                      .compression = c.compression};
        if (c.compression == COMPRESSION_JPEG) layout.tileSize = 16;  // JPEG needs whole blocks
        const Bytes file = WriteTiff(layout, RgbRows());
        ASSERT_FALSE(file.empty());
        PLAnyBmp bmp;
        ASSERT_EQ(Decode(file, bmp), 0);
        EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::X8R8G8B8);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                const std::uint32_t got = PixelAt(bmp, x, y);
                const std::uint32_t want = RgbPattern(x, y);
                for (int shift = 0; shift < 32; shift += 8) {
                    EXPECT_LE(std::abs(static_cast<int>((got >> shift) & 0xFF) -
                                       static_cast<int>((want >> shift) & 0xFF)),
                              c.tolerance)
                        << x << "," << y;
                }
            }
        }
    }
}

TEST(PLTIFFDecoder, BilevelCodecsKeepTheRowBits) {
    // Rows of 8 pixels: four white then four black, then all white; white is 0.
    struct Case {
        std::uint16_t compression;
        std::vector<Bytes> coded;  // raw strips for the codecs libtiff only decodes
    };
    const Case cases[] = {
        {COMPRESSION_NONE, {}},
        {COMPRESSION_CCITTFAX3, {}},
        {COMPRESSION_CCITTFAX4, {}},
        // White run 4 "1011", black run 4 "011"; white run 8 "10011"; byte-aligned rows.
        {COMPRESSION_CCITTRLE, {{0xB6}, {0x98}}},
        // The same, aligned to 16-bit words.
        {COMPRESSION_CCITTRLEW, {{0xB6, 0x00}, {0x98, 0x00}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.compression);
        const Layout layout{.width = 8,
                            .height = 2,
                            .bitsPerSample = 1,
                            .photometric = PHOTOMETRIC_MINISWHITE,
                            .compression = c.compression,
                            .writeRaw = !c.coded.empty()};
        const Bytes file =
            WriteTiff(layout, c.coded.empty() ? std::vector<Bytes>{{0x0F}, {0x00}} : c.coded);
        ASSERT_FALSE(file.empty());
        PLAnyBmp bmp;
        ASSERT_EQ(Decode(file, bmp), 0);
        EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::L1);
        EXPECT_EQ(bmp.GetLineArray()[0][0], 0x0F);
        EXPECT_EQ(bmp.GetLineArray()[1][0], 0x00);
    }
}

TEST(PLTIFFDecoder, BilevelPaletteFollowsThePhotometric) {
    for (const std::uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
        SCOPED_TRACE(photometric);
        const Bytes file =
            WriteTiff({.width = 3, .bitsPerSample = 1, .photometric = photometric}, {{0xA0}});
        PLAnyBmp bmp;
        ASSERT_EQ(Decode(file, bmp), 0);
        ASSERT_EQ(bmp.GetPixelFormat(), PLPixelFormat::L1);
        EXPECT_EQ(bmp.GetLineArray()[0][0], 0xA0);
        const std::uint32_t white = 0xFFFFFFFF;
        const std::uint32_t black = 0xFF000000;
        const bool isWhiteZero = photometric == PHOTOMETRIC_MINISWHITE;
        EXPECT_EQ(LoadU32LE(bmp.GetPalette()), isWhiteZero ? white : black);
        EXPECT_EQ(LoadU32LE(bmp.GetPalette() + 4), isWhiteZero ? black : white);
    }
}

TEST(PLTIFFDecoder, PackedGreyUnpacksOnePixelAByte) {
    // ThunderScan codes each 4-bit pixel as one raw byte 0xC0 | value; NeXT codes a literal
    // row as 0x00 followed by the packed scanline.
    struct Case {
        const char* what;
        Layout layout;
        std::vector<Bytes> rows;
        Bytes pixels;
    };
    const Case cases[] = {
        {"4-bit, odd width",
         {.width = 5, .bitsPerSample = 4},
         {{0x12, 0x34, 0x50}},
         {1, 2, 3, 4, 5}},
        {"2-bit", {.width = 5, .bitsPerSample = 2}, {{0x1B, 0x80}}, {0, 1, 2, 3, 2}},
        {"ThunderScan",
         {.width = 5, .bitsPerSample = 4, .compression = COMPRESSION_THUNDERSCAN, .writeRaw = true},
         {{0xC1, 0xC2, 0xC3, 0xC4, 0xC5}},
         {1, 2, 3, 4, 5}},
        {"NeXT",
         {.width = 5, .bitsPerSample = 2, .compression = COMPRESSION_NEXT, .writeRaw = true},
         {{0x00, 0x1B, 0x80}},
         {0, 1, 2, 3, 2}},
        {"grey and alpha",
         {.width = 3, .samplesPerPixel = 2, .extraSamples = {2}},
         {{10, 200, 20, 201, 30, 202}},
         {10, 20, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes file = WriteTiff(c.layout, c.rows);
        ASSERT_FALSE(file.empty());
        PLAnyBmp bmp;
        ASSERT_EQ(Decode(file, bmp), 0);
        EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::L8);
        EXPECT_EQ(Bytes(bmp.GetLineArray()[0], bmp.GetLineArray()[0] + c.pixels.size()), c.pixels);
        // The grey ramp has 2^bits entries: the last is white.
        const int last = (1 << c.layout.bitsPerSample) - 1;
        EXPECT_EQ(LoadU32LE(bmp.GetPalette() + 4 * last), 0xFFFFFFFFu);
    }
}

TEST(PLTIFFDecoder, ColourMapsOfEightAndSixteenBits) {
    std::vector<std::uint16_t> narrow(3 * 256, 0);
    narrow[1] = 200;        // red of entry 1
    narrow[256 + 1] = 100;  // green
    narrow[512 + 1] = 50;   // blue
    std::vector<std::uint16_t> wide = narrow;
    wide[1] = 65535;
    wide[256 + 1] = 32768;
    wide[512 + 1] = 256;  // 256 * 255 / 65535 = 0
    struct Case {
        const std::vector<std::uint16_t>* map;
        std::uint32_t entry1;
    };
    const Case cases[] = {{&narrow, 0xFFC86432}, {&wide, 0xFFFF7F00}};
    for (const Case& c : cases) {
        const Bytes file = WriteTiff(
            {.width = 2, .photometric = PHOTOMETRIC_PALETTE, .colourMap = *c.map}, {{1, 0}});
        PLAnyBmp bmp;
        ASSERT_EQ(Decode(file, bmp), 0);
        EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::I8);
        EXPECT_EQ(bmp.GetLineArray()[0][0], 1);
        EXPECT_EQ(LoadU32LE(bmp.GetPalette() + 4), c.entry1);
    }
}

TEST(PLTIFFDecoder, SixteenBitGreyAndLogLuminanceGoThroughTheRgbaReader) {
    Bytes grey16(4);
    StoreU16LE(&grey16[0], 0xFFFF);
    StoreU16LE(&grey16[2], 0x8080);
    const Bytes file = WriteTiff({.width = 2, .bitsPerSample = 16}, {grey16});
    PLAnyBmp bmp;
    ASSERT_EQ(Decode(file, bmp), 0);
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::X8R8G8B8);
    EXPECT_EQ(PixelAt(bmp, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(bmp, 1, 0), 0xFF808080u);

    // Log luminance of 1.0, 0.25 and 0: the reader maps Y to 256 * sqrt(Y), at most 255.
    const auto floats = [](std::initializer_list<float> values) {
        Bytes bytes(4 * values.size());
        std::size_t at = 0;
        for (const float v : values) {
            StoreF32LE(&bytes[at], v);
            at += 4;
        }
        return bytes;
    };
    if (TIFFIsCODECConfigured(COMPRESSION_SGILOG)) {
        const Bytes logL = WriteTiff({.width = 3,
                                      .bitsPerSample = 32,
                                      .photometric = PHOTOMETRIC_LOGL,
                                      .compression = COMPRESSION_SGILOG,
                                      .sampleFormat = SAMPLEFORMAT_IEEEFP},
                                     {floats({1.0f, 0.25f, 0.0f})});
        ASSERT_FALSE(logL.empty());
        ASSERT_EQ(Decode(logL, bmp), 0);
        EXPECT_NEAR(static_cast<int>(PixelAt(bmp, 0, 0) & 0xFF), 255, 1);
        EXPECT_NEAR(static_cast<int>(PixelAt(bmp, 1, 0) & 0xFF), 128, 2);
        EXPECT_EQ(PixelAt(bmp, 2, 0) & 0xFFFFFF, 0u);
    }
    if (TIFFIsCODECConfigured(COMPRESSION_SGILOG24)) {
        const Bytes logLuv = WriteTiff({.width = 2,
                                        .bitsPerSample = 32,
                                        .samplesPerPixel = 3,
                                        .photometric = PHOTOMETRIC_LOGLUV,
                                        .compression = COMPRESSION_SGILOG24,
                                        .sampleFormat = SAMPLEFORMAT_IEEEFP},
                                       {floats({0.95f, 1.0f, 1.09f, 0.0f, 0.0f, 0.0f})});
        ASSERT_FALSE(logLuv.empty());
        ASSERT_EQ(Decode(logLuv, bmp), 0);
        EXPECT_GT(PixelAt(bmp, 0, 0) & 0xFF, 200u);
        EXPECT_EQ(PixelAt(bmp, 1, 0) & 0xFFFFFF, 0u);
    }
}

TEST(PLTIFFDecoder, TiledAndAlphaLayouts) {
    // Tiled RGB, cut into 16 x 16 tiles.
    const Bytes tiled = WriteTiff({.width = 5,
                                   .height = 4,
                                   .samplesPerPixel = 3,
                                   .photometric = PHOTOMETRIC_RGB,
                                   .tileSize = 16},
                                  RgbRows());
    PLAnyBmp bmp;
    std::string text;
    ASSERT_EQ(Decode(tiled, bmp, &text), 0) << text;
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::X8R8G8B8);
    EXPECT_EQ(PixelAt(bmp, 4, 3), RgbPattern(4, 3));

    // Unassociated alpha stays as it is in the file; associated alpha is taken unchanged.
    for (const std::uint16_t extra : {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_ASSOCALPHA}) {
        SCOPED_TRACE(extra);
        const Bytes file = WriteTiff({.width = 2,
                                      .samplesPerPixel = 4,
                                      .photometric = PHOTOMETRIC_RGB,
                                      .extraSamples = {extra}},
                                     {{200, 100, 50, 128, 10, 20, 30, 255}});
        ASSERT_EQ(Decode(file, bmp), 0);
        EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::A8R8G8B8);
        EXPECT_EQ(PixelAt(bmp, 0, 0), 0x80C86432u);
        EXPECT_EQ(PixelAt(bmp, 1, 0), 0xFF0A141Eu);
    }
}

// The RGBA reader's layouts against libtiff's own TIFFReadRGBAImageOriented, pixel for pixel:
// strips of 8-bit RGB and alpha (which the decoder reads row by row into the bitmap, over
// strips of one row, several rows, or the whole image, with the codecs and predictor that
// decode so), layouts it leaves to libtiff's strip and tile readers with put routines that
// write pixels (tiles, rows bottom-up, alpha beside a second extra sample), and layouts whose
// raster words the decoder turns into pixels afterwards (16 bits, grey of 16 bits).
// Unassociated alpha of four samples is kept as stored where libtiff would multiply it in.
TEST(PLTIFFDecoder, RgbaReaderMatchesLibtiffPixelForPixel) {
    struct Case {
        const char* what;
        Layout layout;
        bool isAlphaAsStored = false;  // the samples as they stand, not libtiff's raster
    };
    const Case cases[] = {
        {"rgb, one column",
         {.width = 1, .height = 3, .samplesPerPixel = 3, .photometric = PHOTOMETRIC_RGB}},
        {"rgb lzw",
         {.width = 7,
          .height = 5,
          .samplesPerPixel = 3,
          .photometric = PHOTOMETRIC_RGB,
          .compression = COMPRESSION_LZW}},
        {"associated alpha",
         {.width = 6,
          .height = 3,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .extraSamples = {EXTRASAMPLE_ASSOCALPHA}}},
        {"associated alpha, tiled",
         {.width = 5,
          .height = 4,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
          .tileSize = 16}},
        {"associated alpha and a second extra sample",
         {.width = 3,
          .height = 2,
          .samplesPerPixel = 5,
          .photometric = PHOTOMETRIC_RGB,
          .extraSamples = {EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNSPECIFIED}}},
        {"unassociated alpha and a second extra sample",
         {.width = 3,
          .height = 2,
          .samplesPerPixel = 5,
          .photometric = PHOTOMETRIC_RGB,
          .extraSamples = {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNSPECIFIED}}},
        {"rgb of 16 bits",
         {.width = 3,
          .height = 2,
          .bitsPerSample = 16,
          .samplesPerPixel = 3,
          .photometric = PHOTOMETRIC_RGB}},
        {"grey of 16 bits", {.width = 4, .height = 2, .bitsPerSample = 16}},
        {"associated alpha, lzw with predictor, strips of 3 rows",
         {.width = 7,
          .height = 8,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .compression = COMPRESSION_LZW,
          .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
          .rowsPerStrip = 3,
          .predictor = PREDICTOR_HORIZONTAL}},
        {"associated alpha, lzw, one strip, one column",
         {.width = 1,
          .height = 6,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .compression = COMPRESSION_LZW,
          .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
          .rowsPerStrip = 100}},
        {"four samples without extra samples, packbits, strips of 2 rows",
         {.width = 6,
          .height = 5,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .compression = COMPRESSION_PACKBITS,
          .rowsPerStrip = 2}},
        {"four samples, the fourth unspecified",
         {.width = 5,
          .height = 3,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .extraSamples = {EXTRASAMPLE_UNSPECIFIED},
          .rowsPerStrip = 2}},
        {"rgb, deflate with predictor, one strip",
         {.width = 9,
          .height = 5,
          .samplesPerPixel = 3,
          .photometric = PHOTOMETRIC_RGB,
          .compression = COMPRESSION_ADOBE_DEFLATE,
          .rowsPerStrip = 100,
          .predictor = PREDICTOR_HORIZONTAL}},
        {"associated alpha, lzw, rows bottom-up",
         {.width = 4,
          .height = 3,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .compression = COMPRESSION_LZW,
          .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
          .rowsPerStrip = 2,
          .orientation = ORIENTATION_BOTLEFT}},
        {"unassociated alpha, lzw, strips of 2 rows",
         {.width = 5,
          .height = 3,
          .samplesPerPixel = 4,
          .photometric = PHOTOMETRIC_RGB,
          .compression = COMPRESSION_LZW,
          .extraSamples = {EXTRASAMPLE_UNASSALPHA},
          .rowsPerStrip = 2},
         true},
    };
    std::uint32_t state = 99;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Layout& layout = c.layout;
        std::vector<Bytes> rows(layout.height);
        for (Bytes& row : rows) {
            row.resize(layout.width * layout.samplesPerPixel * layout.bitsPerSample / 8);
            for (std::uint8_t& b : row) {
                state = state * 1103515245u + 12345u;
                b = static_cast<std::uint8_t>(state >> 16);
            }
        }
        const Bytes file = WriteTiff(layout, rows);
        ASSERT_FALSE(file.empty());
        PLAnyBmp bmp;
        std::string text;
        ASSERT_EQ(Decode(file, bmp, &text), 0) << text;
        ASSERT_EQ(bmp.GetBitsPerPixel(), 32u);

        TempFolder folder;
        const std::string path =
            folder.WriteFile("reference.tif", std::string(file.begin(), file.end()));
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        std::vector<std::uint32_t> raster(std::size_t{layout.width} * layout.height);
        const int isRead = TIFFReadRGBAImageOriented(tif, layout.width, layout.height,
                                                     raster.data(), ORIENTATION_TOPLEFT, 0);
        TIFFClose(tif);
        ASSERT_EQ(isRead, 1);
        for (std::uint32_t y = 0; y < layout.height; ++y) {
            for (std::uint32_t x = 0; x < layout.width; ++x) {
                // libtiff's words hold red in the low byte, the bitmap's blue.
                std::uint32_t word = raster[std::size_t{y} * layout.width + x];
                if (c.isAlphaAsStored) word = LoadU32LE(&rows[y][4 * std::size_t{x}]);
                const std::uint32_t want =
                    (word & 0xFF00FF00u) | ((word & 0xFFu) << 16) | ((word >> 16) & 0xFFu);
                ASSERT_EQ(PixelAt(bmp, static_cast<int>(x), static_cast<int>(y)), want)
                    << x << "," << y;
            }
        }
    }
}

TEST(PLTIFFDecoder, HeaderGivesSizeResolutionAndFormat) {
    const Bytes file = WriteTiff({.width = 3, .height = 2}, {{1, 2, 3}, {4, 5, 6}});
    PLTIFFDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
    EXPECT_EQ(bmp.GetSize(), (PLPoint{3, 2}));
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::L8);
    EXPECT_EQ(bmp.GetLineArray()[1][2], 6);

    // The any-format decoder hands TIFF data to this decoder.
    PLAnyPicDecoder any;
    any.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
    EXPECT_EQ(any.GetFileType(), PLFileTypeTiff);
    EXPECT_EQ(bmp.GetLineArray()[1][2], 6);
}

TEST(PLTIFFDecoder, ResolutionInCentimetresBecomesDotsPerInch) {
    PLTIFFDecoder decoder;
    PLAnyBmp bmp;
    Bytes file = tiff_test::GreyTiffWithDirectoryFirst(2, 2, 2);
    decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{300, 0}));
    file = tiff_test::GreyTiffWithDirectoryFirst(2, 2, 3);
    decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{762, 0}));
}

TEST(PLTIFFDecoder, RowsMissingFromTheLastTwoThirdsAreTolerated) {
    const Bytes whole = tiff_test::GreyTiffWithDirectoryFirst(4, 9);
    PLAnyBmp bmp;
    ASSERT_EQ(Decode(whole, bmp), 0);
    EXPECT_EQ(bmp.GetLineArray()[8][3], 83);

    // Rows 7 and 8 missing: the first failing row lies beyond a third of the height.
    Bytes cut(whole.begin(), whole.end() - 2 * 4);
    ASSERT_EQ(Decode(cut, bmp), 0);
    EXPECT_EQ(bmp.GetLineArray()[6][3], 63);

    // Rows 2 and on missing: row 2 lies in the first third.
    cut.assign(whole.begin(), whole.end() - 7 * 4);
    std::string text;
    EXPECT_EQ(Decode(cut, bmp, &text), PLErrInternal);
    EXPECT_EQ(text.rfind("Decoder error: ", 0), 0u) << text;
}

TEST(PLTIFFDecoder, CorruptStreamsFailWithTheLibraryCodes) {
    const Bytes good = LzwRgbFile();
    struct Case {
        const char* what;
        Bytes file;
    };
    Bytes badDirectory = good;
    StoreU32LE(&badDirectory[4], 0x7FFFFFF0);  // directory offset past the end
    Bytes cutData = good;
    cutData.resize(40);  // directory gone
    Bytes garbledStrips = good;
    for (std::size_t i = 8; i < 40 && i < garbledStrips.size(); ++i) garbledStrips[i] = 0xFF;
    // One strip of RGBA, which is decoded row by row into the bitmap: its code stream garbled
    // from the middle on, so that rows already stand in the bitmap when decoding fails.
    std::vector<Bytes> rgbaRows(16, Bytes(4 * 16));
    for (std::size_t y = 0; y < rgbaRows.size(); ++y) {
        for (std::size_t i = 0; i < rgbaRows[y].size(); ++i) {
            rgbaRows[y][i] = static_cast<std::uint8_t>((y * 37 + i * 11) % 251);
        }
    }
    Bytes garbledHalfway = WriteTiff({.width = 16,
                                      .height = 16,
                                      .samplesPerPixel = 4,
                                      .photometric = PHOTOMETRIC_RGB,
                                      .compression = COMPRESSION_LZW,
                                      .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
                                      .rowsPerStrip = 16},
                                     rgbaRows);
    const std::uint32_t directory = LoadU32LE(&garbledHalfway[4]);  // the strip lies before it
    ASSERT_GT(directory, 64u);
    for (std::uint32_t i = 8 + (directory - 8) / 2; i < directory; ++i) garbledHalfway[i] = 0xFF;
    const Case cases[] = {
        {"header only", Bytes{'I', 'I', 42, 0}},
        {"directory past the end", badDirectory},
        {"cut", cutData},
        {"garbled LZW", garbledStrips},
        {"one strip garbled halfway", garbledHalfway},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PLAnyBmp bmp;
        std::string text;
        const std::int32_t code = Decode(c.file, bmp, &text);
        EXPECT_TRUE(code == PLErrWrongSignature || code == PLErrFormatUnknown) << code << text;
        EXPECT_EQ(text.rfind("Decoder error: ", 0), 0u) << text;
        EXPECT_EQ(text.back(), '\n');
    }
}

// A palette image whose colour map the file cuts short would be decoded as grey by libtiff,
// which sets the map aside: it fails instead, as does any required tag cut short.
TEST(PLTIFFDecoder, TagsCutShortFail) {
    const Bytes palette = WriteTiff(
        {.width = 2, .photometric = PHOTOMETRIC_PALETTE, .colourMap = std::vector<std::uint16_t>(
                                                            3 * 256, 300)},
        {{1, 0}});
    // libtiff writes the colour map's 1,536 bytes after the directory, last in the file.
    const Bytes cutMap(palette.begin(), palette.end() - 100);
    Bytes cutOffsets = tiff_test::GreyTiffWithDirectoryFirst(4, 9);
    cutOffsets.resize(8 + 2 + 11 * 12 + 4 + 4 * 5);  // inside the strip offsets
    const struct {
        const char* what;
        Bytes file;
        const char* tag;
    } cases[] = {
        {"colour map", cutMap, "ColorMap"},
        {"strip offsets", cutOffsets, "StripOffsets"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PLAnyBmp bmp;
        std::string text;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Decode(c.file, bmp, &text), PLErrFormatUnknown) << text;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_NE(text.find(c.tag), std::string::npos) << text;
        std::int32_t width = 0, height = 0, samples = 0;
        EXPECT_EQ(DecodeTiffFromMemory(c.file.data(), static_cast<std::int32_t>(c.file.size()),
                                       "argb", width, height, samples),
                  nullptr);
    }
    // libtiff's warnings about the tags it set aside are recorded, not printed.
    EXPECT_NE(std::string(PLTIFFLastWarning()).find("tag ignored"), std::string::npos)
        << PLTIFFLastWarning();
    PLAnyBmp bmp;
    ASSERT_EQ(Decode(palette, bmp), 0);
    EXPECT_EQ(LoadU32LE(bmp.GetPalette() + 4), 0xFF010101u);
}

// Sets the width and length of a little-endian TIFF's first directory, as 32-bit values.
Bytes WithSize(Bytes file, std::uint32_t width, std::uint32_t height) {
    const std::uint32_t directory = LoadU32LE(&file[4]);
    const std::uint16_t count = LoadU16LE(&file[directory]);
    for (std::uint32_t at = directory + 2; at < directory + 2 + 12u * count; at += 12) {
        const std::uint16_t tag = LoadU16LE(&file[at]);
        if (tag != TIFFTAG_IMAGEWIDTH && tag != TIFFTAG_IMAGELENGTH) continue;
        StoreU16LE(&file[at + 2], TIFF_LONG);
        StoreU32LE(&file[at + 4], 1);
        StoreU32LE(&file[at + 8], tag == TIFFTAG_IMAGEWIDTH ? width : height);
    }
    return file;
}

// Sets the byte count of the first strip of a little-endian TIFF's first directory.
Bytes WithFirstStripBytes(Bytes file, std::uint16_t byteCount) {
    const std::uint32_t directory = LoadU32LE(&file[4]);
    const std::uint16_t count = LoadU16LE(&file[directory]);
    for (std::uint32_t at = directory + 2; at < directory + 2 + 12u * count; at += 12) {
        if (LoadU16LE(&file[at]) != TIFFTAG_STRIPBYTECOUNTS) continue;
        const bool isShort = LoadU16LE(&file[at + 2]) == TIFF_SHORT;
        const bool isInPlace = LoadU32LE(&file[at + 4]) * (isShort ? 2u : 4u) <= 4;
        const std::uint32_t values = isInPlace ? at + 8 : LoadU32LE(&file[at + 8]);
        if (isShort) {
            StoreU16LE(&file[values], byteCount);
        } else {
            StoreU32LE(&file[values], byteCount);
        }
    }
    return file;
}

// A directory claiming a raster far beyond what its data can hold is refused from the
// directory, before any storage is asked for, by the decoder and by the memory-stream reader.
TEST(PLTIFFDecoder, RasterTheDataCannotHoldIsRefusedBeforeAllocation) {
    const Bytes fax = WriteTiff(
        {.width = 8, .height = 2, .bitsPerSample = 1, .compression = COMPRESSION_CCITTFAX4},
        {{0x0F}, {0xF0}});
    ASSERT_FALSE(fax.empty());
    // Modified Huffman codes a row one-dimensionally: a bit at the least for 256 pixels.
    const Bytes huffman = WriteTiff(
        {.width = 8, .height = 2, .bitsPerSample = 1, .compression = COMPRESSION_CCITTRLE},
        {{0x0F}, {0xF0}});
    ASSERT_FALSE(huffman.empty());
    // A coded strip claiming more bytes than the whole file: libtiff would take a buffer
    // that size to read it into.
    const Bytes bigStrip = WithFirstStripBytes(LzwRgbFile(), 60000);
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"raw grey, 60000 x 60000", WithSize(tiff_test::GreyTiffWithDirectoryFirst(4, 9), 60000,
                                             60000)},
        {"LZW colour, 20000 x 20000", WithSize(LzwRgbFile(), 20000, 20000)},
        {"fax, a million rows", WithSize(fax, 8, 1000000)},
        {"modified Huffman, 20 million columns", WithSize(huffman, 20000000, 2)},
        {"strip of a million bytes", bigStrip},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decoder_test::CodeWithoutStorage<PLTIFFDecoder>(c.file), PLErrEndOfFile);
        std::int32_t width = 0, height = 0, samples = 0;
        PrivateHeapRefuseNext(1);
        EXPECT_EQ(DecodeTiffFromMemory(c.file.data(), static_cast<std::int32_t>(c.file.size()),
                                       "argb", width, height, samples),
                  nullptr);
        // The refusal is still pending: nothing was asked of the heap.
        EXPECT_THROW(PrivateAllocZeroed(16), KVOutOfMemoryException);
        PrivateHeapRefuseNext(0);
    }
}

TEST(PLTIFFDecoder, KeptCorruptFilesFailCleanly) {
    decoder_test::ExpectDataFilesFail({{"tiff_raster_beyond_strips.tif", PLErrEndOfFile},
                                       {"tiff_strip_beyond_data.tif", PLErrEndOfFile}});
}

TEST(TIFFOpenMem, WriteStreamNeverGrowsPastItsBlock) {
    Bytes block(200, 0xAA);
    std::int32_t used = -1;
    PLTIFFHandle tif(TIFFOpenMem(block.data(), 100, &used));
    ASSERT_NE(tif, nullptr);
    EXPECT_EQ(used, 8);  // the header
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, 150u);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, 1u);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 8);
    Bytes strip(150, 7);
    PLTIFFClearError();
    EXPECT_EQ(TIFFWriteRawStrip(tif.get(), 0, strip.data(), 150), -1);
    EXPECT_TRUE(PLTIFFHasError());
    PLTIFFClearError();
    EXPECT_LE(used, 100);
    tif.reset();
    PLTIFFClearError();
    EXPECT_LE(used, 100);
    for (std::size_t i = 100; i < block.size(); ++i) ASSERT_EQ(block[i], 0xAA) << i;
}

}  // namespace
