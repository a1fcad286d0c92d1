// Bitmaps, which the daemon's tables are built on: walks, runs, sizes and
// copies. The hash table, and the transferable form of a bitmap, are what
// the daemon's table and management tests go through.
#include "platform/bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

struct BitmapDeleter {
    void operator()(BITMAP_S* b) const { Bitmap_Destroy(b); }
};
using Bitmap = std::unique_ptr<BITMAP_S, BitmapDeleter>;

using Span = std::vector<uint32_t>;
Span range(const BITMAP_S* b, uint32_t from)
{
    BITMAP_RANGE_S r{};
    Bitmap_GetRange(b, from, &r);
    return {r.uiIsSet, r.uiFirst, r.uiLast};
}

// The daemon's walk over the set bits, with a guard so that a walk that
// would not end fails the test instead of hanging it.
std::vector<uint32_t> walk(const BITMAP_S* b)
{
    std::vector<uint32_t> seen;
    BITMAP_RANGE_S r{};
    Bitmap_GetRange(b, 0, &r);
    for (uint64_t guard = 0; r.uiLast <= b->uiSize; ++guard) {
        if (guard > static_cast<uint64_t>(b->uiSize) + 2) {
            ADD_FAILURE() << "walk does not end";
            break;
        }
        EXPECT_LE(r.uiFirst, r.uiLast);
        for (uint64_t i = r.uiFirst; r.uiIsSet == 1 && i <= r.uiLast; ++i) seen.push_back(static_cast<uint32_t>(i));
        Bitmap_GetRange(b, r.uiLast + 1, &r);
    }
    return seen;
}

TEST(Bitmap, WalkVisitsExactlyTheSetBitsAndEnds)
{
    std::mt19937 rng(20240611);
    for (uint32_t size : {0u, 1u, 31u, 32u, 33u, 63u, 64u, 95u, 4094u}) {
        for (double density : {0.0, 0.1, 0.5, 0.9, 1.0}) {
            Bitmap b(Bitmap_Create(size));
            ASSERT_NE(b, nullptr);
            std::set<uint32_t> want;
            std::bernoulli_distribution pick(density);
            for (uint32_t i = 0; i <= size; ++i)
                if (pick(rng)) Bitmap_Set(b.get(), i), want.insert(i);
            SCOPED_TRACE("size " + std::to_string(size) + " density " + std::to_string(density));
            EXPECT_EQ(walk(b.get()), std::vector<uint32_t>(want.begin(), want.end()));
            EXPECT_EQ(Bitmap_Weight(b.get()), want.size());
            EXPECT_EQ(Bitmap_IsEmpty(b.get()), want.empty() ? 1u : 0u);
            for (uint32_t i = 0; i <= size; ++i) ASSERT_EQ(Bitmap_Check(b.get(), i), want.count(i)) << i;
        }
    }
}

TEST(Bitmap, RunsAreLongestIndexesBeyondTheSizeAreNeverSetAndCopiesBetweenSizes)
{
    Bitmap b(Bitmap_Create(100));
    for (uint32_t i = 30; i <= 70; ++i) Bitmap_Set(b.get(), i);
    EXPECT_EQ(range(b.get(), 40), (Span{1, 40, 70})) << "a run may begin inside another";
    EXPECT_EQ(range(b.get(), 71), (Span{0, 71, 100}));

    Bitmap big(Bitmap_Create(4094));
    EXPECT_EQ(Bitmap_RecordSize(4094), 520u);
    for (uint32_t i : {4095u, 0xFFFFu, 0xFFFFFFFFu}) Bitmap_Set(big.get(), i);
    EXPECT_EQ(Bitmap_IsEmpty(big.get()), 1u);
    EXPECT_EQ(big->auiBits[127] >> 31, 0u) << "index 4095 shares the last word but is not stored";
    Bitmap_Set(big.get(), 4094);
    EXPECT_EQ(Bitmap_Check(big.get(), 0xFFFF), 0u);
    Bitmap_Clear(big.get(), 0xFFFF);
    EXPECT_EQ(Bitmap_Weight(big.get()), 1u);
    Bitmap_Clear(big.get(), 4094);
    EXPECT_EQ(Bitmap_IsEmpty(big.get()), 1u);

    // Copies between sizes.
    Bitmap small(Bitmap_Create(40));
    for (uint32_t i : {0u, 7u, 39u, 40u}) Bitmap_Set(small.get(), i);
    for (uint32_t i : {1u, 41u, 2000u, 4094u}) Bitmap_Set(big.get(), i);
    Bitmap_Copy(big.get(), small.get());  // missing indexes cleared
    EXPECT_EQ(walk(big.get()), (std::vector<uint32_t>{0, 7, 39, 40}));

    for (uint32_t i : {33u, 41u, 63u, 4000u}) Bitmap_Set(big.get(), i);
    Bitmap_Copy(small.get(), big.get());  // indexes beyond 40 dropped, also inside the last word
    EXPECT_EQ(walk(small.get()), (std::vector<uint32_t>{0, 7, 33, 39, 40}));
    EXPECT_EQ(Bitmap_Weight(small.get()), 5u);
    uint32_t second = 0;  // the record's second bit word, indexes 32 to 63
    std::memcpy(&second, reinterpret_cast<const unsigned char*>(small.get()) + 12, sizeof second);
    EXPECT_EQ(second >> 9, 0u) << "bits beyond the size stay clear in the record";

    // A copy between records of one size: every word, and a bit beyond the
    // size that the source's last word carries is dropped.
    second |= 1u << 18;  // index 50, written into the record as a peer might
    std::memcpy(reinterpret_cast<unsigned char*>(small.get()) + 12, &second, sizeof second);
    Bitmap same(Bitmap_Create(40));
    Bitmap_Set(same.get(), 5);
    Bitmap_Copy(same.get(), small.get());
    EXPECT_EQ(walk(same.get()), (std::vector<uint32_t>{0, 7, 33, 39, 40}));
    std::memcpy(&second, reinterpret_cast<const unsigned char*>(same.get()) + 12, sizeof second);
    EXPECT_EQ(second >> 9, 0u);
}

}  // namespace
