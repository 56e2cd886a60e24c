#include "render/ray_probe.h"

#include <bit>
#include <cmath>

namespace {

struct Crossing {
    double t = 0.0;
    std::int32_t surface = 0;
};

constexpr std::size_t MaxCrossings = 64;

void Insert(Crossing* list, std::size_t& count, double t, std::int32_t surface) {
    std::size_t i = count++;
    while (i > 0 && list[i - 1].t > t) {
        list[i] = list[i - 1];
        --i;
    }
    list[i] = Crossing{t, surface};
}

}  // namespace

bool IsPlaneForm(const Matrix4W& form) {
    return (std::bit_cast<std::uint64_t>(form.m[15]) >> 32) == 0x7FFFFFFF;
}

bool ProbeRay(std::span<const Matrix4W> surfaces, std::int32_t partIndex, double u, double v,
              const SurfaceGroups& groups, RayHit& nearest) {
    Crossing crossings[MaxCrossings];
    std::size_t count = 0;
    std::uint32_t outside = 0;
    const std::size_t surfaceCount = surfaces.size() < 32 ? surfaces.size() : 32;
    for (std::size_t s = 0; s < surfaceCount; ++s) {
        const auto& e = surfaces[s].m;
        const auto surface = static_cast<std::int32_t>(s);
        if (e[0] >= 0.0) outside |= 1u << s;
        const double b = e[1] * u + e[2] * v + e[3];
        if (IsPlaneForm(surfaces[s])) {
            if (b == 0.0) continue;
            const double t = -0.5 * e[0] / b;
            if (t > 0.0) Insert(crossings, count, t, surface);
            continue;
        }
        const double a = e[5] * u * u + 2.0 * e[6] * u * v + 2.0 * e[7] * u + e[10] * v * v +
                         2.0 * e[11] * v + e[15];
        const double c = e[0];
        const double disc = b * b - a * c;
        if (!(disc >= 0.0)) continue;
        const double q = -(b + (b >= 0.0 ? std::sqrt(disc) : -std::sqrt(disc)));
        if (q == 0.0) continue;
        const double t1 = c / q;
        if (t1 > 0.0) Insert(crossings, count, t1, surface);
        if (a != 0.0) {
            const double t2 = q / a;
            if (t2 > 0.0) Insert(crossings, count, t2, surface);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        outside ^= 1u << crossings[i].surface;
        if (outside != 0) continue;
        const std::uint32_t id = static_cast<std::uint32_t>(partIndex + 1) * 32u +
                                 static_cast<std::uint32_t>(crossings[i].surface);
        const double depth = crossings[i].t;
        if (nearest.id == 0) {
            nearest = RayHit{depth, id};
        } else {
            const std::uint16_t group = groups.Of(id);
            if (group != 0 && groups.Of(nearest.id) == group) {
                if (id < nearest.id) nearest = RayHit{depth, id};
            } else if (depth < nearest.depth) {
                nearest = RayHit{depth, id};
            }
        }
        return true;
    }
    return false;
}
