#pragma once

// A renderer sized over pixels of its own, without a scene: the tests of footprints and
// silhouettes write their parts' view-space forms straight into its part records.

#include "core/matrix4.h"
#include "render/q_render.h"
#include "render/render_parts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

namespace bare_render {

struct Frame {
    Frame(std::int32_t width, std::int32_t height)
        : pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        EXPECT_EQ(render.SetSize(pixels.data(), width, height, width, false), RenderSizeOk);
        render.centreX = width / 2.0;
        render.centreY = height / 2.0;
        render.focalScale = 0.06;
        render.BuildLevelTable();
        render.SetDepthScale(render.depthConstant, render.Level().focal);
    }
    // A part with form as its one surface and its bound; returns its index.
    std::int32_t AddPart(const Matrix4W& form) {
        const std::int32_t index = render.parts.AddPart(1);
        render.parts.SetViewForms(index, std::span<const Matrix4W>(&form, 1), form);
        return index;
    }
    std::vector<std::uint32_t> pixels;
    QRender render;
};

}  // namespace bare_render
