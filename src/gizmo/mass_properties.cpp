#include "gizmo/mass_properties.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

struct Stretch {
    double low = 0.0;
    double high = 0.0;
};

// The value of surface q on the vertical line (x, z) is a y^2 + 2 b y + c.
struct LineQuadratic {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
};

LineQuadratic OnVerticalLine(const Matrix4W& surface, double x, double z) {
    const auto& q = surface.m;
    return LineQuadratic{
        q[10], q[2] + q[6] * x + q[14] * z,
        q[0] + 2.0 * (q[1] * x + q[3] * z) + q[5] * x * x + 2.0 * q[7] * x * z + q[15] * z * z};
}

// Appends the roots of a y^2 + 2 b y + c that lie strictly between low and high.
void AppendRoots(const LineQuadratic& f, double low, double high, std::vector<double>& roots) {
    auto keep = [&](double y) {
        if (y > low && y < high) roots.push_back(y);
    };
    if (f.a == 0.0) {
        if (f.b != 0.0) keep(-f.c / (2.0 * f.b));
        return;
    }
    const double discriminant = f.b * f.b - f.a * f.c;
    if (!(discriminant > 0.0)) return;
    // Without cancellation: q = -(b + sign(b) sqrt(D)), roots q / a and c / q.
    const double q = f.b >= 0.0 ? -(f.b + std::sqrt(discriminant)) : -f.b + std::sqrt(discriminant);
    keep(q / f.a);
    if (q != 0.0) keep(f.c / q);
}

bool InsideAll(std::span<const LineQuadratic> line, double y) {
    for (const LineQuadratic& f : line) {
        if (!((f.a * y + 2.0 * f.b) * y + f.c < 0.0)) return false;
    }
    return true;
}

// Scratch of one sampling run, reused line after line.
struct LineScratch {
    std::vector<LineQuadratic> quadratics;
    std::vector<double> cuts;
    std::vector<Stretch> stretches;
};

// Appends the stretches of the line (x, z) inside the part: between consecutive roots of its
// surfaces (and the ends of its box) each piece is wholly inside or outside, and its middle
// tells which.
void AppendPartStretches(const PhysicsPart& part, double x, double z, LineScratch& scratch) {
    const double low = part.box[2] / PartGridUnitsPerUnit;
    const double high = part.box[3] / PartGridUnitsPerUnit;
    if (!(high > low)) return;
    scratch.quadratics.clear();
    scratch.cuts.clear();
    scratch.cuts.push_back(low);
    for (const Matrix4W& surface : part.surfaces) {
        scratch.quadratics.push_back(OnVerticalLine(surface, x, z));
        AppendRoots(scratch.quadratics.back(), low, high, scratch.cuts);
    }
    std::sort(scratch.cuts.begin() + 1, scratch.cuts.end());
    scratch.cuts.push_back(high);
    for (std::size_t i = 0; i + 1 < scratch.cuts.size(); ++i) {
        const double a = scratch.cuts[i];
        const double b = scratch.cuts[i + 1];
        if (!(b > a) || !InsideAll(scratch.quadratics, 0.5 * (a + b))) continue;
        if (!scratch.stretches.empty() && scratch.stretches.back().high == a) {
            scratch.stretches.back().high = b;
        } else {
            scratch.stretches.push_back(Stretch{a, b});
        }
    }
}

bool InColumn(const PartGridBox& box, double gridX, double gridZ) {
    return gridX >= box[0] && gridX < box[1] && gridZ >= box[4] && gridZ < box[5];
}

// Sums over the stretches of the solid, coordinates relative to the box centre.
struct Moments {
    double volume = 0.0;
    Vec3 first;
    double xx = 0.0, yy = 0.0, zz = 0.0, xy = 0.0, xz = 0.0, yz = 0.0;
};

}  // namespace

MassProperties SampleMassProperties(std::span<const PhysicsPart> parts) {
    MassProperties result;
    if (parts.empty()) return result;
    std::int64_t low[3] = {parts[0].box[0], parts[0].box[2], parts[0].box[4]};
    std::int64_t high[3] = {parts[0].box[1], parts[0].box[3], parts[0].box[5]};
    for (const PhysicsPart& part : parts) {
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = std::min<std::int64_t>(low[axis], part.box[2 * axis]);
            high[axis] = std::max<std::int64_t>(high[axis], part.box[2 * axis + 1]);
        }
    }
    const Vec3 origin{0.5 * static_cast<double>(low[0] + high[0]) / PartGridUnitsPerUnit,
                      0.5 * static_cast<double>(low[1] + high[1]) / PartGridUnitsPerUnit,
                      0.5 * static_cast<double>(low[2] + high[2]) / PartGridUnitsPerUnit};
    result.centre = origin;
    const double extentX = static_cast<double>(high[0] - low[0]);
    const double extentZ = static_cast<double>(high[2] - low[2]);
    if (!(extentX > 0.0) || !(extentZ > 0.0)) return result;

    // Each line stands for the cell around it: lines run through the cells' middles, so a
    // solid that fills the box is counted whole (lines on the box's low faces would lie on
    // the solid's boundary and count as outside, losing a row of cells on each axis).
    const double stepX = extentX / MassSampleLines;
    const double stepZ = extentZ / MassSampleLines;
    LineScratch scratch;
    std::vector<Stretch> line;
    Moments sum;
    for (int i = 0; i < MassSampleLines; ++i) {
        const double gridX = static_cast<double>(low[0]) + (i + 0.5) * stepX;
        const double x = gridX / PartGridUnitsPerUnit;
        for (int k = 0; k < MassSampleLines; ++k) {
            const double gridZ = static_cast<double>(low[2]) + (k + 0.5) * stepZ;
            const double z = gridZ / PartGridUnitsPerUnit;
            scratch.stretches.clear();
            for (const PhysicsPart& part : parts) {
                if (InColumn(part.box, gridX, gridZ)) AppendPartStretches(part, x, z, scratch);
            }
            if (scratch.stretches.empty()) continue;
            // The union over the parts: overlapping stretches merge.
            std::sort(scratch.stretches.begin(), scratch.stretches.end(),
                      [](const Stretch& a, const Stretch& b) { return a.low < b.low; });
            line.clear();
            for (const Stretch& s : scratch.stretches) {
                if (!line.empty() && s.low <= line.back().high) {
                    line.back().high = std::max(line.back().high, s.high);
                } else {
                    line.push_back(s);
                }
            }
            const double px = x - origin.x;
            const double pz = z - origin.z;
            for (const Stretch& s : line) {
                // Over y' in [y0, y1]: length, the integral of y' and of y'^2.
                const double y0 = s.low - origin.y;
                const double y1 = s.high - origin.y;
                const double length = y1 - y0;
                const double sy = 0.5 * (y1 * y1 - y0 * y0);
                const double syy = (y1 * y1 * y1 - y0 * y0 * y0) / 3.0;
                sum.volume += length;
                sum.first.x += px * length;
                sum.first.y += sy;
                sum.first.z += pz * length;
                sum.xx += px * px * length;
                sum.yy += syy;
                sum.zz += pz * pz * length;
                sum.xy += px * sy;
                sum.xz += px * pz * length;
                sum.yz += pz * sy;
            }
        }
    }
    if (!(sum.volume > 0.0)) return result;

    const double cellArea = (stepX / PartGridUnitsPerUnit) * (stepZ / PartGridUnitsPerUnit);
    const double mass = sum.volume * cellArea;
    const Vec3 offset = Vec3Scale(sum.first, 1.0 / sum.volume);  // centre - origin
    // Second moments about the centre: the sums about the origin less m d d^T.
    auto central = [&](double s, double a, double b) { return s * cellArea - mass * a * b; };
    const double xx = central(sum.xx, offset.x, offset.x);
    const double yy = central(sum.yy, offset.y, offset.y);
    const double zz = central(sum.zz, offset.z, offset.z);
    const double xy = central(sum.xy, offset.x, offset.y);
    const double xz = central(sum.xz, offset.x, offset.z);
    const double yz = central(sum.yz, offset.y, offset.z);
    result.mass = mass;
    result.centre = Vec3Add(origin, offset);
    result.secondMoments = Matrix3{{xx, xy, xz, xy, yy, yz, xz, yz, zz}};
    return result;
}

Matrix3 SecondMomentsAbout(const MassProperties& properties, const Vec3& point) {
    const Vec3 d = Vec3Sub(properties.centre, point);
    const double m = properties.mass;
    const double v[3] = {d.x, d.y, d.z};
    Matrix3 s = properties.secondMoments;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) s.m[static_cast<std::size_t>(3 * r + c)] += m * v[r] * v[c];
    }
    return s;
}

Matrix3 InertiaFromSecondMoments(const Matrix3& s) {
    const double trace = s.m[0] + s.m[4] + s.m[8];
    return Matrix3Sub(Matrix3SetDiagonal(trace), s);
}
