#include "gizmo/collision_conics.h"

#include "core/polynomial_roots.h"
#include "core/quadric.h"
#include "core/rotation.h"
#include "core/sym_eigen3.h"
#include "gizmo/collision_maths_internal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

using collision_maths::Column;
using collision_maths::Det3;
using collision_maths::Form3;
using collision_maths::HalfGradient;
using collision_maths::IsOddOrder;
using collision_maths::SpacePoint;

// Blends below this |det| are taken as singular.
constexpr double SingularDet = 1e-8;

// A conic parameter as a fraction; den >= 0, den = 0 the point at infinity.
struct Fraction {
    double num = 0.0;
    double den = 1.0;
};

double Quotient(double p, double q) {
    if (q != 0.0) return p / q;
    return p > 0.0 ? ConicParameterBound : -ConicParameterBound;
}

using collision_maths::Sign;

// The parameter of a point (w, x, y) of the canonical conic.
Fraction ParameterOf(Vec3 u) {
    if (u.x < 0.0) u = Vec3Scale(u, -1.0);
    const double r = std::hypot(u.y, u.z);
    Fraction f = u.z < 0.0 ? Fraction{u.y, r - u.z} : Fraction{r + u.z, u.y};
    if (f.den < 0.0) f = Fraction{-f.num, -f.den};
    return f;
}

// The crossings of the line through points p and q with the conic a, as parameters of the
// canonical conic the line lies on.
void LineCrossings(const Matrix3& a, const Vec3& p, const Vec3& q, std::array<Fraction, 4>& out,
                   std::int32_t& count) {
    const double pp = Form3(a, p, p);
    const double pq = Form3(a, p, q);
    const double qq = Form3(a, q, q);
    const double disc = pq * pq - pp * qq;
    if (!(disc > 0.0)) return;
    const double h = -(pq + Sign(pq) * std::sqrt(disc));
    out[static_cast<std::size_t>(count++)] = ParameterOf(Vec3Add(Vec3Scale(p, h), Vec3Scale(q, pp)));
    out[static_cast<std::size_t>(count++)] = ParameterOf(Vec3Add(Vec3Scale(p, qq), Vec3Scale(q, h)));
}

// The crossings of the conics a (canonical) and c, through a degenerate member of their
// pencil: a pair of lines, each of which meets a where c does.
std::int32_t ConicCrossings(const Matrix3& a, const Matrix3& c, std::array<Fraction, 4>& out) {
    const double mc = MaxAbsSymmetric3(c, 1.0);
    const double g = std::max(-a.m[0], a.m[4]);
    if (!(mc > 0.0) || !(g > 0.0)) return 0;

    // A conic without its last term is itself a pair of lines, x = +-sigma / sqrt(a1) w,
    // meeting at (0, 0, 1); the pencil's degenerate member would be a itself, whose lines
    // meet a everywhere. The crossings are where c meets those lines. Two crossing spheres
    // of one radius lead here: their pencil's cone is the plane pair of their common plane.
    if (a.m[8] <= 1e-12 * g) {
        const double sigma = std::sqrt(-a.m[0]);
        const double root = std::sqrt(a.m[4]);
        std::int32_t count = 0;
        LineCrossings(c, Vec3{root, sigma, 0.0}, Vec3{0.0, 0.0, 1.0}, out, count);
        LineCrossings(c, Vec3{root, -sigma, 0.0}, Vec3{0.0, 0.0, 1.0}, out, count);
        return count;
    }

    // The blend of c and a farthest from singular; the smaller weight of a wins a tie.
    Matrix3 b;
    double best = 0.0;
    for (int k = 0; k < 4; ++k) {
        const Matrix3 bk = Matrix3Add(Matrix3Scale((1.0 - k / 4.0) / mc, c),
                                      Matrix3Scale((k / 4.0) / g, a));
        const double det = std::abs(Det3(bk));
        if (det > best) {
            best = det;
            b = bk;
        }
    }
    if (!(best > SingularDet)) return 0;

    // det(x B - A) / det(B) = x^3 - tr(adj(B) A)/det B x^2 + tr(B adj(A))/det B x - det A/det B.
    const double detB = Det3(b);
    const Matrix3 adjB = Matrix3Adjugate(b);
    const double a0 = a.m[0], a1 = a.m[4], a2 = a.m[8];
    const double trAdjBA = adjB.m[0] * a0 + adjB.m[4] * a1 + adjB.m[8] * a2;
    const double trBAdjA = b.m[0] * a1 * a2 + b.m[4] * a0 * a2 + b.m[8] * a0 * a1;
    const double x0 = CubicRealRoot(-trAdjBA / detB, trBAdjA / detB, -(a0 * a1 * a2) / detB);
    if (!std::isfinite(x0)) return 0;
    const Matrix3 l = Matrix3Sub(Matrix3Scale(x0, b), a);

    // The lines' common point: the column of adj(L) holding its largest element. A rank-one
    // L (a double line) touches a where c does, which is no crossing.
    const Matrix3 adjL = Matrix3Adjugate(l);
    constexpr std::array<std::size_t, 6> upper{0, 1, 2, 4, 5, 8};
    std::size_t at = 0;
    double largest = 0.0;
    for (std::size_t e : upper) {
        if (std::abs(adjL.m[e]) > largest) {
            largest = std::abs(adjL.m[e]);
            at = e;
        }
    }
    const double scaleL = MaxAbsSymmetric3(l, 1.0);
    if (!(largest > 1e-14 * scaleL * scaleL)) return 0;
    Vec3 p = Column(adjL, at % 3);
    if (Vec3Normalize(p) == 0.0) return 0;

    // L restricted to a plane through the origin that misses p: its two null directions,
    // with p, are the two lines. Complex lines (a real point) cross nothing.
    const Matrix3 frame = BasisFromAxis(p.x, p.y, p.z);
    const Vec3 u = Column(frame, 0);
    const Vec3 w = Column(frame, 1);
    const double ra = Form3(l, u, u), rb = Form3(l, u, w), rc = Form3(l, w, w);
    const double disc = rb * rb - ra * rc;
    if (!(disc > 0.0)) return 0;
    const double h = -(rb + Sign(rb) * std::sqrt(disc));
    std::int32_t count = 0;
    LineCrossings(a, p, Vec3Add(Vec3Scale(u, h), Vec3Scale(w, ra)), out, count);
    LineCrossings(a, p, Vec3Add(Vec3Scale(u, rc), Vec3Scale(w, h)), out, count);
    return count;
}

bool Before(const Fraction& a, const Fraction& b) { return a.num * b.den < b.num * a.den; }
bool Same(const Fraction& a, const Fraction& b) { return b.num * a.den == a.num * b.den; }

// The Schur conic of the cone's lines against n: S_ij = n_ij n_33 - n_i3 n_j3.
Matrix3 SchurConic(const Matrix4W& n) {
    Matrix3 s;
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            s.m[3 * i + j] = n.m[4 * i + j] * n.m[15] - n.m[4 * i + 3] * n.m[4 * j + 3];
        }
    }
    return s;
}

// The general 4x4 determinant, by 2x2 minors of the first two rows against the last two.
double Det4(const std::array<double, 16>& m) {
    const double s0 = m[0] * m[5] - m[1] * m[4];
    const double s1 = m[0] * m[6] - m[2] * m[4];
    const double s2 = m[0] * m[7] - m[3] * m[4];
    const double s3 = m[1] * m[6] - m[2] * m[5];
    const double s4 = m[1] * m[7] - m[3] * m[5];
    const double s5 = m[2] * m[7] - m[3] * m[6];
    const double c5 = m[10] * m[15] - m[11] * m[14];
    const double c4 = m[9] * m[15] - m[11] * m[13];
    const double c3 = m[9] * m[14] - m[10] * m[13];
    const double c2 = m[8] * m[15] - m[11] * m[12];
    const double c1 = m[8] * m[14] - m[10] * m[12];
    const double c0 = m[8] * m[13] - m[9] * m[12];
    return s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
}

// The coefficients of det(x P - R) = sum over column subsets S of x^|S| (-1)^(4-|S|)
// det(P on S, R elsewhere), highest power first.
std::array<double, 5> PencilPolynomial(const Matrix4W& p, const Matrix4W& r) {
    std::array<double, 5> coefficients{};
    for (unsigned subset = 0; subset < 16; ++subset) {
        std::array<double, 16> mixed{};
        int size = 0;
        for (std::size_t col = 0; col < 4; ++col) {
            const bool fromP = (subset >> col & 1u) != 0;
            if (fromP) ++size;
            for (std::size_t row = 0; row < 4; ++row) {
                mixed[4 * row + col] = fromP ? p.m[4 * row + col] : r.m[4 * row + col];
            }
        }
        const double sign = ((4 - size) % 2 == 0) ? 1.0 : -1.0;
        coefficients[static_cast<std::size_t>(4 - size)] += sign * Det4(mixed);
    }
    return coefficients;
}

// M with lengths in units of 1/f: element 0 times f^2, the rest of row and column 0 times f.
Matrix4W ScaledLengths(Matrix4W m, double f) {
    m.m[0] *= f * f;
    for (std::size_t i : {1, 2, 3, 4, 8, 12}) m.m[i] *= f;
    return m;
}

// Indices of the one negative, the largest (the first on a tie) and the remaining value.
void SignOrder(const std::array<double, 3>& v, int& n, int& p, int& m) {
    n = v[0] < 0.0 ? 0 : (v[1] < 0.0 ? 1 : 2);
    p = -1;
    for (int i = 0; i < 3; ++i) {
        if (i == n) continue;
        if (p < 0 || v[static_cast<std::size_t>(i)] > v[static_cast<std::size_t>(p)]) p = i;
    }
    m = 3 - n - p;
}

int NegativeCount(const std::array<double, 3>& v) {
    return (v[0] < 0.0 ? 1 : 0) + (v[1] < 0.0 ? 1 : 0) + (v[2] < 0.0 ? 1 : 0);
}

// Whether the intersection curve of q1 and q2 runs to infinity: whether the directions in
// which q1's cone of directions opens meet directions in which q2 is negative far out.
bool CurveIsOpen(const Matrix4W& q1, const Matrix4W& q2) {
    const auto isDefinite = [](const Matrix3& c) {
        return c.m[0] * c.m[4] > c.m[1] * c.m[1] && c.m[0] * Det3(c) > 0.0;
    };
    const Matrix3 c1 = collision_maths::Block(q1);
    const Matrix3 c2 = collision_maths::Block(q2);
    if (isDefinite(c1) || isDefinite(c2)) return false;
    std::array<double, 3> lambda{};
    Matrix3 v;
    SymEigen3(c1, false, lambda, v);
    const int negatives = NegativeCount(lambda);
    if (negatives == 0 || negatives == 3) return false;
    if (negatives == 2) {
        for (double& e : lambda) e = -e;
    }
    int n = 0, p = 0, m = 0;
    SignOrder(lambda, n, p, m);
    const double largest = MaxAbsSymmetric3(c1, 1.0);
    const auto un = static_cast<std::size_t>(n), up = static_cast<std::size_t>(p),
               um = static_cast<std::size_t>(m);
    if (lambda[un] > -1e-8 * largest || lambda[up] < 1e-8 * largest) return false;
    Vec3 third = Column(v, um);
    if (IsOddOrder(n, p)) third = Vec3Scale(third, -1.0);
    const Matrix3 vr = collision_maths::FromColumns(Column(v, un), Column(v, up), third);
    const Matrix3 c2r = collision_maths::Congruent3(c2, vr);
    const Matrix3 canonical{{lambda[un], 0, 0, 0, lambda[up], 0, 0, 0, lambda[um]}};
    IntervalList list = IntervalListWhole(ConicParameterBound);
    std::uint8_t noCrossing = 0;
    const std::int32_t count =
        CurvedEdgeIntervals(canonical, c2r, list, Vec3{1.0, std::sqrt(-lambda[un] / lambda[up]), 0.0},
                            &noCrossing, MaxAbsSymmetric3(c2r, 1.0), std::sqrt(-lambda[un]));
    return count > 0 && noCrossing == 0;
}

// K (u0, u1, u2, lambda) with its w divided by scale.
Vec4 ConePoint(const Matrix4W& k, const Vec3& u, double lambda, double scale) {
    Vec4 v = Matrix4TransformVec4(k, Vec4{u.x, u.y, u.z, lambda});
    v.w /= scale;
    return v;
}

// The roots of a l^2 + 2 b l + c0 = 0 without cancellation, a negative discriminant taken as
// 0; where a root runs off (a or the product vanishes) it takes the other's value.
void LineRoots(double a, double b, double c0, double& l1, double& l2) {
    const double disc = std::max(b * b - a * c0, 0.0);
    const double q = std::sqrt(disc) + std::abs(b);
    l1 = b >= 0.0 ? -q / a : q / a;
    l2 = b >= 0.0 ? -c0 / q : c0 / q;
    if (!std::isfinite(l1)) l1 = l2;
    if (!std::isfinite(l2)) l2 = l1;
    if (!std::isfinite(l1)) l1 = l2 = 0.0;
}

// A contact at K (u, lambda): the point of space and q1's half-gradient there; false when
// the point lies at infinity.
bool ContactAt(const Matrix4W& k, const Matrix4W& q1, const Vec3& u, double lambda, double scale,
               Contact& contact) {
    Vec3 p;
    if (!SpacePoint(ConePoint(k, u, lambda, scale), p)) return false;
    contact.point = p;
    contact.normal = HalfGradient(q1, p);
    return true;
}

}  // namespace

IntervalList IntervalListWhole(double bound) {
    IntervalList list;
    list.ends[0] = -bound;
    list.ends[1] = bound;
    list.count = 1;
    return list;
}

std::int32_t ClipIntervalList(IntervalList& list, double p1, double q1, double p2, double q2) {
    std::array<double, 2 * IntervalRoom> out{};
    std::int32_t kept = 0;
    const auto push = [&](double lo, double hi) {
        if (!(lo < hi)) return true;
        if (kept == IntervalRoom) return false;
        out[static_cast<std::size_t>(2 * kept)] = lo;
        out[static_cast<std::size_t>(2 * kept + 1)] = hi;
        ++kept;
        return true;
    };
    const double r1 = Quotient(p1, q1);
    const double r2 = Quotient(p2, q2);
    const bool keepInside = !(p2 * q1 < p1 * q2);
    for (std::int32_t i = 0; i < list.count; ++i) {
        const double lo = list.ends[static_cast<std::size_t>(2 * i)];
        const double hi = list.ends[static_cast<std::size_t>(2 * i + 1)];
        if (keepInside) {
            if (!push(lo * q1 < p1 ? r1 : lo, hi * q2 > p2 ? r2 : hi)) return -1;
        } else {
            if (lo * q2 < p2 && !push(lo, hi * q2 > p2 ? r2 : hi)) return -1;
            if (hi * q1 > p1 && !push(lo * q1 < p1 ? r1 : lo, hi)) return -1;
        }
    }
    list.ends = out;
    list.count = kept;
    return kept;
}

Vec3 ConicPoint(const Matrix3& a, double sigma, double cosine, double sine) {
    return Vec3{std::sqrt(std::max(a.m[8] * cosine * cosine + a.m[4] * sine * sine, 0.0)),
                sigma * sine, -sigma * cosine};
}

void ConicMiddleAngle(double n0, double d0, double n1, double d1, double& cosine, double& sine) {
    const double norm = std::sqrt((d0 * d0 + n0 * n0) * (d1 * d1 + n1 * n1));
    if (!(norm > 0.0) || !std::isfinite(norm)) {
        cosine = 1.0;
        sine = 0.0;
        return;
    }
    cosine = (d0 * d1 - n0 * n1) / norm;
    sine = (n0 * d1 + n1 * d0) / norm;
}

std::int32_t CurvedEdgeIntervals(const Matrix3& a, const Matrix3& c, IntervalList& list,
                                 const Vec3& v, std::uint8_t* noCrossing, double size,
                                 double sigma) {
    if (noCrossing != nullptr) *noCrossing = 0;

    // A clipping conic proportional to the piece's own clips nothing.
    if (a.m[0] != 0.0) {
        const Matrix3 e = Matrix3Sub(c, Matrix3Scale(c.m[0] / a.m[0], a));
        if (MaxAbsSymmetric3(e, 1.0) <= 1e-8 * size) return list.count;
    }

    std::array<Fraction, 4> crossings{};
    std::int32_t count = ConicCrossings(a, c, crossings);

    // In order; a tangent crossing shows as an equal pair, which is no crossing.
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (std::int32_t i = 0; i + 1 < count; ++i) {
            auto& x = crossings[static_cast<std::size_t>(i)];
            auto& y = crossings[static_cast<std::size_t>(i + 1)];
            if (Before(y, x)) {
                std::swap(x, y);
                swapped = true;
            }
        }
    }
    for (bool removed = true; removed;) {
        removed = false;
        for (std::int32_t i = 0; i + 1 < count; ++i) {
            if (!Same(crossings[static_cast<std::size_t>(i)],
                      crossings[static_cast<std::size_t>(i + 1)])) {
                continue;
            }
            for (std::int32_t j = i; j + 2 < count; ++j) {
                crossings[static_cast<std::size_t>(j)] = crossings[static_cast<std::size_t>(j + 2)];
            }
            count -= 2;
            removed = true;
            break;
        }
    }
    if (count == 4 && Same(crossings[0], crossings[3])) {
        crossings[0] = crossings[1];
        crossings[1] = crossings[2];
        count = 2;
    }

    if (count != 2 && count != 4) {
        // Decided without crossings: the whole conic lies inside c or outside it.
        if (noCrossing != nullptr) *noCrossing = 1;
        return Form3(c, v, v) < 0.0 ? list.count : 0;
    }

    // Probe the first arc wide enough to hold a well-placed middle (tan of half its angle at
    // least 0.5), else the arc through infinity; the answer is turned to speak of the arcs
    // that start at an even crossing.
    std::int32_t probe = count - 1;
    for (std::int32_t i = 0; i + 1 < count; ++i) {
        const Fraction& x = crossings[static_cast<std::size_t>(i)];
        const Fraction& y = crossings[static_cast<std::size_t>(i + 1)];
        if (y.num * x.den - x.num * y.den >= 0.5 * (x.den * y.den + x.num * y.num)) {
            probe = i;
            break;
        }
    }
    const Fraction& from = crossings[static_cast<std::size_t>(probe)];
    const Fraction& to = crossings[static_cast<std::size_t>((probe + 1) % count)];
    double cosine = 0.0, sine = 0.0;
    ConicMiddleAngle(from.num, from.den, to.num, to.den, cosine, sine);
    if (probe == count - 1) {
        cosine = -cosine;
        sine = -sine;
    }
    const Vec3 middle = ConicPoint(a, sigma, cosine, sine);
    bool evenInside = Form3(c, middle, middle) < 0.0;
    if (probe % 2 == 1) evenInside = !evenInside;

    const auto& t = crossings;
    if (count == 2) {
        return evenInside ? ClipIntervalList(list, t[0].num, t[0].den, t[1].num, t[1].den)
                          : ClipIntervalList(list, t[1].num, t[1].den, t[0].num, t[0].den);
    }
    std::int32_t left = 0;
    if (evenInside) {
        left = ClipIntervalList(list, t[2].num, t[2].den, t[1].num, t[1].den);
        if (left <= 0) return left;
        return ClipIntervalList(list, t[0].num, t[0].den, t[3].num, t[3].den);
    }
    left = ClipIntervalList(list, t[1].num, t[1].den, t[0].num, t[0].den);
    if (left <= 0) return left;
    return ClipIntervalList(list, t[3].num, t[3].den, t[2].num, t[2].den);
}

std::int32_t QuadricPairCandidates(const Matrix4W& q1, const Matrix4W& q2, Matrix3& d,
                                   Matrix4W& k, Matrix4W& n, IntervalList& list,
                                   std::uint8_t* noCrossing, double scale) {
    if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
    const bool isOpen = CurveIsOpen(q1, q2);

    // The member of the pencil farthest from singular, and another member R to pair it with.
    const double m1 = MaxAbsSymmetric4(q1, 1e100);
    const double m2 = MaxAbsSymmetric4(q2, 1e100);
    if (!(m1 > 0.0) || !(m2 > 0.0)) return 0;
    Matrix4W p;
    double best = 0.0;
    int chosen = -1;
    for (int i = 0; i <= 4; ++i) {
        const Matrix4W pk =
            Matrix4Add(Matrix4Scale((i / 4.0) / m1, q1), Matrix4Scale((1.0 - i / 4.0) / m2, q2));
        const double det = std::abs(SymmetricDet4(pk));
        if (det > best) {
            best = det;
            p = pk;
            chosen = i;
        }
    }
    if (!(best >= SingularDet)) return 0;
    const Matrix4W& r = chosen <= 1 ? q1 : q2;

    // A degenerate member M = x0 P - R: a cone through the intersection curve.
    const std::array<double, 5> poly = PencilPolynomial(p, r);
    if (poly[0] == 0.0) return 0;
    std::uint8_t found = 0;
    const double x0 = QuarticRealRoot(poly[1] / poly[0], poly[2] / poly[0], poly[3] / poly[0],
                                      poly[4] / poly[0], &found);
    if ((found == 0 && isOpen) || !std::isfinite(x0)) return 0;
    const Matrix4W mScaled = ScaledLengths(Matrix4Sub(Matrix4Scale(x0, p), r), 1.0 / scale);
    const Matrix4W pScaled = ScaledLengths(p, 1.0 / scale);

    // The cone's frame: its vertex (the smallest value) last.
    std::array<double, 4> e{};
    const Matrix4W frame = AnalyseQuadric(mScaled, e);
    std::size_t j = 0;
    double smallest = 1e100;
    for (std::size_t i = 0; i < 4; ++i) {
        if (std::abs(e[i]) < smallest) {
            smallest = std::abs(e[i]);
            j = i;
        }
    }
    std::array<double, 4> shifted{};
    Matrix4W kShifted;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t to = (i + 3 - j) % 4;
        shifted[to] = e[i];
        for (std::size_t row = 0; row < 4; ++row) kShifted.m[4 * row + to] = frame.m[4 * row + i];
    }
    std::array<double, 3> first{shifted[0], shifted[1], shifted[2]};
    const int negatives = NegativeCount(first);
    if (negatives == 0 || negatives == 3) return 0;
    if (negatives == 2) {
        for (double& v : first) v = -v;
    }
    int in = 0, ip = 0, im = 0;
    SignOrder(first, in, ip, im);
    const std::array<std::size_t, 3> order{static_cast<std::size_t>(in),
                                           static_cast<std::size_t>(ip),
                                           static_cast<std::size_t>(im)};
    Matrix4W kOrdered = kShifted;
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t row = 0; row < 4; ++row) {
            kOrdered.m[4 * row + c] = kShifted.m[4 * row + order[c]];
        }
    }
    if ((j == 0 || j == 2) != IsOddOrder(in, ip)) {
        for (std::size_t row = 0; row < 4; ++row) kOrdered.m[4 * row + 3] = -kOrdered.m[4 * row + 3];
    }
    const double en = first[order[0]], ep = first[order[1]], em = first[order[2]];
    if (!(en < 0.0 && ep > 0.0)) return 0;

    // The second surface in the cone's coordinates, and the Schur conic of its lines.
    const Matrix4W nCone =
        Matrix4Product(Matrix4Transpose(kOrdered), Matrix4Product(pScaled, kOrdered));
    const Matrix3 schur = SchurConic(nCone);
    const double nSize = MaxAbsSymmetric4(nCone, 1.0);
    if (!(MaxAbsSymmetric3(schur, 1.0) > 1e-8 * nSize)) return 0;

    const Matrix3 canonical{{en, 0, 0, 0, ep, 0, 0, 0, em}};
    list = IntervalListWhole(ConicParameterBound);
    const std::int32_t count =
        CurvedEdgeIntervals(canonical, schur, list, Vec3{1.0, std::sqrt(-en / ep), 0.0},
                            noCrossing, nSize, std::sqrt(-en));
    if (count <= 0) return 0;
    d = canonical;
    k = kOrdered;
    n = nCone;
    return count;
}

std::int32_t CurvedPairContact(const Matrix4W& q1, const Matrix4W& q2, std::span<Vec4, 2> points,
                               std::span<Contact> contacts, double scale) {
    Matrix3 d;
    Matrix4W k;
    Matrix4W n;
    IntervalList list;
    std::uint8_t noCrossing = 0;
    std::int32_t count = QuadricPairCandidates(q1, q2, d, k, n, list, &noCrossing, scale);
    if (count <= 0) return 0;
    const double sigma = std::sqrt(-d.m[0]);
    const auto cosineOf = [](double t) { return (1.0 - t * t) / (1.0 + t * t); };
    const double lastEnd = list.ends[static_cast<std::size_t>(2 * count - 1)];
    const bool throughInfinity = cosineOf(list.ends[0]) == -1.0 && cosineOf(lastEnd) == -1.0;
    const bool wantContacts = contacts.size() >= 2;
    const double a = n.m[15];

    if (noCrossing != 0 || (throughInfinity && count == 1)) {
        // The whole curve: two points on the line through the conic's reference point.
        const double y = std::sqrt(-d.m[0] / d.m[4]);
        double l1 = 0.0, l2 = 0.0;
        LineRoots(a, n.m[3] + y * n.m[7], n.m[0] + 2.0 * y * n.m[1] + y * y * n.m[5], l1, l2);
        points[0] = ConePoint(k, Vec3{1.0, y, 0.0}, l1, scale);
        points[1] = ConePoint(k, Vec3{1.0, y, 0.0}, l2, scale);
        if (wantContacts) {
            double c1 = 0.0, c2 = 0.0;
            LineRoots(a, n.m[3], n.m[0], c1, c2);
            const bool ok1 = ContactAt(k, q1, Vec3{1.0, 0.0, 0.0}, c1, scale, contacts[0]);
            const bool ok2 = ContactAt(k, q1, Vec3{1.0, 0.0, 0.0}, c2, scale, contacts[1]);
            if (!ok1) contacts[0] = ok2 ? contacts[1] : Contact{};
            if (!ok2) contacts[1] = contacts[0];
        }
        return 2;
    }

    if (throughInfinity) --count;
    count = std::min(count, 2);
    for (std::int32_t i = 0; i < count; ++i) {
        double ta = list.ends[static_cast<std::size_t>(2 * i)];
        double tb = list.ends[static_cast<std::size_t>(2 * i + 1)];
        const bool turned = throughInfinity && i == 0;
        if (turned) tb = list.ends[static_cast<std::size_t>(2 * count)];
        double cosine = 0.0, sine = 0.0;
        ConicMiddleAngle(ta, 1.0, tb, 1.0, cosine, sine);
        if (turned) {
            cosine = -cosine;
            sine = -sine;
        }
        const Vec3 u = ConicPoint(d, sigma, cosine, sine);
        const double b = n.m[3] * u.x + n.m[7] * u.y + n.m[11] * u.z;
        Matrix3 n3{{n.m[0], n.m[1], n.m[2], n.m[4], n.m[5], n.m[6], n.m[8], n.m[9], n.m[10]}};
        const double c0 = Form3(n3, u, u);
        const double disc = std::max(b * b - a * c0, 0.0);
        const double h = b + Sign(b) * std::sqrt(disc);
        // Where the vertex lies on the second surface (a = 0) the line meets it once more.
        double lambda = a != 0.0 ? -h / a : (h != 0.0 ? -c0 / h : 0.0);
        if (!std::isfinite(lambda)) lambda = 0.0;
        points[static_cast<std::size_t>(i)] = ConePoint(k, u, lambda, scale);
        if (wantContacts) {
            double chordMiddle = a != 0.0 ? -b / a : lambda;
            if (!std::isfinite(chordMiddle)) chordMiddle = lambda;
            if (!ContactAt(k, q1, u, chordMiddle, scale, contacts[static_cast<std::size_t>(i)])) {
                contacts[static_cast<std::size_t>(i)] = Contact{};
            }
        }
    }
    return count;
}
