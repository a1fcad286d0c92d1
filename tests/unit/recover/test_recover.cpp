// Recovery at start-up: what the tables, control blocks and uplinks hold
// afterwards, which records are dropped, and which database keeps the rest;
// and the configuration an interface that comes back finds parked.
#include "unit/ctl/ctl_test.h"

namespace recovertest {
namespace {

using ctltest::Uc;
using ctltest::UcSet;
using Names = std::vector<std::string>;
using Ifs = std::vector<uint32_t>;
using ctltest::cfgNames;
using ctltest::keysOfType;
using pbbtest::keyExists;
using ctltest::runVsis;
using ctltest::uplinks;

// Recovery over the control tests' switch, with a port on a board that is
// out (temporary), one on a board without PBB and a loopback; the
// databases are closed and opened again before recovery reads them.
class Recover : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        sw->addSlot(3, {.present = false, .minm = true});
        sw->addPort("eth-3/0/1", 3);
        sw->addPort("eth-2/0/1", 2);
        sw->addPort("lo-1", 1, {.type = IF_TYPE_LOOPBACK});
    }
    static void reopen()
    {
        PBB_dbmrecover_Exit();
        ASSERT_EQ(PBB_dbmrecover_Init(), PBB_OK);
    }
    std::string nameOf(uint32_t ifIndex) const { return sw->interfaces().at(ifIndex).name; }
    // Saved only, as a previous run of the daemon left it.
    static void saveUc(const Uc& e)
    {
        auto [vsi, vlan, last, ifIndex] = e;
        const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0, last};
        PBB_dbmsave_AddUcPw(vsi, 1000 + vsi, vlan, mac, ifIndex);
    }
};

TEST_F(Recover, RebuildsVsisUplinksAndEntriesAndProgramsNothing)
{
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 1001, 10, 3);
    PBB_dbmsave_AddVsiCfg(2, "vsi-b", 1002, PBB_BVLAN_NONE, 5);
    PBB_dbmsave_AddVsiCfg(3, "vsi-c", 1003, 4095, 2);  // beyond the highest VLAN ID: dropped
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_USED, nameOf(a).c_str(), "vsi-a");
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_USED, nameOf(a).c_str(), "vsi-ghost");  // no "vsi." record
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(b).c_str());
    UcSet want;
    for (unsigned last = 0; last < 200; ++last) want.insert({1, 10, uint8_t(last), a});  // more than one read
    want.insert({{2, 20, 2, b}, {1, 10, 203, b}});
    const UcSet unserved{{2, 10, 1, a}, {1, 10, 204, c}, {3, 10, 205, b}};  // VSI not served, no block, no VSI
    for (const auto& e : want) saveUc(e);
    for (const auto& e : unserved) saveUc(e);
    reopen();
    const uint64_t programmed = sw->programCalls().last();

    ASSERT_EQ(PBB_dbmrecover_Recover(), PBB_OK);

    PbbVsi *v1 = PBB_vsi_GetVsiByIndex(1), *v2 = PBB_vsi_GetVsiByIndex(2);
    ASSERT_TRUE(v1 && v2);
    EXPECT_EQ(std::tuple(std::string(v1->szVsiName), v1->usBVlan, v1->uiEncapType, v1->usShutdownFlag),
              std::tuple("vsi-a", 10, 3u, 0));
    EXPECT_EQ(std::tuple(v2->usBVlan, v2->uiEncapType), std::tuple(PBB_BVLAN_NONE, 5u));
    EXPECT_EQ(PBB_vsi_GetIndexByISid(1001), 1u);
    EXPECT_EQ(PBB_mcpw_Get(1), nullptr);
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(3), nullptr);

    EXPECT_EQ(uplinks(1), (Ifs{a, b}));
    EXPECT_EQ(uplinks(2), (Ifs{b}));
    // A name without a VSI is kept in the list and attaches to nothing.
    EXPECT_EQ(cfgNames(a), (Names{"vsi-a", "vsi-ghost"}));
    EXPECT_EQ(runVsis(a), (Ifs{1}));
    EXPECT_EQ(runVsis(b), (Ifs{1, 2}));

    EXPECT_EQ(tableUc(), want);
    EXPECT_EQ(dbUc(), want);
    EXPECT_EQ(keysOfType(g_hPbbUsedCfgDB, PBB_DBM_VT_VSI), (Names{"vsi.vsi-a", "vsi.vsi-b"}));
    EXPECT_EQ(sw->programCalls().last(), programmed) << "recovery programs nothing";
}

TEST_F(Recover, AnEntryTheTableRefusesLeavesTheRestOfItsKey)
{
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 1001, 10, 2);
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(a).c_str());
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(b).c_str());
    // On a: the first entry read finds no memory. On b: 8 again, already
    // recovered from a's key, which is read first.
    for (const Uc& e : UcSet{{1, 10, 7, a}, {1, 10, 8, a}, {1, 10, 9, a}, {1, 10, 5, b}, {1, 10, 8, b}}) saveUc(e);
    reopen();
    plat::testing::failCall("Bitmap_Create", 0, 1);

    ASSERT_EQ(PBB_dbmrecover_Recover(), PBB_OK);

    const UcSet want{{1, 10, 8, a}, {1, 10, 9, a}, {1, 10, 5, b}};
    EXPECT_EQ(tableUc(), want);
    EXPECT_EQ(dbUc(), want);
}

// The B-MAC hash takes the size it would grow to for the stored entries
// in one step before they are added (an entry moved once, not at every
// doubling), and no larger; every entry is found afterwards.
TEST_F(Recover, TheHashIsSizedForTheStoredEntriesAtOnce)
{
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 1001, 10, 2);
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(a).c_str());
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(b).c_str());
    const struct {
        uint32_t stored;
        std::vector<std::string> resizes;
    } cases[] = {
        {PBB_UCPW_HASH_BUCKETS, {}},
        {2 * PBB_UCPW_HASH_BUCKETS, {"buckets=8192 result=ok"}},
        {2 * PBB_UCPW_HASH_BUCKETS + 1, {"buckets=16384 result=ok"}},
    };
    uint32_t saved = 0;
    auto macOf = [](uint32_t i) { return std::array<uint8_t, 6>{0, 0x22, 0, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)}; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        for (; saved < c.stored; ++saved) PBB_dbmsave_AddUcPw(1, 1001, 10, macOf(saved).data(), saved % 2 ? b : a);
        PBB_ucpw_Exit();
        ASSERT_EQ(PBB_ucpw_Init(), PBB_OK);
        reopen();
        plat::testing::setRecording(true);

        ASSERT_EQ(PBB_dbmrecover_Recover(), PBB_OK);

        plat::testing::setRecording(false);
        std::vector<std::string> resizes;
        for (const auto& call : plat::testing::callsNamed("HASH_Resize")) resizes.push_back(call.args);
        EXPECT_EQ(resizes, c.resizes);
        ASSERT_EQ(PBB_ucpw_GetTotalNum(), c.stored);
        for (uint32_t i = 0; i < c.stored; ++i) {
            const PbbUcPw* e = PBB_ucpw_Get(1, 10, macOf(i).data());
            ASSERT_TRUE(e != nullptr && e->uiIfIndex == (i % 2 ? b : a)) << "entry " << i;
        }
        plat::testing::clearCalls();
    }
}

TEST_F(Recover, KeysAndElementsThisDaemonDidNotWriteAreDropped)
{
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 1001, 10, 2);
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(a).c_str());
    const std::string name = nameOf(a);
    const std::string num = ".1." + std::to_string(a) + ".10";
    PbbDbmUcPwRec rec{1, 1001, a, {0, 0x11, 0x22, 0x33, 0, 1}, 10};
    PbbDbmUcPwRec other = rec;
    other.uiIfIndex = b;  // an element that names another interface than its key
    const std::vector<std::pair<std::string, const PbbDbmUcPwRec*>> stored{
        {"ucpw.1.x.10." + name, &rec},
        {"ucpw" + num + ".", &rec},
        {"ucpw" + num, &rec},
        {"ucpw" + num + "." + name, &other}};
    for (const auto& [key, elem] : stored) {
        auto len = static_cast<uint32_t>(key.size() + 1);
        ASSERT_EQ(DBM_SetSortWord(g_hPbbLocalRunDB, key.c_str(), len, 1, 12, 8, 4, 0), DBM_OK);
        ASSERT_EQ(DBM_InsertSortList(g_hPbbLocalRunDB, key.c_str(), len, sizeof(*elem), elem, PBB_DBM_VT_UCPW), DBM_OK);
    }
    const std::string binary = "ucpw.1." + std::to_string(a) + ".11." + name;  // a value, not a list
    ASSERT_EQ(DBM_SetBinary(g_hPbbLocalRunDB, binary.c_str(), static_cast<uint32_t>(binary.size() + 1), 0, sizeof(rec),
                            &rec, PBB_DBM_VT_UCPW),
              DBM_OK);
    reopen();

    ASSERT_EQ(PBB_dbmrecover_Recover(), PBB_OK);

    EXPECT_TRUE(tableUc().empty());
    EXPECT_TRUE(keysOfType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW).empty());
}

// A learned key is kept only while its name still names its present
// interface and its VSI has a list in the table; one that is not is
// dropped whole as it is read, not entry by entry by the sweep.
TEST_F(Recover, LearnedKeyIsKeptOnlyWhileItsNameStillNamesItsPresentInterface)
{
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 1001, 10, 2);
    // The highest VSI index and VLAN ID the table has lists for are kept.
    PBB_dbmsave_AddVsiCfg(g_uiPbbMaxVsiIndex, "vsi-last", 1999, g_usPbbMaxVlanId, 2);
    const uint32_t temporary = IF_GetIfIndexByFullName("eth-3/0/1");
    for (uint32_t i : {a, b, c, temporary}) PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(i).c_str());
    const UcSet kept{{1, 10, 1, a}, {1, 10, 2, a}, {g_uiPbbMaxVsiIndex, g_usPbbMaxVlanId, 7, a}};
    for (const auto& e : kept) saveUc(e);
    // b's name comes to name another index, c is deleted, VSI 70 is beyond the table.
    for (const Uc& e : UcSet{{1, 10, 3, b}, {1, 10, 4, c}, {1, 10, 5, temporary}, {70, 10, 6, a}}) saveUc(e);
    const std::string nameB = nameOf(b);
    sw->deleteInterface(b);
    sw->addPort(nameB, 1);
    sw->deleteInterface(c);
    reopen();
    plat::testing::setRecording(true);

    ASSERT_EQ(PBB_dbmrecover_Recover(), PBB_OK);

    EXPECT_EQ(tableUc(), kept);
    EXPECT_EQ(dbUc(), kept);
    EXPECT_EQ(keysOfType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW).size(), 2u);
    EXPECT_EQ(plat::testing::countCalls("DBM_RemoveSortList"), 0u);
}

// An interface that comes back gets its parked configuration: the names
// and the all-VSI flag, attached to nothing.
TEST_F(Recover, InterfaceBackRestoresNamesAndAllVsiFlagOnly)
{
    vsi(1, "vsi-a", 1001);
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str(), "vsi-b");
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str(), "vsi-a");
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str());
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_USED, nameOf(b).c_str(), "vsi-a");  // not parked

    EXPECT_EQ(PBB_dbmrecover_IfRecover(a), PBB_OK);
    EXPECT_EQ(PBB_dbmrecover_IfRecover(b), PBB_OK);

    ASSERT_NE(PBB_ifcb_Get(a), nullptr);
    EXPECT_EQ(PBB_ifcb_Get(a)->usUplinkAll, 1);
    EXPECT_EQ(cfgNames(a), (Names{"vsi-a", "vsi-b"}));
    EXPECT_TRUE(runVsis(a).empty());
    EXPECT_TRUE(uplinks(1).empty());
    EXPECT_EQ(PBB_ifcb_Get(b), nullptr);
}

TEST_F(Recover, InterfaceBackFailsWhenTheBlockCannotBeMadeForEitherRecord)
{
    for (bool allVsi : {false, true}) {
        SCOPED_TRACE(allVsi ? "if." : "ifvsi.");
        PBB_dbmsave_DeleteIfAllCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str());
        if (allVsi)
            PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str());
        else
            PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str(), "vsi-a");
        plat::testing::failCall("IF_SetPrivateData", 1, 1);
        EXPECT_EQ(PBB_dbmrecover_IfRecover(a), PBB_ERR);
        EXPECT_EQ(PBB_ifcb_Get(a), nullptr);
    }
}

// An interface record in one database of the pair, for an interface that
// is now capable, temporary, not capable or unknown.
struct IfCase {
    const char* label;
    const char* ifName;
    uint16_t fromDb;
    int endDb;  // PBB_DBM_SEL_USED (with a control block), PBB_DBM_SEL_UNUSED, or -1: deleted
};

const IfCase kIfCases[] = {
    {"CapableInUsed", "eth-1/0/1", PBB_DBM_SEL_USED, PBB_DBM_SEL_USED},
    {"CapableInUnusedComesBack", "eth-1/0/1", PBB_DBM_SEL_UNUSED, PBB_DBM_SEL_USED},
    {"TemporaryInUsedMoves", "eth-3/0/1", PBB_DBM_SEL_USED, PBB_DBM_SEL_UNUSED},
    {"TemporaryInUnusedStays", "eth-3/0/1", PBB_DBM_SEL_UNUSED, PBB_DBM_SEL_UNUSED},
    {"BoardWithoutPbb", "eth-2/0/1", PBB_DBM_SEL_USED, -1},
    {"Loopback", "lo-1", PBB_DBM_SEL_UNUSED, -1},
    {"UnknownName", "eth-9/0/9", PBB_DBM_SEL_USED, -1},
};

class RecoverIf : public Recover, public ::testing::WithParamInterface<std::tuple<IfCase, bool>> {};

TEST_P(RecoverIf, RecordEndsWhereTheInterfaceNowBelongs)
{
    const auto& [tc, allVsi] = GetParam();
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 1001, 10, 2);
    const std::string key = (allVsi ? "if." : "ifvsi.") + std::string(tc.ifName);
    if (allVsi)
        PBB_dbmsave_AddIfCfg(tc.fromDb, tc.ifName);
    else
        PBB_dbmsave_AddIfVsiCfg(tc.fromDb, tc.ifName, "vsi-a");
    const uint32_t ifIndex = IF_GetIfIndexByFullName(tc.ifName);
    if (ifIndex != 0) saveUc({1, 10, 1, ifIndex});
    reopen();

    ASSERT_EQ(PBB_dbmrecover_Recover(), PBB_OK);

    EXPECT_EQ(keyExists(g_hPbbUsedCfgDB, key), tc.endDb == PBB_DBM_SEL_USED);
    EXPECT_EQ(keyExists(g_hPbbUnusedCfgDB, key), tc.endDb == PBB_DBM_SEL_UNUSED);
    const bool block = tc.endDb == PBB_DBM_SEL_USED;
    const PbbIfCb* cb = ifIndex != 0 ? PBB_ifcb_Get(ifIndex) : nullptr;
    ASSERT_EQ(cb != nullptr, block);
    if (block) {
        EXPECT_EQ(cb->usUplinkAll, allVsi ? 1 : 0);
    }
    EXPECT_EQ(uplinks(1), block ? Ifs{ifIndex} : Ifs{});
    const UcSet kept = block ? UcSet{{1, 10, 1, ifIndex}} : UcSet{};
    EXPECT_EQ(tableUc(), kept);
    EXPECT_EQ(dbUc(), kept);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecoverIf, ::testing::Combine(::testing::ValuesIn(kIfCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) +
                                    (std::get<1>(info.param) ? "_AllVsi" : "_VsiList");
                         });

}  // namespace
}  // namespace recovertest
