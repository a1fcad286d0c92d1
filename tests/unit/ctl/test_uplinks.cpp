// Uplinks of named VSIs and of all VSIs: control blocks, PBB port mode,
// multicast ports, stored configuration, result codes; temporary
// interfaces keep configuration only. The refusal of a port without PBB is
// checked by the management tests' uplink requests.
#include "ctl_test.h"

#include <cstring>
#include <functional>

namespace ctltest {
namespace {

std::vector<std::string> ifVsiNames(uint32_t hDb, const std::string& ifName)
{
    std::vector<std::string> out;
    for (const auto& n : sortList<Name>(hDb, "ifvsi." + ifName)) out.emplace_back(n.s);
    return out;
}

class Uplinks : public Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        vsi(1, "vsi-a", 1001);
        vsi(2, "vsi-b", 1002);
    }
};

// A port the driver does not put into PBB mode gets no control block:
// the request fails and changes nothing, and repeated it succeeds.
TEST_F(Uplinks, APortTheDriverKeepsOutOfPbbModeFailsTheRequestUntilRepeated)
{
    auto req = names({"vsi-a"});
    const std::pair<const char*, std::function<uint32_t()>> requests[] = {
        {"per VSI", [&] { return PBB_ctl_AddUplink(a, 1, raw(req)); }},
        {"all VSIs", [&] { return PBB_ctl_SetAllVsiUplink(a); }},
    };
    for (const auto& [name, add] : requests) {
        SCOPED_TRACE(name);
        plat::testing::failCall("L2VPN_SetInterface", 7);
        EXPECT_EQ(add(), PBB_ERR);
        EXPECT_EQ(PBB_ifcb_Get(a), nullptr);
        EXPECT_FALSE(sw->pbbMode(a));
        EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "if.eth-1/0/1"));
        EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "ifvsi.eth-1/0/1"));
        EXPECT_EQ(add(), PBB_OK);
        EXPECT_TRUE(sw->pbbMode(a));
        ASSERT_EQ(PBB_ctl_ResetAllVsiUplink(a), PBB_OK);
    }
}

TEST_F(Uplinks, NamedVsisAttachOnceAndDetachToNothing)
{
    auto req = names({"vsi-a", "vsi-c", "vsi-a"});
    EXPECT_EQ(PBB_ctl_AddUplink(a, 3, raw(req)), PBB_OK);
    EXPECT_TRUE(sw->pbbMode(a));
    EXPECT_EQ(cfgNames(a), (std::vector<std::string>{"vsi-a", "vsi-c"}));
    EXPECT_EQ(ifVsiNames(g_hPbbUsedCfgDB, "eth-1/0/1"), (std::vector<std::string>{"vsi-a", "vsi-c"}));
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 1), 1u);
    expectMc(1, {a});

    // vsi-c appears later: its adoption attaches the interface.
    sw->addVsi(3, "vsi-c", 1003);
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-c", 1003), PBB_OK);
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 3), 1u);
    expectMc(3, {a});

    // Removing a name takes that VSI's learned entries on the interface only.
    auto bReq = names({"vsi-a"});
    ASSERT_EQ(PBB_ctl_AddUplink(b, 1, raw(bReq)), PBB_OK);
    learn({1, 10, 1, a});
    learn({1, 10, 2, b});
    learn({3, 10, 3, a});
    EXPECT_EQ(PBB_ctl_DeleteUplink(a, 1, raw(bReq)), PBB_OK);
    expectUc({{1, 10, 2, b}, {3, 10, 3, a}});
    expectMc(1, {b});
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 1), 0u);

    auto last = names({"vsi-c", "vsi-x"});
    EXPECT_EQ(PBB_ctl_DeleteUplink(a, 2, raw(last)), PBB_OK);
    EXPECT_EQ(PBB_ifcb_Get(a), nullptr);
    EXPECT_FALSE(sw->pbbMode(a));
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "ifvsi.eth-1/0/1"));
    expectMc(3, {});
    EXPECT_EQ(PBB_ctl_DeleteUplink(a, 2, raw(last)), PBB_OK) << "no control block";
}

TEST_F(Uplinks, AllVsiModeReplacesNamesAndRefusesPerVsiDeletes)
{
    auto req = names({"vsi-a"});
    ASSERT_EQ(PBB_ctl_AddUplink(a, 1, raw(req)), PBB_OK);
    learn({1, 10, 1, a});

    EXPECT_EQ(PBB_ctl_SetAllVsiUplink(a), PBB_OK);
    EXPECT_TRUE(cfgNames(a).empty());
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "ifvsi.eth-1/0/1"));
    EXPECT_TRUE(pbbtest::keyExists(g_hPbbUsedCfgDB, "if.eth-1/0/1"));
    expectMc(2, {a});
    expectUc({{1, 10, 1, a}});  // learned entries stay

    EXPECT_EQ(PBB_ctl_AddUplink(a, 1, raw(req)), PBB_OK);
    EXPECT_TRUE(cfgNames(a).empty()) << "names are not taken in all-VSI mode";
    EXPECT_EQ(PBB_ctl_DeleteUplink(a, 1, raw(req)), PBB_ERR_UPLINK_ALL);
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 1), 1u);

    // Undone, the interface's learned entries go as well (the rest of the
    // undoing is checked below).
    EXPECT_EQ(PBB_ctl_ResetAllVsiUplink(a), PBB_OK);
    expectUc({});
}

// Resetting the all-VSI mode undoes per-VSI names as well. A record the
// database refuses to delete, or a control block the interface manager
// keeps, is reported; the other steps are made all the same.
TEST_F(Uplinks, ResettingAllVsiModeUndoesEitherModeAndReportsAFailedStep)
{
    auto req = names({"vsi-a", "vsi-b"});
    for (std::string fault : {"", "DBM_DeleteKey", "IF_DelPrivateData"}) {
        ASSERT_EQ(fault == "DBM_DeleteKey" ? PBB_ctl_SetAllVsiUplink(a) : PBB_ctl_AddUplink(a, 2, raw(req)), PBB_OK);
        if (!fault.empty()) plat::testing::failCall(fault, 7);
        EXPECT_EQ(PBB_ctl_ResetAllVsiUplink(a), fault.empty() ? PBB_OK : PBB_ERR) << fault;
        EXPECT_EQ(PBB_ifcb_Get(a) != nullptr, fault == "IF_DelPrivateData") << fault;
        EXPECT_TRUE(cfgNames(a).empty() && PBB_ifcb_IsRunVsiExist(a, 1) == 0) << "a block kept is emptied";
        for (const char* key : {"if.eth-1/0/1", "ifvsi.eth-1/0/1"}) EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, key));
        EXPECT_FALSE(sw->pbbMode(a));
        expectMc(1, {});
    }
}

TEST_F(Uplinks, TemporaryInterfaceKeepsConfigurationOnly)
{
    sw->addSlot(3, {.present = false, .minm = true});
    uint32_t tmp = sw->addPort("eth-3/0/1", 3);
    auto req = names({"vsi-a", "vsi-b"});
    plat::testing::setRecording(true);

    EXPECT_EQ(PBB_ctl_AddUplink(tmp, 2, raw(req)), PBB_OK);
    EXPECT_EQ(ifVsiNames(g_hPbbUnusedCfgDB, "eth-3/0/1"), (std::vector<std::string>{"vsi-a", "vsi-b"}));
    EXPECT_EQ(PBB_ctl_DeleteUplink(tmp, 1, raw(req)), PBB_OK);
    EXPECT_EQ(ifVsiNames(g_hPbbUnusedCfgDB, "eth-3/0/1"), std::vector<std::string>{"vsi-b"});

    EXPECT_EQ(PBB_ctl_SetAllVsiUplink(tmp), PBB_OK);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUnusedCfgDB, "ifvsi.eth-3/0/1"));
    EXPECT_TRUE(pbbtest::keyExists(g_hPbbUnusedCfgDB, "if.eth-3/0/1"));
    EXPECT_EQ(PBB_ctl_AddUplink(tmp, 2, raw(req)), PBB_OK);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUnusedCfgDB, "ifvsi.eth-3/0/1"));
    EXPECT_EQ(PBB_ctl_DeleteUplink(tmp, 1, raw(req)), PBB_ERR_UPLINK_ALL);
    plat::testing::failCall("DBM_DeleteKey", 7);  // the VSI list record: refused
    EXPECT_EQ(PBB_ctl_ResetAllVsiUplink(tmp), PBB_ERR);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUnusedCfgDB, "if.eth-3/0/1"));

    EXPECT_TRUE(keysOfType(g_hPbbUsedCfgDB, PBB_DBM_VT_IFVSI).empty());
    EXPECT_EQ(plat::testing::countCalls("L2VPN_SetInterface") + plat::testing::countCalls("L2VPN_AddMinMEntry"), 0u);
}

// A record the configuration database refuses: on a present interface the
// change is in effect and answered PBB_ERR_NOT_SAVED; on an interface that
// is not present the record is all of it, and the request fails. The same
// request again writes what is missing, and a present interface's repeat
// once stored writes nothing.
struct RefusedRecordCase {
    const char* name;
    bool present;
    std::vector<std::string> refused;                   // database calls that fail once
    std::vector<const char*> before, request;           // names added before; names of the request
    uint32_t (*call)(uint32_t, uint32_t, const char (*)[PBB_VSI_NAME_LEN]);
    std::function<void(uint32_t)> expectStored;         // the records once the repeat completed
};

uint32_t setAll(uint32_t ifIndex, uint32_t, const char (*)[PBB_VSI_NAME_LEN]) { return PBB_ctl_SetAllVsiUplink(ifIndex); }

void storedNames(uint32_t hDb, const char* ifName, std::vector<std::string> want)
{
    EXPECT_EQ(ifVsiNames(hDb, ifName), want);
}

class RefusedRecord : public Uplinks, public ::testing::WithParamInterface<RefusedRecordCase> {};

TEST_P(RefusedRecord, IsReportedAndWrittenWhenTheRequestIsRepeated)
{
    const auto& c = GetParam();
    sw->addSlot(3, {.present = false, .minm = true});
    uint32_t ifIndex = c.present ? a : sw->addPort("eth-3/0/1", 3);
    auto before = names({}), req = names({});
    before.resize(c.before.size());
    req.resize(c.request.size());
    for (size_t i = 0; i < c.before.size(); ++i) std::strncpy(before[i].s, c.before[i], PBB_VSI_NAME_LEN - 1);
    for (size_t i = 0; i < c.request.size(); ++i) std::strncpy(req[i].s, c.request[i], PBB_VSI_NAME_LEN - 1);
    if (!before.empty()) {
        ASSERT_EQ(PBB_ctl_AddUplink(ifIndex, static_cast<uint32_t>(before.size()), raw(before)), PBB_OK);
    }
    const auto count = static_cast<uint32_t>(req.size());

    for (const auto& call : c.refused) plat::testing::failCall(call, 7);
    EXPECT_EQ(c.call(ifIndex, count, raw(req)), c.present ? PBB_ERR_NOT_SAVED : PBB_ERR);
    if (c.present) {
        EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 1), c.call == PBB_ctl_DeleteUplink ? 0u : 1u) << "in effect";
    }
    EXPECT_EQ(c.call(ifIndex, count, raw(req)), PBB_OK);
    c.expectStored(ifIndex);
    if (!c.present) return;
    plat::testing::setRecording(true);
    EXPECT_EQ(c.call(ifIndex, count, raw(req)), PBB_OK);
    if (c.call == PBB_ctl_DeleteUplink) return;  // a name not configured is deleted from the database again
    for (const char* write : {"DBM_InsertSortList", "DBM_SetBinary", "DBM_DeleteKey", "DBM_RemoveSortList"})
        EXPECT_EQ(plat::testing::countCalls(write), 0u) << write;
}

const RefusedRecordCase kRefusedRecords[] = {
    {"AddNames", true, {"DBM_InsertSortList"}, {}, {"vsi-a", "vsi-b"}, PBB_ctl_AddUplink,
     [](uint32_t) { storedNames(g_hPbbUsedCfgDB, "eth-1/0/1", {"vsi-a", "vsi-b"}); }},
    {"DeleteName", true, {"DBM_RemoveSortList"}, {"vsi-a", "vsi-b"}, {"vsi-a"}, PBB_ctl_DeleteUplink,
     [](uint32_t) { storedNames(g_hPbbUsedCfgDB, "eth-1/0/1", {"vsi-b"}); }},
    // The last name goes with the control block; its record is deleted by
    // the repeat, which finds no control block.
    {"DeleteLastName", true, {"DBM_RemoveSortList", "DBM_DeleteKey"}, {"vsi-a", "vsi-b"}, {"vsi-a", "vsi-b"},
     PBB_ctl_DeleteUplink,
     [](uint32_t ifIndex) {
         EXPECT_EQ(PBB_ifcb_Get(ifIndex), nullptr);
         EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "ifvsi.eth-1/0/1"));
     }},
    {"AllVsisFlag", true, {"DBM_SetBinary"}, {}, {}, setAll,
     [](uint32_t) { EXPECT_TRUE(pbbtest::keyExists(g_hPbbUsedCfgDB, "if.eth-1/0/1")); }},
    {"AllVsisNamesLeft", true, {"DBM_DeleteKey"}, {"vsi-a"}, {}, setAll,
     [](uint32_t) {
         EXPECT_TRUE(pbbtest::keyExists(g_hPbbUsedCfgDB, "if.eth-1/0/1"));
         EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "ifvsi.eth-1/0/1"));
     }},
    {"AddNamesNotPresent", false, {"DBM_InsertSortList"}, {}, {"vsi-a", "vsi-b"}, PBB_ctl_AddUplink,
     [](uint32_t) { storedNames(g_hPbbUnusedCfgDB, "eth-3/0/1", {"vsi-a", "vsi-b"}); }},
    {"DeleteNameNotPresent", false, {"DBM_RemoveSortList"}, {"vsi-a", "vsi-b"}, {"vsi-a"}, PBB_ctl_DeleteUplink,
     [](uint32_t) { storedNames(g_hPbbUnusedCfgDB, "eth-3/0/1", {"vsi-b"}); }},
    {"AllVsisNotPresent", false, {"DBM_SetBinary"}, {}, {}, setAll,
     [](uint32_t) { EXPECT_TRUE(pbbtest::keyExists(g_hPbbUnusedCfgDB, "if.eth-3/0/1")); }},
};

INSTANTIATE_TEST_SUITE_P(Uplinks, RefusedRecord, ::testing::ValuesIn(kRefusedRecords), byName);

}  // namespace
}  // namespace ctltest
