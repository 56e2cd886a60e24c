#include "geometry/primitive_record.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/matrix4.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

// A zero-filled record of the shape type with the given parameters (index, value) pairs.
PartRecordPtr MakeRecord(ShapeType shapeType, std::int32_t paramCount,
                         std::initializer_list<std::pair<std::int32_t, double>> params,
                         std::int32_t partId, std::uint8_t flags, const Vec3& position,
                         Colour colour) {
    PartRecordPtr record = PrivateAllocBlock<std::uint8_t>(
        PartRecordFixedBytes + 4 * static_cast<std::uint32_t>(paramCount));
    std::uint8_t* r = record.get();
    PartRecordSetPosition(r, position);
    r[PartRecordFlagsOffset] = flags;
    PartRecordSetShapeType(r, shapeType);
    StoreI32LE(r + PartRecordParamCountOffset, paramCount);
    StoreI32LE(r + PartRecordPartIdOffset, partId);
    StoreU32LE(r + PartRecordColourOffset, (std::uint32_t{ColourRedByte(colour)} << 16) |
                                               (std::uint32_t{ColourGreenByte(colour)} << 8) |
                                               ColourBlueByte(colour));
    for (const auto& [index, value] : params) {
        PartRecordSetParam(r, index, static_cast<float>(value));
    }
    return record;
}

}  // namespace

PartRecordPtr NewPrimitive1(double a0, std::int32_t partId, std::uint8_t flags,
                            const Vec3& position, Colour colour) {
    return MakeRecord(ShapeType::Sphere, 1, {{0, a0}}, partId, flags, position, colour);
}

PartRecordPtr NewPrimitive2(bool variant, double a0, double a1, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour) {
    return MakeRecord(variant ? ShapeType::RoundedCylinder : ShapeType::Cylinder, 2,
                      {{1, a0}, {0, a1}}, partId, flags, position, colour);
}

PartRecordPtr NewPrimitive3(bool variant, double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour) {
    return MakeRecord(variant ? ShapeType::RoundedBox : ShapeType::Box, 3,
                      {{0, a0}, {1, a1}, {2, a2}}, partId, flags, position, colour);
}

PartRecordPtr NewPrimitive4(bool variant, double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour) {
    return MakeRecord(variant ? ShapeType::RoundedFrustum : ShapeType::Frustum, 3,
                      {{0, a0}, {1, a1}, {2, a2}}, partId, flags, position, colour);
}

PartRecordPtr NewPrimitive5(double a0, double a1, std::int32_t partId, std::uint8_t flags,
                            const Vec3& position, Colour colour) {
    return MakeRecord(ShapeType::Torus, 2, {{1, a0}, {0, a1}}, partId, flags, position, colour);
}

PartRecordPtr NewPrimitive6(bool variant, double a0, double a1, double a2, double a3,
                            std::int32_t partId, std::uint8_t flags, const Vec3& position,
                            Colour colour) {
    return MakeRecord(variant ? ShapeType::SmoothPlate : ShapeType::TaperedPrism, 4,
                      {{0, a0}, {3, a1}, {2, a2}, {1, a3}}, partId, flags, position, colour);
}

PartRecordPtr NewPrimitive7(double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour) {
    return MakeRecord(ShapeType::SphereZone, 3, {{0, a0}, {1, a1}, {2, a2}}, partId, flags,
                      position, colour);
}

PartRecordPtr NewPrimitive8(bool variant, double a0, double a1, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour) {
    return MakeRecord(variant ? ShapeType::RoundedOctagon : ShapeType::FlatSidedCylinder, 2,
                      {{0, a0}, {1, a1}}, partId, flags, position, colour);
}

PartRecordPtr NewPrimitive9(double a0, double a1, double a2, std::int32_t partId,
                            std::uint8_t flags, const Vec3& position, Colour colour) {
    return MakeRecord(ShapeType::Ellipsoid, 3, {{0, a0}, {1, a1}, {2, a2}}, partId, flags, position,
                      colour);
}

PartRecordPtr ClonePrimitive(const std::uint8_t* record, bool keepTexture, double scale) {
    const std::uint32_t bytes = PartRecordBaseBytes(record);
    PartRecordPtr copy(static_cast<std::uint8_t*>(PrivateAlloc(bytes)));
    std::memcpy(copy.get(), record, bytes);
    // The extension stays behind, so the copy must not announce one: whoever walks or copies
    // the copy by its own sizes would otherwise run past its end.
    StoreU32LE(copy.get() + PartRecordExtensionBytesOffset, 0);
    if (!keepTexture) StoreU32LE(copy.get() + PartRecordTextureRefOffset, 0);
    if (scale != 1.0) {
        Matrix4W placement;
        Matrix4SetDiagonal(placement, scale);
        SetPartPlacement(copy.get(), placement);
    }
    return copy;
}

PartRecordPtr PartRecordCopy(const std::uint8_t* record) {
    const std::uint64_t bytes = PartRecordBytes(record);
    ORBELLE_CHECK(bytes <= UINT32_MAX);
    PartRecordPtr copy(static_cast<std::uint8_t*>(PrivateAlloc(static_cast<std::uint32_t>(bytes))));
    std::memcpy(copy.get(), record, static_cast<std::size_t>(bytes));
    return copy;
}

void GetPrimitiveExtents(const std::uint8_t* record, std::array<float, 3>& extents) {
    const std::int32_t n = PartRecordParamCount(record);
    const auto p = [record](std::int32_t i) { return PartRecordParam(record, i); };
    const auto set = [&extents](float x, float y, float z) { extents = {x, y, z}; };
    // Each rule reads parameters only after the record is known to hold them.
    switch (PartRecordShapeType(record)) {
        case ShapeType::Sphere:
            if (n >= 1) set(p(0), p(0), p(0));
            break;
        case ShapeType::Cylinder:
        case ShapeType::FlatSidedCylinder:
        case ShapeType::RoundedCylinder:
        case ShapeType::RoundedOctagon:
            if (n >= 2) set(p(0), p(1), p(1));
            break;
        case ShapeType::Box:
        case ShapeType::Ellipsoid:
        case ShapeType::RoundedBox:
            if (n >= 3) set(p(1), p(0), p(2));
            break;
        case ShapeType::Frustum:
        case ShapeType::RoundedFrustum:
            if (n >= 3) set(p(0), std::max(p(1), p(2)), std::max(p(1), p(2)));
            break;
        case ShapeType::Torus:
        case ShapeType::SphereZone:
            if (n >= 2) set(p(1), p(0), p(0));
            break;
        case ShapeType::Spheroid:
            if (n >= 8) set(p(6), p(7), p(7));
            break;
        case ShapeType::Bowl:
            if (n >= 6) set(p(0) + p(5), p(1), p(1));
            break;
        case ShapeType::RevolvedPair:
            if (n >= 3) set(2 * p(0), std::max(p(1), p(2)), std::max(p(1), p(2)));
            break;
        case ShapeType::CoredSolid:
            if (n >= 5) set(2 * p(0), std::max(p(2), p(4)), std::max(p(2), p(4)));
            break;
        case ShapeType::FlaredSolid:
            if (n >= 5) set(p(4), p(2), p(2));
            break;
        case ShapeType::Ring:
            if (n >= 4) set(p(3), p(0), p(0));
            break;
        case ShapeType::HoledSolid:
            if (n >= 2) set(p(0), p(1), p(1));
            break;
        case ShapeType::CornerRod:
            if (n >= 19) {
                const double dx = p(3) - p(0);
                const double dy = p(4) - p(1);
                const double dz = p(5) - p(2);
                const auto length = static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz));
                set(length, p(18), p(18));
            }
            break;
        case ShapeType::PlacedSolid:
            if (n >= 12) set(p(9), p(10), p(11));
            break;
        default:
            break;
    }
}
