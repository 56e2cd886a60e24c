#pragma once

// The light layer resolve: when only shadows moved, a pixel's colour is rebuilt from its light
// layers instead of being shaded again. Span shading keeps, per pixel, a base LayerWord (its
// colour with every shadow light in its shadowed state) and one LayerWord per shadow light (the
// change from shadowed to lit for that light); the resolve adds to the base the words of the
// lights whose lit bit (31 - i) is set in the cell's light mask.
//
// LayerWord: R in bits 20..29, G in 10..19, B in 0..9, each field the signed contribution
// + 0x80, held to 0..0x1FF when written, so adding two words never carries into the next
// field. Adding 0x8020080 (0x80 a field) to a base gives fields value + 0x100, and the three
// values lie in 0..255 exactly when (v AND 0x300C0300) = 0x10040100; while that holds after
// each light, one add, one test and one subtract serve all three channels. Otherwise the
// fields are unpacked, the remaining lights added channel by channel, and the channels clamped
// to 0..255.
//
// Over a background image (the background-mode byte set and an image given) the layers hold
// the colours as shaded before the image was laid under them, so the resolve lays the image
// under them again: each channel gains (image - 128) x (1 - coverage), the coverage being the
// pixel's alpha / 255 (0 where only the background shows), the same mix span shading and the
// pixel pass write. Surfaces whose alpha follows the fog take no image; background cells take
// all of it.

#include "render/q_render.h"
#include "render/shade_settings.h"
#include "render/span_region.h"

#include <cstddef>
#include <cstdint>

// The LayerWord that changes nothing: 0x80 in each field.
inline constexpr std::uint32_t NeutralLayerWord = 0x8020080u;

// Packs three signed contributions (-128..383) into a LayerWord, each held to 0..0x1FF.
std::uint32_t LayerWordOf(std::int32_t red, std::int32_t green, std::int32_t blue);

// What the resolved pixels lie over: the shade settings with their background image (none
// when null), and the reduction level and full-size frame through which a pixel finds its
// image word (BackgroundImageWord).
struct ResolveBackground {
    const ShadeSettings* shade = nullptr;
    std::int32_t level = 0;
    std::int32_t fullWidth = 0;
    std::int32_t fullHeight = 0;
};

// Sets the layers of a width x height picture (rows frameStride words apart) so that every
// pixel rebuilds as black whatever its lights: the base word and each of the shadowLightCount
// lights' words are NeutralLayerWord. Used where the picture itself turns opaque black.
void FillBlackLayers(std::uint32_t* layers, std::size_t planeWords, std::size_t frameStride,
                     std::int32_t shadowLightCount, std::int32_t width, std::int32_t height);

// Rebuilds the red, green and blue of every pixel of region (held to width x height) whose
// PixelWord lacks the finished bit, from its layers, laid over the background image when
// background gives one; the alpha byte stays. Pixel (x, y) is frame[y x frameStride + x], its
// cell cells[(y + 1) x cellStride + x + 1], its base word layers[y x frameStride + x] and
// light i's word planeWords x (i + 1) further.
void CombineLayerBuffers(const SpanRegion& region, const SampleCell* cells, std::size_t cellStride,
                         std::uint32_t* frame, std::size_t frameStride, const std::uint32_t* layers,
                         std::size_t planeWords, std::int32_t shadowLightCount, std::int32_t width,
                         std::int32_t height, const ResolveBackground& background = {});
