#include "core/crc32.h"

static_assert(Crc32Table[1] == 0x77073096u && Crc32Table[255] == 0x2D02EF8Du);

void Crc32Update(std::uint32_t& crc, const void* bytes, std::size_t count) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    std::uint32_t c = crc;
    for (std::size_t i = 0; i < count; ++i) {
        c = (c >> 8) ^ Crc32Table[(c ^ p[i]) & 0xFFu];
    }
    crc = c;
}

std::uint32_t Crc32(const void* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0) return 0;
    std::uint32_t crc = 0xFFFFFFFFu;
    Crc32Update(crc, bytes, count);
    return ~crc;
}
