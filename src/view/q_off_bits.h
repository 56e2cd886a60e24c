#pragma once

// The frame bitmap a render view draws into when no outside pixel buffer is given: 32-bit
// 0xAARRGGBB words, rows top to bottom, packed (stride = width x 4 bytes). Its pixels live on
// the private heap, so the renderer writes straight into the memory the presenting window
// shows; no copy is made between bitmaps.
//
// Presenting belongs to the window that owns the bitmap: QOffBitsBase is the interface the
// window side implements (the player's window or the modeller's), and QOffBits's own
// Update presents nothing.

#include "core/private_block.h"

#include <cstdint>

// A rectangle of pixels, right and bottom exclusive.
struct FrameRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool IsEmpty() const { return left == right || top == bottom; }
    friend bool operator==(const FrameRect&, const FrameRect&) = default;
};

class QOffBitsBase {
public:
    virtual ~QOffBitsBase() = default;
    // Presents the update rectangle, or the whole bitmap when full.
    virtual void Update(bool full) = 0;
    // The first pixel (top row first); null before the bitmap is made.
    virtual std::uint32_t* GetBits() const = 0;
    // The row stride in bytes.
    virtual std::int32_t GetStride() const = 0;

    FrameRect updateRect;  // what Update presents without full
};

class QOffBits : public QOffBitsBase {
public:
    QOffBits() = default;
    QOffBits(const QOffBits&) = delete;
    QOffBits& operator=(const QOffBits&) = delete;
    QOffBits(QOffBits&&) = default;
    QOffBits& operator=(QOffBits&&) = default;

    // (Re)makes the bitmap at width x height, zero-filled: stride width x 4, update
    // rectangle the whole bitmap. Throws KVOutOfMemoryException when the heap refuses or the
    // size is not positive or does not fit; the old bitmap then stays as it was.
    void Create(std::int32_t width, std::int32_t height);

    // Presents nothing: the owning window presents the bits.
    void Update(bool) override {}
    std::uint32_t* GetBits() const override { return bits.get(); }
    std::int32_t GetStride() const override { return stride; }
    std::int32_t Width() const { return width; }
    std::int32_t Height() const { return height; }
    // Bytes of the pixel memory: stride x height.
    std::int64_t ImageSize() const { return static_cast<std::int64_t>(stride) * height; }

private:
    PrivateBlockPtr<std::uint32_t> bits;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
};
