// pbbctl reset learned: withdraws learned unicast entries from the switch,
// the daemon's tables and its saved state, selected by VSI or by B-VLANs,
// on the interfaces given (every interface of the switch when none is).
#include "tools/pbbctl/pbbctl_session.h"

namespace {

using namespace pbbctl;

struct ResetOptions {
    std::string vsi;
    std::string bvlans;
    std::vector<std::string> ifs;
};

void resetLearned(const ResetOptions& o)
{
    if (o.vsi.empty() == o.bvlans.empty()) throw Usage("reset learned needs either --vsi or --bvlan");
    // With a VSI the daemon still wants its B-VLAN in the set: every B-VLAN is.
    std::set<uint16_t> bvlans;
    if (!o.bvlans.empty()) {
        bvlans = parseVlanList(o.bvlans);
    } else {
        for (uint32_t v = 1; v <= proto::kVlanMax; ++v) bvlans.insert(static_cast<uint16_t>(v));
    }
    Session s;
    std::string vsiName;
    if (!o.vsi.empty()) vsiName = s.vsiFor(o.vsi, std::nullopt).name;
    std::vector<IfName> ifs;
    for (const auto& w : o.ifs) ifs.push_back(s.names().interface(w));
    // No interface given: all of them. An empty list would leave the
    // daemon's saved entries and its tables out of step.
    if (ifs.empty()) ifs = s.names().interfaces();
    if (ifs.empty()) throw Usage("the switch has no interfaces");

    nlohmann::json names = nlohmann::json::array();
    std::vector<uint32_t> all;
    for (const auto& i : ifs) {
        all.push_back(i.ifIndex);
        names.push_back(i.name);
    }
    size_t requests = 0;
    for (size_t at = 0; at < all.size(); at += proto::kResetIfMax) {
        std::vector<uint32_t> part(all.begin() + static_cast<std::ptrdiff_t>(at),
                                   all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), at + proto::kResetIfMax)));
        uint32_t code = s.daemon().call(proto::kResetLearned, proto::resetReq(bvlans, part, vsiName));
        ++requests;
        if (code != proto::kOk) {
            // Requests before this one were served.
            const std::string done = at == 0 ? "nothing was withdrawn"
                                             : "the entries on the first " + std::to_string(at) +
                                                   " interface(s) were withdrawn, the others' were not";
            refused(s, code,
                    (vsiName.empty() ? "the daemon refused to withdraw the learned entries of B-VLANs " + o.bvlans
                                     : "the daemon has no active PBB VSI named " + vsiName +
                                           " (unknown to it, or without a B-VLAN)") +
                        "; " + done + " (code " + codeHex(code) + ")");
        }
    }
    std::string what = vsiName.empty() ? "B-VLANs " + o.bvlans : vsiName;
    nlohmann::json j{{"interfaces", names}, {"requests", requests}};
    if (!vsiName.empty()) j["vsi"] = vsiName;
    else j["bvlans"] = o.bvlans;
    printDone(s, "learned entries of " + what + " on " + std::to_string(ifs.size()) + " interface(s) withdrawn", j);
}

Registrar regReset([](CLI::App& app) {
    auto o = std::make_shared<ResetOptions>();
    auto* reset = app.add_subcommand("reset", "Withdraw learned entries");
    reset->require_subcommand(1);
    auto* learned = reset->add_subcommand(
        "learned", "Withdraw learned unicast entries of a VSI, or of B-VLANs, on the interfaces (default: all)");
    auto* vsi = learned->add_option("--vsi", o->vsi, "Entries of this VSI (name or index)");
    learned->add_option("--bvlan", o->bvlans, "Entries of these B-VLANs, in every VSI (100,200-210)")->excludes(vsi);
    learned->add_option("interface", o->ifs, "Only entries learned on these interfaces");
    learned->footer("Examples:\n  pbbctl reset learned --vsi vsi-red\n  pbbctl reset learned --vsi vsi-red eth-1/0/1\n"
                    "  pbbctl reset learned --bvlan 100,102-105 eth-1/0/1 eth-2/0/1");
    learned->callback([o] { resetLearned(*o); });
});

}  // namespace
