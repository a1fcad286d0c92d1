// pbbctl's client against the daemon's real management server over the
// in-process platform: what pbbctl writes is what the daemon reads, the
// walks follow the daemon's positions and end codes, and a silent or
// absent daemon ends in NoAnswer. The server's loop runs on a thread while
// the client waits for its answers; the test touches the daemon's tables
// only while that loop is stopped.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>

#include "daemon/pbb_elipc.h"
#include "daemon/pbb_gs.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "platform/lipc.h"
#include "support/daemon_loop.h"
#include "support/tempdir.h"
#include "tools/pbbctl/pbbctl_client.h"
#include "tools/pbbctl/pbbctl_walk.h"
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
        ASSERT_TRUE(pbbtest::openDaemonLoop());
    }
    void TearDown() override
    {
        stopLoop();
        g_apfPBBRequestFunc[kGetFirstUc] = _pbb_gs_GetFirstUC;
        g_apfPBBRequestFunc[kGetNextMc] = _pbb_gs_GetNextMC;
        PBB_gs_Exit();
        pbbtest::closeDaemonLoop();
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

    pbbtest::TempDir run_;
    std::atomic<bool> stop_{false};
    std::thread loop_;
};

// vsi-a (index 1) has 512 multicast ports and three learned entries,
// vsi-b (index 2) 513 ports: the answers' pieces are put together, the
// walks continue from the last VSI index and the last B-MAC.
TEST_F(AgainstServer, RequestsAndWalksSeeTheDaemonsTables)
{
    ASSERT_EQ(PBB_gs_Init(), PBB_OK);
    ASSERT_EQ(PBB_gs_Init(), PBB_OK) << "a second start keeps the server";
    for (uint32_t v : {1u, 2u}) {
        vsi(v, v == 1 ? "vsi-a" : "vsi-b", 1000 + v);
        PbbMcPw* mc = PBB_mcpw_Create(v, 1000 + v, kVlan);
        for (uint32_t i = 1; i <= 511 + v; ++i) ASSERT_EQ(PBB_mcpw_AddPort(mc, 100 + i), PBB_OK);
    }
    for (const ctltest::Uc& e : {ctltest::Uc{1, kVlan, 7, a}, {1, kVlan, 3, b}, {1, kVlan, 5, a}}) learn(e);
    startLoop();
    MgmtClient cl(5000);
    EXPECT_EQ(cl.call(kSetDebug, debugReq(kDebugSet, 0x6)), kOk);
    EXPECT_EQ(cl.call(kSetDebug, debugReq(kDebugClear, 0x2)), kOk);
    EXPECT_EQ(cl.debugWord(), 0x4u);
    EXPECT_EQ(cl.call(kSetEncap, setReq(kValueSet, 3, 1001, "vsi-a")), kOk);
    EXPECT_EQ(cl.call(kSetEncap, setReq(kValueSet, 3, 1002, "vsi-a")), kFailed) << "another I-SID";

    auto mc = cl.multicastWalk();
    ASSERT_EQ(mc.size(), 2u);
    for (uint32_t v : {1u, 2u}) {
        const McMsg& m = mc[v - 1];
        EXPECT_EQ(std::tuple(m.vsiIndex, m.isid, m.bvlan, m.group[5], m.vsiName),
                  std::tuple(v, 1000 + v, kVlan, uint8_t(1000 + v), std::string(v == 1 ? "vsi-a" : "vsi-b")));
        ASSERT_EQ(m.ports.size(), 511 + v);
        EXPECT_EQ(std::pair(m.ports.front(), m.ports.back()), std::pair(101u, 611 + v));
    }
    EXPECT_EQ(cl.multicast(kGetMc, nameValue("vsi-b")).entry, mc[1]);

    const UcMsg vsiA{1, 1001, kVlan, {}, 0, "vsi-a"};
    auto walked = [&] {
        std::vector<std::pair<uint8_t, uint32_t>> out;
        for (const UcMsg& e : cl.learnedWalk(vsiA)) {
            EXPECT_EQ(std::tuple(e.vsiIndex, e.isid, e.bvlan, e.vsiName), std::tuple(1u, 1001u, kVlan, std::string("vsi-a")));
            out.emplace_back(e.bmac[5], e.ifIndex);
        }
        return out;
    };
    EXPECT_EQ(walked(), (std::vector<std::pair<uint8_t, uint32_t>>{{3, b}, {5, a}, {7, a}}));
    // A walk left from its first entry: the step already sent is answered,
    // and that answer is not taken for the next request's.
    EXPECT_THROW(cl.learnedWalk(vsiA, [](const UcMsg&) { throw std::runtime_error("stop"); }), std::runtime_error);
    EXPECT_EQ(walked(), (std::vector<std::pair<uint8_t, uint32_t>>{{3, b}, {5, a}, {7, a}}));
    EXPECT_EQ(cl.call(kResetLearned, resetReq({kVlan}, {a}, "vsi-a")), kOk);
    EXPECT_EQ(walked(), (std::vector<std::pair<uint8_t, uint32_t>>{{3, b}}));
    UcMsg other = vsiA;
    other.bvlan = kVlan + 1;
    uint32_t end = kOk;
    EXPECT_TRUE(cl.learnedWalk(other, &end).empty());
    EXPECT_EQ(end, kFailed) << "the daemon refuses the first step for another identity";
    stopLoop();
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(1)->uiEncapType, 3u);

    // vsi-a goes between two steps of its walk (a batch end while pbbctl
    // reads): the walk ends with the daemon's refusal, not a bad answer.
    g_apfPBBRequestFunc[kGetFirstUc] = [](void* v, int fd) {
        const uint32_t r = _pbb_gs_GetFirstUC(v, fd);
        PBB_vsi_DeleteVsi(1);
        return r;
    };
    startLoop();
    EXPECT_EQ(cl.learnedWalk(vsiA, &end).size(), 1u) << "the entry read before";
    EXPECT_EQ(end, kFailed);
    stopLoop();
    PBB_gs_Exit();
    EXPECT_THROW(MgmtClient(500), NoAnswer) << "the server is closed";
}

// Walks with several steps in flight hand on what a walk of one step at a
// time over the table's lists would: each VSI's entries in B-MAC order,
// VSI by VSI, each VSI ended with its code. The VSIs' B-MACs are a block
// of consecutive ones, ones spread over the whole space with both ends of
// it, none, and blocks at random places, some with gaps, so that a range
// may end on an entry of the next (seeded); every window from one step
// (no range is ever cut) to the widest.
TEST_F(AgainstServer, WalksWithStepsInFlightHandOnWhatTheListsHold)
{
    ASSERT_EQ(PBB_gs_Init(), PBB_OK);
    std::mt19937_64 rng(20261207);
    auto macOf = [](uint64_t v) {
        Mac m;
        for (size_t i = 0; i < 6; ++i) m[i] = static_cast<uint8_t>(v >> (8 * (5 - i)));
        return m;
    };
    const uint64_t space = uint64_t{1} << 48;
    std::vector<std::vector<uint64_t>> macs(4);
    const uint64_t base = rng() % (space - 1000);
    for (uint64_t i = 0; i < 700; ++i) macs[0].push_back(base + i);
    macs[1] = {0, space - 1};
    for (int i = 0; i < 500; ++i) macs[1].push_back(rng() % space);
    for (int block = 0; block < 6; ++block) {
        const uint64_t at = rng() % (space - 200), len = 1 + rng() % 60, stride = 1 + block % 3;
        for (uint64_t i = 0; i < len; ++i) macs[3].push_back(at + i * stride);
    }
    std::vector<UcMsg> keys;
    for (uint32_t v = 1; v <= 4; ++v) {
        const std::string name = "vsi-" + std::to_string(v);
        vsi(v, name.c_str(), 1000 + v);
        keys.push_back({v, 1000 + v, kVlan, {}, 0, name});
        for (uint64_t m : macs[v - 1]) {
            const Mac mac = macOf(m);
            const uint32_t port = (m % 2) ? a : b;
            if (PBB_ucpw_Get(v, kVlan, mac.data()) == nullptr) {
                ASSERT_EQ(PBB_ucpw_Add(v, 1000 + v, kVlan, mac.data(), port), PBB_OK);
            }
        }
    }
    // What the lists hold, in their order, and each VSI's end.
    std::vector<std::tuple<size_t, Mac, uint32_t>> want;
    PbbUcPwFilter filter{};
    for (uint32_t v = 1; v <= 4; ++v) {
        filter.uiVsiIndex = v;
        for (PbbUcPw* e = PBB_ucpw_GetFirst(PBB_UCPW_GET_BY_VSI, &filter); e; e = PBB_ucpw_GetNext(PBB_UCPW_GET_BY_VSI, e)) {
            Mac m;
            std::copy(e->aucBMac, e->aucBMac + 6, m.begin());
            want.emplace_back(v - 1, m, e->uiIfIndex);
        }
        want.emplace_back(v - 1, Mac{}, v == 3 ? kFailed : kNoMoreUc);
    }
    ASSERT_GT(want.size(), 1000u);
    startLoop();
    MgmtClient cl(5000);
    for (size_t window : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, LearnedWalk::kWindow}) {
        std::vector<std::tuple<size_t, Mac, uint32_t>> got;
        LearnedWalk::run(
            cl, keys,
            [&](size_t k, const UcMsg& e) {
                EXPECT_EQ(std::tuple(e.vsiIndex, e.isid, e.bvlan, e.vsiName),
                          std::tuple(keys[k].vsiIndex, keys[k].isid, keys[k].bvlan, keys[k].vsiName));
                got.emplace_back(k, e.bmac, e.ifIndex);
            },
            [&](size_t k, uint32_t code) { got.emplace_back(k, Mac{}, code); }, window);
        EXPECT_EQ(got, want) << "window " << window;
    }
    EXPECT_EQ(cl.debugWord(), 0u) << "no step's answer is left to be taken for another's";
}

// The multicast walk with steps in flight hands on what the walk of one
// step at a time does, over VSI indexes in a run, with gaps, spread far
// apart, and past an entry without ports (where a walk of type 9 ends),
// for every window; a step's malformed answer leaves no reply behind for
// the next request.
TEST_F(AgainstServer, MulticastWalkWithStepsInFlightAnswersAsOneStepAtATime)
{
    ASSERT_EQ(PBB_gs_Init(), PBB_OK);
    std::mt19937 rng(20261209);
    std::vector<uint32_t> indexes;
    for (uint32_t v = 0; v < 150; ++v) indexes.push_back(v);
    for (uint32_t v = 150; v < 450; ++v)
        if (rng() % 4 != 0) indexes.push_back(v);
    for (uint32_t v = 450; v < 3000; v += 1 + rng() % 90) indexes.push_back(v);
    for (uint32_t v : indexes) {
        PbbMcPw* mc = PBB_mcpw_Create(v, 5000 + v, kVlan);
        ASSERT_EQ(PBB_mcpw_AddPort(mc, 100 + v % 7), PBB_OK);
    }
    std::vector<Bytes> names;  // VSIs 0 to 49 by name, and two that are not
    for (uint32_t v = 0; v < 50; ++v) {
        const std::string name = "m" + std::to_string(v);
        vsi(v, name.c_str(), 5000 + v);
        names.push_back(nameValue(name));
    }
    names.insert(names.begin() + 20, nameValue("nobody"));
    names.push_back(nameValue("nobody-else"));
    (void)PBB_mcpw_Create(3100, 8100, kVlan);  // no ports: the walks end before it
    ASSERT_EQ(PBB_mcpw_AddPort(PBB_mcpw_Create(3200, 8200, kVlan), 101), PBB_OK);
    startLoop();
    MgmtClient cl(5000);
    std::vector<McMsg> one;
    for (MgmtClient::McAnswer a = cl.multicast(kGetFirstMc, {}); a.code == kMcEnd;
         a = cl.multicast(kGetNextMc, indexValue(a.entry.vsiIndex)))
        one.push_back(a.entry);
    ASSERT_EQ(one.size(), indexes.size());
    EXPECT_EQ(one.back().vsiIndex, indexes.back());
    for (size_t window : {size_t{1}, size_t{2}, size_t{5}, MgmtClient::kMcWindow}) {
        const uint64_t before = cl.requests();
        EXPECT_EQ(cl.multicastWalk(window), one) << "window " << window;
        if (window == MgmtClient::kMcWindow) {
            EXPECT_LT(cl.requests() - before, 2 * one.size()) << "steps after indexes without an entry";
        }
    }
    // Answers by name, more than one write's worth: as asked one by one.
    std::vector<MgmtClient::McAnswer> each = cl.multicastEach(kGetMc, names);
    ASSERT_EQ(each.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        MgmtClient::McAnswer a = cl.multicast(kGetMc, names[i]);
        EXPECT_EQ(std::tie(each[i].code, each[i].entry), std::tie(a.code, a.entry)) << "name " << i;
    }
    EXPECT_EQ(each[20].code, kFailed);
    EXPECT_EQ(each[21].entry.vsiName, "m20");
    stopLoop();

    // The answer after index 20 claims an entry and holds none.
    g_apfPBBRequestFunc[kGetNextMc] = [](void* v, int fd) {
        if (ntohl(*static_cast<uint32_t*>(v)) == 20) return _pbb_gs_SendResult(fd, kMcEnd);
        return _pbb_gs_GetNextMC(v, fd);
    };
    startLoop();
    EXPECT_THROW(cl.multicastWalk(), BadReply);
    EXPECT_EQ(cl.debugWord(), 0u) << "no step's answer is left to be taken for another's";
    stopLoop();
}

TEST(Client, SilentDaemonTimesOutAndAbsentOneIsNotRunning)
{
    pbbtest::TempRunDir run;
    EXPECT_THROW(MgmtClient(1000), NoAnswer);

    // Listening, never answering.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, plat::lipcPath(MgmtClient::kPort).c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    MgmtClient c(200);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c.debugWord(), NoAnswer);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(190));
    EXPECT_LT(took, std::chrono::seconds(3));
    ::close(listener);
}

}  // namespace
