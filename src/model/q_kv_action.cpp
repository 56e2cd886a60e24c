#include "model/q_kv_action.h"

#include "modeller/drag_redraw_cache.h"

QKVAction::QKVAction(QDocumentBase* owner) {
    document = owner;
    typeId = TypeIdMouseAction;
    redrawCache = std::make_unique<DragRedrawCache>(owner);
}

QKVAction::~QKVAction() = default;

void QKVAction::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                              QReferenceObject* sender) {
    if ((message == MessageDeleted || message == MessageDestroyed) && sender == pending) {
        pending = nullptr;
    }
}

void QKVAction::OnTargetDestroyed(QReferenceObject* target) {
    if (target == pending) pending = nullptr;
}
