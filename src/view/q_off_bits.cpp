#include "view/q_off_bits.h"

#include "core/private_heap.h"

#include <cstdint>
#include <limits>
#include <utility>

void QOffBits::Create(std::int32_t newWidth, std::int32_t newHeight) {
    // A bitmap whose byte size does not fit the heap's 32-bit sizes cannot be made; it is
    // refused like any other allocation, before anything is multiplied in 32 bits.
    if (newWidth <= 0 || newHeight <= 0) ThrowOutOfMemory();
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(newWidth) * static_cast<std::uint64_t>(newHeight) * 4u;
    if (bytes > std::numeric_limits<std::int32_t>::max()) ThrowOutOfMemory();
    PrivateBlockPtr<std::uint32_t> made =
        PrivateAllocBlock<std::uint32_t>(static_cast<std::uint32_t>(bytes / 4u));
    bits = std::move(made);
    width = newWidth;
    height = newHeight;
    stride = newWidth * 4;
    updateRect = FrameRect{0, 0, newWidth, newHeight};
}
