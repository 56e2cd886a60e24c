#pragma once

// The one concrete bitmap: it owns its pixel block, palette and row table, all from the
// private heap. A new bitmap is 16 x 16 "I8" with the grey palette, so a bitmap is always
// valid.

#include "core/private_block.h"
#include "imaging/pl_bmp.h"

#include <cstdint>

class PLAnyBmp : public PLBmp {
public:
    // A 16 x 16 "I8" bitmap with the grey palette; throws KVOutOfMemoryException when the
    // private heap refuses it.
    PLAnyBmp();
    PLAnyBmp(const PLAnyBmp&) = delete;
    PLAnyBmp& operator=(const PLAnyBmp&) = delete;
    ~PLAnyBmp() override;

    // Memory a bitmap of this size and depth takes: bytes per line * height + 192, plus the
    // palette (4 * 2^bpp) below 16 bits per pixel.
    static std::int64_t EstimateMemory(std::int32_t width, std::int32_t height,
                                       std::uint32_t bitsPerPixel);

    std::int64_t GetMemoryUsed() const override;
    std::int32_t GetBytesPerLine() const override;

    // The pixel block, rows packed top-down.
    std::uint8_t* GetBits() { return bits.get(); }
    const std::uint8_t* GetBits() const { return bits.get(); }

protected:
    void AllocateBits(std::int32_t width, std::int32_t height,
                      const PLPixelFormat& pixelFormat) override;
    void BuildLineArray() override;
    void FreeMembers() override;

private:
    PrivateBlockPtr<std::uint8_t> bits;
};
