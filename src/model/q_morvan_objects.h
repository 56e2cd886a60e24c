#pragma once

// QMorvanObjects is the document's collection of scene objects. The geometry of a scene
// lives in one binary part block owned by the document; object i is a handle on the i-th
// record of that block. The collection inserts and removes records while keeping every
// object's offset and index right and the block header exact (count and byte length equal
// the records, each 80 + e + 4n bytes), keeps the selection as an IdSet of indices in step
// with each object's selected mark, builds default shapes, answers queries over the
// selection, and applies drag-style edits that start again from each object's current
// snapshot. After every change it has the scene geometry rebuilt.
//
// The collection owns its present objects (an OwnedList). An object deleted undoably leaves
// with its record and belongs to the undo history until it is restored.
//
// The block is reallocated as it grows, so the collection always reaches it through the
// document's slot. Allocation failures throw KVOutOfMemoryException.

#include "core/colour.h"
#include "core/id_set.h"
#include "core/matrix4.h"
#include "core/vec3.h"
#include "object/owned_list.h"
#include "object/q_reference_object.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QDocumentBase;
class QMorvanObject;
class QToadObj;
class SceneGeometry;

// Bits of ToggleSelection's mode.
inline constexpr std::int32_t SelectLikeShape = 1;
inline constexpr std::int32_t SelectSameGroup = 2;
inline constexpr std::int32_t SelectSameTexture = 4;
inline constexpr std::int32_t SelectSameOwner = 8;
inline constexpr std::int32_t SelectSameWord40 = 16;

// Distance from the origin beyond which inserted positions are pulled back, times the
// scene scale.
inline constexpr double PositionLimitScaled = 20000.0;

class QMorvanObjects : public QReferenceObject {
public:
    // The collection of document's block: type id 2, builds one object per record. A
    // malformed block leaves the collection empty (see RebuildObjectList).
    explicit QMorvanObjects(QDocumentBase* document);

    // Deletes every object, then broadcasts message 0.
    ~QMorvanObjects() override;

    QMorvanObjects(const QMorvanObjects&) = delete;
    QMorvanObjects& operator=(const QMorvanObjects&) = delete;

    // Clears every object's snapshots and takes one new snapshot of each.
    void ClearHistory() override;

    // Follows its objects: 0 removes the record, 1 keeps a copy and removes the record, 2
    // puts the copy back, 7 drops the object's display list.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // Makes one object per record of the block. Returns false, holding no objects, when the
    // block is malformed (its header count or length disagrees with its records, a record
    // is shorter than 80 bytes, has a negative parameter count or runs past the block); the
    // caller replaces such a block (ClearAll).
    bool RebuildObjectList();

    // Inserts record (80 + e + 4n bytes; already at the end of the block's records when
    // recordInBlock) in front of the trailing objects, pulling its position back to
    // 20000 / scene scale from the origin and setting flag 0x20. object, which the collection
    // takes over, (or a new object in the first group) is bound to it. With rebuildGeometry
    // the scene geometry is reloaded. Returns the object. Throws KVOutOfMemoryException or
    // std::bad_alloc.
    QMorvanObject* InsertPartRecord(const std::uint8_t* record, bool rebuildGeometry,
                                    bool recordInBlock, bool fillSeedPoint,
                                    std::unique_ptr<QMorvanObject> object);

    // Removes the object's record and gives the object, no longer present, to the caller;
    // null, changing nothing, while busy or when the object is not present.
    [[nodiscard]] std::unique_ptr<QMorvanObject> RemovePartRecord(QMorvanObject* object);

    // Deletes the objects marked purge and rebuilds the block from the others, whole
    // records in their order. Nothing changes when no object is marked.
    void PurgeDeleted(bool rebuildGeometry);

    // Deletes the objects from index n on and their records.
    void TruncateTo(std::int32_t n);

    // Replaces the block by an empty one and deletes every object.
    void ClearAll();

    // Takes every object out of the list and deletes it.
    void ClearList();

    // Makes room for a record of up to 164 bytes behind the records and zeroes 84 bytes there.
    void ReserveRecord();
    // Reallocates the block to exactly 20 + its record length.
    void ShrinkBlock();
    // The address just past the last record.
    std::uint8_t* GetRecordsEnd() const;
    // Adds the deltas to the offset and index of every object whose offset exceeds after.
    void ShiftRecordOffsets(std::uint32_t after, std::int64_t byteDelta, std::int32_t indexDelta);
    std::int32_t Count() const { return static_cast<std::int32_t>(objects.Count()); }

    // New shapes, white unless given a colour, each with a random fraction at byte 76, of
    // kinds 1, 2 and 4 with their parameters, inserted as InsertPartRecord does.
    QMorvanObject* AddShapeType1(double radius, Colour colour, const Vec3& position);
    QMorvanObject* AddShapeType2(double a0, double a1, Colour colour, const Vec3& position);
    QMorvanObject* AddShapeType4(double a0, double a1, double a2, Colour colour,
                                 const Vec3& position);
    // A white default shape of kind 1 to 9 or 14 to 18 at the origin; null for other kinds.
    QMorvanObject* AddDefaultShape(std::int32_t kind);

    // Selection and marks. None of these fails; an index outside the list changes nothing.
    // Selects (flag true) or deselects every object, keeping the selection ids in step.
    void SelectAll(bool flag);
    // Deselects every object and empties the selection ids.
    void ClearSelection();
    // Flips the object at index, then gives its new state to the objects that match it by the
    // Select* bits of mode: all of the tested bits with all set, any of them otherwise. The
    // parts of a bot whose mode bits are clear go together and only together.
    void ToggleSelection(std::int32_t index, std::int32_t mode, bool all);
    // Marks every selected object.
    void MarkSelected();
    // Marks the objects of ids; ids outside the list are skipped.
    void MarkIds(const IdSet& ids);
    // Starts an operation: clears every mark and change, remembering which objects were
    // unselected.
    void ResetOperationMarks();
    // Replaces the four sets: visible marked or trailing objects in all (the changed ones also
    // in changedIds), and the visible untrailed objects whose mark was dropped or taken since
    // the last collection in unmarked and marked. Then starts the next period.
    void CollectMarkChanges(IdSet& all, IdSet& unmarked, IdSet& marked, IdSet& changedIds);
    // As CollectMarkChanges, with the visible trailing objects in trailingIds instead.
    void CollectMarkChanges3(IdSet& unmarked, IdSet& marked, IdSet& trailingIds);
    // Adds the visible marked or trailing objects to all, the changed ones also to changedIds.
    void CollectMarked(IdSet& all, IdSet& changedIds) const;
    // Adds the visible marked objects to ids.
    void CollectMarkedIds(IdSet& ids) const;
    // Adds to out the other objects like the one at index by the first Select* bit of mode
    // (shape, group, then texture); nothing for mode 0.
    void CollectSimilar(IdSet& out, std::int32_t index, std::int32_t mode) const;
    // Distinct owner bots of the objects of ids (of the selection when ids is null).
    std::vector<QToadObj*> CollectOwners(const IdSet* ids) const;
    // Distinct owner bots, with their mode bits clear, of the selected objects.
    std::vector<QToadObj*> CollectSelectedOwners() const;
    // Broadcasts message from each object (the selected ones only when asked); objects a
    // handler takes out of the list meanwhile are skipped.
    void BroadcastToObjects(std::int32_t message, bool selectedOnly);

    // Undo snapshots of the selected objects, or of the objects of ids.
    void RecordUndoForSelected();
    void RecordUndoForIds(const IdSet& ids);

    // Queries.
    Vec3 GetCentre(bool selectedOnly, bool useBounds) const;
    void GetBoundingSphere(Vec3& centre, double& radius, bool selectedOnly, bool useBounds) const;
    std::vector<std::pair<std::string, std::int32_t>> BuildDimensionList(std::uint32_t filter) const;

    // Drag-style edits over the selected objects, each from the current snapshot; objects
    // without a record or a snapshot are left alone.
    // Restores position and rotation, then places each by transform.
    void TransformSelected(const Matrix4& transform);
    // Restores rotation only and turns each by the rotation taking from to to about centre,
    // which it returns.
    Matrix4 RotateSelected(const Vec3& to, const Vec3& from, const Vec3& centre);
    // Restores the parameters and sets dimension key to value.
    void ReshapeSelected(float value, std::int32_t key);
    // TransformSelected by the translation offset.
    void MoveSelected(const Vec3& offset);
    // TransformSelected by the twelve affine elements, rows first.
    void TransformSelectedBy(std::array<double, 12> rows);
    // Restores the position of the objects of ids (not the selection) and moves them by offset.
    void MoveIdsFromSnapshot(const Vec3& offset, IdSet ids);
    // TransformSelected by the rotation taking from to to about centre, given back in out.
    void RotateSelectedAbout(Matrix4& out, const Vec3& from, const Vec3& to, const Vec3& centre);
    // Copies four doubles.
    static void CopyVector4(double* dst, const double* src);

    // Colour edits over ids; each returns whether any object changed.
    bool SetGlowColor(std::int32_t r, std::int32_t g, std::int32_t b, const IdSet& ids);
    bool SetColor(std::int32_t r, std::int32_t g, std::int32_t b, const IdSet& ids);
    bool SetGlowIntensity(float value, const IdSet& ids);
    void RandomizeColors(double amount, const IdSet& ids);

    // The object at index; null outside the list.
    QMorvanObject* At(std::int32_t i) const;
    const std::vector<QMorvanObject*>& Objects() const { return objects.Items(); }
    const IdSet& SelectionIds() const { return selectionIds; }
    IdSet& SelectionIds() { return selectionIds; }
    QDocumentBase* Document() const { return document; }
    // The document's scene geometry; the collection must belong to a document.
    SceneGeometry* Geometry() const;
    // The block and its allocated size; the collection must belong to a document.
    std::uint8_t* Block() const;
    std::uint32_t ReservedBytes() const;
    // The byte length of the records (header bytes 8..11).
    std::uint32_t RecordBytes() const;

    // The result of the last geometry reload after an insertion (0 after each insertion).
    static std::int32_t LastLoadResult();

    // The modeller's common-centre setting: when set, every local scale of these objects
    // scales about this point instead of each part's own position.
    std::optional<Vec3> commonScaleCentre;

    bool batching = false;
    bool suppressGeometry = false;
    std::uint32_t reserveStep = 0;

private:
    void ResizeBlock(std::uint32_t bytes);
    // Grows the block to hold at least needed bytes, in reserveStep steps while batching.
    void GrowBlock(std::uint64_t needed);
    void ReloadGeometry(std::uint8_t* appendFrom);
    // Deletes objects[first..] with the collection busy and takes them out of the list.
    void DeleteFrom(std::size_t first);
    // InsertPartRecord for owned (null for a new object), or for restored: an object the
    // undo history gives back (alive again), which the collection owns once more when it is
    // in the list.
    QMorvanObject* InsertRecord(const std::uint8_t* record, bool rebuildGeometry,
                                bool recordInBlock, std::unique_ptr<QMorvanObject> owned,
                                QMorvanObject* restored);
    // Who has an object whose record is removed: the caller, the undo history (it was deleted
    // undoably) or nobody (it is being destroyed).
    enum class Parting { ToCaller, ToUndoHistory, Dying };
    // RemovePartRecord; the handle is null unless parting is ToCaller.
    std::unique_ptr<QMorvanObject> RemoveRecordOf(QMorvanObject* object, Parting parting);
    template <typename Fn>
    void ForEachId(const IdSet& ids, Fn&& fn) const;

    IdSet auxIds;
    IdSet selectionIds;
    OwnedList<QMorvanObject> objects;
    QDocumentBase* document = nullptr;
    bool busy = false;
};
