#pragma once

// AnimationSettings is the base of the records that read and scale the length of an
// animation: its two operations follow the QReferenceObject ones.

#include "object/q_reference_object.h"

class AnimationSettings : public QReferenceObject {
public:
    // Writes the total animation time into out.
    virtual void GetAnimationTime(float& out) = 0;

    // Scales the animation to the total time.
    virtual void SetAnimationTime(float total) = 0;
};
