// The switch model's packed tables must answer as the tree they replace:
// seeded runs of insertions (with right and wrong hints), erasures at
// places and of keys found, searches (also from a place near the answer)
// and walks both ways, against a std::map, with blocks small enough that
// every run splits and joins blocks many times.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/model/packed_table.h"

namespace packed_test {

using Key = std::pair<uint32_t, uint32_t>;
using Elem = std::pair<Key, uint64_t>;
struct KeyLess {
    bool operator()(const Key& a, const Key& b) const { return a < b; }
};
// Runs by the key's first half, as the unicast tables' VSIs.
struct SameFirst {
    bool operator()(const Key& a, const Key& b) const { return a.first == b.first; }
};
// Four records a block, and eight; eight with runs.
using Small = sim::PackedTable<Key, Elem, sim::KeyOfFirst, KeyLess, 4 * sizeof(Elem)>;
using Medium = sim::PackedTable<Key, Elem, sim::KeyOfFirst, KeyLess, 8 * sizeof(Elem)>;
using Runs = sim::PackedTable<Key, Elem, sim::KeyOfFirst, KeyLess, 8 * sizeof(Elem), SameFirst>;
static_assert(Small::kPerBlock == 4 && Medium::kPerBlock == 8 && Runs::kPerBlock == 8);

template <class T>
::testing::AssertionResult sameAs(const T& t, const std::map<Key, uint64_t>& ref)
{
    if (t.size() != ref.size())
        return ::testing::AssertionFailure() << "size " << t.size() << ", want " << ref.size();
    auto want = ref.begin();
    for (const auto& [k, v] : t) {
        if (k != want->first || v != want->second)
            return ::testing::AssertionFailure() << "record (" << k.first << "," << k.second << ") out of place";
        ++want;
    }
    // The same walk backwards.
    auto it = t.end();
    for (auto r = ref.rbegin(); r != ref.rend(); ++r)
        if ((--it)->first != r->first) return ::testing::AssertionFailure() << "backwards walk differs";
    if (it != t.begin()) return ::testing::AssertionFailure() << "backwards walk does not end at the first";
    return ::testing::AssertionSuccess();
}

// Interleaved: runs 0 to 3 each grow at their end in turn.
enum class Order { Ascending, Descending, Random, Interleaved };

template <class T>
void run(uint32_t seed, Order order)
{
    std::mt19937 rng(seed);
    T table;
    std::map<Key, uint64_t> ref;
    auto randomKey = [&] { return Key{rng() % 3, rng() % 400}; };
    uint32_t next = 0;
    auto nextKey = [&] {
        ++next;
        if (order == Order::Ascending) return Key{next / 500, next % 500};
        if (order == Order::Descending) return Key{3 - next / 500, 499 - next % 500};
        if (order == Order::Interleaved) return Key{next % 4, next / 4};
        return randomKey();
    };
    for (int step = 0; step < 6000; ++step) {
        std::string at = "step " + std::to_string(step);
        uint32_t what = rng() % 10;
        if (what < 5) {
            Key k = nextKey();
            uint64_t v = rng();
            bool fresh = ref.count(k) == 0;
            if (what == 0) {
                auto [it, added] = table.emplace(k, v);
                ASSERT_EQ(added, fresh) << at;
                ASSERT_EQ(it->first, k) << at;
                if (fresh) ref.emplace(k, v);
            } else {
                // The place lower_bound gives, or a wrong one now and then.
                auto hint = what == 1 && !table.empty() ? std::next(table.begin(), rng() % table.size())
                                                        : table.lower_bound(k);
                auto it = table.emplace_hint(hint, k, v);
                ASSERT_EQ(it->first, k) << at;
                if (fresh) ref.emplace(k, v);
                it->second = v;  // an insertion keeps the record of the key
                ref[k] = v;
            }
        } else if (what < 8 && !table.empty()) {
            // Erase at a place: the answer is the record after it.
            size_t n = rng() % table.size();
            if (what == 7) n = order == Order::Descending ? 0 : table.size() - 1 - n % 4;
            auto it = std::next(table.begin(), static_cast<std::ptrdiff_t>(n));
            Key k = it->first;
            auto after = table.erase(it);
            auto want = ref.upper_bound(k);
            ASSERT_EQ(after == table.end(), want == ref.end()) << at;
            if (want != ref.end()) {
                ASSERT_EQ(after->first, want->first) << at;
            }
            ref.erase(k);
        } else if (what == 8) {
            Key k = randomKey();
            auto it = table.find(k);
            ASSERT_EQ(it != table.end(), ref.erase(k) == 1) << at;
            if (it != table.end()) table.erase(it);
        } else {
            // Searches from keys in and out of the table.
            for (int i = 0; i < 8; ++i) {
                Key k = randomKey();
                auto lb = std::as_const(table).lower_bound(k);
                auto want = ref.lower_bound(k);
                ASSERT_EQ(lb == table.end(), want == ref.end()) << at;
                if (want != ref.end()) {
                    ASSERT_EQ(lb->first, want->first) << at;
                }
                ASSERT_EQ(table.count(k), ref.count(k)) << at;
                // Looked for from a place near the answer (often its block)
                // or anywhere: the same answer.
                auto from = std::distance(std::as_const(table).begin(), lb);
                from = i % 2 == 0 ? from + static_cast<std::ptrdiff_t>(rng() % 7) - 3
                                  : static_cast<std::ptrdiff_t>(rng() % (table.size() + 1));
                from = std::clamp<std::ptrdiff_t>(from, 0, static_cast<std::ptrdiff_t>(table.size()));
                auto near = table.lower_bound(k, std::next(table.begin(), from));
                ASSERT_TRUE(near == table.lower_bound(k)) << at;
            }
        }
        if (step % 97 == 0) {
            ASSERT_TRUE(sameAs(table, ref)) << at;
        }
        // No block is empty nor over its size.
        ASSERT_LE(table.blockCount(), table.size()) << at;
        ASSERT_GE(table.blockCount() * T::kPerBlock, table.size()) << at;
    }
    ASSERT_TRUE(sameAs(table, ref));

    // Removal by predicate leaves the rest in order, packed.
    size_t odd = std::erase_if(ref, [](const auto& kv) { return kv.second % 2 != 0; });
    ASSERT_EQ(erase_if(table, [](const Elem& e) { return e.second % 2 != 0; }), odd);
    ASSERT_TRUE(sameAs(table, ref));
    ASSERT_EQ(table.blockCount(), (table.size() + T::kPerBlock - 1) / T::kPerBlock);

    // Copies compare equal whatever their blocks; a table moved from is empty.
    T copy = table;
    ASSERT_TRUE(copy == table);
    if (!ref.empty()) {
        copy.erase(copy.begin());
        ASSERT_FALSE(copy == table);
    }
    T moved = std::move(table);
    ASSERT_TRUE(sameAs(moved, ref));
    ASSERT_TRUE(table.empty());  // NOLINT(bugprone-use-after-move)
    ASSERT_TRUE(table.begin() == table.end());
}

struct Case {
    const char* name;
    uint32_t seed;
    Order order;
    int blocks;  // 4, 8, or 8 with runs (0)
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class PackedTableVsMap : public ::testing::TestWithParam<Case> {};

TEST_P(PackedTableVsMap, AnswersAsTheMapDoes)
{
    const Case& c = GetParam();
    if (c.blocks == 4)
        run<Small>(c.seed, c.order);
    else if (c.blocks == 8)
        run<Medium>(c.seed, c.order);
    else
        run<Runs>(c.seed, c.order);
}

INSTANTIATE_TEST_SUITE_P(Runs, PackedTableVsMap,
                         ::testing::Values(Case{"ascending4", 1, Order::Ascending, 4},
                                           Case{"descending4", 2, Order::Descending, 4},
                                           Case{"random4", 3, Order::Random, 4},
                                           Case{"ascending8", 4, Order::Ascending, 8},
                                           Case{"descending8", 5, Order::Descending, 8},
                                           Case{"random8", 6, Order::Random, 8},
                                           Case{"interleaved8", 7, Order::Interleaved, 8},
                                           Case{"ascendingRuns", 8, Order::Ascending, 0},
                                           Case{"randomRuns", 9, Order::Random, 0},
                                           Case{"interleavedRuns", 10, Order::Interleaved, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Records added in key order fill their blocks; a block left sparse by
// erasures joins a neighbour with room for it.
TEST(PackedTable, InOrderFillsBlocksAndSparseBlocksJoin)
{
    Medium t;
    for (uint32_t i = 0; i < 80; ++i) t.emplace_hint(t.end(), Key{0, i}, i);
    EXPECT_EQ(t.blockCount(), 10u);
    // Half the first block goes, then the second but one record: that one
    // joins the first block, which has room (the third has none).
    for (uint32_t i = 0; i < 4; ++i) t.erase(t.find(Key{0, i}));
    for (uint32_t i = 8; i < 15; ++i) t.erase(t.find(Key{0, i}));
    EXPECT_EQ(t.size(), 69u);
    EXPECT_EQ(t.blockCount(), 9u);
    EXPECT_EQ(std::next(t.begin(), 4)->first, (Key{0, 15}));
    EXPECT_EQ(std::next(t.begin(), 5)->first, (Key{0, 16}));
    // The last block keeps three records; the one before it, left with
    // one, joins it (it has room).
    for (uint32_t i = 75; i < 80; ++i) t.erase(t.find(Key{0, i}));
    for (uint32_t i = 64; i < 71; ++i) t.erase(t.find(Key{0, i}));
    EXPECT_EQ(t.size(), 57u);
    EXPECT_EQ(t.blockCount(), 8u);
    EXPECT_EQ(std::prev(t.end(), 4)->first, (Key{0, 71}));
}

// Runs growing at their ends in turn come apart: once the shared blocks
// have filled and split, a record added at its run's end moves no record
// of another run (the table without runs moves them at every turn).
TEST(PackedTable, RunsGrowingInTurnMoveNoOtherRunsRecords)
{
    Runs t;
    auto add = [&](uint32_t n) {
        Key k{n % 4, n / 4};
        t.emplace_hint(t.lower_bound(k), k, n);
    };
    // Where each run but n's has its records: its first and its last.
    auto othersEnds = [&](uint32_t n) {
        std::vector<const Elem*> out;
        for (uint32_t r = 0; r < 4; ++r)
            if (r != n % 4) {
                out.push_back(&*t.lower_bound(Key{r, 0}));
                out.push_back(&*std::prev(t.lower_bound(Key{r + 1, 0})));
            }
        return out;
    };
    uint32_t n = 0;
    for (; n < 4 * 8; ++n) add(n);
    for (; n < 4 * 60; ++n) {
        const auto before = othersEnds(n);
        add(n);
        ASSERT_EQ(before, othersEnds(n)) << "record " << n;
    }
    EXPECT_EQ(t.size(), 4u * 60u);
}

}  // namespace packed_test
