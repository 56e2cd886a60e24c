#include "texture/texture_xml.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/xml_document.h"
#include "core/xml_values.h"
#include "imaging/image_file.h"
#include "imaging/image_mem_stream.h"
#include "texture/object_tex.h"
#include "texture_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

class TextureXmlTest : public TextureDocumentTest {
protected:
    // A type-1 texture with a width x height image, its default mapping and a bump map.
    QTexture* FullTexture(int width = 16, int height = 12) {
        QTexture* texture = NewTexture();
        texture->name = "Bark & <moss>";
        TextureParams& p = *texture->params;
        p.spf = 0.1;
        p.glv = 0.3;
        p.glc = 0x123456;
        p.on = 1;
        p.Bump = -12;
        p.d = 1;
        p.ta = 1.0;
        p.taR = 0.5;
        p.transform.m[5] = 0.7;
        p.transform.m[4] = 2.5;
        QTextureImage* image = GiveImage(*texture, width, height, true);
        image->forceAlpha = 1;
        image->imageName = "maps\\bark.tif";
        const auto bump = PatternBytes(width, height);
        EXPECT_EQ(image->SetBumpMap(bump.data(), width, height, {}), 0);
        EXPECT_NE(p.mapping, nullptr);
        return texture;
    }

    static std::string Write(QTexture& texture) {
        XmlDocument xml;
        EXPECT_EQ(WriteTextureXml(texture, xml, false), 0);
        return xml.Text();
    }

    // Reads the first texture element of text into a new texture of the document.
    QTexture* Read(const std::string& text, std::int16_t expected = 0) {
        XmlDocument xml(text);
        QTexture* texture = NewTexture();
        EXPECT_EQ(ReadTextureXml(&document, xml, *texture, false, false), expected);
        return texture;
    }

    // The data of the first element named `name` in text.
    static std::string DataOf(const std::string& text, const std::string& name) {
        const auto open = text.find("<" + name + ">");
        const auto close = text.find("</" + name + ">");
        if (open == std::string::npos || close == std::string::npos) return {};
        return text.substr(open + name.size() + 2, close - open - name.size() - 2);
    }

    // Reads the first texture element of text into texture with the private heap capped at
    // extra bytes above what it holds; empty when the heap ran out. nextExtra receives the
    // smallest cap that lets through the first request this one refused (0 when none was):
    // every cap from extra up to it fails the read at the same request.
    std::optional<std::int16_t> ReadUnder(const std::string& text, QTexture& texture,
                                          std::size_t extra, std::size_t& nextExtra) {
        XmlDocument xml(text);
        const std::size_t held = PrivateHeapBytesInUse();
        PrivateHeapSetCeiling(held + extra);
        std::optional<std::int16_t> result;
        try {
            result = ReadTextureXml(&document, xml, texture, false, false);
        } catch (const KVOutOfMemoryException&) {
            result.reset();
        }
        const std::size_t refusedTotal = PrivateHeapFirstRefusedTotal();
        nextExtra = refusedTotal == 0 ? 0 : refusedTotal - held;
        PrivateHeapSetCeiling(0);
        return result;
    }

    static void ReplaceFirst(std::string& text, const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    }
};

TEST_F(TextureXmlTest, WriteReadWriteGivesIdenticalBytes) {
    const std::string first = Write(*FullTexture());
    QDocumentBase other;
    SetCurrentDocument(&other);
    XmlDocument xml(first);
    auto* texture = AddNewTexture(other);
    ASSERT_EQ(ReadTextureXml(&other, xml, *texture, false, false), 0);
    EXPECT_EQ(xml.GetElementName(xml.CurrentPosition()), "KV_TEXTURE");
    EXPECT_EQ(Write(*texture), first);
    EXPECT_EQ(texture->name, "Bark & <moss>");
    EXPECT_EQ(texture->Image()->forceAlpha, 1);
    EXPECT_EQ(texture->params->Bump, -12);
    EXPECT_EQ(texture->params->glc, 0x123456u);
    EXPECT_EQ(texture->params->transform.m[4], 2.5);
    ASSERT_NE(dynamic_cast<VersaTex*>(texture->params->mapping.get()), nullptr);
    EXPECT_TRUE(texture->params->mapping->IsUsable()) << "a saved mapping read whole is usable";
    EXPECT_NE(first.find("<iName>maps\\bark.tif</iName>"), std::string::npos);
    EXPECT_EQ(texture->Image()->imageName, "maps\\bark.tif");
    SetCurrentDocument(&document);
}

TEST_F(TextureXmlTest, FloatsComeBackAsTheSinglesWritten) {
    const std::string text = Write(*FullTexture());
    EXPECT_NE(text.find("spf=\"" + FloatToBase64(0.1f) + "\""), std::string::npos);
    QTexture* texture = Read(text);
    EXPECT_EQ(texture->params->spf, static_cast<double>(0.1f));
    EXPECT_EQ(texture->params->glv, static_cast<double>(0.3f));
    EXPECT_EQ(texture->params->transform.m[5], static_cast<double>(0.7f));
}

// The glow switch and colour are written as signed decimals of their bits and read back
// to the same bits.
TEST_F(TextureXmlTest, GlowSwitchAndColourAreSignedDecimals) {
    QTexture* texture = FullTexture();
    texture->params->on = 200;
    texture->params->glc = 0xFF123456u;
    const std::string text = Write(*texture);
    EXPECT_NE(text.find("<Glow on=\"-56\" glv=\"" + FloatToBase64(0.3f) + "\" glc=\"-15584170\"/>"),
              std::string::npos);
    QTexture* reread = Read(text);
    EXPECT_EQ(reread->params->on, 200);
    EXPECT_EQ(reread->params->glc, 0xFF123456u);
}

// A minimal reading of the first IFD: the value of one short tag.
std::uint32_t TiffTag(const std::vector<std::uint8_t>& tiff, std::uint16_t tag) {
    if (tiff.size() < 8 || tiff[0] != 'I' || tiff[1] != 'I') return 0;
    const std::uint32_t ifd = LoadU32LE(tiff.data() + 4);
    const std::uint16_t count = LoadU16LE(tiff.data() + ifd);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = tiff.data() + ifd + 2 + 12 * i;
        if (LoadU16LE(entry) == tag) return LoadU16LE(entry + 8);
    }
    return 0;
}

TEST_F(TextureXmlTest, ImageBlobIsAnLzwRgbaTiffOfTheColourPixels) {
    const std::string text = Write(*FullTexture());
    const std::vector<std::uint8_t> tiff = Base64Decode(DataOf(text, "ImgBuf"));
    EXPECT_EQ(TiffTag(tiff, 259), 5u) << "LZW";
    std::int32_t w = 0, h = 0, samples = 0;
    PrivateBlockPtr<std::uint8_t> pixels(DecodeTiffFromMemory(
        tiff.data(), static_cast<std::int32_t>(tiff.size()), "argb", w, h, samples));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 12);
    EXPECT_EQ(samples, 4);
    const auto expected = PatternPixels(16, 12);
    EXPECT_EQ(std::memcmp(pixels.get(), expected.data(), expected.size() * 4), 0);
}

TEST_F(TextureXmlTest, BumpBytesAndIdSurviveRepeatedSaves) {
    QTexture* texture = FullTexture();
    const std::uint32_t bumpId = texture->Image()->bumpId;
    std::string text = Write(*texture);
    for (int cycle = 0; cycle < 3; ++cycle) {
        QDocumentBase fresh;
        XmlDocument xml(text);
        auto* reread = AddNewTexture(fresh);
        ASSERT_EQ(ReadTextureXml(&fresh, xml, *reread, false, false), 0);
        EXPECT_EQ(reread->Image()->bumpId, bumpId) << cycle;
        std::int32_t w = 0, h = 0;
        auto bump = reread->Image()->CopyBumpBuffer(w, h);
        ASSERT_NE(bump, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(bump.get(), bump.get() + w * h), PatternBytes(16, 12));
        text = Write(*reread);
    }
}

TEST_F(TextureXmlTest, EqualPicturesShareOneImageOnlyWhenTheyMatch) {
    QTexture* plain = NewTexture();
    GiveImage(*plain, 4, 8, false);
    const std::string text = Write(*plain);
    EXPECT_EQ(Read(text)->Image(), plain->Image());

    // The same 32 words as an 8 x 4 picture give the same colour id but another image.
    QDocumentBase other;
    auto* wide = AddNewTexture(other);
    GiveImage(*wide, 8, 4, false);
    ASSERT_EQ(wide->Image()->colourId, plain->Image()->colourId);
    QTexture* fromWide = Read(Write(*wide));
    EXPECT_NE(fromWide->Image(), plain->Image());
    EXPECT_EQ(fromWide->Image()->width, 8);

    // A bump map on either side keeps the images apart.
    const auto bump = PatternBytes(4, 8);
    ASSERT_EQ(plain->Image()->SetBumpMap(bump.data(), 4, 8, {}), 0);
    QTexture* withBump = Read(Write(*plain));
    EXPECT_NE(withBump->Image(), plain->Image());
    QTexture* withoutBump = Read(text);
    EXPECT_NE(withoutBump->Image(), plain->Image());
}

TEST_F(TextureXmlTest, TypeZeroTextureKeepsItsImageAcrossSaveAndReload) {
    QTexture* texture = NewTexture(0);
    GiveImage(*texture, 6, 6, true);
    EXPECT_EQ(texture->params->mapping, nullptr);
    QDocumentBase other;
    XmlDocument xml(Write(*texture));
    auto* reread = AddNewTexture(other);
    ASSERT_EQ(ReadTextureXml(&other, xml, *reread, false, false), 0);
    EXPECT_EQ(reread->type, 0);
    ASSERT_NE(reread->Image(), nullptr);
    EXPECT_EQ(reread->params->image, reread->Image()->pyramid.get());
}

std::string Element(const std::string& children) {
    return "<KV_TEXTURE version=\"1.0\">\r\n" + children + "</KV_TEXTURE>\r\n";
}

std::string Float(float v) { return FloatToBase64(v); }

TEST_F(TextureXmlTest, TileRotationsAreCappedAndFixedWithoutTheFlag) {
    struct Case {
        const char* d;
        float ta, taR;
        double expectTa, expectTaR;
    };
    const double pi = std::numbers::pi;
    const Case cases[] = {
        {"1", 7.0f, 4.0f, 2 * pi, pi},
        {"1", 1.5f, 0.25f, 1.5, 0.25},
        {"0", 1.5f, 0.25f, pi, pi},
        {nullptr, 1.5f, 0.25f, pi, pi},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.d == nullptr ? "no d" : c.d);
        std::string objMap = "<ObjMap ta=\"" + Float(c.ta) + "\" taR=\"" + Float(c.taR) + "\"";
        if (c.d != nullptr) objMap += std::string(" d=\"") + c.d + "\"";
        QTexture* texture = Read(Element(objMap + "/>\r\n"));
        EXPECT_EQ(texture->params->ta, c.expectTa);
        EXPECT_EQ(texture->params->taR, c.expectTaR);
    }
}

TEST_F(TextureXmlTest, DirectChildrenMayStandInAnyOrderWithGlowAfterBump) {
    QTexture* texture = Read(Element(
        "<Glow on=\"3\" glc=\"4294967295\" glv=\"" + Float(0.5f) +
        "\"/>\r\n<Type>0</Type>\r\n<Bump>-7</Bump>\r\n<Glow on=\"1\" glc=\"-1\" glv=\"" +
        Float(0.25f) + "\"/>\r\n<Name>late</Name>\r\n"));
    EXPECT_EQ(texture->name, "late");
    EXPECT_EQ(texture->type, 0);
    EXPECT_EQ(texture->params->Bump, -7);
    EXPECT_EQ(texture->params->on, 1) << "the Glow after Bump is read";
    EXPECT_EQ(texture->params->glv, 0.25);
    EXPECT_EQ(texture->params->glc, 0xFFFFFFFFu);

    QTexture* unsignedGlow = Read(Element("<Glow on=\"1\" glc=\"4294967295\"/>\r\n"));
    EXPECT_EQ(unsignedGlow->params->glc, 0xFFFFFFFFu);
}

TEST_F(TextureXmlTest, RawPixelsAndOlderBitsElementsAreRead) {
    const std::uint32_t words[2] = {0xFF102030u, 0x80405060u};
    const std::string raw = BytesToBase64(words, sizeof words);
    QTexture* fromRaw = Read(Element("<Type>0</Type>\r\n<Image>\r\n<ImgBuf Width=\"2\" Height=\"1\">" +
                                     raw + "</ImgBuf>\r\n</Image>\r\n"));
    ASSERT_NE(fromRaw->Image(), nullptr);
    EXPECT_EQ(fromRaw->Image()->width, 2);
    EXPECT_EQ(fromRaw->Image()->colourPixels.get()[1], 0x80405060u);
    EXPECT_FALSE(fromRaw->Image()->premultiplied);

    const std::string blob = DataOf(Write(*fromRaw), "ImgBuf");
    QDocumentBase other;
    XmlDocument xml(Element("<Type>0</Type>\r\n<Image>\r\n<Bits>" + blob + "</Bits>\r\n</Image>\r\n"));
    auto* fromBits = AddNewTexture(other);
    ASSERT_EQ(ReadTextureXml(&other, xml, *fromBits, false, false), 0);
    ASSERT_NE(fromBits->Image(), nullptr);
    EXPECT_EQ(fromBits->Image()->colourId, fromRaw->Image()->colourId);
}

// A tiny image at many tiles around gives a default mapping (built here because the saved
// one is unusable) of millions of links; under the sanitizers a link array grown by a fixed
// step took minutes to copy over and over.
TEST_F(TextureXmlTest, SmallImageWithManyTilesBuildsItsMapping) {
    const std::vector<std::uint32_t> words(12, 0xFF336699u);
    const std::string objMap = "<ObjMap scale=\"" + Float(1.0f) + "\" cTiles=\"" + Float(128.0f) +
                               "\" pCircle=\"" + Float(2.0f) + "\"/>\r\n";
    const std::string image = "<Image>\r\n<ImgBuf Width=\"4\" Height=\"3\">" +
                              BytesToBase64(words.data(), 48) + "</ImgBuf>\r\n</Image>\r\n";
    QTexture* texture =
        Read(Element("<Type>0</Type>\r\n" + objMap + image + "<Versa numSurfs=\"-1\"/>\r\n"));
    const auto* versa = dynamic_cast<const VersaTex*>(texture->params->mapping.get());
    ASSERT_NE(versa, nullptr);
    ASSERT_NE(versa->band0, nullptr);
    EXPECT_GT(versa->band0->heapCount, 1000000);
    EXPECT_GE(versa->band0->heapCapacity, versa->band0->heapCount);
}

TEST_F(TextureXmlTest, ElementsWithoutImageOrTextureElement) {
    XmlDocument none("<Scene/>\r\n");
    QTexture* texture = NewTexture();
    EXPECT_EQ(ReadTextureXml(&document, none, *texture, false, false), TextureXmlNoElement);

    // Without ImgBuf or Bits the saved mapping is not looked at.
    QTexture* noImage = Read(Element("<Image>\r\n<iForceAlpha>1</iForceAlpha>\r\n</Image>\r\n"
                                     "<Versa numSurfs=\"1000000\"/>\r\n"));
    EXPECT_EQ(noImage->Image(), nullptr);
    EXPECT_EQ(noImage->params->mapping, nullptr);
}

// Damaged files: a bad image fails the texture with code 5, a bad mapping is replaced by the
// default one; none of them may crash or leak.
TEST_F(TextureXmlTest, DamagedImagesAndMappingsAreRejectedOrRepaired) {
    const std::string good = Write(*FullTexture());
    struct Case {
        const char* name;
        std::string (*damage)(std::string);
        std::int16_t expected;
    };
    auto replaceFirst = [](std::string text, const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    };
    static auto replace = replaceFirst;
    auto cellData = [](std::string text, std::int32_t head) {
        const auto open = text.find("<Cells>") + 7;
        const auto close = text.find("</Cells>");
        auto bytes = Base64Decode(text.substr(open, close - open));
        StoreI32LE(bytes.data(), head);
        text.replace(open, close - open, Base64Encode(bytes));
        return text;
    };
    static auto withHead = cellData;
    const Case cases[] = {
        {"bump too short", [](std::string t) { return replace(t, "<BumpBuf>", "<BumpBuf>AAAA"); }, 5},
        {"blob not an image", [](std::string t) { return replace(t, "<ImgBuf>", "<ImgBuf>QUJDRA==\r\n"); }, 5},
        {"raw pixels too short",
         [](std::string t) { return replace(t, "<ImgBuf>", "<ImgBuf Width=\"16\" Height=\"12\">"); }, 5},
        {"raw size overflows",
         [](std::string t) { return replace(t, "<ImgBuf>", "<ImgBuf Width=\"65536\" Height=\"65536\">"); }, 5},
        {"cells too short", [](std::string t) { return replace(t, "<Cells>", "<Cells>AAAA"); }, 0},
        {"head past the links", [](std::string t) { return withHead(t, 1 << 30); }, 0},
        {"head below -1", [](std::string t) { return withHead(t, -2); }, 0},
        {"link past the links", [](std::string t) { return replace(t, "next=\"-1\"", "next=\"99999\""); }, 0},
        {"link to itself", [](std::string t) { return replace(t, "<IndLink ind=\"0\" next=\"-1\"", "<IndLink ind=\"0\" next=\"0\""); }, 0},
        {"tile past the tiles", [](std::string t) { return replace(t, "<IndLink ind=\"0\"", "<IndLink ind=\"100000\""); }, 0},
        {"huge cell table", [](std::string t) { return replace(t, "hcells=\"", "hcells=\"9"); }, 0},
        {"huge surface count", [](std::string t) { return replace(t, "numSurfs=\"", "numSurfs=\"9999"); }, 0},
        {"one band slot", [](std::string t) {
             const auto group = t.find("<CRTMaps>");
             const auto second = t.find("<TileMap ", t.find("<TileMap ", group) + 1);
             const auto end = t.find("</CRTMaps>");
             t.erase(second, end - second);
             return t;
         }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string damaged = c.damage(good);
        ASSERT_NE(damaged, good);
        QTexture* texture = Read(damaged, c.expected);
        if (c.expected != 0) {
            EXPECT_EQ(texture->Image(), nullptr);
            EXPECT_TRUE(texture->name.empty()) << "a failed element changes nothing";
            continue;
        }
        ASSERT_NE(texture->Image(), nullptr);
        ASSERT_NE(texture->params->mapping, nullptr) << "the default mapping replaces a bad one";
        const std::string rewritten = Write(*texture);
        EXPECT_EQ(rewritten.find("99999"), std::string::npos);
    }
}

// Asks for the running mapping build to be abandoned at its first progress announcement.
class CancelAtFirstProgress : public QReferenceObject {
public:
    explicit CancelAtFirstProgress(QDocumentBase& d) : document(d) {
        AddReference(&document, this, 0);
    }
    ~CancelAtFirstProgress() override { RemoveReference(&document, this, 0); }
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject*,
                       QReferenceObject*) override {
        if (message == MessageChanged && a == DocumentChangeProgress) {
            document.abortRequested = true;
        }
    }
    QDocumentBase& document;
};

// An element that fails, in its image, its bump map or the import of its image, leaves the
// texture it was read into exactly as it was: name, type, values, image, bump map and
// mapping, as its written form shows.
TEST_F(TextureXmlTest, FailedElementLeavesTheTextureAsItWas) {
    QTexture* other = NewTexture(0);
    other->name = "Other";
    other->params->spf = 0.5;
    other->params->Bump = 3;
    other->params->transform.m[4] = -1.0;
    QTextureImage* otherImage = GiveImage(*other, 6, 5, false, 9);
    const auto otherBump = PatternBytes(6, 5, 3);
    ASSERT_EQ(otherImage->SetBumpMap(otherBump.data(), 6, 5, {}), 0);
    const std::string source = Write(*other);
    ASSERT_EQ(source.find("<Versa"), std::string::npos);

    struct Case {
        const char* name;
        std::string from, to;
        bool cancelMapping;
    };
    const Case cases[] = {
        {"bump too short", "<BumpBuf>", "<BumpBuf>AAAA", false},
        {"blob not an image", "<ImgBuf>", "<ImgBuf>QUJDRA==\r\n", false},
        {"raw pixels too short", "<ImgBuf>", "<ImgBuf Width=\"6\" Height=\"5\">", false},
        {"mapping build cancelled", "<Type>0</Type>", "<Type>1</Type>", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTexture* texture = FullTexture();
        const std::string before = Write(*texture);
        const QTextureImage* image = texture->Image();
        const ObjectTex* mapping = texture->params->mapping.get();

        std::string damaged = source;
        ReplaceFirst(damaged, c.from, c.to);
        XmlDocument xml(damaged);
        std::int16_t result = 0;
        {
            std::optional<CancelAtFirstProgress> cancel;
            if (c.cancelMapping) cancel.emplace(document);
            result = ReadTextureXml(&document, xml, *texture, false, false);
        }
        document.abortRequested = false;
        EXPECT_EQ(result, TextureXmlImageFailed);
        EXPECT_EQ(Write(*texture), before);
        EXPECT_EQ(texture->Image(), image);
        EXPECT_EQ(texture->params->image, image->pyramid.get());
        EXPECT_EQ(texture->params->mapping.get(), mapping);
    }

    // Whole, the same element replaces everything.
    QTexture* texture = FullTexture();
    XmlDocument xml(source);
    ASSERT_EQ(ReadTextureXml(&document, xml, *texture, false, false), 0);
    EXPECT_EQ(texture->name, "Other");
    EXPECT_EQ(texture->type, 0);
    EXPECT_EQ(texture->Image()->bumpId, otherImage->bumpId);
}

// Memory refused at any point of a read, with or without a saved mapping, gives a result or
// an exception and leaves the texture as it was; only a whole read changes it, and then
// completely. The ceiling rises until the read succeeds, each time just far enough to let
// through the request the last read was refused, so every request the read makes is refused
// once.
TEST_F(TextureXmlTest, RefusedMemoryLeavesTheTextureAsItWas) {
    for (bool withMapping : {true, false}) {
        SCOPED_TRACE(withMapping ? "saved mapping" : "default mapping");
        std::string source = Write(*FullTexture(5, 4));
        ReplaceFirst(source, "<Name>Bark &amp; &lt;moss&gt;</Name>", "<Name>Other</Name>");
        ReplaceFirst(source, "<Bump>-12</Bump>", "<Bump>4</Bump>");
        if (!withMapping) {
            const auto versa = source.find("<Versa");
            source.erase(versa, source.find("</Versa>\r\n") + 10 - versa);
        }
        QTexture* whole = FullTexture(3, 3);
        XmlDocument wholeXml(source);
        ASSERT_EQ(ReadTextureXml(&document, wholeXml, *whole, false, false), 0);
        const std::string expected = Write(*whole);

        QTexture* texture = FullTexture(3, 3);
        const std::string before = Write(*texture);
        bool isRead = false;
        for (std::size_t extra = 0; !isRead && extra < 100000;) {
            SCOPED_TRACE(extra);
            std::size_t nextExtra = 0;
            const std::optional<std::int16_t> result =
                ReadUnder(source, *texture, extra, nextExtra);
            isRead = result == 0;
            if (result && !isRead) {
                ASSERT_EQ(*result, TextureXmlImageFailed);
            }
            ASSERT_EQ(Write(*texture), isRead ? expected : before);
            if (!isRead) {
                // A failed read was refused memory above the cap it had.
                ASSERT_GT(nextExtra, extra);
                extra = nextExtra;
            }
        }
        EXPECT_TRUE(isRead);
    }
}

// A bump map refused once the image is attached (a 1 x 1 image makes its map the largest
// request after the import) throws instead of reading back as a texture without one; every
// read that succeeds carries the map.
TEST_F(TextureXmlTest, RefusedBumpMapIsNeverReadAsAbsent) {
    QTexture* source = NewTexture(0);
    QTextureImage* image = GiveImage(*source, 1, 1, false);
    const std::uint8_t bump = 0x5A;
    ASSERT_EQ(image->SetBumpMap(&bump, 1, 1, {}), 0);
    const std::string text = Write(*source);
    bool isRead = false;
    for (std::size_t extra = 0; !isRead && extra < 4096;) {
        SCOPED_TRACE(extra);
        QTexture* texture = NewTexture(0);
        std::size_t nextExtra = 0;
        isRead = ReadUnder(text, *texture, extra, nextExtra) == 0;
        if (isRead) {
            ASSERT_NE(texture->Image(), nullptr);
            EXPECT_EQ(texture->Image()->bumpId, image->bumpId);
        } else {
            ASSERT_GT(nextExtra, extra);
            extra = nextExtra;
        }
    }
    EXPECT_TRUE(isRead);
}

// A picture that cannot be encoded (here every memory stream is taken) fails the write with
// code 5; the element is still written whole without it, and xml stays on it.
TEST_F(TextureXmlTest, WriteReportsAPictureThatCannotBeEncoded) {
    QTexture* withImage = FullTexture();
    QTexture* withPreviewOnly = NewTexture(0);
    withPreviewOnly->previewPixels = PrivateAllocBlock<std::uint32_t>(128 * 128);
    std::memset(withPreviewOnly->previewPixels.get(), 0x40, 128 * 128 * 4);
    struct Case {
        const char* name;
        QTexture* texture;
        bool withPreview;
        const char* missing;
    };
    const Case cases[] = {
        {"colour image", withImage, false, "</ImgBuf>"},
        {"preview", withPreviewOnly, true, "</MIN>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XmlDocument whole;
        ASSERT_EQ(WriteTextureXml(*c.texture, whole, c.withPreview), 0);
        ASSERT_NE(whole.Text().find(c.missing), std::string::npos);

        std::vector<int> slots;
        while (slots.size() < MemStreamSlotCount) {
            const int slot = MemStreamOpen(nullptr, 0, 'w');
            if (slot < 0) break;
            slots.push_back(slot);
        }
        XmlDocument xml;
        const int result = WriteTextureXml(*c.texture, xml, c.withPreview);
        for (int slot : slots) MemStreamClose(slot);
        EXPECT_EQ(result, TextureXmlImageFailed);
        EXPECT_EQ(xml.Text().find(c.missing), std::string::npos);
        EXPECT_NE(xml.Text().find("</KV_TEXTURE>"), std::string::npos);
        EXPECT_EQ(xml.GetElementName(xml.CurrentPosition()), "KV_TEXTURE");
        EXPECT_EQ(xml.ParentPosition(), 0);
    }
}

// A mapping with poles needs only the first band slot: a "CRTMaps" holding one "TileMap"
// fills slot 0 and leaves slot 1 empty, while the cap slots are filled in written order.
TEST_F(TextureXmlTest, OneBandMapFillsTheFirstSlotAndEmptiesTheSecond) {
    std::string text = Write(*FullTexture());
    ReplaceFirst(text, "poleless=\"1\"", "poleless=\"0\"");
    const auto bands = text.find("<CRTMaps>");
    const auto secondBand = text.find("<TileMap ", text.find("<TileMap ", bands) + 1);
    text.erase(secondBand, text.find("</CRTMaps>") - secondBand);
    const auto caps = text.find("<PolarMap ");
    const auto capsEnd = text.find("</PolarMap>", text.find("</PolarMap>", caps) + 1) + 13;
    ReplaceFirst(text, "<CRPMaps/>\r\n",
                 "<CRPMaps>\r\n" + text.substr(caps, capsEnd - caps) + "</CRPMaps>\r\n");

    QTexture* texture = Read(text);
    const auto* versa = dynamic_cast<const VersaTex*>(texture->params->mapping.get());
    ASSERT_NE(versa, nullptr);
    EXPECT_EQ(versa->poleless, 0) << "the saved mapping is kept, not rebuilt";
    ASSERT_NE(versa->band0, nullptr);
    EXPECT_EQ(versa->band0->vcells, 8);
    EXPECT_EQ(versa->band1, nullptr);
    ASSERT_NE(versa->cap0, nullptr);
    ASSERT_NE(versa->cap1, nullptr);
    EXPECT_EQ(versa->cap0->ind, 0);
    EXPECT_EQ(versa->cap1->ind, 1);
}

TEST_F(TextureXmlTest, MapsRoundTripOnTheirOwn) {
    QTexture* texture = FullTexture();
    const auto& versa = dynamic_cast<const VersaTex&>(*texture->params->mapping);
    XmlDocument xml;
    WriteTileMap(xml, *versa.band0);
    WritePolarMap(xml, *versa.VTPMaps.front());
    TileMap band;
    PolarMap cap;
    ASSERT_TRUE(ReadTileMap(xml, xml.FindElementPath(0, 0, "TileMap"), band));
    ASSERT_TRUE(ReadPolarMap(xml, xml.FindElementPath(0, 0, "PolarMap"), cap));
    ASSERT_EQ(band.heapCount, versa.band0->heapCount);
    EXPECT_EQ(band.heapCapacity, band.heapCount);
    EXPECT_EQ(band.tileCount, versa.band0->tileCount);
    EXPECT_EQ(std::memcmp(band.cells, versa.band0->cells,
                          static_cast<std::size_t>(band.hcells) * band.vcells * 4), 0);
    EXPECT_EQ(cap.cellsPerSide, versa.VTPMaps.front()->cellsPerSide);
    EXPECT_EQ(cap.tileCount, versa.VTPMaps.front()->tileCount);
}

}  // namespace


