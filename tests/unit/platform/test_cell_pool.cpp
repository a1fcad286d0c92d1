// The pool that holds the bitmap service's small records: cells never
// overlap, come zeroed, are told apart from the C allocator's blocks, and
// slabs go back once their cells are released.
#include "platform/stub/cell_pool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using plat::stub::CellPool;

struct Live {
    unsigned char* p;
    size_t bytes;
    unsigned char mark;
};

bool holds(const Live& c)
{
    for (size_t i = 0; i < c.bytes; ++i)
        if (c.p[i] != c.mark) return false;
    return true;
}

class CellPoolSeeded : public ::testing::TestWithParam<unsigned> {};

// Random sizes made and released in random order, each cell filled with its
// own mark: a cell handed out twice, overlapping its neighbour or given back
// to the wrong slab shows as a mark overwritten or a cell not zeroed.
TEST_P(CellPoolSeeded, CellsAreZeroedAlignedAndNeverShared)
{
    std::mt19937 rng(GetParam());
    CellPool pool;
    std::vector<Live> live;
    for (int step = 0; step < 60000; ++step) {
        bool make = live.empty() || rng() % 100 < (step < 40000 ? 60u : 30u);
        if (make) {
            size_t bytes = 1 + rng() % CellPool::kMaxBytes;
            auto* p = static_cast<unsigned char*>(pool.allocate(bytes));
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 4, 0u);
            for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(p[i], 0) << "step " << step;
            auto mark = static_cast<unsigned char>(1 + rng() % 255);
            std::memset(p, mark, bytes);
            live.push_back({p, bytes, mark});
        } else {
            size_t k = rng() % live.size();
            ASSERT_TRUE(holds(live[k])) << "step " << step;
            ASSERT_TRUE(pool.release(live[k].p));
            live[k] = live.back();
            live.pop_back();
        }
    }
    for (const Live& c : live) EXPECT_TRUE(holds(c));
    for (const Live& c : live) EXPECT_TRUE(pool.release(c.p));
    // Every slab went back but at most one per cell size.
    EXPECT_LE(pool.slabCount(), CellPool::kMaxBytes / 4);
}

INSTANTIATE_TEST_SUITE_P(Seeds, CellPoolSeeded, ::testing::Values(1u, 2u, 3u));

TEST(CellPool, SlabsOfACellSizeGoBackWhenEmptiedButTheLastWithRoom)
{
    CellPool pool;
    constexpr size_t kCells = 3 * CellPool::kSlabBytes / 12;  // more than three slabs of 12-byte cells
    std::vector<void*> cells;
    for (size_t i = 0; i < kCells; ++i) cells.push_back(pool.allocate(12));
    EXPECT_EQ(pool.slabCount(), 4u);
    // A 16-byte cell has its own slab.
    void* other = pool.allocate(16);
    EXPECT_EQ(pool.slabCount(), 5u);
    for (void* p : cells) ASSERT_TRUE(pool.release(p));
    EXPECT_EQ(pool.slabCount(), 2u);
    // The slab kept serves the next cell of its size.
    void* again = pool.allocate(9);
    EXPECT_EQ(pool.slabCount(), 2u);
    EXPECT_TRUE(pool.release(again));
    EXPECT_TRUE(pool.release(other));
    EXPECT_EQ(pool.slabCount(), 2u);
}

TEST(CellPool, RefusesSizesItDoesNotHoldAndAddressesNotItsOwn)
{
    CellPool pool;
    EXPECT_EQ(pool.allocate(0), nullptr);
    EXPECT_EQ(pool.allocate(CellPool::kMaxBytes + 1), nullptr);
    void* block = std::malloc(16);
    void* cell = pool.allocate(16);
    EXPECT_FALSE(pool.release(block));
    EXPECT_FALSE(pool.release(nullptr));
    EXPECT_TRUE(pool.release(cell));
    std::free(block);
}

}  // namespace
