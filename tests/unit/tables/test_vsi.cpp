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
    if (head == nullptr) return out;
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

TEST_F(VsiTable, IndexRangeFollowsTheVsiCountAndNewVsiHasDefaults)
{
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 1023u);
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), nullptr);

    PbbVsi* last = PBB_vsi_CreateVsi(1023);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(PBB_vsi_CreateVsi(1024), nullptr);
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(1024), nullptr);
    EXPECT_EQ(PBB_vsi_GetUplinkList(1024), nullptr);
    EXPECT_EQ(PBB_vsi_AddUplink(1024, 5), nullptr);
    PBB_vsi_SetISid(1024, 77);  // nothing to set
    EXPECT_EQ(PBB_vsi_GetIndexByISid(77), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), last);
    EXPECT_EQ(PBB_vsi_GetNextVsi(1023), nullptr);

    PbbVsi* v0 = PBB_vsi_CreateVsi(0);
    ASSERT_NE(v0, nullptr);
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), v0);
    EXPECT_EQ(v0->uiVsiIndex, 0u);
    EXPECT_EQ(v0->uiISid, 0u);
    EXPECT_EQ(v0->usBVlan, PBB_BVLAN_NONE);
    EXPECT_EQ(v0->uiEncapType, PBB_ENCAP_DEFAULT);
    EXPECT_EQ(v0->usStaleFlag, 0);
    EXPECT_EQ(v0->usShutdownFlag, 0);
    EXPECT_EQ(v0->szVsiName[0], '\0');
    EXPECT_TRUE(uplinks(0).empty());

    // Creating an existing VSI hands back the record as it is.
    v0->usBVlan = 100;
    EXPECT_EQ(PBB_vsi_CreateVsi(0), v0);
    EXPECT_EQ(v0->usBVlan, 100);
}

TEST_F(VsiTable, ISidChangesMoveTheHashEntry)
{
    ASSERT_NE(PBB_vsi_CreateVsi(12), nullptr);
    PBB_vsi_SetISid(12, 5000);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(5000), 12u);
    PBB_vsi_SetISid(12, 6000);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(5000), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(6000), 12u);
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(12)->uiISid, 6000u);

    // Setting the same I-SID again keeps exactly one node for it.
    PBB_vsi_SetISid(12, 6000);
    PBB_vsi_SetISid(12, 0);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(6000), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(12)->uiISid, 0u);
    for (uint32_t b = 0; b < g_pstPbb_IsidHashTbl->uiBuckets; ++b)
        EXPECT_EQ(g_pstPbb_IsidHashTbl->ppstBuckets[b], nullptr) << "bucket " << b;

    // The largest 24-bit I-SID.
    PBB_vsi_SetISid(12, 0xFFFFFF);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(0xFFFFFF), 12u);
}

TEST_F(VsiTable, ISidsOfOneBucketAreToldApartAndUnlinkedFromAnyPosition)
{
    const uint32_t k10 = 10, k4104 = 4104;
    ASSERT_EQ(_pbb_vsi_GetISidHashIndex(&k10), 10u);
    ASSERT_EQ(_pbb_vsi_GetISidHashIndex(&k4104), 10u);
    const uint32_t isids[] = {10, 4104, 8198};  // all in bucket 10
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_NE(PBB_vsi_CreateVsi(i + 1), nullptr);
        PBB_vsi_SetISid(i + 1, isids[i]);
    }
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(PBB_vsi_GetIndexByISid(isids[i]), i + 1);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(10 + 3 * 4094), PBB_VSI_INVALID_INDEX);

    // Newest first in the bucket: 8198, 4104, 10. Remove the middle node,
    // then the head, then the last; the others stay reachable each time.
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
    // The remaining node's back link points at the bucket head again.
    HASH_NODE_S* head = g_pstPbb_IsidHashTbl->ppstBuckets[10];
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->ppstPrev, &g_pstPbb_IsidHashTbl->ppstBuckets[10]);
    EXPECT_EQ(head->pstNext, nullptr);
}

TEST_F(VsiTable, NamesMatchOverAtMost32Bytes)
{
    PbbVsi* a = PBB_vsi_CreateVsi(3);
    PbbVsi* b = PBB_vsi_CreateVsi(9);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::strcpy(a->szVsiName, "vsi-a");
    // A field written full, without a terminating NUL within its 32 bytes.
    std::memset(b->szVsiName, 'x', sizeof(b->szVsiName));

    EXPECT_EQ(PBB_vsi_GetVsiByName("vsi-a"), a);
    EXPECT_EQ(PBB_vsi_GetIndexByName("vsi-a"), 3u);
    EXPECT_EQ(PBB_vsi_GetVsiByName("vsi-"), nullptr);
    EXPECT_EQ(PBB_vsi_GetVsiByName("vsi-ab"), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByName("none"), PBB_VSI_INVALID_INDEX);

    std::string x32(32, 'x');
    std::string x40(40, 'x');
    EXPECT_EQ(PBB_vsi_GetVsiByName(x32.c_str()), b);
    EXPECT_EQ(PBB_vsi_GetVsiByName(x40.c_str()), b);
    EXPECT_EQ(PBB_vsi_GetVsiByName(std::string(31, 'x').c_str()), nullptr);

    // The lowest index wins when two VSIs carry the same name.
    PbbVsi* c = PBB_vsi_CreateVsi(1);
    std::strcpy(c->szVsiName, "vsi-a");
    EXPECT_EQ(PBB_vsi_GetIndexByName("vsi-a"), 1u);
}

TEST_F(VsiTable, UplinksSortedWithoutDuplicates)
{
    ASSERT_NE(PBB_vsi_CreateVsi(5), nullptr);
    PbbUplink* u30 = PBB_vsi_AddUplink(5, 30);
    PbbUplink* u10 = PBB_vsi_AddUplink(5, 10);
    PbbUplink* u20 = PBB_vsi_AddUplink(5, 20);
    ASSERT_NE(u30, nullptr);
    ASSERT_NE(u10, nullptr);
    ASSERT_NE(u20, nullptr);
    EXPECT_EQ(uplinks(5), (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(PBB_vsi_AddUplink(5, 20), u20);
    EXPECT_EQ(uplinks(5), (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(PBB_vsi_AddUplink(5, 0xFFFFFFF0u)->uiIfIndex, 0xFFFFFFF0u);
    EXPECT_EQ(PBB_vsi_AddUplink(5, 1)->uiIfIndex, 1u);
    EXPECT_EQ(uplinks(5), (std::vector<uint32_t>{1, 10, 20, 30, 0xFFFFFFF0u}));

    EXPECT_EQ(_pbb_vsi_GetUplink(5, 20), u20);
    EXPECT_EQ(_pbb_vsi_GetUplink(5, 25), nullptr);
    EXPECT_EQ(_pbb_vsi_GetUplink(5, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(_pbb_vsi_GetUplink(6, 20), nullptr);

    PBB_vsi_DeleteUplink(5, 25);
    PBB_vsi_DeleteUplink(5, 20);
    PBB_vsi_DeleteUplink(6, 10);
    EXPECT_EQ(uplinks(5), (std::vector<uint32_t>{1, 10, 30, 0xFFFFFFF0u}));
    EXPECT_EQ(PBB_vsi_AddUplink(5, 20)->uiIfIndex, 20u);
    EXPECT_EQ(uplinks(5), (std::vector<uint32_t>{1, 10, 20, 30, 0xFFFFFFF0u}));

    // No VSI: no list and nothing added.
    EXPECT_EQ(PBB_vsi_AddUplink(6, 10), nullptr);
    EXPECT_EQ(PBB_vsi_GetUplinkList(6), nullptr);
    // Deleting the VSI frees its uplinks (the leak check sees any left).
    PBB_vsi_DeleteVsi(5);
    EXPECT_EQ(PBB_vsi_GetUplinkList(5), nullptr);
}

TEST_F(VsiTable, WalkContinuesFromTheIndexOfADeletedVsi)
{
    for (uint32_t i : {0u, 4u, 7u, 1023u}) ASSERT_NE(PBB_vsi_CreateVsi(i), nullptr);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{0, 4, 7, 1023}));

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
    EXPECT_EQ(PBB_vsi_GetNextVsi(4)->uiVsiIndex, 7u);
    EXPECT_EQ(PBB_vsi_GetNextVsi(2000), nullptr);

    PBB_vsi_DeleteVsi(4);  // already gone
    PBB_vsi_DeleteVsi(0);
    EXPECT_EQ(PBB_vsi_GetFirstVsi()->uiVsiIndex, 7u);
}

TEST(VsiLifecycle, ExitReleasesEverythingAndResetsTheGlobals)
{
    plat::testing::reset();
    plat::inproc::reset().setMaxVsiNum(16);
    PBB_vsi_Exit();  // before Init
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
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(0), nullptr);
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByISid(100), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_CreateVsi(0), nullptr);
    PBB_vsi_Exit();

    // A fresh Init after Exit gives a fresh table.
    ASSERT_EQ(PBB_vsi_Init(), PBB_OK);
    EXPECT_EQ(PBB_vsi_GetFirstVsi(), nullptr);
    PBB_vsi_Exit();
}

TEST(VsiLifecycle, InitFailuresLeaveNothingBehind)
{
    plat::testing::reset();
    plat::inproc::reset().setMaxVsiNum(64);

    plat::testing::failCall("L2VPN_GetMaxVsiNum", 5);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    EXPECT_EQ(g_ppstVsi, nullptr);
    EXPECT_EQ(g_pstPbb_IsidHashTbl, nullptr);

    // The array is released again when the hash table cannot be made.
    plat::testing::failCall("HASH_Create", 0);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    EXPECT_EQ(g_ppstVsi, nullptr);
    EXPECT_EQ(g_pstPbb_IsidHashTbl, nullptr);
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 0u);
    PBB_vsi_Exit();

    ASSERT_EQ(PBB_vsi_Init(), PBB_OK);
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 63u);
    PBB_vsi_Exit();
}

}  // namespace
