#pragma once

// Private-heap arrays of the scene geometry and the indexes it keeps (octree, surface table):
// zero-filled allocation and growth that keeps the contents. Sizes are checked in size_t and
// a count no block can hold is refused as the heap refuses.

#include "core/private_block.h"
#include "core/private_heap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// A zero-filled private-heap array of count elements, none for 0. Throws
// KVOutOfMemoryException.
template <typename T>
PrivateBlockPtr<T> NewArray(std::size_t count) {
    if (count == 0) return {};
    if (count > UINT32_MAX / sizeof(T)) ThrowOutOfMemory();
    return PrivateAllocBlock<T>(static_cast<std::uint32_t>(count));
}

// Grows block from oldCount to newCount elements in place or by moving it, keeping its
// contents and zeroing the new ones; a null block is allocated. Throws
// KVOutOfMemoryException and leaves block as it was when the heap refuses.
template <typename T>
void GrowArray(PrivateBlockPtr<T>& block, std::size_t oldCount, std::size_t newCount) {
    if (newCount == 0 || (newCount <= oldCount && block != nullptr)) return;
    if (newCount > UINT32_MAX / sizeof(T)) ThrowOutOfMemory();
    const std::size_t kept = block != nullptr ? std::min(oldCount, newCount) : 0;
    void* raw = block.get();
    PrivateRealloc(&raw, static_cast<std::uint32_t>(newCount * sizeof(T)));
    (void)block.release();  // moved or grown: raw holds it now
    block.reset(static_cast<T*>(raw));
    std::memset(static_cast<void*>(block.get() + kept), 0, (newCount - kept) * sizeof(T));
}
