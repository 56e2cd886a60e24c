#include "imaging/image_mem_stream.h"

#include "core/private_heap.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t MaxStreamSize = std::numeric_limits<std::int32_t>::max();

struct Slot {
    int state = -1;  // -1 free, 0 in use
    char mode = 0;
    std::uint8_t* buffer = nullptr;
    std::int64_t size = 0;      // bytes of valid data
    std::int64_t capacity = 0;  // bytes of the block (write streams)
    std::int64_t position = 0;
    bool ownsBlock = false;
    bool isOutOfMemory = false;
};

std::array<Slot, MemStreamSlotCount>& Slots() {
    static std::array<Slot, MemStreamSlotCount> slots{};
    return slots;
}

Slot* InUse(int slot) {
    if (slot < 0 || slot >= MemStreamSlotCount) return nullptr;
    Slot& s = Slots()[static_cast<std::size_t>(slot)];
    return s.state == 0 ? &s : nullptr;
}

// Grows the block of a write stream to at least bytes, zero-filling what is new. Capacity
// doubles so that a stream written in small pieces is not copied over and over.
bool Reserve(Slot& s, std::int64_t bytes) {
    if (bytes <= s.capacity) return true;
    if (bytes > MaxStreamSize) return false;
    const std::int64_t capacity = std::min(std::max(bytes, 2 * s.capacity), MaxStreamSize);
    try {
        void* block = s.buffer;
        PrivateRealloc(&block, static_cast<std::uint32_t>(capacity));
        s.buffer = static_cast<std::uint8_t*>(block);
    } catch (const KVOutOfMemoryException&) {
        // Reported to libtiff as a failed write; the caller throws once libtiff has returned.
        s.isOutOfMemory = true;
        return false;
    }
    std::memset(s.buffer + s.capacity, 0, static_cast<std::size_t>(capacity - s.capacity));
    s.capacity = capacity;
    return true;
}

thandle_t HandleOf(int slot) {
    return reinterpret_cast<thandle_t>(static_cast<std::intptr_t>(slot));
}

int SlotOf(thandle_t handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)); }

tmsize_t TIFFRead(thandle_t handle, void* dest, tmsize_t count) {
    return static_cast<tmsize_t>(MemStreamRead(SlotOf(handle), dest, count));
}

tmsize_t TIFFWrite(thandle_t handle, void* src, tmsize_t count) {
    return static_cast<tmsize_t>(MemStreamWrite(SlotOf(handle), src, count));
}

toff_t TIFFSeek(thandle_t handle, toff_t offset, int whence) {
    return static_cast<toff_t>(
        MemStreamSeek(SlotOf(handle), static_cast<std::int64_t>(offset), whence));
}

int TIFFCloseSlot(thandle_t /*handle*/) { return 0; }

toff_t TIFFSize(thandle_t handle) { return static_cast<toff_t>(MemStreamSize(SlotOf(handle))); }

// Read streams are presented as mapped, as the data-source streams are: libtiff then reads
// in place, and its unmapped path refuses uncompressed tiles that pass the image's edge.
int TIFFMap(thandle_t handle, void** base, toff_t* size) {
    const Slot* s = InUse(SlotOf(handle));
    if (s == nullptr || s->mode != 'r') return 0;
    *base = s->buffer;
    *size = static_cast<toff_t>(s->size);
    return 1;
}

void TIFFUnmap(thandle_t, void*, toff_t) {}

}  // namespace

int MemStreamOpen(std::uint8_t* buffer, std::int32_t size, char mode) {
    if (size < 0) return -1;
    if ((mode == 'r' && buffer == nullptr) || (mode == 'w' && buffer != nullptr) ||
        (mode != 'r' && mode != 'w' && mode != 'a')) {
        return -1;
    }
    auto& slots = Slots();
    const auto free =
        std::find_if(slots.begin(), slots.end(), [](const Slot& s) { return s.state == -1; });
    if (free == slots.end()) return -1;
    Slot& s = *free;
    s = Slot{};
    s.state = 0;
    s.mode = mode;
    if (buffer != nullptr) {
        s.buffer = buffer;
        s.size = size;
        s.capacity = mode == 'r' ? 0 : size;
        s.ownsBlock = mode != 'r';
    } else {
        s.ownsBlock = true;
    }
    return static_cast<int>(free - slots.begin());
}

std::int64_t MemStreamRead(int slot, void* dest, std::int64_t count) {
    Slot* s = InUse(slot);
    if (s == nullptr) return -1;
    if (s->mode != 'r' || count < 0 || count > s->size - s->position) return 0;
    std::memcpy(dest, s->buffer + s->position, static_cast<std::size_t>(count));
    s->position += count;
    return count;
}

std::int64_t MemStreamWrite(int slot, const void* src, std::int64_t count) {
    Slot* s = InUse(slot);
    if (s == nullptr || s->mode == 'r' || count < 0) return -1;
    if (s->mode == 'a') s->position = s->size;
    const std::int64_t end = s->position + count;
    if (!Reserve(*s, end)) return -1;
    if (count > 0) std::memcpy(s->buffer + s->position, src, static_cast<std::size_t>(count));
    s->position = end;
    s->size = std::max(s->size, end);
    return count;
}

std::int64_t MemStreamSeek(int slot, std::int64_t offset, int whence) {
    Slot* s = InUse(slot);
    if (s == nullptr) return -1;
    std::int64_t target = offset;
    if (whence == 1) target = s->position + offset;
    if (whence == 2) target = s->size + offset;
    if (target < 0) return -1;
    if (s->mode == 'r' ? target > s->size : !Reserve(*s, target)) return -1;
    s->position = target;
    return target;
}

std::int64_t MemStreamSize(int slot) {
    const Slot* s = InUse(slot);
    return s == nullptr ? -1 : s->size;
}

bool MemStreamOutOfMemory(int slot) {
    const Slot* s = InUse(slot);
    return s != nullptr && s->isOutOfMemory;
}

std::uint8_t* MemStreamTakeBlock(int slot, std::uint32_t& size) {
    Slot* s = InUse(slot);
    if (s == nullptr || !s->ownsBlock) return nullptr;
    size = static_cast<std::uint32_t>(s->size);
    s->ownsBlock = false;
    return s->buffer;
}

int MemStreamClose(int slot) {
    Slot* s = InUse(slot);
    if (s == nullptr) return -1;
    if (s->ownsBlock) PrivateFree(s->buffer);
    *s = Slot{};
    return 0;
}

tiff* MemStreamOpenTIFF(int slot, const char* mode) {
    if (InUse(slot) == nullptr) return nullptr;
    return TIFFClientOpen("dummy", mode, HandleOf(slot), TIFFRead, TIFFWrite, TIFFSeek,
                          TIFFCloseSlot, TIFFSize, TIFFMap, TIFFUnmap);
}
