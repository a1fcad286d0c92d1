// Shared set-up of the benchmarks that run the daemon's modules in process:
// a private run and state directory, and the modules started and stopped
// in the daemon's order over the in-process switch.
#pragma once

#include "bench/bench_shapes.h"
#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_if.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_tc.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vlan.h"
#include "daemon/pbb_vsi.h"
#include "platform/model/inproc.h"
#include "platform/settings.h"
#include "platform/transport/control.h"
#include "platform/transport/paths.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace pbbbench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The middle one of an odd number of values: a goal's ratio is taken as the
// median of a few rounds in one run, since single rounds of a tenth of a
// second move by a fifth or more on a shared host.
template <size_t N>
double median(std::array<double, N> v)
{
    static_assert(N % 2 == 1);
    std::sort(v.begin(), v.end());
    return v[N / 2];
}

// Gives the memory freed so far back to the system, so that the next round's
// daemon and switch fault their pages in again, as a freshly started one
// does.
inline void releaseFreedMemory() { (void)malloc_trim(0); }

inline void check(bool ok, const char* what)
{
    if (!ok) throw std::runtime_error(what);
}

// f() in a child process that starts from this process's state and ends
// with it; its result (plain bytes) comes back over a pipe. For figures
// compared across sizes: each size starts as a freshly started daemon does,
// none of them in memory that an earlier, larger round left in the heap.
// Throws when the child fails.
template <class F>
auto inChildProcess(F&& f) -> decltype(f())
{
    using T = decltype(f());
    static_assert(std::is_trivially_copyable_v<T>);
    struct Out {
        T value;
        bool ok;
    };
    int fds[2];
    check(::pipe(fds) == 0, "no pipe");
    pid_t pid = ::fork();
    check(pid >= 0, "no child process");
    if (pid == 0) {
        ::close(fds[0]);
        Out out{};
        try {
            out.value = f();
            out.ok = true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "in a child process: %s\n", e.what());
        }
        ssize_t n = ::write(fds[1], &out, sizeof out);
        ::_exit(n == static_cast<ssize_t>(sizeof out) && out.ok ? 0 : 1);
    }
    ::close(fds[1]);
    Out in{};
    size_t got = 0;
    for (ssize_t n; got < sizeof in && (n = ::read(fds[0], reinterpret_cast<char*>(&in) + got, sizeof in - got)) != 0;)
        if (n > 0) got += static_cast<size_t>(n);
        else if (errno != EINTR) break;
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    check(got == sizeof in && in.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0, "a child process failed");
    return in.value;
}

// B-MAC number i of a learned entry: 00:bb:00 and i (consecutive), or
// random (randomBMac).
inline std::array<uint8_t, 6> learnedBMac(uint32_t i, bool random)
{
    if (random) return randomBMac(i);
    return {0x00, 0xbb, 0x00, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
}

// `count` learned entries as learning leaves them (programmed, in the table,
// saved): entry i is B-MAC learnedBMac(i, random), in VSI firstVsi + i % vsis
// with I-SID firstISid + i % vsis, on the ports in turn.
inline void addEntries(uint32_t count, uint32_t vsis, uint32_t firstVsi, uint32_t firstISid, uint16_t bvlan,
                       const std::vector<uint32_t>& ports, bool random = false)
{
    static const uint8_t noCMac[6] = {};
    for (uint32_t i = 0; i < count; ++i) {
        const std::array<uint8_t, 6> mac = learnedBMac(i, random);
        uint32_t v = firstVsi + i % vsis, isid = firstISid + i % vsis, port = ports[(i / vsis) % ports.size()];
        check(PBB_l2vpn_AddUcPw(v, isid, bvlan, port, mac.data(), noCMac) == 0 &&
                  PBB_ucpw_Add(v, isid, bvlan, mac.data(), port) == 0 &&
                  PBB_dbmsave_AddUcPw(v, isid, bvlan, mac.data(), port) == 0,
              "entry not added");
    }
}

// A private run and state directory, removed afterwards.
class Dirs {
public:
    Dirs()
    {
        char tmpl[] = "/tmp/pbb-bench.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
        plat::setRunDir(dir_ + "/run");
        plat::setStateDir(dir_ + "/state");
        plat::setLogFile(dir_ + "/pbb.log");
    }
    ~Dirs()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Dirs(const Dirs&) = delete;
    Dirs& operator=(const Dirs&) = delete;
    const std::string& path() const { return dir_; }

private:
    std::string dir_;
};

// pbb-sim with its default topology as a child process, in a private run
// directory, for the life of the object.
class Simulator {
public:
    Simulator()
    {
        std::string bin = binary();
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::string runDir = plat::runDir(), log = dirs_.path() + "/sim.log";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::execl(bin.c_str(), bin.c_str(), "--run-dir", runDir.c_str(), "--log-file", log.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        std::string said;
        char buf[512];
        pollfd p{out[0], POLLIN, 0};
        while (said.find("pbb-sim ready") == std::string::npos && ::poll(&p, 1, 10000) == 1) {
            ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            said.append(buf, static_cast<size_t>(n));
        }
        ::close(out[0]);
        if (said.find("pbb-sim ready") == std::string::npos) throw std::runtime_error(bin + " did not get ready");
    }
    ~Simulator()
    {
        plat::inproc::reset();
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Runs a pbb-simctl command; returns what it printed.
    std::string command(const std::vector<std::string>& words)
    {
        std::string error;
        if (!control_) {
            control_ = std::make_unique<plat::transport::ControlClient>();
            if (!control_->connect(plat::transport::controlSocketPath(), &error)) throw std::runtime_error(error);
        }
        auto r = control_->call({words, false, ""}, 60000, &error);
        if (!r || r->status != 0) throw std::runtime_error("pbb-simctl " + words[0] + ": " + (r ? r->err : error));
        return r->out;
    }

    // CPU seconds pbb-sim has used so far (user and system).
    double cpuSeconds() const
    {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(all.substr(all.rfind(')') + 2));
        std::string f;
        unsigned long long utime = 0, stime = 0;
        for (int k = 3; k <= 15 && fields >> f; ++k) {
            if (k == 14) utime = std::stoull(f);
            if (k == 15) stime = std::stoull(f);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    static std::string binary()
    {
        if (const char* p = std::getenv("PBB_SIM_BIN")) return p;
        std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
        return (self.parent_path().parent_path() / "tools" / "pbb-sim" / "pbb-sim").string();
    }

    Dirs dirs_;
    pid_t pid_ = -1;
    std::unique_ptr<plat::transport::ControlClient> control_;
};

// The modules that hold and program state and follow the switch's events,
// started in the daemon's order (the L2VPN adapter registers and asks for
// its batch), without the management server and the packet socket.
inline void startModules()
{
    g_iPbbEpollFd = epoll_create1(EPOLL_CLOEXEC);
    uint32_t rc = PBB_elipc_InitFdList() + PBB_tmr_Init();
    rc += PBB_if_Init() + PBB_vlan_Init() + PBB_l2vpn_Init() + PBB_tc_Init() + PBB_vsi_Init() + PBB_ifcb_Init() +
          PBB_ucpw_Init() + PBB_mcpw_Init() + PBB_dbmrecover_Init();
    if (g_iPbbEpollFd < 0 || rc != 0) throw std::runtime_error("the daemon's modules did not start");
}

inline void stopModules()
{
    _pbb_main_Exit();  // the daemon's own shutdown, every module's exit in its order
}

// Serves the daemon's descriptors as its loop does until nothing is ready.
inline void serve()
{
    while (_pbb_main_EpollOnce(g_iPbbEpollFd, 0) > 0) {
    }
}

}  // namespace pbbbench
