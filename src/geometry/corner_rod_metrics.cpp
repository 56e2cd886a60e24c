#include "geometry/corner_rod_metrics.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "geometry/shape_forms.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// pi^4 / (8 (ln(pi / 10000) + 30)^2): the least fill ratio per squared depth-to-reach.
double LeastFill() {
    const double lnTerm = std::log(0.0003141592653589793) + 30;
    return 97.40909103400242 / (8 * lnTerm * lnTerm);
}

// One rod at the joint: its frame and its walls carried into that frame.
struct JointRod {
    Vec3 point;
    Vec3 tangent;  // d
    Vec3 section;  // e
    Matrix4W outer;
    Matrix4W inner;
};

JointRod JointOf(const double* p, const PartRenderRecord& record, bool atStart) {
    const Vec3 a{p[0], p[1], p[2]};
    const Vec3 b{p[3], p[4], p[5]};
    const Vec3 c{p[6], p[7], p[8]};
    Vec3 u = Vec3Sub(b, a);
    Vec3Normalize(u);
    Vec3 v = Vec3Sub(c, Vec3Scale(u, Vec3Dot(u, c)));
    Vec3Normalize(v);
    const double h = record.bendSine;
    const double g = std::sqrt(std::max(0.0, 1 - h * h));
    JointRod rod;
    rod.tangent = Vec3Add(Vec3Scale(u, g), Vec3Scale(v, atStart ? -h : h));
    const Vec3 e = atStart ? record.sectionDirA : record.sectionDirB;
    rod.section = Vec3Sub(e, Vec3Scale(rod.tangent, Vec3Dot(e, rod.tangent)));
    Vec3Normalize(rod.section);
    rod.point = atStart ? a : b;
    // Joint coordinates (x, y, z) stand for P + x f + y e + z d, f = e x d.
    const Vec3 f = Vec3Cross(rod.section, rod.tangent);
    const Matrix3 axes{{f.x, rod.section.x, rod.tangent.x, f.y, rod.section.y, rod.tangent.y, f.z,
                        rod.section.z, rod.tangent.z}};
    Matrix4W sceneFromJoint = EmbedMatrix3(axes, 0);
    sceneFromJoint.m[4] = rod.point.x;
    sceneFromJoint.m[8] = rod.point.y;
    sceneFromJoint.m[12] = rod.point.z;
    const std::span<const Matrix4W> walls = record.Surfaces();
    rod.outer = FormCarried(walls[0], sceneFromJoint);
    rod.inner = FormCarried(walls[1], sceneFromJoint);
    return rod;
}

// The reach, depth and fill ratio of one wall's section z = 0 about the joint, for size s.
struct WallMeasure {
    double reach = 0;
    double depth = 0;
    double ratio = 0;
};

WallMeasure MeasureWall(const Matrix4W& wall, double s, double leastFill) {
    const double e2 = wall.m[2];
    const double e5 = wall.m[5];
    const double e6 = wall.m[6];
    const double e10 = wall.m[10];
    const double a = std::abs(e2);
    const double d = e5 * e10 - e6 * e6;
    const double signedSize = e6 >= 0 ? -s : s;
    const double t = signedSize * e5 / (std::sqrt(a * a + d * s * s) + a);
    const double q = e5 - e6 * t;
    const double m0 = (s * s * q * q - t * t * a * a) / (e5 - 2 * e6 * t + e10 * t * t);
    const double m = m0 / (std::sqrt(m0 * d / e5 + a * a) + a);
    const double n = (a * t - (e6 - e10 * t) * m) / q;
    const double p = m / t + n;
    WallMeasure w;
    w.reach = s;
    const double wide = (2 * m / t + n) * n - 0.99 * m * m;
    if (wide > 0) w.reach = std::max(s, std::sqrt(wide));
    w.reach = std::max(w.reach, std::sqrt(n * p + 0.0025000000000000005 * m * m) + 0.05 * m);
    const double r2 = w.reach * w.reach;
    const double root = std::abs(n) * std::sqrt(p * p - r2);
    w.depth = r2 * m / ((r2 - n * p) + root);
    w.ratio = std::max(1 - (r2 - n * p) / root, leastFill * (w.depth / w.reach) * (w.depth / w.reach));
    return w;
}

// The rod's lean at the joint from the half gradients of its walls at (s, 0, 0) and (-s, 0, 0).
double Lean(const JointRod& rod, double s) {
    const auto half = [s](const Matrix4W& wall, double side) {
        return Vec3{wall.m[4] + side * s * wall.m[5], wall.m[8] + side * s * wall.m[9],
                    wall.m[12] + side * s * wall.m[13]};
    };
    const Vec3 g = Vec3Cross(half(rod.outer, 1), half(rod.inner, 1));
    const Vec3 h = Vec3Cross(half(rod.outer, -1), half(rod.inner, -1));
    return (h.y + g.y) / (h.z - g.z);
}

}  // namespace

void SproutlingShapeMetrics(SproutlingMetrics& out, const double* firstParams,
                            const double* secondParams, const PartRenderRecord* first,
                            const PartRenderRecord* second) {
    const bool hasFirst = firstParams != nullptr && first != nullptr;
    const bool hasSecond = secondParams != nullptr && second != nullptr;
    std::vector<JointRod> rods;
    double s = 0;
    if (hasFirst) {
        rods.push_back(JointOf(firstParams, *first, false));
        s = firstParams[17];
    }
    // A second rod given alone is measured whatever its record reports: there is no first rod
    // to fall back on.
    const bool secondTakesPart =
        hasSecond && (!hasFirst || (second->buildResult == 0 && first->buildResult == 0));
    if (secondTakesPart) {
        rods.push_back(JointOf(secondParams, *second, true));
        s = secondParams[16];
    }
    if (rods.empty()) return;
    const JointRod& joint = rods.back();
    out[0] = joint.point.x;
    out[1] = joint.point.y;
    out[2] = joint.point.z;
    out[3] = joint.tangent.x;
    out[4] = joint.tangent.y;
    out[5] = joint.tangent.z;
    out[6] = joint.section.x;
    out[7] = joint.section.y;
    out[8] = joint.section.z;
    out[9] = std::min(out[9], 0.7 * s);

    const double leastFill = LeastFill();
    std::vector<WallMeasure> measures;
    double reach = 0;
    double depth = 0;
    for (const JointRod& rod : rods) {
        for (const Matrix4W* wall : {&rod.outer, &rod.inner}) {
            measures.push_back(MeasureWall(*wall, s, leastFill));
            reach = std::max(reach, measures.back().reach);
            depth = std::max(depth, measures.back().depth);
        }
    }
    reach *= 1.05;
    depth *= 1.05;
    out[10] = reach;
    out[11] = depth;

    const double r2 = reach * reach;
    double v = 1e100;
    for (const WallMeasure& w : measures) {
        const double wr2 = w.reach * w.reach;
        const double y = (1 - w.ratio) * wr2 / ((2 - w.ratio) * w.depth);
        const double spread = (wr2 * (1 / depth + 1 / w.depth) - 2 * y) * (r2 - wr2) *
                              (1 / w.depth - 1 / depth);
        v = std::min(v, (r2 - wr2) / depth + y + std::sqrt(std::max(0.0, spread)));
    }
    v = std::min(v, 0.5 * r2 / depth);
    const double fill = std::max(1 - v / (r2 / depth - v), leastFill * (depth / reach) * (depth / reach));
    out[12] = fill;

    std::vector<double> leans;
    double meanLean = 0;
    for (const JointRod& rod : rods) {
        leans.push_back(Lean(rod, s));
        meanLean += leans.back();
    }
    meanLean /= static_cast<double>(leans.size());
    const double f = 1.2 * meanLean * (1 - fill) / ((2 - fill) * depth);
    out[9] = std::min(out[9], 1 / std::sqrt(1 / r2 + f * f / 0.43999999999999995));
    const double b = out[9];
    const double tilt =
        meanLean * (1 - fill) / ((1 / (b * b) - 1 / r2) * (2 - fill) * depth * reach);
    out[10] = 1 / std::sqrt((1 + tilt * tilt) / r2 - tilt * tilt / (b * b));
    out[13] = tilt / (1 + std::sqrt(1 + tilt * tilt));

    if (rods.size() == 2) {
        const double delta = 0.5 * (leans[1] - leans[0]) *
                             std::sqrt((1 - s * s / r2) /
                                       ((1 - tilt * tilt) / (b * b) + tilt * tilt / r2)) /
                             s;
        const Vec3 turn = Vec3Cross(joint.tangent, joint.section);
        out[6] -= delta * turn.x;
        out[7] -= delta * turn.y;
        out[8] -= delta * turn.z;
    }
}
