// Forwarding programming over the in-process L2VPN library: the records the
// driver receives, their order, chunking, withdrawal, PBB port mode.
#include "daemon/pbb_common.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "platform/model/inproc.h"
#include "platform/result.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <any>
#include <array>
#include <numeric>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;

constexpr uint32_t kVsi = 3;
constexpr uint32_t kISid = 4096;
constexpr uint16_t kBVlan = 100;
constexpr Mac kGroup4096{0x01, 0x1E, 0x83, 0x00, 0x10, 0x00};

uint32_t ignoreEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

struct MinMCall {
    bool add;
    sim::MinMRequest req;
};

// The forwarding-entry calls in the order made, with their decoded records.
std::vector<MinMCall> minmCalls()
{
    std::vector<MinMCall> out;
    for (const auto& c : plat::testing::calls()) {
        if (c.name == "L2VPN_AddMinMEntry" || c.name == "L2VPN_DelMinMEntry")
            out.push_back({c.name == "L2VPN_AddMinMEntry", std::any_cast<sim::MinMRequest>(c.payload)});
    }
    return out;
}

// The L2VPN programming calls in order, shortened: "add2", "del3",
// "flush", "if2", "gr1" ...
std::vector<std::string> trace()
{
    std::vector<std::string> out;
    for (auto c : plat::testing::calls()) {
        // An armed fault shows in the arguments; the order is what counts here.
        c.args = c.args.substr(0, c.args.find(" fault="));
        if (c.name == "L2VPN_AddMinMEntry" || c.name == "L2VPN_DelMinMEntry") {
            auto r = std::any_cast<sim::MinMRequest>(c.payload);
            out.push_back((c.name == "L2VPN_AddMinMEntry" ? "add" : "del") + std::to_string(r.op));
        } else if (c.name == "L2VPN_FlushPwEntry") {
            out.push_back("flush");
        } else if (c.name == "L2VPN_SetInterface") {
            out.push_back("if:" + c.args.substr(c.args.find("ifIndex=") + 8));
        } else if (c.name == "L2VPN_SendGrEvent") {
            out.push_back("gr" + c.args.substr(c.args.find("phase=") + 6));
        } else if (c.name == "L2VPN_SetVSI") {
            out.push_back("vsi");
        }
    }
    return out;
}

Mac macOf(const uint8_t* p)
{
    Mac m;
    std::copy(p, p + 6, m.begin());
    return m;
}

// The fields every multicast add and port change carries.
void expectMulticastFields(const sim::MinMRequest& r, uint32_t isid, const Mac& group)
{
    EXPECT_EQ(r.client, PBB_L2VPN_CLIENT);
    EXPECT_EQ(r.entry.uiVsiIndex, kVsi);
    EXPECT_EQ(r.entry.uiISid, isid);
    EXPECT_EQ(macOf(r.entry.aucBMac), group);
    EXPECT_EQ(r.entry.usZero, 0);
    EXPECT_EQ(r.entry.uiAllOnes, 0xFFFFFFFFu);
    EXPECT_EQ(r.entry.usAllOnes, 0xFFFF);
    EXPECT_EQ(macOf(r.entry.aucCMac), Mac{});
    EXPECT_EQ(r.entry.uiEntryFlags, PBB_MINM_FLAGS_MC);
    EXPECT_EQ(r.entry.uiBVlan, kBVlan);
    EXPECT_EQ(r.entry.uiZero, 0u);
}

class L2vpn : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        sw_ = &plat::inproc::reset();
        sw_->addSlot(1, {.minm = true});
        sw_->addSlot(2, {.minm = false});
        p1_ = sw_->addPort("eth-1/0/1", 1);
        p2_ = sw_->addPort("eth-1/0/2", 1);
        plain_ = sw_->addPort("eth-2/0/1", 2);
        sw_->addVsi(kVsi, "vsi-a", kISid);
        g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT, ignoreEvent);
        ASSERT_GE(g_iL2vpnEvtFd, 0);
        ASSERT_EQ(PBB_ifcb_Init(), PBB_OK);
        g_uiPbbDbgFlag = PBB_DBG_ERROR;
        plat::testing::setRecording(true);
    }
    void TearDown() override
    {
        plat::testing::setRecording(false);
        PBB_ifcb_Exit();
        if (g_iL2vpnEvtFd >= 0) (void)L2VPN_Deregister(g_iL2vpnEvtFd);
        g_iL2vpnEvtFd = PBB_INVALID_FD;
        g_uiPbbDbgFlag = 0;
    }

    // n new ports on the MAC-in-MAC slot.
    std::vector<uint32_t> addPorts(uint32_t n)
    {
        std::vector<uint32_t> out;
        for (uint32_t i = 0; i < n; ++i) out.push_back(sw_->addPort("eth-1/1/" + std::to_string(i), 1));
        return out;
    }

    size_t logged(const std::string& text) { return pbbtest::grepLines(dirs_.logFile(), {"ERROR", text}).size(); }

    pbbtest::PlatformDirs dirs_;
    sim::SwitchModel* sw_ = nullptr;
    uint32_t p1_ = 0, p2_ = 0, plain_ = 0;
};

TEST_F(L2vpn, MulticastAddGoesOutIn256PortChunksThenOneFlush)
{
    std::vector<uint32_t> ports = addPorts(600);
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), 600), PBB_OK);

    EXPECT_EQ(trace(), (std::vector<std::string>{"add2", "add2", "add2", "flush"}));
    auto calls = minmCalls();
    ASSERT_EQ(calls.size(), 3u);
    const uint32_t sizes[] = {256, 256, 88};
    size_t offset = 0;
    for (size_t i = 0; i < 3; ++i) {
        const auto& r = calls[i].req;
        expectMulticastFields(r, kISid, kGroup4096);
        EXPECT_EQ(r.entry.uiPortNum, sizes[i]);
        std::vector<uint32_t> expected(ports.begin() + offset, ports.begin() + offset + sizes[i]);
        EXPECT_EQ(r.ports, expected) << "chunk " << i;
        offset += sizes[i];
    }
    const sim::McEntry* mc = sw_->multicast(kVsi);
    ASSERT_NE(mc, nullptr);
    EXPECT_EQ(mc->ports, ports);
    EXPECT_EQ(logged("Multicast"), 0u);
}

TEST_F(L2vpn, MulticastAddChunkBoundaries)
{
    std::vector<uint32_t> ports = addPorts(257);

    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), 256), PBB_OK);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add2", "flush"}));
    EXPECT_EQ(minmCalls().at(0).req.ports.size(), 256u);

    plat::testing::clearCalls();
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), 257), PBB_OK);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add2", "add2", "flush"}));
    EXPECT_EQ(minmCalls().at(1).req.ports, std::vector<uint32_t>{ports[256]});
    EXPECT_EQ(sw_->multicast(kVsi)->ports.size(), 257u);

    // An empty list still makes its one call.
    plat::testing::clearCalls();
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), 0), PBB_OK);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add2", "flush"}));
    EXPECT_EQ(minmCalls().at(0).req.entry.uiPortNum, 0u);
    EXPECT_TRUE(sw_->multicast(kVsi)->ports.empty());
}

TEST_F(L2vpn, FailedChunkWithdrawsTheGroupAndSendsNoMore)
{
    std::vector<uint32_t> ports = addPorts(600);
    ports[300] = 99999;  // unknown to the switch: the second chunk is refused
    EXPECT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), 600), PLAT_ERR_NOT_FOUND);

    EXPECT_EQ(trace(), (std::vector<std::string>{"add2", "add2", "del3", "flush"}));
    auto calls = minmCalls();
    ASSERT_EQ(calls.size(), 3u);
    const auto& del = calls[2].req;
    EXPECT_EQ(del.client, PBB_L2VPN_CLIENT);
    EXPECT_EQ(del.entry.uiVsiIndex, kVsi);
    EXPECT_EQ(del.entry.uiISid, kISid);
    EXPECT_EQ(macOf(del.entry.aucBMac), kGroup4096);
    // Nothing of the group is left staged or committed.
    EXPECT_EQ(sw_->multicast(kVsi), nullptr);
    EXPECT_EQ(sw_->fib().working().mc.count(kVsi), 0u);
    EXPECT_EQ(logged("Failed to add Multicast Pseudo Wire entries to driver."), 1u);
}

TEST_F(L2vpn, FailedFlushWithdrawsTheGroupAndReturnsTheFlushCode)
{
    const uint32_t ports[] = {p1_, p2_};
    plat::testing::failCall("L2VPN_FlushPwEntry", 0x4242);
    EXPECT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports, 2), 0x4242u);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add2", "flush", "del3", "flush"}));
    EXPECT_EQ(sw_->multicast(kVsi), nullptr);
    EXPECT_EQ(sw_->fib().working().mc.count(kVsi), 0u);
    EXPECT_EQ(logged("Failed to add Multicast Pseudo Wire entries to driver."), 1u);
}

TEST_F(L2vpn, GroupAddressCarriesTheISid)
{
    const uint32_t ports[] = {p1_};
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports, 1), PBB_OK);
    EXPECT_EQ(sw_->multicast(kVsi)->group, kGroup4096);

    sw_->addVsi(4, "vsi-b", 1);
    plat::testing::clearCalls();
    ASSERT_EQ(PBB_l2vpn_AddMcPw(4, 1, kBVlan, ports, 1), PBB_OK);
    EXPECT_EQ(macOf(minmCalls().at(0).req.entry.aucBMac), (Mac{0x01, 0x1E, 0x83, 0x00, 0x00, 0x01}));
    // The deletion is keyed the same way.
    PBB_l2vpn_DeleteMcPw(4, 1);
    EXPECT_EQ(macOf(minmCalls().at(1).req.entry.aucBMac), (Mac{0x01, 0x1E, 0x83, 0x00, 0x00, 0x01}));
    EXPECT_EQ(sw_->multicast(4), nullptr);
    EXPECT_NE(sw_->multicast(kVsi), nullptr);
}

TEST_F(L2vpn, MulticastPortChangesAreSingleAddsWithTheirOwnOperations)
{
    const uint32_t ports[] = {p1_};
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports, 1), PBB_OK);
    plat::testing::clearCalls();

    EXPECT_EQ(PBB_l2vpn_AddMcPwPort(kVsi, kISid, kBVlan, p2_), PBB_OK);
    PBB_l2vpn_DeleteMcPwPort(kVsi, kISid, kBVlan, p1_);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add4", "flush", "add5", "flush"}));
    auto calls = minmCalls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& c : calls) {
        EXPECT_TRUE(c.add);
        expectMulticastFields(c.req, kISid, kGroup4096);
        EXPECT_EQ(c.req.entry.uiPortNum, 1u);
    }
    EXPECT_EQ(calls[0].req.ports, std::vector<uint32_t>{p2_});
    EXPECT_EQ(calls[1].req.ports, std::vector<uint32_t>{p1_});
    EXPECT_EQ(sw_->multicast(kVsi)->ports, std::vector<uint32_t>{p2_});

    // A refused port change: its message, its code, no flush.
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_AddMcPwPort(kVsi, kISid, kBVlan, 99999), PLAT_ERR_NOT_FOUND);
    PBB_l2vpn_DeleteMcPwPort(kVsi, kISid, kBVlan, p1_);  // no longer there
    EXPECT_EQ(trace(), (std::vector<std::string>{"add4", "add5"}));
    EXPECT_EQ(logged("Failed to add Multicast Pseudo Wire port to driver."), 1u);
    EXPECT_EQ(logged("Failed to delete Multicast Pseudo Wire port from driver."), 1u);
}

TEST_F(L2vpn, UnicastEntryRecordsAndFlushFailure)
{
    const Mac bmac{0x00, 0x00, 0x5E, 0x00, 0x53, 0x01};
    const Mac cmac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    ASSERT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p2_, bmac.data(), cmac.data()), PBB_OK);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add0", "flush"}));
    auto calls = minmCalls();
    ASSERT_EQ(calls.size(), 1u);
    const auto& r = calls[0].req;
    EXPECT_EQ(r.client, PBB_L2VPN_CLIENT);
    EXPECT_EQ(r.entry.uiVsiIndex, kVsi);
    EXPECT_EQ(r.entry.uiISid, kISid);
    EXPECT_EQ(macOf(r.entry.aucBMac), bmac);
    EXPECT_EQ(r.entry.usZero, 0);
    EXPECT_EQ(r.entry.uiAllOnes, 0xFFFFFFFFu);
    EXPECT_EQ(r.entry.usAllOnes, 0xFFFF);
    EXPECT_EQ(macOf(r.entry.aucCMac), cmac);
    EXPECT_EQ(r.entry.uiEntryFlags, PBB_MINM_FLAGS_UC);
    EXPECT_EQ(r.entry.uiBVlan, kBVlan);
    EXPECT_EQ(r.entry.uiPortNum, 1u);
    EXPECT_EQ(r.ports, std::vector<uint32_t>{p2_});
    EXPECT_EQ(r.entry.uiZero, 0u);
    const sim::UcEntry* uc = sw_->unicast(kVsi, bmac);
    ASSERT_NE(uc, nullptr);
    EXPECT_EQ(uc->port, p2_);
    EXPECT_EQ(uc->cmac, cmac);

    PBB_l2vpn_DeleteUcPw(kVsi, kISid, bmac.data());
    calls = minmCalls();
    ASSERT_EQ(calls.size(), 2u);
    const auto& d = calls[1];
    EXPECT_FALSE(d.add);
    EXPECT_EQ(d.req.op, PBB_MINM_DEL_UCPW);
    EXPECT_EQ(d.req.entry.uiVsiIndex, kVsi);
    EXPECT_EQ(d.req.entry.uiISid, kISid);
    EXPECT_EQ(macOf(d.req.entry.aucBMac), bmac);
    EXPECT_EQ(sw_->unicast(kVsi, bmac), nullptr);
    EXPECT_EQ(logged("Unicast"), 0u);

    // The add is made, the flush fails: the flush's code and the add message.
    plat::testing::clearCalls();
    plat::testing::failCall("L2VPN_FlushPwEntry", 0x3131);
    EXPECT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p2_, bmac.data(), cmac.data()), 0x3131u);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add0", "flush"}));
    EXPECT_EQ(logged("Failed to add Unicast Pseudo Wire entries to driver."), 1u);

    // A refused deletion is not flushed.
    plat::testing::clearCalls();
    PBB_l2vpn_DeleteUcPw(kVsi, kISid, cmac.data());
    EXPECT_EQ(trace(), (std::vector<std::string>{"del1"}));
    EXPECT_EQ(logged("Failed to delete Unicast Pseudo Wire entries from driver."), 1u);
}

TEST_F(L2vpn, ChannelHandleIsPassedOnUncheckedAndFailuresLogOnlyUnderTheSwitch)
{
    const Mac bmac{0x00, 0x00, 0x5E, 0x00, 0x53, 0x02};
    int fd = g_iL2vpnEvtFd;
    g_iL2vpnEvtFd = PBB_INVALID_FD;
    g_uiPbbDbgFlag = 0;
    // The platform refuses a handle that is not the registration's; its
    // code comes back unchanged.
    EXPECT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p1_, bmac.data(), bmac.data()), PLAT_ERR_UNAVAILABLE);
    EXPECT_EQ(PBB_l2vpn_SetEncapType(kVsi, 7), PLAT_ERR_UNAVAILABLE);
    EXPECT_EQ(trace(), (std::vector<std::string>{"add0", "vsi"}));
    EXPECT_EQ(pbbtest::readLines(dirs_.logFile()).size(), 0u);
    g_iL2vpnEvtFd = fd;
}

TEST_F(L2vpn, EncapsulationTypeOfAVsi)
{
    EXPECT_EQ(PBB_l2vpn_SetEncapType(kVsi, 5), PBB_OK);
    EXPECT_EQ(sw_->encapType(kVsi), 5u);
    auto calls = plat::testing::callsNamed("L2VPN_SetVSI");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(std::any_cast<uint32_t>(calls[0].payload), 5u);
    EXPECT_NE(calls[0].args.find("attr=1"), std::string::npos) << calls[0].args;
    EXPECT_EQ(plat::testing::countCalls("L2VPN_FlushPwEntry"), 0u);

    EXPECT_EQ(PBB_l2vpn_SetEncapType(77, 5), PLAT_ERR_NOT_FOUND);
    EXPECT_EQ(logged("Failed to set ethernet type."), 1u);
}

TEST_F(L2vpn, PbbModeOfAPort)
{
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(p1_), PBB_OK);
    EXPECT_TRUE(sw_->pbbMode(p1_));
    PBB_l2vpn_ResetIfPBB(p1_);
    EXPECT_FALSE(sw_->pbbMode(p1_));
    EXPECT_EQ(trace(), (std::vector<std::string>{"if:" + std::to_string(p1_) + " mode=2",
                                                 "if:" + std::to_string(p1_) + " mode=3"}));

    // A port on a slot without MAC-in-MAC is refused.
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(plain_), PLAT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(logged("Failed to enable the interface PBB mode."), 1u);

    // Type not readable: its code, no call, no message.
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(99999), PLAT_ERR_NOT_FOUND);
    PBB_l2vpn_ResetIfPBB(99999);
    plat::testing::failCall("IF_GetDataByIfIndex", 9);
    PBB_l2vpn_ResetIfPBB(p1_);
    EXPECT_TRUE(trace().empty());
    EXPECT_EQ(logged("Failed to enable the interface PBB mode."), 1u);
    EXPECT_EQ(logged("Failed to disable the interface PBB mode."), 0u);
}

TEST_F(L2vpn, AggregateMembersSwitchedOnAndBackOffWhenOneFails)
{
    uint32_t agg = sw_->addAggregate("agg-1");
    uint32_t m3 = sw_->addPort("eth-1/0/3", 1);
    sw_->joinAggregate(agg, p1_);
    sw_->joinAggregate(agg, plain_);  // on a slot without MAC-in-MAC
    sw_->joinAggregate(agg, m3);
    plat::testing::clearCalls();

    EXPECT_EQ(PBB_l2vpn_SetIfPBB(agg), PLAT_ERR_NOT_SUPPORTED);
    const std::string s1 = std::to_string(p1_), s2 = std::to_string(plain_), s3 = std::to_string(m3);
    EXPECT_EQ(trace(), (std::vector<std::string>{"if:" + s1 + " mode=2", "if:" + s2 + " mode=2",
                                                 "if:" + s1 + " mode=3", "if:" + s2 + " mode=3",
                                                 "if:" + s3 + " mode=3"}));
    EXPECT_FALSE(sw_->pbbMode(p1_));
    EXPECT_FALSE(sw_->pbbMode(m3));
    EXPECT_EQ(logged("Failed to enable the interface PBB mode."), 1u);
    EXPECT_EQ(logged("Failed to disable the interface PBB mode."), 0u);

    // A member that is a PBB port in its own right keeps its mode.
    ASSERT_EQ(PBB_l2vpn_SetIfPBB(p1_), PBB_OK);
    ASSERT_NE(PBB_ifcb_Create(p1_), nullptr);
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(agg), PLAT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(trace(), (std::vector<std::string>{"if:" + s1 + " mode=2", "if:" + s2 + " mode=2",
                                                 "if:" + s2 + " mode=3", "if:" + s3 + " mode=3"}));
    EXPECT_TRUE(sw_->pbbMode(p1_));
}

TEST_F(L2vpn, AggregateWithCapableMembersAndWithoutMembers)
{
    uint32_t agg = sw_->addAggregate("agg-1");
    uint32_t empty = sw_->addAggregate("agg-2");
    sw_->joinAggregate(agg, p2_);
    sw_->joinAggregate(agg, p1_);
    plat::testing::clearCalls();

    EXPECT_EQ(PBB_l2vpn_SetIfPBB(agg), PBB_OK);
    EXPECT_TRUE(sw_->pbbMode(p1_));
    EXPECT_TRUE(sw_->pbbMode(p2_));
    const std::string s1 = std::to_string(p1_), s2 = std::to_string(p2_);
    EXPECT_EQ(trace(), (std::vector<std::string>{"if:" + s2 + " mode=2", "if:" + s1 + " mode=2"}));

    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(empty), PBB_OK);
    PBB_l2vpn_ResetIfPBB(empty);
    EXPECT_TRUE(trace().empty());
    EXPECT_EQ(PBB_l2vpn_IsSupportByIf(empty), 1u);

    // A failing disable of a member is reported once the walk is done.
    plat::testing::failCall("L2VPN_SetInterface", 4);
    PBB_l2vpn_ResetIfPBB(agg);
    EXPECT_EQ(trace(), (std::vector<std::string>{"if:" + s2 + " mode=3", "if:" + s1 + " mode=3"}));
    EXPECT_TRUE(sw_->pbbMode(p2_));
    EXPECT_FALSE(sw_->pbbMode(p1_));
    EXPECT_EQ(logged("Failed to disable the interface PBB mode."), 1u);
}

TEST_F(L2vpn, CapabilityOfSlotsAndInterfaces)
{
    EXPECT_EQ(PBB_l2vpn_IsSupportBySlot(1), 1u);
    EXPECT_EQ(PBB_l2vpn_IsSupportBySlot(2), 0u);
    EXPECT_EQ(PBB_l2vpn_IsSupportBySlot(9), 0u);
    EXPECT_EQ(PBB_l2vpn_IsSupportByIf(p1_), 1u);
    EXPECT_EQ(PBB_l2vpn_IsSupportByIf(plain_), 0u);
    EXPECT_EQ(PBB_l2vpn_IsSupportByIf(99999), 0u);

    // The first member that is not capable ends the walk.
    uint32_t agg = sw_->addAggregate("agg-1");
    sw_->addSlot(3, {.minm = true});
    uint32_t m3 = sw_->addPort("eth-3/0/1", 3);
    sw_->joinAggregate(agg, p1_);
    sw_->joinAggregate(agg, plain_);
    sw_->joinAggregate(agg, m3);
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_IsSupportByIf(agg), 0u);
    auto asked = plat::testing::callsNamed("L2VPN_IsSupportMinM");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].args, "slot=1");
    EXPECT_EQ(asked[1].args, "slot=2");

    sw_->leaveAggregate(plain_);
    EXPECT_EQ(PBB_l2vpn_IsSupportByIf(agg), 1u);
}

TEST_F(L2vpn, DeleteAllPwIsAnEmptyRefreshWindow)
{
    const Mac bmac{0x00, 0x00, 0x5E, 0x00, 0x53, 0x03};
    const uint32_t ports[] = {p1_, p2_};
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports, 2), PBB_OK);
    ASSERT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p1_, bmac.data(), bmac.data()), PBB_OK);
    ASSERT_EQ(PBB_l2vpn_SetIfPBB(p1_), PBB_OK);
    plat::testing::clearCalls();

    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), PBB_OK);
    EXPECT_EQ(trace(), (std::vector<std::string>{"gr1", "gr2"}));
    for (const auto& c : plat::testing::callsNamed("L2VPN_SendGrEvent"))
        EXPECT_NE(c.args.find("client=5"), std::string::npos) << c.args;
    EXPECT_EQ(sw_->multicast(kVsi), nullptr);
    EXPECT_EQ(sw_->unicast(kVsi, bmac), nullptr);
    EXPECT_FALSE(sw_->pbbMode(p1_));

    // The result is that of the closing call: a failing opening call does
    // not count, a failing closing one does.
    plat::testing::clearCalls();
    plat::testing::failCall("L2VPN_SendGrEvent", 0x66);
    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), PBB_OK);
    plat::testing::failCall("L2VPN_SendGrEvent", 0x66, 2);
    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), 0x66u);
    EXPECT_EQ(trace(), (std::vector<std::string>{"gr1", "gr2", "gr1", "gr2"}));

    // Before the channel is registered nothing is sent.
    plat::testing::clearCalls();
    int fd = g_iL2vpnEvtFd;
    g_iL2vpnEvtFd = PBB_INVALID_FD;
    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), 0xFFFFFFFFu);
    EXPECT_TRUE(plat::testing::calls().empty());
    g_iL2vpnEvtFd = fd;
}

}  // namespace
