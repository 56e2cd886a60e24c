#include "model/name_order.h"

#include <algorithm>
#include <charconv>

namespace {

unsigned char LowerC(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

}  // namespace

int CompareNamesNoCase(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = LowerC(a[i]);
        const unsigned char y = LowerC(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

void CutNumericSuffix(std::string& name) {
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos) return;
    const bool digitsOnly = std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dash) + 1,
                                        name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digitsOnly) name.erase(dash);
}

std::string NameWithSuffix(std::string_view base, std::int32_t n, int digits) {
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text, n);
    const auto size = static_cast<int>(result.ptr - text);
    std::string name(base);
    name += '-';
    name.append(static_cast<std::size_t>(std::max(0, digits - size)), '0');
    name.append(text, static_cast<std::size_t>(size));
    return name;
}
