#include "render/surface_texture.h"

#include "core/private_heap.h"
#include "geometry/aux_mapping_profile.h"
#include "geometry/shape_builder_support.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"
#include "render/span_shade.h"
#include "texture/object_tex.h"
#include "texture/surface_mapping_entry.h"
#include "texture/surface_tex_coords.h"
#include "texture/tex_maps.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <span>
#include <utility>
#include <vector>

namespace {

constexpr double Focal = 60.0;

Matrix4W Identity() {
    Matrix4W m;
    m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0;
    return m;
}

// A renderer whose current level has the test's focal length.
struct Lookup {
    QRender render;
    PartTexture part;

    explicit Lookup(TexPyramid& pyramid, std::uint32_t baseColour = 0) {
        render.focalScale = Focal / 1000.0;
        render.BuildLevelTable();
        part.pyramid = &pyramid;
        part.partFromView = Identity();
        part.baseColour = baseColour;
    }

    // The colour at texel offset (s, t) from the image centre on a plane facing the eye at
    // depth z: one pixel there covers (z / focal)^2 texels squared.
    std::array<std::int32_t, 3> At(double s, double t, double z = 2.0 * Focal) {
        std::array<std::int32_t, 3> out{-1, -1, -1};
        ShadeSurfacePoint(render, part, out, *part.pyramid, 0, false, false, Vec3{s, t, z},
                          Vec3{0.0, 0.0, -1.0});
        return out;
    }

    // The colour at the part-space point hit of surface 0, moved depth before the eye and its
    // surface turned towards it.
    std::array<std::int32_t, 3> Facing(const Vec3& hit, double depth) {
        part.partFromView.m[4] = hit.x;
        part.partFromView.m[8] = hit.y;
        part.partFromView.m[12] = hit.z - depth;
        std::array<std::int32_t, 3> out{};
        ShadeSurfacePoint(render, part, out, *part.pyramid, 0, false, false, Vec3{0.0, 0.0, depth},
                          Vec3{0.0, 0.0, -1.0});
        return out;
    }
};

std::vector<std::uint32_t> Filled(std::int32_t w, std::int32_t h, std::uint32_t argb) {
    return std::vector<std::uint32_t>(static_cast<std::size_t>(w * h), argb);
}

TEST(SurfaceTexture, LevelFollowsTheFootprintTable) {
    struct Case {
        double footprint;
        bool isMagnified;
        std::int32_t index;
    };
    const Case cases[] = {
        {0.0, true, 0},
        {0.25, true, 0},
        {0.2501, true, 1},
        {0.5, true, 1},
        {1.0, true, 2},
        {1.32, true, 3},
        {1.75, true, 4},
        {2.3, true, 5},
        {3.0, true, 6},
        {3.01, false, 0},
        {6.0, false, 0},
        {6.01, false, 1},
        {11.99, false, 1},
        {12.0, false, 2},
        {20.0, false, 3},
        {32.0, false, 4},
        {127.9, false, 6},
        {128.0, false, 7},
        {1279.0, false, 11},
        {1280.0, false, 12},
        {2048.0, false, 12},
        {1e30, false, 12},
        {std::numeric_limits<double>::quiet_NaN(), false, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.footprint);
        const TextureLevelChoice choice = SurfaceTextureLevel(c.footprint);
        EXPECT_EQ(choice.isMagnified, c.isMagnified);
        EXPECT_EQ(choice.index, c.index);
    }
}

TEST(SurfaceTexture, DistanceBuildsTheLevelItsFootprintSelects) {
    // On a plane facing the eye the footprint is (depth / focal)^2.
    struct Case {
        double footprint;
        bool isMagnified;
        std::int32_t index;
    };
    const Case cases[] = {{0.16, true, 0}, {0.81, true, 2},  {2.0, true, 5},    {4.0, false, 0},
                          {9.0, false, 1}, {25.0, false, 3}, {100.0, false, 6}, {1e4, false, 12}};
    const auto image = Filled(16, 16, 0xFF336699);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.footprint);
        TexPyramid pyramid;
        ASSERT_EQ(TexPyramidSetImage(pyramid, image.data(), 16, 16, 16, false), 0);
        Lookup lookup(pyramid);
        const auto colour = lookup.At(0.3, -0.2, std::sqrt(c.footprint) * Focal);
        for (std::int32_t m = 0; m < TexPyramidMagnifiedCount; ++m) {
            EXPECT_EQ(pyramid.colourMagnified[static_cast<std::size_t>(m)] != nullptr,
                      c.isMagnified && m == c.index)
                << m;
        }
        for (std::int32_t k = 1; k < TexPyramidLevelCount; ++k) {
            EXPECT_EQ(pyramid.colourLevels[static_cast<std::size_t>(k)] != nullptr,
                      !c.isMagnified && k <= c.index)
                << k;
        }
        // A flat image reads the same at every level: 0x33, 0x66, 0x99 kept to 7 bits.
        EXPECT_NEAR(colour[0], (0x33 >> 1) * 256, 256);
        EXPECT_NEAR(colour[1], (0x66 >> 1) * 256, 256);
        EXPECT_NEAR(colour[2], (0x99 >> 1) * 256, 256);
    }
}

TEST(SurfaceTexture, ALevelThatCannotBeBuiltFallsBackToTheImageItself) {
    // Column 0 white, the rest black: level 0 keeps the column sharp, the blurred levels and
    // the magnifications spread it, so a sample tells which level it read.
    std::vector<std::uint32_t> image(16 * 16, 0xFF000000);
    for (int j = 0; j < 16; ++j) image[static_cast<std::size_t>(j * 16)] = 0xFFFFFFFF;
    for (const double footprint : {0.16, 100.0}) {
        SCOPED_TRACE(footprint);
        TexPyramid pyramid;
        ASSERT_EQ(TexPyramidSetImage(pyramid, image.data(), 16, 16, 16, false), 0);
        Lookup reference(pyramid);
        const auto atLevel0 = reference.At(-7.5, 0.0, 2.0 * Focal);
        Lookup lookup(pyramid);
        const std::size_t blocks = PrivateHeapBlockCount();
        PrivateHeapRefuseNext(1000);
        const auto colour = lookup.At(-7.5, 0.0, std::sqrt(footprint) * Focal);
        PrivateHeapRefuseNext(0);
        EXPECT_EQ(colour, atLevel0);
        EXPECT_EQ(PrivateHeapBlockCount(), blocks);
        for (const auto* level : pyramid.colourMagnified) EXPECT_EQ(level, nullptr);
        for (std::size_t k = 1; k < pyramid.colourLevels.size(); ++k) {
            EXPECT_EQ(pyramid.colourLevels[k], nullptr) << k;
        }
        // Once the heap gives, the level is built and read.
        EXPECT_NE(lookup.At(-7.5, 0.0, std::sqrt(footprint) * Focal), atLevel0);
    }
}

TEST(SurfaceTexture, WhiteTexelsAndAWhiteBaseGiveTheirOwnScales) {
    const auto white = Filled(8, 8, 0xFFFFFFFF);
    TexPyramid tiling;
    ASSERT_EQ(TexPyramidSetImage(tiling, white.data(), 8, 8, 8, false), 0);
    EXPECT_EQ(Lookup(tiling, 0xFFFFFF).At(1.3, 2.7),
              (std::array<std::int32_t, 3>{32512, 32512, 32512}));

    TexPyramid decal;
    ASSERT_EQ(TexPyramidSetImage(decal, white.data(), 8, 8, 8, true), 0);
    Lookup lookup(decal, 0xFFFFFF);
    EXPECT_EQ(lookup.At(0.0, 0.0), (std::array<std::int32_t, 3>{32512, 32512, 32512}));
    EXPECT_EQ(lookup.At(40.0, 0.0), (std::array<std::int32_t, 3>{32640, 32640, 32640}));
}

TEST(SurfaceTexture, DecalShowsTheBaseColourWhereItDoesNotCover) {
    const std::array<std::int32_t, 3> base{0, 32640, 0};
    const auto red = Filled(8, 8, 0xFFFF0000);
    TexPyramid decal;
    ASSERT_EQ(TexPyramidSetImage(decal, red.data(), 8, 8, 8, true), 0);
    Lookup lookup(decal, 0x00FF00);
    // Level 0 of a bordered 8 x 8 image is 14 x 14 with the image in columns 3..10; a sample's
    // left column runs from the centre 6.5 plus s, and must stay below column 13.
    struct Case {
        double s, t;
        std::array<std::int32_t, 3> colour;
    };
    const Case cases[] = {
        {0.0, 0.0, {32512, 0, 0}},  // inside, opaque: the texel alone
        {40.0, 0.0, base},          // far outside
        {-7.0, 3.0, base},          // left of the level
        {6.6, 0.0, base},           // left column 13, the last: no sample
        {0.0, 6.6, base},           // upper row 13
        {-1e12, 1e12, base},        // beyond any fixed-point position
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s << ", " << c.t);
        EXPECT_EQ(lookup.At(c.s, c.t), c.colour);
    }

    // Half-transparent texels keep their colour and let half the base colour through.
    const auto halfRed = Filled(8, 8, 0x7FFF0000);
    TexPyramid half;
    ASSERT_EQ(TexPyramidSetImage(half, halfRed.data(), 8, 8, 8, true), 0);
    EXPECT_EQ(Lookup(half, 0x00FF00).At(0.0, 0.0), (std::array<std::int32_t, 3>{32512, 16320, 0}));
}

TEST(SurfaceTexture, TilingImageRepeatsAndWrapsItsLastColumnAndRow) {
    // Column 7 and row 7 white, the rest black.
    std::vector<std::uint32_t> image(64, 0xFF000000);
    for (int i = 0; i < 8; ++i) image[static_cast<std::size_t>(i * 8 + 7)] = 0xFFFFFFFF;
    for (int i = 0; i < 8; ++i) image[static_cast<std::size_t>(7 * 8 + i)] = 0xFFFFFFFF;
    TexPyramid pyramid;
    ASSERT_EQ(TexPyramidSetImage(pyramid, image.data(), 8, 8, 8, false), 0);
    Lookup lookup(pyramid);
    // Level 0 (the footprint at this depth) is 8 x 8 with its centre at 3.5, so s = 4 lies
    // halfway between its last column and its first, and t = 4 between its last row and first.
    const std::uint32_t* level = pyramid.colourLevels[0];
    ASSERT_NE(level, nullptr);
    const auto red = [&](std::int32_t x, std::int32_t y) {
        return static_cast<std::int32_t>((level[y * 8 + x] >> 16) & 0xFF);
    };
    const auto green = [&](std::int32_t x, std::int32_t y) {
        return static_cast<std::int32_t>((level[y * 8 + x] >> 8) & 0xFF);
    };
    // Halfway both ways: each column's pair rounded (+0x80), then the columns averaged.
    const auto half = [](std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        return ((((a + b) * 128 + 0x80) >> 8) * 128 + (((c + d) * 128 + 0x80) >> 8) * 128) - 0x4000;
    };
    EXPECT_EQ(lookup.At(4.0, -2.0)[0], half(red(7, 1), red(7, 2), red(0, 1), red(0, 2)));
    // Green is blended without the rounding.
    const std::int32_t g =
        ((green(7, 6) + green(0, 6)) * 128 + (green(7, 7) + green(0, 7)) * 128) * 128;
    EXPECT_EQ(lookup.At(4.0, 3.0)[1], (g >> 8) - 0x4000);
    EXPECT_EQ(lookup.At(-2.0, 4.0)[0], half(red(1, 7), red(1, 0), red(2, 7), red(2, 0)));
    EXPECT_GT(lookup.At(4.0, -2.0)[0], lookup.At(0.0, -2.0)[0]);
    // Fixed-point positions truncate towards zero, so repeats are compared on one side.
    for (const double shift : {8.0, 16.0, 800.0}) {
        SCOPED_TRACE(shift);
        EXPECT_EQ(lookup.At(4.0 + shift, -2.0 - shift), lookup.At(4.0, -2.0));
        EXPECT_EQ(lookup.At(0.7 + shift, 1.4 + shift), lookup.At(0.7, 1.4));
    }
}

TEST(SurfaceTexture, TintMovesMidTonesAndClampsOnlyWhenAChannelLeavesTheRange) {
    const auto grey = Filled(8, 8, 0xFF808080);
    const auto white = Filled(8, 8, 0xFFFFFFFF);
    TexPyramid greyPyramid;
    TexPyramid whitePyramid;
    ASSERT_EQ(TexPyramidSetImage(greyPyramid, grey.data(), 8, 8, 8, false), 0);
    ASSERT_EQ(TexPyramidSetImage(whitePyramid, white.data(), 8, 8, 8, false), 0);

    Lookup neutral(greyPyramid);
    const auto plain = neutral.At(0.0, 0.0);
    neutral.part.hasTint = 1;
    EXPECT_EQ(neutral.At(0.0, 0.0), plain);

    // White: L = 24384, f = ((24480 - L) L) >> 8 = 9144; red + (127 f) >> 11 passes 0x7FFF.
    Lookup tinted(whitePyramid);
    tinted.part.hasTint = 1;
    tinted.part.tintColour = {0xFF, 0x80, 0x00};
    EXPECT_EQ(tinted.At(0.0, 0.0), (std::array<std::int32_t, 3>{0x7FFF, 32512, 32512 - 572}));

    // Grey, where the tint is strongest: a mild tint moves red up and blue down within range.
    Lookup greyTint(greyPyramid);
    greyTint.part.hasTint = 1;
    greyTint.part.tintColour = {0x90, 0x80, 0x70};
    ASSERT_EQ(plain, (std::array<std::int32_t, 3>{16384, 16384, 16384}));
    const std::int32_t f = ((0x5FA0 - 12288) * 12288) >> 8;
    EXPECT_EQ(greyTint.At(0.0, 0.0), (std::array<std::int32_t, 3>{16384 + ((16 * f) >> 11), 16384,
                                                                  16384 + ((-16 * f) >> 11)}));
    // A full tint at mid grey leaves the range and is held to it.
    greyTint.part.tintColour = {0xFF, 0x80, 0x00};
    EXPECT_EQ(greyTint.At(0.0, 0.0), (std::array<std::int32_t, 3>{0x7FFF, 16384, 0}));
}

// A 64 x 64 tiling ramp: red counts columns and green rows, 4 a texel, so that a sample
// tells where it read (a channel reads 512 a texel, 31.5 at the image centre).
int SetRamp(TexPyramid& pyramid) {
    std::vector<std::uint32_t> image(64 * 64);
    for (std::uint32_t j = 0; j < 64; ++j) {
        for (std::uint32_t i = 0; i < 64; ++i) {
            image[j * 64 + i] = 0xFF000000u | (4 * i) << 16 | (4 * j) << 8;
        }
    }
    return TexPyramidSetImage(pyramid, image.data(), 64, 64, 64, false);
}

// A mapping object whose band 0 is one cell holding one tile, of scale 100 and turned by
// theta, centred at (ca, cd); the mapping is 10 long.
struct OneTileMapping {
    VersaTex mapping;

    OneTileMapping(double ca, double cd, double theta) {
        TileMap& band = *mapping.band0;
        band.hcells = band.vcells = band.vcr = 1;
        band.cells = static_cast<std::int32_t*>(PrivateAllocZeroed(4));
        band.heaps = static_cast<IndLink*>(PrivateAllocZeroed(sizeof(IndLink)));
        band.heaps[0] = IndLink{0, -1};
        band.heapCount = band.heapCapacity = 1;
        band.tiles = static_cast<TexTile*>(PrivateAllocZeroed(sizeof(TexTile)));
        const double c = std::cos(theta);
        const double s = std::sin(theta);
        band.tiles[0] = TexTile{100.0f,
                                static_cast<float>(100 * c),
                                static_cast<float>(100 * s),
                                static_cast<float>(-100 * s),
                                static_cast<float>(100 * c),
                                static_cast<float>(ca),
                                static_cast<float>(cd)};
        band.tileCount = band.tileCapacity = 1;
        band.mScale = 100.0;
        band.len = band.lEnd = 10.0;
        mapping.length = 10.0;
        mapping.MarkRestored();
    }
};

TEST(SurfaceTexture, WrappedPrimitiveFacesReachTheImageThroughTheirTile) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);

    constexpr double Pi = std::numbers::pi;
    const double k = 0.5;
    struct Case {
        TextureMapping mapping;
        std::int32_t surface;
        double x, y, z;
        double u, v;  // the surface coordinates the faces give, v before the length's modulo
    };
    const Case cases[] = {
        {TextureMapping::Box, 0, 0.3, 2.0, 0.4, Pi - k * 0.4, k * 2.0},
        {TextureMapping::Box, 1, 0.3, -1.0, -0.02, 2 * Pi - k * 0.02, -k * 1.0},
        {TextureMapping::Box, 3, 0.6, 0.1, 1.5, k * 0.6 + Pi, k * 1.5 + Pi},
        {TextureMapping::Box, 4, -0.2, 3.0, 0.0, k * -0.2 + 3 * Pi / 2, k * 3.0},
        {TextureMapping::FlatSidedCylinder, 0, 0.5, 1.0, 0.5, ((Pi / 4 - Pi / 8) * 0.7 + 0.25) * k,
         k * 1.0},
        {TextureMapping::FlatSidedCylinder, 7, 0.2, -1.0, 0.3, k * 0.2 + Pi, -k * 0.3 - Pi},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.surface);
        // The tile sits a little off the point, across the seam for u near a full turn.
        const double v = c.v - 10.0 * std::floor(c.v / 10.0);
        const double ca = c.u > 6.2 ? c.u + 0.03 - 2 * Pi : c.u + 0.03;
        OneTileMapping one(ca, v - 0.05, 0.0);
        Lookup lookup(pyramid);
        lookup.part.mapping = c.mapping;
        lookup.part.primitive = {k, 0.25, 0.7, 0.0};
        lookup.part.tiles = &one.mapping;
        lookup.part.bandCellLengths = {10.0, 0.0};
        // A point at depth 2.4 facing the eye: w = 0.04, w k 100 = 2 texels, F = 4: level 0,
        // whose blur keeps a ramp as it is away from the image's edges.
        lookup.part.partFromView.m[4] = c.x;
        lookup.part.partFromView.m[5] = 0.0;
        lookup.part.partFromView.m[8] = c.y;
        lookup.part.partFromView.m[10] = 0.0;
        lookup.part.partFromView.m[12] = c.z - 2.4;
        std::array<std::int32_t, 3> out{};
        ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, c.surface, false, false,
                          Vec3{0.0, 0.0, 2.4}, Vec3{0.0, 0.0, -1.0});
        // s = 100 (u - ca) = -3 texels, t = 100 (v - cd) = 5 texels from the image centre,
        // 31.5 + s and 31.5 + t; a channel reads 2 x 256 a texel.
        EXPECT_NEAR(out[0] / 512.0, 31.5 - 3.0, 0.1);
        EXPECT_NEAR(out[1] / 512.0, 31.5 + 5.0, 0.1);
    }
}

TEST(SurfaceTexture, SurfaceListEntriesPlaceThePointInTheirOwnFrame) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);

    // An elliptic cylinder entry without angle tables reads the angle 0 everywhere, and its
    // length along z in units of pi / (2 q): with q = pi / 2, z itself, in the entry's frame.
    SurfaceMappingEntry entry;
    entry.kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::EllipticCylinder);
    entry.byteSize = sizeof(SurfaceMappingEntry);
    entry.quarterMeasure = std::numbers::pi / 2;
    entry.a = entry.b = 1.0;
    SurfaceMappingEntry fresh;
    fresh.byteSize = SurfaceMappingEntryFreshBytes;
    std::array<void*, 2> buffers{&entry, &fresh};
    BufferArray list;
    list.firstIndex = 2;
    list.capacity = list.count = 2;
    list.buffers = buffers.data();

    OneTileMapping one(0.03, 4.95, 0.0);
    Lookup lookup(pyramid, 0x0000FF);
    lookup.part.mapping = TextureMapping::SurfaceList;
    lookup.part.surfaceList = &list;
    lookup.part.tiles = &one.mapping;
    lookup.part.bandCellLengths = {10.0, 0.0};
    const auto at = [&](std::int32_t surface, double z) {
        // Part z = pz - 2.4 + z; at depth 2.4 a pixel covers 2 texels (level 0).
        lookup.part.partFromView.m[12] = z - 2.4;
        std::array<std::int32_t, 3> out{};
        ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, surface, false, false,
                          Vec3{0.0, 0.0, 2.4}, Vec3{0.0, 0.0, -1.0});
        return out;
    };
    struct Case {
        std::uint32_t transformKind;
        double shift;  // what the transform adds to z
    };
    for (const Case& c : {Case{0, 0.0}, Case{2, -1.5}, Case{1, 0.75}}) {
        SCOPED_TRACE(c.transformKind);
        entry.transformKind = c.transformKind;
        entry.transform = Identity();
        entry.transform.m[12] = c.shift;
        // v = 5 in the entry's frame: s = 100 (0 - 0.03) = -3, t = 100 (5 - 4.95) = 5.
        const auto out = at(2, 5.0 - c.shift);
        EXPECT_NEAR(out[0] / 512.0, 31.5 - 3.0, 0.1);
        EXPECT_NEAR(out[1] / 512.0, 31.5 + 5.0, 0.1);
    }
    // A surface before the list, past it, or with an entry not yet filled shows the base colour.
    const std::array<std::int32_t, 3> base{0, 0, 32640};
    EXPECT_EQ(at(1, 5.0), base);
    EXPECT_EQ(at(3, 5.0), base);
    EXPECT_EQ(at(4, 5.0), base);
}

// The ramp's reading 3 texels before and 5 texels past the image centre, where the tests
// below place their points about their tiles.
void ExpectOffCentreRead(const std::array<std::int32_t, 3>& out) {
    EXPECT_NEAR(out[0] / 512.0, 31.5 - 3.0, 0.3);
    EXPECT_NEAR(out[1] / 512.0, 31.5 + 5.0, 0.3);
}

// The ramp's texel under the point at part depth z of the surface-list part (surface 0), with
// the single tile of a 10-long mapping placed 0.03 ahead in u and 0.05 behind in v of (u, v).
std::array<std::int32_t, 3> SurfaceListSample(TexPyramid& pyramid, const BufferArray& list,
                                              double u, double v, double z,
                                              const ObjectTex* revolution = nullptr) {
    const double wrapped = v - 10.0 * std::floor(v / 10.0);
    OneTileMapping one(u > 6.2 ? u + 0.03 - 2 * std::numbers::pi : u + 0.03, wrapped - 0.05, 0.0);
    Lookup lookup(pyramid, 0x0000FF);
    lookup.part.mapping = TextureMapping::SurfaceList;
    lookup.part.surfaceList = &list;
    lookup.part.revolution = revolution;
    lookup.part.tiles = &one.mapping;
    lookup.part.bandCellLengths = {10.0, 0.0};
    lookup.part.partFromView.m[12] = z - 2.4;
    std::array<std::int32_t, 3> out{};
    ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, 0, false, false,
                      Vec3{0.0, 0.0, 2.4}, Vec3{0.0, 0.0, -1.0});
    return out;
}

// A surface mapping list of one elliptic cylinder entry without angle tables: before any warp
// the angle is 0 and the length z itself (q = pi / 2).
struct CylinderEntryList {
    SurfaceMappingEntry entry;
    std::array<void*, 1> buffers{&entry};
    BufferArray list;

    CylinderEntryList() {
        entry.byteSize = sizeof(SurfaceMappingEntry);
        entry.quarterMeasure = std::numbers::pi / 2;
        entry.a = entry.b = 1.0;
        list.capacity = list.count = 1;
        list.buffers = buffers.data();
    }
    CylinderEntryList(const CylinderEntryList&) = delete;
    CylinderEntryList& operator=(const CylinderEntryList&) = delete;
};

TEST(SurfaceTexture, WarpedSurfaceListEntriesBendTheirBand) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    CylinderEntryList one;
    SurfaceMappingEntry& entry = one.entry;

    struct Case {
        double k, m, p, q, s;
        bool isSecondStage;
        double z;
    };
    const Case cases[] = {
        {0.8, 0.3, 0.2, 0.5, 1.0, false, 0.4},
        {0.8, 0.3, 0.2, 0.5, 1.0, true, -0.3},
        {1.2, 0.1, 0.3, 0.2, 0.9, false, 0.1},
    };
    constexpr double Pi = std::numbers::pi;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.z);
        entry.warp[0] = c.k;
        entry.warp[1] = c.m;
        entry.warp[2] = c.p;
        entry.warp[3] = c.q;
        entry.warp[4] = c.s;
        entry.kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::EllipticCylinder) | 1u << 8 |
                         (c.isSecondStage ? 0x10000u : 0u);
        // The warp by the library's complex functions: about the middle of the first half
        // turn, zeta = k (0 - pi / 2) + i k z.
        const std::complex<double> zeta{c.k * (0.0 - Pi / 2), c.k * c.z};
        const std::complex<double> sine = std::sin(zeta);
        const std::complex<double> t = std::sin(2.0 * zeta) / std::sqrt(1.0 - c.m * sine * sine);
        const std::complex<double> w =
            c.s * zeta + (c.isSecondStage ? c.q * t : c.p * std::asin(c.q * t));
        double u = Pi / 2 + w.real() / c.k;
        if (u < 0.0) u += 2 * Pi;
        ExpectOffCentreRead(SurfaceListSample(pyramid, one.list, u, w.imag() / c.k, c.z));
    }
}

TEST(SurfaceTexture, SecondWarpTakesItsScaleAndModulusFromTheRevolutionMapping) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    // The entry's kind word asks for the second warp; the part's revolution mapping holds its
    // scale and modulus.
    CylinderEntryList one;
    one.entry.kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::EllipticCylinder) | 2u << 8;
    UniRevTex revolution;
    revolution.warpScale = 0.9;
    revolution.warpModulus = 1.5;

    constexpr double Pi = std::numbers::pi;
    for (const double z : {0.35, -0.2}) {
        SCOPED_TRACE(z);
        // W = asinh(sqrt(d) t0) / sqrt(d), d = M - 1, t0 = sin(i z) / sqrt(1 - M sin^2(i z)),
        // by the library's complex functions.
        const std::complex<double> sine = std::sin(std::complex<double>{0.0, z});
        const std::complex<double> t0 = sine / std::sqrt(1.0 - 1.5 * sine * sine);
        const std::complex<double> w = std::asinh(std::sqrt(0.5) * t0) / std::sqrt(0.5);
        double u = 0.9 * w.real();
        if (u < 0.0) u += 2 * Pi;
        ExpectOffCentreRead(
            SurfaceListSample(pyramid, one.list, u, 0.9 * w.imag(), z, &revolution));
    }
}

// The ramp's texel under the view-space point p of a part under its revolution mapping, with
// the single tile of a 10-long mapping placed 0.03 ahead in u and 0.05 behind in v of (u, v).
std::array<std::int32_t, 3> RevolutionSample(TexPyramid& pyramid, const ObjectTex& revolution,
                                             double u, double v, const Matrix4W& partFromView,
                                             const Vec3& p, const Vec3& n,
                                             Vec3* bumpVector = nullptr) {
    const double wrapped = v - 10.0 * std::floor(v / 10.0);
    const double ca = u > 6.2 ? u + 0.03 - 2 * std::numbers::pi : u + 0.03;
    OneTileMapping one(ca, wrapped - 0.05, 0.0);
    Lookup lookup(pyramid, 0x0000FF);
    lookup.part.mapping = TextureMapping::Revolution;
    lookup.part.revolution = &revolution;
    lookup.part.tiles = &one.mapping;
    lookup.part.bandCellLengths = {10.0, 0.0};
    lookup.part.partFromView = partFromView;
    lookup.part.bumpAmount = bumpVector != nullptr ? 100 : 0;
    std::array<std::int32_t, 3> out{};
    ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, 0, bumpVector != nullptr, false, p,
                      n);
    if (bumpVector != nullptr) *bumpVector = lookup.render.partTextures.bumpVector;
    return out;
}

TEST(SurfaceTexture, SphereTakesTheAngleAndMercatorLengthOfItsHitPoint) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    // A unit sphere 1.6 before the eye, with the angle-keeping mapping a sphere part gets; the
    // pixels there cover a few texels of the tile.
    const double radius = 1.0;
    const double depth = 1.6;
    std::array<Rtp, 1> profile{
        EllipticProfile(0.0, -radius, radius, 0.0, 0.0, radius, radius, radius)};
    UniRevTex mapping;
    mapping.Build(profile);
    ASSERT_TRUE(mapping.IsUsable());
    Matrix4W partFromView = Identity();
    partFromView.m[12] = -depth;

    constexpr double Pi = std::numbers::pi;
    struct Case {
        double latitude, longitude;  // of a hit point the eye sees (part z below -1 / 1.6)
    };
    const Case cases[] = {{0.0, 1.5 * Pi}, {0.5, 1.4 * Pi}, {-0.4, 1.6 * Pi}, {0.3, 1.3 * Pi}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.latitude);
        SCOPED_TRACE(c.longitude);
        // The hit point on the sphere, the gradient there, and where it lies in view space.
        const Vec3 hit{radius * std::cos(c.latitude) * std::cos(c.longitude),
                       radius * std::sin(c.latitude),
                       radius * std::cos(c.latitude) * std::sin(c.longitude)};
        const Vec3 p{hit.x, hit.y, hit.z + depth};
        // The angle from +x towards +z, and Mercator's length from the equator, which the
        // mapping lays from its own origin at the lower pole.
        const double u = c.longitude;
        const double v = mapping.records[0]->lOffset + std::atanh(hit.y / radius);
        const auto out = RevolutionSample(pyramid, mapping, u, v, partFromView, p, hit);
        // s = 100 (u - ca) = -3 and t = 100 (v - cd) = 5 texels from the image centre; the
        // doubled levels that near points read sit a quarter texel off the image's own.
        EXPECT_NEAR(out[0] / 512.0, 31.5 - 3.0, 0.3);
        EXPECT_NEAR(out[1] / 512.0, 31.5 + 5.0, 0.3);
    }
}

TEST(SurfaceTexture, ClosedCylinderPointsTakeTheLengthOfTheSurfaceTheyLieOn) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    // A cylinder of radius 2 from y = -1 to 1 with its caps: bottom cap, side, top cap.
    std::array<Rtp, 3> profiles{
        StraightProfile(-1.0, -1.0, 0.0, 2.0, 2.0, 1.0, ProfilePosition::BottomCap),
        StraightProfile(-1.0, 1.0, 2.0, 2.0, 2.0, 0.0, ProfilePosition::Side),
        StraightProfile(1.0, 1.0, 2.0, 0.0, 2.0, -1.0, ProfilePosition::TopCap)};
    UniRevTex mapping;
    mapping.Build(profiles);
    ASSERT_TRUE(mapping.IsUsable());
    const double side = mapping.records[1]->start;
    const double top = mapping.records[2]->start;

    constexpr double Pi = std::numbers::pi;
    struct Case {
        Vec3 hit;  // part space
        Vec3 n;    // gradient, facing the eye
        double u, v;
    };
    const Case cases[] = {
        // The side, a quarter of its height up: 1.5 / 2 radii from its lower rim.
        {{0.0, 0.5, -2.0}, {0.0, 0.0, -1.0}, 1.5 * Pi, side + 0.75},
        // The top cap halfway to the axis: ln(2 / 1) radii from its rim.
        {{std::sqrt(0.5), 1.0, -std::sqrt(0.5)}, {0.0, 1.0, -1.0}, 1.75 * Pi, top + std::log(2.0)},
        // The bottom cap at a quarter of its radius: ln 0.5 past the axis' floor of -30.
        {{-0.5, -1.0, -0.0001},
         {0.0, -1.0, -1.0},
         Pi + std::atan2(0.0001, 0.5),
         std::log(0.5) + 30.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v);
        // The point 1.2 before the eye, its surface turned towards it.
        Matrix4W partFromView = Identity();
        partFromView.m[4] = c.hit.x;
        partFromView.m[8] = c.hit.y;
        partFromView.m[12] = c.hit.z - 1.2;
        const auto out =
            RevolutionSample(pyramid, mapping, c.u, c.v, partFromView, Vec3{0.0, 0.0, 1.2}, c.n);
        EXPECT_NEAR(out[0] / 512.0, 31.5 - 3.0, 0.3);
        EXPECT_NEAR(out[1] / 512.0, 31.5 + 5.0, 0.3);
    }
}

// One tile of scale 100, unturned, in a map's single chain.
template <typename Map>
void SetOneTile(Map& map, double ca, double cd, std::int32_t cellCount) {
    map.cells =
        static_cast<std::int32_t*>(PrivateAllocZeroed(static_cast<std::uint32_t>(4 * cellCount)));
    map.heaps = static_cast<IndLink*>(PrivateAllocZeroed(sizeof(IndLink)));
    map.heaps[0] = IndLink{0, -1};
    map.heapCount = map.heapCapacity = 1;
    map.tiles = static_cast<TexTile*>(PrivateAllocZeroed(sizeof(TexTile)));
    map.tiles[0] =
        TexTile{100.0f, 100.0f, 0.0f, 0.0f, 100.0f, static_cast<float>(ca), static_cast<float>(cd)};
    map.tileCount = map.tileCapacity = 1;
}

// The part reads mapping as its own custom revolution mapping, its band's and caps' cells 10
// long.
void UseCustomMapping(PartTexture& part, const CustomRevTex& mapping) {
    part.mapping = TextureMapping::CustomRevolution;
    part.revolution = &mapping;
    part.tiles = &mapping;
    part.bandCellLengths = {10.0, 0.0};
    part.capCellLengths = {10.0, 10.0};
}

// A point of a sphere and the map that should cover it: its band or one of its caps.
enum class Where { Band, FirstCap, SecondCap };
struct SphereCase {
    double latitude, longitude;
    Where where;
};

TEST(SurfaceTexture, CustomRevolutionReadsItsBandAndItsCapsByArcLength) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    TextureParams material;
    material.image = &pyramid;
    // A unit sphere under a custom mapping: arc length from the lower pole.
    std::array<Rtp, 1> profile{EllipticProfile(0.0, -1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0)};
    CustomRevTex mapping;
    mapping.material = &material;
    mapping.Build(profile);
    ASSERT_TRUE(mapping.IsUsable());
    ASSERT_NEAR(mapping.length, std::numbers::pi, 1e-4);
    // Its band runs from 1 to pi - 1 and each cap reaches 1.2 from its pole.
    FreeTileMap(*mapping.band0);
    mapping.band0->hcells = mapping.band0->vcells = mapping.band0->vcr = 1;
    mapping.band0->lStart = 1.0;
    mapping.band0->lEnd = std::numbers::pi - 1.0;
    for (PolarMap* cap : {mapping.cap0.get(), mapping.cap1.get()}) {
        FreePolarMap(*cap);
        cap->cellsPerSide = 1;
        cap->lOuter = 1.2;
    }
    constexpr double Pi = std::numbers::pi;
    const SphereCase cases[] = {
        {0.0, 1.5 * Pi, Where::Band},       {0.3, 1.4 * Pi, Where::Band},
        {-1.2, 1.3 * Pi, Where::FirstCap},   // before the band
        {-0.45, 1.6 * Pi, Where::FirstCap},  // on the band, within the cap's reach
        {1.2, 1.7 * Pi, Where::SecondCap},   // beyond the band
        {0.5, 1.45 * Pi, Where::SecondCap},  // on the band, within the cap's reach
    };
    for (const SphereCase& c : cases) {
        SCOPED_TRACE(c.latitude);
        const Vec3 hit{std::cos(c.latitude) * std::cos(c.longitude), std::sin(c.latitude),
                       std::cos(c.latitude) * std::sin(c.longitude)};
        // The arc length from the lower pole, the angle around the axis, and the plane point
        // of each cap: at the distance from its pole, towards the point (mirrored at the top).
        const double v = c.latitude + Pi / 2;
        const double u = c.longitude;
        const double r = std::cos(c.latitude);
        double a = u;
        double d = v;
        switch (c.where) {
            case Where::Band:
                break;
            case Where::FirstCap:
                a = hit.z / r * v;
                d = hit.x / r * v;
                break;
            case Where::SecondCap:
                a = hit.x / r * (Pi - v);
                d = hit.z / r * (Pi - v);
                break;
        }
        // The tile lies 0.03 ahead and 0.05 behind the point where the point reads it; the
        // other maps have no tiles.
        FreeTileMap(*mapping.band0);
        FreePolarMap(*mapping.cap0);
        FreePolarMap(*mapping.cap1);
        if (c.where == Where::Band) SetOneTile(*mapping.band0, a + 0.03, d - 0.05, 1);
        if (c.where == Where::FirstCap) SetOneTile(*mapping.cap0, a + 0.03, d - 0.05, 4);
        if (c.where == Where::SecondCap) SetOneTile(*mapping.cap1, a + 0.03, d - 0.05, 4);

        Lookup lookup(pyramid, 0x0000FF);
        UseCustomMapping(lookup.part, mapping);
        // The point 1.2 before the eye: a pixel there covers 2 texels of the tile (level 0).
        ExpectOffCentreRead(lookup.Facing(hit, 1.2));
    }
}

TEST(SurfaceTexture, WrappedPrimitiveOutsideItsTilesShowsTheBaseColour) {
    const auto red = Filled(8, 8, 0xFFFF0000);
    TexPyramid decal;
    ASSERT_EQ(TexPyramidSetImage(decal, red.data(), 8, 8, 8, true), 0);
    OneTileMapping one(1.0, 5.0, 0.3);
    Lookup lookup(decal, 0x0000FF);
    lookup.part.mapping = TextureMapping::Box;
    lookup.part.primitive = {1.0, 0.0, 0.0, 0.0};
    lookup.part.tiles = &one.mapping;
    lookup.part.bandCellLengths = {10.0, 0.0};
    // The point at depth 1.2 (footprint 4 texels squared: level 0) and part coordinates
    // (0, y, z).
    const auto at = [&](std::int32_t surface, double y, double z) {
        lookup.part.partFromView.m[8] = y;
        lookup.part.partFromView.m[10] = 0.0;
        lookup.part.partFromView.m[12] = z - 1.2;
        std::array<std::int32_t, 3> out{};
        ShadeSurfacePoint(lookup.render, lookup.part, out, decal, surface, false, false,
                          Vec3{0.0, 0.0, 1.2}, Vec3{0.0, 0.0, -1.0});
        return out;
    };
    // Face 0: u = pi - Z, v = Y. On the tile's centre the decal covers; far off it, and on
    // a surface the wrap gives no coordinates, the base colour shows.
    EXPECT_EQ(at(0, 5.0, std::numbers::pi - 1.0), (std::array<std::int32_t, 3>{32512, 0, 0}));
    EXPECT_EQ(at(0, 7.0, std::numbers::pi - 1.0), (std::array<std::int32_t, 3>{0, 0, 32640}));
    EXPECT_EQ(at(9, 5.0, std::numbers::pi - 1.0), (std::array<std::int32_t, 3>{0, 0, 32640}));
}

// ---- Through the renderer ----

constexpr std::int32_t Width = 64;
constexpr std::int32_t Height = 48;
constexpr double PlaneDepth = 120.0;

Matrix4W PlaneForm(double constant, Vec3 linear) {
    Matrix4W q;
    q.m = {constant, linear.x, linear.y, linear.z, linear.x, 0, 0, 0,
           linear.y, 0,        0,        0,        linear.z, 0, 0, 0};
    return q;
}

// A 200 x 200 x 1 slab facing the eye at PlaneDepth, lit head-on from the eye.
struct PlaneFrame {
    QRender render;
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(Width * Height, 0u);

    PlaneFrame() {
        EXPECT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.focalScale = Focal / 1000.0;
        render.SetLightCounts(1, 0);
        RenderLightSlot& light = render.LightSlot(0);
        light.enabled = 1;
        light.position = Vec3{0.0, 0.0, 0.0};
        RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);

        const std::array<Matrix4W, 6> forms = {
            PlaneForm(PlaneDepth, {0, 0, -0.5}), PlaneForm(-PlaneDepth - 1, {0, 0, 0.5}),
            PlaneForm(-100, {0.5, 0, 0}),        PlaneForm(-100, {-0.5, 0, 0}),
            PlaneForm(-100, {0, 0.5, 0}),        PlaneForm(-100, {0, -0.5, 0})};
        const double zc = PlaneDepth + 0.5;
        Matrix4W bound;
        bound.m = {zc * zc / 4.0 - 1.0, 0, 0,         -zc / 4.0, 0, 1.0 / 22500, 0, 0, 0, 0,
                   1.0 / 22500,         0, -zc / 4.0, 0,         0, 0.25};
        const std::int32_t index = render.parts.AddPart(6);
        render.parts.SetViewForms(index, forms, bound);
        render.parts.Part(index).colour = 0xFFFFFF;
    }

    void Texture(TexPyramid& pyramid) {
        render.partTextures.parts.assign(1, PartTexture{});
        PartTexture& t = render.partTextures.parts[0];
        t.pyramid = &pyramid;
        t.partFromView = Identity();
        t.baseColour = 0xFFFFFF;
    }

    std::uint32_t Red(std::int32_t x, std::int32_t y) const {
        return (pixels[static_cast<std::size_t>(y * Width + x)] >> 16) & 0xFF;
    }
};

TEST(SurfaceTexture, PlanarCheckerboardLandsAtTheProjectedColumns) {
    // 64 x 64 texels in 8 x 8 cells; at depth 2 x focal one pixel covers two texels.
    constexpr std::int32_t Side = 64;
    constexpr std::int32_t Cell = 8;
    std::vector<std::uint32_t> image(Side * Side);
    for (std::int32_t j = 0; j < Side; ++j) {
        for (std::int32_t i = 0; i < Side; ++i) {
            image[static_cast<std::size_t>(j * Side + i)] =
                ((i / Cell + j / Cell) % 2) != 0 ? 0xFFFFFFFF : 0xFF000000;
        }
    }
    TexPyramid pyramid;
    ASSERT_EQ(TexPyramidSetImage(pyramid, image.data(), Side, Side, Side, false), 0);
    PlaneFrame f;
    f.Texture(pyramid);
    ASSERT_EQ(RenderShadedFrame(f.render), CastDone);

    // Where the pixel's ray meets the plane, in texels from the image's first texel.
    const auto isWhite = [&](std::int32_t x, std::int32_t y) {
        const double u = (Side - 1) / 2.0 + PlaneDepth * (x - Width / 2.0 + 0.5) / Focal;
        const double v = (Side - 1) / 2.0 + PlaneDepth * (y - Height / 2.0 + 0.5) / Focal;
        const auto cell = [](double texel) {
            return static_cast<std::int32_t>(std::floor((texel + 0.5) / Cell));
        };
        return ((cell(u) + cell(v)) % 2 + 2) % 2 != 0;
    };
    std::int32_t edges = 0;
    for (std::int32_t y = 1; y < Height - 1; ++y) {
        for (std::int32_t x = 1; x < Width - 1; ++x) {
            const bool expected = isWhite(x, y);
            const bool nearEdge = isWhite(x - 1, y) != expected || isWhite(x + 1, y) != expected ||
                                  isWhite(x, y - 1) != expected || isWhite(x, y + 1) != expected;
            edges += nearEdge ? 1 : 0;
            const bool rendered = f.Red(x, y) > 100;
            if (!nearEdge) {
                EXPECT_EQ(rendered, expected) << x << "," << y;
            }
        }
    }
    EXPECT_GT(edges, 100);
}

TEST(SurfaceTexture, WhiteTextureShadesLikeAWhitePart) {
    const auto white = Filled(8, 8, 0xFFFFFFFF);
    TexPyramid pyramid;
    ASSERT_EQ(TexPyramidSetImage(pyramid, white.data(), 8, 8, 8, false), 0);
    PlaneFrame plain;
    ASSERT_EQ(RenderShadedFrame(plain.render), CastDone);
    PlaneFrame textured;
    textured.Texture(pyramid);
    ASSERT_EQ(RenderShadedFrame(textured.render), CastDone);
    // 32512 against 32640, a ratio of 0.996: never lighter, and on average the ratio darker
    // (single pixels differ by the dither's step as well).
    double sumPlain = 0.0;
    double sumTextured = 0.0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::uint32_t a = plain.Red(x, y);
            const std::uint32_t b = textured.Red(x, y);
            EXPECT_LE(b, a) << x << "," << y;
            EXPECT_GE(b + 2, a) << x << "," << y;
            sumPlain += a;
            sumTextured += b;
        }
    }
    EXPECT_NEAR(sumTextured / sumPlain, 32512.0 / 32640.0, 0.001);
    EXPECT_EQ(plain.Red(Width / 2, Height / 2), 255u);
    EXPECT_EQ(textured.Red(Width / 2, Height / 2), 254u);
}

}  // namespace

namespace {

// The plane point (x, y) turned by quarters of a turn, as the phase 16384 quarters turns it.
std::array<double, 2> TurnedByQuarters(double x, double y, std::int32_t quarters) {
    for (std::int32_t q = 0; q < quarters; ++q) {
        const double turned = -y;
        y = x;
        x = turned;
    }
    return {x, y};
}

// The phases the tests below turn parts by, with the quarters of a turn each stands for.
constexpr std::array<std::int32_t, 4> QuarterPhases{0, 16384, 32768, 49152};

// A height map of image side Side that climbs by step height units a texel along x.
void SetRamp(TexPyramid& pyramid, std::int32_t side, std::int32_t step,
             std::vector<std::uint32_t>& image, std::vector<std::uint8_t>& heights) {
    image.assign(static_cast<std::size_t>(side * side), 0xFFFFFFFFu);
    heights.resize(image.size());
    for (std::int32_t j = 0; j < side; ++j) {
        for (std::int32_t i = 0; i < side; ++i) {
            heights[static_cast<std::size_t>(j * side + i)] =
                static_cast<std::uint8_t>(std::min(255, i * step));
        }
    }
    ASSERT_EQ(TexPyramidSetImage(pyramid, image.data(), side, side, side, false), 0);
    ASSERT_EQ(TexPyramidSetMap(pyramid, heights.data(), side), 0);
}

// The unit sphere of the angle-keeping mapping 1.6 before the eye, under an image whose
// heights climb 4 a texel along its s axis.
struct BumpedSphere {
    static constexpr double Depth = 1.6;
    std::vector<std::uint32_t> image;
    std::vector<std::uint8_t> heights;
    TexPyramid pyramid;
    UniRevTex mapping;
    Matrix4W partFromView = Identity();

    BumpedSphere() {
        SetRamp(pyramid, 64, 4, image, heights);
        std::array<Rtp, 1> profile{EllipticProfile(0.0, -1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0)};
        mapping.Build(profile);
        partFromView.m[12] = -Depth;
    }
};

}  // namespace

TEST(SurfaceTexture, BumpMapTiltsThePlanarNormalByTheReliefsSlope) {
    // Heights climbing 4 a texel along x: with a bump amount B the relief is
    // d(x) = (B / 100) (4 x / 255) texels over a plane facing the eye, whose outward normal
    // (0, 0, -1) becomes (-d', 0, -1) up to length. Both the full-size image (depth twice the
    // focal length) and a magnification (depth the focal length) give the same tilt.
    std::vector<std::uint32_t> image;
    std::vector<std::uint8_t> heights;
    TexPyramid pyramid;
    SetRamp(pyramid, 64, 4, image, heights);
    Lookup lookup(pyramid);
    for (const std::int32_t amount : {100, 250, -100}) {
        lookup.part.bumpAmount = amount;
        ASSERT_TRUE(IsBumpMapped(lookup.part));
        for (const double z : {2.0 * Focal, Focal}) {
            std::array<std::int32_t, 3> out{};
            const Vec3 g{0.0, 0.0, -2.0};
            ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, 0, true, false,
                              Vec3{1.25, -3.5, z}, g);
            const Vec3 tilted = BumpedGradient(g, amount, lookup.render.partTextures.bumpVector);
            const double slope = amount / 100.0 * 4.0 / 255.0;
            EXPECT_NEAR(tilted.x / -tilted.z, -slope, 1e-9) << amount << " at " << z;
            EXPECT_NEAR(tilted.y, 0.0, 1e-12);
            EXPECT_DOUBLE_EQ(tilted.z, -2.0);
        }
    }
    // Without a bump amount the part is not bump-mapped; without heights a point is left flat.
    lookup.part.bumpAmount = 0;
    EXPECT_FALSE(IsBumpMapped(lookup.part));
    const std::vector<std::uint32_t> flat = Filled(8, 8, 0xFFFFFFFF);
    TexPyramid plain;
    ASSERT_EQ(TexPyramidSetImage(plain, flat.data(), 8, 8, 8, false), 0);
    Lookup noMap(plain);
    noMap.part.bumpAmount = 100;
    EXPECT_FALSE(IsBumpMapped(noMap.part));
}

TEST(SurfaceTexture, BumpMappedPlaneIsLitAsItsTiltedNormalSays) {
    // A ramp of two height units a texel over 128 texels (the pyramid keeps heights halved, so
    // every texel is one stored step above the one before), an amount of 2500: the relief
    // climbs 50 / 255 of a texel a texel along x. The light sits at the eye and there is no ambient
    // light, so each pixel's brightness is l . n: the bumped frame over the flat one is
    // (l . n') / (l . n) with n' = (-d', 0, -1) / |.| at the point the pixel sees.
    std::vector<std::uint32_t> image;
    std::vector<std::uint8_t> heights;
    TexPyramid pyramid;
    SetRamp(pyramid, 128, 2, image, heights);
    PlaneFrame flat;
    flat.Texture(pyramid);
    ASSERT_EQ(RenderShadedFrame(flat.render), CastDone);
    PlaneFrame bumped;
    bumped.Texture(pyramid);
    bumped.render.partTextures.parts[0].bumpAmount = 2500;
    ASSERT_EQ(RenderShadedFrame(bumped.render), CastDone);
    const double slope = 50.0 / 255.0;
    const double tiltedLength = std::sqrt(1.0 + slope * slope);
    std::int32_t brighter = 0;
    for (std::int32_t y = 2; y < Height - 2; y += 3) {
        for (std::int32_t x = 2; x < Width - 2; x += 3) {
            const double px = PlaneDepth * (x - Width / 2.0 + 0.5) / Focal;
            const double expected = (slope * px + PlaneDepth) / (PlaneDepth * tiltedLength);
            const double seen = static_cast<double>(bumped.Red(x, y));
            EXPECT_NEAR(seen, expected * flat.Red(x, y), 2.5) << x << "," << y;
            brighter += seen > flat.Red(x, y) ? 1 : 0;
        }
    }
    // Where the relief turns towards the light the bumped plane is the brighter.
    EXPECT_GT(brighter, 0);
}

TEST(SurfaceTexture, BumpMapOnAWrappedFaceTiltsAlongItsTilesTurn) {
    // A box's side face (surface 4: u grows with x, v with y) facing the eye, its one tile
    // turned by theta. Heights climb 4 a texel along the image's s axis, which the tile turns
    // by theta against (u, v): the relief's slope per texel, 4 B / 25500, tilts the normal
    // towards -(cos theta, sin theta, 0), whatever the tile's scale.
    std::vector<std::uint32_t> image;
    std::vector<std::uint8_t> heights;
    TexPyramid pyramid;
    SetRamp(pyramid, 64, 4, image, heights);
    constexpr double Pi = std::numbers::pi;
    const double k = 0.5;
    const double x = -0.2;
    const double y = 3.0;
    const double u = k * x + 3 * Pi / 2;
    const double v = k * y - 10.0;
    for (const double theta : {0.0, Pi / 2, 0.6}) {
        SCOPED_TRACE(theta);
        OneTileMapping one(u + 0.03, v - 0.05, theta);
        Lookup lookup(pyramid);
        lookup.part.mapping = TextureMapping::Box;
        lookup.part.primitive = {k, 0.25, 0.7, 0.0};
        lookup.part.tiles = &one.mapping;
        lookup.part.bandCellLengths = {10.0, 0.0};
        lookup.part.bumpAmount = 100;
        lookup.part.partFromView.m[4] = x;
        lookup.part.partFromView.m[8] = y;
        lookup.part.partFromView.m[12] = -2.4;
        std::array<std::int32_t, 3> out{};
        const Vec3 g{0.0, 0.0, -1.0};
        ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, 4, true, false,
                          Vec3{0.0, 0.0, 2.4}, g);
        const Vec3 tilted = BumpedGradient(g, 100, lookup.render.partTextures.bumpVector);
        const double slope = 4.0 / 255.0;
        EXPECT_NEAR(tilted.x, -slope * std::cos(theta), 1e-6);
        EXPECT_NEAR(tilted.y, -slope * std::sin(theta), 1e-6);
        EXPECT_DOUBLE_EQ(tilted.z, -1.0);
    }
}

TEST(SurfaceTexture, BumpMapOnASphereTiltsAlongItsParallels) {
    // The unit sphere of the angle-keeping mapping, its tile unturned, heights climbing 4 a
    // texel along the image's s axis, which follows the angle around the sphere: the normal
    // at each hit point tilts by 4 / 255 against the direction of growing longitude there,
    // (-sin lon, 0, cos lon).
    BumpedSphere sphere;
    const UniRevTex& mapping = sphere.mapping;
    ASSERT_TRUE(mapping.IsUsable());
    const double depth = BumpedSphere::Depth;
    constexpr double Pi = std::numbers::pi;
    for (const auto& [latitude, longitude] :
         {std::pair{0.0, 1.5 * Pi}, std::pair{0.5, 1.4 * Pi}, std::pair{-0.4, 1.6 * Pi}}) {
        SCOPED_TRACE(latitude);
        const Vec3 hit{std::cos(latitude) * std::cos(longitude), std::sin(latitude),
                       std::cos(latitude) * std::sin(longitude)};
        const double v = mapping.records[0]->lOffset + std::atanh(hit.y);
        Vec3 bump{};
        RevolutionSample(sphere.pyramid, mapping, longitude, v, sphere.partFromView,
                         Vec3{hit.x, hit.y, hit.z + depth}, hit, &bump);
        const Vec3 tilted = BumpedGradient(hit, 100, bump);
        const double slope = 4.0 / 255.0;
        EXPECT_NEAR(tilted.x, hit.x + slope * std::sin(longitude), 1e-6);
        EXPECT_NEAR(tilted.y, hit.y, 1e-6);
        EXPECT_NEAR(tilted.z, hit.z - slope * std::cos(longitude), 1e-6);
    }
}

// A material mapping whose band holds one tile and whose first pair of edge caps, each of
// radius R about its pole and inner length 1, hold one tile each; every tile of scale `scale`,
// unturned.
struct CappedMapping {
    OneTileMapping one;

    CappedMapping(double radius, double scale) : one(0.0, 0.0, 0.0) {
        for (std::size_t i = 0; i < 2; ++i) {
            PolarMap& cap = *one.mapping.VTPMaps[i];
            cap.cellsPerSide = 1;
            cap.lInner = 1.0;
            cap.lOuter = radius;
            SetOneTile(cap, 0.0, 0.0, 4);
            cap.tiles[0].scale = cap.tiles[0].ha = cap.tiles[0].vd = static_cast<float>(scale);
        }
        TexTile& band = one.mapping.band0->tiles[0];
        band.scale = band.ha = band.vd = static_cast<float>(scale);
    }

    TexTile& Band() { return one.mapping.band0->tiles[0]; }
    TexTile& Cap(std::size_t i) { return one.mapping.VTPMaps[i]->tiles[0]; }

    void Use(PartTexture& part) {
        part.tiles = &one.mapping;
        part.bandCellLengths = {10.0, 0.0};
        part.materialCaps = {one.mapping.VTPMaps[0].get(), one.mapping.VTPMaps[1].get()};
        part.materialCapCellLengths = {10.0, 10.0};
    }

    // The angle-keeping revolution mapping of sphere under these maps, with or without caps.
    void UseOnSphere(PartTexture& part, const UniRevTex& sphere, bool withCaps) {
        part.mapping = TextureMapping::Revolution;
        part.revolution = &sphere;
        Use(part);
        part.hasRevolutionCaps = withCaps;
        part.capLengths = {sphere.capStart, sphere.capEnd};
    }
};

TEST(SurfaceTexture, SphereCapsMeetItsBandAtTheBandsScale) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    // The unit sphere of the angle-keeping mapping: its band is steep between the latitudes of
    // +-45 degrees, whose Mercator lengths lie asinh(1) either side of the equator.
    std::array<Rtp, 1> profile{EllipticProfile(0.0, -1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0)};
    UniRevTex sphere;
    sphere.Build(profile);
    ASSERT_TRUE(sphere.IsUsable());
    const double equator = sphere.records[0]->lOffset;
    const double start = equator - std::asinh(1.0);
    const double end = equator + std::asinh(1.0);
    EXPECT_NEAR(sphere.capStart, start, 1e-4);
    EXPECT_NEAR(sphere.capEnd, end, 1e-4);

    const double radius = 1.8;
    constexpr double Pi = std::numbers::pi;
    // The caps reach a plane radius of 1.8, ln 1.8 past the band's ends (to about 16 degrees
    // from the equator); the band lies under them.
    const SphereCase cases[] = {
        {-1.2, 1.3 * Pi, Where::FirstCap},   // before the band
        {-0.8, 1.6 * Pi, Where::FirstCap},   // either side of the band's start (-45 degrees)
        {-0.75, 1.6 * Pi, Where::FirstCap},  //
        {-0.5, 1.4 * Pi, Where::FirstCap},   // on the band, within the cap's disc
        {-0.25, 1.4 * Pi, Where::Band},      // beyond the cap's disc
        {0.1, 0.2 * Pi, Where::Band},       {0.2, 1.7 * Pi, Where::Band},
        {0.6, 0.6 * Pi, Where::SecondCap},  {1.3, 1.1 * Pi, Where::SecondCap},
    };
    for (const SphereCase& c : cases) {
        SCOPED_TRACE(c.latitude);
        const double r = std::cos(c.latitude);
        const Vec3 hit{r * std::cos(c.longitude), std::sin(c.latitude), r * std::sin(c.longitude)};
        // Mercator's length, and the logarithmic radius from the nearer end of the band.
        const double v = equator + std::atanh(hit.y);
        const double u = c.longitude;
        double a = u;
        double d = v - 10.0 * std::floor(v / 10.0);
        if (c.where == Where::FirstCap) {
            const double rho = std::exp(v - start);
            ASSERT_LT(rho, radius);
            a = std::sin(u) * rho;
            d = std::cos(u) * rho;
        } else if (c.where == Where::SecondCap) {
            const double rho = std::exp(end - v);
            ASSERT_LT(rho, radius);
            a = std::cos(u) * rho;
            d = std::sin(u) * rho;
        } else {
            ASSERT_GT(std::exp(std::min(v - start, end - v)), radius);
        }
        // Every map holds a tile of scale 100; the one that should cover the point lies 0.03
        // ahead of it and 0.05 behind, the others far away (any reading of theirs is off).
        CappedMapping mapping(radius, 100.0);
        for (TexTile* tile : {&mapping.Band(), &mapping.Cap(0), &mapping.Cap(1)}) {
            tile->ca = 0.7f;
            tile->cd = 7.0f;
        }
        TexTile& own = c.where == Where::Band       ? mapping.Band()
                       : c.where == Where::FirstCap ? mapping.Cap(0)
                                                    : mapping.Cap(1);
        own.ca = static_cast<float>(a + 0.03 > 2 * Pi ? a + 0.03 - 2 * Pi : a + 0.03);
        own.cd = static_cast<float>(d - 0.05);

        Lookup lookup(pyramid, 0x0000FF);
        mapping.UseOnSphere(lookup.part, sphere, true);
        ExpectOffCentreRead(lookup.Facing(hit, 0.6));
    }

    // At the band's start the cap's plane runs at the band's own scale: a step along the
    // parallel moves the reading by the same number of texels on the cap (radius 1 there) as
    // on the band, whose tiles have the same scale.
    const auto readingAt = [&](double longitude, bool withCaps) {
        const double latitude = std::asin(std::tanh(start - equator));
        const double r = std::cos(latitude);
        CappedMapping mapping(radius, 100.0);
        mapping.Band().ca = static_cast<float>(1.5 * Pi);
        mapping.Band().cd = static_cast<float>(start - 10.0 * std::floor(start / 10.0));
        mapping.Cap(0).ca = static_cast<float>(std::sin(1.5 * Pi));
        mapping.Cap(0).cd = static_cast<float>(std::cos(1.5 * Pi));
        Lookup lookup(pyramid, 0x0000FF);
        mapping.UseOnSphere(lookup.part, sphere, withCaps);
        return lookup.Facing(
            Vec3{r * std::cos(longitude), std::sin(latitude) + 1e-9, r * std::sin(longitude)}, 0.6);
    };
    const double step = 0.06;
    const auto capStep = readingAt(1.5 * Pi + step, true);
    const auto capBase = readingAt(1.5 * Pi, true);
    const auto bandStep = readingAt(1.5 * Pi + step, false);
    const auto bandBase = readingAt(1.5 * Pi, false);
    const double capMove = std::hypot(capStep[0] - capBase[0], capStep[1] - capBase[1]) / 512.0;
    const double bandMove =
        std::hypot(bandStep[0] - bandBase[0], bandStep[1] - bandBase[1]) / 512.0;
    EXPECT_NEAR(bandMove, 100.0 * step, 0.3);
    EXPECT_NEAR(capMove, bandMove, 0.3);
}

namespace {

// The unit sphere as the one entry of a surface mapping list.
struct UnitSphereList {
    BufferArray list;

    UnitSphereList() {
        list.count = 1;
        const SurfaceMappingEntry head =
            AuxMappingHead(SurfaceMapperKind::Ellipsoid, 1.0, 1.0, 1.0);
        BuildAuxMappingProfile(list, std::span<const SurfaceMappingEntry>(&head, 1), {});
    }
    UnitSphereList(const UnitSphereList&) = delete;
    UnitSphereList& operator=(const UnitSphereList&) = delete;
    ~UnitSphereList() { FreeBufferArray(list); }

    const SurfaceMappingEntry& Entry() const { return AuxMappingEntry(list, 0); }
};

}  // namespace

TEST(SurfaceTexture, EllipsoidCapFadesIntoItsBandNearItsEdge) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    const UnitSphereList sphere;
    const SurfaceMappingEntry& entry = sphere.Entry();
    const double h = entry.bandHalfHeight;
    ASSERT_GT(h, 0.0);

    const double radius = 2.5;
    const double depth = 30.0;  // far enough for the fade to span a good part of the cap
    // Points along one meridian of the entry's frame (its polar axis is x), from the first
    // pole's side towards the equator: under the cap alone, in its fade, beyond it.
    std::array<bool, 3> seen{};  // cap alone, a blend, band alone
    for (const double polar : {-0.9, -0.75, -0.6, -0.5, -0.45, -0.4, -0.3, 0.1, 0.2}) {
        SCOPED_TRACE(polar);
        const Vec3 point{polar, std::sqrt(1.0 - polar * polar) * 0.6,
                         std::sqrt(1.0 - polar * polar) * 0.8};
        const SurfaceTexCoords coords = EllipsoidTexCoords(point, entry, nullptr);
        const double u = coords.angle;
        const double v = coords.length;
        ASSERT_LT(v, h);
        // The cap's plane point, in units of its radius, and the fade there: none inside tf,
        // a smooth step down to 0 at 0.9 of the radius, the cap unused beyond.
        const double rho = std::exp(v + h);
        const double x = std::sin(u) * rho / radius;
        const double y = std::cos(u) * rho / radius;
        const double pixel = depth / Focal * coords.angleScale * rho / radius;
        const double tf = std::max(
            0.0, 0.9 - 5.0 * pixel / (std::sqrt(std::pow(rho / radius, 2) + 1.5625) + 0.75));
        const auto axis = [&](double a) {
            if (std::fabs(a) <= tf) return 1.0;
            const double t = (2.0 * std::fabs(a) - (tf + 0.9)) / (0.9 - tf);
            return 0.5 - (0.75 - 0.25 * t * t) * t;
        };
        double weight = 0.0;
        if (std::fabs(x) < 0.9 && std::fabs(y) < 0.9 && rho < radius && v + h < 1.0) {
            weight = std::fabs(x) < tf && std::fabs(y) < tf ? 1.0 : axis(x) * axis(y);
        }
        // Tiles of scale 1: the cap's reads 3 texels before and 5 past the image centre, the
        // band's 3 past and 2 before.
        CappedMapping mapping(radius, 1.0);
        mapping.Cap(0).ca = static_cast<float>(std::sin(u) * rho + 3.0);
        mapping.Cap(0).cd = static_cast<float>(std::cos(u) * rho - 5.0);
        mapping.Cap(1).ca = mapping.Cap(1).cd = 0.0f;
        mapping.one.mapping.VTPMaps[1]->lOuter = 0.0;  // no second cap
        const double wrapped = v - 10.0 * std::floor(v / 10.0);
        mapping.Band().ca = static_cast<float>(u - 3.0);
        mapping.Band().cd = static_cast<float>(wrapped + 2.0);

        Lookup lookup(pyramid, 0x0000FF);
        lookup.part.mapping = TextureMapping::SurfaceList;
        lookup.part.surfaceList = &sphere.list;
        mapping.Use(lookup.part);
        const auto out = lookup.Facing(point, depth);
        // What the cap leaves shows the band on it, and the base colour (blue) before it.
        const bool isOnBand = v >= -h;
        const double under = isOnBand ? 1.0 : 0.0;
        EXPECT_NEAR(out[0] / 512.0, weight * 28.5 + (1.0 - weight) * under * 34.5, 0.35);
        EXPECT_NEAR(out[1] / 512.0, weight * 36.5 + (1.0 - weight) * under * 29.5, 0.35);
        seen[weight == 1.0 ? 0 : weight == 0.0 ? 2 : 1] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
}

TEST(SurfaceTexture, BumpMapOnASphereCapTiltsAlongItsPlanesAxis) {
    // The unit sphere of the angle-keeping mapping under caps whose tiles are unturned: heights
    // climb 4 a texel along the cap plane's x axis, which lies on the sphere as
    // cos u east + sin u north at the first pole (x = rho sin u) and as
    // -sin u east - cos u north at the second (x = rho cos u, rho shrinking northwards).
    // A phase P turns the plane point by P into the map, so the slope the point sees runs along
    // the map's x axis turned back by -P in its own plane, (cos P, -sin P): on the sphere
    // cos(u - P) east + sin(u - P) north at the first pole, -sin(u + P) east - cos(u + P) north
    // at the second.
    BumpedSphere bumped;
    const UniRevTex& sphere = bumped.mapping;
    TexPyramid& pyramid = bumped.pyramid;
    ASSERT_TRUE(sphere.IsUsable());
    const double depth = BumpedSphere::Depth;
    constexpr double Pi = std::numbers::pi;
    for (const auto& [latitude, longitude] :
         {std::pair{-1.0, 1.4 * Pi}, std::pair{-0.7, 1.6 * Pi}, std::pair{0.9, 1.3 * Pi}}) {
        SCOPED_TRACE(latitude);
        const double r = std::cos(latitude);
        const Vec3 hit{r * std::cos(longitude), std::sin(latitude), r * std::sin(longitude)};
        const Vec3 east{-std::sin(longitude), 0.0, std::cos(longitude)};
        const Vec3 north{-std::sin(latitude) * std::cos(longitude), r,
                         -std::sin(latitude) * std::sin(longitude)};
        const bool isFirst = latitude < 0.0;
        const double v = sphere.records[0]->lOffset + std::atanh(hit.y);
        const double rho = std::exp(isFirst ? v - sphere.capStart : sphere.capEnd - v);
        const double cu = std::cos(longitude);
        const double su = std::sin(longitude);
        for (std::size_t q = 0; q < QuarterPhases.size(); ++q) {
            SCOPED_TRACE(QuarterPhases[q]);
            const auto quarters = static_cast<std::int32_t>(q);
            CappedMapping mapping(1.8, 100.0);
            TexTile& cap = mapping.Cap(isFirst ? 0 : 1);
            const std::array<double, 2> at =
                TurnedByQuarters((isFirst ? su : cu) * rho, (isFirst ? cu : su) * rho, quarters);
            cap.ca = static_cast<float>(at[0] + 0.03);
            cap.cd = static_cast<float>(at[1] - 0.05);
            Lookup lookup(pyramid);
            mapping.UseOnSphere(lookup.part, sphere, true);
            lookup.part.partFromView = bumped.partFromView;
            lookup.part.bumpAmount = 100;
            lookup.part.phase = QuarterPhases[q];
            std::array<std::int32_t, 3> out{};
            ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, 0, true, false,
                              Vec3{hit.x, hit.y, hit.z + depth}, hit);
            const Vec3 tilted = BumpedGradient(hit, 100, lookup.render.partTextures.bumpVector);
            const double slope = 4.0 / 255.0;
            const double turn = quarters * Pi / 2;
            const double alongEast =
                isFirst ? std::cos(longitude - turn) : -std::sin(longitude + turn);
            const double alongNorth =
                isFirst ? std::sin(longitude - turn) : -std::cos(longitude + turn);
            EXPECT_NEAR(tilted.x, hit.x - slope * (alongEast * east.x + alongNorth * north.x),
                        1e-6);
            EXPECT_NEAR(tilted.y, hit.y - slope * (alongEast * east.y + alongNorth * north.y),
                        1e-6);
            EXPECT_NEAR(tilted.z, hit.z - slope * (alongEast * east.z + alongNorth * north.z),
                        1e-6);
        }
    }
}

TEST(SurfaceTexture, BumpMapOnAnEllipticCylinderTiltsAlongItsSection) {
    // An elliptic cylinder entry of semi-axes 2 and 1 whose frame carries part (x, y, z) to
    // (x, z, y): its axis runs along part y and its side at entry y < 0 faces the eye. Without
    // angle tables its angle is 0 everywhere and its length the entry's z. Heights climb 4 a
    // texel along the angle, which grows along the section (a cos t, -b sin t) at the point
    // (a sin t, b cos t): the normal tilts by 4 / 255 against that direction.
    std::vector<std::uint32_t> image;
    std::vector<std::uint8_t> heights;
    TexPyramid pyramid;
    SetRamp(pyramid, 64, 4, image, heights);
    const double a = 2.0;
    const double b = 1.0;
    SurfaceMappingEntry entry;
    entry.kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::EllipticCylinder);
    entry.byteSize = sizeof(SurfaceMappingEntry);
    entry.quarterMeasure = std::numbers::pi / 2;
    entry.a = a;
    entry.b = b;
    entry.transformKind = 1;
    entry.transform.m[5] = entry.transform.m[11] = entry.transform.m[14] = 1.0;
    std::array<void*, 1> buffers{&entry};
    BufferArray list;
    list.capacity = list.count = 1;
    list.buffers = buffers.data();
    const double depth = 2.4;
    for (const double t : {2.6, 3.3, 3.9}) {
        SCOPED_TRACE(t);
        const double ex = a * std::sin(t);
        const double ey = b * std::cos(t);
        const double ez = 0.4;
        const Vec3 hit{ex, ez, ey};  // part space
        const Vec3 n{ex / (a * a), 0.0, ey / (b * b)};
        const Vec3 along{a * std::cos(t), 0.0, -b * std::sin(t)};
        const double alongLength = Vec3Length(along);
        OneTileMapping one(0.03, ez - 0.05, 0.0);
        Lookup lookup(pyramid);
        lookup.part.mapping = TextureMapping::SurfaceList;
        lookup.part.surfaceList = &list;
        lookup.part.tiles = &one.mapping;
        lookup.part.bandCellLengths = {10.0, 0.0};
        lookup.part.bumpAmount = 100;
        lookup.part.partFromView.m[12] = -depth;
        std::array<std::int32_t, 3> out{};
        ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, 0, true, false,
                          Vec3{hit.x, hit.y, hit.z + depth}, n);
        const Vec3 tilted = BumpedGradient(n, 100, lookup.render.partTextures.bumpVector);
        const double f = 4.0 / 255.0 * Vec3Length(n) / alongLength;
        EXPECT_NEAR(tilted.x, n.x - f * along.x, 1e-6);
        EXPECT_NEAR(tilted.y, n.y, 1e-6);
        EXPECT_NEAR(tilted.z, n.z - f * along.z, 1e-6);
    }
}

namespace {

// The weight of the seam fade as its rule states it: none inside tf on both axes, -1 outside
// the square of half-side 0.9, else the product of the axes' smooth steps, at least 1/65536.
std::int32_t StatedFadeWeight(double x, double y, double rho, double pixel) {
    if (!(std::fabs(x) < 0.9 && std::fabs(y) < 0.9)) return -1;
    const double tf = std::max(0.0, 0.9 - 5.0 * pixel / (std::sqrt(rho * rho + 1.5625) + 0.75));
    if (std::fabs(x) < tf && std::fabs(y) < tf) return 0;
    const auto step = [&](double a) {
        if (std::fabs(a) <= tf) return 1.0;
        const double t = (2.0 * std::fabs(a) - (tf + 0.9)) / (0.9 - tf);
        return 0.5 - (0.75 - 0.25 * t * t) * t;
    };
    return std::max(1, static_cast<std::int32_t>(step(x) * step(y) * 65536.0));
}

TEST(SurfaceTexture, SeamFadeWeightsFollowTheirSmoothStep) {
    struct Case {
        double x, y, rho, pixel;
    };
    const Case cases[] = {
        {0.1, -0.2, 0.3, 0.01},    // deep inside: no fade
        {0.85, 0.1, 0.9, 0.05},    // one axis in its fade
        {-0.8, 0.82, 1.1, 0.05},   // both axes fade
        {0.899, 0.0, 0.9, 0.002},  // at the square's edge: the least weight
        {0.5, 0.5, 0.7, 1.0},      // a pixel so large that the fade spans the whole square
        {0.0, 0.0, 0.0, 10.0},     // ... even at its centre, at full weight
        {0.9, 0.0, 0.9, 0.01},     // on the square's edge: not used
        {0.2, -0.95, 1.0, 0.01},   // beyond it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " " << c.y << " " << c.pixel);
        EXPECT_EQ(SeamFadeWeight(c.x, c.y, c.rho, c.pixel),
                  StatedFadeWeight(c.x, c.y, c.rho, c.pixel));
    }
    // The weight falls steadily across the fade and keeps at least 1.
    std::int32_t previous = 65536;
    for (int i = 0; i < 100; ++i) {
        const double x = 0.6 + 0.3 * i / 100.0;
        const std::int32_t w = SeamFadeWeight(x, 0.0, x, 0.05);
        EXPECT_LE(w == 0 ? 65536 : w, previous) << x;
        EXPECT_GE(w, 0);
        previous = w == 0 ? 65536 : w;
    }
}

// The face frames of the six-face tiling on the unit sphere of a map whose angle u turns about
// z from x towards y: each face's centre and its plane's x and y directions.
struct FaceFrame {
    Vec3 centre, x, y;
};

FaceFrame FaceFrameOf(std::int32_t face) {
    if (face == 0) return {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}};
    if (face == 1) return {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
    const double u0 = (face - 2) * std::numbers::pi / 2;
    return {{std::cos(u0), std::sin(u0), 0}, {-std::sin(u0), std::cos(u0), 0}, {0, 0, 1}};
}

// The unit-sphere point at longitude u and latitude gd(v) = atan(sinh v).
Vec3 MapSpherePoint(double u, double v) {
    const double latitude = std::atan(std::sinh(v));
    return {std::cos(latitude) * std::cos(u), std::cos(latitude) * std::sin(u), std::sin(latitude)};
}

// The stereographic projection of n about a face: tan of half the angle from its centre.
std::array<double, 2> Stereographic(const Vec3& n, const FaceFrame& f) {
    const double d = 1 + Vec3Dot(n, f.centre);
    return {Vec3Dot(n, f.x) / d, Vec3Dot(n, f.y) / d};
}

TEST(SurfaceTexture, SurfaceFacesProjectAboutTheirCentres) {
    for (const double u : {0.1, 0.9, 2.5, 3.3, 4.6, 6.0}) {
        for (const double v : {-2.0, -0.6, 0.0, 0.3, 1.4}) {
            SCOPED_TRACE(testing::Message() << u << " " << v);
            const Vec3 n = MapSpherePoint(u, v);
            std::int32_t nearest = 0;
            for (std::int32_t face = 0; face < 6; ++face) {
                const FaceFrame frame = FaceFrameOf(face);
                if (Vec3Dot(n, frame.centre) > Vec3Dot(n, FaceFrameOf(nearest).centre)) {
                    nearest = face;
                }
                if (Vec3Dot(n, frame.centre) < -0.5) continue;  // near the far side
                const SurfaceFacePoint at = SurfaceFacePointOf(face, u, v);
                const auto expected = Stereographic(n, frame);
                EXPECT_NEAR(at.x, expected[0], 1e-12) << face;
                EXPECT_NEAR(at.y, expected[1], 1e-12) << face;
                // The stretch and the direction of growing u, by a step along u.
                const double step = 1e-6;
                const auto ahead = Stereographic(MapSpherePoint(u + step, v), frame);
                const double dx = (ahead[0] - expected[0]) / step;
                const double dy = (ahead[1] - expected[1]) / step;
                EXPECT_NEAR(at.stretch, std::hypot(dx, dy), 1e-5 * (1 + at.stretch)) << face;
                EXPECT_NEAR(at.alongU[0] * at.stretch, dx, 1e-5 * (1 + at.stretch)) << face;
                EXPECT_NEAR(at.alongU[1] * at.stretch, dy, 1e-5 * (1 + at.stretch)) << face;
            }
            EXPECT_EQ(NearestSurfaceFace(u, v), nearest);
        }
    }
}

TEST(SurfaceTexture, SurfaceFaceLimitsAreCachedByTheirRatio) {
    SurfaceMappingEntry entry;
    ASSERT_EQ(entry.fadeRatio, -1.0f);  // a fresh entry works them out first
    const double h = 0.5;
    const auto limits = SurfaceFaceLimits(entry, 2.4, h);  // f = 0.6
    EXPECT_FLOAT_EQ(entry.fadeRatio, 0.6f);
    EXPECT_NEAR(limits[0], 2 * std::atan(0.6) / h, 1e-12);
    EXPECT_NEAR(limits[1], std::log(1.6 / 0.4) / h, 1e-12);
    // The same ratio again reads the cache as it stands.
    entry.fadeLimits[0] = 7.0;
    entry.fadeLimits[1] = 8.0;
    const auto cached = SurfaceFaceLimits(entry, 4.8, h / 2);
    EXPECT_EQ(cached[0], 7.0);
    EXPECT_EQ(cached[1], 8.0);
    // A new ratio works them out again; a disc reaching the far side has no bound.
    const auto other = SurfaceFaceLimits(entry, 1.2, h);  // f = 0.3
    EXPECT_NEAR(other[0], 2 * std::atan(0.3) / h, 1e-12);
    EXPECT_NEAR(other[1], std::log(1.3 / 0.7) / h, 1e-12);
    const auto whole = SurfaceFaceLimits(entry, 4.0, h);  // f = 1
    EXPECT_EQ(whole[0], 1e100);
    EXPECT_EQ(whole[1], 1e100);
}

// Six face maps of one cell each, whose one tile is the image unturned at scale 1 and centred
// so that it reads the point at column Column(k) of the ramp, k the map's number.
struct FaceMaps {
    OneTileMapping one{0.0, 0.0, 0.0};
    std::array<PolarMap, 6> maps;

    static double Column(std::size_t k) { return 8.0 + 8.0 * static_cast<double>(k); }

    explicit FaceMaps(double radius) {
        for (PolarMap& map : maps) {
            map.cellsPerSide = 1;
            map.lInner = 1.0;
            map.lOuter = radius;
            SetOneTile(map, 0.0, 0.0, 4);
            map.tiles[0].scale = map.tiles[0].ha = map.tiles[0].vd = 1.0f;
        }
    }

    // Centres map k's tile so that the plane point (x, y) reads its column.
    void Aim(std::size_t k, double x, double y) {
        maps[k].tiles[0].ca = static_cast<float>(x - (Column(k) - 31.5));
        maps[k].tiles[0].cd = static_cast<float>(y);
    }

    void Empty(std::size_t k) {
        for (std::int32_t i = 0; i < 4; ++i) maps[k].cells[i] = -1;
    }

    void Use(PartTexture& part) {
        part.tiles = &one.mapping;
        part.bandCellLengths = {10.0, 0.0};
        for (std::size_t k = 0; k < 6; ++k) {
            part.faceMaps[k] = &maps[k];
            part.faceMapCellLengths[k] = 10.0;
        }
    }
};

// An ellipsoid entry whose material has six edge caps lays its texture by the six-face tiling:
// the point's nearest face reads it, a face whose chain leaves the point uncovered passes it to
// the next face, and a face does not read a point outside the square of 0.9 of its radius.
TEST(SurfaceTexture, EllipsoidFacesReadTheirSquaresAndPassThePointOn) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    const UnitSphereList sphere;
    const SurfaceMappingEntry& entry = sphere.Entry();
    const double h = std::numbers::pi / (2 * entry.quarterMeasure);  // 1 on the unit sphere
    // Which map read the point, by the ramp's column; -1 for the base colour (blue).
    const auto readAt = [&](FaceMaps& faces, const Vec3& point) {
        Lookup lookup(pyramid, 0x0000FF);
        lookup.part.mapping = TextureMapping::SurfaceList;
        lookup.part.surfaceList = &sphere.list;
        faces.Use(lookup.part);
        const auto out = lookup.Facing(point, 0.6);
        if (out[2] > 30000) return -1;
        for (std::size_t k = 0; k < 6; ++k) {
            if (std::fabs(out[0] / 512.0 - FaceMaps::Column(k)) < 2.0) return static_cast<int>(k);
        }
        return -2;
    };
    // Aims every map at the point as its face sees it, from the mapper's (u, v).
    const auto aimAll = [&](FaceMaps& faces, const Vec3& point) {
        const SurfaceTexCoords coords = EllipsoidTexCoords(point, entry, nullptr);
        const Vec3 n = MapSpherePoint(coords.angle, coords.length);
        for (std::int32_t face = 0; face < 6; ++face) {
            const auto at = Stereographic(n, FaceFrameOf(face));
            faces.Aim(static_cast<std::size_t>(face), at[0] * 2 / h, at[1] * 2 / h);
        }
        return coords;
    };
    // The unit sphere's polar axis is x; u turns from z towards y. A point near the face at
    // u = 0.3, on the equator's side of it.
    const auto onSphere = [](double u, double latitude) {
        return Vec3{std::sin(latitude), std::cos(latitude) * std::sin(u),
                    std::cos(latitude) * std::cos(u)};
    };
    {
        FaceMaps faces(1.8);  // f = 0.9: the faces overlap well
        const Vec3 point = onSphere(0.3, 0.05);
        const SurfaceTexCoords coords = aimAll(faces, point);
        ASSERT_EQ(NearestSurfaceFace(coords.angle, coords.length), 2);
        EXPECT_EQ(readAt(faces, point), 2);
        // An empty chain on face 2 passes the point to face 3, whose square still holds it.
        faces.Empty(2);
        EXPECT_EQ(readAt(faces, point), 3);
        // With faces 2 and 3 empty the passes go on to faces 4, 5, 0 and 1, none of whose
        // discs reaches the point: the base colour shows.
        faces.Empty(3);
        EXPECT_EQ(readAt(faces, point), -1);
    }
    {
        // f = 0.4: a point at 0.92 of the disc's radius along face 2's x lies inside the disc
        // but outside its square, and beyond the reach of face 3: no face reads it. At 0.8
        // face 2 reads it.
        FaceMaps faces(0.8 / h);
        for (const auto& [fraction, expected] : {std::pair{0.8, 2}, std::pair{0.92, -1}}) {
            SCOPED_TRACE(fraction);
            const double u = 2 * std::atan(0.4 * fraction);
            const Vec3 point = onSphere(u, 0.0);
            aimAll(faces, point);
            EXPECT_EQ(readAt(faces, point), expected);
        }
    }
}

// The faces of an ellipsoid lie at the map's own size where they sit: the face scale lies
// between the map's angle per unit of length at the four faces of the equator, on ellipsoids of
// either form of the map (the middle semi-axis nearer the smallest or the largest), and does not
// jump where the map changes form. The perimeter behind it agrees with a direct integral.
TEST(SurfaceTexture, EllipsoidFacesTakeTheMapsScaleAtTheEquator) {
    constexpr double Pi = std::numbers::pi;
    const auto entryScale = [](double a, double b, double c, auto&& check) {
        BufferArray list;
        list.count = 1;
        const SurfaceMappingEntry head = AuxMappingHead(SurfaceMapperKind::Ellipsoid, a, b, c);
        BuildAuxMappingProfile(list, std::span<const SurfaceMappingEntry>(&head, 1), {});
        check(AuxMappingEntry(list, 0));
        FreeBufferArray(list);
    };
    struct Axes {
        double a, b, c;
    };
    // c is the largest: the faces of the equator sit where the section z = 0 meets the
    // parametric angles 0, pi / 2, pi and 3 pi / 2.
    for (const Axes& s :
         {Axes{1.0, 1.2, 3.0}, Axes{1.0, 2.0, 3.0}, Axes{1.0, 2.5, 3.0}, Axes{1.0, 2.99, 3.0},
          Axes{0.5, 1.8, 2.0}, Axes{1.0, 2.0, 2.4}, Axes{2.0, 2.0, 2.0}}) {
        SCOPED_TRACE(testing::Message() << s.a << " x " << s.b << " x " << s.c);
        entryScale(s.a, s.b, s.c, [&](const SurfaceMappingEntry& entry) {
            double low = std::numeric_limits<double>::infinity();
            double high = 0.0;
            for (const double t : {0.0, Pi / 2, Pi, 1.5 * Pi}) {
                const Vec3 point{s.a * std::cos(t), s.b * std::sin(t), 0.0};
                const double scale = EllipsoidTexCoords(point, entry, nullptr).angleScale;
                low = std::min(low, scale);
                high = std::max(high, scale);
            }
            const double h = SurfaceFaceScale(entry);
            EXPECT_GE(h, low * (1 - 1e-9));
            EXPECT_LE(h, high * (1 + 1e-9));
        });
    }
    // Either side of k = 1/2, where q^2 = (p^2 + r^2) / 2: the same scale to the change in q.
    std::array<double, 2> sides{};
    for (std::size_t i = 0; i < 2; ++i) {
        const double q = std::sqrt(5.0) + (i == 0 ? -1e-6 : 1e-6);
        entryScale(1.0, q, 3.0,
                   [&](const SurfaceMappingEntry& entry) { sides[i] = SurfaceFaceScale(entry); });
    }
    EXPECT_NEAR(sides[0], sides[1], 1e-6);
    // The perimeter against the midpoint rule, which is exact to rounding for a smooth
    // periodic integrand of this many points.
    for (const auto& [a, b] : {std::pair{1.0, 1.0}, std::pair{1.0, 2.5}, std::pair{3.0, 0.2}}) {
        constexpr int Steps = 4000;
        double sum = 0.0;
        for (int i = 0; i < Steps; ++i) {
            const double t = (i + 0.5) * 2 * Pi / Steps;
            sum += std::hypot(a * std::sin(t), b * std::cos(t));
        }
        EXPECT_NEAR(EllipsePerimeter(a, b), sum * 2 * Pi / Steps, 1e-12 * sum);
    }
    EXPECT_DOUBLE_EQ(EllipsePerimeter(2.0, 0.0), 8.0);
    EXPECT_EQ(EllipsePerimeter(0.0, 0.0), 0.0);
    EXPECT_EQ(EllipsePerimeter(-1.0, 2.0), 0.0);
}

}  // namespace

namespace {

// A list of two entries from surface 0: an elliptic cylinder along z (semi-axes 1.2 and 0.8)
// and a hyperboloid of one sheet about z (waist semi-axes 1 and 1.3, axial scale 0.7).
struct OpenSurfaceList {
    BufferArray list;

    OpenSurfaceList() {
        list.count = 2;
        const std::array<SurfaceMappingEntry, 2> heads = {
            AuxMappingHead(SurfaceMapperKind::EllipticCylinder, 1.2, 0.8, 0.0),
            AuxMappingHead(SurfaceMapperKind::Hyperboloid, 1.0, 1.3, 0.7)};
        BuildAuxMappingProfile(list, heads, {});
    }
    OpenSurfaceList(const OpenSurfaceList&) = delete;
    OpenSurfaceList& operator=(const OpenSurfaceList&) = delete;
    ~OpenSurfaceList() { FreeBufferArray(list); }

    const SurfaceMappingEntry& Entry(std::int32_t i) const { return AuxMappingEntry(list, i); }
};

// The map each face reads by the six-face tiling's rules, worked out on the sphere: the faces
// in turn from the one whose centre lies nearest the point, each with its stereographic plane
// laid at 2 / h units per unit of tan(theta / 2); the first face that has tiles and holds the
// point inside its disc and inside the square of 0.9 of its radius reads it. -1: none does.
// Sets nearEdge when that face reads the point where its seam fade may already act.
int ExpectedFaceMap(double u, double v, double h, double radius, std::int32_t counter,
                    const std::array<bool, 6>& isEmpty, bool& nearEdge) {
    const Vec3 n = MapSpherePoint(u, v);
    std::int32_t nearest = 0;
    for (std::int32_t face = 1; face < 6; ++face) {
        if (Vec3Dot(n, FaceFrameOf(face).centre) > Vec3Dot(n, FaceFrameOf(nearest).centre)) {
            nearest = face;
        }
    }
    nearEdge = false;
    for (std::int32_t pass = 0; pass < 6; ++pass) {
        const std::int32_t face = (nearest + pass) % 6;
        const auto k = static_cast<std::size_t>((counter + face) % 6);
        if (isEmpty[k]) continue;
        const auto at = Stereographic(n, FaceFrameOf(face));
        const double x = at[0] * 2 / h;
        const double y = at[1] * 2 / h;
        if (!(std::hypot(x, y) < radius) || !(std::fabs(x) < 0.9 * radius) ||
            !(std::fabs(y) < 0.9 * radius)) {
            continue;
        }
        nearEdge = std::max(std::fabs(x), std::fabs(y)) > 0.88 * radius;
        return static_cast<int>(k);
    }
    return -1;
}

}  // namespace

// Hyperboloid and elliptic cylinder entries whose material has six edge caps lay their texture
// by the six-face tiling as ellipsoids do, their faces at 0.01 radians a plane unit: each
// point is read by the map the tiling's rules give, worked out apart on the sphere of the
// entry's (u, v), for faces that overlap, faces too small to meet, and empty faces.
TEST(SurfaceTexture, HyperboloidAndCylinderFacesReadTheMapTheTilingGives) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    const OpenSurfaceList surfaces;
    constexpr double Pi = std::numbers::pi;
    constexpr double FacePlaneAngle = 0.01;
    struct Setup {
        double radius;
        std::array<bool, 6> isEmpty;
    };
    const Setup setups[] = {
        {160.0, {}},                                        // f = 0.8: faces overlap
        {80.0, {}},                                         // f = 0.4: gaps at the corners
        {160.0, {false, false, true, true, false, false}},  // maps 2 and 3 pass points on
    };
    // The entry's surface point of section parameter t and axial parameter s: on the cylinder
    // (a cos t, b sin t, s), on the hyperboloid (a cos t, b sin t) cosh + (0, 0, c sinh).
    const auto pointOf = [&](std::int32_t surface, double t, double s) {
        const SurfaceMappingEntry& e = surfaces.Entry(surface);
        if (surface == 0) return Vec3{e.a * std::cos(t), e.b * std::sin(t), s};
        return Vec3{e.a * std::cos(t) * std::cosh(s), e.b * std::sin(t) * std::cosh(s),
                    e.c * std::sinh(s)};
    };
    const auto coordsOf = [&](std::int32_t surface, const Vec3& point) {
        const SurfaceMappingEntry& e = surfaces.Entry(surface);
        if (surface == 1) {
            const SurfaceTexCoords c = SpheroidTexCoords(point, e, nullptr);
            return std::array<double, 2>{c.angle, c.length};
        }
        return std::array<double, 2>{SurfaceAngleCoord(point.x, point.y, e),
                                     point.z * Pi / (2 * e.quarterMeasure)};
    };
    std::array<int, 3> seen{};  // points read by their nearest face, by another, by none
    int checked = 0;
    for (const Setup& setup : setups) {
        for (std::int32_t surface = 0; surface < 2; ++surface) {
            for (const double t : {0.13, 0.71, 1.37, 2.02, 2.9, 3.55, 4.4, 5.1, 5.83}) {
                for (const double s : {-2.3, -1.4, -0.75, -0.2, 0.33, 0.8, 1.25, 1.9, 2.7}) {
                    SCOPED_TRACE(testing::Message() << setup.radius << " surface " << surface
                                                    << " t " << t << " s " << s);
                    const Vec3 point = pointOf(surface, t, s);
                    const auto [u, v] = coordsOf(surface, point);
                    bool nearEdge = false;
                    const int expected = ExpectedFaceMap(u, v, FacePlaneAngle, setup.radius,
                                                         surface, setup.isEmpty, nearEdge);
                    if (nearEdge) continue;
                    // Every map aimed at the point as its face sees it, so that it reads its
                    // own column of the ramp there.
                    FaceMaps faces(setup.radius);
                    const Vec3 n = MapSpherePoint(u, v);
                    for (std::int32_t face = 0; face < 6; ++face) {
                        const auto at = Stereographic(n, FaceFrameOf(face));
                        const auto k = static_cast<std::size_t>((surface + face) % 6);
                        faces.Aim(k, at[0] * 2 / FacePlaneAngle, at[1] * 2 / FacePlaneAngle);
                        if (setup.isEmpty[k]) faces.Empty(k);
                    }
                    Lookup lookup(pyramid, 0x0000FF);
                    lookup.part.mapping = TextureMapping::SurfaceList;
                    lookup.part.surfaceList = &surfaces.list;
                    faces.Use(lookup.part);
                    const double depth = 0.1;
                    lookup.part.partFromView.m[4] = point.x;
                    lookup.part.partFromView.m[8] = point.y;
                    lookup.part.partFromView.m[12] = point.z - depth;
                    std::array<std::int32_t, 3> out{};
                    ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, surface, false,
                                      false, Vec3{0.0, 0.0, depth}, Vec3{0.0, 0.0, -1.0});
                    if (expected < 0) {
                        EXPECT_EQ(out, (std::array<std::int32_t, 3>{0, 0, 32640}));
                    } else {
                        EXPECT_EQ(out[2], 0);
                        EXPECT_NEAR(out[0] / 512.0, FaceMaps::Column(expected), 0.5);
                    }
                    const int nearestMap = (surface + NearestSurfaceFace(u, v)) % 6;
                    ++seen[expected < 0 ? 2 : expected == nearestMap ? 0 : 1];
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 400);
    EXPECT_TRUE(seen[0] > 0 && seen[1] > 0 && seen[2] > 0)
        << seen[0] << " " << seen[1] << " " << seen[2];
}

namespace {

// A point of a part whose body reads the band of a 10-long mapping: the surface it lies on,
// where the part matrix puts it, and the surface coordinates (u, v) its mapping gives there.
struct PhasedBodyCase {
    const char* name;
    TextureMapping mapping;
    std::int32_t surface;
    Vec3 partPoint;  // also the surface gradient of the round parts
    double depth;    // of the point before the eye
    double u, v;
    std::array<double, 4> primitive{};
    const BufferArray* surfaceList = nullptr;
    const ObjectTex* revolution = nullptr;
    bool normalIsPoint = false;  // the gradient is partPoint (round parts), else -z
};

}  // namespace

TEST(SurfaceTexture, PhaseMovesTheBodyAlongTheMappingsLength) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    constexpr double Pi = std::numbers::pi;
    const double k = 0.5;
    // A unit sphere as a surface-list ellipsoid and under its angle-keeping revolution mapping.
    const UnitSphereList ellipsoid;
    const Vec3 onEllipsoid{0.2, std::sqrt(0.96) * 0.6, -std::sqrt(0.96) * 0.8};
    const SurfaceTexCoords ellipsoidCoords =
        EllipsoidTexCoords(onEllipsoid, ellipsoid.Entry(), nullptr);
    std::array<Rtp, 1> profile{EllipticProfile(0.0, -1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0)};
    UniRevTex sphere;
    sphere.Build(profile);
    ASSERT_TRUE(sphere.IsUsable());
    const double latitude = 0.3;
    const double longitude = 1.3 * Pi;
    const Vec3 onSphere{std::cos(latitude) * std::cos(longitude), std::sin(latitude),
                        std::cos(latitude) * std::sin(longitude)};

    std::vector<PhasedBodyCase> cases;
    cases.push_back({"box",
                     TextureMapping::Box,
                     4,
                     {-0.2, 3.0, 0.0},
                     2.4,
                     k * -0.2 + 3 * Pi / 2,
                     k * 3.0,
                     {k, 0.25, 0.7, 0.0}});
    cases.push_back({"cylinder",
                     TextureMapping::FlatSidedCylinder,
                     7,
                     {0.2, -1.0, 0.3},
                     2.4,
                     k * 0.2 + Pi,
                     -k * 0.3 - Pi,
                     {k, 0.25, 0.7, 0.0}});
    PhasedBodyCase onList{
        "ellipsoid",           TextureMapping::SurfaceList,      0,
        onEllipsoid,           1.2 / ellipsoidCoords.angleScale, ellipsoidCoords.angle,
        ellipsoidCoords.length};
    onList.surfaceList = &ellipsoid.list;
    onList.normalIsPoint = true;
    cases.push_back(onList);
    PhasedBodyCase onRevolution{"sphere",
                                TextureMapping::Revolution,
                                0,
                                onSphere,
                                1.6,
                                longitude,
                                sphere.records[0]->lOffset + std::atanh(onSphere.y)};
    onRevolution.revolution = &sphere;
    onRevolution.normalIsPoint = true;
    cases.push_back(onRevolution);

    for (const PhasedBodyCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::int32_t phase : {0, 16384, 32768, 65535}) {
            SCOPED_TRACE(phase);
            // The phase moves v by its share of the mapping's length: the point reads the tile
            // where phase 0 reads at that v, placed 0.03 ahead and 0.05 behind it.
            const double moved = c.v + phase / 65536.0 * 10.0;
            const double wrapped = moved - 10.0 * std::floor(moved / 10.0);
            OneTileMapping one(c.u > 6.2 ? c.u + 0.03 - 2 * Pi : c.u + 0.03, wrapped - 0.05, 0.0);
            Lookup lookup(pyramid, 0x0000FF);
            lookup.part.mapping = c.mapping;
            lookup.part.primitive = c.primitive;
            lookup.part.surfaceList = c.surfaceList;
            lookup.part.revolution = c.revolution;
            lookup.part.tiles = &one.mapping;
            lookup.part.bandCellLengths = {10.0, 0.0};
            lookup.part.phase = phase;
            lookup.part.partFromView.m[12] = -c.depth;
            const Vec3 p{c.partPoint.x, c.partPoint.y, c.partPoint.z + c.depth};
            const Vec3 n = c.normalIsPoint ? c.partPoint : Vec3{0.0, 0.0, -1.0};
            std::array<std::int32_t, 3> out{};
            ShadeSurfacePoint(lookup.render, lookup.part, out, pyramid, c.surface, false, false, p,
                              n);
            ExpectOffCentreRead(out);
        }
    }
}

TEST(SurfaceTexture, PhaseTurnsTheCapsAboutTheirPoles) {
    TexPyramid pyramid;
    ASSERT_EQ(SetRamp(pyramid), 0);
    constexpr double Pi = std::numbers::pi;
    // Each case's point lies under a cap at the plane point (x, y) when the phase is 0; a phase
    // of q quarter turns turns it by q quarters about the pole. The cap's one tile sits 0.03
    // ahead of and 0.05 behind the turned point, every other map's tiles far away.
    const auto turnedTile = [](TexTile& tile, double x, double y, std::int32_t quarters) {
        const std::array<double, 2> at = TurnedByQuarters(x, y, quarters);
        tile.ca = static_cast<float>(at[0] + 0.03);
        tile.cd = static_cast<float>(at[1] - 0.05);
    };
    // The material's caps: the point at angle u lies at (sin u, cos u) rho in the first cap's
    // plane and at (cos u, sin u) rho in the second's.
    const auto placeCapTiles = [&](CappedMapping& mapping, bool isFirst, double u, double rho,
                                   std::int32_t quarters) {
        for (TexTile* tile : {&mapping.Band(), &mapping.Cap(0), &mapping.Cap(1)}) {
            tile->ca = 0.7f;
            tile->cd = 7.0f;
        }
        const double su = std::sin(u);
        const double cu = std::cos(u);
        turnedTile(mapping.Cap(isFirst ? 0 : 1), (isFirst ? su : cu) * rho,
                   (isFirst ? cu : su) * rho, quarters);
    };

    // The material's caps over the unit sphere's angle-keeping mapping, beyond the 45 degree
    // latitudes, at the logarithmic radius from there.
    std::array<Rtp, 1> profile{EllipticProfile(0.0, -1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0)};
    UniRevTex sphere;
    sphere.Build(profile);
    ASSERT_TRUE(sphere.IsUsable());
    for (const auto& [latitude, longitude] :
         {std::pair{-1.2, 1.3 * Pi}, std::pair{-0.6, 1.55 * Pi}, std::pair{1.3, 1.1 * Pi}}) {
        SCOPED_TRACE(latitude);
        const double r = std::cos(latitude);
        const Vec3 hit{r * std::cos(longitude), std::sin(latitude), r * std::sin(longitude)};
        const double v = sphere.records[0]->lOffset + std::atanh(hit.y);
        const bool isFirst = latitude < 0.0;
        const double rho = std::exp(isFirst ? v - sphere.capStart : sphere.capEnd - v);
        ASSERT_LT(rho, 1.8);
        for (std::size_t q = 0; q < QuarterPhases.size(); ++q) {
            SCOPED_TRACE(QuarterPhases[q]);
            CappedMapping mapping(1.8, 100.0);
            placeCapTiles(mapping, isFirst, longitude, rho, static_cast<std::int32_t>(q));
            Lookup lookup(pyramid, 0x0000FF);
            mapping.UseOnSphere(lookup.part, sphere, true);
            lookup.part.phase = QuarterPhases[q];
            ExpectOffCentreRead(lookup.Facing(hit, 0.6));
        }
    }

    // The material's caps over a unit sphere entry of a surface mapping list, beyond its band
    // half-height either way; well inside the caps' squares, so that nothing fades.
    const UnitSphereList ellipsoid;
    const double h = ellipsoid.Entry().bandHalfHeight;
    for (const double polar : {-0.8, 0.85}) {
        SCOPED_TRACE(polar);
        const Vec3 point{polar, std::sqrt(1.0 - polar * polar) * 0.6,
                         std::sqrt(1.0 - polar * polar) * 0.8};
        const SurfaceTexCoords coords = EllipsoidTexCoords(point, ellipsoid.Entry(), nullptr);
        const bool isFirst = coords.length < -h;
        ASSERT_TRUE(isFirst || coords.length > h);
        const double rho = std::exp(isFirst ? coords.length + h : h - coords.length);
        ASSERT_LT(rho, 1.0);
        for (std::size_t q = 0; q < QuarterPhases.size(); ++q) {
            SCOPED_TRACE(QuarterPhases[q]);
            CappedMapping mapping(2.5, 100.0);
            placeCapTiles(mapping, isFirst, coords.angle, rho, static_cast<std::int32_t>(q));
            Lookup lookup(pyramid, 0x0000FF);
            lookup.part.mapping = TextureMapping::SurfaceList;
            lookup.part.surfaceList = &ellipsoid.list;
            mapping.Use(lookup.part);
            lookup.part.phase = QuarterPhases[q];
            // A pixel covers about 2 texels of the cap's tile at the point.
            ExpectOffCentreRead(lookup.Facing(point, 1.2 / (coords.angleScale * rho)));
        }
    }

    // A custom mapping's own caps over a unit sphere, at the arc length from their poles.
    TextureParams material;
    material.image = &pyramid;
    CustomRevTex custom;
    custom.material = &material;
    custom.Build(profile);
    ASSERT_TRUE(custom.IsUsable());
    FreeTileMap(*custom.band0);
    custom.band0->hcells = custom.band0->vcells = custom.band0->vcr = 1;
    custom.band0->lStart = 1.0;
    custom.band0->lEnd = Pi - 1.0;
    SetOneTile(*custom.band0, 0.7, 7.0, 1);
    for (PolarMap* cap : {custom.cap0.get(), custom.cap1.get()}) {
        FreePolarMap(*cap);
        cap->cellsPerSide = 1;
        cap->lOuter = 1.2;
    }
    for (const auto& [latitude, longitude] :
         {std::pair{-1.2, 1.3 * Pi}, std::pair{1.2, 1.7 * Pi}}) {
        SCOPED_TRACE(latitude);
        const double r = std::cos(latitude);
        const Vec3 hit{r * std::cos(longitude), std::sin(latitude), r * std::sin(longitude)};
        const double v = latitude + Pi / 2;
        const bool isFirst = latitude < 0.0;
        PolarMap& cap = isFirst ? *custom.cap0 : *custom.cap1;
        PolarMap& other = isFirst ? *custom.cap1 : *custom.cap0;
        for (std::size_t q = 0; q < QuarterPhases.size(); ++q) {
            SCOPED_TRACE(QuarterPhases[q]);
            FreePolarMap(cap);
            FreePolarMap(other);
            SetOneTile(cap, 0.0, 0.0, 4);
            SetOneTile(other, 0.7, 7.0, 4);
            const double rho = isFirst ? v : Pi - v;
            turnedTile(cap.tiles[0], (isFirst ? hit.z : hit.x) / r * rho,
                       (isFirst ? hit.x : hit.z) / r * rho, static_cast<std::int32_t>(q));
            Lookup lookup(pyramid, 0x0000FF);
            UseCustomMapping(lookup.part, custom);
            lookup.part.phase = QuarterPhases[q];
            ExpectOffCentreRead(lookup.Facing(hit, 1.2));
        }
    }
}

TEST(SurfaceTexture, PhasePicksAPairOfTheMaterialsEdgeCaps) {
    // mapCount edge caps make mapCount / 2 pairs; the phase spreads them evenly over the turn.
    struct Case {
        std::size_t mapCount;
        std::int32_t phase;
        std::int32_t pair;
    };
    const Case cases[] = {
        {2, 0, 0},     {2, 32768, 0},  {2, 65535, 0},  // a single pair serves every phase
        {6, 0, 0},     {6, 21845, 0},  {6, 21846, 1}, {6, 43690, 1},
        {6, 43691, 2}, {6, 65535, 2},  {7, 65535, 2},  // an odd map left over makes no pair
        {0, 40000, 0}, {12, 65535, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MaterialCapPair(c.mapCount, c.phase), c.pair) << c.mapCount << " " << c.phase;
    }
}
