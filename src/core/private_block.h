#pragma once

// An owning pointer to a block of the private heap, released with PrivateFree. Members that
// hold private-heap blocks use it so that a constructor that throws half-way frees what it
// had already taken.

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
