// Topology-change and VLAN membership events over the in-process switch:
// the control-logic fixture (ports a, b and c carrying VLANs 10 and 20,
// tables, databases, L2VPN registration) plus the event loop and the
// timers, with the platform call log on.
#pragma once

#include "daemon/pbb_elipc.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_tmr.h"
#include "platform/stub/log_record.h"
#include "unit/ctl/ctl_test.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace evtest {

class Events : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        if (HasFatalFailure()) return;
        g_iPbbEpollFd = epoll_create1(0);
        ASSERT_GE(g_iPbbEpollFd, 0);
        ASSERT_EQ(PBB_elipc_InitFdList(), PBB_OK);
        ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
        g_uiPbbDbgFlag = 0;
        plat::testing::setRecording(true);
    }
    void TearDown() override
    {
        ExitModule();
        PBB_tmr_Exit();
        PBB_elipc_FiniFdList();
        if (g_iPbbEpollFd >= 0) close(g_iPbbEpollFd);
        g_iPbbEpollFd = -1;
        g_uiPbbDbgFlag = 0;
        Ctl::TearDown();
    }
    // The module under test lets go of its channel and timer.
    virtual void ExitModule() = 0;

    // Serves what the loop finds ready, as often as something is.
    static int serve()
    {
        int n = 0;
        for (int got; (got = _pbb_main_EpollOnce(g_iPbbEpollFd, 0)) > 0;) n += got;
        return n;
    }
    static void tick() { ASSERT_EQ(Timer_Tick_Announce(g_hTimerInstance), 0u); }

    // The debug text handed to the log service under the tag "EVENT", one
    // string per print call.
    static std::vector<std::string> eventTexts()
    {
        std::vector<std::string> out;
        for (const auto& c : plat::testing::callsNamed("vsyslog2")) {
            const auto* rec = std::any_cast<plat::LogRecord>(&c.payload);
            if (rec != nullptr && rec->tag == "EVENT") out.push_back(rec->text);
        }
        return out;
    }

    // A learned entry whose B-MAC's last byte tells it apart from every
    // other one; the driver's deletion records are read back through it.
    void learnTagged(const ctltest::Uc& e)
    {
        learn(e);
        tagged_[std::get<2>(e)] = e;
    }
    // The tagged entries the driver was asked to delete since the call
    // numbered `since`, in the order asked.
    std::vector<ctltest::Uc> deletedSince(uint64_t since) const
    {
        std::vector<ctltest::Uc> out;
        for (const sim::ProgramCall* c : sw->programCalls().since(since)) {
            if (c->call != "L2VPN_DelMinMEntry" || !c->minm) continue;
            auto it = tagged_.find(c->minm->entry.aucBMac[5]);
            if (it != tagged_.end()) out.push_back(it->second);
        }
        return out;
    }

    std::map<uint8_t, ctltest::Uc> tagged_;
};

}  // namespace evtest
