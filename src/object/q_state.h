#pragma once

// QState is an undo step's record of one kind of edited object: each subclass holds the set
// of objects a step changed (scene objects, lights, bots), registered on each of them, while
// the objects keep their own snapshots. The undo history's change list owns the state and
// destroys it when its step is forgotten or the history is cleared.

#include "object/q_reference_object.h"

class QState : public QReferenceObject {
public:
    // Moves every recorded object to its next older snapshot (older true) or its next newer
    // one (older false).
    virtual void Step(bool older) = 0;

protected:
    // Type id 14, with the current undo history's step number as the one undo-step history
    // entry; the state history stays empty. A current history must exist.
    QState();
};
