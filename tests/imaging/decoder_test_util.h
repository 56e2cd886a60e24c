#pragma once

// Small helpers shared by the decoder tests: byte buffers built field by field and the code
// of the PLTextException a call throws.

#include "imaging/pl_text_exception.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace decoder_test {

using Bytes = std::vector<std::uint8_t>;

inline void AppendLE(Bytes& bytes, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void AppendBE(Bytes& bytes, std::uint32_t v, int size) {
    for (int i = size - 1; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Runs fn and returns the code of the PLTextException it throws (0 when none), with the
// text in *text.
inline std::int32_t CodeOf(const std::function<void()>& fn, std::string* text = nullptr) {
    try {
        fn();
    } catch (const PLTextException& e) {
        if (text != nullptr) *text = e.GetText();
        return e.GetCode();
    }
    return 0;
}

}  // namespace decoder_test
