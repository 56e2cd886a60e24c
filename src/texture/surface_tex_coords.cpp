#include "texture/surface_tex_coords.h"

#include "core/scalar_maths.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

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
    // b + root is 0 only where k' y = 0 and x = k, which for k = 1 is the end of p.
    const double cosTheta2 =
        b >= 0 ? (b + root > 0 ? 2 * kc * y / (b + root) : 0.0) : (root - b) / (2 * k);
    out.cosTheta2 = std::clamp(cosTheta2, 0.0, 1.0);
    // 1 - k sin^2 theta, formed from cos^2 theta where k is near 1 (and 0 at the end of p of
    // an ellipsoid with q = r, whose point then lies on the equator).
    const double across = k < 0.5 ? 1 - k * out.sinTheta2 : kc + k * out.cosTheta2;
    out.cosChi2 = across > 0 ? std::clamp(z / across, 0.0, 1.0) : 0.0;
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

// The bounded rest of eta's density at chi.
struct LatitudeRest {
    double p = 0;
    double e1 = 0;
    double e2 = 0;
    double operator()(double chi) const {
        const double s = std::sin(chi);
        const double d = e1 * e1 + e2 * e2 * s * s;
        return std::sqrt(d) / (std::sqrt(d + p * p) + p);
    }
};

constexpr int LatitudePieces = 3;

// H, eta from the equator to the umbilic arc: the same at every point of the entry.
double LatitudeQuarter(double p, double e1, double e2, double e3) {
    return p * CarlsonRf(0, e3 * e3, e1 * e1) +
           GaussLegendreIntegral(LatitudeRest{p, e1, e2}, 0, PI / 2, 2 * LatitudePieces);
}

// `whole` is LatitudeQuarter of the same axes.
ConformalLatitude ConformalLatitudeAt(const ConfocalAngles& c, double p, double e1, double e2,
                                      double e3, double whole) {
    const LatitudeRest rest{p, e1, e2};
    constexpr int Pieces = LatitudePieces;
    const double chi = std::atan2(std::sqrt(c.sinChi2), std::sqrt(c.cosChi2));
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

// ---- the same map where q lies nearer r than p (k >= 1/2) ----
//
// Table 0 of such an entry measures the other family of lines (chi), so xi is worked out
// below. As q -> r the ring of z grows thin (H' -> 0) and the products above converge slowly,
// so f is rewritten by Jacobi's imaginary transformation. In theta functions of nome s^2
// (tau = 4 i H' / pi), f = z s^(1/2) theta4(zeta + i H') / theta4(zeta - i H') with
// zeta = xi' + i eta', and with tau' = -1 / tau,
//     theta4(v | tau) = (-i tau)^(-1/2) e^(i tau' v^2 / pi) theta2(v tau' | tau'),
// turns that into
//     f = s^(1/2) theta1(epsilon | q') / theta2(epsilon | q'),   q' = e^(-pi^2 / (4 H')),
//     epsilon = pi (delta' + i xi') / (4 H') = pi (delta + i xi) / (4 H),
// delta = H - eta the distance from the umbilic arc and H = eta at the arc. In the unscaled
// xi and eta nothing depends on the quarter measure of xi but the nome: ln q' = -a with
// a = pi Xi / (2 H), Xi = xi over a quarter turn. With the products of theta1 and theta2,
//     R = f / s^(1/2) = tan epsilon prod_{n>=1} (1 - u)(1 - v) / ((1 + u)(1 + v)),
//     u = q'^(2n) e^(2 i epsilon),   v = q'^(2n) e^(-2 i epsilon),
// and angle + i length = -i ln R: the same map as above, the angle 0 on the q-r section and a
// quarter turn on the p-r section (R is then imaginary), the length 0 on the equator (|R| = 1)
// and growing like -ln of the distance at the pole (R = 0 at epsilon = 0). Its scale is
// (pi / (4 H)) |d ln R / d epsilon| / sqrt(A - a). The factors fall like q'^(2n) e^(2 Im epsilon);
// in the first quadrant of the cross-section (0 <= xi <= Xi, the others by symmetry)
// Im epsilon <= a / 2, so they fall at least like e^(-a (2n - 1)). H' stays above 1 for most
// shapes with k >= 1/2 and falls to 0 only as q -> r, like 1 / ln(r / (r - q)); where H' >= pi / 4
// the products in z fall faster and serve instead (with xi' worked out as below). When q = r,
// Xi is infinite: q' = 0 and R = tan epsilon, the limit of the shapes that approach it.
//
// Xi = int_0^(pi/2) sqrt(N / D) dtheta with N = p^2 + e1^2 sin^2 theta, D = e2^2 + e1^2 cos^2 theta
// (N + D = r^2), split as r / sqrt(D), an elliptic integral of the first kind (Carlson's RF),
// less the bounded rest sqrt(D) / (r + sqrt(N)). Near theta = pi / 2 that rest bends over an
// angle e2 / e1, so from theta = atan 2 (sin^2 theta = 0.8) on it is integrated in tau with
// cos theta = (e2 / e1) sinh tau, where sqrt(D) = e2 cosh tau, on pieces no wider than 0.8
// (the nearest singularity, sin theta = 0, lies about 0.8 beyond the last piece or farther).

// Below this e2 / e1 the entry counts as q = r.
constexpr double RoundEndRatio = 1e-9;

struct LongitudeRest {
    double p = 0;
    double r = 0;
    double e1 = 0;
    double e2 = 0;
    // At theta, by the angle itself.
    double operator()(double theta) const {
        const double c = std::cos(theta);
        const double s = std::sin(theta);
        const double d = e2 * e2 + e1 * e1 * c * c;
        return std::sqrt(d) / (r + std::sqrt(p * p + e1 * e1 * s * s));
    }
    // The integral of the rest from pi / 2 - phi to pi / 2 (tan phi <= 1/2), in tau.
    double Tail(double phi) const {
        const double ratio = e2 / e1;
        const double top = std::asinh(std::sin(phi) / ratio);
        const int pieces = std::clamp(static_cast<int>(std::ceil(top / 0.8)), 1, 32);
        const auto inTau = [&](double tau) {
            const double ch = std::cosh(tau);
            const double c = ratio * std::sinh(tau);  // cos theta
            const double s = std::sqrt(std::max(1 - c * c, 0.0));
            const double rootD = e2 * ch;
            return rootD * ratio * ch / (s * (r + std::sqrt(p * p + e1 * e1 * s * s)));
        };
        return GaussLegendreIntegral(inTau, 0, top, pieces);
    }
};

constexpr int LongitudePieces = 3;
constexpr double LongitudeSwitch = 0.8;  // sin^2 theta where the tail takes over

// Xi, infinite for q = r.
double LongitudeQuarter(double p, double r, double e1, double e2, double e3) {
    if (!(e2 > RoundEndRatio * e1)) return std::numeric_limits<double>::infinity();
    const LongitudeRest rest{p, r, e1, e2};
    return r * CarlsonRf(0, e2 * e2, e3 * e3) -
           GaussLegendreIntegral(rest, 0, std::atan(2.0), 2 * LongitudePieces) -
           rest.Tail(std::atan(0.5));
}

// xi from the end of q to the point's theta in [0, pi / 2], given Xi.
double LongitudeAt(const ConfocalAngles& c, double p, double r, double e1, double e2, double e3,
                   double quarter) {
    const LongitudeRest rest{p, r, e1, e2};
    const double d = e2 * e2 + e1 * e1 * c.cosTheta2;
    if (c.sinTheta2 < LongitudeSwitch || !std::isfinite(quarter)) {
        const double theta = std::atan2(std::sqrt(c.sinTheta2), std::sqrt(c.cosTheta2));
        return r * std::sqrt(c.sinTheta2) * CarlsonRf(e3 * e3 * c.cosTheta2, d, e3 * e3) -
               GaussLegendreIntegral(rest, 0, theta, LongitudePieces);
    }
    const double phi = std::atan2(std::sqrt(c.cosTheta2), std::sqrt(c.sinTheta2));
    return quarter - (r * std::sqrt(c.cosTheta2) * CarlsonRf(e2 * e2 * c.sinTheta2, d, e2 * e2) -
                      rest.Tail(phi));
}

// ln R and d ln R / d epsilon at epsilon = x + i y, 0 <= x <= pi / 4, y >= 0, for the nome
// e^(-a) (a infinite: no product).
struct ModularTerms {
    std::complex<double> log;
    std::complex<double> slope;
};

ModularTerms ModularAt(double x, double y, double a) {
    using Complex = std::complex<double>;
    // tan epsilon = i (1 - w) / (1 + w), w = e^(2 i epsilon); 1 - w without cancellation.
    const double decay = std::exp(-2 * y);
    const double half = std::sin(x);
    const Complex w = decay * std::polar(1.0, 2 * x);
    Complex rising(-std::expm1(-2 * y) + 2 * decay * half * half, -decay * std::sin(2 * x));
    if (std::abs(rising) < 1e-24) rising = Complex(1e-24, 0);
    const Complex falling = 1.0 + w;
    ModularTerms out;
    out.log = Complex(0, PI / 2) + std::log(rising) - std::log(falling);
    out.slope = Complex(0, -4) * w / (rising * falling);
    if (!std::isfinite(a)) return out;
    for (int n = 1; n <= 64; ++n) {
        const double big = -2 * a * n + 2 * y;  // ln |v|
        if (big < -40) break;
        const Complex u = std::exp(-2 * a * n - 2 * y) * std::polar(1.0, 2 * x);
        const Complex v = std::exp(big) * std::polar(1.0, -2 * x);
        out.log += std::log(1.0 - u) + std::log(1.0 - v) - std::log(1.0 + u) - std::log(1.0 + v);
        out.slope += Complex(0, 4) * (v / (1.0 - v * v) - u / (1.0 - u * u));
    }
    return out;
}

// The quarter measures of the map, worked out from the axes p <= q <= r alone.
EllipsoidQuarterMeasures QuarterMeasuresOf(double p, double q, double r) {
    const double e1 = std::sqrt(std::max(q * q - p * p, 0.0));
    const double e2 = std::sqrt(std::max(r * r - q * q, 0.0));
    const double e3 = std::sqrt(std::max(r * r - p * p, 0.0));
    EllipsoidQuarterMeasures out;
    if (!(e1 > 0) || !(e3 > 0)) return out;
    out.latitude = LatitudeQuarter(p, e1, e2, e3);
    out.longitude = LongitudeQuarter(p, r, e1, e2, e3);
    return out;
}

// The last few quarter measures worked out, by the axes they belong to: a part's pixels ask
// for the same entry one after another, and a rebuilt entry with other axes misses.
const EllipsoidQuarterMeasures& CachedQuarterMeasures(double p, double q, double r) {
    struct Slot {
        double p = -1;
        double q = -1;
        double r = -1;
        EllipsoidQuarterMeasures measures;
    };
    thread_local std::array<Slot, 8> slots;
    thread_local std::size_t next = 0;
    for (const Slot& slot : slots) {
        if (slot.p == p && slot.q == q && slot.r == r) return slot.measures;
    }
    Slot& slot = slots[next];
    next = (next + 1) % slots.size();
    slot = {p, q, r, QuarterMeasuresOf(p, q, r)};
    return slot.measures;
}

// The cross semi-axes and coordinates of a point in the map's terms: p the smaller cross
// semi-axis with the coordinate X along it, q the larger with Y, r the polar one.
struct TriaxialPoint {
    double p = 0;
    double q = 0;
    double r = 0;
    double X = 0;
    double Y = 0;
};

TriaxialPoint TriaxialPointOf(const CrossPoint& c, bool swap) {
    return {swap ? c.bq : c.ap, swap ? c.ap : c.bq, c.cw, swap ? c.q : c.p, swap ? c.p : c.q};
}

// TriaxialAngleTangent at the point c of the map, d the map's derivative by xi' + i eta' (with
// xi' growing as the cross angle does), written in (p, q, w) of c.
bool CrossAngleTangent(const CrossPoint& c, bool swap, const TriaxialPoint& t,
                       const ConfocalAngles& angles, const AngleFrame& frame, double e1, double e2,
                       double e3, std::complex<double> d, Vec3& crossTangent) {
    // The cross ellipse's angle direction at the frame's point, carried from (p, q) of c to
    // (X, Y).
    const Vec3 crossDirection = AngleTangent(frame, 0);
    const std::array<double, 2> along =
        swap ? std::array<double, 2>{crossDirection.y, crossDirection.x}
             : std::array<double, 2>{crossDirection.x, crossDirection.y};
    Vec3 v;
    if (!TriaxialAngleTangent(angles, t.p, t.q, t.r, e1, e2, e3, std::copysign(1.0, t.X),
                              std::copysign(1.0, t.Y), along, d, v)) {
        return false;
    }
    // The lower half is the upper one mirrored, with its length turned round: the same angle
    // direction, mirrored.
    if (c.w < 0) v.z = -v.z;
    crossTangent = swap ? Vec3{v.y, v.x, v.z} : Vec3{v.x, v.y, v.z};
    return true;
}

// Replaces the revolution's angle, length and scale of out by the angle-keeping map above for
// an ellipsoid whose cross semi-axes differ; leaves them for equal ones. Entries with branch
// flag 0 read xi' from table 0 and use the products in z; the others work xi out and use the
// products in z or the transformed ones, whichever fall faster. With crossTangent non-null, also
// writes there the unit direction of growing angle at fixed length, in (p, q, w) of c, and says
// whether it did.
bool ApplyTriaxialMap(const CrossPoint& c, bool swap, const SurfaceMappingEntry& e,
                      std::span<const CubicPiece> table0, double perLength,
                      const EllipsoidQuarterMeasures* given, SurfaceTexCoords& out,
                      Vec3* crossTangent = nullptr) {
    const TriaxialPoint t = TriaxialPointOf(c, swap);
    const double p = t.p;
    const double q = t.q;
    const double X = t.X;
    const double Y = t.Y;
    const double r = t.r;
    const double e1 = std::sqrt(std::max(q * q - p * p, 0.0));
    const double e2 = std::sqrt(std::max(r * r - q * q, 0.0));
    const double e3 = std::sqrt(std::max(r * r - p * p, 0.0));
    const bool fromTable = e.branchFlag == 0 && e2 > e1;
    if (!(e1 > 1e-6 * q)) return false;
    double x = (X / p) * (X / p);
    double y = (Y / q) * (Y / q);
    double z = (c.w / r) * (c.w / r);
    const double sum = x + y + z;
    if (!(sum > 0) || !std::isfinite(sum)) return false;
    x /= sum;
    y /= sum;
    z /= sum;
    const EllipsoidQuarterMeasures& quarters =
        given != nullptr ? *given : CachedQuarterMeasures(p, q, r);
    const ConfocalAngles angles = ConfocalAnglesOf(x, y, z, e1 * e1 / (e3 * e3));
    // The angle is the one of the cross ellipse's point on the same line of curvature.
    const double cp = std::copysign(p * std::sqrt(angles.sinTheta2), X);
    const double cq = std::copysign(q * std::sqrt(angles.cosTheta2), Y);
    const AngleFrame frame = MakeAngleFrame(swap ? cq : cp, swap ? cp : cq, c.ap, c.bq, swap);
    const double stretch = e1 * e1 * angles.cosTheta2 + e2 * e2 * angles.sinChi2;
    if (fromTable) {
        const double xi = AngleFromLargerAxis(frame, e, table0, perLength);
        const double scale = perLength * e3;
        const ConformalLatitude latitude =
            ConformalLatitudeAt(angles, p, e1, e2, e3, quarters.latitude);
        const double eta = scale * latitude.fromEquator;
        const double delta = scale * latitude.fromArc;
        const UniformizerTerms terms = UniformizerAt(xi, eta, delta, eta + delta);
        out.angle = TurnForSwap(xi + terms.log.imag(), swap);
        const double length = eta - terms.log.real();
        out.length = c.w < 0 ? -length : length;
        out.angleScale =
            scale * std::abs(1.0 + 2.0 * terms.slope) / std::sqrt(std::max(stretch, 1e-300));
        return crossTangent != nullptr && CrossAngleTangent(c, swap, t, angles, frame, e1, e2, e3,
                                                            1.0 + 2.0 * terms.slope, *crossTangent);
    }
    const double whole = quarters.latitude;
    if (!(whole > 0) || !(quarters.longitude > 0)) return false;
    const ConformalLatitude latitude = ConformalLatitudeAt(angles, p, e1, e2, e3, whole);
    const double xi = std::max(LongitudeAt(angles, p, r, e1, e2, e3, quarters.longitude), 0.0);
    // The products in z fall like e^(-8 H' n), the transformed ones like e^(-pi^2 n / (2 H')):
    // the first while H' >= pi / 4.
    const double prime = PI / (2 * quarters.longitude);  // xi' / xi, 0 for q = r
    double firstQuadrant = 0;
    double length = 0;
    double slope = 0;
    // The derivative of the first quadrant's angle + i length by xi + i eta, up to a positive
    // factor.
    std::complex<double> derivative;
    if (prime * whole >= PI / 4) {
        const double eta = prime * latitude.fromEquator;
        const double delta = prime * latitude.fromArc;
        const UniformizerTerms terms = UniformizerAt(prime * xi, eta, delta, prime * whole);
        firstQuadrant = prime * xi + terms.log.imag();
        length = eta - terms.log.real();
        derivative = 1.0 + 2.0 * terms.slope;
        slope = prime * std::abs(derivative);
    } else {
        const double unit = PI / (4 * whole);
        const ModularTerms terms = ModularAt(unit * std::max(latitude.fromArc, 0.0), unit * xi,
                                             PI * quarters.longitude / (2 * whole));
        firstQuadrant = terms.log.imag();
        length = -terms.log.real();
        // epsilon = unit (whole + i (xi + i eta)) and angle + i length = -i ln R.
        derivative = terms.slope;
        slope = unit * std::abs(derivative);
    }
    // The first quadrant's angle, carried to the point's quadrant as the cross angle is.
    double angle = firstQuadrant;
    if (frame.v < 0) angle = PI - angle;
    if (frame.u < 0) angle = TWO_PI - angle;
    out.angle = TurnForSwap(angle, swap);
    out.length = c.w < 0 ? -length : length;
    out.angleScale = slope / std::sqrt(std::max(stretch, 1e-300));
    if (crossTangent == nullptr) return false;
    // Mirrored once into the point's quadrant, the angle runs against xi and the map's
    // derivative by the cross angle's xi + i eta is the conjugate.
    const bool mirrored = (frame.u < 0) != (frame.v < 0);
    return CrossAngleTangent(c, swap, t, angles, frame, e1, e2, e3,
                             mirrored ? std::conj(derivative) : derivative, *crossTangent);
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

namespace {

// EllipsoidTexCoords with the map's quarter measures given, or from the cache when null.
SurfaceTexCoords EllipsoidCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                 const EllipsoidQuarterMeasures* quarters, Vec3* tangent) {
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
    const bool hasTangent =
        ApplyTriaxialMap(c, entry.swapFlag != 0, entry, table0, perLength, quarters, out,
                         tangent != nullptr ? &crossTangent : nullptr);
    out.axisRatio = f.b / f.a;
    if (tangent != nullptr) {
        *tangent = hasTangent ? FromCross(crossTangent.x, crossTangent.y, crossTangent.z, axisCode)
                              : AngleTangent(f, axisCode);
    }
    return out;
}

}  // namespace

SurfaceTexCoords EllipsoidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                    Vec3* tangent) {
    return EllipsoidCoords(point, entry, nullptr, tangent);
}

SurfaceTexCoords EllipsoidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                    const EllipsoidQuarterMeasures& quarters, Vec3* tangent) {
    return EllipsoidCoords(point, entry, &quarters, tangent);
}

EllipsoidQuarterMeasures EllipsoidQuarterMeasuresOf(const SurfaceMappingEntry& entry) {
    const int axisCode = entry.axisCode <= 2 ? entry.axisCode : 0;
    const TriaxialPoint t = TriaxialPointOf(ToCross({}, entry, axisCode), entry.swapFlag != 0);
    return QuarterMeasuresOf(t.p, t.q, t.r);
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
