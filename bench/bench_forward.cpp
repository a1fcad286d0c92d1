// pbb-sim as a backbone edge bridge, over veth pairs in a network namespace
// of the benchmark's own (root needed; the benchmark is skipped otherwise):
//  - frames per second one pbb-sim forwards both ways at once: customer
//    frames sent on the attachment circuit's veth come out of the backbone
//    port's veth encapsulated to a programmed remote bridge, and that
//    bridge's frames sent on the backbone veth come out of the circuit's
//    decapsulated. The benchmark sends a batch each way (sendmmsg) and
//    reads both batches back (recvmmsg): forwarded_per_second;
//  - in the same run, the same number of frames sent and read over a third
//    veth pair with nothing between: raw_per_second, the host's AF_PACKET
//    rate for the same sending and reading;
//  - ratio = forwarded_per_second / raw_per_second; the goal is 0.5 or
//    more. lost counts frames that did not come back within 2 s;
//    sim_cpu_us_per_frame is pbb-sim's CPU time per frame it forwarded.
// The benchmark is pbb-sim's daemon (it programs the multicast and unicast
// entries itself). pbb-sim is found as in bench_sim.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/l2vpn.h"
#include "platform/model/unique_fd.h"
#include "platform/transport/socket_backend.h"

namespace {

using Frame = std::vector<uint8_t>;
using pbbbench::Clock;

const std::string kNs = "pbbfwd-" + std::to_string(::getpid());
const uint8_t kOwn[6] = {0x02, 0, 0, 0, 0, 0xaa}, kR[6] = {0x02, 0, 0, 0, 0xbb, 0x01};
const uint8_t kH1[6] = {0x00, 0x00, 0x5e, 0, 0x53, 0x01}, kH2[6] = {0x00, 0x00, 0x5e, 0, 0x53, 0x02};

bool sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

Frame customer(const uint8_t* da, const uint8_t* sa)
{
    Frame f(da, da + 6);
    f.insert(f.end(), sa, sa + 6);
    f.push_back(0x88);
    f.push_back(0xb5);
    f.resize(60, 0);
    return f;
}

Frame backbone(const uint8_t* bda, const uint8_t* bsa, const Frame& inner)
{
    Frame f(bda, bda + 6);
    f.insert(f.end(), bsa, bsa + 6);
    f.insert(f.end(), {0x88, 0xa8, 0x00, 100, 0x88, 0xe7, 0x00, 0x00, 0x27, 0x1a});  // B-VLAN 100, I-SID 10010
    f.insert(f.end(), inner.begin(), inner.end());
    return f;
}

// A packet socket on an interface of the namespace, not seeing what it sends.
plat::UniqueFd openSocket(const std::string& ifName)
{
    plat::UniqueFd home(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    plat::UniqueFd ns(::open(("/var/run/netns/" + kNs).c_str(), O_RDONLY | O_CLOEXEC));
    pbbbench::check(home.valid() && ns.valid() && ::setns(ns.get(), CLONE_NEWNET) == 0, "entering the namespace");
    plat::UniqueFd fd(::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL)));
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_ALL);
    sll.sll_ifindex = static_cast<int>(::if_nametoindex(ifName.c_str()));
    int one = 1, buf = 8 << 20;
    bool ok = fd.valid() && ::bind(fd.get(), reinterpret_cast<sockaddr*>(&sll), sizeof sll) == 0;
    (void)::setsockopt(fd.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    (void)::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &buf, sizeof buf);
    pbbbench::check(::setns(home.get(), CLONE_NEWNET) == 0, "leaving the namespace");
    pbbbench::check(ok, "packet socket");
    return fd;
}

void sendAll(int fd, const std::vector<Frame>& frames)
{
    std::vector<iovec> iov(frames.size());
    std::vector<mmsghdr> msgs(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        iov[i] = {const_cast<uint8_t*>(frames[i].data()), frames[i].size()};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    for (size_t done = 0; done < msgs.size();) {
        int n = ::sendmmsg(fd, msgs.data() + done, static_cast<unsigned>(msgs.size() - done), 0);
        if (n <= 0) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        done += static_cast<size_t>(n);
    }
}

// Reads until each socket has given its count, or 2 s went by; the frames missing.
size_t readAll(const std::vector<std::pair<int, size_t>>& want)
{
    static std::vector<std::array<uint8_t, 2048>> bufs(256);
    static std::vector<iovec> iov(256);
    static std::vector<mmsghdr> msgs(256);
    std::vector<size_t> left;
    std::vector<pollfd> fds;
    for (const auto& [fd, n] : want) {
        left.push_back(n);
        fds.push_back({fd, POLLIN, 0});
    }
    auto end = Clock::now() + std::chrono::seconds(2);
    size_t missing = 1;
    while (missing != 0 && Clock::now() < end) {
        ::poll(fds.data(), fds.size(), 100);
        missing = 0;
        for (size_t s = 0; s < fds.size(); ++s) {
            for (size_t i = 0; i < msgs.size(); ++i) {
                iov[i] = {bufs[i].data(), bufs[i].size()};
                msgs[i].msg_hdr = msghdr{};
                msgs[i].msg_hdr.msg_iov = &iov[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            int n;
            while (left[s] > 0 && (n = ::recvmmsg(fds[s].fd, msgs.data(), static_cast<unsigned>(msgs.size()),
                                                  MSG_DONTWAIT, nullptr)) > 0)
                left[s] -= std::min(left[s], static_cast<size_t>(n));
            missing += left[s];
        }
    }
    return missing;
}

struct Lab {
    Lab()
    {
        pbbbench::check(::geteuid() == 0 && sh("ip netns add " + kNs), "a network namespace (root needed)");
        sh("ip netns exec " + kNs + " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
        for (const char* pair : {"c", "b", "r"})
            pbbbench::check(sh("ip -n " + kNs + " link add " + pair + "s type veth peer name " + pair + "p") &&
                                sh("ip -n " + kNs + " link set " + pair + "s up") &&
                                sh("ip -n " + kNs + " link set " + pair + "p up"),
                            "veth pairs");
        sim = std::make_unique<pbbbench::Simulator>();
        plat::installBackend(std::make_unique<plat::transport::SocketBackend>());
        int fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM,
                                [](uint32_t, const L2VPN_VSI_INFO_S*) -> uint32_t { return 0; });
        uint32_t uplink = 1;  // eth-1/0/1
        L2VPN_MINM_ENTRY_S e{};
        e.uiVsiIndex = 1;
        e.uiISid = 10010;
        e.uiBVlan = 100;
        e.uiPortNum = 1;
        e.puiPortList = &uplink;
        const uint8_t group[6] = {0x01, 0x1e, 0x83, 0x00, 0x27, 0x1a};
        std::memcpy(e.aucBMac, group, 6);
        bool ok = fd >= 0 && L2VPN_SetInterface(fd, uplink, L2VPN_IF_PBB_ENABLE) == 0 &&
                  L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_MC, &e) == 0;
        std::memcpy(e.aucBMac, kR, 6);
        ok = ok && L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e) == 0 && L2VPN_FlushPwEntry(fd) == 0;
        pbbbench::check(ok, "programming the switch");
        sim->command({"bridge", "mac", "02:00:00:00:00:aa"});
        sim->command({"ac", "add", "eth-3/0/1", "vsi-red"});
        sim->command({"link", "bind", "cs", "eth-3/0/1", "--netns", kNs});
        sim->command({"link", "bind", "bs", "eth-1/0/1", "--netns", kNs});
        circuit = openSocket("cp");
        uplinkEnd = openSocket("bp");
        rawIn = openSocket("rs");
        rawOut = openSocket("rp");
        // H2 behind R, H1 on the circuit: from here on both ways are unicast.
        sendAll(uplinkEnd.get(), {backbone(kOwn, kR, customer(kH1, kH2))});
        sendAll(circuit.get(), {customer(kH2, kH1)});
        readAll({{circuit.get(), 1}, {uplinkEnd.get(), 1}});
    }
    ~Lab()
    {
        sim.reset();
        sh("ip netns del " + kNs);
    }
    std::unique_ptr<pbbbench::Simulator> sim;
    plat::UniqueFd circuit, uplinkEnd, rawIn, rawOut;
};

void BM_ForwardBothWays(benchmark::State& state)
{
    std::unique_ptr<Lab> lab;
    try {
        lab = std::make_unique<Lab>();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const auto batch = static_cast<size_t>(state.range(0));
    std::vector<Frame> up(batch, customer(kH2, kH1)), down(batch, backbone(kOwn, kR, customer(kH1, kH2)));
    std::vector<Frame> raw(2 * batch, backbone(kOwn, kR, customer(kH1, kH2)));
    double rawSeconds = 0, fwdSeconds = 0, simCpu = lab->sim->cpuSeconds();
    size_t lost = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        sendAll(lab->rawIn.get(), raw);
        lost += readAll({{lab->rawOut.get(), 2 * batch}});
        auto t1 = Clock::now();
        sendAll(lab->circuit.get(), up);
        sendAll(lab->uplinkEnd.get(), down);
        lost += readAll({{lab->uplinkEnd.get(), batch}, {lab->circuit.get(), batch}});
        auto t2 = Clock::now();
        rawSeconds += pbbbench::seconds(t1 - t0);
        fwdSeconds += pbbbench::seconds(t2 - t1);
    }
    double frames = static_cast<double>(state.iterations() * 2 * batch);
    state.counters["forwarded_per_second"] = frames / fwdSeconds;
    state.counters["raw_per_second"] = frames / rawSeconds;
    state.counters["ratio"] = rawSeconds / fwdSeconds;
    state.counters["lost"] = static_cast<double>(lost);
    // pbb-sim's own CPU time per frame forwarded, whatever else ran.
    state.counters["sim_cpu_us_per_frame"] = (lab->sim->cpuSeconds() - simCpu) * 1e6 / frames;
}
BENCHMARK(BM_ForwardBothWays)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
