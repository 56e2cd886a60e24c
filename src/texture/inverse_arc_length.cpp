#include "texture/inverse_arc_length.h"

#include <array>
#include <bit>
#include <cmath>

namespace {

constexpr std::int32_t LastLookupIndex = 160;  // the piece that starts at 2^20

const std::array<CubicPiece, InverseArcLengthPieceCount>& Table() {
    static const std::array<CubicPiece, InverseArcLengthPieceCount> table = [] {
        std::array<CubicPiece, InverseArcLengthPieceCount> t{};
        // g = 1 / L and g' = -sqrt(s^2 + 1) g^2, since L'(s) = sqrt(s^2 + 1).
        CubicTableIntegrate(t, std::ldexp(1.0, -20), std::ldexp(1.0, -20), [](double s) {
            const double root = std::sqrt(s * s + 1);
            const double g = 2 / (s * root + std::asinh(s));
            return CubicTableSample{g, -root * g * g};
        });
        return t;
    }();
    return table;
}

struct Located {
    std::int32_t index = 0;
    double t = 0;      // offset into the piece
    double width = 0;  // the piece's width
};

float PieceStart(std::int32_t index) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(index + InverseArcLengthBaseCode) << 21);
}

Located Locate(float s) {
    std::int32_t index = 0;
    if (s >= PieceStart(0)) {  // NaN fails this and lands on the lowest piece
        index = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(s) >> 21) -
                InverseArcLengthBaseCode;
    }
    if (index <= 0) {
        index = 0;
        s = PieceStart(0);
    } else if (index >= LastLookupIndex) {
        index = LastLookupIndex;
        s = PieceStart(LastLookupIndex);
    }
    const float start = PieceStart(index);
    return {index, static_cast<double>(s - start),
            static_cast<double>(PieceStart(index + 1) - start)};
}

// (P(tb) - P(ta)) / (tb - ta) of one piece's cubic, formed without cancellation.
double DividedDifference(const CubicPiece& p, double ta, double tb) {
    return p.c1 + p.c2 * (ta + tb) + p.c3 * (ta * ta + ta * tb + tb * tb);
}

// G(b) - G(a) for a in a piece not after b's.
double Difference(const Located& a, const Located& b) {
    const auto& table = Table();
    const CubicPiece& pa = table[static_cast<std::size_t>(a.index)];
    const CubicPiece& pb = table[static_cast<std::size_t>(b.index)];
    if (a.index == b.index) return (b.t - a.t) * DividedDifference(pa, a.t, b.t);
    if (b.index == a.index + 1) {
        // About the common boundary: the rest of a's piece plus the start of b's.
        return (a.width - a.t) * DividedDifference(pa, a.t, a.width) +
               b.t * DividedDifference(pb, 0, b.t);
    }
    const double ga = pa.c0 + a.t * DividedDifference(pa, 0, a.t);
    const double gb = pb.c0 + b.t * DividedDifference(pb, 0, b.t);
    return gb - ga;
}

}  // namespace

std::span<const CubicPiece> InverseArcLengthTable() { return Table(); }

void InverseArcLengthReference(StripArcRecord& strip) {
    const Located ref = Locate(static_cast<float>(2 * strip.p0 * strip.p2));
    strip.refIndex = ref.index;
    strip.refOffset = static_cast<float>(ref.t);
    strip.refValue = PieceStart(ref.index) + strip.refOffset;
}

double InverseArcLength(double u, const StripArcRecord& strip) {
    const float s = static_cast<float>(((1 - u) * strip.p0 + (1 + u) * strip.p1) * strip.p2);
    const Located b = Locate(s);
    Located a;
    a.index = strip.refIndex < 0 ? 0 : (strip.refIndex > LastLookupIndex ? LastLookupIndex
                                                                           : strip.refIndex);
    a.width = static_cast<double>(PieceStart(a.index + 1) - PieceStart(a.index));
    a.t = std::fmin(std::fmax(static_cast<double>(strip.refOffset), 0.0), a.width);
    double difference = 0;
    if (a.index < b.index || (a.index == b.index && a.t <= b.t)) {
        difference = Difference(a, b);
    } else {
        difference = -Difference(b, a);
    }
    return difference * strip.scale / strip.norm;
}
