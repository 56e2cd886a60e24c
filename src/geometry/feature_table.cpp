#include "geometry/feature_table.h"

#include "core/check.h"
#include "core/private_block.h"
#include "core/private_heap.h"
#include "geometry/shape_forms.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

namespace {

// Each array starts aligned for its elements whatever the counts before it.
static_assert(sizeof(FeatureTable) % alignof(Vec3) == 0 &&
              sizeof(FeatureTable) % alignof(FeatureEdge) == 0 &&
              sizeof(Vec3) % alignof(FeatureEdge) == 0 &&
              sizeof(FeatureEdge) % alignof(FeatureGroup) == 0);

std::byte* Bytes(FeatureTable& table) { return reinterpret_cast<std::byte*>(&table); }
const std::byte* Bytes(const FeatureTable& table) {
    return reinterpret_cast<const std::byte*>(&table);
}

std::size_t EdgesOffset(const FeatureTable& table) {
    return sizeof(FeatureTable) + sizeof(Vec3) * static_cast<std::size_t>(table.cornerCount);
}

std::size_t GroupsOffset(const FeatureTable& table) {
    return EdgesOffset(table) + sizeof(FeatureEdge) * static_cast<std::size_t>(table.edgeCount);
}

}  // namespace

std::uint64_t FeatureTableBytes(std::int32_t cornerCount, std::int32_t edgeCount,
                                std::int32_t groupCount) {
    ORBELLE_CHECK(cornerCount >= 0 && edgeCount >= 0 && groupCount >= 0);
    return sizeof(FeatureTable) + sizeof(Vec3) * static_cast<std::uint64_t>(cornerCount) +
           sizeof(FeatureEdge) * static_cast<std::uint64_t>(edgeCount) +
           sizeof(FeatureGroup) * static_cast<std::uint64_t>(groupCount);
}

FeatureTable* FeatureTableAllocEmpty() {
    return new (PrivateAlloc(sizeof(FeatureTable))) FeatureTable{};
}

void FeatureTableResize(FeatureTable*& table, std::int32_t cornerCount, std::int32_t edgeCount,
                        std::int32_t groupCount) {
    const std::uint64_t bytes = FeatureTableBytes(cornerCount, edgeCount, groupCount);
    if (bytes > UINT32_MAX) ThrowOutOfMemory();
    const auto size = static_cast<std::uint32_t>(bytes);
    if (table == nullptr || table->byteSize != size) {
        void* block = table;
        PrivateRealloc(&block, size);
        table = static_cast<FeatureTable*>(block);
    }
    std::memset(static_cast<void*>(table), 0, size);
    table->byteSize = size;
    table->cornerCount = cornerCount;
    table->edgeCount = edgeCount;
    table->groupCount = groupCount;
}

void FeatureTableFill(FeatureTable*& table, std::span<const Vec3> corners,
                      std::span<const FeatureEdge> edges) {
    std::int32_t groupCount = 0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        ORBELLE_CHECK(e == 0 || edges[e - 1].surface <= edges[e].surface);
        if (e == 0 || edges[e - 1].surface != edges[e].surface) ++groupCount;
    }
    FeatureTableResize(table, static_cast<std::int32_t>(corners.size()),
                       static_cast<std::int32_t>(edges.size()), groupCount);
    std::ranges::copy(corners, FeatureTableCorners(*table).begin());
    std::ranges::copy(edges, FeatureTableEdges(*table).begin());
    std::span<FeatureGroup> groups = FeatureTableGroups(*table);
    std::size_t g = 0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (e != 0 && edges[e - 1].surface == edges[e].surface) {
            ++groups[g - 1].edgeCount;
            continue;
        }
        groups[g++] = FeatureGroup{edges[e].surface, static_cast<std::int32_t>(e), 1};
    }
}

void FeatureTableCarry(FeatureTable& table, const Matrix4W& worldFromLocal,
                       const Matrix4W& localFromWorld) {
    for (Vec3& p : FeatureTableCorners(table)) p = PointCarried(worldFromLocal, p);
    // A plane a . (1, x, y, z) = 0 in part coordinates is (a A) . (1, X, Y, Z) = 0 in world
    // coordinates, A = localFromWorld.
    const auto& a = localFromWorld.m;
    for (FeatureEdge& edge : FeatureTableEdges(table)) {
        if (edge.curve != FeatureCurve::TwoCurved) continue;
        std::array<double, 4> carried{};
        for (std::size_t c = 0; c < 4; ++c) {
            for (std::size_t k = 0; k < 4; ++k) carried[c] += edge.plane[k] * a[4 * k + c];
        }
        if (carried[0] != 0.0) {
            const double scale = -1.0 / carried[0];
            for (double& v : carried) v *= scale;
        }
        edge.plane = carried;
    }
}

bool FeatureTableIsFinite(const FeatureTable& table) {
    for (const Vec3& p : FeatureTableCorners(table)) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
    }
    for (const FeatureEdge& edge : FeatureTableEdges(table)) {
        for (double v : edge.plane) {
            if (!std::isfinite(v)) return false;
        }
    }
    return true;
}

void FeatureTableFree(FeatureTable*& table) { PrivateFreeAndClear(table); }

std::span<Vec3> FeatureTableCorners(FeatureTable& table) {
    return {reinterpret_cast<Vec3*>(Bytes(table) + sizeof(FeatureTable)),
            static_cast<std::size_t>(table.cornerCount)};
}

std::span<FeatureEdge> FeatureTableEdges(FeatureTable& table) {
    return {reinterpret_cast<FeatureEdge*>(Bytes(table) + EdgesOffset(table)),
            static_cast<std::size_t>(table.edgeCount)};
}

std::span<FeatureGroup> FeatureTableGroups(FeatureTable& table) {
    return {reinterpret_cast<FeatureGroup*>(Bytes(table) + GroupsOffset(table)),
            static_cast<std::size_t>(table.groupCount)};
}

std::span<const Vec3> FeatureTableCorners(const FeatureTable& table) {
    return {reinterpret_cast<const Vec3*>(Bytes(table) + sizeof(FeatureTable)),
            static_cast<std::size_t>(table.cornerCount)};
}

std::span<const FeatureEdge> FeatureTableEdges(const FeatureTable& table) {
    return {reinterpret_cast<const FeatureEdge*>(Bytes(table) + EdgesOffset(table)),
            static_cast<std::size_t>(table.edgeCount)};
}

std::span<const FeatureGroup> FeatureTableGroups(const FeatureTable& table) {
    return {reinterpret_cast<const FeatureGroup*>(Bytes(table) + GroupsOffset(table)),
            static_cast<std::size_t>(table.groupCount)};
}
