// pbbctl show mc|learned: the daemon's multicast entries and the unicast
// entries it learned, read with the stateless walks of its server.
#include "tools/pbbctl_session.h"

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
// every step of the walk.
void walk(Session& s, const proto::McMsg& m, nlohmann::json& out, std::vector<std::vector<std::string>>& rows)
{
    proto::UcMsg key;
    key.vsiIndex = m.vsiIndex;
    key.isid = m.isid;
    key.bvlan = m.bvlan;
    key.vsiName = m.vsiName;
    // Only what is printed is built: a walk may hold tens of thousands of entries.
    for (const auto& e : s.daemon().learnedWalk(key)) {
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
}

const std::vector<std::string> kUcHeader{"VSI", "I-SID", "B-VLAN", "B-MAC", "INTERFACE"};

void showLearned(const std::string& vsiWord, bool all)
{
    if (all == !vsiWord.empty()) throw Usage("show learned needs a VSI or --all");
    Session s;
    nlohmann::json learned = nlohmann::json::array();
    nlohmann::json vsis = nlohmann::json::array();
    std::vector<std::vector<std::string>> rows;
    std::string note;
    if (all) {
        for (const auto& m : s.daemon().multicastWalk()) {
            size_t before = learned.size() + rows.size();
            walk(s, m, learned, rows);
            vsis.push_back(vsiJson(m));
            vsis.back()["count"] = learned.size() + rows.size() - before;
        }
    } else if (auto m = mcOf(s, vsiWord)) {
        walk(s, *m, learned, rows);
        vsis.push_back(vsiJson(*m));
        vsis.back()["count"] = learned.size() + rows.size();
    } else {
        note = vsiWord + " is not active (no B-VLAN, or no uplink): nothing learned\n";
    }
    std::string text = note + table(kUcHeader, rows);
    if (!rows.empty()) text += std::to_string(rows.size()) + " learned entr" + (rows.size() == 1 ? "y" : "ies") + "\n";
    printShown(s, text, {{"vsis", vsis}, {"learned", learned}, {"count", learned.size()}});
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
