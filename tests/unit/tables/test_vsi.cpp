// VSI table: name matching and the table's start-up and release. The
// I-SID hash, uplink lists and walks are checked through the VSI events and
// the control tests.
#include "daemon/pbb_common.h"
#include "daemon/pbb_vsi.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class VsiTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        plat::inproc::reset().setMaxVsiNum(1024);
        ASSERT_EQ(PBB_vsi_Init(), PBB_OK);
    }
    void TearDown() override { PBB_vsi_Exit(); }
};

TEST_F(VsiTable, NamesMatchOverAtMost32BytesLowestIndexFirst)
{
    PbbVsi* a = PBB_vsi_CreateVsi(3);
    PbbVsi* b = PBB_vsi_CreateVsi(9);
    std::strcpy(a->szVsiName, "vsi-a");
    EXPECT_EQ(PBB_vsi_CreateVsi(3), a) << "an existing record is handed back as it is";
    // A field written full, without a terminating NUL within its 32 bytes.
    std::memset(b->szVsiName, 'x', sizeof(b->szVsiName));
    EXPECT_EQ(PBB_vsi_GetIndexByName("vsi-a"), 3u);
    EXPECT_EQ(PBB_vsi_GetVsiByName("vsi-"), nullptr);
    EXPECT_EQ(PBB_vsi_GetVsiByName("vsi-ab"), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByName("none"), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetVsiByName(std::string(32, 'x').c_str()), b);
    EXPECT_EQ(PBB_vsi_GetVsiByName(std::string(40, 'x').c_str()), b);
    EXPECT_EQ(PBB_vsi_GetVsiByName(std::string(31, 'x').c_str()), nullptr);
    std::strcpy(PBB_vsi_CreateVsi(1)->szVsiName, "vsi-a");
    EXPECT_EQ(PBB_vsi_GetIndexByName("vsi-a"), 1u);
}

TEST_F(VsiTable, ExitReleasesEverythingAndFailedInitLeavesNothing)
{
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 1023u);
    for (uint32_t i = 0; i < 1024; ++i) {
        ASSERT_NE(PBB_vsi_CreateVsi(i), nullptr);
        PBB_vsi_SetISid(i, 100 + i);
        PBB_vsi_AddUplink(i, i + 1);
    }
    // Exit releases every record, I-SID node and uplink (the leak check
    // sees any left) and is safe twice, and again before the next Init.
    PBB_vsi_Exit();
    PBB_vsi_Exit();
    EXPECT_EQ(PBB_vsi_CreateVsi(0), nullptr);
    plat::testing::failCall("L2VPN_GetMaxVsiNum", 5);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    // The array is released again when the hash table cannot be made.
    plat::testing::failCall("HASH_Create", 0);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    EXPECT_EQ(g_ppstVsi, nullptr);
    EXPECT_EQ(g_pstPbb_IsidHashTbl, nullptr);
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 0u);
}

}  // namespace
