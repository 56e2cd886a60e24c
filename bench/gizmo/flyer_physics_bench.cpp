// The two costs of a flyer: sampling its mass properties once at load (10,000 vertical
// lines through its parts), and one bounce per contact in the frame.

#include "gizmo/flyer_physics.h"

#include "core/rotation.h"
#include "gizmo/flyer_bounce.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/mass_properties.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// a x^2 + b y^2 + c z^2 + 2 (p x + q y + r z) + k.
Matrix4W Quadric(double a, double b, double c, double p, double q, double r, double k) {
    Matrix4W w;
    w.m[0] = k;
    w.m[1] = w.m[4] = p;
    w.m[2] = w.m[8] = q;
    w.m[3] = w.m[12] = r;
    w.m[5] = a;
    w.m[10] = b;
    w.m[15] = c;
    return w;
}

// A ball on a box, the ball overlapping the box's top: a flyer of two parts.
void BM_SampleMassProperties(benchmark::State& state) {
    const std::vector<Matrix4W> ball{Quadric(1, 1, 1, 0, -0.6, 0, 0.36 - 0.25)};
    const std::vector<Matrix4W> box{
        Quadric(0, 0, 0, 0.5, 0, 0, -0.5),  Quadric(0, 0, 0, -0.5, 0, 0, -0.5),
        Quadric(0, 0, 0, 0, 0.5, 0, -0.25), Quadric(0, 0, 0, 0, -0.5, 0, -0.25),
        Quadric(0, 0, 0, 0, 0, 0.5, -0.5),  Quadric(0, 0, 0, 0, 0, -0.5, -0.5)};
    PhysicsPart parts[2];
    parts[0].surfaces = ball;
    parts[0].box = {-512, 513, 102, 1127, -512, 513};
    parts[1].surfaces = box;
    parts[1].box = {-512, 513, -256, 257, -512, 513};
    for (auto _ : state) {
        MassProperties p = SampleMassProperties(parts);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_SampleMassProperties)->Unit(benchmark::kMillisecond);

// A spinning flyer meeting the floor obliquely with friction: slip, then grip.
void BM_BounceWithFriction(benchmark::State& state) {
    GizmoObject flyer = NewFlyerObject();
    flyer.inMotion = 1;
    flyer.flyer.mass = 1.0;
    flyer.flyer.inertiaTransverse = 0.12;
    flyer.flyer.inertiaAxial = 0.08;
    flyer.orientation = Matrix3FromAxisAngle(Vec3{0.6, 0.0, 0.8}, 0.4);
    flyer.flyer.hitPart = 3;
    const Contact contact{Vec3{0.1, -0.5, 0.05}, Vec3{0.05, -1.0, 0.0}};
    for (auto _ : state) {
        flyer.flyer.committedVelocity = Vec3{2.0, -3.0, 0.5};
        flyer.flyer.angularMomentum = 0.0;
        flyer.flyer.momentumFrame = Matrix3SetDiagonal(1.0);
        flyer.flyer.contact = contact;
        Bounce(flyer, nullptr, {0.3, 0.6}, {0.3, 0.6}, 1000, -10.0, false);
        benchmark::DoNotOptimize(flyer.flyer.committedVelocity);
    }
}
BENCHMARK(BM_BounceWithFriction);

}  // namespace
