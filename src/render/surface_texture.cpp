#include "render/surface_texture.h"

#include "core/float_convert.h"
#include "render/body_warp.h"
#include "render/q_render.h"
#include "render/shading_maths.h"
#include "texture/object_tex.h"
#include "texture/rev_tex.h"
#include "texture/surface_mapping_entry.h"
#include "texture/surface_tex_coords.h"
#include "texture/tex_maps.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

// Upper bounds of the footprint for magnifications 0..6 and level 0.
constexpr std::array<double, 8> FineBounds = {0.25, 0.5, 1.0, 1.32, 1.75, 2.3, 3.0, 6.0};
// Levels 1..12 start where the bound before them ends; a bound is the first that exceeds F.
constexpr std::array<double, 12> CoarseBounds = {12,  20,  32,  48,  80,   128,
                                                 192, 320, 512, 768, 1280, 2048};

// Transparency on a 14-bit scale: nothing drawn yet.
constexpr std::int32_t FullyTransparent = 0x4000;

struct Level {
    const std::uint32_t* colour = nullptr;
    const std::uint8_t* heights = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool isMagnified = false;
};

// The level for footprint, built first when missing; the image itself when that fails.
Level ChooseLevel(TexPyramid& pyramid, double footprint) {
    const TextureLevelChoice choice = SurfaceTextureLevel(footprint);
    const auto k = static_cast<std::size_t>(choice.index);
    if (choice.isMagnified) {
        if (pyramid.colourMagnified[k] != nullptr ||
            TexPyramidBuildMagnified(pyramid, choice.index) == 0) {
            return Level{pyramid.colourMagnified[k], pyramid.mapMagnified[k],
                         pyramid.magnifiedWidth, pyramid.magnifiedHeight, true};
        }
    } else if (pyramid.colourLevels[k] != nullptr ||
               TexPyramidBuildLevel(pyramid, choice.index) == 0) {
        return Level{pyramid.colourLevels[k], pyramid.mapLevels[k], pyramid.levelWidths[k],
                     pyramid.levelHeights[k], false};
    }
    if (pyramid.colourLevels[0] == nullptr) TexPyramidBuildLevel(pyramid, 0);
    return Level{pyramid.colourLevels[0], pyramid.mapLevels[0], pyramid.levelWidths[0],
                 pyramid.levelHeights[0], false};
}

inline std::int32_t Wrap(std::int32_t i, std::int32_t n) {
    const std::int32_t r = i % n;
    return r < 0 ? r + n : r;
}

// Two channels of four texels blended in one word: each column vertically by fy (rounded per
// half), then the two columns horizontally by fx; each half ends as 8.8 fixed point.
inline std::uint32_t BlendPair(std::uint32_t c00, std::uint32_t c10, std::uint32_t c01,
                               std::uint32_t c11, std::uint32_t fx, std::uint32_t fy) {
    const std::uint32_t right =
        (((c11 & 0xFF00FFu) * fy + 0x800080u + (c10 & 0xFF00FFu) * (256 - fy)) >> 8) & 0xFF00FFu;
    const std::uint32_t left =
        (((c01 & 0xFF00FFu) * fy + 0x800080u + (c00 & 0xFF00FFu) * (256 - fy)) >> 8) & 0xFF00FFu;
    return right * fx + left * (256 - fx);
}

// One bilinear sample of a level at centre-relative texel position (s, t).
struct Sample {
    bool exists = false;  // a decal sample inside the image
    std::array<std::int32_t, 3> colour{};
    std::uint32_t colourBlend = 0;  // P: blue low, red high
    std::uint32_t alphaBlend = 0;   // Q: green low, alpha high (decals)
    std::uint32_t greenBlend = 0;   // green in 8.8 (tiling images)
    bool isOpaque = false;
    bool isFaded = false;  // pulled towards transparent black by a seam fade
    bool hasHeights = false;
    double du = 0;
    double dv = 0;
};

Sample SampleLevel(const Level& level, bool isDecal, bool wantHeights, double s, double t) {
    Sample out;
    const std::int32_t w = level.width;
    const std::int32_t h = level.height;
    if (level.colour == nullptr || w <= 0 || h <= 0) return out;
    const double scale = level.isMagnified ? 2.0 : 1.0;
    const std::int32_t fixedX = TruncToInt32(((w - 1) / 2.0 + scale * s) * 256.0);
    const std::int32_t fixedY = TruncToInt32(((h - 1) / 2.0 + scale * t) * 256.0);
    std::int32_t column = fixedX >> 8;
    std::int32_t row = fixedY >> 8;
    const auto fx = static_cast<std::uint32_t>(fixedX & 0xFF);
    const auto fy = static_cast<std::uint32_t>(fixedY & 0xFF);
    std::int32_t right = 1;
    std::int32_t down = w;
    if (isDecal) {
        if (column < 0 || column >= w - 1 || row < 0 || row >= h - 1) return out;
    } else {
        column = Wrap(column, w);
        row = Wrap(row, h);
        if (column == w - 1) right = 1 - w;
        if (row == h - 1) down = (1 - h) * w;
    }
    const std::size_t at = static_cast<std::size_t>(row) * static_cast<std::size_t>(w) +
                           static_cast<std::size_t>(column);
    const std::uint32_t* c = level.colour + at;
    const std::uint32_t c00 = c[0];
    const std::uint32_t c10 = c[right];
    const std::uint32_t c01 = c[down];
    const std::uint32_t c11 = c[down + right];

    const std::uint32_t p = BlendPair(c00, c10, c01, c11, fx, fy);
    out.colourBlend = p;
    out.colour[0] = static_cast<std::int32_t>(p >> 16) - 0x4000;
    out.colour[2] = static_cast<std::int32_t>(p & 0xFFFF) - 0x4000;
    if (isDecal) {
        const std::uint32_t q = BlendPair(c00 >> 8, c10 >> 8, c01 >> 8, c11 >> 8, fx, fy);
        out.colour[1] = static_cast<std::int32_t>(q & 0xFFFF) - 0x4000;
        out.alphaBlend = q;
        const std::uint32_t all = c00 & c10 & c01 & c11;
        const std::uint32_t any = c00 | c10 | c01 | c11;
        out.isOpaque = (all & 0xC0000000u) == 0xC0000000u && (any & 0x3F000000u) == 0;
    } else {
        // Green alone, unrounded: a tiling image is opaque, so its alpha is never read.
        const std::uint32_t g = ((c11 & 0xFF00u) * fy + (c10 & 0xFF00u) * (256 - fy)) * fx +
                                ((c01 & 0xFF00u) * fy + (c00 & 0xFF00u) * (256 - fy)) * (256 - fx);
        out.greenBlend = g >> 16;
        out.colour[1] = static_cast<std::int32_t>(g >> 16) - 0x4000;
    }
    out.exists = true;

    // Height gradient: forward differences one texel apart, taken half a texel before the
    // sample along each axis and blended at the sample's position along the other.
    if (!wantHeights || level.heights == nullptr) return out;
    const std::int32_t shiftedX = fixedX - 0x80;
    const std::int32_t shiftedY = fixedY - 0x80;
    std::int32_t x0 = shiftedX >> 8;
    std::int32_t y0 = shiftedY >> 8;
    const std::int32_t gx = shiftedX & 0xFF;
    const std::int32_t gy = shiftedY & 0xFF;
    if (isDecal && (x0 < 0 || x0 > w - 3 || y0 < 0 || y0 > h - 3)) {
        out.exists = false;
        return out;
    }
    const std::int32_t x = fixedX >> 8;
    const std::int32_t y = fixedY >> 8;
    const auto b = [&](std::int32_t i, std::int32_t j) -> std::int32_t {
        if (!isDecal) {
            i = Wrap(i, w);
            j = Wrap(j, h);
        }
        return level.heights[static_cast<std::size_t>(j) * static_cast<std::size_t>(w) +
                             static_cast<std::size_t>(i)];
    };
    const std::int32_t ify = static_cast<std::int32_t>(fy);
    const std::int32_t ifx = static_cast<std::int32_t>(fx);
    const double du = static_cast<double>(
        ((b(x0 + 2, y + 1) - b(x0 + 1, y + 1)) * ify +
         (b(x0 + 2, y) - b(x0 + 1, y)) * (256 - ify)) *
            gx +
        ((b(x0 + 1, y + 1) - b(x0, y + 1)) * ify + (b(x0 + 1, y) - b(x0, y)) * (256 - ify)) *
            (256 - gx));
    const double dv = static_cast<double>(
        ((b(x + 1, y0 + 2) - b(x + 1, y0 + 1)) * ifx +
         (b(x, y0 + 2) - b(x, y0 + 1)) * (256 - ifx)) *
            gy +
        ((b(x + 1, y0 + 1) - b(x + 1, y0)) * ifx + (b(x, y0 + 1) - b(x, y0)) * (256 - ifx)) *
            (256 - gy));
    out.du = level.isMagnified ? 2.0 * du : du;
    out.dv = level.isMagnified ? 2.0 * dv : dv;
    out.hasHeights = true;
    return out;
}

// A seam fade of weight w16 (1..65536 for 0..1) pulls each blended 8.8 half towards 0x4000,
// transparent black: the low half by its product with w16, the high half by its offset's.
// A tiling image's sample, opaque until then, becomes as transparent as the fade leaves it.
void FadeSample(Sample& sample, bool isDecal, std::int32_t w16) {
    const auto weight = static_cast<std::int64_t>(w16);
    const auto low = [&](std::uint32_t word) {
        return static_cast<std::uint32_t>((((word & 0xFFFFu) * weight) >> 16) +
                                          ((0x10000 - weight) >> 2));
    };
    const auto high = [&](std::uint32_t half) {
        return static_cast<std::uint32_t>(
            (((static_cast<std::int64_t>(half) - 0x4000) * weight + 0x40000000) & 0xFFFF0000) >>
            16);
    };
    const std::uint32_t p = sample.colourBlend;
    sample.colourBlend = high(p >> 16) << 16 | low(p);
    sample.colour[0] = static_cast<std::int32_t>(sample.colourBlend >> 16) - 0x4000;
    sample.colour[2] = static_cast<std::int32_t>(sample.colourBlend & 0xFFFFu) - 0x4000;
    if (isDecal) {
        const std::uint32_t q = sample.alphaBlend;
        sample.alphaBlend = high(q >> 16) << 16 | low(q);
        sample.colour[1] = static_cast<std::int32_t>(sample.alphaBlend & 0xFFFFu) - 0x4000;
    } else {
        // Opaque: the alpha byte 0xC0 in 8.8.
        sample.greenBlend = high(sample.greenBlend);
        sample.colour[1] = static_cast<std::int32_t>(sample.greenBlend) - 0x4000;
        sample.alphaBlend = high(0xC000u) << 16;
    }
    sample.isOpaque = false;
    sample.isFaded = true;
}

}  // namespace

std::int32_t SeamFadeWeight(double x, double y, double rho, double pixel) {
    constexpr double Edge = 0.9;
    if (!(std::fabs(x) < Edge && std::fabs(y) < Edge)) return -1;
    const double tf = std::max(0.0, Edge - 5.0 * pixel / (std::sqrt(rho * rho + 1.5625) + 0.75));
    if (std::fabs(x) < tf && std::fabs(y) < tf) return 0;
    const auto axis = [&](double a) {
        if (std::fabs(a) <= tf) return 1.0;
        const double t = (2.0 * std::fabs(a) - (tf + Edge)) / (Edge - tf);
        return 0.5 - (0.75 - 0.25 * t * t) * t;
    };
    const double weight = std::trunc(axis(x) * axis(y) * 65536.0);
    return static_cast<std::int32_t>(std::clamp(weight, 1.0, 65536.0));
}

namespace {

// The planar footprint: the larger eigenvalue of the Gram matrix of the screen-step
// derivatives of part-space (x, y) on the tangent plane at p.
double PlanarFootprint(const Matrix4W& partFromView, double pixel, const Vec3& p, const Vec3& n) {
    const auto& m = partFromView.m;
    const double pn = Vec3Dot(p, n);
    if (pn == 0.0) return pixel * pixel * 1e9;
    const double k = pixel / pn;
    const double a = m[5] * p.x + m[6] * p.y + m[7] * p.z;
    const double b = m[9] * p.x + m[10] * p.y + m[11] * p.z;
    const double dx0 = m[5] * pixel - a * k * n.x;
    const double dx1 = m[9] * pixel - b * k * n.x;
    const double dy0 = m[6] * pixel - a * k * n.y;
    const double dy1 = m[10] * pixel - b * k * n.y;
    const double sa = dx0 * dx0 + dx1 * dx1;
    const double sb = dy0 * dy0 + dy1 * dy1;
    const double sc = dx0 * dy0 + dx1 * dy1;
    const double half = (sa - sb) / 2.0;
    return (sa + sb) / 2.0 + std::sqrt(half * half + sc * sc);
}

// The tint pulls mid tones towards the tint colour and leaves black and white alone.
void ApplyTint(const PartTexture& part, std::array<std::int32_t, 3>& colour) {
    const std::int32_t l = (colour[0] + colour[1] + colour[2]) >> 2;
    const std::int32_t f = ((0x5FA0 - l) * l) >> 8;
    bool isOutside = false;
    for (std::size_t c = 0; c < 3; ++c) {
        colour[c] += ((static_cast<std::int32_t>(part.tintColour[c]) - 0x80) * f) >> 11;
        isOutside = isOutside || (static_cast<std::uint32_t>(colour[c]) & 0xFFFF8000u) != 0;
    }
    if (!isOutside) return;
    for (std::int32_t& c : colour) c = c < 0 ? 0 : (c > 0x7FFF ? 0x7FFF : c);
}

// The tiles that cover a point, composited front to back: a tiling image's first sample is
// final; decal samples add their colour under what is left of the transparency.
struct Composite {
    std::array<std::int32_t, 3> colour{};
    std::int32_t transparency = FullyTransparent;
    double du = 0.0;
    double dv = 0.0;
    bool hasHeights = false;

    // Adds one tile's sample; true when the point is covered.
    bool Add(const Sample& sample, bool isDecal) {
        if (!sample.exists) return false;
        hasHeights = hasHeights || sample.hasHeights;
        if (!isDecal) {
            // Opaque: it takes what is left, all of it unless a faded tile lies over it.
            for (std::size_t c = 0; c < 3; ++c) {
                colour[c] += (sample.colour[c] * transparency) >> 14;
            }
            du += sample.du * transparency / FullyTransparent;
            dv += sample.dv * transparency / FullyTransparent;
            transparency = 0;
            return true;
        }
        for (std::size_t c = 0; c < 3; ++c) colour[c] += (sample.colour[c] * transparency) >> 14;
        const auto alphaHalf = static_cast<std::int32_t>(sample.alphaBlend >> 17);
        const double weight = static_cast<double>(alphaHalf - 0x2000) * transparency * 0x1p-28;
        du += sample.du * weight;
        dv += sample.dv * weight;
        transparency = sample.isOpaque ? 0 : ((0x6000 - alphaHalf) * transparency) >> 14;
        return transparency == 0;
    }

    // What no sample covered shows the base colour; with nothing drawn, at full strength.
    void FillBase(std::uint32_t base) {
        if (transparency == 0) return;
        const auto t = static_cast<std::uint32_t>(transparency);
        colour[0] += static_cast<std::int32_t>((((base >> 16) & 0xFF) * 256 * t) >> 15);
        colour[1] += static_cast<std::int32_t>(((base & 0xFF00) * t) >> 15);
        colour[2] += static_cast<std::int32_t>(((base & 0xFF) * t) >> 7);
    }
};

// The squared footprint of a pixel on a mapped surface: w^2 times the squared secant of the
// angle between the view ray and the surface, at least w^2; a grazing ray gives w^2 10^9.
double SurfaceFootprint(double pixel, const Vec3& p, const Vec3& n) {
    const double pn = Vec3Dot(p, n);
    if (pn == 0.0) return pixel * pixel * 1e9;
    const double phi =
        2.0 * p.z * n.z / pn + Vec3Dot(p, p) * (n.x * n.x + n.y * n.y) / (pn * pn) - 1.0;
    return pixel * pixel * std::max(1.0, phi);
}

// Surface coordinates of a point of a wrapped box or flat-sided cylinder, by surface; false
// for a surface the wrap lays no texture on.
bool PrimitiveCoords(const PartTexture& part, std::int32_t surface, double x, double y, double z,
                     double& u, double& v) {
    constexpr double Pi = std::numbers::pi;
    const double k = part.primitive[0];
    const double a = part.primitive[1];
    const double b = part.primitive[2];
    const double c = part.primitive[3];
    v = k * y;
    const auto around = [](double w) { return w < 0.0 ? w + 2.0 * Pi : w; };
    if (part.mapping == TextureMapping::FlatSidedCylinder) {
        switch (surface) {
            case 0:  // the rounded corners, by quadrant
                if (x > 0.0 && z > 0.0) {
                    u = ((std::atan(z / x) - Pi / 8) * b + a) * k;
                } else if (z > 0.0) {
                    u = (a - (std::atan(x / z) + Pi / 8) * b) * k + Pi / 2;
                } else if (x <= 0.0) {
                    u = ((std::atan(z / x) - Pi / 8) * b + a) * k + Pi;
                } else {
                    u = (a - (std::atan(x / z) + Pi / 8) * b) * k + 3 * Pi / 2;
                }
                return true;
            case 1:
                u = Pi - k * z;
                return true;
            case 2:
                u = around(k * z);
                return true;
            case 3:
                u = k * x + 3 * Pi / 2;
                return true;
            case 4:
                u = Pi / 2 - k * x;
                return true;
            case 5:
                u = k * x + Pi;
                v = -k * z - Pi;
                return true;
            case 6:
                u = k * x + Pi;
                v = k * z + Pi;
                return true;
            case 7:
                u = k * x + Pi;
                v = y >= 0.0 ? k * z + Pi : -k * z - Pi;
                return true;
            default:
                return false;
        }
    }
    const double r = std::numbers::sqrt2;
    switch (surface) {
        case 0:
            u = Pi - k * z;
            return true;
        case 1:
            u = around(k * z);
            return true;
        case 2:
            u = k * x + Pi;
            v = -k * z - Pi;
            return true;
        case 3:
            u = k * x + Pi;
            v = k * z + Pi;
            return true;
        case 4:
            u = k * x + 3 * Pi / 2;
            return true;
        case 5:
            u = Pi / 2 - k * x;
            return true;
        case 6:  // the bevelled edges, by quadrant
            if (x > 0.0 && z > 0.0) {
                u = (r * z - (r - 1) * (c - a)) * k;
            } else if (z > 0.0) {
                u = Pi / 2 - (r * x + (r - 1) * (b - a)) * k;
            } else if (x <= 0.0) {
                u = Pi - (r * z + (r - 1) * (c - a)) * k;
            } else {
                u = (r * x - (r - 1) * (b - a)) * k + 3 * Pi / 2;
            }
            return true;
        default:
            return false;
    }
}

// The direction of growing u on a wrapped primitive's surface, in part space (not unit on the
// rounded corners).
Vec3 PrimitiveTangent(const PartTexture& part, std::int32_t surface, double x, double z) {
    const bool isCylinder = part.mapping == TextureMapping::FlatSidedCylinder;
    // The surfaces whose u runs against z, along z, and against x; the rest run along x.
    const std::int32_t againstZ = isCylinder ? 1 : 0;
    const std::int32_t alongZ = isCylinder ? 2 : 1;
    const std::int32_t againstX = isCylinder ? 4 : 5;
    if (surface == againstZ) return Vec3{0.0, 0.0, -1.0};
    if (surface == alongZ) return Vec3{0.0, 0.0, 1.0};
    if (surface == againstX) return Vec3{-1.0, 0.0, 0.0};
    if (isCylinder && surface == 0) {
        const double b = part.primitive[2];
        return b != 0.0 ? Vec3{-z / b, 0.0, x / b} : Vec3{};
    }
    if (!isCylinder && surface == 6) {  // the bevelled edges, by quadrant
        const double h = std::sqrt(0.5);
        if (x > 0.0 && z > 0.0) return Vec3{-h, 0.0, h};
        if (z > 0.0) return Vec3{-h, 0.0, -h};
        if (x <= 0.0) return Vec3{h, 0.0, -h};
        return Vec3{h, 0.0, h};
    }
    return Vec3{1.0, 0.0, 0.0};
}

// Surface coordinates of a point of a surface with an entry in the part's surface mapping
// list, and their angle per unit of distance on the surface; false when the surface has no
// usable entry.
bool SurfaceListCoords(const BufferArray& list, std::int32_t surface, const Vec3& partPoint,
                       double& u, double& v, double& perDistance, Vec3* tangent,
                       const ObjectTex* revolution, const SurfaceMappingEntry** used = nullptr) {
    const std::int64_t i = static_cast<std::int64_t>(surface) - list.firstIndex;
    if (list.buffers == nullptr || i < 0 || i >= list.count || i >= list.capacity) return false;
    const auto* entry = static_cast<const SurfaceMappingEntry*>(list.buffers[i]);
    // A fresh entry holds its head alone; the coordinates read the fields after it.
    if (entry == nullptr || entry->byteSize < sizeof(SurfaceMappingEntry)) return false;
    const auto& t = entry->transform.m;
    Vec3 point = partPoint;
    if (entry->transformKind == 1) {
        point = Vec3{t[4] + t[5] * partPoint.x + t[6] * partPoint.y + t[7] * partPoint.z,
                     t[8] + t[9] * partPoint.x + t[10] * partPoint.y + t[11] * partPoint.z,
                     t[12] + t[13] * partPoint.x + t[14] * partPoint.y + t[15] * partPoint.z};
    } else if (entry->transformKind == 2) {
        point = Vec3{partPoint.x + t[4], partPoint.y + t[8], partPoint.z + t[12]};
    }
    SurfaceTexCoords coords;
    switch (SurfaceMappingEntryKind(*entry)) {
        case SurfaceMapperKind::Ellipsoid:
            coords = EllipsoidTexCoords(point, *entry, tangent);
            break;
        case SurfaceMapperKind::Hyperboloid:
            coords = SpheroidTexCoords(point, *entry, tangent);
            break;
        case SurfaceMapperKind::EllipticCylinder:
            // The angle around the cylinder and its length along z, in the angle's units.
            coords.angle = SurfaceAngleCoord(point.x, point.y, *entry);
            coords.angleScale = entry->quarterMeasure > 0.0
                                    ? std::numbers::pi / (2.0 * entry->quarterMeasure)
                                    : 0.0;
            coords.length = point.z * coords.angleScale;
            // The angle grows along the ellipse, against its gradient turned a quarter.
            if (tangent != nullptr) {
                const double a2 = entry->a * entry->a;
                const double b2 = entry->b * entry->b;
                *tangent = a2 > 0.0 && b2 > 0.0 ? Vec3{point.y / b2, -point.x / a2, 0.0} : Vec3{};
            }
            break;
        default:
            return false;
    }
    // An affine frame carries the tangent back through its transposed matrix.
    if (tangent != nullptr && entry->transformKind == 1) {
        const Vec3 e = *tangent;
        *tangent =
            Vec3{t[5] * e.x + t[9] * e.y + t[13] * e.z, t[6] * e.x + t[10] * e.y + t[14] * e.z,
                 t[7] * e.x + t[11] * e.y + t[15] * e.z};
    }
    if (used != nullptr) *used = entry;
    u = coords.angle;
    v = coords.length;
    perDistance =
        coords.angleScale > 0.0 && std::isfinite(coords.angleScale) ? coords.angleScale : 1.0;
    const std::uint32_t warpKind = (entry->kindWord >> 8) & 0xFF;
    if (warpKind == 1) {
        perDistance *= WarpSurfaceCoords(*entry, u, v);
    } else if (warpKind == 2 && revolution != nullptr) {
        // The second warp takes its scale and modulus from the part's revolution mapping.
        perDistance *= WarpByEllipticIntegral(revolution->warpScale, revolution->warpModulus, u, v);
    }
    return true;
}

// How far the profile point (r, y) lies from a surface's profile. Straight profiles are
// measured exactly, ellipses by their normalised radius; other conics only by how far the
// point lies outside their height range.
double ProfileDistance(const Rtp& profile, double r, double y) {
    const double outside =
        std::max({0.0, std::min(profile.y1, profile.y2) - y, y - std::max(profile.y1, profile.y2)});
    switch (static_cast<ProfileKind>(profile.type)) {
        case ProfileKind::Straight: {
            const double dr = profile.r2 - profile.r1;
            const double dy = profile.y2 - profile.y1;
            const double squared = dr * dr + dy * dy;
            const double t =
                squared > 0.0
                    ? std::clamp(((r - profile.r1) * dr + (y - profile.y1) * dy) / squared, 0.0,
                                 1.0)
                    : 0.0;
            return std::hypot(r - (profile.r1 + t * dr), y - (profile.y1 + t * dy));
        }
        case ProfileKind::Elliptic:
        case ProfileKind::EllipticPolar:
            if (!(profile.a > 0.0 && profile.b > 0.0)) return outside;
            return outside +
                   std::fabs(std::hypot(r / profile.a, (y - profile.yOffset) / profile.b) - 1.0) *
                       std::min(profile.a, profile.b);
        default:
            return outside;
    }
}

// ln r for the angle-keeping length of a straight profile; the axis and below count as -30.
double LogRadius(double r) { return r > 0.0 ? std::max(std::log(r), -30.0) : -30.0; }

// Surface coordinates of a point of a part's surface of revolution under its revolution
// mapping: the angle around the y axis from +x towards +z, and the length coordinate of the
// point on the surface's profile. An angle-keeping mapping measures the length in units of the
// local radius so that both keep the image's shape, and the footprint's scale is 1 / r, with r
// at least 10^-3 on the axis; a custom mapping measures arc length, at the scale 1. The records
// carry no surface numbers, so the surface whose profile passes nearest the point lays the length
// (where two surfaces meet, both give the same length there). False without a usable record.
bool RevolutionCoords(const ObjectTex& mapping, const Vec3& point, double& u, double& v,
                      double& perDistance) {
    if (mapping.records == nullptr) return false;
    const double r = std::hypot(point.x, point.z);
    const RevTex* nearest = nullptr;
    double best = std::numeric_limits<double>::infinity();
    const std::int32_t count = std::min(mapping.numSurfs, mapping.recordCapacity);
    for (std::int32_t i = 0; i < count; ++i) {
        const RevTex* record = mapping.records[i];
        if (record == nullptr) continue;
        const double distance = ProfileDistance(record->profile, r, point.y);
        if (distance < best) {
            best = distance;
            nearest = record;
        }
    }
    if (nearest == nullptr) return false;
    u = std::atan2(point.z, point.x);
    if (u < 0.0) u += 2.0 * std::numbers::pi;
    const Rtp& profile = nearest->profile;
    switch (static_cast<ProfileKind>(profile.type)) {
        case ProfileKind::Straight:
            if (nearest->lType == 0) {
                // Arc length: the distance from the surface's start along its outline.
                v = nearest->start + std::hypot(r - profile.r1, point.y - profile.y1);
            } else if (std::fabs(profile.r2 - profile.r1) >
                       1e-5 * std::max(profile.r1, profile.r2)) {
                v = nearest->start + (LogRadius(r) - LogRadius(profile.r1)) / profile.a;
            } else {
                // A cylinder: the distance along it in units of its radius.
                const double e = std::hypot(r - profile.r1, point.y - profile.y1) / profile.r1;
                v = nearest->start + (1.0 - profile.a * 0.5 * e) * e;
            }
            break;
        case ProfileKind::Elliptic:
        case ProfileKind::EllipticPolar:
        case ProfileKind::HyperbolicPolar:
        case ProfileKind::Hyperbolic:
        case ProfileKind::Parabolic: {
            const double y = point.y - profile.yOffset;
            const ProfileKind kind = static_cast<ProfileKind>(profile.type);
            double m = kind == ProfileKind::Parabolic ? ProfileCurveMeasureParabolic(r, y, *nearest)
                       : kind == ProfileKind::Elliptic || kind == ProfileKind::EllipticPolar
                           ? ProfileCurveMeasure(r, y, *nearest)
                           : ProfileCurveMeasureHyperbolic(r, y, *nearest);
            // A profile laid from top to bottom measures downwards.
            if (profile.y1 >= profile.y2) m = -m;
            v = nearest->lOffset + m;
            break;
        }
        default:
            return false;
    }
    if (!std::isfinite(u) || !std::isfinite(v)) return false;
    perDistance = nearest->lType == 0 ? 1.0 : 1.0 / std::max(r, 1e-3);
    return true;
}

enum class ChainEnd { Empty, Ended, Covered };

// A point placed in a polar cap's plane: at the distance rho from the pole, towards the point's
// angle u around it, (sin u, cos u) rho at the first pole and (cos u, sin u) rho at the second,
// so that neither shows the image reversed.
struct CapHit {
    double x = 0.0;
    double y = 0.0;
    // The plane's unit directions of growing u and growing v there, which carry a height
    // gradient in the plane back to the surface coordinates.
    std::array<double, 2> alongU{};
    std::array<double, 2> alongV{};
    double stretch = 1.0;   // plane units per unit of (u, v): rho for the logarithmic caps
    std::int32_t fade = 0;  // seam-fade weight 1..65536, 0 for none
    std::int32_t phase = 0;  // the texture phase (x, y) were turned by about the pole
};

// candidate 0 is the first pole, where rho grows with v; 1 the second, where it shrinks.
CapHit PlaceOnCap(std::int32_t candidate, double sine, double cosine, double rho) {
    CapHit hit;
    if (candidate == 0) {
        hit.x = sine * rho;
        hit.y = cosine * rho;
        hit.alongU = {cosine, -sine};
        hit.alongV = {sine, cosine};
    } else {
        hit.x = cosine * rho;
        hit.y = sine * rho;
        hit.alongU = {-sine, cosine};
        hit.alongV = {-cosine, -sine};
    }
    return hit;
}

// Turns a cap's plane point about the pole by the part's texture phase, so that the point
// reads the map where the phase has carried it; the gradient read there is turned back
// (TurnedBack).
void TurnByPhase(CapHit& hit, std::int32_t phase) {
    if (phase == 0) return;
    RotateByQuarterTurnAngle(hit.x, hit.y, phase);
    hit.phase = phase;
}

// A height gradient (x, y) read in a cap's map, turned back into the plane of the point's
// unturned position, by minus the phase its plane point was turned by.
std::array<double, 2> TurnedBack(const CapHit& hit, double x, double y) {
    if (hit.phase != 0) RotateByQuarterTurnAngle(x, y, -hit.phase);
    return {x, y};
}

// Hands the tiles of the chain that starts at link to onTile(tile) until one covers the point.
// A chain is never longer than the links there are.
template <typename OnTile>
ChainEnd WalkChain(std::int32_t link, const IndLink* heaps, std::int32_t heapCount,
                   const TexTile* tiles, std::int32_t tileCount, OnTile& onTile) {
    if (link < 0) return ChainEnd::Empty;
    for (std::int32_t steps = 0; link >= 0 && link < heapCount && steps < heapCount; ++steps) {
        const IndLink& entry = heaps[link];
        if (entry.ind >= 0 && entry.ind < tileCount && onTile(tiles[entry.ind])) {
            return ChainEnd::Covered;
        }
        link = entry.next;
    }
    return ChainEnd::Ended;
}

// Hands the tiles of the cell of map under (u, v) to sample(s, t, tile, nullptr), each with the
// point's image position about the tile's centre, until one covers the point. The cell's row
// counts from the map's start in cell rows, after its head overhang.
template <typename SampleTile>
ChainEnd WalkCell(const TileMap& map, double cellLength, double u, double v, SampleTile& sample) {
    if (map.cells == nullptr || map.hcells <= 0 || map.vcells <= 0 || !(cellLength > 0.0)) {
        return ChainEnd::Empty;
    }
    const std::int32_t row =
        std::clamp(FloorToInt32((v - map.lStart) / cellLength) + map.overCell1, 0, map.vcells - 1);
    const std::int32_t column =
        std::clamp(FloorToInt32(map.hcells * u / (2.0 * std::numbers::pi)), 0, map.hcells - 1);
    const std::int32_t link =
        map.cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(map.hcells) +
                  static_cast<std::size_t>(column)];
    auto onTile = [&](const TexTile& tile) {
        double du = u - tile.ca;
        if (du > std::numbers::pi) {
            du -= 2.0 * std::numbers::pi;
        } else if (du < -std::numbers::pi) {
            du += 2.0 * std::numbers::pi;
        }
        const double dv = v - tile.cd;
        return sample(tile.ha * du + tile.hd * dv, tile.va * du + tile.vd * dv, tile,
                      static_cast<const CapHit*>(nullptr));
    };
    return WalkChain(link, map.heaps, map.heapCount, map.tiles, map.tileCount, onTile);
}

// The same for a polar cap at the plane point (x, y) of hit, sample's last argument: cells of
// cellLength on a side, n of them each way from the pole.
template <typename SampleTile>
ChainEnd WalkPolar(const PolarMap& map, double cellLength, const CapHit& hit, SampleTile& sample) {
    const double x = hit.x;
    const double y = hit.y;
    const std::int32_t n = map.cellsPerSide;
    if (map.cells == nullptr || n <= 0 || !(cellLength > 0.0)) return ChainEnd::Empty;
    const std::int32_t i = std::clamp(FloorToInt32(x / cellLength) + n, 0, 2 * n - 1);
    const std::int32_t j = std::clamp(FloorToInt32(y / cellLength) + n, 0, 2 * n - 1);
    const std::int32_t link =
        map.cells[static_cast<std::size_t>(j) * static_cast<std::size_t>(2 * n) +
                  static_cast<std::size_t>(i)];
    auto onTile = [&](const TexTile& tile) {
        const double dx = x - tile.ca;
        const double dy = y - tile.cd;
        return sample(tile.ha * dx + tile.hd * dy, tile.va * dx + tile.vd * dy, tile, &hit);
    };
    return WalkChain(link, map.heaps, map.heapCount, map.tiles, map.tileCount, onTile);
}

// The body search of a mapping's bands: band 1 where it lies over the point (first, with
// band 0 under it in its overhangs), then band 0. Before the search v moves by the part's
// phase, that fraction of the mapping's length L, and is brought into [0, L); a corner rod's
// length runs on through its joints and keeps its place.
template <typename SampleTile>
ChainEnd SearchBody(const PartTexture& part, double u, double v, SampleTile& sample) {
    const CustomRevTex& mapping = *part.tiles;
    const double length = mapping.length;
    if (length > 0.0) {
        const std::int32_t phase = part.mapping == TextureMapping::CornerRod ? 0 : part.phase;
        const double g = v / length + phase / 65536.0;
        v = (g - std::floor(g)) * length;
    }
    const TileMap* second = mapping.band1.get();
    const TileMap* first = mapping.band0.get();
    if (second != nullptr && second->cells != nullptr) {
        const double a = second->OverLen2;
        const double b = second->lStart;
        const double o = second->OverLen1;
        if (!(a <= v && v <= b - o)) {
            bool isInside = true;
            double at = v;
            if (v >= b) {
                isInside = false;
            } else if (v < a) {
                at = v + length;
            }
            const ChainEnd end = WalkCell(*second, part.bandCellLengths[1], u, at, sample);
            if (end == ChainEnd::Covered || (end == ChainEnd::Ended && !isInside)) return end;
        }
    }
    if (first == nullptr) return ChainEnd::Empty;
    return WalkCell(*first, part.bandCellLengths[0], u, v, sample);
}

// The search of a mapping with poles, which lays its caps over both ends of its band: a point
// before the band's start or beyond its end reads that end's cap alone; a point on the band
// reads the caps that reach it first and the band under them. A cap's plane point lies at the
// point's distance from the pole along the length coordinate, in the point's direction around
// the axis (mirrored at the far pole, so that neither shows the image reversed), turned by the
// part's phase; a point past a cap's radius has nothing there. The band is read where the
// point lies on it, whatever the phase.
template <typename SampleTile>
void SearchWithCaps(const PartTexture& part, const Vec3& point, double u, double v,
                    SampleTile& sample) {
    const CustomRevTex& mapping = *part.tiles;
    const TileMap* band = mapping.band0.get();
    if (band == nullptr) return;
    const double r = std::hypot(point.x, point.z);
    const double cosine = r > 0.0 ? point.x / r : 0.0;
    const double sine = r > 0.0 ? point.z / r : 0.0;
    // Candidates in order: the first cap, the second, the band. A candidate with nothing at
    // the point passes the search on; one whose chain ends uncovered passes it on only for a
    // point on the band.
    const auto tryCandidate = [&](std::int32_t candidate) {
        if (candidate == 2) return WalkCell(*band, part.bandCellLengths[0], u, v, sample);
        const PolarMap* cap = candidate == 0 ? mapping.cap0.get() : mapping.cap1.get();
        if (cap == nullptr) return ChainEnd::Empty;
        const double rho = std::max(0.0, candidate == 0 ? v : mapping.length - v);
        if (!(rho < cap->lOuter)) return ChainEnd::Empty;
        CapHit hit = PlaceOnCap(candidate, sine, cosine, rho);
        TurnByPhase(hit, part.phase);
        return WalkPolar(*cap, part.capCellLengths[static_cast<std::size_t>(candidate)], hit,
                         sample);
    };
    const bool isInside = v >= band->lStart && v <= band->lEnd;
    for (std::int32_t candidate = v > band->lEnd ? 1 : 0; candidate <= 2; ++candidate) {
        const ChainEnd end = tryCandidate(candidate);
        if (end == ChainEnd::Covered || (end == ChainEnd::Ended && !isInside)) return;
    }
}

// The search of a measuring source under the material's caps, which cover the ends of the
// length coordinate v before start and after end: the distance d from a cap's start (v - start
// at the first pole, end - v at the second) places the point at the logarithmic radius
// rho = lInner e^d, so that the map from (u, v) to the cap's plane keeps angles and, where d is
// 0, lengths too: there the cap's tiles meet the body's at the same scale. A cap covers the
// points with d below its inner length and rho within its disc; on the body (between start and
// end) the caps that reach the point come first and the body lies under them. The plane point
// turns by the part's phase about the pole, as the body moves along v by it. With fade, the
// plane points that near the cap's edge fade out over the body (SeamFadeWeight).
template <typename SampleTile>
void SearchMaterialCaps(const PartTexture& part, double u, double v, double start, double end,
                        double pixel, bool withFade, SampleTile& sample) {
    const double sine = std::sin(u);
    const double cosine = std::cos(u);
    const auto tryCandidate = [&](std::int32_t candidate) {
        if (candidate == 2) return SearchBody(part, u, v, sample);
        const auto k = static_cast<std::size_t>(candidate);
        const PolarMap* cap = part.materialCaps[k];
        if (cap == nullptr || !(cap->lOuter > 0.0)) return ChainEnd::Empty;
        const double d = candidate == 0 ? v - start : end - v;
        if (!(d < cap->lInner)) return ChainEnd::Empty;
        const double rho = cap->lInner * std::exp(d);
        if (!(rho < cap->lOuter)) return ChainEnd::Empty;
        CapHit hit = PlaceOnCap(candidate, sine, cosine, rho);
        TurnByPhase(hit, part.phase);
        hit.stretch = rho;
        // The fade follows the square of the map's own plane, where the turned point lies.
        if (withFade) {
            const double radius = cap->lOuter;
            hit.fade =
                SeamFadeWeight(hit.x / radius, hit.y / radius, rho / radius, pixel * rho / radius);
            if (hit.fade < 0) return ChainEnd::Empty;
        }
        return WalkPolar(*cap, part.materialCapCellLengths[k], hit, sample);
    };
    const bool isInside = v >= start && v <= end;
    for (std::int32_t candidate = v > end ? 1 : 0; candidate <= 2; ++candidate) {
        const ChainEnd chain = tryCandidate(candidate);
        if (chain == ChainEnd::Covered || (chain == ChainEnd::Ended && !isInside)) return;
    }
}

// The search of an entry's six-face tiling: the face whose centre lies nearest the
// point first, then the next faces in turn, at most five passes, while the point stays
// uncovered. Face i reads the material's face map number (counter + i) mod 6, counter the
// entry's place in the part's list, so that the entries of one part start their faces apart.
// The faces lie on the unit sphere of the map at 2 / h plane units per unit of the
// stereographic tan(theta / 2), h = SurfaceFaceScale(entry); a face reads the point
// only within its disc and inside the square of half-side 0.9 of its radius, fading out towards
// the square's edge (SeamFadeWeight); its reach along both coordinates (SurfaceFaceLimits)
// passes over the faces of the equator that cannot hold the point before any projection.
template <typename SampleTile>
void SearchFaces(const PartTexture& part, SurfaceMappingEntry& entry, std::int32_t counter,
                 double u, double v, double pixel, SampleTile& sample) {
    constexpr double Pi = std::numbers::pi;
    const double h = SurfaceFaceScale(entry);
    if (!(h > 0.0) || !std::isfinite(h)) return;
    const std::array<double, 2> limits = SurfaceFaceLimits(entry, part.faceMaps[0]->lOuter, h);
    const double perTangent = 2.0 / h;
    std::int32_t face = NearestSurfaceFace(u, v);
    for (std::int32_t pass = 0; pass < 6; ++pass, face = (face + 1) % 6) {
        const auto k = static_cast<std::size_t>(((counter % 6) + 6 + face) % 6);
        const PolarMap* map = part.faceMaps[k];
        if (map == nullptr || !(map->lOuter > 0.0)) continue;
        if (face >= 2) {
            const double du = std::remainder(u - (face - 2) * Pi / 2.0, 2.0 * Pi);
            if (!(std::fabs(du) < limits[0] * h && std::fabs(v) < limits[1] * h)) continue;
        }
        const SurfaceFacePoint at = SurfaceFacePointOf(face, u, v);
        const double radius = map->lOuter;
        CapHit hit;
        hit.x = at.x * perTangent;
        hit.y = at.y * perTangent;
        hit.alongU = at.alongU;
        hit.alongV = at.alongV;
        hit.stretch = at.stretch * perTangent;
        const double rho = std::hypot(hit.x, hit.y);
        if (!(rho < radius)) continue;
        hit.fade = SeamFadeWeight(hit.x / radius, hit.y / radius, rho / radius,
                                  pixel * hit.stretch / radius);
        if (hit.fade < 0) continue;
        if (WalkPolar(*map, part.faceMapCellLengths[k], hit, sample) == ChainEnd::Covered) return;
    }
}

// The view-space bump vector of a mapped surface: du along the direction of growing u (the
// part-space tangent carried to view space through the transposed part matrix) and dv along
// the unit vector across it in the surface, tangent x n, turned over on the surface's back.
// A tangent that vanishes or lies along n gives no bump.
Vec3 SurfaceBump(const std::array<double, 16>& m, const Vec3& tangent, const Vec3& n,
                 bool flipNormal, double du, double dv) {
    const Vec3 g{m[5] * tangent.x + m[9] * tangent.y + m[13] * tangent.z,
                 m[6] * tangent.x + m[10] * tangent.y + m[14] * tangent.z,
                 m[7] * tangent.x + m[11] * tangent.y + m[15] * tangent.z};
    const double gLength = Vec3Length(g);
    const Vec3 across = Vec3Cross(g, n);
    const double acrossLength = Vec3Length(across);
    if (!(gLength > 0.0) || !(acrossLength > 0.0)) return Vec3{};
    const double a = (flipNormal ? -dv : dv) / acrossLength;
    const double b = du / gLength;
    return Vec3{b * g.x + a * across.x, b * g.y + a * across.y, b * g.z + a * across.z};
}

}  // namespace

TextureLevelChoice SurfaceTextureLevel(double footprint) {
    for (std::size_t i = 0; i < FineBounds.size(); ++i) {
        if (footprint <= FineBounds[i]) {
            return i < 7 ? TextureLevelChoice{true, static_cast<std::int32_t>(i)}
                         : TextureLevelChoice{false, 0};
        }
    }
    for (std::size_t k = 0; k < CoarseBounds.size(); ++k) {
        if (CoarseBounds[k] > footprint) return {false, static_cast<std::int32_t>(k + 1)};
    }
    return {false, 12};
}

std::int32_t MaterialCapPair(std::size_t mapCount, std::int32_t phase) {
    const auto pairs = static_cast<std::int64_t>(mapCount / 2);
    return static_cast<std::int32_t>((pairs * std::clamp(phase, 0, 65535)) >> 16);
}

bool IsBumpMapped(const PartTexture& part) {
    return part.bumpAmount != 0 && part.pyramid != nullptr && TexPyramidHasMap(*part.pyramid);
}

Vec3 BumpedGradient(const Vec3& g, std::int32_t amount, const Vec3& bumpVector) {
    const double f = static_cast<double>(amount) * 0x1p-40 * Vec3Length(g) * BumpScale;
    return Vec3{g.x - f * bumpVector.x, g.y - f * bumpVector.y, g.z - f * bumpVector.z};
}

void ShadeSurfacePoint(QRender& render, const PartTexture& part,
                       std::array<std::int32_t, 3>& outColour, TexPyramid& pyramid,
                       std::int32_t surface, bool bumpWanted, bool flipNormal, const Vec3& p,
                       const Vec3& n) {
    const auto& m = part.partFromView.m;
    // A point whose samples hold no heights leaves the normal as it is.
    if (bumpWanted) render.partTextures.bumpVector = Vec3{};
    const bool isDecal = pyramid.bordered != 0;
    const double x = m[4] + m[5] * p.x + m[6] * p.y + m[7] * p.z;
    const double y = m[8] + m[9] * p.x + m[10] * p.y + m[11] * p.z;
    const double pixel = p.z / render.Level().focal;
    Composite composite;

    if (part.mapping == TextureMapping::Planar) {
        // Part-space x and y are the texel position: one tile of scale 1.
        const bool wantHeights = bumpWanted && TexPyramidHasMap(pyramid);
        const Level level = ChooseLevel(pyramid, PlanarFootprint(part.partFromView, pixel, p, n));
        composite.Add(SampleLevel(level, isDecal, wantHeights, x, y), isDecal);
        if (wantHeights && composite.hasHeights) {
            // The planar axes are rows 0 and 1 of the part matrix, read as view-space vectors.
            const double du = composite.du;
            const double dv = composite.dv;
            render.partTextures.bumpVector =
                Vec3{du * m[5] + dv * m[9], du * m[6] + dv * m[10], du * m[7] + dv * m[11]};
        }
    } else if (part.tiles != nullptr) {
        const double z = m[12] + m[13] * p.x + m[14] * p.y + m[15] * p.z;
        double u = 0.0;
        double v = 0.0;
        double k = part.primitive[0];
        bool hasCoords = false;
        // The direction of growing u in part space, for the bump frame.
        Vec3 tangent{};
        const SurfaceMappingEntry* entry = nullptr;
        if (part.mapping == TextureMapping::SurfaceList) {
            hasCoords = part.surfaceList != nullptr &&
                        SurfaceListCoords(*part.surfaceList, surface, Vec3{x, y, z}, u, v, k,
                                          &tangent, part.revolution, &entry);
        } else if (part.mapping == TextureMapping::CornerRod) {
            const CornerRodWrapPoint rod = CornerRodWrapCoords(part.cornerRod, Vec3{x, y, z});
            u = rod.angle;
            v = part.cornerRodStart + rod.length;
            k = rod.perDistance;
            tangent = rod.tangent;
            hasCoords = k > 0.0;
        } else if (part.mapping == TextureMapping::Box ||
                   part.mapping == TextureMapping::FlatSidedCylinder) {
            hasCoords = PrimitiveCoords(part, surface, x, y, z, u, v);
            tangent = PrimitiveTangent(part, surface, x, z);
        }
        // A surface without an entry of its own in the list takes the revolution mapping.
        if (!hasCoords && part.revolution != nullptr) {
            hasCoords = RevolutionCoords(*part.revolution, Vec3{x, y, z}, u, v, k);
            const double r = std::hypot(x, z);
            tangent = r > 1e-6 ? Vec3{-z / r, 0.0, x / r} : Vec3{1.0, 0.0, 0.0};
            if (hasCoords && ((part.revolution->warpWord >> 8) & 0xFF) == 2) {
                k *= WarpByEllipticIntegral(part.revolution->warpScale,
                                            part.revolution->warpModulus, u, v);
            }
        }
        if (hasCoords) {
            const double footprint = SurfaceFootprint(pixel, p, n) * k * k;
            const bool wantHeights = bumpWanted && TexPyramidHasMap(pyramid);
            auto sample = [&](double s, double t, const TexTile& tile, const CapHit* cap) {
                const auto scale = static_cast<double>(tile.scale);
                const double stretch = cap != nullptr ? cap->stretch : 1.0;
                const Level level =
                    ChooseLevel(pyramid, footprint * scale * scale * stretch * stretch);
                Sample one = SampleLevel(level, isDecal, wantHeights, s, t);
                if (cap != nullptr && cap->fade > 0 && one.exists)
                    FadeSample(one, isDecal, cap->fade);
                // A tile's height gradient is carried back to its map's axes, per texel of the
                // tile; a cap's, in its plane, then to the directions of growing u and v.
                if (one.hasHeights) {
                    const double du =
                        scale != 0.0 ? (one.du * tile.ha + one.dv * tile.va) / scale : 0.0;
                    const double dv =
                        scale != 0.0 ? (one.du * tile.hd + one.dv * tile.vd) / scale : 0.0;
                    one.du = du;
                    one.dv = dv;
                    if (cap != nullptr) {
                        const std::array<double, 2> g = TurnedBack(*cap, du, dv);
                        one.du = g[0] * cap->alongU[0] + g[1] * cap->alongU[1];
                        one.dv = g[0] * cap->alongV[0] + g[1] * cap->alongV[1];
                    }
                }
                return composite.Add(one, isDecal || one.isFaded);
            };
            if (part.mapping == TextureMapping::CustomRevolution && part.tiles->poleless == 0) {
                SearchWithCaps(part, Vec3{x, y, z}, u, v, sample);
            } else if (entry != nullptr && SurfaceMapperKindKnown(*entry) &&
                       std::all_of(part.faceMaps.begin(), part.faceMaps.end(),
                                   [](const PolarMap* map) { return map != nullptr; })) {
                // The entry's buffer, whose seam-fade cache the search keeps.
                const std::int32_t index = surface - part.surfaceList->firstIndex;
                auto* mutableEntry =
                    static_cast<SurfaceMappingEntry*>(part.surfaceList->buffers[index]);
                SearchFaces(part, *mutableEntry, index, u, v, std::sqrt(footprint), sample);
            } else if (entry != nullptr &&
                       SurfaceMappingEntryKind(*entry) == SurfaceMapperKind::Ellipsoid) {
                // An ellipsoid's band reaches bandHalfHeight either way from its equator.
                const double h = entry->bandHalfHeight;
                SearchMaterialCaps(part, u, v, -h, h, std::sqrt(footprint), true, sample);
            } else if (entry == nullptr && part.hasRevolutionCaps) {
                SearchMaterialCaps(part, u, v, part.capLengths[0], part.capLengths[1],
                                   std::sqrt(footprint), false, sample);
            } else {
                SearchBody(part, u, v, sample);
            }
            if (wantHeights && composite.hasHeights) {
                render.partTextures.bumpVector =
                    SurfaceBump(m, tangent, n, flipNormal, composite.du, composite.dv);
            }
        }
    }
    composite.FillBase(part.baseColour);
    std::array<std::int32_t, 3> colour = composite.colour;
    if (part.hasTint != 0) ApplyTint(part, colour);
    outColour = colour;
}

SurfaceFacePoint SurfaceFacePointOf(std::int32_t face, double u, double v) {
    SurfaceFacePoint out;
    v = std::clamp(v, -300.0, 300.0);
    if (face == 0 || face == 1) {
        // The poles: tan(theta / 2) = e^-|v| on the unit sphere of the map.
        const double rho = std::exp(face == 0 ? v : -v);
        const CapHit hit = PlaceOnCap(face, std::sin(u), std::cos(u), rho);
        out.x = hit.x;
        out.y = hit.y;
        out.stretch = rho;
        out.alongU = hit.alongU;
        out.alongV = hit.alongV;
        return out;
    }
    // About a point of the equator: tan(w / 2) with w = du + i v, whose derivative is
    // (1 + tan^2(w / 2)) / 2.
    constexpr double Pi = std::numbers::pi;
    const double du = std::remainder(u - (face - 2) * Pi / 2.0, 2.0 * Pi);
    const double d = std::max(std::cos(du) + std::cosh(v), 1e-300);
    out.x = std::sin(du) / d;
    out.y = std::sinh(v) / d;
    const double gx = (1.0 + out.x * out.x - out.y * out.y) / 2.0;
    const double gy = out.x * out.y;
    out.stretch = std::hypot(gx, gy);
    out.alongU = out.stretch > 0.0 ? std::array<double, 2>{gx / out.stretch, gy / out.stretch}
                                   : std::array<double, 2>{1.0, 0.0};
    out.alongV = {-out.alongU[1], out.alongU[0]};
    return out;
}

std::int32_t NearestSurfaceFace(double u, double v) {
    // The point on the unit sphere of the map: latitude gd(v); the largest of its components
    // along the six face centres picks the face.
    const double along = std::tanh(v);
    const double across = 1.0 / std::cosh(std::clamp(v, -300.0, 300.0));
    const double c = across * std::cos(u);
    const double s = across * std::sin(u);
    if (std::fabs(along) > std::max(std::fabs(c), std::fabs(s))) return along < 0.0 ? 0 : 1;
    if (std::fabs(c) >= std::fabs(s)) return c >= 0.0 ? 2 : 4;
    return s >= 0.0 ? 3 : 5;
}

double EllipsePerimeter(double a, double b) {
    if (a < b) std::swap(a, b);
    if (!(b > 0.0) || !std::isfinite(a)) return b == 0.0 && a > 0.0 ? 4.0 * a : 0.0;
    // Gauss's sum with the arithmetic-geometric mean: P = 2 pi ((a^2 + b^2) / 2 -
    // sum of 2^(n-1) c_n^2 for n >= 1) / M(a, b), c_n = (a_(n-1) - b_(n-1)) / 2. The c_n
    // fall quadratically: a handful of steps reach the last bit.
    double sum = (a * a + b * b) / 2.0;
    double weight = 1.0;
    for (int step = 0; step < 64; ++step) {
        const double c = (a - b) / 2.0;
        const double mean = (a + b) / 2.0;
        b = std::sqrt(a * b);
        a = mean;
        sum -= weight * c * c;
        weight *= 2.0;
        if (!(c > 1e-17 * a)) break;
    }
    return 2.0 * std::numbers::pi * sum / a;
}

double SurfaceFaceScale(const SurfaceMappingEntry& entry) {
    if (SurfaceMappingEntryKind(entry) != SurfaceMapperKind::Ellipsoid) return 0.01;
    std::array<double, 3> axes{std::fabs(entry.a), std::fabs(entry.b), std::fabs(entry.c)};
    std::sort(axes.begin(), axes.end());
    const double perimeter = EllipsePerimeter(axes[0], axes[1]);
    return perimeter > 0.0 ? 2.0 * std::numbers::pi / perimeter : 0.0;
}

std::array<double, 2> SurfaceFaceLimits(SurfaceMappingEntry& entry, double radius, double h) {
    const double f = radius * h / 2.0;
    const auto ratio = static_cast<float>(f);
    if (ratio != entry.fadeRatio) {
        entry.fadeRatio = ratio;
        if (!(f < 1.0)) {
            entry.fadeLimits[0] = entry.fadeLimits[1] = 1e100;
        } else {
            entry.fadeLimits[0] = 2.0 * std::atan(f) / h;
            entry.fadeLimits[1] = std::log((1.0 + f) / (1.0 - f)) / h;
        }
    }
    return {entry.fadeLimits[0], entry.fadeLimits[1]};
}
