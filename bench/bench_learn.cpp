// Learning from PBB frames, as the daemon's packet-socket callback does it.
//
// In process: 64,000 new keys over 64 VSIs (4 ports, B-VLAN 100) learned
// through the whole path: packet socket read, the six checks, the driver
// (add and flush), the unicast table and the write-behind run database.
// Counters: new_per_second (goal >= 150,000), known_per_second for the same
// frames once learned (goal >= 500,000), read_per_second for the raw
// packet-socket reads of the same frames, and the rates of the first two
// as shares of the last, measured in the same round: new_share_of_read
// (goal >= 0.5) and known_share_of_read (goal >= 0.8). The new keys' time
// ends when the run database has committed every one of them (flush), and
// the stored entries are counted. Only the reads, the learning and that
// last commit are timed; handing the frames to the socket is not. An
// iteration makes kRounds rounds, each on a fresh daemon and switch, and
// reports the medians of the rounds' rates and of their shares: one round
// lasts a tenth of a second, and a single round's share of known entries
// ranged from 0.75 to 0.98 in five runs of one build.
//
// In process, in one VSI: the same 64,000 keys all in VSI 0, learned in
// arbitrary order, against the 64,000 over 64 VSIs learned in the same
// round (one_vsi_to_64_vsis, goal <= 1.5): a VSI's size does not make its
// learning dearer. The 64 VSIs' keys come in their order there; the same
// round learns them shuffled as well (one_vsi_to_64_vsis_shuffled, no
// goal), which parts what the order costs from what one VSI costs. Medians
// of kRounds rounds, as above (single rounds' ratios: 1.11 to 1.53 in five
// runs of the same build).
//
// Over pbb-sim (a child process, as in bench_sim): a burst of 20,000 new
// keys on one port, from the burst command until every key is in the
// daemon's table (new_per_second, goal >= 20,000), and one empty request
// and its reply measured in the same run (round_trip_us, and the cost of a
// learned entry in round trips). In the same iteration the same 20,000
// keys (one VSI, one port) are learned in process, timed as above
// (in_process_per_second), and over_sim_to_in_process is the rate over
// pbb-sim over that one (goal >= 0.5).
//
// Memory over pbb-sim (BM_MemoryPerEntry_OverSim): the daemon's modules in
// this process, as in the burst above, learn 256,000 and then 1,000,000
// new keys in VSI 1 in bursts of 20,000; at each size, once the run
// database has committed them all, bytes_per_entry_<size> is this
// process's resident size over that of the same modules before the first
// key (VSI configured, stores open), per entry: what the table, the run
// database (its image, log and SQLite cache) and the switch library hold
// for the entries (goal <= 200 at both sizes). The switch's own copy is in
// pbb-sim, as it is for pbbd.
//
// BM_LearnCurve/entries/vsis/macs: new keys learned in process as above,
// from 16,000 to 1,000,000 over 64 and 1,024 VSIs and in one VSI,
// consecutive and random B-MACs, one iteration each (bench_shapes.h; no goal:
// `scripts/bench.sh --plot` draws them).
//
// Run with --benchmark_repetitions=5 for medians.
#include "bench/bench_support.h"
#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_pkt.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/dbm.h"
#include "platform/ifm.h"
#include "platform/model/inproc.h"
#include "platform/model/pbb_frame.h"
#include "platform/settings.h"
#include "platform/transport/control.h"
#include "platform/transport/paths.h"
#include "platform/transport/socket_backend.h"
#include "platform/vlan.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using pbbbench::Clock;
using pbbbench::median;
using pbbbench::releaseFreedMemory;
using pbbbench::Dirs;
using pbbbench::seconds;
using pbbbench::Simulator;

constexpr uint32_t kVsis = 64;
constexpr uint32_t kPorts = 4;
constexpr uint32_t kEntries = 64000;
constexpr uint16_t kBVlan = 100;
constexpr uint32_t kFirstISid = 10000;
constexpr size_t kBatch = 64;  // datagrams handed over before reading

uint32_t onL2vpn(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

// The daemon's modules on the learning path (with the interface blocks,
// which hold the highest VLAN ID a frame may carry), on whatever switch the
// platform reaches; VSIs 0 to vsis-1 get I-SIDs, B-VLAN 100 and a multicast
// entry over the ports.
void startDaemon(uint32_t vsis, const std::vector<uint32_t>& ports)
{
    g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT, onL2vpn);
    g_iPbbEpollFd = epoll_create1(EPOLL_CLOEXEC);
    uint32_t rc = PBB_elipc_InitFdList() + PBB_vsi_Init() + PBB_ifcb_Init() + PBB_pkt_Init() + PBB_ucpw_Init() +
                  PBB_mcpw_Init() + PBB_dbmrecover_Init();
    if (g_iL2vpnEvtFd < 0 || rc != 0) throw std::runtime_error("the daemon's modules did not start");
    for (uint32_t v = 0; v < vsis; ++v) {
        PbbVsi* vsi = PBB_vsi_CreateVsi(v);
        PBB_vsi_SetISid(v, kFirstISid + v);
        vsi->usBVlan = kBVlan;
        PbbMcPw* mc = PBB_mcpw_Create(v, kFirstISid + v, kBVlan);
        for (uint32_t p : ports) (void)PBB_mcpw_AddPort(mc, p);
    }
    g_uiMaxPwNum = 1u << 22;
    g_uiMaxPwNumPerVsi = 1u << 22;
    // The highest VLAN ID, which learning checks a frame's B-VLAN against,
    // as the interface module's start reads it.
    g_usPbbMaxVlanId = VLAN_GetMaxVlanID();
}

void stopDaemon()
{
    PBB_dbmrecover_Exit();
    PBB_mcpw_Exit();
    PBB_ucpw_Exit();
    PBB_pkt_Exit();
    PBB_ifcb_Exit();
    PBB_vsi_Exit();
    PBB_elipc_FiniFdList();
    (void)L2VPN_Deregister(g_iL2vpnEvtFd);
    g_iL2vpnEvtFd = -1;
    ::close(g_iPbbEpollFd);
    g_iPbbEpollFd = -1;
}

// The datagram of key i: VSI i % vsis on the ports in turn, B-SA
// learnedBMac(i, randomBMacs) (00:bb:00 and i, or random), I-SID
// firstISid + i % vsis; the keys in ascending order, or shuffled.
std::vector<std::vector<uint8_t>> frames(const std::vector<uint32_t>& ports, uint32_t vsis = kVsis,
                                         bool shuffle = false, uint32_t count = kEntries,
                                         uint32_t firstISid = kFirstISid, bool randomBMacs = false)
{
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    if (shuffle) std::shuffle(order.begin(), order.end(), std::mt19937(11));
    std::vector<std::vector<uint8_t>> out;
    out.reserve(count);
    for (uint32_t i : order) {
        sim::PbbFrame f;
        f.bda = sim::groupAddress(firstISid + i % vsis);
        f.bsa = pbbbench::learnedBMac(i, randomBMacs);
        f.bvid = kBVlan;
        f.isid = firstISid + i % vsis;
        f.cda = {0x02, 0, 0, 0, 1, 2};
        f.csa = {0x02, 0, 0, 0, 1, 1};
        f.rest.assign(48, 0);
        auto d = sim::cpuCopy(ports[(i / vsis) % ports.size()], sim::encodeFrame(f));
        out.push_back(sim::packDatagram(*d));
    }
    return out;
}

// Hands the frames over kBatch at a time and, after each batch, times
// `read` until the socket is empty. Returns the time spent reading.
template <class Read>
double timed(const std::vector<std::vector<uint8_t>>& all, Read&& read)
{
    Clock::duration spent{};
    for (size_t i = 0; i < all.size(); i += kBatch) {
        size_t end = std::min(all.size(), i + kBatch);
        for (size_t k = i; k < end; ++k)
            if (plat::inproc::deliverDatagram(all[k]) != 1) throw std::runtime_error("the packet socket is full");
        auto t0 = Clock::now();
        while (read() > 0) {
        }
        spent += Clock::now() - t0;
    }
    return seconds(spent);
}

// Entries of VSIs 0 to vsis-1 on the ports that the run database holds,
// as the daemon's keys name them (B-VLAN 100).
uint32_t storedEntries(uint32_t vsis, const std::vector<uint32_t>& ports)
{
    uint32_t n = 0;
    for (uint32_t v = 0; v < vsis; ++v)
        for (uint32_t p : ports) {
            char name[IF_NAME_BUF_LEN] = "", key[PBB_DBM_KEY_LEN];
            (void)IF_GetDataByIfIndex(p, IF_DATA_FULL_NAME, name);
            std::snprintf(key, sizeof key, PBB_DBM_KEY_UCPW_FMT, v, p, kBVlan, name);
            n += DBM_Len(g_hPbbLocalRunDB, key, static_cast<uint32_t>(std::strlen(key)) + 1) /
                 static_cast<uint32_t>(sizeof(PbbDbmUcPwRec));
        }
    return n;
}

// The platform's raw read of one frame, with the daemon's buffers.
uint32_t rawRead()
{
    static uint8_t data[PBB_PKT_DATA_BUF];
    uint32_t n = 0;
    for (; n < PBB_PKT_MAX_PER_CALL; ++n) {
        PKT_SOCKADDR_S addr{};
        PKT_CTRL_S ctrl{};
        iovec iov{data, sizeof data};
        msghdr msg{};
        msg.msg_name = &addr;
        msg.msg_namelen = sizeof addr;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = &ctrl;
        msg.msg_controllen = sizeof ctrl;
        if (PKT_RecvMsg(g_iPbbPktSocketFd, &msg, MSG_DONTWAIT) <= 0) break;
    }
    return n;
}

// Rounds of an iteration. Each round ends by giving back the memory it
// freed (releaseFreedMemory): while learning, the first round of a run took
// 5,800 page faults, later ones 3,600 to 4,100 with that, 2,000 to 3,700
// without.
constexpr int kRounds = 5;

// The learning rounds' switch: one slot of kPorts ports and VSIs 0 to
// vsis-1, with room for every key; the daemon's modules started on it.
// Returns the ports.
std::vector<uint32_t> startOnFreshSwitch(sim::SwitchModel& sw, uint32_t vsis)
{
    sw.addSlot(1, {.minm = true});
    std::vector<uint32_t> ports;
    for (uint32_t p = 0; p < kPorts; ++p) ports.push_back(sw.addPort("eth-1/0/" + std::to_string(p + 1), 1));
    for (uint32_t v = 0; v < vsis; ++v) sw.addVsi(v, "vsi-" + std::to_string(v), kFirstISid + v);
    sw.setFibSpec({.maxPwNum = 1u << 22, .maxPwPerVsi = 1u << 22, .shareVsi = false});
    startDaemon(vsis, ports);
    return ports;
}

// One round of BM_Learn_InProcess: the new keys, the same frames again
// (known) and their raw reads, each time in seconds; false when a key was
// not learned or not saved.
// Learns the frames as new keys of VSIs 0 to vsis-1 on the started daemon
// and waits for the run database to commit them: `t` is the time of both,
// `lastCommit` that of the wait alone. False when a key was not learned,
// programmed or saved.
bool learnAndSave(sim::SwitchModel& sw, const std::vector<std::vector<uint8_t>>& all,
                  const std::vector<uint32_t>& ports, uint32_t vsis, double& t, double& lastCommit)
{
    t = timed(all, [] { return _pbb_pkt_EpollInProc(g_iPbbPktSocketFd); });
    auto f0 = Clock::now();
    uint32_t flushed = plat::dbm::flush(g_hPbbLocalRunDB);
    lastCommit = seconds(Clock::now() - f0);
    t += lastCommit;
    const auto n = static_cast<uint32_t>(all.size());
    return PBB_ucpw_GetTotalNum() == n && sw.fib().committed().uc.size() == n && flushed == DBM_OK &&
           storedEntries(vsis, ports) == n;
}

bool learnRound(double& tNew, double& tKnown, double& tRead)
{
    Dirs dirs;
    auto& sw = plat::inproc::reset();
    std::vector<uint32_t> ports = startOnFreshSwitch(sw, kVsis);
    auto all = frames(ports);

    double lastCommit = 0;
    bool complete = learnAndSave(sw, all, ports, kVsis, tNew, lastCommit);
    if (complete) {
        auto learn = [] { return _pbb_pkt_EpollInProc(g_iPbbPktSocketFd); };
        tKnown = timed(all, learn);
        tRead = timed(all, rawRead);
    }
    stopDaemon();
    releaseFreedMemory();
    return complete;
}

void BM_Learn_InProcess(benchmark::State& state)
{
    for (auto _ : state) {
        std::array<double, kRounds> tNew{}, tKnown{}, tRead{}, newShare{}, knownShare{};
        bool complete = true;
        for (int r = 0; r < kRounds && complete; ++r) {
            complete = learnRound(tNew[r], tKnown[r], tRead[r]);
            newShare[r] = tRead[r] / tNew[r];
            knownShare[r] = tRead[r] / tKnown[r];
        }
        if (!complete) {
            state.SkipWithError("not every key was learned and saved");
            break;
        }
        state.SetIterationTime(median(tNew));
        state.counters["new_per_second"] = kEntries / median(tNew);
        state.counters["known_per_second"] = kEntries / median(tKnown);
        state.counters["read_per_second"] = kEntries / median(tRead);
        state.counters["new_share_of_read"] = median(newShare);
        state.counters["known_share_of_read"] = median(knownShare);
    }
}
BENCHMARK(BM_Learn_InProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The curve of learning new keys in process: `entries` keys over `vsis`
// VSIs, consecutive or random B-MACs, timed as BM_Learn_InProcess times
// its new keys (reads, learning and the run database's last commit).
void BM_LearnCurve(benchmark::State& state, uint32_t entries, uint32_t vsis, bool random)
{
    for (auto _ : state) {
        Dirs dirs;
        auto& sw = plat::inproc::reset();
        std::vector<uint32_t> ports = startOnFreshSwitch(sw, vsis);
        auto all = frames(ports, vsis, false, entries, kFirstISid, random);
        double t = 0, last = 0;
        bool complete = learnAndSave(sw, all, ports, vsis, t, last);
        stopDaemon();
        releaseFreedMemory();
        if (!complete) {
            state.SkipWithError("not every key was learned and saved");
            break;
        }
        pbbbench::curveTime(state, t, entries);
        // The wait for the run database's last commit, in that time.
        state.counters["last_commit_s"] = last;
    }
}
const bool kLearnCurve = pbbbench::registerCurve("BM_LearnCurve", BM_LearnCurve);

// New keys learned in process on a fresh switch with `vsis` VSIs; returns
// the time spent learning, or a negative time when a key was not learned.
double learnNew(uint32_t vsis, bool shuffle)
{
    Dirs dirs;
    auto& sw = plat::inproc::reset();
    std::vector<uint32_t> ports = startOnFreshSwitch(sw, vsis);
    auto all = frames(ports, vsis, shuffle);
    double t = timed(all, [] { return _pbb_pkt_EpollInProc(g_iPbbPktSocketFd); });
    bool complete = PBB_ucpw_GetTotalNum() == kEntries && sw.fib().committed().uc.size() == kEntries;
    stopDaemon();
    releaseFreedMemory();
    return complete ? t : -1;
}

void BM_Learn_OneVsiShuffled_InProcess(benchmark::State& state)
{
    for (auto _ : state) {
        std::array<double, kRounds> tOne{}, tSpread{}, toSpread{}, toShuffled{};
        bool complete = true;
        for (int r = 0; r < kRounds && complete; ++r) {
            tSpread[r] = learnNew(kVsis, false);
            tOne[r] = learnNew(1, true);
            double tSpreadShuffled = learnNew(kVsis, true);
            complete = tSpread[r] > 0 && tOne[r] > 0 && tSpreadShuffled > 0;
            toSpread[r] = tOne[r] / tSpread[r];
            toShuffled[r] = tOne[r] / tSpreadShuffled;
        }
        if (!complete) {
            state.SkipWithError("not every key was learned");
            break;
        }
        state.SetIterationTime(median(tOne));
        state.counters["one_vsi_per_second"] = kEntries / median(tOne);
        state.counters["spread_per_second"] = kEntries / median(tSpread);
        state.counters["one_vsi_to_64_vsis"] = median(toSpread);
        state.counters["one_vsi_to_64_vsis_shuffled"] = median(toShuffled);
    }
}
BENCHMARK(BM_Learn_OneVsiShuffled_InProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// VSI 1 of the default topology (vsi-red, I-SID 10010) on one port in the
// daemon's tables, as the burst over pbb-sim finds it (on port 1).
constexpr uint32_t kRedVsi = 1, kRedISid = 10010;

void addRedVsi(uint32_t port)
{
    PbbVsi* vsi = PBB_vsi_CreateVsi(kRedVsi);
    PBB_vsi_SetISid(kRedVsi, kRedISid);
    vsi->usBVlan = kBVlan;
    (void)PBB_mcpw_AddPort(PBB_mcpw_Create(kRedVsi, kRedISid, kBVlan), port);
}

// `count` new keys of VSI 1 on port 1 learned in process, timed as
// BM_Learn_InProcess times them, in a private directory; the settings the
// simulator's run uses are restored afterwards. Negative when a key was
// not learned.
double learnBurstInProcess(uint32_t count)
{
    const std::string run = plat::runDir(), stateDir = plat::stateDir(), log = plat::logFile();
    double t = -1;
    {
        Dirs dirs;
        auto& sw = plat::inproc::reset();
        sw.addSlot(1, {.minm = true});
        uint32_t port = sw.addPort("eth-1/0/1", 1);
        sw.addVsi(kRedVsi, "vsi-red", kRedISid);
        sw.setFibSpec({.maxPwNum = 1u << 22, .maxPwPerVsi = 1u << 22, .shareVsi = false});
        startDaemon(0, {});
        addRedVsi(port);
        auto all = frames({port}, 1, false, count, kRedISid);
        double spent = timed(all, [] { return _pbb_pkt_EpollInProc(g_iPbbPktSocketFd); });
        if (PBB_ucpw_GetTotalNum() == count && sw.fib().committed().uc.size() == count) t = spent;
        stopDaemon();
    }
    plat::setRunDir(run);
    plat::setStateDir(stateDir);
    plat::setLogFile(log);
    return t;
}

void BM_Learn_OverSim(benchmark::State& state)
{
    constexpr uint32_t kBurst = 20000;
    Simulator simulator;
    simulator.command({"l2vpn", "limits", "--total", "4000000", "--per-vsi", "4000000"});
    uint32_t first = 0;
    for (auto _ : state) {
        double tIn = learnBurstInProcess(kBurst);
        plat::installBackend(std::make_unique<plat::transport::SocketBackend>());
        startDaemon(0, {});
        addRedVsi(1);
        if (tIn < 0 || L2VPN_SetInterface(g_iL2vpnEvtFd, 1, L2VPN_IF_PBB_ENABLE) != 0) {
            state.SkipWithError(tIn < 0 ? "not every key was learned in process" : "port 1 is not in PBB mode");
            stopDaemon();
            break;
        }
        auto& link = static_cast<plat::transport::SocketBackend&>(plat::backend()).link();
        char bsa[32];
        std::snprintf(bsa, sizeof bsa, "00:cc:00:%02x:%02x:%02x", first >> 16 & 0xFF, first >> 8 & 0xFF, first & 0xFF);
        uint32_t want = PBB_ucpw_GetTotalNum() + kBurst;
        auto t0 = Clock::now();
        simulator.command({"frame", "burst", "eth-1/0/1", std::to_string(kBurst), "--isid", "10010", "--bvlan", "100",
                           "--bsa", bsa});
        auto deadline = t0 + std::chrono::seconds(60);
        while (PBB_ucpw_GetTotalNum() < want && Clock::now() < deadline) (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 100);
        double t = seconds(Clock::now() - t0);
        first += kBurst;
        if (PBB_ucpw_GetTotalNum() < want) {
            state.SkipWithError("not every frame was learned");
            stopDaemon();
            break;
        }
        // One empty request and its reply, the transport's floor.
        constexpr int kPings = 2000;
        auto p0 = Clock::now();
        for (int i = 0; i < kPings; ++i) (void)link.call(plat::wire::Msg::Ping, plat::wire::Writer());
        double rt = seconds(Clock::now() - p0) / kPings;
        stopDaemon();

        state.SetIterationTime(t);
        state.counters["new_per_second"] = kBurst / t;
        state.counters["round_trip_us"] = rt * 1e6;
        state.counters["entry_in_round_trips"] = (t / kBurst) / rt;
        state.counters["in_process_per_second"] = kBurst / tIn;
        state.counters["over_sim_to_in_process"] = tIn / t;
    }
}
BENCHMARK(BM_Learn_OverSim)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// This process's resident size in bytes.
double residentBytes()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) * 1024;
    return 0;
}

void BM_MemoryPerEntry_OverSim(benchmark::State& state)
{
    constexpr uint32_t kBurst = 20000;
    for (auto _ : state) {
        Simulator simulator;
        simulator.command({"l2vpn", "limits", "--total", "4000000", "--per-vsi", "4000000"});
        plat::installBackend(std::make_unique<plat::transport::SocketBackend>());
        startDaemon(0, {});
        PbbVsi* vsi = PBB_vsi_CreateVsi(1);
        PBB_vsi_SetISid(1, 10010);
        vsi->usBVlan = kBVlan;
        (void)PBB_mcpw_AddPort(PBB_mcpw_Create(1, 10010, kBVlan), 1);
        if (L2VPN_SetInterface(g_iL2vpnEvtFd, 1, L2VPN_IF_PBB_ENABLE) != 0) {
            state.SkipWithError("port 1 is not in PBB mode");
            stopDaemon();
            break;
        }
        (void)plat::dbm::flush(g_hPbbLocalRunDB);
        // What the benchmarks before this one freed goes back to the
        // system first: entries made in pages the allocator kept would not
        // show in the resident size.
        (void)malloc_trim(0);
        double empty = residentBytes();
        uint32_t first = 0;
        bool complete = true;
        for (uint32_t size : {256000u, 1000000u}) {
            while (complete && first < size) {
                // A burst is sent again until all of it is learned (a frame
                // the socket dropped is resent; a learned one changes nothing).
                uint32_t n = std::min(kBurst, size - first), want = first + n;
                char bsa[32];
                std::snprintf(bsa, sizeof bsa, "00:cc:%02x:%02x:%02x:%02x", first >> 24 & 0xFF, first >> 16 & 0xFF,
                              first >> 8 & 0xFF, first & 0xFF);
                for (int attempt = 0; attempt < 5 && PBB_ucpw_GetTotalNum() < want; ++attempt) {
                    simulator.command({"frame", "burst", "eth-1/0/1", std::to_string(n), "--isid", "10010", "--bvlan",
                                       "100", "--bsa", bsa});
                    auto deadline = Clock::now() + std::chrono::seconds(30);
                    while (PBB_ucpw_GetTotalNum() < want && Clock::now() < deadline)
                        (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 100);
                }
                complete = PBB_ucpw_GetTotalNum() == want;
                first = want;
            }
            if (!complete || plat::dbm::flush(g_hPbbLocalRunDB) != DBM_OK) break;
            state.counters["bytes_per_entry_" + std::to_string(size / 1000) + "k"] = (residentBytes() - empty) / size;
        }
        state.counters["empty_resident_mb"] = empty / 1048576;
        stopDaemon();
        if (!complete) {
            state.SkipWithError("not every frame was learned and saved");
            break;
        }
    }
}
BENCHMARK(BM_MemoryPerEntry_OverSim)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
