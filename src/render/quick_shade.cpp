#include "render/quick_shade.h"

#include "core/private_heap.h"
#include "render/background_shade.h"
#include "render/pixel_pass.h"
#include "render/pyramid_filter.h"
#include "render/span_shade.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// w of 16384 of colour against fog, per channel, opaque.
std::uint32_t BlendTowardsFog(std::uint32_t colour, std::uint32_t fog, std::int32_t w) {
    std::uint32_t out = 0xFF000000u;
    for (std::int32_t shift = 0; shift < 24; shift += 8) {
        const std::int64_t c = (colour >> shift) & 0xFFu;
        const std::int64_t f = (fog >> shift) & 0xFFu;
        const std::int64_t v = (c * w + f * (DepthCueFull - w)) / DepthCueFull;
        out |= static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, 255)) << shift;
    }
    return out;
}

// The centre of a view-space bound quadric (the point where its gradient vanishes: A c = -b
// for the 3x3 block A and the linear terms b), by Cramer's rule; false when A is singular.
bool BoundCentre(const Matrix4W& bound, Vec3& centre) {
    const auto& e = bound.m;
    const double a00 = e[5], a01 = e[6], a02 = e[7];
    const double a10 = e[9], a11 = e[10], a12 = e[11];
    const double a20 = e[13], a21 = e[14], a22 = e[15];
    const double det = a00 * (a11 * a22 - a12 * a21) - a01 * (a10 * a22 - a12 * a20) +
                       a02 * (a10 * a21 - a11 * a20);
    if (!(std::fabs(det) > 1e-300)) return false;
    const double b0 = -e[1], b1 = -e[2], b2 = -e[3];
    centre.x =
        (b0 * (a11 * a22 - a12 * a21) - a01 * (b1 * a22 - a12 * b2) + a02 * (b1 * a21 - a11 * b2)) /
        det;
    centre.y =
        (a00 * (b1 * a22 - a12 * b2) - b0 * (a10 * a22 - a12 * a20) + a02 * (a10 * b2 - b1 * a20)) /
        det;
    centre.z =
        (a00 * (a11 * b2 - b1 * a21) - a01 * (a10 * b2 - b1 * a20) + b0 * (a10 * a21 - a11 * a20)) /
        det;
    return std::isfinite(centre.x) && std::isfinite(centre.y) && std::isfinite(centre.z);
}

FlatPartColours ComputeColours(const QRender& render, const RenderPart& part) {
    const std::uint32_t base = part.isSelected != 0 ? render.colourWords[3] : render.colourWords[0];
    const std::uint32_t edge = render.colourWords[2];
    FlatPartColours colours{base | 0xFF000000u, edge | 0xFF000000u};
    Vec3 centre{};
    if (render.shade.isFogOn && BoundCentre(part.bound, centre) && centre.z > 0.0) {
        const double distance = std::sqrt(Vec3Dot(centre, centre));
        const std::int32_t w =
            DepthCueWeight(render.shade, distance, centre.x / centre.z, centre.y / centre.z);
        colours.fill = BlendTowardsFog(base, render.shade.fogColour, w);
        colours.edge = BlendTowardsFog(edge, render.shade.fogColour, w);
    }
    return colours;
}

}  // namespace

void QuickShadeRegion(QRender& render, const SpanRegion& region, bool useBackup,
                      std::vector<FlatPartColours>& colours) {
    if (!render.BuffersReady()) return;
    std::uint32_t* out = nullptr;
    std::size_t stride = 0;
    if (useBackup) {
        out = render.ExtraPlanes();
        stride = render.reductionLevel == 0 ? static_cast<std::size_t>(render.TargetStride())
                                            : static_cast<std::size_t>(render.Level().width);
    } else if (render.reductionLevel == 0) {
        out = render.Target();
        stride = static_cast<std::size_t>(render.TargetStride());
    } else {
        out = render.ReducedFrame(render.reductionLevel);
        stride = static_cast<std::size_t>(render.Level().width);
    }
    QuickShadeCells(render, region, render.SampleBuffer(useBackup ? 1 : 0), out, stride, colours);
}

void QuickShadeCells(QRender& render, const SpanRegion& region, const SampleCell* cells,
                     std::uint32_t* out, std::size_t stride,
                     std::vector<FlatPartColours>& colours) {
    if (!render.BuffersReady() || region.HasNoRows()) return;
    if (cells == nullptr || out == nullptr) return;
    const std::int32_t partCount = render.parts.Count();
    if (static_cast<std::int32_t>(colours.size()) < partCount) {
        TranslateBadAlloc([&] { colours.resize(static_cast<std::size_t>(partCount)); });
    }

    const RenderLevel& level = render.Level();
    const RenderLevel& full = render.Level(0);
    const std::size_t cellStride = static_cast<std::size_t>(level.cellStride);
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), level.height);
    // The background word, laid over the background image where one is given.
    const auto background = [&](std::int32_t x, std::int32_t y) {
        const std::uint32_t word = render.colourWords[1];
        const std::uint32_t* image =
            BackgroundImageWord(render.shade, render.reductionLevel, x, y, full.width, full.height);
        return image != nullptr ? OverBackgroundImage(word, *image) : word;
    };
    for (std::int32_t y = top; y < bottom; ++y) {
        const SampleCell* row = cells + static_cast<std::size_t>(y + 1) * cellStride + 1;
        std::uint32_t* rowOut = out + static_cast<std::size_t>(y) * stride;
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], level.width);
            for (std::int32_t x = x0; x < x1; ++x) {
                const SampleCell* cell = row + x;
                const std::uint32_t id = cell->pixel & PixelIdMask;
                // A cell left from a frame with more parts names no part now: it shows the
                // background instead of reading past the parts.
                const std::int32_t index = static_cast<std::int32_t>(id >> 5) - 1;
                if (index < 0 || index >= partCount) {
                    rowOut[x] = background(x, y);
                    continue;
                }
                FlatPartColours& part = colours[static_cast<std::size_t>(index)];
                if (part.fill == FlatColoursPending) {
                    part = ComputeColours(render, render.parts.Part(index));
                }
                const bool isEdge = ((cell + 1)->pixel & PixelIdMask) < id ||
                                    ((cell - 1)->pixel & PixelIdMask) < id ||
                                    ((cell + cellStride)->pixel & PixelIdMask) < id ||
                                    ((cell - cellStride)->pixel & PixelIdMask) < id;
                rowOut[x] = isEdge ? part.edge : part.fill;
            }
        }
    }
}

namespace {

// Takes the light masks of region's covered cells to the lights as they stand: bit 15 - i
// where the surface faces light i (as the casting pass sets it), and bit 31 - i as well for
// the lights without a shadow map; a shadow light's lit bit stays as its shadow pass left it,
// kept only where the surface still faces the light.
void RebuildLightMasks(const QRender& render, const SpanRegion& region, SampleCell* cells) {
    if (cells == nullptr) return;
    const RenderLevel& level = render.Level();
    const std::int32_t lights = render.LightCount();
    const std::int32_t shadowLights = render.ShadowLightCount();
    const std::int32_t partCount = render.parts.Count();
    const std::size_t cellStride = static_cast<std::size_t>(level.cellStride);
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), level.height);
    for (std::int32_t sample = 0; sample < render.SamplesPerPixel(); ++sample) {
        SampleCell* plane = cells + render.PlaneCells() * static_cast<std::size_t>(sample);
        for (std::int32_t y = top; y < bottom; ++y) {
            const double v = y - level.centreY + 0.5;
            for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
                const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
                const std::int32_t x1 = std::min<std::int32_t>(t[1], level.width);
                for (std::int32_t x = x0; x < x1; ++x) {
                    SampleCell& cell = plane[static_cast<std::size_t>(y + 1) * cellStride +
                                             static_cast<std::size_t>(x + 1)];
                    const std::int32_t index = PixelPartIndex(cell.pixel);
                    if (index < 0 || index >= partCount || cell.depth <= 0) continue;
                    const auto surfaces = render.parts.Surfaces(index);
                    const auto surface = static_cast<std::size_t>(PixelSurface(cell.pixel));
                    if (surface >= surfaces.size()) continue;
                    const auto& e = surfaces[surface].m;
                    const double depth = render.depthScale / cell.depth;
                    const Vec3 p{(x - level.centreX + 0.5) * depth, v * depth, level.focal * depth};
                    const Vec3 g{e[1] + e[5] * p.x + e[6] * p.y + e[7] * p.z,
                                 e[2] + e[6] * p.x + e[10] * p.y + e[11] * p.z,
                                 e[3] + e[7] * p.x + e[11] * p.y + e[15] * p.z};
                    std::uint32_t mask = 0;
                    for (std::int32_t i = 0; i < lights; ++i) {
                        const Vec3& l = render.LightSlot(i).position;
                        if ((p.x - l.x) * g.x + (p.y - l.y) * g.y + (p.z - l.z) * g.z > 0.0) {
                            continue;
                        }
                        const std::uint32_t lit = i < shadowLights
                                                      ? cell.lightMask & (0x80000000u >> i)
                                                      : 0x80000000u >> i;
                        mask |= (0x8000u >> i) | lit;
                    }
                    cell.lightMask = mask;
                }
            }
        }
    }
}

// Shades region again from the cells into out, as the frame render does: boundary pixels
// refined again when the pixel pass is on (region grown by the pixels whose integration reads
// it), the rest span shaded, with the light layers at layers when given.
void ShadeAgainInto(QRender& render, SpanRegion& region, SampleCell* cells, std::uint32_t* out,
                    std::size_t stride, std::uint32_t* layers) {
    const RenderLevel& level = render.Level();
    if (render.edges.isRefined) GrowForPixelPass(render, region);
    RegionClip(region, 0, 0, level.width, level.height);
    if (region.HasNoRows()) return;
    // The lights may have moved or been switched since the cast: the masks follow them.
    RebuildLightMasks(render, region, cells);
    if (render.edges.isRefined) RenderPixelPass(render, region, cells, out, stride);
    ShadeObjectSpansInto(render, region, cells, out, stride, layers,
                         layers != nullptr ? render.LayerPlaneWords() : 0);
}

}  // namespace

void QRender::Reshade(SpanRegion& region, std::int32_t mode) {
    if (!buffersReady || region.HasNoRows()) return;
    const bool intoBackup = mode == 1;
    // The backup set is the picture incremental frames restore from: without it there is
    // nothing to shade.
    if (intoBackup && !auxReady) return;
    BuildLightFalloffTables();
    const RenderLevel& level = Level();
    RegionClip(region, -1, -1, level.width + 1, level.height + 1);
    if (options.flatPreview) {
        QuickShadeRegion(*this, region, intoBackup, flatColours);
        if (!intoBackup) PyramidFilter(*this);
        return;
    }
    // The light layers follow the picture they describe: the backups' with mode 1, the
    // working picture's with mode 0, and a negative mode writes them over the working picture
    // whatever they described.
    std::uint32_t* layers = LayerPlanes();
    const bool isLayering = intoBackup ? areLayersOfBackups : mode < 0 || areLayersOfWorking;
    if (!isLayering) layers = nullptr;
    const bool isFull = reductionLevel == 0;
    const std::size_t stride =
        isFull ? static_cast<std::size_t>(targetStride) : static_cast<std::size_t>(level.width);
    if (intoBackup) {
        ShadeAgainInto(*this, region, SampleBuffer(1), extraPlanes.get(), stride, layers);
        return;
    }
    std::uint32_t* out = isFull ? target : ReducedFrame(reductionLevel);
    ShadeAgainInto(*this, region, SampleBuffer(0), out, stride, layers);
    PyramidFilter(*this);
}
