#include "platform/bitmap.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
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

Bitmap make(uint32_t size)
{
    Bitmap b(Bitmap_Create(size));
    EXPECT_NE(b, nullptr) << "size " << size;
    return b;
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
        if (r.uiIsSet == 1)
            for (uint64_t i = r.uiFirst; i <= r.uiLast; ++i) seen.push_back(static_cast<uint32_t>(i));
        Bitmap_GetRange(b, r.uiLast + 1, &r);
    }
    return seen;
}

TEST(Bitmap, WalkVisitsExactlyTheSetBitsAndEnds)
{
    std::mt19937 rng(20240611);
    for (uint32_t size : {0u, 1u, 31u, 32u, 33u, 63u, 64u, 95u, 4094u}) {
        for (double density : {0.0, 0.1, 0.5, 0.9, 1.0}) {
            Bitmap b = make(size);
            std::set<uint32_t> want;
            std::bernoulli_distribution pick(density);
            for (uint32_t i = 0; i <= size; ++i)
                if (pick(rng)) {
                    Bitmap_Set(b.get(), i);
                    want.insert(i);
                }
            SCOPED_TRACE("size " + std::to_string(size) + " density " + std::to_string(density));
            EXPECT_EQ(walk(b.get()), std::vector<uint32_t>(want.begin(), want.end()));
            EXPECT_EQ(Bitmap_Weight(b.get()), want.size());
            EXPECT_EQ(Bitmap_IsEmpty(b.get()), want.empty() ? 1u : 0u);
            for (uint32_t i = 0; i <= size; ++i) ASSERT_EQ(Bitmap_Check(b.get(), i), want.count(i)) << i;
        }
    }
}

TEST(Bitmap, RunsAreLongestAndStopAtTheSize)
{
    Bitmap b = make(100);
    for (uint32_t i = 30; i <= 70; ++i) Bitmap_Set(b.get(), i);
    BITMAP_RANGE_S r{};
    Bitmap_GetRange(b.get(), 0, &r);
    EXPECT_EQ((std::vector<uint32_t>{r.uiIsSet, r.uiFirst, r.uiLast}), (std::vector<uint32_t>{0, 0, 29}));
    Bitmap_GetRange(b.get(), 40, &r);  // a run may begin inside another
    EXPECT_EQ((std::vector<uint32_t>{r.uiIsSet, r.uiFirst, r.uiLast}), (std::vector<uint32_t>{1, 40, 70}));
    Bitmap_GetRange(b.get(), 71, &r);
    EXPECT_EQ((std::vector<uint32_t>{r.uiIsSet, r.uiFirst, r.uiLast}), (std::vector<uint32_t>{0, 71, 100}));
    Bitmap_GetRange(b.get(), 101, &r);
    EXPECT_GT(r.uiLast, 100u);
    EXPECT_EQ(r.uiIsSet, 0u);
}

TEST(Bitmap, IndexesBeyondTheSizeAreNeverSet)
{
    Bitmap b = make(4094);
    EXPECT_EQ(Bitmap_RecordSize(4094), 520u);
    EXPECT_EQ(b->uiWords, 128u);
    Bitmap_Set(b.get(), 4095);
    Bitmap_Set(b.get(), 0xFFFF);
    Bitmap_Set(b.get(), 0xFFFFFFFF);
    EXPECT_EQ(Bitmap_IsEmpty(b.get()), 1u);
    Bitmap_Set(b.get(), 4094);
    EXPECT_EQ(Bitmap_Check(b.get(), 4094), 1u);
    EXPECT_EQ(Bitmap_Check(b.get(), 0xFFFF), 0u);
    Bitmap_Clear(b.get(), 0xFFFF);
    EXPECT_EQ(Bitmap_Weight(b.get()), 1u);
    Bitmap_Clear(b.get(), 4094);
    EXPECT_EQ(Bitmap_IsEmpty(b.get()), 1u);
}

TEST(Bitmap, CopyBetweenSizes)
{
    Bitmap small = make(40);
    Bitmap big = make(4094);
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
}

TEST(Bitmap, TransferableFormRoundTripsAndDecodesByHand)
{
    Bitmap b = make(4094);
    std::mt19937 rng(7);
    for (int n = 0; n < 300; ++n) Bitmap_Set(b.get(), rng() % 4095);
    std::vector<unsigned char> before(Bitmap_RecordSize(4094));
    std::memcpy(before.data(), b.get(), before.size());
    Bitmap_H2N(b.get());
    EXPECT_EQ(ntohl(b->uiSize), 4094u);
    ASSERT_EQ(Bitmap_N2H(b.get(), before.size()), 0u);
    EXPECT_EQ(std::memcmp(before.data(), b.get(), before.size()), 0);

    // Size 40 in two words; bits 0 and 2 in the first, index 40 in the second.
    const unsigned char wire[] = {0, 0, 0, 2, 0, 0, 0, 40, 0, 0, 0, 5, 0, 0, 1, 0};
    auto* rec = static_cast<BITMAP_S*>(std::malloc(sizeof wire));
    std::memcpy(rec, wire, sizeof wire);
    ASSERT_EQ(Bitmap_N2H(rec, sizeof wire), 0u);
    EXPECT_EQ(rec->uiSize, 40u);
    EXPECT_EQ(walk(rec), (std::vector<uint32_t>{0, 2, 40}));
    std::free(rec);
}

TEST(Bitmap, RecordWithFewerWordsThanItsSizeIsNotReadPastItsEnd)
{
    // A peer's record that claims size 100 but carries one word: the walk
    // ends, and indexes past the word read as not set (ASan checks reads).
    auto* rec = static_cast<BITMAP_S*>(std::malloc(sizeof(BITMAP_S)));
    rec->uiWords = 1;
    rec->uiSize = 100;
    rec->auiBits[0] = 0x80000001u;
    EXPECT_EQ(walk(rec), (std::vector<uint32_t>{0, 31}));
    EXPECT_EQ(Bitmap_Weight(rec), 2u);
    EXPECT_EQ(Bitmap_Check(rec, 64), 0u);
    Bitmap_Set(rec, 64);
    EXPECT_EQ(Bitmap_Weight(rec), 2u);
    std::free(rec);
}

TEST(Bitmap, CreationFailures)
{
    EXPECT_EQ(Bitmap_Create(0xFFFFFFFFu), nullptr) << "a size whose walk could never end";
    plat::testing::failCall("Bitmap_Create", 0);
    EXPECT_EQ(Bitmap_Create(10), nullptr);
    Bitmap b = make(10);  // the fault was for one call
    EXPECT_EQ(Bitmap_IsEmpty(b.get()), 1u);
    plat::testing::reset();
}

}  // namespace
