#include "core/private_heap.h"

#include "core/check.h"

#include <malloc.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace {

// Blocks of up to SmallLimit bytes come from slots carved out of chunks the heap keeps, one
// free list per size class (16, 32, ..., 256 bytes): taking and returning a slot is a list
// push or pop, cheaper than the C heap's own path. Larger blocks are C-heap blocks of their
// own, linked into a list of live blocks. Destroying the heap releases that list and every
// chunk, so either kind of block still held then needs no release of its own.
//
// Every block is preceded by its tag word: the requested size in the low 32 bits, and for a
// slot its size class + 1 above them and the FreeBit while it sits in a free list; a block of
// its own has class 0. Headers are 16 or 32 bytes, so the caller's part stays 16-byte
// aligned, as malloc's is.
constexpr std::uint32_t ClassStep = 16;
constexpr std::uint32_t SmallLimit = 256;
constexpr std::size_t ClassCount = SmallLimit / ClassStep;
constexpr std::size_t ChunkBytes = 32 * 1024;
constexpr int ClassShift = 32;
constexpr std::uint64_t FreeBit = std::uint64_t{1} << 40;

// A block of its own: 32 bytes.
struct BlockHeader {
    BlockHeader* prev = nullptr;
    BlockHeader* next = nullptr;
    std::uint64_t pad = 0;
    std::uint64_t tag = 0;
};
static_assert(sizeof(BlockHeader) == 32);

// A pooled slot: 16 bytes, then the class's bytes.
struct SlotHeader {
    SlotHeader* nextFree = nullptr;
    std::uint64_t tag = 0;
};
static_assert(sizeof(SlotHeader) == 16);

// A chunk of slots: 16 bytes, then the slots.
struct ChunkHeader {
    ChunkHeader* next = nullptr;
    std::uint64_t pad = 0;
};
static_assert(sizeof(ChunkHeader) == 16);

struct HeapState {
    BlockHeader* first = nullptr;  // doubly linked list of live blocks of their own, newest first
    ChunkHeader* chunks = nullptr;
    std::array<SlotHeader*, ClassCount> freeSlots = {};
    // The class's never-used slots: from fresh to freshEnd in its newest chunk.
    std::array<std::uint8_t*, ClassCount> fresh = {};
    std::array<std::uint8_t*, ClassCount> freshEnd = {};
    std::size_t bytesInUse = 0;
    std::size_t blockCount = 0;
    std::size_t ceiling = 0;
    std::size_t firstRefusedTotal = 0;  // of the ceiling's refusals, since it was set
    int refuseCount = 0;
};

constinit HeapState gHeap;

HeapState& Heap() { return gHeap; }

// Under AddressSanitizer a slot's header, its unused tail and a free slot are poisoned, so
// reaching past a block or into a freed one is reported as it is for C-heap blocks. Elsewhere
// these do nothing.
void Poison(const void* at, std::size_t bytes) { ASAN_POISON_MEMORY_REGION(at, bytes); }
void Unpoison(const void* at, std::size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(at, bytes); }

std::uint32_t SizeOfTag(std::uint64_t tag) { return static_cast<std::uint32_t>(tag); }

// The size class + 1 of a slot, 0 for a block of its own.
std::size_t ClassNumberOfTag(std::uint64_t tag) {
    return static_cast<std::size_t>((tag >> ClassShift) & 0xFF);
}

std::uint64_t TagOf(void* block) {
    std::uint64_t* at = static_cast<std::uint64_t*>(block) - 1;
    Unpoison(at, sizeof(*at));
    const std::uint64_t tag = *at;
    if (ClassNumberOfTag(tag) != 0) Poison(at, sizeof(*at));
    return tag;
}

std::size_t ClassIndex(std::uint32_t size) { return size == 0 ? 0 : (size - 1) / ClassStep; }

std::size_t SlotBytes(std::size_t classIndex) {
    return sizeof(SlotHeader) + (classIndex + 1) * ClassStep;
}

// Whether a request that would leave the heap holding `newTotal` bytes is refused.
bool Refuses(HeapState& heap, std::size_t newTotal) {
    if (heap.refuseCount > 0) {
        --heap.refuseCount;
        return true;
    }
    if (heap.ceiling == 0 || newTotal <= heap.ceiling) return false;
    if (heap.firstRefusedTotal == 0) heap.firstRefusedTotal = newTotal;
    return true;
}

void Link(HeapState& heap, BlockHeader* h) {
    h->prev = nullptr;
    h->next = heap.first;
    if (heap.first != nullptr) heap.first->prev = h;
    heap.first = h;
}

void Unlink(HeapState& heap, BlockHeader* h) {
    if (h->prev != nullptr) {
        h->prev->next = h->next;
    } else {
        heap.first = h->next;
    }
    if (h->next != nullptr) h->next->prev = h->prev;
}

// A slot of the class, or null when a new chunk is refused.
SlotHeader* TakeSlot(HeapState& heap, std::size_t classIndex) {
    if (SlotHeader* slot = heap.freeSlots[classIndex]) {
        Unpoison(slot, sizeof(SlotHeader));
        heap.freeSlots[classIndex] = slot->nextFree;
        return slot;
    }
    const std::size_t slotBytes = SlotBytes(classIndex);
    if (heap.fresh[classIndex] == heap.freshEnd[classIndex]) {
        auto* chunk = static_cast<ChunkHeader*>(std::malloc(ChunkBytes));
        if (chunk == nullptr) return nullptr;
        chunk->next = heap.chunks;
        heap.chunks = chunk;
        auto* start = reinterpret_cast<std::uint8_t*>(chunk + 1);
        const std::size_t slotCount = (ChunkBytes - sizeof(ChunkHeader)) / slotBytes;
        heap.fresh[classIndex] = start;
        heap.freshEnd[classIndex] = start + slotCount * slotBytes;
        Poison(start, slotCount * slotBytes);
    }
    auto* slot = reinterpret_cast<SlotHeader*>(heap.fresh[classIndex]);
    heap.fresh[classIndex] += slotBytes;
    Unpoison(slot, sizeof(SlotHeader));
    return slot;
}

// One request to the heap: a block of `size` bytes, or null when refused.
void* TryAlloc(std::uint32_t size, bool zeroed) {
    HeapState& heap = Heap();
    if (Refuses(heap, heap.bytesInUse + size)) return nullptr;
    void* block = nullptr;
    if (size <= SmallLimit) {
        const std::size_t classIndex = ClassIndex(size);
        SlotHeader* slot = TakeSlot(heap, classIndex);
        if (slot == nullptr) return nullptr;
        slot->tag = size | (std::uint64_t{classIndex + 1} << ClassShift);
        Poison(slot, sizeof(SlotHeader));
        block = slot + 1;
        Unpoison(block, size);
        if (zeroed) std::memset(block, 0, size);
    } else {
        void* raw = zeroed ? std::calloc(1, sizeof(BlockHeader) + size)
                           : std::malloc(sizeof(BlockHeader) + size);
        if (raw == nullptr) return nullptr;
        auto* h = static_cast<BlockHeader*>(raw);
        h->tag = size;
        Link(heap, h);
        block = h + 1;
    }
    heap.bytesInUse += size;
    ++heap.blockCount;
    return block;
}

void ReleaseBlock(HeapState& heap, void* block) {
    const std::uint64_t tag = TagOf(block);
    const std::size_t classNumber = ClassNumberOfTag(tag);
    if (classNumber != 0) {
        // A slot freed twice would join its free list twice and be handed out to two owners.
        ORBELLE_CHECK((tag & FreeBit) == 0);
        SlotHeader* slot = static_cast<SlotHeader*>(block) - 1;
        Unpoison(slot, sizeof(SlotHeader));
        slot->tag = tag | FreeBit;
        slot->nextFree = heap.freeSlots[classNumber - 1];
        heap.freeSlots[classNumber - 1] = slot;
        Poison(slot, SlotBytes(classNumber - 1));
    } else {
        BlockHeader* h = static_cast<BlockHeader*>(block) - 1;
        Unlink(heap, h);
        std::free(h);
    }
    heap.bytesInUse -= SizeOfTag(tag);
    --heap.blockCount;
}

// One resize request: the new address, or null when refused (the old block stays).
void* TryRealloc(void* block, std::uint32_t size) {
    if (block == nullptr) return TryAlloc(size, false);
    HeapState& heap = Heap();
    const std::uint64_t tag = TagOf(block);
    const std::uint32_t oldSize = SizeOfTag(tag);
    const std::size_t classNumber = ClassNumberOfTag(tag);
    if (classNumber == 0 && size > SmallLimit) {
        if (Refuses(heap, heap.bytesInUse - oldSize + size)) return nullptr;
        BlockHeader* old = static_cast<BlockHeader*>(block) - 1;
        // Unlink first: realloc may move the header, and the list must never point at freed
        // memory.
        Unlink(heap, old);
        void* raw = std::realloc(old, sizeof(BlockHeader) + size);
        if (raw == nullptr) {
            Link(heap, old);
            return nullptr;
        }
        auto* h = static_cast<BlockHeader*>(raw);
        h->tag = size;
        Link(heap, h);
        heap.bytesInUse = heap.bytesInUse - oldSize + size;
        return h + 1;
    }
    if (classNumber != 0 && size <= classNumber * ClassStep) {
        // The slot holds the new size too.
        if (Refuses(heap, heap.bytesInUse - oldSize + size)) return nullptr;
        SlotHeader* slot = static_cast<SlotHeader*>(block) - 1;
        Unpoison(slot, sizeof(SlotHeader));
        slot->tag = size | (std::uint64_t{classNumber} << ClassShift);
        Poison(slot, SlotBytes(classNumber - 1));
        Unpoison(block, size);
        heap.bytesInUse = heap.bytesInUse - oldSize + size;
        return block;
    }
    // Between a slot and a block of its own: a new block, the common part copied. The new
    // block is one request, counted against the ceiling as if the old were already gone.
    heap.bytesInUse -= oldSize;
    void* moved = TryAlloc(size, false);
    heap.bytesInUse += oldSize;
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, std::min(oldSize, size));
    ReleaseBlock(heap, block);
    return moved;
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
    ReleaseBlock(Heap(), block);
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
    gHeap.firstRefusedTotal = 0;
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
    ChunkHeader* chunk = heap.chunks;
    while (chunk != nullptr) {
        ChunkHeader* next = chunk->next;
        // The chunk goes back to the C heap, which must find none of its bytes poisoned.
        Unpoison(chunk, ChunkBytes);
        std::free(chunk);
        chunk = next;
    }
    heap.first = nullptr;
    heap.chunks = nullptr;
    heap.freeSlots = {};
    heap.fresh = {};
    heap.freshEnd = {};
    heap.bytesInUse = 0;
    heap.blockCount = 0;
}

void PrivateHeapCompact() { malloc_trim(0); }

void PrivateHeapSetCeiling(std::size_t bytes) {
    Heap().ceiling = bytes;
    Heap().firstRefusedTotal = 0;
}

void PrivateHeapRefuseNext(int requestCount) { Heap().refuseCount = requestCount; }

std::size_t PrivateHeapFirstRefusedTotal() { return Heap().firstRefusedTotal; }

std::size_t PrivateHeapBytesInUse() { return Heap().bytesInUse; }

std::size_t PrivateHeapBlockCount() { return Heap().blockCount; }
