#include "geometry/scene_geometry.h"

#include "core/private_heap.h"
#include "geometry/feature_table.h"
#include "geometry/geometry_view_state.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

const std::byte* Address(const void* p) { return static_cast<const std::byte*>(p); }

// Every part's record in each of the view's copies lies where the container's lies in its
// entry block.
void ExpectViewMirrors(const SceneGeometry& geometry, const GeometryViewState& view) {
    EXPECT_EQ(view.owner, &geometry);
    EXPECT_EQ(view.partCount, geometry.PartCount());
    EXPECT_EQ(view.slotTable, geometry.SlotTable());
    const std::byte* entry = Address(geometry.Part(0));
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        SCOPED_TRACE(i);
        const auto offset = Address(geometry.Part(i)) - entry;
        EXPECT_EQ(Address(view.recordTable.get()[i]) - view.records.get(), offset);
        for (std::int32_t s = 0; s < view.lightSlots; ++s) {
            const auto slot = static_cast<std::size_t>(s);
            EXPECT_EQ(Address(view.lightRecordTable[slot].get()[i]) - view.lightRecords[slot].get(),
                      offset);
        }
    }
}

TEST(SceneGeometry, StartsEmpty) {
    SceneGeometry geometry;
    EXPECT_EQ(geometry.PartCount(), 0);
    EXPECT_EQ(geometry.PartCapacity(), 0);
    EXPECT_EQ(geometry.SurfaceCapacity(), 0);
    EXPECT_EQ(geometry.SurfaceTotal(), 0);
    EXPECT_EQ(geometry.idBase, 0);
    EXPECT_EQ(geometry.octreeLevelFloor, 5);
    EXPECT_EQ(geometry.nextSlot, 0);
    EXPECT_EQ(geometry.Part(0), nullptr);
    EXPECT_TRUE(geometry.Views().empty());
}

TEST(SceneGeometry, SizingForNothingKeepsTheUnusedSlotRow) {
    SceneGeometry geometry;
    EXPECT_FALSE(geometry.ResizePartArrays(0, 0, false));
    EXPECT_EQ(geometry.PartCapacity(), 0);
    EXPECT_EQ(geometry.SurfaceCapacity(), 0);
    ASSERT_NE(geometry.SlotTable(), nullptr);
    EXPECT_EQ(geometry.SlotTable()[0], 0);
}

TEST(SceneGeometry, GrowthStepsAndExactSizing) {
    SceneGeometry geometry;
    EXPECT_TRUE(geometry.ResizePartArrays(3, 7, true));
    EXPECT_EQ(geometry.PartCapacity(), 103);
    EXPECT_EQ(geometry.SurfaceCapacity(), 407);
    EXPECT_FALSE(geometry.ResizePartArrays(103, 407, true));
    EXPECT_TRUE(geometry.ResizePartArrays(50, 408, true));
    EXPECT_EQ(geometry.PartCapacity(), 103);
    EXPECT_EQ(geometry.SurfaceCapacity(), 808);
    EXPECT_FALSE(geometry.ResizePartArrays(2, 5, false));
    EXPECT_EQ(geometry.PartCapacity(), 2);
    EXPECT_EQ(geometry.SurfaceCapacity(), 5);
}

// Records lie back to back, each with room for its surfaces, and keep what they hold when the
// arrays grow under them; exact sizing drops them.
TEST(SceneGeometry, RecordsLieBackToBackAndSurviveGrowth) {
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{1, 6, 3}, false);
    ASSERT_EQ(geometry.PartCount(), 3);
    EXPECT_EQ(geometry.PartCapacity(), 3);
    EXPECT_EQ(geometry.SurfaceCapacity(), 10);
    for (std::int32_t i = 0; i < 2; ++i) {
        const PartRenderRecord& record = *geometry.Part(i);
        EXPECT_EQ(Address(geometry.Part(i + 1)),
                  Address(&record) + PartRenderRecordBytes(record.surfaceRoom));
    }
    const PartRenderRecord& fresh = *geometry.Part(1);
    EXPECT_EQ(fresh.surfaceRoom, 6);
    EXPECT_EQ(fresh.surfaceCount, 0);
    EXPECT_EQ(fresh.shapeType, ShapeType{0});
    EXPECT_EQ(fresh.texParams, &geometry.defaultTexture);
    EXPECT_EQ(fresh.octreeLevel, NotInOctree);
    EXPECT_EQ(fresh.localFromWorld.m[0], 1.0);
    EXPECT_EQ(fresh.localFromWorld.m[15], 1.0);
    ASSERT_NE(fresh.features, nullptr);
    EXPECT_EQ(fresh.features->byteSize, sizeof(FeatureTable));
    EXPECT_FALSE(FeatureTableIsFilled(*fresh.features));

    for (std::int32_t i = 0; i < 3; ++i) {
        PartRenderRecord& record = *geometry.Part(i);
        record.colour = 0x100u + static_cast<std::uint32_t>(i);
        record.Surfaces().back().m[7] = i + 0.5;
        geometry.SlotRow(i)[0] = static_cast<std::uint16_t>(i + 1);
    }
    geometry.AddParts(std::vector<std::int32_t>{2}, true);
    EXPECT_EQ(geometry.PartCapacity(), 104);
    EXPECT_EQ(geometry.SurfaceCapacity(), 412);
    for (std::int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const PartRenderRecord& record = *geometry.Part(i);
        EXPECT_EQ(record.colour, 0x100u + static_cast<std::uint32_t>(i));
        EXPECT_EQ(record.Surfaces().back().m[7], i + 0.5);
        EXPECT_EQ(geometry.SlotRow(i)[0], i + 1);
    }
    EXPECT_EQ(geometry.SlotRow(3)[0], 0);
    EXPECT_EQ(geometry.SurfaceTotal(), 12);

    geometry.AddParts(std::vector<std::int32_t>{4}, false);
    EXPECT_EQ(geometry.PartCount(), 1);
    EXPECT_EQ(geometry.PartCapacity(), 1);
    EXPECT_EQ(geometry.SurfaceCapacity(), 4);
    EXPECT_EQ(geometry.Part(0)->colour, 0u);
}

TEST(SceneGeometry, AttachedViewsFollowTheContainer) {
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{1, 3}, false);
    GeometryViewState frameOnly;
    GeometryViewState withLights;
    withLights.lightSlots = 3;
    geometry.AttachViewState(frameOnly);
    geometry.AttachViewState(withLights);
    ASSERT_EQ(geometry.Views().size(), 2u);
    EXPECT_EQ(geometry.Views()[0], &withLights);
    for (std::size_t s = 0; s < GeometryLightSlotCount; ++s) {
        EXPECT_EQ(withLights.lightRecords[s] != nullptr, s < 3) << s;
        EXPECT_EQ(frameOnly.lightRecords[s], nullptr) << s;
    }
    ASSERT_NE(withLights.rowBlock, nullptr);
    ExpectViewMirrors(geometry, frameOnly);
    ExpectViewMirrors(geometry, withLights);

    // Growing moves every copy; the tables follow, and the view's own records are kept.
    withLights.recordTable.get()[1]->colour = 0xC0FFEE;
    geometry.AddParts(std::vector<std::int32_t>{32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32},
                      true);
    ExpectViewMirrors(geometry, frameOnly);
    ExpectViewMirrors(geometry, withLights);
    EXPECT_EQ(withLights.recordTable.get()[1]->colour, 0xC0FFEEu);

    geometry.RemoveLastPart();
    EXPECT_EQ(withLights.partCount, 14);

    // Attaching again moves the view to the front without a second entry.
    geometry.AttachViewState(frameOnly);
    ASSERT_EQ(geometry.Views().size(), 2u);
    EXPECT_EQ(geometry.Views()[0], &frameOnly);
    ExpectViewMirrors(geometry, frameOnly);

    // A view attached elsewhere leaves this container.
    SceneGeometry other;
    other.AttachViewState(withLights);
    EXPECT_EQ(geometry.Views().size(), 1u);
    EXPECT_EQ(withLights.owner, &other);
    EXPECT_EQ(withLights.partCount, 0);

    geometry.DetachViewState(frameOnly);
    EXPECT_TRUE(geometry.Views().empty());
    EXPECT_EQ(frameOnly.owner, nullptr);
    EXPECT_EQ(frameOnly.slotTable, nullptr);
}

TEST(SceneGeometry, ViewsAndContainersEndInEitherOrder) {
    auto view = std::make_unique<GeometryViewState>();
    {
        SceneGeometry geometry;
        geometry.AttachViewState(*view);
        auto early = std::make_unique<GeometryViewState>();
        geometry.AttachViewState(*early);
        early.reset();
        EXPECT_EQ(geometry.Views().size(), 1u);
    }
    EXPECT_EQ(view->owner, nullptr);
    EXPECT_EQ(view->slotTable, nullptr);
}

// Removing the last part gives back its slots and every slot that one surface still holds.
TEST(SceneGeometry, RemoveLastPartGivesBackItsSlots) {
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{2, 2, 3}, false);
    // Slot 1: part 0 surface 0 and part 2 surface 0. Slot 2: parts 0, 1 and 2. Slot 3: part 1
    // and part 2, marked as reversed.
    EXPECT_EQ(geometry.OpenSurfaceSlot(0, 0, 2, 0, false), 1);
    EXPECT_EQ(geometry.OpenSurfaceSlot(0, 1, 1, 0, false), 2);
    geometry.JoinSurfaceSlot(2, 1, 2, false);
    EXPECT_EQ(geometry.OpenSurfaceSlot(1, 1, 2, 2, true), 3);
    EXPECT_EQ(geometry.SlotRow(2)[2], 3 | SurfaceSlotReversed);
    EXPECT_EQ(geometry.slotRefCounts.get()[2], 3u);
    EXPECT_EQ(geometry.nextSlot, 4);

    geometry.RemoveLastPart();
    EXPECT_EQ(geometry.PartCount(), 2);
    EXPECT_EQ(geometry.SurfaceTotal(), 4);
    EXPECT_EQ(geometry.SlotRow(0)[0], 0);  // slot 1 had one holder left
    EXPECT_EQ(geometry.SlotRow(1)[1], 0);  // slot 3 likewise
    EXPECT_EQ(geometry.SlotRow(0)[1], 2);  // slot 2 is still shared
    EXPECT_EQ(geometry.SlotRow(1)[0], 2);
    EXPECT_EQ(geometry.slotRefCounts.get()[1], 0u);
    EXPECT_EQ(geometry.slotRefCounts.get()[2], 2u);
    EXPECT_EQ(geometry.slotRefCounts.get()[3], 0u);
    ASSERT_EQ(geometry.freeSlotCount, 2);
    EXPECT_EQ(geometry.freeSlots.get()[0], 1);
    EXPECT_EQ(geometry.freeSlots.get()[1], 3);

    geometry.RemoveLastPart();
    geometry.RemoveLastPart();
    EXPECT_EQ(geometry.PartCount(), 0);
    EXPECT_EQ(geometry.SurfaceTotal(), 0);
    EXPECT_EQ(geometry.freeSlotCount, 3);
    geometry.RemoveLastPart();
    EXPECT_EQ(geometry.PartCount(), 0);
    EXPECT_EQ(geometry.PartCapacity(), 3);

    // The room is reused by the next part.
    geometry.AddParts(std::vector<std::int32_t>{2}, true);
    EXPECT_EQ(geometry.PartCapacity(), 3);
    EXPECT_EQ(geometry.Part(0)->colour, 0u);
}

// When all 32,767 slots are live no slot is opened (the next number would carry the reversed
// mark), and a slot given back opens again.
TEST(SceneGeometry, SlotsRunOutWithoutReachingTheMark) {
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>(2048, 32), false);
    for (std::int32_t k = 0; k < SurfaceSlotMask; ++k) {
        const std::int32_t part = 2 * (k / 32);
        ASSERT_EQ(geometry.OpenSurfaceSlot(part, k % 32, part + 1, k % 32, false), k + 1);
    }
    EXPECT_EQ(geometry.OpenSurfaceSlot(2046, 31, 2047, 31, true), 0);
    EXPECT_EQ(geometry.SlotRow(2046)[31], 0);
    EXPECT_EQ(geometry.SlotRow(2047)[31], 0);
    EXPECT_EQ(geometry.nextSlot, 0x8000);

    const std::vector<std::int32_t> first{0};
    geometry.ReleaseSurfaceSlots(first);
    EXPECT_EQ(geometry.freeSlotCount, 32);
    EXPECT_EQ(geometry.OpenSurfaceSlot(2046, 31, 2047, 31, true), 32);
    EXPECT_EQ(geometry.SlotRow(2047)[31], 32 | SurfaceSlotReversed);
}

// An exhausted heap part way through a growth leaves the parts, their capacity and the views
// in step (blocks already grown stay grown), takes no block it does not keep, and the same
// growth succeeds later.
TEST(SceneGeometry, RefusedGrowthKeepsThePartsAndViews) {
    bool grown = false;
    for (std::size_t room = 0; !grown; room += 16384) {
        SCOPED_TRACE(room);
        SceneGeometry geometry;
        geometry.AddParts(std::vector<std::int32_t>{3, 3}, false);
        geometry.Part(1)->colour = 0x55;
        geometry.SlotRow(1)[2] = 9;
        GeometryViewState view;
        view.lightSlots = 2;
        geometry.AttachViewState(view);
        const std::size_t blocks = PrivateHeapBlockCount();
        PrivateHeapSetCeiling(PrivateHeapBytesInUse() + room);
        try {
            geometry.AddParts(std::vector<std::int32_t>{3}, true);
            grown = true;
        } catch (const KVOutOfMemoryException&) {
            PrivateHeapSetCeiling(0);
            EXPECT_EQ(geometry.PartCount(), 2);
            EXPECT_EQ(geometry.PartCapacity(), 2);
            EXPECT_EQ(geometry.SurfaceTotal(), 6);
            EXPECT_EQ(PrivateHeapBlockCount(), blocks);
            ExpectViewMirrors(geometry, view);
            geometry.AddParts(std::vector<std::int32_t>{3}, true);
        }
        PrivateHeapSetCeiling(0);
        EXPECT_EQ(geometry.PartCount(), 3);
        EXPECT_EQ(geometry.PartCapacity(), 103);
        EXPECT_EQ(geometry.Part(1)->colour, 0x55u);
        EXPECT_EQ(geometry.SlotRow(1)[2], 9);
        ExpectViewMirrors(geometry, view);
        ASSERT_LT(room, 1u << 22);
    }
}

// Sizing exactly allocates every new block before it frees an old one: a refusal leaves the
// container as it was, to the byte.
TEST(SceneGeometry, RefusedExactSizingChangesNothing) {
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{3, 3}, false);
    GeometryViewState view;
    view.lightSlots = 1;
    geometry.AttachViewState(view);
    const PartRenderRecord* first = geometry.Part(0);
    const std::size_t bytes = PrivateHeapBytesInUse();
    const std::size_t blocks = PrivateHeapBlockCount();
    PrivateHeapSetCeiling(bytes + 4096);
    EXPECT_THROW(geometry.AddParts(std::vector<std::int32_t>{32, 32, 32, 32}, false),
                 KVOutOfMemoryException);
    PrivateHeapSetCeiling(0);
    EXPECT_EQ(geometry.PartCount(), 2);
    EXPECT_EQ(geometry.Part(0), first);
    EXPECT_EQ(PrivateHeapBytesInUse(), bytes);
    EXPECT_EQ(PrivateHeapBlockCount(), blocks);
    ExpectViewMirrors(geometry, view);
}

}  // namespace
