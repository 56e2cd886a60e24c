#include "view/texture_upkeep.h"

#include "core/colour.h"
#include "core/id_set.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "render/q_render.h"
#include "texture/q_texture.h"
#include "view/q_render_view.h"

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

    // A texture nobody in the document wears touches nothing.
    QTexture unworn(&scene.document);
    std::fill(scene.frame.begin(), scene.frame.end(), Untouched);
    ReshadeTextureObjects(unworn, scene.document);
    for (const std::uint32_t word : scene.frame) ASSERT_EQ(word, Untouched);
}

}  // namespace
