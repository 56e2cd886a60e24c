#pragma once

// The TIFF member of the any-format decoder. libtiff reads the image from a memory stream
// over the data source's bytes. True colour, alpha, tiled and unusual layouts go through
// libtiff's RGBA image reader: strips of 8-bit RGB (three or four samples, rows top-down,
// coded so that libtiff decodes them row by row) are read scanline by scanline straight into
// the bitmap's rows, everything else through the reader's strip and tile routines. Untiled
// images of one or two samples of up to 8 bits are read scanline by scanline into a palette
// or greyscale bitmap.
//
// Header formats: "L1" for one 1-bit sample; "L8" (photometric 0 or 1) or "I8" (others)
// for one or two samples of up to 8 bits; "A8R8G8B8" for four samples with photometric 0 to
// 3; "X8R8G8B8" for everything else, grey of 9 to 16 bits included, which the RGBA reader
// reduces to 8 bits a channel.

#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_tiff_mem_stream.h"

#include <cstdint>
#include <optional>

class PLTIFFDecoder : public PLPicDecoder {
public:
    PLTIFFDecoder();
    ~PLTIFFDecoder() override;

    // Opens the TIFF at the source's position and reads its header. Throws PLTextException:
    // code 2 with libtiff's report for data libtiff refuses, or for a directory whose
    // required tags are cut short or whose palette image lost its colour map; 1 when the
    // stream does not open without a report; 11 when the data cannot hold the image.
    void Open(PLDataSource* source) override;

    // Throws PLTextException: code 1 "TIFF subformat not supported." for a layout the RGBA
    // reader refuses, 2 with libtiff's report for unreadable image data, 7 when a scanline in
    // the first third of the image cannot be read, 10 "Out of memory allocating TIFF
    // buffer." when a scanline buffer cannot be had; KVOutOfMemoryException when the private
    // heap refuses the RGBA raster.
    void GetImage(PLBmp& bmp) override;

    // Whether the image the last GetImage decoded has a pixel of alpha 0 with some colour,
    // when the decode saw every pixel as it wrote it (strips of 8-bit RGB); empty when it
    // did not look.
    std::optional<bool> HasColourUnderClearAlpha() const override;

    // Closes the libtiff handle, then the source.
    void Close() override;

    // Reads a tag of the open image with libtiff's field getter (the arguments as libtiff
    // takes them for that tag). Returns 1 when the tag is present, 0 when it is not or no
    // image is open.
    int GetField(std::uint32_t tag, ...);

    // The same, giving libtiff's default for a missing tag that has one.
    int GetFieldDefaulted(std::uint32_t tag, ...);

private:
    void DoLoColor(PLBmp& bmp);
    void DoRGBA(PLBmp& bmp);

    PLTIFFHandle handle;
    std::optional<bool> hasColourUnderClearAlpha;
};
