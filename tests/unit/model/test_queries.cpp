// Attribute queries of the interface manager, aggregation, device manager,
// VLAN service and spanning tree: answers, refusals that leave the output
// alone, lists the caller frees, and faults.
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>

#include "model_test.h"
#include "platform/bitmap.h"
#include "platform/dev.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/lagg.h"
#include "platform/sti.h"
#include "platform/vlan.h"

namespace {

class Queries : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        sw->setSlotRange(1, 6);
        sw->addSlot(1, {.minm = true});
        sw->addSlot(2, {.present = false, .minm = true});
        sw->addSlot(3, {.normal = false});
        p1 = sw->addPort("ten-gigabit-ethernet-1/0/1", 1, {.type = IF_TYPE_XGE});
        p2 = sw->addPort("eth-1/0/2", 1, {.linkUp = false});
        t1 = sw->addPort("eth-2/0/1", 2);
        agg = sw->addAggregate("agg-7");
    }
    uint32_t p1 = 0, p2 = 0, t1 = 0, agg = 0;
};

TEST_F(Queries, InterfacesAndAggregates)
{
    uint16_t slot = 0xFFFF, member = 0;
    uint32_t type = 128, link = 0, link2 = 0;
    char name[IF_NAME_BUF_LEN] = "";
    for (auto [sel, out] : {std::pair<uint32_t, void*>{IF_DATA_SLOT, &slot}, {IF_DATA_TYPE, &type}, {IF_DATA_LINK_STATE, &link},
                            {IF_DATA_FULL_NAME, name}})
        ASSERT_EQ(IF_GetDataByIfIndex(p1, sel, out), 0u) << sel;
    ASSERT_EQ(IF_GetDataByIfIndex(p2, IF_DATA_LINK_STATE, &link2), 0u);
    EXPECT_EQ(std::make_tuple(slot, type, link, std::string(name), link2),
              std::make_tuple(uint16_t{1}, IF_TYPE_XGE, IF_LINK_UP, std::string("ten-gigabit-ethernet-1/0/1"), IF_LINK_DOWN));
    slot = 0xFFFF;
    EXPECT_NE(IF_GetDataByIfIndex(agg, IF_DATA_SLOT, &slot), 0u) << "an aggregate has no slot";
    EXPECT_EQ(slot, 0xFFFFu) << "output untouched on failure";
    EXPECT_NE(IF_GetDataByIfIndex(999, IF_DATA_TYPE, &type), 0u);
    EXPECT_NE(IF_GetDataByIfIndex(p1, 11, &type), 0u);
    EXPECT_EQ(std::make_pair(IF_IsTempIf(t1), IF_IsTempIf(p1)), std::make_pair(1u, 0u)) << "t1's board is out";
    EXPECT_EQ(std::make_pair(IF_GetIfIndexByFullName("eth-2/0/1"), IF_GetIfIndexByFullName("eth-9/9/9")), std::make_pair(t1, 0u));
    EXPECT_THROW(sw->addPort(std::string(48, 'x'), 1), std::invalid_argument) << "full names have 47 characters at most";
    EXPECT_NO_THROW(sw->addPort(std::string(47, 'x'), 1));

    sw->joinAggregate(agg, p2);
    sw->joinAggregate(agg, p1);
    LAGG_MEMBER_LIST_S list{};
    ASSERT_EQ(LAGG_GetDataByIfIndex(agg, LAGG_DATA_MEMBERS, &list), 0u);
    EXPECT_EQ(std::vector<uint32_t>(list.puiIfIndex, list.puiIfIndex + list.uiNum), (std::vector<uint32_t>{p2, p1}))
        << "in the order they joined";
    std::free(list.puiIfIndex);
    ASSERT_EQ(LAGG_GetDataByIfIndex(p1, LAGG_DATA_IS_MEMBER, &member), 0u);
    EXPECT_EQ(member, 1u);
    sw->leaveAggregate(p1);
    sw->leaveAggregate(p2);
    LAGG_GetDataByIfIndex(p1, LAGG_DATA_IS_MEMBER, &member);
    EXPECT_EQ(member, 0u);
    ASSERT_EQ(LAGG_GetDataByIfIndex(agg, LAGG_DATA_MEMBERS, &(list = LAGG_MEMBER_LIST_S{})), 0u);
    EXPECT_EQ(std::make_pair(list.uiNum, list.puiIfIndex), std::make_pair(0u, static_cast<uint32_t*>(nullptr)));
    EXPECT_NE(LAGG_GetDataByIfIndex(p1, LAGG_DATA_MEMBERS, &list), 0u) << "a port has no members";
}

TEST_F(Queries, SlotsBoardsVlansAndSpanningTree)
{
    uint16_t lo = 0, hi = 0, chassis = 0, phys = 0, pvid = 0, state = 0;
    ASSERT_EQ(DEV_GetSlotRange(&lo, &hi), 0u);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(uint16_t{1}, uint16_t{6}));
    ASSERT_EQ(DEV_GetPhysicalSlotByGlobalSlot(3, &chassis, &phys), 0u);
    EXPECT_NE(DEV_GetPhysicalSlotByGlobalSlot(7, &chassis, &phys), 0u);
    uint32_t status = 0;
    ASSERT_EQ(DEV_GetDeviceStatus(chassis, 3, DEV_CPU_ALL, &status), 0u);
    EXPECT_EQ(status, DEV_STATUS_FAULT);
    EXPECT_NE(DEV_GetDeviceStatus(chassis, 2, DEV_CPU_ALL, &status), 0u) << "no board";
    EXPECT_NE(DEV_GetDeviceStatus(chassis, 4, DEV_CPU_ALL, &status), 0u) << "not configured";
    EXPECT_NE(DEV_GetDeviceStatus(chassis, 1, 0, &status), 0u);
    EXPECT_EQ(L2VPN_IsSupportMinM(2), 1u) << "the configured board counts while it is out";
    EXPECT_EQ(L2VPN_IsSupportMinM(3) + L2VPN_IsSupportMinM(4), 0u);
    EXPECT_THROW(sw->addSlot(7), std::invalid_argument);

    sw->setAccess(p1, 300);
    ASSERT_EQ(VLAN_GetIfDataByIndex(p1, VLAN_DATA_PVID, &pvid), 0u);
    EXPECT_EQ(pvid, 300u);
    sw->setMaxVlanId(1000);
    EXPECT_EQ(VLAN_GetMaxVlanID(), 1000u);
    sw->setVlans(p2, {10, 999});
    BITMAP_S* map = Bitmap_Create(VLAN_GetMaxVlanID());
    Bitmap_Set(map, 5);
    ASSERT_EQ(VLAN_GetIfDataByIndex(p2, VLAN_DATA_VLAN_MAP, map), 0u);
    EXPECT_EQ(Bitmap_Weight(map), 2u) << "the map is rewritten, not added to";
    EXPECT_EQ(Bitmap_Check(map, 999), 1u);
    Bitmap_Destroy(map);
    EXPECT_THROW(sw->setVlans(p2, {1001}), std::invalid_argument);
    ASSERT_EQ(STI_GetVlanState(p2, 10, &state), 0u);
    EXPECT_EQ(state, STI_STATE_FORWARDING);
    sw->setStpState(p2, 10, STI_STATE_DISCARDING);
    STI_GetVlanState(p2, 10, &state);
    EXPECT_EQ(state, STI_STATE_DISCARDING);
    EXPECT_NE(STI_GetVlanState(999, 10, &state), 0u);
    EXPECT_NE(STI_GetVlanState(p2, 1001, &state), 0u);
}

TEST_F(Queries, FaultsReplaceTheResultOnceOrFromNowOn)
{
    uint32_t type = 128;
    plat::testing::failCall("IF_GetDataByIfIndex", 9);
    EXPECT_EQ(IF_GetDataByIfIndex(p1, IF_DATA_TYPE, &type), 9u);
    EXPECT_EQ(type, 128u);
    EXPECT_EQ(IF_GetDataByIfIndex(p1, IF_DATA_TYPE, &type), 0u);
    plat::testing::failCall("IF_Event_Init", -1, 0);
    EXPECT_EQ(IF_Event_Init(), -1);
    EXPECT_EQ(IF_Event_Init(), -1);
    plat::testing::clearFault("IF_Event_Init");
    EXPECT_GE(IF_Event_Init(), 0);
    auto calls = plat::testing::callsNamed("IF_GetDataByIfIndex");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, "ifIndex=" + std::to_string(p1) + " selector=18 fault=9");
}

}  // namespace
