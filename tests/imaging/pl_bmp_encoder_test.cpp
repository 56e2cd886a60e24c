#include "imaging/pl_bmp_encoder.h"

#include "core/byte_order.h"
#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_mem_sink.h"
#include "imaging/pl_text_exception.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using decoder_test::CodeOf;

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const PLAnyBmp& bmp) {
    Bytes block(1 << 16, 0xEE);
    PLMemSink sink;
    sink.Open(block.data(), static_cast<std::int32_t>(block.size()));
    PLBmpEncoder encoder;
    encoder.SaveBmp(bmp, sink);
    block.resize(static_cast<std::size_t>(sink.GetDataSize()));
    return block;
}

TEST(PLBmpEncoder, TrueColourRowsAreTwentyFourBitPaddedAndBottomUp) {
    PLAnyBmp bmp;
    bmp.CreateFromData(5, 2, PLPixelFormat::A8R8G8B8, nullptr, 0, {72, 96});
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 5; ++x) {
            StoreU32LE(bmp.GetLineArray()[y] + 4 * x, 0x80000000u | (y << 16) | (x << 8) | 0x33);
        }
    }
    const Bytes file = Encode(bmp);
    ASSERT_EQ(file.size(), 54u + 16 * 2);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(LoadU32LE(&file[2]), file.size());
    EXPECT_EQ(LoadU32LE(&file[6]), 0u);
    EXPECT_EQ(LoadU32LE(&file[10]), 54u);
    EXPECT_EQ(LoadU32LE(&file[14]), 40u);
    EXPECT_EQ(LoadI32LE(&file[18]), 5);
    EXPECT_EQ(LoadI32LE(&file[22]), 2);
    EXPECT_EQ(LoadU16LE(&file[26]), 1);
    EXPECT_EQ(LoadU16LE(&file[28]), 24);
    EXPECT_EQ(LoadU32LE(&file[30]), 0u);
    EXPECT_EQ(LoadI32LE(&file[38]), 2835);
    EXPECT_EQ(LoadI32LE(&file[42]), 3780);
    EXPECT_EQ(LoadU32LE(&file[46]), 0u);
    // The first stored row is the bottom row (y = 1): blue, green, red, then one filler.
    const Bytes bottom(file.begin() + 54, file.begin() + 70);
    EXPECT_EQ(bottom, (Bytes{0x33, 0, 1, 0x33, 1, 1, 0x33, 2, 1, 0x33, 3, 1, 0x33, 4, 1, 0}));
    EXPECT_EQ(file[70 + 1], 0);  // green of the top row's first pixel
    EXPECT_EQ(file[70 + 2], 0);  // its red
}

TEST(PLBmpEncoder, PalettedBitmapsCarryTheirPalette) {
    struct Case {
        PLPixelFormat format;
        std::int32_t width;
        std::uint32_t dataOffset;
        std::size_t storedRow;
    };
    const Case cases[] = {{PLPixelFormat::L1, 9, 62, 4}, {PLPixelFormat::I8, 3, 1078, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.GetName());
        PLAnyBmp bmp;
        bmp.CreateFromData(c.width, 2, c.format, nullptr, 0, {0, 0});
        bmp.GetLineArray()[1][0] = 0xA5;
        bmp.GetLineArray()[1][1] = 0x81;
        const Bytes file = Encode(bmp);
        EXPECT_EQ(LoadU32LE(&file[10]), c.dataOffset);
        EXPECT_EQ(LoadU16LE(&file[28]), c.format.GetBitsPerPixel());
        EXPECT_EQ(file.size(), c.dataOffset + 2 * c.storedRow);
        EXPECT_EQ(LoadU32LE(&file[2]), file.size());
        // Palette entries as they stand: the grey ramp's last entry is white.
        const std::size_t last = c.dataOffset - 4;
        EXPECT_EQ(LoadU32LE(&file[last]), 0xFFFFFFFFu);
        EXPECT_EQ(LoadU32LE(&file[54]), 0xFF000000u);
        // The bottom row first, its padding zero.
        EXPECT_EQ(file[c.dataOffset], 0xA5);
        EXPECT_EQ(file[c.dataOffset + 1], 0x81);
        EXPECT_EQ(file[c.dataOffset + 3], 0);
    }
}

TEST(PLBmpEncoder, FailuresRaiseTheLibraryCodes) {
    PLAnyBmp bmp;
    bmp.CreateFromData(4, 4, PLPixelFormat::X8R8G8B8, nullptr, 0, {0, 0});
    Bytes block(60, 0);
    PLMemSink sink;
    sink.Open(block.data(), 60);
    PLBmpEncoder encoder;
    std::string text;
    EXPECT_EQ(CodeOf([&] { encoder.SaveBmp(bmp, sink); }, &text), PLErrEndOfFile);
    EXPECT_EQ(text, "Buffer overflow while encoding.\n");
    EXPECT_EQ(sink.GetDataSize(), 54);  // the headers stay

    TempFolder folder;
    const std::string path = (folder.Path() / "missing" / "picture.bmp").string();
    EXPECT_EQ(CodeOf([&] { encoder.MakeFileFromBmp(path, bmp); }, &text), PLErrPathNotFound);
    EXPECT_EQ(text, "Decoder error: Opening " + path + " failed: No such file or directory\n");
    std::u16string longName(1000, u'a');
    try {
        encoder.MakeFileFromBmpW(u"/nonexistent-folder/" + longName, bmp);
        FAIL() << "no exception";
    } catch (const PLTextException& e) {
        EXPECT_NE(std::string(e.GetText()).find("{{Filename too long}}"), std::string::npos);
    }
}

TEST(PLBmpEncoder, FileHoldsExactlyTheEncodedBytes) {
    PLAnyBmp bmp;
    bmp.CreateFromData(3, 3, PLPixelFormat::X8R8G8B8, nullptr, 0, {72, 72});
    TempFolder folder;
    const std::string path = (folder.Path() / "picture.bmp").string();
    PLBmpEncoder encoder;
    encoder.MakeFileFromBmpW(u"" + std::u16string(path.begin(), path.end()), bmp);
    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(file, Encode(bmp));
}

}  // namespace
