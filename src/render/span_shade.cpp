#include "render/span_shade.h"

#include "core/float_convert.h"
#include "render/background_shade.h"
#include "render/cast_frame_pass.h"
#include "render/light_layer_resolve.h"
#include "render/pixel_pass.h"
#include "render/pyramid_filter.h"
#include "render/quick_shade.h"
#include "render/render_interrupt.h"
#include "render/shading_maths.h"
#include "render/shadow_pass.h"
#include "render/small_parts.h"
#include "render/star_sky.h"
#include "render/surface_texture.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

inline std::int32_t Channel(std::uint32_t colour, int c) {
    return static_cast<std::int32_t>((colour >> (16 - 8 * c)) & 0xFF);
}

// The error-diffusion dither of one 8.8 triple: the accumulators keep 8 fraction bits.
inline std::array<std::int32_t, 3> Dither(std::array<std::int32_t, 3>& accumulator,
                                          const std::array<std::int64_t, 3>& value) {
    std::array<std::int32_t, 3> out{};
    for (int c = 0; c < 3; ++c) {
        const std::int64_t sum = accumulator[static_cast<std::size_t>(c)] + value[static_cast<std::size_t>(c)];
        out[static_cast<std::size_t>(c)] = static_cast<std::int32_t>(sum >> 8);
        accumulator[static_cast<std::size_t>(c)] = static_cast<std::int32_t>(sum & 0xFF);
    }
    return out;
}

inline std::uint32_t PackClamped(std::uint32_t alpha, const std::array<std::int32_t, 3>& c) {
    const auto clamp = [](std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
    return alpha | clamp(c[0]) << 16 | clamp(c[1]) << 8 | clamp(c[2]);
}

// The alpha byte of weight w (16384 = 255): round(w x 255 / 16384) in the top byte.
inline std::uint32_t AlphaOfWeight(std::int32_t w) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(w) * 0x3FC00 + 0x800000) & 0xFF000000u;
}

// The falloff of a light with a range at t = distance / range, from its table.
double RangeFalloff(const RenderLightSlot& slot, double distance) {
    const float* table = slot.falloffTable.get();
    if (table == nullptr) return 1.0;
    const float t = static_cast<float>(distance / slot.range);
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(t);
    const std::int32_t k = static_cast<std::int32_t>(bits >> 19) - 0x6F0;
    if (k < 0) return table[0];
    const std::size_t i = static_cast<std::size_t>(std::min(k, FalloffTablePairs - 1));
    const float base = std::bit_cast<float>(bits & ~0x7FFFFu);
    return table[2 * i] + table[2 * i + 1] * (t - base);
}

// A curvature-broadened highlight at one point. Where the normal turns fast across a pixel
// against the highlight size s, the lobe is averaged over a Gaussian footprint of b pixels^2
// (HighlightBroadening). With x = 1 - L . R written as N^T M N (M = (1 + V . L) I -
// (V L^T + L V^T), N of unit length), a screen offset d moves the gradient G by (z / focal)
// H u(d) (u in the tangent plane along the view ray, H the form's second-order block), so x is
// a quadratic in d; averaging exp(-x / s^2), whose integral over the screen is the lobe's,
// gives the exponent and amplitude that FilteredLobeExponent computes for sigma =
// 2 b / s^2 x (z / (focal |G|))^2. The filter runs only near the highlight, where
// (focal V . G)^2 x < (3 c z)^2 with c the form's largest eigenvalue.
struct SpreadLobe {
    const Matrix4W* form = nullptr;  // null: the plain lobe
    double sigma = 0.0;
    double offScale = 0.0;  // (focal V . G)^2
    double offLimit = 0.0;  // (3 c z)^2
};

SpreadLobe SpreadLobeAt(const Matrix4W& form, double eigenvalue, double gLength, double vn,
                        double z, double focal, double size) {
    if (!(gLength > 0.0) || !(vn > 0.0) || !(size > 0.0)) return SpreadLobe{};
    // The largest curvature over the highlight size, as the normal turns across a pixel.
    const double q = eigenvalue / gLength * z / (focal * size * vn);
    const double b = HighlightBroadening(q);
    if (b == 0.0) return SpreadLobe{};
    const double pixel = z / (focal * gLength);
    const double viewGradient = focal * vn * gLength;
    const double limit = 3.0 * eigenvalue * z;
    return SpreadLobe{&form, 2.0 * b / (size * size) * pixel * pixel, viewGradient * viewGradient,
                      limit * limit};
}

// x = 1 - L . R (off) less the footprint's share, and the lobe's amplitude there.
double SpreadLobeOff(const SpreadLobe& spread, double off, double& amplitude, double vn, double ln,
                     const Vec3& n, const Vec3& v, const Vec3& l) {
    double kept = 1.0;
    const double share = FilteredLobeExponent(*spread.form, kept, spread.sigma, vn, ln, n, v, l);
    if (!std::isfinite(share) || !std::isfinite(kept)) return off;
    amplitude = kept;
    return std::max(0.0, off - share);
}

using Triple = std::array<std::int64_t, 3>;

// What a lit pixel's light layers hold before their dither: its colour with every shadow
// light shadowed, and for each shadow light that was evaluated the change from its shadow
// colour to its lit colour.
struct LayerValues {
    Triple base{};
    std::array<Triple, RenderLightSlotCount> light{};
    std::uint32_t evaluated = 0;  // bit i: shadow light i was evaluated
    bool isLit = false;           // false: the base is the pixel's own colour
};

class SpanShader {
public:
    explicit SpanShader(QRender& r) : render(r), shade(r.shade), level(r.Level()) {
        for (int c = 0; c < 3; ++c) fogChannel[static_cast<std::size_t>(c)] = Channel(shade.fogColour, c);
    }

    // Shades length cells into out; with layers, also writes each pixel's layer words there
    // (base at layers[k], shadow light i's planeWords x (i + 1) further).
    void ShadeRun(const SampleCell* cells, std::uint32_t* out, std::int32_t length, double x,
                  double y, std::int32_t column, std::int32_t row, std::uint32_t* layers,
                  std::size_t planeWords) {
        const double step = 1.0 / level.focal;
        isLayering = layers != nullptr;
        for (std::int32_t k = 0; k < length; ++k) {
            const SampleCell& cell = cells[k];
            if ((cell.pixel & PixelFinished) != 0) continue;
            const double nx = x + k * step;
            layerValues.isLit = false;
            const ShadedValue v = Shade(cell, nx, y, column + k, row);
            out[k] = PackClamped(v.alpha, Dither(accumulator, v.value));
            if (IsBackground(cell)) {
                const RenderLevel& full = render.Level(0);
                if (const std::uint32_t* image = BackgroundImageWord(
                        shade, render.reductionLevel, column + k, row, full.width, full.height)) {
                    out[k] = OverBackgroundImage(out[k], *image);
                }
            }
            if (isLayering) WriteLayers(layers + k, planeWords, v);
        }
    }

    // The layer values of the last cell shaded while layering.
    void SetLayering(bool on) { isLayering = on; }
    const LayerValues& Layers() const { return layerValues; }

    // The cell's colour seen through (x, y), before the dither.
    ShadedValue Shade(const SampleCell& cell, double x, double y, std::int32_t column,
                      std::int32_t row) {
        if (IsBackground(cell)) return Background(x, y, column, row);
        const std::int32_t part = PixelPartIndex(cell.pixel);
        if (shade.drawStyle >= 1) return Flat(cell, part, x, y, row);
        return Lit(cell, part, x, y);
    }

private:
    bool IsBackground(const SampleCell& cell) const {
        const std::int32_t part = PixelPartIndex(cell.pixel);
        return part < 0 || part >= render.parts.Count() || cell.depth <= 0;
    }

    void WriteLayers(std::uint32_t* at, std::size_t planeWords, const ShadedValue& v) {
        const bool isLit = layerValues.isLit;
        const auto base = Dither(baseAccumulator, isLit ? layerValues.base : v.value);
        at[0] = LayerWordOf(base[0], base[1], base[2]);
        const std::int32_t shadowLights = std::min(render.ShadowLightCount(), RenderLightSlotCount);
        for (std::int32_t i = 0; i < shadowLights; ++i) {
            const auto light = static_cast<std::size_t>(i);
            std::uint32_t word = NeutralLayerWord;
            if (isLit && (layerValues.evaluated & (1u << i)) != 0) {
                const auto d = Dither(lightAccumulators[light], layerValues.light[light]);
                word = LayerWordOf(d[0], d[1], d[2]);
            }
            at[planeWords * (light + 1)] = word;
        }
    }

    ShadedValue Background(double x, double y, std::int32_t column, std::int32_t row) {
        if (!shade.isShadedBackground) {
            const std::uint32_t word = shade.backgroundWord;
            return ShadedValue{{Channel(word, 0) << 8, Channel(word, 1) << 8, Channel(word, 2) << 8},
                               word & 0xFF000000u};
        }
        std::array<std::int32_t, 3> colour;
        if (shade.isSky) {
            colour = ShadeBackground(shade, x, y);
        } else {
            colour = {Channel(shade.backgroundColour, 0) << 8, Channel(shade.backgroundColour, 1) << 8,
                      Channel(shade.backgroundColour, 2) << 8};
        }
        if (shade.isStars) StarSkyBlend(render, colour, column, row, x, y);
        std::array<std::int64_t, 3> value{};
        std::uint32_t alpha = 0;
        // A picture to be laid over something else keeps its background transparent.
        if (shade.isFogOn && shade.isFogOnBackground && shade.backgroundMode == 0) {
            const std::int32_t w = DepthCueWeight(shade, 1e100, x, y);
            for (std::size_t c = 0; c < 3; ++c) {
                value[c] = (static_cast<std::int64_t>(fogChannel[c] << 8) * (16384 - w) +
                            static_cast<std::int64_t>(colour[c]) * w) >> 14;
            }
            alpha = AlphaOfWeight(16384 - w);
        } else {
            for (std::size_t c = 0; c < 3; ++c) value[c] = colour[c];
        }
        return ShadedValue{value, alpha};
    }

    ShadedValue Flat(const SampleCell& cell, std::int32_t part, double x, double y,
                       std::int32_t row) {
        const RenderPart& record = render.parts.Part(part);
        std::uint32_t colour;
        if (record.isSelected != 0) {
            colour = (row & 2) != 0 ? 0x555555u : 0xAAAAAAu;
        } else {
            colour = shade.drawStyle == 1 ? shade.flatColour : record.colour;
        }
        colour &= 0xFFFFFFu;
        if (!shade.isFogOn) {
            return ShadedValue{{Channel(colour, 0) << 8, Channel(colour, 1) << 8, Channel(colour, 2) << 8},
                               0xFF000000u};
        }
        const double z = level.focal * render.depthScale / cell.depth;
        const double distance = z * std::sqrt(x * x + y * y + 1.0);
        const std::int32_t w = DepthCueWeight(shade, distance, x, y);
        std::array<std::int64_t, 3> value{};
        for (int c = 0; c < 3; ++c) {
            value[static_cast<std::size_t>(c)] =
                (static_cast<std::int64_t>(Channel(colour, c)) * w +
                 static_cast<std::int64_t>(fogChannel[static_cast<std::size_t>(c)]) * (16384 - w)) >> 6;
        }
        return ShadedValue{value, shade.isAlphaFromFog ? AlphaOfWeight(w) : 0xFF000000u};
    }

    ShadedValue Lit(const SampleCell& cell, std::int32_t part, double x, double y) {
        const RenderPart& record = render.parts.Part(part);
        const auto surfaces = render.parts.Surfaces(part);
        const std::int32_t surface = PixelSurface(cell.pixel);
        const double z = level.focal * render.depthScale / cell.depth;
        const Vec3 p{x * z, y * z, z};

        // The gradient of the surface at p: rows 1..3 of the form applied to (1, p); a plane's
        // are its linear terms (element 15 holds the plane marker).
        Vec3 g{0.0, 0.0, 1.0};
        const Matrix4W* curved = nullptr;  // the surface's form unless it is a plane
        if (surface < static_cast<std::int32_t>(surfaces.size())) {
            const auto& e = surfaces[static_cast<std::size_t>(surface)].m;
            g = Vec3{e[1], e[2], e[3]};
            const bool isPlane = (std::bit_cast<std::uint64_t>(e[15]) >> 32) == 0x7FFFFFFF;
            if (!isPlane) {
                g.x += e[5] * p.x + e[6] * p.y + e[7] * p.z;
                g.y += e[9] * p.x + e[10] * p.y + e[11] * p.z;
                g.z += e[13] * p.x + e[14] * p.y + e[15] * p.z;
                curved = &surfaces[static_cast<std::size_t>(surface)];
            }
        }
        // The surface colour on the 128 scale: the part's own, or its texture's at p.
        std::array<std::int32_t, 3> surfaceColour{};
        bool isBumped = false;
        if (const PartTexture* texture = render.partTextures.Find(part)) {
            // The bump frame's second axis follows the side of the surface the eye sees.
            isBumped = IsBumpMapped(*texture);
            ShadeSurfacePoint(render, *texture, surfaceColour, *texture->pyramid, surface, isBumped,
                              Vec3Dot(p, g) > 0.0, p, g);
            if (isBumped) {
                g = BumpedGradient(g, texture->bumpAmount, render.partTextures.bumpVector);
            }
        } else {
            for (int c = 0; c < 3; ++c) {
                surfaceColour[static_cast<std::size_t>(c)] = Channel(record.colour, c) * 128;
            }
        }
        const double distance = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
        const Vec3 v{-p.x / distance, -p.y / distance, -p.z / distance};
        const double gLength = std::sqrt(g.x * g.x + g.y * g.y + g.z * g.z);
        Vec3 n = gLength > 0.0 ? Vec3{g.x / gLength, g.y / gLength, g.z / gLength} : v;
        double vn = v.x * n.x + v.y * n.y + v.z * n.z;
        if (vn < 0.0) {
            n = Vec3{-n.x, -n.y, -n.z};
            vn = -vn;
        }
        const Vec3 reflected{2.0 * vn * n.x - v.x, 2.0 * vn * n.y - v.y, 2.0 * vn * n.z - v.z};

        const double s2 = record.highlightSize * record.highlightSize;
        // A relief's normals are not the quadric's: bump-mapped parts keep the plain lobe.
        const SpreadLobe spread =
            shade.isCurvatureHighlights && curved != nullptr && !isBumped
                ? SpreadLobeAt(*curved, render.parts.SurfaceEigenvalue(part, surface), gLength, vn,
                               z, level.focal, record.highlightSize)
                : SpreadLobe{};
        std::array<std::int64_t, 3> specularSum{};
        std::array<std::int64_t, 3> diffuseSum{};
        // With layers: the sums with every shadow light shadowed, and each shadow light's
        // terms, kept to weigh its change from shadowed to lit.
        Triple baseSpecular{};
        Triple baseDiffuse{};
        std::array<std::int64_t, RenderLightSlotCount> lightDiffuse{};
        std::array<std::int64_t, RenderLightSlotCount> lightSpecular{};
        layerValues.evaluated = 0;
        for (std::int32_t i = 0; i < render.LightCount(); ++i) {
            if ((cell.lightMask & (0x8000u >> i)) == 0) continue;
            const RenderLightSlot& light = render.LightSlot(i);
            Vec3 l{light.position.x - p.x, light.position.y - p.y, light.position.z - p.z};
            const double d = std::sqrt(l.x * l.x + l.y * l.y + l.z * l.z);
            if (!(d > 0.0)) continue;
            l = Vec3{l.x / d, l.y / d, l.z / d};
            double ln = l.x * n.x + l.y * n.y + l.z * n.z;
            if (ln < 0.0 || (light.hasRange && d >= light.range)) continue;
            double off = 1.0 - (l.x * reflected.x + l.y * reflected.y + l.z * reflected.z);
            double amplitude = 1.0;
            if (spread.form != nullptr && spread.offScale * off < spread.offLimit) {
                off = SpreadLobeOff(spread, off, amplitude, vn, ln, n, v, l);
            }
            const double lobe = s2 / (s2 + off);
            double spec = amplitude * lobe * lobe;
            if (ln < 0.1) spec *= 10.0 * ln;
            if (light.hasRange) {
                const double f = RangeFalloff(light, d);
                spec *= f;
                ln *= f;
            }
            const std::int64_t specTerm = RoundToInt(1024.0 * spec);
            const std::int64_t diffuseTerm = RoundToInt(1024.0 * ln);
            const bool isLit = (cell.lightMask & (0x80000000u >> i)) != 0 ||
                               i >= render.ShadowLightCount();
            const auto& colour = isLit ? light.litTriple : light.shadowTriple;
            for (std::size_t c = 0; c < 3; ++c) {
                specularSum[c] += colour[c] * specTerm;
                diffuseSum[c] += colour[c] * diffuseTerm;
            }
            if (!isLayering) continue;
            const bool isShadowLight = i < render.ShadowLightCount();
            const auto& baseColour = isShadowLight ? light.shadowTriple : light.litTriple;
            for (std::size_t c = 0; c < 3; ++c) {
                baseSpecular[c] += baseColour[c] * specTerm;
                baseDiffuse[c] += baseColour[c] * diffuseTerm;
            }
            if (isShadowLight) {
                layerValues.evaluated |= 1u << i;
                lightDiffuse[static_cast<std::size_t>(i)] = diffuseTerm;
                lightSpecular[static_cast<std::size_t>(i)] = specTerm;
            }
        }

        const Vec3& u = shade.ambientDirection;
        const double nu = n.x * u.x + n.y * u.y + n.z * u.z;
        const std::int64_t ambientFactor = TruncToInt32(1024.0 * (1.0 + nu * nu));
        const std::int64_t strength = RoundToInt(1024.0 * record.highlightStrength);
        const bool isFogged = shade.isFogOn;
        const std::int32_t w = isFogged ? DepthCueWeight(shade, distance, x, y) : DepthCueFull;
        std::array<std::int64_t, 3> value{};
        for (std::size_t c = 0; c < 3; ++c) {
            std::int64_t da = (shade.ambient[c] * ambientFactor + diffuseSum[c] + 512) >> 10;
            if (record.hasSelfLight != 0) da += record.selfLight[c];
            if (record.isSelected != 0) da += shade.highlight[c];
            const std::int64_t surface15 = surfaceColour[c];
            const std::int64_t lit = surface15 * da + ((specularSum[c] + 16) >> 5) * strength;
            value[c] = isFogged ? ((((lit + 0x4000) >> 15) * w +
                                    static_cast<std::int64_t>(fogChannel[c]) * 4 * (16384 - w)) >> 8)
                                : lit >> 9;
        }
        const std::uint32_t alpha = shade.isAlphaFromFog ? AlphaOfWeight(w) : 0xFF000000u;
        if (isLayering) {
            layerValues.isLit = true;
            const auto fogged = [&](std::int64_t sum, std::int64_t fog) {
                return isFogged ? ((((sum + 0x4000) >> 15) * w + fog * 4 * (16384 - w)) >> 8)
                                : sum >> 9;
            };
            for (std::size_t c = 0; c < 3; ++c) {
                std::int64_t da = (shade.ambient[c] * ambientFactor + baseDiffuse[c] + 512) >> 10;
                if (record.hasSelfLight != 0) da += record.selfLight[c];
                if (record.isSelected != 0) da += shade.highlight[c];
                layerValues.base[c] =
                    fogged(surfaceColour[c] * da + ((baseSpecular[c] + 16) >> 5) * strength,
                           fogChannel[c]);
            }
            for (std::int32_t i = 0; i < render.ShadowLightCount() && i < RenderLightSlotCount;
                 ++i) {
                if ((layerValues.evaluated & (1u << i)) == 0) continue;
                const RenderLightSlot& light = render.LightSlot(i);
                const auto at = static_cast<std::size_t>(i);
                for (std::size_t c = 0; c < 3; ++c) {
                    const std::int64_t delta = light.litTriple[c] - light.shadowTriple[c];
                    const std::int64_t sum =
                        ((delta * lightDiffuse[at] + 0x200) >> 10) * surfaceColour[c] +
                        ((delta * lightSpecular[at] + 16) >> 5) * strength;
                    layerValues.light[at][c] = fogged(sum, 0);
                }
            }
        }
        return ShadedValue{value, alpha};
    }

    QRender& render;
    const ShadeSettings& shade;
    const RenderLevel& level;
    std::array<std::int32_t, 3> fogChannel{};
    std::array<std::int32_t, 3> accumulator{};
    // The light layers: whether this run writes them, the last lit pixel's values and the
    // dither accumulators of the base and of each shadow light.
    bool isLayering = false;
    LayerValues layerValues;
    std::array<std::int32_t, 3> baseAccumulator{};
    std::array<std::array<std::int32_t, 3>, RenderLightSlotCount> lightAccumulators{};
};

// The current level's output and its row stride in words, or null.
std::uint32_t* LevelOutput(const QRender& render, std::size_t& stride) {
    if (render.reductionLevel == 0) {
        stride = static_cast<std::size_t>(render.TargetStride());
        return render.Target();
    }
    stride = static_cast<std::size_t>(render.Level().width);
    return render.ReducedFrame(render.reductionLevel);
}

}  // namespace

void RenderLightSlotSetColours(RenderLightSlot& slot, const std::array<double, 3>& colour,
                               const std::array<double, 3>& shadowColour, double intensity) {
    for (std::size_t c = 0; c < 3; ++c) {
        slot.litTriple[c] = RoundToInt(colour[c] * intensity * 1024.0);
        slot.shadowTriple[c] = RoundToInt(shadowColour[c] * intensity * 1024.0);
    }
}

ShadedValue ShadeSamplePoint(QRender& render, const SampleCell& cell, double x, double y,
                             std::int32_t column, std::int32_t row) {
    SpanShader shader(render);
    return shader.Shade(cell, x, y, column, row);
}

ShadedValue ShadeSamplePointLayers(QRender& render, const SampleCell& cell, double x, double y,
                                   std::int32_t column, std::int32_t row, SampleLayers& layers) {
    SpanShader shader(render);
    shader.SetLayering(true);
    const ShadedValue value = shader.Shade(cell, x, y, column, row);
    const LayerValues& kept = shader.Layers();
    layers.isLit = kept.isLit;
    layers.evaluated = kept.isLit ? kept.evaluated : 0;
    layers.base = kept.isLit ? kept.base : value.value;
    layers.light = kept.light;
    return value;
}

void ShadeObjectSpans(QRender& render, const SpanRegion& region, bool alternateBuffers) {
    const PassBuffers buffers = render.PassBuffersFor(alternateBuffers);
    ShadeObjectSpansInto(render, region, buffers.cells, buffers.out, buffers.stride);
}

void ShadeObjectSpansInto(QRender& render, const SpanRegion& region, const SampleCell* cells,
                          std::uint32_t* out, std::size_t stride, std::uint32_t* layers,
                          std::size_t planeWords) {
    if (!render.BuffersReady() || region.HasNoRows()) return;
    if (out == nullptr || cells == nullptr) return;
    const RenderLevel& level = render.Level();
    SpanShader shader(render);
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), level.height);
    for (std::int32_t y = top; y < bottom; ++y) {
        const double ny = (y - level.centreY + 0.5) / level.focal;
        const SampleCell* rowCells =
            cells + static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(level.cellStride) + 1;
        std::uint32_t* rowOut = out + static_cast<std::size_t>(y) * stride;
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], level.width);
            if (x1 <= x0) continue;
            const std::size_t at =
                static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x0);
            shader.ShadeRun(rowCells + x0, rowOut + x0, x1 - x0,
                            (x0 - level.centreX + 0.5) / level.focal, ny, x0, y,
                            layers != nullptr ? layers + at : nullptr, planeWords);
        }
        RenderPollAfterRow(render.poll, y);
    }
}

std::int32_t RenderShadedFrame(QRender& render) {
    const std::int32_t cast = RenderCastFrame(render);
    if (cast != CastNotSized) render.isEyeInsideWorking = cast == CastEyeInside;
    if (cast == CastDone || cast == CastDepthOverflow) {
        if (render.options.flatPreview) {
            // The flat preview colours the frame from the ids alone: no shadows, no stars.
            for (FlatPartColours& colours : render.flatColours) colours = FlatPartColours{};
            QuickShadeRegion(render, render.changeRegion, false, render.flatColours);
            PyramidFilter(render);
            return cast;
        }
        RenderShadowStages(render);
        render.BuildLightFalloffTables();
        if (render.shade.isStars) PrepareStarBuffer(render);
        std::size_t stride = 0;
        std::uint32_t* out = LevelOutput(render, stride);
        if (render.SamplesPerPixel() > 1 && render.edges.isRefined) {
            const RenderLevel& level = render.Level();
            ResetSmallPartChains(render);
            MarkSmallPartsInFrame(render, nullptr, false, RegionRect{0, 0, level.width, level.height});
            KeepSmallPartChains(render);
        }
        // A whole frame keeps its light layers for the resolve of later frames.
        std::uint32_t* layers = render.LayerPlanes();
        RenderPixelPass(render, render.changeRegion, render.SampleBuffer(0), out, stride, layers,
                        render.LayerPlaneWords());
        ShadeObjectSpansInto(render, render.changeRegion, render.SampleBuffer(0), out, stride,
                             layers, render.LayerPlaneWords());
        render.areLayersOfWorking = layers != nullptr;
        render.areLayersOfBackups = false;
    } else if (cast == CastEyeInside) {
        // The frame is opaque black. Its light maps are made all the same and its dependency
        // lists marked as not describing it, so that backups taken of it hold nothing of an
        // earlier frame. Its light layers rebuild black, rather than being marked unusable:
        // black is what the picture and backups taken of it show, so a rebuild from them is
        // right, and incremental frames over those backups keep rebuilding pixels whose
        // shadows alone change from the layers once a part leaves the eye and the background
        // is drawn again, instead of shading them again every frame.
        RenderEyeInsideShadowStages(render);
        std::size_t stride = 0;
        LevelOutput(render, stride);
        const RenderLevel& level = render.Level();
        std::uint32_t* layers = render.LayerPlanes();
        FillBlackLayers(layers, render.LayerPlaneWords(), stride, render.ShadowLightCount(),
                        level.width, level.height);
        render.areLayersOfWorking = layers != nullptr;
        render.areLayersOfBackups = false;
    }
    if (cast != CastNotSized) PyramidFilter(render);
    return cast;
}
