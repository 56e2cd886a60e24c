#include "gizmo/gizmo_loader.h"

#include "app/headless_display.h"
#include "core/byte_order.h"
#include "core/private_heap.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "gizmo/gizmo_part_fields.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/scene_physics_parts.h"
#include "model/q_document_base.h"
#include "platform/file_bytes.h"
#include "platform/program_folder.h"
#include "platform/work_area.h"
#include "support/temp_folder.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

const std::string FixturePath = std::string(ORBELLE_TEST_DATA_DIR) + "/flipper_table.kvr";

std::string FixtureText() {
    FileBytes file;
    EXPECT_EQ(file.Read(FixturePath), FileOpenError::None);
    const auto bytes = file.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

// The fixture with one piece of text replaced; the piece must be there.
std::string FixtureWith(std::string_view from, std::string_view to) {
    std::string text = FixtureText();
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::uint8_t Flags(const GizmoScene& scene, std::int32_t part) {
    return scene.partTable[static_cast<std::size_t>(part)][PartRecordFlagsOffset];
}

// Parts of the fixture, by index.
constexpr std::int32_t StagePart = 0;
constexpr std::int32_t BallPart = 1;
constexpr std::int32_t TargetPart = 2;
constexpr std::int32_t PaddlePart = 3;
constexpr std::int32_t PaddleUpPart = 4;
constexpr std::int32_t FirstDiscPart = 5;

TEST(GizmoLoader, LoadsTheFixtureIntoAPausedGizmo) {
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    EXPECT_EQ(scene.active, 1);
    EXPECT_EQ(scene.paused, 1);
    EXPECT_EQ(scene.fileID, "flipper-table");
    EXPECT_EQ(scene.soundNames, (std::vector<std::string>{ProgramFolder() + "Sounds/bounce.wav",
                                                          ProgramFolder() + "Sounds/flip.wav"}));

    const GizmoWorld& world = *scene.world;
    EXPECT_EQ(world.stagePart, StagePart);
    EXPECT_EQ(world.gravity, -10.0);
    EXPECT_EQ(world.stageRadius, 4.0);
    EXPECT_NEAR(world.floorY, -0.25, 1e-6);
    ASSERT_EQ(world.objects.size(), 2u);
    const GizmoObject& ball = *world.objects[0];
    const GizmoObject& paddle = *world.objects[1];
    EXPECT_EQ(ball.isFlyer, 1);
    EXPECT_EQ(ball.flyer.live, 1);
    EXPECT_EQ(ball.sound, 0);
    EXPECT_TRUE(paddle.IsFlipper());
    EXPECT_EQ(paddle.sound, 1);
    EXPECT_EQ(paddle.flipper.keyBits, 1);
    EXPECT_EQ(paddle.flipper.activated, 1);
    EXPECT_EQ(paddle.flipper.goTime, 0.25);
    // The flyer falls from the start; the key-triggered paddle waits.
    EXPECT_EQ(scene.movingPartList, std::vector<std::int32_t>{BallPart});
    EXPECT_EQ(world.objectById[static_cast<std::size_t>(PaddlePart)], &paddle);

    // Roles in the gizmo's records and in the geometry.
    const SceneGeometry& geometry = *scene.geometry;
    EXPECT_EQ(Flags(scene, StagePart) & 0x08, 0x08);
    EXPECT_EQ(Flags(scene, PaddleUpPart) & 0x8C, 0x8C);
    EXPECT_EQ(geometry.Part(PaddleUpPart)->visible, 0);
    EXPECT_EQ(geometry.Part(PaddleUpPart)->options[1], 1);
    EXPECT_EQ(geometry.Part(PaddlePart)->visible, 1);
    const std::uint8_t* target = scene.partTable[static_cast<std::size_t>(TargetPart)];
    EXPECT_FLOAT_EQ(PartRecordFriction(target), 0.2f);
    EXPECT_FLOAT_EQ(PartRecordLoss(target), 0.1f);
    EXPECT_EQ(PartRecordCollisionBits(target), 2u);

    // Two hidden catcher discs below the floor and above the flyer, stage-wide.
    ASSERT_EQ(geometry.PartCount(), FirstDiscPart + 2);
    ASSERT_EQ(scene.partTable.size(), static_cast<std::size_t>(FirstDiscPart + 2));
    for (std::int32_t disc = FirstDiscPart; disc < FirstDiscPart + 2; ++disc) {
        SCOPED_TRACE(disc);
        const PartRenderRecord* part = geometry.Part(disc);
        EXPECT_EQ(part->shapeType, ShapeType::Ellipsoid);
        EXPECT_EQ(part->visible, 0);
        EXPECT_EQ(part->options[2], 1);
        EXPECT_EQ(Flags(scene, disc), 0x8C);
        EXPECT_NEAR(PartRecordParam(scene.partTable[static_cast<std::size_t>(disc)], 0),
                    4.0 + ball.flyer.size, 1e-5);
    }
    EXPECT_LT(PartRecordPosition(scene.partTable[FirstDiscPart]).y, world.floorY);
    EXPECT_GT(PartRecordPosition(scene.partTable[FirstDiscPart + 1]).y, world.topY);
    // Nothing of the gizmo's reaches the document's own block.
    const std::uint8_t* documentBlock = scene.view->Document()->PartBlock();
    EXPECT_EQ(LoadU32LE(documentBlock + 4), static_cast<std::uint32_t>(FirstDiscPart));
}

TEST(GizmoLoader, AimsTheCameraAtTheOriginAndSizesTheWindowToThePicture) {
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    const QRenderView& view = *scene.view;
    EXPECT_NEAR(scene.minCameraDistance, 1.75 * scene.sceneRadius, 1e-12);
    EXPECT_NEAR(scene.loadDistance, std::sqrt(36.0 + 144.0), 1e-5);

    // The view looks from where the file put the camera, straight at the origin.
    const Matrix4 viewFromWorld = view.GetViewMatrix();
    const Vec3 origin = TransformPoint(viewFromWorld, 0.0, 0.0, 0.0);
    EXPECT_NEAR(origin.x, 0.0, 1e-9);
    EXPECT_NEAR(origin.y, 0.0, 1e-9);
    EXPECT_NEAR(origin.z, scene.loadDistance, 1e-5);

    // The shadow maps cover the ball that holds the drawn parts, seen from the camera.
    const Vec3 centre = TransformPoint(viewFromWorld, scene.sceneCentre.x, scene.sceneCentre.y,
                                       scene.sceneCentre.z);
    EXPECT_NEAR(view.shadowCentre.x, centre.x, 1e-5);
    EXPECT_NEAR(view.shadowCentre.y, centre.y, 1e-5);
    EXPECT_NEAR(view.shadowCentre.z, centre.z, 1e-5);
    EXPECT_GT(scene.perspective, 0.0);
    EXPECT_EQ(view.shadowRadius, scene.perspective);
    EXPECT_TRUE(view.isShadowRadiusReady);
    // A file without shadow values leaves the light maps at the view's density.
    EXPECT_EQ(view.lightMapScale, 1.25);
    EXPECT_GT(view.perspectiveFactor, 0.0);

    // The window lies in the work area and the view's frame is its size.
    const ScreenRect& rect = scene.windowRect;
    EXPECT_GE(rect.left, DefaultWorkArea.left);
    EXPECT_GE(rect.top, DefaultWorkArea.top);
    EXPECT_LE(rect.right, DefaultWorkArea.right);
    EXPECT_LE(rect.bottom, DefaultWorkArea.bottom);
    EXPECT_EQ(view.renderWidth, rect.right - rect.left);
    EXPECT_EQ(view.renderHeight, rect.bottom - rect.top);
    // Narrower than the work area: centred in it.
    EXPECT_EQ(rect.left - DefaultWorkArea.left, DefaultWorkArea.right - rect.right);
    EXPECT_TRUE(view.isFrameValid);
    const std::size_t drawn = static_cast<std::size_t>(
        std::count_if(scene.viewBits.begin(), scene.viewBits.end(),
                      [](std::uint32_t pixel) { return (pixel >> 24) != 0; }));
    EXPECT_GT(drawn, scene.viewBits.size() / 10);
}

TEST(GizmoLoader, AWindowWiderThanTheWorkAreaFillsIt) {
    // A fixed work area off the origin, and the one monitor of a small display.
    const FixedWorkArea fixed(ScreenRect{2000, 100, 2120, 190});
    const HeadlessDisplay display("", 300, 200);
    const DisplayWorkAreas monitors(display);
    const struct {
        const WorkAreaSource* source;
        ScreenRect area;
    } cases[] = {{&fixed, {2000, 100, 2120, 190}}, {&monitors, {0, 0, 300, 200}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.area.left);
        const ScopedWorkAreaSource installed(*c.source);
        GizmoScene scene;
        ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
        EXPECT_EQ(scene.workArea.left, c.area.left);
        EXPECT_EQ(scene.windowRect.left, c.area.left);
        EXPECT_EQ(scene.windowRect.top, c.area.top);
        EXPECT_EQ(scene.windowRect.right, c.area.right);
        EXPECT_EQ(scene.windowRect.bottom, c.area.bottom);
        EXPECT_EQ(scene.view->renderWidth, c.area.right - c.area.left);
        EXPECT_EQ(scene.view->renderHeight, c.area.bottom - c.area.top);
    }
}

TEST(GizmoLoader, FailedLoadsLeaveTheirMessageAndNothingLoaded) {
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"not a scene", "this is not XML", "Cannot load a scene file"},
        {"no stage", FixtureWith("&lt;Stage gravity=\"10\" fileID=\"flipper-table\"/&gt;", ""),
         "There has to be a stage object"},
        {"newer gizmo",
         FixtureWith("fileID=\"flipper-table\"", "fileID=\"flipper-table\" compatibility=\"3\""),
         "This file requires the latest version of Orbelle"},
        {"flipper without second state", FixtureWith("&lt;Flip id=\"paddle\" state=\"1\"/&gt;", ""),
         "Flipper Paddle must have second state"},
        {"camera at the origin",
         FixtureWith("<Camera px=\"AAAAAA==\" py=\"AAAWRA==\" pz=\"AACWxA==\"",
                     "<Camera px=\"AAAAAA==\" py=\"AAAAAA==\" pz=\"AAAAAA==\""),
         "The camera stands at the centre of the scene"},
        {"eye inside a block",
         // A camera far out is brought in to 50 units, which puts it inside a large block.
         FixtureWith("<Camera px=\"AAAAAA==\" py=\"AAAWRA==\" pz=\"AACWxA==\"",
                     "<Camera px=\"AAAAAA==\" py=\"AAAAAA==\" pz=\"AECcxg==\"")
             .replace(FixtureText().find("</KVR>"), 0,
                      "<Obj o=\"3\" f=\"0\" g=\"9\" c=\"0\" n=\"3\" e=\"0\" px=\"AAAAAA==\" "
                      "py=\"AAAAAA==\" pz=\"AKCMxQ==\" rx=\"AAAAAA==\" ry=\"AAAAAA==\" "
                      "rz=\"AAAAAA==\" gi=\"0\" t=\"\"><P>AAD6RA==</P><P>AAD6RA==</P>"
                      "<P>AAD6RA==</P></Obj>\r\n"),
         "Viewpoint is inside a solid object"},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.WriteFile(std::string(c.name) + ".kvr", c.text);
        GizmoScene scene;
        EXPECT_EQ(LoadGizmo(path, scene), -1);
        EXPECT_EQ(scene.errorText, c.message);
        EXPECT_EQ(scene.active, 0);
        EXPECT_EQ(scene.world, nullptr);
        EXPECT_EQ(scene.view, nullptr);
        EXPECT_EQ(scene.document, nullptr);
        EXPECT_EQ(CurrentDocument(), nullptr);
    }
}

// The fixture with a slider: a knob (part 5) whose axis goes straight down onto the top of a
// round guide (part 6), turned about z by knobTurn (a rotation vector's base64 z), and the
// guide's id and the slider's.
std::string WithSlider(std::string_view guideId, std::string_view knobTurn) {
    std::string text = FixtureText();
    text.insert(text.find("</Groups>"),
                "<Group name=\"Knob\" parms='&lt;G&gt;&lt;Slide id=\"s\" "
                "orientation=\"fixed\" map=\"top\"/&gt;&lt;/G&gt;'/>");
    text.insert(text.find("</KVR>"),
                "<Obj o=\"3\" f=\"0\" g=\"6\" c=\"0\" n=\"3\" e=\"0\" px=\"AAB6Qw==\" "
                "py=\"AACMQg==\" pz=\"AABIQw==\" rx=\"AAAAAA==\" ry=\"AAAAAA==\" rz=\"" +
                    std::string(knobTurn) +
                    "\" gi=\"4\" t=\"\"><P>AADwQQ==</P><P>AADwQQ==</P><P>AADwQQ==</P></Obj>\r\n"
                    "<Obj o=\"2\" f=\"0\" g=\"7\" c=\"0\" n=\"2\" e=\"0\" px=\"AAB6Qw==\" "
                    "py=\"AADIQQ==\" pz=\"AABIQw==\" rx=\"AAAAAA==\" ry=\"AAAAAA==\" "
                    "rz=\"AAAAAA==\" gi=\"0\" t='&lt;G&gt;&lt;Guide id=\"" +
                    std::string(guideId) +
                    "\"/&gt;&lt;/G&gt;'><P>AABIQg==</P><P>AADIQg==</P></Obj>\r\n");
    return text;
}

TEST(GizmoLoader, SetsUpASliderOnItsGuide) {
    TempFolder folder;
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(folder.WriteFile("slider.kvr", WithSlider("s", "AAAAAA==")), scene), 0)
        << scene.errorText;
    ASSERT_EQ(scene.world->objects.size(), 3u);
    // Objects come in the order of the groups, which the document keeps sorted by name.
    const GizmoObject& knob = *scene.world->objects[1];
    EXPECT_EQ(knob.isSlider, 1);
    EXPECT_EQ(knob.slider.guidePart, 6);
    EXPECT_EQ(knob.slider.coordinateMode, 1);
    EXPECT_EQ(knob.slider.hasProfile, 1);
    // The knob sits on the guide's top (y = 0.5) with its own centre 0.2 above it.
    EXPECT_NEAR(knob.slider.guidePoint.y, 0.5, 1e-6);
    EXPECT_NEAR(knob.position.y, 0.7, 1e-6);
    EXPECT_EQ(scene.world->objectById[5], &knob);
    // The knob's part in the geometry stands where the slider placed it.
    EXPECT_NEAR(scene.geometry->Part(5)->boundCentre.y, 0.7, 1e-6);
}

TEST(GizmoLoader, RefusesASliderWithoutItsGuideOrAcrossIt) {
    const struct {
        const char* name;
        const char* guideId;
        const char* knobTurn;
        const char* message;
    } cases[] = {
        {"no guide of its id", "t",
         "AAAAAA==", "Slider Knob must have a guide object with matching id"},
        {"turned 30 degrees", "s", "kgoGPw==",
         "Slider Knob's axis is not perpendicular to the surface of its guiding object"},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GizmoScene scene;
        EXPECT_EQ(
            LoadGizmo(folder.WriteFile("slider.kvr", WithSlider(c.guideId, c.knobTurn)), scene),
            -1);
        EXPECT_EQ(scene.errorText, c.message);
        EXPECT_EQ(scene.world, nullptr);
    }
}

TEST(GizmoLoader, HiddenPartsWithARoleTextCollideAndWithoutOneDoNot) {
    // The target is hidden in the file. With its role text it collides while hidden; with an
    // empty text it takes no part in collisions.
    struct Case {
        const char* name;
        const char* text;
        std::uint8_t collidesHidden;
    };
    const Case cases[] = {
        {"role text",
         "t='&lt;G&gt;&lt;Collide friction=\"0.2\" loss=\"0.1\"/&gt;&lt;Game "
         "collisReset=\"2\"/&gt;&lt;/G&gt;'",
         0x10},
        {"text that does not parse", "t=\"not xml\"", 0x10},
        {"empty text", "t=\"\"", 0},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = FixtureWith("o=\"3\" f=\"0\" g=\"3\"", "o=\"3\" f=\"128\" g=\"3\"");
        const std::size_t obj = text.find("g=\"3\"");
        const std::size_t from = text.find(" t=", obj);
        const std::size_t to = text.find('>', text.find("/&gt;&lt;/G&gt;", from));
        ASSERT_NE(to, std::string::npos);
        text.replace(from + 1, to - from - 1, c.text);
        GizmoScene scene;
        ASSERT_EQ(LoadGizmo(folder.WriteFile("hidden.kvr", text), scene), 0) << scene.errorText;
        EXPECT_EQ(Flags(scene, TargetPart) & 0x10, c.collidesHidden);
        EXPECT_EQ(scene.geometry->Part(TargetPart)->options[3], c.collidesHidden != 0 ? 1 : 0);
        EXPECT_EQ(scene.geometry->Part(TargetPart)->visible, 0);
    }
}

TEST(GizmoLoader, APartThatGivesNoShapeStaysUndrawn) {
    // A ball of radius 0 has no surfaces. Had the loader's flags made it drawn, it would hold
    // every point, the eye among them, and the viewpoint would be refused.
    std::string text = FixtureText();
    const std::size_t radius = text.find("<P>AABIQg==</P>", text.find("gi=\"1\""));
    ASSERT_NE(radius, std::string::npos);
    text.replace(radius, 15, "<P>AAAAAA==</P>");
    TempFolder folder;
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(folder.WriteFile("flat_ball.kvr", text), scene), 0) << scene.errorText;
    EXPECT_EQ(scene.geometry->Part(BallPart)->visible, 0);
    EXPECT_EQ(scene.geometry->Part(BallPart)->surfaceCount, 0);
    EXPECT_EQ(scene.world->objects[0]->flyer.live, 0);
    EXPECT_TRUE(scene.movingPartList.empty());
}

TEST(GizmoLoader, AStageWhoseShapeGivesNoReachGetsTheDefault) {
    // A bowl stage of radius 0: its rim circle's radius would come out not a number, and the
    // flyers' wall with it.
    std::string text = FixtureWith("o=\"2\" f=\"0\" g=\"1\" c=\"4219008\" n=\"2\"",
                                   "o=\"20\" f=\"0\" g=\"1\" c=\"4219008\" n=\"6\"");
    const std::size_t params = text.find("<P>", text.find("o=\"20\""));
    text.insert(params, "<P>AAAAAA==</P><P>AAAAAA==</P><P>AAAAAA==</P><P>AAAAAA==</P>");
    TempFolder folder;
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(folder.WriteFile("bowl.kvr", text), scene), 0) << scene.errorText;
    EXPECT_EQ(scene.world->stageRadius, 5.0);
    EXPECT_TRUE(std::isfinite(scene.world->floorY));
    EXPECT_TRUE(std::isfinite(scene.world->dropY));
}

TEST(GizmoLoader, TwoLoadsDrawTheSameFrame) {
    GizmoScene first;
    GizmoScene second;
    ASSERT_EQ(LoadGizmo(FixturePath, first), 0) << first.errorText;
    const std::vector<std::uint32_t> frame = first.viewBits;
    UnloadGizmo(first);
    ASSERT_EQ(LoadGizmo(FixturePath, second), 0) << second.errorText;
    EXPECT_EQ(second.viewBits, frame);
}

TEST(GizmoLoader, ReadsPhysicsPartsFromTheGeometry) {
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    const std::uint8_t* record = scene.partTable[TargetPart];
    const PhysicsPart part = PhysicsPartOf(*scene.geometry, TargetPart, record);
    EXPECT_EQ(part.partIndex, TargetPart);
    EXPECT_EQ(part.shapeType, ShapeType::Box);
    EXPECT_EQ(part.surfaces.size(), 6u);
    EXPECT_EQ(part.curvedMask, 0u);
    EXPECT_NEAR(part.position.x, 2.0, 1e-6);
    // The box's corners lie on its bounding sphere, and its grid box holds it.
    EXPECT_NEAR(part.sphereRadius, std::sqrt(0.75), 1e-6);
    EXPECT_LE(part.box[0], 1.5 * 1024);
    EXPECT_GE(part.box[1], 2.5 * 1024);
    // The centre is inside every surface.
    const Vec4 centre{1.0, 2.0, 0.5, 0.0};
    for (const Matrix4W& surface : part.surfaces) {
        const Vec4 g = Matrix4TransformVec4(surface, centre);
        EXPECT_LT(g.w + g.x * 2.0 + g.y * 0.5, 0.0);
    }
    EXPECT_EQ(PhysicsPartOf(*scene.geometry, 99, nullptr).partIndex, -1);
}

TEST(GizmoLoader, RunningOutOfMemoryAnywhereFailsCleanly) {
    // Ceilings on the private heap from a few bytes to more than a load needs: each load
    // either succeeds or fails with a message, and gives back everything it took.
    GizmoScene scene;
    const std::size_t bytes = PrivateHeapBytesInUse();
    bool loaded = false;
    for (std::size_t room = 64; !loaded && room < (std::size_t{1} << 30); room += room / 3) {
        SCOPED_TRACE(room);
        PrivateHeapSetCeiling(bytes + room);
        const std::int32_t result = LoadGizmo(FixturePath, scene);
        PrivateHeapSetCeiling(0);
        loaded = result == 0;
        if (!loaded) {
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(scene.errorText == "Not enough memory to load the gizmo" ||
                        scene.errorText == "Cannot load a scene file")
                << scene.errorText;
            EXPECT_EQ(scene.world, nullptr);
            EXPECT_EQ(scene.document, nullptr);
            EXPECT_EQ(CurrentDocument(), nullptr);
        }
        UnloadGizmo(scene);
        EXPECT_EQ(PrivateHeapBytesInUse(), bytes);
    }
    EXPECT_TRUE(loaded);
}

TEST(GizmoLoader, HundredLoadsAndUnloadsGiveBackTheirMemory) {
    // A small work area makes a small window: every load takes the same steps, with small
    // frame buffers.
    const FixedWorkArea small(ScreenRect{0, 0, 96, 72});
    const ScopedWorkAreaSource installed(small);
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    UnloadGizmo(scene);
    const std::size_t bytes = PrivateHeapBytesInUse();
    const std::size_t blocks = PrivateHeapBlockCount();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << i << ": " << scene.errorText;
        UnloadGizmo(scene);
    }
    EXPECT_EQ(PrivateHeapBytesInUse(), bytes);
    EXPECT_EQ(PrivateHeapBlockCount(), blocks);
    EXPECT_EQ(CurrentDocument(), nullptr);
}

}  // namespace
