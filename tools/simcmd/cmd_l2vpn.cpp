// The L2VPN module: VSIs, limits, disabling.
#include <algorithm>

#include "tools/simcmd/command.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;


uint32_t parseIsid(const std::string& w) { return static_cast<uint32_t>(parseUnsigned(w, "I-SID", 0, 0xFFFFFF)); }

Outcome vsiAdd(Context& c, const Words& w)
{
    Args a(w, 2, "vsi add <index> <name> <isid|0> [--down]", {{"--down", false}});
    a.expect(3);
    uint32_t max = c.model.maxVsiNum();
    auto index = static_cast<uint32_t>(parseUnsigned(a[0], "VSI index", 0, max - 1));
    const std::string& name = a[1];
    if (name.empty() || name.size() >= L2VPN_VSI_NAME_LEN)
        throw BadInput("VSI name " + q(name) + " must have 1 to " + std::to_string(L2VPN_VSI_NAME_LEN - 1) +
                       " characters");
    if (std::all_of(name.begin(), name.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        throw BadInput("VSI name " + q(name) + " is all digits: it would read as an index");
    if (name.find_first_of("\"'") != std::string::npos) throw BadInput("VSI name " + q(name) + " holds a quote character");
    if (const sim::Vsi* other = c.model.findVsiByName(name); other != nullptr && other->index != index)
        throw BadInput("VSI name " + q(name) + " is in use by VSI " + std::to_string(other->index));
    uint32_t isid = parseIsid(a[2]);
    bool again = c.model.findVsi(index) != nullptr;
    c.model.addVsi(index, name, isid, a.flag("--down"));
    return done(c, "VSI " + a[0] + " " + name + (again ? " announced again" : " added"), {{"index", index}});
}

Outcome vsiIsid(Context& c, const Words& w)
{
    Args a(w, 2, "vsi isid <vsi> <isid|0>");
    a.expect(2);
    uint32_t index = resolveVsi(c.model, a[0]);
    uint32_t isid = parseIsid(a[1]);
    c.model.setVsiIsid(index, isid);
    return done(c, "VSI " + a[0] + " I-SID " + std::to_string(isid));
}

Outcome vsiState(Context& c, const Words& w, bool down)
{
    Args a(w, 2, std::string("vsi ") + (down ? "down" : "up") + " <vsi>");
    a.expect(1);
    uint32_t index = resolveVsi(c.model, a[0]);
    c.model.setVsiDown(index, down);
    return done(c, "VSI " + a[0] + (down ? " down" : " up"));
}

Outcome vsiDel(Context& c, const Words& w)
{
    Args a(w, 2, "vsi del <vsi>");
    a.expect(1);
    uint32_t index = resolveVsi(c.model, a[0]);
    c.model.deleteVsi(index);
    return done(c, "VSI " + a[0] + " deleted", {{"index", index}});
}

Outcome l2vpnDisable(Context& c, const Words& w)
{
    Args a(w, 2, "l2vpn disable");
    a.expect(0);
    c.model.disableL2vpn();
    return done(c, "L2VPN disabled: every VSI removed");
}

Outcome l2vpnLimits(Context& c, const Words& w)
{
    Args a(w, 2, "l2vpn limits [--total N] [--per-vsi N] [--shared on|off]",
           {{"--total", true}, {"--per-vsi", true}, {"--shared", true}});
    a.expect(0);
    sim::FibSpec spec = c.model.fibSpec();
    bool any = false;
    if (auto v = a.value("--total")) spec.maxPwNum = static_cast<uint32_t>(parseUnsigned(*v, "--total", 1, 0xFFFFFFFF)), any = true;
    if (auto v = a.value("--per-vsi"))
        spec.maxPwPerVsi = static_cast<uint32_t>(parseUnsigned(*v, "--per-vsi", 1, 0xFFFFFFFF)), any = true;
    if (auto v = a.value("--shared")) spec.shareVsi = parseOnOff(*v, "--shared"), any = true;
    if (!any) throw BadInput("l2vpn limits needs --total, --per-vsi or --shared");
    c.model.setFibSpec(spec);
    return done(c, "forwarding limits: " + std::to_string(spec.maxPwNum) + " unicast entries, " +
                       std::to_string(spec.maxPwPerVsi) + " per VSI, VSIs " + (spec.shareVsi ? "shared" : "not shared"));
}

Outcome l2vpnMaxVsi(Context& c, const Words& w)
{
    Args a(w, 2, "l2vpn max-vsi <count>");
    a.expect(1);
    auto n = static_cast<uint32_t>(parseUnsigned(a[0], "VSI count", 1, 0xFFFFFFFF));
    const auto& vsis = c.model.vsis();
    if (!vsis.empty() && vsis.rbegin()->first >= n)
        throw BadInput("VSI count " + a[0] + " does not hold VSI " + std::to_string(vsis.rbegin()->first));
    c.model.setMaxVsiNum(n);
    return done(c, "VSI count " + a[0]);
}

}  // namespace

std::vector<CommandSpec> l2vpnCommands()
{
    return {
        {"vsi", "add", "vsi add <index> <name> <isid|0> [--down]",
         "a VSI (I-SID 0: not a PBB VSI): vsi_add; adding an existing index announces it again", vsiAdd},
        {"vsi", "isid", "vsi isid <vsi> <isid|0>", "the VSI's I-SID changes: event 3", vsiIsid},
        {"vsi", "up", "vsi up <vsi>", "the VSI is administratively up: event 4",
         [](Context& c, const Words& w) { return vsiState(c, w, false); }},
        {"vsi", "down", "vsi down <vsi>", "the VSI is administratively down: event 4 with flag 0x8",
         [](Context& c, const Words& w) { return vsiState(c, w, true); }},
        {"vsi", "del", "vsi del <vsi>", "the VSI and its forwarding state go: event 1", vsiDel},
        {"l2vpn", "disable", "l2vpn disable", "every VSI and its forwarding state go: one event 64", l2vpnDisable},
        {"l2vpn", "limits", "l2vpn limits [--total N] [--per-vsi N] [--shared on|off]",
         "the forwarding plane's unicast capacity (default 8192 in all, 1024 per VSI, not shared)", l2vpnLimits},
        {"l2vpn", "max-vsi", "l2vpn max-vsi <count>", "the number of VSI indexes (default 1024)", l2vpnMaxVsi},
    };
}

}  // namespace simcmd
