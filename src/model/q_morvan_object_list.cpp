#include "model/q_morvan_object_list.h"

#include "core/check.h"
#include "model/q_morvan_object.h"

#include <algorithm>

QMorvanObjectList::~QMorvanObjectList() {
    Clear();
    Broadcast(this, MessageDestroyed, 0);
}

void QMorvanObjectList::Add(QMorvanObject* object) {
    ORBELLE_CHECK(object != nullptr);
    if (std::find(members.begin(), members.end(), object) != members.end()) return;
    members.push_back(object);
    AddReference(object, this, 0);
}

void QMorvanObjectList::Clear() {
    for (QMorvanObject* object : members) RemoveReference(object, this, 0);
    members.clear();
}

QMorvanObject* QMorvanObjectList::GetIdClamped(std::int32_t i) const {
    if (members.empty() || i < 0) return nullptr;
    return members[std::min(static_cast<std::size_t>(i), members.size() - 1)];
}

void QMorvanObjectList::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                      QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdObject) return;
    if (message != MessageDestroyed && message != MessageDeleted) return;
    const auto it = std::find(members.begin(), members.end(), sender);
    if (it == members.end()) return;
    members.erase(it);
    RemoveReference(sender, this, 0);
}

void QMorvanObjectList::OnTargetDestroyed(QReferenceObject* target) {
    // The target is past its own destructor: compare addresses as the base, never cast down.
    std::erase_if(members, [target](const QReferenceObject* entry) { return entry == target; });
}
