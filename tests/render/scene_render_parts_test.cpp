#include "render/scene_render_parts.h"

#include "geometry/part_block.h"
#include "geometry/part_render_record.h"
#include "render/q_render.h"
#include "geometry/scene_geometry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

TEST(SceneRenderParts, EveryPartOfTheGeometryBecomesARenderPart) {
    // A block of the geometry tests, beside this folder's data.
    std::string path = ORBELLE_TEST_DATA_DIR;
    path = path.substr(0, path.rfind('/')) + "/geometry/part_block/counted_surfaces.bin";
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> block((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    ASSERT_GT(block.size(), PartBlockHeaderBytes);
    SceneGeometry geometry;
    ASSERT_EQ(LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                            nullptr, false),
              0);
    ASSERT_GT(geometry.PartCount(), 1);
    geometry.Part(1)->visible = 0;
    PartRenderRecord& record = *geometry.Part(0);
    ASSERT_GT(record.surfaceRoom, 0);
    record.colour = 0x123456;
    // The part placed at world (0, 0, 7), its surfaces and bound in world coordinates as the
    // build leaves them: surface 0 the unit sphere about that point, the bound the sphere of
    // radius 2. The placement is not applied to them again.
    record.surfaceCount = 1;
    record.Surfaces()[0].m = {48, 0, 0, -7, 0, 1, 0, 0, 0, 0, 1, 0, -7, 0, 0, 1};
    record.localFromWorld.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -7, 0, 0, 1};
    record.boundQuadric.m = {45, 0, 0, -7, 0, 1, 0, 0, 0, 0, 1, 0, -7, 0, 0, 1};

    // The view moves the world by (0, 0, -5): the bound's centre is at view depth 2.
    Matrix4W viewFromWorld;
    viewFromWorld.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -5, 0, 0, 1};
    QRender render;
    render.parts.AddPart(4);
    LoadRenderParts(render, geometry, viewFromWorld);
    const RenderParts& parts = render.parts;
    ASSERT_EQ(parts.Count(), geometry.PartCount());
    EXPECT_EQ(parts.Part(0).colour, 0x123456u);
    EXPECT_EQ(parts.Part(0).visible, 1);
    EXPECT_EQ(parts.Part(1).visible, 0);
    // Seen from the view both are about (0, 0, 2): (z - 2)^2 + ... - r^2.
    ASSERT_EQ(parts.Part(0).surfaceCount, 1);
    const Matrix4W& surface = parts.Surfaces(0)[0];
    EXPECT_DOUBLE_EQ(surface.m[3], -2.0);
    EXPECT_DOUBLE_EQ(surface.m[0], 3.0);
    EXPECT_DOUBLE_EQ(surface.m[15], 1.0);
    const Matrix4W& bound = parts.Part(0).bound;
    EXPECT_DOUBLE_EQ(bound.m[3], -2.0);
    EXPECT_DOUBLE_EQ(bound.m[0], 0.0);
    EXPECT_EQ(render.slotTable, geometry.SlotTable());
    EXPECT_EQ(render.slotTableEntries,
              (static_cast<std::size_t>(geometry.PartCapacity()) + 1) * 32);
}

}  // namespace
