#include "texture/surface_tex_coords.h"

#include "core/private_heap.h"
#include "geometry/aux_mapping_profile.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <new>
#include <numbers>
#include <span>
#include <vector>

// Each coordinate function on 1024 points of its surface, table path against the same
// coordinates evaluated directly with libm (elliptic integrals for the cylinder, closed forms
// for the surfaces of revolution). Times are per call.

namespace {

constexpr double Pi = std::numbers::pi;
constexpr int PointCount = 1024;

// An entry whose tables integrate the given densities over the builder's layout to t = 2.
struct Entry {
    std::vector<double> storage;
    SurfaceMappingEntry* e = nullptr;

    Entry(int octave0, const std::function<double(double)>& f0, int octave1,
          const std::function<double(double)>& f1) {
        const std::size_t l0 = static_cast<std::size_t>(4 * (octave0 + 2));
        const std::size_t l1 = static_cast<std::size_t>(4 * (octave1 + 2));
        storage.resize(2 * (23 + l0 + l1));
        e = new (storage.data()) SurfaceMappingEntry;
        e->byteSize = static_cast<std::uint32_t>(16 * (23 + l0 + l1));
        e->pieceCount0 = static_cast<std::uint32_t>(l0);
        e->indexBias0 = static_cast<std::uint32_t>(CubicTableBaseCode(octave0));
        e->indexBias1 = static_cast<std::uint32_t>(CubicTableBaseCode(octave1));
        CubicPiece* pieces = reinterpret_cast<CubicPiece*>(e + 1);
        auto integrate = [](std::span<CubicPiece> table, int octave, const auto& f) {
            CubicTableIntegrate(table, std::ldexp(1.0, -octave), 0.0, [&](double t) {
                const double h = 1e-6 + 1e-5 * t;
                return CubicTableSample{f(t), (f(t + h) - f(t - h)) / (2 * h)};
            });
        };
        integrate({pieces, l0}, octave0, f0);
        integrate({pieces + l0, l1}, octave1, f1);
        e->quarterMeasure = EvalPiecewiseCubic(static_cast<std::int32_t>(e->indexBias0),
                                               SurfaceMappingEntryTable0(*e), 1.0f);
    }
};

// Elliptic cylinder 1 x 2: the arc-length density of its section.
Entry Cylinder() {
    Entry entry(
        3,
        [](double t) {
            const double A = 1 + t * t;
            return 2 * std::sqrt(A * A + 12 * t * t) / (A * A);
        },
        0, [](double) { return 0.0; });
    entry.e->a = 1;
    entry.e->b = 2;
    return entry;
}

std::vector<Vec3> EllipsePoints(double a, double b) {
    std::vector<Vec3> points;
    for (int i = 0; i < PointCount; ++i) {
        const double phi = (i + 0.5) * 2 * Pi / PointCount;
        points.push_back({a * std::sin(phi), b * std::cos(phi), 0.0});
    }
    return points;
}

void BM_SurfaceAngleCoordTable(benchmark::State& state) {
    const Entry entry = Cylinder();
    const auto points = EllipsePoints(1, 2);
    std::size_t i = 0;
    for (auto _ : state) {
        const Vec3& p = points[i++ % PointCount];
        benchmark::DoNotOptimize(SurfaceAngleCoord(p.x, p.y, *entry.e));
    }
}
BENCHMARK(BM_SurfaceAngleCoordTable);

// The angle of (x, y) on the ellipse of semi-axes a across and b >= a along y, directly: the
// arc length from the end of b through the incomplete elliptic integral of the second kind,
// b (E(k) - E(pi / 2 - phi, k)) with k^2 = 1 - a^2 / b^2, over a quarter of the perimeter.
struct EllipseAngle {
    double a = 1;
    double b = 1;
    double k = std::sqrt(1 - a * a / (b * b));
    double quarter = std::comp_ellint_2(k);

    double operator()(double x, double y) const {
        const double phi = std::atan2(std::fabs(x) / a, std::fabs(y) / b);
        double angle = (quarter - std::ellint_2(k, Pi / 2 - phi)) * Pi / (2 * quarter);
        if (y < 0) angle = Pi - angle;
        if (x < 0) angle = 2 * Pi - angle;
        return angle;
    }
};

void BM_SurfaceAngleCoordLibm(benchmark::State& state) {
    const auto points = EllipsePoints(1, 2);
    const EllipseAngle angleOf{1, 2};
    std::size_t i = 0;
    for (auto _ : state) {
        const Vec3& p = points[i++ % PointCount];
        benchmark::DoNotOptimize(angleOf(p.x, p.y));
    }
}
BENCHMARK(BM_SurfaceAngleCoordLibm);

// Hyperboloid of revolution, waist radius 1.5, axial scale 0.8.
constexpr double R = 1.5;
constexpr double C = 0.8;

Entry Hyperboloid() {
    const double m = std::sqrt(R * R + C * C);
    Entry entry(
        2, [](double t) { return 2 * R / (1 + t * t); }, 3,
        [m](double t) {
            const double A = 1 + t * t;
            const double B = 1 - t * t;
            return 2 * R * R * B / (A * (m * A + std::sqrt(C * C * B * B + 4 * m * m * t * t)));
        });
    entry.e->a = entry.e->b = R;
    entry.e->c = C;
    entry.e->swapFlag = 1;
    entry.e->axisTerm = m;
    return entry;
}

std::vector<Vec3> RevolutionPoints(double radius, double axial, bool hyperbolic) {
    std::vector<Vec3> points;
    for (int i = 0; i < PointCount; ++i) {
        const double phi = (i + 0.5) * 2 * Pi / PointCount;
        const double h = 2.8 * ((i * 37) % PointCount) / PointCount - 1.4;
        const double across = hyperbolic ? std::cosh(h) : std::cos(h);
        const double along = hyperbolic ? std::sinh(h) : std::sin(h);
        points.push_back({radius * across * std::sin(phi), radius * across * std::cos(phi),
                          axial * along});
    }
    return points;
}

void BM_SpheroidTexCoordsTable(benchmark::State& state) {
    const Entry entry = Hyperboloid();
    const auto points = RevolutionPoints(R, C, true);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SpheroidTexCoords(points[i++ % PointCount], *entry.e, nullptr));
    }
}
BENCHMARK(BM_SpheroidTexCoordsTable);

// The conformal length of the hyperboloid in closed form, the angle as the table path reads
// it for any waist ellipse.
void BM_SpheroidTexCoordsLibm(benchmark::State& state) {
    const auto points = RevolutionPoints(R, C, true);
    const double m = std::sqrt(R * R + C * C);
    const EllipseAngle angleOf{R, R};
    std::size_t i = 0;
    for (auto _ : state) {
        const Vec3& p = points[i++ % PointCount];
        const double s = p.z / C;
        const double n = std::sqrt(s * s + 1);
        SurfaceTexCoords out;
        out.angle = angleOf(p.x / n, p.y / n);
        out.length = (m * std::asinh(m * s / C) - R * std::atanh(R * s / std::sqrt(m * m * s * s + C * C))) / R;
        out.angleScale = 1 / (R * n);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_SpheroidTexCoordsLibm);

// Prolate spheroid about z: cross radius 1.2, polar semi-axis 3.
constexpr double Q = 1.2;
constexpr double P = 3.0;

Entry Spheroid() {
    Entry entry(
        2, [](double t) { return 2 * Q / (1 + t * t); }, 3,
        [](double t) {
            const double A = 1 + t * t;
            const double B = 1 - t * t;
            return 2 * (Q * Q - P * P) * B / (A * (Q * A + std::sqrt(4 * Q * Q * t * t + P * P * B * B)));
        });
    entry.e->a = entry.e->b = Q;
    entry.e->c = P;
    entry.e->swapFlag = 1;
    return entry;
}

void BM_EllipsoidTexCoordsTable(benchmark::State& state) {
    const Entry entry = Spheroid();
    const auto points = RevolutionPoints(Q, P, false);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(EllipsoidTexCoords(points[i++ % PointCount], *entry.e, nullptr));
    }
}
BENCHMARK(BM_EllipsoidTexCoordsTable);

// The conformal latitude of the spheroid in closed form, the angle as for any cross ellipse.
void BM_EllipsoidTexCoordsLibm(benchmark::State& state) {
    const auto points = RevolutionPoints(Q, P, false);
    const double k = std::sqrt(P * P - Q * Q);
    const EllipseAngle angleOf{Q, Q};
    std::size_t i = 0;
    for (auto _ : state) {
        const Vec3& p = points[i++ % PointCount];
        const double rho = std::sqrt(p.x * p.x + p.y * p.y) / Q;
        const double s = p.z / P / rho;
        SurfaceTexCoords out;
        out.angle = angleOf(p.x / rho, p.y / rho);
        out.length = (Q * std::asinh(Q * s / P) + k * std::atan(k * s / std::sqrt(Q * Q * s * s + P * P))) / Q;
        out.angleScale = 1 / (Q * rho);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_EllipsoidTexCoordsLibm);

// Ellipsoids with three unequal axes as their shape builder builds them, the angle-keeping map
// of their lines of curvature with its quarter measures kept from the first call:
// BM_EllipsoidTexCoordsThreeAxes (1, 1.5, 2), the two smaller axes the closer pair (xi from
// table 0, the products in z), and BM_EllipsoidTexCoordsThreeAxesLargerPair/shape:N with the
// two larger axes the closer pair (xi worked out): shape 0 (1, 2.8, 3), the products in z;
// shape 1 (1, 2.999, 3), the transformed products.
void EllipsoidMapCalls(benchmark::State& state, double a, double b, double c) {
    BufferArray list;
    list.count = 1;
    const SurfaceMappingEntry head = AuxMappingHead(SurfaceMapperKind::Ellipsoid, a, b, c);
    BuildAuxMappingProfile(list, std::span<const SurfaceMappingEntry>(&head, 1), {});
    const SurfaceMappingEntry& entry = AuxMappingEntry(list, 0);
    std::vector<Vec3> points;
    for (int i = 0; i < PointCount; ++i) {
        const double phi = (i + 0.5) * 2 * Pi / PointCount;
        const double beta = 1.4 * std::sin(i * 0.37);
        points.push_back({a * std::cos(beta) * std::sin(phi), b * std::cos(beta) * std::cos(phi),
                          c * std::sin(beta)});
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(EllipsoidTexCoords(points[i++ % PointCount], entry, nullptr));
    }
    FreeBufferArray(list);
}

void BM_EllipsoidTexCoordsThreeAxes(benchmark::State& state) {
    EllipsoidMapCalls(state, 1.0, 1.5, 2.0);
}
BENCHMARK(BM_EllipsoidTexCoordsThreeAxes);

void BM_EllipsoidTexCoordsThreeAxesLargerPair(benchmark::State& state) {
    EllipsoidMapCalls(state, 1.0, state.range(0) == 0 ? 2.8 : 2.999, 3.0);
}
BENCHMARK(BM_EllipsoidTexCoordsThreeAxesLargerPair)->ArgName("shape")->DenseRange(0, 1);

void BM_ParabolicStripTexCoords(benchmark::State& state) {
    StripTexRecord strip;
    strip.arc.p0 = 1.0;
    strip.arc.p1 = 2.0;
    strip.arc.p2 = 0.75;
    strip.width = 4.0;
    InverseArcLengthReference(strip.arc);
    std::vector<Vec3> points;
    for (int i = 0; i < PointCount; ++i) {
        const double z = 4.0 * i / PointCount - 2;
        const double x = std::sin(i * 0.7) * (1.5 + z / 4);
        points.push_back({x, 0.75 * x * x, z});
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParabolicStripTexCoords(points[i++ % PointCount], strip));
    }
}
BENCHMARK(BM_ParabolicStripTexCoords);

}  // namespace
