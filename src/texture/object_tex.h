#pragma once

// Object texture mappings: how a texture lies on one part or one texture. A mapping keeps one
// RevTex record per profile surface with the surface's length coordinates and tables and, for
// the tiled kinds, the tile layouts that cover the surfaces.
//
// UniRevTex gives a surface of revolution one continuous angle-preserving coordinate system.
// CustomRevTex lays tiles: a band along the middle and two polar caps, or two bands when the
// mapping has no poles. VersaTex is the CustomRevTex a texture owns for its default and
// imported mappings; it adds edge caps and bands.

#include "texture/rev_tex.h"
#include "texture/tex_maps.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct TextureParams;

class ObjectTex {
public:
    virtual ~ObjectTex();
    ObjectTex(const ObjectTex&) = delete;
    ObjectTex& operator=(const ObjectTex&) = delete;

    // Rebuilds everything from the profiles (numSurfs becomes profiles.size()). Throws
    // KVOutOfMemoryException on allocation failure; a progress hook's throw passes out. A build
    // on unusable parameters completes with IsUsable() false.
    virtual void Build(std::span<const Rtp> profiles) = 0;

    // True when the last Build produced a mapping the shader can use.
    bool IsUsable() const { return usable; }

    // For readers that restore a saved mapping as it was written, without a Build: marks it
    // usable once it has been read whole and checked.
    void MarkRestored() { usable = true; }

    double length = 0;  // total length coordinate of all surfaces
    double inLen = 0;   // length coordinate at the end of map 0's surfaces (no poles)
    std::int32_t type = 0;  // 1 UniRevTex, 0 CustomRevTex and VersaTex
    std::int32_t recordCapacity = 0;
    std::int32_t numSurfs = 0;
    std::uint8_t flag = 0;
    std::uint8_t poleless = 0;  // 1: no poles; surfaces carry a band number in `map`
    RevTex** records = nullptr;  // recordCapacity records on the private heap
    TextureParams* material = nullptr;
    // The body warp the shading applies to (u, v): bits 8-15 its kind (0 none, 2 the elliptic
    // integral of render/body_warp.h, with the scale and modulus below), bits 16-23 its stage.
    std::uint32_t warpWord = 0;
    double warpScale = 0;
    double warpModulus = 0;

protected:
    explicit ObjectTex(std::int32_t kind);
    // Makes room for count records (new ones 104 bytes); throws KVOutOfMemoryException.
    void GrowRecords(int count);
    bool usable = false;
};

class UniRevTex : public ObjectTex {
public:
    // An unbuilt mapping of type 1; unusable until Build lays it out.
    UniRevTex();
    void Build(std::span<const Rtp> profiles) override;

    double middleLength0 = 0;  // length coordinate at the middle of map 0 and of map 1
    double middleLength1 = 0;
    double poleLength = 0;  // where the first surface that meets the axis begins; 0 if none
    // Where the profile first and last turns steeper than 45 degrees: the material's polar caps
    // cover the flatter ends before capStart and after capEnd (both the middle of map 0 when
    // no part is steep; unused without poles).
    double capStart = 0;
    double capEnd = 0;
};

class CustomRevTex : public ObjectTex {
public:
    // An unbuilt mapping of type 0 without tile maps; unusable until Build lays it out.
    CustomRevTex();
    ~CustomRevTex() override;
    void Build(std::span<const Rtp> profiles) override;

    // The owner's random state for tile placement: returns the current value and advances it.
    std::uint32_t NextRandom();

    std::unique_ptr<TileMap> band0;
    std::unique_ptr<TileMap> band1;
    std::unique_ptr<PolarMap> cap0;
    std::unique_ptr<PolarMap> cap1;
    CustomRevTex* mapSet = nullptr;  // a VersaTex points it at itself
    std::uint32_t buildMarker = 0;   // 0x31415927 once Build started; the tile builders' state
    double tRad = 0;                 // texture image radius in texture pixels
    double maxCirc1 = 0;
    double maxCirc2 = 0;

protected:
    // Lays the surfaces' records; false when a surface is unusable.
    bool BuildRecords(std::span<const Rtp> profiles);
    bool BuildBandsAndCaps();
};

class VersaTex : public CustomRevTex {
public:
    // An unbuilt mapping with its two bands and two edge maps of each kind allocated;
    // throws std::bad_alloc.
    VersaTex();
    ~VersaTex() override;
    void Build(std::span<const Rtp> profiles) override;

    double edgeOfs = 0;
    double edgeLen = 0;
    std::int32_t buildStage = 0;  // 0 band 0, 1 band 1, 2 edge caps, 3 edge bands
    std::int32_t edgeCapsToBuild = 0;
    std::int32_t edgeBandsToBuild = 0;
    std::vector<std::unique_ptr<TileMap>> VTTMaps;   // edge bands
    std::vector<std::unique_ptr<PolarMap>> VTPMaps;  // edge caps
};

inline constexpr std::uint32_t TexBuildMarker = 0x31415927;
