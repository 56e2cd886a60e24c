#pragma once

// The camera and window manipulations of the gizmo's window, followed while the left button
// is held: Ctrl turns the view about the scene's origin (0.01 radian per pixel), Shift
// resizes the gizmo (1% per pixel down, shrinking without bound upward), Alt changes the
// perspective while the scene keeps its size on the screen, and a plain press on a scene
// that overflows its window moves the picture. While the button is held the window's
// top-left corner stays at the work area's and the scene is drawn whole at each step, at
// half resolution when it is large; a step that would take the scene out of the work area
// or make it all but vanish is taken back and ends the manipulation. On release the window
// is fitted tightly around the scene again and the scene drawn in full.
//
// Two or more modifiers held at the press change nothing until the release.

#include "core/matrix4.h"
#include "platform/layered_display.h"

#include <cstdint>
#include <optional>

struct GizmoScene;
struct SceneExtraSurfaces;
class QRenderView;

// A manipulation goes back when its window would be narrower or lower than this.
inline constexpr std::int32_t ManipulationMinWindowSide = 32;

// A manipulation goes back when fewer samples than this show the scene (at full resolution;
// a quarter of it at half resolution).
inline constexpr std::int32_t ManipulationMinSamples = 1024;

// The preview is drawn at half resolution when the scene covers more pixels than this.
inline constexpr std::int64_t ManipulationPreviewPixels = 500'000;

// The volume fog's two layer forms, which bound the scene's picture too when the scene's
// volume fog is on: extra filled and returned; null when it is off.
const SceneExtraSurfaces* SceneFogSurfaces(const GizmoScene& scene, SceneExtraSurfaces& extra);

// The view matrix as the gizmo keeps it: camera to scene coordinates, w-first, its first
// column the eye.
Matrix4W SceneViewMatrix(const QRenderView& view);
void SetSceneViewMatrix(QRenderView& view, const Matrix4W& cameraMatrix);

// The view's projection scale, focal length in pixels / 1000.
void SetProjectionScale(QRenderView& view, double focalScale);

// The shadow maps' sphere for the view's camera: the ball that holds every drawn part
// (GizmoScene's sceneCentre and perspective) seen from the camera, ready so that no frame
// measures it again. Nothing when that ball has no radius.
void FitShadowSphere(GizmoScene& scene);

// The view's perspective values for its camera and width: the camera's depth constant (the
// eye's distance to that ball, when the eye lies outside it) and the perspective factor,
// 2 x scale x r / (1.5 x width x (eye distance - sceneRadius)).
void SetPerspectiveValues(GizmoScene& scene);

// The scene's rectangle on the screen seen through cameraMatrix at the scene's scale and
// window origin, with the renderer's margin; empty when the eye is inside a drawn part.
std::optional<ScreenRect> SceneScreenRect(const GizmoScene& scene, const Matrix4W& cameraMatrix);

// One step of the manipulation in progress, for the cursor at (dx, dy) from the press.
// KVOutOfMemoryException passes out when the view cannot be sized.
void FollowManipulation(GizmoScene& scene, std::int32_t dx, std::int32_t dy);

// Ends a manipulation (released or taken back): the window is fitted around the scene in
// the work area, the scene drawn in full with its background kept for the frames, and the
// window moved and shown. A paused gizmo shows its moving parts at the next frame.
// UserAbortRender from the render's polls passes out, the render abandoned;
// KVOutOfMemoryException when the view cannot be sized.
void EndManipulation(GizmoScene& scene);
