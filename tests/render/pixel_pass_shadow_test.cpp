// The pixel pass with shadows: a pixel that a shadow edge crosses is integrated with the lit and
// the shadowed part of its footprint, checked against a supersampled shadow-ray caster; and the
// light layers the pass writes for its pixels rebuild them as the resolve does.

#include "render/edge_lines.h"
#include "render/light_layer_resolve.h"
#include "render/light_map.h"
#include "render/pixel_pass.h"
#include "render/span_shade.h"
#include "support/shadow_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using shadow_scene::BoxOverCells;
using shadow_scene::Light;
using shadow_scene::ShadowFrame;
using shadow_scene::Solid;

constexpr std::int32_t Width = 160;
constexpr std::int32_t Height = 120;

// A floor (its top at y = 3, the eye looking down onto it), a sphere and a box above it.
const std::vector<Solid> Solids{
    {true, {0, 3.5, 8}, {20, 0.5, 20}, 0xA0A0A0},
    {false, {0.4, 1.7, 8}, {0.9, 0, 0}, 0xC04040},
    {true, {-1.9, 2.0, 8.5}, {0.45, 0.6, 0.5}, 0x40C040},
};
constexpr double FloorTop = 3.0;

// drawStyle non-zero: outlines of width 1.5, their lines shared between neighbours.
std::unique_ptr<ShadowFrame> MakeFrame(SceneGeometry& geometry, const std::vector<Light>& lights,
                                       bool withLayers, std::int32_t drawStyle = 0) {
    auto frame = std::make_unique<ShadowFrame>(geometry, Width, Height, lights, Vec3{0, 2, 8}, 5.0,
                                               true, 2.0, withLayers);
    QRender& render = frame->render;
    render.edges.isRefined = true;
    if (drawStyle != 0) {
        render.options.edgeLines = true;
        const double centreX = render.centreX, centreY = render.centreY;
        frame->ok =
            render.SetSize(frame->pixels.data(), Width, Height, Width, withLayers) == RenderSizeOk;
        render.centreX = centreX;
        render.centreY = centreY;
        render.shade.drawStyle = drawStyle;
        render.edges.outlineWidth = 1.5;
    }
    return frame;
}

// The depth at which the view ray (x, y, 1) meets a receiving surface.
using DepthOnRay = double (*)(double x, double y);

double FloorDepth(double, double y) { return FloorTop / y; }

// Calls sample(x, y, weight) at the normalised points of pixel (column, row)'s footprint on a
// grid of steps x steps, weighted by the kernel sqrt(1 - (r / 0.9)^2) over the disc of radius
// 0.9 (whose profile across any straight edge is the pass's 0.75 (1 - t^2)); returns the summed
// weight.
template <typename Sample>
double SampleFootprint(const ShadowFrame& frame, std::int32_t column, std::int32_t row,
                       std::int32_t steps, Sample sample) {
    const double focal = frame.Focal();
    double total = 0.0;
    for (std::int32_t j = 0; j < steps; ++j) {
        for (std::int32_t i = 0; i < steps; ++i) {
            const double ox = 0.9 * (2.0 * (i + 0.5) / steps - 1.0);
            const double oy = 0.9 * (2.0 * (j + 0.5) / steps - 1.0);
            const double r2 = (ox * ox + oy * oy) / 0.81;
            if (r2 >= 1.0) continue;
            const double weight = std::sqrt(1.0 - r2);
            sample((column + 0.5 + ox - frame.render.centreX) / focal,
                   (row + 0.5 + oy - frame.render.centreY) / focal, weight);
            total += weight;
        }
    }
    return total;
}

// The lit fraction of pixel (x, y) of a receiving surface: the footprint's points carried onto
// the surface and tested with shadow rays among the solids.
double SupersampledLitFraction(const ShadowFrame& frame, const std::vector<Solid>& solids,
                               const Vec3& light, DepthOnRay depthOf, std::int32_t x,
                               std::int32_t y) {
    double lit = 0.0;
    const double total = SampleFootprint(frame, x, y, 24, [&](double rx, double ry, double weight) {
        const double depth = depthOf(rx, ry);
        const Vec3 point{rx * depth, ry * depth, depth};
        if (!shadow_scene::IsBlocked(solids, point, light)) lit += weight;
    });
    return lit / total;
}

// True when the shadow of a corner of the box falls within 1.7 pixels of pixel (x, y)'s
// centre: two edges meet in the footprint there, which one axis of integration cannot follow.
bool IsNearShadowCorner(const ShadowFrame& frame, const Vec3& light, std::int32_t x,
                        std::int32_t y) {
    const Solid& box = Solids[2];
    for (std::int32_t k = 0; k < 8; ++k) {
        const Vec3 v{box.centre.x + ((k & 1) != 0 ? box.size.x : -box.size.x),
                     box.centre.y + ((k & 2) != 0 ? box.size.y : -box.size.y),
                     box.centre.z + ((k & 4) != 0 ? box.size.z : -box.size.z)};
        const double t = (FloorTop - light.y) / (v.y - light.y);
        const Vec3 p{light.x + t * (v.x - light.x), FloorTop, light.z + t * (v.z - light.z)};
        const double sx = p.x / p.z * frame.Focal() + frame.render.centreX;
        const double sy = p.y / p.z * frame.Focal() + frame.render.centreY;
        if (std::hypot(sx - (x + 0.5), sy - (y + 0.5)) < 1.7) return true;
    }
    return false;
}

// True when the pixel and its eight neighbours show part 0's surface facing the eye.
bool IsInsideReceiver(const QRender& render, std::int32_t x, std::int32_t y) {
    const std::uint32_t floor = render.QueryPixel(x, y, nullptr, nullptr, 0, nullptr) & PixelIdMask;
    if (PixelPartIndex(floor) != 0) return false;
    for (std::int32_t dy = -1; dy <= 1; ++dy) {
        for (std::int32_t dx = -1; dx <= 1; ++dx) {
            const std::uint32_t id =
                render.QueryPixel(x + dx, y + dy, nullptr, nullptr, 0, nullptr) & PixelIdMask;
            if (id != floor) return false;
        }
    }
    return true;
}

// Where pixel (x, y)'s colour lies between the receiving surface's colour at its centre
// fully shadowed (0) and fully lit (1).
double ShownLitFraction(ShadowFrame& frame, DepthOnRay depthOf, std::int32_t x, std::int32_t y) {
    QRender& render = frame.render;
    SampleCell cell;
    cell.pixel = render.QueryPixel(x, y, &cell.lightMask, nullptr, 0, nullptr);
    const double focal = frame.Focal();
    const double nx = (x - render.centreX + 0.5) / focal;
    const double ny = (y - render.centreY + 0.5) / focal;
    cell.depth = static_cast<std::int32_t>(focal * render.depthScale / depthOf(nx, ny));
    cell.pixel &= PixelIdMask;
    cell.lightMask = 0x80008000u;
    const ShadedValue lit = ShadeSamplePoint(render, cell, nx, ny, x, y);
    cell.lightMask = 0x00008000u;
    const ShadedValue shadowed = ShadeSamplePoint(render, cell, nx, ny, x, y);
    const std::uint32_t pixel = frame.pixels[static_cast<std::size_t>(y * Width + x)];
    const double shown = ((pixel >> 8) & 0xFF) * 256.0;
    const double range = static_cast<double>(lit.value[1] - shadowed.value[1]);
    EXPECT_GT(range, 40.0 * 256.0);
    return (shown - static_cast<double>(shadowed.value[1])) / range;
}

// The lights of the floor scene's cases: the shadows fall over the floor beside the parts.
const Vec3 FloorLights[] = {{1.5, -3, 5}, {-3, -2.5, 9.5}};

// Solids rendered with one light and the pixel pass; ok says it was sized.
std::unique_ptr<ShadowFrame> RenderSolids(SceneGeometry& geometry, const Vec3& light,
                                          std::int32_t drawStyle = 0) {
    shadow_scene::MakeGeometry(geometry, Solids);
    auto frame = MakeFrame(geometry, {Light{light}}, false, drawStyle);
    if (frame->ok) frame->render.RenderFrame(nullptr, false, nullptr, 0);
    return frame;
}

TEST(PixelPassShadows, APixelThatAShadowEdgeCrossesIsLitByItsLitFraction) {
    // Each case one light; the sphere's shadow is a curved edge, the box's straight ones, and
    // where two of the box's shadow edges meet at a corner the footprint is integrated along
    // both.
    for (const Vec3& light : FloorLights) {
        SCOPED_TRACE("light at " + std::to_string(light.x) + ", " + std::to_string(light.z));
        SceneGeometry geometry;
        auto frame = RenderSolids(geometry, light);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;

        std::int32_t partial = 0, corners = 0;
        double worst = 0.0, summed = 0.0;
        for (std::int32_t y = 1; y < Height - 1; ++y) {
            for (std::int32_t x = 1; x < Width - 1; ++x) {
                if (!IsInsideReceiver(render, x, y)) continue;
                const double expected =
                    SupersampledLitFraction(*frame, Solids, light, FloorDepth, x, y);
                if (!(expected > 0.03 && expected < 0.97)) continue;
                const double fraction = ShownLitFraction(*frame, FloorDepth, x, y);
                const double error = std::fabs(fraction - expected);
                const bool isCorner = IsNearShadowCorner(*frame, light, x, y);
                EXPECT_LT(error, 0.06) << x << ", " << y << (isCorner ? " (a corner)" : "") << ": "
                                       << fraction << " against " << expected;
                worst = std::max(worst, error);
                summed += error;
                ++partial;
                if (isCorner) ++corners;
            }
        }
        EXPECT_GT(partial, 60);
        EXPECT_GE(corners, 3);
        EXPECT_LT(summed / std::max(partial, 1), 0.015) << "worst " << worst;
    }
}

// What the eye ray (x, y, 1) meets first among the solids: the solid, its surface (a box's
// faces in the order -x, +x, -y, +y, -z, +z), the point and the outward normal there.
struct EyeHit {
    std::int32_t solid = -1;
    std::int32_t surface = 0;
    Vec3 point{};
    Vec3 normal{};
};

EyeHit CastEyeRay(const std::vector<Solid>& solids, double x, double y) {
    const Vec3 far{1000.0 * x, 1000.0 * y, 1000.0};
    EyeHit hit;
    double nearest = 1.0;
    for (std::size_t i = 0; i < solids.size(); ++i) {
        const double t = shadow_scene::SegmentEntry(solids[i], Vec3{0, 0, 0}, far);
        if (t < nearest) {
            nearest = t;
            hit.solid = static_cast<std::int32_t>(i);
        }
    }
    if (hit.solid < 0) return hit;
    const Solid& s = solids[static_cast<std::size_t>(hit.solid)];
    hit.point = Vec3{nearest * far.x, nearest * far.y, nearest * far.z};
    const double o[3] = {hit.point.x - s.centre.x, hit.point.y - s.centre.y,
                         hit.point.z - s.centre.z};
    if (!s.isBox) {
        hit.normal = Vec3{o[0] / s.size.x, o[1] / s.size.x, o[2] / s.size.x};
        return hit;
    }
    const double h[3] = {s.size.x, s.size.y, s.size.z};
    std::int32_t axis = 0;
    for (std::int32_t k = 1; k < 3; ++k) {
        if (std::fabs(o[k]) / h[k] > std::fabs(o[axis]) / h[axis]) axis = k;
    }
    const double sign = o[axis] > 0.0 ? 1.0 : -1.0;
    hit.surface = 2 * axis + (sign > 0.0 ? 1 : 0);
    hit.normal = Vec3{axis == 0 ? sign : 0.0, axis == 1 ? sign : 0.0, axis == 2 ? sign : 0.0};
    return hit;
}

// The surface the eye ray (x, y, 1) meets first (solid x 6 + a box's face), -1 for none.
std::int32_t EyeSurface(const std::vector<Solid>& solids, double x, double y) {
    const EyeHit hit = CastEyeRay(solids, x, y);
    return hit.solid < 0 ? -1 : hit.solid * 6 + hit.surface;
}

// True when the eye sees another surface (or none) somewhere on the circle of radius pixels
// about the normalised point (x, y), or, with inner, on the circle of half that radius too: a
// boundary between surfaces passes within that radius of the point.
bool SeesBoundaryWithin(const ShadowFrame& frame, const std::vector<Solid>& solids, double x,
                        double y, double radius, bool inner) {
    constexpr std::int32_t Directions = 64;
    const double focal = frame.Focal();
    const std::int32_t own = EyeSurface(solids, x, y);
    for (const double r : {radius, 0.5 * radius}) {
        for (std::int32_t k = 0; k < Directions; ++k) {
            const double angle = 2.0 * std::numbers::pi * k / Directions;
            if (EyeSurface(solids, x + r * std::cos(angle) / focal,
                           y + r * std::sin(angle) / focal) != own) {
                return true;
            }
        }
        if (!inner) break;
    }
    return false;
}

// The colour of pixel (x, y) supersampled over the kernel's disc: each sub-sample's surface and
// point found by the eye-ray caster, lit when it faces the light and the shadow ray reaches it,
// and shaded as such. shadowMixed says whether some surface's sub-samples facing the light were
// both lit and shadowed, surfaces whether more than one surface (or the background) was seen.
// With an outline width, a sub-sample within half of it of a boundary between surfaces takes
// the outline colour, *band receives the kernel's share of such sub-samples, and the grid is
// twice as fine (a band's edge may lie anywhere between its rows).
std::array<double, 3> SupersampledColour(ShadowFrame& frame, const std::vector<Solid>& solids,
                                         const Vec3& light, std::int32_t x, std::int32_t y,
                                         bool& shadowMixed, bool& surfaces,
                                         double outlineWidth = 0.0, double* band = nullptr) {
    QRender& render = frame.render;
    const double focal = frame.Focal();
    std::array<double, 3> sum{0.0, 0.0, 0.0};
    std::vector<std::int32_t> litOf(solids.size() * 6, 0);
    std::int32_t firstId = -2;
    surfaces = false;
    double banded = 0.0;
    const auto take = [&](double rx, double ry, double weight) {
        const EyeHit hit = CastEyeRay(solids, rx, ry);
        SampleCell cell;
        const std::int32_t id = hit.solid < 0 ? -1 : hit.solid * 6 + hit.surface;
        if (firstId == -2) firstId = id;
        surfaces = surfaces || id != firstId;
        if (outlineWidth > 0.0 &&
            SeesBoundaryWithin(frame, solids, rx, ry, 0.5 * outlineWidth, true)) {
            const std::uint32_t outline = render.edges.outlineColour;
            for (std::size_t c = 0; c < 3; ++c) {
                sum[c] += weight * static_cast<double>((outline >> (16 - 8 * c)) & 0xFF);
            }
            banded += weight;
            return;
        }
        if (hit.solid >= 0) {
            cell.pixel = PixelIdOf(hit.solid, hit.surface);
            cell.depth = static_cast<std::int32_t>(focal * render.depthScale / hit.point.z);
            const Vec3& p = hit.point;
            const Vec3& n = hit.normal;
            const bool faces =
                n.x * (light.x - p.x) + n.y * (light.y - p.y) + n.z * (light.z - p.z) > 0.0;
            if (faces) {
                const bool lit = !shadow_scene::IsBlocked(solids, p, light);
                cell.lightMask = lit ? 0x80008000u : 0x00008000u;
                litOf[static_cast<std::size_t>(id)] |= lit ? 1 : 2;
            }
        }
        const ShadedValue value = ShadeSamplePoint(render, cell, rx, ry, x, y);
        for (std::size_t c = 0; c < 3; ++c) {
            sum[c] += weight * static_cast<double>(value.value[c]) / 256.0;
        }
    };
    const double total = SampleFootprint(frame, x, y, outlineWidth > 0.0 ? 48 : 24, take);
    shadowMixed = std::find(litOf.begin(), litOf.end(), 3) != litOf.end();
    for (double& c : sum) c /= total;
    if (band != nullptr) *band = banded / total;
    return sum;
}

// The largest difference between a pixel's colour channels and expected ones.
double LargestColourError(std::uint32_t pixel, const std::array<double, 3>& expected) {
    double error = 0.0;
    for (std::size_t c = 0; c < 3; ++c) {
        const double shown = static_cast<double>((pixel >> (16 - 8 * c)) & 0xFF);
        error = std::max(error, std::fabs(shown - expected[c]));
    }
    return error;
}

TEST(PixelPassShadows, AShadowEdgeCrossingAPartsOutlineIsIntegratedAcrossBoth) {
    // Where a shadow edge on the floor runs into the outline of the sphere or the box (or the
    // sphere's shadow falls over its own outline), one axis cannot follow both: the pixel's
    // colour is the supersampled one of an eye-ray and shadow-ray caster.
    for (const Vec3& light : FloorLights) {
        SCOPED_TRACE("light at " + std::to_string(light.x) + ", " + std::to_string(light.z));
        SceneGeometry geometry;
        auto frame = RenderSolids(geometry, light);
        ASSERT_TRUE(frame->ok);
        std::int32_t compared = 0;
        double worst = 0.0;
        for (std::int32_t y = 1; y < Height - 1; ++y) {
            for (std::int32_t x = 1; x < Width - 1; ++x) {
                bool shadowMixed = false, surfaces = false;
                const std::array<double, 3> expected =
                    SupersampledColour(*frame, Solids, light, x, y, shadowMixed, surfaces);
                if (!shadowMixed || !surfaces) continue;
                const std::uint32_t pixel = frame->pixels[static_cast<std::size_t>(y * Width + x)];
                const double error = LargestColourError(pixel, expected);
                EXPECT_LT(error, 6.0)
                    << x << ", " << y << ": " << std::hex << pixel << std::dec << " against "
                    << expected[0] << ", " << expected[1] << ", " << expected[2];
                worst = std::max(worst, error);
                ++compared;
            }
        }
        EXPECT_GT(compared, 8) << "worst " << worst;
    }
}

TEST(PixelPassShadows, AShadowEdgeMeetingAnOutlineBandIsIntegratedAcrossBoth) {
    // Shaded with outlines 1.5 pixels wide along the boundaries between surfaces: where a shadow
    // edge on the floor runs into the band about the sphere or the box, the pixel's colour is
    // the supersampled one of an eye-ray and shadow-ray caster that draws the band as every
    // point within half the width of a boundary.
    constexpr std::int32_t ShadedWithOutlines = -1;
    for (const Vec3& light : FloorLights) {
        SCOPED_TRACE("light at " + std::to_string(light.x) + ", " + std::to_string(light.z));
        SceneGeometry geometry;
        auto frame = RenderSolids(geometry, light, ShadedWithOutlines);
        ASSERT_TRUE(frame->ok);
        const double width = frame->render.edges.outlineWidth;
        const double focal = frame->Focal();
        std::int32_t compared = 0;
        double worst = 0.0, summed = 0.0;
        for (std::int32_t y = 1; y < Height - 1; ++y) {
            for (std::int32_t x = 1; x < Width - 1; ++x) {
                bool shadowMixed = false, surfaces = false;
                SupersampledColour(*frame, Solids, light, x, y, shadowMixed, surfaces);
                // No shadow edge in the footprint, or no boundary whose band may reach it.
                if (!shadowMixed ||
                    !SeesBoundaryWithin(*frame, Solids, (x + 0.5 - frame->render.centreX) / focal,
                                        (y + 0.5 - frame->render.centreY) / focal,
                                        EdgeFilterRadius + 0.5 * width, false)) {
                    continue;
                }
                double band = 0.0;
                const std::array<double, 3> expected = SupersampledColour(
                    *frame, Solids, light, x, y, shadowMixed, surfaces, width, &band);
                if (!shadowMixed || !(band > 0.03 && band < 0.97)) continue;
                const std::uint32_t pixel = frame->pixels[static_cast<std::size_t>(y * Width + x)];
                const double error = LargestColourError(pixel, expected);
                EXPECT_LT(error, 4.0)
                    << x << ", " << y << " (band " << band << "): " << std::hex << pixel << std::dec
                    << " against " << expected[0] << ", " << expected[1] << ", " << expected[2];
                worst = std::max(worst, error);
                summed += error;
                ++compared;
            }
        }
        EXPECT_GT(compared, 8);
        EXPECT_LT(summed / std::max(compared, 1), 1.5) << "worst " << worst;
    }
}

// The screen column of the shadow on the wall (its front at depth wallFront) of the rod's
// left (side -1) or right (side 1) end.
double RodShadowColumn(const ShadowFrame& frame, const Vec3& light, const Solid& rod, double side,
                       double wallFront) {
    const double t = (wallFront - light.z) / (rod.centre.z - light.z);
    const double x = rod.centre.x + side * rod.size.x;
    return (light.x + t * (x - light.x)) / wallFront * frame.Focal() + frame.render.centreX;
}

TEST(PixelPassShadows, AThinPartsShadowEdgesAreSmoothedToo) {
    // A light map of 10 cells a side over a wall and a rod 0.2 thick, under half a cell as the
    // light sees it: the cell centres pass beside it, and only its marks in the map bring it
    // among the parts whose shadow edges cross the pixels along its shadow.
    constexpr double WallFront = 15.5;
    for (const double offset : {0.0, 0.1}) {
        SCOPED_TRACE(offset);
        const std::vector<Solid> solids = shadow_scene::WallAndRod(0.1 + offset);
        SceneGeometry geometry;
        const Vec3& light = shadow_scene::RodLight;
        auto rodFrame = shadow_scene::MakeRodFrame(geometry, solids, Width, Height);
        ShadowFrame& frame = *rodFrame;
        ASSERT_TRUE(frame.ok);
        QRender& render = frame.render;
        render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_EQ(render.LightMapSide(), 10);

        // Away from the shadow's ends, where the rod's flat faces end it.
        const double left = RodShadowColumn(frame, light, solids[1], -1.0, WallFront) + 3.0;
        const double right = RodShadowColumn(frame, light, solids[1], 1.0, WallFront) - 3.0;
        const DepthOnRay wall = [](double, double) { return WallFront; };
        std::int32_t partial = 0;
        for (std::int32_t y = 1; y < Height - 1; ++y) {
            for (std::int32_t x = static_cast<std::int32_t>(left); x < right; ++x) {
                if (!IsInsideReceiver(render, x, y)) continue;
                const double expected = SupersampledLitFraction(frame, solids, light, wall, x, y);
                if (!(expected > 0.03 && expected < 0.97)) continue;
                const double fraction = ShownLitFraction(frame, wall, x, y);
                EXPECT_LT(std::fabs(fraction - expected), 0.06)
                    << x << ", " << y << ": " << fraction << " against " << expected;
                ++partial;
            }
        }
        EXPECT_GT(partial, 20);
    }
}

// Compares the pixels of the wall (at the depths wall gives, its front facing the eye) that a
// shadow edge crosses with the supersampled lit fraction among solids, on the pixels that lie with
// their neighbours on the wall and that only(x, y) accepts; returns how many were compared.
template <typename Only>
std::int32_t CompareWallEdgePixels(ShadowFrame& frame, const std::vector<Solid>& solids,
                                   const Vec3& light, DepthOnRay wall, Only only) {
    std::int32_t compared = 0;
    for (std::int32_t y = 1; y < Height - 1; ++y) {
        for (std::int32_t x = 1; x < Width - 1; ++x) {
            if (!IsInsideReceiver(frame.render, x, y)) continue;
            const double expected = SupersampledLitFraction(frame, solids, light, wall, x, y);
            if (!(expected > 0.03 && expected < 0.97) || !only(x, y)) continue;
            const double fraction = ShownLitFraction(frame, wall, x, y);
            EXPECT_LT(std::fabs(fraction - expected), 0.06)
                << x << ", " << y << ": " << fraction << " against " << expected;
            ++compared;
        }
    }
    return compared;
}

TEST(PixelPassShadows, AnEdgeOfAPartSeenBehindTheTwoSamplesIsSmoothed) {
    // Two grids of rods half a map cell wide lie over every cell centre of a patch of the map,
    // a plate behind them: the light meets a rod of each grid first at each centre and the
    // plate only third, kept in the cells' further ids, while between the centres it passes
    // the rods. The plate's edge runs through those gaps, and its shadow edge on the wall is
    // smoothed as the supersampled shadow rays say.
    constexpr double WallFront = 15.5;
    // The light off to the side, so that the eye sees the shadows beside the parts.
    const Vec3 light{-4, 0, 2};
    const Vec3 centre{-2.4, 0, 7.5};
    std::vector<Solid> solids{{true, {0, 0, 16}, {20, 20, 0.5}}};
    constexpr std::int32_t Rods = 6;
    for (std::int32_t i = 0; i < 2 * Rods + 1; ++i) {
        solids.push_back(Solid{true, {30.0 + i, 0, 30}, {0.1, 0.1, 0.1}});
    }
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, solids);
    ShadowFrame frame(geometry, Width, Height, {{light}}, centre, 1.9, true, 0.1125);
    ASSERT_TRUE(frame.ok);
    QRender& render = frame.render;
    render.focalScale = 0.4;
    ASSERT_EQ(render.SetSamplesPerPixel(2), RenderSizeOk);
    render.edges.isRefined = true;
    render.RenderFrame(nullptr, false, nullptr, 0);
    const RenderLightSlot& slot = render.LightSlot(0);
    ASSERT_EQ(slot.axisCode, 0);
    // The patch of cells about the sphere's centre, whose shadow falls amid the view.
    const double t = centre.z - light.z;
    const auto j0 =
        static_cast<std::int32_t>(std::floor((centre.x - light.x) / t * slot.mapScale + slot.mapU));
    const auto k0 = static_cast<std::int32_t>(
                        std::floor((centre.y - light.y) / t * slot.mapScale + slot.mapV)) -
                    3;
    for (std::int32_t k = 0; k < Rods; ++k) {
        solids[static_cast<std::size_t>(1 + k)] =
            BoxOverCells(slot, j0 - 3.5, j0 + 3.5, k0 + k + 0.25, k0 + k + 0.75, 5.0, 0.02);
        solids[static_cast<std::size_t>(1 + Rods + k)] = BoxOverCells(
            slot, j0 - 3 + k + 0.25, j0 - 3 + k + 0.75, k0 - 0.5, k0 + Rods + 0.5, 5.4, 0.02);
    }
    // The plate's other edges lie under rods; its right one halfway between two centres.
    solids.back() = BoxOverCells(slot, j0 - 2.5, j0, k0 + 0.5, k0 + Rods - 0.5, 6.0, 0.02);
    for (std::size_t i = 1; i < solids.size(); ++i) {
        shadow_scene::PlaceSolid(geometry, static_cast<std::int32_t>(i), solids[i]);
    }
    render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(slot.axisCode, 0);
    // The pixels whose footprint the rods' shadows leave alone: only the plate's edge crosses.
    const std::vector<Solid> rods(solids.begin(), solids.end() - 1);
    const DepthOnRay wall = [](double, double) { return WallFront; };
    const std::int32_t compared =
        CompareWallEdgePixels(frame, solids, light, wall, [&](std::int32_t x, std::int32_t y) {
            return SupersampledLitFraction(frame, rods, light, wall, x, y) > 0.9999;
        });
    EXPECT_GT(compared, 15);
}

bool IsInRegion(const SpanRegion& region, std::int32_t x, std::int32_t y) {
    if (region.HasNoRows() || y < region.Top() || y >= region.Bottom()) return false;
    for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
        if (x >= t[0] && x < t[1]) return true;
    }
    return false;
}

TEST(PixelPassShadows, AThinPartsShadowEdgesAreSmoothedInABackgroundDrawnAgain) {
    // The thin rod stands in the background; a ball between the light and the rod joins it
    // with a complement render, which draws the backup's pixels around the ball's shadow
    // again, with the backup's maps and thin-part chains: the rod's shadow edges there are
    // smoothed as the supersampled shadow rays say.
    constexpr double WallFront = 15.5;
    const std::vector<Solid> solids = shadow_scene::WallRodAndBall();
    SceneGeometry geometry;
    const Vec3& light = shadow_scene::RodLight;
    auto rodFrame = shadow_scene::MakeRodFrame(geometry, solids, Width, Height);
    ShadowFrame& frame = *rodFrame;
    ASSERT_TRUE(frame.ok);
    QRender& render = frame.render;
    ASSERT_TRUE(shadow_scene::RenderThenJoinPart2(frame, geometry));
    SpanRegion drawn;
    RegionCopy(drawn, render.changeRegion);
    // The backup's picture shown.
    SpanRegion all;
    RegionSetRect(all, -1, -1, Width + 1, Height + 1);
    render.CopySamplesInRegion(0, all);
    render.CopyPixelsInRegion(all, 0);

    // Away from the shadow's ends, where the rod's flat faces end it.
    const double left = RodShadowColumn(frame, light, solids[1], -1.0, WallFront) + 3.0;
    const double right = RodShadowColumn(frame, light, solids[1], 1.0, WallFront) - 3.0;
    const DepthOnRay wall = [](double, double) { return WallFront; };
    const std::int32_t compared =
        CompareWallEdgePixels(frame, solids, light, wall, [&](std::int32_t x, std::int32_t y) {
            return x > left && x < right && IsInRegion(drawn, x, y);
        });
    EXPECT_GT(compared, 40);
}

TEST(PixelPassThinParts, AComplementRenderKeepsAThinPartWhole) {
    // A ball before the middle of a rod thinner than a pixel starts moving: the background
    // drawn again without it in its footprint shows the rod as a whole render without the ball
    // does, its pixels integrated along the marked band rather than point sampled.
    // The rod lies between two rows of pixel centres.
    std::vector<Solid> solids = shadow_scene::WallAndRod(0.0);
    solids[1].colour = 0x2020C0;
    solids.push_back(Solid{false, {0.2, 0.0, 8}, {1.0, 0, 0}, 0xC04040});
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, solids);
    shadow_scene::SetRodSkeleton(geometry, 1, solids[1], 0.15);
    const auto makeFrame = [&] {
        auto frame = std::make_unique<ShadowFrame>(geometry, Width, Height,
                                                   std::vector<Light>{{{0.3, -0.2, 4}}},
                                                   Vec3{0, 0, 12}, 3.0, true, 0.0625);
        frame->render.focalScale = 0.02;
        frame->ok = frame->ok && frame->render.SetSamplesPerPixel(2) == RenderSizeOk;
        frame->render.edges.isRefined = true;
        // The thin part alone: no shadows.
        frame->render.options.shadows = false;
        return frame;
    };
    auto frame = makeFrame();
    ASSERT_TRUE(frame->ok);
    QRender& render = frame->render;
    render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(render.AllocAuxBuffers(), 0);

    const std::int32_t ball[] = {1, 2};
    render.RenderFrame(ball, true, ball, 0);
    ASSERT_FALSE(render.changeRegion.HasNoRows());
    // As the player does: the working picture restored from the background.
    render.CopySamplesInRegion(0, render.changeRegion);
    render.CopyPixelsInRegion(render.changeRegion, 0);

    geometry.Part(2)->visible = 0;
    auto whole = makeFrame();
    whole->render.RenderFrame(nullptr, false, nullptr, 0);
    std::int32_t rodPixels = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y * Width + x);
            ASSERT_LE(shadow_scene::LargestChannelDifference(frame->pixels[at], whole->pixels[at]),
                      2)
                << std::hex << frame->pixels[at] << " against " << whole->pixels[at] << std::dec
                << " at (" << x << ", " << y << ")";
            const std::uint32_t id = render.QueryPixel(x, y, nullptr, nullptr, 0, nullptr);
            if ((id & PixelSmallPartChain) != 0) ++rodPixels;
        }
    }
    EXPECT_GT(rodPixels, 10);
}

// A part that stays out of sight at the left, lit from further left, so that only its shadow
// moves over the floor, the sphere and the box as it goes.
const Vec3 SideLight{-9, -1, 8};

Solid MoverAt(std::int32_t tick) {
    return Solid{false, {-5.9, 1.0, 6.6 + 0.35 * tick}, {0.5, 0, 0}, 0xC0C040};
}

std::vector<Solid> WithMover(std::int32_t tick) {
    std::vector<Solid> solids = Solids;
    solids.push_back(MoverAt(tick));
    return solids;
}

// Colours within 2 a channel, alpha included, everywhere; counts the pixels the pass finished
// in b whose lit bits differ from those of backup (pixels whose shadow alone changed there).
testing::AssertionResult SamePicture(const ShadowFrame& a, const ShadowFrame& b,
                                     std::int32_t& changedBoundaries) {
    changedBoundaries = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            std::uint32_t mask = 0, backupMask = 0;
            const std::uint32_t id = b.render.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            a.render.QueryPixel(x, y, &backupMask, nullptr, 1, nullptr);
            if (PixelPartIndex(id) == 3) return testing::AssertionFailure() << "mover in sight";
            if ((id & PixelFinished) != 0 && ((mask ^ backupMask) & 0xFFFF0000u) != 0) {
                ++changedBoundaries;
            }
            const std::uint32_t pa = a.pixels[static_cast<std::size_t>(y * Width + x)];
            const std::uint32_t pb = b.pixels[static_cast<std::size_t>(y * Width + x)];
            if (shadow_scene::LargestChannelDifference(pa, pb) > 2) {
                return testing::AssertionFailure()
                       << std::hex << "colour " << pa << " against " << pb << std::dec << " at ("
                       << x << ", " << y << ")"
                       << ((id & PixelFinished) != 0 ? ", a boundary pixel" : "");
            }
        }
    }
    return testing::AssertionSuccess();
}

// The pixels whose lit bits differ from the backup's that the frame did not shade again
// (rebuilt from their light layers or integrated anew).
std::int32_t NotShadedAgain(const QRender& render) {
    std::int32_t count = 0;
    const SpanRegion& shaded = render.shadeRegion;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            std::uint32_t mask = 0, backupMask = 0;
            render.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            render.QueryPixel(x, y, &backupMask, nullptr, 1, nullptr);
            if (((mask ^ backupMask) & 0xFFFF0000u) == 0) continue;
            bool isShaded = false;
            if (!shaded.HasNoRows() && y >= shaded.Top() && y < shaded.Bottom()) {
                for (const std::int16_t* t = shaded.Row(y); t[0] != SpanRowEnd; t += 2) {
                    isShaded = isShaded || (x >= t[0] && x < t[1]);
                }
            }
            if (!isShaded) ++count;
        }
    }
    return count;
}

TEST(PixelPassShadows, FramesWhoseShadowsAloneMoveMatchWholeRendersOnBoundaryPixels) {
    // Without outlines and with outlines shared between neighbours.
    for (const std::int32_t style : {0, -1}) {
        SCOPED_TRACE("draw style " + std::to_string(style));
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, WithMover(0));
        auto frame = MakeFrame(geometry, {Light{SideLight}}, true, style);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        geometry.Part(3)->visible = 0;
        render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_EQ(render.AllocAuxBuffers(), 0);
        ASSERT_TRUE(render.areLayersOfBackups);
        geometry.Part(3)->visible = 1;

        const std::int32_t moving[] = {1, 3};
        std::int32_t changedBoundaries = 0, rebuilt = 0;
        for (std::int32_t tick = 0; tick <= 4; ++tick) {
            SCOPED_TRACE("tick " + std::to_string(tick));
            shadow_scene::PlaceSolid(geometry, 3, MoverAt(tick));
            render.RenderFrame(moving, false, nullptr, 0);
            rebuilt += NotShadedAgain(render);
            auto whole = MakeFrame(geometry, {Light{SideLight}}, true, style);
            whole->render.RenderFrame(nullptr, false, nullptr, 0);
            std::int32_t changed = 0;
            ASSERT_TRUE(SamePicture(*frame, *whole, changed));
            changedBoundaries += changed;
        }
        // The shadow passed over the sphere's and the box's outlines.
        EXPECT_GT(changedBoundaries, 40);
        // The shadowed pixels were not shaded again: the mover's footprint lies out of sight.
        EXPECT_GT(rebuilt, 1000);
    }
}

// A plate 0.002 thick at depth z, facing the wall of the rod scenes (its front at depth 15.5),
// halfWidth wide each way about x = 0 and height tall, placed so that the upper edge of its
// shadow from light falls on the wall at screen row edgeRow (focal length 120, centre row 60).
Solid PlateShadowingRow(const Vec3& light, double z, double halfWidth, double height,
                        double edgeRow) {
    const double wallY = (edgeRow - 60.0) * 15.5 / 120.0;
    // The light above: the upper edge of the shadow comes from the plate's far upper edge.
    const double far = z + 0.001;
    const double top = light.y + (wallY - light.y) * (far - light.z) / (15.5 - light.z);
    return Solid{true, {0, top + height / 2, z}, {halfWidth, height / 2, 0.001}, 0x8090A0};
}

TEST(PixelPassShadows, AShadowEdgeMovingLessThanAPixelIsFollowed) {
    // A plate's shadow on the wall ends at row 80.9, between two rows of pixel centres. A
    // moving plate nearer the light throws its shadow inside that one, all but a sliver above
    // its edge that reaches no pixel centre, and creeps a twentieth of a pixel a tick: no
    // pixel's light changes, yet the pixels along the edge darken as the sliver widens. Every
    // incremental frame matches a whole render, and those pixels the supersampled shadow rays.
    const Vec3 light{2.5, -6, 2};
    const DepthOnRay wall = [](double, double) { return 15.5; };
    // With the light layers (rebuilding the pixels whose light changed) without and with
    // outlines shared between neighbours, and without layers (shading them again).
    struct Case {
        bool withLayers;
        std::int32_t style;
    };
    for (const Case& c : {Case{true, 0}, Case{true, -1}, Case{false, 0}}) {
        SCOPED_TRACE(std::string(c.withLayers ? "layers" : "no layers") + ", draw style " +
                     std::to_string(c.style));
        std::vector<Solid> solids = shadow_scene::WallAndRod(0.0);
        solids[1] = PlateShadowingRow(light, 8.0, 1.5, 0.6, 80.9);
        solids.push_back(PlateShadowingRow(light, 7.0, 0.5, 0.3, 80.55));
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, solids);
        auto frame = MakeFrame(geometry, {Light{light}}, c.withLayers, c.style);
        ASSERT_TRUE(frame->ok);
        ASSERT_DOUBLE_EQ(frame->Focal(), 120.0);
        QRender& render = frame->render;
        geometry.Part(2)->visible = 0;
        render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_EQ(render.AllocAuxBuffers(), 0);
        geometry.Part(2)->visible = 1;

        const std::int32_t moving[] = {1, 2};
        for (std::int32_t tick = 0; tick < 6; ++tick) {
            SCOPED_TRACE("tick " + std::to_string(tick));
            solids[2] = PlateShadowingRow(light, 7.0, 0.5, 0.3, 80.55 + 0.05 * tick);
            shadow_scene::PlaceSolid(geometry, 2, solids[2]);
            render.RenderFrame(moving, false, nullptr, 0);
            auto whole = MakeFrame(geometry, {Light{light}}, c.withLayers, c.style);
            whole->render.RenderFrame(nullptr, false, nullptr, 0);
            std::int32_t changed = 0;
            ASSERT_TRUE(SamePicture(*frame, *whole, changed));
            const std::vector<Solid> sliver(solids.end() - 1, solids.end());
            const std::int32_t compared = CompareWallEdgePixels(
                *frame, solids, light, wall, [&](std::int32_t x, std::int32_t y) {
                    return y == 80 &&
                           SupersampledLitFraction(*frame, sliver, light, wall, x, y) < 0.97;
                });
            EXPECT_GT(compared, 15);
        }
    }
}

TEST(PixelPassShadows, TheLayersOfAnIntegratedPixelRebuildItsColour) {
    // With two lights, every pixel the pass finished is rebuilt from its light layers by the
    // resolve with its cell's lit bits; where no shadow edge crosses it (its lit bits equal its
    // neighbours') the rebuilt colour is the integrated one, outlines of surfaces included.
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, Solids);
    auto frame = MakeFrame(geometry, {Light{Vec3{1.5, -3, 5}}, Light{SideLight}}, true);
    ASSERT_TRUE(frame->ok);
    QRender& render = frame->render;
    render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_NE(render.LayerPlanes(), nullptr);

    const RenderLevel& level = render.Level();
    const std::size_t cellCount =
        static_cast<std::size_t>(level.cellStride) * static_cast<std::size_t>(Height + 2);
    std::vector<SampleCell> cells(render.SampleBuffer(0), render.SampleBuffer(0) + cellCount);
    for (SampleCell& cell : cells) cell.pixel &= ~PixelFinished;
    std::vector<std::uint32_t> rebuilt = frame->pixels;
    SpanRegion all;
    RegionSetRect(all, 0, 0, Width, Height);
    CombineLayerBuffers(all, cells.data(), static_cast<std::size_t>(level.cellStride),
                        rebuilt.data(), Width, render.LayerPlanes(), render.LayerPlaneWords(), 2,
                        Width, Height);

    std::int32_t compared = 0;
    for (std::int32_t y = 1; y < Height - 1; ++y) {
        for (std::int32_t x = 1; x < Width - 1; ++x) {
            std::uint32_t mask = 0;
            const std::uint32_t id = render.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            if ((id & PixelFinished) == 0) continue;
            std::uint32_t edge = 0;
            for (const std::int32_t k : {0, 1, 2, 3}) {
                std::uint32_t m = 0;
                render.QueryPixel(x + (k == 0) - (k == 1), y + (k == 2) - (k == 3), &m, nullptr, 0,
                                  nullptr);
                edge |= (m ^ mask) & 0xFFFF0000u;
            }
            if (edge != 0) continue;
            const std::size_t at = static_cast<std::size_t>(y * Width + x);
            EXPECT_LE(shadow_scene::LargestChannelDifference(rebuilt[at], frame->pixels[at]), 2)
                << std::hex << rebuilt[at] << " against " << frame->pixels[at] << std::dec << " at "
                << x << ", " << y;
            ++compared;
        }
    }
    EXPECT_GT(compared, 100);
}

}  // namespace
