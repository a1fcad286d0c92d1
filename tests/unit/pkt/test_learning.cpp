// Learning from received frames: the entry in the driver, the table and the
// run database; every refusal with its messages; duplicates, moves, limits
// and failures of the driver and the table.
#include "pkt_test.h"

#include <functional>

namespace pkttest {
namespace {

constexpr const char* kSecondLine = "Failed to learn the Unicast Pseudo Wire entry.";
constexpr const char* kDuplicate = "The Unicast Pseudo Wire entry has already been learned.";
constexpr const char* kTotalLimit = "The total number of Unicast Pseudo Wire entries has reached the upper limit.";
constexpr const char* kVsiLimit = "entries in this VSI(VsiIndex 1) has reached the upper limit.";
constexpr const char* kNotUnicast = "The B-SA of this PBB packet is not a unicast address.";

// Sixteen bytes of frame hold the I-TAG and the C-SA: enough to learn.
TEST_F(Learning, FrameIsLearnedInDriverTableAndDatabase)
{
    Frame f = on(a);
    f.dataLen = 16;
    send(f);
    serve();

    expectLearnedOn(a);
    const std::string key = "ucpw.1." + std::to_string(a) + ".10.eth-1/0/1";
    EXPECT_EQ(pbbtest::sortList<PbbDbmUcPwRec>(g_hPbbLocalRunDB, key).at(0).uiISid, kISid) << "the saved record's I-SID";
    EXPECT_EQ(errorLines(), 0u);
    // The dump names the port and prints the constant TPIDs.
    for (const char* line : {"Receive PBB frame from eth-1/0/1", "B-Tag TPID: 8100", "I-Tag TPID: 88e7", "I-SID: 1001",
                             "B-SA: 00:bb:00:00:00:01"})
        EXPECT_EQ(logged(line).size(), 1u) << line;
}

struct Refusal {
    const char* name;
    std::function<void(Learning&, Frame&)> arrange;
    const char* message;
};

class Refused : public Learning, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, LogsItsMessageThenTheSecondLineAndChangesNothing)
{
    Frame f = on(a);
    GetParam().arrange(*this, f);
    send(f);
    serve();

    expectNothingLearned();
    EXPECT_EQ(logged(GetParam().message).size(), 1u);
    EXPECT_EQ(logged(kSecondLine).size(), 1u);
    EXPECT_EQ(errorLines(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    EachCheck, Refused,
    ::testing::Values(
        Refusal{"AllZeroSource", [](Learning&, Frame& f) { f.bsa.fill(0); }, kNotUnicast},
        // Checked first: the I-SID, unknown too, is not looked at.
        Refusal{"GroupSourceOfAnUnknownISid",
                [](Learning&, Frame& f) {
                    f.bsa = sim::groupAddress(kISid);
                    f.isid = kISid + 1;
                },
                kNotUnicast},
        Refusal{"UnknownISid", [](Learning&, Frame& f) { f.isid = kISid + 1; },
                "The I-SID of this PBB packet is not the same as configured."},
        Refusal{"VsiBlockGone", [](Learning&, Frame&) { PBB_vsi_DeleteVsi(kVsi); }, "Failed to get VSI block."},
        Refusal{"OtherBVlan", [](Learning&, Frame& f) { f.bvlan = kBVlan + 1; },
                "The B-VLAN of this PBB packet is not the same as configured."},
        // The VSI's multicast entry stays (as after the VSI was announced
        // anew): 0xFFFF would be the index of the frame's B-VLAN list.
        Refusal{"VsiWithoutBVlanFrameOfBVlan0xFFFF",
                [](Learning&, Frame& f) {
                    PBB_vsi_GetVsiByIndex(kVsi)->usBVlan = PBB_BVLAN_NONE;
                    f.bvlan = 0xFFFF;
                },
                "The B-VLAN of this PBB packet is not the same as configured."},
        Refusal{"VsiDown", [](Learning&, Frame&) { PBB_vsi_GetVsiByIndex(kVsi)->usShutdownFlag = 1; },
                "Failed to learn PBB packet because the VSI is administratively down."},
        Refusal{"PortNotInMulticast", [](Learning& t, Frame& f) { f.ifIndex = t.port(3); },
                "The interface eth-1/0/3 isn't enabled to receive PBB packet."},
        Refusal{"NoMulticastEntry", [](Learning&, Frame&) { PBB_mcpw_Destroy(PBB_mcpw_Get(kVsi)); },
                "The interface eth-1/0/1 isn't enabled to receive PBB packet."},
        Refusal{"PortNameUnknown", [](Learning&, Frame& f) { f.ifIndex = 999; },
                "The interface  isn't enabled to receive PBB packet."},
        Refusal{"StpDiscarding", [](Learning& t, Frame&) { t.model().setStpState(t.port(1), kBVlan, 1); },
                "The STG state of interface eth-1/0/1 is not forwarding."},
        Refusal{"StpLearning", [](Learning& t, Frame&) { t.model().setStpState(t.port(1), kBVlan, 2); },
                "The STG state of interface eth-1/0/1 is not forwarding."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Learning, StateThatCannotBeQueriedLetsTheFrameThrough)
{
    sw->setStpState(a, kBVlan, 1);
    plat::testing::failCall("STI_GetVlanState", 1);
    send(on(a));
    serve();
    expectLearnedOn(a);
}

TEST_F(Learning, DuplicatesChangeNothingAndLogOneLineEach)
{
    send(on(a));
    serve();
    for (int i = 0; i < 200; ++i) send(on(a));
    serve();

    EXPECT_EQ(plat::testing::countCalls("L2VPN_AddMinMEntry"), 1u);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_DelMinMEntry"), 0u);
    expectLearnedOn(a);
    EXPECT_EQ(logged(kDuplicate).size(), 200u);
    EXPECT_EQ(errorLines(), 200u);
}

// Limits of zero (as before the capabilities are read) refuse every new
// key, but not a move.
TEST_F(Learning, StationMoveReplacesTheEntryWhateverTheLimits)
{
    send(on(a));
    serve();
    g_uiMaxPwNum = 0;
    g_uiMaxPwNumPerVsi = 0;
    send(on(b));
    serve();

    expectLearnedOn(b);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_DelMinMEntry"), 1u);
    EXPECT_EQ(errorLines(), 0u);
}

struct Limits {
    const char* name;
    uint32_t total;
    uint32_t perVsi;
    const char* message;
    const char* absent;
};

class LimitReached : public Learning, public ::testing::WithParamInterface<Limits> {};

// A move with the limits reached is checked by the station-move test.
TEST_P(LimitReached, NewKeyRefusedWithOneMessage)
{
    send(on(a));
    serve();
    g_uiMaxPwNum = GetParam().total;
    g_uiMaxPwNumPerVsi = GetParam().perVsi;
    Mac other{0x00, 0xbb, 0x00, 0x00, 0x00, 0x02};
    send(on(a, other));
    serve();

    expectLearnedOn(a);
    EXPECT_EQ(logged(GetParam().message).size(), 1u);
    EXPECT_TRUE(logged(GetParam().absent).empty());
    EXPECT_TRUE(logged(kSecondLine).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Both, LimitReached,
    ::testing::Values(Limits{"BothReached", 1, 1, kTotalLimit, kVsiLimit},
                      Limits{"PerVsiOnly", 100, 1, kVsiLimit, kTotalLimit},
                      Limits{"ZeroBeforeCapabilitiesAreRead", 0, 0, kTotalLimit, kVsiLimit}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Learning, DriverFailureLeavesTableAndDatabaseUntouched)
{
    plat::testing::failCall("L2VPN_AddMinMEntry", 5);
    send(on(a));
    serve();
    expectNothingLearned();
    EXPECT_EQ(logged("Failed to add Unicast Pseudo Wire entries to driver.").size(), 1u);
}

TEST_F(Learning, TableFailureIsUndoneInTheDriver)
{
    // The first entry on a port needs the port's list head as private data.
    plat::testing::failCall("IF_SetPrivateData", 1);
    send(on(a));
    serve();
    expectNothingLearned();
    EXPECT_EQ(plat::testing::countCalls("L2VPN_AddMinMEntry"), 1u);
    EXPECT_EQ(plat::testing::countCalls("L2VPN_DelMinMEntry"), 1u);
    EXPECT_TRUE(sw->fib().committed().uc.empty());
}

}  // namespace
}  // namespace pkttest
