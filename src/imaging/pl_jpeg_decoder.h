#pragma once

// Reads JPEG files through libjpeg. Colour images decode to "X8R8G8B8" with the fourth
// byte 255, greyscale ones to "L8". The file's Exif block (its last APP1 marker) is read
// with the header and is available until Close.

#include "imaging/pl_pic_decoder.h"

#include <memory>

class PLExif;

class PLJPEGDecoder : public PLPicDecoder {
public:
    // Throws PLTextException code 6 when libjpeg cannot set up its decompression object.
    PLJPEGDecoder();
    ~PLJPEGDecoder() override;

    // Reads the header and the Exif block. Throws PLTextException code 6 ("Decoder error: "
    // and libjpeg's message) for data libjpeg cannot read, 11 when Huffman-coded data has
    // fewer bits left than the image has 8 x 8 blocks. A damaged Exif block is no error:
    // GetExif then holds what could be read.
    void Open(PLDataSource* source) override;

    // Decodes the image into bmp, created from the header, telling the source's progress
    // receiver how far libjpeg's passes have come. A file that ends early decodes as far as
    // libjpeg can take it. Throws PLTextException code 6 for corrupt data, and what the
    // receiver throws, which abandons the decode with libjpeg ready for the next file.
    void GetImage(PLBmp& bmp) override;

    // Forgets the Exif block and the file, leaving libjpeg ready for the next one.
    void Close() override;

    // The open file's Exif block (empty when it has none); null before Open and after Close.
    const PLExif* GetExif() const { return exif.get(); }

    // libjpeg's warnings since the last Open (a file that ends early, corrupt data it went
    // past), which never reach the process's standard error: their count and the text of
    // the last ("" when none).
    long GetWarningCount() const;
    const char* GetLastWarning() const;

private:
    struct State;

    std::unique_ptr<State> state;
    std::unique_ptr<PLExif> exif;
    bool isFastDecoding = true;
};
