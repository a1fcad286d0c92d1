// VLAN membership events: the control blocks' VLAN sets, the multicast
// ports of the VSIs whose B-VLAN an uplink gains or loses, the learned
// entries of a VLAN it leaves, the debug text, and the channel.
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
};

// VSIs 1 to 4 have the B-VLANs 20, 12, 11 and 10 and uplink a. A set is handled VLAN by VLAN in
// ascending order, whatever the VSIs' indexes; a VLAN a leaves takes a's
// port from the VSIs on it and the entries learned on a in it, B-VLAN or
// not; a VLAN gained while the link is down adds no port.
TEST_F(Vlan, MembershipFollowsTheSetInAscendingOrder)
{
    sw->setVlans(a, {});
    const uint16_t bvlan[] = {20, 12, 11, 10};
    for (uint32_t v = 1; v <= 4; ++v) {
        const std::string name = "vsi-" + std::to_string(v);
        sw->addVsi(v, name, 1000 + v);
        vsi(v, name.c_str(), 1000 + v, bvlan[v - 1]);
        attach(v, a);
    }
    ASSERT_EQ(PBB_vlan_Init(), PBB_OK);
    const uint64_t mark = sw->programCalls().last();

    sw->setVlans(a, {10, 11, 12, 20, 30});
    EXPECT_EQ(serve(), 1);
    std::vector<uint32_t> order;
    for (const sim::ProgramCall& call : sw->programCalls().since(mark))
        if (call.call == "L2VPN_AddMinMEntry" && call.minm) order.push_back(call.minm->entry.uiVsiIndex);
    EXPECT_EQ(order, (std::vector<uint32_t>{4, 3, 2, 1}));
    EXPECT_EQ(ctltest::vlansOf(a), (VlanSet{10, 11, 12, 20, 30}));
    for (uint32_t v = 1; v <= 4; ++v) expectMc(v, {a});

    for (const Uc& e : {Uc{3, 11, 1, a}, Uc{4, 10, 2, a}, Uc{1, 30, 3, a}, Uc{1, 20, 4, c}}) learn(e);
    sw->setVlans(a, {10, 12});
    EXPECT_GE(serve(), 1);
    EXPECT_EQ(ctltest::vlansOf(a), (VlanSet{10, 12}));
    for (uint32_t v = 1; v <= 4; ++v) expectMc(v, v % 2 == 0 ? std::vector<uint32_t>{a} : std::vector<uint32_t>{});
    expectUc({{4, 10, 2, a}, {1, 20, 4, c}});

    PBB_ifcb_Get(a)->usLinkUp = 0;
    sw->setVlans(a, {10, 12, 20});
    EXPECT_GE(serve(), 1);
    EXPECT_EQ(ctltest::vlansOf(a), (VlanSet{10, 12, 20}));
    expectMc(1, {});
}

struct VlanTextCase {
    const char* name;
    uint32_t kind;
    char port;       // 'a' has a control block, 'x' is unknown
    uint16_t vlan;   // VLAN_ID_SET: the set below
    VlanSet set;
    std::string text;
    VlanSet after;   // a's VLAN set afterwards
    bool noBitmap = false;
};

const VlanTextCase kVlanTexts[] = {
    {"Added", VLAN_EVT_ADDED, 'a', 30, {}, "Receive event: interface eth-1/0/1 added to VLAN 30.\r\n", {10, 20, 30}},
    {"Deleted", VLAN_EVT_DELETED, 'a', 20, {}, "Receive event: interface eth-1/0/1 deleted from VLAN 20.\r\n", {10}},
    {"OtherKindSet", 7, 'a', VLAN_ID_SET, {10, 20},
     "Receive event: interface eth-1/0/1  VLAN\r\nVLANs number: 2\r\nVLANs:\r\n10,20\r\n", {10, 20}},
    {"UnknownInterfaceWithoutControlBlock", VLAN_EVT_DELETED, 'x', 10, {},
     "Receive event: interface  deleted from VLAN 10.\r\n", {10, 20}},
    {"SetWithoutBitmap", VLAN_EVT_DELETED, 'a', VLAN_ID_SET, {10, 20},
     "Receive event: interface eth-1/0/1 deleted from VLAN\r\nVLANs number: 0\r\nVLANs:\r\n", {10, 20}, true},
    {"HighestVlan", VLAN_EVT_ADDED, 'a', VLAN_ID_SET, {4093, 4094},
     "Receive event: interface eth-1/0/1 added to VLAN\r\nVLANs number: 2\r\nVLANs:\r\n4093 to 4094\r\n",
     {10, 20, 4093, 4094}},
};

class VlanText : public Vlan, public ::testing::WithParamInterface<VlanTextCase> {};

TEST_P(VlanText, PrintedUnderTheEventSwitch)
{
    const auto& tc = GetParam();
    ASSERT_NE(PBB_ifcb_Create(a), nullptr);
    BITMAP_S* map = Bitmap_Create(4094);
    for (uint16_t v : tc.set) Bitmap_Set(map, v);
    VLAN_EVENT_S ev{.uiIfIndex = tc.port == 'a' ? a : 999,
                    .usVlanId = tc.vlan,
                    .usReserved = 0,
                    .pstVlanBitmap = tc.vlan == VLAN_ID_SET && !tc.noBitmap ? map : nullptr};

    g_uiPbbDbgFlag = PBB_DBG_ERROR | PBB_DBG_PKT;
    EXPECT_EQ(_pbb_vlan_EventCallBack(tc.kind, &ev), 0u);
    EXPECT_TRUE(eventTexts().empty()) << "other switches";
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    EXPECT_EQ(_pbb_vlan_EventCallBack(tc.kind, &ev), 0u);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{tc.text});
    EXPECT_EQ(ctltest::vlansOf(a), tc.after);
    Bitmap_Destroy(map);
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanText, ::testing::ValuesIn(kVlanTexts), ctltest::byName);

// Every other VLAN (several pieces), VLANs 2 to 600 (the text reaches
// exactly 800 characters), and from 10 (27 items fill the first line's 81
// columns).
class VlanLongList : public Vlan, public ::testing::WithParamInterface<Range> {};

TEST_P(VlanLongList, GoesOutInLinesAndPieces)
{
    sw->setVlans(a, {});
    ASSERT_EQ(PBB_vlan_Init(), PBB_OK);
    const std::vector<uint16_t> vlans = evenVlans(GetParam().first, GetParam().second);
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
    sw->setVlans(a, VlanSet(vlans.begin(), vlans.end()));
    EXPECT_EQ(serve(), 1);
    expectVlanPieces(eventTexts(),
                     "Receive event: interface eth-1/0/1 added to VLAN\r\nVLANs number: " + std::to_string(vlans.size()) +
                         "\r\nVLANs:\r\n",
                     vlans);
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanLongList, ::testing::Values(Range{1, 4093}, Range{2, 600}, Range{10, 600}),
                         byRange);

// After an error or a hang-up the channel is opened again at once (the
// retrying while the service is away is tested with the interface
// manager's channel); what was readable in the same wake-up is handled
// first, what was not is lost with the old channel, and later changes are
// followed on the new one.
class VlanBroken : public Vlan, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(VlanBroken, TheChannelIsOpenedAgainAndLaterChangesAreFollowed)
{
    ASSERT_NE(PBB_ifcb_Create(a), nullptr);
    ASSERT_EQ(PBB_vlan_Init(), PBB_OK);
    sw->setVlans(a, {10, 20, 30});
    const int old = g_iPbbVlanEvtFd;
    EXPECT_EQ(_pbb_vlan_EpollCallBack(GetParam(), old), 0u);
    EXPECT_EQ(plat::testing::callsNamed("VLAN_EventFini").at(0).args, "fd=" + std::to_string(old));
    EXPECT_EQ(plat::testing::countCalls("VLAN_EventInit"), 2u) << "opened again";
    EXPECT_NE(g_uiPbbVlanEvt, 0u);
    const VlanSet seen = (GetParam() & PBB_EV_IN) != 0 ? VlanSet{10, 20, 30} : VlanSet{10, 20};
    EXPECT_EQ(ctltest::vlansOf(a), seen);

    sw->setVlans(a, {10, 20, 100});
    EXPECT_EQ(serve(), 1);
    EXPECT_EQ(ctltest::vlansOf(a), (VlanSet{10, 20, 100}));
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanBroken, ::testing::Values(PBB_EV_ERR, PBB_EV_IN | PBB_EV_HUP),
                         [](const auto& i) { return std::string(i.param == PBB_EV_ERR ? "Error" : "HangUp"); });

// Start-up: registered once for both kinds, or failed with the descriptor
// left to the shutdown; the exit, run twice, releases it once.
struct VlanInitCase {
    const char* name;
    std::function<void()> arm;
    uint32_t result;
    size_t registers;  // VLAN_RegisterEvent calls
    bool fdKept;
};

const VlanInitCase kVlanInits[] = {
    {"Registers", [] {}, PBB_OK, 1, true},
    {"NoChannel", [] { plat::testing::failCall("VLAN_EventInit", -1); }, PBB_ERR, 0, false},
    {"LoopRefuses", [] { g_iPbbEpollFd = -1; }, PBB_ERR, 0, true},
    {"RegistrationRefused", [] { plat::testing::failCall("VLAN_RegisterEvent", 0); }, PBB_ERR, 1, true},
};

class VlanInit : public Vlan, public ::testing::WithParamInterface<VlanInitCase> {};

TEST_P(VlanInit, StartsOnceAndLeavesTheDescriptorToTheShutdown)
{
    const auto& tc = GetParam();
    const int epfd = g_iPbbEpollFd;
    tc.arm();
    EXPECT_EQ(PBB_vlan_Init(), tc.result);
    g_iPbbEpollFd = epfd;
    EXPECT_EQ(g_iPbbVlanEvtFd >= 0, tc.fdKept);
    if (tc.fdKept) {
        EXPECT_EQ(PBB_vlan_Init(), PBB_OK);
        EXPECT_EQ(plat::testing::countCalls("VLAN_EventInit"), 1u) << "a recorded descriptor is not opened again";
    }
    EXPECT_EQ(plat::testing::countCalls("VLAN_RegisterEvent"), tc.registers);
    for (const auto& call : plat::testing::callsNamed("VLAN_RegisterEvent"))
        EXPECT_EQ(call.args.rfind("module=0x22f0000 mask=0x3 batch=64 flags=0", 0), 0u);
    const uint32_t handle = g_uiPbbVlanEvt;
    PBB_vlan_Exit();
    PBB_vlan_Exit();
    EXPECT_EQ(plat::inproc::channelFd(sim::Service::Vlan), -1);
    EXPECT_EQ(plat::testing::countCalls("VLAN_DeregisterEvent"), tc.result == PBB_OK ? 1u : 0u);
    for (const auto& call : plat::testing::callsNamed("VLAN_DeregisterEvent"))
        EXPECT_EQ(call.args, "handle=" + std::to_string(handle) + " mask=0x3");
    EXPECT_EQ(plat::testing::countCalls("VLAN_EventFini"), tc.fdKept ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Vlan, VlanInit, ::testing::ValuesIn(kVlanInits), ctltest::byName);

}  // namespace
}  // namespace evtest
