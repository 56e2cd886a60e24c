#pragma once

// Free-standing part records: makers for the basic shape types, copies of records, and the
// overall extents of a record. Every record made here lives on the private heap and belongs
// to the caller; every maker and copier throws KVOutOfMemoryException when the heap refuses.

#include "core/colour.h"
#include "core/private_block.h"
#include "core/vec3.h"

#include <array>
#include <cstdint>

using PartRecordPtr = PrivateBlockPtr<std::uint8_t>;

// Sphere (type 1): p0 = radius.
PartRecordPtr NewPrimitive1(double a0, std::int32_t partId, std::uint8_t flags,
                            const Vec3& position, Colour colour);
// Type 2, or 14 with the variant flag: p1 = a0, p0 = a1.
PartRecordPtr NewPrimitive2(bool variant, double a0, double a1, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour);
// Type 3, or 15: p0..p2 = a0..a2.
PartRecordPtr NewPrimitive3(bool variant, double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour);
// Type 4, or 16: p0..p2 = a0..a2.
PartRecordPtr NewPrimitive4(bool variant, double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour);
// Type 5: p1 = a0, p0 = a1.
PartRecordPtr NewPrimitive5(double a0, double a1, std::int32_t partId, std::uint8_t flags,
                            const Vec3& position, Colour colour);
// Type 6, or 17: p0 = a0, p3 = a1, p2 = a2, p1 = a3.
PartRecordPtr NewPrimitive6(bool variant, double a0, double a1, double a2, double a3,
                            std::int32_t partId, std::uint8_t flags, const Vec3& position,
                            Colour colour);
// Type 7: p0..p2 = a0..a2.
PartRecordPtr NewPrimitive7(double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour);
// Type 8, or 18: p0 = a0, p1 = a1.
PartRecordPtr NewPrimitive8(bool variant, double a0, double a1, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour);
// Type 9: p0..p2 = a0..a2.
PartRecordPtr NewPrimitive9(double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour);

// A copy of the record's first 80 + 4n bytes. The copy's extension size reads 0, so the
// copy never claims bytes it does not hold. Unless keepTexture the texture handle is
// cleared. A scale other than exactly 1.0 is applied as a uniform placement about the
// origin (position and the size parameters of the shape type).
PartRecordPtr ClonePrimitive(const std::uint8_t* record, bool keepTexture, double scale);

// A byte-exact copy of the whole record, 80 + 4n + e bytes, extension included.
PartRecordPtr PartRecordCopy(const std::uint8_t* record);

// Writes the three overall extents of the record's shape into extents; leaves them
// unchanged for shape types without a rule (6, 10, 11, 13, 17, 19, 28, 29 and others) and
// for a record without the parameters its rule reads.
void GetPrimitiveExtents(const std::uint8_t* record, std::array<float, 3>& extents);
