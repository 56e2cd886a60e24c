#pragma once

// A flyer between contacts, and what a contact does to it.
//
// A flyer is a rigid body of density 1 whose inertia is taken as that of a symmetric top:
// its body y axis is the symmetry axis (moment inertiaAxial), x and z share inertiaTransverse.
// Between contacts it falls under the world's gravity inside the stage wall (a vertical
// cylinder about the stage centre) and below the top, reflecting off both, and spins free of
// torque.
//
// The spin is kept in closed form. momentumFrame is a fixed frame whose y axis points along
// the angular momentum L (magnitude angularMomentum); the angles (spin, nutation, precession)
// give orientation = momentumFrame Ry(precession) Rz(nutation) Ry(spin). For a torque-free
// symmetric top the nutation stays constant, the precession turns about L at L / It and the
// spin about the body axis at cos(nutation) (1/Ia - 1/It) L. An impulse changes L; the new
// frame is chosen so that the body keeps its orientation through the change.

#include "core/matrix3.h"
#include "core/vec3.h"
#include "gizmo/physics_part.h"

#include <span>

struct GizmoObject;
struct GizmoWorld;

// Sets up a flyer from its parts: wallDamping and topDamping undecided, no hit part, stamps
// 0; mass, centre and inertia sampled from the parts' solids (mass_properties.h). A flyer
// with no volume keeps mass 0 and live 0 and nothing else is set. Otherwise live = 1, the
// start and committed position are the centre of mass (snapped onto the control part's axis
// and level when within 3 % of its bounding radius, when a control part is given), the body
// axes are the principal axes with the odd moment's axis as y, the rest copies of the parts
// are placed in the body frame, the start and committed angles give that frame, the flyer is
// at rest, and size is the farthest reach of a part's bounding sphere from the centre.
void SetUpFlyer(GizmoObject& flyer, std::span<const PhysicsPart> parts, const PhysicsPart* control);

// Moves the flyer t seconds on from its current position, velocity and angles: free fall
// under gravity (negative is down), reflection at the top (topY) keeping the speed, and
// reflection at the wall of radius stageRadius about stageCentre (x and z) reversing the
// radial velocity and keeping the tangential; then turns it as a free symmetric top and sets
// its orientation. t = 0 only sets the orientation.
void AdvanceFlyer(GizmoObject& flyer, double t, double gravity, double topY, double stageRadius,
                  const Vec3& stageCentre);

// The orientation of the angles in the flyer's momentum frame.
Matrix3 FlyerOrientationOf(const GizmoObject& flyer, const Vec3& angles);

// The angular velocity of the flyer's angular momentum at its orientation: J^-1 L.
Vec3 FlyerAngularVelocity(const GizmoObject& flyer);

// The matrix K that maps an impulse at lever arm r (world, from the centre) to the change of
// that point's velocity: (1/mass) I + [r]x^T J^-1 [r]x, J^-1 the inverse inertia turned into
// world coordinates by the orientation.
Matrix3 ContactMatrix(const GizmoObject& flyer, const Vec3& r);

// Applies an impulse at lever arm r: the committed velocity gains impulse / mass and the
// angular momentum r x impulse; the momentum frame and the committed angles are set anew so
// that the orientation stays what it was. A momentum too small to give a direction (zero
// exponent) leaves the identity as the frame and the momentum 0.
void ApplyImpulse(GizmoObject& flyer, const Vec3& r, const Vec3& impulse);

// End-of-frame damping of a flyer creeping along the wall or under the top, within the
// world's wallMargin of either (nothing when wallMargin <= 0): a flyer in the wall zone loses
// wallDamping times its horizontal offset from the stage centre, one in the top zone loses
// topDamping of its rising speed; each rate is worked out once when the flyer enters its zone
// and forgotten when it leaves. Works on the committed velocity. dt is the frame's time step;
// nothing happens when it is not positive.
void DampFlyer(const GizmoWorld& world, GizmoObject& flyer, double dt);
