// Slots, ports, aggregates, links, interface states, VLANs, spanning tree
// and services.
#include <algorithm>

#include "tools/simcmd/command.h"
#include "tools/simcmd/names.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;
using J = nlohmann::json;


void checkNewName(const sim::SwitchModel& m, const std::string& name, size_t maxLen, const std::string& what)
{
    if (name.empty() || name.size() > maxLen)
        throw BadInput(what + " name " + q(name) + " must have 1 to " + std::to_string(maxLen) + " characters");
    if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw BadInput(what + " name " + q(name) + " is all digits: it would read as an index");
    if (name.find_first_of("\"'") != std::string::npos)
        throw BadInput(what + " name " + q(name) + " holds a quote character");
    if (what == "interface" && m.ifIndexByName(name) != 0) throw BadInput("interface name " + q(name) + " is in use");
}

uint32_t newIfIndex(const sim::SwitchModel& m, const Args& a)
{
    auto v = a.value("--ifindex");
    if (!v) return 0;
    auto i = static_cast<uint32_t>(parseUnsigned(*v, "--ifindex", 1, 0xFFFFFFFE));
    if (m.findIf(i) != nullptr) throw BadInput("--ifindex " + *v + " is in use by " + ifLabel(m, i));
    return i;
}

// ---- slots ----

Outcome slotRange(Context& c, const Words& w)
{
    Args a(w, 2, "slot range <min> <max>");
    a.expect(2);
    auto lo = static_cast<uint16_t>(parseUnsigned(a[0], "slot range minimum", 0, 0xFFFF));
    auto hi = static_cast<uint16_t>(parseUnsigned(a[1], "slot range maximum", 0, 0xFFFF));
    if (lo > hi) throw BadInput("slot range " + a[0] + " to " + a[1] + " runs backwards");
    for (const auto& [n, s] : c.model.slots())
        if (n < lo || n > hi)
            throw BadInput("slot range " + a[0] + " to " + a[1] + " leaves out configured slot " + std::to_string(n));
    c.model.setSlotRange(lo, hi);
    return done(c, "slot range " + std::to_string(lo) + " to " + std::to_string(hi));
}

Outcome slotAdd(Context& c, const Words& w)
{
    Args a(w, 2, "slot add <n> [--minm] [--absent] [--fault]", {{"--minm", false}, {"--absent", false}, {"--fault", false}});
    a.expect(1);
    auto n = static_cast<uint16_t>(parseUnsigned(a[0], "slot", 0, 0xFFFF));
    sim::SlotRange r = c.model.slotRange();
    if (n < r.min || n > r.max)
        throw BadInput("slot " + a[0] + " is outside the slot range " + std::to_string(r.min) + " to " +
                       std::to_string(r.max));
    if (c.model.findSlot(n) != nullptr) throw BadInput("slot " + a[0] + " is already configured");
    c.model.addSlot(n, {.present = !a.flag("--absent"), .normal = !a.flag("--fault"), .minm = a.flag("--minm")});
    return done(c, "slot " + a[0] + " added", {{"slot", n}});
}

Outcome slotBoard(Context& c, const Words& w, bool insert)
{
    Args a(w, 2, std::string("slot ") + (insert ? "insert" : "remove") + " <n>");
    a.expect(1);
    uint16_t n = resolveSlot(c.model, a[0]);
    if (c.model.findSlot(n)->present == insert) return done(c, "slot " + a[0] + ": no change");
    if (insert) c.model.insertBoard(n);
    else c.model.removeBoard(n);
    return done(c, "slot " + a[0] + (insert ? ": board inserted" : ": board removed"));
}

Outcome slotHealth(Context& c, const Words& w, bool normal)
{
    Args a(w, 2, std::string("slot ") + (normal ? "normal" : "fault") + " <n>");
    a.expect(1);
    uint16_t n = resolveSlot(c.model, a[0]);
    c.model.setSlotNormal(n, normal);
    return done(c, "slot " + a[0] + (normal ? " works normally" : " is faulty"));
}

// ---- interfaces ----

Outcome portAdd(Context& c, const Words& w)
{
    Args a(w, 2, "port add <name> <slot> [--type ge|xge|fe|25ge|40ge|100ge|N] [--ifindex N] [--down]",
           {{"--type", true}, {"--ifindex", true}, {"--down", false}});
    a.expect(2);
    checkNewName(c.model, a[0], IF_NAME_BUF_LEN - 1, "interface");
    uint16_t slot = resolveSlot(c.model, a[1]);
    uint32_t type = IF_TYPE_GE;
    if (auto t = a.value("--type")) {
        type = parsePortType(*t);
        if (type == IF_TYPE_AGG) throw BadInput("--type " + *t + " is the aggregate type: use 'agg add'");
    }
    uint32_t ifIndex = newIfIndex(c.model, a);
    uint32_t got = c.model.addPort(a[0], slot, {.type = type, .ifIndex = ifIndex, .linkUp = !a.flag("--down")});
    return done(c, "port " + a[0] + " added, ifIndex " + std::to_string(got), {{"ifIndex", got}});
}

Outcome aggAdd(Context& c, const Words& w)
{
    Args a(w, 2, "agg add <name> [--ifindex N]", {{"--ifindex", true}});
    a.expect(1);
    checkNewName(c.model, a[0], IF_NAME_BUF_LEN - 1, "interface");
    uint32_t got = c.model.addAggregate(a[0], newIfIndex(c.model, a));
    return done(c, "aggregate " + a[0] + " added, ifIndex " + std::to_string(got), {{"ifIndex", got}});
}

Outcome aggJoin(Context& c, const Words& w)
{
    Args a(w, 2, "agg join <aggregate> <port>");
    a.expect(2);
    uint32_t agg = resolveAggregate(c.model, a[0]);
    uint32_t port = resolvePort(c.model, a[1]);
    if (c.model.findIf(port)->aggregate == agg) return done(c, a[1] + " is already in " + a[0] + ": no change");
    c.model.joinAggregate(agg, port);
    return done(c, a[1] + " joined " + a[0]);
}

Outcome aggLeave(Context& c, const Words& w)
{
    Args a(w, 2, "agg leave <port>");
    a.expect(1);
    uint32_t port = resolvePort(c.model, a[0]);
    if (c.model.findIf(port)->aggregate == 0) return done(c, a[0] + " is in no aggregate: no change");
    c.model.leaveAggregate(port);
    return done(c, a[0] + " left its aggregate");
}

Outcome linkState(Context& c, const Words& w, bool up)
{
    Args a(w, 2, std::string("link ") + (up ? "up" : "down") + " <port>");
    a.expect(1);
    uint32_t port = resolvePort(c.model, a[0]);
    const sim::Interface* i = c.model.findIf(port);
    if (!i->active) throw BadInput("port " + q(a[0]) + " is inactive: its link cannot change (make it active first)");
    if (i->linkUp == up) return done(c, "link of " + a[0] + " already " + (up ? "up" : "down") + ": no change");
    c.model.setLink(port, up);
    return done(c, "link of " + a[0] + (up ? " up" : " down"));
}

Outcome ifActive(Context& c, const Words& w)
{
    Args a(w, 2, "if active <interface>");
    a.expect(1);
    uint32_t i = resolveIf(c.model, a[0]);
    const sim::Interface* ifc = c.model.findIf(i);
    if (ifc->active) return done(c, a[0] + " is already active: no change");
    if (!ifc->present) throw BadInput("interface " + q(a[0]) + " is temporary (its board is out): insert the board");
    c.model.activate(i);
    return done(c, a[0] + " active");
}

Outcome ifInactive(Context& c, const Words& w)
{
    Args a(w, 2, "if inactive <interface> [--discard]", {{"--discard", false}});
    a.expect(1);
    uint32_t i = resolveIf(c.model, a[0]);
    if (!c.model.findIf(i)->active) return done(c, a[0] + " is already inactive: no change");
    bool discard = a.flag("--discard");
    c.model.deactivate(i, discard ? 0 : IF_INACTIVE_PARK);
    return done(c, a[0] + " inactive, configuration " + (discard ? "discarded" : "parked"));
}

Outcome ifDelete(Context& c, const Words& w)
{
    Args a(w, 2, "if delete <interface>");
    a.expect(1);
    uint32_t i = resolveIf(c.model, a[0]);
    std::string name = ifLabel(c.model, i);
    c.model.deleteInterface(i);
    return done(c, name + " deleted", {{"ifIndex", i}});
}

// ---- VLANs and spanning tree ----

std::string vlanText(const std::set<uint16_t>& v) { return formatVlanList(v); }

Outcome vlanAccess(Context& c, const Words& w)
{
    Args a(w, 2, "vlan access <interface> <pvid>");
    a.expect(2);
    uint32_t i = resolveIf(c.model, a[0]);
    auto pvid = static_cast<uint16_t>(parseUnsigned(a[1], "pvid", 1, c.model.maxVlanId()));
    c.model.setAccess(i, pvid);
    return done(c, a[0] + " access VLAN " + std::to_string(pvid));
}

Outcome vlanTrunk(Context& c, const Words& w)
{
    Args a(w, 2, "vlan trunk <interface> <vlans like 10,20,100-110|none>");
    a.expect(2);
    uint32_t i = resolveIf(c.model, a[0]);
    auto vlans = parseVlanList(a[1], "VLAN list", c.model.maxVlanId());
    c.model.setVlans(i, vlans);
    return done(c, a[0] + " trunk VLANs " + vlanText(vlans));
}

Outcome vlanChange(Context& c, const Words& w, bool add)
{
    Args a(w, 2, std::string("vlan ") + (add ? "add" : "del") + " <interface> <vlans like 10,20,100-110>");
    a.expect(2);
    uint32_t i = resolveIf(c.model, a[0]);
    auto given = parseVlanList(a[1], "VLAN list", c.model.maxVlanId());
    if (given.empty()) throw BadInput("VLAN list " + q(a[1]) + " names no VLAN");
    std::set<uint16_t> now = c.model.findIf(i)->vlans;
    std::set<uint16_t> next = now;
    for (uint16_t v : given) {
        if (add) next.insert(v);
        else next.erase(v);
    }
    if (next == now) return done(c, a[0] + ": no change");
    c.model.setVlans(i, next);
    return done(c, a[0] + " trunk VLANs " + vlanText(next));
}

Outcome vlanMax(Context& c, const Words& w)
{
    Args a(w, 2, "vlan max <highest VLAN ID>");
    a.expect(1);
    auto v = static_cast<uint16_t>(parseUnsigned(a[0], "highest VLAN ID", 1, VLAN_ID_SET - 1));
    for (const auto& [ifIndex, ifc] : c.model.interfaces()) {
        bool above = (!ifc.vlans.empty() && *ifc.vlans.rbegin() > v) || (!ifc.stp.empty() && ifc.stp.rbegin()->first > v);
        if (above) throw BadInput("highest VLAN ID " + a[0] + " is below a VLAN that " + ifc.name + " uses");
    }
    c.model.setMaxVlanId(v);
    return done(c, "highest VLAN ID " + a[0]);
}

Outcome stpState(Context& c, const Words& w)
{
    Args a(w, 2, "stp state <interface> <vlans> forwarding|discarding|learning");
    a.expect(3);
    uint32_t i = resolveIf(c.model, a[0]);
    auto vlans = parseVlanList(a[1], "VLAN list", c.model.maxVlanId());
    if (vlans.empty()) throw BadInput("VLAN list " + q(a[1]) + " names no VLAN");
    uint16_t state = parseStpState(a[2]);
    for (uint16_t v : vlans) c.model.setStpState(i, v, state);
    return done(c, a[0] + " " + a[2] + " on VLANs " + vlanText(vlans));
}

Outcome stpTc(Context& c, const Words& w)
{
    Args a(w, 2, "stp tc [--vlans <vlans|none>] [--ifs <interfaces|none>]", {{"--vlans", true}, {"--ifs", true}});
    a.expect(0);
    std::optional<std::vector<uint16_t>> vlans;
    std::optional<std::vector<uint32_t>> ifs;
    if (auto v = a.value("--vlans")) {
        auto s = parseVlanList(*v, "--vlans", c.model.maxVlanId());
        vlans = std::vector<uint16_t>(s.begin(), s.end());
    }
    if (auto v = a.value("--ifs")) ifs = resolveIfList(c.model, *v, "interface in --ifs");
    std::string text = "topology change for " + std::string(vlans ? "VLANs " + a.value("--vlans").value() : "all VLANs") +
                       " on " + (ifs ? "interfaces " + a.value("--ifs").value() : "all interfaces");
    c.model.topologyChange(std::move(vlans), std::move(ifs));
    return done(c, text);
}

Outcome serviceState(Context& c, const Words& w, bool up)
{
    Args a(w, 2, std::string("service ") + (up ? "up" : "down") + " ifm|vlan|l2vpn|stp|packet");
    a.expect(1);
    sim::Service s = parseService(a[0]);
    if (c.model.serviceUp(s) == up) return done(c, "service " + a[0] + " already " + (up ? "up" : "down") + ": no change");
    c.model.setServiceUp(s, up);
    return done(c, "service " + a[0] + (up ? " back" : " gone"));
}

}  // namespace

std::vector<CommandSpec> switchCommands()
{
    using namespace std::placeholders;
    return {
        {"slot", "range", "slot range <min> <max>", "the slot numbers the switch has (default 1 to 16)", slotRange},
        {"slot", "add", "slot add <n> [--minm] [--absent] [--fault]",
         "configures a slot: MAC-in-MAC capable board, board out, board faulty; a present board sends slot insert",
         slotAdd},
        {"slot", "insert", "slot insert <n>", "board in: slot insert, then one active event for its ports",
         [](Context& c, const Words& w) { return slotBoard(c, w, true); }},
        {"slot", "remove", "slot remove <n>",
         "board out: its ports go link down and inactive (parked, one event each), then slot remove",
         [](Context& c, const Words& w) { return slotBoard(c, w, false); }},
        {"slot", "normal", "slot normal <n>", "the board works normally (device status 1)",
         [](Context& c, const Words& w) { return slotHealth(c, w, true); }},
        {"slot", "fault", "slot fault <n>", "the board is faulty (device status 2)",
         [](Context& c, const Words& w) { return slotHealth(c, w, false); }},
        {"port", "add", "port add <name> <slot> [--type ge|xge|fe|25ge|40ge|100ge|N] [--ifindex N] [--down]",
         "a port on a slot: active and link up (unless --down) when the board is in", portAdd},
        {"agg", "add", "agg add <name> [--ifindex N]", "an aggregate interface: active", aggAdd},
        {"agg", "join", "agg join <aggregate> <port>",
         "the port joins (leaving another aggregate first); the aggregate's link follows", aggJoin},
        {"agg", "leave", "agg leave <port>", "the port leaves its aggregate; the aggregate's link follows", aggLeave},
        {"link", "up", "link up <port>", "link up of an active port (and of its aggregate if that changes)",
         [](Context& c, const Words& w) { return linkState(c, w, true); }},
        {"link", "down", "link down <port>", "link down of a port (and of its aggregate if that changes)",
         [](Context& c, const Words& w) { return linkState(c, w, false); }},
        {"if", "active", "if active <interface>", "an inactive interface becomes active (its link stays down)",
         ifActive},
        {"if", "inactive", "if inactive <interface> [--discard]",
         "link down, then inactive with the configuration parked (or discarded)", ifInactive},
        {"if", "delete", "if delete <interface>",
         "members leave, inactive (discarding) if active, then deleted", ifDelete},
        {"vlan", "access", "vlan access <interface> <pvid>",
         "access port of one VLAN: VLAN deleted for those lost, VLAN added for those gained", vlanAccess},
        {"vlan", "trunk", "vlan trunk <interface> <vlans like 10,20,100-110|none>",
         "trunk carrying exactly these VLANs: deleted for those lost, added for those gained", vlanTrunk},
        {"vlan", "add", "vlan add <interface> <vlans>", "the interface carries these VLANs too (as a trunk)",
         [](Context& c, const Words& w) { return vlanChange(c, w, true); }},
        {"vlan", "del", "vlan del <interface> <vlans>", "the interface no longer carries these VLANs",
         [](Context& c, const Words& w) { return vlanChange(c, w, false); }},
        {"vlan", "max", "vlan max <highest VLAN ID>", "the highest VLAN ID (default 4094)", vlanMax},
        {"stp", "state", "stp state <interface> <vlans> forwarding|discarding|learning",
         "spanning-tree state per VLAN (no event; forwarding unless set)", stpState},
        {"stp", "tc", "stp tc [--vlans <vlans|none>] [--ifs <interfaces|none>]",
         "one topology change notification; without an option: all VLANs, all interfaces", stpTc},
        {"service", "down", "service down ifm|vlan|l2vpn|stp|packet",
         "the service goes away: its descriptors hang up, its registrations end",
         [](Context& c, const Words& w) { return serviceState(c, w, false); }},
        {"service", "up", "service up ifm|vlan|l2vpn|stp|packet", "the service is back: registration works again",
         [](Context& c, const Words& w) { return serviceState(c, w, true); }},
    };
}

}  // namespace simcmd
