#pragma once

// The binary part block: a 20-byte header followed by the part records of every part of a
// scene, back to back. The document holds its block in memory and the object layer edits it
// in place; LoadPartBlock turns a block into the live geometry of a SceneGeometry.
//
// Header (20 bytes, in the writer's byte order; the marker tells whether that is ours):
//   0  u16 version (3)          2  u16 byte-order marker (0xFFFF = our order)
//   4  u32 part count           8  u32 byte size of the records after the header
//   12 u32 id span (0 counts as 1)
//   16 u8 flags (0x40 sizes in scene units, 0x80 axes in scene orientation), 17..19 zero
// Records are laid out as part_record.h says.

#include "geometry/part_record.h"

#include <cstdint>

class SceneGeometry;

inline constexpr std::uint32_t PartBlockHeaderBytes = 20;
inline constexpr std::uint16_t PartBlockVersion = 3;
inline constexpr std::uint16_t PartBlockNativeMarker = 0xFFFF;
inline constexpr std::uint8_t PartBlockFlagScaled = 0x40;
inline constexpr std::uint8_t PartBlockFlagOriented = 0x80;

inline constexpr std::uint32_t PartBlockVersionOffset = 0;
inline constexpr std::uint32_t PartBlockMarkerOffset = 2;
inline constexpr std::uint32_t PartBlockPartCountOffset = 4;
inline constexpr std::uint32_t PartBlockRecordBytesOffset = 8;
inline constexpr std::uint32_t PartBlockIdSpanOffset = 12;
inline constexpr std::uint32_t PartBlockFlagsOffset = 16;

// Result of LoadPartBlock for a block it refuses.
inline constexpr std::int32_t PartBlockRejected = -10;

// Writes the header of a new, empty block into the first 20 bytes of block: version 3,
// marker 0xFFFF, no parts, no record bytes, id span 0, flags 0xC0, reserved bytes zero.
void PartBlockWriteHeader(std::uint8_t* block);

// True when the block of length bytes is a native block (version 3, marker 0xFFFF) whose
// header count and record length describe its records exactly: every record within the
// loader's limits (80 bytes at least, 0..19 parameters, a composite's extension of kind 1
// with 2..33 elements inside it), the records' sizes 80 + 4n + e adding up to the header's
// length, and that length within length - 20.
bool PartBlockIsWellFormed(const std::uint8_t* block, std::uint64_t length);

// Builds the container's parts from the whole block of length bytes (header included): every
// part, or with appendFrom (the first new record) only the parts from the container's part
// count on, when the container already holds parts and the block is not empty.
//
// The whole block is checked first, in its own byte order; -10 (PartBlockRejected) refuses a
// block that is too short or of another version, a record or its extension that runs past
// length, a parameter count outside 0..19, or a composite (type 13) whose extension is not of
// kind 1 with 2..33 elements inside it. A refused block leaves the block and the container
// exactly as they were.
//
// An accepted block is converted in place: a foreign block (marker not 0xFFFF) has every
// 32-bit word of its header and records swapped (flag bytes stay) and its marker reads 0xFFFF
// afterwards, whatever it was; a composite extension carries its own marker and is converted
// alike; unless keepIds, part ids are offset by the id base (the old one when appending, 0
// otherwise), and the id base becomes that offset plus the block's id span (0 counts as 1);
// a block without both flags 0x40 and 0x80 is legacy: its parts are scaled by 20 (without
// 0x40) and turned half a turn about x (without 0x80), and both flags are set. The parts' surfaces are
// reserved by shape type, the arrays sized (exactly on a full load, grown when appending),
// every new part built and the surface table updated (rebuildOctree: its octree too).
// Returns 0, -10, or the first non-zero build result of a part (the others are still built).
// Throws KVOutOfMemoryException when the heap cannot hold the parts; the block and the
// container are then left as they were if the parts could not be placed, and consistent if a
// build ran out.
std::int32_t LoadPartBlock(SceneGeometry& geometry, std::uint8_t* block, std::uint32_t length,
                           bool rebuildOctree, std::uint8_t* appendFrom, bool keepIds);
