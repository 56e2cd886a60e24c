#include "texture/texture_params.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

// Restores the heap controls and the progress hook; checks that nothing was leaked.
class TextureParamsTest : public testing::Test {
protected:
    void SetUp() override { blocksBefore = PrivateHeapBlockCount(); }
    void TearDown() override {
        PrivateHeapRefuseNext(0);
        PrivateHeapSetCeiling(0);
        TexMapProgressHook = nullptr;
        params.mapping.reset();
        TexPyramidFree(pyramid);
        EXPECT_EQ(PrivateHeapBlockCount(), blocksBefore) << "blocks leaked";
    }
    void SetImage(int w, int h) {
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h, 0xFF808080u);
        ASSERT_EQ(TexPyramidSetImage(pyramid, pixels.data(), w, w, h, false), 0);
        params.image = &pyramid;
    }
    const VersaTex& Versa() const { return static_cast<const VersaTex&>(*params.mapping); }

    std::size_t blocksBefore = 0;
    TexPyramid pyramid;
    TextureParams params;
};

// Every point of the band lies inside the image of one of the tiles its cell lists.
void ExpectBandCovered(const TileMap& map, double imageW, double imageH) {
    const double cell = 0.3 * std::min(imageW, imageH) / map.mScale;
    const double margin = 8;  // pixels: markings round to whole coverage steps of 4 pixels
    for (int i = 0; i < 60; ++i) {
        for (int j = 0; j < 40; ++j) {
            const double u = (i + 0.5) * 2 * std::numbers::pi / 60;
            const double v = map.lStart + (j + 0.5) * (map.lEnd - map.lStart) / 40;
            const int col = static_cast<int>(u / (2 * std::numbers::pi / map.hcells)) % map.hcells;
            const int row = static_cast<int>((v - map.lStart) / cell) + map.overCell1;
            bool inside = false;
            for (int link = map.cells[row * map.hcells + col]; link != -1 && !inside;
                 link = map.heaps[link].next) {
                const TexTile& t = map.tiles[map.heaps[link].ind];
                double du = u - t.ca;
                du -= 2 * std::numbers::pi * std::nearbyint(du / (2 * std::numbers::pi));
                const double dv = v - t.cd;
                const double x = t.ha * du + t.hd * dv;
                const double y = t.va * du + t.vd * dv;
                inside = std::fabs(x) <= imageW / 2 + margin && std::fabs(y) <= imageH / 2 + margin;
            }
            ASSERT_TRUE(inside) << "u " << u << " v " << v;
        }
    }
}

TEST(TextureParams, DefaultsHoldNoMappingAndNoImage) {
    const TextureParams params;
    EXPECT_EQ(params.glv, 1.0);
    EXPECT_EQ(params.scale, 1.0);
    EXPECT_EQ(params.ta, std::numbers::pi);
    EXPECT_EQ(params.taR, std::numbers::pi);
    EXPECT_EQ(params.pCircle, 2.0);
    EXPECT_EQ(params.cTiles, 1.0);
    EXPECT_EQ(params.spf, 0.08);
    EXPECT_EQ(params.spa, 0.8);
    EXPECT_EQ(params.glc, 0xFFFFFFu);
    EXPECT_EQ(params.Bump, 0);
    EXPECT_EQ(params.d, 0);
    EXPECT_EQ(params.on, 0);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(params.transform.m[i], i % 5 == 0 ? 1.0 : 0.0) << i;
    }
    EXPECT_EQ(params.mapping, nullptr);
    EXPECT_EQ(params.image, nullptr);
}

TEST_F(TextureParamsTest, NoImageLeavesNoMapping) {
    BuildDefaultVersaTex(params);
    EXPECT_EQ(params.mapping, nullptr);
    params.image = &pyramid;  // a pyramid that holds no pixels
    params.mapping = std::make_unique<UniRevTex>();
    BuildDefaultVersaTex(params);
    EXPECT_EQ(params.mapping, nullptr);
}

TEST_F(TextureParamsTest, DefaultMappingUsesTheImageDiagonalAndRestoresScale) {
    SetImage(300, 400);
    params.cTiles = 2.0;
    params.scale = 3.5;
    BuildDefaultVersaTex(params);
    ASSERT_NE(params.mapping, nullptr);
    EXPECT_EQ(params.scale, 3.5);
    const VersaTex& versa = Versa();
    EXPECT_EQ(versa.poleless, 1);
    EXPECT_EQ(versa.numSurfs, 2);
    EXPECT_NEAR(versa.length, 2 * std::numbers::pi * 2.0, 1e-12);
    EXPECT_NEAR(versa.inLen, std::numbers::pi * 2.0, 1e-12);
    EXPECT_NEAR(versa.maxCirc1, 2 * std::numbers::pi, 1e-12);
    // The diagonal (500) times cTiles over 2 pi: 500 / pi, which the edge caps take as scale.
    ASSERT_FALSE(versa.VTPMaps.empty());
    EXPECT_NEAR(versa.VTPMaps[0]->scale, 500 / std::numbers::pi, 1e-9);
    EXPECT_GE(versa.band0->mScale, 500 / std::numbers::pi - 1e-9);
    EXPECT_NEAR(versa.edgeOfs, versa.tRad * 0.5 / versa.band0->mScale, 1e-12);
    ExpectBandCovered(*versa.band0, 300, 400);
    ExpectBandCovered(*versa.band1, 300, 400);
}

TEST_F(TextureParamsTest, EdgeMapCountsFollowPCircle) {
    SetImage(64, 48);
    struct Case {
        double pCircle;
        std::size_t edges;
    };
    for (const Case c : {Case{2.0, 6}, Case{0.5, 2}, Case{1.0, 4}}) {
        SCOPED_TRACE(c.pCircle);
        params.pCircle = c.pCircle;
        BuildDefaultVersaTex(params);
        ASSERT_NE(params.mapping, nullptr);
        EXPECT_EQ(Versa().VTPMaps.size(), c.edges);
        EXPECT_EQ(Versa().VTTMaps.size(), c.edges);
        EXPECT_EQ(Versa().edgeCapsToBuild, static_cast<int>(c.edges));
        for (const auto& band : Versa().VTTMaps) EXPECT_GT(band->tileCount, 0);
        for (const auto& cap : Versa().VTPMaps) EXPECT_GT(cap->tileCount, 0);
        EXPECT_EQ(Versa().band0->overCell1, 0);
        EXPECT_EQ(Versa().band0->vcells, Versa().band0->vcr);
    }
}

// Every tile, link and cell of every map of a mapping, with their counts, in map order.
std::vector<std::uint8_t> LayoutBytes(const VersaTex& v) {
    std::vector<std::uint8_t> bytes;
    auto add = [&](const void* p, std::size_t n) {
        if (n == 0) return;
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    };
    auto addCounts = [&](std::int32_t tiles, std::int32_t links) {
        add(&tiles, sizeof tiles);
        add(&links, sizeof links);
    };
    std::vector<const TileMap*> bands{v.band0.get(), v.band1.get()};
    for (const auto& band : v.VTTMaps) bands.push_back(band.get());
    for (const TileMap* m : bands) {
        addCounts(m->tileCount, m->heapCount);
        add(m->tiles, sizeof(TexTile) * static_cast<std::size_t>(m->tileCount));
        add(m->heaps, sizeof(IndLink) * static_cast<std::size_t>(m->heapCount));
        add(m->cells, 4 * static_cast<std::size_t>(m->hcells) * static_cast<std::size_t>(m->vcells));
    }
    for (const auto& cap : v.VTPMaps) {
        addCounts(cap->tileCount, cap->heapCount);
        add(cap->tiles, sizeof(TexTile) * static_cast<std::size_t>(cap->tileCount));
        add(cap->heaps, sizeof(IndLink) * static_cast<std::size_t>(cap->heapCount));
        const std::size_t side = 2 * static_cast<std::size_t>(cap->cellsPerSide);
        add(cap->cells, 4 * side * side);
    }
    return bytes;
}

// FNV-1a, 64 bits.
std::uint64_t Hash(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

TEST_F(TextureParamsTest, LayoutsRepeatExactlyOnEveryBuild) {
    SetImage(50, 70);
    params.taR = 1.0;
    BuildDefaultVersaTex(params);
    ASSERT_NE(params.mapping, nullptr);
    const auto first = LayoutBytes(Versa());
    EXPECT_GT(Versa().band0->tileCount, 1);
    BuildDefaultVersaTex(params);
    ASSERT_NE(params.mapping, nullptr);
    EXPECT_EQ(LayoutBytes(Versa()), first);
    // Every chain ends with -1 and names a placed tile.
    const TileMap& band = *Versa().band0;
    for (int c = 0; c < band.hcells * band.vcells; ++c) {
        for (int link = band.cells[c]; link != -1; link = band.heaps[link].next) {
            ASSERT_LT(link, band.heapCount);
            ASSERT_LT(band.heaps[link].ind, band.tileCount);
        }
    }
}

// Angle difference folded into [-pi, pi).
double AngleGap(double a, double b) {
    const double d = a - b;
    return d - 2 * std::numbers::pi * std::floor(d / (2 * std::numbers::pi) + 0.5);
}

TEST_F(TextureParamsTest, TileRotationsDrawOneStateEachFromTheSeed) {
    SetImage(64, 48);
    params.ta = 0.3;
    params.taR = 1.2;
    BuildDefaultVersaTex(params);
    ASSERT_NE(params.mapping, nullptr);
    const VersaTex& v = Versa();
    std::uint32_t state = 0x31415927u;
    auto baseAngle = [&] { return (state / 2147483648.0 - 1) * params.taR + params.ta; };
    auto advance = [&] { state = state * 1664525u + 1013904223u; };
    // Bands 0 and 1, then the edge caps, then the edge bands: one draw per tile, in order.
    auto checkBand = [&](const TileMap& band) {
        for (int i = 0; i < band.tileCount; ++i) {
            const TexTile& t = band.tiles[i];
            ASSERT_NEAR(AngleGap(std::atan2(t.hd, t.vd), baseAngle()), 0.0, 1e-5) << "tile " << i;
            advance();
        }
    };
    checkBand(*v.band0);
    checkBand(*v.band1);
    for (const auto& cap : v.VTPMaps) {
        for (int i = 0; i < cap->tileCount; ++i) {
            // A cap turns each tile a further quarter turn one way or the other by its side.
            const double gap = std::fabs(AngleGap(std::atan2(cap->tiles[i].hd, cap->tiles[i].vd), baseAngle()));
            ASSERT_NEAR(gap, std::numbers::pi / 2, 1e-5) << "cap tile " << i;
            advance();
        }
    }
    for (const auto& band : v.VTTMaps) checkBand(*band);
    EXPECT_EQ(v.buildMarker, state);
}

TEST_F(TextureParamsTest, ProgressComesEverySixteenTilesAndRisesThroughTheStages) {
    SetImage(64, 48);
    static std::vector<int> values;
    values.clear();
    TexMapProgressHook = [](int value, int total) {
        EXPECT_EQ(total, 10000);
        values.push_back(value);
    };
    BuildDefaultVersaTex(params);
    TexMapProgressHook = nullptr;
    ASSERT_NE(params.mapping, nullptr);
    const VersaTex& v = Versa();
    // Reports come after tiles 1, 17, 33, ... of every map: band 0 in [0, 0.4], band 1 in
    // [0.4, 0.8], the edge caps in [0.8, 0.9) and the edge bands in [0.9, 1).
    struct Stage {
        int tiles;
        int low;
        int high;
    };
    std::vector<Stage> stages{{v.band0->tileCount, 0, 4000}, {v.band1->tileCount, 4000, 8000}};
    for (const auto& cap : v.VTPMaps) stages.push_back({cap->tileCount, 8000, 8999});
    for (const auto& band : v.VTTMaps) stages.push_back({band->tileCount, 9000, 9999});
    std::size_t next = 0;
    for (const Stage& s : stages) {
        ASSERT_GT(s.tiles, 0);
        for (int report = 0; report < (s.tiles + 15) / 16; ++report, ++next) {
            ASSERT_LT(next, values.size());
            EXPECT_GE(values[next], s.low) << next;
            EXPECT_LE(values[next], s.high) << next;
            if (next > 0) {
                EXPECT_GE(values[next], values[next - 1]) << next;
            }
        }
    }
    EXPECT_EQ(next, values.size());
    // The caps report the share of caps built before them.
    const int capReports = (v.VTPMaps[0]->tileCount + 15) / 16;
    const std::size_t firstCap = static_cast<std::size_t>((v.band0->tileCount + 15) / 16 +
                                                          (v.band1->tileCount + 15) / 16);
    EXPECT_EQ(values[firstCap], 8000);
    EXPECT_EQ(values[firstCap + static_cast<std::size_t>(capReports)],
              static_cast<int>((0.8 + 0.1 / static_cast<double>(v.VTPMaps.size())) * 10000));
}

TEST_F(TextureParamsTest, NonsenseParametersGiveNoMappingAndNoCrash) {
    SetImage(32, 32);
    const double values[] = {0.0, -2.0, 1e12, std::nan(""), INFINITY};
    for (double v : values) {
        SCOPED_TRACE(v);
        params.pCircle = v;
        params.cTiles = 1.0;
        BuildDefaultVersaTex(params);
        if (params.mapping != nullptr) {
            EXPECT_TRUE(params.mapping->IsUsable());
        }
        params.pCircle = 2.0;
        params.cTiles = v;
        BuildDefaultVersaTex(params);
        if (params.mapping != nullptr) {
            EXPECT_TRUE(params.mapping->IsUsable());
        }
    }
    params.pCircle = 1e12;
    params.cTiles = 1.0;
    BuildDefaultVersaTex(params);
    EXPECT_EQ(params.mapping, nullptr);
}

TEST_F(TextureParamsTest, RefusedMemoryAndAbandonLeaveNoMapping) {
    SetImage(40, 40);
    BuildDefaultVersaTex(params);
    ASSERT_NE(params.mapping, nullptr);
    // Room for the mapping object and its records but not for its maps: the build runs out of
    // memory, and the material ends without a mapping, its scale intact.
    params.scale = 2.0;
    params.mapping.reset();
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + 4096);
    BuildDefaultVersaTex(params);
    PrivateHeapSetCeiling(0);
    EXPECT_EQ(params.mapping, nullptr);
    EXPECT_EQ(params.scale, 2.0);
    // Refused before the build: the exception reaches the caller.
    PrivateHeapRefuseNext(2);
    EXPECT_THROW(BuildDefaultVersaTex(params), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);

    static int calls = 0;
    calls = 0;
    TexMapProgressHook = [](int value, int total) {
        EXPECT_EQ(total, 10000);
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 10000);
        if (++calls == 2) throw 7;
    };
    BuildDefaultVersaTex(params);
    EXPECT_EQ(params.mapping, nullptr);
    EXPECT_EQ(params.scale, 2.0);
    EXPECT_EQ(calls, 2);
}

TEST(FreeBufferArray, FreesEveryBufferAndTheArray) {
    const std::size_t before = PrivateHeapBlockCount();
    BufferArray record;
    FreeBufferArray(record);
    record.capacity = 3;
    record.count = 2;
    record.buffers = static_cast<void**>(PrivateAllocZeroed(3 * sizeof(void*)));
    record.buffers[0] = PrivateAlloc(16);
    record.buffers[2] = PrivateAlloc(16);
    FreeBufferArray(record);
    EXPECT_EQ(record.buffers, nullptr);
    EXPECT_EQ(record.capacity, 0);
    EXPECT_EQ(PrivateHeapBlockCount(), before);
}

// The layouts of fixed builds, recorded once: any change to the builders' arithmetic or their
// visiting order shows here.
TEST_F(TextureParamsTest, DefaultLayoutsMatchTheirRecordedHashes) {
    struct Case {
        int w;
        int h;
        double taR;
        double pCircle;
        std::uint64_t hash;
    };
    const Case cases[] = {
        {256, 192, std::numbers::pi, 2.0, 0x41db5480825cc62aull},
        {64, 100, 1.0, 1.5, 0xb2ce0252f98094d4ull},
        {512, 512, std::numbers::pi, 3.0, 0x45d8af30879afa3dull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        SetImage(c.w, c.h);
        params.cTiles = 2.0;
        params.taR = c.taR;
        params.pCircle = c.pCircle;
        BuildDefaultVersaTex(params);
        ASSERT_NE(params.mapping, nullptr);
        const std::vector<std::uint8_t> bytes = LayoutBytes(Versa());
        EXPECT_EQ(Hash(bytes), c.hash);
    }
}

}  // namespace
