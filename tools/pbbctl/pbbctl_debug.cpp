// pbbctl debug set|clear|show: the daemon's debug switches (error, event,
// pkt), which choose the debug lines it writes to the log.
#include <cstdio>

#include "tools/pbbctl/pbbctl_session.h"

namespace {

using namespace pbbctl;

struct Switch {
    const char* name;
    uint32_t bit;
};
constexpr Switch kSwitches[] = {{"error", 0x1}, {"event", 0x2}, {"pkt", 0x4}};

uint32_t maskOf(const std::vector<std::string>& words)
{
    uint32_t mask = 0;
    for (const auto& w : words) {
        bool found = false;
        for (const auto& s : kSwitches)
            if (w == s.name) mask |= s.bit, found = true;
        if (w == "all") mask |= 0x7, found = true;
        if (!found) throw Usage("debug switch '" + w + "' is not error, event, pkt or all");
    }
    return mask;
}

void show(Session& s, uint32_t word, const std::string& head)
{
    nlohmann::json j{{"word", word}, {"wordHex", codeHex(word)}};
    std::vector<std::vector<std::string>> rows;
    for (const auto& sw : kSwitches) {
        j[sw.name] = (word & sw.bit) != 0;
        rows.push_back({sw.name, (word & sw.bit) ? "on" : "off"});
    }
    printShown(s, head + table({"SWITCH", "STATE"}, rows), j);
}

void change(uint16_t op, const std::vector<std::string>& words)
{
    uint32_t mask = maskOf(words);
    Session s;
    uint32_t code = s.daemon().call(proto::kSetDebug, proto::debugReq(op, mask));
    if (code != proto::kOk) refused(s, code, "the daemon refused to change its debug switches (code " + codeHex(code) + ")");
    show(s, s.daemon().debugWord(), "");
}

Registrar regDebug([](CLI::App& app) {
    auto* dbg = app.add_subcommand("debug", "Turn the daemon's debug lines on and off, and show which are on");
    dbg->require_subcommand(1);
    dbg->footer("Examples:\n  pbbctl debug set event pkt\n  pbbctl debug clear all\n  pbbctl debug show --json");
    auto words = std::make_shared<std::vector<std::string>>();
    auto* set = dbg->add_subcommand("set", "Turn debug switches on (error, event, pkt, all)");
    set->add_option("switch", *words, "error, event, pkt or all")->required();
    set->callback([words] { change(proto::kDebugSet, *words); });
    auto* clear = dbg->add_subcommand("clear", "Turn debug switches off (error, event, pkt, all)");
    clear->add_option("switch", *words, "error, event, pkt or all")->required();
    clear->callback([words] { change(proto::kDebugClear, *words); });
    dbg->add_subcommand("show", "Show which debug switches are on")->callback([] {
        Session s;
        show(s, s.daemon().debugWord(), "");
    });
});

}  // namespace
