#pragma once

// Tile layouts: rotated copies of the texture image scattered over a surface so that the
// image keeps its size and shape where a single wrap would stretch it. A TileMap covers a band
// of a surface of revolution (angle around the axis, length along the profile); a PolarMap
// covers a cap around a pole in plane coordinates. Cells index the tiles that may cover them
// through chains of IndLink, so the shader looks only at those.
//
// Builds are deterministic: the tile rotations and jitter draw on the owner's build-marker
// word (multiplier 1664525, increment 1013904223), which Build resets to 0x31415927.

#include <cstdint>

class CustomRevTex;

struct TexTile {  // 28 bytes
    float scale = 0;
    // Surface offset from the centre (angle difference, length difference) to image offset:
    // ha = cos(theta) r s, hd = sin(theta) s, va = -sin(theta) r s, vd = cos(theta) s.
    float ha = 0;
    float hd = 0;
    float va = 0;
    float vd = 0;
    float ca = 0;  // centre: angle and length coordinates (plane x and y in a polar map)
    float cd = 0;
};
static_assert(sizeof(TexTile) == 28);

struct IndLink {  // 8 bytes
    std::int32_t ind = 0;    // tile index
    std::int32_t next = -1;  // next link, -1 ends the chain
};
static_assert(sizeof(IndLink) == 8);

// Buffers are on the private heap; FreeTileMap releases them and the destructor calls it.
struct TileMap {
    TileMap() = default;
    ~TileMap();
    TileMap(const TileMap&) = delete;
    TileMap& operator=(const TileMap&) = delete;

    double mScale = 0;  // smallest tile scale, texture pixels per surface unit
    double len = 0;
    double OverLen1 = 0;
    double OverLen2 = 0;
    double lStart = 0;
    double lEnd = 0;
    std::int32_t* cells = nullptr;  // hcells x vcells heads, -1 empty
    IndLink* heaps = nullptr;
    TexTile* tiles = nullptr;
    std::uint8_t* coverage = nullptr;  // the builder's working raster
    std::int32_t overCell1 = 0;
    std::int32_t overCell2 = 0;
    std::int32_t ind = 0;  // which end of the mapping: selects maxCirc1 or maxCirc2
    std::int32_t vcr = 0;  // cell rows of the band itself
    std::int32_t tileCapacity = 0;
    std::int32_t tileCount = 0;
    std::int32_t heapCapacity = 0;
    std::int32_t heapCount = 0;
    std::int32_t hcells = 0;
    std::int32_t vcells = 0;
    CustomRevTex* owner = nullptr;
};

struct PolarMap {
    PolarMap() = default;
    ~PolarMap();
    PolarMap(const PolarMap&) = delete;
    PolarMap& operator=(const PolarMap&) = delete;

    double scale = 0;
    double logr = 0;  // ln(lOuter / lInner)
    double lInner = 0;
    double lOuter = 0;
    std::int32_t* cells = nullptr;  // (2 cells) x (2 cells) heads, -1 empty
    IndLink* heaps = nullptr;
    TexTile* tiles = nullptr;
    std::int32_t* coverage = nullptr;
    std::int32_t ind = 0;
    std::int32_t tileCapacity = 0;
    std::int32_t tileCount = 0;
    std::int32_t heapCapacity = 0;
    std::int32_t heapCount = 0;
    std::int32_t cellsPerSide = 0;  // stored as "cells"
    CustomRevTex* owner = nullptr;
};

// Called with (value, total) while maps are built; null when nobody wants progress. A hook
// may throw to abandon the build; the builders catch nothing.
using TexMapProgressFn = void (*)(int value, int total);
extern TexMapProgressFn TexMapProgressHook;

// Rebuild the whole layout of one map from its owner's parameters. Return false, leaving the
// map without tiles, when the parameters are unusable (no image, sizes not positive or not
// finite, rasters beyond their limits). Throw KVOutOfMemoryException when a buffer cannot grow.
bool BuildTileMap(TileMap& map);
bool BuildPolarMap(PolarMap& map);

// Release the four buffers; the map object itself stays.
void FreeTileMap(TileMap& map);
void FreePolarMap(PolarMap& map);
