#include "render/part_order.h"

#include "core/check.h"
#include "core/matrix3.h"
#include "core/scalar_maths.h"

#include <cmath>
#include <cstdint>
#include <utility>

namespace {

constexpr std::int32_t FarthestKey = 0;
constexpr std::int32_t NearestKey = 0x7FFFFFFF;

Matrix3 QuadraticBlock(const Matrix4W& q) {
    const auto& e = q.m;
    return Matrix3{{e[5], e[6], e[7], e[9], e[10], e[11], e[13], e[14], e[15]}};
}

bool IsPositiveDefinite(const Matrix4W& q) {
    const auto& e = q.m;
    const double minor2 = e[5] * e[10] - e[6] * e[6];
    const Matrix3 adj = Matrix3Adjugate(QuadraticBlock(q));
    const double det = e[5] * adj.m[0] + e[6] * adj.m[3] + e[7] * adj.m[6];
    return e[5] > 0.0 && minor2 > 0.0 && det > 0.0 && std::isfinite(det);
}

// The two coefficient names of ClipSpanToConic along one axis u with v the other.
struct AxisConic {
    double uu, uv, vv, u, v, c;  // K = uu u^2 + 2 uv u v + vv v^2 + 2 u u + 2 v v + c
    double frontU, frontV, front0;
};

}  // namespace

SilhouetteConic SilhouetteOf(const Matrix4W& q, double focal) {
    const auto& e = q.m;
    const double c = e[0];
    SilhouetteConic k;
    k.kxx = e[5] * c - e[1] * e[1];
    k.kyy = e[10] * c - e[2] * e[2];
    k.kxy = e[6] * c - e[1] * e[2];
    k.kx = (e[7] * c - e[1] * e[3]) * focal;
    k.ky = (e[11] * c - e[2] * e[3]) * focal;
    k.k0 = (e[15] * c - e[3] * e[3]) * focal * focal;
    k.frontX = e[1];
    k.frontY = e[2];
    k.frontZ = e[3] * focal;
    return k;
}

SilhouetteKind SilhouetteKindOf(const SilhouetteConic& k, const Matrix4W& bound) {
    const bool isEllipseType = k.kxx > 0.0 && k.kyy > 0.0 && k.kxy * k.kxy < k.kxx * k.kyy;
    if (!isEllipseType || !IsPositiveDefinite(bound)) return SilhouetteKind::Unbounded;
    const bool hasNoRealPoint =
        k.k0 > 0.0 && k.ky * k.ky < k.k0 * k.kyy && k.kx * k.kx < k.k0 * k.kxx &&
        (k.ky * k.kxy - k.kx * k.kyy) * k.kx + (k.k0 * k.kyy - k.ky * k.ky) * k.kxx -
                (k.k0 * k.kxy - k.ky * k.kx) * k.kxy >
            0.0;
    // b . adj(A) column z: positive when the ellipsoid's centre lies behind the eye.
    const auto& e = bound.m;
    const bool isBehind = e[1] * (e[11] * e[6] - e[7] * e[10]) +
                              e[2] * (e[6] * e[7] - e[5] * e[11]) +
                              e[3] * (e[5] * e[10] - e[6] * e[6]) >
                          0.0;
    if (hasNoRealPoint || isBehind) return SilhouetteKind::Hidden;
    return SilhouetteKind::Ellipse;
}

void ComputePartKeys(RenderParts& parts, double depthScale, double focal) {
    for (std::int32_t i = 0; i < parts.Count(); ++i) {
        RenderPart& part = parts.Part(i);
        const Matrix4W& q = part.bound;
        if (!IsPositiveDefinite(q)) {
            part.key = NearestKey;
            continue;
        }
        // The ellipsoid (p - m)^T A (p - m) <= k with m = -A^-1 b and k = b^T A^-1 b - c
        // reaches nearest at z = m_z - sqrt(k (A^-1)_zz).
        const Matrix3 adj = Matrix3Adjugate(QuadraticBlock(q));
        const double det = q.m[5] * adj.m[0] + q.m[6] * adj.m[3] + q.m[7] * adj.m[6];
        const Vec3 b{q.m[1], q.m[2], q.m[3]};
        const Vec3 adjB = Matrix3TransformVec3(adj, b);
        const double mz = -adjB.z / det;
        const double k = (b.x * adjB.x + b.y * adjB.y + b.z * adjB.z) / det - q.m[0];
        const double spread = k * adj.m[8] / det;
        if (spread < 0.0) {
            part.key = FarthestKey;
            continue;
        }
        const double d = (mz - std::sqrt(spread)) / focal;
        if (!(d > depthScale / 2147483647.0)) {
            part.key = NearestKey;
            continue;
        }
        part.key = static_cast<std::int32_t>(depthScale / d);
    }
}

void SortPartsByKey(const RenderParts& parts, std::span<std::int32_t> order,
                    std::span<PartKeyPair> scratch) {
    const std::int32_t count = parts.Count();
    ORBELLE_CHECK(order.size() >= static_cast<std::size_t>(count) &&
                  scratch.size() >= static_cast<std::size_t>(count));
    if (count == 0) return;
    for (std::int32_t i = 0; i < count; ++i) scratch[static_cast<std::size_t>(i)] = {i, parts.Part(i).key};
    std::int32_t gap = count;
    for (;;) {
        gap = (gap * 10 + 3) / 13;
        if (gap < 1) gap = 1;
        bool swapped = false;
        for (std::int32_t i = 0; i + gap < count; ++i) {
            PartKeyPair& a = scratch[static_cast<std::size_t>(i)];
            PartKeyPair& b = scratch[static_cast<std::size_t>(i + gap)];
            if (a.key < b.key) {
                std::swap(a, b);
                swapped = true;
            }
        }
        if (gap == 1 && !swapped) break;
    }
    for (std::int32_t i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = scratch[static_cast<std::size_t>(i)].index;
}

void ClipSpanToConic(std::int32_t& low, std::int32_t& high, const SilhouetteConic& k,
                     bool alongY, double centre) {
    const AxisConic a = alongY ? AxisConic{k.kyy, k.kxy, k.kxx, k.ky, k.kx, k.k0,
                                           k.frontY, k.frontX, k.frontZ}
                               : AxisConic{k.kxx, k.kxy, k.kyy, k.kx, k.ky, k.k0,
                                           k.frontX, k.frontY, k.frontZ};
    if (a.vv == 0.0) return;
    // Where dK/dv = 0 the extremes of u satisfy k1 u^2 + 2 k2 u + k3 = 0.
    const double k1 = a.uu * a.vv - a.uv * a.uv;
    const double k2 = a.u * a.vv - a.uv * a.v;
    const double k3 = a.c * a.vv - a.v * a.v;
    const double disc = k2 * k2 - k3 * k1;
    if (!(disc > 0.0)) return;
    const double root = std::sqrt(disc);
    const double q = -(k2 + (k2 >= 0.0 ? root : -root));
    const std::pair<double, double> tangents[2] = {{q, k1}, {k3, q}};
    for (auto [numerator, denominator] : tangents) {
        if (denominator == 0.0) continue;
        if (denominator < 0.0) {
            numerator = -numerator;
            denominator = -denominator;
        }
        const double u = numerator / denominator;
        const double v = -(a.uv * u + a.v) / a.vv;
        if (!(a.frontU * u + a.frontV * v + a.front0 < 0.0)) continue;
        const double p = u + centre;
        if ((denominator * k2 + numerator * k1) * a.vv <= 0.0) {
            if (p > high - 0.5) {
                low = high;
                return;
            }
            if (p > low + 0.5) low = RoundToIntClamped(p);
        } else {
            if (p < low + 0.5) {
                high = low;
                return;
            }
            if (p < high - 0.5) high = RoundToIntClamped(p);
        }
    }
}

bool ClipRowToConic(std::int32_t& xl, std::int32_t& xh, const SilhouetteConic& k, double y,
                    double centreX) {
    // With no x^2 term (a conic whose axis lies along the rows) the row is linear in x: the
    // cancellation-free roots below give its one root and an infinite one, which is skipped.
    const double b = k.kxy * y + k.kx;
    const double c = (k.kyy * y + 2.0 * k.ky) * y + k.k0;
    const double disc = b * b - c * k.kxx;
    if (!(disc > 0.0)) return false;
    const double s = std::sqrt(disc);
    double roots[2];
    if (b >= 0.0) {
        roots[0] = -(s + b) / k.kxx;
        roots[1] = -c / (s + b);
    } else {
        roots[0] = c / (s - b);
        roots[1] = (s - b) / k.kxx;
    }
    bool isBounded = false;
    for (const double r : roots) {
        if (!std::isfinite(r)) continue;
        if (!(k.frontX * r + k.frontY * y + k.frontZ < 0.0)) continue;
        isBounded = true;
        const double p = r + centreX;
        if (k.kxx * r + b <= 0.0) {
            if (p > xh - 0.5) {
                xl = xh;
            } else if (p > xl + 0.5) {
                xl = RoundToIntClamped(p);
            }
        } else {
            if (p < xl + 0.5) {
                xh = xl;
            } else if (p < xh - 0.5) {
                xh = RoundToIntClamped(p);
            }
        }
    }
    return isBounded;
}
