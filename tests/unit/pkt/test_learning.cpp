// The learning path in process: the control tests' switch and tables, with
// vsi-a (I-SID 1001) on B-VLAN 10 and its multicast entry over ports a and
// b, and the daemon's packet socket. Frames are handed to the packet socket
// as datagrams, whatever they hold.
// Learning: the entry in the driver, the table and the run database; every
// refusal with its messages; duplicates, moves, limits and failures of the
// driver and the table. The socket: how it is opened, the budget of frames
// per readable event, messages skipped without a word, and the reopening
// after a hang-up.
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_pkt.h"
#include "daemon/pbb_reopen.h"
#include "daemon/pbb_tmr.h"
#include "platform/model/pbb_frame.h"
#include "support/daemon_loop.h"
#include "support/logread.h"
#include "unit/ctl/ctl_test.h"

#include <array>
#include <tuple>

namespace pkttest {
namespace {

using Mac = std::array<uint8_t, 6>;

constexpr uint32_t kVsi = 1;
constexpr uint32_t kISid = 1001;
constexpr uint16_t kBVlan = 10;  // the control tests' B-VLAN
constexpr Mac kBsa{0x00, 0xbb, 0x00, 0x00, 0x00, 0x01};
constexpr Mac kCsa{0x02, 0x00, 0x00, 0x00, 0x01, 0x01};

// What a datagram carries; every field may be made wrong.
struct Frame {
    uint32_t ifIndex = 0;
    Mac bsa = kBsa;
    uint32_t isid = kISid;
    uint16_t bvlan = kBVlan;
    uint32_t ctrlType = PKT_CTRL_IFINDEX;
    size_t dataLen = 64;
};

inline std::vector<uint8_t> datagram(const Frame& f)
{
    sim::Datagram d;
    d.addr.ucLen = sizeof(d.addr);
    d.addr.ucFamily = PKT_AF_PACKET;
    d.addr.usEtherType = PKT_ETHERTYPE_ITAG;
    std::copy(f.bsa.begin(), f.bsa.end(), d.addr.aucSrcMac);
    Mac group = sim::groupAddress(f.isid);
    std::copy(group.begin(), group.end(), d.addr.aucDstMac);
    d.addr.usVlanId = f.bvlan;
    d.ctrl = PKT_CTRL_S{sizeof(PKT_CTRL_S), PKT_SOL_PACKET, f.ctrlType, f.ifIndex};
    d.data.assign(f.dataLen, 0);
    std::vector<uint8_t> itag{0x00, static_cast<uint8_t>(f.isid >> 16), static_cast<uint8_t>(f.isid >> 8),
                              static_cast<uint8_t>(f.isid), 0x02, 0, 0, 0, 0x01, 0x02};
    itag.insert(itag.end(), kCsa.begin(), kCsa.end());
    std::copy_n(itag.begin(), std::min(itag.size(), f.dataLen), d.data.begin());
    return sim::packDatagram(d);
}

class Learning : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(pbbtest::openDaemonLoop());
        ASSERT_EQ(PBB_pkt_Init(), PBB_OK);
        vsi(kVsi, "vsi-a", kISid);
        PbbMcPw* mc = PBB_mcpw_Create(kVsi, kISid, kBVlan);
        ASSERT_NE(mc, nullptr);
        ASSERT_EQ(PBB_mcpw_AddPort(mc, a) + PBB_mcpw_AddPort(mc, b), PBB_OK);
        g_uiMaxPwNum = 100;
        g_uiMaxPwNumPerVsi = 50;
        g_uiPbbDbgFlag = PBB_DBG_ERROR | PBB_DBG_PKT;
        plat::testing::setRecording(true);
    }
    void TearDown() override
    {
        PBB_pkt_Exit();
        PBB_tmr_Exit();
        pbbtest::closeDaemonLoop();
        g_uiPbbDbgFlag = 0;
        Ctl::TearDown();
    }

    void send(const Frame& f) { ASSERT_EQ(plat::inproc::deliverDatagram(datagram(f)), 1u); }
    Frame on(uint32_t ifIndex, Mac bsa = kBsa) const { return Frame{.ifIndex = ifIndex, .bsa = bsa}; }
    // Serves the daemon's descriptors as its loop does, until nothing is ready.
    void serve() { (void)pbbtest::serveReady(); }
    void receive(const Frame& f)
    {
        send(f);
        serve();
    }

    std::vector<std::string> logged(const std::string& text) const { return pbbtest::grepLines(dirs.logFile(), {text}); }
    size_t errorLines() const { return logged("ERROR").size(); }

    // The frame's entry is in the driver, the table and the database on this
    // port, with the frame's I-SID and C-SA.
    void expectLearnedOn(uint32_t port)
    {
        expectUc({{kVsi, kBVlan, kBsa[5], port}});
        const sim::UcEntry* e = sw->unicast(kVsi, kBsa);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::tuple(e->isid, e->cmac, e->flags), std::tuple(kISid, kCsa, PBB_MINM_FLAGS_UC));
        const PbbUcPw* u = PBB_ucpw_Get(kVsi, kBVlan, kBsa.data());
        EXPECT_EQ(u != nullptr ? u->uiISid : 0u, kISid);
    }
    // Nothing learned anywhere: driver, table, database.
    void expectNothingLearned() const
    {
        EXPECT_TRUE(sw->fib().working().uc.empty());
        EXPECT_EQ(PBB_ucpw_GetTotalNum(), 0u);
        EXPECT_TRUE(dbUc().empty());
    }
};

constexpr const char* kSecondLine = "Failed to learn the Unicast Pseudo Wire entry.";
constexpr const char* kDuplicate = "The Unicast Pseudo Wire entry has already been learned.";
constexpr const char* kTotalLimit = "The total number of Unicast Pseudo Wire entries has reached the upper limit.";
constexpr const char* kVsiLimit = "entries in this VSI(VsiIndex 1) has reached the upper limit.";
constexpr const char* kNotUnicast = "The B-SA of this PBB packet is not a unicast address.";

// Sixteen bytes of frame hold the I-TAG and the C-SA: enough to learn.
// The same frame again changes nothing and logs one line each time.
TEST_F(Learning, FrameIsLearnedInDriverTableAndDatabaseOnce)
{
    Frame f = on(a);
    f.dataLen = 16;
    receive(f);

    expectLearnedOn(a);
    const std::string key = "ucpw.1." + std::to_string(a) + ".10.eth-1/0/1";
    EXPECT_EQ(pbbtest::sortList<PbbDbmUcPwRec>(g_hPbbLocalRunDB, key).at(0).uiISid, kISid) << "the saved record's I-SID";
    // The dump names the port and prints the constant TPIDs.
    for (const char* line : {"Receive PBB frame from eth-1/0/1", "B-Tag TPID: 8100", "I-Tag TPID: 88e7", "I-SID: 1001",
                             "B-DA: 01:1e:83:00:03:e9", "B-SA: 00:bb:00:00:00:01"})
        EXPECT_EQ(logged(line).size(), 1u) << line;

    for (int i = 0; i < 200; ++i) send(on(a));
    serve();
    EXPECT_EQ(plat::testing::countCalls("L2VPN_AddMinMEntry"), 1u);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_DelMinMEntry"), 0u);
    expectLearnedOn(a);
    EXPECT_EQ(logged(kDuplicate).size(), 200u);
    EXPECT_EQ(errorLines(), 200u) << "and none for the frame learned";
}

using Sw = sim::SwitchModel;

struct Refusal {
    const char* name;
    void (*arrange)(Sw&, Frame&);
    const char* message;
};

class Refused : public Learning, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, LogsItsMessageThenTheSecondLineAndChangesNothing)
{
    Frame f = on(a);
    GetParam().arrange(*sw, f);
    receive(f);

    expectNothingLearned();
    EXPECT_EQ(logged(GetParam().message).size(), 1u);
    EXPECT_EQ(logged(kSecondLine).size(), 1u);
    EXPECT_EQ(errorLines(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    EachCheck, Refused,
    ::testing::Values(
        Refusal{"AllZeroSource", [](Sw&, Frame& f) { f.bsa.fill(0); }, kNotUnicast},
        // Checked first: the I-SID, unknown too, is not looked at.
        Refusal{"GroupSourceOfAnUnknownISid",
                [](Sw&, Frame& f) {
                    f.bsa = sim::groupAddress(kISid);
                    f.isid = kISid + 1;
                },
                kNotUnicast},
        Refusal{"UnknownISid", [](Sw&, Frame& f) { f.isid = kISid + 1; },
                "The I-SID of this PBB packet is not the same as configured."},
        Refusal{"VsiBlockGone", [](Sw&, Frame&) { PBB_vsi_DeleteVsi(kVsi); }, "Failed to get VSI block."},
        Refusal{"OtherBVlan", [](Sw&, Frame& f) { f.bvlan = kBVlan + 1; },
                "The B-VLAN of this PBB packet is not the same as configured."},
        // The VSI's multicast entry stays (as after the VSI was announced
        // anew): 0xFFFF would be the index of the frame's B-VLAN list.
        Refusal{"VsiWithoutBVlanFrameOfBVlan0xFFFF",
                [](Sw&, Frame& f) {
                    PBB_vsi_GetVsiByIndex(kVsi)->usBVlan = PBB_BVLAN_NONE;
                    f.bvlan = 0xFFFF;
                },
                "The B-VLAN of this PBB packet is not the same as configured."},
        Refusal{"VsiDown", [](Sw&, Frame&) { PBB_vsi_GetVsiByIndex(kVsi)->usShutdownFlag = 1; },
                "Failed to learn PBB packet because the VSI is administratively down."},
        Refusal{"PortNotInMulticast", [](Sw&, Frame& f) { f.ifIndex = IF_GetIfIndexByFullName("eth-1/0/3"); },
                "The interface eth-1/0/3 isn't enabled to receive PBB packet."},
        Refusal{"NoMulticastEntry", [](Sw&, Frame&) { PBB_mcpw_Destroy(PBB_mcpw_Get(kVsi)); },
                "The interface eth-1/0/1 isn't enabled to receive PBB packet."},
        Refusal{"PortNameUnknown", [](Sw&, Frame& f) { f.ifIndex = 999; },
                "The interface  isn't enabled to receive PBB packet."},
        Refusal{"StpDiscarding", [](Sw& sw, Frame& f) { sw.setStpState(f.ifIndex, kBVlan, 1); },
                "The STG state of interface eth-1/0/1 is not forwarding."},
        Refusal{"StpLearning", [](Sw& sw, Frame& f) { sw.setStpState(f.ifIndex, kBVlan, 2); },
                "The STG state of interface eth-1/0/1 is not forwarding."}),
    [](const auto& info) { return std::string(info.param.name); });

// A port state that cannot be read counts as forwarding; a port whose name
// cannot be read is learned without the dump.
TEST_F(Learning, QueriesThatFailLetTheFrameThrough)
{
    sw->setStpState(a, kBVlan, 1);
    plat::testing::failCall("STI_GetVlanState", 1);
    plat::testing::failCall("IF_GetDataByIfIndex", 1);
    receive(on(a));
    expectLearnedOn(a);
    EXPECT_TRUE(logged("Receive PBB frame").empty());
}

// A new key beyond either limit is refused with that limit's message alone;
// a station move is not held to the limits, not even to limits of zero (as
// before the capabilities are read).
TEST_F(Learning, NewKeyBeyondALimitIsRefusedButAStationMoveIsNot)
{
    receive(on(a));
    const Mac other{0x00, 0xbb, 0x00, 0x00, 0x00, 0x02};
    const std::tuple<uint32_t, uint32_t, const char*, const char*> limits[] = {
        {1, 1, kTotalLimit, kVsiLimit}, {100, 1, kVsiLimit, kTotalLimit}, {0, 0, kTotalLimit, kVsiLimit}};
    for (const auto& [total, perVsi, message, absent] : limits) {
        SCOPED_TRACE(std::to_string(total) + "/" + std::to_string(perVsi));
        g_uiMaxPwNum = total;
        g_uiMaxPwNumPerVsi = perVsi;
        const size_t told = logged(message).size(), notTold = logged(absent).size();
        receive(on(a, other));
        EXPECT_EQ(logged(message).size(), told + 1);
        EXPECT_EQ(logged(absent).size(), notTold);
    }
    expectLearnedOn(a);
    EXPECT_TRUE(logged(kSecondLine).empty());

    receive(on(b));
    expectLearnedOn(b);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_DelMinMEntry"), 1u);
    EXPECT_EQ(errorLines(), 3u) << "the move logs nothing";
}

// A refused driver add leaves table and database untouched; a refused table
// add (the first entry on a port needs the port's list head as private
// data) is undone in the driver.
TEST_F(Learning, DriverOrTableFailureLearnsNothingAnywhere)
{
    plat::testing::failCall("L2VPN_AddMinMEntry", 5);
    receive(on(a));
    expectNothingLearned();
    EXPECT_EQ(logged("Failed to add Unicast Pseudo Wire entries to driver.").size(), 1u);

    plat::testing::clearCalls();
    plat::testing::failCall("IF_SetPrivateData", 1);
    receive(on(a));
    expectNothingLearned();
    EXPECT_EQ(plat::testing::countCalls("L2VPN_AddMinMEntry"), 1u);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_DelMinMEntry"), 1u);
    EXPECT_TRUE(sw->fib().committed().uc.empty());
}

Mac nth(uint32_t i) { return Mac{0x00, 0xbb, 0x00, 0x00, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}; }

TEST_F(Learning, SocketIsBoundToTheITagAndSetsItsThreeOptionsOrIsClosed)
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
    // A failed option closes the socket and fails the initialisation.
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
    EXPECT_EQ(_pbb_pkt_EpollInProc(g_iPbbPktSocketFd), 4u);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 24u);
    EXPECT_EQ(errorLines(), 0u);
    EXPECT_EQ(logged("Receive PBB frame").size(), 24u);
    const std::string tooShort = "Dropped a PBB frame of 15 bytes from ifIndex " + std::to_string(a) + ": too short.";
    EXPECT_EQ(logged(tooShort).size(), 2u) << "frames 14 and 29";
    // Each frame is told of and learned from in the order it arrived,
    // whatever the frames read with it.
    std::vector<std::string> told, want;
    for (const auto& line : pbbtest::readLines(dirs.logFile()))
        if (line.find("B-SA: ") != std::string::npos)
            told.push_back(line.substr(line.find("B-SA: ") + 6, 17));
        else if (line.find(tooShort) != std::string::npos)
            told.push_back("short");
    for (uint32_t i = 0; i < 30; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "00:bb:00:00:%02x:%02x", i >> 8 & 0xFF, i & 0xFF);
        if (i % 15 == 14)
            want.push_back("short");
        else if (i % 15 != 4 && i % 15 != 9)
            want.push_back(mac);
    }
    EXPECT_EQ(told, want);
    std::vector<uint32_t> order;
    for (const PbbUcPw* u = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); u != nullptr;
         u = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, u))
        order.push_back(u->aucBMac[5]);
    std::vector<uint32_t> newestFirst;
    for (uint32_t i = 30; i-- > 0;)
        if (i % 5 != 4) newestFirst.push_back(i);
    EXPECT_EQ(order, newestFirst) << "the table's list holds the newest entry first";
}

// A message without data ends the call uncounted, and what follows it
// waits for the next call.
TEST_F(Learning, AMessageWithoutDataEndsTheCall)
{
    Frame empty = on(a, nth(1));
    empty.dataLen = 0;
    send(empty);
    send(on(a, nth(2)));
    EXPECT_EQ(_pbb_pkt_EpollInProc(g_iPbbPktSocketFd), 0u);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 0u);
    EXPECT_EQ(_pbb_pkt_EpollInProc(g_iPbbPktSocketFd), 1u);
    EXPECT_NE(PBB_ucpw_Get(kVsi, kBVlan, nth(2).data()), nullptr);
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
    EXPECT_EQ(g_stPbbPktReopen.ulTimer, PBB_TMR_INVALID);
    EXPECT_EQ(plat::inproc::deliverDatagram(datagram(on(a))), 1u);
    EXPECT_EQ(logged("PBB_PKTSOCK_NOTICE notice: The PBB packet socket has been opened again").size(), 1u);
    std::string states;
    for (const auto& c : plat::testing::callsNamed("SERVICE_SetState")) states += c.args.substr(0, 26) + ";";
    EXPECT_EQ(states, "name=PACKET_SOCKET value=o;name=PACKET_SOCKET value=c;name=PACKET_SOCKET value=o;");
}

}  // namespace
}  // namespace pkttest
