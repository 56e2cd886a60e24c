#pragma once

// Builds RIFF WAVE files in memory for the sound tests.

#include <cstdint>
#include <string>
#include <string_view>

namespace wave_test {

inline void PutU16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

inline void PutU32(std::string& out, std::uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

// A chunk: id, size, body, and the pad byte of an odd size.
inline std::string Chunk(std::string_view id, std::string_view body) {
    std::string out(id);
    PutU32(out, static_cast<std::uint32_t>(body.size()));
    out += body;
    if (body.size() % 2 != 0) out += '\0';
    return out;
}

// The 16 bytes of a format chunk's body.
inline std::string Format(std::uint32_t tag, std::uint32_t channels, std::uint32_t rate,
                          std::uint32_t bits) {
    std::string out;
    PutU16(out, tag);
    PutU16(out, channels);
    PutU32(out, rate);
    PutU32(out, rate * channels * bits / 8);
    PutU16(out, channels * bits / 8);
    PutU16(out, bits);
    return out;
}

// "RIFF", the size of what follows, "WAVE" and the chunks.
inline std::string Riff(std::string_view chunks) {
    std::string out = "RIFF";
    PutU32(out, static_cast<std::uint32_t>(4 + chunks.size()));
    out += "WAVE";
    out += chunks;
    return out;
}

// A plain PCM file of the given sample bytes.
inline std::string Pcm(std::uint32_t channels, std::uint32_t rate, std::uint32_t bits,
                       std::string_view samples) {
    return Riff(Chunk("fmt ", Format(1, channels, rate, bits)) + Chunk("data", samples));
}

}  // namespace wave_test
