#pragma once

// QReferenceTransPort is a weak reference to one model object: it registers on its target and
// forgets it when the target is destroyed, whether the target announces that with message 0
// or, having been deleted undoably before, goes without a word. Lists pass one as the payload
// of their change broadcasts to name the member that changed.

#include "object/q_reference_object.h"

class QReferenceTransPort : public QReferenceObject {
public:
    // Registers on target (set 0). Target must not be null.
    explicit QReferenceTransPort(QReferenceObject* target);

    // Unregisters from the target when it is still there (with the auto-delete rule), then
    // broadcasts message 0.
    ~QReferenceTransPort() override;

    // Message 0 forgets the target; every other message is ignored.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // The target, or null once it has been destroyed.
    QReferenceObject* Target() const { return target; }

protected:
    void OnTargetDestroyed(QReferenceObject* destroyed) override;

private:
    QReferenceObject* target = nullptr;
};
