#pragma once

// The material parameter record: one material's mapping scale and tiling, specular, glow and
// bump settings, and the ties to its mapping object (owned) and texture image pyramid (not
// owned). Every texture holds one, and the scene geometry holds one for parts without their
// own; the shader reads it per pixel and the texture file carries its fields.

#include "core/matrix4.h"
#include "texture/object_tex.h"
#include "texture/tex_pyramid.h"

#include <cstdint>
#include <memory>
#include <numbers>

struct TextureParams {
    double glv = 1.0;                 // glow value
    double scale = 1.0;               // texture pixels per surface unit
    double ta = std::numbers::pi;     // mean tile rotation, radians
    double taR = std::numbers::pi;    // half-range of the random tile rotation
    double pCircle = 2.0;             // the default mapping spans +-pi/2 * pCircle
    double cTiles = 1.0;              // tiles around the circumference (a texture sets 2.0)
    double spf = 0.08;                // specular fraction
    double spa = 0.8;                 // specular amount
    std::uint32_t glc = 0xFFFFFF;     // glow colour 0xRRGGBB
    std::int32_t Bump = 0;
    std::uint8_t d = 0;               // mapping flag
    std::uint8_t on = 0;              // glow switched on
    // Texture transform, homogeneous coordinate first; the identity until a texture sets one.
    Matrix4W transform{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    std::unique_ptr<ObjectTex> mapping;
    TexPyramid* image = nullptr;
};

// Replaces the material's mapping with the default two-segment VersaTex; without an image (or
// with an image that holds no pixels) the material keeps no mapping. An allocation failure
// before the build throws KVOutOfMemoryException; a failure, an abandon or unusable parameters
// during the build leave the material without a mapping and `scale` unchanged.
void BuildDefaultVersaTex(TextureParams& params);

// A count of buffers on the private heap behind one pointer array, as the scene geometry keeps
// its per-part surface mapping lists.
struct BufferArray {
    std::int32_t firstIndex = 0;
    std::int32_t capacity = 0;  // buffers in the array
    std::int32_t count = 0;     // buffers in use
    void** buffers = nullptr;
};

// Frees every non-null buffer and then the array; the record is empty afterwards.
void FreeBufferArray(BufferArray& record);
