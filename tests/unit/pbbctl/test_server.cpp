// pbbctl's client against the daemon's real management server over the
// in-process platform: what pbbctl writes is what the daemon reads, and
// the walks see the daemon's tables. The server's loop runs on a thread
// while the client waits for its answers; the test touches the daemon's
// tables only while that loop is stopped.
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "daemon/pbb_elipc.h"
#include "daemon/pbb_gs.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "tools/pbbctl_client.h"
#include "unit/ctl/ctl_test.h"

using namespace pbbctl;
using namespace pbbctl::proto;

namespace {

class AgainstServer : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        plat::setRunDir(run_.path());
        g_iPbbEpollFd = epoll_create1(EPOLL_CLOEXEC);
        PBB_elipc_InitFdList();
        ASSERT_EQ(PBB_gs_Init(), PBB_OK);
    }
    void TearDown() override
    {
        stopLoop();
        PBB_gs_Exit();
        PBB_elipc_FiniFdList();
        close(g_iPbbEpollFd);
        g_iPbbEpollFd = PBB_INVALID_FD;
        g_uiPbbDbgFlag = 0;
        Ctl::TearDown();
    }
    void startLoop()
    {
        stop_ = false;
        loop_ = std::thread([this] {
            while (!stop_) (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 10);
        });
    }
    void stopLoop()
    {
        stop_ = true;
        if (loop_.joinable()) loop_.join();
    }
    std::set<std::pair<uint8_t, uint32_t>> walked(MgmtClient& cl)
    {
        std::set<std::pair<uint8_t, uint32_t>> out;
        for (const UcMsg& e : cl.learnedWalk({1, 1001, kVlan, {}, 0, "vsi-a"})) out.emplace(e.bmac[5], e.ifIndex);
        return out;
    }

    pbbtest::TempDir run_;
    std::atomic<bool> stop_{false};
    std::thread loop_;
};

TEST_F(AgainstServer, RequestsDoWhatTheyAskAndTheWalksSeeTheTables)
{
    startLoop();
    MgmtClient cl(5000);
    EXPECT_EQ(cl.call(kSetDebug, debugReq(kDebugSet, 0x6)), kOk);
    EXPECT_EQ(cl.call(kSetDebug, debugReq(kDebugClear, 0x2)), kOk);
    EXPECT_EQ(cl.debugWord(), 0x4u);
    EXPECT_EQ(cl.call(kSetBvlan, setReq(kValueSet, kVlan, 1001, "vsi-a")), kOk);
    EXPECT_EQ(cl.call(kSetBvlan, setReq(kValueSet, kVlan, 1002, "vsi-a")), kFailed) << "another I-SID";
    EXPECT_EQ(cl.call(kUplinkVsi, uplinkReq(kUplinkAdd, b, {"vsi-a", "vsi-b"})), kOk);
    EXPECT_EQ(cl.call(kUplinkVsi, uplinkReq(kUplinkAdd, a, {"vsi-a"})), kOk);
    EXPECT_EQ(cl.call(kSetEncap, setReq(kValueSet, 3, 1001, "vsi-a")), kOk);
    EXPECT_EQ(cl.call(kUplinkAll, uplinkAllReq(kUplinkAdd, c)), kOk);
    EXPECT_EQ(cl.call(kUplinkVsi, uplinkReq(kUplinkDelete, c, {"vsi-a"})), kUplinkOfAll);

    auto mc = cl.multicastWalk();
    ASSERT_EQ(mc.size(), 1u) << "vsi-b has no B-VLAN";
    EXPECT_EQ((std::vector<std::string>{mc[0].vsiName}), std::vector<std::string>{"vsi-a"});
    EXPECT_EQ((std::tuple{mc[0].vsiIndex, mc[0].isid, mc[0].bvlan}), (std::tuple{1u, 1001u, kVlan}));
    EXPECT_EQ(mc[0].ports, (std::vector<uint32_t>{a, b, c}));
    EXPECT_EQ(cl.multicast(kGetMc, nameValue("vsi-a")).entry, mc[0]);
    stopLoop();

    EXPECT_EQ(PBB_vsi_GetVsiByIndex(1)->uiEncapType, 3u);
    for (const ctltest::Uc& e : {ctltest::Uc{1, kVlan, 7, a}, {1, kVlan, 3, b}, {1, kVlan, 5, a}}) learn(e);
    startLoop();
    EXPECT_EQ(walked(cl), (std::set<std::pair<uint8_t, uint32_t>>{{3, b}, {5, a}, {7, a}}));
    EXPECT_EQ(cl.call(kResetLearned, resetReq({kVlan}, {a}, "vsi-a")), kOk);
    EXPECT_EQ(walked(cl), (std::set<std::pair<uint8_t, uint32_t>>{{3, b}}));
    EXPECT_EQ(cl.call(kResetLearned, resetReq({kVlan + 1}, {b}, "")), kOk) << "another B-VLAN: nothing goes";
    EXPECT_EQ(walked(cl).size(), 1u);
    EXPECT_EQ(cl.call(kResetLearned, resetReq({kVlan}, {b}, "")), kOk);
    EXPECT_TRUE(walked(cl).empty());
    stopLoop();
    EXPECT_TRUE(tableUc().empty());
    EXPECT_TRUE(driverUc().empty());
}

}  // namespace
