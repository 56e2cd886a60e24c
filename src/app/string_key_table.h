#pragma once

// A small open-addressing hash table keyed by strings: the player finds a sound's voices by
// the sound file's path in it. Slots are probed linearly from HashKey(key) modulo the slot
// count, visiting each slot at most once; an empty slot ends a search. A removed key leaves
// a removal mark in its slot, which searches pass over and an insertion of a key that is not
// present reuses (the last mark passed). The table starts with 64 slots and doubles, before
// an insertion, once it holds more than half as many live keys as slots; growing re-places
// the live entries and drops the marks.
//
// Values are typed: the table keeps them as they are, never as text standing for them.

#include "core/check.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The 32-bit hash of the key's bytes: the lookup2 mix of Bob Jenkins's hash (initial value
// 0, golden-ratio constant 0x9e3779b9, 12-byte blocks read as little-endian words); the
// result is the third state word.
std::uint32_t HashKey(std::string_view key);

template <typename Value>
class StringKeyTable {
public:
    StringKeyTable() : slots(InitialSize) {}

    // The key's value, or null when the key is absent.
    Value* HashFind(std::string_view key) {
        const Probe probe = ProbeFor(key);
        return probe.match ? &slots[*probe.match]->value : nullptr;
    }

    // Inserts the key with the value, or replaces the value of a key already present.
    void HashSet(std::string_view key, Value value) {
        if (count > size() / 2) Grow();
        auto entry = std::make_unique<Entry>(Entry{std::string(key), std::move(value), false});
        const Probe probe = ProbeFor(key);
        const std::optional<std::size_t> target = probe.match ? probe.match : probe.free;
        // Growth keeps live keys at most half the slots, so a free slot always exists.
        ORBELLE_CHECK(target.has_value());
        slots[*target] = std::move(entry);
        if (!probe.match) ++count;
    }

    // Removes the key, leaving a removal mark in its slot. False when it was absent.
    bool HashRemove(std::string_view key) {
        const Probe probe = ProbeFor(key);
        if (!probe.match) return false;
        slots[*probe.match]->isRemoved = true;
        --count;
        return true;
    }

    // The slot that holds the key, or none when absent.
    std::optional<std::size_t> SlotOf(std::string_view key) const { return ProbeFor(key).match; }

    // Slots, and live keys.
    std::size_t Size() const { return size(); }
    std::size_t Count() const { return count; }

    // Calls fn(key, value) for every live key in slot order.
    template <typename Fn>
    void ForEach(Fn fn) {
        for (auto& slot : slots) {
            if (slot && !slot->isRemoved) fn(std::string_view(slot->key), slot->value);
        }
    }

private:
    static constexpr std::size_t InitialSize = 64;

    struct Entry {
        std::string key;
        Value value;
        bool isRemoved = false;
    };

    struct Probe {
        std::optional<std::size_t> match;  // the live entry of the key
        std::optional<std::size_t> free;   // the last mark passed, else the empty slot reached
    };

    std::size_t size() const { return slots.size(); }

    Probe ProbeFor(std::string_view key) const {
        Probe probe;
        std::size_t index = HashKey(key) % size();
        for (std::size_t visited = 0; visited < size(); ++visited) {
            const std::unique_ptr<Entry>& slot = slots[index];
            if (!slot) {
                if (!probe.free) probe.free = index;
                return probe;
            }
            if (slot->isRemoved) {
                probe.free = index;
            } else if (slot->key == key) {
                probe.match = index;
                return probe;
            }
            index = (index + 1) % size();
        }
        return probe;
    }

    void Grow() {
        std::vector<std::unique_ptr<Entry>> old(size() * 2);
        old.swap(slots);
        count = 0;
        for (std::unique_ptr<Entry>& entry : old) {
            if (!entry || entry->isRemoved) continue;
            std::size_t index = HashKey(entry->key) % size();
            while (slots[index]) index = (index + 1) % size();
            slots[index] = std::move(entry);
            ++count;
        }
    }

    std::vector<std::unique_ptr<Entry>> slots;
    std::size_t count = 0;
};

// The table of string values.
using StringTable = StringKeyTable<std::string>;
