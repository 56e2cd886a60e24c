#include "imaging/pl_tga_decoder.h"

#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using decoder_test::Bytes;
using decoder_test::CodeOf;
using decoder_test::Concat;
using decoder_test::Pixels;

// A TGA file: the 18-byte header, the identification field, the colour map and the image
// data, as given.
struct TgaFile {
    std::uint8_t imageType = 2;
    std::uint8_t colourMapType = 0;
    std::uint16_t firstEntry = 0;
    std::uint16_t colourMapLength = 0;
    std::uint8_t colourMapDepth = 0;
    std::uint16_t width = 1;
    std::uint16_t height = 1;
    std::uint8_t pixelDepth = 24;
    std::uint8_t descriptor = 0;
    Bytes id;
    Bytes colourMap;
    Bytes data;

    Bytes Build() const {
        Bytes header = {static_cast<std::uint8_t>(id.size()), colourMapType, imageType};
        decoder_test::AppendLE(header, firstEntry, 2);
        decoder_test::AppendLE(header, colourMapLength, 2);
        header.push_back(colourMapDepth);
        decoder_test::AppendLE(header, 0, 4);  // origin
        decoder_test::AppendLE(header, width, 2);
        decoder_test::AppendLE(header, height, 2);
        header.push_back(pixelDepth);
        header.push_back(descriptor);
        return Concat({header, id, colourMap, data});
    }
};

struct TgaVariant {
    const char* what;
    Bytes file;
    PLPixelFormat format;
    Bytes pixels;   // the bitmap's rows, top first
    Bytes palette;  // the first palette bytes to compare (empty: none)
    bool readsEveryByte = true;
};

std::vector<TgaVariant> TgaVariants() {
    std::vector<TgaVariant> variants;

    TgaFile topFirst;
    topFirst.height = 2, topFirst.descriptor = 0x20;
    topFirst.id = {'a', 'b', 'c'};
    topFirst.data = {1, 2, 3, 4, 5, 6};
    variants.push_back({"24 bits, top row first",
                        topFirst.Build(),
                        PLPixelFormat::X8R8G8B8,
                        {1, 2, 3, 255, 4, 5, 6, 255},
                        {}});
    TgaFile bottomFirst = topFirst;
    bottomFirst.descriptor = 0;
    variants.push_back({"24 bits, bottom row first",
                        bottomFirst.Build(),
                        PLPixelFormat::X8R8G8B8,
                        {4, 5, 6, 255, 1, 2, 3, 255},
                        {}});

    TgaFile sixteen;
    sixteen.width = 2, sixteen.pixelDepth = 16;
    sixteen.data = {0x00, 0xFC, 0x00, 0x7C};
    variants.push_back({"16 bits with the attribute bit as alpha",
                        sixteen.Build(),
                        PLPixelFormat::A8R8G8B8,
                        {0, 0, 248, 128, 0, 0, 248, 0},
                        {}});
    TgaFile fifteen = sixteen;
    fifteen.pixelDepth = 15;
    variants.push_back({"15 bits",
                        fifteen.Build(),
                        PLPixelFormat::X8R8G8B8,
                        {0, 0, 248, 255, 0, 0, 248, 255},
                        {}});

    TgaFile thirtyTwo;
    thirtyTwo.pixelDepth = 32;
    thirtyTwo.data = {1, 2, 3, 4};
    variants.push_back({"32 bits", thirtyTwo.Build(), PLPixelFormat::A8R8G8B8, {1, 2, 3, 4}, {}});

    TgaFile rle;
    rle.imageType = 10, rle.width = 4, rle.height = 2, rle.descriptor = 0x20;
    rle.data = {0x83, 1, 2, 3, 0x03, 4, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 7};
    variants.push_back({"RLE run and raw packets",
                        rle.Build(),
                        PLPixelFormat::X8R8G8B8,
                        {1, 2, 3, 255, 1, 2, 3, 255, 1, 2, 3, 255, 1, 2, 3, 255,
                         4, 4, 4, 255, 5, 5, 5, 255, 6, 6, 6, 255, 7, 7, 7, 255},
                        {}});
    TgaFile rleAcrossRows = rle;
    rleAcrossRows.width = 3, rleAcrossRows.descriptor = 0;
    rleAcrossRows.data = {0x83, 1, 2, 3, 0x01, 4, 4, 4, 5, 5, 5};
    variants.push_back(
        {"RLE packet going on into the next row",
         rleAcrossRows.Build(),
         PLPixelFormat::X8R8G8B8,
         {1, 2, 3, 255, 4, 4, 4, 255, 5, 5, 5, 255, 1, 2, 3, 255, 1, 2, 3, 255, 1, 2, 3, 255},
         {}});

    TgaFile grey;
    grey.imageType = 3, grey.width = 3, grey.pixelDepth = 8;
    grey.data = {0, 128, 255};
    variants.push_back({"8-bit greyscale",
                        grey.Build(),
                        PLPixelFormat::L8,
                        {0, 128, 255},
                        {0, 0, 0, 255, 1, 1, 1, 255}});

    TgaFile mapped;
    mapped.imageType = 1, mapped.colourMapType = 1, mapped.firstEntry = 250;
    mapped.colourMapLength = 10, mapped.colourMapDepth = 24;
    mapped.width = 2, mapped.pixelDepth = 8;
    for (int i = 0; i < 10; ++i) {
        mapped.colourMap.insert(mapped.colourMap.end(), {static_cast<std::uint8_t>(i), 7, 9});
    }
    mapped.data = {0, 255};
    // Entries 250 to 255 take map entries 0 to 5, entries 0 to 3 the rest; entry 4 is black.
    variants.push_back({"colour map wrapping past entry 255",
                        mapped.Build(),
                        PLPixelFormat::I8,
                        {0, 255},
                        {6, 7, 9, 255, 7, 7, 9, 255, 8, 7, 9, 255, 9, 7, 9, 255, 0, 0, 0, 0}});
    TgaFile mappedRle = mapped;
    mappedRle.imageType = 9;
    mappedRle.data = {0x81, 3};
    variants.push_back({"RLE colour-mapped", mappedRle.Build(), PLPixelFormat::I8, {3, 3}, {}});

    // A version 2.0 file: an extension area and the footer follow the image data.
    TgaFile withFooter = rle;
    Bytes footer(495, 0);
    footer[0] = 239;
    decoder_test::AppendLE(footer, static_cast<std::uint32_t>(withFooter.Build().size()), 4);
    decoder_test::AppendLE(footer, 0, 4);
    const std::string signature = "TRUEVISION-XFILE.";
    footer.insert(footer.end(), signature.begin(), signature.end());
    footer.push_back(0);
    withFooter.data = Concat({withFooter.data, footer});
    variants.push_back({"version 2.0 footer after the image",
                        withFooter.Build(),
                        PLPixelFormat::X8R8G8B8,
                        variants[5].pixels,
                        {},
                        false});

    TgaFile trueColourWithMap = topFirst;
    trueColourWithMap.colourMapType = 1, trueColourWithMap.colourMapLength = 2;
    trueColourWithMap.colourMapDepth = 16;
    trueColourWithMap.colourMap = {0xEE, 0xEE, 0xEE, 0xEE};
    variants.push_back({"true colour with a colour map",
                        trueColourWithMap.Build(),
                        PLPixelFormat::X8R8G8B8,
                        {1, 2, 3, 255, 4, 5, 6, 255},
                        {}});
    return variants;
}

TEST(PLTGADecoder, DecodesEachVariant) {
    for (const TgaVariant& v : TgaVariants()) {
        SCOPED_TRACE(v.what);
        PLAnyBmp bmp;
        decoder_test::ExpectImage<PLTGADecoder>(v.file, v.format, v.pixels, v.palette, bmp);
        EXPECT_EQ(bmp.GetResolution(), (PLPoint{0, 0}));
    }
}

TEST(PLTGADecoder, AnyFormatDecoderReadsTga) {
    const TgaVariant v = TgaVariants().front();
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(v.file.data(), static_cast<std::int32_t>(v.file.size()), bmp);
    EXPECT_EQ(decoder.GetFileType(), PLFileTypeTga);
    EXPECT_EQ(Pixels(bmp), v.pixels);
}

TEST(PLTGADecoder, CorruptFilesFailWithTheirCodes) {
    TgaFile depth12;
    depth12.pixelDepth = 12;
    TgaFile type5;
    type5.imageType = 5;
    TgaFile hugeType0;
    hugeType0.imageType = 0, hugeType0.width = 65535, hugeType0.height = 65535;
    TgaFile mapBeyond;
    mapBeyond.imageType = 1, mapBeyond.pixelDepth = 8, mapBeyond.colourMapType = 1;
    mapBeyond.firstEntry = 300, mapBeyond.colourMapLength = 1, mapBeyond.colourMapDepth = 24;
    mapBeyond.colourMap = {1, 2, 3};
    mapBeyond.data = {0};
    TgaFile mapDepth8 = mapBeyond;
    mapDepth8.firstEntry = 0, mapDepth8.colourMapDepth = 8;
    TgaFile runPastImage;
    runPastImage.imageType = 10, runPastImage.width = 2;
    runPastImage.data = {0x82, 1, 2, 3};
    TgaFile huge;
    huge.width = 65535, huge.height = 65535, huge.pixelDepth = 32;
    TgaFile hugeRle = huge;
    hugeRle.imageType = 10;

    decoder_test::ExpectFailures<PLTGADecoder>({
        {"depth 12", depth12.Build(), PLErrFormatUnknown,
         "Decoder error: TGA decoder: Unknown bits per pixel in file.\n"},
        {"image type 5", type5.Build(), PLErrFormatUnknown,
         "Decoder error: Unknown TGA image type.\n"},
        {"image type 0 of the largest size", hugeType0.Build(), PLErrFormatUnknown, nullptr},
        {"colour map from entry 300", mapBeyond.Build(), PLErrWrongSignature, nullptr},
        {"colour map of 8-bit entries", mapDepth8.Build(), PLErrFormatUnknown, nullptr},
        {"RLE packet past the image", runPastImage.Build(), PLErrWrongSignature,
         "Decoder error: Run-length data passes the image.\n"},
        {"pixels beyond the data", huge.Build(), PLErrEndOfFile, nullptr},
        {"RLE packets beyond the data", hugeRle.Build(), PLErrEndOfFile, nullptr},
    });
}

TEST(PLTGADecoder, EveryCutOfAFixtureFailsCleanly) {
    for (const TgaVariant& v : TgaVariants()) {
        if (!v.readsEveryByte) continue;
        SCOPED_TRACE(v.what);
        decoder_test::ExpectEveryCutFails<PLTGADecoder>(v.file, {PLErrEndOfFile});
    }
}

TEST(PLTGADecoder, KeptCorruptFilesFailCleanly) {
    decoder_test::ExpectDataFilesFail({{"tga_rle_past_image.tga", PLErrWrongSignature},
                                       {"tga_colour_map_from_300.tga", PLErrWrongSignature}});
}

}  // namespace
