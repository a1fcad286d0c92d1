// Connections over their life: a simulator that ends and comes back, and
// one that is not there at all. (One daemon at a time, and the next daemon
// finding the switch as the last one left it, are the start-up and restart
// system tests'.)
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/model/backend.h"
#include "platform/model/inproc.h"
#include "platform/pktsock.h"
#include "platform/result.h"
#include "platform/settings.h"
#include "platform/testing.h"
#include "platform/transport/paths.h"
#include "platform/transport/unix_io.h"
#include "support/logread.h"
#include "unit/transport/sim_child.h"

namespace {

uint32_t ignoreL2vpn(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }
uint32_t ignoreLink(uint32_t, IF_EVENT_S*, uint32_t) { return 0; }

class Lifecycle : public pbbtest::TransportTest {
protected:
    static int registerL2vpn() { return L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreL2vpn); }
};

// Connections the listener holds and nobody took.
size_t pendingConnections(int listener)
{
    size_t n = 0;
    while (plat::UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)).valid()) ++n;
    return n;
}

// A daemon without a switch: services away, registrations refused, no
// hang; then a switch that comes, ends and comes back.
TEST_F(Lifecycle, WithoutTheSimulatorServicesAreAwayAndItsComingIsNoticed)
{
    connect();
    EXPECT_EQ(IF_Event_Init(), -1);
    EXPECT_EQ(registerL2vpn(), -1);
    EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"cannot reach the simulated switch at"}).size(), 1u)
        << "a repeated failure is logged once";

    auto sim = std::make_unique<pbbtest::SimChild>();
    int ifFd = IF_Event_Init();
    ASSERT_GE(ifFd, 0);
    ASSERT_NE(IF_RegLinkEvent(1, IF_EVT_LINK_UP | IF_EVT_LINK_DOWN, 64, 32, ignoreLink, 0), 0u);
    int l2vpn = registerL2vpn();
    ASSERT_GE(l2vpn, 0);

    sim->kill();
    EXPECT_TRUE(pbbtest::waitFor(ifFd, POLLHUP));
    EXPECT_TRUE(pbbtest::waitFor(l2vpn, POLLHUP));
    IF_Event_Fini(ifFd);
    EXPECT_EQ(IF_Event_Init(), -1);
    uint32_t type = 0;
    EXPECT_EQ(IF_GetDataByIfIndex(1, IF_DATA_TYPE, &type), PLAT_ERR_NOT_FOUND);
    EXPECT_EQ(L2VPN_FlushPwEntry(l2vpn), PLAT_ERR_UNAVAILABLE);
    errno = 0;
    EXPECT_EQ(PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY), -1);
    EXPECT_EQ(errno, ENETDOWN);
    EXPECT_FALSE(pbbtest::grepLines(dirs.logFile(), {"lost the simulated switch"}).empty());

    sim = std::make_unique<pbbtest::SimChild>();
    ifFd = IF_Event_Init();
    EXPECT_GE(ifFd, 0);
    EXPECT_EQ(IF_GetDataByIfIndex(1, IF_DATA_TYPE, &type), PLAT_OK);
    L2VPN_Deregister(l2vpn);
    EXPECT_GE(registerL2vpn(), 0);
}

// A simulator that takes connections and never answers costs the daemon
// one reply timeout, not one per call that asks for a service: the calls
// after it fail at once, without connecting again.
TEST_F(Lifecycle, ASimulatorThatNeverAnswersIsNotAskedAgainAtOnce)
{
    ASSERT_TRUE(plat::ensureDir(plat::runDir()));
    plat::UniqueFd listener = plat::transport::listenUnix(plat::transport::simSocketPath(), SOCK_STREAM);
    ASSERT_TRUE(listener.valid());
    connect();
    EXPECT_EQ(IF_Event_Init(), -1);
    EXPECT_EQ(registerL2vpn(), -1);
    EXPECT_EQ(pendingConnections(listener.get()), 1u);
    EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"could not connect to the simulated switch: no answer from the "
                                                  "simulator within 5000 ms; trying again in 5 s"})
                  .size(),
              1u);
    // A daemon starting so gives up with the failure, not the wait.
    EXPECT_EQ(plat::backend().startupProblem(),
              "could not connect to the simulated switch: no answer from the simulator within 5000 ms");
}

// The same for a simulator that stops answering during a session: the call
// that waited in vain ends the session, and the next ones do not connect.
TEST_F(Lifecycle, ASimulatorThatStopsAnsweringIsNotAskedAgainAtOnce)
{
    pbbtest::SimChild sim;
    connect();
    int l2vpn = registerL2vpn();
    ASSERT_GE(l2vpn, 0);
    int status = 0;
    ASSERT_TRUE(::kill(sim.pid(), SIGSTOP) == 0 && ::waitpid(sim.pid(), &status, WUNTRACED) == sim.pid());
    EXPECT_EQ(L2VPN_SetInterface(l2vpn, 1, L2VPN_IF_PBB_ENABLE), PLAT_ERR_UNAVAILABLE);
    EXPECT_EQ(IF_Event_Init(), -1);
    EXPECT_EQ(registerL2vpn(), -1);
    EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"lost the simulated switch: no answer from the simulator within "
                                                  "5000 ms; trying again in 5 s"})
                  .size(),
              1u);
    EXPECT_TRUE(pbbtest::grepLines(dirs.logFile(), {"could not connect to the simulated switch"}).empty());
    (void)::kill(sim.pid(), SIGCONT);
}

}  // namespace
