#include "render/scene_render_parts.h"

#include "geometry/part_block.h"
#include "geometry/part_render_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"
#include "geometry/shape_type.h"
#include "geometry/working_part_record.h"
#include "render/q_render.h"

#include <gtest/gtest.h>

#include <array>
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
    // Surface 0 the unit sphere about world (0, 0, 7), the part placed there; surfaces and
    // bound are in world coordinates, as the build leaves them: the bound the sphere of
    // radius 2 about the same point.
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

// v^T Q v with v = (1, x, y, z).
double FormValue(const Matrix4W& q, const Vec3& p) {
    const std::array<double, 4> v{1.0, p.x, p.y, p.z};
    double sum = 0.0;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) sum += v[r] * q.m[r * 4 + c] * v[c];
    }
    return sum;
}

TEST(SceneRenderParts, ABuiltPartAwayFromTheOriginIsSeenWhereItStands) {
    // A sphere built by its builder at world (1.5, -0.5, 2), seen from a view that turns the
    // world a quarter turn about y and moves it 10 along z: every test point is inside the
    // view-space surface exactly when it is inside the sphere in the world.
    const Vec3 centre{1.5, -0.5, 2.0};
    const double radius = 0.75;
    SceneGeometry geometry;
    const std::vector<std::int32_t> rooms{PartSurfaceLimit};
    geometry.AddParts(rooms, false);
    WorkingPartRecord w;
    w.shapeType = ShapeType::Sphere;
    w.paramCount = 1;
    w.params[0] = radius;
    w.position = centre;
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &w), 0);

    Matrix4W viewFromWorld;
    viewFromWorld.m = {1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 10, -1, 0, 0};
    QRender render;
    LoadRenderParts(render, geometry, viewFromWorld);
    ASSERT_EQ(render.parts.Count(), 1);
    ASSERT_GE(render.parts.Part(0).surfaceCount, 1);

    const auto toView = [&](const Vec3& p) {  // rows (1; x, y, z) of viewFromWorld
        const auto& m = viewFromWorld.m;
        return Vec3{m[4] + m[5] * p.x + m[6] * p.y + m[7] * p.z,
                    m[8] + m[9] * p.x + m[10] * p.y + m[11] * p.z,
                    m[12] + m[13] * p.x + m[14] * p.y + m[15] * p.z};
    };
    for (const double scale : {0.0, 0.5, 0.9, 1.1, 1.5}) {
        for (const Vec3 direction : {Vec3{1, 0, 0}, Vec3{0, -1, 0}, Vec3{0, 0, 1},
                                     Vec3{0.6, 0.0, -0.8}}) {
            const Vec3 world{centre.x + scale * radius * direction.x,
                             centre.y + scale * radius * direction.y,
                             centre.z + scale * radius * direction.z};
            bool inside = true;
            for (std::int32_t s = 0; s < render.parts.Part(0).surfaceCount; ++s) {
                inside = inside && FormValue(render.parts.Surfaces(0)[static_cast<std::size_t>(s)],
                                             toView(world)) < 0.0;
            }
            EXPECT_EQ(inside, scale < 1.0) << "scale " << scale << " along (" << direction.x
                                           << ", " << direction.y << ", " << direction.z << ")";
        }
    }
}

}  // namespace
