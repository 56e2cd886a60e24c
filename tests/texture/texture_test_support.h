#pragma once

// Small builders shared by the texture, texture image, import and XML tests: a document that
// is current for the test's duration, pixels with a fixed pattern, and a texture given an
// image through the importer.

#include "core/private_heap.h"
#include "model/q_document_base.h"
#include "model/q_texture_list.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/texture_import.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Pixels of a fixed pattern: opaque, every word different for a given seed.
inline std::vector<std::uint32_t> PatternPixels(int width, int height, std::uint32_t seed = 1) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t state = seed;
    for (auto& p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = 0xFF000000u | (state >> 8);
    }
    return pixels;
}

inline std::vector<std::uint8_t> PatternBytes(int width, int height, std::uint32_t seed = 7) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height);
    std::uint32_t state = seed;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

// A new texture of document, which the document's texture list owns.
inline QTexture* AddNewTexture(QDocumentBase& document) {
    auto texture = std::make_unique<QTexture>(&document);
    QTexture* added = texture.get();
    document.TextureList()->AddTexture(std::move(texture));
    return added;
}

// A document made current, with helpers that add textures to its list (which owns them).
class TextureDocumentTest : public testing::Test {
protected:
    void SetUp() override { SetCurrentDocument(&document); }
    void TearDown() override {
        SetCurrentDocument(nullptr);
        TexMapProgressHook = nullptr;
        PrivateHeapRefuseNext(0);
    }

    QTexture* NewTexture(std::uint8_t type = 1) {
        QTexture* texture = AddNewTexture(document);
        texture->type = type;
        return texture;
    }

    // Imports width x height pattern pixels into a new image of texture; expects success.
    QTextureImage* GiveImage(QTexture& texture, int width, int height, bool buildMapping,
                             std::uint32_t seed = 1) {
        const auto pixels = PatternPixels(width, height, seed);
        auto* image = new QTextureImage();
        std::string errorText;
        EXPECT_EQ(ImportTextureImage(texture, pixels.data(), image, false, true, buildMapping,
                                     errorText, width, height, false),
                  TextureImportOk);
        EXPECT_EQ(texture.Image(), image);
        if (texture.Image() != image) delete image;
        return texture.Image();
    }

    QDocumentBase document;
};
