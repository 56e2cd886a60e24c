#include "geometry/geometry_dump.h"

#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using namespace shape_build_test;

// A sphere of radius 2 at (1, 0, 0): its surface and bound (x - 1)^2 + y^2 + z^2 <= 4 scaled
// by 1/4, its sphere proxy and bounding sphere; then an unbuildable part, and a value that is
// not a number written as null.
TEST(GeometryDump, PartsAsJsonLines) {
    SceneGeometry geometry;
    const std::array<std::int32_t, 2> rooms{1, 1};
    geometry.AddParts(rooms, false);
    WorkingPartRecord sphere = Working(ShapeType::Sphere, {2}, {1, 0, 0});
    sphere.partId = 5;
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &sphere), 0);
    const WorkingPartRecord flat = Working(ShapeType::Sphere, {0});
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 1, false, true, false, &flat),
              PartBuildUnbuildable);
    geometry.Part(1)->boundCentre.y = std::numeric_limits<double>::quiet_NaN();

    const std::string form = "[-0.75,-0.25,0,0,-0.25,0.25,0,0,0,0,0.25,0,0,0,0,0.25]";
    const std::string expected =
        "{\"parts\":[\n"
        "{\"index\":0,\"type\":1,\"partId\":5,\"buildResult\":0,\"visible\":1,"
        "\"surfaceCount\":1,\"shapeClass\":1,\"surfaces\":[" +
        form + "],\"bound\":{\"quadric\":" + form +
        ",\"centre\":[1,0,0],\"radius\":2},\"proxy\":{\"kind\":0,"
        "\"form\":[1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,2]},\"features\":{\"corners\":[],\"edges\":[]}},\n"
        "{\"index\":1,\"type\":1,\"partId\":0,\"buildResult\":-1,\"visible\":0,"
        "\"surfaceCount\":0,\"shapeClass\":0,\"surfaces\":[],\"bound\":{\"quadric\":"
        "[1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],\"centre\":[0,null,0],\"radius\":0},\"proxy\":"
        "{\"kind\":0,\"form\":[1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]},\"features\":{\"corners\":[],"
        "\"edges\":[]}}\n"
        "]}\n";
    EXPECT_EQ(GeometryDumpJson(geometry), expected);
}

// Corners and edges of a box: eight corners, twelve edges as surface, other surface and kind.
TEST(GeometryDump, FeatureTablesListCornersAndEdges) {
    OnePart one;
    ASSERT_EQ(one.Build(Working(ShapeType::Box, {2, 4, 6})), 0);
    const std::string json = GeometryDumpJson(one.geometry);
    EXPECT_NE(json.find("\"corners\":[[-1,-2,-3],[-1,-2,3],[-1,2,-3]"), std::string::npos);
    EXPECT_NE(json.find("\"edges\":[[2,0,2],[2,1,2],[3,0,2]"), std::string::npos);
    EXPECT_NE(json.find("[5,3,2]]}}"), std::string::npos);
}

}  // namespace
