// pbbctl help: the commands and a worked example of each.
#include <cstdio>

#include "tools/pbbctl/pbbctl.h"

namespace {

constexpr const char* kExamples = R"(
Examples (interfaces by name or ifIndex, VSIs by name or index):
  pbbctl bvlan set vsi-red 100                 give vsi-red B-VLAN 100 (I-SID from the switch)
  pbbctl uplink add eth-1/0/1 vsi-red vsi-blue eth-1/0/1 faces the backbone for two VSIs
  pbbctl uplink all agg-1 on                   agg-1 is an uplink of every VSI
  pbbctl encap set vsi-red 3                   encapsulation type 3 for vsi-red
  pbbctl show mc                               multicast entries and their ports
  pbbctl show learned vsi-red                  what vsi-red learned, B-MAC by B-MAC
  pbbctl show learned --all --json             everything learned, for programs
  pbbctl show summary                          per VSI: state, uplinks, ports, learned; totals and limits
  pbbctl show summary --format prometheus      the same for node_exporter's textfile collector
  pbbctl reset learned --vsi vsi-red eth-1/0/1 withdraw what vsi-red learned on eth-1/0/1
  pbbctl reset learned --bvlan 100-110         withdraw B-VLANs 100 to 110 on every interface
  pbbctl debug set event pkt                   the daemon logs events and frames
  pbbctl status                                does the daemon run?
  pbbctl stop                                  stop it

--json prints JSON (a refusal too, with its result code); --timeout SECONDS
bounds every wait (default 5).
Exit status: 0 done, 1 refused by the daemon, 2 bad usage (nothing sent),
3 the daemon is not running or does not answer.
)";

pbbctl::Registrar regHelp([](CLI::App& app) {
    auto* help = app.add_subcommand("help", "List the commands with examples");
    CLI::App* top = &app;
    help->callback([top] {
        // The formatter directly: App::help would describe the selected
        // subcommand, which is this one.
        std::fputs(top->get_formatter()->make_help(top, "", CLI::AppFormatMode::Normal).c_str(), stdout);
        std::fputs(kExamples, stdout);
    });
});

}  // namespace
