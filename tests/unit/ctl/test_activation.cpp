// VSI activation, the B-VLAN and encapsulation settings with their
// configuration record, and the adoption of the L2VPN module's view of a
// VSI. Deactivation of an active VSI is checked by the VSI-event tests and
// the resets, of one without a multicast entry with the B-VLAN change.
#include "ctl_test.h"

#include <functional>

namespace ctltest {
namespace {

// vsi-a's configuration record holds exactly these values.
void expectRecord(uint32_t index, uint32_t isid, uint32_t encap, uint16_t bvlan)
{
    PbbDbmVsiRec rec{};
    ASSERT_GT(DBM_GetBinary(g_hPbbUsedCfgDB, "vsi.vsi-a", sizeof "vsi.vsi-a", 0, sizeof rec, &rec), 0) << "no record";
    EXPECT_EQ(std::tuple(rec.uiVsiIndex, rec.uiISid, rec.uiEncapType, rec.usBVlan), std::tuple(index, isid, encap, bvlan));
}

// 600 uplinks take the port array past its first 512 slots, which it
// doubles (the chunks the driver receives are checked by the forwarding
// tests).
TEST_F(Ctl, ActivationProgramsSixHundredUplinksInUplinkOrder)
{
    uint32_t capacity = 512;
    uint32_t* list = _pbb_ctl_ReAllocMcPortList(512, _pbb_ctl_ReAllocMcPortList(0, nullptr, &capacity), &capacity);
    EXPECT_EQ(capacity, 1024u);
    free(list);

    std::vector<uint32_t> ports;
    for (int i = 0; i < 600; ++i) {
        ports.push_back(sw->addPort("eth-1/1/" + std::to_string(i), 1));
        sw->setVlans(ports.back(), {10});
    }
    vsi(1, "vsi-a", 1001);
    for (auto it = ports.rbegin(); it != ports.rend(); ++it) attach(1, *it);

    PBB_ctl_ActiveVsi(1);

    EXPECT_EQ(driverMc(1), ports);
    expectMc(1, ports);
}

TEST_F(Ctl, ReactivationReprogramsCurrentPortsThenAddsTheMissing)
{
    vsi(1, "vsi-a", 1001);
    for (uint32_t p : {a, b, c}) attach(1, p);
    PBB_ctl_ActiveMcPort(1, b);
    PBB_ifcb_Get(c)->usLinkUp = 0;  // c's link is down
    plat::testing::setRecording(true);

    PBB_ctl_ActiveVsi(1);

    std::vector<std::pair<uint32_t, std::vector<uint32_t>>> adds;
    for (const auto& call : plat::testing::callsNamed("L2VPN_AddMinMEntry"))
        adds.emplace_back(std::any_cast<sim::MinMRequest>(call.payload).op, std::any_cast<sim::MinMRequest>(call.payload).ports);
    EXPECT_EQ(adds, (decltype(adds){{PBB_MINM_ADD_MCPW, {b}}, {PBB_MINM_ADD_MCPW_PORT, {a}}}));
    expectMc(1, {a, b});
}

TEST_F(Ctl, SettingsKeepTheRecordExactlyWhileNotDefault)
{
    ASSERT_NE(PBB_ifcb_Create(a), nullptr);  // an uplink of all VSIs
    PBB_ifcb_Get(a)->usUplinkAll = 1;

    // vsi-a is known to the module only: adopted, attached, activated.
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_OK);
    PbbVsi* v = PBB_vsi_GetVsiByIndex(1);
    ASSERT_NE(v, nullptr);
    expectMc(1, {a});
    expectRecord(1, 1001, 2, 10);

    plat::testing::setRecording(true);
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_OK);
    EXPECT_EQ(plat::testing::countCalls("DBM_SetBinary") + plat::testing::countCalls("L2VPN_AddMinMEntry"), 0u);

    EXPECT_EQ(PBB_ctl_SetEncapType(5, "vsi-a", 1001), PBB_OK);
    expectRecord(1, 1001, 5, 10);
    EXPECT_EQ(PBB_ctl_ResetBVlan("vsi-a", 1001), PBB_OK);
    expectMc(1, {});
    expectRecord(1, 1001, 5, PBB_BVLAN_NONE);
    EXPECT_EQ(PBB_ctl_ResetEncapType("vsi-a", 1001), PBB_OK);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "vsi.vsi-a"));

    // The driver refuses a type, or the default: the request fails and
    // nothing changes, so that it can be repeated.
    plat::testing::failCall("L2VPN_SetVSI", 7);
    EXPECT_EQ(PBB_ctl_SetEncapType(6, "vsi-a", 1001), PBB_ERR);
    EXPECT_EQ(v->uiEncapType, 2u);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "vsi.vsi-a"));
    ASSERT_EQ(PBB_ctl_SetEncapType(6, "vsi-a", 1001), PBB_OK);
    plat::testing::failCall("L2VPN_SetVSI", 7);
    EXPECT_EQ(PBB_ctl_ResetEncapType("vsi-a", 1001), PBB_ERR);
    expectRecord(1, 1001, 6, PBB_BVLAN_NONE);
    EXPECT_EQ(PBB_ctl_ResetEncapType("vsi-a", 1001), PBB_OK);
    EXPECT_EQ(v->uiEncapType, 2u);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "vsi.vsi-a"));

    // Wrong I-SID, unknown names (the settings refuse them as the management
    // tests' set requests show).
    EXPECT_EQ(PBB_ctl_ResetBVlan("vsi-a", 999), PBB_ERR);
    EXPECT_EQ(PBB_ctl_ResetEncapType("vsi-a", 999), PBB_ERR);
    EXPECT_EQ(PBB_ctl_ResetBVlan("vsi-x", 1), PBB_OK);
    // A VLAN ID beyond the highest is no B-VLAN.
    EXPECT_EQ(PBB_ctl_SetBVlan(4095, "vsi-a", 1001), PBB_ERR);
}

TEST_F(Ctl, BVlanChangeRebuildsAnActiveVsiAndOnlyStoresForADownOne)
{
    vsi(1, "vsi-a", 1001);
    sw->setVlans(b, {20});
    for (uint32_t p : {a, b}) attach(1, p);
    learn({1, 10, 1, a});
    PBB_ctl_DeactiveVsi(1);
    expectUc({{1, 10, 1, a}});  // without a multicast entry the learned entries stay
    PBB_ctl_ActiveVsi(1);
    expectMc(1, {a});

    EXPECT_EQ(PBB_ctl_SetBVlan(20, "vsi-a", 1001), PBB_OK);
    expectMc(1, {a, b});
    expectUc({});
    expectRecord(1, 1001, 2, 20);

    // Down in the daemon's record, which a known VSI is taken from, though
    // the module has not said so.
    PBB_vsi_GetVsiByIndex(1)->usShutdownFlag = 1;
    PBB_ctl_DeactiveVsi(1);
    plat::testing::setRecording(true);
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_OK);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_AddMinMEntry"), 0u);
    expectMc(1, {});
    expectRecord(1, 1001, 2, 10);
}

// A multicast entry or port the driver refuses fails the B-VLAN request
// (the B-VLAN is kept and stored); the same request again programs what is
// missing, and once nothing is, calls nothing.
TEST_F(Ctl, ABVlanWhoseMulticastEntryTheDriverRefusesFailsUntilRepeated)
{
    vsi(1, "vsi-a", 1001, PBB_BVLAN_NONE);
    for (uint32_t p : {a, b}) attach(1, p);
    plat::testing::failCall("L2VPN_AddMinMEntry", 7);
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_ERR);
    expectMc(1, {});
    expectRecord(1, 1001, 2, 10);
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_OK);
    expectMc(1, {a, b});

    // An uplink the entry lacks, refused: the entry is programmed again with
    // its ports, refused too, which withdraws it from the driver; the table
    // follows, the learned entries go, and the repeat builds it anew.
    attach(1, c);
    learn({1, 10, 1, a});
    plat::testing::failCall("L2VPN_AddMinMEntry", 7);
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_ERR);
    expectMc(1, {});
    expectUc({});
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_OK);
    expectMc(1, {a, b, c});

    plat::testing::setRecording(true);
    EXPECT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_OK);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_AddMinMEntry"), 0u) << "complete: left alone";
}

// A setting the configuration database refuses to store is in effect and
// answered PBB_ERR_NOT_SAVED; the same request again stores it, and once
// stored writes nothing.
struct UnsavedCase {
    const char* name;
    const char* refused;                 // the database call that fails once
    std::function<uint32_t()> request;
    std::function<void()> expectStored;  // the record once saved
};

class Unsaved : public Ctl, public ::testing::WithParamInterface<UnsavedCase> {};

TEST_P(Unsaved, ASettingTheDatabaseRefusesIsInEffectAndSavedWhenRepeated)
{
    vsi(1, "vsi-a", 1001, PBB_BVLAN_NONE);
    attach(1, a);
    if (std::string(GetParam().name) == "BVlanReset") {
        ASSERT_EQ(PBB_ctl_SetBVlan(10, "vsi-a", 1001), PBB_OK);
    }
    plat::testing::failCall(GetParam().refused, 7);
    EXPECT_EQ(GetParam().request(), PBB_ERR_NOT_SAVED);
    EXPECT_EQ(GetParam().request(), PBB_OK);
    GetParam().expectStored();
    plat::testing::setRecording(true);
    EXPECT_EQ(GetParam().request(), PBB_OK);
    EXPECT_EQ(plat::testing::countCalls("DBM_SetBinary") + plat::testing::countCalls("DBM_DeleteKey"), 0u);
}

const UnsavedCase kUnsaved[] = {
    {"BVlan", "DBM_SetBinary", [] { return PBB_ctl_SetBVlan(10, "vsi-a", 1001); },
     [] {
         expectRecord(1, 1001, 2, 10);
         EXPECT_EQ(PBB_vsi_GetVsiByIndex(1)->usBVlan, 10);
     }},
    {"Encap", "DBM_SetBinary", [] { return PBB_ctl_SetEncapType(5, "vsi-a", 1001); },
     [] { expectRecord(1, 1001, 5, PBB_BVLAN_NONE); }},
    {"BVlanReset", "DBM_DeleteKey", [] { return PBB_ctl_ResetBVlan("vsi-a", 1001); },
     [] { EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "vsi.vsi-a")); }},
};

INSTANTIATE_TEST_SUITE_P(Ctl, Unsaved, ::testing::ValuesIn(kUnsaved), byName);

TEST_F(Ctl, RenumberedVsiIsAdoptedUnderItsNewIndex)
{
    vsi(1, "vsi-a", 1001);
    attach(1, a);
    PBB_ifcb_AddCfgVsiNode(a, "vsi-a");
    PBB_ctl_ActiveVsi(1);
    learn({1, 10, 1, a});

    sw->deleteVsi(1);
    sw->addVsi(5, "vsi-a", 1001);
    EXPECT_EQ(PBB_ctl_SetBVlan(20, "vsi-a", 1001), PBB_OK);

    EXPECT_EQ(PBB_vsi_GetVsiByIndex(1), nullptr);
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 1), 0u);
    EXPECT_EQ(tableUc(), UcSet{});
    EXPECT_EQ(dbUc(), UcSet{});
    EXPECT_EQ(PBB_vsi_GetIndexByISid(1001), 5u);
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 5), 1u);
    expectMc(5, {a});
    expectRecord(5, 1001, 2, 20);
}

}  // namespace
}  // namespace ctltest
