// VLAN membership, spanning-tree state and topology changes.
#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "platform/model/switch_model.h"

namespace sim {

void SwitchModel::setMaxVlanId(uint16_t maxVlanId)
{
    if (maxVlanId == 0 || maxVlanId >= VLAN_ID_SET) throw std::invalid_argument("highest VLAN ID");
    maxVlanId_ = maxVlanId;
}

void SwitchModel::setAccess(uint32_t ifIndex, uint16_t pvid)
{
    if (pvid == 0 || pvid > maxVlanId_) throw std::invalid_argument("VLAN ID out of range");
    Interface& ifc = iface(ifIndex);
    std::set<uint16_t> before = ifc.vlans;
    ifc.linkType = VLAN_LINK_ACCESS;
    ifc.pvid = pvid;
    ifc.vlans = {pvid};
    emitVlanChange(ifIndex, before, ifc.vlans);
}

void SwitchModel::setVlans(uint32_t ifIndex, const std::set<uint16_t>& vlans)
{
    if (!vlans.empty() && (*vlans.begin() == 0 || *vlans.rbegin() > maxVlanId_))
        throw std::invalid_argument("VLAN ID out of range");
    Interface& ifc = iface(ifIndex);
    std::set<uint16_t> before = ifc.vlans;
    ifc.linkType = VLAN_LINK_TRUNK;
    ifc.vlans = vlans;
    emitVlanChange(ifIndex, before, ifc.vlans);
}

void SwitchModel::emitVlanChange(uint32_t ifIndex, const std::set<uint16_t>& before, const std::set<uint16_t>& after)
{
    auto send = [&](uint32_t kind, const std::vector<uint16_t>& vlans) {
        if (vlans.empty()) return;
        emit(Event{.kind = EventKind::Vlan, .code = kind, .data = ifIndex, .vlans = vlans, .vlanSet = vlans.size() > 1});
    };
    std::vector<uint16_t> lost, gained;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(lost));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(gained));
    send(VLAN_EVT_DELETED, lost);
    send(VLAN_EVT_ADDED, gained);
}

void SwitchModel::setStpState(uint32_t ifIndex, uint16_t vlan, uint16_t state)
{
    if (vlan == 0 || vlan > maxVlanId_) throw std::invalid_argument("VLAN ID out of range");
    iface(ifIndex).stp[vlan] = state;
}

void SwitchModel::topologyChange(std::optional<std::vector<uint16_t>> vlans,
                                 std::optional<std::vector<uint32_t>> ifIndexes)
{
    Event ev{.kind = EventKind::Tc, .hasItems = ifIndexes.has_value(), .vlanSet = vlans.has_value()};
    if (ifIndexes) ev.items = std::move(*ifIndexes);
    if (vlans) ev.vlans = std::move(*vlans);
    emit(std::move(ev));
}

}  // namespace sim
