#include "geometry/scene_geometry.h"

#include "core/check.h"
#include "core/private_heap.h"
#include "geometry/feature_table.h"
#include "geometry/geometry_view_state.h"
#include "geometry/scene_geometry_internal.h"
#include "geometry/shape_surface_count.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

namespace {

// Bytes of an entry block with room for parts headers and surfaces surface forms.
std::size_t EntryBlockBytes(std::int32_t parts, std::int32_t surfaces) {
    return sizeof(PartRenderRecord) * static_cast<std::size_t>(parts) +
           sizeof(Matrix4W) * static_cast<std::size_t>(surfaces);
}

std::size_t SlotTableEntries(std::int32_t parts) {
    return (static_cast<std::size_t>(parts) + 1) * SlotRowEntries;
}

std::size_t RowBlockBytes(std::int32_t parts) {
    return (static_cast<std::size_t>(parts) + 1) * GeometryViewRowBytes;
}

// Light slots whose copies the view keeps.
std::int32_t LightCopies(const GeometryViewState& view) {
    return std::clamp(view.lightSlots, 0, GeometryLightSlotCount);
}

}  // namespace

struct SceneGeometry::ViewCopies {
    PrivateBlockPtr<std::byte> records;
    std::array<PrivateBlockPtr<std::byte>, GeometryLightSlotCount> lightRecords;
    PrivateBlockPtr<PartRenderRecord*> recordTable;
    std::array<PrivateBlockPtr<PartRenderRecord*>, GeometryLightSlotCount> lightRecordTable;
    PrivateBlockPtr<std::uint32_t> recordTable2;
    std::array<PrivateBlockPtr<std::uint32_t>, GeometryLightSlotCount> lightRecordTable2;
    PrivateBlockPtr<std::byte> rowBlock;
};

struct SceneGeometry::Arrays {
    PrivateBlockPtr<std::byte> entryBlock;
    PrivateBlockPtr<PartRenderRecord*> partTable;
    PrivateBlockPtr<std::uint8_t> partFlags;
    PrivateBlockPtr<std::uint16_t> slotTable;
    std::vector<ViewCopies> views;  // one per attached view, in the order of the list
};

SceneGeometry::SceneGeometry()
    : freeSlots(NewArray<std::uint16_t>(SurfaceSlotEntries)),
      slotRefCounts(NewArray<std::uint32_t>(SurfaceSlotEntries)),
      mappingScratch(NewArray<Rtp>(BuilderScratchInitialCount)),
      coordinateScratch(NewArray<SurfaceMappingEntry>(BuilderScratchInitialCount)),
      slotHolders(NewArray<std::uint32_t>(SurfaceSlotEntries)) {}

SceneGeometry::~SceneGeometry() {
    for (GeometryViewState* view : views) {
        view->owner = nullptr;
        view->slotTable = nullptr;
    }
    ReleaseAllParts();
}

// ---- sizing ----

SceneGeometry::ViewCopies SceneGeometry::AllocateViewCopies(const GeometryViewState& view,
                                                            std::int32_t parts,
                                                            std::int32_t surfaces) const {
    const std::size_t entryBytes = EntryBlockBytes(parts, surfaces);
    ViewCopies copies;
    copies.records = NewArray<std::byte>(entryBytes);
    copies.recordTable = NewArray<PartRenderRecord*>(static_cast<std::size_t>(parts));
    copies.recordTable2 = NewArray<std::uint32_t>(static_cast<std::size_t>(parts));
    for (std::int32_t slot = 0; slot < LightCopies(view); ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        copies.lightRecords[s] = NewArray<std::byte>(entryBytes);
        copies.lightRecordTable[s] = NewArray<PartRenderRecord*>(static_cast<std::size_t>(parts));
        copies.lightRecordTable2[s] = NewArray<std::uint32_t>(static_cast<std::size_t>(parts));
    }
    copies.rowBlock = NewArray<std::byte>(RowBlockBytes(parts));
    return copies;
}

SceneGeometry::Arrays SceneGeometry::AllocateArrays(std::int32_t parts,
                                                    std::int32_t surfaces) const {
    Arrays next;
    next.entryBlock = NewArray<std::byte>(EntryBlockBytes(parts, surfaces));
    next.partTable = NewArray<PartRenderRecord*>(static_cast<std::size_t>(parts));
    next.partFlags = NewArray<std::uint8_t>(static_cast<std::size_t>(parts));
    next.slotTable = NewArray<std::uint16_t>(SlotTableEntries(parts));
    TranslateBadAlloc([&] { next.views.reserve(views.size()); });
    for (const GeometryViewState* view : views) {
        next.views.push_back(AllocateViewCopies(*view, parts, surfaces));
    }
    return next;
}

void SceneGeometry::CommitArrays(Arrays& next, std::int32_t parts, std::int32_t surfaces) {
    ORBELLE_CHECK(partCount == 0);
    entryBlock = std::move(next.entryBlock);
    partTable = std::move(next.partTable);
    partFlags = std::move(next.partFlags);
    slotTable = std::move(next.slotTable);
    partCapacity = parts;
    surfaceCapacity = surfaces;
    for (std::size_t k = 0; k < views.size(); ++k) {
        InstallViewCopies(*views[k], next.views[k]);
        views[k]->slotTable = slotTable.get();
        FillViewTables(*views[k], 0);
    }
}

// Growing reallocates block by block, so a large block can grow where it lies; every pointer
// into a block that moved is set again before the next request, so a refusal part way leaves
// larger blocks behind the old capacities, and nothing dangling.
void SceneGeometry::GrowArrays(std::int32_t parts, std::int32_t surfaces) {
    const std::size_t oldEntryBytes = EntryBlockBytes(partCapacity, surfaceCapacity);
    const std::size_t newEntryBytes = EntryBlockBytes(parts, surfaces);
    const auto oldParts = static_cast<std::size_t>(partCapacity);
    const auto newParts = static_cast<std::size_t>(parts);
    GrowArray(entryBlock, oldEntryBytes, newEntryBytes);
    RelinkPartTable();
    GrowArray(partTable, oldParts, newParts);
    GrowArray(partFlags, oldParts, newParts);
    std::fill_n(partFlags.get(), newParts, std::uint8_t{0});
    GrowArray(slotTable, SlotTableEntries(partCapacity), SlotTableEntries(parts));
    for (GeometryViewState* view : views) view->slotTable = slotTable.get();
    for (GeometryViewState* view : views) {
        // Copies of light slots that the view no longer uses are not kept in step.
        for (std::size_t s = static_cast<std::size_t>(LightCopies(*view));
             s < GeometryLightSlotCount; ++s) {
            view->lightRecords[s].reset();
            view->lightRecordTable[s].reset();
            view->lightRecordTable2[s].reset();
        }
        const auto sizeOr0 = [](const auto& block, std::size_t size) {
            return block != nullptr ? size : 0;
        };
        GrowArray(view->records, sizeOr0(view->records, oldEntryBytes), newEntryBytes);
        RelinkCopy(view->recordTable.get(), view->records.get(), 0);
        GrowArray(view->recordTable, sizeOr0(view->recordTable, oldParts), newParts);
        GrowArray(view->recordTable2, sizeOr0(view->recordTable2, oldParts), newParts);
        for (std::size_t s = 0; s < static_cast<std::size_t>(LightCopies(*view)); ++s) {
            GrowArray(view->lightRecords[s], sizeOr0(view->lightRecords[s], oldEntryBytes),
                      newEntryBytes);
            RelinkCopy(view->lightRecordTable[s].get(), view->lightRecords[s].get(), 0);
            GrowArray(view->lightRecordTable[s], sizeOr0(view->lightRecordTable[s], oldParts),
                      newParts);
            RelinkCopy(view->lightRecordTable[s].get(), view->lightRecords[s].get(), 0);
            GrowArray(view->lightRecordTable2[s], sizeOr0(view->lightRecordTable2[s], oldParts),
                      newParts);
        }
        GrowArray(view->rowBlock, sizeOr0(view->rowBlock, RowBlockBytes(partCapacity)),
                  RowBlockBytes(parts));
    }
    partCapacity = parts;
    surfaceCapacity = surfaces;
}

void SceneGeometry::RelinkPartTable() {
    std::size_t offset = 0;
    for (std::int32_t i = 0; i < partCount; ++i) {
        auto* record = reinterpret_cast<PartRenderRecord*>(entryBlock.get() + offset);
        partTable.get()[i] = record;
        offset += PartRenderRecordBytes(record->surfaceRoom);
    }
}

void SceneGeometry::RelinkCopy(PartRenderRecord** table, std::byte* copy,
                               std::int32_t first) const {
    if (table == nullptr || copy == nullptr) return;
    for (std::int32_t i = first; i < partCount; ++i) {
        const auto offset = reinterpret_cast<std::byte*>(partTable.get()[i]) - entryBlock.get();
        table[i] = reinterpret_cast<PartRenderRecord*>(copy + offset);
    }
}

void SceneGeometry::InstallViewCopies(GeometryViewState& view, ViewCopies& copies) {
    view.records = std::move(copies.records);
    view.recordTable = std::move(copies.recordTable);
    view.recordTable2 = std::move(copies.recordTable2);
    for (std::size_t s = 0; s < GeometryLightSlotCount; ++s) {
        view.lightRecords[s] = std::move(copies.lightRecords[s]);
        view.lightRecordTable[s] = std::move(copies.lightRecordTable[s]);
        view.lightRecordTable2[s] = std::move(copies.lightRecordTable2[s]);
    }
    view.rowBlock = std::move(copies.rowBlock);
}

void SceneGeometry::FillViewTables(GeometryViewState& view, std::int32_t first) const {
    view.partCount = partCount;
    RelinkCopy(view.recordTable.get(), view.records.get(), first);
    for (std::size_t s = 0; s < GeometryLightSlotCount; ++s) {
        RelinkCopy(view.lightRecordTable[s].get(), view.lightRecords[s].get(), first);
    }
}

bool SceneGeometry::ResizePartArrays(std::int32_t parts, std::int32_t surfaces, bool grow) {
    ORBELLE_CHECK(parts >= 0 && surfaces >= 0);
    if (!grow) {
        Arrays next = AllocateArrays(parts, surfaces);
        ReleaseAllParts();
        CommitArrays(next, parts, surfaces);
        return false;
    }
    const std::int64_t newParts =
        parts > partCapacity ? std::int64_t{parts} + PartCapacityStep : partCapacity;
    const std::int64_t newSurfaces =
        surfaces > surfaceCapacity ? std::int64_t{surfaces} + SurfaceCapacityStep : surfaceCapacity;
    if (newParts == partCapacity && newSurfaces == surfaceCapacity) return false;
    if (newParts > INT32_MAX || newSurfaces > INT32_MAX) ThrowOutOfMemory();
    GrowArrays(static_cast<std::int32_t>(newParts), static_cast<std::int32_t>(newSurfaces));
    return true;
}

// ---- parts ----

void SceneGeometry::AddParts(std::span<const std::int32_t> surfaceRooms, bool append) {
    std::int64_t roomTotal = 0;
    for (std::int32_t room : surfaceRooms) {
        ORBELLE_CHECK(room >= 0 && room <= PartSurfaceLimit);
        roomTotal += room;
    }
    const std::int64_t parts =
        (append ? std::int64_t{partCount} : 0) + static_cast<std::int64_t>(surfaceRooms.size());
    const std::int64_t surfaces = (append ? std::int64_t{surfaceTotal} : 0) + roomTotal;
    if (parts > INT32_MAX - PartCapacityStep || surfaces > INT32_MAX - SurfaceCapacityStep) {
        ThrowOutOfMemory();
    }

    // Everything that can fail comes first: the new parts' feature tables, then the arrays.
    std::vector<PrivateBlockPtr<FeatureTable>> features = TranslateBadAlloc(
        [&] { return std::vector<PrivateBlockPtr<FeatureTable>>(surfaceRooms.size()); });
    for (auto& table : features) table.reset(FeatureTableAllocEmpty());
    ResizePartArrays(static_cast<std::int32_t>(parts), static_cast<std::int32_t>(surfaces), append);

    const std::int32_t first = partCount;
    for (std::size_t k = 0; k < surfaceRooms.size(); ++k) {
        const std::int32_t index = first + static_cast<std::int32_t>(k);
        const std::size_t bytes = PartRenderRecordBytes(surfaceRooms[k]);
        std::byte* at = entryBlock.get() + recordBytes;
        std::memset(static_cast<void*>(at), 0, bytes);
        auto* record = new (at) PartRenderRecord{};
        record->surfaceRoom = surfaceRooms[k];
        record->texParams = &defaultTexture;
        record->features = features[k].release();
        partTable.get()[index] = record;
        partFlags.get()[index] = 0;
        std::ranges::fill(SlotRow(index), std::uint16_t{0});
        recordBytes += bytes;
    }
    partCount = static_cast<std::int32_t>(parts);
    surfaceTotal = static_cast<std::int32_t>(surfaces);
    for (GeometryViewState* view : views) FillViewTables(*view, first);
}

void SceneGeometry::ReleaseAllParts() {
    for (std::int32_t i = 0; i < partCount; ++i) PartRenderRecordReleaseOwned(*partTable.get()[i]);
    partCount = 0;
    surfaceTotal = 0;
    recordBytes = 0;
    // With no parts no surface holds a slot, and the indexes hold nothing.
    std::fill_n(slotRefCounts.get(), nextSlot, 0u);
    std::fill_n(slotHolders.get(), nextSlot, 0u);
    nextSlot = 0;
    freeSlotCount = 0;
    octree.Clear();
    surfaceTable.Reset();
    for (GeometryViewState* view : views) view->partCount = 0;
}

// Clears the slot table entry at position and takes it off its slot. Returns the slot when
// that leaves it a single holder, else 0.
std::uint16_t SceneGeometry::ReleaseSlotEntry(std::size_t position) {
    std::uint16_t& entry = slotTable.get()[position];
    const std::uint16_t slot = entry & SurfaceSlotMask;
    entry = 0;
    if (slot == 0 || slot >= nextSlot || slotRefCounts.get()[slot] == 0) return 0;
    slotHolders.get()[slot] ^= static_cast<std::uint32_t>(position);
    const std::uint32_t count = --slotRefCounts.get()[slot];
    if (count == 0) {
        ORBELLE_CHECK(freeSlotCount < static_cast<std::int32_t>(SurfaceSlotEntries));
        freeSlots.get()[freeSlotCount++] = slot;
    }
    return count == 1 ? slot : 0;
}

void SceneGeometry::RemoveLastPart() {
    if (partCount == 0) return;
    const std::int32_t last = partCount - 1;
    PartRenderRecord& record = *partTable.get()[last];
    PartRenderRecordReleaseOwned(record);

    ReleaseSurfaceSlots(std::span<const std::int32_t>(&last, 1));
    surfaceTable.ForgetPart(last, record.surfaceRoom);
    octree.Remove(last, record);

    const std::int32_t room = record.surfaceRoom;
    const std::size_t bytes = PartRenderRecordBytes(room);
    std::memset(static_cast<void*>(&record), 0, bytes);
    partTable.get()[last] = nullptr;
    recordBytes -= bytes;
    surfaceTotal -= room;
    partCount = last;
    for (GeometryViewState* view : views) view->partCount = partCount;
}

void SceneGeometry::ReleaseSurfaceSlots(std::span<const std::int32_t> parts) {
    // Slots that fell to a single holder, one bit each.
    std::array<std::uint64_t, (SurfaceSlotMask + 1) / 64> single{};
    for (std::int32_t index : parts) {
        const std::size_t row = SlotRow(index).data() - slotTable.get();
        for (std::size_t s = 0; s < SlotRowEntries; ++s) {
            const std::uint16_t slot = ReleaseSlotEntry(row + s);
            if (slot != 0) single[slot / 64] |= std::uint64_t{1} << (slot % 64);
        }
    }
    // A slot is kept only while two or more surfaces share it: the last holder of each slot
    // left with one gives it back, in slot order. Between updates no slot has a single
    // holder, so these are all such slots.
    for (std::size_t word = 0; word < single.size(); ++word) {
        for (std::uint64_t bits = single[word]; bits != 0; bits &= bits - 1) {
            const auto slot = static_cast<std::uint16_t>(word * 64 + std::countr_zero(bits));
            if (slotRefCounts.get()[slot] != 1) continue;
            const std::uint32_t holder = slotHolders.get()[slot];
            ORBELLE_DCHECK((slotTable.get()[holder] & SurfaceSlotMask) == slot);
            ReleaseSlotEntry(holder);
        }
    }
}

void SceneGeometry::ClearSurfaceSlots() {
    std::fill_n(slotRefCounts.get(), nextSlot, 0u);
    std::fill_n(slotHolders.get(), nextSlot, 0u);
    nextSlot = 1;
    freeSlotCount = 0;
    for (std::int32_t i = 0; i < partCount; ++i) std::ranges::fill(SlotRow(i), std::uint16_t{0});
}

std::uint16_t SceneGeometry::OpenSurfaceSlot(std::int32_t partB, std::int32_t surfaceB,
                                             std::int32_t partA, std::int32_t surfaceA,
                                             bool reversedA) {
    std::uint16_t& entryB = SlotRow(partB)[static_cast<std::size_t>(surfaceB)];
    std::uint16_t& entryA = SlotRow(partA)[static_cast<std::size_t>(surfaceA)];
    ORBELLE_DCHECK(entryA == 0 && entryB == 0 && &entryA != &entryB);
    if (nextSlot == 0) nextSlot = 1;
    std::uint16_t slot = 0;
    if (freeSlotCount > 0) {
        slot = freeSlots.get()[--freeSlotCount];
    } else if (nextSlot <= SurfaceSlotMask) {
        slot = nextSlot++;
    } else {
        return 0;
    }
    entryB = slot;
    entryA = static_cast<std::uint16_t>(slot | (reversedA ? SurfaceSlotReversed : 0));
    slotRefCounts.get()[slot] = 2;
    slotHolders.get()[slot] =
        static_cast<std::uint32_t>((&entryA - slotTable.get()) ^ (&entryB - slotTable.get()));
    return slot;
}

void SceneGeometry::JoinSurfaceSlot(std::int32_t part, std::int32_t surface, std::uint16_t slot,
                                    bool reversed) {
    std::uint16_t& entry = SlotRow(part)[static_cast<std::size_t>(surface)];
    ORBELLE_CHECK(slot != 0 && slot < nextSlot && slotRefCounts.get()[slot] >= 2);
    ORBELLE_DCHECK(entry == 0);
    entry = static_cast<std::uint16_t>(slot | (reversed ? SurfaceSlotReversed : 0));
    ++slotRefCounts.get()[slot];
    slotHolders.get()[slot] ^= static_cast<std::uint32_t>(&entry - slotTable.get());
}

// ---- octree ----

void SceneGeometry::BuildOctree(std::span<const std::int32_t> changed, std::int32_t appended) {
    ORBELLE_CHECK(appended >= 0 && appended <= partCount);
    if (changed.empty() && appended == 0) {
        // The records still name the cells of the emptied tree; forgetting them makes every
        // part enter again, also where its cells have not changed.
        octree.Clear();
        for (std::int32_t i = 0; i < partCount; ++i) partTable.get()[i]->octreeLevel = NotInOctree;
        for (std::int32_t i = 0; i < partCount; ++i) octree.Enter(i, *partTable.get()[i]);
        return;
    }
    for (std::int32_t index : changed) {
        ORBELLE_CHECK(index >= 0 && index < partCount);
        octree.Enter(index, *partTable.get()[index]);
    }
    for (std::int32_t i = partCount - appended; i < partCount; ++i) {
        octree.Enter(i, *partTable.get()[i]);
    }
}

std::span<const std::int32_t> SceneGeometry::QueryOctree(const GridBox& box) {
    return octree.Query(box, partTable.get(), partFlags.get());
}

PartRenderRecord* SceneGeometry::Part(std::int32_t index) {
    if (index < 0 || index >= partCount) return nullptr;
    return partTable.get()[index];
}

const PartRenderRecord* SceneGeometry::Part(std::int32_t index) const {
    if (index < 0 || index >= partCount) return nullptr;
    return partTable.get()[index];
}

std::span<std::uint16_t> SceneGeometry::SlotRow(std::int32_t index) {
    ORBELLE_CHECK(index >= 0 && index < partCapacity);
    return {slotTable.get() + (static_cast<std::size_t>(index) + 1) * SlotRowEntries,
            static_cast<std::size_t>(SlotRowEntries)};
}

std::span<std::uint8_t> SceneGeometry::PartFlags() {
    return {partFlags.get(), static_cast<std::size_t>(partCapacity)};
}

void SceneGeometry::GrowCoordinateScratch(std::int32_t count) {
    if (count <= coordinateScratchCount) return;
    coordinateScratch = NewArray<SurfaceMappingEntry>(static_cast<std::size_t>(count));
    coordinateScratchCount = count;
}

// ---- views ----

void SceneGeometry::AttachViewState(GeometryViewState& view) {
    ViewCopies copies = AllocateViewCopies(view, partCapacity, surfaceCapacity);
    TranslateBadAlloc([&] { views.reserve(views.size() + 1); });
    if (view.owner != nullptr) view.owner->DetachViewState(view);
    InstallViewCopies(view, copies);
    views.insert(views.begin(), &view);
    view.owner = this;
    view.slotTable = slotTable.get();
    FillViewTables(view, 0);
}

void SceneGeometry::DetachViewState(GeometryViewState& view) {
    std::erase(views, &view);
    view.owner = nullptr;
    view.slotTable = nullptr;
}
