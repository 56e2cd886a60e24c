#pragma once

// KVObjTexContainer holds a private copy of one part record with the texture that goes with
// it, so that a shape outlives the scene object it was taken from; a bot builds itself from a
// list of them. The container follows its texture (set 0) and forgets it when the texture
// goes; KVObjTexContainerList owns its containers (an OwnedList: a container deleted undoably
// belongs to the undo history until it is restored) and follows them.

#include "core/matrix4.h"
#include "core/private_block.h"
#include "object/owned_list.h"
#include "object/q_reference_object.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

class QMorvanObject;
class QMorvanObjects;

// Reads the part records of an object file into records: 0, 1 unreadable, 2 no object
// records. Object files are read by the scene-file layer above this one, which registers
// its reader at start-up.
using ObjectFileReader = std::int32_t (*)(std::vector<PrivateBlockPtr<std::uint8_t>>& records,
                                          std::string_view path);

// Registers the object-file reader (null for none).
void SetObjectFileReader(ObjectFileReader reader);

class KVObjTexContainer : public QReferenceObject {
public:
    // Type id 19 with a copy of the whole record (extension included, texture handle
    // cleared) and texture (type id 6, or null), which it follows. Throws
    // KVOutOfMemoryException when the copy cannot be made.
    KVObjTexContainer(const std::uint8_t* sourceRecord, QReferenceObject* sourceTexture);

    // Leaves its texture, frees the record, then broadcasts message 0.
    ~KVObjTexContainer() override;

    KVObjTexContainer(const KVObjTexContainer&) = delete;
    KVObjTexContainer& operator=(const KVObjTexContainer&) = delete;

    // Messages 0 and 1 from its texture forget it; message 2 from a texture makes it the
    // container's texture.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    std::uint8_t* Record() const { return record.get(); }
    QReferenceObject* Texture() const { return texture; }

    // The position in its list while the container is deleted undoably.
    std::uint32_t listIndex = 0;

protected:
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    PrivateBlockPtr<std::uint8_t> record;
    QReferenceObject* texture = nullptr;
};

class KVObjTexContainerList : public QReferenceObject {
public:
    KVObjTexContainerList() = default;
    // A list with copies of other's containers (records copied again), in order.
    KVObjTexContainerList(const KVObjTexContainerList& other);
    // Deletes every container, then broadcasts message 0.
    ~KVObjTexContainerList() override;

    // Clear, then a copy of each container of other, in order; returns this list.
    KVObjTexContainerList& operator=(const KVObjTexContainerList& other);
    void Assign(const KVObjTexContainerList& other);

    // Makes a container of the two, follows it, appends it and returns it.
    KVObjTexContainer* AddContainer(const std::uint8_t* record, QReferenceObject* texture);

    // A container of the present object's record and texture; null when the object has no
    // record (it is deleted).
    KVObjTexContainer* AddContainerForObject(const QMorvanObject& object);

    // Clear, then a container for every object of the collection, in list order.
    void BuildFromObjects(const QMorvanObjects& collection);

    // The container for the first of records (records read from an object file); null when
    // there is none, and callers must cope with that.
    KVObjTexContainer* AddContainerFromRecords(const std::vector<PrivateBlockPtr<std::uint8_t>>& records);

    // The container for the first record of the object file named by the program-wide name
    // table's entry with empty strings (a lookup that finds nothing names no file); null
    // when the file gives no record.
    KVObjTexContainer* AddContainerFromFile();

    // The container for the first record of the object file at path, with no texture; null
    // when no reader is registered, the file cannot be read or holds no record. Throws
    // KVOutOfMemoryException.
    KVObjTexContainer* AddContainerFromFile(std::string_view path);

    // The container at index; null when index is not below the count.
    KVObjTexContainer* GetAt(std::uint32_t index) const;
    std::uint32_t Count() const { return static_cast<std::uint32_t>(containers.Count()); }

    // Leaves and deletes every container.
    void Clear();

    // Leaves, frees and erases container when it is in the list.
    void RemoveContainer(KVObjTexContainer* container);

    // Applies transform to every container's record as a placement.
    void TransformRecords(Matrix4 transform);

    // Containers only: 0 removes the container, 1 takes it out keeping its position, 2
    // puts it back there.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

protected:
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    OwnedList<KVObjTexContainer> containers;
};
