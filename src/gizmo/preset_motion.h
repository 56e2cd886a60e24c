#pragma once

// Preset motions: how a flipper moves between its first and its second pose. The two poses
// are the placements of the flipper's control part in its two state groups. Their difference
// is a screw motion — a rotation about a fixed axis combined with a slide along that axis —
// or, when the poses have the same orientation, a plain translation. A motion value u from 0
// (first pose) to 1 (second pose) is eased by a curve f(u) and f is the fraction of the screw
// motion applied, so every intermediate pose lies on the one screw and u = 1 reaches the
// second pose exactly.
//
// Timing: the go phase runs u from 0 to 1 in goTime seconds and the return phase from 1 to 0
// in returnTime. A motion without a trigger ("activated" clear) starts with the gizmo and
// never ends; a triggered one-way motion goes to the second pose and rests there until the
// next trigger brings it back; a triggered for-and-back motion goes and returns on each
// trigger.

#include <cstdint>

struct GizmoObject;
struct GizmoWorld;

// Easing codes, as stored in goEase and returnEase.
inline constexpr std::int32_t EaseLinear = 0;
inline constexpr std::int32_t EaseIn = 1;
inline constexpr std::int32_t EaseOut = 2;
inline constexpr std::int32_t EaseInOut = 3;

// A point of an easing curve: its value f(u) and its slope df/du.
struct EasePoint {
    double value = 0.0;
    double slope = 0.0;
};

// The easing curve of the code at u: EaseIn u², EaseOut u(2 - u), EaseInOut
// 0.5 + v(1.5 - 2v²) with v = u - 0.5, any other code u itself.
EasePoint EaseCurve(std::int32_t ease, double u);

// Sets up the object's motion from the part records of its control part in the first and the
// second pose: basePosition (and position) at the first pose, the move and rotation between
// them, the screw's side and axis vectors and pivot offset, the rest copies of its parts
// placed at the origin, both clocks 0. A first part of a shape type without a single
// placement (10-12, 26-28) gives a motion that stays where it is.
void SetUpMotion(GizmoObject& object, const std::uint8_t* first, const std::uint8_t* second);

// Advances the working clock by t seconds (less the start offset of a pending start) and sets
// the object's position, orientation, velocity and angular velocity for the new clock;
// motionDone is set when the motion reached its end. A phase whose time is 0 or less takes
// no time: it is at its end at once, and the object does not move during it.
void EvaluateMotion(GizmoObject& object, double t);

// Starts the motion of an activated object that is not moving: a one-way motion resting at
// its second pose starts its return t seconds in, any other starts its go t seconds in.
// Nothing happens to an object in motion or without a trigger.
void TriggerMotion(GizmoWorld& world, GizmoObject& object, double t);
