#include "imaging/pl_psd_decoder.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// File header, 26 bytes.
constexpr std::int32_t PsdHeaderBytes = 26;
constexpr int HeaderChannels = 12;
constexpr int HeaderHeight = 14;
constexpr int HeaderWidth = 18;
constexpr int HeaderDepth = 22;
constexpr int HeaderMode = 24;

constexpr std::uint16_t GreyscaleMode = 1;
constexpr std::uint16_t IndexedMode = 2;
constexpr std::uint16_t RgbMode = 3;

constexpr std::uint32_t PaletteBytes = 768;  // 256 red, 256 green, 256 blue
constexpr std::uint16_t ResolutionResource = 1005;
constexpr std::uint32_t ResolutionBytes = 16;

// Per layer: four bounds and the channel count; per channel an id and a length; then blend
// signature and key, opacity, clipping, flags, a filler byte and the extra-data length.
constexpr std::int32_t LayerBoundsBytes = 18;
constexpr std::int32_t LayerChannelBytes = 6;
constexpr std::int32_t LayerBlendBytes = 16;

constexpr std::uint16_t RawCompression = 0;
constexpr std::uint16_t PackBitsCompression = 1;

[[noreturn]] void ThrowPassesSection(const char* what) {
    PLPicDecoder::RaiseError(PLErrWrongSignature,
                             std::string("PSD decoder: ") + what + " passes its section.");
}

const std::uint8_t* ReadCounted(PLDataSource& source, std::int64_t count) {
    if (count < 0 || count > source.GetBytesLeft()) PLDataSource::ThrowEndOfFile();
    return source.ReadBytes(static_cast<std::int32_t>(count));
}

}  // namespace

void PLPSDDecoder::Open(PLDataSource* source) {
    palette.fill(0);
    resolution = {0, 0};
    layerSectionStart = 0;
    layerSectionLength = 0;
    layerCount = 0;
    layers.clear();

    const std::uint8_t* header = source->ReadBytes(PsdHeaderBytes);
    if (std::memcmp(header, "8BPS", 4) != 0) {
        RaiseError(PLErrFormatUnknown, "PSD decoder: This isn't a photoshop file.");
    }
    channelCount = LoadU16BE(header + HeaderChannels);
    const std::uint32_t height = LoadU32BE(header + HeaderHeight);
    const std::uint32_t width = LoadU32BE(header + HeaderWidth);
    const std::uint16_t depth = LoadU16BE(header + HeaderDepth);
    colourMode = LoadU16BE(header + HeaderMode);

    // Colour mode data: the palette of an indexed document. Its whole length is stepped
    // over, so data of another length does not shift the sections after it.
    const std::uint32_t modeDataLength = LoadU32BE(source->ReadBytes(4));
    const std::uint8_t* modeData = ReadCounted(*source, modeDataLength);
    if (modeDataLength >= PaletteBytes) {
        for (int i = 0; i < 256; ++i) {
            std::uint8_t* entry = palette.data() + 4 * i;
            entry[0] = modeData[512 + i];
            entry[1] = modeData[256 + i];
            entry[2] = modeData[i];
            entry[3] = 255;
        }
    }

    ReadImageResources(*source);

    PLPixelFormat format;
    switch (colourMode) {
        case GreyscaleMode:
            format = PLPixelFormat::L8;
            for (int i = 0; i < 256; ++i) {
                std::fill_n(palette.data() + 4 * i, 3, static_cast<std::uint8_t>(i));
                palette[static_cast<std::size_t>(4 * i + 3)] = 255;
            }
            break;
        case IndexedMode:
            format = PLPixelFormat::I8;
            break;
        case RgbMode:
            format = channelCount < 4 ? PLPixelFormat::X8R8G8B8 : PLPixelFormat::A8R8G8B8;
            break;
        default:
            RaiseError(PLErrFormatNotSupported, "This PSD color mode is not supported.");
    }
    // Rows are read as one byte a sample; other depths would be read as garbage.
    if (depth != 8) RaiseError(PLErrFormatNotSupported, "This PSD bit depth is not supported.");
    if (width > INT32_MAX || height > INT32_MAX) {
        RaiseError(PLErrWrongSignature, "PSD decoder: Image size out of range.");
    }
    // A document stores at least one channel; without one, no data could bound the size its
    // header claims, and the bitmap would be all of it.
    if (channelCount == 0) RaiseError(PLErrWrongSignature, "PSD decoder: Image has no channels.");

    ReadLayerSection(*source);

    // The merged image's compression word follows the layer section. It is read here, so
    // that a coding the decoder does not read and a short file both fail before the bitmap
    // is allocated.
    const std::int64_t sectionEnd = layerSectionLength > 0
                                        ? layerSectionStart + std::int64_t{layerSectionLength}
                                        : source->GetBytesRead();
    if (sectionEnd + 2 > source->GetFileSize()) PLDataSource::ThrowEndOfFile();
    compression = LoadU16BE(source->GetCurrentPtr() + (sectionEnd - source->GetBytesRead()));
    if (compression > 3) RaiseError(PLErrFormatUnknown, "PSD decoder: Compression unknown.");
    if (compression != RawCompression && compression != PackBitsCompression) {
        RaiseError(PLErrFormatUnknown, "PSD decoder: Compression type not supported.");
    }
    // The least data the merged image can take: every byte raw; packed, a count per row and
    // two bytes for every 128 pixels.
    const std::int64_t rowLeast =
        compression == RawCompression ? std::int64_t{width} : 2 + 2 * ((width + 127) / 128);
    const std::int64_t storedChannels =
        std::min<std::int64_t>(channelCount, colourMode == RgbMode ? 4 : 1);
    // Divided rather than multiplied: channels, rows and row bytes together can pass 64 bits.
    const std::int64_t imageBytes = source->GetFileSize() - (sectionEnd + 2);
    if (height > 0 && storedChannels * rowLeast > imageBytes / height) {
        PLDataSource::ThrowEndOfFile();
    }

    SetInfo({static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)}, resolution,
            format);
}

void PLPSDDecoder::ReadImageResources(PLDataSource& source) {
    const std::uint32_t length = LoadU32BE(source.ReadBytes(4));
    const std::uint8_t* section = ReadCounted(source, length);
    std::uint32_t at = 0;
    // Every block is checked against the section, so a bad size cannot reach the sections
    // after it.
    const auto take = [&](std::uint32_t count) {
        if (count > length - at) ThrowPassesSection("Resource data block");
        const std::uint8_t* bytes = section + at;
        at += count;
        return bytes;
    };
    while (at < length) {
        const std::uint8_t* block = take(7);
        if (std::memcmp(block, "8BIM", 4) != 0) {
            RaiseError(PLErrFormatUnknown, "PSD decoder: Wrong signature in resource data block.");
        }
        const std::uint16_t id = LoadU16BE(block + 4);
        // The length byte and the name together take an even count.
        const std::uint8_t nameLength = block[6];
        const std::uint8_t* name = take(nameLength + (nameLength % 2 == 0 ? 1u : 0u));
        if (PLTraceWants(2)) {
            PLTrace(2, "Reading resource:" +
                           std::string(reinterpret_cast<const char*>(name), nameLength) + "\n");
        }
        const std::uint32_t dataSize = LoadU32BE(take(4));
        const std::uint8_t* data = take(dataSize);
        if (dataSize % 2 != 0) take(1);
        if (id == ResolutionResource && dataSize >= ResolutionBytes) {
            // 16.16 fixed-point values; the integer parts are the dots per inch.
            resolution = {static_cast<std::int32_t>(LoadU32BE(data) >> 16),
                          static_cast<std::int32_t>(LoadU32BE(data + 8) >> 16)};
        }
    }
}

void PLPSDDecoder::ReadLayerSection(PLDataSource& source) {
    layerSectionLength = LoadU32BE(source.ReadBytes(4));
    if (layerSectionLength == 0) return;
    layerSectionStart = source.GetBytesRead();
    if (layerSectionLength > static_cast<std::uint32_t>(source.GetBytesLeft())) {
        PLDataSource::ThrowEndOfFile();
    }
    const std::uint32_t infoLength = LoadU32BE(source.ReadBytes(4));
    if (infoLength > 0) {
        layerCount = std::abs(static_cast<std::int32_t>(LoadI16BE(source.ReadBytes(2))));
        if (PLTraceWants(2)) {
            PLTrace(2, "Number of layers: " + std::to_string(layerCount) + "\n");
        }
        for (std::int32_t i = 0; i < layerCount; ++i) {
            const std::uint8_t* bounds = source.ReadBytes(LayerBoundsBytes);
            LayerRecord layer;
            layer.top = LoadI32BE(bounds);
            layer.left = LoadI32BE(bounds + 4);
            layer.bottom = LoadI32BE(bounds + 8);
            layer.right = LoadI32BE(bounds + 12);
            layer.channelCount = LoadU16BE(bounds + 16);
            const std::uint8_t* channels = source.ReadBytes(layer.channelCount * LayerChannelBytes);
            layer.channels.reserve(layer.channelCount);
            for (int c = 0; c < layer.channelCount; ++c) {
                const std::uint8_t* channel = channels + c * LayerChannelBytes;
                layer.channels.emplace_back(LoadU16BE(channel), LoadU32BE(channel + 2));
            }
            const std::uint8_t* blend = source.ReadBytes(LayerBlendBytes);
            std::copy_n(blend, 4, layer.blendSignature.begin());
            std::copy_n(blend + 4, 4, layer.blendKey.begin());
            layer.opacity = blend[8];
            layer.clipping = blend[9];
            layer.flags = blend[10];
            layer.extraLength = LoadU32BE(blend + 12);
            ReadCounted(source, layer.extraLength);
            layers.push_back(std::move(layer));
        }
    }
    if (source.GetBytesRead() - layerSectionStart > std::int64_t{layerSectionLength}) {
        ThrowPassesSection("Layer data");
    }
}

void PLPSDDecoder::GetImage(PLBmp& bmp) {
    ORBELLE_CHECK(GetDataSource() != nullptr);
    ORBELLE_CHECK(bmp.GetWidth() == GetWidth() && bmp.GetHeight() == GetHeight());
    // The layer records live for one image, whichever way decoding ends.
    struct FreeLayers {
        std::vector<LayerRecord>& records;
        ~FreeLayers() { std::vector<LayerRecord>().swap(records); }
    } freeLayers{layers};

    PLDataSource& source = *GetDataSource();
    if (bmp.GetBitsPerPixel() == 8) bmp.CopyPalette(palette.data());
    if (layerSectionLength > 0) {
        source.Seek(layerSectionStart + static_cast<std::int32_t>(layerSectionLength));
    }
    // The compression word was read and checked with the header.
    source.ReadBytes(2);
    PLTrace(2, compression == RawCompression ? "No compression\n" : "RLE compression\n");

    const std::int32_t width = GetWidth();
    const std::int32_t height = GetHeight();
    // Channels past those the bitmap holds come last in the file and are not read.
    const std::int32_t storedChannels =
        std::min<std::int32_t>(channelCount, colourMode == RgbMode ? 4 : 1);
    if (bmp.GetBitsPerPixel() == 32 && channelCount < 4) {
        // Without an alpha channel the fourth byte is opaque, as in the other decoders.
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint8_t* row = bmp.GetLineArray()[y];
            for (std::int32_t x = 0; x < width; ++x) row[4 * x + 3] = 255;
        }
    }
    if (compression == RawCompression) {
        for (std::int32_t c = 0; c < storedChannels; ++c) {
            for (std::int32_t y = 0; y < height; ++y) StoreRow(bmp, c, y, source.ReadBytes(width));
        }
        return;
    }
    // PackBits: a byte count for every row of every channel, then the packed rows. Narrow
    // rows are packed like any other, so every row is expanded by its count.
    const std::uint8_t* counts = ReadCounted(source, std::int64_t{2} * height * channelCount);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
    for (std::int32_t c = 0; c < storedChannels; ++c) {
        for (std::int32_t y = 0; y < height; ++y) {
            const std::int32_t packedSize =
                LoadU16BE(counts + 2 * (static_cast<std::int64_t>(c) * height + y));
            ExpandPackBits(row.data(), width, source.ReadBytes(packedSize), packedSize);
            StoreRow(bmp, c, y, row.data());
        }
    }
}

void PLPSDDecoder::StoreRow(PLBmp& bmp, std::int32_t channel, std::int32_t row,
                            const std::uint8_t* bytes) const {
    std::uint8_t* out = bmp.GetLineArray()[row];
    const std::int32_t width = GetWidth();
    if (bmp.GetBitsPerPixel() == 8) {
        std::memcpy(out, bytes, static_cast<std::size_t>(width));
        return;
    }
    // Red, green, blue and alpha channels go to bytes 2, 1, 0 and 3 of a pixel.
    static constexpr int ByteOfChannel[4] = {2, 1, 0, 3};
    const int at = ByteOfChannel[channel];
    for (std::int32_t x = 0; x < width; ++x) out[4 * x + at] = bytes[x];
}

void PLPSDDecoder::Close() {
    std::vector<LayerRecord>().swap(layers);
    PLPicDecoder::Close();
}
