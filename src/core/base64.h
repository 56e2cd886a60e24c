#pragma once

// Base64 as the system's XML files carry it: the standard alphabet with "=" padding, and a
// CR LF after every 76 output characters. The decoder is tolerant: CR and LF between groups
// (and one right after a group's second or third character) are skipped, and bytes outside
// the alphabet are not rejected but decode through the reverse table's 0xFFFFFFFF entries
// into meaningless bytes, as files written elsewhere expect. Both tables are compile-time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view Base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Output characters per line; the encoder ends every full line with CR LF.
inline constexpr std::size_t Base64LineLength = 76;

// Alphabet characters map to 0..63, every other byte to 0xFFFFFFFF.
constexpr std::array<std::uint32_t, 256> BuildBase64ReverseTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t& entry : table) entry = 0xFFFFFFFFu;
    for (std::uint32_t i = 0; i < Base64Alphabet.size(); ++i) {
        table[static_cast<std::uint8_t>(Base64Alphabet[i])] = i;
    }
    return table;
}

inline constexpr std::array<std::uint32_t, 256> Base64ReverseTable = BuildBase64ReverseTable();

// Encodes the bytes; never fails (std::bad_alloc on exhausted memory).
std::string Base64Encode(std::span<const std::uint8_t> bytes);

// Encodes count raw bytes from memory; a null pointer encodes nothing.
std::string BytesToBase64(const void* bytes, std::size_t count);

// Decodes the text; never fails: a malformed text decodes to whatever bytes it yields, and
// decoding stops where fewer than two characters of a group remain.
std::vector<std::uint8_t> Base64Decode(std::string_view text);

// Decodes the text into the caller's buffer of capacityBytes, copying whole elements of
// elementSize bytes (4 for float arrays) and never writing past the capacity, however long
// the text is. Returns the number of bytes copied; an empty text copies nothing.
std::size_t Base64ToBytes(std::string_view text, void* destination, std::size_t capacityBytes,
                          std::size_t elementSize);
