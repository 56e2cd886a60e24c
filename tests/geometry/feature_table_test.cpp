#include "geometry/feature_table.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

struct TableOwner {
    FeatureTable* table = nullptr;
    ~TableOwner() { FeatureTableFree(table); }
};

TEST(FeatureTable, EmptyTableIsNotFilled) {
    TableOwner owner;
    owner.table = FeatureTableAllocEmpty();
    EXPECT_EQ(owner.table->byteSize, 16u);
    EXPECT_FALSE(FeatureTableIsFilled(*owner.table));
    EXPECT_TRUE(FeatureTableCorners(*owner.table).empty());
    EXPECT_TRUE(FeatureTableEdges(*owner.table).empty());
    EXPECT_TRUE(FeatureTableGroups(*owner.table).empty());
}

// The three arrays follow each other without overlap and are zeroed on every resize; a resize
// to the same size keeps the block.
TEST(FeatureTable, ResizeLaysOutCornersEdgesAndGroups) {
    TableOwner owner;
    FeatureTableResize(owner.table, 4, 3, 2);
    FeatureTable& table = *owner.table;
    EXPECT_EQ(table.byteSize, 16u + 4 * 24 + 3 * 48 + 2 * 12);
    EXPECT_EQ(FeatureTableBytes(4, 3, 2), table.byteSize);
    auto corners = FeatureTableCorners(table);
    auto edges = FeatureTableEdges(table);
    auto groups = FeatureTableGroups(table);
    ASSERT_EQ(corners.size(), 4u);
    ASSERT_EQ(edges.size(), 3u);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(static_cast<void*>(corners.data() + 4), static_cast<void*>(edges.data()));
    EXPECT_EQ(static_cast<void*>(edges.data() + 3), static_cast<void*>(groups.data()));
    corners[3] = Vec3{1, 2, 3};
    edges[2] = FeatureEdge{3, 1, FeatureCurve::TwoCurved, 0, {-1, 0, 0.5, 0}};
    groups[1] = FeatureGroup{3, 1, 2};
    EXPECT_TRUE(FeatureTableIsFilled(table));
    EXPECT_EQ(FeatureTableEdges(std::as_const(table))[2].plane[2], 0.5);

    FeatureTable* before = owner.table;
    FeatureTableResize(owner.table, 4, 3, 2);
    EXPECT_EQ(owner.table, before);
    EXPECT_EQ(FeatureTableCorners(*owner.table)[3].z, 0.0);
    FeatureTableResize(owner.table, 0, 0, 0);
    EXPECT_FALSE(FeatureTableIsFilled(*owner.table));
    EXPECT_EQ(owner.table->byteSize, 16u);
}

TEST(FeatureTable, RefusedGrowthKeepsTheOldTable) {
    TableOwner owner;
    FeatureTableResize(owner.table, 1, 1, 1);
    FeatureTableCorners(*owner.table)[0].x = 7;
    FeatureTable* before = owner.table;
    PrivateHeapRefuseNext(1);
    EXPECT_THROW(FeatureTableResize(owner.table, 8, 8, 8), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(owner.table, before);
    EXPECT_EQ(owner.table->cornerCount, 1);
    EXPECT_EQ(FeatureTableCorners(*owner.table)[0].x, 7.0);
}

// Edges in ascending order of their surface form one group per surface.
TEST(FeatureTable, FillGroupsTheEdgesBySurface) {
    TableOwner owner;
    const std::vector<Vec3> corners{{1, 2, 3}, {4, 5, 6}};
    const std::vector<FeatureEdge> edges{{1, 0, FeatureCurve::PlaneCurved},
                                         {3, 0, FeatureCurve::TwoPlanes},
                                         {3, 1, FeatureCurve::TwoPlanes},
                                         {4, 2, FeatureCurve::TwoPlanes}};
    FeatureTableFill(owner.table, corners, edges);
    const FeatureTable& table = *owner.table;
    EXPECT_EQ(table.byteSize, FeatureTableBytes(2, 4, 3));
    EXPECT_EQ(FeatureTableCorners(table)[1].y, 5.0);
    ASSERT_EQ(table.groupCount, 3);
    const auto groups = FeatureTableGroups(table);
    const std::vector<std::array<std::int32_t, 3>> expected{{1, 0, 1}, {3, 1, 2}, {4, 3, 1}};
    for (std::size_t g = 0; g < 3; ++g) {
        EXPECT_EQ(groups[g].surface, expected[g][0]);
        EXPECT_EQ(groups[g].firstEdge, expected[g][1]);
        EXPECT_EQ(groups[g].edgeCount, expected[g][2]);
    }
    EXPECT_EQ(FeatureTableEdges(table)[2].otherSurface, 1);

    // Refilled with nothing, the table is empty again.
    FeatureTableFill(owner.table, {}, {});
    EXPECT_FALSE(FeatureTableIsFilled(*owner.table));
    EXPECT_EQ(owner.table->byteSize, 16u);
}

// Corners move with the placement; the plane of a curve between two curved surfaces is carried
// so that the carried corners still lie on it, with its constant kept at -1.
TEST(FeatureTable, CarryMovesCornersAndCurvePlanes) {
    TableOwner owner;
    // The plane y = 2 (-1 + 0.5 y = 0) and a corner on it.
    const std::vector<Vec3> corners{{3, 2, 1}};
    const std::vector<FeatureEdge> edges{{2, 1, FeatureCurve::TwoCurved, 0, {-1, 0, 0.5, 0}}};
    FeatureTableFill(owner.table, corners, edges);
    // A quarter turn about z, then a move by (10, 0, 0): (x, y, z) -> (10 - y, x, z).
    const Matrix4W worldFromLocal{{1, 0, 0, 0, 10, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1}};
    const Matrix4W localFromWorld{{1, 0, 0, 0, 0, 0, 1, 0, 10, -1, 0, 0, 0, 0, 0, 1}};
    FeatureTableCarry(*owner.table, worldFromLocal, localFromWorld);
    const Vec3 c = FeatureTableCorners(*owner.table)[0];
    EXPECT_EQ(c.x, 8.0);
    EXPECT_EQ(c.y, 3.0);
    EXPECT_EQ(c.z, 1.0);
    // y = 2 becomes x = 8: -1 + x / 8 = 0.
    const auto plane = FeatureTableEdges(*owner.table)[0].plane;
    EXPECT_DOUBLE_EQ(plane[0], -1.0);
    EXPECT_DOUBLE_EQ(plane[1], 0.125);
    EXPECT_DOUBLE_EQ(plane[2], 0.0);
    EXPECT_DOUBLE_EQ(plane[3], 0.0);
    EXPECT_TRUE(FeatureTableIsFinite(*owner.table));
}

}  // namespace
