#pragma once

// Giving a texture its colour image: from pixels in memory or from the image file its image
// names, into the image's pyramid, with the bump map carried over and the default mapping
// built when asked, and then the image attached to the texture.

#include <cstdint>
#include <string>

class QTexture;
class QTextureImage;

// Results of ImportTextureImage.
enum TextureImportResult : std::int16_t {
    TextureImportOk = 0,
    TextureImportNoSource = 1,            // neither pixels nor an image name
    TextureImportUndecodable = 2,         // the image file could not be decoded
    TextureImportMappingFailed = 3,       // the default mapping could not be built or was cancelled
    TextureImportPremultiplied = 4,       // premultiplied alpha, and such images were refused
    TextureImportPyramidRefused = 5,      // the pyramid could not take the image
};

// Gives texture the colour image: width x height words 0xAARRGGBB in pixels (rows packed,
// kept by the caller), or without pixels the file named by image->imageName. The pixels land
// in image (a new private-heap copy) and its pyramid, bordered when the texture's type flag
// is set; the texture's previous bump map is resampled onto it; with buildMapping and the
// type flag set the default mapping is built, reporting through ReportTextureProgress. On
// success image becomes the texture's image (the old one is let go). On any failure the
// texture keeps its previous image, record image and mapping, image stays the caller's, and
// errorText receives the image loader's message for code 2. With renderPreview the
// preview picture is drawn after a successful import (RenderTexturePreview).
// Throws KVOutOfMemoryException, and what drawing the preview throws.
std::int16_t ImportTextureImage(QTexture& texture, const std::uint32_t* pixels,
                                QTextureImage* image, bool renderPreview,
                                bool acceptPremultiplied, bool buildMapping,
                                std::string& errorText, std::int32_t width, std::int32_t height,
                                bool premultiplied);

// Progress of a mapping build, done out of total, announced where long operations report
// (the current document: stage 16, percentage, message 7 with argument 17). Throws
// QAbortException when a listener asked for the build to be abandoned. Does nothing when
// there is nowhere to report.
void ReportTextureProgress(int done, int total);
