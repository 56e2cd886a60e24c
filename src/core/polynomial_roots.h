#pragma once

// Real roots of monic cubics x^3 + a x^2 + b x + c and quartics
// x^4 + a x^3 + b x^2 + c x + d for the collision code's contact times. The solvers avoid
// the cancellations of the textbook formulas and use no transcendental function; nothing
// allocates or throws.

#include <array>
#include <cstdint>

// All three roots through the normalised cubic t^3 - 3t - r = 0. Returns 1 when the
// depressed cubic's constant term q = (b - (2/9) a^2) a/3 - c was negative, else 0. With 0
// the roots are ascending; with 1 roots[2] is the smallest and roots[0] <= roots[1]. A
// complex pair shows as roots[0] == roots[1] holding its real part, with the real root in
// roots[2]. When both p = b - a^2/3 (if negative) and q are zero or subnormal the result is
// -a/3 three times and 0.
int CubicRealRoots(double a, double b, double c, std::array<double, 3>& roots);

// One real root: the one of largest magnitude of the depressed cubic, shifted back, accurate
// to a few units in the last place. When p and q are both zero or subnormal it is -a/3.
double CubicRealRoot(double a, double b, double c);

// A real root beyond the quartic's deepest outer stationary point s (the nearest one on the
// far side), and *found = 1; when the quartic does not fall below zero at s, s itself and
// *found = 0. found may be null.
double QuarticRealRoot(double a, double b, double c, double d, std::uint8_t* found = nullptr);
