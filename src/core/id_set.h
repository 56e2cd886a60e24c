#pragma once

// A set of 32-bit ids (part ids of scene objects and the like) held as one ascending,
// duplicate-free array with its count in front. The whole count-prefixed block is what the
// renderer's frame-render operation takes as its list of part ids.
//
// The block lives on the C heap. Growth that the C heap refuses throws
// KVOutOfMemoryException.

#include <cstdint>
#include <span>

class IdSet {
public:
    // An empty set: growth step 100, capacity 100 (a block of 101 words).
    IdSet();
    IdSet(const IdSet& other);
    IdSet& operator=(const IdSet& other);
    ~IdSet();

    // Adds the id in order; an id already present leaves the set unchanged.
    void Insert(std::int32_t id);

    // The ids of this set that are not in the other (an id of -1 is never in a difference).
    IdSet Difference(const IdSet& other) const;

    // True when the counts differ or any id differs position by position.
    bool operator!=(const IdSet& other) const;
    bool operator==(const IdSet& other) const { return !(*this != other); }

    // True when id is in the set.
    bool Contains(std::int32_t id) const;

    // The count, the capacity and the growth step; operator[] gives the index-th id in
    // ascending order, for an index below Count() (not checked).
    std::int32_t Count() const { return block[0]; }
    std::int32_t Capacity() const { return capacity; }
    std::int32_t GrowthStep() const { return growthStep; }
    std::int32_t operator[](std::int32_t index) const { return block[index + 1]; }
    std::span<const std::int32_t> Ids() const {
        return {block + 1, static_cast<std::size_t>(block[0])};
    }

    // The count-prefixed block: word 0 the count, then the ids.
    const std::int32_t* Block() const { return block; }

private:
    friend void IdSetRemove(IdSet& set, std::int32_t id);

    std::int32_t* block = nullptr;
    std::int32_t growthStep = 100;
    std::int32_t capacity = 100;
};

// Removes the id if present; the capacity never shrinks.
void IdSetRemove(IdSet& set, std::int32_t id);

// Comparison for binary search over ids: -1, 0 or 1 by signed value.
int CompareIds(const void* a, const void* b);
