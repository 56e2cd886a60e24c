#include "render/pyramid_filter.h"

#include <algorithm>

namespace {

inline std::uint32_t Quarter(std::uint32_t v) { return (v >> 2) & 0x3F3F3F3Fu; }

inline std::uint32_t FiveTap(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                             std::uint32_t e) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto ch = [shift](std::uint32_t v) { return static_cast<std::int32_t>((v >> shift) & 0xFF); };
        const std::int32_t sum = -4 * ch(a) + 11 * ch(b) + 29 * ch(c) - 3 * ch(d) - ch(e);
        out |= static_cast<std::uint32_t>(std::clamp(sum, 0, 8160) >> 5) << shift;
    }
    return out;
}

// Calls emit(out, k, source line, i) for every output k of every line, i = k / 2 + 2 held to
// the source.
template <typename Emit>
void ForEachOutput(const ExpandPass& pass, Emit emit) {
    for (std::int32_t line = 0; line < pass.lineCount; ++line) {
        const std::uint32_t* src = pass.source + line * pass.sourceLineStep;
        std::uint32_t* out = pass.out + line * pass.outLineStep;
        const auto at = [&](std::int32_t i) {
            return src[std::clamp(i, 0, pass.sourceCount - 1) * pass.sourceStep];
        };
        for (std::int32_t k = 0; k < pass.outCount; ++k) {
            out[k * pass.outStep] = emit(at, k / 2 + 2, (k & 1) != 0);
        }
    }
}

}  // namespace

void ExpandNearest(const ExpandPass& pass) {
    ForEachOutput(pass, [](const auto& at, std::int32_t i, bool) { return at(i); });
}

void ExpandLinear(const ExpandPass& pass) {
    ForEachOutput(pass, [](const auto& at, std::int32_t i, bool isRight) {
        const std::uint32_t s = at(i);
        return s - Quarter(s) + Quarter(at(isRight ? i + 1 : i - 1));
    });
}

void ExpandCubic(const ExpandPass& pass) {
    ForEachOutput(pass, [](const auto& at, std::int32_t i, bool isRight) {
        return isRight ? FiveTap(at(i + 2), at(i + 1), at(i), at(i - 1), at(i - 2))
                       : FiveTap(at(i - 2), at(i - 1), at(i), at(i + 1), at(i + 2));
    });
}

void PyramidFilter(QRender& render) {
    if (!render.BuffersReady() || render.Target() == nullptr) return;
    for (std::int32_t level = render.reductionLevel - 1; level >= 0; --level) {
        const RenderLevel& coarse = render.Level(level + 1);
        const RenderLevel& fine = render.Level(level);
        const std::uint32_t* source = render.ReducedFrame(level + 1);
        std::uint32_t* half = render.IntermediateFrame(level);
        std::uint32_t* out = level == 0 ? render.Target() : render.ReducedFrame(level);
        const std::ptrdiff_t outStride = level == 0 ? render.TargetStride() : fine.width;
        if (source == nullptr || half == nullptr || out == nullptr) return;
        auto expand = &ExpandLinear;
        if (render.isNearestExpansion) {
            expand = &ExpandNearest;
        } else if (level >= render.cubicFromLevel) {
            expand = &ExpandCubic;
        }
        // Columns first: the coarse level's rows doubled into the half-expanded frame...
        expand(ExpandPass{half, coarse.width, 1, source, coarse.width, 1, fine.height,
                          coarse.height, coarse.width});
        // ...then its columns doubled into the finer level.
        expand(ExpandPass{out, 1, outStride, half, 1, coarse.width, fine.width, coarse.width,
                          fine.height});
    }
}
