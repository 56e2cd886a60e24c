#pragma once

// The storage layer of a bitmap: the palette of formats of 8 bits or fewer, the table of
// row pointers (row 0 is the top row), and the two settings handed to colour quantisation
// when true colour is reduced to 8 bits. Palette entries are 4 bytes: blue, green, red,
// alpha.
//
// A bitmap's size comes from a file header, so all of its storage comes from the private
// heap like every other buffer a file sizes: the heap's ceiling bounds it, and a refusal is
// KVOutOfMemoryException.

#include "core/private_heap.h"
#include "imaging/pl_bmp_info.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Container storage from the private heap. Throws KVOutOfMemoryException when refused.
template <class T>
struct PLPrivateHeapAllocator {
    using value_type = T;

    PLPrivateHeapAllocator() = default;
    template <class U>
    PLPrivateHeapAllocator(const PLPrivateHeapAllocator<U>& /*other*/) {}

    T* allocate(std::size_t count) {
        if (count > UINT32_MAX / sizeof(T)) ThrowOutOfMemory();
        return static_cast<T*>(PrivateAlloc(static_cast<std::uint32_t>(count * sizeof(T))));
    }
    void deallocate(T* block, std::size_t /*count*/) { PrivateFree(block); }

    friend bool operator==(const PLPrivateHeapAllocator&, const PLPrivateHeapAllocator&) {
        return true;
    }
};

template <class T>
using PLPrivateVector = std::vector<T, PLPrivateHeapAllocator<T>>;

class PLBmpBase : public PLBmpInfo {
public:
    // The palette, 4 bytes an entry, GetPixelFormat().GetPaletteSize() entries; null for
    // formats above 8 bits per pixel.
    std::uint8_t* GetPalette() { return palette.empty() ? nullptr : palette.data(); }
    const std::uint8_t* GetPalette() const { return palette.empty() ? nullptr : palette.data(); }

    // One pointer per row, top row first.
    std::uint8_t* const* GetLineArray() { return lineArray.data(); }
    const std::uint8_t* const* GetLineArray() const { return lineArray.data(); }

    // Entry i becomes grey i * (255 / (n - 1)) with alpha 255, n the palette's entry count:
    // black and white for "L1", the identity ramp for "I8". Does nothing without a palette.
    void SetGreyRamp();

    // Copies 4 bytes per palette entry from entries. Does nothing without a palette.
    void CopyPalette(const std::uint8_t* entries);

    // The quantisation settings: dither type (1 at construction) and palette type (0).
    void SetQuantizationMode(int ditherType, int paletteType);
    int GetDitherType() const { return ditherType; }
    int GetDitherPaletteType() const { return ditherPaletteType; }

protected:
    // Stores size, resolution 0, 0 and format, and fills the palette with the grey ramp.
    virtual void InitHeader(std::int32_t width, std::int32_t height,
                            const PLPixelFormat& pixelFormat);

    PLPrivateVector<std::uint8_t> palette;
    PLPrivateVector<std::uint8_t*> lineArray;

private:
    int ditherType = 1;
    int ditherPaletteType = 0;
};
