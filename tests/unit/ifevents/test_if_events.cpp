// Interface, link and slot events from the interface manager, served
// through the daemon's own registration and loop; and random sequences of
// switch events and learning, after every step of which the driver, the
// unicast table and the run database hold the same learned entries, and
// each VSI's multicast entry is the same in the driver and the table.
#include "daemon/pbb_if.h"
#include "daemon/pbb_pkt.h"
#include "daemon/pbb_tc.h"
#include "daemon/pbb_vlan.h"
#include "platform/model/pbb_frame.h"
#include "unit/l2vpn/l2vpn_test.h"

#include <optional>
#include <random>
#include <set>

namespace iftest {
namespace {

using l2vpntest::Uc;

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
};

// A link going down flushes the interface and takes its ports, which come
// back with the link; link events are not acknowledged.
TEST_F(IfEvents, LinkDownFlushesAndLinkUpRestoresThePorts)
{
    activateA();
    learn({1, kVlan, 1, a});
    learn({1, kVlan, 2, b});
    for (bool up : {false, true}) {
        sw->setLink(a, up);
        serve();
        expectMc(1, up ? std::vector<uint32_t>{a, b} : std::vector<uint32_t>{b});
        expectUc({{1, kVlan, 2, b}});
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
    EXPECT_FALSE(sw->pbbMode(b) || sw->pbbMode(c));
    EXPECT_TRUE(pbbtest::keyExists(g_hPbbUnusedCfgDB, "if.eth-1/0/3"));
    for (uint32_t hDb : {g_hPbbUsedCfgDB, g_hPbbUnusedCfgDB}) EXPECT_FALSE(pbbtest::keyExists(hDb, "if.eth-1/0/2"));
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUsedCfgDB, "if.eth-1/0/3"));
    sw->activate(b);  // nothing parked: no control block, no PBB mode
    sw->activate(c);
    serve();
    EXPECT_FALSE(PBB_ifcb_Get(b) != nullptr || sw->pbbMode(b));
    EXPECT_TRUE(sw->pbbMode(c) && PBB_ifcb_IsRunVsiExist(c, 1) && PBB_ifcb_IsRunVsiExist(c, 2));
    EXPECT_TRUE(pbbtest::keyExists(g_hPbbUsedCfgDB, "if.eth-1/0/3"));

    sw->deactivate(c, IF_INACTIVE_PARK);
    serve();
    PbbIfEvent deleted{{c}, 0};
    _pbb_if_IfEventCallback(PBB_IF_EVT_DELETE, &deleted, 1, 0, nullptr);
    _pbb_if_ProcIfDelete(a);
    EXPECT_FALSE(pbbtest::keyExists(g_hPbbUnusedCfgDB, "if.eth-1/0/3"));
    EXPECT_TRUE(pbbtest::keyExists(g_hPbbUsedCfgDB, "if.eth-1/0/1")) << "an active interface's records stay";
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
    EXPECT_EQ(plat::testing::countCalls("IF_UnRegEvent"), 3u) << "the old registrations end";
    for (const char* reg : {"IF_RegIfEvent", "IF_RegLinkEvent", "IF_RegSlotEvent"})
        EXPECT_EQ(plat::testing::countCalls(reg), 1u) << reg;
    EXPECT_GE(g_iIfHandle, 0);
    activateA();
    sw->setLink(b, false);
    serve();
    expectMc(1, {a});  // events arrive over the new registration
}

class RandomEvents : public l2vpntest::Adapter, public ::testing::WithParamInterface<unsigned> {
protected:
    void SetUp() override
    {
        Adapter::SetUp();
        if (HasFatalFailure()) return;
        addSecondMinmSlot();
        d = sw->addPort("eth-3/0/1", 3);
        sw->setVlans(d, {10, 20});
        agg = sw->addAggregate("agg-1");
        ASSERT_EQ(PBB_if_Init() + PBB_pkt_Init() + PBB_tc_Init() + PBB_vlan_Init(), PBB_OK);
        g_uiMaxPwNum = 1000;
        g_uiMaxPwNumPerVsi = 1000;
        for (uint32_t p : {a, b, c, d}) ASSERT_EQ(PBB_ctl_SetAllVsiUplink(p), PBB_OK);
        ASSERT_EQ(PBB_ctl_SetBVlan(kVlan, "vsi-a", 1001), PBB_OK);
        ASSERT_EQ(PBB_ctl_SetBVlan(20, "vsi-b", 1002), PBB_OK);
    }
    void TearDown() override
    {
        PBB_vlan_Exit();
        PBB_tc_Exit();
        PBB_pkt_Exit();
        PBB_if_Exit();
        Adapter::TearDown();
    }

    // One random step; returns what it did, for the failure message.
    std::string step(std::mt19937& rng)
    {
        auto pick = [&rng](auto... items) {
            const uint32_t all[] = {items...};
            return all[rng() % sizeof...(items)];
        };
        const uint32_t port = pick(a, b, c, d);
        switch (rng() % 14) {
        case 0: case 1: case 2: case 3: {
            // A frame of VSI v from one of 16 stations.
            uint32_t v = pick(1u, 2u);
            uint8_t station = static_cast<uint8_t>(rng() % 16);
            (void)sw->receiveFrame(port, sim::PbbFrame{.bda = sim::groupAddress(1000 + v),
                                                       .bsa = {0, 0x11, 0x22, 0x33, v == 2 ? uint8_t(0x20) : uint8_t(0), station},
                                                       .bvid = v == 2 ? uint16_t(20) : kVlan,
                                                       .isid = 1000 + v,
                                                       .csa = {0x02, 0, 0, 0, 0, 1},
                                                       .rest = std::vector<uint8_t>(46, 0)});
            return "frame on " + std::to_string(port) + " vsi " + std::to_string(v) + " station " + std::to_string(station);
        }
        case 4: {
            bool up = rng() % 2 == 0;
            sw->setLink(port, up);
            return "link " + std::string(up ? "up " : "down ") + std::to_string(port);
        }
        case 5:
            // Parked, so that the port comes back as an uplink.
            sw->deactivate(port, IF_INACTIVE_PARK);
            sw->activate(port);
            sw->setLink(port, true);
            return "deactivate and activate " + std::to_string(port);
        case 6:
            if (rng() % 2 == 0) {
                sw->joinAggregate(agg, port);
                return "join " + std::to_string(port);
            }
            sw->leaveAggregate(port);
            return "leave " + std::to_string(port);
        case 7:
            sw->removeBoard(3);
            sw->insertBoard(3);
            return "board 3 out and in";
        case 8: {
            uint32_t v = pick(1u, 2u);
            bool down = rng() % 2 == 0;
            sw->setVsiDown(v, down);
            return "vsi " + std::to_string(v) + (down ? " down" : " up");
        }
        case 9: {
            const sim::AgeReport r{.slot = static_cast<uint16_t>(pick(1u, 3u)), .vsi = 1, .isid = 1001,
                                   .entries = {{{0, 0x11, 0x22, 0x33, 0, static_cast<uint8_t>(rng() % 16)}, kVlan}}};
            sw->sendReport({r});
            return "aged from slot " + std::to_string(r.slot);
        }
        case 10:
            sw->setServiceUp(sim::Service::L2vpn, false);
            serve();
            sw->setServiceUp(sim::Service::L2vpn, true);
            tick();
            return "L2VPN module away and back";
        case 11:
            batch();
            return "a new batch";
        case 12: {
            std::optional<std::vector<uint16_t>> vlans;
            std::optional<std::vector<uint32_t>> ifs;
            if (rng() % 2 == 0) vlans = std::vector<uint16_t>{static_cast<uint16_t>(pick(10u, 20u))};
            if (rng() % 2 == 0) ifs = std::vector<uint32_t>{port};
            sw->topologyChange(vlans, ifs);
            return "topology change";
        }
        default: {
            std::set<uint16_t> vlans;
            if (rng() % 3 != 0) vlans.insert(10);
            if (rng() % 3 != 0) vlans.insert(20);
            sw->setVlans(port, vlans);
            return "VLANs of " + std::to_string(port) + ": " + std::to_string(vlans.size());
        }
        }
    }

    void expectInStep(const std::string& what)
    {
        SCOPED_TRACE(what);
        ASSERT_GE(g_iL2vpnEvtFd, 0);
        ASSERT_FALSE(sw->fib().windowOpen());
        expectUc(tableUc());
        for (uint32_t v : {1u, 2u}) expectMc(v, tableMc(v));
    }

    uint32_t d = 0, agg = 0;
};

TEST_P(RandomEvents, DriverTableAndDatabaseStayInStep)
{
    std::mt19937 rng(GetParam());
    for (int i = 0; i < 300; ++i) {
        std::string what = step(rng);
        serve();
        expectInStep("step " + std::to_string(i) + ": " + what);
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomEvents, ::testing::Values(1u, 2u, 3u, 4u),
                         [](const ::testing::TestParamInfo<unsigned>& info) { return "seed" + std::to_string(info.param); });

}  // namespace
}  // namespace iftest
