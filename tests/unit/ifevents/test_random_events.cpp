// Random sequences of switch events and learning over the in-process
// switch: after every step the driver, the unicast table and the run
// database hold the same learned entries, and each VSI's multicast entry is
// the same in the driver and the table.
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

    // A frame of VSI v from one of 16 stations on a port.
    void frame(uint32_t port, uint32_t v, uint8_t station)
    {
        sim::PbbFrame f;
        f.isid = 1000 + v;
        f.bda = sim::groupAddress(f.isid);
        f.bsa = {0, 0x11, 0x22, 0x33, v == 2 ? uint8_t(0x20) : uint8_t(0), station};
        f.bvid = v == 2 ? 20 : kVlan;
        f.csa = {0x02, 0, 0, 0, 0, 1};
        f.rest.assign(46, 0);
        (void)sw->receiveFrame(port, f);
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
            uint32_t v = pick(1u, 2u);
            uint8_t station = static_cast<uint8_t>(rng() % 16);
            frame(port, v, station);
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
            sim::AgeReport r{.slot = static_cast<uint16_t>(pick(1u, 3u)), .vsi = 1, .isid = 1001};
            r.entries.push_back({{0, 0x11, 0x22, 0x33, 0, static_cast<uint8_t>(rng() % 16)}, kVlan});
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
        UcSet table = tableUc();
        ASSERT_EQ(driverUc(), table);
        ASSERT_EQ(dbUc(), table);
        for (uint32_t v : {1u, 2u}) {
            auto drv = driverMc(v);
            std::sort(drv.begin(), drv.end());
            ASSERT_EQ(drv, tableMc(v)) << "VSI " << v;
        }
    }

    uint32_t d = 0, agg = 0;
};

TEST_P(RandomEvents, DriverTableAndDatabaseStayInStep)
{
    std::mt19937 rng(GetParam());
    size_t learned = 0, before = 0;

    for (int i = 0; i < 300; ++i) {
        std::string what = step(rng);
        serve();
        expectInStep("step " + std::to_string(i) + ": " + what);
        if (HasFatalFailure()) return;
        size_t now = tableUc().size();
        learned += now > before ? now - before : 0;
        before = now;
    }
    EXPECT_GE(learned, 10u) << "the sequence learned enough to keep in step";
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomEvents, ::testing::Values(1u, 2u, 3u, 4u),
                         [](const ::testing::TestParamInfo<unsigned>& info) { return "seed" + std::to_string(info.param); });

}  // namespace
}  // namespace iftest
