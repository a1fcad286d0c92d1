// Multicast pseudo-wire table: entry order, group address, port lists.
#include "daemon/pbb_common.h"
#include "daemon/pbb_mcpw.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

std::vector<uint32_t> entryOrder()
{
    std::vector<uint32_t> out;
    for (PbbMcPw* p = PBB_mcpw_GetFirst(); p != nullptr; p = PBB_mcpw_GetNext(p)) out.push_back(p->uiVsiIndex);
    return out;
}

std::vector<uint32_t> portOrder(const PbbMcPw* mc)
{
    std::vector<uint32_t> out;
    for (const PbbMcPortLink* l = mc->stPortList.pstNext; l != &mc->stPortList; l = l->pstNext)
        out.push_back(PBB_mcpw_PortOf(l)->uiIfIndex);
    return out;
}

class McPw : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(PBB_mcpw_Init(), PBB_OK); }
    void TearDown() override { PBB_mcpw_Exit(); }
};

TEST_F(McPw, EntriesKeptInVsiOrderAndPagedByIndex)
{
    EXPECT_EQ(PBB_mcpw_GetFirst(), nullptr);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(0), nullptr);

    PbbMcPw* e7 = PBB_mcpw_Create(7, 700, 70);
    PbbMcPw* e3 = PBB_mcpw_Create(3, 300, 30);
    PbbMcPw* e5 = PBB_mcpw_Create(5, 500, 50);
    ASSERT_NE(e7, nullptr);
    ASSERT_NE(e3, nullptr);
    ASSERT_NE(e5, nullptr);
    EXPECT_EQ(entryOrder(), (std::vector<uint32_t>{3, 5, 7}));

    EXPECT_EQ(PBB_mcpw_Get(5), e5);
    EXPECT_EQ(PBB_mcpw_Get(4), nullptr);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(0), e3);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(3), e5);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(4), e5);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(5), e7);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(7), nullptr);
    // Unsigned order: the largest index sorts last.
    PbbMcPw* eMax = PBB_mcpw_Create(0xFFFFFFF0u, 1, 1);
    EXPECT_EQ(entryOrder(), (std::vector<uint32_t>{3, 5, 7, 0xFFFFFFF0u}));
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(7), eMax);

    EXPECT_EQ(e5->uiISid, 500u);
    EXPECT_EQ(e5->usBVlan, 50);
    EXPECT_EQ(e5->uiPortNum, 0u);
    EXPECT_EQ(e5->stPortList.pstNext, &e5->stPortList);

    // Destroying a middle entry keeps the others linked.
    PBB_mcpw_Destroy(e5);
    EXPECT_EQ(entryOrder(), (std::vector<uint32_t>{3, 7, 0xFFFFFFF0u}));
    EXPECT_EQ(PBB_mcpw_Get(5), nullptr);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(3), e7);
}

TEST_F(McPw, EqualVsiIndexGoesBehindAndGetFindsTheFirst)
{
    PbbMcPw* first = PBB_mcpw_Create(4, 1, 1);
    PBB_mcpw_Create(2, 1, 1);
    PbbMcPw* second = PBB_mcpw_Create(4, 2, 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(entryOrder(), (std::vector<uint32_t>{2, 4, 4}));
    EXPECT_EQ(PBB_mcpw_GetNext(first), second);
    EXPECT_EQ(PBB_mcpw_Get(4), first);
    PBB_mcpw_Destroy(first);
    EXPECT_EQ(PBB_mcpw_Get(4), second);
}

TEST_F(McPw, GroupAddressFromTheLowThreeBytesOfTheISid)
{
    PbbMcPw* e = PBB_mcpw_Create(1, 0xAB123456u, 10);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::to_array(e->aucMcMac), (std::array<uint8_t, 6>{0x01, 0x1E, 0x83, 0x12, 0x34, 0x56}));
}

TEST_F(McPw, PortsSortedCountedAndDuplicatesKept)
{
    PbbMcPw* e = PBB_mcpw_Create(9, 900, 90);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(PBB_mcpw_AddPort(e, 30), PBB_OK);
    EXPECT_EQ(PBB_mcpw_AddPort(e, 10), PBB_OK);
    EXPECT_EQ(PBB_mcpw_AddPort(e, 20), PBB_OK);
    EXPECT_EQ(portOrder(e), (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(e->uiPortNum, 3u);

    PBB_mcpw_DeletePort(e, 15);
    EXPECT_EQ(portOrder(e), (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(e->uiPortNum, 3u);
    EXPECT_EQ(PBB_mcpw_IsPortExist(e, 15), 0u);

    // The table does not refuse a duplicate: callers check first.
    EXPECT_EQ(PBB_mcpw_AddPort(e, 20), PBB_OK);
    EXPECT_EQ(portOrder(e), (std::vector<uint32_t>{10, 20, 20, 30}));
    EXPECT_EQ(e->uiPortNum, 4u);
    PBB_mcpw_DeletePort(e, 20);
    EXPECT_EQ(PBB_mcpw_IsPortExist(e, 20), 1u);
    EXPECT_EQ(e->uiPortNum, 3u);
    PBB_mcpw_DeletePort(e, 20);
    EXPECT_EQ(PBB_mcpw_IsPortExist(e, 20), 0u);
    EXPECT_EQ(portOrder(e), (std::vector<uint32_t>{10, 30}));
    EXPECT_EQ(e->uiPortNum, 2u);

    // Another entry's ports are its own.
    PbbMcPw* other = PBB_mcpw_Create(8, 800, 80);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(PBB_mcpw_IsPortExist(other, 10), 0u);
    EXPECT_EQ(PBB_mcpw_AddPort(other, 10), PBB_OK);
    PBB_mcpw_DeletePort(other, 10);
    EXPECT_EQ(PBB_mcpw_IsPortExist(e, 10), 1u);
}

TEST(McPwLifecycle, ExitFreesEverythingAndIsSafeWithoutInitAndTwice)
{
    PBB_mcpw_Exit();  // before any Init
    ASSERT_EQ(PBB_mcpw_Init(), PBB_OK);
    for (uint32_t v = 0; v < 3; ++v) {
        PbbMcPw* e = PBB_mcpw_Create(v, v + 100, 10);
        ASSERT_NE(e, nullptr);
        for (uint32_t p = 1; p <= v; ++p) ASSERT_EQ(PBB_mcpw_AddPort(e, p), PBB_OK);
    }
    // The leak check sees any entry or port node left behind.
    PBB_mcpw_Exit();
    EXPECT_EQ(PBB_mcpw_GetFirst(), nullptr);
    EXPECT_EQ(PBB_mcpw_Get(1), nullptr);
    PBB_mcpw_Exit();
    EXPECT_EQ(g_stPbbMcList.pstNext, &g_stPbbMcList);
    EXPECT_EQ(g_stPbbMcList.pstPrev, &g_stPbbMcList);
}

}  // namespace
