// Keys and binary values, keys by value type, moves between the two
// databases of the configuration pair, and sort lists: descriptions, order,
// equal elements, removal, and walks that stay correct while the list
// changes under them.
#include "dbm_test.h"

#include <algorithm>
#include <random>

using namespace dbmtest;

namespace {

class DbmValues : public DbmTest {
protected:
    void SetUp() override
    {
        DbmTest::SetUp();
        openAll();
    }
    uint16_t one = 1;
};

std::string field(const UcPwElem& e) { return std::string(reinterpret_cast<const char*>(&e[12]), 8); }

}  // namespace

TEST_F(DbmValues, KeysAreUpTo127CharactersWithTheirNulCounted)
{
    std::string longest(127, 'k'), tooLong(128, 'k');
    EXPECT_EQ(DBM_SetBinary(used, longest.c_str(), 128, 0, 2, &one, 2), DBM_OK);
    const std::pair<const char*, uint32_t> bad[] = {{tooLong.c_str(), 129}, {"if.a", 4}, {"if.a", 6}, {"", 1}, {nullptr, 4}};
    for (auto [k, len] : bad) EXPECT_EQ(DBM_SetBinary(used, k, len, 0, 2, &one, 2), DBM_ERR_PARAM) << len;
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 2), 1u);
}

TEST_F(DbmValues, AValueReplacesTheEarlierOneWholeWithItsTypeAndIsOnDiskAtOnce)
{
    Key k("vsi.V");
    uint32_t first[4] = {3, 7, 2, 10}, second[4] = {3, 8, 5, 0xFFFF}, got[8] = {};
    ASSERT_EQ(setBin(used, k, first, 16, 0), DBM_OK);
    ASSERT_EQ(setBin(used, k, second, 16, 4), DBM_OK);
    ASSERT_EQ(DBM_GetBinary(used, k.c(), k.len(), 0, 16, got), 16);
    EXPECT_EQ(std::memcmp(got, second, 16), 0);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 0), 0u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 4), 1u);
    auto disk = onDisk(pairFile());  // a second connection while the pair is open
    ASSERT_NE(disk[0].find("vsi.V"), nullptr);
    EXPECT_EQ(disk[0].find("vsi.V")->value, std::string(reinterpret_cast<const char*>(second), 16));
    EXPECT_EQ(disk[0].find("vsi.V")->valueType, 4u);
    EXPECT_EQ(disk[1].find("vsi.V"), nullptr);
    EXPECT_EQ(DBM_GetBinary(used, k.c(), k.len(), 12, 2, got), 2);  // from an offset
    EXPECT_EQ(got[0] & 0xFFFF, 0xFFFFu);
    // Missing keys, also in the other database.
    EXPECT_EQ(DBM_GetBinary(used, "vsi.W", 6, 0, 16, got), -1);
    EXPECT_EQ(DBM_GetBinary(unused, k.c(), k.len(), 0, 16, got), -1);
    EXPECT_EQ(DBM_Len(used, "vsi.W", 6), 0u);
    // A shorter value replaces a longer one.
    ASSERT_EQ(setBin(used, k, &one, 2, 4), DBM_OK);
    EXPECT_EQ(DBM_Len(used, k.c(), k.len()), 2u);
    // Deletion takes the key and its count of the type, on disk as well.
    ASSERT_EQ(DBM_DeleteKey(used, k.c(), k.len()), DBM_OK);
    EXPECT_FALSE(exists(used, k));
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 4), 0u);
    EXPECT_EQ(DBM_DeleteKey(used, k.c(), k.len()), DBM_ERR_NOT_FOUND);
    EXPECT_EQ(onDisk(pairFile())[0].find("vsi.V"), nullptr);
}

// Chunked walks of keys by type are what the daemon's batch deletions use
// (their tests check chunk sizes and deletion of every key walked); here:
// keys added behind the walk are not returned, those ahead are, and a
// deleted key's text stays readable until the walk is freed.
TEST_F(DbmValues, WalksOfKeysByTypeFollowChangesAndRunOutWhenNeverFreed)
{
    for (uint32_t i = 0; i < 10; ++i) ASSERT_EQ(saveUc(run, "ucpw." + std::to_string(i) + ".1.1.ge1", ucpw(i, 1, 1, mac(1), 1)), DBM_OK);
    ASSERT_EQ(setBin(used, "if.ge1", &one, 2, 2), DBM_OK);
    uint32_t iter = 0;
    DBM_KEY_DESC_S d[4];
    ASSERT_EQ(DBM_GetKeysByValueType(run, 4, 0, &iter, d), 4u);
    ASSERT_EQ(saveUc(run, "ucpw.0.0", ucpw(0, 0, 0, mac(2), 0)), DBM_OK);
    ASSERT_EQ(saveUc(run, "ucpw.99", ucpw(0, 0, 0, mac(2), 0)), DBM_OK);
    ASSERT_EQ(DBM_DeleteKey(run, d[0].pcKey, d[0].uiKeyLen), DBM_OK);
    ASSERT_EQ(DBM_DeleteKey(run, "ucpw.8.1.1.ge1", 15), DBM_OK);
    EXPECT_EQ(std::string(d[0].pcKey), "ucpw.0.1.1.ge1");
    std::vector<std::string> rest;
    for (uint32_t n; (n = DBM_GetKeysByValueType(run, 4, 0, &iter, d)) > 0;)
        for (uint32_t i = 0; i < n; ++i) rest.emplace_back(d[i].pcKey);
    EXPECT_EQ(rest, (std::vector<std::string>{"ucpw.4.1.1.ge1", "ucpw.5.1.1.ge1", "ucpw.6.1.1.ge1", "ucpw.7.1.1.ge1",
                                              "ucpw.9.1.1.ge1", "ucpw.99"}));
    EXPECT_EQ(DBM_GetKeysByValueType(run, 4, 2, &iter, d), 0u);  // no other type or database
    EXPECT_EQ(DBM_GetKeysByValueType(used, 4, 0, &iter, d), 0u);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
    // Walks never freed run out at 4096 and are reported; a close frees them.
    for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(DBM_GetKeysByValueType(run, 1, 0, &(iter = 0), d), 1u);
    uint32_t more = 0;
    EXPECT_EQ(DBM_GetKeysByValueType(run, 1, 0, &more, d), 0u);
    EXPECT_EQ(more, 0u);
    EXPECT_NE(logText().find("too many open iterators"), std::string::npos);
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    ASSERT_EQ(openRun(), DBM_OK);
    EXPECT_EQ(DBM_GetKeysByValueType(run, 1, 0, &more, d), 1u);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_ERR_NOT_FOUND);
}

// Moving there and back is what the daemon's tests check; here: a moved key
// replaces the destination's and is on disk at once; bad moves change nothing.
TEST_F(DbmValues, AMovedKeyReplacesTheDestinationsAndBadMovesChangeNothing)
{
    Key list("ifvsi.ge1/0/1"), flag("if.ge1/0/1");
    for (const char* n : {"V1", "V2"}) ASSERT_EQ(addName(used, list, n), DBM_OK);
    ASSERT_EQ(addName(unused, list, "OLD"), DBM_OK);
    ASSERT_EQ(setBin(unused, flag, &one, 2, 2), DBM_OK);
    ASSERT_EQ(DBM_Move(used, list.c(), list.len(), unused), DBM_OK);
    EXPECT_EQ(names(unused, list), (std::vector<std::string>{"V1", "V2"}));
    EXPECT_EQ(onDiskElems(pairFile(), 0, "ifvsi.ge1/0/1"), -1);
    EXPECT_EQ(onDiskElems(pairFile(), 1, "ifvsi.ge1/0/1"), 2);
    EXPECT_EQ(DBM_Move(unused, "if.ge9", 7, used), DBM_ERR_NOT_FOUND);
    EXPECT_EQ(DBM_Move(unused, list.c(), list.len(), unused), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Move(unused, flag.c(), flag.len(), run), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Move(unused, flag.c(), flag.len(), DBM_INVALID_HANDLE), DBM_ERR_HANDLE);
    EXPECT_TRUE(exists(unused, flag));
    EXPECT_FALSE(exists(run, flag) || exists(used, flag));
}

TEST_F(DbmValues, ElementsComeBackInOrderOfTheirSortFieldAcrossReopen)
{
    Key k("ucpw.5.17.100.ge1/0/1");
    std::mt19937 rng(7);
    std::vector<UcPwElem> all;
    for (uint32_t i = 0; i < 500; ++i) all.push_back(ucpw(5, 1000 + i, 17, mac(rng()), static_cast<uint16_t>(rng())));
    for (const auto& e : all) ASSERT_EQ(saveUc(run, k, e), DBM_OK);
    std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return field(a) < field(b); });
    EXPECT_EQ(walk<UcPwElem>(run, k), all);
    EXPECT_EQ(walk<UcPwElem>(run, k, 1), all);
    closeAll();
    openAll();
    EXPECT_EQ(walk<UcPwElem>(run, k), all);
}

TEST_F(DbmValues, AnElementIsIdentifiedByItsSortField)
{
    Key k("ucpw.5.17.100.ge1");
    auto a = ucpw(5, 1000, 17, mac(1), 100), sameField = ucpw(5, 2000, 17, mac(1), 100);
    auto otherVlan = ucpw(5, 1000, 17, mac(1), 101);
    for (const auto& e : {a, sameField, otherVlan}) ASSERT_EQ(saveUc(run, k, e), DBM_OK);
    EXPECT_EQ(walk<UcPwElem>(run, k), (std::vector<UcPwElem>{sameField, otherVlan}));  // replaced, not added
    EXPECT_EQ(DBM_RemoveSortList(run, k.c(), k.len(), 20, a.data()), DBM_OK);  // an equal field removes it
    EXPECT_EQ(DBM_RemoveSortList(run, k.c(), k.len(), 20, a.data()), DBM_ERR_NOT_FOUND);
    EXPECT_EQ(DBM_RemoveSortList(run, k.c(), k.len(), 20, otherVlan.data()), DBM_OK);
    EXPECT_EQ(DBM_Len(run, k.c(), k.len()), 0u);  // an empty list stays a key until deleted
    EXPECT_TRUE(exists(run, k));
    EXPECT_EQ(DBM_DeleteKey(run, k.c(), k.len()), DBM_OK);
    EXPECT_FALSE(exists(run, k));

    // Names compare as text up to their NUL.
    Key names_("ifvsi.ge1");
    for (const char* n : {"b", "ab", "a", "B"}) ASSERT_EQ(addName(used, names_, n), DBM_OK);
    VsiName dirty = vsiName("a"), plain = vsiName("a");
    dirty[5] = 'x';
    ASSERT_EQ(DBM_InsertSortList(used, names_.c(), names_.len(), 32, dirty.data(), 1), DBM_OK);
    EXPECT_EQ(names(used, names_), (std::vector<std::string>{"B", "a", "ab", "b"}));
    EXPECT_EQ(DBM_RemoveSortList(used, names_.c(), names_.len(), 32, plain.data()), DBM_OK);
    EXPECT_EQ(DBM_Len(used, names_.c(), names_.len()), 3u * 32u);
    // An insert with another value type gives the whole list that type.
    ASSERT_EQ(DBM_InsertSortList(used, names_.c(), names_.len(), 32, plain.data(), 3), DBM_OK);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 3), 1u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 1), 0u);
}

TEST_F(DbmValues, DescriptionsAreDeclaredOnceAndChecked)
{
    Key k("ucpw.1.2.3.ge1");
    auto e = ucpw(1, 1, 2, mac(1), 3);
    auto sortWord = [&](uint32_t kind, uint32_t off, uint32_t len, uint32_t cmp) { return DBM_SetSortWord(run, k.c(), k.len(), kind, off, len, cmp, 0); };
    auto insert = [&](uint32_t len) { return DBM_InsertSortList(run, k.c(), k.len(), len, e.data(), 0); };
    EXPECT_EQ(insert(20), DBM_ERR_NOT_FOUND);  // no description
    EXPECT_EQ(sortWord(1, 12, 8, 3), DBM_ERR_PARAM);
    EXPECT_EQ(sortWord(2, 12, 8, 4), DBM_ERR_PARAM);
    EXPECT_EQ(sortWord(1, 12, 0, 4), DBM_ERR_PARAM);
    ASSERT_EQ(sortWord(1, 12, 8, 4), DBM_OK);
    EXPECT_FALSE(exists(run, k));  // a declaration is no key, and a deletion forgets it
    EXPECT_EQ(DBM_DeleteKey(run, k.c(), k.len()), DBM_OK);
    EXPECT_EQ(insert(20), DBM_ERR_NOT_FOUND);
    ASSERT_EQ(sortWord(1, 16, 8, 4), DBM_OK);
    EXPECT_EQ(insert(20), DBM_ERR_PARAM);  // the field passes the element's end
    ASSERT_EQ(sortWord(1, 12, 8, 4), DBM_OK);
    ASSERT_EQ(insert(20), DBM_OK);
    EXPECT_EQ(sortWord(1, 12, 8, 4), DBM_OK);  // an existing list keeps description and length
    EXPECT_EQ(sortWord(1, 12, 6, 4), DBM_ERR_EXIST);
    EXPECT_EQ(insert(24), DBM_ERR_PARAM);
    uint32_t fresh = 0;
    EXPECT_EQ(DBM_GetNextSortList(run, k.c(), k.len(), &fresh, 0, 0, 24, std::array<uint8_t, 24>{}.data()), -1);
    uint16_t one = 1;
    ASSERT_EQ(setBin(used, "vsi.V", &one, 2, 0), DBM_OK);
    EXPECT_EQ(DBM_SetSortWord(used, "vsi.V", 6, 1, 0, 32, 5, 0), DBM_ERR_TYPE);
    EXPECT_EQ(DBM_RemoveSortList(used, "vsi.V", 6, 2, &one), DBM_ERR_TYPE);
}

// A walk goes on in the key of the same name made again, in the order of
// the fields as strings, whatever their new length.
TEST_F(DbmValues, AWalkGoesOnInAKeyMadeAgainWithLongerFields)
{
    Key k("ucpw.9.1.100.ge1");
    auto sortWord = [&](uint32_t len) { return DBM_SetSortWord(run, k.c(), k.len(), 1, 12, len, 4, 0); };
    ASSERT_EQ(sortWord(6), DBM_OK);  // the B-MAC alone
    for (uint32_t i : {1, 2}) ASSERT_EQ(DBM_InsertSortList(run, k.c(), k.len(), 20, ucpw(9, 1, 1, mac(i), 0).data(), 0), DBM_OK);
    uint32_t iter = 0;
    UcPwElem got{};
    ASSERT_EQ(DBM_GetNextSortList(run, k.c(), k.len(), &iter, 0, 0, 20, got.data()), 20);
    ASSERT_EQ(got, ucpw(9, 1, 1, mac(1), 0));
    ASSERT_EQ(DBM_DeleteKey(run, k.c(), k.len()), DBM_OK);
    ASSERT_EQ(sortWord(8), DBM_OK);  // B-MAC and B-VLAN
    for (auto e : {ucpw(9, 1, 1, mac(0), 7), ucpw(9, 1, 1, mac(1), 0), ucpw(9, 1, 1, mac(1), 5)})
        ASSERT_EQ(DBM_InsertSortList(run, k.c(), k.len(), 20, e.data(), 0), DBM_OK);
    std::vector<UcPwElem> rest;
    while (DBM_GetNextSortList(run, k.c(), k.len(), &iter, 0, 0, 20, got.data()) == 20) rest.push_back(got);
    // After the 6-byte field of mac(1): both fields that extend it.
    EXPECT_EQ(rest, (std::vector<UcPwElem>{ucpw(9, 1, 1, mac(1), 0), ucpw(9, 1, 1, mac(1), 5)}));
    DBM_FreeIterator(iter);
}

// The daemon's recovery removes refused elements while it walks the key.
TEST_F(DbmValues, AWalkReturnsEveryRemainingElementOnceWhileElementsGoAndCome)
{
    Key k("ucpw.9.1.10.ge2");
    auto el = [](uint32_t m) { return ucpw(9, 1, 1, mac(m), 10); };
    for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(saveUc(run, k, el(i * 2)), DBM_OK);
    uint32_t iter = 0;
    UcPwElem buf;
    std::vector<uint32_t> seen;
    int32_t n;
    while ((n = DBM_GetNextSortList(run, k.c(), k.len(), &iter, 0, 0, 20, buf.data())) > 0) {
        uint32_t m = (uint32_t(buf[14]) << 24) | (uint32_t(buf[15]) << 16) | (buf[16] << 8) | buf[17];
        seen.push_back(m);
        // Drop this one and the element two ahead; add one behind and one ahead.
        EXPECT_EQ(DBM_RemoveSortList(run, k.c(), k.len(), 20, buf.data()), DBM_OK);
        DBM_RemoveSortList(run, k.c(), k.len(), 20, el(m + 4).data());
        if (m % 50 == 0 && m > 0) {
            ASSERT_EQ(saveUc(run, k, el(m - 1)), DBM_OK);
            ASSERT_EQ(saveUc(run, k, el(m + 3)), DBM_OK);
        }
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
    // Evens with m % 8 of 0 or 2 survive the look-ahead removal; of the added
    // elements those ahead (m + 3) are reached, those behind (m - 1) stay.
    std::vector<uint32_t> expected = {53, 203, 253, 403, 453};
    for (uint32_t m = 0; m < 600; m += 2)
        if (m % 8 == 0 || m % 8 == 2) expected.push_back(m);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(walk<UcPwElem>(run, k), (std::vector<UcPwElem>{el(49), el(199), el(249), el(399), el(449)}));
}

TEST_F(DbmValues, AWalkEndsWhenItsKeyIsDeletedAndRefusesOtherKeys)
{
    Key k("ucpw.9"), other("ucpw.8");
    for (uint32_t i = 0; i < 10; ++i) ASSERT_EQ(saveUc(run, k, ucpw(9, 1, 1, mac(i), 10)), DBM_OK);
    ASSERT_EQ(saveUc(run, other, ucpw(9, 1, 1, mac(1), 11)), DBM_OK);
    uint32_t iter = 0, none = 0;
    UcPwElem buf[4];
    ASSERT_EQ(DBM_BatchGetNextSortList(run, k.c(), k.len(), &iter, 0, 0, 20, 4, buf), 4);
    EXPECT_EQ(DBM_BatchGetNextSortList(run, other.c(), other.len(), &iter, 0, 0, 20, 4, buf), -1);
    EXPECT_EQ(DBM_BatchGetNextSortList(run, k.c(), k.len(), &iter, 1, 0, 20, 4, buf), -1);  // reserved
    ASSERT_EQ(DBM_DeleteKey(run, k.c(), k.len()), DBM_OK);
    EXPECT_EQ(DBM_BatchGetNextSortList(run, k.c(), k.len(), &iter, 0, 0, 20, 4, buf), 0);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_ERR_NOT_FOUND);
    EXPECT_EQ(DBM_GetNextSortList(run, k.c(), k.len(), &none, 0, 0, 20, buf), 0);  // no iterator needed
    EXPECT_EQ(none, 0u);
}
