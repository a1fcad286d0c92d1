// VSI table: index range, I-SID hash, names, uplink lists, walks.
#include "daemon/pbb_common.h"
#include "daemon/pbb_vsi.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint32_t> uplinks(uint32_t vsi)
{
    std::vector<uint32_t> out;
    const PbbUplink* head = PBB_vsi_GetUplinkList(vsi);
    for (const PbbUplink* p = head->pstNext; p != head; p = p->pstNext) out.push_back(p->uiIfIndex);
    return out;
}

std::vector<uint32_t> walk()
{
    std::vector<uint32_t> out;
    for (PbbVsi* v = PBB_vsi_GetFirstVsi(); v != nullptr; v = PBB_vsi_GetNextVsi(v->uiVsiIndex))
        out.push_back(v->uiVsiIndex);
    return out;
}

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

TEST_F(VsiTable, IndexRangeFollowsTheVsiCountAndWalksSurviveDeletion)
{
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), nullptr);
    EXPECT_EQ(PBB_vsi_CreateVsi(1024), nullptr);
    EXPECT_EQ(PBB_vsi_AddUplink(1024, 5), nullptr);
    PBB_vsi_SetISid(1024, 77);  // nothing to set
    EXPECT_EQ(PBB_vsi_GetIndexByISid(77), PBB_VSI_INVALID_INDEX);
    for (uint32_t i : {1023u, 7u, 4u, 0u}) ASSERT_NE(PBB_vsi_CreateVsi(i), nullptr);
    PbbVsi* v0 = PBB_vsi_GetVsiByIndex(0);
    EXPECT_EQ(v0->usBVlan, PBB_BVLAN_NONE);
    EXPECT_EQ(v0->uiEncapType, PBB_ENCAP_DEFAULT);
    // Creating an existing VSI hands back the record as it is.
    v0->usBVlan = 100;
    EXPECT_EQ(PBB_vsi_CreateVsi(0), v0);
    EXPECT_EQ(v0->usBVlan, 100);

    // Delete while walking, fetching the next from the deleted index.
    std::vector<uint32_t> seen;
    for (PbbVsi* v = PBB_vsi_GetFirstVsi(); v != nullptr;) {
        uint32_t idx = v->uiVsiIndex;
        seen.push_back(idx);
        if (idx == 4) PBB_vsi_DeleteVsi(idx);
        v = PBB_vsi_GetNextVsi(idx);
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 4, 7, 1023}));
    EXPECT_EQ(walk(), (std::vector<uint32_t>{0, 7, 1023}));
    EXPECT_EQ(PBB_vsi_GetNextVsi(1023), nullptr);
    EXPECT_EQ(PBB_vsi_GetNextVsi(2000), nullptr);
}

TEST_F(VsiTable, ISidHashFindsMovesAndUnlinksFromAnyChainPosition)
{
    const uint32_t k4104 = 4104;
    ASSERT_EQ(_pbb_vsi_GetISidHashIndex(&k4104), 10u);
    const uint32_t isids[] = {10, 4104, 8198};  // all in bucket 10
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_NE(PBB_vsi_CreateVsi(i + 1), nullptr);
        PBB_vsi_SetISid(i + 1, isids[i]);
    }
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(PBB_vsi_GetIndexByISid(isids[i]), i + 1);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(10 + 3 * 4094), PBB_VSI_INVALID_INDEX);
    // Newest first in the bucket: 8198, 4104, 10. The middle node, then the
    // head, then the last; the others stay reachable each time.
    PBB_vsi_SetISid(2, 0);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(4104), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(10), 1u);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(8198), 3u);
    PBB_vsi_SetISid(3, 0);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(10), 1u);
    PBB_vsi_SetISid(2, 4104);  // back in, at the head
    PBB_vsi_SetISid(1, 0);     // the last node of the chain
    EXPECT_EQ(PBB_vsi_GetIndexByISid(10), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(4104), 2u);
    HASH_NODE_S* head = g_pstPbb_IsidHashTbl->ppstBuckets[10];
    EXPECT_EQ(head->ppstPrev, &g_pstPbb_IsidHashTbl->ppstBuckets[10]);
    EXPECT_EQ(head->pstNext, nullptr);

    // A change moves the entry; the same I-SID twice keeps one node.
    PBB_vsi_SetISid(2, 0xFFFFFF);
    PBB_vsi_SetISid(2, 0xFFFFFF);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(4104), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(0xFFFFFF), 2u);
    PBB_vsi_SetISid(2, 0);
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(2)->uiISid, 0u);
    for (uint32_t b = 0; b < g_pstPbb_IsidHashTbl->uiBuckets; ++b)
        EXPECT_EQ(g_pstPbb_IsidHashTbl->ppstBuckets[b], nullptr) << "bucket " << b;
}

TEST_F(VsiTable, NamesMatchOverAtMost32BytesLowestIndexFirst)
{
    PbbVsi* a = PBB_vsi_CreateVsi(3);
    PbbVsi* b = PBB_vsi_CreateVsi(9);
    std::strcpy(a->szVsiName, "vsi-a");
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

TEST_F(VsiTable, UplinksSortedWithoutDuplicates)
{
    ASSERT_NE(PBB_vsi_CreateVsi(5), nullptr);
    for (uint32_t i : {30u, 10u, 0xFFFFFFF0u, 1u}) EXPECT_EQ(PBB_vsi_AddUplink(5, i)->uiIfIndex, i);
    PbbUplink* u20 = PBB_vsi_AddUplink(5, 20);
    EXPECT_EQ(PBB_vsi_AddUplink(5, 20), u20);
    EXPECT_EQ(uplinks(5), (std::vector<uint32_t>{1, 10, 20, 30, 0xFFFFFFF0u}));
    EXPECT_EQ(_pbb_vsi_GetUplink(5, 20), u20);
    EXPECT_EQ(_pbb_vsi_GetUplink(5, 25), nullptr);
    EXPECT_EQ(_pbb_vsi_GetUplink(5, 0xFFFFFFFFu), nullptr);
    PBB_vsi_DeleteUplink(5, 25);
    PBB_vsi_DeleteUplink(5, 20);
    PBB_vsi_DeleteUplink(6, 10);  // no such VSI
    EXPECT_EQ(uplinks(5), (std::vector<uint32_t>{1, 10, 30, 0xFFFFFFF0u}));
    EXPECT_EQ(PBB_vsi_AddUplink(6, 10), nullptr);
    // Deleting the VSI frees its uplinks (the leak check sees any left).
    PBB_vsi_DeleteVsi(5);
    EXPECT_EQ(PBB_vsi_GetUplinkList(5), nullptr);
}

TEST(VsiLifecycle, FailedInitLeavesNothingAndExitReleasesEverything)
{
    plat::testing::reset();
    plat::inproc::reset().setMaxVsiNum(16);
    PBB_vsi_Exit();  // before Init
    plat::testing::failCall("L2VPN_GetMaxVsiNum", 5);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    // The array is released again when the hash table cannot be made.
    plat::testing::failCall("HASH_Create", 0);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    EXPECT_EQ(g_ppstVsi, nullptr);
    EXPECT_EQ(g_pstPbb_IsidHashTbl, nullptr);
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 0u);

    ASSERT_EQ(PBB_vsi_Init(), PBB_OK);
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 15u);
    for (uint32_t i = 0; i < 16; ++i) {
        ASSERT_NE(PBB_vsi_CreateVsi(i), nullptr);
        PBB_vsi_SetISid(i, 100 + i);
        PBB_vsi_AddUplink(i, i + 1);
    }
    PBB_vsi_Exit();
    EXPECT_EQ(g_ppstVsi, nullptr);
    EXPECT_EQ(g_pstPbb_IsidHashTbl, nullptr);
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 0u);
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(100), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_CreateVsi(0), nullptr);
    PBB_vsi_Exit();
}

}  // namespace
