#include "texture/surface_tex_coords.h"

#include "core/scalar_maths.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>

namespace {

constexpr std::size_t MinTablePieces = 5;  // four uniform steps and the piece at the threshold

// A point seen from the surface's polar axis: its coordinates p, q across the axis with the
// semi-axes along them, and w along the axis with its semi-axis.
struct CrossPoint {
    double p = 0;
    double q = 0;
    double w = 0;
    double ap = 0;
    double bq = 0;
    double cw = 0;
};

// The polar axis is z for code 0, y for code 1 and x for code 2; the two axes across it follow
// in cyclic order, so (p, q, w) is a right-handed frame in every case.
CrossPoint ToCross(const Vec3& v, const SurfaceMappingEntry& e, int axisCode) {
    switch (axisCode) {
        case 1:
            return {v.z, v.x, v.y, e.c, e.a, e.b};
        case 2:
            return {v.y, v.z, v.x, e.b, e.c, e.a};
        default:
            return {v.x, v.y, v.z, e.a, e.b, e.c};
    }
}

Vec3 FromCross(double p, double q, double w, int axisCode) {
    switch (axisCode) {
        case 1:
            return {q, w, p};
        case 2:
            return {w, p, q};
        default:
            return {p, q, w};
    }
}

// The cross-section in the angle's own frame: u across, v along the larger semi-axis B, from
// whose end the angle starts. The swap flag says the larger semi-axis lies along p.
struct AngleFrame {
    double u = 0;
    double v = 0;
    double a = 0;
    double b = 0;
    bool swap = false;
};

AngleFrame MakeAngleFrame(double p, double q, double ap, double bq, bool swap) {
    if (swap) return {q, -p, bq, ap, true};
    return {p, q, ap, bq, false};
}

bool TableUsable(std::span<const CubicPiece> table) { return table.size() >= MinTablePieces; }

// The angle of (u, v) on its ellipse. t is the tangent of half the parametric angle from the
// v axis; of the two ways to get its sine the better conditioned one is taken (|u| / A near
// the v axis, sqrt(1 - (v / B)^2) near the u axis).
double AngleFromLargerAxis(const AngleFrame& f, const SurfaceMappingEntry& e,
                           std::span<const CubicPiece> table, double perLength) {
    const double au = std::fabs(f.u);
    const double av = std::fabs(f.v);
    const double vb = av / f.b;
    double w = 0;
    if (av * f.a * f.a <= au * f.b * f.b) {
        w = std::sqrt(std::max(0.0, 1 - vb * vb));
    } else {
        w = au / f.a;
    }
    const double t = w / (1 + vb);
    double phi = EvalPiecewiseCubic(static_cast<std::int32_t>(e.indexBias0), table,
                                    static_cast<float>(t)) *
                 perLength;
    if (f.v < 0) phi = PI - phi;
    if (f.u < 0) phi = TWO_PI - phi;
    return phi;
}

// An angle turned back by a quarter when the frame is swapped, in [0, 2 pi).
double TurnForSwap(double phi, bool swap) {
    if (swap) phi -= PI / 2;
    phi = std::fmod(phi, TWO_PI);
    if (phi < 0) phi += TWO_PI;
    // Rounding at the seam may give exactly 2 pi.
    if (!(phi < TWO_PI) || !(phi >= 0)) phi = 0;
    return phi;
}

double AngleInFrame(const AngleFrame& f, const SurfaceMappingEntry& e,
                    std::span<const CubicPiece> table, double perLength) {
    return TurnForSwap(AngleFromLargerAxis(f, e, table, perLength), f.swap);
}

bool SemiAxesUsable(double a, double b) {
    return a > 0 && b > 0 && std::isfinite(a) && std::isfinite(b);
}

// Unit tangent of the angle direction, d(angle) > 0, on the ellipse through (u, v): the
// gradient (u / A^2, v / B^2) turned a quarter, carried back to (p, q) and then to x, y, z.
Vec3 AngleTangent(const AngleFrame& f, int axisCode) {
    double tu = f.v / (f.b * f.b);
    double tv = -f.u / (f.a * f.a);
    const double length = std::sqrt(tu * tu + tv * tv);
    if (!(length > 0)) {
        tu = 1;
        tv = 0;
    } else {
        tu /= length;
        tv /= length;
    }
    // Swapped: u = q and v = -p, so p = -v and q = u.
    const double tp = f.swap ? -tv : tu;
    const double tq = f.swap ? tu : tv;
    return FromCross(tp, tq, 0, axisCode);
}

double Table1At(const SurfaceMappingEntry& e, std::span<const CubicPiece> table, double t) {
    return EvalPiecewiseCubic(static_cast<std::int32_t>(e.indexBias1), table,
                              static_cast<float>(t));
}

// The angle-preserving length along a meridian from the equator to the point at s = tan of
// its parametric latitude, on the ellipsoid of revolution of equatorial radius R and polar
// semi-axis c: the integral of sqrt(R^2 x^2 + c^2) / (R (1 + x^2)) from 0 to s. Splitting the
// numerator as R^2 (1 + x^2) + (c^2 - R^2) gives asinh(R s / c) plus (c^2 - R^2) / R times
// the integral of 1 / ((1 + x^2) sqrt(R^2 x^2 + c^2)), an arc tangent for a prolate shape and
// an area tangent for an oblate one, each over d = sqrt(|c^2 - R^2|). Near the pole it grows
// like ln(2 s), so the coordinate stays finite there.
double MeridianLength(double s, double R, double c) {
    const double d = std::sqrt(std::fabs(c * c - R * R));
    const double along = d * s / std::sqrt(R * R * s * s + c * c);
    double rest = 0;
    if (c > R) {
        rest = d * std::atan(along);
    } else if (c < R) {
        rest = -d * std::atanh(std::min(along, 1.0));
    }
    return std::asinh(R * s / c) + rest / R;
}

// Arc length of the unit parabola y = x^2 / 2 from its vertex to slope s, over s; 1 at s = 0.
double ParabolaArcRatio(double s) {
    if (s < 1e-4) return 1 + s * s / 6;
    const double root = std::sqrt(s * s + 1);
    return (s * root + std::log(s + root)) / (2 * s);
}

// ---- the angle-keeping map of an ellipsoid with three unequal axes ----
//
// Let p < q < r be the semi-axes, r the polar one, and X, Y, Z the point's coordinates along
// them. The confocal quadrics X^2/(p^2 - a) + Y^2/(q^2 - a) + Z^2/(r^2 - a) = 1 through the
// point have a in [p^2, q^2] (a hyperboloid of one sheet about the p axis) and A in [q^2, r^2]
// (one of two sheets about the polar axis); their traces on the ellipsoid are its lines of
// curvature. Written with two angles, a = p^2 + e1^2 sin^2 theta and A = q^2 + e2^2 sin^2 chi
// (e1^2 = q^2 - p^2, e2^2 = r^2 - q^2, e3^2 = r^2 - p^2, k = e1^2 / e3^2), the point is
//     X^2 = p^2 sin^2 theta (e1^2 + e2^2 sin^2 chi) / e3^2,
//     Y^2 = q^2 cos^2 theta sin^2 chi,
//     Z^2 = r^2 (1 - k sin^2 theta) cos^2 chi,
// and the metric separates: ds^2 = (A - a) (dxi^2 + deta^2) with
//     dxi  = sqrt(p^2 + e1^2 sin^2 theta) / sqrt(e3^2 - e1^2 sin^2 theta) dtheta,
//     deta = sqrt(p^2 + e1^2 + e2^2 sin^2 chi) / sqrt(e1^2 + e2^2 sin^2 chi) dchi.
// So (xi, eta) keep angles. theta runs around the polar axis (0 at the end of q, a quarter
// turn at the end of p), and e3 xi is exactly the measure of the entry's table 0, so scaled by
// pi / (2 Q) it is the angle coordinate xi' of a revolution (one turn 2 pi). chi runs from the
// equator (pi / 2) up to 0 on the arc of the p-r section between the four umbilics around the
// pole; eta is measured from the equator and scaled by the same factor, eta' = pi e3 eta / (2 Q),
// so it reaches H' (finite) on that arc, which both sides of the polar cap reach: at theta from
// Y > 0 and at pi - theta from Y < 0.
//
// In z = exp(i (xi' + i eta')) the upper half is the ring s^(1/2) <= |z| <= 1 with s = e^(-2 H'),
// its inner circle folded by z -> -s / z, the lower half (mirrored) continues it out to
// |z| = s^(-1/2), folded there by z -> -1 / (s z). The two folds compose to z -> z / s^2, so a
// function of z that both folds leave alone is elliptic with the multiplier s^2; the one with a
// single zero at the pole (z = s^(1/2)) and a single pole at the other pole (z = s^(-1/2)), each
// counted once per fold, maps the ellipsoid one to one onto the plane. In theta products,
//     f(z) = z s^(1/2) prod_{n>=0} (1 - s^(4n+1) / y)(1 - s^(4n+3) y)
//                                  / ((1 - s^(4n+1) y)(1 - s^(4n+3) / y)),   y = z^2.
// On the equator |y| = 1 and each factor has modulus 1, so the equator is the circle
// |f| = s^(1/2); f changes sign with z (a half turn about the polar axis), and is real on the
// principal sections. With L = ln(f / (z s^(1/2))) the coordinates are
//     angle = xi' + Im L,   length = eta' - Re L,
// the angle and the logarithmic radius of f: they keep angles everywhere but at the poles,
// the length is 0 on the equator and grows without bound at the pole like -ln of the distance,
// and the lower half is the mirror image (L of the mirrored point is -conj L). For p = q the
// products are 1 and eta' is the revolution's conformal latitude, so the map joins that of the
// ellipsoids of revolution. The scale of the map is pi e3 / (2 Q) |1 + 2 y L'(y)| / sqrt(A - a).
// The products converge like s^(4n); an entry with k < 1/2 (its branch flag 0) has
// e1 < e2 and H' well above 0.

// Carlson's symmetric integral RF(x, y, z) = 1/2 int_0^inf dt / sqrt((t + x)(t + y)(t + z)) for
// x, y, z >= 0, at most one of them 0, by its duplication theorem.
double CarlsonRf(double x, double y, double z) {
    double mean = (x + y + z) / 3;
    for (int i = 0; i < 60; ++i) {
        const double dx = 1 - x / mean;
        const double dy = 1 - y / mean;
        const double dz = -(dx + dy);
        if (std::max({std::fabs(dx), std::fabs(dy), std::fabs(dz)}) < 2e-3) {
            const double e2 = dx * dy - dz * dz;
            const double e3 = dx * dy * dz;
            return (1 - e2 / 10 + e3 / 14 + e2 * e2 / 24 - 3 * e2 * e3 / 44) / std::sqrt(mean);
        }
        const double sx = std::sqrt(x);
        const double sy = std::sqrt(y);
        const double sz = std::sqrt(z);
        const double lambda = sx * sy + sx * sz + sy * sz;
        x = (x + lambda) / 4;
        y = (y + lambda) / 4;
        z = (z + lambda) / 4;
        mean = (x + y + z) / 3;
    }
    return 1 / std::sqrt(mean);
}

// The integral of f over [from, to] by eight-point Gauss-Legendre rules on `pieces` equal
// parts.
template <typename F>
double GaussLegendreIntegral(F&& f, double from, double to, int pieces) {
    static constexpr std::array<double, 4> Nodes = {0.1834346424956498, 0.5255324099163290,
                                                    0.7966664774136267, 0.9602898564975363};
    static constexpr std::array<double, 4> Weights = {0.3626837833783620, 0.3137066458778873,
                                                      0.2223810344533745, 0.1012285362903763};
    const double h = (to - from) / pieces;
    double sum = 0;
    for (int i = 0; i < pieces; ++i) {
        const double middle = from + (i + 0.5) * h;
        for (std::size_t j = 0; j < Nodes.size(); ++j) {
            const double d = Nodes[j] * h / 2;
            sum += Weights[j] * (f(middle - d) + f(middle + d));
        }
    }
    return sum * h / 2;
}

// The two angles of a point given by its squared normalised coordinates x = X^2 / p^2,
// y = Y^2 / q^2, z = Z^2 / r^2 (summing to 1): sin^2 and cos^2 of theta and of chi, each
// formed without cancellation.
struct ConfocalAngles {
    double sinTheta2 = 0;
    double cosTheta2 = 1;
    double sinChi2 = 1;
    double cosChi2 = 0;
};

ConfocalAngles ConfocalAnglesOf(double x, double y, double z, double k) {
    // sin^2 theta is the smaller root S of k S^2 - (k + k' y + x) S + x = 0, and 1 - S the root
    // C of k C^2 + (k' y + x - k) C - k' y = 0.
    const double kc = 1 - k;
    const double b = kc * y + x - k;
    const double root = std::sqrt(b * b + 4 * k * kc * y);
    ConfocalAngles out;
    out.sinTheta2 = std::clamp(2 * x / (b + 2 * k + root), 0.0, 1.0);
    out.cosTheta2 = std::clamp(b >= 0 ? 2 * kc * y / (b + root) : (root - b) / (2 * k), 0.0, 1.0);
    out.cosChi2 = std::clamp(z / (1 - k * out.sinTheta2), 0.0, 1.0);
    out.sinChi2 = out.cosTheta2 > 0 ? std::min(y / out.cosTheta2, 1.0) : 1 - out.cosChi2;
    return out;
}

// eta from the equator and from the umbilic arc (delta = the whole H minus eta) at chi, for the
// semi-axis p and e1, e2, e3 > 0. The density sqrt(1 + p^2 / D), D = e1^2 + e2^2 sin^2 chi, is
// split into p / sqrt(D), whose integral is Carlson's RF, and the bounded rest
// sqrt(D) / (sqrt(D + p^2) + p).
struct ConformalLatitude {
    double fromEquator = 0;
    double fromArc = 0;
};

ConformalLatitude ConformalLatitudeAt(const ConfocalAngles& c, double p, double e1, double e2,
                                      double e3) {
    const auto rest = [&](double chi) {
        const double s = std::sin(chi);
        const double d = e1 * e1 + e2 * e2 * s * s;
        return std::sqrt(d) / (std::sqrt(d + p * p) + p);
    };
    constexpr int Pieces = 3;
    const double chi = std::atan2(std::sqrt(c.sinChi2), std::sqrt(c.cosChi2));
    const double whole =
        p * CarlsonRf(0, e3 * e3, e1 * e1) + GaussLegendreIntegral(rest, 0, PI / 2, 2 * Pieces);
    ConformalLatitude out;
    const double d2 = e1 * e1 + e2 * e2 * c.sinChi2;
    if (c.sinChi2 < 0.5) {
        out.fromArc = p * std::sqrt(c.sinChi2) * CarlsonRf(e1 * e1 * c.cosChi2, d2, e1 * e1) +
                      GaussLegendreIntegral(rest, 0, chi, Pieces);
        out.fromEquator = whole - out.fromArc;
    } else {
        out.fromEquator = p * std::sqrt(c.cosChi2) * CarlsonRf(e3 * e3 * c.sinChi2, d2, e3 * e3) +
                          GaussLegendreIntegral(rest, chi, PI / 2, Pieces);
        out.fromArc = whole - out.fromEquator;
    }
    return out;
}

// L and y L'(y) of the products above at the point (xi', eta') of the upper half, with
// s = e^(-2 H') and the distance delta' = H' - eta' from the umbilic arc given apart (the
// first factor vanishes at the pole and needs it exactly).
struct UniformizerTerms {
    std::complex<double> log;
    std::complex<double> slope;
};

UniformizerTerms UniformizerAt(double xi, double eta, double delta, double whole) {
    using Complex = std::complex<double>;
    UniformizerTerms out;
    // 1 - s / y = 1 - e^(-2 delta') e^(-2 i xi'), its real part without cancellation.
    const double decay = std::exp(-2 * delta);
    const double half = std::sin(xi);
    Complex first(-std::expm1(-2 * delta) + 2 * decay * half * half, decay * std::sin(2 * xi));
    if (std::abs(first) < 1e-24) first = Complex(1e-24, 0);
    out.log += std::log(first);
    out.slope += (1.0 - first) / first;
    const Complex turn = std::polar(1.0, 2 * xi);  // y / |y|
    // One factor (1 - w) of the product, w = e^(exponent) y or e^(exponent) / y.
    const auto add = [&](double exponent, bool overY, double sign) {
        const Complex w = std::exp(exponent) * (overY ? std::conj(turn) : turn);
        out.log += sign * std::log(1.0 - w);
        out.slope += sign * (overY ? w : -w) / (1.0 - w);
    };
    for (int n = 0; n < 200; ++n) {
        const double m1 = 4.0 * n + 1;
        const double m3 = 4.0 * n + 3;
        if (n > 0) add(-2 * m1 * whole + 2 * eta, true, 1);  // s^(4n+1) / y
        add(-2 * m3 * whole - 2 * eta, false, 1);            // s^(4n+3) y
        add(-2 * m1 * whole - 2 * eta, false, -1);           // s^(4n+1) y
        add(-2 * m3 * whole + 2 * eta, true, -1);            // s^(4n+3) / y
        if (-2 * (m1 + 4) * whole + 2 * eta < -40) break;
    }
    return out;
}

// The direction of growing angle at fixed length under the map above, at the point of the
// upper half whose confocal angles are given, with signs (sX, sY) of its coordinates X and Y
// (along p and q); in (X, Y, Z), unit length. The lines of curvature are orthogonal and share
// their scale, so with D = 1 + 2 y L'(y), the derivative of angle + i length by xi' + i eta',
// the direction is Re(1 / D) along growing xi' plus Im(1 / D) along growing eta'. Growing eta'
// is falling chi; growing xi' is the line of fixed chi taken the way that the cross ellipse's
// own angle grows (crossTangent, in (X, Y)). False where the lines of curvature have no
// direction (an umbilic).
bool TriaxialAngleTangent(const ConfocalAngles& angles, double p, double q, double r, double e1,
                          double e2, double e3, double sX, double sY,
                          const std::array<double, 2>& crossTangent, std::complex<double> d,
                          Vec3& tangent) {
    const double k = e1 * e1 / (e3 * e3);
    const double st = std::sqrt(angles.sinTheta2);
    const double ct = std::sqrt(angles.cosTheta2);
    const double sc = std::sqrt(angles.sinChi2);
    const double cc = std::sqrt(angles.cosChi2);
    const double S = std::sqrt(e1 * e1 + e2 * e2 * angles.sinChi2);
    const double W = std::sqrt(std::max(1 - k * angles.sinTheta2, 1e-300));
    // X = sX p sin(theta) S / e3, Y = sY q cos(theta) sin(chi), Z = r W cos(chi).
    Vec3 alongXi{sX * p * ct * S / e3, -sY * q * st * sc, -r * k * st * ct * cc / W};
    Vec3 alongEta{-sX * p * st * e2 * e2 * sc * cc / (S * e3), -sY * q * ct * cc, r * W * sc};
    const double xiLength = Vec3Length(alongXi);
    const double etaLength = Vec3Length(alongEta);
    const double turn = alongXi.x * crossTangent[0] + alongXi.y * crossTangent[1];
    if (!(xiLength > 0) || !(etaLength > 0) || turn == 0 || !(std::abs(d) > 0)) return false;
    const std::complex<double> inverse = 1.0 / d;
    const double u = (turn > 0 ? inverse.real() : -inverse.real()) / xiLength;
    const double v = inverse.imag() / etaLength;
    tangent = Vec3{u * alongXi.x + v * alongEta.x, u * alongXi.y + v * alongEta.y,
                   u * alongXi.z + v * alongEta.z};
    const double length = Vec3Length(tangent);
    if (!(length > 0) || !std::isfinite(length)) return false;
    tangent = Vec3{tangent.x / length, tangent.y / length, tangent.z / length};
    return true;
}

// Replaces the revolution's angle, length and scale of out by the angle-keeping map above for
// an ellipsoid whose cross semi-axes differ (with e1 < e2); leaves them for equal ones. With
// crossTangent non-null, also writes there the unit direction of growing angle at fixed length,
// in (p, q, w) of c, and says whether it did.
bool ApplyTriaxialMap(const CrossPoint& c, bool swap, const SurfaceMappingEntry& e,
                      std::span<const CubicPiece> table0, double perLength, SurfaceTexCoords& out,
                      Vec3* crossTangent = nullptr) {
    // p, the smaller cross semi-axis, with the coordinate X along it; q the larger, with Y.
    const double p = swap ? c.bq : c.ap;
    const double q = swap ? c.ap : c.bq;
    const double X = swap ? c.q : c.p;
    const double Y = swap ? c.p : c.q;
    const double r = c.cw;
    const double e1 = std::sqrt(std::max(q * q - p * p, 0.0));
    const double e2 = std::sqrt(std::max(r * r - q * q, 0.0));
    const double e3 = std::sqrt(std::max(r * r - p * p, 0.0));
    if (!(e1 > 1e-6 * q) || !(e2 > e1)) return false;
    double x = (X / p) * (X / p);
    double y = (Y / q) * (Y / q);
    double z = (c.w / r) * (c.w / r);
    const double sum = x + y + z;
    if (!(sum > 0) || !std::isfinite(sum)) return false;
    x /= sum;
    y /= sum;
    z /= sum;
    const ConfocalAngles angles = ConfocalAnglesOf(x, y, z, e1 * e1 / (e3 * e3));
    // The angle is the one of the cross ellipse's point on the same line of curvature.
    const double cp = std::copysign(p * std::sqrt(angles.sinTheta2), X);
    const double cq = std::copysign(q * std::sqrt(angles.cosTheta2), Y);
    const AngleFrame frame = MakeAngleFrame(swap ? cq : cp, swap ? cp : cq, c.ap, c.bq, swap);
    const double xi = AngleFromLargerAxis(frame, e, table0, perLength);
    const double scale = perLength * e3;
    const ConformalLatitude latitude = ConformalLatitudeAt(angles, p, e1, e2, e3);
    const double eta = scale * latitude.fromEquator;
    const double delta = scale * latitude.fromArc;
    const UniformizerTerms terms = UniformizerAt(xi, eta, delta, eta + delta);
    out.angle = TurnForSwap(xi + terms.log.imag(), swap);
    const double length = eta - terms.log.real();
    out.length = c.w < 0 ? -length : length;
    const double stretch = e1 * e1 * angles.cosTheta2 + e2 * e2 * angles.sinChi2;
    out.angleScale =
        scale * std::abs(1.0 + 2.0 * terms.slope) / std::sqrt(std::max(stretch, 1e-300));
    if (crossTangent == nullptr) return false;
    // The cross ellipse's angle direction at (cp, cq), carried from (p, q) of c to (X, Y).
    const Vec3 crossDirection = AngleTangent(frame, 0);
    const std::array<double, 2> along =
        swap ? std::array<double, 2>{crossDirection.y, crossDirection.x}
             : std::array<double, 2>{crossDirection.x, crossDirection.y};
    Vec3 t;
    if (!TriaxialAngleTangent(angles, p, q, r, e1, e2, e3, std::copysign(1.0, X),
                              std::copysign(1.0, Y), along, 1.0 + 2.0 * terms.slope, t)) {
        return false;
    }
    // The lower half is the upper one mirrored, with its length turned round: the same angle
    // direction, mirrored.
    if (c.w < 0) t.z = -t.z;
    *crossTangent = swap ? Vec3{t.y, t.x, t.z} : Vec3{t.x, t.y, t.z};
    return true;
}

}  // namespace

double SurfaceAngleCoord(double p, double q, const SurfaceMappingEntry& entry) {
    const auto table = SurfaceMappingEntryTable0(entry);
    if (!SurfaceMapperKindKnown(entry) || !TableUsable(table) || !(entry.quarterMeasure > 0) || !SemiAxesUsable(entry.a, entry.b)) {
        return 0;
    }
    return AngleInFrame(MakeAngleFrame(p, q, entry.a, entry.b, entry.swapFlag != 0), entry, table,
                        PI / (2 * entry.quarterMeasure));
}

SurfaceTexCoords SpheroidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                   Vec3* tangent) {
    SurfaceTexCoords out;
    const auto table0 = SurfaceMappingEntryTable0(entry);
    const auto table1 = SurfaceMappingEntryTable1(entry);
    if (SurfaceMappingEntryKind(entry) != SurfaceMapperKind::Hyperboloid ||
        !TableUsable(table0) || !TableUsable(table1) || !(entry.quarterMeasure > 0) ||
        !SemiAxesUsable(entry.a, entry.b) || !(entry.c > 0)) {
        if (tangent != nullptr) *tangent = X_AXIS;
        return out;
    }
    // The cross-section at height z is the waist ellipse scaled by n = cosh of the hyperbolic
    // parameter; the angle is read on the waist ellipse.
    const double s = point.z / entry.c;
    const double as = std::fabs(s);
    const double n = std::sqrt(s * s + 1);
    const double inverseN = 1 / n;
    const AngleFrame f = MakeAngleFrame(point.x * inverseN, point.y * inverseN, entry.a, entry.b,
                                        entry.swapFlag != 0);
    const double perLength = PI / (2 * entry.quarterMeasure);
    out.angle = AngleInFrame(f, entry, table0, perLength);
    const double length =
        (entry.axisTerm * std::log(n + as) - Table1At(entry, table1, as / (n + 1))) * perLength;
    out.length = s < 0 ? -length : length;
    const double k = entry.moduleRatio;
    const double along = k * f.v / f.b;
    out.angleScale = perLength / std::sqrt(std::max(n * n * (1 + k * k) - along * along, 1e-300));
    out.axisRatio = f.b / f.a;
    if (tangent != nullptr) *tangent = AngleTangent(f, 0);
    return out;
}

SurfaceTexCoords EllipsoidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                    Vec3* tangent) {
    SurfaceTexCoords out;
    const auto table0 = SurfaceMappingEntryTable0(entry);
    const int axisCode = entry.axisCode <= 2 ? entry.axisCode : 0;
    const CrossPoint c = ToCross(point, entry, axisCode);
    if (SurfaceMappingEntryKind(entry) != SurfaceMapperKind::Ellipsoid || !TableUsable(table0) ||
        !(entry.quarterMeasure > 0) || !SemiAxesUsable(c.ap, c.bq) || !(c.cw > 0) ||
        !std::isfinite(c.cw)) {
        if (tangent != nullptr) *tangent = FromCross(1, 0, 0, axisCode);
        return out;
    }
    // rho = cos and wn = sin of the parametric latitude; s = tan of it. At the poles rho is
    // held off zero so the coordinate stays finite (about 28 there).
    const double np = c.p / c.ap;
    const double nq = c.q / c.bq;
    const double rho = std::max(std::sqrt(np * np + nq * nq), 1e-12);
    const double wn = std::fabs(c.w / c.cw);
    const double as = wn / rho;
    const double n = std::sqrt(as * as + 1);
    const double inverseRho = 1 / rho;
    const AngleFrame f = MakeAngleFrame(c.p * inverseRho, c.q * inverseRho, c.ap, c.bq,
                                        entry.swapFlag != 0);
    const double perLength = PI / (2 * entry.quarterMeasure);
    out.angle = AngleInFrame(f, entry, table0, perLength);
    const double length = MeridianLength(as, 1 / perLength, c.cw);
    out.length = c.w < 0 ? -length : length;
    // The parallel through the point is the cross ellipse scaled by 1 / n.
    const double k = entry.moduleRatio;
    const double along = k * f.v / f.b;
    out.angleScale =
        perLength * n / std::sqrt(std::max(1 + k * k - along * along, 1e-300));
    // Unequal cross axes: the angle-keeping map of an ellipsoid with three axes, whose angle
    // runs along its own lines rather than the cross ellipse's.
    Vec3 crossTangent;
    bool hasTangent = false;
    if (entry.branchFlag == 0) {
        hasTangent = ApplyTriaxialMap(c, entry.swapFlag != 0, entry, table0, perLength, out,
                                      tangent != nullptr ? &crossTangent : nullptr);
    }
    out.axisRatio = f.b / f.a;
    if (tangent != nullptr) {
        *tangent = hasTangent ? FromCross(crossTangent.x, crossTangent.y, crossTangent.z, axisCode)
                              : AngleTangent(f, axisCode);
    }
    return out;
}

SurfaceTexCoords ParabolicStripTexCoords(const Vec3& point, const StripTexRecord& strip) {
    SurfaceTexCoords out;
    const StripArcRecord& arc = strip.arc;
    double u = strip.width > 0 ? 2 * point.z / strip.width : 0;
    u = std::isnan(u) ? 0 : std::clamp(u, -1.0, 1.0);
    const double halfWidth = ((1 - u) * arc.p0 + (1 + u) * arc.p1) / 2;
    const double g = std::fabs(arc.p2);
    if (!(halfWidth > 0) || !std::isfinite(halfWidth) || !std::isfinite(g)) return out;
    // Arc lengths across, from the vertex: x times the ratio at slope 2 g |x|.
    const double halfArc = halfWidth * ParabolaArcRatio(2 * g * halfWidth);
    const double ax = std::min(std::fabs(point.x), halfWidth);
    const double pointArc = ax * ParabolaArcRatio(2 * g * ax);
    const double fraction = std::min(pointArc / halfArc, 1.0);
    out.angle = PI * 0.5 * (1 + (point.x < 0 ? -fraction : fraction));
    if (strip.backFace != 0) out.angle += PI;
    if (!(out.angle < TWO_PI)) out.angle = 0;
    out.length = InverseArcLength(u, arc);
    out.angleScale = PI / (2 * halfArc);
    return out;
}
