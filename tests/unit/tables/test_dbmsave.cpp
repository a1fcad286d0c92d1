// Database records: opening and closing the three databases, the stored
// keys and values of VSIs, uplinks and learned entries, and the batch
// deletions of learned entries with their table checks and key chunks.
#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_ucpw.h"
#include "platform/dbm.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;

uint32_t keyLen(const std::string& key)
{
    return static_cast<uint32_t>(key.size() + 1);
}

bool exists(uint32_t hDb, const std::string& key)
{
    return DBM_IsKeyExist(hDb, key.c_str(), keyLen(key)) == 1;
}

// Every element of a sort list, in stored order.
template <size_t N>
std::vector<std::array<uint8_t, N>> elements(uint32_t hDb, const std::string& key)
{
    std::vector<std::array<uint8_t, N>> out;
    uint32_t iter = 0;
    std::array<uint8_t, N> buf{};
    while (DBM_GetNextSortList(hDb, key.c_str(), keyLen(key), &iter, 0, 0, N, buf.data()) > 0) {
        out.push_back(buf);
        buf.fill(0);
    }
    DBM_FreeIterator(iter);
    return out;
}

std::set<std::string> keysOfType(uint32_t hDb, uint32_t type)
{
    std::set<std::string> out;
    uint32_t iter = 0;
    DBM_KEY_DESC_S descs[64];
    for (;;) {
        uint32_t n = DBM_GetKeysByValueType(hDb, 64, type, &iter, descs);
        if (n == 0) break;
        for (uint32_t i = 0; i < n; ++i) out.insert(descs[i].pcKey);
    }
    DBM_FreeIterator(iter);
    return out;
}

std::vector<std::string> vsiNames(uint32_t hDb, const std::string& key)
{
    std::vector<std::string> out;
    for (auto& e : elements<32>(hDb, key)) {
        EXPECT_EQ(e[31], 0);
        out.emplace_back(reinterpret_cast<const char*>(e.data()));
    }
    return out;
}

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
        p19 = sw.addPort("eth-2/0/19", 2, {.ifIndex = 19});
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
    std::set<std::string> ucpwKeys() { return keysOfType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW); }

    pbbtest::PlatformDirs dirs;
    uint32_t p17 = 0, p18 = 0, p19 = 0;
};

TEST_F(DbmSave, DatabasesOpenInTheirStoresAndCloseTwice)
{
    EXPECT_EQ(g_hPbbUsedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbUnusedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbLocalRunDB, DBM_INVALID_HANDLE);
    ASSERT_EQ(PBB_dbmrecover_Init(), PBB_OK);
    EXPECT_NE(g_hPbbUsedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_NE(g_hPbbUnusedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_NE(g_hPbbLocalRunDB, DBM_INVALID_HANDLE);
    EXPECT_EQ((std::set<uint32_t>{g_hPbbUsedCfgDB, g_hPbbUnusedCfgDB, g_hPbbLocalRunDB}).size(), 3u);

    // The first of the pair is the used database: a record written there is
    // found in the pair's store, not in the run database's.
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 10, 20, 2);
    EXPECT_TRUE(exists(g_hPbbUsedCfgDB, "vsi.vsi-a"));
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, "vsi.vsi-a"));
    PBB_dbmrecover_Exit();
    EXPECT_EQ(g_hPbbUsedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbUnusedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbLocalRunDB, DBM_INVALID_HANDLE);
    PBB_dbmrecover_Exit();

    const std::string root = plat::dbm::storeRoot() + "/pbb/";
    EXPECT_TRUE(std::filesystem::exists(root + "ePBB+pPBB.db"));
    EXPECT_TRUE(std::filesystem::exists(root + "lPBB.db"));

    // Reopened, the record is still there (the stores were closed properly).
    ASSERT_EQ(PBB_dbmrecover_Init(), PBB_OK);
    EXPECT_TRUE(exists(g_hPbbUsedCfgDB, "vsi.vsi-a"));
}

TEST_F(DbmSave, OpenFailures)
{
    // The configuration pair fails: the general failure, nothing open.
    plat::testing::failCall("DBM_OpenCfgDB", DBM_ERR_STORE, 1);
    EXPECT_EQ(PBB_dbmrecover_Init(), PBB_ERR);
    EXPECT_EQ(g_hPbbUsedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbUnusedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbLocalRunDB, DBM_INVALID_HANDLE);

    // The run database fails: its own error, the pair stays open until exit.
    plat::testing::failCall("DBM_Open", DBM_ERR_CORRUPT, 1);
    EXPECT_EQ(PBB_dbmrecover_Init(), DBM_ERR_CORRUPT);
    EXPECT_NE(g_hPbbUsedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_NE(g_hPbbUnusedCfgDB, DBM_INVALID_HANDLE);
    EXPECT_EQ(g_hPbbLocalRunDB, DBM_INVALID_HANDLE);
    PBB_dbmrecover_Exit();
    EXPECT_EQ(g_hPbbUsedCfgDB, DBM_INVALID_HANDLE);
    // Closed for real: the pair can be opened again.
    EXPECT_EQ(PBB_dbmrecover_Init(), PBB_OK);
}

TEST_F(DbmSave, LearnedEntriesShareOneKeyPerVsiInterfaceAndBVlan)
{
    open();
    const Mac m1{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const Mac m2{0x00, 0x11, 0x22, 0x33, 0x44, 0x56};
    const std::string key = "ucpw.5.17.100.eth-2/0/17";
    PBB_dbmsave_AddUcPw(5, 1000, 100, m1.data(), p17);
    ASSERT_TRUE(exists(g_hPbbLocalRunDB, key));
    auto elems = elements<20>(g_hPbbLocalRunDB, key);
    ASSERT_EQ(elems.size(), 1u);
    PbbDbmUcPwRec rec;
    std::memcpy(&rec, elems[0].data(), sizeof(rec));
    EXPECT_EQ(rec.uiVsiIndex, 5u);
    EXPECT_EQ(rec.uiISid, 1000u);
    EXPECT_EQ(rec.uiIfIndex, 17u);
    EXPECT_EQ(std::memcmp(rec.aucBMac, m1.data(), 6), 0);
    EXPECT_EQ(rec.usBVlan, 100);
    EXPECT_EQ(std::memcmp(elems[0].data() + 12, m1.data(), 6), 0);  // network order, at bytes 12-17

    // The second B-MAC goes into the same key; nothing else is stored.
    PBB_dbmsave_AddUcPw(5, 1000, 100, m2.data(), p17);
    EXPECT_EQ(DBM_Len(g_hPbbLocalRunDB, key.c_str(), keyLen(key)), 40u);
    EXPECT_EQ(ucpwKeys(), (std::set<std::string>{key}));

    // Removing one keeps the key, removing both deletes it.
    PbbUcPw entry{};
    entry.uiVsiIndex = 5;
    entry.uiISid = 1000;
    entry.usBVlan = 100;
    entry.uiIfIndex = p17;
    std::memcpy(entry.aucBMac, m1.data(), 6);
    PBB_dbmsave_DeleteUcPw(&entry);
    ASSERT_TRUE(exists(g_hPbbLocalRunDB, key));
    elems = elements<20>(g_hPbbLocalRunDB, key);
    ASSERT_EQ(elems.size(), 1u);
    EXPECT_EQ(elems[0][17], 0x56);
    std::memcpy(entry.aucBMac, m2.data(), 6);
    PBB_dbmsave_DeleteUcPw(&entry);
    EXPECT_FALSE(exists(g_hPbbLocalRunDB, key));

    // Other VSI, interface or B-VLAN: other keys. An interface the manager
    // does not know gives an empty name.
    PBB_dbmsave_AddUcPw(6, 1, 100, m1.data(), p17);
    PBB_dbmsave_AddUcPw(5, 1, 100, m1.data(), p18);
    PBB_dbmsave_AddUcPw(5, 1, 101, m1.data(), p17);
    PBB_dbmsave_AddUcPw(5, 1, 101, m1.data(), 4242);
    EXPECT_EQ(ucpwKeys(), (std::set<std::string>{"ucpw.6.17.100.eth-2/0/17", "ucpw.5.18.100.eth-2/0/18",
                                                 "ucpw.5.17.101.eth-2/0/17", "ucpw.5.4242.101."}));
}

TEST_F(DbmSave, VsiRecordHoldsIndexISidEncapAndBVlan)
{
    open();
    PBB_dbmsave_AddVsiCfg(3, "vsi-three", 7, 10, 2);
    std::array<uint8_t, 16> raw{};
    raw.fill(0xEE);
    ASSERT_EQ(DBM_GetBinary(g_hPbbUsedCfgDB, "vsi.vsi-three", 14, 0, 16, raw.data()), 16);
    PbbDbmVsiRec rec;
    std::memcpy(&rec, raw.data(), sizeof(rec));
    EXPECT_EQ(rec.uiVsiIndex, 3u);
    EXPECT_EQ(rec.uiISid, 7u);
    EXPECT_EQ(rec.uiEncapType, 2u);
    EXPECT_EQ(rec.usBVlan, 10);
    EXPECT_EQ(raw[14], 0);
    EXPECT_EQ(raw[15], 0);
    EXPECT_EQ(keysOfType(g_hPbbUsedCfgDB, PBB_DBM_VT_VSI), (std::set<std::string>{"vsi.vsi-three"}));

    // Written again: replaced.
    PBB_dbmsave_AddVsiCfg(3, "vsi-three", 7, 0xFFFF, 5);
    ASSERT_EQ(DBM_GetBinary(g_hPbbUsedCfgDB, "vsi.vsi-three", 14, 0, 16, raw.data()), 16);
    std::memcpy(&rec, raw.data(), sizeof(rec));
    EXPECT_EQ(rec.uiEncapType, 5u);
    EXPECT_EQ(rec.usBVlan, 0xFFFF);
    PBB_dbmsave_DeleteVsiCfg("vsi-three");
    EXPECT_FALSE(exists(g_hPbbUsedCfgDB, "vsi.vsi-three"));
}

TEST_F(DbmSave, AllVsiUplinkRecordInTheSelectedDatabase)
{
    open();
    uint16_t value = 0xAAAA;
    PBB_dbmsave_GetIfCfg(0, "eth-2/0/17", &value);
    EXPECT_EQ(value, 0);  // absent

    PBB_dbmsave_AddIfCfg(0, "eth-2/0/17");
    EXPECT_TRUE(exists(g_hPbbUsedCfgDB, "if.eth-2/0/17"));
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, "if.eth-2/0/17"));
    EXPECT_EQ(keysOfType(g_hPbbUsedCfgDB, PBB_DBM_VT_IF), (std::set<std::string>{"if.eth-2/0/17"}));
    EXPECT_EQ(DBM_Len(g_hPbbUsedCfgDB, "if.eth-2/0/17", 14), 2u);
    PBB_dbmsave_GetIfCfg(0, "eth-2/0/17", &value);
    EXPECT_EQ(value, 1);
    value = 0xAAAA;
    PBB_dbmsave_GetIfCfg(1, "eth-2/0/17", &value);
    EXPECT_EQ(value, 0);

    PBB_dbmsave_AddIfCfg(1, "eth-9/0/1");
    EXPECT_TRUE(exists(g_hPbbUnusedCfgDB, "if.eth-9/0/1"));
    PBB_dbmsave_DeleteIfCfg(0, "eth-9/0/1");  // wrong database: stays
    EXPECT_TRUE(exists(g_hPbbUnusedCfgDB, "if.eth-9/0/1"));
    PBB_dbmsave_DeleteIfCfg(1, "eth-9/0/1");
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, "if.eth-9/0/1"));
}

TEST_F(DbmSave, InterfaceVsiListGoesWithItsLastName)
{
    open();
    const std::string key = "ifvsi.eth-2/0/18";
    PBB_dbmsave_AddIfVsiCfg(0, "eth-2/0/18", "vsi-b");
    PBB_dbmsave_AddIfVsiCfg(0, "eth-2/0/18", "vsi-a");
    // A long name is cut to 31 characters.
    PBB_dbmsave_AddIfVsiCfg(0, "eth-2/0/18", "vsi-c-0123456789012345678901234567890123456789");
    EXPECT_EQ(vsiNames(g_hPbbUsedCfgDB, key),
              (std::vector<std::string>{"vsi-a", "vsi-b", "vsi-c-0123456789012345678901234"}));
    EXPECT_EQ(keysOfType(g_hPbbUsedCfgDB, PBB_DBM_VT_IFVSI), (std::set<std::string>{key}));
    // NUL-padded elements.
    auto elems = elements<32>(g_hPbbUsedCfgDB, key);
    ASSERT_FALSE(elems.empty());
    for (size_t i = 5; i < 32; ++i) EXPECT_EQ(elems[0][i], 0) << i;

    PBB_dbmsave_DeleteIfVsiCfg(0, "eth-2/0/18", "vsi-b");
    EXPECT_TRUE(exists(g_hPbbUsedCfgDB, key));
    PBB_dbmsave_DeleteIfVsiCfg(0, "eth-2/0/18", "vsi-c-0123456789012345678901234567890123456789");
    EXPECT_EQ(vsiNames(g_hPbbUsedCfgDB, key), (std::vector<std::string>{"vsi-a"}));
    PBB_dbmsave_DeleteIfVsiCfg(0, "eth-2/0/18", "vsi-a");
    EXPECT_FALSE(exists(g_hPbbUsedCfgDB, key));

    // Deleting all of an interface's records, in the selected database only.
    PBB_dbmsave_AddIfVsiCfg(1, "eth-2/0/18", "vsi-a");
    PBB_dbmsave_AddIfCfg(1, "eth-2/0/18");
    PBB_dbmsave_AddIfCfg(0, "eth-2/0/18");
    PBB_dbmsave_DeleteIfVsiAllCfg(1, "eth-2/0/18");
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, key));
    EXPECT_TRUE(exists(g_hPbbUnusedCfgDB, "if.eth-2/0/18"));
    PBB_dbmsave_AddIfVsiCfg(1, "eth-2/0/18", "vsi-a");
    PBB_dbmsave_DeleteIfAllCfg(1, "eth-2/0/18");
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, key));
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, "if.eth-2/0/18"));
    EXPECT_TRUE(exists(g_hPbbUsedCfgDB, "if.eth-2/0/18"));
}

TEST_F(DbmSave, InterfaceRecordsMoveToTheUnusedDatabaseAndBack)
{
    open();
    PBB_dbmsave_AddIfCfg(0, "eth-2/0/19");
    PBB_dbmsave_AddIfVsiCfg(0, "eth-2/0/19", "vsi-x");
    PBB_dbmsave_AddIfVsiCfg(0, "eth-2/0/19", "vsi-y");

    PBB_dbmsave_MoveIfAllCfg(1, "eth-2/0/19");
    EXPECT_FALSE(exists(g_hPbbUsedCfgDB, "if.eth-2/0/19"));
    EXPECT_FALSE(exists(g_hPbbUsedCfgDB, "ifvsi.eth-2/0/19"));
    EXPECT_EQ(vsiNames(g_hPbbUnusedCfgDB, "ifvsi.eth-2/0/19"), (std::vector<std::string>{"vsi-x", "vsi-y"}));
    uint16_t value = 0;
    PBB_dbmsave_GetIfCfg(1, "eth-2/0/19", &value);
    EXPECT_EQ(value, 1);
    // Their types travel with them.
    EXPECT_EQ(keysOfType(g_hPbbUnusedCfgDB, PBB_DBM_VT_IF), (std::set<std::string>{"if.eth-2/0/19"}));
    EXPECT_EQ(keysOfType(g_hPbbUnusedCfgDB, PBB_DBM_VT_IFVSI), (std::set<std::string>{"ifvsi.eth-2/0/19"}));

    PBB_dbmsave_MoveIfAllCfg(0, "eth-2/0/19");
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, "if.eth-2/0/19"));
    EXPECT_FALSE(exists(g_hPbbUnusedCfgDB, "ifvsi.eth-2/0/19"));
    EXPECT_EQ(vsiNames(g_hPbbUsedCfgDB, "ifvsi.eth-2/0/19"), (std::vector<std::string>{"vsi-x", "vsi-y"}));
    value = 0;
    PBB_dbmsave_GetIfCfg(0, "eth-2/0/19", &value);
    EXPECT_EQ(value, 1);
    // A new VSI name still sorts into the moved list.
    PBB_dbmsave_AddIfVsiCfg(0, "eth-2/0/19", "vsi-w");
    EXPECT_EQ(vsiNames(g_hPbbUsedCfgDB, "ifvsi.eth-2/0/19"),
              (std::vector<std::string>{"vsi-w", "vsi-x", "vsi-y"}));
}

TEST_F(DbmSave, BatchDeletionsRemoveOnlyTheirKeys)
{
    open();
    learn(1, 10, 1, p17);
    learn(1, 10, 2, p17);  // same key
    learn(1, 20, 3, p17);
    learn(1, 10, 4, p18);
    learn(2, 10, 5, p17);
    learn(2, 20, 6, p18);
    learn(3, 30, 7, p19);
    const std::set<std::string> start = {"ucpw.1.17.10.eth-2/0/17", "ucpw.1.17.20.eth-2/0/17",
                                         "ucpw.1.18.10.eth-2/0/18", "ucpw.2.17.10.eth-2/0/17",
                                         "ucpw.2.18.20.eth-2/0/18", "ucpw.3.19.30.eth-2/0/19"};
    ASSERT_EQ(ucpwKeys(), start);

    auto without = [&](std::initializer_list<const char*> gone) {
        std::set<std::string> s = start;
        for (auto* g : gone) s.erase(g);
        return s;
    };

    PBB_dbmsave_DeleteUcPwByVsi(1);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.1.17.10.eth-2/0/17", "ucpw.1.17.20.eth-2/0/17", "ucpw.1.18.10.eth-2/0/18"}));
    PBB_dbmsave_DeleteUcPwAll();
    EXPECT_TRUE(ucpwKeys().empty());

    auto restore = [&] {
        PBB_ucpw_DeleteAll();
        learn(1, 10, 1, p17);
        learn(1, 10, 2, p17);
        learn(1, 20, 3, p17);
        learn(1, 10, 4, p18);
        learn(2, 10, 5, p17);
        learn(2, 20, 6, p18);
        learn(3, 30, 7, p19);
        ASSERT_EQ(ucpwKeys(), start);
    };

    restore();
    PBB_dbmsave_DeleteUcPwByIf(p17);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.1.17.10.eth-2/0/17", "ucpw.1.17.20.eth-2/0/17", "ucpw.2.17.10.eth-2/0/17"}));

    restore();
    PBB_dbmsave_DeleteUcPwByBVlan(10);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.1.17.10.eth-2/0/17", "ucpw.1.18.10.eth-2/0/18", "ucpw.2.17.10.eth-2/0/17"}));

    restore();
    PBB_dbmsave_DeleteUcPwByIfBVlan(p18, 20);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.2.18.20.eth-2/0/18"}));

    restore();
    PBB_dbmsave_DeleteUcPwByIfVsi(p17, 1);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.1.17.10.eth-2/0/17", "ucpw.1.17.20.eth-2/0/17"}));

    restore();
    const uint32_t ifs[] = {p18, p19};
    PBB_dbmsave_DeleteUcPwByVsiIfList(1, 2, ifs);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.1.18.10.eth-2/0/18"}));
    // An empty interface list means every interface of the VSI.
    PBB_dbmsave_DeleteUcPwByVsiIfList(2, 0, nullptr);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.1.18.10.eth-2/0/18", "ucpw.2.17.10.eth-2/0/17", "ucpw.2.18.20.eth-2/0/18"}));

    restore();
    BITMAP_S* vlans = Bitmap_Create(4094);
    ASSERT_NE(vlans, nullptr);
    Bitmap_Set(vlans, 20);
    Bitmap_Set(vlans, 30);
    const uint32_t ifs2[] = {p17, p19};
    PBB_dbmsave_DeleteUcPwByBVlanMapIfList(vlans, 2, ifs2);
    EXPECT_EQ(ucpwKeys(), without({"ucpw.1.17.20.eth-2/0/17", "ucpw.3.19.30.eth-2/0/19"}));
    Bitmap_Destroy(vlans);
}

TEST_F(DbmSave, BatchDeletionsSkipTheDatabaseWhenTheTableHasNothingOfTheKind)
{
    open();
    // Stale records in the database, the table holds only VSI 1 on p17, B-VLAN 10.
    PBB_dbmsave_AddUcPw(2, 1, 20, std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}.data(), p18);
    learn(1, 10, 1, p17);
    const auto before = ucpwKeys();
    ASSERT_EQ(before.size(), 2u);

    plat::testing::setRecording(true);
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByVsi(2), 1u);
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByIf(p18), 1u);
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByBVlan(20), 1u);
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByIfBVlan(p18, 10), 1u);  // interface has nothing
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByIfBVlan(p17, 20), 1u);  // B-VLAN has nothing
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByIfVsi(p18, 1), 1u);
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByIfVsi(p17, 2), 1u);
    const uint32_t ifs[] = {p18};
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwByVsiIfList(2, 1, ifs), 1u);
    EXPECT_EQ(plat::testing::countCalls("DBM_GetKeyNumByValueType"), 0u);
    EXPECT_EQ(plat::testing::countCalls("DBM_GetKeysByValueType"), 0u);
    EXPECT_EQ(ucpwKeys(), before);

    // With nothing in the table at all, not even the whole-table deletion scans.
    PBB_ucpw_DeleteAll();
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_dbmsave_DeleteUcPwAll(), 1u);
    EXPECT_EQ(plat::testing::countCalls("DBM_GetKeyNumByValueType"), 0u);
    EXPECT_EQ(ucpwKeys(), before);

    // The bitmap deletion never asks the table.
    BITMAP_S* vlans = Bitmap_Create(4094);
    Bitmap_Set(vlans, 20);
    plat::testing::clearCalls();
    PBB_dbmsave_DeleteUcPwByBVlanMapIfList(vlans, 0, nullptr);
    EXPECT_EQ(plat::testing::countCalls("DBM_GetKeyNumByValueType"), 1u);
    EXPECT_EQ(ucpwKeys(), (std::set<std::string>{"ucpw.1.17.10.eth-2/0/17"}));
    Bitmap_Destroy(vlans);
}

TEST_F(DbmSave, BatchDeletionReadsKeysInChunksOf128)
{
    open();
    // 300 keys: one B-VLAN each, on one interface of VSI 1.
    for (uint16_t v = 1; v <= 300; ++v) learn(1, v, static_cast<uint8_t>(v), p17);
    ASSERT_EQ(DBM_GetKeyNumByValueType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW), 300u);

    plat::testing::setRecording(true);
    plat::testing::clearCalls();
    PBB_dbmsave_DeleteUcPwByVsi(1);
    std::vector<std::string> counts;
    for (auto& c : plat::testing::callsNamed("DBM_GetKeysByValueType")) {
        auto pos = c.args.find("count=");
        ASSERT_NE(pos, std::string::npos);
        counts.push_back(c.args.substr(pos + 6, c.args.find(' ', pos) - pos - 6));
    }
    EXPECT_EQ(counts, (std::vector<std::string>{"128", "128", "44"}));
    EXPECT_EQ(plat::testing::countCalls("DBM_DeleteKey"), 300u);
    EXPECT_EQ(plat::testing::countCalls("DBM_FreeIterator"), 1u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW), 0u);
}

}  // namespace
