// pbb-sim: the simulated switch behind a running pbbd. It loads a topology
// (or the embedded default), serves the platform calls of one daemon at a
// time on <run dir>/sim.sock and pbb-simctl's commands on
// <run dir>/sim-ctl.sock, and says "pbb-sim ready" on its output and in its
// log once both listen (and tells a service manager READY=1 when
// NOTIFY_SOCKET is set). SIGTERM or SIGINT stop it; its socket files go.
#include <signal.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "platform/model/switch_model.h"
#include "platform/model/unique_fd.h"
#include "platform/service.h"
#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "tools/pbb-sim/server.h"
#include "tools/simcmd/simcmd.h"

namespace {

std::string absolute(const std::string& path)
{
    std::error_code ec;
    auto p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

int fail(int status, const std::string& text)
{
    std::fprintf(stderr, "pbb-sim: %s\n", text.c_str());
    plat::writeLog(LOG_DAEMON | LOG_ERR, "pbb-sim", "SIM", text);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"pbb-sim - the simulated switch behind a running pbbd"};
    std::string topology, runDir, stateDir, logFile;
    bool foreground = true;
    app.add_option("--topology", topology, "Topology file: one pbb-simctl command per line (default: the embedded one)");
    app.add_option("--run-dir", runDir, "The platform's run directory, where the sockets are (default: PBB_RUN_DIR or /run/pbb)");
    app.add_option("--state-dir", stateDir, "The platform's state directory (default: PBB_STATE_DIR or /var/lib/pbb)");
    app.add_option("--log-file", logFile, "A file that receives the log lines as well (default: PBB_LOG_FILE)");
    app.add_flag("--foreground", foreground, "Stay in the foreground (always so: pbb-sim never detaches)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is not an error; a bad option is bad input.
        return app.exit(e) == 0 ? 0 : 2;
    }

    // pbb-sim is the switch: its own platform calls, if any, stay in the process.
    ::setenv("PBB_PLATFORM", "inproc", 1);
    if (!runDir.empty()) plat::setRunDir(absolute(runDir));
    if (!stateDir.empty()) plat::setStateDir(absolute(stateDir));
    if (!logFile.empty()) plat::setLogFile(absolute(logFile));

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    plat::UniqueFd stopFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    ::signal(SIGPIPE, SIG_IGN);

    std::string text = simcmd::defaultTopology();
    std::string source = "default topology";
    if (!topology.empty()) {
        std::ifstream in(topology);
        if (!in) return fail(2, "cannot read the topology file " + topology + ": " + std::strerror(errno));
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
        source = topology;
    }
    sim::SwitchModel model;
    // One pbb-sim per run directory: it names the switch unless a topology does.
    model.bridge().setFallbackName(plat::runDir());
    simcmd::Outcome loaded = simcmd::loadTopology(model, text, source);
    if (loaded.status != 0) return fail(loaded.status == 2 ? 2 : 1, loaded.err);

    try {
        pbbsim::Server server(model);
        std::string error;
        if (!server.listen(&error)) return fail(1, error);
        std::string ready = "pbb-sim ready (run directory " + plat::runDir() + ", " + source + ": " +
                            std::to_string(model.slots().size()) + " slots, " + std::to_string(model.interfaces().size()) +
                            " interfaces, " + std::to_string(model.vsis().size()) + " VSIs)";
        std::printf("%s\n", ready.c_str());
        std::fflush(stdout);
        plat::writeLog(LOG_DAEMON | LOG_INFO, "pbb-sim", "SIM", ready);
        // Under a service manager (NOTIFY_SOCKET set), a daemon ordered
        // after this one starts only once the sockets listen.
        plat::notifyServiceManager("READY=1\nMAINPID=" + std::to_string(::getpid()) + "\n");
        server.run(stopFd.get());
        plat::notifyServiceManager("STOPPING=1\n");
    } catch (const std::exception& e) {
        return fail(1, e.what());
    }
    plat::writeLog(LOG_DAEMON | LOG_INFO, "pbb-sim", "SIM", "pbb-sim stopped");
    return 0;
}
