#include "core/polynomial_roots.h"

#include "core/maths_internal.h"

#include <algorithm>
#include <cmath>

namespace {

// 2^ceil(e/3): a power of two not below the cube root of any x < 2^e.
double CubeRootBoundBelowPower(int exponent) {
    const int third = exponent >= 0 ? (exponent + 2) / 3 : -(-exponent / 3);
    return std::ldexp(1.0, third);
}

// The largest root of y^3 + p y - q = 0 for q >= 0, by Newton's method from an upper
// bound: the cubic is convex and increasing beyond its largest root, so the iterates fall
// monotonically onto it and the first step that fails to fall marks convergence.
double DepressedCubicLargestRoot(double p, double q) {
    int exponent = 0;
    std::frexp(q, &exponent);  // q < 2^exponent
    double y;
    if (p >= 0.0) {
        if (q == 0.0) return 0.0;
        // y^3 <= q and p y <= q.
        y = std::min(CubeRootBoundBelowPower(exponent), q / p);
    } else {
        // y^3 = q + |p| y <= 2 max(q, |p| y), so y <= max(cbrt(2q), sqrt(2|p|)).
        const double cubeBound = q > 0.0 ? CubeRootBoundBelowPower(exponent + 1) : 0.0;
        y = std::max(cubeBound, 1.4142135623730951 * std::sqrt(-p));
    }
    for (int step = 0; step < 200; ++step) {
        const double slope = 3.0 * y * y + p;
        if (!(slope > 0.0)) break;
        const double next = (2.0 * y * y * y + q) / slope;
        if (!(next < y)) break;
        y = next;
    }
    return y;
}

double EvaluateCubic(double a, double b, double c, double x) { return ((x + a) * x + b) * x + c; }

double EvaluateQuartic(double a, double b, double c, double d, double x) {
    return (((x + a) * x + b) * x + c) * x + d;
}

// Newton steps on the undepressed cubic, kept only while they reduce the residual: they
// repair what the shift by -a/3 cancelled away when the quadratic term dominates.
double PolishCubicRoot(double a, double b, double c, double x) {
    double fx = EvaluateCubic(a, b, c, x);
    for (int step = 0; step < 4 && fx != 0.0; ++step) {
        const double derivative = (3.0 * x + 2.0 * a) * x + b;
        if (derivative == 0.0 || !std::isfinite(derivative)) break;
        const double next = x - fx / derivative;
        const double fNext = EvaluateCubic(a, b, c, next);
        if (!(std::fabs(fNext) < std::fabs(fx))) break;
        x = next;
        fx = fNext;
    }
    return x;
}

// The first root of the quartic p to the right of the stationary point s, where p(s) < 0.
// About s, p(s + y) = y^4 + A y^3 + B y^2 + p(s); its positive stationary points (roots of
// 4y^2 + 3Ay + 2B) split the right half-line into pieces on which p is monotone, and the
// first piece whose right end is not negative holds the root. The root itself is found on
// p in its original form: the shifted coefficients carry the cancellation of the shift, so a
// flat root near 0 beside a deep minimum far away would lose most of its digits there.
// Bracketed Newton steps, bisecting whenever a step leaves the bracket.
double QuarticRootRightOf(double s, double a, double b, double c, double d, double coeffA,
                          double coeffB, double f) {
    const auto p = [&](double x) { return EvaluateQuartic(a, b, c, d, x); };
    const auto slope = [&](double x) { return ((4.0 * x + 3.0 * a) * x + 2.0 * b) * x + c; };

    double breaks[2] = {0.0, 0.0};
    int breakCount = 0;
    const double disc = 9.0 * coeffA * coeffA - 32.0 * coeffB;
    if (disc >= 0.0) {
        const double half = -0.5 * (3.0 * coeffA + std::copysign(std::sqrt(disc), coeffA));
        const double r1 = half / 4.0;
        const double r2 = half != 0.0 ? 2.0 * coeffB / half : 0.0;
        for (const double r : {std::min(r1, r2), std::max(r1, r2)}) {
            if (r > 0.0) breaks[breakCount++] = r;
        }
    }
    double lo = s;
    double hi = s;
    bool isBracketed = false;
    for (int i = 0; i < breakCount && !isBracketed; ++i) {
        const double x = s + breaks[i];
        if (p(x) >= 0.0) {
            hi = x;
            isBracketed = true;
        } else {
            lo = std::max(lo, x);
        }
    }
    if (!isBracketed) {
        // No root lies beyond 2 max(|A|, sqrt|B|, (|f|/2)^(1/4)) from s; doubling covers
        // rounding.
        double reach = 2.0 * std::max({std::fabs(coeffA), std::sqrt(std::fabs(coeffB)),
                                       std::sqrt(std::sqrt(-0.5 * f)), lo - s});
        hi = s + reach;
        for (int i = 0; i < 2100 && !(p(hi) >= 0.0); ++i) {
            reach *= 2.0;
            hi = s + reach;
        }
    }
    double x = hi;
    double best = hi;
    double bestValue = std::fabs(p(hi));
    for (int step = 0; step < 2200; ++step) {
        const double px = p(x);
        if (std::fabs(px) < bestValue) {
            best = x;
            bestValue = std::fabs(px);
        }
        if (px == 0.0) break;
        if (px < 0.0) {
            lo = x;
        } else {
            hi = x;
        }
        const double derivative = slope(x);
        double next = derivative != 0.0 ? x - px / derivative : lo;
        if (!(next > lo && next < hi)) next = lo + 0.5 * (hi - lo);
        if (next == x || next <= lo || next >= hi) break;
        x = next;
    }
    return best;
}

}  // namespace

double NormalisedCubicLargestRoot(double r) {
    const double sqrt3 = std::sqrt(3.0);
    double t;
    if (r >= std::sqrt(27.0) * 0.125 + 0.25) {
        t = 2.0 - (2.0 - r) / (std::sqrt(20.25 - (2.0 - r) * (sqrt3 * 0.5 + 5.0)) + 4.5);
    } else {
        t = sqrt3 + r / (std::sqrt((2.5 * sqrt3 + 1.0) * r + 9.0) + 3.0);
    }
    for (int step = 0; step < 4; ++step) t = (2.0 * t * t * t + r) / (3.0 * t * t - 3.0);
    return t;
}

int CubicRealRoots(double a, double b, double c, std::array<double, 3>& roots) {
    // With x = y - a/3 the cubic becomes y^3 - P y - Q = 0, P = a^2/3 - b; y = t sqrt(P/3)
    // turns it into t^3 - 3t - r = 0 with r = sqrt(27) Q / P^1.5.
    const double shift = a / 3.0;
    double p = a * a / 3.0 - b;
    if (!(p > 0.0)) p = 0.0;
    const double sqrtP = std::sqrt(p);
    const double pPower = sqrtP * p;
    double q = (b - 2.0 / 9.0 * a * a) * a / 3.0 - c;
    int flag = 0;
    if (q < 0.0) {
        q = -q;
        flag = 1;
    }
    double y1;
    if (DoubleExponentField(pPower) == 0 || std::sqrt(4.0 / 27.0) * pPower < q) {
        if (DoubleExponentField(pPower) == 0 && DoubleExponentField(q) == 0) {
            roots = {-shift, -shift, -shift};
            return 0;
        }
        // Only one root is real (r would exceed 2, or the cubic is monotone), and the
        // normalised cubic, which covers r up to 2, cannot give it: solve the depressed cubic
        // directly. The pair's real part comes out below as out[0] = out[1].
        y1 = DepressedCubicLargestRoot(b - a * a / 3.0, q);
    } else {
        const double r = std::sqrt(4.0 / 27.0) * pPower == q ? 2.0 : std::sqrt(27.0) * q / pPower;
        y1 = NormalisedCubicLargestRoot(r) * sqrtP / std::sqrt(3.0);
    }
    if (flag == 1) y1 = -y1;
    roots[2] = y1 - shift;
    // The other two solve y^2 + y1 y + (y1^2 - P) = 0.
    double disc = p - 0.75 * y1 * y1;
    if (disc < 0.0) disc = 0.0;
    const double sqrtDisc = std::sqrt(disc);
    roots[0] = -0.5 * y1 - sqrtDisc - shift;
    roots[1] = sqrtDisc - 0.5 * y1 - shift;
    return flag;
}

double CubicRealRoot(double a, double b, double c) {
    const double shift = a / 3.0;
    const double p = b - a * a / 3.0;
    double q = (b - 2.0 / 9.0 * a * a) * a / 3.0 - c;
    if (DoubleExponentField(p) == 0 && DoubleExponentField(q) == 0) return -shift;
    // y^3 + p y = q: for q >= 0 the root of largest magnitude is the largest root.
    const bool isNegative = q < 0.0;
    if (isNegative) q = -q;
    double y = DepressedCubicLargestRoot(p, q);
    if (isNegative) y = -y;
    return PolishCubicRoot(a, b, c, y - shift);
}

double QuarticRealRoot(double a, double b, double c, double d, std::uint8_t* found) {
    // Mirror x -> -x so that the stationary point picked below is the deeper outer one.
    const bool isReflected = (a / 2.0) * (a * a / 4.0 - b) + c < 0.0;
    if (isReflected) {
        a = -a;
        c = -c;
    }
    const double s = CubicRealRoot(0.75 * a, 0.5 * b, 0.25 * c);
    const double f = EvaluateQuartic(a, b, c, d, s);
    if (!(f < 0.0)) {
        if (found != nullptr) *found = 0;
        return isReflected ? -s : s;
    }
    if (found != nullptr) *found = 1;
    // About s the quartic is y^4 + A y^3 + B y^2 + f: s is stationary, so no linear term.
    const double coeffA = a + 4.0 * s;
    const double coeffB = b + 3.0 * s * (2.0 * s + a);
    const double x = QuarticRootRightOf(s, a, b, c, d, coeffA, coeffB, f);
    return isReflected ? -x : x;
}
