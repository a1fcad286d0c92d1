// DBM_Batch_Proc: row order, verdicts, keys handed over once, and one
// commit for the whole batch.
#include "dbm_test.h"

#include <functional>
#include <map>

using namespace dbmtest;

namespace {

struct Visit {
    uint32_t handle;
    std::string key;
    bool operator==(const Visit&) const = default;
};
std::vector<Visit> g_visits;
std::map<std::string, uint32_t> g_verdicts;  // by key; keep when absent
std::function<void(uint32_t, const char*, uint32_t)> g_during;

uint32_t handler(uint32_t h, const char* key, uint32_t len)
{
    EXPECT_EQ(len, std::strlen(key) + 1);
    g_visits.push_back({h, key});
    if (g_during) g_during(h, key, len);
    auto it = g_verdicts.find(key);
    return it == g_verdicts.end() ? DBM_PROC_KEEP : it->second;
}

class DbmBatch : public DbmTest {
protected:
    void SetUp() override
    {
        DbmTest::SetUp();
        g_visits.clear();
        g_verdicts.clear();
        g_during = nullptr;
        ASSERT_EQ(openPair(used, unused), DBM_OK);
        uint8_t rec[16] = {};
        uint16_t one = 1;
        for (const char* k : {"vsi.B", "vsi.A"}) ASSERT_EQ(DBM_SetBinary(used, k, uint32_t(std::strlen(k) + 1), 0, 16, rec, 0), DBM_OK);
        for (auto [h, k] : {std::pair{used, "if.ge1"}, {unused, "if.ge2"}, {unused, "if.ge3"}})
            ASSERT_EQ(DBM_SetBinary(h, k, uint32_t(std::strlen(k) + 1), 0, 2, &one, 2), DBM_OK);
        for (auto [h, k] : {std::pair{used, "ifvsi.ge1"}, {unused, "ifvsi.ge2"}}) ASSERT_EQ(addName(h, Key("%s", k), "A"), DBM_OK);
    }
    // The daemon's configuration table: VSIs, then VSI lists, then all-VSI flags.
    const DBM_PROC_KEY_S table[3] = {{0, handler, nullptr}, {1, handler, handler}, {2, handler, handler}};
    uint32_t used = DBM_INVALID_HANDLE, unused = DBM_INVALID_HANDLE;
};

}  // namespace

// Rows run in table order, the first database before the second.
TEST_F(DbmBatch, VerdictsDeleteAndMoveAndMovedKeysAreNotHandedOverAgain)
{
    g_verdicts = {{"vsi.A", DBM_PROC_DELETE}, {"if.ge1", DBM_PROC_MOVE}, {"if.ge2", DBM_PROC_MOVE},
                  {"ifvsi.ge2", DBM_PROC_DELETE}};
    ASSERT_EQ(DBM_Batch_Proc(used, unused, table, 3), DBM_OK);
    std::vector<Visit> expected = {{used, "vsi.A"},       {used, "vsi.B"},  {used, "ifvsi.ge1"}, {unused, "ifvsi.ge2"},
                                   {used, "if.ge1"}, {unused, "if.ge2"}, {unused, "if.ge3"}};
    EXPECT_EQ(g_visits, expected);  // if.ge1 not seen again in the second database
    auto exists = [](uint32_t h, const char* k) { return DBM_IsKeyExist(h, k, uint32_t(std::strlen(k) + 1)); };
    EXPECT_EQ(exists(used, "vsi.A"), 0u);
    EXPECT_EQ(exists(unused, "ifvsi.ge2"), 0u);
    EXPECT_EQ(exists(unused, "if.ge1"), 1u);
    EXPECT_EQ(exists(used, "if.ge2"), 1u);
    for (auto [h, k] : {std::pair{used, "vsi.B"}, {used, "ifvsi.ge1"}, {unused, "if.ge3"}}) EXPECT_EQ(exists(h, k), 1u) << k;
    auto disk = onDisk(pairFile());
    EXPECT_EQ(disk[0].find("vsi.A"), nullptr);
    EXPECT_NE(disk[1].find("if.ge1"), nullptr);
    EXPECT_NE(disk[0].find("if.ge2"), nullptr);
}

TEST_F(DbmBatch, NothingOfABatchReachesTheDiskBeforeItEnds)
{
    g_verdicts = {{"vsi.A", DBM_PROC_DELETE}, {"ifvsi.ge1", DBM_PROC_MOVE}};
    size_t seenOnDiskMidway = 99;
    g_during = [&](uint32_t h, const char* key, uint32_t len) {
        if (std::string(key) == "ifvsi.ge2") {
            // A handler's own write, and a look at the file halfway through.
            auto n = vsiName("A");
            EXPECT_EQ(DBM_RemoveSortList(h, key, len, 32, n.data()), DBM_OK);
            auto disk = onDisk(pairFile());
            seenOnDiskMidway = (disk[0].find("vsi.A") != nullptr) + (disk[0].find("ifvsi.ge1") != nullptr) +
                               (disk[1].find("ifvsi.ge2")->elems.size());
        }
    };
    ASSERT_EQ(DBM_Batch_Proc(used, unused, table, 3), DBM_OK);
    EXPECT_EQ(seenOnDiskMidway, 3u);  // the earlier delete and move, and the element, all still there
    auto disk = onDisk(pairFile());
    EXPECT_EQ(disk[0].find("vsi.A"), nullptr);
    EXPECT_NE(disk[1].find("ifvsi.ge1"), nullptr);
    EXPECT_EQ(disk[1].find("ifvsi.ge2")->elems.size(), 0u);
}

TEST_F(DbmBatch, AMoveWithoutASecondDatabaseKeepsTheKey)
{
    g_verdicts = {{"vsi.A", DBM_PROC_MOVE}};
    ASSERT_EQ(DBM_Batch_Proc(used, DBM_INVALID_HANDLE, table, 1), DBM_OK);
    EXPECT_EQ(DBM_IsKeyExist(used, "vsi.A", 6), 1u);
    EXPECT_NE(logText().find("verdict 2 for key \"vsi.A\""), std::string::npos) << logText();
    const DBM_PROC_KEY_S firstOnly[1] = {{2, handler, nullptr}};
    g_visits.clear();
    ASSERT_EQ(DBM_Batch_Proc(used, unused, firstOnly, 1), DBM_OK);
    EXPECT_EQ(g_visits, (std::vector<Visit>{{used, "if.ge1"}}));
    EXPECT_EQ(DBM_Batch_Proc(used, used, table, 1), DBM_ERR_PARAM);
}

// Recovery of learned entries: the handler walks its key and removes the
// entries the table refuses; the verdict deletes keys of gone interfaces.
TEST_F(DbmBatch, RunDatabaseRecoveryRemovesElementsAndKeysInOneCommit)
{
    uint32_t run;
    ASSERT_EQ(openRun(run), DBM_OK);
    for (uint32_t ifIndex : {1u, 2u}) {
        Key k("ucpw.1.%u.10.ge%u", ifIndex, ifIndex);
        for (uint8_t m = 0; m < 200; ++m) ASSERT_EQ(saveUc(run, k, ucpw(1, 100, ifIndex, {0, 0, 0, 0, 0, m}, 10)), DBM_OK);
    }
    ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    g_verdicts = {{"ucpw.1.2.10.ge2", DBM_PROC_DELETE}};
    g_during = [&](uint32_t h, const char* key, uint32_t len) {
        uint32_t iter = 0;
        UcPwElem buf[128];
        int32_t n;
        while ((n = DBM_BatchGetNextSortList(h, key, len, &iter, 0, 0, 20, 128, buf)) > 0)
            for (int32_t i = 0; i < n; ++i) {
                if (buf[i][17] % 2 == 1) {
                    EXPECT_EQ(DBM_RemoveSortList(h, key, len, 20, buf[i].data()), DBM_OK);
                }
            }
        DBM_FreeIterator(iter);
    };
    const DBM_PROC_KEY_S runTable[1] = {{0, handler, nullptr}};
    ASSERT_EQ(DBM_Batch_Proc(run, DBM_INVALID_HANDLE, runTable, 1), DBM_OK);
    Key k1("ucpw.1.1.10.ge1"), k2("ucpw.1.2.10.ge2");
    EXPECT_EQ(DBM_Len(run, k1.text, k1.len), 100u * 20u);
    EXPECT_EQ(DBM_IsKeyExist(run, k2.text, k2.len), 0u);
    ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    auto disk = onDisk(runFile());
    EXPECT_EQ(disk[0].find("ucpw.1.1.10.ge1")->elems.size(), 100u);
    EXPECT_EQ(disk[0].find("ucpw.1.2.10.ge2"), nullptr);
}
