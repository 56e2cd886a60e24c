#include "gizmo/projected_bounds.h"

#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// The render record's option byte of the second-state mark (part record flag 0x04).
constexpr std::size_t SecondStateOption = 1;

double Element(const Matrix4W& q, int row, int col) {
    return q.m[static_cast<std::size_t>(4 * row + col)];
}

// v^T Q v for a homogeneous point v (w first).
double FormValue(const Matrix4W& q, const std::array<double, 4>& v) {
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) {
        double row = 0.0;
        for (int j = 0; j < 4; ++j) row += Element(q, i, j) * v[static_cast<std::size_t>(j)];
        sum += v[static_cast<std::size_t>(i)] * row;
    }
    return sum;
}

// The determinant of the rows r1, r2, r3.
double Determinant3(const std::array<double, 3>& r1, const std::array<double, 3>& r2,
                    const std::array<double, 3>& r3) {
    return r1[0] * (r2[1] * r3[2] - r2[2] * r3[1]) - r1[1] * (r2[0] * r3[2] - r2[2] * r3[0]) +
           r1[2] * (r2[0] * r3[1] - r2[1] * r3[0]);
}

bool EyeInside(const PartRenderRecord& part, const std::array<double, 4>& eye) {
    const std::span<const Matrix4W> surfaces = part.Surfaces();
    const auto count =
        std::min(static_cast<std::size_t>(std::max(part.surfaceCount, 0)), surfaces.size());
    for (std::size_t k = 0; k < count; ++k) {
        if (!(FormValue(surfaces[k], eye) < 0.0)) return false;
    }
    return true;
}

// A candidate bound num / den of ConicExtent, den made non-negative.
struct Fraction {
    double num = 0.0;
    double den = 0.0;
};

Fraction Normalised(double num, double den) {
    return den < 0.0 ? Fraction{-num, -den} : Fraction{num, den};
}

// Widens bounds by the image outline of the quadric form (scene coordinates).
void AddOutline(const Matrix4W& form, const Matrix4W& cameraMatrix, const Matrix4W& transposed,
                SceneBounds& bounds) {
    // The form in camera coordinates.
    const Matrix4W q = Matrix4Product(transposed, Matrix4Product(form, cameraMatrix));
    const auto m = [&](int i, int j) {
        return Element(q, 0, 0) * Element(q, i, j) - Element(q, 0, i) * Element(q, 0, j);
    };
    // The cone of rays d = (x, y, 1) tangent to the quadric: along s d the form is
    // q00 + 2 s (q0 . d) + s^2 d^T Q3 d, which has a double root where
    // d^T (q00 Q3 - q0 q0^T) d = 0, the conic A x^2 + 2C xy + B y^2 + 2D x + 2E y + F = 0.
    const double a = m(1, 1);
    const double b = m(2, 2);
    const double c = m(1, 2);
    const double d = m(1, 3);
    const double e = m(2, 3);
    const double f = m(3, 3);

    // An ellipse on the image plane is left out when the quadric lies behind the eye, or when
    // the cone is definite and so holds no real ray.
    if (a > 0.0 && b > 0.0 && c * c < a * b) {
        const double behind = Determinant3({Element(q, 1, 1), Element(q, 1, 2), Element(q, 1, 3)},
                                           {Element(q, 2, 1), Element(q, 2, 2), Element(q, 2, 3)},
                                           {Element(q, 0, 1), Element(q, 0, 2), Element(q, 0, 3)});
        const double determinant = a * (b * f - e * e) - c * (c * f - e * d) + d * (c * e - b * d);
        if (behind > 0.0 || (f > 0.0 && e * e < b * f && d * d < f * a && determinant > 0.0)) {
            return;
        }
    }

    const ConicRange y =
        ConicExtent(a, b, c, d, e, f, Element(q, 0, 1), Element(q, 0, 2), Element(q, 0, 3));
    const ConicRange x =
        ConicExtent(b, a, c, e, d, f, Element(q, 0, 2), Element(q, 0, 1), Element(q, 0, 3));
    if (x.lower < x.upper && y.lower < y.upper) {
        bounds[0] = std::min(bounds[0], x.lower);
        bounds[1] = std::min(bounds[1], y.lower);
        bounds[2] = std::max(bounds[2], x.upper);
        bounds[3] = std::max(bounds[3], y.upper);
    }
}

}  // namespace

bool ProjectSceneBounds(const SceneGeometry& geometry, const Matrix4W& cameraMatrix,
                        SceneBounds& bounds, const SceneExtraSurfaces* extraSurfaces) {
    const std::array<double, 4> eye{cameraMatrix.m[0], cameraMatrix.m[4], cameraMatrix.m[8],
                                    cameraMatrix.m[12]};
    const Matrix4W transposed = Matrix4Transpose(cameraMatrix);
    bounds = {SceneBoundsEmptyLow, SceneBoundsEmptyLow, SceneBoundsEmptyHigh, SceneBoundsEmptyHigh};

    if (extraSurfaces != nullptr) {
        for (std::size_t i = 0; i < extraSurfaces->forms.size(); ++i) {
            if (extraSurfaces->enabled[i] != 0) {
                AddOutline(extraSurfaces->forms[i], cameraMatrix, transposed, bounds);
            }
        }
    }
    for (std::int32_t index = 0; index < geometry.PartCount(); ++index) {
        const PartRenderRecord& part = *geometry.Part(index);
        const bool drawn = part.visible != 0;
        if (!drawn && part.options[SecondStateOption] == 0) continue;
        if (EyeInside(part, eye)) {
            bounds = {SceneBoundsOpenLow, SceneBoundsOpenLow, SceneBoundsOpenHigh,
                      SceneBoundsOpenHigh};
            return !drawn;
        }
        AddOutline(part.boundQuadric, cameraMatrix, transposed, bounds);
    }
    return true;
}

ConicRange ConicExtent(double a1, double a2, double a3, double a4, double a5, double a6, double a7,
                       double a8, double a9) {
    // For a fixed v the conic is a quadratic in u; it touches the line of that v where its
    // discriminant (a3 v + a4)^2 - a1 (a2 v^2 + 2 a5 v + a6) vanishes, which is
    // -(P v^2 + 2 Q v + R).
    const double p = a1 * a2 - a3 * a3;
    const double q = a1 * a5 - a3 * a4;
    const double r = a1 * a6 - a4 * a4;
    ConicRange range;
    const double discriminant = q * q - p * r;
    if (!(discriminant > 0.0)) return range;

    // The two roots as s / P and R / s, each free of cancellation.
    const double root = std::sqrt(discriminant);
    const double s = q >= 0.0 ? -(q + root) : -(q - root);
    const std::array<Fraction, 2> candidates{Normalised(s, p), Normalised(r, s)};

    // The point of contact lies in front of the eye when (num T1 + den T2) a1 < 0; the
    // conic's side of the tangent tells a lower bound from an upper one.
    const double t1 = a1 * a8 - a3 * a7;
    const double t2 = a1 * a9 - a4 * a7;
    const Fraction* lower = nullptr;
    const Fraction* upper = nullptr;
    for (const Fraction& candidate : candidates) {
        if (!((candidate.num * t1 + candidate.den * t2) * a1 < 0.0)) continue;
        if ((candidate.num * p + candidate.den * q) * a1 <= 0.0) {
            lower = &candidate;
        } else {
            upper = &candidate;
        }
    }
    // The sentinels are compared before dividing, so a tangent at infinity (den 0) never
    // divides.
    if (lower != nullptr) {
        if (lower->num < -1e100 * lower->den) {
            range.lower = SceneBoundsOpenLow;
        } else if (lower->num > 2e100 * lower->den) {
            range.lower = 2e100;
        } else {
            range.lower = lower->num / lower->den;
        }
    }
    if (upper != nullptr) {
        if (upper->num < -2e100 * upper->den) {
            range.upper = -2e100;
        } else if (upper->num > 1e100 * upper->den) {
            range.upper = SceneBoundsOpenHigh;
        } else {
            range.upper = upper->num / upper->den;
        }
    }
    return range;
}
