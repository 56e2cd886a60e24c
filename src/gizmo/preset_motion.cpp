#include "gizmo/preset_motion.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/rotation.h"
#include "core/vec3.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"
#include "geometry/shape_type.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_world.h"

#include <cmath>

namespace {

// Parts placed by one position and one rotation vector, as against the parameter-placed kinds.
bool HasSinglePlacement(ShapeType shapeType) {
    return ShapeTypeIsValid(shapeType) && !ShapeTypeIsPlacedByParameters(shapeType);
}

// The fraction of a phase that has passed after `elapsed` seconds. A phase of no length (a
// "time" of 0 in the gizmo) is over as soon as it begins instead of dividing by zero.
double PhaseFraction(double elapsed, double length) {
    return length > 0.0 ? elapsed / length : 1.0;
}

// du/dt of a phase: a phase of no length does not move the object.
double PhaseRate(double length) { return length > 0.0 ? 1.0 / length : 0.0; }

Matrix4W TranslationWFirst(const Vec3& t) {
    Matrix4W w;
    w.m = {1.0, 0.0, 0.0, 0.0, t.x, 1.0, 0.0, 0.0, t.y, 0.0, 1.0, 0.0, t.z, 0.0, 0.0, 1.0};
    return w;
}

}  // namespace

EasePoint EaseCurve(std::int32_t ease, double u) {
    switch (ease) {
        case EaseIn:
            return {u * u, 2.0 * u};
        case EaseOut:
            return {u * (2.0 - u), 2.0 * (1.0 - u)};
        case EaseInOut: {
            const double v = u - 0.5;
            return {0.5 + v * (1.5 - 2.0 * v * v), 1.5 - 6.0 * v * v};
        }
        default:
            return {u, 1.0};
    }
}

void SetUpMotion(GizmoObject& object, const std::uint8_t* first, const std::uint8_t* second) {
    FlipperTail& m = object.flipper;
    Matrix3 relative = Matrix3SetDiagonal(1.0);
    if (HasSinglePlacement(PartRecordShapeType(first))) {
        object.position = PartRecordPosition(first);
        m.moveVector = Vec3Sub(PartRecordPosition(second), object.position);
        // R maps the first orientation onto the second: R R1 = R2.
        const Matrix3 r1 = RotationFromVector(PartRecordRotation(first));
        const Matrix3 r2 = RotationFromVector(PartRecordRotation(second));
        relative = Matrix3Product(r2, Matrix3Transpose(r1));
    }
    object.basePosition = object.position;
    m.rotationVector = RotationToVector(relative);
    m.angle = Vec3Length(m.rotationVector);
    m.rotates = m.angle > 1e-8 ? 1 : 0;
    if (m.rotates != 0) {
        // The screw: with a the unit axis, the pivot base + move/2 + pivotOffset * side lies on
        // the axis, and a turn by the angle about it plus the slide (a . move) a takes the
        // first pose to the second. pivotOffset = cot(angle / 2) / 2.
        const Vec3 axis = Vec3Scale(m.rotationVector, 1.0 / m.angle);
        m.sideVector = Vec3Cross(axis, m.moveVector);
        m.axisVector = Vec3Cross(axis, m.sideVector);
        m.pivotOffset = 0.5 * (1.0 + std::cos(m.angle)) / std::sin(m.angle);
    }
    const Matrix4W toObject = TranslationWFirst(Vec3Scale(object.basePosition, -1.0));
    for (ObjectPartPair& pair : object.partPairs) SetPartPlacement(pair.rest.get(), toObject);
    m.motionClock = 0.0;
    m.motionClockWork = 0.0;
}

void EvaluateMotion(GizmoObject& object, double t) {
    FlipperTail& m = object.flipper;
    if (m.startPending != 0) {
        t -= m.startOffset;
        if (!(t > 0.0)) t = 0.0;
    }
    object.motionDone = 0;
    const bool inGo = m.goTime > m.motionClockWork;
    m.motionClockWork += t;
    const double p = m.motionClockWork;
    const double period = m.goTime + m.returnTime;

    // Motion value u and phase.
    double u = 0.0;
    bool goPhase = true;
    auto returning = [&] {
        goPhase = false;
        u = 1.0 - PhaseFraction(p - m.goTime, m.returnTime);
    };
    auto finish = [&](double end, bool go) {
        u = end;
        goPhase = go;
        object.motionDone = 1;
    };
    if (m.forAndBack == 0) {
        if (m.activated == 0) {
            u = PhaseFraction(p, m.goTime);
        } else if (inGo) {
            if (p >= 0.0 && p < m.goTime) {
                u = p / m.goTime;
            } else {
                finish(1.0, false);
                m.motionClockWork = RestingAtEndClock;
            }
        } else if (p < period) {
            returning();
        } else {
            finish(0.0, true);
        }
    } else if (inGo) {
        if (p < m.goTime) {
            u = PhaseFraction(p, m.goTime);
        } else {
            returning();
        }
    } else if (p < period) {
        returning();
    } else if (m.activated == 0) {
        m.motionClockWork = p - period;
        u = PhaseFraction(m.motionClockWork, m.goTime);
    } else {
        finish(0.0, true);
    }

    const EasePoint ease = EaseCurve(goPhase ? m.goEase : m.returnEase, u);
    const double f = ease.value;
    if (m.rotates == 0) {
        object.orientation = Matrix3SetDiagonal(1.0);
        object.position = Vec3Add(object.basePosition, Vec3Scale(m.moveVector, f));
        object.velocity = m.moveVector;
        object.angularVelocity = Vec3{};
    } else {
        // position(f) = base + f move + (c (1 - cos th) - sin th / 2) side
        //               + (f - c sin th - (1 - cos th) / 2) axisVector,  th = f angle, c the
        // pivot offset; velocity is its derivative by f.
        const double theta = f * m.angle;
        const double c = m.pivotOffset;
        const double cosT = std::cos(theta);
        const double sinT = std::sin(theta);
        object.orientation = RotationFromVector(Vec3Scale(m.rotationVector, f));
        Vec3 position = Vec3Add(object.basePosition, Vec3Scale(m.moveVector, f));
        position = Vec3Add(position, Vec3Scale(m.sideVector, c * (1.0 - cosT) - 0.5 * sinT));
        position = Vec3Add(position, Vec3Scale(m.axisVector, f - c * sinT - 0.5 * (1.0 - cosT)));
        object.position = position;
        Vec3 velocity =
            Vec3Add(m.moveVector, Vec3Scale(m.sideVector, m.angle * (c * sinT - 0.5 * cosT)));
        velocity =
            Vec3Add(velocity, Vec3Scale(m.axisVector, 1.0 - m.angle * (c * cosT + 0.5 * sinT)));
        object.velocity = velocity;
        object.angularVelocity = m.rotationVector;
    }

    // d/dt = (df/du) (du/dt).
    double rate = 0.0;
    if (object.motionDone == 0) {
        rate = goPhase ? ease.slope * PhaseRate(m.goTime) : -ease.slope * PhaseRate(m.returnTime);
    }
    object.velocity = Vec3Scale(object.velocity, rate);
    object.angularVelocity = Vec3Scale(object.angularVelocity, rate);
}

void TriggerMotion(GizmoWorld& world, GizmoObject& object, double t) {
    FlipperTail& m = object.flipper;
    if (object.inMotion != 0 || m.activated == 0) return;
    if (m.forAndBack == 0 && m.motionClock < -1.0) {
        m.motionClock = m.goTime + t;
    } else {
        m.motionClock = t;
    }
    StartMoving(world, object);
}
