#include "imaging/pl_jpeg_decoder.h"

#include "core/byte_order.h"
#include "core/crt_random.h"
#include "imaging/decoder_test_util.h"
#include "imaging/jpeg_reference.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_exif.h"
#include "imaging/pl_mem_source.h"
#include "imaging/pl_text_exception.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using jpeg_reference::Bytes;

using decoder_test::CodeOf;
using decoder_test::Pixels;

void DecodeWithLibrary(const Bytes& file, PLAnyBmp& bmp) {
    decoder_test::Decode<PLAnyPicDecoder>(file, bmp);
}

Bytes ColourFile(int width, int height) {
    jpeg_reference::EncodeSettings settings;
    settings.width = width;
    settings.height = height;
    return jpeg_reference::Encode(settings, jpeg_reference::TestPixels(width, height, 4));
}

Bytes ReadDataFile(const std::string& name) {
    std::string path = ORBELLE_TEST_DATA_DIR;
    path += '/';
    path += name;
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A minimal Exif block: the TIFF header and a main directory with the camera make.
Bytes ExifWithMake(const char* make) {
    Bytes block = {'E', 'x', 'i', 'f', 0,    0,    'I', 'I', 42, 0, 8, 0,
                   0,   0,   1,   0,   0x0F, 0x01, 2,   0,   4,  0, 0, 0};
    block.resize(block.size() + 4);
    std::copy(make, make + 4, block.end() - 4);
    return block;
}

TEST(PLJPEGDecoder, DecodesColourAndGreyAsLibjpegDoes) {
    struct Case {
        int width;
        int height;
        bool isGrey;
    };
    const Case cases[] = {
        {37, 23, false}, {64, 48, false}, {1, 1, false}, {37, 23, true}, {200, 3, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) +
                     (c.isGrey ? " grey" : " colour"));
        jpeg_reference::EncodeSettings settings;
        settings.width = c.width;
        settings.height = c.height;
        settings.isGrey = c.isGrey;
        const Bytes file = jpeg_reference::Encode(
            settings, jpeg_reference::TestPixels(c.width, c.height, c.isGrey ? 1 : 4));
        const auto expected = jpeg_reference::Decode(file);
        ASSERT_TRUE(expected.has_value());

        PLAnyBmp bmp;
        DecodeWithLibrary(file, bmp);
        EXPECT_EQ(bmp.GetPixelFormat(), c.isGrey ? PLPixelFormat::L8 : PLPixelFormat::X8R8G8B8);
        ASSERT_EQ(bmp.GetWidth(), c.width);
        ASSERT_EQ(bmp.GetHeight(), c.height);
        const Bytes pixels = Pixels(bmp);
        EXPECT_EQ(pixels, expected->pixels);
        if (!c.isGrey) {
            // Textures take the fourth byte as alpha, so it must be opaque.
            for (std::size_t i = 3; i < pixels.size(); i += 4) ASSERT_EQ(pixels[i], 255) << i;
        }
    }
}

TEST(PLJPEGDecoder, ResolutionFromJfifDensities) {
    struct Case {
        int unit;
        int x;
        int y;
        PLPoint resolution;
    };
    const Case cases[] = {
        {0, 1, 1, {0, 0}},          // aspect ratio only
        {1, 72, 1, {0, 0}},         // either density 1 is an aspect ratio
        {2, 118, 118, {299, 299}},  // dots per centimetre, truncated
        {2, 1, 1, {0, 0}},         {0, 300, 300, {300, 300}},  // no unit: taken as dots per inch
        {1, 96, 150, {96, 150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.unit) + ": " + std::to_string(c.x) + " x " +
                     std::to_string(c.y));
        jpeg_reference::EncodeSettings settings;
        settings.width = 8;
        settings.height = 8;
        settings.densityUnit = c.unit;
        settings.densityX = c.x;
        settings.densityY = c.y;
        const Bytes file = jpeg_reference::Encode(settings, jpeg_reference::TestPixels(8, 8, 4));
        PLAnyBmp bmp;
        DecodeWithLibrary(file, bmp);
        EXPECT_EQ(bmp.GetResolution(), c.resolution);
    }
}

TEST(PLJPEGDecoder, FileCutInTheScanDecodesAsLibjpegCompletesIt) {
    const Bytes whole = ColourFile(64, 64);
    for (const std::size_t keep : {whole.size() / 2, whole.size() - 2, std::size_t{700}}) {
        SCOPED_TRACE(keep);
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
        const auto expected = jpeg_reference::Decode(cut);
        ASSERT_TRUE(expected.has_value());
        PLAnyBmp bmp;
        EXPECT_EQ(CodeOf([&] { DecodeWithLibrary(cut, bmp); }), 0);
        EXPECT_EQ(Pixels(bmp), expected->pixels);
    }
}

// Huffman-coded data takes a bit at the least for each 8 x 8 block: a header claiming more
// blocks than that is refused before any storage is asked for.
TEST(PLJPEGDecoder, BlocksTheDataCannotHoldAreRefusedBeforeAllocation) {
    Bytes file = ColourFile(16, 16);
    // The frame header: FF C0, its length, the sample precision, then height and width.
    const Bytes frameMarker = {0xFF, 0xC0};
    const auto frame =
        std::search(file.begin(), file.end(), frameMarker.begin(), frameMarker.end());
    ASSERT_NE(frame, file.end());
    const auto at = static_cast<std::size_t>(frame - file.begin());
    StoreU16BE(&file[at + 5], 30000);
    StoreU16BE(&file[at + 7], 30000);
    EXPECT_EQ(decoder_test::CodeWithoutStorage<PLJPEGDecoder>(file), PLErrEndOfFile);
}

// libjpeg's warnings are the decoder's to keep: none reaches the process's standard error.
TEST(PLJPEGDecoder, WarningsAreRecordedNotPrinted) {
    const Bytes whole = ColourFile(64, 64);
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
    PLJPEGDecoder decoder;
    PLAnyBmp bmp;
    testing::internal::CaptureStderr();
    decoder.MakeBmpFromMemory(cut.data(), static_cast<std::int32_t>(cut.size()), bmp);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_GE(decoder.GetWarningCount(), 1);
    EXPECT_NE(std::string(decoder.GetLastWarning()), "");

    decoder.MakeBmpFromMemory(whole.data(), static_cast<std::int32_t>(whole.size()), bmp);
    EXPECT_EQ(decoder.GetWarningCount(), 0);
    EXPECT_EQ(std::string(decoder.GetLastWarning()), "");
}

// Keeps every fraction it is told, and abandons the decode once one reaches stopAt.
class ProgressLog : public PLProgressReceiver {
public:
    struct Abandon {};

    void OnProgress(double fraction) override {
        fractions.push_back(fraction);
        if (fraction >= stopAt) throw Abandon{};
    }

    std::vector<double> fractions;
    double stopAt = 2.0;
};

class JpegProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        jpeg_reference::EncodeSettings settings;
        settings.width = 160;
        settings.height = 120;
        settings.isProgressive = true;
        file = jpeg_reference::Encode(settings, jpeg_reference::TestPixels(160, 120, 4));
        ASSERT_FALSE(file.empty());
        path = (folder.Path() / "progressive.jpg").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }

    TempFolder folder;
    Bytes file;
    std::string path;
};

TEST_F(JpegProgressTest, ProgressiveFileReportsRisingProgressEndingAtCompletion) {
    ProgressLog log;
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromFile(path, bmp, PLPixelFormat::DontCare, &log);
    EXPECT_EQ(Pixels(bmp), jpeg_reference::Decode(file)->pixels);
    // The scans are read in one pass and the rows written in another.
    ASSERT_GE(log.fractions.size(), 20u);
    EXPECT_GT(log.fractions.front(), 0.0);
    EXPECT_LT(log.fractions.front(), 0.5);
    for (std::size_t i = 1; i < log.fractions.size(); ++i) {
        EXPECT_GT(log.fractions[i], log.fractions[i - 1]) << "report " << i;
    }
    EXPECT_EQ(log.fractions.back(), 1.0);
    EXPECT_LT(log.fractions[log.fractions.size() - 2], 1.0);
}

TEST_F(JpegProgressTest, ReceiverCanAbandonTheDecode) {
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    for (const double stopAt : {0.2, 0.7}) {
        SCOPED_TRACE(stopAt);
        ProgressLog log;
        log.stopAt = stopAt;
        EXPECT_THROW(decoder.MakeBmpFromFile(path, bmp, PLPixelFormat::DontCare, &log),
                     ProgressLog::Abandon);
        ASSERT_FALSE(log.fractions.empty());
        EXPECT_GE(log.fractions.back(), stopAt);
        EXPECT_LT(log.fractions.back(), 1.0);
    }
    // libjpeg was left ready for the next file.
    decoder.MakeBmpFromFile(path, bmp);
    EXPECT_EQ(Pixels(bmp), jpeg_reference::Decode(file)->pixels);
}

TEST(PLJPEGDecoder, CorruptFilesFailWithCode6AndTheDecoderStaysUsable) {
    const Bytes good = ColourFile(16, 16);
    jpeg_reference::EncodeSettings cmyk;
    cmyk.width = 8;
    cmyk.height = 8;
    cmyk.isCmyk = true;

    struct Case {
        const char* name;
        Bytes file;
        const char* message;  // the start of libjpeg's text
    };
    const Case cases[] = {
        {"signature only", ReadDataFile("truncated_jpeg.jpg"), "JPEG datastream contains no image"},
        {"no start of image", {0x00, 0x01, 0xFF, 0xD8, 0xFF}, "Not a JPEG file"},
        {"frame of width 0", ReadDataFile("jpeg_zero_width.jpg"), "Empty JPEG image"},
        {"12-bit samples", ReadDataFile("jpeg_12_bit.jpg"), "Unsupported JPEG data precision"},
        {"bad Huffman table", ReadDataFile("jpeg_bad_huffman.jpg"), "Bogus Huffman table"},
        {"CMYK", jpeg_reference::Encode(cmyk, jpeg_reference::TestPixels(8, 8, 4)),
         "Unsupported color conversion"},
    };
    PLJPEGDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.file.empty());
        PLAnyBmp bmp;
        std::string text;
        EXPECT_EQ(CodeOf(
                      [&] {
                          decoder.MakeBmpFromMemory(c.file.data(),
                                                    static_cast<std::int32_t>(c.file.size()), bmp);
                      },
                      &text),
                  PLErrFormatNotSupported);
        EXPECT_EQ(text.rfind(std::string("Decoder error: ") + c.message, 0), 0u) << text;
        EXPECT_EQ(text.substr(text.size() - 2), "\n\n") << text;

        // The failed file leaves libjpeg ready for the next one.
        PLAnyBmp next;
        decoder.MakeBmpFromMemory(good.data(), static_cast<std::int32_t>(good.size()), next);
        EXPECT_EQ(next.GetWidth(), 16);
    }
}

TEST(PLJPEGDecoder, OpenWithoutDecodingLeavesTheDecoderUsable) {
    const Bytes file = ColourFile(16, 8);
    PLJPEGDecoder decoder;
    PLMemSource source;
    ASSERT_EQ(source.Open(file.data(), static_cast<std::int32_t>(file.size())), 0);
    decoder.Open(&source);
    EXPECT_EQ(decoder.GetWidth(), 16);
    decoder.Close();

    // The any-format decoder opens a file to learn its type, closes it and opens it again.
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
    EXPECT_EQ(bmp.GetHeight(), 8);
}

TEST(PLJPEGDecoder, ReadsTheLastExifBlockUntilClose) {
    jpeg_reference::EncodeSettings settings;
    settings.width = 8;
    settings.height = 8;
    settings.app1Markers = {ExifWithMake("Aaa"), ExifWithMake("Bbb")};
    const Bytes file = jpeg_reference::Encode(settings, jpeg_reference::TestPixels(8, 8, 4));

    PLJPEGDecoder decoder;
    EXPECT_EQ(decoder.GetExif(), nullptr);
    PLMemSource source;
    ASSERT_EQ(source.Open(file.data(), static_cast<std::int32_t>(file.size())), 0);
    decoder.Open(&source);
    ASSERT_NE(decoder.GetExif(), nullptr);
    const PLExifTag* make = decoder.GetExif()->GetTag("Main.Make");
    ASSERT_NE(make, nullptr);
    EXPECT_EQ(make->GetDisplayText(), "Bbb");
    decoder.Close();
    EXPECT_EQ(decoder.GetExif(), nullptr);

    // Without APP1 the block is there but empty.
    const Bytes plain = ColourFile(8, 8);
    ASSERT_EQ(source.Open(plain.data(), static_cast<std::int32_t>(plain.size())), 0);
    decoder.Open(&source);
    ASSERT_NE(decoder.GetExif(), nullptr);
    EXPECT_TRUE(decoder.GetExif()->GetAllTags().empty());
    decoder.Close();
}

TEST(PLJPEGDecoder, DamagedExifDoesNotStopTheImage) {
    Bytes exif = ExifWithMake("Ccc");
    exif[18] = 13;  // format code of the make entry: none such
    jpeg_reference::EncodeSettings settings;
    settings.width = 8;
    settings.height = 8;
    settings.app1Markers = {exif};
    const Bytes file = jpeg_reference::Encode(settings, jpeg_reference::TestPixels(8, 8, 4));

    PLJPEGDecoder decoder;
    PLMemSource source;
    ASSERT_EQ(source.Open(file.data(), static_cast<std::int32_t>(file.size())), 0);
    decoder.Open(&source);
    ASSERT_NE(decoder.GetExif(), nullptr);
    EXPECT_EQ(decoder.GetExif()->GetReadError(), "EXIF Tag format field not understood");
    EXPECT_EQ(decoder.GetExif()->GetTag("Main.Make"), nullptr);
    PLAnyBmp bmp;
    bmp.CreateFromInfo(decoder);
    decoder.GetImage(bmp);
    decoder.Close();
    EXPECT_EQ(Pixels(bmp), jpeg_reference::Decode(file)->pixels);
}

TEST(PLJPEGDecoder, DamagedFilesDecodeOrFailWithACode) {
    // A colour file with an Exif block, so that damage reaches the Exif reader as well.
    jpeg_reference::EncodeSettings settings;
    settings.width = 48;
    settings.height = 40;
    Bytes exif = ExifWithMake("Ddd");
    settings.app1Markers = {exif};
    const Bytes good = jpeg_reference::Encode(settings, jpeg_reference::TestPixels(48, 40, 4));
    ASSERT_FALSE(good.empty());

    PLAnyPicDecoder decoder;
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        CrtSrand(seed);
        Bytes file = good;
        const int flips = 1 + CrtRand() % 4;
        for (int i = 0; i < flips; ++i) {
            // Damage clusters near the start, where the markers and the Exif block are.
            const std::size_t limit = CrtRand() % 2 == 0 ? 200 : file.size();
            file[static_cast<std::size_t>(CrtRand()) % limit] =
                static_cast<std::uint8_t>(CrtRand());
        }
        if (CrtRand() % 3 == 0) file.resize(static_cast<std::size_t>(CrtRand()) % file.size());
        PLAnyBmp bmp;
        const std::int32_t code = CodeOf([&] {
            decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
        });
        EXPECT_TRUE(code == 0 || code == PLErrFormatNotSupported || code == PLErrUnknownFileType ||
                    code == PLErrAccessDenied || code == PLErrEndOfFile)
            << code;
    }
}

}  // namespace
