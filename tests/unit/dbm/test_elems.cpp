// A sort list's packed elements against a plain ordered map of the same
// records, over seeded runs of puts, erases and walks: blocks split, fill
// in order, merge and go away while every answer stays the map's, with the
// fields kept beside the elements or read from inside them.
#include "platform/dbm/dbm_elems.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using plat::dbm::ElemList;
using Map = std::map<std::string, std::string>;

struct Shape {
    size_t fieldLen, elemLen;  // 2+1000 bytes: eight records a block; 3+5: 512
    uint32_t fieldAt = ElemList::kFieldApart;  // or the field's offset in the element
    size_t recLen() const { return (fieldAt == ElemList::kFieldApart ? fieldLen : 0) + elemLen; }
};

class ElemListVsMap : public ::testing::TestWithParam<Shape> {
protected:
    std::string field(uint32_t n) const
    {
        std::string f(GetParam().fieldLen, '\0');
        for (size_t i = f.size(); i-- > 0; n >>= 8) f[i] = static_cast<char>(n & 0xFF);
        return f;
    }
    // An element; one that holds its field gets the field's bytes at its
    // offset.
    std::string elem(uint32_t n, uint32_t tag) const
    {
        std::string e(GetParam().elemLen, static_cast<char>('a' + tag % 26));
        if (GetParam().fieldAt != ElemList::kFieldApart) e.replace(GetParam().fieldAt, GetParam().fieldLen, field(n));
        return e;
    }
    bool put(ElemList& list, uint32_t n, uint32_t tag) const
    {
        return list.put(field(n), elem(n, tag), GetParam().fieldAt);
    }

    static void expectSame(const ElemList& list, const Map& map)
    {
        ASSERT_EQ(list.size(), map.size());
        ASSERT_EQ(list.empty(), map.empty());
        if (!map.empty()) {
            EXPECT_EQ(list.lastField(), map.rbegin()->first);
        }
        auto m = map.begin();
        for (auto [f, e] : list) {
            ASSERT_NE(m, map.end());
            ASSERT_EQ(f, m->first);
            ASSERT_EQ(e, m->second);
            ++m;
        }
        EXPECT_EQ(m, map.end());
    }

    // The walk from `after` returns the map's next records.
    static void expectWalk(const ElemList& list, const Map& map, const std::string& after, int steps)
    {
        auto l = list.upperBound(after);
        auto m = map.upper_bound(after);
        for (int i = 0; i < steps && m != map.end(); ++i, ++l, ++m) {
            ASSERT_NE(l, list.end());
            ASSERT_EQ((*l).first, m->first);
            ASSERT_EQ((*l).second, m->second);
        }
        if (m == map.end()) {
            EXPECT_TRUE(l == list.end());
        }
    }
};

TEST_P(ElemListVsMap, SeededOperationsGiveTheMapsAnswers)
{
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        ElemList list;
        Map map;
        const uint32_t range = 300;
        auto op = [&](int kind, uint32_t n) {
            std::string f = field(n);
            if (kind == 0) {
                std::string e = elem(n, rng());
                ASSERT_TRUE(list.put(f, e, GetParam().fieldAt));
                map[f] = e;
            } else {
                ASSERT_EQ(list.erase(f), map.erase(f) == 1) << "erase " << n;
            }
        };
        // In order, then against it (appends and puts at the front), then at
        // random with erases gaining until the list empties and refills.
        for (uint32_t n = 0; n < range; n += 2) op(0, n);
        for (uint32_t n = range; n-- > 0;) op(0, n);
        expectSame(list, map);
        for (int round = 0; round < 4000; ++round) {
            int eraseShare = round < 3000 ? 40 : 90;
            op(static_cast<int>(rng() % 100) < eraseShare ? 1 : 0, rng() % range);
            if (round % 97 == 0) {
                expectSame(list, map);
                expectWalk(list, map, field(rng() % range), 40);
            }
        }
        expectSame(list, map);
        for (uint32_t n = 0; n < range; ++n) op(1, n);
        expectSame(list, map);
        expectWalk(list, map, field(0), 5);
        for (uint32_t n = 0; n < 50; ++n) op(0, rng() % range);
        expectSame(list, map);
    }
}

TEST_P(ElemListVsMap, EqualityIsOfRecordsNotOfBlocks)
{
    ElemList inOrder, atRandom;
    std::vector<uint32_t> ns(200);
    for (uint32_t i = 0; i < ns.size(); ++i) ns[i] = i * 3;
    for (uint32_t n : ns) put(inOrder, n, n);
    // Stored in order, the blocks are full (4 KiB, at least eight records).
    const size_t perBlock = std::max<size_t>(8, 4096 / GetParam().recLen());
    EXPECT_EQ(inOrder.blockCount(), (ns.size() + perBlock - 1) / perBlock);
    std::shuffle(ns.begin(), ns.end(), std::mt19937(7));
    for (uint32_t n : ns) put(atRandom, n, n);
    EXPECT_TRUE(inOrder == atRandom);
    put(atRandom, 3, 4);  // same field, other element
    EXPECT_FALSE(inOrder == atRandom);
    put(atRandom, 3, 3);
    atRandom.erase(field(600 - 3));
    EXPECT_FALSE(inOrder == atRandom);
}

TEST_P(ElemListVsMap, ABlockLeftSparseJoinsItsNeighbour)
{
    // Two full blocks; the second keeps just under half a block, the first
    // is emptied down to one record: they join into one.
    const uint32_t per = static_cast<uint32_t>(std::max<size_t>(8, 4096 / GetParam().recLen()));
    ElemList list;
    Map map;
    for (uint32_t n = 0; n < 2 * per; ++n) {
        put(list, n, n);
        map[field(n)] = elem(n, n);
    }
    ASSERT_EQ(list.blockCount(), 2u);
    for (uint32_t n = per + per / 2 - 1; n < 2 * per; ++n) ASSERT_TRUE(list.erase(field(n)) && map.erase(field(n)));
    for (uint32_t n = 1; n < per; ++n) ASSERT_TRUE(list.erase(field(n)) && map.erase(field(n)));
    EXPECT_EQ(list.blockCount(), 1u);
    expectSame(list, map);
}

TEST_P(ElemListVsMap, ARecordOfOtherSizesIsRefusedAndAMovedListIsEmpty)
{
    ElemList list;
    ASSERT_TRUE(put(list, 1, 1));
    EXPECT_TRUE(put(list, 1, 2));  // replaced
    EXPECT_FALSE(list.put(field(2) + "x", elem(2, 2), GetParam().fieldAt));
    EXPECT_FALSE(list.put(field(2), elem(2, 2) + "x", GetParam().fieldAt));
    EXPECT_EQ(list.size(), 1u);
    ElemList moved = std::move(list);
    EXPECT_EQ(moved.size(), 1u);
    EXPECT_EQ(*moved.begin(), (ElemList::Record{field(1), elem(1, 2)}));
    EXPECT_TRUE(list.empty() && list.begin() == list.end());  // NOLINT(bugprone-use-after-move)
    list = std::move(moved);
    EXPECT_EQ((*list.begin()).second, elem(1, 2));
    EXPECT_EQ(moved.size(), 0u);  // NOLINT(bugprone-use-after-move)
}

// A list that reads its fields from its elements refuses an element that
// does not hold its field; a list whose first element does not hold it
// keeps its fields apart and takes such elements.
TEST_P(ElemListVsMap, AFieldTheElementDoesNotHoldIsKeptApartOrRefused)
{
    const uint32_t at = GetParam().fieldAt;
    if (at == ElemList::kFieldApart) GTEST_SKIP() << "fields kept apart";
    ElemList inElem, apart;
    ASSERT_TRUE(put(inElem, 5, 1));
    EXPECT_FALSE(inElem.put(field(6), elem(7, 1), at));
    EXPECT_FALSE(inElem.put(field(5), elem(7, 1), at));
    EXPECT_EQ(inElem.size(), 1u);
    EXPECT_EQ((*inElem.begin()).second, elem(5, 1));
    ASSERT_TRUE(apart.put(field(5), elem(7, 1), at));
    ASSERT_TRUE(apart.put(field(6), elem(8, 1), at));
    ASSERT_TRUE(apart.put(field(4), elem(4, 1), at));
    std::vector<std::string> fields, elems;
    for (auto [f, e] : apart) {
        fields.emplace_back(f);
        elems.emplace_back(e);
    }
    EXPECT_EQ(fields, (std::vector<std::string>{field(4), field(5), field(6)}));
    EXPECT_EQ(elems, (std::vector<std::string>{elem(4, 1), elem(7, 1), elem(8, 1)}));
}

// Fields apart; the run database's unicast record (an 8-byte field at 12 in
// 20 bytes); a field at the start of a long element.
INSTANTIATE_TEST_SUITE_P(Shapes, ElemListVsMap,
                         ::testing::Values(Shape{2, 1000}, Shape{3, 5}, Shape{8, 20, 12}, Shape{2, 1000, 0}));

}  // namespace
