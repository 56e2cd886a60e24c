#include "gizmo/preset_motion.h"

#include "core/byte_order.h"
#include "core/colour.h"
#include "core/crt_random.h"
#include "core/maths_test_support.h"
#include "core/matrix3.h"
#include "core/rotation.h"
#include "core/vec3.h"
#include "geometry/part_record.h"
#include "geometry/primitive_record.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_world.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double Pi = 3.14159265358979323846;

// A sphere record placed at the position with the orientation of the rotation vector.
PartRecordPtr Pose(const Vec3& position, const Vec3& rotationVector) {
    PartRecordPtr record = NewPrimitive1(0.5, 1, 0, position, Colour{});
    PartRecordSetRotation(record.get(), rotationVector);
    return record;
}

Matrix3 FromAxisAngle(const Vec3& rotationVector) {
    const double angle = Vec3Length(rotationVector);
    if (angle == 0.0) return Matrix3SetDiagonal(1.0);
    return Matrix3FromAxisAngle(Vec3Scale(rotationVector, 1.0 / angle), angle);
}

// The rotation vector of a small rotation from its antisymmetric part.
Vec3 SmallRotationVector(const Matrix3& r) {
    const Vec3 w{r.m[7] - r.m[5], r.m[2] - r.m[6], r.m[3] - r.m[1]};
    const double s = 0.5 * Vec3Length(w);
    if (s == 0.0) return Vec3{};
    return Vec3Scale(w, std::asin(std::fmin(s, 1.0)) / (2.0 * s));
}

double Distance(const Vec3& a, const Vec3& b) { return Vec3Length(Vec3Sub(a, b)); }

// The motion's pose at working clock p, evaluated from the clock start.
void EvaluateAt(GizmoObject& object, double p, double start = 0.0) {
    object.flipper.motionClockWork = start;
    EvaluateMotion(object, p - start);
}

// Where the motion's current pose takes a point of the first pose.
Vec3 Carry(const GizmoObject& object, const Vec3& point) {
    return Vec3Add(Matrix3TransformVec3(object.orientation, Vec3Sub(point, object.basePosition)),
                   object.position);
}

// smoothstep, the ease-in-out curve written the usual way.
double SmoothStep(double u) { return u * u * (3.0 - 2.0 * u); }

struct Screw {
    PartRecordPtr first;
    PartRecordPtr second;
    GizmoObject object = NewFlipperObject();
};

// A flipper between two random poses, with a second part beside its control part.
Screw RandomScrew(double angle) {
    Screw s;
    const Vec3 p1 = Vec3Scale(RandomVec3(), 3.0);
    const Vec3 p2 = Vec3Add(p1, Vec3Scale(RandomVec3(), 2.0));
    const Vec3 w1 = Vec3Scale(RandomUnitVec3(), RandomSigned() * 2.5);
    const Matrix3 turn = Matrix3FromAxisAngle(RandomUnitVec3(), angle);
    const Vec3 w2 = RotationToVector(Matrix3Product(turn, FromAxisAngle(w1)));
    s.first = Pose(p1, w1);
    s.second = Pose(p2, w2);
    AddObjectPart(s.object, 3, s.first.get());
    PartRecordPtr beside = Pose(Vec3Add(p1, Vec3{1.0, 0.5, -0.25}), w1);
    AddObjectPart(s.object, 4, beside.get());
    SetUpMotion(s.object, s.first.get(), s.second.get());
    return s;
}

TEST(PresetMotion, EaseCurves) {
    const struct {
        double u;
        double value;
        double slope;
    } inOut[] = {{0.0, 0.0, 0.0}, {0.5, 0.5, 1.5}, {1.0, 1.0, 0.0}};
    for (const auto& c : inOut) {
        SCOPED_TRACE(c.u);
        const EasePoint p = EaseCurve(EaseInOut, c.u);
        EXPECT_DOUBLE_EQ(p.value, c.value);
        EXPECT_DOUBLE_EQ(p.slope, c.slope);
    }
    const double h = 1e-6;
    for (int code = -1; code <= 4; ++code) {
        SCOPED_TRACE(code);
        EXPECT_DOUBLE_EQ(EaseCurve(code, 0.0).value, 0.0);
        EXPECT_DOUBLE_EQ(EaseCurve(code, 1.0).value, 1.0);
        for (double u = 0.05; u < 1.0; u += 0.1) {
            const double difference =
                (EaseCurve(code, u + h).value - EaseCurve(code, u - h).value) / (2.0 * h);
            EXPECT_NEAR(EaseCurve(code, u).slope, difference, 1e-8) << "u = " << u;
        }
    }
    for (double u = 0.0; u <= 1.0; u += 0.125) {
        SCOPED_TRACE(u);
        EXPECT_NEAR(EaseCurve(EaseInOut, u).value, SmoothStep(u), 1e-15);
        EXPECT_NEAR(EaseCurve(EaseOut, u).value, 1.0 - EaseCurve(EaseIn, 1.0 - u).value, 1e-15);
        EXPECT_DOUBLE_EQ(EaseCurve(EaseLinear, u).value, u);
        EXPECT_DOUBLE_EQ(EaseCurve(7, u).value, u);
    }
}

TEST(PresetMotion, ReachesTheSecondPoseExactly) {
    CrtSrand(11);
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        const double angle = i == 0 ? 0.0 : RandomSigned() * 3.0;
        Screw s = RandomScrew(angle);
        GizmoObject& object = s.object;
        EXPECT_EQ(object.flipper.rotates, std::fabs(angle) > 1e-6 ? 1 : 0);
        object.flipper.goEase = EaseInOut;
        EvaluateAt(object, 1.0);

        // The control part lands on the second pose, orientation included.
        const Vec3 firstPosition = PartRecordPosition(s.first.get());
        const Vec3 secondPosition = PartRecordPosition(s.second.get());
        EXPECT_LT(Distance(Carry(object, firstPosition), secondPosition), 1e-6);
        const Matrix3 r1 = FromAxisAngle(PartRecordRotation(s.first.get()));
        const Matrix3 r2 = FromAxisAngle(PartRecordRotation(s.second.get()));
        EXPECT_LT(MaxAbsDifference(Matrix3Product(object.orientation, r1), r2), 1e-6);

        // Its rest copy, placed with the pose, is the second state's record.
        PartRecordPtr placed = PartRecordCopy(object.partPairs[0].rest.get());
        EXPECT_LT(Vec3Length(PartRecordPosition(placed.get())), 1e-6);
        const Vec3 moved =
            Carry(object, Vec3Add(PartRecordPosition(placed.get()), object.basePosition));
        EXPECT_LT(Distance(moved, secondPosition), 1e-5);

        // At u = 0 the pose is the first one.
        EvaluateAt(object, 0.0);
        EXPECT_LT(Distance(object.position, firstPosition), 1e-12);
        EXPECT_LT(MaxAbsDifference(object.orientation, Matrix3SetDiagonal(1.0)), 1e-12);
    }
}

TEST(PresetMotion, ScrewAxisStaysFixed) {
    CrtSrand(23);
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        Screw s = RandomScrew((0.2 + 0.7 * std::fabs(RandomSigned())) * Pi);
        GizmoObject& object = s.object;
        object.flipper.goEase = EaseInOut;
        object.flipper.goTime = 2.0;

        // The displacement X -> R X + t between the poses, and its axis: direction a from the
        // antisymmetric part of R, a point P solving (I - R + a a^T) P = t - (a . t) a.
        const Matrix3 r =
            Matrix3Product(FromAxisAngle(PartRecordRotation(s.second.get())),
                           Matrix3Transpose(FromAxisAngle(PartRecordRotation(s.first.get()))));
        const Vec3 t = Vec3Sub(PartRecordPosition(s.second.get()),
                               Matrix3TransformVec3(r, PartRecordPosition(s.first.get())));
        Vec3 a{r.m[7] - r.m[5], r.m[2] - r.m[6], r.m[3] - r.m[1]};
        Vec3Normalize(a);
        Matrix3 system = Matrix3Sub(Matrix3SetDiagonal(1.0), r);
        for (int row = 0; row < 3; ++row) {
            const double ar[3] = {a.x, a.y, a.z};
            for (int col = 0; col < 3; ++col) system.m[3 * row + col] += ar[row] * ar[col];
        }
        const double slide = Vec3Dot(a, t);
        const Vec3 p =
            Matrix3TransformVec3(Matrix3Inverse(system), Vec3Sub(t, Vec3Scale(a, slide)));

        for (double u = 0.0; u <= 1.0; u += 0.125) {
            SCOPED_TRACE(u);
            EvaluateAt(object, u * 2.0);
            const double f = SmoothStep(u);
            for (double along = -2.0; along <= 2.0; along += 1.0) {
                // A point of the axis slides along it by f times the slide, no more.
                const Vec3 onAxis = Vec3Add(p, Vec3Scale(a, along));
                EXPECT_LT(Distance(Carry(object, onAxis), Vec3Add(onAxis, Vec3Scale(a, f * slide))),
                          1e-5);
            }
        }
    }
}

TEST(PresetMotion, VelocityIsTheRateOfThePose) {
    const struct {
        const char* name;
        bool forAndBack;
        bool activated;
        double clock;  // go time 0.8, return time 0.5
        double start;  // the clock a trigger starts it at
    } phases[] = {
        {"free-running go", false, false, 0.3, 0.0},
        {"one-way go", false, true, 0.5, 0.0},
        {"one-way return", false, true, 1.1, 0.8},
        {"there and back, go", true, true, 0.2, 0.0},
        {"there and back, return", true, true, 0.95, 0.0},
    };
    CrtSrand(5);
    const double h = 1e-6;
    for (int i = 0; i < 20; ++i) {
        Screw s = RandomScrew(i == 0 ? 0.0 : RandomSigned() * 2.8);
        FlipperTail& m = s.object.flipper;
        m.goTime = 0.8;
        m.returnTime = 0.5;
        m.goEase = EaseInOut;
        m.returnEase = EaseOut;
        for (const auto& phase : phases) {
            SCOPED_TRACE(testing::Message() << "case " << i << ", " << phase.name);
            m.forAndBack = phase.forAndBack ? 1 : 0;
            m.activated = phase.activated ? 1 : 0;
            EvaluateAt(s.object, phase.clock - h, phase.start);
            const Vec3 before = s.object.position;
            const Matrix3 orientationBefore = s.object.orientation;
            EvaluateAt(s.object, phase.clock + h, phase.start);
            const Vec3 after = s.object.position;
            const Matrix3 orientationAfter = s.object.orientation;
            EvaluateAt(s.object, phase.clock, phase.start);
            ASSERT_EQ(s.object.motionDone, 0);

            const Vec3 rate = Vec3Scale(Vec3Sub(after, before), 1.0 / (2.0 * h));
            EXPECT_LT(Distance(s.object.velocity, rate), 1e-6 * (1.0 + Vec3Length(rate)));
            const Vec3 spin = Vec3Scale(SmallRotationVector(Matrix3Product(
                                            orientationAfter, Matrix3Transpose(orientationBefore))),
                                        1.0 / (2.0 * h));
            EXPECT_LT(Distance(s.object.angularVelocity, spin), 1e-6 * (1.0 + Vec3Length(spin)));
        }
    }
}

TEST(PresetMotion, TranslationWithoutTurn) {
    PartRecordPtr first = Pose(Vec3{1.0, 2.0, 3.0}, Vec3{0.0, 0.5, 0.0});
    PartRecordPtr second = Pose(Vec3{2.0, 0.0, 3.0}, Vec3{0.0, 0.5, 0.0});
    GizmoObject object = NewFlipperObject();
    SetUpMotion(object, first.get(), second.get());
    EXPECT_EQ(object.flipper.rotates, 0);
    object.flipper.goEase = EaseIn;
    object.flipper.goTime = 0.5;
    EvaluateAt(object, 0.25);  // u = 0.5, f = 0.25, slope 1
    EXPECT_LT(Distance(object.position, Vec3{1.25, 1.5, 3.0}), 1e-12);
    EXPECT_LT(Distance(object.velocity, Vec3{2.0, -4.0, 0.0}), 1e-12);
    EXPECT_EQ(Vec3Length(object.angularVelocity), 0.0);
    EXPECT_EQ(MaxAbsDifference(object.orientation, Matrix3SetDiagonal(1.0)), 0.0);
}

TEST(PresetMotion, PartsWithoutOnePlacementStayPut) {
    PartRecordPtr first = Pose(Vec3{1.0, 2.0, 3.0}, Vec3{0.3, 0.0, 0.0});
    PartRecordPtr second = Pose(Vec3{4.0, 4.0, 4.0}, Vec3{0.0, 1.0, 0.0});
    const std::int32_t noSinglePlacement[] = {10, 11, 12, 26, 27, 28, 30, 0};
    for (const std::int32_t type : noSinglePlacement) {
        SCOPED_TRACE(type);
        std::uint8_t* record = first.get();
        const ShapeType saved = PartRecordShapeType(record);
        StoreI32LE(record + PartRecordShapeTypeOffset, type);
        GizmoObject object = NewFlipperObject();
        SetUpMotion(object, record, second.get());
        PartRecordSetShapeType(record, saved);
        EvaluateAt(object, 0.5);
        EXPECT_EQ(object.flipper.rotates, 0);
        EXPECT_EQ(Vec3Length(object.position), 0.0);
        EXPECT_EQ(Vec3Length(object.velocity), 0.0);
    }
}

TEST(PresetMotion, ZeroTimesDoNotDivideByZero) {
    const struct {
        const char* name;
        double goTime;
        double returnTime;
        bool forAndBack;
        bool activated;
        double clock;
        double fraction;  // of the move at that clock
        bool done;
    } cases[] = {
        {"free-running, go time 0", 0.0, 1.0, false, false, 0.5, 1.0, false},
        {"one-way, go time 0, returns at once", 0.0, 1.0, false, true, 0.25, 0.75, false},
        {"one-way, return time 0, back at once", 1.0, 0.0, false, true, 1.5, 0.0, true},
        {"there and back, return time 0", 1.0, 0.0, true, true, 1.0, 0.0, false},
        {"there and back, both 0", 0.0, 0.0, true, true, 0.5, 0.0, true},
        {"free-running there and back, both 0", 0.0, 0.0, true, false, 0.5, 1.0, false},
        {"negative go time", -1.0, 1.0, false, false, 0.5, 1.0, false},
    };
    PartRecordPtr first = Pose(Vec3{0.0, 0.0, 0.0}, Vec3{0.0, 0.0, 0.0});
    PartRecordPtr second = Pose(Vec3{0.0, 2.0, 0.0}, Vec3{0.0, 0.0, 0.0});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GizmoObject object = NewFlipperObject();
        SetUpMotion(object, first.get(), second.get());
        object.flipper.goTime = c.goTime;
        object.flipper.returnTime = c.returnTime;
        object.flipper.forAndBack = c.forAndBack ? 1 : 0;
        object.flipper.activated = c.activated ? 1 : 0;
        // A one-way motion with a go is returning: a trigger started it past its go.
        EvaluateAt(object, c.clock, c.activated && !c.forAndBack ? std::fmax(c.goTime, 0.0) : 0.0);
        EXPECT_EQ(object.motionDone, c.done ? 1 : 0);
        EXPECT_DOUBLE_EQ(object.position.y, 2.0 * c.fraction);
        EXPECT_TRUE(std::isfinite(object.velocity.y));
        EXPECT_TRUE(std::isfinite(object.flipper.motionClockWork) ||
                    object.flipper.motionClockWork == RestingAtEndClock);
    }
}

// A world with one one-way flipper along +y, triggered by a key.
struct TriggeredFlipper {
    std::vector<std::int32_t> movingParts;
    std::vector<std::uint8_t*> partTable;
    GizmoWorld world{&movingParts, &partTable};
    PartRecordPtr first = Pose(Vec3{0.0, 0.0, 0.0}, Vec3{});
    PartRecordPtr second = Pose(Vec3{0.0, 1.0, 0.0}, Vec3{});
    GizmoObject& object;

    TriggeredFlipper() : object(*world.objects.emplace_back(new GizmoObject(NewFlipperObject()))) {
        AddObjectPart(object, 0, first.get());
        SetUpMotion(object, first.get(), second.get());
        object.flipper.activated = 1;
        object.flipper.keyBits = 1;
        object.flipper.goTime = 0.5;
        object.flipper.returnTime = 0.25;
    }

    // Runs frames of dt as the frame driver does until the motion is done; returns the
    // number of frames.
    int RunUntilDone(double dt) {
        for (int frame = 1; frame <= 1000; ++frame) {
            object.flipper.motionClockWork = object.flipper.motionClock;
            EvaluateMotion(object, dt);
            object.flipper.motionClock = object.flipper.motionClockWork;
            if (object.motionDone != 0) {
                StopMoving(world, object);
                return frame;
            }
        }
        return -1;
    }
};

TEST(PresetMotion, OneWayTriggerTogglesBetweenThePoses) {
    TriggeredFlipper f;
    TriggerMotion(f.world, f.object, 0.0);
    EXPECT_EQ(f.object.inMotion, 1);
    EXPECT_EQ(f.movingParts, (std::vector<std::int32_t>{0}));
    EXPECT_EQ(f.RunUntilDone(0.0625), 8);
    EXPECT_DOUBLE_EQ(f.object.position.y, 1.0);
    EXPECT_LT(f.object.flipper.motionClock, -1.0);
    EXPECT_EQ(f.object.inMotion, 0);

    // Resting at the second pose, evaluating keeps it there.
    f.object.flipper.motionClockWork = f.object.flipper.motionClock;
    EvaluateMotion(f.object, 0.0625);
    EXPECT_DOUBLE_EQ(f.object.position.y, 1.0);
    EXPECT_EQ(Vec3Length(f.object.velocity), 0.0);

    TriggerMotion(f.world, f.object, 0.0);
    EXPECT_DOUBLE_EQ(f.object.flipper.motionClock, 0.5);
    EXPECT_EQ(f.RunUntilDone(0.0625), 4);
    EXPECT_DOUBLE_EQ(f.object.position.y, 0.0);
    EXPECT_TRUE(f.movingParts.empty());
}

TEST(PresetMotion, TriggersThatChangeNothing) {
    TriggeredFlipper f;
    TriggerMotion(f.world, f.object, 0.1);
    f.object.flipper.motionClock = 0.3;
    TriggerMotion(f.world, f.object, 0.0);  // in motion
    EXPECT_DOUBLE_EQ(f.object.flipper.motionClock, 0.3);
    EXPECT_EQ(f.world.moving.size(), 1u);

    StopMoving(f.world, f.object);
    f.object.flipper.activated = 0;
    TriggerMotion(f.world, f.object, 0.0);  // no trigger of its own
    EXPECT_EQ(f.object.inMotion, 0);
    EXPECT_DOUBLE_EQ(f.object.flipper.motionClock, 0.3);
}

TEST(PresetMotion, PendingStartBeginsPartWayThroughTheFrame) {
    TriggeredFlipper f;
    f.object.flipper.startPending = 1;
    f.object.flipper.startOffset = 0.01;
    EvaluateMotion(f.object, 0.033);
    EXPECT_NEAR(f.object.flipper.motionClockWork, 0.023, 1e-15);
    f.object.flipper.motionClockWork = 0.0;
    EvaluateMotion(f.object, 0.005);  // before the start
    EXPECT_EQ(f.object.flipper.motionClockWork, 0.0);
    EXPECT_EQ(f.object.position.y, 0.0);
}

}  // namespace
