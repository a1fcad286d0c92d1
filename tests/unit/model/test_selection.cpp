// What a registration selected is all it receives, no more at a time than
// its batch; a VLAN map is rewritten rather than added to, and a VLAN past
// the range is refused; a line-card report keeps its records in order; a
// destroyed private-data instance gives its data back. Everything else
// these services deliver is checked through the daemon's suites and the
// switch commands.
#include <vector>

#include "model_test.h"
#include "platform/bitmap.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/model/line_report.h"
#include "platform/result.h"
#include "platform/sti.h"
#include "platform/vlan.h"

namespace {

std::vector<uint32_t> g_kinds;

uint32_t recordL2vpnKind(uint32_t type, const L2VPN_VSI_INFO_S*) { return g_kinds.push_back(type), 0; }
uint32_t recordVlanKind(uint32_t kind, const VLAN_EVENT_S*) { return g_kinds.push_back(kind), 0; }

using Selection = pbbtest::ModelTest;

TEST_F(Selection, SelectedEventsOnlyAVlanMapRewrittenAReportInOrderAndDestroyedDataGivenBack)
{
    g_kinds.clear();
    int fd = L2VPN_Register(0, 0x1, L2VPN_CLIENT_MINM, recordL2vpnKind);  // additions only
    sw->addVsi(4, "vsi-c", 400);
    sw->setVsiDown(4, true);
    sw->deleteVsi(4);
    L2VPN_HandleMsg(fd);
    EXPECT_EQ(g_kinds, (std::vector<uint32_t>{L2VPN_EVT_VSI_ADD}));

    g_kinds.clear();
    sw->addSlot(1);
    uint32_t p = sw->addPort("eth-1/0/1", 1);
    fd = VLAN_EventInit();
    ASSERT_NE(VLAN_RegisterEvent(0x022F0000, 1, 1, 0, recordVlanKind), 0u);  // added only, one a call
    sw->setVlans(p, {5, 6});
    sw->setVlans(p, {});
    sw->setVlans(p, {7});
    VLAN_HandleEvent(fd);
    EXPECT_EQ(g_kinds, (std::vector<uint32_t>{VLAN_EVT_ADDED})) << "one event a call";
    VLAN_HandleEvent(fd);
    EXPECT_EQ(g_kinds, (std::vector<uint32_t>{VLAN_EVT_ADDED, VLAN_EVT_ADDED}));

    // A VLAN map is rewritten; a VLAN past the range is refused.
    sw->setVlans(p, {10, 999});
    BITMAP_S* map = Bitmap_Create(VLAN_GetMaxVlanID());
    Bitmap_Set(map, 5);
    ASSERT_EQ(VLAN_GetIfDataByIndex(p, VLAN_DATA_VLAN_MAP, map), 0u);
    EXPECT_EQ(Bitmap_Weight(map), 2u);
    Bitmap_Destroy(map);
    uint16_t state = 0;
    EXPECT_EQ(STI_GetVlanState(p, VLAN_GetMaxVlanID() + 1, &state), PLAT_ERR_PARAM) << "a VLAN past the range";

    EXPECT_EQ(sim::encodeReport({sim::RawTlv{7, {1}}, sim::RawTlv{8, {2}}}),
              (std::vector<uint8_t>{0, 7, 0, 1, 1, 0, 8, 0, 1, 2}));

    // Destroying an instance hands each interface's data to the destroy function.
    int freed = 0;  // each datum points at it; the destroy function counts
    uint32_t h = IF_CreatePDInstance(IF_PD_KIND_IFINDEX, 0);
    for (uint32_t port : {p, sw->addPort("eth-1/0/2", 1)}) ASSERT_EQ(IF_SetPrivateData(h, port, &freed), 0u);
    ASSERT_EQ(IF_DestroyPDInstance(h, [](void* p) { ++*static_cast<int*>(p); }), 0u);
    EXPECT_EQ(freed, 2);
}

}  // namespace
