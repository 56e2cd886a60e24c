#pragma once

// Writes bitmaps as JPEG through libjpeg: 32-bit bitmaps (blue, green, red and an unused
// fourth byte) become baseline colour JPEG with the float DCT, the bitmap's resolution as
// the JFIF densities, and an Exif block as APP1 when one is given.

#include "imaging/pl_pic_encoder.h"

#include <cstdint>
#include <memory>
#include <vector>

class PLBmp;
class PLDataSink;
class PLExif;

class PLJPEGEncoder : public PLPicEncoder {
public:
    // Throws PLTextException code 6 when libjpeg cannot set up its compression object.
    PLJPEGEncoder();
    ~PLJPEGEncoder() override;

    // The quality, 1 to 100 (libjpeg limits other values); 0 keeps libjpeg's default.
    void SetQuality(std::int32_t value) { quality = value; }

    // libjpeg's input smoothing, 0 (none) to 100.
    void SetSmoothingFactor(std::int32_t value) { smoothingFactor = value; }

    // Writes exif's block as an APP1 marker into the next encode only; a block that is not
    // Exif writes nothing.
    void SetExif(const PLExif& exif);

protected:
    // Encodes bmp into sink. Throws PLTextException: code 6 ("Decoder error: " and the
    // text) for a bitmap of other than 32 bits per pixel or any libjpeg error, code 11 when
    // the sink is full. libjpeg is left ready for the next encode either way.
    void DoEncode(const PLBmp& bmp, PLDataSink& sink) override;

private:
    struct State;

    std::unique_ptr<State> state;
    std::int32_t quality = 0;
    bool isOptimizeCoding = false;
    std::int32_t smoothingFactor = 0;
    std::int32_t densityX = 0;
    std::int32_t densityY = 0;
    std::vector<std::uint8_t> exifBlock;
};
