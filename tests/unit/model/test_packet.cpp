// Frames through the packet socket: when frames reach the CPU, and the
// calls. The 802.1ah layout is checked through the commands that build
// frames, the fields of a copied frame end to end by the frame system
// tests, and what the daemon reads by its packet-socket tests.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "model_test.h"
#include "platform/l2vpn.h"
#include "platform/model/pbb_frame.h"
#include "platform/pktsock.h"
#include "support/tempdir.h"

namespace {

const sim::PbbFrame kFrame{.bda = {0x01, 0x1e, 0x83, 0, 0, 0x64}, .bsa = {0, 0x11, 0x22, 0x33, 0x44, 0x55}, .bvid = 30,
                           .bpcp = 5, .itagFlags = 0x40, .isid = 0x012345, .cda = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
                           .csa = {2, 0, 0, 0, 0, 9}, .rest = {0x08, 0x06, 0xaa}};

uint32_t onEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

class Packets : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        sw->addSlot(1, {.minm = true});
        p1 = sw->addPort("eth-1/0/1", 1);
        p2 = sw->addPort("eth-1/0/2", 1);
        agg = sw->addAggregate("agg-1");
        l2vpn = L2VPN_Register(0, 27, L2VPN_CLIENT_MINM, onEvent);
        L2VPN_SetInterface(l2vpn, p1, L2VPN_IF_PBB_ENABLE);
        L2VPN_SetInterface(l2vpn, p2, L2VPN_IF_PBB_ENABLE);
    }
    void TearDown() override
    {
        if (fd >= 0) ::close(fd);
        ModelTest::TearDown();
    }

    // Opens and sets up the socket as the daemon does.
    void openSocket(int ctrlOption = 1)
    {
        fd = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
        ASSERT_GE(fd, 0);
        PKT_SOCKADDR_S addr{};
        addr.ucLen = sizeof addr;
        addr.ucFamily = PKT_AF_PACKET;
        addr.usSelect = 1;
        addr.usMode = 1;
        addr.usEtherType = PKT_ETHERTYPE_ITAG;
        addr.usHwType = 128;
        addr.usPktType = 1;
        addr.uiFlags = 1;
        ASSERT_EQ(PKT_Bind(fd, &addr, sizeof addr), 0);
        int zero = 0, buf = 204800;
        ASSERT_EQ(PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_RECV_ALL, &zero, sizeof zero), 0);
        ASSERT_EQ(PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_IFINDEX_CTRL, &ctrlOption, sizeof ctrlOption), 0);
        ASSERT_EQ(PKT_SetSockOpt(fd, PKT_SOL_SOCKET, PKT_SO_RCVBUF, &buf, sizeof buf), 0);
    }

    uint32_t p1 = 0, p2 = 0, agg = 0;
    int l2vpn = -1;
    int fd = -1;
};

TEST_F(Packets, OnlyWellFormedFramesOnUpPbbPortsReachSocketsBoundToTheirEtherType)
{
    int unbound = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    ASSERT_GE(unbound, 0);
    openSocket();
    std::vector<uint8_t> shortFrame = sim::encodeFrame(kFrame), plain = shortFrame;
    shortFrame.resize(18 + 15);
    EXPECT_FALSE(sw->receiveFrame(p1, shortFrame)) << "customer addresses incomplete";
    plain[16] = 0x08, plain[17] = 0x00;
    EXPECT_FALSE(sw->receiveFrame(p1, plain)) << "not I-tagged";
    L2VPN_SetInterface(l2vpn, p2, L2VPN_IF_PBB_DISABLE);
    EXPECT_FALSE(sw->receiveFrame(p2, kFrame)) << "PBB mode off";
    sw->setLink(p1, false);
    EXPECT_FALSE(sw->receiveFrame(p1, kFrame)) << "link down";
    EXPECT_FALSE(pbbtest::waitReadable(fd, 0));
    auto d = sim::cpuCopy(p1, sim::encodeFrame(kFrame));
    ASSERT_TRUE(d.has_value());
    d->addr.usEtherType = 0x0800;
    EXPECT_EQ(plat::inproc::deliverDatagram(sim::packDatagram(*d)), 0u);
    int one = 1;
    PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_RECV_ALL, &one, sizeof one);
    EXPECT_EQ(plat::inproc::deliverDatagram(sim::packDatagram(*d)), 1u) << "a socket receiving all takes it";
    EXPECT_FALSE(pbbtest::waitReadable(unbound, 0));
    ::close(unbound);
}

TEST_F(Packets, CallsRefuseWhatTheFamilyDoesNotOfferAndTheControlRecordComesOnlyWhenAskedFor)
{
    EXPECT_EQ(PKT_Socket(2, SOCK_RAW, PKT_PROTO_CPU_COPY), -1);
    EXPECT_EQ(errno, EAFNOSUPPORT);
    EXPECT_EQ(PKT_Socket(PKT_AF_PACKET, SOCK_DGRAM, PKT_PROTO_CPU_COPY), -1);
    openSocket();
    PKT_SOCKADDR_S addr{};
    addr.ucLen = sizeof addr;
    addr.ucFamily = 2;
    EXPECT_EQ(PKT_Bind(fd, &addr, sizeof addr), -1);
    EXPECT_EQ(PKT_Bind(fd, &addr, 16), -1);
    int v = 1;
    EXPECT_EQ(PKT_SetSockOpt(fd, PKT_SOL_PACKET, 9, &v, sizeof v), -1);
    EXPECT_EQ(errno, ENOPROTOOPT);
    EXPECT_EQ(PKT_SetSockOpt(0x7fff, PKT_SOL_PACKET, PKT_OPT_RECV_ALL, &v, sizeof v), -1);
    // A closed socket is forgotten. (The service going away and coming back
    // is what the daemon's packet-socket tests go through.)
    ::close(fd);
    fd = -1;
    EXPECT_TRUE(sw->receiveFrame(p1, kFrame)) << "the CPU copy is made";
    EXPECT_EQ(plat::inproc::deliverDatagram(sim::packDatagram(*sim::cpuCopy(p1, sim::encodeFrame(kFrame)))), 0u);

    // The control record (the port a frame came in on) comes only to a
    // socket that asked for it.
    for (int asked : {0, 1}) {
        openSocket(asked);
        ASSERT_TRUE(sw->receiveFrame(p1, kFrame));
        uint8_t data[256];
        PKT_CTRL_S ctrl{};
        iovec iov{data, sizeof data};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = &ctrl;
        msg.msg_controllen = sizeof ctrl;
        ASSERT_GT(PKT_RecvMsg(fd, &msg, MSG_DONTWAIT), 0);
        EXPECT_EQ(msg.msg_controllen, asked ? sizeof ctrl : 0u) << asked;
        EXPECT_EQ(ctrl.uiIfIndex, asked ? p1 : 0u) << asked;
        ::close(fd);
    }
    fd = -1;
}

}  // namespace
