// pbbctl show mc|learned: the daemon's multicast entries and the unicast
// entries it learned, read with the stateless walks of its server.
#include "tools/pbbctl/pbbctl_session.h"

#include <cstdio>

namespace {

using namespace pbbctl;

nlohmann::json mcJson(Session& s, const proto::McMsg& m)
{
    nlohmann::json names = nlohmann::json::array();
    for (uint32_t p : m.ports) names.push_back(s.names().ifLabel(p));
    return {{"vsi", m.vsiName},       {"vsiIndex", m.vsiIndex}, {"isid", m.isid},   {"bvlan", m.bvlan},
            {"group", proto::formatMac(m.group)}, {"ports", m.ports},       {"portNames", names}};
}

std::vector<std::string> mcRow(const nlohmann::json& j)
{
    std::string ports;
    for (const auto& n : j["portNames"]) ports += (ports.empty() ? "" : ",") + n.get<std::string>();
    return {j["vsi"].get<std::string>(), std::to_string(j["vsiIndex"].get<uint32_t>()),
            std::to_string(j["isid"].get<uint32_t>()), std::to_string(j["bvlan"].get<uint32_t>()),
            j["group"].get<std::string>(), ports};
}

const std::vector<std::string> kMcHeader{"VSI", "INDEX", "I-SID", "B-VLAN", "GROUP", "PORTS"};

// The multicast entry of one VSI; nullopt when it has none (no B-VLAN, or
// no uplink that may carry it), and then why in *why.
std::optional<proto::McMsg> mcOf(Session& s, const std::string& vsiWord)
{
    VsiName v = s.vsiFor(vsiWord, std::nullopt);
    auto a = s.daemon().multicast(proto::kGetMc, proto::nameValue(v.name));
    if (a.code == proto::kMcEnd) return a.entry;
    return std::nullopt;
}

void showMc(const std::string& vsiWord)
{
    Session s;
    nlohmann::json list = nlohmann::json::array();
    std::string note;
    if (!vsiWord.empty()) {
        if (auto m = mcOf(s, vsiWord)) list.push_back(mcJson(s, *m));
        else note = vsiWord + " has no multicast entry (no B-VLAN, or no uplink that carries it)\n";
    } else {
        for (const auto& m : s.daemon().multicastWalk()) list.push_back(mcJson(s, m));
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& j : list) rows.push_back(mcRow(j));
    printShown(s, note + table(kMcHeader, rows), {{"multicast", list}, {"count", list.size()}});
}

nlohmann::json vsiJson(const proto::McMsg& m)
{
    return {{"vsi", m.vsiName}, {"vsiIndex", m.vsiIndex}, {"isid", m.isid}, {"bvlan", m.bvlan}};
}

// Walks one VSI's learned entries; the VSI's identity comes from its
// multicast answer, since the daemon wants index, I-SID and B-VLAN with
// every step of the walk. Returns why the VSI is skipped when the daemon
// no longer knows it, empty when it was walked.
std::string walk(Session& s, const proto::McMsg& m, nlohmann::json& out, std::vector<std::vector<std::string>>& rows)
{
    // The multicast entry of a VSI removed at a batch end stays in the
    // daemon's table, answered without a VSI name.
    if (m.vsiName.empty()) return "the daemon no longer knows the VSI (its multicast entry is kept)";
    proto::UcMsg key;
    key.vsiIndex = m.vsiIndex;
    key.isid = m.isid;
    key.bvlan = m.bvlan;
    key.vsiName = m.vsiName;
    uint32_t end = proto::kNoMoreUc;
    const auto entries = s.daemon().learnedWalk(key, &end);
    // Refused after the first step: the VSI went while it was read, and its
    // learned entries with it.
    if (end == proto::kFailed && !entries.empty()) return "the daemon removed the VSI while its entries were read";
    // Only what is printed is built: a walk may hold tens of thousands of entries.
    for (const auto& e : entries) {
        std::string port = s.names().ifLabel(e.ifIndex);
        if (s.json())
            out.push_back({{"vsi", e.vsiName},
                           {"vsiIndex", e.vsiIndex},
                           {"isid", e.isid},
                           {"bvlan", e.bvlan},
                           {"bmac", proto::formatMac(e.bmac)},
                           {"ifIndex", e.ifIndex},
                           {"interface", port}});
        else
            rows.push_back({e.vsiName, std::to_string(e.isid), std::to_string(e.bvlan), proto::formatMac(e.bmac), port});
    }
    return {};
}

const std::vector<std::string> kUcHeader{"VSI", "I-SID", "B-VLAN", "B-MAC", "INTERFACE"};

void showLearned(const std::string& vsiWord, bool all)
{
    if (all == !vsiWord.empty()) throw Usage("show learned needs a VSI or --all");
    Session s;
    nlohmann::json learned = nlohmann::json::array();
    nlohmann::json vsis = nlohmann::json::array();
    nlohmann::json skipped = nlohmann::json::array();
    std::vector<std::vector<std::string>> rows;
    std::string note;
    // A VSI the daemon no longer knows is skipped, and the walk goes on.
    auto visit = [&](const proto::McMsg& m) {
        const size_t before = learned.size() + rows.size();
        nlohmann::json v = vsiJson(m);
        if (std::string why = walk(s, m, learned, rows); !why.empty()) {
            v["reason"] = why;
            skipped.push_back(v);
            if (!s.json())
                std::fprintf(stderr, "pbbctl: skipped VSI index %u (I-SID %u, B-VLAN %u): %s\n", m.vsiIndex, m.isid,
                             m.bvlan, why.c_str());
            return;
        }
        v["count"] = learned.size() + rows.size() - before;
        vsis.push_back(v);
    };
    if (all) {
        for (const auto& m : s.daemon().multicastWalk()) visit(m);
    } else if (auto m = mcOf(s, vsiWord)) {
        visit(*m);
    } else {
        note = vsiWord + " is not active (no B-VLAN, or no uplink): nothing learned\n";
    }
    std::string text = note + table(kUcHeader, rows);
    if (!rows.empty()) text += std::to_string(rows.size()) + " learned entr" + (rows.size() == 1 ? "y" : "ies") + "\n";
    printShown(s, text, {{"vsis", vsis}, {"skipped", skipped}, {"learned", learned}, {"count", learned.size()}});
}

Registrar regShow([](CLI::App& app) {
    auto vsi = std::make_shared<std::string>();
    auto all = std::make_shared<bool>(false);
    auto* show = app.add_subcommand("show", "Show the daemon's multicast entries and learned unicast entries");
    show->require_subcommand(1);
    show->footer("Examples:\n  pbbctl show mc\n  pbbctl show mc vsi-red\n  pbbctl show learned vsi-red\n"
                 "  pbbctl show learned --all --json");
    auto* mc = show->add_subcommand("mc", "The multicast entry of a VSI (default: of every active VSI) and its ports");
    mc->add_option("vsi", *vsi, "The VSI (name or index)");
    mc->callback([vsi] { showMc(*vsi); });
    auto* learned = show->add_subcommand("learned", "The unicast entries learned in a VSI, or in every active VSI");
    auto* v = learned->add_option("vsi", *vsi, "The VSI (name or index)");
    learned->add_flag("--all", *all, "Every active VSI")->excludes(v);
    learned->callback([vsi, all] { showLearned(*vsi, *all); });
});

}  // namespace
