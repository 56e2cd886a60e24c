#include "render/scene_part_textures.h"

#include "geometry/corner_rod_wrap.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_build_support.h"
#include "geometry/texture_params_table.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"
#include "render/scene_render_parts.h"
#include "render/span_shade.h"
#include "render/surface_texture.h"
#include "texture/object_tex.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using shape_build_test::Working;

// The world seen from 10 units before the origin along z.
Matrix4W ViewFromWorld() {
    Matrix4W m;
    m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0;
    m.m[12] = 10.0;
    return m;
}

// A green tiling material with its default mapping, and a scene of a box, a cylinder and an
// ellipsoid that wear it and a box that does not.
class TexturedScene : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::uint32_t> pixels(32 * 32, 0xFF00FF00);
        ASSERT_EQ(TexPyramidSetImage(pyramid, pixels.data(), 32, 32, 32, false), 0);
        params.image = &pyramid;
        BuildDefaultVersaTex(params);
        ASSERT_NE(params.mapping, nullptr);
        handle = RegisterTextureParams(&params, &params);

        const std::array<std::int32_t, 4> rooms{32, 32, 32, 32};
        geometry.AddParts(rooms, false);
        WorkingPartRecord box = Working(ShapeType::Box, {2, 4, 6});
        box.textureRef = handle;
        box.colour = 0xFF0000;
        ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &box), 0);
        WorkingPartRecord cylinder = Working(ShapeType::Cylinder, {2, 1}, {5, 0, 0});
        cylinder.textureRef = handle;
        ASSERT_EQ(BuildPartShape(geometry, nullptr, 1, false, true, false, &cylinder), 0);
        WorkingPartRecord plain = Working(ShapeType::Box, {1, 1, 1}, {-5, 0, 0});
        plain.colour = 0xFF0000;
        ASSERT_EQ(BuildPartShape(geometry, nullptr, 2, false, true, false, &plain), 0);
        WorkingPartRecord ellipsoid = Working(ShapeType::Ellipsoid, {1, 2, 3}, {0, 5, 0});
        ellipsoid.textureRef = handle;
        ASSERT_EQ(BuildPartShape(geometry, nullptr, 3, false, true, false, &ellipsoid), 0);
    }
    void TearDown() override { UnregisterTextureParams(handle); }

    static constexpr std::int32_t Width = 64;
    static constexpr std::int32_t Height = 48;

    // Sizes render over pixels (Width x Height) with one white light and loads the scene (the
    // fixture's own unless another is given).
    void SizeLitRender(QRender& render, std::vector<std::uint32_t>& pixels,
                       SceneGeometry* scene = nullptr) {
        ASSERT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.focalScale = 0.06;
        render.SetLightCounts(1, 0);
        RenderLightSlot& light = render.LightSlot(0);
        light.enabled = 1;
        RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);
        LoadRenderParts(render, scene != nullptr ? *scene : geometry, ViewFromWorld());
    }

    TexPyramid pyramid;
    TextureParams params;
    std::uint32_t handle = 0;
    SceneGeometry geometry;
};

TEST_F(TexturedScene, PartsReachTheirMaterialsTilesThroughTheirOwnMappings) {
    QRender render;
    LoadRenderParts(render, geometry, ViewFromWorld());
    ASSERT_EQ(render.partTextures.parts.size(), 4u);

    const PartTexture* box = render.partTextures.Find(0);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->mapping, TextureMapping::Box);
    EXPECT_EQ(box->pyramid, &pyramid);
    EXPECT_EQ(box->tiles, params.mapping.get());
    EXPECT_GT(box->bandCellLengths[0], 0.0);
    EXPECT_EQ(box->baseColour, 0xFF0000u);
    // The part matrix carries view space back into the box's own frame.
    EXPECT_DOUBLE_EQ(box->partFromView.m[12], -10.0);

    // The cylinder reads its own revolution mapping through the material's tiles; the plain box
    // has no image.
    const PartTexture* cylinder = render.partTextures.Find(1);
    ASSERT_NE(cylinder, nullptr);
    EXPECT_EQ(cylinder->mapping, TextureMapping::Revolution);
    EXPECT_EQ(cylinder->revolution, geometry.Part(1)->objectTex);
    EXPECT_EQ(cylinder->tiles, params.mapping.get());
    EXPECT_EQ(render.partTextures.Find(2), nullptr);
    EXPECT_EQ(render.partTextures.Find(4), nullptr);

    // The ellipsoid reads its surface mapping list.
    const PartTexture* ellipsoid = render.partTextures.Find(3);
    ASSERT_NE(ellipsoid, nullptr);
    EXPECT_EQ(ellipsoid->mapping, TextureMapping::SurfaceList);
    EXPECT_EQ(ellipsoid->surfaceList, geometry.Part(3)->auxTex);
    EXPECT_EQ(ellipsoid->tiles, params.mapping.get());

    // A part without a mapping source of its own takes the image flat.
    PartRenderRecord& plain = *geometry.Part(2);
    plain.texParams = &params;
    LoadRenderParts(render, geometry, ViewFromWorld());
    ASSERT_NE(render.partTextures.Find(2), nullptr);
    EXPECT_EQ(render.partTextures.Find(2)->mapping, TextureMapping::Planar);
}

TEST_F(TexturedScene, APartsPhaseComesFromItsRecordAndPicksItsMaterialsCaps) {
    // The default mapping of the material holds three pairs of edge caps; the cylinder's phase
    // picks the pair its revolution mapping reads near its poles.
    const auto* versa = dynamic_cast<const VersaTex*>(params.mapping.get());
    ASSERT_NE(versa, nullptr);
    ASSERT_EQ(versa->VTPMaps.size(), 6u);
    struct Case {
        double fraction;
        std::int32_t phase;
        std::size_t firstCap;
    };
    for (const Case& c : {Case{0.0, 0, 0}, Case{0.5, 32768, 2}, Case{0.99999, 65535, 4}}) {
        SCOPED_TRACE(c.fraction);
        WorkingPartRecord cylinder = Working(ShapeType::Cylinder, {2, 1}, {5, 0, 0});
        cylinder.textureRef = handle;
        cylinder.fraction = c.fraction;
        ASSERT_EQ(BuildPartShape(geometry, nullptr, 1, false, true, false, &cylinder), 0);
        QRender render;
        LoadRenderParts(render, geometry, ViewFromWorld());
        const PartTexture* texture = render.partTextures.Find(1);
        ASSERT_NE(texture, nullptr);
        ASSERT_EQ(texture->mapping, TextureMapping::Revolution);
        EXPECT_EQ(texture->phase, c.phase);
        EXPECT_EQ(texture->materialCaps[0], versa->VTPMaps[c.firstCap].get());
        EXPECT_EQ(texture->materialCaps[1], versa->VTPMaps[c.firstCap + 1].get());
    }
}

TEST_F(TexturedScene, AWrappedBoxShowsItsTextureInAFrame) {
    std::vector<std::uint32_t> pixels(Width * Height, 0u);
    QRender render;
    ASSERT_NO_FATAL_FAILURE(SizeLitRender(render, pixels));
    ASSERT_EQ(RenderShadedFrame(render), CastDone);

    // The box's face towards the eye is green, not the part's red.
    std::int32_t green = 0;
    for (std::int32_t y = 16; y < 32; ++y) {
        for (std::int32_t x = 28; x < 36; ++x) {
            const std::uint32_t p = pixels[static_cast<std::size_t>(y * Width + x)];
            EXPECT_LT((p >> 16) & 0xFF, 8u) << x << "," << y;
            green += ((p >> 8) & 0xFF) > 100 ? 1 : 0;
        }
    }
    EXPECT_EQ(green, 16 * 8);
}

TEST_F(TexturedScene, ATintedPartTintsTowardsItsColourAtHalfContrast) {
    // A red box with the tint flag: its derived colour is red at half contrast about mid grey.
    WorkingPartRecord box = Working(ShapeType::Box, {2, 4, 6});
    box.textureRef = handle;
    box.colour = 0xFF0000;
    box.derivedColour = 0xC04141;
    box.flagBytes[1] = 1;
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &box), 0);
    QRender render;
    LoadRenderParts(render, geometry, ViewFromWorld());
    const PartTexture* texture = render.partTextures.Find(0);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->hasTint, 1);
    const std::array<std::uint8_t, 3> tint{0xC0, 0x41, 0x41};
    EXPECT_EQ(texture->tintColour, tint);

    // The material's green at the box's front face, pulled towards red: L is a quarter of the
    // channels' sum, f = ((0x5FA0 - L) L) >> 8, and each channel moves by its tint byte's
    // distance from 0x80 times f >> 11; blue, driven below 0, clamps the three into range.
    render.focalScale = 0.06;
    render.BuildLevelTable();
    const auto shade = [&](const PartTexture& part) {
        std::array<std::int32_t, 3> out{};
        ShadeSurfacePoint(render, part, out, pyramid, 4, false, false, Vec3{0.0, 0.0, 7.0},
                          Vec3{0.0, 0.0, -1.0});
        return out;
    };
    PartTexture untinted = *texture;
    untinted.hasTint = 0;
    const std::array<std::int32_t, 3> plain = shade(untinted);
    ASSERT_EQ(plain[0], 0);
    ASSERT_GT(plain[1], 0x7000);
    const std::int32_t l = (plain[0] + plain[1] + plain[2]) >> 2;
    const std::int32_t f = ((0x5FA0 - l) * l) >> 8;
    const std::array<std::int32_t, 3> out = shade(*texture);
    EXPECT_EQ(out[0], (0x40 * f) >> 11);
    EXPECT_EQ(out[1], plain[1] + ((-0x3F * f) >> 11));
    EXPECT_EQ(out[2], 0);
}

TEST_F(TexturedScene, ACustomMappedCylinderShowsItsOwnTilesInAFrame) {
    // The box at the origin becomes a red cylinder laying its own tiles.
    WorkingPartRecord cylinder = Working(ShapeType::Cylinder, {2, 1});
    cylinder.textureRef = handle;
    cylinder.colour = 0xFF0000;
    cylinder.flagBytes[0] |= PartFlagCustomMapping;
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &cylinder), 0);
    const ObjectTex* own = geometry.Part(0)->objectTex;
    ASSERT_NE(own, nullptr);
    ASSERT_EQ(own->type, 0);
    ASSERT_TRUE(own->IsUsable());

    std::vector<std::uint32_t> pixels(Width * Height, 0u);
    QRender render;
    ASSERT_NO_FATAL_FAILURE(SizeLitRender(render, pixels));
    const PartTexture* texture = render.partTextures.Find(0);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->mapping, TextureMapping::CustomRevolution);
    EXPECT_EQ(texture->tiles, own);
    EXPECT_EQ(texture->revolution, own);
    EXPECT_GT(texture->capCellLengths[0], 0.0);
    ASSERT_EQ(RenderShadedFrame(render), CastDone);

    // The cylinder's side towards the eye is the material's green, not the part's red.
    for (std::int32_t y = 23; y < 26; ++y) {
        for (std::int32_t x = 30; x < 34; ++x) {
            const std::uint32_t p = pixels[static_cast<std::size_t>(y * Width + x)];
            EXPECT_LT((p >> 16) & 0xFF, 8u) << x << "," << y;
            EXPECT_GT((p >> 8) & 0xFF, 100u) << x << "," << y;
        }
    }
}

TEST_F(TexturedScene, CornerRodsContinueTheLengthOfTheRodTheyStartFrom) {
    // Two rods joined end to start, red, and a third that starts elsewhere.
    SceneGeometry rods;
    const std::array<std::int32_t, 3> rooms{8, 8, 8};
    rods.AddParts(rooms, false);
    const auto build = [&](std::int32_t index, const Vec3& a, const Vec3& b, double bendSine) {
        WorkingPartRecord w = Working(
            ShapeType::CornerRod,
            {a.x, a.y, a.z, b.x, b.y, b.z, 0, 0, 1, 0, 0, 1, 0, 0, 1, bendSine, 1.0, 1.0, 0.2});
        w.textureRef = handle;
        w.colour = 0xFF0000;
        ASSERT_EQ(BuildPartShape(rods, nullptr, index, false, true, false, &w), 0);
    };
    ASSERT_NO_FATAL_FAILURE(build(1, {-4, 0, 0}, {0, 0, 0}, 0.0));
    ASSERT_NO_FATAL_FAILURE(build(0, {0, 0, 0}, {4, 0, 0}, 0.0));
    ASSERT_NO_FATAL_FAILURE(build(2, {0, 3, 0}, {4, 3, 0}, 0.0));

    std::vector<std::uint32_t> pixels(Width * Height, 0u);
    QRender render;
    ASSERT_NO_FATAL_FAILURE(SizeLitRender(render, pixels, &rods));
    for (std::int32_t i = 0; i < 3; ++i) {
        const PartTexture* rod = render.partTextures.Find(i);
        ASSERT_NE(rod, nullptr);
        EXPECT_EQ(rod->mapping, TextureMapping::CornerRod);
    }
    const double firstMeasure = CornerRodWrapMeasure(render.partTextures.Find(1)->cornerRod);
    EXPECT_GT(firstMeasure, 0.0);
    EXPECT_DOUBLE_EQ(render.partTextures.Find(0)->cornerRodStart, firstMeasure);
    EXPECT_EQ(render.partTextures.Find(1)->cornerRodStart, 0.0);
    EXPECT_EQ(render.partTextures.Find(2)->cornerRodStart, 0.0);

    // The rods show the green texture, not their own red.
    ASSERT_EQ(RenderShadedFrame(render), CastDone);
    std::int32_t green = 0;
    std::int32_t red = 0;
    for (const std::uint32_t p : pixels) {
        if (((p >> 24) & 0xFF) != 255) continue;
        green += ((p >> 8) & 0xFF) > 100 ? 1 : 0;
        red += ((p >> 16) & 0xFF) > 100 ? 1 : 0;
    }
    EXPECT_GT(green, 50);
    EXPECT_EQ(red, 0);
}

}  // namespace
