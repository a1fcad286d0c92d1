// The simulated switch as a daemon sees it, pbb-sim running as a child
// process of the benchmark:
//  - frames per second from pbb-sim's injection path (a burst command) into
//    the daemon's packet socket, read with PKT_RecvMsg as the daemon reads
//    it; the goal is well above 200,000 per second. The counter
//    sim_frames_per_cpu_second is what pbb-sim alone could make per second
//    of its CPU time (the reader's share is the rest);
//  - one forwarding programming call (L2VPN_AddMinMEntry then
//    L2VPN_FlushPwEntry) over the socket transport, where it is one write
//    that does not wait for pbb-sim, and in process;
//  - 64,000 new entries over 64 VSIs programmed in process in the
//    learning's pattern (the switch model's share of learning);
//  - one request that does nothing and its reply (the transport's floor);
//  - one query (IF_GetDataByIfIndex) over the socket transport and in
//    process: answered from the library's copy, it costs about the same.
// Run with --benchmark_repetitions=5 (or more) for medians.
//
// pbb-sim is found next to this binary's build tree (../tools/pbb-sim/) or
// at PBB_SIM_BIN.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/model/inproc.h"
#include "platform/pktsock.h"
#include "platform/settings.h"
#include "platform/transport/control.h"
#include "platform/transport/paths.h"
#include "platform/transport/socket_backend.h"

namespace {

namespace fs = std::filesystem;

using pbbbench::Simulator;

Simulator& sim()
{
    static Simulator s;
    return s;
}

uint32_t onL2vpn(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

// This process as the simulator's daemon: registered, port 1 in PBB mode.
int connectAsDaemon()
{
    sim();
    plat::installBackend(std::make_unique<plat::transport::SocketBackend>());
    int fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, onL2vpn);
    if (fd < 0 || L2VPN_SetInterface(fd, 1, L2VPN_IF_PBB_ENABLE) != 0)
        throw std::runtime_error("cannot register with the simulated switch");
    return fd;
}

// The same switch in process: slot 1 MAC-in-MAC, port 1, VSI 1.
int inProcessSwitch()
{
    auto& m = plat::inproc::reset();
    m.addSlot(1, {.minm = true});
    m.addPort("eth-1/0/1", 1);
    m.addVsi(1, "vsi-red", 10010);
    return L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, onL2vpn);
}

void BM_FramesIntoThePacketSocket(benchmark::State& state)
{
    const auto burst = static_cast<int>(state.range(0));
    connectAsDaemon();
    int fd = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    PKT_SOCKADDR_S addr{};
    addr.ucLen = sizeof addr;
    addr.ucFamily = PKT_AF_PACKET;
    addr.usEtherType = PKT_ETHERTYPE_ITAG;
    int one = 1;
    if (fd < 0 || PKT_Bind(fd, &addr, sizeof addr) != 0 ||
        PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_IFINDEX_CTRL, &one, sizeof one) != 0) {
        state.SkipWithError("no packet socket");
        return;
    }
    std::vector<uint8_t> data(2048);
    alignas(8) uint8_t ctrl[64];
    PKT_SOCKADDR_S from{};
    double simCpu = sim().cpuSeconds();
    for (auto _ : state) {
        sim().command({"frame", "burst", "1", std::to_string(burst), "--isid", "10010", "--bvlan", "100", "--bsa",
                       "00:bb:00:00:00:00"});
        for (int got = 0; got < burst; ++got) {
            iovec iov{data.data(), data.size()};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = ctrl;
            msg.msg_controllen = sizeof ctrl;
            if (PKT_RecvMsg(fd, &msg, 0) <= 0) {
                state.SkipWithError("the packet socket ended");
                break;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * burst);
    // What the simulator spent per frame: the frames it could make per
    // second of its own CPU time, whoever reads them.
    simCpu = sim().cpuSeconds() - simCpu;
    if (simCpu > 0)
        state.counters["sim_frames_per_cpu_second"] =
            benchmark::Counter(static_cast<double>(state.iterations()) * burst / simCpu);
    ::close(fd);
    plat::inproc::reset();
}
BENCHMARK(BM_FramesIntoThePacketSocket)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A unicast entry on the one port given, B-VLAN 100, with the all-ones
// fields as the daemon fills them; VSI, I-SID and B-MAC are the caller's.
L2VPN_MINM_ENTRY_S unicastEntry(uint32_t* port)
{
    L2VPN_MINM_ENTRY_S e{};
    e.uiAllOnes = 0xFFFFFFFF;
    e.usAllOnes = 0xFFFF;
    e.uiBVlan = 100;
    e.uiPortNum = 1;
    e.puiPortList = port;
    return e;
}

// One entry programmed and committed, as the daemon does for a learned
// B-MAC; 512 B-MACs in turn (adding an existing key replaces it).
void program(benchmark::State& state, int fd)
{
    uint32_t port = 1;
    L2VPN_MINM_ENTRY_S e = unicastEntry(&port);
    e.uiVsiIndex = 1;
    e.uiISid = 10010;
    uint32_t n = 0;
    for (auto _ : state) {
        const uint8_t mac[6] = {0x00, 0xbb, 0, 0, static_cast<uint8_t>(n >> 8 & 1), static_cast<uint8_t>(n)};
        std::memcpy(e.aucBMac, mac, 6);
        ++n;
        if (L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e) != 0 || L2VPN_FlushPwEntry(fd) != 0) {
            state.SkipWithError("the switch refused the entry");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ProgramEntry_Socket(benchmark::State& state)
{
    program(state, connectAsDaemon());
    plat::inproc::reset();
}
BENCHMARK(BM_ProgramEntry_Socket)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ProgramEntry_InProcess(benchmark::State& state) { program(state, inProcessSwitch()); }

// The learning's pattern in process: 64,000 new entries over 64 VSIs,
// each VSI's B-MACs ascending and the VSIs in turn, each entry added and
// committed as the daemon does (ns_per_entry: the switch's share of
// learning a new entry, the call log included); with one_vsi_random:1,
// the same B-MACs all in one VSI in arbitrary order.
void BM_ProgramNewEntries_InProcess(benchmark::State& state)
{
    const bool oneVsi = state.range(0) != 0;
    const uint32_t kVsis = oneVsi ? 1 : 64, kEntries = 64000;
    std::vector<uint32_t> order(kEntries);
    std::iota(order.begin(), order.end(), 0u);
    if (oneVsi) std::shuffle(order.begin(), order.end(), std::mt19937(11));
    double ns = 0, entries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto& m = plat::inproc::reset();
        m.addSlot(1, {.minm = true});
        m.addPort("eth-1/0/1", 1);
        for (uint32_t v = 0; v < kVsis; ++v) m.addVsi(v, "vsi-" + std::to_string(v), 10000 + v);
        m.setFibSpec({.maxPwNum = 1u << 22, .maxPwPerVsi = 1u << 22, .shareVsi = false});
        int fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, onL2vpn);
        uint32_t port = 1;
        L2VPN_MINM_ENTRY_S e = unicastEntry(&port);
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        for (uint32_t i : order) {
            e.uiVsiIndex = i % kVsis;
            e.uiISid = 10000 + e.uiVsiIndex;
            const uint8_t mac[6] = {0x00, 0xbb, 0, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                                    static_cast<uint8_t>(i)};
            std::memcpy(e.aucBMac, mac, 6);
            if (L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e) != 0 || L2VPN_FlushPwEntry(fd) != 0) {
                state.SkipWithError("the switch refused the entry");
                return;
            }
        }
        ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
        entries += kEntries;
        state.PauseTiming();
        if (m.fib().committed().uc.size() != kEntries) state.SkipWithError("not every entry was committed");
        state.ResumeTiming();
    }
    state.counters["ns_per_entry"] = ns / entries;
}
BENCHMARK(BM_ProgramNewEntries_InProcess)->ArgName("one_vsi_random")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

// One request that does nothing and its reply: the transport's own cost,
// which the programming call above does not wait for.
void BM_RoundTrip_Socket(benchmark::State& state)
{
    connectAsDaemon();
    auto& link = static_cast<plat::transport::SocketBackend&>(plat::backend()).link();
    for (auto _ : state) {
        if (link.call(plat::wire::Msg::Ping, plat::wire::Writer()) != 0u) {
            state.SkipWithError("no answer");
            break;
        }
    }
    plat::inproc::reset();
}
BENCHMARK(BM_RoundTrip_Socket)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ProgramEntry_InProcess)->Unit(benchmark::kMicrosecond);

void query(benchmark::State& state)
{
    uint32_t link = 0;
    for (auto _ : state) {
        if (IF_GetDataByIfIndex(1, IF_DATA_LINK_STATE, &link) != 0) {
            state.SkipWithError("no port 1");
            break;
        }
        benchmark::DoNotOptimize(link);
    }
}

void BM_Query_Socket(benchmark::State& state)
{
    connectAsDaemon();
    query(state);
    plat::inproc::reset();
}
BENCHMARK(BM_Query_Socket);

void BM_Query_InProcess(benchmark::State& state)
{
    inProcessSwitch();
    query(state);
}
BENCHMARK(BM_Query_InProcess);

}  // namespace

BENCHMARK_MAIN();
