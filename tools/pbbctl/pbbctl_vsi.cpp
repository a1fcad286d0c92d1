// pbbctl bvlan set|reset and encap set|reset: a PBB VSI's backbone VLAN and
// encapsulation type. The daemon checks the VSI's name and I-SID against
// the L2VPN module; pbbctl takes the I-SID from the switch unless --isid
// gives it.
#include <optional>

#include "tools/pbbctl/pbbctl_session.h"

namespace {

using namespace pbbctl;

struct VsiOptions {
    std::string vsi;
    std::string value;
    std::optional<uint32_t> isid;
};

VsiName pbbVsi(Session& s, const VsiOptions& o)
{
    VsiName v = s.vsiFor(o.vsi, o.isid);
    if (v.isid == 0) throw Usage("VSI " + v.name + " has no I-SID: it is not a PBB VSI");
    return v;
}

// The daemon answers 0x40010001 when the L2VPN module does not report the
// VSI with this I-SID or the daemon could not make its record (nothing was
// changed), when the switch refused an encapsulation type (nothing was
// changed either), or when it did not take a B-VLAN's multicast entry (the
// B-VLAN is kept).
[[noreturn]] void refusedVsi(Session& s, uint32_t code, const VsiName& v, const std::string& what,
                             const char* alsoWhen = "")
{
    refused(s, code,
            "the daemon refused " + what + " of " + v.name + " (I-SID " + std::to_string(v.isid) +
                "): the L2VPN module does not report that VSI with that I-SID" + alsoWhen +
                ", or the daemon is out of resources (code " + codeHex(code) + ")");
}

nlohmann::json vsiJson(const VsiName& v) { return {{"vsi", v.name}, {"isid", v.isid}}; }

// Made, but the configuration database refused the record: said, exit 1.
[[noreturn]] void notSaved(Session& s, const VsiName& v, const std::string& what)
{
    refused(s, proto::kNotSaved,
            v.name + ": " + what + " is in effect, but the daemon could not save it in its configuration database "
            "(see its log): it is lost when the daemon restarts unless this command is repeated once the database "
            "can be written (code " + codeHex(proto::kNotSaved) + ")");
}

void setBvlan(const VsiOptions& o, bool reset)
{
    uint32_t bvlan = reset ? 0 : parseNumber(o.value, "B-VLAN", 1, proto::kVlanMax);
    Session s;
    VsiName v = pbbVsi(s, o);
    uint32_t code = s.daemon().call(proto::kSetBvlan,
                                    proto::setReq(reset ? proto::kValueReset : proto::kValueSet, bvlan, v.isid, v.name));
    if (code == proto::kNotSaved) notSaved(s, v, reset ? "no B-VLAN" : "B-VLAN " + std::to_string(bvlan));
    if (code != proto::kOk)
        refusedVsi(s, code, v, reset ? "to remove the B-VLAN" : "B-VLAN " + o.value,
                   reset ? "" : ", the switch did not take the VSI's multicast entry or a port of it (the B-VLAN "
                                "is kept: repeat the command to program what is missing)");
    nlohmann::json j = vsiJson(v);
    j["bvlan"] = reset ? nlohmann::json(nullptr) : nlohmann::json(bvlan);
    printDone(s, reset ? v.name + ": no B-VLAN (inactive)" : v.name + ": B-VLAN " + std::to_string(bvlan), j);
}

void setEncap(const VsiOptions& o, bool reset)
{
    uint32_t type = reset ? 2 : parseNumber(o.value, "encapsulation type", 0, 0xFFFFFFFF);
    Session s;
    VsiName v = pbbVsi(s, o);
    uint32_t code = s.daemon().call(proto::kSetEncap,
                                    proto::setReq(reset ? proto::kValueReset : proto::kValueSet, type, v.isid, v.name));
    if (code == proto::kNotSaved) notSaved(s, v, "encapsulation type " + std::to_string(type));
    if (code != proto::kOk)
        refusedVsi(s, code, v, reset ? "the default encapsulation" : "encapsulation type " + o.value,
                   ", the switch refused the type (the VSI keeps its type)");
    nlohmann::json j = vsiJson(v);
    j["encap"] = type;
    printDone(s, v.name + ": encapsulation type " + std::to_string(type) + (reset ? " (default)" : ""), j);
}

void addIsid(CLI::App* cmd, std::shared_ptr<VsiOptions> o)
{
    cmd->add_option("vsi", o->vsi, "The VSI: its name (vsi-red) or index")->required();
    cmd->add_option("--isid", o->isid, "The VSI's I-SID (default: as the switch reports it)")
        ->check(CLI::Range(1u, 0xFFFFFFu));
}

Registrar regVsi([](CLI::App& app) {
    auto o = std::make_shared<VsiOptions>();
    auto* bvlan = app.add_subcommand("bvlan", "Give a PBB VSI its backbone VLAN, or take it away");
    bvlan->require_subcommand(1);
    bvlan->footer("Examples:\n  pbbctl bvlan set vsi-red 100\n  pbbctl bvlan set vsi-red 100 --isid 10010\n"
                  "  pbbctl bvlan reset vsi-red");
    auto* set = bvlan->add_subcommand("set", "Set the VSI's B-VLAN (activates the VSI)");
    addIsid(set, o);
    set->add_option("bvlan", o->value, "B-VLAN, 1 to 4094")->required();
    set->callback([o] { setBvlan(*o, false); });
    auto* reset = bvlan->add_subcommand("reset", "Remove the VSI's B-VLAN (deactivates it, withdraws what it learned)");
    addIsid(reset, o);
    reset->callback([o] { setBvlan(*o, true); });

    auto* encap = app.add_subcommand("encap", "Set a PBB VSI's encapsulation type, or go back to the default (2)");
    encap->require_subcommand(1);
    encap->footer("Examples:\n  pbbctl encap set vsi-red 3\n  pbbctl encap reset vsi-red");
    auto* eset = encap->add_subcommand("set", "Set the VSI's encapsulation type code");
    addIsid(eset, o);
    eset->add_option("type", o->value, "The encapsulation type code handed to the forwarding driver")->required();
    eset->callback([o] { setEncap(*o, false); });
    auto* ereset = encap->add_subcommand("reset", "Back to the default encapsulation type (2)");
    addIsid(ereset, o);
    ereset->callback([o] { setEncap(*o, true); });
});

}  // namespace
