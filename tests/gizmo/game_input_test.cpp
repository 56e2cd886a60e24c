#include "gizmo/game_input.h"

#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/scene_geometry.h"
#include "gizmo/game_test_support.h"
#include "gizmo/sound_sink.h"
#include "gizmo/view_manipulation.h"
#include "platform/file_bytes.h"
#include "platform/work_area.h"
#include "render/q_render.h"
#include "support/temp_folder.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

class GameInput : public ScriptedGizmoTest {
protected:
    // A press at the window's top-left corner (away from every part) with the modifiers held.
    void PressWith(const std::vector<std::int32_t>& modifiers) {
        for (const std::int32_t key : modifiers) input.HoldKey(key);
        press = ScreenPoint{scene.windowRect.left + 1, scene.windowRect.top + 1};
        cursor.MoveTo(press.x, press.y);
        input.HoldKey(VirtualKeyLeftButton);
        OnGizmoPress(scene, press);
        for (const std::int32_t key : modifiers) input.ReleaseKey(key);
    }
    // The cursor moved by (dx, dy) from the press, and a frame with the button held.
    void DragTo(std::int32_t dx, std::int32_t dy) {
        cursor.MoveTo(press.x + dx, press.y + dy);
        Frames(1);
    }
    void Release() {
        input.ReleaseKey(VirtualKeyLeftButton);
        OnGizmoRelease(scene);
        Frames(1);
    }

    ScreenPoint press;
};

class RecordingSink final : public SoundSink {
public:
    std::vector<std::string> played;
    void PlaySoundByName(std::string_view name, float, float, float) override {
        played.emplace_back(name);
    }
};

double Distance(const Matrix4W& camera) {
    return std::sqrt(camera.m[4] * camera.m[4] + camera.m[8] * camera.m[8] +
                     camera.m[12] * camera.m[12]);
}

TEST_F(GameInput, TriggerKeysOfBothRowsTriggerTheirKeyBit) {
    struct Case {
        std::int32_t key;
        std::int32_t keyBits;
        bool triggers;
    };
    const Case cases[] = {
        {0x31, 1, true},  {0x61, 1, true},      {0x39, 1 << 8, true}, {0x69, 1 << 8, true},
        {0x32, 1, false}, {0x30, 0x1FF, false}, {0x5A, 0x1FF, false}, {0x70, 0x1FF, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        OnGameKey(scene, VirtualKeyEnter);
        ASSERT_EQ(Paddle().inMotion, 0);
        Paddle().flipper.keyBits = c.keyBits;
        OnGameKey(scene, c.key);
        EXPECT_EQ(Paddle().inMotion, c.triggers ? 1 : 0);
    }
}

TEST_F(GameInput, AFlipperPlaysItsSoundOnceWhileKeyRepeatsKeepItGoing) {
    RecordingSink sink;
    SetSoundSink(&sink);
    OnGameKey(scene, VirtualKeyDigit1);
    Frames(2);
    OnGameKey(scene, VirtualKeyDigit1);  // auto-repeat while it moves
    OnGameKey(scene, VirtualKeyDigit1);
    ASSERT_EQ(sink.played.size(), 1u);
    EXPECT_NE(sink.played[0].find("flip"), std::string::npos);
    scene.muted = 1;
    Frames(10);
    OnGameKey(scene, VirtualKeyDigit1);  // at rest again, but muted
    EXPECT_EQ(sink.played.size(), 1u);
    SetSoundSink(nullptr);
}

TEST_F(GameInput, EasedTimeGivesALateTriggerTheRestOfTheStep) {
    scene.previousFrameStamp = 1000;
    scene.frameStamp = 1033;
    scene.view->poll.mode = 1;  // the last render saw nothing held
    struct Case {
        std::uint32_t now;
        double expected;
    };
    const double step = scene.stepTime;
    const Case cases[] = {
        {1033, step}, {1050, step * (1.0 - 17.0 / 33.0)}, {1066, 0.0}, {2000, 0.0}, {1020, step}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.now);
        clock.Set(c.now);
        EXPECT_NEAR(EasedTime(scene), c.expected, 1e-12);
    }
    // The time the render noted wins over the clock.
    scene.view->poll.mode = 0;
    scene.view->poll.timeStamp = 1050;
    EXPECT_NEAR(EasedTime(scene), step * (1.0 - 17.0 / 33.0), 1e-12);
    scene.frameStamp = scene.previousFrameStamp;
    EXPECT_EQ(EasedTime(scene), 0.0);
    // Before the first frame: whatever the clock read at the load.
    scene.frameStamp = 0;
    scene.previousFrameStamp = 0xF0000000u;
    EXPECT_EQ(EasedTime(scene), 0.0);
}

// Marks a block of the last render's samples as showing part, as a render would.
void ShowPartAt(QRenderView& view, std::int32_t part, ScreenRect block) {
    SampleCell* cells = view.SampleBuffer(0);
    const RenderLevel& level = view.Level();
    for (std::int32_t y = block.top; y < block.bottom; ++y) {
        for (std::int32_t x = block.left; x < block.right; ++x) {
            cells[static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(level.cellStride) +
                  static_cast<std::size_t>(x + 1)]
                .pixel = PixelIdOf(part, 0);
        }
    }
}

TEST_F(GameInput, AClickOnOrNearAFlipperThatTakesClicksTriggersIt) {
    ASSERT_EQ(scene.view->reductionLevel, 0);
    ShowPartAt(*scene.view, 3, ScreenRect{200, 300, 240, 310});  // the paddle
    ShowPartAt(*scene.view, 1, ScreenRect{200, 311, 240, 330});  // the ball just below it
    ShowPartAt(*scene.view, 1, ScreenRect{400, 100, 420, 120});  // and far from it
    struct Case {
        const char* name;
        ScreenPoint pixel;
        std::uint8_t takesClicks;
        bool triggers;
    };
    const Case cases[] = {{"on", {220, 305}, 1, true},
                          {"8 pixels off its corner", {240 + 4, 309 + 6}, 1, true},
                          {"9 pixels below", {220, 318}, 1, false},
                          {"on the ball", {410, 110}, 1, false},
                          {"on, no clicks", {220, 305}, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnGameKey(scene, VirtualKeyEnter);
        scene.paused = 1;
        Paddle().flipper.mouseActivated = c.takesClicks;
        OnGizmoMouse(scene, c.pixel.x, c.pixel.y, 0);
        EXPECT_EQ(Paddle().inMotion, c.triggers ? 1 : 0);
        EXPECT_EQ(scene.paused, c.triggers ? 0 : 1);
        // Anything else drags the window, which holds the whole picture.
        EXPECT_EQ(scene.windowDrag, c.triggers ? 0 : 1);
        scene.windowDrag = 0;
    }
}

// The flipper table with a knob (object 1, part 5) that slides on the top of a round guide.
class SliderGame : public ScriptedGizmoTest {
protected:
    void SetUp() override {
        const std::string path = std::string(ORBELLE_TEST_DATA_DIR) + "/slider_table.kvr";
        ASSERT_EQ(LoadGizmo(path, scene), 0) << scene.errorText;
        knob = scene.world->objects[1].get();
        ASSERT_EQ(knob->isSlider, 1);
        // The middle of the knob's picture, on the screen.
        std::int64_t sumX = 0, sumY = 0, count = 0;
        const SampleCell* cells = scene.view->SampleBuffer(0);
        const RenderLevel& level = scene.view->Level();
        for (std::int32_t y = 0; y < level.height; ++y) {
            for (std::int32_t x = 0; x < level.width; ++x) {
                const std::size_t cell = static_cast<std::size_t>(y + 1) * level.cellStride + x + 1;
                if (PixelPartIndex(cells[cell].pixel) != 5) continue;
                sumX += x;
                sumY += y;
                ++count;
            }
        }
        ASSERT_GT(count, 20);
        onKnob = ScreenPoint{scene.windowRect.left + static_cast<std::int32_t>(sumX / count),
                             scene.windowRect.top + static_cast<std::int32_t>(sumY / count)};
    }
    void PressAt(ScreenPoint point) {
        cursor.MoveTo(point.x, point.y);
        input.HoldKey(VirtualKeyLeftButton);
        OnGizmoPress(scene, point);
    }
    void ReleaseButton() {
        input.ReleaseKey(VirtualKeyLeftButton);
        OnGizmoRelease(scene);
    }
    void MoveCursorBy(std::int32_t dx) {
        const ScreenPoint now = cursor.CursorScreenPos();
        cursor.MoveTo(now.x + dx, now.y);
    }

    GizmoObject* knob = nullptr;
    ScreenPoint onKnob;
};

TEST_F(SliderGame, APressHeldOnASliderDragsItUntilTheButtonIsReleased) {
    PressAt(onKnob);
    EXPECT_EQ(scene.world->draggedSlider, knob);
    EXPECT_EQ(scene.mouseHold, 1);
    EXPECT_EQ(scene.paused, 0);
    EXPECT_EQ(knob->inMotion, 1);
    EXPECT_EQ(scene.windowDrag, 0);
    EXPECT_EQ(scene.manipulation, 0);
    const Vec3 start = knob->slider.guidePoint;
    for (std::int32_t i = 0; i < 10; ++i) {  // 330 ms with the button held
        MoveCursorBy(4);
        Frames(1);
    }
    EXPECT_EQ(scene.mouseHold, 0);
    EXPECT_GT(Vec3Length(Vec3Sub(knob->slider.guidePoint, start)), 0.1);
    ReleaseButton();
    Frames(1);
    EXPECT_EQ(scene.world->draggedSlider, nullptr);
    EXPECT_EQ(scene.controlDrag, 0);
    const Vec3 left = knob->slider.guidePoint;
    MoveCursorBy(40);
    Frames(3);
    EXPECT_EQ(knob->slider.endTarget.u1, knob->slider.startTarget.u1);
    EXPECT_NEAR(Vec3Length(Vec3Sub(knob->slider.guidePoint, left)), 0.0, 1e-9);
}

TEST_F(SliderGame, PausingEndsTheDragInTheNextFrame) {
    PressAt(onKnob);
    Frames(2);
    OnGameKey(scene, VirtualKeySpace);
    const std::int32_t frame = scene.world->frameNumber;
    Frames(1);  // still stepped: the drag ends in it
    EXPECT_EQ(scene.world->frameNumber, frame + 1);
    EXPECT_EQ(scene.controlDrag, 0);
    EXPECT_EQ(scene.world->draggedSlider, nullptr);
    Frames(2);
    EXPECT_EQ(scene.world->frameNumber, frame + 1);
}

TEST_F(SliderGame, AShortPressLeavesTheSliderFollowingUntilTheNextPressIsReleased) {
    PressAt(onKnob);
    Frames(2);
    ReleaseButton();
    Frames(1);  // 99 ms: still a short press
    EXPECT_EQ(scene.mouseHold, 1);
    const double before = knob->slider.endTarget.u1;
    MoveCursorBy(30);
    Frames(2);
    EXPECT_EQ(scene.world->draggedSlider, knob);  // it follows with the button up
    EXPECT_NE(knob->slider.endTarget.u1, before);

    // The next press only ends the short press; its release ends the drag.
    PressAt(cursor.CursorScreenPos());
    EXPECT_EQ(scene.mouseHold, 0);
    EXPECT_EQ(scene.windowDrag, 0);
    EXPECT_EQ(scene.manipulation, 0);
    Frames(1);
    EXPECT_EQ(scene.world->draggedSlider, knob);
    ReleaseButton();
    Frames(1);
    EXPECT_EQ(scene.world->draggedSlider, nullptr);
}

TEST_F(GameInput, ControlDragTurnsTheViewByAHundredthRadianPerPixel) {
    PressWith({VirtualKeyControl});
    ASSERT_EQ(scene.manipulation, ManipulationRotate);
    const std::array<double, 2> start = scene.angles;
    const double distance = Distance(SceneViewMatrix(*scene.view));
    DragTo(30, -20);
    EXPECT_EQ(scene.angles[0], start[0] + 0.01 * 30);
    EXPECT_EQ(scene.angles[1], start[1] + 0.01 * -20);
    const Matrix4W camera = SceneViewMatrix(*scene.view);
    EXPECT_NEAR(Distance(camera), distance, 1e-9);
    Matrix4W turned = camera;
    RotationFromTwoAnglesWFirst(turned, scene.angles[1], scene.angles[0]);
    for (std::size_t i : {5u, 6u, 7u, 9u, 10u, 11u, 13u, 14u, 15u}) {
        EXPECT_NEAR(camera.m[i], turned.m[i], 1e-12) << i;
    }
    // The eye looks at the scene's origin.
    EXPECT_NEAR(camera.m[4], -distance * camera.m[7], 1e-9);
    // During the drag the window's corner sits at the work area's.
    EXPECT_EQ(scene.windowRect.left, scene.workArea.left);
    EXPECT_EQ(scene.windowRect.top, scene.workArea.top);
    EXPECT_EQ(scene.acceptedAngles, scene.angles);

    const std::int32_t presents = window.presents;
    Release();
    EXPECT_EQ(scene.manipulation, 0);
    EXPECT_EQ(window.presents, presents + 1);
    EXPECT_EQ(scene.angles[0], start[0] + 0.3);
    EXPECT_GE(scene.windowRect.left, scene.workArea.left);
    EXPECT_LE(scene.windowRect.right, scene.workArea.right);
}

// The flipper table with its scene file's light-map density at 0.75 (the "sd" of its
// "Shadows").
class GameInputShadowDensity : public GameInput {
protected:
    static constexpr double Density = 0.75;

    void SetUp() override {
        FileBytes file;
        ASSERT_EQ(file.Read(FixturePath), FileOpenError::None);
        const auto bytes = file.Bytes();
        std::string text(bytes.begin(), bytes.end());
        const std::size_t at = text.find("</View_0>");
        ASSERT_NE(at, std::string::npos);
        text.insert(at, "<Shadows on=\"1\" sd=\"AABAPw==\"/>\r\n");
        ASSERT_EQ(LoadGizmo(folder.WriteFile("density.kvr", text), scene), 0) << scene.errorText;
    }

    // The shadow maps' sphere is the ball of the drawn parts as the camera now sees it: its
    // centre the middle of the drawn parts' boxes carried into view space, its radius no more
    // than the half diagonal of their box, holding every point of them the frame shows. And
    // the light maps keep the scene file's density.
    void ExpectShadowsFitTheDrawnParts() const {
        const QRenderView& view = *scene.view;
        std::array<double, 3> low{1e300, 1e300, 1e300};
        std::array<double, 3> high{-1e300, -1e300, -1e300};
        for (std::int32_t i = 0; i < scene.geometry->PartCount(); ++i) {
            const PartRenderRecord* part = scene.geometry->Part(i);
            if (part->visible == 0) continue;
            for (std::size_t axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], part->octreeBounds[2 * axis] / 1024.0);
                high[axis] = std::max(high[axis], part->octreeBounds[2 * axis + 1] / 1024.0);
            }
        }
        const Vec3 centre = TransformPoint(view.GetViewMatrix(), (low[0] + high[0]) / 2.0,
                                           (low[1] + high[1]) / 2.0, (low[2] + high[2]) / 2.0);
        EXPECT_TRUE(view.isShadowRadiusReady);
        EXPECT_NEAR(view.shadowCentre.x, centre.x, 1e-6);
        EXPECT_NEAR(view.shadowCentre.y, centre.y, 1e-6);
        EXPECT_NEAR(view.shadowCentre.z, centre.z, 1e-6);
        const double halfDiagonal =
            0.5 * std::hypot(high[0] - low[0], high[1] - low[1], high[2] - low[2]);
        EXPECT_LE(view.shadowRadius, halfDiagonal);

        const RenderLevel& level = view.Level(0);
        std::int32_t shown = 0;
        double farthest = 0.0;
        for (std::int32_t y = 0; y < level.height; ++y) {
            for (std::int32_t x = 0; x < level.width; ++x) {
                double depth = 0.0;
                const std::uint32_t id = view.QueryPixel(x, y, nullptr, &depth, 0, nullptr);
                if (PixelPartIndex(id) < 0) continue;
                const Vec3 point{(x - level.centreX + 0.5) * depth / level.focal,
                                 (y - level.centreY + 0.5) * depth / level.focal, depth};
                farthest = std::max(farthest, Vec3Length(Vec3Sub(point, view.shadowCentre)));
                ++shown;
            }
        }
        EXPECT_GT(shown, 1000);
        EXPECT_LE(farthest, view.shadowRadius * (1.0 + 1e-4));

        EXPECT_EQ(view.lightMapScale, Density);
        EXPECT_EQ(view.LightMapSide(),
                  std::max(4, static_cast<std::int32_t>(std::lround(view.renderWidth * Density))));
    }

    TempFolder folder;
};

TEST_F(GameInputShadowDensity, TurnsAndResizesKeepTheShadowSphereAndTheLightMapDensity) {
    {
        SCOPED_TRACE("loaded");
        ExpectShadowsFitTheDrawnParts();
    }
    struct Case {
        const char* what;
        std::int32_t modifier;
        std::int32_t dx;
        std::int32_t dy;
    };
    const Case cases[] = {
        {"turned", VirtualKeyControl, 30, -20},      {"nearer", VirtualKeyAlt, 0, 40},
        {"farther", VirtualKeyAlt, 0, -30},          {"larger", VirtualKeyShift, 0, 20},
        {"turned back", VirtualKeyControl, -45, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Vec3 before = scene.view->shadowCentre;
        const std::int32_t width = scene.view->renderWidth;
        PressWith({c.modifier});
        ASSERT_NE(scene.manipulation, 0);
        DragTo(c.dx, c.dy);
        Release();
        ASSERT_EQ(scene.manipulation, 0);
        ExpectShadowsFitTheDrawnParts();
        // The camera moved or the window changed.
        EXPECT_TRUE(Vec3Length(Vec3Sub(before, scene.view->shadowCentre)) > 1e-3 ||
                    width != scene.view->renderWidth);
    }
}

TEST(GameInputResize, ShiftDragScalesByTheFormula) {
    struct Case {
        std::int32_t dy;
        const char* expected;  // "grow", "shrink", "largest", "back"
    };
    const Case cases[] = {{25, "grow"}, {-50, "shrink"}, {100'000, "largest"}, {-2'000, "back"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dy);
        ScriptedClock clock{100'000};
        ScopedClockSource clockInstalled(clock);
        ScriptedInputState input;
        ScopedInputStateSource inputInstalled(input);
        ScriptedCursor cursor;
        ScopedCursorSource cursorInstalled(cursor);
        // A monitor tall enough that growing by a quarter stays below the largest scale.
        const FixedWorkArea monitor(ScreenRect{0, 0, 2048, 1536});
        const ScopedWorkAreaSource monitorInstalled(monitor);
        GizmoScene scene;
        ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
        const ScreenPoint press{scene.windowRect.left + 1, scene.windowRect.top + 1};
        input.HoldKey(VirtualKeyShift);
        input.HoldKey(VirtualKeyLeftButton);
        OnGizmoPress(scene, press);
        input.ReleaseKey(VirtualKeyShift);
        ASSERT_EQ(scene.manipulation, ManipulationResize);
        const double pressScale = scene.scale;
        const Matrix4W camera = SceneViewMatrix(*scene.view);
        cursor.MoveTo(press.x + 7, press.y + c.dy);  // dx plays no part
        clock.Advance(FramePeriod);
        FrameStep(scene);
        const std::string expected = c.expected;
        if (expected == "grow") {
            EXPECT_EQ(scene.scale, pressScale * (1.0 + 0.01 * c.dy));
        } else if (expected == "shrink") {
            EXPECT_EQ(scene.scale, pressScale / (1.0 - 0.01 * c.dy));
        } else if (expected == "largest") {
            const double largest = Distance(camera) * (scene.workArea.bottom - scene.workArea.top) /
                                   (2.0 * scene.sceneRadius);
            EXPECT_EQ(scene.scale, largest);
            EXPECT_LT(largest, pressScale * (1.0 + 0.01 * c.dy));
        } else {
            // The scene all but vanished: the step is taken back and the drag ends.
            EXPECT_EQ(scene.scale, pressScale);
            EXPECT_EQ(scene.manipulation, 0);
        }
        // The view matrix stays.
        EXPECT_EQ(SceneViewMatrix(*scene.view).m[4], camera.m[4]);
    }
}

TEST_F(GameInput, APlainDragOnAPictureThatOverflowsItsWindowMovesThePicture) {
    // A window cut smaller than the picture, as after the monitor's work area shrank.
    const ScreenRect loaded = scene.windowRect;
    scene.windowRect.right = loaded.left + (loaded.right - loaded.left) / 2;
    PressWith({});
    ASSERT_EQ(scene.manipulation, ManipulationMove);
    EXPECT_EQ(scene.windowDrag, 0);
    const std::array<double, 2> origin = scene.windowOrigin;
    DragTo(-15, 9);
    EXPECT_EQ(scene.windowOrigin[0], origin[0] - 15);
    EXPECT_EQ(scene.windowOrigin[1], origin[1] + 9);
    EXPECT_EQ(scene.windowRect.left, scene.workArea.left);
    EXPECT_EQ(scene.windowRect.top, scene.workArea.top);
    Release();
    // Fitted around the whole picture again, which moved with the cursor.
    const std::optional<ScreenRect> picture = SceneScreenRect(scene, SceneViewMatrix(*scene.view));
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(scene.windowRect.left, picture->left);
    EXPECT_EQ(scene.windowRect.top, picture->top);
    EXPECT_EQ(scene.windowRect.right, picture->right);
    EXPECT_EQ(scene.windowRect.bottom, picture->bottom);
    EXPECT_EQ(scene.windowRect.left, loaded.left - 15);
    EXPECT_EQ(scene.view->centreX, scene.windowOrigin[0] - scene.windowRect.left);
}

TEST_F(GameInput, AMoveThatTakesThePictureOffTheWorkAreaGoesBackToThePress) {
    const ScreenRect loaded = scene.windowRect;
    scene.windowRect.right = loaded.left + (loaded.right - loaded.left) / 2;
    PressWith({});
    ASSERT_EQ(scene.manipulation, ManipulationMove);
    const std::array<double, 2> origin = scene.windowOrigin;
    DragTo(-20, 0);
    DragTo(-5000, 0);
    EXPECT_EQ(scene.manipulation, 0);
    EXPECT_EQ(scene.windowOrigin, origin);
    EXPECT_EQ(scene.windowRect.left, loaded.left);
    EXPECT_EQ(scene.windowRect.right, loaded.right);
}

TEST_F(GameInput, TwoOrMoreModifiersChangeNothingUntilTheRelease) {
    const std::vector<std::vector<std::int32_t>> combinations = {
        {VirtualKeyControl, VirtualKeyShift},
        {VirtualKeyControl, VirtualKeyAlt},
        {VirtualKeyShift, VirtualKeyAlt},
        {VirtualKeyControl, VirtualKeyShift, VirtualKeyAlt}};
    for (const auto& held : combinations) {
        SCOPED_TRACE(held.size() * 100 + static_cast<std::size_t>(held.back()));
        const std::int32_t kind =
            (std::find(held.begin(), held.end(), VirtualKeyControl) != held.end() ? 1 : 0) +
            (std::find(held.begin(), held.end(), VirtualKeyShift) != held.end() ? 2 : 0) +
            (std::find(held.begin(), held.end(), VirtualKeyAlt) != held.end() ? 4 : 0);
        PressWith(held);
        ASSERT_EQ(scene.manipulation, kind);

        const std::array<double, 2> angles = scene.angles;
        const double scale = scene.scale;
        const ScreenRect rect = scene.windowRect;
        const Matrix4W camera = SceneViewMatrix(*scene.view);
        const std::vector<std::uint32_t> frame = scene.viewBits;
        const std::int32_t presents = window.presents;
        DragTo(40, 60);
        DragTo(-25, 90);
        EXPECT_EQ(scene.angles, angles);
        EXPECT_EQ(scene.scale, scale);
        EXPECT_EQ(scene.windowRect.left, rect.left);
        EXPECT_EQ(scene.windowRect.right, rect.right);
        for (std::size_t i = 0; i < camera.m.size(); ++i) {
            EXPECT_EQ(SceneViewMatrix(*scene.view).m[i], camera.m[i]);
        }
        EXPECT_EQ(scene.viewBits, frame);
        EXPECT_EQ(window.presents, presents);

        // The release still fits the window and draws the scene in full.
        Release();
        EXPECT_EQ(scene.manipulation, 0);
        EXPECT_EQ(window.presents, presents + 1);
        EXPECT_EQ(scene.scale, scale);
        EXPECT_EQ(scene.angles, angles);
    }
}

TEST_F(GameInput, AClickDuringTheReleaseRenderHoldsTheGizmoStillUntilAManipulationCompletes) {
    OnGameKey(scene, VirtualKeySpace);  // playing
    PressWith({VirtualKeyControl});
    DragTo(10, 0);
    input.QueueLeftButtonDownAfterPeeks(0);
    input.ReleaseKey(VirtualKeyLeftButton);
    Frames(1);
    EXPECT_EQ(scene.renderAbandoned, 1);
    EXPECT_EQ(scene.manipulation, 0);
    const std::int32_t frame = scene.world->frameNumber;
    Frames(3);
    EXPECT_EQ(scene.world->frameNumber, frame);
    OnGameKey(scene, VirtualKeyDigit1);  // triggers wait too
    EXPECT_EQ(Paddle().inMotion, 0);

    // The next press skips the pick and starts a manipulation; its release draws again.
    input.ClearQueue();
    PressWith({});
    EXPECT_EQ(scene.manipulation, ManipulationMove);
    Release();
    EXPECT_EQ(scene.renderAbandoned, 0);
    Frames(1);
    EXPECT_EQ(scene.world->frameNumber, frame + 1);
}

}  // namespace

namespace {

// A scene holding one slider taken hold of at view pixel (100, 50): one guide unit per ten
// pixels to the right.
struct DraggedSlider {
    DraggedSlider() {
        scene.active = 1;
        scene.world = std::make_unique<GizmoWorld>(&scene.movingPartList, &scene.partTable);
        scene.world->objects.push_back(std::make_unique<GizmoObject>(NewSliderObject()));
        slider = scene.world->objects.back().get();
        SliderTail& s = slider->slider;
        s.coordinateMode = 1;
        s.mousePixels = 10.0;
        s.screenDirection = Vec2{1.0, 0.0};
        s.dragOrigin = Vec2{100.0, 50.0};
        scene.cursorTrail.fill(ScreenPoint{100, 50});
        scene.world->draggedSlider = slider;
    }
    GizmoScene scene;
    GizmoObject* slider = nullptr;
};

TEST(GameInputSlider, ASteadyDragMovesTheTargetsWithTheCursorUntilReleased) {
    DraggedSlider dragged;
    SliderTail& s = dragged.slider->slider;
    for (std::int32_t i = 1; i <= 6; ++i) {
        SCOPED_TRACE(i);
        const double before = s.endTarget.u1;
        FollowControlDrag(dragged.scene, 100 + 4 * i, 50, false);
        EXPECT_EQ(s.startTarget.u1, before);
        EXPECT_NEAR(s.endTarget.u1, 0.4 * i, 1e-9);
        EXPECT_NEAR(s.endTarget.u2, 0.0, 1e-9);
        EXPECT_EQ(dragged.scene.world->draggedSlider, dragged.slider);
    }
    FollowControlDrag(dragged.scene, 128, 50, true);
    EXPECT_NEAR(s.endTarget.u1, 2.8, 1e-9);
    EXPECT_EQ(dragged.slider->motionDone, 1);
    EXPECT_EQ(dragged.scene.world->draggedSlider, nullptr);
    // With nothing dragged the cursor moves nothing.
    FollowControlDrag(dragged.scene, 300, 50, false);
    EXPECT_NEAR(s.endTarget.u1, 2.8, 1e-9);
}

}  // namespace
