// L2VPN module events: batches, the event mask, VSI records, acknowledgements
// and the module going away; VSI information and capabilities.
#include <tuple>
#include <vector>

#include "model_test.h"
#include "platform/l2vpn.h"
#include "platform/result.h"

namespace {

std::vector<L2VPN_VSI_INFO_S> g_info;  // uiVsiIndex of an event without a record: ~0
std::vector<uint32_t> g_types;
int g_fd = -1;

uint32_t recordEvent(uint32_t type, const L2VPN_VSI_INFO_S* info)
{
    g_types.push_back(type);
    L2VPN_VSI_INFO_S none{};
    none.uiVsiIndex = ~0u;
    g_info.push_back(info != nullptr ? *info : none);
    if (type == L2VPN_EVT_VSI_DEL) L2VPN_FinalStatusNotify(g_fd, type, info);
    return 0;
}

class L2vpnEvents : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        g_types.clear();
        g_info.clear();
    }
    static int registerClient(uint32_t mask = 27) { return g_fd = L2VPN_Register(0, mask, L2VPN_CLIENT_MINM, recordEvent); }
};

TEST_F(L2vpnEvents, BatchReportsEveryVsiInIndexOrderBetweenBeginAndEnd)
{
    sw->addVsi(7, "vsi-b", 200, true);
    sw->addVsi(3, "vsi-a", 100);
    int fd = registerClient();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(pbbtest::readable(fd)) << "VSIs that existed before registration are not replayed by themselves";
    EXPECT_NE(L2VPN_RequestBatch(fd, 3), 0u) << "only the selector of all VSIs is offered";
    ASSERT_EQ(L2VPN_RequestBatch(fd, L2VPN_BATCH_ALL_VSI), 0u);
    ASSERT_TRUE(pbbtest::readable(fd));
    ASSERT_EQ(L2VPN_HandleMsg(fd), 0u);
    EXPECT_EQ(g_types, (std::vector<uint32_t>{65, 0, 0, 66}));
    EXPECT_EQ(g_info[0].uiVsiIndex, ~0u);
    EXPECT_EQ(g_info[3].uiVsiIndex, ~0u);
    EXPECT_EQ(std::make_tuple(g_info[1].uiVsiIndex, g_info[1].uiISid, g_info[1].uiFlags), std::make_tuple(3u, 100u, 0u));
    EXPECT_STREQ(g_info[1].szVsiName, "vsi-a");
    EXPECT_EQ(std::make_tuple(g_info[2].uiVsiIndex, g_info[2].uiFlags), std::make_tuple(7u, L2VPN_VSI_FLAG_DOWN));
}

TEST_F(L2vpnEvents, VsiChangesFollowTheMaskAndDeletionsAreAcknowledged)
{
    int fd = registerClient(0x1B);  // add, delete, I-SID change, state
    sw->addVsi(1, "vsi-a", 100);
    sw->setVsiIsid(1, 300);
    sw->setVsiDown(1, true);
    sw->deleteVsi(1);
    sw->disableL2vpn();
    L2VPN_HandleMsg(fd);
    EXPECT_EQ(g_types, (std::vector<uint32_t>{0, 3, 4, 1, 64}));
    EXPECT_EQ(g_info[1].uiISid, 300u);
    EXPECT_EQ(g_info[2].uiFlags, L2VPN_VSI_FLAG_DOWN);
    ASSERT_EQ(sw->acks().size(), 1u);
    EXPECT_EQ(sw->acks()[0].code, L2VPN_EVT_VSI_DEL);
    EXPECT_EQ(sw->acks()[0].items, (std::vector<uint32_t>{1}));
    L2VPN_Deregister(fd);
    g_types.clear();
    fd = registerClient(0x1);  // additions only
    sw->addVsi(4, "vsi-c", 400);
    sw->setVsiDown(4, true);
    sw->deleteVsi(4);
    sw->disableL2vpn();
    L2VPN_HandleMsg(fd);
    EXPECT_EQ(g_types, (std::vector<uint32_t>{0, 64})) << "64 to 66 need no bit in the mask";
}

TEST_F(L2vpnEvents, OneRegistrationAtATimeUntilReleasedOrTheModuleGoes)
{
    int fd = registerClient();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(L2VPN_Register(0, 27, L2VPN_CLIENT_MINM, recordEvent), -1);
    EXPECT_EQ(L2VPN_Register(1, 27, L2VPN_CLIENT_MINM, recordEvent), -1);
    EXPECT_EQ(L2VPN_SendGrEvent(fd + 100, L2VPN_CLIENT_MINM, 1), PLAT_ERR_UNAVAILABLE);
    EXPECT_EQ(L2VPN_SendGrEvent(fd, 4, 1), PLAT_ERR_PARAM) << "the registered client only";
    EXPECT_EQ(L2VPN_Deregister(fd), 0u);
    EXPECT_EQ(L2VPN_FlushPwEntry(fd), PLAT_ERR_UNAVAILABLE) << "a released descriptor is refused";
    EXPECT_EQ(L2VPN_RequestBatch(fd, L2VPN_BATCH_ALL_VSI), PLAT_ERR_UNAVAILABLE);
    fd = registerClient();
    ASSERT_GE(fd, 0) << "registration is possible again";

    sw->addVsi(1, "vsi-a", 100);
    sw->setServiceUp(sim::Service::L2vpn, false);
    EXPECT_TRUE(pbbtest::hungUp(fd));
    L2VPN_HandleMsg(fd);
    EXPECT_TRUE(g_types.empty());
    EXPECT_EQ(L2VPN_FlushPwEntry(fd), PLAT_ERR_UNAVAILABLE) << "the registration ended with the module";
    L2VPN_Deregister(fd);
    EXPECT_EQ(registerClient(), -1);
    sw->setServiceUp(sim::Service::L2vpn, true);
    fd = registerClient();
    ASSERT_EQ(L2VPN_RequestBatch(fd, L2VPN_BATCH_ALL_VSI), 0u);
    L2VPN_HandleMsg(fd);
    EXPECT_EQ(g_types, (std::vector<uint32_t>{65, 0, 66}));
}

TEST_F(L2vpnEvents, InfoByNameAndCapabilities)
{
    sw->setMaxVsiNum(64);
    sw->setFibSpec({.maxPwNum = 5000, .maxPwPerVsi = 40, .shareVsi = true});
    sw->addVsi(9, "vsi-x", 0xABCDEF, true);
    L2VPN_VSI_INFO_S info{};
    ASSERT_EQ(L2VPN_GetVsiInfoByName("vsi-x", &info), 0u);
    EXPECT_EQ(std::make_tuple(info.uiVsiIndex, info.uiISid, info.uiFlags), std::make_tuple(9u, 0xABCDEFu, L2VPN_VSI_FLAG_DOWN));
    EXPECT_NE(L2VPN_GetVsiInfoByName("vsi-y", &info), 0u);
    uint32_t max = 0, used = 0;
    ASSERT_EQ(L2VPN_GetMaxVsiNum(&max, &used), 0u);
    EXPECT_EQ(std::make_pair(max, used), std::make_pair(64u, 1u));
    L2VPN_L2VFIB_SPEC_S spec{};
    ASSERT_EQ(L2VPN_GetL2VFIBSpec(&spec), 0u);
    EXPECT_EQ(std::make_tuple(spec.uiMaxPwNum, spec.uiMaxPwPerVsi, spec.usVsiShare), std::make_tuple(5000u, 40u, uint16_t{1}));
}

}  // namespace
