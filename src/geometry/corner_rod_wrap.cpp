#include "geometry/corner_rod_wrap.h"

#include "core/scalar_maths.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// The lens at one place along the axis: the arc from the middle of a wall to a seam, and the
// radius of the walls' circular arcs (0 for a flat lens, whose walls are its chord).
struct Lens {
    double quarter = 0;
    double radius = 0;
};

Lens LensAt(const CornerRodWrapFrame& frame, double s) {
    const double t = frame.axisLength > 0 ? s / frame.axisLength : 0;
    const double c = frame.sizeA + (frame.sizeB - frame.sizeA) * t;
    const double x = frame.wall;
    if (!(x > 0)) return Lens{c, 0};
    const double radius = (c * c + x * x) / (2 * x);
    return Lens{radius * std::asin(std::min(1.0, c / radius)), radius};
}

// The angle per unit distance, 2 pi over the perimeter, at arc length s.
double PerDistanceAt(const CornerRodWrapFrame& frame, double s) {
    const double quarter = LensAt(frame, s).quarter;
    return quarter > 0 ? TWO_PI / (4 * quarter) : 0;
}

// The integral of the angle per unit distance from A to s by four-point Gauss-Legendre
// quadrature: exact for a lens that keeps its size, and within 3e-5 of the measure for a rod
// whose section halves from end to end (the integrand then behaves like 1 / c).
double MeasureTo(const CornerRodWrapFrame& frame, double s) {
    constexpr std::array<double, 2> nodes{0.3399810435848563, 0.8611363115940526};
    constexpr std::array<double, 2> weights{0.6521451548625461, 0.3478548451374538};
    double sum = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        sum += weights[i] * (PerDistanceAt(frame, s / 2 * (1 - nodes[i])) +
                             PerDistanceAt(frame, s / 2 * (1 + nodes[i])));
    }
    return s / 2 * sum;
}

double HalfChord(const CornerRodWrapFrame& f) {
    return f.curvature > 0 ? std::sin(f.curvature * f.axisLength / 2) / f.curvature
                           : f.axisLength / 2;
}

double Sag(const CornerRodWrapFrame& f) {
    if (!(f.curvature > 0)) return 0;
    const double half = std::sin(f.curvature * f.axisLength / 4);
    return 2 * half * half / f.curvature;
}

}  // namespace

CornerRodWrapFrame CornerRodWrapFrameOf(const WrapMapRecord& wrap) {
    if (wrap.kind != WrapMapKind::CornerRod) return {};
    const auto& v = wrap.values;
    CornerRodWrapFrame frame;
    frame.curvature = v[CornerRodCurvature];
    frame.axisLength = v[CornerRodAxisLength];
    frame.sizeA = v[CornerRodSizeA];
    frame.sizeB = v[CornerRodSizeB];
    const double sum = frame.sizeA + frame.sizeB;
    frame.wall = v[CornerRodWallRatio] * sum * sum / 4;
    frame.angleA = std::atan(v[CornerRodSlopeA]) + ((wrap.flags & CornerRodInwardA) != 0 ? PI : 0);
    const double angleB =
        std::atan(v[CornerRodSlopeB]) + ((wrap.flags & CornerRodInwardB) != 0 ? PI : 0);
    double twist = std::remainder(angleB - frame.angleA, TWO_PI);
    if (twist <= -PI) twist += TWO_PI;
    frame.twist = twist;
    const bool usable = frame.axisLength > 0 && std::isfinite(frame.axisLength) &&
                        frame.curvature >= 0 && std::isfinite(frame.curvature) && frame.sizeA > 0 &&
                        frame.sizeB > 0 && std::isfinite(sum) && frame.wall >= 0 &&
                        std::isfinite(frame.wall) && std::isfinite(frame.angleA) &&
                        std::isfinite(frame.twist);
    return usable ? frame : CornerRodWrapFrame{};
}

bool CornerRodWrapIsUsable(const CornerRodWrapFrame& frame) { return frame.axisLength > 0; }

Vec3 CornerRodWrapStart(const CornerRodWrapFrame& frame) {
    return Vec3{-Sag(frame), -HalfChord(frame), 0};
}

Vec3 CornerRodWrapEnd(const CornerRodWrapFrame& frame) {
    return Vec3{-Sag(frame), HalfChord(frame), 0};
}

CornerRodWrapPoint CornerRodWrapCoords(const CornerRodWrapFrame& frame, const Vec3& point) {
    CornerRodWrapPoint out;
    if (!CornerRodWrapIsUsable(frame)) return out;
    const double k = frame.curvature;
    const double w = frame.axisLength;
    // The axis point across from the point, held to the rod's ends.
    const double fromMiddle = k > 0 ? std::atan2(k * point.y, 1 + k * point.x) / k : point.y;
    const double s = std::clamp(fromMiddle + w / 2, 0.0, w);
    const double theta = k * (s - w / 2);
    const double cosine = std::cos(theta);
    const double sine = std::sin(theta);
    // (1 - cos theta) / K, the axis point's depth below the midpoint, as 2 sin^2(theta/2) / K.
    const double half = std::sin(theta / 2);
    const double depth = k > 0 ? 2 * half * half / k : 0;
    const double along = k > 0 ? sine / k : s - w / 2;
    // The offset from the axis point along the outward radius and the bend plane's normal.
    const double radial = (point.x + depth) * cosine + (point.y - along) * sine;
    const double normal = point.z;
    const double alpha = frame.angleA + frame.twist * s / w;
    const double ca = std::cos(alpha);
    const double sa = std::sin(alpha);
    const double acrossE = radial * ca + normal * sa;
    const double lateral = -radial * sa + normal * ca;

    const Lens lens = LensAt(frame, s);
    const double c = frame.sizeA + (frame.sizeB - frame.sizeA) * s / w;
    const double l = std::clamp(lateral, -c, c);
    const double position =
        lens.radius > 0 ? lens.radius * std::asin(std::clamp(l / lens.radius, -1.0, 1.0)) : l;
    const bool isFront = acrossE >= 0;
    const double around = isFront ? position : 2 * lens.quarter - position;
    const double perimeter = 4 * lens.quarter;
    double angle = perimeter > 0 ? TWO_PI * around / perimeter : 0;
    if (angle < 0) angle += TWO_PI;
    if (!(angle < TWO_PI) || !(angle >= 0)) angle = 0;
    out.angle = angle;
    out.length = MeasureTo(frame, s);
    out.perDistance = perimeter > 0 ? TWO_PI / perimeter : 0;
    // The lateral direction -sin(alpha) rho + cos(alpha) z, turned over on the back.
    const double sign = isFront ? 1.0 : -1.0;
    out.tangent = Vec3{-sign * sa * cosine, -sign * sa * sine, sign * ca};
    return out;
}

double CornerRodWrapMeasure(const CornerRodWrapFrame& frame) {
    return CornerRodWrapIsUsable(frame) ? MeasureTo(frame, frame.axisLength) : 0;
}

void CornerRodWrapFill(WrapMapRecord& wrap, const std::array<double, 17>& values,
                       std::uint32_t flags) {
    wrap.kind = WrapMapKind::CornerRod;
    wrap.flags = flags;
    wrap.values = values;
    // The level index comes from the exponent and two leading mantissa bits of the float
    // 2 p16 g, held to the 2^-20 .. 2^20 it can stand for.
    float width = static_cast<float>(2 * values[CornerRodSizeA] * values[CornerRodWallRatio]);
    auto bits = std::bit_cast<std::uint32_t>(width);
    std::int32_t level = static_cast<std::int32_t>(bits >> 21) - 428;
    if (level < 0 || !(width > 0)) {
        level = 0;
        width = 0x1p-20f;
    } else if (level > 160) {
        level = 160;
        width = 0x1p20f;
    }
    bits = std::bit_cast<std::uint32_t>(width);
    wrap.levelIndex = level;
    wrap.scaledWidth = width;
    wrap.fraction = width - std::bit_cast<float>(bits & ~0x1FFFFFu);
}
