// Interfaces, aggregates and links.
#include <algorithm>
#include <stdexcept>

#include "platform/model/switch_model.h"

namespace sim {

namespace {

void checkName(const std::string& name)
{
    if (name.empty() || name.size() >= IF_NAME_BUF_LEN) throw std::invalid_argument("interface name length");
}

}  // namespace

uint32_t SwitchModel::addPort(const std::string& name, uint16_t slot, PortOpts opts)
{
    checkName(name);
    if (ifIndexByName(name) != 0) throw std::invalid_argument("interface name in use");
    if (opts.type == IF_TYPE_AGG) throw std::invalid_argument("use addAggregate");
    const Slot& s = slotRef(slot);
    uint32_t ifIndex = opts.ifIndex != 0 ? opts.ifIndex : nextIfIndex_;
    if (ifs_.count(ifIndex) != 0) throw std::invalid_argument("ifIndex in use");
    nextIfIndex_ = std::max(nextIfIndex_, ifIndex + 1);
    Interface& ifc = ifs_[ifIndex];
    ifc = Interface{.ifIndex = ifIndex, .name = name, .type = opts.type, .slot = slot};
    ifc.present = ifc.active = s.present;
    if (ifc.active) {
        emitList(EventKind::Interface, IF_EVT_ACTIVE, {ifIndex});
        if (opts.linkUp) setLink(ifIndex, true);
    }
    return ifIndex;
}

uint32_t SwitchModel::addAggregate(const std::string& name, uint32_t ifIndex)
{
    checkName(name);
    if (ifIndexByName(name) != 0) throw std::invalid_argument("interface name in use");
    if (ifIndex == 0) ifIndex = nextIfIndex_;
    if (ifs_.count(ifIndex) != 0) throw std::invalid_argument("ifIndex in use");
    nextIfIndex_ = std::max(nextIfIndex_, ifIndex + 1);
    Interface& ifc = ifs_[ifIndex];
    ifc = Interface{.ifIndex = ifIndex, .name = name, .type = IF_TYPE_AGG};
    emitList(EventKind::Interface, IF_EVT_ACTIVE, {ifIndex});
    return ifIndex;
}

void SwitchModel::joinAggregate(uint32_t aggIfIndex, uint32_t portIfIndex)
{
    Interface& agg = iface(aggIfIndex);
    Interface& port = iface(portIfIndex);
    if (!agg.isAggregate() || port.isAggregate()) throw std::invalid_argument("join needs an aggregate and a port");
    if (port.aggregate == aggIfIndex) return;
    if (port.aggregate != 0) leaveAggregate(portIfIndex);
    agg.members.push_back(portIfIndex);
    port.aggregate = aggIfIndex;
    emitList(EventKind::Interface, IF_EVT_AGG_JOIN, {portIfIndex}, aggIfIndex);
    updateAggregateLink(aggIfIndex);
}

void SwitchModel::leaveAggregate(uint32_t portIfIndex)
{
    Interface& port = iface(portIfIndex);
    if (port.aggregate == 0) return;
    uint32_t aggIfIndex = port.aggregate;
    std::erase(iface(aggIfIndex).members, portIfIndex);
    port.aggregate = 0;
    emitList(EventKind::Interface, IF_EVT_AGG_LEAVE, {portIfIndex}, aggIfIndex);
    updateAggregateLink(aggIfIndex);
}

void SwitchModel::setLink(uint32_t portIfIndex, bool up)
{
    Interface& port = iface(portIfIndex);
    if (port.isAggregate()) throw std::invalid_argument("an aggregate's link follows its members");
    if (!port.active) throw std::invalid_argument("link of an inactive interface");
    if (port.linkUp == up) return;
    port.linkUp = up;
    emitList(EventKind::Link, up ? IF_EVT_LINK_UP : IF_EVT_LINK_DOWN, {portIfIndex});
    if (port.aggregate != 0) updateAggregateLink(port.aggregate);
}

void SwitchModel::deactivate(uint32_t ifIndex, uint32_t dataWord)
{
    Interface& ifc = iface(ifIndex);
    if (ifc.active) takeDown({ifIndex}, dataWord);
}

void SwitchModel::activate(uint32_t ifIndex)
{
    Interface& ifc = iface(ifIndex);
    if (ifc.active) return;
    if (!ifc.present) throw std::invalid_argument("a temporary interface cannot become active");
    ifc.active = true;
    emitList(EventKind::Interface, IF_EVT_ACTIVE, {ifIndex});
}

void SwitchModel::deleteInterface(uint32_t ifIndex)
{
    Interface& ifc = iface(ifIndex);
    if (ifc.isAggregate())
        while (!ifc.members.empty()) leaveAggregate(ifc.members.front());
    else
        leaveAggregate(ifIndex);
    if (ifc.active) takeDown({ifIndex}, 0);
    emitList(EventKind::Interface, IF_EVT_DELETE, {ifIndex});
    lastIf_ = {};
    ifs_.erase(ifIndex);
    bridge_.detach(ifIndex);
}

void SwitchModel::takeDown(const std::vector<uint32_t>& ifIndexes, uint32_t dataWord)
{
    std::vector<uint32_t> wentDown;
    std::set<uint32_t> aggregates;
    for (uint32_t i : ifIndexes) {
        Interface& ifc = iface(i);
        if (ifc.isAggregate() || !ifc.linkUp) continue;
        ifc.linkUp = false;
        wentDown.push_back(i);
        if (ifc.aggregate != 0) aggregates.insert(ifc.aggregate);
    }
    emitList(EventKind::Link, IF_EVT_LINK_DOWN, wentDown);
    for (uint32_t a : aggregates) updateAggregateLink(a);
    for (uint32_t i : ifIndexes) iface(i).active = false;
    emitList(EventKind::Interface, IF_EVT_INACTIVE, ifIndexes, dataWord);
}

void SwitchModel::updateAggregateLink(uint32_t aggIfIndex)
{
    Interface& agg = iface(aggIfIndex);
    bool up = std::any_of(agg.members.begin(), agg.members.end(),
                          [this](uint32_t m) { return iface(m).linkUp; });
    if (agg.linkUp == up) return;
    agg.linkUp = up;
    emitList(EventKind::Link, up ? IF_EVT_LINK_UP : IF_EVT_LINK_DOWN, {aggIfIndex});
}

const Interface* SwitchModel::findIf(uint32_t ifIndex) const
{
    if (lastIf_.ifc != nullptr && lastIf_.ifIndex == ifIndex) return lastIf_.ifc;
    auto it = ifs_.find(ifIndex);
    if (it == ifs_.end()) return nullptr;
    lastIf_.ifIndex = ifIndex;
    lastIf_.ifc = &it->second;
    return lastIf_.ifc;
}

uint32_t SwitchModel::ifIndexByName(std::string_view name) const
{
    for (const auto& [ifIndex, ifc] : ifs_)
        if (ifc.name == name) return ifIndex;
    return 0;
}

Interface& SwitchModel::iface(uint32_t ifIndex)
{
    auto it = ifs_.find(ifIndex);
    if (it == ifs_.end()) throw std::invalid_argument("unknown interface");
    return it->second;
}

}  // namespace sim
