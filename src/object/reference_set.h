#pragma once

// An insertion-ordered set of model-object pointers: the referrer sets, the detached set and
// the registration list of a QReferenceObject. Iteration follows insertion order, so the
// order in which referrers hear a broadcast, the "first member" that later code picks and the
// order in which files are written repeat exactly from run to run; the hash index serves only
// membership tests and never decides an order.
//
// Every insertion is stamped with a process-wide serial. A broadcast snapshots (pointer,
// serial) pairs and delivers only to entries that are still present with the same serial, so
// an object freed during the broadcast and replaced by a new one at the same address is not
// mistaken for the old referrer.
//
// Erasing leaves a hole that iteration skips; holes are squeezed out once they outnumber the
// members. Allocation failures raise std::bad_alloc from the containers.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

class QReferenceObject;

class ReferenceSet {
public:
    // One member with the serial of its insertion.
    struct Entry {
        QReferenceObject* object = nullptr;
        std::uint64_t serial = 0;
    };

    ReferenceSet() = default;
    ReferenceSet(const ReferenceSet&) = delete;
    ReferenceSet& operator=(const ReferenceSet&) = delete;

    // Appends the object; returns false (and keeps the old entry) when it is already present.
    bool Insert(QReferenceObject* object);

    // Removes the object; returns false when it was not present.
    bool Erase(QReferenceObject* object);

    // True when object is a member.
    bool Contains(const QReferenceObject* object) const;

    // True when the entry's object is present and was inserted by the same insertion.
    bool ContainsEntry(const Entry& entry) const;

    bool IsEmpty() const { return memberCount == 0; }
    std::size_t Count() const { return memberCount; }

    // The oldest member, or null when the set is empty.
    QReferenceObject* First() const;

    // The members with their serials, in insertion order; replaces the contents of out.
    void Snapshot(std::vector<Entry>& out) const;

    // The members in insertion order.
    std::vector<QReferenceObject*> Members() const;

    // Calls fn(object) for each member in insertion order. fn must not change this set.
    template <typename Fn>
    void ForEach(Fn&& fn) const {
        for (const Entry& entry : entries) {
            if (entry.object != nullptr) fn(entry.object);
        }
    }

    // Removes every member.
    void Clear();

private:
    void Squeeze();

    std::vector<Entry> entries;
    std::unordered_map<const QReferenceObject*, std::size_t> indexOf;
    std::size_t memberCount = 0;
    std::size_t frontIndex = 0;  // no member stands before this index
};
