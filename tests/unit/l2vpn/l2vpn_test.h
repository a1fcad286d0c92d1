// The L2VPN adapter over the in-process platform: the daemon registered
// with the switch's L2VPN module as at start-up (the first batch served),
// its timers and report socket, on top of the control-logic fixture.
#pragma once

#include "daemon/pbb_elipc.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_tmr.h"
#include "support/daemon_loop.h"
#include "support/logread.h"
#include "unit/ctl/ctl_test.h"

namespace l2vpntest {

using ctltest::Uc;

class Adapter : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        if (HasFatalFailure()) return;
        // The daemon registers on its own.
        (void)L2VPN_Deregister(g_iL2vpnEvtFd);
        g_iL2vpnEvtFd = PBB_INVALID_FD;
        ASSERT_TRUE(pbbtest::openDaemonLoop());
        ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
        g_uiPbbDbgFlag = PBB_DBG_EVENT;
        plat::testing::setRecording(true);
        ASSERT_EQ(PBB_l2vpn_Init(), PBB_OK);
        serve();
    }
    void TearDown() override
    {
        PBB_l2vpn_Exit();
        PBB_tmr_Exit();
        pbbtest::closeDaemonLoop();
        g_uiPbbDbgFlag = 0;
        Ctl::TearDown();
    }

    // Serves the daemon's descriptors as its loop does, until nothing is ready.
    static void serve() { (void)pbbtest::serveReady(); }
    // One second passes.
    static void tick()
    {
        ASSERT_EQ(Timer_Tick_Announce(g_hTimerInstance), 0u);
        serve();
    }
    // A whole new batch inside a refresh window, as after a registration.
    static void batch()
    {
        (void)L2VPN_SendGrEvent(g_iL2vpnEvtFd, PBB_L2VPN_CLIENT, PBB_L2VPN_GR_BEGIN);
        (void)L2VPN_RequestBatch(g_iL2vpnEvtFd, PBB_L2VPN_BATCH_ALL);
        serve();
    }
    // vsi-a (index 1) active on B-VLAN 10 over uplinks a and b.
    void activateA()
    {
        auto list = names({"vsi-a"});
        ASSERT_EQ(PBB_ctl_AddUplink(a, 1, raw(list)), PBB_OK);
        ASSERT_EQ(PBB_ctl_AddUplink(b, 1, raw(list)), PBB_OK);
        ASSERT_EQ(PBB_ctl_SetBVlan(kVlan, "vsi-a", 1001), PBB_OK);
        expectMc(1, {a, b});
    }
    // A second MAC-in-MAC board (slot 3): entries learned from now on are
    // installed on slots 1 and 3.
    void addSecondMinmSlot()
    {
        sw->addSlot(3, {.minm = true});
        PBB_ucpw_Exit();
        ASSERT_EQ(PBB_ucpw_Init(), PBB_OK);
    }
    std::vector<std::string> logged(const std::string& text) const { return pbbtest::grepLines(dirs.logFile(), {text}); }
};

}  // namespace l2vpntest
