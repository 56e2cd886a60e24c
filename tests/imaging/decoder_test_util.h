#pragma once

// Small helpers shared by the decoder tests: byte buffers built field by field and the code
// of the PLTextException a call throws.

#include "core/private_heap.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
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

// The code a new decoder of type Decoder refuses file with while the private heap refuses
// every request. A header claiming more than its data can hold must be refused before any
// storage is asked for, so a KVOutOfMemoryException (storage was asked for) gives -1.
template <class Decoder>
std::int32_t CodeWithoutStorage(const Bytes& file) {
    PLAnyBmp bmp;
    Decoder decoder;
    PrivateHeapRefuseNext(INT_MAX);
    std::int32_t code = -1;
    try {
        code = CodeOf([&] {
            decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
        });
    } catch (const KVOutOfMemoryException&) {
    }
    PrivateHeapRefuseNext(0);
    return code;
}

// All rows of a bitmap, top row first.
inline Bytes Pixels(const PLBmp& bmp) {
    Bytes bytes;
    for (int y = 0; y < bmp.GetHeight(); ++y) {
        const std::uint8_t* row = bmp.GetLineArray()[y];
        bytes.insert(bytes.end(), row, row + bmp.GetBytesPerLine());
    }
    return bytes;
}

// Decodes a file in memory with a new decoder of type Decoder.
template <class Decoder>
void Decode(const Bytes& file, PLBmp& bmp) {
    Decoder decoder;
    decoder.MakeBmpFromMemory(file.data(), static_cast<std::int32_t>(file.size()), bmp);
}

// Decodes file into bmp and expects its format, its rows (top first) and its first palette
// bytes (not compared when empty).
template <class Decoder>
void ExpectImage(const Bytes& file, const PLPixelFormat& format, const Bytes& pixels,
                 const Bytes& palette, PLAnyBmp& bmp) {
    std::string text;
    ASSERT_EQ(CodeOf([&] { Decode<Decoder>(file, bmp); }, &text), 0) << text;
    EXPECT_EQ(bmp.GetPixelFormat(), format);
    EXPECT_EQ(Pixels(bmp), pixels);
    if (!palette.empty()) {
        EXPECT_EQ(Bytes(bmp.GetPalette(), bmp.GetPalette() + palette.size()), palette);
    }
}

// A file that must fail with code and, unless text is null, that text.
struct FailureCase {
    const char* what;
    Bytes file;
    std::int32_t code;
    const char* text;
};

template <class Decoder>
void ExpectFailures(const std::vector<FailureCase>& cases) {
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        PLAnyBmp bmp;
        std::string text;
        EXPECT_EQ(CodeOf([&] { Decode<Decoder>(c.file, bmp); }, &text), c.code);
        if (c.text != nullptr) {
            EXPECT_EQ(text, c.text);
        }
    }
}

// Expects each kept regression file of the test data folder to fail through the any-format
// decoder with its code.
inline void ExpectDataFilesFail(
    std::initializer_list<std::pair<const char*, std::int32_t>> filesAndCodes) {
    for (const auto& [file, code] : filesAndCodes) {
        SCOPED_TRACE(file);
        PLAnyPicDecoder decoder;
        PLAnyBmp bmp;
        const std::string path = std::string(ORBELLE_TEST_DATA_DIR) + "/" + file;
        EXPECT_EQ(CodeOf([&] { decoder.MakeBmpFromFile(path, bmp); }), code);
    }
}

// Expects every cut of file, from 1 byte to all but its last, to fail with one of codes.
template <class Decoder>
void ExpectEveryCutFails(const Bytes& file, std::initializer_list<std::int32_t> codes) {
    for (std::size_t size = 1; size < file.size(); ++size) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        PLAnyBmp bmp;
        const std::int32_t code = CodeOf([&] { Decode<Decoder>(cut, bmp); });
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end())
            << "cut at " << size << " gave code " << code;
    }
}

}  // namespace decoder_test
