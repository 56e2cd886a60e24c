#include "view/q_render_view.h"

#include "core/colour.h"
#include "core/rotation.h"
#include "core/scalar_maths.h"
#include "model/q_light.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <memory>

namespace {

QLight* AddLight(QRenderView& view, Vec3 position, double brightness, bool atObject) {
    auto light = std::make_unique<QLight>(&view);
    light->position = position;
    light->brightness = brightness;
    light->isOn = true;
    light->isAtObject = atObject;
    QLight* raw = light.get();
    view.viewSettings.lights.AddLight(std::move(light));
    return raw;
}

TEST(QRenderView, ResetCamera) {
    QRenderView view(nullptr);
    view.viewSettings.camera.fov = 3.0;
    view.viewSettings.camera.m = 4.0;
    view.viewSettings.camera.orientation = Matrix3SetDiagonal(2.0);
    view.ResetCamera();
    const QCamera& camera = view.viewSettings.camera;
    EXPECT_EQ(camera.fov, 1.0);
    EXPECT_EQ(camera.m, 1.0);
    EXPECT_EQ(Vec3Compare(camera.position, Vec3{0.0, 0.0, -10.0}), 0);
    EXPECT_EQ(Matrix3Compare(camera.orientation, Matrix3SetDiagonal(1.0)), 0);
    const Matrix3 turn = Matrix3FromEulerZYX(PI, 3.0 * PI / 4.0, -PI / 6.0);
    EXPECT_EQ(Matrix3Compare(Matrix3FromMatrix4(camera.transform), turn), 0);
    EXPECT_EQ(camera.transform.m[3], 0.0);
    EXPECT_EQ(camera.transform.m[15], 1.0);
}

TEST(QRenderView, ViewTransformsAndTheSecondaryViewsCamera) {
    QRenderView main(nullptr);
    main.ResetCamera();
    QRenderView secondary(nullptr);
    secondary.isDelegate = true;
    secondary.mainView = &main;

    const Vec3 start{1.0, -2.0, 3.0};
    Vec3 p = start;
    secondary.TransformByView(p);
    Vec3 q = start;
    main.TransformByView(q);
    EXPECT_EQ(Vec3Compare(p, q), 0);
    secondary.TransformByInverseView(p);
    EXPECT_NEAR(p.x, start.x, 1e-12);
    EXPECT_NEAR(p.y, start.y, 1e-12);
    EXPECT_NEAR(p.z, start.z, 1e-12);

    // The camera stands at (0, 0, -10) of its rig: the rig's origin is 10 ahead of it.
    Vec3 origin{};
    main.TransformByView(origin);
    EXPECT_NEAR(origin.z, 10.0, 1e-12);
}

TEST(QRenderView, PrepareLightsMeanDirectionAndRecords) {
    QRenderView view(nullptr);
    view.viewSettings.lights.view = &view;
    AddLight(view, Vec3{10.0, 0.0, 0.0}, 0.8, false);
    QLight* off = AddLight(view, Vec3{0.0, -5.0, 0.0}, 1.0, false);
    off->isOn = false;
    QLight* local = AddLight(view, Vec3{1.0, 2.0, 3.0}, 0.4, true);
    local->colour = ColourFromBytes(255, 128, 0);
    local->flag0 = true;
    local->localValue1 = 12.0;
    local->localValue2 = 0.05;
    local->localValue3 = 2.0;
    local->SetShadowParms(0.5);
    AddLight(view, Vec3{0.0, 0.0, 20.0}, 0.6, false);
    view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};

    view.PrepareLights();
    EXPECT_EQ(view.directionLightCount, 2);
    EXPECT_EQ(view.localLightCount, 1);
    ASSERT_EQ(view.renderLights.size(), 3u);

    // Seen from (0, 0, -10) the lights lie along (1, 0, 1)/sqrt 2 and (0, 0, 1); the mean is
    // their brightness-weighted sum, normalised.
    const double h = 1.0 / std::sqrt(2.0);
    Vec3 expected{0.8 * h, 0.0, 0.8 * h + 0.6};
    Vec3Normalize(expected);
    EXPECT_NEAR(view.meanLightDirection.x, expected.x, 1e-12);
    EXPECT_NEAR(view.meanLightDirection.y, 0.0, 1e-12);
    EXPECT_NEAR(view.meanLightDirection.z, expected.z, 1e-12);
    EXPECT_NEAR(view.renderLights[0].position.x, h, 1e-12);
    EXPECT_EQ(view.renderLights[1].brightness, 0.6);

    const RenderLight& record = view.renderLights[2];
    EXPECT_EQ(Vec3Compare(record.position, Vec3{1.0, 2.0, 13.0}), 0);
    EXPECT_EQ(record.colour, (std::array<double, 3>{1.0, 128 / 255.0, 0.0}));
    double shadow[3];
    BlendColourHsv(shadow, 1.0, 128 / 255.0, 0.0, 0.3, 0.5, -0.5, -0.5);
    EXPECT_EQ(record.shadowColour, (std::array<double, 3>{shadow[0], shadow[1], shadow[2]}));
    EXPECT_EQ(record.brightness, 0.4);
    EXPECT_TRUE(record.flag0);
    EXPECT_EQ(record.localValue1, 12.0);
    EXPECT_EQ(record.localValue2, 0.1);
    EXPECT_EQ(record.localValue3, 0.99);

    // Without direction lights the mean direction stays zero.
    view.viewSettings.lights.RemoveAll();
    AddLight(view, Vec3{0.0, 0.0, 1.0}, 1.0, true)->localValue2 = 1.0;
    view.PrepareLights();
    EXPECT_EQ(Vec3Compare(view.meanLightDirection, ZERO_VEC3), 0);
    EXPECT_EQ(view.directionLightCount, 0);
    EXPECT_EQ(view.renderLights[0].localValue2, 0.8);
}

}  // namespace
