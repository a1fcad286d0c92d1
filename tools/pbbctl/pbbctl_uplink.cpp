// pbbctl uplink add|delete|all: which interfaces face the backbone, per VSI
// or for every VSI at once.
#include "tools/pbbctl/pbbctl_session.h"

namespace {

using namespace pbbctl;

// The daemon rolls back a failed addition with a list of ten names; a
// longer list would not be undone whole.
constexpr size_t kNamesPerRequest = 10;

struct UplinkOptions {
    std::string ifWord;
    std::vector<std::string> vsis;
    std::string state;
};

// `done` is what the request made when only its record could not be saved.
[[noreturn]] void refusedUplink(Session& s, uint32_t code, const IfName& i, const std::string& failed,
                                const std::string& done)
{
    if (code == proto::kPbbNotSupported) refused(s, code, "interface " + i.name + " does not support PBB");
    if (code == proto::kUplinkOfAll)
        refused(s, code,
                i.name + " is an uplink of every VSI: delete it with 'pbbctl uplink all " + i.name + " off'");
    if (code == proto::kNotSaved)
        refused(s, code,
                done + ", but the daemon could not save that in its configuration database (see its log): it is "
                "undone when the daemon restarts unless this command is repeated once the database can be written "
                "(code " + codeHex(code) + ")");
    refused(s, code, failed + " (code " + codeHex(code) + ")");
}

void perVsi(const UplinkOptions& o, bool add)
{
    if (o.vsis.size() > kNamesPerRequest)
        throw Usage("at most " + std::to_string(kNamesPerRequest) + " VSIs in one command");
    Session s;
    IfName i = s.names().interface(o.ifWord);
    std::vector<std::string> names;
    nlohmann::json vsis = nlohmann::json::array();
    for (const auto& w : o.vsis) {
        names.push_back(s.vsiFor(w, std::nullopt).name);
        vsis.push_back(names.back());
    }
    uint32_t code = s.daemon().call(proto::kUplinkVsi,
                                    proto::uplinkReq(add ? proto::kUplinkAdd : proto::kUplinkDelete, i.ifIndex, names));
    std::string list;
    for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
    const std::string done = i.name + (add ? " is an uplink of " : " is no longer an uplink of ") + list;
    if (code != proto::kOk)
        refusedUplink(s, code, i,
                      "the daemon could not " + std::string(add ? "add " : "delete ") + i.name + " as an uplink of " +
                          list +
                          (add ? " (out of resources, or the switch did not put it into PBB mode: nothing was "
                                 "changed; or, while the interface is not present, the configuration database "
                                 "refused its record: repeat the command)"
                               : " (while the interface is not present, the configuration database refused the "
                                 "change: repeat the command)"),
                      done);
    printDone(s, done, {{"interface", i.name}, {"ifIndex", i.ifIndex}, {"vsis", vsis}});
}

void allVsis(const UplinkOptions& o)
{
    if (o.state != "on" && o.state != "off") throw Usage("uplink all takes on or off, not '" + o.state + "'");
    bool on = o.state == "on";
    Session s;
    IfName i = s.names().interface(o.ifWord);
    uint32_t code =
        s.daemon().call(proto::kUplinkAll, proto::uplinkAllReq(on ? proto::kUplinkAdd : proto::kUplinkDelete, i.ifIndex));
    const std::string done = on ? i.name + " is an uplink of every VSI" : i.name + " is no longer an uplink of any VSI";
    if (code != proto::kOk)
        refusedUplink(s, code, i,
                      on ? "the daemon could not make " + i.name +
                               " an uplink of every VSI (out of resources, or the switch did not put it into PBB "
                               "mode; or, while the interface is not present, the configuration database refused "
                               "its record: repeat the command)"
                         : "the daemon took " + i.name + " out of every VSI but could not delete all of its records "
                           "(the configuration database or the interface manager refused a step); repeat the "
                           "command",
                      done);
    printDone(s, done, {{"interface", i.name}, {"ifIndex", i.ifIndex}, {"all", on}});
}

Registrar regUplink([](CLI::App& app) {
    auto o = std::make_shared<UplinkOptions>();
    auto* up = app.add_subcommand("uplink", "Make an interface an uplink (backbone side) of VSIs, or stop it");
    up->require_subcommand(1);
    up->footer("Interfaces by name (eth-1/0/1, agg-1) or ifIndex, VSIs by name or index.\n"
               "Examples:\n  pbbctl uplink add eth-1/0/1 vsi-red vsi-green\n"
               "  pbbctl uplink delete eth-1/0/1 vsi-green\n  pbbctl uplink all agg-1 on\n"
               "  pbbctl uplink all agg-1 off");
    auto* add = up->add_subcommand("add", "Make the interface an uplink of the VSIs (at most 10 at once)");
    add->add_option("interface", o->ifWord, "The interface")->required();
    add->add_option("vsi", o->vsis, "The VSIs")->required();
    add->callback([o] { perVsi(*o, true); });
    auto* del = up->add_subcommand("delete", "Stop the interface being an uplink of the VSIs (at most 10 at once)");
    del->add_option("interface", o->ifWord, "The interface")->required();
    del->add_option("vsi", o->vsis, "The VSIs")->required();
    del->callback([o] { perVsi(*o, false); });
    auto* all = up->add_subcommand("all", "on: the interface is an uplink of every VSI; off: of none");
    all->add_option("interface", o->ifWord, "The interface")->required();
    all->add_option("state", o->state, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
    all->callback([o] { allVsis(*o); });
});

}  // namespace
