// The forwarding state the L2VPN library programs: the checks of a request
// and the driver's limits. Programming, committing and reading back
// entries, port modes, refresh windows and VSI deletion are what the
// daemon's table, control and L2VPN tests do through the same switch.
#include <cstring>
#include <string>
#include <vector>

#include "model_test.h"
#include "platform/l2vpn.h"
#include "platform/result.h"

namespace {

constexpr uint32_t kClient = L2VPN_CLIENT_MINM;
const sim::Mac kMacA{0x00, 0x0a, 0, 0, 0, 1}, kMacB{0x00, 0x0b, 0, 0, 0, 2}, kMacC{0x00, 0x0c, 0, 0, 0, 3};
const sim::Mac kCMac{0x02, 0xcc, 0, 0, 0, 9};

uint32_t ignoreEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

class Forwarding : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        sw->addSlot(1, {.minm = true});
        sw->addSlot(2);
        for (int i = 1; i <= 3; ++i) ports.push_back(sw->addPort("eth-1/0/" + std::to_string(i), 1));
        sw->addVsi(0, "vsi-a", 100);
        sw->addVsi(1, "vsi-b", 200);
        fd = L2VPN_Register(0, 27, kClient, ignoreEvent);
        ASSERT_GE(fd, 0);
    }
    uint32_t addUc(uint32_t vsi, const sim::Mac& bmac, uint32_t port)
    {
        L2VPN_MINM_ENTRY_S e{};
        e.uiVsiIndex = vsi;
        e.uiISid = vsi == 0 ? 100 : 200;
        std::memcpy(e.aucBMac, bmac.data(), 6);
        std::memcpy(e.aucCMac, kCMac.data(), 6);
        e.uiEntryFlags = 0x14;
        e.uiBVlan = 30;
        e.uiPortNum = 1;
        e.puiPortList = &port;
        uint32_t rc = L2VPN_AddMinMEntry(fd, kClient, L2VPN_MINM_ADD_UC, &e);
        return rc == 0 ? L2VPN_FlushPwEntry(fd) : rc;
    }

    std::vector<uint32_t> ports;
    int fd = -1;
};

TEST_F(Forwarding, RequestsAreCheckedAgainstTheSwitchAndItsLimits)
{
    EXPECT_EQ(addUc(5, kMacA, ports[0]), PLAT_ERR_NOT_FOUND) << "unknown VSI";
    EXPECT_EQ(addUc(0, kMacA, 999), PLAT_ERR_NOT_FOUND) << "unknown port";
    L2VPN_MINM_ENTRY_S e{};
    EXPECT_EQ(L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_PARAM);
    EXPECT_EQ(L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_DEL_MC, &e), PLAT_ERR_NOT_FOUND);
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, kClient, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_PARAM) << "no port list";
    EXPECT_TRUE(sw->fib().working().uc.empty());

    sw->setFibSpec({.maxPwNum = 3, .maxPwPerVsi = 2, .shareVsi = false});
    EXPECT_EQ(addUc(0, kMacA, ports[0]), 0u);
    EXPECT_EQ(addUc(0, kMacB, ports[0]), 0u);
    EXPECT_EQ(addUc(0, kMacC, ports[0]), PLAT_ERR_NO_RESOURCE) << "per-VSI limit";
    EXPECT_EQ(addUc(0, kMacA, ports[1]), 0u) << "replacing a key takes no room";
    EXPECT_EQ(addUc(1, kMacC, ports[0]), 0u);
    EXPECT_EQ(addUc(1, kMacA, ports[0]), PLAT_ERR_NO_RESOURCE) << "total limit";
    // Room follows every way entries leave: deletion, a closing window, a deleted VSI.
    L2VPN_MINM_ENTRY_S del{};
    std::memcpy(del.aucBMac, kMacB.data(), 6);
    EXPECT_EQ(L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_DEL_UC, &del), 0u);
    EXPECT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    EXPECT_EQ(addUc(1, kMacA, ports[0]), 0u);
    EXPECT_EQ(L2VPN_SendGrEvent(fd, kClient, 3), PLAT_ERR_PARAM) << "no such phase";
    EXPECT_EQ(L2VPN_SendGrEvent(fd, 4, L2VPN_GR_BEGIN), PLAT_ERR_PARAM) << "another client";
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_BEGIN), 0u);
    ASSERT_EQ(addUc(1, kMacA, ports[0]), 0u);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_END), 0u);
    EXPECT_TRUE(sw->fib().committed() == sw->fib().working());
    EXPECT_EQ(addUc(0, kMacC, ports[0]), 0u);
    EXPECT_EQ(addUc(0, kMacB, ports[0]), 0u);
    EXPECT_EQ(addUc(1, kMacB, ports[0]), PLAT_ERR_NO_RESOURCE);
    sw->deleteVsi(0);
    EXPECT_EQ(addUc(1, kMacB, ports[0]), 0u);
}

}  // namespace
