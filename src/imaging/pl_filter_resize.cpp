#include "imaging/pl_filter_resize.h"

#include "imaging/c2_pass_scale.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_text_exception.h"

PLFilterResize::PLFilterResize(std::int32_t width, std::int32_t height)
    : newWidth(width), newHeight(height) {}

void PLFilterResize::Resize(const PLBmp& source, PLBmp& dest, const PLContribDef& kernel,
                            bool allow24) const {
    if (&source == &dest) {
        ApplyInPlace(dest);
        return;
    }
    // The scaler reads whole 3- or 4-byte pixels; any other depth would be read past its
    // rows, so it is refused here.
    const std::uint32_t bpp = source.GetBitsPerPixel();
    if (bpp != 32 && !(allow24 && bpp == 24)) {
        throw PLTextException(PLErrFormatNotSupported,
                              "Resizing " + source.GetPixelFormat().GetName() +
                                  " images not supported.");
    }
    dest.CreateFromData(newWidth, newHeight, source.GetPixelFormat(), nullptr, 0,
                        source.GetResolution());
    if (bpp == 32) {
        C2PassScale<CDataRGBA_UBYTE>(kernel).Scale(source.GetLineArray(), source.GetWidth(),
                                                   source.GetHeight(), dest.GetLineArray(),
                                                   newWidth, newHeight);
    } else {
        C2PassScale<CDataRGB_UBYTE>(kernel).Scale(source.GetLineArray(), source.GetWidth(),
                                                  source.GetHeight(), dest.GetLineArray(),
                                                  newWidth, newHeight);
    }
}
