// Support of the transport tests: a pbb-sim server in a child process over
// a topology, pbb-simctl's commands sent to it, and waits with deadlines.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/model/inproc.h"
#include "platform/stub/logfile.h"
#include "platform/testing.h"
#include "platform/transport/control.h"
#include "platform/transport/paths.h"
#include "platform/transport/socket_backend.h"
#include "support/tempdir.h"
#include "tools/pbb-sim/server.h"
#include "tools/simcmd/simcmd.h"

namespace pbbtest {

// A pbb-sim server (the one pbb-sim runs) in a child process, serving the
// platform's current run directory.
class SimChild {
public:
    explicit SimChild(const std::string& topology = simcmd::defaultTopology(),
                      size_t ringCapacity = plat::transport::RecordRing::kDefaultCapacity)
    {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            serve(topology, ringCapacity, ready[1]);
        }
        ::close(ready[1]);
        char c = 0;
        pollfd p{ready[0], POLLIN, 0};
        bool ok = ::poll(&p, 1, 10000) == 1 && ::read(ready[0], &c, 1) == 1 && c == 'r';
        ::close(ready[0]);
        if (!ok) {
            kill();
            ADD_FAILURE() << "the simulator did not get ready";
        }
    }
    ~SimChild() { kill(); }
    SimChild(const SimChild&) = delete;
    SimChild& operator=(const SimChild&) = delete;

    pid_t pid() const { return pid_; }

    // Ends it at once, as a crash would.
    void kill()
    {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    [[noreturn]] static void serve(const std::string& topology, size_t ringCapacity, int ready)
    {
        // Nothing of the parent's connections may stay open here. The log
        // file the parent had open goes first: left to the next log line,
        // its stale handle would close whatever took its descriptor number.
        plat::closeLogFile();
        int keep = ::dup2(ready, 3);
        ::close_range(4, ~0u, 0);
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTERM);
        sigprocmask(SIG_BLOCK, &stop, nullptr);
        int sfd = ::signalfd(-1, &stop, SFD_CLOEXEC);
        ::signal(SIGPIPE, SIG_IGN);
        sim::SwitchModel model;
        if (simcmd::loadTopology(model, topology, "test topology").status != 0) ::_exit(3);
        {
            pbbsim::Server server(model, ringCapacity);
            std::string error;
            if (!server.listen(&error)) ::_exit(4);
            if (::write(keep, "r", 1) != 1) ::_exit(5);
            ::close(keep);
            server.run(sfd);
        }
        ::_exit(0);
    }

    pid_t pid_ = -1;
};

// A test with private platform directories whose platform calls go over
// the socket transport once it connects; the in-process switch and the
// call log are reset at the end.
class TransportTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        plat::inproc::reset();
        plat::testing::reset();
    }
    static void connect() { plat::installBackend(std::make_unique<plat::transport::SocketBackend>()); }

    PlatformDirs dirs;
};

// Runs one command on the simulator as pbb-simctl does, waiting for its
// answer at most timeoutMs.
inline plat::transport::ControlReply simctl(const std::vector<std::string>& words, bool json = false,
                                            int timeoutMs = 10000)
{
    plat::transport::ControlClient c;
    std::string error;
    if (!c.connect(plat::transport::controlSocketPath(), &error)) return {3, "", error};
    auto r = c.call({words, json, ""}, timeoutMs, &error);
    return r ? *r : plat::transport::ControlReply{1, "", error};
}

// The command must succeed.
inline void must(const std::vector<std::string>& words)
{
    auto r = simctl(words);
    ASSERT_EQ(r.status, 0) << r.err;
}

// Asks cond until it holds, for at most timeoutMs; whether it held.
template <class Cond>
bool eventually(Cond cond, int timeoutMs = 5000)
{
    for (int waited = 0;; waited += 2) {
        if (cond()) return true;
        if (waited >= timeoutMs) return false;
        ::usleep(2000);
    }
}

// The simulator's counters (pbb-simctl show stats).
inline nlohmann::json simStats()
{
    return nlohmann::json::parse(simctl({"show", "stats"}, true).out);
}

}  // namespace pbbtest
