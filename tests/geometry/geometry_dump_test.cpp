#include "geometry/geometry_dump.h"

#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

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

// Every shape type but the composite (which needs its record's extension) dumps as built: its own type, surfaces in use, a finite
// bound (no null anywhere), visible.
TEST(GeometryDump, EveryBuiltShapeTypeDumpsFinite) {
    const std::vector<std::pair<ShapeType, std::vector<double>>> shapes{
        {ShapeType::Sphere, {1}},
        {ShapeType::Cylinder, {3, 1}},
        {ShapeType::Box, {2, 3, 1.5}},
        {ShapeType::Frustum, {3, 1.5, 0.5}},
        {ShapeType::Torus, {3, 1}},
        {ShapeType::TaperedPrism, {2, 1, 2.5, 3}},
        {ShapeType::SphereZone, {2, 2, 0.5}},
        {ShapeType::FlatSidedCylinder, {2, 1.5}},
        {ShapeType::Ellipsoid, {1, 2, 1.5}},
        {ShapeType::Rod, {1, 2, 3, 4, -1, 2, 1, 0, 0, 0.2, 0.4}},
        {ShapeType::CutRod, {-1, 0, 2, 3, 1, -1, 2, 0.2, -1, 0.3, 0.25, 0.3, 0.1, 0.3, 0.1}},
        {ShapeType::Spheroid, {1, 2, -1, 1, 1, 0.5, 3, 1}},
        {ShapeType::RoundedCylinder, {3, 1}},
        {ShapeType::RoundedBox, {2, 3, 1.5}},
        {ShapeType::RoundedFrustum, {3, 1.5, 0.5}},
        {ShapeType::SmoothPlate, {0.5, 1, 2, 3}},
        {ShapeType::RoundedOctagon, {4, 1.5}},
        {ShapeType::FacetedCylinder, {2, 1.5, 0.8, 2.5}},
        {ShapeType::Bowl, {2, 2, 1, 1, 0.5, 1}},
        {ShapeType::RevolvedPair, {1, 1, 1.5, -2, 0.9}},
        {ShapeType::CoredSolid, {1, 0.5, 1, 0.5, 1, 0.3, 0.9}},
        {ShapeType::FlaredSolid, {0.5, 1, 1, 0.5, 1}},
        {ShapeType::Ring, {2, 0.5, 0.7, 0.3, 0.4}},
        {ShapeType::HoledSolid, {3, 1, 0.2, 0.3, 0.5, 3}},
        {ShapeType::CornerRod,
         {0, 0, 0, 10, 0, 0, 1, 1, 0, 0, 1, 0.3, 0, 1, 0.2, 0.5, 2, 1.5, 0.3}},
        {ShapeType::PlacedSolid, {0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 0.7, 1.5, 0.5, 0.4}},
        {ShapeType::PlacedEllipsoid, {1, 2, 3, 0.5, 2, 0, 1, 1, 1, 2, 0.5, 1}},
        {ShapeType::CutEllipsoid, {2, 1.5, -0.4, 0.7, 0.3, 0.5, 1, 0.2}},
    };
    SceneGeometry geometry;
    const std::vector<std::int32_t> rooms(shapes.size(), PartSurfaceLimit);
    geometry.AddParts(rooms, false);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const WorkingPartRecord w = Working(shapes[i].first, shapes[i].second, {1, -1, 0.5});
        ASSERT_EQ(BuildPartShape(geometry, nullptr, static_cast<std::int32_t>(i), false, true,
                                 false, &w),
                  0)
            << static_cast<int>(shapes[i].first);
    }
    const std::string json = GeometryDumpJson(geometry);
    EXPECT_EQ(json.find("null"), std::string::npos);
    EXPECT_EQ(json.find("\"surfaceCount\":0"), std::string::npos);
    EXPECT_EQ(json.find("\"visible\":0"), std::string::npos);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const std::string head = "{\"index\":" + std::to_string(i) + ",\"type\":" +
                                 std::to_string(static_cast<int>(shapes[i].first)) + ",";
        EXPECT_NE(json.find(head), std::string::npos) << head;
    }
}

}  // namespace
