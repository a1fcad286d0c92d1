// Recovery at start-up: what the tables, control blocks and uplinks hold
// afterwards, which records are dropped, and which database keeps the rest.
#include "unit/recover/recover_test.h"

namespace recovertest {
namespace {

class Recover : public RecoverBase {};

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
    EXPECT_EQ(keysOf(g_hPbbUsedCfgDB, PBB_DBM_VT_VSI), (std::set<std::string>{"vsi.vsi-a", "vsi.vsi-b"}));
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
    EXPECT_TRUE(keysOf(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW).empty());
}

// A learned key after a change of the interface it names.
struct UcCase {
    const char* label;
    uint32_t vsi;
    void (*change)(sim::SwitchModel& sw, uint32_t ifIndex);
    bool kept;
};

const UcCase kUcCases[] = {
    {"Unchanged", 1, [](sim::SwitchModel&, uint32_t) {}, true},
    {"NameNowNamesAnotherIndex", 1,
     [](sim::SwitchModel& sw, uint32_t ifIndex) {
         std::string name = sw.interfaces().at(ifIndex).name;
         sw.deleteInterface(ifIndex);
         sw.addPort(name, 1);
     },
     false},
    {"InterfaceTemporary", 1, [](sim::SwitchModel& sw, uint32_t) { sw.removeBoard(1); }, false},
    {"InterfaceDeleted", 1, [](sim::SwitchModel& sw, uint32_t ifIndex) { sw.deleteInterface(ifIndex); }, false},
    {"VsiBeyondTheTable", 70, [](sim::SwitchModel&, uint32_t) {}, false},
};

void PrintTo(const UcCase& tc, std::ostream* os) { *os << tc.label; }

class RecoverUcKey : public RecoverBase, public ::testing::WithParamInterface<UcCase> {};

TEST_P(RecoverUcKey, KeyIsKeptOnlyWhileItsNameStillNamesItsPresentInterface)
{
    const UcCase& tc = GetParam();
    PBB_dbmsave_AddVsiCfg(1, "vsi-a", 1001, 10, 2);
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, nameOf(a).c_str());
    const UcSet saved{{tc.vsi, 10, 1, a}, {tc.vsi, 10, 2, a}};
    for (const auto& e : saved) saveUc(e);
    tc.change(*sw, a);
    reopen();
    plat::testing::setRecording(true);

    ASSERT_EQ(PBB_dbmrecover_Recover(), PBB_OK);

    const UcSet want = tc.kept ? saved : UcSet{};
    EXPECT_EQ(tableUc(), want);
    EXPECT_EQ(dbUc(), want);
    EXPECT_EQ(keysOf(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW).size(), tc.kept ? 1u : 0u);
    // Dropped whole as it was read, not entry by entry by the sweep.
    EXPECT_EQ(plat::testing::countCalls("DBM_RemoveSortList"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecoverUcKey, ::testing::ValuesIn(kUcCases),
                         [](const auto& info) { return std::string(info.param.label); });

// An interface record in one database of the pair, for an interface that
// is now capable, temporary, not capable or unknown.
struct IfCase {
    const char* label;
    const char* ifName;
    uint16_t fromDb;
    int endDb;  // PBB_DBM_SEL_USED, PBB_DBM_SEL_UNUSED, or -1: deleted
    bool block;
};

const IfCase kIfCases[] = {
    {"CapableInUsed", "eth-1/0/1", PBB_DBM_SEL_USED, PBB_DBM_SEL_USED, true},
    {"CapableInUnusedComesBack", "eth-1/0/1", PBB_DBM_SEL_UNUSED, PBB_DBM_SEL_USED, true},
    {"TemporaryInUsedMoves", "eth-3/0/1", PBB_DBM_SEL_USED, PBB_DBM_SEL_UNUSED, false},
    {"TemporaryInUnusedStays", "eth-3/0/1", PBB_DBM_SEL_UNUSED, PBB_DBM_SEL_UNUSED, false},
    {"BoardWithoutPbb", "eth-2/0/1", PBB_DBM_SEL_USED, -1, false},
    {"Loopback", "lo-1", PBB_DBM_SEL_UNUSED, -1, false},
    {"UnknownName", "eth-9/0/9", PBB_DBM_SEL_USED, -1, false},
};

void PrintTo(const IfCase& tc, std::ostream* os) { *os << tc.label; }

class RecoverIf : public RecoverBase, public ::testing::WithParamInterface<std::tuple<IfCase, bool>> {};

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

    EXPECT_EQ(hasKey(g_hPbbUsedCfgDB, key), tc.endDb == PBB_DBM_SEL_USED);
    EXPECT_EQ(hasKey(g_hPbbUnusedCfgDB, key), tc.endDb == PBB_DBM_SEL_UNUSED);
    const PbbIfCb* cb = ifIndex != 0 ? PBB_ifcb_Get(ifIndex) : nullptr;
    ASSERT_EQ(cb != nullptr, tc.block);
    if (tc.block) {
        EXPECT_EQ(cb->usUplinkAll, allVsi ? 1 : 0);
    }
    EXPECT_EQ(uplinks(1), tc.block ? Ifs{ifIndex} : Ifs{});
    const UcSet kept = tc.block ? UcSet{{1, 10, 1, ifIndex}} : UcSet{};
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
