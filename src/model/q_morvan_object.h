#pragma once

// QMorvanObject is one scene object: a handle on one part record of the document's part
// block, found by the record's byte offset through the owning collection, with the marks,
// references and undo snapshots the model keeps beside the record. Everything that reads or
// edits one object's geometry goes through it, and every edit has the part rebuilt in the
// scene geometry.
//
// The object follows its texture, its group, its owner bot and its collection (set 0 on
// each); the collection and the undo states that record the object follow it. Its record is
// reachable only while it is present: an object deleted by the user keeps a copy of its
// record until it is restored, and edits of an object without a record change nothing.

#include "core/colour.h"
#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/private_block.h"
#include "core/vec3.h"
#include "geometry/dimension_handler_table.h"
#include "object/q_reference_object.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

class QGroup;
class QMorvanObjects;
class QToadObj;

// Snapshots an object keeps at most.
inline constexpr std::int32_t ObjectHistoryLimit = 6;

// Bytes of an object's seed point record for the Sproutling engine; its first three floats
// are a position.
inline constexpr std::size_t SeedPointBytes = 56;

class QMorvanObject : public QReferenceObject, public DimensionEditTarget {
public:
    // A snapshot of the editable part of one record. It follows the texture it names (set
    // 0), which keeps that texture alive while the snapshot exists.
    class QUndoChunk : public QReferenceObject {
    public:
        // Every field zero or none.
        QUndoChunk() = default;
        // Drops its registration on its texture.
        ~QUndoChunk() override;

        QUndoChunk(const QUndoChunk&) = delete;
        QUndoChunk& operator=(const QUndoChunk&) = delete;

        // Copies the editable fields of record (null: all zero) and follows texture instead
        // of the former one. Throws KVOutOfMemoryException when the parameters do not fit.
        void Capture(const std::uint8_t* record, QReferenceObject* objectTexture);

        // Textures only: messages 0 and 1 forget the texture, message 2 makes the sender it.
        void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                           QReferenceObject* sender) override;

        Vec3 rotation;
        Vec3 position;
        PrivateBlockPtr<float> parameters;
        float glowIntensity = 0.0f;
        std::int32_t parameterCount = 0;
        std::uint32_t colour = 0;
        std::uint32_t derivedColour = 0;
        std::uint32_t glowColour = 0;
        QReferenceObject* texture = nullptr;
        std::uint8_t tint = 0;

    protected:
        void OnTargetDestroyed(QReferenceObject* target) override;
    };

    // The object of the record at recordOffset, index in collection (which may be null):
    // marks clear but viewFlag, not present, no group, texture or bot. The object and the
    // collection follow each other, and the first snapshot is taken of the record as it
    // lies in the block.
    QMorvanObject(std::uint32_t recordOffset, std::int32_t index, QMorvanObjects* collection);

    // Deletes the snapshots, leaves its texture, group, owner bot and collection, and
    // broadcasts message 0 (upon which the collection removes a present record).
    ~QMorvanObject() override;

    QMorvanObject(const QMorvanObject&) = delete;
    QMorvanObject& operator=(const QMorvanObject&) = delete;

    // Deletes every snapshot; the cursor returns to 0.
    void ClearHistory() override;

    // Follows its texture, group, owner bot and collection (see the source for the rules).
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // Puts a snapshot of the present record in front of the history.
    void PushUndoChunk();

    // Drops the snapshots stepped back over (before the cursor), the oldest one when six
    // remain, and pushes a snapshot of the present record with the cursor on it.
    void RecordUndo();

    // The snapshot at the cursor; null when the cursor lies outside the history.
    QUndoChunk* GetCurrentUndoChunk() const;

    // Restores from the current snapshot the parameters (only when the snapshot has as many
    // as the record), the position when asked and the rotation when asked. Returns false,
    // changing nothing, without a record or a current snapshot.
    bool RestoreFromSnapshot(bool position, bool rotation);

    // Copies every snapshot field back into the record (parameters only when the counts
    // match) and binds the snapshot's texture again with a rebuild. Does nothing without a
    // record or a snapshot at index.
    void RestoreSnapshot(std::int32_t index);

    // The record in the block; null while the object is not present or has no collection.
    std::uint8_t* GetPartRecord() const override;

    // Identity for a zero rotation vector, else the rotation about it by its length.
    Matrix3 GetRotationMatrix() const;
    // The orientation; for shape types 10, 11, 12, 26, 27 and 28 from the part's placement
    // in the scene geometry.
    Matrix3 GetWorldMatrix() const;
    // The rotation with the position as translation, or the placement of those six types.
    Matrix4 GetTransform() const;
    // The position, or the placement's origin for those six types.
    Vec3 GetCentre() const;
    // The segment or direction of types 10, 11 and 12, else column of GetWorldMatrix.
    Vec3 GetAxis(std::int32_t column) const;
    // A characteristic size from the parameters; 0 without a record.
    double GetRadius() const;
    // The record colour.
    Colour GetColour() const;

    // Sets changed and rebuilds the part in the scene geometry.
    void Rebuild(bool mode, bool flag);

    // Edits of the record; each rebuilds the part.
    void SetPosition(const Vec3& position);
    void SetRotation(const Matrix3& rotation);
    void PointAlong(Vec3 direction);
    void SetPlacement(Matrix4 placement);
    void PlaceAt(const Vec3& point);

    // Calls the edit handler of the run's row whose ordinal is key with value and the
    // limits [0.1 / scene scale, 1000000], then rebuilds. False without rows, collection,
    // record, a row with the key, or a handler for it.
    bool SetDimension(float value, std::int32_t key);

    // Binds texture (type id 6, or null): its handle goes into the record; with rebuild the
    // part is rebuilt.
    void SetTexture(QReferenceObject* newTexture, bool rebuild);
    // Unbinds the texture, if any, and rebuilds.
    void ClearTexture();
    // Clears (visible) or sets (hidden) flag bit 0x80 and rebuilds.
    void SetVisible(bool visible);
    // Colour (r << 16) + (g << 8) + b and its derived colour, in the record and the part
    // entry; no rebuild.
    void SetColor(std::int32_t r, std::int32_t g, std::int32_t b);
    // Stores the tint and the recomputed derived colour; with mirror also in the part entry.
    void SetTint(std::uint8_t tint, bool mirror);
    // Keeps the collection's selection in step; the same value changes nothing.
    void SetSelected(bool flag);
    // Writes the centre into the seed point's position.
    void UpdateSeedPointPosition();

    // The run of dimension edit rows of the object's shape type.
    void SetDimensionRun(const DimensionHandlerRow* rows, std::int32_t rowCount) override;
    // What the dimension handlers use of the object: the document's scene scale, the
    // collection's common scale centre, a placement with a rebuild, a rebuild with the
    // changed mark, and a plain build that reports whether the record gives a shape.
    double GetSceneScale() const override;
    std::optional<Vec3> CommonScaleCentre() const override;
    void ApplyPlacement(const Matrix4& placement) override;
    void MarkChangedAndRebuild() override;
    std::int32_t BuildShape() override;
    const DimensionHandlerRow* DimensionRows() const { return dimensionRows; }
    std::int32_t DimensionRowCount() const { return dimensionRowCount; }

    // Rebinds the object to a record of collection (used when its record is inserted).
    void Bind(std::uint32_t offset, std::int32_t newIndex, QMorvanObjects* owner);
    void SetGroup(QGroup* newGroup);
    void SetOwnerBot(QToadObj* bot);

    QMorvanObjects* Collection() const { return collection; }
    QGroup* Group() const { return group; }
    QToadObj* OwnerBot() const { return ownerBot; }
    QReferenceObject* Texture() const { return texture; }
    std::int32_t Index() const { return index; }
    std::uint32_t RecordOffset() const { return recordOffset; }
    bool IsPresentInBlock() const { return present != 0; }
    bool IsSelected() const { return selected != 0; }
    std::int32_t Cursor() const { return cursor; }
    std::int32_t HistorySize() const { return static_cast<std::int32_t>(history.size()); }
    // True when flag bit 0x80 of the record is clear.
    bool IsVisible() const;

    std::uint8_t marked = 0;
    std::uint8_t wasUnmarked = 0;
    std::uint8_t changed = 0;
    std::uint8_t trailing = 0;
    std::uint8_t viewFlag = 1;
    std::uint8_t purge = 0;
    std::uint8_t deleteWithBot = 0;
    std::array<std::uint8_t, SeedPointBytes> seedPoint{};
    Vec3 referenceCentre;
    std::int32_t displayList = 0;
    std::string name;

protected:
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    friend class QMorvanObjects;
    friend class QMorvanObjectsState;

    // The record address while a collection holds the object, present or not yet marked so.
    std::uint8_t* RecordAddress() const;

    QGroup* group = nullptr;
    QToadObj* ownerBot = nullptr;
    QReferenceObject* texture = nullptr;
    const DimensionHandlerRow* dimensionRows = nullptr;
    std::int32_t dimensionRowCount = 0;
    std::deque<std::unique_ptr<QUndoChunk>> history;  // newest first
    std::int32_t cursor = 0;
    std::uint32_t recordOffset = 0;
    QMorvanObjects* collection = nullptr;
    std::uint8_t present = 0;
    std::int32_t index = 0;
    PrivateBlockPtr<std::uint8_t> keptRecord;  // the record while the object is deleted
    std::uint8_t selected = 0;
};
