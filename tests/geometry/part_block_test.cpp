#include "geometry/part_block.h"

#include "core/byte_order.h"
#include "core/private_heap.h"
#include "geometry/feature_table.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/surface_table.h"
#include "part_block_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

namespace {

using namespace part_block_test;

std::int32_t Load(SceneGeometry& geometry, std::vector<std::uint8_t>& block,
                  std::size_t appendAt = 0, bool keepIds = false) {
    return LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                         appendAt != 0 ? block.data() + appendAt : nullptr, keepIds);
}

CompositeElement Element(float f0, float f1, float f2, float f3, Vec3 position, std::uint8_t flip) {
    CompositeElement e;
    e.values = {f0,
                f1,
                f2,
                f3,
                0.25f,
                0.0f,
                -0.5f,
                static_cast<float>(position.x),
                static_cast<float>(position.y),
                static_cast<float>(position.z)};
    e.flip = flip;
    return e;
}

// A scene with every field of a record set and a part of each way of placing: by position and
// rotation, by points and vectors (the corner rod), and by an extension (the composite).
std::vector<RecordValues> MixedScene() {
    RecordValues sphere = Record(ShapeType::Sphere, {10.0f});
    sphere.position = {20, -40, 60};
    sphere.flags = 0x80 | 0x20 | 0x10 | 0x02 | 0x01;
    sphere.tint = 7;
    sphere.partId = 3;
    sphere.aux44 = 0xA1B2C3D4;
    sphere.glowColour = 0x102030;
    sphere.derivedColour = 0x405060;
    sphere.colour = 0x708090;
    sphere.aux64 = {1.5f, -2.5f};
    sphere.glowIntensity = 0.75f;
    sphere.fraction = 0.25f;

    RecordValues box = Record(ShapeType::Box, {10.0f, 30.0f, 5.0f});
    box.position = {-20, 20, 0};
    box.partId = 4;
    box.colour = 0xFF0000;
    box.fraction = 2.0f;  // held to 65535

    RecordValues faceted = Record(ShapeType::FacetedCylinder, {40, 10, 0.5f, 3});
    faceted.partId = 5;

    RecordValues composite = Record(ShapeType::Composite, {2.0f});
    composite.position = {0, 20, -20};
    composite.partId = 6;
    composite.extension =
        CompositeExtension({Element(1, 1, 1, 4, {0, 0, 0}, 0), Element(0, 0, 1, 0, {0, 0, 0.5}, 1),
                            Element(1, 0, 1, 1, {0, 0, 0}, 0)},
                           8);

    RecordValues rod = Record(ShapeType::CornerRod);
    rod.params = {0, 0, 0, 100, 0, 0, 20, 20, 0, 0, 20, 0, 0, 20, 0, 0.5f, 10, 5, 2.5f};
    rod.partId = 7;
    return {sphere, box, faceted, composite, rod};
}

// The legacy twin of a block of MixedScene: in units 20 times larger and turned half a turn
// about x, so that loading it gives the scene back.
std::vector<RecordValues> LegacyTwin(std::vector<RecordValues> records) {
    const auto point = [](float& x, float& y, float& z) {
        x /= 20;
        y /= -20;
        z /= -20;
    };
    for (RecordValues& r : records) {
        float x = static_cast<float>(r.position.x), y = static_cast<float>(r.position.y),
              z = static_cast<float>(r.position.z);
        point(x, y, z);
        r.position = {x, y, z};
        switch (r.type) {
            case ShapeType::Sphere:
            case ShapeType::Box:
                for (float& p : r.params) p /= 20;
                break;
            case ShapeType::CornerRod:
                for (std::size_t i = 0; i < 15; i += 3)
                    point(r.params[i], r.params[i + 1], r.params[i + 2]);
                for (std::size_t i = 16; i < 19; ++i) r.params[i] /= 20;
                break;
            default:
                break;
        }
        // Half a turn about x that the conversion undoes; the corner rod has no rotation.
        if (r.type != ShapeType::CornerRod) r.rotation = {std::numbers::pi, 0, 0};
    }
    return records;
}

// Elements agree within tolerance relative to their size (absolute below 1).
void ExpectNear(const Matrix4W& a, const Matrix4W& b, double tolerance) {
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_NEAR(a.m[k], b.m[k], tolerance * std::max(1.0, std::abs(a.m[k])))
            << "element " << k;
    }
}

// Two containers hold the same parts (matrices within tolerance; exactly with 0).
void ExpectSameGeometry(const SceneGeometry& a, const SceneGeometry& b, double tolerance) {
    EXPECT_EQ(a.PartCount(), b.PartCount());
    EXPECT_EQ(a.PartCapacity(), b.PartCapacity());
    EXPECT_EQ(a.SurfaceCapacity(), b.SurfaceCapacity());
    EXPECT_EQ(a.SurfaceTotal(), b.SurfaceTotal());
    EXPECT_EQ(a.idBase, b.idBase);
    for (std::int32_t i = 0; i < std::min(a.PartCount(), b.PartCount()); ++i) {
        SCOPED_TRACE(i);
        const PartRenderRecord& p = *a.Part(i);
        const PartRenderRecord& q = *b.Part(i);
        EXPECT_EQ(p.surfaceRoom, q.surfaceRoom);
        EXPECT_EQ(p.surfaceCount, q.surfaceCount);
        EXPECT_EQ(p.shapeType, q.shapeType);
        EXPECT_EQ(p.partId, q.partId);
        EXPECT_EQ(p.colour, q.colour);
        EXPECT_EQ(p.derivedColour, q.derivedColour);
        EXPECT_EQ(p.fraction, q.fraction);
        EXPECT_EQ(p.visible, q.visible);
        EXPECT_EQ(p.options, q.options);
        EXPECT_EQ(p.ownColour, q.ownColour);
        EXPECT_EQ(p.tint, q.tint);
        ExpectNear(p.worldFromLocal, q.worldFromLocal, tolerance);
        ExpectNear(p.localFromWorld, q.localFromWorld, tolerance);
        ExpectNear(p.proxy, q.proxy, tolerance);
        ExpectNear(p.boundQuadric, q.boundQuadric, tolerance);
        for (std::size_t s = 0; s < p.Surfaces().size(); ++s) {
            ExpectNear(p.Surfaces()[s], q.Surfaces()[s], tolerance);
        }
    }
}

TEST(PartBlock, EmptyBlockBytes) {
    const auto block = MakeBlock({});
    const std::array<std::uint8_t, 20> expected{3, 0, 0xFF, 0xFF, 0, 0, 0,    0, 0, 0,
                                                0, 0, 0,    0,    0, 0, 0xC0, 0, 0, 0};
    EXPECT_TRUE(std::equal(block.begin(), block.end(), expected.begin()));
}

TEST(PartBlock, EmptyBlockLoadsWithIdBaseOne) {
    SceneGeometry geometry;
    auto block = MakeBlock({});
    EXPECT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(geometry.PartCount(), 0);
    EXPECT_EQ(geometry.PartCapacity(), 0);
    EXPECT_EQ(geometry.SurfaceCapacity(), 0);
    EXPECT_EQ(geometry.idBase, 1);
}

// A block, the same block written in the other byte order, and the same scene written in
// legacy units and axes load to the same geometry; the foreign block becomes byte for byte the
// native one, every 32-bit field of its records swapped.
TEST(PartBlock, NativeForeignAndLegacyTwinsLoadAlike) {
    const std::vector<RecordValues> scene = MixedScene();
    auto native = MakeBlock(scene, 9);
    auto foreign = ForeignTwin(native);
    auto legacy = MakeBlock(LegacyTwin(scene), 9, 0);
    auto legacyForeign = ForeignTwin(legacy);
    ASSERT_NE(foreign, native);

    SceneGeometry fromNative, fromForeign, fromLegacy, fromLegacyForeign;
    ASSERT_EQ(Load(fromNative, native), 0);
    ASSERT_EQ(Load(fromForeign, foreign), 0);
    ASSERT_EQ(Load(fromLegacy, legacy), 0);
    ASSERT_EQ(Load(fromLegacyForeign, legacyForeign), 0);

    EXPECT_EQ(foreign, native);
    EXPECT_EQ(legacyForeign, legacy);
    EXPECT_EQ(legacy[PartBlockFlagsOffset], 0xC0);
    {
        SCOPED_TRACE("foreign");
        ExpectSameGeometry(fromNative, fromForeign, 0.0);
    }
    {
        SCOPED_TRACE("legacy");
        ExpectSameGeometry(fromNative, fromLegacy, 1e-5);
        ExpectSameGeometry(fromLegacy, fromLegacyForeign, 0.0);
    }

    // The native parts as written: ids offset by the old id base (0), the fields carried.
    ASSERT_EQ(fromNative.PartCount(), 5);
    const PartRenderRecord& sphere = *fromNative.Part(0);
    EXPECT_EQ(sphere.shapeType, ShapeType::Sphere);
    EXPECT_EQ(sphere.partId, 3);
    EXPECT_EQ(sphere.colour, 0x708090u);
    EXPECT_EQ(sphere.derivedColour, 0x405060u);
    EXPECT_EQ(sphere.tint, 7);
    EXPECT_EQ(sphere.fraction, 16384);
    EXPECT_EQ(sphere.visible, 0);
    EXPECT_EQ(sphere.ownColour, 1);
    EXPECT_EQ(sphere.options, (std::array<std::uint8_t, 4>{1, 0, 0, 1}));
    EXPECT_EQ(sphere.texParams, &fromNative.defaultTexture);
    EXPECT_EQ(sphere.localFromWorld.m[4], -20.0);
    EXPECT_EQ(sphere.localFromWorld.m[8], 40.0);
    EXPECT_EQ(sphere.worldFromLocal.m[12], 60.0);
    EXPECT_EQ(fromNative.Part(1)->fraction, 65535);
    EXPECT_EQ(fromNative.Part(3)->surfaceRoom, 2);  // three elements
    // Of these shapes only the box and the corner rod have corners and edges.
    for (std::int32_t i = 0; i < 5; ++i) {
        const FeatureTable* features = fromNative.Part(i)->features;
        ASSERT_NE(features, nullptr);
        EXPECT_EQ(FeatureTableIsFilled(*features), i == 1 || i == 4);
    }

    // The legacy block now holds the scene in scene units and axes, once: a second load
    // converts nothing.
    const std::uint8_t* twin = legacy.data() + PartBlockHeaderBytes;
    EXPECT_EQ(PartRecordPosition(twin).y, -40.0);
    EXPECT_EQ(PartRecordParam(twin, 0), 10.0f);
    ASSERT_EQ(Load(fromLegacy, legacy), 0);
    EXPECT_EQ(PartRecordPosition(twin).y, -40.0);
    EXPECT_EQ(fromLegacy.idBase, 9);
}

// Any marker but 0xFFFF means the other byte order; once converted the block reads native,
// so a second load converts nothing (a complemented marker 0x4900 would read foreign again).
TEST(PartBlock, EveryForeignMarkerIsConvertedOnce) {
    RecordValues composite = Record(ShapeType::Composite, {1.0f});
    composite.extension = CompositeExtension(
        {Element(1, 1, 1, 4, {0, 1, 2}, 1), Element(0, 0, 1, 0, {0, 0, 0.5}, 0)});
    const auto native = MakeBlock({Record(ShapeType::Box, {1, 2, 3}, 4), composite}, 2);
    const std::size_t extension = PartBlockHeaderBytes + 92 + 84;
    for (std::uint16_t marker : {0x0000, 0x4900, 0xFFFE, 0x00FF}) {
        SCOPED_TRACE(marker);
        auto block = ForeignTwin(native);
        StoreU16LE(block.data() + PartBlockMarkerOffset, marker);
        StoreU16LE(block.data() + extension + 2, marker);
        SceneGeometry geometry;
        ASSERT_EQ(Load(geometry, block, 0, true), 0);
        EXPECT_EQ(block, native);
        ASSERT_EQ(Load(geometry, block, 0, true), 0);
        EXPECT_EQ(block, native);
        EXPECT_EQ(geometry.Part(0)->partId, 4);
    }
}

TEST(PartBlock, CompositeExtensionsCarryTheirOwnByteOrder) {
    RecordValues composite = Record(ShapeType::Composite, {1.0f});
    composite.extension = CompositeExtension(
        {Element(1, 1, 1, 4, {0, 1, 2}, 1), Element(0, 0, 1, 0, {0, 0, 0.5}, 0)});
    auto native = MakeBlock({composite});
    // A native block whose extension was written on the other machine.
    auto mixed = native;
    auto swapped = ForeignTwin(native);
    const std::size_t extension = PartBlockHeaderBytes + 84;
    std::copy(swapped.begin() + extension, swapped.end(), mixed.begin() + extension);
    ASSERT_NE(mixed, native);
    SceneGeometry geometry;
    ASSERT_EQ(Load(geometry, mixed), 0);
    EXPECT_EQ(mixed, native);
    EXPECT_EQ(mixed[extension + 20 + 41], 0x5A);
}

TEST(PartBlock, CapacitiesAndIdBase) {
    SceneGeometry geometry;
    RecordValues sphere = Record(ShapeType::Sphere, {1.0f}, 2);
    RecordValues box = Record(ShapeType::Box, {1, 1, 1});
    RecordValues cylinder = Record(ShapeType::Cylinder, {1, 1});
    auto block = MakeBlock({sphere, box, cylinder}, 7);

    // A full load sizes the arrays exactly.
    ASSERT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(geometry.PartCapacity(), 3);
    EXPECT_EQ(geometry.SurfaceCapacity(), 10);
    EXPECT_EQ(geometry.SurfaceTotal(), 10);
    EXPECT_EQ(geometry.idBase, 7);
    EXPECT_EQ(geometry.Part(0)->partId, 2);

    // An append grows them by the fixed steps and offsets the new ids by the id base in force;
    // the id base grows by the span again.
    std::size_t appendAt = block.size();
    AppendRecord(block, sphere);
    ASSERT_EQ(Load(geometry, block, appendAt), 0);
    EXPECT_EQ(geometry.PartCount(), 4);
    EXPECT_EQ(geometry.PartCapacity(), 4 + 100);
    EXPECT_EQ(geometry.SurfaceCapacity(), 11 + 400);
    EXPECT_EQ(geometry.Part(3)->partId, 2 + 7);
    EXPECT_EQ(geometry.idBase, 14);
    EXPECT_EQ(geometry.Part(0)->partId, 2);

    // Within the room nothing moves.
    const PartRenderRecord* first = geometry.Part(0);
    appendAt = block.size();
    AppendRecord(block, box);
    ASSERT_EQ(Load(geometry, block, appendAt, true), 0);
    EXPECT_EQ(geometry.Part(0), first);
    EXPECT_EQ(geometry.PartCapacity(), 104);
    EXPECT_EQ(geometry.SurfaceCapacity(), 411);
    EXPECT_EQ(geometry.SurfaceTotal(), 17);
    EXPECT_EQ(geometry.Part(4)->partId, 0);  // ids kept
    EXPECT_EQ(geometry.idBase, 14);

    // A full load of the grown block is exact again; its ids were offset once already.
    ASSERT_EQ(Load(geometry, block, 0, true), 0);
    EXPECT_EQ(geometry.PartCapacity(), 5);
    EXPECT_EQ(geometry.SurfaceCapacity(), 17);
    EXPECT_EQ(geometry.Part(3)->partId, 9);
}

// A block that is refused leaves the block and the container exactly as they were, whatever
// was checked before the fault: nothing is converted before the whole block is checked.
TEST(PartBlock, RejectedBlocksChangeNothing) {
    const std::vector<RecordValues> scene = MixedScene();
    const auto good = MakeBlock(scene, 3, 0);  // legacy, so a conversion would show
    const std::size_t last = good.size() - (80 + 19 * 4);
    std::vector<std::uint8_t> cut(good.begin(), good.end() - 1);

    auto wrongVersion = good;
    StoreU16LE(wrongVersion.data(), 2);
    auto extensionPastEnd = good;
    StoreU32LE(extensionPastEnd.data() + last + PartRecordExtensionBytesOffset, 0xFFFFFFF0u);
    auto negativeParams = good;
    StoreI32LE(negativeParams.data() + last + PartRecordParamCountOffset, -1);
    auto twentyParams = good;
    StoreI32LE(twentyParams.data() + last + PartRecordParamCountOffset, 20);
    twentyParams.resize(twentyParams.size() + 4);
    auto oneRecordTooMany = good;
    StoreU32LE(oneRecordTooMany.data() + PartBlockPartCountOffset, 6);
    auto hugeCount = good;
    StoreU32LE(hugeCount.data() + PartBlockPartCountOffset, 0xFFFFFFFFu);
    const auto lastShort = MakeBlock({Record(ShapeType::Sphere)}, 0, 0);  // 80 bytes only

    const auto composite = [&](std::vector<CompositeElement> elements, std::uint32_t extra,
                               auto edit) {
        std::vector<RecordValues> records = scene;
        records.push_back(Record(ShapeType::Composite, {1.0f}));
        records.back().extension = CompositeExtension(elements, extra);
        edit(records.back().extension);
        return MakeBlock(records, 3, 0);
    };
    const std::vector<CompositeElement> two(2), thirtyFour(34), thirtyThree(33);
    const auto none = [](std::vector<std::uint8_t>&) {};
    const auto noExtension = composite({}, 0, [](std::vector<std::uint8_t>& e) { e.clear(); });
    const auto wrongKind =
        composite(two, 0, [](std::vector<std::uint8_t>& e) { StoreU16LE(e.data(), 2); });
    const auto oneElement = composite(std::vector<CompositeElement>(1), 44, none);
    const auto tooManyElements = composite(thirtyFour, 0, none);
    const auto elementsPastExtension =
        composite(thirtyThree, 0, [](std::vector<std::uint8_t>& e) { e.pop_back(); });
    const auto countPastExtension =
        composite(two, 0, [](std::vector<std::uint8_t>& e) { StoreU32LE(e.data() + 8, 3); });

    struct Case {
        const char* name;
        std::vector<std::uint8_t> block;
    };
    std::vector<Case> cases{{"too short", {3, 0, 0xFF}},
                            {"record cut short", cut},
                            {"wrong version", wrongVersion},
                            {"extension past the end", extensionPastEnd},
                            {"negative parameter count", negativeParams},
                            {"twenty parameters", twentyParams},
                            {"one record too many", oneRecordTooMany},
                            {"part count past the end", hugeCount},
                            {"last record under 84 bytes", lastShort},
                            {"composite without extension", noExtension},
                            {"composite of another kind", wrongKind},
                            {"composite of one element", oneElement},
                            {"composite of 34 elements", tooManyElements},
                            {"composite elements past the extension", elementsPastExtension},
                            {"composite count past the extension", countPastExtension}};
    const std::size_t n = cases.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (cases[k].block.size() >= PartBlockHeaderBytes) {
            cases.push_back({cases[k].name, ForeignTwin(cases[k].block)});
        }
    }

    auto kept =
        MakeBlock({Record(ShapeType::Box, {1, 2, 3}, 1), Record(ShapeType::Sphere, {4}, 2)}, 5);
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(cases[k].name);
        SCOPED_TRACE(k < n ? "native" : "foreign");
        SceneGeometry geometry;
        ASSERT_EQ(Load(geometry, kept), 0);
        const PartRenderRecord* first = geometry.Part(0);
        const std::vector<std::uint8_t> before = cases[k].block;
        EXPECT_EQ(Load(geometry, cases[k].block), PartBlockRejected);
        EXPECT_EQ(cases[k].block, before);
        EXPECT_EQ(geometry.PartCount(), 2);
        EXPECT_EQ(geometry.PartCapacity(), 2);
        EXPECT_EQ(geometry.SurfaceTotal(), 7);
        EXPECT_EQ(geometry.idBase, 5);
        EXPECT_EQ(geometry.Part(0), first);
        EXPECT_EQ(geometry.Part(1)->partId, 2);
    }
}

// The surfaces reserved for the faceted cylinder, the holed solid and the composite come
// from parameters or the extension, held to what a part can have (32 surfaces).
TEST(PartBlock, ReservedSurfacesAreHeldToThePartLimit) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        ShapeType type;
        std::vector<float> params;
        std::uint32_t elements;
        std::int32_t surfaces;
    };
    const std::vector<Case> cases{
        {ShapeType::FacetedCylinder, {1, 1, 0.5f, 2.5f}, 0, 9},
        {ShapeType::FacetedCylinder, {1, 1, 0.5f, 2.49f}, 0, 7},
        {ShapeType::FacetedCylinder, {1, 1, 0.5f, -2.5f}, 0, 3},
        {ShapeType::FacetedCylinder, {1, 1, 0.5f, 14.4f}, 0, 31},
        {ShapeType::FacetedCylinder, {1, 1, 0.5f, 14.5f}, 0, 31},
        {ShapeType::FacetedCylinder, {1, 1, 0.5f, 3e9f}, 0, 31},
        {ShapeType::FacetedCylinder, {1, 1, 0.5f, nan}, 0, 3},
        {ShapeType::FacetedCylinder, {1, 1, 0.5f}, 0, 3},
        {ShapeType::HoledSolid, {1, 1, 0, 1, 1, 28}, 0, 32},
        {ShapeType::HoledSolid, {1, 1, 0, 1, 1, 1e6f}, 0, 32},
        {ShapeType::HoledSolid, {1, 1, 0, 1, 1, -3}, 0, 4},
        {ShapeType::HoledSolid, {1, 1, 0, 1, 1, 2.5f}, 0, 7},
        {ShapeType::HoledSolid, {1, 1, 0, 1, 1}, 0, 4},
        {ShapeType::Composite, {1}, 2, 1},
        {ShapeType::Composite, {1}, 33, 32},
        {ShapeType{0}, {1}, 0, 1},
        {ShapeType{-7}, {}, 0, 1},
        {ShapeType::RoundedOctagon, {1, 1}, 0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << static_cast<int>(c.type) << " "
                                          << (c.params.empty() ? 0 : c.params.back()));
        RecordValues record = Record(c.type, c.params);
        if (c.type == ShapeType::Composite) {
            record.extension = CompositeExtension(std::vector<CompositeElement>(c.elements));
        }
        if (record.params.empty()) record.extension.resize(4);  // a record needs 84 bytes
        auto block = MakeBlock({record, record});
        SceneGeometry geometry;
        // Some of these shapes are degenerate (a composite of zero elements): they load
        // unbuildable.
        ASSERT_NE(Load(geometry, block), PartBlockRejected);
        EXPECT_EQ(geometry.Part(1)->surfaceRoom, c.surfaces);
        EXPECT_EQ(geometry.Part(1)->Surfaces().size(), static_cast<std::size_t>(c.surfaces));
        EXPECT_EQ(geometry.SurfaceTotal(), 2 * c.surfaces);
        geometry.RemoveLastPart();
        EXPECT_EQ(geometry.SurfaceTotal(), c.surfaces);
    }
}

TEST(PartBlock, AppendBuildsOnlyTheNewParts) {
    SceneGeometry geometry;
    std::vector<RecordValues> five;
    for (std::int32_t i = 0; i < 5; ++i) {
        five.push_back(Record(ShapeType::Box, {1, 1, 1}, i));
    }
    auto block = MakeBlock(five, 10);
    ASSERT_EQ(Load(geometry, block), 0);
    geometry.Part(0)->colour = 0xABCDEF;
    geometry.Part(4)->tint = 9;

    // The sixth part needs the arrays to grow: the earlier records move with what they hold.
    const std::size_t sixth = block.size();
    RecordValues sphere = Record(ShapeType::Sphere, {2.0f}, 1);
    sphere.colour = 0x123456;
    AppendRecord(block, sphere);
    ASSERT_EQ(Load(geometry, block, sixth), 0);
    EXPECT_EQ(geometry.PartCount(), 6);
    EXPECT_EQ(geometry.Part(0)->colour, 0xABCDEFu);
    EXPECT_EQ(geometry.Part(4)->tint, 9);
    EXPECT_EQ(geometry.Part(5)->shapeType, ShapeType::Sphere);
    EXPECT_EQ(geometry.Part(5)->colour, 0x123456u);
    EXPECT_EQ(geometry.Part(5)->partId, 11);
    EXPECT_EQ(LoadI32LE(block.data() + sixth + PartRecordPartIdOffset), 11);
    EXPECT_EQ(LoadI32LE(block.data() + PartBlockHeaderBytes + PartRecordPartIdOffset), 0);

    // appendFrom on an empty container loads the whole block.
    SceneGeometry empty;
    ASSERT_EQ(Load(empty, block, sixth, true), 0);
    EXPECT_EQ(empty.PartCount(), 6);
    EXPECT_EQ(empty.PartCapacity(), 6);
}

// An exhausted heap while the parts are placed throws and leaves the block and the container
// as they were; with enough room the same load succeeds.
TEST(PartBlock, OutOfMemoryChangesNothing) {
    auto kept = MakeBlock({Record(ShapeType::Box, {1, 2, 3}, 1)}, 5);
    const auto scene = ForeignTwin(MakeBlock(MixedScene(), 3, 0));
    bool loaded = false;
    // Fine steps where the parts are sized and placed, coarser ones through the surface
    // table's grids.
    for (std::size_t room = 0; !loaded; room += room < 65536 ? 1024 : room / 4) {
        SCOPED_TRACE(room);
        SceneGeometry geometry;
        ASSERT_EQ(Load(geometry, kept), 0);
        auto block = scene;
        const std::size_t bytes = PrivateHeapBytesInUse();
        const std::size_t blocks = PrivateHeapBlockCount();
        PrivateHeapSetCeiling(bytes + room);
        try {
            EXPECT_EQ(Load(geometry, block), 0);
            loaded = true;
        } catch (const KVOutOfMemoryException&) {
            PrivateHeapSetCeiling(0);
            if (geometry.PartCount() == 1) {
                // Refused while the parts were being sized or placed: nothing changed.
                EXPECT_EQ(block, scene);
                EXPECT_EQ(geometry.Part(0)->shapeType, ShapeType::Box);
                EXPECT_EQ(geometry.idBase, 5);
                EXPECT_EQ(PrivateHeapBytesInUse(), bytes);
                EXPECT_EQ(PrivateHeapBlockCount(), blocks);
            } else {
                // Refused by the surface table after every part was built: the block is
                // loaded whole and converted once, and a later update completes the table.
                EXPECT_EQ(geometry.PartCount(), 5);
                EXPECT_NE(block, scene);
                EXPECT_NO_THROW(UpdateSurfaceTable(geometry, true, {}, 0));
            }
        }
        PrivateHeapSetCeiling(0);
        ASSERT_LT(room, 1u << 26);
    }
}

TEST(PartBlock, WellFormedBlocks) {
    auto block = MakeBlock({});
    EXPECT_TRUE(PartBlockIsWellFormed(block.data(), block.size()));
    AppendRecord(block, Record(ShapeType::Sphere, {1.0f}));
    EXPECT_TRUE(PartBlockIsWellFormed(block.data(), block.size()));
    StoreU32LE(block.data() + PartBlockRecordBytesOffset, 0);
    EXPECT_FALSE(PartBlockIsWellFormed(block.data(), block.size()));  // length says 0
    StoreU32LE(block.data() + PartBlockRecordBytesOffset, 84);
    EXPECT_FALSE(PartBlockIsWellFormed(block.data(), block.size() - 1));
    EXPECT_FALSE(PartBlockIsWellFormed(nullptr, 20));

    // The loader's limits hold here too, so a document never lists parts the loader refuses.
    const auto twenty = MakeBlock({Record(ShapeType::Box, std::vector<float>(20, 1.0f))});
    EXPECT_FALSE(PartBlockIsWellFormed(twenty.data(), twenty.size()));
    RecordValues composite = Record(ShapeType::Composite, {1.0f});
    composite.extension = CompositeExtension(std::vector<CompositeElement>(1), 44);
    const auto oneElement = MakeBlock({composite});
    EXPECT_FALSE(PartBlockIsWellFormed(oneElement.data(), oneElement.size()));
    composite.extension = CompositeExtension(std::vector<CompositeElement>(2));
    const auto twoElements = MakeBlock({composite});
    EXPECT_TRUE(PartBlockIsWellFormed(twoElements.data(), twoElements.size()));
}

}  // namespace
