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
using Ports = std::vector<char>;  // 'a', 'b', 'c'

class Tc : public Events {
protected:
    void ExitModule() override { PBB_tc_Exit(); }
    uint32_t port(char p) const { return p == 'a' ? a : p == 'b' ? b : c; }
    std::vector<uint32_t> ports(const Ports& ps) const
    {
        std::vector<uint32_t> out;
        for (char p : ps) out.push_back(port(p));
        return out;
    }
    // A topology change through the switch and the event loop.
    void change(std::optional<std::vector<uint16_t>> vlans, std::optional<Ports> ifs)
    {
        std::optional<std::vector<uint32_t>> ifIndexes;
        if (ifs) ifIndexes = ports(*ifs);
        sw->topologyChange(std::move(vlans), std::move(ifIndexes));
        EXPECT_EQ(serve(), 1);
    }
    void connect()
    {
        ASSERT_EQ(PBB_tc_Init(), PBB_OK);
        ASSERT_GE(g_iTcFd, 0);
        ASSERT_EQ(g_ulTcTimerFd, PBB_TMR_INVALID);
    }
    // One entry in VSI 1 for each of the B-VLANs 10, 20, 30 and the
    // highest, 4094, on each port.
    UcSet learnGrid()
    {
        UcSet all;
        uint8_t tag = 1;
        for (uint16_t vlan : {10, 20, 30, 4094})
            for (uint32_t p : {a, b, c}) {
                Uc e{1, vlan, tag++, p};
                learnTagged(e);
                all.insert(e);
            }
        return all;
    }
};

// Expected deletions: consecutive groups, each in any order within itself.
using Groups = std::vector<std::function<bool(const Uc&)>>;

struct FlushCase {
    const char* name;
    std::optional<std::vector<uint16_t>> vlans;
    std::optional<Ports> ifs;
    // The groups the deletions fall into, in order; port() resolves names.
    std::function<Groups(std::function<uint32_t(char)>)> groups;
};

auto onVlan(uint16_t v) { return [v](const Uc& e) { return std::get<1>(e) == v; }; }

const FlushCase kFlushes[] = {
    {"NeitherFlushesAll", std::nullopt, std::nullopt,
     [](auto) { return Groups{[](const Uc&) { return true; }}; }},
    {"InterfacesInArrayOrder", std::nullopt, Ports{'c', 'a'},
     [](auto port) {
         return Groups{[p = port('c')](const Uc& e) { return std::get<3>(e) == p; },
                       [p = port('a')](const Uc& e) { return std::get<3>(e) == p; }};
     }},
    {"VlansAscending", std::vector<uint16_t>{30, 10}, std::nullopt,
     [](auto) { return Groups{onVlan(10), onVlan(30)}; }},
    {"HighestVlanIncluded", std::vector<uint16_t>{4094, 10}, std::nullopt,
     [](auto) { return Groups{onVlan(10), onVlan(4094)}; }},
    {"EachVlanOfEachInterface", std::vector<uint16_t>{20, 10}, Ports{'b', 'a'},
     [](auto port) {
         Groups g;
         for (char p : {'b', 'a'})
             for (uint16_t v : {10, 20})
                 g.push_back([v, i = port(p)](const Uc& e) { return std::get<1>(e) == v && std::get<3>(e) == i; });
         return g;
     }},
    {"EmptyInterfaceListFlushesNothing", std::nullopt, Ports{}, [](auto) { return Groups{}; }},
    {"EmptyInterfaceListWithVlansFlushesNothing", std::vector<uint16_t>{10}, Ports{}, [](auto) { return Groups{}; }},
    {"EmptyVlanSetFlushesNothing", std::vector<uint16_t>{}, std::nullopt, [](auto) { return Groups{}; }},
};

class TcFlush : public Tc, public ::testing::WithParamInterface<FlushCase> {};

TEST_P(TcFlush, TakesTheCoveredEntriesInOrderFromDriverTableAndDatabase)
{
    connect();
    const UcSet all = learnGrid();
    expectUc(all);
    const uint64_t mark = sw->programCalls().last();

    change(GetParam().vlans, GetParam().ifs);

    const Groups groups = GetParam().groups([this](char p) { return port(p); });
    const std::vector<Uc> deleted = deletedSince(mark);
    // Walk the deletions group by group: each group's entries come
    // together, all of them, before the next group's.
    size_t at = 0;
    UcSet removed;
    for (size_t g = 0; g < groups.size(); ++g) {
        UcSet want;
        for (const Uc& e : all)
            if (groups[g](e)) want.insert(e);
        ASSERT_FALSE(want.empty()) << "group " << g << " selects nothing";
        UcSet got;
        for (; at < deleted.size() && groups[g](deleted[at]); ++at) got.insert(deleted[at]);
        EXPECT_EQ(got, want) << "group " << g;
        removed.insert(want.begin(), want.end());
    }
    EXPECT_EQ(at, deleted.size()) << "deletions beyond the covered entries";
    UcSet kept;
    for (const Uc& e : all)
        if (removed.count(e) == 0) kept.insert(e);
    expectUc(kept);
}

INSTANTIATE_TEST_SUITE_P(Tc, TcFlush, ::testing::ValuesIn(kFlushes),
                         [](const auto& info) { return std::string(info.param.name); });

struct TcTextCase {
    const char* name;
    std::optional<std::vector<uint16_t>> vlans;
    std::optional<Ports> ifs;
    std::vector<std::string> texts;
};

const TcTextCase kTcTexts[] = {
    {"AllInterfacesAllVlans", std::nullopt, std::nullopt,
     {"Receive TC event with all interfaces and all VLANs.\r\n"}},
    {"VlanRunsAndSingles", std::vector<uint16_t>{1, 2, 3, 7, 9, 10}, std::nullopt,
     {"Receive TC event\r\nVLANs number: 6\r\nVLANs:\r\n1 to 3,7,9 to 10\r\n"}},
    {"HighestVlanEndsTheWalk", std::vector<uint16_t>{4093, 4094}, std::nullopt,
     {"Receive TC event\r\nVLANs number: 2\r\nVLANs:\r\n4093 to 4094\r\n"}},
    {"Interfaces", std::nullopt, Ports{'b', 'a'},
     {"Receive TC event\r\nInterfaces number: 2\r\nInterfaces:\r\neth-1/0/2\r\neth-1/0/1\r\n"}},
    {"InterfacesAndVlans", std::vector<uint16_t>{5}, Ports{'c'},
     {"Receive TC event\r\nInterfaces number: 1\r\nInterfaces:\r\neth-1/0/3\r\nVLANs number: 1\r\nVLANs:\r\n5\r\n"}},
    {"LineBreaksBeforeReaching81",
     [] {
         std::vector<uint16_t> v;
         for (uint16_t i = 10; i <= 62; i += 2) v.push_back(i);
         return v;
     }(),
     std::nullopt,
     {"Receive TC event\r\nVLANs number: 27\r\nVLANs:\r\n10,12,14,16,18,20,22,24,26,28,30,32,34,36,38,40,42,44,46,48,50,"
      "52,54,56,58,60,\r\n62\r\n"}},
    {"EmptyInterfaceList", std::nullopt, Ports{}, {"Receive TC event\r\nInterfaces number: 0\r\nInterfaces:\r\n"}},
    {"EmptyVlanSet", std::vector<uint16_t>{}, std::nullopt, {"Receive TC event\r\nVLANs number: 0\r\nVLANs:\r\n"}},
};

class TcText : public Tc, public ::testing::WithParamInterface<TcTextCase> {};

TEST_P(TcText, DescribesTheEventUnderTheEventSwitchOnly)
{
    connect();
    change(GetParam().vlans, GetParam().ifs);
    EXPECT_TRUE(eventTexts().empty()) << "switch off";

    g_uiPbbDbgFlag = PBB_DBG_ERROR | PBB_DBG_PKT;
    change(GetParam().vlans, GetParam().ifs);
    EXPECT_TRUE(eventTexts().empty()) << "other switches";

    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    change(GetParam().vlans, GetParam().ifs);
    EXPECT_EQ(eventTexts(), GetParam().texts);
}

INSTANTIATE_TEST_SUITE_P(Tc, TcText, ::testing::ValuesIn(kTcTexts),
                         [](const auto& info) { return std::string(info.param.name); });

// Long lists of single VLANs; VLANs 4, 6, ... 602 reach exactly 800
// characters.
struct LongVlans {
    const char* name;
    uint16_t first;
    uint16_t last;
};

class TcLongVlans : public Tc, public ::testing::WithParamInterface<LongVlans> {};

TEST_P(TcLongVlans, GoOutInLinesAndPieces)
{
    connect();
    std::vector<uint16_t> vlans;
    for (uint32_t v = GetParam().first; v <= GetParam().last; v += 2) vlans.push_back(static_cast<uint16_t>(v));
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    change(vlans, std::nullopt);

    expectVlanPieces(eventTexts(), "Receive TC event\r\nVLANs number: " + std::to_string(vlans.size()) + "\r\nVLANs:\r\n",
                     vlans);
}

INSTANTIATE_TEST_SUITE_P(Tc, TcLongVlans,
                         ::testing::Values(LongVlans{"EveryOtherVlan", 1, 4093}, LongVlans{"ExactlyEightHundred", 4, 602}),
                         [](const auto& info) { return std::string(info.param.name); });

// Interface names are gathered up to 800 characters; a name that would
// pass that starts the next piece.
TEST_F(Tc, LongInterfaceListsGoOutInPieces)
{
    std::vector<uint32_t> ifs;
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
        names.push_back("eth-1/0/" + std::to_string(100 + i) + std::string(30, 'x'));
        ifs.push_back(sw->addPort(names.back(), 1));
    }
    connect();
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    sw->topologyChange(std::nullopt, ifs);
    ASSERT_EQ(serve(), 1);

    const auto texts = eventTexts();
    ASSERT_GT(texts.size(), 2u);
    std::vector<std::string> got;
    for (size_t i = 0; i < texts.size(); ++i) {
        std::string piece = i == 0 ? texts[i] : texts[i].substr(2);
        EXPECT_LE(piece.size(), 800u) << "piece " << i;
        auto lines = linesOf(piece);
        if (i == 0) {
            ASSERT_GE(lines.size(), 3u);
            EXPECT_EQ(lines[1], "Interfaces number: 60");
            lines.erase(lines.begin(), lines.begin() + 3);
        }
        if (i + 1 < texts.size()) {
            const std::string& next = names[got.size() + lines.size()];
            EXPECT_GE(piece.size() + next.size() + 1, 800u) << "piece " << i << " could have taken " << next;
        }
        got.insert(got.end(), lines.begin(), lines.end());
    }
    EXPECT_EQ(got, names);
}

// At the edge: 17 names of 40 characters and a filler bring the text to
// 778 or 779 characters; a name of 20 then still fits (778 + 20 + 1 is
// below 800) or starts the next piece.
struct NameEdge {
    const char* name;
    size_t filler;
    bool split;
};

class TcNameEdge : public Tc, public ::testing::WithParamInterface<NameEdge> {};

TEST_P(TcNameEdge, ANameThatWouldReach800StartsTheNextPiece)
{
    std::vector<uint32_t> ifs;
    std::vector<std::string> names;
    auto add = [&](size_t len) {
        std::string n = "if" + std::to_string(names.size());
        n.resize(len, 'x');
        names.push_back(n);
        ifs.push_back(sw->addPort(n, 1));
    };
    for (int i = 0; i < 17; ++i) add(40);
    add(GetParam().filler);
    add(20);
    connect();
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    sw->topologyChange(std::nullopt, ifs);
    ASSERT_EQ(serve(), 1);

    std::string first = "Receive TC event\r\nInterfaces number: 19\r\nInterfaces:\r\n";
    for (size_t i = 0; i + 1 < names.size(); ++i) first += names[i] + "\r\n";
    ASSERT_EQ(first.size(), 778 + GetParam().filler - 8);
    std::vector<std::string> want;
    if (GetParam().split)
        want = {first, "\r\n" + names.back() + "\r\n"};
    else
        want = {first + names.back() + "\r\n"};
    EXPECT_EQ(eventTexts(), want);
}

INSTANTIATE_TEST_SUITE_P(Tc, TcNameEdge,
                         ::testing::Values(NameEdge{"Fits", 8, false}, NameEdge{"Reaches800", 9, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Topology changes go unseen while the service is away; each tick tries
// once, and the first tick that connects ends the retrying.
TEST_F(Tc, ServiceAwayAtStartRetriesEverySecondUntilConnected)
{
    sw->setServiceUp(sim::Service::Sti, false);
    EXPECT_EQ(PBB_tc_Init(), PBB_OK) << "not reaching the service is no failure";
    EXPECT_EQ(g_iTcFd, -1);
    ASSERT_NE(g_ulTcTimerFd, PBB_TMR_INVALID);
    EXPECT_NE(plat::testing::callsNamed("Timer_Create").at(0).args.find("1000"), std::string::npos);

    for (int i = 1; i <= 3; ++i) {
        tick();
        EXPECT_EQ(plat::testing::countCalls("STI_Event_Init"), 1u + i);
        EXPECT_EQ(plat::testing::countCalls("TC_Register"), static_cast<size_t>(i));
        EXPECT_EQ(g_iTcFd, -1);
    }
    learn({1, 10, 1, a});
    sw->setServiceUp(sim::Service::Sti, true);
    sw->topologyChange(std::nullopt, std::nullopt);
    tick();
    ASSERT_GE(g_iTcFd, 0);
    EXPECT_EQ(g_ulTcTimerFd, PBB_TMR_INVALID);
    EXPECT_EQ(serve(), 0) << "the change made before the connection is not seen";
    expectUc({{1, 10, 1, a}});

    plat::testing::clearCalls();
    tick();
    tick();
    EXPECT_EQ(plat::testing::countCalls("STI_Event_Init"), 0u) << "timer deleted";
    change(std::nullopt, std::nullopt);
    expectUc({});
}

struct TickFault {
    const char* name;
    std::function<void()> arm;
    size_t finis;    // channels opened on the tick and closed again
    size_t deregs;   // registrations withdrawn on the tick
};

const TickFault kTickFaults[] = {
    {"ChannelNotOpened", [] { plat::testing::failCall("STI_Event_Init", -1); }, 0, 1},
    {"RegistrationRefused", [] { plat::testing::failCall("TC_Register", 5); }, 1, 0},
    {"LoopRefuses", [] { g_iPbbEpollFd = -1; }, 1, 0},
};

class TcTick : public Tc, public ::testing::WithParamInterface<TickFault> {};

TEST_P(TcTick, AFailedTickReleasesWhatItMadeAndTheNextTickConnects)
{
    sw->setServiceUp(sim::Service::Sti, false);
    ASSERT_EQ(PBB_tc_Init(), PBB_OK);
    sw->setServiceUp(sim::Service::Sti, true);
    const uint32_t timer = g_ulTcTimerFd;
    plat::testing::clearCalls();

    const int epfd = g_iPbbEpollFd;
    GetParam().arm();
    tick();
    g_iPbbEpollFd = epfd;
    EXPECT_EQ(g_iTcFd, -1);
    EXPECT_EQ(g_ulTcTimerFd, timer) << "still retrying";
    EXPECT_EQ(plat::testing::countCalls("STI_Event_Fini"), GetParam().finis);
    EXPECT_EQ(plat::testing::countCalls("TC_DeregisterTC"), GetParam().deregs);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti), -1) << "no channel left open";

    plat::testing::clearFaults();
    tick();
    ASSERT_GE(g_iTcFd, 0);
    EXPECT_EQ(g_ulTcTimerFd, PBB_TMR_INVALID);
    learn({1, 20, 1, b});
    change(std::vector<uint16_t>{20}, std::nullopt);
    expectUc({});
}

INSTANTIATE_TEST_SUITE_P(Tc, TcTick, ::testing::ValuesIn(kTickFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// An error or hang-up on the channel tears everything down and starts
// again: at once while the service is there, through the timer otherwise.
TEST_F(Tc, HangUpStartsAgain)
{
    connect();
    const int first = g_iTcFd;
    _pbb_tc_HandleEvent(PBB_EV_ERR, first);
    EXPECT_EQ(plat::testing::countCalls("TC_DeregisterTC"), 1u);
    EXPECT_EQ(plat::testing::callsNamed("STI_Event_Fini").at(0).args, "fd=" + std::to_string(first));
    ASSERT_GE(g_iTcFd, 0) << "reconnected at once";
    EXPECT_EQ(g_ulTcTimerFd, PBB_TMR_INVALID);
    learn({1, 10, 1, a});
    change(std::nullopt, std::nullopt);
    expectUc({});

    sw->setServiceUp(sim::Service::Sti, false);
    EXPECT_EQ(serve(), 1);
    EXPECT_EQ(g_iTcFd, -1);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti), -1) << "the hung-up channel is released";
    ASSERT_NE(g_ulTcTimerFd, PBB_TMR_INVALID) << "waiting for the service";
    EXPECT_EQ(serve(), 0);

    sw->setServiceUp(sim::Service::Sti, true);
    tick();
    ASSERT_GE(g_iTcFd, 0);
    EXPECT_EQ(g_ulTcTimerFd, PBB_TMR_INVALID);
    learn({1, 20, 2, b});
    change(std::vector<uint16_t>{20}, Ports{'b'});
    expectUc({});
}

struct InitFault {
    const char* name;
    std::function<void()> arm;
    bool channelKept;  // recorded for the exit to release
};

const InitFault kInitFaults[] = {
    {"RegistrationRefused", [] { plat::testing::failCall("TC_Register", 5); }, false},
    {"LoopRefuses", [] { g_iPbbEpollFd = -1; }, true},
};

class TcInit : public Tc, public ::testing::WithParamInterface<InitFault> {};

TEST_P(TcInit, FailsStartUpAndExitReleasesWhatIsLeft)
{
    const int epfd = g_iPbbEpollFd;
    GetParam().arm();
    EXPECT_EQ(PBB_tc_Init(), PBB_ERR);
    g_iPbbEpollFd = epfd;
    EXPECT_EQ(g_ulTcTimerFd, PBB_TMR_INVALID) << "no retrying";
    EXPECT_EQ(g_iTcFd >= 0, GetParam().channelKept);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti) >= 0, GetParam().channelKept);

    PBB_tc_Exit();
    PBB_tc_Exit();
    EXPECT_EQ(g_iTcFd, -1);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Sti), -1);
    EXPECT_EQ(plat::testing::countCalls("STI_Event_Fini"), 1u) << "closed once";
    EXPECT_EQ(plat::testing::countCalls("TC_DeregisterTC"), 2u) << "withdrawn on every exit";
}

INSTANTIATE_TEST_SUITE_P(Tc, TcInit, ::testing::ValuesIn(kInitFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace evtest
