#pragma once

// QMorvanLightState is the undo step's record of the lights one user operation changed. The
// lights keep their own snapshots; the state remembers which lights to move when the step is
// walked, and is registered (set 0) on each so that it hears them go and come back.

#include "object/q_state.h"

#include <cstdint>
#include <vector>

class QLight;

class QMorvanLightState : public QState {
public:
    // An empty state of the current document's present step; a current document must exist.
    QMorvanLightState();

    // Unregisters from its lights and broadcasts message 0.
    ~QMorvanLightState() override;

    QMorvanLightState(const QMorvanLightState&) = delete;
    QMorvanLightState& operator=(const QMorvanLightState&) = delete;

    // Records object when it is a light (type id 3) and registers on it; anything else, and
    // a light already recorded, changes nothing. Throws std::bad_alloc.
    void AddLight(QReferenceObject* object);

    // Moves each recorded light's snapshot cursor one older (older true) or one newer; where
    // the cursor then names a snapshot, the light takes its values, the view is brought up
    // to date, the document's and the secondary view's light-change marks are set and the
    // view's document announces the change (message 7, argument 7).
    void Step(bool older) override;

    // From lights only: destroyed (0) or deleted undoably (1) takes the light out of the
    // state, restored (2) puts it back.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // The recorded lights in recording order.
    const std::vector<QLight*>& Lights() const { return lights; }

protected:
    // Forgets a light destroyed without announcing it (one deleted undoably meanwhile).
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    std::vector<QLight*> lights;
};
