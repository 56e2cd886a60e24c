#pragma once

// The private heap: bulk memory of the model, renderer and texture code (render buffers,
// part data, texture pyramids, thumbnails, undo snapshots). It is created once at start-up
// and destroyed as a whole at exit, so blocks still held then need no release of their own.
// Blocks of up to 256 bytes come from slots the heap pools by size; larger ones are C-heap
// blocks of their own.
//
// Allocation failure is never a null result: it throws KVOutOfMemoryException. For tests
// the heap has a byte ceiling and can be told to refuse the next N requests, so every
// out-of-memory path can be driven.
//
// Standard containers allocate from the C heap and report exhaustion with std::bad_alloc.
// The system's out-of-memory catch sites (scene-file loading, the command dispatcher, the
// off-screen renders) catch std::bad_alloc beside KVOutOfMemoryException and treat the two
// alike; code between those sites lets either pass. TranslateBadAlloc turns one into the
// other where a function is defined to throw only KVOutOfMemoryException.
//
// The process has one thread, so the heap takes no lock.

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

// Thrown on allocation failure. A plain record of one message buffer, copied bitwise; every
// throw in the system leaves the message empty and no catcher reads it.
struct KVOutOfMemoryException {
    char message[1024] = {};
};
static_assert(sizeof(KVOutOfMemoryException) == 1024);

// Throws a KVOutOfMemoryException with an empty message.
[[noreturn]] void ThrowOutOfMemory();

// Runs fn and rethrows a std::bad_alloc from it as KVOutOfMemoryException.
template <typename Fn>
decltype(auto) TranslateBadAlloc(Fn&& fn) {
    try {
        return std::forward<Fn>(fn)();
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
}

// Allocates size bytes (contents undefined). A refused request compacts the heap and is tried
// once more; a second refusal throws KVOutOfMemoryException. Never returns null.
void* PrivateAlloc(std::uint32_t size);

// Allocates size zero-filled bytes in one request, without the compaction retry; throws
// KVOutOfMemoryException when refused.
void* PrivateAllocZeroed(std::uint32_t size);

// Returns a block to the heap; null is ignored.
void PrivateFree(void* block);

// Resizes *block (it may move; a grown part is not zeroed). On success stores the new address
// in *block and returns it; on refusal throws KVOutOfMemoryException and leaves *block and
// the old block untouched. A null *block allocates.
void* PrivateRealloc(void** block, std::uint32_t size);

// The same resize for a caller that keeps the address itself: returns the new address, throws
// KVOutOfMemoryException on refusal (the old block stays valid).
void* PrivateReallocPtr(void* block, std::uint32_t size);

// Frees every non-null block the vector holds and empties it (its storage stays).
void FreePointerVector(std::vector<void*>& blocks);

// Creates the heap (start-up). Creating an existing heap does nothing.
void PrivateHeapCreate();

// Releases the heap and every block still in it (exit). Nothing may touch a block afterwards.
void PrivateHeapDestroy();

// The compaction step of a refused PrivateAlloc. The C heap compacts itself, so this only
// returns its unused memory to the system; pooled slots stay with the heap until it is
// destroyed.
void PrivateHeapCompact();

// Test controls: a ceiling on the bytes held at once (0 = none), and a number of coming
// requests to refuse whatever their size. Refusals count every request: allocate, zeroed
// allocate and resize.
void PrivateHeapSetCeiling(std::size_t bytes);
void PrivateHeapRefuseNext(int requestCount);

// The total the first request the ceiling refused since it was last set would have brought
// the heap to (0 when none was refused): the lowest ceiling that lets that request through, so
// a test that raises the ceiling step by step can go straight to the next point of refusal.
std::size_t PrivateHeapFirstRefusedTotal();

// Bytes and blocks currently held, for leak checks.
std::size_t PrivateHeapBytesInUse();
std::size_t PrivateHeapBlockCount();
