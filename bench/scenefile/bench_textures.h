#pragma once

// The textures of the scene benchmarks: texture t of a document is named "Texture t" and
// holds an image of side x side opaque pixels of a pattern seeded with t + 1, with its
// mapping built.

#include "model/q_document_base.h"
#include "model/q_texture_list.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/texture_import.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

inline QTexture* AddBenchTexture(QDocumentBase& document, int t, int side) {
    auto owned = std::make_unique<QTexture>(&document);
    QTexture* texture = owned.get();
    texture->type = 1;
    texture->name = "Texture " + std::to_string(t);
    document.TextureList()->AddTexture(std::move(owned));
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    std::uint32_t state = static_cast<std::uint32_t>(t) + 1;
    for (std::uint32_t& p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = 0xFF000000u | (state >> 8);
    }
    auto* image = new QTextureImage();
    std::string errorText;
    if (ImportTextureImage(*texture, pixels.data(), image, false, true, true, errorText, side,
                           side, false) != TextureImportOk) {
        std::fprintf(stderr, "texture import failed: %s\n", errorText.c_str());
        std::abort();
    }
    return texture;
}
