#include "model/q_morvan_object.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/private_heap.h"
#include "core/rotation.h"
#include "core/vec3_geometry.h"
#include "geometry/dimension_handler_table.h"
#include "geometry/part_block.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/texture_params_table.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_morvan_objects.h"
#include "model/q_toad_obj.h"

#include <algorithm>
#include <cstring>

namespace {

// Shape types placed by their own parameters rather than a position and rotation: the
// types whose bit (t - 1) is clear in 0x11FFF1FF. That mask also leaves the bits of 30 to
// 32 clear, numbers that name no shape, so those read their placement from the part table.
bool PlacedByParameters(ShapeType shapeType) {
    const auto value = static_cast<std::int32_t>(shapeType);
    if (value > ShapeTypeCount && value <= 32) return true;
    return ShapeTypeIsPlacedByParameters(shapeType);
}

std::uint32_t PackRgb(std::int32_t r, std::int32_t g, std::int32_t b) {
    return (static_cast<std::uint32_t>(r) << 16) + (static_cast<std::uint32_t>(g) << 8) +
           static_cast<std::uint32_t>(b);
}

// The rotation turning unit `from` onto unit `to`, as a 3x3.
Matrix3 RotationTurning(const Vec3& from, const Vec3& to) {
    const AxisAngle turn = RotationBetween(from, to);
    return Matrix3FromAxisAngle(turn.axis, turn.angle);
}

}  // namespace

// ---- snapshot ----

QMorvanObject::QUndoChunk::~QUndoChunk() {
    if (texture != nullptr) RemoveReference(texture, this, 0);
}

void QMorvanObject::QUndoChunk::Capture(const std::uint8_t* record,
                                        QReferenceObject* objectTexture) {
    parameters.reset();
    parameterCount = 0;
    if (record != nullptr) {
        parameterCount = PartRecordParamCount(record);
        if (parameterCount > 0) {
            parameters = PrivateAllocBlock<float>(static_cast<std::uint32_t>(parameterCount));
            for (std::int32_t i = 0; i < parameterCount; ++i) {
                parameters.get()[i] = PartRecordParam(record, i);
            }
        }
        rotation = PartRecordRotation(record);
        position = PartRecordPosition(record);
        colour = LoadU32LE(record + PartRecordColourOffset);
        derivedColour = LoadU32LE(record + PartRecordDerivedColourOffset);
        glowColour = LoadU32LE(record + PartRecordGlowColourOffset);
        tint = record[PartRecordTintOffset];
        glowIntensity = LoadF32LE(record + PartRecordGlowIntensityOffset);
    }
    if (objectTexture != texture) {
        // Follow the new texture first: dropping the old one may delete it when nothing
        // else refers to it.
        if (objectTexture != nullptr) AddReference(objectTexture, this, 0);
        QReferenceObject* old = texture;
        texture = objectTexture;
        if (old != nullptr) RemoveReference(old, this, 0);
    }
}

void QMorvanObject::QUndoChunk::HandleMessage(std::int32_t message, std::int32_t,
                                              QReferenceObject*, QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdTexture) return;
    if (message == MessageDestroyed || message == MessageDeleted) {
        if (sender == texture) texture = nullptr;
    } else if (message == MessageRestored) {
        texture = sender;
    }
}

void QMorvanObject::QUndoChunk::OnTargetDestroyed(QReferenceObject* target) {
    if (target == texture) texture = nullptr;
}

// ---- object life ----

QMorvanObject::QMorvanObject(std::uint32_t offset, std::int32_t objectIndex,
                             QMorvanObjects* owner)
    : recordOffset(offset), collection(owner), index(objectIndex) {
    typeId = TypeIdObject;
    if (collection != nullptr) {
        AddReference(this, collection, 0);
        AddReference(collection, this, 0);
    }
    PushUndoChunk();
}

QMorvanObject::~QMorvanObject() {
    ClearHistory();
    if (texture != nullptr) {
        QReferenceObject* old = texture;
        texture = nullptr;
        RemoveReference(old, this, 0);
    }
    SetGroup(nullptr);
    SetOwnerBot(nullptr);
    keptRecord.reset();
    // The collection hears this and takes a present record out of the block.
    Broadcast(this, MessageDestroyed, 0);
    if (collection != nullptr) RemoveReference(collection, this, 0);
    collection = nullptr;
    displayList = 0;
}

void QMorvanObject::ClearHistory() {
    history.clear();
    cursor = 0;
}

void QMorvanObject::PushUndoChunk() {
    auto chunk = std::make_unique<QUndoChunk>();
    chunk->Capture(RecordAddress(), texture);
    history.push_front(std::move(chunk));
}

void QMorvanObject::RecordUndo() {
    // Snapshots stepped back over are forgotten once a new edit is recorded.
    const auto steppedBack = static_cast<std::size_t>(
        std::clamp<std::int32_t>(cursor, 0, static_cast<std::int32_t>(history.size())));
    history.erase(history.begin(), history.begin() + static_cast<std::ptrdiff_t>(steppedBack));
    if (history.size() >= static_cast<std::size_t>(ObjectHistoryLimit)) history.pop_back();
    cursor = 0;
    PushUndoChunk();
}

QMorvanObject::QUndoChunk* QMorvanObject::GetCurrentUndoChunk() const {
    if (cursor < 0 || static_cast<std::size_t>(cursor) >= history.size()) return nullptr;
    return history[static_cast<std::size_t>(cursor)].get();
}

bool QMorvanObject::RestoreFromSnapshot(bool position, bool rotation) {
    std::uint8_t* record = GetPartRecord();
    const QUndoChunk* chunk = GetCurrentUndoChunk();
    if (record == nullptr || chunk == nullptr) return false;
    if (chunk->parameterCount == PartRecordParamCount(record)) {
        for (std::int32_t i = 0; i < chunk->parameterCount; ++i) {
            PartRecordSetParam(record, i, chunk->parameters.get()[i]);
        }
    }
    if (position) PartRecordSetPosition(record, chunk->position);
    if (rotation) PartRecordSetRotation(record, chunk->rotation);
    return true;
}

void QMorvanObject::RestoreSnapshot(std::int32_t snapshot) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr || snapshot < 0 ||
        static_cast<std::size_t>(snapshot) >= history.size()) {
        return;
    }
    const QUndoChunk& chunk = *history[static_cast<std::size_t>(snapshot)];
    if (chunk.parameterCount == PartRecordParamCount(record)) {
        for (std::int32_t i = 0; i < chunk.parameterCount; ++i) {
            PartRecordSetParam(record, i, chunk.parameters.get()[i]);
        }
    }
    PartRecordSetRotation(record, chunk.rotation);
    PartRecordSetPosition(record, chunk.position);
    StoreU32LE(record + PartRecordColourOffset, chunk.colour);
    StoreU32LE(record + PartRecordDerivedColourOffset, chunk.derivedColour);
    StoreU32LE(record + PartRecordGlowColourOffset, chunk.glowColour);
    record[PartRecordTintOffset] = chunk.tint;
    StoreF32LE(record + PartRecordGlowIntensityOffset, chunk.glowIntensity);
    SetTexture(chunk.texture, true);
}

// ---- record access ----

std::uint8_t* QMorvanObject::RecordAddress() const {
    if (collection == nullptr) return nullptr;
    std::uint8_t* block = collection->Block();
    if (block == nullptr || recordOffset < PartBlockHeaderBytes ||
        static_cast<std::uint64_t>(recordOffset) + PartRecordFixedBytes > collection->ReservedBytes()) {
        return nullptr;
    }
    return block + recordOffset;
}

std::uint8_t* QMorvanObject::GetPartRecord() const {
    return present != 0 ? RecordAddress() : nullptr;
}

bool QMorvanObject::IsVisible() const {
    const std::uint8_t* record = GetPartRecord();
    return record != nullptr && (record[PartRecordFlagsOffset] & PartFlagHidden) == 0;
}

Matrix3 QMorvanObject::GetRotationMatrix() const {
    const std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return Matrix3SetDiagonal(1.0);
    Vec3 axis = PartRecordRotation(record);
    if (axis.x == 0.0 && axis.y == 0.0 && axis.z == 0.0) return Matrix3SetDiagonal(1.0);
    const double angle = Vec3Normalize(axis);
    return Matrix3FromAxisAngle(axis, angle);
}

namespace {

// The part's local-to-world transform from the scene geometry; identity without one.
Matrix4 PartWorldFromLocal(QMorvanObjects* collection, std::int32_t index) {
    SceneGeometry* geometry = collection != nullptr ? collection->Geometry() : nullptr;
    const PartRenderRecord* entry = geometry != nullptr ? geometry->Part(index) : nullptr;
    if (entry == nullptr) return MakeIdentity();
    Matrix4 m = FromWFirstMatrix(entry->localFromWorld);
    InvertMatrix(m);
    return m;
}

}  // namespace

Matrix3 QMorvanObject::GetWorldMatrix() const {
    const std::uint8_t* record = GetPartRecord();
    if (record != nullptr && PlacedByParameters(PartRecordShapeType(record))) {
        return Matrix3FromMatrix4(PartWorldFromLocal(collection, index));
    }
    return GetRotationMatrix();
}

Matrix4 QMorvanObject::GetTransform() const {
    const std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return MakeIdentity();
    if (PlacedByParameters(PartRecordShapeType(record))) {
        return PartWorldFromLocal(collection, index);
    }
    Matrix4 m = Matrix4FromMatrix3(GetRotationMatrix());
    const Vec3 p = PartRecordPosition(record);
    m.m[3] = p.x;
    m.m[7] = p.y;
    m.m[11] = p.z;
    return m;
}

Vec3 QMorvanObject::GetCentre() const {
    const std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return Vec3{};
    if (PlacedByParameters(PartRecordShapeType(record))) {
        const Matrix4 m = PartWorldFromLocal(collection, index);
        return Vec3{m.m[3], m.m[7], m.m[11]};
    }
    return PartRecordPosition(record);
}

Vec3 QMorvanObject::GetAxis(std::int32_t column) const {
    const std::uint8_t* record = GetPartRecord();
    if (record != nullptr) {
        const ShapeType type = PartRecordShapeType(record);
        const std::int32_t n = PartRecordParamCount(record);
        if ((type == ShapeType::Rod || type == ShapeType::CutRod) && n >= 6) {
            Vec3 d = Vec3Sub(PartRecordParamVec3(record, 3), PartRecordParamVec3(record, 0));
            Vec3Normalize(d);
            return d;
        }
        if (type == ShapeType::Spheroid && n >= 6) {
            Vec3 d = PartRecordParamVec3(record, 3);
            Vec3Normalize(d);
            return d;
        }
    }
    const Matrix3 w = GetWorldMatrix();
    const auto c = static_cast<std::size_t>(std::clamp(column, 0, 2));
    return Vec3{w.m[c], w.m[3 + c], w.m[6 + c]};
}

double QMorvanObject::GetRadius() const {
    const std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return 0.0;
    const std::int32_t n = PartRecordParamCount(record);
    const auto p = [&](std::int32_t i) -> double {
        return i < n ? PartRecordParam(record, i) : 0.0;
    };
    using enum ShapeType;
    switch (PartRecordShapeType(record)) {
        case Sphere: case Bowl: return p(0);
        case Cylinder: case Frustum: case FlatSidedCylinder: case RoundedCylinder:
        case RoundedFrustum: case RoundedOctagon: case RevolvedPair: case CoredSolid: case Ring:
        case HoledSolid:
            return p(0) * 0.5;
        case Box: case SphereZone: case RoundedBox: return p(1) * 0.5;
        case Torus: case Ellipsoid: return p(1);
        case TaperedPrism: case SmoothPlate: return p(3) * 0.5;
        case Spheroid: return p(6);
        case FlaredSolid: return p(4) * 0.5;
        default: return 0.0;
    }
}

Colour QMorvanObject::GetColour() const {
    const std::uint8_t* record = GetPartRecord();
    return ColourFromRgb24(record != nullptr ? LoadU32LE(record + PartRecordColourOffset) : 0);
}

// ---- edits ----

void QMorvanObject::Rebuild(bool mode, bool flag) {
    changed = 1;
    std::uint8_t* record = GetPartRecord();
    SceneGeometry* geometry = collection != nullptr ? collection->Geometry() : nullptr;
    if (record == nullptr || geometry == nullptr) return;
    BuildPartShape(*geometry, record, index, flag, mode, false);
}

void QMorvanObject::SetPosition(const Vec3& position) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return;
    PartRecordSetPosition(record, position);
    Rebuild(false, true);
}

void QMorvanObject::SetRotation(const Matrix3& rotation) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return;
    Vec3 axis;
    double angle = 0.0;
    Matrix3ToAxisAngle(rotation, axis, angle);
    PartRecordSetRotation(record, Vec3Scale(axis, angle));
    Rebuild(false, true);
}

void QMorvanObject::PointAlong(Vec3 direction) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return;
    Vec3Normalize(direction);
    const ShapeType type = PartRecordShapeType(record);
    const std::int32_t n = PartRecordParamCount(record);
    const bool rod = type == ShapeType::Rod || type == ShapeType::CutRod;
    if (rod && n >= 9) {
        const Vec3 a = PartRecordParamVec3(record, 0);
        const Vec3 b = PartRecordParamVec3(record, 3);
        Vec3 along = Vec3Sub(b, a);
        Vec3Normalize(along);
        const Matrix3 r = RotationTurning(along, direction);
        const Vec3 m = Vec3Scale(Vec3Add(a, b), 0.5);
        PartRecordSetParamVec3(record, 0, Vec3Add(m, Matrix3TransformVec3(r, Vec3Sub(a, m))));
        PartRecordSetParamVec3(record, 3, Vec3Add(m, Matrix3TransformVec3(r, Vec3Sub(b, m))));
        PartRecordSetParamVec3(record, 6,
                               Matrix3TransformVec3(r, PartRecordParamVec3(record, 6)));
    } else if (type == ShapeType::Spheroid && n >= 6) {
        Vec3 d = PartRecordParamVec3(record, 3);
        Vec3Normalize(d);
        const Matrix3 r = RotationTurning(d, direction);
        PartRecordSetParamVec3(record, 0,
                               Matrix3TransformVec3(r, PartRecordParamVec3(record, 0)));
        PartRecordSetParamVec3(record, 3,
                               Matrix3TransformVec3(r, PartRecordParamVec3(record, 3)));
    } else if (!rod && type != ShapeType::Spheroid) {
        const AxisAngle turn = RotationBetween(Vec3{0.0, 1.0, 0.0}, direction);
        PartRecordSetRotation(record, Vec3Scale(turn.axis, turn.angle));
    }
    Rebuild(true, true);
}

double QMorvanObject::GetSceneScale() const { return SceneScale; }

std::optional<Vec3> QMorvanObject::CommonScaleCentre() const {
    return collection != nullptr ? collection->commonScaleCentre : std::nullopt;
}

void QMorvanObject::ApplyPlacement(const Matrix4& placement) { SetPlacement(placement); }

void QMorvanObject::MarkChangedAndRebuild() { Rebuild(true, true); }

std::int32_t QMorvanObject::BuildShape() {
    std::uint8_t* record = GetPartRecord();
    SceneGeometry* geometry = collection != nullptr ? collection->Geometry() : nullptr;
    if (record == nullptr || geometry == nullptr) return PartBuildNoEntry;
    return BuildPartShape(*geometry, record, index, true, false, false);
}

void QMorvanObject::SetPlacement(Matrix4 placement) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return;
    SetPartPlacement(record, ToWFirstMatrix(placement));
    Rebuild(true, true);
}

void QMorvanObject::PlaceAt(const Vec3& point) {
    SetPlacement(MakeTranslation(point.x, point.y, point.z));
}

bool QMorvanObject::SetDimension(float value, std::int32_t key) {
    if (dimensionRows == nullptr || dimensionRowCount <= 0 || GetPartRecord() == nullptr) {
        return false;
    }
    for (std::int32_t i = 0; i < dimensionRowCount; ++i) {
        const DimensionHandlerRow& row = dimensionRows[i];
        if (row.ordinal != key) continue;
        if (row.handler == nullptr) return false;
        row.handler(*this, row, value, static_cast<float>(0.1 / SceneScale), 1000000.0f);
        Rebuild(true, true);
        return true;
    }
    return false;
}

void QMorvanObject::SetTexture(QReferenceObject* newTexture, bool rebuild) {
    ORBELLE_CHECK(newTexture == nullptr || newTexture->TypeId() == TypeIdTexture);
    QReferenceObject* old = texture;
    texture = newTexture;
    if (std::uint8_t* record = GetPartRecord()) {
        StoreU32LE(record + PartRecordTextureRefOffset, TextureRefOf(newTexture));
        if (rebuild) Rebuild(true, true);
    }
    if (old != newTexture) {
        if (newTexture != nullptr) AddReference(newTexture, this, 0);
        if (old != nullptr) RemoveReference(old, this, 0);
    }
}

void QMorvanObject::ClearTexture() {
    if (texture == nullptr) return;
    if (std::uint8_t* record = GetPartRecord()) {
        StoreU32LE(record + PartRecordTextureRefOffset, 0);
    }
    QReferenceObject* old = texture;
    texture = nullptr;
    RemoveReference(old, this, 0);
    Rebuild(true, true);
}

void QMorvanObject::SetVisible(bool visible) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return;
    std::uint8_t& flags = record[PartRecordFlagsOffset];
    flags = visible ? static_cast<std::uint8_t>(flags & ~PartFlagHidden)
                    : static_cast<std::uint8_t>(flags | PartFlagHidden);
    Rebuild(true, true);
}

void QMorvanObject::SetColor(std::int32_t r, std::int32_t g, std::int32_t b) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return;
    const std::uint32_t colour = PackRgb(r, g, b);
    const std::uint32_t derived = PackRgbHalfContrast(ColourFromRgb24(colour));
    StoreU32LE(record + PartRecordColourOffset, colour);
    StoreU32LE(record + PartRecordDerivedColourOffset, derived);
    SceneGeometry* geometry = collection->Geometry();
    if (PartRenderRecord* entry = geometry != nullptr ? geometry->Part(index) : nullptr) {
        entry->colour = colour;
        entry->derivedColour = derived;
    }
}

void QMorvanObject::SetTint(std::uint8_t tint, bool mirror) {
    std::uint8_t* record = GetPartRecord();
    if (record == nullptr) return;
    const std::uint32_t derived =
        PackRgbHalfContrast(ColourFromRgb24(LoadU32LE(record + PartRecordColourOffset)));
    StoreU32LE(record + PartRecordDerivedColourOffset, derived);
    record[PartRecordTintOffset] = tint;
    if (!mirror) return;
    SceneGeometry* geometry = collection->Geometry();
    if (PartRenderRecord* entry = geometry != nullptr ? geometry->Part(index) : nullptr) {
        entry->tint = tint;
        entry->derivedColour = derived;
    }
}

void QMorvanObject::SetSelected(bool flag) {
    if ((selected != 0) == flag) return;
    selected = flag ? 1 : 0;
    if (collection == nullptr) return;
    if (flag) {
        collection->SelectionIds().Insert(index);
    } else {
        IdSetRemove(collection->SelectionIds(), index);
    }
}

void QMorvanObject::UpdateSeedPointPosition() {
    const Vec3 centre = GetCentre();
    StoreF32LE(seedPoint.data(), static_cast<float>(centre.x));
    StoreF32LE(seedPoint.data() + 4, static_cast<float>(centre.y));
    StoreF32LE(seedPoint.data() + 8, static_cast<float>(centre.z));
}

void QMorvanObject::SetDimensionRun(const DimensionHandlerRow* rows, std::int32_t rowCount) {
    dimensionRows = rows;
    dimensionRowCount = rowCount;
}

void QMorvanObject::Bind(std::uint32_t offset, std::int32_t newIndex, QMorvanObjects* owner) {
    recordOffset = offset;
    index = newIndex;
    if (owner == collection) return;
    if (collection != nullptr) {
        RemoveReference(this, collection, 0);
        RemoveReference(collection, this, 0);
    }
    collection = owner;
    if (owner != nullptr) {
        AddReference(this, owner, 0);
        AddReference(owner, this, 0);
    }
}

void QMorvanObject::SetGroup(QGroup* newGroup) {
    if (newGroup == group) return;
    QGroup* old = group;
    group = newGroup;
    if (newGroup != nullptr) AddReference(newGroup, this, 0);
    if (old != nullptr) RemoveReference(old, this, 0);
}

void QMorvanObject::SetOwnerBot(QToadObj* bot) {
    if (bot == ownerBot) return;
    QToadObj* old = ownerBot;
    ownerBot = bot;
    if (bot != nullptr) AddReference(bot, this, 0);
    if (old != nullptr) RemoveReference(old, this, 0);
}

// ---- messages ----

void QMorvanObject::HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject*,
                                  QReferenceObject* sender) {
    if (sender == nullptr) return;
    QDocumentBase* document = collection != nullptr ? collection->Document() : nullptr;
    const auto markModified = [document] {
        if (document != nullptr) document->modified = 1;
    };
    switch (sender->TypeId()) {
        case TypeIdTexture:
            if (message == MessageDestroyed || message == MessageDeleted) {
                if (sender != texture) return;
                texture = nullptr;
                if (std::uint8_t* record = GetPartRecord()) {
                    StoreU32LE(record + PartRecordTextureRefOffset, 0);
                    Rebuild(true, true);
                    Broadcast(this, MessageChanged, -1);
                }
                if (message == MessageDeleted) markModified();
            } else if (message == MessageRestored) {
                if (texture != nullptr && texture != sender) RemoveReference(texture, this, 0);
                texture = sender;
                if (std::uint8_t* record = GetPartRecord()) {
                    StoreU32LE(record + PartRecordTextureRefOffset, TextureRefOf(sender));
                    Rebuild(true, true);
                    Broadcast(this, MessageChanged, 1);
                    markModified();
                }
            } else if (message == MessageChanged) {
                std::uint8_t* record = GetPartRecord();
                if (record == nullptr) return;
                const bool customMapping = (record[PartRecordFlagsOffset] & PartFlagCustomMapping) != 0;
                const bool rebuild = (a & 2) != 0 || ((a & 1) != 0 ? customMapping : !customMapping);
                if (rebuild) Rebuild((a & 4) != 0, true);
                Broadcast(this, MessageChanged, 1);
            }
            break;
        case TypeIdGroup: {
            QGroup* first = document != nullptr && document->Groups() != nullptr
                                ? document->Groups()->GetGroup(0)
                                : nullptr;
            if (message == MessageDestroyed) {
                if (sender != group) return;
                // The dying group is left without unregistering: it is being destroyed.
                group = nullptr;
                if (first != nullptr && first != sender) SetGroup(first);
            } else if (message == MessageDeleted) {
                // The object stays registered on the deleted group to hear its restoration.
                if (sender != group) return;
                group = nullptr;
                if (first != nullptr && first != sender) SetGroup(first);
            } else if (message == MessageRestored) {
                if (group == first && group != nullptr) RemoveReference(group, this, 0);
                group = static_cast<QGroup*>(sender);
                AddReference(sender, this, 0);
            }
            break;
        }
        case TypeIdObjects:
            if (message == MessageDestroyed && sender == collection) {
                collection = nullptr;
                present = 0;
            }
            break;
        case TypeIdBot:
            if (message == MessageDestroyed || message == MessageDeleted) {
                if (sender != ownerBot) return;
                ownerBot = nullptr;
                if (message == MessageDestroyed && deleteWithBot != 0) DestroySelf();
            } else if (message == MessageRestored) {
                ownerBot = static_cast<QToadObj*>(sender);
            }
            break;
        default:
            break;
    }
}

void QMorvanObject::OnTargetDestroyed(QReferenceObject* target) {
    if (target == texture) texture = nullptr;
    if (target == group) group = nullptr;
    if (target == ownerBot) ownerBot = nullptr;
    if (target == collection) {
        collection = nullptr;
        present = 0;
    }
}
