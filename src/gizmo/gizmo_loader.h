#pragma once

// The gizmo loader: turns a scene file into a playable gizmo in a GizmoScene.
//
// It opens the file as a document with a render view, reads and checks the roles of the
// objects and groups (gizmo_role_table.h), marks the parts in the gizmo's copy of the part
// block and in the scene geometry (not drawn, non-colliding, colliding while hidden,
// second-state and fixed-role parts), builds one simulated object per flipper, slider and
// flyer, adds two hidden catcher discs below and above the flyers' space, aims the camera at
// the origin from no closer than 1.75 times the scene's radius, sizes the window to the
// scene's picture and fits it into the monitor's work area, and renders the first frame. The
// gizmo is left paused.
//
// Part flags the loader gives (record byte 24, mirrored in the geometry entry's visible and
// option bytes):
//   0x01 takes no part in collisions        0x04 a flipper's second-state part
//   0x08 a fixed-role part                  0x10 collides although not drawn
//   0x80 not drawn
//
// The view values the loader sets, and the renderer settings they are:
//   the view's clip distances, moved with the eye  -> the depth-cue near and far depths
//   the radius value (perspective)                 -> the depth constant: the nearest depth
//                                                     of the ball that holds the scene
//   the perspective factor                         -> the light-map scale
//   the edge switch (a two-pixel window margin)    -> the edge-line option
// and the frame render's view distance stays 1: the window is sized at the view's focal
// value x 1000 pixels per image unit, which the picture keeps only at view distance 1.

#include <cstdint>
#include <string_view>

struct GizmoScene;

// Flag bits the loader gives parts.
inline constexpr std::uint8_t GizmoPartNonColliding = 0x01;
inline constexpr std::uint8_t GizmoPartSecondState = 0x04;
inline constexpr std::uint8_t GizmoPartFixedRole = 0x08;
inline constexpr std::uint8_t GizmoPartCollidesHidden = 0x10;
inline constexpr std::uint8_t GizmoPartHidden = 0x80;

// Loads the gizmo file at path into scene, which holds its defaults. Returns 0 on success;
// -1 with errorText "Cannot load a scene file" when the file cannot be opened as a scene,
// "Viewpoint is inside a solid object" when the camera stands inside a drawn part, or
// "The camera stands at the centre of the scene" when it stands at the origin, which gives
// it no direction to look in. A malformed role throws GizmoLoadException with its message;
// KVOutOfMemoryException and the view's sizing failures pass out too. Whatever was built
// stays in scene for the caller to unload (LoadGizmo does).
std::int32_t LoadScene(std::string_view path, GizmoScene& scene);
