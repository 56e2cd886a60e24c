#include "render/render_dump.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

void AppendNumber(std::string& text, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    text.append(buffer, result.ptr);
}

void AppendInteger(std::string& text, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    text.append(buffer, result.ptr);
}

template <typename Field>
std::string CellDump(const QRender& render, Field field) {
    std::string text;
    const SampleCell* cells = render.SampleBuffer(0);
    if (!render.BuffersReady() || cells == nullptr) return text;
    const RenderLevel& level = render.Level();
    AppendInteger(text, level.width);
    text += ' ';
    AppendInteger(text, level.height);
    text += '\n';
    for (std::int32_t y = 0; y < level.height; ++y) {
        const SampleCell* row = cells + static_cast<std::size_t>(y + 1) *
                                            static_cast<std::size_t>(level.cellStride) + 1;
        for (std::int32_t x = 0; x < level.width; ++x) {
            if (x > 0) text += ' ';
            AppendInteger(text, field(row[x]));
        }
        text += '\n';
    }
    return text;
}

void AppendForm(std::string& text, const char* name, std::int32_t index, const Matrix4W& form) {
    text += name;
    if (index >= 0) {
        text += ' ';
        AppendInteger(text, index);
    }
    for (const double e : form.m) {
        text += ' ';
        if (std::isnan(e)) {
            text += "nan";
        } else {
            AppendNumber(text, e);
        }
    }
    text += '\n';
}

// A colour for a part without one: the index's bits spread over the three channels.
std::uint32_t IndexColour(std::int32_t index) {
    const std::uint32_t n = static_cast<std::uint32_t>(index) * 2654435761u;
    return 0x404040u | (n & 0xBFBFBFu);
}

}  // namespace

std::string RenderIdDump(const QRender& render) {
    return CellDump(render, [](const SampleCell& c) -> std::int64_t { return c.pixel & PixelIdMask; });
}

std::string RenderDepthDump(const QRender& render) {
    return CellDump(render, [](const SampleCell& c) -> std::int64_t { return c.depth; });
}

std::string RenderSurfacesDump(const QRender& render) {
    std::string text;
    for (std::int32_t i = 0; i < render.parts.Count(); ++i) {
        const RenderPart& part = render.parts.Part(i);
        text += "part ";
        AppendInteger(text, i);
        text += " visible ";
        AppendInteger(text, part.visible);
        text += " key ";
        AppendInteger(text, part.key);
        text += " surfaces ";
        AppendInteger(text, part.surfaceCount);
        text += '\n';
        AppendForm(text, "bound", -1, part.bound);
        const auto surfaces = render.parts.Surfaces(i);
        for (std::size_t s = 0; s < surfaces.size(); ++s) {
            AppendForm(text, "surface", static_cast<std::int32_t>(s), surfaces[s]);
        }
    }
    return text;
}

void RenderIdPreview(const QRender& render, std::uint32_t* pixels, std::int32_t width,
                     std::int32_t height, std::int32_t stride) {
    if (!render.BuffersReady() || pixels == nullptr) return;
    width = std::min(width, render.renderWidth);
    height = std::min(height, render.renderHeight);
    const RenderLevel& level = render.Level();
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint32_t* out = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (std::int32_t x = 0; x < width; ++x) {
            Vec3 normal{};
            const std::uint32_t word = render.QueryPixel(x, y, nullptr, nullptr, 0, &normal);
            const std::int32_t part = PixelPartIndex(word);
            if (part < 0 || part >= render.parts.Count()) {
                out[x] = render.backgroundColour & 0x00FFFFFFu;
                continue;
            }
            // Lit from the eye: the cosine between the facing normal and the way back to it.
            const Vec3 back{-(x - level.centreX + 0.5), -(y - level.centreY + 0.5), -level.focal};
            const double lengths = std::sqrt(Vec3Dot(normal, normal) * Vec3Dot(back, back));
            const double facing = lengths > 0.0 ? std::max(0.0, Vec3Dot(normal, back) / lengths) : 1.0;
            const double shade = 0.3 + 0.7 * facing;
            std::uint32_t colour = render.parts.Part(part).colour & 0xFFFFFFu;
            if (colour == 0) colour = IndexColour(part);
            std::uint32_t shaded = 0xFF000000u;
            for (const int shift : {16, 8, 0}) {
                const double channel = ((colour >> shift) & 0xFF) * shade;
                shaded |= static_cast<std::uint32_t>(std::lround(std::min(channel, 255.0))) << shift;
            }
            out[x] = shaded;
        }
    }
}
