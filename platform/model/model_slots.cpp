// Slots and boards.
#include <stdexcept>

#include "platform/model/switch_model.h"

namespace sim {

void SwitchModel::setSlotRange(uint16_t min, uint16_t max)
{
    if (min > max || (!slots_.empty() && (slots_.begin()->first < min || slots_.rbegin()->first > max)))
        throw std::invalid_argument("slot range does not hold the configured slots");
    range_ = SlotRange{min, max};
}

void SwitchModel::addSlot(uint16_t slot, SlotOpts opts)
{
    if (slot < range_.min || slot > range_.max) throw std::invalid_argument("slot outside the slot range");
    if (slots_.count(slot) != 0) throw std::invalid_argument("slot already configured");
    slots_[slot] = Slot{slot, opts.present, opts.normal, opts.minm};
    if (opts.present) emit(Event{.kind = EventKind::Slot, .code = IF_EVT_SLOT_INSERT, .items = {slot}});
}

void SwitchModel::insertBoard(uint16_t slot)
{
    Slot& s = slotRef(slot);
    if (s.present) return;
    s.present = true;
    emit(Event{.kind = EventKind::Slot, .code = IF_EVT_SLOT_INSERT, .items = {slot}});
    std::vector<uint32_t> ports;
    for (auto& [ifIndex, ifc] : ifs_) {
        if (ifc.isAggregate() || ifc.slot != slot) continue;
        ifc.present = ifc.active = true;
        ports.push_back(ifIndex);
    }
    emitList(EventKind::Interface, IF_EVT_ACTIVE, ports);
}

void SwitchModel::removeBoard(uint16_t slot)
{
    Slot& s = slotRef(slot);
    if (!s.present) return;
    std::vector<uint32_t> active;
    for (auto& [ifIndex, ifc] : ifs_)
        if (!ifc.isAggregate() && ifc.slot == slot && ifc.active) active.push_back(ifIndex);
    takeDown(active, IF_INACTIVE_PARK);
    for (auto& [ifIndex, ifc] : ifs_)
        if (!ifc.isAggregate() && ifc.slot == slot) ifc.present = false;
    s.present = false;
    emit(Event{.kind = EventKind::Slot, .code = IF_EVT_SLOT_REMOVE, .items = {slot}});
}

void SwitchModel::setSlotNormal(uint16_t slot, bool normal) { slotRef(slot).normal = normal; }

const Slot* SwitchModel::findSlot(uint16_t slot) const
{
    auto it = slots_.find(slot);
    return it == slots_.end() ? nullptr : &it->second;
}

Slot& SwitchModel::slotRef(uint16_t slot)
{
    auto it = slots_.find(slot);
    if (it == slots_.end()) throw std::invalid_argument("slot not configured");
    return it->second;
}

}  // namespace sim
