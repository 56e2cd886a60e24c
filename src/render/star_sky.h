#pragma once

// The stars of the sky in screen space. Every full frame projects the scene's star field into
// the current level (PrepareStarBuffer) and files each projected star under every pixel of
// the square it covers: the renderer's sky buffer holds, per pixel, the first entry of a chain
// of (star, next entry) pairs, so the background shading blends only the stars that reach a
// pixel (StarSkyBlend) and never scans the whole field.
//
// A star of size s below 1.7 is a disc of radius s at its own brightness; a larger one keeps
// radius 1.7 and takes brightness r s^2 / 2.89 instead, so it stays as bright in sum.

#include "core/private_block.h"

#include <array>
#include <cstdint>

struct StarField;
class QRender;

struct ProjectedStar {  // 20 bytes
    float intensity = 0;
    float x = 0;  // pixels from the projection centre
    float y = 0;
    float radius = 0;  // pixels
    std::uint32_t colour = 0;  // 0xRRGGBB
};
static_assert(sizeof(ProjectedStar) == 20);

// Star entries a renderer starts with; the array grows by a fifth when full.
inline constexpr std::int32_t StarEntriesInitial = 300;

struct StarSky {
    // Set by the view before a frame: the scene's stars (null: none) and the rotation of view
    // from world, row by row.
    const StarField* field = nullptr;
    std::array<double, 9> viewFromWorld{1, 0, 0, 0, 1, 0, 0, 0, 1};

    // Kept by PrepareStarBuffer.
    PrivateBlockPtr<ProjectedStar> projected;
    std::int32_t projectedCount = 0;    // the field count the array was made for
    PrivateBlockPtr<std::int32_t> entries;  // pairs: star index, next entry (-1 ends)
    std::int32_t entryCount = 0;
    std::int32_t entryCapacity = 0;
    std::int32_t gridWidth = 0;  // the level the sky buffer was filled for
    std::int32_t gridHeight = 0;
    double focal = 0;
};

// Projects the stars in front of the eye into the current level and rebuilds the per-pixel
// chains; a later star comes first in a pixel's chain. Does nothing when the renderer has no
// sky buffer. Throws KVOutOfMemoryException when the projected stars cannot be allocated or
// the entry array cannot grow; the chains filed until then stay usable.
void PrepareStarBuffer(QRender& render);

// Blends the stars filed under pixel (pixelX, pixelY) over colour (channels on the scale
// c x 256), in chain order; with pixelX negative the pixel is found from the ray (x, y, 1).
// A pixel outside the grid, or a renderer without a sky buffer, keeps its colour.
void StarSkyBlend(const QRender& render, std::array<std::int32_t, 3>& colour,
                  std::int32_t pixelX, std::int32_t pixelY, double x, double y);
