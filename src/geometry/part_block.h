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
// Part record (80 + 4n + e bytes): the fields read here are the shape type (i32 at 28), the
// extension size e (u32 at 32), the parameter count n (i32 at 36) and the part id (i32 at
// 40); the n float parameters start at 80 and the extension follows them.

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

inline constexpr std::uint32_t PartRecordFixedBytes = 80;
inline constexpr std::uint32_t PartRecordShapeTypeOffset = 28;
inline constexpr std::uint32_t PartRecordExtensionBytesOffset = 32;
inline constexpr std::uint32_t PartRecordParamCountOffset = 36;
inline constexpr std::uint32_t PartRecordPartIdOffset = 40;

// Result of LoadPartBlock for a block it refuses.
inline constexpr std::int32_t PartBlockRejected = -10;

// Writes the header of a new, empty block into the first 20 bytes of block: version 3,
// marker 0xFFFF, no parts, no record bytes, id span 0, flags 0xC0, reserved bytes zero.
void WritePartBlockHeader(std::uint8_t* block);

// Rebuilds the container's parts from the whole block of length bytes (header included).
// The block is converted in place to our byte order and its part ids are offset by the id
// base unless keepIds. appendFrom (the first new record, or null) appends when the container
// already holds parts. Returns 0, or -10 when the block is too short, of another version,
// or a record or its extension runs past length; a rejected block leaves the container as
// it was. rebuildOctree is kept for the surface table, which does not exist yet.
std::int32_t LoadPartBlock(SceneGeometry& geometry, std::uint8_t* block, std::uint32_t length,
                           bool rebuildOctree, std::uint8_t* appendFrom, bool keepIds);
