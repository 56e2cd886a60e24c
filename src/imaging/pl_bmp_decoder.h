#pragma once

// Reads Windows and OS/2 bitmap files: 1, 4 and 8 bits per pixel (uncompressed, RLE4 and
// RLE8) into "I8" bitmaps, 16 and 24 bits into "X8R8G8B8" and 32 bits into "A8R8G8B8". The
// 12-byte OS/2 core header, the 40-byte Windows header and the longer headers that extend it
// are understood; rows are stored bottom row first unless the height is negative.

#include "imaging/pl_pic_decoder.h"

#include <array>
#include <cstdint>

class PLBmpDecoder : public PLPicDecoder {
public:
    // Reads the file header, the information header and the palette, and publishes size,
    // resolution in dots per inch and pixel format. Throws PLTextException code 1 ("Bitmap
    // decoder: This isn't a bitmap.") for a bad signature or header, 2 ("Decoding bmp:
    // Illegal bpp value.") for a bit count the decoder does not read, 2 ("Decoding bmp:
    // Unknown compression.") for a 4- or 8-bit image coded other than uncompressed or by its
    // depth's run-length code, 11 when the data ends before the headers or cannot hold the
    // rows (every stored row uncompressed, two bytes a row run-length coded).
    void Open(PLDataSource* source) override;

    // Decodes the rows into bmp. Run-length pixels past the width but inside the stored
    // (padded) row are dropped. Throws PLTextException code 1 for run-length data that passes
    // the stored row, 6 ("Encountered delta escape.") for a delta escape, 11 when
    // the data ends early.
    void GetImage(PLBmp& bmp) override;

    // Dots per inch for a bitmap's pixels per metre, truncated after adding 0.5; results below
    // 2, and values of 0 or less, give 0.
    static std::int32_t DotsPerInch(std::int32_t pixelsPerMetre);

private:
    // The fields of the 40-byte information header that decoding uses; a core header fills
    // width, height, planes and bit count and leaves the rest 0.
    struct InfoHeader {
        std::uint32_t headerSize = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::uint16_t planes = 0;
        std::uint16_t bitCount = 0;
        std::uint32_t compression = 0;
        std::uint32_t imageSize = 0;
        std::int32_t xPelsPerMeter = 0;
        std::int32_t yPelsPerMeter = 0;
        std::uint32_t colorsUsed = 0;
        std::uint32_t colorsImportant = 0;
    };

    void ReadInfoHeader(PLDataSource& source);
    void ReadPalette(PLDataSource& source, std::int32_t entryBytes);
    void DecodeUncompressed(PLDataSource& source, PLBmp& bmp) const;
    void DecodeRunLength(PLDataSource& source, PLBmp& bmp, bool fourBits) const;
    std::int32_t BitmapRow(std::int32_t storedRow) const;
    bool IsRunLength() const;
    // The trace line that names how the rows are coded.
    const char* DecodingText() const;

    InfoHeader info;
    std::array<std::uint32_t, 3> masks{};  // red, green, blue of a bit-field bitmap
    bool isTopDown = false;
    // 256 entries of blue, green, red, alpha; entries the file does not give are 0.
    std::array<std::uint8_t, 1024> palette{};
};
