#pragma once

// The process-wide table of memory streams behind the in-memory TIFF blobs of the system's
// XML files. A stream is a slot index; libtiff reaches the slots through client procedures
// under the name "dummy". Every procedure on a free or unknown slot gives -1.
//
// A read stream ('r') lies over the caller's bytes and never changes or grows them; its
// reads and seeks stay inside them. A write stream ('w') or append stream ('a') owns a
// private-heap block that grows as it is written, zero-filled, so the same writes always
// give the same bytes; MemStreamTakeBlock hands the block to the caller.

#include <cstdint>

struct tiff;

inline constexpr int MemStreamSlotCount = 20;

// Takes the first free slot. Mode 'r' needs a buffer, 'w' must have none, 'a' may have
// either (a given buffer must be a private-heap block, which the stream takes over). Returns
// the slot, or -1 for a broken rule, another mode or a full table.
int MemStreamOpen(std::uint8_t* buffer, std::int32_t size, char mode);

// Mode 'r' only: copies count bytes at the position and advances; 0 when they are not all
// there.
std::int64_t MemStreamRead(int slot, void* dest, std::int64_t count);

// Not in mode 'r': 'w' writes at the position, 'a' at the end; the block grows as needed.
// Returns count, or -1 when the private heap refuses the growth (MemStreamOutOfMemory then
// tells so) or the stream would pass 2 GB.
std::int64_t MemStreamWrite(int slot, const void* src, std::int64_t count);

// whence 0 sets the position, 1 adds to it, 2 sets it to size + offset. A write stream grows
// its block, zero-filled, to a position beyond it (the size stays); a read stream refuses a
// position beyond its bytes. Returns the position, -1 when negative or refused.
std::int64_t MemStreamSeek(int slot, std::int64_t offset, int whence);

// Bytes of valid data.
std::int64_t MemStreamSize(int slot);

// True when a write or seek of the slot was refused by the private heap.
bool MemStreamOutOfMemory(int slot);

// Hands the block of a write stream to the caller (who frees it with PrivateFree) with its
// size; the stream forgets it. Null for a read stream or a free slot.
std::uint8_t* MemStreamTakeBlock(int slot, std::uint32_t& size);

// Frees the slot; a block still owned by it is freed too. Returns 0, -1 for a free slot.
int MemStreamClose(int slot);

// Opens a TIFF stream "dummy" in mode "r" or "w" over the slot. The TIFF handle does not
// close the slot; its owner does, after TIFFClose. Null when libtiff refuses.
tiff* MemStreamOpenTIFF(int slot, const char* mode);
