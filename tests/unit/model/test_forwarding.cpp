// The forwarding state the L2VPN library programs: staging and commit,
// chunked multicast entries, checks and limits, refresh windows.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "model_test.h"
#include "platform/l2vpn.h"
#include "platform/model/pbb_frame.h"
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
    uint32_t addUc(uint32_t vsi, const sim::Mac& bmac, uint32_t port, bool commit = true)
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
        return rc == 0 && commit ? L2VPN_FlushPwEntry(fd) : rc;
    }
    uint32_t delUc(uint32_t vsi, const sim::Mac& bmac, bool commit = true)
    {
        L2VPN_MINM_ENTRY_S e{};
        e.uiVsiIndex = vsi;
        std::memcpy(e.aucBMac, bmac.data(), 6);
        uint32_t rc = L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_DEL_UC, &e);
        return rc == 0 && commit ? L2VPN_FlushPwEntry(fd) : rc;
    }
    uint32_t addMc(uint32_t vsi, uint32_t op, std::vector<uint32_t> list)
    {
        L2VPN_MINM_ENTRY_S e{};
        e.uiVsiIndex = vsi;
        e.uiISid = vsi == 0 ? 100 : 200;
        std::memcpy(e.aucBMac, sim::groupAddress(e.uiISid).data(), 6);
        e.uiEntryFlags = 0x24;
        e.uiPortNum = static_cast<uint32_t>(list.size());
        e.puiPortList = list.data();
        return L2VPN_AddMinMEntry(fd, kClient, op, &e);
    }
    bool same() { return sw->fib().committed() == sw->fib().working(); }

    std::vector<uint32_t> ports;
    int fd = -1;
};

// A flush commits exactly the staged tables, whatever happened between two
// flushes; programming a key again replaces it.
TEST_F(Forwarding, EntriesAreStagedAndReachTheHardwareOnFlush)
{
    ASSERT_EQ(addUc(0, kMacA, ports[0], false), 0u);
    ASSERT_EQ(addUc(0, kMacB, ports[0], false), 0u);
    EXPECT_EQ(sw->unicast(0, kMacA), nullptr) << "staged, not committed";
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    EXPECT_TRUE(same());
    const sim::UcEntry* e = sw->unicast(0, kMacA);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::make_tuple(e->port, e->cmac, e->bvlan, e->isid, e->flags), std::make_tuple(ports[0], kCMac, 30u, 100u, 0x14u));
    ASSERT_EQ(addUc(0, kMacA, ports[1], false), 0u);
    ASSERT_EQ(delUc(0, kMacB, false), 0u);
    ASSERT_EQ(addUc(1, kMacC, ports[2], false), 0u);
    EXPECT_FALSE(same());
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    EXPECT_TRUE(same());
    EXPECT_EQ(sw->unicast(0, kMacA)->port, ports[1]);
    EXPECT_EQ(sw->unicast(0, kMacB), nullptr);
    EXPECT_EQ(delUc(0, kMacB), PLAT_ERR_NOT_FOUND);
}

// A port set changes port by port; the checks of the add call.
TEST_F(Forwarding, MulticastPortSetsChangePortByPort)
{
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0], ports[1]}), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC_PORT, {ports[2]}), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_DEL_MC_PORT, {ports[0]}), 0u);
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    EXPECT_EQ(sw->multicast(0)->ports, (std::vector<uint32_t>{ports[1], ports[2]}));
    EXPECT_EQ(sw->multicast(0)->group, sim::groupAddress(100));
    EXPECT_EQ(addMc(0, L2VPN_MINM_DEL_MC_PORT, {ports[0]}), PLAT_ERR_NOT_FOUND);
    EXPECT_EQ(addMc(1, L2VPN_MINM_ADD_MC_PORT, {ports[0]}), PLAT_ERR_NOT_FOUND) << "no entry to add a port to";
    EXPECT_EQ(addMc(0, L2VPN_MINM_ADD_MC, std::vector<uint32_t>(257, ports[0])), PLAT_ERR_PARAM);
    EXPECT_EQ(addMc(0, L2VPN_MINM_DEL_MC, {}), PLAT_ERR_PARAM) << "a delete operation on the add call";
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {}), 0u) << "an entry without ports";
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    EXPECT_TRUE(sw->multicast(0)->ports.empty());
}

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
    EXPECT_EQ(delUc(0, kMacB), 0u);
    EXPECT_EQ(addUc(1, kMacA, ports[0]), 0u);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_BEGIN), 0u);
    ASSERT_EQ(addUc(1, kMacA, ports[0]), 0u);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_END), 0u);
    EXPECT_TRUE(same());
    EXPECT_EQ(addUc(0, kMacC, ports[0]), 0u);
    EXPECT_EQ(addUc(0, kMacB, ports[0]), 0u);
    EXPECT_EQ(addUc(1, kMacB, ports[0]), PLAT_ERR_NO_RESOURCE);
    sw->deleteVsi(0);
    EXPECT_EQ(addUc(1, kMacB, ports[0]), 0u);
}

TEST_F(Forwarding, RefreshWindowRemovesWhatWasNotProgrammedAgain)
{
    uint32_t five = 5, seven = 7;
    auto programAll = [&](bool all) {  // all: also B, the second VSI and the second port
        ASSERT_EQ(addUc(0, kMacA, ports[0]), 0u);
        ASSERT_EQ(all ? addUc(0, kMacB, ports[0]) : 0u, 0u);
        ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0]}), 0u);
        ASSERT_EQ(all ? addMc(1, L2VPN_MINM_ADD_MC, {ports[1]}) : 0u, 0u);
        ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
        for (uint32_t v = 0; v < (all ? 2u : 1u); ++v) {
            ASSERT_EQ(L2VPN_SetInterface(fd, ports[v], L2VPN_IF_PBB_ENABLE), 0u);
            ASSERT_EQ(L2VPN_SetVSI(fd, v, L2VPN_VSI_ATTR_ENCAP, v == 0 ? &five : &seven), 0u);
        }
    };
    programAll(true);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_BEGIN), 0u);
    EXPECT_TRUE(sw->fib().windowOpen());
    programAll(false);
    ASSERT_EQ(addUc(1, kMacC, ports[2]), 0u);  // new inside the window
    EXPECT_NE(sw->unicast(0, kMacB), nullptr) << "nothing goes before the window closes";
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_END), 0u);
    EXPECT_FALSE(sw->fib().windowOpen());
    EXPECT_NE(sw->unicast(0, kMacA), nullptr);
    EXPECT_NE(sw->unicast(1, kMacC), nullptr);
    EXPECT_EQ(sw->unicast(0, kMacB), nullptr);
    EXPECT_EQ(sw->fib().working().uc.count({0, kMacB}), 0u) << "gone from the staged view too";
    EXPECT_NE(sw->multicast(0), nullptr);
    EXPECT_EQ(sw->multicast(1), nullptr);
    EXPECT_TRUE(sw->pbbMode(ports[0]));
    EXPECT_FALSE(sw->pbbMode(ports[1]));
    EXPECT_EQ(sw->encapType(0), 5u);
    EXPECT_EQ(sw->encapType(1), L2VPN_ENCAP_DEFAULT);
    EXPECT_NE(L2VPN_SendGrEvent(fd, kClient, 3), 0u);
}

TEST_F(Forwarding, PbbModeNeedsAPresentPortOnACapableSlotAndAVsiTakesItsStateAlong)
{
    EXPECT_EQ(L2VPN_SetInterface(fd, sw->addAggregate("agg-1"), L2VPN_IF_PBB_ENABLE), PLAT_ERR_PARAM) << "members one by one";
    EXPECT_EQ(L2VPN_SetInterface(fd, ports[0], 7), PLAT_ERR_PARAM);
    sw->removeBoard(1);
    EXPECT_EQ(L2VPN_SetInterface(fd, ports[0], L2VPN_IF_PBB_ENABLE), PLAT_ERR_UNAVAILABLE);
    EXPECT_EQ(L2VPN_SetInterface(fd, ports[0], L2VPN_IF_PBB_DISABLE), 0u);
    sw->insertBoard(1);
    ASSERT_EQ(addUc(0, kMacA, ports[0]), 0u);
    ASSERT_EQ(addUc(1, kMacB, ports[0]), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0]}), 0u);
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    uint32_t five = 5;
    ASSERT_EQ(L2VPN_SetVSI(fd, 0, L2VPN_VSI_ATTR_ENCAP, &five), 0u);
    sw->deleteVsi(0);
    EXPECT_EQ(sw->unicast(0, kMacA), nullptr);
    EXPECT_EQ(sw->multicast(0), nullptr);
    EXPECT_EQ(sw->encapType(0), L2VPN_ENCAP_DEFAULT);
    EXPECT_NE(sw->unicast(1, kMacB), nullptr);
    EXPECT_EQ(L2VPN_SetVSI(fd, 0, L2VPN_VSI_ATTR_ENCAP, &five), PLAT_ERR_NOT_FOUND);
}

}  // namespace
