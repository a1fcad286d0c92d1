// An interface that comes back gets its parked configuration from the
// unused database: the names and the all-VSI flag, attached to nothing.
#include "unit/recover/recover_test.h"

namespace recovertest {
namespace {

class IfRecover : public RecoverBase {};

TEST_F(IfRecover, RestoresNamesAndAllVsiFlagOnly)
{
    vsi(1, "vsi-a", 1001);
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str(), "vsi-b");
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str(), "vsi-a");
    PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str());
    PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_USED, nameOf(b).c_str(), "vsi-a");  // not parked

    EXPECT_EQ(PBB_dbmrecover_IfRecover(a), PBB_OK);
    EXPECT_EQ(PBB_dbmrecover_IfRecover(b), PBB_OK);

    ASSERT_NE(PBB_ifcb_Get(a), nullptr);
    EXPECT_EQ(PBB_ifcb_Get(a)->usUplinkAll, 1);
    EXPECT_EQ(cfgNames(a), (Names{"vsi-a", "vsi-b"}));
    EXPECT_TRUE(runVsis(a).empty());
    EXPECT_TRUE(uplinks(1).empty());
    EXPECT_EQ(PBB_ifcb_Get(b), nullptr);
}

TEST_F(IfRecover, FailsWhenTheBlockCannotBeMadeForEitherRecord)
{
    for (bool allVsi : {false, true}) {
        SCOPED_TRACE(allVsi ? "if." : "ifvsi.");
        PBB_dbmsave_DeleteIfAllCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str());
        if (allVsi)
            PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str());
        else
            PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_UNUSED, nameOf(a).c_str(), "vsi-a");
        plat::testing::failCall("IF_SetPrivateData", 1, 1);
        EXPECT_EQ(PBB_dbmrecover_IfRecover(a), PBB_ERR);
        EXPECT_EQ(PBB_ifcb_Get(a), nullptr);
    }
}

}  // namespace
}  // namespace recovertest
