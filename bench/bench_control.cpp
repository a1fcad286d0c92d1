// Withdrawing learned entries in process, each from the driver, the run
// database and the table, as the daemon's own paths do it:
//  - BM_DeactivateVsi: one VSI holding 64,000 entries loses its B-VLAN's
//    activation (PBB_ctl_DeactiveVsi; goal under 0.5 s);
//  - BM_ResetAll: every entry, 64,000 over 64 VSIs (PBB_ctl_ResetUcPwAll;
//    goal under 0.5 s);
//  - BM_AgeOut1000: line-card reports that age out 1,000 entries of a table
//    of 64,000, from the first report sent until the last entry is gone.
// Entries are added to driver, table and database directly (the learning
// path's own cost is bench_learn's); only the withdrawal is timed.
//
// Run with --benchmark_repetitions=5 for medians.
#include "bench/bench_support.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_dbmsave.h"
#include "platform/model/inproc.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

using namespace pbbbench;

constexpr uint32_t kEntries = 64000;
constexpr uint16_t kBVlan = 100;
constexpr uint32_t kFirstISid = 10000;
constexpr uint32_t kPorts = 4;

std::string vsiName(uint32_t v) { return "vsi-" + std::to_string(v); }

// A switch with one MAC-in-MAC slot, four ports on B-VLAN 100 and `vsis`
// VSIs; the daemon's modules started and every VSI active over the ports.
std::vector<uint32_t> startSwitch(uint32_t vsis)
{
    auto& sw = plat::inproc::reset();
    sw.addSlot(1, {.minm = true});
    std::vector<uint32_t> ports;
    for (uint32_t p = 0; p < kPorts; ++p) {
        ports.push_back(sw.addPort("eth-1/0/" + std::to_string(p + 1), 1));
        sw.setVlans(ports.back(), {kBVlan});
    }
    for (uint32_t v = 0; v < vsis; ++v) sw.addVsi(v, vsiName(v), kFirstISid + v);
    sw.setFibSpec({.maxPwNum = 1u << 22, .maxPwPerVsi = 1u << 22, .shareVsi = false});
    startModules();
    serve();  // the first batch: the daemon takes the VSIs
    for (uint32_t p : ports) {
        if (PBB_ctl_SetAllVsiUplink(p) != PBB_OK) throw std::runtime_error("uplink refused");
    }
    for (uint32_t v = 0; v < vsis; ++v)
        if (PBB_ctl_SetBVlan(kBVlan, vsiName(v).c_str(), kFirstISid + v) != PBB_OK || PBB_mcpw_Get(v) == nullptr)
            throw std::runtime_error("VSI not activated");
    return ports;
}

void bmacOf(uint32_t i, uint8_t* mac)
{
    const uint8_t m[6] = {0x00, 0xbb, 0x00, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i)};
    memcpy(mac, m, sizeof m);
}

// Entry i: VSI i % vsis, port (i / vsis) % 4.
void fill(uint32_t vsis, const std::vector<uint32_t>& ports)
{
    addEntries(kEntries, vsis, 0, kFirstISid, kBVlan, ports);
}

void BM_DeactivateVsi(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Dirs dirs;
        auto ports = startSwitch(1);
        fill(1, ports);
        state.ResumeTiming();
        PBB_ctl_DeactiveVsi(0);
        state.PauseTiming();
        check(PBB_ucpw_GetTotalNum() == 0 && plat::inproc::model().fib().committed().uc.empty(), "entries left");
        stopModules();
        state.ResumeTiming();
    }
}

void BM_ResetAll(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Dirs dirs;
        auto ports = startSwitch(64);
        fill(64, ports);
        state.ResumeTiming();
        PBB_ctl_ResetUcPwAll();
        state.PauseTiming();
        check(PBB_ucpw_GetTotalNum() == 0 && plat::inproc::model().fib().committed().uc.empty(), "entries left");
        stopModules();
        state.ResumeTiming();
    }
}

void BM_AgeOut1000(benchmark::State& state)
{
    constexpr uint32_t kAged = 1000, kPerReport = 500;
    for (auto _ : state) {
        state.PauseTiming();
        Dirs dirs;
        auto ports = startSwitch(64);
        fill(64, ports);
        // VSI 0's first 1,000 entries, in reports of 500.
        std::vector<std::vector<sim::ReportTlv>> reports;
        for (uint32_t r = 0; r < kAged / kPerReport; ++r) {
            sim::AgeReport age{.slot = 1, .ageType = L2VPN_AGE_TYPE_AGED, .vsi = 0, .isid = kFirstISid};
            for (uint32_t k = 0; k < kPerReport; ++k) {
                sim::Mac mac;
                bmacOf((r * kPerReport + k) * 64, mac.data());
                age.entries.emplace_back(mac, kBVlan);
            }
            reports.push_back({age});
        }
        state.ResumeTiming();
        for (const auto& report : reports) plat::inproc::model().sendReport(report);
        serve();
        state.PauseTiming();
        check(PBB_ucpw_GetTotalNum() == kEntries - kAged, "not every aged entry went");
        stopModules();
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_DeactivateVsi)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ResetAll)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_AgeOut1000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
