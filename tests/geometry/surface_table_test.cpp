#include "geometry/surface_table.h"

#include "geometry/scene_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Three parts whose first surfaces share slot 1 and whose second surfaces of parts 0 and 1
// share slot 2.
void ShareSlots(SceneGeometry& geometry) {
    geometry.AddParts(std::vector<std::int32_t>{2, 2, 2}, false);
    ASSERT_EQ(geometry.OpenSurfaceSlot(0, 0, 1, 0, false), 1);
    geometry.JoinSurfaceSlot(2, 0, 1, false);
    ASSERT_EQ(geometry.OpenSurfaceSlot(0, 1, 1, 1, true), 2);
    ASSERT_EQ(geometry.nextSlot, 3);
}

TEST(SurfaceTable, FullUpdateHandsOutEverySlotAnew) {
    SceneGeometry geometry;
    ShareSlots(geometry);
    geometry.freeSlotCount = 4;
    const std::int32_t generation = geometry.surfaceGeneration;
    UpdateSurfaceTable(geometry, false, {}, 0);
    EXPECT_EQ(geometry.surfaceGeneration, generation + 1);
    EXPECT_EQ(geometry.nextSlot, 1);
    EXPECT_EQ(geometry.freeSlotCount, 0);
    for (std::int32_t i = 0; i < 3; ++i) {
        for (std::uint16_t entry : geometry.SlotRow(i)) EXPECT_EQ(entry, 0);
    }
}

// Changed parts give their slots back; a slot left with one holder is given back too.
TEST(SurfaceTable, ChangedPartsGiveBackTheirSlots) {
    SceneGeometry geometry;
    ShareSlots(geometry);
    const std::vector<std::int32_t> changed{1};
    UpdateSurfaceTable(geometry, false, changed, 0);
    EXPECT_EQ(geometry.SlotRow(1)[0], 0);
    EXPECT_EQ(geometry.SlotRow(1)[1], 0);
    EXPECT_EQ(geometry.SlotRow(0)[0], 1);  // still shared with part 2
    EXPECT_EQ(geometry.slotRefCounts.get()[1], 2u);
    EXPECT_EQ(geometry.SlotRow(0)[1], 0);  // slot 2 had part 0 alone left
    EXPECT_EQ(geometry.slotRefCounts.get()[2], 0u);
    ASSERT_EQ(geometry.freeSlotCount, 1);
    EXPECT_EQ(geometry.freeSlots.get()[0], 2);

    // Appended parts start without slots; the others keep theirs.
    geometry.AddParts(std::vector<std::int32_t>{2}, true);
    geometry.SlotRow(3)[0] = 7;
    UpdateSurfaceTable(geometry, false, {}, 1);
    EXPECT_EQ(geometry.SlotRow(3)[0], 0);
    EXPECT_EQ(geometry.SlotRow(2)[0], 1);
}

}  // namespace
