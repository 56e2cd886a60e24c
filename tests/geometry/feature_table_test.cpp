#include "geometry/feature_table.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

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

}  // namespace
