#pragma once

// Piecewise-cubic tables: the per-pixel texture code evaluates arc lengths and their inverses
// without transcendental calls through tables of cubic pieces indexed by quarter octaves of a
// float argument. The piece of x >= threshold is found from x's bit pattern: (bits >> 21) is
// the exponent and the two leading mantissa bits, so (bits >> 21) - baseCode + 4 numbers the
// quarter octaves from the threshold on. Below the threshold four uniform steps of a quarter
// of the threshold cover [0, threshold). The base code is the threshold's bits >> 21 (a
// multiple of 4; a threshold of 2^-N has base code 4 * (127 - N)), so piece 512 - baseCode
// starts at 1.0.

#include <cstdint>
#include <span>

struct CubicPiece {  // 16 bytes: value c0 + c1 t + c2 t^2 + c3 t^3 at t into the segment
    float c0 = 0;
    float c1 = 0;
    float c2 = 0;
    float c3 = 0;
};
static_assert(sizeof(CubicPiece) == 16);

// Base code of a table whose threshold is 2^-octaveNumber.
constexpr std::int32_t CubicTableBaseCode(int octaveNumber) { return 4 * (127 - octaveNumber); }

// Number of pieces of a table with threshold 2^-octaveNumber that reaches 2^topExponent:
// four uniform steps, then four per octave.
constexpr int CubicTablePieceCount(int octaveNumber, int topExponent) {
    return 4 + 4 * (octaveNumber + topExponent);
}

// Evaluates the table at x. Arguments that are negative or NaN count as 0, and arguments
// beyond the table's last piece as the end of that piece, so no argument read from a file
// reaches outside the table. The table must hold at least 5 pieces.
double EvalPiecewiseCubic(std::int32_t baseCode, std::span<const CubicPiece> table, float x);

// Value and derivative of a tabulated function at one point, for building tables.
struct CubicTableSample {
    double value = 0;
    double slope = 0;
};

// Fills table with the running integral of a function g from `from`, quarter octave by quarter
// octave as laid out above (the first four pieces uniform from 0 when `from` is 0): each piece
// holds c0 = the integral so far, c1 = g at its start, and c2, c3 from the change of g and of
// g' across it, and the integral advances by the trapezoid rule with its end correction,
// ((g0 + g1) / 2 - (g1' - g0') h / 12) h. gAt(s) returns g(s) and g'(s).
template <typename G>
void CubicTableIntegrate(std::span<CubicPiece> table, double threshold, double from, G&& gAt) {
    double integral = 0;
    double start = from;
    for (std::size_t i = 0; i < table.size(); ++i) {
        double h = 0;
        if (from == 0 && i < 4) {
            h = threshold / 4;
        } else {
            const std::size_t octave = from == 0 ? (i - 4) / 4 : i / 4;
            h = threshold * static_cast<double>(1ull << octave) / 4;
        }
        const CubicTableSample a = gAt(start);
        const CubicTableSample b = gAt(start + h);
        table[i].c0 = static_cast<float>(integral);
        table[i].c1 = static_cast<float>(a.value);
        table[i].c2 = static_cast<float>(((b.value - a.value) / h - (b.slope - a.slope) / 2) / 2);
        table[i].c3 = static_cast<float>((b.slope - a.slope) / (6 * h));
        integral += ((a.value + b.value) / 2 - (b.slope - a.slope) * h / 12) * h;
        start += h;
    }
}

// Fills table with Hermite pieces of a function R on the same layout from 0: at every grid
// point rAt(y) gives R(y) and R'(y), and each piece matches both at its two ends.
template <typename R>
void CubicTableInterpolate(std::span<CubicPiece> table, double threshold, R&& rAt) {
    double start = 0;
    CubicTableSample a = rAt(0.0);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double h =
            i < 4 ? threshold / 4 : threshold * static_cast<double>(1ull << ((i - 4) / 4)) / 4;
        const CubicTableSample b = rAt(start + h);
        const double secant = (b.value - a.value) / h;
        table[i].c0 = static_cast<float>(a.value);
        table[i].c1 = static_cast<float>(a.slope);
        table[i].c2 = static_cast<float>((3 * secant - 2 * a.slope - b.slope) / h);
        table[i].c3 = static_cast<float>((a.slope + b.slope - 2 * secant) / (h * h));
        start += h;
        a = b;
    }
}
