// The L2VPN module's VSI events and the batch that follows every
// registration, served through the daemon's own registration and loop.
#include "unit/l2vpn/l2vpn_test.h"

namespace l2vpntest {
namespace {

using VsiEvents = Adapter;

// What start-up makes of a refused platform call: a missing module is
// retried by the timer and is no failure; the others fail start-up.
TEST_F(VsiEvents, StartUpFailures)
{
    // The refused call, start-up's result, whether the timer retries, whether the report socket is open.
    for (auto [call, result, timer, ageSocket] :
         {std::tuple{"L2VPN_Register", PBB_OK, true, true}, std::tuple{"L2VPN_GetL2VFIBSpec", PBB_ERR, false, true},
          std::tuple{"LIPC_Bind", PBB_ERR, false, false}}) {
        PBB_l2vpn_Exit();
        EXPECT_EQ(g_uiMaxPwNum + g_uiMaxPwNumPerVsi, 0u);
        plat::testing::failCall(call, -1);
        EXPECT_EQ(PBB_l2vpn_Init(), result) << call;
        EXPECT_EQ(g_ulL2vpnTimerFd != PBB_TMR_INVALID, timer) << call;
        EXPECT_EQ(g_iL2vpnEvtFd >= 0, !timer) << call;
        EXPECT_EQ(g_iAgeFd >= 0, ageSocket) << call;
        EXPECT_EQ(g_uiMaxPwNum != 0, std::string(call) != "L2VPN_GetL2VFIBSpec") << call;
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
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(2), nullptr);
    expectMc(1, {a, b});
    expectUc({{1, kVlan, 1, a}});
    for (const auto& [key, e] : sw->fib().committed().uc) EXPECT_EQ(e.cmac, sim::Mac{});
}

TEST_F(VsiEvents, VsiAddCreatesOrReplaces)
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

    // Another name under a known index: the record goes, outside a batch too.
    sw->addVsi(2, "vsi-other", 1002);
    serve();
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(2), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(1002), PBB_VSI_INVALID_INDEX);
    EXPECT_FALSE(PBB_ifcb_IsRunVsiExist(c, 2));
}

// vsi-a with its own encapsulation through the module's events.
TEST_F(VsiEvents, RefreshStateAndISidChanges)
{
    activateA();
    ASSERT_EQ(PBB_ctl_SetEncapType(7, "vsi-a", 1001), PBB_OK);

    // Reported again in a batch: its encapsulation is programmed again.
    plat::testing::clearCalls();
    batch();
    EXPECT_EQ(plat::testing::countCalls("L2VPN_SetVSI"), 1u);
    EXPECT_EQ(sw->encapType(1), 7u);

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
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "vsi.vsi-a"));
    EXPECT_TRUE(PBB_ifcb_IsRunVsiExist(a, 1));
    EXPECT_EQ(logged("Receive vsi_modify_pbb_i-sid event: VsiIndex 1, VsiName vsi-a, PBB I-SID 2001.").size(), 1u);

    // No I-SID any more: the VSI goes with its configuration.
    ASSERT_EQ(PBB_ctl_SetBVlan(kVlan, "vsi-a", 2001), PBB_OK);
    sw->setVsiIsid(1, 0);
    serve();
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(1), nullptr);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "vsi.vsi-a"));
    EXPECT_FALSE(PBB_ifcb_IsRunVsiExist(a, 1));
    expectMc(1, {});

    // An I-SID again for the VSI the daemon let go: it is known once more.
    sw->setVsiIsid(1, 3001);
    serve();
    v = PBB_vsi_GetVsiByIndex(1);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::tuple(std::string(v->szVsiName), v->uiISid), std::tuple(std::string("vsi-a"), 3001u));
}

TEST_F(VsiEvents, DeletionsAreAcknowledged)
{
    // The VSI goes as a renumbered one does (checked with the control logic).
    sw->deleteVsi(2);
    serve();
    EXPECT_EQ(PBB_vsi_GetIndexByISid(1002), PBB_VSI_INVALID_INDEX);

    // An index that names no VSI: no line, still acknowledged.
    L2VPN_VSI_INFO_S info{.uiVsiIndex = 0x80000000u, .uiFlags = 0, .auiReserved = {}, .uiISid = 0, .szVsiName = "vsi-odd"};
    EXPECT_EQ(_pbb_l2vpn_ProcEvent(PBB_L2VPN_EVT_VSI_DEL, &info), 0u);
    EXPECT_TRUE(logged("vsi-odd").empty());

    sw->disableL2vpn();
    serve();
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), nullptr);
    sw->disableL2vpn();
    serve();
    // Acknowledged in order: both deletions (1), then each disable (64), also with no VSI left.
    std::vector<uint32_t> acked;
    for (const auto& ack : sw->acks())
        if (ack.service == sim::Service::L2vpn) acked.push_back(ack.code);
    EXPECT_EQ(acked, (std::vector<uint32_t>{1, 1, 64, 64}));
}

}  // namespace
}  // namespace l2vpntest
