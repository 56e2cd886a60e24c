#pragma once

// QTextureImage holds the pixels behind one or more textures: the 32-bit colour image, the
// optional 8-bit bump map and the pyramid the shader samples. Textures share an image by
// registering on it; the image registers on nothing and deletes itself when the last texture
// lets go. Its colour id and bump id (CRC-32 of the pixels and of the bump bytes) let the
// texture reader recognise an image that is already loaded.
//
// The colour pixels are the words 0xAARRGGBB ("argb") on the private heap, rows `stride`
// bytes apart. The pyramid keeps its own copies: the colour image premultiplied, the bump map
// as given, each centred in a padded buffer.

#include "core/private_block.h"
#include "object/q_reference_object.h"
#include "texture/tex_pyramid.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Results of QTextureImage::SetBumpMap besides the image loader's codes.
inline constexpr std::int32_t BumpMapNoColourImage = -1;
inline constexpr std::int32_t BumpMapRefused = 6;

class QTextureImage : public QReferenceObject {
public:
    // Type id 10, auto-delete, empty pyramid, no pixels, ids 0, the name kept when not empty.
    // Throws KVOutOfMemoryException (std::bad_alloc translated) when memory runs out.
    QTextureImage();
    explicit QTextureImage(std::string_view name);
    // Broadcasts message 0, so the textures still holding it let go, then frees everything.
    ~QTextureImage() override;

    QTextureImage(const QTextureImage&) = delete;
    QTextureImage& operator=(const QTextureImage&) = delete;

    // A private-heap copy of width x height colour words with their size and premultiplied
    // flag; null (outputs untouched) when there are no colour pixels. Throws
    // KVOutOfMemoryException.
    PrivateBlockPtr<std::uint32_t> CopyColorBuffer(std::int32_t& width, std::int32_t& height,
                                                   bool& premultiplied) const;

    // A private-heap copy of the bump map as it was set (width x height bytes, the pyramid's
    // image size, rows packed); null when the pyramid holds no bump map. Throws
    // KVOutOfMemoryException.
    PrivateBlockPtr<std::uint8_t> CopyBumpBuffer(std::int32_t& width, std::int32_t& height) const;

    // Installs an 8-bit bump map of width x height bytes from pixels (kept by the caller), or,
    // with no pixels, from the greyscale image file at path. A map of another size than the
    // image is resampled to it. Returns 0 (also when there is nothing to do), -1 when a file
    // is named but there is no colour image, 6 when the pyramid cannot take the map (or it
    // cannot be resampled), else the image loader's code. The bump id follows the stored map
    // (0 when none is held). Throws KVOutOfMemoryException.
    int SetBumpMap(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                   std::string_view path);

    // Replaces the colour pixels by a private-heap copy of height rows of stride bytes.
    // Throws KVOutOfMemoryException and keeps the old pixels.
    void CopyColourPixelsFrom(const std::uint32_t* source, std::int32_t width,
                              std::int32_t height, std::int32_t stride, bool premultiplied);

    // Takes ownership of pixels as the colour pixels.
    void TakeColourPixels(PrivateBlockPtr<std::uint32_t> source, std::int32_t width,
                          std::int32_t height, std::int32_t stride, bool premultiplied);

    std::unique_ptr<TexPyramid> pyramid;
    std::string imageName;       // "iName": the file the colour image came from; may be empty
    std::uint8_t forceAlpha = 0;  // "iForceAlpha", kept and written back
    std::uint32_t colourId = 0;   // CRC-32 of the colour pixels, 0 when none
    std::uint32_t bumpId = 0;     // CRC-32 of the bump bytes, 0 when none
    PrivateBlockPtr<std::uint32_t> colourPixels;
    std::int32_t stride = 0;  // bytes per row of colourPixels
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool premultiplied = false;  // colourPixels already carry premultiplied colour
};
