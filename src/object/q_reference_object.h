#pragma once

// QReferenceObject is the base of every model class. It gives each object a type id by which
// receivers tell senders apart, two sets of referrers that hear its broadcasts, and an
// existence history so that an undoably deleted object stays in memory, not alive, while an
// undo step could still bring it back.
//
// Observation is one-way: a target keeps the objects registered on it, and a referrer keeps
// only its detached set (the targets that were deleted undoably while it was registered on
// them). Beside that the base keeps, out of sight of the subclasses, the list of targets each
// object is registered on. It exists so that destruction can never leave a pointer to freed
// memory behind, whatever a subclass destructor forgets:
// - a dying object unregisters from every target it is still registered on, and
// - a dying object removes itself from every referrer still registered on it and calls that
//   referrer's OnTargetDestroyed. This matters for an object that was deleted undoably: its
//   referrers heard message 1 and get no message 0 when the undo history destroys it later.
//
// Broadcasts deliver on a snapshot of the referrer sets and check each referrer again before
// delivery, so handlers may register, unregister, create and delete other objects while a
// broadcast runs. A handler must not delete the sender of the running broadcast; doing so
// stops the process with a check failure instead of touching freed memory. The auto-delete
// rule waits until the target's running broadcasts have finished.
//
// Everything runs on the one GUI thread. Allocation failures raise std::bad_alloc from the
// containers.

#include "object/reference_set.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// Type ids of the model classes.
inline constexpr std::int32_t TypeIdPlain = 0;  // plain objects, weak references, mouse-action bases
inline constexpr std::int32_t TypeIdObject = 1;
inline constexpr std::int32_t TypeIdObjects = 2;
inline constexpr std::int32_t TypeIdLight = 3;
inline constexpr std::int32_t TypeIdLights = 4;
inline constexpr std::int32_t TypeIdMouseAction = 5;
inline constexpr std::int32_t TypeIdTexture = 6;
inline constexpr std::int32_t TypeIdBot = 7;
inline constexpr std::int32_t TypeIdGroup = 8;
inline constexpr std::int32_t TypeIdGroups = 9;
inline constexpr std::int32_t TypeIdTextureImage = 10;
inline constexpr std::int32_t TypeIdTextureList = 11;
inline constexpr std::int32_t TypeIdBotList = 12;
inline constexpr std::int32_t TypeIdDocument = 13;
inline constexpr std::int32_t TypeIdUndoState = 14;
inline constexpr std::int32_t TypeIdAnimationSettings = 17;
inline constexpr std::int32_t TypeIdObjTexContainer = 19;

// Messages between model objects. Message 0 is broadcast only by destructors.
inline constexpr std::int32_t MessageDestroyed = 0;
inline constexpr std::int32_t MessageDeleted = 1;   // deleted undoably, still in memory
inline constexpr std::int32_t MessageRestored = 2;
inline constexpr std::int32_t MessageBecameCurrent = 3;
inline constexpr std::int32_t MessageStoppedCurrent = 4;
inline constexpr std::int32_t MessageChanged = 7;  // the argument says what changed

// Entries of the state history.
inline constexpr std::uint16_t HistoryExists = 1;
inline constexpr std::uint16_t HistoryDeleted = 0xFFFF;

class UndoHistory;

class QReferenceObject {
public:
    // Type id 0, auto-delete off, alive, empty histories and sets.
    QReferenceObject();
    QReferenceObject& operator=(const QReferenceObject&) = delete;

    // Returns a new plain object with this one's type id and auto-delete flag, alive, with
    // empty histories and sets. Never a subclass.
    virtual std::unique_ptr<QReferenceObject> Clone() const;

    // Unregisters from the detached targets first, then from any other target still held,
    // and detaches every referrer still registered (see the file comment). Deleting the
    // sender of a running broadcast fails a check.
    virtual ~QReferenceObject();

    // Called on the sender before and after delivery; empty.
    virtual void OnBeforeBroadcast(std::int32_t message, std::int32_t a, QReferenceObject* payload);
    virtual void OnAfterBroadcast(std::int32_t message, std::int32_t a, QReferenceObject* payload);

    // Returns true.
    virtual bool Accepts(const void* argument);

    // Receives a broadcast of a target this object is registered on; empty. The payload
    // belongs to the broadcast and dies after delivery.
    virtual void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                               QReferenceObject* sender);

    // Records an undoable deletion in the current undo history: appends a deletion entry and
    // this object to the history's change list, clears alive and broadcasts message 1. From
    // then on the undo history owns the object and destroys it when the entry is forgotten.
    // Does nothing without a current history or when the object is not alive.
    virtual void MarkDeleted();

    // Empties the state history and the undo-step history.
    virtual void ClearHistory();

    // Registers referrer on target: in set 1 when set is non-zero, else set 0. A null
    // referrer does nothing; registering twice keeps one entry. Target must not be null.
    static void AddReference(QReferenceObject* target, QReferenceObject* referrer,
                             std::int32_t set);

    // Unregisters referrer from target's set 1 (non-zero set) or set 0 and drops target from
    // the referrer's detached set. When target is auto-delete and no referrer is left in
    // either set, target is deleted (once its running broadcasts are over). Unregistering an
    // object that is not registered changes nothing.
    static void RemoveReference(QReferenceObject* target, QReferenceObject* referrer,
                                std::int32_t set);

    // Delivers the message to every referrer of set 0, then of set 1, each in registration
    // order, between OnBeforeBroadcast and OnAfterBroadcast; the payload is deleted
    // afterwards. Referrers unregistered meanwhile are skipped, referrers registered
    // meanwhile hear nothing. Message 1 adds the sender to each referrer's detached set,
    // messages 0 and 2 remove it; message 0 reaches nobody when the sender is not alive.
    static void Broadcast(QReferenceObject* sender, std::int32_t message, std::int32_t a,
                          std::unique_ptr<QReferenceObject> payload = nullptr);

    // Records a creation in the current undo history (an existence entry and this object in
    // its change list) and sets alive; broadcasts nothing. Does nothing without a current
    // history.
    void MarkCreated();

    // True when alive and the newest state-history entry says the object exists.
    bool IsPresent() const;

    // The alive referrers of set 0 with the given type id, in registration order.
    std::vector<QReferenceObject*> CollectReferrersByType(std::int32_t typeId) const;

    // The k-th (from 1) alive referrer of set 0 with the given type id; the last one when k is
    // below 1; null when there are fewer than k, or none.
    QReferenceObject* FindReferrerByType(std::int32_t typeId, std::int32_t k) const;

    // The class of the object, one of the TypeId constants.
    std::int32_t TypeId() const { return typeId; }

    // False from an undoable deletion until the object is created again.
    bool IsAlive() const { return alive; }

    // An auto-delete object deletes itself when its last referrer unregisters.
    bool IsAutoDelete() const { return autoDelete; }
    void SetAutoDelete(bool on) { autoDelete = on; }

    // The existence entries (HistoryExists, HistoryDeleted), oldest first, and the age in
    // steps of each, in parallel.
    const std::deque<std::uint16_t>& StateHistory() const { return stateHistory; }
    const std::deque<std::int32_t>& UndoStepHistory() const { return undoStepHistory; }

    // True when this object is registered on target in the given set (0 or non-zero).
    bool IsRegisteredOn(const QReferenceObject* target, std::int32_t set) const;

    // True when target was deleted undoably while this object stayed registered on it.
    bool IsDetachedFrom(const QReferenceObject* target) const;

protected:
    // Copies only the type id and the auto-delete flag; the rest starts as when new.
    QReferenceObject(const QReferenceObject& other);

    // Called when a target this object is still registered on is destroyed, after this object
    // has been unregistered from it. Subclasses that keep a pointer to the target drop it
    // here; a deleted target's destruction reaches its referrers only this way. Must not
    // register, unregister or delete objects.
    virtual void OnTargetDestroyed(QReferenceObject* target);

    // Destroys this object by its own rule (auto-delete, or a subclass's rule such as dying
    // with the object it follows). The object is its own owner at that moment: whoever holds
    // it hears message 0 or OnTargetDestroyed and lets go without freeing it (collections
    // through OwnedList::Forget; the undo history drops it from its change list). Must not be
    // called while the object's own broadcast runs (a check fails), nor touch this afterwards.
    void DestroySelf();

    std::int32_t typeId = TypeIdPlain;
    std::deque<std::uint16_t> stateHistory;
    std::deque<std::int32_t> undoStepHistory;

private:
    friend class UndoHistory;

    // Takes referrer out of both of this object's sets and out of the referrer's own lists,
    // then applies the auto-delete rule to this object.
    void DropReferrer(QReferenceObject* referrer);

    // Appends one entry to both histories and this object to the history's change list.
    void RecordExistence(UndoHistory& history, std::uint16_t entry);

    // Deletes this object when it is auto-delete, unreferenced and not already dying; waits
    // for the end of its running broadcasts.
    void DeleteIfUnreferenced();

    static void Deliver(QReferenceObject* sender, std::int32_t setIndex,
                        const std::vector<ReferenceSet::Entry>& snapshot, std::int32_t message,
                        std::int32_t a, QReferenceObject* payload);

    bool autoDelete = false;
    std::int32_t historyCursor = 0;  // used while an undo history ages the histories
    bool alive = true;
    ReferenceSet detached;
    ReferenceSet referrers[2];

    ReferenceSet registrations;   // targets this object is registered on, in either set
    std::int32_t broadcastDepth = 0;   // broadcasts of this object in progress
    bool isDying = false;              // message 0 sent or destructor running
    bool deleteAfterBroadcast = false;
    std::int32_t changeListCount = 0;  // occurrences in undo histories' change lists
};
