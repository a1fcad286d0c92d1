// Sort lists: descriptions, order, equal elements, removal, length, and
// walks that stay correct while the list changes under them.
#include "dbm_test.h"

#include <algorithm>
#include <random>

using namespace dbmtest;

namespace {

class DbmSortList : public DbmTest {
protected:
    void SetUp() override
    {
        DbmTest::SetUp();
        ASSERT_EQ(openRun(run), DBM_OK);
        ASSERT_EQ(openPair(used, unused), DBM_OK);
    }
    uint32_t save(const Key& k, const UcPwElem& e) { return saveUc(run, k, e); }
    std::vector<UcPwElem> walk(const Key& k, uint32_t chunk)
    {
        std::vector<UcPwElem> out;
        uint32_t iter = 0;
        std::vector<UcPwElem> buf(chunk);
        int32_t n;
        while ((n = DBM_BatchGetNextSortList(run, k.text, k.len, &iter, 0, 0, 20, chunk, buf.data())) > 0)
            out.insert(out.end(), buf.begin(), buf.begin() + n);
        EXPECT_EQ(n, 0);
        EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
        return out;
    }
    uint32_t run = DBM_INVALID_HANDLE, used = DBM_INVALID_HANDLE, unused = DBM_INVALID_HANDLE;
};

std::array<uint8_t, 6> mac(uint32_t i) { return {0x00, 0x11, uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)}; }

std::string field(const UcPwElem& e) { return std::string(reinterpret_cast<const char*>(&e[12]), 8); }

}  // namespace

TEST_F(DbmSortList, ElementsComeBackInOrderOfTheSortFieldAcrossReopen)
{
    Key k("ucpw.%u.%u.%hu.%s", 5u, 17u, static_cast<unsigned short>(100), "ge1/0/1");
    std::mt19937 rng(7);
    std::vector<UcPwElem> all;
    for (uint32_t i = 0; i < 500; ++i) all.push_back(ucpw(5, 1000 + i, 17, mac(rng()), static_cast<uint16_t>(rng())));
    for (const auto& e : all) ASSERT_EQ(save(k, e), DBM_OK);
    std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return field(a) < field(b); });

    EXPECT_EQ(walk(k, 128), all);
    EXPECT_EQ(walk(k, 1), all);
    EXPECT_EQ(DBM_Len(run, k.text, k.len), 500u * 20u);
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    ASSERT_EQ(openRun(run), DBM_OK);
    EXPECT_EQ(walk(k, 128), all);
}

TEST_F(DbmSortList, AnElementIsIdentifiedByItsSortField)
{
    Key k("ucpw.5.17.100.ge1");
    auto a = ucpw(5, 1000, 17, mac(1), 100);
    auto sameField = ucpw(5, 2000, 17, mac(1), 100);   // another I-SID
    auto otherVlan = ucpw(5, 1000, 17, mac(1), 101);  // B-VLAN is part of the field
    ASSERT_EQ(save(k, a), DBM_OK);
    ASSERT_EQ(save(k, sameField), DBM_OK);
    ASSERT_EQ(save(k, otherVlan), DBM_OK);
    auto got = walk(k, 128);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], sameField);  // replaced, not added
    EXPECT_EQ(got[1], otherVlan);

    EXPECT_EQ(DBM_RemoveSortList(run, k.text, k.len, 20, a.data()), DBM_OK);  // equal field removes it
    EXPECT_EQ(DBM_RemoveSortList(run, k.text, k.len, 20, a.data()), DBM_ERR_NOT_FOUND);
    EXPECT_EQ(DBM_Len(run, k.text, k.len), 20u);
    EXPECT_EQ(DBM_RemoveSortList(run, k.text, k.len, 20, otherVlan.data()), DBM_OK);
    // An empty list is still a key until the daemon deletes it.
    EXPECT_EQ(DBM_Len(run, k.text, k.len), 0u);
    EXPECT_EQ(DBM_IsKeyExist(run, k.text, k.len), 1u);
    EXPECT_EQ(DBM_DeleteKey(run, k.text, k.len), DBM_OK);
    EXPECT_EQ(DBM_IsKeyExist(run, k.text, k.len), 0u);
}

TEST_F(DbmSortList, NamesSortAsTextUpToTheirNul)
{
    Key k("ifvsi.%s", "ge1");
    for (const char* n : {"b", "ab", "a", "B"}) ASSERT_EQ(addName(used, k, n), DBM_OK);
    VsiName dirty = vsiName("a");
    dirty[5] = 'x';  // after the NUL: does not count
    ASSERT_EQ(DBM_InsertSortList(used, k.text, k.len, 32, dirty.data(), 1), DBM_OK);
    EXPECT_EQ(names(used, k), (std::vector<std::string>{"B", "a", "ab", "b"}));
    auto plain = vsiName("a");
    EXPECT_EQ(DBM_RemoveSortList(used, k.text, k.len, 32, plain.data()), DBM_OK);
    EXPECT_EQ(DBM_Len(used, k.text, k.len), 3u * 32u);
}

TEST_F(DbmSortList, DescriptionsAreDeclaredOnceAndChecked)
{
    Key k("ucpw.1.2.3.ge1");
    auto e = ucpw(1, 1, 2, mac(1), 3);
    // No description: the key cannot be made.
    EXPECT_EQ(DBM_InsertSortList(run, k.text, k.len, 20, e.data(), 0), DBM_ERR_NOT_FOUND);
    EXPECT_EQ(DBM_SetSortWord(run, k.text, k.len, 1, 12, 8, 3, 0), DBM_ERR_PARAM);  // unknown comparison
    EXPECT_EQ(DBM_SetSortWord(run, k.text, k.len, 2, 12, 8, 4, 0), DBM_ERR_PARAM);  // unknown kind
    EXPECT_EQ(DBM_SetSortWord(run, k.text, k.len, 1, 12, 0, 4, 0), DBM_ERR_PARAM);  // empty field
    // A declaration is no key, and a deletion forgets it.
    ASSERT_EQ(DBM_SetSortWord(run, k.text, k.len, 1, 12, 8, 4, 0), DBM_OK);
    EXPECT_EQ(DBM_IsKeyExist(run, k.text, k.len), 0u);
    EXPECT_EQ(DBM_DeleteKey(run, k.text, k.len), DBM_OK);
    EXPECT_EQ(DBM_InsertSortList(run, k.text, k.len, 20, e.data(), 0), DBM_ERR_NOT_FOUND);
    // A field beyond the element is refused at the first insertion.
    ASSERT_EQ(DBM_SetSortWord(run, k.text, k.len, 1, 16, 8, 4, 0), DBM_OK);
    EXPECT_EQ(DBM_InsertSortList(run, k.text, k.len, 20, e.data(), 0), DBM_ERR_PARAM);
    ASSERT_EQ(DBM_SetSortWord(run, k.text, k.len, 1, 12, 8, 4, 0), DBM_OK);
    ASSERT_EQ(DBM_InsertSortList(run, k.text, k.len, 20, e.data(), 0), DBM_OK);
    // Existing lists keep their description and element length.
    EXPECT_EQ(DBM_SetSortWord(run, k.text, k.len, 1, 12, 8, 4, 0), DBM_OK);
    EXPECT_EQ(DBM_SetSortWord(run, k.text, k.len, 1, 12, 6, 4, 0), DBM_ERR_EXIST);
    EXPECT_EQ(DBM_InsertSortList(run, k.text, k.len, 24, e.data(), 0), DBM_ERR_PARAM);
    uint8_t big[24] = {};
    uint32_t fresh = 0;
    EXPECT_EQ(DBM_GetNextSortList(run, k.text, k.len, &fresh, 0, 0, 24, big), -1);
    Key bin("vsi.%s", "V");
    uint16_t one = 1;
    ASSERT_EQ(DBM_SetBinary(used, bin.text, bin.len, 0, 2, &one, 0), DBM_OK);
    EXPECT_EQ(DBM_SetSortWord(used, bin.text, bin.len, 1, 0, 32, 5, 0), DBM_ERR_TYPE);
    EXPECT_EQ(DBM_RemoveSortList(used, bin.text, bin.len, 2, &one), DBM_ERR_TYPE);
}

// The daemon's recovery removes refused elements while it walks the key.
TEST_F(DbmSortList, AWalkReturnsEveryRemainingElementOnceWhileElementsGoAndCome)
{
    Key k("ucpw.9.1.10.ge2");
    for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(save(k, ucpw(9, 1, 1, mac(i * 2), 10)), DBM_OK);
    uint32_t iter = 0;
    UcPwElem buf;
    std::vector<uint32_t> seen;
    int32_t n;
    while ((n = DBM_GetNextSortList(run, k.text, k.len, &iter, 0, 0, 20, buf.data())) > 0) {
        uint32_t m = (uint32_t(buf[14]) << 24) | (uint32_t(buf[15]) << 16) | (buf[16] << 8) | buf[17];
        seen.push_back(m);
        // Drop this one and the element two ahead; add one behind and one ahead.
        EXPECT_EQ(DBM_RemoveSortList(run, k.text, k.len, 20, buf.data()), DBM_OK);
        DBM_RemoveSortList(run, k.text, k.len, 20, ucpw(9, 1, 1, mac(m + 4), 10).data());
        if (m % 50 == 0 && m > 0) {
            ASSERT_EQ(save(k, ucpw(9, 1, 1, mac(m - 1), 10)), DBM_OK);
            ASSERT_EQ(save(k, ucpw(9, 1, 1, mac(m + 3), 10)), DBM_OK);
        }
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
    // Evens from 0 to 598 with m % 8 of 0 or 2 survive the look-ahead
    // removal until reached; of the added elements those ahead (m + 3) are
    // reached, those behind (m - 1) are not and stay.
    std::vector<uint32_t> expected;
    for (uint32_t m = 0; m < 600; m += 2)
        if (m % 8 == 0 || m % 8 == 2) expected.push_back(m);
    for (uint32_t m : {53u, 203u, 253u, 403u, 453u}) expected.push_back(m);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    std::vector<UcPwElem> left;
    for (uint32_t m : {49u, 199u, 249u, 399u, 449u}) left.push_back(ucpw(9, 1, 1, mac(m), 10));
    EXPECT_EQ(walk(k, 128), left);
}

TEST_F(DbmSortList, AWalkEndsWhenItsKeyIsDeletedAndRefusesOtherKeys)
{
    Key k("ucpw.9.1.10.ge2"), other("ucpw.9.1.11.ge2");
    for (uint32_t i = 0; i < 10; ++i) ASSERT_EQ(save(k, ucpw(9, 1, 1, mac(i), 10)), DBM_OK);
    ASSERT_EQ(save(other, ucpw(9, 1, 1, mac(1), 11)), DBM_OK);
    uint32_t iter = 0;
    UcPwElem buf[4];
    ASSERT_EQ(DBM_BatchGetNextSortList(run, k.text, k.len, &iter, 0, 0, 20, 4, buf), 4);
    EXPECT_NE(iter, 0u);
    EXPECT_EQ(DBM_BatchGetNextSortList(run, other.text, other.len, &iter, 0, 0, 20, 4, buf), -1);
    EXPECT_EQ(DBM_BatchGetNextSortList(run, k.text, k.len, &iter, 1, 0, 20, 4, buf), -1);
    ASSERT_EQ(DBM_DeleteKey(run, k.text, k.len), DBM_OK);
    EXPECT_EQ(DBM_BatchGetNextSortList(run, k.text, k.len, &iter, 0, 0, 20, 4, buf), 0);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_ERR_NOT_FOUND);
    // A walk of a missing key ends at once and needs no iterator.
    uint32_t none = 0;
    EXPECT_EQ(DBM_GetNextSortList(run, k.text, k.len, &none, 0, 0, 20, buf), 0);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(DBM_FreeIterator(0), DBM_OK);
}
