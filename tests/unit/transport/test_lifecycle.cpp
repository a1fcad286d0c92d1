// Connections over their life: one daemon at a time, a new one after the
// old went away with its registrations, a simulator that ends and comes
// back, services that go away, and clients that misbehave.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/model/inproc.h"
#include "platform/pktsock.h"
#include "platform/result.h"
#include "platform/testing.h"
#include "platform/transport/unix_io.h"
#include "platform/transport/wire.h"
#include "support/logread.h"
#include "unit/transport/sim_child.h"

namespace {

using plat::wire::Msg;

uint32_t onL2vpn(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }
uint32_t onLink(uint32_t, IF_EVENT_S*, uint32_t) { return 0; }

class Lifecycle : public pbbtest::TransportTest {
protected:
    static int registerL2vpn() { return L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, onL2vpn); }
};

TEST_F(Lifecycle, ASecondDaemonIsRefusedWhileTheFirstIsServed)
{
    pbbtest::SimChild sim;
    connect();
    ASSERT_GE(registerL2vpn(), 0);
    plat::transport::Link second;
    EXPECT_FALSE(second.ensure());
    EXPECT_FALSE(second.connected());
    EXPECT_EQ(pbbtest::simStats()["refused"], 1);
    auto said = pbbtest::grepLines(dirs.logFile(), {"refused this process", "pbb-sim serves another daemon (pid " +
                                                                                std::to_string(::getpid()) + ")"});
    EXPECT_EQ(said.size(), 1u);
    // The first one is served as before.
    int fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, onL2vpn);
    EXPECT_EQ(fd, -1) << "one registration at a time";
    uint32_t max = 0, used = 0;
    EXPECT_EQ(L2VPN_GetMaxVsiNum(&max, &used), PLAT_OK);
    EXPECT_EQ(used, 4u);
}

TEST_F(Lifecycle, ANewDaemonIsServedAfterTheOldOneLeftAndItsRegistrationsEndedWithIt)
{
    pbbtest::SimChild sim;
    connect();
    int fd = registerL2vpn();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(L2VPN_SetInterface(fd, 1, L2VPN_IF_PBB_ENABLE), PLAT_OK);
    // The daemon goes; the switch keeps what it programmed.
    plat::inproc::reset();
    connect();
    EXPECT_GE(registerL2vpn(), 0) << "the old registration ended with its connection";
    EXPECT_EQ(pbbtest::simStats()["sessions"], 2);
    auto ports = nlohmann::json::parse(pbbtest::simctl({"show", "pbb-ports"}, true).out)["pbbPorts"];
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0]["ifIndex"], 1);
}

TEST_F(Lifecycle, WithoutTheSimulatorServicesAreAwayAndItsReturnIsNoticed)
{
    auto sim = std::make_unique<pbbtest::SimChild>();
    connect();
    int ifFd = IF_Event_Init();
    ASSERT_GE(ifFd, 0);
    ASSERT_NE(IF_RegLinkEvent(1, IF_EVT_LINK_UP | IF_EVT_LINK_DOWN, 64, 32, onLink, 0), 0u);
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

TEST_F(Lifecycle, AServiceGoingAwayHangsUpItsDescriptorsAndComesBack)
{
    pbbtest::SimChild sim;
    connect();
    int l2vpn = registerL2vpn();
    ASSERT_GE(l2vpn, 0);
    int pkt = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    ASSERT_GE(pkt, 0);
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"service", "down", "l2vpn"}));
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"service", "down", "packet"}));
    EXPECT_TRUE(pbbtest::waitFor(l2vpn, POLLHUP));
    EXPECT_TRUE(pbbtest::waitFor(pkt, POLLHUP));
    ::close(pkt);
    EXPECT_EQ(L2VPN_Deregister(l2vpn), PLAT_OK);
    EXPECT_EQ(registerL2vpn(), -1);
    EXPECT_EQ(PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY), -1);
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"service", "up", "l2vpn"}));
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"service", "up", "packet"}));
    l2vpn = registerL2vpn();
    EXPECT_GE(l2vpn, 0);
    pkt = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    EXPECT_GE(pkt, 0);
    ::close(pkt);
}

// A raw client of the daemons' socket, past the introduction.
plat::UniqueFd rawClient()
{
    plat::UniqueFd fd = plat::transport::connectUnix(plat::transport::simSocketPath(), SOCK_STREAM, false);
    if (!fd.valid()) return fd;
    // The introduction and snapshot come first; read up to SnapshotEnd.
    plat::wire::Deframer in;
    std::deque<plat::UniqueFd> fds;
    std::vector<uint8_t> buf(65536);
    for (;;) {
        Msg t;
        std::vector<uint8_t> payload;
        while (in.next(t, payload))
            if (t == Msg::SnapshotEnd) return fd;
        if (!pbbtest::waitFor(fd.get(), POLLIN)) return plat::UniqueFd();
        ssize_t n = plat::transport::recvWithFds(fd.get(), buf, fds, 0);
        if (n <= 0) return plat::UniqueFd();
        in.feed(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)));
    }
}

bool closedByPeer(int fd)
{
    if (!pbbtest::waitFor(fd, POLLIN | POLLHUP)) return false;
    char c;
    return ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

TEST_F(Lifecycle, ClientsThatMisbehaveAreDroppedAndDisturbNothing)
{
    pbbtest::SimChild sim;
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"link", "down", "eth-1/0/2"}));
    {
        // Half a request, then gone.
        auto c = rawClient();
        ASSERT_TRUE(c.valid());
        auto req = plat::wire::frame(Msg::Ping, std::vector<uint8_t>{1, 0, 0, 0});
        ASSERT_EQ(::send(c.get(), req.data(), 5, MSG_NOSIGNAL), 5);
    }
    {
        // A registration, then gone in the middle of the next request.
        auto c = rawClient();
        ASSERT_TRUE(c.valid());
        plat::wire::Writer w;
        w.u32(1);
        plat::wire::put(w, sim::Subscription{.kind = sim::EventKind::L2vpn, .mask = 27, .client = L2VPN_CLIENT_MINM});
        auto req = plat::wire::frame(Msg::Subscribe, w.bytes());
        ASSERT_EQ(::send(c.get(), req.data(), req.size(), MSG_NOSIGNAL), static_cast<ssize_t>(req.size()));
        ASSERT_TRUE(pbbtest::waitFor(c.get(), POLLIN));
        auto half = plat::wire::frame(Msg::Flush, std::vector<uint8_t>{2, 0, 0, 0});
        ASSERT_EQ(::send(c.get(), half.data(), 9, MSG_NOSIGNAL), 9);
    }
    {
        // Garbage: a header that cannot be right.
        auto c = rawClient();
        ASSERT_TRUE(c.valid());
        const char junk[] = "GET / HTTP/1.0\r\n\r\n";
        ASSERT_GT(::send(c.get(), junk, sizeof junk, MSG_NOSIGNAL), 0);
        EXPECT_TRUE(closedByPeer(c.get()));
    }
    {
        // A request that ends early, and one of an unknown type.
        for (Msg type : {Msg::Subscribe, static_cast<Msg>(999)}) {
            auto c = rawClient();
            ASSERT_TRUE(c.valid());
            auto req = plat::wire::frame(type, std::vector<uint8_t>{3, 0, 0, 0, 1});
            ASSERT_EQ(::send(c.get(), req.data(), req.size(), MSG_NOSIGNAL), static_cast<ssize_t>(req.size()));
            EXPECT_TRUE(closedByPeer(c.get()));
        }
    }
    EXPECT_EQ(pbbtest::simStats()["broken"], 3);
    // The switch is as it was, and a daemon is served, registrations and all.
    connect();
    uint32_t link = 0;
    EXPECT_EQ(IF_GetDataByIfIndex(2, IF_DATA_LINK_STATE, &link), PLAT_OK);
    EXPECT_EQ(link, IF_LINK_DOWN);
    EXPECT_GE(registerL2vpn(), 0);
}

TEST_F(Lifecycle, ControlClientSaysPlainlyWhenNoSimulatorRuns)
{
    auto r = pbbtest::simctl({"show", "stats"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "pbb-sim is not running (no control socket at " + plat::transport::controlSocketPath() + ")");
    // A daemon without a switch: services away, registrations refused, no hang.
    connect();
    EXPECT_EQ(IF_Event_Init(), -1);
    EXPECT_EQ(registerL2vpn(), -1);
    EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"cannot reach the simulated switch at"}).size(), 1u)
        << "a repeated failure is logged once";
}

}  // namespace
