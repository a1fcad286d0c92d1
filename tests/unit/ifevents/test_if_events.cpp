// Interface, link and slot events from the interface manager, served
// through the daemon's own registration and loop.
#include "daemon/pbb_if.h"
#include "unit/l2vpn/l2vpn_test.h"

namespace iftest {
namespace {

using l2vpntest::Uc;
using l2vpntest::UcSet;

class IfEvents : public l2vpntest::Adapter {
protected:
    void SetUp() override
    {
        Adapter::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(PBB_if_Init(), PBB_OK);
    }
    void TearDown() override
    {
        PBB_if_Exit();
        Adapter::TearDown();
    }
    std::vector<sim::Ack> ifmAcks() const
    {
        std::vector<sim::Ack> out;
        for (const auto& ack : sw->acks())
            if (ack.service == sim::Service::Ifm) out.push_back(ack);
        return out;
    }
    static bool stored(uint32_t hDb, const std::string& key)
    {
        return DBM_IsKeyExist(hDb, key.c_str(), static_cast<uint32_t>(key.size() + 1)) == 1;
    }
    uint64_t programmed() const { return sw->programCalls().last(); }
};

// A link going down flushes the interface; only a change of link state
// acts; link events are not acknowledged.
TEST_F(IfEvents, ARepeatedLinkEventCallsNothing)
{
    activateA();
    learn({1, kVlan, 1, a});
    learn({1, kVlan, 2, b});
    for (bool up : {false, true}) {
        sw->setLink(a, up);
        serve();
        expectMc(1, up ? std::vector<uint32_t>{a, b} : std::vector<uint32_t>{b});
        expectUc({{1, kVlan, 2, b}});
        const uint64_t mark = programmed();
        sw->setLink(a, up);
        serve();
        EXPECT_EQ(programmed(), mark) << "a second link " << (up ? "up" : "down") << " calls nothing";
    }
    EXPECT_TRUE(ifmAcks().empty());
    EXPECT_EQ(logged("Receive event: interface_down on the interface eth-1/0/1.").size(), 1u);
}

// An interface going inactive leaves PBB mode, parked with its
// configuration or discarded; parked, it comes back with it, to every VSI.
// A deletion removes parked records only.
TEST_F(IfEvents, InactiveParksOrDiscardsAndDeleteRemovesOnlyParkedRecords)
{
    for (uint32_t p : {a, b, c}) ASSERT_EQ(PBB_ctl_SetAllVsiUplink(p), PBB_OK);
    sw->deactivate(c, IF_INACTIVE_PARK);
    sw->deactivate(b, 0);
    serve();
    EXPECT_EQ(PBB_ifcb_Get(c), nullptr);
    EXPECT_FALSE(sw->pbbMode(b) || sw->pbbMode(c));
    EXPECT_TRUE(stored(g_hPbbUnusedCfgDB, "if.eth-1/0/3"));
    for (uint32_t hDb : {g_hPbbUsedCfgDB, g_hPbbUnusedCfgDB}) EXPECT_FALSE(stored(hDb, "if.eth-1/0/2"));
    EXPECT_FALSE(stored(g_hPbbUsedCfgDB, "if.eth-1/0/3"));
    sw->activate(b);  // nothing parked: no control block, no PBB mode
    sw->activate(c);
    serve();
    EXPECT_FALSE(PBB_ifcb_Get(b) != nullptr || sw->pbbMode(b));
    ASSERT_NE(PBB_ifcb_Get(c), nullptr);
    EXPECT_EQ(PBB_ifcb_Get(c)->usUplinkAll, 1);
    EXPECT_TRUE(sw->pbbMode(c) && PBB_ifcb_IsRunVsiExist(c, 1) && PBB_ifcb_IsRunVsiExist(c, 2));
    EXPECT_TRUE(stored(g_hPbbUsedCfgDB, "if.eth-1/0/3"));

    sw->deactivate(c, IF_INACTIVE_PARK);
    serve();
    PbbIfEvent deleted{{c}, 0};
    _pbb_if_IfEventCallback(PBB_IF_EVT_DELETE, &deleted, 1, 0, nullptr);
    _pbb_if_ProcIfDelete(a);
    EXPECT_FALSE(stored(g_hPbbUnusedCfgDB, "if.eth-1/0/3"));
    EXPECT_TRUE(stored(g_hPbbUsedCfgDB, "if.eth-1/0/1")) << "an active interface's records stay";
    for (auto [event, n] : std::initializer_list<std::pair<const char*, size_t>>{{"deactive", 2}, {"active", 1}, {"delete", 1}})
        EXPECT_EQ(logged(std::string("Receive event: interface_") + event + " on the interface eth-1/0/3.").size(), n);
}

// Entries that no slot holds any more go when a board is pulled; put back,
// it holds every entry again.
TEST_F(IfEvents, SlotRemovalWithdrawsWhatNoOtherSlotHolds)
{
    addSecondMinmSlot();
    const Uc e1{1, kVlan, 1, a}, e2{1, kVlan, 2, b};
    learn(e1);
    learn(e2);
    sw->sendReport({sim::AgeReport{.slot = 1, .vsi = 1, .isid = 1001, .entries = {{{0, 0x11, 0x22, 0x33, 0, 1}, kVlan}}}});
    serve();
    sw->removeBoard(3);
    serve();
    expectUc({e2});
    sw->insertBoard(3);  // back, it holds every entry again
    sw->sendReport({sim::AgeReport{.slot = 1, .vsi = 1, .isid = 1001, .entries = {{{0, 0x11, 0x22, 0x33, 0, 2}, kVlan}}}});
    serve();
    expectUc({e2});
}

// A PBB port joining an aggregate stops serving by itself: its entries go;
// leaving, its ports come back. A port that cannot do PBB is warned about
// once it joins an aggregate with PBB configuration.
TEST_F(IfEvents, AggregateMembers)
{
    activateA();
    learn({1, kVlan, 1, a});
    const uint32_t agg = sw->addAggregate("agg-1");
    sw->joinAggregate(agg, a);
    serve();
    expectUc({});
    expectMc(1, {b});
    sw->leaveAggregate(a);
    serve();
    expectMc(1, {a, b});

    const uint32_t plain = sw->addPort("eth-2/0/1", 2);
    const uint32_t other = sw->addAggregate("agg-2");
    sw->joinAggregate(other, plain);
    serve();
    const char* warning = "PBB_JOINAGG_WARNING";
    EXPECT_TRUE(logged(warning).empty()) << "the aggregate has no PBB configuration";
    sw->leaveAggregate(plain);
    ASSERT_EQ(PBB_ctl_SetAllVsiUplink(agg), PBB_OK);
    sw->joinAggregate(agg, plain);
    serve();
    auto lines = logged(warning);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Because the aggregate interface agg-1 has been configured with PBB, assigning the "
                            "interface eth-2/0/1 that does not support PBB"),
              std::string::npos);
}

TEST_F(IfEvents, EmptyListsAreAcknowledgedAndAHangUpRegistersAgain)
{
    EXPECT_EQ(_pbb_if_IfEventCallback(PBB_IF_EVT_ACTIVE, nullptr, 0, 77, nullptr), 0u);
    ASSERT_EQ(ifmAcks().size(), 1u);
    EXPECT_EQ(std::tuple(ifmAcks()[0].code, ifmAcks()[0].context), std::tuple(PBB_IF_EVT_ACTIVE, 77u));

    plat::testing::clearCalls();
    EXPECT_EQ(_pbb_if_ProcEpollEvent(PBB_EV_HUP, g_iIfHandle), 0u);
    EXPECT_EQ(plat::testing::countCalls("IF_Event_Init"), 1u);
    EXPECT_EQ(plat::testing::countCalls("IF_UnRegEvent"), 3u) << "the old registrations end";
    for (const char* reg : {"IF_RegIfEvent", "IF_RegLinkEvent", "IF_RegSlotEvent"})
        EXPECT_EQ(plat::testing::countCalls(reg), 1u) << reg;
    EXPECT_GE(g_iIfHandle, 0);
    activateA();
    sw->setLink(b, false);
    serve();
    expectMc(1, {a});  // events arrive over the new registration
}

}  // namespace
}  // namespace iftest
