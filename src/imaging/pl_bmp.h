#pragma once

// The abstract bitmap: creation from a header or from pixel data, copies, conversions
// between pixel formats, filters and the alpha channel. Rows are packed with no padding:
// bytes per line = width * bpp / 8, one more for 1-bit rows whose width is not a multiple
// of 8. Multi-byte pixels are little-endian: a 32-bit pixel is blue, green, red, alpha in
// memory, a 24-bit one blue, green, red, a 16-bit one R5G6B5.
//
// The storage itself (pixel block, palette, row table) belongs to the concrete PLAnyBmp.

#include "imaging/pl_bmp_base.h"

#include <cstdint>

class PLFilter;

class PLBmp : public PLBmpBase {
public:
    // Recreates this bitmap at the header's size and format, resolution included; the
    // pixels are zero. Throws as CreateFromData.
    void CreateFromInfo(const PLBmpInfo& info);

    // Recreates this bitmap at width x height in pixelFormat with the given resolution, then
    // copies height rows of packed pixels from data (stride bytes apart, or packed when
    // stride is 0); without data the pixels are zero. Throws PLTextException: code 6 for the
    // empty format, 1 for a negative size, 10 for a size too large to hold (above 1 GB);
    // KVOutOfMemoryException when the private heap refuses the storage. On a throw the
    // bitmap keeps what it held.
    void CreateFromData(std::int32_t width, std::int32_t height, const PLPixelFormat& pixelFormat,
                        const std::uint8_t* data, std::int32_t stride, PLPoint resolution);

    // Makes this bitmap a copy of source in pixelFormat; the empty format keeps the source's
    // format and palette. Throws as CreateFromData and CopyPixels.
    void CreateCopy(const PLBmp& source, const PLPixelFormat& pixelFormat = PLPixelFormat::DontCare);

    // Copies or converts source's pixels into this bitmap's block and format over the common
    // width and height. Formats of one depth are copied unchanged; 16-bit pixels are read and
    // written as R5G6B5; 32 bits become 8 through colour quantisation, 16 and 24 bits and
    // other 8-bit formats through 32 bits first. Throws PLTextException code 6 for depths the
    // library cannot convert (48 bits), 12 when no colour quantiser is built in.
    void CopyPixels(const PLBmp& source);

    // Applies the filter in place. Throws what the filter throws.
    void ApplyFilter(const PLFilter& filter);

    // Writes alpha's bytes into the fourth byte of every pixel and switches this bitmap to
    // the alpha variant of its format ("X8R8G8B8" becomes "A8R8G8B8"). This bitmap must have
    // 32 bits per pixel and alpha 8, at the same size (checked).
    void SetAlphaChannel(const PLBmp& alpha);

    // Bytes the bitmap holds, as EstimateMemory counts them.
    virtual std::int64_t GetMemoryUsed() const = 0;
    virtual std::int32_t GetBytesPerLine() const = 0;

protected:
    // Stores the header, builds the row table and fills a palette with the grey ramp.
    void InitHeader(std::int32_t width, std::int32_t height,
                    const PLPixelFormat& pixelFormat) override;

    // Replaces the storage with a zeroed block for width x height in pixelFormat, then calls
    // InitHeader. Throws as CreateFromData, leaving the old storage on a throw.
    virtual void AllocateBits(std::int32_t width, std::int32_t height,
                              const PLPixelFormat& pixelFormat) = 0;
    virtual void BuildLineArray() = 0;
    virtual void FreeMembers() = 0;

private:
    void ConvertTo8Bpp(const PLBmp& source);
    void QuantizeFrom32(const PLBmp& source);
};

// Reduces a 32-bit bitmap to an 8-bit paletted one: creates dest as "I8" of the source's
// size and resolution with its palette and indices. The colour quantiser registers one at
// start-up; paletteType and ditherType come from the target bitmap's settings.
using PLQuantizeFunction = void (*)(int paletteType, int ditherType, const PLBmp& source,
                                    PLBmp& dest);

// Registers the quantiser (null removes it) and returns the one it replaces.
PLQuantizeFunction PLRegisterQuantizer(PLQuantizeFunction quantize);
