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

// Only a change of link state acts; link events are not acknowledged.
TEST_F(IfEvents, ARepeatedLinkEventCallsNothing)
{
    activateA();
    for (bool up : {false, true}) {
        sw->setLink(a, up);
        serve();
        expectMc(1, up ? std::vector<uint32_t>{a, b} : std::vector<uint32_t>{b});
        const uint64_t mark = programmed();
        sw->setLink(a, up);
        serve();
        EXPECT_EQ(programmed(), mark) << "a second link " << (up ? "up" : "down") << " calls nothing";
    }
    EXPECT_TRUE(ifmAcks().empty());
    EXPECT_EQ(logged("Receive event: interface_down on the interface eth-1/0/1.").size(), 1u);
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

// A port that cannot do PBB is warned about once it joins an aggregate
// with PBB configuration.
TEST_F(IfEvents, APortWithoutPbbJoiningAPbbAggregateIsWarnedAbout)
{
    const uint32_t agg = sw->addAggregate("agg-1");
    const uint32_t plain = sw->addPort("eth-2/0/1", 2);
    sw->joinAggregate(agg, plain);
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
