#include "gizmo/slider_guide.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/quadric.h"
#include "core/rotation.h"
#include "core/scalar_maths.h"
#include "geometry/part_placement.h"
#include "gizmo/physics_maths_internal.h"
#include "texture/curve_crossing.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

namespace {

using namespace gizmo_physics;

// A surface Q (world) seen in a frame: F^T Q F, F taking frame coordinates to world.
Matrix4W SurfaceInFrame(const Matrix4W& q, const Matrix4W& worldFromFrame) {
    return Matrix4Product(Matrix4Transpose(worldFromFrame), Matrix4Product(q, worldFromFrame));
}

bool IsCurved(std::uint32_t curvedMask, std::size_t surface) {
    return surface < 32 && (curvedMask >> surface & 1u) != 0;
}

// The comb sort the guide set-up orders its crossings and circles with: the gap starts at
// the count and shrinks by 10/13 before each pass, until a pass with gap 1 swaps nothing.
// Its order of equal keys is part of which crossing or edge the set-up picks.
template <typename T, typename OutOfOrder>
void CombSort(std::vector<T>& items, OutOfOrder outOfOrder) {
    std::size_t gap = items.size();
    bool swapped = true;
    while (gap > 1 || swapped) {
        gap = std::max<std::size_t>(1, (gap * 10 + 3) / 13);
        swapped = false;
        for (std::size_t i = 0; i + gap < items.size(); ++i) {
            if (outOfOrder(items[i], items[i + gap])) {
                std::swap(items[i], items[i + gap]);
                swapped = true;
            }
        }
    }
}

struct AxisCrossing {
    double y = 0.0;
    std::size_t surface = 0;
};

struct EdgeCircle {
    double rho = 0.0;
    double h = 0.0;
};

// Where the control axis (x = z = 0 of the control frame) leaves the guide solid through a
// surface perpendicular to it.
struct AxisExit {
    std::int32_t result = SliderAxisMissesGuide;
    double y = 0.0;
    std::size_t surface = 0;
};

AxisExit FindAxisExit(std::span<const Matrix4W> surfaces, const PhysicsPart& guide,
                      const Matrix4W& controlFromWorld) {
    AxisExit exit;
    const Matrix4W worldFromControl = InvertAffineWFirst(controlFromWorld);
    const Vec3 centre = TransformPoint(controlFromWorld, guide.sphereCentre);
    const double radius = guide.sphereRadius;
    const double unit = std::ldexp(1.0, guide.octreeLevel) / PartGridUnitsPerUnit;
    const double reach = std::fabs(centre.y) + radius + 2.0;
    const double below = centre.y - radius - 1.0;

    // Crossings of the axis with each surface: a y^2 + 2 b y + c = 0.
    std::vector<Matrix4W> local;
    std::vector<AxisCrossing> crossings;
    for (std::size_t i = 0; i < surfaces.size(); ++i) {
        const Matrix4W q = SurfaceInFrame(surfaces[i], worldFromControl);
        local.push_back(q);
        const double a = q.m[10];
        const double b = q.m[2];
        const double c = q.m[0];
        // A surface that all but vanishes along the axis has no crossing to trust.
        if (std::fabs(a) + 2.0 * std::fabs(b) / unit + std::fabs(c) / (unit * unit) <
            1e-8 * MaxAbsSymmetric4(q, unit)) {
            return exit;
        }
        const double discriminant = b * b - a * c;
        if ((std::fabs(a) * reach + 2.0 * std::fabs(b)) * reach <= std::fabs(c) ||
            !(discriminant > 0.0)) {
            continue;
        }
        const double q0 = b >= 0.0 ? -std::sqrt(discriminant) : std::sqrt(discriminant);
        const double m = q0 - b;
        if (std::fabs(m) < std::fabs(a) * reach) crossings.push_back({m / a, i});
        const double near = std::fpclassify(discriminant) == FP_SUBNORMAL ? (-q0 - b) / a : c / m;
        crossings.push_back({near, i});
    }
    if (crossings.empty()) return exit;
    CombSort(crossings, [](const AxisCrossing& p, const AxisCrossing& q) { return p.y > q.y; });

    // A start below the guide, in the widest gap between crossings near `below`.
    double start = below;
    {
        std::vector<double> marks{below - 0.5};
        for (const AxisCrossing& c : crossings) {
            if (c.y > below - 0.5 && c.y < below + 0.5) marks.push_back(c.y);
        }
        marks.push_back(below + 0.5);
        if (marks.size() > 2) {
            double widest = -1.0;
            for (std::size_t i = 0; i + 1 < marks.size(); ++i) {
                if (marks[i + 1] - marks[i] > widest) {
                    widest = marks[i + 1] - marks[i];
                    start = 0.5 * (marks[i] + marks[i + 1]);
                }
            }
        }
    }

    // Walk up the axis counting the surfaces it is outside of; where that count goes to or
    // from 0 the axis crosses the solid's boundary.
    std::vector<std::uint8_t> outside(surfaces.size(), 0);
    std::size_t outsideCount = 0;
    for (std::size_t i = 0; i < local.size(); ++i) {
        const Matrix4W& q = local[i];
        if ((q.m[10] * start + 2.0 * q.m[2]) * start + q.m[0] > 0.0) {
            outside[i] = 1;
            ++outsideCount;
        }
    }
    bool metBoundary = false;
    bool accepted = false;
    for (const AxisCrossing& c : crossings) {
        if (!(c.y > start)) continue;
        const bool before = outsideCount == 0;
        outside[c.surface] ^= 1;
        outsideCount = outside[c.surface] != 0 ? outsideCount + 1 : outsideCount - 1;
        if (!before && outsideCount != 0) continue;
        metBoundary = true;
        const Vec3 g = HalfGradient(local[c.surface], Vec3{0.0, c.y, 0.0});
        const double across = g.x * g.x + g.z * g.z;
        if (g.y > 0.0 && across < 0.0001 * (across + g.y * g.y) &&
            (!accepted || c.y * c.y < exit.y * exit.y)) {
            accepted = true;
            exit.y = c.y;
            exit.surface = c.surface;
        }
    }
    if (accepted) {
        exit.result = SliderSetUpDone;
    } else if (metBoundary) {
        exit.result = SliderAxisNotPerpendicular;
    }
    return exit;
}

// The value of a surface of revolution's profile at a circle, and its gradient's size.
double ProfileValue(const Matrix4W& q, const EdgeCircle& c) {
    return q.m[5] * c.rho * c.rho + q.m[10] * c.h * c.h + 2.0 * q.m[2] * c.h + q.m[0];
}

double ProfileParameter(const SliderTail& s, const EdgeCircle& c) {
    if (s.coordinateMode != 0) return c.rho / s.coordinateScale;
    if (s.hasRadialTerm != 0) {
        const double p = c.h / s.coordinateScale;
        return s.profile.m[5] > 0.0 ? p : -p;
    }
    return s.profile.m[2] > 0.0 ? -std::log(c.rho) : std::log(c.rho);
}

// The guide face: the stretch of the guide surface between two edge circles around the
// guide point. Fills the profile, bounds and coordinate scale; false when the surface has
// fewer than two edges or the face has no extent.
bool FindGuideFace(SliderTail& s, std::span<const Matrix4W> surfaces, const PhysicsPart& guide,
                   const Vec3& guidePoint) {
    const Matrix4W worldFromGuide = InvertAffineWFirst(guide.localFromWorld);
    std::vector<Matrix4W> profiles;
    for (const Matrix4W& q : surfaces) profiles.push_back(SurfaceInFrame(q, worldFromGuide));
    const Matrix4W& profile = profiles[static_cast<std::size_t>(s.guideSurfaceIndex)];
    const bool curved = IsCurved(guide.curvedMask, static_cast<std::size_t>(s.guideSurfaceIndex));
    const double a = profile.m[5];
    const double b = profile.m[2];
    const double d = profile.m[0];
    const double radius = guide.sphereRadius;
    const Vec3 point = TransformPoint(guide.localFromWorld, guidePoint);
    const double pointRho = std::sqrt(point.x * point.x + point.z * point.z);

    // Edge circles: the guide surface against each other surface, and against the axis
    // (the pseudo-surface x^2 + z^2), where one of the two is curved.
    Matrix4W axis;
    axis.m[5] = 1.0;
    axis.m[15] = 1.0;
    std::vector<EdgeCircle> circles;
    auto collect = [&](const Matrix4W& other) {
        std::array<double, 4> out{};
        const std::int32_t count = SolveCurveCrossing(out, profile, other, 3.0 * radius);
        for (std::int32_t k = 0; k < count; ++k) {
            circles.push_back(
                {out[static_cast<std::size_t>(2 * k)], out[static_cast<std::size_t>(2 * k + 1)]});
        }
    };
    for (std::size_t j = 0; j < profiles.size(); ++j) {
        if (j == static_cast<std::size_t>(s.guideSurfaceIndex)) continue;
        if (curved || IsCurved(guide.curvedMask, j)) collect(profiles[j]);
    }
    collect(axis);
    // A face needs an edge on either side; a guide surface with fewer edges is refused.
    if (circles.size() < 2) return false;

    // Along the face: by height on a curved surface, by radius on a plane, in the direction
    // in which the profile parameter grows.
    const bool ascending = curved ? a > 0.0 : b < 0.0;
    auto key = [&](const EdgeCircle& c) { return curved ? c.h : c.rho; };
    CombSort(circles, [&](const EdgeCircle& p, const EdgeCircle& q) {
        return ascending ? key(p) > key(q) : key(p) < key(q);
    });
    const double pointKey = curved ? point.y : pointRho;
    const std::size_t count = circles.size();
    std::size_t i = count;
    for (std::size_t k = 0; k < count; ++k) {
        if (ascending ? key(circles[k]) > pointKey : !(key(circles[k]) > pointKey)) {
            i = k;
            break;
        }
    }
    i = std::clamp<std::size_t>(i, 1, count - 1);
    // An edge circle that lies outside the part (beyond another of its surfaces) is not an
    // edge of this face: step past it once.
    for (std::size_t k : {i - 1, i}) {
        bool outsidePart = false;
        for (std::size_t j = 0; j < profiles.size() && !outsidePart; ++j) {
            if (j == static_cast<std::size_t>(s.guideSurfaceIndex)) continue;
            const Matrix4W& q = profiles[j];
            const EdgeCircle& c = circles[k];
            const double slope = std::hypot(q.m[5] * c.rho, q.m[10] * c.h + q.m[2]);
            outsidePart = ProfileValue(q, c) > 0.01 * radius * slope;
        }
        if (!outsidePart) continue;
        if (k == i - 1) {
            if (i < count - 1) ++i;
        } else if (i > 1) {
            --i;
        }
        break;
    }
    const EdgeCircle& first = circles[i - 1];
    const EdgeCircle& second = circles[i];

    s.profile = profile;
    s.hasRadialTerm = curved ? 1 : 0;
    double scale = std::max(first.rho, second.rho);
    if (curved && a * d < 0.0) scale = std::max(scale, std::sqrt(-d / a));
    if (!(scale > 0.0) || !std::isfinite(scale)) return false;
    s.coordinateScale = scale;
    s.parameterBounds[0] = ProfileParameter(s, first);
    s.parameterBounds[1] = ProfileParameter(s, second);
    s.heightBounds[0] = std::min(first.h, second.h);
    s.heightBounds[1] = std::max(first.h, second.h);
    return true;
}

// Turns the slider's parts about its axis so that they stand at a multiple of
// pi / (2 rotSnap) from the direction in which the guide is seen across the axis.
void SnapRotation(GizmoObject& slider, const PhysicsPart& control, const PhysicsPart& guide,
                  bool curved, std::int32_t rotSnap) {
    const Matrix4W controlFromGuide =
        Matrix4Product(control.localFromWorld, InvertAffineWFirst(guide.localFromWorld));
    // Curved: the guide axis' direction across the slider's axis; plane: the guide origin's.
    double vz = curved ? controlFromGuide.m[14] : controlFromGuide.m[12];
    double vx = curved ? controlFromGuide.m[6] : controlFromGuide.m[4];
    if (IsZeroOrSubnormal(vz)) vz = 0.0;
    if (IsZeroOrSubnormal(vx)) vx = 0.0;
    if ((vz == 0.0 && vx == 0.0) || rotSnap == 0) return;
    const double phi = -AngleOfVector2(vz, vx);
    const double step = HALF_PI / rotSnap;
    const double n = RoundToIntClamped(phi / step);
    const Matrix3 turn = Matrix3FromAxisAngle(Y_AXIS, n * step - phi);
    const Matrix4W placement =
        Matrix4Product(InvertAffineWFirst(control.localFromWorld),
                       Matrix4Product(EmbedMatrix3(turn, 0), control.localFromWorld));
    for (ObjectPartPair& pair : slider.partPairs) SetPartPlacement(pair.rest.get(), placement);
}

// The unit normal of the guide surface at a world point and its rate as the point moves at
// `velocity`; the guide axis where the surface has no gradient.
struct SurfaceNormal {
    Vec3 n;
    Vec3 rate;
};

SurfaceNormal NormalAt(const SliderTail& s, const Vec3& point, const Vec3& velocity) {
    const Vec3 g = HalfGradient(s.guideSurfaceWorld, point);
    const double length = Vec3Length(g);
    if (!IsNormalPositive(length)) {
        Vec3 axis = TransformDirection(InvertAffineWFirst(s.guideFromWorld), Y_AXIS);
        Vec3Normalize(axis);
        return SurfaceNormal{axis, Vec3{}};
    }
    const Vec3 n = Vec3Scale(g, 1.0 / length);
    // The half-gradient b + C p changes at C v.
    const Vec3 change = Matrix3TransformVec3(LinearPart(s.guideSurfaceWorld), velocity);
    const Vec3 across = Vec3Sub(change, Vec3Scale(n, Vec3Dot(n, change)));
    return SurfaceNormal{n, Vec3Scale(across, 1.0 / length)};
}

Vec3 Across(const Vec3& v, const Vec3& axis) {
    return Vec3Sub(v, Vec3Scale(axis, Vec3Dot(v, axis)));
}

// The rotation taking the start normal ns to n that also takes the reference direction's
// part across ns to its part across n; the shortest arc when a reference has no part across.
Matrix3 TurnWithReference(const Vec3& ns, const Vec3& n, const Vec3& startReference,
                          const Vec3& reference) {
    Vec3 ts = Across(startReference, ns);
    Vec3 t = Across(reference, n);
    if (Vec3Normalize(ts) == 0.0 || Vec3Normalize(t) == 0.0) {
        return Matrix3Product(RotationFromYAxis(n), Matrix3Transpose(RotationFromYAxis(ns)));
    }
    return Matrix3Product(FromColumns(n, t, Vec3Cross(n, t)),
                          Matrix3Transpose(FromColumns(ns, ts, Vec3Cross(ns, ts))));
}

}  // namespace

std::int32_t SetUpSlider(GizmoObject& slider, const PhysicsPart& control, const PhysicsPart& guide,
                         bool axial, std::int32_t map, std::int32_t rotSnap) {
    const std::span<const Matrix4W> surfaces = guide.surfaces;
    if (surfaces.empty()) return SliderAxisMissesGuide;
    const AxisExit exit = FindAxisExit(surfaces, guide, control.localFromWorld);
    if (exit.result != SliderSetUpDone) return exit.result;

    // The model is built aside and stored only when the whole set-up succeeds.
    SliderTail s = slider.slider;
    s.surfaceOffset = -exit.y;
    s.guideSurfaceIndex = static_cast<std::int32_t>(exit.surface);
    s.guidePart = guide.partIndex;
    s.guideFromWorld = guide.localFromWorld;
    s.guideSurfaceWorld = surfaces[exit.surface];
    s.guideRadius = guide.sphereRadius;
    s.guidePoint =
        TransformPoint(InvertAffineWFirst(control.localFromWorld), Vec3{0.0, exit.y, 0.0});
    s.startGuidePoint = s.guidePoint;
    s.guideVelocity = Vec3{};
    s.coordinateMode = map;

    const bool isBox =
        guide.shapeType == ShapeType::Box || guide.shapeType == ShapeType::RoundedBox;
    if (isBox) {
        // A box is no surface of revolution: the slider keeps its place on it.
        s.followsSurface = 0;
        s.axialFrame = 0;
        s.hasProfile = 0;
    } else {
        s.axialFrame = axial || map == 0 ? 1 : 0;
        if (!FindGuideFace(s, surfaces, guide, s.guidePoint)) return SliderAxisMissesGuide;
        s.followsSurface = s.hasRadialTerm != 0 ? 1 : s.axialFrame;
        s.hasProfile = 1;
    }
    slider.slider = s;
    if (!isBox && s.axialFrame != 0) {
        SnapRotation(slider, control, guide, s.hasRadialTerm != 0, rotSnap);
    }

    slider.position = control.position;
    slider.basePosition = control.position;
    Matrix4W toSlider;
    Matrix4SetDiagonal(toSlider, 1.0);
    toSlider.m[4] = -control.position.x;
    toSlider.m[8] = -control.position.y;
    toSlider.m[12] = -control.position.z;
    for (ObjectPartPair& pair : slider.partPairs) SetPartPlacement(pair.rest.get(), toSlider);
    PlaceSlider(slider);
    return SliderSetUpDone;
}

ProfileSample ProfilePoint(const SliderTail& s, double p) {
    const double a = s.profile.m[5];
    const double b = s.profile.m[2];
    const double c = s.profile.m[10];
    const double d = s.profile.m[0];
    const double scale = s.coordinateScale;
    ProfileSample out;
    if (s.coordinateMode == 0) {
        if (s.hasRadialTerm != 0) {
            const double sign = a > 0.0 ? 1.0 : -1.0;
            out.h = sign * scale * p;
            out.hRate = sign * scale;
            const double rho2 = -(d + out.h * (2.0 * b + c * out.h)) / a;
            out.rho = rho2 > 0.0 ? std::sqrt(rho2) : 0.0;
            // On the axis the meridian runs across it and rho has no finite rate by h.
            if (IsNormalPositive(out.rho))
                out.rhoRate = -(b + c * out.h) * out.hRate / (a * out.rho);
        } else {
            out.rho = b > 0.0 ? std::exp(-p) : std::exp(p);
            out.rhoRate = b > 0.0 ? -out.rho : out.rho;
            out.h = -0.5 * d / b;
        }
        return out;
    }
    out.rho = scale * p;
    out.rhoRate = scale;
    if (s.hasRadialTerm == 0) {
        out.h = -0.5 * d / b;
        return out;
    }
    if (c == 0.0) {
        // No h^2 term: a paraboloid, h = -(A rho^2 + D) / 2B; a cylinder (B = 0 too) has no
        // height of its own and keeps the face's middle.
        if (b != 0.0) {
            out.h = -(a * out.rho * out.rho + d) / (2.0 * b);
            out.hRate = -a * out.rho * scale / b;
        } else {
            out.h = 0.5 * (s.heightBounds[0] + s.heightBounds[1]);
        }
        return out;
    }
    // C h^2 + 2 B h + (A rho^2 + D) = 0: the root on the side of the centre -B/C where the
    // slider started. (Judged by the middle of the face's two heights, a face that runs
    // across the centre, such as a sphere from pole to pole, would put the slider on the far
    // side at its first move.)
    const double radicand = b * b - c * (a * out.rho * out.rho + d);
    const double q = radicand > 0.0 ? std::sqrt(radicand) : 0.0;
    const double centre = -b / c;
    const double startHeight =
        Matrix4TransformVec4(s.guideFromWorld, Vec4{1.0, s.startGuidePoint.x, s.startGuidePoint.y,
                                                    s.startGuidePoint.z})
            .y;
    const double sign = startHeight < centre ? -1.0 : 1.0;
    out.h = centre + sign * q / std::fabs(c);
    if (IsNormalPositive(q)) out.hRate = sign * (-(c * scale * a * out.rho) / q) / std::fabs(c);
    return out;
}

void SetGuideCoordinates(GizmoObject& slider, double u1, double u2, double u1Rate, double u2Rate) {
    SliderTail& s = slider.slider;
    if (s.hasProfile == 0) {
        s.guidePoint = s.startGuidePoint;
        s.guideVelocity = Vec3{};
        return;
    }
    const double lower = std::min(s.parameterBounds[0], s.parameterBounds[1]);
    const double upper = std::max(s.parameterBounds[0], s.parameterBounds[1]);
    Vec3 point;
    Vec3 velocity;
    if (s.coordinateMode == 0) {
        // Axial: u1 the angle about the axis (from the frame's z towards x), u2 the parameter.
        double p = u2;
        double pRate = u2Rate;
        if (p < lower || p > upper) {
            p = std::clamp(p, lower, upper);
            pRate = 0.0;
        }
        const ProfileSample at = ProfilePoint(s, p);
        const double sinA = std::sin(u1);
        const double cosA = std::cos(u1);
        point = Vec3{at.rho * sinA, at.h, at.rho * cosA};
        velocity = Vec3{(at.rhoRate * sinA) * pRate + at.rho * cosA * u1Rate, at.hRate * pRate,
                        (at.rhoRate * cosA) * pRate - at.rho * sinA * u1Rate};
    } else {
        // Planar: (u1, u2) point along the frame's (z, x), both turned half round for a
        // bottom map; their length is the parameter.
        const double sign = s.coordinateMode < 0 ? -1.0 : 1.0;
        const double length = std::sqrt(u1 * u1 + u2 * u2);
        double r = length;
        double rRate = length > 0.0 ? (u1 * u1Rate + u2 * u2Rate) / length : 0.0;
        if (r < lower || r > upper) {
            r = std::clamp(r, lower, upper);
            rRate = 0.0;
        }
        const ProfileSample at = ProfilePoint(s, r);
        if (length > 0.0) {
            // The direction e = (u2, u1) / length (x, z) and its rate.
            const double ex = sign * u2 / length;
            const double ez = sign * u1 / length;
            const double lengthRate = (u1 * u1Rate + u2 * u2Rate) / length;
            const double exRate = (sign * u2Rate - ex * lengthRate) / length;
            const double ezRate = (sign * u1Rate - ez * lengthRate) / length;
            point = Vec3{at.rho * ex, at.h, at.rho * ez};
            velocity = Vec3{at.rhoRate * rRate * ex + at.rho * exRate, at.hRate * rRate,
                            at.rhoRate * rRate * ez + at.rho * ezRate};
        } else {
            // No direction: the point sits on the axis side of the face at rest.
            point = Vec3{0.0, at.h, sign * at.rho};
        }
    }
    const Matrix4W worldFromGuide = InvertAffineWFirst(s.guideFromWorld);
    s.guidePoint = TransformPoint(worldFromGuide, point);
    s.guideVelocity = TransformDirection(worldFromGuide, velocity);
}

GuideCoordinates GuideCoordinatesOf(const GizmoObject& slider) {
    const SliderTail& s = slider.slider;
    if (s.hasProfile == 0) return GuideCoordinates{};
    const Vec3 p = TransformPoint(s.guideFromWorld, s.guidePoint);
    const double r = std::sqrt(p.x * p.x + p.z * p.z);
    double parameter;
    if (s.coordinateMode != 0) {
        parameter = r / s.coordinateScale;
    } else if (s.hasRadialTerm != 0) {
        parameter = s.profile.m[5] > 0.0 ? p.y / s.coordinateScale : -p.y / s.coordinateScale;
    } else {
        // Keeps the parameter finite on the axis, so drags and interpolations stay numbers.
        const double logR = std::log(std::max(r, DBL_MIN));
        parameter = s.profile.m[2] > 0.0 ? -logR : logR;
    }
    if (s.coordinateMode == 0) return GuideCoordinates{AngleOfVector2(p.z, p.x), parameter};
    if (!(r > 0.0)) return GuideCoordinates{};
    const double sign = s.coordinateMode < 0 ? -1.0 : 1.0;
    return GuideCoordinates{sign * parameter * p.z / r, sign * parameter * p.x / r};
}

void SliderInterpolate(GizmoObject& slider, double endTime, double dt) {
    const SliderTail& s = slider.slider;
    const GuideCoordinates& a = s.startTarget;
    const GuideCoordinates& b = s.endTarget;
    if (!(dt > 0.0)) {
        SetGuideCoordinates(slider, b.u1, b.u2, 0.0, 0.0);
        return;
    }
    const double f = endTime / dt;
    SetGuideCoordinates(slider, (1.0 - f) * a.u1 + f * b.u1, (1.0 - f) * a.u2 + f * b.u2,
                        (b.u1 - a.u1) / dt, (b.u2 - a.u2) / dt);
}

void PlaceSlider(GizmoObject& slider) {
    const SliderTail& s = slider.slider;
    const SurfaceNormal now = NormalAt(s, s.guidePoint, s.guideVelocity);
    slider.position = Vec3Add(s.guidePoint, Vec3Scale(now.n, s.surfaceOffset));
    slider.velocity = Vec3Add(s.guideVelocity, Vec3Scale(now.rate, s.surfaceOffset));
    if (s.followsSurface == 0) {
        slider.orientation = Matrix3SetDiagonal(1.0);
        slider.angularVelocity = Vec3{};
        return;
    }
    const Vec3 ns = NormalAt(s, s.startGuidePoint, Vec3{}).n;
    const Matrix4W worldFromGuide = InvertAffineWFirst(s.guideFromWorld);
    Vec3 axis = TransformDirection(worldFromGuide, Y_AXIS);
    Vec3Normalize(axis);
    const Vec3 origin = TransformPoint(worldFromGuide, Vec3{});
    const Vec3 wAcross = Across(Vec3Sub(s.guidePoint, origin), axis);
    const Vec3 vAcross = Across(s.guideVelocity, axis);
    const double wAcross2 = Vec3Dot(wAcross, wAcross);
    slider.angularVelocity = Vec3Cross(now.n, now.rate);
    if (s.axialFrame != 0) {
        // The slider keeps its bearing to the guide axis (curved guide) or to the guide's
        // centre (plane) as it moves round.
        const Vec3 startReference =
            s.hasRadialTerm != 0 ? axis : Vec3Sub(origin, slider.basePosition);
        const Vec3 reference = s.hasRadialTerm != 0 ? axis : Vec3Sub(origin, slider.position);
        slider.orientation = TurnWithReference(ns, now.n, startReference, reference);
        if (IsNormalPositive(wAcross2)) {
            slider.angularVelocity = Vec3Add(
                slider.angularVelocity, Vec3Scale(Vec3Cross(wAcross, vAcross), 1.0 / wAcross2));
        }
        return;
    }
    // A fixed orientation on a curved guide: the turn from ns to n taken along the meridian
    // in the guide frame (turned half round about its z axis for a bottom map).
    Matrix3 g = LinearPart(s.guideFromWorld);
    if (s.coordinateMode < 0) {
        for (int i = 0; i < 6; ++i)
            g.m[static_cast<std::size_t>(i)] = -g.m[static_cast<std::size_t>(i)];
    }
    const Matrix3 turn =
        Matrix3Product(RotationFromYAxis(Matrix3TransformVec3(g, now.n)),
                       Matrix3Transpose(RotationFromYAxis(Matrix3TransformVec3(g, ns))));
    slider.orientation = Matrix3Product(Matrix3Product(Matrix3Transpose(g), turn), g);
    const double r = s.guideRadius;
    if (wAcross2 > 1e-16 * r * r) {
        const Vec3 spin = Vec3Scale(Vec3Cross(wAcross, vAcross), 1.0 / wAcross2);
        const double sigma = s.coordinateMode > 0 ? 1.0 : -1.0;
        slider.angularVelocity = Vec3Add(
            slider.angularVelocity, Vec3Sub(spin, Vec3Scale(now.n, sigma * Vec3Dot(spin, axis))));
    }
}
