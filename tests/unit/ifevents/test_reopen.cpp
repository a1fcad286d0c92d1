// The interface manager's and the VLAN service's event channels after an
// error or hang-up: opened again at once while the service is there, else
// every second until it answers, with a warning, a notice and the status
// file's key; changes made after the channel is back are followed.
#include "daemon/pbb_if.h"
#include "daemon/pbb_reopen.h"
#include "daemon/pbb_vlan.h"
#include "unit/l2vpn/l2vpn_test.h"

#include <functional>

namespace iftest {
namespace {

struct Channel {
    const char* name;
    sim::Service service;
    const char* state;     // the status file's key
    const char* tag;       // of the warning; the notice's ends in NOTICE
    std::function<uint32_t(uint32_t)> callback;  // the loop's callback on the channel
    std::function<bool()> open;
    const char* initCall;  // the platform call that opens the channel
};

const Channel kChannels[] = {
    {"InterfaceManager", sim::Service::Ifm, "INTERFACE_EVENTS", "PBB_IFEVENT",
     [](uint32_t ev) { return _pbb_if_ProcEpollEvent(ev, g_iIfHandle); }, [] { return g_iIfHandle >= 0; },
     "IF_Event_Init"},
    {"Vlan", sim::Service::Vlan, "VLAN_EVENTS", "PBB_VLANEVENT",
     [](uint32_t ev) { return _pbb_vlan_EpollCallBack(ev, g_iPbbVlanEvtFd); }, [] { return g_iPbbVlanEvtFd >= 0; },
     "VLAN_EventInit"},
};

class Reopen : public l2vpntest::Adapter, public ::testing::WithParamInterface<Channel> {
protected:
    void SetUp() override
    {
        Adapter::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(PBB_if_Init() + PBB_vlan_Init(), PBB_OK);
        activateA();
    }
    void TearDown() override
    {
        PBB_vlan_Exit();
        PBB_if_Exit();
        Adapter::TearDown();
    }
    // Values the channel's key took in the status file, in order.
    static std::string states(const char* key)
    {
        std::string out;
        const std::string name = std::string("name=") + key + " value=";
        for (const auto& c : plat::testing::callsNamed("SERVICE_SetState"))
            if (c.args.rfind(name, 0) == 0) out += c.args.substr(name.size(), 1);
        return out;
    }
    // A link goes down and a VLAN leaves port b: both channels' changes,
    // each checked only where the other channel is not the one broken.
    void expectFollowed()
    {
        sw->setLink(a, false);
        sw->setVlans(b, {20});
        serve();
        expectMc(1, {});
        EXPECT_EQ(ctltest::vlansOf(b), (std::set<uint16_t>{20}));
    }
};

TEST_P(Reopen, OpenedAgainAtOnceWhileTheServiceIsThere)
{
    const Channel& ch = GetParam();
    EXPECT_EQ(ch.callback(PBB_EV_HUP), 0u);
    EXPECT_TRUE(ch.open());
    EXPECT_EQ(plat::testing::countCalls("Timer_Create"), 0u);
    EXPECT_TRUE(logged(std::string(ch.tag) + "_WARNING").empty());
    expectFollowed();
}

TEST_P(Reopen, RetriedEverySecondUntilTheServiceAnswers)
{
    const Channel& ch = GetParam();
    g_uiPbbDbgFlag = 0;  // said whatever the debug switches
    sw->setServiceUp(ch.service, false);
    EXPECT_EQ(ch.callback(PBB_EV_ERR), 0u);
    EXPECT_FALSE(ch.open());
    EXPECT_EQ(plat::inproc::channelFd(ch.service), -1) << "nothing half-open";
    EXPECT_EQ(logged(std::string(ch.tag) + "_WARNING warning:").size(), 1u);
    EXPECT_NE(plat::testing::callsNamed("Timer_Create").at(0).args.find("periodMs=1000"), std::string::npos);
    const size_t tries = plat::testing::countCalls(ch.initCall);
    tick();
    EXPECT_EQ(plat::testing::countCalls(ch.initCall), tries + 1) << "tried again on the tick";
    EXPECT_FALSE(ch.open());

    sw->setServiceUp(ch.service, true);
    tick();
    EXPECT_TRUE(ch.open());
    EXPECT_EQ(logged(std::string(ch.tag) + "_NOTICE notice:").size(), 1u);
    EXPECT_EQ(states(ch.state), "oco");
    const size_t opened = plat::testing::countCalls(ch.initCall);
    tick();
    EXPECT_EQ(plat::testing::countCalls(ch.initCall), opened) << "the timer is gone";
    expectFollowed();
}

INSTANTIATE_TEST_SUITE_P(Channels, Reopen, ::testing::ValuesIn(kChannels), ctltest::byName);

}  // namespace
}  // namespace iftest
