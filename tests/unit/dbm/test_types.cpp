// Keys by value type: counts, chunked walks with 16-byte descriptors, and
// the daemon's batch deletion that deletes keys while it walks them.
#include "dbm_test.h"

#include <algorithm>
#include <cinttypes>
#include <map>
#include <set>

using namespace dbmtest;

namespace {

class DbmTypes : public DbmTest {
protected:
    void SetUp() override
    {
        DbmTest::SetUp();
        ASSERT_EQ(openRun(run), DBM_OK);
    }
    void fill(uint32_t keys)
    {
        for (uint32_t i = 0; i < keys; ++i) {
            Key k("ucpw.%u.%u.%hu.%s", i % 7, 10 + i % 5, static_cast<unsigned short>(i), "ge1");
            ASSERT_EQ(saveUc(run, k, ucpw(i % 7, 1, 10 + i % 5, {0, 0, 0, 0, 0, 1}, uint16_t(i))), DBM_OK);
        }
    }
    uint32_t run = DBM_INVALID_HANDLE;
};

}  // namespace

TEST_F(DbmTypes, ThreeHundredKeysComeInChunksOf128_128And44)
{
    fill(300);
    uint32_t used, unused;
    ASSERT_EQ(openPair(used, unused), DBM_OK);
    uint16_t one = 1;
    Key other("if.%s", "ge1");
    ASSERT_EQ(DBM_SetBinary(used, other.text, other.len, 0, 2, &one, 2), DBM_OK);

    ASSERT_EQ(DBM_GetKeyNumByValueType(run, 0), 300u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(run, 2), 0u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 2), 1u);
    uint32_t iter = 0;
    DBM_KEY_DESC_S d[128];
    std::vector<uint32_t> chunks;
    std::vector<std::string> keys;
    uint32_t n;
    while ((n = DBM_GetKeysByValueType(run, 128, 0, &iter, d)) > 0) {
        chunks.push_back(n);
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(d[i].uiKeyLen, std::strlen(d[i].pcKey) + 1);
            EXPECT_EQ(d[i].uiValueType, 0u);
            keys.emplace_back(d[i].pcKey);
        }
    }
    EXPECT_EQ(chunks, (std::vector<uint32_t>{128, 128, 44}));
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), 300u);
    // The walk does not wander into another type or database.
    EXPECT_EQ(DBM_GetKeysByValueType(run, 128, 2, &iter, d), 0u);
    EXPECT_EQ(DBM_GetKeysByValueType(used, 128, 0, &iter, d), 0u);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
}

// _pbb_dbmsave_DeleteUcPwBatch with a VSI filter: count, chunks of 128,
// parse, delete through the descriptor.
TEST_F(DbmTypes, DeletingKeysWhileWalkingThemVisitsEveryKeyOnce)
{
    fill(1000);
    std::map<std::string, int> visits;
    uint32_t iter = 0;
    uint32_t total = DBM_GetKeyNumByValueType(run, 0);
    ASSERT_EQ(total, 1000u);
    std::vector<DBM_KEY_DESC_S> kept;
    for (uint32_t left = total; left > 0;) {
        uint32_t chunk = std::min<uint32_t>(left, 128);
        DBM_KEY_DESC_S d[128] = {};
        uint32_t n = DBM_GetKeysByValueType(run, chunk, 0, &iter, d);
        if (n == 0) break;
        left -= std::min(left, n);
        for (uint32_t i = 0; i < n; ++i) {
            ++visits[d[i].pcKey];
            unsigned vsi = 0xFFFFFFFF, ifIndex = 0;
            unsigned short bvlan = 0xFFFF;
            char name[48] = "";
            ASSERT_EQ(std::sscanf(d[i].pcKey, "ucpw.%u.%u.%hu.%47s", &vsi, &ifIndex, &bvlan, name), 4);
            if (vsi != 3) continue;
            EXPECT_EQ(DBM_DeleteKey(run, d[i].pcKey, d[i].uiKeyLen), DBM_OK);
            kept.push_back(d[i]);
        }
    }
    EXPECT_EQ(visits.size(), 1000u);
    for (auto& [k, v] : visits) EXPECT_EQ(v, 1) << k;
    // Deleted keys' texts stay readable until the walk is freed.
    for (const auto& d : kept) EXPECT_EQ(std::strncmp(d.pcKey, "ucpw.3.", 7), 0);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
    EXPECT_EQ(DBM_GetKeyNumByValueType(run, 0), 1000u - kept.size());
    EXPECT_EQ(kept.size(), 143u);  // i % 7 == 3 for i < 1000
}

TEST_F(DbmTypes, KeysAddedBehindTheWalkAreNotReturnedAndThoseAheadAre)
{
    fill(10);
    uint32_t iter = 0;
    DBM_KEY_DESC_S d[4];
    ASSERT_EQ(DBM_GetKeysByValueType(run, 4, 0, &iter, d), 4u);
    std::string last = d[3].pcKey;
    Key behind("ucpw.0.0.0.a"), ahead("ucpw.9.0.0.a");
    for (const Key* k : {&behind, &ahead}) ASSERT_EQ(saveUc(run, *k, ucpw(0, 0, 0, {1, 2, 3, 4, 5, 6}, 0)), DBM_OK);
    ASSERT_LT(std::string(behind.text), last);
    std::vector<std::string> rest;
    uint32_t n;
    while ((n = DBM_GetKeysByValueType(run, 4, 0, &iter, d)) > 0)
        for (uint32_t i = 0; i < n; ++i) rest.emplace_back(d[i].pcKey);
    EXPECT_EQ(rest.size(), 7u);
    EXPECT_EQ(rest.back(), ahead.text);
    DBM_FreeIterator(iter);
}

TEST_F(DbmTypes, WalksThatAreNeverFreedRunOutAndAreReported)
{
    fill(1);
    DBM_KEY_DESC_S d[1];
    uint32_t iter = 0;
    for (size_t i = 0; i < 4096; ++i) {
        iter = 0;
        ASSERT_EQ(DBM_GetKeysByValueType(run, 1, 0, &iter, d), 1u);
    }
    uint32_t more = 0;
    EXPECT_EQ(DBM_GetKeysByValueType(run, 1, 0, &more, d), 0u);
    EXPECT_EQ(more, 0u);
    EXPECT_NE(logText().find("too many open iterators"), std::string::npos);
    // Closing the handle frees its walks.
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    ASSERT_EQ(openRun(run), DBM_OK);
    EXPECT_EQ(DBM_GetKeysByValueType(run, 1, 0, &more, d), 1u);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_ERR_NOT_FOUND);
}
