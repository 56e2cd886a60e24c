#include "render/render_dump.h"

#include "render/cast_frame_pass.h"
#include "render/look_at_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// A 12 x 8 frame with one sphere of radius 1 at depth 5 in the middle.
struct SphereFrame {
    QRender render;
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(12 * 8, 0xDEADBEEFu);

    SphereFrame() {
        EXPECT_EQ(render.SetSize(pixels.data(), 12, 8, 12, false), RenderSizeOk);
        render.centreX = 6.0;
        render.centreY = 4.0;
        render.focalScale = 0.01;  // 10 pixels
        Matrix4W sphere;  // x^2 + y^2 + (z - 5)^2 <= 1
        sphere.m = {24, 0, 0, -5, 0, 1, 0, 0, 0, 0, 1, 0, -5, 0, 0, 1};
        const std::int32_t index = render.parts.AddPart(1);
        render.parts.Part(index).colour = 0x204080;
        render.parts.SetViewForms(index, std::span<const Matrix4W>(&sphere, 1), sphere);
        EXPECT_EQ(RenderCastFrame(render), CastDone);
    }
};

TEST(RenderDump, IdAndDepthDumpsListEveryPixelByRow) {
    SphereFrame f;
    const std::string ids = RenderIdDump(f.render);
    ASSERT_EQ(ids.substr(0, 5), "12 8\n");
    std::vector<std::string> lines;
    for (std::size_t at = 0, next = 0; at < ids.size(); at = next + 1) {
        next = ids.find('\n', at);
        lines.push_back(ids.substr(at, next - at));
    }
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], "0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(lines[4], "0 0 0 0 32 32 32 32 0 0 0 0");

    // Pixel (5, 3) looks along (-0.5, -0.5, 10) and meets the sphere at t with
    // 100.5 t^2 - 100 t + 24 = 0; its word is depthScale / t.
    const std::string depth = RenderDepthDump(f.render);
    const double t = (100.0 - std::sqrt(100.0 * 100.0 - 4.0 * 100.5 * 24.0)) / (2.0 * 100.5);
    std::size_t at = 0;
    for (int line = 0; line < 4; ++line) at = depth.find('\n', at) + 1;
    for (int column = 0; column < 5; ++column) at = depth.find(' ', at) + 1;
    const double word = std::stod(depth.substr(at, depth.find(' ', at) - at));
    EXPECT_NEAR(word, f.render.depthScale / t, 2.0);

    QRender unsized;
    EXPECT_EQ(RenderIdDump(unsized), "");
    EXPECT_EQ(RenderDepthDump(unsized), "");
}

TEST(RenderDump, SurfacesDumpShowsTheConditionedForms) {
    QRender render;
    Matrix4W plane;  // z <= 3
    plane.m[0] = -3.0;
    plane.m[3] = plane.m[12] = 0.5;
    const std::int32_t index = render.parts.AddPart(1);
    render.parts.SetViewForms(index, std::span<const Matrix4W>(&plane, 1), Matrix4W{});
    EXPECT_EQ(RenderSurfacesDump(render),
              "part 0 visible 1 key 0 surfaces 1\n"
              "bound 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
              "surface 0 -3 0 0 0.5 0 0 0 0 0 0 0 0 0.5 0 0 nan\n");
}

TEST(RenderDump, PreviewColoursPartsAndLeavesTheBackgroundClear) {
    SphereFrame f;
    RenderIdPreview(f.render, f.pixels.data(), 12, 8, 12);
    EXPECT_EQ(f.pixels[0], 0x0097979Fu);
    const std::uint32_t centre = f.pixels[3 * 12 + 5];
    EXPECT_EQ(centre >> 24, 0xFFu);
    // Facing the eye nearly squarely: the part's own colour, evenly and only a little darkened.
    const double shade = (centre & 0xFF) / 128.0;
    EXPECT_GT(shade, 0.9);
    EXPECT_NEAR((centre >> 16) & 0xFF, 0x20 * shade, 1.0);
    EXPECT_NEAR((centre >> 8) & 0xFF, 0x40 * shade, 1.0);
}

TEST(LookAtView, PutsTheTargetOnTheAxisWithUpTowardsTheTopRows) {
    const auto view = ViewFromLookAt({1, 2, 3}, {1, 2, 13}, {0, 1, 0});
    ASSERT_TRUE(view.has_value());
    const Vec4 target = Matrix4TransformVec4(*view, Vec4{1, 1, 2, 13});
    EXPECT_NEAR(target.x, 0.0, 1e-12);
    EXPECT_NEAR(target.y, 0.0, 1e-12);
    EXPECT_NEAR(target.z, 10.0, 1e-12);
    const Vec4 above = Matrix4TransformVec4(*view, Vec4{1, 1, 3, 13});
    EXPECT_LT(above.y, 0.0);  // rows grow downwards
    EXPECT_FALSE(ViewFromLookAt({0, 0, 0}, {0, 0, 0}, {0, 1, 0}).has_value());
    EXPECT_FALSE(ViewFromLookAt({0, 0, 0}, {0, 5, 0}, {0, 1, 0}).has_value());
}

}  // namespace
