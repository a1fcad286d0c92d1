// pbbctl show mc|learned: the daemon's multicast entries and the unicast
// entries it learned, read with the stateless walks of its server.
#include "tools/pbbctl/pbbctl_listing.h"
#include "tools/pbbctl/pbbctl_session.h"
#include "tools/pbbctl/pbbctl_walk.h"

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

// Why a VSI's walk is skipped, from what ended it: empty when it was
// walked. got: the entries it handed on.
std::string skipReason(uint32_t end, size_t got)
{
    // Refused after the first step: the VSI went while it was read, and its
    // learned entries with it.
    if (end == proto::kFailed && got > 0) return "the daemon removed the VSI while its entries were read";
    return {};
}

// Walks the learned entries of the VSIs into the listing, side by side on
// one connection; the VSIs' identities come from their multicast answers,
// since the daemon wants index, I-SID and B-VLAN with every step. A VSI
// the daemon no longer knows is skipped, and the walk goes on.
void walk(Session& s, const std::vector<proto::McMsg>& vsis, LearnedListing& out)
{
    auto skip = [&](const proto::McMsg& m, const std::string& why) {
        out.skipped(m, why);
        if (!s.json())
            std::fprintf(stderr, "pbbctl: skipped VSI index %u (I-SID %u, B-VLAN %u): %s\n", m.vsiIndex, m.isid,
                         m.bvlan, why.c_str());
    };
    // The multicast entry of a VSI removed at a batch end stays in the
    // daemon's table, answered without a VSI name: nothing to walk.
    std::vector<proto::UcMsg> keys;
    std::vector<size_t> of;  // keys[k] walks vsis[of[k]]
    for (size_t i = 0; i < vsis.size(); ++i) {
        if (vsis[i].vsiName.empty()) continue;
        keys.push_back({vsis[i].vsiIndex, vsis[i].isid, vsis[i].bvlan, {}, 0, vsis[i].vsiName});
        of.push_back(i);
    }
    // The listing takes the VSIs in order: those not walked in their place.
    size_t listed = 0;
    auto upTo = [&](size_t i) {
        for (; listed < i; ++listed) skip(vsis[listed], "the daemon no longer knows the VSI (its multicast entry is kept)");
    };
    size_t got = 0;
    LearnedWalk::run(
        s.daemon(), keys,
        [&](size_t k, const proto::UcMsg& e) {
            upTo(of[k]);
            out.entry(e);
            ++got;
        },
        [&](size_t k, uint32_t end) {
            upTo(of[k]);
            if (std::string why = skipReason(end, got); !why.empty()) skip(vsis[of[k]], why);
            else out.walked(vsis[of[k]]);
            ++listed;
            got = 0;
        });
    upTo(vsis.size());
}

const std::vector<std::string> kUcHeader{"VSI", "I-SID", "B-VLAN", "B-MAC", "INTERFACE"};

void showLearned(const std::string& vsiWord, bool all)
{
    if (all == !vsiWord.empty()) throw Usage("show learned needs a VSI or --all");
    Session s;
    LearnedListing listing(s.json(), [&s](uint32_t ifIndex) { return s.names().ifLabel(ifIndex); });
    std::string note;
    if (all) {
        walk(s, s.daemon().multicastWalk(), listing);
    } else if (auto m = mcOf(s, vsiWord)) {
        walk(s, {*m}, listing);
    } else {
        note = vsiWord + " is not active (no B-VLAN, or no uplink): nothing learned\n";
    }
    if (s.json()) {
        const std::string doc = listing.json();
        std::fwrite(doc.data(), 1, doc.size(), stdout);
        std::fputc('\n', stdout);
        return;
    }
    const auto& rows = listing.rows();
    std::string text = note + table(kUcHeader, rows);
    if (!rows.empty()) text += std::to_string(rows.size()) + " learned entr" + (rows.size() == 1 ? "y" : "ies") + "\n";
    std::fputs(text.c_str(), stdout);
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
