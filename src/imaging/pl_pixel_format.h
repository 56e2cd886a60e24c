#pragma once

// Pixel formats named by their channel layout, most significant channel first: "A8R8G8B8"
// is alpha in the top byte, then red, green and blue. A name is parsed once into the bits
// per pixel and one 64-bit mask per channel. The 23 formats of the library are compile-time
// constants; the registry that finds a format by name is filled at start-up by
// PLPixelFormatRegistryInit, so nothing depends on the order of static initialisers.
//
// Formats compare by name only. Names are short and given by the library itself, so the
// name is held inline and a format is a trivially copyable value.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class PLPixelFormat {
public:
    // The channels, in the order of the mask table.
    enum class Channel : int { R, G, B, A, I, L, Cbr, Cb, Cr, C, M, Y, K, X };
    static constexpr int ChannelCount = 14;
    static constexpr std::size_t MaxNameLength = 23;

    // Thrown for a name that is not registered or cannot be parsed; carries that name.
    class UnsupportedPixelFormat {
    public:
        explicit UnsupportedPixelFormat(std::string_view formatName) : name(formatName) {}
        const std::string& GetName() const { return name; }

    private:
        std::string name;
    };

    // The empty format "": no format given.
    constexpr PLPixelFormat() = default;

    // Parses a name such as "A8R8G8B8". Throws UnsupportedPixelFormat for a letter run that
    // is no channel code, a channel without a width, or a name longer than MaxNameLength.
    constexpr explicit PLPixelFormat(std::string_view formatName);

    friend constexpr bool operator==(const PLPixelFormat& a, const PLPixelFormat& b) {
        return a.GetNameView() == b.GetNameView();
    }

    std::string GetName() const { return std::string(GetNameView()); }
    constexpr std::string_view GetNameView() const { return {name.data(), nameLength}; }
    constexpr std::uint32_t GetBitsPerPixel() const { return bitsPerPixel; }
    constexpr std::uint64_t GetMask(Channel channel) const {
        return masks[static_cast<std::size_t>(channel)];
    }
    constexpr bool HasAlpha() const { return GetMask(Channel::A) != 0; }

    // 2^bpp for formats of 1 to 8 bits per pixel (they have a palette), else 0. Palettes are
    // 4 bytes an entry.
    constexpr int GetPaletteSize() const {
        return bitsPerPixel >= 1 && bitsPerPixel <= 8 ? 1 << bitsPerPixel : 0;
    }

    // True when the luminance channel covers every bit ("L1", "L8", "L16").
    constexpr bool IsPureLuminance() const {
        return bitsPerPixel > 0 && bitsPerPixel < 64 &&
               GetMask(Channel::L) == (std::uint64_t{1} << bitsPerPixel) - 1;
    }

    // The registered format of that name; throws UnsupportedPixelFormat when none is.
    static PLPixelFormat FindByName(std::string_view formatName);

    // With false, the no-alpha variant of a format with alpha (first "A" becomes "X"); with
    // true, the alpha variant of a format with unused bits (first "X" becomes "A"); else
    // this format. Throws UnsupportedPixelFormat when the variant is not registered.
    PLPixelFormat UseAlpha(bool useAlpha) const;

    // The registered formats.
    static const PLPixelFormat DontCare, L1, I8, L8, L16, X1R5G5B5, A1R5G5B5, R5G6B5, R8G8B8,
        A8R8G8B8, X8R8G8B8, R16G16B16, B5G5R5X1, B5G5R5A1, B5G6R5, B8G8R8, B8G8R8A8, B8G8R8X8,
        A8B8G8R8, X8B8G8R8, B16G16R16, L8Cbr8, L8Cb8Cr8;

private:
    static constexpr int ChannelFromCode(std::string_view code);
    [[noreturn]] static void Reject(std::string_view formatName) {
        throw UnsupportedPixelFormat(formatName);
    }

    std::array<char, MaxNameLength + 1> name{};
    std::size_t nameLength = 0;
    std::uint32_t bitsPerPixel = 0;
    std::array<std::uint64_t, ChannelCount> masks{};
};

constexpr int PLPixelFormat::ChannelFromCode(std::string_view code) {
    constexpr std::array<std::string_view, ChannelCount> codes = {
        "R", "G", "B", "A", "I", "L", "Cbr", "Cb", "Cr", "C", "M", "Y", "K", "X"};
    for (int i = 0; i < ChannelCount; ++i) {
        if (codes[static_cast<std::size_t>(i)] == code) return i;
    }
    return -1;
}

constexpr PLPixelFormat::PLPixelFormat(std::string_view formatName) {
    if (formatName.size() > MaxNameLength) Reject(formatName);
    for (std::size_t i = 0; i < formatName.size(); ++i) name[i] = formatName[i];
    nameLength = formatName.size();

    // Letter runs name a channel, digit runs give its width; the first channel in the name
    // occupies the most significant bits.
    std::array<std::uint32_t, ChannelCount> offsets{};
    std::array<std::uint32_t, ChannelCount> widths{};
    std::uint32_t total = 0;
    std::size_t pos = 0;
    while (pos < formatName.size()) {
        std::size_t end = pos;
        while (end < formatName.size() && !(formatName[end] >= '0' && formatName[end] <= '9')) {
            ++end;
        }
        const int channel = ChannelFromCode(formatName.substr(pos, end - pos));
        if (channel < 0 || end == formatName.size()) Reject(formatName);
        std::uint32_t width = 0;
        while (end < formatName.size() && formatName[end] >= '0' && formatName[end] <= '9') {
            width = width * 10 + static_cast<std::uint32_t>(formatName[end] - '0');
            if (width > 64) Reject(formatName);
            ++end;
        }
        const auto index = static_cast<std::size_t>(channel);
        offsets[index] = total;
        widths[index] = width;
        total += width;
        if (width == 0 || total > 64) Reject(formatName);
        pos = end;
    }
    bitsPerPixel = total;
    for (std::size_t c = 0; c < masks.size(); ++c) {
        if (widths[c] == 0) continue;
        const std::uint64_t ones =
            widths[c] == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << widths[c]) - 1;
        masks[c] = ones << (total - widths[c] - offsets[c]);
    }
}

inline constexpr PLPixelFormat PLPixelFormat::DontCare{};
inline constexpr PLPixelFormat PLPixelFormat::L1{"L1"};
inline constexpr PLPixelFormat PLPixelFormat::I8{"I8"};
inline constexpr PLPixelFormat PLPixelFormat::L8{"L8"};
inline constexpr PLPixelFormat PLPixelFormat::L16{"L16"};
inline constexpr PLPixelFormat PLPixelFormat::X1R5G5B5{"X1R5G5B5"};
inline constexpr PLPixelFormat PLPixelFormat::A1R5G5B5{"A1R5G5B5"};
inline constexpr PLPixelFormat PLPixelFormat::R5G6B5{"R5G6B5"};
inline constexpr PLPixelFormat PLPixelFormat::R8G8B8{"R8G8B8"};
inline constexpr PLPixelFormat PLPixelFormat::A8R8G8B8{"A8R8G8B8"};
inline constexpr PLPixelFormat PLPixelFormat::X8R8G8B8{"X8R8G8B8"};
inline constexpr PLPixelFormat PLPixelFormat::R16G16B16{"R16G16B16"};
inline constexpr PLPixelFormat PLPixelFormat::B5G5R5X1{"B5G5R5X1"};
inline constexpr PLPixelFormat PLPixelFormat::B5G5R5A1{"B5G5R5A1"};
inline constexpr PLPixelFormat PLPixelFormat::B5G6R5{"B5G6R5"};
inline constexpr PLPixelFormat PLPixelFormat::B8G8R8{"B8G8R8"};
inline constexpr PLPixelFormat PLPixelFormat::B8G8R8A8{"B8G8R8A8"};
inline constexpr PLPixelFormat PLPixelFormat::B8G8R8X8{"B8G8R8X8"};
inline constexpr PLPixelFormat PLPixelFormat::A8B8G8R8{"A8B8G8R8"};
inline constexpr PLPixelFormat PLPixelFormat::X8B8G8R8{"X8B8G8R8"};
inline constexpr PLPixelFormat PLPixelFormat::B16G16R16{"B16G16R16"};
inline constexpr PLPixelFormat PLPixelFormat::L8Cbr8{"L8Cbr8"};
inline constexpr PLPixelFormat PLPixelFormat::L8Cb8Cr8{"L8Cb8Cr8"};

// Fills the registry with the 23 formats, the empty format first (start-up). Calling it
// again rebuilds the same registry.
void PLPixelFormatRegistryInit();

// Empties the registry (exit).
void PLPixelFormatRegistryShutdown();

// The registered formats in registration order (empty before start-up).
std::span<const PLPixelFormat* const> PLPixelFormatRegistry();
