// The show commands: the model and the forwarding table as tables for
// people and as JSON with stable keys for programs.
#include <functional>

#include "platform/ifm.h"
#include "tools/simcmd/command.h"
#include "tools/simcmd/frames.h"
#include "tools/simcmd/names.h"
#include "tools/simcmd/table.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;
using J = nlohmann::json;

struct View {
    std::string text;
    J json;
};

std::string yesNo(bool b) { return b ? "yes" : "no"; }

std::string names(const sim::SwitchModel& m, const std::vector<uint32_t>& ifs)
{
    std::string s;
    for (uint32_t i : ifs) s += (s.empty() ? "" : ",") + ifLabel(m, i);
    return s.empty() ? "-" : s;
}

J optIf(uint32_t ifIndex) { return ifIndex == 0 ? J(nullptr) : J(ifIndex); }

View slots(const sim::SwitchModel& m)
{
    sim::SlotRange r = m.slotRange();
    J list = J::array();
    Table t({"SLOT", "BOARD", "STATUS", "MAC-IN-MAC", "PORTS"});
    for (const auto& [n, s] : m.slots()) {
        std::vector<uint32_t> ports;
        for (const auto& [i, ifc] : m.interfaces())
            if (!ifc.isAggregate() && ifc.slot == n) ports.push_back(i);
        list.push_back({{"slot", n}, {"present", s.present}, {"normal", s.normal}, {"minm", s.minm}, {"ports", ports}});
        t.row({std::to_string(n), s.present ? "in" : "out", s.normal ? "normal" : "faulty", yesNo(s.minm),
               names(m, ports)});
    }
    return {"slot range " + std::to_string(r.min) + " to " + std::to_string(r.max) + "\n" + t.str(),
            {{"range", {{"min", r.min}, {"max", r.max}}}, {"slots", list}}};
}

View interfaces(const sim::SwitchModel& m)
{
    J list = J::array();
    Table t({"IFINDEX", "NAME", "TYPE", "SLOT", "PRESENT", "ACTIVE", "LINK", "AGGREGATE", "MEMBERS", "PBB"});
    for (const auto& [i, ifc] : m.interfaces()) {
        bool agg = ifc.isAggregate();
        list.push_back({{"ifIndex", i},
                        {"name", ifc.name},
                        {"type", ifc.type},
                        {"typeName", portTypeName(ifc.type)},
                        {"slot", agg ? J(nullptr) : J(ifc.slot)},
                        {"present", ifc.present},
                        {"active", ifc.active},
                        {"linkUp", ifc.linkUp},
                        {"aggregate", optIf(ifc.aggregate)},
                        {"members", ifc.members},
                        {"pbb", m.pbbMode(i)}});
        t.row({std::to_string(i), ifc.name, portTypeName(ifc.type), agg ? "-" : std::to_string(ifc.slot),
               yesNo(ifc.present), yesNo(ifc.active), ifc.linkUp ? "up" : "down",
               ifc.aggregate ? ifLabel(m, ifc.aggregate) : "-", agg ? names(m, ifc.members) : "-",
               yesNo(m.pbbMode(i))});
    }
    return {t.str(), {{"interfaces", list}}};
}

View vlans(const sim::SwitchModel& m)
{
    J list = J::array();
    Table t({"IFINDEX", "NAME", "MODE", "PVID", "VLANS"});
    for (const auto& [i, ifc] : m.interfaces()) {
        bool access = ifc.linkType == VLAN_LINK_ACCESS;
        list.push_back({{"ifIndex", i},
                        {"name", ifc.name},
                        {"linkType", access ? "access" : "trunk"},
                        {"pvid", ifc.pvid},
                        {"vlans", ifc.vlans}});
        t.row({std::to_string(i), ifc.name, access ? "access" : "trunk", access ? std::to_string(ifc.pvid) : "-",
               formatVlanList(ifc.vlans)});
    }
    return {"highest VLAN ID " + std::to_string(m.maxVlanId()) + "\n" + t.str(),
            {{"maxVlanId", m.maxVlanId()}, {"interfaces", list}}};
}

View stp(const sim::SwitchModel& m)
{
    J list = J::array();
    Table t({"IFINDEX", "NAME", "STATE", "VLANS"});
    for (const auto& [i, ifc] : m.interfaces()) {
        if (ifc.stp.empty()) continue;
        J states = J::array();
        std::map<uint16_t, std::set<uint16_t>> byState;
        for (const auto& [vlan, st] : ifc.stp) {
            states.push_back({{"vlan", vlan}, {"state", stpStateName(st)}});
            byState[st].insert(vlan);
        }
        for (const auto& [st, vl] : byState) t.row({std::to_string(i), ifc.name, stpStateName(st), formatVlanList(vl)});
        list.push_back({{"ifIndex", i}, {"name", ifc.name}, {"states", states}});
    }
    return {"every other interface and VLAN: forwarding\n" + t.str(), {{"interfaces", list}}};
}

View vsis(const sim::SwitchModel& m)
{
    J list = J::array();
    Table t({"INDEX", "NAME", "I-SID", "STATE", "ENCAP"});
    for (const auto& [i, v] : m.vsis()) {
        list.push_back({{"index", i}, {"name", v.name}, {"isid", v.isid}, {"down", v.down}, {"encap", m.encapType(i)}});
        t.row({std::to_string(i), v.name, v.isid ? std::to_string(v.isid) : "-", v.down ? "down" : "up",
               std::to_string(m.encapType(i))});
    }
    sim::FibSpec s = m.fibSpec();
    std::string head = "VSI count " + std::to_string(m.maxVsiNum()) + "; unicast entries " +
                       std::to_string(s.maxPwNum) + " in all, " + std::to_string(s.maxPwPerVsi) + " per VSI, " +
                       (s.shareVsi ? "shared" : "not shared") + "\n";
    return {head + t.str(),
            {{"maxVsiNum", m.maxVsiNum()},
             {"limits", {{"total", s.maxPwNum}, {"perVsi", s.maxPwPerVsi}, {"shared", s.shareVsi}}},
             {"vsis", list}}};
}

View unicast(const sim::SwitchModel& m, bool staged, std::optional<uint32_t> vsi)
{
    const auto& tables = staged ? m.fib().working() : m.fib().committed();
    J list = J::array();
    Table t({"VSI", "I-SID", "B-MAC", "C-MAC", "B-VLAN", "PORT", "FLAGS"});
    for (const auto& [key, e] : tables.uc) {
        if (vsi && e.vsi != *vsi) continue;
        list.push_back({{"vsi", e.vsi},
                        {"isid", e.isid},
                        {"bmac", formatMac(e.bmac)},
                        {"cmac", formatMac(e.cmac)},
                        {"bvlan", e.bvlan},
                        {"port", e.port},
                        {"portName", ifLabel(m, e.port)},
                        {"flags", e.flags}});
        t.row({std::to_string(e.vsi), std::to_string(e.isid), formatMac(e.bmac), formatMac(e.cmac),
               std::to_string(e.bvlan), ifLabel(m, e.port), std::to_string(e.flags)});
    }
    std::string head = std::string(staged ? "staged" : "committed") + " unicast entries: " +
                       std::to_string(list.size()) + "\n";
    return {head + t.str(), {{"table", staged ? "staged" : "committed"}, {"unicast", list}}};
}

View multicast(const sim::SwitchModel& m, bool staged, std::optional<uint32_t> vsi)
{
    const auto& tables = staged ? m.fib().working() : m.fib().committed();
    J list = J::array();
    Table t({"VSI", "I-SID", "GROUP", "B-VLAN", "PORTS"});
    for (const auto& [v, e] : tables.mc) {
        if (vsi && v != *vsi) continue;
        J portNames = J::array();
        for (uint32_t p : e.ports) portNames.push_back(ifLabel(m, p));
        list.push_back({{"vsi", e.vsi},
                        {"isid", e.isid},
                        {"group", formatMac(e.group)},
                        {"bvlan", e.bvlan},
                        {"ports", e.ports},
                        {"portNames", portNames}});
        t.row({std::to_string(e.vsi), std::to_string(e.isid), formatMac(e.group), std::to_string(e.bvlan),
               names(m, e.ports)});
    }
    std::string head = std::string(staged ? "staged" : "committed") + " multicast entries: " +
                       std::to_string(list.size()) + "\n";
    return {head + t.str(), {{"table", staged ? "staged" : "committed"}, {"multicast", list}}};
}

View pbbPorts(const sim::SwitchModel& m)
{
    J list = J::array();
    Table t({"IFINDEX", "NAME"});
    for (uint32_t i : m.fib().pbbPorts()) {
        list.push_back({{"ifIndex", i}, {"name", ifLabel(m, i)}});
        t.row({std::to_string(i), ifLabel(m, i)});
    }
    return {"ports in PBB mode\n" + t.str(), {{"pbbPorts", list}}};
}

View encap(const sim::SwitchModel& m)
{
    J list = J::array();
    Table t({"VSI", "NAME", "ENCAP"});
    for (const auto& [i, v] : m.vsis()) {
        list.push_back({{"vsi", i}, {"name", v.name}, {"type", m.encapType(i)}});
        t.row({std::to_string(i), v.name, std::to_string(m.encapType(i))});
    }
    return {"encapsulation type per VSI (" + std::to_string(L2VPN_ENCAP_DEFAULT) + " unless programmed)\n" + t.str(),
            {{"encap", list}}};
}

View acks(const sim::SwitchModel& m)
{
    J list = J::array();
    Table t({"SERVICE", "HANDLE", "CODE", "CONTEXT", "ITEMS"});
    for (const sim::Ack& a : m.acks()) {
        list.push_back({{"service", serviceName(a.service)},
                        {"handle", a.handle},
                        {"code", a.code},
                        {"context", a.context},
                        {"items", a.items}});
        std::string items;
        for (uint32_t i : a.items) items += (items.empty() ? "" : ",") + std::to_string(i);
        t.row({serviceName(a.service), std::to_string(a.handle), std::to_string(a.code), std::to_string(a.context),
               items.empty() ? "-" : items});
    }
    return {"acknowledgements received: " + std::to_string(list.size()) + "\n" + t.str(), {{"acks", list}}};
}

View services(const sim::SwitchModel& m)
{
    J obj = J::object();
    Table t({"SERVICE", "STATE"});
    for (sim::Service s : {sim::Service::Ifm, sim::Service::Vlan, sim::Service::L2vpn, sim::Service::Sti,
                           sim::Service::Packet}) {
        obj[serviceName(s)] = m.serviceUp(s);
        t.row({serviceName(s), m.serviceUp(s) ? "up" : "down"});
    }
    return {t.str(), {{"services", obj}}};
}

View config(const sim::SwitchModel& m)
{
    std::vector<std::string> lines = configLines(m);
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return {text, {{"lines", lines}}};
}

std::string statsText(const J& j)
{
    Table t({"ITEM", "VALUE"});
    for (const auto& [k, v] : j.items()) t.row({k, v.is_string() ? v.get<std::string>() : v.dump()});
    return t.str();
}

Outcome showOne(Context& c, const Words& w, const std::string& what)
{
    const sim::SwitchModel& m = c.model;
    bool fibView = what == "unicast" || what == "multicast";
    std::map<std::string, bool> opts;
    if (fibView) opts = {{"--staged", false}, {"--vsi", true}};
    Args a(w, 2, fibView ? "show " + what + " [--staged] [--vsi V]" : "show " + what, opts);
    a.expect(0);
    std::optional<uint32_t> vsi;
    if (auto v = a.value("--vsi")) vsi = resolveVsi(m, *v);
    View v;
    if (what == "slots") v = slots(m);
    else if (what == "interfaces") v = interfaces(m);
    else if (what == "vlans") v = vlans(m);
    else if (what == "stp") v = stp(m);
    else if (what == "vsis") v = vsis(m);
    else if (what == "unicast") v = unicast(m, a.flag("--staged"), vsi);
    else if (what == "multicast") v = multicast(m, a.flag("--staged"), vsi);
    else if (what == "pbb-ports") v = pbbPorts(m);
    else if (what == "encap") v = encap(m);
    else if (what == "acks") v = acks(m);
    else if (what == "services") v = services(m);
    else if (what == "config") v = config(m);
    else if (what == "stats") {
        J j = c.needHost("show stats").stats();
        v = {statsText(j), j};
    }
    return shown(c, v.text, v.json);
}

Outcome showAll(Context& c, const Words& w)
{
    Args a(w, 2, "show all");
    a.expect(0);
    const sim::SwitchModel& m = c.model;
    std::vector<std::pair<std::string, View>> parts = {
        {"slots", slots(m)},         {"interfaces", interfaces(m)},
        {"vlans", vlans(m)},         {"stp", stp(m)},
        {"vsis", vsis(m)},           {"unicast", unicast(m, false, std::nullopt)},
        {"multicast", multicast(m, false, std::nullopt)}, {"pbb-ports", pbbPorts(m)},
        {"services", services(m)},
    };
    if (c.host != nullptr) {
        J j = c.host->stats();
        parts.push_back({"stats", {statsText(j), j}});
    }
    std::string text;
    J j = J::object();
    for (auto& [name, v] : parts) {
        text += (text.empty() ? "" : "\n") + std::string("== ") + name + " ==\n" + v.text;
        j[name] = v.json;
    }
    return shown(c, text, j);
}

}  // namespace

std::vector<CommandSpec> showCommands()
{
    std::vector<CommandSpec> out;
    const std::vector<std::pair<std::string, std::string>> parts = {
        {"slots", "slots, their boards and ports"},
        {"interfaces", "ports and aggregates: state, link, membership, PBB mode"},
        {"vlans", "VLAN mode and VLANs per interface"},
        {"stp", "spanning-tree states that are not forwarding or were set"},
        {"vsis", "VSIs, their I-SIDs, state and encapsulation type; VSI and entry limits"},
        {"unicast", "unicast forwarding entries (committed, or --staged)"},
        {"multicast", "multicast forwarding entries and their ports (committed, or --staged)"},
        {"pbb-ports", "ports in PBB mode"},
        {"encap", "encapsulation type per VSI"},
        {"acks", "acknowledgements the switch received"},
        {"services", "which services are up"},
        {"config", "the switch's configuration as commands (a topology file)"},
        {"stats", "the simulator: daemon connected, frames, calls served"},
    };
    for (const auto& [what, summary] : parts) {
        bool fibView = what == "unicast" || what == "multicast";
        out.push_back({"show", what, "show " + what + (fibView ? " [--staged] [--vsi V]" : ""), summary,
                       [what = what](Context& c, const Words& w) { return showOne(c, w, what); }});
    }
    out.push_back({"show", "all", "show all", "everything above but acks, encap and config", showAll});
    return out;
}

}  // namespace simcmd
