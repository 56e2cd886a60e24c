#pragma once

// Span shading: turns the sample cells of a cast frame into 0xAARRGGBB pixels with straight
// alpha. Background pixels take the flat colour or the sky gradient (alpha 0, or the fog's
// coverage when fog reaches the background); surface pixels go through the lighting model:
//
//   per light i that faces the point (evaluate bit 0x8000 >> i of the light mask): with L the
//   unit direction to the light, N the normal turned towards the eye, R the eye direction
//   mirrored about N and n = L . N (skipped below 0 or at the light's range), the diffuse term
//   D_i = round(1024 n) and the specular term S_i = round(1024 F (s^2 / (s^2 + 1 - L . R))^2),
//   times 10 n below n = 0.1, both times the range falloff; the light's lit colour (or its
//   shadow colour where a shadow light's lit bit is clear) weighs them;
//   diffuse plus ambient DA = (ambient x trunc(1024 (1 + (N . U)^2)) + sum colour D_i + 512)
//   >> 10; channel (8.8) = (part channel x 128 x DA + ((sum colour S_i + 16) >> 5) x
//   round(1024 strength)) >> 9, blended towards the fog colour by DepthCueWeight with fog on.
//
// With shade.isCurvatureHighlights a curved surface (not a plane, not bump-mapped) whose
// normal turns fast across a pixel against the highlight size s (q = curvature x z / (focal x
// s x |V . N|) above 0.4) has its lobe averaged over a Gaussian footprint of b pixels^2, b
// rising from 0 at q = 0.4 to 0.5 at 0.6 (HighlightBroadening): near the highlight x = 1 -
// L . R becomes x less the footprint's share and the lobe is scaled by its amplitude
// (FilteredLobeExponent), so a highlight smaller than a pixel is neither lost between pixel
// centres nor a lone bright pixel.
//
// A white part lit head-on by a light of colour 1.0 and intensity 1 gives 65280, exactly 255.
// The 8.8 values go through an error-diffusion dither: each channel's accumulator takes the
// value, the pixel takes its top bits and the low 8 bits stay for the next pixel shaded in
// the same call, across runs and rows, so flat areas keep their mean to within one step.
//
// A textured part takes its surface colour from ShadeSurfacePoint (surface_texture.h) on the
// same 128 scale; stars are blended over the background colour before fog (star_sky.h). In
// the background-image mode the background pixels are laid over the image
// (background_shade.h).
//
// Pixels whose PixelWord has bit 31 (finished by a pixel pass) are left as they are.

#include "render/q_render.h"
#include "render/span_region.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Sets the light's integer colours from colours in 0..1 and its intensity.
void RenderLightSlotSetColours(RenderLightSlot& slot, const std::array<double, 3>& colour,
                               const std::array<double, 3>& shadowColour, double intensity);

// A colour before the dither: channels on the 8.8 scale (65280 = 255) and the alpha word.
struct ShadedValue {
    std::array<std::int64_t, 3> value{};
    std::uint32_t alpha = 0;
};

// What span shading gives the cell seen through the normalised point (x, y) of the current
// level (pixel column and row for the stars), before its dither: the pixel pass shades the
// pieces of a boundary pixel this way.
ShadedValue ShadeSamplePoint(QRender& render, const SampleCell& cell, double x, double y,
                             std::int32_t column, std::int32_t row);

// The light layers of a sample before their dither, on the 8.8 scale: for a lit surface its
// colour with every shadow light shadowed and, for each shadow light evaluated there (bit i
// of evaluated), the change from its shadow colour to its lit colour; isLit is false for the
// background and the flat styles, whose layers are their colour alone.
struct SampleLayers {
    std::array<std::int64_t, 3> base{};
    std::array<std::array<std::int64_t, 3>, RenderLightSlotCount> light{};
    std::uint32_t evaluated = 0;
    bool isLit = false;
};

// ShadeSamplePoint that also gives the sample's light layers.
ShadedValue ShadeSamplePointLayers(QRender& render, const SampleCell& cell, double x, double y,
                                   std::int32_t column, std::int32_t row, SampleLayers& layers);

// Shades every run of region (current level pixels) from sample buffer 0 into the current
// level's output (the target at level 0, the reduced frame below), or with alternateBuffers
// from the second sample buffer into the backup's frame (QRender::PassBuffersFor); rows
// outside the level are skipped. Nothing without sized buffers or an output. Polls for the
// user after every row (UserAbortRender passes through, leaving the rows shaded so far).
void ShadeObjectSpans(QRender& render, const SpanRegion& region, bool alternateBuffers = false);

// The same from the sample buffer at cells (a buffer of the renderer, current level layout)
// into out (stride words a row, the current level's size); nothing when either is null. The
// incremental frames shade a backup this way. With layers (laid out as out), each pixel shaded
// also gets its light layers (light_layer_resolve.h): its base word at the pixel's place in
// layers and shadow light i's word planeWords x (i + 1) further; a lit surface's base is its
// colour with every shadow light shadowed and light i's word the change from that light's
// shadow colour to its lit colour (neutral where the light is not evaluated), each dithered on
// its own; other pixels' base is their colour and their light words neutral.
void ShadeObjectSpansInto(QRender& render, const SpanRegion& region, const SampleCell* cells,
                          std::uint32_t* out, std::size_t stride, std::uint32_t* layers = nullptr,
                          std::size_t planeWords = 0);

// Casts and shades a whole frame: RenderCastFrame, then (with stars on) the stars projected
// into the sky, with the pixel pass on the thin parts marked (two samples per pixel) and the
// boundary pixels integrated (pixel_pass.h), the change region shaded (with the light layers
// when the renderer keeps them, QRender::LayerPlanes), then the reduced
// levels expanded into the frame. Returns the cast result; with CastEyeInside the frame is
// opaque black (and the light layers, when kept, rebuild it black), with CastNotSized nothing
// is drawn. Throws KVOutOfMemoryException when the
// star chains or the pixel pass's arrays cannot grow.
std::int32_t RenderShadedFrame(QRender& render);
