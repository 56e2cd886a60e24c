#pragma once

// Little- and big-endian loads and stores on byte buffers. Every stored record of the
// system goes through these, so nothing depends on the host's byte order or alignment.

#include <bit>
#include <cstdint>

// Little-endian loads of the value whose bytes start at p. The caller has checked that the
// bytes are there; nothing here can fail.
inline std::uint16_t LoadU16LE(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32LE(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t LoadU64LE(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadU32LE(p)) |
           (static_cast<std::uint64_t>(LoadU32LE(p + 4)) << 32);
}
inline std::int16_t LoadI16LE(const std::uint8_t* p) {
    return static_cast<std::int16_t>(LoadU16LE(p));
}
inline std::int32_t LoadI32LE(const std::uint8_t* p) {
    return static_cast<std::int32_t>(LoadU32LE(p));
}
inline float LoadF32LE(const std::uint8_t* p) { return std::bit_cast<float>(LoadU32LE(p)); }
inline double LoadF64LE(const std::uint8_t* p) { return std::bit_cast<double>(LoadU64LE(p)); }

// Little-endian stores of v into the bytes at p, which the caller has made room for.
inline void StoreU16LE(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32LE(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void StoreU64LE(std::uint8_t* p, std::uint64_t v) {
    StoreU32LE(p, static_cast<std::uint32_t>(v));
    StoreU32LE(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void StoreI16LE(std::uint8_t* p, std::int16_t v) {
    StoreU16LE(p, static_cast<std::uint16_t>(v));
}
inline void StoreI32LE(std::uint8_t* p, std::int32_t v) {
    StoreU32LE(p, static_cast<std::uint32_t>(v));
}
inline void StoreF32LE(std::uint8_t* p, float v) { StoreU32LE(p, std::bit_cast<std::uint32_t>(v)); }
inline void StoreF64LE(std::uint8_t* p, double v) {
    StoreU64LE(p, std::bit_cast<std::uint64_t>(v));
}

// Big-endian loads, for the formats defined that way; as the little-endian ones otherwise.
inline std::uint16_t LoadU16BE(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t LoadU32BE(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::int16_t LoadI16BE(const std::uint8_t* p) {
    return static_cast<std::int16_t>(LoadU16BE(p));
}
inline std::int32_t LoadI32BE(const std::uint8_t* p) {
    return static_cast<std::int32_t>(LoadU32BE(p));
}
inline float LoadF32BE(const std::uint8_t* p) { return std::bit_cast<float>(LoadU32BE(p)); }

// Big-endian stores, as the little-endian ones otherwise.
inline void StoreU16BE(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void StoreU32BE(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
inline void StoreI32BE(std::uint8_t* p, std::int32_t v) {
    StoreU32BE(p, static_cast<std::uint32_t>(v));
}
inline void StoreF32BE(std::uint8_t* p, float v) { StoreU32BE(p, std::bit_cast<std::uint32_t>(v)); }
