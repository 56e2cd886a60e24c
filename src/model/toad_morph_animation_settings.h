#pragma once

// ToadMorphAnimationSettings reads and scales the total morph time of the selected bot's
// morph chain: the sum of the durations of the bots that have a successor. The document
// embeds one. Morph links come from files, so a chain may loop back on itself; the walk
// stops at the first bot it meets again instead of running for ever.

#include "model/animation_settings.h"

#include <cstdint>

class QDocumentBase;

class ToadMorphAnimationSettings : public AnimationSettings {
public:
    // Type id 17, step rate 30 per second, owned by document (may be null).
    explicit ToadMorphAnimationSettings(QDocumentBase* owner);

    ToadMorphAnimationSettings(const ToadMorphAnimationSettings&) = delete;
    ToadMorphAnimationSettings& operator=(const ToadMorphAnimationSettings&) = delete;

    // The sum of the morph durations of the bots with a successor, walking the chain from
    // the first selected bot of the document's bot list; 0 without a selected bot.
    void GetAnimationTime(float& out) override;

    // Scales those durations so that they add up to total; none falls below one step
    // (1 / step rate), and a duration that cannot be scaled (no time so far) becomes one step.
    void SetAnimationTime(float total) override;

    float stepRate = 30.0f;  // steps per second
    QDocumentBase* document = nullptr;
    std::uint8_t flag = 0;
};
