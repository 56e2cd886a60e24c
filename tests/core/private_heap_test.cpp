#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Restores the heap's test controls and checks that a test returned what it took.
class PrivateHeapTest : public testing::Test {
protected:
    void SetUp() override { blocksBefore = PrivateHeapBlockCount(); }
    void TearDown() override {
        PrivateHeapSetCeiling(0);
        PrivateHeapRefuseNext(0);
        EXPECT_EQ(PrivateHeapBlockCount(), blocksBefore) << "blocks leaked";
    }
    std::size_t blocksBefore = 0;
};

// Runs fn, which must throw KVOutOfMemoryException, and returns the exception's first byte.
template <typename Fn>
char CaughtMessageByte(Fn fn) {
    try {
        fn();
    } catch (const KVOutOfMemoryException& e) {
        return e.message[0];
    }
    ADD_FAILURE() << "no KVOutOfMemoryException";
    return 'x';
}

TEST_F(PrivateHeapTest, AllocatesResizesAndFrees) {
    auto* block = static_cast<unsigned char*>(PrivateAlloc(100));
    std::memset(block, 0xAB, 100);
    EXPECT_EQ(PrivateHeapBytesInUse() >= 100, true);

    void* p = block;
    PrivateRealloc(&p, 5000);
    auto* grown = static_cast<unsigned char*>(p);
    EXPECT_EQ(grown[0], 0xAB);
    EXPECT_EQ(grown[99], 0xAB);
    PrivateFree(grown);
    PrivateFree(nullptr);
}

TEST_F(PrivateHeapTest, ZeroedAllocationIsZero) {
    auto* block = static_cast<unsigned char*>(PrivateAllocZeroed(4096));
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
    PrivateFree(block);
}

TEST_F(PrivateHeapTest, CeilingMakesAllocationThrowWithEmptyMessage) {
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + 1000);
    void* small = PrivateAlloc(500);
    EXPECT_EQ(CaughtMessageByte([] { PrivateAlloc(1000); }), '\0');
    EXPECT_EQ(CaughtMessageByte([] { PrivateAllocZeroed(1000); }), '\0');
    PrivateFree(small);
}

TEST_F(PrivateHeapTest, AllocSucceedsAfterOneRefusalThroughCompactionRetry) {
    PrivateHeapRefuseNext(1);
    void* block = PrivateAlloc(64);
    EXPECT_NE(block, nullptr);
    PrivateFree(block);

    PrivateHeapRefuseNext(2);
    EXPECT_EQ(CaughtMessageByte([] { PrivateAlloc(64); }), '\0');
}

TEST_F(PrivateHeapTest, ZeroedAllocationHasNoRetry) {
    PrivateHeapRefuseNext(1);
    EXPECT_EQ(CaughtMessageByte([] { PrivateAllocZeroed(64); }), '\0');
}

TEST_F(PrivateHeapTest, FailedResizeKeepsOldBlockAndPointer) {
    auto* block = static_cast<unsigned char*>(PrivateAlloc(16));
    std::memset(block, 7, 16);
    void* p = block;

    PrivateHeapRefuseNext(1);
    CaughtMessageByte([&] { PrivateRealloc(&p, 1 << 20); });
    EXPECT_EQ(p, block);
    EXPECT_EQ(block[15], 7);

    PrivateHeapRefuseNext(1);
    CaughtMessageByte([&] { PrivateReallocPtr(block, 1 << 20); });
    EXPECT_EQ(block[15], 7);
    PrivateFree(block);
}

TEST_F(PrivateHeapTest, FreePointerVectorFreesAndEmpties) {
    std::vector<void*> blocks = {PrivateAlloc(8), nullptr, PrivateAlloc(32)};
    FreePointerVector(blocks);
    EXPECT_TRUE(blocks.empty());
}

TEST(TranslateBadAlloc, TurnsBadAllocIntoOutOfMemory) {
    EXPECT_THROW(TranslateBadAlloc([]() -> int { throw std::bad_alloc(); }),
                 KVOutOfMemoryException);
    EXPECT_EQ(TranslateBadAlloc([] { return 3; }), 3);
}

}  // namespace
