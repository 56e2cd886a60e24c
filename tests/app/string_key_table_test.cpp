#include "app/string_key_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Key(int i) { return "Sounds/voice" + std::to_string(i) + ".wav"; }

// Keys whose probing starts at the same slot of a 64-slot table.
std::vector<std::string> CollidingKeys(std::size_t count) {
    std::vector<std::string> keys;
    const std::uint32_t home = HashKey(Key(0)) % 64;
    for (int i = 0; keys.size() < count; ++i) {
        if (HashKey(Key(i)) % 64 == home) keys.push_back(Key(i));
    }
    return keys;
}

TEST(StringKeyTable, HashKeyReadsEveryByteAndTheLength) {
    // Keys that differ in one byte anywhere, or only in length, hash apart.
    const std::string base = "abcdefghijklmnopqrstuvwxyz0";
    const std::uint32_t h = HashKey(base);
    for (std::size_t i = 0; i < base.size(); ++i) {
        std::string changed = base;
        changed[i] = static_cast<char>(changed[i] ^ 0x80);
        EXPECT_NE(HashKey(changed), h) << "byte " << i;
    }
    EXPECT_NE(HashKey(std::string("a\0", 2)), HashKey("a"));
    EXPECT_NE(HashKey(""), HashKey(std::string(1, '\0')));
    EXPECT_EQ(HashKey(base), h);
}

TEST(StringKeyTable, FindsSetsReplacesAndRemoves) {
    StringTable table;
    EXPECT_EQ(table.HashFind("a"), nullptr);
    table.HashSet("a", "1");
    table.HashSet("b", "2");
    ASSERT_NE(table.HashFind("a"), nullptr);
    EXPECT_EQ(*table.HashFind("a"), "1");
    table.HashSet("a", "one");
    EXPECT_EQ(*table.HashFind("a"), "one");
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_TRUE(table.HashRemove("a"));
    EXPECT_FALSE(table.HashRemove("a"));
    EXPECT_FALSE(table.HashRemove("zz"));
    EXPECT_EQ(table.HashFind("a"), nullptr);
    EXPECT_EQ(*table.HashFind("b"), "2");
    EXPECT_EQ(table.Count(), 1u);
    // A key is the whole string, not a prefix.
    EXPECT_EQ(table.HashFind("bb"), nullptr);
    EXPECT_EQ(table.HashFind(""), nullptr);
}

TEST(StringKeyTable, GrowsBeforeTheInsertOnceOverHalfFull) {
    StringKeyTable<int> table;
    for (int i = 0; i < 33; ++i) table.HashSet(Key(i), i);
    EXPECT_EQ(table.Size(), 64u);
    table.HashSet(Key(0), 100);  // replacing also checks first: 33 > 32
    EXPECT_EQ(table.Size(), 128u);
    EXPECT_EQ(table.Count(), 33u);

    StringKeyTable<int> exact;
    for (int i = 0; i < 33; ++i) exact.HashSet(Key(i), i);
    exact.HashSet(Key(33), 33);  // the 34th key
    EXPECT_EQ(exact.Size(), 128u);
    EXPECT_EQ(exact.Count(), 34u);
    for (int i = 0; i < 34; ++i) {
        ASSERT_NE(exact.HashFind(Key(i)), nullptr) << i;
        EXPECT_EQ(*exact.HashFind(Key(i)), i);
    }
}

TEST(StringKeyTable, RemovalMarksArePassedOverAndReused) {
    const std::vector<std::string> keys = CollidingKeys(4);
    StringKeyTable<int> table;
    table.HashSet(keys[0], 0);
    table.HashSet(keys[1], 1);
    table.HashSet(keys[2], 2);
    const std::size_t home = *table.SlotOf(keys[0]);
    EXPECT_EQ(*table.SlotOf(keys[1]), (home + 1) % 64);
    EXPECT_EQ(*table.SlotOf(keys[2]), (home + 2) % 64);

    // The search for a key behind a mark goes on past it.
    ASSERT_TRUE(table.HashRemove(keys[1]));
    EXPECT_EQ(*table.HashFind(keys[2]), 2);
    // The removed key comes back into its mark's slot, the last mark before the search ends.
    table.HashSet(keys[1], 11);
    EXPECT_EQ(*table.SlotOf(keys[1]), (home + 1) % 64);

    // With two marks, a new key takes the later one.
    ASSERT_TRUE(table.HashRemove(keys[0]));
    ASSERT_TRUE(table.HashRemove(keys[1]));
    table.HashSet(keys[3], 3);
    EXPECT_EQ(*table.SlotOf(keys[3]), (home + 1) % 64);
    EXPECT_EQ(table.Count(), 2u);
    // A key present behind marks is replaced where it is.
    table.HashSet(keys[2], 22);
    EXPECT_EQ(*table.SlotOf(keys[2]), (home + 2) % 64);
    EXPECT_EQ(*table.HashFind(keys[2]), 22);
}

TEST(StringKeyTable, GrowthKeepsLiveKeysAndDropsMarks) {
    StringKeyTable<std::vector<int>> table;
    for (int i = 0; i < 40; ++i) table.HashSet(Key(i), std::vector<int>(3, i));
    for (int i = 0; i < 40; i += 2) ASSERT_TRUE(table.HashRemove(Key(i)));
    for (int i = 40; i < 80; ++i) table.HashSet(Key(i), std::vector<int>(1, i));
    EXPECT_EQ(table.Count(), 60u);
    EXPECT_EQ(table.Size(), 128u);
    for (int i = 0; i < 80; ++i) {
        SCOPED_TRACE(i);
        const std::vector<int>* v = table.HashFind(Key(i));
        if (i < 40 && i % 2 == 0) {
            EXPECT_EQ(v, nullptr);
        } else {
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->front(), i);
        }
    }
    std::size_t visited = 0;
    table.ForEach([&](std::string_view, std::vector<int>&) { ++visited; });
    EXPECT_EQ(visited, 60u);
}

}  // namespace
