#include "render/light_layer_resolve.h"

#include "render/background_shade.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint32_t FieldBias = 0x8020080u;   // 0x80 in each field
constexpr std::uint32_t RangeMask = 0x300C0300u;  // bits 8 and 9 of each field
constexpr std::uint32_t InRange = 0x10040100u;    // bit 8 set, bit 9 clear in each

std::uint32_t ResolvePixel(std::uint32_t pixel, std::uint32_t lightMask, const std::uint32_t* base,
                           std::size_t planeWords, std::int32_t lightCount) {
    std::uint32_t v = *base + FieldBias;
    std::int32_t next = 0;  // the first light not yet added
    bool isFast = (v & RangeMask) == InRange;
    if (isFast) {
        v -= FieldBias;
        for (std::int32_t i = 0; i < lightCount; ++i) {
            if ((lightMask & (0x80000000u >> i)) == 0) continue;
            v += base[planeWords * static_cast<std::size_t>(i + 1)];
            next = i + 1;
            if ((v & RangeMask) != InRange) {
                isFast = false;
                break;
            }
            v -= FieldBias;
        }
    }
    if (isFast) {
        const std::uint32_t c = v - FieldBias;
        return (pixel & 0xFF000000u) + ((c >> 4) & 0xFF0000u) + ((c >> 2) & 0xFF00u) + (c & 0xFFu);
    }
    // The fields still carry the double bias: 0x100 each.
    std::int32_t r = static_cast<std::int32_t>((v >> 20) & 0x3FF) - 256;
    std::int32_t g = static_cast<std::int32_t>((v >> 10) & 0x3FF) - 256;
    std::int32_t b = static_cast<std::int32_t>(v & 0x3FF) - 256;
    for (std::int32_t i = next; i < lightCount; ++i) {
        if ((lightMask & (0x80000000u >> i)) == 0) continue;
        const std::uint32_t word = base[planeWords * static_cast<std::size_t>(i + 1)];
        r += static_cast<std::int32_t>((word >> 20) & 0x3FF) - 128;
        g += static_cast<std::int32_t>((word >> 10) & 0x3FF) - 128;
        b += static_cast<std::int32_t>(word & 0x3FF) - 128;
    }
    if (r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255) {
        r = std::clamp(r, 0, 255);
        g = std::clamp(g, 0, 255);
        b = std::clamp(b, 0, 255);
    }
    return (pixel & 0xFF000000u) + (static_cast<std::uint32_t>(r) << 16) +
           (static_cast<std::uint32_t>(g) << 8) + static_cast<std::uint32_t>(b);
}

// The resolved pixel laid over its image word by its coverage.
std::uint32_t OverImage(std::uint32_t pixel, const SampleCell& cell, bool isAlphaFromFog,
                        std::uint32_t image) {
    const std::uint32_t alpha = pixel >> 24;
    double coverage = alpha / 255.0;
    if (isAlphaFromFog) coverage = (cell.pixel & PixelIdMask) >> 5 == 0 ? 0.0 : 1.0;
    if (coverage >= 1.0) return pixel;
    const std::array<double, 3> channels{static_cast<double>((pixel >> 16) & 0xFF) * 256.0,
                                         static_cast<double>((pixel >> 8) & 0xFF) * 256.0,
                                         static_cast<double>(pixel & 0xFF) * 256.0};
    return BoundaryOverBackgroundImage(channels, coverage, alpha, image);
}

}  // namespace

std::uint32_t LayerWordOf(std::int32_t red, std::int32_t green, std::int32_t blue) {
    const auto field = [](std::int32_t v) {
        return static_cast<std::uint32_t>(std::clamp(v + 0x80, 0, 0x1FF));
    };
    return field(red) << 20 | field(green) << 10 | field(blue);
}

void FillBlackLayers(std::uint32_t* layers, std::size_t planeWords, std::size_t frameStride,
                     std::int32_t shadowLightCount, std::int32_t width, std::int32_t height) {
    if (layers == nullptr || width <= 0) return;
    const std::int32_t lightCount = std::clamp(shadowLightCount, 0, RenderLightSlotCount);
    for (std::int32_t plane = 0; plane <= lightCount; ++plane) {
        std::uint32_t* words = layers + planeWords * static_cast<std::size_t>(plane);
        for (std::int32_t y = 0; y < height; ++y) {
            std::fill_n(words + static_cast<std::size_t>(y) * frameStride, width, NeutralLayerWord);
        }
    }
}

void CombineLayerBuffers(const SpanRegion& region, const SampleCell* cells, std::size_t cellStride,
                         std::uint32_t* frame, std::size_t frameStride, const std::uint32_t* layers,
                         std::size_t planeWords, std::int32_t shadowLightCount, std::int32_t width,
                         std::int32_t height, const ResolveBackground& background) {
    if (region.HasNoRows() || cells == nullptr || frame == nullptr || layers == nullptr) return;
    const ShadeSettings* shade = background.shade;
    if (shade != nullptr && (shade->backgroundMode == 0 || shade->backgroundImage == nullptr)) {
        shade = nullptr;
    }
    const std::int32_t lightCount = std::clamp(shadowLightCount, 0, RenderLightSlotCount);
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), height);
    for (std::int32_t y = top; y < bottom; ++y) {
        const SampleCell* rowCells = cells + static_cast<std::size_t>(y + 1) * cellStride + 1;
        const std::size_t rowStart = static_cast<std::size_t>(y) * frameStride;
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], width);
            for (std::int32_t x = x0; x < x1; ++x) {
                const SampleCell& cell = rowCells[x];
                if ((cell.pixel & PixelFinished) != 0) continue;
                const std::size_t at = rowStart + static_cast<std::size_t>(x);
                frame[at] =
                    ResolvePixel(frame[at], cell.lightMask, layers + at, planeWords, lightCount);
                if (shade == nullptr) continue;
                if (const std::uint32_t* image =
                        BackgroundImageWord(*shade, background.level, x, y, background.fullWidth,
                                            background.fullHeight)) {
                    frame[at] = OverImage(frame[at], cell, shade->isAlphaFromFog, *image);
                }
            }
        }
    }
}
