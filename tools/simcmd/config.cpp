// The switch's configuration written back as commands, in an order that
// rebuilds the same configuration when run on a fresh switch.
#include "platform/ifm.h"
#include "tools/simcmd/command.h"
#include "tools/simcmd/names.h"

namespace simcmd {

namespace {

// A word as split() reads it back.
std::string word(const std::string& w)
{
    bool plain = !w.empty() && w.find_first_of(" \t\"'#") == std::string::npos;
    if (plain) return w;
    char quote = w.find('"') == std::string::npos ? '"' : '\'';
    return quote + w + quote;
}

}  // namespace

std::vector<std::string> configLines(const sim::SwitchModel& m)
{
    std::vector<std::string> out;
    const sim::SlotRange defRange;
    sim::SlotRange r = m.slotRange();
    if (r.min != defRange.min || r.max != defRange.max)
        out.push_back("slot range " + std::to_string(r.min) + " " + std::to_string(r.max));
    if (m.maxVlanId() != 4094) out.push_back("vlan max " + std::to_string(m.maxVlanId()));
    if (m.maxVsiNum() != 1024) out.push_back("l2vpn max-vsi " + std::to_string(m.maxVsiNum()));
    const sim::FibSpec defSpec;
    sim::FibSpec s = m.fibSpec();
    if (s.maxPwNum != defSpec.maxPwNum || s.maxPwPerVsi != defSpec.maxPwPerVsi || s.shareVsi != defSpec.shareVsi)
        out.push_back("l2vpn limits --total " + std::to_string(s.maxPwNum) + " --per-vsi " +
                      std::to_string(s.maxPwPerVsi) + " --shared " + (s.shareVsi ? "on" : "off"));

    for (const auto& [n, slot] : m.slots())
        out.push_back("slot add " + std::to_string(n) + (slot.minm ? " --minm" : "") + (slot.present ? "" : " --absent") +
                      (slot.normal ? "" : " --fault"));

    for (const auto& [i, ifc] : m.interfaces()) {
        std::string idx = " --ifindex " + std::to_string(i);
        if (ifc.isAggregate())
            out.push_back("agg add " + word(ifc.name) + idx);
        else
            out.push_back("port add " + word(ifc.name) + " " + std::to_string(ifc.slot) + " --type " +
                          portTypeName(ifc.type) + idx + (ifc.linkUp || !ifc.active ? "" : " --down"));
    }
    for (const auto& [i, ifc] : m.interfaces())
        for (uint32_t member : ifc.members) out.push_back("agg join " + word(ifc.name) + " " + word(ifLabel(m, member)));
    for (const auto& [i, ifc] : m.interfaces())
        if (ifc.present && !ifc.active) out.push_back("if inactive " + word(ifc.name));

    for (const auto& [i, ifc] : m.interfaces()) {
        if (ifc.linkType == VLAN_LINK_ACCESS) {
            if (ifc.pvid != 1 || ifc.vlans != std::set<uint16_t>{1})
                out.push_back("vlan access " + word(ifc.name) + " " + std::to_string(ifc.pvid));
        } else {
            out.push_back("vlan trunk " + word(ifc.name) + " " + formatVlanList(ifc.vlans));
        }
    }
    for (const auto& [i, ifc] : m.interfaces()) {
        std::map<uint16_t, std::set<uint16_t>> byState;
        for (const auto& [vlan, st] : ifc.stp) byState[st].insert(vlan);
        for (const auto& [st, vlans] : byState)
            out.push_back("stp state " + word(ifc.name) + " " + formatVlanList(vlans) + " " + stpStateName(st));
    }

    for (const auto& [i, v] : m.vsis())
        out.push_back("vsi add " + std::to_string(i) + " " + word(v.name) + " " + std::to_string(v.isid) +
                      (v.down ? " --down" : ""));

    for (std::string& l : bridgeConfigLines(m)) out.push_back(std::move(l));
    for (sim::Service sv : {sim::Service::Ifm, sim::Service::Vlan, sim::Service::L2vpn, sim::Service::Sti,
                            sim::Service::Packet})
        if (!m.serviceUp(sv)) out.push_back("service down " + serviceName(sv));
    return out;
}

}  // namespace simcmd
