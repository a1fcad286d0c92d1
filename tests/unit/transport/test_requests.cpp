// What the daemon asks of the switch over the socket transport: forwarding
// programming with the driver's answers, faults armed from pbb-simctl, and
// frames injected into the daemon's packet socket.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/l2vpn.h"
#include "platform/model/inproc.h"
#include "platform/pktsock.h"
#include "platform/result.h"
#include "platform/testing.h"
#include "platform/vlan.h"
#include "unit/transport/sim_child.h"

namespace {

using nlohmann::json;

uint32_t ignoreVsiEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

L2VPN_MINM_ENTRY_S entry(uint32_t vsi, uint32_t isid, uint8_t last, uint32_t bvlan, uint32_t* port = nullptr)
{
    L2VPN_MINM_ENTRY_S e{};
    e.uiVsiIndex = vsi;
    e.uiISid = isid;
    const uint8_t bmac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, last}, cmac[6] = {0x02, 0, 0, 0, 0, last};
    std::memcpy(e.aucBMac, bmac, 6);
    std::memcpy(e.aucCMac, cmac, 6);
    e.uiAllOnes = 0xFFFFFFFF;
    e.usAllOnes = 0xFFFF;
    e.uiEntryFlags = 0x5;
    e.uiBVlan = bvlan;
    e.uiPortNum = port != nullptr ? 1 : 0;
    e.puiPortList = port;
    return e;
}

// A day of forwarding programming, good and refused; the results in order.
std::vector<uint32_t> program()
{
    std::vector<uint32_t> rc;
    int fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreVsiEvent);
    rc.push_back(fd >= 0 ? 0 : 1);
    auto uc = [&](uint32_t vsi, uint8_t last, uint32_t port) {
        L2VPN_MINM_ENTRY_S e = entry(vsi, 10000 + vsi, last, 100, &port);
        rc.push_back(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e));
    };
    for (auto [vsi, last, port] : {std::tuple{1u, 1, 1u}, {1u, 2, 2u}, {2u, 3, 4u}, {77u, 4, 1u} /* no such VSI */, {1u, 5, 9999u}})
        uc(vsi, uint8_t(last), port);  // the last: no such port
    rc.push_back(L2VPN_FlushPwEntry(fd));
    uint32_t ports[3] = {1, 2, 4};
    L2VPN_MINM_ENTRY_S mc = entry(1, 10010, 0xEE, 100);
    mc.uiPortNum = 3;
    mc.puiPortList = ports;
    rc.push_back(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_MC, &mc));
    L2VPN_MINM_ENTRY_S del = entry(1, 10010, 2, 100);
    rc.push_back(L2VPN_DelMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_DEL_UC, &del));
    rc.push_back(L2VPN_DelMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &del));  // wrong call for the operation
    rc.push_back(L2VPN_SetInterface(fd, 1, L2VPN_IF_PBB_ENABLE));
    rc.push_back(L2VPN_SetInterface(fd, 7, L2VPN_IF_PBB_ENABLE));  // slot 3 has no MAC-in-MAC
    uint32_t encap = 5;
    rc.push_back(L2VPN_SetVSI(fd, 2, L2VPN_VSI_ATTR_ENCAP, &encap));
    rc.push_back(L2VPN_SetVSI(fd, 2, 9, &encap));
    rc.push_back(L2VPN_SendGrEvent(fd, L2VPN_CLIENT_MINM, L2VPN_GR_BEGIN));
    uc(2, 3, 4);
    rc.push_back(L2VPN_SendGrEvent(fd, L2VPN_CLIENT_MINM, 7));
    rc.push_back(L2VPN_SendGrEvent(fd, L2VPN_CLIENT_MINM, L2VPN_GR_END));
    rc.push_back(L2VPN_FlushPwEntry(fd));
    rc.push_back(L2VPN_RequestBatch(fd, 3));
    return rc;
}

std::string shown(const std::function<std::string(const std::vector<std::string>&)>& show)
{
    std::string all;
    for (const char* w : {"show unicast", "show unicast --staged", "show multicast", "show pbb-ports", "show encap"})
        all += show(simcmd::split(w));
    return all;
}

using Requests = pbbtest::TransportTest;

TEST_F(Requests, ForwardingProgrammingGivesTheDriversAnswersAndState)
{
    auto& ref = plat::inproc::reset();
    ASSERT_EQ(simcmd::loadTopology(ref, simcmd::defaultTopology(), "reference").status, 0);
    auto expected = program();
    auto expectedState = shown([&](const auto& w) { return simcmd::run(ref, nullptr, w, true).out; });

    pbbtest::SimChild sim;
    connect();
    EXPECT_EQ(program(), expected);
    EXPECT_EQ(shown([](const auto& w) { return pbbtest::simctl(w, true).out; }), expectedState);
}

TEST_F(Requests, FaultsArmedFromTheSimulatorFailTheDaemonsCalls)
{
    pbbtest::SimChild sim;
    // Armed before the daemon connects: handed over with the snapshot.
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"fail", "VLAN_GetMaxVlanID", "--result", "9", "--times", "2"}));
    connect();
    EXPECT_EQ(VLAN_GetMaxVlanID(), 9);
    EXPECT_EQ(VLAN_GetMaxVlanID(), 9);
    EXPECT_EQ(VLAN_GetMaxVlanID(), 4094);

    int fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreVsiEvent);
    ASSERT_GE(fd, 0);
    ASSERT_NO_FATAL_FAILURE(pbbtest::must(simcmd::split("fail L2VPN_AddMinMEntry --result 4 --times 0")));
    uint32_t port = 1;
    L2VPN_MINM_ENTRY_S e = entry(1, 10010, 1, 100, &port);
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_NO_RESOURCE);
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_NO_RESOURCE);
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"fail", "clear"}));
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e), PLAT_OK);
}

// The packet socket opened and set up as the daemon does it.
int openPacketSocket()
{
    int fd = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    if (fd < 0) return fd;
    PKT_SOCKADDR_S addr{};
    addr.ucLen = sizeof addr;
    addr.ucFamily = PKT_AF_PACKET;
    addr.usEtherType = PKT_ETHERTYPE_ITAG;
    int one = 1;
    if (PKT_Bind(fd, &addr, sizeof addr) != 0 ||
        PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_IFINDEX_CTRL, &one, sizeof one) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A burst larger than a socket holds arrives whole, in order: injection
// waits while the daemon has frames to read. Before the daemon reads, the
// injector stops within one step of the socket becoming full. (The frames'
// fields are checked end to end by the system tests.)
TEST_F(Requests, ABurstLargerThanTheSocketHoldsArrivesWholeAndInOrder)
{
    pbbtest::SimChild sim;
    connect();
    int l2vpn = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreVsiEvent);
    ASSERT_EQ(L2VPN_SetInterface(l2vpn, 1, L2VPN_IF_PBB_ENABLE), PLAT_OK);
    int fd = openPacketSocket();
    ASSERT_GE(fd, 0);
    const int count = 20000;
    ASSERT_NO_FATAL_FAILURE(pbbtest::must(simcmd::split("frame burst 1 20000 --isid 10010 --bsa 00:bb:00:00:00:00 --bvlan 100")));
    json frames;
    ASSERT_TRUE(pbbtest::eventually([&] { return (frames = pbbtest::simStats()["frames"])["queued"] != 0; })) << frames.dump();
    ASSERT_LE(frames["queued"].get<size_t>(), pbbsim::Injector::kStepMax) << frames.dump();
    EXPECT_GT(frames["waiting"].get<int>(), 0) << frames.dump();
    EXPECT_EQ(frames["dropped"], 0) << frames.dump();
    for (int got = 0; got < count; ++got) {
        ASSERT_TRUE(pbbtest::waitFor(fd, POLLIN)) << "after " << got << " frames";
        PKT_SOCKADDR_S addr{};
        uint8_t buf[256];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_name = &addr;
        msg.msg_namelen = sizeof addr;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ASSERT_GT(PKT_RecvMsg(fd, &msg, MSG_DONTWAIT), 0);
        ASSERT_EQ(addr.aucSrcMac[4] << 8 | addr.aucSrcMac[5], got) << "frame " << got;
    }
    auto stats = pbbtest::simStats()["frames"];
    EXPECT_EQ(stats["dropped"], 0);
    EXPECT_EQ(stats["delivered"], count);
    ::close(fd);
}

}  // namespace
