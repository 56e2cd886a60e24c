#include "model/q_morvan_objects.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/crt_random.h"
#include "core/private_heap.h"
#include "core/quadric.h"
#include "core/vec3_geometry.h"
#include "geometry/dimension_handler_table.h"
#include "geometry/part_block.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/primitive_record.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_groups.h"
#include "model/q_morvan_object.h"
#include "model/q_toad_obj.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

std::int32_t& LastLoad() {
    static std::int32_t result = 0;
    return result;
}

// Sets busy for the life of the guard, so that messages from objects the collection
// deletes itself are ignored even when a deletion throws.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : busy(flag) { busy = true; }
    ~BusyScope() { busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy;
};

// True when the owner's mode bits (the two low bits of its mode word) are clear.
bool OwnerModeClear(const QToadObj* owner) { return owner != nullptr && owner->IsModeBits01Clear(); }

// The same type, or a plain type and its rounded or smoothed counterpart.
bool LikeShapes(ShapeType a, ShapeType b) {
    if (a == b) return true;
    const auto pair = [&](ShapeType x, ShapeType y) {
        return (a == x && b == y) || (a == y && b == x);
    };
    using enum ShapeType;
    return pair(Cylinder, RoundedCylinder) || pair(Box, RoundedBox) ||
           pair(Frustum, RoundedFrustum) || pair(TaperedPrism, SmoothPlate) ||
           pair(FlatSidedCylinder, RoundedOctagon);
}

// The type of the object's record; 0, no type, without one.
ShapeType ShapeTypeOf(const QMorvanObject* object) {
    const std::uint8_t* record = object->GetPartRecord();
    return record != nullptr ? PartRecordShapeType(record) : ShapeType{};
}

// A visible object outside the trail whose mark changed since the last collection joins
// unmarked (mark dropped) or marked (mark taken).
void NoteMarkChange(const QMorvanObject& object, bool visible, IdSet& unmarked, IdSet& marked) {
    if (object.trailing != 0 || !visible) return;
    if (object.marked == 0 && object.wasUnmarked == 0) unmarked.Insert(object.Index());
    if (object.marked != 0 && object.wasUnmarked != 0) marked.Insert(object.Index());
}

// Starts the next collection period: the change is taken and the mark remembered.
void StartMarkPeriod(QMorvanObject& object) {
    object.changed = 0;
    object.wasUnmarked = object.marked == 0 ? 1 : 0;
}

// The rotation taking from to to, about centre.
Matrix4 PivotRotation(const Vec3& from, const Vec3& to, const Vec3& centre) {
    const AxisAngle turn = RotationBetween(from, to);
    Matrix4 rotation = Matrix4FromAxisAngle(turn.axis, turn.angle);
    SetPivot(rotation, centre);
    return rotation;
}

// Restores the object from its current snapshot (the position and rotation when asked) and
// gives it the placement; an object without a record or snapshot is left alone.
void PlaceFromSnapshot(QMorvanObject& object, const Matrix4W& placement, bool position,
                       bool rotation) {
    if (!object.RestoreFromSnapshot(position, rotation)) return;
    SetPartPlacement(object.GetPartRecord(), placement);
    object.Rebuild(true, true);
}

std::int32_t Word40Of(const QMorvanObject* object) {
    const std::uint8_t* record = object->GetPartRecord();
    return record != nullptr ? LoadI32LE(record + PartRecordPartIdOffset) : 0;
}

std::uint8_t ChannelByte(double c) {
    return static_cast<std::uint8_t>(std::min(255.0, std::floor(c * 255.0 + 0.5)));
}

}  // namespace

QMorvanObjects::QMorvanObjects(QDocumentBase* owner) : document(owner) {
    ORBELLE_CHECK(owner != nullptr);
    typeId = TypeIdObjects;
    RebuildObjectList();
}

QMorvanObjects::~QMorvanObjects() {
    ClearList();
    Broadcast(this, MessageDestroyed, 0);
}

std::int32_t QMorvanObjects::LastLoadResult() { return LastLoad(); }

std::uint8_t* QMorvanObjects::Block() const { return *document->PartBlockSlot(); }

std::uint32_t QMorvanObjects::ReservedBytes() const { return *document->PartBlockBytesSlot(); }

std::uint32_t QMorvanObjects::RecordBytes() const {
    return LoadU32LE(Block() + PartBlockRecordBytesOffset);
}

SceneGeometry* QMorvanObjects::Geometry() const { return document->Geometry(); }

QMorvanObject* QMorvanObjects::At(std::int32_t i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= objects.Count()) return nullptr;
    return objects[static_cast<std::size_t>(i)];
}

// ---- block storage ----

void QMorvanObjects::ResizeBlock(std::uint32_t bytes) {
    void* block = Block();
    PrivateRealloc(&block, bytes);
    *document->PartBlockSlot() = static_cast<std::uint8_t*>(block);
    *document->PartBlockBytesSlot() = bytes;
}

void QMorvanObjects::GrowBlock(std::uint64_t needed) {
    if (needed > UINT32_MAX) ThrowOutOfMemory();
    const std::uint32_t reserved = ReservedBytes();
    if (!batching) {
        if (needed != reserved) ResizeBlock(static_cast<std::uint32_t>(needed));
        return;
    }
    if (needed <= reserved) return;
    std::uint64_t target = reserved;
    if (reserveStep == 0) {
        target = needed;
    } else {
        target += (needed - reserved + reserveStep - 1) / reserveStep * reserveStep;
    }
    ResizeBlock(static_cast<std::uint32_t>(std::min<std::uint64_t>(target, UINT32_MAX)));
}

void QMorvanObjects::ReloadGeometry(std::uint8_t* appendFrom) {
    SceneGeometry* geometry = Geometry();
    if (geometry == nullptr) return;
    LastLoad() = LoadPartBlock(*geometry, Block(), PartBlockHeaderBytes + RecordBytes(), true,
                               appendFrom, true);
}

void QMorvanObjects::ReserveRecord() {
    constexpr std::uint32_t RecordRoom = 164;
    constexpr std::uint32_t ZeroedBytes = 84;
    GrowBlock(static_cast<std::uint64_t>(PartBlockHeaderBytes) + RecordBytes() + RecordRoom);
    std::memset(GetRecordsEnd(), 0, ZeroedBytes);
}

void QMorvanObjects::ShrinkBlock() { ResizeBlock(PartBlockHeaderBytes + RecordBytes()); }

std::uint8_t* QMorvanObjects::GetRecordsEnd() const {
    return Block() + PartBlockHeaderBytes + RecordBytes();
}

void QMorvanObjects::ShiftRecordOffsets(std::uint32_t after, std::int64_t byteDelta,
                                        std::int32_t indexDelta) {
    for (QMorvanObject* object : objects) {
        if (object->recordOffset <= after) continue;
        object->recordOffset = static_cast<std::uint32_t>(object->recordOffset + byteDelta);
        object->index += indexDelta;
    }
}

// ---- record maintenance ----

bool QMorvanObjects::RebuildObjectList() {
    ClearList();
    std::uint8_t* block = Block();
    if (!PartBlockIsWellFormed(block, ReservedBytes())) return false;
    const std::uint32_t count = LoadU32LE(block + PartBlockPartCountOffset);
    std::uint32_t offset = PartBlockHeaderBytes;
    objects.Reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        QMorvanObject* object = objects.Append(
            std::make_unique<QMorvanObject>(offset, static_cast<std::int32_t>(i), this));
        object->present = 1;
        SelectDimensionHandlers(*object);
        offset += static_cast<std::uint32_t>(PartRecordBytes(block + offset));
    }
    return true;
}

QMorvanObject* QMorvanObjects::InsertPartRecord(const std::uint8_t* record, bool rebuildGeometry,
                                                bool recordInBlock, bool /*fillSeedPoint*/,
                                                std::unique_ptr<QMorvanObject> object) {
    return InsertRecord(record, rebuildGeometry, recordInBlock, std::move(object), nullptr);
}

QMorvanObject* QMorvanObjects::InsertRecord(const std::uint8_t* record, bool rebuildGeometry,
                                            bool recordInBlock,
                                            std::unique_ptr<QMorvanObject> owned,
                                            QMorvanObject* restored) {
    ORBELLE_CHECK(record != nullptr);
    ORBELLE_CHECK(owned == nullptr || restored == nullptr);
    // Room in the list first: once the block has changed, taking the object in cannot fail.
    objects.Reserve(objects.Count() + 1);
    const std::uint64_t size = PartRecordBytes(record);
    const std::uint32_t length = RecordBytes();
    std::uint32_t offset = 0;
    std::size_t insertAt = objects.Count();
    bool appended = true;

    if (recordInBlock) {
        // The record was written behind the records, in room made by ReserveRecord.
        ORBELLE_CHECK(record == GetRecordsEnd());
        ORBELLE_CHECK(PartBlockHeaderBytes + length + size <= ReservedBytes());
        offset = PartBlockHeaderBytes + length;
    } else {
        while (insertAt > 0 && objects[insertAt - 1]->trailing != 0) --insertAt;
        appended = insertAt == objects.Count();
        offset = appended ? PartBlockHeaderBytes + length : objects[insertAt]->recordOffset;
        // A record that lies in the block itself would move with the block.
        PartRecordPtr source;
        const std::uint8_t* block = Block();
        if (record >= block && record < block + ReservedBytes()) {
            source = PartRecordCopy(record);
            record = source.get();
        }
        GrowBlock(PartBlockHeaderBytes + static_cast<std::uint64_t>(length) + size);
        std::uint8_t* at = Block() + offset;
        std::memmove(at + size, at, PartBlockHeaderBytes + length - offset);
        std::memcpy(at, record, static_cast<std::size_t>(size));
    }
    std::uint8_t* block = Block();
    std::uint8_t* inserted = block + offset;
    StoreU32LE(block + PartBlockPartCountOffset,
               LoadU32LE(block + PartBlockPartCountOffset) + 1);
    StoreU32LE(block + PartBlockRecordBytesOffset, length + static_cast<std::uint32_t>(size));
    inserted[PartRecordFlagsOffset] |= PartFlagInserted;

    // Positions beyond the limit are pulled back onto the sphere along the same direction.
    const double limit = PositionLimitScaled / SceneScale;
    const Vec3 position = PartRecordPosition(inserted);
    const double distance = Vec3Length(position);
    if (distance > limit) PartRecordSetPosition(inserted, Vec3Scale(position, limit / distance));

    // Objects behind the new record move up by its size.
    if (!appended) ShiftRecordOffsets(offset - 1, static_cast<std::int64_t>(size), 1);

    const auto index = static_cast<std::int32_t>(insertAt);
    QMorvanObject* object = restored != nullptr ? restored : owned.get();
    if (object != nullptr) {
        object->Bind(offset, index, this);
    } else {
        owned = std::make_unique<QMorvanObject>(offset, index, this);
        object = owned.get();
        QGroups* groups = document->Groups();
        if (groups != nullptr) object->SetGroup(groups->GetGroup(0));
    }
    object->present = 1;
    object->referenceCentre = Vec3{};
    LastLoad() = 0;
    if (restored != nullptr) {
        objects.TakeBack(insertAt, restored);
    } else {
        objects.Insert(insertAt, std::move(owned));
    }

    // Selected objects behind the insertion point keep their marks under new indices.
    if (!appended && selectionIds.Count() > 0) {
        IdSet shifted;
        for (std::int32_t id : selectionIds.Ids()) shifted.Insert(id >= index ? id + 1 : id);
        selectionIds = std::move(shifted);
    }
    if (object->selected != 0) selectionIds.Insert(index);

    if (rebuildGeometry) ReloadGeometry(appended ? inserted : nullptr);
    SelectDimensionHandlers(*object);
    return object;
}

std::unique_ptr<QMorvanObject> QMorvanObjects::RemovePartRecord(QMorvanObject* object) {
    return RemoveRecordOf(object, Parting::ToCaller);
}

std::unique_ptr<QMorvanObject> QMorvanObjects::RemoveRecordOf(QMorvanObject* object,
                                                              Parting parting) {
    if (busy || object == nullptr || object->present == 0 || object->collection != this) {
        return nullptr;
    }
    const std::int32_t index = object->index;
    ORBELLE_CHECK(At(index) == object);
    std::uint8_t* block = Block();
    const std::uint32_t offset = object->recordOffset;
    const auto size = static_cast<std::uint32_t>(PartRecordBytes(block + offset));
    const std::uint32_t length = RecordBytes();
    const bool wasLast = offset + size == PartBlockHeaderBytes + length;

    std::memmove(block + offset, block + offset + size,
                 PartBlockHeaderBytes + length - offset - size);
    StoreU32LE(block + PartBlockPartCountOffset, LoadU32LE(block + PartBlockPartCountOffset) - 1);
    StoreU32LE(block + PartBlockRecordBytesOffset, length - size);
    std::unique_ptr<QMorvanObject> released;
    switch (parting) {
        case Parting::ToCaller:
            released = objects.Release(static_cast<std::size_t>(index));
            break;
        case Parting::ToUndoHistory:
            objects.HandOver(object);
            break;
        case Parting::Dying:
            objects.Forget(object);
            break;
    }
    object->present = 0;

    IdSet shifted;
    for (std::int32_t id : selectionIds.Ids()) {
        if (id != index) shifted.Insert(id > index ? id - 1 : id);
    }
    selectionIds = std::move(shifted);
    if (!wasLast) ShiftRecordOffsets(offset, -static_cast<std::int64_t>(size), -1);
    if (!batching) ShrinkBlock();

    if (suppressGeometry) return released;
    SceneGeometry* geometry = Geometry();
    if (geometry == nullptr) return released;
    if (wasLast) {
        geometry->RemoveLastPart();
    } else {
        ReloadGeometry(nullptr);
    }
    return released;
}

void QMorvanObjects::PurgeDeleted(bool rebuildGeometry) {
    // Copies come first: nothing has changed yet if one of them cannot be made. Whole
    // records are copied so that extensions survive the purge.
    std::vector<PartRecordPtr> copies;
    std::size_t doomedCount = 0;
    for (QMorvanObject* object : objects) {
        if (object->purge != 0) {
            ++doomedCount;
        } else {
            copies.push_back(PartRecordCopy(object->GetPartRecord()));
        }
    }
    if (doomedCount == 0) return;

    auto fresh = PrivateAllocBlock<std::uint8_t>(PartBlockHeaderBytes);
    std::vector<std::unique_ptr<QMorvanObject>> doomed;
    doomed.reserve(doomedCount);
    for (std::size_t i = 0; i < objects.Count();) {
        if (objects[i]->purge != 0) {
            doomed.push_back(objects.Release(i));
        } else {
            ++i;
        }
    }
    {
        BusyScope scope(busy);
        for (std::unique_ptr<QMorvanObject>& object : doomed) object.reset();
    }
    // The kept objects leave with their records and come back one by one below.
    std::vector<std::unique_ptr<QMorvanObject>> kept = objects.ReleaseAll();
    for (const std::unique_ptr<QMorvanObject>& object : kept) object->present = 0;
    selectionIds = IdSet();
    PartBlockWriteHeader(fresh.get());
    PrivateFree(Block());
    *document->PartBlockSlot() = fresh.release();
    *document->PartBlockBytesSlot() = PartBlockHeaderBytes;
    // Selected objects take their new indices into the selection as they go back in.
    for (std::size_t i = 0; i < kept.size(); ++i) {
        InsertPartRecord(copies[i].get(), false, false, false, std::move(kept[i]));
        copies[i].reset();
    }
    if (rebuildGeometry) ReloadGeometry(nullptr);
}

void QMorvanObjects::DeleteFrom(std::size_t first) {
    BusyScope scope(busy);
    while (objects.Count() > first) {
        std::unique_ptr<QMorvanObject> object = objects.Release(objects.Count() - 1);
        if (object->selected != 0) IdSetRemove(selectionIds, object->index);
        object.reset();
    }
}

void QMorvanObjects::TruncateTo(std::int32_t n) {
    if (n < 0 || static_cast<std::size_t>(n) >= objects.Count()) return;
    const std::uint32_t length = objects[static_cast<std::size_t>(n)]->recordOffset -
                                 PartBlockHeaderBytes;
    DeleteFrom(static_cast<std::size_t>(n));
    std::uint8_t* block = Block();
    StoreU32LE(block + PartBlockRecordBytesOffset, length);
    StoreU32LE(block + PartBlockPartCountOffset, static_cast<std::uint32_t>(n));
    ShrinkBlock();
    ReloadGeometry(nullptr);
}

void QMorvanObjects::ClearAll() {
    auto fresh = PrivateAllocBlock<std::uint8_t>(PartBlockHeaderBytes);
    PartBlockWriteHeader(fresh.get());
    ClearList();
    PrivateFree(Block());
    *document->PartBlockSlot() = fresh.release();
    *document->PartBlockBytesSlot() = PartBlockHeaderBytes;
    selectionIds = IdSet();
    ReloadGeometry(nullptr);
}

void QMorvanObjects::ClearList() { DeleteFrom(0); }

// ---- new shapes ----

namespace {

void StoreFraction(std::uint8_t* record) {
    StoreF32LE(record + PartRecordFractionOffset,
               static_cast<float>(CrtRand() / static_cast<double>(CrtRandMax)));
}

}  // namespace

QMorvanObject* QMorvanObjects::AddShapeType1(double radius, Colour colour, const Vec3& position) {
    PartRecordPtr record = NewPrimitive1(radius, 0, 0, position, colour);
    StoreFraction(record.get());
    return InsertPartRecord(record.get(), true, false, true, nullptr);
}

QMorvanObject* QMorvanObjects::AddShapeType2(double a0, double a1, Colour colour,
                                             const Vec3& position) {
    PartRecordPtr record = NewPrimitive2(false, a0, a1, 0, 0, position, colour);
    StoreFraction(record.get());
    return InsertPartRecord(record.get(), true, false, true, nullptr);
}

QMorvanObject* QMorvanObjects::AddShapeType4(double a0, double a1, double a2, Colour colour,
                                             const Vec3& position) {
    PartRecordPtr record = NewPrimitive4(false, a0, a1, a2, 0, 0, position, colour);
    StoreFraction(record.get());
    return InsertPartRecord(record.get(), true, false, true, nullptr);
}

QMorvanObject* QMorvanObjects::AddDefaultShape(std::int32_t kind) {
    const Colour white = ColourFromBytes(255, 255, 255);
    const Vec3 origin{};
    PartRecordPtr record;
    // The kind is a shape type; the rounded and smoothed types are the makers' variants.
    const auto type = static_cast<ShapeType>(kind);
    using enum ShapeType;
    switch (type) {
        case Sphere: record = NewPrimitive1(0.5, 0, 0, origin, white); break;
        case Cylinder: case RoundedCylinder:
            record = NewPrimitive2(type == RoundedCylinder, 0.5, 1.0, 0, 0, origin, white);
            break;
        case Box: case RoundedBox:
            record = NewPrimitive3(type == RoundedBox, 1.0, 1.0, 1.0, 0, 0, origin, white);
            break;
        case Frustum: case RoundedFrustum:
            record = NewPrimitive4(type == RoundedFrustum, 1.0, 0.5, 0.1, 0, 0, origin, white);
            break;
        case Torus: record = NewPrimitive5(0.125, 0.5, 0, 0, origin, white); break;
        case TaperedPrism: case SmoothPlate:
            record =
                NewPrimitive6(type == SmoothPlate, 0.25, 1.0, 0.25, 1.0, 0, 0, origin, white);
            break;
        case SphereZone: record = NewPrimitive7(1.0, 0.5, 1.0, 0, 0, origin, white); break;
        case FlatSidedCylinder: case RoundedOctagon:
            record = NewPrimitive8(type == RoundedOctagon, 1.0, 0.5, 0, 0, origin, white);
            break;
        case Ellipsoid: record = NewPrimitive9(0.25, 0.25, 1.0, 0, 0, origin, white); break;
        default: return nullptr;
    }
    StoreFraction(record.get());
    return InsertPartRecord(record.get(), true, false, true, nullptr);
}

// ---- selection and marks ----

void QMorvanObjects::SelectAll(bool flag) {
    for (QMorvanObject* object : objects) {
        object->selected = flag ? 1 : 0;
        if (flag) {
            selectionIds.Insert(object->index);
        } else {
            IdSetRemove(selectionIds, object->index);
        }
    }
}

void QMorvanObjects::ClearSelection() {
    selectionIds = IdSet();
    for (QMorvanObject* object : objects) object->selected = 0;
}

void QMorvanObjects::ToggleSelection(std::int32_t index, std::int32_t mode, bool all) {
    QMorvanObject* reference = At(index);
    if (reference == nullptr) return;
    const bool flag = reference->selected == 0;
    reference->SetSelected(flag);
    if (mode == 0) return;

    const QToadObj* owner = reference->ownerBot;
    const ShapeType type = ShapeTypeOf(reference);
    const std::int32_t word40 = Word40Of(reference);
    for (QMorvanObject* object : objects) {
        if (object == reference) continue;
        bool goes = false;
        if ((mode & SelectSameOwner) != 0 && OwnerModeClear(owner)) {
            // Parts of a bot in this mode go together and only together.
            goes = object->ownerBot == owner;
        } else {
            std::int32_t tested = 0;
            std::int32_t held = 0;
            const auto test = [&](std::int32_t bit, bool holds) {
                if ((mode & bit) == 0) return;
                ++tested;
                if (holds) ++held;
            };
            test(SelectSameOwner, object->ownerBot == owner);
            test(SelectLikeShape, LikeShapes(ShapeTypeOf(object), type));
            test(SelectSameGroup, object->group == reference->group);
            test(SelectSameWord40, Word40Of(object) == word40 &&
                                       object->ownerBot == owner && word40 > 32767);
            test(SelectSameTexture, object->texture == reference->texture);
            goes = tested > 0 && (all ? held == tested : held > 0);
        }
        if (goes) object->SetSelected(flag);
    }
}

void QMorvanObjects::MarkSelected() {
    for (QMorvanObject* object : objects) {
        if (object->selected != 0) object->marked = 1;
    }
}

void QMorvanObjects::MarkIds(const IdSet& ids) {
    ForEachId(ids, [](QMorvanObject* object) { object->marked = 1; });
}

void QMorvanObjects::ResetOperationMarks() {
    for (QMorvanObject* object : objects) {
        object->wasUnmarked = object->selected == 0 ? 1 : 0;
        object->changed = 0;
        object->marked = 0;
    }
}

void QMorvanObjects::CollectMarkChanges(IdSet& all, IdSet& unmarked, IdSet& marked,
                                        IdSet& changedIds) {
    all = IdSet();
    unmarked = IdSet();
    marked = IdSet();
    changedIds = IdSet();
    for (QMorvanObject* object : objects) {
        const bool visible = object->IsVisible();
        NoteMarkChange(*object, visible, unmarked, marked);
        if (visible && (object->marked != 0 || object->trailing != 0)) {
            all.Insert(object->index);
            if (object->changed != 0) changedIds.Insert(object->index);
        }
        StartMarkPeriod(*object);
    }
}

void QMorvanObjects::CollectMarkChanges3(IdSet& unmarked, IdSet& marked, IdSet& trailingIds) {
    unmarked = IdSet();
    marked = IdSet();
    trailingIds = IdSet();
    for (QMorvanObject* object : objects) {
        const bool visible = object->IsVisible();
        NoteMarkChange(*object, visible, unmarked, marked);
        if (visible && object->trailing != 0) trailingIds.Insert(object->index);
        StartMarkPeriod(*object);
    }
}

void QMorvanObjects::CollectMarked(IdSet& all, IdSet& changedIds) const {
    for (QMorvanObject* object : objects) {
        if (!object->IsVisible() || (object->marked == 0 && object->trailing == 0)) continue;
        all.Insert(object->index);
        if (object->changed != 0) changedIds.Insert(object->index);
    }
}

void QMorvanObjects::CollectMarkedIds(IdSet& ids) const {
    for (QMorvanObject* object : objects) {
        if (object->IsVisible() && object->marked != 0) ids.Insert(object->index);
    }
}

void QMorvanObjects::CollectSimilar(IdSet& out, std::int32_t index, std::int32_t mode) const {
    const QMorvanObject* reference = At(index);
    if (reference == nullptr || mode == 0) return;
    const ShapeType type = ShapeTypeOf(reference);
    for (QMorvanObject* object : objects) {
        if (object == reference) continue;
        bool holds = false;
        if ((mode & SelectLikeShape) != 0) {
            const ShapeType t = ShapeTypeOf(object);
            holds = LikeShapes(t, type) ||
                    (t == ShapeType::Spheroid &&
                     (type == ShapeType::Rod || type == ShapeType::CutRod));
        } else if ((mode & SelectSameGroup) != 0) {
            holds = object->group == reference->group;
        } else if ((mode & SelectSameTexture) != 0) {
            holds = object->texture == reference->texture;
        }
        if (holds) out.Insert(object->index);
    }
}

std::vector<QToadObj*> QMorvanObjects::CollectOwners(const IdSet* ids) const {
    std::vector<QToadObj*> owners;
    ForEachId(ids != nullptr ? *ids : selectionIds, [&owners](QMorvanObject* object) {
        QToadObj* owner = object->ownerBot;
        if (owner != nullptr && std::find(owners.begin(), owners.end(), owner) == owners.end()) {
            owners.push_back(owner);
        }
    });
    return owners;
}

std::vector<QToadObj*> QMorvanObjects::CollectSelectedOwners() const {
    std::vector<QToadObj*> owners;
    for (QMorvanObject* object : objects) {
        QToadObj* owner = object->ownerBot;
        if (object->selected == 0 || !OwnerModeClear(owner)) continue;
        if (std::find(owners.begin(), owners.end(), owner) == owners.end()) owners.push_back(owner);
    }
    return owners;
}

void QMorvanObjects::BroadcastToObjects(std::int32_t message, bool selectedOnly) {
    // A handler may delete objects; walk a copy and skip those that left the list.
    const std::vector<QMorvanObject*> walk = objects.Items();
    for (QMorvanObject* object : walk) {
        if (!objects.Contains(object)) continue;
        if (selectedOnly && object->selected == 0) continue;
        Broadcast(object, message, 0);
    }
}

template <typename Fn>
void QMorvanObjects::ForEachId(const IdSet& ids, Fn&& fn) const {
    for (std::int32_t id : ids.Ids()) {
        if (QMorvanObject* object = At(id)) fn(object);
    }
}

// ---- undo ----

void QMorvanObjects::RecordUndoForSelected() {
    for (QMorvanObject* object : objects) {
        if (object->selected != 0) object->RecordUndo();
    }
}

void QMorvanObjects::RecordUndoForIds(const IdSet& ids) {
    ForEachId(ids, [](QMorvanObject* object) { object->RecordUndo(); });
}

void QMorvanObjects::ClearHistory() {
    QReferenceObject::ClearHistory();
    for (QMorvanObject* object : objects) {
        object->ClearHistory();
        object->PushUndoChunk();
    }
}

// ---- queries ----

namespace {

// The centre and radius of a part's bounding quadric.
void PartSphere(SceneGeometry* geometry, std::int32_t index, Vec3& centre, double& radius) {
    centre = Vec3{};
    radius = 0.0;
    const PartRenderRecord* entry = geometry != nullptr ? geometry->Part(index) : nullptr;
    if (entry == nullptr) return;
    const Matrix4W& q = entry->boundQuadric;
    // Centre -(Bq^-1 b) with the 3x3 block Bq and the linear column b.
    const Matrix3 bq{{q.m[5], q.m[6], q.m[7], q.m[9], q.m[10], q.m[11], q.m[13], q.m[14],
                      q.m[15]}};
    const Vec3 b{q.m[4], q.m[8], q.m[12]};
    const Vec3 c = Matrix3TransformVec3(Matrix3InvertUnchecked(bq), b);
    centre = Vec3{-c.x, -c.y, -c.z};
    // k = b^T Bq^-1 b - B0; the radius along the flattest axis is sqrt(k / min |eigenvalue|).
    const double k = Vec3Dot(b, c) - q.m[0];
    const double eigen = MinAbsEigenvalue3(q);
    radius = eigen != 0.0 && k / eigen > 0.0 ? std::sqrt(k / eigen) : 0.0;
}

}  // namespace

Vec3 QMorvanObjects::GetCentre(bool selectedOnly, bool useBounds) const {
    Vec3 out;
    constexpr double Big = std::numeric_limits<double>::max();
    Vec3 low{Big, Big, Big};
    Vec3 high{-Big, -Big, -Big};
    std::int32_t counted = 0;
    for (QMorvanObject* object : objects) {
        if (!object->IsVisible() || (selectedOnly && object->selected == 0)) continue;
        ++counted;
        double radius = 0.0;
        if (useBounds) {
            PartSphere(Geometry(), object->index, out, radius);
        } else {
            out = object->GetCentre();
        }
        low = Vec3{std::min(low.x, out.x - radius), std::min(low.y, out.y - radius),
                   std::min(low.z, out.z - radius)};
        high = Vec3{std::max(high.x, out.x + radius), std::max(high.y, out.y + radius),
                    std::max(high.z, out.z + radius)};
    }
    if (counted < 2) return out;
    return Vec3Scale(Vec3Add(low, high), 0.5);
}

void QMorvanObjects::GetBoundingSphere(Vec3& centre, double& radius, bool selectedOnly,
                                       bool useBounds) const {
    centre = GetCentre(selectedOnly, useBounds);
    radius = 0.0;
    for (QMorvanObject* object : objects) {
        if (!object->IsVisible() || (selectedOnly && object->selected == 0)) continue;
        Vec3 partCentre;
        double partRadius = 0.0;
        PartSphere(Geometry(), object->index, partCentre, partRadius);
        radius = std::max(radius, Vec3Length(Vec3Sub(partCentre, centre)) + partRadius);
    }
}

std::vector<std::pair<std::string, std::int32_t>> QMorvanObjects::BuildDimensionList(
    std::uint32_t filter) const {
    std::vector<std::pair<std::string, std::int32_t>> list;
    const QMorvanObject* last = nullptr;
    ShapeType type{};
    bool mixed = false;
    for (QMorvanObject* object : objects) {
        if (object->selected == 0) continue;
        if (OwnerModeClear(object->ownerBot)) break;
        const ShapeType t = ShapeTypeOf(object);
        if (last != nullptr && t != type) mixed = true;
        type = t;
        last = object;
    }
    if (last == nullptr) return list;
    if (mixed) {
        list.emplace_back("[Scale Local]", 0);
        return list;
    }
    for (std::int32_t i = 0; i < last->DimensionRowCount(); ++i) {
        const DimensionHandlerRow& row = last->DimensionRows()[i];
        if (filter != 0 && (row.flags & filter) == 0) continue;
        list.emplace_back(row.name, row.ordinal);
    }
    return list;
}

// ---- drag-style edits ----

void QMorvanObjects::TransformSelected(const Matrix4& transform) {
    const Matrix4W placement = ToWFirstMatrix(transform);
    for (QMorvanObject* object : objects) {
        if (object->selected != 0) PlaceFromSnapshot(*object, placement, true, true);
    }
}

Matrix4 QMorvanObjects::RotateSelected(const Vec3& to, const Vec3& from, const Vec3& centre) {
    const Matrix4 rotation = PivotRotation(from, to, centre);
    const Matrix4W placement = ToWFirstMatrix(rotation);
    for (QMorvanObject* object : objects) {
        if (object->selected != 0) PlaceFromSnapshot(*object, placement, false, true);
    }
    return rotation;
}

void QMorvanObjects::ReshapeSelected(float value, std::int32_t key) {
    for (QMorvanObject* object : objects) {
        if (object->selected == 0 || !object->RestoreFromSnapshot(true, false)) continue;
        // The restore alone has changed the record: a row that cannot act still leaves the
        // part to be rebuilt from it.
        if (!object->SetDimension(value, key)) object->Rebuild(true, true);
    }
}

void QMorvanObjects::MoveSelected(const Vec3& offset) {
    TransformSelected(MakeTranslation(offset.x, offset.y, offset.z));
}

void QMorvanObjects::TransformSelectedBy(std::array<double, 12> rows) {
    Matrix4 transform;
    std::copy(rows.begin(), rows.end(), transform.m.begin());
    TransformSelected(transform);
}

void QMorvanObjects::MoveIdsFromSnapshot(const Vec3& offset, IdSet ids) {
    const Matrix4W placement = ToWFirstMatrix(MakeTranslation(offset.x, offset.y, offset.z));
    ForEachId(ids, [&placement](QMorvanObject* object) {
        PlaceFromSnapshot(*object, placement, true, false);
    });
}

void QMorvanObjects::RotateSelectedAbout(Matrix4& out, const Vec3& from, const Vec3& to,
                                         const Vec3& centre) {
    out = PivotRotation(from, to, centre);
    TransformSelected(out);
}

void QMorvanObjects::CopyVector4(double* dst, const double* src) { std::copy(src, src + 4, dst); }

// ---- colour edits ----

bool QMorvanObjects::SetGlowColor(std::int32_t r, std::int32_t g, std::int32_t b,
                                  const IdSet& ids) {
    const Colour target = ColourFromBytes(static_cast<std::int16_t>(r), static_cast<std::int16_t>(g),
                                          static_cast<std::int16_t>(b));
    bool any = false;
    ForEachId(ids, [&](QMorvanObject* object) {
        std::uint8_t* record = object->GetPartRecord();
        if (record == nullptr) return;
        const Colour present = ColourFromRgb24(LoadU32LE(record + PartRecordGlowColourOffset));
        if (ColourBytesEqual(present, target)) return;
        StoreU32LE(record + PartRecordGlowColourOffset,
                   (static_cast<std::uint32_t>(r) << 16) + (static_cast<std::uint32_t>(g) << 8) +
                       static_cast<std::uint32_t>(b));
        object->Rebuild(false, true);
        any = true;
    });
    return any;
}

bool QMorvanObjects::SetColor(std::int32_t r, std::int32_t g, std::int32_t b, const IdSet& ids) {
    const Colour target = ColourFromBytes(static_cast<std::int16_t>(r), static_cast<std::int16_t>(g),
                                          static_cast<std::int16_t>(b));
    bool any = false;
    ForEachId(ids, [&](QMorvanObject* object) {
        if (object->GetPartRecord() == nullptr) return;
        if (ColourBytesEqual(object->GetColour(), target)) return;
        object->SetColor(r, g, b);
        any = true;
    });
    return any;
}

bool QMorvanObjects::SetGlowIntensity(float value, const IdSet& ids) {
    bool any = false;
    ForEachId(ids, [&](QMorvanObject* object) {
        std::uint8_t* record = object->GetPartRecord();
        if (record == nullptr || LoadF32LE(record + PartRecordGlowIntensityOffset) == value) return;
        StoreF32LE(record + PartRecordGlowIntensityOffset, value);
        object->Rebuild(false, true);
        any = true;
    });
    return any;
}

void QMorvanObjects::RandomizeColors(double amount, const IdSet& ids) {
    const double scaled = amount * 255.0;
    ForEachId(ids, [scaled](QMorvanObject* object) {
        if (OwnerModeClear(object->ownerBot) || object->GetPartRecord() == nullptr) return;
        const Colour colour = object->GetColour();
        std::array<std::int32_t, 3> out{};
        const std::array<double, 3> channels{colour.r, colour.g, colour.b};
        for (std::size_t c = 0; c < 3; ++c) {
            const double step = ((CrtRand() % 32768) - 16384) / 16384.0 * scaled;
            const double value = std::clamp(ChannelByte(channels[c]) + step, 0.0, 255.0);
            out[c] = static_cast<std::int32_t>(value);
        }
        object->SetColor(out[0], out[1], out[2]);
    });
}

// ---- messages ----

void QMorvanObjects::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                   QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdObject || message < 0 || message > 7) {
        return;
    }
    auto* object = static_cast<QMorvanObject*>(sender);
    const auto releaseDisplayList = [object] { object->displayList = 0; };
    switch (message) {
        case MessageDestroyed:
            RemoveRecordOf(object, Parting::Dying);
            break;
        case MessageDeleted: {
            if (busy || object->present == 0 || object->collection != this) break;
            object->keptRecord = PartRecordCopy(object->GetPartRecord());
            RemoveRecordOf(object, Parting::ToUndoHistory);
            releaseDisplayList();
            document->modified = 1;
            break;
        }
        case MessageRestored: {
            if (object->keptRecord == nullptr || object->present != 0) break;
            PartRecordPtr copy = std::move(object->keptRecord);
            InsertRecord(copy.get(), false, false, nullptr, object);
            document->modified = 1;
            object->SetTexture(object->texture, false);
            break;
        }
        case MessageChanged:
            releaseDisplayList();
            break;
        default:
            break;
    }
}
