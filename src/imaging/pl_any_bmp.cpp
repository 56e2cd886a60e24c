#include "imaging/pl_any_bmp.h"

#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_text_exception.h"

#include <algorithm>
#include <utility>

namespace {

// The largest pixel block the library holds. Sizes come from file headers, so they are
// checked in 64 bits before anything is allocated; an image beyond this fails as out of
// memory instead of wrapping into a small allocation.
constexpr std::int64_t MaxPixelBytes = std::int64_t{1} << 30;

}  // namespace

PLAnyBmp::PLAnyBmp() { AllocateBits(16, 16, PLPixelFormat::I8); }

PLAnyBmp::~PLAnyBmp() { FreeMembers(); }

std::int64_t PLAnyBmp::EstimateMemory(std::int32_t width, std::int32_t height,
                                      std::uint32_t bitsPerPixel) {
    std::int64_t bytes = PLRowBytes(width, bitsPerPixel) * height + 192;
    if (bitsPerPixel < 16) bytes += std::int64_t{4} << bitsPerPixel;
    return bytes;
}

std::int64_t PLAnyBmp::GetMemoryUsed() const {
    return EstimateMemory(GetWidth(), GetHeight(), GetBitsPerPixel()) + 192;
}

std::int32_t PLAnyBmp::GetBytesPerLine() const {
    return static_cast<std::int32_t>(PLRowBytes(GetWidth(), GetBitsPerPixel()));
}

void PLAnyBmp::AllocateBits(std::int32_t width, std::int32_t height,
                            const PLPixelFormat& pixelFormat) {
    if (pixelFormat.GetBitsPerPixel() == 0) {
        throw PLTextException(PLErrFormatNotSupported, "No pixel format given for bitmap.");
    }
    if (width < 0 || height < 0) {
        throw PLTextException(PLErrWrongSignature, "Invalid bitmap size.");
    }
    // The row table counts too: a zero-width image of a huge height is all row pointers.
    const std::int64_t rowBytes = PLRowBytes(width, pixelFormat.GetBitsPerPixel()) +
                                  static_cast<std::int64_t>(sizeof(std::uint8_t*));
    if (rowBytes > MaxPixelBytes || (height > 0 && rowBytes > MaxPixelBytes / height)) {
        throw PLTextException(PLErrNoMemory, "Out of memory allocating bitmap.");
    }
    // The new storage is taken whole before the old is given up. One byte at least, so an
    // empty image still has a block for its rows to point at.
    const std::int64_t pixelBytes = PLRowBytes(width, pixelFormat.GetBitsPerPixel()) * height;
    PrivateBlockPtr<std::uint8_t> newBits = PrivateAllocBlock<std::uint8_t>(
        static_cast<std::uint32_t>(std::max<std::int64_t>(pixelBytes, 1)));
    PLPrivateVector<std::uint8_t> newPalette(
        static_cast<std::size_t>(4 * pixelFormat.GetPaletteSize()), 0);
    PLPrivateVector<std::uint8_t*> newLines;
    newLines.reserve(static_cast<std::size_t>(height));
    bits = std::move(newBits);
    palette = std::move(newPalette);
    lineArray = std::move(newLines);
    InitHeader(width, height, pixelFormat);
}

void PLAnyBmp::BuildLineArray() {
    const auto rowBytes = static_cast<std::size_t>(GetBytesPerLine());
    lineArray.clear();
    for (std::int32_t y = 0; y < GetHeight(); ++y) {
        lineArray.push_back(bits.get() + static_cast<std::size_t>(y) * rowBytes);
    }
}

void PLAnyBmp::FreeMembers() {
    bits.reset();
    PLPrivateVector<std::uint8_t>().swap(palette);
    PLPrivateVector<std::uint8_t*>().swap(lineArray);
}
