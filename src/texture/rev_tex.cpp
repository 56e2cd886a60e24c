#include "texture/rev_tex.h"

#include "core/private_heap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

constexpr double MeasureLimit = 30.0;  // the logarithmic measures are held to +-30

std::uint32_t AllocationBytes(std::int32_t sizeBytes, int pieceCount) {
    const std::size_t withTables = RevTexTableOffset + sizeof(CubicPiece) * static_cast<std::size_t>(pieceCount);
    return static_cast<std::uint32_t>(std::max<std::size_t>(
        {withTables, static_cast<std::size_t>(std::max(sizeBytes, 0))}));
}

CubicPiece* Tables(RevTex& record) {
    return reinterpret_cast<CubicPiece*>(reinterpret_cast<std::uint8_t*>(&record) + RevTexTableOffset);
}

const CubicPiece* Tables(const RevTex& record) {
    return reinterpret_cast<const CubicPiece*>(reinterpret_cast<const std::uint8_t*>(&record) +
                                               RevTexTableOffset);
}

// Grows the record to hold two tables of the given piece counts whose thresholds are 2^-octave,
// sets their layout fields and returns the first piece; throws KVOutOfMemoryException.
CubicPiece* LayTables(RevTex*& record, int firstCount, int firstOctave, int secondCount,
                      int secondOctave) {
    const std::int32_t sizeBytes = static_cast<std::int32_t>(
        RevTexTableOffset + sizeof(CubicPiece) * static_cast<std::size_t>(firstCount + secondCount));
    RevTexGrow(record, sizeBytes, firstCount + secondCount);
    RevTex& r = *record;
    r.tablePieceCount = firstCount + secondCount;
    r.secondTableStart = firstCount;
    r.firstTableBase = CubicTableBaseCode(firstOctave);
    r.secondTableBase = CubicTableBaseCode(secondOctave);
    return Tables(r);
}

double CopySign(double magnitude, double y) { return y < 0 ? -magnitude : magnitude; }

// Arc length density of the ellipse (1, e) against the half-angle tangent u:
// 2 sqrt(4u^2 + e^2 (1 - u^2)^2) / (1 + u^2)^2, with its derivative.
CubicTableSample EllipseDensity(double u, double e) {
    const double w = 1 - u * u;
    const double A = 4 * u * u + e * e * w * w;
    const double S = std::sqrt(A);
    const double D = (1 + u * u) * (1 + u * u);
    const double dA = 8 * u - 4 * e * e * u * w;
    const double dD = 4 * u * (1 + u * u);
    return {2 * S / D, (dA / S * D - 2 * S * dD) / (D * D)};
}

double FirstTableAt(const RevTex& record, double t) {
    return EvalPiecewiseCubic(record.firstTableBase, RevTexFirstTable(record), static_cast<float>(t));
}

double SecondTableAt(const RevTex& record, double y) {
    return EvalPiecewiseCubic(record.secondTableBase, RevTexSecondTable(record), static_cast<float>(y));
}

// F1(1): the quarter arc of the ellipse, in c0 of the piece that starts at 1.0.
double QuarterArc(const RevTex& record) {
    return RevTexFirstTable(record)[static_cast<std::size_t>(512 - record.firstTableBase)].c0;
}

// Composite Gauss-Legendre integration of f over [lo, hi], four nodes per panel.
template <typename F>
double Integrate(F&& f, double lo, double hi, int panels) {
    constexpr double Nodes[4] = {-0.8611363115940526, -0.3399810435848563, 0.3399810435848563,
                                 0.8611363115940526};
    constexpr double Weights[4] = {0.3478548451374538, 0.6521451548625461, 0.6521451548625461,
                                   0.3478548451374538};
    const double h = (hi - lo) / panels;
    double sum = 0;
    for (int i = 0; i < panels; ++i) {
        const double mid = lo + (i + 0.5) * h;
        for (int j = 0; j < 4; ++j) sum += Weights[j] * f(mid + Nodes[j] * h / 2);
    }
    return sum * h / 2;
}

template <typename F>
double Integrate(F&& f, double tau) {
    return Integrate(f, 0.0, tau, 32);
}

// The hyperbolic profiles, parametrised by tau >= 0 from the vertex or the waist:
// kind 4 meets the axis, y^2/b^2 - x^2/a^2 = 1: x = a sinh tau, |y| = b cosh tau;
// kind 3 has a waist of radius a, x^2/a^2 - y^2/b^2 = 1: x = a cosh tau, |y| = b sinh tau.
struct Hyperbola {
    double a = 0;
    double b = 0;
    bool meetsAxis = false;

    double Speed(double tau) const {
        const double c = std::cosh(tau);
        const double s = std::sinh(tau);
        return meetsAxis ? std::sqrt(a * a * c * c + b * b * s * s)
                         : std::sqrt(a * a * s * s + b * b * c * c);
    }
    double Radius(double tau) const { return meetsAxis ? a * std::sinh(tau) : a * std::cosh(tau); }
    double ParameterOf(double x, double y) const {
        return meetsAxis ? std::asinh(std::max(x, 0.0) / a) : std::asinh(std::fabs(y) / b);
    }
    double ArcLength(double tau) const {
        return Integrate([&](double t) { return Speed(t); }, tau);
    }
};

Hyperbola HyperbolaOf(const RevTex& record) {
    return {record.profile.a, record.profile.b,
            record.profile.type == static_cast<std::int16_t>(ProfileKind::Hyperbolic)};
}

bool UsableAxes(double a, double b) {
    return std::isfinite(a) && std::isfinite(b) && a > 1e-12 && b > 1e-12 && a / b < 1e12 &&
           b / a < 1e12;
}

// The hyperbolic tables. Both kinds reduce to one normalised curve: with (p, q) = (a, b) for
// kind 4 and (b, a) for kind 3, k = p / q, m = sqrt(1 + k^2) and c = cosh tau, the parameter
// sigma = sinh tau (x / a for kind 4, |y| / b for kind 3) gives the arc length from the vertex
// or the waist as s = q Z(sigma), where
//   Z(sigma) = integral from 0 of sqrt((k^2 + m^2 u^2) / (1 + u^2)) du,
// and the radius as p sigma (kind 4) or q c (kind 3). Z grows like m sigma less a bounded
// defect D = m sigma - Z, whose slope 1 / (c (m c + sqrt(k^2 + m^2 sigma^2))) falls off as
// 1 / (2 m sigma^2).
//
// The first table is read at sigma: it holds Z below 0.625 and D from there on. The defect form
// keeps large arguments exact (m sigma comes from the unrounded argument, and D barely moves
// within a float's rounding) and lets the table end at 2^13, beyond which D changes by less
// than 1 / (2 m 2^13). Z itself serves the small arguments, where m sigma - D would cancel:
// on a sharp vertex (small k) Z ~ k sigma while m sigma ~ sigma.
// The second table is read at zeta = s / q: it holds sigma(zeta) below 0.625 and
// E = m sigma - zeta (= D) from there on, so that sigma = (zeta + E) / m; it ends at 2^12.
// 0.625 is the quarter-octave boundary nearest 0.6, so each piece holds one form. Each piece is
// the cubic through exact values at its four Chebyshev points (the first piece instead keeps
// the exact slope at 0); the values come from Gauss-Legendre integration of the slopes and,
// for the second table, Newton steps on that integral. Against integration along the curve
// the arc length stays within 1e-6 relative for k >= 0.7 and within 3e-6 on the sharpest
// vertices and widest waists; the radius is a little closer still.
constexpr float HyperbolicFormSwitch = 0.625f;
constexpr int HyperbolicArcTop = 13;
constexpr int HyperbolicInverseTop = 12;

struct HyperbolaForm {
    double p = 0;
    double q = 0;
    double k = 0;
    double m = 0;
    bool meetsAxis = false;

    double ArcSlope(double sigma) const {
        return std::sqrt((k * k + m * m * sigma * sigma) / (1 + sigma * sigma));
    }
    double DefectSlope(double sigma) const {
        const double c = std::sqrt(1 + sigma * sigma);
        return 1 / (c * (m * c + std::sqrt(k * k + m * m * sigma * sigma)));
    }
    double Arc(double lo, double hi) const {
        return Integrate([this](double u) { return ArcSlope(u); }, lo, hi, 2);
    }
    double Defect(double lo, double hi) const {
        return Integrate([this](double u) { return DefectSlope(u); }, lo, hi, 2);
    }
    double SigmaOf(double x, double y) const {
        return (meetsAxis ? std::max(x, 0.0) : std::fabs(y)) / p;
    }
};

HyperbolaForm HyperbolaFormOf(const RevTex& record) {
    HyperbolaForm h;
    h.meetsAxis = record.profile.type == static_cast<std::int16_t>(ProfileKind::Hyperbolic);
    h.p = h.meetsAxis ? record.profile.a : record.profile.b;
    h.q = h.meetsAxis ? record.profile.b : record.profile.a;
    h.k = h.p / h.q;
    h.m = std::sqrt(1 + h.k * h.k);
    return h;
}

// Start of piece j of a table whose threshold is `threshold` (the end of piece j - 1).
double TablePoint(double threshold, int j) {
    if (j <= 4) return threshold * j / 4;
    return std::ldexp(threshold, (j - 4) / 4) * (1 + ((j - 4) % 4) / 4.0);
}

// The cubic matching value and slope at both ends of a piece of width h.
CubicPiece HermitePiece(const CubicTableSample& a, const CubicTableSample& b, double h) {
    const double secant = (b.value - a.value) / h;
    return {static_cast<float>(a.value), static_cast<float>(a.slope),
            static_cast<float>((3 * secant - 2 * a.slope - b.slope) / h),
            static_cast<float>((a.slope + b.slope - 2 * secant) / (h * h))};
}

// The cubic through f at the four Chebyshev points of [x0, x0 + h]: within a piece it errs
// by about an eighth of what end-point Hermite interpolation would (h^4 max|f''''| / 3072),
// at the price of steps of that size between pieces. f is called at increasing arguments.
template <typename F>
CubicPiece FitPiece(F&& f, double x0, double h) {
    std::array<double, 4> t{};
    std::array<double, 4> d{};
    for (std::size_t i = 0; i < 4; ++i) {
        t[i] = h * (1 - std::cos((2.0 * static_cast<double>(i) + 1) * std::numbers::pi / 8)) / 2;
        d[i] = f(x0 + t[i]);
    }
    // Newton's divided differences, then the Newton form expanded into powers of t.
    for (std::size_t level = 1; level < 4; ++level) {
        for (std::size_t i = 3; i >= level; --i) d[i] = (d[i] - d[i - 1]) / (t[i] - t[i - level]);
    }
    std::array<double, 4> c = {d[3], 0, 0, 0};
    for (std::size_t i = 3; i-- > 0;) {
        // c(t) becomes c(t) (t - t[i]) + d[i].
        for (std::size_t p = 3; p > 0; --p) c[p] = c[p - 1] - t[i] * c[p];
        c[0] = d[i] - t[i] * c[0];
    }
    return {static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]),
            static_cast<float>(c[3])};
}

// Z (q times the arc length) at sigma through the first table.
double HyperbolicArc(double sigma, const HyperbolaForm& h, const RevTex& record) {
    const float at = static_cast<float>(sigma);
    const double stored = EvalPiecewiseCubic(record.firstTableBase, RevTexFirstTable(record), at);
    return at < HyperbolicFormSwitch ? stored : h.m * sigma - stored;
}

// sigma at zeta through the second table.
double HyperbolicSigma(double zeta, const HyperbolaForm& h, const RevTex& record) {
    const float at = static_cast<float>(zeta);
    const double stored = EvalPiecewiseCubic(record.secondTableBase, RevTexSecondTable(record), at);
    return at < HyperbolicFormSwitch ? stored : (zeta + stored) / h.m;
}

}  // namespace

RevTex* RevTexAlloc() {
    auto* record = static_cast<RevTex*>(PrivateAllocZeroed(AllocationBytes(RevTexPlainSize, 0)));
    record->size = RevTexPlainSize;
    return record;
}

void RevTexFree(RevTex* record) { PrivateFree(record); }

void RevTexGrow(RevTex*& record, std::int32_t sizeBytes, int pieceCount) {
    if (sizeBytes <= record->size && pieceCount <= record->tablePieceCount) return;
    const std::uint32_t bytes = AllocationBytes(sizeBytes, std::max(pieceCount, record->tablePieceCount));
    auto* grown = static_cast<RevTex*>(PrivateAllocZeroed(bytes));
    std::memcpy(static_cast<void*>(grown), record,
                AllocationBytes(0, record->tablePieceCount));
    grown->size = std::max(sizeBytes, record->size);
    PrivateFree(record);
    record = grown;
}

std::span<const CubicPiece> RevTexFirstTable(const RevTex& record) {
    return {Tables(record), static_cast<std::size_t>(std::max(record.secondTableStart, 0))};
}

std::span<const CubicPiece> RevTexSecondTable(const RevTex& record) {
    const int count = record.tablePieceCount - record.secondTableStart;
    if (record.secondTableStart <= 0 || count <= 0) return {};
    return {Tables(record) + record.secondTableStart, static_cast<std::size_t>(count)};
}

bool RevTexBuildEllipticTables(RevTex*& record) {
    const double a = record->profile.a;
    const double b = record->profile.b;
    if (!UsableAxes(a, b) || a / b > 1e6 || b / a > 1e6) return false;
    const bool polar = record->profile.type == static_cast<std::int16_t>(ProfileKind::EllipticPolar);
    const double e = polar ? a / b : b / a;

    // The density's features sit near u ~ e / 2 (flat ellipses) or 1 - u ~ 1 / e (tall ones):
    // one octave more than |log2 e| asks for, plus two for accuracy.
    const int n = static_cast<int>(std::floor(std::fabs(std::log2(e)))) + 3;
    const int firstCount = CubicTablePieceCount(n, 1);
    // The inverse runs over arc lengths 0 .. F(2); its threshold follows F at 2^-n.
    const double arcAtTwo = Integrate([&](double u) { return EllipseDensity(u, e).value; }, 2.0);
    const int top = std::max(1, static_cast<int>(std::ceil(std::log2(arcAtTwo))));
    const int m = std::max(1 - top, n - static_cast<int>(std::floor(std::log2(2 * e))) + 2);
    const int secondCount = CubicTablePieceCount(m, top);
    if (firstCount + secondCount > RevTexMaxPieces) return false;

    CubicPiece* tables = LayTables(record, firstCount, n, secondCount, m);
    RevTex& r = *record;
    CubicTableIntegrate(std::span<CubicPiece>(tables, static_cast<std::size_t>(firstCount)),
                        std::ldexp(1.0, -n), 0.0, [&](double u) { return EllipseDensity(u, e); });

    // The inverse: at each grid arc length y find t = F^-1(y) on the first table (bisection,
    // then Newton steps on the exact density), and store R(t) with dR/dy = R'(t) / F'(t).
    CubicTableInterpolate(
        std::span<CubicPiece>(tables + firstCount, static_cast<std::size_t>(secondCount)),
        std::ldexp(1.0, -m), [&](double y) {
            double lo = 0;
            double hi = 2;
            for (int i = 0; i < 40; ++i) {
                const double mid = (lo + hi) / 2;
                (FirstTableAt(r, mid) < y ? lo : hi) = mid;
            }
            double t = (lo + hi) / 2;
            for (int i = 0; i < 3 && t > 0 && t < 2; ++i) {
                t -= (FirstTableAt(r, t) - y) / EllipseDensity(t, e).value;
                t = std::clamp(t, 0.0, 2.0);
            }
            const double q = 1 + t * t;
            const double density = EllipseDensity(t, e).value;
            if (polar) return CubicTableSample{2 * e * t / q, 2 * e * (1 - t * t) / (q * q) / density};
            return CubicTableSample{(1 - t * t) / q, -4 * t / (q * q) / density};
        });
    return true;
}

bool RevTexBuildHyperbolicTables(RevTex*& record) {
    const double a = record->profile.a;
    const double b = record->profile.b;
    if (!UsableAxes(a, b) || a / b > 1e6 || b / a > 1e6) return false;
    const HyperbolaForm h = HyperbolaFormOf(*record);

    // Z bends where sigma ~ k / m (a sharp vertex) and where sigma ~ 1; its inverse where zeta
    // is Z there. Each table starts three octaves below its first bend.
    const int n1 = 3 + std::max(0, static_cast<int>(std::ceil(std::log2(h.m / h.k))));
    const double firstBend = std::min(h.Arc(0, h.k / h.m), h.Arc(0, 1));
    const int n2 = std::max(1, 3 + static_cast<int>(std::ceil(-std::log2(firstBend))));
    const int firstCount = CubicTablePieceCount(n1, HyperbolicArcTop);
    const int secondCount = CubicTablePieceCount(n2, HyperbolicInverseTop);
    if (firstCount + secondCount > RevTexMaxPieces) return false;

    // Exact Z and D at the first table's piece ends.
    const double threshold1 = std::ldexp(1.0, -n1);
    std::array<double, RevTexMaxPieces + 1> sigmaAt{};
    std::array<double, RevTexMaxPieces + 1> arcAt{};
    std::array<double, RevTexMaxPieces + 1> defectAt{};
    for (int j = 1; j <= firstCount; ++j) {
        const auto i = static_cast<std::size_t>(j);
        sigmaAt[i] = TablePoint(threshold1, j);
        arcAt[i] = arcAt[i - 1] + h.Arc(sigmaAt[i - 1], sigmaAt[i]);
        defectAt[i] = defectAt[i - 1] + h.Defect(sigmaAt[i - 1], sigmaAt[i]);
    }

    CubicPiece* tables = LayTables(record, firstCount, n1, secondCount, n2);

    for (int j = 0; j < firstCount; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const double from = sigmaAt[i];
        if (j == 0) {
            // Both tables start as k sigma: the first piece keeps that slope exactly, so that
            // small arguments keep their relative accuracy.
            tables[i] = HermitePiece({0, h.k}, {arcAt[1], h.ArcSlope(sigmaAt[1])}, sigmaAt[1]);
        } else if (from < HyperbolicFormSwitch) {
            tables[i] = FitPiece([&](double s) { return arcAt[i] + h.Arc(from, s); }, from,
                                 sigmaAt[i + 1] - from);
        } else {
            tables[i] = FitPiece([&](double s) { return defectAt[i] + h.Defect(from, s); }, from,
                                 sigmaAt[i + 1] - from);
        }
    }

    // The inverse: sigma = Z^-1(zeta) by Newton steps on the integral from the first table's
    // piece end below it, D there by integration from the same point.
    const double threshold2 = std::ldexp(1.0, -n2);
    std::size_t below = 0;
    struct InverseSample {
        double sigma = 0;
        double defect = 0;
    };
    auto solve = [&](double zeta) {
        while (below + 1 < static_cast<std::size_t>(firstCount) && arcAt[below + 1] <= zeta) ++below;
        const double from = sigmaAt[below];
        double sigma = from + (zeta - arcAt[below]) / h.ArcSlope(from);
        for (int step = 0; step < 6; ++step) {
            sigma -= (arcAt[below] + h.Arc(from, sigma) - zeta) / h.ArcSlope(sigma);
        }
        return InverseSample{sigma, defectAt[below] + h.Defect(from, sigma)};
    };
    CubicPiece* inverse = tables + firstCount;
    for (int j = 0; j < secondCount; ++j) {
        const double from = TablePoint(threshold2, j);
        const double width = TablePoint(threshold2, j + 1) - from;
        if (j == 0) {
            const double end = solve(width).sigma;
            inverse[j] = HermitePiece({0, 1 / h.k}, {end, 1 / h.ArcSlope(end)}, width);
        } else if (from < HyperbolicFormSwitch) {
            inverse[j] = FitPiece([&](double z) { return solve(z).sigma; }, from, width);
        } else {
            inverse[j] = FitPiece([&](double z) { return solve(z).defect; }, from, width);
        }
    }
    return true;
}

double ProfileCurveMeasure(double x, double y, const RevTex& record) {
    const double a = record.profile.a;
    const double b = record.profile.b;
    const bool polar = record.profile.type == static_cast<std::int16_t>(ProfileKind::EllipticPolar);
    if (record.lType == 0) {
        if (RevTexFirstTable(record).empty()) return 0;
        const double e = polar ? a / b : b / a;
        const double c = polar ? std::fabs(y) / b : x / a;
        double d = polar ? x / a : std::fabs(y) / b;
        // Near the vertex the other coordinate fixes the point better than this one.
        if ((1 + e * e) * c * c < 1) d = std::sqrt(std::max(0.0, 1 - c * c));
        const double w = std::min(d / (1 + c), 1.0);
        const double arc = polar ? b * (QuarterArc(record) - FirstTableAt(record, w))
                                 : a * FirstTableAt(record, w);
        return CopySign(arc, y);
    }
    // The angle-preserving measure: integral of ds / radius, closed form for the ellipse.
    const double k = a / b;
    double z = std::fabs(y) / b;
    const double xa = x / a;
    if ((1 + k * k) * xa * xa < k * k) z = std::sqrt(std::max(0.0, 1 - xa * xa));
    const double n = std::sqrt(1 + (k * k - 1) * z * z);
    const double c = k >= 1 ? -std::sqrt((k * k - 1) / (k * k)) * std::log(std::sqrt(k * k - 1) * z + n)
                            : std::sqrt((1 - k * k) / (k * k)) * std::asin(std::sqrt(1 - k * k) * z);
    if (n - k * z <= 0) return CopySign(MeasureLimit, y);
    return CopySign(std::min(0.5 * std::log((n + k * z) / (n - k * z)) + c, MeasureLimit), y);
}

double ProfileCurveMeasureHyperbolic(double x, double y, const RevTex& record) {
    if (!UsableAxes(record.profile.a, record.profile.b)) return 0;
    const HyperbolaForm h = HyperbolaFormOf(record);
    const double sigma = h.SigmaOf(x, y);
    if (record.lType == 0) {
        if (RevTexSecondTable(record).empty()) return 0;
        return CopySign(h.q * HyperbolicArc(sigma, h, record), y);
    }
    // The angle-preserving measure, the integral of ds / radius, in closed form. With
    // c = sqrt(1 + sigma^2) and u = sqrt((k^2 + m^2 sigma^2) / c^2) (k at the vertex, m far
    // out), ds / radius is (1 / k) (k^2 / (u^2 - k^2) + m^2 / (m^2 - u^2)) du on the kind that
    // meets the axis: ln(k sigma / ((u + k) c)) + (m / k) ln((m + u) c / (m + k)), which
    // tends to ln tanh(tau / 2) at the vertex. On the waisted kind it is
    // sqrt(k^2 + m^2 sigma^2) / c^2 dsigma: m asinh(m sigma / k) - atanh(sigma / sqrt(...)),
    // zero at the waist, rewritten as ln(c (m sigma + root) / (root + sigma)) + (m - 1) asinh
    // since the two terms nearly cancel near the waist of a flat hyperbola. The differences
    // u - k, (m + u) c - (m + k), c - 1 and m - 1 are formed without cancellation.
    const double c = std::sqrt(1 + sigma * sigma);
    const double root = std::sqrt(h.k * h.k + h.m * h.m * sigma * sigma);
    if (h.meetsAxis) {
        if (!(sigma > 0)) return CopySign(-MeasureLimit, y);
        const double u = root / c;
        const double uLessK = sigma * sigma / (c * c * (u + h.k));
        const double rise = (h.m + h.k) * sigma * sigma / (c + 1) + uLessK * c;
        const double measure = std::log(h.k * sigma / ((u + h.k) * c)) +
                               h.m / h.k * std::log1p(rise / (h.m + h.k));
        return CopySign(std::max(measure, -MeasureLimit), y);
    }
    const double cLess1 = sigma * sigma / (c + 1);
    const double mLess1 = h.k * h.k / (h.m + 1);
    const double rise = (cLess1 * root + sigma * (cLess1 * h.m + mLess1)) / (root + sigma);
    return CopySign(std::log1p(rise) + mLess1 * std::asinh(h.m * sigma / h.k), y);
}

double ProfileCurveMeasureHyperbolicNumeric(double x, double y, const RevTex& record) {
    if (!UsableAxes(record.profile.a, record.profile.b)) return 0;
    const Hyperbola h = HyperbolaOf(record);
    const double tau = h.ParameterOf(x, y);
    if (record.lType == 0) return CopySign(h.ArcLength(tau), y);
    if (h.meetsAxis) {
        // ds / x has a 1 / sinh tau pole at the vertex: ln tanh(tau / 2) takes it exactly.
        if (tau <= 0) return CopySign(-MeasureLimit, y);
        const double regular = Integrate(
            [&](double t) { return t <= 0 ? 0.0 : (h.Speed(t) - h.a) / (h.a * std::sinh(t)); }, tau);
        return CopySign(std::max(std::log(std::tanh(tau / 2)) + regular, -MeasureLimit), y);
    }
    return CopySign(Integrate([&](double t) { return h.Speed(t) / h.Radius(t); }, tau), y);
}

double ProfileCurveMeasureParabolic(double x, double y, const RevTex& record) {
    const double p = std::fabs(record.profile.a);
    if (!(p > 0) || !std::isfinite(p)) return 0;
    const double ay = std::fabs(y);
    const double px = p * ay >= 0.5 ? std::sqrt(2 * ay / p) : x;
    const double t = p * px;
    const double m = std::sqrt(t * t + 1);
    double result = 0;
    if (record.lType == 0) {
        result = (std::log(m + t) / p + m * px) / 2;
    } else if (m <= 1) {
        result = -MeasureLimit;
    } else {
        result = std::max(m - 0.5 * std::log((m + 1) / (m - 1)), -MeasureLimit);
    }
    return record.profile.a < 0 ? -result : result;
}

double ProfileRadiusElliptic(double s, const RevTex& record) {
    const double linear = record.slope * s + record.offset;
    if (RevTexSecondTable(record).empty()) return linear;
    if (record.profile.type == static_cast<std::int16_t>(ProfileKind::EllipticPolar)) {
        const double w = std::max(QuarterArc(record) - std::fabs(s) / record.profile.b, 0.0);
        return record.profile.b * SecondTableAt(record, w) + linear;
    }
    const double w = std::max(std::fabs(s) / record.profile.a, 0.0);
    return record.profile.a * SecondTableAt(record, w) + linear;
}

double ProfileRadiusHyperbolic(double s, const RevTex& record) {
    const double linear = record.slope * s + record.offset;
    if (RevTexSecondTable(record).empty() || !UsableAxes(record.profile.a, record.profile.b)) {
        return linear;
    }
    const HyperbolaForm h = HyperbolaFormOf(record);
    const double sigma = HyperbolicSigma(std::fabs(s) / h.q, h, record);
    return (h.meetsAxis ? h.p * sigma : h.q * std::sqrt(1 + sigma * sigma)) + linear;
}

double ProfileRadiusHyperbolicNumeric(double s, const RevTex& record) {
    const double linear = record.slope * s + record.offset;
    if (!UsableAxes(record.profile.a, record.profile.b)) return linear;
    const Hyperbola h = HyperbolaOf(record);
    const double target = std::fabs(s);
    // Arc length grows at least as fast as min(a, b) tau: bracket, then bisect.
    double hi = target / std::min(h.a, h.b) + 1e-9;
    hi = std::min(hi, 40.0);
    double lo = 0;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (h.ArcLength(mid) < target ? lo : hi) = mid;
    }
    return h.Radius((lo + hi) / 2) + linear;
}

double ProfileRadiusParabolic(double s, const RevTex& record) {
    const double linear = record.slope * s + record.offset;
    const double p = std::fabs(record.profile.a);
    if (!(p > 0) || !std::isfinite(p)) return linear;
    const double as = std::fabs(s);
    const double t = p * as;
    const double w = t / (std::sqrt(t * t + 0.25) + 0.5);
    const double e = w * (0.5 * (1 - w) * w + 1);
    const double f = e > 1e-8 ? 0.5 * std::log((1 + e) / (1 - e)) / e : 1.0;
    const double n = (2 * std::sqrt(1 - e * e) + e) * as / ((1 - e * e) * f + 1);
    return 2 * n / (std::sqrt(2 * p * n + 1) + 1) + linear;
}

double ProfileRadiusAt(double lengthCoord, const RevTex& record, double previous) {
    const double s = lengthCoord - record.lOffset;
    switch (static_cast<ProfileKind>(record.profile.type)) {
        case ProfileKind::Elliptic:
        case ProfileKind::EllipticPolar:
            return ProfileRadiusElliptic(s, record);
        case ProfileKind::Straight:
            return (lengthCoord - record.start) * record.profile.a + record.profile.r1;
        case ProfileKind::HyperbolicPolar:
        case ProfileKind::Hyperbolic:
            return ProfileRadiusHyperbolic(s, record);
        case ProfileKind::Parabolic:
            return ProfileRadiusParabolic(s, record);
    }
    return previous;
}
