// Flushes that switch events cause, 64,000 learned entries over 64 VSIs on
// four all-VSI uplinks (16,000 entries each):
//  - BM_LinkDown: one uplink's link goes down; its 16,000 entries go from
//    the driver, the run database and the table (goal in process: under
//    0.25 s);
//  - BM_TopologyChange: a topology change for all VLANs and interfaces
//    flushes all 64,000 (goal in process: under 0.5 s).
// Timed from the event raised on the switch until the daemon's table holds
// what is left. Argument 0: the in-process switch; 1: pbb-sim as a child
// process over the socket transport (reported, no goal).
//
// BM_FlushScale_InProcess: both events in process with 64,000 and with
// 256,000 entries (64,000 per uplink), each five times in one iteration;
// link_down_ratio and topology_change_ratio are the larger table's median
// time over the smaller's (goal <= 4.5 each).
//
// BM_LinkDownCurve and BM_TopologyChangeCurve/entries/vsis/macs: both
// flushes in process from 16,000 to 1,000,000 entries over 64 and 1,024
// VSIs and in one VSI, consecutive and random B-MACs, one iteration each, per entry
// flushed (bench_shapes.h; no goal: `scripts/bench.sh --plot` draws them).
//
// Run with --benchmark_repetitions=5 for medians.
#include "bench/bench_support.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_dbmsave.h"
#include "platform/dbm.h"
#include "platform/transport/socket_backend.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace pbbbench;

constexpr uint32_t kEntries = 64000;
constexpr uint32_t kLargeEntries = 256000;
constexpr uint32_t kVsis = 64;
constexpr uint16_t kBVlan = 100;
constexpr uint32_t kFirstISid = 20000;
constexpr uint32_t kFirstVsi = 10;  // above the default topology's VSIs
const std::vector<std::string> kPorts = {"eth-1/0/1", "eth-1/0/2", "eth-2/0/1", "eth-2/0/2"};

std::string vsiName(uint32_t v) { return "bench-" + std::to_string(v); }

// The switch under the daemon, in process or in pbb-sim, and how to raise
// the two events on it.
struct Switch {
    std::unique_ptr<Simulator> simulator;
    std::vector<uint32_t> ports;

    void linkDown(size_t port)
    {
        if (simulator) simulator->command({"link", "down", kPorts[port]});
        else plat::inproc::model().setLink(ports[port], false);
    }
    void topologyChange()
    {
        if (simulator) simulator->command({"stp", "tc"});
        else plat::inproc::model().topologyChange(std::nullopt, std::nullopt);
    }
};

Switch makeSwitch(bool overSim, uint32_t vsis = kVsis)
{
    Switch sw;
    if (overSim) {
        sw.simulator = std::make_unique<Simulator>();
        sw.simulator->command({"l2vpn", "limits", "--total", "4000000", "--per-vsi", "4000000"});
        for (uint32_t v = 0; v < kVsis; ++v)
            sw.simulator->command(
                {"vsi", "add", std::to_string(kFirstVsi + v), vsiName(v), std::to_string(kFirstISid + v)});
        plat::installBackend(std::make_unique<plat::transport::SocketBackend>());
        for (const auto& name : kPorts) sw.ports.push_back(IF_GetIfIndexByFullName(name.c_str()));
        return sw;
    }
    auto& model = plat::inproc::reset();
    model.setMaxVsiNum(std::max(model.maxVsiNum(), kFirstVsi + vsis));
    model.addSlot(1, {.minm = true});
    model.addSlot(2, {.minm = true});
    for (const auto& name : kPorts) {
        sw.ports.push_back(model.addPort(name, static_cast<uint16_t>(name[4] - '0')));
        model.setVlans(sw.ports.back(), {kBVlan});
        model.setStpState(sw.ports.back(), kBVlan, STI_STATE_FORWARDING);
    }
    for (uint32_t v = 0; v < vsis; ++v) model.addVsi(kFirstVsi + v, vsiName(v), kFirstISid + v);
    model.setFibSpec({.maxPwNum = 1u << 22, .maxPwPerVsi = 1u << 22, .shareVsi = false});
    return sw;
}

// The daemon's modules with `vsis` active VSIs and `entries` entries
// (consecutive or random B-MACs) programmed, in the table and saved
// (committed).
void fill(const Switch& sw, uint32_t entries = kEntries, uint32_t vsis = kVsis, bool random = false)
{
    startModules();
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (PBB_vsi_GetVsiByIndex(kFirstVsi + vsis - 1) == nullptr && Clock::now() < deadline)
        (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 100);
    for (uint32_t p : sw.ports) check(PBB_ctl_SetAllVsiUplink(p) == PBB_OK, "uplink refused");
    for (uint32_t v = 0; v < vsis; ++v)
        check(PBB_ctl_SetBVlan(kBVlan, vsiName(v).c_str(), kFirstISid + v) == PBB_OK, "B-VLAN refused");
    addEntries(entries, vsis, kFirstVsi, kFirstISid, kBVlan, sw.ports, random);
    // Every save committed before the event: the flush's time is its own,
    // not shared with the fill's commits still running behind it.
    check(plat::dbm::flush(g_hPbbLocalRunDB) == DBM_OK, "the run database did not commit the entries");
}

// Serves the loop until the table holds `left` entries.
double serveUntil(Clock::time_point t0, uint32_t left)
{
    auto deadline = t0 + std::chrono::seconds(120);
    while (PBB_ucpw_GetTotalNum() != left && Clock::now() < deadline) (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 100);
    double t = seconds(Clock::now() - t0);
    check(PBB_ucpw_GetTotalNum() == left, "the flush did not end");
    return t;
}

// Entries on the first uplink: entry i is on uplink (i / vsis) % 4
// (addEntries), a quarter when each VSI's count is a multiple of four.
uint32_t onFirstUplink(uint32_t entries, uint32_t vsis)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < entries; ++i) n += (i / vsis) % kPorts.size() == 0;
    return n;
}

// One flush: the daemon filled with `entries` entries, then the link of
// the first uplink down (about a quarter of them go) or a topology change of all
// (all go); the time from the event to the table holding the rest.
double flushTime(bool overSim, bool topologyChange, uint32_t entries, uint32_t vsis = kVsis, bool random = false)
{
    Dirs dirs;
    Switch sw = makeSwitch(overSim, vsis);
    fill(sw, entries, vsis, random);
    auto t0 = Clock::now();
    if (topologyChange) sw.topologyChange();
    else sw.linkDown(0);
    double t = serveUntil(t0, topologyChange ? 0 : entries - onFirstUplink(entries, vsis));
    stopModules();
    return t;
}

void BM_LinkDown(benchmark::State& state)
{
    for (auto _ : state) state.SetIterationTime(flushTime(state.range(0) == 1, false, kEntries));
}

void BM_TopologyChange(benchmark::State& state)
{
    for (auto _ : state) state.SetIterationTime(flushTime(state.range(0) == 1, true, kEntries));
}

// The medians of kRounds flushes of one kind at 64,000 and at 256,000
// entries, each on a fresh fill, the two sizes taken in turn: a single
// flush of 64,000 lasts a few milliseconds, and the ratio of two single
// ones moved by half between runs; so did the medians of three rounds
// (3.2 to 6.0 in eighteen runs).
constexpr int kRounds = 5;

std::pair<double, double> medianFlushes(bool topologyChange)
{
    std::array<double, kRounds> small{}, large{};
    for (int r = 0; r < kRounds; ++r) {
        small[r] = flushTime(false, topologyChange, kEntries);
        large[r] = flushTime(false, topologyChange, kLargeEntries);
    }
    return {median(small), median(large)};
}

void BM_FlushScale_InProcess(benchmark::State& state)
{
    for (auto _ : state) {
        auto [down, downLarge] = medianFlushes(false);
        auto [tc, tcLarge] = medianFlushes(true);
        state.SetIterationTime(tcLarge);
        state.counters["link_down_64k_s"] = down;
        state.counters["link_down_256k_s"] = downLarge;
        state.counters["link_down_ratio"] = downLarge / down;
        state.counters["topology_change_64k_s"] = tc;
        state.counters["topology_change_256k_s"] = tcLarge;
        state.counters["topology_change_ratio"] = tcLarge / tc;
    }
}

// The curves of both flushes in process from 16,000 to 1,000,000 entries,
// per entry flushed (about a quarter of them at a link down).
void BM_LinkDownCurve(benchmark::State& state, uint32_t entries, uint32_t vsis, bool random)
{
    for (auto _ : state) {
        curveTime(state, flushTime(false, false, entries, vsis, random), onFirstUplink(entries, vsis));
        releaseFreedMemory();
    }
}
const bool kLinkDownCurve = registerCurve("BM_LinkDownCurve", BM_LinkDownCurve);

void BM_TopologyChangeCurve(benchmark::State& state, uint32_t entries, uint32_t vsis, bool random)
{
    for (auto _ : state) {
        curveTime(state, flushTime(false, true, entries, vsis, random), entries);
        releaseFreedMemory();
    }
}
const bool kTopologyChangeCurve = registerCurve("BM_TopologyChangeCurve", BM_TopologyChangeCurve);

}  // namespace

BENCHMARK(BM_LinkDown)->ArgName("over_sim")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TopologyChange)->ArgName("over_sim")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlushScale_InProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
