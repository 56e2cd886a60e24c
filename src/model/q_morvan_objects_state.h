#pragma once

// QMorvanObjectsState is the undo step that records which scene objects one user operation
// changed. The objects keep their own snapshot histories; stepping the state moves every
// recorded object's snapshot cursor by one and copies that snapshot back into the record.
// The state follows its objects (set 0): an object that goes away or is deleted leaves the
// state, and comes back to it when restored. Objects are kept in the order they were added.

#include "object/q_state.h"

#include <vector>

class QMorvanObject;

class QMorvanObjectsState : public QState {
public:
    // An empty step of the current document (which must exist).
    QMorvanObjectsState();

    // Leaves every object, then broadcasts message 0.
    ~QMorvanObjectsState() override;

    QMorvanObjectsState(const QMorvanObjectsState&) = delete;
    QMorvanObjectsState& operator=(const QMorvanObjectsState&) = delete;

    // Adds a scene object (type id 1; anything else is ignored) once and follows it.
    void AddObject(QReferenceObject* object);

    // Moves each object's cursor one snapshot older (older true) or newer and restores the
    // record from the snapshot there; a cursor outside the history restores nothing. Marks
    // the document modified.
    void Step(bool older) override;

    // Scene objects only: 0 and 1 take the object out, 2 puts it back.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    const std::vector<QMorvanObject*>& Objects() const { return objects; }

protected:
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    std::vector<QMorvanObject*> objects;
};
