#pragma once

// The header of an image: size, resolution and pixel format. Bitmaps carry one, and so do
// decoders, which describe the image they are reading through the same fields.

#include "imaging/pl_object.h"
#include "imaging/pl_pixel_format.h"
#include "imaging/pl_point.h"

#include <cstdint>

class PLBmpInfo : public PLObject {
public:
    // A header of size 0 x 0, resolution 0, 0 and the empty format.
    PLBmpInfo() = default;
    PLBmpInfo(PLPoint size, PLPoint resolution, const PLPixelFormat& pixelFormat);

    // Sets or copies width, height, resolution and pixel format.
    void SetInfo(PLPoint size, PLPoint resolution, const PLPixelFormat& pixelFormat);
    void AssignInfo(const PLBmpInfo& other);

    std::int32_t GetWidth() const { return imageWidth; }
    std::int32_t GetHeight() const { return imageHeight; }
    PLPoint GetSize() const { return {imageWidth, imageHeight}; }
    // Dots per inch as the file gave them; 0, 0 when it gave none.
    PLPoint GetResolution() const { return imageResolution; }
    void SetResolution(PLPoint dotsPerInch) { imageResolution = dotsPerInch; }
    const PLPixelFormat& GetPixelFormat() const { return imagePixelFormat; }
    std::uint32_t GetBitsPerPixel() const { return imagePixelFormat.GetBitsPerPixel(); }
    bool HasAlpha() const { return imagePixelFormat.HasAlpha(); }

private:
    std::int32_t imageWidth = 0;
    std::int32_t imageHeight = 0;
    PLPoint imageResolution;
    PLPixelFormat imagePixelFormat;
};
