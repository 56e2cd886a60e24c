#include "app/wave_file.h"

#include <cstring>

namespace {

constexpr std::size_t RiffHeaderBytes = 12;  // "RIFF", size, "WAVE"
constexpr std::size_t ChunkHeaderBytes = 8;  // id, size
constexpr std::size_t FormatBytes = 16;      // the PCM format chunk's fields
constexpr std::uint16_t FormatPcm = 1;
constexpr std::uint16_t FormatExtensible = 0xFFFE;
constexpr std::size_t ExtensibleFormatBytes = 40;  // the fields up to the sub-format's tag
constexpr std::size_t SubFormatOffset = 24;

std::uint16_t LoadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t LoadU32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

bool IsId(const std::uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

}  // namespace

std::optional<WaveSound> DecodeWaveFile(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < RiffHeaderBytes || !IsId(bytes.data(), "RIFF") ||
        !IsId(bytes.data() + 8, "WAVE")) {
        return std::nullopt;
    }
    WaveSound sound;
    bool hasFormat = false;
    std::size_t at = RiffHeaderBytes;
    while (bytes.size() - at >= ChunkHeaderBytes) {
        const std::uint8_t* chunk = bytes.data() + at;
        const std::size_t remaining = bytes.size() - at - ChunkHeaderBytes;
        const std::size_t size = LoadU32(chunk + 4);
        const std::uint8_t* body = chunk + ChunkHeaderBytes;
        if (IsId(chunk, "fmt ")) {
            if (size < FormatBytes || size > remaining) return std::nullopt;
            std::uint16_t tag = LoadU16(body);
            if (tag == FormatExtensible) {
                if (size < ExtensibleFormatBytes) return std::nullopt;
                tag = LoadU16(body + SubFormatOffset);
            }
            if (tag != FormatPcm) return std::nullopt;
            sound.channelCount = LoadU16(body + 2);
            const std::uint32_t rate = LoadU32(body + 4);
            sound.bitsPerSample = LoadU16(body + 14);
            if (sound.channelCount < 1 || sound.channelCount > 2 || rate == 0 ||
                rate > 0x7FFFFFFF || (sound.bitsPerSample != 8 && sound.bitsPerSample != 16)) {
                return std::nullopt;
            }
            sound.sampleRate = static_cast<std::int32_t>(rate);
            hasFormat = true;
        } else if (IsId(chunk, "data")) {
            if (!hasFormat) return std::nullopt;
            const std::size_t frameBytes =
                static_cast<std::size_t>(sound.channelCount * sound.bitsPerSample / 8);
            std::size_t length = size < remaining ? size : remaining;
            length -= length % frameBytes;
            if (length == 0) return std::nullopt;
            sound.samples = bytes.subspan(at + ChunkHeaderBytes, length);
            return sound;
        }
        // Chunks are padded to even sizes; one that runs past the end ends the walk.
        if (size > remaining || remaining - size < (size & 1)) break;
        at += ChunkHeaderBytes + size + (size & 1);
    }
    return std::nullopt;
}
