// The unicast entries' pool: records never overlap, come zeroed and
// aligned, and slabs go back to the system once their records are.
#include "daemon/pbb_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Out {
    unsigned char* p;
    unsigned char mark;
};

// Slabs of a page, so that a run makes and returns many of them.
constexpr uint32_t kSlab = 4096;

class PoolSeeded : public ::testing::TestWithParam<uint32_t> {};

// Records made and released at random, each filled with its own mark: a
// record handed out twice, overlapping a neighbour or put back in the
// wrong slab shows as a mark overwritten or a record not zeroed.
TEST_P(PoolSeeded, RecordsAreZeroedAlignedAndNeverShared)
{
    const uint32_t size = GetParam();
    PbbPool pool;
    PBB_pool_Init(&pool, size, kSlab);
    std::mt19937 rng(size);
    std::vector<Out> out;
    auto holds = [size](const Out& o) {
        for (uint32_t i = 0; i < size; ++i)
            if (o.p[i] != o.mark) return false;
        return true;
    };
    for (int step = 0; step < 20000; ++step) {
        if (out.empty() || rng() % 100 < (step < 12000 ? 60u : 35u)) {
            auto* p = static_cast<unsigned char*>(PBB_pool_Alloc(&pool));
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
            for (uint32_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << "step " << step;
            auto mark = static_cast<unsigned char>(1 + rng() % 255);
            std::memset(p, mark, size);
            out.push_back({p, mark});
        } else {
            size_t k = rng() % out.size();
            ASSERT_TRUE(holds(out[k])) << "step " << step;
            PBB_pool_Free(&pool, out[k].p);
            out[k] = out.back();
            out.pop_back();
        }
        // Every slab but one with room holds a record.
        ASSERT_LE(pool.uiSlabNum, out.size() + 1) << "step " << step;
    }
    for (const Out& o : out) EXPECT_TRUE(holds(o));
    for (const Out& o : out) PBB_pool_Free(&pool, o.p);
    EXPECT_EQ(pool.uiSlabNum, 1u);  // the last slab with room stays
    PBB_pool_Exit(&pool);
    EXPECT_EQ(pool.uiSlabNum, 0u);
    EXPECT_TRUE(pool.pstRoomy == nullptr && pool.pstFull == nullptr);
}

// The unicast entry's 136 bytes; a size rounded up to 8.
INSTANTIATE_TEST_SUITE_P(Sizes, PoolSeeded, ::testing::Values(136u, 20u));

TEST(Pool, SlabsAreAlignedAndExitFreesThemWithRecordsStillOut)
{
    PbbPool pool;
    PBB_pool_Init(&pool, 136);
    const uint32_t perSlab = (PBB_POOL_SLAB_SIZE - 64) / 136;
    std::vector<void*> out;
    for (uint32_t i = 0; i < 2 * perSlab + 1; ++i) {
        out.push_back(PBB_pool_Alloc(&pool));
        ASSERT_NE(out.back(), nullptr);
    }
    EXPECT_EQ(pool.uiSlabNum, 3u);
    // A slab's records lie in one aligned slab, the header first.
    const auto slabOf = [](void* p) { return reinterpret_cast<uintptr_t>(p) & ~uintptr_t{PBB_POOL_SLAB_SIZE - 1}; };
    EXPECT_EQ(reinterpret_cast<uintptr_t>(out[0]) - slabOf(out[0]), 64u);
    EXPECT_EQ(slabOf(out[perSlab - 1]), slabOf(out[0]));
    EXPECT_NE(slabOf(out[perSlab]), slabOf(out[0]));
    PBB_pool_Exit(&pool);
    EXPECT_EQ(pool.uiSlabNum, 0u);
    EXPECT_NE(PBB_pool_Alloc(&pool), nullptr);
    PBB_pool_Exit(&pool);
}

// The kernel's flags of the mapping that holds an address ("hg": huge pages
// asked for); empty when no mapping holds it.
std::string mappingFlags(const void* p)
{
    const auto a = reinterpret_cast<uintptr_t>(p);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long lo = 0, hi = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> lo >> dash >> hi && dash == '-') {
            inside = lo <= a && a < hi;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line.substr(8) + " ";
        }
    }
    return {};
}

// A pool asks for huge pages for its slabs only when told to (the unicast
// entries' pool is), and only for slabs made of whole huge pages.
TEST(Pool, OnlyAPoolThatAsksForHugePagesHasItsSlabsAdvisedSo)
{
    if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"))
        GTEST_SKIP() << "this kernel has no transparent huge pages";
    for (bool huge : {false, true}) {
        PbbPool pool;
        PBB_pool_Init(&pool, 136, PBB_POOL_SLAB_SIZE, huge);
        void* a = PBB_pool_Alloc(&pool);
        ASSERT_NE(a, nullptr);
        std::string flags = mappingFlags(a);
        ASSERT_FALSE(flags.empty()) << "no mapping holds the record";
        EXPECT_EQ(flags.find(" hg ") != std::string::npos, huge) << flags;
        PBB_pool_Exit(&pool);
        // The choice outlives the pool's end, as its sizes do.
        EXPECT_EQ(pool.bHugePages, huge);
    }
    // A slab smaller than a huge page is never advised.
    PbbPool small;
    PBB_pool_Init(&small, 136, 4096, true);
    void* a = PBB_pool_Alloc(&small);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(mappingFlags(a).find(" hg "), std::string::npos);
    PBB_pool_Exit(&small);
}

}  // namespace
