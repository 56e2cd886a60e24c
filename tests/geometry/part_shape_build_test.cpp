#include "geometry/part_shape_build.h"

#include "core/byte_order.h"
#include "geometry/aux_mapping_profile.h"
#include "geometry/feature_table.h"
#include "geometry/part_block.h"
#include "geometry/part_placement.h"
#include "geometry/texture_params_table.h"
#include "geometry/wrap_map_record.h"
#include "part_block_builder.h"
#include "shape_build_support.h"
#include "texture/object_tex.h"
#include "texture/surface_mapping_entry.h"
#include "texture/surface_tex_coords.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

namespace {

using namespace shape_build_test;

constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

std::vector<Vec3> Corners(const PartRenderRecord& part) {
    const auto corners = FeatureTableCorners(*part.features);
    return {corners.begin(), corners.end()};
}

// A small rigid motion: a turn about a slanted axis and a move.
Matrix4W Step() {
    Matrix4W step = EmbedMatrix3(Matrix3FromAxisAngle(Vec3{0.6, 0.8, 0}, 0.01), 0);
    step.m[4] = 0.02;
    step.m[8] = -0.01;
    step.m[12] = 0.03;
    return step;
}

// A part moved on every motion frame keeps its corners on the part: after 1,000 moves they
// lie where a single move by the same total placement puts them, and rebuilding without a move
// leaves them exactly where they were.
TEST(BuildPartShape, MovingAPartLeavesItsCornersOnIt) {
    const WorkingPartRecord start =
        Working(ShapeType::Box, {2, 3, 1.5}, {1, 2, 3}, {0.3, -0.2, 0.1});
    OnePart moved;
    WorkingPartRecord w = start;
    Matrix4W total = EmbedMatrix3(Matrix3SetDiagonal(1.0), 0);
    for (int i = 0; i < 1000; ++i) {
        SetPartPlacementSim(w, Step());
        ASSERT_EQ(moved.Build(w, true), 0);
        total = Matrix4Product(Step(), total);
    }

    OnePart once;
    WorkingPartRecord w1 = start;
    SetPartPlacementSim(w1, total);
    ASSERT_EQ(once.Build(w1), 0);
    const std::vector<Vec3> got = Corners(moved.Part());
    const std::vector<Vec3> want = Corners(once.Part());
    ASSERT_EQ(got.size(), 8u);
    for (std::size_t k = 0; k < got.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(got[k].x, want[k].x, 1e-9);
        EXPECT_NEAR(got[k].y, want[k].y, 1e-9);
        EXPECT_NEAR(got[k].z, want[k].z, 1e-9);
        // And the corner is still a corner of the moved box.
        const Vec3 local{k & 4 ? 1.0 : -1.0, k & 2 ? 1.5 : -1.5, k & 1 ? 0.75 : -0.75};
        const Vec3 placed = PlacedPoint(local, w.position, w.rotation);
        EXPECT_NEAR(got[k].x, placed.x, 1e-12);
        EXPECT_NEAR(got[k].y, placed.y, 1e-12);
        EXPECT_NEAR(got[k].z, placed.z, 1e-12);
    }

    for (int i = 0; i < 1000; ++i) ASSERT_EQ(moved.Build(w, true), 0);
    const std::vector<Vec3> again = Corners(moved.Part());
    EXPECT_EQ(std::memcmp(again.data(), got.data(), got.size() * sizeof(Vec3)), 0);
}

// Degenerate parameters give no shape: the part is unbuildable, left with nothing that is not
// finite, no surfaces and a bound that holds no point, and hidden.
TEST(BuildPartShape, DegenerateShapesAreUnbuildable) {
    struct Case {
        const char* name;
        ShapeType type;
        std::vector<double> params;
        Vec3 position;
    };
    const std::vector<Case> cases{
        {"sphere of radius 0", ShapeType::Sphere, {0}, {1, 2, 3}},
        {"cylinder of radius NaN", ShapeType::Cylinder, {1, Nan}, {}},
        {"box of infinite side", ShapeType::Box, {1, Inf, 1}, {}},
        {"frustum of no size", ShapeType::Frustum, {0, 0, 0}, {}},
        {"sphere zone whose slab misses the sphere", ShapeType::SphereZone, {1, 2, 3}, {}},
        {"tapered prism of length 0", ShapeType::TaperedPrism, {1, 1, 1, 0}, {}},
        {"faceted cylinder of radius 0", ShapeType::FacetedCylinder, {1, 0, 0.5, 3}, {}},
        {"spheroid without an axis", ShapeType::Spheroid, {0, 0, 0, 0, 0, 0, 1, 1}, {}},
        {"ellipsoid at NaN", ShapeType::Ellipsoid, {1, 1, 1}, {Nan, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnePart one;
        EXPECT_EQ(one.Build(Working(c.type, c.params, c.position)), PartBuildUnbuildable);
        const PartRenderRecord& part = one.Part();
        EXPECT_EQ(part.buildResult, PartBuildUnbuildable);
        EXPECT_EQ(part.surfaceCount, 0);
        EXPECT_EQ(part.visible, 0);
        EXPECT_EQ(part.boundRadius, 0.0);
        EXPECT_GT(FormAt(part.boundQuadric, {0, 0, 0}), 0.0);
        EXPECT_FALSE(FeatureTableIsFilled(*part.features));
        for (double v : part.proxy.m) EXPECT_TRUE(std::isfinite(v));
        for (double v : part.worldFromLocal.m) EXPECT_TRUE(std::isfinite(v));
        EXPECT_TRUE(std::isfinite(part.boundCentre.x));
        if (std::isfinite(c.position.x)) {
            EXPECT_EQ(part.boundCentre.z, c.position.z);
        }
    }

    // A block with such a part still loads; the loader passes the result on.
    using namespace part_block_test;
    auto block = MakeBlock({Record(ShapeType::Box, {1, 1, 1}), Record(ShapeType::Sphere, {0})});
    SceneGeometry geometry;
    EXPECT_EQ(LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                            nullptr, false),
              PartBuildUnbuildable);
    EXPECT_EQ(geometry.Part(0)->buildResult, 0);
    EXPECT_EQ(geometry.Part(1)->buildResult, PartBuildUnbuildable);
}

// A record changed after loading may need more surfaces than were reserved for it: it is
// unbuildable and writes nothing into the part after it.
TEST(BuildPartShape, APartNeedingMoreSurfacesThanItsRoomIsUnbuildable) {
    using namespace part_block_test;
    auto block = MakeBlock({Record(ShapeType::Sphere, {1}),
                            Record(ShapeType::FacetedCylinder, {2, 1, 0.5, 2}),
                            Record(ShapeType::Box, {1, 1, 1})});
    SceneGeometry geometry;
    ASSERT_EQ(LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                            nullptr, false),
              0);
    const PartRenderRecord after = *geometry.Part(2);
    const std::vector<Matrix4W> afterSurfaces(geometry.Part(2)->Surfaces().begin(),
                                              geometry.Part(2)->Surfaces().end());

    // The sphere becomes a box; the faceted cylinder gets more facets.
    std::uint8_t* sphere = block.data() + PartBlockHeaderBytes;
    std::uint8_t* faceted = sphere + PartRecordBytes(sphere);
    PartRecordSetShapeType(sphere, ShapeType::Box);
    PartRecordSetParam(faceted, 3, 4.0f);
    EXPECT_EQ(BuildPartShape(geometry, sphere, 0, false, true, false), PartBuildUnbuildable);
    EXPECT_EQ(BuildPartShape(geometry, faceted, 1, false, true, false), PartBuildUnbuildable);
    EXPECT_EQ(geometry.Part(1)->surfaceCount, 0);
    EXPECT_EQ(std::memcmp(geometry.Part(2), &after, sizeof(after)), 0);
    EXPECT_EQ(std::memcmp(geometry.Part(2)->Surfaces().data(), afterSurfaces.data(),
                          afterSurfaces.size() * sizeof(Matrix4W)),
              0);

    // Back within its room the part builds again.
    PartRecordSetParam(faceted, 3, 1.0f);
    EXPECT_EQ(BuildPartShape(geometry, faceted, 1, false, true, false), 0);
    EXPECT_EQ(geometry.Part(1)->surfaceCount, 5);
    EXPECT_EQ(geometry.Part(1)->visible, 1);
}

// The minimum size is relative to the largest of the type's listed sizes.
TEST(BuildPartShape, SizesAreRaisedToATenThousandthOfTheLargest) {
    struct Case {
        ShapeType type;
        std::vector<double> params;
        Vec3 surfacePoint;  // a point that lies on surface `surface` once the size is raised
        std::size_t surface;
    };
    const std::vector<Case> cases{
        {ShapeType::Box, {2, 0, 1}, {0, 0.0001, 0}, 3},
        {ShapeType::Cylinder, {10, 0}, {0.001, 0, 0}, 0},
        {ShapeType::Ellipsoid, {1, -3, 1}, {0, 0.0001, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        OnePart one;
        ASSERT_EQ(one.Build(Working(c.type, c.params)), 0);
        EXPECT_NEAR(FormAt(one.Part().Surfaces()[c.surface], c.surfacePoint), 0.0, 1e-12);
    }
    // A sphere has one size: 0 stays 0, and it has no shape.
    OnePart sphere;
    EXPECT_EQ(sphere.Build(Working(ShapeType::Sphere, {0})), PartBuildUnbuildable);
    // The faceted cylinder lists no sizes: its zero height stays and leaves it unbuildable.
    OnePart faceted;
    EXPECT_EQ(faceted.Build(Working(ShapeType::FacetedCylinder, {0, 1, 0.5, 2})),
              PartBuildUnbuildable);
}

// The render header: a hidden part is built in full and not shown; the option flags and the
// shading colour come from the record, or the colour from the material's colour switch.
TEST(BuildPartShape, HeaderFollowsTheRecordAndTheMaterial) {
    OnePart one;
    WorkingPartRecord w = Working(ShapeType::Sphere, {1});
    w.flagBytes = {0x80 | 0x10 | 0x04 | 0x02, 9, 0, 0};
    w.glowColour = 0x102040;
    w.glowIntensity = 0.5;
    w.fraction = 0.5;
    w.colour = 0x123456;
    one.Part().selected = 1;
    one.Part().highlighted = 1;
    ASSERT_EQ(one.Build(w, true), 0);
    PartRenderRecord& part = one.Part();
    EXPECT_EQ(part.visible, 0);
    EXPECT_EQ(part.surfaceCount, 1);
    EXPECT_EQ(part.options, (std::array<std::uint8_t, 4>{0, 1, 0, 1}));
    EXPECT_EQ(part.ownColour, 1);
    EXPECT_EQ(part.shadeRgb, (std::array<std::int32_t, 3>{32, 64, 128}));
    EXPECT_EQ(part.fraction, 32768);
    EXPECT_EQ(part.colour, 0x123456u);
    EXPECT_EQ(part.tint, 9);
    EXPECT_EQ(part.selected, 1);

    // Without its own colour the part takes the material's when its colour switch is on.
    w.flagBytes[0] = 0;
    one.geometry.defaultTexture.on = 1;
    one.geometry.defaultTexture.glc = 0x0A0B0C;
    one.geometry.defaultTexture.glv = 2.0;
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.visible, 1);
    EXPECT_EQ(part.ownColour, 1);
    EXPECT_EQ(part.shadeRgb, (std::array<std::int32_t, 3>{80, 88, 96}));
    EXPECT_EQ(part.selected, 0);
    EXPECT_EQ(part.highlighted, 0);
    one.geometry.defaultTexture.on = 0;
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.ownColour, 0);

    // The ellipsoid keeps flag 0x20 as its outer flag, unless its material clears it.
    w = Working(ShapeType::Ellipsoid, {1, 2, 3});
    w.flagBytes[0] = 0x20;
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.outerFlag, 1);
    one.geometry.defaultTexture.d = 1;
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.outerFlag, 0);
}

// Numbers that name no shape type give a sphere of radius 1.
TEST(BuildPartShape, UnknownTypesGetASphere) {
    OnePart unknown;
    ASSERT_EQ(unknown.Build(Working(ShapeType{42}, {5}, {1, 2, 3})), 0);
    EXPECT_EQ(unknown.Part().surfaceCount, 1);
    EXPECT_NEAR(FormAt(unknown.Part().Surfaces()[0], {1, 3, 3}), 0.0, 1e-15);
    EXPECT_EQ(unknown.Part().boundRadius, 1.0);
}

// One composite element's form at a part point equals the element's own form at the point's
// place in the element frame: turned back by the rotation, moved back by the position and
// shrunk by the scale.
TEST(BuildPartShape, ElementSurfacesLieInTheirOwnFrames) {
    struct Case {
        const char* name;
        bool flip;
        std::array<double, 4> f;
    };
    const std::vector<Case> cases{
        {"z plane", false, {0, 0, 1, 0}},         {"flipped y plane", true, {0, 3, 0, 0}},
        {"x plane", false, {2, 0, 0, 0}},         {"ellipsoid", false, {1, 2, 3, 4}},
        {"flipped cylinder", true, {1, 0, 1, 1}},
    };
    const double scale = 2.5;
    const Vec3 rotation{0.2, -0.7, 0.4};
    const Vec3 position{1, -2, 0.5};
    const double angle = Vec3Length(rotation);
    const Matrix3 back = Matrix3FromAxisAngle(Vec3Scale(rotation, 1.0 / angle), -angle);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Matrix4W form =
            ElementSurface(c.flip, c.f[0], c.f[1], c.f[2], c.f[3], scale, rotation, position);
        const double s = c.flip ? -1 : 1;
        for (const Vec3& p : {Vec3{0, 0, 0}, Vec3{1, 2, 3}, Vec3{-4, 0.5, 2}, Vec3{3, -3, -1}}) {
            const Vec3 e = Matrix3TransformVec3(back, Vec3Sub(Vec3Scale(p, 1 / scale), position));
            double want = 0;
            if (c.f[0] == 0 && c.f[1] == 0) {
                want = 2 * s * e.z;
            } else if (c.f[0] == 0 && c.f[2] == 0) {
                want = 2 * s * e.y;
            } else if (c.f[1] == 0 && c.f[2] == 0) {
                want = 2 * s * e.x;
            } else {
                want = s * (c.f[0] * e.x * e.x + c.f[1] * e.y * e.y + c.f[2] * e.z * e.z - c.f[3]);
            }
            EXPECT_NEAR(FormAt(form, p), want, 1e-12);
        }
        for (std::size_t i = 0; i < 4; ++i) {
            for (std::size_t j = 0; j < 4; ++j) EXPECT_EQ(form.m[4 * i + j], form.m[4 * j + i]);
        }
    }
}

std::vector<std::uint8_t> CompositeRecord(double scale) {
    using namespace part_block_test;
    // Element 0: the sphere x^2 + y^2 + z^2 <= 4 at (0, 0, 1); element 1: below z = 0.5 (as
    // scaled); element 2: the cylinder x^2 + z^2 <= 1 about y.
    RecordValues record = Record(ShapeType::Composite, {static_cast<float>(scale)});
    CompositeElement bound, plane, cylinder;
    bound.values = {1, 1, 1, 4, 0, 0, 0, 0, 0, 1};
    plane.values = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0.5f};
    cylinder.values = {1, 0, 1, 1, 0, 0, 0, 0, 0, 0};
    record.extension = CompositeExtension({bound, plane, cylinder});
    auto block = MakeBlock({record});
    return {block.begin() + PartBlockHeaderBytes, block.end()};
}

// The composite's usual form: its first element is the bound, the others its surfaces; the
// whole form makes every element a surface inside a sphere of radius 990, when the part has
// room for all of them, and is otherwise built in the usual form.
TEST(BuildPartShape, CompositeFormsStayWithinTheirRoom) {
    const std::vector<std::uint8_t> record = CompositeRecord(2);
    for (const bool whole : {false, true}) {
        for (const std::int32_t room : {2, 3}) {
            SCOPED_TRACE(::testing::Message() << whole << " " << room);
            SceneGeometry geometry;
            const std::array<std::int32_t, 2> rooms{room, 1};
            geometry.AddParts(rooms, false);
            geometry.Part(1)->Surfaces()[0].m[0] = 7.0;
            ASSERT_EQ(BuildPartShape(geometry, record.data(), 0, false, true, whole), 0);
            const PartRenderRecord& part = *geometry.Part(0);
            const bool asWhole = whole && room == 3;
            ASSERT_EQ(part.surfaceCount, asWhole ? 3 : 2);
            EXPECT_EQ(geometry.Part(1)->Surfaces()[0].m[0], 7.0);
            const std::size_t first = asWhole ? 1 : 0;
            // Below z = 1 (scaled) and within the cylinder of radius 2.
            EXPECT_LE(FormAt(part.Surfaces()[first], {0, 0, 0.9}), 0.0);
            EXPECT_GT(FormAt(part.Surfaces()[first], {0, 0, 1.1}), 0.0);
            EXPECT_LE(FormAt(part.Surfaces()[first + 1], {1.9, 5, 0}), 0.0);
            EXPECT_GT(FormAt(part.Surfaces()[first + 1], {2.1, 5, 0}), 0.0);
            EXPECT_EQ(part.shapeClass, asWhole ? 0b101 : 0b10);
            // The proxy is element 0's sphere: centre (0, 0, 2), radius 4.
            EXPECT_EQ(part.proxyKind, ProxyKind::Sphere);
            EXPECT_EQ(part.proxy.m[12], 2.0);
            EXPECT_EQ(part.proxy.m[15], 4.0);
            EXPECT_DOUBLE_EQ(part.boundRadius, asWhole ? 990.0 : 4.0);
        }
    }
    // Built from a working record without its record, the composite has no elements to read.
    OnePart one;
    EXPECT_EQ(one.Build(Working(ShapeType::Composite, {1})), PartBuildUnbuildable);
}

// A material with a texture image gives the part the mapping objects its shape needs: a
// revolution mapping (custom with flag 0x40), a surface mapping list for an ellipsoid that is
// not round, a wrap map for the box; rebuilt unchanged the part keeps its mapping object.
class TexturedPart : public ::testing::Test {
protected:
    void SetPartTexture(WorkingPartRecord& w) { w.textureRef = handle; }

    void SetUp() override {
        std::vector<std::uint32_t> pixels(16 * 16, 0xFF808080);
        ASSERT_EQ(TexPyramidSetImage(pyramid, pixels.data(), 16, 16, 16, false), 0);
        params.image = &pyramid;
        handle = RegisterTextureParams(&params, &params);
    }
    void TearDown() override { UnregisterTextureParams(handle); }

    TexPyramid pyramid;
    TextureParams params;
    std::uint32_t handle = 0;
};

TEST_F(TexturedPart, RevolutionShapesGetAMappingObjectOfTheFlaggedKind) {
    OnePart one;
    WorkingPartRecord w = Working(ShapeType::Sphere, {1});
    SetPartTexture(w);
    ASSERT_EQ(one.Build(w), 0);
    PartRenderRecord& part = one.Part();
    EXPECT_EQ(part.texParams, &params);
    ASSERT_NE(part.objectTex, nullptr);
    EXPECT_EQ(part.objectTex->type, 1);
    EXPECT_EQ(part.objectTex->numSurfs, 1);
    EXPECT_EQ(part.objectTex->material, &params);
    const ObjectTex* uni = part.objectTex;
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.objectTex, uni);

    w.flagBytes[0] = PartFlagCustomMapping;
    ASSERT_EQ(one.Build(w), 0);
    ASSERT_NE(part.objectTex, nullptr);
    EXPECT_EQ(part.objectTex->type, 0);

    // The cylinder lays three profile records: bottom cap, side, top cap.
    w = Working(ShapeType::Cylinder, {2, 1});
    SetPartTexture(w);
    ASSERT_EQ(one.Build(w), 0);
    ASSERT_NE(part.objectTex, nullptr);
    EXPECT_EQ(part.objectTex->numSurfs, 3);

    // A box has no revolution mapping, but a wrap map for the image.
    w = Working(ShapeType::Box, {2, 4, 6});
    SetPartTexture(w);
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.objectTex, nullptr);
    ASSERT_NE(part.wrapMap, nullptr);
    EXPECT_EQ(part.wrapMap->kind, WrapMapKind::Box);
    EXPECT_DOUBLE_EQ(part.wrapMap->values[0], std::numbers::pi / 8);
    EXPECT_EQ(part.wrapMap->values[4], 3.0);
    EXPECT_EQ(part.wrapMap->texParams, &params);

    // Without an image nothing is made and what was made goes.
    w = Working(ShapeType::Box, {2, 4, 6});
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.wrapMap, nullptr);
    EXPECT_EQ(part.texParams, &one.geometry.defaultTexture);
}

TEST_F(TexturedPart, EllipsoidsThatAreNotRoundGetASurfaceMappingList) {
    OnePart one;
    WorkingPartRecord w = Working(ShapeType::Ellipsoid, {1, 2, 3});
    SetPartTexture(w);
    ASSERT_EQ(one.Build(w), 0);
    PartRenderRecord& part = one.Part();
    EXPECT_EQ(part.objectTex, nullptr);
    ASSERT_NE(part.auxTex, nullptr);
    ASSERT_EQ(part.auxTex->capacity, 1);
    EXPECT_EQ(part.auxTex->firstIndex, 0);
    EXPECT_EQ(part.auxTex->count, 1);
    // The build completes the entry: the head as the builder gave it, and its tables.
    const SurfaceMappingEntry& entry = AuxMappingEntry(*part.auxTex, 0);
    EXPECT_EQ(entry.a, 1.0);
    EXPECT_EQ(entry.c, 3.0);
    EXPECT_EQ(SurfaceMappingEntryKind(entry), SurfaceMapperKind::Ellipsoid);
    EXPECT_GT(entry.byteSize, SurfaceMappingEntryFreshBytes);
    EXPECT_GT(entry.quarterMeasure, 0);

    // Round about y, it has a revolution mapping instead.
    w.params[2] = 1.0;
    ASSERT_EQ(one.Build(w), 0);
    EXPECT_EQ(part.auxTex, nullptr);
    ASSERT_NE(part.objectTex, nullptr);
}

// A point of an entry's surface in its own frame: the ellipsoid, the hyperboloid of one sheet
// about z or the elliptic cylinder along z of the entry's semi-axes, at two parameters.
Vec3 EntrySurfacePoint(const SurfaceMappingEntry& e, double u, double v) {
    switch (SurfaceMappingEntryKind(e)) {
        case SurfaceMapperKind::Ellipsoid:
            return {e.a * std::cos(v) * std::cos(u), e.b * std::cos(v) * std::sin(u),
                    e.c * std::sin(v)};
        case SurfaceMapperKind::Hyperboloid:
            return {e.a * std::cosh(v) * std::cos(u), e.b * std::cosh(v) * std::sin(u),
                    e.c * std::sinh(v)};
        default:
            return {e.a * std::cos(u), e.b * std::sin(u), v};
    }
}

// The part-space point that the entry's transform carries to x: the transform's rows are a
// rotation (or a reflection) and a move.
Vec3 PartPointOf(const SurfaceMappingEntry& e, const Vec3& x) {
    if (e.transformKind == 0) return x;
    const auto& m = e.transform.m;
    const Vec3 d{x.x - m[4], x.y - m[8], x.z - m[12]};
    return {m[5] * d.x + m[9] * d.y + m[13] * d.z, m[6] * d.x + m[10] * d.y + m[14] * d.z,
            m[7] * d.x + m[11] * d.y + m[15] * d.z};
}

// Every surface a builder maps lies where its entry says: points of the entry's surface, carried
// back into the part, are on the part's surface of that index. And every entry is complete.
TEST_F(TexturedPart, MappedSurfacesLieWhereTheirEntriesSayTheyDo) {
    struct Case {
        ShapeType type;
        std::vector<double> params;
        std::int32_t firstSurface;
        std::int32_t count;
        SurfaceMapperKind kind;  // of the last entry
    };
    const Case cases[] = {
        {ShapeType::Ellipsoid, {1, 2, 3}, 0, 1, SurfaceMapperKind::Ellipsoid},
        {ShapeType::FlaredSolid, {0.5, 1.5, 2, 0.6, 1}, 1, 2, SurfaceMapperKind::Hyperboloid},
        {ShapeType::FlaredSolid, {-1.5, 1.5, 2, 0.6, 1}, 1, 2, SurfaceMapperKind::Ellipsoid},
        {ShapeType::FlaredSolid, {-1, 1.5, 2, 0.6, 1}, 1, 2, SurfaceMapperKind::EllipticCylinder},
        {ShapeType::HoledSolid, {4, 2, 0.5, 0.4, 0.3, 3}, 4, 3, SurfaceMapperKind::Hyperboloid},
        {ShapeType::HoledSolid, {4, 2, -0.5, 0.4, 0.3, 20}, 4, 20, SurfaceMapperKind::Ellipsoid},
        {ShapeType::HoledSolid, {4, 2, 0, 0.4, 0.3, 2}, 4, 2, SurfaceMapperKind::EllipticCylinder},
        {ShapeType::PlacedSolid, {0, 0, 0, 0, 1, 0, 1, 0, 0, 1.5, 1, 2, 0.7, 0.4}, 0, 2,
         SurfaceMapperKind::Ellipsoid},
        {ShapeType::PlacedEllipsoid, {0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 1, 3}, 0, 1,
         SurfaceMapperKind::Ellipsoid},
        {ShapeType::CutEllipsoid, {2, 1.5, 0.3, -0.4, 0.3, 0.5, 1, 0.2}, 0, 2,
         SurfaceMapperKind::Ellipsoid},
        {ShapeType::CutEllipsoid, {2, 1.5, 0.3, -0.4, 0.3, 0.5, 1, -0.8}, 0, 2,
         SurfaceMapperKind::Hyperboloid},
        {ShapeType::CutEllipsoid, {2, 1.5, 0.3, -0.4, 0.3, 0.5, 1, -0.693}, 0, 2,
         SurfaceMapperKind::EllipticCylinder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.type) << " " << c.params[0] << " "
                                        << c.params.back());
        OnePart one;
        WorkingPartRecord w = Working(c.type, c.params);
        SetPartTexture(w);
        ASSERT_EQ(one.Build(w), 0);
        const PartRenderRecord& part = one.Part();
        ASSERT_NE(part.auxTex, nullptr);
        EXPECT_EQ(part.auxTex->firstIndex, c.firstSurface);
        ASSERT_EQ(part.auxTex->count, c.count);
        EXPECT_EQ(SurfaceMappingEntryKind(AuxMappingEntry(*part.auxTex, c.count - 1)), c.kind);
        for (std::int32_t i = 0; i < c.count; ++i) {
            SCOPED_TRACE(i);
            const SurfaceMappingEntry& e = AuxMappingEntry(*part.auxTex, i);
            ASSERT_GT(e.quarterMeasure, 0);
            const Matrix4W& surface = part.Surfaces()[static_cast<std::size_t>(c.firstSurface + i)];
            for (const double u : {0.3, 1.9, 4.0}) {
                for (const double v : {-0.6, 0.0, 0.9}) {
                    const Vec3 p = PartPointOf(e, EntrySurfacePoint(e, u, v));
                    // Relative to the size of the form's terms at the point.
                    double scale = 0;
                    const std::array<double, 4> x{1.0, p.x, p.y, p.z};
                    for (std::size_t r = 0; r < 4; ++r) {
                        for (std::size_t k = 0; k < 4; ++k) {
                            scale += std::fabs(surface.m[4 * r + k] * x[r] * x[k]);
                        }
                    }
                    // A nearly straight form is mapped as a cylinder, leaving out its small
                    // term along the axis (less than 0.0016 of the others).
                    const bool cylinder =
                        SurfaceMappingEntryKind(e) == SurfaceMapperKind::EllipticCylinder;
                    EXPECT_NEAR(FormAt(surface, p), 0, (cylinder ? 2e-3 : 1e-12) * scale)
                        << u << " " << v;
                }
            }
        }
    }
}

// The mapping of an ellipsoid part goes round once along its equator, through the mapper.
TEST_F(TexturedPart, AnEllipsoidPartsMappingTurnsOnce) {
    OnePart one;
    WorkingPartRecord w = Working(ShapeType::Ellipsoid, {2, 1, 1.5});
    SetPartTexture(w);
    ASSERT_EQ(one.Build(w), 0);
    const SurfaceMappingEntry& e = AuxMappingEntry(*one.Part().auxTex, 0);
    double previous = -1;
    for (int i = 0; i < 64; ++i) {
        const double phi = (i + 0.5) * 2 * std::numbers::pi / 64;
        // Polar axis x (the largest); across it y and z.
        const double angle =
            EllipsoidTexCoords({0, 1 * std::sin(phi), 1.5 * std::cos(phi)}, e, nullptr).angle;
        EXPECT_GT(angle, previous) << i;
        previous = angle;
    }
    EXPECT_LT(previous, 2 * std::numbers::pi);
    EXPECT_GT(previous, 2 * std::numbers::pi * 63 / 64);
}

// A sphere zone whose slab misses the sphere has nothing to map (and no shape).
TEST_F(TexturedPart, ASphereZoneTheSlabMissesHasNoMapping) {
    OnePart one;
    WorkingPartRecord w = Working(ShapeType::SphereZone, {1, 2, 3});
    SetPartTexture(w);
    ASSERT_EQ(one.Build(w), PartBuildUnbuildable);
    EXPECT_EQ(one.Part().objectTex, nullptr);
    // Moved down, the sphere reaches through the upper plane only: the sphere's outline, then
    // the upper cap.
    w.params[2] = 0.5;
    ASSERT_EQ(one.Build(w), 0);
    ASSERT_NE(one.Part().objectTex, nullptr);
    EXPECT_EQ(one.Part().objectTex->numSurfs, 2);
}

}  // namespace
