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

TEST_F(IfEvents, LinkDownFlushesTheInterfaceAndLinkUpBringsItsPortsBack)
{
    activateA();
    const Uc onA{1, kVlan, 1, a}, onB{1, kVlan, 2, b};
    learn(onA);
    learn(onB);

    sw->setLink(a, false);
    serve();
    expectUc({onB});
    expectMc(1, {b});
    uint64_t mark = programmed();
    sw->setLink(a, false);
    serve();
    EXPECT_EQ(programmed(), mark) << "a second link-down calls nothing";

    sw->setLink(a, true);
    serve();
    expectMc(1, {a, b});
    mark = programmed();
    sw->setLink(a, true);
    serve();
    EXPECT_EQ(programmed(), mark) << "a second link-up calls nothing";
    EXPECT_TRUE(ifmAcks().empty()) << "link events are not acknowledged";
    EXPECT_EQ(logged("Receive event: interface_down on the interface eth-1/0/1.").size(), 1u);
}

// An interface going inactive takes its control block, uplinks and PBB mode
// with it; parked, its configuration comes back with it.
TEST_F(IfEvents, InactiveParksOrDiscardsAndActiveRestores)
{
    for (uint32_t word : {IF_INACTIVE_PARK, 0u}) {
        SCOPED_TRACE(word);
        ASSERT_EQ(PBB_ctl_SetAllVsiUplink(c), PBB_OK);
        activateA({a, b, c});
        learn({1, kVlan, 3, c});

        sw->deactivate(c, word);
        serve();
        EXPECT_EQ(PBB_ifcb_Get(c), nullptr);
        EXPECT_FALSE(sw->pbbMode(c));
        expectMc(1, {a, b});
        expectUc({});
        EXPECT_FALSE(stored(g_hPbbUsedCfgDB, "if.eth-1/0/3"));
        EXPECT_EQ(stored(g_hPbbUnusedCfgDB, "if.eth-1/0/3"), word == IF_INACTIVE_PARK);

        sw->activate(c);
        sw->setLink(c, true);
        serve();
        if (word == IF_INACTIVE_PARK) {
            ASSERT_NE(PBB_ifcb_Get(c), nullptr);
            EXPECT_EQ(PBB_ifcb_Get(c)->usUplinkAll, 1);
            EXPECT_TRUE(PBB_ifcb_IsRunVsiExist(c, 1) && PBB_ifcb_IsRunVsiExist(c, 2));
            EXPECT_TRUE(sw->pbbMode(c));
            expectMc(1, {a, b, c});
            EXPECT_TRUE(stored(g_hPbbUsedCfgDB, "if.eth-1/0/3"));
            EXPECT_FALSE(stored(g_hPbbUnusedCfgDB, "if.eth-1/0/3"));
            ASSERT_EQ(PBB_ctl_ResetAllVsiUplink(c), PBB_OK);
        } else {
            EXPECT_EQ(PBB_ifcb_Get(c), nullptr);
            EXPECT_FALSE(sw->pbbMode(c));
            expectMc(1, {a, b});
        }
        ASSERT_EQ(PBB_ctl_ResetBVlan("vsi-a", 1001), PBB_OK);
    }
    EXPECT_EQ(ifmAcks().size(), 4u) << "two inactive and two active events";  // link events are not acknowledged
}

TEST_F(IfEvents, DeleteRemovesOnlyParkedRecords)
{
    ASSERT_EQ(PBB_ctl_SetAllVsiUplink(c), PBB_OK);
    ASSERT_EQ(PBB_ctl_SetAllVsiUplink(b), PBB_OK);
    sw->deactivate(c, IF_INACTIVE_PARK);
    serve();
    _pbb_if_ProcIfDelete(c);
    _pbb_if_ProcIfDelete(b);
    EXPECT_FALSE(stored(g_hPbbUnusedCfgDB, "if.eth-1/0/3"));
    EXPECT_TRUE(stored(g_hPbbUsedCfgDB, "if.eth-1/0/2")) << "an active interface's records stay";
}

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

    // A port that cannot do PBB: warned about once it joins a PBB aggregate.
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

TEST_F(IfEvents, SlotRemovalWithdrawsWhatNoOtherSlotHolds)
{
    sw->addSlot(3, {.minm = true});
    PBB_ucpw_Exit();  // entries are now installed on slots 1 and 3
    ASSERT_EQ(PBB_ucpw_Init(), PBB_OK);
    const Uc e1{1, kVlan, 1, a}, e2{1, kVlan, 2, b};
    learn(e1);
    learn(e2);
    sw->sendReport({sim::AgeReport{.slot = 1, .vsi = 1, .isid = 1001, .entries = {{{0, 0x11, 0x22, 0x33, 0, 1}, kVlan}}}});
    serve();
    expectUc({e1, e2});

    sw->removeBoard(3);
    serve();
    expectUc({e2});
    sw->insertBoard(3);
    serve();
    sw->sendReport({sim::AgeReport{.slot = 1, .vsi = 1, .isid = 1001, .entries = {{{0, 0x11, 0x22, 0x33, 0, 2}, kVlan}}}});
    serve();
    expectUc({e2});  // slot 3 holds it again
    size_t slotAcks = 0;
    for (const auto& ack : ifmAcks()) slotAcks += ack.code == PBB_IF_EVT_SLOT_REMOVE || ack.code == PBB_IF_EVT_SLOT_INSERT;
    EXPECT_EQ(slotAcks, 3u) << "the board added, pulled and put back";
}

TEST_F(IfEvents, EmptyListsAreAcknowledgedAndAHangUpRegistersAgain)
{
    EXPECT_EQ(_pbb_if_IfEventCallback(PBB_IF_EVT_ACTIVE, nullptr, 0, 77, nullptr), 0u);
    ASSERT_EQ(ifmAcks().size(), 1u);
    EXPECT_EQ(std::tuple(ifmAcks()[0].code, ifmAcks()[0].context), std::tuple(PBB_IF_EVT_ACTIVE, 77u));

    plat::testing::clearCalls();
    EXPECT_EQ(_pbb_if_ProcEpollEvent(PBB_EV_HUP, g_iIfHandle), 0u);
    EXPECT_EQ(plat::testing::countCalls("IF_Event_Init"), 1u);
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
