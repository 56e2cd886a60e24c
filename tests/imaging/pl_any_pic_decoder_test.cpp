#include "imaging/pl_any_pic_decoder.h"

#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_bmp_encoder.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_mem_source.h"
#include "imaging/pl_text_exception.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using decoder_test::Bytes;
using decoder_test::CodeOf;

Bytes FromText(const std::string& text, std::size_t size = 0) {
    Bytes bytes(text.begin(), text.end());
    if (bytes.size() < size) bytes.resize(size, 0);
    return bytes;
}

void PutU32LE(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A small format for exercising the framework: two signature bytes, width, height and
// bits per pixel (8 or 32) as single bytes, then the packed rows.
class TestDecoder : public PLPicDecoder {
public:
    void Open(PLDataSource* source) override {
        const std::uint8_t* header = source->ReadBytes(5);
        const PLPixelFormat format = header[4] == 8 ? PLPixelFormat::I8 : PLPixelFormat::X8R8G8B8;
        SetInfo({header[2], header[3]}, {72, 72}, format);
    }
    void GetImage(PLBmp& bmp) override {
        for (int y = 0; y < GetHeight(); ++y) {
            const std::uint8_t* row = GetDataSource()->ReadBytes(bmp.GetBytesPerLine());
            std::memcpy(bmp.GetLineArray()[y], row, static_cast<std::size_t>(bmp.GetBytesPerLine()));
        }
    }
};

Bytes TestImage(const char* signature, int width, int height, int bpp) {
    Bytes bytes = FromText(signature);
    bytes.push_back(static_cast<std::uint8_t>(width));
    bytes.push_back(static_cast<std::uint8_t>(height));
    bytes.push_back(static_cast<std::uint8_t>(bpp));
    for (int i = 0; i < width * height * bpp / 8; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
    return bytes;
}

// Registers the test decoder for a file type for the life of the object.
class DecoderScope {
public:
    explicit DecoderScope(PLFileType decoderType)
        : type(decoderType), old(PLRegisterFormatDecoder(type, &PLMakeDecoder<TestDecoder>)) {}
    ~DecoderScope() { PLRegisterFormatDecoder(type, old); }

private:
    PLFileType type;
    PLDecoderFactory old;
};

TEST(PLAnyPicDecoder, DetectsEachFileTypeBySignature) {
    Bytes pict(600, 0);
    pict[522] = 0x00, pict[523] = 0x11, pict[524] = 0x02, pict[525] = 0xFF;
    Bytes pictShort = pict;
    pictShort.resize(540);
    Bytes pictVersion1(600, 0);
    pictVersion1[522] = 0x11, pictVersion1[523] = 0x01, pictVersion1[524] = 0x01;
    Bytes eps = FromText("\xC5\xD0\xD3\xC6", 40);
    PutU32LE(eps, 20, 30);
    PutU32LE(eps, 24, 10);
    Bytes epsNoOffset = eps;
    PutU32LE(epsNoOffset, 20, 0);
    Bytes tga(18, 0);
    tga[2] = 2, tga[16] = 24;
    Bytes tgaBadDepth = tga;
    tgaBadDepth[16] = 12;
    Bytes tgaShort = tga;
    tgaShort.resize(16);

    struct Case {
        const char* what;
        Bytes data;
        PLFileType type;
    };
    const std::vector<Case> cases = {
        {"BM", FromText("BM"), PLFileTypeBmp},
        {"BA", FromText("BA"), PLFileTypeBmp},
        {"IC", FromText("IC"), PLFileTypeBmp},
        {"CI", FromText("CI"), PLFileTypeBmp},
        {"CP", FromText("CP"), PLFileTypeBmp},
        {"TGA", tga, PLFileTypeTga},
        {"TGA bad depth", tgaBadDepth, PLFileTypeUnknown},
        {"TGA too short", tgaShort, PLFileTypeUnknown},
        {"GIF", FromText("GIF89a"), PLFileTypeGif},
        {"TIFF II", FromText(std::string("II*\0", 4)), PLFileTypeTiff},
        {"TIFF MM", FromText(std::string("MM\0*", 4)), PLFileTypeTiff},
        {"TIFF cut", FromText("II*"), PLFileTypeUnknown},
        {"PICT", pict, PLFileTypePict},
        {"PICT 540 bytes", pictShort, PLFileTypeUnknown},
        {"PICT version 1", pictVersion1, PLFileTypePict},
        {"JPEG", FromText("\xFF\xD8\xFF\xE0"), PLFileTypeJpeg},
        {"PNG", FromText("\x89PNG\r\n"), PLFileTypePng},
        {"EPS", eps, PLFileTypeEpsTiff},
        {"EPS without TIFF", epsNoOffset, PLFileTypeUnknown},
        {"PCX", FromText("\x0A\x05\x01\x08"), PLFileTypePcx},
        {"PGM P2", FromText("P2\n"), PLFileTypePgm},
        {"PGM P5", FromText("P5\n"), PLFileTypePgm},
        {"PPM P3", FromText("P3\n"), PLFileTypePpm},
        {"PPM P6", FromText("P6\n"), PLFileTypePpm},
        {"PSD", FromText("8BPS"), PLFileTypePsd},
        {"SGI", FromText("\x01\xDA\x01"), PLFileTypeSgi},
        {"IFF", FromText("FORM"), PLFileTypeIff},
        {"100 zeros", Bytes(100, 0), PLFileTypeUnknown},
        {"one byte", FromText("B"), PLFileTypeUnknown},
        {"nothing", Bytes(), PLFileTypeUnknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // An exact-size copy lets the sanitizer build catch any read past the data.
        const Bytes exact = c.data;
        EXPECT_EQ(PLAnyPicDecoder::DetermineFileType(exact.data(),
                                                     static_cast<std::int32_t>(exact.size())),
                  c.type);
    }
}

TEST(PLAnyPicDecoder, TypesWithoutADecoderFailWithTheirCodes) {
    struct Case {
        const char* what;
        Bytes data;
        std::int32_t code;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"PNG", FromText("\x89PNG\r\n\x1a\n", 32), PLErrFormatNotCompiled,
         "Decoder error: Library not compiled for this file type.\n"},
        {"zeros", Bytes(100, 0), PLErrUnknownFileType, "Decoder error: Unknown file type.\n"},
        {"GIF", FromText("GIF89a", 20), PLErrFormatNotCompiled,
         "Decoder error: Library not compiled for this file type.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PLAnyPicDecoder decoder;
        PLAnyBmp bmp;
        std::string text;
        EXPECT_EQ(CodeOf([&] {
                      decoder.MakeBmpFromMemory(c.data.data(),
                                                static_cast<std::int32_t>(c.data.size()), bmp);
                  }, &text),
                  c.code);
        EXPECT_EQ(text, c.text);
    }
}

TEST(PLAnyPicDecoder, FormatsWithoutTheirDecoderFailAsNotBuiltIn) {
    const PLFileType types[] = {PLFileTypeBmp, PLFileTypeTga, PLFileTypeTiff, PLFileTypeJpeg,
                                PLFileTypePsd};
    Bytes tga(18, 0);
    tga[2] = 2, tga[16] = 24;
    const Bytes samples[] = {FromText("BM", 20), tga, FromText(std::string("II*\0", 4), 20),
                             FromText("\xFF\xD8\xFF", 20), FromText("8BPS", 20)};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const PLDecoderFactory old = PLRegisterFormatDecoder(types[i], nullptr);
        PLAnyPicDecoder decoder;
        PLAnyBmp bmp;
        EXPECT_EQ(CodeOf([&] { decoder.MakeBmpFromMemory(samples[i].data(), 20, bmp); }),
                  PLErrFormatNotCompiled);
        PLRegisterFormatDecoder(types[i], old);
    }
}

TEST(PLAnyPicDecoder, RegisteredDecoderReadsItsFormat) {
    DecoderScope scope(PLFileTypeBmp);
    const Bytes image = TestImage("BM", 3, 2, 32);
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(image.data(), static_cast<std::int32_t>(image.size()), bmp);
    EXPECT_EQ(decoder.GetFileType(), PLFileTypeBmp);
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::X8R8G8B8);
    EXPECT_EQ(bmp.GetSize(), (PLPoint{3, 2}));
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{72, 72}));
    EXPECT_EQ(bmp.GetLineArray()[1][0], 12);
    EXPECT_EQ(decoder.GetSize(), (PLPoint{3, 2}));
}

TEST(PLAnyPicDecoder, TruncatedInputsGiveEndOfData) {
    DecoderScope scope(PLFileTypeBmp);
    Bytes cutPixels = TestImage("BM", 4, 4, 32);
    cutPixels.resize(cutPixels.size() - 1);
    const Bytes inputs[] = {FromText("BM"), cutPixels};
    for (const Bytes& input : inputs) {
        SCOPED_TRACE(input.size());
        PLAnyPicDecoder decoder;
        PLAnyBmp bmp;
        std::string text;
        EXPECT_EQ(CodeOf([&] {
                      decoder.MakeBmpFromMemory(input.data(),
                                                static_cast<std::int32_t>(input.size()), bmp);
                  }, &text),
                  PLErrEndOfFile);
        EXPECT_EQ(text, "End of file reached while decoding.\n");
        // The decoder is closed again and serves the next image.
        const Bytes good = TestImage("BM", 1, 1, 8);
        decoder.MakeBmpFromMemory(good.data(), static_cast<std::int32_t>(good.size()), bmp);
        EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::I8);
    }
}

TEST(PLAnyPicDecoder, RequestedFormatNeedsMoreBitsThanTheImage) {
    DecoderScope scope(PLFileTypeBmp);
    const Bytes grey = TestImage("BM", 2, 2, 8);
    const Bytes colour = TestImage("BM", 2, 2, 32);
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(grey.data(), static_cast<std::int32_t>(grey.size()), bmp,
                              PLPixelFormat::A8R8G8B8);
    EXPECT_EQ(bmp.GetPixelFormat(), PLPixelFormat::A8R8G8B8);
    EXPECT_EQ(bmp.GetLineArray()[1][4], 3);  // grey index 3 through the grey palette

    std::string text;
    EXPECT_EQ(CodeOf([&] {
                  decoder.MakeBmpFromMemory(colour.data(), static_cast<std::int32_t>(colour.size()),
                                            bmp, PLPixelFormat::I8);
              }, &text),
              PLErrFormatNotSupported);
    EXPECT_EQ(text, "Decoder error: Image bit depth doesn't match request.\n");
    // The same depth in another name is refused too.
    EXPECT_EQ(CodeOf([&] {
                  decoder.MakeBmpFromMemory(colour.data(), static_cast<std::int32_t>(colour.size()),
                                            bmp, PLPixelFormat::A8R8G8B8);
              }),
              PLErrFormatNotSupported);
}

TEST(PLAnyPicDecoder, EpsIsReadFromItsTiffPreview) {
    DecoderScope scope(PLFileTypeTiff);
    const Bytes preview = TestImage("II", 2, 1, 8);
    Bytes eps(30 + preview.size(), 0);
    PutU32LE(eps, 0, 0xC6D3D0C5);
    PutU32LE(eps, 20, 30);
    PutU32LE(eps, 24, static_cast<std::uint32_t>(preview.size()));
    std::copy(preview.begin(), preview.end(), eps.begin() + 30);
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    decoder.MakeBmpFromMemory(eps.data(), static_cast<std::int32_t>(eps.size()), bmp);
    EXPECT_EQ(decoder.GetFileType(), PLFileTypeEpsTiff);
    EXPECT_EQ(bmp.GetSize(), (PLPoint{2, 1}));

    PutU32LE(eps, 20, 0x7FFFFFF0);
    EXPECT_EQ(CodeOf([&] {
                  decoder.MakeBmpFromMemory(eps.data(), static_cast<std::int32_t>(eps.size()), bmp);
              }),
              PLErrEndOfFile);
}

TEST(PLPicDecoder, InputsThatCannotBeOpenedNameThemselves) {
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    std::string text;
    const std::string missing = std::string(ORBELLE_TEST_DATA_DIR) + "/missing.bmp";
    EXPECT_EQ(CodeOf([&] { decoder.MakeBmpFromFile(missing, bmp); }, &text), PLErrFileNotFound);
    EXPECT_EQ(text, "Decoder error: Opening " + missing + " failed\n");
    EXPECT_EQ(CodeOf([&] { decoder.MakeBmpFromResource(nullptr, 7, bmp); }, &text),
              PLErrFileNotFound);
    EXPECT_EQ(text, "Decoder error: Opening resource 7 failed\n");
    EXPECT_EQ(CodeOf([&] { decoder.MakeBmpFromURL("http://x/y.bmp", bmp); }, &text),
              PLErrFormatNotCompiled);
    EXPECT_EQ(text, "Decoder error: URL support not compiled into library.\n");
}

// A file whose name is not ASCII decodes through the wide-name call exactly as through the
// narrow one, the narrow call's lookup (either separator, other case) included.
TEST(PLPicDecoder, NonAsciiNameDecodesThroughTheWideForm) {
    TempFolder folder;
    PLAnyBmp image;
    image.CreateFromData(3, 2, PLPixelFormat::X8R8G8B8, nullptr, 0, {72, 72});
    for (int i = 0; i < 6; ++i) image.GetBits()[4 * i + 1] = static_cast<std::uint8_t>(40 * i);
    const std::string folderName = folder.Str();
    const std::u16string wideFolder(folderName.begin(), folderName.end());
    const std::string narrow = folderName + "/Sch\xC3\xB6n-\xE5\x9C\xB0\xF0\x9F\x98\x80.bmp";
    PLBmpEncoder().MakeFileFromBmpW(wideFolder + u"/Sch\u00F6n-\u5730\U0001F600.bmp", image);

    PLAnyPicDecoder decoder;
    PLAnyBmp fromNarrow;
    decoder.MakeBmpFromFile(narrow, fromNarrow);
    for (const std::u16string& wide : {wideFolder + u"/Sch\u00F6n-\u5730\U0001F600.bmp",
                                       wideFolder + u"\\SCH\u00F6N-\u5730\U0001F600.BMP"}) {
        PLAnyBmp fromWide;
        decoder.MakeBmpFromFileW(wide, fromWide);
        EXPECT_EQ(fromWide.GetPixelFormat(), fromNarrow.GetPixelFormat());
        EXPECT_EQ(decoder_test::Pixels(fromWide), decoder_test::Pixels(fromNarrow));
    }
    EXPECT_EQ(decoder_test::Pixels(fromNarrow).size(), 24u);

    // A surrogate without its pair names no file; the message shows it replaced.
    PLAnyBmp bmp;
    std::string text;
    const std::u16string broken = wideFolder + u"/a" + char16_t(0xD800) + u".bmp";
    EXPECT_EQ(CodeOf([&] { decoder.MakeBmpFromFileW(broken, bmp); }, &text), PLErrFileNotFound);
    EXPECT_EQ(text, "Decoder error: Opening " + folderName + "/a\xEF\xBF\xBD.bmp failed\n");
    EXPECT_EQ(CodeOf([&] { decoder.MakeBmpFromFileW(std::u16string(1000, u'a'), bmp); }, &text),
              PLErrFileNotFound);
    EXPECT_EQ(text, "Decoder error: Opening {{Filename too long}} failed\n");
}

// A format the library does not know is read by a decoder from the factory list, which is
// empty unless something adds a factory.
TEST(PLAnyPicDecoder, FactoryListReadsDataOfUnknownType) {
    class TestFactory : public PLPicDecoderFactory {
    public:
        bool CanDecode(const std::uint8_t* data, std::int32_t size) const override {
            ++askedCount;
            return size >= 2 && data[0] == 'Q' && data[1] == 'Z';
        }
        std::unique_ptr<PLPicDecoder> CreateDecoder() const override {
            return std::make_unique<TestDecoder>();
        }
        mutable int askedCount = 0;
    };
    ASSERT_EQ(PLDecoderFactoryCount(), 0u);
    const Bytes image = TestImage("QZ", 2, 1, 8);
    PLAnyPicDecoder decoder;
    PLAnyBmp bmp;
    const auto decode = [&](const Bytes& file) {
        return CodeOf([&] {
            decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
        });
    };
    EXPECT_EQ(decode(image), PLErrUnknownFileType);

    TestFactory other;
    TestFactory factory;
    PLAddDecoderFactory(other);
    PLAddDecoderFactory(factory);
    PLAddDecoderFactory(factory);
    EXPECT_EQ(PLDecoderFactoryCount(), 2u);
    EXPECT_EQ(decode(image), 0);
    EXPECT_EQ(decoder.GetFileType(), PLFileTypeUnknown);
    EXPECT_EQ(decoder_test::Pixels(bmp), (Bytes{0, 1}));
    EXPECT_EQ(bmp.GetResolution(), (PLPoint{72, 72}));
    // Data the factories do not take, and data of a known type, are not theirs.
    EXPECT_EQ(decode(TestImage("ZZ", 2, 1, 8)), PLErrUnknownFileType);
    const int askedBefore = factory.askedCount;
    EXPECT_EQ(decode(FromText("\x89PNG", 16)), PLErrFormatNotCompiled);
    EXPECT_EQ(factory.askedCount, askedBefore);

    PLRemoveDecoderFactory(other);
    PLRemoveDecoderFactory(factory);
    EXPECT_EQ(PLDecoderFactoryCount(), 0u);
    EXPECT_EQ(decode(image), PLErrUnknownFileType);
}

TEST(PLPicDecoder, CorruptFilesFailCleanly) {
    struct Case {
        const char* file;
        std::int32_t code;          // the code without the format's decoder
        PLFileType decoderType;     // unknown: the code does not depend on a decoder
    };
    const Case cases[] = {
        {"zeros_100.bin", PLErrUnknownFileType, PLFileTypeUnknown},
        {"signature_png.png", PLErrFormatNotCompiled, PLFileTypeUnknown},
        {"signature_gif.gif", PLErrFormatNotCompiled, PLFileTypeUnknown},
        {"signature_pcx.pcx", PLErrFormatNotCompiled, PLFileTypeUnknown},
        {"eps_tiff_offset_past_end.eps", PLErrEndOfFile, PLFileTypeUnknown},
        {"eps_tiff_offset_zero.eps", PLErrUnknownFileType, PLFileTypeUnknown},
        {"empty.bin", PLErrAccessDenied, PLFileTypeUnknown},
        {"truncated_bmp.bmp", PLErrFormatNotCompiled, PLFileTypeBmp},
        {"truncated_tiff.tif", PLErrFormatNotCompiled, PLFileTypeTiff},
        {"truncated_jpeg.jpg", PLErrFormatNotCompiled, PLFileTypeJpeg},
        {"truncated_psd.psd", PLErrFormatNotCompiled, PLFileTypePsd},
        {"truncated_tga.tga", PLErrFormatNotCompiled, PLFileTypeTga},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        PLAnyPicDecoder decoder;
        PLAnyBmp bmp;
        const std::int32_t code = CodeOf([&] {
            decoder.MakeBmpFromFile(std::string(ORBELLE_TEST_DATA_DIR) + "/" + c.file, bmp);
        });
        if (c.decoderType != PLFileTypeUnknown && PLFormatDecoderFactory(c.decoderType)) {
            // With its decoder built in, a cut file is a corrupt or short file; libjpeg
            // reports every fault with code 6.
            EXPECT_TRUE(code == PLErrWrongSignature || code == PLErrFormatUnknown ||
                        code == PLErrEndOfFile ||
                        (c.decoderType == PLFileTypeJpeg && code == PLErrFormatNotSupported))
                << code;
        } else {
            EXPECT_EQ(code, c.code);
        }
    }
}

TEST(UnpackPackBits, ExpandsRunsAndRefusesOverruns) {
    struct Case {
        const char* what;
        Bytes packed;
        std::int32_t unpackedSize;
        Bytes expected;  // empty: expect the error code
        std::int32_t code;
    };
    const std::vector<Case> cases = {
        {"literal and repeat", {2, 'a', 'b', 'c', 0xFD, 'x', 128, 1, 'd', 'e'}, 10,
         FromText("abcxxxxde", 10), 0},
        {"short data leaves zeros", {0xFE, 'z'}, 8, FromText("zzz", 8), 0},
        {"repeat past the row", {0x81, 'q'}, 8, {}, PLErrWrongSignature},
        {"literal past the row", {8, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 8, {}, PLErrWrongSignature},
        {"literal past the data", {5, 1, 2}, 8, {}, PLErrEndOfFile},
        {"repeat without its byte", {0xFE}, 8, {}, PLErrEndOfFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PLMemSource source;
        ASSERT_EQ(source.Open(c.packed.data(), static_cast<std::int32_t>(c.packed.size())), 0);
        Bytes dest(static_cast<std::size_t>(c.unpackedSize), 0xEE);
        if (c.expected.empty()) {
            EXPECT_EQ(CodeOf([&] {
                          UnpackPackBits(dest.data(), source, c.unpackedSize,
                                         static_cast<std::int32_t>(c.packed.size()));
                      }),
                      c.code);
            continue;
        }
        EXPECT_EQ(UnpackPackBits(dest.data(), source, c.unpackedSize,
                                 static_cast<std::int32_t>(c.packed.size())),
                  dest.data());
        EXPECT_EQ(dest, c.expected);
    }
    // Rows below 8 bytes are stored raw and read in place.
    const Bytes raw = {1, 2, 3};
    PLMemSource source;
    ASSERT_EQ(source.Open(raw.data(), 3), 0);
    EXPECT_EQ(UnpackPackBits(nullptr, source, 3, 99), raw.data());
    EXPECT_EQ(source.GetBytesLeft(), 0);
    // A packed size beyond the source is end of data.
    source.Seek(0);
    Bytes dest(8);
    EXPECT_EQ(CodeOf([&] { UnpackPackBits(dest.data(), source, 8, 4); }), PLErrEndOfFile);
}

}  // namespace
