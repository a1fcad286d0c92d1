// The forwarding state the L2VPN library programs: staging and commit,
// chunked multicast entries, checks and limits, refresh windows.
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "model_test.h"
#include "platform/l2vpn.h"
#include "platform/model/pbb_frame.h"
#include "platform/result.h"

namespace {

constexpr uint32_t kClient = L2VPN_CLIENT_MINM;
const sim::Mac kMacA{0x00, 0x0a, 0, 0, 0, 1};
const sim::Mac kMacB{0x00, 0x0b, 0, 0, 0, 2};
const sim::Mac kMacC{0x00, 0x0c, 0, 0, 0, 3};
const sim::Mac kCMac{0x02, 0xcc, 0, 0, 0, 9};

uint32_t onEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

class Forwarding : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        sw->addSlot(1, {.minm = true});
        sw->addSlot(2);
        for (int i = 1; i <= 3; ++i) ports.push_back(sw->addPort("eth-1/0/" + std::to_string(i), 1));
        plain = sw->addPort("eth-2/0/1", 2);
        agg = sw->addAggregate("agg-1");
        sw->addVsi(0, "vsi-a", 100);
        sw->addVsi(1, "vsi-b", 200);
        fd = L2VPN_Register(0, 27, kClient, onEvent);
        ASSERT_GE(fd, 0);
    }

    uint32_t addUc(uint32_t vsi, const sim::Mac& bmac, uint32_t port, bool commit = true)
    {
        L2VPN_MINM_ENTRY_S e{};
        e.uiVsiIndex = vsi;
        e.uiISid = vsi == 0 ? 100 : 200;
        std::memcpy(e.aucBMac, bmac.data(), 6);
        e.uiAllOnes = 0xFFFFFFFF;
        e.usAllOnes = 0xFFFF;
        std::memcpy(e.aucCMac, kCMac.data(), 6);
        e.uiEntryFlags = 0x14;
        e.uiBVlan = 30;
        e.uiPortNum = 1;
        e.puiPortList = &port;
        uint32_t rc = L2VPN_AddMinMEntry(fd, kClient, L2VPN_MINM_ADD_UC, &e);
        if (rc == 0 && commit) rc = L2VPN_FlushPwEntry(fd);
        return rc;
    }

    uint32_t delUc(uint32_t vsi, const sim::Mac& bmac)
    {
        L2VPN_MINM_ENTRY_S e{};
        e.uiVsiIndex = vsi;
        std::memcpy(e.aucBMac, bmac.data(), 6);
        uint32_t rc = L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_DEL_UC, &e);
        return rc == 0 ? L2VPN_FlushPwEntry(fd) : rc;
    }

    uint32_t addMc(uint32_t vsi, uint32_t op, std::vector<uint32_t> list)
    {
        L2VPN_MINM_ENTRY_S e{};
        e.uiVsiIndex = vsi;
        e.uiISid = vsi == 0 ? 100 : 200;
        sim::Mac group = sim::groupAddress(e.uiISid);
        std::memcpy(e.aucBMac, group.data(), 6);
        e.uiEntryFlags = 0x24;
        e.uiBVlan = 30;
        e.uiPortNum = static_cast<uint32_t>(list.size());
        e.puiPortList = list.data();
        return L2VPN_AddMinMEntry(fd, kClient, op, &e);
    }

    std::vector<uint32_t> ports;
    uint32_t plain = 0;
    uint32_t agg = 0;
    int fd = -1;
};

TEST_F(Forwarding, EntriesReachTheHardwareOnFlush)
{
    ASSERT_EQ(addUc(0, kMacA, ports[0], false), 0u);
    EXPECT_EQ(sw->unicast(0, kMacA), nullptr) << "staged, not committed";
    EXPECT_EQ(sw->fib().working().uc.size(), 1u);
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    const sim::UcEntry* e = sw->unicast(0, kMacA);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->port, ports[0]);
    EXPECT_EQ(e->cmac, kCMac);
    EXPECT_EQ(e->bvlan, 30u);
    EXPECT_EQ(e->isid, 100u);
    EXPECT_EQ(e->flags, 0x14u);

    ASSERT_EQ(addUc(0, kMacA, ports[1]), 0u) << "programming a key again replaces it";
    EXPECT_EQ(sw->unicast(0, kMacA)->port, ports[1]);
    EXPECT_EQ(delUc(0, kMacA), 0u);
    EXPECT_EQ(sw->unicast(0, kMacA), nullptr);
    EXPECT_EQ(delUc(0, kMacA), PLAT_ERR_NOT_FOUND);
}

TEST_F(Forwarding, ConsecutiveMulticastAddsMakeOnePortSet)
{
    std::vector<uint32_t> many;
    for (int i = 0; i < 300; ++i) many.push_back(sw->addPort("x-" + std::to_string(i), 1));
    std::vector<uint32_t> first(many.begin(), many.begin() + 256), rest(many.begin() + 256, many.end());
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, first), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, rest), 0u);
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    const sim::McEntry* mc = sw->multicast(0);
    ASSERT_NE(mc, nullptr);
    EXPECT_EQ(mc->ports, many);
    EXPECT_EQ(mc->group, sim::groupAddress(100));

    // After the flush a new add starts a new set.
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0], ports[1]}), 0u);
    L2VPN_FlushPwEntry(fd);
    EXPECT_EQ(sw->multicast(0)->ports, (std::vector<uint32_t>{ports[0], ports[1]}));

    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC_PORT, {ports[2]}), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_DEL_MC_PORT, {ports[0]}), 0u);
    L2VPN_FlushPwEntry(fd);
    EXPECT_EQ(sw->multicast(0)->ports, (std::vector<uint32_t>{ports[1], ports[2]}));
    EXPECT_EQ(addMc(0, L2VPN_MINM_DEL_MC_PORT, {ports[0]}), PLAT_ERR_NOT_FOUND);
    EXPECT_EQ(addMc(1, L2VPN_MINM_ADD_MC_PORT, {ports[0]}), PLAT_ERR_NOT_FOUND) << "no entry to add a port to";

    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {}), 0u) << "an entry without ports";
    L2VPN_FlushPwEntry(fd);
    EXPECT_TRUE(sw->multicast(0)->ports.empty());
}

TEST_F(Forwarding, RequestsAreCheckedAgainstTheSwitch)
{
    EXPECT_EQ(addUc(5, kMacA, ports[0]), PLAT_ERR_NOT_FOUND) << "unknown VSI";
    EXPECT_EQ(addUc(0, kMacA, 999), PLAT_ERR_NOT_FOUND) << "unknown port";
    std::vector<uint32_t> tooMany(257, ports[0]);
    EXPECT_EQ(addMc(0, L2VPN_MINM_ADD_MC, tooMany), PLAT_ERR_PARAM);
    EXPECT_EQ(addMc(0, L2VPN_MINM_DEL_MC, {}), PLAT_ERR_PARAM) << "a delete operation on the add call";

    L2VPN_MINM_ENTRY_S e{};
    e.uiVsiIndex = 0;
    EXPECT_EQ(L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_PARAM);
    EXPECT_EQ(L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_DEL_MC, &e), PLAT_ERR_NOT_FOUND);
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, kClient, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_PARAM) << "no port list";
    EXPECT_TRUE(sw->fib().working().uc.empty());
}

TEST_F(Forwarding, UnicastLimitsPerVsiAndInAll)
{
    sw->setFibSpec({.maxPwNum = 3, .maxPwPerVsi = 2, .shareVsi = false});
    EXPECT_EQ(addUc(0, kMacA, ports[0]), 0u);
    EXPECT_EQ(addUc(0, kMacB, ports[0]), 0u);
    EXPECT_EQ(addUc(0, kMacC, ports[0]), PLAT_ERR_NO_RESOURCE) << "per-VSI limit";
    EXPECT_EQ(addUc(0, kMacA, ports[1]), 0u) << "replacing a key takes no room";
    EXPECT_EQ(addUc(1, kMacC, ports[0]), 0u);
    EXPECT_EQ(addUc(1, kMacA, ports[0]), PLAT_ERR_NO_RESOURCE) << "total limit";
    EXPECT_EQ(delUc(0, kMacB), 0u);
    EXPECT_EQ(addUc(1, kMacA, ports[0]), 0u);
}

TEST_F(Forwarding, RefreshWindowRemovesWhatWasNotProgrammedAgain)
{
    ASSERT_EQ(addUc(0, kMacA, ports[0]), 0u);
    ASSERT_EQ(addUc(0, kMacB, ports[0]), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0]}), 0u);
    ASSERT_EQ(addMc(1, L2VPN_MINM_ADD_MC, {ports[1]}), 0u);
    L2VPN_FlushPwEntry(fd);
    ASSERT_EQ(L2VPN_SetInterface(fd, ports[0], L2VPN_IF_PBB_ENABLE), 0u);
    ASSERT_EQ(L2VPN_SetInterface(fd, ports[1], L2VPN_IF_PBB_ENABLE), 0u);
    uint32_t five = 5, seven = 7;
    ASSERT_EQ(L2VPN_SetVSI(fd, 0, L2VPN_VSI_ATTR_ENCAP, &five), 0u);
    ASSERT_EQ(L2VPN_SetVSI(fd, 1, L2VPN_VSI_ATTR_ENCAP, &seven), 0u);

    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_BEGIN), 0u);
    EXPECT_TRUE(sw->fib().windowOpen());
    ASSERT_EQ(addUc(0, kMacA, ports[0]), 0u);
    ASSERT_EQ(addUc(1, kMacC, ports[2]), 0u);          // new inside the window
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0]}), 0u);
    L2VPN_FlushPwEntry(fd);
    ASSERT_EQ(L2VPN_SetInterface(fd, ports[0], L2VPN_IF_PBB_ENABLE), 0u);
    ASSERT_EQ(L2VPN_SetVSI(fd, 0, L2VPN_VSI_ATTR_ENCAP, &five), 0u);
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
}

TEST_F(Forwarding, EmptyWindowWithdrawsEverythingAndClosingWithoutWindowDoesNothing)
{
    ASSERT_EQ(addUc(0, kMacA, ports[0]), 0u);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_END), 0u);
    EXPECT_NE(sw->unicast(0, kMacA), nullptr);

    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0]}), 0u);
    L2VPN_FlushPwEntry(fd);
    L2VPN_SetInterface(fd, ports[2], L2VPN_IF_PBB_ENABLE);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_BEGIN), 0u);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_END), 0u);
    EXPECT_TRUE(sw->fib().committed().uc.empty());
    EXPECT_TRUE(sw->fib().committed().mc.empty());
    EXPECT_TRUE(sw->fib().pbbPorts().empty());
    EXPECT_NE(L2VPN_SendGrEvent(fd, kClient, 3), 0u);
}

TEST_F(Forwarding, PbbModeNeedsAPresentPortOnACapableSlot)
{
    EXPECT_EQ(L2VPN_SetInterface(fd, agg, L2VPN_IF_PBB_ENABLE), PLAT_ERR_PARAM) << "members are set one by one";
    EXPECT_EQ(L2VPN_SetInterface(fd, plain, L2VPN_IF_PBB_ENABLE), PLAT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(L2VPN_SetInterface(fd, ports[0], 7), PLAT_ERR_PARAM);
    sw->removeBoard(1);
    EXPECT_EQ(L2VPN_SetInterface(fd, ports[0], L2VPN_IF_PBB_ENABLE), PLAT_ERR_UNAVAILABLE);
    EXPECT_EQ(L2VPN_SetInterface(fd, ports[0], L2VPN_IF_PBB_DISABLE), 0u);
    sw->insertBoard(1);
    EXPECT_EQ(L2VPN_SetInterface(fd, ports[0], L2VPN_IF_PBB_ENABLE), 0u);
    EXPECT_TRUE(sw->pbbMode(ports[0]));
}

TEST_F(Forwarding, DeletedVsiTakesItsForwardingStateWithIt)
{
    ASSERT_EQ(addUc(0, kMacA, ports[0]), 0u);
    ASSERT_EQ(addUc(1, kMacB, ports[0]), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0]}), 0u);
    L2VPN_FlushPwEntry(fd);
    uint32_t five = 5;
    L2VPN_SetVSI(fd, 0, L2VPN_VSI_ATTR_ENCAP, &five);
    sw->deleteVsi(0);
    EXPECT_EQ(sw->unicast(0, kMacA), nullptr);
    EXPECT_EQ(sw->multicast(0), nullptr);
    EXPECT_EQ(sw->encapType(0), L2VPN_ENCAP_DEFAULT);
    EXPECT_NE(sw->unicast(1, kMacB), nullptr);
    EXPECT_EQ(L2VPN_SetVSI(fd, 0, L2VPN_VSI_ATTR_ENCAP, &five), PLAT_ERR_NOT_FOUND);
}

TEST_F(Forwarding, CallLogCarriesTheDecodedEntry)
{
    plat::testing::clearCalls();
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[2], ports[0]}), 0u);
    auto calls = plat::testing::callsNamed("L2VPN_AddMinMEntry");
    ASSERT_EQ(calls.size(), 1u);
    const auto& req = std::any_cast<const sim::MinMRequest&>(calls[0].payload);
    EXPECT_EQ(req.op, L2VPN_MINM_ADD_MC);
    EXPECT_EQ(req.client, kClient);
    EXPECT_EQ(req.entry.uiEntryFlags, 0x24u);
    EXPECT_EQ(req.ports, (std::vector<uint32_t>{ports[2], ports[0]})) << "a copy of the list";
    EXPECT_NE(calls[0].args.find("bmac=01:1e:83:00:00:64"), std::string::npos) << calls[0].args;

    plat::testing::failCall("L2VPN_FlushPwEntry", 77);
    EXPECT_EQ(L2VPN_FlushPwEntry(fd), 77u);
    EXPECT_EQ(sw->multicast(0), nullptr) << "a failed call does nothing";
    EXPECT_EQ(L2VPN_FlushPwEntry(fd), 0u) << "armed once";
    EXPECT_NE(sw->multicast(0), nullptr);
    auto flushes = plat::testing::callsNamed("L2VPN_FlushPwEntry");
    ASSERT_EQ(flushes.size(), 2u);
    EXPECT_NE(flushes[0].args.find("fault=77"), std::string::npos);
}

}  // namespace

namespace {

// A flush commits exactly the staged tables, whatever happened between two
// flushes, and the per-VSI room follows every way entries leave.
TEST_F(Forwarding, FlushCommitsTheStagedTablesAndRoomFollowsRemovals)
{
    sw->setFibSpec({.maxPwNum = 10, .maxPwPerVsi = 2, .shareVsi = false});
    auto same = [&] { return sw->fib().committed() == sw->fib().working(); };
    ASSERT_EQ(addUc(0, kMacA, ports[0], false), 0u);
    ASSERT_EQ(addUc(0, kMacB, ports[0], false), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_ADD_MC, {ports[0], ports[1]}), 0u);
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    EXPECT_TRUE(same());

    L2VPN_MINM_ENTRY_S del{};
    std::memcpy(del.aucBMac, kMacA.data(), 6);
    ASSERT_EQ(L2VPN_DelMinMEntry(fd, kClient, L2VPN_MINM_DEL_UC, &del), 0u);
    ASSERT_EQ(addUc(1, kMacC, ports[2], false), 0u);
    ASSERT_EQ(addMc(0, L2VPN_MINM_DEL_MC_PORT, {ports[1]}), 0u);
    EXPECT_FALSE(same());
    ASSERT_EQ(L2VPN_FlushPwEntry(fd), 0u);
    EXPECT_TRUE(same());
    EXPECT_EQ(sw->multicast(0)->ports, std::vector<uint32_t>{ports[0]});

    // Room freed by a deletion, a closing window and a deleted VSI.
    EXPECT_EQ(addUc(0, kMacA, ports[0]), 0u);
    EXPECT_EQ(addUc(0, kMacC, ports[0]), PLAT_ERR_NO_RESOURCE);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_BEGIN), 0u);
    ASSERT_EQ(addUc(0, kMacA, ports[0]), 0u);
    ASSERT_EQ(L2VPN_SendGrEvent(fd, kClient, L2VPN_GR_END), 0u);
    EXPECT_TRUE(same());
    EXPECT_EQ(addUc(0, kMacC, ports[0]), 0u);
    sw->deleteVsi(1);
    sw->addVsi(1, "vsi-b", 200);
    EXPECT_EQ(addUc(1, kMacA, ports[0]), 0u);
    EXPECT_EQ(addUc(1, kMacB, ports[0]), 0u);
    EXPECT_TRUE(same());
}

}  // namespace
