#pragma once

// The live record of one part: what the renderer draws, the octree and the surface table
// index, and the gizmo's collision tests read. A record is a header followed directly by its
// surface forms; the scene geometry keeps all parts' records back to back in one block, each
// with room for the surfaces the loader reserved for its shape type (at most 32), and copies
// that block for every attached view. Records are therefore plain data: the block grows by
// reallocation and views copy it bytewise. The objects a record owns (feature table, mapping
// objects, wrap map) sit behind plain pointers; the container releases them with the record
// (PartRenderRecordReleaseOwned), and a view's copy never owns them.
//
// Surface forms, the collision proxy and the bounding quadric are symmetric 4x4 forms over
// (1, x, y, z) in the w-first layout (element 0 the constant term, 1-3 and 4, 8, 12 half the
// linear terms, 5-7, 9-11, 13-15 the quadratic block). A point is inside a surface where its
// form is at most 0, and inside the part where it is inside every surface in use. A plane has
// a zero quadratic block; builders write its element 15 as 0, and only conditioning for
// rendering marks it.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/shape_type.h"

#include <array>
#include <cstdint>
#include <span>
#include <type_traits>

struct BufferArray;
struct FeatureTable;
struct TextureParams;
struct WrapMapRecord;
class ObjectTex;

// The collision proxy, read column by column from its w-first form: column 0 (elements 0, 4,
// 8, 12) point A with w = 1, column 1 (1, 5, 9, 13) point B, column 2 (2, 6, 10, 14) a
// direction C with w = 0, element 15 the radius R; every other element 0.
enum class ProxyKind : std::int32_t {
    Sphere = 0,   // radius R about A
    Capsule = 1,  // every point within R of the segment A-B
    Arc = 2,      // the circular arc from A to B leaving A along C, radius R
    Disc = 3,     // the segment A-B swept along C, inflated by R
};

// octreeLevel of a part that is not in the octree.
inline constexpr std::int32_t NotInOctree = INT32_MIN;

struct PartRenderRecord {
    // ---- Written by the shape builders ----
    std::int32_t surfaceCount = 0;  // surfaces in use, 1..surfaceRoom once built
    ProxyKind proxyKind = ProxyKind::Sphere;
    std::int32_t shapeClass = 0;   // bit i set: surface i is curved (clear: a plane)
    std::int32_t buildResult = 0;  // what the builder returned (types 20, 21, 22, 26), else 0

    // ---- Owned by the record, released with it ----
    FeatureTable* features = nullptr;  // private heap; an empty table when loaded
    ObjectTex* objectTex = nullptr;    // revolution mapping; destroyed through its destructor
    BufferArray* auxTex = nullptr;     // surface mapping list: a private-heap record whose
                                       // buffers FreeBufferArray releases
    WrapMapRecord* wrapMap = nullptr;  // private heap

    // ---- Placed by the container and the shape build ----
    TextureParams* texParams = nullptr;  // not owned: the part's material or the default one
    std::int32_t surfaceRoom = 0;        // surfaces reserved after this header (0..32)
    ShapeType shapeType{};               // the record's type; 0 until the part is built
    std::int32_t partId = 0;             // the stored id, offset by the id base
    std::int32_t octreeLevel = NotInOctree;      // the level of the part's octree cells
    std::array<std::int32_t, 6> octreeBounds{};  // grid box (1/1024 units): x min, x max,
                                                 // y min, y max, z min, z max; maxima exclusive

    // ---- Render header, from the part record ----
    std::uint32_t colour = 0;                // 0xRRGGBB
    std::uint32_t derivedColour = 0;         // carried from the record
    std::array<std::int32_t, 3> shadeRgb{};  // own colour channels x 4 x intensity
    std::uint16_t fraction = 0;              // trunc(fraction x 65536), held to 0..65535
    std::uint8_t visible = 1;                // complement of the hidden flag 0x80
    std::uint8_t selected = 0;
    std::uint8_t highlighted = 0;           // cleared with selected unless marks are kept
    std::uint8_t renderMark = 0;            // the frame render's scratch mark
    std::uint8_t outerFlag = 0;             // types 9, 28, 29: flag 0x20
    std::uint8_t ownColour = 0;             // flag 0x02, or the material's colour switch
    std::array<std::uint8_t, 4> options{};  // flags 0x01, 0x04, 0x08, 0x10
    std::uint8_t tint = 0;                  // flag byte 1 of the record

    // ---- Bounds derived from the local bounding quadric B (block Bq, column b, constant B0)
    double boundDeterminant = 0;  // det(Bq)
    double boundExcess = 0;       // b^T Bq^-1 b - B0
    double boundRadius = 0;       // sqrt(boundExcess / min(B5, B10, B15))
    Vec3 boundCentre;             // -(Bq^-1 b) of the world bounding quadric

    // ---- Placement: local-to-world M and world-to-local A = M^-1, w-first ----
    Matrix4W worldFromLocal{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    Matrix4W localFromWorld{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

    // ---- Values some builders keep for their own later use ----
    Vec3 sectionDirA;  // corner rod: the section directions at its ends
    Vec3 sectionDirB;
    double bendSine = 0;                   // corner rod: p15 as built
    double halfChord = 0;                  // corner rod: L / 2
    std::array<double, 6> seamPlanes{};    // corner rod: (c0, cy, cz) of its two seam planes
    std::array<double, 8> surfaceTerms{};  // revolved pairs: elements 5, 10, 2, 0 of surfaces 0, 1
    double cutHeight = 0;                  // bowl: the height of its cutting circle
    double halfAngleCos = 0;               // placed solid: cos and sin of its shape angle
    double halfAngleSin = 0;

    Matrix4W proxy;         // the collision proxy (ProxyKind above), world coordinates
    Matrix4W boundQuadric;  // a quadric holding the whole part, world coordinates

    // The surfaceRoom surface forms that follow the header, surface 0 first.
    std::span<Matrix4W> Surfaces();
    std::span<const Matrix4W> Surfaces() const;
};

// The record lives in a block that grows by reallocation and is copied bytewise, and its
// surfaces start right after it.
static_assert(std::is_trivially_copyable_v<PartRenderRecord>);
static_assert(std::is_trivially_destructible_v<PartRenderRecord>);
static_assert(sizeof(PartRenderRecord) % alignof(Matrix4W) == 0);

// Bytes of one record with room for surfaceRoom surfaces.
inline constexpr std::size_t PartRenderRecordBytes(std::int32_t surfaceRoom) {
    return sizeof(PartRenderRecord) + sizeof(Matrix4W) * static_cast<std::size_t>(surfaceRoom);
}

// Frees the record's feature table and wrap map, destroys its mapping object and surface
// mapping list, and clears the pointers. A record without them is left as it is.
void PartRenderRecordReleaseOwned(PartRenderRecord& record);
