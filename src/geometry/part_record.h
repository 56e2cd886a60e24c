#pragma once

// The part record: the compact stored form of one part of a scene, 80 + 4n + e bytes, in a
// part block or on its own on the private heap. Records are byte buffers read and written
// through the accessors below; they need not be aligned.
//
//   0  f32 x 3 position                12 f32 x 3 rotation vector (unit axis x angle)
//   24 u8 flags (0x80 hidden, 0x40 custom revolution mapping, 0x20 set on insertion,
//      0x02 own colour)
//   25 u8 tint                         26, 27 not read here
//   28 i32 shape type (1..29)          32 u32 extension size e
//   36 i32 parameter count n           40 i32 part id
//   44 u32 carried unchanged           48 u32 glow colour 0xRRGGBB (override colour)
//   52 u32 derived colour              56 u32 colour 0xRRGGBB
//   60 u32 texture handle (0 = none; written as 0 in stored blocks)
//   64 f32 x 2 carried unchanged       72 f32 glow intensity (scales the glow colour)
//   76 f32 fraction (0..1)             80 f32 x n parameters, then the e extension bytes

#include "core/vec3.h"
#include "geometry/shape_type.h"

#include <cstdint>

inline constexpr std::uint32_t PartRecordFixedBytes = 80;
inline constexpr std::uint32_t PartRecordPositionOffset = 0;
inline constexpr std::uint32_t PartRecordRotationOffset = 12;
inline constexpr std::uint32_t PartRecordFlagsOffset = 24;
inline constexpr std::uint32_t PartRecordTintOffset = 25;
inline constexpr std::uint32_t PartRecordShapeTypeOffset = 28;
inline constexpr std::uint32_t PartRecordExtensionBytesOffset = 32;
inline constexpr std::uint32_t PartRecordParamCountOffset = 36;
inline constexpr std::uint32_t PartRecordPartIdOffset = 40;
inline constexpr std::uint32_t PartRecordAux44Offset = 44;
inline constexpr std::uint32_t PartRecordGlowColourOffset = 48;
inline constexpr std::uint32_t PartRecordDerivedColourOffset = 52;
inline constexpr std::uint32_t PartRecordColourOffset = 56;
inline constexpr std::uint32_t PartRecordTextureRefOffset = 60;
inline constexpr std::uint32_t PartRecordAux64Offset = 64;
inline constexpr std::uint32_t PartRecordGlowIntensityOffset = 72;
inline constexpr std::uint32_t PartRecordFractionOffset = 76;
inline constexpr std::uint32_t PartRecordParamsOffset = 80;

// Bits of the flag byte.
inline constexpr std::uint8_t PartFlagHidden = 0x80;
inline constexpr std::uint8_t PartFlagCustomMapping = 0x40;
inline constexpr std::uint8_t PartFlagInserted = 0x20;
inline constexpr std::uint8_t PartFlagOwnColour = 0x02;  // the glow colour replaces the material's

// The parameter count at byte 36; negative only in a malformed record.
std::int32_t PartRecordParamCount(const std::uint8_t* record);

// The shape type at byte 28, whatever number is stored there; and its store.
ShapeType PartRecordShapeType(const std::uint8_t* record);
void PartRecordSetShapeType(std::uint8_t* record, ShapeType shapeType);

// 80 + 4n: the record without its extension. n must not be negative.
std::uint32_t PartRecordBaseBytes(const std::uint8_t* record);

// 80 + 4n + e: the whole record. n must not be negative.
std::uint64_t PartRecordBytes(const std::uint8_t* record);

// Parameter i (float at 80 + 4i); i must be below the parameter count.
float PartRecordParam(const std::uint8_t* record, std::int32_t i);
void PartRecordSetParam(std::uint8_t* record, std::int32_t i, float value);

// The float triples at bytes 0 and 12, widened to doubles.
Vec3 PartRecordPosition(const std::uint8_t* record);
Vec3 PartRecordRotation(const std::uint8_t* record);

// Store the triples narrowed to floats.
void PartRecordSetPosition(std::uint8_t* record, const Vec3& position);
void PartRecordSetRotation(std::uint8_t* record, const Vec3& rotation);

// Three consecutive parameters from index first, widened; and their store.
Vec3 PartRecordParamVec3(const std::uint8_t* record, std::int32_t first);
void PartRecordSetParamVec3(std::uint8_t* record, std::int32_t first, const Vec3& v);
