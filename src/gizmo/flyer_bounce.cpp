#include "gizmo/flyer_bounce.h"

#include "core/matrix3.h"
#include "core/rotation.h"
#include "gizmo/flyer_physics.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/physics_maths_internal.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace gizmo_physics;

// The most steps the impulse solve takes; each ordinary step turns the slip by about 0.2
// rad or ends a phase, so real contacts need a handful.
constexpr int MaxSolveSteps = 1000;

// The largest turn of the slip direction within one step, radians.
constexpr double SlipTurn = 0.2;

bool IsMovingFlyer(const GizmoObject* object) {
    return object != nullptr && object->isFlyer != 0 && object->inMotion != 0;
}

// The velocity of the point at lever arm r of a flyer, from its committed state.
Vec3 FlyerPointVelocity(const GizmoObject& flyer, const Vec3& r) {
    return Vec3Add(flyer.flyer.committedVelocity, Vec3Cross(FlyerAngularVelocity(flyer), r));
}

struct Vec2d {
    double x = 0.0;
    double y = 0.0;
};

// The impulse solve in the contact frame. K'' is the contact matrix there: its tangential
// block diagonal (k1, k2), its coupling column (a1, a2) and its normal entry k3; u is the
// relative velocity (u1, u2, un). Returns the impulse (P1, P2, Pn).
Vec3 SolveImpulse(const Matrix3& k, Vec3 u, double friction, double loss, double g60) {
    const double k1 = k.m[0];
    const double k2 = k.m[4];
    const double a1 = k.m[2];
    const double a2 = k.m[5];
    const double k3 = k.m[8];
    // The tangential impulse per unit normal impulse that holds the slip where it is.
    const Vec2d cs{a1 / k1, a2 / k2};
    const double d2 = cs.x * cs.x + cs.y * cs.y - friction * friction;
    Vec3 total;
    double work = 0.0;  // work of the normal impulse still to be returned
    bool stuck = false;
    bool pastCompression = false;
    for (int step = 0; step < MaxSolveSteps; ++step) {
        // The step's direction: a tangential impulse rate t, the slip's rate du and the
        // limit lambda (the step ends at normal impulse 1 / lambda).
        Vec2d t;
        Vec2d du;
        double lambda = -1.0;
        bool stuckAfter = true;
        if (stuck) {
            t = Vec2d{-cs.x, -cs.y};
        } else {
            Vec2d s{u.x, u.y};
            Vec2d d;
            const double slip2 = s.x * s.x + s.y * s.y;
            const double coupling2 = a1 * a1 + a2 * a2;
            if (IsNormalPositive(slip2)) {
                const double length = std::sqrt(slip2);
                d = Vec2d{s.x / length, s.y / length};
            } else if (IsNormalPositive(coupling2)) {
                // No slip yet: it starts in the direction the normal impulse drives it.
                const double length = std::sqrt(coupling2);
                d = Vec2d{a1 / length, a2 / length};
                s = Vec2d{1e-100 * d.x, 1e-100 * d.y};
            } else {
                stuck = true;
                continue;
            }
            // Friction of full strength that brings the slip to rest: t = -(lambda q + cs)
            // with |lambda q + cs| = friction.
            const Vec2d q{s.x / k1, s.y / k2};
            const double a = q.x * q.x + q.y * q.y;
            const double b = q.x * cs.x + q.y * cs.y;
            const double discriminant = b * b - a * d2;
            bool sticks = false;
            if (discriminant > 0.0 && std::sqrt(discriminant) - b > 0.0) {
                const double rate = (std::sqrt(discriminant) - b) / a;
                const Vec2d qs{rate * q.x + cs.x, rate * q.y + cs.y};
                const double turn =
                    std::atan2(std::fabs(qs.x * d.y - qs.y * d.x), qs.x * d.x + qs.y * d.y);
                if (turn < SlipTurn) {
                    t = Vec2d{-qs.x, -qs.y};
                    du = Vec2d{-rate * s.x, -rate * s.y};
                    lambda = rate;
                    sticks = true;
                }
            }
            if (!sticks) {
                // Sliding: friction opposes the slip; the step ends before the slip turns by
                // more than about SlipTurn or runs past its stop.
                t = Vec2d{-friction * d.x, -friction * d.y};
                du = Vec2d{k1 * t.x + a1, k2 * t.y + a2};
                const double cross = std::fabs(s.x * du.y - s.y * du.x);
                lambda = (cross / std::tan(SlipTurn) - (s.x * du.x + s.y * du.y)) /
                         (s.x * s.x + s.y * s.y);
                stuckAfter = false;
            }
        }
        const double kn = a1 * t.x + a2 * t.y + k3;
        if (!(kn > 0.0)) break;  // the normal impulse no longer separates the contact

        // Compression ends where un reaches -g60; the fraction `loss` of its work goes.
        if (!pastCompression) {
            const double end = std::max(0.0, -(u.z + g60) / kn);
            if (end * lambda < 1.0) {
                pastCompression = true;
                work -= loss * (work + 0.5 * kn * end * end);
            }
        }
        double p = 0.0;
        bool last = false;
        if (pastCompression) {
            // The impulse that returns the remaining work: work = un p + kn p^2 / 2. A loss
            // above 1 can leave more work taken than there is to return; the contact then
            // only comes to rest.
            const double root = std::sqrt(std::max(0.0, u.z * u.z + 2.0 * kn * work));
            p = u.z <= 0.0 ? (root - u.z) / kn : 2.0 * work / (root + u.z);
            if (!(p > 0.0)) p = 0.0;
            if (p * lambda >= 1.0) {
                p = 1.0 / lambda;
            } else {
                last = true;
            }
        } else {
            p = 1.0 / lambda;
        }
        work -= u.z * p + 0.5 * kn * p * p;
        u.x += p * du.x;
        u.y += p * du.y;
        u.z += p * kn;
        total.x += p * t.x;
        total.y += p * t.y;
        total.z += p;
        stuck = stuckAfter;
        if (last) break;
    }
    // A contact that ends barely separating gets a small push, so a resting flyer lifts off
    // instead of sinking into the part.
    if (u.z < g60) total.z += 0.1 * g60 / k3;
    return total;
}

}  // namespace

void Bounce(GizmoObject& flyer, GizmoObject* other, ContactMaterial own, ContactMaterial hit,
            std::int32_t sinceLastContact, double gravity, bool noLossOrFriction) {
    FlyerTail& f = flyer.flyer;
    f.contactSound = 0;
    double loss = std::min(own.loss, hit.loss);
    double friction = std::min(own.friction, hit.friction);
    if (noLossOrFriction) {
        loss = 0.0;
        friction = 0.0;
    }
    // A part met again within a quarter frame (a flyer resting or rolling on it) bounces
    // with less loss and friction, fading in from half a quarter frame.
    if (f.hitPart == f.lastHitPart && sinceLastContact < RepeatedContactWindow) {
        const double scale = std::clamp((sinceLastContact - 32) * 8.0 / 256.0, 0.0, 1.0);
        loss *= scale;
        friction *= scale;
    }

    const Vec3 point = f.contact.point;
    const Vec3 normal = f.contact.normal;
    const Vec3 r = Vec3Sub(point, flyer.previousPosition);
    Matrix3 k = ContactMatrix(flyer, r);
    Vec3 w = FlyerPointVelocity(flyer, r);
    Vec3 rOther;
    const bool otherFlyer = IsMovingFlyer(other);
    if (otherFlyer) {
        rOther = Vec3Sub(point, other->previousPosition);
        k = Matrix3Add(k, ContactMatrix(*other, rOther));
        w = Vec3Sub(w, FlyerPointVelocity(*other, rOther));
    } else if (other != nullptr && other->inMotion != 0) {
        const Vec3 arm = Vec3Sub(point, other->previousPosition);
        w = Vec3Sub(w, Vec3Add(other->velocity, Vec3Cross(other->angularVelocity, arm)));
    }
    const double normalLength = Vec3Length(normal);
    if (!IsNormalPositive(normalLength)) return;

    Vec3 impulse;
    const double approach = Vec3Dot(w, normal);
    if (approach <= 0.0) {
        // Separating, or sliding along: pushed apart so the separation speed is eight
        // times what it was (no push when it was 0).
        const double stiffness = Vec3Dot(normal, Matrix3TransformVec3(k, normal));
        impulse = Vec3Scale(normal, 7.0 * approach / stiffness);
    } else {
        // The contact frame: third axis along the hit part's outward normal (towards the
        // flyer), turned about it so the tangential block of K is diagonal.
        const Vec3 n = Vec3Scale(normal, -1.0 / normalLength);
        const Matrix3 frame = BasisFromAxis(n.x, n.y, n.z);
        const Matrix3 kf = Matrix3Product(Matrix3TransposeProduct(frame, k), frame);
        const double delta = 0.5 * (kf.m[4] - kf.m[0]);
        const double offDiagonal = kf.m[1];
        const double sine = delta >= 0.0 ? -offDiagonal : offDiagonal;
        const double cosine =
            std::fabs(delta) + std::sqrt(delta * delta + offDiagonal * offDiagonal);
        const double h2 = cosine * cosine + sine * sine;
        Matrix3 turn = Matrix3SetDiagonal(1.0);
        if (IsNormalPositive(h2)) {
            const double h = std::sqrt(h2);
            const double c = cosine / h;
            const double s = sine / h;
            turn = Matrix3{{c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0}};
        }
        const Matrix3 contactFrame = Matrix3Product(frame, turn);
        const Matrix3 kc = Matrix3Product(Matrix3TransposeProduct(turn, kf), turn);
        const Vec3 u = Matrix3TransformVec3(Matrix3Transpose(contactFrame), w);
        f.impactSpeed = -u.z;
        const double g60 = std::fabs(gravity) / 60.0;
        if (f.impactSpeed > 2.0 * g60) f.contactSound = 1;
        impulse = Matrix3TransformVec3(contactFrame, SolveImpulse(kc, u, friction, loss, g60));
    }
    ApplyImpulse(flyer, r, impulse);
    if (otherFlyer) {
        ApplyImpulse(*other, rOther, Vec3Scale(impulse, -1.0));
        other->flyer.hitPart = -1;
    }
}
