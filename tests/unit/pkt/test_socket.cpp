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
    EXPECT_EQ(PBB_pkt_Init(), PBB_OK);
    EXPECT_EQ(plat::testing::countCalls("PKT_Socket"), 1u) << "a second initialisation keeps the open socket";
}

TEST_F(Learning, FailedOptionClosesTheSocketAndFailsInit)
{
    PBB_pkt_Exit();
    plat::testing::failCall("PKT_SetSockOpt", -1);
    EXPECT_EQ(PBB_pkt_Init(), PBB_ERR);
    EXPECT_EQ(g_iPbbPktSocketFd, -1);
}

// Skipped without a word, but counted: another control type, an ifIndex
// of 0, fewer bytes than the fields read (only that one is told, under the
// packet switch).
TEST_F(Learning, OneCallReadsAtMost26FramesSkippedOnesIncluded)
{
    // 30 frames, every fifth one skipped.
    for (uint32_t i = 0; i < 30; ++i) {
        Frame f = on(a, nth(i));
        if (i % 15 == 4) f.ctrlType = 2;
        if (i % 15 == 9) f.ifIndex = 0;
        if (i % 15 == 14) f.dataLen = 15;
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
    EXPECT_EQ(errorLines(), 0u);
    EXPECT_EQ(logged("Receive PBB frame").size(), 24u);
    const std::string tooShort = "Dropped a PBB frame of 15 bytes from ifIndex " + std::to_string(a) + ": too short.";
    EXPECT_EQ(logged(tooShort).size(), 2u) << "frames 14 and 29";
}

TEST_F(Learning, DumpIsLeftOutWhenThePortHasNoNameButLearningGoesOn)
{
    plat::testing::failCall("IF_GetDataByIfIndex", 1);
    send(on(a));
    serve();
    EXPECT_TRUE(logged("Receive PBB frame").empty());
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 1u);
}

// A hang-up reopens the socket at once. When that fails learning stops: a
// warning says so whatever the debug switches, the status file's state says
// closed, and every tick tries again until one opens it. (The loop's own
// tick is not served here: the test ticks.)
TEST_F(Learning, HangUpReopensAtOnceOrEverySecondUntilThePacketServiceIsBack)
{
    EXPECT_EQ(_pbb_pkt_EpollCallback(PBB_EV_HUP, g_iPbbPktSocketFd), PBB_OK);
    EXPECT_EQ(plat::inproc::deliverDatagram(datagram(on(a))), 1u);

    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    g_uiPbbDbgFlag = 0;
    sw->setServiceUp(sim::Service::Packet, false);
    EXPECT_EQ(_pbb_pkt_EpollCallback(PBB_EV_HUP, g_iPbbPktSocketFd), PBB_ERR);
    EXPECT_EQ(logged("PBB_PKTSOCK_WARNING warning: The PBB packet socket was closed").size(), 1u);
    EXPECT_NE(plat::testing::callsNamed("Timer_Create").at(0).args.find("periodMs=1000"), std::string::npos);
    ASSERT_EQ(Timer_Tick_Announce(g_hTimerInstance), 0u);
    EXPECT_EQ(g_iPbbPktSocketFd, -1);

    sw->setServiceUp(sim::Service::Packet, true);
    ASSERT_EQ(Timer_Tick_Announce(g_hTimerInstance), 0u);
    EXPECT_EQ(g_ulPbbPktTimerFd, PBB_TMR_INVALID);
    EXPECT_EQ(plat::inproc::deliverDatagram(datagram(on(a))), 1u);
    EXPECT_EQ(logged("PBB_PKTSOCK_NOTICE notice: The PBB packet socket has been opened again").size(), 1u);
    std::string states;
    for (const auto& c : plat::testing::callsNamed("SERVICE_SetState")) states += c.args.substr(0, 26) + ";";
    EXPECT_EQ(states, "name=PACKET_SOCKET value=o;name=PACKET_SOCKET value=c;name=PACKET_SOCKET value=o;");
}

}  // namespace
}  // namespace pkttest
