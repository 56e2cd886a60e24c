#include "model/q_document_base.h"

#include "bots/sproutling_engine.h"
#include "core/byte_order.h"
#include "core/check.h"
#include "core/float_convert.h"
#include "core/operation_log.h"
#include "geometry/part_block.h"
#include "geometry/primitive_record.h"
#include "geometry/scene_geometry.h"
#include "model/document_modeller.h"
#include "model/document_view.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_object_list.h"
#include "model/q_morvan_objects.h"
#include "model/q_texture_list.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"

#include <algorithm>
#include <cmath>

namespace {

QDocumentBase*& CurrentDocumentSlot() {
    static QDocumentBase* current = nullptr;
    return current;
}

}  // namespace

QDocumentBase* CurrentDocument() { return CurrentDocumentSlot(); }

void SetCurrentDocument(QDocumentBase* document) {
    CurrentDocumentSlot() = document;
    SetCurrentUndoHistory(document != nullptr ? &document->History() : nullptr);
    SetCurrentOperationProgress(document);
}

QDocumentBase::QDocumentBase() {
    try {
        BuildMembers();
    } catch (...) {
        ReleaseMembers();
        throw;
    }
}

void QDocumentBase::BuildMembers() {
    partBlock = static_cast<std::uint8_t*>(PrivateAlloc(PartBlockHeaderBytes));
    partBlockBytes = PartBlockHeaderBytes;
    PartBlockWriteHeader(partBlock);
    geometry = std::make_unique<SceneGeometry>();
    if (DocumentModellerMaker maker = GetDocumentModellerMaker()) modeller = maker(*this);
    objects = std::make_unique<QMorvanObjects>(this);
    // The empty block always loads; the result carries nothing to act on.
    LoadPartBlock(*geometry, partBlock, PartBlockHeaderBytes, true, nullptr, false);
    engine = std::make_unique<SproutlingEngine>(&partBlock, SceneScale, &engineBuffers);

    textureList = std::make_unique<QTextureList>();
    AddReference(textureList.get(), this, 0);
    botList = std::make_unique<QToadObjList>();
    groups = std::make_unique<QGroups>(this);

    typeId = TypeIdDocument;
    // round(atof("2.1") * 100), halves away from zero: the scene file version this document
    // writes.
    fileVersion = TruncToInt32(std::round(2.1 * 100.0));

    // Each row: a shape type as its stored number, then that type's four values.
    constexpr std::array<std::array<std::int32_t, 5>, 20> shapeTypeRows{{
        {1, 6, 6, 6, 6},     {2, 6, 1, 1, 1},     {3, 1, 1, 1, 1},   {4, 6, 1, 1, 1},
        {5, 12, 6, 6, 6},    {7, 6, 6, 6, 6},     {8, 6, 1, 1, 1},   {9, 6, 6, 6, 6},
        {14, 6, 1, 1, 1},    {15, 1, 1, 1, 1},    {16, 6, 1, 1, 1},  {18, 6, 1, 1, 1},
        {20, 6, 12, 12, 12}, {21, 12, 6, 6, 6},   {22, 12, 6, 6, 6}, {24, 6, 12, 12, 12},
        {25, 6, 1, 1, 1},    {26, 6, 12, 12, 12}, {27, 6, 6, 6, 6},  {28, 6, 6, 6, 6},
    }};
    for (const auto& row : shapeTypeRows) {
        shapeTypes[row[0]] = {row[1], row[2], row[3], row[4]};
    }
}

QDocumentBase::~QDocumentBase() {
    // The history owns its undo states and deleted objects, which refer to what the members
    // hold: they go first.
    undoHistory.Release();
    ReleaseMembers();
    // A current-document pointer left on a destroyed document would have the next recording
    // write into freed memory.
    if (CurrentDocument() == this) SetCurrentDocument(nullptr);
    Broadcast(this, MessageDestroyed, 0);
}

void QDocumentBase::ReleaseMembers() {
    if (renderView != nullptr) renderView->DetachDocument();
    renderView = nullptr;
    SetCurrentTexture(nullptr);
    SetCurrentBot(nullptr);
    SetSecondBot(nullptr);
    // The groups go away below; the document stops following its current group first so
    // that their destruction does not make it pick a new one from a dying list.
    SetCurrentGroup(nullptr);

    // Objects go before the textures, groups, bots and geometry they refer to.
    userObjects.reset();
    objects.reset();
    textureList.reset();
    botList.reset();
    groups.reset();
    geometry.reset();
    modeller.reset();
    heapBlock.reset();
    engine.reset();
    flags1 = {};
    worldAxesShown = 0;
    objectAxesShown = 0;
    flags3 = {};
    PrivateFree(partBlock);
    partBlock = nullptr;
    partBlockBytes = 0;
    FreePointerVector(engineBuffers);
}

QMorvanObjectList& QDocumentBase::UserObjects() {
    if (!userObjects) userObjects = std::make_unique<QMorvanObjectList>();
    return *userObjects;
}

void QDocumentBase::SetUserBotObjects() {
    if (!engine || !objects) return;
    QMorvanObject* first = userObjects ? userObjects->GetIdClamped(0) : nullptr;
    if (userBotObjects == 0 || first == nullptr) return;
    const std::array<QMorvanObject*, 2> chosen{first, userObjects->GetIdClamped(1)};
    for (std::int32_t which = 0; which < 2; ++which) {
        const std::uint8_t* record = chosen[static_cast<std::size_t>(which)]->GetPartRecord();
        if (record == nullptr) continue;
        PartRecordPtr copy = ClonePrimitive(record, false, SceneScale);
        engine->StoreStateRecord(copy.get(), which);
    }
    // The per-object records are built aside and swapped in, so a refused copy leaves the
    // engine's former records as they were.
    std::vector<PrivateBlockPtr<std::uint8_t>> records;
    records.reserve(objects->Objects().size());
    for (const QMorvanObject* object : objects->Objects()) {
        if (const std::uint8_t* record = object->GetPartRecord()) {
            records.push_back(ClonePrimitive(record, false, engine->sceneScale));
        }
    }
    engine->userPartRecords.swap(records);
}

void QDocumentBase::AnnounceProgress(std::int32_t stage, std::int32_t percent) {
    progressStage = stage;
    progressPercent = percent;
    abortRequested = false;
    Broadcast(this, MessageChanged, DocumentChangeProgress);
}

void QDocumentBase::EndProgress() {
    progressStage = 0;
    progressPercent = 0;
    abortRequested = false;
}

void QDocumentBase::BeginOperation(std::string_view name) {
    undoHistory.BeginStep(name);
    Broadcast(this, MessageChanged, DocumentChangeUndoHistory);
}

void QDocumentBase::ClearUndoHistory() {
    undoHistory.Clear();
    if (renderView != nullptr) renderView->viewSettings.lights.ClearHistory();
    if (objects) objects->ClearHistory();
    if (botList) botList->ClearHistory();
    if (textureList) textureList->ClearHistory();
    Broadcast(this, MessageChanged, DocumentChangeUndoHistory);
}

void QDocumentBase::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                  QReferenceObject* sender) {
    if (sender == nullptr || message < 0) return;
    switch (sender->TypeId()) {
        case TypeIdTexture:
            if (message == MessageDestroyed || message == MessageDeleted) {
                currentTexture = nullptr;
                Broadcast(this, MessageChanged, DocumentChangeTexture);
            } else if (message == MessageRestored) {
                // A texture restored while another one is current is not followed any more.
                if (currentTexture != nullptr) {
                    RemoveReference(sender, this, 0);
                    return;
                }
                currentTexture = sender;
                Broadcast(this, MessageChanged, DocumentChangeTexture);
                Broadcast(sender, MessageBecameCurrent, 0);
            }
            break;
        case TypeIdBot:
            if (message == MessageDestroyed || message == MessageDeleted) {
                if (sender == currentBot) {
                    Broadcast(sender, MessageStoppedCurrent, 0);
                    currentBot = nullptr;
                    Broadcast(this, MessageChanged, DocumentChangeBot);
                }
                if (sender == secondBot) {
                    secondBot = nullptr;
                    Broadcast(this, MessageChanged, DocumentChangeSecondBot);
                }
            } else if (message == MessageRestored && sender == currentBot) {
                Broadcast(sender, MessageStoppedCurrent, 0);
                currentBot = static_cast<QToadObj*>(sender);
                Broadcast(this, MessageChanged, DocumentChangeBot);
                Broadcast(sender, MessageBecameCurrent, 0);
            }
            break;
        case TypeIdGroup:
            if (message == MessageDestroyed || message == MessageDeleted) {
                currentGroup = groups ? groups->GetGroup(0) : nullptr;
                if (currentGroup != nullptr) AddReference(currentGroup, this, 0);
                Broadcast(this, MessageChanged, DocumentChangeGroups);
            } else if (message == MessageRestored) {
                if (currentGroup != nullptr) RemoveReference(currentGroup, this, 0);
                currentGroup = static_cast<QGroup*>(sender);
                Broadcast(this, MessageChanged, DocumentChangeGroups);
            }
            break;
        case TypeIdTextureList:
            if (message == MessageChanged) {
                Broadcast(this, MessageChanged, DocumentChangeTextureList);
            }
            break;
        default:
            break;
    }
}

void QDocumentBase::OnTargetDestroyed(QReferenceObject* target) {
    if (target == currentTexture) currentTexture = nullptr;
    if (target == currentBot) currentBot = nullptr;
    if (target == secondBot) secondBot = nullptr;
    if (target == currentGroup) currentGroup = nullptr;
}

void QDocumentBase::SetCurrentTexture(QReferenceObject* texture) {
    ORBELLE_CHECK(texture == nullptr || texture->TypeId() == TypeIdTexture);
    if (texture == currentTexture) return;
    if (currentTexture != nullptr) RemoveReference(currentTexture, this, 0);
    currentTexture = texture;
    if (texture != nullptr) AddReference(texture, this, 0);
}

namespace {

// Moves the document's following from the bot in slot to bot, keeping it registered on a
// bot that the other slot still holds.
void FollowBot(QDocumentBase* document, QToadObj*& slot, QToadObj* other, QToadObj* bot) {
    if (bot == slot) return;
    if (slot != nullptr && slot != other) QReferenceObject::RemoveReference(slot, document, 0);
    slot = bot;
    if (bot != nullptr) QReferenceObject::AddReference(bot, document, 0);
}

}  // namespace

void QDocumentBase::SetCurrentBot(QToadObj* bot) { FollowBot(this, currentBot, secondBot, bot); }

void QDocumentBase::SetSecondBot(QToadObj* bot) { FollowBot(this, secondBot, currentBot, bot); }

void QDocumentBase::SetCurrentGroup(QGroup* group) {
    if (group == currentGroup) return;
    if (currentGroup != nullptr) RemoveReference(currentGroup, this, 0);
    currentGroup = group;
    if (group != nullptr) AddReference(group, this, 0);
}

std::int32_t QDocumentBase::GetCurrentBotParameter() const {
    if (!engine) return 0;
    return currentBot != nullptr ? currentBot->settingC : engine->recordPickMode;
}

ViewRectInt QDocumentBase::GetViewRect() const {
    const auto round = [](double v) { return TruncToInt32(std::round(v)); };
    return {round(viewRect[0]), round(viewRect[1]), round(viewRect[2]), round(viewRect[3])};
}

ViewRectInt QDocumentBase::GetCenteredViewRect(std::int32_t width, std::int32_t height) const {
    const ViewRectInt rect = GetViewRect();
    const std::int64_t w = static_cast<std::int64_t>(rect.right) - rect.left;
    const std::int64_t h = static_cast<std::int64_t>(rect.bottom) - rect.top;
    const auto half = [](std::int64_t v) { return static_cast<std::int32_t>(v / 2); };
    return {half(width - w), half(height - h), half(width + w), half(height + h)};
}

namespace {

// Layout of a multi-part legacy bot record: eight header words (form, part count, six
// more), then five tables of 12 words, then the parts, each as a u32 byte length followed
// by its bytes.
constexpr std::uint32_t LegacySinglePartLimit = 5000;
constexpr std::int32_t LegacyMultiPartForm = 2;
constexpr std::uint32_t LegacyHeaderBytes = 32;
constexpr std::uint32_t LegacyTableCount = 5;
constexpr std::uint32_t LegacyTableEntries = 12;
constexpr std::uint32_t LegacyPartsOffset =
    LegacyHeaderBytes + LegacyTableCount * LegacyTableEntries * 4;
constexpr std::int32_t LegacyMaxParts = 12;  // rows 1 to 12 of the engine's tables

}  // namespace

std::int32_t QDocumentBase::ReadLegacyBotData(const std::uint8_t* record, std::uint32_t length) {
    if (!engine) return LegacyBotPartRejected;
    // A part that is missing or refused ends the load with its row marked unused.
    const auto rejectPart = [this](std::uint32_t part) {
        partIndex = -1;
        engine->ClearPartRow(part);
        return LegacyBotPartRejected;
    };
    const auto loadPart = [&](const std::uint8_t* data, std::uint32_t size, std::uint32_t part) {
        partIndex = LoadLegacyBotPart(*engine, data, static_cast<std::int32_t>(size), part);
        return partIndex >= 0;
    };

    if (record == nullptr || length == 0) return rejectPart(0);
    if (length <= LegacySinglePartLimit) {
        if (!loadPart(record, length, 0)) return rejectPart(0);
        return static_cast<std::int32_t>(engine->legacyRecordLength);
    }

    // The record is trusted for nothing: the part count must fit the engine's rows and every
    // part must end inside the record.
    if (length < LegacyPartsOffset) return LegacyBotMalformed;
    const std::int32_t form = LoadI32LE(record);
    const std::int32_t partCount = LoadI32LE(record + 4);
    if (form != LegacyMultiPartForm || partCount < 2 || partCount > LegacyMaxParts) {
        return LegacyBotMalformed;
    }
    std::int32_t* tables[LegacyTableCount] = {engine->morphRows.get(), engine->morphFlags.get(),
                                              engine->morphAux.get(), engine->morphKinds.get(),
                                              engine->morphLengths.get()};
    for (std::uint32_t t = 0; t < LegacyTableCount; ++t) {
        for (std::uint32_t i = 0; i < LegacyTableEntries; ++i) {
            tables[t][i] = LoadI32LE(record + LegacyHeaderBytes + 4 * (t * LegacyTableEntries + i));
        }
    }

    std::uint32_t offset = LegacyPartsOffset;
    for (std::int32_t k = 0; k < partCount; ++k) {
        const auto part = static_cast<std::uint32_t>(k + 1);
        if (length - offset < 4) return rejectPart(part);
        const std::uint32_t size = LoadU32LE(record + offset);
        offset += 4;
        if (size == 0 || size > length - offset || size > LegacySinglePartLimit) {
            return rejectPart(part);
        }
        if (!loadPart(record + offset, size, part)) return rejectPart(part);
        offset += size;
    }
    return static_cast<std::int32_t>(engine->legacyRecordLength);
}

QTextureImage* QDocumentBase::FindTextureImageById(std::uint32_t id) const {
    if (!textureList) return nullptr;
    for (QReferenceObject* member : textureList->Textures()) {
        const auto* texture = dynamic_cast<const QTexture*>(member);
        QTextureImage* image = texture != nullptr ? texture->Image() : nullptr;
        if (image != nullptr && image->colourId == id) return image;
    }
    return nullptr;
}
