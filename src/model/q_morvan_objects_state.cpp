#include "model/q_morvan_objects_state.h"

#include "model/q_document_base.h"
#include "model/q_morvan_object.h"

#include <algorithm>

QMorvanObjectsState::QMorvanObjectsState() = default;

QMorvanObjectsState::~QMorvanObjectsState() {
    for (QMorvanObject* object : objects) RemoveReference(object, this, 0);
    objects.clear();
    Broadcast(this, MessageDestroyed, 0);
}

void QMorvanObjectsState::AddObject(QReferenceObject* object) {
    if (object == nullptr || object->TypeId() != TypeIdObject) return;
    auto* sceneObject = static_cast<QMorvanObject*>(object);
    if (std::find(objects.begin(), objects.end(), sceneObject) != objects.end()) return;
    // Room first, so that once registered the object is always listed: a state that heard
    // of an object it does not list could not forget it when the object goes.
    objects.reserve(objects.size() + 1);
    AddReference(object, this, 0);
    objects.push_back(sceneObject);
}

void QMorvanObjectsState::Step(bool older) {
    for (QMorvanObject* object : objects) {
        object->cursor += older ? 1 : -1;
        object->RestoreSnapshot(object->cursor);
    }
    if (QDocumentBase* document = CurrentDocument()) document->modified = 1;
}

void QMorvanObjectsState::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                        QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdObject) return;
    auto* object = static_cast<QMorvanObject*>(sender);
    if (message == MessageDestroyed || message == MessageDeleted) {
        // The state stays registered on a deleted object so that it hears the restoration.
        std::erase(objects, object);
    } else if (message == MessageRestored) {
        if (std::find(objects.begin(), objects.end(), object) == objects.end()) {
            objects.push_back(object);
        }
    }
}

void QMorvanObjectsState::OnTargetDestroyed(QReferenceObject* target) {
    // The target is past its own destructor: compare addresses as the base, never cast down.
    std::erase_if(objects, [target](const QReferenceObject* entry) { return entry == target; });
}
