#pragma once

// TextureDocument is what textures ask of the document they belong to: the images its other
// textures already hold, so that a texture read from a file shares pixels instead of keeping
// a second copy. The scene document implements it.

#include <cstdint>

class QTextureImage;

class TextureDocument {
public:
    // The image of the first texture of the document (in list order) whose image has colour
    // id `id`; null when none.
    virtual QTextureImage* FindTextureImageById(std::uint32_t id) const = 0;

protected:
    TextureDocument() = default;
    TextureDocument(const TextureDocument&) = default;
    TextureDocument& operator=(const TextureDocument&) = default;
    ~TextureDocument() = default;
};
