#include "imaging/pl_tiff_encoder.h"

#include "core/byte_order.h"
#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_file_sink.h"
#include "imaging/pl_mem_sink.h"
#include "imaging/pl_mem_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_tiff_decoder.h"
#include "imaging/pl_tiff_encoder_ex.h"
#include "imaging/tiff_test_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using decoder_test::CodeOf;

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(PLTIFFEncoder& encoder, const PLBmp& bmp) {
    Bytes block(1 << 16, 0);
    PLMemSink sink;
    sink.Open(block.data(), static_cast<std::int32_t>(block.size()));
    encoder.SaveBmp(bmp, sink);
    block.resize(static_cast<std::size_t>(sink.GetDataSize()));
    return block;
}

// The tags a test looks at, read back through the decoder.
struct Tags {
    std::uint16_t samplesPerPixel = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t compression = 0;
    std::uint16_t photometric = 0;
    std::vector<std::uint16_t> extraSamples;
    float xResolution = 0;
    std::uint16_t resolutionUnit = 0;
};

Tags ReadTags(const Bytes& file, PLAnyBmp& bmp) {
    PLMemSource source;
    source.Open(file.data(), static_cast<std::int32_t>(file.size()));
    PLTIFFDecoder decoder;
    decoder.Open(&source);
    Tags tags;
    decoder.GetField(TIFFTAG_SAMPLESPERPIXEL, &tags.samplesPerPixel);
    decoder.GetField(TIFFTAG_BITSPERSAMPLE, &tags.bitsPerSample);
    decoder.GetField(TIFFTAG_COMPRESSION, &tags.compression);
    decoder.GetField(TIFFTAG_PHOTOMETRIC, &tags.photometric);
    decoder.GetField(TIFFTAG_XRESOLUTION, &tags.xResolution);
    decoder.GetField(TIFFTAG_RESOLUTIONUNIT, &tags.resolutionUnit);
    std::uint16_t count = 0;
    std::uint16_t* values = nullptr;
    if (decoder.GetField(TIFFTAG_EXTRASAMPLES, &count, &values) != 0) {
        tags.extraSamples.assign(values, values + count);
    }
    decoder.MakeBmp(bmp, PLPixelFormat::DontCare);
    decoder.Close();
    return tags;
}

PLAnyBmp& Pattern(PLAnyBmp& bmp, const PLPixelFormat& format) {
    bmp.CreateFromData(6, 3, format, nullptr, 0, {150, 150});
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < bmp.GetBytesPerLine(); ++x) {
            bmp.GetLineArray()[y][x] = static_cast<std::uint8_t>(x * 13 + y * 40 + 1);
        }
    }
    return bmp;
}

TEST(PLTIFFEncoder, TrueColourTagsAndPixelsRoundTrip) {
    for (const PLPixelFormat& format : {PLPixelFormat::X8R8G8B8, PLPixelFormat::A8R8G8B8}) {
        SCOPED_TRACE(format.GetName());
        PLAnyBmp bmp;
        Pattern(bmp, format);
        PLTIFFEncoder encoder;
        PLAnyBmp decoded;
        const Tags tags = ReadTags(Encode(encoder, bmp), decoded);
        EXPECT_EQ(tags.compression, COMPRESSION_PACKBITS);
        EXPECT_EQ(tags.bitsPerSample, 8);
        EXPECT_EQ(tags.photometric, PHOTOMETRIC_RGB);
        EXPECT_EQ(tags.xResolution, 150.0f);
        EXPECT_EQ(tags.resolutionUnit, RESUNIT_INCH);
        const bool hasAlpha = format.HasAlpha();
        EXPECT_EQ(tags.samplesPerPixel, hasAlpha ? 4 : 3);
        EXPECT_EQ(tags.extraSamples,
                  hasAlpha ? std::vector<std::uint16_t>{1} : std::vector<std::uint16_t>{});
        ASSERT_EQ(decoded.GetSize(), bmp.GetSize());
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 6; ++x) {
                const std::uint32_t want =
                    LoadU32LE(bmp.GetLineArray()[y] + 4 * x) | (hasAlpha ? 0u : 0xFF000000u);
                EXPECT_EQ(LoadU32LE(decoded.GetLineArray()[y] + 4 * x), want) << x << "," << y;
            }
        }
    }
}

TEST(PLTIFFEncoder, PalettedAndBilevelBitmaps) {
    PLAnyBmp bmp;
    Pattern(bmp, PLPixelFormat::I8);
    bmp.GetPalette()[4 * 14 + 2] = 255;  // entry 14 red
    bmp.GetPalette()[4 * 14 + 1] = 0;
    bmp.GetPalette()[4 * 14] = 0;
    PLTIFFEncoder encoder;
    encoder.SetCompression(COMPRESSION_LZW);
    PLAnyBmp decoded;
    Tags tags = ReadTags(Encode(encoder, bmp), decoded);
    EXPECT_EQ(tags.compression, COMPRESSION_LZW);
    EXPECT_EQ(tags.photometric, PHOTOMETRIC_PALETTE);
    EXPECT_EQ(tags.samplesPerPixel, 1);
    EXPECT_EQ(decoded.GetPixelFormat(), PLPixelFormat::I8);
    EXPECT_EQ(decoded.GetLineArray()[0][1], 14);
    EXPECT_EQ(LoadU32LE(decoded.GetPalette() + 4 * 14), 0xFFFF0000u);
    EXPECT_EQ(LoadU32LE(decoded.GetPalette() + 4 * 200), 0xFFC8C8C8u);

    // Bilevel: black first is photometric 1, white first 0; rows as they are.
    for (const bool isWhiteFirst : {false, true}) {
        SCOPED_TRACE(isWhiteFirst);
        Pattern(bmp, PLPixelFormat::L1);
        if (isWhiteFirst) {
            StoreU32LE(bmp.GetPalette(), 0xFFFFFFFF);
            StoreU32LE(bmp.GetPalette() + 4, 0xFF000000);
        }
        tags = ReadTags(Encode(encoder, bmp), decoded);
        EXPECT_EQ(tags.photometric, isWhiteFirst ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        EXPECT_EQ(decoded.GetPixelFormat(), PLPixelFormat::L1);
        EXPECT_EQ(decoded.GetLineArray()[2][0], bmp.GetLineArray()[2][0]);
        EXPECT_EQ(LoadU32LE(decoded.GetPalette()), LoadU32LE(bmp.GetPalette()));
    }
}

TEST(PLTIFFEncoder, SinkTooSmallFailsWithoutPassingIt) {
    PLAnyBmp bmp;
    bmp.CreateFromData(64, 64, PLPixelFormat::X8R8G8B8, nullptr, 0, {0, 0});
    Bytes block(300, 0xAA);
    PLMemSink sink;
    sink.Open(block.data(), 200);
    PLTIFFEncoder encoder;
    encoder.SetCompression(COMPRESSION_NONE);
    EXPECT_EQ(CodeOf([&] { encoder.SaveBmp(bmp, sink); }), PLErrFormatUnknown);
    for (std::size_t i = 200; i < block.size(); ++i) ASSERT_EQ(block[i], 0xAA) << i;
}

TEST(PLTIFFEncoderEx, CallerSetsFurtherTagsBetweenAssociateAndDissociate) {
    PLAnyBmp bmp;
    Pattern(bmp, PLPixelFormat::A8R8G8B8);
    TempFolder folder;
    const std::string path = (folder.Path() / "picture.tif").string();
    PLFileSink sink;
    ASSERT_EQ(sink.Open(path, static_cast<std::int32_t>(PLPicEncoder::MaxEncodedSize(bmp))), 0);
    PLTIFFEncoderEx encoder;
    ASSERT_TRUE(encoder.Associate(sink));
    encoder.SetCompression(COMPRESSION_NONE);
    encoder.SetBaseTags(bmp);
    const std::uint16_t unassociated = EXTRASAMPLE_UNASSALPHA;
    EXPECT_EQ(encoder.SetField(TIFFTAG_EXTRASAMPLES, 1, &unassociated), 1);
    encoder.SaveBmp(bmp, sink);
    encoder.Dissociate();
    sink.Close();

    const Bytes file = tiff_test::ReadFileBytes(path);
    PLAnyBmp decoded;
    const Tags tags = ReadTags(file, decoded);
    EXPECT_EQ(tags.compression, COMPRESSION_NONE);
    EXPECT_EQ(tags.extraSamples, std::vector<std::uint16_t>{EXTRASAMPLE_UNASSALPHA});
    EXPECT_EQ(LoadU32LE(decoded.GetLineArray()[2] + 20), LoadU32LE(bmp.GetLineArray()[2] + 20));
}

}  // namespace
