#pragma once

// Reads the merged image of a layered PSD document: greyscale ("L8" with the grey palette),
// indexed ("I8") and RGB documents ("X8R8G8B8", or "A8R8G8B8" with a fourth channel) of 8
// bits per channel, raw or PackBits-compressed. The image resources are walked for the
// resolution; the layer records are read only to step over them. All fields are big-endian.

#include "imaging/pl_pic_decoder.h"

#include <array>
#include <cstdint>
#include <vector>

class PLPSDDecoder : public PLPicDecoder {
public:
    // Reads the header, the colour mode data, the image resources and the layer records, and
    // publishes size, resolution and pixel format. Throws PLTextException code 2 ("PSD
    // decoder: This isn't a photoshop file.", "PSD decoder: Wrong signature in resource data
    // block.", "PSD decoder: Compression unknown.", "PSD decoder: Compression type not
    // supported." for the merged image's coding), 6 ("This PSD color mode is not
    // supported." or a depth other than 8 bits), 1 for no channels or sizes or records that
    // pass their section, 11 when the data ends early or cannot hold the merged image.
    // Everything is checked before anything is allocated for the image.
    void Open(PLDataSource* source) override;

    // Decodes the merged image into bmp and frees the layer records, also on failure. Throws
    // PLTextException code 1 for PackBits runs passing a row, 11 when the data ends early.
    void GetImage(PLBmp& bmp) override;

    // Frees the layer records, then closes as every decoder does.
    void Close() override;

private:
    // One record of the layer section; the layer's pixels are never decoded.
    struct LayerRecord {
        std::int32_t top = 0;
        std::int32_t left = 0;
        std::int32_t bottom = 0;
        std::int32_t right = 0;
        std::uint16_t channelCount = 0;
        std::vector<std::pair<std::uint16_t, std::uint32_t>> channels;  // id, data length
        std::array<std::uint8_t, 4> blendSignature{};
        std::array<std::uint8_t, 4> blendKey{};
        std::uint8_t opacity = 0;
        std::uint8_t clipping = 0;
        std::uint8_t flags = 0;
        std::uint32_t extraLength = 0;
    };

    void ReadImageResources(PLDataSource& source);
    void ReadLayerSection(PLDataSource& source);
    void StoreRow(PLBmp& bmp, std::int32_t channel, std::int32_t row,
                  const std::uint8_t* bytes) const;

    std::uint16_t channelCount = 0;
    std::uint16_t colourMode = 0;
    std::uint16_t compression = 0;  // of the merged image: 0 raw, 1 PackBits
    // 256 entries of blue, green, red, alpha; entries the file does not give are 0.
    std::array<std::uint8_t, 1024> palette{};
    PLPoint resolution;
    std::int32_t layerSectionStart = 0;
    std::uint32_t layerSectionLength = 0;
    std::int32_t layerCount = 0;
    std::vector<LayerRecord> layers;
};
