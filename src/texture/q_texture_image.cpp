#include "texture/q_texture_image.h"

#include "core/crc32.h"
#include "core/private_heap.h"
#include "imaging/image_file.h"

#include <bit>
#include <cstring>
#include <new>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "colour words are handled as blue, green, red, alpha bytes");

namespace {

std::uint32_t ByteCount(std::int32_t width, std::int32_t height, std::int32_t bytesPerPixel) {
    return static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) *
           static_cast<std::uint32_t>(bytesPerPixel);
}

// Bump maps of another size are resampled as the alpha byte of otherwise black 32-bit pixels,
// so they get the same Gaussian kernel as colour images. Null when the sizes are refused.
PrivateBlockPtr<std::uint8_t> ResampleGreyMap(const std::uint8_t* pixels, std::int32_t width,
                                              std::int32_t height, std::int32_t newWidth,
                                              std::int32_t newHeight) {
    std::vector<std::uint32_t> words;
    TranslateBadAlloc([&] {
        words.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    });
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = std::uint32_t{pixels[i]} << 24;
    ResampledImage resized;
    std::string errorText;
    if (ResampleImage(reinterpret_cast<const std::uint8_t*>(words.data()), width, height, 0,
                      newWidth, newHeight, resized, errorText) != ImageFileOk) {
        return nullptr;
    }
    auto resampled = PrivateAllocBlock<std::uint8_t>(ByteCount(newWidth, newHeight, 1));
    for (std::size_t i = 0; i < resized.words.size(); ++i) {
        resampled.get()[i] = static_cast<std::uint8_t>(resized.words[i] >> 24);
    }
    return resampled;
}

}  // namespace

QTextureImage::QTextureImage() : QTextureImage(std::string_view{}) {}

QTextureImage::QTextureImage(std::string_view name) {
    typeId = TypeIdTextureImage;
    SetAutoDelete(true);
    TranslateBadAlloc([&] {
        imageName = name;
        pyramid = std::make_unique<TexPyramid>();
    });
    TexPyramidInit(*pyramid);
}

QTextureImage::~QTextureImage() { Broadcast(this, MessageDestroyed, 0); }

PrivateBlockPtr<std::uint32_t> QTextureImage::CopyColorBuffer(std::int32_t& outWidth,
                                                              std::int32_t& outHeight,
                                                              bool& outPremultiplied) const {
    if (!pyramid || !colourPixels || width <= 0 || height <= 0) return nullptr;
    auto copy = PrivateAllocBlock<std::uint32_t>(ByteCount(width, height, 1));
    for (std::int32_t y = 0; y < height; ++y) {
        std::memcpy(copy.get() + static_cast<std::size_t>(y) * width,
                    reinterpret_cast<const std::uint8_t*>(colourPixels.get()) +
                        static_cast<std::size_t>(y) * stride,
                    static_cast<std::size_t>(width) * 4);
    }
    outWidth = width;
    outHeight = height;
    outPremultiplied = premultiplied;
    return copy;
}

PrivateBlockPtr<std::uint8_t> QTextureImage::CopyBumpBuffer(std::int32_t& outWidth,
                                                            std::int32_t& outHeight) const {
    if (!pyramid || !TexPyramidHasMap(*pyramid)) return nullptr;
    const TexPyramid& p = *pyramid;
    // The plain bytes as they were set sit centred in the padded source; level 0 holds them
    // in the halved channel form and would lose the low bit on every save.
    const std::int32_t top = (p.paddedHeight - p.height) / 2;
    const std::int32_t left = (p.paddedWidth - p.width) / 2;
    auto copy = PrivateAllocBlock<std::uint8_t>(ByteCount(p.width, p.height, 1));
    for (std::int32_t y = 0; y < p.height; ++y) {
        std::memcpy(copy.get() + static_cast<std::size_t>(y) * p.width,
                    p.paddedMapSource + static_cast<std::size_t>(y + top) * p.paddedWidth + left,
                    static_cast<std::size_t>(p.width));
    }
    outWidth = p.width;
    outHeight = p.height;
    return copy;
}

int QTextureImage::SetBumpMap(const std::uint8_t* pixels, std::int32_t mapWidth,
                              std::int32_t mapHeight, std::string_view path) {
    PrivateBlockPtr<std::uint8_t> loaded;
    if (pixels == nullptr) {
        const bool hasImage = TexPyramidHasImage(*pyramid);
        if (path.empty()) return hasImage ? 0 : BumpMapNoColourImage;
        if (!hasImage) return BumpMapNoColourImage;
        std::uint8_t* raw = nullptr;
        std::string errorText;
        const std::int32_t code = LoadGrayscaleImage(mapHeight, errorText, raw, mapWidth, path);
        loaded.reset(raw);
        if (code != 0) return code;
        if (raw == nullptr) return 0;
        pixels = raw;
    }

    const TexPyramid& p = *pyramid;
    PrivateBlockPtr<std::uint8_t> resampled;
    bool usable = TexPyramidHasImage(p) && mapWidth > 0 && mapHeight > 0;
    if (usable && (mapWidth != p.width || mapHeight != p.height)) {
        resampled = ResampleGreyMap(pixels, mapWidth, mapHeight, p.width, p.height);
        loaded.reset();
        pixels = resampled.get();
        usable = pixels != nullptr;
    }
    // The id describes the map the image holds: none after a refusal, since the pyramid drops
    // its old map before it takes a new one.
    if (!usable || TexPyramidSetMap(*pyramid, pixels, p.width) != 0) {
        TexPyramidDropMap(*pyramid);
        bumpId = 0;
        return BumpMapRefused;
    }
    bumpId = Crc32(pixels, static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
    return 0;
}

void QTextureImage::CopyColourPixelsFrom(const std::uint32_t* source, std::int32_t newWidth,
                                         std::int32_t newHeight, std::int32_t newStride,
                                         bool isPremultiplied) {
    const std::size_t bytes = static_cast<std::size_t>(newStride) * static_cast<std::size_t>(newHeight);
    auto copy = PrivateAllocBlock<std::uint8_t>(static_cast<std::uint32_t>(bytes));
    std::memcpy(copy.get(), source, bytes);
    TakeColourPixels(PrivateBlockPtr<std::uint32_t>(reinterpret_cast<std::uint32_t*>(copy.release())),
                     newWidth, newHeight, newStride, isPremultiplied);
}

void QTextureImage::TakeColourPixels(PrivateBlockPtr<std::uint32_t> source, std::int32_t newWidth,
                                     std::int32_t newHeight, std::int32_t newStride,
                                     bool isPremultiplied) {
    colourPixels = std::move(source);
    width = newWidth;
    height = newHeight;
    stride = newStride;
    premultiplied = isPremultiplied;
}
