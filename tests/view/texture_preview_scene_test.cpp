#include "view/texture_preview_scene.h"

#include "core/xml_document.h"
#include "texture/texture_preview.h"
#include "texture/texture_xml.h"
#include "texture/texture_test_support.h"
#include "core/id_set.h"
#include "model/q_morvan_object.h"
#include "view/texture_upkeep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t RedWord = 0xFFFF0000u;
constexpr std::uint32_t BlueWord = 0xFF0000FFu;

// An image whose top half is one colour and bottom half the other.
std::vector<std::uint32_t> TwoBands(std::int32_t side, std::uint32_t first, std::uint32_t second) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side);
    for (std::int32_t y = 0; y < side; ++y) {
        for (std::int32_t x = 0; x < side; ++x) {
            pixels[static_cast<std::size_t>(y) * side + x] = y < side / 2 ? first : second;
        }
    }
    return pixels;
}

void Import(QTexture& texture, const std::vector<std::uint32_t>& pixels, std::int32_t side,
            bool renderPreview) {
    auto* image = new QTextureImage();
    std::string errorText;
    ASSERT_EQ(ImportTextureImage(texture, pixels.data(), image, renderPreview, true, true,
                                 errorText, side, side, false),
              TextureImportOk);
}

enum class Tone { Background, Red, Blue, Other };

// Which colour a preview pixel shows: the background is black and transparent; the lit
// sphere shows the texture's colour, darker or lighter but with its hue.
Tone ToneOf(std::uint32_t word) {
    const std::int32_t r = (word >> 16) & 0xFF, g = (word >> 8) & 0xFF, b = word & 0xFF;
    if ((word >> 24) == 0) return Tone::Background;
    if (r > b + 40 && r > g + 40) return Tone::Red;
    if (b > r + 40 && b > g + 40) return Tone::Blue;
    return Tone::Other;
}

std::vector<Tone> TonesOf(const QTexture& texture) {
    std::vector<Tone> tones;
    for (std::int32_t y = 0; y < texture.previewHeight; ++y) {
        for (std::int32_t x = 0; x < texture.previewWidth; ++x) {
            tones.push_back(ToneOf(texture.previewPixels.get()[y * texture.previewStride / 4 + x]));
        }
    }
    return tones;
}

class TexturePreviewSceneTest : public TextureDocumentTest {
protected:
    void SetUp() override {
        TextureDocumentTest::SetUp();
        previous = SetTexturePreviewRenderer(RenderTexturePreviewScene);
    }
    void TearDown() override {
        SetTexturePreviewRenderer(previous);
        TextureDocumentTest::TearDown();
    }
    TexturePreviewRendererFn previous = nullptr;
};

// The preview sphere wears the texture's own record: a change of the record shows at the
// next draw, which goes through the same preview scene.
TEST_F(TexturePreviewSceneTest, DrawsASphereWearingTheTexturesRecord) {
    constexpr std::int32_t Side = 64;
    QTexture* texture = NewTexture();
    Import(*texture, TwoBands(Side, RedWord, BlueWord), Side, true);
    ASSERT_NE(texture->previewPixels, nullptr);
    ASSERT_NE(texture->previewScene, nullptr);
    EXPECT_NE(texture->materialHandle, 0u);
    const std::vector<Tone> plain = TonesOf(*texture);

    // A lit sphere in the middle of a black, transparent background.
    const auto at = [&](const std::vector<Tone>& tones, std::int32_t x, std::int32_t y) {
        return tones[static_cast<std::size_t>(y) * texture->previewWidth + x];
    };
    EXPECT_EQ(texture->previewPixels.get()[0], 0u);
    EXPECT_EQ(at(plain, 127, 127), Tone::Background);
    EXPECT_NE(at(plain, 64, 64), Tone::Background);
    std::int32_t covered = 0;
    for (const Tone tone : plain) covered += tone != Tone::Background ? 1 : 0;
    // A sphere of radius 0.6 at depth 10 seen at focal length 1000: radius 60 pixels.
    EXPECT_NEAR(covered, 3.14159 * 60 * 60, 0.05 * 3.14159 * 60 * 60);
    // The sphere shows the texture: the tiles laid over it show both of the image's bands.
    const auto count = [&](Tone wanted) { return std::count(plain.begin(), plain.end(), wanted); };
    EXPECT_GT(count(Tone::Red), covered / 10);
    EXPECT_GT(count(Tone::Blue), covered / 10);

    // The sphere wears the texture (it is the texture's one scene object), yet it belongs
    // to the preview's own scene, not to the user's document.
    const std::vector<QReferenceObject*> wearers = texture->CollectReferrersByType(TypeIdObject);
    ASSERT_EQ(wearers.size(), 1u);
    const auto* sphere = dynamic_cast<const QMorvanObject*>(wearers[0]);
    ASSERT_NE(sphere, nullptr);
    EXPECT_NE(sphere->Collection(), document.Objects());
    IdSet ids;
    CollectTextureObjectIds(*texture, ids, document);
    EXPECT_EQ(ids.Count(), 0);

    // A later draw goes through the same scene and draws the same picture again.
    const TexturePreviewScene* scene = texture->previewScene.get();
    std::fill_n(texture->previewPixels.get(), 128 * 128, 0x12345678u);
    ASSERT_TRUE(RenderTexturePreview(*texture, PreviewRebuildMode));
    EXPECT_EQ(texture->previewScene.get(), scene);
    EXPECT_EQ(TonesOf(*texture), plain);
}

TEST_F(TexturePreviewSceneTest, WritingWithThePreviewDrawsItFirst) {
    QTexture* texture = NewTexture();
    Import(*texture, PatternPixels(16, 16), 16, false);
    ASSERT_EQ(texture->previewPixels, nullptr);
    XmlDocument xml;
    ASSERT_EQ(WriteTextureXml(*texture, xml, true), 0);
    ASSERT_NE(texture->previewPixels, nullptr);
    const std::int32_t root = xml.CurrentPosition();
    const std::int32_t preview = xml.FindElementPath(root, 0, "MIN");
    ASSERT_NE(preview, 0);
    EXPECT_EQ(xml.GetAttributeAt(preview, "w"), "128");
    EXPECT_EQ(xml.GetAttributeAt(preview, "h"), "128");
}

TEST_F(TexturePreviewSceneTest, ReadingWithThePreviewDrawsIt) {
    QTexture* source = NewTexture();
    Import(*source, PatternPixels(16, 16), 16, false);
    XmlDocument xml;
    ASSERT_EQ(WriteTextureXml(*source, xml, false), 0);
    EXPECT_EQ(source->previewPixels, nullptr);

    QTexture* read = NewTexture();
    ASSERT_EQ(ReadTextureXml(&document, xml, *read, true, true), 0);
    EXPECT_NE(read->previewPixels, nullptr);
    // Without a renderer the picture is simply not drawn.
    SetTexturePreviewRenderer(nullptr);
    QTexture* plain = NewTexture();
    ASSERT_EQ(ReadTextureXml(&document, xml, *plain, true, true), 0);
    EXPECT_EQ(plain->previewPixels, nullptr);
}

}  // namespace
