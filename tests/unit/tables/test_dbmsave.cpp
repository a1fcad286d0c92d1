// Database records: opening and closing the three databases, a VSI
// record's layout, interface records moving between the databases, and the
// batch deletions of learned entries (what each removes is checked by the
// control tests; here the table checks and the key chunks).
#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_ucpw.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"
#include "support/dbmread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;

using pbbtest::keyExists;

class DbmSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        auto& sw = plat::inproc::reset();
        sw.setSlotRange(1, 4);
        sw.addSlot(2, {.minm = true});
        sw.setMaxVsiNum(400);
        p17 = sw.addPort("eth-2/0/17", 2, {.ifIndex = 17});
        p18 = sw.addPort("eth-2/0/18", 2, {.ifIndex = 18});
    }
    void TearDown() override
    {
        PBB_ucpw_Exit();
        PBB_dbmrecover_Exit();
    }
    void open()
    {
        ASSERT_EQ(PBB_dbmrecover_Init(), PBB_OK);
        ASSERT_EQ(PBB_ucpw_Init(), PBB_OK);
    }
    // Learned as the learning path does it: table and database.
    void learn(uint32_t vsi, uint16_t vlan, uint8_t last, uint32_t ifIndex)
    {
        Mac m{0x00, 0x11, 0x22, 0x33, 0x44, last};
        ASSERT_EQ(PBB_ucpw_Add(vsi, 1000 + vsi, vlan, m.data(), ifIndex), PBB_OK);
        PBB_dbmsave_AddUcPw(vsi, 1000 + vsi, vlan, m.data(), ifIndex);
    }
    std::vector<std::string> ucpwKeys() { return pbbtest::keysOfType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW); }

    pbbtest::PlatformDirs dirs;
    uint32_t p17 = 0, p18 = 0;
};

TEST_F(DbmSave, DatabasesOpenInTheirStoresAndCloseTwice)
{
    // The configuration pair fails: the general failure, nothing open.
    plat::testing::failCall("DBM_OpenCfgDB", DBM_ERR_STORE, 1);
    EXPECT_EQ(PBB_dbmrecover_Init(), PBB_ERR);
    EXPECT_EQ(std::pair(g_hPbbUsedCfgDB, g_hPbbUnusedCfgDB), std::pair(DBM_INVALID_HANDLE, DBM_INVALID_HANDLE));
    // The run database fails: its own error, the pair stays open until exit.
    plat::testing::failCall("DBM_Open", DBM_ERR_CORRUPT, 1);
    EXPECT_EQ(PBB_dbmrecover_Init(), DBM_ERR_CORRUPT);
    EXPECT_NE(g_hPbbUnusedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbLocalRunDB, DBM_INVALID_HANDLE);
    PBB_dbmrecover_Exit();

    ASSERT_EQ(PBB_dbmrecover_Init(), PBB_OK);
    const std::set<uint32_t> handles{g_hPbbUsedCfgDB, g_hPbbUnusedCfgDB, g_hPbbLocalRunDB, DBM_INVALID_HANDLE};
    EXPECT_EQ(handles.size(), 4u) << "three databases, all open";
    // The first of the pair is the used database; a VSI record's two last bytes are zero.
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 10, 20, 2);
    std::vector<uint8_t> raw(16, 0xEE);
    ASSERT_EQ(DBM_GetBinary(g_hPbbUsedCfgDB, "vsi.vsi-a", 10, 0, 16, raw.data()), 16);
    EXPECT_EQ(raw[14] + raw[15], 0);
    EXPECT_FALSE(keyExists(g_hPbbUnusedCfgDB, "vsi.vsi-a"));
    PBB_dbmrecover_Exit();
    PBB_dbmrecover_Exit();
    EXPECT_EQ(g_hPbbUsedCfgDB + 0ull + g_hPbbUnusedCfgDB + g_hPbbLocalRunDB, 3ull * DBM_INVALID_HANDLE);
    // Reopened, the record is still there (the stores were closed properly).
    ASSERT_EQ(PBB_dbmrecover_Init(), PBB_OK);
    EXPECT_TRUE(keyExists(g_hPbbUsedCfgDB, "vsi.vsi-a"));
}

// Both records of an interface travel between the databases; a VSI name
// is kept to its first 31 characters.
TEST_F(DbmSave, InterfaceRecordsMoveToTheUnusedDatabaseAndBack)
{
    open();
    const std::string longName = "vsi-c-0123456789012345678901234567890123456789";
    PBB_dbmsave_AddIfCfg(0, "eth-2/0/19");
    PBB_dbmsave_AddIfVsiCfg(0, "eth-2/0/19", longName.c_str());
    for (uint32_t to : {1u, 0u}) {
        PBB_dbmsave_MoveIfAllCfg(to, "eth-2/0/19");
        for (const char* key : {"if.eth-2/0/19", "ifvsi.eth-2/0/19"}) {
            EXPECT_EQ(keyExists(g_hPbbUnusedCfgDB, key), to == 1) << key;
            EXPECT_EQ(keyExists(g_hPbbUsedCfgDB, key), to == 0) << key;
        }
    }
    auto names = pbbtest::sortList<std::array<char, 32>>(g_hPbbUsedCfgDB, "ifvsi.eth-2/0/19");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(std::string(names[0].data()), longName.substr(0, 31));
}

TEST_F(DbmSave, BatchDeletionsSkipTheDatabaseWhenTheTableHasNothingOfTheKind)
{
    open();
    // A stale record in the database; the table holds only VSI 1 on p17, B-VLAN 10.
    PBB_dbmsave_AddUcPw(2, 1, 20, Mac{1, 2, 3, 4, 5, 6}.data(), p18);
    learn(1, 10, 1, p17);
    const auto before = ucpwKeys();
    ASSERT_EQ(before.size(), 2u);
    plat::testing::setRecording(true);
    const uint32_t ifs[] = {p18};
    // Of the interface and B-VLAN pairs, the interface has nothing, then the B-VLAN.
    const uint32_t results[] = {PBB_dbmsave_DeleteUcPwByVsi(2),         PBB_dbmsave_DeleteUcPwByIf(p18),
                                PBB_dbmsave_DeleteUcPwByBVlan(20),      PBB_dbmsave_DeleteUcPwByIfBVlan(p18, 10),
                                PBB_dbmsave_DeleteUcPwByIfBVlan(p17, 20), PBB_dbmsave_DeleteUcPwByIfVsi(p18, 1),
                                PBB_dbmsave_DeleteUcPwByIfVsi(p17, 2),  PBB_dbmsave_DeleteUcPwByVsiIfList(2, 1, ifs)};
    EXPECT_EQ(std::vector<uint32_t>(std::begin(results), std::end(results)), std::vector<uint32_t>(8, 1u));
    PBB_ucpw_DeleteAll();
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwAll(), 1u) << "an empty table skips even the whole-table deletion";
    EXPECT_EQ(plat::testing::countCalls("DBM_GetKeyNumByValueType"), 0u);
    EXPECT_EQ(plat::testing::countCalls("DBM_GetKeysByValueType"), 0u);
    EXPECT_EQ(ucpwKeys(), before);
    // The bitmap deletion never asks the table.
    BITMAP_S* vlans = Bitmap_Create(4094);
    Bitmap_Set(vlans, 20);
    PBB_dbmsave_DeleteUcPwByBVlanMapIfList(vlans, 0, nullptr);
    EXPECT_EQ(ucpwKeys(), std::vector<std::string>{"ucpw.1.17.10.eth-2/0/17"});
    Bitmap_Destroy(vlans);
}

TEST_F(DbmSave, BatchDeletionReadsKeysInChunksOf128)
{
    open();
    // 300 keys: one B-VLAN each, on one interface of VSI 1.
    for (uint16_t v = 1; v <= 300; ++v) learn(1, v, static_cast<uint8_t>(v), p17);
    plat::testing::setRecording(true);
    PBB_dbmsave_DeleteUcPwByVsi(1);
    std::string counts;
    for (auto& c : plat::testing::callsNamed("DBM_GetKeysByValueType")) {
        auto pos = c.args.find("count=");
        counts += c.args.substr(pos + 6, c.args.find(' ', pos) - pos - 6) + " ";
    }
    EXPECT_EQ(counts, "128 128 44 ");
    EXPECT_EQ(plat::testing::countCalls("DBM_DeleteKey"), 300u);
    EXPECT_EQ(plat::testing::countCalls("DBM_FreeIterator"), 1u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW), 0u);
}

}  // namespace
