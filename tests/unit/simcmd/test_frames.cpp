// What the frame tools do below the commands: which frames count as
// I-tagged, MAC text, a capture in a namespace that is not there. Frames built
// by the commands, pcaps scapy reads and writes, and frames of both B-tag
// types captured from a veth pair (the tag the kernel strips put back, other
// frames left out) are checked by the command and system tests; pcap files
// by the simulator's hardening tests.
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/model/pbb_frame.h"
#include "tools/simcmd/frames.h"
#include "tools/simcmd/link_capture.h"

namespace {

using simcmd::Frame;

TEST(FrameText, ITaggedFramesAndMacAddresses)
{
    simcmd::FrameFields f;
    f.bda = {0x01, 0x1e, 0x83, 0x00, 0x00, 0x64};
    f.bsa = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    f.bvid = 100;
    f.isid = 0x0A0B0C;
    f.payload = {0x08, 0x00, 0xde, 0xad};
    Frame good = simcmd::buildFrame(f);
    EXPECT_TRUE(simcmd::isPbbFrame(good));
    Frame otherTag = good;
    otherTag[12] ^= 0x10;  // 0x98A8, no B-tag (frames without the I-tag EtherType are the veth system test's)
    EXPECT_FALSE(simcmd::isPbbFrame(otherTag));
    EXPECT_FALSE(simcmd::isPbbFrame(Frame(good.begin(), good.begin() + 33))) << "C-SA one byte short";
    EXPECT_TRUE(simcmd::isPbbFrame(Frame(good.begin(), good.begin() + 34))) << "up to C-SA and nothing more";
    EXPECT_TRUE(sim::decodeFrame(Frame(good.begin(), good.begin() + 34))) << "the switch takes it too";

    EXPECT_EQ(simcmd::parseMac("00:1E:83:0a:0B:ff"), (sim::Mac{0x00, 0x1e, 0x83, 0x0a, 0x0b, 0xff}));
    EXPECT_EQ(simcmd::parseMac("02-00-00-00-00-01"), (sim::Mac{2, 0, 0, 0, 0, 1}));
    EXPECT_EQ(simcmd::formatMac({0x00, 0x1e, 0x83, 0x0a, 0x0b, 0xff}), "00:1e:83:0a:0b:ff");
    for (const char* bad : {"", "00:11:22:33:44", "00:11:22:33:44:5g", "00:11-22:33:44:55", "0011:22:33:44:55:6",
                            "00:11:22:33:44:55:66"})
        EXPECT_FALSE(simcmd::parseMac(bad)) << bad;
}

TEST(LinkCaptureOpen, NamesTheMissingNamespace)
{
    if (::geteuid() != 0) GTEST_SKIP() << "packet sockets need root";
    try {
        simcmd::LinkCapture c("lo", "simcmd-no-such-ns");
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("simcmd-no-such-ns"), std::string::npos) << e.what();
    }
}

}  // namespace
