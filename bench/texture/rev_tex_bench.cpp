#include "texture/rev_tex.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

// The hyperbolic profile functions that the tile builders call for every tile, through the
// record's tables against the direct evaluation (Gauss-Legendre integration along the curve,
// bisection for the radius) that the tables replace. Times are per call, over 1024 points
// of a waisted surface from its waist to sinh tau = 10 (arg 3) or of a dome (arg 4).

namespace {

constexpr int PointCount = 1024;

struct RecordDeleter {
    void operator()(RevTex* r) const { RevTexFree(r); }
};
using RecordPtr = std::unique_ptr<RevTex, RecordDeleter>;

RecordPtr TabledRecord(std::int64_t kind) {
    RevTex* r = RevTexAlloc();
    r->profile.type = static_cast<std::int16_t>(kind);
    r->profile.a = 1.5;
    r->profile.b = 0.7;
    RevTexBuildHyperbolicTables(r);
    return RecordPtr(r);
}

struct ProfilePoint {
    double x = 0;
    double y = 0;
};

std::vector<ProfilePoint> CurvePoints(const RevTex& r) {
    const bool meetsAxis = r.profile.type == static_cast<std::int16_t>(ProfileKind::Hyperbolic);
    std::vector<ProfilePoint> points;
    for (int i = 0; i < PointCount; ++i) {
        const double tau = std::asinh(10.0) * ((i * 37) % PointCount) / PointCount;
        const double c = std::cosh(tau);
        const double s = std::sinh(tau);
        points.push_back(meetsAxis ? ProfilePoint{r.profile.a * s, r.profile.b * c}
                                   : ProfilePoint{r.profile.a * c, r.profile.b * s});
    }
    return points;
}

template <double (*Measure)(double, double, const RevTex&)>
void BM_Measure(benchmark::State& state) {
    const RecordPtr r = TabledRecord(state.range(0));
    const auto points = CurvePoints(*r);
    std::size_t i = 0;
    for (auto _ : state) {
        const ProfilePoint& p = points[i++ % PointCount];
        benchmark::DoNotOptimize(Measure(p.x, p.y, *r));
    }
}

template <double (*Radius)(double, const RevTex&)>
void BM_Radius(benchmark::State& state) {
    const RecordPtr r = TabledRecord(state.range(0));
    std::vector<double> lengths;
    for (const ProfilePoint& p : CurvePoints(*r)) {
        lengths.push_back(ProfileCurveMeasureHyperbolic(p.x, p.y, *r));
    }
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Radius(lengths[i++ % PointCount], *r));
}

void BM_ProfileCurveMeasureHyperbolicTable(benchmark::State& state) {
    BM_Measure<ProfileCurveMeasureHyperbolic>(state);
}
BENCHMARK(BM_ProfileCurveMeasureHyperbolicTable)->Arg(3)->Arg(4);

void BM_ProfileCurveMeasureHyperbolicNumeric(benchmark::State& state) {
    BM_Measure<ProfileCurveMeasureHyperbolicNumeric>(state);
}
BENCHMARK(BM_ProfileCurveMeasureHyperbolicNumeric)->Arg(3)->Arg(4);

void BM_ProfileRadiusHyperbolicTable(benchmark::State& state) {
    BM_Radius<ProfileRadiusHyperbolic>(state);
}
BENCHMARK(BM_ProfileRadiusHyperbolicTable)->Arg(3)->Arg(4);

void BM_ProfileRadiusHyperbolicNumeric(benchmark::State& state) {
    BM_Radius<ProfileRadiusHyperbolicNumeric>(state);
}
BENCHMARK(BM_ProfileRadiusHyperbolicNumeric)->Arg(3)->Arg(4);

// Building both tables of one record, as a mapping build does once per hyperbolic surface.
void BM_RevTexBuildHyperbolicTables(benchmark::State& state) {
    for (auto _ : state) {
        const RecordPtr r = TabledRecord(state.range(0));
        benchmark::DoNotOptimize(r->tablePieceCount);
    }
}
BENCHMARK(BM_RevTexBuildHyperbolicTables)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace
