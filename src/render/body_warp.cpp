#include "render/body_warp.h"

#include "core/scalar_maths.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

using Complex = std::complex<double>;

// The principal square root.
Complex PrincipalRoot(Complex w) {
    const double m = std::sqrt((std::abs(w) + w.real()) / 2.0);
    if (!(m > 0.0)) return Complex{0.0, std::sqrt(std::max(0.0, -w.real()))};
    return Complex{m, w.imag() / (2.0 * m)};
}

// sin of x + i y, from e^y and its reciprocal.
Complex SinOf(double x, double y) {
    const double e = std::exp(y);
    const double cosh = (e + 1.0 / e) / 2.0;
    const double sinh = (e - 1.0 / e) / 2.0;
    return Complex{std::sin(x) * cosh, std::cos(x) * sinh};
}

// asin t = arg(i t + sqrt(1 - t^2)) - i ln |i t + sqrt(1 - t^2)|, the argument as the arc
// tangent of the ratio.
Complex ArcSinOf(Complex t) {
    const Complex w = Complex{0.0, 1.0} * t + PrincipalRoot(1.0 - t * t);
    return Complex{std::atan(w.imag() / w.real()), -std::log(std::abs(w))};
}

// asinh t = ln |t + sqrt(1 + t^2)| + i arg(t + sqrt(1 + t^2)), the argument likewise.
Complex ArcSinhOf(Complex t) {
    const Complex w = t + PrincipalRoot(1.0 + t * t);
    return Complex{std::log(std::abs(w)), std::atan(w.imag() / w.real())};
}

// Stores the warped coordinates, u brought into [0, 2 pi], and returns the stretch; leaves
// (u, v) and returns 1 when any of them is not finite.
double KeepWarped(double warpedU, double warpedV, double stretch, double& u, double& v) {
    if (!std::isfinite(warpedU) || !std::isfinite(warpedV) || !std::isfinite(stretch)) {
        return 1.0;
    }
    if (warpedU < 0.0) {
        warpedU += 2.0 * PI;
    } else if (warpedU > 2.0 * PI) {
        warpedU -= 2.0 * PI;
    }
    u = warpedU;
    v = warpedV;
    return stretch;
}

}  // namespace

double WarpSurfaceCoords(const SurfaceMappingEntry& entry, double& u, double& v) {
    const double k = entry.warp[0];
    const double m = entry.warp[1];
    const double p = entry.warp[2];
    const double q = entry.warp[3];
    const double s = entry.warp[4];
    if (k == 0.0 || !std::isfinite(k)) return 1.0;
    const double c = u <= PI ? PI / 2.0 : 3.0 * PI / 2.0;
    const double x = k * (u - c);
    const double y = k * v;
    const Complex zeta{x, y};
    const Complex z = SinOf(x, y);
    const Complex z2 = z * z;
    const Complex root = PrincipalRoot(1.0 - m * z2);
    const Complex t = SinOf(2.0 * x, 2.0 * y) / root;
    const Complex g = (1.0 - 2.0 * z2 + m * z2 * z2) / ((1.0 - m * z2) * root);
    Complex w;
    Complex slope;
    if (((entry.kindWord >> 16) & 0xFF) == 0) {
        w = s * zeta + p * ArcSinOf(q * t);
        slope = s + 2.0 * p * q * g / PrincipalRoot(1.0 - q * q * t * t);
    } else {
        w = s * zeta + q * t;
        slope = s + 2.0 * q * g;
    }
    return KeepWarped(c + w.real() / k, w.imag() / k, std::abs(slope), u, v);
}

double WarpByEllipticIntegral(double scale, double modulus, double& u, double& v) {
    const double quarter = std::round(u / (PI / 2.0));  // halves away from zero
    const Complex z = SinOf(u - quarter * (PI / 2.0), v);
    const Complex denominator = 1.0 - modulus * z * z;
    const Complex t0 = z / PrincipalRoot(denominator);
    const double d = modulus - 1.0;
    Complex w = t0;
    if (d >= 0.001) {
        const double root = std::sqrt(d);
        w = ArcSinhOf(root * t0) / root;
    } else if (d <= -0.001) {
        // asin s = -i asinh(i s).
        const double root = std::sqrt(-d);
        w = Complex{0.0, -1.0} * ArcSinhOf(Complex{0.0, 1.0} * root * t0) / root;
    }
    const double turns = quarter == 4.0 ? 0.0 : quarter;
    return KeepWarped(turns * (PI / 2.0) + scale * w.real(), scale * w.imag(),
                      std::abs(scale) / std::abs(denominator), u, v);
}
