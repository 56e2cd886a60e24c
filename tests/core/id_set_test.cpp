#include "core/id_set.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::int32_t> BlockOf(const IdSet& set) {
    return {set.Block(), set.Block() + set.Count() + 1};
}

IdSet SetOf(std::initializer_list<std::int32_t> ids) {
    IdSet set;
    for (std::int32_t id : ids) set.Insert(id);
    return set;
}

TEST(IdSet, InsertKeepsOrderWithoutDuplicates) {
    EXPECT_EQ(BlockOf(SetOf({5, 3, 9, 3})), (std::vector<std::int32_t>{3, 3, 5, 9}));
    EXPECT_EQ(BlockOf(SetOf({-2, 7, 0, 7, -2, 4, 1, 6, 5})),
              (std::vector<std::int32_t>{7, -2, 0, 1, 4, 5, 6, 7}));
}

TEST(IdSet, GrowsByStepAndKeepsOrder) {
    IdSet set;
    for (std::int32_t id = 200; id > 100; --id) set.Insert(id);
    EXPECT_EQ(set.Capacity(), 100);
    set.Insert(0);
    EXPECT_EQ(set.Capacity(), 200);
    ASSERT_EQ(set.Count(), 101);
    for (std::int32_t i = 1; i < set.Count(); ++i) ASSERT_LT(set[i - 1], set[i]);

    IdSet copy = set;
    EXPECT_EQ(copy.Capacity(), 200);
    EXPECT_FALSE(copy != set);
}

TEST(IdSet, RemoveAndContains) {
    IdSet set = SetOf({1, 2, 3});
    IdSetRemove(set, 7);
    EXPECT_EQ(BlockOf(set), (std::vector<std::int32_t>{3, 1, 2, 3}));
    IdSetRemove(set, 2);
    EXPECT_EQ(BlockOf(set), (std::vector<std::int32_t>{2, 1, 3}));
    EXPECT_TRUE(set.Contains(3));
    EXPECT_FALSE(set.Contains(2));
}

TEST(IdSet, DifferenceAndInequality) {
    EXPECT_EQ(BlockOf(SetOf({1, 2, 3}).Difference(SetOf({2, 4}))),
              (std::vector<std::int32_t>{2, 1, 3}));
    EXPECT_EQ(BlockOf(SetOf({1, 2}).Difference(IdSet())), (std::vector<std::int32_t>{2, 1, 2}));
    EXPECT_EQ(SetOf({-1, 5}).Difference(IdSet()).Count(), 1);

    EXPECT_FALSE(SetOf({1, 2}) != SetOf({2, 1}));
    EXPECT_TRUE(SetOf({1, 2}) != SetOf({1, 3}));
    EXPECT_TRUE(SetOf({1, 2}) != SetOf({1}));
}

TEST(IdSet, CompareIdsIsSigned) {
    const std::int32_t a = -5, b = 3;
    EXPECT_EQ(CompareIds(&a, &b), -1);
    EXPECT_EQ(CompareIds(&b, &a), 1);
    EXPECT_EQ(CompareIds(&a, &a), 0);
}

}  // namespace
