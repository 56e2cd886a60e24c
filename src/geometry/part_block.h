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
// header count and record length describe its records exactly: every record at least 80
// bytes with a parameter count that is not negative, the records' sizes 80 + 4n + e adding
// up to the header's length, and that length within length - 20.
bool PartBlockIsWellFormed(const std::uint8_t* block, std::uint64_t length);

// Rebuilds the container's parts from the whole block of length bytes (header included).
// The block is converted in place to our byte order and its part ids are offset by the id
// base unless keepIds. A block without both flags 0x40 and 0x80 is legacy: its parts are
// scaled by 20 (without 0x40) and turned half a turn about x (without 0x80), and both flags
// are set. appendFrom (the first new record, or null) appends when the container already
// holds parts; only the new parts are built then. Returns 0, or -10 when the block is too
// short, of another version, or a record or its extension runs past length; a rejected
// block leaves the container as it was (records checked before the rejection may have been
// converted; the caller discards such a block). rebuildOctree is kept for the surface
// table, which does not exist yet.
std::int32_t LoadPartBlock(SceneGeometry& geometry, std::uint8_t* block, std::uint32_t length,
                           bool rebuildOctree, std::uint8_t* appendFrom, bool keepIds);
