#pragma once

// SceneGeometry holds the live geometry of every part of one scene. Each document owns one
// and the preset shape library another; the part block loader fills it, the shape builders
// write its records, and every renderer attaches to it.
//
// Storage. One entry block holds every part's render record back to back, each a header with
// room for the surfaces reserved for its shape type, in part order; the part table gives each
// part's record. The arrays are sized in one place, ResizePartArrays, with room for
// partCapacity headers and surfaceCapacity surfaces:
//   - a full load sizes them exactly for the block's parts;
//   - an append grows them in fixed steps, the parts by 100 beyond what is needed and the
//     surfaces by 400, and keeps what they held. A part appended while the room lasts costs
//     no reallocation; one past it reallocates every block once (in place where the heap
//     can).
// Every size is computed in size_t and checked. Exact sizing allocates every new block before
// it frees an old one, so KVOutOfMemoryException leaves the container as it was; growing
// reallocates block by block and sets every pointer into a moved block at once, so a refusal
// part way leaves the parts, capacities and views as they were, some blocks larger.
//
// Attached views (GeometryViewState) keep copies of the entry block, one for the frame and
// one per light slot in use, with tables at the same offsets; the container resizes them with
// its own and keeps their tables and part counts in step.
//
// Surface slots. Every surface of every part has an entry in the slot table (part i in row
// i + 1, 32 entries a row; bits 0-14 the slot, 0 = none, bit 15 a mark), shared with every
// view; slots carry reference counts and free slots are stacked for reuse. A slot is kept
// only while two or more surfaces hold it, so when a release leaves one holder, that holder
// gives it back too; to find it without looking through every part, each slot keeps the
// exclusive or of its holders' entry positions, which is the last holder's position when one
// is left. Entries change only through the calls below. The surface table (surface_table.h)
// hands the slots out; removing the last part gives its slots back.
//
// Indexes. The part octree (part_octree.h) holds the parts' grid boxes, and the surface table
// the parts' normalised surfaces in its key grids. Both follow the parts: dropping every part
// empties them, removing the last part takes it out of them.

#include "core/private_block.h"
#include "geometry/part_octree.h"
#include "geometry/part_render_record.h"
#include "geometry/star_field.h"
#include "geometry/surface_table.h"
#include "geometry/working_part_record.h"
#include "texture/rev_tex.h"
#include "texture/surface_mapping_entry.h"
#include "texture/texture_params.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class GeometryViewState;

// Growth steps of the part and surface arrays.
inline constexpr std::int32_t PartCapacityStep = 100;
inline constexpr std::int32_t SurfaceCapacityStep = 400;

// Surface slots: at most 32,767 live at once (bit 15 of an entry is a mark).
inline constexpr std::uint16_t SurfaceSlotMask = 0x7FFF;
// The mark of an entry whose surface joined its slot as the reversed form.
inline constexpr std::uint16_t SurfaceSlotReversed = 0x8000;
inline constexpr std::uint32_t SurfaceSlotEntries = 0x10000;

// Entries per row of the slot table: one per surface a part may have.
inline constexpr std::int32_t SlotRowEntries = 32;

// Records of the two scratch arrays lent to the shape builders, at first.
inline constexpr std::int32_t BuilderScratchInitialCount = 16;

class SceneGeometry {
public:
    // An empty container: no parts, no records, no views; the slot bookkeeping, the builders'
    // scratch and the default material are made. Throws KVOutOfMemoryException.
    SceneGeometry();
    // Releases every part's owned objects and every block, and detaches the views still
    // attached (they keep their own copies, which they free).
    ~SceneGeometry();

    SceneGeometry(const SceneGeometry&) = delete;
    SceneGeometry& operator=(const SceneGeometry&) = delete;

    // Sizes the per-part and per-surface arrays, the entry block and every view's copies.
    // grow false: exactly parts headers and surfaces surfaces; every part is dropped (its
    // owned objects released) and the capacities become parts and surfaces; returns false.
    // grow true: when parts exceeds the part capacity it becomes parts + 100, when surfaces
    // exceeds the surface capacity it becomes surfaces + 400; the parts are kept (their
    // records may move; the part table and the views' tables follow). Returns true when
    // anything was reallocated. Throws KVOutOfMemoryException when the heap refuses or the
    // sizes pass what one block can hold; the parts, capacities and views are then as they
    // were (see above).
    bool ResizePartArrays(std::int32_t parts, std::int32_t surfaces, bool grow);

    // Adds parts after the existing ones (append) or in place of all of them, one per entry of
    // surfaceRooms, each with room for that many surfaces (0..32): a default record (no
    // surfaces in use, shape type 0, the default material) with an empty feature table, its
    // slot row cleared, counted live. The arrays grow (append) or are sized exactly for the
    // new parts. Views follow. Throws KVOutOfMemoryException, leaving the parts as they were.
    void AddParts(std::span<const std::int32_t> surfaceRooms, bool append);

    // Attaches view (detaching it first from any container it is attached to): the view goes
    // first in the list, gets this container as owner, the part count and the slot table, and
    // copies sized to the capacities: its frame copy and one per light slot below its
    // lightSlots, their record tables filled for every part, the second tables and the row
    // block. Blocks the view held before are freed, only after the new ones are made; slots
    // from lightSlots up keep none. Throws KVOutOfMemoryException, leaving the view as it was.
    void AttachViewState(GeometryViewState& view);

    // Clears view's owner and slot table and takes it off the list; a view not attached here
    // only loses its owner.
    void DetachViewState(GeometryViewState& view);

    // Drops the last part (nothing happens when there is none): releases its owned objects,
    // gives back its surface slots (and every slot left with a single holder among the
    // remaining parts, since a slot is kept only while two surfaces share it), takes it out of
    // the surface table and the octree, and takes its reserved surfaces off the total. Views
    // follow.
    void RemoveLastPart();

    // Clears the slot entries of the listed parts (each below the part capacity), giving back
    // every slot whose count falls to 0; then, in slot order, gives back every slot that a
    // single surface still holds, clearing that surface's entry.
    void ReleaseSurfaceSlots(std::span<const std::int32_t> parts);

    // Clears every part's slot entries and hands out every slot anew from slot 1.
    void ClearSurfaceSlots();

    // Gives surface surfaceB of partB and surface surfaceA of partA, both without a slot, one
    // new slot (the last one given back, else the next never used) held by the two; surface
    // A's entry carries the reversed mark when reversedA. Returns the slot, or 0 when all
    // 32,767 slots are live: the surfaces then stay unshared, since a higher number would run
    // into the mark bit.
    std::uint16_t OpenSurfaceSlot(std::int32_t partB, std::int32_t surfaceB, std::int32_t partA,
                                  std::int32_t surfaceA, bool reversedA);

    // Surface surface of part, without a slot, joins the live slot, with the reversed mark
    // when reversed.
    void JoinSurfaceSlot(std::int32_t part, std::int32_t surface, std::uint16_t slot,
                         bool reversed);

    // Enters parts in the octree (PartOctree::Enter). With changed empty and appended 0 the
    // tree is emptied and every part entered anew; otherwise the listed parts (part indices
    // below the part count) and the last appended parts are entered again, and a part whose
    // cells did not change keeps them. Throws KVOutOfMemoryException; parts entered until
    // then stay entered, the others keep their old cells or are out of the tree.
    void BuildOctree(std::span<const std::int32_t> changed, std::int32_t appended);

    // The parts whose grid boxes (PartRenderRecord::octreeBounds) overlap box, each once, as
    // part indices (PartOctree::Query); the list is valid until the next query or change.
    // Throws KVOutOfMemoryException when the list cannot grow.
    std::span<const std::int32_t> QueryOctree(const GridBox& box);

    // The list of the last QueryOctree, which the collision search compacts in place to the
    // parts it found colliding and then shortens (to at most its length).
    std::span<std::int32_t> CandidateList() { return octree.LastQuery(); }
    void ShortenCandidateList(std::int32_t count) { octree.ShortenLastQuery(count); }

    const PartOctree& Octree() const { return octree; }

    // The record of part index; null when index is not below the part count.
    PartRenderRecord* Part(std::int32_t index);
    const PartRenderRecord* Part(std::int32_t index) const;

    // The 32 slot entries of part index (row index + 1 of the slot table); index must be
    // below the part capacity.
    std::span<std::uint16_t> SlotRow(std::int32_t index);

    // The slot table: (part capacity + 1) rows of 32 entries; row 0 is unused.
    const std::uint16_t* SlotTable() const { return slotTable.get(); }

    // Per part, a byte that the octree query marks; zeroed whenever the arrays are resized.
    std::span<std::uint8_t> PartFlags();

    // Makes the coordinate scratch hold at least count records, keeping none of their
    // contents. Throws KVOutOfMemoryException, keeping the old scratch.
    void GrowCoordinateScratch(std::int32_t count);

    std::int32_t PartCount() const { return partCount; }
    std::int32_t PartCapacity() const { return partCapacity; }
    std::int32_t SurfaceCapacity() const { return surfaceCapacity; }
    // The surfaces reserved by every part together.
    std::int32_t SurfaceTotal() const { return surfaceTotal; }
    // The attached views, the last attached first.
    std::span<GeometryViewState* const> Views() const { return views; }

    std::int32_t idBase = 0;            // the id spans of the blocks loaded so far, summed
    std::int32_t octreeLevelFloor = 5;  // the pair search skips parts below this level
    // The parts the renderer redraws: count first, then part indices; null until set.
    PrivateBlockPtr<std::int32_t> renderList;

    // Slot bookkeeping, kept by the surface table.
    PrivateBlockPtr<std::uint16_t> freeSlots;  // 65,536 entries, freeSlotCount in use
    std::int32_t freeSlotCount = 0;
    std::uint16_t nextSlot = 0;                    // the first slot never handed out
    PrivateBlockPtr<std::uint32_t> slotRefCounts;  // 65,536 entries; entry 0 stays 0
    std::int32_t surfaceGeneration = 0;            // updates of the surface table so far

    // Lent to the shape builders: profile segments for the mapping objects, and mapping
    // entry heads for the surface mapping lists.
    PrivateBlockPtr<Rtp> mappingScratch;  // BuilderScratchInitialCount records
    PrivateBlockPtr<SurfaceMappingEntry> coordinateScratch;
    std::int32_t coordinateScratchCount = BuilderScratchInitialCount;

    WorkingPartRecord working;     // the part being built
    TextureParams defaultTexture;  // worn by parts whose record names no material

    // The parts' normalised surfaces and their key grids, kept by UpdateSurfaceTable.
    SurfaceTable surfaceTable;

    // The sky's stars, made by BuildStarField (render/star_field.h).
    StarField starField;

private:
    struct Arrays;
    struct ViewCopies;

    Arrays AllocateArrays(std::int32_t parts, std::int32_t surfaces) const;
    ViewCopies AllocateViewCopies(const GeometryViewState& view, std::int32_t parts,
                                  std::int32_t surfaces) const;
    void CommitArrays(Arrays& next, std::int32_t parts, std::int32_t surfaces);
    void GrowArrays(std::int32_t parts, std::int32_t surfaces);
    void RelinkPartTable();
    void RelinkCopy(PartRenderRecord** table, std::byte* copy, std::int32_t first) const;
    void InstallViewCopies(GeometryViewState& view, ViewCopies& copies);
    void FillViewTables(GeometryViewState& view, std::int32_t first) const;
    void ReleaseAllParts();
    std::uint16_t ReleaseSlotEntry(std::size_t position);

    PrivateBlockPtr<std::byte> entryBlock;  // records of every part, back to back
    PrivateBlockPtr<PartRenderRecord*> partTable;
    PrivateBlockPtr<std::uint8_t> partFlags;
    PrivateBlockPtr<std::uint16_t> slotTable;
    PrivateBlockPtr<std::uint32_t> slotHolders;  // per slot, its holders' positions xor-ed
    PartOctree octree;
    std::vector<GeometryViewState*> views;
    std::size_t recordBytes = 0;  // bytes of the entry block that hold records
    std::int32_t partCount = 0;
    std::int32_t partCapacity = 0;
    std::int32_t surfaceCapacity = 0;
    std::int32_t surfaceTotal = 0;
};
