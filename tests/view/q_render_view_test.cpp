#include "view/q_render_view.h"

#include "core/colour.h"
#include "core/rotation.h"
#include "core/scalar_maths.h"
#include "core/private_block.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "model/q_morvan_objects.h"
#include "object/q_abort_exception.h"
#include "object/q_reference_object.h"
#include "render/cast_frame_pass.h"
#include "render/span_shade.h"
#include "view/view_buffers_exception.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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
    view.viewSettings.lights.RemoveAll();
    view.viewSettings.camera.Assign(QCamera());
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

// Asks for the running operation to be abandoned when it hears the progress message.
class AbortOnProgress final : public QReferenceObject {
public:
    explicit AbortOnProgress(QDocumentBase& watched) : document(watched) {
        AddReference(&document, this, 0);
    }
    ~AbortOnProgress() override { RemoveReference(&document, this, 0); }
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject*,
                       QReferenceObject*) override {
        if (message == 7 && a == DocumentChangeProgress) document.abortRequested = true;
    }

private:
    QDocumentBase& document;
};

TEST(QRenderView, NewViewHasTheDefaultSettings) {
    QDocumentBase document;
    QRenderView view(&document);
    const ViewSettings& settings = view.viewSettings;
    EXPECT_EQ(Vec3Compare(settings.camera.position, Vec3{0.0, 0.0, -10.0}), 0);
    EXPECT_EQ(settings.camera.fov, 1.0);
    EXPECT_EQ(settings.camera.m, 1.0);
    EXPECT_EQ(settings.nearDepth, 6.0);
    EXPECT_EQ(settings.farDepth, 14.0);
    EXPECT_EQ(settings.lights.Count(), 2);
    EXPECT_EQ(settings.lights.view, &view);
    EXPECT_EQ(ColourToRgb24(settings.colours[0]), 0x808080u);
    EXPECT_EQ(view.shade.highlight, (std::array<std::int32_t, 3>{357, 255, 61}));

    // Returning to the defaults clears the frame-valid and defer flags.
    view.isFrameValid = true;
    view.isDeferred = true;
    view.viewSettings.SetDefaults(view);
    EXPECT_FALSE(view.isFrameValid);
    EXPECT_FALSE(view.isDeferred);
}

TEST(QRenderView, ReportProgress) {
    QDocumentBase document;
    QRenderView view(&document);
    struct Case {
        std::int32_t current, from, to, stage, percent;
    };
    const Case cases[] = {{50, 0, 100, 2, 50}, {50, 20, 120, 3, 50}, {7, 5, 5, 1, 0},
                          {0, 0, 0, 4, 0},     {100, 0, 100, 12, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stage);
        EXPECT_EQ(view.ReportProgress(c.current, c.from, c.to, c.stage), 0);
        EXPECT_EQ(document.progressPercent, c.percent);
        EXPECT_EQ(document.progressStage, c.stage);
        EXPECT_EQ(view.progressText, "Stage: " + std::to_string(c.stage));
        EXPECT_EQ(view.progress.current, c.current);
        EXPECT_EQ(view.progress.to, c.to);
    }

    // A listener that asks to abandon the operation makes the report throw.
    AbortOnProgress listener(document);
    EXPECT_THROW(view.ReportProgress(1, 0, 10, 2), QAbortException);
    // Without a document there is nobody to tell.
    QRenderView alone(nullptr);
    EXPECT_EQ(alone.ReportProgress(1, 0, 0, 2), 0);
}

TEST(QRenderView, InitViewBuffers) {
    QRenderView view(nullptr);
    std::vector<std::uint32_t> pixels(64 * 64);
    EXPECT_FALSE(view.InitViewBuffers(6 * 4, pixels.data(), 6, 6, false));
    EXPECT_EQ(view.FrameWidth(), 6);
    EXPECT_EQ(view.FrameHeight(), 6);
    try {
        view.InitViewBuffers(6 * 4, pixels.data(), 6, 6, true);
        ADD_FAILURE() << "no exception";
    } catch (const ViewBuffersException& failure) {
        EXPECT_EQ(failure.SizeResult(), RenderSizeTooSmall);
        EXPECT_EQ(failure.Message(), "Error in QRenderView::InitViewBuffers");
    }

    EXPECT_TRUE(view.InitViewBuffers(64 * 4, pixels.data(), 64, 48, true));
    EXPECT_EQ(view.FrameWidth(), 64);
    EXPECT_EQ(view.GetFrameBits(), pixels.data());
    EXPECT_EQ(view.GetFrameStride(), 256);
    EXPECT_EQ(view.centreX, 32.0);
    EXPECT_EQ(view.centreY, 24.0);
    EXPECT_FALSE(view.isFrameValid);
    EXPECT_EQ(view.focalScale, 1.0);
}

TEST(QRenderView, FogLayersBecomeFogVolumesSeenFromTheCamera) {
    QRenderView view(nullptr);
    view.fogBlock.isSwitchOn = 1;
    view.PrepareRender(view.viewSettings);
    // The first layer is flagged, the second not; the volume's quadric at a view-space point
    // equals the layer's quadric at the same point in the world.
    ASSERT_TRUE(view.shade.fogVolumes[0].isEnabled);
    EXPECT_FALSE(view.shade.fogVolumes[1].isEnabled);
    EXPECT_EQ(view.shade.fogVolumes[0].p, view.fogBlock.layers[0].values);
    const FogVolume& fog = view.shade.fogVolumes[0];
    const Vec3 inView{0.3, -0.2, 7.0};
    Vec3 world = inView;
    view.TransformByInverseView(world);
    const auto& f = fog.form;
    const double q = inView.x * (f[0] * inView.x + f[1] * inView.y + f[2] * inView.z) +
                     inView.y * (f[3] * inView.x + f[4] * inView.y + f[5] * inView.z) +
                     inView.z * (f[6] * inView.x + f[7] * inView.y + f[8] * inView.z) +
                     2.0 * Vec3Dot(fog.linear, inView) + fog.constant;
    const auto& w = view.fogBlock.quadrics[0].m;
    const double v[4] = {1.0, world.x, world.y, world.z};
    double expected = 0.0;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) expected += v[i] * w[i * 4 + j] * v[j];
    }
    EXPECT_NEAR(q, expected, 1e-9 * (1.0 + std::fabs(expected)));
}

TEST(QRenderView, CameraAndScreenTransforms) {
    QRenderView view(nullptr);
    Matrix4 m = MakeRotationAboutAxis(Vec3{0.3, 1.0, -0.2}, 0.7);
    m.m[3] = 1.5;
    const Matrix4 start = m;
    view.ConjugateByView(m);
    view.ConjugateByInverseView(m);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i], start.m[i], 1e-12) << i;

    // The camera matrix takes view space back to the world.
    const Matrix4 camera = FromWFirstMatrix(view.GetCameraMatrix());
    Vec3 p{0.5, -1.0, 4.0};
    const auto& c = camera.m;
    Vec3 back{c[0] * p.x + c[1] * p.y + c[2] * p.z + c[3], c[4] * p.x + c[5] * p.y + c[6] * p.z + c[7],
              c[8] * p.x + c[9] * p.y + c[10] * p.z + c[11]};
    view.TransformByView(back);
    EXPECT_NEAR(back.x, p.x, 1e-12);
    EXPECT_NEAR(back.y, p.y, 1e-12);
    EXPECT_NEAR(back.z, p.z, 1e-12);

    // Directions: there and back; a screen step at depth 10 with focal 1000 is 0.01 per
    // pixel.
    const Vec3 d = view.ViewDirToWorld(view.WorldDirToView(Vec3{1.0, 2.0, 3.0}));
    EXPECT_NEAR(d.y, 2.0, 1e-12);
    const Vec3 step = view.WorldDirToView(view.ScreenDeltaToWorld(3.0, -4.0, 10.0));
    EXPECT_NEAR(step.x, 0.03, 1e-12);
    EXPECT_NEAR(step.y, -0.04, 1e-12);
    EXPECT_NEAR(step.z, 0.0, 1e-12);

    // A drag on a plane facing the camera moves by the screen step at the plane's depth; no
    // drag, no move.
    view.focalScale = 1.0;
    Vec3 origin{};
    const Vec3 facing = view.ViewDirToWorld(Vec3{0.0, 0.0, 1.0});
    const Vec3 still = view.ScreenDragOnPlane(5.0, 5.0, 5.0, 5.0, origin, facing);
    EXPECT_NEAR(Vec3Length(still), 0.0, 1e-12);
    const Vec3 moved = view.WorldDirToView(view.ScreenDragOnPlane(0.0, 0.0, 100.0, 0.0, origin, facing));
    EXPECT_NEAR(moved.x, 1.0, 1e-9);  // 100 pixels at depth 10
    EXPECT_NEAR(moved.y, 0.0, 1e-9);
    EXPECT_NEAR(moved.z, 0.0, 1e-9);

    view.ScaleZoom(2.0);
    EXPECT_EQ(view.viewSettings.camera.m, 2.0);
}

TEST(QRenderView, RendersTheDocumentAndMeasuresDepths) {
    QDocumentBase document;
    QRenderView view(&document);
    std::vector<std::uint32_t> pixels(80 * 60, 0x12345678u);
    EXPECT_EQ(view.RenderDocument(), CastNotSized);  // not sized yet
    EXPECT_EQ(pixels[0], 0x12345678u);
    ASSERT_TRUE(view.InitViewBuffers(80 * 4, pixels.data(), 80, 60, true));
    double nearest = 0.0, farthest = 0.0;
    EXPECT_EQ(view.MeasureDepthRange(nearest, farthest), -1.0);
    EXPECT_EQ(nearest, DBL_MAX);
    EXPECT_EQ(farthest, 0.0);

    // An empty scene shows the background everywhere, transparent.
    ASSERT_EQ(view.RenderDocument(), CastDone);
    for (const std::uint32_t pixel : pixels) ASSERT_EQ(pixel, 0x00808080u);

    // The document's own sphere at the origin lies straight ahead of the default camera: the
    // centre is covered and opaque, the corner stays background.
    document.Objects()->AddShapeType1(0.1, ColourFromBytes(255, 255, 255), Vec3{});
    ASSERT_EQ(view.RenderDocument(), CastDone);
    EXPECT_EQ(pixels[30 * 80 + 40] >> 24, 0xFFu);
    EXPECT_EQ(pixels[0], 0x00808080u);

    // A sphere of radius 2 at depth 100 in view space (20 pixels across at focal 1000), lit
    // by the view's default lights.
    Matrix4W sphere;
    sphere.m[0] = 10000.0 - 4.0;
    sphere.m[3] = sphere.m[12] = -100.0;
    sphere.m[5] = sphere.m[10] = sphere.m[15] = 1.0;
    view.parts.Clear();
    view.parts.AddPart(1);
    view.parts.SetViewForms(0, {&sphere, 1}, sphere);
    view.parts.Part(0).colour = 0xFFFFFF;
    ASSERT_EQ(RenderShadedFrame(view), CastDone);
    EXPECT_EQ(pixels[30 * 80 + 40] >> 24, 0xFFu);
    EXPECT_EQ(pixels[0], 0x00808080u);
    const double mean = view.MeasureDepthRange(nearest, farthest);
    EXPECT_GT(nearest, 98.0 - 1e-9);
    EXPECT_LT(farthest, 100.0);
    EXPECT_GT(mean, nearest);
    EXPECT_LT(mean, farthest);
}

TEST(QRenderView, TheDrawStateAndTheLinesReachTheRenderer) {
    QDocumentBase document;
    QRenderView view(&document);
    std::vector<std::uint32_t> pixels(80 * 60);
    ASSERT_TRUE(view.InitViewBuffers(80 * 4, pixels.data(), 80, 60, true));
    // A new view draws its point samples as cast, without lines.
    EXPECT_FALSE(view.edges.isRefined);
    EXPECT_EQ(view.shade.drawStyle, 0);
    EXPECT_FALSE(view.options.edgeLines);
    EXPECT_EQ(view.EdgeIndexMap(), nullptr);

    // The flat styles take the first width and colour 3, the shaded ones the second width and
    // colour 4; widths stop at 2.2 pixels. Lines turn the pixel pass on, which the wr switch
    // keeps off.
    view.viewSettings.viewScale1 = 1.5f;
    view.viewSettings.viewScale2 = 3.0f;
    view.viewSettings.colours[3] = ColourFromBytes(1, 2, 3);
    view.viewSettings.colours[4] = ColourFromBytes(4, 5, 6);
    struct Case {
        std::int32_t mode;
        std::int32_t style;
        bool isRefined;
        double width;
        std::uint32_t colour;
    };
    for (const Case& c : {Case{0, 0, false, 2.2, 0x040506}, Case{1, 0, false, 2.2, 0x040506},
                          Case{3, -1, true, 2.2, 0x040506}, Case{4, 1, true, 1.5, 0x010203},
                          Case{5, 2, true, 1.5, 0x010203}}) {
        SCOPED_TRACE("draw mode " + std::to_string(c.mode));
        view.SetDrawMode(c.mode);
        view.PrepareRender(view.viewSettings);
        EXPECT_EQ(view.shade.drawStyle, c.style);
        EXPECT_EQ(view.edges.isRefined, c.isRefined);
        EXPECT_EQ(view.options.edgeLines, c.style != 0);
        EXPECT_EQ(view.EdgeIndexMap() != nullptr, c.style != 0);
        EXPECT_DOUBLE_EQ(view.edges.outlineWidth, c.width);
        EXPECT_EQ(view.edges.outlineColour, c.colour);
    }

    // Lines coming or going size the buffers again (the backups go, the frame is no longer
    // valid); a change between two styles with lines keeps them, and so does quick mode,
    // which draws the quick look without lines.
    view.SetDrawMode(0);
    view.PrepareRender(view.viewSettings);
    for (const auto& [mode, isKept] : {std::pair{4, false}, std::pair{5, true}}) {
        SCOPED_TRACE("to draw mode " + std::to_string(mode));
        ASSERT_EQ(view.AllocAuxBuffers(), 0);
        view.isFrameValid = true;
        view.SetDrawMode(mode);
        view.PrepareRender(view.viewSettings);
        EXPECT_TRUE(view.BuffersReady());
        EXPECT_EQ(view.AuxBuffersReady(), isKept);
        EXPECT_EQ(view.isFrameValid, isKept);
    }
    view.isQuickMode = true;
    view.PrepareRender(view.viewSettings);
    EXPECT_EQ(view.shade.drawStyle, 0);
    EXPECT_FALSE(view.edges.isRefined);
    EXPECT_TRUE(view.AuxBuffersReady());
    EXPECT_NE(view.EdgeIndexMap(), nullptr);
}

TEST(QRenderView, TwoDepthSamplesSmoothTheSilhouetteUnlessTheQuickLookIsAsked) {
    // The document's sphere straight ahead: with the pixel pass its rim takes partial alpha,
    // the coverage of each rim pixel; point samples are either opaque or transparent. Two
    // samples per pixel turn the pass on, the wr switch (draw mode 1) keeps it off.
    QDocumentBase document;
    QRenderView view(&document);
    std::vector<std::uint32_t> pixels(80 * 60);
    ASSERT_TRUE(view.InitViewBuffers(80 * 4, pixels.data(), 80, 60, true));
    ASSERT_EQ(view.SetSamplesPerPixel(2), RenderSizeOk);
    document.Objects()->AddShapeType1(0.1, ColourFromBytes(255, 255, 255), Vec3{});
    for (const std::int32_t mode : {0, 1}) {
        view.SetDrawMode(mode);
        ASSERT_EQ(view.RenderDocument(), CastDone);
        EXPECT_EQ(view.edges.isRefined, mode == 0);
        std::int32_t partial = 0, opaque = 0;
        for (const std::uint32_t pixel : pixels) {
            const std::uint32_t alpha = pixel >> 24;
            partial += alpha != 0 && alpha != 255 ? 1 : 0;
            opaque += alpha == 255 ? 1 : 0;
        }
        EXPECT_GT(opaque, 20) << "draw mode " << mode;
        if (mode == 0) {
            EXPECT_GT(partial, 8);
        } else {
            EXPECT_EQ(partial, 0);
        }
    }
}

TEST(QRenderView, DrawsTheDocumentsStarsWhereTheCameraLooks) {
    QDocumentBase document;
    QRenderView view(&document);
    // The star switch on with no stars to draw: the view asks for the sky buffer and leaves
    // the field that follows alone while the settings stay as they are.
    view.viewSettings.stars.isOn = true;
    std::vector<std::uint32_t> pixels(80 * 60, 0u);
    ASSERT_TRUE(view.InitViewBuffers(80 * 4, pixels.data(), 80, 60, true));
    ASSERT_NE(view.SkyBuffer(), nullptr);

    // Two bright stars of the world: one along the camera's view axis, one straight behind it.
    Vec3 eye{0.0, 0.0, 0.0};
    Vec3 ahead{0.0, 0.0, 1.0};
    view.TransformByInverseView(eye);
    view.TransformByInverseView(ahead);
    const Vec3 axis = Vec3Sub(ahead, eye);
    StarField& field = document.Geometry()->starField;
    field.stars = PrivateAllocBlock<Star>(2);
    field.count = 2;
    for (std::size_t i = 0; i < 2; ++i) {
        Star& star = field.stars.get()[i];
        const double sign = i == 0 ? 0.5 : -0.5;
        star.x = static_cast<float>(axis.x * sign);
        star.y = static_cast<float>(axis.y * sign);
        star.z = static_cast<float>(axis.z * sign);
        star.random = 1.0f;
        star.size = 1.5f;
        star.colour = 0xFFFFFF;
    }
    ASSERT_EQ(view.RenderDocument(), CastDone);
    // The star ahead lights the centre; the one behind lights nothing.
    std::int32_t lit = 0;
    for (std::int32_t y = 28; y < 32; ++y) {
        for (std::int32_t x = 38; x < 42; ++x) {
            lit += (pixels[static_cast<std::size_t>(y * 80 + x)] & 0xFF) > 0x80 ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 0);
    std::int32_t elsewhere = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) elsewhere += (pixels[i] & 0xFF) > 0x80 ? 1 : 0;
    EXPECT_EQ(elsewhere, lit);
    // Its square of radius 1.5 about the centre (40, 30) covers columns 39..42, rows 29..32.
    EXPECT_EQ(view.starSky.entryCount, 16);
}

TEST(QRenderView, StarSettingsDrawTheFieldTheyDescribe) {
    QDocumentBase document;
    QRenderView view(&document);
    StarSettings& stars = view.viewSettings.stars;
    stars = StarSettings{true, 3000, 7, 1.5f, 0.5f};
    view.viewSettings.colours[0] = ColourFromRgb24(0x000000);
    // A wide view, so that a good share of the sky lies in the frame.
    view.viewSettings.camera.fov = 0.02;
    std::vector<std::uint32_t> pixels(80 * 60, 0u);
    ASSERT_TRUE(view.InitViewBuffers(80 * 4, pixels.data(), 80, 60, true));
    // The document has no parts: the frame shows the black background and the stars.
    const auto litPixels = [&] {
        view.RenderDocument();
        std::int32_t lit = 0;
        for (const std::uint32_t p : pixels) lit += (p & 0xFF) > 0x40 ? 1 : 0;
        return lit;
    };
    const StarField& field = document.Geometry()->starField;
    EXPECT_GT(litPixels(), 0);
    ASSERT_NE(field.stars, nullptr);
    EXPECT_EQ(field.count, 3000);
    EXPECT_TRUE(view.shade.isStars);
    const Star first = field.stars.get()[0];

    // Another seed draws another field; the switch off keeps it but draws none of it.
    stars.seed = 8;
    litPixels();
    EXPECT_NE(field.stars.get()[0].x, first.x);
    stars.isOn = false;
    EXPECT_EQ(litPixels(), 0);
    EXPECT_FALSE(view.shade.isStars);
    EXPECT_EQ(field.count, 3000);
}

TEST(QRenderView, StarsTurnedOnAfterSizingShowInTheNextFrame) {
    // Sized with the switch off the view has no sky buffer; turning the switch on makes it,
    // so the next frame shows the stars without sizing again.
    QDocumentBase document;
    QRenderView view(&document);
    view.viewSettings.stars = StarSettings{false, 3000, 7, 1.5f, 0.5f};
    view.viewSettings.colours[0] = ColourFromRgb24(0x000000);
    view.viewSettings.camera.fov = 0.02;
    std::vector<std::uint32_t> pixels(80 * 60, 0u);
    ASSERT_TRUE(view.InitViewBuffers(80 * 4, pixels.data(), 80, 60, true));
    EXPECT_EQ(view.SkyBuffer(), nullptr);
    view.viewSettings.stars.isOn = true;
    ASSERT_EQ(view.RenderDocument(), CastDone);
    EXPECT_NE(view.SkyBuffer(), nullptr);
    std::int32_t lit = 0;
    for (const std::uint32_t p : pixels) lit += (p & 0xFF) > 0x40 ? 1 : 0;
    EXPECT_GT(lit, 0);
}

}  // namespace
