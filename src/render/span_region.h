#pragma once

// Span regions: the renderer's sets of screen pixels. Every incremental piece of work (the
// change region of a frame, selection and outline regions, per-light map regions, scratch
// regions) is bounded by one.
//
// A region keeps, for every scan line of a contiguous row range, a sorted list of x
// transitions that alternately enter and leave the set: the pixels x0 <= x < x1 of each
// consecutive pair belong to it. The whole region is one self-relative private-heap block, so
// it is copied with one move and grown in place:
//
//   bytes 0..15  header (SpanRegionHeader)
//   16..         one row per scan line top..bottom-1, back to back
//   indexOffset  the row index: per row its byte offset from the block start
//
// A row is a run of 16-bit slots: slot 0 its length in slots (itself included), then the
// ascending transitions, then the terminator 32767, then spare slots up to the length. A fresh
// row has 16 slots. Rows carry spare slots so that most insertions only shift the tail of one
// row; a row that runs out is widened by 16 slots.
//
// A block that must grow to N bytes is resized to 3N/2 bytes. Regions never shrink. Growth
// throws KVOutOfMemoryException and leaves the region as it was. Every operation here leaves
// the row index valid, so Row() may be read at any time between operations.
//
// Coordinates are 16-bit: transitions lie in -32768..32766 (32767 ends a row) and rows in
// -32768..32767. Leaving that range is a programmer error and is checked.
//
// A SpanList holds one run per row (the outline projection's output); RegionAddSpanList adds
// it to a region.

#include "core/private_block.h"

#include <cstddef>
#include <cstdint>

// 16 bytes at the start of every region block.
struct SpanRegionHeader {
    std::int32_t capacity = 0;     // bytes allocated
    std::int32_t indexOffset = 0;  // byte offset of the row index: 16 + the bytes of all rows
    std::int32_t indexValid = 0;   // 1 when the index matches the rows
    std::int16_t top = 0;          // first row held
    std::int16_t bottom = 0;       // one past the last row held
};
static_assert(sizeof(SpanRegionHeader) == 16);

// Ends the transitions of a row, and marks an empty run of a SpanList.
inline constexpr std::int16_t SpanRowEnd = 32767;

// Slots of a fresh row, and of each widening.
inline constexpr std::int32_t SpanRowSlots = 16;

// Bytes of a new region block.
inline constexpr std::uint32_t SpanRegionInitialBytes = 1024;

// A rectangle of four ints, x0 <= x < x1 and y0 <= y < y1.
struct RegionRect {
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    std::int32_t x1 = 0;
    std::int32_t y1 = 0;
};

class SpanRegion {
public:
    // An empty region (no rows) in a 1024-byte block. Throws KVOutOfMemoryException.
    SpanRegion();

    SpanRegion(SpanRegion&&) noexcept = default;
    SpanRegion& operator=(SpanRegion&&) noexcept = default;
    SpanRegion(const SpanRegion&) = delete;
    SpanRegion& operator=(const SpanRegion&) = delete;

    std::int32_t Top() const { return Header().top; }
    std::int32_t Bottom() const { return Header().bottom; }
    // True when the region holds no rows (top equals bottom).
    bool HasNoRows() const { return Header().top == Header().bottom; }
    std::uint32_t CapacityBytes() const { return static_cast<std::uint32_t>(Header().capacity); }
    // The bytes in use: the rows and the row index.
    std::uint32_t UsedBytes() const;

    // The transitions of row y (Top() <= y < Bottom()), ascending, ended by SpanRowEnd.
    const std::int16_t* Row(std::int32_t y) const;

    // The raw block, for the operations of span_region.cpp.
    std::byte* Block() { return block.get(); }
    const std::byte* Block() const { return block.get(); }
    SpanRegionHeader& Header() { return *reinterpret_cast<SpanRegionHeader*>(block.get()); }
    const SpanRegionHeader& Header() const {
        return *reinterpret_cast<const SpanRegionHeader*>(block.get());
    }
    // Replaces the block after a resize (the header's capacity is set by the caller).
    void AdoptBlock(std::byte* moved) {
        (void)block.release();
        block.reset(moved);
    }

private:
    PrivateBlockPtr<std::byte> block;
};

// Writes the row index from the row lengths and marks it valid.
void RegionBuildIndex(SpanRegion& region);

// The region holds rows top..bottom-1, all empty (bottom below top counts as top). Throws
// KVOutOfMemoryException.
void RegionSetEmpty(SpanRegion& region, std::int32_t top, std::int32_t bottom);

// The rectangle x0 <= x < x1, y0 <= y < y1; an empty rectangle gives RegionSetEmpty(0, 0).
// Throws KVOutOfMemoryException.
void RegionSetRect(SpanRegion& region, std::int32_t x0, std::int32_t y0, std::int32_t x1,
                   std::int32_t y1);

// Moves the region by dy rows and dx columns. Never grows the block.
void RegionOffset(SpanRegion& region, std::int32_t dy, std::int32_t dx);

// The target becomes a copy of the source (keeping its own, possibly larger, block). Throws
// KVOutOfMemoryException.
void RegionCopy(SpanRegion& target, const SpanRegion& source);

// Least x, first non-empty row, greatest transition and one past the last non-empty row. A
// region without runs gives (32766, top, -32768, top).
RegionRect RegionGetBounds(const SpanRegion& region);

// Keeps only the part inside the rectangle; a rectangle that misses the rows, or has
// x1 <= x0, leaves no rows (top = bottom = 0). Never grows the block.
void RegionClip(SpanRegion& region, std::int32_t x0, std::int32_t y0, std::int32_t x1,
                std::int32_t y1);

// Widens row y (Top() <= y < Bottom()) by 16 slots. Throws KVOutOfMemoryException.
void RegionWidenRow(SpanRegion& region, std::int32_t y);

// Mode 1 adds the run [x0, x1) to row y (runs that overlap or touch merge), mode 0 removes it
// (a run that held it splits in two). Nothing happens when x1 <= x0. Row y must be held.
// Throws KVOutOfMemoryException when the row must widen and cannot.
void RegionSetSpan(std::uint8_t mode, SpanRegion& region, std::int32_t y, std::int32_t x0,
                   std::int32_t x1);

// A list of one run per row.
class SpanList {
public:
    // A list with no rows. Throws KVOutOfMemoryException.
    SpanList();

    SpanList(SpanList&&) noexcept = default;
    SpanList& operator=(SpanList&&) noexcept = default;
    SpanList(const SpanList&) = delete;
    SpanList& operator=(const SpanList&) = delete;

    std::int32_t Top() const { return top; }
    std::int32_t Bottom() const { return bottom; }
    std::uint32_t CapacityBytes() const { return capacity; }

    // The list holds rows top..bottom-1, every run empty (x0 = 32767). Throws
    // KVOutOfMemoryException, keeping the old rows.
    void SetRows(std::int32_t newTop, std::int32_t newBottom);
    // Sets the run of row y (Top() <= y < Bottom()); x0 >= x1 makes it empty.
    void SetRun(std::int32_t y, std::int32_t x0, std::int32_t x1);
    // x0 and x1 of row y; a run with x0 = 32767 or x0 >= x1 is empty.
    std::int16_t RunStart(std::int32_t y) const;
    std::int16_t RunEnd(std::int32_t y) const;

private:
    PrivateBlockPtr<std::int16_t> runs;  // x0, x1 per row
    std::uint32_t capacity = 0;          // bytes of the block, header included
    std::int32_t top = 0;
    std::int32_t bottom = 0;
};

// Adds every run of the list to the target (union); a list without rows changes nothing.
// Rows between the target's and the list's range stay empty, so the range stays contiguous.
// Throws KVOutOfMemoryException.
void RegionAddSpanList(const SpanList& list, SpanRegion& target);

// Mode 1: target := target union source; mode 0: target := target minus source (the target's
// row range does not change). A source without rows changes nothing. Throws
// KVOutOfMemoryException.
void RegionCombine(const SpanRegion& source, SpanRegion& target, std::uint8_t mode);
