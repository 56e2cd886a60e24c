#include "imaging/pl_psd_decoder.h"

#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using decoder_test::AppendBE;
using decoder_test::Bytes;
using decoder_test::CodeOf;
using decoder_test::Concat;
using decoder_test::Pixels;

// A PSD document: header, colour mode data, image resources and layer section (each given
// without its length, which is added), compression and the merged image data.
struct PsdFile {
    std::uint16_t channels = 3;
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint16_t depth = 8;
    std::uint16_t mode = 3;
    Bytes modeData;
    Bytes resources;
    Bytes layerSection;
    std::uint16_t compression = 0;
    Bytes imageData;

    Bytes Build() const {
        Bytes bytes = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
        AppendBE(bytes, channels, 2);
        AppendBE(bytes, height, 4);
        AppendBE(bytes, width, 4);
        AppendBE(bytes, depth, 2);
        AppendBE(bytes, mode, 2);
        for (const Bytes* section : {&modeData, &resources, &layerSection}) {
            AppendBE(bytes, static_cast<std::uint32_t>(section->size()), 4);
            bytes.insert(bytes.end(), section->begin(), section->end());
        }
        AppendBE(bytes, compression, 2);
        return Concat({bytes, imageData});
    }
};

// One image resource block; the name is padded so that its length byte and text take an
// even count, the data to an even size.
Bytes ResourceBlock(std::uint16_t id, const std::string& name, const Bytes& data) {
    Bytes block = {'8', 'B', 'I', 'M'};
    AppendBE(block, id, 2);
    block.push_back(static_cast<std::uint8_t>(name.size()));
    block.insert(block.end(), name.begin(), name.end());
    if (name.size() % 2 == 0) block.push_back(0);
    AppendBE(block, static_cast<std::uint32_t>(data.size()), 4);
    block.insert(block.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) block.push_back(0);
    return block;
}

Bytes ResolutionData(std::uint32_t dpi) {
    Bytes data;
    for (int axis = 0; axis < 2; ++axis) {
        AppendBE(data, dpi << 16, 4);
        AppendBE(data, 1, 2);
        AppendBE(data, 1, 2);
    }
    return data;
}

// A layer section holding count (as stored) and the records of the given channel counts.
Bytes LayerSection(std::int16_t count, const std::vector<std::uint16_t>& channelCounts) {
    Bytes records;
    AppendBE(records, static_cast<std::uint16_t>(count), 2);
    for (std::uint16_t channels : channelCounts) {
        for (int i = 0; i < 4; ++i) AppendBE(records, 10 * i, 4);
        AppendBE(records, channels, 2);
        for (std::uint16_t c = 0; c < channels; ++c) {
            AppendBE(records, c, 2);
            AppendBE(records, 100, 4);
        }
        records.insert(records.end(), {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0, 0});
        AppendBE(records, 3, 4);
        records.insert(records.end(), {7, 7, 7});
    }
    Bytes section;
    AppendBE(section, static_cast<std::uint32_t>(records.size()), 4);
    return Concat({section, records});
}

struct PsdVariant {
    const char* what;
    Bytes file;
    PLPixelFormat format;
    PLPoint resolution;
    Bytes pixels;   // the bitmap's rows, top first
    Bytes palette;  // the first palette bytes to compare (empty: none)
    bool readsEveryByte = true;
};

std::vector<PsdVariant> PsdVariants() {
    std::vector<PsdVariant> variants;

    PsdFile rgb;
    rgb.width = 2;
    rgb.imageData = {10, 20, 30, 40, 50, 60};  // red, green and blue planes
    variants.push_back({"RGB, 3 channels",
                        rgb.Build(),
                        PLPixelFormat::X8R8G8B8,
                        {0, 0},
                        {50, 30, 10, 255, 60, 40, 20, 255},
                        {}});

    PsdFile rgba = rgb;
    rgba.channels = 4;
    rgba.imageData = {10, 20, 30, 40, 50, 60, 70, 80};
    variants.push_back({"RGB, 4 channels",
                        rgba.Build(),
                        PLPixelFormat::A8R8G8B8,
                        {0, 0},
                        {50, 30, 10, 70, 60, 40, 20, 80},
                        {}});

    PsdFile five = rgba;
    five.channels = 5;
    five.imageData = {10, 20, 30, 40, 50, 60, 70, 80, 90, 99};
    variants.push_back({"RGB, 5 channels",
                        five.Build(),
                        PLPixelFormat::A8R8G8B8,
                        {0, 0},
                        {50, 30, 10, 70, 60, 40, 20, 80},
                        {},
                        false});

    PsdFile grey;
    grey.channels = 1, grey.mode = 1, grey.width = 2, grey.height = 2;
    grey.imageData = {1, 2, 3, 4};
    variants.push_back({"greyscale",
                        grey.Build(),
                        PLPixelFormat::L8,
                        {0, 0},
                        {1, 2, 3, 4},
                        {0, 0, 0, 255, 1, 1, 1, 255, 2, 2, 2, 255}});

    PsdFile indexed = grey;
    indexed.mode = 2;
    indexed.modeData.assign(768, 0);
    indexed.modeData[1] = 11, indexed.modeData[256 + 1] = 22, indexed.modeData[512 + 1] = 33;
    variants.push_back({"indexed",
                        indexed.Build(),
                        PLPixelFormat::I8,
                        {0, 0},
                        {1, 2, 3, 4},
                        {0, 0, 0, 255, 33, 22, 11, 255}});

    // Rows narrower than 8 pixels are packed like any other.
    PsdFile narrow = rgb;
    narrow.width = 3, narrow.height = 2, narrow.compression = 1;
    narrow.imageData.clear();
    const Bytes literal = {2, 1, 2, 3};
    const Bytes repeat = {0xFE, 9};
    for (int i = 0; i < 6; ++i) AppendBE(narrow.imageData, i % 2 == 0 ? 4 : 2, 2);
    for (int i = 0; i < 3; ++i) narrow.imageData = Concat({narrow.imageData, literal, repeat});
    variants.push_back(
        {"narrow PackBits rows",
         narrow.Build(),
         PLPixelFormat::X8R8G8B8,
         {0, 0},
         {1, 1, 1, 255, 2, 2, 2, 255, 3, 3, 3, 255, 9, 9, 9, 255, 9, 9, 9, 255, 9, 9, 9, 255},
         {}});

    PsdFile wide = grey;
    wide.width = 10, wide.height = 1, wide.compression = 1;
    wide.imageData = {0, 8, 0xFB, 5, 128, 3, 1, 2, 3, 4};
    variants.push_back({"wide PackBits row",
                        wide.Build(),
                        PLPixelFormat::L8,
                        {0, 0},
                        {5, 5, 5, 5, 5, 5, 1, 2, 3, 4},
                        {}});

    // A name of length 3 takes no pad byte, one of length 4 one; odd data is padded.
    PsdFile withResources = rgb;
    withResources.resources = Concat(
        {ResourceBlock(1000, "abc", {1, 2, 3}), ResourceBlock(1005, "dpis", ResolutionData(72))});
    withResources.layerSection = LayerSection(-2, {2, 0});
    variants.push_back({"resources and two layers",
                        withResources.Build(),
                        PLPixelFormat::X8R8G8B8,
                        {72, 72},
                        {50, 30, 10, 255, 60, 40, 20, 255},
                        {}});
    return variants;
}

TEST(PLPSDDecoder, DecodesEachVariant) {
    for (const PsdVariant& v : PsdVariants()) {
        SCOPED_TRACE(v.what);
        PLAnyBmp bmp;
        decoder_test::ExpectImage<PLPSDDecoder>(v.file, v.format, v.pixels, v.palette, bmp);
        EXPECT_EQ(bmp.GetResolution(), v.resolution);
    }
}

TEST(PLPSDDecoder, AnyFormatDecoderReadsPsd) {
    const PsdVariant v = PsdVariants().back();
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(v.file.data(), static_cast<std::int32_t>(v.file.size()), bmp);
    EXPECT_EQ(decoder.GetFileType(), PLFileTypePsd);
    EXPECT_EQ(Pixels(bmp), v.pixels);
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{72, 72}));
}

TEST(PLPSDDecoder, CorruptFilesFailWithTheirCodes) {
    PsdFile base;
    base.imageData = {1, 2, 3};
    const auto changed = [&base](auto change) {
        PsdFile file = base;
        change(file);
        return file.Build();
    };
    Bytes notPsd = base.Build();
    notPsd[0] = 'X';

    decoder_test::ExpectFailures<PLPSDDecoder>({
        {"signature", notPsd, PLErrFormatUnknown,
         "Decoder error: PSD decoder: This isn't a photoshop file.\n"},
        {"resource signature",
         changed([](PsdFile& f) { f.resources = {'X', 'B', 'I', 'M', 0, 1, 0, 0, 0, 0, 0, 0}; }),
         PLErrFormatUnknown,
         "Decoder error: PSD decoder: Wrong signature in resource data block.\n"},
        {"resource data past its section", changed([](PsdFile& f) {
             f.resources = ResourceBlock(1005, "", ResolutionData(72));
             f.resources.resize(f.resources.size() - 4);
         }),
         PLErrWrongSignature, nullptr},
        {"CMYK", changed([](PsdFile& f) { f.mode = 4; }), PLErrFormatNotSupported,
         "Decoder error: This PSD color mode is not supported.\n"},
        {"16 bits a channel", changed([](PsdFile& f) { f.depth = 16; }), PLErrFormatNotSupported,
         nullptr},
        {"ZIP", changed([](PsdFile& f) { f.compression = 2; }), PLErrFormatUnknown,
         "Decoder error: PSD decoder: Compression type not supported.\n"},
        {"compression 4", changed([](PsdFile& f) { f.compression = 4; }), PLErrFormatUnknown,
         "Decoder error: PSD decoder: Compression unknown.\n"},
        {"layer records past their section", changed([](PsdFile& f) {
             // The second record is read from the image data after the section.
             f.layerSection = LayerSection(-2, {1});
             f.imageData.resize(100, 0);
         }),
         PLErrWrongSignature, nullptr},
        {"PackBits run past the row", changed([](PsdFile& f) {
             f.compression = 1, f.imageData = {0, 2, 0, 2, 0, 2, 0xFD, 1, 0xFD, 1, 0xFD, 1};
         }),
         PLErrWrongSignature, "Decoder error: Run-length data passes the row.\n"},
        {"size beyond the data", changed([](PsdFile& f) { f.width = f.height = 30000; }),
         PLErrEndOfFile, nullptr},
        {"width beyond int32", changed([](PsdFile& f) { f.width = 0x80000000; }),
         PLErrWrongSignature, nullptr},
    });
}

// Small documents claiming huge images are refused from the header, before any storage is
// asked for.
TEST(PLPSDDecoder, ImagesTheDataCannotHoldAreRefusedBeforeAllocation) {
    PsdFile noChannels;
    noChannels.channels = 0, noChannels.width = 12124227, noChannels.height = 32;
    noChannels.mode = 1;
    noChannels.imageData.resize(33, 0);
    const Bytes tiny = noChannels.Build();
    ASSERT_EQ(tiny.size(), 73u);
    PsdFile packed;
    packed.width = 40000, packed.height = 40000, packed.compression = 1;
    packed.imageData.resize(1000, 0);
    PsdFile raw;
    raw.channels = 4, raw.width = 100, raw.height = 100;
    raw.imageData.resize(3 * 100 * 100, 0);
    // Four channels of 2^31 - 1 rows of as many bytes pass 64 bits when multiplied.
    PsdFile widest = raw;
    widest.width = widest.height = 0x7FFFFFFF;

    const struct {
        const char* what;
        Bytes file;
        std::int32_t code;
    } cases[] = {
        {"no channels, 12 million columns", tiny, PLErrWrongSignature},
        {"PackBits, 1.6 billion pixels in 1,000 bytes", packed.Build(), PLErrEndOfFile},
        {"raw, one channel short", raw.Build(), PLErrEndOfFile},
        {"raw, 2^31 - 1 square", widest.Build(), PLErrEndOfFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decoder_test::CodeWithoutStorage<PLPSDDecoder>(c.file), c.code);
    }
}

TEST(PLPSDDecoder, EveryCutOfAFixtureFailsCleanly) {
    for (const PsdVariant& v : PsdVariants()) {
        if (!v.readsEveryByte) continue;
        SCOPED_TRACE(v.what);
        decoder_test::ExpectEveryCutFails<PLPSDDecoder>(
            v.file, {PLErrEndOfFile, PLErrWrongSignature, PLErrFormatUnknown});
    }
}

TEST(PLPSDDecoder, KeptCorruptFilesFailCleanly) {
    decoder_test::ExpectDataFilesFail({{"psd_packbits_past_row.psd", PLErrWrongSignature},
                                       {"psd_layers_past_section.psd", PLErrWrongSignature},
                                       {"psd_resource_past_section.psd", PLErrWrongSignature},
                                       {"psd_zero_width_huge_height.psd", PLErrWrongSignature},
                                       {"psd_no_channels_huge_width.psd", PLErrWrongSignature}});
}

}  // namespace
