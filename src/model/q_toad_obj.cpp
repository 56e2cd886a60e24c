#include "model/q_toad_obj.h"

#include "core/float_convert.h"
#include "model/q_document_base.h"
#include "model/q_toad_obj_list.h"

QToadObj::QToadObj() = default;

QToadObj::QToadObj(QDocumentBase* document) : ownerDoc(document) {
    typeId = TypeIdBot;
    changeMask = BotChangeMask;
    if (document != nullptr) {
        AddReference(document, this, 0);
        morphDuration = 100.0f / document->AnimationSettings().stepRate;
        PushSnapshot(BotChangeMask);
    }
}

QToadObj::~QToadObj() {
    ClearHistory();
    if (ownerDoc != nullptr) {
        UnlinkMorph();
        RemoveReference(ownerDoc, this, 0);
        if (QToadObjList* list = ownerDoc->BotList()) {
            RemoveReference(this, list, 0);
            list->RemoveBot(this);
        }
        ownerDoc = nullptr;
    }
    Broadcast(this, MessageDestroyed, 0);
}

void QToadObj::ClearHistory() {
    history.clear();
    historyIndex = 0;
    QReferenceObject::ClearHistory();
}

void QToadObj::PushSnapshot(std::uint32_t mask) {
    auto snapshot = std::make_unique<QToadObj>(nullptr);
    CopyMasked(*snapshot, *this, BotCopyAll);
    changeMask = mask;
    snapshot->changeMask = mask;
    history.push_front(std::move(snapshot));
}

void QToadObj::UnlinkMorph() {
    if (morphHead != 0 && morphNext != nullptr) {
        morphNext->morphPrev = nullptr;
        morphNext->morphHead = 1;
    } else {
        if (morphPrev != nullptr) morphPrev->morphNext = morphNext;
        if (morphNext != nullptr) morphNext->morphPrev = morphPrev;
    }
    morphPrev = nullptr;
    morphNext = nullptr;
    morphHead = 0;
}

void QToadObj::ReleaseObjects() {
    // Generated scene objects register on their bot; the bot lets go of each of them.
    for (QReferenceObject* object : CollectReferrersByType(TypeIdObject)) {
        RemoveReference(this, object, 0);
    }
}

bool QToadObj::AnyStateFlagSet() const {
    return morphPrev != nullptr || morphNext != nullptr || morphHead != 0;
}

std::int32_t QToadObj::ModeWord() const { return TruncToInt32(bt[0]); }

bool QToadObj::IsModeBits01Clear() const { return (ModeWord() & 3) == 0; }

void QToadObj::CopyMasked(QToadObj& dst, const QToadObj& src, std::uint32_t mask) {
    dst.changeMask = src.changeMask;
    dst.objSource = src.objSource;
    dst.settingD = src.settingD;
    dst.settingC = src.settingC;
    if ((mask & BotCopyMorph) != 0) {
        dst.morphMode = src.morphMode;
        dst.morphSteps = src.morphSteps;
        dst.morphValues = src.morphValues;
        dst.morphDuration = src.morphDuration;
    }
    if ((mask & BotCopyParameters) != 0) {
        dst.kind = src.kind;
        dst.bt = src.bt;
    }
}
