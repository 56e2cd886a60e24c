#include "core/private_heap.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace {

// Every block carries a 32-byte header that links it into the heap's list of live blocks,
// so that destroying the heap releases them all and the heap can count what it holds.
// 32 bytes keep the caller's part 16-byte aligned, as malloc's is.
struct BlockHeader {
    BlockHeader* prev = nullptr;
    BlockHeader* next = nullptr;
    std::size_t size = 0;
    std::size_t pad = 0;
};
static_assert(sizeof(BlockHeader) == 32);

struct HeapState {
    BlockHeader* first = nullptr;  // doubly linked list of live blocks, newest first
    std::size_t bytesInUse = 0;
    std::size_t blockCount = 0;
    std::size_t ceiling = 0;
    int refuseCount = 0;
};

constinit HeapState gHeap;

HeapState& Heap() { return gHeap; }

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void Link(HeapState& heap, BlockHeader* h, std::size_t size) {
    h->size = size;
    h->prev = nullptr;
    h->next = heap.first;
    if (heap.first != nullptr) heap.first->prev = h;
    heap.first = h;
    heap.bytesInUse += size;
    ++heap.blockCount;
}

void Unlink(HeapState& heap, BlockHeader* h) {
    if (h->prev != nullptr) {
        h->prev->next = h->next;
    } else {
        heap.first = h->next;
    }
    if (h->next != nullptr) h->next->prev = h->prev;
    heap.bytesInUse -= h->size;
    --heap.blockCount;
}

// Whether a request that would leave the heap holding `newTotal` bytes is refused.
bool Refuses(HeapState& heap, std::size_t newTotal) {
    if (heap.refuseCount > 0) {
        --heap.refuseCount;
        return true;
    }
    return heap.ceiling != 0 && newTotal > heap.ceiling;
}

// One request to the heap: a block of `size` bytes, or null when refused.
void* TryAlloc(std::uint32_t size, bool zeroed) {
    HeapState& heap = Heap();
    if (Refuses(heap, heap.bytesInUse + size)) return nullptr;
    void* raw = zeroed ? std::calloc(1, sizeof(BlockHeader) + size)
                       : std::malloc(sizeof(BlockHeader) + size);
    if (raw == nullptr) return nullptr;
    auto* h = static_cast<BlockHeader*>(raw);
    Link(heap, h, size);
    return h + 1;
}

// One resize request: the new address, or null when refused (the old block stays).
void* TryRealloc(void* block, std::uint32_t size) {
    if (block == nullptr) return TryAlloc(size, false);
    HeapState& heap = Heap();
    BlockHeader* old = HeaderOf(block);
    if (Refuses(heap, heap.bytesInUse - old->size + size)) return nullptr;
    // Unlink first: realloc may move the header, and the list must never point at freed memory.
    Unlink(heap, old);
    void* raw = std::realloc(old, sizeof(BlockHeader) + size);
    if (raw == nullptr) {
        Link(heap, old, old->size);
        return nullptr;
    }
    auto* h = static_cast<BlockHeader*>(raw);
    Link(heap, h, size);
    return h + 1;
}

}  // namespace

void ThrowOutOfMemory() { throw KVOutOfMemoryException{}; }

void* PrivateAlloc(std::uint32_t size) {
    if (void* block = TryAlloc(size, false)) return block;
    PrivateHeapCompact();
    if (void* block = TryAlloc(size, false)) return block;
    ThrowOutOfMemory();
}

void* PrivateAllocZeroed(std::uint32_t size) {
    if (void* block = TryAlloc(size, true)) return block;
    ThrowOutOfMemory();
}

void PrivateFree(void* block) {
    if (block == nullptr) return;
    BlockHeader* h = HeaderOf(block);
    Unlink(Heap(), h);
    std::free(h);
}

void* PrivateRealloc(void** block, std::uint32_t size) {
    void* moved = TryRealloc(*block, size);
    if (moved == nullptr) ThrowOutOfMemory();
    *block = moved;
    return moved;
}

void* PrivateReallocPtr(void* block, std::uint32_t size) {
    void* moved = TryRealloc(block, size);
    if (moved == nullptr) ThrowOutOfMemory();
    return moved;
}

void FreePointerVector(std::vector<void*>& blocks) {
    for (void* block : blocks) PrivateFree(block);
    blocks.clear();
}

void PrivateHeapCreate() {
    // The C heap underneath needs no creation; the ceiling and refusals start cleared.
    gHeap.ceiling = 0;
    gHeap.refuseCount = 0;
}

void PrivateHeapDestroy() {
    HeapState& heap = Heap();
    BlockHeader* h = heap.first;
    while (h != nullptr) {
        BlockHeader* next = h->next;
        std::free(h);
        h = next;
    }
    heap.first = nullptr;
    heap.bytesInUse = 0;
    heap.blockCount = 0;
}

void PrivateHeapCompact() { malloc_trim(0); }

void PrivateHeapSetCeiling(std::size_t bytes) { Heap().ceiling = bytes; }

void PrivateHeapRefuseNext(int requestCount) { Heap().refuseCount = requestCount; }

std::size_t PrivateHeapBytesInUse() { return Heap().bytesInUse; }

std::size_t PrivateHeapBlockCount() { return Heap().blockCount; }
