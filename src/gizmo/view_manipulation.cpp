#include "gizmo/view_manipulation.h"

#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "core/vec3.h"
#include "gizmo/game_input.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/gizmo_window.h"
#include "gizmo/projected_bounds.h"
#include "gizmo/scene_document.h"
#include "render/q_render.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cmath>

namespace {

// The farthest the camera goes from the scene's origin when the perspective is flattened.
constexpr double FarthestCamera = 50.0;

// The view's turn, resize and perspective rates per pixel of the cursor's offset.
constexpr double TurnPerPixel = 0.01;
constexpr double ResizePerPixel = 0.01;

double EyeDistance(const Matrix4W& camera) {
    return Vec3Length(Vec3{camera.m[4], camera.m[8], camera.m[12]});
}

// The scene's image rectangle seen through camera; false when the eye is inside a drawn
// part (the bounds are then open on every side).
bool ProjectScene(const GizmoScene& scene, const Matrix4W& camera, SceneBounds& bounds) {
    SceneExtraSurfaces extra;
    return ProjectSceneBounds(*scene.geometry, camera, bounds, SceneFogSurfaces(scene, extra));
}

// The screen rectangle of image bounds at the scene's scale and window origin, widened by
// the renderer's margin. Bounds that hold nothing give the window origin's pixel.
ScreenRect ScreenRectOf(const GizmoScene& scene, SceneBounds bounds) {
    if (!(bounds[0] <= bounds[2]) || !(bounds[1] <= bounds[3])) bounds = {0.0, 0.0, 0.0, 0.0};
    const std::int32_t margin = scene.view->options.edgeLines ? 2 : 1;
    const auto at = [&](std::size_t axis, double value) {
        return RoundToIntClamped(scene.windowOrigin[axis] + scene.scale * value);
    };
    return ScreenRect{at(0, bounds[0]) - margin, at(1, bounds[1]) - margin,
                      at(0, bounds[2]) + margin, at(1, bounds[3]) + margin};
}

// Sets the view's depth range for the camera's distance, its projection scale, and sizes it
// on a new frame of rect's size with the projection centre at the window origin.
void FitViewTo(GizmoScene& scene, const ScreenRect& rect, std::int32_t level) {
    QRenderView& view = *scene.view;
    const double nearDepth =
        EyeDistance(SceneViewMatrix(view)) + (scene.loadNear - scene.loadDistance);
    view.viewSettings.nearDepth = nearDepth;
    view.viewSettings.farDepth = nearDepth + (scene.loadFar - scene.loadNear);
    SetProjectionScale(view, scene.scale / 1000.0);
    const std::int32_t width = rect.right - rect.left;
    const std::int32_t height = rect.bottom - rect.top;
    TranslateBadAlloc([&] {
        scene.viewBits.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                              0);
    });
    view.InitViewBuffers(width * 4, scene.viewBits.data(), width, height, true);
    view.centreX = scene.windowOrigin[0] - rect.left;
    view.centreY = scene.windowOrigin[1] - rect.top;
    view.reductionLevel = level;
    // A turned or moved camera sees the drawn parts elsewhere: the shadow maps follow them.
    FitShadowSphere(scene);
}

// Samples of the last render that show a part, at the current level.
std::int64_t CoveredSamples(const QRenderView& view) {
    const SampleCell* cells = view.SampleBuffer(0);
    if (cells == nullptr) return 0;
    const RenderLevel& level = view.Level();
    std::int64_t count = 0;
    for (std::int32_t y = 0; y < level.height; ++y) {
        const SampleCell* row =
            cells + static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(level.cellStride) +
            1;
        for (std::int32_t x = 0; x < level.width; ++x) {
            if ((row[x].pixel & PixelIdMask) != 0) ++count;
        }
    }
    return count;
}

void Present(GizmoScene& scene, const ScreenRect& rect, const ScreenRect& old) {
    GizmoWindow* window = CurrentGizmoWindow();
    if (window != nullptr) window->MoveAndPresent(scene.viewBits.data(), rect, old.left, old.top);
}

// Goes back to the state of the last accepted step and ends the manipulation.
void TakeBack(GizmoScene& scene) {
    scene.scale = scene.acceptedScale;
    SetProjectionScale(*scene.view, scene.acceptedScale / 1000.0);
    SetSceneViewMatrix(*scene.view, scene.acceptedViewMatrix);
    scene.angles = scene.acceptedAngles;
    // A move that took the picture off the work area goes back to where the press found
    // it: fitted where it went, the window would be a sliver at the work area's edge.
    if (scene.manipulation == ManipulationMove) scene.windowOrigin = scene.pressWindowOrigin;
    EndManipulation(scene);
    scene.controlDrag = 0;
    scene.manipulation = 0;
}

// Moves the camera, the scale or the window origin for the cursor's offset; false for a
// kind that does nothing.
bool Manipulate(GizmoScene& scene, std::int32_t dx, std::int32_t dy) {
    const double d = EyeDistance(scene.pressViewMatrix);
    switch (scene.manipulation) {
        case ManipulationRotate: {
            scene.angles = {scene.pressAngles[0] + TurnPerPixel * dx,
                            scene.pressAngles[1] + TurnPerPixel * dy};
            Matrix4W camera = scene.pressViewMatrix;
            RotationFromTwoAnglesWFirst(camera, scene.angles[1], scene.angles[0]);
            // The eye stays at the press's distance on the camera's axis through the
            // scene's origin.
            camera.m[4] = -d * camera.m[7];
            camera.m[8] = -d * camera.m[11];
            camera.m[12] = -d * camera.m[15];
            SetSceneViewMatrix(*scene.view, camera);
            return true;
        }
        case ManipulationResize:
            if (dy >= 0) {
                const double largest =
                    d * (scene.workArea.bottom - scene.workArea.top) / (2.0 * scene.sceneRadius);
                scene.scale = std::min(scene.pressScale * (1.0 + ResizePerPixel * dy), largest);
            } else {
                scene.scale = scene.pressScale / (1.0 - ResizePerPixel * dy);
            }
            return true;
        case ManipulationPerspective: {
            const double k =
                dy >= 0 ? std::max(1.0 / (1.0 + ResizePerPixel * dy), scene.minCameraDistance / d)
                        : std::min(1.0 - ResizePerPixel * dy, FarthestCamera / d);
            // The camera moves along its own axis to distance k d; the scale follows, so the
            // scene keeps its size on the screen.
            Matrix4W along;
            Matrix4SetDiagonal(along, 1.0);
            along.m[12] = (1.0 - k) * d;
            SetSceneViewMatrix(*scene.view, Matrix4Product(scene.pressViewMatrix, along));
            scene.scale = k * scene.pressScale;
            return true;
        }
        case ManipulationMove:
            scene.windowOrigin = {scene.pressWindowOrigin[0] + dx, scene.pressWindowOrigin[1] + dy};
            return true;
        default:
            return false;
    }
}

}  // namespace

const SceneExtraSurfaces* SceneFogSurfaces(const GizmoScene& scene, SceneExtraSurfaces& extra) {
    const FogRenderData& fog = scene.view->fogBlock;
    if (!scene.document->settings.volumeFog || fog.isSwitchOn == 0) return nullptr;
    for (std::size_t i = 0; i < extra.forms.size(); ++i) {
        if (i >= fog.quadrics.size() || i >= fog.layers.size()) continue;
        extra.forms[i] = fog.quadrics[i];
        extra.enabled[i] = fog.layers[i].flag != 0 ? 1 : 0;
    }
    return &extra;
}

Matrix4W SceneViewMatrix(const QRenderView& view) { return view.GetCameraMatrix(); }

void SetSceneViewMatrix(QRenderView& view, const Matrix4W& cameraMatrix) {
    view.viewSettings.camera.transform = FromWFirstMatrix(cameraMatrix);
    view.viewSettings.camera.position = Vec3{};
    view.viewSettings.camera.orientation = Matrix3SetDiagonal(1.0);
}

void SetProjectionScale(QRenderView& view, double focalScale) {
    QCamera& camera = view.viewSettings.camera;
    if (camera.fov == 0.0 || !std::isfinite(camera.fov)) camera.fov = 1.0;
    camera.m = focalScale / camera.fov;
    view.focalScale = camera.fov * camera.m;
}

void FitShadowSphere(GizmoScene& scene) {
    if (!(scene.perspective > 0.0) || !std::isfinite(scene.perspective)) return;
    QRenderView& view = *scene.view;
    Vec3 centre = scene.sceneCentre;
    view.TransformByView(centre);
    view.shadowCentre = centre;
    view.shadowRadius = scene.perspective;
    view.isShadowRadiusReady = true;
}

void SetPerspectiveValues(GizmoScene& scene) {
    QRenderView& view = *scene.view;
    const Matrix4W camera = SceneViewMatrix(view);
    const Vec3 eye{camera.m[4], camera.m[8], camera.m[12]};
    const double nearestScene = Vec3Length(Vec3Sub(eye, scene.sceneCentre)) - scene.perspective;
    if (nearestScene > 0.0) view.depthConstant = nearestScene;
    const double perspectiveFactor =
        2.0 * scene.scale * scene.perspective /
        (1.5 * view.renderWidth * (Vec3Length(eye) - scene.sceneRadius));
    if (perspectiveFactor > 0.0 && std::isfinite(perspectiveFactor)) {
        view.perspectiveFactor = perspectiveFactor;
    }
}

std::optional<ScreenRect> SceneScreenRect(const GizmoScene& scene, const Matrix4W& cameraMatrix) {
    SceneBounds bounds{};
    if (!ProjectScene(scene, cameraMatrix, bounds)) return std::nullopt;
    return ScreenRectOf(scene, bounds);
}

void FollowManipulation(GizmoScene& scene, std::int32_t dx, std::int32_t dy) {
    if (scene.active == 0 || !Manipulate(scene, dx, dy)) return;
    QRenderView& view = *scene.view;

    // The window: its corner at the work area's, so presenting never has to hide it.
    const std::optional<ScreenRect> shown = SceneScreenRect(scene, SceneViewMatrix(view));
    const ScreenRect old = scene.windowRect;
    ScreenRect next{};
    if (shown) {
        next = ScreenRect{scene.workArea.left, scene.workArea.top,
                          std::min(shown->right, scene.workArea.right),
                          std::min(shown->bottom, scene.workArea.bottom)};
    }
    if (next.right - next.left < ManipulationMinWindowSide ||
        next.bottom - next.top < ManipulationMinWindowSide) {
        TakeBack(scene);
        return;
    }
    scene.windowRect = next;

    // The preview, at half resolution for a large scene.
    const std::int64_t area = (static_cast<std::int64_t>(shown->right) - shown->left) *
                              (static_cast<std::int64_t>(shown->bottom) - shown->top);
    const std::int32_t level = area > ManipulationPreviewPixels ? 1 : 0;
    view.isQuickMode = true;
    FitViewTo(scene, next, level);
    view.RenderDocument();
    if (CoveredSamples(view) < (ManipulationMinSamples >> (2 * level))) {
        scene.windowRect = old;
        TakeBack(scene);
        return;
    }
    Present(scene, next, old);
    scene.acceptedViewMatrix = SceneViewMatrix(view);
    scene.acceptedScale = scene.scale;
    scene.acceptedAngles = scene.angles;
}

void EndManipulation(GizmoScene& scene) {
    if (scene.active == 0) return;
    QRenderView& view = *scene.view;
    const Matrix4W camera = SceneViewMatrix(view);

    // The lights need no re-expressing for the new camera: the view prepares them from the
    // scene's lights through its camera at every render, so they stay where they stand.

    // Fit the window around the scene in the work area. A failed projection leaves the open
    // bounds, which the work area holds to the whole of it.
    SceneBounds bounds{};
    ProjectScene(scene, camera, bounds);
    ScreenRect rect = ScreenRectOf(scene, bounds);
    const ScreenRect& work = scene.workArea;
    rect.left = std::clamp(rect.left, work.left, std::max(work.left, work.right - RenderMinSide));
    rect.top = std::clamp(rect.top, work.top, std::max(work.top, work.bottom - RenderMinSide));
    rect.right = std::min(rect.right, work.right);
    rect.bottom = std::min(rect.bottom, work.bottom);
    // The renderer draws nothing smaller than its least side; a scene pushed to the work
    // area's edge keeps a window it can be drawn in.
    rect.right = std::max(rect.right, rect.left + RenderMinSide);
    rect.bottom = std::max(rect.bottom, rect.top + RenderMinSide);

    // The view, at full resolution, with the perspective values of the new camera.
    view.isQuickMode = false;
    FitViewTo(scene, rect, 0);
    SetPerspectiveValues(scene);

    const ScreenRect old = scene.windowRect;
    scene.windowRect = rect;
    RenderGizmoBackground(scene);
    Present(scene, rect, old);
    scene.renderAbandoned = 0;
    if (scene.paused != 0) scene.redrawWhilePaused = 1;
}
