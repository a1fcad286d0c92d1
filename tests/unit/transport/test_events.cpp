// Events over the socket transport: every service's callbacks see what the
// same switch in process gives them, in the same order, batches and all,
// with the switch's state already current inside the callback; their
// acknowledgements reach the switch; a service going away hangs up its
// descriptor.
#include <poll.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/bitmap.h"
#include "platform/result.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/model/inproc.h"
#include "platform/sti.h"
#include "platform/testing.h"
#include "platform/vlan.h"
#include "unit/transport/sim_child.h"

namespace {

std::vector<std::string> g_log;
uint32_t g_ifHandle = 0, g_slotHandle = 0;
int g_l2vpnFd = -1;

std::string items(const IF_EVENT_S* list, uint32_t n, bool slots)
{
    std::string s;
    for (uint32_t i = 0; i < n; ++i)
        s += std::to_string(slots ? list[i].usSlot : list[i].uiIfIndex) + ":" + std::to_string(list[i].uiInfo) + ",";
    return s;
}

// Inside a callback the state of the interface named first is current.
std::string stateOf(const IF_EVENT_S* list, uint32_t n)
{
    uint32_t link = 0;
    if (n == 0) return "";
    uint32_t rc = IF_GetDataByIfIndex(list[0].uiIfIndex, IF_DATA_LINK_STATE, &link);
    return " state=" + std::to_string(rc) + "/" + std::to_string(link) + "/" + std::to_string(IF_IsTempIf(list[0].uiIfIndex));
}

uint32_t onIf(uint32_t ev, IF_EVENT_S* list, uint32_t n, uint32_t ctx, uint32_t* data)
{
    g_log.push_back("if " + std::to_string(ev) + " ctx=" + std::to_string(ctx) + " data=" + std::to_string(*data) + " [" +
                    items(list, n, false) + "]" + stateOf(list, n));
    return IF_NotifyFinalStatus(g_ifHandle, ev, list, n, ctx), 0;
}

uint32_t onLink(uint32_t ev, IF_EVENT_S* list, uint32_t n)
{
    g_log.push_back("link " + std::to_string(ev) + " [" + items(list, n, false) + "]" + stateOf(list, n));
    return 0;
}

uint32_t onSlot(uint32_t ev, IF_EVENT_S* list, uint32_t n, uint32_t ctx)
{
    g_log.push_back("slot " + std::to_string(ev) + " ctx=" + std::to_string(ctx) + " [" + items(list, n, true) + "]");
    return IF_NotifyFinalStatus(g_slotHandle, ev, list, n, ctx), 0;
}

std::string bitmapText(const BITMAP_S* map)
{
    std::string s = map == nullptr ? "all" : "";
    for (uint32_t v = 0; map != nullptr && v <= map->uiSize; ++v)
        if (Bitmap_Check(map, v) != 0) s += std::to_string(v) + ",";
    return s;
}

uint32_t onVlan(uint32_t kind, const VLAN_EVENT_S* ev)
{
    g_log.push_back("vlan " + std::to_string(kind) + " if=" + std::to_string(ev->uiIfIndex) + " vlan=" +
                    std::to_string(ev->usVlanId) + " set=" + (ev->usVlanId == VLAN_ID_SET ? bitmapText(ev->pstVlanBitmap) : "-"));
    return 0;
}

uint32_t onTc(uint32_t instance, const TC_EVENT_S* ev)
{
    std::string ifs = ev->puiIfList == nullptr ? "all" : "";
    for (uint32_t i = 0; ev->puiIfList != nullptr && i < ev->uiIfNum; ++i) ifs += std::to_string(ev->puiIfList[i]) + ",";
    g_log.push_back("tc " + std::to_string(instance) + " vlans=" + bitmapText(ev->pstVlanMap) + " ifs=" + ifs);
    return 0;
}

uint32_t onL2vpn(uint32_t type, const L2VPN_VSI_INFO_S* info)
{
    std::string s = "l2vpn " + std::to_string(type);
    if (info != nullptr) {
        uint32_t max = 0, used = 0;
        L2VPN_GetMaxVsiNum(&max, &used);
        s += " vsi=" + std::to_string(info->uiVsiIndex) + "/" + std::to_string(info->uiFlags) + "/" +
             std::to_string(info->uiISid) + "/" + info->szVsiName + " used=" + std::to_string(used);
        if (type == L2VPN_EVT_VSI_ADD) L2VPN_FinalStatusNotify(g_l2vpnFd, type, info);
    }
    g_log.push_back(s);
    return 0;
}

// The scenario, one command of pbb-simctl after the other.
const char* const kScenario[] = {
    "link down eth-1/0/1", "link up eth-1/0/1", "slot remove 2", "slot insert 2", "if inactive eth-3/0/1",
    "if active eth-3/0/1", "if inactive eth-3/0/2 --discard", "agg join agg-1 eth-2/0/2", "agg leave eth-1/0/3",
    "if delete agg-1", "port add eth-1/0/9 1", "vlan trunk eth-1/0/2 7,300-305", "vlan add eth-1/0/2 306",
    "vlan del eth-1/0/2 7,300", "vlan access eth-1/0/2 5", "stp tc", "stp tc --vlans 100,101",
    "stp tc --ifs eth-1/0/1,eth-2/0/1", "stp tc --vlans none --ifs none", "vsi add 9 vsi-new 4242",
    "vsi isid vsi-new 4343", "vsi down vsi-new", "vsi up vsi-new", "vsi del vsi-red", "l2vpn disable",
    "service down vlan", "service down stp",
};

struct Descriptors {
    int ifm = -1, vlan = -1, sti = -1, l2vpn = -1;
};

Descriptors registerEverything()
{
    Descriptors d;
    d.ifm = IF_Event_Init();
    IF_EVENT_SEL_S sel{};
    IF_Select_Init(5, &sel);
    // A batch of 2 splits the longer lists into several events.
    g_ifHandle = IF_RegIfEvent(1, IF_EVT_DELETE | IF_EVT_INACTIVE | IF_EVT_ACTIVE | IF_EVT_AGG_JOIN | IF_EVT_AGG_LEAVE, 2,
                               &sel, onIf, 0);
    IF_RegLinkEvent(1, IF_EVT_LINK_UP | IF_EVT_LINK_DOWN, 64, 32, onLink, 0);
    g_slotHandle = IF_RegSlotEvent(1, IF_EVT_SLOT_INSERT | IF_EVT_SLOT_REMOVE, 64, onSlot);
    d.vlan = VLAN_EventInit();
    VLAN_RegisterEvent(1, 3, 64, 0, onVlan);
    d.sti = STI_Event_Init();
    TC_Register(onTc);
    d.l2vpn = g_l2vpnFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, onL2vpn);
    L2VPN_RequestBatch(d.l2vpn, L2VPN_BATCH_ALL_VSI);
    g_log.push_back("registered " + std::to_string(d.ifm >= 0) + std::to_string(g_ifHandle != 0) +
                    std::to_string(g_slotHandle != 0) + std::to_string(d.vlan >= 0) + std::to_string(d.sti >= 0) +
                    std::to_string(d.l2vpn >= 0));
    return d;
}

short ready(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 ? p.revents : 0;
}

void dispatch(const Descriptors& d)
{
    while (ready(d.ifm) & POLLIN) IF_ResponseEventPkt(d.ifm);
    while ((ready(d.vlan) & (POLLIN | POLLHUP)) == POLLIN) VLAN_HandleEvent(d.vlan);
    while ((ready(d.sti) & (POLLIN | POLLHUP)) == POLLIN) STI_Event_Handle(d.sti);
    while (ready(d.l2vpn) & POLLIN) L2VPN_HandleMsg(d.l2vpn);
    g_log.push_back(std::string("hang-up vlan=") + ((ready(d.vlan) & POLLHUP) != 0 ? "yes" : "no") +
                    " stp=" + ((ready(d.sti) & POLLHUP) != 0 ? "yes" : "no"));
}

std::vector<std::string> scenario(const std::function<void(const std::vector<std::string>&)>& apply)
{
    g_log.clear();
    Descriptors d = registerEverything();
    dispatch(d);
    for (const char* line : kScenario) {
        g_log.push_back(std::string("== ") + line);
        apply(simcmd::split(line));
        dispatch(d);
    }
    return g_log;
}

using Events = pbbtest::TransportTest;

TEST_F(Events, EveryServiceDeliversWhatTheSwitchInProcessDeliversAndAcknowledgementsArrive)
{
    auto& ref = plat::inproc::reset();
    ASSERT_EQ(simcmd::loadTopology(ref, simcmd::defaultTopology(), "reference").status, 0);
    auto expected = scenario([&](const std::vector<std::string>& words) {
        auto o = simcmd::run(ref, nullptr, words, false);
        EXPECT_EQ(o.status, 0) << o.err;
    });
    std::string expectedAcks = simcmd::run(ref, nullptr, {"show", "acks"}, true).out;

    pbbtest::SimChild sim;
    connect();
    auto got = scenario([](const std::vector<std::string>& words) { pbbtest::must(words); });
    EXPECT_EQ(got, expected);
    EXPECT_EQ(pbbtest::simctl({"show", "acks"}, true).out, expectedAcks);
}

}  // namespace

namespace {

uint32_t g_linkSeen = 0;
size_t g_vlansSeen = 0;

uint32_t onLinkCheckState(uint32_t ev, IF_EVENT_S* list, uint32_t n)
{
    if (ev != IF_EVT_LINK_DOWN || n == 0) return 0;
    IF_GetDataByIfIndex(list[0].uiIfIndex, IF_DATA_LINK_STATE, &g_linkSeen);
    BITMAP_S* map = Bitmap_Create(VLAN_GetMaxVlanID());
    VLAN_GetIfDataByIndex(list[0].uiIfIndex, VLAN_DATA_VLAN_MAP, map);
    g_vlansSeen = Bitmap_Weight(map);
    Bitmap_Destroy(map);
    return 0;
}

TEST_F(Events, AnEventWaitsBehindStateChangesTheDaemonHasNotReadYet)
{
    pbbtest::SimChild sim;
    connect();
    int fd = IF_Event_Init();
    ASSERT_GE(fd, 0);
    ASSERT_NE(IF_RegLinkEvent(1, IF_EVT_LINK_DOWN, 64, 32, onLinkCheckState, 0), 0u);
    // The daemon makes no call meanwhile: state changes pile up, far more
    // than its connection holds (each one is an interface with ~4000 VLANs).
    for (int k = 0; k < 100; ++k)
        ASSERT_NO_FATAL_FAILURE(pbbtest::must({"vlan", "trunk", "eth-1/0/1", k % 2 == 0 ? "1-4094" : "2-4094"}));
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"link", "down", "eth-1/0/1"}));
    // Its event is held until the state before it has been read.
    EXPECT_EQ(ready(fd) & POLLIN, 0);
    // Any call reads what waits; the rest follows, then the event.
    ASSERT_TRUE(pbbtest::eventually([&] {
        (void)VLAN_GetMaxVlanID();
        return (ready(fd) & POLLIN) != 0;
    }));
    ASSERT_EQ(IF_ResponseEventPkt(fd), PLAT_OK);
    EXPECT_EQ(g_linkSeen, IF_LINK_DOWN);
    EXPECT_EQ(g_vlansSeen, 4093u) << "the last VLAN change was read before the event";
}

}  // namespace
