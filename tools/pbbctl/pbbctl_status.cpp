// pbbctl status: whether the daemon runs and has completed its start-up, and
// whether its packet socket is open (learning) or closed (being reopened).
#include "tools/pbbctl/pbbctl.h"
#include "tools/pbbctl/pbbctl_daemon.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

struct StatusOptions {
    std::string runDir;
    bool json = false;
};

void runStatus(const StatusOptions& o)
{
    pbbctl::applyRunDir(o.runDir);
    auto st = pbbctl::readDaemonStatus();
    bool running = st.fileFound && st.alive;
    if (o.json || pbbctl::global().json) {
        nlohmann::json j{{"running", running}, {"ready", running && st.ready}, {"status_file", st.statusFile}};
        if (running) j["pid"] = st.pid;
        if (running && !st.packetSocket.empty()) j["packet_socket"] = st.packetSocket;
        if (!st.error.empty()) j["error"] = st.error;
        std::printf("%s\n", j.dump().c_str());
    } else if (running) {
        std::printf("pbbd is running (pid %d)%s\n", st.pid, st.ready ? ", start-up complete" : "");
        if (st.packetSocket == "closed")
            std::printf("packet socket closed: no PBB frame is learned; the daemon reopens it every second\n");
        else if (!st.packetSocket.empty())
            std::printf("packet socket %s\n", st.packetSocket.c_str());
    } else {
        std::printf("pbbd is not running\n");
    }
    if (!st.error.empty()) std::fprintf(stderr, "pbbctl: %s\n", st.error.c_str());
    if (!running) throw pbbctl::ExitStatus{3};
}

pbbctl::Registrar regStatus([](CLI::App& app) {
    auto o = std::make_shared<StatusOptions>();
    auto* cmd = app.add_subcommand("status", "Show whether the daemon runs (exit status 3 when it does not)");
    cmd->add_option("--run-dir", o->runDir, "The platform's run directory (default: the platform setting)");
    cmd->add_flag("--json", o->json, "Print the result as JSON");
    cmd->callback([o] { runStatus(*o); });
});

}  // namespace
