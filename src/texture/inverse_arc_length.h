#pragma once

// The inverse arc-length measure of parabolic strips. With L(s) = (s sqrt(s^2 + 1) + asinh s)/2,
// the arc length of the unit parabola, and g = 1 / L, one shared table holds G(s), the
// integral of g from 2^-20, in quarter octaves from 2^-20 to 2^21 (164 pieces, base code 428).
// A strip measures the length coordinate of a point as a difference of G between the point's
// parameter and the strip's reference parameter.

#include "texture/piecewise_cubic.h"

#include <cstdint>
#include <span>

inline constexpr int InverseArcLengthPieceCount = 164;
inline constexpr std::int32_t InverseArcLengthBaseCode = 428;

// The part of a strip's coordinate record that InverseArcLength reads; the shape builder fills
// it. A point at strip position u (-1..1) has the parameter s(u) = ((1 - u) p0 + (1 + u) p1) p2;
// the reference is s(-1) = 2 p0 p2, kept as its piece index, its offset into that piece and
// its float value (as InverseArcLengthReference computes them).
struct StripArcRecord {  // 56 bytes
    double p0 = 0;
    double p1 = 0;
    double p2 = 0;
    std::int32_t refIndex = 0;
    float refOffset = 0;
    float refValue = 0;
    double scale = 1;
    double norm = 1;
};

// The shared G table; built on the first call, never changes afterwards.
std::span<const CubicPiece> InverseArcLengthTable();

// Fills the reference fields of the record from its p0 and p2.
void InverseArcLengthReference(StripArcRecord& strip);

// (G(s(u)) - G(s(-1))) * scale / norm. Parameters below 2^-20 count as 2^-20, above 2^20 as
// 2^20; NaN counts as 2^-20.
double InverseArcLength(double u, const StripArcRecord& strip);
