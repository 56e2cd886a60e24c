#include "texture/rev_tex.h"

#include "core/private_heap.h"

#include <algorithm>
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

// Composite Gauss-Legendre integration of f over [0, tau].
template <typename F>
double Integrate(F&& f, double tau) {
    constexpr double Nodes[4] = {-0.8611363115940526, -0.3399810435848563, 0.3399810435848563,
                                 0.8611363115940526};
    constexpr double Weights[4] = {0.3478548451374538, 0.6521451548625461, 0.6521451548625461,
                                   0.3478548451374538};
    const int panels = 32;
    const double h = tau / panels;
    double sum = 0;
    for (int i = 0; i < panels; ++i) {
        const double mid = (i + 0.5) * h;
        for (int j = 0; j < 4; ++j) sum += Weights[j] * f(mid + Nodes[j] * h / 2);
    }
    return sum * h / 2;
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

    const std::int32_t sizeBytes = static_cast<std::int32_t>(
        RevTexTableOffset + sizeof(CubicPiece) * static_cast<std::size_t>(firstCount + secondCount));
    RevTexGrow(record, sizeBytes, firstCount + secondCount);
    RevTex& r = *record;
    r.tablePieceCount = firstCount + secondCount;
    r.secondTableStart = firstCount;
    r.firstTableBase = CubicTableBaseCode(n);
    r.secondTableBase = CubicTableBaseCode(m);
    CubicPiece* tables = Tables(r);
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
