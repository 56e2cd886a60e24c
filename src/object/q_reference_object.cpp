#include "object/q_reference_object.h"

#include "core/check.h"
#include "object/undo_history.h"

QReferenceObject::QReferenceObject() = default;

QReferenceObject::QReferenceObject(const QReferenceObject& other)
    : typeId(other.typeId), autoDelete(other.autoDelete) {}

std::unique_ptr<QReferenceObject> QReferenceObject::Clone() const {
    return std::unique_ptr<QReferenceObject>(new QReferenceObject(*this));
}

QReferenceObject::~QReferenceObject() {
    // A handler deleted the sender of the broadcast it is handling; going on would read
    // freed memory as soon as the handler returns.
    ORBELLE_CHECK(broadcastDepth == 0);
    isDying = true;

    if (changeListCount > 0) UndoHistory::ForgetDestroyedObject(this);

    // Each step below removes the element it takes, and targets deleted on the way remove
    // themselves from these sets, so the loops always end.
    while (QReferenceObject* target = detached.First()) {
        detached.Erase(target);
        target->DropReferrer(this);
    }
    while (QReferenceObject* target = registrations.First()) {
        target->DropReferrer(this);
    }

    for (ReferenceSet& set : referrers) {
        while (QReferenceObject* referrer = set.First()) {
            set.Erase(referrer);
            if (referrers[0].Contains(referrer) || referrers[1].Contains(referrer)) continue;
            referrer->registrations.Erase(this);
            referrer->detached.Erase(this);
            referrer->OnTargetDestroyed(this);
        }
    }
}

void QReferenceObject::OnBeforeBroadcast(std::int32_t, std::int32_t, QReferenceObject*) {}

void QReferenceObject::OnAfterBroadcast(std::int32_t, std::int32_t, QReferenceObject*) {}

bool QReferenceObject::Accepts(const void*) { return true; }

void QReferenceObject::HandleMessage(std::int32_t, std::int32_t, QReferenceObject*,
                                     QReferenceObject*) {}

void QReferenceObject::OnTargetDestroyed(QReferenceObject*) {}

void QReferenceObject::MarkDeleted() {
    UndoHistory* history = CurrentUndoHistory();
    if (history == nullptr || !alive) return;
    RecordExistence(*history, HistoryDeleted);
    alive = false;
    Broadcast(this, MessageDeleted, 0);
}

void QReferenceObject::MarkCreated() {
    UndoHistory* history = CurrentUndoHistory();
    if (history == nullptr) return;
    RecordExistence(*history, HistoryExists);
    alive = true;
}

void QReferenceObject::RecordExistence(UndoHistory& history, std::uint16_t entry) {
    // The two histories and the change list stay parallel even when an append runs out of
    // memory: whatever was appended before the failure is taken back.
    stateHistory.push_back(entry);
    try {
        undoStepHistory.push_back(history.StepNumber());
        try {
            history.Append(this);
        } catch (...) {
            undoStepHistory.pop_back();
            throw;
        }
    } catch (...) {
        stateHistory.pop_back();
        throw;
    }
}

void QReferenceObject::ClearHistory() {
    stateHistory.clear();
    undoStepHistory.clear();
}

void QReferenceObject::AddReference(QReferenceObject* target, QReferenceObject* referrer,
                                    std::int32_t set) {
    ORBELLE_CHECK(target != nullptr);
    if (referrer == nullptr) return;
    target->referrers[set != 0 ? 1 : 0].Insert(referrer);
    try {
        referrer->registrations.Insert(target);
    } catch (...) {
        target->referrers[set != 0 ? 1 : 0].Erase(referrer);
        throw;
    }
}

void QReferenceObject::RemoveReference(QReferenceObject* target, QReferenceObject* referrer,
                                       std::int32_t set) {
    ORBELLE_CHECK(target != nullptr);
    if (referrer == nullptr) return;
    target->referrers[set != 0 ? 1 : 0].Erase(referrer);
    referrer->detached.Erase(target);
    if (!target->referrers[0].Contains(referrer) && !target->referrers[1].Contains(referrer)) {
        referrer->registrations.Erase(target);
    }
    target->DeleteIfUnreferenced();
}

void QReferenceObject::DropReferrer(QReferenceObject* referrer) {
    referrers[0].Erase(referrer);
    referrers[1].Erase(referrer);
    referrer->registrations.Erase(this);
    referrer->detached.Erase(this);
    DeleteIfUnreferenced();
}

void QReferenceObject::DeleteIfUnreferenced() {
    if (!autoDelete || isDying || !referrers[0].IsEmpty() || !referrers[1].IsEmpty()) return;
    if (broadcastDepth > 0) {
        // The running broadcast still uses this object; it deletes it when it ends.
        deleteAfterBroadcast = true;
        return;
    }
    DestroySelf();
}

void QReferenceObject::DestroySelf() {
    ORBELLE_CHECK(!isDying);
    // The one place where an object ends its own life; see the declaration for who lets go.
    delete this;
}

void QReferenceObject::Broadcast(QReferenceObject* sender, std::int32_t message, std::int32_t a,
                                 std::unique_ptr<QReferenceObject> payload) {
    ORBELLE_CHECK(sender != nullptr);
    if (message == MessageDestroyed) sender->isDying = true;

    std::vector<ReferenceSet::Entry> first;
    std::vector<ReferenceSet::Entry> second;
    sender->referrers[0].Snapshot(first);
    sender->referrers[1].Snapshot(second);

    struct DepthGuard {
        QReferenceObject* sender;
        explicit DepthGuard(QReferenceObject* s) : sender(s) { ++sender->broadcastDepth; }
        ~DepthGuard() { --sender->broadcastDepth; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
    };
    {
        DepthGuard guard(sender);
        sender->OnBeforeBroadcast(message, a, payload.get());
        Deliver(sender, 0, first, message, a, payload.get());
        Deliver(sender, 1, second, message, a, payload.get());
        sender->OnAfterBroadcast(message, a, payload.get());
        payload.reset();
    }
    if (sender->broadcastDepth == 0 && sender->deleteAfterBroadcast) {
        sender->deleteAfterBroadcast = false;
        sender->DeleteIfUnreferenced();
    }
}

void QReferenceObject::Deliver(QReferenceObject* sender, std::int32_t setIndex,
                               const std::vector<ReferenceSet::Entry>& snapshot,
                               std::int32_t message, std::int32_t a, QReferenceObject* payload) {
    for (const ReferenceSet::Entry& entry : snapshot) {
        if (!sender->referrers[setIndex].ContainsEntry(entry)) continue;
        QReferenceObject* referrer = entry.object;
        switch (message) {
            case MessageDeleted:
                referrer->detached.Insert(sender);
                break;
            case MessageDestroyed:
                referrer->detached.Erase(sender);
                // A deleted sender told its referrers with message 1 already.
                if (!sender->alive) continue;
                break;
            case MessageRestored:
                referrer->detached.Erase(sender);
                break;
            default:
                break;
        }
        referrer->HandleMessage(message, a, payload, sender);
    }
}

bool QReferenceObject::IsPresent() const {
    return alive && !stateHistory.empty() && stateHistory.back() == HistoryExists;
}

std::vector<QReferenceObject*> QReferenceObject::CollectReferrersByType(
    std::int32_t wantedTypeId) const {
    std::vector<QReferenceObject*> found;
    referrers[0].ForEach([&](QReferenceObject* referrer) {
        if (referrer->alive && referrer->typeId == wantedTypeId) found.push_back(referrer);
    });
    return found;
}

QReferenceObject* QReferenceObject::FindReferrerByType(std::int32_t wantedTypeId,
                                                       std::int32_t k) const {
    QReferenceObject* found = nullptr;
    std::int32_t matchCount = 0;
    referrers[0].ForEach([&](QReferenceObject* referrer) {
        if (k >= 1 && matchCount >= k) return;
        if (!referrer->alive || referrer->typeId != wantedTypeId) return;
        ++matchCount;
        found = referrer;
    });
    if (k >= 1 && matchCount < k) return nullptr;
    return found;
}

bool QReferenceObject::IsRegisteredOn(const QReferenceObject* target, std::int32_t set) const {
    return target->referrers[set != 0 ? 1 : 0].Contains(this);
}

bool QReferenceObject::IsDetachedFrom(const QReferenceObject* target) const {
    return detached.Contains(target);
}
