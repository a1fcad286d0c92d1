// VLAN membership events and topology-change notifications.
#include <optional>
#include <vector>

#include "model_test.h"
#include "platform/bitmap.h"
#include "platform/sti.h"
#include "platform/vlan.h"

namespace {

std::vector<uint16_t> bits(const BITMAP_S* map)
{
    std::vector<uint16_t> out;
    for (uint32_t v = 0; map != nullptr && v <= map->uiSize; ++v)
        if (Bitmap_Check(map, v) == 1) out.push_back(static_cast<uint16_t>(v));
    return out;
}

struct VlanSeen {
    uint32_t kind;
    uint32_t ifIndex;
    uint16_t vlanId;
    std::vector<uint16_t> set;
    bool operator==(const VlanSeen&) const = default;
};
std::vector<VlanSeen> g_vlan;

void PrintTo(const VlanSeen& s, std::ostream* os)
{
    *os << "{kind " << s.kind << " if " << s.ifIndex << " vlan " << s.vlanId << " set " << ::testing::PrintToString(s.set) << "}";
}

uint32_t onVlan(uint32_t kind, const VLAN_EVENT_S* ev)
{
    g_vlan.push_back({kind, ev->uiIfIndex, ev->usVlanId, bits(ev->pstVlanBitmap)});
    return 0;
}

struct TcSeen {
    bool allVlans;
    std::vector<uint16_t> vlans;
    bool allIfs;
    std::vector<uint32_t> ifs;
};
std::vector<TcSeen> g_tc;

uint32_t onTc(uint32_t, const TC_EVENT_S* ev)
{
    TcSeen s{ev->pstVlanMap == nullptr, bits(ev->pstVlanMap), ev->puiIfList == nullptr, {}};
    if (ev->puiIfList != nullptr) s.ifs.assign(ev->puiIfList, ev->puiIfList + ev->uiIfNum);
    g_tc.push_back(s);
    return 0;
}

class VlanTcEvents : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        g_vlan.clear();
        g_tc.clear();
        sw->addSlot(1);
        p1 = sw->addPort("eth-1/0/1", 1);
    }
    uint32_t p1 = 0;
};

// Which VLANs a change loses and gains is the switch commands' tests' concern;
// here: one VLAN comes without a bitmap, several as a set, at most the batch
// count per dispatch, only the kinds selected.
TEST_F(VlanTcEvents, OneDispatchDeliversAtMostTheBatchCountOfTheSelectedKinds)
{
    int fd = VLAN_EventInit();
    ASSERT_NE(VLAN_RegisterEvent(0x022F0000, 1, 2, 0, onVlan), 0u);  // added only, two at a time
    sw->setVlans(p1, {5});
    sw->setVlans(p1, {5, 6, 7});
    sw->setVlans(p1, {8});
    VLAN_HandleEvent(fd);
    EXPECT_EQ(g_vlan, (std::vector<VlanSeen>{{VLAN_EVT_ADDED, p1, 5, {}}, {VLAN_EVT_ADDED, p1, VLAN_ID_SET, {6, 7}}}));
    EXPECT_TRUE(pbbtest::readable(fd)) << "the rest still waits";
    VLAN_HandleEvent(fd);
    EXPECT_EQ(g_vlan.size(), 3u);
    EXPECT_FALSE(pbbtest::readable(fd));
}

TEST_F(VlanTcEvents, TopologyChangesCarryTheirVlansAndInterfaces)
{
    uint32_t p2 = sw->addPort("eth-1/0/2", 1);
    int fd = STI_Event_Init();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(TC_Register(onTc), 0u);
    sw->topologyChange(std::vector<uint16_t>{20, 10}, std::vector<uint32_t>{p2, p1});
    sw->topologyChange(std::nullopt, std::nullopt);
    sw->topologyChange(std::nullopt, std::vector<uint32_t>{});
    ASSERT_EQ(STI_Event_Handle(fd), 0u);

    ASSERT_EQ(g_tc.size(), 3u);
    EXPECT_EQ(g_tc[0].vlans, (std::vector<uint16_t>{10, 20}));
    EXPECT_EQ(g_tc[0].ifs, (std::vector<uint32_t>{p2, p1})) << "interfaces in the order reported";
    EXPECT_TRUE(g_tc[1].allVlans);
    EXPECT_TRUE(g_tc[1].allIfs);
    EXPECT_FALSE(g_tc[2].allIfs) << "an empty list is a list, not all interfaces";
    EXPECT_TRUE(g_tc[2].ifs.empty());
}

TEST_F(VlanTcEvents, ServicesGoingAwayHangUpAndEndTheRegistration)
{
    int fd = STI_Event_Init();
    ASSERT_EQ(TC_Register(onTc), 0u);
    ASSERT_EQ(TC_Register(onTc), 0u) << "a repeated registration is accepted";
    int vlanFd = VLAN_EventInit();
    ASSERT_NE(VLAN_RegisterEvent(0x022F0000, 3, 64, 0, onVlan), 0u);
    sw->setServiceUp(sim::Service::Vlan, false);
    sw->setServiceUp(sim::Service::Sti, false);
    EXPECT_TRUE(pbbtest::hungUp(vlanFd));
    sw->setVlans(p1, {9});
    VLAN_HandleEvent(vlanFd);
    EXPECT_TRUE(g_vlan.empty());
    EXPECT_TRUE(pbbtest::hungUp(fd));
    STI_Event_Fini(fd);
    EXPECT_EQ(STI_Event_Init(), -1);
    EXPECT_NE(TC_Register(onTc), 0u);
    EXPECT_NE(TC_DeregisterTC(), 0u) << "nothing left to withdraw";

    sw->setServiceUp(sim::Service::Sti, true);
    fd = STI_Event_Init();
    ASSERT_EQ(TC_Register(onTc), 0u);
    sw->topologyChange(std::nullopt, std::nullopt);
    STI_Event_Handle(fd);
    EXPECT_EQ(g_tc.size(), 1u);
}

}  // namespace
