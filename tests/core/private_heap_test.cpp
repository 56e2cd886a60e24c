#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

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
    for (std::uint32_t size : {4096u, 200u}) {
        SCOPED_TRACE(size);
        // A pooled slot comes back from its free list holding the last owner's bytes.
        void* recycled = PrivateAlloc(size);
        std::memset(recycled, 0xEE, size);
        PrivateFree(recycled);
        auto* block = static_cast<unsigned char*>(PrivateAllocZeroed(size));
        for (std::uint32_t i = 0; i < size; ++i) ASSERT_EQ(block[i], 0) << i;
        PrivateFree(block);
    }
}

// Requests on both sides of the pooled sizes, several of each held at once: every block is
// 16-byte aligned, keeps its own bytes while its neighbours are freed and taken again, and
// is counted exactly.
TEST_F(PrivateHeapTest, SmallAndLargeBlocksKeepTheirBytesAndAreCounted) {
    const std::uint32_t sizes[] = {0, 1, 15, 16, 17, 64, 255, 256, 257, 4096};
    const std::size_t bytesBefore = PrivateHeapBytesInUse();
    struct Held {
        unsigned char* block;
        std::uint32_t size;
        unsigned char fill;
    };
    std::vector<Held> held;
    std::size_t total = 0;
    for (int round = 0; round < 3; ++round) {
        for (std::uint32_t size : sizes) {
            auto* block = static_cast<unsigned char*>(PrivateAlloc(size));
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u) << size;
            const auto fill = static_cast<unsigned char>(held.size() + 1);
            std::memset(block, fill, size);
            held.push_back({block, size, fill});
            total += size;
        }
    }
    EXPECT_EQ(PrivateHeapBytesInUse(), bytesBefore + total);
    EXPECT_EQ(PrivateHeapBlockCount(), blocksBefore + held.size());

    for (std::size_t i = 0; i < held.size(); i += 2) {
        PrivateFree(held[i].block);
        held[i].block = static_cast<unsigned char*>(PrivateAlloc(held[i].size));
        std::memset(held[i].block, held[i].fill, held[i].size);
    }
    for (const Held& h : held) {
        SCOPED_TRACE(h.size);
        EXPECT_EQ(std::count(h.block, h.block + h.size, h.fill), static_cast<long>(h.size));
    }
    for (const Held& h : held) PrivateFree(h.block);
    EXPECT_EQ(PrivateHeapBytesInUse(), bytesBefore);
}

// Resizes within a slot, between slots, between a slot and a block of its own and between
// blocks of their own keep the common bytes and count the new size; a refused resize of each
// kind leaves the block, its address and its bytes as they were.
TEST_F(PrivateHeapTest, ResizesOfEveryKindKeepTheCommonBytes) {
    struct Case {
        std::uint32_t from, to;
    };
    const Case cases[] = {{16, 8}, {16, 40}, {100, 5000}, {5000, 100}, {5000, 9000}, {0, 300}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        const std::size_t bytesBefore = PrivateHeapBytesInUse();
        void* block = PrivateAlloc(c.from);
        auto pattern = [](std::uint32_t i) { return static_cast<unsigned char>(i * 7 + 1); };
        auto* bytes = static_cast<unsigned char*>(block);
        for (std::uint32_t i = 0; i < c.from; ++i) bytes[i] = pattern(i);

        void* kept = block;
        PrivateHeapRefuseNext(1);
        EXPECT_EQ(CaughtMessageByte([&] { PrivateRealloc(&kept, c.to); }), '\0');
        EXPECT_EQ(kept, block);
        EXPECT_EQ(PrivateHeapBytesInUse(), bytesBefore + c.from);

        PrivateRealloc(&block, c.to);
        EXPECT_EQ(PrivateHeapBytesInUse(), bytesBefore + c.to);
        for (std::uint32_t i = 0; i < std::min(c.from, c.to); ++i) {
            ASSERT_EQ(static_cast<unsigned char*>(block)[i], pattern(i)) << i;
        }
        std::memset(block, 0, c.to);
        PrivateFree(block);
        EXPECT_EQ(PrivateHeapBytesInUse(), bytesBefore);
    }
}

TEST_F(PrivateHeapTest, FreeingASlotTwiceIsCaught) {
    EXPECT_DEATH(
        {
            void* block = PrivateAlloc(32);
            PrivateFree(block);
            PrivateFree(block);
        },
        "");
}

// Destroying the heap releases every block still held, pooled or not, and a heap created
// again serves requests. Run in a child process, since it frees what the other tests hold.
TEST_F(PrivateHeapTest, DestroyReleasesEveryBlockAndTheHeapCanBeCreatedAgain) {
    EXPECT_EXIT(
        {
            for (int i = 0; i < 5000; ++i) PrivateAlloc(static_cast<std::uint32_t>(i % 300));
            PrivateAlloc(1 << 20);
            PrivateHeapDestroy();
            const bool isEmpty = PrivateHeapBlockCount() == 0 && PrivateHeapBytesInUse() == 0;
            PrivateHeapCreate();
            void* small = PrivateAlloc(64);
            void* large = PrivateAlloc(1 << 20);
            std::memset(small, 1, 64);
            PrivateFree(large);
            PrivateFree(small);
            std::_Exit(isEmpty && PrivateHeapBlockCount() == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(PrivateHeapTest, CeilingMakesAllocationThrowWithEmptyMessage) {
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + 1000);
    void* small = PrivateAlloc(500);
    EXPECT_EQ(CaughtMessageByte([] { PrivateAlloc(1000); }), '\0');
    EXPECT_EQ(CaughtMessageByte([] { PrivateAllocZeroed(1000); }), '\0');
    // Pooled sizes meet the same ceiling.
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + 100);
    void* pooled = PrivateAlloc(64);
    EXPECT_EQ(CaughtMessageByte([] { PrivateAlloc(64); }), '\0');
    EXPECT_EQ(CaughtMessageByte([] { PrivateAllocZeroed(64); }), '\0');
    PrivateFree(pooled);
    PrivateFree(small);
}

// The heap remembers the first request the ceiling refused, as the total it would have made,
// so that the ceiling can be raised to exactly that; a new ceiling forgets it, and refusals
// counted out by PrivateHeapRefuseNext are not the ceiling's.
TEST_F(PrivateHeapTest, FirstRefusedTotalIsTheCeilingThatLetsTheRequestThrough) {
    const std::size_t held = PrivateHeapBytesInUse();
    PrivateHeapSetCeiling(held + 100);
    EXPECT_EQ(PrivateHeapFirstRefusedTotal(), 0u);
    void* pooled = PrivateAlloc(64);
    EXPECT_EQ(CaughtMessageByte([] { PrivateAlloc(300); }), '\0');
    EXPECT_EQ(CaughtMessageByte([] { PrivateAlloc(40); }), '\0');
    EXPECT_EQ(CaughtMessageByte([pooled] { PrivateReallocPtr(pooled, 1000); }), '\0');
    EXPECT_EQ(PrivateHeapFirstRefusedTotal(), held + 364);

    PrivateHeapSetCeiling(held + 364);
    EXPECT_EQ(PrivateHeapFirstRefusedTotal(), 0u);
    void* large = PrivateAlloc(300);
    PrivateHeapRefuseNext(1);
    EXPECT_EQ(CaughtMessageByte([] { PrivateAllocZeroed(16); }), '\0');
    EXPECT_EQ(PrivateHeapFirstRefusedTotal(), 0u);
    // A resize counts the total with the old size replaced by the new.
    EXPECT_EQ(CaughtMessageByte([large] { PrivateReallocPtr(large, 400); }), '\0');
    EXPECT_EQ(PrivateHeapFirstRefusedTotal(), held + 464);
    PrivateFree(large);
    PrivateFree(pooled);
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
