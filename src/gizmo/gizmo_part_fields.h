#pragma once

// The fields of a compact part record that only the gizmo gives a meaning: the collision
// bits that a flyer gathers from what it touches, and the two contact materials. The part
// record keeps them unchanged for everybody else.
//
//   44 u32 collision bits ("collisReset" of the part's "Game" role)
//   64 f32 loss: the fraction of a bounce's compression work that is lost
//   68 f32 friction: the Coulomb coefficient

#include <cstdint>

inline constexpr std::uint32_t PartRecordCollisionBitsOffset = 44;
inline constexpr std::uint32_t PartRecordLossOffset = 64;
inline constexpr std::uint32_t PartRecordFrictionOffset = 68;

std::uint32_t PartRecordCollisionBits(const std::uint8_t* record);
void PartRecordSetCollisionBits(std::uint8_t* record, std::uint32_t bits);
float PartRecordLoss(const std::uint8_t* record);
void PartRecordSetLoss(std::uint8_t* record, float loss);
float PartRecordFriction(const std::uint8_t* record);
void PartRecordSetFriction(std::uint8_t* record, float friction);
