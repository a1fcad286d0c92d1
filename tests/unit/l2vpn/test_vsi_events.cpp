// The L2VPN module's VSI events and the batch that follows every
// registration, served through the daemon's own registration and loop.
#include "unit/l2vpn/l2vpn_test.h"

namespace l2vpntest {
namespace {

using VsiEvents = Adapter;

std::vector<uint32_t> ackedTypes(const sim::SwitchModel& sw)
{
    std::vector<uint32_t> out;
    for (const auto& ack : sw.acks())
        if (ack.service == sim::Service::L2vpn) out.push_back(ack.code);
    return out;
}

// What start-up makes of a refused platform call: a missing module is
// retried by the timer and is no failure; the others fail start-up.
TEST_F(VsiEvents, StartUpFailures)
{
    struct Case {
        const char* call;
        uint32_t result;
        bool timer;
        bool ageSocket;
    };
    for (const Case& c : {Case{"L2VPN_Register", PBB_OK, true, true}, Case{"L2VPN_GetL2VFIBSpec", PBB_ERR, false, true},
                          Case{"LIPC_Bind", PBB_ERR, false, false}}) {
        PBB_l2vpn_Exit();
        EXPECT_EQ(g_uiMaxPwNum + g_uiMaxPwNumPerVsi, 0u);
        plat::testing::failCall(c.call, -1);
        EXPECT_EQ(PBB_l2vpn_Init(), c.result) << c.call;
        EXPECT_EQ(g_ulL2vpnTimerFd != PBB_TMR_INVALID, c.timer) << c.call;
        EXPECT_EQ(g_iL2vpnEvtFd >= 0, !c.timer) << c.call;
        EXPECT_EQ(g_iAgeFd >= 0, c.ageSocket) << c.call;
        EXPECT_EQ(g_uiMaxPwNum != 0, std::string(c.call) != "L2VPN_GetL2VFIBSpec") << c.call;
    }
}

// The module away and back: one registration a second, the first success
// stops the timer, and the batch drops a VSI it no longer reports with its
// learned entries; of the others it sends again (with no C-MAC) those on
// ports of the multicast entry and drops the rest.
TEST_F(VsiEvents, ReconnectAndBatchResynchronise)
{
    activateA();
    sw->setVlans(c, {20});
    auto list = names({"vsi-a"});
    ASSERT_EQ(PBB_ctl_AddUplink(c, 1, raw(list)), PBB_OK);  // an uplink of vsi-a, no port of its entry
    for (const Uc& e : {Uc{1, kVlan, 1, a}, Uc{1, kVlan, 3, c}, Uc{2, kVlan, 2, a}}) learn(e);
    sw->setServiceUp(sim::Service::L2vpn, false);
    serve();
    sw->deleteVsi(2);  // unseen while the module is away
    EXPECT_EQ(g_iL2vpnEvtFd, PBB_INVALID_FD);
    plat::testing::clearCalls();
    for (int i = 0; i < 3; ++i) tick();
    sw->setServiceUp(sim::Service::L2vpn, true);
    tick();
    tick();
    EXPECT_EQ(plat::testing::countCalls("L2VPN_Register"), 4u) << "the first success stops the timer";
    EXPECT_EQ(g_ulL2vpnTimerFd, PBB_TMR_INVALID);
    ASSERT_GE(g_iL2vpnEvtFd, 0);
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(2), nullptr);
    expectMc(1, {a, b});
    expectUc({{1, kVlan, 1, a}});
    for (const auto& [key, e] : sw->fib().committed().uc) EXPECT_EQ(e.cmac, sim::Mac{});
}

TEST_F(VsiEvents, VsiAddCreatesReplacesOrRefreshes)
{
    ASSERT_EQ(PBB_ctl_SetAllVsiUplink(c), PBB_OK);
    sw->addVsi(7, "vsi-plain", 0);
    sw->addVsi(8, "vsi-new", 1008);
    serve();
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(7), nullptr) << "a VSI without an I-SID is not tracked";
    EXPECT_EQ(logged("Receive vsi_add event: VsiIndex 7, VsiName vsi-plain, PBB I-SID 0, ShutdownFlag 0.").size(), 1u);
    ASSERT_NE(PBB_vsi_GetVsiByIndex(8), nullptr);
    EXPECT_TRUE(PBB_ifcb_IsRunVsiExist(c, 8));
    EXPECT_EQ(PBB_vsi_GetUplinkList(8)->pstNext->uiIfIndex, c);
    EXPECT_EQ(sw->multicast(8), nullptr) << "no B-VLAN: nothing programmed";

    // Another name under a known index: the record goes, outside a batch too.
    sw->addVsi(2, "vsi-other", 1002);
    serve();
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(2), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(1002), PBB_VSI_INVALID_INDEX);
    EXPECT_FALSE(PBB_ifcb_IsRunVsiExist(c, 2));

    // A stored VSI that matches, with its own encapsulation: programmed again.
    ASSERT_EQ(PBB_ctl_ResetAllVsiUplink(c), PBB_OK);
    activateA();
    ASSERT_EQ(PBB_ctl_SetEncapType(7, "vsi-a", 1001), PBB_OK);
    plat::testing::clearCalls();
    batch();
    EXPECT_EQ(plat::testing::countCalls("L2VPN_SetVSI"), 1u);
    EXPECT_EQ(sw->encapType(1), 7u);
    expectMc(1, {a, b});
}

TEST_F(VsiEvents, ISidChangesAndState)
{
    activateA();
    ASSERT_EQ(PBB_ctl_SetEncapType(7, "vsi-a", 1001), PBB_OK);
    learn({1, kVlan, 1, a});
    ASSERT_TRUE(cfgSaved("vsi-a"));

    // Down, then up, each twice: only the change acts.
    for (bool down : {true, false}) {
        sw->setVsiDown(1, down);
        serve();
        expectMc(1, down ? std::vector<uint32_t>{} : std::vector<uint32_t>{a, b});
        const size_t mark = sw->programCalls().last();
        sw->setVsiDown(1, down);
        serve();
        EXPECT_EQ(sw->programCalls().last(), mark) << "a second " << (down ? "down" : "up") << " makes no call";
    }
    EXPECT_EQ(logged("Receive vsi_up event: VsiIndex 1, VsiName vsi-a.").size(), 2u);

    // A new I-SID: defaults back, uplinks kept.
    sw->setVsiIsid(1, 2001);
    serve();
    const PbbVsi* v = PBB_vsi_GetVsiByIndex(1);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::tuple(v->uiISid, v->usBVlan, v->uiEncapType), std::tuple(2001u, PBB_BVLAN_NONE, PBB_ENCAP_DEFAULT));
    EXPECT_EQ(sw->encapType(1), PBB_ENCAP_DEFAULT);
    expectMc(1, {});
    EXPECT_FALSE(cfgSaved("vsi-a"));
    EXPECT_TRUE(PBB_ifcb_IsRunVsiExist(a, 1));
    EXPECT_EQ(logged("Receive vsi_modify_pbb_i-sid event: VsiIndex 1, VsiName vsi-a, PBB I-SID 2001.").size(), 1u);

    // No I-SID any more: the VSI goes with its configuration.
    ASSERT_EQ(PBB_ctl_SetBVlan(kVlan, "vsi-a", 2001), PBB_OK);
    sw->setVsiIsid(1, 0);
    serve();
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(1), nullptr);
    EXPECT_FALSE(cfgSaved("vsi-a"));
    EXPECT_FALSE(PBB_ifcb_IsRunVsiExist(a, 1));
    expectMc(1, {});
}

TEST_F(VsiEvents, DeletionsAreAcknowledged)
{
    learn({2, kVlan, 1, a});
    sw->deleteVsi(2);
    serve();
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(2), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(1002), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(tableUc(), UcSet{});
    EXPECT_EQ(dbUc(), UcSet{});
    EXPECT_EQ(ackedTypes(*sw), std::vector<uint32_t>{PBB_L2VPN_EVT_VSI_DEL});

    // An index that names no VSI: no line, still acknowledged.
    L2VPN_VSI_INFO_S info{};
    info.uiVsiIndex = 0x80000000u;
    strcpy(info.szVsiName, "vsi-odd");
    EXPECT_EQ(_pbb_l2vpn_ProcEvent(PBB_L2VPN_EVT_VSI_DEL, &info), 0u);
    EXPECT_TRUE(logged("vsi-odd").empty());
    EXPECT_EQ(ackedTypes(*sw).size(), 2u);

    sw->disableL2vpn();
    serve();
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), nullptr);
    sw->disableL2vpn();
    serve();
    EXPECT_EQ(ackedTypes(*sw), (std::vector<uint32_t>{1, 1, 64, 64})) << "also with no VSI left";
}

}  // namespace
}  // namespace l2vpntest
