#include "imaging/image_file.h"

#include "core/byte_order.h"
#include "core/crc32.h"
#include "core/crt_random.h"
#include "core/private_heap.h"
#include "imaging/image_mem_stream.h"
#include "imaging/jpeg_reference.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_filter_resize_gaussian.h"
#include "imaging/tiff_test_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tiff_test::Bytes;
using tiff_test::Layout;
using tiff_test::ReadFileBytes;
using tiff_test::WriteTiff;

// Checks that a test leaves no private-heap block behind.
class ImageFileTest : public testing::Test {
protected:
    void SetUp() override { blocksBefore = PrivateHeapBlockCount(); }
    void TearDown() override {
        PrivateHeapRefuseNext(0);
        EXPECT_EQ(PrivateHeapBlockCount(), blocksBefore) << "private-heap blocks leaked";
    }

    // "argb" words as bytes.
    static Bytes Words(std::initializer_list<std::uint32_t> words) {
        Bytes bytes(4 * words.size());
        std::size_t at = 0;
        for (const std::uint32_t w : words) {
            StoreU32LE(&bytes[at], w);
            at += 4;
        }
        return bytes;
    }

    static std::string WriteBytes(const TempFolder& folder, const char* name, const Bytes& bytes) {
        return folder.WriteFile(name, std::string(bytes.begin(), bytes.end()));
    }

    std::size_t blocksBefore = 0;
};

using ConvertChannelOrderTest = ImageFileTest;
using TiffMemoryTest = ImageFileTest;
using MemStreamTest = ImageFileTest;
using LoadImageFileTest = ImageFileTest;
using SaveImageFileTest = ImageFileTest;
using ResampleImageTest = ImageFileTest;

TEST_F(ConvertChannelOrderTest, RebuildsWordsOrBytes) {
    const Bytes src = Words({0x80FF0000, 0x11223344});
    Bytes dst(8, 0);
    ConvertChannelOrder("argb", "abgr", src.data(), dst.data(), 2, 1, 8);
    EXPECT_EQ(dst, Words({0x800000FF, 0x11443322}));
    ConvertChannelOrder("argb", "rgb", src.data(), dst.data(), 2, 1, 8);
    EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 6), (Bytes{0xFF, 0x00, 0x00, 0x22, 0x33, 0x44}));
    // A letter missing from the source reads as the lowest byte.
    ConvertChannelOrder("rgb", "argb", src.data(), dst.data(), 1, 1, 8);
    EXPECT_EQ(LoadU32LE(dst.data()), 0x0080FF00u);
    // Equal orders copy the rows; the source advances by its stride, the output is packed.
    const Bytes rows = Words({1, 2, 3, 4});
    ConvertChannelOrder("argb", "argb", rows.data(), dst.data(), 1, 2, 8);
    EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 8), Words({1, 3}));
}

TEST_F(TiffMemoryTest, RoundTripKeepsColourAndAssociatedAlpha) {
    const Bytes pixels = Words({0x80C86432, 0x00000000, 0xFF0A141E, 0x40102030});
    struct Case {
        bool alpha;
        std::int16_t premultiplied;
        std::vector<std::uint32_t> expected;
    };
    const Case cases[] = {
        {false, 0, {0xFFC86432, 0xFF000000, 0xFF0A141E, 0xFF102030}},
        {true, 1, {0x80C86432, 0x00000000, 0xFF0A141E, 0x40102030}},
        // Premultiplied first: 0xC8 * 0x80 / 255 = 0x64.
        {true, 2, {0x80643219, 0x00000000, 0xFF0A141E, 0x4004080C}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.premultiplied);
        std::uint32_t size = 0;
        std::uint8_t* tiff =
            EncodeTiffToMemory("argb", pixels.data(), 2, 2, 8, c.alpha, c.premultiplied, size);
        ASSERT_NE(tiff, nullptr);
        std::uint32_t againSize = 0;
        std::uint8_t* again =
            EncodeTiffToMemory("argb", pixels.data(), 2, 2, 8, c.alpha, c.premultiplied, againSize);
        ASSERT_EQ(againSize, size);
        EXPECT_EQ(std::memcmp(tiff, again, size), 0) << "encoding is not repeatable";
        PrivateFree(again);

        std::int32_t width = 0, height = 0, samples = 0;
        std::uint8_t* decoded = DecodeTiffFromMemory(tiff, static_cast<std::int32_t>(size), "argb",
                                                     width, height, samples);
        PrivateFree(tiff);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(width, 2);
        EXPECT_EQ(height, 2);
        EXPECT_EQ(samples, c.alpha ? 4 : 3);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(LoadU32LE(decoded + 4 * i), c.expected[i]) << i;
        }
        PrivateFree(decoded);
    }
}

TEST_F(TiffMemoryTest, BadStreamsGiveNull) {
    const Bytes pixels = Words({0xFF102030, 0xFF405060});
    std::uint32_t size = 0;
    std::uint8_t* tiff = EncodeTiffToMemory("argb", pixels.data(), 2, 1, 8, false, 0, size);
    ASSERT_NE(tiff, nullptr);
    const Bytes good(tiff, tiff + size);
    PrivateFree(tiff);

    Bytes garbled = good;
    for (std::size_t i = 8; i < 16; ++i) garbled[i] ^= 0xFF;
    Bytes badOffset = good;
    StoreU32LE(&badOffset[4], 0x7FFFFFF0);
    const Bytes cases[] = {Bytes{},
                           Bytes{'I', 'I', 42, 0},
                           Bytes(good.begin(), good.begin() + 12),
                           garbled,
                           badOffset,
                           Bytes(64, 0)};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        std::int32_t width = -1, height = -1, samples = -1;
        std::uint8_t* decoded =
            DecodeTiffFromMemory(cases[i].data(), static_cast<std::int32_t>(cases[i].size()),
                                 "argb", width, height, samples);
        EXPECT_EQ(decoded, nullptr);
        PrivateFree(decoded);
    }
    // Unusable arguments.
    EXPECT_EQ(EncodeTiffToMemory("argb", nullptr, 2, 1, 8, false, 0, size), nullptr);
    EXPECT_EQ(EncodeTiffToMemory("argb", pixels.data(), 2, 1, 4, false, 0, size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(TiffMemoryTest, RefusedHeapThrowsOutOfMemoryWithoutLeaks) {
    const Bytes pixels = Words({0xFF102030});
    std::uint32_t size = 0;
    PrivateHeapRefuseNext(1);
    EXPECT_THROW(EncodeTiffToMemory("argb", pixels.data(), 1, 1, 4, true, 1, size),
                 KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    // The stream's slot was given back: all 20 are free.
    std::vector<int> slots;
    for (int i = 0; i < MemStreamSlotCount; ++i) slots.push_back(MemStreamOpen(nullptr, 0, 'w'));
    EXPECT_EQ(slots.back(), MemStreamSlotCount - 1);
    for (const int slot : slots) MemStreamClose(slot);
}

TEST_F(MemStreamTest, ModesBoundsAndGrowth) {
    std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(MemStreamOpen(nullptr, 0, 'r'), -1);
    EXPECT_EQ(MemStreamOpen(data, 4, 'w'), -1);
    EXPECT_EQ(MemStreamOpen(data, 4, 'x'), -1);
    EXPECT_EQ(MemStreamRead(3, data, 1), -1);  // a free slot

    const int reader = MemStreamOpen(data, 4, 'r');
    ASSERT_GE(reader, 0);
    std::uint8_t out[8] = {};
    EXPECT_EQ(MemStreamRead(reader, out, 5), 0);  // more than is there: nothing
    EXPECT_EQ(MemStreamRead(reader, out, 3), 3);
    EXPECT_EQ(MemStreamSeek(reader, 5, 0), -1);  // past the bytes
    EXPECT_EQ(MemStreamSeek(reader, -1, 2), 3);
    EXPECT_EQ(MemStreamSeek(reader, -4, 1), -1);
    EXPECT_EQ(MemStreamWrite(reader, out, 1), -1);
    EXPECT_EQ(MemStreamClose(reader), 0);
    EXPECT_EQ(data[0], 1);

    const int writer = MemStreamOpen(nullptr, 0, 'w');
    ASSERT_GE(writer, 0);
    EXPECT_EQ(MemStreamWrite(writer, data, 2), 2);
    EXPECT_EQ(MemStreamSeek(writer, 6, 0), 6);  // grows the block, not the size
    EXPECT_EQ(MemStreamSize(writer), 2);
    EXPECT_EQ(MemStreamWrite(writer, data + 2, 2), 2);
    EXPECT_EQ(MemStreamSize(writer), 8);
    std::uint32_t size = 0;
    std::uint8_t* block = MemStreamTakeBlock(writer, size);
    MemStreamClose(writer);
    ASSERT_EQ(size, 8u);
    EXPECT_EQ(Bytes(block, block + 8), (Bytes{1, 2, 0, 0, 0, 0, 3, 4}));
    PrivateFree(block);
}

TEST_F(ImageFileTest, MessagesAreVerbatim) {
    const char* load[] = {"",
                          "File Signature unrecognized or file possibly corrupt.",
                          "Unrecognized file format or compression setting.",
                          "File not found or file access denied.",
                          "This image file format is not supported.",
                          "Image file type not recognized.",
                          "Not enough memory to load image file",
                          "End of file reached before end of image. File possibly corrupt.",
                          ""};
    for (int code = 0; code <= 8; ++code) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(ImageFileMessage(code, false), load[code]);
        const char* save = code == 6   ? "Not enough memory to save image file"
                           : code == 8 ? "Unknown error saving file."
                                       : load[code];
        EXPECT_STREQ(ImageFileMessage(code, true), save);
    }
}

TEST_F(LoadImageFileTest, DecodesFilesAndMemoryIntoTheRequestedOrder) {
    TempFolder folder;
    const Bytes file = WriteTiff({.width = 2,
                                  .samplesPerPixel = 4,
                                  .photometric = PHOTOMETRIC_RGB,
                                  .extraSamples = {EXTRASAMPLE_ASSOCALPHA}},
                                 {{200, 100, 50, 128, 0, 0, 0, 0}});
    const std::string path = WriteBytes(folder, "picture.tif", file);
    for (const bool fromMemory : {false, true}) {
        SCOPED_TRACE(fromMemory);
        std::int32_t width = 0, height = 0, stride = 0;
        std::uint8_t* pixels = nullptr;
        bool premultiplied = false;
        std::string error;
        ASSERT_EQ(LoadImageFile("abgr", width, pixels, path, fromMemory ? file.data() : nullptr,
                                static_cast<std::int32_t>(file.size()), premultiplied, height,
                                stride, error),
                  0)
            << error;
        EXPECT_EQ(width, 2);
        EXPECT_EQ(height, 1);
        EXPECT_EQ(stride, 8);
        EXPECT_TRUE(premultiplied);
        EXPECT_EQ(LoadU32LE(pixels), 0x803264C8u);
        PrivateFree(pixels);
    }

    // A transparent pixel with colour contradicts premultiplied alpha.
    const Bytes contradicting = WriteTiff({.width = 1,
                                           .samplesPerPixel = 4,
                                           .photometric = PHOTOMETRIC_RGB,
                                           .extraSamples = {EXTRASAMPLE_ASSOCALPHA}},
                                          {{10, 0, 0, 0}});
    std::int32_t width = 0, height = 0, stride = 0;
    std::uint8_t* pixels = nullptr;
    bool premultiplied = true;
    std::string error;
    ASSERT_EQ(LoadImageFile("argb", width, pixels, "", contradicting.data(),
                            static_cast<std::int32_t>(contradicting.size()), premultiplied, height,
                            stride, error),
              0);
    EXPECT_FALSE(premultiplied);
    PrivateFree(pixels);
}

// Associated alpha is reported premultiplied until a pixel of alpha 0 with colour turns up,
// wherever it lies: in rows the TIFF decoder reads itself (strips of one row, one strip of
// the whole image) and in tiles libtiff's reader puts.
TEST_F(LoadImageFileTest, ColourUnderClearAlphaAnywhereEndsPremultiplied) {
    struct Case {
        const char* what;
        std::uint32_t rowsPerStrip;
        std::uint32_t tileSize;
    };
    const Case cases[] = {
        {"strips of one row", 1, 0},
        {"one strip", 100, 0},
        {"tiles", 1, 16},
    };
    constexpr std::uint32_t Width = 21;
    constexpr std::uint32_t Height = 19;
    for (const Case& c : cases) {
        for (const std::uint8_t lastRed : {0, 1}) {
            SCOPED_TRACE(testing::Message() << c.what << ", last red " << int{lastRed});
            // Clear black pixels throughout, and the last one clear with red lastRed.
            std::vector<Bytes> rows(Height, Bytes(4 * Width));
            for (std::uint32_t y = 0; y < Height; ++y) {
                for (std::uint32_t x = 0; x < Width; ++x) {
                    const bool isClear = (x + y) % 3 == 0;
                    const auto v = static_cast<std::uint8_t>(isClear ? 0 : 40 + x);
                    std::uint8_t* p = &rows[y][4 * x];
                    p[0] = p[1] = p[2] = v / 2;
                    p[3] = v;
                }
            }
            std::uint8_t* last = &rows[Height - 1][4 * (Width - 1)];
            last[0] = lastRed;
            last[1] = last[2] = last[3] = 0;
            const Bytes file = WriteTiff({.width = Width,
                                          .height = Height,
                                          .samplesPerPixel = 4,
                                          .photometric = PHOTOMETRIC_RGB,
                                          .compression = COMPRESSION_LZW,
                                          .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
                                          .tileSize = c.tileSize,
                                          .rowsPerStrip = c.rowsPerStrip},
                                         rows);
            ASSERT_FALSE(file.empty());
            std::int32_t width = 0, height = 0, stride = 0;
            std::uint8_t* pixels = nullptr;
            bool premultiplied = lastRed != 0;
            std::string error;
            ASSERT_EQ(LoadImageFile("argb", width, pixels, "", file.data(),
                                    static_cast<std::int32_t>(file.size()), premultiplied,
                                    height, stride, error),
                      0)
                << error;
            EXPECT_EQ(premultiplied, lastRed == 0);
            EXPECT_EQ(LoadU32LE(pixels + 4 * (std::size_t{Width} * Height - 1)),
                      std::uint32_t{lastRed} << 16);
            PrivateFree(pixels);
        }
    }
}

TEST_F(LoadImageFileTest, FailuresGiveCodesAndMessages) {
    TempFolder folder;
    const Bytes fiveChannels = WriteTiff(
        {.width = 1, .samplesPerPixel = 5, .photometric = PHOTOMETRIC_RGB, .extraSamples = {0, 0}},
        {{1, 2, 3, 4, 5}});
    Bytes corrupt = WriteTiff({.width = 4, .compression = COMPRESSION_LZW}, {{1, 2, 3, 4}});
    StoreU32LE(&corrupt[4], 0x7FFFFFF0);
    const Bytes whole = tiff_test::GreyTiffWithDirectoryFirst(4, 9);
    const Bytes cutEarly(whole.begin(), whole.end() - 7 * 4);  // rows 2 and on missing
    Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    png.resize(64, 0);
    struct Case {
        const char* what;
        std::string path;
        Bytes data;
        std::int32_t code;
        std::string message;
    };
    const Case cases[] = {
        {"missing file",
         (folder.Path() / "none.tif").string(),
         {},
         3,
         "File not found or file access denied."},
        {"unknown type", "", Bytes(64, 0), 5, "Image file type not recognized."},
        {"format not built in", "", png, 4, "This image file format is not supported."},
        {"more than four channels", "", fiveChannels, 4,
         "This TIFF file has more than 4 channels. Morvane cannot load TIFF files with more "
         "than 4 channels (r,g,b & alpha)"},
        {"corrupt directory", "", corrupt, 2, "Unrecognized file format or compression setting."},
        {"rows missing early", "", cutEarly, 7,
         "End of file reached before end of image. File possibly corrupt."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::int32_t width = 0, height = 0, stride = 0;
        std::uint8_t* pixels = nullptr;
        bool premultiplied = false;
        std::string error;
        EXPECT_EQ(
            LoadImageFile("argb", width, pixels, c.path, c.data.empty() ? nullptr : c.data.data(),
                          static_cast<std::int32_t>(c.data.size()), premultiplied, height, stride,
                          error),
            c.code);
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(pixels, nullptr);
    }
}

TEST_F(LoadImageFileTest, TgaExtensionAreaTellsPremultipliedAlpha) {
    // A 1 x 1 true-colour TGA of 32 bits (blue 10, green 20, red 30, alpha 128), optionally
    // followed by a version 2.0 extension area with the given attributes type and the footer.
    const auto tga = [](int attributesType) {
        Bytes file = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 32, 0x28, 10, 20, 30, 128};
        if (attributesType < 0) return file;
        const auto extensionOffset = static_cast<std::uint32_t>(file.size());
        Bytes extension(495, 0);
        StoreU16LE(&extension[0], 495);
        extension[494] = static_cast<std::uint8_t>(attributesType);
        file.insert(file.end(), extension.begin(), extension.end());
        Bytes footer(8, 0);
        StoreU32LE(&footer[0], extensionOffset);
        const std::string signature = "TRUEVISION-XFILE.";
        footer.insert(footer.end(), signature.begin(), signature.end());
        footer.push_back(0);
        file.insert(file.end(), footer.begin(), footer.end());
        return file;
    };
    TempFolder folder;
    struct Case {
        int attributesType;  // -1: no footer
        bool loaded;         // as LoadImageFile reports it
        bool presumed;       // as ImageAlphaIsPremultiplied reports it
    };
    const Case cases[] = {{-1, false, true}, {4, true, true}, {3, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributesType);
        const std::string path = WriteBytes(folder, "picture.tga", tga(c.attributesType));
        std::int32_t width = 0, height = 0, stride = 0;
        std::uint8_t* pixels = nullptr;
        bool premultiplied = !c.loaded;
        std::string error;
        ASSERT_EQ(LoadImageFile("argb", width, pixels, path, nullptr, 0, premultiplied, height,
                                stride, error),
                  0)
            << error;
        EXPECT_EQ(premultiplied, c.loaded);
        EXPECT_EQ(LoadU32LE(pixels), 0x801E140Au);
        PrivateFree(pixels);
        std::int32_t result = -1;
        EXPECT_EQ(ImageAlphaIsPremultiplied(result, path, error), c.presumed);
        EXPECT_EQ(result, 0);
    }
}

// Files of every kind the front end decodes straight into the caller's buffer (and some it
// converts), small enough that the buffer is a pooled slot of the private heap: loaded into
// slots left holding 0x00 and then 0xFF, they give the same bytes, so no byte of the result
// is one the decoder skipped; and the bytes are the image library's own decode converted to
// "argb".
TEST_F(LoadImageFileTest, PixelsDoNotDependOnWhatTheBufferHeldBefore) {
    std::uint32_t state = 5;
    const auto noise = [&state](std::size_t count) {
        Bytes bytes(count);
        for (std::uint8_t& b : bytes) {
            state = state * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(state >> 16);
        }
        return bytes;
    };
    // A Windows bitmap with a 40-byte header, a palette below 16 bits, rows bottom-up padded
    // to 4 bytes.
    const auto bmp = [&noise](int bitCount, int width, int height) {
        const int rowBytes = (width * bitCount + 31) / 32 * 4;
        const Bytes palette = noise(bitCount <= 8 ? std::size_t{4} << bitCount : 0);
        const auto offset = static_cast<std::uint32_t>(54 + palette.size());
        const auto rowsSize = static_cast<std::size_t>(rowBytes) * height;
        Bytes file(offset + rowsSize, 0);
        file[0] = 'B', file[1] = 'M';
        StoreU32LE(&file[2], static_cast<std::uint32_t>(file.size()));
        StoreU32LE(&file[10], offset);
        StoreU32LE(&file[14], 40);
        StoreI32LE(&file[18], width);
        StoreI32LE(&file[22], height);
        StoreU16LE(&file[26], 1);
        StoreU16LE(&file[28], static_cast<std::uint16_t>(bitCount));
        std::copy(palette.begin(), palette.end(), file.begin() + 54);
        const Bytes rows = noise(rowsSize);
        std::copy(rows.begin(), rows.end(), file.begin() + offset);
        return file;
    };
    // A true-colour TGA (image type 2, or 10 with every packet a run of two pixels).
    const auto tga = [&noise](int depth, int width, int height, bool isRunLength) {
        Bytes file(18, 0);
        file[2] = static_cast<std::uint8_t>(isRunLength ? 10 : 2);
        StoreU16LE(&file[12], static_cast<std::uint16_t>(width));
        StoreU16LE(&file[14], static_cast<std::uint16_t>(height));
        file[16] = static_cast<std::uint8_t>(depth);
        file[17] = static_cast<std::uint8_t>(depth == 32 ? 8 : 0);
        const std::size_t pixelBytes = static_cast<std::size_t>(depth + 7) / 8;
        const std::size_t pixelCount = static_cast<std::size_t>(width) * height;
        for (std::size_t done = 0; done < pixelCount; done += isRunLength ? 2 : pixelCount) {
            if (isRunLength) file.push_back(0x81);
            const Bytes pixels = noise(isRunLength ? pixelBytes : pixelBytes * pixelCount);
            file.insert(file.end(), pixels.begin(), pixels.end());
        }
        return file;
    };
    const auto tiff = [&noise](Layout layout) {
        std::vector<Bytes> rows(layout.height);
        for (Bytes& row : rows) {
            row = noise(layout.width * layout.samplesPerPixel * layout.bitsPerSample / 8);
        }
        return WriteTiff(layout, rows);
    };
    jpeg_reference::EncodeSettings jpegSettings;
    jpegSettings.width = 8;
    jpegSettings.height = 8;

    struct Case {
        const char* what;
        Bytes file;
    };
    const Case cases[] = {
        {"jpeg", jpeg_reference::Encode(jpegSettings, noise(8 * 8 * 4))},
        {"tiff rgb",
         tiff({.width = 5, .height = 3, .samplesPerPixel = 3, .photometric = PHOTOMETRIC_RGB})},
        {"tiff associated alpha", tiff({.width = 4,
                                        .height = 4,
                                        .samplesPerPixel = 4,
                                        .photometric = PHOTOMETRIC_RGB,
                                        .extraSamples = {EXTRASAMPLE_ASSOCALPHA}})},
        {"tiff unassociated alpha", tiff({.width = 4,
                                          .height = 4,
                                          .samplesPerPixel = 4,
                                          .photometric = PHOTOMETRIC_RGB,
                                          .extraSamples = {EXTRASAMPLE_UNASSALPHA}})},
        {"tiff rgb of 16 bits", tiff({.width = 3,
                                      .height = 3,
                                      .bitsPerSample = 16,
                                      .samplesPerPixel = 3,
                                      .photometric = PHOTOMETRIC_RGB})},
        {"tiff grey", tiff({.width = 6, .height = 2})},
        {"bmp 16 bits", bmp(16, 5, 3)},
        {"bmp 24 bits", bmp(24, 5, 3)},
        {"bmp 32 bits", bmp(32, 4, 4)},
        {"bmp 8 bits", bmp(8, 6, 2)},
        {"tga 16 bits", tga(16, 5, 3, false)},
        {"tga 24 bits", tga(24, 5, 3, false)},
        {"tga 32 bits", tga(32, 4, 4, false)},
        {"tga 32 bits run-length", tga(32, 4, 4, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.file.empty());
        const auto load = [&c](std::uint8_t dirt) {
            // Four free slots of every pooled size, the result's among them, hold dirt.
            std::vector<void*> slots;
            for (std::uint32_t size = 4; size <= 256; size += 4) {
                slots.push_back(PrivateAlloc(size));
                std::memset(slots.back(), dirt, size);
            }
            for (void* slot : slots) PrivateFree(slot);
            std::int32_t width = 0, height = 0, stride = 0;
            std::uint8_t* pixels = nullptr;
            bool premultiplied = false;
            std::string error;
            const std::int32_t code = LoadImageFile("argb", width, pixels, "", c.file.data(),
                                                    static_cast<std::int32_t>(c.file.size()),
                                                    premultiplied, height, stride, error);
            EXPECT_EQ(code, 0) << error;
            if (code != 0) return Bytes{};
            Bytes result(pixels, pixels + static_cast<std::size_t>(stride) * height);
            PrivateFree(pixels);
            return result;
        };
        const Bytes overZeros = load(0x00);
        const Bytes overOnes = load(0xFF);
        EXPECT_EQ(overZeros, overOnes);

        PLAnyBmp decoded;
        PLAnyPicDecoder().MakeBmpFromMemory(c.file.data(), static_cast<std::int32_t>(c.file.size()),
                                            decoded);
        PLAnyBmp argb;
        argb.CreateCopy(decoded, PLPixelFormat::A8R8G8B8);
        Bytes library;
        for (std::int32_t y = 0; y < argb.GetHeight(); ++y) {
            library.insert(library.end(), argb.GetLineArray()[y],
                           argb.GetLineArray()[y] + 4 * argb.GetWidth());
        }
        EXPECT_EQ(overZeros, library);
    }
}

TEST_F(LoadImageFileTest, GreyscaleFromColourGreyAndBilevel) {
    TempFolder folder;
    struct Case {
        const char* name;
        Bytes file;
        Bytes grey;
    };
    const Case cases[] = {
        {"rgb.tif",
         WriteTiff({.width = 2, .samplesPerPixel = 3, .photometric = PHOTOMETRIC_RGB},
                   {{255, 255, 255, 255, 0, 0}}),
         {255, 54}},
        {"grey.tif", WriteTiff({.width = 2}, {{7, 200}}), {7, 200}},
        {"bilevel.tif",
         WriteTiff({.width = 10, .bitsPerSample = 1}, {{0xA0, 0x40}}),
         {255, 0, 255, 0, 0, 0, 0, 0, 0, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteBytes(folder, c.name, c.file);
        std::int32_t width = 0, height = 0;
        std::uint8_t* pixels = nullptr;
        std::string error;
        ASSERT_EQ(LoadGrayscaleImage(height, error, pixels, width, path), 0) << error;
        EXPECT_EQ(Bytes(pixels, pixels + width * height), c.grey);
        PrivateFree(pixels);
    }
}

TEST_F(SaveImageFileTest, TiffAndBmpByExtension) {
    TempFolder folder;
    Bytes pixels = Words({0x80C86432, 0xFF0A141E, 0x40102030, 0x00000000, 0xFFFFFFFF, 0xFF000000,
                          0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00});
    for (const bool premultiplied : {false, true}) {
        SCOPED_TRACE(premultiplied);
        const std::string path = (folder.Path() / "picture.TIFF").string();
        std::uint8_t* source = pixels.data();
        std::string error;
        ASSERT_EQ(
            SaveImageFile(source, 5, 2, path, true, 0, true, 0, 0, error, false, premultiplied, 20),
            0)
            << error;
        std::int32_t result = -1;
        EXPECT_EQ(ImageAlphaIsPremultiplied(result, path, error), premultiplied);
        EXPECT_EQ(result, 0);
        std::int32_t width = 0, height = 0, stride = 0;
        std::uint8_t* loaded = nullptr;
        bool isPremultiplied = !premultiplied;
        ASSERT_EQ(LoadImageFile("argb", width, loaded, path, nullptr, 0, isPremultiplied, height,
                                stride, error),
                  0);
        EXPECT_EQ(isPremultiplied, premultiplied);
        if (premultiplied) {
            EXPECT_EQ(Bytes(loaded, loaded + 40), pixels);
        }
        PrivateFree(loaded);
    }

    // BMP: 24-bit rows of 15 pixel bytes and one filler, bottom-up.
    const std::string bmpPath = (folder.Path() / "picture.bmp").string();
    std::uint8_t* source = pixels.data();
    std::string error;
    ASSERT_EQ(SaveImageFile(source, 5, 2, bmpPath, false, 0, false, 0, 0, error, false, false, 20),
              0);
    const Bytes bmp = ReadFileBytes(bmpPath);
    ASSERT_EQ(bmp.size(), 54u + 2 * 16);
    EXPECT_EQ(LoadU32LE(&bmp[2]), bmp.size());
    EXPECT_EQ(LoadU32LE(&bmp[10]), 54u);
    EXPECT_EQ(Bytes(bmp.begin() + 57, bmp.begin() + 60), (Bytes{0x44, 0x33, 0x22}));  // (1,1)
    EXPECT_EQ(bmp[54 + 15], 0);
    EXPECT_EQ(Bytes(bmp.begin() + 70, bmp.begin() + 73), (Bytes{0x32, 0x64, 0xC8}));  // (0,0)

    // The checksum covers the decoded rows in the file's own format.
    std::int32_t result = 0;
    EXPECT_EQ(ImageFileChecksum((folder.Path() / "none.tif").string()), 0u);
    const Bytes deflate = WriteTiff({.width = 1, .compression = COMPRESSION_ADOBE_DEFLATE}, {{9}});
    const std::string deflatePath = WriteBytes(folder, "deflate.tif", deflate);
    EXPECT_FALSE(ImageAlphaIsPremultiplied(result, deflatePath, error));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(error, "Morvane does not support this TIF compression format.");
    const std::uint8_t grey = 9;
    EXPECT_EQ(ImageFileChecksum(deflatePath), Crc32(&grey, 1));
}

TEST_F(SaveImageFileTest, JpegByExtensionWithQualityKeptIn1To100) {
    TempFolder folder;
    const Bytes pixels = jpeg_reference::TestPixels(16, 8, 4);
    struct Case {
        std::int32_t quality;
        int written;
    };
    const Case cases[] = {{0, 1}, {-5, 1}, {75, 75}, {100, 100}, {150, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quality);
        const std::string path = (folder.Path() / "picture.JPG").string();
        Bytes copy = pixels;
        std::uint8_t* source = copy.data();
        std::string error;
        ASSERT_EQ(SaveImageFile(source, 16, 8, path, false, c.quality, true, 0, 0, error, false,
                                false, 64),
                  0)
            << error;
        const Bytes file = ReadFileBytes(path);
        EXPECT_EQ(jpeg_reference::FirstQuantTable(file), jpeg_reference::QuantTable(c.written));

        std::int32_t width = 0, height = 0, stride = 0;
        std::uint8_t* loaded = nullptr;
        bool isPremultiplied = true;
        ASSERT_EQ(LoadImageFile("argb", width, loaded, path, nullptr, 0, isPremultiplied, height,
                                stride, error),
                  0)
            << error;
        EXPECT_EQ(width, 16);
        EXPECT_EQ(height, 8);
        EXPECT_FALSE(isPremultiplied);
        for (int i = 3; i < 16 * 8 * 4; i += 4) ASSERT_EQ(loaded[i], 255) << i;
        PrivateFree(loaded);
    }
}

TEST_F(SaveImageFileTest, FailedOrUnsupportedSavesLeaveTheTargetAlone) {
    TempFolder folder;
    Bytes pixels = Words({0xFF102030});
    struct Case {
        const char* name;
        std::int32_t code;
        std::string message;
    };
    const Case cases[] = {
        {"picture.png", 4, "This image file format is not supported."},
        {"picture", 4, "This image file format is not supported."},
        {"missing/picture.bmp", 3, "File not found or file access denied."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (folder.Path() / c.name).string();
        const bool isMissingFolder = std::string(c.name).find('/') != std::string::npos;
        if (!isMissingFolder) folder.WriteFile(c.name, "old contents");
        std::uint8_t* source = pixels.data();
        std::string error;
        EXPECT_EQ(SaveImageFile(source, 1, 1, path, false, 0, false, 0, 0, error, false, false, 4),
                  c.code);
        EXPECT_EQ(error, c.message);
        if (!isMissingFolder) {
            const Bytes kept = ReadFileBytes(path);
            EXPECT_EQ(std::string(kept.begin(), kept.end()), "old contents");
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              2)
        << "a temporary file was left behind";

    // A released buffer is freed and the caller's pointer cleared.
    auto* owned = static_cast<std::uint8_t*>(PrivateAlloc(4));
    StoreU32LE(owned, 0xFF102030);
    std::string error;
    EXPECT_EQ(SaveImageFile(owned, 1, 1, (folder.Path() / "p.bmp").string(), false, 0, false, 0, 0,
                            error, true, false, 4),
              0);
    EXPECT_EQ(owned, nullptr);
}

TEST_F(SaveImageFileTest, TintsAreAppliedToTheSavedCopy) {
    TempFolder folder;
    // Blue 100, green 200, red 50.
    Bytes pixels = Words({0xFF32C864});
    struct Case {
        std::int32_t mode;
        std::int32_t strength;
        Bytes bgr;
    };
    const Case cases[] = {
        // t = 200; blue: 255 - 2 * 155 * 55 / 255 = 189; green 255 - 2 * 55 * 55 / 255 = 232;
        // red 255 - 2 * 205 * 55 / 255 = 167.
        {1, 100, {189, 232, 167}},
        {1, 130, {189, 232, 167}},  // strengths above 100 count as 100
        // Lightening, k = 0: blend = 0.5 * s + 0.5 with s = 72 / 128, so v = 55 and blue
        // becomes 255 - 155 * 55 / 255 = 222.
        {4, 0, {222, 244, 211}},
        {9, 50, {100, 200, 50}},  // unknown modes leave the pixels
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string path = (folder.Path() / "tinted.bmp").string();
        std::uint8_t* source = pixels.data();
        std::string error;
        ASSERT_EQ(SaveImageFile(source, 1, 1, path, false, 0, false, c.mode, c.strength, error,
                                false, false, 4),
                  0);
        const Bytes bmp = ReadFileBytes(path);
        EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.begin() + 57), c.bgr);
    }
    EXPECT_EQ(pixels, Words({0xFF32C864})) << "the caller's pixels were tinted";
}

TEST_F(ImageFileTest, PremultiplyAlphaScalesColoursOnly) {
    Bytes pixels = Words({0x80C86432, 0x00FFFFFF});
    PremultiplyAlpha(pixels.data(), 2, 1);
    EXPECT_EQ(pixels, Words({0x80643219, 0x00000000}));
}

// The front end's resample is the library's Gaussian resize of radius 0.5, to the bit,
// growing and shrinking, with rows packed or wider than the image.
TEST_F(ResampleImageTest, MatchesTheGaussianFilterBitForBit) {
    struct Case {
        std::int32_t width, height, stride, newWidth, newHeight;
    };
    const Case cases[] = {
        {7, 5, 0, 12, 9}, {16, 12, 0, 5, 3}, {9, 4, 64, 9, 11}, {1, 1, 4, 3, 2}, {6, 8, 0, 6, 8},
    };
    CrtSrand(11);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        const std::int32_t stride = c.stride != 0 ? c.stride : 4 * c.width;
        Bytes pixels(static_cast<std::size_t>(stride) * c.height);
        for (std::uint8_t& b : pixels) b = static_cast<std::uint8_t>(CrtRand());

        PLAnyBmp source;
        source.CreateFromData(c.width, c.height, PLPixelFormat::A8R8G8B8, pixels.data(), stride,
                              {0, 0});
        PLAnyBmp expected;
        PLFilterResizeGaussian(c.newWidth, c.newHeight, 0.5).Apply(source, expected);

        ResampledImage out;
        std::string errorText;
        ASSERT_EQ(ResampleImage(pixels.data(), c.width, c.height, c.stride, c.newWidth,
                                c.newHeight, out, errorText),
                  ImageFileOk);
        ASSERT_EQ(out.width, c.newWidth);
        ASSERT_EQ(out.height, c.newHeight);
        ASSERT_EQ(out.words.size(), static_cast<std::size_t>(c.newWidth) * c.newHeight);
        for (std::int32_t y = 0; y < c.newHeight; ++y) {
            const std::size_t rowBytes = 4 * static_cast<std::size_t>(c.newWidth);
            EXPECT_EQ(std::memcmp(out.words.data() + static_cast<std::size_t>(y) * c.newWidth,
                                  expected.GetLineArray()[y], rowBytes),
                      0)
                << "row " << y;
        }
    }
}

// Sizes the library refuses come back as codes with its description; the output keeps what
// it held.
TEST_F(ResampleImageTest, UnusableSizesGiveCodesAndLeaveTheOutputAlone) {
    struct Case {
        const char* name;
        std::int32_t width, height, newWidth, newHeight;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"negative source", -2, 2, 4, 4, ImageFileBadSignature},
        {"negative target", 2, 2, 4, -4, ImageFileBadSignature},
        {"target too large to hold", 2, 2, 1 << 20, 1 << 20, ImageFileNoMemory},
    };
    const Bytes pixels = Words({0xFF000000, 0xFF0000FF, 0xFF00FF00, 0xFFFF0000});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResampledImage out;
        out.width = 3;
        out.words.assign(3, 0x12345678u);
        std::string errorText;
        EXPECT_EQ(ResampleImage(pixels.data(), c.width, c.height, 0, c.newWidth, c.newHeight,
                                out, errorText),
                  c.expected);
        EXPECT_FALSE(errorText.empty());
        EXPECT_EQ(out.width, 3);
        EXPECT_EQ(out.words, std::vector<std::uint32_t>(3, 0x12345678u));
    }
}

}  // namespace
