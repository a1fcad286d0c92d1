// Frames from a real Linux interface: the outer tag the kernel strips comes
// back from the auxiliary data, for 0x88A8 and 0x8100 B-tags alike; only
// I-tagged frames are taken. The link test runs on a veth pair inside a
// network namespace of its own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/model/pbb_frame.h"
#include "tools/simcmd/link_capture.h"

namespace {

using simcmd::Frame;

TEST(RestoreTag, PutsTheStrippedTagBackAfterTheSourceMac)
{
    Frame stripped = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x88, 0xe7, 0xaa};
    Frame want = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x88, 0xa8, 0x20, 0x64, 0x88, 0xe7, 0xaa};
    EXPECT_EQ(simcmd::restoreTag(stripped, {.present = true, .tpid = 0x88a8, .tci = 0x2064}), want);
    Frame want8100 = want;
    want8100[12] = 0x81;
    want8100[13] = 0x00;
    EXPECT_EQ(simcmd::restoreTag(stripped, {.present = true, .tpid = 0x8100, .tci = 0x2064}), want8100);
}

TEST(RestoreTag, LeavesAFrameWithoutAStrippedTagAlone)
{
    Frame f = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x88, 0xa8, 0, 1};
    EXPECT_EQ(simcmd::restoreTag(f, {}), f);
    Frame runt = {1, 2, 3};
    EXPECT_EQ(simcmd::restoreTag(runt, {.present = true, .tpid = 0x88a8, .tci = 1}), runt);
}

TEST(LinkCaptureOpen, NamesTheMissingInterfaceOrNamespace)
{
    if (::geteuid() != 0) GTEST_SKIP() << "packet sockets need root";
    try {
        simcmd::LinkCapture c("no-such-if0");
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("no-such-if0"), std::string::npos) << e.what();
    }
    try {
        simcmd::LinkCapture c("lo", "simcmd-no-such-ns");
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("simcmd-no-such-ns"), std::string::npos) << e.what();
    }
}

// A network namespace with a veth pair a<->b, both up; removed with
// everything in it when the test ends.
class VethPair : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
        if (std::system("command -v ip >/dev/null 2>&1") != 0) GTEST_SKIP() << "the ip tool is not installed";
        ns = "simcmd-lc-" + std::to_string(::getpid());
        ASSERT_EQ(sh("ip netns add " + ns), 0);
        made = true;
        ASSERT_EQ(sh("ip -n " + ns + " link add veth-a type veth peer name veth-b"), 0);
        ASSERT_EQ(sh("ip -n " + ns + " link set veth-a up"), 0);
        ASSERT_EQ(sh("ip -n " + ns + " link set veth-b up"), 0);
    }
    void TearDown() override
    {
        if (made) sh("ip netns del " + ns);
    }
    static int sh(const std::string& c) { return std::system((c + " >/dev/null 2>&1").c_str()); }

    // A raw socket on one end inside the namespace, to send with.
    int sender(const char* ifName = "veth-a")
    {
        int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        int target = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(::setns(target, CLONE_NEWNET), 0);
        int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
        sockaddr_ll sll{};
        sll.sll_family = AF_PACKET;
        sll.sll_protocol = htons(ETH_P_ALL);
        sll.sll_ifindex = static_cast<int>(::if_nametoindex(ifName));
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll), 0);
        EXPECT_EQ(::setns(home, CLONE_NEWNET), 0);
        ::close(target);
        ::close(home);
        return fd;
    }

    // Frames read until `want` arrived or the deadline passed.
    static std::vector<Frame> collect(simcmd::LinkCapture& c, size_t want)
    {
        std::vector<Frame> got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd p{c.fd(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            for (auto& f : c.readFrames()) got.push_back(std::move(f));
        }
        return got;
    }

    std::string ns;
    bool made = false;
};

Frame pbbFrame(uint16_t tpid, uint16_t vid, uint32_t isid)
{
    sim::PbbFrame f;
    f.bda = {0x01, 0x1e, 0x83, 0x00, 0x00, 0x05};
    f.bsa = {0x02, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(isid)};
    f.bvid = vid;
    f.bpcp = 5;
    f.isid = isid;
    f.cda = {0x00, 0x00, 0x5e, 0x00, 0x53, 0x01};
    f.csa = {0x00, 0x00, 0x5e, 0x00, 0x53, 0x02};
    f.rest = {0x08, 0x00, 1, 2, 3, 4};
    Frame b = sim::encodeFrame(f);
    b[12] = static_cast<uint8_t>(tpid >> 8);
    b[13] = static_cast<uint8_t>(tpid);
    return b;
}

TEST_F(VethPair, FramesArriveWithTheirBTagWhateverItsTpid)
{
    simcmd::LinkCapture cap("veth-b", ns);
    EXPECT_EQ(cap.ifName(), "veth-b");
    int out = sender();
    ASSERT_GE(out, 0);
    Frame ad = pbbFrame(0x88a8, 100, 0x0a0b0c);
    Frame q = pbbFrame(0x8100, 4000, 7);
    // not I-tagged: an IPv4 frame and a tagged frame with another EtherType
    Frame ip = {2, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2, 0x08, 0x00, 0x45, 0, 0, 20, 0, 0, 0, 0, 64, 17};
    ip.resize(60, 0);
    Frame other = pbbFrame(0x88a8, 5, 9);
    other[16] = 0x08;
    other[17] = 0x00;
    for (const Frame* f : {&ip, &ad, &other, &q})
        ASSERT_EQ(::send(out, f->data(), f->size(), 0), static_cast<ssize_t>(f->size()));
    ::close(out);

    auto got = collect(cap, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], ad);
    EXPECT_EQ(got[1], q);
    auto d = sim::decodeFrame(got[1]);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bvid, 4000);
    EXPECT_EQ(d->bpcp, 5);
    EXPECT_EQ(d->isid, 7u);
}

TEST_F(VethPair, FramesSentOnTheBoundInterfaceAreNotTaken)
{
    simcmd::LinkCapture cap("veth-a", ns);
    int outA = sender("veth-a");
    int outB = sender("veth-b");
    Frame leaving = pbbFrame(0x88a8, 10, 1);    // goes out of veth-a
    Frame arriving = pbbFrame(0x88a8, 10, 2);   // comes in on veth-a from its peer
    ASSERT_EQ(::send(outA, leaving.data(), leaving.size(), 0), static_cast<ssize_t>(leaving.size()));
    ASSERT_EQ(::send(outB, arriving.data(), arriving.size(), 0), static_cast<ssize_t>(arriving.size()));
    ::close(outA);
    ::close(outB);
    // the copy of the frame going out was queued when it was sent, before
    // the one coming in: once that one is read, the other was passed over
    auto got = collect(cap, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], arriving);
    EXPECT_TRUE(cap.readFrames().empty());
}

}  // namespace
