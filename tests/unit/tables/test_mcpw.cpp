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
    EXPECT_EQ(out.size(), mc->uiPortNum);
    return out;
}

class McPw : public ::testing::Test {
protected:
    void SetUp() override
    {
        PBB_mcpw_Exit();  // safe before any Init
        ASSERT_EQ(PBB_mcpw_Init(), PBB_OK);
    }
    void TearDown() override
    {
        // The leak check sees any entry or port node left behind.
        PBB_mcpw_Exit();
        PBB_mcpw_Exit();
        EXPECT_EQ(PBB_mcpw_GetFirst(), nullptr);
    }
};

TEST_F(McPw, EntriesKeptInVsiOrderEqualOnesBehindAndPagedByIndex)
{
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(0), nullptr);
    PbbMcPw* e7 = PBB_mcpw_Create(7, 700, 70);
    PbbMcPw* e3 = PBB_mcpw_Create(3, 300, 30);
    PbbMcPw* e5 = PBB_mcpw_Create(5, 500, 50);
    PbbMcPw* eMax = PBB_mcpw_Create(0xFFFFFFF0u, 1, 1);  // unsigned order
    PbbMcPw* e5b = PBB_mcpw_Create(5, 2, 2);
    EXPECT_EQ(entryOrder(), (std::vector<uint32_t>{3, 5, 5, 7, 0xFFFFFFF0u}));
    EXPECT_EQ(PBB_mcpw_GetNext(e5), e5b);
    EXPECT_EQ(PBB_mcpw_Get(5), e5);
    EXPECT_EQ(PBB_mcpw_Get(4), nullptr);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(0), e3);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(4), e5);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(5), e7);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(7), eMax);
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(0xFFFFFFF0u), nullptr);
    EXPECT_EQ(e5->uiISid * 100 + e5->usBVlan, 50050u);
    PBB_mcpw_Destroy(e5);
    EXPECT_EQ(PBB_mcpw_Get(5), e5b);
    PBB_mcpw_Destroy(e5b);
    EXPECT_EQ(entryOrder(), (std::vector<uint32_t>{3, 7, 0xFFFFFFF0u}));
    EXPECT_EQ(PBB_mcpw_GetNextByIndex(3), e7);
    // The group address is built from the low three bytes of the I-SID.
    EXPECT_EQ(std::to_array(PBB_mcpw_Create(1, 0xAB123456u, 10)->aucMcMac),
              (std::array<uint8_t, 6>{0x01, 0x1E, 0x83, 0x12, 0x34, 0x56}));
}

TEST_F(McPw, PortsSortedCountedAndDuplicatesKept)
{
    PbbMcPw* e = PBB_mcpw_Create(9, 900, 90);
    PbbMcPw* other = PBB_mcpw_Create(8, 800, 80);
    for (uint32_t p : {30u, 10u, 20u, 20u}) EXPECT_EQ(PBB_mcpw_AddPort(e, p), PBB_OK);
    EXPECT_EQ(PBB_mcpw_AddPort(other, 10), PBB_OK);
    // The table does not refuse a duplicate: callers check first.
    EXPECT_EQ(portOrder(e), (std::vector<uint32_t>{10, 20, 20, 30}));
    PBB_mcpw_DeletePort(e, 15);
    PBB_mcpw_DeletePort(e, 20);
    EXPECT_EQ(PBB_mcpw_IsPortExist(e, 20), 1u);
    PBB_mcpw_DeletePort(e, 20);
    EXPECT_EQ(PBB_mcpw_IsPortExist(e, 20), 0u);
    PBB_mcpw_DeletePort(other, 10);
    EXPECT_EQ(PBB_mcpw_IsPortExist(other, 10), 0u);
    EXPECT_EQ(portOrder(e), (std::vector<uint32_t>{10, 30}));
}

}  // namespace
