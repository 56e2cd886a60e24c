#include "render/scene_render_parts.h"

#include "geometry/part_block.h"
#include "geometry/scene_geometry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

TEST(SceneRenderParts, EveryPartOfTheGeometryBecomesARenderPart) {
    // The geometry tests' block of default shapes, beside this folder's data.
    std::string path = ORBELLE_TEST_DATA_DIR;
    path = path.substr(0, path.rfind('/')) + "/geometry/part_block/default_shapes.bin";
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> block((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    ASSERT_GT(block.size(), PartBlockHeaderBytes);
    SceneGeometry geometry;
    ASSERT_EQ(LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                            nullptr, false),
              0);
    ASSERT_GT(geometry.partCount, 1);
    geometry.Part(1)->visible = 0;
    geometry.Part(0)->colour = 0x123456;
    // A bound in world space: the unit sphere about (0, 0, 7).
    geometry.Part(0)->boundQuadric.m = {48, 0, 0, -7, 0, 1, 0, 0, 0, 0, 1, 0, -7, 0, 0, 1};

    // The view moves the world by (0, 0, -5): the bound's centre is at view depth 2.
    Matrix4W viewFromWorld;
    viewFromWorld.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -5, 0, 0, 1};
    RenderParts parts;
    parts.AddPart(4);
    LoadRenderParts(parts, geometry, viewFromWorld);
    ASSERT_EQ(parts.Count(), geometry.partCount);
    EXPECT_EQ(parts.Part(0).colour, 0x123456u);
    EXPECT_EQ(parts.Part(0).visible, 1);
    EXPECT_EQ(parts.Part(1).visible, 0);
    EXPECT_EQ(parts.Part(0).surfaceCount, 0);  // the records hold no surface forms yet
    const Matrix4W& bound = parts.Part(0).bound;
    EXPECT_DOUBLE_EQ(bound.m[3], -2.0);
    EXPECT_DOUBLE_EQ(bound.m[0], 3.0);
}

}  // namespace
