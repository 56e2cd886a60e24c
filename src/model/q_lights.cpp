#include "model/q_lights.h"

#include "core/check.h"
#include "core/scalar_maths.h"
#include "model/document_view.h"
#include "model/q_morvan_object.h"

#include <algorithm>
#include <cmath>
#include <utility>

QLights::QLights() { typeId = TypeIdLights; }

QLights::~QLights() {
    RemoveAll();
    Broadcast(this, MessageDestroyed, 0);
}

void QLights::AddLight(std::unique_ptr<QLight> light) {
    ORBELLE_CHECK(light != nullptr);
    lights.Reserve(lights.Count() + 1);
    AddReference(light.get(), this, 0);
    lights.Append(std::move(light));
    Broadcast(this, MessageChanged, Count() - 1);
}

std::unique_ptr<QLight> QLights::RemoveLightAt(std::int32_t index, bool deleteLight) {
    ORBELLE_CHECK(index >= 0 && index < Count());
    std::unique_ptr<QLight> light = lights.Release(static_cast<std::size_t>(index));
    if (!deleteLight) return light;
    RemoveReference(light.get(), this, 0);
    return nullptr;
}

void QLights::RemoveAll() {
    // Unregistering first keeps this list from hearing its own lights die.
    for (std::unique_ptr<QLight>& light : lights.ReleaseAll()) {
        RemoveReference(light.get(), this, 0);
        light.reset();
    }
}

std::int32_t QLights::IndexOf(const QLight* light) const {
    return static_cast<std::int32_t>(lights.Find(light).value_or(lights.Count()));
}

void QLights::SyncFrom(const QLights& other) {
    if (Count() != other.Count()) {
        RemoveAll();
        for (const QLight* light : other.lights) AddLight(std::make_unique<QLight>(*light));
    } else {
        for (std::size_t i = 0; i < lights.Count(); ++i)
            QLight::Assign(*other.lights[i], *lights[i]);
    }
    if (view != nullptr) view->SyncObjectsWithView(false);
}

void QLights::CopyFrom(const QLights& other) {
    RemoveAll();
    for (const QLight* from : other.lights) {
        auto light = std::make_unique<QLight>(view);
        QLight::Assign(*from, *light);
        light->PushSnapshot();
        AddLight(std::move(light));
    }
}

void QLights::RestoreSnapshots() {
    for (QLight* light : lights) {
        const auto& snapshots = light->Snapshots();
        // A cursor that has walked off either end of the history names no snapshot.
        if (light->snapshotCursor < 0 ||
            static_cast<std::size_t>(light->snapshotCursor) >= snapshots.size()) {
            continue;
        }
        QLight::Assign(*snapshots[static_cast<std::size_t>(light->snapshotCursor)], *light);
    }
}

void QLights::CollectLinkedObjectIds(IdSet& ids) const {
    ids = IdSet();
    if (view != nullptr && view->isDelegate) return;
    for (const bool atObject : {false, true}) {
        for (const QLight* light : lights) {
            if (!light->isOn || light->isAtObject != atObject) continue;
            QReferenceObject* followed = light->Link(LightLinkFollowed);
            if (followed == nullptr || followed->TypeId() != TypeIdObject) continue;
            const auto* object = static_cast<const QMorvanObject*>(followed);
            // A selected object taken out of the block keeps its mark but has no index.
            if (object->IsSelected() && object->IsPresentInBlock()) ids.Insert(object->Index());
        }
    }
}

void QLights::DeleteAllLights() {
    const bool wasShown = std::any_of(lights.begin(), lights.end(),
                                      [](const QLight* light) { return light->IsVisibleInView(); });
    RemoveAll();
    if (wasShown && view != nullptr) view->SyncObjectsWithView(false);
}

void QLights::SetDefaultLights() {
    DeleteAllLights();
    struct DefaultLight {
        double brightness;
        Vec3 direction;
    };
    const DefaultLight defaults[] = {
        {0.8, Vec3{std::sin(PI / 8.0), std::sin(PI / 3.0), std::cos(PI / 3.0)}},
        {0.5, Vec3{std::cos(PI / 4.0), std::sin(PI / 4.0), -std::cos(PI / 4.0)}},
    };
    for (const DefaultLight& entry : defaults) {
        auto light = std::make_unique<QLight>(view);
        light->colour = ColourFromBytes(255, 255, 255);
        light->isOn = true;
        light->isAtObject = false;
        light->brightness = entry.brightness;
        // Both lights stand 4000 from the origin, along their directions.
        Vec3 direction = entry.direction;
        Vec3Normalize(direction);
        light->position = Vec3Scale(direction, 4000.0);
        light->PushSnapshot();
        AddLight(std::move(light));
    }
}

void QLights::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                            QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdLight) return;
    auto* light = static_cast<QLight*>(sender);
    std::int32_t index = IndexOf(light);
    switch (message) {
        case MessageDestroyed:
            if (!lights.Forget(light)) return;
            break;
        case MessageDeleted:
            if (!lights.HandOver(light)) return;
            light->ClearLinks();
            break;
        case MessageRestored:
            if (index == Count()) lights.TakeBack(lights.Count(), light);
            break;
        default:
            return;
    }
    if (view != nullptr) view->PrepareLights();
    Broadcast(this, MessageChanged, index);
}

void QLights::ClearHistory() {
    for (QLight* light : lights) {
        light->ClearHistory();
        light->PushSnapshot();
    }
}

void QLights::OnTargetDestroyed(QReferenceObject* target) {
    // The target is no longer a light by now; only its address is compared.
    lights.Forget(target);
}
