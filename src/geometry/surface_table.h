#pragma once

// The shared surface table: surfaces of visible parts that are the same quadric (or the same
// with inside and outside swapped) share one slot of the scene geometry's slot
// table, so that the casting passes order their hits by part id instead of depth. A surface
// that coincides with none keeps slot 0.
//
// Records. Each surface in use gets a record of its ten coefficients (constant, x, y, z, xx,
// xy, xz, yy, yz, zz of its w-first form) divided by its norm: for a curved surface the
// Frobenius norm of its quadratic block, for a plane the length of its linear part. A surface
// whose norm is zero or whose coefficients are not finite cannot be compared and takes part in
// nothing. The record also keeps the part's size (the collision proxy's elements 7, 11 and
// 15), the update that wrote it and its three keys.
//
// Keys. Per axis k, v = (xx + yy + zz) x d(k+1) for a curved surface and v = constant x d(k+1)
// for a plane, both unchanged when the form is negated; key = GridFloor(40 v / (|v| + c)),
// c = 2.5 curved and 5 for planes, so keys lie in -41..40. Curved surfaces and planes keep
// separate dense key grids whose cells chain their records (both ways, so that a record
// leaves its cell at once); a grid grows by a quarter on the side it must.
//
// Matching. A surface of a visible part is compared with the surfaces of visible parts in the
// 2 x 2 x 2 cells around its rounded key values (the cells r - 1 and r on each axis):
//   - curved, same form: with D = B - A, (D4^2 + D7^2 + D9^2) + 2 (D5^2 + D6^2 + D8^2) <
//     9e-6, D1^2 + D2^2 + D3^2 < 1e-6 and |D0| < 0.001 x max(0.01, size A, size B);
//   - curved, reversed form: the same with D = B + A;
//   - plane: D1^2 + D2^2 + D3^2 < 9e-6 and |D0| < 0.001, with D = B - A or D = B + A.
// When neither has a slot the two open one; when one has, the other joins it (marked reversed
// for a reversed curved match); when both have, nothing changes.

#include "core/private_block.h"

#include <array>
#include <cstdint>
#include <span>

class SceneGeometry;

// Brings the surface table up to date after parts were built. Modes: with changed non-empty
// the listed parts (part indices below the part count) and the last appended parts give back
// their slots and are entered again; with no list and appended > 0 the appended parts are
// entered; with neither, every slot is handed out anew and everything is entered again.
// rebuild enters the same parts in the octree first (SceneGeometry::BuildOctree) and then
// matches the entered surfaces: a full update compares each surface with those before it in
// (part, surface) order; an incremental one compares each entered surface first with the
// surfaces of the other parts, then with the entered ones before it. Without rebuild only the
// slots are given back. Throws KVOutOfMemoryException; the table is then consistent, with the
// parts being entered left unshared.
void UpdateSurfaceTable(SceneGeometry& geometry, bool rebuild,
                        std::span<const std::int32_t> changed, std::int32_t appended);

class SurfaceTable {
public:
    SurfaceTable() = default;
    SurfaceTable(const SurfaceTable&) = delete;
    SurfaceTable& operator=(const SurfaceTable&) = delete;

    // Forgets every surface: the container dropped its parts.
    void Reset();

    // Takes the surfaces of part (the last one the table knows, with room for surfaceRoom
    // surfaces) out of the key grids: the container drops it.
    void ForgetPart(std::int32_t part, std::int32_t surfaceRoom);

    // Writes, links and matches the surfaces of the listed parts (every part when full) with
    // the geometry's current surface generation; the slots of those parts must be clear.
    // Throws KVOutOfMemoryException before it changes anything but the unlinking of the
    // listed parts.
    void Enter(SceneGeometry& geometry, std::span<const std::int32_t> parts, bool full);

    // Surfaces in the key grids.
    std::int32_t LinkedCount() const { return linkedCount; }

private:
    // A surface's record is split in two: what a walk along a cell's chain reads of every
    // surface it passes (16 bytes, so that long chains stay in cache), and what it reads only
    // of the surfaces it compares.
    struct CellEntry {           // 16 bytes
        std::int32_t next = -1;  // the record after this one in its cell, -1 = none
        std::int32_t part = 0;
        std::int32_t surface = 0;
        std::int32_t generation = 0;  // the update that last wrote the record
    };
    struct Record {                  // 120 bytes
        std::array<double, 10> d{};  // normalised: constant, x, y, z, xx, xy, xz, yy, yz, zz
        double size = 0;             // the part's size measure
        std::array<std::int32_t, 3> keys{};
        std::int32_t prev = -1;  // the record before this one in its cell, -1 = it heads it
        std::uint8_t curved = 0;
        std::uint8_t usable = 0;  // finite and of non-zero norm: the record may be linked
        std::uint8_t linked = 0;  // in its kind's key grid
    };
    struct KeyGrid {
        PrivateBlockPtr<std::int32_t> heads;   // the first record of each cell, -1 = none
        std::array<std::int32_t, 3> origin{};  // the key of the first cell on each axis
        std::array<std::int32_t, 3> dims{};    // cells on each axis; 0 while there is no grid
    };

    void Sync(SceneGeometry& geometry);
    std::int32_t SurfacesInUse(const SceneGeometry& geometry, std::int32_t part) const;
    void WriteRecord(std::int32_t index, const SceneGeometry& geometry, std::int32_t part,
                     std::int32_t surface, std::int32_t generation);
    void ResizeGrid(KeyGrid& grid, const std::array<std::int32_t, 6>& bounds, bool exact);
    std::size_t CellOf(const KeyGrid& grid, const std::array<std::int32_t, 3>& keys) const;
    void Link(std::int32_t index);
    void Unlink(std::int32_t index);
    void UnlinkPart(std::int32_t part, std::int32_t surfaceRoom);
    void Match(SceneGeometry& geometry, std::int32_t index, std::int32_t pass);

    PrivateBlockPtr<Record> records;     // every part's surfaces in part order
    PrivateBlockPtr<CellEntry> entries;  // their chain entries, at the same indexes
    std::int32_t recordCapacity = 0;
    PrivateBlockPtr<std::int32_t> firstRecord;  // per part, its first record
    std::int32_t firstCapacity = 0;
    std::int32_t knownParts = 0;   // parts whose first record is set
    std::array<KeyGrid, 2> grids;  // planes, curved surfaces
    std::int32_t linkedCount = 0;
};
