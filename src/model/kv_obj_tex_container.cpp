#include "model/kv_obj_tex_container.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/named_entries.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"
#include "geometry/primitive_record.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"

#include <algorithm>
#include <memory>
#include <optional>

// ---- container ----

KVObjTexContainer::KVObjTexContainer(const std::uint8_t* sourceRecord,
                                     QReferenceObject* sourceTexture)
    : texture(sourceTexture) {
    ORBELLE_CHECK(sourceRecord != nullptr);
    ORBELLE_CHECK(sourceTexture == nullptr || sourceTexture->TypeId() == TypeIdTexture);
    typeId = TypeIdObjTexContainer;
    // The whole record is kept, extension included: a shape that outlives its object must
    // still be the same shape.
    record = PartRecordCopy(sourceRecord);
    StoreU32LE(record.get() + PartRecordTextureRefOffset, 0);
    if (texture != nullptr) AddReference(texture, this, 0);
}

KVObjTexContainer::~KVObjTexContainer() {
    if (texture != nullptr) {
        QReferenceObject* old = texture;
        texture = nullptr;
        RemoveReference(old, this, 0);
    }
    record.reset();
    Broadcast(this, MessageDestroyed, 0);
}

void KVObjTexContainer::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                      QReferenceObject* sender) {
    if (sender == nullptr) return;
    if ((message == MessageDestroyed || message == MessageDeleted) && sender == texture) {
        texture = nullptr;
    } else if (message == MessageRestored && sender->TypeId() == TypeIdTexture) {
        texture = sender;
    }
}

void KVObjTexContainer::OnTargetDestroyed(QReferenceObject* target) {
    if (target == texture) texture = nullptr;
}

// ---- list ----

KVObjTexContainerList::KVObjTexContainerList(const KVObjTexContainerList& other)
    : QReferenceObject(other) {
    Assign(other);
}

KVObjTexContainerList::~KVObjTexContainerList() {
    Clear();
    Broadcast(this, MessageDestroyed, 0);
}

KVObjTexContainerList& KVObjTexContainerList::operator=(const KVObjTexContainerList& other) {
    Assign(other);
    return *this;
}

void KVObjTexContainerList::Assign(const KVObjTexContainerList& other) {
    if (&other == this) return;
    Clear();
    for (const KVObjTexContainer* container : other.containers) {
        AddContainer(container->Record(), container->Texture());
    }
}

KVObjTexContainer* KVObjTexContainerList::AddContainer(const std::uint8_t* record,
                                                       QReferenceObject* texture) {
    auto container = std::make_unique<KVObjTexContainer>(record, texture);
    containers.Reserve(containers.Count() + 1);
    AddReference(container.get(), this, 0);
    return containers.Append(std::move(container));
}

KVObjTexContainer* KVObjTexContainerList::AddContainerForObject(const QMorvanObject& object) {
    const std::uint8_t* record = object.GetPartRecord();
    if (record == nullptr) return nullptr;
    return AddContainer(record, object.Texture());
}

void KVObjTexContainerList::BuildFromObjects(const QMorvanObjects& collection) {
    Clear();
    for (const QMorvanObject* object : collection.Objects()) AddContainerForObject(*object);
}

KVObjTexContainer* KVObjTexContainerList::AddContainerFromRecords(
    const std::vector<PrivateBlockPtr<std::uint8_t>>& records) {
    if (records.empty() || records.front() == nullptr) return nullptr;
    return AddContainer(records.front().get(), nullptr);
}

namespace {

ObjectFileReader& RegisteredObjectFileReader() {
    static ObjectFileReader reader = nullptr;
    return reader;
}

}  // namespace

void SetObjectFileReader(ObjectFileReader reader) { RegisteredObjectFileReader() = reader; }

KVObjTexContainer* KVObjTexContainerList::AddContainerFromFile() {
    NamedEntry entry;
    LookupNamedEntry(entry);
    return AddContainerFromFile(entry.text);
}

KVObjTexContainer* KVObjTexContainerList::AddContainerFromFile(std::string_view path) {
    const ObjectFileReader reader = RegisteredObjectFileReader();
    if (reader == nullptr) return nullptr;
    std::vector<PrivateBlockPtr<std::uint8_t>> records;
    if (reader(records, path) != 0) return nullptr;
    return AddContainerFromRecords(records);
}

KVObjTexContainer* KVObjTexContainerList::GetAt(std::uint32_t index) const {
    return index < containers.Count() ? containers[index] : nullptr;
}

void KVObjTexContainerList::Clear() {
    for (std::unique_ptr<KVObjTexContainer>& container : containers.ReleaseAll()) {
        RemoveReference(container.get(), this, 0);
        container.reset();
    }
}

void KVObjTexContainerList::RemoveContainer(KVObjTexContainer* container) {
    const std::optional<std::size_t> at = containers.Find(container);
    if (!at) return;
    std::unique_ptr<KVObjTexContainer> owned = containers.Release(*at);
    RemoveReference(container, this, 0);
    owned.reset();
}

void KVObjTexContainerList::TransformRecords(Matrix4 transform) {
    const Matrix4W placement = ToWFirstMatrix(transform);
    for (KVObjTexContainer* container : containers) {
        SetPartPlacement(container->Record(), placement);
    }
}

void KVObjTexContainerList::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                          QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdObjTexContainer) return;
    auto* container = static_cast<KVObjTexContainer*>(sender);
    if (message == MessageDestroyed) {
        // The container is already dying: it leaves the list but is not freed again.
        containers.Forget(container);
    } else if (message == MessageDeleted) {
        if (const std::optional<std::size_t> at = containers.HandOver(container)) {
            container->listIndex = static_cast<std::uint32_t>(*at);
        }
    } else if (message == MessageRestored) {
        if (containers.Contains(container)) return;
        const std::size_t at = std::min<std::size_t>(container->listIndex, containers.Count());
        containers.TakeBack(at, container);
    }
}

void KVObjTexContainerList::OnTargetDestroyed(QReferenceObject* target) {
    // The target is past its own destructor: compare addresses as the base, never cast down.
    containers.Forget(target);
}
