#include "object/reference_set.h"

namespace {

std::uint64_t NextSerial() {
    static std::uint64_t serial = 0;
    return ++serial;
}

}  // namespace

bool ReferenceSet::Insert(QReferenceObject* object) {
    if (indexOf.contains(object)) return false;
    entries.push_back(Entry{object, NextSerial()});
    indexOf.emplace(object, entries.size() - 1);
    ++memberCount;
    return true;
}

bool ReferenceSet::Erase(QReferenceObject* object) {
    auto found = indexOf.find(object);
    if (found == indexOf.end()) return false;
    entries[found->second] = Entry{};
    indexOf.erase(found);
    --memberCount;
    while (frontIndex < entries.size() && entries[frontIndex].object == nullptr) ++frontIndex;
    const std::size_t holeCount = entries.size() - memberCount;
    if (memberCount == 0) {
        entries.clear();
        frontIndex = 0;
    } else if (holeCount > memberCount && holeCount > 8) {
        Squeeze();
    }
    return true;
}

bool ReferenceSet::Contains(const QReferenceObject* object) const {
    return indexOf.contains(object);
}

bool ReferenceSet::ContainsEntry(const Entry& entry) const {
    auto found = indexOf.find(entry.object);
    return found != indexOf.end() && entries[found->second].serial == entry.serial;
}

QReferenceObject* ReferenceSet::First() const {
    return memberCount == 0 ? nullptr : entries[frontIndex].object;
}

void ReferenceSet::Snapshot(std::vector<Entry>& out) const {
    out.clear();
    out.reserve(memberCount);
    for (const Entry& entry : entries) {
        if (entry.object != nullptr) out.push_back(entry);
    }
}

std::vector<QReferenceObject*> ReferenceSet::Members() const {
    std::vector<QReferenceObject*> members;
    members.reserve(memberCount);
    ForEach([&](QReferenceObject* object) { members.push_back(object); });
    return members;
}

void ReferenceSet::Clear() {
    entries.clear();
    indexOf.clear();
    memberCount = 0;
    frontIndex = 0;
}

void ReferenceSet::Squeeze() {
    std::size_t kept = 0;
    for (const Entry& entry : entries) {
        if (entry.object == nullptr) continue;
        entries[kept] = entry;
        indexOf[entry.object] = kept;
        ++kept;
    }
    entries.resize(kept);
    frontIndex = 0;
}
