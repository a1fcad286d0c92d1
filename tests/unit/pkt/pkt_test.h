// The learning path in process: a switch with one MAC-in-MAC slot and three
// ports, one PBB VSI with a B-VLAN and a multicast entry over two of them,
// the daemon's tables, databases and packet socket. Frames are handed to
// the packet socket as datagrams, whatever they hold.
#pragma once

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_pkt.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/model/inproc.h"
#include "platform/model/pbb_frame.h"
#include "platform/testing.h"
#include "support/daemon_loop.h"
#include "support/dbmread.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <unistd.h>
#include <vector>

namespace pkttest {

using Mac = std::array<uint8_t, 6>;

constexpr uint32_t kVsi = 3;
constexpr uint32_t kISid = 5000;
constexpr uint16_t kBVlan = 100;
constexpr Mac kBsa{0x00, 0xbb, 0x00, 0x00, 0x00, 0x01};
constexpr Mac kCsa{0x02, 0x00, 0x00, 0x00, 0x01, 0x01};

inline uint32_t ignoreEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

// What a datagram carries; every field may be made wrong.
struct Frame {
    uint32_t ifIndex = 0;
    Mac bsa = kBsa;
    uint32_t isid = kISid;
    uint16_t bvlan = kBVlan;
    uint32_t ctrlType = PKT_CTRL_IFINDEX;
    size_t dataLen = 64;
};

inline std::vector<uint8_t> datagram(const Frame& f)
{
    sim::Datagram d;
    d.addr.ucLen = sizeof(d.addr);
    d.addr.ucFamily = PKT_AF_PACKET;
    d.addr.usEtherType = PKT_ETHERTYPE_ITAG;
    std::copy(f.bsa.begin(), f.bsa.end(), d.addr.aucSrcMac);
    Mac group = sim::groupAddress(f.isid);
    std::copy(group.begin(), group.end(), d.addr.aucDstMac);
    d.addr.usVlanId = f.bvlan;
    d.ctrl = PKT_CTRL_S{sizeof(PKT_CTRL_S), PKT_SOL_PACKET, f.ctrlType, f.ifIndex};
    d.data.assign(f.dataLen, 0);
    std::vector<uint8_t> itag{0x00, static_cast<uint8_t>(f.isid >> 16), static_cast<uint8_t>(f.isid >> 8),
                              static_cast<uint8_t>(f.isid), 0x02, 0, 0, 0, 0x01, 0x02};
    itag.insert(itag.end(), kCsa.begin(), kCsa.end());
    std::copy_n(itag.begin(), std::min(itag.size(), f.dataLen), d.data.begin());
    return sim::packDatagram(d);
}

class Learning : public ::testing::Test {
public:
    // For the table-driven cases' set-up functions.
    sim::SwitchModel& model() { return *sw_; }
    uint32_t port(int n) const { return n == 1 ? p1_ : n == 2 ? p2_ : p3_; }

protected:
    void SetUp() override
    {
        plat::testing::reset();
        sw_ = &plat::inproc::reset();
        sw_->addSlot(1, {.minm = true});
        p1_ = sw_->addPort("eth-1/0/1", 1);
        p2_ = sw_->addPort("eth-1/0/2", 1);
        p3_ = sw_->addPort("eth-1/0/3", 1);
        sw_->addVsi(kVsi, "vsi-a", kISid);
        g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT, ignoreEvent);
        ASSERT_GE(g_iL2vpnEvtFd, 0);
        ASSERT_TRUE(pbbtest::openDaemonLoop());
        ASSERT_EQ(PBB_vsi_Init() + PBB_pkt_Init() + PBB_ucpw_Init() + PBB_mcpw_Init() + PBB_dbmrecover_Init(), PBB_OK);

        PbbVsi* v = PBB_vsi_CreateVsi(kVsi);
        ASSERT_NE(v, nullptr);
        PBB_vsi_SetISid(kVsi, kISid);
        v->usBVlan = kBVlan;
        PbbMcPw* mc = PBB_mcpw_Create(kVsi, kISid, kBVlan);
        ASSERT_NE(mc, nullptr);
        ASSERT_EQ(PBB_mcpw_AddPort(mc, p1_), PBB_OK);
        ASSERT_EQ(PBB_mcpw_AddPort(mc, p2_), PBB_OK);
        g_uiMaxPwNum = 100;
        g_uiMaxPwNumPerVsi = 50;
        g_uiPbbDbgFlag = PBB_DBG_ERROR | PBB_DBG_PKT;
        plat::testing::setRecording(true);
    }
    void TearDown() override
    {
        plat::testing::setRecording(false);
        PBB_dbmrecover_Exit();
        PBB_mcpw_Exit();
        PBB_ucpw_Exit();
        PBB_pkt_Exit();
        PBB_vsi_Exit();
        pbbtest::closeDaemonLoop();
        (void)L2VPN_Deregister(g_iL2vpnEvtFd);
        g_iL2vpnEvtFd = PBB_INVALID_FD;
        g_uiPbbDbgFlag = 0;
    }

    void send(const Frame& f) { ASSERT_EQ(plat::inproc::deliverDatagram(datagram(f)), 1u); }
    Frame on(uint32_t ifIndex, Mac bsa = kBsa) const { return Frame{.ifIndex = ifIndex, .bsa = bsa}; }
    // Serves the daemon's descriptors as its loop does, until nothing is ready.
    void serve() { (void)pbbtest::serveReady(); }

    std::vector<std::string> logged(const std::string& text) const
    {
        return pbbtest::grepLines(dirs_.logFile(), {text});
    }
    size_t errorLines() const { return pbbtest::grepLines(dirs_.logFile(), {"ERROR"}).size(); }

    std::string dbKey(uint32_t ifIndex, uint16_t bvlan = kBVlan) const
    {
        char name[IF_NAME_BUF_LEN] = "";
        (void)IF_GetDataByIfIndex(ifIndex, IF_DATA_FULL_NAME, name);
        return "ucpw." + std::to_string(kVsi) + "." + std::to_string(ifIndex) + "." + std::to_string(bvlan) + "." +
               name;
    }
    // The records saved under a key.
    std::vector<PbbDbmUcPwRec> saved(const std::string& key) const
    {
        return pbbtest::sortList<PbbDbmUcPwRec>(g_hPbbLocalRunDB, key);
    }

    // Nothing learned anywhere: driver, table, database.
    void expectNothingLearned() const
    {
        EXPECT_TRUE(sw_->fib().working().uc.empty());
        EXPECT_EQ(PBB_ucpw_GetTotalNum(), 0u);
        for (uint32_t p : {p1_, p2_, p3_}) EXPECT_TRUE(saved(dbKey(p)).empty()) << p;
    }

    pbbtest::PlatformDirs dirs_;
    sim::SwitchModel* sw_ = nullptr;
    uint32_t p1_ = 0, p2_ = 0, p3_ = 0;
};

}  // namespace pkttest
