// pbbctl show summary: per PBB VSI its I-SID, B-VLAN, state, uplinks,
// multicast ports and learned entries, and the totals against the limits;
// as a table, JSON or the Prometheus text format.
//
// Where each figure comes from (the management protocol is as it is):
// - the daemon's status file: running, start-up complete;
// - the switch (pbb-sim's control socket, as for names): the VSIs with an
//   I-SID, their state, and the unicast entry limits;
// - the daemon: a VSI's multicast answer (type 7), whose B-VLAN and ports
//   make it active, and the unicast walk of an active VSI (types 10, 11);
// - the used configuration database, read-only: the configured uplinks
//   (only the daemon's user may read it; for others they are unknown).
#include "tools/pbbctl/pbbctl_daemon.h"
#include "tools/pbbctl/pbbctl_metrics.h"
#include "tools/pbbctl/pbbctl_session.h"
#include "tools/pbbctl/pbbctl_walk.h"

#include "platform/dbm.h"
#include "platform/dbm/dbm_dump.h"
#include "platform/transport/control.h"
#include "platform/transport/paths.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <optional>

namespace {

using namespace pbbctl;
using nlohmann::json;

struct VsiSummary {
    VsiName id;
    bool switchUp = true;
    std::optional<proto::McMsg> mc;  // active: it has a multicast entry
    std::vector<std::string> uplinks;
    size_t learned = 0;
};

struct Summary {
    DaemonStatus daemon;
    std::string problem;  // why the daemon's figures are missing
    std::optional<uint64_t> limitTotal, limitPerVsi;
    std::optional<std::string> uplinksUnknown;  // why
    std::vector<VsiSummary> vsis;
    bool answered() const { return problem.empty(); }
    size_t learned() const
    {
        size_t n = 0;
        for (const auto& v : vsis) n += v.learned;
        return n;
    }
};

// The switch's VSIs with an I-SID and its limits.
void readSwitch(Summary& out, int timeoutMs)
{
    plat::transport::ControlClient c;
    std::string error;
    if (!c.connect(plat::transport::controlSocketPath(), &error, timeoutMs))
        throw NoAnswer("cannot ask the switch for its VSIs: " + error);
    auto reply = c.call({{"show", "vsis"}, true, ""}, timeoutMs, &error);
    if (!reply) throw NoAnswer("the switch did not show its VSIs: " + error);
    if (reply->status != 0) {
        std::string why = reply->err;
        while (!why.empty() && std::isspace(static_cast<unsigned char>(why.back()))) why.pop_back();
        throw NoAnswer("the switch did not show its VSIs: " + why);
    }
    const json j = json::parse(reply->out);
    out.limitTotal = j.at("limits").at("total").get<uint64_t>();
    out.limitPerVsi = j.at("limits").at("perVsi").get<uint64_t>();
    for (const auto& v : j.at("vsis")) {
        if (v.at("isid").get<uint32_t>() == 0) continue;  // not a PBB VSI
        VsiSummary s;
        s.id = {v.at("index").get<uint32_t>(), v.at("name").get<std::string>(), v.at("isid").get<uint32_t>()};
        s.switchUp = !v.at("down").get<bool>();
        out.vsis.push_back(std::move(s));
    }
}

std::string keyText(const json& k, size_t prefix)
{
    std::string s = k.at("key").get<std::string>().substr(prefix);
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

// The configured uplinks from the used configuration database: per VSI name
// the interfaces naming it, and the interfaces that are uplinks of every VSI.
void readUplinks(Summary& out)
{
    const plat::dbm::Dump d = plat::dbm::dumpStores(plat::dbm::storeRoot());
    std::map<std::string, std::vector<std::string>> byVsi;
    std::vector<std::string> ofAll;
    bool found = false;
    for (const auto& store : d.json.at("stores")) {
        if (store.contains("error")) {
            out.uplinksUnknown = "cannot read " + store.at("file").get<std::string>() + ": " +
                                 store.at("error").get<std::string>();
            return;
        }
        for (const auto& db : store.value("databases", json::array())) {
            if (db.at("name") != "ePBB") continue;
            found = true;
            for (const auto& k : db.at("keys")) {
                const std::string key = k.at("key").get<std::string>();
                if (key.rfind("if.", 0) == 0 && k.contains("record") && k["record"].value("uplink_all", 0) != 0)
                    ofAll.push_back(keyText(k, 3));
                if (key.rfind("ifvsi.", 0) == 0)
                    for (const auto& e : k.value("elements", json::array()))
                        if (e.contains("record")) byVsi[e["record"].value("vsi_name", "")].push_back(keyText(k, 6));
            }
        }
    }
    if (!found) {
        out.uplinksUnknown = "no readable configuration database under " + plat::dbm::storeRoot();
        return;
    }
    for (auto& v : out.vsis) {
        v.uplinks = ofAll;
        for (const auto& i : byVsi[v.id.name]) v.uplinks.push_back(i);
    }
}

Summary gather(Session& s)
{
    Summary out;
    out.daemon = readDaemonStatus();
    try {
        readSwitch(out, global().timeoutMs());
    } catch (const std::exception& e) {
        out.problem = e.what();
        return out;
    }
    readUplinks(out);
    if (!(out.daemon.fileFound && out.daemon.alive)) {
        out.problem = out.daemon.error.empty() ? "pbbd is not running" : out.daemon.error;
        return out;
    }
    try {
        std::vector<proto::UcMsg> keys;
        std::vector<size_t> of;  // keys[k] is of out.vsis[of[k]]
        std::vector<proto::Bytes> names;
        for (const auto& v : out.vsis) names.push_back(proto::nameValue(v.id.name));
        s.daemon().multicastEach(proto::kGetMc, names, [&](size_t i, MgmtClient::McAnswer&& a) {
            if (a.code != proto::kMcEnd) return;
            out.vsis[i].mc = a.entry;
            keys.push_back({a.entry.vsiIndex, a.entry.isid, a.entry.bvlan, {}, 0, a.entry.vsiName});
            of.push_back(i);
        });
        LearnedWalk::run(
            s.daemon(), keys, [&](size_t k, const proto::UcMsg&) { ++out.vsis[of[k]].learned; },
            [](size_t, uint32_t) {});
    } catch (const NoAnswer& e) {
        out.problem = e.what();
    }
    return out;
}

json portNames(Session& s, const std::vector<uint32_t>& ports)
{
    json names = json::array();
    for (uint32_t p : ports) names.push_back(s.names().ifLabel(p));
    return names;
}

json toJson(Session& s, const Summary& sum)
{
    json vsis = json::array();
    size_t active = 0, mcPorts = 0;
    for (const auto& v : sum.vsis) {
        json j{{"vsi", v.id.name},
               {"vsiIndex", v.id.index},
               {"isid", v.id.isid},
               {"switchState", v.switchUp ? "up" : "down"},
               {"state", v.mc ? "active" : "inactive"},
               {"bvlan", v.mc ? json(v.mc->bvlan) : json(nullptr)},
               {"uplinks", sum.uplinksUnknown ? json(nullptr) : json(v.uplinks)},
               {"multicastPorts", v.mc ? v.mc->ports : std::vector<uint32_t>{}},
               {"multicastPortNames", portNames(s, v.mc ? v.mc->ports : std::vector<uint32_t>{})},
               {"learned", v.learned},
               {"learnedLimit", sum.limitPerVsi ? json(*sum.limitPerVsi) : json(nullptr)}};
        active += v.mc ? 1 : 0;
        mcPorts += v.mc ? v.mc->ports.size() : 0;
        vsis.push_back(std::move(j));
    }
    json daemon{{"running", sum.daemon.fileFound && sum.daemon.alive},
                {"ready", sum.daemon.alive && sum.daemon.ready},
                {"answered", sum.answered()}};
    if (sum.daemon.alive) daemon["pid"] = sum.daemon.pid;
    if (!sum.answered()) daemon["error"] = sum.problem;
    json j{{"daemon", daemon},
           {"vsis", vsis},
           {"totals",
            {{"vsis", sum.vsis.size()},
             {"active", active},
             {"multicastPorts", mcPorts},
             {"learned", sum.learned()},
             {"learnedLimit", sum.limitTotal ? json(*sum.limitTotal) : json(nullptr)}}}};
    if (sum.uplinksUnknown) j["uplinksUnknown"] = *sum.uplinksUnknown;
    return j;
}

std::string joined(const json& names)
{
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ",") + n.get<std::string>();
    return out.empty() ? "-" : out;
}

std::string toText(const Summary& sum, const json& j)
{
    std::string out;
    std::vector<std::vector<std::string>> rows;
    for (const auto& v : j["vsis"]) {
        std::string limit = v["learnedLimit"].is_null() ? "" : "/" + v["learnedLimit"].dump();
        rows.push_back({v["vsi"].get<std::string>(), v["vsiIndex"].dump(), v["isid"].dump(),
                        v["state"].get<std::string>(), v["bvlan"].is_null() ? "-" : v["bvlan"].dump(),
                        v["uplinks"].is_null() ? "?" : joined(v["uplinks"]), joined(v["multicastPortNames"]),
                        v["learned"].dump() + limit});
    }
    out += table({"VSI", "INDEX", "I-SID", "STATE", "B-VLAN", "UPLINKS", "MC PORTS", "LEARNED"}, rows);
    const json& t = j["totals"];
    out += t["active"].dump() + " of " + t["vsis"].dump() + " PBB VSIs active; " + t["learned"].dump() +
           " learned entries" + (t["learnedLimit"].is_null() ? "" : " of " + t["learnedLimit"].dump()) + "\n";
    if (sum.uplinksUnknown) out += "uplinks unknown (?): " + *sum.uplinksUnknown + "\n";
    return out;
}

std::string toPrometheus(const Summary& sum, const json& j)
{
    using metrics::Family;
    Family up{"pbb_up", "Whether pbbd runs, has completed its start-up and answered this summary (1) or not (0).", {}};
    up.samples.push_back({{}, sum.answered() && sum.daemon.ready ? 1u : 0u});
    Family learned{"pbb_learned_entries", "Unicast entries pbbd learned, in all VSIs.", {}};
    Family limit{"pbb_learned_entries_limit", "The most unicast entries the switch holds, in all VSIs.", {}};
    Family perVsiLimit{"pbb_vsi_learned_entries_limit", "The most unicast entries the switch holds per VSI.", {}};
    Family active{"pbb_vsi_active", "Whether the VSI is active in pbbd: it has a multicast entry (1) or not (0).", {}};
    Family bvlan{"pbb_vsi_bvlan", "The B-VLAN of an active VSI.", {}};
    Family uplinks{"pbb_vsi_uplinks", "Interfaces configured as uplinks of the VSI.", {}};
    Family ports{"pbb_vsi_multicast_ports", "Ports of the VSI's multicast entry.", {}};
    Family vsiLearned{"pbb_vsi_learned_entries", "Unicast entries pbbd learned in the VSI.", {}};
    if (sum.limitTotal) limit.samples.push_back({{}, *sum.limitTotal});
    if (sum.limitPerVsi) perVsiLimit.samples.push_back({{}, *sum.limitPerVsi});
    if (sum.answered()) {
        learned.samples.push_back({{}, sum.learned()});
        for (const auto& v : j["vsis"]) {
            metrics::Labels l{{"vsi", v["vsi"].get<std::string>()},
                              {"vsi_index", v["vsiIndex"].dump()},
                              {"isid", v["isid"].dump()}};
            active.samples.push_back({l, v["state"] == "active" ? 1u : 0u});
            if (!v["bvlan"].is_null()) bvlan.samples.push_back({l, v["bvlan"].get<uint64_t>()});
            if (!v["uplinks"].is_null()) uplinks.samples.push_back({l, v["uplinks"].size()});
            ports.samples.push_back({l, v["multicastPorts"].size()});
            vsiLearned.samples.push_back({l, v["learned"].get<uint64_t>()});
        }
    }
    return metrics::render({up, learned, limit, perVsiLimit, active, bvlan, uplinks, ports, vsiLearned});
}

void showSummary(const std::string& format)
{
    Session s;
    const Summary sum = gather(s);
    const json j = toJson(s, sum);
    if (format == "prometheus")
        std::fputs(toPrometheus(sum, j).c_str(), stdout);
    else if (format == "json" || s.json())
        std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    else
        std::fputs(toText(sum, j).c_str(), stdout);
    // Printed all the same: a summary of a stopped daemon says pbb_up 0.
    if (!sum.answered()) {
        std::fprintf(stderr, "pbbctl: %s\n", sum.problem.c_str());
        throw ExitStatus{3};
    }
}

// Below 'show', which pbbctl_show.cpp adds: registered in the later round.
Registrar regSummary(
    [](CLI::App& app) {
        auto format = std::make_shared<std::string>("text");
        auto* show = app.get_subcommand("show");
        auto* cmd = show->add_subcommand("summary", "Per PBB VSI its state, uplinks, multicast ports and learned "
                                                    "entries, and the totals against the limits");
        cmd->add_option("--format", *format, "text (default), json (as --json) or prometheus (the text format of "
                                             "node_exporter's textfile collector)")
            ->check(CLI::IsMember({"text", "json", "prometheus"}));
        cmd->callback([format] { showSummary(*format); });
    },
    1);

}  // namespace
