#pragma once

// QTexture is one texture of a scene document: its name, the texture file it came from, its
// material parameter record (which owns the mapping object), the image that supplies its
// pixels, and its 128 x 128 preview picture. Textures live in the document's texture list;
// scene objects register on them and hear their deletion, restoration and changes.
//
// A texture holds its image by registering on it (set 0); the image deletes itself when the
// last texture lets go, and a texture whose image goes away simply has none.

#include "core/private_block.h"
#include "object/q_reference_object.h"
#include "texture/texture_params.h"
#include "texture/texture_preview.h"

#include <cstdint>
#include <memory>
#include <string>

class TextureDocument;
class QTextureImage;

class QTexture : public QReferenceObject {
public:
    // Type id 6, type flag 1, no image, a new parameter record with cTiles 2.0 entered in the
    // material table (materialHandle), a 128 x 128 preview without pixels. The document is not
    // owned. Throws KVOutOfMemoryException.
    explicit QTexture(TextureDocument* document);

    // Broadcasts message 0 first, so referrers let go while the record and the image are
    // still whole, then releases the preview scene (whose object wears the record), the
    // image, the record and the preview pixels.
    ~QTexture() override;

    QTexture(const QTexture&) = delete;
    QTexture& operator=(const QTexture&) = delete;

    // Forgets the image when it announces its destruction (message 0 from type 10).
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // The image, or null.
    QTextureImage* Image() const { return image; }

    // Holds image (null for none) instead of the current one: registers on the new image
    // first, then lets go of the old one, which may delete itself. Throws std::bad_alloc.
    void SetImage(QTextureImage* newImage);

    std::string filePath;  // the texture file LoadTextureFile reads
    std::string name;
    std::uint8_t type = 1;  // 1: imports build the default mapping; the pyramid is bordered
    std::unique_ptr<TextureParams> params;
    TextureDocument* document = nullptr;
    std::int32_t previewWidth = 128;
    std::int32_t previewHeight = 128;
    std::int32_t previewStride = 512;
    PrivateBlockPtr<std::uint32_t> previewPixels;  // previewStride x previewHeight bytes
    // The record's handle in the material table, which part records that wear the texture
    // hold; 0 when no table is installed.
    std::uint32_t materialHandle = 0;
    // The private scene and view that draw the preview; null until it is first drawn.
    std::unique_ptr<TexturePreviewScene> previewScene;

protected:
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    void ForgetImage();

    QTextureImage* image = nullptr;
    const TexPyramid* imagePyramid = nullptr;  // the image's pyramid, known without the image
};

// Result codes of LoadTextureFile (besides the texture reader's).
inline constexpr std::int32_t TextureFileUnreadable = 1;

// Reads the texture from the texture file at texture.filePath, sharing images with the
// textures of document (texture.document when null). Returns 0 (also without a file path),
// 1 when the file cannot be read or parsed, else the texture reader's code (4 no texture
// element, 5 the image could not be imported). On success the texture is named after the
// file, without folder and extension; a failed read keeps the old name. Throws
// KVOutOfMemoryException.
std::int32_t LoadTextureFile(QTexture& texture, TextureDocument* document);
