#include "render/span_region.h"

#include "core/crt_random.h"
#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// ---- A boolean-mask model of a region: one bool per pixel of a fixed column window. ----

constexpr int XLo = -64;
constexpr int XHi = 192;

struct MaskRegion {
    int top = 0;
    int bottom = 0;
    std::vector<std::vector<bool>> rows;  // bottom - top rows of XHi - XLo pixels

    void SetEmpty(int t, int b) {
        top = t;
        bottom = std::max(t, b);
        rows.assign(static_cast<size_t>(bottom - top), std::vector<bool>(XHi - XLo, false));
    }
    std::vector<bool>& Row(int y) { return rows[static_cast<size_t>(y - top)]; }
    const std::vector<bool>& Row(int y) const { return rows[static_cast<size_t>(y - top)]; }
    void Set(int y, int x0, int x1, bool on) {
        for (int x = std::max(x0, XLo); x < std::min(x1, XHi); ++x) Row(y)[x - XLo] = on;
    }
    // Rows newTop..newBottom-1 holding the old rows.
    void Extend(int newTop, int newBottom) {
        MaskRegion grown;
        grown.SetEmpty(newTop, newBottom);
        for (int y = top; y < bottom; ++y) grown.Row(y) = Row(y);
        *this = grown;
    }
};

std::vector<bool> MaskOfRow(const SpanRegion& region, int y) {
    std::vector<bool> mask(XHi - XLo, false);
    const std::int16_t* t = region.Row(y);
    for (; t[0] != SpanRowEnd; t += 2) {
        EXPECT_NE(t[1], SpanRowEnd) << "odd transition count in row " << y;
        if (t[1] == SpanRowEnd) break;
        for (int x = t[0]; x < t[1]; ++x) {
            if (x >= XLo && x < XHi) mask[static_cast<size_t>(x - XLo)] = true;
        }
    }
    return mask;
}

// The transitions of a row are strictly ascending (no empty or touching runs) and even.
bool RowIsCanonical(const SpanRegion& region, int y) {
    const std::int16_t* t = region.Row(y);
    int n = 0;
    for (; t[n] != SpanRowEnd; ++n) {
        if (n > 0 && t[n] <= t[n - 1]) return false;
    }
    return n % 2 == 0;
}

RegionRect ModelBounds(const MaskRegion& m) {
    RegionRect r{32766, m.top, -32768, m.top};
    bool any = false;
    for (int y = m.top; y < m.bottom; ++y) {
        const auto& row = m.Row(y);
        const auto first = std::find(row.begin(), row.end(), true);
        if (first == row.end()) continue;
        const auto last = std::find(row.rbegin(), row.rend(), true);
        const int x0 = static_cast<int>(first - row.begin()) + XLo;
        const int x1 = static_cast<int>(row.rend() - last) + XLo;
        if (!any) r.y0 = y;
        any = true;
        r.x0 = std::min(r.x0, x0);
        r.x1 = std::max(r.x1, x1);
        r.y1 = y + 1;
    }
    return r;
}

void ExpectMatches(const SpanRegion& region, const MaskRegion& model, const std::string& where) {
    ASSERT_EQ(region.Top(), model.top) << where;
    ASSERT_EQ(region.Bottom(), model.bottom) << where;
    for (int y = model.top; y < model.bottom; ++y) {
        ASSERT_TRUE(RowIsCanonical(region, y)) << where << " row " << y;
        ASSERT_EQ(MaskOfRow(region, y), model.Row(y)) << where << " row " << y;
    }
    const RegionRect got = RegionGetBounds(region);
    const RegionRect want = ModelBounds(model);
    ASSERT_EQ(got.x0, want.x0) << where;
    ASSERT_EQ(got.y0, want.y0) << where;
    ASSERT_EQ(got.x1, want.x1) << where;
    ASSERT_EQ(got.y1, want.y1) << where;
    ASSERT_LE(region.UsedBytes(), region.CapacityBytes()) << where;
}

int Random(int lo, int hi) { return lo + CrtRand() % (hi - lo); }  // lo..hi-1

// The least and greatest covered column of the model, or an empty range.
std::pair<int, int> ModelColumns(const MaskRegion& m) {
    const RegionRect b = ModelBounds(m);
    return {b.x0, b.x1};
}

struct RandomList {
    SpanList list;
    MaskRegion rows;  // one run per row
};

void FillRandomList(RandomList& out) {
    const int top = Random(-10, 40);
    const int bottom = top + Random(0, 12);
    out.list.SetRows(top, bottom);
    out.rows.SetEmpty(top, bottom);
    for (int y = top; y < bottom; ++y) {
        if (Random(0, 4) == 0) continue;  // an empty run
        const int x0 = Random(-20, 100);
        const int x1 = x0 + Random(-3, 40);
        out.list.SetRun(y, x0, x1);
        if (x1 > x0) out.rows.Set(y, x0, x1, true);
    }
}

TEST(SpanRegion, RandomOperationsAgreeWithMaskModel) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        CrtSrand(seed);
        SpanRegion regions[3];
        MaskRegion models[3];
        RandomList list;
        for (int step = 0; step < 300; ++step) {
            const int i = Random(0, 3);
            const int j = Random(0, 3);
            SpanRegion& r = regions[i];
            MaskRegion& m = models[i];
            const int op = Random(0, 10);
            const std::string where = "seed " + std::to_string(seed) + " step " +
                                      std::to_string(step) + " op " + std::to_string(op);
            switch (op) {
                case 0: {
                    const int top = Random(-10, 40);
                    const int bottom = top + Random(-2, 20);
                    RegionSetEmpty(r, top, bottom);
                    m.SetEmpty(top, std::max(top, bottom));
                    break;
                }
                case 1: {
                    const int x0 = Random(-20, 100), y0 = Random(-10, 40);
                    const int x1 = x0 + Random(-5, 60), y1 = y0 + Random(-3, 20);
                    RegionSetRect(r, x0, y0, x1, y1);
                    if (x1 <= x0 || y1 <= y0) {
                        m.SetEmpty(0, 0);
                    } else {
                        m.SetEmpty(y0, y1);
                        for (int y = y0; y < y1; ++y) m.Set(y, x0, x1, true);
                    }
                    break;
                }
                case 2: {
                    const auto [lo, hi] = ModelColumns(m);
                    int dx = Random(-6, 7);
                    if (lo <= hi && (lo + dx < XLo + 1 || hi + dx > XHi - 1)) dx = 0;
                    int dy = Random(-4, 5);
                    if (m.top + dy < -30 || m.bottom + dy > 70) dy = 0;
                    RegionOffset(r, dy, dx);
                    MaskRegion moved;
                    moved.SetEmpty(m.top + dy, m.bottom + dy);
                    for (int y = m.top; y < m.bottom; ++y) {
                        for (int x = XLo; x < XHi; ++x) {
                            if (m.Row(y)[x - XLo]) moved.Set(y + dy, x + dx, x + dx + 1, true);
                        }
                    }
                    m = moved;
                    break;
                }
                case 3:
                    RegionCopy(r, regions[j]);
                    m = models[j];
                    break;
                case 4: {
                    const int x0 = Random(-20, 100), y0 = Random(-10, 40);
                    const int x1 = x0 + Random(-5, 80), y1 = y0 + Random(-3, 30);
                    RegionClip(r, x0, y0, x1, y1);
                    const int top = std::max(m.top, y0), bottom = std::min(m.bottom, y1);
                    if (top >= bottom || x0 >= x1) {
                        m.SetEmpty(0, 0);
                    } else {
                        MaskRegion clipped;
                        clipped.SetEmpty(top, bottom);
                        for (int y = top; y < bottom; ++y) {
                            for (int x = std::max(x0, XLo); x < std::min(x1, XHi); ++x) {
                                clipped.Row(y)[x - XLo] = m.Row(y)[x - XLo];
                            }
                        }
                        m = clipped;
                    }
                    break;
                }
                case 5:
                case 6: {
                    if (m.top == m.bottom) break;
                    // Several spans on one row, so that rows fill up and widen.
                    const int y = Random(m.top, m.bottom);
                    const int count = op == 5 ? 1 : Random(5, 25);
                    for (int k = 0; k < count; ++k) {
                        const std::uint8_t mode = static_cast<std::uint8_t>(Random(0, 2));
                        const int x0 = Random(-20, 120);
                        const int x1 = x0 + Random(-2, 12);
                        RegionSetSpan(mode, r, y, x0, x1);
                        if (x1 > x0) m.Set(y, x0, x1, mode == 1);
                    }
                    break;
                }
                case 7: {
                    FillRandomList(list);
                    RegionAddSpanList(list.list, r);
                    const MaskRegion& l = list.rows;
                    if (l.top == l.bottom) break;
                    if (m.top == m.bottom) {
                        m = l;
                    } else {
                        m.Extend(std::min(m.top, l.top), std::max(m.bottom, l.bottom));
                        for (int y = l.top; y < l.bottom; ++y) {
                            for (int x = XLo; x < XHi; ++x) {
                                if (l.Row(y)[x - XLo]) m.Row(y)[x - XLo] = true;
                            }
                        }
                    }
                    break;
                }
                case 8:
                case 9: {
                    const std::uint8_t mode = op == 8 ? 1 : 0;
                    const MaskRegion s = models[j];
                    RegionCombine(regions[j], r, mode);
                    if (s.top == s.bottom) break;
                    if (i == j) {
                        if (mode == 0) m.SetEmpty(m.top, m.bottom);
                        break;
                    }
                    if (m.top == m.bottom) {
                        if (mode == 1) m = s;
                        break;
                    }
                    if (mode == 1) m.Extend(std::min(m.top, s.top), std::max(m.bottom, s.bottom));
                    for (int y = std::max(m.top, s.top); y < std::min(m.bottom, s.bottom); ++y) {
                        for (int x = XLo; x < XHi; ++x) {
                            if (s.Row(y)[x - XLo]) m.Row(y)[x - XLo] = mode == 1;
                        }
                    }
                    break;
                }
            }
            ExpectMatches(r, m, where);
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

std::vector<int> Transitions(const SpanRegion& r, int y) {
    std::vector<int> out;
    for (const std::int16_t* t = r.Row(y); *t != SpanRowEnd; ++t) out.push_back(*t);
    return out;
}

TEST(SpanRegion, RowEditsMergeAndSplitRuns) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> start;
        std::uint8_t mode;
        int x0, x1;
        std::vector<int> want;
    };
    const Case cases[] = {
        {"touching on the left merges", {{5, 10}}, 1, 10, 15, {5, 15}},
        {"touching on the right merges", {{15, 20}}, 1, 10, 15, {10, 20}},
        {"bridging two runs", {{0, 5}, {8, 12}}, 1, 5, 8, {0, 12}},
        {"removing from the middle splits", {{5, 20}}, 0, 10, 15, {5, 10, 15, 20}},
        {"removing the whole run", {{5, 20}}, 0, 0, 30, {}},
        {"removing what touches only", {{5, 20}}, 0, 20, 25, {5, 20}},
        {"an empty span changes nothing", {{5, 20}}, 0, 12, 12, {5, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpanRegion r;
        RegionSetEmpty(r, 0, 1);
        for (const auto& [x0, x1] : c.start) RegionSetSpan(1, r, 0, x0, x1);
        RegionSetSpan(c.mode, r, 0, c.x0, c.x1);
        EXPECT_EQ(Transitions(r, 0), c.want);
    }
}

TEST(SpanRegion, ClipCutsRunsAtTheRectangle) {
    struct Case {
        const char* name;
        int x0, x1;
        std::vector<std::pair<int, int>> start;
        std::vector<int> want;
    };
    const Case cases[] = {
        {"both ends inside a run", 10, 15, {{5, 20}}, {10, 15}},
        {"a run ending at x0 goes", 10, 40, {{0, 10}, {12, 14}}, {12, 14}},
        {"a run starting at x1 goes", 0, 15, {{2, 4}, {15, 30}}, {2, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpanRegion r;
        RegionSetEmpty(r, 0, 1);
        for (const auto& [x0, x1] : c.start) RegionSetSpan(1, r, 0, x0, x1);
        RegionClip(r, c.x0, -5, c.x1, 5);
        EXPECT_EQ(Transitions(r, 0), c.want);
    }

    SpanRegion r;
    RegionSetRect(r, 0, 10, 20, 20);
    RegionClip(r, 0, 30, 20, 40);
    EXPECT_TRUE(r.HasNoRows());
    EXPECT_EQ(r.Top(), 0);
    EXPECT_EQ(r.UsedBytes(), 16u);  // no rows and no index are left
}

TEST(SpanRegion, BoundsOfRowsWithoutRuns) {
    SpanRegion r;
    RegionSetEmpty(r, 4, 9);
    const RegionRect b = RegionGetBounds(r);
    EXPECT_EQ(b.x0, 32766);
    EXPECT_EQ(b.y0, 4);
    EXPECT_EQ(b.x1, -32768);
    EXPECT_EQ(b.y1, 4);
}

TEST(SpanRegion, UnionAcrossAGapKeepsEmptyRowsBetween) {
    SpanRegion a, b;
    RegionSetRect(a, 0, 0, 10, 2);
    RegionSetRect(b, 5, 6, 8, 8);
    RegionCombine(b, a, 1);
    EXPECT_EQ(a.Top(), 0);
    EXPECT_EQ(a.Bottom(), 8);
    for (int y = 2; y < 6; ++y) EXPECT_TRUE(Transitions(a, y).empty()) << y;
    EXPECT_EQ(Transitions(a, 7), (std::vector<int>{5, 8}));

    SpanRegion empty, difference;
    RegionCombine(b, empty, 0);
    EXPECT_TRUE(empty.HasNoRows());
    RegionCombine(b, difference, 1);
    EXPECT_EQ(difference.Top(), 6);
    EXPECT_EQ(Transitions(difference, 6), (std::vector<int>{5, 8}));
}

TEST(SpanRegion, ManyRunsWidenTheRowAndGrowTheBlock) {
    SpanRegion r;
    RegionSetEmpty(r, 0, 3);
    for (int k = 0; k < 400; ++k) RegionSetSpan(1, r, 1, 4 * k, 4 * k + 2);
    const std::vector<int> t = Transitions(r, 1);
    ASSERT_EQ(t.size(), 800u);
    for (int k = 0; k < 400; ++k) EXPECT_EQ(t[2 * k], 4 * k);
    EXPECT_TRUE(Transitions(r, 0).empty());
    EXPECT_TRUE(Transitions(r, 2).empty());
    EXPECT_GT(r.CapacityBytes(), SpanRegionInitialBytes);

    // Growth goes to one and a half times what is needed.
    SpanRegion big;
    RegionSetEmpty(big, 0, 100);  // 100 x 36 + 16 bytes
    EXPECT_EQ(big.CapacityBytes(), (100u * 36 + 16) * 3 / 2);
}

TEST(SpanRegion, RefusedGrowthKeepsTheRegion) {
    SpanRegion r;
    RegionSetRect(r, 1, 2, 30, 5);
    PrivateHeapRefuseNext(1);
    EXPECT_THROW(RegionSetEmpty(r, 0, 1000), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(r.Top(), 2);
    EXPECT_EQ(r.Bottom(), 5);
    EXPECT_EQ(Transitions(r, 4), (std::vector<int>{1, 30}));
}

TEST(SpanRegion, CopyKeepsTheTargetsLargerBlock) {
    SpanRegion big, small;
    RegionSetEmpty(big, 0, 200);
    const std::uint32_t capacity = big.CapacityBytes();
    RegionSetRect(small, 3, 4, 9, 6);
    RegionCopy(big, small);
    EXPECT_EQ(big.CapacityBytes(), capacity);
    EXPECT_EQ(big.Top(), 4);
    EXPECT_EQ(Transitions(big, 5), (std::vector<int>{3, 9}));
}

}  // namespace
