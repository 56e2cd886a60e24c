#include "geometry/part_octree.h"

#include "core/check.h"
#include "core/float_convert.h"
#include "core/private_heap.h"
#include "geometry/scene_geometry_internal.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// Room in the node, link and result arrays at first.
constexpr std::int32_t InitialCapacity = 20;

// Cells a part may occupy on one axis, and on all three.
constexpr std::int32_t CellsPerAxisLimit = 3;
constexpr std::int32_t CellsLimit = CellsPerAxisLimit * CellsPerAxisLimit * CellsPerAxisLimit;

// Levels a query walks at most: the root's (32 at most) down to 0.
constexpr std::size_t QueryDepthLimit = 34;

// The cells of one level that a grid box touches, per axis from lo to hi (exclusive).
struct CellRange {
    std::array<std::int64_t, 3> lo{};
    std::array<std::int64_t, 3> hi{};
    bool operator==(const CellRange&) const = default;
};

CellRange CellsOf(const GridBox& box, std::int32_t level) {
    CellRange cells;
    for (std::size_t a = 0; a < 3; ++a) {
        cells.lo[a] = std::int64_t{box[2 * a]} >> level;
        cells.hi[a] = ((std::int64_t{box[2 * a + 1]} - 1) >> level) + 1;
    }
    return cells;
}

// Calls fn for every cell of the range, x outermost.
template <typename Fn>
void ForEachCell(const CellRange& cells, Fn&& fn) {
    for (std::int64_t x = cells.lo[0]; x < cells.hi[0]; ++x) {
        for (std::int64_t y = cells.lo[1]; y < cells.hi[1]; ++y) {
            for (std::int64_t z = cells.lo[2]; z < cells.hi[2]; ++z) fn({x, y, z});
        }
    }
}

// The root level a box needs: one more than the bit length of its largest absolute bound
// less one, so that [-2^(D-1), 2^(D-1)) holds it.
std::int32_t RootLevelFor(const GridBox& box) {
    std::int64_t largest = 1;
    for (std::int32_t bound : box) largest = std::max(largest, std::abs(std::int64_t{bound}));
    return 1 + static_cast<std::int32_t>(std::bit_width(static_cast<std::uint64_t>(largest - 1)));
}

// The child of a node of level childLevel + 1 that holds point (x, y, z).
std::size_t ChildIndex(std::int64_t x, std::int64_t y, std::int64_t z, std::int32_t childLevel) {
    return static_cast<std::size_t>((((x >> childLevel) & 1) << 2) |
                                    (((y >> childLevel) & 1) << 1) | ((z >> childLevel) & 1));
}

// An entry from the free list chained through member chain, else the next never used; the
// room was reserved before.
template <typename T>
std::int32_t TakeEntry(T* entries, std::int32_t T::*chain, std::int32_t& freeHead,
                       std::int32_t& used, std::int32_t capacity) {
    if (freeHead >= 0) {
        const std::int32_t entry = freeHead;
        freeHead = entries[entry].*chain;
        return entry;
    }
    ORBELLE_CHECK(used < capacity);
    return used++;
}

}  // namespace

std::int32_t GridFloor(double v) {
    const std::int32_t t = TruncToInt32(v);
    if (v >= 0.0 || t == INT32_MIN) return t;
    return t - 1;
}

std::optional<GridBox> GridBoxOfBound(const Matrix4W& boundQuadric) {
    const std::array<double, 16>& m = boundQuadric.m;
    const double a00 = m[5], a01 = m[6], a02 = m[7], a11 = m[10], a12 = m[11], a22 = m[15];
    const std::array<double, 3> b{m[4], m[8], m[12]};

    // Cofactors of the symmetric block A; A is positive definite when its leading minors
    // a00, c22 and det A are (which also rejects NaN).
    const double c00 = a11 * a22 - a12 * a12;
    const double c01 = a02 * a12 - a01 * a22;
    const double c02 = a01 * a12 - a02 * a11;
    const double c11 = a00 * a22 - a02 * a02;
    const double c12 = a01 * a02 - a00 * a12;
    const double c22 = a00 * a11 - a01 * a01;
    const double det = a00 * c00 + a01 * c01 + a02 * c02;
    if (!(a00 > 0.0 && c22 > 0.0 && det > 0.0)) return std::nullopt;

    // The form is c + 2 b.x + x^T A x, so (x - x0)^T A (x - x0) <= k with x0 = -A^-1 b and
    // k = b^T A^-1 b - c; the box's half-extent on axis i is sqrt(k (A^-1)_ii).
    const std::array<double, 3> adjB{c00 * b[0] + c01 * b[1] + c02 * b[2],
                                     c01 * b[0] + c11 * b[1] + c12 * b[2],
                                     c02 * b[0] + c12 * b[1] + c22 * b[2]};
    const double k = (b[0] * adjB[0] + b[1] * adjB[1] + b[2] * adjB[2]) / det - m[0];
    const std::array<double, 3> adjDiagonal{c00, c11, c22};
    GridBox box{};
    for (std::size_t a = 0; a < 3; ++a) {
        const double halfSquared = k * adjDiagonal[a] / det;
        if (!(halfSquared > 0.0)) return std::nullopt;
        const double half = std::sqrt(halfSquared);
        const double centre = -adjB[a] / det;
        const double low = centre - half;
        const double high = centre + half;
        if (!(low >= -OctreeSceneLimit && high <= OctreeSceneLimit)) return std::nullopt;
        box[2 * a] = GridFloor(GridUnitsPerSceneUnit * low);
        box[2 * a + 1] = GridFloor(GridUnitsPerSceneUnit * high) + 1;
    }
    return box;
}

std::int32_t GridBoxLevel(const GridBox& box) {
    std::int64_t span = 1;
    for (std::size_t a = 0; a < 3; ++a) {
        span = std::max(span, std::int64_t{box[2 * a + 1]} - box[2 * a]);
    }
    const auto level =
        static_cast<std::int32_t>(std::bit_width(static_cast<std::uint64_t>(span))) - 1;
    return std::min(level, OctreeLevelLimit);
}

bool GridBoxesOverlap(const GridBox& a, const GridBox& b) {
    return a[0] < b[1] && b[0] < a[1] && a[2] < b[3] && b[2] < a[3] && a[4] < b[5] && b[4] < a[5];
}

// ---- the tree ----

PartOctree::PartOctree()
    : nodes(NewArray<Node>(InitialCapacity)),
      links(NewArray<Link>(InitialCapacity)),
      result(NewArray<std::int32_t>(InitialCapacity)),
      nodeCapacity(InitialCapacity),
      linkCapacity(InitialCapacity),
      resultCapacity(InitialCapacity) {
    Clear();
}

void PartOctree::Clear() {
    nodes.get()[0] = Node{};
    nodesUsed = 1;
    freeNode = -1;
    liveNodes = 1;
    linksUsed = 0;
    freeLink = -1;
    liveLinks = 0;
}

void PartOctree::ShortenLastQuery(std::int32_t count) {
    resultCount = std::clamp(count, 0, resultCount);
}

std::int32_t PartOctree::RootLevel() const { return nodes.get()[0].level; }

// Makes room for the nodes and links one entry may take, before anything changes; freed
// entries are not counted, so this may grow an array that had room enough.
void PartOctree::Reserve(std::int32_t nodeCount, std::int32_t linkCount) {
    const auto grow = [](auto& block, std::int32_t& capacity, std::int32_t used,
                         std::int32_t needed) {
        if (capacity - used >= needed) return;
        const std::int64_t next =
            std::max(std::int64_t{capacity} + capacity / 5, std::int64_t{used} + needed);
        if (next > INT32_MAX) ThrowOutOfMemory();
        GrowArray(block, static_cast<std::size_t>(capacity), static_cast<std::size_t>(next));
        capacity = static_cast<std::int32_t>(next);
    };
    grow(nodes, nodeCapacity, nodesUsed, nodeCount);
    grow(links, linkCapacity, linksUsed, linkCount);
}

std::int32_t PartOctree::NewNode(std::int64_t x, std::int64_t y, std::int64_t z, std::int32_t level,
                                 std::int32_t parent) {
    const std::int32_t node =
        TakeEntry(nodes.get(), &Node::parent, freeNode, nodesUsed, nodeCapacity);
    // Every node lies inside the root, whose corners are within the int32 range.
    nodes.get()[node] = Node{.x = static_cast<std::int32_t>(x),
                             .y = static_cast<std::int32_t>(y),
                             .z = static_cast<std::int32_t>(z),
                             .level = level,
                             .parent = parent};
    ++liveNodes;
    return node;
}

void PartOctree::FreeNode(std::int32_t node) {
    nodes.get()[node].parent = freeNode;
    freeNode = node;
    --liveNodes;
}

// Raises the root to level, one level at a time: each child of the old root moves under a
// new node of the old root's level, at twice the child's corner (the child lies at
// -2^(level - 1) or 0 on each axis, so that is the new node's corner), which keeps the
// child's index in both.
void PartOctree::GrowRoot(std::int32_t level) {
    // Grid bounds lie within +-2^31, so no root passes level 32 and every corner fits.
    ORBELLE_DCHECK(level >= 1 && level <= OctreeLevelLimit + 1);
    Node* all = nodes.get();
    if (all[0].level < 0) {
        const std::int64_t corner = -(std::int64_t{1} << (level - 1));
        all[0] = Node{.x = static_cast<std::int32_t>(corner),
                      .y = static_cast<std::int32_t>(corner),
                      .z = static_cast<std::int32_t>(corner),
                      .level = level};
        return;
    }
    while (all[0].level < level) {
        const std::int32_t old = all[0].level;
        for (std::size_t k = 0; k < 8; ++k) {
            const std::int32_t child = all[0].children[k];
            if (child < 0) continue;
            const std::int32_t step =
                NewNode(2 * std::int64_t{all[child].x}, 2 * std::int64_t{all[child].y},
                        2 * std::int64_t{all[child].z}, old, 0);
            all[step].children[k] = child;
            all[child].parent = step;
            all[0].children[k] = step;
        }
        const std::int64_t corner = -(std::int64_t{1} << old);
        all[0].level = old + 1;
        all[0].x = all[0].y = all[0].z = static_cast<std::int32_t>(corner);
    }
}

// The node of the given level that holds cell (of that level), walking from the root along
// the cell's bits; missing nodes are made when create is set, else the result is -1.
std::int32_t PartOctree::FindCell(const std::array<std::int64_t, 3>& cell, std::int32_t level,
                                  bool create) {
    Node* all = nodes.get();
    if (all[0].level <= level) return -1;
    std::int32_t node = 0;
    for (std::int32_t l = all[node].level; l > level; --l) {
        const std::int32_t bit = l - 1 - level;
        const std::size_t k = ChildIndex(cell[0], cell[1], cell[2], bit);
        std::int32_t child = all[node].children[k];
        if (child < 0) {
            if (!create) return -1;
            child = NewNode((cell[0] >> bit) << (l - 1), (cell[1] >> bit) << (l - 1),
                            (cell[2] >> bit) << (l - 1), l - 1, node);
            all[node].children[k] = child;
        }
        node = child;
    }
    return node;
}

void PartOctree::Enter(std::int32_t part, PartRenderRecord& record) {
    const std::optional<GridBox> box = GridBoxOfBound(record.boundQuadric);
    if (!box) {
        Remove(part, record);
        return;
    }
    const std::int32_t level = GridBoxLevel(*box);
    const CellRange cells = CellsOf(*box, level);
    if (record.octreeLevel == level && CellsOf(record.octreeBounds, level) == cells) {
        record.octreeBounds = *box;
        return;
    }

    // Room first: at most 8 nodes per level the root grows, and on the paths 8 nodes per
    // level above the part's and 27 at its level (the cells span 2 per axis one level up).
    const std::int32_t rootLevel = std::max(RootLevelFor(*box), level + 1);
    const std::int32_t growth = std::max(rootLevel - std::max(RootLevel(), 0), 0);
    Reserve(8 * growth + CellsLimit + 8 * (rootLevel - level - 1), CellsLimit);

    Remove(part, record);
    GrowRoot(rootLevel);
    ForEachCell(cells, [&](const std::array<std::int64_t, 3>& cell) {
        const std::int32_t node = FindCell(cell, level, true);
        const std::int32_t link =
            TakeEntry(links.get(), &Link::next, freeLink, linksUsed, linkCapacity);
        links.get()[link] = Link{.part = part, .next = nodes.get()[node].head};
        nodes.get()[node].head = link;
        ++liveLinks;
    });
    record.octreeLevel = level;
    record.octreeBounds = *box;
}

void PartOctree::Remove(std::int32_t part, PartRenderRecord& record) {
    if (record.octreeLevel == NotInOctree) return;
    const std::int32_t level = record.octreeLevel;
    ORBELLE_CHECK(level >= 0 && level <= OctreeLevelLimit);
    const CellRange cells = CellsOf(record.octreeBounds, level);
    record.octreeLevel = NotInOctree;
    Node* all = nodes.get();
    ForEachCell(cells, [&](const std::array<std::int64_t, 3>& cell) {
        std::int32_t node = FindCell(cell, level, false);
        if (node < 0) return;
        std::int32_t* at = &all[node].head;
        while (*at >= 0 && links.get()[*at].part != part) at = &links.get()[*at].next;
        if (*at >= 0) {
            const std::int32_t link = *at;
            *at = links.get()[link].next;
            links.get()[link].next = freeLink;
            freeLink = link;
            --liveLinks;
        }
        // Cells left with no parts and no children go, up to the root.
        const auto isBare = [&](std::int32_t n) {
            return all[n].head < 0 &&
                   std::ranges::all_of(all[n].children, [](std::int32_t c) { return c < 0; });
        };
        while (node != 0 && isBare(node)) {
            const std::int32_t parent = all[node].parent;
            std::ranges::replace(all[parent].children, node, -1);
            FreeNode(node);
            node = parent;
        }
        if (node == 0 && isBare(0)) all[0].level = -1;
    });
}

// ---- the query ----

void PartOctree::TakeParts(std::int32_t node, const GridBox& box,
                           const PartRenderRecord* const* parts, std::uint8_t* marks) {
    for (std::int32_t link = nodes.get()[node].head; link >= 0; link = links.get()[link].next) {
        const std::int32_t part = links.get()[link].part;
        if (marks[part] != 0 || !GridBoxesOverlap(parts[part]->octreeBounds, box)) continue;
        if (resultCount == resultCapacity) {
            const std::int64_t next = std::int64_t{resultCapacity} + resultCapacity / 5 + 1;
            if (next > INT32_MAX) ThrowOutOfMemory();
            GrowArray(result, static_cast<std::size_t>(resultCapacity),
                      static_cast<std::size_t>(next));
            resultCapacity = static_cast<std::int32_t>(next);
        }
        marks[part] = 1;
        result.get()[resultCount++] = part;
    }
}

std::span<const std::int32_t> PartOctree::Query(const GridBox& box,
                                                const PartRenderRecord* const* parts,
                                                std::uint8_t* marks) {
    resultCount = 0;
    const Node* all = nodes.get();
    const std::int32_t rootLevel = all[0].level;
    if (rootLevel < 0) return {};

    // The box clipped to the root's cube: nothing lies outside it.
    const std::int64_t rootLow = -(std::int64_t{1} << (rootLevel - 1));
    const std::int64_t rootHigh = std::int64_t{1} << (rootLevel - 1);
    std::array<std::int64_t, 3> lo{};
    std::array<std::int64_t, 3> hi{};
    for (std::size_t a = 0; a < 3; ++a) {
        lo[a] = std::max(std::int64_t{box[2 * a]}, rootLow);
        hi[a] = std::min(std::int64_t{box[2 * a + 1]}, rootHigh);
        if (lo[a] >= hi[a]) return {};
    }

    // The smallest cell that holds the clipped box has the level of the highest bit in which
    // its first and last points differ; descend to it, or as far as the tree goes. A cell
    // missing on the way holds nothing, but the nodes above it still hold parts that cover
    // the box, so the search starts at the last node reached.
    std::uint64_t differ = 0;
    for (std::size_t a = 0; a < 3; ++a) {
        differ |= static_cast<std::uint64_t>((hi[a] - 1) ^ lo[a]);
    }
    differ &= (std::uint64_t{1} << rootLevel) - 1;
    const auto boxLevel = static_cast<std::int32_t>(std::bit_width(differ));
    std::int32_t start = 0;
    for (std::int32_t l = rootLevel; l > boxLevel; --l) {
        const std::int32_t child = all[start].children[ChildIndex(lo[0], lo[1], lo[2], l - 1)];
        if (child < 0) break;
        start = child;
    }

    // The marks are cleared however the query ends.
    struct ClearMarks {
        const PrivateBlockPtr<std::int32_t>& listed;
        const std::int32_t& count;
        std::uint8_t* marks;
        ~ClearMarks() {
            for (std::int32_t i = 0; i < count; ++i) marks[listed.get()[i]] = 0;
        }
    };
    const auto overlaps = [&](const Node& n) {
        const std::int64_t size = std::int64_t{1} << n.level;
        return n.x < hi[0] && n.x + size > lo[0] && n.y < hi[1] && n.y + size > lo[1] &&
               n.z < hi[2] && n.z + size > lo[2];
    };
    {
        // Depth first with an explicit stack; a node's parts are taken after its children's.
        struct Frame {
            std::int32_t node;
            std::size_t nextChild;
        };
        std::array<Frame, QueryDepthLimit> stack{};
        std::size_t depth = 0;
        stack[depth++] = {start, 0};
        ClearMarks guard{result, resultCount, marks};
        while (depth > 0) {
            Frame& frame = stack[depth - 1];
            bool descended = false;
            while (frame.nextChild < 8) {
                const std::int32_t child = nodes.get()[frame.node].children[frame.nextChild++];
                if (child >= 0 && overlaps(nodes.get()[child])) {
                    ORBELLE_DCHECK(depth < QueryDepthLimit);
                    stack[depth++] = {child, 0};
                    descended = true;
                    break;
                }
            }
            if (descended) continue;
            TakeParts(frame.node, box, parts, marks);
            --depth;
        }
        for (std::int32_t a = nodes.get()[start].parent; a > 0; a = nodes.get()[a].parent) {
            TakeParts(a, box, parts, marks);
        }
    }
    return {result.get(), static_cast<std::size_t>(resultCount)};
}
