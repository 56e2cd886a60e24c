#pragma once

// TIFF fixtures for the imaging tests, written by libtiff's own file writer so that the
// decoders are checked against an independent encoder.

#include "core/byte_order.h"
#include "support/temp_folder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace tiff_test {

using Bytes = std::vector<std::uint8_t>;

struct Layout {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint16_t bitsPerSample = 8;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t compression = COMPRESSION_NONE;
    std::vector<std::uint16_t> extraSamples{};
    std::vector<std::uint16_t> colourMap{};  // red, green, blue arrays of 2^bits each
    std::uint32_t tileSize = 0;              // 0: strips of one row
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    bool writeRaw = false;  // rows are already coded strips, one a row
    std::uint32_t rowsPerStrip = 1;  // for strips; beyond the height, one strip
    std::uint16_t predictor = 0;     // 0: no Predictor tag
    std::uint16_t orientation = 0;   // 0: no Orientation tag
};

inline Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes a TIFF of the layout whose rows are packed scanlines (or, with writeRaw, coded
// strips), and returns the file's bytes; empty when libtiff refuses.
inline Bytes WriteTiff(const Layout& layout, const std::vector<Bytes>& rows) {
    TempFolder folder;
    const std::string path = (folder.Path() / "fixture.tif").string();
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, layout.sampleFormat);
    if (layout.compression == COMPRESSION_SGILOG || layout.compression == COMPRESSION_SGILOG24) {
        TIFFSetField(tif, TIFFTAG_SGILOGDATAFMT, SGILOGDATAFMT_FLOAT);
    }
    if (layout.predictor != 0) TIFFSetField(tif, TIFFTAG_PREDICTOR, layout.predictor);
    if (layout.orientation != 0) TIFFSetField(tif, TIFFTAG_ORIENTATION, layout.orientation);
    if (!layout.extraSamples.empty()) {
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES,
                     static_cast<std::uint16_t>(layout.extraSamples.size()),
                     layout.extraSamples.data());
    }
    if (!layout.colourMap.empty()) {
        const std::size_t n = layout.colourMap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, layout.colourMap.data(), layout.colourMap.data() + n,
                     layout.colourMap.data() + 2 * n);
    }
    bool isWritten = true;
    if (layout.tileSize != 0) {
        // 8-bit samples only: tiles are cut from the rows.
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tileSize);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tileSize);
        const std::size_t pixelBytes = layout.samplesPerPixel;
        Bytes tile(layout.tileSize * layout.tileSize * pixelBytes);
        for (std::uint32_t ty = 0; ty < layout.height; ty += layout.tileSize) {
            for (std::uint32_t tx = 0; tx < layout.width; tx += layout.tileSize) {
                std::fill(tile.begin(), tile.end(), 0);
                for (std::uint32_t y = 0; y < layout.tileSize && ty + y < layout.height; ++y) {
                    for (std::uint32_t x = 0; x < layout.tileSize && tx + x < layout.width; ++x) {
                        for (std::size_t s = 0; s < pixelBytes; ++s) {
                            tile[(y * layout.tileSize + x) * pixelBytes + s] =
                                rows[ty + y][(tx + x) * pixelBytes + s];
                        }
                    }
                }
                isWritten = isWritten && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
        for (std::uint32_t y = 0; y < layout.height; ++y) {
            Bytes row = rows[y];
            isWritten = isWritten &&
                        (layout.writeRaw ? TIFFWriteRawStrip(tif, y, row.data(),
                                                             static_cast<tmsize_t>(row.size())) >= 0
                                         : TIFFWriteScanline(tif, row.data(), y, 0) >= 0);
        }
    }
    TIFFClose(tif);
    return isWritten ? ReadFileBytes(path) : Bytes{};
}

// A hand-made TIFF of width x height 8-bit grey, one strip a row, the directory before the
// strips so that cutting the file removes rows only.
inline Bytes GreyTiffWithDirectoryFirst(std::uint32_t width, std::uint32_t height,
                                        std::uint32_t resolutionUnit = 2) {
    constexpr std::uint32_t EntryCount = 11;
    const std::uint32_t ifd = 8;
    const std::uint32_t offsets = ifd + 2 + EntryCount * 12 + 4;
    const std::uint32_t counts = offsets + 4 * height;
    const std::uint32_t resolution = counts + 4 * height;
    const std::uint32_t data = resolution + 8;
    Bytes file(data + width * height);
    file[0] = 'I', file[1] = 'I', file[2] = 42;
    StoreU32LE(&file[4], ifd);
    StoreU16LE(&file[ifd], EntryCount);
    std::uint32_t at = ifd + 2;
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                           std::uint32_t value) {
        StoreU16LE(&file[at], tag);
        StoreU16LE(&file[at + 2], type);
        StoreU32LE(&file[at + 4], count);
        if (type == 3 && count == 1) {
            StoreU16LE(&file[at + 8], static_cast<std::uint16_t>(value));
        } else {
            StoreU32LE(&file[at + 8], value);
        }
        at += 12;
    };
    entry(256, 4, 1, width);
    entry(257, 4, 1, height);
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 1);
    entry(273, 4, height, offsets);
    entry(277, 3, 1, 1);
    entry(278, 4, 1, 1);
    entry(279, 4, height, counts);
    entry(282, 5, 1, resolution);  // x resolution 300 / 1
    entry(296, 3, 1, resolutionUnit);
    StoreU32LE(&file[resolution], 300);
    StoreU32LE(&file[resolution + 4], 1);
    for (std::uint32_t y = 0; y < height; ++y) {
        StoreU32LE(&file[offsets + 4 * y], data + y * width);
        StoreU32LE(&file[counts + 4 * y], width);
        for (std::uint32_t x = 0; x < width; ++x) {
            file[data + y * width + x] = static_cast<std::uint8_t>(y * 10 + x);
        }
    }
    return file;
}

}  // namespace tiff_test
