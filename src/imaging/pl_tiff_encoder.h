#pragma once

// Writes TIFF through libtiff over a memory stream on the data sink's block. The base tags
// describe the bitmap (size, samples, compression, resolution, photometric); the rows follow
// top to bottom: 1-bit and 8-bit rows as they are (8-bit with the palette as colour map),
// deeper pixels as red, green, blue and, with alpha, associated alpha.

#include "imaging/pl_pic_encoder.h"
#include "imaging/pl_tiff_mem_stream.h"

#include <cstdint>

class PLTIFFEncoder : public PLPicEncoder {
public:
    // The compression code of the base tags (PackBits, 32773, until set; the image file
    // front end uses 5, LZW, or 1, none).
    void SetCompression(std::uint16_t code) { compression = code; }

    // Sets image width and length, bits per sample (at most 8), samples per pixel (1, 3 or
    // 4), extra samples (one value, 1, with alpha), compression, planar configuration 1,
    // x and y resolution, resolution unit 2 (inch) and photometric, in that order. Throws
    // PLTextException code 2 with libtiff's report when libtiff refuses a tag.
    void SetBaseTags(tiff* handle, const PLBmp& bmp);

    // Sets one tag with libtiff's variable arguments for it. Returns 1 on success, 0 when
    // libtiff refuses (its report is then in the error record).
    int SetField(tiff* handle, std::uint32_t tag, ...);

protected:
    // Opens a memory stream at the sink's position, sets the base tags, writes the rows and
    // closes the stream; the sink's position then follows what libtiff wrote. Throws
    // PLTextException code 2 with libtiff's report (a sink too small among the causes).
    void DoEncode(const PLBmp& bmp, PLDataSink& sink) override;

    // Writes the rows of bmp into an open stream. Throws PLTextException code 2 with
    // libtiff's report, 6 for a depth the library cannot read (48 bits).
    virtual void WriteImage(const PLBmp& bmp, tiff* handle);

private:
    std::uint16_t compression = 32773;
};
