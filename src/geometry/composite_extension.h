#pragma once

// The extension of a composite part record (shape type 13): the quadrics the part is made of,
// each given in its own frame. It follows the record's parameters and carries its own
// byte-order marker, because it may have been written on another machine than the block:
//
//   0  u16 kind (1)        2  u16 byte-order marker (0xFFFF = our order)
//   4  u32 carried         8  u32 element count (2..33)
//   12 u32 carried         16 u32 carried
//   20 elements of 44 bytes: f32 f0..f3 (the element's form values), f32 f4..f6 (its rotation
//      vector), f32 f7..f9 (its position), u8 flip, 3 bytes carried; the flip byte and the
//      three after it are never byte-swapped.

#include <cstdint>

inline constexpr std::uint16_t CompositeExtensionKind = 1;
inline constexpr std::uint32_t CompositeExtensionHeaderBytes = 20;
inline constexpr std::uint32_t CompositeCountOffset = 8;
inline constexpr std::uint32_t CompositeElementBytes = 44;
inline constexpr std::uint32_t CompositeElementSwappedWords = 10;  // f0..f9
inline constexpr std::uint32_t CompositeElementFlipOffset = 40;
