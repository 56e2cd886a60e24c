#pragma once

// The response of a flyer to a contact: an impulse worked out from the contact normal, the
// two parts' loss and friction, and the motion of whatever was hit.
//
// The impulse is found by following the contact through its collision in small steps of
// normal impulse (Routh's method). Along the way the tangential slip turns and slows under
// Coulomb friction, and may stop and stick; the normal velocity rises through compression
// and restitution. Restitution is energetic: the work done by the normal impulse during
// compression is tracked, the fraction "loss" of it is taken away when compression ends, and
// the rest is returned in the restitution phase. With no loss and no friction the normal
// speed is returned as it arrived.

#include "core/vec3.h"

#include <cstdint>

struct GizmoObject;

// The contact materials of one part, as its record gives them.
struct ContactMaterial {
    double loss = 0.0;      // fraction of the compression work lost
    double friction = 0.0;  // Coulomb coefficient
};

// Sub-steps (1/256 frame) within which a repeated contact of the same parts has its loss
// and friction reduced.
inline constexpr std::int32_t RepeatedContactWindow = 64;

// Bounces the flyer off its hit part at its contact record (point and a normal pointing out
// of the flyer's part into the hit part, any length). `other` owns the hit part, or is null;
// a moving flyer takes its share of the impulse, a moving flipper or slider only lends its
// velocity, and anything at rest is fixed. Loss and friction are the smaller of the two
// parts' values (0 with noLossOrFriction), reduced when the same part was hit less than a
// quarter frame ago (sinceLastContact in 1/256 frame). A separating contact is pushed apart
// at eight times its separation speed; an approaching one gets the collision impulse,
// impactSpeed is its approach speed and contactSound says whether it was above 2 |g| / 60.
// The impulses go to the committed velocities and angular momenta (ApplyImpulse); the other
// flyer's hitPart is cleared. A zero contact normal gives no impulse.
void Bounce(GizmoObject& flyer, GizmoObject* other, ContactMaterial own, ContactMaterial hit,
            std::int32_t sinceLastContact, double gravity, bool noLossOrFriction);
