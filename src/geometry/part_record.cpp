#include "geometry/part_record.h"

#include "core/byte_order.h"
#include "core/check.h"

std::int32_t PartRecordParamCount(const std::uint8_t* record) {
    return LoadI32LE(record + PartRecordParamCountOffset);
}

ShapeType PartRecordShapeType(const std::uint8_t* record) {
    return static_cast<ShapeType>(LoadI32LE(record + PartRecordShapeTypeOffset));
}

void PartRecordSetShapeType(std::uint8_t* record, ShapeType shapeType) {
    StoreI32LE(record + PartRecordShapeTypeOffset, static_cast<std::int32_t>(shapeType));
}

std::uint32_t PartRecordBaseBytes(const std::uint8_t* record) {
    const std::int32_t n = PartRecordParamCount(record);
    ORBELLE_CHECK(n >= 0 && n <= (INT32_MAX - 80) / 4);
    return PartRecordFixedBytes + 4 * static_cast<std::uint32_t>(n);
}

std::uint64_t PartRecordBytes(const std::uint8_t* record) {
    return static_cast<std::uint64_t>(PartRecordBaseBytes(record)) +
           LoadU32LE(record + PartRecordExtensionBytesOffset);
}

float PartRecordParam(const std::uint8_t* record, std::int32_t i) {
    return LoadF32LE(record + PartRecordParamsOffset + 4 * static_cast<std::uint32_t>(i));
}

void PartRecordSetParam(std::uint8_t* record, std::int32_t i, float value) {
    StoreF32LE(record + PartRecordParamsOffset + 4 * static_cast<std::uint32_t>(i), value);
}

namespace {

Vec3 LoadTriple(const std::uint8_t* p) {
    return Vec3{LoadF32LE(p), LoadF32LE(p + 4), LoadF32LE(p + 8)};
}

void StoreTriple(std::uint8_t* p, const Vec3& v) {
    StoreF32LE(p, static_cast<float>(v.x));
    StoreF32LE(p + 4, static_cast<float>(v.y));
    StoreF32LE(p + 8, static_cast<float>(v.z));
}

}  // namespace

Vec3 PartRecordPosition(const std::uint8_t* record) {
    return LoadTriple(record + PartRecordPositionOffset);
}

Vec3 PartRecordRotation(const std::uint8_t* record) {
    return LoadTriple(record + PartRecordRotationOffset);
}

void PartRecordSetPosition(std::uint8_t* record, const Vec3& position) {
    StoreTriple(record + PartRecordPositionOffset, position);
}

void PartRecordSetRotation(std::uint8_t* record, const Vec3& rotation) {
    StoreTriple(record + PartRecordRotationOffset, rotation);
}

Vec3 PartRecordParamVec3(const std::uint8_t* record, std::int32_t first) {
    return LoadTriple(record + PartRecordParamsOffset + 4 * static_cast<std::uint32_t>(first));
}

void PartRecordSetParamVec3(std::uint8_t* record, std::int32_t first, const Vec3& v) {
    StoreTriple(record + PartRecordParamsOffset + 4 * static_cast<std::uint32_t>(first), v);
}
