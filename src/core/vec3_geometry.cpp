#include "core/vec3_geometry.h"

#include "core/scalar_maths.h"

#include <algorithm>
#include <cmath>

bool IntersectRaySphere(const Vec3& direction, const Vec3& origin, double radius,
                        const Vec3& centre, Vec3& hit) {
    // |o + t d - c|^2 = r^2 is A t^2 + B t + C = 0.
    const Vec3 w = Vec3Sub(origin, centre);
    const double b = 2.0 * Vec3Dot(direction, w);
    const double a = Vec3Dot(direction, direction);
    const double c = Vec3Dot(w, w) - radius * radius;
    const double disc = b * b - 4.0 * a * c;
    if (disc < 0.0 || !(a > 0.0)) return false;
    const double root = std::sqrt(disc);
    const double far = root - b;
    const double near = -b - root;
    double q;
    if (near >= 0.0) {
        q = near;
    } else if (far >= 0.0) {
        q = far;
    } else {
        return false;
    }
    // t = q / (2A); dividing by A keeps the point on the sphere when the direction is not
    // exactly unit, and changes nothing when it is.
    hit = Vec3Add(origin, Vec3Scale(direction, q * 0.5 / a));
    return true;
}

Vec3 SnapDirection(Vec3 v, double stepDegrees) {
    const double step = DEG_TO_RAD * stepDegrees;
    Vec3Normalize(v);
    if (!(step > 0.0)) return v;
    const double rho = std::sqrt(v.x * v.x + v.y * v.y);
    const bool isPole = !(rho > 5e-15);
    double phi = isPole ? 0.0 : std::acos(std::min(1.0, v.x / rho));
    if (v.y < 0.0) phi = 2.0 * PI - phi;
    // Normalising may leave |z| an ulp above 1; acos would give NaN there.
    double theta = std::acos(std::clamp(v.z, -1.0, 1.0));
    phi = std::floor((phi + step / 2.0) / step) * step;
    theta = std::floor((theta + step / 2.0) / step) * step;
    Vec3 result{isPole ? 0.0 : std::cos(phi) * std::sin(theta), std::sin(phi) * std::sin(theta),
                std::cos(theta)};
    Vec3Normalize(result);
    return result;
}

AxisAngle RotationBetween(Vec3 a, Vec3 b) {
    const double cosine = std::clamp(Vec3Dot(a, b), -1.0, 1.0);
    AxisAngle result;
    if (1.0 - std::fabs(cosine) < 5e-15) {
        if (cosine >= 0.0) return result;
        result.angle = PI;
        result.axis = Vec3Cross(X_AXIS, a);
        if (Vec3Length(result.axis) < 5e-15) result.axis = Vec3Cross(Y_AXIS, a);
        if (Vec3Length(result.axis) < 5e-15) result.axis = Vec3Cross(Z_AXIS, a);
    } else {
        result.angle = std::acos(cosine);
        result.axis = Vec3Cross(a, b);
    }
    Vec3Normalize(result.axis);
    return result;
}
