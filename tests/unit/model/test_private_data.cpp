// Private data of the interface manager: walks in ifIndex order, removal
// and destruction, refusals.
#include <string>
#include <vector>

#include "model_test.h"
#include "platform/ifm.h"
#include "platform/result.h"

namespace {

std::vector<int> g_destroyed;
void destroy(void* p) { g_destroyed.push_back(*static_cast<int*>(p)); }

class PrivateData : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        g_destroyed.clear();
        sw->addSlot(1);
        for (uint32_t i : {40u, 7u, 25u, 3u}) sw->addPort("eth-" + std::to_string(i), 1, {.ifIndex = i});
        handle = IF_CreatePDInstance(IF_PD_KIND_IFINDEX, 0);
        ASSERT_NE(handle, PLAT_INVALID_HANDLE);
    }
    uint32_t handle = PLAT_INVALID_HANDLE;
    int data[4] = {40, 7, 25, 3};
};

TEST_F(PrivateData, WalksGoInIfIndexOrderAndContinueFromRemovedData)
{
    for (int& d : data) ASSERT_EQ(IF_SetPrivateData(handle, static_cast<uint32_t>(d), &d), 0u);
    std::vector<uint32_t> order;
    uint32_t ifIndex = 0;
    void* p = nullptr;
    for (uint32_t rc = IF_GetFirstPrivateData(handle, &ifIndex, &p); rc == 0; rc = IF_GetNextPrivateData(handle, &ifIndex, &p))
        order.push_back(ifIndex);
    EXPECT_EQ(order, (std::vector<uint32_t>{3, 7, 25, 40}));
    ASSERT_EQ(IF_GetPrivateData(handle, 25, &p), 0u);
    EXPECT_EQ(p, &data[2]);
    ASSERT_EQ(IF_DelPrivateData(handle, 7, destroy), 0u);
    EXPECT_EQ(g_destroyed, (std::vector<int>{7}));
    ASSERT_EQ(IF_GetNextPrivateData(handle, &(ifIndex = 7), &p), 0u);
    EXPECT_EQ(ifIndex, 25u);
    EXPECT_NE(IF_GetNextPrivateData(handle, &(ifIndex = 40), &p), 0u) << "nothing after the last";
    EXPECT_NE(IF_GetPrivateData(handle, 7, &p), 0u);
}

TEST_F(PrivateData, DestroyingAnInstanceReleasesWhatRemainsAndRefusals)
{
    uint32_t other = IF_CreatePDInstance(IF_PD_KIND_IFINDEX, 0);
    ASSERT_NE(other, handle);
    ASSERT_EQ(IF_SetPrivateData(handle, 3, &data[3]), 0u);
    EXPECT_EQ(IF_SetPrivateData(handle, 3, &data[1]), PLAT_ERR_EXIST) << "data is attached once";
    ASSERT_EQ(IF_SetPrivateData(handle, 40, &data[0]), 0u);
    ASSERT_EQ(IF_SetPrivateData(other, 3, &data[1]), 0u);
    EXPECT_EQ(IF_SetPrivateData(handle, 99, &data[0]), PLAT_ERR_NOT_FOUND) << "unknown interface";
    EXPECT_EQ(IF_SetPrivateData(handle + 1000, 3, &data[0]), PLAT_ERR_NOT_FOUND) << "unknown instance";
    EXPECT_EQ(IF_DelPrivateData(handle, 7, destroy), PLAT_ERR_NOT_FOUND);
    EXPECT_EQ(IF_CreatePDInstance(1, 0), PLAT_INVALID_HANDLE);
    EXPECT_EQ(IF_CreatePDInstance(IF_PD_KIND_IFINDEX, 1), PLAT_INVALID_HANDLE);
    EXPECT_TRUE(g_destroyed.empty());
    ASSERT_EQ(IF_DestroyPDInstance(handle, destroy), 0u);
    EXPECT_EQ(g_destroyed, (std::vector<int>{3, 40}));
    void* p = nullptr;
    EXPECT_NE(IF_GetPrivateData(handle, 3, &p), 0u);
    ASSERT_EQ(IF_GetPrivateData(other, 3, &p), 0u) << "instances are independent";
    EXPECT_EQ(p, &data[1]);
    EXPECT_NE(IF_DestroyPDInstance(handle, destroy), 0u);
}

}  // namespace
