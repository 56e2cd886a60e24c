#include "imaging/pl_jpeg_encoder.h"

#include "imaging/jpeg_reference.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_exif.h"
#include "imaging/pl_mem_sink.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using jpeg_reference::Bytes;

constexpr std::int32_t BlockSize = 8192;

std::unique_ptr<PLAnyBmp> TestBitmap(int width, int height, PLPoint resolution = {0, 0}) {
    const Bytes pixels = jpeg_reference::TestPixels(width, height, 4);
    auto bmp = std::make_unique<PLAnyBmp>();
    bmp->CreateFromData(width, height, PLPixelFormat::X8R8G8B8, pixels.data(), 0, resolution);
    return bmp;
}

// Encodes into a sink of capacity bytes; what reached the sink, and the code of the
// exception (0 for none).
struct EncodeResult {
    Bytes bytes;
    std::int32_t code = 0;
    std::string text;
};

EncodeResult EncodeInto(PLJPEGEncoder& encoder, const PLBmp& bmp, std::int32_t capacity) {
    Bytes buffer(static_cast<std::size_t>(capacity));
    PLMemSink sink;
    EXPECT_EQ(sink.Open(buffer.data(), capacity), 0);
    EncodeResult result;
    try {
        encoder.SaveBmp(bmp, sink);
    } catch (const PLTextException& e) {
        result.code = e.GetCode();
        result.text = e.GetText();
    }
    buffer.resize(static_cast<std::size_t>(sink.GetDataSize()));
    result.bytes = std::move(buffer);
    return result;
}

Bytes Encode(PLJPEGEncoder& encoder, const PLBmp& bmp) {
    EncodeResult result = EncodeInto(encoder, bmp, 1 << 22);
    EXPECT_EQ(result.code, 0) << result.text;
    return result.bytes;
}

// A PLExif holding an Exif block of exactly size bytes (its tags do not matter here).
void FillExif(PLExif& exif, std::size_t size) {
    Bytes block(size, 0);
    const char header[] = "Exif\0\0II";
    std::copy(header, header + 8, block.begin());
    exif.ReadData(block);
    ASSERT_EQ(exif.GetRawData().size(), size);
}

TEST(PLJPEGEncoder, WritesWhatLibjpegWritesForTheSameSettings) {
    struct Case {
        int width;
        int height;
        int quality;
        PLPoint resolution;
    };
    const Case cases[] = {{37, 23, 90, {0, 0}}, {64, 40, 0, {72, 72}}, {1, 1, 100, {300, 150}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " quality " +
                     std::to_string(c.quality));
        PLJPEGEncoder encoder;
        encoder.SetQuality(c.quality);
        const Bytes written = Encode(encoder, *TestBitmap(c.width, c.height, c.resolution));

        jpeg_reference::EncodeSettings settings;
        settings.width = c.width;
        settings.height = c.height;
        settings.quality = c.quality;
        settings.densityX = c.resolution.x;
        settings.densityY = c.resolution.y;
        EXPECT_EQ(written, jpeg_reference::Encode(
                               settings, jpeg_reference::TestPixels(c.width, c.height, 4)));
    }
}

TEST(PLJPEGEncoder, QualityGivesLibjpegsTables) {
    for (const int quality : {0, 1, 50, 100}) {
        SCOPED_TRACE(quality);
        PLJPEGEncoder encoder;
        encoder.SetQuality(quality);
        const Bytes table = jpeg_reference::FirstQuantTable(Encode(encoder, *TestBitmap(16, 16)));
        EXPECT_EQ(table, jpeg_reference::QuantTable(quality));
        EXPECT_EQ(table.size(), 64u);
    }
}

TEST(PLJPEGEncoder, ExifMarkerServesOneEncode) {
    PLExif exif;
    FillExif(exif, 40);
    PLJPEGEncoder encoder;
    encoder.SetExif(exif);
    const Bytes first = Encode(encoder, *TestBitmap(8, 8));
    const std::vector<Bytes> app1 = jpeg_reference::MarkersOf(first, 0xE1);
    ASSERT_EQ(app1.size(), 1u);
    EXPECT_EQ(app1[0], Bytes(exif.GetRawData().begin(), exif.GetRawData().end()));

    const Bytes second = Encode(encoder, *TestBitmap(8, 8));
    EXPECT_TRUE(jpeg_reference::MarkersOf(second, 0xE1).empty());

    // The JFIF densities are the bitmap's resolution with no unit.
    const Bytes withResolution = Encode(encoder, *TestBitmap(8, 8, {200, 100}));
    const std::vector<Bytes> jfif = jpeg_reference::MarkersOf(withResolution, 0xE0);
    ASSERT_EQ(jfif.size(), 1u);
    ASSERT_GE(jfif[0].size(), 12u);
    EXPECT_EQ(jfif[0][7], 0);                          // unit
    EXPECT_EQ((jfif[0][8] << 8) | jfif[0][9], 200);    // horizontal
    EXPECT_EQ((jfif[0][10] << 8) | jfif[0][11], 100);  // vertical
}

TEST(PLJPEGEncoder, SinkReceivesWholeBlocksAndThenTheRest) {
    // An Exif block pads the file to exactly 70,000 bytes: eight blocks of 8,192 bytes and
    // a last write of 4,464.
    const auto bmp = TestBitmap(160, 120);
    PLJPEGEncoder encoder;
    const std::size_t plainSize = Encode(encoder, *bmp).size();
    // An APP1 marker holds at most 65,533 bytes.
    ASSERT_GT(plainSize, 70000u - 4 - 65533);
    ASSERT_LT(plainSize, 70000u - 4 - 8);
    PLExif exif;
    FillExif(exif, 70000 - 4 - plainSize);  // the marker and its length take 4 bytes

    struct Case {
        std::int32_t capacity;
        std::size_t written;
        std::int32_t code;
    };
    const Case cases[] = {
        {70000, 70000, 0},
        {69999, 8 * BlockSize, PLErrEndOfFile},  // the last write of 4,464 does not fit
        {3 * BlockSize, 3 * BlockSize, PLErrEndOfFile},
        {3 * BlockSize - 1, 2 * BlockSize, PLErrEndOfFile},
        {100, 0, PLErrEndOfFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        encoder.SetExif(exif);
        const EncodeResult result = EncodeInto(encoder, *bmp, c.capacity);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.bytes.size(), c.written);
        if (c.code != 0) {
            EXPECT_EQ(result.text, "Buffer overflow while encoding.\n");
        }
    }
    // A refused write leaves the encoder ready for the next file.
    EXPECT_EQ(Encode(encoder, *bmp).size(), plainSize);
}

TEST(PLJPEGEncoder, BitmapsItCannotWriteFailWithCode6) {
    PLJPEGEncoder encoder;
    PLAnyBmp grey;
    grey.CreateFromData(8, 8, PLPixelFormat::L8, nullptr, 0, {0, 0});
    PLAnyBmp empty;
    empty.CreateFromData(0, 0, PLPixelFormat::X8R8G8B8, nullptr, 0, {0, 0});
    for (const PLAnyBmp* bmp : {&grey, &empty}) {
        const EncodeResult result = EncodeInto(encoder, *bmp, 1 << 16);
        EXPECT_EQ(result.code, PLErrFormatNotSupported);
        EXPECT_EQ(result.text.rfind("Decoder error: ", 0), 0u) << result.text;
    }
    PLJPEGEncoder fresh;
    EXPECT_EQ(Encode(encoder, *TestBitmap(9, 9)), Encode(fresh, *TestBitmap(9, 9)));
}

}  // namespace
