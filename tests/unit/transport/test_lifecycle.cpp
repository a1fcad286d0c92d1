// Connections over their life: a simulator that ends and comes back, and
// one that is not there at all. (One daemon at a time, and the next daemon
// finding the switch as the last one left it, are the start-up and restart
// system tests'.)
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/model/inproc.h"
#include "platform/pktsock.h"
#include "platform/result.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "unit/transport/sim_child.h"

namespace {

uint32_t ignoreL2vpn(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }
uint32_t ignoreLink(uint32_t, IF_EVENT_S*, uint32_t) { return 0; }

class Lifecycle : public pbbtest::TransportTest {
protected:
    static int registerL2vpn() { return L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreL2vpn); }
};

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

}  // namespace
