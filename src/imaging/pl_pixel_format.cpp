#include "imaging/pl_pixel_format.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<const PLPixelFormat*>& Registry() {
    static std::vector<const PLPixelFormat*> registry;
    return registry;
}

std::string ReplaceFirst(std::string_view text, char from, char to) {
    std::string out(text);
    const std::size_t at = out.find(from);
    if (at != std::string::npos) out[at] = to;
    return out;
}

}  // namespace

PLPixelFormat PLPixelFormat::FindByName(std::string_view formatName) {
    const std::vector<const PLPixelFormat*>& registry = Registry();
    const auto found = std::find_if(registry.begin(), registry.end(), [&](const PLPixelFormat* f) {
        return f->GetNameView() == formatName;
    });
    if (found == registry.end()) throw UnsupportedPixelFormat(formatName);
    return **found;
}

PLPixelFormat PLPixelFormat::UseAlpha(bool useAlpha) const {
    if (!useAlpha && GetMask(Channel::A) != 0) {
        return FindByName(ReplaceFirst(GetNameView(), 'A', 'X'));
    }
    if (useAlpha && GetMask(Channel::X) != 0) {
        return FindByName(ReplaceFirst(GetNameView(), 'X', 'A'));
    }
    return FindByName(GetNameView());
}

void PLPixelFormatRegistryInit() {
    Registry() = {&PLPixelFormat::DontCare,  &PLPixelFormat::L1,        &PLPixelFormat::I8,
                  &PLPixelFormat::L8,        &PLPixelFormat::L16,       &PLPixelFormat::X1R5G5B5,
                  &PLPixelFormat::A1R5G5B5,  &PLPixelFormat::R5G6B5,    &PLPixelFormat::R8G8B8,
                  &PLPixelFormat::A8R8G8B8,  &PLPixelFormat::X8R8G8B8,  &PLPixelFormat::R16G16B16,
                  &PLPixelFormat::B5G5R5X1,  &PLPixelFormat::B5G5R5A1,  &PLPixelFormat::B5G6R5,
                  &PLPixelFormat::B8G8R8,    &PLPixelFormat::B8G8R8A8,  &PLPixelFormat::B8G8R8X8,
                  &PLPixelFormat::A8B8G8R8,  &PLPixelFormat::X8B8G8R8,  &PLPixelFormat::B16G16R16,
                  &PLPixelFormat::L8Cbr8,    &PLPixelFormat::L8Cb8Cr8};
}

void PLPixelFormatRegistryShutdown() { std::vector<const PLPixelFormat*>().swap(Registry()); }

std::span<const PLPixelFormat* const> PLPixelFormatRegistry() { return Registry(); }
