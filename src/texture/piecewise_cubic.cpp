#include "texture/piecewise_cubic.h"

#include <bit>

double EvalPiecewiseCubic(std::int32_t baseCode, std::span<const CubicPiece> table, float x) {
    // Negative and NaN arguments fail this test; sound data never produces them, but file
    // data can, and the table must not be read outside its bounds.
    if (!(x >= 0.0f)) x = 0.0f;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    const std::int32_t k = static_cast<std::int32_t>(bits >> 21) - baseCode;
    const int lastIndex = static_cast<int>(table.size()) - 1;
    int index = 0;
    float start = 0.0f;
    if (k >= 0) {
        index = k + 4;
        if (index <= lastIndex) {
            start = std::bit_cast<float>(bits & ~0x1FFFFFu);
        } else {
            // Beyond the table (also infinity): the end of the last piece.
            index = lastIndex;
            start = std::bit_cast<float>(static_cast<std::uint32_t>(baseCode + index - 4) << 21);
            x = std::bit_cast<float>(static_cast<std::uint32_t>(baseCode + index - 3) << 21);
        }
    } else {
        const float h = std::bit_cast<float>(static_cast<std::uint32_t>((baseCode & ~3) - 8) << 21);
        index = static_cast<int>(x / h);
        if (index > 3) index = 3;  // x / h may round up to 4 just below the threshold
        start = h * static_cast<float>(index);
    }
    const double t = static_cast<double>(x - start);
    const CubicPiece& p = table[static_cast<std::size_t>(index)];
    return ((p.c3 * t + p.c2) * t + p.c1) * t + p.c0;
}
