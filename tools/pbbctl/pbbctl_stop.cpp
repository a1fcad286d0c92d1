// pbbctl stop: stops the daemon with a stop value queued on its stop
// signal and waits until the process is gone.
#include "tools/pbbctl/pbbctl.h"
#include "tools/pbbctl/pbbctl_client.h"
#include "tools/pbbctl/pbbctl_daemon.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

struct StopOptions {
    bool clear = false;
    int value = -1;
    double timeout = 10.0;
    std::string runDir;
    bool json = false;
};

// Waits for the process to end: pidfd where the kernel has it, else by
// checking the pid until the deadline.
bool waitGone(pid_t pid, double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        struct pollfd p {pidfd, POLLIN, 0};
        int ms = static_cast<int>(seconds * 1000);
        int r = poll(&p, 1, ms);
        close(pidfd);
        if (r > 0) return true;
        if (r == 0) return false;
    }
    while (std::chrono::steady_clock::now() < deadline) {
        if (kill(pid, 0) != 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return kill(pid, 0) != 0;
}

void runStop(const StopOptions& o)
{
    pbbctl::applyRunDir(o.runDir);
    int value = o.value >= 0 ? o.value : (o.clear ? 3 : 0);
    auto st = pbbctl::readDaemonStatus();
    // Not running: exit status 3, as for every command.
    if (!st.fileFound) throw pbbctl::NoAnswer("pbbd is not running (no status file " + st.statusFile + ")");
    if (!st.alive)
        throw pbbctl::NoAnswer("pbbd is not running (status file " + st.statusFile + " names pid " +
                               std::to_string(st.pid) + ", which is gone)");
    union sigval sv {};
    sv.sival_int = value;
    if (sigqueue(st.pid, SIGRTMIN + 1, sv) != 0)
        throw pbbctl::Failure("cannot signal pbbd (pid " + std::to_string(st.pid) + "): " + std::strerror(errno));
    bool gone = waitGone(st.pid, o.timeout);
    if (o.json || pbbctl::global().json) {
        nlohmann::json j{{"pid", st.pid}, {"stop_value", value}, {"stopped", gone}};
        std::printf("%s\n", j.dump().c_str());
    } else if (gone) {
        std::printf("pbbd (pid %d) stopped with stop value %d%s\n", st.pid, value,
                    value == 3 ? " (learned entries withdrawn and deleted)" : "");
    }
    if (!gone)
        throw pbbctl::Failure("pbbd (pid " + std::to_string(st.pid) + ") did not stop within " +
                              std::to_string(o.timeout) + " s");
}

pbbctl::Registrar regStop([](CLI::App& app) {
    auto o = std::make_shared<StopOptions>();
    auto* cmd = app.add_subcommand("stop", "Stop the daemon");
    cmd->add_flag("--clear", o->clear, "Withdraw every learned entry from the switch and delete the saved ones first");
    cmd->add_option("--value", o->value, "Send this raw stop value (0/1 orderly, 3 clear, other: immediate exit)")
        ->check(CLI::NonNegativeNumber)
        ->excludes("--clear");
    cmd->add_option("--timeout", o->timeout, "Seconds to wait for the daemon to end")
        ->check(CLI::Range(0.001, 3600.0));
    cmd->add_option("--run-dir", o->runDir, "The platform's run directory (default: the platform setting)");
    cmd->add_flag("--json", o->json, "Print the result as JSON");
    cmd->callback([o] { runStop(*o); });
});

}  // namespace
