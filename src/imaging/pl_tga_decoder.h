#pragma once

// Reads Truevision TGA files: colour-mapped, true-colour and greyscale images, uncompressed
// or run-length encoded, at 8, 15, 16, 24 and 32 bits per pixel. 8-bit images become "I8"
// (greyscale ones "L8" with the grey palette), 15 and 24 bits "X8R8G8B8", 16 and 32 bits
// "A8R8G8B8". The footer of version 2.0 files follows the image data and is not read here.

#include "imaging/pl_pic_decoder.h"

#include <cstdint>

class PLTGADecoder : public PLPicDecoder {
public:
    // Reads the 18-byte header and skips the identification field; publishes width, height,
    // resolution 0 x 0 and the pixel format. Throws PLTextException code 2 ("TGA decoder:
    // Unknown bits per pixel in file." or "Unknown TGA image type.") for a depth or image type
    // the decoder does not read, 1 for a colour map starting beyond the 256 palette entries,
    // 11 when the data cannot hold the image.
    void Open(PLDataSource* source) override;

    // Reads the colour map and the rows into bmp. Throws PLTextException code 1 for a
    // run-length packet passing the end of the image, 11 when the data ends early.
    void GetImage(PLBmp& bmp) override;

private:
    // The 18-byte file header.
    struct Header {
        std::uint8_t idLength = 0;
        std::uint8_t colourMapType = 0;
        std::uint8_t imageType = 0;
        std::uint16_t firstEntry = 0;
        std::uint16_t colourMapLength = 0;
        std::uint8_t colourMapDepth = 0;
        std::uint16_t xOrigin = 0;
        std::uint16_t yOrigin = 0;
        std::uint16_t width = 0;
        std::uint16_t height = 0;
        std::uint8_t pixelDepth = 0;
        std::uint8_t descriptor = 0;
    };

    void ReadColourMap(PLDataSource& source, PLBmp& bmp) const;
    void ReadUncompressed(PLDataSource& source, PLBmp& bmp) const;
    void ReadRunLength(PLDataSource& source, PLBmp& bmp) const;
    std::int32_t BitmapRow(std::int32_t storedRow) const;

    Header header;
};
