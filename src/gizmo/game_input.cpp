#include "gizmo/game_input.h"

#include "core/matrix4.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/preset_motion.h"
#include "gizmo/slider_drag.h"
#include "gizmo/sound_sink.h"
#include "gizmo/view_manipulation.h"
#include "gizmo/world_step.h"
#include "platform/clock.h"
#include "platform/input_state.h"
#include "render/q_render.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <vector>

namespace {

// The reset keys Z X C V B N, for reset bits 0 to 5.
constexpr std::int32_t ResetKeys[] = {0x5A, 0x58, 0x43, 0x56, 0x42, 0x4E};

// Trigger keys: "1" to "9" of the main row and of the keypad, for key bits 0 to 8.
constexpr std::int32_t TriggerKeyCount = 9;

// Pixels around a press at full resolution in which a flipper or slider is looked for.
constexpr std::int32_t PickReach = 8;

void PlayObjectSound(const GizmoScene& scene, const GizmoObject& object) {
    SoundSink* sink = CurrentSoundSink();
    if (scene.muted != 0 || sink == nullptr || object.sound < 0 ||
        static_cast<std::size_t>(object.sound) >= scene.soundNames.size()) {
        return;
    }
    sink->PlaySoundByName(scene.soundNames[static_cast<std::size_t>(object.sound)], 1.0f, 1.0f,
                          1.0f);
}

// The object a part belongs to when it is a flipper or a slider; null otherwise.
GizmoObject* ControlOfPart(const GizmoWorld& world, std::int32_t part) {
    if (part < 0 || static_cast<std::size_t>(part) >= world.objectById.size()) return nullptr;
    GizmoObject* object = world.objectById[static_cast<std::size_t>(part)];
    return object != nullptr && object->isFlyer == 0 ? object : nullptr;
}

// The part under view pixel (x, y) of the last render, -1 for none. At full resolution a
// flipper's or slider's part within 8 pixels wins over what lies under the pixel: the
// nearest, the first found row by row among equals.
std::int32_t PickPart(const GizmoScene& scene, std::int32_t x, std::int32_t y) {
    const QRenderView& view = *scene.view;
    const SampleCell* cells = view.SampleBuffer(0);
    if (cells == nullptr || !view.BuffersReady()) return -1;
    const std::int32_t level = view.reductionLevel;
    for (std::int32_t i = 0; i < level; ++i) {
        x = x / 2 + 2;
        y = y / 2 + 2;
    }
    const RenderLevel& levelSize = view.Level();
    const auto partAt = [&](std::int32_t cx, std::int32_t cy) {
        const std::size_t cell =
            static_cast<std::size_t>(cy + 1) * static_cast<std::size_t>(levelSize.cellStride) +
            static_cast<std::size_t>(cx + 1);
        return PixelPartIndex(cells[cell].pixel);
    };
    const bool inside = x >= 0 && y >= 0 && x < levelSize.width && y < levelSize.height;
    std::int32_t part = inside ? partAt(x, y) : -1;
    if (level != 0) return part;
    std::int32_t best = PickReach * PickReach + 1;
    for (std::int32_t cy = std::max(y - PickReach, 0);
         cy <= std::min(y + PickReach, levelSize.height - 1); ++cy) {
        for (std::int32_t cx = std::max(x - PickReach, 0);
             cx <= std::min(x + PickReach, levelSize.width - 1); ++cx) {
            const std::int32_t distance = (cx - x) * (cx - x) + (cy - y) * (cy - y);
            if (distance >= best) continue;
            const std::int32_t candidate = partAt(cx, cy);
            if (ControlOfPart(*scene.world, candidate) == nullptr) continue;
            best = distance;
            part = candidate;
        }
    }
    return part;
}

// A press on a slider that takes drags: the slider follows the cursor from here on.
void StartSliderDrag(GizmoScene& scene, GizmoObject& slider, std::int32_t x, std::int32_t y) {
    GizmoWorld& world = *scene.world;
    scene.paused = 0;
    scene.mouseHold = 1;
    scene.pressStamp = timeGetTime();
    scene.cursorTrail.fill(ScreenPoint{x, y});
    const Matrix4W guideFromCamera =
        Matrix4Product(slider.slider.guideFromWorld, SceneViewMatrix(*scene.view));
    BeginSliderDrag(slider, x, y, guideFromCamera);
    world.draggedSlider = &slider;
    // A slider already moving (left going by a reset that does not stop it) is in the
    // moving lists once; entering it again would draw and step its parts twice.
    if (slider.inMotion == 0) StartMoving(world, slider);
}

// A press that starts a window drag or a camera manipulation.
void StartManipulation(GizmoScene& scene, std::int32_t kind) {
    scene.pressViewMatrix = SceneViewMatrix(*scene.view);
    scene.acceptedViewMatrix = scene.pressViewMatrix;
    scene.pressScale = scene.scale;
    scene.acceptedScale = scene.scale;
    scene.pressAngles = scene.angles;
    scene.acceptedAngles = scene.angles;
    if (kind != 0) {
        scene.manipulation = kind;
        return;
    }
    scene.pressWindowOrigin = scene.windowOrigin;
    scene.manipulation = ManipulationMove;
    if (scene.renderAbandoned != 0) return;
    const std::optional<ScreenRect> shown = SceneScreenRect(scene, scene.pressViewMatrix);
    if (!shown) return;
    const ScreenRect& window = scene.windowRect;
    // The whole picture is in the window: the window follows the cursor as it is.
    if (shown->left >= window.left && shown->top >= window.top && shown->right <= window.right &&
        shown->bottom <= window.bottom) {
        scene.dragStartRect = window;
        scene.windowDrag = 1;
        scene.manipulation = 0;
    }
}

// The parabola a + b i + c i^2 through the points v[0..n) at i = 0..n-1 by least squares
// (normal equations solved by determinants); false when they are singular.
bool FitParabola(const double* v, std::int32_t n, double& a, double& b, double& c) {
    double s[5] = {};
    double t[3] = {};
    for (std::int32_t i = 0; i < n; ++i) {
        const double di = i;
        double power = 1.0;
        for (double& sum : s) {
            sum += power;
            power *= di;
        }
        t[0] += v[i];
        t[1] += di * v[i];
        t[2] += di * di * v[i];
    }
    const auto det3 = [](double a11, double a12, double a13, double a21, double a22, double a23,
                         double a31, double a32, double a33) {
        return a11 * (a22 * a33 - a23 * a32) - a12 * (a21 * a33 - a23 * a31) +
               a13 * (a21 * a32 - a22 * a31);
    };
    const double d = det3(s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]);
    if (d == 0.0) return false;
    a = det3(t[0], s[1], s[2], t[1], s[2], s[3], t[2], s[3], s[4]) / d;
    b = det3(s[0], t[0], s[2], s[1], t[1], s[3], s[2], t[2], s[4]) / d;
    c = det3(s[0], s[1], t[0], s[1], s[2], t[1], s[2], s[3], t[2]) / d;
    return true;
}

// The cursor trail smoothed: the value at the newest point of the longest fit, from three
// points up, that stays within half a pixel of every point it covers.
Vec2 SmoothedCursor(const std::array<ScreenPoint, 20>& trail) {
    double xs[20];
    double ys[20];
    for (std::size_t i = 0; i < trail.size(); ++i) {
        xs[i] = trail[i].x;
        ys[i] = trail[i].y;
    }
    Vec2 smoothed{xs[0], ys[0]};
    for (std::int32_t n = 3; n <= static_cast<std::int32_t>(trail.size()); ++n) {
        double ax = 0.0, bx = 0.0, cx = 0.0, ay = 0.0, by = 0.0, cy = 0.0;
        if (!FitParabola(xs, n, ax, bx, cx) || !FitParabola(ys, n, ay, by, cy)) break;
        bool holds = true;
        for (std::int32_t i = 0; i < n && holds; ++i) {
            const double di = i;
            holds = std::fabs(ax + bx * di + cx * di * di - xs[i]) <= 0.5 &&
                    std::fabs(ay + by * di + cy * di * di - ys[i]) <= 0.5;
        }
        if (!holds) break;
        smoothed = Vec2{ax, ay};
    }
    return smoothed;
}

}  // namespace

void OnGameKey(GizmoScene& scene, std::int32_t key) {
    if (scene.active == 0) return;
    if (key >= VirtualKeyDigit1 && key < VirtualKeyDigit1 + TriggerKeyCount) {
        TriggerControls(scene, TriggerKeyBit, key - VirtualKeyDigit1);
        return;
    }
    if (key >= VirtualKeyNumpad1 && key < VirtualKeyNumpad1 + TriggerKeyCount) {
        TriggerControls(scene, TriggerKeyBit, key - VirtualKeyNumpad1);
        return;
    }
    if (key == VirtualKeyEnter) {
        TriggerControls(scene, TriggerResetAll, 0);
        if (scene.paused != 0) scene.redrawWhilePaused = 1;
        return;
    }
    if (key == VirtualKeySpace) {
        scene.paused = scene.paused != 0 ? 0 : 1;
        return;
    }
    for (std::int32_t bit = 0; bit < static_cast<std::int32_t>(std::size(ResetKeys)); ++bit) {
        if (key == ResetKeys[bit]) {
            TriggerControls(scene, TriggerResetBit, bit);
            return;
        }
    }
}

void TriggerControls(GizmoScene& scene, std::int32_t kind, std::int32_t index) {
    if (scene.active == 0 || scene.renderAbandoned != 0 || scene.world == nullptr) return;
    if (index < 0 || index > 31) return;
    GizmoWorld& world = *scene.world;
    const std::uint32_t bit = std::uint32_t{1} << index;
    if (kind == TriggerResetAll || kind == TriggerResetBit) {
        const auto chosen = [&](const GizmoObject& object) {
            return kind == TriggerResetAll || (object.keyResetBits & bit) != 0;
        };
        for (const auto& object : world.objects) {
            if (object->isFlyer == 0 && chosen(*object)) ResetObject(*object, world);
        }
        // A reset can stop objects, which changes the moving list under the loop.
        const std::vector<GizmoObject*> moving = world.moving;
        for (GizmoObject* object : moving) {
            if (object->isFlyer != 0 && chosen(*object)) ResetObject(*object, world);
        }
        return;
    }
    scene.paused = 0;
    for (const auto& owned : world.objects) {
        GizmoObject& object = *owned;
        if (!object.IsFlipper() ||
            (static_cast<std::uint32_t>(object.flipper.keyBits) & bit) == 0) {
            continue;
        }
        const bool wasMoving = object.inMotion != 0;
        TriggerMotion(world, object, EasedTime(scene));
        if (!wasMoving) PlayObjectSound(scene, object);
    }
}

double EasedTime(const GizmoScene& scene) {
    std::uint32_t now = timeGetTime();
    if (scene.view != nullptr && scene.view->poll.mode == 0) now = scene.view->poll.timeStamp;
    // Before the first frame is stamped frameStamp is 0, below the loader's stamp whatever
    // the clock reads; a frame across the clock's wrap gets no head start.
    if (scene.frameStamp <= scene.previousFrameStamp) return 0.0;
    const double period = scene.frameStamp - scene.previousFrameStamp;
    const auto late = static_cast<std::int32_t>(scene.frameStamp - now);
    const double eased = scene.stepTime + late * scene.stepTime / period;
    if (!(eased > 0.0)) return 0.0;
    return eased < scene.stepTime ? eased : scene.stepTime;
}

void OnGizmoPress(GizmoScene& scene, ScreenPoint screenPoint) {
    scene.dragStartCursor = screenPoint;
    scene.lastCursor = screenPoint;
    scene.controlDrag = 1;
    std::int32_t kind = 0;
    if (GetAsyncKeyState(VirtualKeyControl) < 0) kind += ManipulationRotate;
    if (GetAsyncKeyState(VirtualKeyShift) < 0) kind += ManipulationResize;
    if (GetAsyncKeyState(VirtualKeyAlt) < 0) kind += ManipulationPerspective;
    OnGizmoMouse(scene, screenPoint.x - scene.windowRect.left, screenPoint.y - scene.windowRect.top,
                 kind);
}

void OnGizmoRelease(GizmoScene& scene) { scene.windowDrag = 0; }

void OnGizmoMouse(GizmoScene& scene, std::int32_t x, std::int32_t y, std::int32_t kind) {
    if (scene.active == 0 || scene.world == nullptr) return;
    if (scene.mouseHold != 0) {
        scene.mouseHold = 0;
        return;
    }
    GizmoWorld& world = *scene.world;
    world.draggedSlider = nullptr;
    if (scene.renderAbandoned == 0) {
        GizmoObject* object = ControlOfPart(world, PickPart(scene, x, y));
        if (object != nullptr && object->isSlider != 0) {
            if (object->slider.takesDrags != 0) {
                StartSliderDrag(scene, *object, x, y);
                return;
            }
        } else if (object != nullptr && object->flipper.mouseActivated != 0) {
            scene.paused = 0;
            TriggerMotion(world, *object, EasedTime(scene));
            PlayObjectSound(scene, *object);
            return;
        }
    }
    StartManipulation(scene, kind);
}

void FollowControlDrag(GizmoScene& scene, std::int32_t x, std::int32_t y, bool released) {
    if (scene.active == 0 || scene.world == nullptr || scene.world->draggedSlider == nullptr) {
        return;
    }
    GizmoObject& slider = *scene.world->draggedSlider;
    for (std::size_t i = scene.cursorTrail.size() - 1; i > 0; --i) {
        scene.cursorTrail[i] = scene.cursorTrail[i - 1];
    }
    scene.cursorTrail[0] = ScreenPoint{x, y};
    const Vec2 cursor = SmoothedCursor(scene.cursorTrail);
    FollowSliderDrag(slider, cursor.x, cursor.y);
    slider.motionDone = released ? 1 : 0;
    if (released) scene.world->draggedSlider = nullptr;
}
