// VLAN membership events: the control blocks' VLAN sets, the multicast
// ports of the VSIs whose B-VLAN an uplink gains or loses, the learned
// entries of a B-VLAN it leaves, the debug text, and the channel.
#include "daemon/pbb_vlan.h"
#include "events_test.h"

#include <functional>
#include <set>

namespace evtest {
namespace {

using ctltest::Uc;
using ctltest::UcSet;
using VlanSet = std::set<uint16_t>;

class Vlan : public Events {
protected:
    void ExitModule() override { PBB_vlan_Exit(); }
    void open()
    {
        ASSERT_EQ(PBB_vlan_Init(), PBB_OK);
        ASSERT_GE(g_iPbbVlanEvtFd, 0);
        ASSERT_NE(g_uiPbbVlanEvt, 0u);
    }
    static VlanSet vlanSetOf(uint32_t ifIndex)
    {
        VlanSet out;
        const PbbIfCb* cb = PBB_ifcb_Get(ifIndex);
        for (uint32_t v = 0; cb != nullptr && v <= cb->pstVlanMap->uiSize; ++v)
            if (Bitmap_Check(cb->pstVlanMap, v) == 1) out.insert(static_cast<uint16_t>(v));
        return out;
    }
    static VLAN_EVENT_S single(uint32_t ifIndex, uint16_t vlan)
    {
        VLAN_EVENT_S ev{};
        ev.uiIfIndex = ifIndex;
        ev.usVlanId = vlan;
        return ev;
    }
};

// VSI 1 has B-VLAN 100 and uplinks a and b (b carries 100); VSI 2 has
// B-VLAN 200 and uplink a. Port a goes from one VLAN set to another.
struct MembershipCase {
    const char* name;
    VlanSet before;
    VlanSet after;
    std::vector<char> mc1;  // ports of VSI 1's entry afterwards
    std::vector<char> mc2;
    std::vector<int> gone;  // learned entries withdrawn (indexes into kLearned)
    std::function<void(sim::SwitchModel&, uint32_t a)> setup = [](sim::SwitchModel&, uint32_t) {};
};

const MembershipCase kMembership[] = {
    {"GainsBVlan", {10}, {10, 100}, {'a', 'b'}, {}, {}},
    {"GainsOtherVlan", {10}, {10, 300}, {'b'}, {}, {}},
    {"GainsBothBVlansAsASet", {10}, {10, 100, 200}, {'a', 'b'}, {'a'}, {}},
    {"GainsBVlanWithLinkDown", {10}, {10, 100}, {'b'}, {}, {},
     [](sim::SwitchModel& sw, uint32_t a) { sw.setLink(a, false); }},
    {"LosesBVlan", {10, 100, 200}, {10, 200}, {'b'}, {'a'}, {0}},
    {"LosesOtherVlan", {10, 100, 200}, {100, 200}, {'a', 'b'}, {'a'}, {3}},
    {"LosesBothBVlansAsASet", {10, 100, 200}, {10}, {'b'}, {}, {0, 2}},
};

// Index 1 is b's entry in B-VLAN 100, which no change of a touches.
const char kLearnedOn[] = {'a', 'b', 'a', 'a'};
const uint16_t kLearnedVlan[] = {100, 100, 200, 10};

class VlanMembership : public Vlan, public ::testing::WithParamInterface<MembershipCase> {};

TEST_P(VlanMembership, FollowsTheVlanSetPortsAndEntries)
{
    const auto& tc = GetParam();
    auto port = [this](char p) { return p == 'a' ? a : b; };
    auto ports = [&](const std::vector<char>& ps) {
        std::vector<uint32_t> out;
        for (char p : ps) out.push_back(port(p));
        std::sort(out.begin(), out.end());
        return out;
    };
    sw->setVlans(a, tc.before);
    sw->setVlans(b, {100});
    tc.setup(*sw, a);
    vsi(1, "vsi-a", 1001, 100);
    vsi(2, "vsi-b", 1002, 200);
    attach(1, a);
    attach(2, a);
    attach(1, b);
    PBB_ctl_ActiveVsi(1);
    PBB_ctl_ActiveVsi(2);
    UcSet all;
    for (size_t i = 0; i < std::size(kLearnedOn); ++i) {
        Uc e{kLearnedVlan[i] == 200 ? 2u : 1u, kLearnedVlan[i], static_cast<uint8_t>(i + 1), port(kLearnedOn[i])};
        learn(e);
        all.insert(e);
    }
    open();

    sw->setVlans(a, tc.after);
    EXPECT_GE(serve(), 1);

    EXPECT_EQ(vlanSetOf(a), tc.after);
    EXPECT_EQ(vlanSetOf(b), VlanSet{100}) << "the other interface's set";
    expectMc(1, ports(tc.mc1));
    expectMc(2, ports(tc.mc2));
    UcSet kept = all;
    for (int i : tc.gone) kept.erase(Uc{kLearnedVlan[i] == 200 ? 2u : 1u, kLearnedVlan[i], uint8_t(i + 1), a});
    ASSERT_EQ(kept.size(), all.size() - tc.gone.size());
    expectUc(kept);
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanMembership, ::testing::ValuesIn(kMembership),
                         [](const auto& info) { return std::string(info.param.name); });

// A set is handled VLAN by VLAN in ascending order: the VSIs whose B-VLANs
// are 10, 11, 12 and 20 get their port in that order, whatever their
// indexes, and the text names the runs.
TEST_F(Vlan, ASetIsHandledInAscendingOrderAndPrintedAsRuns)
{
    sw->setVlans(a, {});
    const uint16_t bvlan[] = {20, 12, 11, 10};  // of VSIs 1 to 4
    for (uint32_t v = 1; v <= 4; ++v) {
        const std::string name = "vsi-" + std::to_string(v);
        sw->addVsi(v, name, 1000 + v);
        vsi(v, name.c_str(), 1000 + v, bvlan[v - 1]);
        attach(v, a);
    }
    open();
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    const uint64_t mark = sw->programCalls().last();

    sw->setVlans(a, {10, 11, 12, 20});
    EXPECT_EQ(serve(), 1);

    std::vector<uint32_t> order;
    for (const sim::ProgramCall* c : sw->programCalls().since(mark))
        if (c->call == "L2VPN_AddMinMEntry" && c->minm) order.push_back(c->minm->entry.uiVsiIndex);
    EXPECT_EQ(order, (std::vector<uint32_t>{4, 3, 2, 1}));
    for (uint32_t v = 1; v <= 4; ++v) expectMc(v, {a});
    EXPECT_EQ(eventTexts(), std::vector<std::string>{"Receive event: interface eth-1/0/1 added to VLAN\r\n"
                                                     "VLANs number: 4\r\nVLANs:\r\n10 to 12,20\r\n"});

    plat::testing::clearCalls();
    sw->setVlans(a, {11});
    EXPECT_EQ(serve(), 1);
    for (uint32_t v : {1u, 2u, 4u}) expectMc(v, {});
    expectMc(3, {a});
    EXPECT_EQ(eventTexts(), std::vector<std::string>{"Receive event: interface eth-1/0/1 deleted from VLAN\r\n"
                                                     "VLANs number: 3\r\nVLANs:\r\n10,12,20\r\n"});
}

struct VlanTextCase {
    const char* name;
    uint32_t kind;
    char port;          // 'a' has a control block, 'c' none, 'x' is unknown
    uint16_t vlan;      // VLAN_ID_SET: the set below
    VlanSet set;
    std::string text;
    VlanSet after;      // a's VLAN set afterwards
    bool noBitmap = false;  // a set event whose bitmap is missing
};

// 27 items of three characters: 81 with the last.
const VlanSet kEvenTo62 = [] {
    VlanSet v;
    for (uint16_t i = 10; i <= 62; i += 2) v.insert(i);
    return v;
}();

const VlanTextCase kVlanTexts[] = {
    {"Added", VLAN_EVT_ADDED, 'a', 30, {}, "Receive event: interface eth-1/0/1 added to VLAN 30.\r\n", {10, 20, 30}},
    {"Deleted", VLAN_EVT_DELETED, 'a', 20, {}, "Receive event: interface eth-1/0/1 deleted from VLAN 20.\r\n", {10}},
    {"OtherKindChangesNothing", 3, 'a', 10, {}, "Receive event: interface eth-1/0/1  VLAN 10.\r\n", {10, 20}},
    {"OtherKindSet", 7, 'a', VLAN_ID_SET, {10, 20},
     "Receive event: interface eth-1/0/1  VLAN\r\nVLANs number: 2\r\nVLANs:\r\n10,20\r\n", {10, 20}},
    {"NoControlBlock", VLAN_EVT_DELETED, 'c', 10, {}, "Receive event: interface eth-1/0/3 deleted from VLAN 10.\r\n",
     {10, 20}},
    {"UnknownInterface", VLAN_EVT_ADDED, 'x', 5, {}, "Receive event: interface  added to VLAN 5.\r\n", {10, 20}},
    {"EmptySet", VLAN_EVT_ADDED, 'a', VLAN_ID_SET, {},
     "Receive event: interface eth-1/0/1 added to VLAN\r\nVLANs number: 0\r\nVLANs:\r\n", {10, 20}},
    {"SetWithoutBitmap", VLAN_EVT_DELETED, 'a', VLAN_ID_SET, {10, 20},
     "Receive event: interface eth-1/0/1 deleted from VLAN\r\nVLANs number: 0\r\nVLANs:\r\n", {10, 20}, true},
    {"LineBreaksBeforeReaching81", VLAN_EVT_ADDED, 'a', VLAN_ID_SET, kEvenTo62,
     "Receive event: interface eth-1/0/1 added to VLAN\r\nVLANs number: 27\r\nVLANs:\r\n10,12,14,16,18,20,22,24,26,"
     "28,30,32,34,36,38,40,42,44,46,48,50,52,54,56,58,60,\r\n62\r\n",
     kEvenTo62},
    {"HighestVlan", VLAN_EVT_ADDED, 'a', VLAN_ID_SET, {4093, 4094},
     "Receive event: interface eth-1/0/1 added to VLAN\r\nVLANs number: 2\r\nVLANs:\r\n4093 to 4094\r\n",
     {10, 20, 4093, 4094}},
};

class VlanText : public Vlan, public ::testing::WithParamInterface<VlanTextCase> {};

TEST_P(VlanText, PrintedUnderTheEventSwitch)
{
    const auto& tc = GetParam();
    ASSERT_NE(PBB_ifcb_Create(a), nullptr);
    const uint32_t ifIndex = tc.port == 'a' ? a : tc.port == 'c' ? c : 999;
    BITMAP_S* map = Bitmap_Create(4094);
    for (uint16_t v : tc.set) Bitmap_Set(map, v);
    VLAN_EVENT_S ev = single(ifIndex, tc.vlan);
    if (tc.vlan == VLAN_ID_SET && !tc.noBitmap) ev.pstVlanBitmap = map;

    EXPECT_EQ(_pbb_vlan_EventCallBack(tc.kind, &ev), 0u);
    EXPECT_TRUE(eventTexts().empty()) << "switch off";
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    EXPECT_EQ(_pbb_vlan_EventCallBack(tc.kind, &ev), 0u);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{tc.text});
    EXPECT_EQ(vlanSetOf(a), tc.after);
    EXPECT_EQ(PBB_ifcb_Get(c), nullptr) << "no control block made";
    Bitmap_Destroy(map);
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanText, ::testing::ValuesIn(kVlanTexts),
                         [](const auto& info) { return std::string(info.param.name); });

// Long lists; VLANs 2, 4, ... 600 reach exactly 800 characters.
class VlanLongList : public Vlan, public ::testing::WithParamInterface<std::pair<uint16_t, uint16_t>> {};

TEST_P(VlanLongList, GoesOutInLinesAndPieces)
{
    open();
    sw->setVlans(a, {});
    serve();
    std::set<uint16_t> set;
    for (uint32_t v = GetParam().first; v <= GetParam().second; v += 2) set.insert(static_cast<uint16_t>(v));
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    sw->setVlans(a, set);
    EXPECT_EQ(serve(), 1);
    expectVlanPieces(eventTexts(),
                     "Receive event: interface eth-1/0/1 added to VLAN\r\nVLANs number: " + std::to_string(set.size()) +
                         "\r\nVLANs:\r\n",
                     std::vector<uint16_t>(set.begin(), set.end()));
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanLongList,
                         ::testing::Values(std::pair<uint16_t, uint16_t>{1, 4093}, std::pair<uint16_t, uint16_t>{2, 600}));

// More events than one dispatch delivers: the descriptor stays readable
// and the loop comes back for the rest.
TEST_F(Vlan, EventsBeyondOneBatchAreServedOnLaterTurns)
{
    ASSERT_NE(PBB_ifcb_Create(a), nullptr);
    open();
    for (uint16_t v = 100; v < 150; ++v) sw->setVlans(a, {v});  // a deletion and an addition each
    EXPECT_EQ(serve(), 2);
    EXPECT_EQ(plat::testing::countCalls("VLAN_HandleEvent"), 2u);
    EXPECT_EQ(vlanSetOf(a), VlanSet{149});
}

// After an error or hang-up the channel stays closed and membership is no
// longer followed, even with the service there.
struct Breakage {
    const char* name;
    std::function<void(sim::SwitchModel&)> happen;
};

const Breakage kBreakages[] = {
    {"ServiceGoesAway",
     [](sim::SwitchModel& sw) {
         sw.setServiceUp(sim::Service::Vlan, false);
         EXPECT_EQ(serve(), 1);
         sw.setServiceUp(sim::Service::Vlan, true);
     }},
    {"ErrorOnTheDescriptor", [](sim::SwitchModel&) { _pbb_vlan_EpollCallBack(PBB_EV_ERR, g_iPbbVlanEvtFd); }},
    {"HangUpWithEventsWaiting",
     [](sim::SwitchModel& sw) {
         sw.setVlans(PBB_ifcb_GetFirst()->uiIfIndex, {10, 20, 30});
         _pbb_vlan_EpollCallBack(PBB_EV_IN | PBB_EV_HUP, g_iPbbVlanEvtFd);
     }},
};

class VlanBroken : public Vlan, public ::testing::WithParamInterface<Breakage> {};

TEST_P(VlanBroken, LaterChangesHaveNoEffect)
{
    vsi(1, "vsi-a", 1001, 100);
    attach(1, a);
    open();
    const VlanSet before = std::string(GetParam().name) == "HangUpWithEventsWaiting" ? VlanSet{10, 20, 30}
                                                                                       : VlanSet{10, 20};
    GetParam().happen(*sw);
    EXPECT_EQ(vlanSetOf(a), before) << "what was readable was handled first";
    EXPECT_EQ(g_iPbbVlanEvtFd, -1);
    EXPECT_EQ(g_uiPbbVlanEvt, 0u);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Vlan), -1) << "released";

    sw->setVlans(a, {10, 20, 100});
    EXPECT_EQ(serve(), 0);
    EXPECT_EQ(vlanSetOf(a), before);
    expectMc(1, {});
    EXPECT_EQ(plat::testing::countCalls("VLAN_EventInit"), 1u) << "not opened again";
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanBroken, ::testing::ValuesIn(kBreakages),
                         [](const auto& info) { return std::string(info.param.name); });

struct VlanInitCase {
    const char* name;
    std::function<void()> arm;
    bool registers;   // VLAN_RegisterEvent called
    bool fdKept;      // descriptor recorded for the shutdown
};

const VlanInitCase kVlanInits[] = {
    {"NoChannel", [] { plat::testing::failCall("VLAN_EventInit", -1); }, false, false},
    {"LoopRefuses", [] { g_iPbbEpollFd = -1; }, false, true},
    {"RegistrationRefused", [] { plat::testing::failCall("VLAN_RegisterEvent", 0); }, true, true},
};

class VlanInit : public Vlan, public ::testing::WithParamInterface<VlanInitCase> {};

TEST_P(VlanInit, FailsAndLeavesTheDescriptorToTheShutdown)
{
    const int epfd = g_iPbbEpollFd;
    GetParam().arm();
    EXPECT_EQ(PBB_vlan_Init(), PBB_ERR);
    g_iPbbEpollFd = epfd;
    EXPECT_EQ(plat::testing::countCalls("VLAN_RegisterEvent"), GetParam().registers ? 1u : 0u);
    EXPECT_EQ(g_uiPbbVlanEvt, 0u);
    EXPECT_EQ(g_iPbbVlanEvtFd >= 0, GetParam().fdKept);
    PBB_vlan_Exit();
    PBB_vlan_Exit();
    EXPECT_EQ(g_iPbbVlanEvtFd, -1);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Vlan), -1);
    EXPECT_EQ(plat::testing::countCalls("VLAN_DeregisterEvent"), 0u) << "nothing registered";
    EXPECT_EQ(plat::testing::countCalls("VLAN_EventFini"), GetParam().fdKept ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanInit, ::testing::ValuesIn(kVlanInits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Vlan, RegistersOnceForBothKindsAndExitsOnce)
{
    open();
    EXPECT_EQ(PBB_vlan_Init(), PBB_OK) << "already open";
    EXPECT_EQ(plat::testing::countCalls("VLAN_EventInit"), 1u);
    EXPECT_EQ(plat::testing::callsNamed("VLAN_RegisterEvent").at(0).args, "module=0x22f0000 mask=0x3 batch=64 flags=0");
    const uint32_t handle = g_uiPbbVlanEvt;
    PBB_vlan_Exit();
    PBB_vlan_Exit();
    ASSERT_EQ(plat::testing::countCalls("VLAN_DeregisterEvent"), 1u);
    EXPECT_EQ(plat::testing::callsNamed("VLAN_DeregisterEvent").at(0).args,
              "handle=" + std::to_string(handle) + " mask=0x3");
    EXPECT_EQ(plat::testing::countCalls("VLAN_EventFini"), 1u);
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Vlan), -1);
}

}  // namespace
}  // namespace evtest
