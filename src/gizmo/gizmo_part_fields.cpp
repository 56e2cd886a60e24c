#include "gizmo/gizmo_part_fields.h"

#include "core/byte_order.h"

std::uint32_t PartRecordCollisionBits(const std::uint8_t* record) {
    return LoadU32LE(record + PartRecordCollisionBitsOffset);
}

void PartRecordSetCollisionBits(std::uint8_t* record, std::uint32_t bits) {
    StoreU32LE(record + PartRecordCollisionBitsOffset, bits);
}

float PartRecordLoss(const std::uint8_t* record) {
    return LoadF32LE(record + PartRecordLossOffset);
}

void PartRecordSetLoss(std::uint8_t* record, float loss) {
    StoreF32LE(record + PartRecordLossOffset, loss);
}

float PartRecordFriction(const std::uint8_t* record) {
    return LoadF32LE(record + PartRecordFrictionOffset);
}

void PartRecordSetFriction(std::uint8_t* record, float friction) {
    StoreF32LE(record + PartRecordFrictionOffset, friction);
}
