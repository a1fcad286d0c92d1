// A full walk of a VSI's learned entries as pbbctl makes it: type 10 and
// type 11 requests (the step after a B-MAC), up to 64 in flight on ranges
// of the VSI's B-MACs (tools/pbbctl/pbbctl_walk.h), through pbbctl's client
// library (tools/pbbctl/pbbctl_client) against the real management server.
//
// The daemon's tables are filled in process (the in-process platform, the
// VSI, multicast and unicast tables filled directly, as bench_ucpw does);
// the server's loop runs on a thread of its own, as the daemon's would in
// its process, and the client walks from the benchmark's thread.
//
//  - BM_WalkOneVsi/N: N entries in one VSI (8k to 64k): the daemon looks
//    every page's position up again, so the cost per entry shows how a
//    page grows with the VSI's size; steps_per_entry: the requests the
//    walk made per entry (above 1 by the steps its cuts cost);
//    steps_per_read: requests per read of the client, which shows whether
//    a wake-up of the client finds many replies or one (also in
//    BM_WalkAllVsis);
//  - BM_WalkAllVsis/V/N: V VSIs of N entries each, walked as 'pbbctl show
//    learned --all' does (multicast walk, then the VSIs side by side);
//  - BM_PbbctlShowAll/V/N: the pbbctl process itself ('pbbctl --json show
//    learned --all', output to /dev/null) against the same server: start,
//    walk, JSON; found at ../tools/pbbctl/pbbctl from this binary or PBBCTL_BIN.
//    Between its runs (outside the timed part) the same server's request
//    rate on one connection is measured as bench_gs measures it: type 6
//    requests, one per write, the client and the loop on one thread, so
//    no wake-up between them (requests_per_second). entries_per_second is
//    the pbbctl walk's; ratio is the one over the other, both of this run.
//    rt_per_second: type 6 round trips of pbbctl's client against the loop
//    on its own thread, the rate of a client that waits for each answer.
//
//  - BM_WalkCurve/entries/vsis/macs: the walk of every VSI as
//    BM_WalkAllVsis makes it, from 16,000 to 1,000,000 entries over 64 and
//    1,024 VSIs and in one VSI (whole VSIs of entries / vsis entries),
//    consecutive and random B-MACs, one iteration each (bench_shapes.h; no goal:
//    `scripts/bench.sh --plot` draws them).
//
// Run with --benchmark_repetitions=5 for medians.
#include "bench/bench_shapes.h"
#include "daemon/pbb_common.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_gs.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/lipc.h"
#include "platform/model/inproc.h"
#include "platform/settings.h"
#include "platform/stlv.h"
#include "tools/pbbctl/pbbctl_client.h"
#include "tools/pbbctl/pbbctl_walk.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace {

constexpr uint16_t kBVlan = 100;
constexpr uint32_t kPorts = 8;

// The daemon's tables with `vsis` VSIs of `perVsi` learned entries, and
// its server running in a private run directory.
class Daemon {
public:
    Daemon(uint32_t vsis, uint32_t perVsi, bool random = false)
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pbbwalk.XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
        plat::setRunDir(dir_);
        auto& sw = plat::inproc::reset();
        sw.setSlotRange(1, 2);
        sw.addSlot(1, {.minm = true});
        sw.setMaxVsiNum(vsis + 1);
        for (uint32_t p = 0; p < kPorts; ++p) ports_[p] = sw.addPort("eth-1/0/" + std::to_string(p + 1), 1);
        if (PBB_vsi_Init() + PBB_ucpw_Init() + PBB_mcpw_Init() != 0) throw std::runtime_error("tables");
        for (uint32_t v = 1; v <= vsis; ++v) {
            std::string name = "vsi-" + std::to_string(v);
            sw.addVsi(v, name, 20000 + v);
            PbbVsi* vsi = PBB_vsi_CreateVsi(v);
            std::memcpy(vsi->szVsiName, name.c_str(), name.size());
            PBB_vsi_SetISid(v, 20000 + v);
            vsi->usBVlan = kBVlan;
            if (PBB_mcpw_AddPort(PBB_mcpw_Create(v, 20000 + v, kBVlan), ports_[0]) != PBB_OK)
                throw std::runtime_error("multicast entry");
            // Descending B-MACs: every add goes to the front of the VSI's
            // list; random ones go anywhere in it.
            for (uint32_t i = perVsi; i-- > 0;) {
                const std::array<uint8_t, 6> mac =
                    random ? pbbbench::randomBMac((v - 1) * perVsi + i)
                           : std::array<uint8_t, 6>{0x02, static_cast<uint8_t>(v), 0, static_cast<uint8_t>(i >> 16),
                                                    static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
                if (PBB_ucpw_Add(v, 20000 + v, kBVlan, mac.data(), ports_[i % kPorts]) != PBB_OK)
                    throw std::runtime_error("unicast entry");
            }
        }
        g_iPbbEpollFd = epoll_create1(EPOLL_CLOEXEC);
        PBB_elipc_InitFdList();
        if (g_iPbbEpollFd < 0 || PBB_gs_Init() != PBB_OK) throw std::runtime_error("server");
        start();
    }
    ~Daemon()
    {
        stop();
        PBB_gs_Exit();
        PBB_elipc_FiniFdList();
        close(g_iPbbEpollFd);
        g_iPbbEpollFd = PBB_INVALID_FD;
        PBB_mcpw_Exit();
        PBB_ucpw_Exit();
        PBB_vsi_Exit();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        plat::resetSettings();
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    const std::string& dir() const { return dir_; }

    // The loop on its own thread, as the daemon's in its process.
    void start()
    {
        stop_ = false;
        loop_ = std::thread([this] {
            while (!stop_.load(std::memory_order_relaxed)) (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 20);
        });
    }
    void stop()
    {
        stop_ = true;
        if (loop_.joinable()) loop_.join();
    }

    // Type 6 round trips on one connection, the client and the loop on
    // this thread (the loop's thread stopped meanwhile): requests served
    // per second.
    double requestRate(int requests)
    {
        stop();
        const int fd = plat::lipcConnect(PBB_GS_PORT);
        if (fd < 0) throw std::runtime_error("connect");
        uint8_t req[STLV_HEADER_LEN];
        (void)STLV_Set(req, sizeof req, PBB_GS_REQ_GET_DEBUG, 0, nullptr);
        uint8_t buf[PBB_GS_BUF_LEN];
        const size_t replyLen = STLV_HEADER_LEN + sizeof(uint32_t);
        // The first round trip also accepts the connection.
        auto roundTrip = [&] {
            if (send(fd, req, sizeof req, 0) != static_cast<ssize_t>(sizeof req)) return false;
            for (size_t got = 0; got < replyLen;) {
                (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 100);
                ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) got += static_cast<size_t>(n);
            }
            return true;
        };
        bool ok = roundTrip();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; ok && i < requests; ++i) ok = roundTrip();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
        close(fd);
        // The loop notices the closed connection.
        for (int i = 0; i < 4; ++i) (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 0);
        start();
        if (!ok) throw std::runtime_error("round trip");
        return requests / took.count();
    }

private:
    std::string dir_;
    uint32_t ports_[kPorts] = {};
    std::atomic<bool> stop_{false};
    std::thread loop_;
};

void counters(benchmark::State& state, uint64_t entries)
{
    state.counters["entries"] = static_cast<double>(entries);
    // Seconds per entry (printed as e.g. 4.1u).
    state.counters["per_entry"] = benchmark::Counter(static_cast<double>(entries),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

// Replies taken in by one read of the client, on average: near the window
// (64) when each wake-up of the client finds a window's replies waiting,
// near 1 when the client wakes for every reply.
void stepsPerRead(benchmark::State& state, const pbbctl::MgmtClient& c)
{
    const auto reads = static_cast<double>(std::max<uint64_t>(c.reads(), 1));
    state.counters["steps_per_read"] = static_cast<double>(c.requests()) / reads;
}

void BM_WalkOneVsi(benchmark::State& state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    Daemon d(1, n);
    pbbctl::MgmtClient c(10000);
    pbbctl::proto::UcMsg vsi{1, 20001, kBVlan, {}, 0, "vsi-1"};
    size_t got = 0;
    for (auto _ : state) got = c.learnedWalk(vsi).size();
    if (got != n) state.SkipWithError("the walk missed entries");
    counters(state, got);
    state.counters["steps_per_entry"] = static_cast<double>(c.requests()) / static_cast<double>(got * state.iterations());
    stepsPerRead(state, c);
}

// Every VSI's entries, walked as 'pbbctl show learned --all' walks them
// (the multicast walk, then the VSIs side by side on the connection);
// returns how many, or 0 when a VSI's walk did not end after its last
// entry.
size_t walkAll(pbbctl::MgmtClient& c)
{
    std::vector<pbbctl::proto::UcMsg> keys;
    for (const auto& m : c.multicastWalk()) keys.push_back({m.vsiIndex, m.isid, m.bvlan, {}, 0, m.vsiName});
    size_t got = 0;
    bool complete = true;
    pbbctl::LearnedWalk::run(
        c, keys, [&got](size_t, const pbbctl::proto::UcMsg&) { ++got; },
        [&complete](size_t, uint32_t end) { complete = complete && end == pbbctl::proto::kNoMoreUc; });
    return complete ? got : 0;
}

void BM_WalkAllVsis(benchmark::State& state)
{
    const auto vsis = static_cast<uint32_t>(state.range(0));
    const auto per = static_cast<uint32_t>(state.range(1));
    Daemon d(vsis, per);
    pbbctl::MgmtClient c(10000);
    size_t got = 0;
    for (auto _ : state) got = walkAll(c);
    if (got != static_cast<size_t>(vsis) * per) state.SkipWithError("the walk missed entries");
    counters(state, got);
    // Multicast steps included.
    state.counters["steps_per_entry"] = static_cast<double>(c.requests()) / static_cast<double>(got * state.iterations());
    stepsPerRead(state, c);
}

// The curve of the walk of every VSI from 16,000 to 1,000,000 entries:
// whole VSIs of entries / vsis entries each.
void BM_WalkCurve(benchmark::State& state, uint32_t entries, uint32_t vsis, bool random)
{
    const uint32_t per = entries / vsis;
    Daemon d(vsis, per, random);
    pbbctl::MgmtClient c(10000);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const size_t got = walkAll(c);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
        if (got != static_cast<size_t>(vsis) * per) {
            state.SkipWithError("the walk missed entries");
            break;
        }
        pbbbench::curveTime(state, took.count(), static_cast<uint32_t>(got));
    }
}
const bool kWalkCurve = pbbbench::registerCurve("BM_WalkCurve", BM_WalkCurve);

std::string pbbctlPath()
{
    if (const char* p = std::getenv("PBBCTL_BIN")) return p;
    return (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "tools" / "pbbctl" / "pbbctl").string();
}

void BM_PbbctlShowAll(benchmark::State& state)
{
    const auto vsis = static_cast<uint32_t>(state.range(0));
    const auto per = static_cast<uint32_t>(state.range(1));
    const uint64_t entries = static_cast<uint64_t>(vsis) * per;
    Daemon d(vsis, per);
    const std::string bin = pbbctlPath();
    // The child's run directory is the server's; no pbb-sim answers there,
    // so ports are shown by ifIndex.
    std::string runDir = "PBB_RUN_DIR=" + d.dir();
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "PBB_RUN_DIR=", 12) != 0) env.push_back(*e);
    env.push_back(runDir.data());
    env.push_back(nullptr);
    const char* argv[] = {bin.c_str(), "--json", "--timeout", "60", "show", "learned", "--all", nullptr};
    constexpr int kRateRequests = 20000;
    double childCpu = 0, childUser = 0, walkS = 0, rateS = 0, rtS = 0;
    int64_t rates = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        int rc = posix_spawn(&pid, bin.c_str(), &fa, nullptr, const_cast<char* const*>(argv), env.data());
        posix_spawn_file_actions_destroy(&fa);
        int status = 0;
        struct rusage ru {};
        if (rc != 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError(("pbbctl failed: " + bin).c_str());
            break;
        }
        walkS += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        childUser += static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) / 1e6;
        childCpu += static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                    static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
        // The server's rates, between the walks of the same run.
        state.PauseTiming();
        rateS += kRateRequests / d.requestRate(kRateRequests);
        {
            pbbctl::MgmtClient c(10000);
            const auto r0 = std::chrono::steady_clock::now();
            for (int i = 0; i < kRateRequests; ++i) (void)c.debugWord();
            rtS += std::chrono::duration<double>(std::chrono::steady_clock::now() - r0).count();
        }
        ++rates;
        state.ResumeTiming();
    }
    counters(state, entries);
    const double n = static_cast<double>(std::max<int64_t>(rates, 1));
    // CPU seconds of one pbbctl run: its own share of the wall time.
    state.counters["pbbctl_cpu_s"] = childCpu / n;
    state.counters["pbbctl_user_s"] = childUser / n;
    const double walkRate = walkS > 0 ? static_cast<double>(entries) * n / walkS : 0;
    const double reqRate = rateS > 0 ? kRateRequests * n / rateS : 0;
    state.counters["entries_per_second"] = walkRate;
    state.counters["requests_per_second"] = reqRate;
    state.counters["rt_per_second"] = rtS > 0 ? kRateRequests * n / rtS : 0;
    state.counters["ratio"] = reqRate > 0 ? walkRate / reqRate : 0;
}

}  // namespace

BENCHMARK(BM_WalkOneVsi)->Arg(8000)->Arg(16000)->Arg(32000)->Arg(64000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WalkAllVsis)->Args({64, 1000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PbbctlShowAll)
    ->Args({1, 64000})
    ->Args({64, 1000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_MAIN();
