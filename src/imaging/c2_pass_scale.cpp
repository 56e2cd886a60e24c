#include "imaging/c2_pass_scale.h"

#include "core/float_convert.h"
#include "imaging/pl_contrib_def.h"
#include "imaging/pl_text_exception.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// The same ceiling as bitmaps: the intermediate image is one more of them.
constexpr std::int64_t MaxIntermediateBytes = std::int64_t{1} << 30;

// One output pixel: the weighted sum of count source pixels step bytes apart.
template <int Bpp>
void BlendPixel(const std::uint8_t* source, std::size_t step, const PLContribution& c,
                std::uint8_t* out) {
    std::int32_t sums[Bpp] = {};
    for (std::int32_t i = c.left; i <= c.right; ++i) {
        const std::int32_t weight = c.weights[static_cast<std::size_t>(i - c.left)];
        const std::uint8_t* p = source + static_cast<std::size_t>(i) * step;
        for (int ch = 0; ch < Bpp; ++ch) sums[ch] += p[ch] * weight;
    }
    for (int ch = 0; ch < Bpp; ++ch) {
        out[ch] = static_cast<std::uint8_t>(std::clamp((sums[ch] + 128) / 256, 0, 255));
    }
}

}  // namespace

std::vector<PLContribution> PLBuildContributions(const PLContribDef& contribDef,
                                                 std::int32_t outputCount,
                                                 std::int32_t inputCount) {
    std::vector<PLContribution> table(static_cast<std::size_t>(std::max(outputCount, 0)));
    if (inputCount <= 0) return table;
    const double scale = static_cast<double>(outputCount) / inputCount;
    double width = contribDef.GetWidth();
    double factor = 1.0;
    if (scale < 1.0) {
        width = width / scale;
        factor = scale;
    }
    const std::int32_t windowSize = 2 * TruncToInt32(std::ceil(width)) + 1;

    for (std::int32_t u = 0; u < outputCount; ++u) {
        PLContribution& entry = table[static_cast<std::size_t>(u)];
        const double center = (u + 0.5) / scale - 0.5;
        entry.left = std::max(0, FloorToInt32(center - width));
        entry.right = std::min(TruncToInt32(std::ceil(center + width)), inputCount - 1);
        if (entry.right - entry.left + 1 > windowSize) {
            if (entry.left < inputCount) {
                ++entry.left;
            } else {
                --entry.right;
            }
        }
        entry.weights.assign(static_cast<std::size_t>(std::max(entry.right - entry.left + 1, 0)),
                             0);
        std::int32_t total = 0;
        for (std::int32_t i = entry.left; i <= entry.right; ++i) {
            const std::int32_t weight =
                TruncToInt32(contribDef.Filter(factor * (center - i)) * factor * 256.0);
            entry.weights[static_cast<std::size_t>(i - entry.left)] = weight;
            total += weight;
        }
        // Normalise so the weights add up to exactly 256; the last takes the rounding.
        if (total > 0 && !entry.weights.empty()) {
            std::int32_t others = 0;
            for (std::size_t k = 0; k + 1 < entry.weights.size(); ++k) {
                entry.weights[k] = entry.weights[k] * 256 / total;
                others += entry.weights[k];
            }
            entry.weights.back() = 256 - others;
        }
    }
    return table;
}

template <class DataClass>
void C2PassScale<DataClass>::Scale(const std::uint8_t* const* sourceLines,
                                   std::int32_t sourceWidth, std::int32_t sourceHeight,
                                   std::uint8_t* const* destLines, std::int32_t destWidth,
                                   std::int32_t destHeight) const {
    constexpr int Bpp = DataClass::BytesPerPixel;
    if (sourceWidth <= 0 || sourceHeight <= 0 || destWidth <= 0 || destHeight <= 0) return;
    const std::int64_t intermediateBytes = std::int64_t{destWidth} * sourceHeight * Bpp;
    if (intermediateBytes > MaxIntermediateBytes) {
        throw PLTextException(PLErrNoMemory, "Out of memory resizing image.");
    }
    std::vector<std::uint8_t> intermediate;
    std::vector<PLContribution> across;
    std::vector<PLContribution> down;
    try {
        intermediate.assign(static_cast<std::size_t>(intermediateBytes), 0);
        across = PLBuildContributions(contribDef, destWidth, sourceWidth);
        down = PLBuildContributions(contribDef, destHeight, sourceHeight);
    } catch (const std::bad_alloc&) {
        throw PLTextException(PLErrNoMemory, "Out of memory resizing image.");
    }

    const std::size_t rowBytes = static_cast<std::size_t>(destWidth) * Bpp;
    for (std::int32_t y = 0; y < sourceHeight; ++y) {
        std::uint8_t* out = intermediate.data() + static_cast<std::size_t>(y) * rowBytes;
        for (std::int32_t u = 0; u < destWidth; ++u) {
            BlendPixel<Bpp>(sourceLines[y], Bpp, across[static_cast<std::size_t>(u)],
                            out + static_cast<std::size_t>(u) * Bpp);
        }
    }
    for (std::int32_t v = 0; v < destHeight; ++v) {
        const PLContribution& c = down[static_cast<std::size_t>(v)];
        for (std::int32_t x = 0; x < destWidth; ++x) {
            BlendPixel<Bpp>(intermediate.data() + static_cast<std::size_t>(x) * Bpp, rowBytes, c,
                            destLines[v] + static_cast<std::size_t>(x) * Bpp);
        }
    }
}

template class C2PassScale<CDataRGBA_UBYTE>;
template class C2PassScale<CDataRGB_UBYTE>;
