#include "render/edge_lines.h"

#include "core/private_heap.h"
#include "render/background_shade.h"
#include "render/light_extra_ids.h"
#include "render/light_layer_resolve.h"
#include "render/light_map.h"
#include "render/q_render.h"
#include "render/ray_probe.h"
#include "render/small_parts.h"
#include "render/span_shade.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// A function of (X, Y) to second order about a point: value, gradient and Hessian.
struct Taylor2 {
    double v = 0.0;
    double x = 0.0, y = 0.0;
    double xx = 0.0, xy = 0.0, yy = 0.0;
};

Taylor2 operator+(const Taylor2& a, const Taylor2& b) {
    return {a.v + b.v, a.x + b.x, a.y + b.y, a.xx + b.xx, a.xy + b.xy, a.yy + b.yy};
}
Taylor2 operator-(const Taylor2& a, const Taylor2& b) {
    return {a.v - b.v, a.x - b.x, a.y - b.y, a.xx - b.xx, a.xy - b.xy, a.yy - b.yy};
}
Taylor2 operator*(double k, const Taylor2& a) {
    return {k * a.v, k * a.x, k * a.y, k * a.xx, k * a.xy, k * a.yy};
}
Taylor2 operator*(const Taylor2& a, const Taylor2& b) {
    return {a.v * b.v,
            a.x * b.v + a.v * b.x,
            a.y * b.v + a.v * b.y,
            a.xx * b.v + 2.0 * a.x * b.x + a.v * b.xx,
            a.xy * b.v + a.x * b.y + a.y * b.x + a.v * b.xy,
            a.yy * b.v + 2.0 * a.y * b.y + a.v * b.yy};
}
// sqrt of a function positive at the point.
Taylor2 Sqrt(const Taylor2& a) {
    const double r = std::sqrt(a.v);
    const double h = 0.5 / r;
    const double k = 0.25 / (a.v * r);
    return {r,
            a.x * h,
            a.y * h,
            a.xx * h - a.x * a.x * k,
            a.xy * h - a.x * a.y * k,
            a.yy * h - a.y * a.y * k};
}

// Where the boundaries are looked for: the parts (in view space, or in a light's space), the
// pixels per normalised unit (the focal length, or a light map's scale), and for shadow
// boundaries the map-from-screen transform (row-major 2 x 2: map cells per screen pixel),
// which carries the lines found in map cells onto the screen.
struct EdgeSpace {
    const RenderParts& parts;
    double focal = 0.0;
    const std::array<double, 4>* transform = nullptr;
};

// The conic s of a candidate about (x, y).
Taylor2 ConicAt(const SurfaceCandidate& c, double x, double y) {
    const auto& m = c.conic;  // xx, xy, yy, x1, y1, 11
    Taylor2 t;
    t.v = m[0] * x * x + 2.0 * m[1] * x * y + m[2] * y * y + 2.0 * m[3] * x + 2.0 * m[4] * y + m[5];
    t.x = 2.0 * (m[0] * x + m[1] * y + m[3]);
    t.y = 2.0 * (m[1] * x + m[2] * y + m[4]);
    t.xx = 2.0 * m[0];
    t.xy = 2.0 * m[1];
    t.yy = 2.0 * m[2];
    return t;
}

// Fills the candidate of a surface form.
SurfaceCandidate MakeCandidate(const Matrix4W& form, std::int32_t part, std::int32_t surface,
                               const SurfaceGroups& groups) {
    SurfaceCandidate c;
    const auto& e = form.m;
    c.part = part;
    c.surface = surface;
    c.id = PixelIdOf(part, surface);
    c.group = static_cast<std::uint16_t>(groups.Of(c.id) & 0x7FFF);
    c.isPlane = IsPlaneForm(form);
    c.q0 = e[0];
    const double k = c.isPlane ? 2.0 / e[0] : 1.0 / e[0];
    c.centre = {e[1] * k, e[2] * k, e[3] * k};
    if (!c.isPlane) {
        const auto& cc = c.centre;
        const double inv = 1.0 / e[0];
        c.conic = {cc[0] * cc[0] - e[5] * inv,  cc[0] * cc[1] - e[6] * inv,
                   cc[1] * cc[1] - e[10] * inv, cc[0] * cc[2] - e[7] * inv,
                   cc[1] * cc[2] - e[11] * inv, cc[2] * cc[2] - e[15] * inv};
    }
    return c;
}

SurfaceGroups GroupsOf(const QRender& render) {
    return SurfaceGroups{render.slotTable,
                         render.slotTable != nullptr ? render.slotTableEntries : 0};
}

// The inverse depths of a candidate's surface along (X, Y, 1): one for a plane, two for a
// quadric (none where the ray misses it).
std::int32_t InverseDepths(const SurfaceCandidate& c, double X, double Y, double out[2]) {
    const double linear = -(c.centre[0] * X + c.centre[1] * Y + c.centre[2]);
    if (c.isPlane) {
        out[0] = linear;
        return 1;
    }
    const double s = ConicAt(c, X, Y).v;
    const double root = std::sqrt(std::max(s, 0.0));
    out[0] = linear - root;
    out[1] = linear + root;
    return 2;
}

// Whether p (view space) lies within a surface, allowing tolerance of distance.
bool IsWithin(const Matrix4W& form, const Vec3& p, double tolerance) {
    const auto& e = form.m;
    Vec3 g{e[1], e[2], e[3]};
    double value = e[0] + 2.0 * (e[1] * p.x + e[2] * p.y + e[3] * p.z);
    if (!IsPlaneForm(form)) {
        const Vec3 qp{e[5] * p.x + e[6] * p.y + e[7] * p.z, e[6] * p.x + e[10] * p.y + e[11] * p.z,
                      e[7] * p.x + e[11] * p.y + e[15] * p.z};
        value += qp.x * p.x + qp.y * p.y + qp.z * p.z;
        g = Vec3{g.x + qp.x, g.y + qp.y, g.z + qp.z};
    }
    if (value <= 0.0) return true;
    const double gradient = 2.0 * std::sqrt(g.x * g.x + g.y * g.y + g.z * g.z);
    return value <= gradient * tolerance;
}

// The boundary of candidates i and j through the normalised point (X, Y): visible when it lies
// in front of the eye, within both parts (to a pixel) and no other candidate part covers it.
// Writes its camera depth.
bool TestEdgeVisibility(const QRender& render, const EdgeSpace& space,
                        std::span<const SurfaceCandidate> all, std::span<const std::int32_t> parts,
                        const SurfaceCandidate& a, const SurfaceCandidate& b, double X, double Y,
                        double& depth) {
    double w = 0.0;
    if (&a == &b) {
        w = -(a.centre[0] * X + a.centre[1] * Y + a.centre[2]);
    } else {
        double wa[2], wb[2];
        const std::int32_t na = InverseDepths(a, X, Y, wa);
        const std::int32_t nb = InverseDepths(b, X, Y, wb);
        double best = 1e300;
        for (std::int32_t i = 0; i < na; ++i) {
            for (std::int32_t k = 0; k < nb; ++k) {
                const double gap = std::fabs(wa[i] - wb[k]);
                if (gap < best) {
                    best = gap;
                    w = b.isPlane ? wb[k] : wa[i];
                }
            }
        }
    }
    if (!(w > 0.0)) return false;
    depth = 1.0 / w;
    const double focal = space.focal;
    const Vec3 p{X * depth, Y * depth, depth};
    // Within a pixel and a half of the other surfaces of its parts: the lines only cut the
    // footprint, the probes decide what is seen, so a line kept a little past a corner costs
    // nothing while one lost there would leave the corner point sampled.
    const double tolerance = 1.5 * depth / focal;
    for (const SurfaceCandidate& c : all) {
        if (c.part != a.part && c.part != b.part) continue;
        if (c.id == a.id || c.id == b.id) continue;
        if (!IsWithin(space.parts.Surfaces(c.part)[static_cast<std::size_t>(c.surface)], p,
                      tolerance)) {
            return false;
        }
    }
    const SurfaceGroups groups = GroupsOf(render);
    for (const std::int32_t part : parts) {
        if (part == a.part || part == b.part) continue;
        RayHit hit;
        if (!ProbeRay(space.parts.Surfaces(part), part, X, Y, groups, hit)) continue;
        const auto group = static_cast<std::uint16_t>(groups.Of(hit.id) & 0x7FFF);
        if (group != 0 && (group == a.group || group == b.group)) {
            const std::uint32_t own = group == a.group ? a.id : b.id;
            if (hit.id < own) return false;
            continue;
        }
        if (hit.depth < depth * (1.0 - 1e-9)) return false;
    }
    return true;
}

// Appends the lines of the conic t (normalised units about (x, y)) that are seen.
void AddConicLines(const QRender& render, const EdgeSpace& space, EdgeScratch& scratch,
                   std::span<const std::int32_t> parts, const SurfaceCandidate& a,
                   const SurfaceCandidate& b, const Taylor2& t, double x, double y) {
    const double f = space.focal;
    double A = 0.5 * t.xx, B = 0.5 * t.xy, C = 0.5 * t.yy;
    double D = 0.5 * f * t.x, E = 0.5 * f * t.y;
    if (space.transform != nullptr) {
        // Map cells m = M s for screen pixels s: the quadratic block becomes M^T Q M and the
        // linear terms M^T (D, E).
        const auto& m = *space.transform;
        const double qa = A * m[0] + B * m[2], qb = A * m[1] + B * m[3];
        const double qc = B * m[0] + C * m[2], qd = B * m[1] + C * m[3];
        A = m[0] * qa + m[2] * qc;
        B = m[0] * qb + m[2] * qd;
        C = m[1] * qb + m[3] * qd;
        const double d = D * m[0] + E * m[2];
        E = D * m[1] + E * m[3];
        D = d;
    }
    EdgeLineFit fits[2];
    const std::int32_t n = ReduceConicToLines(A, B, C, D, E, f * f * t.v, EdgeFilterRadius, fits);
    for (std::int32_t k = 0; k < n; ++k) {
        const EdgeLineFit& fit = fits[k];
        double sx = fit.d * fit.a, sy = fit.d * fit.b;
        if (space.transform != nullptr) {
            const auto& m = *space.transform;
            const double mx = m[0] * sx + m[1] * sy;
            sy = m[2] * sx + m[3] * sy;
            sx = mx;
        }
        const double X = x + sx / f;
        const double Y = y + sy / f;
        double depth = 0.0;
        if (!TestEdgeVisibility(render, space, scratch.candidates, parts, a, b, X, Y, depth)) {
            continue;
        }
        EdgeLine line;
        line.depth = depth;
        line.distance = std::fabs(fit.d);
        line.a = fit.a;
        line.b = fit.b;
        line.d = fit.d;
        line.kind = space.transform != nullptr ? 1 : 0;
        line.surfaceA = a.id;
        line.surfaceB = b.id;
        scratch.lines.push_back(line);
    }
}

void AddPairLines(const QRender& render, const EdgeSpace& space, EdgeScratch& scratch,
                  std::span<const std::int32_t> parts, const SurfaceCandidate& a,
                  const SurfaceCandidate& b, double x, double y) {
    if (&a == &b) {
        if (!a.isPlane) AddConicLines(render, space, scratch, parts, a, a, ConicAt(a, x, y), x, y);
        return;
    }
    if (a.group != 0 && a.group == b.group) return;
    Taylor2 l;
    const double d1 = a.centre[0] - b.centre[0];
    const double d2 = a.centre[1] - b.centre[1];
    const double d3 = a.centre[2] - b.centre[2];
    l.v = d1 * x + d2 * y + d3;
    l.x = d1;
    l.y = d2;
    if (a.isPlane && b.isPlane) {
        AddConicLines(render, space, scratch, parts, a, b, l, x, y);
        return;
    }
    if (a.isPlane || b.isPlane) {
        const SurfaceCandidate& quadric = a.isPlane ? b : a;
        AddConicLines(render, space, scratch, parts, a, b, ConicAt(quadric, x, y) - l * l, x, y);
        return;
    }
    const Taylor2 si = ConicAt(a, x, y);
    const Taylor2 sj = ConicAt(b, x, y);
    const Taylor2 s = si + sj;
    const Taylor2 v = si - sj;
    const Taylor2 l2 = l * l;
    const Taylor2 psi = 2.0 * s - l2;
    const double f = space.focal;
    const double r = EdgeFilterRadius;
    const double h11 = 0.5 * psi.xx, h12 = 0.5 * psi.xy, h22 = 0.5 * psi.yy;
    const double g1 = 0.5 * psi.x, g2 = 0.5 * psi.y;
    const bool isSplit =
        l2.v * f * f < 16.0 * (d1 * d1 + d2 * d2) && l2.v < s.v &&
        psi.v * f * f > r * r *
                                (std::fabs(h11 + h22) / 2.0 +
                                 std::sqrt((h11 - h22) * (h11 - h22) / 4.0 + h12 * h12)) +
                            2.0 * r * f * std::sqrt(g1 * g1 + g2 * g2);
    if (isSplit) {
        const Taylor2 lRoot = l * Sqrt(psi);
        AddConicLines(render, space, scratch, parts, a, b, v - lRoot, x, y);
        AddConicLines(render, space, scratch, parts, a, b, v + lRoot, x, y);
    } else {
        AddConicLines(render, space, scratch, parts, a, b, v * v - l2 * psi, x, y);
    }
}

// The gradient of surface id (view space) at p; false when the id names no surface.
bool SurfaceGradient(const QRender& render, std::uint32_t id, const Vec3& p, Vec3& g) {
    const std::int32_t part = PixelPartIndex(id);
    if (part < 0 || part >= render.parts.Count()) return false;
    const auto surfaces = render.parts.Surfaces(part);
    const auto surface = static_cast<std::size_t>(PixelSurface(id));
    if (surface >= surfaces.size()) return false;
    const auto& e = surfaces[surface].m;
    g = Vec3{e[1], e[2], e[3]};
    if (!IsPlaneForm(surfaces[surface])) {
        g.x += e[5] * p.x + e[6] * p.y + e[7] * p.z;
        g.y += e[6] * p.x + e[10] * p.y + e[11] * p.z;
        g.z += e[7] * p.x + e[11] * p.y + e[15] * p.z;
    }
    return true;
}

// The light bits of surface id seen at depth along (x, y, 1). With shadows, worked out at the
// point: each light the surface faces sets its evaluate bit, and its lit bit too when it has
// no map or its shadow test finds the point lit, so each piece of a pixel that a shadow edge
// crosses is lit or shadowed as it is. Without, those of a cell nearby that shows the same
// surface, else whether the point faces each light, as the casting pass sets them.
std::uint32_t EdgeLightMask(const QRender& render, const EdgeScratch& scratch,
                            const SampleCell* cells, std::size_t cellIndex, std::uint32_t id,
                            double x, double y, double depth) {
    const bool hasShadows = ShadowsActive(render);
    if (cells != nullptr && !hasShadows) {
        const std::ptrdiff_t w = render.Level().cellStride;
        const std::ptrdiff_t offsets[5] = {0, 1, -1, w, -w};
        for (std::int32_t s = 0; s < render.SamplesPerPixel(); ++s) {
            const SampleCell* plane = cells + render.PlaneCells() * static_cast<std::size_t>(s);
            for (const std::ptrdiff_t o : offsets) {
                const SampleCell& c = plane[static_cast<std::ptrdiff_t>(cellIndex) + o];
                if ((c.pixel & PixelIdMask) == (id & PixelIdMask)) return c.lightMask;
            }
        }
    }
    const Vec3 p{x * depth, y * depth, depth};
    Vec3 g;
    if (!SurfaceGradient(render, id, p, g)) return 0;
    std::uint32_t bits = 0;
    for (std::int32_t i = 0; i < render.LightCount(); ++i) {
        const Vec3& l = render.LightSlot(i).position;
        const Vec3 d{p.x - l.x, p.y - l.y, p.z - l.z};
        if (d.x * g.x + d.y * g.y + d.z * g.z > 0.0) continue;
        bits |= 0x8000u >> i;
        std::int32_t cell = -1;
        if (!hasShadows || i >= render.ShadowLightCount() ||
            IsLitByLight(render, id, i, scratch.useBackupMaps, d, cell)) {
            bits |= 0x80000000u >> i;
        }
    }
    return bits;
}

// Shades one piece's midpoint: what the probe saw there; with layers, also its layer values.
ShadedValue ShadePiece(QRender& render, const EdgeScratch& scratch, const EdgePiece& piece,
                       const SampleCell* cells, std::size_t cellIndex, double x, double y,
                       std::int32_t column, std::int32_t row, SampleLayers* layers) {
    const RenderLevel& level = render.Level();
    SampleCell cell;
    if (piece.id != 0 && piece.depth < 1e99) {
        cell.pixel = piece.id;
        const double word = level.focal * render.depthScale / piece.depth;
        cell.depth = word >= 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(word);
        if (cell.depth <= 0) cell.depth = 1;
        cell.lightMask =
            EdgeLightMask(render, scratch, cells, cellIndex, piece.id, x, y, piece.depth);
    }
    if (layers != nullptr) return ShadeSamplePointLayers(render, cell, x, y, column, row, *layers);
    return ShadeSamplePoint(render, cell, x, y, column, row);
}

}  // namespace

double EdgeKernelIntegral(double t) {
    const double c = std::clamp(t, -1.0, 1.0);
    return (0.75 - 0.25 * c * c) * c;
}

double EdgeKernelWeight(double lo, double hi) {
    return EdgeKernelIntegral(hi / EdgeFilterRadius) - EdgeKernelIntegral(lo / EdgeFilterRadius);
}

std::int32_t ReduceConicToLines(double A, double B, double C, double D, double E, double G,
                                double r, EdgeLineFit out[2]) {
    const double n2 = D * D + E * E;
    const double n = std::sqrt(n2);
    const double T = A + C;
    const double rho = std::sqrt((A - C) * (A - C) / 4.0 + B * B);
    if (!(std::fabs(G) < 2.0 * r * n + (std::fabs(T) / 2.0 + rho) * r * r)) return 0;
    const double H = A * D * D + 2.0 * B * D * E + C * E * E;
    const double K = 4.0 * r * r * rho * rho - n2;
    const double Z = K * K * K + 27.0 * r * r * (H * H + ((A * C - B * B) * n2 - H * T) * n2);
    double ex = D, ey = E, c = n2, q = H;
    std::int32_t lines = 1;
    if (Z > 0.0) {
        const double lambda = T >= 0.0 ? T / 2.0 + rho : T / 2.0 - rho;
        if ((A - lambda) * (A - lambda) <= (C - lambda) * (C - lambda)) {
            ex = lambda - C;
            ey = B;
        } else {
            ex = B;
            ey = lambda - A;
        }
        c = ex * D + ey * E;
        q = A * ex * ex + 2.0 * B * ex * ey + C * ey * ey;
        lines = 2;
    }
    const double length = std::sqrt(ex * ex + ey * ey);
    if (!(length > 0.0)) return 0;
    const double sq = std::sqrt(std::max(0.0, c * c - q * G));
    double ts[2];
    if (lines == 1) {
        ts[0] = -G / (n2 + sq);
    } else {
        if (q == 0.0) return 0;
        ts[0] = (sq - c) / q;
        ts[1] = -(c + sq) / q;
    }
    std::int32_t written = 0;
    for (std::int32_t k = 0; k < lines; ++k) {
        const double d = ts[k] * length;
        if (!(d > -r && d < r)) continue;
        out[written++] = EdgeLineFit{ex / length, ey / length, d};
    }
    return written;
}

namespace {

// BuildEdgeCurves in a given space: the candidates' surfaces come from space.parts.
void BuildEdgeCurvesIn(const QRender& render, const EdgeSpace& space, EdgeScratch& scratch,
                       std::span<const std::int32_t> parts, double x, double y) {
    const SurfaceGroups groups = GroupsOf(render);
    TranslateBadAlloc([&] {
        scratch.candidates.clear();
        for (const std::int32_t part : parts) {
            const auto surfaces = space.parts.Surfaces(part);
            for (std::size_t s = 0; s < surfaces.size(); ++s) {
                if (surfaces[s].m[0] == 0.0) continue;  // no inverse-depth form
                scratch.candidates.push_back(
                    MakeCandidate(surfaces[s], part, static_cast<std::int32_t>(s), groups));
            }
        }
        const auto& all = scratch.candidates;
        for (std::size_t i = 0; i < all.size(); ++i) {
            for (std::size_t j = 0; j <= i; ++j) {
                AddPairLines(render, space, scratch, parts, all[i], all[j], x, y);
            }
        }
    });
}

// The surface point seen through the normalised point (x, y) of cell's surface: probed on its
// part, or at the depth its depth word gives. False when the cell shows no surface.
bool CellSurfacePoint(const QRender& render, const SampleCell& cell, double x, double y, Vec3& p) {
    const std::int32_t part = PixelPartIndex(cell.pixel);
    if (part < 0 || part >= render.parts.Count() || cell.depth <= 0) return false;
    RayHit hit;
    double depth = render.Level().focal * render.depthScale / cell.depth;
    if (ProbeRay(render.parts.Surfaces(part), part, x, y, GroupsOf(render), hit) &&
        (hit.id & PixelIdMask) == (cell.pixel & PixelIdMask)) {
        depth = hit.depth;
    }
    p = Vec3{x * depth, y * depth, depth};
    return true;
}

}  // namespace

void BuildEdgeCurves(const QRender& render, EdgeScratch& scratch,
                     std::span<const std::int32_t> parts, double x, double y) {
    const EdgeSpace space{render.parts, render.Level().focal, nullptr};
    BuildEdgeCurvesIn(render, space, scratch, parts, x, y);
}

void SurfaceDepthSlopes(const QRender& render, const SampleCell& cell, double x, double y,
                        std::int32_t& slopeX, std::int32_t& slopeY) {
    slopeX = 0;
    slopeY = 0;
    Vec3 p, g;
    if (!CellSurfacePoint(render, cell, x, y, p) || !SurfaceGradient(render, cell.pixel, p, g)) {
        return;
    }
    // Along the ray (x, y, 1) the surface's depth z changes by -z g_x / (g . (x, y, 1)) per unit
    // of x; the depth word focal x scale / z by scale g_x / (z (g . (x, y, 1))) per pixel.
    const double along = p.z * (g.x * x + g.y * y + g.z);
    if (!(std::fabs(along) > 0.0)) return;
    const auto clamped = [](double v) {
        return static_cast<std::int32_t>(std::clamp(v, -2147483647.0, 2147483647.0));
    };
    slopeX = clamped(render.depthScale * g.x / along);
    slopeY = clamped(render.depthScale * g.y / along);
}

void BuildShadowEdgeCurves(const QRender& render, EdgeScratch& scratch, std::uint32_t lightBits,
                           const SampleCell& cell, double x, double y) {
    Vec3 p, g;
    if (!CellSurfacePoint(render, cell, x, y, p) || !SurfaceGradient(render, cell.pixel, p, g)) {
        return;
    }
    const double along = g.x * x + g.y * y + g.z;
    if (!(std::fabs(along) > 0.0)) return;
    const double focal = render.Level().focal;
    // The surface point's motion per screen pixel: along the ray's slope, with the depth
    // following the surface.
    const double dzx = -p.z * g.x / along, dzy = -p.z * g.y / along;
    const Vec3 px{(p.z + dzx * x) / focal, dzx * y / focal, dzx / focal};
    const Vec3 py{dzy * x / focal, (p.z + dzy * y) / focal, dzy / focal};
    const std::int32_t side = render.LightMapSide();
    const std::int32_t own = PixelPartIndex(cell.pixel);
    auto& parts = scratch.shadowParts;
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        if ((lightBits & (0x80000000u >> i)) == 0) continue;
        const RenderLightSlot& slot = render.LightSlot(i);
        const LightMapCell* map = scratch.useBackupMaps ? slot.mapBackupA.get() : slot.map.get();
        if (map == nullptr || !slot.hasMapView) continue;
        const Vec3 d{p.x - slot.position.x, p.y - slot.position.y, p.z - slot.position.z};
        const double dg = d.x * g.x + d.y * g.y + d.z * g.z;
        // Behind the surface, or so nearly along it that the map says nothing useful.
        if (dg > 0.0) continue;
        if (dg * dg <
            0.0001 * (d.x * d.x + d.y * d.y + d.z * d.z) * (g.x * g.x + g.y * g.y + g.z * g.z)) {
            continue;
        }
        const auto& r = slot.lightFromView;
        const auto rows = [&r](const Vec3& v) {
            return Vec3{r[0] * v.x + r[1] * v.y + r[2] * v.z, r[3] * v.x + r[4] * v.y + r[5] * v.z,
                        r[6] * v.x + r[7] * v.y + r[8] * v.z};
        };
        const Vec3 l = rows(d);
        if (!(l.z > 0.0)) continue;
        const double u = l.x / l.z, v = l.y / l.z;
        const Vec3 lx = rows(px), ly = rows(py);
        const double s = slot.mapScale;
        const std::array<double, 4> transform{
            s * (lx.x - u * lx.z) / l.z, s * (ly.x - u * ly.z) / l.z, s * (lx.y - v * lx.z) / l.z,
            s * (ly.y - v * ly.z) / l.z};
        const double column = s * u + slot.mapU;
        const double row = s * v + slot.mapV;

        // The parts the map shows around the point, over the footprint and the neighbours'
        // points carried onto the map (at most a few cells each way), read as the shadow test
        // reads them: both samples' ids, the further ids behind them and the thin parts
        // chained at the cells (those of backup A in a pass over a backup's cells), any of
        // which may stand before a point between the cell centres.
        const double reachU =
            std::min(1.9 * (std::fabs(transform[0]) + std::fabs(transform[1])), 6.0);
        const double reachV =
            std::min(1.9 * (std::fabs(transform[2]) + std::fabs(transform[3])), 6.0);
        if (!(column > -reachU - 1.0 && column < side + reachU + 1.0 && row > -reachV - 1.0 &&
              row < side + reachV + 1.0)) {
            continue;
        }
        const std::size_t planeCells =
            static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
        const SmallPartChains& chains =
            scratch.useBackupMaps ? slot.smallPartsBackupA : slot.smallParts;
        const bool hasChains = !chains.markedCells.empty() && chains.heads.size() == planeCells;
        const LightExtraIds& further = scratch.useBackupMaps ? slot.extraIdsBackupA : slot.extraIds;
        const bool isTwoSample = IsTwoSampleMap(render, slot);
        const bool hasFurther = isTwoSample && !further.heads.empty();
        const std::int32_t partCount = slot.lightParts.Count();
        TranslateBadAlloc([&] {
            parts.clear();
            parts.push_back(own);
            const auto addPart = [&](std::uint32_t id) {
                const std::int32_t part = PixelPartIndex(id & PixelIdMask);
                if ((id & PixelIdMask) == 0 || part >= partCount) return;
                if (std::find(parts.begin(), parts.end(), part) == parts.end()) {
                    parts.push_back(part);
                }
            };
            const auto c0 =
                static_cast<std::int32_t>(std::max(std::floor(column - 0.5 - reachU), 0.0));
            const auto c1 =
                static_cast<std::int32_t>(std::min(std::floor(column + 0.5 + reachU), side - 1.0));
            const auto r0 =
                static_cast<std::int32_t>(std::max(std::floor(row - 0.5 - reachV), 0.0));
            const auto r1 =
                static_cast<std::int32_t>(std::min(std::floor(row + 0.5 + reachV), side - 1.0));
            for (std::int32_t cr = r0; cr <= r1; ++cr) {
                for (std::int32_t cc = c0; cc <= c1; ++cc) {
                    const std::size_t at =
                        static_cast<std::size_t>(cr) * static_cast<std::size_t>(side) +
                        static_cast<std::size_t>(cc);
                    addPart(map[at].id);
                    if (isTwoSample) addPart(map[planeCells + at].id);
                    if (hasFurther && (map[at].id & LightMapMoreIds) != 0) {
                        ForEachExtraId(further, at, addPart);
                    }
                    if (hasChains) AddChainedParts(chains, at, partCount, parts, LightChainedParts);
                }
            }
        });
        if (own >= slot.lightParts.Count()) continue;
        const EdgeSpace space{slot.lightParts, s, &transform};
        BuildEdgeCurvesIn(render, space, scratch, parts, u, v);

        // The map's borders: past them the shadow test answers lit.
        const double borders[4] = {0.5 - column, side - 0.5 - column, 0.5 - row, side - 0.5 - row};
        for (std::int32_t k = 0; k < 4; ++k) {
            const double a = transform[k < 2 ? 0 : 2], b = transform[k < 2 ? 1 : 3];
            const double n = std::sqrt(a * a + b * b);
            if (!(n > 0.0) || !(std::fabs(borders[k]) < EdgeFilterRadius * n)) continue;
            EdgeLine line;
            line.depth = p.z;
            line.a = a / n;
            line.b = b / n;
            line.d = borders[k] / n;
            line.distance = std::fabs(line.d);
            line.kind = 1;
            TranslateBadAlloc([&] { scratch.lines.push_back(line); });
        }
    }
}

namespace {

// The nearest hit among the parts along (x, y, 1).
RayHit ProbeParts(const QRender& render, std::span<const std::int32_t> parts, double x, double y) {
    const SurfaceGroups groups = GroupsOf(render);
    RayHit hit;
    for (const std::int32_t part : parts)
        ProbeRay(render.parts.Surfaces(part), part, x, y, groups, hit);
    return hit;
}

// Regroups the pieces into surface segments and outline bands of the outline width.
void RegroupForOutlines(const QRender& render, EdgeScratch& scratch, double ux, double uy, double x,
                        double y) {
    const double width = render.edges.outlineWidth;
    const double r = EdgeFilterRadius;
    const auto& crossings = scratch.crossings;
    const auto& pieces = scratch.pieces;
    auto& ends = scratch.bandEnds;
    ends.clear();
    bool startsInBand = false;
    bool isFirst = true;
    for (std::size_t k = 0; k < crossings.size(); ++k) {
        if (pieces[k].id == pieces[k + 1].id) continue;
        const double lo = crossings[k].t - width / 2.0;
        const double hi = crossings[k].t + width / 2.0;
        if (isFirst) {
            isFirst = false;
            if (lo <= -r) {
                startsInBand = true;
            } else {
                ends.push_back(lo);
            }
            if (hi >= r) break;
            ends.push_back(hi);
        } else if (ends.empty() || lo > ends.back()) {
            ends.push_back(lo);
            if (hi >= r) break;
            ends.push_back(hi);
        } else {
            if (hi >= r) {
                ends.pop_back();
                break;
            }
            ends.back() = hi;
        }
    }
    auto& out = scratch.outlinePieces;
    out.clear();
    const double focal = render.Level().focal;
    for (std::size_t k = 0; k <= ends.size(); ++k) {
        const double lo = k == 0 ? -1e100 : ends[k - 1];
        const double hi = k == ends.size() ? 1e100 : ends[k];
        const bool isBand = ((k & 1) != 0) != startsInBand;
        if (isBand) {
            double depth = 1e100;
            for (const EdgeCrossing& c : crossings) {
                if (c.kind == 0 && c.t > lo && c.t < hi) depth = std::min(depth, c.depth);
            }
            out.push_back(EdgePiece{lo, hi, 0x80000000u, depth});
            continue;
        }
        if (render.shade.drawStyle >= 1) {
            // The piece just before the first crossing between different surfaces past hi.
            std::size_t taken = pieces.size() - 1;
            for (std::size_t c = 0; c < crossings.size(); ++c) {
                if (pieces[c].id != pieces[c + 1].id && crossings[c].t > hi) {
                    taken = c;
                    break;
                }
            }
            out.push_back(EdgePiece{lo, hi, pieces[taken].id, pieces[taken].depth});
        } else {
            const double segmentLo = std::max(lo, -r);
            const double segmentHi = std::min(hi, r);
            for (const EdgePiece& piece : pieces) {
                const double pl = std::max(piece.lo, segmentLo);
                const double ph = std::min(piece.hi, segmentHi);
                if (pl < ph) out.push_back(EdgePiece{pl, ph, piece.id, piece.depth});
            }
        }
    }
    // Each surface piece takes its depth at its own midpoint, from its own part.
    const SurfaceGroups groups = GroupsOf(render);
    for (EdgePiece& piece : out) {
        if (piece.id == 0 || piece.id == 0x80000000u) continue;
        const double m = 0.5 * (std::max(piece.lo, -r) + std::min(piece.hi, r));
        RayHit hit;
        const std::int32_t part = PixelPartIndex(piece.id);
        if (ProbeRay(render.parts.Surfaces(part), part, x + m * ux / focal, y + m * uy / focal,
                     groups, hit)) {
            piece.depth = hit.depth;
            piece.id = hit.id;
        }
    }
}

// The share of the semicircle density sqrt(1 - z^2) on [-1, z].
double SemicircleShare(double z) {
    const double c = std::clamp(z, -1.0, 1.0);
    return 0.5 + (c * std::sqrt(1.0 - c * c) + std::asin(c)) / std::numbers::pi;
}

// Strips across the axis u no wider than this (pixels): within one the lines' crossings along
// its length are taken at its middle.
constexpr double AcrossStripWidth = 0.15;

// The least sine of the angle between two surface boundary lines that meet at a corner.
constexpr double MinCornerSine = 0.26;

// How far across a corner the band test looks for the surfaces about it (pixels).
constexpr double CornerStep = 0.1;

// Whether the surfaces either side of the point (X, Y) (pixels about the pixel at (x, y)) along
// the unit normal (a, b) differ: a boundary between surfaces passes there.
bool SeparatesSurfaces(const QRender& render, std::span<const std::int32_t> parts, double x,
                       double y, double X, double Y, double a, double b) {
    const double focal = render.Level().focal;
    const RayHit before = ProbeParts(render, parts, x + (X - CornerStep * a) / focal,
                                     y + (Y - CornerStep * b) / focal);
    const RayHit after = ProbeParts(render, parts, x + (X + CornerStep * a) / focal,
                                    y + (Y + CornerStep * b) / focal);
    return before.id != after.id;
}

// The outline bands of a footprint integrated along two axes: every point within half the
// outline width of a boundary between different surfaces. A point lies in a band when, from it,
// another surface is seen across a surface boundary line within that distance along the line's
// normal (a curved boundary's lines are its tangents, whose normals point at it), or when it
// lies that near a point where two such lines meet at a corner (a band's round end).
struct AcrossBands {
    double half = 0.0;  // half the outline width; 0 without bands
    std::vector<std::array<double, 2>>& corners;

    // The corners: where two surface boundary lines meet within reach of the footprint and the
    // surfaces about the meeting point differ.
    void FindCorners(const QRender& render, std::span<const std::int32_t> parts,
                     std::span<const EdgeLine> lines, double x, double y) {
        corners.clear();
        const double reach = EdgeFilterRadius + half;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const EdgeLine& p = lines[i];
            if (p.kind != 0) continue;
            for (std::size_t j = i + 1; j < lines.size(); ++j) {
                const EdgeLine& q = lines[j];
                const double det = p.a * q.b - p.b * q.a;
                // Nearly parallel lines are tangents of one curve, not a corner's sides.
                if (q.kind != 0 || std::fabs(det) < MinCornerSine) continue;
                const double cx = (p.d * q.b - q.d * p.b) / det;
                const double cy = (p.a * q.d - q.a * p.d) / det;
                if (!(cx * cx + cy * cy < reach * reach)) continue;
                const double k = std::numbers::sqrt2 / 2.0;
                if (SeparatesSurfaces(render, parts, x, y, cx, cy, k, k) ||
                    SeparatesSurfaces(render, parts, x, y, cx, cy, k, -k)) {
                    corners.push_back({cx, cy});
                }
            }
        }
    }

    // Whether the point (X, Y), which shows surface id, lies in a band.
    bool Covers(const QRender& render, std::span<const std::int32_t> parts,
                std::span<const EdgeLine> lines, double x, double y, double X, double Y,
                std::uint32_t id) const {
        const double focal = render.Level().focal;
        for (const EdgeLine& line : lines) {
            if (line.kind != 0) continue;
            const double off = line.a * X + line.b * Y - line.d;
            if (!(std::fabs(off) < half)) continue;
            const double step = off > 0.0 ? -half : half;
            const RayHit across = ProbeParts(render, parts, x + (X + step * line.a) / focal,
                                             y + (Y + step * line.b) / focal);
            if (across.id != id) return true;
        }
        for (const auto& c : corners) {
            const double dx = X - c[0], dy = Y - c[1];
            if (dx * dx + dy * dy < half * half) return true;
        }
        return false;
    }

    // Adds to cuts where the bands' edges cross the line t u + m v, given as the offset t along
    // u and the direction v, the positions m within (-limit, limit).
    void AddCuts(std::span<const EdgeLine> lines, double t, double ux, double uy, double vx,
                 double vy, double limit, std::vector<double>& cuts) const {
        if (!(half > 0.0)) return;
        const auto add = [&](double m) {
            if (m > -limit && m < limit) cuts.push_back(m);
        };
        for (const EdgeLine& line : lines) {
            if (line.kind != 0) continue;
            const double s = line.a * vx + line.b * vy;
            if (std::fabs(s) < 1e-9) continue;
            const double at = (line.d - t * (line.a * ux + line.b * uy)) / s;
            add(at - half / s);
            add(at + half / s);
        }
        for (const auto& c : corners) {
            const double along = c[0] * vx + c[1] * vy;
            const double across = t - (c[0] * ux + c[1] * uy);
            const double chord = half * half - across * across;
            if (!(chord > 0.0)) continue;
            add(along - std::sqrt(chord));
            add(along + std::sqrt(chord));
        }
    }

    // The depth of a band at (X, Y): that of the nearest surface boundary line.
    static double Depth(std::span<const EdgeLine> lines, double X, double Y) {
        double depth = 1e100, nearest = 1e100;
        for (const EdgeLine& line : lines) {
            const double off = std::fabs(line.a * X + line.b * Y - line.d);
            if (line.kind == 0 && off < nearest) {
                nearest = off;
                depth = line.depth;
            }
        }
        return depth;
    }
};

// Fills scratch.patches with the footprint of the pixel at (x, y) cut along two axes: strips
// across u at the lines' crossings and at most AcrossStripWidth apart, each weighted by the
// one-axis kernel, cut along v = u turned a quarter by the lines' crossings of its middle
// line; a patch takes the share of its strip that the kernel's profile along that line (a
// semicircle over the disc's chord) gives it. With an outline width, the strips and patches are
// cut at the outline bands' edges too, and a patch within a band becomes part of it.
void IntegrateAcross(const QRender& render, EdgeScratch& scratch,
                     std::span<const std::int32_t> parts, double x, double y, double ux, double uy,
                     double outlineWidth) {
    const double r = EdgeFilterRadius;
    const double focal = render.Level().focal;
    const double vx = -uy, vy = ux;
    const std::span<const EdgeLine> lines = scratch.lines;
    AcrossBands bands{0.5 * outlineWidth, scratch.corners};
    if (bands.half > 0.0) bands.FindCorners(render, parts, lines, x, y);
    auto& cuts = scratch.cuts;
    cuts.clear();
    cuts.push_back(-r);
    for (const EdgeCrossing& c : scratch.crossings) {
        if (c.t > -r && c.t < r) cuts.push_back(c.t);
    }
    // Across u, the bands' edges lie where they cross the line through the centre along u.
    bands.AddCuts(lines, 0.0, vx, vy, ux, uy, r, cuts);
    cuts.push_back(r);
    std::sort(cuts.begin(), cuts.end());
    auto& along = scratch.bandEnds;
    const std::size_t strips = cuts.size() - 1;
    for (std::size_t k = 0; k < strips; ++k) {
        const double lo = cuts[k], hi = cuts[k + 1];
        const auto count =
            static_cast<std::int32_t>(std::max(1.0, std::ceil((hi - lo) / AcrossStripWidth)));
        for (std::int32_t j = 0; j < count; ++j) {
            const double t0 = lo + (hi - lo) * j / count;
            const double t1 = lo + (hi - lo) * (j + 1) / count;
            const double weight = EdgeKernelWeight(t0, t1);
            const double t = 0.5 * (t0 + t1);
            const double half = std::sqrt(std::max(r * r - t * t, 0.0));
            if (!(weight > 0.0) || !(half > 0.0)) continue;
            along.clear();
            along.push_back(-half);
            for (const EdgeLine& line : lines) {
                const double s = line.a * vx + line.b * vy;
                if (std::fabs(s) < 1e-9) continue;
                const double at = (line.d - t * (line.a * ux + line.b * uy)) / s;
                if (at > -half && at < half) along.push_back(at);
            }
            bands.AddCuts(lines, t, ux, uy, vx, vy, half, along);
            along.push_back(half);
            std::sort(along.begin(), along.end());
            for (std::size_t i = 0; i + 1 < along.size(); ++i) {
                const double share =
                    SemicircleShare(along[i + 1] / half) - SemicircleShare(along[i] / half);
                if (!(share > 0.0)) continue;
                const double m = 0.5 * (along[i] + along[i + 1]);
                const double X = t * ux + m * vx, Y = t * uy + m * vy;
                const double px = x + X / focal;
                const double py = y + Y / focal;
                const RayHit hit = ProbeParts(render, parts, px, py);
                EdgePiece piece{t0, t1, hit.id, hit.depth};
                if (bands.half > 0.0 && bands.Covers(render, parts, lines, x, y, X, Y, hit.id)) {
                    piece.id = 0x80000000u;
                    piece.depth = AcrossBands::Depth(lines, X, Y);
                }
                scratch.patches.push_back(EdgePatch{weight * share, px, py, piece});
            }
        }
    }
}

}  // namespace

bool ShadowEdgesMeet(std::span<const EdgeLine> lines, double boundaryReach) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const EdgeLine& p = lines[i];
        if (p.kind != 1 || !(std::fabs(p.d) < EdgeFilterRadius)) continue;
        for (std::size_t j = 0; j < lines.size(); ++j) {
            const EdgeLine& q = lines[j];
            // Each pair of shadow edges once; every surface boundary.
            const double reach = q.kind == 0 ? boundaryReach : EdgeFilterRadius;
            if ((q.kind == 1 && j <= i) || !(std::fabs(q.d) < reach)) continue;
            // More than about 6 degrees apart.
            if (std::fabs(p.a * q.b - p.b * q.a) > 0.1) return true;
        }
    }
    return false;
}

bool IntegrateEdgePixel(QRender& render, EdgeScratch& scratch, std::span<const std::int32_t> parts,
                        const SampleCell* cells, std::uint32_t* out, double x, double y,
                        std::int32_t column, std::int32_t row, std::uint32_t* layerOut) {
    const RenderLevel& level = render.Level();
    const double focal = level.focal;
    const bool isOutlined = render.shade.drawStyle != 0;
    const double filterRadius = EdgeFilterRadius;
    const double outlineRadius =
        isOutlined ? EdgeFilterRadius + 0.5 * render.edges.outlineWidth : EdgeFilterRadius;

    // The axis: the sum of the lines' normals, each turned to agree with the sum so far.
    auto& lines = scratch.lines;
    double sx = 0.0, sy = 0.0;
    for (EdgeLine& line : lines) {
        if (line.a * sx + line.b * sy < 0.0) {
            line.a = -line.a;
            line.b = -line.b;
            line.d = -line.d;
        }
        sx += line.a;
        sy += line.b;
    }
    double ux = 1.0, uy = 0.0;
    const double length = std::sqrt(sx * sx + sy * sy);
    if (lines.size() == 1) {
        ux = lines[0].a;
        uy = lines[0].b;
    } else if (lines.size() > 1 && length > 0.0) {
        ux = sx / length;
        uy = sy / length;
    }

    TranslateBadAlloc([&] {
        auto& crossings = scratch.crossings;
        crossings.clear();
        for (const EdgeLine& line : lines) {
            const double s = line.a * ux + line.b * uy;
            const double r = line.kind == 0 ? outlineRadius : filterRadius;
            if (!(std::fabs(line.d) < std::fabs(s) * r)) continue;
            const EdgeCrossing c{line.d / s, line.depth, line.kind};
            auto at = std::upper_bound(crossings.begin(), crossings.end(), c.t,
                                       [](double t, const EdgeCrossing& e) { return t < e.t; });
            crossings.insert(at, c);
        }
        auto& pieces = scratch.pieces;
        pieces.clear();
        for (std::size_t k = 0; k <= crossings.size(); ++k) {
            const double lo = k == 0 ? -outlineRadius : crossings[k - 1].t;
            const double hi = k == crossings.size() ? outlineRadius : crossings[k].t;
            const double m = 0.5 * (lo + hi);
            const RayHit hit = ProbeParts(render, parts, x + m * ux / focal, y + m * uy / focal);
            pieces.push_back(EdgePiece{lo, hi, hit.id, hit.depth});
        }
        if (isOutlined) RegroupForOutlines(render, scratch, ux, uy, x, y);
    });
    const auto& pieces = isOutlined ? scratch.outlinePieces : scratch.pieces;
    if (pieces.empty()) return false;
    // Where a shadow edge meets another shadow edge, a surface boundary or the outline band
    // along one, the footprint is integrated along both axes. The flat styles show no shadows:
    // their bands are laid along the one axis.
    const bool hasBands = isOutlined && std::any_of(lines.begin(), lines.end(),
                                                    [](const auto& l) { return l.kind == 0; });
    auto& patches = scratch.patches;
    TranslateBadAlloc([&] {
        patches.clear();
        if (!(hasBands && render.shade.drawStyle > 0) &&
            ShadowEdgesMeet(lines, hasBands ? outlineRadius : filterRadius)) {
            IntegrateAcross(render, scratch, parts, x, y, ux, uy,
                            hasBands ? render.edges.outlineWidth : 0.0);
            return;
        }
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const EdgePiece& piece = pieces[k];
            const double lo =
                k == 0 ? -filterRadius : std::clamp(piece.lo, -filterRadius, filterRadius);
            const double hi = k + 1 == pieces.size()
                                  ? filterRadius
                                  : std::clamp(piece.hi, -filterRadius, filterRadius);
            const double m = 0.5 * (lo + hi);
            patches.push_back(
                EdgePatch{EdgeKernelWeight(lo, hi), x + m * ux / focal, y + m * uy / focal, piece});
        }
    });

    const std::size_t cellIndex =
        static_cast<std::size_t>(row + 1) * static_cast<std::size_t>(level.cellStride) +
        static_cast<std::size_t>(column + 1);
    const std::uint32_t outline = render.edges.outlineColour;
    std::array<double, 3> sum{0.0, 0.0, 0.0};
    double alpha = 0.0;
    // With layers: the weighted sums of the pieces' base values and of each shadow light's
    // change, on the same 8.8 scale.
    const std::int32_t shadowLights =
        layerOut != nullptr ? std::min(render.ShadowLightCount(), RenderLightSlotCount) : 0;
    auto& layerSums = scratch.layerSums;
    if (layerOut != nullptr) layerSums.fill({0.0, 0.0, 0.0});
    SampleLayers pieceLayers;
    double coverage = 0.0;
    for (const EdgePatch& patch : patches) {
        const EdgePiece& piece = patch.piece;
        const double weight = patch.weight;
        if (weight <= 0.0) continue;
        ShadedValue value;
        if (piece.id == 0x80000000u) {
            value.value = {static_cast<std::int64_t>((outline >> 16) & 0xFF) << 8,
                           static_cast<std::int64_t>((outline >> 8) & 0xFF) << 8,
                           static_cast<std::int64_t>(outline & 0xFF) << 8};
            value.alpha = 0xFF000000u;
        } else {
            EdgePiece shown = piece;
            if (PixelPartIndex(piece.id) >= render.parts.Count()) shown.id = 0;
            value = ShadePiece(render, scratch, shown, cells, cellIndex, patch.x, patch.y, column,
                               row, layerOut != nullptr ? &pieceLayers : nullptr);
        }
        for (std::size_t c = 0; c < 3; ++c) sum[c] += weight * static_cast<double>(value.value[c]);
        if (layerOut != nullptr) {
            // An outline band and the background change with no light.
            const bool isLit = piece.id != 0x80000000u && pieceLayers.isLit;
            for (std::size_t c = 0; c < 3; ++c) {
                layerSums[0][c] +=
                    weight * static_cast<double>(isLit ? pieceLayers.base[c] : value.value[c]);
            }
            for (std::int32_t i = 0; isLit && i < shadowLights; ++i) {
                if ((pieceLayers.evaluated & (1u << i)) == 0) continue;
                const auto at = static_cast<std::size_t>(i);
                for (std::size_t c = 0; c < 3; ++c) {
                    layerSums[at + 1][c] += weight * static_cast<double>(pieceLayers.light[at][c]);
                }
            }
        }
        alpha += weight * static_cast<double>(value.alpha >> 24);
        const std::int32_t shownPart = PixelPartIndex(piece.id);
        if (piece.id == 0x80000000u || (shownPart >= 0 && shownPart < render.parts.Count())) {
            coverage += weight;
        }
    }
    const auto channel = [](double v) {
        return static_cast<std::uint32_t>(std::clamp(std::floor(v / 256.0 + 0.5), 0.0, 255.0));
    };
    const auto alphaByte =
        static_cast<std::uint32_t>(std::clamp(std::floor(alpha + 0.5), 0.0, 255.0));
    const RenderLevel& full = render.Level(0);
    if (const std::uint32_t* image = BackgroundImageWord(render.shade, render.reductionLevel,
                                                         column, row, full.width, full.height)) {
        *out = BoundaryOverBackgroundImage(sum, coverage, alphaByte, *image);
    } else {
        *out = alphaByte << 24 | channel(sum[0]) << 16 | channel(sum[1]) << 8 | channel(sum[2]);
    }
    if (layerOut != nullptr) {
        const auto contribution = [](double v) {
            return static_cast<std::int32_t>(
                std::clamp(std::floor(v / 256.0 + 0.5), -512.0, 512.0));
        };
        for (std::int32_t i = 0; i <= shadowLights; ++i) {
            const auto& t = layerSums[static_cast<std::size_t>(i)];
            layerOut[scratch.layerPlaneWords * static_cast<std::size_t>(i)] =
                LayerWordOf(contribution(t[0]), contribution(t[1]), contribution(t[2]));
        }
    }
    return true;
}
