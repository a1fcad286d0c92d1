// pbbctl status: whether the daemon runs and has completed its start-up, and
// whether its packet socket, its interface and VLAN event channels and its
// ageing socket are open or closed (being reopened every second).
#include "tools/pbbctl/pbbctl.h"
#include "tools/pbbctl/pbbctl_daemon.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

// A channel the daemon reopens: its state, its JSON key, its name in the
// human output and what is lost while it is closed.
struct Channel {
    std::string pbbctl::DaemonStatus::*state;
    const char* key;
    const char* name;
    const char* whileClosed;
};

constexpr Channel kChannels[] = {
    {&pbbctl::DaemonStatus::packetSocket, "packet_socket", "packet socket", "no PBB frame is learned"},
    {&pbbctl::DaemonStatus::interfaceEvents, "interface_events", "interface events",
     "interface, link and slot changes are not followed"},
    {&pbbctl::DaemonStatus::vlanEvents, "vlan_events", "VLAN events", "VLAN membership changes are not followed"},
    {&pbbctl::DaemonStatus::ageSocket, "age_socket", "ageing socket",
     "the line cards' ageing and no-resource reports are not read"},
};

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
        for (const Channel& ch : kChannels)
            if (running && !(st.*ch.state).empty()) j[ch.key] = st.*ch.state;
        if (!st.error.empty()) j["error"] = st.error;
        std::printf("%s\n", j.dump().c_str());
    } else if (running) {
        std::printf("pbbd is running (pid %d)%s\n", st.pid, st.ready ? ", start-up complete" : "");
        for (const Channel& ch : kChannels) {
            const std::string& state = st.*ch.state;
            if (state == "closed")
                std::printf("%s closed: %s; the daemon reopens it every second\n", ch.name, ch.whileClosed);
            else if (!state.empty())
                std::printf("%s %s\n", ch.name, state.c_str());
        }
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
