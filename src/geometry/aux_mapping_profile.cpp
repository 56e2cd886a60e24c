#include "geometry/aux_mapping_profile.h"

#include "core/check.h"
#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "texture/piecewise_cubic.h"
#include "texture/surface_tex_coords.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>
#include <numbers>

namespace {

constexpr int MaxOctaveNumber = 21;                         // a modulus of 1e-6
constexpr int MaxPieces = 4 * (MaxOctaveNumber + 2);        // 92
constexpr double SmallestModulus = 1e-6;
constexpr std::uint32_t EntryUnitBytes = 16;
constexpr int SumTermLimit = 400;  // the series below converge long before this

// f and df/dt of a density at one knot.
struct Sample {
    double f = 0;
    double df = 0;
};

// The octave number of a table and the blend weight of its first two levels.
struct Octaves {
    int n = 2;
    double weight = 0;
    int Pieces() const { return 4 * (n + 2); }
};

Octaves OctavesOf(double modulus) {
    const double x = std::max(modulus, SmallestModulus);
    const double e = -std::log(x) / std::numbers::ln2;
    const int whole = static_cast<int>(e);
    const int n = e >= 0 ? whole : whole - 1;
    Octaves o;
    o.n = std::clamp(n + 2, 1, MaxOctaveNumber);
    o.weight = std::clamp(e - n, 0.0, 1.0);
    return o;
}

// Knot i of a table: level 0 in four steps of 2^-N / 4, then quarter octaves up to 2.
double KnotAt(const Octaves& o, int i) {
    const double s0 = std::ldexp(1.0, -o.n);
    if (i <= 4) return i * s0 / 4;
    const int level = i / 4;
    const int quarter = i % 4;
    return std::ldexp(1.0 + quarter / 4.0, level - 1 - o.n);
}

// The densities at the knots of one table. A knot that ends one piece and starts the next
// normally has one sample; `end` differs from `start` only where a density jumps (the far
// half of the ellipsoid's second table).
struct Knots {
    Octaves octaves;
    std::array<double, MaxPieces + 1> t{};
    std::array<Sample, MaxPieces + 1> start{};
    std::array<Sample, MaxPieces + 1> end{};
    int Pieces() const { return octaves.Pieces(); }
};

Knots KnotsOf(const Octaves& o) {
    Knots k;
    k.octaves = o;
    for (int i = 0; i <= o.Pieces(); ++i) k.t[static_cast<std::size_t>(i)] = KnotAt(o, i);
    return k;
}

// The middle knot of each pair of steps in the first two levels: the exact density blended
// with the cubic over the pair. With weight 0 the pair is that one cubic, which is what the
// same stretch was in the table of the next lower octave number, so a modulus that crosses a
// power of two changes the table continuously.
void BlendFirstLevels(Knots& k) {
    const double w = k.octaves.weight;
    for (std::size_t i = 1; i < 8; i += 2) {
        const Sample a = k.start[i - 1];
        const Sample b = k.start[i + 1];
        const double h = k.t[i] - k.t[i - 1];
        const Sample cubic{(a.f + b.f) / 2 - h * (b.df - a.df) / 4,
                           0.75 * (b.f - a.f) / h - (a.df + b.df) / 4};
        const Sample blended{w * k.start[i].f + (1 - w) * cubic.f,
                             w * k.start[i].df + (1 - w) * cubic.df};
        k.start[i] = blended;
        k.end[i] = blended;
    }
}

// The cubic of one step: f, and the c2, c3 that make its derivative meet the density's value
// and slope at both ends; the step's integral by the trapezium rule with its end correction
// (exact for that cubic).
struct Step {
    double c1 = 0;
    double c2 = 0;
    double c3 = 0;
    double integral = 0;
};

Step StepOf(const Sample& a, const Sample& b, double h) {
    Step s;
    s.c1 = a.f;
    s.c2 = ((b.f - a.f) / h - (b.df - a.df) / 2) / 2;
    s.c3 = (b.df - a.df) / (6 * h);
    s.integral = h * ((a.f + b.f) / 2 - h * (b.df - a.df) / 12);
    return s;
}

// Writes the running integral from t = 0; returns the integral up to t = 1.
double WriteForwardTable(const Knots& k, CubicPiece* out) {
    double integral = 0;
    double atOne = 0;
    for (int i = 0; i < k.Pieces(); ++i) {
        const auto u = static_cast<std::size_t>(i);
        if (k.t[u] == 1.0) atOne = integral;
        const Step s = StepOf(k.start[u], k.end[u + 1], k.t[u + 1] - k.t[u]);
        out[u] = {static_cast<float>(integral), static_cast<float>(s.c1),
                  static_cast<float>(s.c2), static_cast<float>(s.c3)};
        integral += s.integral;
    }
    return atOne;
}

// Writes the integral from each point to the table's far end (t = 2), walking from there;
// returns that integral from t = 0.
double WriteBackwardTable(const Knots& k, CubicPiece* out) {
    double integral = 0;
    for (int i = k.Pieces() - 1; i >= 0; --i) {
        const auto u = static_cast<std::size_t>(i);
        const Step s = StepOf(k.start[u], k.end[u + 1], k.t[u + 1] - k.t[u]);
        integral += s.integral;
        out[u] = {static_cast<float>(integral), static_cast<float>(-s.c1),
                  static_cast<float>(-s.c2), static_cast<float>(-s.c3)};
    }
    return integral;
}

template <typename Density>
void SampleAll(Knots& k, Density&& density) {
    for (int i = 0; i <= k.Pieces(); ++i) {
        const auto u = static_cast<std::size_t>(i);
        k.start[u] = density(k.t[u]);
        k.end[u] = k.start[u];
    }
}

// The next quarter-octave point above x > 0: 2^j (1 + i / 4).
double NextQuarterPoint(double x) {
    constexpr double Floor = 0x1p-30;
    if (x < Floor) return Floor;
    int exponent = 0;
    const double mantissa = 2 * std::frexp(x, &exponent);  // [1, 2)
    const double quarter = std::floor((mantissa - 1) * 4) + 1;
    return std::ldexp(1 + quarter / 4, exponent - 1);
}

// The integral of g from `from` to `to` (from <= to) over sub-steps that end at quarter-octave
// points, each by the trapezium rule with its end correction.
template <typename G>
double IntegrateByQuarterOctaves(G&& g, double from, double to) {
    double sum = 0;
    double x = from;
    Sample a = g(x);
    while (x < to) {
        const double next = std::min(NextQuarterPoint(x), to);
        const Sample b = g(next);
        const double h = next - x;
        sum += h * ((a.f + b.f) / 2 - h * (b.df - a.df) / 12);
        x = next;
        a = b;
    }
    return sum;
}

// ---- the densities ----

// Elliptic cylinder: arc length of the ellipse of semi-axes q and p from the end of q.
Sample CylinderDensity(double p, double e, double t) {
    const double A = 1 + t * t;
    const double H = p * p * A * A + 4 * e * e * t * t;
    const double root = std::sqrt(H);
    const double dH = 4 * p * p * A * t + 8 * e * e * t;
    return {2 * root / (A * A), dH / (root * A * A) - 8 * t * root / (A * A * A)};
}

// f = 2 c sqrt(X) with X = num / den, by the logarithmic derivative of X.
Sample RootOfRatio(double c, double num, double dNum, double den, double dDen) {
    const double f = 2 * c * std::sqrt(num / den);
    return {f, f * (dNum / num - dDen / den) / 2};
}

// Hyperboloid, around the waist ellipse: 2 e3 sqrt(1/A^2 - c^2 / M), M = e3^2 A^2 + 4 e1^2 t^2,
// written as one ratio so that nothing cancels at t = 0.
Sample WaistDensity(double p, double e1, double e3, double t) {
    const double A = 1 + t * t;
    const double M = e3 * e3 * A * A + 4 * e1 * e1 * t * t;
    const double dM = 4 * e3 * e3 * A * t + 8 * e1 * e1 * t;
    const double num = p * p * A * A + 4 * e1 * e1 * t * t;
    const double dNum = 4 * p * p * A * t + 8 * e1 * e1 * t;
    return RootOfRatio(e3, num, dNum, A * A * M, 4 * t * A * M + A * A * dM);
}

// Hyperboloid, along the generators.
Sample GeneratorDensity(double p, double c, double e2, double e3, double t) {
    const double B = 1 - t * t;
    const double dB = -2 * t;
    const double H3 = e3 * e3 * B * B + 4 * e2 * e2 * t * t;
    const double Hc = c * c * B * B + 4 * e2 * e2 * t * t;
    const double dH3 = 2 * e3 * e3 * B * dB + 8 * e2 * e2 * t;
    const double dHc = 2 * c * c * B * dB + 8 * e2 * e2 * t;
    const double root = std::sqrt(H3 * Hc);
    const double D = H3 + root;
    const double dD = dH3 + (dH3 * Hc + H3 * dHc) / (2 * root);
    const double k = 2 * p * p * e3;
    return {k * B / D, k * (dB * D - B * dD) / (D * D)};
}

// Ellipsoid, first section, k < k': 2 sqrt(r^2 / (A^2 - 4 k t^2) - (r^2 - p^2) / A^2).
Sample NearSectionDensity(double p, double delta, double k, double t) {
    const double A = 1 + t * t;
    const double G = A * A - 4 * k * t * t;
    const double dG = 4 * A * t - 8 * k * t;
    const double num = p * p * A * A + 4 * k * delta * t * t;
    const double dNum = 4 * p * p * A * t + 8 * k * delta * t;
    return RootOfRatio(1, num, dNum, A * A * G, 4 * t * A * G + A * A * dG);
}

// Ellipsoid, first section, k >= k': 2 sqrt(p^2 / (k A^2 + 4 k' t^2) + (r^2 - p^2) / A^2).
Sample FarSectionDensity(double p, double delta, double k, double t) {
    const double A = 1 + t * t;
    const double G = k * A * A + 4 * (1 - k) * t * t;
    const double dG = 4 * k * A * t + 8 * (1 - k) * t;
    const double num = p * p * A * A + delta * G;
    const double dNum = 4 * p * p * A * t + delta * dG;
    return RootOfRatio(1, num, dNum, A * A * G, 4 * t * A * G + A * A * dG);
}

// The odd series of the ellipsoid's second section near its switch point, S(u), and S'(u).
struct Series {
    double a1 = 0;
    double a3 = 0;
    double a5 = 0;
    double a7 = 0;
    double At(double u) const {
        const double v = u * u;
        return u * (a1 + v * (a3 + v * (a5 + v * a7)));
    }
    double Slope(double u) const {
        const double v = u * u;
        return a1 + v * (3 * a3 + v * (5 * a5 + v * 7 * a7));
    }
};

Series SeriesOf(double m, double rho) {
    const double r2 = rho * rho;
    const double r4 = r2 * r2;
    Series s;
    s.a1 = 1 + (m / 4) * r2 * (1 - (3 - 1.75 * m) * r2 / 4 + (r4 / 8) * (1.875 * m * m - 5.5 * m + 5));
    s.a3 = (m / 4) * (1 - (1 - 1.75 * m) * r2 / 4 + r4 * (6.5 * m * m - 13 * m + 5) / 24);
    s.a5 = (m / 8) * (1 - (1 - 1.25 * m - 0.6875 * m * m) * r2 / 6);
    s.a7 = m * (1 - 0.125 * m + 0.0625 * m * m) / 12;
    return s;
}

// The isometric density of the second section in a half-angle tangent s:
// 2 sigma sqrt((4 m s^2 + (1 - s^2)^2) / (4 s^2 + rho^2 (1 + s^2)^2)) / (1 + s^2).
struct IsometricDensity {
    double sigma = 0;
    double m = 0;
    double rho = 0;
    Sample operator()(double s) const {
        const double s2 = s * s;
        const double A = 1 + s2;
        const double num = 4 * m * s2 + (1 - s2) * (1 - s2);
        const double den = 4 * s2 + rho * rho * A * A;
        const double dNum = 8 * m * s - 4 * s * (1 - s2);
        const double dDen = 8 * s + 4 * rho * rho * s * A;
        const double g = 2 * sigma * std::sqrt(num / den) / A;
        return {g, g * (dNum / (2 * num) - dDen / (2 * den) - 2 * s / A)};
    }
};

// y + sqrt(y^2 + e) without cancellation when y is negative.
double AddRoot(double y, double e) {
    const double root = std::sqrt(y * y + e);
    return y >= 0 ? y + root : e / (root - y);
}

// ---- the entries ----

struct Sorted {
    double p = 0;
    double q = 0;
    double r = 0;
};

bool Positive(double x) { return x > 0 && std::isfinite(x); }

double Sqrt0(double x) { return std::sqrt(std::max(x, 0.0)); }

CubicPiece* PiecesOf(SurfaceMappingEntry& e) { return reinterpret_cast<CubicPiece*>(&e + 1); }

std::uint32_t EntryBytes(int pieces) {
    return EntryUnitBytes * (static_cast<std::uint32_t>(pieces) + SurfaceMappingEntryFixedUnits);
}

std::uint32_t StoredByteSize(const void* buffer) {
    std::uint32_t size = 0;
    std::memcpy(&size, static_cast<const std::byte*>(buffer) + offsetof(SurfaceMappingEntry, byteSize),
                sizeof(size));
    return size;
}

// Makes slot i hold at least `bytes` and returns its entry with the head copied in and every
// other fixed field cleared; the buffer keeps its size when it is large enough. The new buffer
// is allocated before the old one goes, so a refusal leaves the slot as it was.
SurfaceMappingEntry& PrepareEntry(BufferArray& list, std::int32_t i, const SurfaceMappingEntry& head,
                                  std::uint32_t bytes) {
    void*& slot = list.buffers[i];
    std::uint32_t size = slot != nullptr ? StoredByteSize(slot) : 0;
    if (size < bytes) {
        void* grown = PrivateAlloc(bytes);
        PrivateFree(slot);
        slot = grown;
        size = bytes;
    }
    auto* entry = new (slot) SurfaceMappingEntry;
    std::memcpy(static_cast<void*>(entry), &head, offsetof(SurfaceMappingEntry, byteSize));
    entry->byteSize = size;
    entry->fadeRatio = -1.0f;
    return *entry;
}

// An entry that no reader measures: the head, no pieces and no quarter measure.
void WriteUnusable(BufferArray& list, std::int32_t i, const SurfaceMappingEntry& head) {
    PrepareEntry(list, i, head, EntryBytes(0));
}

// Each builder returns the number of pieces it wrote.
int BuildCylinder(BufferArray& list, std::int32_t i, const SurfaceMappingEntry& head) {
    const double p = std::min(head.a, head.b);
    const double q = std::max(head.a, head.b);
    const double e = Sqrt0(q * q - p * p);
    const Octaves o = OctavesOf(p / (q + e));
    SurfaceMappingEntry& entry = PrepareEntry(list, i, head, EntryBytes(o.Pieces()));
    entry.swapFlag = head.b <= head.a ? 1 : 0;
    entry.pieceCount0 = static_cast<std::uint32_t>(o.Pieces());
    entry.indexBias0 = static_cast<std::uint32_t>(CubicTableBaseCode(o.n));
    Knots k = KnotsOf(o);
    SampleAll(k, [&](double t) { return CylinderDensity(p, e, t); });
    BlendFirstLevels(k);
    entry.quarterMeasure = WriteForwardTable(k, PiecesOf(entry));
    return o.Pieces();
}

int BuildHyperboloid(BufferArray& list, std::int32_t i, const SurfaceMappingEntry& head) {
    const double p = std::min(head.a, head.b);
    const double q = std::max(head.a, head.b);
    const double c = head.c;
    const double e1 = Sqrt0(q * q - p * p);
    const double e2 = std::sqrt(c * c + q * q);
    const double e3 = std::sqrt(p * p + c * c);
    const Octaves o0 = OctavesOf(p / (e1 + q));
    const Octaves o1 = OctavesOf(c / (q + e2));
    SurfaceMappingEntry& entry =
        PrepareEntry(list, i, head, EntryBytes(o0.Pieces() + o1.Pieces()));
    entry.swapFlag = head.b <= head.a ? 1 : 0;
    entry.pieceCount0 = static_cast<std::uint32_t>(o0.Pieces());
    entry.indexBias0 = static_cast<std::uint32_t>(CubicTableBaseCode(o0.n));
    entry.indexBias1 = static_cast<std::uint32_t>(CubicTableBaseCode(o1.n));
    entry.moduleRatio = e1 / e3;
    entry.axisTerm = e3;
    Knots k0 = KnotsOf(o0);
    SampleAll(k0, [&](double t) { return WaistDensity(p, e1, e3, t); });
    BlendFirstLevels(k0);
    entry.quarterMeasure = WriteForwardTable(k0, PiecesOf(entry));
    Knots k1 = KnotsOf(o1);
    SampleAll(k1, [&](double t) { return GeneratorDensity(p, c, e2, e3, t); });
    BlendFirstLevels(k1);
    WriteForwardTable(k1, PiecesOf(entry) + o0.Pieces());
    return o0.Pieces() + o1.Pieces();
}

// The ellipsoid's head axes sorted: the largest gives the polar axis (axisCode 0 c, 1 b,
// 2 a; a tie goes to a before b and c, and to b before c), and swapFlag says the larger of
// the two others lies along the first coordinate across the polar axis.
struct EllipsoidAxes {
    Sorted s;
    std::uint16_t axisCode = 0;
    std::uint8_t swapFlag = 0;
};

EllipsoidAxes SortEllipsoidAxes(double a, double b, double c) {
    EllipsoidAxes x;
    if (b <= a) {
        x.axisCode = c <= a ? 2 : 0;
    } else {
        x.axisCode = c <= b ? 1 : 0;
    }
    switch (x.axisCode) {
        case 0:
            x.swapFlag = b <= a ? 1 : 0;
            x.s = {std::min(a, b), std::max(a, b), c};
            break;
        case 1:
            x.swapFlag = c > a ? 1 : 0;
            x.s = {std::min(a, c), std::max(a, c), b};
            break;
        default:
            x.swapFlag = b > c ? 1 : 0;
            x.s = {std::min(b, c), std::max(b, c), a};
            break;
    }
    return x;
}

// The ellipsoid's second table with k < k': asinh(S(u) / kappa) up to the switch point, then
// the closed form in the isometric measure I, continued from knot to knot.
void SampleNearSecondSection(Knots& k, const Series& series, const IsometricDensity& g,
                             double kappa, double tau) {
    const double rho = g.rho;
    const double tTau = tau / (1 + std::sqrt(1 - tau * tau));
    const double sTau = series.At(tau);
    double measure = std::log(AddRoot(sTau, rho * rho));
    double from = tTau;
    for (int i = 0; i <= k.Pieces(); ++i) {
        const auto n = static_cast<std::size_t>(i);
        const double t = k.t[n];
        const double A = 1 + t * t;
        Sample out;
        if (t < tTau) {
            const double u = 2 * t / A;
            const double s = series.At(u);
            out.f = std::asinh(s / kappa);
            out.df = series.Slope(u) * (2 * (1 - t * t) / (A * A)) / std::sqrt(s * s + kappa * kappa);
        } else {
            measure += IntegrateByQuarterOctaves(g, from, t);
            from = t;
            const double e = std::exp(-2 * measure);
            const double y = (1 - rho * rho * e) / (2 * kappa);
            out.f = measure + std::log(AddRoot(y, e));
            out.df = (1 + rho * rho * e) * g(t).f / (2 * kappa * std::sqrt(y * y + e));
        }
        k.start[n] = out;
        k.end[n] = out;
    }
}

// The ellipsoid's second table with k >= k', walked from t = 2 down: nothing beyond the
// quarter turn (t >= 1), the series S(u) of u = cos theta below the switch point, and above
// it the closed form (e^I - rho^2 e^-I) / 2 in the isometric measure I of the mirrored
// variable (1 - t) / (1 + t), which is 0 at the quarter turn and 1 at t = 0; I starts where
// the closed form meets the series.
void SampleFarSecondSection(Knots& k, const Series& series, const IsometricDensity& g,
                            double tau) {
    const double rho = g.rho;
    const double mirroredTau = tau / (1 + std::sqrt(1 - tau * tau));
    double measure = std::log(AddRoot(series.At(tau), rho * rho));
    double from = mirroredTau;
    for (int i = k.Pieces(); i >= 0; --i) {
        const auto n = static_cast<std::size_t>(i);
        const double t = k.t[n];
        const double A = 1 + t * t;
        if (t >= 1) {
            k.start[n] = {};
            // The piece that ends at the quarter turn ends on the series at u = 0.
            k.end[n] = t == 1 ? Sample{0, -series.Slope(0)} : Sample{};
            continue;
        }
        const double u = (1 - t * t) / A;
        Sample out;
        if (u < tau) {
            out.f = series.At(u);
            out.df = series.Slope(u) * (-4 * t / (A * A));
        } else {
            const double mirrored = (1 - t) / (1 + t);
            measure += IntegrateByQuarterOctaves(g, from, mirrored);
            from = mirrored;
            const double up = std::exp(measure);
            const double down = rho * rho / up;
            out.f = (up - down) / 2;
            out.df = (up + down) / 2 * g(mirrored).f * (-2 / ((1 + t) * (1 + t)));
        }
        k.start[n] = out;
        k.end[n] = out;
    }
}

// Sum of f(n) for n = first, first + 1, ... up to and including the first term whose size is
// at or below `limit`.
template <typename F>
double SumUntilSmall(int first, double limit, F&& f) {
    double sum = 0;
    for (int n = first; n < first + SumTermLimit; ++n) {
        const double term = f(n);
        sum += term;
        if (!(std::fabs(term) > limit)) break;
    }
    return sum;
}

// Constants of the conformal correction with k < k'.
void NearConstants(SurfaceMappingEntry& e, const Sorted& s, double rho) {
    const double E = std::exp(-2 * e.sectionMeasure1);
    const double g = (s.q / s.r) * (1 - E);
    const double gh = std::sqrt(g * g + E * rho * rho);
    const double P1 = std::pow(g + gh, 4);
    const double P2 = std::pow(gh - g, 4);
    const double Q = E * E * std::pow(rho, 4);
    const double r2 = rho * rho;
    e.g = g;
    e.gh = gh;

    double product = 1;
    for (int n = 1; n <= SumTermLimit; ++n) {
        const double p1n = std::pow(P1, n);
        const double p2n = std::pow(P2, n);
        const double u = (p2n + p1n - 2 * std::pow(Q, n)) /
                         (p2n + p1n + (2 * g * g + E * r2) * 2 * r2 * E * std::pow(Q, n - 1));
        product = n % 2 == 1 ? product / u : product * u;
        if (!(u < 0.999999999999)) break;
    }
    e.logProduct = std::log(product);

    for (int j = 0; j < 4; ++j) {
        const double sum = SumUntilSmall(1, 1e-12, [&](int m) {
            const double term = std::pow(4 * r2 * E * std::pow(Q, m - 1) /
                                             (std::pow(P2, m) + std::pow(P1, m)),
                                         j + 1);
            return m % 2 == 1 ? term : -term;
        });
        e.series[j] = (j % 2 == 0 ? -sum : sum) / (j + 1);
    }

    const double D = 2 * E * (2 * g * g + E * r2);
    double vSum = 0;
    double wSum = 0;
    for (int m = 1; m <= 5; ++m) {
        const double T = E * r2 * std::pow(Q, m - 1);
        const double sign = m % 2 == 1 ? 1 : -1;
        const double p = std::pow(P1, m) + std::pow(P2, m);
        vSum += sign * T / (p - D * T);
        wSum -= sign * T / (p + D * T);
    }
    const double V = gh / g + 8 * g * gh * vSum;
    const double W = (g / gh + 8 * g * gh * wSum) / V;
    e.turnScale = PI * V / (2 * e.quarterMeasure);
    e.ellipticity = std::max(0.0, 1 - W * W);
}

// Constants of the conformal correction with k >= k'; g is where the second table's backward
// walk ended.
void FarConstants(SurfaceMappingEntry& e, double g, double rho) {
    const double gh = std::sqrt(g * g + rho * rho);
    const double Dp = gh + g;
    const double Dm = gh - g;
    e.g = g;
    e.gh = gh;
    for (int j = 0; j < 4; ++j) {
        const double sum = SumUntilSmall(2, 1e-16, [&](int m) {
            return std::pow(2 * std::pow(rho, 2 * m) /
                                (std::pow(Dm, 2 * m + 1) + std::pow(Dp, 2 * m + 1)),
                            2 * j + 1);
        });
        e.series[j] = (j % 2 == 0 ? 1 : -1) * sum / (2 * j + 1);
    }
    double vSum = 0;
    double wSum = 0;
    for (int m = 1; m <= 5; ++m) {
        vSum += 2 * std::pow(rho, 2 * m) / (std::pow(Dm, 2 * m) + std::pow(Dp, 2 * m));
        wSum += 2 * std::pow(rho, 2 * m - 1) / (std::pow(Dm, 2 * m - 1) + std::pow(Dp, 2 * m - 1));
    }
    const double V1 = 1 + 2 * vSum;
    const double W1 = 2 * wSum / V1;
    e.turnScale = PI * V1 / (2 * e.quarterMeasure);
    e.ellipticity = std::max(0.0, 1 - W1 * W1);
}

// The length coordinate at which the body texture gives way to the pole maps: the mapper's
// v at the reference point of the section through q and r, read with the sorted axes on x, y
// and z.
double BandHalfHeight(SurfaceMappingEntry& e, const Sorted& s, const AuxMappingReference& ref) {
    double y0 = 0;
    double z0 = 0;
    switch (ref.kind) {
        case AuxMappingReference::Kind::Outer: {
            const double S = std::sqrt(s.q * s.q + 0.5625 * s.r * s.r);
            y0 = s.q * s.q / S;
            z0 = 0.75 * s.r * s.r / S;
            break;
        }
        case AuxMappingReference::Kind::Point:
            y0 = ref.y0;
            z0 = ref.z0;
            break;
        default: {
            const double S = std::sqrt(s.q * s.q + s.r * s.r);
            y0 = s.q * s.q / S;
            z0 = s.r * s.r / S;
            break;
        }
    }
    e.a = s.p;
    e.b = s.q;
    e.c = s.r;
    e.axisCode = 0;
    e.swapFlag = 0;
    return EllipsoidTexCoords({0, y0, z0}, e, nullptr).length;
}

int BuildEllipsoid(BufferArray& list, std::int32_t i, const SurfaceMappingEntry& head,
                    const AuxMappingReference& reference) {
    const EllipsoidAxes axes = SortEllipsoidAxes(head.a, head.b, head.c);
    const Sorted s = axes.s;
    const double e1 = Sqrt0(s.q * s.q - s.p * s.p);
    const double e2 = Sqrt0(s.r * s.r - s.q * s.q);
    const double e3 = Sqrt0(s.r * s.r - s.p * s.p);
    const double delta = s.r * s.r - s.p * s.p;
    const double k = delta > 0 ? std::clamp((s.q * s.q - s.p * s.p) / delta, 0.0, 1.0) : 0.0;
    const bool far = k >= 1 - k;
    double rho = 0;
    double x0 = 0;
    double x1 = 0;
    if (!far) {
        x0 = s.p / (e1 + s.q);
        x1 = s.q / (e2 + s.r);
        rho = e2 > 0 ? e1 / e2 : 0;
    } else {
        x0 = e1 / (e2 + e3);
        x1 = s.p / (e1 + s.q);
        rho = e1 > 0 ? e2 / e1 : 0;
    }
    const Octaves o0 = OctavesOf(x0);
    const Octaves o1 = OctavesOf(x1);
    SurfaceMappingEntry& entry =
        PrepareEntry(list, i, head, EntryBytes(o0.Pieces() + o1.Pieces()));
    entry.pieceCount0 = static_cast<std::uint32_t>(o0.Pieces());
    entry.indexBias0 = static_cast<std::uint32_t>(CubicTableBaseCode(o0.n));
    entry.indexBias1 = static_cast<std::uint32_t>(CubicTableBaseCode(o1.n));
    entry.branchFlag = far ? 1 : 0;
    entry.moduleRatio = rho;
    if (!far) entry.axisTerm = 2 * s.q / s.r;

    // Table 0, the section across the polar axis.
    Knots k0 = KnotsOf(o0);
    if (!far) {
        SampleAll(k0, [&](double t) { return NearSectionDensity(s.p, delta, k, t); });
    } else {
        SampleAll(k0, [&](double t) { return FarSectionDensity(s.p, delta, k, t); });
    }
    BlendFirstLevels(k0);
    entry.quarterMeasure = WriteForwardTable(k0, PiecesOf(entry));

    // The switch point between the series and the closed form of table 1.
    entry.moduleNorm = std::sqrt(1 + rho * rho);
    const double sigma = s.q * PI * entry.moduleNorm / (2 * entry.quarterMeasure);
    double tau = std::pow(sigma / (4096 * std::numbers::ln2), 0.125);
    tau = far ? std::min(tau, 0.6) : tau * s.q / s.r;
    if (rho > tau) tau = rho < 2 * tau ? 2 * tau - rho : 0;
    tau = std::clamp(tau, 0.0, 1.0);

    // Table 1, the second principal section in the variable of the conformal map.
    const double m = far ? s.p * s.p / (s.q * s.q) : s.r * s.r / (s.q * s.q);
    const Series series = SeriesOf(m, rho);
    const IsometricDensity g{sigma, m, rho};
    Knots k1 = KnotsOf(o1);
    CubicPiece* table1 = PiecesOf(entry) + o0.Pieces();
    if (!far) {
        SampleNearSecondSection(k1, series, g, entry.axisTerm, tau);
        BlendFirstLevels(k1);
        entry.sectionMeasure1 = WriteForwardTable(k1, table1);
        NearConstants(entry, s, rho);
    } else {
        SampleFarSecondSection(k1, series, g, tau);
        BlendFirstLevels(k1);
        FarConstants(entry, WriteBackwardTable(k1, table1), rho);
    }

    entry.bandHalfHeight = BandHalfHeight(entry, s, reference);
    std::memcpy(static_cast<void*>(&entry), &head, offsetof(SurfaceMappingEntry, byteSize));
    entry.fadeRatio = -1.0f;
    entry.axisCode = axes.axisCode;
    entry.swapFlag = axes.swapFlag;
    return o0.Pieces() + o1.Pieces();
}

// True when every number the readers take from the entry, and its first `pieces` pieces, are
// finite.
bool EntryFinite(const SurfaceMappingEntry& e, int pieces) {
    const double fixed[] = {e.bandHalfHeight, e.axisTerm, e.sectionMeasure1, e.turnScale,
                            e.ellipticity,    e.moduleRatio, e.moduleNorm,   e.g,
                            e.gh,             e.logProduct, e.quarterMeasure, e.series[0],
                            e.series[1],      e.series[2],   e.series[3]};
    for (const double x : fixed) {
        if (!std::isfinite(x)) return false;
    }
    const auto* table = reinterpret_cast<const CubicPiece*>(&e + 1);
    for (int i = 0; i < pieces; ++i) {
        const CubicPiece& p = table[i];
        if (!std::isfinite(p.c0) || !std::isfinite(p.c1) || !std::isfinite(p.c2) ||
            !std::isfinite(p.c3)) {
            return false;
        }
    }
    return true;
}

void BuildEntry(BufferArray& list, std::int32_t i, const SurfaceMappingEntry& head,
                const AuxMappingReference& reference) {
    const auto kind = static_cast<SurfaceMapperKind>(head.kindWord & 0xFF);
    const bool axesUsable = Positive(head.a) && Positive(head.b) &&
                            (kind == SurfaceMapperKind::EllipticCylinder || Positive(head.c));
    if (!SurfaceMapperKindKnown(head) || !axesUsable) {
        WriteUnusable(list, i, head);
        return;
    }
    int pieces = 0;
    switch (kind) {
        case SurfaceMapperKind::Ellipsoid:
            pieces = BuildEllipsoid(list, i, head, reference);
            break;
        case SurfaceMapperKind::Hyperboloid:
            pieces = BuildHyperboloid(list, i, head);
            break;
        case SurfaceMapperKind::EllipticCylinder:
            pieces = BuildCylinder(list, i, head);
            break;
    }
    // Axes so far apart that a measure overflows give no mapping rather than NaN texels.
    if (!EntryFinite(AuxMappingEntry(list, i), pieces)) WriteUnusable(list, i, head);
}

// Grows the pointer array to count slots, each new slot a fresh 212-byte buffer holding only
// its size.
void GrowList(BufferArray& list, std::int32_t count) {
    if (count <= list.capacity) return;
    PrivateRealloc(reinterpret_cast<void**>(&list.buffers),
                   static_cast<std::uint32_t>(count) * static_cast<std::uint32_t>(sizeof(void*)));
    for (std::int32_t i = list.capacity; i < count; ++i) list.buffers[i] = nullptr;
    const std::int32_t first = list.capacity;
    list.capacity = count;
    for (std::int32_t i = first; i < count; ++i) {
        void* fresh = PrivateAllocZeroed(SurfaceMappingEntryFreshBytes);
        const std::uint32_t size = SurfaceMappingEntryFreshBytes;
        std::memcpy(static_cast<std::byte*>(fresh) + offsetof(SurfaceMappingEntry, byteSize), &size,
                    sizeof(size));
        list.buffers[i] = fresh;
    }
}

}  // namespace

void BuildAuxMappingProfile(BufferArray& list, std::span<const SurfaceMappingEntry> heads,
                            const AuxMappingReference& reference) {
    ORBELLE_CHECK(list.count >= 0 && static_cast<std::size_t>(list.count) <= heads.size());
    GrowList(list, list.count);
    for (std::int32_t i = 0; i < list.count; ++i) {
        BuildEntry(list, i, heads[static_cast<std::size_t>(i)], reference);
    }
}

const SurfaceMappingEntry& AuxMappingEntry(const BufferArray& list, std::int32_t i) {
    ORBELLE_CHECK(i >= 0 && i < list.capacity);
    const SurfaceMappingEntry* entry = SurfaceMappingEntryOf(list.buffers[i]);
    ORBELLE_CHECK(entry != nullptr);
    return *std::launder(entry);
}

SurfaceMappingEntry AuxMappingHead(SurfaceMapperKind kind, double a, double b, double c) {
    SurfaceMappingEntry head;
    head.a = a;
    head.b = b;
    head.c = c;
    head.transform = Matrix4W{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    head.kindWord = static_cast<std::uint32_t>(kind);
    return head;
}

void AuxMappingHeadSetAffine(SurfaceMappingEntry& head, const Vec3& t, const Matrix3& rows) {
    const std::array<double, 3> translation{t.x, t.y, t.z};
    head.transform = Matrix4W{};
    head.transform.m[0] = 1;
    for (std::size_t i = 0; i < 3; ++i) {
        head.transform.m[4 * (i + 1)] = translation[i];
        for (std::size_t j = 0; j < 3; ++j) {
            head.transform.m[4 * (i + 1) + j + 1] = rows.m[3 * i + j];
        }
    }
    head.transformKind = 1;
}

void BuildPartAuxMapping(PartRenderRecord& part, std::span<SurfaceMappingEntry> scratch,
                         std::span<const SurfaceMappingEntry> heads, std::int32_t firstSurface,
                         const AuxMappingReference& reference) {
    if (part.auxTex == nullptr || scratch.empty()) return;
    ORBELLE_CHECK(heads.size() <= scratch.size());
    std::copy(heads.begin(), heads.end(), scratch.begin());
    BufferArray& list = *part.auxTex;
    list.firstIndex = firstSurface;
    list.count = static_cast<std::int32_t>(heads.size());
    BuildAuxMappingProfile(list, scratch.first(heads.size()), reference);
}
