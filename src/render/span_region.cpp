#include "render/span_region.h"

#include "core/check.h"
#include "core/private_heap.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t HeaderBytes = sizeof(SpanRegionHeader);
constexpr std::uint32_t FreshRowBytes = SpanRowSlots * 2;
constexpr std::int32_t LeastX = -32768;
constexpr std::int32_t GreatestX = 32766;

bool IsRowCoordinate(std::int32_t y) { return y >= -32768 && y <= 32767; }
bool IsTransition(std::int32_t x) { return x >= LeastX && x <= GreatestX; }

std::int16_t* SlotsAt(SpanRegion& region, std::uint32_t offset) {
    return reinterpret_cast<std::int16_t*>(region.Block() + offset);
}
const std::int16_t* SlotsAt(const SpanRegion& region, std::uint32_t offset) {
    return reinterpret_cast<const std::int16_t*>(region.Block() + offset);
}
std::uint32_t* IndexOf(SpanRegion& region) {
    return reinterpret_cast<std::uint32_t*>(region.Block() + region.Header().indexOffset);
}
std::uint32_t RowLength(const std::int16_t* row) { return static_cast<std::uint16_t>(row[0]); }
std::int32_t RowCount(const SpanRegion& region) { return region.Bottom() - region.Top(); }

// Number of transitions of a row (the slots before the terminator).
std::int32_t TransitionCount(const std::int16_t* row) {
    std::int32_t n = 0;
    while (row[1 + n] != SpanRowEnd) ++n;
    return n;
}

// Makes the block hold at least needed bytes: a smaller block is resized to 3N/2 bytes (at
// most what the header's 32-bit capacity can say). Throws KVOutOfMemoryException.
void Reserve(SpanRegion& region, std::size_t needed) {
    const std::size_t limit = std::numeric_limits<std::int32_t>::max();
    if (needed > limit) ThrowOutOfMemory();
    if (needed <= region.CapacityBytes()) return;
    const std::size_t size = std::min(needed + needed / 2, limit);
    void* block = region.Block();
    void* moved = PrivateReallocPtr(block, static_cast<std::uint32_t>(size));
    region.AdoptBlock(static_cast<std::byte*>(moved));
    region.Header().capacity = static_cast<std::int32_t>(size);
}

// Byte offset of row y, walking the rows when the index is not valid.
std::uint32_t RowOffset(SpanRegion& region, std::int32_t y) {
    ORBELLE_CHECK(y >= region.Top() && y < region.Bottom());
    if (region.Header().indexValid == 0) RegionBuildIndex(region);
    return IndexOf(region)[y - region.Top()];
}

// Writes rows rows of 16 empty slots at offset.
void WriteEmptyRows(SpanRegion& region, std::uint32_t offset, std::int32_t rows) {
    for (std::int32_t i = 0; i < rows; ++i) {
        std::int16_t* row = SlotsAt(region, offset + static_cast<std::uint32_t>(i) * FreshRowBytes);
        std::memset(row, 0, FreshRowBytes);
        row[0] = SpanRowSlots;
        row[1] = SpanRowEnd;
    }
}

// Widens the row at offset by 16 slots; returns its offset (unchanged; the block may move).
void WidenRowAt(SpanRegion& region, std::uint32_t offset) {
    const std::size_t needed = static_cast<std::size_t>(region.Header().indexOffset) +
                               4 * static_cast<std::size_t>(RowCount(region)) + FreshRowBytes;
    Reserve(region, needed);
    std::int16_t* row = SlotsAt(region, offset);
    const std::uint32_t length = RowLength(row);
    ORBELLE_CHECK(length + SpanRowSlots <= 0xFFFF);
    const std::uint32_t end = offset + 2 * length;
    const std::uint32_t indexOffset = static_cast<std::uint32_t>(region.Header().indexOffset);
    std::memmove(region.Block() + end + FreshRowBytes, region.Block() + end, indexOffset - end);
    std::memset(region.Block() + end, 0, FreshRowBytes);
    row = SlotsAt(region, offset);
    row[0] = static_cast<std::int16_t>(length + SpanRowSlots);
    region.Header().indexOffset += static_cast<std::int32_t>(FreshRowBytes);
    region.Header().indexValid = 0;
}

// The run [x0, x1) added (mode 1) to or removed (mode 0) from the row at offset; the index
// may be left invalid when the row widens.
void SetSpanAt(std::uint8_t mode, SpanRegion& region, std::uint32_t offset, std::int16_t x0,
               std::int16_t x1) {
    std::int16_t* row = SlotsAt(region, offset);
    std::int16_t* t = row + 1;
    const std::int32_t n = TransitionCount(row);
    std::int32_t a = 0;
    while (a < n && t[a] < x0) ++a;
    std::int32_t b = a;
    while (b < n && t[b] <= x1) ++b;
    // p0: the row must change state at x0; p1: it must be in the new state just after x1.
    const int p0 = (mode & 1) ^ (a & 1);
    const int p1 = p0 ^ ((b - a) & 1);
    std::int16_t fill[2] = {x0, x1};
    std::int32_t fillCount = 0;
    if (p0 != p1) {
        fill[0] = p0 != 0 ? x0 : x1;
        fillCount = 1;
    } else if (p0 != 0) {
        fillCount = 2;
    }
    const std::int32_t newCount = n - (b - a) + fillCount;
    // Keep two spare slots after the terminator when the row grows.
    if (newCount > n && static_cast<std::int32_t>(RowLength(row)) - (newCount + 2) < 2) {
        WidenRowAt(region, offset);
        row = SlotsAt(region, offset);
        t = row + 1;
    }
    // Move the tail from b (terminator included) to its new place, then write the fill.
    std::memmove(t + a + fillCount, t + b, static_cast<std::size_t>(n - b + 1) * 2);
    for (std::int32_t i = 0; i < fillCount; ++i) t[a + i] = fill[i];
}

// Inserts empty rows so that the region holds rows newTop..newBottom-1 (which contain its own
// range); the index is rebuilt.
void ExtendRows(SpanRegion& region, std::int32_t newTop, std::int32_t newBottom) {
    const std::int32_t above = region.Top() - newTop;
    const std::int32_t below = newBottom - region.Bottom();
    ORBELLE_CHECK(above >= 0 && below >= 0);
    if (above == 0 && below == 0) return;
    const std::size_t rowBytes = static_cast<std::size_t>(region.Header().indexOffset) - HeaderBytes;
    const std::size_t added = static_cast<std::size_t>(above + below) * FreshRowBytes;
    const std::size_t rows = static_cast<std::size_t>(newBottom - newTop);
    Reserve(region, HeaderBytes + rowBytes + added + 4 * rows);
    const std::uint32_t frontBytes = static_cast<std::uint32_t>(above) * FreshRowBytes;
    std::memmove(region.Block() + HeaderBytes + frontBytes, region.Block() + HeaderBytes, rowBytes);
    WriteEmptyRows(region, HeaderBytes, above);
    WriteEmptyRows(region, static_cast<std::uint32_t>(HeaderBytes + frontBytes + rowBytes), below);
    SpanRegionHeader& h = region.Header();
    h.indexOffset = static_cast<std::int32_t>(HeaderBytes + rowBytes + added);
    h.top = static_cast<std::int16_t>(newTop);
    h.bottom = static_cast<std::int16_t>(newBottom);
    RegionBuildIndex(region);
}

}  // namespace

SpanRegion::SpanRegion()
    : block(static_cast<std::byte*>(PrivateAllocZeroed(SpanRegionInitialBytes))) {
    SpanRegionHeader& h = Header();
    h.capacity = static_cast<std::int32_t>(SpanRegionInitialBytes);
    h.indexOffset = static_cast<std::int32_t>(HeaderBytes);
    h.indexValid = 0;
    h.top = 0;
    h.bottom = 0;
}

std::uint32_t SpanRegion::UsedBytes() const {
    return static_cast<std::uint32_t>(Header().indexOffset) +
           4 * static_cast<std::uint32_t>(Bottom() - Top());
}

const std::int16_t* SpanRegion::Row(std::int32_t y) const {
    ORBELLE_DCHECK(y >= Top() && y < Bottom());
    ORBELLE_DCHECK(Header().indexValid != 0);
    const auto* index = reinterpret_cast<const std::uint32_t*>(block.get() + Header().indexOffset);
    return SlotsAt(*this, index[y - Top()]) + 1;
}

void RegionBuildIndex(SpanRegion& region) {
    std::uint32_t* index = IndexOf(region);
    std::uint32_t offset = HeaderBytes;
    const std::int32_t rows = RowCount(region);
    for (std::int32_t i = 0; i < rows; ++i) {
        index[i] = offset;
        offset += 2 * RowLength(SlotsAt(region, offset));
    }
    region.Header().indexValid = 1;
}

void RegionSetEmpty(SpanRegion& region, std::int32_t top, std::int32_t bottom) {
    ORBELLE_CHECK(IsRowCoordinate(top) && IsRowCoordinate(bottom));
    if (bottom < top) bottom = top;
    const std::int32_t rows = bottom - top;
    Reserve(region, static_cast<std::size_t>(rows) * (FreshRowBytes + 4) + HeaderBytes);
    WriteEmptyRows(region, HeaderBytes, rows);
    SpanRegionHeader& h = region.Header();
    h.indexOffset = static_cast<std::int32_t>(HeaderBytes + static_cast<std::uint32_t>(rows) * FreshRowBytes);
    h.top = static_cast<std::int16_t>(top);
    h.bottom = static_cast<std::int16_t>(bottom);
    RegionBuildIndex(region);
}

void RegionSetRect(SpanRegion& region, std::int32_t x0, std::int32_t y0, std::int32_t x1,
                   std::int32_t y1) {
    if (x1 <= x0 || y1 <= y0) {
        RegionSetEmpty(region, 0, 0);
        return;
    }
    ORBELLE_CHECK(IsTransition(x0) && IsTransition(x1));
    RegionSetEmpty(region, y0, y1);
    for (std::int32_t y = y0; y < y1; ++y) {
        std::int16_t* row = SlotsAt(region, HeaderBytes + static_cast<std::uint32_t>(y - y0) * FreshRowBytes);
        row[1] = static_cast<std::int16_t>(x0);
        row[2] = static_cast<std::int16_t>(x1);
        row[3] = SpanRowEnd;
    }
}

void RegionOffset(SpanRegion& region, std::int32_t dy, std::int32_t dx) {
    SpanRegionHeader& h = region.Header();
    ORBELLE_CHECK(IsRowCoordinate(h.top + dy) && IsRowCoordinate(h.bottom + dy));
    if (dx != 0) {
        std::uint32_t offset = HeaderBytes;
        for (std::int32_t i = 0; i < RowCount(region); ++i) {
            std::int16_t* row = SlotsAt(region, offset);
            for (std::int16_t* t = row + 1; *t != SpanRowEnd; ++t) {
                const std::int32_t moved = *t + dx;
                ORBELLE_CHECK(IsTransition(moved));
                *t = static_cast<std::int16_t>(moved);
            }
            offset += 2 * RowLength(row);
        }
    }
    h.top = static_cast<std::int16_t>(h.top + dy);
    h.bottom = static_cast<std::int16_t>(h.bottom + dy);
}

void RegionCopy(SpanRegion& target, const SpanRegion& source) {
    if (&target == &source) return;
    const std::uint32_t used = source.UsedBytes();
    Reserve(target, used);
    const std::int32_t capacity = target.Header().capacity;
    std::memcpy(target.Block(), source.Block(), used);
    target.Header().capacity = capacity;
}

RegionRect RegionGetBounds(const SpanRegion& region) {
    RegionRect bounds{32766, region.Top(), -32768, region.Top()};
    bool seenRun = false;
    bool lastNonEmpty = false;
    std::uint32_t offset = HeaderBytes;
    for (std::int32_t y = region.Top(); y < region.Bottom(); ++y) {
        const std::int16_t* row = SlotsAt(region, offset);
        const std::int16_t* t = row + 1;
        if (t[0] != SpanRowEnd) {
            if (!seenRun) bounds.y0 = y;
            seenRun = true;
            bounds.x0 = std::min<std::int32_t>(bounds.x0, t[0]);
            std::int32_t n = 0;
            while (t[n + 1] != SpanRowEnd) ++n;
            bounds.x1 = std::max<std::int32_t>(bounds.x1, t[n]);
            lastNonEmpty = true;
        } else {
            if (lastNonEmpty) bounds.y1 = y;
            lastNonEmpty = false;
        }
        offset += 2 * RowLength(row);
    }
    if (lastNonEmpty) bounds.y1 = region.Bottom();
    return bounds;
}

void RegionClip(SpanRegion& region, std::int32_t x0, std::int32_t y0, std::int32_t x1,
                std::int32_t y1) {
    SpanRegionHeader& h = region.Header();
    const std::int32_t newTop = std::max<std::int32_t>(h.top, y0);
    const std::int32_t newBottom = std::min<std::int32_t>(h.bottom, y1);
    if (newTop >= newBottom || x0 >= x1) {
        h.indexOffset = static_cast<std::int32_t>(HeaderBytes);
        h.indexValid = 0;
        h.top = 0;
        h.bottom = 0;
        return;
    }
    if (newTop != h.top || newBottom != h.bottom) {
        // Find the byte range of the kept rows and move it to the front.
        std::uint32_t offset = HeaderBytes;
        std::uint32_t keepStart = HeaderBytes;
        std::uint32_t keepEnd = static_cast<std::uint32_t>(h.indexOffset);
        for (std::int32_t y = h.top; y < h.bottom; ++y) {
            if (y == newTop) keepStart = offset;
            if (y == newBottom) keepEnd = offset;
            offset += 2 * RowLength(SlotsAt(region, offset));
        }
        std::memmove(region.Block() + HeaderBytes, region.Block() + keepStart, keepEnd - keepStart);
        h.indexOffset = static_cast<std::int32_t>(HeaderBytes + (keepEnd - keepStart));
        h.top = static_cast<std::int16_t>(newTop);
        h.bottom = static_cast<std::int16_t>(newBottom);
        h.indexValid = 0;
    }
    // Clip every row in place: a row never gains transitions here.
    const std::int32_t cx0 = std::clamp(x0, LeastX, GreatestX);
    const std::int32_t cx1 = std::clamp(x1, LeastX, GreatestX + 1);
    std::uint32_t offset = HeaderBytes;
    for (std::int32_t y = h.top; y < h.bottom; ++y) {
        std::int16_t* row = SlotsAt(region, offset);
        std::int16_t* t = row + 1;
        const std::int32_t n = TransitionCount(row);
        std::int32_t k = 0;
        while (k < n && t[k] <= cx0) ++k;
        std::int32_t w = 0;
        if ((k & 1) != 0) t[w++] = static_cast<std::int16_t>(cx0);
        for (std::int32_t i = k; i < n; ++i) t[w++] = t[i];
        std::int32_t m = 0;
        while (m < w && t[m] < cx1) ++m;
        if ((m & 1) != 0) {
            t[m++] = static_cast<std::int16_t>(std::min(cx1, GreatestX));
        }
        t[m] = SpanRowEnd;
        offset += 2 * RowLength(row);
    }
    if (h.indexValid == 0) RegionBuildIndex(region);
}

void RegionWidenRow(SpanRegion& region, std::int32_t y) {
    WidenRowAt(region, RowOffset(region, y));
    RegionBuildIndex(region);
}

void RegionSetSpan(std::uint8_t mode, SpanRegion& region, std::int32_t y, std::int32_t x0,
                   std::int32_t x1) {
    if (x1 <= x0) return;
    ORBELLE_CHECK(IsTransition(x0) && IsTransition(x1));
    SetSpanAt(mode, region, RowOffset(region, y), static_cast<std::int16_t>(x0),
              static_cast<std::int16_t>(x1));
    if (region.Header().indexValid == 0) RegionBuildIndex(region);
}

SpanList::SpanList()
    : runs(static_cast<std::int16_t*>(PrivateAllocZeroed(SpanRegionInitialBytes))),
      capacity(SpanRegionInitialBytes) {}

void SpanList::SetRows(std::int32_t newTop, std::int32_t newBottom) {
    ORBELLE_CHECK(IsRowCoordinate(newTop) && IsRowCoordinate(newBottom));
    if (newBottom < newTop) newBottom = newTop;
    const std::size_t needed = 8 + 4 * static_cast<std::size_t>(newBottom - newTop);
    if (needed > capacity) {
        const std::size_t size = needed + needed / 2;
        void* moved = PrivateReallocPtr(runs.get(), static_cast<std::uint32_t>(size));
        (void)runs.release();
        runs.reset(static_cast<std::int16_t*>(moved));
        capacity = static_cast<std::uint32_t>(size);
    }
    top = newTop;
    bottom = newBottom;
    for (std::int32_t i = 0; i < bottom - top; ++i) {
        runs.get()[2 * i] = SpanRowEnd;
        runs.get()[2 * i + 1] = SpanRowEnd;
    }
}

void SpanList::SetRun(std::int32_t y, std::int32_t x0, std::int32_t x1) {
    ORBELLE_CHECK(y >= top && y < bottom);
    std::int16_t* run = runs.get() + 2 * (y - top);
    if (x0 >= x1) {
        run[0] = SpanRowEnd;
        run[1] = SpanRowEnd;
        return;
    }
    ORBELLE_CHECK(IsTransition(x0) && IsTransition(x1));
    run[0] = static_cast<std::int16_t>(x0);
    run[1] = static_cast<std::int16_t>(x1);
}

std::int16_t SpanList::RunStart(std::int32_t y) const {
    ORBELLE_CHECK(y >= top && y < bottom);
    return runs.get()[2 * (y - top)];
}

std::int16_t SpanList::RunEnd(std::int32_t y) const {
    ORBELLE_CHECK(y >= top && y < bottom);
    return runs.get()[2 * (y - top) + 1];
}

void RegionAddSpanList(const SpanList& list, SpanRegion& target) {
    if (list.Bottom() == list.Top()) return;
    if (target.HasNoRows()) {
        RegionSetEmpty(target, list.Top(), list.Bottom());
    } else {
        ExtendRows(target, std::min(target.Top(), list.Top()),
                   std::max(target.Bottom(), list.Bottom()));
    }
    for (std::int32_t y = list.Top(); y < list.Bottom(); ++y) {
        const std::int16_t x0 = list.RunStart(y);
        const std::int16_t x1 = list.RunEnd(y);
        if (x0 == SpanRowEnd || x0 >= x1) continue;
        SetSpanAt(1, target, RowOffset(target, y), x0, x1);
    }
    if (target.Header().indexValid == 0) RegionBuildIndex(target);
}

void RegionCombine(const SpanRegion& source, SpanRegion& target, std::uint8_t mode) {
    if (source.HasNoRows()) return;
    if (&source == &target) {
        // Union with itself changes nothing; the difference empties every row.
        if (mode == 0) RegionSetEmpty(target, target.Top(), target.Bottom());
        return;
    }
    if (target.HasNoRows()) {
        if (mode != 0) RegionCopy(target, source);
        return;
    }
    if (mode != 0) {
        ExtendRows(target, std::min(target.Top(), source.Top()),
                   std::max(target.Bottom(), source.Bottom()));
    }
    const std::int32_t first = std::max(source.Top(), target.Top());
    const std::int32_t last = std::min(source.Bottom(), target.Bottom());
    // Walk the source by its row lengths, so that its index need not be valid.
    std::uint32_t offset = HeaderBytes;
    for (std::int32_t y = source.Top(); y < last; ++y) {
        const std::int16_t* row = SlotsAt(source, offset);
        offset += 2 * RowLength(row);
        if (y < first) continue;
        for (const std::int16_t* t = row + 1; *t != SpanRowEnd; t += 2) {
            SetSpanAt(mode, target, RowOffset(target, y), t[0], t[1]);
        }
    }
    if (target.Header().indexValid == 0) RegionBuildIndex(target);
}
