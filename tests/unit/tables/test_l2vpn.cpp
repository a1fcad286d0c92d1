// Forwarding programming over the in-process L2VPN library: the records the
// driver receives, their order, chunking, withdrawal, PBB port mode. The
// chunks of a whole activation are also checked by the control tests.
#include "daemon/pbb_common.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_mcpw.h"
#include "platform/model/inproc.h"
#include "platform/result.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <any>
#include <array>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;

constexpr uint32_t kVsi = 3;
constexpr uint32_t kISid = 0x123456;
constexpr uint16_t kBVlan = 100;
// The group address carries the I-SID's three bytes.
constexpr Mac kGroup{0x01, 0x1E, 0x83, 0x12, 0x34, 0x56};

// The forwarding-entry records in the order sent.
std::vector<sim::MinMRequest> minmCalls()
{
    std::vector<sim::MinMRequest> out;
    for (const auto& c : plat::testing::calls())
        if (c.name == "L2VPN_AddMinMEntry" || c.name == "L2VPN_DelMinMEntry")
            out.push_back(std::any_cast<sim::MinMRequest>(c.payload));
    return out;
}

// The L2VPN programming calls in order, shortened: "add2", "del3",
// "flush", "if:<ifIndex> mode=2", "gr1", "vsi".
std::string trace()
{
    std::string out;
    for (auto c : plat::testing::calls()) {
        // An armed fault shows in the arguments; the order is what counts here.
        c.args = c.args.substr(0, c.args.find(" fault="));
        if (c.name == "L2VPN_AddMinMEntry" || c.name == "L2VPN_DelMinMEntry")
            out += (c.name == "L2VPN_AddMinMEntry" ? "add" : "del") +
                   std::to_string(std::any_cast<sim::MinMRequest>(c.payload).op) + " ";
        else if (c.name == "L2VPN_FlushPwEntry") out += "flush ";
        else if (c.name == "L2VPN_SetInterface") out += "if:" + c.args.substr(c.args.find("ifIndex=") + 8) + " ";
        else if (c.name == "L2VPN_SendGrEvent") out += "gr" + c.args.substr(c.args.find("phase=") + 6) + " ";
        else if (c.name == "L2VPN_SetVSI") out += "vsi ";
    }
    plat::testing::clearCalls();
    return out;
}

Mac macOf(const uint8_t (&m)[6]) { return std::to_array(m); }

// The fields every add carries.
void expectRecord(const sim::MinMRequest& r, const Mac& bmac, const Mac& cmac, uint32_t flags)
{
    const auto& e = r.entry;
    EXPECT_EQ(std::tuple(r.client, e.uiVsiIndex, e.uiISid, macOf(e.aucBMac), macOf(e.aucCMac), e.usZero + e.uiZero),
              std::tuple(PBB_L2VPN_CLIENT, kVsi, kISid, bmac, cmac, 0u));
    EXPECT_EQ(std::tuple(e.uiAllOnes, e.usAllOnes, e.uiEntryFlags, e.uiBVlan, e.uiPortNum),
              std::tuple(0xFFFFFFFFu, uint16_t(0xFFFF), flags, uint32_t(kBVlan), uint32_t(r.ports.size())));
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
        g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT,
                                       [](uint32_t, const L2VPN_VSI_INFO_S*) -> uint32_t { return 0; });
        ASSERT_GE(g_iL2vpnEvtFd, 0);
        ASSERT_EQ(PBB_ifcb_Init(), PBB_OK);
        g_uiPbbDbgFlag = PBB_DBG_ERROR;
        plat::testing::setRecording(true);
    }
    void TearDown() override
    {
        PBB_ifcb_Exit();
        (void)L2VPN_Deregister(g_iL2vpnEvtFd);
        g_iL2vpnEvtFd = PBB_INVALID_FD;
        g_uiPbbDbgFlag = 0;
    }
    std::vector<uint32_t> addPorts(uint32_t n)
    {
        std::vector<uint32_t> out;
        for (uint32_t i = 0; i < n; ++i) out.push_back(sw_->addPort("eth-1/1/" + std::to_string(i), 1));
        return out;
    }
    size_t logged(const std::string& text) { return pbbtest::grepLines(dirs_.logFile(), {"ERROR", text}).size(); }
    static std::string ifs(uint32_t ifIndex, int mode)
    {
        return "if:" + std::to_string(ifIndex) + " mode=" + std::to_string(mode) + " ";
    }

    pbbtest::PlatformDirs dirs_;
    sim::SwitchModel* sw_ = nullptr;
    uint32_t p1_ = 0, p2_ = 0, plain_ = 0;
};

TEST_F(L2vpn, MulticastAddGoesOutIn256PortChunksThenOneFlush)
{
    std::vector<uint32_t> ports = addPorts(257);
    for (uint32_t n : {256u, 257u, 0u}) {
        SCOPED_TRACE(n);
        ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), n), PBB_OK);
        auto calls = minmCalls();
        EXPECT_EQ(trace(), n > 256 ? "add2 add2 flush " : "add2 flush ");
        for (auto& c : calls) expectRecord(c, kGroup, Mac{}, PBB_MINM_FLAGS_MC);
        EXPECT_EQ(calls.back().ports, std::vector<uint32_t>(ports.begin() + (n > 256 ? 256 : 0), ports.begin() + n));
        EXPECT_EQ(sw_->multicast(kVsi)->ports.size(), n);
    }
    EXPECT_EQ(logged("Multicast"), 0u);
}

TEST_F(L2vpn, FailedChunkOrFlushWithdrawsTheGroup)
{
    std::vector<uint32_t> ports = addPorts(600);
    ports[300] = 99999;  // unknown to the switch: the second chunk is refused
    EXPECT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), 600), PLAT_ERR_NOT_FOUND);
    auto del = minmCalls().at(2);
    EXPECT_EQ(trace(), "add2 add2 del3 flush ");
    EXPECT_EQ(std::tuple(del.client, del.entry.uiVsiIndex, del.entry.uiISid, macOf(del.entry.aucBMac)),
              std::tuple(PBB_L2VPN_CLIENT, kVsi, kISid, kGroup));
    EXPECT_EQ(sw_->multicast(kVsi), nullptr);
    EXPECT_EQ(sw_->fib().working().mc.count(kVsi), 0u) << "nothing left staged";

    plat::testing::failCall("L2VPN_FlushPwEntry", 0x4242);
    EXPECT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, ports.data(), 2), 0x4242u);
    EXPECT_EQ(trace(), "add2 flush del3 flush ");
    EXPECT_EQ(sw_->multicast(kVsi), nullptr);
    EXPECT_EQ(sw_->fib().working().mc.count(kVsi), 0u);
    EXPECT_EQ(logged("Failed to add Multicast Pseudo Wire entries to driver."), 2u);
    // Both withdrawals succeeded; one of a group that is not there fails.
    PBB_l2vpn_DeleteMcPw(kVsi, kISid);
    EXPECT_EQ(logged("Failed to delete Multicast Pseudo Wire entries from driver."), 1u);
}

TEST_F(L2vpn, MulticastPortChangesAreSingleAddsWithTheirOwnOperations)
{
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, &p1_, 1), PBB_OK);
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_AddMcPwPort(kVsi, kISid, kBVlan, p2_), PBB_OK);
    PBB_l2vpn_DeleteMcPwPort(kVsi, kISid, kBVlan, p1_);
    auto calls = minmCalls();
    EXPECT_EQ(trace(), "add4 flush add5 flush ");
    for (const auto& c : calls) expectRecord(c, kGroup, Mac{}, PBB_MINM_FLAGS_MC);
    EXPECT_EQ(calls.at(0).ports, std::vector<uint32_t>{p2_});
    EXPECT_EQ(calls.at(1).ports, std::vector<uint32_t>{p1_});
    EXPECT_EQ(sw_->multicast(kVsi)->ports, std::vector<uint32_t>{p2_});
    EXPECT_EQ(logged("Multicast"), 0u);
    // A refused port change: its message, its code, no flush.
    EXPECT_EQ(PBB_l2vpn_AddMcPwPort(kVsi, kISid, kBVlan, 99999), PLAT_ERR_NOT_FOUND);
    PBB_l2vpn_DeleteMcPwPort(kVsi, kISid, kBVlan, p1_);  // no longer there
    EXPECT_EQ(trace(), "add4 add5 ");
    EXPECT_EQ(logged("Failed to add Multicast Pseudo Wire port to driver."), 1u);
    EXPECT_EQ(logged("Failed to delete Multicast Pseudo Wire port from driver."), 1u);
}

TEST_F(L2vpn, UnicastRecordDeletionAndFailures)
{
    const Mac bmac{0x00, 0x00, 0x5E, 0x00, 0x53, 0x01}, cmac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    ASSERT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p2_, bmac.data(), cmac.data()), PBB_OK);
    PBB_l2vpn_DeleteUcPw(kVsi, kISid, bmac.data());
    auto calls = minmCalls();
    EXPECT_EQ(trace(), "add0 flush del1 flush ");
    expectRecord(calls.at(0), bmac, cmac, PBB_MINM_FLAGS_UC);
    EXPECT_EQ(calls[0].ports, std::vector<uint32_t>{p2_});
    EXPECT_EQ(std::tuple(calls.at(1).entry.uiVsiIndex, calls[1].entry.uiISid, macOf(calls[1].entry.aucBMac)),
              std::tuple(kVsi, kISid, bmac));
    EXPECT_EQ(sw_->unicast(kVsi, bmac), nullptr);
    EXPECT_EQ(logged("Unicast"), 0u);

    // The add is made, the flush fails: the flush's code and the add message.
    plat::testing::failCall("L2VPN_FlushPwEntry", 0x3131);
    EXPECT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p2_, bmac.data(), cmac.data()), 0x3131u);
    // A refused deletion is not flushed.
    PBB_l2vpn_DeleteUcPw(kVsi, kISid, cmac.data());
    EXPECT_EQ(trace(), "add0 flush del1 ");
    EXPECT_EQ(logged("Failed to add Unicast Pseudo Wire entries to driver."), 1u);
    EXPECT_EQ(logged("Failed to delete Unicast Pseudo Wire entries from driver."), 1u);

    // The channel handle is passed on unchecked: the platform's code for one
    // that is not open comes back unchanged; with the error switch off
    // nothing is logged.
    const int fd = g_iL2vpnEvtFd;
    g_iL2vpnEvtFd = PBB_INVALID_FD;
    g_uiPbbDbgFlag = 0;
    EXPECT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p1_, bmac.data(), bmac.data()), PLAT_ERR_UNAVAILABLE);
    EXPECT_EQ(logged("Failed to add Unicast Pseudo Wire entries to driver."), 1u);
    g_iL2vpnEvtFd = fd;
}

// Port mode and encapsulation that succeed are checked by the control tests.
TEST_F(L2vpn, PbbModeEncapsulationAndCapabilityRefusals)
{
    EXPECT_EQ(PBB_l2vpn_SetEncapType(77, 5), PLAT_ERR_NOT_FOUND);
    EXPECT_NE(plat::testing::callsNamed("L2VPN_SetVSI").at(0).args.find("attr=1"), std::string::npos);
    EXPECT_EQ(logged("Failed to set ethernet type."), 1u);
    // A port on a slot without MAC-in-MAC is refused.
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(plain_), PLAT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(logged("Failed to enable the interface PBB mode."), 1u);
    // Type not readable: its code, no call, no message.
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(99999), PLAT_ERR_NOT_FOUND);
    PBB_l2vpn_ResetIfPBB(99999);
    plat::testing::failCall("IF_GetDataByIfIndex", 9);
    PBB_l2vpn_ResetIfPBB(p1_);
    EXPECT_EQ(trace(), "");
    EXPECT_EQ(logged("Failed to enable the interface PBB mode."), 1u);
    EXPECT_EQ(logged("Failed to disable the interface PBB mode."), 0u);
}

TEST_F(L2vpn, AggregateMembersSwitchedOnAndBackOffWhenOneFails)
{
    uint32_t agg = sw_->addAggregate("agg-1");
    uint32_t m3 = sw_->addPort("eth-1/0/3", 1);
    for (uint32_t m : {p1_, plain_, m3}) sw_->joinAggregate(agg, m);  // plain_: no MAC-in-MAC
    // The first member that is not capable ends the capability walk.
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_IsSupportByIf(agg), 0u);
    auto asked = plat::testing::callsNamed("L2VPN_IsSupportMinM");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].args, "slot=2");
    plat::testing::clearCalls();

    EXPECT_EQ(PBB_l2vpn_SetIfPBB(agg), PLAT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(trace(), ifs(p1_, 2) + ifs(plain_, 2) + ifs(p1_, 3) + ifs(plain_, 3) + ifs(m3, 3));
    EXPECT_FALSE(sw_->pbbMode(p1_) || sw_->pbbMode(m3));
    EXPECT_EQ(logged("Failed to enable the interface PBB mode."), 1u);
    EXPECT_EQ(logged("Failed to disable the interface PBB mode."), 0u);
    // A member that is a PBB port in its own right keeps its mode.
    ASSERT_EQ(PBB_l2vpn_SetIfPBB(p1_), PBB_OK);
    ASSERT_NE(PBB_ifcb_Create(p1_), nullptr);
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_SetIfPBB(agg), PLAT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(trace(), ifs(p1_, 2) + ifs(plain_, 2) + ifs(plain_, 3) + ifs(m3, 3));
    EXPECT_TRUE(sw_->pbbMode(p1_));
    // A member whose disable fails does not end the walk; it is reported once.
    plat::testing::failCall("L2VPN_SetInterface", 4);
    PBB_l2vpn_ResetIfPBB(agg);
    EXPECT_EQ(trace(), ifs(plain_, 3) + ifs(m3, 3));
    EXPECT_EQ(logged("Failed to disable the interface PBB mode."), 1u);
}

TEST_F(L2vpn, DeleteAllPwIsAnEmptyRefreshWindow)
{
    const Mac bmac{0x00, 0x00, 0x5E, 0x00, 0x53, 0x03};
    ASSERT_EQ(PBB_l2vpn_AddMcPw(kVsi, kISid, kBVlan, &p1_, 1), PBB_OK);
    ASSERT_EQ(PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, p1_, bmac.data(), bmac.data()), PBB_OK);
    ASSERT_EQ(PBB_l2vpn_SetIfPBB(p1_), PBB_OK);
    plat::testing::clearCalls();
    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), PBB_OK);
    for (const auto& c : plat::testing::callsNamed("L2VPN_SendGrEvent"))
        EXPECT_NE(c.args.find("client=5"), std::string::npos) << c.args;
    EXPECT_EQ(trace(), "gr1 gr2 ");
    EXPECT_EQ(sw_->multicast(kVsi), nullptr);
    EXPECT_EQ(sw_->unicast(kVsi, bmac), nullptr);
    EXPECT_FALSE(sw_->pbbMode(p1_));
    // The result is that of the closing call: a failing opening call does
    // not count, a failing closing one does.
    plat::testing::failCall("L2VPN_SendGrEvent", 0x66);
    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), PBB_OK);
    plat::testing::failCall("L2VPN_SendGrEvent", 0x66, 2);
    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), 0x66u);
    EXPECT_EQ(trace(), "gr1 gr2 gr1 gr2 ");
    // Before the channel is registered nothing is sent.
    int fd = g_iL2vpnEvtFd;
    g_iL2vpnEvtFd = PBB_INVALID_FD;
    EXPECT_EQ(PBB_l2vpn_DeleteAllPw(), 0xFFFFFFFFu);
    EXPECT_TRUE(plat::testing::calls().empty());
    g_iL2vpnEvtFd = fd;
}

}  // namespace
