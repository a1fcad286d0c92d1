// What the daemon asked of the forwarding plane: the programming calls in
// order with their decoded records, and the refresh window's state.
#include "platform/l2vpn.h"
#include "tools/simcmd/command.h"
#include "tools/simcmd/frames.h"
#include "tools/simcmd/table.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;
using J = nlohmann::json;

constexpr uint64_t kDefaultMax = 10000;

sim::Mac macOf(const uint8_t* p)
{
    sim::Mac m;
    std::copy(p, p + m.size(), m.begin());
    return m;
}

// One call as JSON and as a line for people.
std::pair<J, std::string> describe(const sim::SwitchModel& m, const sim::ProgramCall& c)
{
    J j = {{"seq", c.seq}, {"call", c.call}, {"result", c.result}};
    std::string text;
    if (c.minm) {
        const L2VPN_MINM_ENTRY_S& e = c.minm->entry;
        J ports = J::array();
        for (uint32_t p : c.minm->ports) ports.push_back(p);
        j["client"] = c.minm->client;
        j["op"] = c.minm->op;
        j["entry"] = {{"vsi", e.uiVsiIndex},     {"isid", e.uiISid},         {"bmac", formatMac(macOf(e.aucBMac))},
                      {"zero16", e.usZero},      {"ones32", e.uiAllOnes},    {"ones16", e.usAllOnes},
                      {"cmac", formatMac(macOf(e.aucCMac))}, {"flags", e.uiEntryFlags}, {"bvlan", e.uiBVlan},
                      {"portNum", e.uiPortNum},  {"zero32", e.uiZero}};
        j["ports"] = ports;
        text = "op " + std::to_string(c.minm->op) + " vsi " + std::to_string(e.uiVsiIndex) + " isid " +
               std::to_string(e.uiISid) + " bmac " + formatMac(macOf(e.aucBMac)) + " bvlan " +
               std::to_string(e.uiBVlan);
        if (!c.minm->ports.empty()) {
            text += " ports";
            for (uint32_t p : c.minm->ports) text += " " + ifLabel(m, p);
        }
    } else if (c.call == "L2VPN_SetInterface" && c.args.size() == 2) {
        j["ifIndex"] = c.args[0];
        j["mode"] = c.args[1];
        text = ifLabel(m, c.args[0]) + " mode " + std::to_string(c.args[1]);
    } else if (c.call == "L2VPN_SetVSI" && c.args.size() == 3) {
        j["vsi"] = c.args[0];
        j["attr"] = c.args[1];
        j["value"] = c.args[2];
        text = "vsi " + std::to_string(c.args[0]) + " attr " + std::to_string(c.args[1]) + " value " +
               std::to_string(c.args[2]);
    } else if (c.call == "L2VPN_SendGrEvent" && c.args.size() == 2) {
        j["client"] = c.args[0];
        j["phase"] = c.args[1];
        text = c.args[1] == L2VPN_GR_BEGIN ? "window opens"
               : c.args[1] == L2VPN_GR_END ? "window closes"
                                           : "phase " + std::to_string(c.args[1]);
    }
    return {j, text};
}

Outcome showCalls(Context& c, const Words& w)
{
    Args a(w, 2, "show calls [--since N] [--max N]", {{"--since", true}, {"--max", true}});
    a.expect(0);
    uint64_t since = 0;
    if (auto v = a.value("--since")) since = parseUnsigned(*v, "--since", 0, UINT64_MAX);
    uint64_t max = kDefaultMax;
    if (auto v = a.value("--max")) max = parseUnsigned(*v, "--max", 1, UINT64_MAX);
    const sim::ProgramLog& log = c.model.programCalls();
    auto calls = log.since(since, max < UINT64_MAX ? max + 1 : max);
    bool more = calls.size() > max;
    if (more) calls.resize(max);
    J list = J::array();
    Table t({"SEQ", "CALL", "RESULT", "WHAT"});
    for (const sim::ProgramCall& call : calls) {
        auto [j, text] = describe(c.model, call);
        list.push_back(std::move(j));
        t.row({std::to_string(call.seq), std::string(call.call), std::to_string(call.result), text});
    }
    uint64_t next = calls.empty() ? std::max(since, log.last()) : calls.back().seq;
    if (calls.empty() && since > log.last()) next = since;
    J j = {{"calls", list}, {"last", log.last()}, {"next", next}, {"more", more}, {"dropped", log.dropped()}};
    std::string head = std::to_string(list.size()) + " calls (latest " + std::to_string(log.last()) +
                       (more ? ", more after " + std::to_string(next) : "") + ")\n";
    return shown(c, head + t.str(), j);
}

Outcome showRefresh(Context& c, const Words& w)
{
    Args a(w, 2, "show refresh");
    a.expect(0);
    const sim::Fib& fib = c.model.fib();
    J stale = {{"unicast", fib.staleUnicast().size()},
               {"multicast", fib.staleMulticast().size()},
               {"pbbPorts", fib.stalePbbPorts().size()},
               {"encap", fib.staleEncap().size()}};
    J j = {{"refresh", {{"open", fib.windowOpen()}, {"stale", stale}}}};
    std::string text = std::string("refresh window ") + (fib.windowOpen() ? "open" : "closed");
    if (fib.windowOpen())
        text += "; not programmed again yet: " + std::to_string(fib.staleUnicast().size()) + " unicast, " +
                std::to_string(fib.staleMulticast().size()) + " multicast, " +
                std::to_string(fib.stalePbbPorts().size()) + " PBB ports, " +
                std::to_string(fib.staleEncap().size()) + " encapsulation types";
    return shown(c, text + "\n", j);
}

}  // namespace

std::vector<CommandSpec> programCommands()
{
    return {
        {"show", "calls", "show calls [--since N] [--max N]",
         "the programming calls the switch served after call N, oldest first, at most N (10000) at a time, with "
         "their records and results",
         showCalls},
        {"show", "refresh", "show refresh",
         "the refresh window: open or closed, and what it still marks for removal", showRefresh},
    };
}

}  // namespace simcmd
