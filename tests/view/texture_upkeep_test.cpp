#include "view/texture_upkeep.h"

#include "core/colour.h"
#include "core/id_set.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "render/q_render.h"
#include "texture/q_texture.h"
#include "view/q_render_view.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/texture_params_table.h"
#include "imaging/image_file.h"
#include "model/q_texture_list.h"
#include "texture/q_texture_image.h"
#include "texture/texture_import.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr std::int32_t Width = 240;
constexpr std::int32_t Height = 120;
constexpr std::uint32_t Untouched = 0x12345678u;

// The lighting's dither draws from a running sequence, so a pixel shaded again may differ
// from its first shading by the dither's step in each colour.
bool ShadedAlike(std::uint32_t a, std::uint32_t b) {
    if ((a >> 24) != (b >> 24)) return false;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d < -2 || d > 2) return false;
    }
    return true;
}

// Three spheres in a row, apart from one another; the outer two wear the texture.
struct ThreeSpheres {
    QDocumentBase document;
    QRenderView view{&document};
    QTexture texture{&document};
    QTexture other{&document};
    std::vector<std::uint32_t> frame = std::vector<std::uint32_t>(Width * Height);
    std::vector<QMorvanObject*> spheres;

    ThreeSpheres() {
        for (const double x : {-0.75, 0.0, 0.75}) {
            spheres.push_back(document.Objects()->AddShapeType1(
                0.25, ColourFromBytes(200, 180, 160), Vec3{x, 0.0, 0.0}));
        }
        spheres[0]->SetTexture(&texture, true);
        spheres[1]->SetTexture(&other, true);
        spheres[2]->SetTexture(&texture, true);
    }
};

TEST(TextureUpkeep, CollectsTheWearersOfTheDocumentOnly) {
    ThreeSpheres scene;
    IdSet ids;
    ids.Insert(5);  // replaced, not added to
    CollectTextureObjectIds(scene.texture, ids, scene.document);
    ASSERT_EQ(ids.Count(), 2);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 2);

    // Another document's object wearing the same texture is not one of them.
    QDocumentBase elsewhere;
    elsewhere.Objects()->AddShapeType1(0.2, ColourFromBytes(1, 2, 3), Vec3{})
        ->SetTexture(&scene.texture, true);
    CollectTextureObjectIds(scene.texture, ids, scene.document);
    EXPECT_EQ(ids.Count(), 2);
    CollectTextureObjectIds(scene.texture, ids, elsewhere);
    ASSERT_EQ(ids.Count(), 1);
    EXPECT_EQ(ids[0], 0);
}

TEST(TextureUpkeep, ReshadingTouchesExactlyThePartsThatWearTheTexture) {
    ThreeSpheres scene;
    QRenderView& view = scene.view;
    // Nothing drawn yet: nothing to shade again.
    ReshadeTextureObjects(scene.texture, scene.document);

    ASSERT_TRUE(view.InitViewBuffers(Width * 4, scene.frame.data(), Width, Height, true));
    ASSERT_EQ(view.RenderDocument(), 0);
    const std::vector<std::uint32_t> rendered = scene.frame;
    std::vector<std::int32_t> partAt(rendered.size());
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            partAt[static_cast<std::size_t>(y) * Width + x] =
                PixelPartIndex(view.QueryPixel(x, y, nullptr, nullptr, 0, nullptr));
        }
    }

    // Every pixel is marked; what the reshade writes shows where it went.
    std::fill(scene.frame.begin(), scene.frame.end(), Untouched);
    ReshadeTextureObjects(scene.texture, scene.document);
    std::int32_t wearerPixels[3] = {0, 0, 0};
    for (std::size_t i = 0; i < rendered.size(); ++i) {
        const std::int32_t part = partAt[i];
        if (part == 0 || part == 2) {
            // The wearers are shaded again, as a full render shades them.
            ASSERT_TRUE(ShadedAlike(scene.frame[i], rendered[i])) << i;
            ++wearerPixels[part];
        } else if (part == 1) {
            ASSERT_EQ(scene.frame[i], Untouched) << i;
            ++wearerPixels[1];
        } else if (scene.frame[i] != Untouched) {
            // Background near a wearer may lie in its footprint; it comes out as rendered.
            ASSERT_TRUE(ShadedAlike(scene.frame[i], rendered[i])) << i;
        }
    }
    EXPECT_GT(wearerPixels[0], 100);
    EXPECT_GT(wearerPixels[1], 100);
    EXPECT_GT(wearerPixels[2], 100);

    // A selected wearer is left to the frame render that follows, which draws it whole.
    scene.spheres[2]->SetSelected(true);
    std::fill(scene.frame.begin(), scene.frame.end(), Untouched);
    ReshadeTextureObjects(scene.texture, scene.document);
    for (std::size_t i = 0; i < rendered.size(); ++i) {
        if (partAt[i] == 0 || partAt[i] == 2) {
            ASSERT_NE(scene.frame[i], Untouched) << i;
        }
    }
    scene.spheres[2]->SetSelected(false);

    // A texture nobody in the document wears touches nothing.
    QTexture unworn(&scene.document);
    std::fill(scene.frame.begin(), scene.frame.end(), Untouched);
    ReshadeTextureObjects(unworn, scene.document);
    for (const std::uint32_t word : scene.frame) ASSERT_EQ(word, Untouched);
}

// Width x height words: colour from the seed, alpha from the position.
std::vector<std::uint32_t> Pixels(std::int32_t width, std::int32_t height, std::uint32_t seed) {
    std::vector<std::uint32_t> words(static_cast<std::size_t>(width) * height);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < words.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        words[i] = (static_cast<std::uint32_t>(i * 37 % 256) << 24) | (state >> 8);
    }
    return words;
}

QTexture* TextureWithImage(QDocumentBase& document, std::int32_t side, std::uint32_t seed) {
    auto owned = std::make_unique<QTexture>(&document);
    QTexture* texture = owned.get();
    texture->type = 0;
    document.TextureList()->AddTexture(std::move(owned));
    const std::vector<std::uint32_t> pixels = Pixels(side, side, seed);
    std::string errorText;
    EXPECT_EQ(ImportTextureImage(*texture, pixels.data(), new QTextureImage(), false, true, false,
                                 errorText, side, side, false),
              TextureImportOk);
    return texture;
}

QTexture* TextureWithoutImage(QDocumentBase& document) {
    auto owned = std::make_unique<QTexture>(&document);
    QTexture* texture = owned.get();
    document.TextureList()->AddTexture(std::move(owned));
    return texture;
}

std::unique_ptr<QTexture> TakeOut(QDocumentBase& document, QTexture* texture) {
    std::unique_ptr<QReferenceObject> removed = document.TextureList()->RemoveTexture(texture);
    return std::unique_ptr<QTexture>(static_cast<QTexture*>(removed.release()));
}

TEST(TextureUpkeep, ResampleMovesTheColoursOntoTheTemplatesImage) {
    QDocumentBase document;
    SetCurrentDocument(&document);
    QTexture* texture = TextureWithImage(document, 32, 3);
    QTexture* templateTexture = TextureWithImage(document, 16, 9);
    texture->params->scale = 2.5;
    texture->params->spf = 0.25;
    QMorvanObject* sphere =
        document.Objects()->AddShapeType1(0.5, ColourFromBytes(255, 255, 255), Vec3{});
    sphere->SetTexture(texture, true);

    std::int32_t w = 0, h = 0;
    bool premultiplied = false;
    const PrivateBlockPtr<std::uint32_t> before =
        texture->Image()->CopyColorBuffer(w, h, premultiplied);
    ResampledImage expected;
    std::string errorText;
    ASSERT_EQ(ResampleImage(reinterpret_cast<const std::uint8_t*>(before.get()), 32, 32, 0, 16,
                            16, expected, errorText),
              ImageFileOk);
    QTextureImage* templateImage = templateTexture->Image();
    const PrivateBlockPtr<std::uint32_t> templatePixels =
        templateImage->CopyColorBuffer(w, h, premultiplied);
    const TextureParams* templateRecord = templateTexture->params.get();

    // A template without an image changes nothing and comes back.
    QTexture* bare = TextureWithoutImage(document);
    std::unique_ptr<QTexture> returned = ResampleTextureImage(*texture, TakeOut(document, bare));
    EXPECT_NE(returned, nullptr);

    EXPECT_EQ(ResampleTextureImage(*texture, TakeOut(document, templateTexture)), nullptr);
    ASSERT_EQ(texture->Image(), templateImage);
    EXPECT_EQ(texture->params.get(), templateRecord);
    EXPECT_EQ(texture->params->scale, 2.5);
    EXPECT_EQ(texture->params->spf, 0.25);
    EXPECT_EQ(texture->params->image, templateImage->pyramid.get());
    EXPECT_EQ(ResolveTextureRef(texture->materialHandle), texture->params.get());
    EXPECT_EQ(document.Geometry()->Part(sphere->Index())->texParams, texture->params.get());

    const PrivateBlockPtr<std::uint32_t> after =
        texture->Image()->CopyColorBuffer(w, h, premultiplied);
    ASSERT_EQ(w, 16);
    ASSERT_EQ(h, 16);
    for (std::size_t i = 0; i < 16u * 16u; ++i) {
        ASSERT_EQ(after.get()[i] >> 24, templatePixels.get()[i] >> 24) << i;
        ASSERT_EQ(after.get()[i] & 0xFFFFFFu, expected.words[i] & 0xFFFFFFu) << i;
    }
    SetCurrentDocument(nullptr);
}

}  // namespace
