// VLAN membership events and the registration of topology-change
// notifications. What a change carries (VLAN sets, interface lists, "all")
// is checked by the daemon's topology-change tests through the same switch.
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

size_t g_tc = 0;

uint32_t onTc(uint32_t, const TC_EVENT_S*)
{
    ++g_tc;
    return 0;
}

class VlanTcEvents : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        g_vlan.clear();
        g_tc = 0;
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
    EXPECT_EQ(g_tc, 1u);
}

}  // namespace
