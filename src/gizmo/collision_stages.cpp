#include "gizmo/collision_stages.h"

#include "core/matrix3.h"
#include "core/quadric.h"
#include "core/rotation.h"
#include "core/sym_eigen3.h"
#include "gizmo/collision_conics.h"
#include "gizmo/collision_maths_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace {

using collision_maths::Block;
using collision_maths::Column;
using collision_maths::Form3;
using collision_maths::HalfGradient;
using collision_maths::IsOddOrder;
using collision_maths::Translated;
using collision_maths::Value;
using collision_maths::ValueH;

// Surfaces a part has at most, and the clipping surfaces of an edge (the bound first).
constexpr std::size_t SurfaceLimit = 32;
constexpr std::size_t ClipLimit = SurfaceLimit + 1;

using collision_maths::Sign;

bool IsCurved(std::uint32_t mask, std::size_t i) { return i < 32 && ((mask >> i) & 1u) != 0; }

// A run of forms measured from the reference centre.
struct Forms {
    std::array<Matrix4W, ClipLimit> forms{};
    std::size_t count = 0;

    void Add(const Matrix4W& q, const Vec3& c) {
        if (count < forms.size()) forms[count++] = Translated(q, c);
    }
    std::span<const Matrix4W> All() const { return {forms.data(), count}; }
};

// The reference centre and level of a pair: the part of smaller level, first on a tie.
struct Reference {
    Vec3 centre;
    std::int32_t level = 0;
};

Reference ReferenceOf(const CollisionShape& first, const CollisionShape& second) {
    const CollisionShape& ref = second.level < first.level ? second : first;
    return Reference{ref.centre, ref.level};
}

// Strictly inside every form except skipA and skipB.
bool InsideOthers(std::span<const Matrix4W> forms, const Vec4& v, std::size_t skipA,
                  std::size_t skipB) {
    for (std::size_t s = 0; s < forms.size(); ++s) {
        if (s == skipA || s == skipB) continue;
        if (!(ValueH(forms[s], v) < 0.0)) return false;
    }
    return true;
}

// Among the forms, the one the point is nearest to inside (greatest 0.5 f / |g|, from
// -1e100, the earlier on a tie) and its half-gradient there.
struct Nearest {
    std::int32_t index = -1;
    Vec3 gradient;
};

Nearest NearestSurface(std::span<const Matrix4W> forms, const Vec3& p) {
    Nearest nearest;
    double best = -1e100;
    for (std::size_t s = 0; s < forms.size(); ++s) {
        const Vec3 g = HalfGradient(forms[s], p);
        const double depth = 0.5 * Value(forms[s], p) / Vec3Length(g);
        if (depth > best) {
            best = depth;
            nearest.index = static_cast<std::int32_t>(s);
            nearest.gradient = g;
        }
    }
    return nearest;
}

// The normal out of into at a stretch of an edge with direction e, from the nearest surfaces
// at its two ends: their mean when it is one surface; otherwise the combination of the two
// gradients perpendicular to e, turned so that the gradient more nearly perpendicular to e
// keeps a non-negative share.
Vec3 StretchNormal(std::span<const Matrix4W> intoForms, const Vec3& end0, const Vec3& end1,
                   const Vec3& e) {
    const Nearest n0 = NearestSurface(intoForms, end0);
    const Nearest n1 = NearestSurface(intoForms, end1);
    const Vec3& g0 = n0.gradient;
    const Vec3& g1 = n1.gradient;
    if (n0.index == n1.index) return Vec3Scale(Vec3Add(g0, g1), 0.5);
    const double eg0 = Vec3Dot(e, g0);
    const double eg1 = Vec3Dot(e, g1);
    Vec3 normal = Vec3Sub(Vec3Scale(g1, eg0), Vec3Scale(g0, eg1));
    const double across0 = eg0 * eg0 / Vec3Dot(g0, g0);
    const double across1 = eg1 * eg1 / Vec3Dot(g1, g1);
    const double share = across0 < across1 ? -eg1 : eg0;
    if (share < 0.0) normal = Vec3Scale(normal, -1.0);
    return normal;
}

// The frame of a plane p0 + n.x = 0: its unit normal as third axis, origin the plane's point
// nearest the reference centre, as a w-first transform from (w, x, y, z) of the frame.
struct PlaneFrame {
    Matrix4W f;
    Vec3 origin;
    Vec3 e1, e2, normal;
};

bool MakePlaneFrame(double p0, const Vec3& n, PlaneFrame& frame) {
    const double length = Vec3Length(n);
    if (!(length > 0.0) || !std::isfinite(length) || !std::isfinite(p0)) return false;
    frame.normal = Vec3Scale(n, 1.0 / length);
    frame.origin = Vec3Scale(frame.normal, -p0 / length);
    const Matrix3 basis = BasisFromAxis(frame.normal.x, frame.normal.y, frame.normal.z);
    frame.e1 = Column(basis, 0);
    frame.e2 = Column(basis, 1);
    const Vec3& o = frame.origin;
    frame.f = Matrix4W{{1, 0, 0, 0, o.x, frame.e1.x, frame.e2.x, frame.normal.x, o.y, frame.e1.y,
                        frame.e2.y, frame.normal.y, o.z, frame.e1.z, frame.e2.z, frame.normal.z}};
    return true;
}

// Q in the frame, F^T Q F; its upper-left 3x3 is the section conic over (w, x, y).
Matrix4W InFrame(const Matrix4W& q, const Matrix4W& f) {
    return Matrix4Product(Matrix4Transpose(f), Matrix4Product(q, f));
}

Matrix3 SectionOf(const Matrix4W& inFrame) {
    const auto& m = inFrame.m;
    return Matrix3{{m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]}};
}

// The plane of a flat surface as (p0, n): its value is p0 + n.x.
void PlaneOf(const Matrix4W& q, double& p0, Vec3& n) {
    p0 = q.m[0];
    n = Vec3{2.0 * q.m[1], 2.0 * q.m[2], 2.0 * q.m[3]};
}

// A piece of an edge reduced to a parameter range: a straight line o + t e, or a conic of a
// plane frame in canonical coordinates u (plane coordinates T u).
struct Piece {
    bool isConic = false;
    Vec3 origin, direction;  // straight
    PlaneFrame plane;        // conic
    Matrix3 toPlane;         // canonical to plane coordinates (w, x, y), lengths unscaled
    Matrix3 canonical;
    double sigma = 0.0;

    // The point at parameter t; false when it lies at infinity.
    bool PointAt(double t, Vec3& p) const {
        if (!isConic) {
            p = Vec3Add(origin, Vec3Scale(direction, t));
            return true;
        }
        const double t2 = t * t;
        return PointAtAngle((1.0 - t2) / (1.0 + t2), 2.0 * t / (1.0 + t2), p);
    }
    bool PointAtAngle(double cosine, double sine, Vec3& p) const {
        const Vec3 u = ConicPoint(canonical, sigma, cosine, sine);
        const Vec3 h = Matrix3TransformVec3(toPlane, u);
        if (h.x == 0.0) return false;
        const Vec3 q = Vec3Add(plane.origin,
                               Vec3Add(Vec3Scale(plane.e1, h.y / h.x), Vec3Scale(plane.e2, h.z / h.x)));
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) return false;
        p = q;
        return true;
    }
    bool Middle(double t0, double t1, Vec3& p) const {
        if (!isConic) return PointAt(0.5 * (t0 + t1), p);
        double cosine = 0.0, sine = 0.0;
        ConicMiddleAngle(t0, 1.0, t1, 1.0, cosine, sine);
        return PointAtAngle(cosine, sine, p);
    }
};

// The line where planes qa and qb meet, through the point nearest the reference centre.
bool StraightPiece(const Matrix4W& qa, const Matrix4W& qb, Piece& piece) {
    const Vec3 na{qa.m[1], qa.m[2], qa.m[3]};
    const Vec3 nb{qb.m[1], qb.m[2], qb.m[3]};
    const Vec3 e0 = Vec3Cross(na, nb);
    const double ee = Vec3Dot(e0, e0);
    if (!(ee > 0.0) || !std::isfinite(ee)) return false;
    // n_a.x = h_a, n_b.x = h_b, e.x = 0.
    const double ha = -0.5 * qa.m[0];
    const double hb = -0.5 * qb.m[0];
    piece.origin = Vec3Scale(
        Vec3Add(Vec3Scale(Vec3Cross(nb, e0), ha), Vec3Scale(Vec3Cross(e0, na), hb)), 1.0 / ee);
    piece.direction = Vec3Scale(e0, 1.0 / std::sqrt(ee));
    return std::isfinite(piece.origin.x) && std::isfinite(piece.origin.y) &&
           std::isfinite(piece.origin.z);
}

// Clips a straight piece's list by one surface: keeps where q < 0 along the line.
bool ClipStraight(const Piece& piece, const Matrix4W& q, IntervalList& list) {
    const double q0 = Value(q, piece.origin);
    const double q3 = Vec3Dot(HalfGradient(q, piece.origin), piece.direction);
    const double q15 = Form3(Block(q), piece.direction, piece.direction);
    const double disc = q3 * q3 - q15 * q0;
    if (!(disc > 0.0)) return !(q0 >= 0.0);
    const double h = q3 + Sign(q3) * std::sqrt(disc);
    // The roots -h / q15 and -q0 / h as fractions with denominators not negative.
    double p1 = -h, d1 = q15, p2 = -q0, d2 = h;
    if (d1 < 0.0) {
        p1 = -p1;
        d1 = -d1;
    }
    if (d2 < 0.0) {
        p2 = -p2;
        d2 = -d2;
    }
    const bool firstSmaller = p1 * d2 < p2 * d1;
    double lowP = p1, lowD = d1, highP = p2, highD = d2;
    if (!firstSmaller) {
        std::swap(lowP, highP);
        std::swap(lowD, highD);
    }
    const std::int32_t left = q15 >= 0.0 ? ClipIntervalList(list, lowP, lowD, highP, highD)
                                         : ClipIntervalList(list, highP, highD, lowP, lowD);
    return left > 0;
}

// The conic where a plane cuts curved surface qc, in canonical form, lengths scaled by
// 1024 / 2^level; false when the section is no real conic.
bool ConicPiece(double p0, const Vec3& n, const Matrix4W& qc, std::int32_t level, Piece& piece) {
    piece.isConic = true;
    if (!MakePlaneFrame(p0, n, piece.plane)) return false;
    const double f = std::ldexp(1024.0, -level);
    const Matrix3 scale{{f, 0, 0, 0, 1, 0, 0, 0, 1}};
    const Matrix3 section = collision_maths::Congruent3(SectionOf(InFrame(qc, piece.plane.f)), scale);
    std::array<double, 3> ev{};
    Matrix3 v;
    SymEigen3(section, false, ev, v);
    int negatives = 0;
    int smallest = 0, largest = 0;
    for (int i = 0; i < 3; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        if (ev[ui] < 0.0) ++negatives;
        if (ev[ui] < ev[static_cast<std::size_t>(smallest)]) smallest = i;
        if (ev[ui] > ev[static_cast<std::size_t>(largest)]) largest = i;
    }
    if (negatives == 0 || negatives == 3 || smallest == largest) return false;
    if (negatives == 2) {
        for (double& e : ev) e = -e;
        std::swap(smallest, largest);
    }
    const int remaining = 3 - smallest - largest;
    const auto us = static_cast<std::size_t>(smallest), ul = static_cast<std::size_t>(largest),
               ur = static_cast<std::size_t>(remaining);
    Vec3 firstColumn = Column(v, us);
    if (IsOddOrder(smallest, largest)) firstColumn = Vec3Scale(firstColumn, -1.0);
    const Matrix3 order = collision_maths::FromColumns(firstColumn, Column(v, ul), Column(v, ur));
    piece.canonical = Matrix3{{ev[us], 0, 0, 0, ev[ul], 0, 0, 0, std::max(ev[ur], 0.0)}};
    piece.sigma = std::sqrt(-ev[us]);
    piece.toPlane = Matrix3Product(scale, order);
    return std::isfinite(piece.sigma) && ev[ul] > 0.0;
}

// Clips a conic piece's list by one surface.
bool ClipConic(const Piece& piece, const Matrix4W& q, IntervalList& list) {
    const Matrix4W inFrame = InFrame(q, piece.plane.f);
    const Matrix3 c = collision_maths::Congruent3(SectionOf(inFrame), piece.toPlane);
    const Vec3 v{1.0, std::sqrt(-piece.canonical.m[0] / piece.canonical.m[4]), 0.0};
    return CurvedEdgeIntervals(piece.canonical, c, list, v, nullptr, MaxAbsSymmetric4(inFrame, 1.0),
                               piece.sigma) > 0;
}

// The forms a part shows another: its surfaces, or its bounding quadric alone without edges.
void FacingForms(const CollisionShape& shape, const Vec3& c, Forms& forms) {
    if (!CollisionShapeHasEdges(shape)) {
        forms.Add(shape.boundQuadric, c);
        return;
    }
    for (const Matrix4W& q : shape.surfaces.first(std::min(shape.surfaces.size(), SurfaceLimit))) {
        forms.Add(q, c);
    }
}

}  // namespace

bool PointInPart(const Vec3& p, const CollisionShape& shape) {
    for (const Matrix4W& q : shape.surfaces) {
        if (Value(q, p) > 0.0) return false;
    }
    return true;
}

bool VertexInPart(const CollisionShape& from, const CollisionShape& into, Contact* contact) {
    if (from.corners.empty()) return false;
    const std::span<const Matrix4W> tested = CollisionShapeHasEdges(into)
                                                 ? into.surfaces
                                                 : std::span<const Matrix4W>(&into.boundQuadric, 1);
    for (const Vec3& p : from.corners) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
        bool inside = true;
        double best = -1e100;
        Vec3 normal;
        for (const Matrix4W& q : tested) {
            const double f = Value(q, p);
            if (f >= 0.0) {
                inside = false;
                break;
            }
            if (contact != nullptr && f < 0.0) {
                const Vec3 g = HalfGradient(q, p);
                const double depth = 0.5 * f / Vec3Length(g);
                if (depth > best) {
                    best = depth;
                    normal = g;
                }
            }
        }
        if (!inside) continue;
        if (contact != nullptr) {
            contact->point = p;
            contact->normal = normal;
        }
        return true;
    }
    return false;
}

bool EdgeInPart(const CollisionShape& from, const CollisionShape& into, Contact* contact) {
    if (from.edges.empty()) return false;
    const Reference ref = ReferenceOf(from, into);
    const Vec3& c = ref.centre;

    Forms clips;
    clips.Add(into.boundQuadric, c);
    if (CollisionShapeHasEdges(into)) {
        for (const Matrix4W& q : into.surfaces.first(std::min(into.surfaces.size(), SurfaceLimit))) {
            clips.Add(q, c);
        }
    }
    Forms own;
    for (const Matrix4W& q : from.surfaces.first(std::min(from.surfaces.size(), SurfaceLimit))) {
        own.Add(q, c);
    }
    Forms facing;
    FacingForms(into, c, facing);

    for (const FeatureEdge& edge : from.edges) {
        if (edge.reserved != 0) continue;  // a piece marked skipped
        const auto a = static_cast<std::size_t>(edge.surface);
        const auto b = static_cast<std::size_t>(edge.otherSurface);
        if (edge.surface < 0 || edge.otherSurface < 0 || a >= own.count || b >= own.count) continue;
        const Matrix4W& qa = own.forms[a];
        const Matrix4W& qb = own.forms[b];
        const auto kind = static_cast<std::int32_t>(edge.curve);

        // The top rim of a rounded frustum is a circle where a plane meets a cone: a curved
        // edge like any other plane section, whichever of its surfaces is the plane.
        Piece piece;
        bool made = false;
        if (kind > 1 && edge.curve != FeatureCurve::FrustumTopRim) {
            made = StraightPiece(qa, qb, piece);
        } else {
            double p0 = 0.0;
            Vec3 n;
            const Matrix4W* curved = nullptr;
            if (kind < 0) {
                p0 = edge.plane[0];
                n = Vec3{edge.plane[1], edge.plane[2], edge.plane[3]};
                p0 += Vec3Dot(n, c);
                curved = &qb;
            } else {
                const bool planeIsA = edge.curve == FeatureCurve::FrustumTopRim
                                          ? !IsCurved(from.curvedMask, a) || IsCurved(from.curvedMask, b)
                                          : kind == 0;
                PlaneOf(planeIsA ? qa : qb, p0, n);
                curved = planeIsA ? &qb : &qa;
            }
            made = ConicPiece(p0, n, *curved, ref.level, piece);
        }
        if (!made) continue;

        IntervalList list = IntervalListWhole(piece.isConic ? ConicParameterBound : LineParameterBound);
        bool kept = true;
        for (const Matrix4W& q : clips.All()) {
            kept = piece.isConic ? ClipConic(piece, q, list) : ClipStraight(piece, q, list);
            if (!kept) break;
        }
        if (!kept) continue;

        for (std::int32_t i = 0; i < list.count; ++i) {
            const double t0 = list.ends[static_cast<std::size_t>(2 * i)];
            const double t1 = list.ends[static_cast<std::size_t>(2 * i + 1)];
            Vec3 p;
            if (!piece.Middle(t0, t1, p)) continue;
            if (!InsideOthers(own.All(), Vec4{1.0, p.x, p.y, p.z}, a, b)) continue;
            if (contact != nullptr) {
                Vec3 end0, end1;
                if (!piece.PointAt(t0, end0) || !piece.PointAt(t1, end1)) end0 = end1 = p;
                const Vec3 e = piece.isConic ? Vec3Sub(end1, end0) : piece.direction;
                contact->point = Vec3Add(p, c);
                contact->normal = StretchNormal(facing.All(), end0, end1, e);
            }
            return true;
        }
    }
    return false;
}

std::optional<PlaneSection> PlaneSectionContact(double p0, const Vec3& n, const Matrix4W& q) {
    PlaneFrame frame;
    if (!MakePlaneFrame(p0, n, frame)) return std::nullopt;
    const Matrix3 m = SectionOf(InFrame(q, frame.f));
    // a x^2 + 2 b x y + c y^2 + 2 d x + 2 e y + f over the frame's first two axes.
    const double a = m.m[4], b = m.m[5], cc = m.m[8], d = m.m[1], e = m.m[2];
    const double det2 = a * cc - b * b;
    const double s = -collision_maths::Det3(m) * Sign(a);
    if (!(det2 > 0.0) || !(s > 0.0)) return std::nullopt;
    const double ra = std::sqrt(std::abs(a));
    const double rs = std::sqrt(s);
    const double w = det2 * ra;
    const double x = ra * (b * e - cc * d) - b * rs;
    const double y = ra * (b * d - a * e) + a * rs;
    PlaneSection section;
    section.candidate =
        Vec3Add(frame.origin, Vec3Add(Vec3Scale(frame.e1, x / w), Vec3Scale(frame.e2, y / w)));
    section.contact.point = Vec3Add(frame.origin, Vec3Add(Vec3Scale(frame.e1, (b * e - cc * d) / det2),
                                                          Vec3Scale(frame.e2, (b * d - a * e) / det2)));
    section.contact.normal = frame.normal;
    const Vec3& p = section.candidate;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return std::nullopt;
    return section;
}

bool CurvedSurfaceContact(const CollisionShape& first, const CollisionShape& second,
                          Contact* contact) {
    // A part without edges stands for itself by its bounding quadric.
    CollisionShape one = first;
    CollisionShape two = second;
    if (!CollisionShapeHasEdges(first)) {
        one.surfaces = std::span<const Matrix4W>(&first.boundQuadric, 1);
        one.curvedMask = 1;
    } else if (!CollisionShapeHasEdges(second)) {
        two.surfaces = std::span<const Matrix4W>(&second.boundQuadric, 1);
        two.curvedMask = 1;
    }
    const Reference ref = ReferenceOf(first, second);
    const Vec3& c = ref.centre;
    Forms ones;
    for (const Matrix4W& q : one.surfaces.first(std::min(one.surfaces.size(), SurfaceLimit))) {
        ones.Add(q, c);
    }
    Forms twos;
    for (const Matrix4W& q : two.surfaces.first(std::min(two.surfaces.size(), SurfaceLimit))) {
        twos.Add(q, c);
    }
    const double scale = std::ldexp(1.0, ref.level) / 1024.0;

    for (std::size_t i = 0; i < ones.count; ++i) {
        const bool curvedI = IsCurved(one.curvedMask, i);
        for (std::size_t j = 0; j < twos.count; ++j) {
            const bool curvedJ = IsCurved(two.curvedMask, j);
            if (!curvedI && !curvedJ) continue;
            std::array<Vec4, 2> points{};
            std::array<Contact, 2> contacts{};
            std::int32_t count = 0;
            if (curvedI != curvedJ) {
                double p0 = 0.0;
                Vec3 n;
                PlaneOf(curvedI ? twos.forms[j] : ones.forms[i], p0, n);
                const std::optional<PlaneSection> section =
                    PlaneSectionContact(p0, n, curvedI ? ones.forms[i] : twos.forms[j]);
                if (!section) continue;
                const Vec3& p = section->candidate;
                points[0] = Vec4{1.0, p.x, p.y, p.z};
                contacts[0] = section->contact;
                if (curvedI) contacts[0].normal = Vec3Scale(contacts[0].normal, -1.0);
                count = 1;
            } else {
                count = CurvedPairContact(ones.forms[i], twos.forms[j], points,
                                          contact != nullptr ? std::span<Contact>(contacts)
                                                             : std::span<Contact>(),
                                          scale);
            }
            for (std::int32_t k = 0; k < count; ++k) {
                const Vec4& v = points[static_cast<std::size_t>(k)];
                if (!InsideOthers(ones.All(), v, i, i) || !InsideOthers(twos.All(), v, j, j)) {
                    continue;
                }
                if (contact != nullptr) {
                    *contact = contacts[static_cast<std::size_t>(k)];
                    contact->point = Vec3Add(contact->point, c);
                }
                return true;
            }
        }
    }
    return false;
}
