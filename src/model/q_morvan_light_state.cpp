#include "model/q_morvan_light_state.h"

#include "model/document_view.h"
#include "model/q_document_base.h"
#include "model/q_light.h"

#include <algorithm>
#include <cstddef>

QMorvanLightState::QMorvanLightState() = default;

QMorvanLightState::~QMorvanLightState() {
    for (QLight* light : lights) RemoveReference(light, this, 0);
    lights.clear();
    Broadcast(this, MessageDestroyed, 0);
}

void QMorvanLightState::AddLight(QReferenceObject* object) {
    if (object == nullptr || object->TypeId() != TypeIdLight) return;
    auto* light = static_cast<QLight*>(object);
    if (std::find(lights.begin(), lights.end(), light) != lights.end()) return;
    lights.push_back(light);
    try {
        AddReference(light, this, 0);
    } catch (...) {
        lights.pop_back();
        throw;
    }
}

void QMorvanLightState::Step(bool older) {
    // Restoring a light re-prepares its view and broadcasts, and a handler may take lights
    // out of this state meanwhile; the walk therefore runs over a copy and skips lights that
    // have left.
    const std::vector<QLight*> recorded = lights;
    for (QLight* light : recorded) {
        if (std::find(lights.begin(), lights.end(), light) == lights.end()) continue;
        light->snapshotCursor += older ? 1 : -1;
        const std::int32_t cursor = light->snapshotCursor;
        if (cursor < 0 || static_cast<std::size_t>(cursor) >= light->Snapshots().size()) continue;
        QLight::Assign(*light->Snapshots()[static_cast<std::size_t>(cursor)], *light);

        DocumentView* view = light->view;
        if (view == nullptr) continue;
        view->SyncObjectsWithView(false);
        view->UpdateObjectGeometry();
        view->PrepareLights();
        if (view->secondaryView != nullptr) view->secondaryView->lightsChanged = true;
        if (QDocumentBase* document = view->Document()) {
            document->lightsChanged = 1;
            Broadcast(document, MessageChanged, DocumentChangeLights);
        }
    }
}

void QMorvanLightState::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                      QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdLight) return;
    auto* light = static_cast<QLight*>(sender);
    const auto found = std::find(lights.begin(), lights.end(), light);
    switch (message) {
        case MessageDestroyed:
        case MessageDeleted:
            // A light that leaves is not stepped: a destroyed one is gone, and one deleted
            // undoably belongs to the undo history. The state stays registered on a deleted
            // light to hear it come back, and a restored light is stepped again, so undoing
            // past its deletion still undoes this step's change to it.
            if (found != lights.end()) lights.erase(found);
            break;
        case MessageRestored:
            if (found == lights.end()) lights.push_back(light);
            break;
        default:
            break;
    }
}

void QMorvanLightState::OnTargetDestroyed(QReferenceObject* target) {
    // The target is no longer a light by now; only its address is compared.
    std::erase_if(lights, [&](const QLight* light) { return light == target; });
}
