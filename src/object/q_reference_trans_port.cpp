#include "object/q_reference_trans_port.h"

#include "core/check.h"

QReferenceTransPort::QReferenceTransPort(QReferenceObject* referenced) : target(referenced) {
    ORBELLE_CHECK(target != nullptr);
    AddReference(target, this, 0);
}

QReferenceTransPort::~QReferenceTransPort() {
    if (target != nullptr) {
        QReferenceObject* held = target;
        target = nullptr;
        RemoveReference(held, this, 0);
    }
    Broadcast(this, MessageDestroyed, 0);
}

void QReferenceTransPort::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                        QReferenceObject*) {
    if (message == MessageDestroyed) target = nullptr;
}

void QReferenceTransPort::OnTargetDestroyed(QReferenceObject* destroyed) {
    if (destroyed == target) target = nullptr;
}
