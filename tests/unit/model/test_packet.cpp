// Frames on the wire and through the packet socket: 802.1ah layout, the
// address and control records, when frames reach the CPU, and the calls.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <tuple>
#include <vector>

#include "model_test.h"
#include "platform/l2vpn.h"
#include "platform/model/pbb_frame.h"
#include "platform/pktsock.h"

namespace {

const sim::PbbFrame kFrame{.bda = {0x01, 0x1e, 0x83, 0x00, 0x00, 0x64},
                           .bsa = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55},
                           .bvid = 30,
                           .bpcp = 5,
                           .itagFlags = 0x40,
                           .isid = 0x012345,
                           .cda = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
                           .csa = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09},
                           .rest = {0x08, 0x06, 0xaa}};

uint32_t onEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

struct Received {
    ssize_t n = -1;
    PKT_SOCKADDR_S addr{};
    socklen_t addrLen = 0;
    PKT_CTRL_S ctrl{};
    size_t ctrlLen = 0;
    int flags = 0;
    std::vector<uint8_t> data;
};

Received receive(int fd, size_t dataRoom = 4096, size_t ctrlRoom = sizeof(PKT_CTRL_S))
{
    Received r;
    r.data.resize(dataRoom);
    iovec iov{r.data.data(), r.data.size()};
    alignas(8) uint8_t ctrl[64];
    msghdr msg{};
    msg.msg_name = &r.addr;
    msg.msg_namelen = sizeof r.addr;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = ctrl;
    msg.msg_controllen = ctrlRoom;
    r.n = PKT_RecvMsg(fd, &msg, MSG_DONTWAIT);
    r.addrLen = msg.msg_namelen;
    r.ctrlLen = msg.msg_controllen;
    if (r.ctrlLen >= sizeof r.ctrl) std::memcpy(&r.ctrl, ctrl, sizeof r.ctrl);
    r.flags = msg.msg_flags;
    r.data.resize(r.n > 0 ? static_cast<size_t>(r.n) : 0);
    return r;
}

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

TEST(PbbFrame, WireLayoutAndRoundTrip)
{
    std::vector<uint8_t> b = sim::encodeFrame(kFrame);
    ASSERT_EQ(b.size(), 6u + 6 + 4 + 2 + 4 + 12 + 3);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 12, b.begin() + 22),
              (std::vector<uint8_t>{0x88, 0xa8, 0xa0, 0x1e, 0x88, 0xe7, 0x40, 0x01, 0x23, 0x45}))
        << "B-Tag with PCP 5 and B-VID 30, I-Tag flags and I-SID";
    auto back = sim::decodeFrame(b);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(std::make_tuple(back->isid, back->bvid, back->bsa, back->csa, back->rest),
              std::make_tuple(kFrame.isid, kFrame.bvid, kFrame.bsa, kFrame.csa, kFrame.rest));
    b[16] = 0x08;  // not an I-Tag
    EXPECT_FALSE(sim::decodeFrame(b).has_value());
    EXPECT_EQ(sim::groupAddress(4096), (sim::Mac{0x01, 0x1e, 0x83, 0x00, 0x10, 0x00}));
}

// A copied frame arrives with address, control record and the data from the
// I-Tag on; member ports' frames carry the aggregate.
TEST_F(Packets, CopiedFrameArrivesWithAddressControlAndData)
{
    openSocket();
    EXPECT_FALSE(pbbtest::readable(fd));
    ASSERT_TRUE(sw->receiveFrame(p2, kFrame));
    ASSERT_TRUE(pbbtest::readable(fd));
    Received r = receive(fd);
    ASSERT_EQ(r.n, 16 + 3);
    EXPECT_EQ(std::make_tuple(r.addrLen, r.addr.ucLen, r.addr.ucFamily, r.addr.usEtherType, r.addr.usVlanId),
              std::make_tuple(socklen_t{52}, uint8_t{52}, uint8_t{PKT_AF_PACKET}, uint16_t{PKT_ETHERTYPE_ITAG}, uint16_t{30}));
    EXPECT_EQ(0, std::memcmp(r.addr.aucSrcMac, kFrame.bsa.data(), 6));
    EXPECT_EQ(0, std::memcmp(r.addr.aucDstMac, kFrame.bda.data(), 6));
    ASSERT_EQ(r.ctrlLen, 16u);
    EXPECT_EQ(std::make_tuple(r.ctrl.uiLen, r.ctrl.uiLevel, r.ctrl.uiType, r.ctrl.uiIfIndex),
              std::make_tuple(16u, static_cast<uint32_t>(PKT_SOL_PACKET), PKT_CTRL_IFINDEX, p2));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0x40, 0x01, 0x23, 0x45, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0x00,
                                            0x00, 0x00, 0x00, 0x09, 0x08, 0x06, 0xaa}));
    EXPECT_EQ(r.flags, 0);
    EXPECT_FALSE(pbbtest::readable(fd));
    EXPECT_EQ(receive(fd).n, -1);
    EXPECT_EQ(errno, EAGAIN);
    sw->joinAggregate(agg, p1);
    ASSERT_TRUE(sw->receiveFrame(p1, kFrame));
    EXPECT_EQ(receive(fd).ctrl.uiIfIndex, agg);
}

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
    EXPECT_FALSE(pbbtest::readable(fd));
    auto d = sim::cpuCopy(p1, sim::encodeFrame(kFrame));
    ASSERT_TRUE(d.has_value());
    d->addr.usEtherType = 0x0800;
    EXPECT_EQ(plat::inproc::deliverDatagram(sim::packDatagram(*d)), 0u);
    int one = 1;
    PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_RECV_ALL, &one, sizeof one);
    EXPECT_EQ(plat::inproc::deliverDatagram(sim::packDatagram(*d)), 1u) << "a socket receiving all takes it";
    EXPECT_FALSE(pbbtest::readable(unbound));
    ::close(unbound);
}

TEST_F(Packets, ControlRecordOptionAndTruncation)
{
    openSocket(0);
    sw->receiveFrame(p1, kFrame);
    Received r = receive(fd);
    EXPECT_EQ(r.n, 19);
    EXPECT_EQ(r.ctrlLen, 0u) << "no control record unless asked for";
    int one = 1;
    PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_IFINDEX_CTRL, &one, sizeof one);
    sw->receiveFrame(p1, kFrame);
    r = receive(fd, 8, 8);
    EXPECT_EQ(std::make_tuple(r.n, r.ctrlLen, r.flags), std::make_tuple(ssize_t{8}, size_t{0}, MSG_TRUNC | MSG_CTRUNC));
}

TEST_F(Packets, CallsRefuseWhatTheFamilyDoesNotOfferAndTheServiceGoingAwayHangsUp)
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
    // A closed socket is forgotten; the service going away hangs up.
    ::close(fd);
    EXPECT_TRUE(sw->receiveFrame(p1, kFrame)) << "the CPU copy is made";
    EXPECT_EQ(plat::inproc::deliverDatagram(sim::packDatagram(*sim::cpuCopy(p1, sim::encodeFrame(kFrame)))), 0u);
    openSocket();
    sw->setServiceUp(sim::Service::Packet, false);
    EXPECT_TRUE(pbbtest::hungUp(fd));
    EXPECT_EQ(PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY), -1);
    EXPECT_EQ(errno, ENETDOWN);
    sw->setServiceUp(sim::Service::Packet, true);
    ::close(fd);
    openSocket();
    EXPECT_TRUE(sw->receiveFrame(p1, kFrame));
    EXPECT_TRUE(pbbtest::readable(fd));
}

}  // namespace
