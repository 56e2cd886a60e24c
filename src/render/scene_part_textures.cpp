#include "render/scene_part_textures.h"

#include "core/private_heap.h"
#include "geometry/corner_rod_wrap.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/wrap_map_record.h"
#include "render/q_render.h"
#include "render/surface_texture.h"
#include "texture/object_tex.h"
#include "texture/tex_maps.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

#include <algorithm>

namespace {

// The cell row length of a band as its builder laid it: 0.3 of the image's smaller side over
// the band's scale.
double BandCellLength(const TileMap* band, const TexPyramid& image) {
    if (band == nullptr || !(band->mScale > 0.0)) return 0.0;
    return 0.3 * std::min(image.levelWidths[0], image.levelHeights[0]) / band->mScale;
}

// The material's mapping object when it holds tiles the shading can read, else null.
const CustomRevTex* UsableTiles(const TextureParams& params) {
    const auto* mapping = dynamic_cast<const CustomRevTex*>(params.mapping.get());
    if (mapping == nullptr || !mapping->IsUsable() || mapping->band0 == nullptr ||
        mapping->band0->cells == nullptr || params.image == nullptr) {
        return nullptr;
    }
    return mapping;
}

// The cell side of a cap as its builder laid it: the same share of the image over its scale.
double CapCellLength(const PolarMap* cap, const TexPyramid& image) {
    if (cap == nullptr || !(cap->scale > 0.0)) return 0.0;
    return 0.3 * std::min(image.levelWidths[0], image.levelHeights[0]) / cap->scale;
}

void SetTiles(PartTexture& texture, const CustomRevTex& mapping, const TexPyramid& image) {
    texture.tiles = &mapping;
    texture.bandCellLengths = {BandCellLength(mapping.band0.get(), image),
                               BandCellLength(mapping.band1.get(), image)};
    texture.capCellLengths = {CapCellLength(mapping.cap0.get(), image),
                              CapCellLength(mapping.cap1.get(), image)};
}

// The measuring mappings reach the pair of the material's edge caps that the part's phase
// picks (MaterialCapPair: the edge caps come two to a pair, the first for the pole where the
// length coordinate starts, the second for the one where it ends), when it has built them.
void SetMaterialCaps(PartTexture& texture, const CustomRevTex& mapping, const TexPyramid& image) {
    const auto* versa = dynamic_cast<const VersaTex*>(&mapping);
    if (versa == nullptr || versa->VTPMaps.size() < 2) return;
    const auto first =
        2 * static_cast<std::size_t>(MaterialCapPair(versa->VTPMaps.size(), texture.phase));
    for (std::size_t i = 0; i < 2; ++i) {
        const PolarMap* cap = versa->VTPMaps[first + i].get();
        if (cap == nullptr || cap->cells == nullptr) continue;
        texture.materialCaps[i] = cap;
        texture.materialCapCellLengths[i] = CapCellLength(cap, image);
    }
    // Six edge caps or more: the first six are the faces of ellipsoid entries' tiling.
    if (versa->VTPMaps.size() < 6) return;
    for (std::size_t i = 0; i < 6; ++i) {
        const PolarMap* cap = versa->VTPMaps[i].get();
        if (cap == nullptr || cap->cells == nullptr) {
            texture.faceMaps = {};
            return;
        }
        texture.faceMaps[i] = cap;
        texture.faceMapCellLengths[i] = CapCellLength(cap, image);
    }
}

// Fills texture's mapping from a box's or flat-sided cylinder's wrap map; false when the
// wrap map's kind has no mapping here or its material holds no usable tiles.
bool SetWrappedPrimitive(PartTexture& texture, const WrapMapRecord& wrap,
                         const TextureParams& partParams) {
    const TextureParams& params = wrap.texParams != nullptr ? *wrap.texParams : partParams;
    const CustomRevTex* mapping = UsableTiles(params);
    if (mapping == nullptr) return false;
    if (wrap.kind == WrapMapKind::CornerRod) {
        texture.cornerRod = CornerRodWrapFrameOf(wrap);
        if (!CornerRodWrapIsUsable(texture.cornerRod)) return false;
        texture.mapping = TextureMapping::CornerRod;
    } else if (wrap.kind == WrapMapKind::Box || wrap.kind == WrapMapKind::FlatSidedCylinder) {
        texture.mapping =
            wrap.kind == WrapMapKind::Box ? TextureMapping::Box : TextureMapping::FlatSidedCylinder;
        texture.primitive = {wrap.values[0], wrap.values[1], wrap.values[2], wrap.values[3]};
    } else {
        return false;
    }
    SetTiles(texture, *mapping, *params.image);
    return true;
}

Vec3 PointCarried(const Matrix4W& m, const Vec3& p) {
    const Vec4 q = Matrix4TransformVec4(m, Vec4{1.0, p.x, p.y, p.z});
    return Vec3{q.x, q.y, q.z};
}

// A textured corner rod's axis ends in world space, with its part index.
struct RodEnds {
    std::int32_t part = 0;
    Vec3 start;
    Vec3 end;
};

// Starts each textured corner rod at the length measure where the rod that ends at its start
// ends, so that a chain of rods reads one texture through its joints. Rods meet when their
// ends lie within a millionth of the rods' size of each other; a chain that closes on itself
// starts where the walk first reaches it.
void ChainCornerRods(std::vector<PartTexture>& textures, const SceneGeometry& geometry) {
    std::vector<RodEnds> rods;
    for (std::size_t i = 0; i < textures.size(); ++i) {
        const PartTexture& texture = textures[i];
        if (texture.pyramid == nullptr || texture.mapping != TextureMapping::CornerRod) continue;
        const Matrix4W worldFromLocal =
            InvertAffineWFirst(geometry.Part(static_cast<std::int32_t>(i))->localFromWorld);
        TranslateBadAlloc([&] {
            rods.push_back(
                RodEnds{static_cast<std::int32_t>(i),
                        PointCarried(worldFromLocal, CornerRodWrapStart(texture.cornerRod)),
                        PointCarried(worldFromLocal, CornerRodWrapEnd(texture.cornerRod))});
        });
    }
    // previous[r]: the rod whose end meets rod r's start, or -1.
    std::vector<std::int32_t> previous;
    TranslateBadAlloc([&] { previous.assign(rods.size(), -1); });
    for (std::size_t r = 0; r < rods.size(); ++r) {
        const CornerRodWrapFrame& frame =
            textures[static_cast<std::size_t>(rods[r].part)].cornerRod;
        const double tolerance = 1e-6 * (frame.axisLength + frame.sizeA + frame.sizeB);
        for (std::size_t q = 0; q < rods.size(); ++q) {
            if (q != r && Vec3Length(Vec3Sub(rods[q].end, rods[r].start)) <= tolerance) {
                previous[r] = static_cast<std::int32_t>(q);
                break;
            }
        }
    }
    // Each rod's start: the sum of the measures of the rods before it, walked back at most once
    // round the whole set.
    for (std::size_t r = 0; r < rods.size(); ++r) {
        double start = 0;
        std::int32_t q = previous[r];
        for (std::size_t steps = 0;
             q >= 0 && steps < rods.size() && static_cast<std::size_t>(q) != r; ++steps) {
            start += CornerRodWrapMeasure(
                textures[static_cast<std::size_t>(rods[static_cast<std::size_t>(q)].part)]
                    .cornerRod);
            q = previous[static_cast<std::size_t>(q)];
        }
        textures[static_cast<std::size_t>(rods[r].part)].cornerRodStart = start;
    }
}

// The part's custom revolution mapping when it has laid its own tiles, else null.
const CustomRevTex* CustomMapping(const ObjectTex* mapping) {
    const auto* custom = dynamic_cast<const CustomRevTex*>(mapping);
    if (custom == nullptr || custom->type != 0 || !custom->IsUsable() ||
        custom->records == nullptr || custom->numSurfs <= 0 || custom->band0 == nullptr ||
        custom->band0->cells == nullptr) {
        return nullptr;
    }
    return custom;
}

// The part's revolution mapping when it keeps angles and has been laid, else null.
const ObjectTex* AngleKeepingMapping(const ObjectTex* mapping) {
    if (mapping == nullptr || mapping->type != 1 || !mapping->IsUsable() ||
        mapping->records == nullptr || mapping->numSurfs <= 0) {
        return nullptr;
    }
    return mapping;
}

}  // namespace

void LoadPartTextures(QRender& render, const SceneGeometry& geometry,
                      const Matrix4W& viewFromWorld) {
    std::vector<PartTexture>& textures = render.partTextures.parts;
    TranslateBadAlloc([&] { textures.assign(static_cast<std::size_t>(geometry.PartCount()), {}); });
    const Matrix4W worldFromView = InvertAffineWFirst(viewFromWorld);
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        const PartRenderRecord& record = *geometry.Part(i);
        const TextureParams* params = record.texParams;
        if (params == nullptr || params->image == nullptr || !TexPyramidHasImage(*params->image)) {
            continue;
        }
        const ObjectTex* revolution = AngleKeepingMapping(record.objectTex);
        const CustomRevTex* custom = CustomMapping(record.objectTex);
        // A revolution mapping not yet laid gives the part its own colour.
        if (record.objectTex != nullptr && revolution == nullptr && custom == nullptr &&
            record.auxTex == nullptr) {
            continue;
        }
        PartTexture& texture = textures[static_cast<std::size_t>(i)];
        texture.phase = record.fraction;
        if (custom != nullptr && record.auxTex == nullptr) {
            texture.mapping = TextureMapping::CustomRevolution;
            texture.revolution = custom;
            SetTiles(texture, *custom, *params->image);
        } else if (record.auxTex != nullptr || revolution != nullptr) {
            const CustomRevTex* mapping = UsableTiles(*params);
            if (mapping == nullptr) continue;
            texture.mapping =
                record.auxTex != nullptr ? TextureMapping::SurfaceList : TextureMapping::Revolution;
            texture.surfaceList = record.auxTex;
            texture.revolution = revolution;
            SetTiles(texture, *mapping, *params->image);
            SetMaterialCaps(texture, *mapping, *params->image);
            if (const auto* uni = dynamic_cast<const UniRevTex*>(revolution);
                uni != nullptr && uni->poleless == 0) {
                texture.hasRevolutionCaps = true;
                texture.capLengths = {uni->capStart, uni->capEnd};
            }
        } else if (record.wrapMap != nullptr &&
                   !SetWrappedPrimitive(texture, *record.wrapMap, *params)) {
            continue;
        }
        texture.pyramid = params->image;
        texture.partFromView = Matrix4Product(record.localFromWorld, worldFromView);
        texture.bumpAmount = params->Bump;
        texture.baseColour = record.colour & 0xFFFFFFu;
        texture.hasTint = record.tint;
        // The tint pulls towards the part's own colour at half contrast about mid grey, the
        // derived colour its record keeps (0x808080 neutral).
        texture.tintColour = {static_cast<std::uint8_t>(record.derivedColour >> 16),
                              static_cast<std::uint8_t>(record.derivedColour >> 8),
                              static_cast<std::uint8_t>(record.derivedColour)};
    }
    ChainCornerRods(textures, geometry);
}
