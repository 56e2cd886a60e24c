#include "gizmo/frame_step.h"

#include "geometry/scene_geometry.h"
#include "geometry/surface_table.h"
#include "gizmo/game_input.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/gizmo_window.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/hit_scoring.h"
#include "gizmo/view_manipulation.h"
#include "gizmo/world_step.h"
#include "platform/clock.h"
#include "platform/cursor_position.h"
#include "platform/input_state.h"
#include "platform/work_area.h"
#include "render/render_interrupt.h"
#include "view/q_render_view.h"

namespace {

// Render poll settings: every sixteenth row, or never.
constexpr std::uint32_t PollEverySixteenthRow = 15;
constexpr std::uint32_t PollNever = 0xFFFFFFFFu;

// Poll modes: a held trigger key or button is noted; a queued click abandons the render.
constexpr std::int32_t PollNoteHeldKeys = 1;
constexpr std::int32_t PollAbandonOnClick = -1;

bool SamePoint(ScreenPoint a, ScreenPoint b) { return a.x == b.x && a.y == b.y; }

// The window follows the cursor by its offset from the press.
void FollowWindowDrag(GizmoScene& scene) {
    const ScreenPoint cursor = GetCursorScreenPos();
    if (SamePoint(cursor, scene.lastCursor)) return;
    const std::int32_t dx = cursor.x - scene.dragStartCursor.x;
    const std::int32_t dy = cursor.y - scene.dragStartCursor.y;
    const ScreenRect& start = scene.dragStartRect;
    const ScreenRect rect{start.left + dx, start.top + dy, start.right + dx, start.bottom + dy};
    scene.windowRect = rect;
    scene.windowOrigin = {rect.left + scene.view->centreX, rect.top + scene.view->centreY};
    if (GizmoWindow* window = CurrentGizmoWindow()) window->MoveWindow(rect);
    scene.workArea = GetNearestWorkArea(rect);
    scene.lastCursor = cursor;
}

// Follows the manipulation while the button is held; once it is up, the window is fitted
// and drawn in full. A click during that render abandons it: the moving parts show again
// and the gizmo stays still until a later manipulation completes its render.
void FollowManipulationFrame(GizmoScene& scene) {
    QRenderView& view = *scene.view;
    const ScreenPoint cursor = GetCursorScreenPos();
    if (!SamePoint(cursor, scene.lastCursor)) {
        if (scene.manipulation == ManipulationMove) {
            scene.workArea = GetNearestWorkArea({cursor.x, cursor.y, cursor.x + 1, cursor.y + 1});
        }
        FollowManipulation(scene, cursor.x - scene.dragStartCursor.x,
                           cursor.y - scene.dragStartCursor.y);
        scene.lastCursor = cursor;
    }
    if (IsLeftButtonDown() || scene.manipulation == 0) return;
    view.poll.mode = PollAbandonOnClick;
    view.poll.rowMask = PollEverySixteenthRow;
    try {
        EndManipulation(scene);
    } catch (const UserAbortRender&) {
        // The guarded render: the click stays queued for the window, and the next press
        // starts the manipulation that draws the scene again.
        scene.renderAbandoned = 1;
    }
    view.poll.rowMask = PollNever;
    scene.manipulation = 0;
}

void OverlayAndPresent(GizmoScene& scene) {
    GizmoWindow* window = CurrentGizmoWindow();
    if (window == nullptr || scene.viewBits.empty()) return;
    const QRenderView& view = *scene.view;
    window->DrawScoreOverlay(scene.viewBits.data(), view.renderWidth, view.renderHeight,
                             SceneScoreOrTargetFlags(*scene.world, 0));
    window->PresentLayeredWindow(scene.viewBits.data(), view.renderWidth, view.renderHeight,
                                 scene.windowRect.left, scene.windowRect.top);
}

}  // namespace

void FrameStep(GizmoScene& scene) {
    if (scene.active == 0 || scene.world == nullptr || scene.view == nullptr) return;
    GizmoWorld& world = *scene.world;
    QRenderView& view = *scene.view;

    // A press on a slider held long enough is a drag that ends with the button's release.
    if (scene.mouseHold != 0 && IsLeftButtonDown() &&
        static_cast<std::int32_t>(timeGetTime() - (scene.pressStamp + SliderHoldMilliseconds)) >
            0) {
        scene.mouseHold = 0;
    }
    if (scene.windowDrag != 0) {
        FollowWindowDrag(scene);
        return;
    }
    if (scene.manipulation != 0) {
        FollowManipulationFrame(scene);
        return;
    }
    if (scene.renderAbandoned != 0) return;
    if (scene.paused != 0 && world.draggedSlider == nullptr) {
        if (scene.redrawWhilePaused == 0) return;
        RenderMovingParts(scene);
        OverlayAndPresent(scene);
        scene.redrawWhilePaused = 0;
        return;
    }
    if (scene.controlDrag != 0) {
        if (scene.mouseHold == 0) scene.controlDrag = IsLeftButtonDown() ? 1 : 0;
        if (scene.paused != 0) scene.controlDrag = 0;
        const ScreenPoint cursor = GetCursorScreenPos();
        FollowControlDrag(scene, cursor.x - scene.windowRect.left, cursor.y - scene.windowRect.top,
                          scene.controlDrag == 0);
    }

    StepWorld(world, scene.stepTime, *scene.partBounds);
    PlayQueuedSounds(scene);
    if (!scene.movingPartList.empty()) {
        UpdateSurfaceTable(*scene.geometry, true, scene.movingPartList, 0);
    }
    scene.previousFrameStamp = scene.frameStamp;
    scene.frameStamp = timeGetTime();

    view.poll.mode = PollNoteHeldKeys;
    view.poll.rowMask = PollEverySixteenthRow;
    RenderMovingParts(scene);
    view.poll.rowMask = PollNever;
    OverlayAndPresent(scene);
}
