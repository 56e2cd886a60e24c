#include "core/id_set.h"

#include "core/private_heap.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

std::int32_t* AllocBlock(std::int32_t capacity) {
    auto* block = static_cast<std::int32_t*>(
        std::malloc((static_cast<std::size_t>(capacity) + 1) * sizeof(std::int32_t)));
    if (block == nullptr) ThrowOutOfMemory();
    return block;
}

const std::int32_t* FindId(const std::int32_t* ids, std::int32_t count, std::int32_t id) {
    return static_cast<const std::int32_t*>(
        std::bsearch(&id, ids, static_cast<std::size_t>(count), sizeof(std::int32_t), CompareIds));
}

}  // namespace

int CompareIds(const void* a, const void* b) {
    const std::int32_t x = *static_cast<const std::int32_t*>(a);
    const std::int32_t y = *static_cast<const std::int32_t*>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

IdSet::IdSet() : block(AllocBlock(100)) { block[0] = 0; }

IdSet::IdSet(const IdSet& other)
    : block(AllocBlock(other.capacity)), growthStep(other.growthStep), capacity(other.capacity) {
    std::memcpy(block, other.block,
                (static_cast<std::size_t>(other.block[0]) + 1) * sizeof(std::int32_t));
}

IdSet& IdSet::operator=(const IdSet& other) {
    // Copied aside first, so a refused allocation leaves this set as it was.
    if (this != &other) {
        IdSet copy(other);
        std::swap(block, copy.block);
        growthStep = copy.growthStep;
        capacity = copy.capacity;
    }
    return *this;
}

IdSet::~IdSet() { std::free(block); }

void IdSet::Insert(std::int32_t id) {
    const std::int32_t count = block[0];
    std::int32_t index = 0;  // position among the ids (0-based) where the new id goes
    if (count == 0 || id < block[1]) {
        index = 0;
    } else if (id > block[count]) {
        index = count;
    } else if (id == block[1] || id == block[count]) {
        return;
    } else {
        // block[lo] < id < block[hi] in word indices; the id goes right after word lo.
        std::int32_t lo = 1;
        std::int32_t hi = count;
        while (hi - lo >= 2) {
            const std::int32_t mid = (lo + hi) / 2;
            if (id < block[mid]) {
                hi = mid;
            } else if (id == block[mid]) {
                return;
            } else {
                lo = mid;
            }
        }
        index = lo;
    }

    if (count == capacity) {
        const std::int32_t grown = capacity + growthStep;
        void* moved = std::realloc(block, (static_cast<std::size_t>(grown) + 1) * sizeof(std::int32_t));
        if (moved == nullptr) ThrowOutOfMemory();
        block = static_cast<std::int32_t*>(moved);
        capacity = grown;
    }
    std::int32_t* ids = block + 1;
    std::memmove(ids + index + 1, ids + index,
                 static_cast<std::size_t>(count - index) * sizeof(std::int32_t));
    ids[index] = id;
    block[0] = count + 1;
}

bool IdSet::Contains(std::int32_t id) const {
    return FindId(block + 1, block[0], id) != nullptr;
}

IdSet IdSet::Difference(const IdSet& other) const {
    // -1 is the marker of a removed entry in the difference's scratch copy, so an id of -1
    // never reaches the result.
    IdSet result;
    for (std::int32_t id : Ids()) {
        if (id != -1 && !other.Contains(id)) result.Insert(id);
    }
    return result;
}

bool IdSet::operator!=(const IdSet& other) const {
    if (block[0] != other.block[0]) return true;
    return std::memcmp(block + 1, other.block + 1,
                       static_cast<std::size_t>(block[0]) * sizeof(std::int32_t)) != 0;
}

void IdSetRemove(IdSet& set, std::int32_t id) {
    std::int32_t* ids = set.block + 1;
    const std::int32_t count = set.block[0];
    const std::int32_t* found = FindId(ids, count, id);
    if (found == nullptr) return;
    const std::int32_t index = static_cast<std::int32_t>(found - ids);
    std::memmove(ids + index, ids + index + 1,
                 static_cast<std::size_t>(count - index - 1) * sizeof(std::int32_t));
    set.block[0] = count - 1;
}
