#pragma once

// Writes Windows bitmaps: the 14-byte file header, the 40-byte information header, the
// palette of bitmaps of 8 bits or fewer, and the rows bottom-up, each padded with zero bytes
// to a multiple of 4. Bitmaps of more than 8 bits per pixel are stored as 24-bit colour
// (alpha is dropped).

#include "imaging/pl_pic_encoder.h"

class PLBmpEncoder : public PLPicEncoder {
protected:
    // Throws PLTextException: code 11 "Buffer overflow while encoding.\n" when the sink is
    // too small (what was written stays), 6 for a depth the library cannot read (48 bits).
    void DoEncode(const PLBmp& bmp, PLDataSink& sink) override;
};
