// The learning path in process: the control tests' switch and tables, with
// vsi-a (I-SID 1001) on B-VLAN 10 and its multicast entry over ports a and
// b, and the daemon's packet socket. Frames are handed to the packet socket
// as datagrams, whatever they hold.
#pragma once

#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_pkt.h"
#include "daemon/pbb_tmr.h"
#include "platform/model/pbb_frame.h"
#include "support/daemon_loop.h"
#include "support/logread.h"
#include "unit/ctl/ctl_test.h"

#include <array>
#include <tuple>

namespace pkttest {

using Mac = std::array<uint8_t, 6>;

constexpr uint32_t kVsi = 1;
constexpr uint32_t kISid = 1001;
constexpr uint16_t kBVlan = 10;  // the control tests' B-VLAN
constexpr Mac kBsa{0x00, 0xbb, 0x00, 0x00, 0x00, 0x01};
constexpr Mac kCsa{0x02, 0x00, 0x00, 0x00, 0x01, 0x01};

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

class Learning : public ctltest::Ctl {
public:
    // For the table-driven cases' set-up functions.
    sim::SwitchModel& model() { return *sw; }
    uint32_t port(int n) const { return n == 1 ? a : n == 2 ? b : c; }

protected:
    void SetUp() override
    {
        Ctl::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(pbbtest::openDaemonLoop());
        ASSERT_EQ(PBB_pkt_Init(), PBB_OK);
        vsi(kVsi, "vsi-a", kISid);
        PbbMcPw* mc = PBB_mcpw_Create(kVsi, kISid, kBVlan);
        ASSERT_NE(mc, nullptr);
        ASSERT_EQ(PBB_mcpw_AddPort(mc, a) + PBB_mcpw_AddPort(mc, b), PBB_OK);
        g_uiMaxPwNum = 100;
        g_uiMaxPwNumPerVsi = 50;
        g_uiPbbDbgFlag = PBB_DBG_ERROR | PBB_DBG_PKT;
        plat::testing::setRecording(true);
    }
    void TearDown() override
    {
        PBB_pkt_Exit();
        PBB_tmr_Exit();
        pbbtest::closeDaemonLoop();
        g_uiPbbDbgFlag = 0;
        Ctl::TearDown();
    }

    void send(const Frame& f) { ASSERT_EQ(plat::inproc::deliverDatagram(datagram(f)), 1u); }
    Frame on(uint32_t ifIndex, Mac bsa = kBsa) const { return Frame{.ifIndex = ifIndex, .bsa = bsa}; }
    // Serves the daemon's descriptors as its loop does, until nothing is ready.
    void serve() { (void)pbbtest::serveReady(); }

    std::vector<std::string> logged(const std::string& text) const { return pbbtest::grepLines(dirs.logFile(), {text}); }
    size_t errorLines() const { return logged("ERROR").size(); }

    // The frame's entry is in the driver, the table and the database on this
    // port, with the frame's I-SID and C-SA.
    void expectLearnedOn(uint32_t port)
    {
        expectUc({{kVsi, kBVlan, kBsa[5], port}});
        const sim::UcEntry* e = sw->unicast(kVsi, kBsa);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::tuple(e->isid, e->cmac, e->flags), std::tuple(kISid, kCsa, PBB_MINM_FLAGS_UC));
        if (PbbUcPw* u = PBB_ucpw_Get(kVsi, kBVlan, kBsa.data())) {
            EXPECT_EQ(u->uiISid, kISid);
        }
    }
    // Nothing learned anywhere: driver, table, database.
    void expectNothingLearned() const
    {
        EXPECT_TRUE(sw->fib().working().uc.empty());
        EXPECT_EQ(PBB_ucpw_GetTotalNum(), 0u);
        EXPECT_TRUE(dbUc().empty());
    }
};

}  // namespace pkttest
