// Interface control blocks over the in-process interface manager: what a
// block reads at creation, its failures, and the edges of its VSI lists.
#include "daemon/pbb_log.h"
#include "support/logread.h"
#include "unit/ctl/ctl_test.h"

namespace {

using ctltest::cfgNames;
using ctltest::vlansOf;
using V = std::set<uint16_t>;

class IfCb : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        sim::SwitchModel& sw = plat::inproc::reset();
        sw.addSlot(1, {.minm = true});
        trunk_ = sw.addPort("eth-1/0/1", 1);
        sw.setVlans(trunk_, {10, 20, 4094});
        access_ = sw.addPort("eth-1/0/2", 1, {.linkUp = false});
        sw.setAccess(access_, 5);
        agg_ = sw.addAggregate("agg-1");
        member_ = sw.addPort("eth-1/0/3", 1);
        sw.joinAggregate(agg_, member_);
        PBB_ifcb_Exit();  // safe before Init
        ASSERT_EQ(PBB_ifcb_Init(), PBB_OK);
    }
    void TearDown() override { PBB_ifcb_Exit(); }

    pbbtest::PlatformDirs dirs_;
    uint32_t trunk_ = 0, access_ = 0, agg_ = 0, member_ = 0;
};

TEST_F(IfCb, CreationReadsNameLinkMembershipAndVlans)
{
    PbbIfCb* t = PBB_ifcb_Create(trunk_);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->szIfName, "eth-1/0/1");
    EXPECT_EQ(t->usLinkUp * 10 + t->usAggMember, 10);
    EXPECT_EQ(vlansOf(trunk_), (V{10, 20, 4094}));
    PbbIfCb* a = PBB_ifcb_Create(access_);
    EXPECT_EQ(a->usLinkUp, 0);
    EXPECT_EQ(vlansOf(access_), V{5});
    PbbIfCb* m = PBB_ifcb_Create(member_);
    EXPECT_EQ(m->usAggMember, 1);
    EXPECT_EQ(vlansOf(member_), V{1});  // a new port's access VLAN
    // A second creation hands back the stored block.
    EXPECT_EQ(PBB_ifcb_Create(trunk_), t);

    // Failed queries leave the preset values: no name, link down, no member,
    // an access port with VLAN ID 0xFFFF beyond the map.
    for (const char* call : {"IF_GetDataByIfIndex", "LAGG_GetDataByIfIndex", "VLAN_GetIfDataByIndex"})
        plat::testing::failCall(call, 2, 0);
    PBB_ifcb_Delete(member_);
    m = PBB_ifcb_Create(member_);
    EXPECT_STREQ(m->szIfName, "");
    EXPECT_EQ(m->usLinkUp + m->usAggMember, 0);
    EXPECT_TRUE(vlansOf(member_).empty());
}

TEST_F(IfCb, CreationFailuresLeaveNothingAllocated)
{
    g_uiPbbDbgFlag = PBB_DBG_ERROR;
    plat::testing::setRecording(true);
    plat::testing::failCall("Bitmap_Create", 0);
    EXPECT_EQ(PBB_ifcb_Create(trunk_), nullptr);
    EXPECT_EQ(plat::testing::countCalls("IF_SetPrivateData"), 0u);
    plat::testing::failCall("IF_SetPrivateData", 4);
    EXPECT_EQ(PBB_ifcb_Create(trunk_), nullptr);
    // An interface the manager does not know takes no private data.
    EXPECT_EQ(PBB_ifcb_Create(9999), nullptr);
    EXPECT_EQ(PBB_ifcb_GetFirst(), nullptr);
    for (const char* line : {"ERROR debug: Failed to allocate memory for VLAN map on interface eth-1/0/1.",
                             "ERROR debug: Failed to set private data on interface eth-1/0/1.",
                             "Failed to set private data on interface ."})
        EXPECT_EQ(pbbtest::grepLines(dirs_.logFile(), {line}).size(), 1u) << line;
    ASSERT_NE(PBB_ifcb_Create(trunk_), nullptr);
    g_uiPbbDbgFlag = 0;
}

TEST_F(IfCb, VsiListsKeepArrivalOrderWithoutDuplicates)
{
    EXPECT_EQ(PBB_ifcb_AddCfgVsiNode(trunk_, "vsi-a"), PBB_ERR);  // no block yet
    EXPECT_EQ(PBB_ifcb_AddRunVsiNode(trunk_, 7), PBB_ERR);
    EXPECT_EQ(PBB_ifcb_IsCfgVsiExist(trunk_, "vsi-a") + PBB_ifcb_IsRunVsiExist(trunk_, 7), 0u);
    PBB_ifcb_DeleteAllCfgVsiNode(trunk_);
    PBB_ifcb_DeleteAllRunVsiNode(trunk_);
    ASSERT_NE(PBB_ifcb_Create(trunk_), nullptr);

    // Names are kept to 31 characters and matched over their first 32 bytes.
    const std::string n31(31, 'n');
    EXPECT_EQ(PBB_ifcb_AddCfgVsiNode(trunk_, std::string(40, 'n').c_str()), PBB_OK);
    EXPECT_EQ(PBB_ifcb_AddCfgVsiNode(trunk_, n31.c_str()), PBB_ERR_EXIST);
    EXPECT_EQ(PBB_ifcb_IsCfgVsiExist(trunk_, "nnn"), 0u);
    EXPECT_EQ(cfgNames(trunk_), (std::vector<std::string>{n31}));

    for (uint32_t v : {7u, 0u, 3u}) EXPECT_EQ(PBB_ifcb_AddRunVsiNode(trunk_, v), PBB_OK);
    EXPECT_EQ(PBB_ifcb_AddRunVsiNode(trunk_, 7), PBB_ERR_EXIST);
    PBB_ifcb_DeleteRunVsiNode(trunk_, 0);
    PBB_ifcb_DeleteRunVsiNode(trunk_, 4);
    EXPECT_EQ(ctltest::runVsis(trunk_), (std::vector<uint32_t>{7, 3}));
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(trunk_, 3), 1u);

    // The default configuration: no uplink-all flag and no configured VSI;
    // running VSIs do not count.
    EXPECT_EQ(PBB_ifcb_IsDefaultCfg(trunk_), 0u);
    PBB_ifcb_DeleteAllCfgVsiNode(trunk_);
    EXPECT_TRUE(cfgNames(trunk_).empty());
    EXPECT_EQ(PBB_ifcb_IsDefaultCfg(trunk_), 1u);
    PBB_ifcb_Get(trunk_)->usUplinkAll = 1;
    EXPECT_EQ(PBB_ifcb_IsDefaultCfg(trunk_), 0u);
    EXPECT_EQ(PBB_ifcb_IsDefaultCfg(member_), 0u) << "no block";
    PBB_ifcb_DeleteAllRunVsiNode(trunk_);
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(trunk_, 7), 0u);
    // Blocks deleted with nodes still on their lists free them too.
    EXPECT_EQ(PBB_ifcb_AddRunVsiNode(trunk_, 9), PBB_OK);
    EXPECT_EQ(PBB_ifcb_AddCfgVsiNode(trunk_, "vsi-9"), PBB_OK);
    EXPECT_EQ(PBB_ifcb_Delete(trunk_), PBB_OK);
}

}  // namespace
