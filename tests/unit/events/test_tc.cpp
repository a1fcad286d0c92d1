// Topology-change flushing: which learned entries each notification takes,
// in which order, the debug text it leaves, and the channel's reconnection.
#include "daemon/pbb_tc.h"
#include "events_test.h"

#include <functional>
#include <optional>

namespace evtest {
namespace {

using ctltest::Uc;
using ctltest::UcSet;
using Vlans = std::optional<std::vector<uint16_t>>;
using Ports = std::optional<std::string>;  // of 'a', 'b', 'c'
constexpr std::nullopt_t kAll = std::nullopt;

class Tc : public Events {
protected:
    void ExitModule() override { PBB_tc_Exit(); }
    uint32_t port(char p) const { return p == 'a' ? a : p == 'b' ? b : p == 'c' ? c : 0; }
    // A topology change through the switch and the event loop.
    void change(Vlans vlans, Ports ifs)
    {
        std::optional<std::vector<uint32_t>> ifIndexes;
        if (ifs) ifIndexes.emplace();
        for (char p : ifs.value_or("")) ifIndexes->push_back(port(p));
        sw->topologyChange(std::move(vlans), std::move(ifIndexes));
        EXPECT_EQ(serve(), 1);
    }
};

// Expected deletions as consecutive groups, each in any order within
// itself: (B-VLAN or 0 for any, port or '*' for any); and the debug text.
struct TcCase {
    const char* name;
    Vlans vlans;
    Ports ifs;
    std::vector<std::pair<uint16_t, char>> groups;
    std::string text;
};

const TcCase kTcCases[] = {
    {"NeitherFlushesAll", kAll, kAll, {{0, '*'}}, "Receive TC event with all interfaces and all VLANs.\r\n"},
    {"InterfacesInArrayOrder", kAll, "ca", {{0, 'c'}, {0, 'a'}},
     "Receive TC event\r\nInterfaces number: 2\r\nInterfaces:\r\neth-1/0/3\r\neth-1/0/1\r\n"},
    {"VlansAscendingInRunsAndSingles", std::vector<uint16_t>{30, 10, 9, 7, 3, 2, 1}, kAll, {{10, '*'}, {30, '*'}},
     "Receive TC event\r\nVLANs number: 7\r\nVLANs:\r\n1 to 3,7,9 to 10,30\r\n"},
    {"HighestVlanIncluded", std::vector<uint16_t>{4094, 4093, 10}, kAll, {{10, '*'}, {4094, '*'}},
     "Receive TC event\r\nVLANs number: 3\r\nVLANs:\r\n10,4093 to 4094\r\n"},
    {"EachVlanOfEachInterface", std::vector<uint16_t>{20, 10}, "ba", {{10, 'b'}, {20, 'b'}, {10, 'a'}, {20, 'a'}},
     "Receive TC event\r\nInterfaces number: 2\r\nInterfaces:\r\neth-1/0/2\r\neth-1/0/1\r\n"
     "VLANs number: 2\r\nVLANs:\r\n10,20\r\n"},
    {"EmptyInterfaceListFlushesNothing", kAll, "", {}, "Receive TC event\r\nInterfaces number: 0\r\nInterfaces:\r\n"},
    {"EmptyInterfaceListWithVlansFlushesNothing", std::vector<uint16_t>{10}, "", {},
     "Receive TC event\r\nInterfaces number: 0\r\nInterfaces:\r\nVLANs number: 1\r\nVLANs:\r\n10\r\n"},
    {"EmptyVlanSetFlushesNothing", std::vector<uint16_t>{}, kAll, {},
     "Receive TC event\r\nVLANs number: 0\r\nVLANs:\r\n"},
};

class TcEvent : public Tc, public ::testing::WithParamInterface<TcCase> {};

// The covered entries leave driver, table and database in order; the
// event is described under the event switch only.
TEST_P(TcEvent, FlushesTheCoveredEntriesInOrderAndDescribesTheEvent)
{
    ASSERT_EQ(PBB_tc_Init(), PBB_OK);
    // One entry in VSI 1 for each of the B-VLANs 10, 20, 30, 4094 on each
    // port, told apart by its B-MAC's last byte.
    UcSet all;
    uint8_t tag = 1;
    for (uint16_t vlan : {10, 20, 30, 4094})
        for (uint32_t p : {a, b, c}) all.insert({1, vlan, tag++, p});
    for (const Uc& e : all) learn(e);
    const uint64_t mark = sw->programCalls().last();

    g_uiPbbDbgFlag = PBB_DBG_ERROR | PBB_DBG_PKT;
    change(GetParam().vlans, GetParam().ifs);
    EXPECT_TRUE(eventTexts().empty()) << "other switches";

    std::vector<Uc> deleted;  // in the order the driver was asked
    for (const sim::ProgramCall& call : sw->programCalls().since(mark))
        for (const Uc& e : all)
            if (call.call == "L2VPN_DelMinMEntry" && call.minm && call.minm->entry.aucBMac[5] == std::get<2>(e))
                deleted.push_back(e);
    size_t at = 0;
    UcSet kept = all;
    for (auto [vlan, p] : GetParam().groups) {
        auto in = [&, vlan = vlan, p = p](const Uc& e) {
            return (vlan == 0 || std::get<1>(e) == vlan) && (p == '*' || std::get<3>(e) == port(p));
        };
        UcSet want, got;
        for (const Uc& e : all)
            if (in(e)) want.insert(e);
        for (; at < deleted.size() && in(deleted[at]); ++at) got.insert(deleted[at]);
        EXPECT_EQ(got, want) << "group " << vlan << "/" << p;
        for (const Uc& e : want) kept.erase(e);
    }
    EXPECT_EQ(at, deleted.size()) << "deletions beyond the covered entries";
    expectUc(kept);

    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    change(GetParam().vlans, GetParam().ifs);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{GetParam().text});
}

INSTANTIATE_TEST_SUITE_P(Tc, TcEvent, ::testing::ValuesIn(kTcCases), ctltest::byName);

// Every other VLAN (several pieces), VLANs 4 to 602 (the text reaches
// exactly 800 characters), and from 10 (27 items fill the first line's 81
// columns).
class TcLongVlans : public Tc, public ::testing::WithParamInterface<Range> {};

TEST_P(TcLongVlans, GoOutInLinesAndPieces)
{
    ASSERT_EQ(PBB_tc_Init(), PBB_OK);
    const std::vector<uint16_t> vlans = evenVlans(GetParam().first, GetParam().second);
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    change(vlans, kAll);
    expectVlanPieces(eventTexts(), "Receive TC event\r\nVLANs number: " + std::to_string(vlans.size()) + "\r\nVLANs:\r\n",
                     vlans);
}

INSTANTIATE_TEST_SUITE_P(Tc, TcLongVlans, ::testing::Values(Range{1, 4093}, Range{4, 602}, Range{10, 600}),
                         byRange);

// 17 names of 40 characters and a filler bring the text to 778 or 779
// characters; a name of 20 then still fits (778 + 20 + 1 is below 800) or
// starts the next piece.
class TcNameEdge : public Tc, public ::testing::WithParamInterface<size_t> {};

TEST_P(TcNameEdge, ANameThatWouldReach800StartsTheNextPiece)
{
    // The text of the first 18 names, and the last name's line.
    std::string first = "Receive TC event\r\nInterfaces number: 19\r\nInterfaces:\r\n", last;
    std::vector<uint32_t> ifs;
    for (size_t len : {40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 0, 20}) {
        std::string n = "if" + std::to_string(ifs.size());
        n.resize(len == 0 ? GetParam() : len, 'x');
        ifs.push_back(sw->addPort(n, 1));
        (ifs.size() < 19 ? first : last) += n + "\r\n";
    }
    ASSERT_EQ(PBB_tc_Init(), PBB_OK);
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    sw->topologyChange(kAll, ifs);
    ASSERT_EQ(serve(), 1);
    const std::vector<std::string> fits{first + last}, split{first, "\r\n" + last};
    EXPECT_EQ(eventTexts(), GetParam() == 8 ? fits : split);
}

INSTANTIATE_TEST_SUITE_P(Tc, TcNameEdge, ::testing::Values(8, 9), ::testing::PrintToStringParamName());

// The first tick that connects ends the retrying (failed ticks are
// checked below). An error reconnects at once while the service is there;
// a hang-up without it starts the timer again.
TEST_F(Tc, ServiceAwayRetriesEverySecondAndAHangUpStartsAgain)
{
    sw->setServiceUp(sim::Service::Sti, false);
    EXPECT_EQ(PBB_tc_Init(), PBB_OK) << "not reaching the service is no failure";
    EXPECT_NE(plat::testing::callsNamed("Timer_Create").at(0).args.find("1000"), std::string::npos);
    EXPECT_EQ(PBB_tc_Init(), PBB_OK);
    EXPECT_EQ(plat::testing::countCalls("Timer_Create"), 1u) << "one timer at most";
    sw->setServiceUp(sim::Service::Sti, true);
    tick();

    plat::testing::clearCalls();
    tick();
    EXPECT_EQ(plat::testing::countCalls("STI_Event_Init"), 0u) << "timer deleted";
    const int first = g_iTcFd;
    _pbb_tc_HandleEvent(PBB_EV_ERR, first);
    EXPECT_EQ(plat::testing::callsNamed("STI_Event_Fini").at(0).args, "fd=" + std::to_string(first));
    learn({1, 10, 1, a});
    change(kAll, kAll);
    expectUc({});  // reconnected at once

    sw->setServiceUp(sim::Service::Sti, false);
    EXPECT_EQ(serve(), 1);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti), -1) << "the hung-up channel is released";
    EXPECT_NE(g_ulTcTimerFd, PBB_TMR_INVALID) << "waiting for the service";
}

// A tick that fails releases what it made; the next one connects.
struct TickFault {
    const char* name;
    std::function<void()> arm;
    size_t finis;   // channels opened on the tick and closed again
    size_t deregs;  // registrations withdrawn on the tick
};

const TickFault kTickFaults[] = {
    {"ChannelNotOpened", [] { plat::testing::failCall("STI_Event_Init", -1); }, 0, 1},
    {"RegistrationRefused", [] { plat::testing::failCall("TC_Register", 5); }, 1, 0},
    {"LoopRefuses", [] { g_iPbbEpollFd = -1; }, 1, 0},
};

class TcTick : public Tc, public ::testing::WithParamInterface<TickFault> {};

TEST_P(TcTick, AFailedTickReleasesWhatItMade)
{
    sw->setServiceUp(sim::Service::Sti, false);
    ASSERT_EQ(PBB_tc_Init(), PBB_OK);
    sw->setServiceUp(sim::Service::Sti, true);
    plat::testing::clearCalls();
    const int epfd = g_iPbbEpollFd;
    GetParam().arm();
    tick();
    g_iPbbEpollFd = epfd;
    EXPECT_EQ(g_iTcFd, -1);
    EXPECT_EQ(plat::testing::countCalls("STI_Event_Fini"), GetParam().finis);
    EXPECT_EQ(plat::testing::countCalls("TC_DeregisterTC"), GetParam().deregs);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti), -1) << "no channel left open";

    plat::testing::clearFaults();
    tick();
    EXPECT_GE(g_iTcFd, 0);
}

INSTANTIATE_TEST_SUITE_P(Tc, TcTick, ::testing::ValuesIn(kTickFaults), ctltest::byName);

// Start-up fails without a timer; the exit, run twice, releases what is left.
class TcInit : public Tc, public ::testing::WithParamInterface<bool> {};

TEST_P(TcInit, FailsStartUpAndExitReleasesWhatIsLeft)
{
    const bool loopRefuses = GetParam();
    const int epfd = g_iPbbEpollFd;
    if (loopRefuses)
        g_iPbbEpollFd = -1;
    else
        plat::testing::failCall("TC_Register", 5);
    EXPECT_EQ(PBB_tc_Init(), PBB_ERR);
    g_iPbbEpollFd = epfd;
    EXPECT_EQ(g_ulTcTimerFd, PBB_TMR_INVALID);
    EXPECT_EQ(g_iTcFd >= 0, loopRefuses) << "kept for the exit";
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti) >= 0, loopRefuses);
    PBB_tc_Exit();
    PBB_tc_Exit();
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti), -1);
    EXPECT_EQ(plat::testing::countCalls("STI_Event_Fini"), 1u) << "closed once";
    EXPECT_EQ(plat::testing::countCalls("TC_DeregisterTC"), 2u) << "withdrawn on every exit";
}

INSTANTIATE_TEST_SUITE_P(Tc, TcInit, ::testing::Bool(), ::testing::PrintToStringParamName());

}  // namespace
}  // namespace evtest
