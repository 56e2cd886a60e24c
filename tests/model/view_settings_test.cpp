#include "model/view_settings.h"

#include "core/scalar_maths.h"
#include "model/q_document_base.h"
#include "model/render_progress_record.h"
#include "render/fog_render_data.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void ExpectDefaultFogValues(const FogLayer& layer) {
    EXPECT_EQ(layer.values, (std::array<double, 5>{0.8, 3.0, 0.0, 4.0, 10.0}));
}

TEST(ViewSettings, NewRecord) {
    const ViewSettings settings;
    ASSERT_EQ(settings.fogLayers.layers.size(), 2u);
    EXPECT_EQ(settings.fogLayers.layers[0].flag, 1);
    EXPECT_EQ(settings.fogLayers.layers[1].flag, 0);
    for (const FogLayer& layer : settings.fogLayers.layers) ExpectDefaultFogValues(layer);
    EXPECT_TRUE(settings.camera.Equals(QCamera()));
    EXPECT_EQ(settings.lights.Count(), 0);
    EXPECT_EQ(settings.lights.view, nullptr);
    for (const Colour& colour : settings.colours) EXPECT_EQ(ColourToRgb24(colour), 0u);
    EXPECT_EQ(settings.nearDepth, 0.0);
    EXPECT_EQ(settings.shadowsOn, 0);
    EXPECT_EQ(settings.tailCount, 0);
}

TEST(ViewSettings, SetDefaults) {
    QRenderView view(nullptr);
    ViewSettings& settings = view.viewSettings;
    settings.fogLayers.layers[1].flag = 3;
    settings.fogLayers.layers[1].values[4] = 99.0;
    settings.SetDefaults(view);

    EXPECT_EQ(Vec3Compare(settings.camera.position, Vec3{0.0, 0.0, -10.0}), 0);
    EXPECT_EQ(settings.camera.fov, 1.0);
    EXPECT_EQ(settings.nearDepth, 6.0);
    EXPECT_EQ(settings.farDepth, 14.0);
    EXPECT_EQ(settings.viewAngle, 0.3926991f);
    EXPECT_EQ(settings.viewDoubles, (std::array<double, 4>{0.0, 1.0, 1.0, 0.0}));
    EXPECT_EQ(settings.viewFlags, (std::array<std::uint8_t, 8>{0, 0, 0, 0, 1, 1, 1, 0}));
    EXPECT_EQ(settings.shadowsOn, 1);
    EXPECT_EQ(ColourToRgb24(settings.colours[0]), 0x808080u);
    EXPECT_EQ(ColourToRgb24(settings.colours[2]), 0x0A0A0Au);
    EXPECT_EQ(ColourToRgb24(settings.colours[5]), 0xFFFFFFu);
    EXPECT_EQ(ColourToRgb24(settings.colours[7]), 0x000040u);
    EXPECT_EQ(settings.tailValue1, 2.5f);
    EXPECT_EQ(settings.tailValue2, 0.5f);
    EXPECT_EQ(settings.tailCount, 10000);
    EXPECT_EQ(settings.tailMode, 1);
    EXPECT_EQ(settings.fogLayers.layers[1].flag, 3);
    ExpectDefaultFogValues(settings.fogLayers.layers[1]);

    EXPECT_EQ(settings.lights.view, &view);
    ASSERT_EQ(settings.lights.Count(), 2);
    for (const QLight* light : settings.lights.Lights()) {
        EXPECT_NEAR(Vec3Length(light->position), 40.0, 1e-12);
        EXPECT_EQ(light->localValue1, 10.0);
        EXPECT_EQ(light->view, &view);
        // The list's first snapshot and the scaled one.
        ASSERT_EQ(light->Snapshots().size(), 2u);
        EXPECT_EQ(Vec3Compare(light->Snapshots()[0]->position, light->position), 0);
    }
}

TEST(ViewSettings, CopyKeepsLightObjectsOnlyWhenTheCountsAgree) {
    QRenderView view(nullptr);
    view.viewSettings.SetDefaults(view);
    view.viewSettings.camera.fov = 0.5;
    view.viewSettings.colours[3] = ColourFromBytes(1, 2, 3);
    view.viewSettings.fogLayers.layers.resize(3);
    view.viewSettings.tailMode = 7;

    ViewSettings copy(view.viewSettings);
    EXPECT_TRUE(copy.camera.Equals(view.viewSettings.camera));
    EXPECT_EQ(ColourToRgb24(copy.colours[3]), 0x010203u);
    EXPECT_EQ(copy.fogLayers.layers.size(), 3u);
    EXPECT_EQ(copy.tailMode, 7);
    ASSERT_EQ(copy.lights.Count(), 2);

    const QLight* first = copy.lights.At(0);
    view.viewSettings.lights.At(0)->brightness = 0.05;
    copy = view.viewSettings;
    EXPECT_EQ(copy.lights.At(0), first);
    EXPECT_EQ(first->brightness, 0.05);

    view.viewSettings.lights.RemoveLightAt(1, true);
    copy.CopyFrom(view.viewSettings);
    ASSERT_EQ(copy.lights.Count(), 1);
    EXPECT_EQ(copy.lights.At(0)->brightness, 0.05);
}

TEST(FogLayerList, ResetDefaultsKeepsFlags) {
    FogLayerList list;
    list.layers[0].values = {1.0, 2.0, 3.0, 4.0, 5.0};
    list.layers[1].flag = 9;
    list.ResetDefaults();
    ExpectDefaultFogValues(list.layers[0]);
    EXPECT_EQ(list.layers[0].flag, 1);
    EXPECT_EQ(list.layers[1].flag, 9);
}

TEST(FogLayerList, BuildRenderData) {
    FogLayerList list;
    list.layers[1].values = {2.0, 1.0, 2.0, 0.0, 3.0};
    list.layers[1].flag = 0x1FF;
    FogRenderData block;
    block.quadrics.resize(5, Matrix4W{{7.0}});
    list.BuildRenderData(&block);
    ASSERT_EQ(block.quadrics.size(), 2u);
    ASSERT_EQ(block.layers.size(), 2u);

    const Matrix4W& q = block.quadrics[0];
    EXPECT_DOUBLE_EQ(block.layers[0].values[2], 0.0001);
    EXPECT_DOUBLE_EQ(q.m[5], 1e-8);
    EXPECT_DOUBLE_EQ(q.m[15], 1e-8);
    EXPECT_EQ(q.m[10], 1.0);
    EXPECT_EQ(q.m[2], -0.8);
    EXPECT_EQ(q.m[8], -0.8);
    EXPECT_EQ(q.m[0], 0.0);
    for (int i : {1, 3, 4, 6, 7, 9, 11, 12, 13, 14}) EXPECT_EQ(q.m[i], 0.0) << i;
    EXPECT_EQ(block.layers[0].values[0], 0.8);
    EXPECT_DOUBLE_EQ(block.layers[0].values[1], 0.1);
    EXPECT_DOUBLE_EQ(block.layers[0].values[3], 1.0);
    EXPECT_EQ(block.layers[0].values[4], 10.0);
    EXPECT_EQ(block.layers[0].flag, 1);
    EXPECT_EQ(block.layers[1].flag, 0xFF);

    // With the switch on the second layer is the spheroid c^2 (x^2 + z^2) + (y - 2)^2 =
    // c^2 3^2 with c = 0.01: the point (3, 2, 0) lies on it.
    block.isSwitchOn = 1;
    list.BuildRenderData(&block);
    const Matrix4W& s = block.quadrics[1];
    const double x = 3.0;
    const double y = 2.0;
    const double value = s.m[0] + 2.0 * s.m[2] * y + s.m[5] * x * x + s.m[10] * y * y;
    EXPECT_NEAR(value, 0.0, 1e-12);

    list.BuildRenderData(nullptr);
}

TEST(RenderProgressRecord, ClearRenderFlagsKeepsTheText) {
    RenderProgressRecord record;
    record.stage = 1;
    record.percentage = 55;
    record.text = {'a', 'b'};
    record.flagBytes = {1, 2, 3, 4};
    ClearRenderFlags(record);
    EXPECT_EQ(record.stage, 0u);
    EXPECT_EQ(record.percentage, 0u);
    EXPECT_EQ(record.text[1], 'b');
    EXPECT_EQ(record.flagBytes, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

}  // namespace
