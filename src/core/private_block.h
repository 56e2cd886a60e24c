#pragma once

// The one owner of private-heap blocks: an owning pointer released with PrivateFree. Members
// and locals that hold private-heap blocks use it, so that a constructor or a routine that
// throws half-way frees what it had already taken. Records whose layout keeps several blocks
// behind plain pointers (pyramid levels, map arrays) free them in their own destructor with
// PrivateFreeAndClear.

#include "core/check.h"
#include "core/private_heap.h"

#include <cstdint>
#include <memory>

struct PrivateFreeDeleter {
    void operator()(void* block) const { PrivateFree(block); }
};

template <typename T>
using PrivateBlockPtr = std::unique_ptr<T, PrivateFreeDeleter>;

// Allocates count zero-filled elements of T from the private heap; throws
// KVOutOfMemoryException when refused.
template <typename T>
PrivateBlockPtr<T> PrivateAllocBlock(std::uint32_t count) {
    ORBELLE_CHECK(count <= UINT32_MAX / sizeof(T));
    return PrivateBlockPtr<T>(
        static_cast<T*>(PrivateAllocZeroed(static_cast<std::uint32_t>(count * sizeof(T)))));
}

// Frees a private-heap block held behind a plain pointer by its owner record and clears the
// pointer, so that a second release finds nothing to free.
template <typename T>
void PrivateFreeAndClear(T*& block) {
    PrivateFree(block);
    block = nullptr;
}
