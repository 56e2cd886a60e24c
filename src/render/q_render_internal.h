#pragma once

// Allocation helpers shared by the renderer's own files: sizes in size_t, checked, and blocks
// zero-filled from the private heap.

#include "core/private_block.h"
#include "core/private_heap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace render_internal {

// a x b; a product that does not fit throws KVOutOfMemoryException like a refusal.
inline std::size_t CheckedProduct(std::size_t a, std::size_t b) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) ThrowOutOfMemory();
    return a * b;
}

// count zero-filled elements from the private heap; a size past what one block can hold
// throws KVOutOfMemoryException like a refusal.
template <typename T>
PrivateBlockPtr<T> AllocateZeroed(std::size_t count) {
    const std::size_t bytes = CheckedProduct(std::max<std::size_t>(count, 1), sizeof(T));
    if (bytes > std::numeric_limits<std::uint32_t>::max()) ThrowOutOfMemory();
    return PrivateBlockPtr<T>(
        static_cast<T*>(PrivateAllocZeroed(static_cast<std::uint32_t>(bytes))));
}

}  // namespace render_internal
