#include "texture/texture_import.h"

#include "core/check.h"
#include "core/crc32.h"
#include "core/float_convert.h"
#include "core/private_heap.h"
#include "imaging/image_file.h"
#include "object/operation_progress.h"
#include "object/q_abort_exception.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/tex_maps.h"
#include "texture/texture_preview.h"

#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace {

constexpr std::int32_t ProgressStageMapping = 16;

// Puts the progress hook back however the build ends.
class ProgressHookScope {
public:
    explicit ProgressHookScope(TexMapProgressFn hook) : saved(TexMapProgressHook) {
        TexMapProgressHook = hook;
    }
    ~ProgressHookScope() { TexMapProgressHook = saved; }
    ProgressHookScope(const ProgressHookScope&) = delete;
    ProgressHookScope& operator=(const ProgressHookScope&) = delete;

private:
    TexMapProgressFn saved;
};

// Points the record at the new image's pyramid for a mapping build and puts the previous
// pyramid and mapping back unless the import commits, so that a failure or a throw anywhere
// before the image is attached leaves the record sampling the image the texture holds.
class MappingTrial {
public:
    MappingTrial(TextureParams& record, TexPyramid* pyramid)
        : params(record),
          previousPyramid(record.image),
          previousMapping(std::move(record.mapping)) {
        params.image = pyramid;
    }
    ~MappingTrial() {
        if (isCommitted) return;
        params.image = previousPyramid;
        params.mapping = std::move(previousMapping);
    }
    MappingTrial(const MappingTrial&) = delete;
    MappingTrial& operator=(const MappingTrial&) = delete;

    void Commit() { isCommitted = true; }

private:
    TextureParams& params;
    TexPyramid* previousPyramid = nullptr;
    std::unique_ptr<ObjectTex> previousMapping;
    bool isCommitted = false;
};

// True when width x height words fit one private-heap block.
bool UsableSize(std::int32_t width, std::int32_t height) {
    return width > 0 && height > 0 &&
           static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 <=
               std::numeric_limits<std::uint32_t>::max();
}

// Re-colours the image's own pixels from the file, keeping each pixel's alpha; the file is
// resampled to the image's size first. Returns false when the file cannot be decoded.
bool RecolourFromFile(QTextureImage& image, std::string_view fileName, std::string& errorText) {
    std::int32_t fileWidth = 0;
    std::int32_t fileHeight = 0;
    std::int32_t fileStride = 0;
    bool filePremultiplied = false;
    std::uint8_t* raw = nullptr;
    if (LoadImageFile("argb", fileWidth, raw, fileName, nullptr, 0, filePremultiplied,
                      fileHeight, fileStride, errorText) != ImageFileOk) {
        return false;
    }
    PrivateBlockPtr<std::uint8_t> loaded(raw);
    const std::uint8_t* source = loaded.get();
    std::int32_t sourceStride = fileStride;
    ResampledImage resized;
    if (fileWidth != image.width || fileHeight != image.height) {
        if (ResampleImage(loaded.get(), fileWidth, fileHeight, fileStride, image.width,
                          image.height, resized, errorText) != ImageFileOk) {
            return false;
        }
        source = reinterpret_cast<const std::uint8_t*>(resized.words.data());
        sourceStride = image.width * 4;
    }
    auto* words = reinterpret_cast<std::uint8_t*>(image.colourPixels.get());
    for (std::int32_t y = 0; y < image.height; ++y) {
        auto* row =
            reinterpret_cast<std::uint32_t*>(words + static_cast<std::size_t>(y) * image.stride);
        const std::uint8_t* from = source + static_cast<std::size_t>(y) * sourceStride;
        for (std::int32_t x = 0; x < image.width; ++x) {
            std::uint32_t colour = 0;
            std::memcpy(&colour, from + 4 * x, 4);
            row[x] = (row[x] & 0xFF000000u) | (colour & 0x00FFFFFFu);
        }
    }
    image.premultiplied = false;
    return true;
}

}  // namespace

std::int16_t ImportTextureImage(QTexture& texture, const std::uint32_t* pixels,
                                QTextureImage* image, bool renderPreview, bool acceptPremultiplied,
                                bool buildMapping, std::string& errorText, std::int32_t width,
                                std::int32_t height, bool premultiplied) {
    ORBELLE_CHECK(image != nullptr);
    TextureParams& params = *texture.params;
    QTextureImage* current = texture.Image();

    // The bump map travels from the texture's present image to the new one.
    std::int32_t bumpWidth = 0;
    std::int32_t bumpHeight = 0;
    PrivateBlockPtr<std::uint8_t> bump;
    if (current != nullptr) bump = current->CopyBumpBuffer(bumpWidth, bumpHeight);

    if (pixels == nullptr && image->imageName.empty()) return TextureImportNoSource;
    std::int32_t stride = width * 4;
    if (pixels != nullptr) {
        if (!UsableSize(width, height)) return TextureImportPyramidRefused;
    } else if (!buildMapping && current != nullptr && current->colourPixels) {
        // Same image file, new colours: the alpha the user painted stays.
        if (!RecolourFromFile(*current, image->imageName, errorText)) return TextureImportUndecodable;
        pixels = current->colourPixels.get();
        width = current->width;
        height = current->height;
        stride = current->stride;
        premultiplied = false;
    } else {
        std::uint8_t* raw = nullptr;
        std::int32_t loadedStride = 0;
        bool loadedPremultiplied = false;
        std::int32_t loadedWidth = 0;
        std::int32_t loadedHeight = 0;
        if (LoadImageFile("argb", loadedWidth, raw, image->imageName, nullptr, 0,
                          loadedPremultiplied, loadedHeight, loadedStride, errorText) > 0) {
            return TextureImportUndecodable;
        }
        PrivateBlockPtr<std::uint32_t> loaded(reinterpret_cast<std::uint32_t*>(raw));
        if (loaded == nullptr || !UsableSize(loadedWidth, loadedHeight)) {
            return TextureImportUndecodable;
        }
        if (loadedPremultiplied && !acceptPremultiplied) return TextureImportPremultiplied;
        image->TakeColourPixels(std::move(loaded), loadedWidth, loadedHeight, loadedStride,
                                loadedPremultiplied);
        pixels = image->colourPixels.get();
        width = loadedWidth;
        height = loadedHeight;
        stride = loadedStride;
        premultiplied = loadedPremultiplied;
        buildMapping = true;
    }

    if (pixels != image->colourPixels.get()) {
        image->CopyColourPixelsFrom(pixels, width, height, stride, premultiplied);
        pixels = image->colourPixels.get();
    }

    // The pyramid takes premultiplied colour.
    const std::int32_t rowPitch = stride / 4;
    PrivateBlockPtr<std::uint32_t> premultipliedCopy;
    const std::uint32_t* source = pixels;
    if (!premultiplied) {
        const auto words = static_cast<std::uint32_t>(rowPitch) * static_cast<std::uint32_t>(height);
        premultipliedCopy = PrivateAllocBlock<std::uint32_t>(words);
        std::memcpy(premultipliedCopy.get(), pixels, static_cast<std::size_t>(words) * 4);
        PremultiplyAlpha(reinterpret_cast<std::uint8_t*>(premultipliedCopy.get()), rowPitch, height);
        source = premultipliedCopy.get();
    }
    if (TexPyramidSetImage(*image->pyramid, source, rowPitch, width, height, texture.type != 0) != 0) {
        return TextureImportPyramidRefused;
    }
    premultipliedCopy.reset();

    std::optional<MappingTrial> mappingTrial;
    if (texture.type != 0 && buildMapping) {
        // The texture keeps its mapping and image unless the new mapping is built: a texture
        // that silently lost both would draw untextured and save without its image.
        mappingTrial.emplace(params, image->pyramid.get());
        {
            ProgressHookScope hook(ReportTextureProgress);
            BuildDefaultVersaTex(params);
        }
        if (OperationProgress* progress = CurrentOperationProgress()) {
            progress->AnnounceProgress(ProgressStageMapping, 100);
            progress->EndProgress();
        }
        if (!params.mapping) return TextureImportMappingFailed;
    }
    if (bump) image->SetBumpMap(bump.get(), bumpWidth, bumpHeight, {});
    image->colourId = Crc32(pixels, static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    // Attach first: should registering fail, the record still samples the image it holds.
    texture.SetImage(image);
    params.image = image->pyramid.get();
    if (mappingTrial) mappingTrial->Commit();
    if (renderPreview) RenderTexturePreview(texture, PreviewRebuildMode);
    return TextureImportOk;
}

void ReportTextureProgress(int done, int total) {
    OperationProgress* progress = CurrentOperationProgress();
    if (progress == nullptr) return;
    progress->AnnounceProgress(
        ProgressStageMapping,
        TruncToInt32(static_cast<double>(done) * 100.0 / static_cast<double>(total)));
    if (progress->IsAbortRequested()) throw QAbortException{};
}
