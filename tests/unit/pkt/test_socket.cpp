// The packet socket: how it is opened, the budget of frames per readable
// event, messages skipped without a word, and the reopening after a
// hang-up.
#include "pkt_test.h"

namespace pkttest {
namespace {

Mac nth(uint32_t i) { return Mac{0x00, 0xbb, 0x00, 0x00, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}; }

TEST_F(Learning, SocketIsBoundToTheITagAndSetsItsThreeOptions)
{
    PBB_pkt_Exit();
    plat::testing::clearCalls();
    ASSERT_EQ(PBB_pkt_Init(), PBB_OK);
    EXPECT_EQ(plat::testing::callsNamed("PKT_Socket").at(0).args, "family=17 type=3 protocol=1");
    auto opts = plat::testing::callsNamed("PKT_SetSockOpt");
    ASSERT_EQ(opts.size(), 3u);
    std::string fd = "fd=" + std::to_string(g_iPbbPktSocketFd);
    EXPECT_EQ(opts[0].args, fd + " level=263 name=0x1 value=0");
    EXPECT_EQ(opts[1].args, fd + " level=263 name=0x5 value=1");
    EXPECT_EQ(opts[2].args, fd + " level=1 name=0x1002 value=204800");
}

TEST_F(Learning, FailedOptionClosesTheSocketAndFailsInit)
{
    PBB_pkt_Exit();
    plat::testing::failCall("PKT_SetSockOpt", -1);
    EXPECT_EQ(PBB_pkt_Init(), PBB_ERR);
    EXPECT_EQ(g_iPbbPktSocketFd, -1);
}

TEST_F(Learning, OneCallReadsAtMost26FramesSkippedOnesIncluded)
{
    // 30 frames, every fifth one without a usable control record.
    for (uint32_t i = 0; i < 30; ++i) {
        Frame f = on(p1_, nth(i));
        if (i % 5 == 4) f.ctrlType = 2;
        send(f);
    }
    EXPECT_EQ(_pbb_pkt_EpollInProc(g_iPbbPktSocketFd), 26u);
    // Frames 4, 9, 14, 19 and 24 were skipped among the first 26.
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 21u);
    EXPECT_NE(PBB_ucpw_Get(kVsi, kBVlan, nth(25).data()), nullptr);
    EXPECT_EQ(PBB_ucpw_Get(kVsi, kBVlan, nth(26).data()), nullptr);
    EXPECT_EQ(_pbb_pkt_EpollInProc(g_iPbbPktSocketFd), 4u);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 24u);
    EXPECT_EQ(_pbb_pkt_EpollInProc(g_iPbbPktSocketFd), 0u);
}

struct Skipped {
    const char* name;
    uint32_t ctrlType;
    uint32_t ifIndex;  // 0 stays 0; 1 means the first port
    size_t dataLen;
    size_t pktLines;   // debug lines under the packet switch
};

class SkippedMessage : public Learning, public ::testing::WithParamInterface<Skipped> {};

TEST_P(SkippedMessage, IsCountedButNotLearnedNorReported)
{
    const Skipped& s = GetParam();
    Frame f = on(s.ifIndex == 0 ? 0 : p1_);
    f.ctrlType = s.ctrlType;
    f.dataLen = s.dataLen;
    send(f);
    EXPECT_EQ(_pbb_pkt_EpollInProc(g_iPbbPktSocketFd), 1u);
    expectNothingLearned();
    EXPECT_EQ(errorLines(), 0u);
    EXPECT_TRUE(logged("Receive PBB frame").empty());
    EXPECT_EQ(logged("PKT").size(), s.pktLines);
}

INSTANTIATE_TEST_SUITE_P(Messages, SkippedMessage,
                         ::testing::Values(Skipped{"IfIndexZero", PKT_CTRL_IFINDEX, 0, 64, 0},
                                           Skipped{"FifteenBytes", PKT_CTRL_IFINDEX, 1, 15, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Learning, DumpIsLeftOutWhenThePortHasNoNameButLearningGoesOn)
{
    plat::testing::failCall("IF_GetDataByIfIndex", 1);
    send(on(p1_));
    serve();
    EXPECT_TRUE(logged("Receive PBB frame").empty());
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 1u);
}

TEST_F(Learning, HangUpReopensTheSocketAndAFailedReopenLeavesItClosed)
{
    int before = g_iPbbPktSocketFd;
    EXPECT_EQ(_pbb_pkt_EpollCallback(PBB_EV_HUP, before), PBB_OK);
    ASSERT_GE(g_iPbbPktSocketFd, 0);
    send(on(p1_));
    serve();
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 1u);

    plat::testing::failCall("PKT_Socket", -1);
    EXPECT_EQ(_pbb_pkt_EpollCallback(PBB_EV_ERR, g_iPbbPktSocketFd), PBB_ERR);
    EXPECT_EQ(g_iPbbPktSocketFd, -1);
    EXPECT_EQ(plat::inproc::deliverDatagram(datagram(on(p1_))), 0u);
}

}  // namespace
}  // namespace pkttest
